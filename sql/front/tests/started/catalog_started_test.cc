// The compiler's dictionary access over the test schema (fixture_schema.h)
// written through the dictionary's inserts into the program's created and
// started database (server/testing), against the schema's model: every
// object and column as written, the type map, keys, privileges of the
// administrator and of the user without privileges, the column cache and
// the dependency list, domains and their stored checks; and the schema's
// DDL taken by SQLite, which judges the stored checks the same way.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "catalog_gen.h"
#include "dict/dictionary_cursors.h"
#include "dict/new_ids.h"
#include "dict/row_image.h"
#include "dict/work_block.h"
#include "du/record_access_words.h"
#include "du/record_operations.h"
#include "du/tables.h"
#include "du/transactions.h"
#include "server/testing/started_database.h"
#include "sql/front/catalog_access.h"
#include "sql/front/compile_diag.h"
#include "sql/front/compile_services.h"
#include "sql/front/sql_tree_print.h"
#include "sql/front/stored_trees.h"
#include "sql/front/tests/compile_test_support.h"
#include "sql/front/tests/fixture_schema.h"
#include "sql/front/tests/sql_grammar_support.h"

namespace {

using fixture::Schema;

// Rows of the catalog's tables written and read by record access for one
// session, in its open transaction; each table opened on first use and
// closed at the end.
class CatalogRows {
 public:
  CatalogRows(int32_t* base, int32_t usr) : base_(base), admin_(usr) {}
  ~CatalogRows() {
    for (auto& [table, r] : blocks_) {
      int32_t pb[2] = {0, admin_};
      int32_t close[CLB_WORDS] = {CLOSE_TABLE};
      DSCloseTableRefs(base_, pb, r.data(), close);
    }
  }
  int32_t Insert(int32_t table, const std::vector<uint8_t>& row) {
    std::vector<int32_t>* r = nullptr;
    if (const int32_t rc = Block(table, &r)) return rc;
    std::memcpy(r->data() + DUREC_RECORD, row.data(), row.size());
    (*r)[DUREC_STATUS] = 0;
    DSSetCursorOrder(base_, admin_, DSNextCursorOrder(base_, admin_));
    DUInsertRow(base_, r->data(), admin_);
    return (*r)[DUREC_STATUS];
  }
  // The row whose key the values give: 0, or 100 when there is none.
  int32_t Read(int32_t table, std::span<const CatalogValue> key) {
    const CatalogTable* t = CatalogFindTable(table);
    std::vector<uint8_t> record(static_cast<size_t>(t->record_length));
    const CatalogRow image{table, 0, static_cast<int32_t>(key.size())};
    if (const int32_t rc = DDRowImage(image, key, record)) return rc;
    std::vector<int32_t>* r = nullptr;
    if (const int32_t rc = Block(table, &r)) return rc;
    std::memcpy(r->data() + DUREC_RECORD, record.data(), record.size());
    (*r)[DUREC_STATUS] = 0;
    DSSetCursorOrder(base_, admin_, DSNextCursorOrder(base_, admin_));
    DUReadRowByKey(base_, r->data(), admin_);
    return (*r)[DUREC_STATUS];
  }

 private:
  int32_t Block(int32_t table, std::vector<int32_t>** out) {
    auto it = blocks_.find(table);
    if (it == blocks_.end()) {
      const CatalogTable* t = CatalogFindTable(table);
      std::vector<int32_t> r(static_cast<size_t>(DurecWords(t->record_length)), 0);
      r[DUREC_ACCESS_MODE] = 3;
      r[DUREC_TNAME] = table;
      r[DUREC_KEYLEN] = t->key_length;
      r[DUREC_RECLEN] = t->record_length;
      r[DUREC_TYPE] = 1;
      r[DUREC_LID] = 1;  // the catalog's databank
      int32_t pb[2] = {0, admin_};
      int32_t open[OPB_WORDS] = {OPEN_BASE};
      DSOpenTableDcb(base_, pb, r.data(), open);
      if (pb[0] != 0) return pb[0];
      it = blocks_.emplace(table, std::move(r)).first;
    }
    *out = &it->second;
    return 0;
  }

