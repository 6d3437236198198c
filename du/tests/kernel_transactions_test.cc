// Record access over the databank kernel itself rather than its model:
// transactions of one user change a table through the write set, commit
// through DKETR1, the background threads apply the records, and the rows
// are read back; a rollback leaves nothing; the later of two transactions
// that read and change one row loses at its commit.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "dk/control_area.h"
#include "du/tests/descriptions.h"
#include "du/tests/kernel_fixture.h"
#include "du/transactions.h"
#include "platform/enqdeq.h"

namespace {

constexpr int32_t kTname = 40, kKeyLen = 8, kRecLen = 40;

class KernelTransactionsTest : public KernelRecordAccessTest {
 protected:
  void SetUp() override {
    KernelRecordAccessTest::SetUp();
    if (HasFatalFailure()) return;
    CreateDescribedTable(kTname, Description(kLid, kKeyLen, kRecLen, 0, {}, {}));
    DSGetMem(base_, &work_, WRK_BYTES + 32768);
  }

  // The user's record block of the table, opened on first use. Each use is
  // a statement of its own: it gets the next cursor order number, under
  // which the kernel keeps its changes, and sees those of the ones before.
  std::vector<int32_t>& Rec(int32_t usr) {
    NextCursorOrder(usr);
    auto [it, made] = records_.try_emplace(usr);
    std::vector<int32_t>& r = it->second;
    if (made) {
      r = Record(kTname, 3, kKeyLen, kRecLen);
      EXPECT_EQ(Open(r, usr), 0);
      EXPECT_GT(r[DUREC_MERGE], 0);
    }
    return r;
  }

  int32_t BeginFor(int32_t usr) { return Begin(1, usr); }
  int32_t EndFor(int32_t usr, int32_t code) { return End(code, usr); }

  static std::string Key(int n) {
    char k[16];
    std::snprintf(k, sizeof k, "k%07d", n);
    return std::string(k, kKeyLen);
  }
  void Put(std::vector<int32_t>& r, int n, const std::string& value) {
    std::string row = Key(n) + value;
    row.resize(kRecLen, '.');
    std::memcpy(r.data() + DUREC_RECORD, row.data(), kRecLen);
  }
  static std::string Row(const std::vector<int32_t>& r) {
    return std::string(reinterpret_cast<const char*>(r.data() + DUREC_RECORD), kRecLen);
  }

  int32_t Insert(int32_t usr, int n, const std::string& value) {
    std::vector<int32_t>& r = Rec(usr);
    Put(r, n, value);
    DUInsertRow(base_, r.data(), usr);
    return r[DUREC_STATUS];
  }
  // Reads the row of key n (as the user's transaction sees it), locks it in
  // the read set when asked; 0 or 100.
  int32_t Read(int32_t usr, int n, bool lock = false) {
    std::vector<int32_t>& r = Rec(usr);
    Put(r, n, "");
    DUReadRowByKey(base_, r.data(), usr);
    if (r[DUREC_STATUS] == 0 && lock) {
      DULockRow(base_, r.data(), usr, work_);
      EXPECT_EQ(r[DUREC_STATUS], 0);
    }
    return r[DUREC_STATUS];
  }
  int32_t Update(int32_t usr, int n, const std::string& value, bool lock = false) {
    if (int32_t rc = Read(usr, n, lock)) return rc;
    std::vector<int32_t>& r = Rec(usr);
    DUPrepareForUpdate(base_, r.data(), usr);
    if (r[DUREC_STATUS] != 0) return r[DUREC_STATUS];
    Put(r, n, value);
    DURowOp1(base_, r.data(), usr);
    return r[DUREC_STATUS];
  }
  int32_t Delete(int32_t usr, int n) {
    if (int32_t rc = Read(usr, n)) return rc;
    std::vector<int32_t>& r = Rec(usr);
    DUDEL1(base_, r.data(), usr);
    return r[DUREC_STATUS];
  }
  // Every row the user sees, in key order.
  std::vector<std::string> Scan(int32_t usr) {
    std::vector<int32_t> s = Rec(usr);
    std::memset(s.data() + DUREC_RECORD, 0, kKeyLen);
    s[DUREC_FETCH_CODE] = 1;
    s[DUREC_STATUS] = 0;
    std::vector<std::string> rows;
    for (int n = 0; n < 10000; ++n) {
      DUFetchRow(base_, s.data(), usr, work_);
      if (s[DUREC_STATUS] != 0) {
        EXPECT_EQ(s[DUREC_STATUS], DU_NO_ROW);
        break;
      }
      rows.push_back(Row(s));
      s[DUREC_STATUS] = 0;
    }
    return rows;
  }
  std::vector<std::string> Rows(const std::map<int, std::string>& model) {
    std::vector<std::string> rows;
    for (const auto& [n, value] : model) {
      std::string row = Key(n) + value;
      row.resize(kRecLen, '.');
      rows.push_back(row);
    }
    return rows;
  }

