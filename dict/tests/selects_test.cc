// Objects selected by schema, name and kind: each kind among objects of
// one name, the own rows a kind needs, and the kinds and names refused
// before anything runs.
#include <string>

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

TEST_F(SelectsTest, NoWorkNoSelection) {
  int32_t id = 0;
  EXPECT_EQ(Sel("SYSTEM", "TABLES", 6, &id), -19075);
  EXPECT_EQ(id, -1);
}

}  // namespace
