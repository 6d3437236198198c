// DSFreeCtlTables: with keep 1 kept channels no longer name their freed
// sessions; with keep 0 every list block goes and the storage holds only
// what was there before the lists were filled.
#include "kernel/control_tables.h"

#include "kernel/debugger_sessions.h"
#include "kernel/hash_lists.h"
#include "kernel/shared_programs.h"
#include "kernel/statement_columns.h"
#include "kernel/statements.h"
#include "kernel/tests/core_fixture.h"

namespace {

int32_t TablesOk(int32_t*, int32_t, int32_t) {
  return 0;
}

class ControlTablesTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    services_.open_com_tables = TablesOk;
  }
  // A channel in CHA_LIST with two sessions, each with two levels.
  int32_t Channel(int32_t number) {
    const int32_t cha = Alloc(CHA_BYTES);
    W(cha, CHA_CHANNELNO) = number;
    for (int i = 0; i < 2; ++i) {
      const int32_t usr = Alloc(USR_BYTES), l1 = Alloc(LVL_BYTES), l2 = Alloc(LVL_BYTES);
      W(l1, LVL_NEXT) = l2;
      W(usr, USR_LVL) = l1;
      W(usr, USR_NEXT) = W(cha, CHA_USR);
      W(cha, CHA_USR) = usr;
    }
    const int32_t list = W(sys_, SYS_CHA_LIST);
    const int32_t head = HashListHead(base_, list, HashListBucket(base_, list, number));
    W(cha, CHA_NEXT) = sqlpool_word(base_, head);
    sqlpool_word(base_, head) = cha;
    return cha;
  }
  void Programs() {
    ShpHandle h;
    const char* text = "select 9";
    ASSERT_EQ(DSFindShpSql(base_, 5, reinterpret_cast<const uint8_t*>("Q"), 1,
                           reinterpret_cast<const uint8_t*>(text), 8, &h),
              1);
    const int32_t sd = Alloc(4 * 32), stg = Alloc(4 * 64), com = Alloc(4 * 11);
    W(sd, SD_STORAGE_WORDS) = 64;
    W(sd, SD_CALL_LIST) = -1;
    W(com, COM_SD) = sd;
    W(com, COM_STG) = stg;
    W(com, COM_SHP) = h.shp;
    ASSERT_EQ(DSPublishShp(base_, 5, com), 0);
    int32_t c = com;
    DSGetMem(base_, &c, 0);
    ShpHandle r;
    ASSERT_EQ(DSFindShpPsm(base_, 0, 33, 0, &r), 1);
    const int32_t gseq = W(sys_, SYS_GSEQ_LIST);
    W(gseq, HL_HEADS + 3) = Alloc(40);
    int32_t rq[2] = {0, sys_ + SYS_USR_START}, arg = 0;
    DSDBG2(base_, rq, DBG_CREATE, &arg);
  }
};

TEST_F(ControlTablesTest, KeepOneClearsKeptChannelsSessions) {
  const int64_t before = Live();
  const int32_t a = Channel(3), b = Channel(203);
  const int64_t channels = Live();
  Programs();
  int32_t status = 9;
  DSFreeCtlTables(base_, &status, 1);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(W(a, CHA_USR), 0);
  EXPECT_EQ(W(b, CHA_USR), 0);
  const int32_t list = W(sys_, SYS_CHA_LIST);
  EXPECT_EQ(W(list, HL_HEADS + 3), b) << "kept channels stay in their bucket";
  EXPECT_EQ(W(b, CHA_NEXT), a);
  EXPECT_EQ(W(sys_, SYS_DBS), 0);
  EXPECT_EQ(Live(), before + 2) << "only the two channel blocks are left";
  (void)channels;
}

TEST_F(ControlTablesTest, KeepZeroFreesTheListsToo) {
  const int64_t before = Live();
  Channel(3);
  Programs();
  int32_t status = 9;
  DSFreeCtlTables(base_, &status, 0);
  EXPECT_EQ(status, 0);
  for (int32_t field : {SYS_DCB_LIST, SYS_LVL2_OTCB, SYS_CHA_LIST, SYS_SHP_PSM_LIST,
                        SYS_SHP_SQL_LIST, SYS_GSEQ_LIST})
    EXPECT_EQ(W(sys_, field), 0) << field;
  EXPECT_EQ(Live(), before - 6);
}

// A thread whose session has an open transaction and a statement declared
// on another: the close of the cursor is put off, and the walk over the
// thread's statements still ends with every statement off the level.
TEST_F(ControlTablesTest, StatementsWhoseCloseWaitsDoNotStopTheWalk) {
  const int32_t thr = Alloc(THR_BYTES);
  W(sys_, SYS_THR) = thr;
  W(sys_, SYS_THR_COUNT) = 1;
  const int32_t usr = thr + THR_USR_START, lvl = thr + THR_LVL_START;
  W(usr, USR_USR) = usr;
  W(usr, USR_LVL) = lvl;
  W(lvl, LVL_USR) = usr;
  const int32_t tp = Alloc(TP_BYTES);
  W(tp, TP_TRANSACTION_STATE) = 1;
  W(usr, USR_TP) = tp;
  int32_t stms[2];
  for (int32_t& stm : stms) {
    stm = Alloc(STM_BYTES);
    W(stm, STM_STATUS) = STM_OPEN;
    W(stm, STM_LVL) = lvl;
    W(stm, STM_NEXT) = W(lvl, LVL_STM);
    W(lvl, LVL_STM) = stm;
  }
  W(stms[0], STM_DECLARE_STM) = stms[1];  // the head's cursor is the second
  W(stms[1], STM_DECLARE_STM) = stms[0];  // and the other way round
  int32_t status = 9;
  DSFreeCtlTables(base_, &status, 1);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(W(lvl, LVL_STM), 0);
  EXPECT_EQ(W(sys_, SYS_THR_COUNT), 0);
}

}  // namespace
