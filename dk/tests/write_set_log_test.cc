// The log copy of applied records: the records of a logged databank (kind
// 3) and their header reach the log table in the order they are applied;
// other databanks' records and a log table that is not open leave nothing.
#include <gtest/gtest.h>

#include <vector>

#include "dk/tests/transaction_fixture.h"

namespace {

class WriteSetLogTest : public TransactionTest {
 protected:
  // The codes of the log table's records, in order.
  std::vector<int32_t> LogCodes(int32_t log) {
    std::vector<int32_t> b(SETRQ_RECORD + SetMaxRecordWords(kCommitSetPageSize), 0);
    b[SETRQ_TABLE] = log;
    b[SETRQ_TBL] = area_[log + TBE_TBL];
    b[SETRQ_RC] = 2;
    std::vector<int32_t> codes;
    while (DKGXN0(b) == 0) {
      codes.push_back(b[SETRQ_RECORD + WS_CODE]);
      b[SETRQ_RC] = 0;
    }
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

}  // namespace