  int32_t* base_;
  int32_t admin_;
  std::map<int32_t, std::vector<int32_t>> blocks_;
};

// The schema as the program writes it once into the started database:
// owned by its administrator, EVE's part played by its user without
// privileges, ids from a block the dictionary hands out; the compiled tree
// of every check and of the view, and a tree of several pieces.
struct WrittenSchema {
  Schema schema;
  std::map<int32_t, std::string> printed;  // each stored tree as parsed
  int32_t long_tree = 0;
  std::string failure;
};

std::string Failed(const std::string& what, int32_t status) {
  return what + " (status " + std::to_string(status) + ")";
}

std::string StoreParsed(const fixture::Sink& sink, WrittenSchema* w, int32_t id,
                        const std::string& sql, bool condition) {
  const std::string image = ParsedTreeImage(sql, condition, &w->printed[id]);
  const int32_t rc = fixture::StoreTree(sink, id, image);
  return rc == 0 ? "" : Failed("the tree of " + std::to_string(id), rc);
}

std::string Write(const StartedDatabase& db, WrittenSchema* w) {
  int32_t ids[2] = {0, db.admin_usr};
  int32_t first = 0;
  if (DDNewIds(db.base, ids, fixture::kSchemaIds, &first) != 0) return Failed("DDNewIds", ids[0]);
  w->schema = fixture::MakeSchema(kStartedAdmin, kStartedUser, first);
  w->long_tree = first + fixture::kSchemaIds - 1;
  int32_t pb[2] = {0, db.admin_usr};
  DDBegWork(db.base, pb);
  if (pb[0] != 0) return Failed("DDBegWork", pb[0]);
  std::string failure;
  {
    CatalogRows rows(db.base, db.admin_usr);
    const fixture::Sink sink{db.base, db.admin_usr,
                             [&rows](int32_t table, const std::vector<uint8_t>& row) {
                               return rows.Insert(table, row);
                             }};
    if (const int32_t rc = fixture::WriteSchema(w->schema, sink, &failure); rc != 0)
      failure = Failed(failure, rc);
    for (const auto& [name, d] : w->schema.domains)
      for (const fixture::Check& k : d.checks)
        if (failure.empty()) failure = StoreParsed(sink, w, k.id, "SELECT a FROM t WHERE " + k.text, true);
    for (const auto& [name, t] : w->schema.tables) {
      for (const fixture::Check& k : t.checks)
        if (failure.empty()) failure = StoreParsed(sink, w, k.id, "SELECT a FROM t WHERE " + k.text, true);
      if (t.IsView() && failure.empty()) failure = StoreParsed(sink, w, t.id, t.view_query, false);
    }
    std::string long_list = "QTY IN (0";
    for (int32_t i = 1; i < 300; ++i) long_list += ", " + std::to_string(i * 7);
    long_list += ")";
    if (failure.empty())
      failure = StoreParsed(sink, w, w->long_tree, "SELECT a FROM t WHERE " + long_list, true);
  }
  int32_t end[2] = {failure.empty() ? 0 : 1, db.admin_usr};
  DDEndWork(db.base, end);
  if (failure.empty() && end[0] != 0) failure = Failed("DDEndWork", end[0]);
  return failure;
}

const WrittenSchema& TheWrittenSchema(const StartedDatabase& db) {
  static WrittenSchema written;
  static bool made = false;
  if (!made) {
    made = true;
    written.failure = Write(db, &written);
  }
  return written;
}

class SchemaFixture : public StartedDatabaseTest {
 protected:
  void SetUp() override {
    StartedDatabaseTest::SetUp();
    if (HasFatalFailure()) return;
    const WrittenSchema& w = TheWrittenSchema(TheStartedDatabase());
    ASSERT_TRUE(w.failure.empty()) << w.failure;
    schema_ = &w.schema;
    printed_ = w.printed;
    long_tree_ = w.long_tree;
    // The lookups read in the sessions' transactions, as a compilation's do.
    for (int32_t usr : {admin_, user_}) {
      int32_t pb[2] = {0, usr};
      DDBegWork(base_, pb);
      ASSERT_EQ(pb[0], 0);
      working_.push_back(usr);
    }
  }
  void TearDown() override {
    for (int32_t usr : working_) {
      int32_t pb[2] = {1, usr};
      DDEndWork(base_, pb);
      EXPECT_EQ(pb[0], 0);
    }
  }
  int32_t ReadRow(int32_t table, std::span<const CatalogValue> key) {
    CatalogRows rows(base_, admin_);
    return rows.Read(table, key);
  }

