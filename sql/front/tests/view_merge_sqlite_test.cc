// Queries over views, merged by the analysis and printed back as SQL over
// the base tables (every table under an alias of its own), return in
// SQLite the same rows as the original queries over SQLite's own views,
// on random rows with NULLs.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "sql/front/compile_context.h"
#include "sql/front/data_change.h"
#include "sql/front/sem_walk.h"
#include "sql/front/stmt_tree.h"
#include "sql/front/tests/semantic_fixture.h"
#include "sql/front/view_merge.h"

namespace {

struct ViewText {
  int32_t id;
  const char* name;
  const char* query;
  std::vector<TestColumn> columns;
};

const std::vector<ViewText>& Views() {
  static const std::vector<ViewText> views = {
      {5040, "VW", "SELECT a, b + 1 AS x FROM t WHERE a > 1", {{"A", 3, 10, 0}, {"X", 3, 10, 0}}},
      {5041, "VD", "SELECT DISTINCT a, d FROM s WHERE d IS NOT NULL",
       {{"A", 3, 10, 0}, {"D", 3, 10, 0}}},
      {5042, "VG", "SELECT a, COUNT(*) AS n FROM t GROUP BY a", {{"A", 3, 10, 0}, {"N", 3, 10, 0}}},
      {5044, "VJ", "SELECT u.a, u.c, s.d FROM t u JOIN s ON u.a = s.a WHERE u.b IS NULL OR u.b < s.d",
       {{"A", 3, 10, 0}, {"C", 1, 10, 0}, {"D", 3, 10, 0}}},
      {5045, "VN", "SELECT a, b, c FROM t", {{"A", 3, 10, 0}, {"B", 3, 10, 0}, {"C", 1, 10, 0}}},
      // A view of a view, merged at its own definition.
      {5046, "VV", "SELECT x, a FROM vw WHERE x > 3", {{"X", 3, 10, 0}, {"A", 3, 10, 0}}},
      {5047, "VS", "SELECT a, d * 2 AS e FROM s", {{"A", 3, 10, 0}, {"E", 3, 10, 0}}},
      // Views over a view they materialized.
      {5048, "VGA", "SELECT a, n FROM vg", {{"A", 3, 10, 0}, {"N", 3, 10, 0}}},
      {5049, "VGW", "SELECT a, n FROM vg WHERE n > 1", {{"A", 3, 10, 0}, {"N", 3, 10, 0}}},
      // A view whose condition is a LIKE with a key range.
      {5051, "VL", "SELECT a, c FROM t WHERE c LIKE 'c1%' OR c NOT LIKE 'c_'",
       {{"A", 3, 10, 0}, {"C", 1, 10, 0}}},
      // A view over a UNION (materialized wherever it is read).
      {5050, "VU", "SELECT a, b FROM t WHERE b > 2 UNION SELECT a, d FROM s",
       {{"A", 3, 10, 0}, {"B", 3, 10, 0}}},
  };
  return views;
}

// The rows of a query in SQLite, each as text, sorted.
std::vector<std::string> SqliteRows(sqlite3* db, const std::string& sql, std::string* error) {
  std::vector<std::string> rows;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    *error = sqlite3_errmsg(db);
    return rows;
  }
  while (sqlite3_step(st) == SQLITE_ROW) {
    std::string row;
    for (int i = 0; i < sqlite3_column_count(st); ++i) {
      const unsigned char* v = sqlite3_column_text(st, i);
      row += (v == nullptr ? std::string("NULL") : std::string(reinterpret_cast<const char*>(v))) + "|";
    }
    rows.push_back(row);
  }
  sqlite3_finalize(st);
  std::sort(rows.begin(), rows.end());
  return rows;
}

