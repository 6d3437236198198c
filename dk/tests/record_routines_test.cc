// Tables and records through the dispatcher: create and find tables, the
// root pages they take, and insert, update, delete and check of single
// records with the statuses each answers.
#include "dk/record_routines.h"

#include <gtest/gtest.h>

#include <set>

#include "dk/tests/table_fixture.h"

namespace {

class RecordTest : public TableTest {};

TEST_F(RecordTest, FirstInsertMakesAOneLevelTreeAndTheLastDeleteEmptiesIt) {
  Table t = CreateTable(7, 8, 100);
  EXPECT_EQ(Levels(t), 0);
  std::string r = MakeRecord("alpha", 8, 100);
  ASSERT_EQ(Insert(t, r), 0);
  ASSERT_EQ(Levels(t), 1);
  int32_t page = Top(t);
  int32_t b = Get(db_, page, RootEntry(t)[7], GET_SHARED);
  EXPECT_EQ(PageWord(PageBytes(b), PAGE_ENTRY_LENGTH), 100);
  EXPECT_EQ(UsedEnd(PageBytes(b)), 116);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(PageBytes(b)) + 16, 100), r);
  DKPUT0(PUT_END_SHARED, b);

  ASSERT_EQ(Delete(t, MakeRecord("alpha", 8, 100, 'x')), 0);
  EXPECT_EQ(Levels(t), 0);
  EXPECT_EQ(Top(t), 0);
  // The page goes back once the root entry that no longer names it is on
  // disk.
  Flush();
  EXPECT_FALSE(InUse(page));
}

TEST_F(RecordTest, TheLastDeleteOfATransactionPutsTheRootPageInItsWriteSet) {
  // Leaves of 16384 and 2048 bytes: the emptied leaf is freed at once or
  // once the root page is on disk; either way the root entry that stops
  // naming it goes to disk with the transaction.
  for (int32_t leaf : {16384, 2048}) {
    SCOPED_TRACE(leaf);
    Table t = CreateTable(30 + leaf / 2048, 8, 100, leaf, 2048);
    ASSERT_EQ(Insert(t, MakeRecord("k", 8, 100), 9), 0);
    Flush();  // the insert's pages leave the write set
    ASSERT_EQ(Delete(t, MakeRecord("k", 8, 100), 9), 0);
    ASSERT_EQ(Levels(t), 0);
    int32_t b = Get(db_, area_[t.entry + TBE_ROOT_PAGE], kUnitBytes, GET_SHARED);
    ASSERT_GT(b, 0);
    EXPECT_EQ(LoadWord(BufferBcb(b) + BCB_WS_STATUS), WS_IN_SET);
    EXPECT_EQ(LoadWord(BufferBcb(b) + BCB_ORDER), 9);
    DKPUT0(PUT_END_SHARED, b);
  }
}

TEST_F(RecordTest, WriteAtOnceModeWritesThePagesAndFreesAtOnce) {
  Table t = CreateTable(8, 8, 100);
  ASSERT_EQ(Insert(t, MakeRecord("k", 8, 100), -2), 0);
  int32_t page = Top(t);
  EXPECT_EQ(FileWord("tables", page, PAGE_ENTRY_LENGTH), 100);
  ASSERT_EQ(Delete(t, MakeRecord("k", 8, 100), -2), 0);
  EXPECT_FALSE(InUse(page));
}

TEST_F(RecordTest, ATopPageLinkedToTheRootGrowsInWriteAtOnceMode) {
  // The first page, released changed, must reach disk before the root page;
  // growing the tree in mode -2 writes the root page while the walk holds
  // that page.
  Table t = CreateTable(17, 8, 100, 2048, 2048);
  for (int32_t i = 0; i < 20; ++i)
    ASSERT_EQ(Insert(t, MakeRecord("k" + std::to_string(10 + i), 8, 100)), 0);
  EndsWithin(20, "an insert in mode -2", [&] {
    ASSERT_EQ(Insert(t, MakeRecord("k05", 8, 100), -2), 0);  // stays on the old top
  });
  EXPECT_EQ(Levels(t), 2);
  EXPECT_EQ(ReadTree(t).records.size(), 21u);
}