  int32_t work_ = 0;
  std::map<int32_t, std::vector<int32_t>> records_;
};

// Inserts, updates and deletes merged with the table's rows inside the
// transaction, committed, applied by the background threads and seen by a
// later transaction; a rollback leaves nothing behind.
TEST_F(KernelTransactionsTest, CommittedChangesReachTheTable) {
  const int32_t usr = users_[0];
  std::map<int, std::string> model;
  ASSERT_EQ(BeginFor(usr), 0);
  for (int n = 0; n < 40; n += 2) {
    ASSERT_EQ(Insert(usr, n, "first"), 0);
    model[n] = "first";
  }
  ASSERT_EQ(EndFor(usr, END_CLIENT_COMMIT), 0);
  WaitSecured();

  ASSERT_EQ(BeginFor(usr), 0);
  EXPECT_EQ(Scan(usr), Rows(model));
  for (int n = 1; n < 40; n += 4) {
    ASSERT_EQ(Insert(usr, n, "odd"), 0);
    model[n] = "odd";
  }
  for (int n = 0; n < 40; n += 6) {
    ASSERT_EQ(Update(usr, n, "changed"), 0);
    model[n] = "changed";
  }
  ASSERT_EQ(Update(usr, 1, "changed twice"), 0);  // a row of this transaction
  model[1] = "changed twice";
  for (int n = 4; n < 40; n += 10) {
    ASSERT_EQ(Delete(usr, n), 0);
    model.erase(n);
  }
  ASSERT_EQ(Delete(usr, 5), 0);
  model.erase(5);
  EXPECT_EQ(Read(usr, 4), DU_NO_ROW);
  EXPECT_EQ(Scan(usr), Rows(model));  // merged before the commit
  ASSERT_EQ(EndFor(usr, END_CLIENT_COMMIT), 0);
  WaitSecured();

  ASSERT_EQ(BeginFor(usr), 0);
  EXPECT_EQ(Scan(usr), Rows(model));
  ASSERT_EQ(Insert(usr, 100, "rolled back"), 0);
  ASSERT_EQ(Update(usr, 2, "rolled back"), 0);
  ASSERT_EQ(Delete(usr, 6), 0);
  ASSERT_EQ(EndFor(usr, END_ROLLBACK), 0);
  WaitSecured();
  ASSERT_EQ(BeginFor(usr), 0);
  EXPECT_EQ(Scan(usr), Rows(model));
  EXPECT_EQ(EndFor(usr, END_CLIENT_COMMIT), 0);  // nothing written: a read commit
}

// Two users read and change one row; the second to commit loses.
TEST_F(KernelTransactionsTest, SecondWriterOfARowLosesAtCommit) {
  const int32_t a = users_[0], b = users_[1];
  ASSERT_EQ(BeginFor(a), 0);
  ASSERT_EQ(Insert(a, 7, "base"), 0);
  ASSERT_EQ(EndFor(a, END_CLIENT_COMMIT), 0);
  WaitSecured();

  ASSERT_EQ(BeginFor(a), 0);
  ASSERT_EQ(BeginFor(b), 0);
  ASSERT_EQ(Update(a, 7, "by a", true), 0);
  ASSERT_EQ(Update(b, 7, "by b", true), 0);
  EXPECT_EQ(EndFor(a, END_CLIENT_COMMIT), 0);
  EXPECT_EQ(EndFor(b, END_CLIENT_COMMIT), DU_FORCED_ROLLBACK);
  WaitSecured();
  ASSERT_EQ(BeginFor(b), 0);
  EXPECT_EQ(Scan(b), Rows({{7, "by a"}}));
  EXPECT_EQ(EndFor(b, END_CLIENT_COMMIT), 0);
}

}  // namespace

