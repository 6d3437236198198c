// The group commit: committers whose records are in the commit set's pages
// share one page write, and a small write set sleeps the group-commit time
// before its write while other read-write transactions are under way. The
// interleavings are made with the kernel's test points, never with sleeps.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "dk/test_points.h"
#include "dk/tests/transaction_fixture.h"
#include "platform/enqdeq.h"

namespace {

thread_local bool held = false;  // the committer held after its append
std::atomic<int32_t> held_group{0};
std::atomic<bool> held_go{false};
std::mutex sleeps_lock;
std::vector<int32_t> sleeps;  // the sleeps the test point saw, in order

void Hook(DKTestPoint point, int32_t value) {
  if (point == DKTestPoint::kGroupCommitSleep) {
    std::lock_guard<std::mutex> guard(sleeps_lock);
    sleeps.push_back(value);
  }
  if (point != DKTestPoint::kGroupAppended || !held) return;
  held_group.store(value);
  held_group.notify_all();
  held_go.wait(false);
}

class GroupCommitTest : public TransactionTest {
 protected:
  void SetUp() override {
    TransactionTest::SetUp();
    held_group = 0;
    held_go = false;
    sleeps.clear();
    DKInstallTestHook(Hook);
  }
  void TearDown() override {
    DKInstallTestHook(nullptr);
    TransactionTest::TearDown();
  }

  // Commits `changes` (commit kind 0: no wait for the background) over the
  // sets `s` in a transaction of its own.
  int32_t CommitOn(const Sets& s, const std::vector<std::vector<int32_t>>& changes) {
    Began t = Begin();
    if (t.rc != 0) return t.rc;
    Empty(s);
    AppendTo(s.write, Header(0, {{db_, kUseWritten}}));
    for (const auto& c : changes) AppendTo(s.write, c);
    return End(t.tss, s);
  }

  static std::vector<int32_t> Filler(int32_t words) {
    std::vector<int32_t> r(static_cast<size_t>(words), 7);
    r[WS_CODE] = 3;  // a record applied as nothing
    return r;
  }
};

// A committer held between its append and its page write finds its group
// written by the committer that came after it: one write serves both, the
// second one's, counted as one group commit of two transactions.
TEST_F(GroupCommitTest, OneCommitterWritesTheGroupsPages) {
  Table table = CreateTable(77, 4, 8);
  const Sets first = NewSets(), second = NewSets();
  std::atomic<int32_t> rc{1};
  std::thread committer([&] {
    enqdeq_attach(enq_, 2);
    held = true;
    rc = CommitOn(first, {Change(1, table, MakeRecord("a", 4, 8))});
  });
  held_group.wait(0);
  const int32_t group = held_group.load();
  EXPECT_LT(LoadWord(BP_COMMIT_SET_WRITTEN), group);
  ASSERT_EQ(CommitOn(second, {Change(1, table, MakeRecord("b", 4, 8))}), 0);
  // The second write covered the held group.
  EXPECT_EQ(LoadWord(BP_COMMIT_SET_WRITTEN), group + 1);
  EXPECT_EQ(LoadWord(BP_GROUP_COMMITS), 1);
  EXPECT_EQ(LoadWord(BP_GROUPED_TRANSACTIONS), 1);
  const int32_t pages_written = LoadWord(BP_PAGES_WRITTEN);
  held_go = true;
  held_go.notify_all();
  committer.join();
  EXPECT_EQ(rc.load(), 0);
  // The held committer wrote nothing and counts itself in the group.
  EXPECT_EQ(LoadWord(BP_PAGES_WRITTEN), pages_written);
  EXPECT_EQ(LoadWord(BP_GROUP_COMMITS), 1);
  EXPECT_EQ(LoadWord(BP_GROUPED_TRANSACTIONS), 2);
  EXPECT_EQ(LoadWord(BP_COMMIT_SET_WRITTEN), group + 1);
  // A committer alone is no group.
  ASSERT_EQ(CommitOn(first, {Change(1, table, MakeRecord("c", 4, 8))}), 0);
  EXPECT_EQ(LoadWord(BP_GROUP_COMMITS), 1);
  EXPECT_EQ(LoadWord(BP_GROUPED_TRANSACTIONS), 2);
}

// The sleep is taken (word 162) by a small write set while another
// read-write transaction is under way, is 0 without one, and is not taken
// by a write set filled past three quarters of its page or spread over
// several pages.
TEST_F(GroupCommitTest, SleepIsTakenBySmallWriteSetsWhileOthersAreUnderWay) {
  Table table = CreateTable(77, 4, 8);
  area_[BP_GROUP_COMMIT_SLEEP] = 1;
  const Sets s = NewSets();
  const struct {
    const char* what;
    int32_t filler_words;
    int32_t fillers;
    bool other_under_way;
    std::vector<int32_t> expected;
  } cases[] = {
      {"small, alone", 0, 0, false, {0}},
      {"small, another under way", 0, 0, true, {1}},
      {"small with filler, another under way", 2000, 1, true, {1}},
      {"past three quarters of its page", 3100, 1, true, {}},
      {"two data pages", 3000, 2, true, {}},
  };
  int key = 0;
  for (const auto& c : cases) {
    Began other{};
    if (c.other_under_way) {
      other = Begin();
      ASSERT_EQ(other.rc, 0) << c.what;
    }
    sleeps.clear();
    std::vector<std::vector<int32_t>> changes;
    for (int32_t i = 0; i < c.fillers; ++i) changes.push_back(Filler(c.filler_words));
    changes.push_back(Change(1, table, MakeRecord("k" + std::to_string(key++), 4, 8)));
    EXPECT_EQ(CommitOn(s, changes), 0) << c.what;
    EXPECT_EQ(sleeps, c.expected) << c.what;
    if (c.other_under_way) {
      const Sets none = NewSets();
      AppendTo(none.write, Header(0, {{db_, kUseWritten}}));
      End(other.tss, none, kEndAbort);
    }
  }
}

}  // namespace