  static SqlQualifiedName Name(const std::string& schema, const std::string& name) {
    SqlQualifiedName n;
    std::strcpy(n.schema, schema.c_str());
    std::strcpy(n.name, name.c_str());
    return n;
  }
  void Compiling(TestContext& tc, int32_t kind, int32_t session = 0) {
    qqwsnewblk(&tc.ctx);
    tc.ctx.statement_kind = kind;
    tc.ctx.session = session != 0 ? session : admin_;
  }

  const Schema* schema_ = nullptr;
  std::map<int32_t, std::string> printed_;
  int32_t long_tree_ = 0;
  std::vector<int32_t> working_;
};

// What the column's length holds by dictionary type for the types whose
// length is the declared one; -1 for the others.
int32_t DeclaredLength(const fixture::Column& c) {
  switch (c.type) {
    case fixture::kChar: case fixture::kVarchar: case fixture::kNchar: case fixture::kNvarchar:
    case fixture::kDecimal: case fixture::kNumeric:
      return c.length;
    default:
      return -1;
  }
}

// A default's length as the compiler keeps it: a quoted literal its
// characters (three bytes each for national types), a number as written,
// CURRENT_TIMESTAMP(d) its marker -5, none -1.
int32_t DefaultLength(const fixture::Column& c) {
  const std::string& t = c.default_text;
  if (t.empty()) return -1;
  if (t.rfind("CURRENT_TIMESTAMP", 0) == 0) return -5;
  if (t[0] != '\'') return static_cast<int32_t>(t.size());
  const int32_t characters = static_cast<int32_t>(t.size()) - 2;
  return c.type == fixture::kNchar || c.type == fixture::kNvarchar ? 3 * characters : characters;
}

TEST_F(SchemaFixture, TablesViewsAndColumnsAsWritten) {
  FakeKernel kernel;
  TestContext tc;
  Compiling(tc, 1);
  int32_t table_ref = 0;
  for (const auto& [name, t] : schema_->tables) {
    SqlQualifiedName n = Name(schema_->owner, name);
    int32_t kind = 0, attrs[kObjectAttrWords] = {};
    ASSERT_EQ(qdgetobject(&tc.ctx, &n, &kind, attrs, 0), 0) << name;
    EXPECT_EQ(kind, t.IsView() ? 2 : 1) << name;
    EXPECT_EQ(attrs[0], t.id) << name;
    EXPECT_EQ(attrs[16], t.triggers.empty() ? 0 : 1) << name << " has triggers";
    if (t.IsView()) {
      EXPECT_EQ(attrs[5], 2048) << name;
      EXPECT_EQ(attrs[6], 2048) << name;
      EXPECT_EQ(attrs[7], -1) << name;
    } else {
      EXPECT_GE(attrs[5], 2048) << name;
      EXPECT_GE(attrs[6], 2048) << name;
    }
    ++table_ref;
    for (const fixture::Column& c : t.columns) {
      SqlColumnDesc d;
      ASSERT_EQ(qdgetcolumn(&tc.ctx, table_ref, t.id, c.name.c_str(), -1, &d), 0) << c.name;
      int32_t code = 0, variant = 0;
      qdmaptype(c.type, &code, &variant);
      EXPECT_EQ(d.type_code, code) << c.name;
      EXPECT_EQ(d.variant, variant == 0 ? -1 : variant) << c.name;
      if (DeclaredLength(c) >= 0) {
        EXPECT_EQ(d.length, DeclaredLength(c)) << c.name;
      }
      if (c.type == fixture::kNumeric || c.type == fixture::kDecimal) {
        EXPECT_EQ(d.scale, c.scale) << c.name;
      }
      EXPECT_EQ(d.nullable, c.not_null ? 0 : 1) << c.name;
      EXPECT_EQ(d.column_id, c.number) << c.name;
      EXPECT_EQ(d.offset, c.offset) << c.name;
      EXPECT_EQ(d.byte_length, c.byte_length) << c.name;
      const fixture::Domain* domain = schema_->DomainOf(c);
      EXPECT_EQ(d.domain_id, domain ? domain->id : -1) << c.name;
      // A domain's column is recorded as a use of the domain.
      const CatalogValue use[] = {{TYPE_USAGE_OBJECT_TYPE, 1, 0, "DOMAIN"},
                                  {TYPE_USAGE_OBJECT_ID, 0, domain ? domain->id : 0, nullptr},
                                  {TYPE_USAGE_TABLE_ID, 0, t.id, nullptr},
                                  {TYPE_USAGE_COLUMN_NAME, 1, 0, c.name.c_str()}};
            if (domain) {
        EXPECT_EQ(ReadRow(40, use), 0) << c.name << " uses its domain";
      }
      EXPECT_EQ(d.default_length, DefaultLength(c)) << c.name;
      EXPECT_EQ(d.interval, 0) << c.name;
    }
  }
  // The type map's three variants, met in the schema's columns.
  const int32_t expected[][3] = {{6, 1, 202}, {11, 3, 207}, {28, 1, 208}};
  for (const auto& e : expected) {
    int32_t code = 0, variant = 0;
    qdmaptype(e[0], &code, &variant);
    EXPECT_EQ(code, e[1]) << e[0];
    EXPECT_EQ(variant, e[2]) << e[0];
  }
  SqlColumnDesc nick;
  ASSERT_EQ(qdgetcolumn(&tc.ctx, 1, schema_->tables.at("CUSTOMERS").id, "NICK", -1, &nick), 0);
  EXPECT_EQ(nick.default_length, 15) << "five national characters";
}

// Keys with their columns: a descending column whose stored length is 1
// reads 0 with its descending flag.
TEST_F(SchemaFixture, KeysAsWritten) {
  FakeKernel kernel;
  TestContext tc;
  Compiling(tc, 1);
  for (const auto& [name, t] : schema_->tables) {
    int32_t entries[45 * 8];
    int32_t count = 8;
    const int32_t status = qdgetcilist(&tc.ctx, t.id, entries, 0, &count);
    if (t.keys.empty()) {
      EXPECT_GT(status, 0) << name;
      continue;
    }
    ASSERT_EQ(status, 0) << name;
    ASSERT_EQ(count, static_cast<int32_t>(t.keys.size())) << name;
    for (const fixture::Key& k : t.keys) {
      const int32_t* e = nullptr;
      for (int32_t i = 0; i < count; ++i)
        if (entries[45 * i + 1] == k.id) e = &entries[45 * i];
      ASSERT_NE(e, nullptr) << k.name;
      EXPECT_EQ(e[0], k.kind) << k.name;
      ASSERT_EQ(e[2], static_cast<int32_t>(k.parts.size())) << k.name;
      EXPECT_EQ(e[4], k.kind == fixture::kIndex ? 0 : 1) << k.name << " unique";
      for (size_t p = 0; p < k.parts.size(); ++p) {
        const fixture::Column* c = t.Find(k.parts[p].column);
        const bool desc = k.parts[p].descending;
        EXPECT_EQ(e[5 + p], desc ? 1 : 0) << k.name << " " << c->name;
        EXPECT_EQ(e[15 + p], c->number) << k.name << " " << c->name;
        EXPECT_EQ(e[25 + p], c->offset) << k.name << " " << c->name;
        EXPECT_EQ(e[35 + p], desc && c->byte_length == 1 ? 0 : c->byte_length)
            << k.name << " " << c->name;
      }
    }
  }
}

// Every table privilege of the owner and of the user without privileges.
TEST_F(SchemaFixture, PrivilegesOfBothUsers) {
  FakeKernel kernel;
  for (const auto& [grantee, session] :
       {std::pair{schema_->owner, admin_}, {schema_->user, user_}}) {
    TestContext tc;
    Compiling(tc, 1, session);
    char current[129] = {};
    ASSERT_EQ(qdcurschema(&tc.ctx, current), 0);
    EXPECT_EQ(grantee, current);
    for (const auto& [name, t] : schema_->tables)
      for (int32_t privilege = 1; privilege <= 6; ++privilege) {
        int32_t granted = -1;
        EXPECT_GE(qdtablepriv(&tc.ctx, privilege, t.id, &granted), 0);
        EXPECT_EQ(granted, schema_->Holds(grantee, name, privilege) ? 1 : 0)
            << grantee << " " << name << " " << privilege;
      }
  }
}

// Domains, sequences, the collation and the routine by name; the domain
// named NUMERIC is a built-in type unqualified, without a lookup.
TEST_F(SchemaFixture, NamedObjectsAsWritten) {
  FakeKernel kernel;
  TestContext tc;
  Compiling(tc, 1);
  for (const auto& [name, d] : schema_->domains) {
    SqlQualifiedName n = Name(schema_->owner, name);
    int32_t id = 0, type[4] = {};
    SqlDomainData data;
    ASSERT_EQ(qdgetdomain(&tc.ctx, &n, &id, type, &data), 0) << name;
    EXPECT_EQ(id, d.id) << name;
    int32_t code = 0, variant = 0;
    qdmaptype(d.type, &code, &variant);
    EXPECT_EQ(type[0], code) << name;
    if (d.type != fixture::kInteger) {
      EXPECT_EQ(type[1], d.length) << name;
    }
    EXPECT_EQ(data.not_null, d.not_null ? 1 : 0) << name;
    std::vector<int32_t> checks;
    for (int32_t check = 0, guard = 0; guard < 10; ++guard) {
      const int32_t status = qdgetcc(&tc.ctx, 0, d.id, &check);
      ASSERT_GE(status, 0);
      if (status > 0) break;
      checks.push_back(check);
    }
    EXPECT_EQ(checks, schema_->DomainChecks(name)) << name;
  }
  SqlQualifiedName numeric = Name("", "NUMERIC");
  int32_t id = 0, type[4] = {};
  const int32_t runs = tc.ctx.catalog.lookups;
  EXPECT_EQ(qdgetdomain(&tc.ctx, &numeric, &id, type), 1);
  EXPECT_EQ(tc.ctx.catalog.lookups, runs) << "no lookup for a built-in type's name";
  for (const auto& [name, q] : schema_->sequences) {
    SqlQualifiedName n = Name(schema_->owner, name);
    ASSERT_EQ(qdgetsequence(&tc.ctx, &n, &id), 0) << name;
    EXPECT_EQ(id, q.id) << name;
  }
  for (const auto& [name, c] : schema_->collations) {
    SqlQualifiedName n = Name(schema_->owner, name);
    ASSERT_EQ(qdgetcollation(&tc.ctx, &n, &id), 0) << name;
    EXPECT_EQ(id, c.id) << name;
  }
  for (const auto& [name, r] : schema_->routines) {
    SqlQualifiedName n = Name(schema_->owner, name);
    int32_t value = 0;
    ASSERT_EQ(qdgetint(&tc.ctx, &n, &value), 0) << name;
    EXPECT_EQ(value, r.id) << name;
  }
}

// The cache keeps 20 columns: the 21st distinct one replaces the oldest.
// A definition statement reads again and records each dependency once.
TEST_F(SchemaFixture, ColumnCacheAndDependencies) {
  FakeKernel kernel;
  TestContext tc;
  Compiling(tc, 1);
  std::vector<std::pair<const fixture::Table*, const fixture::Column*>> columns;
  for (const auto& [name, t] : schema_->tables)
    if (!t.IsView())
      for (const fixture::Column& c : t.columns) columns.emplace_back(&t, &c);
  ASSERT_GE(columns.size(), 21u);
  auto ask = [&](size_t k) {
    SqlColumnDesc d;
    const int32_t before = tc.ctx.catalog.lookups;
    EXPECT_EQ(qdgetcolumn(&tc.ctx, columns[k].first->id, columns[k].first->id,
                          columns[k].second->name.c_str(), -1, &d),
              0);
    EXPECT_EQ(d.column_id, columns[k].second->number);
    return tc.ctx.catalog.lookups - before;
  };
  for (size_t k = 0; k < 21; ++k) EXPECT_EQ(ask(k), 1) << k;
  EXPECT_EQ(ask(20), 0);
  EXPECT_EQ(ask(2), 0);
  EXPECT_EQ(ask(0), 1) << "the oldest was replaced";

  TestContext def;
  Compiling(def, 39);
  SqlColumnDesc d;
  const fixture::Table& orders = schema_->tables.at("ORDERS");
  for (int32_t round = 0; round < 2; ++round) {
    const int32_t before = def.ctx.catalog.lookups;
    ASSERT_EQ(qdgetcolumn(&def.ctx, 1, orders.id, "AMOUNT", -1, &d), 0);
    EXPECT_EQ(def.ctx.catalog.lookups - before, 1) << "read again";
    SqlQualifiedName money = Name(schema_->owner, "MONEY");
    int32_t id = 0, type[4] = {};
    ASSERT_EQ(qdgetdomain(&def.ctx, &money, &id, type), 0);
  }
  std::vector<std::tuple<int32_t, int32_t, std::string>> listed;
  for (int32_t e = def.ctx.catalog.dependencies; e != 0; e = WsWord(&def.ctx, e, DEP_LINK))
    listed.emplace_back(WsWord(&def.ctx, e, DEP_KIND), WsWord(&def.ctx, e, DEP_ID),
                        qqwsadr(&def.ctx, e) + DEP_NAME_BYTE);
  const std::vector<std::tuple<int32_t, int32_t, std::string>> expected = {
      {kDependTable, orders.id, "AMOUNT"},
      {kDependDomain, schema_->domains.at("MONEY").id, ""}};
  EXPECT_EQ(listed, expected);
}

// A table's checks, one behind the other, and their stored trees as they
// were parsed.
TEST_F(SchemaFixture, TableChecksAndTheirTrees) {
  FakeKernel kernel;
  for (const auto& [name, t] : schema_->tables) {
    TestContext tc(1 << 20);
    Compiling(tc, 1);
    std::vector<int32_t> ids, expected;
    for (int32_t check = 0, guard = 0; guard < 10; ++guard) {
      const int32_t status = qdgetcc(&tc.ctx, t.id, 0, &check);
      ASSERT_GE(status, 0);
      if (status > 0) break;
      ids.push_back(check);
      const int32_t root = qmcopytree(&tc.ctx, t.id, check);
      ASSERT_NE(root, 0) << check;
      EXPECT_EQ(SqlPrintExpression(&tc.ctx, root), printed_[check]);
    }
    for (const fixture::Check& k : t.checks) expected.push_back(k.id);
    std::sort(ids.begin(), ids.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ids, expected) << name;
  }
}

// The view's stored tree comes back as parsed, so does a tree of several
// pieces; an object without a stored tree restarts the phase with code -1
// and is recorded as missing, without a condition.
TEST_F(SchemaFixture, StoredViewAndMissingTree) {
  FakeKernel kernel;
  const fixture::Table& view = schema_->tables.at("BIG_ORDERS");
  TestContext tc(1 << 20);
  const int32_t statement = qqwsnewblk(&tc.ctx);
  tc.ctx.session = admin_;
  const int32_t copy = qmcopyview(&tc.ctx, view.id);
  EXPECT_EQ(qqwscur(&tc.ctx), statement);
  EXPECT_EQ(SqlPrintStatement(&tc.ctx, copy), printed_[view.id]);
  const int32_t list = qmcopytree(&tc.ctx, 1, long_tree_);
  EXPECT_EQ(SqlPrintExpression(&tc.ctx, list), printed_[long_tree_]);
  EXPECT_EQ(tc.ctx.ws.chain_head, statement);
  EXPECT_TRUE(FakeKernel::conditions.empty());
  const int32_t table = schema_->tables.at("ORDERS").id;
  bool jumped = false;
  try {
    qmcopyview(&tc.ctx, table);
  } catch (const CompileJump&) {
    jumped = true;
  }
  EXPECT_TRUE(jumped);
  EXPECT_EQ(tc.ctx.error_code, -1);
  EXPECT_EQ(tc.ctx.missing_object, table);
  EXPECT_TRUE(FakeKernel::conditions.empty());
}


// A domain's stored checks come back through the dictionary with a value
// put in; SQLite, given the schema's DDL, accepts exactly the values whose
// condition holds.
TEST_F(SchemaFixture, StoredChecksJudgeAsSqliteDoes) {
  FakeKernel kernel;
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, fixture::SqliteDdl(*schema_).c_str(), nullptr, nullptr, nullptr),
            SQLITE_OK)
      << sqlite3_errmsg(db);
  struct Case {
    const char* domain;
    int32_t check;  // the domain's first, second ... check
    int32_t type_code;
    const char* value;
    const char* insert;  // the same value in a row SQLite is given
  };
  const Case cases[] = {
      {"MONEY", 0, 1, "-1", "INSERT INTO ORDERS VALUES (1, 1, -1, NULL)"},
      {"MONEY", 0, 1, "0", "INSERT INTO ORDERS VALUES (2, 2, 0, NULL)"},
      {"MONEY", 0, 1, "5", "INSERT INTO ORDERS VALUES (3, 3, 5, NULL)"},
      {"CODE", 0, 4, "ZZZ", "INSERT INTO CUSTOMERS (ID, NAME, CODE) VALUES (1, 'n', 'ZZZ')"},
      {"CODE", 1, 4, "0AB", "INSERT INTO CUSTOMERS (ID, NAME, CODE) VALUES (2, 'n', '0AB')"},
      {"CODE", 0, 4, "ABC", "INSERT INTO CUSTOMERS (ID, NAME, CODE) VALUES (3, 'n', 'ABC')"},
  };
  for (const Case& c : cases) {
    TestContext tc(1 << 20);
    Compiling(tc, 1);
    const std::vector<int32_t> checks = schema_->DomainChecks(c.domain);
    ASSERT_LT(c.check, static_cast<int32_t>(checks.size()));
    const int32_t check = checks[static_cast<size_t>(c.check)];
    const int32_t n = static_cast<int32_t>(std::strlen(c.value));
    const int32_t value = ExprLiteral(&tc.ctx, tc.ctx.position, c.type_code,
                                      TreeCountedCopy(&tc.ctx, c.value, n), 0);
    const int32_t condition = qmcheckcond(&tc.ctx, 1, check, value);
    ASSERT_NE(condition, 0) << check;
    const std::string printed = SqlPrintExpression(&tc.ctx, condition);
    const int32_t holds = fixture::SqliteScalar(db, "SELECT " + printed);
    const bool accepted = sqlite3_exec(db, c.insert, nullptr, nullptr, nullptr) == SQLITE_OK;
    EXPECT_EQ(holds == 1, accepted) << printed << " / " << c.insert;
  }
  sqlite3_close(db);
}

