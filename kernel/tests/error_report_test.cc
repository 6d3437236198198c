// The message log and the kernel error report, read through a capturing
// server output: line layout, wrapping, value texts, unprintable bytes,
// severity tags and exceptions, the error texts and the report's forms.
#include "kernel/error_report.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "kernel/control_blocks.h"
#include "kernel/word_storage.h"
#include "platform/host_services.h"
#include "platform/os_status.h"

namespace {

struct Entry {
  int severity;
  int count;
  std::vector<std::string> lines;
};

class LogCapture : public HostServices {
 public:
  LogCapture() { previous_ = InstallHostServices(this); }
  ~LogCapture() override { InstallHostServices(previous_); }
  void write_output(StatusPair* status, int severity, const char* area, int count) override {
    set_success(status);
    Entry e{severity, count, {}};
    for (int i = 0; i < std::max(count, 1); ++i) {
      e.lines.emplace_back(area);
      area += e.lines.back().size() + 1;
    }
    entries.push_back(e);
  }
  // The message lines of the only entry, without its time stamp line.
  std::vector<std::string> message() const {
    EXPECT_EQ(entries.size(), 1u);
    if (entries.empty()) return {};
    return {entries[0].lines.begin() + 1, entries[0].lines.end()};
  }
  std::vector<Entry> entries;

 private:
  HostServices* previous_;
};

bool IsTimeStamp(const std::string& s) {
  const std::string pattern = "dddd-dd-dd dd:dd:dd.dd";
  if (s.size() < pattern.size()) return false;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == 'd' ? !isdigit(static_cast<unsigned char>(s[i])) : s[i] != pattern[i])
      return false;
  }
  return true;
}

TEST(MessageLog, MemoryErrorEntryHasStampLineAndMessageLine) {
  LogCapture log;
  const char text[] = "OS memory allocation error ";
  const int32_t values[] = {-21110};
  const int32_t items[] = {27, -1};
  StatusPair st{9, 9};
  DSLogMsg(&st, 3, text, values, items, 2);
  ASSERT_EQ(log.entries.size(), 1u);
  const Entry& e = log.entries[0];
  EXPECT_EQ(e.severity, 3);
  EXPECT_EQ(e.count, 2);
  ASSERT_EQ(e.lines.size(), 2u);
  EXPECT_TRUE(IsTimeStamp(e.lines[0])) << e.lines[0];
  EXPECT_EQ(e.lines[0].substr(22), "   <Error>");
  EXPECT_EQ(e.lines[1], "OS memory allocation error -21110");
  EXPECT_EQ(st.rc, 0);
}

TEST(MessageLog, SeverityTags) {
  const std::pair<int, const char*> cases[] = {
      {1, "   <Information>"},  {2, "   <Warning>"},      {3, "   <Error>"},
      {6, "   <Audit>"},        {7, "   <Trace>"},        {8, "   <Alert>"},
      {0, "   <Unknown type>"}, {9, "   <Unknown type>"},
  };
  for (const auto& [severity, tag] : cases) {
    LogCapture log;
    const int32_t item = 2;
    StatusPair st;
    DSLogMsgShort(&st, severity, "hi", nullptr, item);
    ASSERT_EQ(log.entries.size(), 1u);
    EXPECT_EQ(log.entries[0].lines[0].substr(22), tag) << severity;
    EXPECT_EQ(log.entries[0].severity, severity);
  }
}

std::string Repeat(const std::string& word, int times) {
  std::string s;
  for (int i = 0; i < times; ++i) s += word;
  return s;
}

