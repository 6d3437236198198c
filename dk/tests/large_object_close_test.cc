// Closing large objects: directory records brought up to date in a table of
// another databank, the object's pages copied there once every part has
// arrived, records replaced, left alone or removed by mode, and the end of
// a large-object session.
#include <cstring>
#include <string>
#include <vector>

#include "dk/bitmap_page.h"
#include "dk/databank_restart.h"
#include "dk/large_object.h"
#include "dk/page_runs.h"
#include "dk/set_requests.h"
#include "dk/set_table.h"
#include "dk/table_cursor.h"
#include "dk/table_entries.h"
#include "dk/table_reshape.h"
#include "dk/tests/large_object_fixture.h"

namespace {

class LargeObjectCloseTest : public LargeObjectTest {
 protected:
  void SetUp() override {
    LargeObjectTest::SetUp();
    target_ = Create("copy", 2000, 6, 9);
    directory_ = CreateDirectory(5, 240);
    table_ = CreateDirectory(6, 300);
    work_[LWB_DIRECTORY] = directory_;
  }

  int32_t CreateDirectory(int32_t did, int32_t tbl) {
    int32_t b[CRT_WORDS] = {};
    b[RQ_DID] = did;
    b[RQ_TYPE] = 60;
    b[RQ_TBL] = tbl;
    b[RQ_KEY_LENGTH] = LDR_KEY_BYTES;
    b[RQ_RECORD_LENGTH] = LDR_BYTES;
    DKEXE1(16, b);
    EXPECT_EQ(b[RQ_STATUS], 0);
    return b[RQ_TABLE];
  }

  static void Big(uint8_t* p, int32_t v) {
    for (int i = 0; i < 4; ++i)
      p[i] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (24 - 8 * i));
  }
  // A directory record of part `part` of object 7 whose run of `pages`
  // middle pages starts at `first`; SEQNO field `seqno`. Laid out as record
  // access writes its directory rows: the key's integers (the identity
  // words 7, 0x5a5a, -7 its pages carry, the SEQNO, the part) big-endian,
  // the run and the rest in the machine's order.
  static std::vector<int32_t> Record(int32_t seqno, int32_t part, int32_t first, int32_t pages,
                                     int32_t stamp = 0) {
    std::vector<int32_t> r(LDR_BYTES / 4, 0);
    uint8_t* b = reinterpret_cast<uint8_t*>(r.data());
    Big(b + LDR_IDENTITY, 7);
    Big(b + LDR_IDENTITY + 4, 0x5a5a);
    Big(b + LDR_IDENTITY + 8, -7);
    Big(b + LDR_SEQNO, seqno);
    Big(b + LDR_PART, part);
    r[LDR_FIRST_PAGE / 4] = first;
    r[LDR_PAGE_SIZE / 4] = 16384;
    r[LDR_PAGES / 4] = pages;
    r[LDR_STAMP / 4] = stamp;
    return r;
  }
  int32_t InsertInto(int32_t table, int32_t tbl, const std::vector<int32_t>& record) {
    std::vector<int32_t> b(CLO_WORDS, 0);
    b[RQ_TABLE] = table;
    b[RQ_TBL] = tbl;
    b[RQ_RECORD_LENGTH] = LDR_BYTES;
    std::copy(record.begin(), record.end(), b.begin() + RQ_RECORD);
    DKEXE1(38, b.data());
    return b[RQ_STATUS];
  }
  // Sends a close of `record` for table 300 in mode `mode`; the request
  // comes back in *out.
  int32_t CloseRecord(int32_t mode, const std::vector<int32_t>& record,
                      std::vector<int32_t>* out = nullptr) {
    std::vector<int32_t> b(CLO_WORDS, 0);
    b[CLO_MODE] = mode;
    b[CLO_DID] = 6;
    b[RQ_TABLE] = table_;
    b[RQ_TBL] = 300;
    b[RQ_KEY_LENGTH] = LDR_KEY_BYTES;
    b[RQ_RECORD_LENGTH] = LDR_BYTES;
    std::copy(record.begin(), record.end(), b.begin() + RQ_RECORD);
    DKEXE2(DKF_CLO1, b.data(), work_);
    if (out) *out = b;
    return b[CLO_ANSWER];
  }
  // The record of table 300 (or of another directory's entry) with the key
  // of `record`; empty when none.
  std::vector<int32_t> Stored(const std::vector<int32_t>& record, int32_t table = 0,
                              int32_t tbl = 300) {
    std::vector<int32_t> c(CursorBlockWords(LDR_BYTES), 0);
    c[CUR_STATUS] = FET_FROM_KEY;
    c[CUR_TABLE] = table != 0 ? table : table_;
    c[CUR_TBL] = tbl;
    c[CUR_KEY_LENGTH] = LDR_KEY_BYTES;
    c[CUR_RECORD_LENGTH] = LDR_BYTES;
    std::copy(record.begin(), record.begin() + LDR_KEY_BYTES / 4, c.begin() + CUR_RECORD);
    DKFET1(c.data());
    if (c[CUR_STATUS] != 0 ||
        !std::equal(record.begin(), record.begin() + 5, c.begin() + CUR_RECORD))
      return {};
    return std::vector<int32_t>(c.begin() + CUR_RECORD, c.end());
  }
  // Puts `bytes` on a run of middle pages in the source databank; its first
  // page.
  int32_t SourcePart(const std::string& bytes, int32_t pages) {
    int32_t runs = 0, first = 0, counter = 0;
    EXPECT_EQ(DKALC0(db_, 16384, pages, &runs, &first), 0);
    Object o;
    EXPECT_EQ(DKELC0(first, 16384, pages, &o.list, &counter), 0);
    o.identity[0] = 7;
    o.identity[1] = 0x5a5a;
    o.identity[2] = -7;
    EXPECT_EQ(Put(o, 0, bytes), 0);
    return first;
  }
  // The object read in the target databank from its runs in order.
  std::string ReadTarget(const std::vector<std::pair<int32_t, int32_t>>& runs, int32_t length,
                         int32_t* rc = nullptr) {
    Object o;
    int32_t counter = 0;
    for (auto [first, pages] : runs) EXPECT_EQ(DKELC0(first, 16384, pages, &o.list, &counter), 0);
    o.identity[0] = 7;
    o.identity[1] = 0x5a5a;
    o.identity[2] = -7;
    auto b = Request(o);
    b[LOB_DID] = 6;
    b[LOB_COUNT] = length;
    std::string back(static_cast<size_t>(length), '\0');
    DKEXE2(DKF_GLO1, b.data(), back.data());
    if (rc)
      *rc = b[LOB_STATUS];
    else
      EXPECT_EQ(b[LOB_STATUS], 0);
    back.resize(static_cast<size_t>(std::max(0, b[LOB_COUNT])));
    return back;
  }