// Column statistics as the statistics run stores them (a numeric value as
// its decimal text right-aligned in 16 bytes, a character value as its
// bytes padded with blanks), written and committed in the administrator's
// dictionary work: the compiler reads them as numbers and keeps them by
// its rules.
TEST_F(SchemaFixture, StatisticsAsTheStatisticsRunStoresThem) {
  const fixture::Table& items = schema_->tables.at("ITEMS");
  auto store = [&](int32_t mode, const std::string& column, const char* low, const char* high) {
    int32_t pb[2] = {mode, admin_};
    const int32_t rows = 100, estimate = 50, nonnull = 100;
    DDUpdStatistics(base_, pb, items.id, 0, column.data(), static_cast<int32_t>(column.size()),
                    &rows, &estimate, &nonnull, low, high);
    return pb[0];
  };
  ASSERT_EQ(store(1, "ORDER_NO", "               1", "           90000"), 0);
  ASSERT_EQ(store(2, "TAX", "           -1.25", "           99.50"), 0);
  ASSERT_EQ(store(2, "QTY", "               7", "               7"), 0);  // one value
  ASSERT_EQ(store(2, "PRODUCT", "AAA             ", "ZZZ             "), 0);
  int32_t end[2] = {0, admin_};
  DDEndWork(base_, end);
  ASSERT_EQ(end[0], 0);
  int32_t begin[2] = {0, admin_};
  DDBegWork(base_, begin);
  ASSERT_EQ(begin[0], 0);

  FakeKernel kernel;
  TestContext tc;
  Compiling(tc, 1);
  struct Case {
    const char* column;
    double low, high;  // -1.0 both: not kept
  };
  const Case cases[] = {
      {"ORDER_NO", 1.0, 90000.0}, {"TAX", -1.25, 99.5}, {"QTY", -1.0, -1.0}, {"LINE", -1.0, -1.0}};
  for (const Case& c : cases) {
    SqlColumnDesc d;
    ASSERT_EQ(qdgetcolumn(&tc.ctx, items.id, items.id, c.column, -1, &d), 0) << c.column;
    EXPECT_EQ(d.low, c.low) << c.column;
    EXPECT_EQ(d.high, c.high) << c.column;
  }
  SqlColumnDesc product;
  ASSERT_EQ(qdgetcolumn(&tc.ctx, items.id, items.id, "PRODUCT", -1, &product), 0);
  EXPECT_GT(product.low, 0.0);
  EXPECT_GE(product.high - product.low, 65500.0);
}

}  // namespace
