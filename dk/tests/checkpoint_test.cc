// Checkpoints: the copy classes of a databank; a copy that fell out of step
// unannounced makes the commit that changed it wait in state 20 for its
// checkpoint unit, which owes its records to the copies again before the
// commit is secured; once the copy is known out of step, commits are
// secured at once.
#include "dk/checkpoint.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "dk/bitmap_page.h"
#include "dk/databank_file.h"
#include "dk/test_points.h"
#include "dk/tests/transaction_fixture.h"

namespace {

class CheckpointTest : public TransactionTest {
 protected:
  void SetUp() override {
    TransactionTest::SetUp();
    copy_ = Create("copy", 400, 5, 4);
    other_ = Create("other", 64, 5, 6);
    // The restart sets that take what a copy misses live in DID 2, on the
    // root pages its header's word 4 names.
    restart_ = Create("restart", 400, 2, 1);
    int32_t rq[REQ_WORDS] = {restart_, 0, 2048, 0, -1, 0};
    ASSERT_EQ(DKHLD0(rq, 0), 0);
    const int32_t root = rq[REQ_PAGE];
    int32_t b = Get(restart_, root, 2048, GET_NEW);
    std::memset(PageWords(b) + 1, 0, 2044);
    PageWords(b)[HDR_KIND] = ROOT_PAGE_KIND;
    ASSERT_EQ(WriteUnitPage(restart_, root, b), 0);
    b = Get(restart_, kHeaderUnit, 2048, GET_UPDATE);
    PageWords(b)[HDR_RESTORE_DIRECTORY] = root;
    ASSERT_EQ(WriteUnitPage(restart_, kHeaderUnit, b), 0);
  }
  void TearDown() override {
    DKInstallTestHook(nullptr);
    TransactionTest::TearDown();
  }

  // The inserts owed to the copies of DID 5 so far.
  int32_t OwedInserts() { return Owed(1); }
  // The records of code `fcode` owed to the copies of DID 5 so far.
  int32_t Owed(int32_t fcode) {
    const int32_t set = DKHMI0(area_[BP_TABLE_HASH], 5);
    if (set <= 0 || area_[set + TBE_TBL] != 5) return 0;
    std::vector<int32_t> b(SETRQ_RECORD + SetMaxRecordWords(kCommitSetPageSize), 0);
    b[SETRQ_TABLE] = set;
    b[SETRQ_TBL] = 5;
    b[SETRQ_RC] = 2;
    int32_t inserts = 0;
    while (DKGXN0(b) == 0) {
      inserts += b[SETRQ_RECORD] == fcode;
      b[SETRQ_RC] = 0;
    }
    return inserts;
  }