// Every table reference the statement reads gets an alias of its own, and
// every column bound to it that alias as its qualifier; merged views (whose
// tables stand in their place) are left out.
void AliasTables(SqlCompileCtx* ctx) {
  int32_t n = 0;
  for (int32_t c = ctx->query.table_refs; c != 0; c = WsWord(ctx, c, CELL_NEXT)) {
    int32_t ref = WsWord(ctx, c, CELL_VALUE);
    if (WsWord(ctx, ref, TRF_MERGED) == 1) continue;
    const std::string alias = "X" + std::to_string(++n);
    int32_t item = WsWord(ctx, ref, TRF_ITEM);
    if (item > 0) {
      WsWord(ctx, item, FRM_CORRELATION) =
          NamePart(ctx, nullptr, TreeTextCopy(ctx, alias.data(), static_cast<int32_t>(alias.size())), 0);
    }
    for (int32_t k = WsWord(ctx, ref, TRF_COLUMNS); k != 0; k = WsWord(ctx, k, CELL_NEXT)) {
      int32_t column = WsWord(ctx, k, CELL_VALUE);
      if (WsWord(ctx, column, EXN_KIND) != kExprColumnRef || WsWord(ctx, column, EXN_TABLE_REF) != ref) {
        continue;
      }
      const std::string name = SemColumnName(ctx, column);
      int32_t part = NamePart(ctx, nullptr, TreeTextCopy(ctx, name.data(), static_cast<int32_t>(name.size())),
                              TreeTextCopy(ctx, alias.data(), static_cast<int32_t>(alias.size())));
      WsWord(ctx, column, EXN_OPERAND1) = QualifiedNameNode(ctx, nullptr, part, 0);
    }
  }
}

class ViewMergeSqlite : public SemanticTest {
 protected:
  void SetUp() override {
    SemanticTest::SetUp();
    MakeFixtureTables();
    InstallLayingOptimizer();
    for (const ViewText& v : Views()) MakeView(v.id, v.name, v.query, v.columns);
    ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    // The analysis keeps LIKE case-sensitive; SQLite's is not by default.
    Exec("PRAGMA case_sensitive_like = ON");
    Exec("CREATE TABLE t (a INTEGER, b INTEGER, c CHAR(10))");
    Exec("CREATE TABLE s (a INTEGER, d INTEGER)");
    std::mt19937 rng(33);
    auto value = [&](int range) {
      int v = static_cast<int>(rng() % static_cast<unsigned>(range + 1));
      return v == range ? std::string("NULL") : std::to_string(v);
    };
    for (int i = 0; i < 40; ++i) {
      std::string c = rng() % 5 == 0 ? "NULL" : "'c" + std::to_string(rng() % 4) + "'";
      Exec("INSERT INTO t VALUES (" + value(6) + ", " + value(6) + ", " + c + ")");
    }
    for (int i = 0; i < 25; ++i) Exec("INSERT INTO s VALUES (" + value(6) + ", " + value(6) + ")");
    for (const ViewText& v : Views()) Exec(std::string("CREATE VIEW ") + v.name + " AS " + v.query);
  }
  void TearDown() override {
    if (db_ != nullptr) sqlite3_close(db_);
    SqlInstallOptimizerServices(nullptr);
    SemanticTest::TearDown();
  }
  void Exec(const std::string& sql) {
    char* error = nullptr;
    ASSERT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << sql << ": " << (error != nullptr ? error : "");
  }
  // The statement, analysed and printed over the base tables, returns in
  // SQLite the rows SQLite's own `original` returns over its views.
  void ExpectSqliteRows(const char* sql, const char* original) {
    std::string printed;
    inspect = [&](SqlCompileCtx* ctx, int32_t root) {
      AliasTables(ctx);
      printed = SqlPrintStatementForSqlite(ctx, root);
    };
    Compiled c = Compile(sql);
    inspect = nullptr;
    EXPECT_TRUE(c.conditions.empty()) << sql << ": " << CodesText(c.Codes());
    std::string error;
    std::vector<std::string> want = SqliteRows(db_, original, &error);
    ASSERT_TRUE(error.empty()) << original << ": " << error;
    std::vector<std::string> got = SqliteRows(db_, printed, &error);
    EXPECT_TRUE(error.empty()) << printed << ": " << error;
    EXPECT_EQ(got, want) << sql << "\n  printed: " << printed;
    EXPECT_FALSE(want.empty()) << sql;
  }
  sqlite3* db_ = nullptr;
};

