// The statement workspace: block chain, allocation references and alignment,
// block selection errors, top blocks, and growth by restart.
#include "sql/front/compile_context.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <vector>

#include "kernel/word_storage.h"
#include "sql/front/compile_diag.h"
#include "sql/front/tests/compile_test_support.h"

namespace {

// Runs f and returns the error code of the jump it ends in, or 0 without one.
template <typename F>
int32_t JumpCode(SqlCompileCtx* ctx, F f) {
  try {
    f();
  } catch (const CompileJump&) {
    return ctx->error_code;
  }
  return 0;
}

TEST(Workspace, FirstReferenceOfAFreshBlockIs16) {
  FakeKernel k;
  TestContext t;
  EXPECT_EQ(qqwsnewblk(&t.ctx), 1);
  EXPECT_EQ(qqwsal(&t.ctx, 10), 16);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(t.ctx.ws.base) % 8, 0u);
}

TEST(Workspace, OneByteAdvancesUsedByFourAndDoublesAlignToEight) {
  FakeKernel k;
  TestContext t;
  qqwsnewblk(&t.ctx);
  EXPECT_EQ(qqwsal(&t.ctx, 1), 16);
  EXPECT_EQ(t.ctx.ws.used, 20);
  EXPECT_EQ(qqdbal(&t.ctx, 8), 24);
  EXPECT_EQ(qqwsal(&t.ctx, 4), 32);
  EXPECT_EQ(WsBlock(&t.ctx, 1)[WSB_USED], 36);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(qqwsadr(&t.ctx, 24)) % 8, 0u);
}

TEST(Workspace, SecondBlockFollowsTheFirstAtAnEightByteBoundary) {
  FakeKernel k;
  TestContext t;
  qqwsnewblk(&t.ctx);
  qqwsal(&t.ctx, 5);  // used 24
  int32_t second = qqwsnewblk(&t.ctx);
  EXPECT_EQ(second, 33);
  EXPECT_EQ(WsBlock(&t.ctx, 1)[WSB_LINK], 33);
  EXPECT_EQ(qqwsal(&t.ctx, 4), 16);
  qqwswb(&t.ctx, 1);
  EXPECT_EQ(qqwscur(&t.ctx), 1);
  // The first block is no longer the newest: allocating there is a defect.
  EXPECT_EQ(JumpCode(&t.ctx, [&] { qqwsal(&t.ctx, 4); }), -1);
  ASSERT_EQ(FakeKernel::conditions.size(), 1u);
  EXPECT_EQ(FakeKernel::conditions[0].code, -19202);
  EXPECT_EQ(FakeKernel::conditions[0].severity, 5);
  EXPECT_EQ(FakeKernel::conditions[0].text, "N\tQST: qqwsal");
  qqwswb(&t.ctx, 33);
  EXPECT_EQ(qqwsal(&t.ctx, 4), 20);
}

TEST(Workspace, AnAllocationTooLargeForAnOlderBlockIsStillAnInternalError) {
  // A growth cannot help there (the block stays an older one); a count the
  // workspace can never hold would double it in every attempt until the
  // storage ran out.
  for (int32_t n : {200000, INT32_MAX}) {
    FakeKernel k;
    TestContext t;
    qqwsnewblk(&t.ctx);
    qqwsnewblk(&t.ctx);
    qqwswb(&t.ctx, 1);
    int32_t size = t.ctx.workspace_size;
    EXPECT_EQ(JumpCode(&t.ctx, [&] { qqwsal(&t.ctx, n); }), -1) << n;
    EXPECT_EQ(t.ctx.workspace_grown, 0) << n;
    EXPECT_EQ(t.ctx.workspace_size, size) << n;
    ASSERT_EQ(FakeKernel::conditions.size(), 1u) << n;
    EXPECT_EQ(FakeKernel::conditions[0].code, -19202) << n;
  }
}

