// Restart records beyond row changes: a table emptied, dropped or created
// again on the copies a section owes it to, records whose routine the
// kernel lacks, damaged records; the LOG databank's replay into its log
// table; the rebuild of a TRANS copy; and the records a copy that was
// offline missed, owed in the restart set by the write-set application.
#include <gtest/gtest.h>

#include <map>

#include "dk/databank_restart.h"
#include "dk/databank_verification.h"
#include "dk/set_requests.h"
#include "dk/set_table.h"
#include "dk/table_cursor.h"
#include "dk/table_open.h"
#include "dk/tests/large_object_fixture.h"
#include "dk/tests/table_fixture.h"
#include "dk/transactions.h"

namespace {

class RestartRecordsTest : public TableTest {
 protected:
  void SetUp() override {
    TableTest::SetUp();
    copy_ = Create("copy", 4000, 5, 4);
    trans_ = Create("trans", 800, 2, 1);
    GiveTransRootPage(trans_);
    area_[BP_TRANS_ENTRY] = trans_;
    table_ = CreateTable(70, 4, 20);
    copy_table_ = {area_[table_.entry + TBE_NEXT], 70, 4, 20};
    for (const Table& t : {table_, copy_table_})
      ASSERT_EQ(Insert(t, MakeRecord("bbbb", 4, 20, '1')), 0);
    // Closed as after the server stopped; the entry stays in the table hash.
    int32_t close[CRT_WORDS] = {0, 0, 5, 0, table_.entry, 70};
    DKCLT1(close);
    area_[BP_LOG_TABLE] = 1;  // marks are rewritten, settled sets dropped
  }

  // A set of TRANS (made when missing), its entry.
  int32_t TransSet(int32_t tbl, int32_t did = 2) { return MakeTransSet(tbl, did); }
  static void Append(int32_t set, int32_t tbl, const std::vector<int32_t>& record) {
    std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0);
    b[SETRQ_TABLE] = set;
    b[SETRQ_TBL] = tbl;
    b[SETRQ_LENGTH] = static_cast<int32_t>(record.size());
    std::copy(record.begin(), record.end(), b.begin() + SETRQ_RECORD);
    ASSERT_EQ(DKAXR0(b), 0);
  }
  static std::vector<std::vector<int32_t>> Records(int32_t set, int32_t tbl) {
    std::vector<std::vector<int32_t>> out;
    std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0);
    b[SETRQ_TABLE] = set;
    b[SETRQ_TBL] = tbl;
    for (;;) {
      b[SETRQ_RC] = 0;
      if (DKGXN0(b) != 0) break;
      out.emplace_back(b.begin() + SETRQ_RECORD, b.begin() + SETRQ_RECORD + b[SETRQ_LENGTH]);
    }
    return out;
  }
  // The records of a restart set of TRANS, read through an open of it (a
  // replay closes the sets it reads).
  static std::vector<std::vector<int32_t>> Owed(int32_t tbl) {
    int32_t open[CRT_WORDS] = {3, 0, 2, kKindSet, 0, tbl};
    DKOPT1(open);
    EXPECT_EQ(open[RQ_STATUS], 0);
    if (open[RQ_STATUS] != 0) return {};
    auto out = Records(open[RQ_TABLE], tbl);
    open[RQ_STATUS] = 0;
    DKCLT1(open);
    return out;
  }
  // A record of code `code` for table 70 of DID 5: CRT words filled.
  static std::vector<int32_t> TableRecord(int32_t code, int32_t tbl = 70, int32_t type = 10) {
    std::vector<int32_t> r(RQ_RECORD + 6, 0);
    r[0] = code;
    r[RQ_DID] = 5;
    r[RQ_TYPE] = type;
    r[RQ_TBL] = tbl;
    r[RQ_KEY_LENGTH] = 4;
    r[RQ_RECORD_LENGTH] = 20;
    if (code == 18 || code == 19) r[RQ_RECORD] = -1;  // the table itself
    return r;
  }
  int32_t Replay(int32_t did, int32_t entry) {
    int32_t rq[RSD_WORDS] = {-1, entry, did, -1};
    return DKRSD1(rq);
  }
  bool Logged(const std::string& text) {
    for (const LogRecord& r : log_.records)
      for (const std::string& line : r.lines)
        if (line.find(text) != std::string::npos) return true;
    return false;
  }
  // DKCHK1 of a row of table 70 on the head (copy false) or on copy 4,
  // through an open of the table, as the replay closed it.
  int32_t CheckRow(bool copy, const std::string& row) {
    int32_t open[CRT_WORDS] = {3, 0, 5, -1, 0, 70, 4, 20};
    DKOPT1(open);
    if (open[RQ_STATUS] != 0) return open[RQ_STATUS];
    const int32_t head = open[RQ_TABLE];
    const int32_t rc = Check({copy ? area_[head + TBE_NEXT] : head, 70, 4, 20}, row);
    open[RQ_STATUS] = 0;
    DKCLT1(open);
    return rc;
  }
  // The root entry type of TBL on a databank, -1 when it has none.
  int32_t RootType(int32_t databank, int32_t tbl) {
    int32_t nte[NTE_WORDS] = {};
    nte[NTE_DATABANK] = databank;
    for (DKNTE1(nte); nte[NTE_STATUS] == 0; DKNTE1(nte))
      if (nte[NTE_TBL] == tbl) return nte[NTE_TYPE] % 10;
    return -1;
  }

  int32_t copy_ = 0, trans_ = 0;
  Table table_, copy_table_;
};

