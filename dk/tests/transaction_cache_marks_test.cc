// The transaction cache for rows that refer to large objects (20-byte keys,
// 44-byte rows): the counter and value a transaction keeps in its own
// records, the mark of an applied change, and the object a removed delete
// gives back.
#include <gtest/gtest.h>

#include "dk/databank_file.h"
#include "dk/large_object.h"
#include "dk/page_runs.h"
#include "dk/set_requests.h"
#include "dk/tests/transaction_fixture.h"
#include "dk/transaction_cache.h"

namespace {

// Rows that refer to large objects: a 20-byte key and 44-byte rows whose
// cache records carry a counter (row bytes 36 to 39) and a mark (40 to 43).
class CacheMarksTest : public TransactionTest {
 protected:
  static constexpr int32_t kKey = 20, kLength = 44;
  void SetUp() override {
    TransactionTest::SetUp();
    t_ = CreateTable(61, kKey, kLength);
    ws_ = MakeSet(5, -1);
    tx_ = Begin();
  }
  static std::string Row(int32_t id) {
    std::string r(kLength, '\0');
    for (int i = 0; i < 4; ++i) r[i] = static_cast<char>(id >> (24 - 8 * i));
    return r;
  }
  // The change record of `row` appended to the write set and cached as the
  // transaction's change `seq`, through a table kind of 6.
  std::vector<int32_t> Record(int32_t code, int32_t seq, const std::string& row) {
    std::vector<int32_t> r(WSC_ROW + kLength / 4, 0);
    r[WSC_CODE] = code;
    r[WSR_KIND] = kKindLobRefs;
    r[WSC_TABLE] = t_.entry;
    r[WSC_TBL] = t_.tbl;
    r[WSC_KEY_LENGTH] = kKey;
    r[WSC_RECORD_LENGTH] = kLength;
    r[WSC_SEQUENCE] = seq;
    std::memcpy(r.data() + WSC_ROW, row.data(), kLength);
    return r;
  }
  void Cache(int32_t code, int32_t seq, const std::string& row) {
    std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0);
    b[SETRQ_TABLE] = ws_;
    b[SETRQ_TBL] = -1;
    std::vector<int32_t> r = Record(code, seq, row);
    b[SETRQ_LENGTH] = static_cast<int32_t>(r.size());
    std::copy(r.begin(), r.end(), b.begin() + SETRQ_RECORD);
    ASSERT_EQ(DKAXR0(b), 0);
    std::vector<int32_t> c(static_cast<size_t>(TcRequestWords(kLength) + 2), 0);
    c[TC_POSITION] = b[SETRQ_PAGE];
    c[TC_POSITION + 1] = b[SETRQ_POSITION];
    c[TC_TSS] = tx_.tss;
    c[TC_MODE] = code;
    c[TC_TABLE_KIND] = kKindLobRefs;
    c[TC_TABLE] = t_.entry;
    c[TC_TBL] = t_.tbl;
    c[TC_KEY_LENGTH] = kKey;
    c[TC_RECORD_LENGTH] = kLength;
    c[TC_SEQUENCE] = seq;
    std::memcpy(c.data() + TC_ROW, row.data(), kLength);
    DKEXE1(39, c.data());
    ASSERT_EQ(c[TC_MODE], 0);
  }
  // The transaction's row through the cache: words 9 and 10 of the row.
  std::pair<int32_t, int32_t> CounterAndMark(const std::string& row) {
    std::vector<int32_t> c(static_cast<size_t>(TcRequestWords(kLength) + 2), 0);
    c[TC_TSS] = tx_.tss;
    c[TC_MODE] = 2;
    c[TC_TABLE] = t_.entry;
    c[TC_TBL] = t_.tbl;
    c[TC_KEY_LENGTH] = kKey;
    c[TC_RECORD_LENGTH] = kLength;
    c[TC_SEQUENCE] = 100;
    std::memcpy(c.data() + TC_ROW, row.data(), kKey);
    DKEXE1(28, c.data());
    EXPECT_EQ(c[TC_MODE], 0);
    return {c[TC_ROW + 9], c[TC_ROW + 10]};
  }
  int32_t Adjust(int32_t seq, int32_t increment, int32_t value, const std::string& row) {
    std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0);
    b[SETRQ_TABLE] = ws_;
    b[SETRQ_TBL] = -1;
    b[14] = tx_.tss;
    b[15] = increment;
    b[19] = t_.entry;
    b[20] = t_.tbl;
    b[21] = kKey;
    b[22] = kLength;
    b[24] = seq;
    std::memcpy(b.data() + 25, row.data(), kKey);
    b[35] = value;
    DKEXE1(64, b.data());
    return b[0];
  }
  // Word `w` of the write set's last record.
  int32_t LastRecordWord(int32_t w) {
    std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0);
    b[SETRQ_TABLE] = ws_;
    b[SETRQ_TBL] = -1;
    EXPECT_EQ(DKGXP0(b), 0);
    return b[SETRQ_RECORD + w];
  }

  Table t_;
  int32_t ws_ = 0;
  Began tx_{};
};

TEST_F(CacheMarksTest, OwnRecordsOfAKeyTakeACounterAndAValue) {
  Cache(kChangeInsert, 5, Row(1));
  EXPECT_EQ(CounterAndMark(Row(1)), std::make_pair(0, 1)) << "inserted with its object";
  EXPECT_EQ(Adjust(5, 3, 0, Row(1)), 0);
  EXPECT_EQ(Adjust(5, 4, 0, Row(1)), 0);
  EXPECT_EQ(CounterAndMark(Row(1)).first, 7);
  EXPECT_EQ(LastRecordWord(WSC_ROW + 9), 7) << "the write set's record follows";
  EXPECT_EQ(Adjust(5, 0, 77, Row(1)), 0);
  EXPECT_EQ(CounterAndMark(Row(1)), std::make_pair(7, 77));
  EXPECT_EQ(Adjust(0, 1, 0, Row(1)), -43) << "sequence 0";
  EXPECT_EQ(Adjust(6, 2, 0, Row(1)), -43) << "no own record of that sequence";
  EXPECT_EQ(Adjust(5, 2, 0, Row(2)), -43) << "no own record of that key";
}