namespace {

// A row the transaction changed itself, read back from its write set and
// locked, is validated by its key like a stored row: the commit goes
// through when another transaction committed in between, and loses when
// that one changed the row first.
TEST_F(KernelTransactionsTest, LockedRowOfTheOwnWriteSetIsValidated) {
  const int32_t a = users_[0], b = users_[1];
  ASSERT_EQ(BeginFor(a), 0);
  ASSERT_EQ(Insert(a, 3, "base"), 0);
  ASSERT_EQ(EndFor(a, END_CLIENT_COMMIT), 0);

  ASSERT_EQ(BeginFor(a), 0);
  ASSERT_EQ(BeginFor(b), 0);
  ASSERT_EQ(Insert(a, 8, "own"), 0);
  ASSERT_EQ(Read(a, 8, true), 0);
  EXPECT_EQ(Rec(a)[DUREC_FETCH_CODE], -3);  // an entry of the write set
  ASSERT_EQ(Insert(b, 9, "other"), 0);
  ASSERT_EQ(EndFor(b, END_CLIENT_COMMIT), 0);
  EXPECT_EQ(EndFor(a, END_CLIENT_COMMIT), 0);

  ASSERT_EQ(BeginFor(a), 0);
  ASSERT_EQ(BeginFor(b), 0);
  ASSERT_EQ(Update(a, 3, "by a"), 0);
  ASSERT_EQ(Update(b, 3, "by b"), 0);
  ASSERT_EQ(Read(a, 3, true), 0);
  EXPECT_EQ(Rec(a)[DUREC_FETCH_CODE], -3);
  ASSERT_EQ(EndFor(b, END_CLIENT_COMMIT), 0);
  EXPECT_EQ(EndFor(a, END_CLIENT_COMMIT), DU_FORCED_ROLLBACK);
  ASSERT_EQ(BeginFor(a), 0);
  EXPECT_EQ(Scan(a), Rows({{3, "by b"}, {8, "own"}, {9, "other"}}));
  EXPECT_EQ(EndFor(a, END_CLIENT_COMMIT), 0);
}

}  // namespace

namespace {

// A rollback to a mark takes back the changes after it, in the write set
// and in the kernel's view of the transaction's rows; the changes before it
// and after the rollback are committed.
TEST_F(KernelTransactionsTest, RollbackToAMarkKeepsTheChangesBeforeIt) {
  const int32_t a = users_[0];

  ASSERT_EQ(BeginFor(a), 0);
  ASSERT_EQ(Insert(a, 1, "kept"), 0);
  DUWriteMark(base_, a, 1001);
  ASSERT_EQ(W(a + USR_TRV_COND), 0);
  ASSERT_EQ(Insert(a, 2, "taken back"), 0);
  ASSERT_EQ(Update(a, 1, "changed"), 0);
  EXPECT_EQ(Scan(a), Rows({{1, "changed"}, {2, "taken back"}}));
  DSTransRollbackDk(base_, a, 1001);
  ASSERT_EQ(W(a + USR_TRV_COND), 0);
  EXPECT_EQ(Scan(a), Rows({{1, "kept"}}));
  ASSERT_EQ(Insert(a, 3, "after"), 0);
  ASSERT_EQ(EndFor(a, END_CLIENT_COMMIT), 0);
  ASSERT_EQ(BeginFor(a), 0);
  EXPECT_EQ(Scan(a), Rows({{1, "kept"}, {3, "after"}}));
  EXPECT_EQ(EndFor(a, END_CLIENT_COMMIT), 0);
}

}  // namespace