TEST(Workspace, SelectingAMissingBlockIsAnInternalError) {
  struct Case {
    bool open;
    int32_t block;
    int32_t code;
  };
  for (Case c : {Case{false, 1, -19223}, Case{true, 9, -19217}, Case{true, -5, -19217}}) {
    FakeKernel k;
    TestContext t;
    if (c.open) qqwsnewblk(&t.ctx);
    EXPECT_EQ(JumpCode(&t.ctx, [&] { qqwswb(&t.ctx, c.block); }), -1);
    ASSERT_EQ(FakeKernel::conditions.size(), 1u);
    EXPECT_EQ(FakeKernel::conditions[0].code, c.code);
    EXPECT_EQ(FakeKernel::conditions[0].text, "N\tQST: qqwswb");
  }
  FakeKernel k;
  TestContext t;
  qqwswb(&t.ctx, 0);  // offset 0 selects nothing, even without blocks
  EXPECT_TRUE(FakeKernel::conditions.empty());
}

TEST(Workspace, TopBlocksStackBelowTheLimitAndPopOnlyFromTheHead) {
  FakeKernel k;
  TestContext t(1000);
  int32_t bottom = qqwsnewblk(&t.ctx);
  int32_t limit = t.ctx.ws.top_limit;
  int32_t a = WorkspacePushTop(&t.ctx, 40);
  EXPECT_EQ(a, (limit - 52) / 8 * 8 + 1);
  EXPECT_EQ(WsBlock(&t.ctx, a)[WST_LINK], bottom);
  int32_t b = WorkspacePushTop(&t.ctx, 10);
  EXPECT_EQ(t.ctx.ws.chain_head, b);
  WorkspacePopTop(&t.ctx, a);  // not the head: nothing happens
  EXPECT_EQ(t.ctx.ws.chain_head, b);
  qqwswb(&t.ctx, a);
  WorkspacePopTop(&t.ctx, b);
  EXPECT_EQ(t.ctx.ws.chain_head, a);
  EXPECT_EQ(qqwscur(&t.ctx), a);
  qqwswb(&t.ctx, bottom);
  WorkspacePopTop(&t.ctx, a);
  EXPECT_EQ(t.ctx.ws.chain_head, bottom);
  EXPECT_EQ(t.ctx.ws.top_limit, limit);
  EXPECT_EQ(qqwscur(&t.ctx), bottom);
  EXPECT_TRUE(FakeKernel::conditions.empty());
}

TEST(Workspace, PushAndPopGiveBackEveryByteOfAnUnalignedTopLimit) {
  for (int32_t n : {1, 3, 5, 7, 40}) {
    FakeKernel k;
    TestContext t(1003);
    int32_t bottom = qqwsnewblk(&t.ctx);
    int32_t limit = t.ctx.ws.top_limit;
    ASSERT_NE(limit % 8, 0);
    int32_t top = WorkspacePushTop(&t.ctx, n);
    qqwswb(&t.ctx, bottom);
    WorkspacePopTop(&t.ctx, top);
    EXPECT_EQ(t.ctx.ws.top_limit, limit) << n;
  }
}

TEST(Workspace, ATopBlockRoundedDownNeverReachesIntoTheNewestBottomBlock) {
  // The newest bottom block ends 5 bytes past an 8-byte boundary; a top block
  // whose unrounded limit would be that end is rounded down into the block's
  // last allocation. It does not fit, so the workspace grows instead.
  FakeKernel k;
  TestContext t(1000);
  qqwsnewblk(&t.ctx);
  int32_t r = qqwsal(&t.ctx, 4);  // used 20: the bottom end is offset 21
  WsWord(&t.ctx, r, 0) = 0x11223344;
  int32_t n = t.ctx.ws.top_limit - 12 - 21;
  EXPECT_EQ(JumpCode(&t.ctx, [&] { WorkspacePushTop(&t.ctx, n); }), -1);
  EXPECT_EQ(t.ctx.workspace_grown, 1);
  qqwswb(&t.ctx, 1);
  EXPECT_EQ(WsWord(&t.ctx, r, 0), 0x11223344);
}

