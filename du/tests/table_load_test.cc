// Bulk load: rows fed into sort runs (LOA), merged (MRG) and built (SRT) on
// a model of the kernel's runs. The stored rows and index entries after
// loads equal those of single inserts; the first load keeps the rows the
// table held; a failing load gives every run back to the table.
#include "du/table_load.h"

#include <algorithm>
#include <random>

#include "du/record_operations.h"
#include "du/tests/run_model.h"
#include "du/tests/table_fixture.h"

namespace {

class TableLoadTest : public ModelTableTest {
 protected:
  static constexpr int32_t kSingle = 60, kLoaded = 61, kRecLen = 40;

  TableLoadTest() {
    for (int32_t t : {kSingle, kLoaded})
      upper_.descriptions[t] = Description(kLid, 8, kRecLen, 800,
                                           {{3, t * 10 + 1, 16, 0, 0, 0, {8, 8, 0, 0, 8, 1}},
                                            {6, t * 10 + 2, 12, 0, 0, 0, {16, 4, -1, 0, 8, 1}}},
                                           {});
    RunModel::Current() = &runs_;
    DUInstallKernelDispatcher(&RunModel::Dispatch);
    W(dcb_ + DCB_TRANS_MODE) = 1;
    single_ = Record(kSingle, 3, 8, kRecLen);
    loaded_ = Record(kLoaded, 3, 8, kRecLen);
    EXPECT_EQ(Open(single_), 0);
    EXPECT_EQ(Open(loaded_), 0);
  }
  ~TableLoadTest() override { RunModel::Current() = nullptr; }

  static void Put(std::vector<int32_t>& r, uint32_t key, uint32_t a, uint32_t b) {
    uint8_t* row = reinterpret_cast<uint8_t*>(r.data() + DUREC_RECORD);
    std::memset(row, 0, kRecLen);
    for (int i = 0; i < 4; ++i) {
      row[4 + i] = uint8_t(key >> (24 - 8 * i));
      row[12 + i] = uint8_t(a >> (24 - 8 * i));
      row[16 + i] = uint8_t(b >> (24 - 8 * i));
    }
  }
  int32_t Insert(std::vector<int32_t>& r, uint32_t key, uint32_t a, uint32_t b) {
    Put(r, key, a, b);
    DUInsertRow(base_, r.data(), usr_);
    return r[DUREC_STATUS];
  }
  int32_t Load(std::vector<int32_t>& r, uint32_t key, uint32_t a, uint32_t b) {
    Put(r, key, a, b);
    DULoadRows(base_, r.data());
    return r[DUREC_STATUS];
  }
  // The stored rows of the table and of each index, in key order.
  std::vector<std::vector<std::string>> Stored(const std::vector<int32_t>& r) {
    std::vector<std::vector<std::string>> all;
    auto contents = [&](int32_t tbl) {
      std::vector<std::string> rows;
      for (const auto& [key, row] : kernel_.rows[tbl]) rows.push_back(row);
      return rows;
    };
    all.push_back(contents(r[DUREC_TBL]));
    for (int32_t icb = W(r[DUREC_OBJECT] + TCB_ICB); icb != 0; icb = W(icb))
      all.push_back(contents(W(icb + ICB_TBL)));
    return all;
  }
  std::vector<int32_t> SortIds(const std::vector<int32_t>& r) {
    std::vector<int32_t> ids;
    for (int32_t icb = W(r[DUREC_OBJECT] + TCB_ICB); icb != 0; icb = W(icb))
      ids.push_back(W(icb + ICB_SORTID));
    return ids;
  }

