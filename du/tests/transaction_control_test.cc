// Transaction control against the kernel model: begin and its refusals, the
// reuse of an outermost TP and of pooled blocks, the commit record, the
// kernel transaction freed when a commit record cannot be appended, marks,
// and the deferred checks of the check set at commit.
#include <gtest/gtest.h>

#include "du/tests/record_access_fixture.h"

namespace {

class TransactionControlTest : public RecordAccessTest {};

TEST_F(TransactionControlTest, BeginRefusals) {
  EXPECT_EQ(Begin(3), DU_BAD_BEGIN_MODE);
  EXPECT_TRUE(log_.Has("DSBTR3"));
  EXPECT_EQ(W(usr_ + USR_RVEC_RCODE), DU_BAD_BEGIN_MODE);
  EXPECT_EQ(Tp(), 0);

  EXPECT_EQ(Begin(1), 0);
  EXPECT_EQ(Begin(1), DU_TRANSACTION_OPEN);
  EXPECT_EQ(Begin(2), DU_TRANSACTION_OPEN);
  W(Tp() + TP_TRANSACTION_STATE) = -1;
  EXPECT_EQ(Begin(1), DU_TP_UNUSABLE);
  W(Tp() + TP_TRANSACTION_STATE) = 1;
  EXPECT_EQ(End(END_ROLLBACK), 0);

  W(usr_ + USR_LOADCB) = 77;  // a load in progress allows only mode 2
  EXPECT_EQ(Begin(1), DU_TRANSACTION_OPEN);
  EXPECT_EQ(Begin(2), 0);
}

TEST_F(TransactionControlTest, ModeZeroWithAutocommitBeginsAndCommitsAtOnce) {
  W(usr_ + USR_TRANSACTION_AUTOCOMMIT) = 89;
  EXPECT_EQ(Begin(0), 0);
  ASSERT_EQ(kernel_.ended.size(), 1u);
  EXPECT_EQ(kernel_.ended[0][0], 0);  // a commit
  EXPECT_EQ(W(Tp() + TP_TRANSACTION_STATE), 0);
  EXPECT_EQ(kernel_.open_tss, 0);

  W(usr_ + USR_TRANSACTION_AUTOCOMMIT) = NO_AUTOMATIC_END;
  EXPECT_EQ(Begin(0), 0);
  EXPECT_EQ(W(Tp() + TP_TRANSACTION_STATE), 1);
}

TEST_F(TransactionControlTest, EndWithoutTransactionResetsTheNextModes) {
  W(usr_ + USR_SESSION_ISOLATION_LEVEL) = 7;
  W(usr_ + USR_NEXT_ISOLATION_LEVEL) = 9;
  W(usr_ + USR_SESSION_READ_WRITE_MODE) = 0;
  W(usr_ + USR_NEXT_READ_WRITE_MODE) = READ_ONLY_MODE;
  EXPECT_EQ(End(END_AFTER_SUCCESS), 0);
  EXPECT_EQ(W(usr_ + USR_NEXT_ISOLATION_LEVEL), 7);
  EXPECT_EQ(W(usr_ + USR_NEXT_READ_WRITE_MODE), 0);
  EXPECT_EQ(End(END_XA_PREPARE), 1);
  EXPECT_EQ(kernel_.Sent(DK_ETR1), 0);
}

TEST_F(TransactionControlTest, OutermostCommitKeepsTheBlockForTheNextBegin) {
  EXPECT_EQ(DSNextCursorOrder(base_, usr_), 1);
  ASSERT_EQ(Begin(1), 0);
  const int32_t tp = Tp();
  EXPECT_EQ(kernel_.Sent(DK_CRT1), 2);  // write set and read set
  EXPECT_EQ(DSNextCursorOrder(base_, usr_), 2);
  W(usr_ + USR_MARK_ID) = 1005;
  EXPECT_EQ(End(END_CLIENT_COMMIT), 0);
  EXPECT_EQ(W(tp + TP_TRANSACTION_STATE), 0);
  EXPECT_EQ(W(usr_ + USR_MARK_ID), FIRST_MARK_ID);
  EXPECT_EQ(kernel_.open_tss, 0);

  ASSERT_EQ(Begin(1), 0);
  EXPECT_EQ(Tp(), tp);
  EXPECT_EQ(kernel_.Sent(DK_CRT1), 2);  // emptied, not created again
  EXPECT_EQ(kernel_.Sent(DK_DRS1), 2);
  EXPECT_EQ(DSNextCursorOrder(base_, usr_), 1);
  EXPECT_EQ(End(END_ROLLBACK), 0);
  EXPECT_EQ(kernel_.ended.back()[0], 1);
}

TEST_F(TransactionControlTest, PooledBlockServesAnotherUserWithItsQueuesOpen) {
  ASSERT_EQ(Begin(1), 0);
  const int32_t tp = Tp();
  W(usr_ + USR_TRV_COND) = 4;
  DSFreeTP(base_, usr_);  // the open transaction is rolled back first
  EXPECT_EQ(Tp(), 0);
  EXPECT_EQ(kernel_.open_tss, 0);
  EXPECT_EQ(W(sys_ + SYS_POOLED_TP), tp);

  const int32_t other = NewUser();
  ASSERT_EQ(Begin(1, other), 0);
  EXPECT_EQ(Tp(other), tp);
  EXPECT_EQ(kernel_.Sent(DK_CRT1), 2);
  EXPECT_EQ(W(sys_ + SYS_POOLED_TP), 0);
  EXPECT_EQ(DSNextCursorOrder(base_, other), 2);

  W(other + USR_TRV_COND) = 3;  // any other mode drops the queues
  DSFreeTP(base_, other);
  EXPECT_EQ(kernel_.queues.size(), 0u);
}

// The commit record's databank entries, by what the transaction touched,
// and its type: always in word 10, and in word 2 (the kernel's commit kind)
// only when a databank was written, as the kernel refuses a kind otherwise.
TEST_F(TransactionControlTest, CommitRecordNamesTheDatabanksUsed) {
  struct Case {
    const char* name;
    int32_t status, trans_mode, logdb, type, kind;
    std::vector<std::vector<int32_t>> entries;  // {DID, LID, 0, STATUS, -1, log}
  };
  const std::vector<Case> cases = {
      {"read only", 1, 3, 33, 0, 0, {{105, 5, 0, 1, -1, 0}}},
      {"read only, typed", 1, 3, 33, 129, 0, {{105, 5, 0, 1, -1, 0}}},
      {"written, not logged", 3, 2, 33, 0, 0, {{105, 5, 0, 3, -1, 0}, {22, 2, 0, 3, -1, 0}}},
      {"written, typed", 3, 2, 33, 128, 128, {{105, 5, 0, 3, -1, 0}, {22, 2, 0, 3, -1, 0}}},
      {"written and logged",
       3,
       3,
       33,
       129,
       129,
       {{105, 5, 0, 3, -1, 3}, {33, 3, 0, 3, -1, 0}, {22, 2, 0, 3, -1, 0}}},
      {"logged without log databank",
       3,
       3,
       0,
       0,
       0,
       {{105, 5, 0, 3, -1, 3}, {22, 2, 0, 3, -1, 0}}},
  };
  const int32_t trs = NewTrs(usr_, NewDatabank(5, 0));
  W(usr_ + USR_TRANSDB_DID) = 22;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    W(W(trs + TRS_DCB) + DCB_TRANS_MODE) = c.trans_mode;
    W(usr_ + USR_LOGDB_DID) = c.logdb;
    ASSERT_EQ(Begin(1), 0);
    W(trs + TRS_STATUS) = c.status;
    W(trs + TRS_STM_COUNT) = 1;  // kept on the chain after the end
    DSSetTransType(base_, usr_, c.type);
    const uint8_t text[5] = {'h', 'e', 'l', 'l', 'o'};
    int32_t pb[3] = {END_AFTER_SUCCESS, usr_, 0};
    DSEndTransWork(base_, pb, 42, text, 5);
    ASSERT_EQ(pb[0], 0);
    const auto& ws = kernel_.queues[W(Tp() + TP_WS_QTBL)].records;
    ASSERT_EQ(ws.size(), 1u);
    const auto& r = ws[0];
    EXPECT_EQ(r[0], RECORD_KIND_COMMIT);
    EXPECT_EQ(r[2], c.kind);
    EXPECT_EQ(r[10], c.type);
    EXPECT_EQ(W(Tp() + TP_TRANSACTION_TYPE), 0);
    EXPECT_EQ(r[14], 42);
    EXPECT_EQ(r[15], 5);
    size_t at = 20;
    for (const auto& e : c.entries) {
      ASSERT_LE(at + 6, r.size());
      EXPECT_EQ(std::vector<int32_t>(r.begin() + at, r.begin() + at + 6), e);
      at += 6;
    }
    ASSERT_LT(at, r.size());
    EXPECT_EQ(r[at], -1);
    EXPECT_EQ(std::memcmp(&r[at + 1], text, 5), 0);
    EXPECT_EQ(W(trs + TRS_STATUS), 0);
  }
}

