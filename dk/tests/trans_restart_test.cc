// The restart of the TRANS databank: commit sets built record by record
// (groups closed by their headers, stamps, a group that wrapped around the
// ring) are handed on to the restart sets, and the commit set is emptied.
#include <gtest/gtest.h>

#include <map>
#include <tuple>

#include "dk/databank_restart.h"
#include "dk/set_requests.h"
#include "dk/set_table.h"
#include "dk/table_open.h"
#include "dk/tests/table_fixture.h"
#include "dk/transactions.h"

namespace {

class TransRestartTest : public TableTest {
 protected:
  void SetUp() override {
    TableTest::SetUp();
    trans_ = Create("trans", 800, 2, 1);
    GiveTransRootPage(trans_);
    commit_set_ = MakeSet(10);
    area_[BP_TRANS_ENTRY] = trans_;
    area_[BP_COMMIT_SET_TBL] = commit_set_;
  }

  int32_t MakeSet(int32_t tbl) {
    int32_t c[CRT_WORDS] = {};
    c[RQ_DID] = 2;
    c[RQ_TYPE] = 10 * kKindSet;
    c[RQ_TBL] = tbl;
    c[RQ_INDEX_PAGE_SIZE] = 2048;
    c[RQ_DATA_PAGE_SIZE] = 16384;
    DKCRT1(c);
    EXPECT_EQ(c[RQ_STATUS], 0);
    return c[RQ_TABLE];
  }

  // Appends a record to the commit set; its data page.
  int32_t Put(const std::vector<int32_t>& record) {
    std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0);
    b[SETRQ_TABLE] = commit_set_;
    b[SETRQ_TBL] = 10;
    b[SETRQ_LENGTH] = static_cast<int32_t>(record.size());
    std::copy(record.begin(), record.end(), b.begin() + SETRQ_RECORD);
    EXPECT_EQ(DKAXR0(b), 0);
    return b[SETRQ_PAGE];
  }
  // A change record of group `group` for databank `did`; `words` pads it.
  static std::vector<int32_t> Change(int32_t code, int32_t group, int32_t did, int32_t tag,
                                     int32_t words = 12) {
    std::vector<int32_t> r(static_cast<size_t>(words), 0);
    r[0] = code;
    r[1] = group;
    r[WSR_DID] = did;
    r[WSR_TBL] = 70;
    r[RQ_RECORD] = tag;
    return r;
  }
  // A header: kind, commit number, stamp, data pages and its databanks
  // (DID, type).
  static std::vector<int32_t> Header(int32_t group, int32_t kind, int32_t commit, int32_t stamp,
                                     int32_t pages,
                                     std::vector<std::pair<int32_t, int32_t>> dbs = {{5, 1}}) {
    std::vector<int32_t> h(WSH_DATABANKS, 0);
    h[WS_CODE] = kCodeHeader;
    h[WSH_GROUP] = group;
    h[WSH_KIND] = kind;
    h[WSH_PREPARE] = 1000 + commit;
    h[WSH_COMMIT] = commit;
    h[WSH_STAMP] = stamp;
    h[WSH_PAGES] = pages;
    for (auto [did, type] : dbs) {
      std::vector<int32_t> e(WSH_ENTRY_WORDS, 0);
      e[WSHE_DATABANK] = 1;
      e[WSHE_DID] = did;
      e[WSHE_TYPE] = type;
      h.insert(h.end(), e.begin(), e.end());
    }
    h.push_back(-1);
    return h;
  }
  // One group on one page: its changes (tags) and its header.
  void Group(int32_t group, int32_t commit, std::vector<int32_t> tags, int32_t kind = 0,
             int32_t stamp = 0, int32_t did = 5) {
    for (int32_t tag : tags) Put(Change(1, group, did, tag));
    Put(Header(group, kind, commit, stamp, 1));
  }

