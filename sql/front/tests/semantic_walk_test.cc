// The semantic walk over whole statements: statement kinds, the table
// limit, FOR UPDATE OF, nesting depth, several errors in one statement, and
// the walk's stack after every phase.
#include <gtest/gtest.h>

#include <string>

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

}  // namespace
