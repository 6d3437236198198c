// The compiler's dictionary access over the dictionary's own lookups, on the
// catalog tables of the dictionary's tests (the catalog's own rows, and a
// table the dictionary's inserts write): tables and views by name, columns
// through the cache against the catalog's definition, a national default's
// length, keys.
#include <cstring>
#include <string>

#include "dict/dictionary_services.h"
#include "dict/tests/lookup_fixture.h"
#include "sql/front/catalog_access.h"
#include "sql/front/compile_services.h"
#include "sql/front/tests/compile_test_support.h"

namespace {

int32_t* g_base = nullptr;
int32_t g_usr = 0;
int32_t g_column_runs = 0;

int32_t DictTableAttr(int32_t, bool test, char* schema, int32_t* schema_length, char* name,
                  int32_t* name_length, int32_t* kind, int32_t* attrs) {
  DDTableName n;
  n.schema = schema;
  n.schema_length = *schema_length;
  n.name = name;
  n.name_length = *name_length;
  DDTableAttr a{};
  int32_t pb[2] = {0, g_usr};
  DDCmpTableAttr(g_base, pb, n, test, &a);
  if (pb[0] != 0) return pb[0];
  std::memcpy(schema, a.schema, static_cast<size_t>(a.schema_length));
  *schema_length = a.schema_length;
  std::memcpy(name, a.name, static_cast<size_t>(a.name_length));
  *name_length = a.name_length;
  *kind = a.kind;
  const int32_t words[kObjectAttrWords] = {
      a.id,         a.owner_id,     a.key_length,     a.record_length,   a.insertable,
      a.privileged, a.privileged,   a.trailing_start, a.column_count,    a.statistics,
      a.databank_id, a.logical_id,  a.trans_option,   a.primary_key_id, a.primary_key_length,
      a.primary_key_columns, a.has_triggers};
  std::memcpy(attrs, words, sizeof words);
  return 0;
}

int32_t DictColumns(int32_t, int32_t table, int32_t column_id, const char* name, int32_t length,
                SqlDictColumn* out, uint8_t* default3, int32_t* default_length) {
  ++g_column_runs;
  DDColumnDesc d{};
  int32_t pb[2] = {0, g_usr};
  DDCmpColumns(g_base, pb, table, column_id == -1 ? 0 : column_id, name, length, &d, default3,
               kDefaultBufferBytes / 3);
  if (pb[0] != 0) return pb[0];
  out->type = d.type;
  out->length = d.length;
  out->scale = d.scale;
  out->nullable = d.nullable;
  out->second_flag = d.second_flag;
  out->offset = d.offset;
  out->byte_length = d.byte_length;
  out->domain_id = d.domain_id;
  out->character_set = d.character_set;
  out->collation = d.collation;
  out->statistics_count = d.statistics_count;
  std::memcpy(out->low, d.low, 16);
  std::memcpy(out->high, d.high, 16);
  out->column_id = d.column_id;
  *default_length = d.default_length;
  return 0;
}

int32_t DictKeys(int32_t, int32_t table, int32_t start, int32_t capacity, int32_t* entries,
             int32_t* count) {
  if (start != 0) return 1;  // the lookup lists a table's keys from the first
  int32_t pb[2] = {0, g_usr};
  DDCmpCI(g_base, pb, table, capacity, entries, count);
  return pb[0];
}

class CatalogOverDictionary : public LookupTest {
 protected:
  void SetUp() override {
    LookupTest::SetUp();
    if (HasFatalFailure()) return;
    g_base = base_;
    g_usr = usr_;
    g_column_runs = 0;
    SqlDictionaryServices s;
    s.table_attr = DictTableAttr;
    s.columns = DictColumns;
    s.keys = DictKeys;
    old_ = SqlInstallDictionaryServices(&s);
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
  ASSERT_EQ(qdgetcolumn(&tc.ctx, 1, 5000, "N", -1, &d), 0);
  EXPECT_EQ(d.type_code, 34);
  EXPECT_EQ(d.default_length, 15);
  EXPECT_EQ(d.default_text, std::string("\0\0a\0\0b\0\0c\0\0d\0\0e", 15));
  ASSERT_EQ(qdgetcolumn(&tc.ctx, 1, 5000, "N", -1, &d), 0);
  EXPECT_EQ(g_column_runs, 1);

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

}  // namespace
