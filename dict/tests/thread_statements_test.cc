// A kernel thread made over the dictionary's real statement images and the
// catalog's tables: DSCreateThr prepares and opens the thread's eight
// operator statements and DSFreeThr closes them again.
#include <gtest/gtest.h>

#include "dict/statement_prepare.h"
#include "dict/statement_run.h"
#include "dict/tests/lookup_fixture.h"
#include "kernel/thread_blocks.h"

namespace {

class ThreadStatementsTest : public CatalogRowsTest {
 protected:
  void SetUp() override {
    SetUpCatalog({11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 22, 23, 25, 26, 27, 29, 32, 33, 39,
                  40, 41, 44, 48, 49, 50, 51, 54, 55, 56});
    if (HasFatalFailure()) return;
    ASSERT_EQ(CreateSysLists(base_, sys_), 0);
    kernel_services_.damae2 = [](int32_t* base, int32_t* result, int32_t stm, int32_t usr) {
      result[0] = DDExecStm(base, usr, stm);
    };
    kernel_services_.dd_stmt_image = DDStmtImageOf;
  }
};

// The fixture's SYS once lacked its semaphores and DSCreateThr waited for
// ever on SYS S.
TEST_F(ThreadStatementsTest, ThreadGetsItsOperatorStatementsAndGivesThemBack) {
  int32_t status = -1, thr = 0;
  DSCreateThr(base_, &status, &thr);
  ASSERT_EQ(status, 0);
  ASSERT_NE(thr, 0);
  for (int32_t slot = THR_STM_MOS_DATABANK; slot < THR_STM_MOS_DATABANK + 8; ++slot)
    EXPECT_NE(W(thr + slot), 0) << slot;
  EXPECT_EQ(W(sys_ + SYS_THR), thr);
  DSFreeThr(base_, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(W(sys_ + SYS_THR), 0);
}

}  // namespace
