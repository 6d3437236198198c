// Commits that wait on one another and on the stop: the secured number
// never passes a commit that is numbered but not yet applied, and passes
// one whose commit failed; a synchronous committer still waiting when the
// kernel stops is woken with the stop's answer. The interleavings are made
// with the kernel's test points, never with sleeps.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "dk/control_area.h"
#include "dk/request.h"
#include "dk/test_points.h"
#include "dk/tests/transaction_fixture.h"
#include "platform/enqdeq.h"

namespace {

// The committer held at its commit number: the thread that sets `held`.
thread_local bool held = false;
std::atomic<int32_t> held_number{0};
std::atomic<bool> held_go{false};
std::atomic<bool> held_fails{false};

void HoldNumbered(DKTestPoint point, int32_t value) {
  if (point != DKTestPoint::kCommitNumbered || !held) return;
  held_number.store(value);
  held_number.notify_all();
  held_go.wait(false);
  // The commit set is taken away: this commit fails with its number given.
  if (held_fails.load()) StoreWord(BP_COMMIT_SET_TBL, 0);
}

class CommitWaitTest : public TransactionTest {
 protected:
  void TearDown() override {
    DKInstallTestHook(nullptr);
    TransactionTest::TearDown();
  }

  // Commits `changes` in a transaction of its own over the sets `s`.
  int32_t CommitOn(const Sets& s, const std::vector<std::vector<int32_t>>& changes, int32_t kind) {
    Began t = Begin();
    if (t.rc != 0) return t.rc;
    Empty(s);
    AppendTo(s.write, Header(kind, {{db_, kUseWritten}}));
    for (const auto& c : changes) AppendTo(s.write, c);
    return End(t.tss, s);
  }

  // A synchronous committer of `kind` waits for a background thread that
  // never comes; the stop must wake it.
  void WaitAtStop(int32_t kind) {
    Table table = CreateTable(77, 4, 8);
    const Sets s = NewSets();
    std::atomic<int32_t> rc{1};
    std::thread committer([&] {
      enqdeq_attach(enq_, 2);
      rc = CommitOn(
          s, {Change(1, table, MakeRecord("k1", 4, 8)), Change(1, table, MakeRecord("k2", 4, 8))},
          kind);
    });
    while (PoolWord(BP_LOCK_KERNEL_WAIT_SYNCH + ENQDEQ_HEAD).load() == 0) std::this_thread::yield();
    for (int32_t e : open_) Close(e);
    open_.clear();
    int32_t stop = 0;
    DKStopBackground(&stop);
    EndsWithin(60, "the shutdown", [&] { DKShutdown(&stop); });
    committer.join();
    EXPECT_EQ(rc, DK_RC_DOWN);
    EXPECT_EQ(Bufferpool(), nullptr);
  }
};

// Commit N is numbered and held before its write set reaches the commit
// set; N + 1 commits and is secured meanwhile. The secured number (and the
// restart stamp made from it) stays below N until N is applied, or passes N
// at once when N's commit fails.
TEST_F(CommitWaitTest, SecuredNumberNeverPassesACommitStillOnItsWay) {
  const struct {
    const char* what;
    bool fails;
  } cases[] = {{"held commit done", false}, {"held commit fails", true}};
  StartBackground(1);
  DKInstallTestHook(HoldNumbered);
  Table table = CreateTable(77, 4, 8);
  const Sets held_sets = NewSets();
  char key = 'a';
  for (const auto& c : cases) {
    held_number = 0;
    held_go = false;
    held_fails = c.fails;
    const std::string mine = MakeRecord(std::string("h") + key, 4, 8);
    const std::string mine2 = MakeRecord(std::string("i") + key, 4, 8);
    const std::string other = MakeRecord(std::string("o") + key, 4, 8);
    std::atomic<int32_t> rc{1};
    std::thread committer([&] {
      enqdeq_attach(enq_, 2);
      held = true;
      // Not synchronous: it would hold the synchronous place (lock 244)
      // that the other committer needs.
      rc = CommitOn(held_sets, {Change(1, table, mine), Change(1, table, mine2)}, 0);
    });
    held_number.wait(0);
    const int32_t n = held_number.load();
    ASSERT_EQ(CommitChanges({Change(1, table, other),
                             Change(1, table, MakeRecord(std::string("p") + key, 4, 8))}),
              0)
        << c.what;
    EXPECT_EQ(LoadWord(BP_COMMITS), n + 1) << c.what;
    EXPECT_EQ(LoadWord(BP_SECURED_TRANS_NUMBER), n - 1) << c.what;
    held_go = true;
    held_go.notify_all();
    committer.join();
    StoreWord(BP_COMMIT_SET_TBL, commit_set_);
    EXPECT_EQ(rc, c.fails ? -46 : 0) << c.what;
    // A failed number is passed over at once.
    if (c.fails) {
      EXPECT_EQ(LoadWord(BP_SECURED_TRANS_NUMBER), n + 1) << c.what;
    }
    // Once a later synchronous commit is secured, so is everything before.
    ASSERT_EQ(CommitChanges({Change(1, table, MakeRecord(std::string("q") + key, 4, 8)),
                             Change(1, table, MakeRecord(std::string("r") + key, 4, 8))}),
              0)
        << c.what;
    EXPECT_EQ(LoadWord(BP_SECURED_TRANS_NUMBER), n + 2) << c.what;
    const std::vector<std::string> rows = Rows(table);
    EXPECT_EQ(std::count(rows.begin(), rows.end(), mine), c.fails ? 0 : 1) << c.what;
    ++key;
  }
}

TEST_F(CommitWaitTest, CommitOfKind128WaitingAtTheStopAnswersTheStop) {
  WaitAtStop(kKindWaitApplied);
}

TEST_F(CommitWaitTest, CommitOfKind129WaitingAtTheStopAnswersTheStop) {
  WaitAtStop(kKindWaitSecured);
}

// Once the stop has found every background thread gone, a synchronous
// commit is refused before it prepares rather than left waiting; others
// still commit.
TEST_F(CommitWaitTest, SynchronousCommitAfterTheBackgroundLeftIsRefused) {
  Table table = CreateTable(77, 4, 8);
  const int32_t in_use = TssInUse();
  DKEndSynchronousWaits();
  const std::vector<std::vector<int32_t>> changes = {Change(1, table, MakeRecord("k1", 4, 8)),
                                                     Change(1, table, MakeRecord("k2", 4, 8))};
  EXPECT_EQ(CommitChanges(changes, kKindWaitSecured), DK_RC_DOWN);
  EXPECT_EQ(TssInUse(), in_use);
  EXPECT_EQ(area_[BP_USERS_IN_COMMIT], 0);
  EXPECT_EQ(area_[BP_COMMITS], 0);
  EXPECT_EQ(area_[BP_LOCK_SYNCH_TRANS + ENQDEQ_COUNT], 1);
  EXPECT_EQ(CommitChanges(changes, 0), 0);
}

}  // namespace

