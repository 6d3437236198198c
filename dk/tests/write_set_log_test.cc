// The log copy of applied records: the records of a logged databank (kind
// 3) and their header reach the log table in the order they are applied;
// other databanks' records and a log table that is not open leave nothing.
#include <gtest/gtest.h>

#include <ctime>
#include <vector>

#include "dk/tests/transaction_fixture.h"

namespace {

class WriteSetLogTest : public TransactionTest {
 protected:
  // The log table's records, in order.
  std::vector<std::vector<int32_t>> LogRecords(int32_t log) {
    std::vector<int32_t> b(SETRQ_RECORD + SetMaxRecordWords(kCommitSetPageSize), 0);
    b[SETRQ_TABLE] = log;
    b[SETRQ_TBL] = area_[log + TBE_TBL];
    b[SETRQ_RC] = 2;
    std::vector<std::vector<int32_t>> records;
    while (DKGXN0(b) == 0) {
      records.emplace_back(b.begin() + SETRQ_RECORD, b.begin() + SETRQ_RECORD + b[SETRQ_LENGTH]);
      b[SETRQ_RC] = 0;
    }
    return records;
  }
  // Their codes.
  std::vector<int32_t> LogCodes(int32_t log) {
    std::vector<int32_t> codes;
    for (const std::vector<int32_t>& r : LogRecords(log)) codes.push_back(r[WS_CODE]);
    return codes;
  }
};

TEST_F(WriteSetLogTest, RecordsOfLoggedDatabanksReachTheLog) {
  StartBackground(1);
  Table table = CreateTable(77, 4, 8);
  const int32_t log = MakeSet(kTransDid, 8);
  struct Case {
    const char* what;
    int32_t kind, log_table;
    std::vector<int32_t> codes;
  } cases[] = {
      {"a databank that is not logged", 0, log, {}},
      {"a logged databank without an open log", 3, 0, {}},
      {"a logged databank", 3, log, {1, 4, 21}},
  };
  int n = 0;
  for (const Case& c : cases) {
    const int32_t kind = area_[db_ + DBE_KIND];
    area_[db_ + DBE_KIND] = c.kind;
    area_[BP_LOG_TABLE] = c.log_table;
    const std::string r = MakeRecord("k" + std::to_string(n++), 4, 8);
    EXPECT_EQ(CommitChanges({Change(1, table, r), Change(4, table, r)}), 0) << c.what;
    area_[db_ + DBE_KIND] = kind;
    EXPECT_EQ(LogCodes(log), c.codes) << c.what;
  }
  area_[BP_LOG_TABLE] = 0;
  EXPECT_EQ(Rows(table), std::vector<std::string>{});
}

// The log's copy of a header carries the time it was logged (word 7) and the
// mark 20 (word 8) when a system databank is named (area word 98); the
// commit set's header keeps neither.
TEST_F(WriteSetLogTest, LoggedHeaderIsStampedWhenASystemDatabankIsNamed) {
  StartBackground(1);
  Table table = CreateTable(77, 4, 8);
  const int32_t log = MakeSet(kTransDid, 8);
  const int32_t kind = area_[db_ + DBE_KIND];
  area_[db_ + DBE_KIND] = 3;
  area_[BP_LOG_TABLE] = log;
  const struct {
    const char* what;
    bool system;
  } cases[] = {{"no system databank", false}, {"a system databank", true}};
  int n = 0;
  for (const auto& c : cases) {
    area_[98] = c.system ? db_ : 0;
    const auto before = static_cast<int32_t>(std::time(nullptr));
    const std::string r = MakeRecord("s" + std::to_string(n++), 4, 8);
    ASSERT_EQ(CommitChanges({Change(1, table, r)}), 0) << c.what;
    const std::vector<int32_t> header = LogRecords(log).back();
    ASSERT_EQ(header[WS_CODE], kCodeHeader) << c.what;
    if (c.system) {
      EXPECT_GE(header[WSH_LOG_TIME], before) << c.what;
      EXPECT_LE(header[WSH_LOG_TIME], static_cast<int32_t>(std::time(nullptr))) << c.what;
      EXPECT_EQ(header[WSH_LOG_MARK], 20) << c.what;
    } else {
      EXPECT_EQ(header[WSH_LOG_TIME], 0) << c.what;
      EXPECT_EQ(header[WSH_LOG_MARK], 0) << c.what;
    }
  }
  area_[98] = 0;
  area_[db_ + DBE_KIND] = kind;
  area_[BP_LOG_TABLE] = 0;
}

}  // namespace