TEST_F(ViewMergeSqlite, MergedQueriesReturnTheViewsRows) {
  const char* queries[] = {
      "SELECT * FROM vw",
      "SELECT x FROM vw WHERE a < 5",
      "SELECT x, a FROM vw WHERE x IS NULL OR x > 4",
      "SELECT * FROM vd",
      "SELECT d, a FROM vd",
      "SELECT a FROM vd",
      "SELECT * FROM vd WHERE a > 2",
      "SELECT a, n FROM vg",
      "SELECT * FROM vj",
      "SELECT a, d FROM vj WHERE d > 2",
      "SELECT vn.a, vw.x FROM vn, vw WHERE vn.b = vw.x",
      "SELECT v.a, t.c FROM vw v, t WHERE v.x = t.b",
      "SELECT a, COUNT(*) FROM vn GROUP BY a",
      "SELECT a, COUNT(*), MAX(b) FROM vn WHERE c IS NOT NULL GROUP BY a HAVING COUNT(*) > 1",
      "SELECT x, COUNT(*) FROM vw GROUP BY x",
      "SELECT * FROM t WHERE EXISTS (SELECT * FROM vw WHERE vw.a = t.a)",
      "SELECT * FROM vn WHERE NOT EXISTS (SELECT * FROM vs WHERE vs.e = vn.b)",
      "SELECT e + 1, a FROM vs WHERE e BETWEEN 2 AND 8",
      "SELECT * FROM vv",
      "SELECT a FROM vv WHERE x < 7",
      "SELECT vv.a, vs.e FROM vv, vs WHERE vv.a = vs.a",
      "SELECT * FROM s LEFT JOIN vw ON vw.a = s.a",
      "SELECT DISTINCT a FROM vn WHERE b > 1",
      "SELECT a, x FROM vw WHERE a IN (1, 3, 5)",
      "SELECT vj.c, vs.e FROM vj JOIN vs ON vj.a = vs.a",
      "SELECT * FROM vga",
      "SELECT a FROM vgw WHERE a > 1",
      "SELECT vga.n, vn.b FROM vga, vn WHERE vga.a = vn.a",
      // One view read twice, and beside its own view.
      "SELECT p.a, q.x FROM vw p, vw q WHERE p.a = q.a AND p.x < q.x",
      "SELECT vv.x, vw.x FROM vv, vw WHERE vv.a = vw.a",
      "SELECT a, x FROM vw WHERE EXISTS (SELECT * FROM vd WHERE vd.a = vw.a AND vd.d > vw.x)",
      // A DISTINCT view inside a join stands beside another table.
      "SELECT * FROM vd JOIN s ON vd.a = s.a",
      "SELECT vd.d, s.d FROM s JOIN vd ON vd.a = s.a",
      // Set functions over merged and materialized views, views in
      // subqueries, a view read twice under DISTINCT.
      "SELECT COUNT(*) FROM vw",
      "SELECT SUM(x), MIN(a) FROM vw",
      "SELECT COUNT(*) FROM vd",
      "SELECT COUNT(a) FROM vd",
      "SELECT MAX(n) FROM vg",
      "SELECT a FROM vg WHERE n > 1",
      "SELECT * FROM vw WHERE a = (SELECT MAX(a) FROM vw)",
      "SELECT * FROM t WHERE EXISTS (SELECT * FROM vd WHERE vd.d = t.b)",
      "SELECT * FROM t WHERE EXISTS (SELECT a FROM vg WHERE vg.n > t.a)",
      "SELECT e, COUNT(*) FROM vs GROUP BY e",
      "SELECT a, SUM(e) FROM vs GROUP BY a HAVING SUM(e) > 3",
      "SELECT DISTINCT x FROM vw",
      "SELECT DISTINCT d FROM vd",
      "SELECT a, d FROM vd WHERE d > 1 AND a < 5",
      "SELECT vn.a FROM vn LEFT JOIN vd ON vd.a = vn.a WHERE vd.d IS NULL",
      "SELECT * FROM vj, vs WHERE vj.a = vs.a AND vs.e > 2",
      "SELECT a, n FROM vga WHERE n > 1",
      "SELECT COUNT(*) FROM vga",
      "SELECT x FROM vw WHERE x BETWEEN 2 AND 5 AND a IS NOT NULL",
      "SELECT p.a, q.a FROM vd p, vd q WHERE p.d = q.d",
  };
  for (const char* sql : queries) ExpectSqliteRows(sql, sql);
}

