// The replay of a restart set over a databank of two copies: the records of
// a section for every copy reach each usable copy, those of a section for
// one copy only that copy; the marks are rewritten as their sections
// settle, and the set goes once every section is done.
#include "dk/databank_restart.h"

#include <gtest/gtest.h>

#include "dk/bitmap_page.h"
#include "dk/databank_operations.h"
#include "dk/set_requests.h"
#include "dk/set_table.h"
#include "dk/table_open.h"
#include "dk/tests/table_fixture.h"

namespace {

class RestartTest : public TableTest {
 protected:
  void SetUp() override {
    TableTest::SetUp();
    copy_ = Create("copy", 4000, 5, 4);
    trans_ = Create("trans", 400, 2, 1);
    // The TRANS databank keeps its tables on the root pages its header's
    // word 4 names.
    int32_t rq[REQ_WORDS] = {trans_, 0, 2048, 0, -1, 0};
    ASSERT_EQ(DKHLD0(rq, 0), 0);
    int32_t root = rq[REQ_PAGE];
    int32_t b = Get(trans_, root, 2048, GET_NEW);
    std::memset(PageWords(b) + 1, 0, 2044);
    PageWords(b)[HDR_KIND] = ROOT_PAGE_KIND;
    ASSERT_EQ(WriteUnitPage(trans_, root, b), 0);
    b = Get(trans_, kHeaderUnit, 2048, GET_UPDATE);
    PageWords(b)[HDR_RESTORE_DIRECTORY] = root;
    ASSERT_EQ(WriteUnitPage(trans_, kHeaderUnit, b), 0);
    table_ = CreateTable(70, 4, 20);
    copy_table_ = {area_[table_.entry + TBE_NEXT], 70, 4, 20};
    ASSERT_EQ(area_[copy_table_.entry + TBE_DATABANK], copy_);
    ASSERT_EQ(Insert(table_, MakeRecord("bbbb", 4, 20, '1')), 0);
    ASSERT_EQ(Insert(copy_table_, MakeRecord("bbbb", 4, 20, '1')), 0);

    set_ = MakeTransSet(5);
  }

  void Append(std::vector<int32_t> record) {
    std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0);
    b[SETRQ_TABLE] = set_;
    b[SETRQ_TBL] = 5;
    b[SETRQ_LENGTH] = static_cast<int32_t>(record.size());
    std::copy(record.begin(), record.end(), b.begin() + SETRQ_RECORD);
    ASSERT_EQ(DKAXR0(b), 0);
  }
  void Mark(int32_t mark, int32_t seqno) { Append({mark, 0, 5, seqno}); }
  void Row(int32_t fcode, const std::string& row) {
    std::vector<int32_t> r(RQ_RECORD + row.size() / 4, 0);
    r[RQ_STATUS] = fcode;
    r[RQ_DID] = 5;
    r[RQ_TBL] = 70;
    r[RQ_RECORD_LENGTH] = static_cast<int32_t>(row.size());
    std::memcpy(r.data() + RQ_RECORD, row.data(), row.size());
    Append(r);
  }
  // The records of the restart set, word 0 and word 3 of each.
  std::vector<std::pair<int32_t, int32_t>> SetRecords(int32_t tbl = 5) {
    std::vector<std::pair<int32_t, int32_t>> out;
    // The replay closed the set: it is opened again as the next open would.
    int32_t open[CRT_WORDS] = {3, 0, 2, kKindSet, 0, tbl};
    DKOPT1(open);
    EXPECT_EQ(open[RQ_STATUS], 0);
    std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0);
    b[SETRQ_TABLE] = open[RQ_TABLE];
    b[SETRQ_TBL] = tbl;
    int32_t rc = 0;
    while (true) {
      b[SETRQ_RC] = 0;
      rc = DKGXN0(b);
      if (rc != 0) break;
      out.push_back({b[SETRQ_RECORD], b[SETRQ_RECORD + 3]});
    }
    EXPECT_EQ(rc, SET_END);
    open[RQ_STATUS] = 0;
    DKCLT1(open);
    return out;
  }
  int32_t Replay() {
    int32_t rq[RSD_WORDS] = {-1, db_, 5, -1};
    return DKRSD1(rq);
  }

  int32_t copy_ = 0, trans_ = 0, set_ = 0;
  Table table_, copy_table_;
};

