// A databank's checks and marks: whether it can do without a log, its
// option by name or the user's default, a table's flag, and the row counts
// a copy-back to an earlier time takes from its tables' keys; each against
// the catalog rows it reads or writes.
#include <string>
#include <vector>

#include "dict/dictionary_cursors.h"
#include "dict/dictionary_services.h"
#include "dict/statement_run.h"
#include "dict/tests/lookup_fixture.h"

namespace {

class DatabankChecksTest : public LookupTest {
 protected:
  // A databank (id = logical id) of option 1 LOG, 2 TRANS, 3 NULL with its
  // object row.
  void Databank(int32_t id, const std::string& name, int32_t option) {
    int32_t pb[2] = {0, usr_};
    DDInsDatabank(base_, pb, id, id, name.data(), static_cast<int32_t>(name.size()), "ADM", 3,
                  "f.dbf", 5, option, false);
    ASSERT_EQ(pb[0], 0);
    ASSERT_EQ(InsObject(id, 1, "", name), 0);
  }
  void Table(int32_t id, int32_t databank) {
    int32_t pb[2] = {0, usr_};
    DDInsTable(base_, pb, id, 1, 6, 8, false, databank);
    ASSERT_EQ(pb[0], 0);
  }
  void Key(int32_t id, int32_t kind, int32_t table) {
    int32_t pb[2] = {0, usr_};
    DDInsConstraint(base_, pb, id, kind, table, 8, 1, 9, 0, 0);
    ASSERT_EQ(pb[0], 0);
  }
  int32_t Check(int32_t databank, int32_t table) {
    int32_t pb[2] = {0, usr_};
    DDChkIdPair(base_, pb, databank, table);
    return pb[0];
  }
  int32_t Grant(int32_t databank, const std::string& grantee) {
    int32_t pb[2] = {0, usr_};
    DDInsPrivilege(base_, pb, 5, databank, false, grantee.data(),
                   static_cast<int32_t>(grantee.size()), "_SYSTEM", 7);
    return pb[0];
  }
  // "id/option" or "status".
  std::string Option(const std::string& name) {
    int32_t pb[2] = {0, usr_}, id = -1, option = -1;
    DDGetDatabankOpt(base_, pb, name.data(), static_cast<int32_t>(name.size()), &id, &option);
    return pb[0] != 0 ? std::to_string(pb[0]) : std::to_string(id) + "/" + std::to_string(option);
  }
  std::string LevelName() {
    const char* name = nullptr;
    int32_t length = 0;
    DDLevelSchemaDefault(base_, usr_, &name, &length);
    return std::string(name, static_cast<size_t>(length));
  }
  std::vector<uint8_t> Row(int32_t table, std::span<const CatalogValue> key) {
    std::vector<uint8_t> row;
    EXPECT_EQ(ReadRow(table, key, &row), 0) << table;
    return row;
  }
  std::vector<uint8_t> TableRow(int32_t id) {
    const CatalogValue key[] = {{TABLES_TABLE_ID, 0, id, nullptr}};
    return Row(16, key);
  }
  std::vector<uint8_t> KeyRow(int32_t id, const char* kind, int32_t table) {
    const CatalogValue key[] = {{TABLE_CONSTRAINTS_CONSTRAINT_ID, 0, id, nullptr},
                                {TABLE_CONSTRAINTS_CONSTRAINT_TYPE, 1, 0, kind},
                                {TABLE_CONSTRAINTS_TABLE_ID, 0, table, nullptr}};
    return Row(18, key);
  }
};

// Statuses by what the databank's tables hold; each table's keys and
// triggers found by its own id, other databanks' tables not looked at.
TEST_F(DatabankChecksTest, WhatStandsAgainstADatabankWithoutLog) {
  ASSERT_EQ(BegWork(), 0);
  Databank(900, "PLAIN", 2);
  Databank(901, "KEYS", 1);
  Databank(902, "TRIGGERS", 2);
  Databank(903, "UNLOGGED", 3);
  Databank(904, "INDEXED", 2);
  Table(1001, 900);
  Key(1101, 1, 1001);  // a primary key and a plain index stand against nothing
  Key(1102, 2, 1001);
  Table(1002, 901);
  Key(1103, 1, 1002);
  Table(1003, 901);
  Key(1104, 3, 1003);
  Table(1004, 902);
  Key(1105, 5, 1004);
  Table(1005, 904);
  Key(1106, 4, 1005);
  int32_t pb[2] = {0, usr_};
  DDTriggerDef t;
  t.id = 1201;
  t.table_id = 1004;
  DDInsTrigger(base_, pb, t);
  ASSERT_EQ(pb[0], 0);
  // A trigger of a table on another databank does not count.
  t.id = 1202;
  t.table_id = 1001 + 100000;
  DDInsTrigger(base_, pb, t);
  ASSERT_EQ(pb[0], 0);

  const struct {
    int32_t databank, table, status;
    const char* why;
  } cases[] = {
      {900, 0, 0, "a primary key and an index"},
      {901, 0, 3, "a foreign key of its second table"},
      {902, 0, 4, "a trigger comes before a unique key"},
      {903, 0, 0, "no tables"},
      {904, 0, 3, "a unique index"},
      {905, 0, 1, "no such databank"},
      {900, 1001, 0, "a large object in a logged databank"},
      {901, 1002, 0, "a large object in a LOG databank"},
      {903, 77, 3, "a large object in a databank without log"},
      {905, 77, 1, "a large object in no databank"},
  };
  for (const auto& c : cases) EXPECT_EQ(Check(c.databank, c.table), c.status) << c.why;
  ASSERT_EQ(EndWork(1), 0);
}

// By name the databank's own row; without one the user's default: the
// lowest databank on which the user holds TABLE, else PUBLIC's; objects of
// other kinds with a TABLE row and a privilege without its databank row
// are passed over.
TEST_F(DatabankChecksTest, OptionByNameOrTheUsersDefault) {
  ASSERT_EQ(BegWork(), 0);
  Databank(910, "LOGGED", 1);
  Databank(911, "TRANSACTED", 2);
  Databank(912, "UNLOGGED", 3);
  EXPECT_EQ(Option("LOGGED"), "910/1");
  EXPECT_EQ(Option("TRANSACTED"), "911/2");
  EXPECT_EQ(Option("UNLOGGED"), "912/3");
  EXPECT_EQ(Option("SYSDB"), "1/0") << "a row of a type letter only";
  EXPECT_EQ(Option("NOSUCH"), "1");
  EXPECT_EQ(Option(std::string(129, 'D')), std::to_string(DD_BAD_VALUE));
  EXPECT_EQ(Option(""), "1") << "no databank granted";
  const std::string me = LevelName();
  ASSERT_FALSE(me.empty());
  ASSERT_EQ(Grant(912, "PUBLIC"), 0);
  EXPECT_EQ(Option(""), "912/3") << "PUBLIC's";
  ASSERT_EQ(InsObject(905, 6, "S", "NOTADATABANK"), 0);
  ASSERT_EQ(Grant(905, me), 0);
  ASSERT_EQ(InsObject(906, 1, "", "ROWLESS"), 0);
  ASSERT_EQ(Grant(906, me), 0);
  EXPECT_EQ(Option(""), "912/3") << "a table and a databank without its row passed over";
  ASSERT_EQ(Grant(911, me), 0);
  ASSERT_EQ(Grant(910, "SOMEONE_ELSE"), 0);
  EXPECT_EQ(Option(""), "911/2") << "the user's own before PUBLIC's";
  ASSERT_EQ(Grant(910, me), 0);
  EXPECT_EQ(Option(""), "910/1") << "the lowest id";
  ASSERT_EQ(EndWork(1), 0);
}

// The flag goes to "YES" on the table's row alone.
TEST_F(DatabankChecksTest, TableFlagMarksOneRow) {
  ASSERT_EQ(BegWork(), 0);
  Table(1010, 1);
  Table(1011, 1);
  EXPECT_EQ(Column(TableRow(1010), TABLES_IS_INSERTABLE_INTO, 3), "NO");
  int32_t pb[2] = {0, usr_};
  DDUpdTableFlag(base_, pb, 1010);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(Column(TableRow(1010), TABLES_IS_INSERTABLE_INTO, 3), "YES");
  EXPECT_EQ(Column(TableRow(1011), TABLES_IS_INSERTABLE_INTO, 3), "NO");
  DDUpdTableFlag(base_, pb, 1010);
  EXPECT_EQ(pb[0], 0) << "again";
  DDUpdTableFlag(base_, pb, 4242);
  EXPECT_EQ(pb[0], 1);
  ASSERT_EQ(EndWork(1), 0);
}

// Every key of every table of the databank loses its row count; keys of
// another databank's tables keep theirs, and the rest of a key row stays.
TEST_F(DatabankChecksTest, CopyBackTakesTheRowCountsOfTheDatabanksKeys) {
  ASSERT_EQ(BegWork(), 0);
  Databank(920, "COPIED", 2);
  Databank(921, "OTHER", 2);
  Table(1020, 920);
  Table(1021, 920);
  Table(1022, 921);
  const struct {
    int32_t id, kind, table;
    const char* word;
  } keys[] = {{1120, 1, 1020, "PRIMARY KEY"}, {1121, 2, 1020, "INDEX"},
              {1122, 5, 1021, "UNIQUE"},      {1123, 1, 1022, "PRIMARY KEY"}};
  for (const auto& k : keys) {
    Key(k.id, k.kind, k.table);
    int32_t pb[2] = {3, usr_};
    const int32_t rows = 500 + k.id;
    DDUpdStatistics(base_, pb, k.table, k.id, nullptr, 0, &rows, nullptr, nullptr, nullptr, nullptr);
    ASSERT_EQ(pb[0], 0);
    EXPECT_NE(KeyRow(k.id, k.word, k.table)[TABLE_CONSTRAINTS_INT_67], 255);
  }
  int32_t pb[2] = {0, usr_};
  DDUpdByTable(base_, pb, 920);
  ASSERT_EQ(pb[0], 0);
  for (const auto& k : keys) {
    const std::vector<uint8_t> row = KeyRow(k.id, k.word, k.table);
    EXPECT_EQ(row[TABLE_CONSTRAINTS_INT_67] == 255, k.table != 1022) << k.id;
    EXPECT_EQ(row[TABLE_CONSTRAINTS_KEY_LENGTH], KeyRow(1123, "PRIMARY KEY", 1022)[TABLE_CONSTRAINTS_KEY_LENGTH]);
  }
  DDUpdByTable(base_, pb, 999);
  EXPECT_EQ(pb[0], 0) << "a databank without tables";
  ASSERT_EQ(EndWork(1), 0);
}

}  // namespace
