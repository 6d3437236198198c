// The definition statements' cursors: privileges held, objects of a name,
// the keys and uses of a column, dependents with their check texts gone, a
// databank's rows dropped with everything of it; the view usage insert.
#include <string>
#include <vector>

#include "dict/dictionary_cursors.h"
#include "dict/kind_words.h"
#include "dict/tests/lookup_fixture.h"

namespace {

class CursorsTest : public LookupTest {
 protected:
  // Every row of a walk: `step` runs one call with pb and appends what it
  // got; the walk's last status must be 1.
  template <typename Step>
  int32_t Walk(int32_t mode, Step step) {
    int32_t pb[2] = {mode, usr_}, rows = 0;
    for (;; pb[0] = 0, pb[1] = usr_, ++rows) {
      step(pb);
      if (pb[0] != 0 || rows > 50) break;
    }
    EXPECT_EQ(pb[0], 1);
    return rows;
  }
  void TablePriv(int32_t table, int32_t privilege, const std::string& grantee, bool grantable) {
    int32_t pb[2] = {0, usr_};
    DDInsTablePriv(base_, pb, table, privilege, grantee.data(),
                   static_cast<int32_t>(grantee.size()), "ADAM", 4, grantable, false);
    ASSERT_EQ(pb[0], 0);
  }
};

TEST_F(CursorsTest, TablePrivilegesHeldByAGrantee) {
  ASSERT_EQ(BegWork(), 0);
  TablePriv(960, 1, "EVE", true);
  TablePriv(960, 4, "EVE", false);
  TablePriv(961, 2, "EVE", false);
  TablePriv(960, 3, "PUBLIC", false);
  TablePriv(960, 5, "CAIN", false);
  auto held = [&](int32_t table, bool with_public) {
    std::vector<std::string> got;
    Walk(1, [&](int32_t* pb) {
      int32_t privilege = 0, grantable = 0;
      DDCurTablePrivs(base_, pb, "EVE", 3, table, with_public, &privilege, &grantable);
      if (pb[0] == 0) got.push_back(std::to_string(privilege) + (grantable ? "G" : ""));
    });
    return got;
  };
  EXPECT_EQ(held(960, false), (std::vector<std::string>{"1G", "4"}));
  EXPECT_EQ(held(960, true), (std::vector<std::string>{"1G", "4", "3"}));
  EXPECT_EQ(held(0, false), (std::vector<std::string>{"1G", "4", "2"}));
  int32_t pb[2] = {1, usr_}, privilege = 0, grantable = 0;
  DDCurTablePrivs(base_, pb, "", 0, 0, false, &privilege, &grantable);
  EXPECT_EQ(pb[0], DD_BAD_VALUE);
  ASSERT_EQ(EndWork(1), 0);
}

TEST_F(CursorsTest, ObjectsOfANameInEverySchema) {
  ASSERT_EQ(BegWork(), 0);
  ASSERT_EQ(InsObject(970, 6, "ADAM", "T"), 0);
  ASSERT_EQ(InsObject(971, 14, "EVE", "T"), 0);
  ASSERT_EQ(InsObject(972, 6, "EVE", "U"), 0);
  std::vector<std::string> got;
  Walk(1, [&](int32_t* pb) {
    DDObjectText o{};
    DDCurObjText(base_, pb, "T", 1, &o);
    if (pb[0] == 0)
      got.push_back(std::to_string(o.id) + std::string(o.schema, o.schema_length) + ":" +
                    std::to_string(o.kind));
  });
  EXPECT_EQ(got, (std::vector<std::string>{"970ADAM:6", "971EVE:14"}));
  ASSERT_EQ(EndWork(1), 0);
}

TEST_F(CursorsTest, TheKeysAndUsesOfAColumn) {
  ASSERT_EQ(BegWork(), 0);
  struct Key {
    int32_t id, kind;
    std::vector<std::string> columns;
  } keys[] = {{980, 1, {"A"}}, {981, 2, {"B", "A"}}, {982, 5, {"B"}}};
  for (const Key& k : keys) {
    int32_t pb[2] = {0, usr_};
    DDInsConstraint(base_, pb, k.id, k.kind, 975, 0, 1, 0, 0, 0);
    ASSERT_EQ(pb[0], 0);
    for (size_t n = 0; n < k.columns.size(); ++n) {
      DDInsKey(base_, pb, k.id, 975, static_cast<int32_t>(n + 1), k.columns[n].data(), 1, k.kind, 1,
               static_cast<int32_t>(n + 1));
      ASSERT_EQ(pb[0], 0);
    }
  }
  const CatalogValue use[] = {{PRIVILEGE_USAGE_OBJECT_ID, 0, 990, nullptr},
                              {PRIVILEGE_USAGE_OBJECT_NAME, 1, 0, "A"},
                              {PRIVILEGE_USAGE_TABLE_ID, 0, 975, nullptr},
                              {PRIVILEGE_USAGE_OBJECT_TYPE, 1, 0, "VIEW"},
                              {PRIVILEGE_USAGE_PRIVILEGE_TYPE, 1, 0, "SELECT"}};
  ASSERT_EQ(InsertValues(39, use), 0);
  auto of = [&](const std::string& column) {
    std::vector<std::string> got;
    Walk(1, [&](int32_t* pb) {
      int32_t id = 0, kind = -1;
      DDCurTableKeyKinds(base_, pb, 975, column.data(), 1, &id, &kind);
      if (pb[0] == 0) got.push_back(std::to_string(id) + ":" + std::to_string(kind));
    });
    return got;
  };
  EXPECT_EQ(of("A"), (std::vector<std::string>{"980:1", "981:2", "990:0"}));
  EXPECT_EQ(of("B"), (std::vector<std::string>{"981:2", "982:5"}));
  EXPECT_TRUE(of("C").empty());
  ASSERT_EQ(EndWork(1), 0);
}

TEST_F(CursorsTest, DependentsLoseTheirCheckTexts) {
  ASSERT_EQ(BegWork(), 0);
  for (auto [user, used] : {std::pair{1001, 1000}, {1002, 1000}, {1003, 999}}) {
    int32_t pb[2] = {0, usr_};
    DDInsObjUsage(base_, pb, user, 7, used, 6);
    ASSERT_EQ(pb[0], 0);
    const CatalogValue text[] = {{CHECK_TEXTS_INT_0, 0, user, nullptr},
                                 {CHECK_TEXTS_INT_7, 0, 1, nullptr},
                                 {CHECK_TEXTS_INT_14, 0, 1, nullptr},
                                 {CHECK_TEXTS_INT_21, 0, 1, nullptr}};
    ASSERT_EQ(InsertValues(42, text), 0);
  }
  auto texts = [&](int32_t user) {
    std::vector<uint8_t> row;
    const CatalogValue key[] = {{CHECK_TEXTS_INT_0, 0, user, nullptr},
                                {CHECK_TEXTS_INT_7, 0, 1, nullptr},
                                {CHECK_TEXTS_INT_14, 0, 1, nullptr},
                                {CHECK_TEXTS_INT_21, 0, 1, nullptr}};
    return ReadRow(42, key, &row) == 0;
  };
  std::vector<int32_t> got;
  Walk(1, [&](int32_t* pb) {
    int32_t dependent = 0;
    DDCurDeps(base_, pb, 1000, &dependent);
    if (pb[0] == 0) got.push_back(dependent);
  });
  EXPECT_EQ(got, (std::vector<int32_t>{1001, 1002}));
  EXPECT_FALSE(texts(1001));
  EXPECT_FALSE(texts(1002));
  EXPECT_TRUE(texts(1003));
  got.clear();
  Walk(2, [&](int32_t* pb) {
    int32_t dependent = 0;
    DDCurDeps(base_, pb, 0, &dependent);
    if (pb[0] == 0) got.push_back(dependent);
  });
  EXPECT_EQ(got.size(), 3u) << "every usage row";
  EXPECT_FALSE(texts(1003));
  ASSERT_EQ(EndWork(1), 0);
}

TEST_F(CursorsTest, ADatabanksRowsDroppedWithEverythingOfIt) {
  ASSERT_EQ(BegWork(), 0);
  for (int32_t id : {1100, 1101}) {
    const std::string name = "DB" + std::to_string(id);
    int32_t pb[2] = {0, usr_};
    DDInsDatabank(base_, pb, id, id, name.data(), 6, "S", 1, "f.dbf", 5, 1, true);
    ASSERT_EQ(pb[0], 0);
    ASSERT_EQ(InsObject(id, 1, "ADAM", name), 0);
    const CatalogValue privilege[] = {{PRIVILEGES_OBJECT_ID, 0, id, nullptr},
                                      {PRIVILEGES_PRIVILEGE_TYPE, 1, 0, "BACKUP"},
                                      {PRIVILEGES_GRANTEE, 1, 0, "EVE"},
                                      {PRIVILEGES_GRANTOR, 1, 0, "ADAM"}};
    ASSERT_EQ(InsertValues(27, privilege), 0);
    DDDbfileRow f{};
    f.name = name.data();
    f.name_length = 6;
    f.date = "20261211";
    f.time = "051500";
    f.code = "BK";
    f.user = "ADAM";
    f.user_length = 4;
    f.text = "copy";
    f.text_length = 4;
    f.sequence = 1;
    DDInsDbfile(base_, pb, f);
    ASSERT_EQ(pb[0], 0);
  }
  const CatalogValue second[] = {{DATABANKS_DATABANK_ID, 0, 1100, nullptr},
                                 {DATABANKS_SEQUENCE_NO, 0, 2, nullptr},
                                 {DATABANKS_LOGICAL_ID, 0, 1100, nullptr},
                                 {DATABANKS_DATABANK_NAME, 1, 0, "DB1100"}};
  ASSERT_EQ(InsertValues(15, second), 0);
  auto there = [&](int32_t id) {
    std::vector<uint8_t> row;
    std::string s;
    const CatalogValue object[] = {{OBJECTS_OBJECT_ID, 0, id, nullptr}};
    s += ReadRow(11, object, &row) == 0 ? "O" : "-";
    const CatalogValue databank[] = {{DATABANKS_DATABANK_ID, 0, id, nullptr},
                                     {DATABANKS_SEQUENCE_NO, 0, 1, nullptr},
                                     {DATABANKS_LOGICAL_ID, 0, id, nullptr}};
    s += ReadRow(15, databank, &row) == 0 ? "D" : "-";
    const CatalogValue privilege[] = {{PRIVILEGES_OBJECT_ID, 0, id, nullptr},
                                      {PRIVILEGES_PRIVILEGE_TYPE, 1, 0, "BACKUP"},
                                      {PRIVILEGES_GRANTEE, 1, 0, "EVE"},
                                      {PRIVILEGES_GRANTOR, 1, 0, "ADAM"}};
    s += ReadRow(27, privilege, &row) == 0 ? "P" : "-";
    return s;
  };
  ASSERT_EQ(there(1100), "ODP");
  std::vector<std::string> got;
  Walk(1, [&](int32_t* pb) {
    DDDroppedDatabankRow r{};
    DDDelDatabankRows(base_, pb, 0, "DB1100", 6, &r);
    if (pb[0] == 0)
      got.push_back(std::to_string(r.id) + ":" + std::to_string(r.number) + (r.flag ? "Y" : "N"));
  });
  EXPECT_EQ(got, (std::vector<std::string>{"1100:1Y", "1100:2N"}));
  EXPECT_EQ(there(1100), "---");
  EXPECT_EQ(there(1101), "ODP");
  auto file = [&](const char* name) {
    std::vector<uint8_t> row;
    const CatalogValue key[] = {{DATABANK_FILES_DATABANK_NAME, 1, 0, name},
                                {DATABANK_FILES_INT_129, 0, 1, nullptr},
                                {DATABANK_FILES_CHAR_136, 1, 0, "BK"},
                                {DATABANK_FILES_BYTES_139, 1, 0, "20261211"},
                                {DATABANK_FILES_INT_148, 0, 51500, nullptr}};
    return ReadRow(51, key, &row) == 0;
  };
  EXPECT_FALSE(file("DB1100"));
  EXPECT_TRUE(file("DB1101"));
  int32_t pb[2] = {1, usr_};
  DDDroppedDatabankRow r{};
  DDDelDatabankRows(base_, pb, 0, "DB1100", 6, &r);
  EXPECT_EQ(pb[0], 1);
  pb[0] = 1;
  pb[1] = usr_;
  DDDelDatabankRows(base_, pb, 1101, "", 0, &r);
  EXPECT_EQ(pb[0], 0);
  pb[0] = 1;
  pb[1] = usr_;
  DDDelDatabankRows(base_, pb, 0, "", 0, &r);
  EXPECT_EQ(pb[0], DD_BAD_VALUE);
  ASSERT_EQ(EndWork(1), 0);
}

TEST_F(CursorsTest, AViewsUsageRowTakesTheUsedTablesKind) {
  ASSERT_EQ(BegWork(), 0);
  int32_t pb[2] = {0, usr_};
  DDInsTable(base_, pb, 1200, 1, 5, 7, true, 1);
  ASSERT_EQ(pb[0], 0);
  DDInsTable(base_, pb, 1201, 2, 5, 7, false, 1);
  ASSERT_EQ(pb[0], 0);
  int32_t view = -1;
  DDInsViewUse(base_, pb, 1202, 1200, &view);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(view, 0);
  DDInsViewUse(base_, pb, 1202, 1201, &view);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(view, 1);
  DDInsViewUse(base_, pb, 1202, 1201, &view);
  EXPECT_EQ(pb[0], 2);
  pb[0] = 0;
  DDInsViewUse(base_, pb, 1202, 1299, &view);
  EXPECT_EQ(pb[0], 1);
  std::vector<uint8_t> row;
  const CatalogValue usage[] = {{OBJECT_USAGE_USED_ID, 0, 1201, nullptr},
                                {OBJECT_USAGE_USED_TYPE, 1, 0, "VIEW"},
                                {OBJECT_USAGE_USER_ID, 0, 1202, nullptr},
                                {OBJECT_USAGE_USER_TYPE, 1, 0, "VIEW"}};
  EXPECT_EQ(ReadRow(38, usage, &row), 0);
  ASSERT_EQ(EndWork(1), 0);
}

}  // namespace
