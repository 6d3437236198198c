// The test schema's DDL: SQLite takes it and describes each table as the
// model does; the checked-in PostgreSQL script is what the description
// generates.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <sstream>
#include <string>

#include "sql/front/tests/fixture_schema.h"

namespace {

using fixture::Schema;

// SQLite takes the schema's DDL and describes each table as the model does.
TEST(FixtureSchemaDdl, SqliteDescribesTheModel) {
  const Schema& s = fixture::TestSchema();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, fixture::SqliteDdl(s).c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db);
  for (const auto& [name, t] : s.tables) {
    sqlite3_stmt* stmt = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, ("PRAGMA table_info(" + name + ")").c_str(), -1, &stmt,
                                 nullptr),
              SQLITE_OK);
    size_t i = 0;
    for (; sqlite3_step(stmt) == SQLITE_ROW; ++i) {
      ASSERT_LT(i, t.columns.size()) << name;
      const fixture::Column& c = t.columns[i];
      EXPECT_EQ(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1)), c.name);
      if (t.IsView()) continue;
      const fixture::Domain* d = s.DomainOf(c);
      EXPECT_EQ(sqlite3_column_int(stmt, 3), c.not_null || (d && d->not_null) ? 1 : 0) << c.name;
      int32_t pk = 0;
      for (const fixture::Key& k : t.keys)
        if (k.kind == fixture::kPrimaryKey)
          for (size_t p = 0; p < k.parts.size(); ++p)
            if (k.parts[p].column == c.name) pk = static_cast<int32_t>(p) + 1;
      EXPECT_EQ(sqlite3_column_int(stmt, 5), pk) << c.name;
      const unsigned char* def = sqlite3_column_text(stmt, 4);
      const std::string expected = !c.default_text.empty() ? c.default_text : d ? d->default_text : "";
      EXPECT_EQ(def == nullptr ? "" : std::string(reinterpret_cast<const char*>(def)),
                expected.rfind("CURRENT_TIMESTAMP", 0) == 0 ? "CURRENT_TIMESTAMP" : expected)
          << c.name;
    }
    sqlite3_finalize(stmt);
    EXPECT_EQ(i, t.columns.size()) << name;
    for (const fixture::Key& k : t.keys) {
      if (k.kind == fixture::kPrimaryKey) continue;
      for (size_t p = 0; p < k.parts.size(); ++p)
        EXPECT_EQ(fixture::SqliteScalar(db, "SELECT desc FROM pragma_index_xinfo('" + k.name + "') WHERE seqno = " +
                                 std::to_string(p)),
                  k.parts[p].descending ? 1 : 0)
            << k.name;
    }
  }
  sqlite3_close(db);
}

// The checked-in PostgreSQL script is what the description generates.
TEST(FixtureSchemaDdl, PostgresScriptIsCurrent) {
  const std::string generated = fixture::PostgresDdl(fixture::TestSchema());
  std::ifstream in(HARBOUND_TEST_DATA "/fixture_schema_pg.sql");
  std::stringstream stored;
  stored << in.rdbuf();
  if (stored.str() != generated) {
    std::ofstream(HB_GENERATED_DIR "/fixture_schema_pg.sql") << generated;
    FAIL() << "tests/data/fixture_schema_pg.sql differs from the description; the generated "
              "script is in " HB_GENERATED_DIR "/fixture_schema_pg.sql";
  }
}

}  // namespace