  // The 300 bytes of object 7 on the one page `page` of the first copy.
  std::string ReadObject(int32_t page) {
    Object o;
    int32_t counter = 0;
    EXPECT_EQ(DKELC0(page, 16384, 1, &o.list, &counter), 0);
    o.identity[0] = 7;
    o.identity[1] = 0x5a5a;
    o.identity[2] = -7;
    return Get(o, 0, 300);
  }
  // Empties the table entry `entry`, or drops TBL `tbl` (`which`: DKDRT1's
  // word 4) and closes the table `head` so that it is given back.
  static void EmptyOrDrop(bool drop, int32_t head, int32_t entry, int32_t tbl, int32_t which) {
    if (drop) {
      int32_t b[CRT_WORDS] = {0, 0, 5, 0, which, tbl};
      DKEXE1(24, b);
      ASSERT_EQ(b[RQ_STATUS], 0);
      int32_t close[CRT_WORDS] = {-22, 0, 0, 0, head, tbl};
      DKEXE1(13, close);
      ASSERT_EQ(close[RQ_STATUS], 0);
    } else {
      int32_t b[CRT_WORDS] = {0, 0, 0, 0, entry, tbl};
      DKEXE1(22, b);
      ASSERT_EQ(b[RQ_STATUS], 0);
    }
  }

  int32_t target_ = 0, directory_ = 0, table_ = 0;
  int32_t work_[LWB_WORDS] = {};
};

