// Random conditions over nullable columns (NOT, AND, OR, BETWEEN, IN, IS
// NULL, arithmetic, CASE, NULLIF, COALESCE) are parsed and their trees printed
// back as SQL; SQLite, over a table holding every combination of NULL and
// small values, finds no row where the written and the printed condition
// differ. (No NULL literal is a comparison operand: the tree of "x = NULL" is
// that of "x IS NULL".)
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <random>
#include <string>

#include "sql/front/tests/sql_grammar_support.h"

namespace {

class Generator {
 public:
  explicit Generator(uint32_t seed) : rng_(seed) {}

  std::string Condition(int depth) {
    int pick = depth <= 0 ? Pick(5) : Pick(9);
    switch (pick) {
      case 0:
        return Value(depth - 1) + " " + Comparison() + " " + Value(depth - 1);
      case 1:
        return Value(depth - 1) + " IS " + (Pick(2) ? "NOT " : "") + "NULL";
      case 2:
        return Value(depth - 1) + (Pick(2) ? " NOT" : "") + " BETWEEN " + Value(depth - 1) +
               " AND " + Value(depth - 1);
      case 3: {
        std::string list = Value(depth - 1);
        for (int n = Pick(3); n >= 0; --n) list += ", " + Value(depth - 1);
        return Value(depth - 1) + (Pick(2) ? " NOT" : "") + " IN (" + list + ")";
      }
      case 4:
        return Column() + " = " + Small();
      case 5:
        return "NOT " + Condition(depth - 1);
      case 6:
        return Condition(depth - 1) + " AND " + Condition(depth - 1);
      case 7:
        return Condition(depth - 1) + " OR " + Condition(depth - 1);
      default:
        return "(" + Condition(depth - 1) + ")";
    }
  }

  std::string Value(int depth) {
    int pick = depth <= 0 ? Pick(3) : Pick(11);
    switch (pick) {
      case 0:
        return Column();
      case 1:
        return Small();
      case 2:
        return "- " + Small();
      case 3:
        return Value(depth - 1) + (Pick(2) ? " + " : " - ") + Value(depth - 1);
      case 4:
        return Value(depth - 1) + " * " + Value(depth - 1);
      case 5:
        return "- " + Value(depth - 1);
      case 6:
        return "CASE WHEN " + Condition(depth - 1) + " THEN " +
               (Pick(4) == 0 ? std::string("NULL") : Value(depth - 1)) +
               (Pick(2) ? " ELSE " + Value(depth - 1) : std::string()) + " END";
      case 7:
        return "CASE " + Value(depth - 1) + " WHEN " + Value(depth - 1) + " THEN " +
               Value(depth - 1) + " ELSE " + Value(depth - 1) + " END";
      case 8:
        return "NULLIF(" + Value(depth - 1) + ", " + Value(depth - 1) + ")";
      case 9:
        return "COALESCE(" + Value(depth - 1) + ", " + Value(depth - 1) +
               (Pick(2) ? ", " + Value(depth - 1) : std::string()) + ")";
      default:
        return "(" + Value(depth - 1) + ")";
    }
  }

 private:
  int Pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }
  std::string Column() { return std::string(1, static_cast<char>('a' + Pick(3))); }
  // No NULL literal as an operand: the tree of "x = NULL" is that of
  // "x IS NULL" (a comparison with the null node), so NULL stands only as a
  // CASE result.
  std::string Small() { return std::to_string(Pick(4)); }
  std::string Comparison() {
    static const char* const kOps[] = {"=", "<>", "<", ">", "<=", ">="};
    return kOps[Pick(6)];
  }
  std::mt19937 rng_;
};

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
  Generator g(20261210);
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
