// Record access over the databank kernel itself rather than its model:
// transactions of one user change a table through the write set, commit
// through DKETR1, the background threads apply the records, and the rows
// are read back; a rollback leaves nothing; the later of two transactions
// that read and change one row loses at its commit.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "dk/tests/transaction_fixture.h"
#include "du/record_operations.h"
#include "du/tests/record_access_fixture.h"

namespace {

constexpr int32_t kLid = 5, kTname = 40, kKeyLen = 8, kRecLen = 40;

class KernelTransactionsTest : public TransactionTest {
 protected:
  void SetUp() override {
    TransactionTest::SetUp();
    if (HasFatalFailure()) return;
    // Record access keeps its write and read sets in logical databank 2.
    sql_trans_ = Create("sqltrans", 2000, 2);
    GiveTransRootPage(sql_trans_);
    // Created, the table is held exclusively: closed, record access opens
    // it in its own mode.
    const Table t = CreateTable(kTname, kKeyLen, kRecLen);
    int32_t close[CRT_WORDS] = {};
    close[RQ_TABLE] = t.entry;
    close[RQ_TBL] = t.tbl;
    DKEXE1(DK_CLT1, close);
    ASSERT_EQ(close[RQ_STATUS], 0);
    base_ = SqlPoolCreate(4000000, 400000);
    int32_t w = 400000;
    DSPoolMem(base_, &w, -1, 0);
    DSGetMem(base_, &sys_, SYS_BYTES);
    base_[sqlpool::RESERV] = sys_;
    enqdeq_init_semaphore(&W(sys_ + SYS_POOLED_TP_S), 1);
    ASSERT_EQ(DUCrtTcbHash(base_), 0);
    int32_t dcb = 0;
    DSGetMem(base_, &dcb, DCB_BYTES);
    W(dcb + DCB_LID) = kLid;
    W(dcb + DCB_DID) = db_;  // the kernel's databank entry
    W(dcb + DCB_TRANS_MODE) = 3;
    upper_.dcbs[kLid] = dcb;
    upper_.base = base_;
    std::vector<int32_t> d(DESC_ENTRIES, 0);
    d[DESC_KIND] = 1;
    d[DESC_LID] = kLid;
    d[DESC_TYPE] = 1;
    d[DESC_KEYLEN] = kKeyLen;
    d[DESC_RECLEN] = kRecLen;
    d.push_back(DESC_END);
    upper_.descriptions[kTname] = d;
    UpperModel::Current() = &upper_;
    previous_services_ = DUInstallUpperServices(UpperModel::Table());
    DUInstallKernelDispatcher(nullptr);
    for (int32_t& usr : users_) usr = NewUser(dcb);
    DSGetMem(base_, &work_, WRK_BYTES + 32768);
    StartBackground(2);
  }
  void TearDown() override {
    if (base_ != nullptr) {
      for (int32_t usr : users_) {
        int32_t end[3] = {END_ROLLBACK, usr, 0};
        if (usr != 0) DSEndTrans(base_, end);
      }
      for (auto& [usr, r] : records_) {
        int32_t pb[2] = {0, usr};
        int32_t close[CLB_WORDS] = {CLOSE_TABLE};
        DSCloseTableRefs(base_, pb, r.data(), close);
      }
      DUInstallUpperServices(previous_services_);
      UpperModel::Current() = nullptr;
      SqlPoolDestroy(base_);
    }
    TransactionTest::TearDown();
  }

  int32_t& W(int64_t index) { return du::W(base_, index); }

  // A user whose one databank entry is written in every transaction.
  int32_t NewUser(int32_t dcb) {
    int32_t usr = 0, lvl = 0, trs = 0;
    DSGetMem(base_, &usr, USR_BYTES);
    DSGetMem(base_, &lvl, LVL_BYTES);
    W(usr + USR_LVL) = lvl;
    W(lvl + LVL_USR) = usr;
    W(usr + USR_TRANSACTION_AUTOCOMMIT) = NO_AUTOMATIC_END;
    W(usr + USR_TRANSACTION_START) = 1;
    W(usr + USR_TRANSACTION_VIEW) = 3;
    W(usr + USR_MARK_ID) = FIRST_MARK_ID;
    W(usr + USR_TRANSDB_DID) = sql_trans_;
    W(usr + USR_SQLDB_DID) = sql_trans_;
    DSGetMem(base_, &trs, TRS_BYTES);
    W(trs + TRS_DCB) = dcb;
    W(trs + TRS_STM_COUNT) = 1;  // kept on the chain after each end
    W(usr + USR_TRS) = trs;
    return usr;
  }