// Random opens, allocations, pushes, pops and selections on small workspaces
// against a model of the byte ranges in use: nothing handed out overlaps
// anything else or reaches past its limit, until the one growth that ends
// the attempt; popping every top block gives the whole top back.
TEST(Workspace, RandomBlocksNeverOverlap) {
  struct Range {
    int64_t low, high;  // bytes from the base, high exclusive
    int32_t block;
  };
  std::mt19937 rng(7);
  for (int round = 0; round < 2000; ++round) {
    FakeKernel k;
    TestContext t(200 + static_cast<int32_t>(rng() % 3000));
    SqlCompileCtx* c = &t.ctx;
    const int32_t end = c->workspace_size;
    std::vector<int32_t> bottoms, tops;
    std::vector<Range> taken;
    auto take = [&](Range r) {
      for (const Range& o : taken) {
        ASSERT_FALSE(r.low < o.high && o.low < r.high) << "round " << round;
      }
      taken.push_back(r);
    };
    try {
      for (int op = 0; op < 120; ++op) {
        int32_t what = static_cast<int32_t>(rng() % 6);
        if (what == 0 || bottoms.empty()) {
          int32_t b = qqwsnewblk(c);
          bottoms.push_back(b);
          take({b - 1, b - 1 + WSB_HEADER_BYTES, b});
        } else if (what <= 2) {
          int32_t n = static_cast<int32_t>(rng() % 300);
          int32_t b = bottoms.back();
          qqwswb(c, b);
          int32_t r = what == 1 ? qqwsal(c, n) : qqdbal(c, n);
          if (what == 2) {
            ASSERT_EQ(reinterpret_cast<uintptr_t>(qqwsadr(c, r)) % 8, 0u);
          }
          ASSERT_LE(b - 1 + r + n, c->ws.top_limit);
          if (n > 0) take({b - 1 + r, b - 1 + r + n, b});
        } else if (what == 3) {
          int32_t n = static_cast<int32_t>(rng() % 200);
          int32_t top = WorkspacePushTop(c, n);
          ASSERT_LE(top - 1 + n + WST_RESERVE_BYTES, end);
          tops.push_back(top);
          take({top - 1, top - 1 + n + WST_RESERVE_BYTES, top});
        } else if (what == 4 && !tops.empty()) {
          qqwswb(c, bottoms.back());
          WorkspacePopTop(c, tops.back());
          std::erase_if(taken, [&](const Range& r) { return r.block == tops.back(); });
          tops.pop_back();
          ASSERT_EQ(qqwscur(c), bottoms.back());
        } else if (what == 5) {
          int32_t b = rng() % 2 == 0 || tops.empty() ? bottoms[rng() % bottoms.size()]
                                                     : tops[rng() % tops.size()];
          qqwswb(c, b);
          ASSERT_EQ(qqwscur(c), b);
        }
      }
    } catch (const CompileJump&) {
      ASSERT_EQ(c->workspace_grown, 1) << "round " << round;
      continue;
    }
    if (bottoms.empty()) continue;
    qqwswb(c, bottoms.back());
    for (; !tops.empty(); tops.pop_back()) WorkspacePopTop(c, tops.back());
    EXPECT_EQ(c->ws.top_limit, end) << "round " << round;
  }
}

TEST(Workspace, PoppingTheCurrentBlockSelectsABlockNoLongerInTheChain) {
  // The popped block was current: selecting it again finds it gone (-19217),
  // or finds no block at all when it was the only one (-19223).
  struct Case {
    bool bottom;
    int32_t code;
  };
  for (Case c : {Case{true, -19217}, Case{false, -19223}}) {
    FakeKernel k;
    TestContext t(1000);
    if (c.bottom) qqwsnewblk(&t.ctx);
    int32_t top = WorkspacePushTop(&t.ctx, 40);
    EXPECT_EQ(JumpCode(&t.ctx, [&] { WorkspacePopTop(&t.ctx, top); }), -1);
    ASSERT_EQ(FakeKernel::conditions.size(), 1u);
    EXPECT_EQ(FakeKernel::conditions[0].code, c.code);
    EXPECT_EQ(FakeKernel::conditions[0].text, "N\tQST: qqwswb");
    EXPECT_NE(qqwscur(&t.ctx), top);
  }
}

