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

  std::string Row(int32_t key) {
    char k[8];
    std::snprintf(k, sizeof k, "k%03d", key);
    return MakeRecord(k, 4, kLength, static_cast<char>('a' + key % 26));
  }

  // Inserts rows `from` to `to` - 1 in one transaction left to the restart;
  // the n-th write of its end fails (0: none does).
  int32_t Insert(int32_t from, int32_t to, int n = 0) {
    Began t = Begin();
    EXPECT_EQ(t.rc, 0);
    if (reused_.write == 0) reused_ = NewSets();
    Empty(reused_);
    AppendTo(reused_.write, Header(0, {{db_, kUseWritten}}));
    for (int32_t key = from; key < to; ++key) AppendTo(reused_.write, Change(1, table_, Row(key)));
    if (n > 0) fault_.FailNthWrite(n, EIO);
    const int32_t rc = End(t.tss, reused_);
    fault_.FailNthWrite(0, 0);
    return rc;
  }

  Table table_;
};

// Each write of a commit in turn fails: the commit's records fill the rest of
// a page and go on over a new one, so that its write takes data pages, the
// list page that names the new one and the bitmap page. After the crash the
// rows of every commit answered 0 are there, and none of a commit answered
// with an error, whichever of its writes failed.
TEST_F(FailedCommitRestartTest, ACommitAnsweredWithAnErrorIsNotReplayedWhicheverWriteFailed) {
  std::map<int32_t, std::string> model;
  int32_t failed = 0;
  for (int32_t n = 1; n <= 8; ++n) {
    SCOPED_TRACE("write " + std::to_string(n) + " of the commit fails");
    const int32_t base = 20 * n;
    ASSERT_EQ(Insert(base, base + 3), 0);
    for (int32_t key = base; key < base + 3; ++key) model[key] = Row(key);
    const int32_t rc = Insert(base + 3, base + 20, n);
    if (rc == 0) {
      for (int32_t key = base + 3; key < base + 20; ++key) model[key] = Row(key);
    } else {
      ++failed;
    }
    Crash();
    ASSERT_EQ(Reopen(), 0);
    std::vector<std::string> expected;
    for (const auto& [key, row] : model) expected.push_back(row);
    const std::vector<std::string> rows = TableRows(70, 4, kLength);
    ASSERT_EQ(rows.size(), expected.size());
    for (size_t i = 0; i < rows.size(); ++i) ASSERT_EQ(rows[i].substr(0, 4), expected[i].substr(0, 4));
  }
  EXPECT_GE(failed, 3);
}

// The restart of the TRANS databank hands the commits left in the commit set
// on to their restart sets, writes them and then empties the commit set.
// Each of its writes in turn fails: that open may fail, but the next one
// opens, and every committed row is there once.
TEST_F(FailedCommitRestartTest, ARestartWhoseWriteFailsOpensWholeWhenRunAgain) {
  std::vector<std::string> expected;
  for (int32_t from = 0; from < 60; from += 10) {
    ASSERT_EQ(Insert(from, from + 10), 0);
    for (int32_t key = from; key < from + 10; ++key) expected.push_back(Row(key));
  }
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
    const std::vector<std::string> rows = TableRows(70, 4, kLength);
    ASSERT_EQ(rows.size(), expected.size());
    for (size_t i = 0; i < rows.size(); ++i) ASSERT_EQ(rows[i].substr(0, 4), expected[i].substr(0, 4));
    Crash();
    if (!reached) {
      std::printf("restart writes %d, opens failed %d\n", n - 1, failed);
      break;
    }
  }
  EXPECT_GT(failed, 0);
}

}  // namespace
