// The rules of query blocks over whole statements: DISTINCT, set functions
// and grouping, GROUP BY, subquery select lists, set operations, ORDER BY.
#include <gtest/gtest.h>

#include <string>

#include "sql/front/stmt_tree.h"
#include "sql/front/tests/semantic_fixture.h"

namespace {

class SemanticQueryRules : public SemanticTest {
 protected:
  void SetUp() override {
    SemanticTest::SetUp();
    if (HasFatalFailure()) return;
    MakeFixtureTables();
  }
};

using Codes = std::vector<int32_t>;

// The grammar's parse, after which the first GROUP BY item of the query
// becomes the literal 1 (the grammar takes only columns there; a view's
// column standing for an expression reaches the rule so).
void (*g_parse)(SqlCompileCtx*) = nullptr;
void ParseWithLiteralGroup(SqlCompileCtx* ctx) {
  g_parse(ctx);
  int32_t root = ctx->parse_root;
  if (root <= 0) return;
  int32_t query = WsWord(ctx, WsWord(ctx, root, STN_ROOT_TOP), QST_QUERY);
  int32_t list = WsWord(ctx, query, QSP_GROUP_BY);
  int32_t item = WsWord(ctx, list, CELL_VALUE);
  WsWord(ctx, list, CELL_VALUE) =
      ExprLiteral(ctx, &WsWord(ctx, item, EXN_LINE), 1, TreeCountedCopy(ctx, "1", 1), 0);
}

TEST_F(SemanticQueryRules, CodesOfTheRules) {
  struct Case {
    const char* sql;
    Codes codes;
  } cases[] = {
      // DISTINCT once per SELECT block.
      {"SELECT DISTINCT COUNT(DISTINCT a) FROM t", {-12207}},
      {"SELECT COUNT(DISTINCT a), SUM(DISTINCT b) FROM t", {-12207}},
      {"SELECT DISTINCT a FROM t WHERE a IN (SELECT COUNT(DISTINCT d) FROM s)", {}},
      {"SELECT COUNT(DISTINCT a) FROM t", {}},
      // Set functions and columns need grouping.
      {"SELECT a, COUNT(*) FROM t", {-12221}},
      {"SELECT a, COUNT(*) FROM t GROUP BY a", {}},
      {"SELECT COUNT(*), MAX(a) FROM t", {}},
      {"SELECT a FROM t GROUP BY a HAVING COUNT(*) > 1", {}},
      {"SELECT a, COUNT(*) FROM t GROUP BY b", {-12205}},
      {"SELECT a + 1, SUM(b) FROM t", {-12221}},
      {"SELECT b, SUM(a) + 1 FROM t GROUP BY b", {}},
      // GROUP BY items.
      {"SELECT a FROM t GROUP BY a, a", {-12271}},
      {"SELECT a FROM t GROUP BY a, t.a", {-12271}},
      {"SELECT g FROM r GROUP BY g", {-12643}},
      // A comparison subquery gives one column; EXISTS takes any.
      {"SELECT a FROM t WHERE a = (SELECT * FROM s)", {-12208}},
      {"SELECT a FROM t WHERE a IN (SELECT a, d FROM s)", {-12208}},
      {"SELECT a FROM t WHERE EXISTS (SELECT * FROM s)", {}},
      {"SELECT a FROM t WHERE EXISTS (SELECT a, d FROM s WHERE d = 1)", {}},
      // Set operations.
      {"SELECT a FROM t UNION SELECT a, d FROM s", {-12244}},
      {"SELECT NULL FROM t UNION SELECT NULL FROM s", {-12243}},
      {"SELECT NULL FROM t UNION SELECT a FROM s", {}},
      {"SELECT a, b FROM t UNION ALL SELECT a, d FROM s UNION SELECT e, f FROM r", {}},
      {"SELECT a FROM t WHERE a IN (SELECT a FROM s UNION SELECT e FROM r)", {}},
      // A bare NULL item outside a set operation.
      {"SELECT NULL FROM t", {-12239}},
      // ORDER BY.
      {"SELECT a, b FROM t ORDER BY 3", {-12224}},
      {"SELECT a, b FROM t ORDER BY 0", {-12224}},
      {"SELECT a, b FROM t ORDER BY 1, 1", {-12225}},
      {"SELECT a, b FROM t ORDER BY a, 1", {-12225}},
      {"SELECT a, b FROM t ORDER BY nosuch", {-12223}},
      {"SELECT a, b FROM t ORDER BY c", {-12223}},
      {"SELECT a AS x, b AS x FROM t ORDER BY x", {-12236}},
      {"SELECT a FROM t UNION SELECT a FROM s ORDER BY a", {}},
      {"SELECT a FROM t UNION SELECT a FROM s ORDER BY 2", {-12224}},
      {"SELECT g FROM r ORDER BY 1", {-12643}},
      {"SELECT c FROM t ORDER BY c COLLATE nosuch", {-12632}},
      // DISTINCT over a large object.
      {"SELECT DISTINCT g FROM r", {-12643}},
  };
  for (const Case& k : cases) {
    Compiled c = Compile(k.sql);
    EXPECT_EQ(c.Codes(), k.codes) << k.sql << ": " << CodesText(c.Codes());
    EXPECT_TRUE(c.analysed) << k.sql;
    EXPECT_EQ(c.depth_after, 0) << k.sql;
  }
}

TEST_F(SemanticQueryRules, OrderByMatchesItems) {
  Compiled as = Compile("SELECT a AS x, b FROM t ORDER BY x DESC, 2");
  EXPECT_TRUE(as.conditions.empty()) << CodesText(as.Codes());
  EXPECT_EQ(as.sort_positions, (std::vector<int32_t>{1, 2}));
  Compiled column = Compile("SELECT b, a FROM t ORDER BY t.a, b");
  EXPECT_TRUE(column.conditions.empty()) << CodesText(column.Codes());
  EXPECT_EQ(column.sort_positions, (std::vector<int32_t>{2, 1}));
  Compiled twice = Compile("SELECT a AS x, b AS x FROM t ORDER BY x");
  EXPECT_EQ(twice.TextOf(-12236), "E\tX");
  Compiled collation = Compile("SELECT c FROM t ORDER BY c COLLATE adam.nosuch");
  EXPECT_EQ(collation.TextOf(-12632), "O\tADAM.NOSUCH");
}

TEST_F(SemanticQueryRules, GroupByItemThatIsNoColumn) {
  SqlPhaseServices phases = SqlPhases();
  g_parse = phases.parse;
  phases.parse = ParseWithLiteralGroup;
  SqlInstallPhaseServices(&phases);
  EXPECT_EQ(Compile("SELECT COUNT(*) FROM t GROUP BY a").Codes(), Codes{-12220});
  phases.parse = g_parse;
  SqlInstallPhaseServices(&phases);
}

// The result columns of a set operation take the operands' common types.
TEST_F(SemanticQueryRules, SetOperationResultColumns) {
  Compiled numeric = Compile("SELECT a, c FROM t UNION SELECT f, i FROM r, q");
  EXPECT_TRUE(numeric.conditions.empty()) << CodesText(numeric.Codes());
  EXPECT_EQ(numeric.result_types, (std::vector<std::string>{"3(12,2)", "8(30,0)"}));
  // A CHAR item under an NCHAR column is converted; an NCHAR item makes a
  // CHAR column national.
  Compiled national = Compile("SELECT h FROM q UNION SELECT c FROM t");
  EXPECT_TRUE(national.conditions.empty()) << CodesText(national.Codes());
  EXPECT_EQ(national.result_types, std::vector<std::string>{"34(10,0)"});
  EXPECT_EQ(national.printed, "(SELECT H FROM Q UNION SELECT CAST(C AS T) FROM T)");
  Compiled widened = Compile("SELECT c FROM t UNION SELECT h FROM q");
  EXPECT_EQ(widened.result_types, std::vector<std::string>{"34(10,0)"});
  // A NULL takes the type of a later operand.
  EXPECT_EQ(Compile("SELECT NULL FROM t UNION SELECT a FROM s").result_types,
            std::vector<std::string>{"1(10,0)"});
  // Types that cannot be combined are reported once.
  Compiled mixed = Compile("SELECT a FROM t UNION SELECT c FROM t UNION SELECT d FROM s");
  EXPECT_EQ(mixed.Codes(), std::vector<int32_t>{-12242});
}

// The MIN/MAX mark of a table reference, and how many MAX/MIN items over
// its columns it lists, as the select list's set functions leave them.
TEST_F(SemanticQueryRules, MinMaxMarks) {
  std::vector<std::string> marks;
  inspect = [&](SqlCompileCtx* ctx, int32_t) {
    marks.clear();
    for (int32_t c = ctx->query.table_refs; c != 0; c = WsWord(ctx, c, CELL_NEXT)) {
      int32_t ref = WsWord(ctx, c, CELL_VALUE);
      marks.push_back(std::to_string(WsWord(ctx, ref, TRF_MINMAX)) + "/" +
                      std::to_string(qqllen(ctx, WsWord(ctx, ref, TRF_MINMAX_LIST))));
    }
  };
  struct Case {
    const char* sql;
    std::vector<std::string> marks;
  } cases[] = {
      {"SELECT MAX(a), MIN(b) + 1 FROM t", {"1/2"}},
      {"SELECT MAX(a), COUNT(*) FROM t", {"0/1"}},
      {"SELECT MAX(t.a), SUM(s.d) FROM t, s", {"1/1", "0/0"}},
      {"SELECT MAX(t.a + s.a) FROM t, s", {"0/0", "0/0"}},
      {"SELECT MAX(a) FROM t GROUP BY b", {"0/0"}},
      {"SELECT MAX(a + 1) FROM t", {"1/0"}},
  };
  for (const Case& k : cases) {
    Compiled c = Compile(k.sql);
    EXPECT_TRUE(c.conditions.empty()) << k.sql << ": " << CodesText(c.Codes());
    EXPECT_EQ(marks, k.marks) << k.sql;
  }
}

TEST_F(SemanticQueryRules, StarsExpandInFromOrder) {
  Compiled c = Compile("SELECT s.*, t.*, s.a FROM t, s");
  EXPECT_TRUE(c.conditions.empty()) << CodesText(c.Codes());
  EXPECT_EQ(c.items, (std::vector<std::string>{"S.A AS A", "S.D AS D", "T.A AS A", "T.B AS B",
                                               "T.C AS C", "S.A AS A"}));
  Compiled all = Compile("SELECT * FROM t, s WHERE t.a = s.a");
  EXPECT_TRUE(all.conditions.empty()) << CodesText(all.Codes());
  EXPECT_EQ(all.items, (std::vector<std::string>{"T.A AS A", "T.B AS B", "T.C AS C", "S.A AS A",
                                                 "S.D AS D"}));
  EXPECT_EQ(all.kind, 1);
  // A star over one table keeps the query simple.
  EXPECT_EQ(Compile("SELECT * FROM t").kind, 2);
}

}  // namespace
