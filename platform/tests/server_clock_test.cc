// The process clock's routines: local time text, the time mode and version
// texts read from the environment (each in a fresh process), environment
// reading, the database home lookup and sleeping.
#include "platform/server_clock.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "platform/host_services.h"
#include "platform/time_sim.h"

namespace {

// Sets (or with nullopt unsets) a variable for a scope, then puts it back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

std::string local_text() {
  char t[16];
  mdr_local_time_text(t);
  return std::string(t, 16);
}

// The bounds are read from the same clock as the text: time() reads a coarse
// clock that can still show the previous second after the fine one turned.
time_t realtime_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return ts.tv_sec;
}

TEST(ServerClock, LocalTimeTextIsTheLocalTime) {
  time_t before = realtime_seconds();
  std::string text = local_text();
  time_t after = realtime_seconds();
  ASSERT_EQ(text.find_first_not_of("0123456789"), std::string::npos) << text;
  auto stamp = [](time_t t) {
    tm l{};
    localtime_r(&t, &l);
    char b[40];
    snprintf(b, sizeof b, "%04d%02d%02d%02d%02d%02d", l.tm_year + 1900, l.tm_mon + 1, l.tm_mday,
             l.tm_hour, l.tm_min, l.tm_sec);
    return std::string(b);
  };
  EXPECT_LE(stamp(before), text.substr(0, 14));
  EXPECT_GE(stamp(after), text.substr(0, 14));
}

TEST(ServerClock, ReadingWithoutSimulationIsTheLocalTime) {
  int32_t flag = -1;
  TMBED0(&flag);
  if (flag != 0) GTEST_SKIP() << "time simulation is on in this environment";
  std::string a = local_text();
  char b[16];
  MDRPDT(b);
  std::string c = local_text();
  EXPECT_LE(a, std::string(b, 16));
  EXPECT_GE(c, std::string(b, 16));
}

// The process reads the time mode once, so each setting is tried in a fresh
// process of its own (a death test of the "threadsafe" style runs the test
// program anew). There the report, one item per entry, is the TMBED0 flag,
// two MDRPDT readings and the version texts of kinds 2 and 3; or, when the
// start ends, "reason N" and the line written. A report that matches `want`
// (empty: any) exits 0; else it is printed and the exit code is 1.
using Env = std::vector<std::pair<const char*, const char*>>;

std::vector<std::string> process_clock_report(const Env& env) {
  for (const char* name :
       {"ZAVOR_TM_MODE", "ZAVOR_TM_STARTTIME", "ZAVOR_TM_INCSEC", "ZAVOR_TM_VERSION"})
    unsetenv(name);
  for (const auto& [name, value] : env) setenv(name, value, 1);
  struct Lines : HostServices {
    std::string text;
    void write_line(const char* t, int length) override { text.assign(t, length); }
  } lines;
  InstallHostServices(&lines);
  std::vector<std::string> report;
  try {
    int32_t flag = -1;
    TMBED0(&flag);
    report.push_back(std::to_string(flag));
    for (int i = 0; i < 2; ++i) {
      char t[16];
      MDRPDT(t);
      report.emplace_back(t, 16);
    }
    for (int32_t kind : {2, 3}) {
      char v[80];
      int32_t length = sizeof v;
      version_text(kind, v, &length);
      report.emplace_back(v, static_cast<size_t>(length));
    }
  } catch (const ServerException& e) {
    report = {"reason " + std::to_string(e.reason()), lines.text};
  }
  InstallHostServices(nullptr);
  return report;
}

[[noreturn]] void exit_with_report(const Env& env, const std::vector<std::string>& want,
                                   bool simulated) {
  std::vector<std::string> got = process_clock_report(env);
  bool ok = want.empty() ? got.size() == 5 && got[0] == (simulated ? "1" : "0") &&
                               (got[1].substr(0, 8) == "19901224") == simulated &&
                               got[3] == "9.1.3C" && got[4] == "9.1.3C Feb 10 2003"
                         : got == want;
  if (!ok)
    for (const std::string& item : got) fprintf(stderr, "[%s]\n", item.c_str());
  _exit(ok ? 0 : 1);
}

