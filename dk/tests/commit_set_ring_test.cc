// The commit set's ring against a model: groups of records appended as the
// commit appends them, the mark moved on as commits are secured, and what
// the background and the restart read checked at every step.
#include <cerrno>
#include <deque>
#include <random>
#include <set>

#include "dk/databank_verification.h"
#include "dk/table_open.h"
#include "dk/test_points.h"
#include "dk/tests/transaction_fixture.h"

namespace {

class CommitSetRingTest : public TransactionTest {
 protected:
  void SetUp() override {
    TransactionTest::SetUp();
    // Small data pages: a few laps of the ring stay small.
    int32_t b[CRT_WORDS] = {};
    b[RQ_DID] = kTransDid;
    b[RQ_TYPE] = 10 * kKindSet;
    b[RQ_TBL] = 11;
    b[RQ_INDEX_PAGE_SIZE] = 2048;
    b[RQ_DATA_PAGE_SIZE] = 2048;
    DKCRT1(b);
    ASSERT_EQ(b[RQ_STATUS], 0);
    ring_ = b[RQ_TABLE];
    area_[BP_COMMIT_SET_TBL] = ring_;
    DKResetCommitSetRing();
  }

  struct Group {
    int32_t id = 0;
    std::vector<std::vector<int32_t>> records;
    int32_t first_page = 0, first_pos = 0;
  };

  std::vector<int32_t> Block() {
    std::vector<int32_t> b(SETRQ_RECORD + SetMaxRecordWords(2048), 0);
    b[SETRQ_TABLE] = ring_;
    b[SETRQ_TBL] = 11;
    return b;
  }

  void Append(Group& g) {
    std::vector<int32_t> b = Block();
    for (size_t i = 0; i < g.records.size(); ++i) {
      const std::vector<int32_t>& r = g.records[i];
      b[SETRQ_LENGTH] = static_cast<int32_t>(r.size());
      std::copy(r.begin(), r.end(), b.begin() + SETRQ_RECORD);
      int32_t page = 0, position = 0;
      ASSERT_EQ(DKAppendToCommitSet(b, &page, &position), 0);
      ASSERT_EQ(b[SETRQ_POSITION], position + static_cast<int32_t>(r.size()) + 2);
      if (i == 0) g.first_page = page, g.first_pos = position;
    }
  }

  // As the background reads a transaction: from its first record on, going
  // on at the set's start after its end.
  void ExpectReadBack(const Group& g) {
    std::vector<int32_t> b = Block();
    b[SETRQ_PAGE] = g.first_page;
    b[SETRQ_POSITION] = g.first_pos;
    b[SETRQ_RC] = 2;
    for (const std::vector<int32_t>& r : g.records) {
      int32_t rc = DKGXN0(b);
      if (rc == SET_END) {
        b[SETRQ_PAGE] = 0;
        b[SETRQ_POSITION] = 0;
        b[SETRQ_RC] = 2;
        rc = DKGXN0(b);
      }
      ASSERT_EQ(rc, 0) << "group " << g.id;
      ASSERT_EQ(std::vector<int32_t>(b.begin() + SETRQ_RECORD,
                                     b.begin() + SETRQ_RECORD + b[SETRQ_LENGTH]),
                r)
          << "group " << g.id;
      b[SETRQ_RC] = 0;
    }
  }

  // The whole set as the restart reads it, from its first page: the group
  // numbers of its records in that order, and the data pages met.
  std::vector<int32_t> ReadAll(std::set<int32_t>* pages) {
    std::vector<int32_t> ids;
    std::vector<int32_t> b = Block();
    b[SETRQ_RC] = 2;
    while (DKGXN0(b) == 0) {
      ids.push_back(b[SETRQ_RECORD + 1]);
      pages->insert(b[SETRQ_PAGE]);
      b[SETRQ_RC] = 0;
    }
    return ids;
  }

