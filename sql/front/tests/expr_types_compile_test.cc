// Expression typing inside whole compilations: statements compiled in mode
// 5 (stop after analysis) over tables in the dictionary, the semantic walk
// handing every expression to the type checker.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "sql/front/expr_types.h"
#include "sql/front/tests/semantic_fixture.h"
#include "sql/front/tests/sql_grammar_support.h"

namespace {

struct Seen {
  int32_t code = 0, length = 0, scale = 0, cls = -1;
  int32_t left_kind = -1;
  int32_t domain = 0;
  struct Host {
    int32_t code, length, scale, nullable;
  };
  std::vector<Host> hosts;
};

Seen* g_seen = nullptr;

class ExprTypesCompile : public SemanticTest {
 protected:
  void SetUp() override {
    SemanticTest::SetUp();
    if (HasFatalFailure()) return;
    MakeFixtureTables();
    // Dictionary types: 2 NUMERIC, 5 VARCHAR, 12 DATE, 14 TIMESTAMP, 18
    // INTERVAL HOUR.
    MakeTable(5006, "TY",
              {{"PRICE", 2, 10, 2}, {"N30", 2, 30, 0}, {"N2019", 2, 20, 19}, {"N3010", 2, 30, 10},
               {"N402", 2, 40, 2}, {"V6000", 5, 6000, 0}, {"D", 12, 8, 0}, {"TS3", 14, 17, 3},
               {"H", 18, 2, 0}});
    inspect = [](SqlCompileCtx* ctx, int32_t root) {
      if (g_seen == nullptr) return;
      for (int32_t c = ctx->parameter_list; c != 0; c = WsWord(ctx, c, CELL_NEXT)) {
        int32_t h = WsWord(ctx, c, CELL_VALUE);
        int32_t t = WsWord(ctx, h, EXN_TYPE);
        g_seen->hosts.push_back({t != 0 ? WsWord(ctx, t, 0) : 0, t != 0 ? WsWord(ctx, t, 1) : 0,
                                 t != 0 ? WsWord(ctx, t, 2) : 0, WsWord(ctx, h, EXN_NULLABLE)});
      }
      int32_t top = WsWord(ctx, root, STN_ROOT_TOP);
      if (top <= 0 || WsWord(ctx, top, STN_KIND) != 21) return;
      int32_t query = WsWord(ctx, top, QST_QUERY);
      if (query <= 0 || WsWord(ctx, query, STN_KIND) != 28) return;
      int32_t item = WsWord(ctx, WsWord(ctx, query, QSP_SELECT), CELL_VALUE);
      if (WsWord(ctx, item, SLI_FORM) != 2) return;
      int32_t value = WsWord(ctx, WsWord(ctx, item, SLI_VALUE), EXN_OPERAND1);
      int32_t t = WsWord(ctx, value, EXN_TYPE);
      if (t != 0) {
        g_seen->code = WsWord(ctx, t, 0);
        g_seen->length = WsWord(ctx, t, 1);
        g_seen->scale = WsWord(ctx, t, 2);
      }
      g_seen->cls = WsWord(ctx, value, EXN_TYPE_CLASS);
      g_seen->domain = WsWord(ctx, value, EXN_DOMAIN);
      int32_t left = WsWord(ctx, value, EXN_OPERAND1);
      if (WsWord(ctx, value, EXN_KIND) == 5 && left > 0) {
        g_seen->left_kind = WsWord(ctx, left, EXN_KIND);
      }
    };
  }

