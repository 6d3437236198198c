// A copy of a databank made current (DKOCD1): every named table of the
// first copy (a tree, a compressed tree, a set) holds the same records in the
// copy afterwards, the LOG databank's restore directory comes along, and
// requests naming no such copy, or finding no table entry left, are refused.
#include <gtest/gtest.h>

#include "dk/databank_copies.h"
#include "dk/restore_directory.h"
#include "dk/set_requests.h"
#include "dk/set_table.h"
#include "dk/table_cursor.h"
#include "dk/tests/table_fixture.h"

namespace {

class CopyCurrentTest : public TableTest {
 protected:
  int32_t Ocd(std::vector<int32_t> dids, int32_t seqno, bool rebuild = false) {
    std::vector<int32_t> rq(OCD_WORDS, 0);
    int32_t n = static_cast<int32_t>(dids.size());
    rq[OCD_COUNT] = rebuild ? -n : n;
    rq[OCD_SEQNO] = seqno;
    for (int32_t i = 0; i < n && i < 4; ++i) rq[OCD_FIRST_DID + i] = dids[i];
    DKEXE1(43, rq.data());
    return rq[0];
  }
  // The table entry of `first`'s chain on `databank`.
  int32_t On(int32_t first, int32_t databank) {
    for (int32_t t = first; t > 0; t = area_[t + TBE_NEXT])
      if (area_[t + TBE_DATABANK] == databank) return t;
    return 0;
  }
  // Every record of a table entry, in key order.
  std::vector<std::string> Records(int32_t entry, const Table& t) {
    std::vector<int32_t> c(static_cast<size_t>(CursorBlockWords(t.length)) + 1, 0);
    c[CUR_STATUS] = FET_FROM_KEY;
    c[CUR_TABLE] = entry;
    c[CUR_TBL] = t.tbl;
    c[CUR_KEY_LENGTH] = t.key;
    c[CUR_RECORD_LENGTH] = t.length;
    std::vector<std::string> out;
    for (DKFET1(c.data()); c[CUR_STATUS] == 0; DKFET1(c.data())) {
      out.emplace_back(reinterpret_cast<const char*>(c.data() + CUR_RECORD), t.length);
      c[CUR_STATUS] = FET_NEXT;
    }
    EXPECT_EQ(c[CUR_STATUS], kStatusEnd);
    return out;
  }
  // Every record of a set entry, in order.
  std::vector<std::vector<int32_t>> SetRecords(int32_t entry, int32_t tbl) {
    std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0);
    b[SETRQ_TABLE] = entry;
    b[SETRQ_TBL] = tbl;
    std::vector<std::vector<int32_t>> out;
    for (;;) {
      b[SETRQ_RC] = 0;
      if (DKGXN0(b) != 0) break;
      out.emplace_back(b.begin() + SETRQ_RECORD, b.begin() + SETRQ_RECORD + b[SETRQ_LENGTH]);
    }
    return out;
  }
};

TEST_F(CopyCurrentTest, TablesOfTheFirstCopyAreCopiedIntoTheCopy) {
  Table plain = CreateTable(70, 4, 120, 2048, 2048);
  Table packed = CreateTable(71, 6, 300, 16384, 2048, nullptr, 1);
  for (int i = 0; i < 150; ++i) {
    ASSERT_EQ(Insert(plain, MakeRecord(std::to_string(1000 + i), 4, 120, 'a' + i % 20)), 0);
    ASSERT_EQ(Insert(packed, MakeRecord(std::to_string(100000 + 7 * i), 6, 300)), 0);
  }
  int32_t crt[CRT_WORDS] = {};
  crt[RQ_DID] = 5;
  crt[RQ_TYPE] = 10 * kKindSet;
  crt[RQ_TBL] = 80;
  DKCRT1(crt);
  ASSERT_EQ(crt[RQ_STATUS], 0);
  const int32_t set = crt[RQ_TABLE];
  for (int32_t i = 0; i < 30; ++i) {
    std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0);
    b[SETRQ_TABLE] = set;
    b[SETRQ_TBL] = 80;
    b[SETRQ_LENGTH] = 50 + i;
    for (int32_t w = 0; w < 50 + i; ++w) b[SETRQ_RECORD + w] = i * 1000 + w;
    DKEXE1(6, b.data());
    ASSERT_EQ(b[SETRQ_RC], 0);
  }
  Flush();
  // The copy comes after the tables: it holds none of them.
  const int32_t copy = Create("copy", 4000, 5, 4);
  EXPECT_EQ(Ocd({5}, 4), 0);

  for (const Table* t : {&plain, &packed}) {
    SCOPED_TRACE(t->tbl);
    const int32_t target = On(t->entry, copy);
    ASSERT_GT(target, 0);
    std::vector<std::string> expected = Records(t->entry, *t), got = Records(target, *t);
    EXPECT_EQ(got.size(), 150u);
    EXPECT_EQ(got, expected);
  }
  const int32_t set_copy = On(set, copy);
  ASSERT_GT(set_copy, 0);
  EXPECT_EQ(SetRecords(set_copy, 80), SetRecords(set, 80));
  EXPECT_EQ(SetRecords(set_copy, 80).size(), 30u);

  // Made current again: the copy's tables are replaced, not doubled.
  ASSERT_EQ(Insert(plain, MakeRecord("9999", 4, 120)), 0);
  EXPECT_EQ(Ocd({5}, 4), 0);
  EXPECT_EQ(Records(On(plain.entry, copy), plain).size(), 151u);
  EXPECT_EQ(SetRecords(On(set, copy), 80).size(), 30u);
}

