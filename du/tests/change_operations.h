// The insert, delete, update and scan calls of a test over the parent and
// child tables (du/tests/descriptions.h), both open for one user; rows made
// of numbers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <tuple>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "du/record_operations.h"
#include "du/tests/descriptions.h"
#include "du/transactions.h"
#include "kernel/control_blocks.h"
#include "kernel/word_storage.h"

struct RowValue {
  int64_t id = 0;
  std::optional<int64_t> ref;  // parent: the unique column; child: the parent's id
  int64_t v = 0;
  bool operator==(const RowValue& o) const { return id == o.id && ref == o.ref && v == o.v; }
};

// The change calls over a fixture `Base` that gives the word storage
// (`base_`, `W`), a user (`usr_`), the databank's `dcb_`, and `Record` and
// `Open` of a table's record block.
template <class Base>
class ChangeTestOn : public Base {
 protected:
  using Base::base_;
  using Base::usr_;

  static constexpr int32_t kRecLen = 40;

  // `merge` false gives the databank TRANS_MODE 1: changes go to the tables
  // directly.
  void OpenTables(bool merge) {
    this->W(this->dcb_ + DCB_TRANS_MODE) = merge ? 3 : 1;
    parent_ = this->Record(ParentChild::kParent, 3, 8, kRecLen);
    child_ = this->Record(ParentChild::kChild, 3, 8, kRecLen);
    ASSERT_EQ(this->Open(parent_), 0);
    ASSERT_EQ(this->Open(child_), 0);
    DSGetMem(base_, &work_, WRK_BYTES + 32768);
  }
  // Called before each change and scan: a fixture whose kernel keeps
  // changes by statement starts a new one here.
  virtual void NextStatement() {}

  static void PutNumber(uint8_t* at, int64_t n) {
    for (int i = 7; i >= 0; --i, n >>= 8) at[i] = static_cast<uint8_t>(n & 0xff);
  }
  static int64_t GetNumber(const uint8_t* at) {
    int64_t n = 0;
    for (int i = 0; i < 8; ++i) n = (n << 8) | at[i];
    return n;
  }
  static uint8_t* Buffer(std::vector<int32_t>& r) {
    return reinterpret_cast<uint8_t*>(r.data() + DUREC_RECORD);
  }
  // Key, then the reference (8 bytes of 255 for null), then the value.
  static void Put(std::vector<int32_t>& r, const RowValue& row) {
    uint8_t* b = Buffer(r);
    std::memset(b, 0, kRecLen);
    PutNumber(b, row.id);
    if (row.ref)
      PutNumber(b + 8, *row.ref);
    else
      std::memset(b + 8, 255, 8);
    PutNumber(b + 16, row.v);
  }
  static RowValue Get(std::vector<int32_t>& r) {
    const uint8_t* b = Buffer(r);
    RowValue row;
    row.id = GetNumber(b);
    if (b[8] != 255) row.ref = GetNumber(b + 8);
    row.v = GetNumber(b + 16);
    return row;
  }

  int32_t Insert(std::vector<int32_t>& r, const RowValue& row) {
    NextStatement();
    Put(r, row);
    DUInsertRow(base_, r.data(), usr_);
    return r[DUREC_STATUS];
  }
  // Reads the row of `id` into the block; 0 or 100.
  int32_t Read(std::vector<int32_t>& r, int64_t id) {
    NextStatement();
    std::memset(Buffer(r), 0, kRecLen);
    PutNumber(Buffer(r), id);
    DUReadRowByKey(base_, r.data(), usr_);
    return r[DUREC_STATUS];
  }
  int32_t Delete(std::vector<int32_t>& r, int64_t id) {
    if (int32_t rc = Read(r, id); rc != 0) return rc;
    DUDEL1(base_, r.data(), usr_);
    return r[DUREC_STATUS];
  }
  // Reads the row of `id`, prepares it for update and writes `row` over it.
  int32_t Update(std::vector<int32_t>& r, int64_t id, const RowValue& row, int32_t marker = 0) {
    if (int32_t rc = Read(r, id); rc != 0) return rc;
    DUPrepareForUpdate(base_, r.data(), usr_);
    if (r[DUREC_STATUS] != 0) return r[DUREC_STATUS];
    Put(r, row);
    r[DUREC_STATUS] = marker;
    DURowOp1(base_, r.data(), usr_);
    return r[DUREC_STATUS];
  }
  // Every row of the table in key order (or backwards, reversed back).
  std::vector<RowValue> Scan(std::vector<int32_t>& r, bool forward) {
    NextStatement();
    std::vector<RowValue> rows;
    std::vector<int32_t> s = r;
    std::memset(Buffer(s), forward ? 0 : 255, 8);
    s[DUREC_FETCH_CODE] = forward ? 1 : 2;
    s[DUREC_STATUS] = 0;
    for (int n = 0; n < 100000; ++n) {
      DUFetchRow(base_, s.data(), usr_, work_);
      if (s[DUREC_STATUS] != 0) {
        EXPECT_EQ(s[DUREC_STATUS], DU_NO_ROW);
        break;
      }
      rows.push_back(Get(s));
      s[DUREC_STATUS] = 0;
    }
    if (!forward) std::reverse(rows.begin(), rows.end());
    return rows;
  }