  // The list pages of the chain, from its first.
  std::vector<int32_t> ListPages() {
    std::vector<int32_t> lists;
    for (int32_t page = area_[BP_COMMIT_SET_FIRST_PID]; page != 0 && lists.size() < 100;) {
      lists.push_back(page);
      int32_t rq[REQ_WORDS] = {trans_, page, 2048, 0, -1, 0};
      const int32_t b = DKGET0(rq, GET_SHARED);
      if (b <= 0) break;
      page = PageWords(b)[SETLIST_NEXT];
      DKPUT0(PUT_UNCHANGED, b);
    }
    return lists;
  }

  int32_t ring_ = 0;
};

// Bursts in which nothing is secured for a while grow the ring by list
// pages; between them the mark follows the commits closely and the cut back
// gives the extra list pages up again. Every open group reads back whole,
// and the set read from its start is the ring: one jump back in the order,
// with every open group after it in order.
TEST_F(CommitSetRingTest, RingKeepsEveryOpenGroupAndGivesSecuredPagesBackAgainstAModel) {
  std::mt19937 random(15);
  std::deque<Group> open;
  int32_t next = 1;
  int32_t most_pages = 0;
  int32_t quiet_pages = 0;  // the most in the last quiet stretch
  // From round 9000 on the ring laps over the same pages: no list page is
  // cut or inserted and no data page given back or taken new.
  std::vector<int32_t> settled_lists;
  int32_t settled_size = 0, settled_cuts = 0, laps = 0;
  for (int32_t round = 0; round < 12000; ++round) {
    if (round == 9000) {
      settled_lists = ListPages();
      settled_size = area_[BP_COMMIT_SET_SIZE];
      settled_cuts = area_[BP_COMMIT_SET_TRIM_COUNT];
    }
    const int32_t list_before = area_[BP_COMMIT_SET_INDEX_PID];
    // Rounds 1000 to 3999 and 6000 to 6599 secure nothing.
    const bool burst = (round >= 1000 && round < 4000) || (round >= 6000 && round < 6600);
    Group g;
    g.id = next++;
    const int32_t count = 1 + static_cast<int32_t>(random() % 3);
    for (int32_t i = 0; i < count; ++i) {
      std::vector<int32_t> r(20 + random() % 180);
      for (size_t w = 0; w < r.size(); ++w) r[w] = static_cast<int32_t>(random());
      r[0] = i + 1 == count ? kCodeHeader : 3;
      r[1] = g.id;
      g.records.push_back(std::move(r));
    }
    Append(g);
    if (HasFatalFailure()) return;
    open.push_back(std::move(g));
    const size_t keep = burst ? 100000 : random() % 4;
    bool moved = false;
    while (open.size() > keep) open.pop_front(), moved = true;
    if (moved) {
      ASSERT_GT(DKMarkCommitSetBelow(open.empty() ? next : open.front().id), 0);
    }
    if (round >= 9000) {
      laps += area_[BP_COMMIT_SET_INDEX_PID] != list_before &&
              area_[BP_COMMIT_SET_INDEX_PID] == settled_lists.front();
      ASSERT_EQ(area_[BP_COMMIT_SET_SIZE], settled_size) << round;
    }
    most_pages = std::max(most_pages, area_[BP_COMMIT_SET_SIZE]);
    if (round >= 10000) quiet_pages = std::max(quiet_pages, area_[BP_COMMIT_SET_SIZE]);
    if (round % 97 == 0 || round % 1000 == 999)
      for (const Group& o : open) ExpectReadBack(o);
    if (HasFatalFailure()) return;
  }
  std::set<int32_t> pages;
  const std::vector<int32_t> ids = ReadAll(&pages);
  EXPECT_EQ(static_cast<int32_t>(pages.size()), area_[BP_COMMIT_SET_SIZE]);
  size_t jumps = 0;
  for (size_t i = 1; i < ids.size(); ++i) jumps += ids[i] < ids[i - 1] ? 1 : 0;
  EXPECT_LE(jumps, 1u);
  // The open groups' records follow each other in the ring.
  std::vector<int32_t> ring(ids);
  for (size_t i = 1; i < ids.size(); ++i)
    if (ids[i] < ids[i - 1]) ring.assign(ids.begin() + static_cast<long>(i), ids.end()),
                             ring.insert(ring.end(), ids.begin(), ids.begin() + static_cast<long>(i));
  std::vector<int32_t> expected;
  for (const Group& o : open)
    for (size_t i = 0; i < o.records.size(); ++i) expected.push_back(o.id);
  ASSERT_GE(ring.size(), expected.size());
  EXPECT_EQ(std::vector<int32_t>(ring.end() - static_cast<long>(expected.size()), ring.end()),
            expected);
  // The long burst needed more than two list pages; once commits are
  // secured closely again the ring is cut back to two (the list page being
  // filled and the one it goes on at), shorter bursts included.
  EXPECT_GT(most_pages, 2 * 506);
  EXPECT_GT(area_[BP_COMMIT_SET_TRIM_COUNT], 0);
  EXPECT_LE(quiet_pages, 2 * 506);
  EXPECT_EQ(settled_lists.size(), 2u);
  EXPECT_EQ(ListPages(), settled_lists);
  EXPECT_EQ(area_[BP_COMMIT_SET_TRIM_COUNT], settled_cuts);
  EXPECT_GE(laps, 1);
}

// The mark never passes the page being filled, and a page behind it is taken
// again only once the mark has moved past it.
TEST_F(CommitSetRingTest, MarkStopsAtTheFirstPageOfAnOpenGroup) {
  std::vector<Group> groups;
  for (int32_t id = 1; id <= 40; ++id) {
    Group g;
    g.id = id;
    g.records.assign(1, std::vector<int32_t>(300, id));
    g.records[0][0] = kCodeHeader;
    Append(g);
    groups.push_back(g);
  }
  // One record a page: the mark is the page of the group asked for.
  EXPECT_EQ(DKMarkCommitSetBelow(17), groups[16].first_page);
  EXPECT_EQ(area_[BP_COMMIT_SET_LIMIT_DATA_PID], groups[16].first_page);
  EXPECT_EQ(DKMarkCommitSetBelow(1000), groups.back().first_page);
  for (const Group& g : groups) EXPECT_NE(g.first_page, 0);
}

}  // namespace