TEST_F(RecordTest, LeavesMovedForATransactionAreWrittenBeforeTheirParentInWriteAtOnceMode) {
  // Splits with a TSS move leaves and link them before their parent. A
  // later request in mode -2 whose reorganisation changes the parent writes
  // it while the walk holds such a leaf.
  Table t = CreateTable(18, 8, 100, 2048, 2048);
  for (int32_t i = 0; i < 200; ++i)
    ASSERT_EQ(Insert(t, MakeRecord("k" + std::to_string(1000 + i), 8, 100), 9), 0);
  // Keys below all others fill the first leaf (moved and linked) up to its
  // last free place; the next one, in mode -2, makes room and stays on it.
  const int32_t first = ReadTree(t).leaf_counts.at(0);
  for (int32_t i = first; i < 20; ++i)
    ASSERT_EQ(Insert(t, MakeRecord("k0" + std::to_string(50 + i), 8, 100), 9), 0);
  ASSERT_EQ(ReadTree(t).leaf_counts.at(0), 20);
  EndsWithin(20, "an insert in mode -2",
             [&] { ASSERT_EQ(Insert(t, MakeRecord("k00", 8, 100), -2), 0); });
  EXPECT_EQ(ReadTree(t).records.size(), static_cast<size_t>(221 - first));
}

// The children of a table's top page.
std::set<int32_t> TopChildren(int32_t db, int32_t top, int32_t key) {
  std::set<int32_t> children;
  int32_t rq[REQ_WORDS] = {db, top, 2048, 0, -1, 0};
  int32_t b = DKGET0(rq, GET_SHARED);
  EXPECT_GT(b, 0);
  if (b <= 0) return children;
  const uint8_t* p = PageBytes(b);
  for (int32_t o = kPageHeaderBytes; o < UsedEnd(p); o += key + kChildBytes)
    children.insert(LoadChild(p + o + key));
  DKPUT0(PUT_END_SHARED, b);
  return children;
}

TEST_F(RecordTest, LeavesFreedThroughAParentOfAnotherSizeWaitForTheParentOnDisk) {
  // Leaves of 16384 bytes under an index page of 2048: a leaf a merge (or a
  // move for the transaction) frees stays in use until the parent that no
  // longer names it is on disk, so it cannot be taken and written again
  // while the parent on disk names it.
  Table t = CreateTable(41, 8, 1000, 16384, 2048);
  for (int32_t i = 0; i < 80; ++i)
    ASSERT_EQ(Insert(t, MakeRecord("k" + std::to_string(100 + i), 8, 1000), 9), 0);
  ASSERT_EQ(Levels(t), 2);
  Flush();
  const std::set<int32_t> before = TopChildren(db_, Top(t), 8);
  for (int32_t i = 10; i < 70; ++i)
    ASSERT_EQ(Delete(t, MakeRecord("k" + std::to_string(100 + i), 8, 1000), 9), 0);
  const std::set<int32_t> after = TopChildren(db_, Top(t), 8);
  std::vector<int32_t> freed;
  for (int32_t page : before)
    if (!after.count(page)) freed.push_back(page);
  ASSERT_FALSE(freed.empty());
  for (int32_t page : freed) EXPECT_TRUE(InUse(page)) << page;
  Flush();
  for (int32_t page : freed) EXPECT_FALSE(InUse(page)) << page;
  EXPECT_EQ(ReadTree(t).records.size(), 20u);
}

TEST_F(RecordTest, ANewTopPageReachesDiskBeforeTheRootPage) {
  Table t = CreateTable(42, 8, 100, 2048, 2048);
  for (int32_t i = 0; i < 30 && Levels(t) < 2; ++i)
    ASSERT_EQ(Insert(t, MakeRecord("k" + std::to_string(10 + i), 8, 100), 9), 0);
  ASSERT_EQ(Levels(t), 2);
  int32_t top = Get(db_, Top(t), 2048, GET_SHARED);
  int32_t root = Get(db_, area_[t.entry + TBE_ROOT_PAGE], kUnitBytes, GET_SHARED);
  ASSERT_GT(top, 0);
  ASSERT_GT(root, 0);
  EXPECT_EQ(DKGPA0(GPA_WAITER, top), BufferBcb(root));
  DKPUT0(PUT_END_SHARED, top);
  DKPUT0(PUT_END_SHARED, root);
}

