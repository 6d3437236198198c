// The transaction end request and the session settings list: the XA guard,
// the backup scope, attributes applied in order up to the first failure.
#include "request/transaction_requests.h"

#include <vector>

#include "interp/request_services.h"
#include "kernel/tests/core_fixture.h"
#include "kernel/word_storage.h"

namespace {

class TransactionRequestTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    usr_ = sys_ + SYS_USR_START;
  }
  int32_t Tp(int32_t scope, int32_t started) {
    int32_t tp = 0;
    DSGetMem(base_, &tp, TP_BYTES);
    EXPECT_NE(tp, 0);
    Wd(base_, tp, TP_TRANSACTION_SCOPE) = scope;
    Wd(base_, tp, TP_FTR_START) = started;
    Wd(base_, tp, TP_TRANSACTION_STATE) = 1;
    return tp;
  }
  int32_t usr_ = 0;
};

TEST_F(TransactionRequestTest, EnlistedBranchNotStartedHereIsRefusedAndBackupScopeDoesNothing) {
  Wd(base_, usr_, USR_XAENT) = 1;
  Wd(base_, usr_, USR_TP) = Tp(4, 0);
  int32_t request[6] = {0, 0, 0, 0, usr_, 0};
  EXPECT_EQ(DSTransEndReq(base_, request), -14013);
  Wd(base_, usr_, USR_TP) = Tp(4, 82);
  EXPECT_EQ(DSTransEndReq(base_, request), 0);
  Wd(base_, usr_, USR_TP) = Tp(2, 0);
  EXPECT_EQ(DSCommit(base_, request, 6), -14013);
  EXPECT_EQ(Wd(base_, usr_, USR_RVEC_RCODE), -14013);
}

TEST_F(TransactionRequestTest, AttributesApplyInOrderUpToTheFirstFailure) {
  struct Case {
    std::vector<int32_t> pairs;
    int32_t result, opcode;
  } cases[] = {
      {{6, 2, 8, 5}, -18020, 5},
      {{16, 1}, -18020, 16},
      {{13, 0}, -14651, 0},
      {{11, 7, 12, 31, 14, 4, 15, 0, 10, 90, 7, 3}, 0, 0},
  };
  for (const Case& c : cases) {
    Wd(base_, usr_, USR_TRANSACTION_START) = 1;
    Wd(base_, usr_, USR_RVEC_OPCODE) = 0;
    std::vector<int32_t> request = {0, 0, 0, 0, usr_, static_cast<int32_t>(c.pairs.size() + 3), 0, 0};
    request.insert(request.end(), c.pairs.begin(), c.pairs.end());
    EXPECT_EQ(DSCommit(base_, request.data(), static_cast<int32_t>(request.size())), c.result);
    EXPECT_EQ(Wd(base_, usr_, USR_RVEC_OPCODE), c.opcode);
    if (c.result != 0) {
      EXPECT_EQ(Wd(base_, usr_, USR_RVEC_RCODE), c.result);
    }
  }
  EXPECT_EQ(Wd(base_, usr_, USR_TRANSACTION_START), 1);
  EXPECT_EQ(Wd(base_, usr_, USR_SESSION_ISOLATION_LEVEL), 7);
  EXPECT_EQ(Wd(base_, usr_, USR_NEXT_ISOLATION_LEVEL), 7);
  EXPECT_EQ(Wd(base_, usr_, USR_NEXT_READ_WRITE_MODE), 31);
  EXPECT_EQ(Wd(base_, usr_, USR_SESS_DIAG_SIZE), 4);
  EXPECT_EQ(Wd(base_, usr_, USR_TRANSACTION_AUTOCOMMIT), 90);
  EXPECT_EQ(Wd(base_, usr_, USR_TRANSACTION_VIEW), 3);
  // (6, 2) then a bad value: the first pair stays set.
  std::vector<int32_t> request = {0, 0, 0, 0, usr_, 7, 0, 0, 6, 2, 8, 5};
  EXPECT_EQ(DSCommit(base_, request.data(), static_cast<int32_t>(request.size())), -18020);
  EXPECT_EQ(Wd(base_, usr_, USR_TRANSACTION_START), 2);
  // A list shorter than one pair changes nothing.
  request = {0, 0, 0, 0, usr_, 4, 0, 0, 6, 1};
  EXPECT_EQ(DSCommit(base_, request.data(), static_cast<int32_t>(request.size())), 0);
  EXPECT_EQ(Wd(base_, usr_, USR_TRANSACTION_START), 2);
}

TEST_F(TransactionRequestTest, AListLongerThanItsBlockIsRefusedBeforeAnythingIsSet) {
  Wd(base_, usr_, USR_TRANSACTION_START) = 1;
  // Word 5 names two pairs; the block holds one.
  std::vector<int32_t> request = {0, 0, 0, 0, usr_, 7, 0, 0, 6, 2};
  EXPECT_EQ(DSCommit(base_, request.data(), static_cast<int32_t>(request.size())), -19078);
  EXPECT_EQ(Wd(base_, usr_, USR_RVEC_RCODE), -19078);
  EXPECT_EQ(Wd(base_, usr_, USR_TRANSACTION_START), 1);
  // A block too short for its session word.
  EXPECT_EQ(DSCommit(base_, request.data(), 5), -19078);
  // A huge length never wraps into an accepted one.
  request[5] = 0x7fffffff;
  EXPECT_EQ(DSCommit(base_, request.data(), static_cast<int32_t>(request.size())), -19078);
}

}  // namespace

namespace {

TEST_F(TransactionRequestTest, RuntimeTransactionStatementsReachTheSession) {
  RequestInstallRuntimeServices();
  int32_t stm = 0;
  DSGetMem(base_, &stm, STM_BYTES);
  ASSERT_NE(stm, 0);
  EXPECT_EQ(interp::DSTransactionStatement(base_, usr_, stm, 5, 0), 0);
  EXPECT_EQ(Wd(base_, usr_, USR_NEXT_READ_WRITE_MODE), 31);
  EXPECT_EQ(interp::DSTransactionStatement(base_, usr_, stm, 17, 12), 0);
  EXPECT_EQ(Wd(base_, usr_, USR_TRAN_DIAG_SIZE), 12);
  EXPECT_EQ(interp::DSTransactionStatement(base_, usr_, stm, 17, 0), -14651);
  interp::DAInstallRequestServices(nullptr);
}

}  // namespace