TEST_F(RestartRecordsTest, TableRecordsReachTheCopiesTheirSectionNames) {
  struct Case {
    const char* what;
    int32_t mark, seqno;  // the section
    std::vector<int32_t> record;
    int32_t type_head, type_copy;  // root entry types of TBL 70 after
    bool rows_head, rows_copy;     // TBL 70 still holds its row
  } cases[] = {
      {"empty the table on every copy", 32, -1, TableRecord(5), 0, 0, false, false},
      {"empty it on copy 4 only", 31, 4, TableRecord(5), 0, 0, true, false},
      {"drop it on every copy", 32, -1, TableRecord(8), -1, -1, true, true},
      {"drop it on the head only", 31, 3, TableRecord(8), -1, 0, true, true},
      {"post-processing drops it", 32, -1, TableRecord(18), -1, -2, true, true},
      {"a section done already", 30, -1, TableRecord(5), 0, 0, true, true},
      {"kind and type changed on every copy", 32, -1, TableRecord(6, 70, 14), 4, 4, true, true},
      {"kind and type changed on copy 4", 31, 4, TableRecord(6, 70, 14), 0, 4, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    const int32_t set = TransSet(5);
    Append(set, 5, {c.mark, 0, 5, c.seqno});
    Append(set, 5, c.record);
    EXPECT_EQ(Replay(5, db_), 0);
    EXPECT_EQ(RootType(db_, 70), c.type_head);
    if (c.type_copy != -2) {
      EXPECT_EQ(RootType(copy_, 70), c.type_copy);
    }
    if (c.type_head >= 0) {
      EXPECT_EQ(CheckRow(false, MakeRecord("bbbb", 4, 20, '1')) == 0, c.rows_head);
      EXPECT_EQ(CheckRow(true, MakeRecord("bbbb", 4, 20, '1')) == 0, c.rows_copy);
    }
  }
}

TEST_F(RestartRecordsTest, ACreatedTableAppearsOnEveryCopy) {
  const int32_t set = TransSet(5);
  Append(set, 5, {32, 0, 5, -1});
  Append(set, 5, TableRecord(9, 71));
  EXPECT_EQ(Replay(5, db_), 0);
  EXPECT_EQ(RootType(db_, 71), 0);
  EXPECT_EQ(RootType(copy_, 71), 0);
}

TEST_F(RestartRecordsTest, RecordsWithoutARoutineAreReportedAndDamagedOnesSkipped) {
  const int32_t set = TransSet(5);
  Append(set, 5, {32, 0, 5, -1});
  Append(set, 5, {14, 0, 5});     // a restore directory stamp cut short
  Append(set, 5, {27, 0, 5, 0});  // no such record
  std::vector<int32_t> insert = TableRecord(1);
  const std::string row = MakeRecord("cccc", 4, 20, '2');
  std::memcpy(insert.data() + RQ_RECORD, row.data(), row.size());
  Append(set, 5, insert);
  EXPECT_EQ(Replay(5, db_), 0);
  EXPECT_TRUE(Logged("restart set corrupt, value = 14"));
  EXPECT_TRUE(Logged("restart set corrupt, value = 27"));
  // The replay went on past both.
  EXPECT_EQ(CheckRow(false, row), 0);
  EXPECT_EQ(CheckRow(true, row), 0);
}

TEST_F(RestartRecordsTest, TheLogReplayCopiesOwedRecordsIntoTheLogTableAndDropsTheSet) {
  const int32_t log = Create("log", 400, 3, 1);
  area_[BP_LOG_ENTRY] = log;
  const int32_t log_table = TransSet(8, 3);
  area_[BP_LOG_TABLE] = log_table;
  const int32_t set = TransSet(3);
  Append(set, 3, {32, 0, 3, -1});
  Append(set, 3, {1, 41, 5, 0, 0, 70, 0, 20, 0, 0, 7});
  std::vector<int32_t> header(WSH_DATABANKS + 1, 0);
  header[0] = kCodeHeader;
  header[1] = 41;
  Append(set, 3, header);
  EXPECT_EQ(Replay(3, log), 0);
  const auto logged = Records(log_table, 8);
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_EQ(logged[0][0], 1);
  EXPECT_EQ(logged[0][RQ_RECORD], 7);
  EXPECT_EQ(logged[1][0], kCodeHeader);
  // The header carries the time of the replay in words 16 to 19.
  EXPECT_NE(logged[1][16], 0);
  EXPECT_TRUE(Owed(3).empty());
}

class TransCopyTest : public RestartRecordsTest, public ::testing::WithParamInterface<bool> {
 protected:
  // The rows of a table in key order, each with the leaf it lies on.
  std::vector<std::pair<int32_t, std::string>> Leaves(const Table& t) {
    std::vector<int32_t> b(CursorBlockWords(t.length) + 1, 0);
    b[CUR_TABLE] = t.entry;
    b[CUR_TBL] = t.tbl;
    b[CUR_KEY_LENGTH] = t.key;
    b[CUR_RECORD_LENGTH] = t.length;
    std::vector<std::pair<int32_t, std::string>> rows;
    for (b[CUR_STATUS] = FET_FROM_KEY;; b[CUR_STATUS] = FET_NEXT) {
      DKFET1(b.data());
      if (b[CUR_STATUS] != 0) break;
      rows.emplace_back(b[CUR_PAGE], std::string(reinterpret_cast<const char*>(b.data() + CUR_RECORD),
                                                 static_cast<size_t>(t.length)));
    }
    EXPECT_EQ(b[CUR_STATUS], kStatusEnd);
    return rows;
  }
};

TEST_P(TransCopyTest, AStaleTransCopyIsRebuiltFromTheTransDatabank) {
  const bool by_record = GetParam();
  const int32_t copy = Create("transcopy", 800, 2, 2);
  GiveTransRootPage(copy);
  area_[trans_ + DBE_DEPENDENT] = copy;  // chained behind the TRANS databank
  const int32_t set = TransSet(6);
  ASSERT_EQ(area_[area_[set + TBE_NEXT] + TBE_DATABANK], copy);
  // Records the copy missed: appended on the TRANS databank alone.
  for (int32_t i = 1; i <= 5; ++i) Append(set, 6, {1, i, 5, 0, 0, 70, 0, 20, 0, 0, 100 + i});
  int32_t kernel[CRT_WORDS] = {0, 0, 2, 10, 0, 5, 128, 148};
  DKCRT1(kernel);
  ASSERT_EQ(kernel[RQ_STATUS], 0);
  const Table head5 = {kernel[RQ_TABLE], 5, 128, 148};
  ASSERT_EQ(Insert(head5, MakeRecord("kernel row", 128, 148, 'k')), 0);
  // Rows enough for several leaves, inserted out of order.
  for (int32_t i = 0; i < 60; ++i)
    ASSERT_EQ(Insert(head5, MakeRecord("row " + std::to_string(100 + i * 37 % 60), 128, 148)), 0);
  if (by_record) {
    // Record 17 of TRANS owed in its restart set: the copy came online.
    const int32_t owed = TransSet(2);
    Append(owed, 2, {32, 0, 2, -1});
    Append(owed, 2, {17, 0, 2, 2});
    ASSERT_EQ(Replay(2, trans_), 0);
  } else {
    int32_t rq[RSD_WORDS] = {-1, copy, 2, -1};
    ASSERT_EQ(DKRET1(rq), 0);
  }
  // The replay at an open closes the tables it leaves unused: opened again.
  int32_t open6[CRT_WORDS] = {3, 0, 2, kKindSet, 0, 6};
  DKOPT1(open6);
  ASSERT_EQ(open6[RQ_STATUS], 0);
  const int32_t head_set = open6[RQ_TABLE], copy_set = area_[head_set + TBE_NEXT];
  EXPECT_EQ(Records(copy_set, 6), Records(head_set, 6));
  EXPECT_EQ(Records(copy_set, 6).size(), 5u);
  int32_t open5[CRT_WORDS] = {3, 0, 2, -1, 0, 5, 128, 148};
  DKOPT1(open5);
  ASSERT_EQ(open5[RQ_STATUS], 0);
  const Table copy5 = {area_[open5[RQ_TABLE] + TBE_NEXT], 5, 128, 148};
  EXPECT_EQ(Check(copy5, MakeRecord("kernel row", 128, 148, 'k')), 0);
  // Copied page by page: the same rows, on whole leaves but the last.
  const std::vector<std::pair<int32_t, std::string>> copied = Leaves(copy5);
  const std::vector<std::pair<int32_t, std::string>> source = Leaves({open5[RQ_TABLE], 5, 128, 148});
  ASSERT_EQ(copied.size(), 61u);
  std::map<int32_t, int32_t> per_page;
  for (size_t i = 0; i < copied.size(); ++i) {
    EXPECT_EQ(copied[i].second, source[i].second) << i;
    ++per_page[copied[i].first];
  }
  const int32_t per_leaf = (RootEntry(copy5)[7] - kPageHeaderBytes) / 148;
  ASSERT_GE(per_page.size(), 2u);
  EXPECT_EQ(per_page.size(), (61u + per_leaf - 1) / per_leaf);
  for (int32_t* b : {open6, open5}) {
    b[RQ_STATUS] = 0;
    DKCLT1(b);
  }
  EXPECT_EQ(FileWord("transcopy", kHeaderUnit, HDR_CLOSE_MARK), 0);
  area_[trans_ + DBE_DEPENDENT] = 0;
}

INSTANTIATE_TEST_SUITE_P(DirectOrByRecord17, TransCopyTest, ::testing::Bool());

}  // namespace

