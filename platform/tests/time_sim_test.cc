// The simulated clock: readings from the settings, the carry rules against
// the standard library's calendar, malformed start times, the end of four
// digit years, and readings from several threads.
#include "platform/time_sim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/host_services.h"

namespace {

std::string read(SimulatedClock& clock) {
  char text[16];
  clock.read(text);
  return std::string(text, 16);
}

struct LineCapture : HostServices {
  std::vector<std::string> lines;
  void write_line(const char* text, int length) override { lines.emplace_back(text, length); }
};

class ScopedLines {
 public:
  ScopedLines() : previous_(InstallHostServices(&capture)) {}
  ~ScopedLines() { InstallHostServices(previous_); }
  LineCapture capture;

 private:
  HostServices* previous_;
};

TEST(TimeSim, ModeFromTheVariable) {
  struct Case {
    std::optional<std::string> value;
    int32_t mode;
  };
  const Case cases[] = {
      {std::nullopt, TM_MODE_OFF}, {"NORMAL", TM_MODE_OFF},     {"normally", TM_MODE_OFF},
      {"record", TM_MODE_RECORD},  {"ReCoRdX", TM_MODE_RECORD}, {"playback", TM_MODE_PLAYBACK},
      {"PLAYBAC", TM_MODE_OFF},    {"timmod", TM_MODE_TIMMOD},  {"", TM_MODE_OFF},
      {"xyz", TM_MODE_OFF},
  };
  for (const Case& c : cases) EXPECT_EQ(time_mode_of(c.value), c.mode) << c.value.value_or("-");
}

TEST(TimeSim, ReadingsFromSettings) {
  struct Case {
    std::optional<std::string> start, inc_sec;
    std::vector<std::string> readings;
  };
  const Case cases[] = {
      {std::nullopt, std::nullopt, {"1990122415000000", "1990122415000001"}},
      {std::nullopt, "1", {"1990122415000000", "1990122415000100"}},
      {std::nullopt, "", {"1990122415000000", "1990122415000001"}},
      {"23595999", std::nullopt, {"1990122423595999", "1990122500000000"}},
      {"23595900", "yes", {"1990122423595900", "1990122500000000", "1990122500000100"}},
      {" 1 2 3 4", std::nullopt, {"1990122401020304"}},
      {"00000099", std::nullopt, {"1990122400000099", "1990122400000100"}},
  };
  for (const Case& c : cases) {
    TimeSimSettings s;
    s.mode = "RECORD";
    s.start_time = c.start;
    s.inc_sec = c.inc_sec;
    SimulatedClock clock(s);
    for (const std::string& want : c.readings) EXPECT_EQ(read(clock), want);
  }
}

TEST(TimeSim, MalformedStartTimeEndsTheStart) {
  for (const char* start :
       {"12ab0000", "1200000", "", "24000000", "12600000", "1200-100", "  000000", "12.00000"}) {
    TimeSimSettings s;
    s.mode = "RECORD";
    s.start_time = start;
    ScopedLines lines;
    try {
      SimulatedClock clock(s);
      ADD_FAILURE() << "accepted " << start;
    } catch (const ServerException& e) {
      EXPECT_EQ(e.reason(), 2);
    }
    EXPECT_EQ(lines.capture.lines,
              std::vector<std::string>{"TMBED0: Error parsing ZAVOR_TM_STARTTIME (wrong format)"});
  }
}

// Day by day from 1990 to 2099 (where every fourth year is a leap year in
// both calendars) the carry at the last hundredth of a day gives the next
// day of the standard library's calendar.
TEST(TimeSim, DayCarryAgreesWithTheCalendar) {
  using namespace std::chrono;
  sys_days day = sys_days(year{1990} / December / 24);
  const sys_days end = sys_days(year{2099} / December / 31);
  for (; day < end; day += days{1}) {
    year_month_day ymd(day);
    SimulatedMoment m{
        int(ymd.year()), int(unsigned(ymd.month())), int(unsigned(ymd.day())), 23, 59, 59, 99};
    advance_moment(&m, false);
    year_month_day next(day + days{1});
    ASSERT_EQ(m.year, int(next.year()));
    ASSERT_EQ(m.month, int(unsigned(next.month())));
    ASSERT_EQ(m.day, int(unsigned(next.day())));
    ASSERT_EQ(m.hour + m.minute + m.second + m.hundredths, 0);
  }
  SimulatedMoment m{2100, 2, 28, 23, 59, 59, 0};  // every multiple of 4 has a 29th
  advance_moment(&m, true);
  EXPECT_EQ(m.month * 100 + m.day, 229);
}

TEST(TimeSim, YearPastFourDigitsEndsTheServer) {
  SimulatedClock clock(SimulatedMoment{9999, 12, 31, 23, 59, 59, 99}, false);
  EXPECT_EQ(read(clock), "9999123123595999");
  ScopedLines lines;
  try {
    read(clock);
    ADD_FAILURE() << "year 10000 read";
  } catch (const ServerException& e) {
    EXPECT_EQ(e.reason(), 2);
  }
  EXPECT_EQ(lines.capture.lines,
            std::vector<std::string>{"Error in MDRPDT (mdrcci date/time). RCODE =          2"});
}

// Readings from several threads are each taken once: together they are the
// first readings of a single-threaded clock, none repeated or skipped.
TEST(TimeSim, ConcurrentReadersGetDistinctConsecutiveValues) {
  constexpr int kThreads = 4, kReads = 5000;
  SimulatedClock shared(SimulatedMoment{}, false);
  std::vector<std::vector<std::string>> got(kThreads);
  std::vector<std::thread> pool;
  for (int t = 0; t < kThreads; ++t)
    pool.emplace_back([&, t] {
      for (int i = 0; i < kReads; ++i) got[t].push_back(read(shared));
    });
  for (auto& th : pool) th.join();
  std::vector<std::string> all;
  for (auto& g : got) {
    EXPECT_TRUE(std::is_sorted(g.begin(), g.end()));
    all.insert(all.end(), g.begin(), g.end());
  }
  std::sort(all.begin(), all.end());
  SimulatedClock alone(SimulatedMoment{}, false);
  for (const std::string& v : all) ASSERT_EQ(v, read(alone));
}

}  // namespace