TEST_F(RestartTest, AllCopiesUsableTheSetIsSettledAndDropped) {
  area_[BP_LOG_TABLE] = 1;
  Mark(32, -1);
  Row(1, MakeRecord("aaaa", 4, 20, '2'));
  Mark(31, 4);
  Row(2, MakeRecord("bbbb", 4, 20, '3'));
  EXPECT_EQ(Replay(), 0);
  EXPECT_EQ(Check(table_, MakeRecord("aaaa", 4, 20, '2')), 0);
  EXPECT_EQ(Check(copy_table_, MakeRecord("aaaa", 4, 20, '2')), 0);
  EXPECT_EQ(Check(table_, MakeRecord("bbbb", 4, 20, '1')), 0);
  EXPECT_EQ(Check(copy_table_, MakeRecord("bbbb", 4, 20, '3')), 0);
  EXPECT_TRUE(SetRecords().empty());
}

TEST_F(RestartTest, AnOfflineCopyKeepsItsSectionOwed) {
  area_[BP_LOG_TABLE] = 1;
  Mark(32, -1);
  Row(1, MakeRecord("aaaa", 4, 20, '2'));
  Mark(31, 3);
  Row(2, MakeRecord("bbbb", 4, 20, '3'));
  area_[copy_ + DBE_OFFLINE] = 1;
  EXPECT_EQ(Replay(), 0);
  EXPECT_EQ(Check(table_, MakeRecord("aaaa", 4, 20, '2')), 0);
  EXPECT_EQ(Check(table_, MakeRecord("bbbb", 4, 20, '3')), 0);
  auto records = SetRecords();
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0], std::make_pair(31, 4));  // owed to the offline copy
  EXPECT_EQ(records[2].first, 30);
}

TEST_F(RestartTest, ExtentsOfInsertedRowsAreInUseAndOneOutsideTheFileFails) {
  // Rows of a table of extents (record word 3 = 6): three 2048-byte pages
  // from unit 3000, owed to every copy.
  auto extent = [&](int32_t first) {
    std::vector<int32_t> r(RQ_RECORD + 4, 0);
    r[RQ_STATUS] = 1;
    r[RQ_DID] = 5;
    r[RQ_TYPE] = kKindLobRefs;
    r[RQ_TBL] = 70;
    r[RQ_RECORD] = first;
    r[RQ_RECORD + 2] = 2048;
    r[RQ_RECORD + 3] = 3;
    Append(r);
  };
  auto in_use = [&](int32_t unit) {
    int32_t b = Get(db_, 0, kUnitBytes, GET_SHARED);
    bool used = BitmapBit(PageBytes(b), unit);
    DKPUT0(PUT_END_SHARED, b);
    return used;
  };
  Mark(32, -1);
  extent(3000);
  int32_t rq[RSD_WORDS] = {-1, db_, 5, -1};
  EXPECT_EQ(DKRSL1(rq), 0);
  for (int32_t u : {3000, 3001, 3002}) EXPECT_TRUE(in_use(u)) << u;
  EXPECT_FALSE(in_use(3003));
  EXPECT_EQ(DKRSL1(rq), 0);  // settled already: nothing changes

  // The settlement closed the set: it is found again for the next append.
  int32_t open[CRT_WORDS] = {3, 0, 2, kKindSet, 0, 5};
  DKOPT1(open);
  ASSERT_EQ(open[RQ_STATUS], 0);
  set_ = open[RQ_TABLE];
  open[RQ_STATUS] = 0;
  DKCLT1(open);
  extent(3998);  // its last page lies past the file's last unit, 3999
  EXPECT_EQ(DKRSL1(rq), -42);
}