TEST_F(RecordTest, StatusesOfEachRoutine) {
  Table t = CreateTable(9, 4, 20);
  const std::string a = MakeRecord("aaaa", 4, 20, '1');
  EXPECT_EQ(Update(t, a), kStatusNotFound);  // empty tree
  EXPECT_EQ(Delete(t, a), kStatusNotFound);
  EXPECT_EQ(Insert(t, a), 0);
  EXPECT_EQ(Insert(t, MakeRecord("aaaa", 4, 20, '2')), kStatusDuplicate);
  // DKIND1 hands back the stored record.
  auto b = Block(t, MakeRecord("aaaa", 4, 20, '3'));
  DKEXE1(37, b.data());
  EXPECT_EQ(b[RQ_STATUS], kStatusDuplicate);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b.data() + RQ_RECORD), 20), a);

  EXPECT_EQ(Update(t, MakeRecord("bbbb", 4, 20)), kStatusNotFound);
  EXPECT_EQ(Delete(t, MakeRecord("bbbb", 4, 20)), kStatusNotFound);
  EXPECT_EQ(Insert(t, std::string(21, 'x')), -67);
  EXPECT_EQ(Insert(t, std::string(21, 'x'), -1), 0);  // mode -1: no message, status 0
  EXPECT_EQ(Update(t, std::string(19, 'x')), -67);
  EXPECT_EQ(Delete(t, std::string(3, 'x')), -67);

  EXPECT_EQ(Check(t, a), 0);
  EXPECT_EQ(Check(t, MakeRecord("aaaa", 4, 20, '9')), kStatusCheck);
  EXPECT_EQ(Check(t, MakeRecord("zzzz", 4, 20)), kStatusCheck);
  EXPECT_EQ(Check(t, MakeRecord("aaaa", 4, 20, '9'), 1), kStatusCheck);  // any other mode: found
  EXPECT_EQ(Check(t, MakeRecord("zzzz", 4, 20), 1), 0);
  ASSERT_EQ(Update(t, MakeRecord("aaaa", 4, 20, '9')), 0);
  EXPECT_EQ(Check(t, MakeRecord("aaaa", 4, 20, '9')), 0);

  Table wrong = t;
  wrong.tbl = 10;
  EXPECT_EQ(Insert(wrong, a), -46);
  wrong.entry = 12345;
  EXPECT_EQ(Delete(wrong, a), -46);
}

TEST_F(RecordTest, CreateFindsTheTableAgainAndRefusesBadArguments) {
  Table t = CreateTable(11, 8, 64);
  Table again = CreateTable(11, 8, 64);
  EXPECT_EQ(again.entry, t.entry);
  int32_t rc = 0;
  CreateTable(0, 8, 64, 0, 0, &rc);
  EXPECT_EQ(rc, -43);
  CreateTable(12, 8, 64, 4096, 0, &rc);
  EXPECT_EQ(rc, -76);
  CreateTable(12, 8, 16001, 0, 0, &rc);
  EXPECT_EQ(rc, -67);
  CreateTable(12, 80, 40, 0, 0, &rc);  // a key longer than the record
  EXPECT_EQ(rc, -67);
  CreateTable(12, 8, 1000, 2048, 0, &rc);  // a page that holds fewer than four records
  EXPECT_EQ(rc, -76);
  int32_t b[CRT_WORDS] = {};
  b[RQ_DID] = 77;
  b[RQ_TBL] = 12;
  DKEXE1(16, b);
  EXPECT_EQ(b[RQ_STATUS], -45);
}