// Quantified comparisons, LIKE key ranges and set operations, which the
// printer spells for SQLite in a form of its own.
TEST_F(ViewMergeSqlite, QuantifiersKeyRangesAndUnionsReturnTheViewsRows) {
  const char* queries[] = {
      "SELECT * FROM vw WHERE a IN (SELECT a FROM vd)",
      "SELECT * FROM vn WHERE b NOT IN (SELECT e FROM vs WHERE e IS NOT NULL)",
      "SELECT a FROM vj WHERE d IN (SELECT n FROM vg) OR c IS NULL",
      "SELECT * FROM t WHERE a IN (SELECT a FROM vw WHERE x > 3)",
      "SELECT * FROM vn WHERE c LIKE 'c1%'",
      "SELECT a, c FROM vj WHERE c NOT LIKE 'c2%'",
      "SELECT * FROM vn WHERE c LIKE 'c%' AND b > 2",
      "SELECT * FROM vn WHERE c LIKE 'c_' OR c LIKE '%3'",
      "SELECT a, b FROM vn WHERE NOT (c LIKE 'c0%' OR a > 3)",
      "SELECT a FROM vw UNION SELECT a FROM vd",
      "SELECT a, x FROM vw UNION ALL SELECT a, n FROM vg",
      "SELECT a FROM vn UNION SELECT a FROM vs UNION ALL SELECT a FROM vd",
      "SELECT a FROM vw WHERE a IN (SELECT a FROM vd UNION SELECT a FROM vg)",
      "SELECT * FROM vu",
      "SELECT a FROM vu WHERE b > 3",
      "SELECT vu.a, vw.x FROM vu, vw WHERE vu.a = vw.a",
      "SELECT a FROM vn WHERE c LIKE 'c3%' UNION SELECT a FROM vs WHERE a IN (SELECT a FROM vd)",
      "SELECT * FROM vl",
      "SELECT vl.c, vn.b FROM vl, vn WHERE vl.a = vn.a AND vn.c LIKE 'c%'",
      "SELECT a FROM vl WHERE a IN (SELECT a FROM vl WHERE c LIKE 'c1%')",
  };
  for (const char* sql : queries) ExpectSqliteRows(sql, sql);
  // = ANY and <> ALL, which SQLite spells IN and NOT IN; a set operation on
  // the right of another, which SQLite spells with a subquery.
  ExpectSqliteRows("SELECT a, x FROM vw WHERE a = ANY (SELECT a FROM vd WHERE d > 2)",
                   "SELECT a, x FROM vw WHERE a IN (SELECT a FROM vd WHERE d > 2)");
  ExpectSqliteRows("SELECT a, b FROM vn WHERE b <> ALL (SELECT x FROM vw WHERE x IS NOT NULL)",
                   "SELECT a, b FROM vn WHERE b NOT IN (SELECT x FROM vw WHERE x IS NOT NULL)");
  ExpectSqliteRows("SELECT * FROM vs WHERE NOT e = ANY (SELECT n FROM vg)",
                   "SELECT * FROM vs WHERE NOT e IN (SELECT n FROM vg)");
  ExpectSqliteRows("SELECT a FROM vw UNION ALL (SELECT a FROM vd UNION SELECT a FROM vg)",
                   "SELECT a FROM vw UNION ALL SELECT * FROM (SELECT a FROM vd UNION SELECT a FROM vg)");
}

