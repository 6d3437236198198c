// The compiler's lookups over the catalog's own rows and rows the
// dictionary writes: every system table found by name with its lengths,
// every column with its type as the catalog defines it, the keys of a table
// with their columns, and the checks made before any statement runs.
#include <map>
#include <string>

#include "dict/dictionary_services.h"
#include "dict/tests/catalog_forms.h"
#include "dict/tests/lookup_fixture.h"
#include "dict/kind_words.h"
#include "dict/type_words.h"
#include "kernel/system_block.h"
#include "platform/thread_slots.h"

namespace {

TEST_F(LookupTest, EverySystemTableIsFoundByNameInSystem) {
  ASSERT_EQ(BegWork(), 0);
  for (int32_t k = 0; k < kCatalogTableCount; ++k) {
    const CatalogTable& t = kCatalogTables[k];
    DDTableAttr a{};
    ASSERT_EQ(TableAttr("SYSTEM", t.name, &a), 0) << t.name;
    ExpectSystemTable(a, t);
    EXPECT_EQ(a.trans_option, 1);  // N
    EXPECT_EQ(a.has_triggers, 0);
    EXPECT_EQ(a.synonym, 0);
  }
  DDTableAttr a{};
  a.id = 4242;
  EXPECT_EQ(TableAttr("SYSTEM", "NO_SUCH_TABLE", &a), DD_TABLE_NOT_FOUND);
  EXPECT_EQ(TableAttr("ADAM", "TABLES", &a), DD_TABLE_NOT_FOUND);
  EXPECT_EQ(a.id, 4242) << "nothing is written for a table not found";
  // By id.
  int32_t pb[2] = {0, usr_};
  DDTableName by_id;
  by_id.id = CAT_COLUMNS;
  DDCmpTableAttr(base_, pb, by_id, false, &a);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(Name(a.name, a.name_length), "COLUMNS");
  by_id.id = 9999;
  pb[0] = 0;
  DDCmpTableAttr(base_, pb, by_id, false, &a);
  EXPECT_EQ(pb[0], DD_TABLE_NOT_FOUND);
  ASSERT_EQ(EndWork(0), 0);
}

// Unqualified names go through the level's path; the work block's schema
// takes its place while its path flag is set.
TEST_F(LookupTest, AnUnqualifiedNameFollowsThePath) {
  ASSERT_EQ(BegWork(), 0);
  const int32_t lvl = W(usr_ + USR_LVL);
  auto set_path = [&](std::vector<std::string> schemas) {
    uint8_t* path = reinterpret_cast<uint8_t*>(&W(lvl + LVL_PATH));
    std::memset(path, 255, DD_PATH_BYTES);
    for (size_t e = 0; e < schemas.size(); ++e) {
      if (schemas[e].empty()) continue;
      path[e * 129] = 0;
      std::memset(path + e * 129 + 1, ' ', 128);
      std::memcpy(path + e * 129 + 1, schemas[e].data(), schemas[e].size());
    }
  };
  DDTableAttr a{};
  set_path({"ADAM"});
  EXPECT_EQ(TableAttr("", "TABLES", &a), DD_TABLE_NOT_FOUND);
  set_path({"ADAM", "", "SYSTEM"});
  ASSERT_EQ(TableAttr("", "TABLES", &a), 0);
  EXPECT_EQ(a.id, CAT_TABLES);
  EXPECT_EQ(Name(a.schema, a.schema_length), "SYSTEM");
  set_path({"SYSTEM"});
  ASSERT_EQ(TableAttr("", "COLUMNS", &a), 0);
  // The work block's schema alone.
  const int32_t ucom = Ucom();
  std::memset(&W(ucom + DDUCOM_SCHEMA), ' ', 128);
  std::memcpy(&W(ucom + DDUCOM_SCHEMA), "ADAM", 4);
  W(ucom + DDUCOM_PATH_FLAG) = 1;
  EXPECT_EQ(TableAttr("", "COLUMNS", &a), DD_TABLE_NOT_FOUND);
  W(ucom + DDUCOM_PATH_FLAG) = 0;
  EXPECT_EQ(TableAttr("", "COLUMNS", &a), 0);
  ASSERT_EQ(EndWork(0), 0);
}

TEST_F(LookupTest, EveryColumnHasItsDefinedTypeAndPlace) {
  ASSERT_EQ(BegWork(), 0);
  for (int32_t k = 0; k < kCatalogTableCount; ++k) {
    const CatalogTable& t = kCatalogTables[k];
    for (int32_t i = 0; i < t.column_count; ++i) {
      const CatalogColumn& c = kCatalogColumns[t.first_column + i];
      const FormType want = TypeOf(c);
      for (bool by_name : {true, false}) {
        DDColumnDesc d{};
        int32_t pb[2] = {0, usr_};
        DDCmpColumns(base_, pb, t.number, by_name ? 0 : i + 1, c.name,
                     static_cast<int32_t>(std::strlen(c.name)), &d, nullptr, 0);
        ASSERT_EQ(pb[0], 0) << t.name << "." << c.name;
        EXPECT_EQ(Name(d.name, d.name_length), c.name);
        EXPECT_EQ(d.column_id, i + 1);
        EXPECT_EQ(d.type, want.code) << t.name << "." << c.name;
        EXPECT_EQ(d.length, want.length) << t.name << "." << c.name;
        EXPECT_EQ(d.scale, want.scale) << t.name << "." << c.name;
        EXPECT_EQ(d.offset, c.offset);
        EXPECT_EQ(d.byte_length, c.width);
        EXPECT_EQ(d.nullable, c.offset < t.key_length ? 0 : 1);
        EXPECT_EQ(d.default_length, -1);
        EXPECT_EQ(d.statistics_count, -1);
      }
    }
  }
  DDColumnDesc d{};
  int32_t pb[2] = {0, usr_};
  DDCmpColumns(base_, pb, CAT_TABLES, 0, "NOPE", 4, &d, nullptr, 0);
  EXPECT_EQ(pb[0], 1);
  pb[0] = 0;
  DDCmpColumns(base_, pb, CAT_TABLES, 99, nullptr, 0, &d, nullptr, 0);
  EXPECT_EQ(pb[0], 1);
  ASSERT_EQ(EndWork(0), 0);
}

TEST_F(LookupTest, KeysComeWithTheirColumns) {
  ASSERT_EQ(BegWork(), 0);
  std::vector<int32_t> entries(8 * DD_CI_ENTRY_WORDS + 1, 7777);
  int32_t count = -1;
  int32_t pb[2] = {0, usr_};
  DDCmpCI(base_, pb, CAT_COLUMNS, 8, entries.data(), &count);
  ASSERT_EQ(pb[0], 0);
  ASSERT_EQ(count, 3);
  struct Want {
    int32_t kind, id;
    std::vector<std::string> columns;
  };
  const std::map<int32_t, Want> want = {{79, {1, 79, {"TABLE_ID", "COLUMN_NAME"}}},
                                        {80, {5, 80, {"TABLE_ID", "COLUMN_ID"}}},
                                        {81, {2, 81, {"TABLE_ID", "DOMAIN_ID"}}}};
  const CatalogTable* t = CatalogFindTable(CAT_COLUMNS);
  for (int32_t e = 0; e < count; ++e) {
    const int32_t* x = &entries[static_cast<size_t>(e) * DD_CI_ENTRY_WORDS];
    auto w = want.find(x[DD_CI_ID]);
    ASSERT_NE(w, want.end()) << x[DD_CI_ID];
    EXPECT_EQ(x[DD_CI_KIND], w->second.kind);
    EXPECT_EQ(x[DD_CI_COUNT], 2);
    EXPECT_EQ(x[DD_CI_FLAG], w->second.kind == 2 ? 1 : 0);
    for (int32_t k = 0; k < 2; ++k) {
      const CatalogColumn* col = nullptr;
      int32_t number = 0;
      for (int32_t i = 0; i < t->column_count; ++i)
        if (w->second.columns[k] == kCatalogColumns[t->first_column + i].name)
          col = &kCatalogColumns[t->first_column + i], number = i + 1;
      ASSERT_NE(col, nullptr);
      EXPECT_EQ(x[DD_CI_COLUMN + k], number);
      EXPECT_EQ(x[DD_CI_OFFSET + k], col->offset);
      EXPECT_EQ(x[DD_CI_LENGTH + k], col->width);
      EXPECT_EQ(x[DD_CI_POSITION + k], k + 1);
    }
    EXPECT_EQ(x[DD_CI_COLUMN + 2], -1) << "a short list is closed by -1";
  }
  EXPECT_EQ(entries[3 * DD_CI_ENTRY_WORDS], 7777) << "nothing past the entries collected";
  // Room for one entry: one; for none: 2 without a run.
  std::fill(entries.begin(), entries.end(), 7777);
  pb[0] = 0;
  DDCmpCI(base_, pb, CAT_COLUMNS, 1, entries.data(), &count);
  EXPECT_EQ(pb[0], 0);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(entries[DD_CI_ENTRY_WORDS], 7777);
  const int32_t runs = W(thr_ + THR_STM_DDL_CI);
  pb[0] = 0;
  DDCmpCI(base_, pb, CAT_COLUMNS, 0, entries.data(), &count);
  EXPECT_EQ(pb[0], 2);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(W(thr_ + THR_STM_DDL_CI), runs);
  pb[0] = 0;
  DDCmpCI(base_, pb, 9999, 8, entries.data(), &count);
  EXPECT_EQ(pb[0], 1);
  ASSERT_EQ(EndWork(0), 0);
}

// A key of twelve columns keeps its first ten in the entry.
TEST_F(LookupTest, AKeyOfMoreThanTenColumnsKeepsTen) {
  ASSERT_EQ(BegWork(), 0);
  const CatalogValue key[] = {{TABLE_CONSTRAINTS_CONSTRAINT_ID, 0, 500, nullptr},
                              {TABLE_CONSTRAINTS_CONSTRAINT_TYPE, 1, 0, "INDEX"},
                              {TABLE_CONSTRAINTS_TABLE_ID, 0, CAT_COLUMNS, nullptr},
                              {TABLE_CONSTRAINTS_KEY_COLUMN_COUNT, 0, 12, nullptr}};
  ASSERT_EQ(InsertValues(18, key), 0);
  const CatalogTable* t = CatalogFindTable(CAT_COLUMNS);
  for (int32_t k = 0; k < 12; ++k) {
    const CatalogValue column[] = {{INDEXCOL_CONSTRAINT_ID, 0, 500, nullptr},
                                   {INDEXCOL_TABLE_ID, 0, CAT_COLUMNS, nullptr},
                                   {INDEXCOL_ORDINAL_POSITION, 0, k + 1, nullptr},
                                   {INDEXCOL_COLUMN_NAME, 1, 0,
                                    kCatalogColumns[t->first_column + 10 + k].name},
                                   {INDEXCOL_IS_ASCENDING, 1, 0, k % 2 ? "NO " : "YES"}};
    ASSERT_EQ(InsertValues(20, column), 0);
  }
  std::vector<int32_t> entries(4 * DD_CI_ENTRY_WORDS, 0);
  int32_t count = 0, pb[2] = {0, usr_};
  DDCmpCI(base_, pb, CAT_COLUMNS, 4, entries.data(), &count);
  ASSERT_EQ(pb[0], 0);
  ASSERT_EQ(count, 4);
  const int32_t* x = nullptr;
  for (int32_t e = 0; e < count; ++e)
    if (entries[static_cast<size_t>(e) * DD_CI_ENTRY_WORDS + DD_CI_ID] == 500)
      x = &entries[static_cast<size_t>(e) * DD_CI_ENTRY_WORDS];
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(x[DD_CI_COUNT], 12);
  for (int32_t k = 0; k < 10; ++k) {
    const CatalogColumn& c = kCatalogColumns[t->first_column + 10 + k];
    EXPECT_EQ(x[DD_CI_COLUMN + k], 11 + k);
    EXPECT_EQ(x[DD_CI_OFFSET + k], c.offset);
    EXPECT_EQ(x[DD_CI_LENGTH + k], k % 2 ? -c.width : c.width) << "descending negated";
  }
  ASSERT_EQ(EndWork(1), 0);
}

// A table inserted in open dictionary work is seen by its user's lookups
// before the work ends, and is gone after a rollback.
TEST_F(LookupTest, OpenWorkIsSeenByTheSameUsersLookup) {
  ASSERT_EQ(BegWork(), 0);
  ASSERT_EQ(InsObject(600, 6, "ADAM", "T1"), 0);
  const CatalogValue table[] = {{TABLES_TABLE_ID, 0, 600, nullptr},
                                {TABLES_TABLE_TYPE, 1, 0, "BASE TABLE"},
                                {TABLES_KEY_LENGTH, 0, 8, nullptr},
                                {TABLES_RECORD_LENGTH, 0, 20, nullptr},
                                {TABLES_DATABANK_ID, 0, 1, nullptr}};
  ASSERT_EQ(InsertValues(16, table), 0);
  DDTableAttr a{};
  ASSERT_EQ(TableAttr("ADAM", "T1", &a), 0);
  EXPECT_EQ(a.id, 600);
  EXPECT_EQ(a.record_length, 20);
  EXPECT_EQ(a.primary_key_id, -1);
  ASSERT_EQ(EndWork(1), 0);
  ASSERT_EQ(BegWork(), 0);
  EXPECT_EQ(TableAttr("ADAM", "T1", &a), DD_TABLE_NOT_FOUND);
  ASSERT_EQ(EndWork(0), 0);
}

TEST_F(LookupTest, TheCurrentSchemaOfAnAlternateUser) {
  int32_t block = 0;
  DSGetMem(base_, &block, 4 + 128);
  struct Case {
    const char* held;
    const char* schema;
  } cases[] = {{"INFORMATION_SCHEMA", "SYSTEM"}, {"ZAVOR", "SYSTEM"},
               {"INFO_SCHEM", "SYSTEM"},         {"OLD_INFO_SCHEMA", "SYSTEM"},
               {"FIPS_DOCUMENTATION", "SYSTEM"}, {"INFORMATION_SCHEMAS", "INFORMATION_SCHEMAS"},
               {"EVE", "EVE"}};
  for (const Case& c : cases) {
    std::memset(&W(block + DD_ALTERNATE_NAME), ' ', 128);
    std::memcpy(&W(block + DD_ALTERNATE_NAME), c.held, std::strlen(c.held));
    W(usr_ + USR_ALTERNATE_USER) = block;
    char name[128];
    int32_t length = -1, pb[2] = {9, usr_};
    DDCurrentSchema(base_, pb, name, &length);
    EXPECT_EQ(pb[0], 0);
    EXPECT_EQ(Name(name, length), c.schema);
    EXPECT_EQ(std::string(name + length, 128 - length), std::string(128 - length, ' '));
  }
  // The same name as the level name is kept.
  W(usr_ + USR_ALTERNATE_USER) = 0;
  const int32_t lvl = W(usr_ + USR_LVL);
  std::memset(&W(lvl + LVL_NAME), ' ', 128);
  std::memcpy(&W(lvl + LVL_NAME), "INFORMATION_SCHEMA", 18);
  char name[128];
  int32_t length = -1, pb[2] = {0, usr_};
  DDCurrentSchema(base_, pb, name, &length);
  EXPECT_EQ(Name(name, length), "INFORMATION_SCHEMA");
  EXPECT_EQ(length, 18);
}

TEST_F(LookupTest, BadCallsAreRefusedBeforeAnyRun) {
  ASSERT_EQ(BegWork(), 0);
  DDTableAttr a{};
  EXPECT_EQ(TableAttr("SYSTEM", std::string(129, 'T'), &a), DD_NAME_TOO_LONG);
  EXPECT_EQ(TableAttr(std::string(129, 'S'), "TABLES", &a), DD_NAME_TOO_LONG);
  EXPECT_EQ(W(thr_ + THR_STM_DDL_TA), 0) << "nothing prepared";
  // A path parameter that is not 387 bytes long.
  DDColumnDesc d{};
  int32_t pb[2] = {0, usr_};
  DDCmpColumns(base_, pb, CAT_TABLES, 1, nullptr, 0, &d, nullptr, 0);
  ASSERT_EQ(pb[0], 0);
  const int32_t stm = W(thr_ + THR_STM_DDL_CA);
  EXPECT_EQ(DDWithUcomPath(base_, stm, 3, usr_), DD_PATH_FIELD);
  // Without a thread block: -18515, also in the user's result vector.
  StatusPair st{};
  mdr_tls_set(&st, 0, TLS_SLOT_THR);
  pb[0] = 0;
  pb[1] = usr_;  // the last call left the thread's own user there
  W(usr_ + USR_RVEC_RCODE) = 0;
  DDCmpColumns(base_, pb, CAT_TABLES, 1, nullptr, 0, &d, nullptr, 0);
  EXPECT_EQ(pb[0], DD_NO_THREAD_BLOCK);
  EXPECT_EQ(W(usr_ + USR_RVEC_RCODE), DD_NO_THREAD_BLOCK);
  mdr_tls_set(&st, thr_, TLS_SLOT_THR);
  ASSERT_EQ(EndWork(0), 0);
}

// Source texts read back piece by piece, never past the caller's buffer;
// a missing first piece of a routine's text is an error, of another kind
// no text.
TEST_F(LookupTest, SourceTextsAreReadPieceByPieceWithinTheBuffer) {
  ASSERT_EQ(BegWork(), 0);
  std::vector<uint8_t> text;
  for (int i = 0; i < 1700; ++i) text.insert(text.end(), {0, 0, uint8_t('a' + i % 26)});
  int32_t pb[2] = {0, usr_};
  DDInsSource(base_, pb, 50, "V", 1, 2, text.data(), 1700);
  ASSERT_EQ(pb[0], 0);
  for (int32_t capacity : {1700, 2000, 1600, 800, 801, 5, 0}) {
    std::vector<uint8_t> back(3 * 2000 + 3, 0xEE);
    int32_t length = -1, b[2] = {0, usr_};
    DDCmpSourceRead(base_, b, 50, "V", 1, 2, false, back.data(), capacity, &length);
    ASSERT_EQ(b[0], 0) << capacity;
    const int32_t want = std::min(capacity, 1700);
    EXPECT_EQ(length, want) << capacity;
    EXPECT_TRUE(std::equal(back.begin(), back.begin() + 3 * want, text.begin())) << capacity;
    EXPECT_EQ(back[3 * static_cast<size_t>(want)], 0xEE) << "written past " << capacity;
  }
  // In byte form the pieces' bytes, cut at the buffer too.
  std::vector<uint8_t> raw(3000, 0xEE);
  int32_t length = -1, b[2] = {0, usr_};
  DDCmpSourceRead(base_, b, 50, "V", 1, 2, true, raw.data(), 1000, &length);
  ASSERT_EQ(b[0], 0);
  EXPECT_EQ(length, 1000);
  EXPECT_TRUE(std::equal(raw.begin(), raw.begin() + 1000, text.begin()));
  EXPECT_EQ(raw[1000], 0xEE);
  int32_t total = -1;
  b[0] = 0;
  b[1] = usr_;
  DDCmpSourceInfo(base_, b, 50, "V", 1, 2, &total);
  EXPECT_EQ(b[0], 0);
  EXPECT_EQ(total, 1700);
  b[0] = 0;
  b[1] = usr_;
  DDCmpSourceInfo(base_, b, 51, "V", 1, 2, &total);
  EXPECT_EQ(b[0], 1) << "no view text";
  b[0] = 0;
  b[1] = usr_;
  DDCmpSourceRead(base_, b, 51, "V", 1, 1, false, raw.data(), 10, &length);
  EXPECT_EQ(b[0], DD_PIECE_MISSING) << "no routine text";
  EXPECT_EQ(length, 0);
  b[0] = 0;
  b[1] = usr_;
  DDCmpSourceInfo(base_, b, 50, "V", 1, 7, &total);
  EXPECT_EQ(b[0], DD_KIND_OUTSIDE);
  ASSERT_EQ(EndWork(1), 0);
}

TEST_F(LookupTest, AKeyByItsId) {
  ASSERT_EQ(BegWork(), 0);
  const CatalogTable* t = CatalogFindTable(CAT_COLUMNS);
  DDIndexAttr a{};
  a.kind = 99;
  int32_t pb[2] = {0, usr_};
  DDCmpIndexAttr(base_, pb, 80, &a);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(a.kind, 5);
  EXPECT_EQ(a.id, 80);
  EXPECT_EQ(a.table_id, CAT_COLUMNS);
  EXPECT_EQ(a.column_count, 2);
  EXPECT_EQ(a.trans_option, -1) << "the catalog's own keys name no databank";
  a.kind = 99;
  pb[1] = usr_;
  DDCmpIndexAttr(base_, pb, t->constraint_id, &a);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(a.kind, 99) << "a primary key leaves the kind word";
  EXPECT_EQ(a.key_length, t->key_length);
  pb[1] = usr_;
  DDInsConstraint(base_, pb, 960, 4, 700, 15, 2, 15, 0, 1);
  ASSERT_EQ(pb[0], 0);
  DDCmpIndexAttr(base_, pb, 960, &a);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(a.kind, 4);
  EXPECT_EQ(a.trans_option, 1) << "databank 1, type N";
  pb[1] = usr_;
  DDCmpIndexAttr(base_, pb, 961, &a);
  EXPECT_EQ(pb[0], 1);
  ASSERT_EQ(EndWork(1), 0);
}

// Privileges of the current schema (the level name ADAM) or of PUBLIC.
TEST_F(LookupTest, TheCurrentSchemasPrivileges) {
  ASSERT_EQ(BegWork(), 0);
  auto table = [&](int32_t privilege) {
    int32_t pb[2] = {0, usr_};
    DDCmpTablePriv(base_, pb, 700, privilege);
    return pb[0];
  };
  auto column = [&](int32_t privilege, const std::string& name) {
    int32_t pb[2] = {0, usr_};
    DDCmpColumnPriv(base_, pb, 700, privilege, name.data(), static_cast<int32_t>(name.size()));
    return pb[0];
  };
  EXPECT_EQ(table(1), 1);
  EXPECT_EQ(column(1, "A"), 1);
  int32_t pb[2] = {0, usr_};
  DDInsTablePriv(base_, pb, 700, 1, "ADAM", 4, "EVE", 3, false, false);
  DDInsTablePriv(base_, pb, 700, 4, "PUBLIC", 6, "EVE", 3, false, false);
  DDInsTablePriv(base_, pb, 700, 2, "ADAMS", 5, "EVE", 3, false, false);
  DDInsColumnPriv(base_, pb, 700, 2, "A", 1, "ADAM", 4, "EVE", 3, false);
  DDInsColumnPriv(base_, pb, 700, 5, "B", 1, "PUBLIC", 6, "EVE", 3, false);
  ASSERT_EQ(pb[0], 0);
  const int32_t want_table[] = {0, 1, 1, 0, 1, 1};
  for (int32_t privilege = 1; privilege <= 6; ++privilege)
    EXPECT_EQ(table(privilege), want_table[privilege - 1]) << privilege;
  EXPECT_EQ(table(7), DD_KIND_OUTSIDE);
  EXPECT_EQ(column(2, "A"), 0);
  EXPECT_EQ(column(2, "B"), 1);
  EXPECT_EQ(column(5, "B"), 0);
  EXPECT_EQ(column(1, "A"), 1);
  EXPECT_EQ(column(3, "A"), DD_KIND_OUTSIDE);
  EXPECT_EQ(column(1, std::string(129, 'A')), DD_NAME_TOO_LONG);
  ASSERT_EQ(EndWork(1), 0);
}

// A collation by its qualified name or through the path, other kinds of a
// name passed over; any object by its qualified name.
TEST_F(LookupTest, CollationsAndObjectsByName) {
  ASSERT_EQ(BegWork(), 0);
  ASSERT_EQ(InsObject(810, 6, "ADAM", "C1"), 0);  // a table of the name comes first
  ASSERT_EQ(InsObject(811, 18, "ADAM", "C1"), 0);
  ASSERT_EQ(InsObject(812, 18, "SYSTEM", "C2"), 0);
  ASSERT_EQ(InsObject(813, 3, "", "EVE"), 0);
  // One lookup of an id by qualified name.
  using ByName = void (*)(int32_t*, int32_t*, const DDTableName&, int32_t*);
  auto lookup = [&](ByName f, const std::string& schema, const std::string& name, int32_t* id) {
    int32_t pb[2] = {0, usr_};
    DDTableName n;
    n.schema = schema.data();
    n.schema_length = static_cast<int32_t>(schema.size());
    n.name = name.data();
    n.name_length = static_cast<int32_t>(name.size());
    *id = -1;
    f(base_, pb, n, id);
    return pb[0];
  };
  auto collation = [&](const std::string& schema, const std::string& name, int32_t* id) {
    return lookup(DDCmpCollation, schema, name, id);
  };
  auto object = [&](const std::string& schema, const std::string& name, int32_t* id) {
    return lookup(DDCmpIN, schema, name, id);
  };
  int32_t id = 0;
  EXPECT_EQ(collation("ADAM", "C1", &id), 0);
  EXPECT_EQ(id, 811);
  EXPECT_EQ(collation("ADAM", "C2", &id), 1);
  EXPECT_EQ(id, -1);
  // The path: ADAM, then SYSTEM.
  const int32_t lvl = W(usr_ + USR_LVL);
  uint8_t* path = reinterpret_cast<uint8_t*>(&W(lvl + LVL_PATH));
  std::memset(path, 255, DD_PATH_BYTES);
  for (int32_t e = 0; e < 2; ++e) {
    path[e * 129] = 0;
    std::memset(path + e * 129 + 1, ' ', 128);
    std::memcpy(path + e * 129 + 1, e == 0 ? "ADAM" : "SYSTEM", e == 0 ? 4 : 6);
  }
  EXPECT_EQ(collation("", "C2", &id), 0);
  EXPECT_EQ(id, 812);
  EXPECT_EQ(collation("", "C1", &id), 0);
  EXPECT_EQ(id, 811);
  EXPECT_EQ(object("ADAM", "C1", &id), 0);
  EXPECT_EQ(id, 810);
  EXPECT_EQ(object("SYSTEM", "TABLES", &id), 0);
  EXPECT_EQ(id, CAT_TABLES);
  EXPECT_EQ(object("", "EVE", &id), 0) << "an object without schema";
  EXPECT_EQ(id, 813);
  EXPECT_EQ(object("", "C1", &id), 1);
  EXPECT_EQ(object("ADAM", std::string(129, 'N'), &id), DD_NAME_TOO_LONG);
  ASSERT_EQ(EndWork(1), 0);
}

// A sequence by name, through the path or by id, with its row; the
// privilege test finds the current schema's or PUBLIC's SEQUENCE rows.
TEST_F(LookupTest, SequencesByNameOrId) {
  ASSERT_EQ(BegWork(), 0);
  ASSERT_EQ(InsObject(820, 14, "ADAM", "S1"), 0);
  ASSERT_EQ(InsObject(821, 14, "ADAM", "S2"), 0);
  ASSERT_EQ(InsObject(822, 14, "ADAM", "S3"), 0);  // no sequence row
  int32_t pb[2] = {0, usr_};
  DDInsSequence(base_, pb, 820, nullptr, 5, -10, 1000);
  ASSERT_EQ(pb[0], 0);
  DDInsSequence(base_, pb, 821, nullptr, 1, 1, 9);
  ASSERT_EQ(pb[0], 0);
  DDInsPrivilege(base_, pb, 9, 821, false, "PUBLIC", 6, "EVE", 3);
  ASSERT_EQ(pb[0], 0);
  auto find = [&](const std::string& schema, const std::string& name, int32_t id, bool test,
                  DDSequenceAttr* a) {
    int32_t b[2] = {0, usr_};
    DDTableName n;
    n.schema = schema.data();
    n.schema_length = static_cast<int32_t>(schema.size());
    n.name = name.data();
    n.name_length = static_cast<int32_t>(name.size());
    n.id = id;
    DDCmpSequence(base_, b, n, test, a);
    return b[0];
  };
  DDSequenceAttr a{};
  ASSERT_EQ(find("ADAM", "S1", 0, true, &a), 0);
  EXPECT_EQ(a.id, 820);
  EXPECT_EQ(a.increment, 5);
  EXPECT_EQ(a.minimum, -10);
  EXPECT_EQ(a.maximum, 1000);
  EXPECT_EQ(a.has_current, 0);
  EXPECT_EQ(a.cycle, 0);
  EXPECT_EQ(a.privileged, 0);
  ASSERT_EQ(find("", "", 821, true, &a), 0);
  EXPECT_EQ(std::string(a.name, a.name_length), "S2");
  EXPECT_EQ(a.privileged, 1) << "PUBLIC holds it";
  EXPECT_EQ(find("ADAM", "S3", 0, false, &a), DD_PIECE_MISSING);
  EXPECT_EQ(find("ADAM", "T1", 0, false, &a), 1);
  EXPECT_EQ(find("", "", CAT_TABLES, false, &a), 1) << "a table is no sequence";
  ASSERT_EQ(EndWork(1), 0);
}

// Another session's lookup does not see a table of open dictionary work;
// the working user's does, before and after the other's work.
TEST_F(LookupTest, OpenWorkIsNotSeenByAnotherSession) {
  ASSERT_EQ(BegWork(), 0);
  ASSERT_EQ(InsObject(601, 6, "ADAM", "T2"), 0);
  const CatalogValue table[] = {{TABLES_TABLE_ID, 0, 601, nullptr},
                                {TABLES_TABLE_TYPE, 1, 0, "BASE TABLE"},
                                {TABLES_DATABANK_ID, 0, 1, nullptr}};
  ASSERT_EQ(InsertValues(16, table), 0);
  DDTableAttr a{};
  ASSERT_EQ(TableAttr("ADAM", "T2", &a), 0);
  // The other session's dictionary work on the same thread.
  const int32_t other = users_[1];
  W(other + USR_CHA) = cha_;
  int32_t pb[2] = {0, other};
  DDBegWork(base_, pb);
  ASSERT_EQ(pb[0], 0);
  W(W(other + USR_TRS) + TRS_STATUS) = 3;
  EXPECT_EQ(TableAttr("ADAM", "T2", &a, other), DD_TABLE_NOT_FOUND);
  EXPECT_EQ(TableAttr("SYSTEM", "TABLES", &a, other), 0) << "committed rows are seen";
  pb[0] = 1;
  pb[1] = other;
  DDEndWork(base_, pb);
  ASSERT_EQ(pb[0], 0);
  // The working user's own work again.
  ASSERT_EQ(BegWork(), 0);
  EXPECT_EQ(TableAttr("ADAM", "T2", &a), 0);
  ASSERT_EQ(EndWork(1), 0);
}

// A domain by name or id with its type, flag and default; the privilege
// test finds PUBLIC's DOMAIN row.
TEST_F(LookupTest, DomainsByNameOrId) {
  ASSERT_EQ(BegWork(), 0);
  ASSERT_EQ(InsObject(830, 2, "ADAM", "D1"), 0);
  ASSERT_EQ(InsObject(831, 2, "ADAM", "D2"), 0);  // no domain row
  const CatalogValue row[] = {{DOMAINS_DOMAIN_ID, 0, 830, nullptr},
                              {DOMAINS_DATA_TYPE, 1, 0, "DECIMAL"},
                              {DOMAINS_NUMERIC_PRECISION, 0, 9, nullptr},
                              {DOMAINS_NUMERIC_SCALE, 0, 2, nullptr},
                              {DOMAINS_CHAR_1348, 1, 0, "YES"},
                              {DOMAINS_CHARACTER_SET_ID, 0, 0, nullptr}};
  ASSERT_EQ(InsertValues(23, row), 0);
  int32_t pb[2] = {0, usr_};
  DDInsPrivilege(base_, pb, 6, 830, false, "PUBLIC", 6, "EVE", 3);
  ASSERT_EQ(pb[0], 0);
  auto find = [&](const std::string& name, int32_t id, DDDomainAttr* d) {
    int32_t b[2] = {0, usr_};
    DDTableName n;
    n.schema = "ADAM";
    n.schema_length = name.empty() ? 0 : 4;
    n.name = name.data();
    n.name_length = static_cast<int32_t>(name.size());
    n.id = id;
    DDCmpDomain(base_, b, n, true, d, nullptr, 0);
    return b[0];
  };
  DDDomainAttr d{};
  ASSERT_EQ(find("D1", 0, &d), 0);
  EXPECT_EQ(d.id, 830);
  EXPECT_EQ(d.type, 2);
  EXPECT_EQ(d.length, 9);
  EXPECT_EQ(d.scale, 2);
  EXPECT_EQ(d.not_null, 1);
  EXPECT_EQ(d.default_length, -1);
  EXPECT_EQ(d.privileged, 1);
  ASSERT_EQ(find("", 830, &d), 0);
  EXPECT_EQ(std::string(d.name, d.name_length), "D1");
  EXPECT_EQ(find("D2", 0, &d), DD_PIECE_MISSING);
  EXPECT_EQ(find("D3", 0, &d), 1);
  EXPECT_EQ(find("", CAT_TABLES, &d), 1) << "a table is no domain";
  ASSERT_EQ(EndWork(1), 0);
}

// A view's names and its text's length; the text read by the source reads.
TEST_F(LookupTest, AViewsNamesAndText) {
  ASSERT_EQ(BegWork(), 0);
  ASSERT_EQ(InsObject(840, 7, "ADAM", "V1"), 0);
  ASSERT_EQ(InsObject(841, 7, "ADAM", "V2"), 0);
  std::vector<uint8_t> text;
  for (char ch : std::string("SELECT 1")) text.insert(text.end(), {0, 0, uint8_t(ch)});
  int32_t pb[2] = {0, usr_};
  DDInsSource(base_, pb, 840, "", 0, 2, text.data(), 8);
  ASSERT_EQ(pb[0], 0);
  DDViewText v{};
  DDCmpViewCols(base_, pb, 840, &v);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(std::string(v.schema, v.schema_length), "ADAM");
  EXPECT_EQ(std::string(v.name, v.name_length), "V1");
  EXPECT_EQ(v.has_text, 1);
  EXPECT_EQ(v.length, 8);
  std::vector<uint8_t> back(3 * 8);
  int32_t length = 0;
  pb[1] = usr_;
  DDCmpSourceRead(base_, pb, 840, "", 0, 2, false, back.data(), 8, &length);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(back, text);
  pb[1] = usr_;
  DDCmpViewCols(base_, pb, 841, &v);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(v.has_text, 0);
  pb[1] = usr_;
  DDCmpViewCols(base_, pb, CAT_TABLES, &v);
  EXPECT_EQ(pb[0], 1) << "a table is no view";
  ASSERT_EQ(EndWork(1), 0);
}

// A table's or a domain's check constraints one after the other, each
// behind the one given: only those with their check row, the other
// owner's and the other kinds of constraint passed over.
TEST_F(LookupTest, ChecksOfATableOrADomain) {
  ASSERT_EQ(BegWork(), 0);
  int32_t pb[2] = {0, usr_};
  const uint8_t text[] = {0, 0, 'X', 0, 0, '>', 0, 0, '0'};
  // Domain 930's checks 905 and 903, domain 931's 904; table 910's checks
  // 907 and 902 beside its primary key 906, table 911's check 901.
  for (auto [id, domain] : {std::pair{905, 930}, {903, 930}, {904, 931}}) {
    DDInsDomainCheck(base_, pb, id, domain, false, false, text, 3);
    ASSERT_EQ(pb[0], 0) << id;
  }
  for (auto [id, table] : {std::pair{907, 910}, {902, 910}, {901, 911}}) {
    DDInsCheck(base_, pb, id, table, false, false, text, 3);
    ASSERT_EQ(pb[0], 0) << id;
  }
  DDInsConstraint(base_, pb, 906, 1, 910, 7, 1, 7, 0, 0);
  ASSERT_EQ(pb[0], 0);
  // A domain constraint without its check row is not a check.
  const CatalogValue orphan[] = {{DOMAIN_CONSTRAINTS_CONSTRAINT_ID, 0, 908, nullptr},
                                 {DOMAIN_CONSTRAINTS_DOMAIN_ID, 0, 930, nullptr}};
  ASSERT_EQ(InsertValues(24, orphan), 0);
  auto all = [&](int32_t table, int32_t domain) {
    std::vector<int32_t> ids;
    int32_t value = 0;
    for (int32_t guard = 0; guard < 10; ++guard) {
      int32_t b[2] = {0, usr_};
      DDCmpCC(base_, b, table, domain, &value);
      if (b[0] != 0) {
        EXPECT_EQ(b[0], 1);
        break;
      }
      ids.push_back(value);
    }
    std::sort(ids.begin(), ids.end());
    return ids;
  };
  EXPECT_EQ(all(0, 930), (std::vector<int32_t>{903, 905}));
  EXPECT_EQ(all(0, 931), (std::vector<int32_t>{904}));
  EXPECT_EQ(all(0, 932), (std::vector<int32_t>{}));
  EXPECT_EQ(all(910, 0), (std::vector<int32_t>{902, 907}));
  EXPECT_EQ(all(911, 0), (std::vector<int32_t>{901}));
  EXPECT_EQ(all(912, 0), (std::vector<int32_t>{}));
  // Behind a constraint that is not one of the owner's: none.
  int32_t value = 901;
  pb[0] = 0;
  DDCmpCC(base_, pb, 910, 0, &value);
  EXPECT_EQ(pb[0], 1);
  ASSERT_EQ(EndWork(1), 0);
}

}  // namespace

