// A write set spread over more data pages than one list page may name is
// copied at its commit into a set on every usable copy of its databank;
// smaller write sets and copies that are offline get none.
#include <gtest/gtest.h>

#include "dk/databank_file.h"
#include "dk/tests/transaction_fixture.h"

namespace {

class WriteSetCopiesTest : public TransactionTest {
 protected:
  void SetUp() override {
    TransactionTest::SetUp();
    // The table the commits change has no entry on the copy: what an
    // offline copy misses of it would be owed in a restart set.
    table_ = CreateTable(77, 4, 8);
    copy_ = Create("wcopy", 2000, 5, 4);
  }

  // A write set of 2048-byte data pages, so that a few hundred records of
  // 300 words spread it past what one 2048-byte list page names.
  int32_t MakeWriteSet() {
    int32_t b[CRT_WORDS] = {};
    b[RQ_DID] = 5;
    b[RQ_TYPE] = 10 * kKindSet;
    b[RQ_TBL] = -1;
    b[RQ_INDEX_PAGE_SIZE] = 2048;
    b[RQ_DATA_PAGE_SIZE] = 2048;
    DKCRT1(b);
    EXPECT_EQ(b[RQ_STATUS], 0);
    return b[RQ_TABLE];
  }

  // The records of a set, read from its start.
  static std::vector<std::vector<int32_t>> Records(int32_t table) {
    std::vector<int32_t> b(SETRQ_RECORD + SetMaxRecordWords(kCommitSetPageSize), 0);
    b[SETRQ_TABLE] = table;
    b[SETRQ_TBL] = -1;
    b[SETRQ_RC] = 2;
    std::vector<std::vector<int32_t>> records;
    while (DKGXN0(b) == 0) {
      records.emplace_back(b.begin() + SETRQ_RECORD, b.begin() + SETRQ_RECORD + b[SETRQ_LENGTH]);
      b[SETRQ_RC] = 0;
    }
    return records;
  }

  // The write set's entry on the copy.
  int32_t OnCopy(int32_t write_set) {
    for (int32_t t = area_[write_set + TBE_NEXT]; t > 0; t = area_[t + TBE_NEXT])
      if (area_[t + TBE_DATABANK] == copy_) return t;
    return 0;
  }

  // Fills the write set with a header and `fillers` records applied as
  // nothing, then an insert; commits it. The records written.
  std::vector<std::vector<int32_t>> Commit(const Sets& s, const Table& t, int fillers, int tag,
                                           int32_t* rc) {
    Empty(s);
    Began tx = Begin();
    EXPECT_EQ(tx.rc, 0);
    // Kind 129: the background is done with it when the end returns, before
    // the test changes the copy's flag for the next step.
    std::vector<std::vector<int32_t>> records = {Header(129, {{db_, fillers + 2}})};
    for (int i = 0; i < fillers; ++i) {
      std::vector<int32_t> filler(300, tag * 1000 + i);
      filler[WS_CODE] = 3;
      records.push_back(filler);
    }
    records.push_back(Change(1, t, MakeRecord("k" + std::to_string(tag), 4, 8)));
    for (const auto& r : records) AppendTo(s.write, r);
    *rc = End(tx.tss, s);
    return records;
  }

  Table table_;
  int32_t copy_ = 0;
};

TEST_F(WriteSetCopiesTest, SpreadWriteSetIsCopiedToEveryUsableCopy) {
  StartBackground(1);
  const Table& t = table_;
  Sets s{MakeWriteSet(), MakeSet(5, -1)};
  const int32_t on_copy = OnCopy(s.write);
  ASSERT_NE(on_copy, 0);
  struct Step {
    const char* what;
    int fillers;
    int32_t offline;
    bool copied;
  } steps[] = {
      {"one data page", 1, 0, false},
      {"several pages of one list page", 20, 0, false},
      {"spread past one list page", 300, 0, true},
      {"spread again: the copy's old records go", 280, 0, true},
      {"spread, the copy offline", 290, 1, false},
  };
  std::vector<std::vector<int32_t>> copied;
  int tag = 0;
  for (const Step& step : steps) {
    // Offline as DKSUD1 leaves a copy: both flags.
    area_[copy_ + DBE_OFFLINE] = area_[copy_ + DBE_OFFLINE_COPY] = step.offline;
    int32_t rc = 1;
    const auto records = Commit(s, t, step.fillers, ++tag, &rc);
    area_[copy_ + DBE_OFFLINE] = area_[copy_ + DBE_OFFLINE_COPY] = 0;
    EXPECT_EQ(rc, 0) << step.what;
    if (step.copied) copied = records;
    if (area_[on_copy + TBE_ROOT_PAGE] > 0)
      EXPECT_EQ(Records(on_copy), copied) << step.what;
    else
      EXPECT_TRUE(copied.empty()) << step.what;
  }
  EXPECT_FALSE(copied.empty());
  // Every commit reached the table.
  ASSERT_EQ(
      CommitChanges({Change(1, t, MakeRecord("z1", 4, 8)), Change(1, t, MakeRecord("z2", 4, 8))}),
      0);
  EXPECT_EQ(Rows(t).size(), std::size(steps) + 2);
}

}  // namespace