  RunModel runs_;
  std::vector<int32_t> single_, loaded_;
};

TEST_F(TableLoadTest, MergeAndSortWithoutLoadChangeNothing) {
  ASSERT_EQ(Insert(loaded_, 1, 2, 3), 0);
  const auto before = Stored(loaded_);
  DUMergeRows(base_, loaded_.data());
  EXPECT_EQ(loaded_[DUREC_STATUS], 0);
  EXPECT_EQ(loaded_[DUREC_FETCH_CODE], DU_LOAD_MERGED);
  DUSortRows(base_, loaded_.data());
  EXPECT_EQ(loaded_[DUREC_STATUS], 0);
  EXPECT_EQ(loaded_[DUREC_FETCH_CODE], 0);
  EXPECT_TRUE(runs_.sent.empty());
  EXPECT_EQ(Stored(loaded_), before);
}

TEST_F(TableLoadTest, LoadsEqualSingleInsertsAndKeepTheRowsHeldBefore) {
  std::mt19937 rng(5);
  std::vector<uint32_t> keys(300);
  for (size_t i = 0; i < keys.size(); ++i) keys[i] = uint32_t(i * 7 + 1);
  std::shuffle(keys.begin(), keys.end(), rng);
  for (size_t i = 0; i < keys.size(); ++i) {
    const uint32_t k = keys[i];
    ASSERT_EQ(Insert(single_, k, k % 13, k * 3), 0);
    // The first 40 rows are in the table before the load starts.
    if (i < 40) {
      ASSERT_EQ(Insert(loaded_, k, k % 13, k * 3), 0);
    }
  }
  for (size_t i = 40; i < keys.size(); ++i) {
    const uint32_t k = keys[i];
    ASSERT_EQ(Load(loaded_, k, k % 13, k * 3), 0);
    EXPECT_EQ(loaded_[DUREC_FETCH_CODE], DU_LOAD_OPEN);
    if (i == 150) {
      DUMergeRows(base_, loaded_.data());
      ASSERT_EQ(loaded_[DUREC_STATUS], 0);
      EXPECT_EQ(loaded_[DUREC_FETCH_CODE], DU_LOAD_MERGED);
    }
  }
  EXPECT_GT(loaded_[DUREC_LOAD_HANDLE], 0);
  for (int32_t id : SortIds(loaded_)) EXPECT_GT(id, 0);
  DUSortRows(base_, loaded_.data());
  ASSERT_EQ(loaded_[DUREC_STATUS], 0);
  EXPECT_EQ(loaded_[DUREC_LOAD_HANDLE], 0);
  EXPECT_EQ(loaded_[DUREC_FETCH_CODE], 0);
  EXPECT_EQ(SortIds(loaded_), (std::vector<int32_t>{0, 0}));
  EXPECT_TRUE(runs_.runs.empty());
  EXPECT_EQ(Stored(loaded_), Stored(single_));
}

TEST_F(TableLoadTest, LoadThroughTheWriteSetIsRefused) {
  loaded_[DUREC_MERGE] = 1;
  EXPECT_EQ(Load(loaded_, 1, 2, 3), DU_LOAD_WITH_MERGE);
  EXPECT_TRUE(runs_.sent.empty());
}

// A feed that fails ends every run: each SORTID, word 13 and word 1 are 0,
// and the table has its rows back (those held before and those loaded).
// The row whose feed failed is in neither the table nor any index, also
// when the table's run or some index runs took it: the table and indexes
// equal those of the single inserts that succeeded. The first LOA feeds 0-5
// move the held index entries and rows, 6 and 7 are its keys, 8 its row;
// the second LOA's are 9, 10 and 11.
TEST_F(TableLoadTest, FailingLoadEndsEveryRunAndKeepsTheRows) {
  for (int32_t fail_at : {0, 1, 2, 5, 6, 7, 8, 9, 10, 11}) {
    kernel_.rows.clear();
    runs_ = RunModel();
    runs_.fail_feed = -1;
    for (uint32_t k : {100u, 200u}) {
      ASSERT_EQ(Insert(loaded_, k, k, k), 0);
      ASSERT_EQ(Insert(single_, k, k, k), 0);
    }
    runs_.fail_feed = runs_.feeds + fail_at;
    int32_t rc = 0;
    uint32_t k = 1;
    for (; k <= 3 && rc == 0; ++k) {
      rc = Load(loaded_, k, k, k);
      if (rc == 0) {
        ASSERT_EQ(Insert(single_, k, k, k), 0);
      }
    }
    ASSERT_LT(rc, 0) << fail_at;
    EXPECT_EQ(rc, -50 - 16140);
    EXPECT_EQ(loaded_[DUREC_FETCH_CODE], 0);
    EXPECT_EQ(loaded_[DUREC_LOAD_HANDLE], 0);
    EXPECT_EQ(SortIds(loaded_), (std::vector<int32_t>{0, 0}));
    EXPECT_TRUE(runs_.runs.empty());
    // Every row held before the load is there again.
    const auto stored = Stored(loaded_)[0];
    for (uint32_t held : {100u, 200u}) {
      bool found = false;
      for (const std::string& row : stored)
        found |= uint8_t(row[7]) == uint8_t(held) && row[6] == 0;
      EXPECT_TRUE(found) << fail_at << " " << held;
    }
    EXPECT_EQ(Stored(loaded_), Stored(single_)) << fail_at;
  }
}

// Loads whose rows repeat keys (of each other and of the rows held before),
// some with a feed failing and an MRG on the way, against single inserts:
// the table keeps the first row of each key, the held one first; the
// entries of the rows dropped go from every index, so that the table and
// indexes equal those of the single inserts that succeed. SRT answers 1
// when the load dropped rows. A failed row is in neither the table nor any
// index, and the next LOA starts a new load.
TEST_F(TableLoadTest, RepeatedKeysKeepTheFirstRowAndOnlyItsEntries) {
  for (uint32_t seed = 1; seed <= 60; ++seed) {
    std::mt19937 rng(seed);
    auto pick = [&](uint32_t n) { return uint32_t(rng() % n); };
    kernel_.rows.clear();
    runs_ = RunModel();
    uint32_t serial = 1;  // the unique column: never repeated
    for (int i = 0; i < 5; ++i) {
      const uint32_t k = pick(16), a = pick(3), b = serial++;
      const int32_t rc = Insert(single_, k, a, b);
      ASSERT_EQ(Insert(loaded_, k, a, b), rc);
    }
    runs_.fail_feed = seed % 3 == 0 ? int32_t(pick(100)) : -1;
    bool dropped = false;
    for (int i = 0; i < 30; ++i) {
      // With an MRG the keys after it are new: the rows dropped are the
      // MRG's only, and SRT still answers them.
      const bool merges = seed % 2 == 0;
      const uint32_t k = merges && i > 15 ? 100 + uint32_t(i) : pick(16);
      const uint32_t a = pick(3), b = serial++;
      const int32_t rc = Load(loaded_, k, a, b);
      if (rc != 0) {
        ASSERT_EQ(rc, -50 - 16140) << seed;
        EXPECT_EQ(loaded_[DUREC_LOAD_HANDLE], 0);
        EXPECT_TRUE(runs_.runs.empty());
        ASSERT_EQ(Stored(loaded_), Stored(single_)) << seed << " " << i;
        dropped = false;
        continue;
      }
      const int32_t single = Insert(single_, k, a, b);
      ASSERT_TRUE(single == 0 || single == 1) << single;
      dropped |= single == 1;
      if (i == 15 && merges) {
        DUMergeRows(base_, loaded_.data());
        ASSERT_EQ(loaded_[DUREC_STATUS], 0);
      }
    }
    DUSortRows(base_, loaded_.data());
    EXPECT_EQ(loaded_[DUREC_STATUS], dropped ? 1 : 0) << seed;
    EXPECT_EQ(loaded_[DUREC_LOAD_HANDLE], 0);
    EXPECT_TRUE(runs_.runs.empty());
    EXPECT_EQ(Stored(loaded_), Stored(single_)) << seed;
  }
}

TEST_F(TableLoadTest, DropRowsDuringALoadEndsItFirst) {
  ASSERT_EQ(Insert(loaded_, 9, 9, 9), 0);
  ASSERT_EQ(Load(loaded_, 1, 1, 1), 0);
  DUDropRows(base_, loaded_.data(), usr_, 0);
  EXPECT_EQ(loaded_[DUREC_STATUS], 0);
  EXPECT_EQ(loaded_[DUREC_LOAD_HANDLE], 0);
  EXPECT_EQ(SortIds(loaded_), (std::vector<int32_t>{0, 0}));
  EXPECT_TRUE(runs_.runs.empty());
  for (const auto& rows : Stored(loaded_)) EXPECT_TRUE(rows.empty());
}

// The inserts of a bulk-loading user go to the load's own tables (here the
// table's and its indexes' own, so they can be compared) with the checks.
TEST_F(TableLoadTest, InsertsOfALoadingUserGoToTheLoadTables) {
  const int32_t tcb = loaded_[DUREC_OBJECT];
  std::vector<int32_t> tables = {loaded_[DUREC_TBL]};
  for (int32_t icb = W(tcb + TCB_ICB); icb != 0; icb = W(icb)) tables.push_back(W(icb + ICB_TBL));
  ASSERT_EQ(DUNewLoadBlock(base_, usr_, tcb, tables.data()), 0);
  const int32_t lcb = W(usr_ + USR_LOADCB);
  EXPECT_EQ(W(lcb + LCB_INDEX_COUNT), 2);
  EXPECT_EQ(W(W(lcb + LCB_TABLE_ENTRY) + LCBT_KIND), 3);
  EXPECT_EQ(DUNewLoadBlock(base_, usr_, tcb, tables.data()), DU_BAD_ARGUMENT);
  W(usr_ + USR_LOCKED_TCB) = tcb;
  const int32_t inserts = kernel_.Sent(DK_INS1);
  for (uint32_t k = 1; k <= 20; ++k) {
    ASSERT_EQ(Insert(loaded_, k, k % 3, k), 0);
    ASSERT_EQ(Insert(single_, k, k % 3, k), 0);
  }
  EXPECT_EQ(kernel_.Sent(DK_INS1) - inserts, 2 * 20 * 3);
  EXPECT_EQ(Insert(loaded_, 5, 0, 99), 1);       // the key is there
  EXPECT_EQ(Insert(loaded_, 50, 0, 7), -10110);  // the unique column
  EXPECT_EQ(W(usr_ + USR_CURRENT_TABLE_SYSID), kLoaded);
  EXPECT_EQ(Stored(loaded_), Stored(single_));
  DUFreeLoadBlock(base_, usr_);
  EXPECT_EQ(W(usr_ + USR_LOADCB), 0);
  W(usr_ + USR_LOCKED_TCB) = 0;
}

// The kernel's inserts, the one counted `fail_insert` from 0 failing.
int32_t inserts_seen = 0, fail_insert = -1;
void FailOneInsert(int32_t code, int32_t* b) {
  if (code == DK_INS1 && inserts_seen++ == fail_insert) {
    b[0] = -50;
    return;
  }
  RunModel::Dispatch(code, b);
}

// A loading user's insert whose row or key the kernel refuses leaves no
// part of the row in the load's tables: neither the row nor a key inserted
// before the failure. A block whose index count does not fit it is refused
// before anything is inserted.
TEST_F(TableLoadTest, FailedInsertOfALoadingUserLeavesNoPartOfTheRow) {
  const int32_t tcb = loaded_[DUREC_OBJECT];
  std::vector<int32_t> tables = {loaded_[DUREC_TBL]};
  for (int32_t icb = W(tcb + TCB_ICB); icb != 0; icb = W(icb)) tables.push_back(W(icb + ICB_TBL));
  ASSERT_EQ(DUNewLoadBlock(base_, usr_, tcb, tables.data()), 0);
  W(usr_ + USR_LOCKED_TCB) = tcb;
  for (uint32_t k = 1; k <= 5; ++k) {
    ASSERT_EQ(Insert(loaded_, k, k % 3, k), 0);
    ASSERT_EQ(Insert(single_, k, k % 3, k), 0);
  }
  DUInstallKernelDispatcher(&FailOneInsert);
  for (int32_t at : {0, 1, 2}) {  // the row, its first key, its second key
    inserts_seen = 0;
    fail_insert = at;
    EXPECT_EQ(Insert(loaded_, 10, 1, 10), -50 - 16140) << at;
    EXPECT_EQ(Stored(loaded_), Stored(single_)) << at;
  }
  fail_insert = -1;
  const int32_t lcb = W(usr_ + USR_LOADCB);
  for (int32_t count : {-1, 1000}) {
    W(lcb + LCB_INDEX_COUNT) = count;
    inserts_seen = 0;
    EXPECT_EQ(Insert(loaded_, 11, 1, 11), DU_BAD_ARGUMENT) << count;
    EXPECT_EQ(inserts_seen, 0) << count;
  }
  W(lcb + LCB_INDEX_COUNT) = 2;
  ASSERT_EQ(Insert(loaded_, 10, 1, 10), 0);
  ASSERT_EQ(Insert(single_, 10, 1, 10), 0);
  EXPECT_EQ(Stored(loaded_), Stored(single_));
  DUInstallKernelDispatcher(&RunModel::Dispatch);
  DUFreeLoadBlock(base_, usr_);
  W(usr_ + USR_LOCKED_TCB) = 0;
}

}  // namespace
