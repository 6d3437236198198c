// The kernel error logger: record layout, texts by flag, severities, the
// disabling of databanks, and the end of the server on fatal errors.
#include "dk/error_log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "dk/routine_names.h"
#include "dk/tests/kernel_fixture.h"
#include "platform/enqdeq.h"
#include "platform/os_status.h"

namespace {

using ErrorLogTest = KernelTest;

// "yyyy-mm-dd hh:mm:ss.hh   <Error>": digits where the pattern has 9, the
// pattern's own characters elsewhere.
bool IsErrorStampLine(const std::string& line) {
  static const std::string pattern = "9999-99-99 99:99:99.99   <Error>";
  if (line.size() != pattern.size()) return false;
  for (size_t i = 0; i < line.size(); ++i) {
    const bool digit = line[i] >= '0' && line[i] <= '9';
    if (pattern[i] == '9' ? !digit : line[i] != pattern[i]) return false;
  }
  return true;
}

TEST_F(ErrorLogTest, InvalidDatabankIdentifierNamesNoDatabank) {
  const int32_t e = AddDatabank(5, "BANK1");
  int32_t did = 77;
  DKReportError(DKR_DKEXE1, -45, DK_SEV_ERROR, &did, e);
  ASSERT_EQ(log_.records.size(), 1u);
  const LogRecord& r = log_.records[0];
  EXPECT_EQ(r.kind, 3);
  ASSERT_EQ(r.lines.size(), 3u);
  EXPECT_TRUE(IsErrorStampLine(r.lines[0])) << r.lines[0];
  EXPECT_EQ(r.lines[1], "ZAVOR/DB kernel error -16185 in function DKEXE1");
  EXPECT_EQ(r.lines[2], "Databank identifier invalid, DID = 77");
  EXPECT_EQ(Bufferpool()[e + DBE_ERROR], 0);  // severity 2 disables nothing
  EXPECT_EQ(Bufferpool()[BP_ERROR_COUNT], 1);
}

TEST_F(ErrorLogTest, DetailLinesFollowTheFlagsOfTheCode) {
  const int32_t bank = AddDatabank(5, "BANK1");
  const int32_t shadow = AddDatabank(6, "COPY2", DBE_KIND_SHADOW);
  const char file[] = "/data/x.dbf      ";
  int32_t page = 1234;
  const int32_t os = make_os_status(OS_CLASS_WINDOWS, win_call::CreateFile, ENOENT);
  struct Case {
    int32_t index, rc;
    const void* value;
    int32_t word, os;
    std::vector<std::string> detail;  // lines after the kernel line
  } cases[] = {
      {44,
       -2,
       file,
       bank,
       os,
       {"Databank BANK1, filename /data/x.dbf", "File not found",
        ", OS error message:", "'" + os_status_string(os) + "'"}},
      {44, -2, file, 0, -1, {", filename /data/x.dbf", "File not found"}},
      {-84, -44, &page, shadow, -1, {"Shadow COPY2, I/O error, pageid = 1234"}},
      {12, -42, nullptr, bank, -1, {"Databank BANK1 corrupt"}},
      {12, -42, nullptr, bank + 1, -1, {" corrupt"}},  // not an entry: no name
      {-44, -43, nullptr, 0, -1, {"Bad parameter, value = -12345678"}},
      {-44, -99, nullptr, 0, -1, {"Unknown error message text..."}},
      {70, -55, nullptr, 0, -1, {"Internal inconsistency detected"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rc);
    log_.records.clear();
    int32_t context[DKCTX_WORDS] = {c.word, 0, 0, 0, c.os};
    DKLogError(c.index, c.rc, DK_SEV_ERROR, c.value, context);
    ASSERT_EQ(log_.records.size(), 1u);
    const auto& lines = log_.records[0].lines;
    std::string name = DKRoutineName(c.index).empty() ? std::to_string(c.index)
                                                      : std::string(DKRoutineName(c.index));
    EXPECT_EQ(lines.at(1),
              "ZAVOR/DB kernel error " + std::to_string(c.rc - 16140) + " in function " + name);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.end()), c.detail);
  }
  EXPECT_EQ(os_status_string(os).rfind("CreateFile: ", 0), 0u);
}

