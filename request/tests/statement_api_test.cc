// DSSelStm and DSPrepStm over the kernel's statements: selection numbers
// the runs of a session's transaction, a preparation whose open fails
// closes its statement again and leaves the session's result vector as the
// open left it.
#include <vector>

#include "dict/statement_prepare.h"
#include "kernel/statements.h"
#include "kernel/tests/core_fixture.h"
#include "request/statement_api.h"

namespace {

int32_t g_open_status = 0;
int32_t Opens(int32_t* base, int32_t usr, int32_t) {
  if (g_open_status != 0) Wd(base, usr, USR_RVEC_RCODE) = g_open_status;
  return g_open_status;
}

class StatementApiTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    services_.open_com_tables = Opens;
    g_open_status = 0;
    usr_ = sys_ + SYS_USR_START;
  }
  int32_t Prep(int32_t* pb) {
    const DDStmtImage& im = *DDImageByName("DDChkTrigger");
    return DSPrepStm(base_, pb, -230, im.header, im.header_length, im.body, im.body_length);
  }
  int32_t usr_ = 0;
};

TEST_F(StatementApiTest, SelectionMarksTheStatementAndNumbersItsRun) {
  int32_t pb[3] = {5, usr_, 0};
  ASSERT_EQ(Prep(pb), 0);
  ASSERT_NE(pb[2], 0);
  const int32_t stm = pb[2];
  pb[0] = 9;
  EXPECT_EQ(DSSelStm(base_, pb), 1);  // no transaction: 1
  EXPECT_EQ(pb[0], 0);
  EXPECT_EQ(W(stm, STM_STATUS), STM_SELECTED);
  EXPECT_EQ(W(stm, STM_CURSOR_ORDER_NUMBER), 1);
  int32_t bad[3] = {0, usr_, 0};
  DSSelStm(base_, bad);
  EXPECT_EQ(bad[0], KERNEL_BAD_HANDLE);
  int32_t s = stm;
  EXPECT_EQ(DSCloseStm(base_, usr_, &s), 0);
}

TEST_F(StatementApiTest, AFailingOpenClosesTheStatementAndKeepsTheResultVector) {
  const int64_t live = Live();
  const int32_t statements = W(sys_, SYS_ST_STATEMENTS);
  W(sys_, SYS_MODE) = -242;  // no shared program: everything is the statement's
  g_open_status = -10500;
  W(usr_, USR_RVEC_TNAME) = 0;
  int32_t pb[3] = {0, usr_, 77};
  EXPECT_EQ(Prep(pb), -10500);
  EXPECT_EQ(pb[0], -10500);
  EXPECT_EQ(pb[2], 0);
  EXPECT_EQ(W(usr_, USR_RVEC_RCODE), -10500);
  EXPECT_EQ(W(sys_, SYS_ST_STATEMENTS), statements);
  EXPECT_EQ(Live(), live);
  EXPECT_EQ(W(W(usr_, USR_LVL), LVL_STM), 0);
}

}  // namespace
