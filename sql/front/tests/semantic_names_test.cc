// FROM binding and column name resolution over whole statements: unknown
// and repeated tables, ambiguous and unknown columns and qualifiers, the
// scopes of subqueries, privileges, joins.
#include <gtest/gtest.h>

#include <string>

#include "sql/front/tests/semantic_fixture.h"

namespace {

class SemanticNames : public SemanticTest {
 protected:
  void SetUp() override {
    SemanticTest::SetUp();
    if (HasFatalFailure()) return;
    MakeFixtureTables();
  }
};

using Codes = std::vector<int32_t>;

TEST_F(SemanticNames, UnknownTableAndNoFollowOnColumnErrors) {
  Compiled c = Compile("SELECT x, t.nosuch FROM nope, t WHERE y = 1");
  EXPECT_EQ(c.Codes(), (Codes{-12200, -12202}));
  EXPECT_EQ(c.TextOf(-12200), "A\tNOPE");
  // Only the qualified column of a table that did bind is reported.
  EXPECT_EQ(c.TextOf(-12202), "E\tNOSUCH");
  EXPECT_EQ(Compile("SELECT a FROM adam.nope").TextOf(-12200), "A\tADAM.NOPE");
}

TEST_F(SemanticNames, RepeatedTableNames) {
  Compiled c = Compile("SELECT t.a FROM t, t");
  EXPECT_EQ(c.Codes(), Codes{-12201});
  EXPECT_EQ(c.TextOf(-12201), "A\tT");
  EXPECT_EQ(Compile("SELECT x.a FROM t, s x JOIN t ON x.a = t.a").Codes(), Codes{-12201});
  Compiled two = Compile("SELECT x.a, y.b FROM t x, t y WHERE x.a = y.b");
  EXPECT_TRUE(two.conditions.empty()) << CodesText(two.Codes());
  EXPECT_EQ(two.bindings, (std::vector<std::string>{"X@0:A,A", "Y@0:B,B"}));
}

TEST_F(SemanticNames, AmbiguousUnknownAndQualifiedColumns) {
  Compiled c = Compile("SELECT a FROM t, s");
  EXPECT_EQ(c.Codes(), Codes{-12204});
  EXPECT_EQ(c.TextOf(-12204), "E\tA");
  Compiled q = Compile("SELECT s.a, b, d FROM t, s");
  EXPECT_TRUE(q.conditions.empty()) << CodesText(q.Codes());
  EXPECT_EQ(q.bindings, (std::vector<std::string>{"T@0:B", "S@0:A,D"}));
  Compiled u = Compile("SELECT q.a FROM t");
  EXPECT_EQ(u.Codes(), Codes{-12203});
  EXPECT_EQ(u.TextOf(-12203), "A\tQ");
  Compiled n = Compile("SELECT nosuch FROM t");
  EXPECT_EQ(n.Codes(), Codes{-12202});
  EXPECT_EQ(n.TextOf(-12202), "E\tNOSUCH");
  EXPECT_EQ(Compile("SELECT q.* FROM t").Codes(), Codes{-12203});
}

// A subquery's names bind to its own table first, then outward.
TEST_F(SemanticNames, SubqueryScopes) {
  Compiled c = Compile(
      "SELECT a FROM t WHERE EXISTS (SELECT * FROM s WHERE d = b AND a = 1)");
  EXPECT_TRUE(c.conditions.empty()) << CodesText(c.Codes());
  // The WHERE condition is walked before the select list: T's B (outer
  // reference) then its A; S's D and A (a star under EXISTS is one
  // constant item).
  EXPECT_EQ(c.bindings, (std::vector<std::string>{"T@0:B,A", "S@1:D,A"}));
  // A nested select list sees its own block only.
  EXPECT_EQ(Compile("SELECT a FROM t WHERE a IN (SELECT b FROM s)").Codes(), Codes{-12202});
  // Qualified names reach outward too.
  Compiled q = Compile("SELECT a FROM t WHERE a IN (SELECT d FROM s WHERE s.a = t.b)");
  EXPECT_TRUE(q.conditions.empty()) << CodesText(q.Codes());
}

TEST_F(SemanticNames, SelectPrivilege) {
  Compiled c = Compile("SELECT x FROM p");
  ASSERT_EQ(c.Codes(), Codes{-12270});
  EXPECT_EQ(c.TextOf(-12270), "I\tADAM\xffM\tSELECT\xff" "A\tP");
  // Compile mode 9 tests no privilege, and takes an absent table (the
  // compilation goes on to the optimizer, not installed here).
  Compiled nine = Compile("SELECT x FROM p", 9);
  EXPECT_TRUE(nine.analysed);
  EXPECT_EQ(nine.Codes(), Codes{-19040});
  EXPECT_EQ(nine.bindings, std::vector<std::string>{"P@0:X"});
  Compiled absent = Compile("SELECT x FROM nope", 9);
  EXPECT_TRUE(absent.analysed);
  EXPECT_EQ(absent.Codes(), Codes{-19040});
  EXPECT_TRUE(absent.bindings.empty());
}

// In a trigger's statement the transition names stand for the subject
// table, each reference marked with its name's number.
TEST_F(SemanticNames, TransitionTables) {
  caller_names_ = {"ADAM", "T", "OLDROWS", "NEWROWS"};
  std::vector<int32_t> marks;
  int32_t first = 0, second = 0;
  inspect = [&](SqlCompileCtx* ctx, int32_t) {
    marks.clear();
    for (int32_t c = ctx->query.table_refs; c != 0; c = WsWord(ctx, c, CELL_NEXT)) {
      marks.push_back(WsWord(ctx, WsWord(ctx, c, CELL_VALUE), TRF_TRANSITION));
    }
    first = qqllen(ctx, ctx->query.transition_refs[0]);
    second = qqllen(ctx, ctx->query.transition_refs[1]);
  };
  Compiled c = Compile("SELECT o.a, n.b, s.d FROM oldrows o, newrows n, s");
  EXPECT_TRUE(c.conditions.empty()) << CodesText(c.Codes());
  EXPECT_EQ(c.bindings, (std::vector<std::string>{"O@0:A", "N@0:B", "S@0:D"}));
  EXPECT_EQ(marks, (std::vector<int32_t>{1, 2, 0}));
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 1);
  // A qualified name is not a transition name.
  EXPECT_EQ(Compile("SELECT a FROM adam.oldrows").Codes(), Codes{-12200});
}