TEST_F(ErrorLogTest, SeveritiesTagCountAndEndTheServer) {
  struct Case {
    int32_t severity;
    const char* tag;
    int kind;
    int count;   // added to the error count
    int reason;  // server exception, 0 for none
  } cases[] = {
      {1, "   <Information>", 1, 0, 0},    {2, "   <Error>", 3, 1, 0},
      {5, "   <Fatal error>", 5, 1, 3},    {6, "   <Fatal error>", 5, 1, 3},
      {7, "   <Internal error>", 4, 1, 4}, {9, "   <Unknown type>", 99, 1, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.severity);
    log_.records.clear();
    Bufferpool()[BP_STATUS] = BP_STATUS_UP;
    const int32_t errors = Bufferpool()[BP_ERROR_COUNT];
    int raised = 0;
    try {
      DKReportError(DKR_DKSTA9, -55, c.severity, nullptr, 0);
    } catch (const ServerException& e) {
      raised = e.reason();
    }
    EXPECT_EQ(raised, c.reason);
    EXPECT_EQ(Bufferpool()[BP_ERROR_COUNT], errors + c.count);
    // The log lock is free again, also after a fatal error.
    EXPECT_EQ(Bufferpool()[BP_LOCK_LOG], 1);
    ASSERT_FALSE(log_.records.empty());
    const auto& first = log_.records[0];
    EXPECT_EQ(first.kind, c.kind);
    EXPECT_EQ(first.lines[0].substr(22), c.tag);
    if (c.severity == 6) {
      EXPECT_EQ(first.lines.at(2),
                "Repeated error message, please see previous message for an explanation");
    }
    if (c.reason) {
      EXPECT_EQ(Bufferpool()[BP_STATUS], BP_STATUS_ERROR);
      ASSERT_EQ(log_.records.size(), 2u);
      EXPECT_EQ(log_.records[1].lines,
                (std::vector<std::string>{
                    std::string(c.reason == 3 ? "Unrecoverable error in ZAVOR/DB database "
                                              : "Unrecoverable internal error in ZAVOR/DB "
                                                "database ") +
                        "TESTDB",
                    "Multiuser system terminated"}));
    } else {
      EXPECT_EQ(log_.records.size(), 1u);
    }
  }
}

TEST_F(ErrorLogTest, DatabankErrorsDisableTheDatabankOnce) {
  const int32_t bank = AddDatabank(5, "BANK1");
  const int32_t shadow = AddDatabank(9, "COPY2", DBE_KIND_SHADOW);
  DKReportError(12, -42, DK_SEV_DISABLE, nullptr, bank);
  ASSERT_EQ(log_.records.size(), 2u);
  EXPECT_EQ(
      std::vector<std::string>(log_.records[0].lines.begin() + 1, log_.records[0].lines.end()),
      (std::vector<std::string>{"Fatal databank error in ZAVOR/DB database TESTDB",
                                "Databank BANK1 has been disabled"}));
  // The main record follows without a header line of its own.
  EXPECT_EQ(log_.records[1].lines,
            (std::vector<std::string>{"ZAVOR/DB kernel error -16182 in function DKCLD1",
                                      "Databank BANK1 corrupt"}));
  EXPECT_EQ(Bufferpool()[bank + DBE_ERROR], -42);

  log_.records.clear();
  DKReportError(12, -63, DK_SEV_DISABLE, nullptr, bank);  // already disabled
  ASSERT_EQ(log_.records.size(), 1u);
  EXPECT_EQ(Bufferpool()[bank + DBE_ERROR], -42);

  log_.records.clear();
  DKReportError(12, -42, DK_SEV_DISABLE_REPEATED, nullptr, shadow);
  ASSERT_EQ(log_.records.size(), 2u);
  EXPECT_EQ(log_.records[0].lines.at(2), "Shadow COPY2 has been disabled");
  EXPECT_EQ(log_.records[1].lines.at(1),
            "Repeated error message, please see previous message for an explanation");
  EXPECT_EQ(Bufferpool()[shadow + DBE_ERROR], -42);
}