TEST_F(LargeObjectCloseTest, PagesAreCopiedOnceEveryPartHasArrived) {
  const std::string one = Pattern(2 * 16344, 1), two = Pattern(16344 + 100, 2);
  const int32_t first1 = SourcePart(one, 2), first2 = SourcePart(two, 2);
  ASSERT_EQ(InsertInto(directory_, 240, Record(3, 1, first1, 2)), 0);
  ASSERT_EQ(InsertInto(directory_, 240, Record(3, 2, first2, 2)), 0);
  const int64_t before = FreeUnits();

  // The second part first: it gets its run, nothing is copied yet.
  std::vector<int32_t> sent;
  ASSERT_EQ(CloseRecord(1, Record(9, 2, 0, 2), &sent), 0);
  std::vector<int32_t> stored2 = Stored(Record(9, 2, 0, 2));
  ASSERT_FALSE(stored2.empty());
  const int32_t target2 = stored2[LDR_FIRST_PAGE / 4];
  EXPECT_EQ(target2, sent[RQ_RECORD + LDR_FIRST_PAGE / 4]);
  int32_t rc = 0;
  EXPECT_EQ(ReadTarget({{target2, 2}}, 100, &rc), "");
  EXPECT_EQ(rc, -55) << "not copied yet: the pages carry no object";

  // The first part completes the object: both parts' pages are copied.
  ASSERT_EQ(CloseRecord(1, Record(9, 1, 0, 2)), 0);
  std::vector<int32_t> stored1 = Stored(Record(9, 1, 0, 2));
  ASSERT_FALSE(stored1.empty());
  const int32_t target1 = stored1[LDR_FIRST_PAGE / 4];
  EXPECT_EQ(ReadTarget({{target1, 2}, {target2, 2}}, 3 * 16344 + 100), one + two);
  EXPECT_EQ(FreeUnits(), before) << "the source databank lost no page";
  EXPECT_EQ(CloseRecord(-2, {}), 0);
  EXPECT_EQ(work_[LWB_NEW_PAGES], 0);
  EXPECT_EQ(work_[LWB_SOURCE_PAGES], 0);
}

TEST_F(LargeObjectCloseTest, ModesReplaceKeepOrRemoveTheRecord) {
  const int32_t first = SourcePart(Pattern(100, 3), 1);
  ASSERT_EQ(InsertInto(directory_, 240, Record(3, 1, first, 1)), 0);
  // Modes 2 and 4 change nothing when the record is not there.
  EXPECT_EQ(CloseRecord(2, Record(9, 1, 0, 1)), 0);
  EXPECT_EQ(CloseRecord(4, Record(9, 1, 0, 1)), 0);
  EXPECT_TRUE(Stored(Record(9, 1, 0, 1)).empty());
  ASSERT_EQ(CloseRecord(1, Record(9, 1, 0, 1, 5)), 0);
  std::vector<int32_t> stored = Stored(Record(9, 1, 0, 1));
  ASSERT_FALSE(stored.empty());
  const int32_t page = stored[LDR_FIRST_PAGE / 4];
  // The same bytes 36..43: no update, even with another run in the request.
  EXPECT_EQ(CloseRecord(2, Record(9, 1, 1234, 1, 5)), 0);
  EXPECT_EQ(Stored(Record(9, 1, 0, 1))[LDR_FIRST_PAGE / 4], page);
  // Other bytes 36..43: the record is replaced.
  EXPECT_EQ(CloseRecord(2, Record(9, 1, page, 1, 6)), 0);
  EXPECT_EQ(Stored(Record(9, 1, 0, 1))[LDR_STAMP / 4], 6);
  // Mode 4 removes it and frees its run.
  int32_t rq[REQ_WORDS] = {target_, page, 16384, 0, -1, 0};
  EXPECT_EQ(CloseRecord(4, Record(9, 1, 0, 1)), 0);
  EXPECT_TRUE(Stored(Record(9, 1, 0, 1)).empty());
  EXPECT_EQ(DKFRE0(rq, 0), -49) << "its page is free already";
}