namespace {

TEST_F(RestartRecordsTest, AnOwedDeleteOfAnExtentRowExplainsItsUnitsReachedTwice) {
  TestWordStorage storage(4000);
  storage.Install();
  ASSERT_EQ(DKRecordUnitsReachedTwice(db_, {2990, 3000, 3001, 3002, 3010}), 0);
  const int32_t set = TransSet(5);
  Append(set, 5, {32, 0, 5, -1});
  // A row of a table of extents: three 2048-byte pages from unit 3000.
  std::vector<int32_t> row(RQ_RECORD + 4, 0);
  row[0] = 4;
  row[RQ_DID] = 6;  // a delete settles whatever databank the row was of
  row[RQ_TYPE] = kKindLobRefs;
  row[RQ_TBL] = 70;
  row[RQ_RECORD] = 3000;
  row[RQ_RECORD + 2] = 2048;
  row[RQ_RECORD + 3] = 3;
  Append(set, 5, row);
  int32_t rq[RSD_WORDS] = {-1, db_, 5, -1};
  EXPECT_EQ(DKRSL1(rq), 0);
  EXPECT_EQ(DKUnitsReachedTwice(db_), (std::vector<int32_t>{2990, 3010}));
  DKForgetUnitsReachedTwice(db_);
  TestWordStorage::Uninstall();
}

}  // namespace