  Seen Run(const std::string& sql, Compiled* compiled, int32_t mode = 5) {
    Seen seen;
    g_seen = &seen;
    *compiled = Compile(sql, mode);
    g_seen = nullptr;
    return seen;
  }
};

TEST_F(ExprTypesCompile, TypesOfTheSelectList) {
  struct Case {
    const char* item;
    int32_t code, length, scale;
  };
  const Case cases[] = {
      {"1 + 1.5", 3, 3, 1},           {"1 / 1", 1, 1, 0},
      {"n3010 * n3010", 3, 45, 20},   {"CAST(1.5 AS VARCHAR(*))", 8, 4, -1},
      {"EXTRACT(SECOND FROM ts3)", 3, 5, 3},
      {"SUM(n402)", 3, 45, 2},        {"AVG(price)", 3, 20, 12},
      {"'a' || N'b'", 34, 2, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.item);
    Compiled compiled;
    Seen s = Run(std::string("SELECT ") + c.item + " FROM ty", &compiled);
    EXPECT_TRUE(compiled.conditions.empty()) << CodesText(compiled.Codes());
    EXPECT_EQ(s.code, c.code);
    EXPECT_EQ(s.length, c.length);
    EXPECT_EQ(s.scale, c.scale);
  }
  Compiled compiled;
  EXPECT_EQ(Run("SELECT 'a' || N'b' FROM ty", &compiled).left_kind, kExprCast);
}

TEST_F(ExprTypesCompile, TypeErrors) {
  struct Case {
    const char* sql;
    int32_t code;
  };
  const Case cases[] = {
      {"SELECT n30 / n2019 FROM ty", -12266},
      {"SELECT v6000 || N'b' FROM ty", -12215},
      {"SELECT d + h FROM ty", -12216},
      {"SELECT EXTRACT(HOUR FROM d) FROM ty", -12278},
      {"SELECT CASE WHEN price > 1 THEN NULL ELSE NULL END FROM ty", -12275},
      {"SELECT a FROM t WHERE c = a", -12216},
      {"SELECT SUM(c) FROM t", -12214},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    Compiled compiled;
    Run(c.sql, &compiled);
    EXPECT_EQ(compiled.Codes(), std::vector<int32_t>{c.code});
    ASSERT_FALSE(compiled.conditions.empty());
    EXPECT_EQ(compiled.conditions[0].severity, 3);
  }
}

TEST_F(ExprTypesCompile, ParameterMarkers) {
  Compiled compiled;
  Run("SELECT a FROM t WHERE ? = ?", &compiled);
  EXPECT_EQ(compiled.Codes(), std::vector<int32_t>{-12262});
  Seen cat = Run("SELECT ? || ? FROM t", &compiled);
  ASSERT_EQ(cat.hosts.size(), 2u);
  EXPECT_EQ(cat.hosts[0].code, 8);
  EXPECT_EQ(cat.hosts[0].length, 5000);
  EXPECT_EQ(cat.hosts[1].length, 15000);
  Seen right = Run("SELECT price FROM ty WHERE price > ?", &compiled);
  ASSERT_EQ(right.hosts.size(), 1u);
  EXPECT_EQ(right.hosts[0].code, 3);
  EXPECT_EQ(right.hosts[0].length, 45);
  EXPECT_EQ(right.hosts[0].scale, 2);
  Seen left = Run("SELECT price FROM ty WHERE ? < price", &compiled);
  ASSERT_EQ(left.hosts.size(), 1u);
  EXPECT_EQ(left.hosts[0].length, 43);
  EXPECT_EQ(left.hosts[0].scale, 2);
  Seen named = Run("SELECT a FROM t WHERE a = :h OR b = ?", &compiled);
  EXPECT_TRUE(compiled.conditions.empty()) << CodesText(compiled.Codes());
  ASSERT_EQ(named.hosts.size(), 2u);
  EXPECT_EQ(named.hosts[0].nullable, 0);
  EXPECT_EQ(named.hosts[1].nullable, 1);
  Run("SELECT a FROM t WHERE a = ?", &compiled, 3);
  EXPECT_TRUE(compiled.Has(-12263)) << CodesText(compiled.Codes());
}

TEST_F(ExprTypesCompile, SetFunctionsAndGroupingChecks) {
  struct Case {
    const char* sql;
    std::vector<int32_t> codes;
  };
  const Case cases[] = {
      {"SELECT b FROM t GROUP BY b HAVING a > 1", {-12209}},
      {"SELECT a, COUNT(*) FROM t GROUP BY b", {-12205}},
      {"SELECT a FROM t WHERE SUM(b) > 1", {-12213}},
      {"SELECT SUM(DISTINCT a) + 1 FROM t", {-12217}},
      {"SELECT SUM(MAX(a)) FROM t", {-12210}},
      // A set function in a block nested in HAVING: over its own block's
      // columns it is misplaced, over the outer block's it is the outer's.
      {"SELECT b FROM t GROUP BY b HAVING EXISTS (SELECT * FROM s WHERE SUM(d) > 1)", {-12226}},
      {"SELECT b FROM t GROUP BY b HAVING EXISTS (SELECT * FROM s WHERE SUM(t.a) > 1)", {}},
      {"SELECT b, SUM(a) FROM t GROUP BY b", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    Compiled compiled;
    Run(c.sql, &compiled);
    EXPECT_EQ(compiled.Codes(), c.codes);
  }
  Compiled compiled;
  Run("SELECT b FROM t GROUP BY b HAVING a > 1", &compiled);
  ASSERT_FALSE(compiled.conditions.empty());
  EXPECT_EQ(compiled.conditions[0].text, "E\tA");
}

TEST_F(ExprTypesCompile, CastToADomain) {
  // A domain the dictionary holds: DECIMAL(9,2).
  ASSERT_EQ(BegWork(), 0);
  ASSERT_EQ(InsObject(830, 2, "ADAM", "D1"), 0);
  const CatalogValue row[] = {{DOMAINS_DOMAIN_ID, 0, 830, nullptr},
                              {DOMAINS_DATA_TYPE, 1, 0, "DECIMAL"},
                              {DOMAINS_NUMERIC_PRECISION, 0, 9, nullptr},
                              {DOMAINS_NUMERIC_SCALE, 0, 2, nullptr},
                              {DOMAINS_CHARACTER_SET_ID, 0, 0, nullptr},
                              {DOMAINS_COLLATION_ID, 0, 136, nullptr}};
  ASSERT_EQ(InsertValues(23, row), 0);
  ASSERT_EQ(EndWork(0), 0);
  Compiled compiled;
  Seen s = Run("SELECT CAST(a AS adam.d1) FROM t", &compiled);
  EXPECT_TRUE(compiled.conditions.empty()) << CodesText(compiled.Codes());
  EXPECT_EQ(s.code, 3);
  EXPECT_EQ(s.length, 9);
  EXPECT_EQ(s.scale, 2);
  EXPECT_EQ(s.domain, 830);
  Run("SELECT CAST(a AS adam.nosuch) FROM t", &compiled);
  ASSERT_EQ(compiled.Codes(), std::vector<int32_t>{-12561});
  EXPECT_EQ(compiled.conditions[0].text, "G\tADAM.NOSUCH");
  Run("SELECT CAST(a AS adam.nosuch) FROM t", &compiled, 9);  // taken in mode 9
  EXPECT_FALSE(compiled.Has(-12561)) << CodesText(compiled.Codes());
}

// Random conditions of the grammar's generator, and the same with wrong
// column names and markers: only analysis codes of severity 3, and the walk
// back at its depth.
TEST_F(ExprTypesCompile, RandomConditionsGiveTheirCodes) {
  SqlConditionGenerator gen(32);
  const std::vector<int32_t> known = {-12202, -12204, -12215, -12216, -12262, -12273, -12275};
  for (int i = 0; i < 300; ++i) {
    std::string condition = gen.Condition(3);
    if (i % 3 == 1) {
      for (char& ch : condition) {
        if (ch == 'c') ch = 'z';
      }
    }
    if (i % 3 == 2) {
      for (char& ch : condition) {
        if (ch == 'b') ch = '?';
      }
    }
    std::string sql = "SELECT a FROM t WHERE " + condition;
    SCOPED_TRACE(sql);
    Compiled compiled;
    Run(sql, &compiled);
    EXPECT_TRUE(compiled.analysed);
    EXPECT_EQ(compiled.depth_after, 0);
    for (const SemCondition& c : compiled.conditions) {
      EXPECT_EQ(c.severity, 3) << c.code;
      EXPECT_NE(std::find(known.begin(), known.end(), c.code), known.end()) << c.code;
    }
  }
}

}  // namespace