TEST_F(LargeObjectCloseTest, BadDirectoriesAndSessionEnds) {
  work_[LWB_DIRECTORY] = table_;  // not table 240
  EXPECT_EQ(CloseRecord(1, Record(9, 1, 0, 1)), -46);
  work_[LWB_DIRECTORY] = 0;
  EXPECT_EQ(CloseRecord(2, Record(9, 1, 0, 1)), -46);
  work_[LWB_DIRECTORY] = directory_;
  std::vector<int32_t> b(CLO_WORDS, 0);
  b[CLO_MODE] = 1;
  b[RQ_TABLE] = table_;
  b[RQ_TBL] = 301;
  DKEXE2(DKF_CLO1, b.data(), work_);
  EXPECT_EQ(b[CLO_ANSWER], -46) << "no table 301";
  // A mode that is none is an internal error; the answer is there first.
  for (int32_t mode : {0, 3, 5, -3}) {
    std::vector<int32_t> bad(CLO_WORDS, 0);
    bad[CLO_MODE] = mode;
    EXPECT_THROW(DKEXE2(DKF_CLO1, bad.data(), work_), ServerException) << mode;
    EXPECT_EQ(bad[CLO_ANSWER], -43) << mode;
  }
  // Mode -1 only forgets the lists.
  work_[LWB_NEW_PAGES] = storage_.NewList(4);
  EXPECT_EQ(CloseRecord(-1, {}), 0);
  EXPECT_EQ(work_[LWB_NEW_PAGES], 0);
}

// A directory table of kind 6 in the source databank whose records name 60
// objects of one page there, a second record naming the first object's run
// again, and a record naming a page held by another databank (SEQNO 9) at a
// number that an object kept here uses.
class LargeObjectTreeTest : public LargeObjectCloseTest {
 protected:
  static constexpr int32_t kObjects = 60;
  int32_t Fill(int32_t tbl, int32_t* table) {
    *table = CreateDirectory(5, tbl);
    for (int32_t i = 0; i < kObjects; ++i) {
      pages_.push_back(SourcePart(Pattern(300, static_cast<uint32_t>(i)), 1));
      if (int32_t rc = InsertInto(*table, tbl, Record(3, i + 1, pages_.back(), 1))) return rc;
    }
    if (int32_t rc = InsertInto(*table, tbl, Record(3, kObjects + 1, pages_[0], 1))) return rc;
    return InsertInto(*table, tbl, Record(9, 1, kept_, 1));
  }
  // Frees `page`: 0 when it was held, -49 when it was free already.
  int32_t FreePage(int32_t page) {
    int32_t rq[REQ_WORDS] = {db_, page, 16384, 0, -1, 0};
    return DKFRE0(rq, 0);
  }
  std::vector<int32_t> pages_;
  int32_t kept_ = 0;
};

TEST_F(LargeObjectTreeTest, EmptyingOrDroppingTheTableFreesTheObjectsItsRecordsName) {
  kept_ = SourcePart(Pattern(300, 99), 1);
  const int64_t before = FreeUnits();
  for (const bool drop : {false, true}) {
    SCOPED_TRACE(drop ? "drop" : "empty");
    pages_.clear();
    const int32_t tbl = drop ? 321 : 320;
    int32_t table = 0;
    ASSERT_EQ(Fill(tbl, &table), 0);
    ASSERT_LT(FreeUnits(), before - kObjects * 8);
    ASSERT_NO_FATAL_FAILURE(EmptyOrDrop(drop, table, table, tbl, 1));
    EXPECT_EQ(FreeUnits(), before) << "every object's page and every tree page back";
    EXPECT_EQ(ReadObject(kept_), Pattern(300, 99));
  }
  EXPECT_EQ(FreePage(kept_), 0) << "the page of another databank's number stays held";
}

TEST_F(LargeObjectTreeTest, AReshapeKeepsEveryObjectItsRecordsName) {
  kept_ = SourcePart(Pattern(300, 99), 1);
  int32_t table = 0;
  ASSERT_EQ(Fill(330, &table), 0);
  std::vector<int32_t> b(RS_WORDS + 8, 0);
  b[RQ_TYPE] = 6;
  b[RQ_TABLE] = table;
  b[RQ_TBL] = 330;
  b[RS_OLD_KEY] = LDR_KEY_BYTES;
  b[RQ_RECORD_LENGTH] = LDR_BYTES;
  b[RS_NEW_KEY] = LDR_KEY_BYTES;
  b[RS_NEW_LENGTH] = LDR_BYTES + 4;
  b[RS_OFFSET] = LDR_BYTES;
  DKEXE1(3, b.data());
  ASSERT_EQ(b[RQ_STATUS], 0);
  for (int32_t i = 0; i < kObjects; ++i) {
    EXPECT_EQ(ReadObject(pages_[static_cast<size_t>(i)]), Pattern(300, static_cast<uint32_t>(i)));
    EXPECT_EQ(FreePage(pages_[static_cast<size_t>(i)]), 0) << "object " << i << " still held";
  }
}

}  // namespace

