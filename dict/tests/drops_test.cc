// Drops that walk what they remove: a table's rows in every table that
// holds them, by databank, owner or name; other tables untouched.
#include <string>
#include <vector>

#include "dict/dictionary_cursors.h"
#include "dict/level2.h"
#include "dict/tests/lookup_fixture.h"

namespace {

class DropsTest : public LookupTest {
 protected:
  // A table with an object row, a column, a primary key, privileges, a
  // usage row, a type usage row and a source text.
  void Table(int32_t id, const std::string& name, int32_t owner, int32_t databank) {
    ASSERT_EQ(InsObject(id, 6, "ADAM", name), 0);
    int32_t pb[2] = {0, usr_};
    DDInsTable(base_, pb, id, 1, owner, 7, true, databank);
    ASSERT_EQ(pb[0], 0);
    DDColumnDef c;
    c.name = "A";
    c.name_length = 1;
    c.number = 1;
    c.type = 7;
    c.length = 11;
    DDInsColumn(base_, pb, id, c, nullptr, 0);
    ASSERT_EQ(pb[0], 0);
    DDInsConstraint(base_, pb, id + 1, 1, id, 7, 1, 7, 0, 0);
    ASSERT_EQ(pb[0], 0);
    DDInsTablePriv(base_, pb, id, 1, "EVE", 3, "ADAM", 4, false, false);
    ASSERT_EQ(pb[0], 0);
    DDInsColumnPriv(base_, pb, id, 4, "A", 1, "EVE", 3, "ADAM", 4, false);
    ASSERT_EQ(pb[0], 0);
    DDInsObjUsage(base_, pb, id + 2, 7, id, 6);
    ASSERT_EQ(pb[0], 0);
    DDInsTypeUse(base_, pb, 2, 777, id, "A", 1);
    ASSERT_EQ(pb[0], 0);
    const uint8_t text[3] = {0, 0, 'x'};
    DDInsSource(base_, pb, id, "", 0, 1, text, 1);
    ASSERT_EQ(pb[0], 0);
  }
  // Which of a table's rows are there.
  std::string Rows(int32_t id) {
    std::vector<uint8_t> row;
    std::string s;
    const CatalogValue object[] = {{OBJECTS_OBJECT_ID, 0, id, nullptr}};
    s += ReadRow(11, object, &row) == 0 ? "O" : "-";
    const CatalogValue table[] = {{TABLES_TABLE_ID, 0, id, nullptr}};
    s += ReadRow(16, table, &row) == 0 ? "T" : "-";
    const CatalogValue column[] = {{COLUMNS_TABLE_ID, 0, id, nullptr},
                                   {COLUMNS_COLUMN_NAME, 1, 0, "A"}};
    s += ReadRow(22, column, &row) == 0 ? "C" : "-";
    const CatalogValue priv[] = {{TABLE_PRIVILEGES_TABLE_ID, 0, id, nullptr},
                                 {TABLE_PRIVILEGES_PRIVILEGE_TYPE, 1, 0, "SELECT"},
                                 {TABLE_PRIVILEGES_GRANTEE, 1, 0, "EVE"},
                                 {TABLE_PRIVILEGES_GRANTOR, 1, 0, "ADAM"}};
    s += ReadRow(25, priv, &row) == 0 ? "P" : "-";
    const CatalogValue colpriv[] = {{COLUMN_PRIVILEGES_TABLE_ID, 0, id, nullptr},
                                    {COLUMN_PRIVILEGES_COLUMN_NAME, 1, 0, "A"},
                                    {COLUMN_PRIVILEGES_PRIVILEGE_TYPE, 1, 0, "UPDATE"},
                                    {COLUMN_PRIVILEGES_GRANTEE, 1, 0, "EVE"},
                                    {COLUMN_PRIVILEGES_GRANTOR, 1, 0, "ADAM"}};
    s += ReadRow(26, colpriv, &row) == 0 ? "Q" : "-";
    const CatalogValue usage[] = {{OBJECT_USAGE_USED_ID, 0, id, nullptr},
                                  {OBJECT_USAGE_USED_TYPE, 1, 0, "BASE TABLE"},
                                  {OBJECT_USAGE_USER_ID, 0, id + 2, nullptr},
                                  {OBJECT_USAGE_USER_TYPE, 1, 0, "VIEW"}};
    s += ReadRow(38, usage, &row) == 0 ? "U" : "-";
    const CatalogValue type[] = {{TYPE_USAGE_OBJECT_TYPE, 1, 0, "DOMAIN"},
                                 {TYPE_USAGE_OBJECT_ID, 0, 777, nullptr},
                                 {TYPE_USAGE_TABLE_ID, 0, id, nullptr},
                                 {TYPE_USAGE_COLUMN_NAME, 1, 0, "A"}};
    s += ReadRow(40, type, &row) == 0 ? "Y" : "-";
    const CatalogValue source[] = {{SOURCES_OBJECT_ID, 0, id, nullptr},
                                   {SOURCES_OBJECT_NAME, 1, 0, " "},
                                   {SOURCES_SOURCE_TYPE, 1, 0, "ROUTINE"},
                                   {SOURCES_PIECE_NO, 0, 1, nullptr}};
    s += ReadRow(41, source, &row) == 0 ? "S" : "-";
    return s;
  }
  std::vector<std::string> Drop(int32_t mode, int32_t value, const std::string& name) {
    std::vector<std::string> got;
    int32_t pb[2] = {mode, usr_};
    for (int32_t n = 0; n < 20; ++n, pb[0] = 0) {
      int32_t out[4] = {};
      DDDelTableRows(base_, pb, value, name.data(), static_cast<int32_t>(name.size()), out);
      if (pb[0] != 0) break;
      got.push_back(std::to_string(out[0]) + "/" + std::to_string(out[1]) + "/" +
                    std::to_string(out[2]) + "/" + std::to_string(out[3]));
    }
    EXPECT_EQ(pb[0], 1);
    return got;
  }
};

TEST_F(DropsTest, ATablesRowsGoEverywhereByDatabankOwnerOrName) {
  ASSERT_EQ(BegWork(), 0);
  Table(1300, "T1", 50, 7);
  Table(1310, "T2", 51, 7);
  Table(1320, "T3", 50, 8);
  Table(1330, "T1", 52, 9);
  ASSERT_EQ(Rows(1300), "OTCPQUYS");
  EXPECT_EQ(Drop(3, 0, "T1"), (std::vector<std::string>{"1300/50/7/1301", "1330/52/9/1331"}));
  EXPECT_EQ(Rows(1300), "--------");
  EXPECT_EQ(Rows(1330), "--------");
  EXPECT_EQ(Rows(1310), "OTCPQUYS");
  EXPECT_EQ(Drop(2, 50, ""), (std::vector<std::string>{"1320/50/8/1321"}));
  EXPECT_EQ(Rows(1320), "--------");
  EXPECT_EQ(Drop(1, 7, ""), (std::vector<std::string>{"1310/51/7/1311"}));
  EXPECT_EQ(Rows(1310), "--------");
  EXPECT_TRUE(Drop(1, 7, "").empty());
  int32_t pb[2] = {3, usr_}, out[4];
  DDDelTableRows(base_, pb, 0, "", 0, out);
  EXPECT_EQ(pb[0], DD_BAD_VALUE);
  ASSERT_EQ(EndWork(1), 0);
}

// A view's rows go from every table that holds them, by id or by name;
// another view of another name stays.
TEST_F(DropsTest, AViewsRowsGoFromEveryTable) {
  ASSERT_EQ(BegWork(), 0);
  const uint8_t text[3] = {0, 0, 'V'};
  for (int32_t id : {1500, 1510, 1520}) {
    const std::string name = id == 1510 ? "W" : "V";
    ASSERT_EQ(InsObject(id, 7, id == 1520 ? "EVE" : "ADAM", name), 0);
    int32_t pb[2] = {0, usr_};
    DDInsTable(base_, pb, id, 2, 5, 7, false, 1);
    ASSERT_EQ(pb[0], 0);
    DDInsView(base_, pb, id, false, true, text, 1);
    ASSERT_EQ(pb[0], 0);
    DDInsViewTableUse(base_, pb, id, 1, 16, 0);
    ASSERT_EQ(pb[0], 0);
    DDInsLv2Cond2(base_, pb, id, 1, 1, 2, 3, 1, "X", 1);
    ASSERT_EQ(pb[0], 0);
    DDInsObjUsage(base_, pb, id, 7, 16, 6);
    ASSERT_EQ(pb[0], 0);
    DDInsSource(base_, pb, id, "", 0, 2, text, 1);
    ASSERT_EQ(pb[0], 0);
    DDInsTablePriv(base_, pb, id, 1, "EVE", 3, "ADAM", 4, false, false);
    ASSERT_EQ(pb[0], 0);
    const CatalogValue check[] = {{CHECK_TEXTS_INT_0, 0, id, nullptr},
                                  {CHECK_TEXTS_INT_7, 0, 1, nullptr},
                                  {CHECK_TEXTS_INT_14, 0, 1, nullptr},
                                  {CHECK_TEXTS_INT_21, 0, 1, nullptr}};
    ASSERT_EQ(InsertValues(42, check), 0);
  }
  auto there = [&](int32_t id) {
    std::vector<uint8_t> row;
    std::string s;
    const CatalogValue one[] = {{OBJECTS_OBJECT_ID, 0, id, nullptr}};
    s += ReadRow(11, one, &row) == 0 ? "O" : "-";
    s += ReadRow(16, one, &row) == 0 ? "T" : "-";
    s += ReadRow(17, one, &row) == 0 ? "V" : "-";
    const CatalogValue use[] = {{VIEW_TABLE_USAGE_VIEW_ID, 0, id, nullptr},
                                {VIEW_TABLE_USAGE_POSITION, 0, 1, nullptr}};
    s += ReadRow(55, use, &row) == 0 ? "W" : "-";
    const CatalogValue cond[] = {{LV2_CONDITIONS2_OBJECT_ID, 0, id, nullptr},
                                 {LV2_CONDITIONS2_POSITION, 0, 1, nullptr}};
    s += ReadRow(56, cond, &row) == 0 ? "N" : "-";
    const CatalogValue usage[] = {{OBJECT_USAGE_USED_ID, 0, 16, nullptr},
                                  {OBJECT_USAGE_USED_TYPE, 1, 0, "BASE TABLE"},
                                  {OBJECT_USAGE_USER_ID, 0, id, nullptr},
                                  {OBJECT_USAGE_USER_TYPE, 1, 0, "VIEW"}};
    s += ReadRow(38, usage, &row) == 0 ? "U" : "-";
    const CatalogValue source[] = {{SOURCES_OBJECT_ID, 0, id, nullptr},
                                   {SOURCES_OBJECT_NAME, 1, 0, " "},
                                   {SOURCES_SOURCE_TYPE, 1, 0, "VIEW"},
                                   {SOURCES_PIECE_NO, 0, 1, nullptr}};
    s += ReadRow(41, source, &row) == 0 ? "S" : "-";
    const CatalogValue priv[] = {{TABLE_PRIVILEGES_TABLE_ID, 0, id, nullptr},
                                 {TABLE_PRIVILEGES_PRIVILEGE_TYPE, 1, 0, "SELECT"},
                                 {TABLE_PRIVILEGES_GRANTEE, 1, 0, "EVE"},
                                 {TABLE_PRIVILEGES_GRANTOR, 1, 0, "ADAM"}};
    s += ReadRow(25, priv, &row) == 0 ? "P" : "-";
    const CatalogValue check[] = {{CHECK_TEXTS_INT_0, 0, id, nullptr},
                                  {CHECK_TEXTS_INT_7, 0, 1, nullptr},
                                  {CHECK_TEXTS_INT_14, 0, 1, nullptr},
                                  {CHECK_TEXTS_INT_21, 0, 1, nullptr}};
    s += ReadRow(42, check, &row) == 0 ? "H" : "-";
    return s;
  };
  ASSERT_EQ(there(1500), "OTVWNUSPH");
  auto drop = [&](int32_t id, const std::string& name) {
    std::vector<int32_t> got;
    int32_t pb[2] = {1, usr_};
    for (int32_t n = 0; n < 10; ++n, pb[0] = 0) {
      int32_t view = 0;
      DDDelViews(base_, pb, id, name.data(), static_cast<int32_t>(name.size()), &view);
      if (pb[0] != 0) break;
      got.push_back(view);
    }
    EXPECT_EQ(pb[0], 1);
    return got;
  };
  EXPECT_EQ(drop(0, "V"), (std::vector<int32_t>{1500, 1520}));
  EXPECT_EQ(there(1500), "---------");
  EXPECT_EQ(there(1520), "---------");
  EXPECT_EQ(there(1510), "OTVWNUSPH");
  EXPECT_EQ(drop(1510, ""), (std::vector<int32_t>{1510}));
  EXPECT_EQ(there(1510), "---------");
  EXPECT_TRUE(drop(1510, "").empty());
  ASSERT_EQ(InsObject(1530, 6, "ADAM", "V"), 0);
  EXPECT_TRUE(drop(1530, "").empty()) << "a base table is no view";
  ASSERT_EQ(EndWork(1), 0);
}

}  // namespace