namespace {

// Each table operation reaches its own routine on both copies; these
// records carry no format, so each routine refuses it under its own name,
// the copies are disabled and the replay ends with their error word.
TEST_F(RestartRecordsTest, EachTableOperationReachesItsRoutineOnEveryCopy) {
  struct Case {
    int32_t code;
    const char* routine;
    int32_t result, reports;
  } cases[] = {
      {7, "DKDCT1", -67, 2},  {10, "DKACT1", -67, 2}, {11, "DKCRX1", -86, 2},
      {23, "DKRCX1", -86, 2}, {24, "DKALR1", -67, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.routine);
    TearDown();
    SetUp();
    log_.records.clear();
    const int32_t set = TransSet(5);
    Append(set, 5, {32, 0, 5, -1});
    Append(set, 5, TableRecord(c.code));
    EXPECT_EQ(Replay(5, db_), c.result);
    int32_t reports = 0;
    const std::string name = std::string("in function ") + c.routine;
    for (const LogRecord& r : log_.records)
      for (const std::string& line : r.lines) reports += line.find(name) != std::string::npos;
    EXPECT_EQ(reports, c.reports);
  }
}

}  // namespace

namespace {

TEST_F(RestartRecordsTest, TheSystemDatabankReplayedWithoutTheLogKeepsItsSetAndIsOwedAgain) {
  const int32_t sys = Create("sys", 2000, 1, 1);
  area_[BP_LOG_TABLE] = 0;
  area_[BP_SYSDB_RESTARTED] = 1;
  // TBLs are the kernel's, not a databank's: the system databank's own.
  int32_t c[CRT_WORDS] = {0, 0, 1, 10, 0, 71, 4, 20};
  DKCRT1(c);
  ASSERT_EQ(c[RQ_STATUS], 0);
  c[RQ_STATUS] = 0;
  DKCLT1(c);
  const int32_t set = TransSet(1);
  Append(set, 1, {32, 0, 1, -1});
  std::vector<int32_t> insert = TableRecord(1, 71);
  insert[RQ_DID] = 1;
  const std::string row = MakeRecord("ssss", 4, 20, '9');
  std::memcpy(insert.data() + RQ_RECORD, row.data(), row.size());
  Append(set, 1, insert);
  Append(set, 1, {31, 0, 1, 1});
  EXPECT_EQ(Replay(1, sys), 0);
  EXPECT_EQ(area_[BP_SYSDB_RESTARTED], 0);
  // Applied, the marks as they were, the set kept.
  int32_t open[CRT_WORDS] = {3, 0, 1, -1, 0, 71, 4, 20};
  DKOPT1(open);
  ASSERT_EQ(open[RQ_STATUS], 0);
  EXPECT_EQ(Check({open[RQ_TABLE], 71, 4, 20}, row), 0);
  open[RQ_STATUS] = 0;
  DKCLT1(open);
  const auto records = Owed(1);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0][0], 32);
  EXPECT_EQ(records[2][0], 31);
}

