// A transaction's changes of rows kept in step between its write set and
// its cache (DKAFC1) and a roll back to a mark (DKRCM1): reads of the next
// statement after random changes, several of a row under one sequence word,
// agree with a model.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <random>

#include "dk/databank_file.h"
#include "dk/set_requests.h"
#include "dk/tests/transaction_cache_fixture.h"

namespace {

class CacheChangesTest : public TransactionCacheTest {
 protected:
  void SetUp() override {
    TransactionCacheTest::SetUp();
    ws_ = MakeSet(5, -1);
    tx_ = Begin();
  }
  // The write set's block with the change record of `row` from word 15.
  std::vector<int32_t> ChangeBlock(int32_t code, int32_t seq, const std::string& row) {
    std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0);
    b[SETRQ_TABLE] = ws_;
    b[SETRQ_TBL] = -1;
    b[AFC_TSS] = tx_.tss;
    b[AFC_MODE] = code;
    b[AFC_TABLE] = t_.entry;
    b[AFC_TBL] = t_.tbl;
    b[AFC_KEY_LENGTH] = kKey;
    b[AFC_RECORD_LENGTH] = kLength;
    b[AFC_SEQUENCE] = seq;
    std::memcpy(b.data() + AFC_ROW, row.data(), kLength);
    return b;
  }
  // Record access's side of a change: DKAFC1 gives its kind (4: the row's
  // first change), the change goes to the write set and the cache record
  // names its place there. The kind, or DKAFC1's negative answer.
  int32_t Change(int32_t code, int32_t seq, const std::string& row) {
    std::vector<int32_t> b = ChangeBlock(code, seq, row);
    DKEXE1(5, b.data());
    if (b[AFC_ANSWER] < 0) return b[AFC_ANSWER];
    const int32_t kind = b[AFC_ANSWER] == 0 ? b[AFC_MODE] : code;
    b[SETRQ_RC] = 0;
    b[AFC_MODE] = kind;
    b[SETRQ_LENGTH] = WSC_ROW + kLength / 4;
    EXPECT_EQ(DKAXR0(b), 0);
    std::vector<int32_t> c = Request(tx_.tss, kind, seq, row);
    c[TC_POSITION] = b[SETRQ_PAGE];
    c[TC_POSITION + 1] = b[SETRQ_POSITION];
    EXPECT_EQ(Send(39, c), 0);
    return kind;
  }
  void Mark(int32_t number) { AppendTo(ws_, {kCodeMark, 0, number}); }
  // The codes of the write set's records in order.
  std::vector<int32_t> Codes() {
    std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0), codes;
    b[SETRQ_TABLE] = ws_;
    b[SETRQ_TBL] = -1;
    for (b[SETRQ_RC] = 2; DKGXN0(b) == 0; b[SETRQ_RC] = 0) codes.push_back(b[SETRQ_RECORD]);
    return codes;
  }
  int32_t RollBack(int32_t mark) {
    std::vector<int32_t> b = ChangeBlock(0, 0, Row(0, 0));
    b[AFC_ANSWER] = mark;
    DKEXE1(48, b.data());
    return b[AFC_ANSWER];
  }

  int32_t ws_ = 0;
  Began tx_{};
};

TEST_F(CacheChangesTest, LaterChangesSupersedeEarlierOnesAndARollBackRestoresThem) {
  ASSERT_EQ(Insert(t_, Row(3, 30)), 0);
  EXPECT_EQ(Change(kChangeInsert, 1, Row(1, 10)), kChangeInsert);
  Mark(7);
  EXPECT_EQ(Change(kChangeDelete, 2, Row(1, 10)), kChangeMarker);
  EXPECT_EQ(Codes(), (std::vector<int32_t>{51, kCodeMark, kChangeMarker}));
  EXPECT_EQ(CheckRow(tx_.tss, 10, Row(1, 0)), 1) << "inserted and deleted again";
  std::string out;
  EXPECT_EQ(FetchRow(tx_.tss, 10, Row(1, 0), &out), 1);
  // An insert after the insert was deleted is the insert again.
  EXPECT_EQ(Change(kChangeInsert, 3, Row(1, 11)), kChangeInsert);
  EXPECT_EQ(Codes(), (std::vector<int32_t>{51, kCodeMark, 60, kChangeInsert}));
  // Updates: of an own insert it stays an insert, of a stored row an update.
  EXPECT_EQ(Change(kChangeUpdate, 4, Row(1, 12)), kChangeInsert);
  EXPECT_EQ(Change(kChangeUpdate, 5, Row(3, 31)), kChangeUpdate);
  EXPECT_EQ(Change(kChangeDelete, 6, Row(3, 31)), kChangeDelete);
  EXPECT_EQ(Codes(), (std::vector<int32_t>{51, kCodeMark, 60, 51, kChangeInsert, 52, 4}));
  EXPECT_EQ(FetchRow(tx_.tss, 10, Row(1, 0), &out), 0);
  EXPECT_EQ(ValueOf(out), 12);
  EXPECT_EQ(CheckRow(tx_.tss, 10, Row(3, 0)), 1);

  // Back to the mark: the changes after it leave the cache, the insert
  // before it is current again.
  EXPECT_EQ(RollBack(7), 0);
  EXPECT_EQ(Codes()[0], kChangeInsert);
  EXPECT_EQ(FetchRow(tx_.tss, 10, Row(1, 0), &out), 0);
  EXPECT_EQ(ValueOf(out), 10);
  EXPECT_EQ(CheckRow(tx_.tss, 10, Row(3, 0)), 0) << "the stored row, unchanged";
  EXPECT_EQ(CacheRecords().size(), 1u);
}

