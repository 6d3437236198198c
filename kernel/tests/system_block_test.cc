// DSInitSys: the system block's marker, its embedded session and level, its
// hash lists and their layouts, a second call that keeps what is there, and
// upper services that nobody installed.
#include "kernel/system_block.h"

#include "kernel/hash_lists.h"
#include "kernel/tests/core_fixture.h"

namespace {

class SystemBlockTest : public CoreTest {};

TEST_F(SystemBlockTest, CreatesSysWithItsSessionLevelAndMarker) {
  ASSERT_NE(sys_, 0);
  EXPECT_EQ(base_[sqlpool::RESERV], sys_);
  EXPECT_EQ(W(sys_, SYS_ID), 913);
  EXPECT_EQ(W(sys_, SYS_SYSTEM_STATUS), 1);
  EXPECT_EQ(W(sys_, SYS_MODE), 0);
  const int32_t usr = sys_ + SYS_USR_START, lvl = sys_ + SYS_LVL_START;
  EXPECT_EQ(usr, sys_ + 140);
  EXPECT_EQ(lvl, sys_ + 495);
  EXPECT_EQ(W(usr, USR_USR), usr);
  EXPECT_EQ(W(usr, USR_LVL), lvl);
  EXPECT_EQ(W(lvl, LVL_USR), usr);
  for (int32_t sem : {SYS_S, SYS_SHPLST_REUSE_S, SYS_SHSLST_REUSE_S, SYS_XAENT_S, SYS_POOLED_TP_S})
    EXPECT_EQ(W(sys_, sem), 1) << sem;
}

// Each list: its size as allocated, bucket count, strides, semaphores with
// one unit and empty heads.
TEST_F(SystemBlockTest, ListsHaveTheirLayouts) {
  struct Case {
    int32_t field, buckets, stride, bytes;
  } cases[] = {
      {SYS_DCB_LIST, 40, 1, 188},      {SYS_SHP_SQL_LIST, 500, 4, 8016},
      {SYS_SHP_PSM_LIST, 200, 1, 828}, {SYS_CHA_LIST, 200, 1, 828},
      {SYS_LVL2_OTCB, 400, 1, 1628},   {SYS_GSEQ_LIST, 40, 1, 188},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    const int32_t list = W(sys_, c.field);
    ASSERT_NE(list, 0);
    EXPECT_EQ(-W(list, -3), 4 * (c.bytes / 16 + 1)) << "block data words";
    EXPECT_EQ(HashListBytes(c.buckets, c.stride, c.stride == 1 ? 0 : c.stride), c.bytes);
    EXPECT_EQ(W(list, 0), c.buckets);
    EXPECT_EQ(W(list, 1), c.stride);
    EXPECT_EQ(W(list, 2), c.stride == 1 ? 0 : c.stride);
    EXPECT_EQ(W(list, 3), 0);
    EXPECT_EQ(W(list, 4), 1);
    for (int32_t i = 0; i < c.buckets; ++i) EXPECT_EQ(W(list, 7 + c.stride * i), 0);
  }
  const int32_t sql = W(sys_, SYS_SHP_SQL_LIST);
  for (int32_t i = 0; i < 500; ++i) EXPECT_EQ(W(sql, 4 + 4 * i), 1) << i;
  EXPECT_EQ(HashListHead(base_, sql, 499), sql + 7 + 4 * 499);
  EXPECT_EQ(HashListBucket(base_, sql, -1001), 1);
}

TEST_F(SystemBlockTest, SecondCallKeepsSysAndItsLists) {
  int32_t before[6];
  const int32_t fields[6] = {SYS_DCB_LIST, SYS_SHP_SQL_LIST, SYS_SHP_PSM_LIST,
                             SYS_CHA_LIST, SYS_LVL2_OTCB,    SYS_GSEQ_LIST};
  for (int i = 0; i < 6; ++i) before[i] = W(sys_, fields[i]);
  W(before[0], 7 + 3) = 12345;  // a bucket head in use
  const int64_t live = Live();
  int32_t status = 0;
  DSInitSys(base_, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(base_[sqlpool::RESERV], sys_);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(W(sys_, fields[i]), before[i]);
  EXPECT_EQ(W(before[0], 10), 12345);
  EXPECT_EQ(Live(), live);
  // A list whose word was cleared is made again, the others stay.
  W(sys_, SYS_GSEQ_LIST) = 0;
  DSInitSys(base_, &status);
  EXPECT_EQ(status, 0);
  EXPECT_NE(W(sys_, SYS_GSEQ_LIST), 0);
  EXPECT_EQ(W(sys_, SYS_DCB_LIST), before[0]);
}

class SystemBlockNoServicesTest : public CoreTest {
 protected:
  SystemBlockNoServicesTest() { init_sys_ = false; }
};

// Without the request interface's information items the start fails with
// -11002 in the status and in RVEC, and the report names the missing entry.
TEST_F(SystemBlockNoServicesTest, MissingServiceFailsAndIsNamed) {
  services_.info_build = nullptr;
  int32_t status = 0;
  DSInitSys(base_, &status);
  EXPECT_EQ(status, -11002);
  const int32_t sys = KernelSys(base_);
  ASSERT_NE(sys, 0);
  EXPECT_EQ(W(sys, SYS_RVEC), -11002);
  EXPECT_TRUE(log_.Contains("DSInfoBuild: kernel upper service not installed"));
}

// Every entry of the table answers the one code and names itself.
TEST_F(SystemBlockNoServicesTest, EveryAbsentEntryAnswersOneCodeAndLogsItsName) {
  KernelInstallUpperServices(nullptr);
  int32_t result[13];
  int32_t x = 0;
  const int16_t* h = nullptr;
  const int32_t* b = nullptr;
  struct Case {
    const char* name;
    int32_t rc;
  } cases[] = {
      {"DUCrtTcbHash", UpCrtTcbHash(base_)},
      {"DUOpenSysTable", UpOpenSysTable(base_, &x, 1, 0)},
      {"DUTcbUseCount", UpTcbUseCount(base_, 1)},
      {"DUOpenTableChain", UpOpenTableChain(base_, 0, &x, &x)},
      {"DUCloseTables", UpCloseTables(base_, 0, 5)},
      {"DUFreeTcbEntry", UpFreeTcbEntries(base_)},
      {"DSCloseSecTables", UpCloseSecTables(base_, 0, 0, 0)},
      {"DSOpenComTables", UpOpenComTables(base_, 0, 0)},
      {"DSGetTransScope", UpGetTransScope(base_, 0)},
      {"XLInstallTable", UpXLInstallTable(base_, 1, 1, nullptr)},
      {"DSTransCleanup", UpTransCleanup(base_, 0, 0)},
      {"DAOpName", UpDAOpName(1, nullptr)},
      {"DDStmtImage", UpStmtImage(-255, &h, &x, &b, &x)},
      {"DSInfoBuild", UpInfoBuild(base_, &x)},
      {"DSInfoGet", UpInfoErrorTable(base_, &x)},
      {"DSInfoFree", UpInfoFree(base_, &x)},
      {"DSInfoClear", UpInfoClear(base_, 0)},
      {"DSRegEscCallbacks", UpRegEscCallbacks(base_)},
      {"DSRelStm", UpRelStm(base_, 0, 0, 0)},
      {"DSTransEndReq", UpTransEndReq(base_, 0)},
      {"DSLockTables", UpLockTablesEndLoad(base_, 0)},
      {"DSSeqRelease", UpSeqRelease(base_, 0)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.rc, KERNEL_SERVICE_ABSENT) << c.name;
    EXPECT_TRUE(log_.Contains(std::string(c.name) + ": kernel upper service not installed"))
        << c.name;
  }
  UpDAMAE2(base_, result, 0, 0);
  EXPECT_EQ(result[0], KERNEL_SERVICE_ABSENT);
  EXPECT_TRUE(log_.Contains("DAMAE2: kernel upper service not installed"));
}

TEST_F(SystemBlockNoServicesTest, KernelSysChecksRESERV) {
  EXPECT_EQ(KernelSys(base_), 0);
  base_[sqlpool::RESERV] = base_[sqlpool::WORDS] - 10;  // block would pass the end
  EXPECT_EQ(KernelSys(base_), 0);
  base_[sqlpool::RESERV] = 0;
}

}  // namespace
