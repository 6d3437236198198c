#include <fstream>
// DSStartDb, DSBEG2 and DSStopDb over a database made in a scratch home,
// and DSSysErrState's classification of a failed start.
#include "kernel/hash_lists.h"
#include "kernel/tests/start_fixture.h"

namespace {

TEST_F(DbStartTest, StartOpensTheDatabanksAndStopFreesEverything) {
  ASSERT_EQ(Start(1), 0);
  EXPECT_EQ(W(sys_, SYS_SYSTEM_STATUS), 0);
  EXPECT_EQ(W(sys_, SYS_GBS_ACTION), 1);
  EXPECT_EQ(W(sys_, SYS_MODE), 1);
  EXPECT_NE(Did(2), 0);
  EXPECT_EQ(W(sys_, SYS_TRANSDB_DID), Did(2));
  EXPECT_EQ(W(sys_, SYS_SQLDB_DID), Did(4));
  EXPECT_EQ(W(sys_, SYS_LOGDB_DID), Did(3));
  EXPECT_EQ(W(sys_, SYS_MLEN), static_cast<int32_t>(dir_.size()));
  EXPECT_EQ(W(sys_, SYS_DLEN), 6);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&W(sys_, SYS_DATABASE)), 6), "TESTDB");
  EXPECT_EQ(g_catalog.check_runs, 1);
  // The system databank was opened again from its catalog row and its first
  // handle given back: one open in the databank kernel.
  EXPECT_EQ(W(Find(1), DCB_TRANS_MODE), 1);
  int32_t status = 9;
  DSStopDb(base_, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(base_[sqlpool::RESERV], 0);
  EXPECT_EQ(KernelSys(base_), 0);
  EXPECT_EQ(Live(), live_);
  DSStopDb(base_, &status);
  EXPECT_EQ(status, STOP_NOT_STARTED);
  // The same database starts again in the same process.
  ASSERT_EQ(Start(1), 0);
  EXPECT_EQ(W(sys_, SYS_SYSTEM_STATUS), 0);
}

TEST_F(DbStartTest, AnotherCatalogVersionIsLoggedAndRefused) {
  g_catalog.version_error = CATALOG_VERSION_MISMATCH;
  g_catalog.version = "00.09.01";
  EXPECT_EQ(Start(1), CATALOG_VERSION_MISMATCH);
  EXPECT_TRUE(log_.Contains("ZAVOR/DB kernel error -19050 in function DSBEG2"));
  EXPECT_TRUE(log_.Contains("Catalog version, 00.09.01, not compatible with server version"));
  EXPECT_EQ(W(sys_, SYS_RVEC), CATALOG_VERSION_MISMATCH);
  EXPECT_EQ(W(sys_, SYS_SYSTEM_STATUS), -2);
  EXPECT_EQ(W(sys_, SYS_GBS_ACTION), 4);
  int32_t status = 0;
  DSStopDb(base_, &status);
  EXPECT_EQ(Live(), live_);
}

TEST_F(DbStartTest, ModeMinus242OpensNothingPastTheLookUp) {
  ASSERT_EQ(Start(-242), 0);
  EXPECT_EQ(W(sys_, SYS_SYSTEM_STATUS), 0);
  EXPECT_EQ(Find(2), 0);
  EXPECT_EQ(Find(3), 0);
  EXPECT_EQ(Find(4), 0);
  EXPECT_EQ(W(sys_, SYS_TRANSDB_DID), 0);
  EXPECT_EQ(g_catalog.check_runs, 0);
  // The system databank is marked for its own transactions.
  EXPECT_EQ(W(Find(1), DCB_TRANS_MODE), 1);
  const int32_t thr = W(sys_, SYS_THR);
  ASSERT_NE(thr, 0);
  EXPECT_NE(W(thr, THR_STM_MOS_TABLEX), 0);
  int32_t status = 0;
  DSStopDb(base_, &status);
  EXPECT_EQ(Live(), live_);
}

