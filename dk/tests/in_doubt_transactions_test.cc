// Transactions prepared for a distributed commit: waiting for their
// outcome while the server runs, kept in set 167 of the TRANS databank
// across a stop, re-created in doubt at the next open with their changes
// back in the transaction cache, listed by DKEPT1 (code 57) and decided by
// DKETR1; and the refusals of what their state does not allow.
#include "dk/in_doubt_transactions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <set>
#include <string>
#include <thread>

#include "dk/databank_file.h"
#include "dk/table_open.h"
#include "dk/test_points.h"
#include "dk/tests/large_object_fixture.h"
#include "dk/tests/transaction_fixture.h"
#include "dk/transaction_cache.h"

namespace {

// The decider held once its commit has its number: the thread that sets
// `hold_here`.
thread_local bool hold_here = false;
std::atomic<int32_t> holding{0};
std::atomic<bool> let_go{false};

void HoldAtCommitNumber(DKTestPoint point, int32_t value) {
  if (point != DKTestPoint::kCommitNumbered || !hold_here) return;
  holding.store(value);
  holding.notify_all();
  let_go.wait(false);
}

// The decider held once its commit is on disk, before it marks the group.
void HoldAtDecision(DKTestPoint point, int32_t value) {
  if (point != DKTestPoint::kDecisionCommitted || !hold_here) return;
  holding.store(value);
  holding.notify_all();
  let_go.wait(false);
}

class PreparedTest : public TransactionTest {
 protected:
  void SetUp() override {
    TableTest::SetUp();
    storage_.Install();
    trans_ = CreateTrans("trans", 1);
    commit_set_ = MakeSet(2, 10);
    area_[BP_TRANS_DATABANK] = trans_;
    area_[BP_COMMIT_SET_TBL] = commit_set_;
    table_ = CreateTable(77, 4, 8);
  }
  void TearDown() override {
    TransactionTest::TearDown();
    TestWordStorage::Uninstall();
  }

  // A copy of the TRANS databank, which keeps its tables on the root pages
  // its header's word 4 names.
  int32_t CreateTrans(const std::string& name, int32_t seqno) {
    const int32_t entry = Create(name, 1200, 2, seqno);
    int32_t rq[REQ_WORDS] = {entry, 0, 2048, 0, -1, 0};
    EXPECT_EQ(DKHLD0(rq, 0), 0);
    const int32_t root = rq[REQ_PAGE];
    int32_t b = Get(entry, root, 2048, GET_NEW);
    std::memset(PageWords(b) + 1, 0, 2044);
    PageWords(b)[HDR_KIND] = ROOT_PAGE_KIND;
    EXPECT_EQ(WriteUnitPage(entry, root, b), 0);
    b = Get(entry, kHeaderUnit, 2048, GET_UPDATE);
    PageWords(b)[HDR_RESTORE_DIRECTORY] = root;
    EXPECT_EQ(WriteUnitPage(entry, kHeaderUnit, b), 0);
    return entry;
  }

  // A change record as record access writes it: key length and sequence
  // word filled in.
  std::vector<int32_t> Row(int32_t fcode, const std::string& key, char fill = 'r') {
    std::vector<int32_t> r = Change(fcode, table_, MakeRecord(key, 4, 8, fill));
    r[RQ_KEY_LENGTH] = table_.key;
    r[9] = 1;
    return r;
  }

  // Prepares a transaction of two inserts whose header carries the
  // distributed identifier `id`; the TSS, now waiting for its outcome.
  int32_t Prepare(const std::string& id, const std::string& k1, const std::string& k2,
                  int32_t kind = 0, Sets* sets = nullptr) {
    Began t = Begin();
    EXPECT_EQ(t.rc, 0);
    const Sets s = NewSets();
    std::vector<int32_t> h = Header(kind, {{db_, 3}});
    h[WSH_IDENTIFIER_LENGTH] = static_cast<int32_t>(id.size());
    std::vector<int32_t> bytes((id.size() + 3) / 4, 0);
    std::memcpy(bytes.data(), id.data(), id.size());
    h.insert(h.end(), bytes.begin(), bytes.end());
    AppendTo(s.write, h);
    AppendTo(s.write, Row(1, k1));
    AppendTo(s.write, Row(1, k2));
    int32_t left = 0;
    EXPECT_EQ(End(t.tss, s, kEndPrepare, &left), 0);
    EXPECT_EQ(left, t.tss);
    EXPECT_EQ(area_[t.tss + TSS_STATE], TSS_WAIT_COMMIT);
    if (sets) *sets = s;
    starts_.push_back(t.start);
    return t.tss;
  }

