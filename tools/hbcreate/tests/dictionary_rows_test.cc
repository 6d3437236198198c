// The rows the creation writes are the rows the dictionary's inserts write
// for the same values: idents, schemas, objects, privileges, table
// privileges and the id sequence, byte for byte, into catalog tables
// without any other rows.
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "dict/dictionary_services.h"
#include "dict/kind_words.h"
#include "dict/statement_functions.h"
#include "dict/tests/lookup_fixture.h"
#include "tools/hbcreate/database_rows.h"

namespace {

class CreationRowsTest : public CatalogRowsTest {
 protected:
  void SetUp() override {
    SetUpCatalog({11, 13, 14, 25, 27, 32});
    if (HasFatalFailure()) return;
    Protocol(21);
  }
};

TEST_F(CreationRowsTest, TheCreationsRowsAreTheDictionarysInserts) {
  const std::string admin = "ADMIN";
  uint8_t scrambled[kPasswordBytes];
  for (int32_t k = 0; k < kPasswordBytes; ++k) scrambled[k] = static_cast<uint8_t>(200 + k);
  std::vector<TableRows> rows;
  int32_t failed = 0;
  ASSERT_EQ(NewDatabaseRows(admin, scrambled, &rows, &failed), 0);
  const NewDatabaseIds ids = NewDatabaseIdsTaken();

  ASSERT_EQ(BegWork(), 0);
  int32_t pb[2] = {0, usr_};
  auto ok = [&](const char* what) {
    EXPECT_EQ(pb[0], 0) << what;
    pb[0] = 0;
  };
  auto text = [](const std::string& s) { return static_cast<int32_t>(s.size()); };
  DDInsIdent(base_, pb, admin.data(), text(admin), ids.admin, 3, scrambled, kPasswordBytes);
  ok("admin");
  for (const auto& [name, id] : {std::pair<std::string, int32_t>{kAdminGroup, ids.admin_group},
                                 {kPublicGroup, ids.public_group}}) {
    DDInsIdent(base_, pb, name.data(), text(name), id, 1, nullptr, 0);
    ok(name.c_str());
  }
  for (int32_t id : {CATALOG_SCHEMA_ID, ids.admin_schema}) {
    DDInsSchema(base_, pb, id);
    ok("schema");
  }
  DDInsObject(base_, pb, CATALOG_SCHEMA_ID, 15, "", 0, CATALOG_SCHEMA, 6);
  ok("SYSTEM");
  DDInsObject(base_, pb, ids.admin_schema, 15, "", 0, admin.data(), text(admin));
  ok("admin schema");
  for (const auto& [name, id] : {std::pair<std::string, int32_t>{admin, ids.admin},
                                 {kAdminGroup, ids.admin_group},
                                 {kPublicGroup, ids.public_group}}) {
    DDInsObject(base_, pb, id, 3, "", 0, name.data(), text(name));
    ok(name.c_str());
  }
  for (int32_t k = 0; k < kCatalogTableCount; ++k) {
    const CatalogTable& t = kCatalogTables[k];
    DDInsObject(base_, pb, t.number, 6, CATALOG_SCHEMA, 6, t.name,
                static_cast<int32_t>(std::strlen(t.name)));
    ok(t.name);
    DDInsTablePriv(base_, pb, t.number, 1, kPublicGroup, 6, "SYSTEM", 6, false, false);
    ok(t.name);
  }
  DDInsPrivilege(base_, pb, 4, ids.admin_group, false, admin.data(), text(admin), "SYSTEM", 6);
  ok("member");
  for (int32_t kind : {1, 2, 10, 11, 12, 13}) {
    DDInsPrivilege(base_, pb, kind, 0, true, kAdminGroup, text(kAdminGroup), "SYSTEM", 6);
    ok("system privilege");
  }
  DDInsSequence(base_, pb, CATALOG_ID_SEQUENCE, nullptr, 1, 1, 2147483647);
  ok("sequence");

  int32_t compared = 0;
  for (const TableRows& t : rows) {
    if (t.table != 11 && t.table != 13 && t.table != 14 && t.table != 25 && t.table != 27 &&
        t.table != 32)
      continue;
    for (const CatalogRecord& want : t.rows) {
      std::vector<uint8_t> got;
      ASSERT_EQ(ReadRecord(t.table, want, &got), 0) << t.table;
      std::vector<uint8_t> expected = want;
      if (t.table == 32) {
        // The creation's sequence has handed its ids out: its current
        // value and block end are the last one, a new sequence's NULL and 0.
        for (int32_t offset : {SEQUENCES_CURRENT_VALUE, SEQUENCES_BLOCK_END})
          std::memcpy(expected.data() + offset, got.data() + offset, 7);
      }
      EXPECT_EQ(got, expected) << "table " << t.table;
      ++compared;
    }
  }
  EXPECT_EQ(compared, 3 + 2 + 5 + 2 * kCatalogTableCount + 7 + 1);
  ASSERT_EQ(EndWork(1), 0);
}

}  // namespace