// The kernel reads a write set's first record as its header: records
// written before the commit record are copied behind it into a new write
// set, which the block keeps for its next transaction.
TEST_F(TransactionControlTest, CommitRecordComesFirstInTheWriteSet) {
  ASSERT_EQ(Begin(1), 0);
  const int32_t tp = Tp(), before = W(tp + TP_WS_QTBL);
  DUWriteMark(base_, usr_, 1001);
  DUWriteMark(base_, usr_, 1002);
  const int32_t created = kernel_.Sent(DK_CRT1);
  EXPECT_EQ(End(END_AFTER_SUCCESS), 0);
  EXPECT_EQ(kernel_.Sent(DK_CRT1), created + 1);
  const int32_t after = W(tp + TP_WS_QTBL);
  EXPECT_NE(after, before);
  EXPECT_EQ(kernel_.queues.count(before), 0u);  // the old write set is dropped
  const auto& ws = kernel_.queues[after].records;
  ASSERT_EQ(ws.size(), 3u);
  EXPECT_EQ(ws[0][0], RECORD_KIND_COMMIT);
  EXPECT_EQ(ws[1][2], 1001);
  EXPECT_EQ(ws[2][2], 1002);
  EXPECT_EQ(W(tp + TP_WS_QPOS), 3);
  EXPECT_EQ(kernel_.ended.back()[1], after);

  // A copy that fails keeps the old write set, drops the new one, and the
  // kernel transaction is rolled back.
  ASSERT_EQ(Begin(1), 0);
  DUWriteMark(base_, usr_, 1001);
  const size_t queues = kernel_.queues.size();
  kernel_.fail[DK_APS1] = -60;
  EXPECT_EQ(End(END_AFTER_SUCCESS), -60 + DU_KERNEL_OFFSET);
  EXPECT_EQ(W(tp + TP_WS_QTBL), after);
  EXPECT_EQ(kernel_.ended.back()[0], 1);
  EXPECT_EQ(kernel_.queues.size(), queues);
  EXPECT_EQ(kernel_.open_tss, 0);
}

