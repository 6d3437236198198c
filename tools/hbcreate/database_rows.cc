// The rows of a new database, each made into its record by DDRowImage from
// its non-null column values.
#include "tools/hbcreate/database_rows.h"

#include <cstring>
#include <deque>
#include <string_view>

#include "catalog_gen.h"
#include "dict/kind_words.h"
#include "dict/row_image.h"
#include "tools/hbcreate/databank_files.h"

namespace {

constexpr int32_t kSystemPrivileges[] = {1, 2, 10, 11, 12, 13};
constexpr int32_t kMemberPrivilege = 4;
constexpr int32_t kSelectPrivilege = 1;
constexpr int32_t kObjectTable = 6, kObjectIdent = 3, kObjectSchema = 15;
constexpr int32_t kGranteeUser = 3, kGranteeGroup = 1;
constexpr int32_t kSchemaCharacterSet = 135;  // as DDInsSchema stores it

std::string Word(const DDWordTable& table, int32_t number) {
  std::string_view word;
  DDWordOf(table, number, &word);
  return std::string(word);
}

// Builds the rows of one table after another.
class Rows {
 public:
  explicit Rows(std::vector<TableRows>* out) : out_(out) {}

  Rows& Table(int32_t table) {
    out_->push_back({table, {}});
    return *this;
  }
  Rows& Int(int32_t offset, int64_t value) {
    values_.push_back({offset, 0, value, nullptr});
    return *this;
  }
  Rows& Text(int32_t offset, std::string text) {
    texts_.push_back(std::move(text));
    values_.push_back({offset, 1, 0, texts_.back().c_str()});
    return *this;
  }
  // Ends the row; false when it does not fit its table.
  bool End() {
    TableRows& t = out_->back();
    CatalogRecord record(static_cast<size_t>(CatalogFindTable(t.table)->record_length));
    const bool ok = DDRowImage({t.table, 0, 0}, values_, record) == 0;
    values_.clear();
    t.rows.push_back(std::move(record));
    return ok;
  }
  std::vector<TableRows>* out() { return out_; }

 private:
  std::vector<TableRows>* out_;
  std::vector<CatalogValue> values_;
  std::deque<std::string> texts_;
};

// The generated rows of a list, grouped by table in their order.
bool Generated(const CatalogRow* rows, int32_t count, std::vector<TableRows>* out) {
  for (int32_t i = 0; i < count; ++i) {
    const CatalogRow& row = rows[i];
    if (out->empty() || out->back().table != row.table) out->push_back({row.table, {}});
    CatalogRecord record(static_cast<size_t>(CatalogFindTable(row.table)->record_length));
    if (DDRowImage(row, record) != 0) return false;
    out->back().rows.push_back(std::move(record));
  }
  return true;
}

}  // namespace

NewDatabaseIds NewDatabaseIdsTaken() {
  const int32_t first = CATALOG_ID_SEQUENCE_START;
  return {first, first + 1, first + 2, first + 3};
}