  // The records of a restart set (TBL of TRANS): {word 0, word 1, tag}.
  using Rec = std::tuple<int32_t, int32_t, int32_t>;
  std::vector<Rec> SetRecords(int32_t tbl) {
    std::vector<Rec> out;
    int32_t open[CRT_WORDS] = {3, 0, 2, kKindSet, 0, tbl};
    DKOPT1(open);
    if (open[RQ_STATUS] == -50) return out;
    EXPECT_EQ(open[RQ_STATUS], 0);
    std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0);
    b[SETRQ_TABLE] = open[RQ_TABLE];
    b[SETRQ_TBL] = tbl;
    for (;;) {
      b[SETRQ_RC] = 0;
      if (DKGXN0(b) != 0) break;
      const int32_t* r = b.data() + SETRQ_RECORD;
      out.emplace_back(r[0], r[1], b[SETRQ_LENGTH] > RQ_RECORD ? r[RQ_RECORD] : -1);
    }
    open[RQ_STATUS] = -22;
    DKCLT1(open);
    return out;
  }
  // The tags of the change records of a restart set, in order.
  std::vector<int32_t> Tags(int32_t tbl) {
    std::vector<int32_t> tags;
    for (auto [code, word1, tag] : SetRecords(tbl))
      if (code < 21) tags.push_back(tag);
    return tags;
  }
  bool CommitSetEmpty() {
    std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0);
    b[SETRQ_TABLE] = commit_set_;
    b[SETRQ_TBL] = 10;
    b[SETRQ_RC] = 2;
    return DKGXN0(b) == SET_END;
  }

  int32_t trans_ = 0, commit_set_ = 0;
};

TEST_F(TransRestartTest, CommittedGroupsGoToTheirRestartSetsInCommitOrder) {
  // The first group is held back and complete: it is replayed too. A
  // synchronous kind (129) takes its place by commit number, not by kind.
  Group(1, 4, {10, 11});
  Group(2, 6, {30}, 129);
  Group(3, 5, {20}, 0, 0, 6);
  Group(4, 7, {40}, 0, 0, 6);
  int32_t result = 99;
  std::vector<int32_t> dids;
  EXPECT_EQ(DKRST1(&result, &dids), 0);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(dids, (std::vector<int32_t>{5, 6}));
  EXPECT_EQ(Tags(5), (std::vector<int32_t>{10, 11, 30}));
  EXPECT_EQ(Tags(6), (std::vector<int32_t>{20, 40}));
  // Each set opens with a section owed to every copy.
  EXPECT_EQ(std::get<0>(SetRecords(5).front()), 32);
  EXPECT_TRUE(CommitSetEmpty());
}

TEST_F(TransRestartTest, StampsKindsAndAbandonedGroupsDecideWhatIsReplayed) {
  Group(1, 2, {10});         // held back; below the final stamp
  Group(2, 3, {20});         // entered, later found below the stamp 4
  Group(3, 4, {30});         // entered, at the stamp: replayed
  Group(4, 5, {40}, 0, 4);   // carries the stamp 4
  Group(5, 6, {50}, 9);      // kind 9: never replayed
  Put(Change(1, 6, 5, 60));  // no header: abandoned by the next group
  Group(7, 4, {70});         // not above the stamp met before it
  Group(8, 7, {80});
  EXPECT_EQ(DKRST1(nullptr), 0);
  EXPECT_EQ(Tags(5), (std::vector<int32_t>{30, 40, 80}));
}

TEST_F(TransRestartTest, AWrappedFirstGroupIsReplayedOnceWhenItsPageCountsAddUp) {
  struct Case {
    int32_t pages;  // the wrapped group's header word 13
    std::vector<int32_t> tags;
  };
  for (const Case& c : {Case{2, {1, 2, 3, 4, 90}}, Case{3, {90}}, Case{1, {90}}}) {
    SCOPED_TRACE(c.pages);
    // Group 8 began at the end of the ring (tags 1, 2) and ended at its
    // start (tags 3, 4 and its header); group 9 lies between, filling the
    // first data page so that the head lies on another page.
    const int32_t first = Put(Change(1, 8, 5, 3));
    Put(Change(1, 8, 5, 4));
    Put(Header(8, 0, 5, 0, c.pages));
    Put(Change(1, 9, 5, 90));
    Put(Change(22, 9, 5, 0, 4000));
    Put(Header(9, 0, 6, 0, 2));
    const int32_t head = Put(Change(1, 8, 5, 1));
    Put(Change(1, 8, 5, 2));
    ASSERT_NE(first, head);
    EXPECT_EQ(DKRST1(nullptr), 0);
    EXPECT_EQ(Tags(5), c.tags);
    EXPECT_TRUE(CommitSetEmpty());
    // The next case starts from an empty restart set.
    int32_t open[CRT_WORDS] = {3, 0, 2, kKindSet, 0, 5};
    DKOPT1(open);
    ASSERT_EQ(open[RQ_STATUS], 0);
    std::vector<int32_t> drop(SETRQ_RECORD + 1, 0);
    drop[SETRQ_TABLE] = open[RQ_TABLE];
    drop[SETRQ_TBL] = 5;
    ASSERT_EQ(DKDRS1(drop), 0);
    open[RQ_STATUS] = -22;
    DKCLT1(open);
  }
}