TEST_F(RecordTest, TheFiftiethTableAddsARootPage) {
  std::vector<Table> tables;
  for (int32_t i = 0; i < 50; ++i) tables.push_back(CreateTable(100 + i, 4, 8));
  int32_t rq[REQ_WORDS];
  int32_t header = GetUnitPage(db_, kHeaderUnit, GET_SHARED, rq);
  int32_t next = PageWord(PageBytes(header), HDR_NEXT_ROOT);
  DKPUT0(PUT_END_SHARED, header);
  ASSERT_GT(next, 1);
  EXPECT_EQ(area_[tables[48].entry + TBE_ROOT_PAGE], kHeaderUnit);
  EXPECT_EQ(area_[tables[48].entry + TBE_ROOT_WORD], kFirstRootWord - 480);
  EXPECT_EQ(area_[tables[49].entry + TBE_ROOT_PAGE], next);
  EXPECT_EQ(area_[tables[49].entry + TBE_ROOT_WORD], kFirstRootWord);
  EXPECT_EQ(Insert(tables[49], "abcdefgh"), 0);
  EXPECT_EQ(Check(tables[49], "abcdefgh"), 0);

  // The walk over the root entries sees all fifty, then ends.
  int32_t block[NTE_WORDS] = {0, db_, 0, 0};
  int32_t seen = 0;
  for (DKNTE1(block); block[NTE_STATUS] == 0; DKNTE1(block)) {
    EXPECT_EQ(block[NTE_TBL], 100 + seen);
    EXPECT_EQ(block[NTE_TYPE], 10);
    EXPECT_EQ(block[NTE_RECORD_LENGTH], 8);
    ++seen;
  }
  EXPECT_EQ(seen, 50);
  EXPECT_EQ(block[NTE_STATUS], 4);
  EXPECT_EQ(block[NTE_DATABANK], -1);
}

TEST_F(RecordTest, SplittingAFullPageOfHundredByteEntriesMovesTen) {
  Table t = CreateTable(13, 8, 100, 2048, 2048);
  char key[9];
  for (int32_t i = 0; i < 20; ++i) {
    std::snprintf(key, sizeof key, "k%05d", i * 10);
    ASSERT_EQ(Insert(t, MakeRecord(key, 8, 100)), 0);
  }
  EXPECT_EQ(Levels(t), 1);  // 16 + 20 x 100 fills the 2048 bytes
  ASSERT_EQ(Insert(t, MakeRecord("k99999", 8, 100)), 0);
  EXPECT_EQ(Levels(t), 2);
  TreeShape shape = ReadTree(t);
  EXPECT_EQ(shape.leaf_counts, (std::vector<int32_t>{10, 11}));
  EXPECT_EQ(shape.records.size(), 21u);
}

TEST_F(RecordTest, PagesBelowHalfMergeOnlyWhenTheMergedPageKeepsItsMargin) {
  // 12-byte records on 2048-byte pages. A leaf of 84 entries (used end
  // 1024) falls below half on a delete; room = 2048 - 12 - 1024 = 1012, and
  // 1024 for a leaf of 83. The right neighbour merges in when its used end is
  // at most the room, the child into the left one when that one's is below
  // it; otherwise entries shift, none between pages of equal fill.
  struct Case {
    const char* name;
    int32_t left;  // entries of the left leaf; the right one has 84
    bool from_left;
    std::vector<int32_t> after;
  } cases[] = {
      {"right neighbour 1024 above room 1012", 84, true, {83, 84}},
      {"left neighbour 1024 above room 1012", 84, false, {84, 83}},
      {"left neighbour 1012 not below room 1012", 83, false, {83, 83}},
      {"right neighbour 1024 at room 1024", 83, true, {166}},
  };
  auto key = [](int32_t i) {
    std::string k(4, '\0');
    k[0] = static_cast<char>(i >> 8), k[1] = static_cast<char>(i);
    return MakeRecord(k, 4, 12);
  };
  int32_t tbl = 60;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Table t = CreateTable(tbl++, 4, 12, 2048, 2048);
    // 170 ascending records: the full top page splits into 85 and 85.
    for (int32_t i = 0; i < 170; ++i) ASSERT_EQ(Insert(t, key(i)), 0);
    ASSERT_EQ(ReadTree(t).leaf_counts, (std::vector<int32_t>{85, 85}));
    ASSERT_EQ(Delete(t, key(169)), 0);
    for (int32_t i = 0; i < 85 - c.left; ++i) ASSERT_EQ(Delete(t, key(i)), 0);
    ASSERT_EQ(ReadTree(t).leaf_counts, (std::vector<int32_t>{c.left, 84}));
    ASSERT_EQ(Delete(t, key(c.from_left ? 84 : 85)), 0);
    EXPECT_EQ(ReadTree(t).leaf_counts, c.after);
  }
}

