// Work units that overlap: the next unit is read and applied while the last
// one's records are still applied and it is secured. The power is cut at
// chosen interleavings, made with the kernel's test points, the file
// system's writes and pages the test holds, never with sleeps; after the
// restart every commit reported done is there in full and nothing else.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <random>
#include <thread>

#include "dk/commit_write_set.h"
#include "dk/test_points.h"
#include "dk/tests/pass_through_file_system.h"
#include "dk/tests/restart_fixture.h"

namespace {

// What the test points do, set while no background thread runs.
std::function<void(DKTestPoint, int32_t)> at_point;

void CallAtPoint(DKTestPoint point, int32_t value) {
  if (at_point) at_point(point, value);
}

// Calls `on_write` before each write while it is set (once a background
// thread runs, only through `armed`).
class WatchingFileSystem : public PassThroughFileSystem {
 public:
  explicit WatchingFileSystem(FileSystem& base) : PassThroughFileSystem(base) {}
  int WriteAt(int handle, int64_t offset, const void* buffer, size_t count, size_t* done) override {
    if (armed.load()) on_write(handle, offset);
    return base_.WriteAt(handle, offset, buffer, count, done);
  }
  std::function<void(int, int64_t)> on_write;
  std::atomic<bool> armed{false};
};

class OverlappingUnitsTest : public RestartCrashTest {
 protected:
  static constexpr int32_t kLength = 200;


  void SetUp() override {
    RestartCrashTest::SetUp();
    DKOverlapUnits(true);
    DKInstallTestHook(CallAtPoint);
    tables_[0] = CreateTable(70, 4, kLength);
    tables_[1] = CreateTable(71, 4, kLength);
  }
  void TearDown() override {
    StopBackground();
    DKInstallTestHook(nullptr);
    at_point = nullptr;
    RestartCrashTest::TearDown();
  }

  std::string Row(int32_t key, char fill) {
    char k[8];
    std::snprintf(k, sizeof k, "k%03d", key);
    return MakeRecord(k, 4, kLength, fill);
  }
  // A change of table n, kept in the model.
  std::vector<int32_t> Put(int n, int32_t key, char fill) {
    const std::string row = Row(key, fill);
    const bool there = model_[n].count(key) != 0;
    model_[n][key] = row;
    return Change(there ? 2 : 1, tables_[n], row);
  }
  std::vector<int32_t> Remove(int n, int32_t key) {
    const std::string row = model_[n].at(key);
    model_[n].erase(key);
    return Change(4, tables_[n], row);
  }

  // The power fails: what was not synced is lost, the kernel starts afresh
  // and the databanks are opened again (the restart).
  void PowerFailsAndRestarts() {
    fault_.CutPowerAfter(0);
    ASSERT_NO_FATAL_FAILURE(Crash([this] { fault_.DropUnsyncedData(); }));
    ASSERT_EQ(Reopen(), 0);
  }

  // Every table holds its model's rows (each shown as its key and the
  // letter that fills it).
  void ExpectModel() {
    auto shown = [](const std::string& row) { return row.substr(0, 5); };
    for (int n = 0; n < 2; ++n) {
      std::vector<std::string> expected, found;
      for (const auto& [key, row] : model_[n]) expected.push_back(shown(row));
      for (const std::string& row : TableRows(tables_[n].tbl, 4, kLength))
        found.push_back(shown(row));
      EXPECT_EQ(found, expected) << "table " << tables_[n].tbl;
    }
  }

  // Polls until `done` holds; fails the test after many rounds.
  template <class Done>
  static void Await(const char* what, Done done) {
    for (int64_t n = 0; !done(); ++n) {
      ASSERT_LT(n, 100'000'000) << what;
      std::this_thread::yield();
    }
  }

  // The top page of table n, held for update: a record of the table waits.
  int32_t HoldTop(int n) {
    const std::vector<int32_t> e = RootEntry(tables_[n]);
    return Get(db_, e[RE_TOP + 1], e[RE_DATA_PAGE_SIZE + 1], GET_UPDATE);
  }

