// Commits that the background threads had not applied when the server
// stopped: the open of the TRANS databank hands them on to the restart set of
// their databank, whose open replays them. Every committed change is there
// exactly once after the reopen, also when the power fails during the
// restart and it runs again.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <map>

#include "dk/test_points.h"
#include "dk/tests/restart_fixture.h"

namespace {

FaultFileSystem* failing_fs = nullptr;
std::atomic<int32_t> fail_after_applying{0};

// The first write after the unit of the given commit number has applied
// its records, which is the first page write of its securing, fails.
void FailSecuringWrite(DKTestPoint point, int32_t commit) {
  if (point == DKTestPoint::kUnitApplied && commit == fail_after_applying.load())
    failing_fs->FailNthWrite(1, EIO);
}

class TransRestartCrashTest : public RestartCrashTest {
 protected:
  static constexpr int32_t kLength = 200;  // about nine rows to a leaf

  void SetUp() override {
    RestartCrashTest::SetUp();
    table_ = CreateTable(70, 4, kLength);
  }

  std::string Row(int32_t key, int32_t value) {
    char k[8];
    std::snprintf(k, sizeof k, "k%03d", key);
    return MakeRecord(k, 4, kLength, static_cast<char>('a' + value % 26));
  }
  // One transaction of a few changes, kept in the model as committed.
  void Commit(int32_t round, int32_t kind) { ASSERT_EQ(CommitRound(round, kind), 0) << round; }
  // The same; the status of its end.
  int32_t CommitRound(int32_t round, int32_t kind) {
    std::vector<std::vector<int32_t>> changes;
    for (int32_t i = 0; i < 6; ++i) {
      const int32_t key = (round * 37 + i * 53) % 300;
      auto it = model_.find(key);
      const int32_t code = it == model_.end() ? 1 : (round % 3 == 0 ? 4 : 2);
      if (code == 4) {
        changes.push_back(Change(4, table_, it->second));
        model_.erase(it);
      } else {
        const std::string r = Row(key, round + i);
        changes.push_back(Change(code, table_, r));
        model_[key] = r;
      }
    }
    return CommitChanges(changes, kind);
  }

  std::vector<std::string> TableRows() { return RestartCrashTest::TableRows(70, 4, kLength); }
  // "" when the table holds the model's rows, else the first difference.
  std::string Differences(const std::vector<std::string>& model) {
    const std::vector<std::string> rows = TableRows();
    for (size_t i = 0; i < std::max(rows.size(), model.size()); ++i) {
      const std::string have = i < rows.size() ? rows[i].substr(0, 8) : "(none)";
      const std::string want = i < model.size() ? model[i].substr(0, 8) : "(none)";
      if (have != want) return "row " + std::to_string(i) + ": " + have + " for " + want;
    }
    return "";
  }
  std::vector<std::string> Model() {
    std::vector<std::string> rows;
    for (const auto& [key, row] : model_) rows.push_back(row);
    return rows;
  }

  // Applied by the background threads, then committed and left unapplied.
  void CommitSome() {
    StartBackground(2);
    for (int32_t round = 0; round < 6; ++round) Commit(round, 129);
    StopBackground();
    for (int32_t round = 6; round < 80; ++round) Commit(round, 0);
  }

