// The catalog of a created, started database read through the dictionary's
// real statement images by the administrator's session: every system table
// found by name in SYSTEM with its number and lengths, every column with
// the type catalog.def gives it, the keys of table 22 with their columns.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "dict/compiler_lookups.h"
#include "dict/tests/catalog_forms.h"
#include "dict/work_block.h"
#include "server/tests/started_work_fixture.h"

namespace {

class StartedCatalogTest : public StartedWorkTest {
 protected:
  void SetUp() override {
    StartedDatabaseTest::SetUp();
    if (HasFatalFailure()) return;
    int32_t pb[2] = {0, admin_};
    DDBegWork(base_, pb);
    ASSERT_EQ(pb[0], 0);
  }
  void TearDown() override {
    int32_t pb[2] = {0, admin_};
    if (base_ != nullptr) DDEndWork(base_, pb);
    EXPECT_EQ(pb[0], 0);
  }
};

TEST_F(StartedCatalogTest, EverySystemTableIsFoundByNameInSystem) {
  for (int32_t k = 0; k < kCatalogTableCount; ++k) {
    const CatalogTable& t = kCatalogTables[k];
    DDTableAttr a{};
    ASSERT_EQ(Find(admin_, "SYSTEM", t.name, &a), 0) << t.name;
    ExpectSystemTable(a, t);
  }
  DDTableAttr a{};
  a.id = 4242;
  EXPECT_EQ(Find(admin_, "SYSTEM", "NO_SUCH_TABLE", &a), DD_TABLE_NOT_FOUND);
  EXPECT_EQ(Find(admin_, kStartedAdmin, "TABLES", &a), DD_TABLE_NOT_FOUND);
  EXPECT_EQ(a.id, 4242) << "nothing is written for a table not found";
}

TEST_F(StartedCatalogTest, EveryColumnHasItsDefinedTypeAndLength) {
  for (int32_t k = 0; k < kCatalogTableCount; ++k) {
    const CatalogTable& t = kCatalogTables[k];
    for (int32_t i = 0; i < t.column_count; ++i) {
      const CatalogColumn& c = kCatalogColumns[t.first_column + i];
      const FormType want = TypeOf(c);
      DDColumnDesc d{};
      int32_t pb[2] = {0, admin_};
      DDCmpColumns(base_, pb, t.number, 0, c.name, static_cast<int32_t>(std::strlen(c.name)), &d,
                   nullptr, 0);
      ASSERT_EQ(pb[0], 0) << t.name << "." << c.name;
      EXPECT_EQ(d.column_id, i + 1) << t.name << "." << c.name;
      EXPECT_EQ(d.type, want.code) << t.name << "." << c.name;
      EXPECT_EQ(d.length, want.length) << t.name << "." << c.name;
      EXPECT_EQ(d.scale, want.scale) << t.name << "." << c.name;
      EXPECT_EQ(d.offset, c.offset) << t.name << "." << c.name;
      EXPECT_EQ(d.byte_length, c.width) << t.name << "." << c.name;
    }
  }
}

TEST_F(StartedCatalogTest, TheKeysOfTable22ComeWithTheirColumns) {
  std::vector<int32_t> entries(8 * DD_CI_ENTRY_WORDS + 1, 7777);
  int32_t count = -1;
  int32_t pb[2] = {0, admin_};
  DDCmpCI(base_, pb, CAT_COLUMNS, 8, entries.data(), &count);
  ASSERT_EQ(pb[0], 0);
  ASSERT_EQ(count, 3);
  const std::map<int32_t, std::pair<int32_t, std::vector<std::string>>> want = {
      {79, {1, {"TABLE_ID", "COLUMN_NAME"}}},
      {80, {5, {"TABLE_ID", "COLUMN_ID"}}},
      {81, {2, {"TABLE_ID", "DOMAIN_ID"}}}};
  const CatalogTable* t = CatalogFindTable(CAT_COLUMNS);
  for (int32_t e = 0; e < count; ++e) {
    const int32_t* x = &entries[static_cast<size_t>(e) * DD_CI_ENTRY_WORDS];
    auto w = want.find(x[DD_CI_ID]);
    ASSERT_NE(w, want.end()) << x[DD_CI_ID];
    EXPECT_EQ(x[DD_CI_KIND], w->second.first);
    ASSERT_EQ(x[DD_CI_COUNT], 2);
    for (int32_t k = 0; k < 2; ++k) {
      int32_t number = 0;
      for (int32_t i = 0; i < t->column_count; ++i)
        if (w->second.second[k] == kCatalogColumns[t->first_column + i].name) number = i + 1;
      EXPECT_EQ(x[DD_CI_COLUMN + k], number) << x[DD_CI_ID];
      EXPECT_EQ(x[DD_CI_POSITION + k], k + 1);
    }
  }
  EXPECT_EQ(entries[3 * DD_CI_ENTRY_WORDS], 7777) << "nothing past the entries collected";
}

}  // namespace