// Changes through DKAFC1, marks and one roll back to a mark in random order:
// after each step the rows the transaction reads through the cache (or,
// where it holds nothing, from the table) agree with a model.
TEST_F(CacheChangesTest, ReadsAfterChangesAndARollBackAgreeWithAModel) {
  constexpr int32_t kKeys = 8;
  std::mt19937 rng(16);
  std::map<int32_t, int32_t> model;
  for (int32_t key = 0; key < kKeys; key += 2) {
    ASSERT_EQ(Insert(t_, Row(key, 1000 + key)), 0);
    model[key] = 1000 + key;
  }
  // The write set keeps the changes behind a mark after a roll back, so one
  // roll back is made.
  std::vector<std::pair<int32_t, std::map<int32_t, int32_t>>> marks;
  int32_t seq = 0;
  bool rolled_back = false;
  for (int step = 0; step < 300; ++step) {
    const uint32_t r = rng() % 10;
    if (r == 0) {
      const int32_t mark = static_cast<int32_t>(marks.size()) + 1;
      Mark(mark);
      marks.push_back({mark, model});
    } else if (r == 1 && !marks.empty() && !rolled_back) {
      rolled_back = true;
      const size_t i = rng() % marks.size();
      ASSERT_EQ(RollBack(marks[i].first), 0) << "step " << step;
      model = marks[i].second;
    } else {
      const int32_t key = static_cast<int32_t>(rng() % kKeys);
      const int32_t value = static_cast<int32_t>(rng() % 1000);
      int32_t code = kChangeInsert;
      if (model.count(key)) code = rng() % 2 ? kChangeUpdate : kChangeDelete;
      ASSERT_GT(Change(code, ++seq, Row(key, value)), 0) << "step " << step;
      if (code == kChangeDelete) {
        model.erase(key);
      } else {
        model[key] = value;
      }
    }
    for (int32_t key = 0; key < kKeys; ++key) {
      std::string out;
      const int32_t rc = FetchRow(tx_.tss, seq + 1, Row(key, 0), &out);
      std::optional<std::string> seen;
      if (rc == 0) seen = out;
      if (rc == 4) seen = BaseRow(Row(key, 0));
      ASSERT_EQ(seen.has_value(), model.count(key) != 0)
          << "step " << step << " key " << key << " answer " << rc;
      if (seen) {
        ASSERT_EQ(ValueOf(*seen), model[key]) << "step " << step << " key " << key;
      }
    }
  }
  EXPECT_TRUE(rolled_back);
}