namespace {

// A copy of the source databank (DID 5, SEQNO 4) with the directory table
// on both.
class LargeObjectCopyTest : public LargeObjectCloseTest {
 protected:
  void SetUp() override {
    LargeObjectCloseTest::SetUp();
    copy_ = Create("shadow", 2000, 5, 4);
    chain_ = CreateDirectory(5, 310);
  }
  int32_t copy_ = 0, chain_ = 0;
};

TEST_F(LargeObjectCopyTest, RecordsGoToTheCopyWithTheirPagesCopied) {
  const std::string bytes = Pattern(16344 + 500, 8);
  const int32_t first = SourcePart(bytes, 2);
  ASSERT_EQ(InsertInto(chain_, 310, Record(3, 1, first, 2)), 0);
  ASSERT_EQ(InsertInto(chain_, 310, Record(8, 1, 777, 1)), 0) << "pages in another databank";
  const int32_t copy_table = area_[chain_ + TBE_NEXT];
  ASSERT_EQ(area_[copy_table + TBE_DATABANK], copy_);
  std::vector<int32_t> rq(CLO_WORDS, 0);
  rq[RQ_STATUS] = 55;
  rq[RQ_DID] = 5;
  rq[RQ_TABLE] = chain_;
  rq[RQ_TBL] = 310;
  rq[RQ_KEY_LENGTH] = LDR_KEY_BYTES;
  rq[RQ_RECORD_LENGTH] = LDR_BYTES;
  ASSERT_EQ(DKCLL1(rq.data(), 4), 0);
  EXPECT_EQ(rq[RQ_STATUS], 55) << "left as it was";
  // Both records are in the copy's entry; the first names a run there.
  std::vector<int32_t> c(CursorBlockWords(LDR_BYTES), 0);
  c[CUR_STATUS] = FET_FROM_KEY;
  c[CUR_TABLE] = copy_table;
  c[CUR_TBL] = 310;
  c[CUR_KEY_LENGTH] = LDR_KEY_BYTES;
  c[CUR_RECORD_LENGTH] = LDR_BYTES;
  std::vector<std::vector<int32_t>> records;
  for (DKFET1(c.data()); c[CUR_STATUS] == 0; DKFET1(c.data())) {
    records.emplace_back(c.begin() + CUR_RECORD, c.end());
    c[CUR_STATUS] = FET_NEXT;
  }
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1][LDR_FIRST_PAGE / 4], 777);
  const int32_t target = records[0][LDR_FIRST_PAGE / 4];
  std::string back;
  for (int k = 0; k < 2; ++k) {
    int32_t b = Get(copy_, target + 8 * k, 16384, GET_SHARED);
    ASSERT_GT(b, 0);
    const uint8_t* p = PageBytes(b);
    back.append(reinterpret_cast<const char*>(p) + LOP_DATA_BYTE,
                static_cast<size_t>(PageWord(p, LOP_COUNT)));
    DKPUT0(PUT_END_SHARED, b);
  }
  EXPECT_EQ(back, bytes);
  // No copy with that SEQNO: -45 in word 0.
  EXPECT_EQ(DKCLL1(rq.data(), 99), -45);
  EXPECT_EQ(rq[RQ_STATUS], -45);
}

