// The semantic walk over whole statements: statement kinds, the table
// limit, FOR UPDATE OF, nesting depth, several errors in one statement, and
// the walk's stack after every phase.
#include <gtest/gtest.h>

#include <string>

#include "dict/dictionary_services.h"
#include "dict/statement_functions.h"
#include "sql/front/tests/semantic_fixture.h"

namespace {

class SemanticWalk : public SemanticTest {
 protected:
  void SetUp() override {
    SemanticTest::SetUp();
    if (HasFatalFailure()) return;
    MakeFixtureTables();
  }
};

TEST_F(SemanticWalk, SimpleQueriesAreKindTwo) {
  Compiled c = Compile("SELECT a, b FROM t WHERE a = 1");
  EXPECT_TRUE(c.conditions.empty()) << CodesText(c.Codes());
  EXPECT_TRUE(c.analysed);
  EXPECT_EQ(c.depth_after, 0);
  EXPECT_EQ(c.kind, 2);
  EXPECT_EQ(c.status, 0);
  // A LIKE over a literal prefix stands beside its key range: both walked.
  Compiled like = Compile("SELECT a FROM t WHERE c LIKE 'ab%' AND b IN (1, 2)");
  EXPECT_TRUE(like.conditions.empty()) << CodesText(like.Codes());
  EXPECT_EQ(like.kind, 2);
  EXPECT_EQ(like.bindings, std::vector<std::string>{"T@0:C,B,A"});
  // OVERLAPS is rewritten by its typing and the new tree walked again.
  Compiled overlaps = Compile(
      "SELECT a FROM t WHERE (CURRENT_DATE, CURRENT_DATE) OVERLAPS (CURRENT_DATE, CURRENT_DATE)");
  EXPECT_TRUE(overlaps.analysed);
  EXPECT_TRUE(overlaps.conditions.empty()) << CodesText(overlaps.Codes());
  EXPECT_EQ(overlaps.depth_after, 0);
  // Anything that makes the query not simple gives kind 1.
  for (const char* sql : {"SELECT a FROM t ORDER BY 1", "SELECT DISTINCT a FROM t",
                          "SELECT b, COUNT(*) FROM t GROUP BY b", "SELECT t.a FROM t, s",
                          "SELECT a FROM t UNION SELECT a FROM s",
                          "SELECT t.a FROM t JOIN s ON t.a = s.a"}) {
    Compiled k = Compile(sql);
    EXPECT_TRUE(k.conditions.empty()) << sql << ": " << CodesText(k.Codes());
    EXPECT_EQ(k.kind, 1) << sql;
  }
}

// The request's option words: the first makes every query kind 1, the
// second asks for 58 and 57 in place of 2 and 1; FOR UPDATE makes kind 1.
TEST_F(SemanticWalk, OptionWordsAndUpdatability) {
  EXPECT_EQ(Compile("SELECT a FROM t", 5, {1, 0}).kind, 1);
  EXPECT_EQ(Compile("SELECT a FROM t", 5, {0, 1}).kind, 58);
  EXPECT_EQ(Compile("SELECT a FROM t ORDER BY a", 5, {0, 1}).kind, 57);
  EXPECT_EQ(Compile("SELECT a FROM t FOR UPDATE OF a").kind, 1);
}

// The statement's table references: 256 compile, the 257th is -12240.
TEST_F(SemanticWalk, TwoHundredFiftySixTableReferences) {
  auto from = [](int n) {
    std::string sql = "SELECT x1.a FROM t x1";
    for (int i = 2; i <= n; ++i) sql += ", t x" + std::to_string(i);
    return sql;
  };
  Compiled ok = Compile(from(256));
  EXPECT_TRUE(ok.conditions.empty()) << CodesText(ok.Codes());
  EXPECT_EQ(ok.bindings.size(), 256u);
  Compiled over = Compile(from(257));
  EXPECT_EQ(over.Codes(), std::vector<int32_t>{-12240});
  EXPECT_EQ(over.conditions[0].severity, 3);
}

// FOR UPDATE OF needs a simple query.
TEST_F(SemanticWalk, ForUpdateOfNeedsASimpleQuery) {
  EXPECT_TRUE(Compile("SELECT a, b FROM t FOR UPDATE OF a").conditions.empty());
  for (const char* sql : {"SELECT b FROM t GROUP BY b FOR UPDATE OF b",
                          "SELECT t.a FROM t, s FOR UPDATE OF b",
                          "SELECT DISTINCT a FROM t FOR UPDATE OF a"}) {
    EXPECT_EQ(Compile(sql).Codes(), std::vector<int32_t>{-12245}) << sql;
  }
  EXPECT_EQ(Compile("SELECT a FROM t FOR UPDATE OF a, a").Codes(), std::vector<int32_t>{-12227});
  Compiled missing = Compile("SELECT a FROM t FOR UPDATE OF nosuch");
  EXPECT_EQ(missing.Codes(), std::vector<int32_t>{-12246});
  EXPECT_EQ(missing.TextOf(-12246), "E\tNOSUCH");
}

// Sixteen nested query blocks compile; a seventeenth is the context
// stack's internal error, which ends the compilation.
TEST_F(SemanticWalk, SeventeenNestedBlocks) {
  auto nested = [](int blocks) {
    std::string sql = "SELECT a FROM t";
    for (int i = 1; i < blocks; ++i) sql = "SELECT a FROM t WHERE a IN (" + sql + ")";
    return sql;
  };
  Compiled ok = Compile(nested(16));
  EXPECT_TRUE(ok.conditions.empty()) << CodesText(ok.Codes());
  EXPECT_EQ(ok.bindings.back(), "T@15:A");
  Compiled deep = Compile(nested(17));
  ASSERT_EQ(deep.Codes(), std::vector<int32_t>{-19247});
  EXPECT_EQ(deep.conditions[0].severity, 5);
  EXPECT_EQ(deep.conditions[0].text, "N\tQME: qmqset");
  EXPECT_FALSE(deep.analysed);
}

// Severity-3 errors do not stop the walk: each is reported.
TEST_F(SemanticWalk, SeveralErrorsAreAllReported) {
  Compiled c = Compile(
      "SELECT nosuch1, q.a FROM t WHERE nosuch2 = 1 GROUP BY a, a ORDER BY 7");
  // In the order the clauses are walked: GROUP BY, WHERE, select list, ORDER BY.
  EXPECT_EQ(c.Codes(), (std::vector<int32_t>{-12271, -12202, -12202, -12203, -12224}));
  EXPECT_TRUE(c.analysed);
  EXPECT_EQ(c.depth_after, 0);
  for (const SemCondition& k : c.conditions) EXPECT_EQ(k.severity, 3);
}

// A view whose stored definition is missing from the catalog: the view
// merge's fetch ends the compilation as a missing object (status -1, no
// condition made up), never as a view read as a table.
TEST_F(SemanticWalk, ViewWithoutItsDefinitionEndsTheCompilation) {
  ASSERT_EQ(BegWork(), 0);
  int32_t pb[2] = {0, usr_};
  DDInsObject(base_, pb, 5020, 7, "ADAM", 4, "VW", 2);
  ASSERT_EQ(pb[0], 0);
  DDInsTable(base_, pb, 5020, 2, 6, 8, false, 1);
  ASSERT_EQ(pb[0], 0);
  DDInsTablePriv(base_, pb, 5020, 1, "ADAM", 4, "EVE", 3, false, false);
  ASSERT_EQ(pb[0], 0);
  ASSERT_EQ(EndWork(0), 0);
  Compiled c = Compile("SELECT * FROM vw");
  EXPECT_TRUE(c.conditions.empty()) << CodesText(c.Codes());
  EXPECT_EQ(c.status, -1);
  EXPECT_FALSE(c.analysed);
}

}  // namespace