namespace {

// A read-set entry read back by the place its append left: the row again,
// stored, then as the transaction changed it, then gone.
TEST_F(KernelTransactionsTest, ReadSetEntryReadsTheRowAgain) {
  const int32_t a = users_[0];
  ASSERT_EQ(BeginFor(a), 0);
  ASSERT_EQ(Insert(a, 4, "stored"), 0);
  ASSERT_EQ(EndFor(a, END_CLIENT_COMMIT), 0);
  ASSERT_EQ(BeginFor(a), 0);
  ASSERT_EQ(Read(a, 4, true), 0);
  const int32_t tp = W(a + USR_TP);
  const int32_t position[2] = {W(tp + TP_RS_QPAGE), W(tp + TP_RS_QPOS)};
  std::vector<int32_t> again = Rec(a);
  std::memset(again.data() + DUREC_RECORD, 0, kRecLen);
  DSReadSetCheck(base_, again.data(), a, position);
  ASSERT_EQ(again[DUREC_STATUS], 0);
  EXPECT_EQ(Row(again).substr(0, 14), Key(4) + "stored");
  // Not a change of this transaction: the stored row, or the committed
  // change the kernel still holds for it.
  EXPECT_TRUE(again[DUREC_FETCH_CODE] == -11 || again[DUREC_FETCH_CODE] == -7);
  ASSERT_EQ(Update(a, 4, "changed"), 0);
  DSReadSetCheck(base_, again.data(), a, position);
  ASSERT_EQ(again[DUREC_STATUS], 0);
  EXPECT_EQ(Row(again).substr(0, 15), Key(4) + "changed");
  EXPECT_EQ(again[DUREC_FETCH_CODE], -3);  // the transaction's own version
  ASSERT_EQ(Delete(a, 4), 0);
  DSReadSetCheck(base_, again.data(), a, position);
  EXPECT_EQ(again[DUREC_STATUS], DU_ROW_GONE);
  EXPECT_EQ(EndFor(a, END_ROLLBACK), 0);
}

}  // namespace

namespace {

// A table of generated keys (catalog kind 2): the kernel's generator gives
// each insert a new 20-digit key, ascending, also across commits.
TEST_F(KernelTransactionsTest, GeneratedKeysAscendAcrossCommits) {
  constexpr int32_t kGenerated = 41;
  std::vector<int32_t> d = Description(kLid, 12, kRecLen, 0, {}, {});
  d[DESC_KIND] = 2;
  CreateDescribedTable(kGenerated, d);
  const int32_t a = users_[0];
  std::vector<int32_t> r = Record(kGenerated, 3, 12, kRecLen);
  ASSERT_EQ(Open(r, a), 0);
  std::vector<std::string> keys;
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(BeginFor(a), 0);
    for (int n = 0; n < 3; ++n) {
      NextCursorOrder(a);
      std::memset(r.data() + DUREC_RECORD, 0, kRecLen);
      DUInsertRow(base_, r.data(), a);
      ASSERT_EQ(r[DUREC_STATUS], 0);
      keys.emplace_back(reinterpret_cast<const char*>(r.data() + DUREC_RECORD), 12);
    }
    ASSERT_EQ(EndFor(a, END_CLIENT_COMMIT), 0);
  }
  for (size_t k = 1; k < keys.size(); ++k) EXPECT_LT(keys[k - 1], keys[k]) << k;
  // Every row is there under its key.
  ASSERT_EQ(BeginFor(a), 0);
  for (const std::string& key : keys) {
    NextCursorOrder(a);
    std::memset(r.data() + DUREC_RECORD, 0, kRecLen);
    std::memcpy(r.data() + DUREC_RECORD, key.data(), 12);
    DUReadRowByKey(base_, r.data(), a);
    EXPECT_EQ(r[DUREC_STATUS], 0);
  }
  EXPECT_EQ(EndFor(a, END_CLIENT_COMMIT), 0);
  EXPECT_EQ(Close(r, a), 0);
}

}  // namespace

