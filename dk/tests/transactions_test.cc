// Transactions end to end inside the databank kernel: begin, the write set
// and its header, the commit into the commit set, background threads that
// apply it, aborts, lost validations, a commit the commit set does not take,
// and the order in which the master takes committed transactions.
#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <mutex>
#include <set>

#include "dk/tests/transaction_fixture.h"

namespace {

TEST_F(TransactionTest, BeginNumbersStartsUntilEveryEntryIsTaken) {
  std::vector<int32_t> starts;
  for (;;) {
    Began t = Begin();
    if (t.rc != 0) {
      EXPECT_EQ(t.rc, -84);
      EXPECT_EQ(t.tss, 0);
      break;
    }
    starts.push_back(t.start);
  }
  ASSERT_EQ(static_cast<int32_t>(starts.size()), area_[BP_TSS_COUNT]);
  for (size_t i = 1; i < starts.size(); ++i) EXPECT_EQ(starts[i], starts[i - 1] + 1);
  EXPECT_EQ(area_[BP_TRANSACTIONS_STARTED], starts.back());
}

TEST_F(TransactionTest, BeginRefusesAnOwnerThatIsNoTransaction) {
  Began t = Begin(0, area_[BP_TSS_FIRST] + 1);
  EXPECT_EQ(t.rc, -85);
  Began owner = Begin();
  Began dependent = Begin(0, owner.tss);
  EXPECT_EQ(dependent.rc, 0);
  EXPECT_EQ(dependent.start, owner.start);
  EXPECT_EQ(area_[dependent.tss + TSS_DEPENDENT], -1);
  EXPECT_EQ(area_[owner.tss + TSS_DEPENDENT], dependent.tss);
}

TEST_F(TransactionTest, HeaderOnlyWriteSetCommitsAsReadCommit) {
  const int32_t in_use = TssInUse();
  Began t = Begin();
  Sets s = NewSets();
  AppendTo(s.write, Header(0, {}));
  int32_t tss_after = -1;
  EXPECT_EQ(End(t.tss, s, kEndCommit, &tss_after), 0);
  EXPECT_EQ(tss_after, 0);
  EXPECT_EQ(area_[BP_READ_COMMITS], 1);
  EXPECT_EQ(area_[BP_COMMITS], 0);
  EXPECT_EQ(area_[BP_TRANSACTIONS_BEFORE_GROUP], 0);
  EXPECT_EQ(TssInUse(), in_use);
}

TEST_F(TransactionTest, EndRefusesWhatIsNoTransactionOrNoWorkTable) {
  Began t = Begin();
  Sets s = NewSets();
  Table table = CreateTable(77, 4, 8);
  struct Case {
    int32_t write, read, tss, rc;
  } cases[] = {
      {table.entry, s.read, t.tss, -46},
      {s.write, 0, t.tss, -46},
      {s.write, s.read, t.tss + 1, -85},
      {s.write, s.read, 0, -85},
  };
  for (const Case& c : cases) {
    int32_t b[ETR_WORDS] = {0, c.write, c.read, c.tss, 0, 0, 0};
    DKEXE1(25, b);
    EXPECT_EQ(b[ETR_MODE], c.rc);
  }
}

TEST_F(TransactionTest, WriteSetWithoutHeaderIsCorrupt) {
  Began t = Begin();
  Sets s = NewSets();
  Table table = CreateTable(77, 4, 8);
  AppendTo(s.write, Change(1, table, MakeRecord("k1", 4, 8)));
  EXPECT_EQ(End(t.tss, s), -66);
  EXPECT_EQ(TssInUse(), 0);
}

TEST_F(TransactionTest, CommittedInsertsAreAppliedByTheBackground) {
  StartBackground(2);
  Table table = CreateTable(77, 4, 8);
  const std::string r1 = MakeRecord("k1", 4, 8, 'a'), r2 = MakeRecord("k2", 4, 8, 'b');
  ASSERT_EQ(CommitChanges({Change(1, table, r1), Change(1, table, r2)}), 0);
  EXPECT_EQ(Rows(table), (std::vector<std::string>{r1, r2}));
  EXPECT_EQ(area_[BP_COMMITS], 1);
  EXPECT_EQ(area_[BP_SECURED_TRANS_NUMBER], 1);
}

TEST_F(TransactionTest, AbortLeavesTheTableUnchanged) {
  StartBackground(2);
  Table table = CreateTable(77, 4, 8);
  const std::string kept = MakeRecord("k1", 4, 8, 'a');
  ASSERT_EQ(CommitChanges({Change(1, table, kept), Change(1, table, MakeRecord("k0", 4, 8))}), 0);
  Began t = Begin();
  Sets s = NewSets();
  AppendTo(s.write, Header(0, {{db_, 3}}));
  AppendTo(s.write, Change(1, table, MakeRecord("k2", 4, 8)));
  AppendTo(s.write, Change(4, table, kept));
  EXPECT_EQ(End(t.tss, s, kEndAbort), 0);
  // A later synchronous commit: everything committed before it is applied.
  ASSERT_EQ(CommitChanges({Change(1, table, MakeRecord("k3", 4, 8)),
                           Change(4, table, MakeRecord("k0", 4, 8))}),
            0);
  EXPECT_EQ(Rows(table), (std::vector<std::string>{kept, MakeRecord("k3", 4, 8)}));
  EXPECT_EQ(area_[BP_TRANSACTION_ABORTS], 1);
}

TEST_F(TransactionTest, CommitWithoutCommitSetIsNotDone) {
  StartBackground(1);
  Table table = CreateTable(77, 4, 8);
  area_[BP_COMMIT_SET_TBL] = 0;
  const int32_t in_use = TssInUse();
  EXPECT_EQ(
      CommitChanges(
          {Change(1, table, MakeRecord("k1", 4, 8)), Change(1, table, MakeRecord("k2", 4, 8))}, 0),
      -46);
  EXPECT_EQ(TssInUse(), in_use);
  area_[BP_COMMIT_SET_TBL] = commit_set_;
  ASSERT_EQ(CommitChanges({Change(1, table, MakeRecord("k3", 4, 8)),
                           Change(1, table, MakeRecord("k4", 4, 8))}),
            0);
  EXPECT_EQ(Rows(table),
            (std::vector<std::string>{MakeRecord("k3", 4, 8), MakeRecord("k4", 4, 8)}));
}

TEST_F(TransactionTest, CommitWhoseCommitSetWriteFailsIsNotDone) {
  StartBackground(1);
  Table table = CreateTable(77, 4, 8);
  ASSERT_EQ(CommitChanges({Change(1, table, MakeRecord("k0", 4, 8)),
                           Change(1, table, MakeRecord("k9", 4, 8))}),
            0);
  const int32_t in_use = TssInUse();
  Began t = Begin();
  Sets s = NewSets();
  AppendTo(s.write, Header(0, {{db_, 3}}));
  AppendTo(s.write, Change(1, table, MakeRecord("k1", 4, 8)));
  AppendTo(s.write, Change(1, table, MakeRecord("k2", 4, 8)));
  fault_.FailNthWrite(1, EIO);
  EXPECT_LT(End(t.tss, s), 0);
  EXPECT_EQ(TssInUse(), in_use);
  // Its commit number 2 is never applied: the secured number passes it.
  EXPECT_EQ(area_[BP_SECURED_TRANS_NUMBER], 2);
  EXPECT_EQ(Rows(table),
            (std::vector<std::string>{MakeRecord("k0", 4, 8), MakeRecord("k9", 4, 8)}));
}

// An end that first writes the pages of the transaction's large objects
// (block word 6) commits nothing when they cannot be written: the commit
// would name pages that are not on disk. Here the objects are in a databank
// of their own, which the write set does not list. The entry is given back
// as after a failed check; an abort still ends.
TEST_F(TransactionTest, EndWhoseLargeObjectPagesCannotBeWrittenCommitsNothing) {
  StartBackground(1);
  Table table = CreateTable(77, 4, 8);
  const int32_t objects = Create("objects", 400, 9);
  const int32_t in_use = TssInUse();
  for (int32_t mode : {kEndCommit, kEndPrepare, kEndAbort}) {
    SCOPED_TRACE(mode);
    Began t = Begin();
    Sets s = NewSets();
    AppendTo(s.write, Header(0, {{db_, 3}}));
    AppendTo(s.write, Change(1, table, MakeRecord("k1", 4, 8)));
    AppendTo(s.write, Change(1, table, MakeRecord("k2", 4, 8)));
    // A page of its large object, changed and marked with its start number
    // (a page of its own for each end: a failed write stays failed).
    int32_t rq[REQ_WORDS] = {objects, 300 + mode * 4, 2048, 0, -1, 0};
    const int32_t buffer = DKGET0(rq, GET_NEW);
    ASSERT_GT(buffer, 0);
    PageWords(buffer)[8] = 1234;
    DKMRK0(t.start, MRK_MARK, buffer);
    DKPUT0(PUT_CHANGED, buffer);
    fault_.FailNthWrite(1, EIO);
    int32_t b[ETR_WORDS] = {mode, s.write, s.read, t.tss, 0, 0, 1};
    DKEXE1(25, b);
    fault_.FailNthWrite(0, 0);
    if (mode == kEndAbort) {
      EXPECT_EQ(b[ETR_MODE], 0);
    } else {
      EXPECT_EQ(b[ETR_MODE], -44);
    }
    EXPECT_EQ(b[ETR_TSS], 0);
    EXPECT_EQ(TssInUse(), in_use);
  }
  EXPECT_EQ(area_[BP_COMMITS], 0);
  EXPECT_EQ(area_[BP_LAST_PREPARE], 0);
  EXPECT_TRUE(Rows(table).empty());
}

// A committer whose group is appended writes the commit set's pages for the
// groups numbered so far. A group is numbered when its append begins, so a
// group still being appended must not count as written: its committer would
// find it written and report a commit whose records never reached the disk.
TEST_F(TransactionTest, GroupStillBeingAppendedIsNotCountedAsWritten) {
  Table table = CreateTable(77, 4, 8);
  Began t = Begin();
  Sets s = NewSets();
  AppendTo(s.write, Header(0, {{db_, 3}}));
  AppendTo(s.write, Change(1, table, MakeRecord("k1", 4, 8)));
  AppendTo(s.write, Change(1, table, MakeRecord("k2", 4, 8)));
  const int32_t group = LoadWord(BP_COMMIT_SET_ORDER) + 1;
  std::atomic<int32_t> rc{1};
  std::atomic<bool> done{false};
  DKLock(BP_LOCK_GROUP_COMMIT);
  std::thread committer([&] {
    enqdeq_attach(enq_, 2);
    rc = End(t.tss, s);
    done = true;
  });
  // The committer has appended its group and waits to write it.
  while (PoolWord(BP_LOCK_GROUP_COMMIT + ENQDEQ_HEAD).load() == 0) std::this_thread::yield();
  // Another committer begins its append: it numbers its group and holds
  // the commit-set lock while its records go in.
  DKLock(BP_LOCK_COMMIT_SET);
  StoreWord(BP_COMMIT_SET_ORDER, group + 1);
  DKUnlock(BP_LOCK_GROUP_COMMIT);
  while (!done && PoolWord(BP_LOCK_COMMIT_SET + ENQDEQ_HEAD).load() == 0) std::this_thread::yield();
  EXPECT_LT(LoadWord(BP_COMMIT_SET_WRITTEN), group + 1);
  DKUnlock(BP_LOCK_COMMIT_SET);
  committer.join();
  EXPECT_EQ(rc, 0);
  EXPECT_GE(area_[BP_COMMIT_SET_WRITTEN], group);
}

TEST_F(TransactionTest, FirstRegisteredIsMasterTheSecondWaitsAsSlave) {
  StartBackground(2);
  const int32_t first = area_[BP_FIRST_SWA], second = first + SWA_WORDS;
  while (PoolWord(second + SWA_STATE).load() != SLOT_INACTIVE_SLAVE) std::this_thread::yield();
  while (PoolWord(first + SWA_STATE).load() != SLOT_INACTIVE) std::this_thread::yield();
  EXPECT_EQ(area_[BP_MASTER_SLOT], first);
  EXPECT_EQ(area_[BP_SLAVE_QUEUE], second);
}

TEST_F(TransactionTest, ShutdownReturnsOnceEveryBackgroundThreadLeft) {
  StartBackground(2);
  for (int32_t e : open_) Close(e);
  open_.clear();
  int32_t rc = 0;
  DKStopBackground(&rc);
  DKShutdown(&rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(Bufferpool(), nullptr);
  for (std::thread& t : threads_) t.join();
  threads_.clear();
}

// The master's choice: a transaction waiting for a checkpoint first, then
// the lowest commit number.
TEST_F(TransactionTest, MasterTakesCheckpointFirstThenLowestCommitNumber) {
  struct Made {
    int32_t commit, state, tss;
  } made[] = {{7, TSS_COMMITTED, 0}, {9, TSS_CHECKPOINT, 0}, {5, TSS_COMMITTED, 0}};
  for (Made& m : made) {
    Began t = Begin();
    m.tss = t.tss;
    area_[t.tss + TSS_COMMIT] = m.commit;
    area_[t.tss + TSS_STATE] = m.state;
  }
  std::vector<int32_t> order;
  for (int i = 0; i < 3; ++i) {
    const int32_t tss = DKScanTransactionStates();
    ASSERT_NE(tss, 0);
    order.push_back(area_[tss + TSS_COMMIT]);
    area_[tss + TSS_STATE] = TSS_AFTER_PROC;
  }
  EXPECT_EQ(order, (std::vector<int32_t>{9, 5, 7}));
  EXPECT_EQ(DKScanTransactionStates(), 0);
}

}  // namespace

namespace {

TEST_F(TransactionTest, WakesGoToAnInactiveSlotOrArePending) {
  const int32_t slot = area_[BP_FIRST_SWA];
  DKBTW0(24);
  EXPECT_EQ(area_[BP_PENDING_BACKGROUND], 1);
  area_[slot + SWA_STATE] = SLOT_INACTIVE;
  DKBTW0(24);
  EXPECT_EQ(area_[slot + SWA_STATE], SLOT_ACTIVE_SOON);
  EXPECT_EQ(area_[BP_PENDING_BACKGROUND], 1);
  // Deferred work stops at its limit (word 168) and is counted in 171.
  area_[170] = area_[BP_HALF_BACKGROUND];
  DKBTW0(25);
  EXPECT_EQ(area_[BP_PENDING_BACKGROUND], 1);
  EXPECT_EQ(area_[171], 1);
  area_[slot + SWA_STATE] = SLOT_UNUSED;
}

TEST_F(TransactionTest, InDoubtBeginRaisesTheLastStartNumber) {
  area_[BP_TRANSACTIONS_STARTED] = 200;
  int32_t b[ETR_WORDS] = {-1, 0, 0, 0, 500, 0, 0};
  DKEXE1(8, b);
  ASSERT_EQ(b[BTR_MODE], 0);
  EXPECT_EQ(area_[BP_TRANSACTIONS_STARTED], 501);
  EXPECT_EQ(area_[b[BTR_TSS] + TSS_STATE], TSS_IN_DOUBT);
  EXPECT_EQ(area_[b[BTR_TSS] + TSS_START], 500);
  Began next = Begin();
  EXPECT_EQ(next.start, 502);
}

TEST_F(TransactionTest, InDoubtBeginRefusesAStartNumberOutOfRange) {
  area_[BP_TRANSACTIONS_STARTED] = 200;
  const int32_t in_use = TssInUse();
  for (int32_t start : {0, -7, INT32_MIN, INT32_MAX}) {
    int32_t b[ETR_WORDS] = {-1, 0, 0, 0, start, 0, 0};
    DKEXE1(8, b);
    EXPECT_EQ(b[BTR_MODE], -43) << start;
    EXPECT_EQ(b[BTR_TSS], 0) << start;
  }
  EXPECT_EQ(TssInUse(), in_use);
  EXPECT_EQ(area_[BP_TRANSACTIONS_STARTED], 200);
  EXPECT_EQ(Begin().start, 201);
}

// What the check of the header refuses, each ending with the entry free.
TEST_F(TransactionTest, HeaderCheckRefusals) {
  Table table = CreateTable(77, 4, 8);
  struct Case {
    const char* what;
    int32_t kind, databank, records, error, rc;
  } cases[] = {
      {"commit kind with two records at most", 128, db_, 2, 0, -55},
      {"databank index outside the area", 0, 3, 3, 0, -45},
      {"no usable copy", 0, db_, 3, -44, -44},
  };
  for (const Case& c : cases) {
    const int32_t in_use = TssInUse();
    area_[db_ + DBE_ERROR] = c.error;
    Began t = Begin();
    Sets s = NewSets();
    AppendTo(s.write, Header(c.kind, {{c.databank, c.records}}));
    AppendTo(s.write, Change(1, table, MakeRecord("k1", 4, 8)));
    EXPECT_EQ(End(t.tss, s), c.rc) << c.what;
    EXPECT_EQ(TssInUse(), in_use) << c.what;
    area_[db_ + DBE_ERROR] = 0;
  }
  EXPECT_EQ(area_[BP_COMMITS], 0);
}

// A databank whose copies are all offline without an error passes the
// check for a write set that only changes copy states or carries utility
// records (its copy comes back online by it); any change of its pages, or a
// copy in error, is refused as before.
TEST_F(TransactionTest, AnOfflineDatabankTakesOnlyCopyStateRecords) {
  Table table = CreateTable(77, 4, 8);
  const std::vector<int32_t> online = {17, 0, area_[db_ + DBE_DID], 1, 0, 0};
  const std::vector<int32_t> offline = {16, 0, area_[db_ + DBE_DID], 1, 0, 0};
  const std::vector<int32_t> utility = {15, 0, 0, 0, 0, 0, 0, 0, 0};
  struct Case {
    const char* what;
    int32_t error;
    std::vector<std::vector<int32_t>> records;
    int32_t rc;
  } cases[] = {
      {"copy online", 0, {online}, 0},
      {"utility and copy online", 0, {utility, online}, 0},
      {"a change of a row", 0, {online, Change(1, table, MakeRecord("k1", 4, 8))}, -45},
      {"copy offline and a change of a row", 0,
       {Change(1, table, MakeRecord("k2", 4, 8)), offline}, -45},
      {"a copy in error", -44, {online}, -44},
  };
  for (const Case& c : cases) {
    Began t = Begin();
    Sets s = NewSets();  // work tables of the same databank
    AppendTo(s.write, Header(0, {{db_, 3}}));
    for (const auto& r : c.records) AppendTo(s.write, r);
    area_[db_ + DBE_ERROR2] = 1;  // offline
    area_[db_ + DBE_ERROR] = c.error;
    EXPECT_EQ(End(t.tss, s), c.rc) << c.what;
    area_[db_ + DBE_ERROR2] = 0;
    area_[db_ + DBE_ERROR] = 0;
  }
}

// A synchronous commit of a single change, its databank named written in the
// header as record access names it: applied, not refused as a commit kind
// without a written databank.
TEST_F(TransactionTest, ASynchronousCommitOfOneChangeIsApplied) {
  StartBackground(1);
  Table table = CreateTable(77, 4, 8);
  const std::string r = MakeRecord("k1", 4, 8);
  for (int32_t kind : {128, 129}) {
    ASSERT_EQ(CommitChanges({Change(kind == 128 ? 1 : 4, table, r)}, kind), 0) << kind;
    EXPECT_EQ(Rows(table), kind == 128 ? std::vector<std::string>{r} : std::vector<std::string>{})
        << kind;
  }
}

TEST_F(TransactionTest, KindOf128ReturnsOnceTheRecordsAreApplied) {
  StartBackground(1);
  Table table = CreateTable(77, 4, 8);
  const std::string r = MakeRecord("k1", 4, 8);
  ASSERT_EQ(CommitChanges({Change(1, table, r), Change(1, table, MakeRecord("k2", 4, 8))}, 128), 0);
  EXPECT_EQ(Rows(table).front(), r);
  EXPECT_EQ(area_[BP_AWAITED_TRANSACTION], 0);
}

TEST_F(TransactionTest, StopEndsAMasterThatWaits) {
  StartBackground(1);
  const int32_t slot = area_[BP_FIRST_SWA];
  while (PoolWord(slot + SWA_STATE).load() != SLOT_INACTIVE) std::this_thread::yield();
  int32_t rc = 0;
  DKStopBackground(&rc);
  threads_.front().join();
  threads_.clear();
  EXPECT_EQ(area_[slot + SWA_STATE], SLOT_UNUSED);
  EXPECT_EQ(area_[BP_STATUS], BP_STATUS_SHUTDOWN);
  EXPECT_EQ(area_[BP_LOCK_BACKGROUND_BARRIER], 1);
  PoolWord(BP_STATUS).store(BP_STATUS_UP);
}

}  // namespace

namespace {

// Records of listed objects leave a write set, with the end records of the
// transactions nothing else names; a bound record ends the scan.
TEST_F(TransactionTest, DeleteSetRecordsOfListedObjects) {
  Sets s = NewSets();
  auto record = [](int32_t code, int32_t number, int32_t object, int32_t fill = 0) {
    return std::vector<int32_t>{code, number, object, 0, 0, fill, fill, fill, fill};
  };
  const std::vector<std::vector<int32_t>> records = {
      record(2, 5, 100), record(21, 5, 0),  record(2, 6, 200), record(21, 6, 0),
      record(4, 7, 100), record(2, 7, 200), record(21, 7, 0),  record(15, 8, 100, -1),
      record(2, 8, 100), record(21, 8, 0)};
  for (const auto& r : records) AppendTo(s.write, r);
  std::vector<int32_t> request(SETRQ_RECORD + SetMaxRecordWords(kCommitSetPageSize), 0);
  request[SETRQ_TABLE] = s.write;
  request[SETRQ_TBL] = -1;
  std::memset(request.data() + 25, 0x10, 16);
  request[29] = 1;
  request[30] = 100;
  EXPECT_EQ(DKDeleteSetRecords(request), 3);
  std::vector<std::vector<int32_t>> left;
  std::vector<int32_t> b(request.size(), 0);
  b[SETRQ_TABLE] = s.write;
  b[SETRQ_TBL] = -1;
  b[SETRQ_RC] = 2;
  while (DKGXN0(b) == 0) {
    left.emplace_back(b.begin() + SETRQ_RECORD, b.begin() + SETRQ_RECORD + b[SETRQ_LENGTH]);
    b[SETRQ_RC] = 0;
  }
  const std::vector<std::vector<int32_t>> expected = {
      record(2, 6, 200),      record(21, 6, 0),  record(2, 7, 200), record(21, 7, 0),
      record(15, 8, 100, -1), record(2, 8, 100), record(21, 8, 0)};
  EXPECT_EQ(left, expected);
  request[29] = -1;
  EXPECT_EQ(DKDeleteSetRecords(request), -43);
  // An insert into a table of large objects takes its object along, found
  // through the directory table (TBL 240), which is not open here.
  std::vector<int32_t> insert(14, 0);
  insert[WS_CODE] = 1, insert[1] = 9, insert[2] = 300, insert[3] = 6;
  AppendTo(s.write, insert);
  request[29] = 1;
  request[30] = 300;
  EXPECT_EQ(DKDeleteSetRecords(request), -46);
}

}  // namespace

namespace {

// A dependent that ends first is given back once: its owner's end later
// gives back the owner alone.
TEST_F(TransactionTest, DependentEndedBeforeItsOwnerIsFreedOnce) {
  const int32_t in_use = TssInUse();
  Began owner = Begin();
  Began dependent = Begin(0, owner.tss);
  Sets s = NewSets();
  AppendTo(s.write, Header(0, {}));
  EXPECT_EQ(End(dependent.tss, s, kEndAbort), 0);
  EXPECT_EQ(area_[owner.tss + TSS_DEPENDENT], 0);
  EXPECT_EQ(TssInUse(), in_use + 1);
  Began other = Begin();
  EXPECT_EQ(End(owner.tss, s, kEndAbort), 0);
  EXPECT_EQ(TssInUse(), in_use + 1);
  EXPECT_EQ(area_[other.tss + TSS_START], other.start);
  EXPECT_EQ(End(other.tss, s, kEndAbort), 0);
  EXPECT_EQ(TssInUse(), in_use);
  EXPECT_EQ(area_[BP_TCACHE_USERS], 0);
}

}  // namespace

namespace {

// Records whose routines are not part of the kernel answer the invalid-code
// result, which a committer of kind 129 gets back; the records after them
// are applied all the same.
TEST_F(TransactionTest, RecordsWithoutTheirRoutineAnswerInvalidCode) {
  StartBackground(1);
  Table table = CreateTable(77, 4, 8);
  struct Case {
    int32_t fcode, rc;
  } cases[] = {{24, -46}, {19, 0}, {60, 0}};  // 24: DKALR1 naming no second table entry
  int32_t n = 0;
  for (const Case& c : cases) {
    const std::string r = MakeRecord("k" + std::to_string(n++), 4, 8);
    std::vector<int32_t> other = Change(1, table, r);
    other[WS_CODE] = c.fcode;
    // 19 with a key: no record of that key has code 31, nothing to rewrite.
    other[RQ_KEY_LENGTH] = 4;
    EXPECT_EQ(CommitChanges({other, Change(1, table, r)}), c.rc) << c.fcode;
  }
  EXPECT_EQ(Rows(table).size(), 3u);
}

}  // namespace

namespace {

// The commit set gives back what is secured: after many commits the mark,
// behind which the ring takes pages again, is on the last page.
TEST_F(TransactionTest, CommitSetMarkFollowsTheSecuredTransactions) {
  StartBackground(1);
  Table table = CreateTable(77, 4, 8);
  std::vector<int32_t> filler(1000, 7);
  filler[WS_CODE] = 3;  // a record applied as nothing
  for (int32_t i = 0; i < 60; ++i) {
    const std::string r = MakeRecord("k" + std::to_string(i), 4, 8);
    ASSERT_EQ(CommitChanges({filler, Change(1, table, r)}, i % 10 == 9 ? 129 : 0), 0);
  }
  // A last commit of kind 129 returns once the mark after its page write
  // is set.
  ASSERT_EQ(CommitChanges({filler, Change(1, table, MakeRecord("last", 4, 8))}, 129), 0);
  std::vector<int32_t> b(SETRQ_RECORD + SetMaxRecordWords(kCommitSetPageSize), 0);
  b[SETRQ_TABLE] = commit_set_;
  b[SETRQ_TBL] = 10;
  b[SETRQ_RC] = 2;
  std::set<int32_t> pages;
  int32_t last = 0;
  while (DKGXN0(b) == 0) {
    pages.insert(b[SETRQ_PAGE]);
    last = b[SETRQ_PAGE];
    b[SETRQ_RC] = 0;
  }
  EXPECT_GT(pages.size(), 3u);
  EXPECT_EQ(area_[BP_COMMIT_SET_LIMIT_DATA_PID], last);
  EXPECT_EQ(area_[BP_COMMIT_SET_SIZE], static_cast<int32_t>(pages.size()));
  EXPECT_EQ(Rows(table).size(), 61u);
  // Secured entries went back to the free list but the newest.
  EXPECT_LE(TssInUse(), 2);
}

}  // namespace
