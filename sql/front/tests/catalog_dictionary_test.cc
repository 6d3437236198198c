// The compiler's dictionary access over the dictionary's own lookups, on the
// catalog tables of the dictionary's tests (the catalog's own rows, and a
// table the dictionary's inserts write): tables and views by name, columns
// through the cache against the catalog's definition, a national default's
// length, keys.
#include <algorithm>
#include <cstring>
#include <string>

#include "dict/compiler_services.h"
#include "dict/dictionary_services.h"
#include "dict/tests/lookup_fixture.h"
#include "sql/front/catalog_access.h"
#include "sql/front/compile_services.h"
#include "sql/front/tests/compile_test_support.h"

namespace {

class CatalogOverDictionary : public LookupTest {
 protected:
  void SetUp() override {
    LookupTest::SetUp();
    if (HasFatalFailure()) return;
    old_ = SqlInstallDictionaryServices(nullptr);
    DDInstallCompilerServices(base_);
  }
  void TearDown() override {
    SqlInstallDictionaryServices(&old_);
    LookupTest::TearDown();
  }
  SqlDictionaryServices old_;
};

TEST_F(CatalogOverDictionary, TablesColumnsAndDefaults) {
  ASSERT_EQ(BegWork(), 0);
  // A table of the user's schema with a national column whose default has
  // five characters.
  int32_t pb[2] = {0, usr_};
  DDInsObject(base_, pb, 5000, 6, "ADAM", 4, "T", 1);
  ASSERT_EQ(pb[0], 0);
  DDInsTable(base_, pb, 5000, 1, 6, 8, true, 1);
  ASSERT_EQ(pb[0], 0);
  DDColumnDef n;
  n.name = "N";
  n.name_length = 1;
  n.number = 1;
  n.type = 34;
  n.length = 5;
  n.byte_length = 15;
  std::string text = "'abcde'";
  std::string text3;
  for (char c : text) text3 += std::string{'\0', '\0', c};
  DDInsColumn(base_, pb, 5000, n, reinterpret_cast<const uint8_t*>(text3.data()),
              static_cast<int32_t>(text.size()));
  ASSERT_EQ(pb[0], 0);

  FakeKernel kernel;
  TestContext tc;
  qqwsnewblk(&tc.ctx);
  tc.ctx.statement_kind = 1;
  tc.ctx.session = usr_;
  SqlQualifiedName t;
  std::strcpy(t.schema, "ADAM");
  std::strcpy(t.name, "T");
  int32_t kind = 0;
  int32_t attrs[kObjectAttrWords] = {};
  ASSERT_EQ(qdgetobject(&tc.ctx, &t, &kind, attrs, 1), 0);
  EXPECT_EQ(kind, 1);
  EXPECT_EQ(attrs[0], 5000);
  SqlQualifiedName missing;
  std::strcpy(missing.schema, "ADAM");
  std::strcpy(missing.name, "NOPE");
  EXPECT_EQ(qdgetobject(&tc.ctx, &missing, &kind, attrs, 1), 1);  // the lookup's 2

  SqlColumnDesc d;
  const int32_t runs = tc.ctx.catalog.lookups;
  ASSERT_EQ(qdgetcolumn(&tc.ctx, 1, 5000, "N", -1, &d), 0);
  EXPECT_EQ(d.type_code, 34);
  EXPECT_EQ(d.default_length, 15);
  EXPECT_EQ(d.default_text, std::string("\0\0a\0\0b\0\0c\0\0d\0\0e", 15));
  ASSERT_EQ(qdgetcolumn(&tc.ctx, 1, 5000, "N", -1, &d), 0);
  EXPECT_EQ(tc.ctx.catalog.lookups - runs, 1);

  // Every column of the catalog's COLUMNS table against its definition.
  const CatalogTable* columns = CatalogFindTable(CAT_COLUMNS);
  ASSERT_NE(columns, nullptr);
  for (int32_t i = 0; i < columns->column_count; ++i) {
    const CatalogColumn& c = kCatalogColumns[columns->first_column + i];
    ASSERT_EQ(qdgetcolumn(&tc.ctx, 2, CAT_COLUMNS, c.name, -1, &d), 0) << c.name;
    EXPECT_EQ(d.column_id, i + 1) << c.name;
    EXPECT_EQ(d.offset, c.offset) << c.name;
    EXPECT_EQ(d.default_length, -1) << c.name;
    EXPECT_EQ(d.low, -1.0) << c.name;
  }
  int32_t entries[45 * 8];
  int32_t count = 8;
  EXPECT_EQ(qdgetcilist(&tc.ctx, CAT_COLUMNS, entries, 0, &count), 0);
  EXPECT_GT(count, 0);
  ASSERT_EQ(EndWork(0), 0);
}

// The rest of the installed table reaches the dictionary too: the current
// schema, a missing collation and sequence, a missing stored tree (a
// positive status, which the stored-tree code reads as not stored), a
// domain and its check constraints.
TEST_F(CatalogOverDictionary, InstalledLookupsReachTheDictionary) {
  ASSERT_EQ(BegWork(), 0);
  FakeKernel kernel;
  TestContext tc;
  qqwsnewblk(&tc.ctx);
  tc.ctx.statement_kind = 1;
  tc.ctx.session = usr_;
  char schema[129] = {};
  EXPECT_EQ(qdcurschema(&tc.ctx, schema), 0);
  EXPECT_STREQ(schema, "ADAM");
  SqlQualifiedName c;
  std::strcpy(c.schema, "ADAM");
  std::strcpy(c.name, "NO_SUCH_COLLATION");
  int32_t id = 0;
  EXPECT_GT(qdgetcollation(&tc.ctx, &c, &id), 0);
  EXPECT_GT(qdgetsequence(&tc.ctx, &c, &id), 0);
  int32_t total = -1;
  EXPECT_GT(qdsrcinfo(&tc.ctx, 5001, 59, &total), 0);
  uint8_t buffer[16];
  int32_t length = -1;
  EXPECT_GT(qdsrcread(&tc.ctx, 5001, 59, buffer, sizeof buffer, &length), 0);
  EXPECT_EQ(length, 0);
  // A domain the dictionary holds: DECIMAL(9,2), NOT NULL.
  ASSERT_EQ(InsObject(830, 2, "ADAM", "D1"), 0);
  const CatalogValue row[] = {{DOMAINS_DOMAIN_ID, 0, 830, nullptr},
                              {DOMAINS_DATA_TYPE, 1, 0, "DECIMAL"},
                              {DOMAINS_NUMERIC_PRECISION, 0, 9, nullptr},
                              {DOMAINS_NUMERIC_SCALE, 0, 2, nullptr},
                              {DOMAINS_CHAR_1348, 1, 0, "YES"},
                              {DOMAINS_CHARACTER_SET_ID, 0, 0, nullptr},
                              {DOMAINS_COLLATION_ID, 0, 136, nullptr}};
  ASSERT_EQ(InsertValues(23, row), 0);
  SqlQualifiedName d;
  std::strcpy(d.schema, "ADAM");
  std::strcpy(d.name, "D1");
  int32_t type[4] = {};
  SqlDomainData data;
  ASSERT_EQ(qdgetdomain(&tc.ctx, &d, &id, type, &data), 0);
  EXPECT_EQ(id, 830);
  const int32_t decimal[4] = {3, 9, 2, 0};
  EXPECT_TRUE(std::equal(decimal, decimal + 4, type));
  EXPECT_EQ(data.not_null, 1);
  EXPECT_EQ(data.collation, 0);
  std::strcpy(d.name, "NO_SUCH_DOMAIN");
  EXPECT_EQ(qdgetdomain(&tc.ctx, &d, &id, type, &data), 1);
  // Its check constraints, one behind the other, then a positive status.
  int32_t pb[2] = {0, usr_};
  const uint8_t text[] = {0, 0, 'X', 0, 0, '>', 0, 0, '0'};
  for (int32_t check : {842, 841}) {
    DDInsDomainCheck(base_, pb, check, 830, false, false, text, 3);
    ASSERT_EQ(pb[0], 0);
  }
  int32_t check = 0;
  ASSERT_EQ(qdgetcc(&tc.ctx, 0, 830, &check), 0);
  EXPECT_EQ(check, 841);
  ASSERT_EQ(qdgetcc(&tc.ctx, 0, 830, &check), 0);
  EXPECT_EQ(check, 842);
  EXPECT_GT(qdgetcc(&tc.ctx, 0, 830, &check), 0);
  ASSERT_EQ(EndWork(0), 0);
}

}  // namespace