// A copy made current holds the first copy's records under their SEQNO with
// runs of its own: emptying or dropping its table frees those runs, and
// nothing a record names that is not the object's page in the copy.
TEST_F(LargeObjectCopyTest, EmptyingOrDroppingTheCopysTableFreesTheObjectsMovedIntoIt) {
  constexpr int32_t kObjects = 20;
  for (const bool drop : {false, true}) {
    SCOPED_TRACE(drop ? "drop" : "empty");
    const int32_t tbl = drop ? 341 : 340;
    const int64_t copy_before = FreeUnits(copy_);
    const int32_t table = CreateDirectory(5, tbl);
    const int32_t copy_table = area_[table + TBE_NEXT];
    ASSERT_EQ(area_[copy_table + TBE_DATABANK], copy_);
    std::vector<int32_t> pages;
    for (int32_t i = 0; i < kObjects; ++i) {
      pages.push_back(SourcePart(Pattern(300, static_cast<uint32_t>(i)), 1));
      ASSERT_EQ(InsertInto(table, tbl, Record(3, i + 1, pages.back(), 1)), 0);
    }
    std::vector<int32_t> rq(CLO_WORDS, 0);
    rq[RQ_DID] = 5;
    rq[RQ_TABLE] = table;
    rq[RQ_TBL] = tbl;
    rq[RQ_KEY_LENGTH] = LDR_KEY_BYTES;
    rq[RQ_RECORD_LENGTH] = LDR_BYTES;
    ASSERT_EQ(DKCLL1(rq.data(), 4), 0);
    ASSERT_LT(FreeUnits(copy_), copy_before - kObjects * 8);
    // Two pages of the copy that records name but that are not the object's
    // there: a page holding something else under the first copy's SEQNO (a
    // record taken as it came), and a page of the object under a SEQNO no
    // databank of the chain has.
    int32_t runs = 0, other = 0, foreign = 0;
    ASSERT_EQ(DKALC0(copy_, 16384, 1, &runs, &other), 0);
    ASSERT_EQ(DKALC0(copy_, 16384, 1, &runs, &foreign), 0);
    const int32_t b = Get(copy_, foreign, 16384, GET_UPDATE);
    ASSERT_GT(b, 0);
    uint8_t* p = PageBytes(b);
    SetPageWord(p, LOP_LAST_WORD, LOP_FRESH_LAST_WORD);
    SetPageWord(p, LOP_COUNT, 0);
    const int32_t identity[3] = {7, 0x5a5a, -7};
    for (int32_t i = 0; i < 3; ++i) SetPageWord(p, LOP_IDENTITY + i, identity[i]);
    DKPUT0(PUT_CHANGED, b);
    ASSERT_EQ(InsertInto(copy_table, tbl, Record(3, kObjects + 1, other, 1)), 0);
    ASSERT_EQ(InsertInto(copy_table, tbl, Record(9, 1, foreign, 1)), 0);
    const int64_t source_before = FreeUnits();
    // A drop with word 4 = 0 drops the copies only.
    ASSERT_NO_FATAL_FAILURE(EmptyOrDrop(drop, table, copy_table, tbl, 0));
    EXPECT_EQ(FreeUnits(copy_), copy_before - 2 * 8) << "every moved object and tree page back";
    for (const int32_t page : {other, foreign}) {
      int32_t rq_free[REQ_WORDS] = {copy_, page, 16384, 0, -1, 0};
      EXPECT_EQ(DKFRE0(rq_free, 0), 0) << "page " << page << " was still held";
    }
    EXPECT_EQ(FreeUnits(copy_), copy_before);
    EXPECT_EQ(FreeUnits(), source_before) << "nothing of the first copy freed";
    for (int32_t i = 0; i < kObjects; ++i)
      EXPECT_EQ(ReadObject(pages[static_cast<size_t>(i)]), Pattern(300, static_cast<uint32_t>(i)))
          << "object " << i;
  }
}

}  // namespace

