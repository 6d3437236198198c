// Random queries of the grammar's condition generator over the fixture's
// names and names it does not have: every compilation is analysed to its
// end with the analysis' own codes (severity 3), and the traversal stack is
// back at its depth.
#include <gtest/gtest.h>

#include <string>

#include "sql/front/tests/semantic_fixture.h"
#include "sql/front/tests/sql_grammar_support.h"

namespace {

class SemanticRandom : public SemanticTest {
 protected:
  void SetUp() override {
    SemanticTest::SetUp();
    if (HasFatalFailure()) return;
    MakeFixtureTables();
  }
};

// The codes of the grammar actions and of semantic analysis (severity 3).
bool AnalysisCode(int32_t code) {
  return code >= -12843 && code <= -12200;
}

TEST_F(SemanticRandom, QueriesEndWithTheAnalysisCodes) {
  SqlConditionGenerator g(7321);
  const char* shapes[] = {
      "SELECT a, b + 1 AS x FROM t WHERE %",
      "SELECT DISTINCT * FROM t u JOIN s ON u.a = s.a WHERE %",
      "SELECT a FROM t WHERE % AND a IN (SELECT d FROM s WHERE %)",
      "SELECT COUNT(*), MAX(a) FROM t GROUP BY b HAVING %",
      "SELECT a FROM t WHERE % UNION SELECT d FROM s WHERE EXISTS (SELECT * FROM t WHERE %)",
      "SELECT a, b FROM t WHERE % ORDER BY 2 DESC, a",
      "SELECT a FROM t WHERE % FOR UPDATE OF a, b",
      "SELECT * FROM t NATURAL JOIN s WHERE %",
      "SELECT x.a FROM t x LEFT JOIN nope y ON x.a = y.a WHERE %",
      "SELECT a, c FROM s, r WHERE % GROUP BY a, c ORDER BY 3",
      "SELECT * FROM p WHERE % AND EXISTS (SELECT b FROM s WHERE %)",
      "SELECT q.*, t.* FROM t JOIN s USING (b) WHERE %",
      "SELECT a, (SELECT MAX(d) FROM s WHERE s.a = t.a AND %) FROM t WHERE % ORDER BY x",
      "SELECT DISTINCT a, COUNT(DISTINCT b) FROM t WHERE % GROUP BY a HAVING % ORDER BY 2, 1",
      "SELECT a FROM t WHERE % UNION SELECT NULL FROM s UNION SELECT c FROM t ORDER BY 1",
  };
  constexpr int kShapes = static_cast<int>(sizeof shapes / sizeof shapes[0]);
  int analysed = 0;
  for (int i = 0; i < 30 * kShapes; ++i) {
    std::string text = shapes[i % kShapes];
    for (size_t at; (at = text.find('%')) != std::string::npos;) {
      text.replace(at, 1, g.Condition(3));
    }
    Compiled c = Compile(text);
    ASSERT_TRUE(c.analysed) << text << ": " << CodesText(c.Codes());
    ++analysed;
    EXPECT_EQ(c.depth_after, 0) << text;
    for (const SemCondition& k : c.conditions) {
      EXPECT_TRUE(AnalysisCode(k.code)) << text << ": " << k.code;
      EXPECT_EQ(k.severity, 3) << text;
    }
  }
  EXPECT_EQ(analysed, 30 * kShapes);
}

}  // namespace