  // A slot other than `self` running a unit (state 5) with a later unit
  // number.
  static bool LaterUnitStarted(int32_t self) {
    const int32_t* a = Bufferpool();
    for (int32_t s = a[BP_FIRST_SWA]; s > 0 && s <= a[BP_LAST_SWA]; s += SWA_WORDS)
      if (s != self && LoadWord(s + SWA_STATE) == SLOT_ACTIVE &&
          LoadWord(s + SWA_SEQNO) > LoadWord(self + SWA_SEQNO))
        return true;
    return false;
  }
  // A slot holds a record in hand.
  bool RecordInHand() {
    for (int32_t s = area_[BP_FIRST_SWA]; s > 0 && s <= area_[BP_LAST_SWA]; s += SWA_WORDS)
      if (LoadWord(s + SWA_APPLYING) != 0) return true;
    return false;
  }
  // Applied transactions waiting for their page write.
  int32_t Queued() {
    EnqdeqGuard guard(area_ + BP_LOCK_BACKGROUND_IO);
    int32_t n = 0;
    for (int32_t x = area_[BP_AFTER_PROC_QUEUE]; x > 0; x = area_[x + TSS_LINK]) ++n;
    return n;
  }

  Table tables_[2];
  std::map<int32_t, std::string> model_[2];
};

// Unit A is secured (its page write, the stamp, the scan that frees
// entries, the mark of the commit set) while unit B, which began once A's
// records were applied, still applies its last record: a page of that
// record's table is held. B's first records changed pages of A's write set,
// which A's page write takes along half done. The power fails once A is
// secured: both commits were reported done, and the restart has both in
// full, B replayed over its half.
TEST_F(OverlappingUnitsTest, AUnitSecuredWhileTheNextAppliesItsLastRecord) {
  StartBackground(2);
  std::vector<std::vector<int32_t>> seed[2];
  for (int n = 0; n < 2; ++n)
    for (int32_t key = 0; key < 40; ++key) seed[n].push_back(Put(n, key, 'a'));
  for (int n = 0; n < 2; ++n) ASSERT_EQ(CommitChanges(seed[n], kKindWaitSecured), 0);
  const int32_t a_commit = LoadWord(BP_COMMITS) + 1, b_commit = a_commit + 1;
  // A's securing waits until B's unit began (B's wake is taken, so A is
  // written at once rather than queued for B).
  std::atomic<bool> b_committed{false};
  at_point = [&](DKTestPoint point, int32_t value) {
    if (point != DKTestPoint::kUnitApplied || value != a_commit) return;
    int32_t self = 0;
    const int32_t* a = Bufferpool();
    for (int32_t s = a[BP_FIRST_SWA]; s > 0 && s <= a[BP_LAST_SWA]; s += SWA_WORDS)
      if (LoadWord(s + SWA_STATE) == SLOT_ACTIVE && a[s + SWA_TRANS] != 0 &&
          (self == 0 || LoadWord(s + SWA_SEQNO) < LoadWord(self + SWA_SEQNO)))
        self = s;
    while (!b_committed.load() || !LaterUnitStarted(self)) std::this_thread::yield();
  };
  const int32_t held = HoldTop(1);
  ASSERT_GT(held, 0);
  std::vector<std::vector<int32_t>> a_changes, b_changes;
  for (int32_t key = 40; key < 46; ++key) a_changes.push_back(Put(0, key, 'b'));
  for (int32_t key = 0; key < 4; ++key) a_changes.push_back(Remove(0, key));
  a_changes.push_back(Put(0, 10, 'b'));
  for (int32_t key = 46; key < 50; ++key) b_changes.push_back(Put(0, key, 'c'));
  b_changes.push_back(Remove(0, 4));
  b_changes.push_back(Put(0, 10, 'c'));
  b_changes.push_back(Put(1, 50, 'c'));  // waits for the held page
  ASSERT_EQ(CommitChanges(a_changes, 0), 0);
  ASSERT_EQ(CommitChanges(b_changes, 0), 0);
  b_committed = true;
  ASSERT_NO_FATAL_FAILURE(Await("A secured", [&] {
    return LoadWord(BP_SECURED_TRANS_NUMBER) >= a_commit;
  }));
  EXPECT_LT(LoadWord(BP_SECURED_TRANS_NUMBER), b_commit);
  // B's last record is in hand, waiting for the held page.
  ASSERT_NO_FATAL_FAILURE(Await("B's last record in hand", [&] { return RecordInHand(); }));
  fault_.CutPowerAfter(0);
  DKPUT0(PUT_UNCHANGED, held);
  ASSERT_NO_FATAL_FAILURE(PowerFailsAndRestarts());
  ExpectModel();
}

// Four background threads: three units wait to be secured while a fourth
// applies the next.
class FourUnitsTest : public OverlappingUnitsTest {
 protected:
  void Shape() override {
    OverlappingUnitsTest::Shape();
    params_.threads[THR_BACKGROUND] = 4;
    // Five pages of each size per thread.
    params_.pages[PG_16K] = 40;
    params_.pages[PG_64K] = 31;
  }
};

// Units A1 to A3 are secured in one page write while unit B applies its
// records: B's inserts split the leaf that A1 changed in place, so the
// split moves that leaf, with A1's change, to a new page after the write
// collected the leaf under its old number. The write still takes A1's
// change to disk: once A1 and A2 are secured the restart replays neither
// (its stamp passes A1), and a lost change would stay lost. The moved
// leaf's parent, held changed by B when the leaf is linked before it, must
// join A1's set: put in B's later set only, it was left out of the write and
// A1's row was lost.
TEST_F(FourUnitsTest, APageOfASecuredSetMovedByTheNextUnitWhileItIsWritten) {
  StartBackground(4);
  std::vector<std::vector<int32_t>> seed[2];
  for (int n = 0; n < 2; ++n)
    for (int32_t key = 0; key < 200; key += 10) seed[n].push_back(Put(n, key, 'a'));
  for (int n = 0; n < 2; ++n) ASSERT_EQ(CommitChanges(seed[n], kKindWaitSecured), 0);
  // Every applied unit is written at once: A1 and A2 meet in the queue
  // because the securing waits (lock 224 held here).
  area_[BP_BACKGROUND_FLUSH_RATE] = 0;
  const int32_t a1 = LoadWord(BP_COMMITS) + 1, a3 = a1 + 2, b = a1 + 3;
  std::atomic<bool> collected{false}, b_applied{false}, b_go{false};
  at_point = [&](DKTestPoint point, int32_t value) {
    if (point == DKTestPoint::kSetPagesCollected && value == a3 && !collected.exchange(true)) {
      collected.notify_all();
      b_applied.wait(false);
    } else if (point == DKTestPoint::kUnitApplied && value == b) {
      b_applied = true;
      b_applied.notify_all();
      b_go.wait(false);
    }
  };
  const int32_t held = HoldTop(1);
  ASSERT_GT(held, 0);
  DKLock(BP_LOCK_RESTART_NUMBER);
  // A1 changes the first leaf in place, A2 the last; B's first record waits
  // for the held page, the others split the first leaf.
  ASSERT_EQ(CommitChanges({Put(0, 5, 'b')}, 0), 0);
  ASSERT_EQ(CommitChanges({Put(0, 195, 'b')}, 0), 0);
  ASSERT_EQ(CommitChanges({Put(0, 185, 'b')}, 0), 0);
  std::vector<std::vector<int32_t>> b_changes = {Put(1, 5, 'c')};
  for (int32_t key = 1; key < 40; key += 2)
    if (key != 5) b_changes.push_back(Put(0, key, 'c'));
  ASSERT_EQ(CommitChanges(b_changes, 0), 0);
  ASSERT_NO_FATAL_FAILURE(Await("A1 to A3 queued, B's first record in hand",
                                [&] { return Queued() == 3 && RecordInHand(); }));
  DKUnlock(BP_LOCK_RESTART_NUMBER);
  collected.wait(false);
  DKPUT0(PUT_UNCHANGED, held);
  ASSERT_NO_FATAL_FAILURE(Await("A1 to A3 secured", [&] {
    return LoadWord(BP_SECURED_TRANS_NUMBER) >= a3;
  }));
  EXPECT_LT(LoadWord(BP_SECURED_TRANS_NUMBER), b);
  // A later commit's page write takes the stamp that passes A1 to disk.
  ASSERT_EQ(CommitChanges({Put(1, 300, 'd')}, 0), 0);
  fault_.CutPowerAfter(0);
  b_go = true;
  b_go.notify_all();
  ASSERT_NO_FATAL_FAILURE(PowerFailsAndRestarts());
  ExpectModel();
}

}  // namespace