TEST_F(RestartRecordsTest, AStampOwedToABackupCopyIsLeftAlone) {
  area_[copy_ + DBE_KIND] = DBT_BACKUP;
  const int32_t set = TransSet(5);
  Append(set, 5, {31, 0, 5, 4});
  Append(set, 5, {13, 0, 307, 7, 0, 12, 0, 0, 0, 0});
  log_.records.clear();
  EXPECT_EQ(Replay(5, db_), 0);
  EXPECT_TRUE(log_.records.empty());
  EXPECT_EQ(FileWord("copy", kHeaderUnit, HDR_RESTORE_DIRECTORY), 0);
}

}  // namespace

namespace {

TEST_F(RestartRecordsTest, AnAppendForADidThatNamesAnotherTableIsRefused) {
  // TBL 70 is a table of DID 5: a databank with DID 70 would find it in
  // the table hash in place of its restart set.
  std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0);
  b[SETRQ_LENGTH] = 4;
  b[SETRQ_RECORD] = 1;
  EXPECT_EQ(DKAppendRestartRecord(b, 70, -1), -46);
  EXPECT_EQ(b[SETRQ_RC], -46);
  // Given back as it was found: the table is still in use by nobody.
  EXPECT_EQ(area_[DKHMI0(area_[BP_TABLE_HASH], 70) + TBE_USES], 0);
  EXPECT_EQ(CheckRow(false, MakeRecord("bbbb", 4, 20, '1')), 0);
}

}  // namespace

