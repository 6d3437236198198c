// Random conditions over nullable columns (NOT, AND, OR, BETWEEN, IN, IS
// NULL, arithmetic, CASE, NULLIF, COALESCE) are parsed and their trees printed
// back as SQL; SQLite, over a table holding every combination of NULL and
// small values, finds no row where the written and the printed condition
// differ. (No NULL literal is a comparison operand: the tree of "x = NULL" is
// that of "x IS NULL".)
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

#include "sql/front/tests/sql_grammar_support.h"

namespace {

int64_t Count(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << sqlite3_errmsg(db) << "\n" << sql;
    return -1;
  }
  int64_t n = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
  sqlite3_finalize(st);
  return n;
}

TEST(SqlGrammarSqlite, PrintedConditionsAgreeOnEveryRow) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  std::string setup = "CREATE TABLE t(a INTEGER, b INTEGER, c INTEGER);";
  const char* values[] = {"NULL", "0", "1", "2", "3"};
  for (const char* a : values) {
    for (const char* b : values) {
      for (const char* c : values) {
        setup += std::string("INSERT INTO t VALUES(") + a + "," + b + "," + c + ");";
      }
    }
  }
  ASSERT_EQ(sqlite3_exec(db, setup.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  SqlConditionGenerator g(20261210);
  const std::string prefix = "SELECT A FROM T WHERE ";
  for (int i = 0; i < 400; ++i) {
    std::string condition = g.Condition(4);
    ParsedStatement p = ParseSql("SELECT a FROM t WHERE " + condition);
    ASSERT_TRUE(p.conditions.empty()) << condition << " -> " << p.conditions[0].code;
    ASSERT_EQ(p.printed.compare(0, prefix.size(), prefix), 0) << p.printed;
    std::string printed = p.printed.substr(prefix.size());
    std::string sql = "SELECT count(*) FROM t WHERE (" + condition + ") IS NOT (" + printed + ")";
    EXPECT_EQ(Count(db, sql), 0) << condition << "\nprinted: " << printed;
  }
  sqlite3_close(db);
}

}  // namespace
