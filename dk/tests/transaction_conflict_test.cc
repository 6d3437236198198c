// Validation at commit: transactions that read a row and change it, with a
// model of the transaction cache's read check standing in for it, so that
// the commit that loses never reaches the table; and many threads that
// increment shared counters, every committed increment applied exactly once.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <set>

#include "dk/stored_tss.h"
#include "dk/tests/transaction_fixture.h"
#include "platform/enqdeq.h"

namespace {

// A read-set record: kind 1, the row, the last commit number whose records
// were applied when the row was read, then the table entry.
constexpr int32_t RS_ROW = 1, RS_APPLIED = 2;

// The writers of each row by start number, as the transaction cache would
// hold them.
std::mutex model_lock;
std::map<int32_t, std::vector<int32_t>> writers;

// The read check of the model: a read conflicts with a writer of the row
// that prepared before the checker and whose records were not applied when
// the row was read (or that has no commit number yet). A writer the TSS
// overflow stored (secured, out of the hash) conflicts when it prepared
// before the checker and reached the commit set after the checker began:
// its commit may have been applied after the read.
int32_t CheckRead(int32_t tss, std::span<const int32_t> record) {
  int32_t* a = Bufferpool();
  std::vector<int32_t> starts, stored;
  {
    std::lock_guard<std::mutex> lock(model_lock);
    starts = writers[record[RS_ROW_VIEW + RS_ROW]];
  }
  DKLock(BP_LOCK_TSS_HASH);
  const int32_t mine = a[tss + TSS_START], prepare = a[tss + TSS_PREPARE];
  const int32_t view = a[tss + TSS_VIEW];
  int32_t answer = 0;
  for (int32_t start : starts) {
    if (start == mine) continue;
    const int32_t w = DKHMI0(a[BP_TSS_HASH], start);
    if (w <= 0 || a[w + TSS_START] != start) {
      stored.push_back(start);
      continue;
    }
    const int32_t c = a[w + TSS_STATE] > TSS_BUILDUP_RW ? a[w + TSS_PREPARE] : 0;
    const int32_t commit = a[w + TSS_COMMIT];
    if (c != 0 && c < prepare && (commit == 0 || commit > record[RS_ROW_VIEW + RS_APPLIED]))
      answer = kConflict;
  }
  DKUnlock(BP_LOCK_TSS_HASH);
  // The stored records are read from pages, never under the TSS lock.
  for (int32_t start : stored) {
    CacheWriter w;
    if (answer == 0 && DKFindStoredTss(start, &w) && w.prepared != 0 && w.prepared < prepare &&
        w.on_disk > view)
      answer = kConflict;
  }
  return answer;
}
const DKReadChecks kModel = {CheckRead, nullptr};

class ConflictTest : public TransactionTest {
 protected:
  void SetUp() override {
    TransactionTest::SetUp();
    std::lock_guard<std::mutex> lock(model_lock);
    writers.clear();
    DKInstallReadChecks(&kModel);
  }

  static std::string Counter(int32_t row, int32_t value) {
    std::string r(8, '\0');
    for (int i = 0; i < 4; ++i) r[i] = static_cast<char>(row >> (24 - 8 * i));
    std::memcpy(r.data() + 4, &value, 4);
    return r;
  }
  static int32_t ValueOf(const std::string& r) {
    int32_t v = 0;
    std::memcpy(&v, r.data() + 4, 4);
    return v;
  }

  // Waits until every commit numbered up to the last one given is applied;
  // returns that number.
  int32_t AppliedSoFar() {
    const int32_t last = LoadWord(BP_COMMITS);
    for (;;) {
      bool pending = false;
      DKLock(BP_LOCK_TSS_HASH);
      int32_t state[4] = {0, area_[BP_TSS_HASH], 0, 0};
      for (int32_t e = DKHMS0(state); e > 0 && !pending; e = DKHMS0(state)) {
        const int32_t commit = area_[e + TSS_COMMIT];
        pending = commit > 0 && commit <= last && area_[e + TSS_STATE] < TSS_AFTER_PROC;
      }
      DKUnlock(BP_LOCK_TSS_HASH);
      if (!pending) return last;
      std::this_thread::yield();
    }
  }

  // Reads a counter as it is applied, with the read-set record of the read.
  int32_t Read(const Table& t, int32_t row, std::vector<int32_t>* read_record) {
    const int32_t applied = AppliedSoFar();
    int32_t value = -1;
    for (const std::string& r : Rows(t))
      if (r.substr(0, 4) == Counter(row, 0).substr(0, 4)) value = ValueOf(r);
    *read_record = {1, row, applied, 0, t.entry};
    return value;
  }

  void Writes(int32_t start, int32_t row) {
    std::lock_guard<std::mutex> lock(model_lock);
    writers[row].push_back(start);
  }