TEST_F(CacheMarksTest, AppliedChangesAreMarkedForTheirCommitOnly) {
  Cache(kChangeInsert, 1, Row(1));
  std::vector<int32_t> change = Record(kChangeInsert, 1, Row(1));
  EXPECT_EQ(DKUPT0(change, 9, 0), -43) << "the writer has no commit number yet";
  area_[tx_.tss + TSS_COMMIT] = 9;
  EXPECT_EQ(DKUPT0(change, 8, 0), -43) << "another commit";
  change[WSC_CODE] = kChangeDelete;
  EXPECT_EQ(DKUPT0(change, 9, 0), -43) << "another kind";
  change[WSC_CODE] = kChangeInsert;
  EXPECT_EQ(DKUPT0(change, 9, 0), 0);
  EXPECT_EQ(CounterAndMark(Row(1)).second, 0);
  area_[tx_.tss + TSS_COMMIT] = 0;
}

// A transaction that removes its delete of a row whose object it took over
// (row bytes 40 to 43 not 0) gives the object's run of pages back.
TEST_F(CacheMarksTest, RemovingTheDeleteOfARowWithItsObjectFreesThePages) {
  auto free_units = [&] {
    const int32_t b = Get(db_, 0, kUnitBytes, GET_SHARED);
    const int32_t free = PageWord(PageBytes(b), BMP_FREE);
    DKPUT0(PUT_END_SHARED, b);
    return free;
  };
  auto remove = [&](int32_t kind, int32_t table_kind, int32_t did, const std::string& row) {
    std::vector<int32_t> c(static_cast<size_t>(TcRequestWords(kLength) + 2), 0);
    c[TC_TSS] = tx_.tss;
    c[TC_MODE] = kind;
    c[TC_DID] = did;
    c[TC_TABLE_KIND] = table_kind;
    c[TC_TABLE] = t_.entry;
    c[TC_TBL] = t_.tbl;
    c[TC_KEY_LENGTH] = kKey;
    c[TC_RECORD_LENGTH] = kLength;
    c[TC_SEQUENCE] = 2;
    std::memcpy(c.data() + TC_ROW, row.data(), kLength);
    DKEXE1(21, c.data());
    return c[TC_MODE];
  };
  // DKFNT1 of the row for the next statement: 1 while the delete is cached.
  auto cached = [&](const std::string& row) {
    std::vector<int32_t> c(static_cast<size_t>(TcRequestWords(kLength) + 2), 0);
    c[TC_TSS] = tx_.tss;
    c[TC_MODE] = 2;
    c[TC_TABLE] = t_.entry;
    c[TC_TBL] = t_.tbl;
    c[TC_KEY_LENGTH] = kKey;
    c[TC_RECORD_LENGTH] = kLength;
    c[TC_SEQUENCE] = 3;
    std::memcpy(c.data() + TC_ROW, row.data(), kKey);
    DKEXE1(28, c.data());
    return c[TC_MODE] == 1;
  };
  struct Case {
    const char* what;
    int32_t kind, table_kind, did, mark, answer;
    bool freed, removed, keep = false;
  } cases[] = {
      {"a cache kept by a copy's mark", kChangeDelete, kKindLobRefs, 5, 1, 0, false, false, true},
      {"another databank's DID", kChangeDelete, kKindLobRefs, 9, 1, -45, false, false},
      {"an object not taken over", kChangeDelete, kKindLobRefs, 5, 0, 0, false, true},
      {"a table of another kind", kChangeDelete, 1, 5, 1, 0, false, true},
      {"no delete of that row", kChangeUpdate, kKindLobRefs, 5, 1, 5, false, false},
      {"the delete of a row with its object", kChangeDelete, kKindLobRefs, 5, 1, 0, true, true},
  };
  int32_t id = 0;
  for (const Case& c : cases) {
    int32_t runs = 0, first = 0;
    ASSERT_EQ(DKALC0(db_, 16384, 3, &runs, &first), 0) << c.what;
    ASSERT_EQ(runs, 0);
    std::string row = Row(++id);
    const int32_t run[RUN_WORDS] = {first, 77, 16384, 3};
    std::memcpy(row.data() + LDR_FIRST_PAGE, run, sizeof run);
    std::memcpy(row.data() + 40, &c.mark, 4);
    Cache(kChangeDelete, 2, row);
    // Counted once the write set has its pages on the same databank.
    const int32_t held = free_units();
    const int32_t seqno = area_[trans_ + DBE_SEQNO];
    if (c.keep) area_[trans_ + DBE_SEQNO] = 100000;
    EXPECT_EQ(remove(c.kind, c.table_kind, c.did, row), c.answer) << c.what;
    area_[trans_ + DBE_SEQNO] = seqno;
    EXPECT_EQ(free_units(), c.freed ? held + 3 * 8 : held) << c.what;
    EXPECT_EQ(cached(row), !c.removed) << c.what;
    if (c.freed) {
      EXPECT_EQ(remove(c.kind, c.table_kind, c.did, row), kStatusNotFound) << "nothing to remove";
      EXPECT_EQ(free_units(), held + 3 * 8) << "no page freed twice";
    } else {
      EXPECT_EQ(DKDLC0(db_, first, 8, 3, nullptr), 0) << "the pages were still held";
    }
  }
}

}  // namespace
