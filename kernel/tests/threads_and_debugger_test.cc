// Thread blocks made from the dictionary's operator statement images, and
// the routine-debugger session pool of DSDBG2.
#include <atomic>
#include <thread>

#include "kernel/control_blocks.h"
#include "kernel/debugger_sessions.h"
#include "kernel/statement_columns.h"
#include "kernel/statements.h"
#include "kernel/tests/core_fixture.h"
#include "kernel/thread_blocks.h"

namespace {

std::vector<int32_t> g_images_asked;
int32_t g_missing_image = 0;
int32_t g_opens = 0;

int32_t Image(int32_t number, const int16_t** header, int32_t* hl, const int32_t** body,
              int32_t* bl) {
  static int16_t h[SD_MIN_WORDS] = {0, 0, SD_MIN_WORDS, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                    0, -1};
  static const int32_t b[] = {-8, 0};
  g_images_asked.push_back(number);
  if (number == g_missing_image) return -19040;
  *header = h;
  *hl = SD_MIN_WORDS;
  *body = b;
  *bl = 2;
  return 0;
}
int32_t CountOpens(int32_t*, int32_t, int32_t) {
  ++g_opens;
  return 0;
}

class ThreadTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    g_images_asked.clear();
    g_missing_image = 0;
    g_opens = 0;
    services_.dd_stmt_image = Image;
    services_.open_com_tables = CountOpens;
  }
};

TEST_F(ThreadTest, CreateFillsTheSlotsFromTheImages) {
  const int64_t live = Live();
  int32_t status = 9, thr = 0;
  DSCreateThr(base_, &status, &thr);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(g_images_asked, (std::vector<int32_t>{-255, -254, -253, -252, -251, -250, -249, -244}));
  for (int32_t i = 0; i < 8; ++i) {
    const int32_t stm = W(thr, THR_STM_MOS_DATABANK + i);
    ASSERT_NE(stm, 0);
    EXPECT_EQ(W(stm, STM_STATUS), 5) << i;
  }
  EXPECT_EQ(W(sys_, SYS_THR), thr);
  EXPECT_EQ(W(sys_, SYS_THR_COUNT), 1);
  EXPECT_EQ(W(thr + 1, USR_USR), thr + 1);
  EXPECT_EQ(W(thr + 1, USR_LVL), thr + 356);
  EXPECT_EQ(W(thr + 356, LVL_USR), thr + 1);
  EXPECT_EQ(W(thr, THR_CDITCB_SIZE), 5000);
  StatusPair st;
  int32_t slot = 0;
  mdr_tls_get(&st, &slot, TLS_SLOT_THR);
  EXPECT_EQ(slot, thr);
  DSFreeThr(base_, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(W(sys_, SYS_THR), 0);
  EXPECT_EQ(W(sys_, SYS_THR_COUNT), 0);
  EXPECT_EQ(W(sys_, SYS_ST_STATEMENTS), 0);
  // The shared dictionary programs stay cached; a second thread reuses them.
  DSCreateThr(base_, &status, &thr);
  ASSERT_EQ(status, 0);
  DSFreeThr(base_, &status);
  DSFreeThr(base_, &status);
  EXPECT_EQ(status, -19079);
  (void)live;
}

TEST_F(ThreadTest, StartModeMinus242OpensOnlyTableX) {
  W(sys_, SYS_MODE) = -242;
  int32_t status = 9, thr = 0;
  DSCreateThr(base_, &status, &thr);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(g_opens, 1);
  EXPECT_EQ(W(W(thr, THR_STM_MOS_TABLEX), STM_STATUS), 5);
  EXPECT_EQ(W(W(thr, THR_STM_MOS_DATABANK), STM_STATUS), 1);
}

TEST_F(ThreadTest, MissingImageFailsIntoSysRvec) {
  g_missing_image = -252;
  const int64_t live = Live();
  int32_t status = 0, thr = 0;
  DSCreateThr(base_, &status, &thr);
  EXPECT_EQ(status, -19040);
  EXPECT_EQ(W(sys_, SYS_RVEC), -19040);
  for (int32_t i = 0; i < 8; ++i) EXPECT_EQ(W(thr, THR_STM_MOS_DATABANK + i), 0);
  EXPECT_EQ(W(sys_, SYS_ST_STATEMENTS), 0);
  EXPECT_EQ(W(sys_, SYS_THR), thr) << "the block stays for DSFreeThr";
  EXPECT_EQ(W(sys_, SYS_THR_COUNT), 1) << "the count follows the chain";
  DSFreeThr(base_, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Live(), live);
  EXPECT_EQ(W(sys_, SYS_THR_COUNT), 0);
}

class DebuggerTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    W(sys_, SYS_SYSTEM_STATUS) = 0;
  }
  int32_t Session() {
    const int32_t cha = Alloc(CHA_BYTES), usr = Alloc(USR_BYTES);
    W(usr, USR_CHA) = cha;
    W(cha, CHA_USR) = usr;
    return usr;
  }
  int32_t Op(int32_t usr, int32_t op, int32_t* arg) {
    int32_t rq[2] = {0, usr};
    DSDBG2(base_, rq, op, arg);
    return rq[0];
  }
};

