// Bulk load over the databank kernel's own sort runs: rows loaded (LOA),
// merged (MRG), loaded again and built (SRT), or loaded and built without
// a merge, leave the table and each index holding what single inserts of
// the same rows leave.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "du/row_change_internal.h"
#include "du/table_internal.h"
#include "du/table_load.h"
#include "du/tests/descriptions.h"
#include "du/tests/kernel_fixture.h"

namespace {

class KernelLoadTest : public KernelRecordAccessTest {
 protected:
  static constexpr int32_t kSingle = 60, kLoaded = 61, kRecLen = 40;

  void SetUp() override {
    KernelRecordAccessTest::SetUp();
    if (HasFatalFailure()) return;
    W(dcb_ + DCB_TRANS_MODE) = 1;  // no write-set merge: the load's mode
    for (int32_t t : {kSingle, kLoaded})
      CreateDescribedTable(t, Description(kLid, 8, kRecLen, 800,
                                          {{3, t * 10 + 1, 16, 0, 0, 0, {8, 8, 0, 0, 8, 1}},
                                           {6, t * 10 + 2, 12, 0, 0, 0, {16, 4, -1, 0, 8, 1}}},
                                          {}));
    single_ = Record(kSingle, 3, 8, kRecLen);
    loaded_ = Record(kLoaded, 3, 8, kRecLen);
    ASSERT_EQ(Open(single_), 0);
    ASSERT_EQ(Open(loaded_), 0);
  }

  static void Put(std::vector<int32_t>& r, uint32_t key) {
    uint8_t* row = reinterpret_cast<uint8_t*>(r.data() + DUREC_RECORD);
    std::memset(row, 0, kRecLen);
    const uint32_t fields[3] = {key, key % 13, key * 3};
    const int at[3] = {4, 12, 16};
    for (int f = 0; f < 3; ++f)
      for (int i = 0; i < 4; ++i) row[at[f] + i] = uint8_t(fields[f] >> (24 - 8 * i));
  }
  int32_t Insert(uint32_t key) {
    Put(single_, key);
    DUInsertRow(base_, single_.data(), usr_);
    return single_[DUREC_STATUS];
  }
  int32_t Load(uint32_t key) {
    Put(loaded_, key);
    DULoadRows(base_, loaded_.data());
    return loaded_[DUREC_STATUS];
  }

  // Every stored record of the object of `block`, in key order.
  static std::vector<std::string> Scan(int32_t* block) {
    std::vector<std::string> records;
    const auto* bytes = reinterpret_cast<const char*>(block + DUREC_RECORD);
    std::memset(block + DUREC_RECORD, 0, static_cast<size_t>(block[DUREC_KEYLEN]));
    for (int32_t mode = 1;; mode = -2) {
      block[DUREC_STATUS] = mode;
      DUKernel(DK_FET1, block + DUREC_FETCH_REQUEST);
      if (block[DUREC_STATUS] != 0) break;
      records.emplace_back(bytes, static_cast<size_t>(block[DUREC_RECLEN]));
    }
    EXPECT_GT(block[DUREC_STATUS], 0) << "the scan failed";
    return records;
  }
  // The stored rows of the table, then the entries of each index.
  std::vector<std::vector<std::string>> Stored(const std::vector<int32_t>& r) {
    std::vector<std::vector<std::string>> all;
    std::vector<int32_t> table(r);
    table[DUREC_HANDLE] = 0;
    all.push_back(Scan(table.data()));
    for (int32_t icb = W(r[DUREC_OBJECT] + TCB_ICB); icb != 0; icb = W(icb)) {
      du::Block index;
      EXPECT_TRUE(du::IndexBlock(base_, icb, r.data(), nullptr, &index));
      all.push_back(Scan(index.data()));
    }
    return all;
  }

  // The loaded table and its indexes hold `rows` records each, those the
  // single inserts left (the indexes are other tables; their entries match).
  void ExpectSameAsSingle(size_t rows) {
    const auto single = Stored(single_), loaded = Stored(loaded_);
    ASSERT_EQ(single.size(), 3u);
    ASSERT_EQ(loaded.size(), 3u);
    for (size_t k = 0; k < single.size(); ++k) {
      SCOPED_TRACE("object " + std::to_string(k));
      EXPECT_EQ(loaded[k].size(), rows);
      EXPECT_TRUE(loaded[k] == single[k]);
    }
  }