TEST(MessageLog, LayoutOfItems) {
  const std::string ten = "abcdefghi ";  // 10 columns with its blank
  struct Case {
    const char* what;
    std::string text;
    std::vector<int32_t> values;
    std::vector<int32_t> items;
    std::vector<std::string> lines;
  };
  const std::string long_text = Repeat(ten, 9);  // 90 columns
  const std::string word100(100, 'w');
  const Case cases[] = {
      {"text and value share a line", "abc ", {5}, {4, -1}, {"abc 5"}},
      {"trailing blanks of a text are dropped", "abc    ", {}, {7}, {"abc"}},
      {"0 ends the line after the blank of the item before it",
       "firstsecond",
       {},
       {5, 0, 6},
       {"first ", "second"}},
      {"values are separated by comma and blank", "", {1, -2, 30}, {-3}, {"1, -2, 30"}},
      {"undefined and overflow",
       "",
       {INT_MIN, -1000000000, -999999999, INT_MAX},
       {-4},
       {"<UNDEFINED>, <OVERFLOW>, -999999999, 2147483647"}},
      {"bell and other unprintables",
       std::string("a\x07"
                   "b\x01\x7f\xa0\xff",
                   7),
       {},
       {7},
       {"a^b^^\xa0\xff"}},
      {"a text longer than the line breaks at the last blank that fits",
       long_text,
       {},
       {90},
       {Repeat(ten, 7) + "abcdefghi", "abcdefghi"}},
      {"a word longer than the line is cut at 80 columns",
       word100,
       {},
       {100},
       {std::string(80, 'w'), std::string(20, 'w')}},
      {"seven values of 10 digits wrap before the seventh",
       "",
       {1111111111, 1111111111, 1111111111, 1111111111, 1111111111, 1111111111, 1111111111},
       {-7},
       {Repeat("1111111111, ", 6), "1111111111"}},
      {"texts and values alternate from their own lists",
       "ab",
       {1, 2},
       {1, -1, 1, -1},
       {"a 1 b 2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LogCapture log;
    StatusPair st;
    DSLogMsg(&st, 1, c.text.data(), c.values.data(), c.items.data(), int32_t(c.items.size()));
    EXPECT_EQ(log.message(), c.lines);
    ASSERT_EQ(log.entries.size(), 1u);
    EXPECT_EQ(log.entries[0].count, int(c.lines.size()) + 1);
  }
}

TEST(MessageLog, InternalAndFatalErrorsRaiseAfterWriting) {
  const std::pair<int, int> cases[] = {{4, 4}, {5, 3}};
  for (const auto& [severity, reason] : cases) {
    LogCapture log;
    StatusPair st;
    try {
      DSLogMsgShort(&st, severity, "bad", nullptr, 3);
      ADD_FAILURE() << "severity " << severity << " returned";
    } catch (const ServerException& e) {
      EXPECT_EQ(e.reason(), reason);
    }
    ASSERT_EQ(log.entries.size(), 1u);
    EXPECT_EQ(log.entries[0].lines[1], "bad");
  }
  LogCapture log;
  StatusPair st;
  DSLogMsgShort(&st, 8, "alert", nullptr, 5);  // alerts return
  EXPECT_EQ(log.entries.size(), 1u);
}

TEST(MessageLog, LogTextWritesOneLineAsItStands) {
  LogCapture log;
  DSLogText("dump \x07 line  ", 13);
  ASSERT_EQ(log.entries.size(), 1u);
  EXPECT_EQ(log.entries[0].severity, 7);
  EXPECT_EQ(log.entries[0].count, -1);
  EXPECT_EQ(log.entries[0].lines[0], "dump ^ line  ");
}

std::string ErrText(int32_t line, int32_t error, int32_t format1 = 1, int32_t format2 = 1,
                    int32_t* status = nullptr) {
  int32_t request[4] = {line, format1, error, format2};
  char area[100];
  std::memset(area, '#', sizeof area);
  int32_t length = -1;
  DSErrText(request, area, 10, &length);
  if (status) *status = request[0];
  if (request[0] != 0) {
    EXPECT_EQ(length, 0);
    EXPECT_EQ(std::string(area, 100), std::string(100, '#'));
    return "";
  }
  EXPECT_EQ(length, 80);
  EXPECT_EQ(std::string(area, 10), std::string(10, '#'));
  EXPECT_EQ(std::string(area + 90, 10), std::string(10, '#'));
  return std::string(area + 10, 80);
}

std::string Padded(const std::string& s) {
  return s + std::string(80 - s.size(), ' ');
}

TEST(ErrorText, LinesOfTheTable) {
  struct Case {
    int32_t line;
    int32_t error;
    const char* text;  // nullptr: status 94
  };
  const Case cases[] = {
      {1, -11002, "Internal DB dynamic storage area (SQLPOOL) exhausted"},
      {1, -16142, "Databank <%>, file <%> not found "},
      {1, -18518, "Catalog version from betatest. See Release Notes, how to upgrade."},
      {1, -18931, "Unable to map shared memory used to setup communication with database server."},
      {1, -18924, "Machine  dependent error -18924, refer to release notes for an explanation"},
      {1, -18938, "Machine  dependent error -18938, refer to release notes for an explanation"},
      {1, -18939, "Machine  dependent error -18939, refer to release notes for an explanation"},
      {1, -18940, nullptr},
      {1, -18919, nullptr},
      {1, 0, nullptr},
      {2, -18009, "please preprocess source code"},
      {2, -16148, "please refer to user's guide for an explanation"},
      {2, -11002, nullptr},
      {3, -16147, nullptr},
      {0, -16147, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    int32_t status = -1;
    const std::string got = ErrText(c.line, c.error, 1, 1, &status);
    if (c.text == nullptr) {
      EXPECT_EQ(status, 94);
    } else {
      EXPECT_EQ(status, 0);
      EXPECT_EQ(got, Padded(c.text));
    }
  }
  int32_t status = 0;
  ErrText(1, -11002, 2, 1, &status);
  EXPECT_EQ(status, 94);
  ErrText(1, -11002, 1, 0, &status);
  EXPECT_EQ(status, 94);
}

TEST(ErrorReport, DatabankIoErrorGivesThreeLines) {
  LogCapture log;
  DSErrRep("DSOPEN", 6, -16147, 3);
  EXPECT_EQ(log.message(), (std::vector<std::string>{
                               "ZAVOR/DB server error -16147 in function DSOPEN ",
                               "Databank <%>, file <%>, direct access I/O error -7, ",
                               "please refer to user's guide for an explanation",
                           }));
  EXPECT_EQ(log.entries[0].severity, 3);
}

TEST(ErrorReport, HeaderLineBySeverity) {
  const std::pair<int, const char*> cases[] = {
      {1, "ZAVOR/DB server information in function F"},
      {2, "ZAVOR/DB server warning -19040 in function F"},
      {3, "ZAVOR/DB server error -19040 in function F"},
      {6, "ZAVOR/DB server audit in function F"},
      {7, "ZAVOR/DB server trace in function F"},
      {8, "ZAVOR/DB server alert in function F"},
      {11, "ZAVOR/DB server message in function F"},
  };
  for (const auto& [severity, header] : cases) {
    LogCapture log;
    DSErrRep("F", 1, -19040, severity);
    const std::vector<std::string> lines = log.message();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], header + std::string(" "));
    EXPECT_EQ(lines[1], "Invalid internal system identifier");
  }
  LogCapture log;
  DSErrRep("IGNORED", 0, -1, 3);  // no routine name, no text
  EXPECT_EQ(log.message(), std::vector<std::string>{"ZAVOR/DB server error -1"});
}

TEST(ErrorReport, InternalErrorRaisesReasonFourAfterTheReport) {
  LogCapture log;
  try {
    DSErrRep("DSX", 3, -19040, 4);
    ADD_FAILURE() << "returned";
  } catch (const ServerException& e) {
    EXPECT_EQ(e.reason(), 4);
  }
  EXPECT_EQ(log.message()[0], "ZAVOR/DB server error -19040 in function DSX ");
}

TEST(ErrorReport, ParameterValues) {
  struct Case {
    const char* what;
    int32_t error;
    std::vector<int32_t> values;
    std::vector<std::string> lines;
  };
  const std::string v = "           7";  // one value in 12 places
  const Case cases[] = {
      {"one value after a short line",
       -16001,
       {12},
       {"ZAVOR/DB server error -16001 in function RTN ",
        "Table locked by other user. Parameter value = 12."}},
      {"one value after a long line",
       -18518,
       {-5},
       {"ZAVOR/DB server error -18518 in function RTN ",
        "Catalog version from betatest. See Release Notes, how to upgrade. ",
        "Parameter value = -5"}},
      {"several values, six to a line",
       -16001,
       {7, 7, 7, 7, 7, 7, 7},
       {"ZAVOR/DB server error -16001 in function RTN ",
        "Table locked by other user. Parameter values: ", Repeat(v, 6) + " ", v}},
      {"several values after a long line",
       -18518,
       {1, -2},
       {"ZAVOR/DB server error -18518 in function RTN ",
        "Catalog version from betatest. See Release Notes, how to upgrade. ",
        "Parameter values: ", "           1          -2"}},
      {"at most seven lines",
       -16001,
       std::vector<int32_t>(40, 7),
       {"ZAVOR/DB server error -16001 in function RTN ",
        "Table locked by other user. Parameter values: ", Repeat(v, 6) + " ", Repeat(v, 6) + " ",
        Repeat(v, 6) + " ", Repeat(v, 6) + " ", Repeat(v, 6)}},
      {"the undefined value has no digits",
       -16001,
       {INT_MIN, 5},
       {"ZAVOR/DB server error -16001 in function RTN ",
        "Table locked by other user. Parameter values: ", "************           5"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LogCapture log;
    DSErrRep2("RTN", 3, c.error, 3, c.values.data(), int32_t(c.values.size()));
    EXPECT_EQ(log.message(), c.lines);
  }
}

TEST(ErrorReport, OsStatusIsDescribedInQuotes) {
  const int32_t no_message = make_os_status(OS_CLASS_NONE, 0, 0);
  {
    LogCapture log;
    const int32_t values[] = {no_message};
    DSErrReport("DSIO", 4, -16184, 3, values, 1, ERRREP_OS_STATUS);
    EXPECT_EQ(log.message(), (std::vector<std::string>{
                                 "ZAVOR/DB server error -16184 in function DSIO ",
                                 "I/O error, OS error message: ",
                                 "'No OS message available'",
                             }));
  }
  {
    LogCapture log;
    const int32_t values[] = {no_message};
    DSErrReport("DSIO", 4, -18518, 3, values, 1, ERRREP_OS_STATUS);
    const std::vector<std::string> lines = log.message();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[2], "OS error message: ");
    EXPECT_EQ(lines[3], "'No OS message available'");
  }
  {
    // -1 carries no OS error: no OS lines at all.
    LogCapture log;
    const int32_t values[] = {-1};
    DSErrReport("DSIO", 4, -16184, 3, values, 1, ERRREP_OS_STATUS);
    EXPECT_EQ(log.message().size(), 2u);
  }
  {
    // A text longer than 79 characters is cut and ends in "...".
    LogCapture log;
    const int32_t status =
        make_os_status(OS_CLASS_FILE_TABLE, crt_call::pthread_attr_setdetachstate, 3);
    ASSERT_GT(os_status_string(status).size(), 79u);
    const int32_t values[] = {status};
    DSErrReport("DSIO", 4, -16184, 3, values, 1, ERRREP_OS_STATUS);
    const std::vector<std::string> lines = log.message();
    ASSERT_GE(lines.size(), 3u);
    const std::string quoted = "'" + os_status_string(status).substr(0, 76) + "...'";
    // The writer breaks the 81 columns at its last blank; join them back.
    std::string joined = lines[2];
    for (size_t i = 3; i < lines.size(); ++i) joined += " " + lines[i];
    EXPECT_EQ(joined, quoted);
  }
}

TEST(ErrorParm, KeepsTheFirstErrorOfASequence) {
  int32_t* base = SqlPoolCreate(100000, 50000);
  int32_t w = 50000;
  DSPoolMem(base, &w, -1, 0);
  int32_t usr = 0;
  DSGetMem(base, &usr, USR_BYTES);
  ASSERT_GT(usr, 0);
  auto rvec = [&](int i) -> int32_t& { return sqlpool_word(base, usr + USR_RVEC_RCODE + i); };
  for (int i = 0; i < RVEC_WORDS; ++i) rvec(i) = -100 - i;
  sqlpool_word(base, usr + USR_RVEC_RETURN_STATUS) = 55;

  int32_t saved[RVEC_WORDS] = {};
  DSErrParm(0, base, usr, saved);
  EXPECT_EQ(saved[0], -100);
  EXPECT_EQ(saved[11], -111);
  rvec(0) = -200;
  DSErrParm(0, base, usr, saved);  // already holds an error: kept
  EXPECT_EQ(saved[0], -100);

  DSErrParm(1, base, usr, saved);
  EXPECT_EQ(rvec(0), -100);
  EXPECT_EQ(sqlpool_word(base, usr + USR_RVEC_RETURN_STATUS), 55);
  int32_t none[RVEC_WORDS] = {};
  rvec(0) = -300;
  DSErrParm(1, base, usr, none);  // no error to put back
  EXPECT_EQ(rvec(0), -300);
  SqlPoolDestroy(base);
}

}  // namespace