  // The power fails: files closed unwritten and what they held unsynced
  // lost, the kernel started afresh,
  // then the TRANS databank and the tables' databank opened again.
  void Restart(bool open_tables = true) {
    Crash();
    Reopen(open_tables);
  }
  void Crash() {
    StopBackground();
    for (int32_t e : open_)
      if (area_[e + DBE_DID] != 0) ReleaseDatabank(e, false);
    open_.clear();
    // Whatever was not synced is lost with the power.
    fault_.DropUnsyncedData();
    reused_ = {};
    int32_t rc = 0;
    DKShutdown(&rc);
    ASSERT_EQ(enqdeq_init(enq_, kThreads, nullptr, nullptr, 0), 0);
    ASSERT_EQ(enqdeq_attach(enq_, 1), 0);
    params_.counts[0] = 0;
    ASSERT_EQ(params_.Start(), 0);
    area_ = Bufferpool();
    log_.records.clear();
  }
  void Reopen(bool open_tables = true) {
    ASSERT_EQ(OpenDb("trans", 2, 2), 0);
    if (!open_tables) return;
    ASSERT_EQ(OpenDb("tables", 5, 9), 0);
    db_ = open_.back();
    const int32_t found = DKHMI0(area_[BP_TABLE_HASH], 77);
    table_.entry = found > 0 && area_[found + TBE_TBL] == 77 ? found : OpenTable();
  }
  int32_t OpenDb(const std::string& name, int32_t did, int32_t type) {
    std::vector<int32_t> rq(CRD_WORDS, 0);
    rq[CRD_MODE] = 3;
    rq[CRD_DID] = did;
    rq[CRD_SEQNO] = -1;
    rq[CRD_TYPE] = type;
    FillNames(rq.data(), name);
    DKCallEntry(44, rq.data(), nullptr);
    if (rq[CRD_MODE] == 0) open_.push_back(rq[CRD_UNITS]);
    return rq[CRD_MODE];
  }
  int32_t OpenTable() {
    int32_t open[CRT_WORDS] = {3, 0, 5, -1, 0, 77, 4, 8};
    DKOPT1(open);
    EXPECT_EQ(open[RQ_STATUS], 0);
    open[RQ_STATUS] = 0;
    const int32_t t = open[RQ_TABLE];
    DKCLT1(open);
    return t;
  }

  struct Listed {
    int32_t status = 0, start = 0, tss = 0;
    std::string id;
    std::vector<std::pair<int32_t, int32_t>> tables;
  };
  // One call of code 57; `first` starts the list.
  Listed List(bool first) {
    int32_t b[EPT_WORDS] = {};
    std::copy(std::begin(walk_), std::end(walk_), b);
    b[EPT_STATUS] = first ? 1 : 0;
    char area[kMaxIdentifierBytes] = {};
    DKEXE2(57, b, area);
    std::copy(b, b + EPT_WORDS, walk_);
    Listed l{b[EPT_STATUS], b[EPT_START], b[EPT_TSS], {}, {}};
    if (l.status != 0) return l;
    l.id.assign(area, static_cast<size_t>(b[EPT_IDENTIFIER_LENGTH]));
    for (int32_t at = b[EPT_TABLES]; at != 0;) {
      const int32_t* w = &storage_[at];
      for (int32_t k = 0; k < w[TBLK_COUNT]; ++k)
        l.tables.emplace_back(w[TBLK_FIRST + 2 * k], w[TBLK_FIRST + 2 * k + 1]);
      at = w[TBLK_NEXT];
    }
    return l;
  }
  // The start numbers of every transaction in doubt, in listing order.
  std::vector<int32_t> ListedStarts() {
    std::vector<int32_t> starts;
    for (Listed l = List(true); l.status == 0; l = List(false)) starts.push_back(l.start);
    return starts;
  }

  // The in-doubt transaction's own view of a key through the cache.
  int32_t OwnFetch(int32_t tss, const std::string& key, std::string* row) {
    std::vector<int32_t> b(static_cast<size_t>(TcRequestWords(8) + 2), 0);
    b[TC_TSS] = tss;
    b[TC_MODE] = 2;
    b[TC_TABLE] = table_.entry;
    b[TC_TBL] = 77;
    b[TC_KEY_LENGTH] = 4;
    b[TC_RECORD_LENGTH] = 8;
    b[TC_SEQUENCE] = 2;
    const std::string probe = MakeRecord(key, 4, 8);
    std::memcpy(b.data() + TC_ROW, probe.data(), probe.size());
    DKEXE1(28, b.data());
    row->assign(reinterpret_cast<const char*>(b.data() + TC_ROW), 8);
    return b[TC_MODE];
  }