namespace {

TEST_F(RestartRecordsTest, ADatabankThatOwesNothingLogsNothing) {
  log_.records.clear();
  EXPECT_EQ(Replay(5, db_), 0);
  int32_t rq[RSD_WORDS] = {-1, db_, 5, -1};
  EXPECT_EQ(DKRSL1(rq), 0);
  EXPECT_TRUE(log_.records.empty());
}

}  // namespace

namespace {

// Records 13 and 14 carry, as record access builds them from a backup's
// table descriptor, record access's DID (word 2, a databank entry of the
// process that wrote it, no key after a restart), the logical id that is
// the kernel's DID whose slot (word 3) and its stamp (word 5); the key's
// text after it (words 6 to 9) is no stamp.
TEST_F(RestartRecordsTest, StampsOwedToEveryCopyReachTheirRestoreDirectories) {
  const int32_t set = TransSet(5);
  constexpr int32_t kText = 0x30303030;  // "0000"
  Append(set, 5, {32, 0, 5, -1});
  Append(set, 5, {13, 0, 307, 7, 0, 12, kText, kText, kText, kText});
  EXPECT_EQ(Replay(5, db_), 0);
  for (const char* file : {"tables", "copy"}) {
    SCOPED_TRACE(file);
    const int32_t directory = FileWord(file, kHeaderUnit, HDR_RESTORE_DIRECTORY);
    ASSERT_GT(directory, 1);
    // The first slot: DID, stamp (one behind the record's), sequence, state.
    EXPECT_EQ(FileWord(file, directory, 4), 7);
    EXPECT_EQ(FileWord(file, directory, 5), 11);
    EXPECT_EQ(FileWord(file, directory, 7), 1);
  }
  // A stamp that does not fit the slot only warns at an open.
  const int32_t again = TransSet(5);
  Append(again, 5, {32, 0, 5, -1});
  Append(again, 5, {13, 0, 307, 7, 0, 30, kText, kText, kText, kText});
  log_.records.clear();
  EXPECT_EQ(Replay(5, db_), 0);
  EXPECT_TRUE(Logged("restore needed due to invalid timestamp"));
}

}  // namespace
