// The post-processing flush: the header of the last secured transaction is
// stamped in the commit set with the secured number less one; a position
// that holds no header or another transaction's header is a corrupt commit
// set, which ends the server.
#include <gtest/gtest.h>

#include <vector>

#include "dk/tests/transaction_fixture.h"
#include "platform/host_services.h"

namespace {

class CommitSetStampTest : public TransactionTest {
 protected:
  struct Position {
    int32_t page, word;
  };
  // Appends to the commit set; where the record's first length word lies.
  Position Append(const std::vector<int32_t>& record) {
    std::vector<int32_t> b(SETRQ_RECORD + SetMaxRecordWords(kCommitSetPageSize), 0);
    b[SETRQ_TABLE] = commit_set_;
    b[SETRQ_TBL] = area_[commit_set_ + TBE_TBL];
    b[SETRQ_LENGTH] = static_cast<int32_t>(record.size());
    std::copy(record.begin(), record.end(), b.begin() + SETRQ_RECORD);
    EXPECT_EQ(DKAXR0(b), 0);
    return {b[SETRQ_PAGE], b[SETRQ_POSITION] - static_cast<int32_t>(record.size()) - 2};
  }
  std::vector<int32_t> ReadAt(Position p) {
    std::vector<int32_t> b(SETRQ_RECORD + SetMaxRecordWords(kCommitSetPageSize), 0);
    b[SETRQ_TABLE] = commit_set_;
    b[SETRQ_TBL] = area_[commit_set_ + TBE_TBL];
    b[SETRQ_PAGE] = p.page;
    b[SETRQ_POSITION] = p.word;
    b[SETRQ_RC] = 2;
    EXPECT_EQ(DKGXN0(b), 0);
    return {b.begin() + SETRQ_RECORD, b.begin() + SETRQ_RECORD + b[SETRQ_LENGTH]};
  }
};

TEST_F(CommitSetStampTest, HeaderOfTheLastSecuredIsStamped) {
  Table table = CreateTable(77, 4, 8);
  const Position change = Append(Change(1, table, MakeRecord("k1", 4, 8)));
  std::vector<int32_t> header = Header(0, {{db_, 2}});
  header[WSH_GROUP] = 3;
  header[WSH_PREPARE] = 7;
  header[WSH_COMMIT] = 41;
  const Position at = Append(header);
  Began t = Begin();
  area_[t.tss + TSS_END_PAGE] = at.page;
  area_[t.tss + TSS_END_POS] = at.word;
  area_[t.tss + TSS_PREPARE] = 7;
  area_[BP_SECURED_TRANS_NUMBER] = 41;
  ASSERT_EQ(DKFPQ1(t.tss), 0);
  std::vector<int32_t> stamped = header;
  stamped[WSH_STAMP] = 40;
  EXPECT_EQ(ReadAt(at), stamped);
  EXPECT_EQ(area_[BP_RESTART_TRANS_NUMBER], 40);
  EXPECT_EQ(area_[BP_POSTPROC_FLUSH_COUNT], 1);

  EXPECT_EQ(DKFPQ1(t.tss + 1), -43);

  // What the position must hold: a header, and this transaction's.
  struct Case {
    const char* what;
    Position position;
    int32_t prepare;
  } cases[] = {
      {"a change record", change, 7},
      {"another transaction's header", at, 8},
  };
  for (const Case& c : cases) {
    area_[t.tss + TSS_END_PAGE] = c.position.page;
    area_[t.tss + TSS_END_POS] = c.position.word;
    area_[t.tss + TSS_PREPARE] = c.prepare;
    EXPECT_THROW(DKFPQ1(t.tss), ServerException) << c.what;
  }
}

TEST_F(CommitSetStampTest, SecuringStampsAndRaisesTheRestartNumber) {
  StartBackground(2);
  Table table = CreateTable(77, 4, 8);
  for (const char* key : {"k1", "k2", "k3"})
    ASSERT_EQ(CommitChanges({Change(1, table, MakeRecord(key, 4, 8)),
                             Change(1, table, MakeRecord(std::string(key) + "x", 4, 8))}),
              0);
  EXPECT_EQ(area_[BP_SECURED_TRANS_NUMBER], 3);
  EXPECT_GE(area_[BP_POSTPROC_FLUSH_COUNT], 1);
  EXPECT_GE(area_[BP_RESTART_TRANS_NUMBER], 2);
}

}  // namespace
