// A database made by the hbcreate program in a temporary home and registry
// file, started in this process in mode 1 (DSStartDb), the administrator
// and a user without privileges logged in; logins refused as the kernel
// refuses them.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "du/transactions.h"
#include "kernel/control_blocks.h"
#include "kernel/databank_control.h"
#include "kernel/sessions.h"
#include "kernel/system_block.h"
#include "kernel/xa_branches.h"
#include "server/start_services.h"
#include "server/testing/started_database.h"
#include "sql/front/catalog_access.h"

namespace {

class StartedTest : public StartedDatabaseTest {
 protected:
  int32_t& W(int64_t b, int32_t n) { return sqlpool_word(base_, b + n); }
  int32_t Sys() { return KernelSys(base_); }
  // The DID of the open databank of logical id `lid`, 0 when none is open.
  int32_t Did(int32_t lid) {
    int32_t rq[OPD_WORDS] = {5, lid};
    DSOpenDcb(base_, rq);
    return rq[OPD_KIND] == 0 && rq[OPD_DCB] != 0 ? W(rq[OPD_DCB], DCB_DID) : 0;
  }
  std::string Text(int32_t block, int32_t field, int32_t bytes) {
    return std::string(reinterpret_cast<char*>(&W(block, field)), bytes);
  }
  // A login on a channel of its own: the status; the session it left (a
  // refused login leaves one unbound on the channel) is logged out.
  int32_t LoginStatus(const std::string& ident, const std::string& password) {
    ServerDatabase* run = TheStartedDatabase().run;
    const int32_t cha = ServerNewChannel(run, ++channel_);
    EXPECT_NE(cha, 0);
    int32_t usr = 0;
    const int32_t rc = ServerLogin(run, cha, ident, password, &usr);
    if (usr != 0) {
      EXPECT_EQ(ServerLogout(run, usr), 0);
    }
    return rc;
  }

  static inline int32_t channel_ = 100;
};

TEST_F(StartedTest, HbcreateWroteTheRegistrySection) {
  std::ifstream in(TheStartedDatabase().registry);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find(std::string("\\SQLHosts\\") + kStartedDbName + "]"), std::string::npos)
      << text.str();
  EXPECT_NE(text.str().find("Directory=sz:" + TheStartedDatabase().home), std::string::npos);
}

// The creation's output holds the log of its verification, a normal start
// of the new database and a login: nothing there is an error.
TEST_F(StartedTest, TheCreationAndItsStartLogNoError) {
  std::ifstream in(TheStartedDatabase().home + ".log");
  ASSERT_TRUE(in.good());
  std::stringstream text;
  text << in.rdbuf();
  for (const char* tag : {"<Error>", "<Internal error>", "<Fatal error>", "<Warning>"})
    EXPECT_EQ(text.str().find(tag), std::string::npos) << text.str();
}

TEST_F(StartedTest, StartsInModeOneWithTheDatabanksOfLogicalIdsTwoFourThree) {
  ASSERT_NE(Sys(), 0);
  EXPECT_EQ(W(Sys(), SYS_SYSTEM_STATUS), 0);
  EXPECT_EQ(W(Sys(), SYS_MODE), 1);
  for (int32_t lid : {1, 2, 3, 4}) EXPECT_NE(Did(lid), 0) << lid;
  EXPECT_EQ(W(Sys(), SYS_TRANSDB_DID), Did(2));
  EXPECT_EQ(W(Sys(), SYS_SQLDB_DID), Did(4));
  EXPECT_EQ(W(Sys(), SYS_LOGDB_DID), Did(3));
  // The log databank's large-object directory (240, made with the file) is
  // open: the kernel found it under the kind it was made with.
  int32_t rq[OPD_WORDS] = {5, 3};
  DSOpenDcb(base_, rq);
  ASSERT_EQ(rq[OPD_KIND], 0);
  EXPECT_NE(W(rq[OPD_DCB], DCB_LOBDIR_TCB), 0);
  EXPECT_EQ(W(Sys(), SYS_LOGDB_LOBDIR_TCB), W(rq[OPD_DCB], DCB_LOBDIR_TCB));
  // The served database's name and home as the start gave them.
  const std::string home = TheStartedDatabase().home;
  EXPECT_EQ(W(Sys(), SYS_MLEN), static_cast<int32_t>(home.size()));
  EXPECT_EQ(Text(Sys(), SYS_DATABASE, W(Sys(), SYS_DLEN)), kStartedDbName);
}

TEST_F(StartedTest, TheAdministratorIsLoggedInNamedAndPassesTheAdministratorCheck) {
  std::string name = kStartedAdmin;
  name.resize(128, ' ');
  EXPECT_EQ(Text(admin_, USR_NAME, 128), name);
  EXPECT_GT(W(admin_, USR_ID), 0);
  EXPECT_EQ(DSChkAdmIdent(base_, admin_), 0);
  // The kernel's catalog read left the session outside any transaction.
  EXPECT_EQ(DSGetTransState(base_, admin_), 0);
  // The other user is logged in under its own name and is no administrator.
  std::string user = kStartedUser;
  user.resize(128, ' ');
  EXPECT_EQ(Text(user_, USR_NAME, 128), user);
  EXPECT_EQ(W(user_, USR_ID), TheStartedDatabase().user_id);
  EXPECT_NE(DSChkAdmIdent(base_, user_), 0);
}

TEST_F(StartedTest, RefusedLoginsAnswerNinetyAndAreCounted) {
  const int32_t before = W(Sys(), SYS_ST_REJECTED_LOGINS);
  EXPECT_EQ(LoginStatus(kStartedAdmin, "wrong-password"), LOGIN_REJECTED);
  EXPECT_EQ(W(Sys(), SYS_ST_REJECTED_LOGINS), before + 1);
  // 19 characters: one more than a password holds.
  EXPECT_EQ(LoginStatus(kStartedAdmin, std::string(kStartedAdminPassword) + "1234567"),
            LOGIN_REJECTED);
  EXPECT_EQ(LoginStatus(kStartedAdmin, "abcdefghijklmnopqrs"), LOGIN_REJECTED);
  // The administrators' group is no user.
  EXPECT_EQ(LoginStatus("_SYSTEM_ADM", kStartedAdminPassword), LOGIN_REJECTED);
  EXPECT_EQ(LoginStatus("_SYSTEM_ADM", ""), LOGIN_REJECTED);
  // The right password still logs in.
  EXPECT_EQ(LoginStatus(kStartedAdmin, kStartedAdminPassword), 0);
  EXPECT_EQ(LoginStatus(kStartedUser, kStartedUserPassword), 0);
}

// The start gave the compiler the dictionary's lookups, over the word
// storage; taking the services away after a stop takes them too, so that
// nothing is left pointing at the freed storage.
TEST_F(StartedTest, TakingTheServicesAwayLeavesTheCompilerNoDictionary) {
  const SqlDictionaryServices installed = SqlInstallDictionaryServices(nullptr);
  SqlInstallDictionaryServices(&installed);
  EXPECT_NE(installed.table_attr, nullptr);
  ServerRemoveServices();
  const SqlDictionaryServices left = SqlInstallDictionaryServices(nullptr);
  ServerInstallServices(base_);  // the database runs on for the other tests
  const SqlDictionaryServices empty{};
  EXPECT_EQ(std::memcmp(&left, &empty, sizeof left), 0);
  const SqlDictionaryServices again = SqlInstallDictionaryServices(nullptr);
  SqlInstallDictionaryServices(&again);
  EXPECT_EQ(again.table_attr, installed.table_attr);
}

}  // namespace
