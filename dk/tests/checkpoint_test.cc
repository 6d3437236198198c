// Checkpoints: the copy classes of a databank; a copy that fell out of step
// unannounced makes the commit that changed it wait in state 20 for its
// checkpoint unit, which owes its records to the copies again before the
// commit is secured; once the copy is known out of step, commits are
// secured at once.
#include "dk/checkpoint.h"

#include <gtest/gtest.h>

#include "dk/bitmap_page.h"
#include "dk/databank_file.h"
#include "dk/tests/transaction_fixture.h"

namespace {

class CheckpointTest : public TransactionTest {
 protected:
  void SetUp() override {
    TransactionTest::SetUp();
    copy_ = Create("copy", 400, 5, 4);
    other_ = Create("other", 64, 5, 6);
    // The restart sets that take what a copy misses live in DID 2, on the
    // root pages its header's word 4 names.
    restart_ = Create("restart", 400, 2, 1);
    int32_t rq[REQ_WORDS] = {restart_, 0, 2048, 0, -1, 0};
    ASSERT_EQ(DKHLD0(rq, 0), 0);
    const int32_t root = rq[REQ_PAGE];
    int32_t b = Get(restart_, root, 2048, GET_NEW);
    std::memset(PageWords(b) + 1, 0, 2044);
    PageWords(b)[HDR_KIND] = ROOT_PAGE_KIND;
    ASSERT_EQ(WriteUnitPage(restart_, root, b), 0);
    b = Get(restart_, kHeaderUnit, 2048, GET_UPDATE);
    PageWords(b)[HDR_RESTORE_DIRECTORY] = root;
    ASSERT_EQ(WriteUnitPage(restart_, kHeaderUnit, b), 0);
  }

  // The inserts owed to the copies of DID 5 so far.
  int32_t OwedInserts() { return Owed(1); }
  // The records of code `fcode` owed to the copies of DID 5 so far.
  int32_t Owed(int32_t fcode) {
    const int32_t set = DKHMI0(area_[BP_TABLE_HASH], 5);
    if (set <= 0 || area_[set + TBE_TBL] != 5) return 0;
    std::vector<int32_t> b(SETRQ_RECORD + SetMaxRecordWords(kCommitSetPageSize), 0);
    b[SETRQ_TABLE] = set;
    b[SETRQ_TBL] = 5;
    b[SETRQ_RC] = 2;
    int32_t inserts = 0;
    while (DKGXN0(b) == 0) {
      inserts += b[SETRQ_RECORD] == fcode;
      b[SETRQ_RC] = 0;
    }
    return inserts;
  }

  int32_t copy_ = 0, other_ = 0, restart_ = 0;
};

TEST_F(CheckpointTest, CopyClassesOverTheChain) {
  struct Case {
    const char* what;
    int32_t first, copy, other;  // error words
    int32_t cls;
  } cases[] = {
      {"all usable", 0, 0, 0, kCopiesUsable},
      {"one out", 0, -44, 0, kCopiesOneOut},
      {"the first out", -44, 0, 0, kCopiesOneOut},
      {"two out", 0, -44, -44, kCopiesSomeOut},
      {"none usable", -44, -44, -44, kCopiesNoneUsable},
  };
  for (const Case& c : cases) {
    area_[db_ + DBE_ERROR] = c.first;
    area_[copy_ + DBE_ERROR] = c.copy;
    area_[other_ + DBE_ERROR] = c.other;
    EXPECT_EQ(DKCopyClass(db_), c.cls) << c.what;
  }
  // Offline counts as out as an error does.
  area_[db_ + DBE_ERROR] = area_[copy_ + DBE_ERROR] = area_[other_ + DBE_ERROR] = 0;
  area_[other_ + DBE_OFFLINE] = 1;
  EXPECT_EQ(DKCopyClass(db_), kCopiesOneOut);
  area_[other_ + DBE_OFFLINE] = 0;
}

TEST_F(CheckpointTest, CommitChangingACopyOutOfStepIsSecuredAfterItsCheckpoint) {
  Table t = CreateTable(77, 4, 8);
  StartBackground(1);
  auto commit = [&](const std::string& a, const std::string& b) {
    return CommitChanges({Change(1, t, MakeRecord(a, 4, 8)), Change(1, t, MakeRecord(b, 4, 8))});
  };
  ASSERT_EQ(commit("k1", "k2"), 0);
  EXPECT_EQ(OwedInserts(), 0);
  EXPECT_EQ(area_[BP_SECURED_TRANS_NUMBER], 1);

  // The copy fails unannounced: no entry word 9 says it is out of step.
  StoreWord(copy_ + DBE_ERROR, -44);
  ASSERT_EQ(commit("k3", "k4"), 0);
  // Owed when applied, and once more by the checkpoint unit.
  EXPECT_EQ(OwedInserts(), 4);
  EXPECT_EQ(area_[BP_SECURED_TRANS_NUMBER], 2);
  EXPECT_EQ(area_[copy_ + DBE_OFFLINE_COPY], 1);
  EXPECT_EQ(area_[db_ + DBE_CHECKPOINT], 0);
  EXPECT_EQ(area_[BP_CHECKPOINT_PENDING], 0);
  EXPECT_EQ(area_[BP_TSS_CHECKPOINT_STATE], 0);

  // Known out of step now: owed when applied, and secured at once.
  ASSERT_EQ(commit("k5", "k6"), 0);
  EXPECT_EQ(OwedInserts(), 6);
  EXPECT_EQ(area_[BP_SECURED_TRANS_NUMBER], 3);
  EXPECT_EQ(area_[db_ + DBE_CHECKPOINT], 0);
  EXPECT_EQ(Rows(t).size(), 6u);
}

// A checkpoint unit owes again every table-bound record of a databank that
// asked, the rows of an ALTER (24) as well: a copy that missed them would
// read the records owed after them in rows of the old form. Nothing else is
// owed, and nothing of a databank that did not ask.
TEST_F(CheckpointTest, CheckpointOwesEveryTableBoundRecordAgain) {
  Table t = CreateTable(77, 4, 8);
  StoreWord(copy_ + DBE_ERROR, -44);
  const int32_t owed[] = {1, 2, 4, 5, 6, 7, 10, 11, 23, 24};
  const int32_t passed[] = {3, 8, 9, 12, 15, 16, 17, 20, 21, 22, 25, 26};
  for (const bool asked : {false, true}) {
    StoreWord(db_ + DBE_CHECKPOINT, asked ? 1 : 0);
    for (int32_t code : owed) {
      SCOPED_TRACE("code " + std::to_string(code));
      std::vector<int32_t> r = Change(code, t, MakeRecord("k1", 4, 8));
      const int32_t before = Owed(code);
      EXPECT_EQ(DKPassCheckpointRecord(r, 5), 0);
      EXPECT_EQ(Owed(code), before + (asked ? 1 : 0));
    }
  }
  for (int32_t code : passed) {
    SCOPED_TRACE("code " + std::to_string(code));
    std::vector<int32_t> r = Change(code, t, MakeRecord("k1", 4, 8));
    EXPECT_EQ(DKPassCheckpointRecord(r, 5), 0);
    EXPECT_EQ(Owed(code), 0);
  }
}

}  // namespace