TEST(ServerClock, ProcessClockFollowsTheEnvironment) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  struct Case {
    Env env;
    std::vector<std::string> report;
  };
  const std::string sim2 = "8.X.YA", sim3 = "8.X.YA Dec 24 1997 TM mode";
  const Case cases[] = {
      {{{"ZAVOR_TM_MODE", "record"}}, {"1", "1990122415000000", "1990122415000001", sim2, sim3}},
      {{{"ZAVOR_TM_MODE", "PlayBack"}, {"ZAVOR_TM_INCSEC", "1"}},
       {"1", "1990122415000000", "1990122415000100", sim2, sim3}},
      {{{"ZAVOR_TM_MODE", "TIMMOD"},
        {"ZAVOR_TM_STARTTIME", "23595999"},
        {"ZAVOR_TM_VERSION", "7.2.1B"}},
       {"1", "1990122423595999", "1990122500000000", "7.2.1B", "7.2.1B Dec 24 1997 TM mode"}},
      {{{"ZAVOR_TM_MODE", "RECORD"}, {"ZAVOR_TM_STARTTIME", "12ab0000"}},
       {"reason 2", "TMBED0: Error parsing ZAVOR_TM_STARTTIME (wrong format)"}},
  };
  for (const Case& c : cases)
    EXPECT_EXIT(exit_with_report(c.env, c.report, true), testing::ExitedWithCode(0), "")
        << c.env[0].second;
  // Off: the real clock and the build's own version, whatever the version
  // variable says.
  for (const Env& env : {Env{{"ZAVOR_TM_MODE", "Normal"}, {"ZAVOR_TM_VERSION", "7.2.1B"}},
                         Env{{"ZAVOR_TM_MODE", "bogus"}}, Env{}})
    EXPECT_EXIT(exit_with_report(env, {}, false), testing::ExitedWithCode(0), "");
}

// Only the lower bound is certain: a sleep never ends early, also when a
// signal cuts the underlying call short.
TEST(ServerClock, SleepLastsAtLeastItsTime) {
  for (int32_t ms : {0, -3, 1, 5, 12}) {
    auto start = std::chrono::steady_clock::now();
    mdr_sleep(ms);
    auto slept = std::chrono::steady_clock::now() - start;
    EXPECT_GE(slept, std::chrono::milliseconds(std::max(ms, 0))) << ms;
  }
}

TEST(ServerClock, VersionTexts) {
  struct Case {
    int32_t kind;
    bool simulating;
    const char* tm_version;
    int32_t room;
    std::string text;
  };
  const Case cases[] = {
      {1, false, nullptr, 80, "V913C"},
      {2, false, nullptr, 80, "9.1.3C"},
      {3, false, nullptr, 80, "9.1.3C Feb 10 2003"},
      {1, true, nullptr, 80, "V913C"},
      {2, true, nullptr, 80, "8.X.YA"},
      {3, true, nullptr, 80, "8.X.YA Dec 24 1997 TM mode"},
      {3, true, "7.0", 80, "7.0 Dec 24 1997 TM mode"},
      {2, true, "7.0", 80, "7.0"},
      {3, false, nullptr, 6, "9.1.3C"},
      {3, false, nullptr, 0, ""},
      {3, false, nullptr, -4, ""},
      {9, false, nullptr, 80, ""},
  };
  for (const Case& c : cases) {
    char buf[100];
    int32_t length = c.room;
    version_text_for(c.kind, c.simulating, c.tm_version, buf, &length);
    EXPECT_EQ(std::string(buf, static_cast<size_t>(length)), c.text) << c.kind;
  }
}