TEST_F(RecordTest, FourRecordsThatFillAPageTakeAFifthInTheMiddle) {
  // 508-byte records: four fill a 2048-byte page exactly. A full leaf whose
  // right neighbour holds three would pass it its last record; when the new
  // key goes after that one, the neighbour would be full in turn and hand it
  // back. The leaf is split instead.
  Table t = CreateTable(19, 8, 508, 2048, 2048);
  auto record = [](int32_t n) { return MakeRecord("k" + std::to_string(n), 8, 508); };
  for (int32_t n : {10, 20, 30, 40, 50, 11, 12}) ASSERT_EQ(Insert(t, record(n)), 0);
  ASSERT_EQ(ReadTree(t).leaf_counts, (std::vector<int32_t>{4, 3}));
  ASSERT_EQ(Insert(t, record(15)), 0);
  TreeShape shape = ReadTree(t);
  EXPECT_EQ(shape.records.size(), 8u);
  EXPECT_EQ(shape.leaf_counts.size(), 3u);
}

TEST_F(RecordTest, CloseKeepsTheEntryAndAClosedDroppedTableLosesItsPages) {
  Table t = CreateTable(14, 4, 8);
  ASSERT_EQ(Insert(t, "abcdefgh"), 0);
  int32_t page = Top(t);
  int32_t drop[CRT_WORDS] = {0, 0, 5, 0, 1, 14};  // word 4: this databank only
  DKEXE1(24, drop);
  EXPECT_EQ(drop[RQ_STATUS], 0);
  EXPECT_EQ(RootEntry(t)[6], kTypeDropped);
  int32_t close[CRT_WORDS] = {-22, 0, 0, 0, t.entry, 14};
  DKEXE1(13, close);
  EXPECT_EQ(close[RQ_STATUS], 0);
  EXPECT_EQ(area_[t.entry + TBE_TBL], 0);  // freed
  EXPECT_FALSE(InUse(page));
  // Its root entry reads as free: the next table takes it.
  Table u = CreateTable(15, 4, 8);
  EXPECT_EQ(area_[u.entry + TBE_ROOT_WORD], kFirstRootWord);
}

TEST_F(RecordTest, EmptyingATableFreesItsPages) {
  Table t = CreateTable(16, 8, 100, 2048, 2048);
  for (int32_t i = 0; i < 100; ++i)
    ASSERT_EQ(Insert(t, MakeRecord(std::to_string(1000 + i), 8, 100)), 0);
  ASSERT_GE(Levels(t), 2);
  int32_t top = Top(t);
  int32_t b[CRT_WORDS] = {0, 0, 0, 0, t.entry, 16};
  DKEXE1(22, b);
  EXPECT_EQ(b[RQ_STATUS], 0);
  EXPECT_EQ(Levels(t), 0);
  EXPECT_FALSE(InUse(top));
  EXPECT_EQ(Insert(t, MakeRecord("again", 8, 100)), 0);
}

}  // namespace

namespace {

class CompressedRecordTest : public TableTest {};

TEST_F(CompressedRecordTest, RecordsOfATableWithCompressionGoOnDirectoryPages) {
  for (int32_t method : {1, 2}) {
    SCOPED_TRACE(method);
    Table t = CreateTable(20 + method, 8, 400, 0, 0, nullptr, method);
    std::string r = MakeRecord("first", 8, 400, 'a');
    ASSERT_EQ(Insert(t, r), 0);
    int32_t size = RootEntry(t)[7];
    int32_t b = Get(db_, Top(t), size, GET_SHARED);
    const uint8_t* p = PageBytes(b);
    EXPECT_EQ(EntryLength(p), 400);  // the plain record length
    EXPECT_EQ(DirCount(p, size), 1);
    EXPECT_EQ(DirOffset(p, size, 1), 16);
    EXPECT_LT(UsedEnd(p) - 16, 100);  // a run of 'a' compresses well
    DKPUT0(PUT_END_SHARED, b);

    // DKIND1 hands back the stored record expanded.
    auto ind = Block(t, MakeRecord("first", 8, 400, 'z'));
    DKEXE1(37, ind.data());
    EXPECT_EQ(ind[RQ_STATUS], kStatusDuplicate);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(ind.data() + RQ_RECORD), 400), r);
    EXPECT_EQ(Check(t, r), 0);
    EXPECT_EQ(Check(t, MakeRecord("first", 8, 400, 'b')), kStatusCheck);
    // The length the stored form had must be one a record can have.
    EXPECT_EQ(Update(t, r, 0, 400 + 129), -82);
    EXPECT_EQ(Update(t, r, -1, -1), 0);
    EXPECT_EQ(Update(t, MakeRecord("first", 8, 400, 'q'), 0, 400 + 128), 0);
    EXPECT_EQ(Check(t, MakeRecord("first", 8, 400, 'q')), 0);
    EXPECT_EQ(Delete(t, r), 0);
    EXPECT_EQ(Levels(t), 0);
  }
}

}  // namespace