  // A violation put off under SET_MARK_FLAG: the change that causes it,
  // the change that resolves it, the changes that bring the rows back, and
  // the commit's answer while it stands.
  struct PutOffCase {
    const char* name;
    std::function<int32_t()> violate, resolve, undo;
    int32_t at_commit;
  };
  // Each case twice, standing and resolved before the end: the rows as the
  // transaction sees them at its end decide the commit.
  void RunPutOffCases(const std::vector<PutOffCase>& cases) {
    for (const PutOffCase& c : cases) {
      SCOPED_TRACE(c.name);
      for (bool resolved : {false, true}) {
        SCOPED_TRACE(resolved);
        ASSERT_EQ(this->Begin(1), 0);
        EXPECT_EQ(c.violate(), 0);
        EXPECT_EQ(this->W(this->W(usr_ + USR_TP) + TP_TRANSACTION_CHECK_COUNT), 1);
        if (resolved) {
          EXPECT_EQ(c.resolve(), 0);
        }
        EXPECT_EQ(this->End(END_AFTER_SUCCESS), resolved ? 0 : c.at_commit);
        if (resolved) {
          ASSERT_EQ(this->Begin(1), 0);
          EXPECT_EQ(c.undo(), 0);
          ASSERT_EQ(this->End(END_AFTER_SUCCESS), 0);
        }
      }
    }
  }

  // The record block of the parent's unique index, opened.
  void OpenIndex() {
    index_ = this->Record(ParentChild::kParentUnique, 3, 16, 16);
    index_[DUREC_TYPE] = DU_TYPE_INDEX;
    index_[DUREC_KEY_FLAG] = ParentChild::kParent;
    ASSERT_EQ(this->Open(index_), 0);
    for (int32_t k = 0; k < 6; ++k)
      index_[DUREC_LID + k] = this->W(index_[DUREC_OBJECT] + ICB_LID + k);
    index_[DUREC_MERGE] = parent_[DUREC_MERGE];
  }
  // The parent's rows in the order of the unique column (nulls last), then
  // of the key, read through the index.
  std::vector<RowValue> ByColumn(bool forward) {
    NextStatement();
    std::vector<RowValue> rows;
    std::vector<int32_t> t = parent_, x = index_;
    std::memset(Buffer(x), forward ? 0 : 255, 16);
    x[DUREC_FETCH_CODE] = forward ? 1 : 2;
    x[DUREC_STATUS] = 0;
    for (int n = 0; n < 10000; ++n) {
      DUGetRowIx(base_, t.data(), x.data(), usr_, work_);
      if (x[DUREC_STATUS] != 0) {
        EXPECT_EQ(x[DUREC_STATUS], DU_NO_ROW);
        break;
      }
      rows.push_back(Get(t));
      x[DUREC_STATUS] = 0;
    }
    return rows;
  }
  // The rows of the model in the index's order.
  static std::vector<RowValue> Ordered(const std::map<int64_t, RowValue>& rows, bool forward) {
    std::vector<RowValue> v;
    for (const auto& [id, r] : rows) v.push_back(r);
    std::sort(v.begin(), v.end(), [&](const RowValue& a, const RowValue& b) {
      const uint64_t ka = a.ref ? static_cast<uint64_t>(*a.ref) : UINT64_MAX;
      const uint64_t kb = b.ref ? static_cast<uint64_t>(*b.ref) : UINT64_MAX;
      return forward ? std::tie(ka, a.id) < std::tie(kb, b.id)
                     : std::tie(ka, a.id) > std::tie(kb, b.id);
    });
    return v;
  }
  // Scans of the parent through its unique index, with the transaction's
  // changes of the column, agree with a model; the unique fetch finds the
  // row of a value and none for a value nobody has.
  void RunIndexScans() {
    OpenTables(true);
    OpenIndex();
    std::map<int64_t, RowValue> model;
    std::mt19937 rng(5);
    ASSERT_EQ(this->Begin(1), 0);
    for (int64_t id = 1; id <= 30; ++id) {
      RowValue r{id, std::nullopt, id};
      if (rng() % 4 != 0) r.ref = 100 + static_cast<int64_t>(rng() % 1000);
      if (Insert(parent_, r) == 0) model[id] = r;
    }
    ASSERT_EQ(this->End(END_AFTER_SUCCESS), 0);
    ASSERT_EQ(this->Begin(1), 0);
    for (int n = 0; n < 20; ++n) {
      const int64_t id = 1 + static_cast<int64_t>(rng() % 30);
      if (!model.count(id)) continue;
      if (rng() % 3 == 0) {
        ASSERT_EQ(Delete(parent_, id), 0);
        model.erase(id);
      } else {
        RowValue r = model[id];
        r.ref = 2000 + static_cast<int64_t>(rng() % 1000);
        if (Update(parent_, id, r) == 0) model[id] = r;
      }
      EXPECT_EQ(ByColumn(true), Ordered(model, true)) << n;
      EXPECT_EQ(ByColumn(false), Ordered(model, false)) << n;
    }
    // The unique fetch: the row of a value, none for a value nobody has.
    const RowValue some = model.begin()->second;
    if (some.ref) {
      NextStatement();
      std::vector<int32_t> t = parent_, x = index_;
      PutNumber(Buffer(x), *some.ref);
      DUGetUnique(base_, t.data(), x.data(), usr_, work_);
      ASSERT_EQ(x[DUREC_STATUS], 0);
      EXPECT_EQ(Get(t), some);
      EXPECT_TRUE(x[DUREC_FETCH_CODE] == 3 || x[DUREC_FETCH_CODE] == 7);
      PutNumber(Buffer(x), 99);
      DUGetUnique(base_, t.data(), x.data(), usr_, work_);
      EXPECT_EQ(x[DUREC_STATUS], DU_NO_ROW);
    }
    EXPECT_EQ(this->End(END_AFTER_SUCCESS), 0);
    // Committed, the rows come the same way.
    ASSERT_EQ(this->Begin(1), 0);
    EXPECT_EQ(ByColumn(true), Ordered(model, true));
    EXPECT_EQ(this->End(END_AFTER_SUCCESS), 0);
  }

  std::vector<int32_t> parent_, child_;
  std::vector<int32_t> index_;
  int32_t work_ = 0;
};