namespace {

// A thread's lookup statements serve every session that runs on the
// thread: after one session's dictionary work has ended, another's lookup
// runs under its own transaction, not the first one's.
TEST_F(LookupTest, ALookupServesTheNextSessionOfTheThread) {
  ASSERT_EQ(BegWork(), 0);
  DDTableAttr a{};
  ASSERT_EQ(TableAttr("SYSTEM", "TABLES", &a), 0);
  ASSERT_EQ(EndWork(0), 0);
  const int32_t other = users_[1];
  W(other + USR_CHA) = cha_;
  for (int32_t round = 0; round < 2; ++round) {
    int32_t pb[2] = {0, other};
    DDBegWork(base_, pb);
    ASSERT_EQ(pb[0], 0);
    W(W(other + USR_TRS) + TRS_STATUS) = 3;
    EXPECT_EQ(TableAttr("SYSTEM", "TABLES", &a, other), 0) << round;
    EXPECT_EQ(a.id, CAT_TABLES);
    pb[0] = 0;
    pb[1] = other;
    DDEndWork(base_, pb);
    ASSERT_EQ(pb[0], 0);
    WaitSecured();
  }
  ASSERT_EQ(BegWork(), 0);
  EXPECT_EQ(TableAttr("SYSTEM", "COLUMNS", &a), 0);
  ASSERT_EQ(EndWork(0), 0);
}

}  // namespace