TEST_F(DebuggerTest, PoolHandsOutAttachesAndDetaches) {
  const int32_t debuggee = Session(), debugger = Session(), third = Session();
  int32_t arg = 0;
  EXPECT_EQ(Op(debuggee, 1, &arg), -18028) << "no block in the pool";
  EXPECT_EQ(Op(0, 6, &arg), 0);
  ASSERT_EQ(Op(debuggee, 1, &arg), 0);
  const int32_t dbs = arg;
  EXPECT_EQ(W(W(debuggee, USR_CHA), CHA_DBS), dbs);
  EXPECT_EQ(W(dbs, DBS_USECOUNT), 1);
  EXPECT_EQ(Op(debuggee, 1, &arg), -19087);
  EXPECT_EQ(Op(third, 1, &arg), -18028) << "every block is in use";
  int32_t a = dbs;
  ASSERT_EQ(Op(debugger, 2, &a), 0);
  EXPECT_EQ(W(dbs, DBS_USECOUNT), 2);
  int32_t bogus = dbs + 1;
  EXPECT_EQ(Op(third, 2, &bogus), -19088);
  // A BIS chain the debuggee owns goes at the last detach.
  const int32_t bis = Alloc(16), child = Alloc(16);
  W(bis, 0) = child;
  W(dbs, DBS_BIS) = bis;
  const int64_t live = Live();
  int32_t other = 0;
  EXPECT_EQ(Op(debugger, 5, &other), 1);
  EXPECT_EQ(other, 0);
  EXPECT_EQ(W(dbs, DBS_USECOUNT), 1);
  EXPECT_EQ(Op(debuggee, 5, &other), 0);
  EXPECT_EQ(W(dbs, DBS_USECOUNT), 0);
  EXPECT_EQ(W(dbs, DBS_BIS), 0);
  EXPECT_EQ(Live(), live - 2);
  EXPECT_EQ(Op(debuggee, 5, &other), -19078) << "not attached any more";
  int32_t free_one = 0;
  EXPECT_EQ(Op(0, 7, &free_one), 0);
  EXPECT_EQ(W(sys_, SYS_DBS), 0);
}

TEST_F(DebuggerTest, AttachToNobodyAndStoppedSystemAndBadOperations) {
  const int32_t usr = Session();
  int32_t arg = 0;
  ASSERT_EQ(Op(0, 6, &arg), 0);
  int32_t dbs = W(sys_, SYS_DBS);
  EXPECT_EQ(Op(usr, 2, &dbs), -19078) << "nobody is debugged";
  EXPECT_EQ(Op(usr, 3, &arg), -19078);
  EXPECT_EQ(W(usr, USR_RVEC_RCODE), -19078);
  W(sys_, SYS_SYSTEM_STATUS) = 4;
  EXPECT_EQ(Op(usr, 1, &arg), -18903);
  EXPECT_EQ(Op(0, 10, &arg), 0);
  EXPECT_EQ(W(sys_, SYS_DBS), 0);
}

// Two debuggees take and give back the one block of the pool at once: a
// block given back is never handed out with the last party's words still
// to be cleared, so every detach of a block a session holds succeeds.
TEST_F(DebuggerTest, BlockGivenBackIsReusedWithoutLosingItsNewDebuggee) {
  int32_t arg = 0;
  ASSERT_EQ(Op(0, 6, &arg), 0);
  const int32_t sessions[2] = {Session(), Session()};
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      ASSERT_EQ(enqdeq_attach(enq_, 2 + t), 0);
      for (int i = 0; i < 20000 && failures == 0; ++i) {
        int32_t dbs = 0, other = 0;
        const int32_t got = Op(sessions[t], 1, &dbs);
        if (got == -18028) continue;
        if (got != 0 || Op(sessions[t], 5, &other) != 0) ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  const int32_t dbs = W(sys_, SYS_DBS);
  EXPECT_EQ(W(dbs, DBS_USECOUNT), 0);
  EXPECT_EQ(W(dbs, DBS_USR_DEBUGGEE), 0);
}

}  // namespace
