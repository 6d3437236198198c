// The traversal stack's capacity and list push, and the semantic walk's
// context records and stacks.
#include <gtest/gtest.h>

#include <vector>

#include "sql/front/compile_diag.h"
#include "sql/front/sem_stack.h"
#include "sql/front/stmt_tree.h"
#include "sql/front/trav_stack.h"
#include "sql/front/tests/compile_test_support.h"

namespace {

// Runs f and returns the code of the condition it raised (0 when none).
template <typename F>
int32_t Raised(F f) {
  FakeKernel::conditions.clear();
  try {
    f();
  } catch (const CompileJump&) {
    return FakeKernel::conditions.empty() ? 1 : FakeKernel::conditions.back().code;
  }
  return 0;
}

TEST(TravStack, HoldsTwoThousandFortySevenFrames) {
  FakeKernel kernel;
  TestContext tc;
  for (int32_t i = 1; i <= 2047; ++i) TravPush(&tc.ctx, 3, 1, i);
  EXPECT_EQ(tc.ctx.trav.depth, 2047);
  EXPECT_EQ(Raised([&] { TravPush(&tc.ctx, 3, 1, 0); }), -11107);
  ASSERT_EQ(FakeKernel::conditions.size(), 1u);
  EXPECT_EQ(FakeKernel::conditions[0].severity, 4);
  EXPECT_EQ(FakeKernel::conditions[0].text, "");
  EXPECT_EQ(tc.ctx.trav.depth, 2047);
  TravFrame f = TravPop(&tc.ctx);
  EXPECT_EQ(f.routine, 3);
  EXPECT_EQ(f.node, 2047);
  EXPECT_EQ(tc.ctx.trav.depth, 2046);
}

TEST(TravStack, ListPushVisitsInOrderAndRestoresTheList) {
  FakeKernel kernel;
  TestContext tc;
  qqwsnewblk(&tc.ctx);
  for (int32_t n : {0, 1, 5}) {
    int32_t list = 0;
    for (int32_t i = n; i >= 1; --i) list = qqlcons(&tc.ctx, list, 100 + i);
    std::vector<int32_t> cells;
    for (int32_t c = list; c != 0; c = WsWord(&tc.ctx, c, CELL_NEXT)) cells.push_back(c);
    TravPush(&tc.ctx, 0, 2, 0);  // the sentinel
    int32_t count = -1;
    EXPECT_EQ(qbworklist(&tc.ctx, 9, 1, list, &count), list);
    EXPECT_EQ(count, n);
    std::vector<int32_t> visited;
    for (;;) {
      TravFrame f = TravPop(&tc.ctx);
      if (f.routine == 0) break;
      EXPECT_EQ(f.routine, 9);
      visited.push_back(f.node);
    }
    EXPECT_EQ(tc.ctx.trav.depth, 0);  // the walk ends where it began
    std::vector<int32_t> expected;
    for (int32_t i = 1; i <= n; ++i) expected.push_back(100 + i);
    EXPECT_EQ(visited, expected);
    std::vector<int32_t> after;
    for (int32_t c = list; c != 0; c = WsWord(&tc.ctx, c, CELL_NEXT)) after.push_back(c);
    EXPECT_EQ(after, cells);
  }
}

TEST(TravStack, ListPushThatOverflowsLeavesTheListInOrder) {
  FakeKernel kernel;
  TestContext tc;
  qqwsnewblk(&tc.ctx);
  int32_t list = 0;
  for (int32_t i = 1; i <= 10; ++i) list = qqlcons(&tc.ctx, list, i);
  for (int32_t i = 1; i <= 2040; ++i) TravPush(&tc.ctx, 1, 1, 0);
  int32_t count = -1;
  EXPECT_EQ(Raised([&] { qbworklist(&tc.ctx, 1, 1, list, &count); }), -11107);
  EXPECT_EQ(count, 7);
  int32_t expect = 10;
  for (int32_t c = list; c != 0; c = WsWord(&tc.ctx, c, CELL_NEXT)) {
    EXPECT_EQ(WsWord(&tc.ctx, c, CELL_VALUE), expect--);
  }
  EXPECT_EQ(expect, 0);
}

TEST(SemStack, SixteenBlocksNestAndTheSeventeenthFails) {
  FakeKernel kernel;
  TestContext tc;
  SemContext r;
  qmqinitrec(&tc.ctx, 77, 1, &r);
  EXPECT_EQ(r.w[SEM_LEVEL], -1);
  EXPECT_EQ(qmflagtst(&r, 1), 1);
  EXPECT_EQ(r.w[SEM_EXPR_CONTEXT], 6);
  EXPECT_EQ(r.w[SEM_OWNER], 77);
  for (int32_t i = 0; i < 16; ++i) qmqset(&tc.ctx, 100 + i, &r);
  EXPECT_EQ(r.w[SEM_LEVEL], 15);
  EXPECT_EQ(Raised([&] { qmqset(&tc.ctx, 1, &r); }), -19247);
  EXPECT_EQ(FakeKernel::conditions.back().severity, 5);
  // The saved record of level k was current while level k was analysed.
  SemContext k;
  qmqget(&tc.ctx, &k, 3);
  EXPECT_EQ(k.w[SEM_LEVEL], 3);
  qmqget(&tc.ctx, &k, -5);
  EXPECT_EQ(k.w[SEM_LEVEL], -1);
  EXPECT_EQ(k.w[SEM_OWNER], 77);
  k.w[SEM_GROUPED] = 9;
  qmqput(&tc.ctx, &k, -1);
  for (int32_t i = 0; i < 16; ++i) qmqres(&tc.ctx, &r);
  EXPECT_EQ(r.w[SEM_GROUPED], 9);
  EXPECT_EQ(r.w[SEM_LEVEL], -1);
  EXPECT_EQ(Raised([&] { qmqres(&tc.ctx, &r); }), -19235);
}

TEST(SemStack, NestedBlockFlags) {
  FakeKernel kernel;
  TestContext tc;
  struct Case {
    int32_t flag;     // the statement's flag
    int32_t sets;     // qmqset calls
    int32_t set;      // flag expected set after them
    int32_t cleared;  // flag expected clear
  };
  const Case cases[] = {
      {10, 2, 15, 0},  // directly below an INSERT: 15, not 0
      {10, 3, 0, 7},   // deeper: flag 0
      {1, 1, 1, 0},    // level 0: no flag 0
      {1, 2, 0, 7},
      {2, 1, 3, 2},  // 2 becomes 3
      {4, 1, 5, 4},  // 4 becomes 5
      {7, 1, 6, 7},  // 7 cleared (flag 6 is never set: the check is that 7 is clear)
  };
  for (const Case& c : cases) {
    SemContext r;
    qmqinitrec(&tc.ctx, 1, c.flag, &r);
    r.w[SEM_ITEMS] = 4;
    r.w[SEM_FROM_COUNT] = 3;
    r.w[SEM_GROUPED] = 2;
    for (int32_t i = 0; i < c.sets; ++i) qmqset(&tc.ctx, 50, &r);
    if (c.set != 6) {
      EXPECT_EQ(qmflagtst(&r, c.set), 1) << c.flag << " " << c.sets;
    }
    EXPECT_EQ(qmflagtst(&r, c.cleared), 0) << c.flag << " " << c.sets;
    EXPECT_EQ(r.w[SEM_LEVEL], c.sets - 1);
    EXPECT_EQ(r.w[SEM_ITEMS], 0);
    EXPECT_EQ(r.w[SEM_FROM_COUNT], 3);
    EXPECT_EQ(r.w[SEM_GROUPED], 2);
    EXPECT_EQ(r.w[SEM_OWNER], 50);
  }
  SemContext r;
  qmqinitrec(&tc.ctx, 1, 10, &r);
  qmqset(&tc.ctx, 2, &r);
  qmqset(&tc.ctx, 3, &r);
  EXPECT_EQ(qmflagtst(&r, 0), 0);  // level 1 with flag 10: 15 instead of 0
  EXPECT_EQ(qmflagtst(&r, 15), 1);
}

TEST(SemStack, QueryStackHoldsSixteen) {
  FakeKernel kernel;
  TestContext tc;
  qmqinit(&tc.ctx);
  int32_t q = 0;
  EXPECT_EQ(Raised([&] { qmqrpp(&tc.ctx, &q); }), -19234);
  for (int32_t i = 0; i < 16; ++i) qmqrph(&tc.ctx, i + 1);
  EXPECT_EQ(Raised([&] { qmqrph(&tc.ctx, 99); }), -19246);
  for (int32_t i = 16; i >= 1; --i) {
    qmqrpp(&tc.ctx, &q);
    EXPECT_EQ(q, i);
  }
}

}  // namespace