namespace {

// A transaction begun without any statement marking its databank: the
// entries that statements marked were set aside by a saving begin, or
// cleared by the end of an earlier transaction, or the session holds no
// entry for the databank at all. The row change marks the databank it
// writes itself; before, the commit record listed no written databank, the
// kernel took the commit for a reader's and the change was dropped while the
// update and the commit both answered 0.
class UnmarkedTransactionTest : public KernelTransactionsTest {
 protected:
  // DSBTR3 alone: no statement marks the user's entries.
  int32_t BeginUnmarked(int32_t mode, int32_t usr) {
    int32_t pb[2] = {mode, usr};
    DSBTR3(base_, pb);
    return pb[0];
  }
  int32_t Status(int32_t usr) { return W(W(usr + USR_TRS) + TRS_STATUS); }
};

TEST_F(UnmarkedTransactionTest, SavingBeginInsideAnOpenTransactionKeepsItsChanges) {
  const int32_t a = users_[0];
  ASSERT_EQ(BeginFor(a), 0);
  ASSERT_EQ(Insert(a, 1, "base"), 0);
  ASSERT_EQ(Insert(a, 2, "base"), 0);
  ASSERT_EQ(EndFor(a, END_CLIENT_COMMIT), 0);

  ASSERT_EQ(BeginFor(a), 0);  // the session's own transaction, its entry marked
  ASSERT_EQ(BeginUnmarked(BEGIN_MODE_SAVING, a), 0);
  ASSERT_EQ(Status(a), 0);  // set aside in the outer transaction
  ASSERT_EQ(Update(a, 1, "rolled back"), 0);
  EXPECT_EQ(Status(a), 3);
  ASSERT_EQ(EndFor(a, END_ROLLBACK), 0);
  EXPECT_EQ(Status(a), 3);  // the outer transaction's entry again
  // A later saving transaction, after the rolled-back one, is kept.
  ASSERT_EQ(BeginUnmarked(BEGIN_MODE_SAVING, a), 0);
  ASSERT_EQ(Update(a, 1, "inner"), 0);
  ASSERT_EQ(EndFor(a, END_CLIENT_COMMIT), 0);
  ASSERT_EQ(Update(a, 2, "outer"), 0);
  ASSERT_EQ(EndFor(a, END_CLIENT_COMMIT), 0);

  ASSERT_EQ(BeginFor(a), 0);
  EXPECT_EQ(Scan(a), Rows({{1, "inner"}, {2, "outer"}}));
  EXPECT_EQ(EndFor(a, END_CLIENT_COMMIT), 0);
}

// The session's transaction block set aside, or its entries gone: each
// transaction begun then is committed with its change, also after a
// rolled-back one.
TEST_F(UnmarkedTransactionTest, TransactionsWithoutMarkedEntriesKeepTheirChanges) {
  const int32_t a = users_[0];
  ASSERT_EQ(BeginFor(a), 0);
  ASSERT_EQ(Insert(a, 1, "base"), 0);
  ASSERT_EQ(EndFor(a, END_CLIENT_COMMIT), 0);

  // Set aside: a transaction block of its own, released after its end.
  ASSERT_EQ(BeginFor(a), 0);
  const int32_t outer = W(a + USR_TP);
  W(a + USR_TP) = 0;
  std::map<int, std::string> model{{1, "base"}};
  for (const auto& [value, code] : std::vector<std::pair<std::string, int32_t>>{
           {"first", END_CLIENT_COMMIT}, {"taken back", END_ROLLBACK}, {"third", END_CLIENT_COMMIT}}) {
    ASSERT_EQ(BeginUnmarked(1, a), 0);
    ASSERT_EQ(Update(a, 1, value), 0) << value;
    ASSERT_EQ(EndFor(a, code), 0) << value;
    if (code == END_CLIENT_COMMIT) model[1] = value;
    ASSERT_EQ(BeginUnmarked(1, a), 0);
    EXPECT_EQ(Scan(a), Rows(model)) << value;
    ASSERT_EQ(EndFor(a, END_CLIENT_COMMIT), 0);
  }
  W(a + USR_TRV_COND) = 3;
  DSFreeTP(base_, a);
  ASSERT_EQ(W(a + USR_TP), 0);
  W(a + USR_TP) = outer;
  ASSERT_EQ(EndFor(a, END_CLIENT_COMMIT), 0);

  // No entry for the databank at all: the change makes one.
  W(a + USR_TRS) = 0;
  ASSERT_EQ(BeginUnmarked(1, a), 0);
  ASSERT_EQ(Update(a, 1, "no entry"), 0);
  ASSERT_NE(W(a + USR_TRS), 0);
  EXPECT_EQ(W(W(a + USR_TRS) + TRS_DCB), dcb_);
  ASSERT_EQ(EndFor(a, END_CLIENT_COMMIT), 0);
  ASSERT_EQ(BeginUnmarked(1, a), 0);
  EXPECT_EQ(Scan(a), Rows({{1, "no entry"}}));
  EXPECT_EQ(EndFor(a, END_CLIENT_COMMIT), 0);
}

}  // namespace

