// The started database with the dictionary's work and the compiler's table
// lookup at hand, for the tests that read and write its catalog.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "dict/compiler_lookups.h"
#include "dict/dictionary_services.h"
#include "dict/new_ids.h"
#include "dict/statement_functions.h"
#include "dict/work_block.h"
#include "kernel/control_blocks.h"
#include "kernel/system_block.h"
#include "server/testing/started_database.h"

class StartedWorkTest : public StartedDatabaseTest {
 protected:
  // Dictionary work of session `usr` begun; its status.
  int32_t Begin(int32_t usr) {
    int32_t pb[2] = {0, usr};
    DDBegWork(base_, pb);
    return pb[0];
  }
  // Dictionary work of session `usr` ended with `outcome` (0 commits); its
  // status.
  int32_t End(int32_t usr, int32_t outcome) {
    int32_t pb[2] = {outcome, usr};
    DDEndWork(base_, pb);
    return pb[0];
  }
  // The attributes of table schema.name as session `usr` finds it; the
  // status.
  int32_t Find(int32_t usr, const std::string& schema, const std::string& name,
               DDTableAttr* a) {
    int32_t pb[2] = {0, usr};
    DDTableName n;
    n.schema = schema.data();
    n.schema_length = static_cast<int32_t>(schema.size());
    n.name = name.data();
    n.name_length = static_cast<int32_t>(name.size());
    DDCmpTableAttr(base_, pb, n, false, a);
    return pb[0];
  }
};

// The administrator's dictionary work, begun for each test and rolled back
// after it, with objects, tables and columns made in it.
class StartedAdminWorkTest : public StartedWorkTest {
 protected:
  void SetUp() override {
    StartedWorkTest::SetUp();
    if (HasFatalFailure()) return;  // no database: the failure says why
    ASSERT_EQ(Begin(admin_), 0);
    begun_ = true;
  }
  void TearDown() override {
    if (begun_) {
      EXPECT_EQ(End(admin_, 1), 0);
    }
  }
  bool begun_ = false;

  // An object of `kind` named `name` in the administrator's schema: its id.
  int32_t Object(int32_t kind, const std::string& name) {
    int32_t pb[2] = {0, admin_}, id = 0;
    DDNewIds(base_, pb, 1, &id);
    EXPECT_EQ(pb[0], 0);
    DDInsObject(base_, pb, id, kind, kStartedAdmin, static_cast<int32_t>(std::strlen(kStartedAdmin)),
                name.data(), static_cast<int32_t>(name.size()));
    EXPECT_EQ(pb[0], 0);
    return id;
  }
  // A base table (its object and table rows) of key length `key_length`
  // in databank 1, without columns: its id.
  int32_t EmptyTable(const std::string& name, int32_t key_length) {
    const int32_t id = Object(6, name);
    int32_t pb[2] = {0, admin_};
    DDInsTable(base_, pb, id, 1, sqlpool_word(base_, admin_ + USR_USERID), key_length, true, 1);
    EXPECT_EQ(pb[0], 0);
    return id;
  }
  // A column of `type` and `length` (its precision for a number) at
  // `offset`, `byte_length` bytes, numbered `number`; nullable.
  static DDColumnDef Def(const char* name, int32_t number, int32_t type, int32_t length,
                         int32_t offset, int32_t byte_length) {
    DDColumnDef c;
    c.name = name;
    c.name_length = static_cast<int32_t>(std::strlen(name));
    c.number = number;
    c.type = type;
    c.length = length;
    c.offset = offset;
    c.byte_length = byte_length;
    return c;
  }
  // A column row of the table, with a default of `default_length` three-
  // byte characters (0: none).
  void Column(int32_t table, const DDColumnDef& c, const uint8_t* default_text3 = nullptr,
              int32_t default_length = 0) {
    int32_t pb[2] = {0, admin_};
    DDInsColumn(base_, pb, table, c, default_text3, default_length);
    EXPECT_EQ(pb[0], 0) << std::string(c.name, static_cast<size_t>(c.name_length));
  }
};