TEST_F(TransactionControlTest, FailedCommitRecordFreesTheKernelTransaction) {
  ASSERT_EQ(Begin(1), 0);
  kernel_.fail[DK_APS1] = -50;
  EXPECT_EQ(End(END_AFTER_SUCCESS), -50 + DU_KERNEL_OFFSET);
  ASSERT_EQ(kernel_.ended.size(), 1u);
  EXPECT_EQ(kernel_.ended[0][0], 1);  // rolled back, not left open
  EXPECT_EQ(kernel_.open_tss, 0);
  EXPECT_EQ(W(Tp() + TP_TRANSACTION_STATE), 0);
  EXPECT_EQ(W(usr_ + USR_RVEC_RCODE), -50 + DU_KERNEL_OFFSET);
  EXPECT_EQ(Begin(1), 0);  // the block is usable again

  std::vector<uint8_t> huge(200000, 'x');
  int32_t pb[3] = {END_AFTER_SUCCESS, usr_, 0};
  DSEndTransWork(base_, pb, 1, huge.data(), static_cast<int32_t>(huge.size()));
  EXPECT_EQ(pb[0], DU_COMMIT_RECORD_TOO_LONG);
  EXPECT_EQ(kernel_.open_tss, 0);

  ASSERT_EQ(Begin(1), 0);
  pb[0] = END_AFTER_SUCCESS;
  DSEndTransWork(base_, pb, 1, nullptr, -4);  // a byte string that is not there
  EXPECT_EQ(pb[0], DU_BAD_ARGUMENT);
  EXPECT_EQ(kernel_.open_tss, 0);
}

