// Marks outside a transaction: numbered by the session, kept in its stacked
// list in the order they were set; a rollback outside a transaction does
// nothing.
#include "interp/marks.h"

#include "interp/tests/interp_fixture.h"

namespace interp {
namespace {

using MarksTest = InterpTest;

TEST_F(MarksTest, OutsideATransactionMarksAreStackedInOrder) {
  int32_t first = 0, second = 0;
  Wd(base_, usr_, USR_MARK_ID) = 6;
  ASSERT_EQ(DSSetMark(base_, usr_, &first), 0);
  ASSERT_EQ(DSSetMark(base_, usr_, &second), 0);
  EXPECT_EQ(first, 7);
  EXPECT_EQ(second, 8);
  const int32_t head = Wd(base_, usr_, USR_STACKED_MARK);
  ASSERT_NE(head, 0);
  EXPECT_EQ(Wd(base_, head, 1), 7);
  const int32_t next = Wd(base_, head, 0);
  ASSERT_NE(next, 0);
  EXPECT_EQ(Wd(base_, next, 1), 8);
  EXPECT_EQ(Wd(base_, next, 0), 0);
  EXPECT_EQ(DSRollbackMark(base_, usr_, &second), 0);
  EXPECT_EQ(second, 8);
}

}  // namespace
}  // namespace interp