// A searched DELETE or UPDATE through a view with a subquery in its
// condition keeps the view reference and runs the view's query first: that
// query, printed over the base tables, read under the statement's own
// condition, gives in SQLite the rows the condition picks from SQLite's
// own view (the rows the change reaches).
TEST_F(ViewMergeSqlite, ChangesThroughAKeptViewReachTheViewsRows) {
  GrantChanges(5040, {"A", "X"});
  GrantChanges(5045, {"A", "B", "C"});
  GrantChanges(5046, {"X", "A"});
  struct Case {
    const char* sql;
    const char* view;       // the target view
    const char* condition;  // its condition, as SQLite reads it over the view
  } cases[] = {
      {"DELETE FROM vw WHERE a IN (SELECT a FROM s)", "vw", "a IN (SELECT a FROM s)"},
      {"DELETE FROM vw WHERE x > (SELECT MIN(d) FROM s)", "vw", "x > (SELECT MIN(d) FROM s)"},
      {"UPDATE vv SET a = 1 WHERE a IN (SELECT a FROM vd)", "vv", "a IN (SELECT a FROM vd)"},
      {"DELETE FROM vn WHERE EXISTS (SELECT * FROM vs WHERE vs.e = vn.b)", "vn",
       "EXISTS (SELECT * FROM vs WHERE vs.e = vn.b)"},
      {"UPDATE vw SET a = 0 WHERE NOT EXISTS (SELECT * FROM vg WHERE vg.a = vw.a AND vg.n > 6)", "vw",
       "NOT EXISTS (SELECT * FROM vg WHERE vg.a = vw.a AND vg.n > 6)"},
      {"DELETE FROM vn WHERE c LIKE 'c1%' AND b <> ALL (SELECT x FROM vw WHERE x IS NOT NULL)", "vn",
       "c LIKE 'c1%' AND b NOT IN (SELECT x FROM vw WHERE x IS NOT NULL)"},
  };
  for (const Case& k : cases) {
    std::string rows = "<not analysed>";
    inspect = [&](SqlCompileCtx* ctx, int32_t root) {
      int32_t top = WsWord(ctx, root, STN_ROOT_TOP);
      int32_t view = WsWord(ctx, top, DCH_FIRST_QUERY);
      if (view == 0 || WsWord(ctx, view, QSP_NEXT) != 0) {
        rows = "<not one view query chained>";
        return;
      }
      AliasTables(ctx);
      // The target's alias names the rows of the view's query (DELETE and
      // UPDATE keep their target in the same word).
      int32_t target = WsWord(ctx, WsWord(ctx, top, DLT_TARGET), FRM_BOUND);
      int32_t alias = WsWord(ctx, WsWord(ctx, target, TRF_ITEM), FRM_CORRELATION);
      std::string name = SemText(ctx, WsWord(ctx, alias, 2));
      std::string printed = SqlPrintStatementForSqlite(ctx, top);
      size_t where = printed.find(" WHERE ");
      rows = "SELECT * FROM (" + SqlPrintStatementForSqlite(ctx, view) + ") AS " + name +
             printed.substr(where);
    };
    Compiled c = Compile(k.sql);
    inspect = nullptr;
    EXPECT_TRUE(c.conditions.empty()) << k.sql << ": " << CodesText(c.Codes());
    std::string error;
    std::vector<std::string> want =
        SqliteRows(db_, std::string("SELECT * FROM ") + k.view + " WHERE " + k.condition, &error);
    ASSERT_TRUE(error.empty()) << k.sql << ": " << error;
    std::vector<std::string> got = SqliteRows(db_, rows, &error);
    EXPECT_TRUE(error.empty()) << rows << ": " << error;
    EXPECT_EQ(got, want) << k.sql << "\n  read: " << rows;
    EXPECT_FALSE(want.empty()) << k.sql;
  }
}

}  // namespace