TEST_F(DbStartTest, DeferredErrorOfTransIsTheWarningOnce) {
  // A copy of TRANS and a copy of LOG whose files are damaged: both opens
  // go on, and only the first deferred error is kept.
  g_rows[2].insert(g_rows[2].begin(), DatabankRow{"TRANSDB", "bad2.dbf", "S"});
  g_rows[3].insert(g_rows[3].begin(), DatabankRow{"LOGDB", "bad3.dbf", "S"});
  g_rows[2][0].seqno = 2;
  g_rows[3][0].seqno = 3;
  for (const char* f : {"bad2.dbf", "bad3.dbf"}) std::ofstream(f) << std::string(8192, 'x');
  int32_t status = Start(1);
  EXPECT_EQ(W(sys_, SYS_RVEC_LID), 2);
  EXPECT_EQ(W(sys_, SYS_RVEC_SEQNO), 2);
  EXPECT_EQ(W(sys_, SYS_RVEC_ATTRIBUTE), 5);
  EXPECT_EQ(W(sys_, SYS_RVEC_COUNTER), 1);
  EXPECT_LT(W(sys_, SYS_RVEC), -16140);
  EXPECT_EQ(W(sys_, SYS_RVEC_BITVEC), RVEC_MASK_DATABANK);
  // The begin went through to its end and returned the warning.
  EXPECT_NE(Did(3), 0);
  EXPECT_NE(W(sys_, SYS_LOGDB_DID), 0);
  EXPECT_EQ(g_catalog.check_runs, 1);
  EXPECT_EQ(status, W(sys_, SYS_RVEC));
  EXPECT_EQ(W(sys_, SYS_SYSTEM_STATUS), -2);
  EXPECT_EQ(W(sys_, SYS_GBS_ACTION), 4);
  DSStopDb(base_, &status);
  EXPECT_EQ(Live(), live_);
}

TEST_F(DbStartTest, Minus242StartsOverAFailedTrans) {
  std::ofstream("transdb.dbf") << std::string(8192, 'x');
  int32_t status = Start(1);
  ASSERT_EQ(status, W(sys_, SYS_RVEC));
  DSStopDb(base_, &status);
  g_catalog.check_runs = 0;
  // A start in mode -242 never opens TRANS.
  EXPECT_EQ(Start(-242), 0);
  EXPECT_EQ(W(sys_, SYS_SYSTEM_STATUS), 0);
}

TEST_F(DbStartTest, DamagedTransFailsTheStart) {
  std::ofstream("transdb.dbf") << std::string(8192, 'x');
  int32_t status = Start(1);
  EXPECT_LT(W(sys_, SYS_RVEC), -16140);
  EXPECT_EQ(W(sys_, SYS_RVEC_LID), 2);
  EXPECT_EQ(W(sys_, SYS_RVEC_SEQNO), 1);
  EXPECT_EQ(W(sys_, SYS_SQLDB_DID), 0);
  EXPECT_EQ(g_catalog.check_runs, 0);
  // Restricted to the administrator the start answers 0, else the error.
  const int32_t state = W(sys_, SYS_SYSTEM_STATUS);
  EXPECT_TRUE(state == -1 || state == -2) << state;
  EXPECT_EQ(status, state == -1 ? 0 : W(sys_, SYS_RVEC));
  DSStopDb(base_, &status);
  EXPECT_EQ(Live(), live_);
}

TEST_F(DbStartTest, WithoutUpperServicesTheStartEndsFailed) {
  // Only the information items: no record access, no interpreter.
  KernelUpperServices info{};
  info.info_build = InfoOk;
  info.info_error_table = InfoOk;
  info.reg_esc_callbacks = EscOk;
  KernelInstallUpperServices(&info);
  EXPECT_EQ(Start(1), KERNEL_SERVICE_ABSENT);
  ASSERT_NE(sys_, 0);
  EXPECT_EQ(W(sys_, SYS_SYSTEM_STATUS), -2);
  EXPECT_EQ(W(sys_, SYS_RVEC), KERNEL_SERVICE_ABSENT);
  EXPECT_TRUE(log_.Contains("DUCrtTcbHash"));
  KernelInstallUpperServices(&services_);
}

