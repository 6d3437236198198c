// The TSS overflow: a transaction that stays open keeps every later secured
// entry in the TSS hash, since its view may still ask for them; once no
// entry is left to begin with, the background stores the secured entries
// as records of the kernel's TSS table and gives them back, so commits go
// on, and the writer lookup still finds them until the view has moved on.
#include <gtest/gtest.h>

#include "dk/stored_tss.h"
#include "dk/tests/transaction_fixture.h"
#include "dk/transaction_cache.h"

namespace {

class TssOverflowTest : public TransactionTest {};

TEST_F(TssOverflowTest, CommitsGoOnOnceEveryEntryIsTaken) {
  StartBackground(1);
  Table t = CreateTable(77, 4, 8);
  Began old = Begin();
  ASSERT_EQ(old.rc, 0);
  const int32_t entries = area_[BP_TSS_COUNT];
  const int commits = 3 * entries;
  for (int i = 0; i < commits; ++i) {
    const std::string a = MakeRecord("a" + std::to_string(i), 4, 8);
    const std::string b = MakeRecord("b" + std::to_string(i), 4, 8);
    ASSERT_EQ(CommitChanges({Change(1, t, a), Change(1, t, b)}), 0) << "commit " << i;
    ASSERT_LT(TssInUse(), entries) << "commit " << i;
  }
  EXPECT_EQ(Rows(t).size(), static_cast<size_t>(2 * commits));
  EXPECT_GE(area_[BP_TSS_OVERFLOWED], entries - 2);
  EXPECT_EQ(area_[BP_TSS_DELETED], 0);
  // The first commit's entry is gone, its record there for the writer
  // lookup of a check the old transaction's view may still make.
  const int32_t first = old.start + 1;
  CacheWriter w;
  ASSERT_TRUE(DKFindStoredTss(first, &w));
  EXPECT_EQ(w.state, TSS_SECURED);
  EXPECT_EQ(DKLTS0(first).state, TSS_SECURED);
  EXPECT_LE(area_[BP_TSS_OVERFLOW_LOW_START], first);
  EXPECT_GE(area_[BP_TSS_OVERFLOW_HIGH_START], first);

  // Once the old transaction ends, every view holds those commits: the
  // records go at the next requests the master takes.
  Sets s = NewSets();
  AppendTo(s.write, Header(0, {}));
  ASSERT_EQ(End(old.tss, s, kEndAbort), 0);
  for (int i = 0; i < 3; ++i) {
    const std::string a = MakeRecord("c" + std::to_string(i), 4, 8);
    const std::string b = MakeRecord("d" + std::to_string(i), 4, 8);
    ASSERT_EQ(CommitChanges({Change(1, t, a), Change(1, t, b)}), 0);
  }
  EXPECT_FALSE(DKFindStoredTss(first, &w));
  EXPECT_EQ(area_[BP_TSS_DELETED], area_[BP_TSS_OVERFLOWED]);
}

// The low start limit the scan stores is lowered to the lowest start number
// stored while stored records may still be asked for.
TEST_F(TssOverflowTest, LowStartLimitCountsStoredRecords) {
  struct Case {
    const char* what;
    int32_t overflowed, deleted, bound, low_view, stored_low, lowest, limit;
  } cases[] = {
      {"nothing stored", 0, 0, 500, 100, 7, 40, 40},
      {"stored, all purged", 5, 5, 500, 100, 7, 40, 40},
      {"stored, still asked for", 5, 2, 500, 100, 7, 40, 7},
      {"stored above the lowest start", 5, 2, 500, 100, 70, 40, 40},
      {"stored below every view", 5, 2, 90, 100, 7, 40, 40},
  };
  for (const Case& c : cases) {
    area_[BP_TSS_OVERFLOWED] = c.overflowed;
    area_[BP_TSS_DELETED] = c.deleted;
    area_[BP_TSS_OVERFLOW_BOUND] = c.bound;
    area_[BP_LOW_VIEW_TRANS] = c.low_view;
    area_[BP_TSS_OVERFLOW_LOW_START] = c.stored_low;
    EXPECT_EQ(DKLowStartWithStored(c.lowest), c.limit) << c.what;
  }
}

// A scan that finds no entry leaves the low start limit as it was: set to
// the largest value, the cache checks would take every writer begun before
// the next scan for an old one and drop its records unchecked.
TEST_F(TssOverflowTest, ScanOfAnEmptyHashKeepsTheLowStartLimit) {
  area_[BP_LOW_START_TRANS] = 5;
  EXPECT_EQ(DKScanTransactionStates(), 0);
  EXPECT_EQ(area_[BP_LOW_START_TRANS], 5);
  Began t = Begin();
  ASSERT_EQ(t.rc, 0);
  EXPECT_EQ(DKScanTransactionStates(), 0);
  EXPECT_EQ(area_[BP_LOW_START_TRANS], t.start);
}

// Below the overflow limit and with entries free, secured entries a view
// still holds stay in the hash and nothing is stored.
TEST_F(TssOverflowTest, NothingIsStoredWhileEntriesAreLeft) {
  StartBackground(1);
  Table t = CreateTable(77, 4, 8);
  Began old = Begin();
  ASSERT_EQ(old.rc, 0);
  for (int i = 0; i < 10; ++i) {
    const std::string a = MakeRecord("a" + std::to_string(i), 4, 8);
    const std::string b = MakeRecord("b" + std::to_string(i), 4, 8);
    ASSERT_EQ(CommitChanges({Change(1, t, a), Change(1, t, b)}), 0);
  }
  EXPECT_EQ(area_[BP_TSS_OVERFLOWED], 0);
  EXPECT_EQ(TssInUse(), 11);
  EXPECT_EQ(area_[BP_TSS_SECURED], 10);
}

}  // namespace
