// The dictionary's writes read back through its reads and the compiler's
// lookups: columns of every type code, privileges and their checks,
// referential rules, keys and databanks, and the codes refused before any
// statement runs.
#include <random>
#include <string>
#include <vector>

#include "dict/dictionary_services.h"
#include "dict/kind_words.h"
#include "dict/tests/catalog_forms.h"
#include "dict/tests/lookup_fixture.h"

namespace {

constexpr int32_t kTable = 700;

class ServicesTest : public LookupTest {
 protected:
  int32_t InsColumn(const DDColumnDef& c, const std::vector<uint8_t>& def = {}) {
    int32_t pb[2] = {0, usr_};
    DDInsColumn(base_, pb, kTable, c, def.data(), static_cast<int32_t>(def.size() / 3));
    return pb[0];
  }
  int32_t InsTablePriv(int32_t privilege, const std::string& grantee, const std::string& grantor,
                       bool grantable) {
    int32_t pb[2] = {0, usr_};
    DDInsTablePriv(base_, pb, kTable, privilege, grantee.data(),
                   static_cast<int32_t>(grantee.size()), grantor.data(),
                   static_cast<int32_t>(grantor.size()), grantable, false);
    return pb[0];
  }
  int32_t ChkTablePriv(int32_t privilege, const std::string& grantee, int32_t* held) {
    int32_t pb[2] = {0, usr_};
    *held = -1;
    DDChkTablePriv(base_, pb, kTable, privilege, grantee.data(),
                   static_cast<int32_t>(grantee.size()), held);
    return pb[0];
  }
};

std::vector<uint8_t> Text3(const std::string& s) {
  std::vector<uint8_t> t;
  for (char ch : s) t.insert(t.end(), {0, 0, static_cast<uint8_t>(ch)});
  return t;
}

// Columns of random type codes and sizes read back by number, by name and
// by position, and by the compiler's lookup, against the type rules.
TEST_F(ServicesTest, ColumnsOfEveryTypeReadBackByTheTypeRules) {
  ASSERT_EQ(BegWork(), 0);
  std::mt19937 rng(29);
  std::vector<std::string> names;
  for (int32_t n = 1; n <= 140; ++n) names.push_back("C" + std::to_string(n));
  const std::vector<DDColumnDef> columns = RandomColumns(rng, names);
  for (const DDColumnDef& c : columns) {
    const int32_t n = c.number;
    const std::vector<uint8_t> def = n % 5 == 0 ? Text3("'D" + std::to_string(n) + "'")
                                                : std::vector<uint8_t>{};
    ASSERT_EQ(InsColumn(c, def), 0) << n;
  }
  EXPECT_EQ(InsColumn(columns[3]), 2) << "a second column of one name";
  for (const DDColumnDef& c : columns) {
    const Triple want = Expected(c);
    SCOPED_TRACE(c.type);
    DDColumnRow r{};
    std::vector<uint8_t> def(3 * 10, 0xEE);
    for (int32_t way = 0; way < 3; ++way) {
      int32_t pb[2] = {0, usr_};
      DDGetColumn(base_, pb, kTable, way == 0 ? c.number : 0, way == 1 ? c.number : 0, c.name,
                  c.name_length, &r, def.data(), 10);
      ASSERT_EQ(pb[0], 0) << way;
      EXPECT_EQ((Triple{r.type, r.length, r.scale}), want) << way;
      EXPECT_EQ(std::string(r.name, r.name_length), std::string(c.name, c.name_length));
      EXPECT_EQ(r.number, c.number);
      EXPECT_EQ(r.position, c.number);
      EXPECT_EQ(r.nullable, c.nullable ? 1 : 0);
      EXPECT_EQ(r.offset, c.offset);
      EXPECT_EQ(r.byte_length, c.byte_length);
      const int32_t charset = c.type == 1 || c.type == 5 || c.type == 32 ? 136
                              : c.type >= 33                             ? 140
                                                                         : 0;
      EXPECT_EQ(r.character_set, charset);
    }
    const std::string d = c.number % 5 == 0 ? "'D" + std::to_string(c.number) + "'" : "";
    EXPECT_EQ(r.default_length, d.empty() ? -1 : static_cast<int32_t>(d.size()));
    if (!d.empty()) {
      EXPECT_EQ(std::vector<uint8_t>(def.begin(), def.begin() + 3 * d.size()), Text3(d));
    }
    DDColumnDesc lookup{};
    int32_t pb[2] = {0, usr_};
    DDCmpColumns(base_, pb, kTable, c.number, nullptr, 0, &lookup, nullptr, 0);
    ASSERT_EQ(pb[0], 0);
    EXPECT_EQ((Triple{lookup.type, lookup.length, lookup.scale}), want);
  }
  ASSERT_EQ(EndWork(1), 0);
}

// Type 17 is stored as INTERVAL with DAY; codes outside 1 to 35 are refused
// before anything is prepared.
TEST_F(ServicesTest, TypeWordsAndCodesOutsideTheTable) {
  ASSERT_EQ(BegWork(), 0);
  DDColumnDef c;
  c.name = "IV";
  c.name_length = 2;
  c.number = 1;
  c.type = 17;
  c.length = 5;
  ASSERT_EQ(InsColumn(c), 0);
  std::vector<uint8_t> row;
  const CatalogValue key[] = {{COLUMNS_TABLE_ID, 0, kTable, nullptr},
                              {COLUMNS_COLUMN_NAME, 1, 0, "IV"}};
  ASSERT_EQ(ReadRow(22, key, &row), 0);
  EXPECT_EQ(Column(row, COLUMNS_DATA_TYPE, 30), "INTERVAL");
  EXPECT_EQ(Column(row, COLUMNS_INTERVAL_TYPE, 30), "DAY");
  const int32_t statements = W(sys_ + SYS_ST_STATEMENTS);
  for (int32_t type : {0, 36, -1}) {
    c.type = type;
    c.name = "BAD";
    EXPECT_EQ(InsColumn(c), DD_KIND_OUTSIDE) << type;
  }
  c.type = 1;
  c.name_length = 129;
  EXPECT_EQ(InsColumn(c), DD_BAD_VALUE);
  EXPECT_EQ(W(sys_ + SYS_ST_STATEMENTS), statements);
  ASSERT_EQ(EndWork(1), 0);
}

// A privilege check answers by the grantee's own rows, then PUBLIC's; a
// table without rows is the positive no-row status. The grantor "SYSTEM"
// is stored as "_SYSTEM", a longer name as given.
TEST_F(ServicesTest, TablePrivilegesAndTheirChecks) {
  ASSERT_EQ(BegWork(), 0);
  int32_t held = 0;
  EXPECT_EQ(ChkTablePriv(1, "EVE", &held), 1);
  EXPECT_EQ(held, -1) << "nothing is written without a row";
  ASSERT_EQ(InsTablePriv(1, "EVE", "SYSTEM", true), 0);
  ASSERT_EQ(InsTablePriv(2, "EVE", "SYSTEMS", false), 0);
  ASSERT_EQ(InsTablePriv(3, "PUBLIC", "ADAM", true), 0);
  ASSERT_EQ(InsTablePriv(4, "PUBLIC", "ADAM", false), 0);
  struct Case {
    int32_t privilege;
    const char* grantee;
    int32_t status, held;
  } cases[] = {{1, "EVE", 0, 1}, {2, "EVE", 0, 3}, {3, "EVE", 0, 2},
               {4, "EVE", 0, 4}, {5, "EVE", 1, -1}, {1, "BOB", 1, -1}, {3, "BOB", 0, 2}};
  for (const Case& c : cases) {
    EXPECT_EQ(ChkTablePriv(c.privilege, c.grantee, &held), c.status) << c.privilege << c.grantee;
    EXPECT_EQ(held, c.held) << c.privilege << c.grantee;
  }
  EXPECT_EQ(ChkTablePriv(8, "EVE", &held), DD_KIND_OUTSIDE);
  EXPECT_EQ(InsTablePriv(0, "EVE", "X", true), DD_KIND_OUTSIDE);
  // The grantor as stored.
  std::vector<uint8_t> row;
  auto stored = [&](const char* word, const char* grantor) {
    const CatalogValue key[] = {{TABLE_PRIVILEGES_TABLE_ID, 0, kTable, nullptr},
                                {TABLE_PRIVILEGES_PRIVILEGE_TYPE, 1, 0, word},
                                {TABLE_PRIVILEGES_GRANTEE, 1, 0, "EVE"},
                                {TABLE_PRIVILEGES_GRANTOR, 1, 0, grantor}};
    return ReadRow(25, key, &row);
  };
  EXPECT_EQ(stored("SELECT", "_SYSTEM"), 0);
  EXPECT_EQ(stored("SELECT", "SYSTEM"), 100);
  EXPECT_EQ(stored("INSERT", "SYSTEMS"), 0);
  // A present row gets the flag given.
  ASSERT_EQ(InsTablePriv(1, "EVE", "SYSTEM", false), 0);
  EXPECT_EQ(ChkTablePriv(1, "EVE", &held), 0);
  EXPECT_EQ(held, 3);
  ASSERT_EQ(EndWork(1), 0);
}

// Referential rules by number; a match of 0 or 4 is stored "NONE", a rule
// outside 1 to 5 refused.
TEST_F(ServicesTest, ReferentialConstraintWords) {
  ASSERT_EQ(BegWork(), 0);
  struct Case {
    int32_t id, match, update, del;
    int32_t status;
    const char *match_word, *update_word, *delete_word;
  } cases[] = {{801, 0, 1, 5, 0, "NONE", "CASCADE", "RESTRICT"},
               {802, 4, 2, 3, 0, "NONE", "SET NULL", "SET DEFAULT"},
               {803, 2, 4, 1, 0, "PARTIAL", "NO ACTION", "CASCADE"},
               {804, 3, 5, 2, 0, "FULL", "RESTRICT", "SET NULL"},
               {805, 1, 0, 1, DD_KIND_OUTSIDE, "", "", ""},
               {806, 1, 1, 6, DD_KIND_OUTSIDE, "", "", ""}};
  for (const Case& c : cases) {
    int32_t pb[2] = {0, usr_};
    DDInsRefConstraint(base_, pb, c.id, kTable, 79, 22, c.match, c.update, c.del);
    ASSERT_EQ(pb[0], c.status) << c.id;
    if (c.status != 0) continue;
    std::vector<uint8_t> row;
    const CatalogValue key[] = {{REFERENTIAL_CONSTRAINTS_CONSTRAINT_ID, 0, c.id, nullptr},
                                {REFERENTIAL_CONSTRAINTS_TABLE_ID, 0, kTable, nullptr}};
    ASSERT_EQ(ReadRow(19, key, &row), 0);
    EXPECT_EQ(Column(row, REFERENTIAL_CONSTRAINTS_MATCH_OPTION, 20), c.match_word);
    EXPECT_EQ(Column(row, REFERENTIAL_CONSTRAINTS_UPDATE_RULE, 20), c.update_word);
    EXPECT_EQ(Column(row, REFERENTIAL_CONSTRAINTS_DELETE_RULE, 20), c.delete_word);
  }
  ASSERT_EQ(EndWork(1), 0);
}

// Keys written by the inserts come back through the compiler's key lookup
// and the key cursor.
TEST_F(ServicesTest, KeysWrittenAreReadBack) {
  ASSERT_EQ(BegWork(), 0);
  std::vector<std::string> names = {"A", "B", "C"};
  for (int32_t n = 0; n < 3; ++n) {
    DDColumnDef c;
    c.name = names[n].data();
    c.name_length = 1;
    c.number = n + 1;
    c.type = 7;
    c.length = 11;
    c.offset = 7 * n;
    c.byte_length = 7;
    ASSERT_EQ(InsColumn(c), 0);
  }
  int32_t pb[2] = {0, usr_};
  DDInsConstraint(base_, pb, 901, 1, kTable, 7, 1, 21, 0, 0);
  ASSERT_EQ(pb[0], 0);
  DDInsConstraint(base_, pb, 902, 4, kTable, 15, 2, 15, 0, 1);
  ASSERT_EQ(pb[0], 0);
  DDInsConstraint(base_, pb, 903, 4, kTable, 15, 2, 15, 0, 9);
  EXPECT_EQ(pb[0], 1) << "no databank of logical id 9";
  pb[0] = 0;
  DDInsConstraint(base_, pb, 903, 8, kTable, 15, 2, 15, 0, 0);
  EXPECT_EQ(pb[0], DD_KIND_OUTSIDE);
  struct Key {
    int32_t id, position, column, kind, direction;
  } keys[] = {{901, 1, 1, 1, 1}, {902, 1, 3, 4, -1}, {902, 2, 2, 4, 1}};
  for (const Key& k : keys) {
    pb[0] = 0;
    DDInsKey(base_, pb, k.id, kTable, k.position, names[k.column - 1].data(), 1, k.kind,
             k.direction, k.column);
    ASSERT_EQ(pb[0], 0);
  }
  std::vector<int32_t> entries(4 * DD_CI_ENTRY_WORDS);
  int32_t count = 0;
  pb[0] = 0;
  DDCmpCI(base_, pb, kTable, 4, entries.data(), &count);
  ASSERT_EQ(pb[0], 0);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(entries[DD_CI_KIND], 1);
  EXPECT_EQ(entries[DD_CI_ID], 901);
  EXPECT_EQ(entries[DD_CI_COLUMN], 1);
  const int32_t* unique = &entries[DD_CI_ENTRY_WORDS];
  EXPECT_EQ(unique[DD_CI_KIND], 4);
  EXPECT_EQ(unique[DD_CI_COLUMN], 3);
  EXPECT_EQ(unique[DD_CI_LENGTH], -7) << "descending";
  EXPECT_EQ(unique[DD_CI_OFFSET + 1], 7);
  // The key cursor leaves the primary key out.
  int32_t values[7] = {};
  pb[0] = 1;
  pb[1] = usr_;  // the lookup left the thread's own user there
  DDCurKeys(base_, pb, kTable, values);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(values[0], 4);
  EXPECT_EQ(values[1], 902);
  EXPECT_EQ(values[2], 15);
  EXPECT_EQ(values[6], 1) << "the databank of logical id 1";
  pb[0] = 0;
  DDCurKeys(base_, pb, kTable, values);
  EXPECT_EQ(pb[0], 1);
  ASSERT_EQ(EndWork(1), 0);
}

// The databank cursor: by name, by id, every one; a new opening after a
// finished walk starts again from the first row.
TEST_F(ServicesTest, TheDatabankCursorStartsAgainWhenReopened) {
  ASSERT_EQ(BegWork(), 0);
  const char* names[] = {"DB2", "DB3"};
  for (int32_t k = 0; k < 2; ++k) {
    int32_t pb[2] = {0, usr_};
    DDInsDatabank(base_, pb, 20 + k, 6 + k, names[k], 3, "ADAM", 4, "db.dbf", 6, 1 + k, k == 0);
    ASSERT_EQ(pb[0], 0);
  }
  int32_t pb[2] = {0, usr_};
  DDInsDatabank(base_, pb, 30, 8, "DB4", 3, "ADAM", 4, "db.dbf", 6, 4, false);
  EXPECT_EQ(pb[0], DD_KIND_OUTSIDE);
  auto walk = [&](int32_t mode, int32_t id, const char* name) {
    std::vector<int32_t> ids;
    DDDatabankRow r{};
    int32_t b[2] = {mode, usr_};
    for (DDCurDatabank(base_, b, id, name, name ? 3 : 0, &r); b[0] == 0 && ids.size() < 10;
         DDCurDatabank(base_, b, 0, nullptr, 0, &r)) {
      ids.push_back(r.id);
      const int32_t option = r.id == 20 ? 1 : r.id == 21 ? 2 : r.option;
      EXPECT_EQ(r.option, option) << r.id;
      b[0] = 0;
    }
    EXPECT_EQ(b[0], 1);
    return ids;
  };
  EXPECT_EQ(walk(3, 0, nullptr), (std::vector<int32_t>{1, 20, 21}));
  EXPECT_EQ(walk(3, 0, nullptr), (std::vector<int32_t>{1, 20, 21}));
  EXPECT_EQ(walk(2, 21, nullptr), (std::vector<int32_t>{21}));
  EXPECT_EQ(walk(1, 0, "DB2"), (std::vector<int32_t>{20}));
  ASSERT_EQ(EndWork(1), 0);
}

// A key found by its columns: the primary key first, then the unique keys
// in the order of their numbers; a table without primary key falls back to
// its unique keys; indexes never match.
TEST_F(ServicesTest, AReferencedKeyIsFoundByItsColumns) {
  ASSERT_EQ(BegWork(), 0);
  struct Key {
    int32_t id, kind;
    std::vector<std::string> columns;
  } keys[] = {{950, 5, {"B", "A"}}, {951, 2, {"C"}}, {952, 5, {"C"}},
              {953, 5, {"A", "B", "C"}}, {954, 1, {"A"}}};
  auto make = [&](int32_t table, bool primary) {
    for (const Key& k : keys) {
      if (k.kind == 1 && !primary) continue;
      int32_t pb[2] = {0, usr_};
      DDInsConstraint(base_, pb, k.id, k.kind, table, 0, static_cast<int32_t>(k.columns.size()),
                      0, 0, 0);
      ASSERT_EQ(pb[0], 0);
      for (size_t c = 0; c < k.columns.size(); ++c) {
        DDInsKey(base_, pb, k.id, table, static_cast<int32_t>(c + 1), k.columns[c].data(), 1,
                 k.kind == 5 ? 5 : k.kind, 1, 0);
        ASSERT_EQ(pb[0], 0);
      }
    }
  };
  make(kTable, true);
  auto find = [&](int32_t table, std::vector<std::string> names, int32_t* key) {
    std::string all;
    std::vector<int32_t> lengths;
    for (const std::string& n : names) all += n, lengths.push_back(static_cast<int32_t>(n.size()));
    int32_t pb[2] = {0, usr_};
    *key = -1;
    DDGetRefKey(base_, pb, table, static_cast<int32_t>(names.size()), all.data(), lengths.data(),
                key);
    return pb[0];
  };
  int32_t key = 0;
  EXPECT_EQ(find(kTable, {"A"}, &key), 0);
  EXPECT_EQ(key, 954) << "the primary key";
  EXPECT_EQ(find(kTable, {"B", "A"}, &key), 0);
  EXPECT_EQ(key, 950);
  EXPECT_EQ(find(kTable, {"C"}, &key), 0);
  EXPECT_EQ(key, 952) << "the index on C is no key";
  EXPECT_EQ(find(kTable, {"A", "B", "C"}, &key), 0);
  EXPECT_EQ(key, 953);
  EXPECT_EQ(find(kTable, {"A", "B"}, &key), 1);
  EXPECT_EQ(key, -1);
  EXPECT_EQ(find(kTable, {"B"}, &key), 1) << "a prefix of a key is no match";
  // Without a primary key: the unique keys.
  make(kTable + 1, false);
  EXPECT_EQ(find(kTable + 1, {"A"}, &key), 1);
  EXPECT_EQ(find(kTable + 1, {"B", "A"}, &key), 0);
  EXPECT_EQ(key, 950);
  // Counts and names refused before a run.
  EXPECT_EQ(find(kTable, {}, &key), DD_BAD_VALUE);
  EXPECT_EQ(find(kTable, {std::string(129, 'A')}, &key), DD_BAD_VALUE);
  EXPECT_EQ(find(kTable, {""}, &key), DD_BAD_VALUE);
  ASSERT_EQ(EndWork(1), 0);
}

// A key's columns read one by one, and a table's integers rewritten.
TEST_F(ServicesTest, KeyColumnsAndTableIntegers) {
  ASSERT_EQ(BegWork(), 0);
  // The catalog's own primary key of table 22: TABLE_ID, COLUMN_NAME.
  const CatalogTable* t = CatalogFindTable(CAT_COLUMNS);
  const char* names[] = {"TABLE_ID", "COLUMN_NAME"};
  for (int32_t position = 1; position <= 3; ++position) {
    DDKeyColumn k{};
    int32_t pb[2] = {0, usr_};
    DDGetKeyColumn(base_, pb, t->constraint_id, CAT_COLUMNS, position, &k);
    if (position == 3) {
      EXPECT_EQ(pb[0], 1);
      break;
    }
    ASSERT_EQ(pb[0], 0) << position;
    EXPECT_EQ(std::string(k.name, k.name_length), names[position - 1]);
    EXPECT_EQ(k.number, position == 1 ? 1 : 2);
    EXPECT_EQ(k.type, position == 1 ? 7 : 1);
    EXPECT_EQ(k.length, position == 1 ? 11 : 128);
    EXPECT_EQ(k.ascending, 1);
    EXPECT_EQ(k.nullable, 0);
  }
  int32_t pb[2] = {0, usr_};
  DDInsKey(base_, pb, 970, CAT_COLUMNS, 1, "NO_SUCH", 7, 2, 1, 0);
  ASSERT_EQ(pb[0], 0);
  DDKeyColumn k{};
  DDGetKeyColumn(base_, pb, 970, CAT_COLUMNS, 1, &k);
  EXPECT_EQ(pb[0], -19007) << "a key column the table lacks";
  // The table's integers and its primary key's length.
  pb[0] = 0;
  DDUpdTableInts(base_, pb, CAT_TABLES, 9, 99, 0, 3);
  ASSERT_EQ(pb[0], 0);
  DDTableAttr a{};
  ASSERT_EQ(TableAttr("SYSTEM", "TABLES", &a), 0);
  EXPECT_EQ(a.key_length, 9);
  EXPECT_EQ(a.record_length, 99);
  EXPECT_EQ(a.column_count, 3);
  EXPECT_EQ(a.primary_key_length, 9);
  pb[0] = 0;
  pb[1] = usr_;
  DDUpdTableInts(base_, pb, 4242, 1, 1, 0, 1);
  EXPECT_EQ(pb[0], 1);
  ASSERT_EQ(EndWork(1), 0);
}

}  // namespace
