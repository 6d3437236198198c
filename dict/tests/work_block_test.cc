// Dictionary work over record access's real transactions: the work block
// and its prepared statements across a second begin, the old client's
// transaction start, the end without a block, the folding into the user's
// own transaction, the refusals, and a block without slot table.
#include <cstring>

#include "dict/statement_prepare.h"
#include "dict/work_block.h"
#include "dict/tests/work_fixture.h"
#include "kernel/upper_services.h"
#include "kernel/word_storage.h"

namespace {

TEST_F(WorkTest, ASecondBeginKeepsTheBlockAndItsStatements) {
  ASSERT_EQ(BegWork(), 0);
  EXPECT_EQ(Scope(), DD_SCOPE_DICTIONARY);
  const int32_t ucom = Ucom();
  ASSERT_NE(ucom, 0);
  EXPECT_EQ(W(ucom + DDUCOM_LEVEL_LENGTH), 4);
  EXPECT_EQ(W(ucom + DDUCOM_SCHEMA_LENGTH), 4);
  EXPECT_EQ(std::memcmp(&W(ucom + DDUCOM_SCHEMA), "ADAM    ", 8), 0);
  EXPECT_EQ(W(thr_ + THR_USR_START + USR_TP), W(usr_ + USR_TP));
  int32_t status = 0;
  int32_t* slot = DDWorkSlot(base_, usr_, SLOT_DDChkTrigger, &status);
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(slot[SLOT_STM], 0);
  slot[SLOT_STATUS] = PREPARE_NO_BIND;
  slot[SLOT_OWNER] = usr_;
  DDPrepareImage(base_, slot, kStmtImages[IMAGE_DDChkTrigger]);
  const int32_t stm = slot[SLOT_STM];
  ASSERT_NE(stm, 0);
  const int32_t statements = W(sys_ + SYS_ST_STATEMENTS);
  ASSERT_EQ(BegWork(), 0);
  EXPECT_EQ(Ucom(), ucom);
  EXPECT_EQ(DDWorkSlot(base_, usr_, SLOT_DDChkTrigger, &status)[SLOT_STM], stm);
  EXPECT_EQ(Scope(), DD_SCOPE_DICTIONARY);
  // An old client's end commits: the transaction ends and the block goes
  // with every statement.
  Protocol(21);
  EXPECT_EQ(EndWork(0), 0);
  EXPECT_EQ(Ucom(), 0);
  EXPECT_EQ(W(sys_ + SYS_ST_STATEMENTS), statements - 1);
  EXPECT_EQ(Scope(), 0);
  EXPECT_EQ(W(thr_ + THR_USR_START + USR_TP), 0);
}

TEST_F(WorkTest, AnOldClientFindsItsTransactionStartAgain) {
  W(usr_ + USR_TRANSACTION_START) = 2;
  Protocol(21);
  EXPECT_EQ(BegWork(), 0);
  EXPECT_EQ(W(usr_ + USR_TRANSACTION_START), 2);
  EXPECT_EQ(EndWork(1), 0);
  // A failing begin restores it too.
  W(usr_ + USR_XAENT) = 1;
  EXPECT_EQ(BegWork(), DD_XA_ACTIVE);
  EXPECT_EQ(W(usr_ + USR_TRANSACTION_START), 2);
  W(usr_ + USR_XAENT) = 0;
  // A newer client that starts its transactions itself gets no transaction.
  Protocol(22);
  EXPECT_EQ(BegWork(), DU_NO_TRANSACTION);
  EXPECT_EQ(W(usr_ + USR_TRANSACTION_START), 2);
  EXPECT_EQ(Ucom(), 0);
}

TEST_F(WorkTest, EndWithoutABlockEndsNothing) {
  ASSERT_EQ(Begin(1), 0);
  const int32_t tp = W(usr_ + USR_TP);
  EXPECT_EQ(EndWork(0), DD_NO_WORK_BLOCK);
  EXPECT_EQ(W(usr_ + USR_TP), tp);
  EXPECT_NE(DSGetTransState(base_, usr_), 0);
  int32_t pb[2] = {0, usr_};
  DDDelUcom(base_, pb);
  EXPECT_EQ(pb[0], DD_NO_WORK_BLOCK);
}

TEST_F(WorkTest, AClientThatKeepsItsTransactionFindsItOpenInItsOwnScope) {
  ASSERT_EQ(BegWork(), 0);
  const int32_t tp = W(usr_ + USR_TP);
  EXPECT_EQ(EndWork(0), 0);
  EXPECT_EQ(Ucom(), 0);
  EXPECT_EQ(W(usr_ + USR_TP), tp);
  EXPECT_EQ(Scope(), DD_SCOPE_USER);
  // Work begun inside the user's transaction ends it first: a request the
  // request interface serves, which is not installed here.
  EXPECT_EQ(BegWork(), KERNEL_SERVICE_ABSENT);
  EXPECT_EQ(Ucom(), 0);
}

TEST_F(WorkTest, AFailedWorkInAKeptTransactionRollsBackToItsMark) {
  ASSERT_EQ(BegWork(), 0);
  EXPECT_EQ(EndWork(1), 0);
  EXPECT_EQ(Ucom(), 0);
  EXPECT_EQ(Scope(), DD_SCOPE_DICTIONARY);
}

TEST_F(WorkTest, RefusedScopesAndAMissingThread) {
  ASSERT_EQ(Begin(1), 0);
  for (int32_t scope : {1, 4}) {
    W(W(usr_ + USR_TP) + TP_TRANSACTION_SCOPE) = scope;
    EXPECT_EQ(BegWork(), DD_SCOPE_REFUSED) << scope;
    EXPECT_EQ(Ucom(), 0);
  }
  W(W(usr_ + USR_TP) + TP_TRANSACTION_SCOPE) = 0;
  StatusPair st{};
  mdr_tls_set(&st, 0, TLS_SLOT_THR);
  EXPECT_EQ(BegWork(), DD_NO_THREAD);
  EXPECT_EQ(Ucom(), 0);
}

// A block whose slot table could not be had is released without a slot
// walk, and its functions answer -11002.
TEST_F(WorkTest, ABlockWithoutSlotTable) {
  ASSERT_EQ(BegWork(), 0);
  int32_t slots = W(Ucom() + DDUCOM_SLOTS);
  DSGetMem(base_, &slots, 0);
  W(Ucom() + DDUCOM_SLOTS) = 0;
  int32_t status = 0;
  EXPECT_EQ(DDWorkSlot(base_, usr_, 3, &status), nullptr);
  EXPECT_EQ(status, SQLPOOL_EXHAUSTED_ERROR);
  EXPECT_EQ(EndWork(0), 0);
  EXPECT_EQ(Ucom(), 0);
  EXPECT_EQ(DDWorkSlot(base_, usr_, 3, &status), nullptr);
  EXPECT_EQ(status, DD_NO_WORK_BLOCK);
}

// The release gives back every block left on the work block's chains (a
// list of the databank utilities whose last call never came, the further
// blocks of the work): the storage holds what it held before the work.
TEST_F(WorkTest, TheReleaseFreesTheBlocksLeftOnItsChains) {
  const int64_t before = DSPoolSize(base_, sqlpool::ITEM_BYTES_USED);
  int32_t pb[2] = {0, usr_};
  DDCreUcom(base_, pb);
  ASSERT_EQ(pb[0], 0);
  for (const int32_t field : {DDUCOM_UTILITY_CHAIN, DDUCOM_CHAIN}) {
    for (int k = 0; k < 3; ++k) {
      int32_t block = 0;
      DSGetMem(base_, &block, 276);
      ASSERT_NE(block, 0);
      W(block) = W(Ucom() + field);  // its NEXT link
      W(Ucom() + field) = block;
    }
  }
  EXPECT_GT(DSPoolSize(base_, sqlpool::ITEM_BYTES_USED), before);
  DDDelUcom(base_, pb);
  EXPECT_EQ(pb[0], 0);
  EXPECT_EQ(Ucom(), 0);
  EXPECT_EQ(DSPoolSize(base_, sqlpool::ITEM_BYTES_USED), before);
}

TEST_F(WorkTest, TheUserNameIsTheLevelName) {
  uint8_t name[128];
  int32_t length = 0, pb[2] = {9, usr_};
  EXPECT_EQ(DDGetUserName(base_, pb, name, &length), 4);
  EXPECT_EQ(length, 4);
  EXPECT_EQ(pb[0], 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name), 6), "ADAM  ");
}

}  // namespace