namespace {

// Eight background threads over pools so small that pages are swapped out
// and moved between units all the time.
class EightUnitsTest : public OverlappingUnitsTest {
 protected:
  // The power fails; the restart checks every page of both databanks.
  void PowerFailsAndRestartsChecked() {
    fault_.CutPowerAfter(0);
    ASSERT_NO_FATAL_FAILURE(Crash([this] { fault_.DropUnsyncedData(); }));
    area_[BP_CHECK_OPTION] = 2;
    ASSERT_EQ(Reopen(), 0);
  }
  // The tables again after a restart, for more commits.
  void OpenTables() {
    for (int n = 0; n < 2; ++n) {
      bool opened = false;
      tables_[n] = OpenTable(tables_[n].tbl, 4, kLength, &opened);
      ASSERT_NE(tables_[n].entry, 0);
    }
  }

  void Shape() override {
    OverlappingUnitsTest::Shape();
    params_.threads[THR_BACKGROUND] = 8;
    // Five pages of each size for each thread, the least the start allows.
    params_.pages[PG_16K] = 51;
    params_.pages[PG_64K] = 51;
  }

  // A stream of transactions of random inserts, updates and deletes over
  // both tables, every fourth of kind 129 (waits for its securing), the
  // others returning once their records are in the commit set.
  void Stream(uint32_t seed, int transactions) {
    std::mt19937 random(seed);
    for (int t = 0; t < transactions; ++t) {
      std::vector<std::vector<int32_t>> changes;
      const int count = 1 + static_cast<int>(random() % 6);
      for (int c = 0; c < count; ++c) {
        const int n = static_cast<int>(random() % 2);
        const int32_t key = static_cast<int32_t>(random() % 300);
        if (model_[n].count(key) != 0 && random() % 3 == 0)
          changes.push_back(Remove(n, key));
        else
          changes.push_back(Put(n, key, static_cast<char>('a' + t % 26)));
      }
      ASSERT_EQ(CommitChanges(changes, t % 4 == 3 ? kKindWaitSecured : 0), 0) << "transaction "
                                                                              << t;
    }
  }
};

// Power cuts at the end of streams: every commit reported is there after
// the restart, nothing else, and both databanks check sound.
TEST_F(EightUnitsTest, StreamsSurvivePowerCutsWithSmallPools) {
  for (uint32_t round = 0; round < 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    StartBackground(8);
    ASSERT_NO_FATAL_FAILURE(Stream(round + 1, 150));
    ASSERT_NO_FATAL_FAILURE(PowerFailsAndRestartsChecked());
    ExpectModel();
    ASSERT_NO_FATAL_FAILURE(OpenTables());
  }
}

// The stop comes while units overlap: it returns, and the restart finds
// every commit.
TEST_F(EightUnitsTest, AStopWhileUnitsOverlapReturns) {
  StartBackground(8);
  ASSERT_NO_FATAL_FAILURE(Stream(7, 120));
  StopBackground();
  ASSERT_NO_FATAL_FAILURE(PowerFailsAndRestartsChecked());
  ExpectModel();
}

}  // namespace
