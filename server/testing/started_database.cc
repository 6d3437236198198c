// The test program's started database (see started_database.h).
#include "server/testing/started_database.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "dict/new_ids.h"
#include "dict/statement_functions.h"
#include "dict/work_block.h"
#include "platform/password_scramble.h"

namespace {

StartedDatabase g_db;
ServerDatabase g_run;
bool g_made = false;

std::string Status(const std::string& what, int32_t status) {
  return what + " (status " + std::to_string(status) + ")";
}

// Runs hbcreate for the database in `home`, the administrator's password
// on its standard input; "" or what failed.
std::string Create(const std::string& home, const std::string& registry) {
  const std::string password_file = home + ".password";
  {
    std::ofstream f(password_file);
    f << kStartedAdminPassword << "\n";
  }
  const std::string command = "ZAVOR_REGISTRY='" + registry + "' '" HBCREATE_PROGRAM "' --home '" +
                              home + "' --admin " + kStartedAdmin + " --password-file '" +
                              password_file + "' " + kStartedDbName + " > '" + home +
                              ".log' 2>&1";
  const int rc = std::system(command.c_str());
  std::filesystem::remove(password_file);
  if (rc != 0) {
    std::ifstream log(home + ".log");
    std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    return "hbcreate failed (" + std::to_string(rc) + "): " + text;
  }
  return "";
}

// The unprivileged user's ident, written by the administrator's dictionary
// work; "" or what failed.
std::string AddUser(StartedDatabase* db) {
  int32_t pb[2] = {0, db->admin_usr};
  DDBegWork(db->base, pb);
  if (pb[0] != 0) return Status("DDBegWork", pb[0]);
  int32_t ids[2] = {0, db->admin_usr};
  DDNewIds(db->base, ids, 1, &db->user_id);
  int32_t rc = ids[0];
  if (rc == 0) {
    uint8_t pw[kPasswordBytes], name[kPasswordBytes], scrambled[kPasswordBytes];
    std::memset(pw, ' ', sizeof pw);
    std::memset(name, ' ', sizeof name);
    std::memcpy(pw, kStartedUserPassword, std::strlen(kStartedUserPassword));
    std::memcpy(name, kStartedUser, std::strlen(kStartedUser));
    mdr_password_scramble_ident(scrambled, pw, name);
    int32_t ins[2] = {0, db->admin_usr};
    DDInsIdent(db->base, ins, kStartedUser, static_cast<int32_t>(std::strlen(kStartedUser)),
               db->user_id, 3, scrambled, kPasswordBytes);
    rc = ins[0];
  }
  int32_t end[2] = {rc == 0 ? 0 : 1, db->admin_usr};
  DDEndWork(db->base, end);
  if (rc != 0) return Status("the user's ident", rc);
  if (end[0] != 0) return Status("DDEndWork", end[0]);
  return "";
}

std::string Make(StartedDatabase* db) {
  char dir[] = "/tmp/started_db_XXXXXX";
  if (mkdtemp(dir) == nullptr) return "no temporary directory";
  db->home = std::string(dir) + "/home";
  db->registry = std::string(dir) + "/registry";
  if (std::string e = Create(db->home, db->registry); !e.empty()) return e;
  const int32_t started = ServerStartDatabase(db->home, kStartedDbName, 1, &g_run);
  if (started != 0) return Status("DSStartDb mode 1", started);
  db->run = &g_run;
  db->base = g_run.base;
  const int32_t admin_cha = ServerNewChannel(&g_run, 1);
  const int32_t user_cha = ServerNewChannel(&g_run, 2);
  if (admin_cha == 0 || user_cha == 0) return "no channel";
  int32_t rc = ServerLogin(&g_run, admin_cha, kStartedAdmin, kStartedAdminPassword, &db->admin_usr);
  if (rc != 0) return Status("the administrator's login", rc);
  if (std::string e = AddUser(db); !e.empty()) return e;
  rc = ServerLogin(&g_run, user_cha, kStartedUser, kStartedUserPassword, &db->user_usr);
  if (rc != 0) return Status("the user's login", rc);
  return "";
}

class StoppedAtEnd : public ::testing::Environment {
 public:
  void TearDown() override {
    if (!g_made) return;
    if (g_db.user_usr != 0) ServerLogout(&g_run, g_db.user_usr);
    if (g_db.admin_usr != 0) ServerLogout(&g_run, g_db.admin_usr);
    if (g_run.base != nullptr) {
      EXPECT_EQ(ServerStopDatabase(&g_run), 0);
    }
    if (!g_db.home.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(std::filesystem::path(g_db.home).parent_path(), ec);
    }
    g_db = StartedDatabase{};
    g_made = false;
  }
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new StoppedAtEnd);

}  // namespace

const StartedDatabase& TheStartedDatabase() {
  if (!g_made) {
    g_made = true;
    g_db.failure = Make(&g_db);
    if (g_db.failure.empty()) g_db.failure.clear();
  }
  return g_db;
}
