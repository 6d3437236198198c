// Channels and sessions over a started database: connect with the login
// statement's answers, the admission by the system's state, logout, reset,
// the login mode, exclusive access, bad connect blocks, and many threads
// connecting at once.
#include <barrier>
#include <thread>

#include "kernel/hash_lists.h"
#include "kernel/sessions.h"
#include "kernel/table_use.h"
#include "kernel/tests/start_fixture.h"
#include "platform/host_services.h"

namespace {

class SessionTest : public DbStartTest {
 protected:
  void SetUp() override {
    DbStartTest::SetUp();
    g_catalog.idents["ALICE"] = {7, "secret"};
    g_catalog.idents["BOB"] = {8, "pw"};
    g_catalog.idents["ADMIN"] = {1, "adm"};
    g_catalog.administrators = {"ADMIN"};
    ASSERT_EQ(Start(1), 0);
  }
  void TearDown() override {
    int32_t status = 0;
    if (KernelSys(base_) != 0) DSStopDb(base_, &status);
    EXPECT_EQ(Live(), live_);
    DbStartTest::TearDown();
  }
  static std::vector<int32_t> Block(const std::string& ident, const std::string& password,
                                    int32_t mode = 1, int32_t sim = 0,
                                    const std::string& time = "") {
    const std::string text = ident + password + time;
    std::vector<int32_t> b(CNB_TEXT + (text.size() + 3) / 4 + 1, 0);
    b[CNB_SIZE] = static_cast<int32_t>(b.size());
    b[CNB_MODE] = mode;
    b[CNB_SIMULATION] = sim;
    b[CNB_IDENT_LENGTH] = static_cast<int32_t>(ident.size());
    b[CNB_PASSWORD_LENGTH] = static_cast<int32_t>(password.size());
    b[CNB_TIME_LENGTH] = static_cast<int32_t>(time.size());
    std::memcpy(b.data() + CNB_TEXT, text.data(), text.size());
    return b;
  }
  int32_t Channel(int32_t number) {
    int32_t status = 9, cha = 0;
    DSNewCha(base_, &status, number, 3, &cha);
    EXPECT_EQ(status, 0);
    return cha;
  }
  // Connects on `cha`; the parameter block.
  std::vector<int32_t> Connect(int32_t cha, const std::string& ident, const std::string& password,
                               int32_t mode = 1) {
    std::vector<int32_t> params(SES_PRM_WORDS, 0);
    params[SES_PRM_CHA] = cha;
    auto b = Block(ident, password, mode);
    DSConnect(base_, params.data(), b.data(), static_cast<int32_t>(b.size()));
    return params;
  }
  int32_t Logout(int32_t usr) {
    int32_t params[SES_PRM_WORDS] = {0, 0, usr, 0};
    DSLogout(base_, params);
    EXPECT_EQ(params[SES_PRM_USR], 0);
    return params[SES_PRM_STATUS];
  }
  std::string Text(int32_t block, int32_t field, int32_t bytes) {
    return std::string(reinterpret_cast<char*>(&W(block, field)), bytes);
  }
  static std::string Padded(const std::string& s, size_t n) {
    std::string p = s;
    p.resize(n, ' ');
    return p;
  }
  // A level path of one schema: its element (a not-null indicator and the
  // blank-padded name), the two other elements absent.
  static std::string OnePath(const std::string& schema) {
    return std::string(1, '\0') + Padded(schema, 128) + std::string(2 * 129, '\xff');
  }
};

// Every run of the login statement with its parameters 1, 4 and 6 as the
// catalog receives them (indicator byte included).
struct LoginRun {
  std::string ident, admin_of, node;
};
std::vector<LoginRun> g_login_runs;

std::string RawParameter(int32_t* base, int32_t stm, int32_t n) {
  uint8_t* f = nullptr;
  int32_t len = 0;
  if (StatementField(base, stm, false, n, &f, &len) != 0) return "?";
  return std::string(reinterpret_cast<char*>(f), len);
}

void RecordingCatalog(int32_t* base, int32_t* result, int32_t stm, int32_t usr) {
  if (ImageNumber(base, stm) == -250)
    g_login_runs.push_back(
        {RawParameter(base, stm, 1), RawParameter(base, stm, 4), RawParameter(base, stm, 6)});
  FakeCatalog(base, result, stm, usr);
}

class NodeHost : public HostServices {
 public:
  CommChannelInfo comm_channel_info(int32_t) override {
    CommChannelInfo info;
    std::memcpy(info.node, "client-7", 8);
    info.node_length = 8;
    return info;
  }
};

// The catalog keys its idents by the name blank padded to 128 characters:
// the login and the administrator check hand it names of that form, and
// the client's node likewise.
TEST_F(SessionTest, LoginNamesReachTheCatalogBlankPadded) {
  NodeHost host;
  HostServices* previous = InstallHostServices(&host);
  g_login_runs.clear();
  services_.damae2 = RecordingCatalog;
  auto p = Connect(Channel(3), "ADMIN", "adm");
  services_.damae2 = FakeCatalog;
  InstallHostServices(previous);
  EXPECT_EQ(p[SES_PRM_STATUS], 0);
  ASSERT_EQ(g_login_runs.size(), 2u);
  const std::string zero(1, '\0');
  EXPECT_EQ(g_login_runs[0].ident, zero + Padded("ADMIN", 128));
  EXPECT_EQ(g_login_runs[0].node, zero + Padded("client-7", 128));
  EXPECT_EQ(g_login_runs[1].ident, zero + Padded("_SYSTEM_ADM", 128));
  EXPECT_EQ(g_login_runs[1].admin_of, zero + Padded("ADMIN", 128));
  EXPECT_EQ(g_login_runs[1].node, zero + Padded("client-7", 128));
  EXPECT_EQ(Logout(p[SES_PRM_USR]), 0);
}

TEST_F(SessionTest, ConnectLogsInAndLogoutFrees) {
  const int32_t cha = Channel(5);
  EXPECT_EQ(W(sys_, SYS_CHA_COUNT), 1);
  auto p = Connect(cha, "ALICE", "secret  ", 2);
  ASSERT_EQ(p[SES_PRM_STATUS], 0);
  const int32_t usr = p[SES_PRM_USR], lvl = p[SES_PRM_LVL];
  ASSERT_NE(usr, 0);
  ASSERT_NE(lvl, 0);
  EXPECT_EQ(W(cha, CHA_USR), usr);
  EXPECT_EQ(W(usr, USR_CHA), cha);
  EXPECT_EQ(W(usr, USR_USR), usr);
  EXPECT_EQ(W(usr, USR_LVL), lvl);
  EXPECT_EQ(W(usr, USR_ID), 7);
  EXPECT_EQ(W(usr, USR_USERID), 7);
  EXPECT_EQ(W(lvl, LVL_ID), 7);
  EXPECT_EQ(W(lvl, LVL_USR), usr);
  EXPECT_EQ(Text(usr, USR_NAME, 128), Padded("ALICE", 128));
  EXPECT_EQ(Text(lvl, LVL_NAME, 128), Padded("ALICE", 128));
  EXPECT_EQ(Text(lvl, LVL_PATH, LVL_PATH_BYTES), OnePath("ALICE"));
  EXPECT_EQ(W(usr, USR_CURRENT_USER_LENGTH), 5);
  EXPECT_EQ(W(usr, USR_CURRENT_CONNECTED_IDENT_LENGTH), 5);
  EXPECT_EQ(W(usr, USR_TRANSACTION_START), 2);
  EXPECT_EQ(W(usr, USR_TRANSACTION_AUTOCOMMIT), 88);
  EXPECT_EQ(W(usr, USR_TRANSACTION_VIEW), 2);
  EXPECT_EQ(W(usr, USR_TRANSACTION_ENDED), -1);
  EXPECT_EQ(W(usr, USR_SEED), 987654321);
  EXPECT_EQ(W(usr, USR_MARK_ID), 1000);
  EXPECT_EQ(W(usr, USR_TRAN_DIAG_SIZE), 50);
  EXPECT_EQ(W(usr, USR_SESS_DIAG_SIZE), 50);
  EXPECT_EQ(W(usr, USR_SESSION_ISOLATION_LEVEL), 8);
  EXPECT_EQ(W(usr, USR_NEXT_ISOLATION_LEVEL), 8);
  EXPECT_EQ(W(usr, USR_TRANSDB_DID), W(sys_, SYS_TRANSDB_DID));
  EXPECT_EQ(W(usr, USR_LOGDB_DID), W(sys_, SYS_LOGDB_DID));
  EXPECT_EQ(W(usr, USR_SQLDB_DID), W(sys_, SYS_SQLDB_DID));
  EXPECT_EQ(W(sys_, SYS_USECOUNT), 1);
  EXPECT_EQ(W(sys_, SYS_ST_LOGINS), 1);
  EXPECT_EQ(Logout(usr), 0);
  EXPECT_EQ(W(sys_, SYS_USECOUNT), 0);
  EXPECT_EQ(W(cha, CHA_USR), 0);
  // The channel's block is reused, cleared.
  DSFreeChaUsers(base_, cha);
  EXPECT_EQ(W(sys_, SYS_CHA_COUNT), 0);
  EXPECT_EQ(W(sys_, SYS_FREE_CHA), cha);
  EXPECT_EQ(Channel(6), cha);
  EXPECT_EQ(W(cha, CHA_CHANNELNO), 6);
  EXPECT_EQ(W(cha, CHA_REQNO), 1);
  EXPECT_EQ(W(cha, CHA_USR), 0);
}

// A session that owes two references of a databank whose delete is
// pending: the logout gives the first back and drops the databank with
// the last, and every reference is accounted for.
TEST_F(SessionTest, LogoutDropsADatabankPendingDeleteWithItsLastReference) {
  const int32_t cha = Channel(5);
  auto p = Connect(cha, "ALICE", "secret");
  ASSERT_EQ(p[SES_PRM_STATUS], 0);
  const int32_t usr = p[SES_PRM_USR];
  constexpr int32_t kLid = 44;
  const int32_t list = W(sys_, SYS_DCB_LIST);
  const int32_t head = HashListHead(base_, list, HashListBucket(base_, list, kLid));
  const int32_t dcb = Alloc(DCB_BYTES);
  W(dcb, DCB_LID) = kLid;
  W(dcb, DCB_ACCESS_MODE) = 1;
  W(dcb, DCB_REFCOUNT) = 2;
  W(dcb, DCB_NEXT) = W(head, 0);
  W(head, 0) = dcb;
  const int32_t trs = Alloc(TRS_BYTES);
  W(trs, TRS_DCB) = dcb;
  W(trs, TRS_CDB_COUNT) = 2;
  W(trs, TRS_DELETE_PENDING) = 1;
  W(trs, TRS_DELETE_SEQNO) = 5;
  W(trs, TRS_NEXT) = W(usr, USR_TRS);
  W(usr, USR_TRS) = trs;
  EXPECT_EQ(Logout(usr), 0);
  EXPECT_EQ(W(head, 0) == dcb, false) << "the databank's block is dropped";
}

// A session logged out in backup mode: record access's release sees the
// backup set whole (it gives each databank's exclusive claim back) before
// the kernel frees what is left; without it the logout reports it absent
// and still frees the entries.
int32_t g_released_entries = -1;
int32_t CountingRelease(int32_t* base, int32_t usr) {
  int32_t n = 0;
  for (int32_t e = Wd(base, usr, USR_BACKUP_BFC); e != 0 && n < 100; e = Wd(base, e, 0)) ++n;
  g_released_entries = n;
  return 0;
}

TEST_F(SessionTest, LogoutGivesABackupSetBackThroughRecordAccess) {
  for (const bool installed : {true, false}) {
    KernelUpperServices with = services_;
    if (installed) with.backup_release = CountingRelease;
    KernelInstallUpperServices(&with);
    g_released_entries = -1;
    const int32_t cha = Channel(installed ? 6 : 7);
    auto p = Connect(cha, "ALICE", "secret");
    ASSERT_EQ(p[SES_PRM_STATUS], 0);
    const int32_t usr = p[SES_PRM_USR];
    for (int i = 0; i < 2; ++i) {
      const int32_t e = Alloc(148);
      W(e, 0) = W(usr, USR_BACKUP_BFC);
      W(usr, USR_BACKUP_BFC) = e;
    }
    EXPECT_EQ(Logout(usr), installed ? 0 : KERNEL_SERVICE_ABSENT);
    EXPECT_EQ(g_released_entries, installed ? 2 : -1);
    EXPECT_EQ(installed, !log_.Contains("DUGiveUpBackupSet")) << installed;
    KernelInstallUpperServices(&services_);
  }
}

TEST_F(SessionTest, RejectedLoginsStayUnboundUntilLogout) {
  const int32_t cha = Channel(1);
  struct Case {
    std::string ident, password;
  } cases[] = {{"ALICE", "abcdefghijklmnopqrs"}, {"ALICE", "wrong"}, {"NOBODY", "secret"}};
  int32_t rejected = 0;
  for (const Case& c : cases) {
    auto p = Connect(cha, c.ident, c.password);
    EXPECT_EQ(p[SES_PRM_STATUS], LOGIN_REJECTED) << c.password;
    EXPECT_EQ(p[SES_PRM_LVL], 0);
    EXPECT_EQ(W(sys_, SYS_ST_REJECTED_LOGINS), ++rejected);
    const int32_t usr = p[SES_PRM_USR];
    ASSERT_EQ(W(cha, CHA_USR), usr);
    EXPECT_EQ(W(usr, USR_ID), -1);
    EXPECT_EQ(W(usr, USR_RVEC_RCODE), LOGIN_REJECTED);
    EXPECT_EQ(Text(usr, USR_NAME, 17), "..not connected..");
    EXPECT_EQ(Logout(usr), 0);
    EXPECT_EQ(W(sys_, SYS_USECOUNT), 0);
  }
  // 18 characters and trailing blanks pass the length check.
  W(sys_, SYS_ST_REJECTED_LOGINS) = 0;
  g_catalog.idents["CAROL"] = {9, "abcdefghijklmnopqr"};
  auto p = Connect(cha, "CAROL", "abcdefghijklmnopqr   ");
  EXPECT_EQ(p[SES_PRM_STATUS], 0);
  EXPECT_EQ(Logout(p[SES_PRM_USR]), 0);
}

TEST_F(SessionTest, LoginModeDisablesConnects) {
  EXPECT_EQ(DSLoginMode(base_, 1), 1);
  EXPECT_EQ(DSLoginMode(base_, -1), 1);
  EXPECT_EQ(DSLoginMode(base_, 5), KERNEL_BAD_PARAMETER);
  const int32_t cha = Channel(1);
  auto p = Connect(cha, "ALICE", "secret");
  EXPECT_EQ(p[SES_PRM_STATUS], LOGINS_DISABLED);
  EXPECT_EQ(W(cha, CHA_USR), p[SES_PRM_USR]);
  EXPECT_EQ(W(p[SES_PRM_USR], USR_ID), -1);
  EXPECT_EQ(Logout(p[SES_PRM_USR]), 0);
  EXPECT_EQ(DSLoginMode(base_, 0), 0);
  p = Connect(cha, "ALICE", "secret");
  EXPECT_EQ(p[SES_PRM_STATUS], 0);
}

TEST_F(SessionTest, OfflineDatabaseAdmitsTheAdministratorAlone) {
  W(sys_, SYS_DATABASE_OFFLINE) = 1;
  const int32_t a = Channel(1), b = Channel(2), c = Channel(3);
  EXPECT_EQ(Connect(b, "BOB", "pw")[SES_PRM_STATUS], LOGIN_OFFLINE);
  auto admin = Connect(a, "ADMIN", "adm");
  EXPECT_EQ(admin[SES_PRM_STATUS], 0);
  EXPECT_EQ(W(sys_, SYS_USECOUNT), 1);
  EXPECT_EQ(Connect(c, "ADMIN", "adm")[SES_PRM_STATUS], LOGIN_OFFLINE_NOT_ALONE);
  EXPECT_EQ(Connect(c, "BOB", "pw")[SES_PRM_STATUS], LOGIN_OFFLINE);
  W(sys_, SYS_DATABASE_OFFLINE) = 0;
  W(sys_, SYS_SYSDB_OFFLINE) = 1;
  EXPECT_EQ(Connect(c, "ADMIN", "adm")[SES_PRM_STATUS], LOGIN_SYSDB_OFFLINE_NOT_ALONE);
  EXPECT_EQ(Connect(c, "BOB", "pw")[SES_PRM_STATUS], LOGIN_SYSDB_OFFLINE);
  EXPECT_EQ(W(sys_, SYS_USECOUNT), 1);
}

TEST_F(SessionTest, AStartWithErrorsAdmitsOnlyTheAdministrator) {
  W(sys_, SYS_SYSTEM_STATUS) = -1;
  W(sys_, SYS_RVEC) = -16142;
  W(sys_, SYS_RVEC_LID) = 3;
  const int32_t a = Channel(1), b = Channel(2);
  auto bob = Connect(b, "BOB", "pw");
  EXPECT_EQ(bob[SES_PRM_STATUS], -16142);
  EXPECT_EQ(W(bob[SES_PRM_USR], USR_RVEC_LID), 3);
  auto admin = Connect(a, "ADMIN", "adm");
  EXPECT_EQ(admin[SES_PRM_STATUS], -16142) << "the system's error stands in the session";
  EXPECT_NE(admin[SES_PRM_LVL], 0);
  EXPECT_EQ(W(sys_, SYS_USECOUNT), 1);
  EXPECT_EQ(Connect(b, "ADMIN", "adm")[SES_PRM_STATUS], LOGIN_EXCLUSIVE);
}

TEST_F(SessionTest, ASystemNotRunningNeverAdmitsWhateverItsVector) {
  const int32_t cha = Channel(1);
  for (int32_t state : {-2, 4, 1}) {
    for (int32_t rvec : {0, 7}) {
      W(sys_, SYS_SYSTEM_STATUS) = state;
      W(sys_, SYS_RVEC) = rvec;
      for (const char* who : {"BOB", "ADMIN"}) {
        auto p = Connect(cha, who, who == std::string("BOB") ? "pw" : "adm");
        EXPECT_EQ(p[SES_PRM_STATUS], LOGIN_NOT_RUNNING) << state << " " << rvec << " " << who;
        EXPECT_EQ(p[SES_PRM_LVL], 0);
      }
    }
  }
  EXPECT_EQ(W(sys_, SYS_USECOUNT), 0);
  W(sys_, SYS_SYSTEM_STATUS) = 0;
}

TEST_F(SessionTest, ResetKeepsTheBaseLevelAndReadsItems) {
  const int32_t cha = Channel(1);
  auto p = Connect(cha, "ALICE", "secret");
  const int32_t usr = p[SES_PRM_USR], lvl = p[SES_PRM_LVL];
  // A level pushed by a routine call goes at the reset.
  int32_t upper = Alloc(LVL_BYTES);
  W(upper, LVL_NEXT) = lvl;
  W(upper, LVL_ID) = 99;
  W(usr, USR_LVL) = upper;
  W(usr, USR_TRAN_DIAG_SIZE) = 3;
  W(usr, USR_TOTAL_ERROR_COUNT) = 4;
  W(usr, USR_RVEC_RCODE) = -5;
  const int32_t items[10] = {10, 8, 0, 2, 2, 77, 3, 2, 9, 9};
  // A path set since the login goes back to the level's name alone.
  std::memset(&W(lvl, LVL_PATH), 'x', LVL_PATH_BYTES);
  int32_t params[SES_PRM_WORDS] = {0, 0, usr, 0};
  DSResetSes(base_, params, items, 10);
  EXPECT_EQ(params[SES_PRM_STATUS], 0);
  EXPECT_EQ(W(usr, USR_LVL), lvl);
  EXPECT_EQ(Text(lvl, LVL_PATH, LVL_PATH_BYTES), OnePath("ALICE"));
  EXPECT_EQ(W(lvl, LVL_NEXT), 0);
  EXPECT_EQ(W(usr, USR_TRANSACTION_AUTOCOMMIT), 77);
  EXPECT_EQ(W(usr, USR_TRANSACTION_START), 2);
  EXPECT_EQ(W(usr, USR_TRAN_DIAG_SIZE), 50);
  EXPECT_EQ(W(usr, USR_TOTAL_ERROR_COUNT), 0);
  EXPECT_EQ(W(usr, USR_RVEC_RCODE), 0);
  EXPECT_EQ(W(usr, USR_CURRENT_USER_LENGTH), 5);
  // Without items: the reset's own values.
  const int32_t none[4] = {4, 4, 0, 2};
  DSResetSes(base_, params, none, 4);
  EXPECT_EQ(W(usr, USR_TRANSACTION_AUTOCOMMIT), 89);
  EXPECT_EQ(W(usr, USR_TRANSACTION_START), 1);
  // Malformed blocks change nothing.
  struct Bad {
    std::vector<int32_t> block;
    int32_t words;
  } bad[] = {{{10, 8, 0, 1, 2, 5}, 6},   {{3, 3, 0, 2}, 4},  {{10, 12, 0, 2, 2, 5}, 10},
             {{20, 8, 0, 2, 2, 5}, 6},   {{10, 3, 0, 2}, 4}, {{4, 4, 0, 2}, 3}};
  for (const Bad& b : bad) {
    W(usr, USR_TRANSACTION_START) = 33;
    DSResetSes(base_, params, b.block.data(), b.words);
    EXPECT_EQ(params[SES_PRM_STATUS], KERNEL_BAD_PARAMETER);
    EXPECT_EQ(W(usr, USR_TRANSACTION_START), 33);
  }
}

TEST_F(SessionTest, BadConnectBlocksAreRefused) {
  const int32_t cha = Channel(1);
  const std::string ident129(129, 'A');
  struct Case {
    std::vector<int32_t> block;
    int32_t words;
    int32_t cha;
  };
  std::vector<Case> cases;
  auto good = Block("ALICE", "secret");
  const int32_t n = static_cast<int32_t>(good.size());
  cases.push_back({good, n - 1, cha});                  // size past the real block
  cases.push_back({good, n, 0});                         // no channel
  cases.push_back({Block(ident129, "x"), 50, cha});      // ident over 128
  cases.push_back({Block("A", "x", 1, SIMULATION_MAGIC_1, std::string(17, '1')), 20, cha});
  cases.push_back({Block("ALICE", "secret", 4), n, cha});
  cases.push_back({Block("ALICE", "secret", 1, 12345), n, cha});
  auto lengths = good;
  lengths[CNB_PASSWORD_LENGTH] = 4 * n;  // past the block's size
  cases.push_back({lengths, n, cha});
  auto negative = good;
  negative[CNB_IDENT_LENGTH] = -1;
  cases.push_back({negative, n, cha});
  auto huge = good;
  huge[CNB_IDENT_LENGTH] = 0x7fffffff;
  huge[CNB_PASSWORD_LENGTH] = 0x7fffffff;
  cases.push_back({huge, n, cha});
  cases.push_back({good, 5, cha});
  for (size_t i = 0; i < cases.size(); ++i) {
    Case& c = cases[i];
    std::vector<int32_t> params = {0, c.cha, 0, 0};
    c.block.resize(std::max<size_t>(c.block.size(), 1));
    DSConnect(base_, params.data(), c.block.data(), c.words);
    EXPECT_EQ(params[SES_PRM_STATUS], KERNEL_BAD_PARAMETER) << i;
    EXPECT_EQ(W(cha, CHA_USR), 0) << i;
  }
  EXPECT_EQ(W(sys_ + SYS_USR_START, USR_RVEC_RCODE), KERNEL_BAD_PARAMETER);
}

TEST_F(SessionTest, SimulationWordsAndTheOtherConnects) {
  const int32_t cha = Channel(1);
  std::vector<int32_t> params = {0, cha, 0, 0};
  auto b = Block("ALICE", "secret", 1, SIMULATION_MAGIC_2, "2026121012000000");
  DSConnect(base_, params.data(), b.data(), static_cast<int32_t>(b.size()));
  ASSERT_EQ(params[SES_PRM_STATUS], 0);
  EXPECT_EQ(W(params[SES_PRM_USR], USR_SIMULATION_MODE), 100);
  EXPECT_EQ(Text(params[SES_PRM_USR], USR_SIMULATION_TIME, 16), "2026121012000000");
  b = Block("BOB", "pw", 2);
  DSConnectReq(base_, params.data(), b.data(), static_cast<int32_t>(b.size()));
  ASSERT_EQ(params[SES_PRM_STATUS], 0);
  EXPECT_EQ(W(params[SES_PRM_USR], USR_TRANSACTION_START), 3);
  const std::string ident = Padded("BOB", 18), password = Padded("pw", 18);
  DSConnectReq2(base_, params.data(), ident.data(), password.data());
  ASSERT_EQ(params[SES_PRM_STATUS], 0);
  EXPECT_EQ(W(params[SES_PRM_USR], USR_TRANSACTION_START), 3);
  EXPECT_EQ(W(sys_, SYS_USECOUNT), 3);
  DSFreeChaUsers(base_, cha);
  EXPECT_EQ(W(sys_, SYS_USECOUNT), 0);
  EXPECT_EQ(W(sys_, SYS_ST_CLEANUPS), 1);
  EXPECT_EQ(W(sys_, SYS_CHA_COUNT), 0);
}

TEST_F(SessionTest, ExclusiveAccessOfOneSession) {
  const int32_t a = Channel(1), b = Channel(2);
  auto alice = Connect(a, "ALICE", "secret");
  std::vector<int32_t> params = {0, 0, alice[SES_PRM_USR], 0};
  DSSetExclusive(base_, params.data(), 1);
  EXPECT_EQ(params[SES_PRM_STATUS], 0);
  EXPECT_EQ(W(sys_, SYS_SYSTEM_EXCLUSIVE), 1);
  EXPECT_EQ(Connect(b, "BOB", "pw")[SES_PRM_STATUS], LOGIN_EXCLUSIVE);
  DSSetExclusive(base_, params.data(), 0);
  EXPECT_EQ(W(sys_, SYS_SYSTEM_EXCLUSIVE), 0);
  EXPECT_EQ(W(alice[SES_PRM_USR], USR_CLN), 0);
  auto bob = Connect(b, "BOB", "pw");
  EXPECT_EQ(bob[SES_PRM_STATUS], 0);
  DSSetExclusive(base_, params.data(), 1);
  EXPECT_EQ(params[SES_PRM_STATUS], EXCLUSIVE_OTHERS_CONNECTED);
  EXPECT_EQ(W(alice[SES_PRM_USR], USR_RVEC_RCODE), EXCLUSIVE_OTHERS_CONNECTED);
  // Exclusive access ends with the session's logout.
  EXPECT_EQ(Logout(bob[SES_PRM_USR]), 0);
  DSSetExclusive(base_, params.data(), 1);
  EXPECT_EQ(W(sys_, SYS_SYSTEM_EXCLUSIVE), 1);
  EXPECT_EQ(Logout(alice[SES_PRM_USR]), 0);
  EXPECT_EQ(W(sys_, SYS_SYSTEM_EXCLUSIVE), 0);
  params[0] = 9;
  DSReqCode35(base_, params.data());
  EXPECT_EQ(params[0], 0);
}

TEST_F(SessionTest, SixteenThreadsConnectAndLeaveOnTheirOwnChannels) {
  // Fifteen new threads with a THR each, and the start thread with its own.
  // The THRs are all made before anybody connects: a new THR copies the
  // shared login program's storage, which the first holder's runs write.
  constexpr int32_t kThreadsInAll = 16, kRounds = 20;
  std::atomic<int32_t> failures{0};
  std::barrier ready(kThreadsInAll);
  auto work = [&](int32_t t, bool own_thr) {
    int32_t status = 0, thr = 0;
    if (own_thr) {
      if (enqdeq_attach(enq_, t + 1) != 0) {
        ++failures;
        ready.arrive_and_drop();
        return;
      }
      DSCreateThr(base_, &status, &thr);
      if (status != 0) ++failures;
    }
    ready.arrive_and_wait();
    if (status != 0) return;
    for (int32_t r = 0; r < kRounds; ++r) {
      int32_t cha = 0;
      DSNewCha(base_, &status, 100 + t, 3, &cha);
      SetSlot(TLS_SLOT_CHA, cha);
      std::vector<int32_t> params = {0, cha, 0, 0};
      auto b = Block(r % 2 ? "ALICE" : "BOB", r % 2 ? "secret" : "pw");
      DSConnect(base_, params.data(), b.data(), static_cast<int32_t>(b.size()));
      if (params[SES_PRM_STATUS] != 0) ++failures;
      if (r % 3 == 0) {
        int32_t out[SES_PRM_WORDS] = {0, 0, params[SES_PRM_USR], 0};
        DSLogout(base_, out);
        if (out[SES_PRM_STATUS] != 0) ++failures;
      }
      SetSlot(TLS_SLOT_CHA, 0);
      DSFreeChaUsers(base_, cha);
    }
    if (own_thr) {
      DSFreeThr(base_, &status);
      if (status != 0) ++failures;
    }
  };
  std::vector<std::thread> threads;
  for (int32_t t = 1; t < kThreadsInAll; ++t) threads.emplace_back(work, t, true);
  work(0, false);
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(W(sys_, SYS_USECOUNT), 0);
  EXPECT_EQ(W(sys_, SYS_CHA_COUNT), 0);
  EXPECT_EQ(W(sys_, SYS_ST_LOGINS), kThreadsInAll * kRounds);
  EXPECT_EQ(W(sys_, SYS_THR_COUNT), 1);
}

}  // namespace
