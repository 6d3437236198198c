// The compiler's dictionary access over a model dictionary installed in the
// service table: what the layer asks, how often (the column cache), and how
// it turns the answers into its own records.
#include <gtest/gtest.h>

#include <cstring>
#include <algorithm>
#include <map>
#include <string>
#include <tuple>

#include "sql/front/catalog_access.h"
#include "sql/front/compile_diag.h"
#include "sql/front/compile_services.h"
#include "sql/front/tests/compile_test_support.h"

namespace {

struct ModelColumn {
  SqlDictColumn d;
  std::string default_text;  // one byte a character; stored as three-byte characters
  std::u32string wide_default;  // instead, when not empty: any code points
};

// The model: tables by (schema, name), columns by (table, name), counters.
struct Model {
  std::map<std::pair<std::string, std::string>, std::vector<int32_t>> tables;
  std::map<std::pair<int32_t, std::string>, ModelColumn> columns;
  std::vector<int32_t> keys;  // 44-word entries of table 1
  std::string schema = "ADAM";
  int32_t column_calls = 0;
  int32_t domain_calls = 0;
  bool last_privilege_test = false;
};
Model* g_model = nullptr;

int32_t TableAttr(int32_t, bool test, char* schema, int32_t* schema_length, char* name,
                  int32_t* name_length, int32_t* kind, int32_t* attrs) {
  g_model->last_privilege_test = test;
  std::string s(schema, static_cast<size_t>(*schema_length));
  if (s.empty()) {
    std::memcpy(schema, g_model->schema.data(), g_model->schema.size());
    *schema_length = static_cast<int32_t>(g_model->schema.size());
    s = g_model->schema;
  }
  auto it = g_model->tables.find({s, std::string(name, static_cast<size_t>(*name_length))});
  if (it == g_model->tables.end()) return 2;
  for (int32_t i = 0; i < kObjectAttrWords; ++i) attrs[i] = it->second[static_cast<size_t>(i)];
  *kind = it->second[kObjectAttrWords];  // the model keeps the kind after the words
  return 0;
}

int32_t Columns(int32_t, int32_t table, int32_t column_id, const char* name, int32_t length,
                SqlDictColumn* out, uint8_t* default3, int32_t* default_length) {
  ++g_model->column_calls;
  for (auto& [key, c] : g_model->columns) {
    bool match = key.first == table && (column_id == -1 ? key.second == std::string(name, length)
                                                        : c.d.column_id == column_id);
    if (!match) continue;
    *out = c.d;
    if (!c.wide_default.empty()) {
      for (size_t i = 0; i < c.wide_default.size(); ++i) {
        default3[3 * i] = static_cast<uint8_t>(c.wide_default[i] >> 16);
        default3[3 * i + 1] = static_cast<uint8_t>(c.wide_default[i] >> 8);
        default3[3 * i + 2] = static_cast<uint8_t>(c.wide_default[i]);
      }
      *default_length = static_cast<int32_t>(c.wide_default.size());
      return 0;
    }
    for (size_t i = 0; i < c.default_text.size(); ++i) {
      default3[3 * i] = 0;
      default3[3 * i + 1] = 0;
      default3[3 * i + 2] = static_cast<uint8_t>(c.default_text[i]);
    }
    *default_length = static_cast<int32_t>(c.default_text.size());
    return 0;
  }
  return 1;
}

int32_t Keys(int32_t, int32_t table, int32_t start, int32_t capacity, int32_t* entries,
             int32_t* count) {
  int32_t n = table == 1 ? static_cast<int32_t>(g_model->keys.size() / 44) - start : 0;
  if (n > capacity) n = capacity;
  if (n < 0) n = 0;
  std::memcpy(entries, g_model->keys.data() + static_cast<size_t>(start) * 44,
              static_cast<size_t>(n) * 44 * 4);
  *count = n;
  return n > 0 ? 0 : 1;
}

int32_t Domain(int32_t, char*, int32_t*, char* name, int32_t*, int32_t* id, int32_t* triple,
               int32_t* further) {
  ++g_model->domain_calls;
  *id = 77;
  triple[0] = 3;
  triple[1] = 10;
  triple[2] = 0;
  further[0] = 1;
  further[1] = 5;
  further[2] = 2;
  further[3] = std::strcmp(name, "D138") == 0 ? 138 : 91;
  return 0;
}

int32_t Schema(int32_t, char* name, int32_t* length) {
  std::memcpy(name, g_model->schema.data(), g_model->schema.size());
  *length = static_cast<int32_t>(g_model->schema.size());
  return 0;
}

int32_t g_last_mode = -1;
int32_t g_last_event = -1;
int32_t Sequence(int32_t, int32_t mode, char*, int32_t*, char* name, int32_t* name_length,
                 int32_t* id) {
  g_last_mode = mode;
  if (std::string(name, static_cast<size_t>(*name_length)) != "SQ") return 1;
  *id = 314;
  return 0;
}
int32_t Triggers(int32_t, int32_t event, int32_t table, int32_t* count, int32_t* answer) {
  g_last_event = event;
  if (table != 1) {
    *count = 0;
    return 1;
  }
  *count = 1;
  for (int32_t i = 0; i < 11; ++i) answer[i] = 50 + i;
  return 0;
}
int32_t TablePriv(int32_t, int32_t privilege, int32_t object) {
  return privilege == 1 && object == 1 ? 0 : 1;
}
int32_t IndexAttr(int32_t, int32_t, int32_t request, int32_t* answer) {
  for (int32_t i = 0; i < 6; ++i) answer[i] = request + i;
  return 0;
}

class CatalogAccess : public ::testing::Test {
 protected:
  void SetUp() override {
    g_model = &model_;
    SqlDictionaryServices s;
    s.table_attr = TableAttr;
    s.columns = Columns;
    s.keys = Keys;
    s.domain = Domain;
    s.current_schema = Schema;
    s.sequence = Sequence;
    s.triggers = Triggers;
    s.table_priv = TablePriv;
    s.index_attr = IndexAttr;
    old_ = SqlInstallDictionaryServices(&s);
    qqwsnewblk(&tc_.ctx);
    tc_.ctx.statement_kind = 1;
    for (int32_t k = 0; k < 25; ++k) {
      ModelColumn c;
      c.d.column_id = k + 1;
      c.d.type = 3;
      c.d.length = 10;
      model_.columns[{1, "C" + std::to_string(k + 1)}] = c;
    }
  }
  void TearDown() override {
    SqlInstallDictionaryServices(&old_);
    g_model = nullptr;
  }
  SqlColumnDesc Column(const std::string& name, int32_t table = 1) {
    SqlColumnDesc d;
    EXPECT_EQ(qdgetcolumn(&tc_.ctx, 100 + table, table, name.c_str(), -1, &d), 0) << name;
    return d;
  }
  FakeKernel kernel_;
  TestContext tc_;
  Model model_;
  SqlDictionaryServices old_;
};

TEST(CatalogTypes, MapType) {
  const int32_t cases[][3] = {{1, 4, 0},  {2, 3, 0},    {3, 1, 0},    {4, 2, 0},    {5, 8, 0},
                              {6, 1, 202}, {7, 1, 201}, {8, 2, 204},  {9, 2, 203},  {10, 2, 205},
                              {11, 3, 207}, {12, 10, 0}, {27, 25, 0}, {28, 1, 208}, {29, 29, 0},
                              {35, 35, 0}};
  for (const auto& c : cases) {
    int32_t code = -1;
    int32_t variant = -1;
    qdmaptype(c[0], &code, &variant);
    EXPECT_EQ(code, c[1]) << c[0];
    EXPECT_EQ(variant, c[2]) << c[0];
  }
}

TEST_F(CatalogAccess, ColumnCacheAndDefinitionStatements) {
  Column("C1");
  Column("C1");
  EXPECT_EQ(model_.column_calls, 1);  // one run for one compilation
  SqlColumnDesc by_id;
  EXPECT_EQ(qdgetcolumn(&tc_.ctx, 101, 1, nullptr, 1, &by_id), 0);
  EXPECT_EQ(model_.column_calls, 1);  // the same column by its id
  EXPECT_EQ(by_id.type_code, 1);
  tc_.ctx.statement_kind = 39;  // a definition statement reads again
  Column("C1");
  Column("C1");
  EXPECT_EQ(model_.column_calls, 3);
  // Twenty distinct columns fill the cache; the 21st replaces the oldest.
  tc_.ctx.statement_kind = 1;
  CatalogReset(&tc_.ctx);
  model_.column_calls = 0;
  for (int32_t k = 1; k <= 21; ++k) Column("C" + std::to_string(k));
  EXPECT_EQ(model_.column_calls, 21);
  Column("C2");
  EXPECT_EQ(model_.column_calls, 21);
  Column("C1");
  EXPECT_EQ(model_.column_calls, 22);
  // The same name of another table is another column.
  model_.columns[{2, "C1"}] = model_.columns[{1, "C1"}];
  Column("C1", 2);
  EXPECT_EQ(model_.column_calls, 23);
  SqlColumnDesc d;
  EXPECT_EQ(qdgetcolumn(&tc_.ctx, 101, 1, "NONE", -1, &d), 1);
}

TEST_F(CatalogAccess, ColumnDescriptions) {
  struct Case {
    int32_t type;
    int32_t length;
    std::string stored;
    int32_t type_code;
    int32_t default_length;
    std::string value;
  };
  const Case cases[] = {
      {34, 5, "'abcde'", 34, 15, std::string("\0\0a\0\0b\0\0c\0\0d\0\0e", 15)},
      {1, 8, "'It''s'", 4, 4, "It's"},
      {1, 8, "", 4, -1, ""},
      {29, 4, "X'0A1'", 29, 2, std::string("\x0a\x10\0\0", 4)},
      {13, 0, "CURRENT_TIME(3)", 11, -4, "CURRENT_TIME(3)"},
      {3, 10, "-5", 1, 2, "-5"},
  };
  int32_t id = 100;
  for (const Case& c : cases) {
    ModelColumn m;
    m.d.column_id = ++id;
    m.d.type = c.type;
    m.d.length = c.length;
    m.d.collation = 138;
    m.default_text = c.stored;
    std::string name = "D" + std::to_string(id);
    model_.columns[{1, name}] = m;
    SqlColumnDesc d = Column(name);
    EXPECT_EQ(d.type_code, c.type_code) << c.stored;
    EXPECT_EQ(d.default_length, c.default_length) << c.stored;
    EXPECT_EQ(d.default_text, c.value) << c.stored;
    EXPECT_EQ(d.collation, 0);
    EXPECT_EQ(d.domain_id, -1);
  }
}

// A default with characters above 255: in a one-byte column each becomes
// the replacement byte 191, as every conversion to one byte a character
// does; a national column keeps them, three bytes each.
TEST_F(CatalogAccess, DefaultCharactersAboveTwoHundredFiftyFive) {
  const std::u32string stored = U"'\u0141\u20ACa'";
  struct Case {
    int32_t type;
    int32_t default_length;
    std::string value;
  };
  const Case cases[] = {
      {1, 3, "\xBF\xBF" "a"},
      {34, 9, std::string("\0\x01\x41\0\x20\xAC\0\0a", 9)},
  };
  int32_t id = 200;
  for (const Case& c : cases) {
    ModelColumn m;
    m.d.column_id = ++id;
    m.d.type = c.type;
    m.d.length = 8;
    m.wide_default = stored;
    std::string name = "W" + std::to_string(id);
    model_.columns[{1, name}] = m;
    SqlColumnDesc d = Column(name);
    EXPECT_EQ(d.default_length, c.default_length) << c.type;
    EXPECT_EQ(d.default_text, c.value) << c.type;
  }
}

// Numeric statistics as the statistics run stores them: the value's
// decimal text right-aligned in 16 bytes. They are kept when both lie below
// 1.7e37, the range is at least 1e-30 and at least a millionth of the low
// value; a text that is no number is no statistics, not an error.
TEST_F(CatalogAccess, NumericStatisticsAreTheRunsDecimalTexts) {
  struct Case {
    int32_t type;  // dictionary type: 7 INTEGER, 2 DECIMAL, 8 REAL, 28 BIGINT
    const char* low;
    const char* high;
    double kept_low, kept_high;  // -1.0 both: not kept
  };
  const Case cases[] = {
      {7, "1", "90000", 1.0, 90000.0},
      {7, "7", "7", -1.0, -1.0},                  // one value: no range
      {7, "0", "5", 0.0, 5.0},                    // a low of 0: the range counts as wide
      {2, "-1.25", "99.50", -1.25, 99.5},
      {2, "1000000", "1000000.5", -1.0, -1.0},    // a range of half a millionth
      {8, "-1.5E+02", "2.5E-01", -150.0, 0.25},
      {8, "2.0E+37", "3.0E+37", -1.0, -1.0},      // not below 1.7e37
      {28, "-9000000000", "9000000000", -9e9, 9e9},
      {7, "1", "abc", -1.0, -1.0},                // no number
      {7, "1 2", "5", -1.0, -1.0},
  };
  int32_t id = 300;
  for (const Case& c : cases) {
    ModelColumn m;
    m.d.column_id = ++id;
    m.d.type = c.type;
    m.d.length = 10;
    m.d.statistics_count = 10;
    auto text = [](const char* v, uint8_t* out) {
      std::string t = std::string(16 - std::strlen(v), ' ') + v;
      std::memcpy(out, t.data(), 16);
    };
    text(c.low, m.d.low);
    text(c.high, m.d.high);
    std::string name = "N" + std::to_string(id);
    model_.columns[{1, name}] = m;
    SqlColumnDesc d;
    int32_t status = -1;
    kernel_.conditions.clear();
    try {
      status = qdgetcolumn(&tc_.ctx, 101, 1, name.c_str(), -1, &d);
    } catch (const CompileJump&) {
      ADD_FAILURE() << c.low << " " << c.high << ": "
                    << (kernel_.conditions.empty() ? 0 : kernel_.conditions.back().code);
      continue;
    }
    ASSERT_EQ(status, 0);
    EXPECT_EQ(d.low, c.kept_low) << c.low << " " << c.high;
    EXPECT_EQ(d.high, c.kept_high) << c.low << " " << c.high;
  }
}

TEST_F(CatalogAccess, CharacterStatisticsNeedAWideRange) {
  struct Case {
    const char* low;
    const char* high;
    bool kept;
  };
  // The first eight bytes read as a base-256 number.
  const Case cases[] = {{"AAAAAAAA", "AAAAAAAB", false},
                        {"AAAAAAAA", "AAAAABAA", true},
                        // exactly at the bound (small values: exact doubles)
                        {"\0\0\0\0\0\0\0\0", "\0\0\0\0\0\0\xFF\xDC", true},
                        {"\0\0\0\0\0\0\0\0", "\0\0\0\0\0\0\xFF\xDB", false}};
  int32_t id = 200;
  for (const Case& c : cases) {
    ModelColumn m;
    m.d.column_id = ++id;
    m.d.type = 1;
    m.d.length = 8;
    m.d.statistics_count = 10;
    std::memcpy(m.d.low, c.low, 8);
    std::memcpy(m.d.high, c.high, 8);
    std::string name = "S" + std::to_string(id);
    model_.columns[{1, name}] = m;
    SqlColumnDesc d = Column(name);
    EXPECT_EQ(d.low != -1.0, c.kept) << &c - cases;
    if (c.kept) {
      EXPECT_GE(d.high - d.low, 65500.0);
    } else {
      EXPECT_EQ(d.high, -1.0);
    }
  }
}

TEST_F(CatalogAccess, ObjectsAndViews) {
  std::vector<int32_t> table(kObjectAttrWords + 1, 0);
  table[kObjectAttrWords] = 1;
  table[4] = 1;
  table[5] = 7;
  table[6] = 4000;
  table[7] = 12;
  model_.tables[{"ADAM", "T"}] = table;
  std::vector<int32_t> view(kObjectAttrWords + 1, 0);
  view[kObjectAttrWords] = 2;
  view[4] = 5;
  view[5] = 9;
  view[6] = 9;
  view[7] = 9;
  model_.tables[{"ADAM", "V"}] = view;
  SqlQualifiedName n;
  std::strcpy(n.name, "T");
  int32_t kind = 0;
  int32_t attrs[kObjectAttrWords] = {};
  EXPECT_EQ(qdgetobject(&tc_.ctx, &n, &kind, attrs, 0), 0);
  EXPECT_STREQ(n.schema, "ADAM");  // ended at the length the lookup gave back
  EXPECT_TRUE(model_.last_privilege_test);
  EXPECT_EQ(attrs[5], 2048);
  EXPECT_EQ(attrs[6], 4000);
  EXPECT_EQ(attrs[7], 12);
  EXPECT_EQ(attrs[4], 2);  // word 4's 1 reads 2
  EXPECT_EQ(kind, 1);
  SqlQualifiedName v;
  std::strcpy(v.schema, "ADAM");
  std::strcpy(v.name, "V");
  EXPECT_EQ(qdgetobject(&tc_.ctx, &v, &kind, attrs, 0), 0);
  EXPECT_EQ(kind, 2);
  EXPECT_EQ(attrs[4], 5);
  EXPECT_EQ(attrs[5], 2048);
  EXPECT_EQ(attrs[6], 2048);
  EXPECT_EQ(attrs[7], -1);
  // A table looked up without privileges gets the same words.
  std::strcpy(n.schema, "ADAM");
  EXPECT_EQ(qdgetobject(&tc_.ctx, &n, &kind, attrs, 1), 0);
  EXPECT_FALSE(model_.last_privilege_test);
  EXPECT_EQ(attrs[6], 2048);
  EXPECT_EQ(attrs[7], -1);
  tc_.ctx.catalog.no_privilege_test = 1;
  SqlQualifiedName missing;
  std::strcpy(missing.name, "NOPE");
  EXPECT_EQ(qdgetobject(&tc_.ctx, &missing, &kind, attrs, 0), 1);  // the lookup's 2 reads 1
  EXPECT_FALSE(model_.last_privilege_test);
}

TEST_F(CatalogAccess, DomainsAndDependencies) {
  SqlQualifiedName n;
  std::strcpy(n.name, "NUMERIC");
  int32_t id = 0;
  int32_t type[4] = {};
  EXPECT_EQ(qdgetdomain(&tc_.ctx, &n, &id, type), 1);
  EXPECT_EQ(model_.domain_calls, 0);
  std::strcpy(n.schema, "ADAM");
  tc_.ctx.statement_kind = 39;
  EXPECT_EQ(qdgetdomain(&tc_.ctx, &n, &id, type), 0);
  EXPECT_EQ(model_.domain_calls, 1);
  EXPECT_EQ(type[0], 1);  // dictionary type 3
  SqlDomainData data;
  EXPECT_EQ(qdgetdomain(&tc_.ctx, &n, &id, type, &data), 0);
  EXPECT_EQ(data.not_null, 1);
  EXPECT_EQ(data.further, 5);
  EXPECT_EQ(data.character_set, 2);
  EXPECT_EQ(data.collation, 91);
  SqlQualifiedName builtin_collation = n;
  std::strcpy(builtin_collation.name, "D138");
  EXPECT_EQ(qdgetdomain(&tc_.ctx, &builtin_collation, &id, type, &data), 0);
  EXPECT_EQ(data.collation, 0);  // a built-in collation counts as none
  std::strcpy(n.schema, "");
  std::strcpy(n.name, "NUMERIC");
  data.not_null = 7;
  EXPECT_EQ(qdgetdomain(&tc_.ctx, &n, &id, type, &data), 1);
  EXPECT_EQ(data.not_null, 0);
  std::strcpy(n.schema, "ADAM");
  Column("C3");
  Column("C3");  // read again in a definition statement, recorded once
  Column("C4");
  std::vector<std::pair<int32_t, std::string>> listed;
  for (int32_t e = tc_.ctx.catalog.dependencies; e != 0; e = WsWord(&tc_.ctx, e, DEP_LINK)) {
    listed.emplace_back(WsWord(&tc_.ctx, e, DEP_KIND), qqwsadr(&tc_.ctx, e) + DEP_NAME_BYTE);
  }
  std::vector<std::pair<int32_t, std::string>> expected = {
      {kDependDomain, ""}, {kDependTable, "C3"}, {kDependTable, "C4"}};
  EXPECT_EQ(listed, expected);
}

TEST_F(CatalogAccess, KeyEntries) {
  std::vector<int32_t> e(44, 0);
  e[0] = 1;
  e[1] = 55;
  e[2] = 12;  // more than ten items: ten are taken
  e[3] = 0;
  for (int32_t i = 0; i < 10; ++i) {
    e[4 + i] = 100 + i;
    e[14 + i] = 200 + i;
    e[24 + i] = i == 0 ? -1 : (i == 1 ? -6 : 7);
  }
  e[24 + 3] = INT32_MIN;  // a damaged row: no 32-bit absolute value
  model_.keys = e;
  int32_t out[45 * 2];
  std::fill(std::begin(out), std::end(out), 99);
  int32_t count = 2;
  EXPECT_EQ(qdgetcilist(&tc_.ctx, 1, out, 0, &count), 0);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[1], 55);
  EXPECT_EQ(out[2], 12);
  EXPECT_EQ(out[4], 1);
  EXPECT_EQ(out[5], 1);   // stored -1: descending
  EXPECT_EQ(out[35], 0);  // and reads 0
  EXPECT_EQ(out[6], 1);
  EXPECT_EQ(out[36], 6);
  EXPECT_EQ(out[7], 0);
  EXPECT_EQ(out[37], 7);
  EXPECT_EQ(out[8], 1);
  EXPECT_EQ(out[38], INT32_MAX);
  EXPECT_EQ(out[15], 100);
  EXPECT_EQ(out[25], 200);
}

