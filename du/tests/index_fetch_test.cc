// Fetches through an index and the read-set records of a run: a scan of the
// parent table in the order of its unique column, with the transaction's
// changes of that column, agrees with a model; the unique fetch; LSR and
// WFR records in the read set.
#include <gtest/gtest.h>

#include <random>

#include "du/tests/change_fixture.h"

namespace {

class IndexFetchTest : public ChangeTest {};

// A scan of the parent in the order of its unique column, with the
// transaction's changes of that column, agrees with a model; the unique
// fetch.
TEST_F(IndexFetchTest, ScansThroughTheIndexSeeTheTransactionsChanges) { RunIndexScans(); }

TEST_F(IndexFetchTest, LockedRowsAndFlushedScansGoToTheReadSet) {
  OpenTables(true);
  OpenIndex();
  ASSERT_EQ(Begin(1), 0);
  ASSERT_EQ(Insert(parent_, {1, 10, 100}), 0);
  ASSERT_EQ(Read(parent_, 1), 0);
  EXPECT_EQ(parent_[DUREC_FETCH_CODE], 7);  // from the write set
  DULockRow(base_, parent_.data(), usr_, work_);
  ASSERT_EQ(parent_[DUREC_STATUS], 0);
  EXPECT_EQ(parent_[DUREC_FETCH_CODE], -7);
  EXPECT_EQ(W(work_ + WRK_SCAN_MODE), 2);
  ASSERT_EQ(End(END_AFTER_SUCCESS), 0);
  ASSERT_EQ(Begin(1), 0);
  ASSERT_EQ(Read(parent_, 1), 0);
  EXPECT_EQ(parent_[DUREC_FETCH_CODE], 11);  // stored
  DULockRow(base_, parent_.data(), usr_, work_);
  ASSERT_EQ(parent_[DUREC_STATUS], 0);
  const RowValue before = Get(parent_);
  PutNumber(Buffer(index_), 10);
  DUWriteFlush(base_, index_.data(), usr_);
  ASSERT_EQ(index_[DUREC_STATUS], 0);
  EXPECT_EQ(Get(parent_), before);
  const auto& rs = kernel_.queues[W(Tp() + TP_RS_QTBL)].records;
  ASSERT_EQ(rs.size(), 2u);
  EXPECT_EQ(rs[0][0], 0);   // a stored row
  EXPECT_EQ(rs[1][0], -3);  // a key prefix
  EXPECT_EQ(rs[1].back(), 8);
  EXPECT_EQ(W(Tp() + TP_TRANSACTION_READ_COUNT), 2);
  EXPECT_EQ(End(END_AFTER_SUCCESS), 0);
  DULockRow(base_, parent_.data(), usr_, work_);
  EXPECT_EQ(parent_[DUREC_STATUS], DU_NO_TRANSACTION);
}

TEST_F(IndexFetchTest, ReadSetEntriesReadTheRowAgain) {
  OpenTables(true);
  ASSERT_EQ(Begin(1), 0);
  ASSERT_EQ(Insert(parent_, {1, 10, 100}), 0);
  ASSERT_EQ(End(END_AFTER_SUCCESS), 0);
  ASSERT_EQ(Begin(1), 0);
  ASSERT_EQ(Read(parent_, 1), 0);
  DULockRow(base_, parent_.data(), usr_, work_);
  ASSERT_EQ(parent_[DUREC_STATUS], 0);
  const int32_t position[2] = {1, 1};
  std::vector<int32_t> again = parent_;
  std::memset(Buffer(again), 0, kRecLen);
  DSReadSetCheck(base_, again.data(), usr_, position);
  ASSERT_EQ(again[DUREC_STATUS], 0);
  EXPECT_EQ(Get(again), (RowValue{1, 10, 100}));
  EXPECT_EQ(again[DUREC_FETCH_CODE], -11);  // the stored row
  ASSERT_EQ(Update(parent_, 1, {1, 10, 101}), 0);
  DSReadSetCheck(base_, again.data(), usr_, position);
  ASSERT_EQ(again[DUREC_STATUS], 0);
  EXPECT_EQ(Get(again), (RowValue{1, 10, 101}));
  EXPECT_EQ(again[DUREC_FETCH_CODE], -7);  // this transaction's new version
  std::vector<int32_t> other = child_;
  DSReadSetCheck(base_, other.data(), usr_, position);
  EXPECT_EQ(other[DUREC_STATUS], DU_READ_SET_MISMATCH);
  const int32_t nowhere[2] = {1, 9};
  DSReadSetCheck(base_, again.data(), usr_, nowhere);
  EXPECT_EQ(again[DUREC_STATUS], DU_NO_ROW);
  ASSERT_EQ(Delete(parent_, 1), 0);
  DSReadSetCheck(base_, again.data(), usr_, position);
  EXPECT_EQ(again[DUREC_STATUS], DU_ROW_GONE);
  EXPECT_EQ(End(END_ROLLBACK), 0);
  DSReadSetCheck(base_, again.data(), usr_, position);
  EXPECT_EQ(again[DUREC_STATUS], DU_NO_TRANSACTION);
}

}  // namespace