namespace {

class TableEntryTest : public TableTest {
 protected:
  int32_t Close(int32_t entry, int32_t tbl, int32_t mode = 0) {
    int32_t b[CRT_WORDS] = {mode, 0, 5, 0, entry, tbl};
    DKEXE1(13, b);
    return b[RQ_STATUS];
  }
};

TEST_F(TableEntryTest, CreateInWriteAtOnceModeWritesTheRootEntry) {
  int32_t b[CRT_WORDS] = {-2, 0, 5, 21, 0, 31, 4, 12};  // kind 2, type 1
  DKEXE1(16, b);
  ASSERT_EQ(b[RQ_STATUS], 0);
  EXPECT_EQ(FileWord("tables", kHeaderUnit, kFirstRootWord + 1 + RE_TBL), 31);
  EXPECT_EQ(FileWord("tables", kHeaderUnit, kFirstRootWord + 1 + RE_KIND), 2);
  EXPECT_EQ(FileWord("tables", kHeaderUnit, kFirstRootWord + 1 + RE_TYPE), 1);
  EXPECT_EQ(FileWord("tables", kHeaderUnit, kFirstRootWord + 1 + RE_RECORD_LENGTH), 12);
  EXPECT_EQ(b[RQ_DATA_PAGE_SIZE], 2048);  // the page size chosen comes back
}

TEST_F(TableEntryTest, AnonymousTablesAreNewEachTimeAndGoAtClose) {
  Table a = CreateTable(-1, 4, 8), b = CreateTable(-1, 4, 8);
  EXPECT_NE(a.entry, b.entry);
  EXPECT_NE(area_[a.entry + TBE_ROOT_WORD], area_[b.entry + TBE_ROOT_WORD]);
  EXPECT_EQ(Insert(a, "abcdefgh"), 0);
  EXPECT_EQ(Check(b, "abcdefgh"), kStatusCheck);
  EXPECT_EQ(Close(a.entry, -1), 0);
  EXPECT_EQ(area_[a.entry + TBE_TBL], 0);
  EXPECT_EQ(Close(a.entry, -1), -46);  // freed: the table check fails
}

TEST_F(TableEntryTest, CloseKeepsEntriesForReuseUntilTheDatabankClosesThem) {
  Table a = CreateTable(41, 4, 8), b = CreateTable(42, 4, 8), c = CreateTable(43, 4, 8);
  ASSERT_EQ(Close(a.entry, 41), 0);
  ASSERT_EQ(Close(b.entry, 42), 0);
  EXPECT_EQ(area_[a.entry + TBE_ACCESS], kAccessClosed);
  EXPECT_EQ(area_[a.entry + TBE_TBL], 41);  // kept in the hash for the next open
  EXPECT_EQ(CreateTable(41, 4, 8).entry, a.entry);
  ASSERT_EQ(Close(a.entry, 41), 0);
  EXPECT_EQ(Close(0, 0, 34), 0);  // every unused table entry of DID 5
  EXPECT_EQ(area_[a.entry + TBE_TBL], 0);
  EXPECT_EQ(area_[b.entry + TBE_TBL], 0);
  EXPECT_EQ(area_[c.entry + TBE_TBL], 43);  // still in use
  int32_t bad[CRT_WORDS] = {34, 0, 77};
  DKEXE1(13, bad);
  EXPECT_EQ(bad[RQ_STATUS], -45);
}

TEST_F(TableEntryTest, ATableOfADatabankWithAShadowHasAnEntryAndARootEntryOnEach) {
  int32_t shadow = Create("shadow", 400, 6);
  area_[shadow + DBE_KIND] = DBE_KIND_SHADOW;
  area_[db_ + DBE_DEPENDENT] = shadow;
  Table t = CreateTable(44, 4, 8);
  int32_t second = area_[t.entry + TBE_NEXT];
  ASSERT_GT(second, 0);
  EXPECT_EQ(area_[second + TBE_DATABANK], shadow);
  EXPECT_EQ(area_[second + TBE_USES], 0);
  EXPECT_EQ(area_[second + TBE_ACCESS], kAccessClosed);
  EXPECT_EQ(area_[second + TBE_ROOT_PAGE], kHeaderUnit);
  // Dropping with word 4 = 0 marks the table on the databanks after the
  // given one only.
  int32_t drop[CRT_WORDS] = {0, 0, 5, 0, 0, 44};
  DKEXE1(24, drop);
  EXPECT_EQ(drop[RQ_STATUS], 0);
  EXPECT_NE(RootEntry(t)[6], kTypeDropped);
  int32_t rq[REQ_WORDS];
  int32_t b = GetUnitPage(shadow, kHeaderUnit, GET_SHARED, rq);
  EXPECT_EQ(PageWord(PageBytes(b), kFirstRootWord + 1 + RE_TYPE), kTypeDropped);
  DKPUT0(PUT_END_SHARED, b);
  area_[db_ + DBE_DEPENDENT] = 0;
}

TEST_F(TableEntryTest, ARootPageChainThatLeadsOffTheRootPagesIsRefused) {
  // Records of 12 bytes: a data page's word 1 (its entry length) is not the
  // root page kind 8.
  Table t = CreateTable(46, 4, 12);
  ASSERT_EQ(Insert(t, "abcdefghijkl"), 0);
  const int32_t data_page = Top(t);
  int32_t rq[REQ_WORDS];
  int32_t header = GetUnitPage(db_, kHeaderUnit, GET_UPDATE, rq);
  SetPageWord(PageBytes(header), HDR_NEXT_ROOT, data_page);
  DKPUT0(PUT_CHANGED, header);
  int32_t walk[NTE_WORDS] = {0, db_, 0, 0};
  DKNTE1(walk);
  EXPECT_EQ(walk[NTE_STATUS], 0);  // the header's own entry
  DKNTE1(walk);
  EXPECT_EQ(walk[NTE_STATUS], -64);
  int32_t drop[CRT_WORDS] = {0, 0, 5, 0, 1, 47};
  DKEXE1(24, drop);
  EXPECT_EQ(drop[RQ_STATUS], -64);
  int32_t rc = 0;
  CreateTable(47, 4, 8, 0, 0, &rc);  // not on the header: the walk goes on to the data page
  EXPECT_EQ(rc, -64);
  EXPECT_EQ(Check(t, "abcdefghijkl"), 0);  // the data page is as it was
}

TEST_F(TableEntryTest, CheckModesCompareWhatTheyAreAskedTo) {
  Table t = CreateTable(45, 4, 12);
  ASSERT_EQ(Insert(t, "keyAbcdefghi"), 0);
  auto check = [&](const std::string& r, int32_t mode, int32_t length) {
    auto b = Block(t, r, mode);
    b[RQ_KEY_LENGTH] = length;
    DKEXE1(10, b.data());
    return b[RQ_STATUS];
  };
  EXPECT_EQ(check("keyAbcdeXXXX", -3, 8), kStatusCheck);  // first 8 bytes equal
  EXPECT_EQ(check("keyAbcdeXXXX", -3, 9), 0);
  EXPECT_EQ(check("keyAbcdeXXXX", -3, 13), -67);  // more than the record
  EXPECT_EQ(check("keyAbcdeXXXX", 0, 0), kStatusCheck);
  EXPECT_EQ(check("keyAbcdefghi", 0, 0), 0);
}

}  // namespace