  // A second databank (DID 9) and a table on it, which commits that leave
  // the databank of table_ alone change.
  Table MakeElsewhere() {
    other_ = Create("other", 400, 9);
    int32_t made[CRT_WORDS] = {};
    made[RQ_DID] = 9;
    made[RQ_TYPE] = 10;
    made[RQ_TBL] = 72;
    made[RQ_KEY_LENGTH] = 4;
    made[RQ_RECORD_LENGTH] = kLength;
    DKEXE1(16, made);
    EXPECT_EQ(made[RQ_STATUS], 0);
    return {made[RQ_TABLE], 72, 4, kLength};
  }
  // Inserts a row of each key into it in one transaction of `kind`, through
  // the sets `s` (emptied first); the status of the end.
  int32_t CommitElsewhere(const Table& t, const std::vector<std::string>& keys, int32_t kind,
                          const Sets& s) {
    const Began began = Begin();
    EXPECT_EQ(began.rc, 0);
    Empty(s);
    AppendTo(s.write, Header(kind, {{other_, kUseWritten}}));
    for (const std::string& key : keys) {
      std::vector<int32_t> change = Change(1, t, MakeRecord(key.c_str(), 4, kLength));
      change[RQ_DID] = 9;
      AppendTo(s.write, change);
    }
    return End(began.tss, s);
  }
  // The keys of the rows of that table, read after a restart.
  std::vector<std::string> KeysElsewhere() {
    int32_t open[CRT_WORDS] = {3, 0, 9, -1, 0, 72, 4, kLength};
    DKOPT1(open);
    EXPECT_EQ(open[RQ_STATUS], 0);
    if (open[RQ_STATUS] != 0) return {};
    std::vector<std::string> keys;
    for (const std::string& row : Rows({open[RQ_TABLE], 72, 4, kLength}))
      keys.push_back(row.substr(0, 4));
    return keys;
  }

  // Three commits secured by the background threads, then a fourth whose
  // securing page write fails, its committer of kind 129 answered with the
  // failure; the secured number before it.
  int32_t CommitWithFailedSecuring() {
    StartBackground(1);
    for (int32_t round = 0; round < 3; ++round) Commit(round, 129);
    const int32_t secured = area_[BP_SECURED_TRANS_NUMBER];
    EXPECT_EQ(secured, area_[BP_COMMITS]);
    failing_fs = &fault_;
    fail_after_applying = secured + 1;
    DKInstallTestHook(FailSecuringWrite);
    EXPECT_LT(CommitRound(3, 129), 0);
    DKInstallTestHook(nullptr);
    return secured;
  }

  Table table_;
  std::map<int32_t, std::string> model_;
  int32_t other_ = 0;
};

TEST_F(TransRestartCrashTest, UnappliedCommitsArePresentOnceAfterTheReopen) {
  CommitSome();
  Crash();
  ASSERT_EQ(Reopen(), 0);
  EXPECT_EQ(Differences(Model()), "");
  // Handed on and replayed: a second restart finds nothing owed.
  Crash();
  ASSERT_EQ(Reopen(), 0);
  EXPECT_EQ(Differences(Model()), "");
  // The restart set was emptied with its last section settled.
  int32_t open[CRT_WORDS] = {3, 0, 2, kKindSet, 0, 5};
  DKOPT1(open);
  ASSERT_EQ(open[RQ_STATUS], 0);
  std::vector<int32_t> b(SETRQ_RECORD + SetMaxRecordWords(kCommitSetPageSize), 0);
  b[SETRQ_TABLE] = open[RQ_TABLE];
  b[SETRQ_TBL] = 5;
  b[SETRQ_RC] = 2;
  EXPECT_EQ(DKGXN0(b), SET_END);
  open[RQ_STATUS] = 0;
  DKCLT1(open);
}

TEST_F(TransRestartCrashTest, ARestartCutShortByAPowerFailureGivesTheSameResultWhenRunAgain) {
  CommitSome();
  Crash();
  // The files as the dead server left them, put back before each cut.
  const std::filesystem::path saved = dir_ + "/saved";
  std::filesystem::create_directory(saved);
  for (const char* name : {"trans", "tables"})
    std::filesystem::copy_file(Path(name), saved / (std::string(name) + ".dbf"));
  auto put_back = [&] {
    for (const char* name : {"trans", "tables"})
      std::filesystem::copy_file(saved / (std::string(name) + ".dbf"), Path(name),
                                 std::filesystem::copy_options::overwrite_existing);
  };
  const std::vector<std::string> model = Model();
  // The power fails while the TRANS databank's open hands the commit set on
  // (phase 0), or while the databank's open replays its restart set (1).
  for (int phase = 0; phase < 2; ++phase) {
    SCOPED_TRACE(phase);
    auto open_until_cut = [&](int cut) {
      area_[BP_LOG_TABLE] = 1;
      if (phase == 0) fault_.CutPowerAfter(cut);
      if (OpenDb("trans", 2, 2) != 0) return;
      if (phase == 1) fault_.CutPowerAfter(cut);
      OpenDb("tables", 5, 9);
    };
    Crash();
    put_back();
    const int before = fault_.changes();
    open_until_cut(1 << 30);
    const int changes = fault_.changes() - before;
    ASSERT_GT(changes, 4);
    const int step = std::max(1, changes / 40);
    for (int cut = 0; cut < changes; cut += step) {
      SCOPED_TRACE(cut);
      Crash();
      put_back();
      try {
        open_until_cut(cut);
      } catch (const ServerException&) {
        // A failed write may end the server: the next start runs the restart.
      }
      Crash();
      // Whatever was not synced when the power went is lost, except every
      // other page.
      fault_.Crash({[this](const std::string&, int64_t page) {
                      return page % 2 == 0 ? fault_.page_bytes() : 0;
                    },
                    nullptr});
      ASSERT_EQ(Reopen(), 0);
      EXPECT_EQ(Differences(model), "");
    }
  }
}

}  // namespace