TEST_F(RestartTest, AppendsOpenASectionOnlyWhenTheSetIsNotInUse) {
  auto append = [&](int32_t fcode, int32_t seqno) {
    std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0);
    b[SETRQ_LENGTH] = 4;
    b[SETRQ_RECORD] = fcode;
    b[2] = 77;
    b[SETRQ_TABLE] = 88;
    b[SETRQ_TBL] = 99;
    EXPECT_EQ(DKAppendRestartRecord(b, 6, seqno), 0);
    EXPECT_EQ(std::vector<int32_t>({b[2], b[SETRQ_TABLE], b[SETRQ_TBL]}),
              std::vector<int32_t>({77, 88, 99}));
  };
  append(1, -1);  // a new set: mark 32 first
  append(2, -1);  // no second mark
  using P = std::pair<int32_t, int32_t>;
  EXPECT_EQ(SetRecords(6), (std::vector<P>{{32, -1}, {1, 0}, {2, 0}}));
  // The set left the table hash (as at a restart): the next append, for one
  // copy, opens its own section.
  int32_t set = DKHMI0(area_[BP_TABLE_HASH], 6);
  ASSERT_GT(set, 0);
  int32_t close[CRT_WORDS] = {-22, 0, 2, 0, set, 6};
  DKCLT1(close);
  append(4, 3);
  append(31, 3);  // a mark of its own is appended as it is
  EXPECT_EQ(SetRecords(6), (std::vector<P>{{32, -1}, {1, 0}, {2, 0}, {31, 3}, {4, 0}, {31, 0}}));
}

TEST_F(RestartTest, SystemDatabankTakenOverWithTheLogOpenRunsItsRestart) {
  Close(Create("sys", 64, 1, 1));
  auto open = [&] {
    std::vector<int32_t> rq(CRD_WORDS, 0);
    rq[CRD_MODE] = 3;
    rq[CRD_DID] = 1;
    rq[CRD_SEQNO] = -1;
    rq[CRD_TYPE] = 9;
    FillNames(rq.data(), "sys");
    DKCallEntry(44, rq.data(), nullptr);
    if (rq[CRD_MODE] == 0) open_.push_back(rq[CRD_UNITS]);
    return rq[CRD_MODE];
  };
  ASSERT_EQ(open(), 0);
  EXPECT_EQ(area_[BP_SYSDB_RESTARTED], 0);  // the log was not open
  area_[BP_LOG_TABLE] = 1;
  ASSERT_EQ(open(), 0);
  EXPECT_EQ(area_[BP_SYSDB_RESTARTED], 1);
  EXPECT_EQ(area_[area_[BP_SYSDB_ENTRY] + DBE_OPENS], 2);
}

// The open's restart settles the extents first: one it cannot settle (its
// last page past the file's end) fails the open with -42 before any record
// of the set is replayed.
TEST_F(RestartTest, AnExtentThatCannotBeSettledFailsTheOpenBeforeTheReplay) {
  Mark(32, -1);
  Row(1, MakeRecord("cccc", 4, 20, '2'));
  std::vector<int32_t> r(RQ_RECORD + 4, 0);
  r[RQ_STATUS] = 1;
  r[RQ_DID] = 5;
  r[RQ_TYPE] = kKindLobRefs;
  r[RQ_TBL] = 70;
  r[RQ_RECORD] = 3998;
  r[RQ_RECORD + 2] = 2048;
  r[RQ_RECORD + 3] = 3;
  Append(r);
  EXPECT_EQ(DKReplayAtOpen(db_), -42);
  EXPECT_NE(Check(table_, MakeRecord("cccc", 4, 20, '2')), 0);
  EXPECT_EQ(SetRecords().size(), 3u);  // still owed
}

TEST_F(RestartTest, NoRestartSetNothingOwed) {
  int32_t rq[RSD_WORDS] = {-1, db_, 6, -1};
  EXPECT_EQ(DKRSD1(rq), 0);
}

}  // namespace
