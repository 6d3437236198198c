// The transaction statements: the setting each sub-code asks the settings
// handler for, the routine-context guard up the calling chain, and the
// transaction end with its XA guard.
#include <vector>

#include "interp/request_services.h"
#include "interp/transaction_end.h"
#include "interp/tests/interp_fixture.h"

namespace interp {
namespace {

std::vector<int32_t> g_request;
int32_t SetOptions(int32_t*, const int32_t* request) {
  g_request.assign(request, request + 5);
  return 0;
}

class TransactionStatementTest : public InterpTest {
 protected:
  void SetUp() override {
    InterpTest::SetUp();
    table_.set_trans_options = SetOptions;
    previous_ = DAInstallRequestServices(&table_);
    stm_ = Block(STM_BYTES);
    g_request.clear();
  }
  void TearDown() override {
    DAInstallRequestServices(previous_);
    InterpTest::TearDown();
  }
  RequestServiceTable table_;
  const RequestServiceTable* previous_ = nullptr;
  int32_t stm_ = 0;
};

TEST_F(TransactionStatementTest, SubCodesAskForTheirSetting) {
  struct Case {
    int32_t sub_code, cls, value;
  } cases[] = {{1, 6, 2},   {2, 6, 1},   {99, 6, 1},  {3, 7, 2},   {4, 7, 3},
               {5, 9, 31},  {6, 9, 0},   {7, 8, 6},   {10, 8, 9},  {11, 12, 31},
               {12, 12, 0}, {13, 11, 6}, {16, 11, 9}, {17, 13, 44}, {18, 14, 44}};
  for (const Case& c : cases) {
    ASSERT_EQ(DSTransactionStatement(base_, usr_, stm_, c.sub_code, 44), 0);
    EXPECT_EQ(g_request, (std::vector<int32_t>{5, usr_, 0, c.cls, c.value})) << c.sub_code;
  }
}

TEST_F(TransactionStatementTest, RoutineContextUpTheCallingChainIsRefused) {
  const int32_t caller = Block(STM_BYTES), outer = Block(STM_BYTES);
  Wd(base_, stm_, STM_CALLING_STM) = caller;
  Wd(base_, caller, STM_CALLING_STM) = outer;
  for (int32_t visibility : {2, 3}) {
    Wd(base_, outer, STM_VISIBILITY) = visibility;
    EXPECT_EQ(DSTransactionStatement(base_, usr_, stm_, 5, 0), -14024);
  }
  EXPECT_TRUE(g_request.empty());
  Wd(base_, outer, STM_VISIBILITY) = 1;
  EXPECT_EQ(DSTransactionStatement(base_, usr_, stm_, 5, 0), 0);
  DAInstallRequestServices(nullptr);
  EXPECT_EQ(DSTransactionStatement(base_, usr_, stm_, 5, 0), -19040);
}

}  // namespace
}  // namespace interp


namespace interp {
namespace {

TEST_F(TransactionStatementTest, EndOfAnEnlistedBranchNotStartedHereIsRefused) {
  int32_t tp = Block(TP_BYTES);
  Wd(base_, tp, TP_TRANSACTION_STATE) = 1;
  Wd(base_, usr_, USR_TP) = tp;
  Wd(base_, usr_, USR_XAENT) = 1;
  const int32_t caller = Block(STM_BYTES);
  Wd(base_, stm_, STM_CALLING_STM) = caller;
  Wd(base_, caller, STM_STATUS) = 2;
  EXPECT_EQ(DSEndTransactionStatement(base_, usr_, stm_, true), -14013);
  EXPECT_EQ(Wd(base_, usr_, USR_RVEC_RCODE), -14013);
  EXPECT_EQ(Wd(base_, caller, STM_STATUS), 2);
  // Backup scope ends nothing, but the chain runs again.
  Wd(base_, tp, TP_FTR_START) = 82;
  Wd(base_, tp, TP_TRANSACTION_SCOPE) = 4;
  EXPECT_EQ(DSEndTransactionStatement(base_, usr_, stm_, true), 0);
  EXPECT_EQ(Wd(base_, usr_, USR_TRANSACTION_ENDED), 1);
  EXPECT_EQ(Wd(base_, stm_, STM_STATUS), 3);
  EXPECT_EQ(Wd(base_, caller, STM_STATUS), 3);
  Wd(base_, usr_, USR_TP) = 0;
  Wd(base_, usr_, USR_XAENT) = 0;
}

}  // namespace
}  // namespace interp