  // The user's record block of the table, opened on first use. Each use is
  // a statement of its own: it gets the next cursor order number, under
  // which the kernel keeps its changes, and sees those of the ones before.
  std::vector<int32_t>& Rec(int32_t usr) {
    const int32_t order = DSNextCursorOrder(base_, usr);
    DSSetCursorOrder(base_, usr, order);
    auto [it, made] = records_.try_emplace(usr);
    std::vector<int32_t>& r = it->second;
    if (made) {
      r.assign(static_cast<size_t>(DurecWords(64)), 0);
      r[DUREC_ACCESS_MODE] = 3;
      r[DUREC_TNAME] = kTname;
      r[DUREC_KEYLEN] = kKeyLen;
      r[DUREC_RECLEN] = kRecLen;
      r[DUREC_TYPE] = 1;
      int32_t open[OPB_WORDS] = {OPEN_BASE};
      DUOpenTableChain(base_, usr, r.data(), open);
      EXPECT_EQ(r[DUREC_STATUS], 0);
      EXPECT_GT(r[DUREC_MERGE], 0);
    }
    return r;
  }

  int32_t Begin(int32_t usr) {
    int32_t pb[2] = {1, usr};
    DSBTR3(base_, pb);
    W(W(usr + USR_TRS) + TRS_STATUS) = 3;
    return pb[0];
  }
  int32_t End(int32_t usr, int32_t code) {
    int32_t pb[3] = {code, usr, 0};
    DSEndTrans(base_, pb);
    return pb[0];
  }

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

  // Waits until every commit given so far is applied and secured.
  void WaitSecured() {
    const int32_t last = PoolWord(BP_COMMITS).load();
    for (int64_t n = 0; PoolWord(BP_SECURED_TRANS_NUMBER).load() < last; ++n) {
      ASSERT_LT(n, int64_t{1} << 32) << "the commit was never secured";
      std::this_thread::yield();
    }
  }

  int32_t* base_ = nullptr;
  int32_t sys_ = 0, work_ = 0, sql_trans_ = 0;
  int32_t users_[2] = {};
  std::map<int32_t, std::vector<int32_t>> records_;
  UpperModel upper_;
  const DUUpperServices* previous_services_ = nullptr;
};

// Inserts, updates and deletes merged with the table's rows inside the
// transaction, committed, applied by the background threads and seen by a
// later transaction; a rollback leaves nothing behind.
TEST_F(KernelTransactionsTest, CommittedChangesReachTheTable) {
  const int32_t usr = users_[0];
  std::map<int, std::string> model;
  ASSERT_EQ(Begin(usr), 0);
  for (int n = 0; n < 40; n += 2) {
    ASSERT_EQ(Insert(usr, n, "first"), 0);
    model[n] = "first";
  }
  ASSERT_EQ(End(usr, END_CLIENT_COMMIT), 0);
  WaitSecured();

  ASSERT_EQ(Begin(usr), 0);
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
  ASSERT_EQ(End(usr, END_CLIENT_COMMIT), 0);
  WaitSecured();

  ASSERT_EQ(Begin(usr), 0);
  EXPECT_EQ(Scan(usr), Rows(model));
  ASSERT_EQ(Insert(usr, 100, "rolled back"), 0);
  ASSERT_EQ(Update(usr, 2, "rolled back"), 0);
  ASSERT_EQ(Delete(usr, 6), 0);
  ASSERT_EQ(End(usr, END_ROLLBACK), 0);
  WaitSecured();
  ASSERT_EQ(Begin(usr), 0);
  EXPECT_EQ(Scan(usr), Rows(model));
  EXPECT_EQ(End(usr, END_CLIENT_COMMIT), 0);  // nothing written: a read commit
}

// Two users read and change one row; the second to commit loses.
TEST_F(KernelTransactionsTest, SecondWriterOfARowLosesAtCommit) {
  const int32_t a = users_[0], b = users_[1];
  ASSERT_EQ(Begin(a), 0);
  ASSERT_EQ(Insert(a, 7, "base"), 0);
  ASSERT_EQ(End(a, END_CLIENT_COMMIT), 0);
  WaitSecured();

  ASSERT_EQ(Begin(a), 0);
  ASSERT_EQ(Begin(b), 0);
  ASSERT_EQ(Update(a, 7, "by a", true), 0);
  ASSERT_EQ(Update(b, 7, "by b", true), 0);
  EXPECT_EQ(End(a, END_CLIENT_COMMIT), 0);
  EXPECT_EQ(End(b, END_CLIENT_COMMIT), DU_FORCED_ROLLBACK);
  WaitSecured();
  ASSERT_EQ(Begin(b), 0);
  EXPECT_EQ(Scan(b), Rows({{7, "by a"}}));
  EXPECT_EQ(End(b, END_CLIENT_COMMIT), 0);
}

}  // namespace