  std::vector<int32_t> single_, loaded_;
};

// Rows held before the load, rows loaded in two parts with a merge
// between them (or none), then the build: the table and its indexes hold
// every row and entry, as single inserts leave them.
TEST_F(KernelLoadTest, LoadsEqualSingleInserts) {
  size_t total = 0;
  for (bool merge : {true, false}) {
    SCOPED_TRACE(merge ? "LOA, MRG, LOA, SRT" : "LOA, SRT");
    std::mt19937 rng(merge ? 5 : 6);
    std::vector<uint32_t> keys(600);
    for (size_t i = 0; i < keys.size(); ++i) keys[i] = uint32_t(i * 7 + (merge ? 1 : 100000));
    std::shuffle(keys.begin(), keys.end(), rng);
    for (size_t i = 0; i < keys.size(); ++i) ASSERT_EQ(Insert(keys[i]), 0);
    total += keys.size();
    // The first rows are in the table before the load starts; with
    // `merge`, the table is loaded again after the merge.
    for (size_t i = 0; i < 40; ++i) {
      Put(loaded_, keys[i]);
      DUInsertRow(base_, loaded_.data(), usr_);
      ASSERT_EQ(loaded_[DUREC_STATUS], 0);
    }
    for (size_t i = 40; i < keys.size(); ++i) {
      ASSERT_EQ(Load(keys[i]), 0) << i;
      if (merge && i == 300) {
        DUMergeRows(base_, loaded_.data());
        ASSERT_EQ(loaded_[DUREC_STATUS], 0);
        EXPECT_EQ(loaded_[DUREC_FETCH_CODE], DU_LOAD_MERGED);
      }
    }
    DUSortRows(base_, loaded_.data());
    ASSERT_EQ(loaded_[DUREC_STATUS], 0);
    EXPECT_EQ(loaded_[DUREC_FETCH_CODE], 0);
    EXPECT_EQ(loaded_[DUREC_LOAD_HANDLE], 0);
    ExpectSameAsSingle(total);
  }
}

// A load merged and then built at once, with nothing loaded after the
// merge, keeps every row.
TEST_F(KernelLoadTest, MergeThenSortKeepsTheRows) {
  for (uint32_t k = 1; k <= 200; ++k) {
    ASSERT_EQ(Insert(k * 5), 0);
    ASSERT_EQ(Load(k * 5), 0);
  }
  DUMergeRows(base_, loaded_.data());
  ASSERT_EQ(loaded_[DUREC_STATUS], 0);
  DUSortRows(base_, loaded_.data());
  ASSERT_EQ(loaded_[DUREC_STATUS], 0);
  ExpectSameAsSingle(200);
}

// Rows of one key loaded before and after an MRG, and a loaded row of a key
// the table held before the load: the table keeps the first row of each
// key and the indexes only its entries, as single inserts do; SRT answers
// 1 for the rows dropped.
TEST_F(KernelLoadTest, RepeatedKeysAcrossAMergeKeepTheFirstRow) {
  auto put = [&](std::vector<int32_t>& r, uint32_t key, uint32_t a) {
    Put(r, key);
    uint8_t* row = reinterpret_cast<uint8_t*>(r.data() + DUREC_RECORD);
    for (int i = 0; i < 4; ++i) row[16 + i] = uint8_t(a >> (24 - 8 * i));
  };
  auto both = [&](uint32_t key, uint32_t a, bool load) {
    put(single_, key, a);
    DUInsertRow(base_, single_.data(), usr_);
    const int32_t single = single_[DUREC_STATUS];
    put(loaded_, key, a);
    if (load)
      DULoadRows(base_, loaded_.data());
    else
      DUInsertRow(base_, loaded_.data(), usr_);
    return std::make_pair(single, loaded_[DUREC_STATUS]);
  };
  ASSERT_EQ(both(7, 1, false), std::make_pair(0, 0));  // held before the load
  uint32_t serial = 100;
  for (uint32_t k = 1; k <= 60; ++k) ASSERT_EQ(both(k, serial++, true).second, 0);
  DUMergeRows(base_, loaded_.data());
  ASSERT_EQ(loaded_[DUREC_STATUS], 0);
  for (uint32_t k = 30; k <= 90; ++k) ASSERT_EQ(both(k, serial++, true).second, 0);
  DUSortRows(base_, loaded_.data());
  EXPECT_EQ(loaded_[DUREC_STATUS], 1);
  ExpectSameAsSingle(90);
}

}  // namespace