// Changes of few rows in random order, many of them under one sequence
// word (one statement changing a row again), with marks between statements
// and one roll back: after each step the rows the next statement reads
// through the cache forwards, backwards and by the check agree with a
// model of the table and the changes.
TEST_F(CacheChangesTest, ChangesUnderOneSequenceAgreeWithAModel) {
  constexpr int32_t kKeys = 4;
  std::mt19937 rng(1616);
  std::map<int32_t, int32_t> model;
  for (int32_t key = 0; key < kKeys; key += 2) {
    ASSERT_EQ(Insert(t_, Row(key, 1000 + key)), 0);
    model[key] = 1000 + key;
  }
  const std::map<int32_t, int32_t> base = model;
  std::vector<std::pair<int32_t, std::map<int32_t, int32_t>>> marks;
  int32_t seq = 1, repeated = 0;
  std::map<int32_t, int32_t> last_sequence;
  bool rolled_back = false;
  auto verify = [&](int step) {
    for (int32_t key = 0; key < kKeys; ++key) {
      std::optional<int32_t> want;
      if (model.count(key)) want = model[key];
      std::string out;
      const int32_t rc = FetchRow(tx_.tss, seq + 1, Row(key, 0), &out);
      ASSERT_TRUE(rc == 0 || rc == 1 || rc == 4) << rc;
      std::optional<int32_t> seen;
      if (rc == 0) seen = ValueOf(out);
      if (rc == 4 && base.count(key)) seen = base.at(key);
      ASSERT_EQ(seen, want) << "step " << step << " key " << key;
      EXPECT_EQ(CheckRow(tx_.tss, seq + 1, Row(key, 0)), rc == 0   ? 4
                                                         : rc == 1 ? 1
                                                                   : 0)
          << "step " << step << " key " << key;
      std::vector<int32_t> b = Request(tx_.tss, 1, seq + 1, Row(key, 0));
      DKEXE1(29, b.data());
      const std::string back(reinterpret_cast<const char*>(b.data() + TC_ROW), kLength);
      const bool same_key = back.substr(0, kKey) == Row(key, 0).substr(0, kKey);
      if (b[TC_MODE] == 4 || !same_key) {
        EXPECT_EQ(rc, 4) << "backwards, step " << step << " key " << key;
      } else {
        EXPECT_EQ(b[TC_MODE], rc) << "backwards, step " << step << " key " << key;
        if (rc == 0) {
          EXPECT_EQ(ValueOf(back), *want) << "backwards, step " << step << " key " << key;
        }
      }
    }
  };
  for (int step = 0; step < 400; ++step) {
    const uint32_t r = rng() % 20;
    if (r == 0) {
      ++seq;
      const int32_t mark = static_cast<int32_t>(marks.size()) + 1;
      Mark(mark);
      marks.push_back({mark, model});
    } else if (r == 1 && !marks.empty() && !rolled_back) {
      rolled_back = true;
      const size_t i = rng() % marks.size();
      ASSERT_EQ(RollBack(marks[i].first), 0) << "step " << step;
      model = marks[i].second;
      ++seq;
    } else if (r < 5) {
      ++seq;
    } else {
      const int32_t key = static_cast<int32_t>(rng() % kKeys);
      const int32_t value = static_cast<int32_t>(rng() % 1000);
      int32_t code = kChangeInsert;
      if (model.count(key)) code = rng() % 2 ? kChangeUpdate : kChangeDelete;
      ASSERT_GT(Change(code, seq, Row(key, value)), 0) << "step " << step;
      repeated += last_sequence[key] == seq;
      last_sequence[key] = seq;
      if (code == kChangeDelete) {
        model.erase(key);
      } else {
        model[key] = value;
      }
    }
    verify(step);
    if (HasFatalFailure()) return;
  }
  EXPECT_TRUE(rolled_back);
  EXPECT_GT(repeated, 50) << "rows changed again under one sequence word";
}

// A roll back while the cache's databank carries the mark keeps the cache
// records it would remove and still ends, making the earlier change current.
TEST_F(CacheChangesTest, ARollBackUnderTheMarkKeepsTheRecordsAndEnds) {
  EXPECT_EQ(Change(kChangeInsert, 1, Row(1, 10)), kChangeInsert);
  Mark(3);
  EXPECT_EQ(Change(kChangeUpdate, 2, Row(1, 11)), kChangeInsert);
  EXPECT_EQ(Change(kChangeUpdate, 2, Row(1, 12)), kChangeInsert);
  const int32_t seqno = area_[trans_ + DBE_SEQNO];
  area_[trans_ + DBE_SEQNO] = 100000;
  EXPECT_EQ(RollBack(3), 0);
  area_[trans_ + DBE_SEQNO] = seqno;
  EXPECT_EQ(Codes(), (std::vector<int32_t>{kChangeInsert, kCodeMark, 51, kChangeInsert}));
  EXPECT_EQ(CacheRecords().size(), 3u);
}

TEST_F(CacheChangesTest, BadChangesAndMissingMarksAreRefused) {
  EXPECT_EQ(Change(3, 1, Row(1, 1)), -86);
  std::vector<int32_t> b = ChangeBlock(kChangeInsert, 1, Row(1, 1));
  b[AFC_TSS] = 0;
  DKEXE1(5, b.data());
  EXPECT_EQ(b[AFC_ANSWER], -85);
  b = ChangeBlock(kChangeInsert, 1, Row(1, 1));
  b[AFC_TBL] = 1234;
  DKEXE1(5, b.data());
  EXPECT_EQ(b[AFC_ANSWER], -46);
  EXPECT_EQ(Change(kChangeInsert, 1, Row(1, 10)), kChangeInsert);
  EXPECT_EQ(RollBack(9), -55) << "no such mark";
  // A cache record whose write-set place holds another row is a corrupt
  // write set; one whose place is no place of the set is refused by the
  // set routines.
  std::vector<int32_t> c = Request(tx_.tss, kChangeInsert, 2, Row(2, 20));
  ASSERT_EQ(Send(39, c), 0);
  EXPECT_EQ(Change(kChangeUpdate, 3, Row(2, 21)), -66);
  c = Request(tx_.tss, kChangeInsert, 2, Row(4, 40));
  c[TC_POSITION] = 1 << 20;
  c[TC_POSITION + 1] = 99999;
  ASSERT_EQ(Send(39, c), 0);
  EXPECT_LT(Change(kChangeUpdate, 3, Row(4, 41)), 0);
  EXPECT_EQ(Codes(), (std::vector<int32_t>{kChangeInsert}));
}

}  // namespace