TEST(Workspace, AllocatingInATopBlockIsAnInternalErrorNotAGrowth) {
  // Measured from a top block the room test always fails, so a growth would
  // repeat in every attempt until the storage ran out.
  struct Case {
    const char* routine;
    int32_t (*allocate)(SqlCompileCtx*, int32_t);
  };
  for (Case c : {Case{"N\tQST: qqwsal", qqwsal}, Case{"N\tQST: qqdbal", qqdbal}}) {
    FakeKernel k;
    TestContext t(1000);
    qqwsnewblk(&t.ctx);
    int32_t size = t.ctx.workspace_size;
    WorkspacePushTop(&t.ctx, 40);
    EXPECT_EQ(JumpCode(&t.ctx, [&] { c.allocate(&t.ctx, 1); }), -1);
    EXPECT_EQ(t.ctx.workspace_grown, 0);
    EXPECT_EQ(t.ctx.workspace_size, size);
    ASSERT_EQ(FakeKernel::conditions.size(), 1u);
    EXPECT_EQ(FakeKernel::conditions[0].code, -19202);
    EXPECT_EQ(FakeKernel::conditions[0].text, c.routine);
  }
}

TEST(Workspace, OverflowDoublesTheSizeAndLeavesForARestart) {
  FakeKernel k;
  TestContext t(1000);
  qqwsnewblk(&t.ctx);
  int32_t size = t.ctx.workspace_size;
  EXPECT_EQ(JumpCode(&t.ctx, [&] { qqwsal(&t.ctx, 2000); }), -1);
  EXPECT_EQ(t.ctx.workspace_size, 2 * size);
  EXPECT_EQ(t.ctx.workspace_grown, 1);
  EXPECT_TRUE(FakeKernel::conditions.empty());  // growth is not an error
}

TEST(Workspace, DoublingStopsBeforeTheSizeLeavesThe32BitRange) {
  FakeKernel k;
  TestContext t(1000);
  qqwsnewblk(&t.ctx);
  // As if many growths had passed: the next doubling would not fit 32 bits.
  t.ctx.workspace_size = INT32_MAX / 2;
  EXPECT_EQ(JumpCode(&t.ctx, [&] { qqwsal(&t.ctx, 5000); }), SQLPOOL_EXHAUSTED_ERROR);
  EXPECT_EQ(t.ctx.workspace_size, INT32_MAX / 2);
  EXPECT_EQ(t.ctx.workspace_grown, 0);
}

TEST(Workspace, NegativeLengthsAreRefused) {
  FakeKernel k;
  TestContext t;
  qqwsnewblk(&t.ctx);
  EXPECT_EQ(JumpCode(&t.ctx, [&] { qqwsal(&t.ctx, -8); }), -1);
  EXPECT_EQ(JumpCode(&t.ctx, [&] { qqdbal(&t.ctx, -1); }), -1);
  EXPECT_EQ(t.ctx.ws.used, 16);
}

TEST(Workspace, StrgetCopiesUpToTheTerminatorWithinTheBuffer) {
  FakeKernel k;
  TestContext t;
  qqwsnewblk(&t.ctx);
  int32_t r = qqwsal(&t.ctx, 6);
  std::memcpy(qqwsadr(&t.ctx, r), "ABCDE", 6);
  char buffer[8];
  EXPECT_EQ(qqstrget(&t.ctx, buffer, 8, r), 6);
  EXPECT_STREQ(buffer, "ABCDE");
  EXPECT_EQ(qqstrget(&t.ctx, buffer, 3, r), 3);
  EXPECT_STREQ(buffer, "AB");
  EXPECT_EQ(qqstrget(&t.ctx, buffer, 8, 0), 1);
  EXPECT_STREQ(buffer, "");
}

}  // namespace