TEST_F(CatalogAccess, SequencesTriggersPrivilegesIndexes) {
  SqlQualifiedName n;
  std::strcpy(n.name, "SQ");
  int32_t id = 0;
  tc_.ctx.statement_kind = 21;
  EXPECT_EQ(qdgetsequence(&tc_.ctx, &n, &id), 0);
  EXPECT_EQ(id, 314);
  EXPECT_EQ(g_last_mode, 0);
  tc_.ctx.compile_mode = 9;
  EXPECT_EQ(qdgetsequence(&tc_.ctx, &n, &id), 0);
  EXPECT_EQ(g_last_mode, 2);
  int32_t e = tc_.ctx.catalog.dependencies;  // recorded once for kind 21
  ASSERT_NE(e, 0);
  EXPECT_EQ(WsWord(&tc_.ctx, e, DEP_KIND), kDependSequence);
  EXPECT_EQ(WsWord(&tc_.ctx, e, DEP_LINK), 0);
  std::strcpy(n.name, "NO");
  EXPECT_EQ(qdgetsequence(&tc_.ctx, &n, &id), 1);
  EXPECT_EQ(id, 0);

  const int32_t events[][2] = {{8, 3}, {9, 2}, {10, 1}, {11, 0}, {0, 0}};
  for (const auto& ev : events) {
    int32_t result[13] = {};
    int32_t count = 5;
    EXPECT_EQ(qdgettriggers(&tc_.ctx, 1, ev[0], result, &count), 0);
    EXPECT_EQ(g_last_event, ev[1]);
    EXPECT_EQ(result[0], 50);
    EXPECT_EQ(result[1], 0);
    EXPECT_EQ(result[2], 51);
    EXPECT_EQ(result[11], 60);
    EXPECT_EQ(result[12], 1);
  }
  int32_t untouched[13];
  std::fill(std::begin(untouched), std::end(untouched), 7);
  int32_t count = 5;
  EXPECT_EQ(qdgettriggers(&tc_.ctx, 2, 8, untouched, &count), 1);
  EXPECT_EQ(untouched[0], 7);

  int32_t granted = -1;
  EXPECT_EQ(qdtablepriv(&tc_.ctx, 1, 1, &granted), 0);
  EXPECT_EQ(granted, 1);
  EXPECT_EQ(qdtablepriv(&tc_.ctx, 2, 1, &granted), 1);
  EXPECT_EQ(granted, 0);
  EXPECT_EQ(qdcolumnpriv(&tc_.ctx, 1, "A", 1, &granted), kSqlServiceMissing);
  EXPECT_EQ(granted, 0);

  int32_t record[7];
  std::fill(std::begin(record), std::end(record), 9);
  EXPECT_EQ(qdgetindex(&tc_.ctx, 1, 40, record), 0);
  EXPECT_EQ(record[0], 40);
  EXPECT_EQ(record[5], 45);
  EXPECT_EQ(record[6], 0);
  int32_t value = 3;
  SqlQualifiedName v;
  EXPECT_EQ(qdgetint(&tc_.ctx, &v, &value), kSqlServiceMissing);
  EXPECT_EQ(value, 0);
}