TEST_F(DbStartTest, BadStartBlocksAreRefusedBeforeAnythingIsMade) {
  struct Case {
    int32_t mlen, dlen, bytes;
  } cases[] = {{257, 0, 1024}, {0, 129, 1024}, {-1, 0, 1024}, {0, -5, 1024},
               {100, 100, 200}, {0, 0, 12}};
  for (const Case& c : cases) {
    std::vector<int32_t> block(256, 0);
    block[STB_MODE] = 1;
    block[STB_MLEN] = c.mlen;
    block[STB_DLEN] = c.dlen;
    DSStartDb(base_, block.data(), c.bytes);
    EXPECT_EQ(block[STB_MODE], KERNEL_BAD_PARAMETER) << c.mlen << " " << c.dlen;
    EXPECT_EQ(KernelSys(base_), 0);
  }
  EXPECT_EQ(Live(), live_);
}

TEST_F(DbStartTest, MarkSysdbTransTouchesOnlyRequestFour) {
  ASSERT_EQ(Start(1), 0);
  const int32_t dcb = Find(1);
  W(dcb, DCB_TRANS_MODE) = 3;
  const int32_t other[1] = {3};
  DSMarkSysdbTrans(base_, other);
  EXPECT_EQ(W(dcb, DCB_TRANS_MODE), 3);
  // Open tables of the system databank and of another one.
  const int32_t tcbs = HashListCreate(base_, 400, 4, 4);
  W(sys_, SYS_TCB_LIST) = tcbs;
  int32_t tcb[3];
  for (int32_t i = 0; i < 3; ++i) {
    tcb[i] = Alloc(TCB_BYTES);
    W(tcb[i], TCB_LID) = i == 2 ? 4 : 1;
    W(tcb[i], TCB_TRANS_MODE) = 3;
    const int32_t head = HashListHead(base_, tcbs, i == 0 ? 17 : 399);
    W(tcb[i], TCB_NEXT) = sqlpool_word(base_, head);
    sqlpool_word(base_, head) = tcb[i];
  }
  const int32_t four[1] = {4};
  DSMarkSysdbTrans(base_, four);
  EXPECT_EQ(W(dcb, DCB_TRANS_MODE), 1);
  EXPECT_EQ(W(tcb[0], TCB_TRANS_MODE), 1);
  EXPECT_EQ(W(tcb[1], TCB_TRANS_MODE), 1);
  EXPECT_EQ(W(tcb[2], TCB_TRANS_MODE), 3);
  W(sys_, SYS_TCB_LIST) = 0;
}

TEST(BannerTest, NamesTheProduct) {
  int32_t request[2] = {7, 1};
  char field[21] = {}, area[41] = {};
  int32_t length = 0;
  DSBanner(request, field, area, &length);
  EXPECT_EQ(std::string(field, 20), "ZAVOR/DB            ");
  EXPECT_EQ(std::string(area, 40), std::string(40, ' '));
  EXPECT_EQ(length, 4);
  EXPECT_EQ(request[0], 0);
  request[1] = 0;
  DSBanner(request, field, area, &length);
  EXPECT_EQ(std::string(field, 8), "ZAVOR/??");
}