namespace {

FaultFileSystem* cut_fs = nullptr;
int cut_after = 0;  // changes of the cut before the power goes
int32_t cut_kept = 0;  // the list page the cut keeps last
bool cut_one_write = false;  // only the write after those changes fails

void CutPowerInTheCut(DKTestPoint point, int32_t kept) {
  if (point != DKTestPoint::kCommitSetCut || cut_kept != 0) return;
  cut_kept = kept;
  if (cut_one_write)
    cut_fs->FailNthWrite(cut_after + 1, EIO);
  else
    cut_fs->CutPowerAfter(cut_after);
}

// The power fails at each step of the cut back of a ring that a burst grew
// to three list pages: the file reopened holds a sound chain (the three
// list pages, or the two kept), whose pages the databank check finds owned
// once, and the set reads from its start without a fault.
class CommitSetRingCutTest : public CommitSetRingTest, public testing::WithParamInterface<int> {
 protected:
  void CutAndReopen(bool one_write);
};

TEST_P(CommitSetRingCutTest, APowerCutDuringTheCutBackLeavesASoundChain) { CutAndReopen(false); }

// The same with one write of the cut failing while the device stays up:
// the commits after it go on as far as they can, and the reopened file
// still holds a sound chain.
TEST_P(CommitSetRingCutTest, AFailedWriteDuringTheCutBackLeavesASoundChain) { CutAndReopen(true); }

void CommitSetRingCutTest::CutAndReopen(bool one_write) {
  {
    cut_one_write = one_write;
    cut_after = GetParam();
    cut_fs = &fault_;
    cut_kept = 0;
    DKInstallTestHook(CutPowerInTheCut);
    int32_t id = 1;
    auto append = [&](bool secure) {
      Group g;
      g.id = id++;
      g.records.assign(1, std::vector<int32_t>(400, g.id));
      g.records[0][0] = kCodeHeader;
      std::vector<int32_t> b = Block();
      b[SETRQ_LENGTH] = 400;
      std::copy(g.records[0].begin(), g.records[0].end(), b.begin() + SETRQ_RECORD);
      int32_t page = 0, position = 0;
      const int32_t rc = DKAppendToCommitSet(b, &page, &position);
      if (rc == 0 && secure) DKMarkCommitSetBelow(g.id);
      return rc;
    };
    // Nothing secured until the ring has three list pages.
    while (area_[BP_COMMIT_SET_SIZE] <= 2 * 506) ASSERT_EQ(append(false), 0);
    const std::vector<int32_t> grown = ListPages();
    ASSERT_EQ(grown.size(), 3u);
    int32_t rc = 0;
    for (int32_t n = 0; n < 4000 && cut_kept == 0 && rc == 0; ++n) rc = append(true);
    DKInstallTestHook(nullptr);
    ASSERT_NE(cut_kept, 0);
    if (one_write)
      for (int32_t n = 0; n < 600; ++n) append(true);
    // The power is gone (or the cut is done): the server dies and the file
    // is opened again.
    for (auto [table, tbl] : {std::pair{ring_, 11}, std::pair{commit_set_, 10}}) {
      int32_t close[CRT_WORDS] = {0, 0, kTransDid, -1, table, tbl};
      DKCLT1(close);
    }
    ReleaseDatabank(trans_, false);
    std::erase(open_, trans_);
    fault_.Crash({});
    int32_t seqno = -1;
    ASSERT_EQ(Open("trans", kTransDid, &seqno, &trans_), 0);
    int32_t check[VED_WORDS] = {2, trans_};
    EXPECT_EQ(DKVED0(check), 0);
    EXPECT_TRUE(DKUnitsReachedTwice(trans_).empty());
    int32_t open[CRT_WORDS] = {3, 0, kTransDid, kKindSet, 0, 11};
    DKOPT1(open);
    ASSERT_EQ(open[RQ_STATUS], 0);
    ring_ = open[RQ_TABLE];
    area_[BP_COMMIT_SET_TBL] = ring_;
    std::vector<int32_t> b = Block();
    b[SETRQ_RC] = 2;
    int32_t read = 0, records = 0;
    while ((read = DKGXN0(b)) == 0) ++records, b[SETRQ_RC] = 0;
    EXPECT_EQ(read, SET_END);
    // The chain as the root names it: the three list pages or the two kept.
    int32_t rq[REQ_WORDS] = {trans_, 0, 2048, 0, -1, 0};
    std::vector<int32_t> chain;
    for (int32_t page = grown.front(); page != 0 && chain.size() < 10;) {
      chain.push_back(page);
      rq[REQ_PAGE] = page;
      const int32_t l = DKGET0(rq, GET_SHARED);
      ASSERT_GT(l, 0);
      EXPECT_EQ(PageWords(l)[SETLIST_MARK], kSetListMark);
      page = PageWords(l)[SETLIST_NEXT];
      DKPUT0(PUT_UNCHANGED, l);
    }
    EXPECT_TRUE(chain == grown || chain == std::vector<int32_t>(grown.begin(), grown.begin() + 2))
        << chain.size();
  }
}

// 0: the cut runs whole. The cut writes two pages, the freed pages' bitmap
// and the first page taken again after it.
INSTANTIATE_TEST_SUITE_P(EachChange, CommitSetRingCutTest, testing::Range(0, 9));

}  // namespace