TEST(ServerClock, EnvironmentValues) {
  ScopedEnv a("HB_TEST_ENV_SHORT", "value");
  ScopedEnv b("HB_TEST_ENV_LONG", std::string(100, 'x'));
  ScopedEnv c("HB_TEST_ENV_UNSET", std::nullopt);
  struct Case {
    std::string name;
    int32_t name_length;
    std::string value;
  };
  const std::string long_name(65, 'N');
  const Case cases[] = {
      {"HB_TEST_ENV_SHORT", 17, "value"},
      {"HB_TEST_ENV_SHORTER", 17, "value"},  // the name is its first 17 characters
      {"HB_TEST_ENV_LONG", 16, std::string(64, 'x')},
      {"HB_TEST_ENV_UNSET", 17, ""},
      {"HB_TEST_ENV_SHORT", 0, ""},
      {long_name, 65, ""},
  };
  for (const Case& c : cases) {
    char value[MDR_ENV_VALUE_MAX];
    int32_t length = -1;
    mdr_get_env(value, &length, c.name.c_str(), c.name_length);
    EXPECT_EQ(std::string(value, static_cast<size_t>(length)), c.value) << c.name;
  }
}

TEST(ServerClock, SettingsFromTheEnvironment) {
  ScopedEnv mode("ZAVOR_TM_MODE", "Record");
  ScopedEnv start("ZAVOR_TM_STARTTIME", "23595999");
  ScopedEnv inc("ZAVOR_TM_INCSEC", std::nullopt);
  ScopedEnv version("ZAVOR_TM_VERSION", "6.5");
  TimeSimSettings s = time_sim_settings_from_env();
  EXPECT_EQ(s.mode, "Record");
  EXPECT_EQ(s.start_time, "23595999");
  EXPECT_FALSE(s.inc_sec.has_value());
  EXPECT_EQ(s.version, "6.5");
  SimulatedClock clock(s);
  char t[16];
  clock.read(t);
  EXPECT_EQ(std::string(t, 16), "1990122423595999");
}

TEST(ServerClock, DatabaseHomeRefusesUnknownAndOverlongNames) {
  for (int32_t n : {0, 129, 8}) {
    std::vector<char> text(200, 'd');
    StatusPair st;
    int32_t length = n;
    mdr_database_home(&st, text.data(), &length);
    EXPECT_EQ(st.rc, MDR_NO_DATABASE_DEFINITION);  // the default host defines no database
    EXPECT_EQ(st.os_status, -1);
  }
}

TEST(ServerClock, DatabaseHomeReplacesTheNameByTheDirectory) {
  struct Definitions : HostServices {
    void db_definition_lookup(int32_t* status, char* text, int32_t* length, int32_t) override {
      *status = -1;
      if (std::string(text, static_cast<size_t>(*length)) != "SALES") return;
      static const char kHome[] = "/srv/zavor/sales";
      memcpy(text, kHome, sizeof kHome - 1);
      *length = sizeof kHome - 1;
      *status = 0;
    }
  } definitions;
  HostServices* previous = InstallHostServices(&definitions);
  struct Case {
    std::string name;
    int32_t rc;
    std::string text;
  };
  const Case cases[] = {{"SALES", 0, "/srv/zavor/sales"}, {"STOCK", -21191, "STOCK"}};
  for (const Case& c : cases) {
    std::vector<char> text(DB_HOME_ROOM, ' ');
    memcpy(text.data(), c.name.data(), c.name.size());
    int32_t length = static_cast<int32_t>(c.name.size());
    StatusPair st;
    mdr_database_home(&st, text.data(), &length);
    EXPECT_EQ(st.rc, c.rc) << c.name;
    EXPECT_EQ(st.os_status, -1);
    EXPECT_EQ(std::string(text.data(), static_cast<size_t>(length)), c.text);
  }
  InstallHostServices(previous);
}

}  // namespace