namespace {

TEST_F(TransRestartCrashTest, ACommitAnOfflineCopyMissedReachesItWhenItComesBack) {
  const int32_t copy = Create("copy", 4000, 5, 4);
  const Table t = CreateTable(71, 4, kLength);
  const Table on_copy = {area_[t.entry + TBE_NEXT], 71, 4, kLength};
  ASSERT_EQ(area_[on_copy.entry + TBE_DATABANK], copy);
  area_[copy + DBE_OFFLINE] = 1;
  StartBackground(1);
  const std::string row = Row(7, 3), other = Row(8, 4);
  // A synchronous commit of two rows: the committer waits until it is applied.
  ASSERT_EQ(CommitChanges({Change(1, t, row), Change(1, t, other)}), 0);
  StopBackground();
  EXPECT_EQ(Check(t, row), 0);
  EXPECT_NE(Check(on_copy, row), 0);  // not there
  // The copy comes back: its databank's restart set gives it the row.
  area_[copy + DBE_OFFLINE] = 0;
  area_[BP_LOG_TABLE] = 1;
  int32_t rq[RSD_WORDS] = {-1, db_, 5, -1};
  EXPECT_EQ(DKRSD1(rq), 0);
  EXPECT_EQ(Check(on_copy, row), 0);
  EXPECT_EQ(Check(t, row), 0);
}

}  // namespace

namespace {

TEST_F(TransRestartCrashTest, ADatabankOpenBeforeTheTransDatabankIsGivenItsCommitsThen) {
  CommitSome();
  Crash();
  area_[BP_LOG_TABLE] = 1;
  ASSERT_EQ(OpenDb("tables", 5, 9), 0);  // nothing can be owed yet
  ASSERT_EQ(OpenDb("trans", 2, 2), 0);
  EXPECT_EQ(Differences(Model()), "");
}

}  // namespace