namespace {

// An index whose key is the table's own (the table block's word 0 set) is
// read through the table: the unique fetch reads the row of the requested
// key, a scan goes along the table from it, both as the transaction sees
// the rows; a descending part is turned back for the unique fetch, and
// parts that are not the table's key in order are refused.
TEST_F(IndexFetchTest, IndexOfTheTablesOwnKey) {
  upper_.descriptions[kParent] = Description(
      kLid, 8, kRecLen, 900,
      {{IX_UNIQUE_NULLS_FREE, kParentUnique, 16, 0, 0, 901, {8, 8, 0, 0, 8, 1}},
       {3, 112, 16, 0, 0, 902, {0, 8, 0, 0, 8, 1}},
       {3, 113, 16, 0, 0, 903, {0, 8, -1, 0, 8, 1}}},
      {{DESC_FOREIGN_KEY, kChildFk, kChild, kParent}});
  OpenTables(true);
  ASSERT_EQ(Begin(1), 0);
  for (int64_t id = 1; id <= 4; ++id) ASSERT_EQ(Insert(parent_, {id, std::nullopt, id}), 0);
  ASSERT_EQ(End(END_AFTER_SUCCESS), 0);
  ASSERT_EQ(Begin(1), 0);
  ASSERT_EQ(Insert(parent_, {5, std::nullopt, 5}), 0);
  ASSERT_EQ(Delete(parent_, 2), 0);
  ASSERT_EQ(Update(parent_, 3, {3, std::nullopt, 30}), 0);

  auto index = [&](int32_t number) {
    std::vector<int32_t> x = Record(number, 3, 16, 16);
    x[DUREC_TYPE] = DU_TYPE_INDEX;
    x[DUREC_KEY_FLAG] = kParent;
    EXPECT_EQ(Open(x), 0);
    for (int32_t k = 0; k < 6; ++k) x[DUREC_LID + k] = W(x[DUREC_OBJECT] + ICB_LID + k);
    x[DUREC_MERGE] = parent_[DUREC_MERGE];
    return x;
  };
  std::vector<int32_t> ascending = index(112), descending = index(113), other = index(kParentUnique);
  std::vector<int32_t> t = parent_;
  t[DUREC_KEY_FLAG] = 1;
  auto unique = [&](std::vector<int32_t>& x, int64_t id, bool complement) {
    PutNumber(Buffer(x), id);
    if (complement)
      for (int k = 0; k < 8; ++k) Buffer(x)[k] = static_cast<uint8_t>(~Buffer(x)[k]);
    DUGetUnique(base_, t.data(), x.data(), usr_, work_);
    return x[DUREC_STATUS];
  };
  ASSERT_EQ(unique(ascending, 3, false), 0);
  EXPECT_EQ(Get(t), (RowValue{3, std::nullopt, 30}));  // as the transaction changed it
  EXPECT_EQ(ascending[DUREC_FETCH_CODE], 99);
  ASSERT_EQ(unique(ascending, 5, false), 0);
  EXPECT_EQ(Get(t).v, 5);
  EXPECT_EQ(unique(ascending, 2, false), DU_NO_ROW);  // deleted
  EXPECT_EQ(ascending[DUREC_FETCH_CODE], -1);
  EXPECT_EQ(t[DUREC_FETCH_CODE], -1);
  ASSERT_EQ(unique(descending, 4, true), 0);
  EXPECT_EQ(Get(t).id, 4);
  EXPECT_EQ(unique(other, 4, false), DU_BAD_ARGUMENT);

  auto scan = [&](std::vector<int32_t>& x, bool forward, const uint8_t* stop, int32_t stop_len) {
    std::vector<int64_t> ids;
    std::memset(Buffer(x), forward ? 0 : 255, 16);
    x[DUREC_FETCH_CODE] = forward ? 1 : 2;
    x[DUREC_STATUS] = 0;
    for (int n = 0; n < 100; ++n) {
      DUFetchRowIx(base_, t.data(), x.data(), usr_, work_, stop, stop_len);
      if (x[DUREC_STATUS] != 0) {
        EXPECT_EQ(x[DUREC_STATUS], DU_NO_ROW);
        break;
      }
      EXPECT_EQ(std::memcmp(Buffer(x), Buffer(t), 8), 0);  // the row's key back in the index block
      ids.push_back(Get(t).id);
      x[DUREC_STATUS] = 0;
    }
    return ids;
  };
  EXPECT_EQ(scan(ascending, true, nullptr, 0), (std::vector<int64_t>{1, 3, 4, 5}));
  EXPECT_EQ(scan(ascending, false, nullptr, 0), (std::vector<int64_t>{5, 4, 3, 1}));
  uint8_t zeros[7] = {};
  EXPECT_EQ(scan(ascending, true, zeros, 7), (std::vector<int64_t>{1, 3, 4, 5}));
  uint8_t five[8] = {};
  PutNumber(five, 5);
  ascending[DUREC_FETCH_CODE] = 1;
  PutNumber(Buffer(ascending), 3);
  ascending[DUREC_STATUS] = 0;
  DUFetchRowIx(base_, t.data(), ascending.data(), usr_, work_, five, 8);
  EXPECT_EQ(ascending[DUREC_STATUS], DU_NO_ROW);  // row 3 lies outside the stop key
  // A scan along a descending key is not the table's order.
  descending[DUREC_FETCH_CODE] = 1;
  DUGetRowIx(base_, t.data(), descending.data(), usr_, work_);
  EXPECT_EQ(descending[DUREC_STATUS], DU_BAD_ARGUMENT);
  EXPECT_EQ(End(END_AFTER_SUCCESS), 0);
}

}  // namespace

namespace {

// A table block shorter than its table's rows: the index key rebuilt from
// the row, along key parts the table's row length bounds, would be read
// past its buffer.
TEST_F(IndexFetchTest, TableBlockShorterThanItsTableIsRefused) {
  OpenTables(true);
  OpenIndex();
  ASSERT_EQ(Begin(1), 0);
  ASSERT_EQ(Insert(parent_, {1, 10, 100}), 0);
  std::vector<int32_t> t(parent_.begin(), parent_.begin() + DurecWords(12));
  t[DUREC_RECLEN] = 12;
  std::vector<int32_t> x = index_;
  std::memset(Buffer(x), 0, 16);
  x[DUREC_FETCH_CODE] = 1;
  x[DUREC_STATUS] = 0;
  DUGetRowIx(base_, t.data(), x.data(), usr_, work_);
  EXPECT_EQ(x[DUREC_STATUS], DU_BAD_ARGUMENT);
  PutNumber(Buffer(x), 10);
  DUGetUnique(base_, t.data(), x.data(), usr_, work_);
  EXPECT_EQ(x[DUREC_STATUS], DU_BAD_ARGUMENT);
  EXPECT_EQ(End(END_ROLLBACK), 0);
}

}  // namespace
