// Stored TSS records: a secured transaction stored in the kernel's TSS
// table is still found by the writer lookup once its entry is gone; the
// purge removes, against a model, exactly the records below the low view
// limit; bad entries and a missing databank are refused.
#include "dk/stored_tss.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "dk/request.h"
#include "dk/tests/transaction_fixture.h"

namespace {

class StoredTssTest : public TransactionTest {
 protected:
  // A begun transaction's entry made to look secured, its words set.
  void Secure(int32_t tss, int32_t start, int32_t on_disk) {
    area_[tss + TSS_START] = start;
    area_[tss + TSS_STATE] = TSS_SECURED;
    area_[tss + TSS_PREPARE] = on_disk - 1;
    area_[tss + TSS_COMMIT] = on_disk;
    area_[tss + TSS_ON_DISK] = on_disk;
    area_[tss + TSS_FIRST_PAGE] = 1;
  }
};

TEST_F(StoredTssTest, StoredRecordIsFoundAfterItsEntryIsGone) {
  Began t = Begin();
  ASSERT_EQ(t.rc, 0);
  EXPECT_EQ(DKLTS0(t.start + 1000).on_disk, -1);  // found nowhere
  Secure(t.tss, t.start, 7);
  const int32_t overflowed = area_[BP_TSS_OVERFLOWED];
  ASSERT_EQ(DKITS1(t.tss), 0);
  EXPECT_EQ(area_[BP_TSS_OVERFLOWED], overflowed + 1);
  // Stored twice: the record there is the same transaction's, so it is done.
  EXPECT_EQ(DKITS1(t.tss), 0);
  DKFreeTss(t.tss);
  const CacheWriter w = DKLTS0(t.start);
  EXPECT_EQ(w.on_disk, 7);
  EXPECT_EQ(w.prepared, 6);
  EXPECT_EQ(w.state, TSS_SECURED);
  EXPECT_EQ(DKLTS0(t.start + 1).on_disk, -1);
}

// The kernel's TSS table is named by a word of its own: words 106 to 118
// belong to the commit set's list pages and stay as they were.
TEST_F(StoredTssTest, TheTablesWordIsNoneOfTheCommitSetsWords) {
  static_assert(BP_STORED_TSS_TABLE < 106 || BP_STORED_TSS_TABLE > 118);
  Began t = Begin();
  ASSERT_EQ(t.rc, 0);
  for (int32_t w = 106; w <= 118; ++w) area_[w] = w == BP_COMMIT_SET_TBL ? area_[w] : 1000 + w;
  const std::vector<int32_t> commit_set(area_ + 106, area_ + 119);
  Secure(t.tss, t.start, 7);
  ASSERT_EQ(DKITS1(t.tss), 0);
  EXPECT_EQ(std::vector<int32_t>(area_ + 106, area_ + 119), commit_set);
  const int32_t table = area_[BP_STORED_TSS_TABLE];
  ASSERT_NE(table, 0);
  EXPECT_EQ(area_[table + TBE_TBL], -1);
  EXPECT_EQ(area_[table + TBE_DATABANK], area_[BP_TRANS_DATABANK]);
  DKFreeTss(t.tss);
  EXPECT_EQ(DKLTS0(t.start).on_disk, 7);
  for (int32_t w = 106; w <= 118; ++w)
    if (w != BP_COMMIT_SET_TBL) area_[w] = 0;
}

TEST_F(StoredTssTest, PurgeRemovesOnlyRecordsBelowTheLimitAgainstAModel) {
  Began t = Begin();
  ASSERT_EQ(t.rc, 0);
  const int32_t own = area_[t.tss + TSS_START];
  std::mt19937 random(16);
  std::map<int32_t, int32_t> model;  // start number -> commit-on-disk number
  for (int i = 0; i < 300; ++i) {
    const int32_t start = 100000 + static_cast<int32_t>(random() % 100000);
    const int32_t on_disk = 1 + static_cast<int32_t>(random() % 400);
    if (model.count(start)) continue;
    Secure(t.tss, start, on_disk);
    ASSERT_EQ(DKITS1(t.tss), 0);
    model[start] = on_disk;
  }
  area_[t.tss + TSS_START] = own;
  area_[t.tss + TSS_STATE] = TSS_BUILDUP_RW;
  area_[t.tss + TSS_COMMIT] = 0;
  for (int32_t limit : {0, 1, 50, 50, 199, 200, 401, 1000}) {
    std::vector<int32_t> removed;
    for (auto it = model.begin(); it != model.end();)
      if (it->second < limit) {
        removed.push_back(it->first);
        it = model.erase(it);
      } else {
        ++it;
      }
    const int32_t deleted = area_[BP_TSS_DELETED];
    const int32_t expected = static_cast<int32_t>(removed.size());
    EXPECT_EQ(DKPurgeStoredTss(limit), expected) << limit;
    EXPECT_EQ(area_[BP_TSS_DELETED], deleted + expected);
    // Every kept record is found with its number, no removed one.
    for (auto [start, on_disk] : model) ASSERT_EQ(DKLTS0(start).on_disk, on_disk) << limit;
    for (int32_t start : removed) ASSERT_EQ(DKLTS0(start).on_disk, -1) << limit;
  }
  EXPECT_TRUE(model.empty());
}

TEST_F(StoredTssTest, BadEntriesAndNoDatabankAreRefusedAndStoreNothing) {
  Began t = Begin();
  ASSERT_EQ(t.rc, 0);
  Secure(t.tss, t.start, 5);
  struct Case {
    const char* what;
    int32_t tss;
    int32_t first_page;
    bool no_databank;
    int32_t rc;
  } cases[] = {
      {"entry 0", 0, 1, false, -85},
      {"negative entry", -7, 1, false, -85},
      {"entry past the TSS area", 1 << 30, 1, false, -85},
      {"no databank for the table", t.tss, 1, true, -53},
  };
  const int32_t trans = area_[BP_TRANS_DATABANK];
  for (const Case& c : cases) {
    area_[t.tss + TSS_FIRST_PAGE] = c.first_page;
    area_[BP_TRANS_DATABANK] = c.no_databank ? 0 : trans;
    area_[BP_STORED_TSS_DATABANK] = 0;
    const int32_t overflowed = area_[BP_TSS_OVERFLOWED];
    EXPECT_EQ(DKITS1(c.tss), c.rc) << c.what;
    EXPECT_EQ(area_[BP_TSS_OVERFLOWED], overflowed) << c.what;
    EXPECT_EQ(area_[BP_STORED_TSS_TABLE], 0) << c.what;
  }
  area_[BP_TRANS_DATABANK] = trans;
  // A commit number without the place of its commit set is the kernel's
  // own fault: reported as internal, which stops the server.
  area_[t.tss + TSS_FIRST_PAGE] = -1;
  EXPECT_THROW(DKITS1(t.tss), ServerException);
  EXPECT_EQ(area_[BP_STORED_TSS_TABLE], 0);
  // A table word naming no table is taken as no table, not read through.
  area_[BP_STORED_TSS_TABLE] = 3;
  EXPECT_EQ(DKLTS0(t.start + 5).on_disk, -1);
  EXPECT_EQ(DKPurgeStoredTss(1000), 0);
  area_[BP_STORED_TSS_TABLE] = 0;
}

// The table lives in its databank: when that databank is closed, the word
// stops naming the table and its entry is given back, so that a store once
// the TRANS databank is open again makes the table anew there.
TEST_F(StoredTssTest, ClosingTheTablesDatabankForgetsTheTable) {
  Began t = Begin();
  ASSERT_EQ(t.rc, 0);
  Secure(t.tss, t.start, 7);
  ASSERT_EQ(DKITS1(t.tss), 0);
  const int32_t table = area_[BP_STORED_TSS_TABLE];
  ASSERT_NE(table, 0);
  const int32_t tables_used = DKHMU0(area_[BP_TABLE_HASH]);
  // Closing another databank leaves it alone.
  const int32_t other = Create("other", 200, 9);
  int32_t close[4] = {1, 0, 9, -1};
  DKCallEntry(12, close, nullptr);
  ASSERT_EQ(close[0], 0);
  EXPECT_EQ(area_[BP_STORED_TSS_TABLE], table);
  EXPECT_NE(other, 0);
  close[0] = 1;
  close[2] = kTransDid;
  DKCallEntry(12, close, nullptr);
  ASSERT_EQ(close[0], 0);
  EXPECT_EQ(area_[BP_STORED_TSS_TABLE], 0);
  EXPECT_EQ(DKHMU0(area_[BP_TABLE_HASH]), tables_used - 1) << "the entry is given back";
  EXPECT_EQ(DKLTS0(t.start + 1000).on_disk, -1);
  // The TRANS databank open again (here in another file).
  area_[BP_TRANS_DATABANK] = db_;
  Secure(t.tss, t.start + 1, 9);
  EXPECT_EQ(DKITS1(t.tss), 0);
  EXPECT_EQ(area_[area_[BP_STORED_TSS_TABLE] + TBE_DATABANK], db_);
  Secure(t.tss, t.start, 1);
  DKFreeTss(t.tss);
  EXPECT_EQ(DKLTS0(t.start + 1).on_disk, 9);
}

TEST_F(StoredTssTest, BackgroundMasterPurgesWhatNoRunningViewNeeds) {
  Began t = Begin();
  ASSERT_EQ(t.rc, 0);
  std::vector<int32_t> saved(area_ + t.tss, area_ + t.tss + TSS_WORDS);
  Secure(t.tss, 500001, 1);  // goes once every view holds commit 1
  ASSERT_EQ(DKITS1(t.tss), 0);
  Secure(t.tss, 500002, 1000);  // stays
  ASSERT_EQ(DKITS1(t.tss), 0);
  std::copy(saved.begin(), saved.end(), area_ + t.tss);
  ASSERT_EQ(End(t.tss, NewSets(), kEndAbort), 0);
  StartBackground(1);
  const Table table = CreateTable(77, 4, 8);
  // Each commit's request wakes the master, which purges with the low view
  // limit its last scan left; a running reader keeps that limit down.
  Began reader = Begin();
  ASSERT_EQ(reader.rc, 0);
  for (int i = 0; i < 4; ++i) {
    const std::string key = "r" + std::to_string(i);
    ASSERT_EQ(CommitChanges({Change(1, table, MakeRecord(key + "a", 4, 8)),
                             Change(1, table, MakeRecord(key + "b", 4, 8))}),
              0);
  }
  EXPECT_EQ(DKLTS0(500001).on_disk, 1);
  ASSERT_EQ(End(reader.tss, NewSets(), kEndAbort), 0);
  int commits = 0;
  for (; commits < 10 && DKLTS0(500001).on_disk != -1; ++commits) {
    const std::string key = "s" + std::to_string(commits);
    ASSERT_EQ(CommitChanges({Change(1, table, MakeRecord(key + "a", 4, 8)),
                             Change(1, table, MakeRecord(key + "b", 4, 8))}),
              0);
  }
  EXPECT_LT(commits, 10);
  EXPECT_EQ(DKLTS0(500002).on_disk, 1000);
}

}  // namespace