TEST_F(SemanticNames, InnerJoinsDissolveLeftJoinsStay) {
  Compiled inner = Compile("SELECT t.a FROM t JOIN s ON t.a = s.a WHERE t.b = 1");
  EXPECT_TRUE(inner.conditions.empty()) << CodesText(inner.Codes());
  EXPECT_EQ(inner.from_items, 2);
  EXPECT_EQ(inner.printed, "SELECT T.A FROM T, S WHERE ((T.B = 1) AND (T.A = S.A))");
  Compiled left = Compile("SELECT t.a FROM t LEFT JOIN s ON t.a = s.a WHERE t.b = 1");
  EXPECT_TRUE(left.conditions.empty()) << CodesText(left.Codes());
  EXPECT_EQ(left.from_items, 1);
  EXPECT_EQ(left.printed, "SELECT T.A FROM (T LEFT JOIN S ON (T.A = S.A)) WHERE (T.B = 1)");
  // An ON condition binds in its own join first, then outward.
  for (const char* sql : {"SELECT t.a FROM t JOIN s ON d = b",
                          "SELECT t.a FROM t JOIN s ON t.a = s.a JOIN r ON e = d AND f = b",
                          "SELECT a FROM t WHERE EXISTS (SELECT * FROM s JOIN r ON e = b)"}) {
    Compiled on = Compile(sql);
    EXPECT_TRUE(on.conditions.empty()) << sql << ": " << CodesText(on.Codes());
  }
  Compiled ambiguous = Compile("SELECT t.a FROM t JOIN s ON a = 1");
  EXPECT_EQ(ambiguous.Codes(), Codes{-12204});
  EXPECT_EQ(ambiguous.TextOf(-12204), "E\tA");
  // A FROM clause of one join of two tables is joined.
  EXPECT_EQ(Compile("SELECT t.a FROM t LEFT JOIN s ON t.a = s.a").kind, 1);
}

TEST_F(SemanticNames, NaturalAndUsingJoinsShowTheCommonColumnOnce) {
  Compiled c = Compile("SELECT * FROM t NATURAL JOIN s");
  EXPECT_TRUE(c.conditions.empty()) << CodesText(c.Codes());
  EXPECT_EQ(c.items, (std::vector<std::string>{"A AS A", "T.B AS B", "T.C AS C", "S.D AS D"}));
  // The common column binds unqualified; each table's own qualifies it.
  Compiled a = Compile("SELECT a, t.a, s.a FROM t NATURAL JOIN s");
  EXPECT_TRUE(a.conditions.empty()) << CodesText(a.Codes());
  Compiled u = Compile("SELECT * FROM t JOIN s USING (a)");
  EXPECT_TRUE(u.conditions.empty()) << CodesText(u.Codes());
  EXPECT_EQ(u.items.size(), 4u);
  Compiled m = Compile("SELECT * FROM t JOIN s USING (b)");
  EXPECT_EQ(m.Codes(), Codes{-12202});
  EXPECT_EQ(m.TextOf(-12202), "E\tB");
  // Without a common column nothing is joined on.
  EXPECT_TRUE(Compile("SELECT * FROM t NATURAL JOIN r").conditions.empty());
}

}  // namespace