TEST_F(TransactionControlTest, CommitOfAFailedTransactionIsAForcedRollback) {
  ASSERT_EQ(Begin(1), 0);
  W(Tp() + TP_TRANSACTION_STATE) = 2;
  EXPECT_EQ(End(END_AFTER_SUCCESS), DU_FORCED_ROLLBACK);
  EXPECT_EQ(kernel_.ended.back()[0], 1);
  ASSERT_EQ(Begin(1), 0);
  W(Tp() + TP_TRANSACTION_STATE) = 2;
  EXPECT_EQ(End(END_ROLLBACK), 0);
  EXPECT_EQ(End(END_ROLLBACK), 0);
}

TEST_F(TransactionControlTest, EndInsideAnAtomicBlockIsRefused) {
  ASSERT_EQ(Begin(1), 0);
  W(usr_ + USR_ATOMIC) = 1;
  EXPECT_EQ(End(END_AFTER_SUCCESS), DU_END_IN_ATOMIC);
  EXPECT_EQ(W(Tp() + TP_TRANSACTION_STATE), 1);
}

TEST_F(TransactionControlTest, RollbackToAMarkCutsBothQueues) {
  ASSERT_EQ(Begin(1), 0);
  const int32_t tp = Tp();
  DUWriteMark(base_, usr_, 1001);
  ASSERT_EQ(W(usr_ + USR_TRV_COND), 0);
  DUWriteMark(base_, usr_, 1002);
  auto& ws = kernel_.queues[W(tp + TP_WS_QTBL)].records;
  auto& rs = kernel_.queues[W(tp + TP_RS_QTBL)].records;
  ASSERT_EQ(ws.size(), 2u);
  // Six words in the write set (the kernel's commit takes no shorter
  // record), three in the read set.
  EXPECT_EQ(ws[1],
            (std::vector<int32_t>{RECORD_KIND_MARK, W(tp + TP_TRANSACTION_NUMBER), 1002, 0, 0, 0}));
  EXPECT_EQ(rs[1], (std::vector<int32_t>{RECORD_KIND_MARK, W(tp + TP_TRANSACTION_NUMBER), 1002}));
  DSTransRollbackDk(base_, usr_, 1001);
  EXPECT_EQ(W(usr_ + USR_TRV_COND), 0);
  EXPECT_EQ(ws.size(), 1u);
  EXPECT_EQ(rs.size(), 1u);
  EXPECT_EQ(W(tp + TP_WS_QPOS), 1);

  kernel_.fail[DK_ROL1] = -60;
  DSTransRollbackDk(base_, usr_, 1001);
  EXPECT_EQ(W(usr_ + USR_TRV_COND), -60 + DU_KERNEL_OFFSET);
  EXPECT_EQ(W(tp + TP_TRANSACTION_STATE), 2);

  // Stacked marks are set in the next transaction and their blocks freed.
  EXPECT_EQ(End(END_ROLLBACK), 0);
  int32_t mark = 0;
  DSGetMem(base_, &mark, 8);
  W(mark + 1) = 1007;
  W(usr_ + USR_STACKED_MARK) = mark;
  ASSERT_EQ(Begin(1), 0);
  EXPECT_EQ(W(usr_ + USR_STACKED_MARK), 0);
  const auto& again = kernel_.queues[W(Tp() + TP_WS_QTBL)].records;
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0][2], 1007);
}