namespace {

// The background's page write of an applied commit fails: the commit is in
// the commit set on disk but its table pages are not, so it must not count
// as secured (no restart stamp may pass it), not even once the failed
// pages are dropped from the pool and a later commit of another databank
// is secured. Its committer of kind 129 is answered with the failure, and
// the restart after a crash replays it.
TEST_F(TransRestartCrashTest, ACommitWhosePageWriteFailsIsNotSecuredAndIsReplayed) {
  const Table elsewhere = MakeElsewhere();
  ASSERT_NE(elsewhere.entry, 0);
  const int32_t secured = CommitWithFailedSecuring();
  EXPECT_EQ(area_[BP_COMMITS], secured + 1);
  EXPECT_EQ(area_[BP_SECURED_TRANS_NUMBER], secured);
  // Its entry waits, applied, for a page write.
  int32_t found = 0;
  for (int32_t x = area_[BP_TSS_FIRST]; x <= area_[BP_TSS_LAST]; x += TSS_WORDS)
    if (area_[x + TSS_START] != 0 && area_[x + TSS_COMMIT] == secured + 1) {
      EXPECT_EQ(area_[x + TSS_STATE], TSS_AFTER_PROC);
      ++found;
    }
  EXPECT_EQ(found, 1);
  // The failed pages leave the pool (as at the close of their databank); a
  // commit of another databank is secured, and the secured number still
  // stays below the failed commit.
  int32_t drop[PAGREQ_WORDS] = {db_, 0, 0, 0, -1, 0, 0, 0};
  DKPAG0(drop, PAG_DROP);
  EXPECT_EQ(CommitElsewhere(elsewhere, {"e001", "e002"}, 129, NewSets()), 0);
  EXPECT_EQ(area_[BP_COMMITS], secured + 2);
  EXPECT_EQ(area_[BP_SECURED_TRANS_NUMBER], secured);
  // Nothing secures it at the stop either, and the restart replays it.
  StopBackground();
  EXPECT_EQ(area_[BP_SECURED_TRANS_NUMBER], secured);
  Crash();
  ASSERT_EQ(Reopen(), 0);
  EXPECT_EQ(Differences(Model()), "");
}

// After a failed page write of the background nothing is secured any more,
// for any databank, until the TRANS databank's next restart: the failed
// pages stay in the pool and every later securing write meets them, and the
// secured number and the commit set's mark stay below the failed commit.
// Commits of any databank the failure did not disable go on all the same;
// they stay in the commit set, whose ring grows instead of taking pages
// again, and the restart replays them with the failed one, none lost.
TEST_F(TransRestartCrashTest, CommitsAfterAFailedBackgroundWriteGoOnAndSurviveTheRestart) {
  const Table elsewhere = MakeElsewhere();
  ASSERT_NE(elsewhere.entry, 0);
  const Sets sets{MakeSet(9, -1), MakeSet(9, -1)};
  const int32_t secured = CommitWithFailedSecuring();
  const int32_t mark = area_[BP_COMMIT_SET_LIMIT_DATA_PID];
  const int32_t ring = area_[BP_COMMIT_SET_SIZE];
  std::vector<std::string> keys;
  for (int32_t i = 0; i < 40; ++i) {
    char key[8];
    std::snprintf(key, sizeof key, "e%03d", i);
    keys.push_back(key);
    const int32_t kind = i % 2 == 0 ? 0 : 129;
    // A committer waiting for its commit to be secured is answered with the
    // failure that stops the securing; its commit is kept all the same.
    EXPECT_EQ(CommitElsewhere(elsewhere, {key}, kind, sets), kind == 0 ? 0 : -44) << i;
  }
  EXPECT_EQ(area_[BP_SECURED_TRANS_NUMBER], secured);
  EXPECT_EQ(area_[BP_COMMIT_SET_LIMIT_DATA_PID], mark);
  EXPECT_GT(area_[BP_COMMIT_SET_SIZE], ring);  // the ring grew for them
  Crash();
  ASSERT_EQ(Reopen(), 0);
  ASSERT_EQ(OpenDb("other", 9, 9), 0);
  EXPECT_EQ(Differences(Model()), "");
  EXPECT_EQ(KeysElsewhere(), keys);
}

// The same commit whose page write failed, and then a clean stop instead of a
// crash: the stop's close of the databank whose pages could not be written
// answers the failure and leaves it and the TRANS databank marked open, so
// the restart still replays the commit.
TEST_F(TransRestartCrashTest, ACommitWhosePageWriteFailedIsReplayedAfterACleanStop) {
  const int32_t secured = CommitWithFailedSecuring();
  EXPECT_EQ(area_[BP_SECURED_TRANS_NUMBER], secured);
  StopBackground();
  open_.clear();
  reused_ = {};
  int32_t rc = 0;
  DKShutdown(&rc);
  EXPECT_NE(rc, 0);
  ASSERT_EQ(enqdeq_init(enq_, kThreads, nullptr, nullptr, 0), 0);
  ASSERT_EQ(enqdeq_attach(enq_, 1), 0);
  params_.counts[0] = 0;
  ASSERT_EQ(params_.Start(), 0);
  area_ = Bufferpool();
  ASSERT_EQ(Reopen(), 0);
  EXPECT_EQ(Differences(Model()), "");
}

}  // namespace