namespace {

class DirectoryReshapeTest : public TableTest {
 protected:
  // Records of 162 bytes without runs: method 1 stores each as one long
  // literal of 164 bytes, so an entry with its directory word takes 168 and
  // a 2048-byte leaf holds 12.
  static std::string Record(int32_t i) {
    std::string r(162, '\0');
    r[0] = static_cast<char>(i >> 8), r[1] = static_cast<char>(i);
    for (size_t j = 2; j < r.size(); ++j) r[j] = static_cast<char>(j * 7 + 3);
    return r;
  }
  // The length of a record's stored form under method 1.
  static int32_t StoredLengthOf(const std::string& r) {
    std::vector<uint8_t> out(static_cast<size_t>(CompressedSizeBound(r.size())) + 16);
    int32_t n = 0;
    DKCompress(ByteSpan(out), 0, &n,
               ConstByteSpan(reinterpret_cast<const uint8_t*>(r.data()), r.size()), 0,
               static_cast<int32_t>(r.size()), 1);
    return n;
  }
  // Keys 100..112 fill a leaf and split it into 100..105 and 106..112.
  Table TwoLeaves(int32_t tbl) {
    Table t = CreateTable(tbl, 8, 162, 2048, 2048, nullptr, 1);
    for (int32_t i = 100; i <= 112; ++i) EXPECT_EQ(Insert(t, Record(i)), 0);
    EXPECT_EQ(ReadTree(t).leaf_counts, (std::vector<int32_t>{6, 7}));
    return t;
  }
};

TEST_F(DirectoryReshapeTest, ALeafBelowHalfMergesOnlyWhenTheNeighbourUsesLessThanTheRoom) {
  ASSERT_EQ(StoredLengthOf(Record(0)), 164);
  Table t = TwoLeaves(70);
  ASSERT_EQ(Delete(t, Record(112)), 0);
  ASSERT_EQ(ReadTree(t).leaf_counts, (std::vector<int32_t>{6, 6}));
  // The left leaf (used space 20 + 6 x 168 = 1028) falls below half; its
  // room is 2048 - 1000 - 24 = 1024, and the right neighbour uses 1028, so
  // it is not merged in although the two would fit one page.
  ASSERT_EQ(Delete(t, Record(100)), 0);
  EXPECT_EQ(ReadTree(t).leaf_counts, (std::vector<int32_t>{5, 6}));
}

TEST_F(DirectoryReshapeTest, ALeafBelowHalfWithTwoNeighboursTakesFromTheLeftOne) {
  Table t = TwoLeaves(72);
  struct Step {
    std::vector<int32_t> inserts;
    std::vector<int32_t> leaves;
  } steps[] = {
      {{113, 114, 115, 116, 117, 118}, {9, 10}},  // the full right leaf shares with the left
      {{119, 120, 121}, {9, 6, 7}},               // the left one is too full to share: a split
      {{0, 122, 123, 124}, {10, 6, 10}},
  };
  for (const Step& s : steps) {
    for (int32_t i : s.inserts) ASSERT_EQ(Insert(t, Record(i)), 0) << i;
    ASSERT_EQ(ReadTree(t).leaf_counts, s.leaves);
  }
  // The middle leaf falls below half; neither neighbour fits into it. As on
  // fixed pages, a leaf that is not its parent's first takes from the left.
  ASSERT_EQ(Delete(t, Record(110)), 0);
  EXPECT_EQ(ReadTree(t).leaf_counts, (std::vector<int32_t>{8, 7, 10}));
  EXPECT_EQ(ReadTree(t).records.size(), 25u);
}

TEST_F(DirectoryReshapeTest, AFullLeafSharesOnlyWithANeighbourBelowTheLimit) {
  Table t = TwoLeaves(71);
  for (int32_t i = 0; i < 6; ++i) ASSERT_EQ(Insert(t, Record(i)), 0);
  for (int32_t i = 113; i < 115; ++i) ASSERT_EQ(Insert(t, Record(i)), 0);
  ASSERT_EQ(ReadTree(t).leaf_counts, (std::vector<int32_t>{12, 9}));
  // The full left leaf has used end 16 + 12 x 164 = 1984, so a neighbour
  // takes a share only when its used end and directory with one more word,
  // 24 + 9 x 168 = 1536, are at most 1984 - 508 = 1476: the leaf splits.
  ASSERT_EQ(Insert(t, Record(6)), 0);
  EXPECT_EQ(ReadTree(t).leaf_counts.size(), 3u);
  EXPECT_EQ(ReadTree(t).records.size(), 22u);
}

}  // namespace