TEST_F(TransRestartTest, AGroupMissingRecordsOfAnEarlierPageImageIsNotReplayed) {
  // A page of the commit set can reach its file in the middle of a group's
  // append (a swap-out of the pool) and the group's later page and header
  // before its rewrite: the pages are all there, the records behind the
  // earlier image's end are not. The header counts the group's records.
  Group(1, 1, {});  // held back
  struct Case {
    int32_t records;  // header word 12 of group 2
    std::vector<int32_t> tags;
  };
  for (const Case& c : {Case{3, {20, 30}}, Case{4, {30}}, Case{0, {20, 30}}}) {
    SCOPED_TRACE(c.records);
    const int32_t first = Put(Change(1, 2, 5, 20));
    // Case 4: the record that followed here is missing from the page.
    const int32_t second = Put(Change(22, 2, 5, 0, 4050));
    ASSERT_NE(first, second);
    std::vector<int32_t> h = Header(2, 0, 2, 0, 2);
    h[WSH_RECORDS] = c.records;
    Put(h);
    Group(3, 3, {30});
    EXPECT_EQ(DKRST1(nullptr), 0);
    EXPECT_EQ(Tags(5), c.tags);
    EXPECT_TRUE(CommitSetEmpty());
    int32_t open[CRT_WORDS] = {3, 0, 2, kKindSet, 0, 5};
    DKOPT1(open);
    ASSERT_EQ(open[RQ_STATUS], 0);
    std::vector<int32_t> drop(SETRQ_RECORD + 1, 0);
    drop[SETRQ_TABLE] = open[RQ_TABLE];
    drop[SETRQ_TBL] = 5;
    ASSERT_EQ(DKDRS1(drop), 0);
    open[RQ_STATUS] = -22;
    DKCLT1(open);
    Group(1, 1, {});  // held back again
  }
}

TEST_F(TransRestartTest, PreparedGroupsGoWholeToSet167AndLoggedChangesToTheLog) {
  Group(1, 1, {});  // held back
  // A prepared distributed transaction: every record, its header last.
  Put(Change(1, 2, 5, 10));
  Put(Header(2, 6, 0, 0, 1));
  // A transaction on a logged databank (type 3) and an ordinary one.
  Put(Change(1, 3, 6, 20));
  Put(Change(1, 3, 5, 21));
  Put(Header(3, 0, 9, 0, 1, {{6, 3}, {5, 1}}));
  EXPECT_EQ(DKRST1(nullptr), 0);
  const std::vector<Rec> prepared = SetRecords(167);
  ASSERT_EQ(prepared.size(), 3u);
  EXPECT_EQ(prepared[0], Rec(32, 0, -1));
  EXPECT_EQ(prepared[1], Rec(1, 2, 10));
  EXPECT_EQ(std::get<0>(prepared[2]), kCodeHeader);
  EXPECT_EQ(Tags(5), (std::vector<int32_t>{21}));
  EXPECT_EQ(Tags(6), (std::vector<int32_t>{20}));
  // The log's copies carry the commit number in word 1, the header too.
  const std::vector<Rec> log = SetRecords(3);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1], Rec(1, 9, 20));
  EXPECT_EQ(std::get<0>(log[2]), kCodeHeader);
  EXPECT_EQ(std::get<1>(log[2]), 9);
}

TEST_F(TransRestartTest, TwoGroupsOfOneCommitNumberEndTheServer) {
  Group(1, 1, {});
  Group(2, 5, {10});
  Group(3, 5, {20});
  EXPECT_THROW(DKRST1(nullptr), ServerException);
  bool logged = false;
  for (const LogRecord& r : log_.records)
    for (const std::string& line : r.lines)
      if (line.find("TRANSDB restart directory corrupt") != std::string::npos) logged = true;
  EXPECT_TRUE(logged);
}

}  // namespace

namespace {

TEST_F(TransRestartTest, TheCommitSetIsNoDatabanksRestartSet) {
  // A databank of DID 10 would name the commit set's TBL.
  Put(Change(1, 1, 5, 1));
  std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0);
  b[SETRQ_LENGTH] = 4;
  b[SETRQ_RECORD] = 1;
  EXPECT_EQ(DKAppendRestartRecord(b, 10, -1), -46);
  // Nothing was appended to it.
  std::vector<int32_t> r(static_cast<size_t>(SetRequestBlockWords()), 0);
  r[SETRQ_TABLE] = commit_set_;
  r[SETRQ_TBL] = 10;
  r[SETRQ_RC] = 2;
  ASSERT_EQ(DKGXN0(r), 0);
  r[SETRQ_RC] = 0;
  EXPECT_EQ(DKGXN0(r), SET_END);
}

}  // namespace