  // The records set 167 holds.
  int32_t PreparedSetRecords() {
    int32_t open[CRT_WORDS] = {3, 0, 2, kKindSet, 0, kPreparedSetTbl};
    DKOPT1(open);
    EXPECT_EQ(open[RQ_STATUS], 0);
    std::vector<int32_t> b(SETRQ_RECORD + SetMaxRecordWords(kCommitSetPageSize), 0);
    b[SETRQ_TABLE] = open[RQ_TABLE];
    b[SETRQ_TBL] = kPreparedSetTbl;
    b[SETRQ_RC] = 2;
    int32_t n = 0;
    while (DKGXN0(b) == 0) {
      ++n;
      b[SETRQ_RC] = 0;
    }
    open[RQ_STATUS] = 0;
    DKCLT1(open);
    return n;
  }

  bool Logged(const std::string& text) {
    for (const auto& r : log_.records)
      for (const std::string& line : r.lines)
        if (line.find(text) != std::string::npos) return true;
    return false;
  }

  // Waits until everything committed so far is applied: a synchronous
  // commit of its own, applied after them.
  void Settle(const std::string& key) {
    ASSERT_EQ(CommitChanges({Row(1, key), Row(1, key + "z")}, 129), 0);
  }

  TestWordStorage storage_{4096};
  Table table_;
  std::vector<int32_t> starts_;
  int32_t walk_[EPT_WORDS] = {};
};

// The main road, once with a commit and once with a roll back as the
// outcome decided after the restart.
TEST_F(PreparedTest, PreparedTransactionSurvivesARestartAndIsDecided) {
  const struct {
    const char* what;
    int32_t outcome;
    const char* key;
  } cases[] = {{"committed", kEndCommit, "k1"}, {"rolled back", kEndAbort, "m1"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const int32_t rows_before = static_cast<int32_t>(Rows(table_).size());
    Prepare("gtrid-0001/bq", c.key, std::string(c.key) + "x");
    Restart();
    EXPECT_TRUE(Logged("There are pending distributed transactions, count = 1"));
    Listed l = List(true);
    ASSERT_EQ(l.status, 0);
    EXPECT_EQ(l.start, starts_.back());
    EXPECT_EQ(l.id, "gtrid-0001/bq");
    EXPECT_EQ(l.tables, (std::vector<std::pair<int32_t, int32_t>>{{5, 77}}));
    ASSERT_TRUE(DKIsTssEntry(l.tss));
    EXPECT_EQ(area_[l.tss + TSS_STATE], TSS_IN_DOUBT);
    EXPECT_EQ(area_[BP_USERS_IN_COMMIT], 1);
    EXPECT_EQ(List(false).status, 1);
    // Its changes are back in the cache: it reads its own insert, which
    // the table does not hold.
    std::string row;
    EXPECT_EQ(OwnFetch(l.tss, c.key, &row), 0);
    EXPECT_EQ(row, MakeRecord(c.key, 4, 8, 'r'));
    EXPECT_EQ(static_cast<int32_t>(Rows(table_).size()), rows_before);
    StartBackground(1);
    int32_t left = -1;
    EXPECT_EQ(End(l.tss, NewSets(), c.outcome, &left), 0);
    EXPECT_EQ(left, c.outcome == kEndAbort ? 0 : l.tss);
    Settle(c.outcome == kEndAbort ? "s2" : "s1");
    const std::vector<std::string> rows = Rows(table_);
    const bool present = std::count(rows.begin(), rows.end(), MakeRecord(c.key, 4, 8, 'r')) == 1;
    EXPECT_EQ(present, c.outcome == kEndCommit);
    EXPECT_EQ(area_[BP_USERS_IN_COMMIT], 0);
    // Decided: the next restart finds nothing in doubt, and set 167 was
    // emptied with the last undecided group.
    Restart();
    EXPECT_FALSE(Logged("pending distributed"));
    EXPECT_EQ(List(true).status, 1);
    EXPECT_EQ(Rows(table_), rows);
    EXPECT_EQ(PreparedSetRecords(), 0);
  }
}

// Several in doubt: listed by ascending start number; deciding one leaves
// the others listed and owed.
// A TRANS databank that never kept a prepared transaction has no set 167:
// its open finds nothing in doubt and reports nothing, a listing finds
// nothing and a decision mark finds nothing to mark. (A prepared
// transaction's set is read at the open: the tests above.)
TEST_F(PreparedTest, WithoutSet167TheOpenAndAMarkAreQuiet) {
  Restart(false);
  EXPECT_FALSE(Logged("table root entry not found"));
  EXPECT_FALSE(Logged("pending distributed"));
  EXPECT_EQ(List(true).status, 1);
  const size_t logged = log_.records.size();
  EXPECT_EQ(DKMarkPreparedDecided(1, 1), 0);
  EXPECT_EQ(log_.records.size(), logged);
}

TEST_F(PreparedTest, SeveralInDoubtAreListedInStartOrderAndDecidedOneByOne) {
  Prepare("first", "a1", "a2");
  Prepare("second", "b1", "b2");
  Prepare("third", "c1", "c2");
  Restart();
  EXPECT_TRUE(Logged("There are pending distributed transactions, count = 3"));
  EXPECT_EQ(ListedStarts(), starts_);
  StartBackground(1);
  Listed second = List(true);
  second = List(false);
  ASSERT_EQ(second.id, "second");
  EXPECT_EQ(End(second.tss, NewSets(), kEndAbort), 0);
  EXPECT_EQ(ListedStarts(), (std::vector<int32_t>{starts_[0], starts_[2]}));
  Restart();
  EXPECT_EQ(ListedStarts(), (std::vector<int32_t>{starts_[0], starts_[2]}));
  StartBackground(1);
  Listed first = List(true);
  ASSERT_EQ(first.id, "first");
  EXPECT_EQ(End(first.tss, NewSets(), kEndCommit), 0);
  Settle("s1");
  EXPECT_EQ(ListedStarts(), (std::vector<int32_t>{starts_[2]}));
  EXPECT_GT(PreparedSetRecords(), 0);
  const std::vector<std::string> rows = Rows(table_);
  EXPECT_EQ(std::count(rows.begin(), rows.end(), MakeRecord("a1", 4, 8, 'r')), 1);
  EXPECT_EQ(std::count(rows.begin(), rows.end(), MakeRecord("b1", 4, 8, 'r')), 0);
}

// What the state of a prepared transaction does not allow, and failures
// that leave it in doubt rather than lose it.
TEST_F(PreparedTest, RefusalsLeaveTheTransactionInDoubt) {
  Prepare("refused", "k1", "k2");
  Restart();
  StartBackground(1);
  const int32_t tss = List(true).tss;
  // Prepared already: not prepared again.
  EXPECT_EQ(End(tss, NewSets(), kEndPrepare), -85);
  // The identifier needs a data area.
  int32_t b[EPT_WORDS] = {1};
  DKEXE2(57, b, nullptr);
  EXPECT_EQ(b[EPT_STATUS], -43);
  // No word storage for the tables' blocks.
  TestWordStorage::Uninstall();
  int32_t c[EPT_WORDS] = {1};
  char area[kMaxIdentifierBytes];
  DKEXE2(57, c, area);
  EXPECT_EQ(c[EPT_STATUS], -14);
  EXPECT_TRUE(Logged("Table control area exhausted, limit = "));
  storage_.Install();
  // A commit the commit set does not take: still in doubt, listed, and
  // committed later; the number it took is passed over.
  const int32_t table = area_[BP_COMMIT_SET_TBL];
  StoreWord(BP_COMMIT_SET_TBL, 0);
  int32_t left = -1;
  EXPECT_EQ(End(tss, NewSets(), kEndCommit, &left), -46);
  StoreWord(BP_COMMIT_SET_TBL, table);
  EXPECT_EQ(left, tss);
  EXPECT_EQ(area_[tss + TSS_STATE], TSS_IN_DOUBT);
  EXPECT_EQ(area_[tss + TSS_COMMIT], 0);
  EXPECT_EQ(area_[BP_SECURED_TRANS_NUMBER], area_[BP_COMMITS]);
  EXPECT_EQ(ListedStarts(), starts_);
  EXPECT_EQ(End(tss, NewSets(), kEndCommit), 0);
  Settle("s1");
  const std::vector<std::string> rows = Rows(table_);
  EXPECT_EQ(std::count(rows.begin(), rows.end(), MakeRecord("k2", 4, 8, 'r')), 1);
  EXPECT_EQ(ListedStarts(), std::vector<int32_t>{});
}

// With a copy of the TRANS databank, a group lands on both, and a decision
// marks it on both, each at its own place.
TEST_F(PreparedTest, DecisionMarksTheGroupOnEveryCopyOfTrans) {
  CreateTrans("transcopy", 2);
  Sets s;
  const int32_t decided = Prepare("decided", "k1", "k2", 0, &s);
  const int32_t group = area_[decided + TSS_PREPARE];
  Prepare("undecided", "k3", "k4");
  EXPECT_EQ(End(decided, s, kEndAbort), 0);
  int32_t open[CRT_WORDS] = {3, 0, 2, kKindSet, 0, kPreparedSetTbl};
  DKOPT1(open);
  ASSERT_EQ(open[RQ_STATUS], 0);
  std::vector<int32_t> kinds;
  for (int32_t t = open[RQ_TABLE]; t > 0; t = area_[t + TBE_NEXT]) {
    std::vector<int32_t> b(SETRQ_RECORD + SetMaxRecordWords(kCommitSetPageSize), 0);
    b[SETRQ_TABLE] = t;
    b[SETRQ_TBL] = kPreparedSetTbl;
    b[SETRQ_RC] = 2;
    while (DKGXN0(b) == 0) {
      b[SETRQ_RC] = 0;
      if (b[SETRQ_RECORD] == kCodeHeader)
        kinds.push_back(b[SETRQ_RECORD + WSH_GROUP] == group ? -b[SETRQ_RECORD + WSH_KIND]
                                                             : b[SETRQ_RECORD + WSH_KIND]);
    }
  }
  open[RQ_STATUS] = 0;
  DKCLT1(open);
  // Per copy: the decided group (negated) and the undecided one.
  EXPECT_EQ(kinds,
            (std::vector<int32_t>{-kKindDecided, kKindPrepared, -kKindDecided, kKindPrepared}));
}

// The databank it changes is not open: its commit is refused (-45) and it
// stays in doubt; once the databank is open again it commits.
TEST_F(PreparedTest, CommitWhileItsDatabankIsClosedLeavesItInDoubt) {
  Prepare("later", "k1", "k2");
  Restart(false);
  const Listed l = List(true);
  ASSERT_EQ(l.status, 0);
  EXPECT_EQ(l.tables, (std::vector<std::pair<int32_t, int32_t>>{{5, 77}}));
  const int32_t work = MakeSet(2, -1), read = MakeSet(2, -1);
  int32_t b[ETR_WORDS] = {kEndCommit, work, read, l.tss, 0, 0, 0};
  DKEXE1(25, b);
  EXPECT_EQ(b[ETR_MODE], -45);
  EXPECT_EQ(b[ETR_TSS], l.tss);
  EXPECT_TRUE(Logged("Databank identifier invalid, DID = 5"));
  EXPECT_EQ(ListedStarts(), starts_);
  ASSERT_EQ(OpenDb("tables", 5, 9), 0);
  db_ = open_.back();
  table_.entry = OpenTable();
  StartBackground(1);
  EXPECT_EQ(End(l.tss, NewSets(), kEndCommit), 0);
  Settle("s1");
  EXPECT_EQ(Rows(table_).size(), 4u);
  EXPECT_EQ(ListedStarts(), std::vector<int32_t>{});
}

// A transaction begun before the TRANS databank opens may hold the start
// number of one in doubt: that one is not re-created (-85 is reported) and
// stays owed to the next open.
TEST_F(PreparedTest, StartNumberTakenBeforeTheOpenLeavesTheGroupOwed) {
  Prepare("owed", "k1", "k2");
  Crash();
  std::vector<Began> early;
  do {
    early.push_back(Begin(1));
    ASSERT_EQ(early.back().rc, 0);
  } while (early.back().start < starts_.back());
  Reopen();
  EXPECT_TRUE(Logged("Transaction state identifier invalid, TSS = "));
  EXPECT_FALSE(Logged("pending distributed"));
  EXPECT_EQ(ListedStarts(), std::vector<int32_t>{});
  for (const Began& t : early) EXPECT_EQ(End(t.tss, NewSets(), kEndAbort), 0);
  Restart();
  EXPECT_EQ(ListedStarts(), starts_);
}

// Threads prepare at once: each group lands whole in set 167, and after a
// restart every one is in doubt with its own identifier and rows.
TEST_F(PreparedTest, ConcurrentPreparesEachKeepTheirWholeGroup) {
  constexpr int kThreadsRunning = 4, kEach = 3;
  std::vector<Sets> sets;
  for (int i = 0; i < kThreadsRunning * kEach; ++i) sets.push_back(NewSets());
  std::vector<std::thread> running;
  std::atomic<int> failures{0};
  for (int i = 0; i < kThreadsRunning; ++i) {
    running.emplace_back([&, i] {
      enqdeq_attach(enq_, 2 + i);
      for (int k = 0; k < kEach; ++k) {
        const std::string name = "t" + std::to_string(i) + std::to_string(k);
        Began t = Begin();
        const Sets& s = sets[static_cast<size_t>(i * kEach + k)];
        std::vector<int32_t> h = Header(0, {{db_, 3}});
        h[WSH_IDENTIFIER_LENGTH] = static_cast<int32_t>(name.size());
        std::vector<int32_t> bytes(1, 0);
        std::memcpy(bytes.data(), name.data(), name.size());
        h.insert(h.end(), bytes.begin(), bytes.end());
        AppendTo(s.write, h);
        AppendTo(s.write, Row(1, name + "a"));
        AppendTo(s.write, Row(1, name + "b"));
        if (t.rc != 0 || End(t.tss, s, kEndPrepare) != 0) failures.fetch_add(1);
      }
    });
  }
  for (std::thread& t : running) t.join();
  ASSERT_EQ(failures.load(), 0);
  Restart();
  EXPECT_TRUE(Logged("There are pending distributed transactions, count = 12"));
  std::set<std::string> ids;
  StartBackground(1);
  for (Listed l = List(true); l.status == 0; l = List(false)) {
    ids.insert(l.id);
    std::string row;
    EXPECT_EQ(OwnFetch(l.tss, l.id + "a", &row), 0) << l.id;
    EXPECT_EQ(OwnFetch(l.tss, l.id + "b", &row), 0) << l.id;
    EXPECT_EQ(End(l.tss, NewSets(), kEndCommit), 0) << l.id;
  }
  EXPECT_EQ(ids.size(), static_cast<size_t>(kThreadsRunning * kEach));
  Settle("s1");
  EXPECT_EQ(Rows(table_).size(), static_cast<size_t>(2 * kThreadsRunning * kEach + 2));
}

// A group whose append was cut short (no header closes it) is not a
// prepared transaction; the complete ones around it are.
TEST_F(PreparedTest, GroupWithoutItsHeaderIsPassedOver) {
  Prepare("before", "k1", "k2");
  int32_t open[CRT_WORDS] = {3, 0, 2, kKindSet, 0, kPreparedSetTbl};
  DKOPT1(open);
  ASSERT_EQ(open[RQ_STATUS], 0);
  std::vector<int32_t> b(SETRQ_RECORD + 64, 0);
  std::vector<int32_t> r = Row(1, "zz");
  r[1] = 99999;
  b[SETRQ_RC] = -2;
  b[SETRQ_TABLE] = open[RQ_TABLE];
  b[SETRQ_TBL] = kPreparedSetTbl;
  b[SETRQ_LENGTH] = static_cast<int32_t>(r.size());
  std::copy(r.begin(), r.end(), b.begin() + SETRQ_RECORD);
  ASSERT_EQ(DKAXR0(b), 0);
  open[RQ_STATUS] = 0;
  DKCLT1(open);
  Prepare("after", "k3", "k4");
  Restart();
  EXPECT_TRUE(Logged("There are pending distributed transactions, count = 2"));
  EXPECT_EQ(ListedStarts(), starts_);
  std::string row;
  for (int32_t start : starts_) {
    const int32_t tss = DKHMI0(area_[BP_TSS_HASH], start);
    ASSERT_TRUE(DKIsTssEntry(tss));
    EXPECT_EQ(OwnFetch(tss, "zz", &row), 4);
  }
  // A later group never takes the number the cut-short records carry.
  EXPECT_GE(area_[BP_LAST_PREPARE], 99999);
}

// Records of set 167 whose group number no prepare gives (a damaged file):
// passed over, and the last prepare number stays one a later prepare can
// follow.
TEST_F(PreparedTest, GroupNumbersOutOfRangeArePassedOver) {
  Prepare("before", "k1", "k2");
  int32_t open[CRT_WORDS] = {3, 0, 2, kKindSet, 0, kPreparedSetTbl};
  DKOPT1(open);
  ASSERT_EQ(open[RQ_STATUS], 0);
  for (int32_t group : {INT32_MAX, 0, -5}) {
    std::vector<int32_t> b(SETRQ_RECORD + 64, 0);
    std::vector<int32_t> r = Row(1, "zz");
    r[1] = group;
    b[SETRQ_RC] = -2;
    b[SETRQ_TABLE] = open[RQ_TABLE];
    b[SETRQ_TBL] = kPreparedSetTbl;
    b[SETRQ_LENGTH] = static_cast<int32_t>(r.size());
    std::copy(r.begin(), r.end(), b.begin() + SETRQ_RECORD);
    ASSERT_EQ(DKAXR0(b), 0);
  }
  open[RQ_STATUS] = 0;
  DKCLT1(open);
  Restart();
  EXPECT_TRUE(Logged("There are pending distributed transactions, count = 1"));
  EXPECT_EQ(ListedStarts(), starts_);
  EXPECT_GT(area_[BP_LAST_PREPARE], 0);
  EXPECT_LT(area_[BP_LAST_PREPARE], 1000);
  const int32_t last = area_[BP_LAST_PREPARE];
  const int32_t after = Prepare("after", "k3", "k4");
  EXPECT_EQ(area_[after + TSS_STATE], TSS_WAIT_COMMIT);
  EXPECT_EQ(area_[after + TSS_PREPARE], last + 1);
}

// While the server runs, a prepared transaction waits in state 15 with its
// prepare number and no commit number; its end decides.
TEST_F(PreparedTest, CommitOfAWaitingTransactionIsApplied) {
  StartBackground(2);
  Sets s;
  const int32_t tss = Prepare("live", "k1", "k2", 129, &s);
  EXPECT_EQ(area_[BP_USERS_IN_COMMIT], 1);
  EXPECT_EQ(area_[BP_COMMITS], 0);
  // Prepared but undecided: nothing is applied, and another synchronous
  // committer is not kept waiting for the outcome.
  EXPECT_EQ(area_[BP_LOCK_SYNCH_TRANS + ENQDEQ_COUNT], 1);
  EXPECT_EQ(Rows(table_), std::vector<std::string>{});
  EXPECT_EQ(End(tss, s, kEndPrepare), -85);
  EXPECT_EQ(End(tss, s, kEndCommit), 0);
  EXPECT_EQ(Rows(table_),
            (std::vector<std::string>{MakeRecord("k1", 4, 8, 'r'), MakeRecord("k2", 4, 8, 'r')}));
  EXPECT_EQ(area_[BP_COMMITS], 1);
  EXPECT_EQ(area_[BP_USERS_IN_COMMIT], 0);
  EXPECT_EQ(area_[BP_LOCK_SYNCH_TRANS + ENQDEQ_COUNT], 1);
  EXPECT_EQ(area_[BP_AWAITED_TRANSACTION], 0);
  // Decided while running: a restart finds nothing in doubt.
  Restart();
  EXPECT_EQ(List(true).status, 1);
}

TEST_F(PreparedTest, AbortOfAWaitingTransactionLeavesTheTable) {
  StartBackground(1);
  const int32_t in_use = TssInUse();
  Sets s;
  const int32_t tss = Prepare("live", "k1", "k2", 0, &s);
  int32_t left = -1;
  EXPECT_EQ(End(tss, s, kEndAbort, &left), 0);
  EXPECT_EQ(left, 0);
  EXPECT_EQ(TssInUse(), in_use);
  EXPECT_EQ(area_[BP_USERS_IN_COMMIT], 0);
  EXPECT_EQ(area_[BP_TRANSACTION_ABORTS], 1);
  Settle("s1");
  const std::vector<std::string> rows = Rows(table_);
  EXPECT_EQ(std::count(rows.begin(), rows.end(), MakeRecord("k1", 4, 8, 'r')), 0);
  Restart();
  EXPECT_EQ(List(true).status, 1);
}

// A commit of a waiting transaction that the commit set does not take is
// not done: the transaction waits on and can be decided again.
TEST_F(PreparedTest, CommitThatTheCommitSetRefusesLeavesItWaiting) {
  StartBackground(1);
  Sets s;
  const int32_t tss = Prepare("live", "k1", "k2", 129, &s);
  StoreWord(BP_COMMIT_SET_TBL, 0);
  int32_t left = -1;
  EXPECT_EQ(End(tss, s, kEndCommit, &left), -46);
  StoreWord(BP_COMMIT_SET_TBL, commit_set_);
  EXPECT_EQ(left, tss);
  EXPECT_EQ(area_[tss + TSS_STATE], TSS_WAIT_COMMIT);
  EXPECT_EQ(area_[BP_USERS_IN_COMMIT], 1);
  EXPECT_EQ(area_[BP_LOCK_SYNCH_TRANS + ENQDEQ_COUNT], 1);
  EXPECT_EQ(Rows(table_), std::vector<std::string>{});
  EXPECT_EQ(End(tss, s, kEndCommit), 0);
  EXPECT_EQ(Rows(table_).size(), 2u);
  EXPECT_EQ(area_[BP_USERS_IN_COMMIT], 0);
}

// A prepared transaction has one outcome: while one end commits it, a
// second end (a commit or an abort, from another session of the
// distributed transaction) is refused, and the write set is applied once.
// The listing passes over a transaction being decided.
TEST_F(PreparedTest, ASecondEndWhileOneDecidesIsRefused) {
  const struct {
    const char* what;
    bool in_doubt;
    int32_t second;
  } cases[] = {{"waiting, a second commit", false, kEndCommit},
               {"waiting, an abort", false, kEndAbort},
               {"in doubt, a second commit", true, kEndCommit}};
  int n = 0;
  // Background threads start once a run (the restart of the last case
  // starts a run of its own).
  StartBackground(1);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string key = "d" + std::to_string(n++);
    Sets s;
    int32_t tss = 0;
    if (c.in_doubt) {
      Prepare("gtrid-" + key, key, key + "x");
      Restart();
      Listed l = List(true);
      ASSERT_EQ(l.status, 0);
      tss = l.tss;
      s = NewSets();
      StartBackground(1);
    } else {
      tss = Prepare("gtrid-" + key, key, key + "x", 0, &s);
    }
    holding = 0;
    let_go = false;
    DKInstallTestHook(HoldAtCommitNumber);
    std::atomic<int32_t> first{1};
    std::thread decider([&, n] {
      enqdeq_attach(enq_, 1 + n);  // an index of its own for each thread
      hold_here = true;
      first = End(tss, s, kEndCommit);
    });
    holding.wait(0);
    EXPECT_EQ(End(tss, s, c.second), -85);
    // Nor is it listed while it is decided: the places of its group are
    // being replaced by those of its commit.
    if (c.in_doubt) {
      EXPECT_EQ(List(true).status, 1);
    }
    let_go = true;
    let_go.notify_all();
    decider.join();
    DKInstallTestHook(nullptr);
    EXPECT_EQ(first, 0);
    Settle("s" + key);
    const std::vector<std::string> rows = Rows(table_);
    EXPECT_EQ(std::count(rows.begin(), rows.end(), MakeRecord(key, 4, 8, 'r')), 1);
    EXPECT_EQ(area_[BP_USERS_IN_COMMIT], 0);
  }
}

// The commit that decides a prepared transaction reaches the commit set on
// disk before the end marks its kept group decided. A power cut at every
// step of the decision, once for a transaction in doubt and once for one
// waiting in the same run: after the restart the transaction is either in
// doubt with none of its rows in the table, or decided with them there,
// never both (a second commit would apply it twice); one still in doubt
// commits once.
TEST_F(PreparedTest, PowerCutDuringACommitDecisionNeverLeavesItAppliedAndInDoubt) {
  for (const bool in_doubt : {true, false}) {
    SCOPED_TRACE(in_doubt ? "in doubt" : "waiting");
    bool cut = true;
    for (int n = 0; cut; ++n) {
      SCOPED_TRACE("power cut after " + std::to_string(n) + " changes");
      const std::string key = (in_doubt ? "i" : "w") + std::to_string(n);
      Sets s;
      int32_t tss = Prepare("gtrid-" + key, key, key + "x", 0, &s);
      if (in_doubt) {
        Restart();
        const Listed l = List(true);
        ASSERT_EQ(l.status, 0);
        tss = l.tss;
        s = NewSets();
      }
      // No background thread: the commit stays in the commit set, for the
      // restart to replay.
      const int before = fault_.changes();
      fault_.CutPowerAfter(n);
      End(tss, s, kEndCommit);
      cut = fault_.changes() - before > n;
      Restart();
      const std::vector<std::string> rows = Rows(table_);
      const auto present = std::count(rows.begin(), rows.end(), MakeRecord(key, 4, 8, 'r'));
      const std::vector<int32_t> listed = ListedStarts();
      ASSERT_LE(listed.size(), 1u);
      EXPECT_EQ(present, listed.empty() ? 1 : 0);
      if (!listed.empty()) {
        StartBackground(1);
        EXPECT_EQ(End(List(true).tss, NewSets(), kEndCommit), 0);
        Settle("s" + key);
        const std::vector<std::string> after = Rows(table_);
        EXPECT_EQ(std::count(after.begin(), after.end(), MakeRecord(key, 4, 8, 'r')), 1);
      }
      Restart();
      EXPECT_EQ(ListedStarts(), std::vector<int32_t>{});
    }
  }
}

// The decider held after its commit is on disk, before its own mark: the
// background applies and secures the commit meanwhile, and then the power
// fails before the end's mark reaches the disk. The applying marked the
// group, so the restart neither replays the commit nor finds it in doubt.
TEST_F(PreparedTest, CommitAppliedBeforeItsEndMarksTheGroupIsDecidedAtTheRestart) {
  for (const bool in_doubt : {true, false}) {
    SCOPED_TRACE(in_doubt ? "in doubt" : "waiting");
    const std::string key = in_doubt ? "i1" : "w1";
    Sets s;
    int32_t tss = Prepare("gtrid-" + key, key, key + "x", 0, &s);
    if (in_doubt) {
      Restart();
      tss = List(true).tss;
      s = NewSets();
    }
    StartBackground(1);
    holding = 0;
    let_go = false;
    DKInstallTestHook(HoldAtDecision);
    std::atomic<int32_t> result{1};
    std::thread decider([&] {
      enqdeq_attach(enq_, 3);
      hold_here = true;
      result = End(tss, s, kEndCommit);
    });
    holding.wait(0);
    // The wake the held end would give once it has marked the group.
    DKBTW0(24);
    Settle("s" + key);
    fault_.CutPowerAfter(0);
    let_go = true;
    let_go.notify_all();
    decider.join();
    DKInstallTestHook(nullptr);
    EXPECT_EQ(result, 0);
    Restart();
    EXPECT_EQ(ListedStarts(), std::vector<int32_t>{});
    const std::vector<std::string> rows = Rows(table_);
    EXPECT_EQ(std::count(rows.begin(), rows.end(), MakeRecord(key, 4, 8, 'r')), 1);
  }
}

// Refused while undecided: the decision is given back, and a later end
// decides.
TEST_F(PreparedTest, AnEndThatLeavesItWaitingLetsTheNextDecide) {
  StartBackground(1);
  Sets s;
  const int32_t tss = Prepare("live", "k1", "k2", 0, &s);
  StoreWord(BP_COMMIT_SET_TBL, 0);
  EXPECT_EQ(End(tss, s, kEndCommit), -46);
  StoreWord(BP_COMMIT_SET_TBL, commit_set_);
  EXPECT_EQ(area_[tss + TSS_PARALLEL], 0);
  EXPECT_EQ(End(tss, s, kEndAbort), 0);
  EXPECT_EQ(area_[BP_USERS_IN_COMMIT], 0);
}

}  // namespace