// DSSysErrState's table over a SYS whose start failed.
class ErrStateTest : public CoreTest {
 protected:
  std::pair<int32_t, int32_t> Classify(int32_t e, int32_t lid, int32_t type, int32_t files = 1) {
    W(sys_, SYS_SYSTEM_STATUS) = 1;
    W(sys_, SYS_RVEC) = e;
    W(sys_, SYS_RVEC_LID) = lid;
    W(sys_, SYS_RVEC_ATTRIBUTE) = type;
    W(sys_, SYS_RVEC_COUNTER) = files;
    W(sys_, SYS_RVEC_SEQNO) = 7;
    int32_t status = 9, result[SES_WORDS] = {};
    DSSysErrState(base_, &status, result);
    EXPECT_EQ(result[SES_RVEC], e);
    EXPECT_EQ(result[SES_LID], lid);
    EXPECT_EQ(result[SES_SEQNO], 7);
    EXPECT_EQ(result[SES_ATTRIBUTE], type);
    EXPECT_EQ(result[SES_FLAG], 1);
    EXPECT_EQ(W(sys_, SYS_GBS_ACTION), result[SES_ACTION]);
    EXPECT_EQ(W(sys_, SYS_SYSTEM_STATUS), status);
    return {result[SES_ACTION], status};
  }
};

TEST_F(ErrStateTest, ActionsByErrorDatabankAndFileType) {
  struct Case {
    int32_t e, lid, type, files, action, status;
  } cases[] = {
      {0, 0, 0, 1, 1, 0},          {-18013, 1, 3, 1, 8, -1},    {-16150, 2, 5, 1, 3, -1},
      {-16160, 2, 3, 1, 4, -2},    {-16144, 4, 5, 1, 3, -1},    {-16144, 4, 1, 1, 4, -2},
      {-16141, 7, 3, 1, 1, 0},     {-16141, 0, 3, 1, 1, 0},     {-16159, 1, 5, 1, 3, -1},
      {-16159, 1, 3, 1, 7, -1},    {-16142, 1, 6, 1, 3, -1},    {-16142, 1, 3, 1, 4, -2},
      {-18012, 2, 3, 1, 9, -1},    {-16143, 2, 6, 1, 3, -1},    {-16147, 3, 5, 1, 3, -1},
      {-16148, 3, 3, 0, 5, -1},    {-16149, 4, 3, 1, 5, -1},    {-16101, 2, 3, 1, 4, -2},
      {-19050, 0, 0, 0, 4, -2},    {-11002, 0, 0, 0, 4, -2},
  };
  for (const Case& c : cases) {
    const auto got = Classify(c.e, c.lid, c.type, c.files);
    EXPECT_EQ(got, std::make_pair(c.action, c.status)) << c.e << " lid " << c.lid;
  }
}

TEST_F(ErrStateTest, LogWithFilesOpenedAlternatesCheckAndRestore) {
  Classify(-16148, 3, 3, 0);  // resets the alternation
  EXPECT_EQ(Classify(-16187, 3, 3).first, 8);
  EXPECT_EQ(Classify(-16187, 3, 3).first, 3);
  EXPECT_EQ(Classify(-16187, 3, 3).first, 8);
  EXPECT_EQ(Classify(-16187, 3, 5).first, 3);  // a copy resets it
  EXPECT_EQ(Classify(-16187, 3, 3).first, 8);
}

TEST_F(ErrStateTest, TransWithoutDatabankKernelAnswerIsAFailedStart) {
  // The databank kernel is not started: its answer is an error.
  EXPECT_EQ(Classify(-16141, 2, 3), std::make_pair(4, -2));
}

TEST_F(ErrStateTest, GoodStartAndNoSys) {
  W(sys_, SYS_SYSTEM_STATUS) = 0;
  W(sys_, SYS_RVEC) = -16141;
  int32_t status = 9, result[SES_WORDS] = {};
  DSSysErrState(base_, &status, result);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(result[SES_ACTION], 1);
  EXPECT_EQ(result[SES_FLAG], 2);
  EXPECT_EQ(W(sys_, SYS_SYSTEM_STATUS), 0);
  base_[sqlpool::RESERV] = 0;
  DSSysErrState(base_, &status, result);
  EXPECT_EQ(status, -2);
  EXPECT_EQ(result[SES_ACTION], 4);
}

}  // namespace