TEST_F(TransactionControlTest, ScopeThreeMakesTheDdlRecordAndTheEndGivesTheViewBack) {
  ASSERT_EQ(Begin(1), 0);
  int32_t status = 0;
  DSSetTransScope(base_, &status, usr_, 3);
  ASSERT_EQ(status, 0);
  const int32_t record = W(Tp() + TP_DDLTRA);
  ASSERT_NE(record, 0);
  EXPECT_EQ(W(usr_ + USR_TRANSACTION_VIEW), 2);
  EXPECT_EQ(W(record + 9), FIRST_MARK_ID + 1);
  EXPECT_EQ(DSGetTransScope(base_, usr_), 3);
  EXPECT_EQ(End(END_AFTER_SUCCESS), 0);
  EXPECT_EQ(W(Tp() + TP_DDLTRA), 0);
  EXPECT_EQ(W(usr_ + USR_TRANSACTION_VIEW), 3);
}

// A check-set record the way the change routines write it: kind, identity,
// an 8-byte key, then table, constraint, prefix length and index number.
void AddCheck(int32_t* base, int32_t usr, int32_t kind, int32_t table, int32_t constraint) {
  std::vector<int32_t> rec(DurecWords(8) + 8, 0);
  rec[DUREC_STATUS] = kind;
  rec[DUREC_TNAME] = table;
  rec[DUREC_KEYLEN] = 8;
  rec[DUREC_RECLEN] = 8;
  rec[DUREC_REQUEST_WORDS] = QueueRecordWords(8) + 4;
  rec[DUREC_RECORD + 2] = table;
  rec[DUREC_RECORD + 3] = constraint;
  rec[DUREC_RECORD + 4] = 4;
  rec[DUREC_RECORD + 5] = 9;
  DUAddCheckEntry(base, rec.data(), usr);
  ASSERT_EQ(rec[DUREC_APPEND_STATUS], 0);
}

TEST_F(TransactionControlTest, DeferredChecksAtCommit) {
  struct Case {
    int32_t kind, violation;
  };
  // Kinds -10 to -12 read the tables at the end (row_changes_test.cc); -13
  // is the kernel's answer.
  for (Case c : {Case{-13, -10101}}) {
    SCOPED_TRACE(c.kind);
    ASSERT_EQ(Begin(1), 0);
    AddCheck(base_, usr_, c.kind, 51, 77);
    EXPECT_EQ(W(Tp() + TP_TRANSACTION_CHECK_COUNT), 1);
    // Still violated at the end: the commit is refused and rolled back.
    kernel_.recheck = [](const int32_t* b) { return b[15] == -13 ? 1 : -99; };
    EXPECT_EQ(End(END_AFTER_SUCCESS), c.violation);
    EXPECT_EQ(kernel_.ended.back()[0], 1);
    EXPECT_EQ(W(usr_ + USR_CURRENT_TABLE_SYSID), 51);
    EXPECT_EQ(W(usr_ + USR_CURRENT_CONSTRAINT_SYSID), 77);
    EXPECT_EQ(W(Tp() + TP_TRANSACTION_CHECK_COUNT), 0);
    // Resolved before the end: the commit goes through.
    ASSERT_EQ(Begin(1), 0);
    AddCheck(base_, usr_, c.kind, 51, 77);
    kernel_.recheck = [](const int32_t*) { return 0; };
    EXPECT_EQ(End(END_AFTER_SUCCESS), 0);
    EXPECT_EQ(kernel_.ended.back()[0], 0);
  }
  // A transaction that put nothing off does not read the check set; the one
  // read is the look at the write set before the commit record goes in.
  const int32_t reads = kernel_.Sent(DK_GNS1);
  ASSERT_EQ(Begin(1), 0);
  EXPECT_EQ(End(END_AFTER_SUCCESS), 0);
  EXPECT_EQ(kernel_.Sent(DK_GNS1), reads + 1);
}

}  // namespace
