// Statements bound to the user's transaction: the automatic begin, the
// read-only rule on the databanks a statement touches, scope 4, and a
// statement-owned transaction parked on its statement and resumed.
#include <gtest/gtest.h>

#include "du/tests/record_access_fixture.h"

namespace {

class StatementTransactionTest : public RecordAccessTest {
 protected:
  int32_t Start(int32_t stm, int32_t usr = 0) {
    int32_t status = 99;
    DSStmStartTrans(base_, &status, stm, usr ? usr : usr_);
    return status;
  }
};

TEST_F(StatementTransactionTest, ReadOnlyTransactionLetsSelectsReadAndRefusesWrites) {
  const int32_t trs = NewTrs(usr_, NewDatabank(5, 3));
  W(usr_ + USR_NEXT_READ_WRITE_MODE) = READ_ONLY_MODE;
  ASSERT_EQ(Begin(1), 0);

  const int32_t select = NewStatement(usr_, 1);
  SetAccess(select, {{trs, 3}});
  EXPECT_EQ(Start(select), 0);
  EXPECT_EQ(W(trs + TRS_STATUS), 1);  // raised to read only
  EXPECT_EQ(W(select + STM_TP), Tp());

  const int32_t update = NewStatement(usr_, 2);
  SetAccess(update, {{trs, 3}});
  EXPECT_EQ(Start(update), DU_READ_ONLY);
  EXPECT_EQ(W(usr_ + USR_RVEC_RCODE), DU_READ_ONLY);
  EXPECT_EQ(W(trs + TRS_STATUS), 1);

  int32_t pb[1];
  EXPECT_EQ(DSChkTransWritable(base_, pb, usr_), DU_READ_ONLY);
}

TEST_F(StatementTransactionTest, ScopeFourAndABlockOfAnotherTransaction) {
  const int32_t trs = NewTrs(usr_, NewDatabank(5, 3));
  ASSERT_EQ(Begin(1), 0);
  int32_t status = 0;
  DSSetTransScope(base_, &status, usr_, 4);
  const int32_t stm = NewStatement(usr_, 2);
  SetAccess(stm, {{trs, 3}});
  EXPECT_EQ(Start(stm), DU_SCOPE_NO_STATEMENT);
  DSSetTransScope(base_, &status, usr_, 1);
  W(stm + STM_TP) = Tp() + 1;
  EXPECT_EQ(Start(stm), DU_OTHER_TRANSACTION);
  W(stm + STM_TP) = 0;
  EXPECT_EQ(Start(stm), 0);
  EXPECT_EQ(W(trs + TRS_STATUS), 3);
}

TEST_F(StatementTransactionTest, StartWithoutTransactionByTheStartRule) {
  const int32_t trs = NewTrs(usr_, NewDatabank(5, 3));
  W(usr_ + USR_TRANSACTION_START) = 2;
  const int32_t reader = NewStatement(usr_, 1);
  SetAccess(reader, {{trs, 1}});
  EXPECT_EQ(Start(reader), 0);
  EXPECT_EQ(Tp(), 0);
  const int32_t writer = NewStatement(usr_, 2);
  SetAccess(writer, {{trs, 3}});
  EXPECT_EQ(Start(writer), DU_NO_TRANSACTION);

  W(usr_ + USR_TRANSACTION_START) = 1;  // now the start begins one
  EXPECT_EQ(Start(writer), 0);
  ASSERT_NE(Tp(), 0);
  EXPECT_EQ(W(Tp() + TP_FTR_START), BEGIN_AUTOMATIC);
  EXPECT_EQ(DSGetTransScope(base_, usr_), 1);
  EXPECT_EQ(W(trs + TRS_STATUS), 3);
}

TEST_F(StatementTransactionTest, ScopeTwoEndsTheTransactionAtTheNextStart) {
  const int32_t trs = NewTrs(usr_, NewDatabank(5, 3));
  ASSERT_EQ(Begin(1), 0);
  int32_t status = 0;
  DSSetTransScope(base_, &status, usr_, 2);
  const int32_t stm = NewStatement(usr_, 1);
  SetAccess(stm, {{trs, 1}});
  EXPECT_EQ(Start(stm), 0);
  EXPECT_EQ(kernel_.ended.size(), 1u);
  EXPECT_EQ(W(Tp() + TP_TRANSACTION_STATE), 1);  // begun again by the start
}

TEST_F(StatementTransactionTest, ParkedOwnedTransactionKeepsItsKernelEntry) {
  W(usr_ + USR_TRANSACTION_AUTOCOMMIT) = 89;
  const int32_t outer_trs = NewTrs(usr_, NewDatabank(5, 3));
  const int32_t stm = NewStatement(usr_, 2);
  SetAccess(stm, {{outer_trs, 3}});

  int32_t pb[4] = {0, usr_, stm, 0};
  DSStmResumeTrans(base_, pb);
  ASSERT_EQ(pb[0], 0);
  const int32_t owned = Tp();
  ASSERT_NE(owned, 0);
  EXPECT_EQ(W(owned + TP_OWNER_STM), stm);
  ASSERT_EQ(Start(stm), 0);
  const int32_t tss = W(owned + TP_TSS);
  EXPECT_EQ(W(outer_trs + TRS_STATUS), 3);

  // Parked between requests: off the stack, the entries saved in it.
  int32_t access = 1;
  pb[0] = 0;
  pb[3] = 1;
  DSStmParkTrans(base_, pb, 37, &access);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(Tp(), 0);
  EXPECT_EQ(W(stm + STM_TP), owned);
  EXPECT_EQ(W(outer_trs + TRS_STATUS), 0);
  EXPECT_EQ(kernel_.open_tss, 1);

  // Resumed: back on the stack with its kernel entry and its entries.
  pb[0] = 0;
  pb[3] = 0;
  DSStmResumeTrans(base_, pb);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(Tp(), owned);
  EXPECT_EQ(W(owned + TP_TSS), tss);
  EXPECT_EQ(W(outer_trs + TRS_STATUS), 3);

  // Done: committed with 86.
  pb[0] = 0;
  DSEndStmTrans(base_, pb);
  EXPECT_EQ(pb[0], 0);
  EXPECT_EQ(kernel_.open_tss, 0);
  EXPECT_EQ(kernel_.ended.back()[0], 0);
}

TEST_F(StatementTransactionTest, SaveWithCode103OnlyFreesStaleCopies) {
  const int32_t trs = NewTrs(usr_, NewDatabank(5, 3));
  ASSERT_EQ(Begin(1), 0);
  W(trs + TRS_STATUS) = 3;
  int32_t pb[4] = {0, usr_, 0, 0};
  DSSaveTrs(base_, pb);
  ASSERT_EQ(pb[0], 0);
  EXPECT_NE(W(Tp() + TP_SAVE_TRS), 0);
  EXPECT_EQ(W(trs + TRS_STATUS), 0);
  W(trs + TRS_STATUS) = 1;
  pb[3] = 103;
  DSSaveTrs(base_, pb);
  EXPECT_EQ(W(Tp() + TP_SAVE_TRS), 0);
  EXPECT_EQ(W(Tp() + TP_SAVE_STATE), 1);
  EXPECT_EQ(W(trs + TRS_STATUS), 1);

  pb[3] = 0;
  W(Tp() + TP_TRANSACTION_STATE) = 1;
  DSSaveTrs(base_, pb);
  W(trs + TRS_STATUS) = 0;
  DSRestoreTrs(base_, pb);
  EXPECT_EQ(W(trs + TRS_STATUS), 1);
  EXPECT_EQ(W(Tp() + TP_SAVE_STATE), 0);
}

TEST_F(StatementTransactionTest, AHeldReadOnlyStatementGetsNoOwnedTransaction) {
  W(usr_ + USR_TRANSACTION_AUTOCOMMIT) = 89;
  const int32_t stm = NewStatement(usr_, 1);
  W(stm + STM_WITH_HOLD) = 2;
  int32_t pb[4] = {0, usr_, stm, 0};
  DSStmResumeTrans(base_, pb);
  EXPECT_EQ(pb[0], 0);
  EXPECT_EQ(Tp(), 0);
}

TEST_F(StatementTransactionTest, EndClosesOpenCursorsOfTheTransaction) {
  ASSERT_EQ(Begin(1), 0);
  const int32_t cursor = NewStatement(usr_, 1);
  const int32_t held = NewStatement(usr_, 1);
  W(cursor + STM_STATUS) = 3;
  W(cursor + STM_TP) = Tp();
  W(held + STM_STATUS) = 3;
  W(held + STM_WITH_HOLD) = 1;
  W(held + STM_TP) = Tp();
  EXPECT_EQ(End(END_CLIENT_COMMIT), 0);
  EXPECT_EQ(W(cursor + STM_STATUS), 7);
  EXPECT_EQ(W(held + STM_STATUS), 3);
  EXPECT_EQ(W(cursor + STM_TP), 0);
}

TEST_F(StatementTransactionTest, RequestTransCheckEndsAStatementsOwnTransaction) {
  W(usr_ + USR_TRANSACTION_AUTOCOMMIT) = 89;
  const int32_t stm = NewStatement(usr_, 2);
  int32_t pb[4] = {0, usr_, stm, 0};
  DSStmResumeTrans(base_, pb);
  ASSERT_EQ(pb[0], 0);
  W(stm + STM_TP) = Tp();
  W(stm + STM_STATUS) = 3;
  int32_t check[3] = {0, usr_, stm};
  DSReqTransCheck(base_, check);
  EXPECT_EQ(check[0], 0);
  EXPECT_EQ(upper_.work_ends, 1);
  EXPECT_EQ(kernel_.open_tss, 0);  // committed
  EXPECT_EQ(W(Tp()), 0);           // and never linked to itself
  W(stm + STM_STATUS) = 1;         // linked, not run: nothing to do
  DSReqTransCheck(base_, check);
  EXPECT_EQ(upper_.work_ends, 1);
  // A statement of no level of the user is an invalid handle.
  const int32_t other = NewUser();
  check[1] = other;
  DSReqTransCheck(base_, check);
  EXPECT_EQ(check[0], -19039);
  check[2] = 0;
  DSReqTransCheck(base_, check);
  EXPECT_EQ(check[0], -19039);
}

}  // namespace