namespace {

// The counts of locks 248 and 250 as each unit's records are applied.
std::mutex unit_locks_lock;
std::vector<std::pair<int32_t, int32_t>> unit_locks;

void SeeUnitLocks(DKTestPoint point, int32_t) {
  if (point != DKTestPoint::kUnitApplied) return;
  std::lock_guard<std::mutex> guard(unit_locks_lock);
  unit_locks.emplace_back(PoolWord(BP_LOCK_BACKGROUND_SYNCH + ENQDEQ_COUNT).load(),
                          PoolWord(BP_LOCK_KERNEL_250 + ENQDEQ_COUNT).load());
}

// Once its records are applied, a unit without a commit kind holds neither
// lock 248 nor lock 250 but has lowered 250; one of kind 128 has given 248
// back and holds 250; one of kind 129 holds both until it is secured. At the
// end every unit gave both back.
TEST_F(CommitWaitTest, UnitsGiveTheirLocksBackByTheirKind) {
  const struct {
    int32_t kind;
    std::pair<int32_t, int32_t> counts;  // 248, 250 once the records are applied
  } cases[] = {{0, {1, 0}}, {kKindWaitApplied, {1, 0}}, {kKindWaitSecured, {0, 0}}};
  StartBackground(1);
  DKInstallTestHook(SeeUnitLocks);
  Table table = CreateTable(77, 4, 8);
  int key = 0;
  for (const auto& c : cases) {
    {
      std::lock_guard<std::mutex> guard(unit_locks_lock);
      unit_locks.clear();
    }
    ASSERT_EQ(CommitChanges({Change(1, table, MakeRecord("u" + std::to_string(key++), 4, 8))},
                            c.kind),
              0);
    for (;;) {
      std::lock_guard<std::mutex> guard(unit_locks_lock);
      if (!unit_locks.empty()) break;
    }
    std::lock_guard<std::mutex> guard(unit_locks_lock);
    EXPECT_EQ(unit_locks.front(), c.counts) << "kind " << c.kind;
  }
  StopBackground();
  EXPECT_EQ(PoolWord(BP_LOCK_BACKGROUND_SYNCH + ENQDEQ_COUNT).load(), 1);
  EXPECT_EQ(PoolWord(BP_LOCK_KERNEL_250 + ENQDEQ_COUNT).load(), 1);
}

}  // namespace