namespace {

// A copy of SEQNO 100000 keeps the objects of its large-object directory in
// pages of its own: the replay of a directory record's insert or update
// there (DKUBL0) copies the object's run from the first copy and frees the
// run it replaces; a delete frees the run of the record it removes. Nothing
// of the first copy is freed, and a replay made twice changes nothing more.
class ObjectCopyReplayTest : public LargeObjectCopyTest {
 protected:
  void SetUp() override {
    LargeObjectCopyTest::SetUp();
    objects_ = Create("objects", 2000, 5, 100000);
    head_ = CreateDirectory(5, 320);
    for (int32_t t = head_; t > 0; t = area_[t + TBE_NEXT])
      if (area_[t + TBE_DATABANK] == objects_) entry_ = t;
    ASSERT_NE(entry_, 0);
  }
  // The replay of `record` on the copy's entry (`table` 0) by `routine`.
  int32_t Replay(int32_t (*routine)(int32_t*), const std::vector<int32_t>& record,
                 int32_t table = 0, int32_t length = LDR_BYTES) {
    std::vector<int32_t> b(CLO_WORDS, 0);
    b[RQ_STATUS] = -2;
    b[RQ_DID] = 5;
    b[RQ_TABLE] = table != 0 ? table : entry_;
    b[RQ_TBL] = 320;
    b[RQ_KEY_LENGTH] = LDR_KEY_BYTES;
    b[RQ_RECORD_LENGTH] = length;
    std::copy(record.begin(), record.end(), b.begin() + RQ_RECORD);
    const int32_t rc = routine(b.data());
    EXPECT_EQ(b[RQ_STATUS], rc);
    return rc;
  }
  // The copy's record under the key of `record`; empty when none.
  std::vector<int32_t> Held(const std::vector<int32_t>& record) {
    std::vector<int32_t> held = Stored(record, entry_, 320);
    if (!held.empty()) held.resize(LDR_BYTES / 4);
    return held;
  }
  // The bytes of the copy's object that `held` names.
  std::string CopyObject(const std::vector<int32_t>& held) {
    std::string back;
    for (int32_t k = 0; k < held[LDR_PAGES / 4]; ++k) {
      const int32_t b = Get(objects_, held[LDR_FIRST_PAGE / 4] + 8 * k, 16384, GET_SHARED);
      if (b <= 0) return "unreadable";
      const uint8_t* p = PageBytes(b);
      back.append(reinterpret_cast<const char*>(p) + LOP_DATA_BYTE,
                  static_cast<size_t>(PageWord(p, LOP_COUNT)));
      DKPUT0(PUT_END_SHARED, b);
    }
    return back;
  }
  int32_t objects_ = 0, head_ = 0, entry_ = 0;
};

TEST_F(ObjectCopyReplayTest, InsertUpdateAndDeleteKeepTheCopysOwnRuns) {
  const std::string first_bytes = Pattern(16344 + 500, 1), second_bytes = Pattern(700, 2);
  const int32_t first = SourcePart(first_bytes, 2), second = SourcePart(second_bytes, 1);
  const int64_t source_free = FreeUnits();
  // A record without pages keeps the copy's tree from emptying.
  ASSERT_EQ(Replay(DKUBL0, Record(3, 9, 0, 0)), 0);
  const std::vector<int32_t> inserted = Record(3, 1, first, 2, 10);
  ASSERT_EQ(Replay(DKUBL0, inserted), 0);
  std::vector<int32_t> held = Held(inserted);
  ASSERT_FALSE(held.empty());
  EXPECT_TRUE(CopyObject(held) == first_bytes) << "the copy's own run holds the object";
  const int64_t after_insert = FreeUnits(objects_);
  // Replayed again: held already, nothing taken or changed.
  ASSERT_EQ(Replay(DKUBL0, inserted), 0);
  EXPECT_EQ(Held(inserted), held);
  EXPECT_EQ(FreeUnits(objects_), after_insert);
  // An update names another object: its run is built, the old one freed.
  const std::vector<int32_t> updated = Record(3, 1, second, 1, 11);
  ASSERT_EQ(Replay(DKUBL0, updated), 0);
  held = Held(updated);
  ASSERT_FALSE(held.empty());
  EXPECT_EQ(held[LDR_STAMP / 4], 11);
  EXPECT_TRUE(CopyObject(held) == second_bytes);
  EXPECT_EQ(FreeUnits(objects_), after_insert + 16 - 8);
  // The delete frees the run of the record it removes.
  ASSERT_EQ(Replay(DKDeleteOnCopy, updated), 0);
  EXPECT_TRUE(Held(updated).empty());
  EXPECT_EQ(FreeUnits(objects_), after_insert + 16);
  EXPECT_GT(Replay(DKDeleteOnCopy, updated), 0) << "no such record any more";
  // The first copy's objects are untouched.
  EXPECT_EQ(FreeUnits(), source_free);
  EXPECT_TRUE(ReadObject(first) == first_bytes.substr(0, 300));
  EXPECT_TRUE(ReadObject(second) == second_bytes.substr(0, 300));
}

TEST_F(ObjectCopyReplayTest, RecordsOfOtherDatabanksKeepTheirPages) {
  // Pages under a SEQNO no databank of the chain has: taken as they come,
  // and their pages never freed in the copy.
  const std::vector<int32_t> foreign = Record(8, 1, 777, 1);
  const int64_t before = FreeUnits(objects_);
  ASSERT_EQ(Replay(DKUBL0, foreign), 0);
  EXPECT_EQ(Held(foreign), foreign);
  EXPECT_GE(FreeUnits(objects_), before - 8) << "at most a tree page taken";
  ASSERT_EQ(Replay(DKDeleteOnCopy, foreign), 0);
  EXPECT_EQ(FreeUnits(objects_), before) << "the tree page alone back";
}

// The replay of the databank's restart set at its open: the copy of SEQNO
// 100000 builds the objects of an insert and an update in runs of its own
// (the run the update replaced freed), every other copy takes the records as
// they come.
TEST_F(ObjectCopyReplayTest, TheRestartReplayBuildsTheCopysObjects) {
  const int32_t trans = Create("trans", 800, 2, 1);
  ASSERT_NO_FATAL_FAILURE(GiveTransRootPage(trans));
  area_[BP_TRANS_ENTRY] = trans;
  area_[BP_LOG_TABLE] = 1;
  const int32_t set = MakeTransSet(5);
  auto append = [&](const std::vector<int32_t>& record) {
    std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0);
    b[SETRQ_TABLE] = set;
    b[SETRQ_TBL] = 5;
    b[SETRQ_LENGTH] = static_cast<int32_t>(record.size());
    std::copy(record.begin(), record.end(), b.begin() + SETRQ_RECORD);
    ASSERT_EQ(DKAXR0(b), 0);
  };
  auto change = [](int32_t code, const std::vector<int32_t>& record) {
    std::vector<int32_t> r(RQ_RECORD, 0);
    r[0] = code;
    r[RQ_DID] = 5;
    r[RQ_TYPE] = 60;
    r[RQ_TBL] = 320;
    r[RQ_KEY_LENGTH] = LDR_KEY_BYTES;
    r[RQ_RECORD_LENGTH] = LDR_BYTES;
    r.insert(r.end(), record.begin(), record.end());
    return r;
  };
  const std::string first_bytes = Pattern(300, 3), second_bytes = Pattern(300, 4);
  const int32_t first = SourcePart(first_bytes, 1), second = SourcePart(second_bytes, 1);
  const int64_t before = FreeUnits(objects_), source_free = FreeUnits();
  const std::vector<int32_t> inserted = Record(3, 1, first, 1, 10);
  const std::vector<int32_t> updated = Record(3, 1, second, 1, 11);
  ASSERT_NO_FATAL_FAILURE(append({32, 0, 5, -1}));
  ASSERT_NO_FATAL_FAILURE(append(change(1, inserted)));
  ASSERT_NO_FATAL_FAILURE(append(change(2, updated)));
  int32_t rq[RSD_WORDS] = {-1, db_, 5, -1};
  ASSERT_EQ(DKRSD1(rq), 0);
  const std::vector<int32_t> held = Held(updated);
  ASSERT_FALSE(held.empty());
  EXPECT_EQ(held[LDR_STAMP / 4], 11);
  EXPECT_TRUE(CopyObject(held) == second_bytes);
  EXPECT_EQ(before - FreeUnits(objects_), 8 + 1) << "one object page and the leaf";
  EXPECT_EQ(source_free - FreeUnits(), 1) << "the first copy's leaf alone";
  EXPECT_TRUE(ReadObject(first) == first_bytes);
  std::vector<int32_t> c2(CursorBlockWords(LDR_BYTES), 0);
  c2[CUR_STATUS] = FET_FROM_KEY;
  c2[CUR_TABLE] = head_;
  c2[CUR_TBL] = 320;
  c2[CUR_KEY_LENGTH] = LDR_KEY_BYTES;
  c2[CUR_RECORD_LENGTH] = LDR_BYTES;
  std::copy(updated.begin(), updated.begin() + LDR_KEY_BYTES / 4, c2.begin() + CUR_RECORD);
  DKFET1(c2.data());
  ASSERT_EQ(c2[CUR_STATUS], 0);
  EXPECT_TRUE(std::equal(updated.begin(), updated.end(), c2.begin() + CUR_RECORD))
      << "the first copy takes the record as it comes";
}

TEST_F(ObjectCopyReplayTest, BadRequests) {
  const std::vector<int32_t> r = Record(3, 1, 777, 1);
  EXPECT_EQ(Replay(DKUBL0, r, head_), -45) << "the first copy is no later copy";
  EXPECT_EQ(Replay(DKDeleteOnCopy, r, head_), -45);
  EXPECT_EQ(Replay(DKUBL0, r, 0, LDR_BYTES - 4), -43);
  EXPECT_EQ(Replay(DKUBL0, r, entry_ + 1), -46);
  EXPECT_TRUE(Held(r).empty());
}

}  // namespace