  // One read-increment-commit of a counter with the thread's own work
  // tables, emptied first; the end's status.
  int32_t Increment(const Table& t, int32_t row, const Sets& s, int32_t kind) {
    Empty(s);
    Began tx = Begin();
    while (tx.rc == -84) {
      std::this_thread::yield();
      tx = Begin();
    }
    EXPECT_EQ(tx.rc, 0);
    std::vector<int32_t> read;
    const int32_t value = Read(t, row, &read);
    EXPECT_GE(value, 0);
    Writes(tx.start, row);
    AppendTo(s.write, Header(kind, {{db_, 3}}));
    AppendTo(s.write, Change(2, t, Counter(row, value + 1)));
    AppendTo(s.read, read);
    return End(tx.tss, s);
  }
};

TEST_F(ConflictTest, SecondCommitOfTheSameRowLosesAndNeverReachesTheTable) {
  StartBackground(2);
  Table t = CreateTable(55, 4, 8);
  ASSERT_EQ(CommitChanges({Change(1, t, Counter(1, 0)), Change(1, t, Counter(2, 0))}), 0);
  Began t1 = Begin(), t2 = Begin();
  Sets s1 = NewSets(), s2 = NewSets();
  std::vector<int32_t> read1, read2;
  ASSERT_EQ(Read(t, 1, &read1), 0);
  ASSERT_EQ(Read(t, 1, &read2), 0);
  Writes(t1.start, 1);
  Writes(t2.start, 1);
  AppendTo(s1.write, Header(129, {{db_, 3}}));
  AppendTo(s1.write, Change(2, t, Counter(1, 10)));
  AppendTo(s1.read, read1);
  AppendTo(s2.write, Header(129, {{db_, 4}}));
  AppendTo(s2.write, Change(2, t, Counter(1, 20)));
  AppendTo(s2.write, Change(2, t, Counter(2, 20)));
  AppendTo(s2.read, read2);
  EXPECT_EQ(End(t1.tss, s1), 0);
  const int32_t in_use = TssInUse();
  EXPECT_EQ(End(t2.tss, s2), kConflict);
  EXPECT_EQ(TssInUse(), in_use - 1);
  ASSERT_EQ(CommitChanges({Change(1, t, Counter(3, 0)), Change(4, t, Counter(3, 0))}), 0);
  EXPECT_EQ(Rows(t), (std::vector<std::string>{Counter(1, 10), Counter(2, 0)}));
  EXPECT_EQ(area_[BP_TRANSACTION_CHECKS], 1);
  EXPECT_EQ(area_[BP_TRANSACTIONS_BEFORE_GROUP], 0);
  EXPECT_EQ(area_[BP_USERS_IN_COMMIT], 0);
}

TEST_F(ConflictTest, ReadWithoutReadCheckInstalledIsRefused) {
  DKInstallReadChecks(nullptr);
  Table t = CreateTable(55, 4, 8);
  Began t1 = Begin(), t2 = Begin();
  Sets s1 = NewSets(), s2 = NewSets();
  std::vector<int32_t> read = {1, 1, 0, 0, t.entry};
  for (const Sets& s : {s1, s2}) {
    AppendTo(s.write, Header(0, {{db_, 3}}));
    AppendTo(s.write, Change(1, t, Counter(1, 0)));
    AppendTo(s.read, read);
  }
  StartBackground(1);
  EXPECT_EQ(End(t1.tss, s1), 0);
  EXPECT_EQ(End(t2.tss, s2), -86);
}

// Eight threads increment four counters; a lost validation is tried again.
TEST_F(ConflictTest, EveryCommittedIncrementIsAppliedExactlyOnce) {
  constexpr int kThreadsRunning = 8, kRounds = 60, kCounters = 4;
  StartBackground(2);
  Table t = CreateTable(55, 4, 8);
  std::vector<std::vector<int32_t>> initial;
  for (int32_t row = 0; row < kCounters; ++row) initial.push_back(Change(1, t, Counter(row, 0)));
  initial.push_back(Change(1, t, Counter(99, 0)));
  ASSERT_EQ(CommitChanges(initial), 0);
  std::vector<Sets> sets;
  for (int i = 0; i < kThreadsRunning; ++i) sets.push_back(NewSets());
  std::atomic<int32_t> committed[kCounters] = {};
  std::atomic<int32_t> conflicts{0};
  std::vector<std::thread> running;
  for (int i = 0; i < kThreadsRunning; ++i) {
    running.emplace_back([&, i] {
      enqdeq_attach(enq_, 2 + i);
      for (int round = 0; round < kRounds; ++round) {
        const int32_t row = (i + round) % kCounters;
        for (;;) {
          const int32_t rc = Increment(t, row, sets[i], round % 5 == 0 ? 129 : 0);
          if (rc == 0) break;
          ASSERT_EQ(rc, kConflict);
          conflicts.fetch_add(1);
        }
        committed[row].fetch_add(1);
      }
    });
  }
  for (std::thread& r : running) r.join();
  AppliedSoFar();
  std::vector<std::string> expected;
  for (int32_t row = 0; row < kCounters; ++row)
    expected.push_back(Counter(row, committed[row].load()));
  expected.push_back(Counter(99, 0));
  EXPECT_EQ(Rows(t), expected);
  EXPECT_EQ(area_[BP_COMMITS], 1 + kThreadsRunning * kRounds);
}

}  // namespace
