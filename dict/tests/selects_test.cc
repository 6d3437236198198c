// Objects selected by schema, name and kind: each kind among objects of
// one name, the own rows a kind needs, and the kinds and names refused
// before anything runs.
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "dict/dictionary_services.h"
#include "dict/kind_words.h"
#include "dict/tests/lookup_fixture.h"

namespace {

class SelectsTest : public LookupTest {
 protected:
  int32_t Sel(const std::string& schema, const std::string& name, int32_t kind, int32_t* id) {
    int32_t pb[2] = {0, usr_};
    *id = -1;
    DDSelObject(base_, pb, schema.data(), static_cast<int32_t>(schema.size()), name.data(),
                static_cast<int32_t>(name.size()), kind, id);
    return pb[0];
  }
};

TEST_F(SelectsTest, EachKindAmongObjectsOfOneName) {
  ASSERT_EQ(BegWork(), 0);
  int32_t pb[2] = {0, usr_};
  // "K" in schema S as an index, a sequence, a table, a constraint (only
  // its referential row) and a procedure; "V" a view without its row of 16;
  // "F" a function without its row of 29; "Q" a constraint with neither
  // row; "ADM" a schema outside every schema.
  ASSERT_EQ(InsObject(901, 4, "S", "K"), 0);
  ASSERT_EQ(InsObject(902, 14, "S", "K"), 0);
  ASSERT_EQ(InsObject(903, 6, "S", "K"), 0);
  ASSERT_EQ(InsObject(904, 16, "S", "K"), 0);
  ASSERT_EQ(InsObject(905, 11, "S", "K"), 0);
  ASSERT_EQ(InsObject(906, 7, "S", "V"), 0);
  ASSERT_EQ(InsObject(907, 12, "S", "F"), 0);
  ASSERT_EQ(InsObject(908, 16, "S", "Q"), 0);
  ASSERT_EQ(InsObject(909, 15, "", "ADM"), 0);
  ASSERT_EQ(InsObject(910, 18, "S2", "K"), 0);
  DDInsConstraint(base_, pb, 901, 2, 903, 14, 1, 14, 0, 0);
  ASSERT_EQ(pb[0], 0);
  DDInsTable(base_, pb, 903, 1, 5, 7, true, 1);
  ASSERT_EQ(pb[0], 0);
  DDInsRefConstraint(base_, pb, 904, 903, 901, 903, 1, 1, 1);
  ASSERT_EQ(pb[0], 0);
  const CatalogValue routine[] = {{ROUTINES_ROUTINE_ID, 0, 905, nullptr}};
  ASSERT_EQ(InsertValues(29, routine), 0);
  struct Case {
    const char* schema;
    const char* name;
    int32_t kind, status, id;
  } cases[] = {
      {"SYSTEM", "TABLES", 6, 0, 16},  {"SYSTEM", "OBJECTS", 6, 0, 11},
      {"SYSTEM", "TABLES", 7, 1, -1},  {"SYSTEM", "NOTHING", 6, 1, -1},
      {"S", "K", 4, 0, 901},           {"S", "K", 14, 0, 902},
      {"S", "K", 6, 0, 903},           {"S", "K", 16, 0, 904},
      {"S", "K", 11, 0, 905},          {"S", "K", 12, 1, -1},
      {"S", "K", 18, 1, -1},           {"S2", "K", 18, 0, 910},
      {"S2", "K", 4, 1, -1},           {"", "ADM", 15, 0, 909},
      {"S", "ADM", 15, 1, -1},         {"", "K", 4, 1, -1},
      {"S", "V", 7, -19007, -1},       {"S", "F", 12, -19007, -1},
      {"S", "Q", 16, -19007, -1},
  };
  for (const Case& c : cases) {
    int32_t id = 0;
    EXPECT_EQ(Sel(c.schema, c.name, c.kind, &id), c.status) << c.schema << "." << c.name << " " << c.kind;
    EXPECT_EQ(id, c.id) << c.schema << "." << c.name << " " << c.kind;
  }
  ASSERT_EQ(EndWork(1), 0);
}

TEST_F(SelectsTest, KindsAndNamesRefusedBeforeAnythingRuns) {
  ASSERT_EQ(BegWork(), 0);
  // A column object is inserted, never selected.
  ASSERT_EQ(InsObject(920, 8, "S", "C"), 0);
  const int32_t refused[] = {8, 20, 0, -1, 17, 19, 21, 23, 1000};
  for (int32_t kind : refused) {
    int32_t id = 0;
    EXPECT_EQ(Sel("S", "C", kind, &id), DD_KIND_OUTSIDE) << kind;
    EXPECT_EQ(id, -1) << kind;
  }
  int32_t id = 0;
  EXPECT_EQ(Sel("S", std::string(129, 'N'), 6, &id), DD_BAD_VALUE);
  EXPECT_EQ(Sel(std::string(129, 'S'), "T", 6, &id), DD_BAD_VALUE);
  EXPECT_EQ(Sel("S", "", 6, &id), DD_BAD_VALUE);
  EXPECT_EQ(id, -1);
  // A name of 128 characters is one.
  const std::string longest(128, 'L');
  ASSERT_EQ(InsObject(921, 14, longest, longest), 0);
  EXPECT_EQ(Sel(longest, longest, 14, &id), 0);
  EXPECT_EQ(id, 921);
  ASSERT_EQ(EndWork(1), 0);
}

// The foreign keys resting on a table from the tables of a schema, by
// the referenced key's columns.
TEST_F(SelectsTest, ForeignKeysRestingOnATable) {
  ASSERT_EQ(BegWork(), 0);
  int32_t pb[2] = {0, usr_};
  auto key = [&](int32_t id, int32_t table, int32_t position, const std::string& column) {
    DDInsKey(base_, pb, id, table, position, column.data(), static_cast<int32_t>(column.size()), 5,
             1, position);
    EXPECT_EQ(pb[0], 0);
  };
  auto ref = [&](int32_t id, int32_t table, int32_t unique, int32_t referenced) {
    DDInsRefConstraint(base_, pb, id, table, unique, referenced, 1, 1, 1);
    EXPECT_EQ(pb[0], 0);
  };
  // Unique keys 750 (A, B) and 751 (C) of table 700, 752 (A) of 701.
  key(750, 700, 1, "A");
  key(750, 700, 2, "B");
  key(751, 700, 1, "C");
  key(752, 701, 1, "A");
  ASSERT_EQ(InsObject(710, 6, "EVE", "T1"), 0);
  ASSERT_EQ(InsObject(711, 6, "BOB", "T2"), 0);
  ref(760, 710, 750, 700);
  ref(761, 711, 750, 700);
  ref(762, 710, 752, 701);
  ref(763, 710, 751, 700);
  struct Case {
    int32_t table;
    const char *schema, *column;
    int32_t status, id;
  } cases[] = {
      {700, "EVE", "", 0, 760},  {700, "EVE", "C", 0, 763}, {700, "EVE", "B", 0, 760},
      {700, "BOB", "", 0, 761},  {700, "BOB", "C", 1, -1},  {701, "EVE", "", 0, 762},
      {701, "EVE", "B", 1, -1},  {702, "EVE", "", 1, -1},   {700, "ZED", "", 1, -1},
      {700, "EVE", "D", 1, -1},
  };
  for (const Case& c : cases) {
    int32_t id = -1;
    int32_t q[2] = {0, usr_};
    DDGetKeyId(base_, q, c.table, c.schema, static_cast<int32_t>(std::strlen(c.schema)), c.column,
               static_cast<int32_t>(std::strlen(c.column)), &id);
    EXPECT_EQ(q[0], c.status) << c.table << c.schema << c.column;
    EXPECT_EQ(id, c.id) << c.table << c.schema << c.column;
  }
  const std::string long_name(129, 'N');
  for (auto [schema, column] : {std::pair<std::string, std::string>{"", ""},
                                {long_name, ""}, {"EVE", long_name}}) {
    int32_t id = -1;
    int32_t q[2] = {0, usr_};
    DDGetKeyId(base_, q, 700, schema.data(), static_cast<int32_t>(schema.size()), column.data(),
               static_cast<int32_t>(column.size()), &id);
    EXPECT_EQ(q[0], DD_BAD_VALUE);
    EXPECT_EQ(id, -1);
  }
  ASSERT_EQ(EndWork(1), 0);
}

// A column is used by a foreign key of another table referencing a key
// that has it, or by an object using a privilege on it; not by the
// table's own keys.
TEST_F(SelectsTest, AColumnUsedByAnotherObject) {
  ASSERT_EQ(BegWork(), 0);
  int32_t pb[2] = {0, usr_};
  const char* names[] = {"A", "B", "C", "D"};
  for (int32_t k = 0; k < 4; ++k) {
    DDColumnDef c;
    c.name = names[k];
    c.name_length = 1;
    c.number = k + 1;
    c.type = 1;
    c.length = 10;
    DDInsColumn(base_, pb, 700, c, nullptr, 0);
    ASSERT_EQ(pb[0], 0);
  }
  DDInsConstraint(base_, pb, 750, 1, 700, 11, 1, 11, 0, 0);
  ASSERT_EQ(pb[0], 0);
  DDInsConstraint(base_, pb, 751, 5, 700, 11, 1, 11, 0, 0);
  ASSERT_EQ(pb[0], 0);
  DDInsKey(base_, pb, 750, 700, 1, "A", 1, 1, 1, 1);
  ASSERT_EQ(pb[0], 0);
  DDInsKey(base_, pb, 751, 700, 1, "B", 1, 5, 1, 2);
  ASSERT_EQ(pb[0], 0);
  DDInsRefConstraint(base_, pb, 760, 710, 750, 700, 1, 1, 1);
  ASSERT_EQ(pb[0], 0);
  const CatalogValue usage[] = {{PRIVILEGE_USAGE_OBJECT_ID, 0, 900, nullptr},
                                {PRIVILEGE_USAGE_OBJECT_NAME, 1, 0, "C"},
                                {PRIVILEGE_USAGE_TABLE_ID, 0, 700, nullptr},
                                {PRIVILEGE_USAGE_OBJECT_TYPE, 1, 0, "VIEW"},
                                {PRIVILEGE_USAGE_PRIVILEGE_TYPE, 1, 0, "SELECT"}};
  ASSERT_EQ(InsertValues(39, usage), 0);
  struct Case {
    int32_t table;
    const char* name;
    int32_t number, status;
  } cases[] = {
      {700, "A", 0, 3}, {700, "", 1, 3}, {700, "B", 0, 0}, {700, "", 2, 0},
      {700, "C", 0, 5}, {700, "", 3, 5}, {700, "D", 0, 0}, {700, "E", 0, 1},
      {700, "", 9, 1},  {701, "A", 0, 1}, {700, "", 0, DD_BAD_VALUE},
  };
  for (const Case& c : cases) {
    int32_t q[2] = {0, usr_};
    DDChkColumnUse(base_, q, c.table, c.name, static_cast<int32_t>(std::strlen(c.name)), c.number);
    EXPECT_EQ(q[0], c.status) << c.table << " " << c.name << " " << c.number;
  }
  const std::string long_name(129, 'A');
  int32_t q[2] = {0, usr_};
  DDChkColumnUse(base_, q, 700, long_name.data(), 129, 0);
  EXPECT_EQ(q[0], DD_BAD_VALUE);
  ASSERT_EQ(EndWork(1), 0);
}

// Tables and views by name, directly or through a synonym.
TEST_F(SelectsTest, ATableOrViewDirectlyOrThroughASynonym) {
  ASSERT_EQ(BegWork(), 0);
  int32_t pb[2] = {0, usr_};
  ASSERT_EQ(InsObject(929, 14, "S", "T"), 0);  // a sequence of the table's name, met first
  ASSERT_EQ(InsObject(930, 6, "S", "T"), 0);
  ASSERT_EQ(InsObject(931, 7, "S", "V"), 0);
  ASSERT_EQ(InsObject(932, 5, "S", "SYN"), 0);
  ASSERT_EQ(InsObject(933, 5, "S", "BAD"), 0);
  ASSERT_EQ(InsObject(934, 14, "S", "SEQ"), 0);
  ASSERT_EQ(InsObject(935, 5, "S", "SSEQ"), 0);
  DDInsBaseLink(base_, pb, 932, 931);
  ASSERT_EQ(pb[0], 0);
  DDInsBaseLink(base_, pb, 935, 934);
  ASSERT_EQ(pb[0], 0);
  ASSERT_EQ(InsObject(937, 5, "S", "TSYN"), 0);
  DDInsBaseLink(base_, pb, 937, 930);
  ASSERT_EQ(pb[0], 0);
  struct Case {
    const char *schema, *name;
    int32_t status, id, kind;
    const char *base_name, *synonym;
    int32_t synonym_id;
  } cases[] = {
      {"SYSTEM", "TABLES", 0, 16, 1, "TABLES", "", 0},
      {"S", "T", 0, 930, 1, "T", "", 0},
      {"S", "V", 0, 931, 3, "V", "", 0},
      {"S", "SYN", 0, 931, 4, "V", "SYN", 932},
      {"S", "TSYN", 0, 930, 2, "T", "TSYN", 937},
      {"S", "BAD", -19007, -1, -1, "", "", -1},
      {"S", "SEQ", 1, -1, -1, "", "", -1},
      {"S", "SSEQ", 1, -1, -1, "", "", -1},
      {"S2", "T", 1, -1, -1, "", "", -1},
  };
  for (const Case& c : cases) {
    DDViewCheck v{};
    v.id = v.kind = v.synonym_id = -1;
    int32_t q[2] = {0, usr_};
    DDChkView(base_, q, c.schema, static_cast<int32_t>(std::strlen(c.schema)), c.name,
              static_cast<int32_t>(std::strlen(c.name)), &v);
    EXPECT_EQ(q[0], c.status) << c.schema << "." << c.name;
    EXPECT_EQ(v.id, c.id) << c.name;
    EXPECT_EQ(v.kind, c.kind) << c.name;
    EXPECT_EQ(v.synonym_id, c.synonym_id) << c.name;
    if (q[0] != 0) continue;
    EXPECT_EQ(std::string(v.name, v.name_length), c.base_name);
    EXPECT_EQ(std::string(v.schema, v.schema_length), c.schema);
    EXPECT_EQ(std::string(v.synonym, v.synonym_length), c.synonym);
  }
  const std::string long_name(129, 'N');
  DDViewCheck v{};
  v.id = -1;
  for (auto [schema, name] : {std::pair<std::string, std::string>{"", "T"}, {"S", ""},
                              {long_name, "T"}, {"S", long_name}}) {
    int32_t q[2] = {0, usr_};
    DDChkView(base_, q, schema.data(), static_cast<int32_t>(schema.size()), name.data(),
              static_cast<int32_t>(name.size()), &v);
    EXPECT_EQ(q[0], DD_BAD_VALUE);
  }
  EXPECT_EQ(v.id, -1);
  ASSERT_EQ(EndWork(1), 0);
}

// The integers of every system table as its definition gives them, and
// of an index and a constraint by their rows of 18.
TEST_F(SelectsTest, TheIntegersOfTablesAndKeys) {
  ASSERT_EQ(BegWork(), 0);
  auto ids = [&](int32_t kind, const std::string& schema, const std::string& name,
                 std::vector<int32_t>* v) {
    v->assign(7, -9);
    int32_t q[2] = {0, usr_};
    DDGetObjectIds(base_, q, kind, schema.data(), static_cast<int32_t>(schema.size()),
                   name.data(), static_cast<int32_t>(name.size()), v->data());
    return q[0];
  };
  std::vector<int32_t> v;
  for (int32_t k = 0; k < kCatalogTableCount; ++k) {
    const CatalogTable& t = kCatalogTables[k];
    ASSERT_EQ(ids(6, CATALOG_SCHEMA, t.name, &v), 0) << t.name;
    const std::vector<int32_t> want = {t.number,         t.key_length, t.record_length,
                                       t.trailing_start,
                                       t.column_count, 1, CATALOG_SCHEMA_ID};
    EXPECT_EQ(v, want) << t.name;
  }
  int32_t pb[2] = {0, usr_};
  ASSERT_EQ(InsObject(751, 4, "S", "IX"), 0);
  ASSERT_EQ(InsObject(752, 16, "S", "PK"), 0);
  ASSERT_EQ(InsObject(753, 16, "S", "LOST"), 0);
  ASSERT_EQ(InsObject(754, 7, "S", "IX"), 0);
  DDInsConstraint(base_, pb, 751, 2, 700, 14, 1, 15, 9, 1);
  ASSERT_EQ(pb[0], 0);
  DDInsConstraint(base_, pb, 752, 1, 700, 21, 3, 22, 0, 0);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(ids(4, "S", "IX", &v), 0);
  EXPECT_EQ(v, (std::vector<int32_t>{751, 14, 15, 1, 700, 1, 9}));
  EXPECT_EQ(ids(16, "S", "PK", &v), 0);
  EXPECT_EQ(v[0], 752);
  EXPECT_EQ(v[1], 21);
  EXPECT_EQ(v[3], 3);
  EXPECT_EQ(ids(16, "S", "LOST", &v), -19007);
  EXPECT_EQ(ids(7, "S", "IX", &v), -19007) << "a view without its row of 16";
  EXPECT_EQ(ids(6, "S", "IX", &v), 1);
  EXPECT_EQ(ids(6, "S", "NONE", &v), 1);
  EXPECT_EQ(v, std::vector<int32_t>(7, -9));
  for (int32_t kind : {0, 1, 5, 8, 14, 17, 23})
    EXPECT_EQ(ids(kind, "S", "IX", &v), DD_KIND_OUTSIDE) << kind;
  EXPECT_EQ(ids(4, "", "IX", &v), DD_BAD_VALUE);
  EXPECT_EQ(ids(4, "S", std::string(129, 'I'), &v), DD_BAD_VALUE);
  EXPECT_EQ(v, std::vector<int32_t>(7, -9));
  // A key's integers changed, the row found by id, kind and table.
  auto upd = [&](int32_t id, int32_t kind, int32_t table) {
    int32_t q[2] = {0, usr_};
    DDUpdConstraint(base_, q, id, kind, table, 20, 2, 21, 5);
    return q[0];
  };
  EXPECT_EQ(upd(751, 2, 700), 0);
  EXPECT_EQ(ids(4, "S", "IX", &v), 0);
  EXPECT_EQ(v, (std::vector<int32_t>{751, 20, 21, 2, 700, 1, 5}));
  EXPECT_EQ(upd(751, 5, 700), 1) << "another kind";
  EXPECT_EQ(upd(751, 2, 701), 1) << "another table";
  EXPECT_EQ(upd(759, 2, 700), 1);
  EXPECT_EQ(upd(751, 8, 700), DD_KIND_OUTSIDE);
  EXPECT_EQ(upd(751, 0, 700), DD_KIND_OUTSIDE);
  EXPECT_EQ(ids(4, "S", "IX", &v), 0);
  EXPECT_EQ(v, (std::vector<int32_t>{751, 20, 21, 2, 700, 1, 5}));
  ASSERT_EQ(EndWork(1), 0);
}

// Synonyms dropped by name, or every synonym of an object by its id; a
// shadow's link and objects of other kinds stay.
TEST_F(SelectsTest, SynonymsDroppedByNameOrByTheirObject) {
  ASSERT_EQ(BegWork(), 0);
  int32_t pb[2] = {0, usr_};
  ASSERT_EQ(InsObject(930, 6, "S", "T"), 0);
  ASSERT_EQ(InsObject(931, 6, "S", "U"), 0);
  ASSERT_EQ(InsObject(944, 14, "S", "S1"), 0);
  struct Link {
    int32_t id, kind;
    const char* name;
    int32_t base;
  } links[] = {{940, 5, "S1", 930}, {941, 5, "S2", 930}, {942, 5, "S3", 931}, {943, 9, "SH", 930}};
  for (const Link& l : links) {
    ASSERT_EQ(InsObject(l.id, l.kind, "S", l.name), 0);
    DDInsBaseLink(base_, pb, l.id, l.base);
    ASSERT_EQ(pb[0], 0);
  }
  // Which of the objects 940-944 have their object row (O) and link (L).
  auto there = [&]() {
    std::string s;
    std::vector<uint8_t> row;
    for (int32_t id = 940; id <= 944; ++id) {
      const CatalogValue key[] = {{OBJECTS_OBJECT_ID, 0, id, nullptr}};
      s += ReadRow(11, key, &row) == 0 ? "O" : "-";
      const CatalogValue link[] = {{OBJECT_LINKS_OBJECT_ID, 0, id, nullptr}};
      s += ReadRow(12, link, &row) == 0 ? "L" : "-";
      s += " ";
    }
    return s;
  };
  auto drop = [&](int32_t id, const std::string& schema, const std::string& name) {
    int32_t q[2] = {0, usr_};
    DDDelSynonyms(base_, q, id, schema.data(), static_cast<int32_t>(schema.size()), name.data(),
                  static_cast<int32_t>(name.size()));
    return q[0];
  };
  ASSERT_EQ(there(), "OL OL OL OL O- ");
  EXPECT_EQ(drop(0, "S", "S1"), 0);
  EXPECT_EQ(there(), "-- OL OL OL O- ");
  EXPECT_EQ(drop(0, "S", "S1"), 1) << "the sequence of that name is no synonym";
  EXPECT_EQ(drop(0, "S", "T"), 1);
  EXPECT_EQ(drop(930, "", ""), 0);
  EXPECT_EQ(there(), "-- -- OL OL O- ");
  EXPECT_EQ(drop(930, "", ""), 1);
  EXPECT_EQ(drop(0, "", "S3"), DD_BAD_VALUE);
  EXPECT_EQ(drop(0, "S", std::string(129, 'S')), DD_BAD_VALUE);
  EXPECT_EQ(there(), "-- -- OL OL O- ");
  ASSERT_EQ(EndWork(1), 0);
}

TEST_F(SelectsTest, NoWorkNoSelection) {
  int32_t id = 0;
  EXPECT_EQ(Sel("SYSTEM", "TABLES", 6, &id), -19075);
  EXPECT_EQ(id, -1);
}

}  // namespace