// Output from many threads at once, kept whole record by record.
struct LockedCapture : CapturingServices {
  std::mutex m;
  void write_output(StatusPair* status, int kind, const char* area, int count) override {
    std::lock_guard<std::mutex> lock(m);
    CapturingServices::write_output(status, kind, area, count);
  }
};

TEST_F(ErrorLogTest, ConcurrentDatabankErrorsDisableOnceAndKeepRecordsTogether) {
  constexpr int kThreads = 8;
  // The ENQ/DEQ area stays the process's area after the test (the kernel's
  // stop still writes into it), so it must live as long as the process.
  static std::vector<int32_t> area(enqdeq_size(kThreads + 1) / 4 + 1);
  ASSERT_EQ(enqdeq_init(area.data(), kThreads + 1, Bufferpool(), nullptr, 0), 0);
  LockedCapture capture;
  InstallHostServices(&capture);
  const int32_t bank = AddDatabank(5, "BANK1");
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ASSERT_EQ(enqdeq_attach(area.data(), t + 2), 0);
      for (int i = 0; i < 50; ++i) {
        int32_t page = t * 100 + i;
        DKReportError(12, -44, DK_SEV_DISABLE, &page, bank);
      }
    });
  }
  for (auto& th : threads) th.join();
  InstallHostServices(&log_);
  int disabled = 0;
  for (size_t i = 0; i < capture.records.size(); ++i) {
    const auto& lines = capture.records[i].lines;
    if (lines.back() != "Databank BANK1 has been disabled") continue;
    ++disabled;
    // The main record of the same report comes right after, under the lock.
    ASSERT_LT(i + 1, capture.records.size());
    EXPECT_EQ(capture.records[i + 1].lines.at(0),
              "ZAVOR/DB kernel error -16184 in function DKCLD1");
  }
  EXPECT_EQ(disabled, 1);
  EXPECT_EQ(capture.records.size(), 1u + kThreads * 50);
  EXPECT_EQ(Bufferpool()[bank + DBE_ERROR], -44);
  EXPECT_EQ(Bufferpool()[BP_ERROR_COUNT], kThreads * 50);
  EXPECT_EQ(Bufferpool()[BP_LOCK_LOG], 1);
}

// Output that fails the way a broken log device might: by throwing.
struct ThrowingServices : HostServices {
  void write_output(StatusPair*, int, const char*, int) override {
    throw std::runtime_error("log device gone");
  }
};

TEST_F(ErrorLogTest, ALogLockIsNeverLeftTakenByAFailedWrite) {
  ThrowingServices broken;
  InstallHostServices(&broken);
  int32_t value = 1;
  EXPECT_THROW(DKReportError(DKR_DKEXE1, -43, DK_SEV_ERROR, &value, 0), std::runtime_error);
  InstallHostServices(&log_);
  EXPECT_EQ(Bufferpool()[BP_LOCK_LOG], 1);
  DKReportError(DKR_DKEXE1, -43, DK_SEV_ERROR, &value, 0);  // would wait for ever otherwise
  EXPECT_EQ(log_.records.size(), 1u);
}

TEST(ErrorLogWithoutArea, ReportsStillWrite) {
  CapturingServices log;
  HostServices* previous = InstallHostServices(&log);
  int32_t code = 0;
  DKReportError(DKR_DKEXE1, -43, DK_SEV_ERROR, &code, 0);
  InstallHostServices(previous);
  ASSERT_EQ(log.records.size(), 1u);
  EXPECT_EQ(log.records[0].lines.at(2), "Bad parameter, value = 0");
}

}  // namespace