namespace {

// A read-only transaction (READ_WRITE_MODE 31) lets a call statement start
// with write access, raising its databank entry to read only. A change it
// then makes is refused with -14014: before, the change went into the write
// set, the commit listed no written databank and dropped it, and both the
// change and the commit answered 0.
TEST_F(KernelTransactionsTest, ChangeInAReadOnlyTransactionIsRefused) {
  const int32_t a = users_[0];
  ASSERT_EQ(BeginFor(a), 0);
  ASSERT_EQ(Insert(a, 1, "base"), 0);
  ASSERT_EQ(EndFor(a, END_CLIENT_COMMIT), 0);

  W(a + USR_NEXT_READ_WRITE_MODE) = READ_ONLY_MODE;
  const int32_t trs = W(a + USR_TRS);
  W(trs + TRS_STATUS) = 0;
  const int32_t call = NewStatementBlock(base_, a, 84);
  SetStatementAccess(base_, call, {{trs, 3}});
  int32_t status = 99;
  DSStmStartTrans(base_, &status, call, a);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(W(W(a + USR_TP) + TP_READ_WRITE_MODE), READ_ONLY_MODE);
  EXPECT_EQ(W(trs + TRS_STATUS), 1);

  for (const auto& [what, change] : std::vector<std::pair<std::string, std::function<int32_t()>>>{
           {"insert", [&] { return Insert(a, 2, "read only"); }},
           {"update", [&] { return Update(a, 1, "read only"); }},
           {"delete", [&] { return Delete(a, 1); }}}) {
    W(a + USR_RVEC_RCODE) = 0;
    EXPECT_EQ(change(), DU_READ_ONLY) << what;
    EXPECT_EQ(W(a + USR_RVEC_RCODE), DU_READ_ONLY) << what;
    EXPECT_EQ(W(trs + TRS_STATUS), 1) << what;
  }
  EXPECT_EQ(Scan(a), Rows({{1, "base"}}));  // nothing in the write set
  ASSERT_EQ(EndFor(a, END_CLIENT_COMMIT), 0);

  W(a + USR_NEXT_READ_WRITE_MODE) = 0;
  ASSERT_EQ(BeginFor(a), 0);
  EXPECT_EQ(Scan(a), Rows({{1, "base"}}));
  ASSERT_EQ(Insert(a, 2, "read write"), 0);
  ASSERT_EQ(EndFor(a, END_CLIENT_COMMIT), 0);
  ASSERT_EQ(BeginFor(a), 0);
  EXPECT_EQ(Scan(a), Rows({{1, "base"}, {2, "read write"}}));
  EXPECT_EQ(EndFor(a, END_CLIENT_COMMIT), 0);
}

}  // namespace