TEST_F(CopyCurrentTest, TheLogDatabanksRestoreDirectoryComesAlong) {
  const int32_t log = Create("log", 64, 3, 1);
  area_[BP_LOG_ENTRY] = log;
  int32_t add[ROO_WORDS];
  std::fill(add, add + ROO_WORDS, -1);
  add[ROO_CODE] = 5;
  add[ROO_DATABANK] = log;
  add[ROO_OTHER_DID] = 33;
  add[ROO_STAMP] = 12;
  ASSERT_EQ(DKROO1(add), 0);
  const int32_t copy = Create("logcopy", 64, 3, 2);
  ASSERT_EQ(FileWord("logcopy", kHeaderUnit, HDR_RESTORE_DIRECTORY), 0);
  EXPECT_EQ(Ocd({3}, 2), 0);
  int32_t lookup[ROO_WORDS];
  std::fill(lookup, lookup + ROO_WORDS, -1);
  lookup[ROO_CODE] = 14;
  lookup[ROO_DATABANK] = copy;
  lookup[ROO_OTHER_DID] = 33;
  EXPECT_EQ(DKROO1(lookup), 0);
  EXPECT_EQ(lookup[ROO_STAMP], 12);
}

TEST_F(CopyCurrentTest, RequestsThatNameNoCopyOrRunOutOfTableEntries) {
  Table t = CreateTable(72, 4, 40);
  ASSERT_EQ(Insert(t, MakeRecord("1", 4, 40)), 0);
  Create("copy", 400, 5, 4);
  EXPECT_EQ(Ocd({5}, 9), -47);  // no copy with the SEQNO
  EXPECT_EQ(Ocd({5}, 3), -47);  // the first copy is the source, not a copy
  EXPECT_EQ(Ocd({8}, 4), -47);  // no such databank
  EXPECT_EQ(Ocd({5, 8}, 4), -47);
  // Every free table entry taken: the copy's entry cannot be made.
  int32_t hash = area_[BP_TABLE_HASH];
  std::vector<int32_t> taken;
  for (int32_t e = DKHMA0(hash); e > 0; e = DKHMA0(hash)) taken.push_back(e);
  EXPECT_EQ(Ocd({5}, 4), -14);
  for (int32_t e : taken) DKHML0(hash, e);
  EXPECT_EQ(Ocd({5}, 4), 0);
  // More than four databanks: four are taken, the fifth not looked at.
  EXPECT_EQ(Ocd({5, 5, 5, 5, 8}, 4), 0);
}

TEST_F(CopyCurrentTest, RebuildTakesSmallerPagesWhereTheRecordsFit) {
  Table t = CreateTable(73, 4, 200, 65536, 2048);
  for (int i = 0; i < 40; ++i) ASSERT_EQ(Insert(t, MakeRecord(std::to_string(100 + i), 4, 200)), 0);
  const int32_t copy = Create("copy", 400, 5, 6);
  EXPECT_EQ(Ocd({5}, 6, true), 0);
  const int32_t target = On(t.entry, copy);
  ASSERT_GT(target, 0);
  int32_t record = 0;
  int32_t b = GetRootEntry(target, GET_SHARED, 43, &record);
  ASSERT_GT(b, 0);
  EXPECT_EQ(area_[record + RE_DATA_PAGE_SIZE], 16384);
  EXPECT_EQ(area_[record + RE_INDEX_PAGE_SIZE], 2048);
  DKPUT0(PUT_END_SHARED, b);
  EXPECT_EQ(Records(target, t), Records(t.entry, t));
}

}  // namespace
