// A commit answered with an error must stay undone, also after the restart:
// its records went into the commit set's pages before the write that failed,
// and the other pages of that write (or a later one) can bring them to the
// file whole, where the restart would find the group complete.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "dk/tests/restart_fixture.h"

namespace {

class FailedCommitRestartTest : public RestartCrashTest {
 protected:
  static constexpr int32_t kLength = 1000;  // a few rows fill a commit-set page

  void SetUp() override {
    RestartCrashTest::SetUp();
    table_ = CreateTable(70, 4, kLength);
  }

  std::string Row(int32_t key, int32_t value = 0) {
    char k[8];
    std::snprintf(k, sizeof k, "k%03d", key);
    return MakeRecord(k, 4, kLength, static_cast<char>('a' + (key + value) % 26));
  }

  // Inserts (code 1) or updates (2) rows `from` to `to` - 1 to `value` in
  // one transaction of commit kind `kind`, kept in the model when it is
  // answered 0; the n-th write of its end fails (0: none does).
  int32_t Commit(int32_t code, int32_t from, int32_t to, int32_t value = 0, int n = 0,
                 int32_t kind = 0) {
    Began t = Begin();
    EXPECT_EQ(t.rc, 0);
    if (reused_.write == 0) reused_ = NewSets();
    Empty(reused_);
    AppendTo(reused_.write, Header(kind, {{db_, kUseWritten}}));
    for (int32_t key = from; key < to; ++key)
      AppendTo(reused_.write, Change(code, table_, Row(key, value)));
    if (n > 0) fault_.FailNthWrite(n, EIO);
    const int32_t rc = End(t.tss, reused_);
    fault_.FailNthWrite(0, 0);
    if (rc == 0)
      for (int32_t key = from; key < to; ++key) model_[key] = Row(key, value);
    return rc;
  }
  int32_t Insert(int32_t from, int32_t to, int n = 0) { return Commit(1, from, to, 0, n); }

  // "" when the table holds the model's rows, else the first difference.
  std::string Differences() {
    const std::vector<std::string> rows = TableRows(70, 4, kLength);
    auto it = model_.begin();
    for (size_t i = 0; i < std::max(rows.size(), model_.size()); ++i, ++it) {
      const std::string have = i < rows.size() ? rows[i].substr(0, 5) : "(none)";
      const std::string want = it != model_.end() ? it->second.substr(0, 5) : "(none)";
      if (have != want) return "row " + std::to_string(i) + ": " + have + " for " + want;
    }
    return "";
  }

  std::map<int32_t, std::string> model_;

  Table table_;
};

// Each write of a commit in turn fails: the commit's records fill the rest of
// a page and go on over a new one, so that its write takes data pages, the
// list page that names the new one and the bitmap page. After the crash the
// rows of every commit answered 0 are there, and none of a commit answered
// with an error, whichever of its writes failed.
TEST_F(FailedCommitRestartTest, ACommitAnsweredWithAnErrorIsNotReplayedWhicheverWriteFailed) {
  int32_t failed = 0;
  for (int32_t n = 1; n <= 8; ++n) {
    SCOPED_TRACE("write " + std::to_string(n) + " of the commit fails");
    const int32_t base = 20 * n;
    ASSERT_EQ(Insert(base, base + 3), 0);
    failed += Insert(base + 3, base + 20, n) != 0;
    Crash();
    ASSERT_EQ(Reopen(), 0);
    ASSERT_EQ(Differences(), "");
  }
  EXPECT_GE(failed, 3);
}

// The restart of the TRANS databank hands the commits left in the commit set
// on to their restart sets, writes them and then empties the commit set.
// Each of its writes in turn fails: that open may fail, but the next one
// opens, and every committed row is there once.
TEST_F(FailedCommitRestartTest, ARestartWhoseWriteFailsOpensWholeWhenRunAgain) {
  for (int32_t from = 0; from < 60; from += 10) ASSERT_EQ(Insert(from, from + 10), 0);
  Crash();
  const std::filesystem::path saved = dir_ + "/saved";
  std::filesystem::create_directory(saved);
  for (const char* name : {"trans", "tables"})
    std::filesystem::copy_file(Path(name), saved / (std::string(name) + ".dbf"));
  int32_t failed = 0;
  for (int32_t n = 1;; ++n) {
    SCOPED_TRACE("write " + std::to_string(n) + " of the restart fails");
    for (const char* name : {"trans", "tables"})
      std::filesystem::copy_file(saved / (std::string(name) + ".dbf"), Path(name),
                                 std::filesystem::copy_options::overwrite_existing);
    const int writes = fault_.writes();
    fault_.FailNthWrite(n, EIO);
    const int32_t rc = Reopen();
    const bool reached = fault_.writes() - writes >= n;
    fault_.FailNthWrite(0, 0);
    failed += rc != 0;
    Crash();
    ASSERT_EQ(Reopen(), 0);
    ASSERT_EQ(Differences(), "");
    Crash();
    if (!reached) {
      std::printf("restart writes %d, opens failed %d\n", n - 1, failed);
      break;
    }
  }
  EXPECT_GT(failed, 0);
}

// The same once the commit set's ring went round: the background applies
// and secures the commits, and the ring takes its pages again, each new
// image written at once before the group goes in. Each write of a commit in
// turn fails; after the crash the table holds exactly the commits answered 0.
TEST_F(FailedCommitRestartTest, ACommitWhoseWriteFailsOnceTheRingTurnedIsNotReplayed) {
  ASSERT_EQ(Insert(0, 15), 0);
  int32_t failed = 0;
  for (int32_t n = 1; n <= 4; ++n) {
    SCOPED_TRACE("write " + std::to_string(n) + " of the commit fails");
    StartBackground(1);
    // One commit-set page each, each applied before its commit answers: the
    // ring of two list pages turns.
    for (int32_t value = 1; value <= 1400; ++value) ASSERT_EQ(Commit(2, 0, 15, value, 0, 129), 0) << value;
    ASSERT_GT(area_[BP_COMMIT_SET_LIMIT_DATA_PID], 0);
    StopBackground();
    failed += Commit(2, 0, 15, 5000 + n, n) != 0;
    Crash();
    ASSERT_EQ(Reopen(), 0);
    ASSERT_EQ(Differences(), "");
  }
  EXPECT_GE(failed, 2);
}

}  // namespace