TEST_F(CatalogAccess, CurrentSchemaAndMissingLookups) {
  char buffer[129];
  EXPECT_EQ(qdcurschema(&tc_.ctx, buffer), 0);
  EXPECT_STREQ(buffer, "ADAM");
  model_.schema = "INFORMATION_SCHEMA";
  EXPECT_EQ(qdcurschema(&tc_.ctx, buffer), 0);
  EXPECT_STREQ(buffer, "SYSTEM");
  SqlQualifiedName n;
  std::strcpy(n.name, "F");
  int32_t answer[7];
  EXPECT_EQ(qdgetroutine(&tc_.ctx, &n, answer), kSqlServiceMissing);
  int32_t id = 5;
  EXPECT_EQ(qdgetcollation(&tc_.ctx, &n, &id), kSqlServiceMissing);
  EXPECT_EQ(id, 0);
}

}  // namespace

namespace {

int32_t FirstPieceMissing(int32_t, int32_t, int32_t, int32_t*) {
  return -19007;
}
int32_t ReadFirstPieceMissing(int32_t, int32_t, int32_t, uint8_t*, int32_t, int32_t*) {
  return -19007;
}
int32_t SourceFails(int32_t, int32_t, int32_t, int32_t*) {
  return -19089;
}

// A stored text whose first piece is missing is a definition not stored (a
// positive status); any other error stays the dictionary's.
TEST(CatalogSources, MissingFirstPieceIsNotStored) {
  FakeKernel kernel;
  TestContext tc;
  qqwsnewblk(&tc.ctx);
  SqlDictionaryServices s;
  s.source_info = FirstPieceMissing;
  s.source_read = ReadFirstPieceMissing;
  SqlDictionaryServices old = SqlInstallDictionaryServices(&s);
  int32_t total = -1, length = -1;
  uint8_t buffer[8];
  EXPECT_EQ(qdsrcinfo(&tc.ctx, 7, 59, &total), 1);
  EXPECT_EQ(qdsrcread(&tc.ctx, 7, 59, buffer, 8, &length), 1);
  s.source_info = SourceFails;
  SqlInstallDictionaryServices(&s);
  EXPECT_EQ(qdsrcinfo(&tc.ctx, 7, 59, &total), -19089);
  SqlInstallDictionaryServices(&old);
}

}  // namespace