namespace {

// The type of a transaction reaches the kernel as its commit kind: a commit
// of type 128 returns once its records are applied to the table, one of 129
// once they are secured, one of type 0 at once; a typed transaction that
// wrote nothing still commits (the kernel refuses a kind without a written
// databank). The background's units are held back (lock 248, which every
// unit takes first) until the commit has either returned or waits for them;
// before, every commit of record access went to the kernel as kind 0 and
// returned before its records were applied.
TEST_F(KernelTransactionsTest, TypedCommitWaitsForItsRecords) {
  const struct {
    const char* what;
    int32_t type;
    bool writes, waits;
  } cases[] = {
      {"untyped", 0, true, false},
      {"applied", 128, true, true},
      {"secured", 129, true, true},
      {"applied, nothing written", 128, false, false},
      {"secured, nothing written", 129, false, false},
  };
  const int32_t a = users_[0];
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ++n;
    ASSERT_EQ(BeginFor(a), 0);
    if (c.writes) {
      ASSERT_EQ(Insert(a, n, c.what), 0);
    } else {
      W(W(a + USR_TRS) + TRS_STATUS) = 1;  // read there
      EXPECT_EQ(Read(a, 1), 0);
    }
    DSSetTransType(base_, a, c.type);
    const int32_t commits = PoolWord(BP_COMMITS).load();
    DKLock(BP_LOCK_BACKGROUND_SYNCH);
    std::atomic<bool> returned{false};
    int32_t rc = 1;
    std::thread committer([&] {
      if (enqdeq_attach(enq_, 1 + n) != 0) {  // an index is attached once
        ADD_FAILURE() << "no thread index";
        returned = true;
        return;
      }
      int32_t pb[3] = {END_CLIENT_COMMIT, a, 0};
      DSEndTrans(base_, pb);
      rc = pb[0];
      returned = true;
    });
    while (!returned.load() && PoolWord(BP_LOCK_KERNEL_WAIT_SYNCH + ENQDEQ_HEAD).load() == 0)
      std::this_thread::yield();
    EXPECT_EQ(returned.load(), !c.waits);
    DKUnlock(BP_LOCK_BACKGROUND_SYNCH);
    committer.join();
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(PoolWord(BP_COMMITS).load(), commits + (c.writes ? 1 : 0));
    const std::vector<int32_t>& r = Rec(a);
    const std::vector<std::string> stored =
        TransactionTest::Rows(Table{r[DUREC_TBL], r[DUREC_TNAME], kKeyLen, kRecLen});
    if (c.type == 128 || c.type == 129) {
      EXPECT_EQ(std::count(stored.begin(), stored.end(), Rows({{n, c.what}})[0]), c.writes ? 1 : 0);
    }
    if (c.type == 129 && c.writes) {
      EXPECT_GE(PoolWord(BP_SECURED_TRANS_NUMBER).load(), commits + 1);
    }
    WaitSecured();
  }
  ASSERT_EQ(BeginFor(a), 0);
  EXPECT_EQ(Scan(a), Rows({{1, "untyped"}, {2, "applied"}, {3, "secured"}}));
  EXPECT_EQ(EndFor(a, END_CLIENT_COMMIT), 0);
}

}  // namespace
