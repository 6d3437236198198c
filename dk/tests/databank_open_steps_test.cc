// The open's steps by DID: the TRANS, LOG and WORK databanks named in the
// control area while open, the LOG databank's log table found or made, the
// open databanks registered in the restore directory when the system
// databank opens, and the directory copied into another copy.
#include "dk/databank_open_steps.h"

#include <gtest/gtest.h>

#include "dk/databank_restart.h"
#include "dk/restore_directory.h"
#include "dk/table_entries.h"
#include "dk/tests/databank_fixture.h"
#include "dk/tests/table_fixture.h"

namespace {

class OpenStepsTest : public DatabankTest {
 protected:
  // The restore directory slot of `did` in the LOG databank: its stamp, or
  // -1 when there is none.
  int32_t SlotStamp(int32_t did) {
    int32_t rq[ROO_WORDS];
    std::fill(rq, rq + ROO_WORDS, -1);
    rq[ROO_CODE] = 4;
    rq[ROO_DATABANK] = area_[BP_LOG_ENTRY];
    rq[ROO_OTHER_DID] = did;
    int32_t rc = DKROO1(rq);
    return rc == 0 ? rq[ROO_STAMP] : -1;
  }
  int32_t HeaderStamp(int32_t entry) {
    int32_t rq[ROO_WORDS] = {1, entry};
    EXPECT_EQ(DKROO1(rq), 0);
    return rq[ROO_STAMP];
  }
  void SetHeaderStamp(int32_t entry, int32_t stamp) {
    int32_t rq[ROO_WORDS];
    std::fill(rq, rq + ROO_WORDS, -1);
    rq[ROO_CODE] = 9;
    rq[ROO_DATABANK] = entry;
    rq[ROO_STAMP] = stamp;
    ASSERT_EQ(DKROO1(rq), 0);
  }
};

TEST_F(OpenStepsTest, TransLogAndWorkAreNamedWhileOpen) {
  struct Case {
    const char* name;
    int32_t did, word;
  } cases[] = {{"trans", 2, BP_TRANS_ENTRY}, {"log", 3, BP_LOG_ENTRY}, {"work", 4, BP_WORK_ENTRY}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Make(c.name, 64, c.did);
    int32_t entry = 0;
    ASSERT_EQ(OpenDb(c.name, 1, c.did, -1, &entry), 0);
    EXPECT_EQ(area_[c.word], entry);
    EXPECT_EQ(CloseDb(1, c.did, -1), 0);
    EXPECT_EQ(area_[c.word], 0);
  }
  EXPECT_EQ(area_[BP_LOG_TABLE], 0);
}

TEST_F(OpenStepsTest, LogTableIsMadeOnceAndFoundAgain) {
  Make("log", 64, 3);
  int32_t entry = 0;
  ASSERT_EQ(OpenDb("log", 1, 3, -1, &entry), 0);
  const int32_t table = area_[BP_LOG_TABLE];
  ASSERT_GT(table, 0);
  EXPECT_EQ(area_[table + TBE_TBL], kLogTableTbl);
  EXPECT_EQ(area_[table + TBE_KIND], kKindSet);
  EXPECT_EQ(area_[table + TBE_DATABANK], entry);
  const int32_t root = area_[table + TBE_ROOT_PAGE], word = area_[table + TBE_ROOT_WORD];
  ASSERT_EQ(CloseDb(1, 3, -1), 0);
  EXPECT_EQ(area_[BP_LOG_TABLE], 0);
  EXPECT_EQ(DKHMI0(area_[BP_TABLE_HASH], kLogTableTbl), 0);  // its entry is free
  // Opened again: the same root entry, not a second table.
  ASSERT_EQ(OpenDb("log", 1, 3, -1, &entry), 0);
  ASSERT_GT(area_[BP_LOG_TABLE], 0);
  EXPECT_EQ(area_[area_[BP_LOG_TABLE] + TBE_ROOT_PAGE], root);
  EXPECT_EQ(area_[area_[BP_LOG_TABLE] + TBE_ROOT_WORD], word);
  int32_t nte[NTE_WORDS] = {};
  nte[NTE_DATABANK] = entry;
  int tables = 0;
  for (DKNTE1(nte); nte[NTE_STATUS] == 0; DKNTE1(nte)) ++tables;
  EXPECT_EQ(tables, 1);
  ASSERT_EQ(CloseDb(1, 3, -1), 0);
}

TEST_F(OpenStepsTest, SystemDatabankRegistersTheOpenDatabanks) {
  Make("log", 64, 3);
  Make("sys", 64, 1);
  Make("user", 64, 5);
  Make("work", 64, 4);
  int32_t log = 0, user = 0, sys = 0;
  ASSERT_EQ(OpenDb("log", 1, 3, -1, &log), 0);
  ASSERT_EQ(OpenDb("user", 1, 5, -1, &user), 0);
  ASSERT_EQ(OpenDb("work", 1, 4, -1), 0);
  ASSERT_EQ(SlotStamp(5), -1);
  ASSERT_EQ(OpenDb("sys", 1, 1, -1, &sys), 0);
  // A slot each for the user and the system databank, none for the WORK and
  // LOG databanks; each header's stamp is the next to hand out.
  EXPECT_EQ(SlotStamp(5), 0);
  EXPECT_EQ(SlotStamp(1), 0);
  EXPECT_EQ(SlotStamp(4), -1);
  EXPECT_EQ(SlotStamp(3), -1);
  EXPECT_EQ(HeaderStamp(user), 1);
  EXPECT_EQ(area_[BP_SYSDB_STAMP], 1);

  // Registered again: the slots move on to the headers' stamps.
  ASSERT_EQ(CloseDb(1, 1, -1), 0);
  ASSERT_EQ(OpenDb("sys", 1, 1, -1, &sys), 0);
  EXPECT_EQ(SlotStamp(5), 1);
  EXPECT_EQ(area_[user + DBE_ERROR], 0);

  // A databank whose stamp the directory does not expect must be restored.
  SetHeaderStamp(user, 40);
  ASSERT_EQ(CloseDb(1, 1, -1), 0);
  ASSERT_EQ(OpenDb("sys", 1, 1, -1, &sys), 0);
  EXPECT_EQ(area_[user + DBE_ERROR], -19);
  EXPECT_EQ(SlotStamp(5), 1);
}

TEST_F(OpenStepsTest, RestoreDirectoryIsCopiedIntoAnotherCopy) {
  const int32_t log = Create("log", 64, 3, 1);
  const int32_t copy = Create("logcopy", 64, 3, 2);
  area_[BP_LOG_ENTRY] = log;
  // Enough slots for two directory pages in the source.
  for (int32_t did = 10; did < 10 + RDIR_SLOTS + 3; ++did) {
    int32_t rq[ROO_WORDS];
    std::fill(rq, rq + ROO_WORDS, -1);
    rq[ROO_CODE] = 5;
    rq[ROO_DATABANK] = log;
    rq[ROO_OTHER_DID] = did;
    rq[ROO_STAMP] = did * 2;
    // The copy is offline meanwhile, so only the source's directory grows.
    area_[copy + DBE_OFFLINE] = 1;
    ASSERT_EQ(DKROO1(rq), 0) << did;
  }
  area_[copy + DBE_OFFLINE] = 0;
  // The copy had a directory page of its own: it is freed.
  const int32_t old = Allocate(copy, kUnitBytes);
  int32_t b = Get(copy, old, kUnitBytes, GET_NEW);
  std::memset(PageBytes(b) + 4, 0, kUnitBytes - 4);
  ASSERT_EQ(WriteUnitPage(copy, old, b), 0);
  b = Get(copy, kHeaderUnit, kUnitBytes, GET_UPDATE);
  SetPageWord(PageBytes(b), HDR_RESTORE_DIRECTORY, old);
  ASSERT_EQ(WriteUnitPage(copy, kHeaderUnit, b), 0);

  ASSERT_EQ(DKCopyRestoreDirectory(log, copy), 0);
  int32_t first = FileWord("logcopy", kHeaderUnit, HDR_RESTORE_DIRECTORY);
  ASSERT_GT(first, 0);
  EXPECT_NE(first, old);
  int32_t second = FileWord("logcopy", first, RDIR_NEXT);
  ASSERT_GT(second, 0);
  EXPECT_EQ(FileWord("logcopy", second, RDIR_NEXT), 0);
  // The same slots, page for page.
  int32_t source_first = FileWord("log", kHeaderUnit, HDR_RESTORE_DIRECTORY);
  int32_t source_second = FileWord("log", source_first, RDIR_NEXT);
  for (int32_t w = RDIR_FIRST_SLOT; w < kUnitBytes / 4; ++w) {
    ASSERT_EQ(FileWord("logcopy", first, w), FileWord("log", source_first, w)) << w;
    ASSERT_EQ(FileWord("logcopy", second, w), FileWord("log", source_second, w)) << w;
  }
  int32_t lookup[ROO_WORDS];
  std::fill(lookup, lookup + ROO_WORDS, -1);
  lookup[ROO_CODE] = 14;
  lookup[ROO_DATABANK] = copy;
  lookup[ROO_OTHER_DID] = 10 + RDIR_SLOTS + 1;
  EXPECT_EQ(DKROO1(lookup), 0);
  EXPECT_EQ(lookup[ROO_STAMP], 2 * (10 + RDIR_SLOTS + 1));
  // The old page is free again.
  b = Get(copy, 0, kUnitBytes, GET_SHARED);
  EXPECT_FALSE(BitmapBit(PageBytes(b), old));
  DKPUT0(PUT_END_SHARED, b);
  // A source without a directory copies nothing.
  const int32_t empty = Create("empty", 64, 6, 1);
  EXPECT_EQ(DKCopyRestoreDirectory(empty, copy), 0);
  EXPECT_EQ(FileWord("logcopy", kHeaderUnit, HDR_RESTORE_DIRECTORY), first);
}

class DroppedTablesTest : public TableTest {
 protected:
  // Sets word j of a table's root entry (numbered from its level count).
  void SetRootWord(const Table& t, int32_t j, int32_t value) {
    int32_t record = 0;
    int32_t b = GetRootEntry(t.entry, GET_UPDATE, 44, &record);
    ASSERT_GT(b, 0);
    area_[record + j] = value;
    ASSERT_EQ(WriteUnitPage(db_, area_[t.entry + TBE_ROOT_PAGE], b), 0);
  }
  // Closed properly, then opened again through DKOPD1 (no check runs).
  int32_t Reopen() {
    Close(db_);
    std::vector<int32_t> rq(CRD_WORDS, 0);
    rq[CRD_MODE] = 1;
    rq[CRD_DID] = 5;
    rq[CRD_SEQNO] = -1;
    rq[CRD_TYPE] = 9;
    FillNames(rq.data(), "tables");
    DKCallEntry(44, rq.data(), nullptr);
    if (rq[CRD_MODE] == 0) {
      db_ = rq[CRD_UNITS];
      open_.push_back(db_);
    }
    return rq[CRD_MODE];
  }
  std::vector<int32_t> TablesOnDisk() {
    std::vector<int32_t> tbls;
    int32_t nte[NTE_WORDS] = {};
    nte[NTE_DATABANK] = db_;
    for (DKNTE1(nte); nte[NTE_STATUS] == 0; DKNTE1(nte)) tbls.push_back(nte[NTE_TBL]);
    return tbls;
  }
};

TEST_F(DroppedTablesTest, TablesLeftDroppingAreRemovedAtOpen) {
  Table dropping = CreateTable(70, 4, 200, 2048, 2048);
  Table dropped = CreateTable(71, 4, 200, 2048, 2048);
  Table rebuilt = CreateTable(72, 4, 200, 2048, 2048);
  for (int i = 0; i < 60; ++i)
    for (const Table* t : {&dropping, &dropped, &rebuilt})
      ASSERT_EQ(Insert(*t, MakeRecord(std::to_string(1000 + i), 4, 200)), 0);
  const int32_t top = Top(dropping);
  ASSERT_TRUE(InUse(top));
  SetRootWord(dropping, RE_TYPE, 2);
  SetRootWord(dropped, RE_TYPE, kTypeDropped);
  SetRootWord(rebuilt, RE_TYPE, 4);
  ASSERT_EQ(Reopen(), 0);
  EXPECT_EQ(TablesOnDisk(), (std::vector<int32_t>{72}));
  EXPECT_FALSE(InUse(top));  // its pages are given back
}

TEST_F(DroppedTablesTest, PageSizeAboveTheLargestFailsTheOpen) {
  Table t = CreateTable(73, 4, 40);
  SetRootWord(t, RE_DATA_PAGE_SIZE, 131072);
  EXPECT_EQ(Reopen(), -76);
}

}  // namespace