  int32_t copy_ = 0, other_ = 0, restart_ = 0;
};

TEST_F(CheckpointTest, CopyClassesOverTheChain) {
  struct Case {
    const char* what;
    int32_t first, copy, other;  // error words
    int32_t cls;
  } cases[] = {
      {"all usable", 0, 0, 0, kCopiesUsable},
      {"one out", 0, -44, 0, kCopiesOneOut},
      {"the first out", -44, 0, 0, kCopiesOneOut},
      {"two out", 0, -44, -44, kCopiesSomeOut},
      {"none usable", -44, -44, -44, kCopiesNoneUsable},
  };
  for (const Case& c : cases) {
    area_[db_ + DBE_ERROR] = c.first;
    area_[copy_ + DBE_ERROR] = c.copy;
    area_[other_ + DBE_ERROR] = c.other;
    EXPECT_EQ(DKCopyClass(db_), c.cls) << c.what;
  }
  // Offline counts as out as an error does.
  area_[db_ + DBE_ERROR] = area_[copy_ + DBE_ERROR] = area_[other_ + DBE_ERROR] = 0;
  area_[other_ + DBE_OFFLINE] = 1;
  EXPECT_EQ(DKCopyClass(db_), kCopiesOneOut);
  area_[other_ + DBE_OFFLINE] = 0;
}

TEST_F(CheckpointTest, CommitChangingACopyOutOfStepIsSecuredAfterItsCheckpoint) {
  Table t = CreateTable(77, 4, 8);
  StartBackground(1);
  auto commit = [&](const std::string& a, const std::string& b) {
    return CommitChanges({Change(1, t, MakeRecord(a, 4, 8)), Change(1, t, MakeRecord(b, 4, 8))});
  };
  ASSERT_EQ(commit("k1", "k2"), 0);
  EXPECT_EQ(OwedInserts(), 0);
  EXPECT_EQ(area_[BP_SECURED_TRANS_NUMBER], 1);

  // The copy fails unannounced: no entry word 9 says it is out of step.
  StoreWord(copy_ + DBE_ERROR, -44);
  ASSERT_EQ(commit("k3", "k4"), 0);
  // Owed when applied, and once more by the checkpoint unit.
  EXPECT_EQ(OwedInserts(), 4);
  EXPECT_EQ(area_[BP_SECURED_TRANS_NUMBER], 2);
  EXPECT_EQ(area_[copy_ + DBE_OFFLINE_COPY], 1);
  EXPECT_EQ(area_[db_ + DBE_CHECKPOINT], 0);
  EXPECT_EQ(area_[BP_CHECKPOINT_PENDING], 0);
  EXPECT_EQ(area_[BP_TSS_CHECKPOINT_STATE], 0);

  // Known out of step now: owed when applied, and secured at once.
  ASSERT_EQ(commit("k5", "k6"), 0);
  EXPECT_EQ(OwedInserts(), 6);
  EXPECT_EQ(area_[BP_SECURED_TRANS_NUMBER], 3);
  EXPECT_EQ(area_[db_ + DBE_CHECKPOINT], 0);
  EXPECT_EQ(Rows(t).size(), 6u);
}

// A commit of kind 128 whose copy fell out of step: its committer is woken
// once, when its records are first applied. The checkpoint unit that passes
// them again later must leave alone the synchronous committer that waits by
// then (standing in here: the awaited word set and lock 246 taken by
// nobody); woken by it, that committer would return before its own records
// were applied.
std::atomic<int32_t> watched_commit{0};
std::atomic<int32_t> watched_reaches{0};
constexpr int32_t kLaterWaiter = 1000000;

void WaiterAfterFirstApply(DKTestPoint point, int32_t value) {
  if (point != DKTestPoint::kUnitApplied || value != watched_commit.load()) return;
  if (watched_reaches.fetch_add(1) != 0) return;
  DKLock(BP_LOCK_TSS_HASH);
  Bufferpool()[BP_AWAITED_TRANSACTION] = kLaterWaiter;
  DKUnlock(BP_LOCK_TSS_HASH);
}

TEST_F(CheckpointTest, CommitOfKind128WakesItsCommitterOnlyAtItsFirstApply) {
  Table t = CreateTable(77, 4, 8);
  StartBackground(1);
  ASSERT_EQ(CommitChanges({Change(1, t, MakeRecord("k1", 4, 8))}, kKindWaitApplied), 0);
  // Secured before the copy falls out of step: only the next commit owes.
  while (LoadWord(BP_SECURED_TRANS_NUMBER) < 1) std::this_thread::yield();
  StoreWord(copy_ + DBE_ERROR, -44);
  watched_commit = area_[BP_COMMITS] + 1;
  DKInstallTestHook(WaiterAfterFirstApply);
  ASSERT_EQ(CommitChanges({Change(1, t, MakeRecord("k2", 4, 8))}, kKindWaitApplied), 0);
  // Secured once its checkpoint unit has passed the records again.
  while (LoadWord(BP_SECURED_TRANS_NUMBER) < watched_commit.load()) std::this_thread::yield();
  DKInstallTestHook(nullptr);
  EXPECT_EQ(watched_reaches.load(), 2);
  EXPECT_EQ(OwedInserts(), 2);
  DKLock(BP_LOCK_TSS_HASH);
  EXPECT_EQ(area_[BP_AWAITED_TRANSACTION], kLaterWaiter);
  area_[BP_AWAITED_TRANSACTION] = 0;
  DKUnlock(BP_LOCK_TSS_HASH);
  EXPECT_EQ(PoolWord(BP_LOCK_KERNEL_WAIT_SYNCH + ENQDEQ_COUNT).load(), 0);
  EXPECT_EQ(Rows(t).size(), 2u);
}

// Two commits share one page write when the copy falls out of step between
// the first one's apply and its page write: both wait in state 20, and each
// needs a checkpoint unit of its own. Each gets one without a later
// commit's wake: a committer of kind 129 among them waits for it.
std::atomic<int32_t> held_commit{0};
std::atomic<int32_t> failing_copy{0};
std::atomic<bool> held_reached{false};
std::atomic<bool> held_release{false};

void FailCopyAtFirstApply(DKTestPoint point, int32_t value) {
  if (point != DKTestPoint::kUnitApplied || value != held_commit.load()) return;
  held_commit = 0;
  StoreWord(failing_copy.load() + DBE_ERROR, -44);
  held_reached = true;
  held_reached.notify_all();
  held_release.wait(false);
}

TEST_F(CheckpointTest, EveryCommitKeptForItsCheckpointGetsItsUnit) {
  Table t = CreateTable(77, 4, 8);
  StartBackground(1);
  const int32_t first = area_[BP_COMMITS] + 1;
  held_commit = first;
  failing_copy = copy_;
  DKInstallTestHook(FailCopyAtFirstApply);
  ASSERT_EQ(CommitChanges({Change(1, t, MakeRecord("k1", 4, 8))}, 0), 0);
  held_reached.wait(false);
  // Queued behind the held unit: the first commit's page write waits for it.
  ASSERT_EQ(CommitChanges({Change(1, t, MakeRecord("k2", 4, 8))}, 0), 0);
  held_release = true;
  held_release.notify_all();
  EndsWithin(60, "the securing of both commits", [&] {
    while (LoadWord(BP_SECURED_TRANS_NUMBER) < first + 1) std::this_thread::yield();
  });
  // The second owed when applied; both owed again by their checkpoint units.
  EXPECT_EQ(OwedInserts(), 3);
  EXPECT_EQ(area_[BP_TSS_CHECKPOINT_STATE], 0);
  EXPECT_EQ(Rows(t).size(), 2u);
}

// A checkpoint unit owes again every table-bound record of a databank that
// asked, the rows of an ALTER (24) as well: a copy that missed them would
// read the records owed after them in rows of the old form. Nothing else is
// owed, and nothing of a databank that did not ask.
TEST_F(CheckpointTest, CheckpointOwesEveryTableBoundRecordAgain) {
  Table t = CreateTable(77, 4, 8);
  StoreWord(copy_ + DBE_ERROR, -44);
  const int32_t owed[] = {1, 2, 4, 5, 6, 7, 10, 11, 23, 24};
  const int32_t passed[] = {3, 8, 9, 12, 15, 16, 17, 20, 21, 22, 25, 26};
  for (const bool asked : {false, true}) {
    StoreWord(db_ + DBE_CHECKPOINT, asked ? 1 : 0);
    for (int32_t code : owed) {
      SCOPED_TRACE("code " + std::to_string(code));
      std::vector<int32_t> r = Change(code, t, MakeRecord("k1", 4, 8));
      const int32_t before = Owed(code);
      EXPECT_EQ(DKPassCheckpointRecord(r, 5), 0);
      EXPECT_EQ(Owed(code), before + (asked ? 1 : 0));
    }
  }
  for (int32_t code : passed) {
    SCOPED_TRACE("code " + std::to_string(code));
    std::vector<int32_t> r = Change(code, t, MakeRecord("k1", 4, 8));
    EXPECT_EQ(DKPassCheckpointRecord(r, 5), 0);
    EXPECT_EQ(Owed(code), 0);
  }
}

// The log pass of a checkpoint unit: when the LOG databank asked, the log
// table's records of the unit's transaction (up to its header, no other
// transaction's) are owed again to the LOG databank's copies; not when it
// did not ask, and an internal error when all its copies take records.
TEST_F(CheckpointTest, CheckpointLogPassOwesTheTransactionsLogRecords) {
  const int32_t log_db = Create("log", 400, 3, 1);
  const int32_t log_copy = Create("logcopy", 400, 3, 2);
  const int32_t log = MakeSet(3, 8);
  area_[BP_LOG_TABLE] = log;
  // Two transactions in the log: order numbers 7 and 8, commit numbers 4
  // and 5, each ending with its header.
  auto logged = [&](int32_t group, int32_t commit, int32_t changes) {
    for (int32_t i = 0; i < changes; ++i) {
      std::vector<int32_t> r(12, 0);
      r[WS_CODE] = 1;
      r[WSH_GROUP] = group;
      r[10] = 100 * group + i;
      AppendTo(log, r);
    }
    std::vector<int32_t> h = Header(0, {});
    h[WSH_GROUP] = group;
    h[WSH_COMMIT] = commit;
    AppendTo(log, h);
  };
  logged(7, 4, 2);
  logged(8, 5, 1);
  const Began t = Begin();
  ASSERT_EQ(t.rc, 0);
  area_[t.tss + TSS_GROUP] = 7;
  area_[t.tss + TSS_COMMIT] = 4;
  // The records of the LOG databank's restart set: (code, word 1, word 10).
  auto owed = [&] {
    std::vector<std::vector<int32_t>> got;
    const int32_t set = DKHMI0(area_[BP_TABLE_HASH], 3);
    if (set <= 0 || area_[set + TBE_TBL] != 3) return got;
    std::vector<int32_t> b(SETRQ_RECORD + SetMaxRecordWords(kCommitSetPageSize), 0);
    b[SETRQ_TABLE] = set;
    b[SETRQ_TBL] = 3;
    b[SETRQ_RC] = 2;
    while (DKGXN0(b) == 0) {
      b[SETRQ_RC] = 0;
      if (b[SETRQ_RECORD] != 32)
        got.push_back({b[SETRQ_RECORD], b[SETRQ_RECORD + 1], b[SETRQ_RECORD + 10]});
    }
    return got;
  };
  // Not asked: nothing.
  EXPECT_EQ(DKPassCheckpointLog(t.tss), 0);
  EXPECT_TRUE(owed().empty());
  // Asked, with all copies taking records: an internal error, nothing owed.
  StoreWord(log_db + DBE_CHECKPOINT, 1);
  EXPECT_THROW(DKPassCheckpointLog(t.tss), ServerException);
  EXPECT_TRUE(owed().empty());
  // Asked with a copy out: the first transaction's records, header last.
  StoreWord(log_copy + DBE_ERROR, -44);
  EXPECT_EQ(DKPassCheckpointLog(t.tss), 0);
  EXPECT_EQ(owed(), (std::vector<std::vector<int32_t>>{{1, 7, 700}, {1, 7, 701}, {21, 7, 0}}));
  // A transaction that logged nothing (commit 6, after both): nothing more.
  area_[t.tss + TSS_GROUP] = 9;
  area_[t.tss + TSS_COMMIT] = 6;
  EXPECT_EQ(DKPassCheckpointLog(t.tss), 0);
  EXPECT_EQ(owed().size(), 3u);
  area_[BP_LOG_TABLE] = 0;
}

}  // namespace
