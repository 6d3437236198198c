// A database made by hbcreate, started in mode 1 and logged into.
#include <gtest/gtest.h>

#include "kernel/control_blocks.h"
#include "kernel/system_block.h"
#include "server/testing/started_database.h"

namespace {

class StartedTest : public StartedDatabaseTest {
 protected:
  int32_t& W(int64_t b, int32_t n) { return sqlpool_word(base_, b + n); }
};

TEST_F(StartedTest, StartsInModeOne) {
  const int32_t sys = KernelSys(base_);
  ASSERT_NE(sys, 0);
  EXPECT_EQ(W(sys, SYS_SYSTEM_STATUS), 0);
  EXPECT_EQ(W(sys, SYS_MODE), 1);
}

}  // namespace