int32_t NewDatabaseRows(const std::string& admin, const uint8_t scrambled[kPasswordBytes],
                        std::vector<TableRows>* out, int32_t* table) {
  out->clear();
  if (!Generated(kCatalogSelfRows, kCatalogSelfRowCount, out) ||
      !Generated(kCatalogSeedRows, kCatalogSeedRowCount, out)) {
    *table = out->empty() ? 0 : out->back().table;
    return DD_ROW_IMAGE_BAD;
  }
  const NewDatabaseIds ids = NewDatabaseIdsTaken();
  const std::string grantor(DD_GRANTOR_SYSTEM_STORED), yes(DD_YES), no(DD_NO);
  Rows r(out);
  bool ok = true;
  auto fail = [&](int32_t t) {
    *table = t;
    return DD_ROW_IMAGE_BAD;
  };

  r.Table(CAT_DATABANKS);
  for (const DatabankFile& f : kDatabankFiles)
    ok = r.Int(DATABANKS_DATABANK_ID, f.lid)
             .Int(DATABANKS_SEQUENCE_NO, 1)
             .Int(DATABANKS_LOGICAL_ID, f.lid)
             .Text(DATABANKS_DATABANK_NAME, f.name)
             .Text(DATABANKS_DATABANK_OWNER, grantor)
             .Text(DATABANKS_FILE_NAME, f.file)
             .Text(DATABANKS_DATABANK_TYPE, std::string(1, f.letter))
             .Text(DATABANKS_SECOND_FLAG, "N")
             .Text(DATABANKS_OFFLINE_FLAG, "N")
             .End() &&
         ok;
  if (!ok) return fail(CAT_DATABANKS);

  // The sequence's current value is the last id handed out.
  r.Table(CAT_SEQUENCES);
  if (!r.Int(SEQUENCES_SEQUENCE_ID, CATALOG_ID_SEQUENCE)
           .Int(SEQUENCES_INCREMENT, 1)
           .Int(SEQUENCES_CURRENT_VALUE, ids.admin_schema)
           .Int(SEQUENCES_MINIMUM_VALUE, 1)
           .Int(SEQUENCES_MAXIMUM_VALUE, 2147483647)
           .Text(SEQUENCES_CYCLE_OPTION, no)
           .Int(SEQUENCES_BLOCK_END, ids.admin_schema)
           .End())
    return fail(CAT_SEQUENCES);

  // Each row holds what the dictionary's insert of the same values writes
  // (DDInsIdent, DDInsSchema, DDInsObject, DDInsPrivilege, DDInsTablePriv,
  // DDInsSequence), so that both sort and read alike.
  r.Table(CAT_IDENTS);
  ok = r.Int(IDENTS_IDENT_ID, ids.admin)
           .Text(IDENTS_IDENT_NAME, admin)
           .Text(IDENTS_IDENT_TYPE, Word(kDDGranteeWords, kGranteeUser))
           .Int(IDENTS_INT_176, 0)
           .End();
  if (ok) {
    // The password field holds the scrambled bytes as they are.
    uint8_t* field = out->back().rows.back().data() + IDENTS_PASSWORD;
    field[0] = 0;
    std::memcpy(field + 1, scrambled, kPasswordBytes);
  }
  for (const auto& [name, id] : {std::pair<std::string, int32_t>{kAdminGroup, ids.admin_group},
                                 {kPublicGroup, ids.public_group}})
    ok = r.Int(IDENTS_IDENT_ID, id)
             .Text(IDENTS_IDENT_NAME, name)
             .Text(IDENTS_IDENT_TYPE, Word(kDDGranteeWords, kGranteeGroup))
             .Int(IDENTS_INT_176, 0)
             .End() &&
         ok;
  if (!ok) return fail(CAT_IDENTS);

  r.Table(CAT_SCHEMATA);
  ok = r.Int(SCHEMATA_SCHEMA_ID, CATALOG_SCHEMA_ID)
           .Int(SCHEMATA_DEFAULT_CHARACTER_SET_ID, kSchemaCharacterSet)
           .End() &&
       r.Int(SCHEMATA_SCHEMA_ID, ids.admin_schema)
           .Int(SCHEMATA_DEFAULT_CHARACTER_SET_ID, kSchemaCharacterSet)
           .End();
  if (!ok) return fail(CAT_SCHEMATA);

  r.Table(CAT_OBJECTS);
  const std::string schema_word = Word(kDDObjectWords, kObjectSchema);
  ok = r.Int(OBJECTS_OBJECT_ID, CATALOG_SCHEMA_ID)
           .Text(OBJECTS_OBJECT_NAME, CATALOG_SCHEMA)
           .Text(OBJECTS_OBJECT_TYPE, schema_word)
           .End() &&
       r.Int(OBJECTS_OBJECT_ID, ids.admin_schema)
           .Text(OBJECTS_OBJECT_NAME, admin)
           .Text(OBJECTS_OBJECT_TYPE, schema_word)
           .End();
  for (const auto& [name, id] : {std::pair<std::string, int32_t>{admin, ids.admin},
                                 {kAdminGroup, ids.admin_group},
                                 {kPublicGroup, ids.public_group}})
    ok = r.Int(OBJECTS_OBJECT_ID, id)
             .Text(OBJECTS_OBJECT_NAME, name)
             .Text(OBJECTS_OBJECT_TYPE, Word(kDDObjectWords, kObjectIdent))
             .End() &&
         ok;
  const std::string table_word = Word(kDDObjectWords, kObjectTable);
  for (int32_t i = 0; i < kCatalogTableCount; ++i)
    ok = r.Int(OBJECTS_OBJECT_ID, kCatalogTables[i].number)
             .Text(OBJECTS_OBJECT_SCHEMA, CATALOG_SCHEMA)
             .Text(OBJECTS_OBJECT_NAME, kCatalogTables[i].name)
             .Text(OBJECTS_OBJECT_TYPE, table_word)
             .End() &&
         ok;
  if (!ok) return fail(CAT_OBJECTS);

  r.Table(CAT_PRIVILEGES);
  ok = r.Int(PRIVILEGES_OBJECT_ID, ids.admin_group)
           .Text(PRIVILEGES_PRIVILEGE_TYPE, Word(kDDPrivKindWords, kMemberPrivilege))
           .Text(PRIVILEGES_GRANTEE, admin)
           .Text(PRIVILEGES_GRANTOR, grantor)
           .Text(PRIVILEGES_IS_GRANTABLE, no)
           .End();
  for (int32_t kind : kSystemPrivileges)
    ok = r.Int(PRIVILEGES_OBJECT_ID, 0)
             .Text(PRIVILEGES_PRIVILEGE_TYPE, Word(kDDPrivKindWords, kind))
             .Text(PRIVILEGES_GRANTEE, kAdminGroup)
             .Text(PRIVILEGES_GRANTOR, grantor)
             .Text(PRIVILEGES_IS_GRANTABLE, yes)
             .End() &&
         ok;
  if (!ok) return fail(CAT_PRIVILEGES);

  r.Table(CAT_TABLE_PRIVILEGES);
  const std::string select = Word(kDDTablePrivWords, kSelectPrivilege);
  for (int32_t i = 0; i < kCatalogTableCount; ++i)
    ok = r.Int(TABLE_PRIVILEGES_TABLE_ID, kCatalogTables[i].number)
             .Text(TABLE_PRIVILEGES_PRIVILEGE_TYPE, select)
             .Text(TABLE_PRIVILEGES_GRANTEE, kPublicGroup)
             .Text(TABLE_PRIVILEGES_GRANTOR, grantor)
             .Text(TABLE_PRIVILEGES_IS_GRANTABLE, no)
             .Text(TABLE_PRIVILEGES_CHAR_290, no)
             .Text(TABLE_PRIVILEGES_CHAR_294, no)
             .End() &&
         ok;
  if (!ok) return fail(CAT_TABLE_PRIVILEGES);
  return 0;
}
