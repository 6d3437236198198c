// One created and started database for a whole test program: made by the
// hbcreate program in a temporary home with a temporary registry file
// (ZAVOR_REGISTRY), started in this process with DSStartDb mode 1 through
// the server's own start (server/database_run.h), the administrator and a
// second user without privileges logged in. It is made on first use and
// stopped when the program ends.
//
// Use: link `hb_started_database`, derive the test fixture from
// StartedDatabaseTest (or call TheStartedDatabase()) and run statements on
// base_ for the sessions admin_ and user_. Tests share the database: what a
// test writes, the next ones see; use names of your own.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "server/database_run.h"

inline constexpr char kStartedDbName[] = "STARTDB";
inline constexpr char kStartedAdmin[] = "SYSADM";
inline constexpr char kStartedAdminPassword[] = "Adm1n-secret";
inline constexpr char kStartedUser[] = "PLAIN_USER";
inline constexpr char kStartedUserPassword[] = "plain-pw";

struct StartedDatabase {
  int32_t* base = nullptr;    // the kernel word storage
  std::string home;           // the database's home directory
  std::string registry;       // the registry file the creation wrote
  int32_t admin_usr = 0;      // the administrator's session (USR)
  int32_t user_usr = 0;       // the session of kStartedUser
  int32_t user_id = 0;        // kStartedUser's ident id
  ServerDatabase* run = nullptr;  // for channels and logins of a test's own
  std::string failure;        // empty when everything above is ready
};

// The program's database, made, started and logged into on the first call.
const StartedDatabase& TheStartedDatabase();

// A fixture whose SetUp fails the test when the database is not ready.
class StartedDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const StartedDatabase& db = TheStartedDatabase();
    ASSERT_TRUE(db.failure.empty()) << db.failure;
    base_ = db.base;
    admin_ = db.admin_usr;
    user_ = db.user_usr;
  }

  int32_t* base_ = nullptr;
  int32_t admin_ = 0, user_ = 0;
};