namespace {

// Routine parameters and result columns of a model: (routine, position) to
// name, mode text (empty for a result column) and dictionary type triple.
struct ModelParam {
  std::string name, mode;
  int32_t triple[3];
};
std::map<std::pair<int32_t, int32_t>, ModelParam> g_params, g_param_cols;
int32_t g_param_calls = 0;

int32_t GiveParam(const std::map<std::pair<int32_t, int32_t>, ModelParam>& from, int32_t routine,
                  int32_t position, char* name, int32_t* name_length, char* mode,
                  int32_t* triple) {
  ++g_param_calls;
  if (routine < 0) return -19089;
  auto it = from.find({routine, position});
  if (it == from.end()) return 1;
  std::memcpy(name, it->second.name.data(), it->second.name.size());
  *name_length = static_cast<int32_t>(it->second.name.size());
  if (mode != nullptr) std::strcpy(mode, it->second.mode.c_str());
  std::copy(it->second.triple, it->second.triple + 3, triple);
  return 0;
}
int32_t Params(int32_t, int32_t routine, int32_t position, int32_t capacity, char* name,
               int32_t* name_length, char* mode, int32_t* triple) {
  EXPECT_EQ(capacity, 128);
  return GiveParam(g_params, routine, position, name, name_length, mode, triple);
}
int32_t ParamCols(int32_t, int32_t routine, int32_t position, char* name, int32_t* name_length,
                  int32_t* triple) {
  return GiveParam(g_param_cols, routine, position, name, name_length, nullptr, triple);
}

// Every parameter and result column of the model's routines comes back with
// its mode as the parameter-mode code and its type through the type map;
// past the last one is a positive status, positions outside the 128
// parameters are answered without a lookup, errors stay the dictionary's.
TEST(CatalogRoutines, ParametersAndResultColumns) {
  FakeKernel kernel;
  TestContext tc;
  qqwsnewblk(&tc.ctx);
  g_params = {{{9, 1}, {"A", "IN", {3, 10, 0}}},
              {{9, 2}, {"BB", "INOUT", {6, 0, 0}}},
              {{9, 3}, {"CCC", "OUT", {8, 0, 0}}},
              {{12, 128}, {"LAST", "IN", {28, 0, 0}}}};
  g_param_cols = {{{9, 1}, {"R1", "", {11, 15, 2}}}, {{9, 2}, {"R2", "", {34, 5, 0}}}};
  SqlDictionaryServices s;
  SqlDictionaryServices old = SqlInstallDictionaryServices(&s);
  SqlRoutineParam p;
  EXPECT_EQ(qdgetparams(&tc.ctx, 9, 1, &p), kSqlServiceMissing);
  EXPECT_EQ(qdgetparcols(&tc.ctx, 9, 1, &p), kSqlServiceMissing);
  s.params = Params;
  s.param_cols = ParamCols;
  SqlInstallDictionaryServices(&s);
  const std::map<std::string, int32_t> modes = {{"IN", 1}, {"INOUT", 2}, {"OUT", 3}, {"", 0}};
  for (bool columns : {false, true}) {
    for (const auto& [key, want] : columns ? g_param_cols : g_params) {
      int32_t status = columns ? qdgetparcols(&tc.ctx, key.first, key.second, &p)
                               : qdgetparams(&tc.ctx, key.first, key.second, &p);
      ASSERT_EQ(status, 0) << want.name;
      EXPECT_STREQ(p.name, want.name.c_str());
      EXPECT_EQ(p.mode, modes.at(want.mode)) << want.name;
      int32_t code = 0, variant = 0;
      qdmaptype(want.triple[0], &code, &variant);
      const int32_t type[4] = {code, want.triple[1], want.triple[2], variant};
      EXPECT_TRUE(std::equal(type, type + 4, p.type)) << want.name;
    }
  }
  EXPECT_EQ(qdgetparams(&tc.ctx, 9, 4, &p), 1);
  EXPECT_EQ(p.name[0], 0);
  EXPECT_EQ(qdgetparcols(&tc.ctx, 9, 3, &p), 1);
  g_param_calls = 0;
  EXPECT_EQ(qdgetparams(&tc.ctx, 12, 129, &p), 1);
  EXPECT_EQ(qdgetparams(&tc.ctx, 12, 0, &p), 1);
  EXPECT_EQ(qdgetparcols(&tc.ctx, 12, 0, &p), 1);
  EXPECT_EQ(g_param_calls, 0);
  EXPECT_EQ(qdgetparams(&tc.ctx, -1, 1, &p), -19089);
  EXPECT_EQ(qdgetparcols(&tc.ctx, -1, 1, &p), -19089);
  SqlInstallDictionaryServices(&old);
}

}  // namespace
