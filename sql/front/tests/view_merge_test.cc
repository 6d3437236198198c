// The view merge's decision, its optimizer entries and the materialized
// row's layout.
#include "sql/front/view_merge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "sql/front/catalog_access.h"
#include "sql/front/compile_context.h"
#include "sql/front/data_change.h"
#include "sql/front/expr_types.h"
#include "sql/front/sem_walk.h"
#include "sql/front/stmt_tree.h"
#include "sql/front/tests/compile_test_support.h"
#include "sql/front/tests/semantic_fixture.h"
#include "sql/front/tests/sql_grammar_support.h"
#include "sql/front/tree_copy.h"
#include "sql/front/view_definition.h"

namespace {

// Merge or materialize, by what the view and the reading block hold.
TEST(ViewMergeDecision, MergesWhereTheReadingBlockAllows) {
  ViewMergeFacts q;
  q.query_context = true;
  struct Case {
    const char* what;
    ViewMergeFacts f;
    bool materialize;
  } cases[] = {
      {"a plain view", q, false},
      {"a view over a UNION", [&] { auto f = q; f.select_block = false; return f; }(), true},
      {"a view that materialized views", [&] { auto f = q; f.materialized_own = true; return f; }(), true},
      {"a row counter asked for", [&] { auto f = q; f.counter = true; return f; }(), true},
      {"DISTINCT, the only table, no further clauses", [&] { auto f = q; f.third = true; return f; }(), false},
      {"DISTINCT beside another table", [&] { auto f = q; f.third = true; f.from_items = 2; return f; }(), true},
      {"DISTINCT under a WHERE", [&] { auto f = q; f.third = true; f.outer_where = true; return f; }(), true},
      {"first mark under flag 15", [&] { auto f = q; f.first = true; return f; }(), true},
      {"first mark outside flag 15", [&] { auto f = q; f.first = true; f.query_context = false; return f; }(), false},
      {"grouping over a computed column", [&] { auto f = q; f.outer_grouping = true; f.computed_column = true; return f; }(), true},
      {"grouping over plain columns", [&] { auto f = q; f.outer_grouping = true; return f; }(), false},
      {"UPDATE through a kept view reference", [&] { auto f = q; f.query_context = false; f.statement_kind = 24; f.merge_state = 2; return f; }(), true},
      {"a query with merge state 2", [&] { auto f = q; f.statement_kind = 1; f.merge_state = 2; return f; }(), false},
  };
  for (const Case& k : cases) EXPECT_EQ(ViewMustMaterialize(k.f), k.materialize) << k.what;
}

// The fake optimizer: records the calls and lays the row out at ten bytes
// an item, noting the kernel's limit error as the row-length routine would.
struct FakeOptimizer {
  static inline std::vector<std::string> calls;
  static inline int32_t limit = 0;
  static inline bool over_limit = false;
  static inline std::vector<std::string> statements;  // "kind/kind of its query"
  static void Drive(SqlCompileCtx* ctx, int32_t statement) {
    calls.push_back("qodrive " + std::to_string(statement));
    int32_t kind = WsWord(ctx, statement, STN_KIND);
    statements.push_back(std::to_string(kind) + "/" +
                         (kind == 21 ? std::to_string(WsWord(ctx, WsWord(ctx, statement, QST_QUERY), STN_KIND))
                                     : std::string("-")));
  }
  static int32_t RowLength(SqlCompileCtx* ctx, int32_t items, int32_t key_count, int32_t* key_length,
                           int32_t* row_length, int32_t*, int32_t varying_last, int32_t truncate) {
    calls.push_back("qoarof " + std::to_string(key_count) + " " + std::to_string(varying_last) +
                    " " + std::to_string(truncate));
    *row_length = 0;
    for (int32_t c = items; c != 0; c = WsWord(ctx, c, CELL_NEXT)) *row_length += 10;
    *key_length = 0;
    if (*row_length > limit) over_limit = true;
    return limit;
  }
};

class ViewMerge : public SemanticTest {
 protected:
  void SetUp() override {
    SemanticTest::SetUp();
    MakeFixtureTables();
    FakeOptimizer::calls.clear();
    FakeOptimizer::over_limit = false;
  }
  void TearDown() override {
    SqlInstallOptimizerServices(nullptr);
    SemanticTest::TearDown();
  }
  // The layout of the select list of "SELECT a, b, c FROM t".
  ViewRowLayout Layout(bool counter, Compiled* c) {
    ViewRowLayout layout;
    inspect = [&](SqlCompileCtx* ctx, int32_t root) {
      int32_t query = WsWord(ctx, WsWord(ctx, root, STN_ROOT_TOP), QST_QUERY);
      layout = qmviewlayout(ctx, WsWord(ctx, query, QSP_SELECT), counter);
      ViewOptimize(ctx, query);
    };
    *c = Compile("SELECT a, b, c FROM t");
    inspect = nullptr;
    return layout;
  }
};

// A view's WHERE condition joins the reading block's by AND, alone when
// the block has none: the block's WHERE and HAVING conditions stand for
// the two.
TEST_F(ViewMerge, ViewConditionIsAndedToTheOuterOne) {
  struct Case {
    const char* sql;
    const char* printed;
  } cases[] = {
      {"SELECT a FROM t WHERE b = 2 GROUP BY a HAVING a > 1", "((B = 2) AND (A > 1))"},
      {"SELECT a FROM t GROUP BY a HAVING a > 1", "(A > 1)"},
      {"SELECT a FROM t WHERE b = 2 GROUP BY a", "(B = 2)"},
      {"SELECT a FROM t GROUP BY a", ""},
  };
  for (const Case& k : cases) {
    std::string combined = "<not run>";
    inspect = [&](SqlCompileCtx* ctx, int32_t root) {
      int32_t query = WsWord(ctx, WsWord(ctx, root, STN_ROOT_TOP), QST_QUERY);
      int32_t c = qmandcomb(ctx, nullptr, WsWord(ctx, query, QSP_WHERE),
                            WsWord(ctx, query, QSP_HAVING), 8);
      combined = c == 0 ? "" : SqlPrintExpression(ctx, c);
    };
    Compiled c = Compile(k.sql);
    inspect = nullptr;
    EXPECT_TRUE(c.conditions.empty()) << k.sql << ": " << CodesText(c.Codes());
    EXPECT_EQ(combined, k.printed) << k.sql;
  }
}

TEST_F(ViewMerge, OptimizerEntriesNameThemselvesUntilInstalled) {
  Compiled c;
  Layout(false, &c);
  EXPECT_EQ(c.TextOf(-19040), "N\tQOP: qoarof");
  SqlOptimizerServices only_rows;
  only_rows.qoarof = FakeOptimizer::RowLength;
  FakeOptimizer::limit = 100;
  SqlInstallOptimizerServices(&only_rows);
  Layout(false, &c);
  EXPECT_EQ(c.TextOf(-19040), "N\tQOP: qodrive");
}

// The row counter is the temporary table's own column: a row that fits the
// kernel's limit without it is no error, and the counter still grows the
// row and the column count.
TEST_F(ViewMerge, RowCounterIsAddedAfterTheLengthCheck) {
  SqlOptimizerServices fake;
  fake.qodrive = FakeOptimizer::Drive;
  fake.qoarof = FakeOptimizer::RowLength;
  SqlInstallOptimizerServices(&fake);
  FakeOptimizer::limit = 30;
  Compiled c;
  ViewRowLayout with = Layout(true, &c);
  EXPECT_TRUE(c.conditions.empty()) << CodesText(c.Codes());
  EXPECT_FALSE(FakeOptimizer::over_limit);
  EXPECT_EQ(with.columns, 4);
  EXPECT_EQ(with.row_length, 30 + kViewCounterBytes);
  EXPECT_EQ(with.data_length, 30 + kViewCounterBytes);
  ASSERT_EQ(FakeOptimizer::calls.size(), 2u);
  EXPECT_EQ(FakeOptimizer::calls[0], "qoarof 0 0 0");
  EXPECT_EQ(FakeOptimizer::calls[1].rfind("qodrive ", 0), 0u);
  FakeOptimizer::calls.clear();
  ViewRowLayout without = Layout(false, &c);
  EXPECT_EQ(without.columns, 3);
  EXPECT_EQ(without.row_length, 30);
  // One byte short of the row is over the limit.
  FakeOptimizer::limit = 29;
  Layout(false, &c);
  EXPECT_TRUE(FakeOptimizer::over_limit);
}

}  // namespace

namespace {

// What the merge made of a query over views: the statement printed after
// analysis, the optimizer's calls, and the chain of queries run before the
// outermost block.
struct Merged {
  Compiled c;
  std::string printed;
  std::vector<std::string> calls;
  std::vector<std::string> chained;
  std::vector<std::string> materialized;  // "name:columns" of each materialized reference
  size_t kept_views = 0;  // materialized references that still name their view (merge state 2)
  int32_t kind = 0;       // the statement kind after analysis
};

class ViewMergeQueries : public ViewMerge {
 protected:
  void SetUp() override {
    ViewMerge::SetUp();
    SqlOptimizerServices fake;
    fake.qodrive = FakeOptimizer::Drive;
    fake.qoarof = FakeOptimizer::RowLength;
    SqlInstallOptimizerServices(&fake);
    FakeOptimizer::limit = 1000;
    MakeView(5040, "VW", "SELECT a, b + 1 AS x FROM t WHERE a > 1",
             {{"A", 3, 10, 0}, {"X", 3, 10, 0}});
    MakeView(5041, "VD", "SELECT DISTINCT a, d FROM s WHERE d IS NOT NULL",
             {{"A", 3, 10, 0}, {"D", 3, 10, 0}});
    MakeView(5042, "VG", "SELECT a, COUNT(*) AS n FROM t GROUP BY a",
             {{"A", 3, 10, 0}, {"N", 3, 10, 0}});
    MakeView(5043, "VU", "SELECT a FROM t UNION SELECT a FROM s", {{"A", 3, 10, 0}});
    MakeView(5044, "VJ", "SELECT u.a, s.d FROM t u JOIN s ON u.a = s.a",
             {{"A", 3, 10, 0}, {"D", 3, 10, 0}});
    MakeView(5045, "VN", "SELECT a, b FROM t", {{"A", 3, 10, 0}, {"B", 3, 10, 0}});
  }
  // What a CREATE VIEW (compile mode 2) made of its query: its words, the
  // block's view options, the stored query printed and its check condition
  // printed ("" none; typed as a truth value when it is there).
  struct Defined {
    Compiled c;
    int32_t updatable = -1, read_only = -1, options = -1, mark = -1;
    std::string stored, check = "<not run>";
    bool check_typed = false;
  };
  Defined Define(const std::string& sql) {
    Defined d;
    inspect = [&](SqlCompileCtx* ctx, int32_t root) {
      int32_t definition = WsWord(ctx, root, STN_ROOT_TOP);
      int32_t query = WsWord(ctx, definition, VDF_QUERY);
      d.updatable = WsWord(ctx, definition, VDF_UPDATABLE);
      d.read_only = WsWord(ctx, definition, VDF_READ_ONLY);
      d.options = ctx->query.view_options;
      d.stored = SqlPrintStatement(ctx, query);
      d.mark = WsWord(ctx, query, QSP_CHECK_MARK);
      int32_t condition = WsWord(ctx, query, QSP_CHECK);
      d.check = condition == 0 ? "" : SqlPrintExpression(ctx, condition);
      d.check_typed = condition == 0 || (WsWord(ctx, condition, EXN_ANALYSED) == 1 &&
                                         WsWord(ctx, condition, EXN_TYPE_CLASS) == 6);
    };
    d.c = Compile(sql, 2);
    inspect = nullptr;
    return d;
  }
  Merged Run(const std::string& sql) {
    Merged m;
    FakeOptimizer::calls.clear();
    inspect = [&](SqlCompileCtx* ctx, int32_t root) {
      m.printed = SqlPrintStatement(ctx, root);
      int32_t top = WsWord(ctx, root, STN_ROOT_TOP);
      int32_t kind = WsWord(ctx, top, STN_KIND);
      int32_t query = kind == 21 ? WsWord(ctx, top, QST_QUERY) : 0;
      int32_t first = query > 0 ? WsWord(ctx, query, QSP_NEXT) : 0;
      // A searched DELETE or UPDATE chains from its first query link.
      if (kind == 22 || kind == 24) first = WsWord(ctx, top, DCH_FIRST_QUERY);
      for (int32_t q = first, n = 0; q != 0 && n < 10; q = WsWord(ctx, q, QSP_NEXT), ++n) {
        m.chained.push_back(SqlPrintStatement(ctx, q));
      }
      for (int32_t c = ctx->query.materialized; c != 0; c = WsWord(ctx, c, CELL_NEXT)) {
        int32_t ref = WsWord(ctx, c, CELL_VALUE);
        m.materialized.push_back(std::string(qqwsadr(ctx, WsWord(ctx, ref, TRF_EXPOSED))) + ":" +
                                 std::to_string(WsWord(ctx, ref, TRF_TEMP_COLUMNS)));
        if (WsWord(ctx, ref, TRF_VIEW) != 0 && WsWord(ctx, ref, TRF_MERGE_STATE) == 2) ++m.kept_views;
      }
      m.kind = ctx->statement_kind;
    };
    m.c = Compile(sql);
    inspect = nullptr;
    m.calls = FakeOptimizer::calls;
    return m;
  }
};

// Merged or materialized by the view's marks and the reading block: a
// merged view's tables stand in the FROM list, its columns are its
// definitions and its WHERE condition joins the block's (alone when the
// block has none); a materialized one is optimized on its own, read as a
// table and chained to run before the block that reads it.
TEST_F(ViewMergeQueries, MergedOrMaterializedAsTheBlockAllows) {
  struct Case {
    const char* sql;
    const char* printed;
    const char* chained;  // "" when nothing is materialized
    const char* materialized;
  } cases[] = {
      {"SELECT * FROM vw", "SELECT A, (B + 1) FROM T WHERE (A > 1)", "", ""},
      {"SELECT x FROM vw WHERE a < 5", "SELECT (B + 1) FROM T WHERE ((A < 5) AND (A > 1))", "", ""},
      // DISTINCT: merged as the only table of a block without further
      // clauses that shows every column, else materialized with a row
      // counter column.
      {"SELECT * FROM vd", "SELECT DISTINCT A, D FROM S WHERE (D IS NOT NULL)", "", ""},
      {"SELECT d, a FROM vd", "SELECT DISTINCT D, A FROM S WHERE (D IS NOT NULL)", "", ""},
      {"SELECT a FROM vd", "SELECT A FROM VD",
       "SELECT DISTINCT A, D FROM S WHERE (D IS NOT NULL)", "VD:3"},
      {"SELECT * FROM vd WHERE a > 0", "SELECT VD.A, VD.D FROM VD WHERE (A > 0)",
       "SELECT DISTINCT A, D FROM S WHERE (D IS NOT NULL)", "VD:3"},
      {"SELECT * FROM vd, t", "SELECT VD.A, VD.D, T.A, T.B, T.C FROM VD, T",
       "SELECT DISTINCT A, D FROM S WHERE (D IS NOT NULL)", "VD:3"},
      {"SELECT COUNT(*) FROM vd", "SELECT COUNT(*) FROM VD",
       "SELECT DISTINCT A, D FROM S WHERE (D IS NOT NULL)", "VD:3"},
      {"SELECT * FROM vd JOIN t ON vd.a = t.a", "SELECT VD.A, VD.D, T.A, T.B, T.C FROM VD, T WHERE (VD.A = T.A)",
       "SELECT DISTINCT A, D FROM S WHERE (D IS NOT NULL)", "VD:3"},
      // Grouping views, views over a UNION: materialized.
      {"SELECT a, n FROM vg", "SELECT A, N FROM VG", "SELECT A, COUNT(*) AS N FROM T GROUP BY A",
       "VG:2"},
      {"SELECT * FROM vu", "SELECT VU.A FROM VU", "(SELECT A FROM T UNION SELECT A FROM S)", "VU:1"},
      // A block with its own GROUP BY over a view with a computed column.
      {"SELECT x, COUNT(*) FROM vw GROUP BY x", "SELECT X, COUNT(*) FROM VW GROUP BY X",
       "SELECT A, (B + 1) AS X FROM T WHERE (A > 1)", "VW:2"},
      {"SELECT a, COUNT(*) FROM vn GROUP BY a", "SELECT A, COUNT(*) FROM T GROUP BY A", "", ""},
      {"SELECT * FROM vj WHERE d > 2", "SELECT U.A, S.D FROM T U, S WHERE ((S.D > 2) AND (U.A = S.A))",
       "", ""},
      {"SELECT v.a, t.c FROM vw v, t WHERE v.x = t.b",
       "SELECT A, T.C FROM T, T WHERE (((B + 1) = T.B) AND (A > 1))", "", ""},
      {"SELECT * FROM t WHERE EXISTS (SELECT * FROM vw WHERE vw.a = t.a)",
       "SELECT T.A, T.B, T.C FROM T WHERE EXISTS (SELECT 1 FROM T WHERE ((A = T.A) AND (A > 1)))",
       "", ""},
      // An operand of an outer join keeps its WHERE condition apart.
      {"SELECT * FROM s LEFT JOIN vw ON vw.a = s.a",
       "SELECT S.A, S.D, VW.A, VW.X FROM (S LEFT JOIN VW ON (VW.A = S.A))",
       "SELECT A, (B + 1) AS X FROM T WHERE (A > 1)", "VW:2"},
  };
  for (const Case& k : cases) {
    Merged m = Run(k.sql);
    EXPECT_TRUE(m.c.conditions.empty()) << k.sql << ": " << CodesText(m.c.Codes());
    EXPECT_EQ(m.printed, k.printed) << k.sql;
    std::string chained = m.chained.empty() ? "" : m.chained[0];
    EXPECT_EQ(chained, k.chained) << k.sql;
    EXPECT_LE(m.chained.size(), 1u) << k.sql;
    std::string materialized = m.materialized.empty() ? "" : m.materialized[0];
    EXPECT_EQ(materialized, k.materialized) << k.sql;
    // A materialized view runs the optimizer on its statement, then lays
    // its row out.
    EXPECT_EQ(m.calls.size(), m.materialized.empty() ? 0u : 2u) << k.sql;
  }
}

// In a subquery the same tests hold: a grouping view read under a WHERE
// condition over its computed column is materialized, not merged into a
// WHERE over COUNT(*).
TEST_F(ViewMergeQueries, SubqueryBlocksMaterializeAsQueryBlocksDo) {
  Merged m = Run("SELECT * FROM t WHERE a IN (SELECT a FROM vg WHERE n > 1)");
  EXPECT_TRUE(m.c.conditions.empty()) << CodesText(m.c.Codes());
  EXPECT_EQ(m.printed, "SELECT T.A, T.B, T.C FROM T WHERE (A = ANY (SELECT A FROM VG WHERE (N > 1)))");
  EXPECT_EQ(m.materialized, std::vector<std::string>{"VG:2"});
}

// A merged view's outer joins stand in the reading block's FROM list, so
// the block says it holds an outer join; a view without one leaves the
// block's word as it was. Under a CREATE VIEW the stored query says it
// too, and a view over that view passes it on again.
TEST_F(ViewMergeQueries, MergedOuterJoinsMarkTheReadingBlock) {
  MakeView(5050, "VL", "SELECT s.a, t.b FROM s LEFT JOIN t ON s.a = t.a",
           {{"A", 3, 10, 0}, {"B", 3, 10, 0}});
  MakeView(5051, "VLL", "SELECT a FROM vl", {{"A", 3, 10, 0}});
  struct Case {
    const char* sql;
    int32_t outer_join;
  } cases[] = {
      {"SELECT * FROM vl", 1},
      {"SELECT a FROM vll", 1},
      {"SELECT * FROM t WHERE EXISTS (SELECT * FROM vl WHERE vl.a = t.a)", 0},
      {"SELECT * FROM vn", 0},
      {"SELECT * FROM vj", 0},
      {"SELECT * FROM s LEFT JOIN vn ON vn.a = s.a", 1},
  };
  for (const Case& k : cases) {
    int32_t mark = -1;
    inspect = [&](SqlCompileCtx* ctx, int32_t root) {
      int32_t query = WsWord(ctx, WsWord(ctx, root, STN_ROOT_TOP), QST_QUERY);
      mark = WsWord(ctx, query, QSP_OUTER_JOIN);
    };
    Compiled c = Compile(k.sql);
    inspect = nullptr;
    EXPECT_TRUE(c.conditions.empty()) << k.sql << ": " << CodesText(c.Codes());
    EXPECT_EQ(mark, k.outer_join) << k.sql;
  }
  Defined d = Define("CREATE VIEW vlo AS SELECT a, b FROM vl");
  EXPECT_TRUE(d.c.conditions.empty()) << CodesText(d.c.Codes());
  EXPECT_EQ(d.stored, "SELECT S.A, T.B FROM (S LEFT JOIN T ON (S.A = T.A))");
}

// A further condition of the reading block (beside WHERE and HAVING; this
// grammar writes none, the test puts one in) counts as grouping does: a
// DISTINCT view, or one with a computed column, is materialized under it.
TEST_F(ViewMergeQueries, FurtherConditionOfTheBlockMaterializesAsGroupingDoes) {
  struct Case {
    const char* sql;
    const char* materialized;  // without the further condition, merged
  } cases[] = {
      {"SELECT a, d FROM vd", "VD:3"},
      {"SELECT a, x FROM vw", "VW:2"},
      {"SELECT a, b FROM vn", ""},
  };
  for (const Case& k : cases) {
    EXPECT_TRUE(Run(k.sql).materialized.empty()) << k.sql;
    before_analysis = [&](SqlCompileCtx* ctx, int32_t root) {
      int32_t query = WsWord(ctx, WsWord(ctx, root, STN_ROOT_TOP), QST_QUERY);
      int32_t item = WsWord(ctx, WsWord(ctx, query, QSP_SELECT), CELL_VALUE);
      int32_t value = WsWord(ctx, WsWord(ctx, item, SLI_VALUE), EXN_OPERAND1);
      WsWord(ctx, query, QSP_FURTHER) = qqlcons(ctx, 0, value);
    };
    Merged m = Run(k.sql);
    before_analysis = nullptr;
    std::string materialized = m.materialized.empty() ? "" : m.materialized[0];
    EXPECT_EQ(materialized, k.materialized) << k.sql;
  }
}

// The optimizer is run on a statement: a materialized view's SELECT block
// and its set operation alike go under a query statement (kind 21).
TEST_F(ViewMergeQueries, OptimizerTakesTheViewsQueryAsAStatement) {
  struct Case {
    const char* sql;
    const char* statement;
  } cases[] = {
      {"SELECT * FROM vu", "21/27"},
      {"SELECT a FROM vd", "21/28"},
      {"SELECT a, n FROM vg", "21/28"},
  };
  for (const Case& k : cases) {
    FakeOptimizer::statements.clear();
    Merged m = Run(k.sql);
    EXPECT_TRUE(m.c.conditions.empty()) << k.sql << ": " << CodesText(m.c.Codes());
    EXPECT_EQ(FakeOptimizer::statements, std::vector<std::string>{k.statement}) << k.sql;
  }
}

// Without the optimizer's entries a materialized view ends in their
// internal error; merged views need neither.
TEST_F(ViewMergeQueries, MaterializingNeedsTheOptimizer) {
  SqlInstallOptimizerServices(nullptr);
  EXPECT_EQ(Run("SELECT * FROM vu").c.TextOf(-19040), "N\tQOP: qodrive");
  EXPECT_TRUE(Run("SELECT * FROM vw").c.conditions.empty());
}

// VW's stored tree read back as `image` with random words replaced, 300
// times: each compilation (`compile`, by its round) succeeds, or ends in an
// internal error of the copy or of the merge (severity 5), or in one of
// `allowed`, the user errors a view of a damaged form gives; never reading
// outside the fetched block (the address sanitizer's runs hold it to that).
void ExpectDamagedRunsEnd(const std::string& image, uint32_t seed,
                          const std::function<Compiled(int)>& compile,
                          const std::vector<int32_t>& allowed = {}) {
  ASSERT_GT(image.size(), static_cast<size_t>(WSB_HEADER_BYTES));
  std::string damaged_image;
  StoredTreeOverride damaged(5040, &damaged_image);
  std::mt19937 rng(seed);
  const int32_t used = static_cast<int32_t>(image.size());
  const uint32_t words = static_cast<uint32_t>((used - WSB_HEADER_BYTES) / 4);
  int merged = 0, failed = 0;
  for (int i = 0; i < 300; ++i) {
    damaged_image = image;
    for (int k = 1 + static_cast<int>(rng() % 4); k > 0; --k) {
      int32_t word = static_cast<int32_t>(WSB_HEADER_BYTES / 4 + rng() % words);
      int32_t value = DamagingValue(rng, WSB_HEADER_BYTES, used);
      std::memcpy(damaged_image.data() + 4 * word, &value, 4);
    }
    Compiled c = compile(i);
    if (c.conditions.empty()) {
      ++merged;
      continue;
    }
    ++failed;
    const SemCondition& last = c.conditions.back();
    bool form = std::find(allowed.begin(), allowed.end(), last.code) != allowed.end();
    EXPECT_TRUE(last.severity >= 4 || form) << i << ": " << last.code << " " << last.text;
  }
  EXPECT_GT(merged, 0);
  EXPECT_GT(failed, 0);
}

TEST_F(ViewMergeQueries, DamagedStoredViewsEndInInternalErrors) {
  std::string image = MakeView(5048, "VX", "SELECT a, b + 1 AS x FROM t WHERE a > 1 AND c IS NULL",
                               {{"A", 3, 10, 0}, {"X", 3, 10, 0}});
  ExpectDamagedRunsEnd(image, 3340, [&](int i) {
    return Run(i % 2 == 0 ? "SELECT * FROM vw" : "SELECT x FROM vw WHERE a < 5").c;
  });
}

// The same over a view whose stored query keeps a check condition and
// mapped columns' kept nodes (a view over a view, WITH CHECK OPTION), read
// by queries, by a view defined over it WITH CHECK OPTION and by a DELETE
// that keeps it materialized.
TEST_F(ViewMergeQueries, DamagedViewsWithChecksAndKeptColumnsEndInInternalErrors) {
  GrantChanges(5040, {"A", "X"});
  std::string image = MakeView(5059, "VXC", "SELECT a FROM vw WHERE a < 9 WITH CHECK OPTION",
                               {{"A", 3, 10, 0}});
  const char* queries[] = {"SELECT * FROM vw", "DELETE FROM vw WHERE a IN (SELECT a FROM s)"};
  ExpectDamagedRunsEnd(image, 3341, [&](int i) {
    if (i % 3 == 2) return Compile("CREATE VIEW zz AS SELECT a FROM vw WITH CHECK OPTION", 2);
    return Run(queries[i % 3]).c;
  }, {-12254, -12258});
}

}  // namespace
namespace {

// Views over views that were materialized at their own definition: one
// without WHERE, GROUP BY and HAVING read as the only table uses its query
// directly (the view it materialized chained before the block); otherwise
// it is materialized in turn, the chain listing each query before the
// queries it reads (they run from the chain's end back to the block).
TEST_F(ViewMergeQueries, ViewsThatMaterializedViews) {
  MakeView(5049, "VGA", "SELECT a, n FROM vg", {{"A", 3, 10, 0}, {"N", 3, 10, 0}});
  MakeView(5050, "VGW", "SELECT a, n FROM vg WHERE n > 1", {{"A", 3, 10, 0}, {"N", 3, 10, 0}});
  struct Case {
    const char* sql;
    const char* printed;
    std::vector<std::string> chained;
    std::vector<std::string> materialized;
    size_t calls;
  } cases[] = {
      {"SELECT * FROM vga", "SELECT A, N FROM VG", {"SELECT A, COUNT(*) AS N FROM T GROUP BY A"},
       {"VG:2"}, 1},
      {"SELECT a FROM vgw WHERE a > 1", "SELECT A FROM VGW WHERE (A > 1)",
       {"SELECT A, N FROM VG WHERE (N > 1)", "SELECT A, COUNT(*) AS N FROM T GROUP BY A"},
       {"VG:2", "VGW:2"}, 2},
      {"SELECT * FROM vga, s", "SELECT VGA.A, VGA.N, S.A, S.D FROM VGA, S",
       {"SELECT A, N FROM VG", "SELECT A, COUNT(*) AS N FROM T GROUP BY A"}, {"VG:2", "VGA:2"}, 2},
  };
  for (const Case& k : cases) {
    Merged m = Run(k.sql);
    EXPECT_TRUE(m.c.conditions.empty()) << k.sql << ": " << CodesText(m.c.Codes());
    EXPECT_EQ(m.printed, k.printed) << k.sql;
    EXPECT_EQ(m.chained, k.chained) << k.sql;
    EXPECT_EQ(m.materialized, k.materialized) << k.sql;
    // The optimizer runs on each materialized view's statement once a
    // reading statement needs it; the row is laid out for each one made.
    EXPECT_EQ(m.calls.size(), k.calls == 1 ? 1u : 2u) << k.sql;
  }
}

// Under DELETE and UPDATE a merged view's WHERE condition joins the
// statement's, alone when it has none (views of views included).
TEST_F(ViewMergeQueries, DeleteAndUpdateTakeTheViewsCondition) {
  MakeView(5051, "VV", "SELECT x, a FROM vw WHERE x > 3", {{"X", 3, 10, 0}, {"A", 3, 10, 0}});
  struct Case {
    const char* sql;
    const char* printed;
  } cases[] = {
      {"DELETE FROM vw WHERE x > 2", "DELETE FROM VW WHERE ((X > 2) AND (A > 1))"},
      {"DELETE FROM vw", "DELETE FROM VW WHERE (A > 1)"},
      {"UPDATE vw SET a = 2", "UPDATE VW SET A = 2 WHERE (A > 1)"},
      {"UPDATE vv SET a = 1", "UPDATE VV SET A = 1 WHERE (((B + 1) > 3) AND (A > 1))"},
      {"DELETE FROM vv WHERE x > 1", "DELETE FROM VV WHERE ((X > 1) AND (((B + 1) > 3) AND (A > 1)))"},
      {"INSERT INTO vn VALUES (1, 2)", "INSERT INTO VN VALUES (1, 2)"},
  };
  for (const Case& k : cases) {
    Merged m = Run(k.sql);
    EXPECT_EQ(m.printed, k.printed) << k.sql;
    EXPECT_TRUE(m.materialized.empty()) << k.sql;
  }
}

// A searched DELETE or UPDATE through a view whose condition holds a
// subquery keeps its view reference (merge state 2): the view's query is
// materialized and chained at the statement's first query link, its WHERE
// stays its own, and the change still goes through the view to its table.
// Without a subquery, through a base table, and for INSERT nothing is
// materialized.
TEST_F(ViewMergeQueries, ChangesWithASubqueryKeepTheirViewReference) {
  MakeView(5058, "VV2", "SELECT x, a FROM vw WHERE x > 3", {{"X", 3, 10, 0}, {"A", 3, 10, 0}});
  GrantChanges(5001, {"A", "B", "C"});
  GrantChanges(5040, {"A", "X"});
  GrantChanges(5045, {"A", "B"});
  GrantChanges(5058, {"X", "A"});
  GrantChanges(5042, {"A", "N"});
  GrantChanges(5043, {"A"});
  struct Case {
    const char* sql;
    const char* printed;
    std::vector<std::string> chained;
    std::vector<std::string> materialized;
    int32_t kind;  // the statement kind after analysis
  } cases[] = {
      {"DELETE FROM vw WHERE a IN (SELECT a FROM s)", "DELETE FROM VW WHERE (A = ANY (SELECT A FROM S))",
       {"SELECT A, (B + 1) AS X FROM T WHERE (A > 1)"}, {"VW:2"}, 9},
      {"UPDATE vw SET a = 2 WHERE EXISTS (SELECT * FROM s WHERE s.a = vw.a)",
       "UPDATE VW SET A = 2 WHERE EXISTS (SELECT 1 FROM S WHERE (S.A = VW.A))",
       {"SELECT A, (B + 1) AS X FROM T WHERE (A > 1)"}, {"VW:2"}, 6},
      {"UPDATE vv2 SET a = 1 WHERE a > (SELECT COUNT(*) FROM t)",
       "UPDATE VV2 SET A = 1 WHERE (A > (SELECT COUNT(*) FROM T))",
       {"SELECT (B + 1), A FROM T WHERE (((B + 1) > 3) AND (A > 1))"}, {"VV2:2"}, 6},
      // A subquery inside a CASE arm counts too.
      {"DELETE FROM vw WHERE CASE WHEN a IN (SELECT a FROM s) THEN 1 ELSE 0 END = 1",
       "DELETE FROM VW WHERE (CASE WHEN (A = ANY (SELECT A FROM S)) THEN 1 ELSE 0 END = 1)",
       {"SELECT A, (B + 1) AS X FROM T WHERE (A > 1)"}, {"VW:2"}, 9},
      {"DELETE FROM vw WHERE x > 2", "DELETE FROM VW WHERE ((X > 2) AND (A > 1))", {}, {}, 9},
      {"DELETE FROM t WHERE a IN (SELECT a FROM vn)", "DELETE FROM T WHERE (A = ANY (SELECT A FROM T))",
       {}, {}, 9},
      {"INSERT INTO vn SELECT a, d FROM s WHERE a IN (SELECT a FROM t)",
       "INSERT INTO VN SELECT A, D FROM S WHERE (A = ANY (SELECT A FROM T))", {}, {}, 4},
  };
  for (const Case& k : cases) {
    Merged m = Run(k.sql);
    EXPECT_TRUE(m.c.conditions.empty()) << k.sql << ": " << CodesText(m.c.Codes());
    EXPECT_EQ(m.printed, k.printed) << k.sql;
    EXPECT_EQ(m.chained, k.chained) << k.sql;
    EXPECT_EQ(m.materialized, k.materialized) << k.sql;
    EXPECT_EQ(m.kept_views, k.materialized.size()) << k.sql;
    EXPECT_EQ(m.kind, k.kind) << k.sql;
    EXPECT_EQ(m.calls.size(), k.materialized.empty() ? 0u : 2u) << k.sql;
  }
  // A kept view reference takes a change only as its view's form allows.
  for (const char* sql : {"DELETE FROM vu WHERE a IN (SELECT a FROM s)",
                          "UPDATE vg SET a = 1 WHERE EXISTS (SELECT * FROM s)"}) {
    EXPECT_EQ(Run(sql).c.Codes(), std::vector<int32_t>{-12258}) << sql;
  }
}

// What typing noted of a view's query holds for the statement that reads
// it: its LIKE predicates, its special-register and current-date marks, its
// null-literal mark and length, its literals' constant-area bytes.
// The tables a merged view brings count among the statement's table
// references: 256 compile, 257 are the statement's error -12240, however
// the views bring them, never a compiler fault.
TEST_F(ViewMergeQueries, TablesOfMergedViewsCountAgainstTheStatementsLimit) {
  std::string query = "SELECT a1.a FROM t a1";
  for (int i = 2; i <= 15; ++i) query += ", t a" + std::to_string(i);
  ASSERT_FALSE(MakeView(5052, "V15", query, {{"A", 3, 10, 0}}).empty());
  std::string views;  // sixteen readings of V15: 16 references each
  for (int i = 1; i <= 16; ++i) views += (i == 1 ? "" : ", ") + std::string("v15 x") + std::to_string(i);
  struct Case {
    std::string sql;
    std::vector<int32_t> codes;
  } cases[] = {
      {"SELECT x1.a FROM " + views, {}},
      {"SELECT x1.a FROM s, " + views, {-12240}},
      {"SELECT x1.a FROM " + views + ", s", {-12240}},
      {"SELECT x1.a FROM " + views + " WHERE EXISTS (SELECT * FROM v15)", {-12240}},
  };
  for (const Case& k : cases) {
    Merged m = Run(k.sql);
    EXPECT_EQ(m.c.Codes(), k.codes) << k.sql << ": " << CodesText(m.c.Codes());
    EXPECT_EQ(m.c.depth_after, 0) << k.sql;
  }
}

TEST_F(ViewMergeQueries, ReadingStatementTakesTheViewsTypingMarks) {
  MakeView(5052, "VL",
           "SELECT a, c, CURRENT_DATE AS k, CAST(NULL AS CHAR(7)) AS z FROM t "
           "WHERE c LIKE 'x%' AND CURRENT_USER = 'ADAM'",
           {{"A", 3, 10, 0}, {"C", 1, 10, 0}, {"K", 3, 10, 0}, {"Z", 1, 7, 0}});
  SqlTypingState plain, read;
  std::vector<std::string> likes;
  for (auto [sql, state] : {std::pair{"SELECT a, c FROM t", &plain}, std::pair{"SELECT a FROM vl", &read}}) {
    inspect = [&, state = state](SqlCompileCtx* ctx, int32_t) {
      *state = ctx->typing;
      likes.clear();
      for (int32_t c = ctx->typing.like_list; c != 0; c = WsWord(ctx, c, CELL_NEXT)) {
        likes.push_back(SqlPrintExpression(ctx, WsWord(ctx, c, CELL_VALUE)));
      }
    };
    Compiled c = Compile(sql);
    inspect = nullptr;
    EXPECT_TRUE(c.conditions.empty()) << sql << ": " << CodesText(c.Codes());
  }
  EXPECT_EQ(likes, std::vector<std::string>{"(F100(C) LIKE 'x%')"});
  EXPECT_EQ(read.leaf, 1);
  EXPECT_EQ(plain.leaf, 0);
  int32_t marks = 0;
  for (int32_t m : read.register_marks) marks += m;
  EXPECT_EQ(marks, 1);
  EXPECT_EQ(read.null_cast, 1);
  EXPECT_EQ(read.null_cast_length, 7);
  EXPECT_GT(read.constant_bytes, plain.constant_bytes);
  // Each use of a literal's column needs the literal's storage again.
  MakeView(5053, "VK", "SELECT a, 'abc' AS k FROM t", {{"A", 3, 10, 0}, {"K", 1, 3, 0}});
  int32_t bytes[2] = {0, 0};
  for (int i = 0; i < 2; ++i) {
    inspect = [&](SqlCompileCtx* ctx, int32_t) { bytes[i] = ctx->typing.constant_bytes; };
    Compiled c = Compile(i == 0 ? "SELECT a FROM vk" : "SELECT k, k FROM vk");
    inspect = nullptr;
    EXPECT_TRUE(c.conditions.empty()) << CodesText(c.Codes());
  }
  EXPECT_EQ(bytes[0], 4);
  EXPECT_EQ(bytes[1], 4 + 2 * 4);
}

// A view defined over views: one over a simple merged view takes changes;
// over a join view it does not (the merged view is not simple), and the
// stored image holds the merged query.
TEST_F(ViewMergeQueries, ViewsDefinedOverViews) {
  struct Case {
    const char* sql;
    int32_t updatable;
    const char* stored;
  } cases[] = {
      {"CREATE VIEW w1 AS SELECT a, b FROM vn WHERE a > 0", 1, "SELECT A, B FROM T WHERE (A > 0)"},
      {"CREATE VIEW w2 AS SELECT a, d FROM vj", 0, "SELECT U.A, S.D FROM T U, S WHERE (U.A = S.A)"},
      {"CREATE VIEW w3 AS SELECT x FROM vw", 0, "SELECT (B + 1) FROM T WHERE (A > 1)"},
  };
  for (const Case& k : cases) {
    Defined d = Define(k.sql);
    EXPECT_TRUE(d.c.conditions.empty()) << k.sql << ": " << CodesText(d.c.Codes());
    EXPECT_EQ(d.updatable, k.updatable) << k.sql;
    EXPECT_EQ(d.stored, k.stored) << k.sql;
  }
}

// A view column mapped onto its definition keeps the column as it was in
// a node of its own, which the definition put in its place links to: the
// view's column reference (its name, number and view reference). A view
// defined over the view stores the link with its query, so that its own
// select item, read back from the catalog, still leads to the inner view's
// column.
TEST_F(ViewMergeQueries, MappedColumnsKeepTheirOldContents) {
  MakeView(5054, "VX2", "SELECT x, a FROM vw", {{"X", 3, 10, 0}, {"A", 3, 10, 0}});
  struct Case {
    const char* sql;
    const char* view;     // the view whose reference the kept nodes are bound to
    std::vector<std::string> kept;  // per select item: "name#number" of its kept node, "" none
  } cases[] = {
      {"SELECT x, a FROM vw", "VW", {"X#2", "A#1"}},
      {"SELECT a, x + 1 FROM vw", "VW", {"A#1", ""}},
      {"SELECT * FROM vx2", "VX2", {"X#1", "A#2"}},
  };
  for (const Case& k : cases) {
    std::vector<std::string> kept;
    std::string inner;
    inspect = [&](SqlCompileCtx* ctx, int32_t root) {
      int32_t query = WsWord(ctx, WsWord(ctx, root, STN_ROOT_TOP), QST_QUERY);
      for (int32_t c = WsWord(ctx, query, QSP_SELECT); c != 0; c = WsWord(ctx, c, CELL_NEXT)) {
        int32_t value = WsWord(ctx, WsWord(ctx, WsWord(ctx, c, CELL_VALUE), SLI_VALUE), EXN_OPERAND1);
        int32_t old = WsWord(ctx, value, EXN_MAPPED_FROM);
        if (old == 0) {
          kept.push_back("");
          continue;
        }
        int32_t ref = WsWord(ctx, old, EXN_TABLE_REF);
        EXPECT_EQ(WsWord(ctx, old, EXN_KIND), kExprColumnRef) << k.sql;
        EXPECT_EQ(std::string(qqwsadr(ctx, WsWord(ctx, ref, TRF_EXPOSED))), k.view) << k.sql;
        kept.push_back(SemColumnName(ctx, old) + "#" + std::to_string(WsWord(ctx, old, EXN_COLUMN_ID)));
        // The view's own select item, copied from the catalog: a view
        // over a view keeps the inner view's column behind its item.
        if (std::string(k.view) == "VX2" && inner.empty()) {
          int32_t defining = qmviewcol(ctx, ref, WsWord(ctx, old, EXN_COLUMN_ID));
          int32_t behind = defining > 0 ? WsWord(ctx, defining, EXN_MAPPED_FROM) : 0;
          inner = behind > 0 ? SemColumnName(ctx, behind) : "<none>";
        }
      }
    };
    Compiled c = Compile(k.sql);
    inspect = nullptr;
    EXPECT_TRUE(c.conditions.empty()) << k.sql << ": " << CodesText(c.Codes());
    EXPECT_EQ(kept, k.kept) << k.sql;
    if (std::string(k.view) == "VX2") {
      EXPECT_EQ(inner, "X") << k.sql;
    }
  }
}

// A view's option bits come from its view row (WITH CHECK OPTION, a view
// that takes no changes) with its attributes. A view definition reading a
// view that is materialized, or merged though not simple, takes its bits
// and is read-only when they are set; a simple merged view brings none.
TEST_F(ViewMergeQueries, ViewOptionBitsMakeADefinitionReadOnly) {
  MakeView(5055, "VC", "SELECT a, b FROM t WHERE a > 0 WITH CHECK OPTION",
           {{"A", 3, 10, 0}, {"B", 3, 10, 0}});
  struct Bits {
    const char* view;
    int32_t options;
  } bits[] = {{"VN", 0}, {"VC", kViewOptionCheck}, {"VW", kViewOptionNotUpdatable},
              {"VJ", kViewOptionNotUpdatable}, {"VG", kViewOptionNotUpdatable}};
  for (const Bits& b : bits) {
    int32_t options = -1;
    inspect = [&](SqlCompileCtx* ctx, int32_t) {
      int32_t ref = WsWord(ctx, ctx->query.table_refs, CELL_VALUE);
      options = WsWord(ctx, ref, TRF_ATTRS + kObjectAttrOptions);
    };
    Compiled c = Compile(std::string("SELECT * FROM ") + b.view);
    inspect = nullptr;
    EXPECT_TRUE(c.conditions.empty()) << b.view << ": " << CodesText(c.Codes());
    EXPECT_EQ(options, b.options) << b.view;
  }
  struct Case {
    const char* sql;
    int32_t options;  // the block's view options
    int32_t read_only;
    int32_t updatable;
  } cases[] = {
      {"CREATE VIEW o1 AS SELECT a FROM vw", 0, 0, 1},
      {"CREATE VIEW o2 AS SELECT a, b FROM vc WHERE b > 1", 0, 0, 1},
      {"CREATE VIEW o3 AS SELECT a, d FROM vj", kViewOptionNotUpdatable, 1, 0},
      {"CREATE VIEW o4 AS SELECT a, n FROM vg", kViewOptionNotUpdatable, 1, 0},
      {"CREATE VIEW o5 AS SELECT s.a, vc.b FROM s LEFT JOIN vc ON vc.a = s.a", kViewOptionCheck, 1, 0},
      {"CREATE VIEW o6 AS SELECT u.a FROM vg u, vc WHERE u.a = vc.a",
       kViewOptionNotUpdatable, 1, 0},
      {"CREATE VIEW o7 AS SELECT a, b FROM t", 0, 0, 1},
  };
  for (const Case& k : cases) {
    Defined d = Define(k.sql);
    EXPECT_TRUE(d.c.conditions.empty()) << k.sql << ": " << CodesText(d.c.Codes());
    EXPECT_EQ(d.options, k.options) << k.sql;
    EXPECT_EQ(d.read_only, k.read_only) << k.sql;
    EXPECT_EQ(d.updatable, k.updatable) << k.sql;
  }
  // WITH CHECK OPTION over a materialized view: the view takes no changes.
  EXPECT_EQ(Define("CREATE VIEW o8 AS SELECT a, n FROM vg WITH CHECK OPTION").c.Codes(),
            std::vector<int32_t>{-12254});
  // Nor does a query over it offer its rows for update.
  EXPECT_EQ(Compile("SELECT a, n FROM vg FOR UPDATE OF a").Codes(), std::vector<int32_t>{-12245});
  EXPECT_TRUE(Compile("SELECT a, b FROM vn FOR UPDATE OF a").conditions.empty());
}

// A view's check condition (what a row changed through it must meet):
// under WITH CHECK OPTION its own WHERE; and the check conditions of the
// views it merges, or all of a merged view's WHERE when only the view
// being defined has the mark. Views read in a subquery bring none; a
// stored view keeps its condition for the views defined over it, and a
// query reading a view takes none.
TEST_F(ViewMergeQueries, ViewsTakeTheCheckConditionsOfTheViewsTheyMerge) {
  MakeView(5056, "VC", "SELECT a, b FROM t WHERE a > 0 WITH CHECK OPTION",
           {{"A", 3, 10, 0}, {"B", 3, 10, 0}});
  MakeView(5057, "VC1", "SELECT a, b FROM vc WHERE b > 1", {{"A", 3, 10, 0}, {"B", 3, 10, 0}});
  struct Case {
    const char* sql;
    int32_t mark;
    const char* check;
  } cases[] = {
      {"CREATE VIEW c1 AS SELECT a, b FROM t WHERE a > 0 WITH CHECK OPTION", 1, "(A > 0)"},
      {"CREATE VIEW c2 AS SELECT a, b FROM t WHERE a > 0", 0, ""},
      {"CREATE VIEW c3 AS SELECT a, b FROM vc WHERE b > 1", 0, "(A > 0)"},
      {"CREATE VIEW c4 AS SELECT a, b FROM vc WHERE b > 1 WITH CHECK OPTION", 1,
       "((B > 1) AND (A > 0))"},
      {"CREATE VIEW c5 AS SELECT a FROM vw WHERE a < 9 WITH CHECK OPTION", 1,
       "((A < 9) AND (A > 1))"},
      {"CREATE VIEW c6 AS SELECT a FROM vw WHERE a < 9", 0, ""},
      {"CREATE VIEW c7 AS SELECT a FROM vw WITH CHECK OPTION", 1, "(A > 1)"},
      {"CREATE VIEW c8 AS SELECT a FROM vc1", 0, "(A > 0)"},
      {"CREATE VIEW c9 AS SELECT a FROM vc1 WITH CHECK OPTION", 1, "((B > 1) AND (A > 0))"},
      {"CREATE VIEW c10 AS SELECT a, b FROM t WHERE a IN (SELECT a FROM vc)", 0, ""},
  };
  for (const Case& k : cases) {
    Defined d = Define(k.sql);
    EXPECT_TRUE(d.c.conditions.empty()) << k.sql << ": " << CodesText(d.c.Codes());
    EXPECT_EQ(d.mark, k.mark) << k.sql;
    EXPECT_EQ(d.check, k.check) << k.sql;
    EXPECT_TRUE(d.check_typed) << k.sql;
  }
  int32_t outer = -1;
  inspect = [&](SqlCompileCtx* ctx, int32_t root) {
    outer = WsWord(ctx, WsWord(ctx, WsWord(ctx, root, STN_ROOT_TOP), QST_QUERY), QSP_CHECK);
  };
  Compiled c = Compile("SELECT * FROM vc1");
  inspect = nullptr;
  EXPECT_TRUE(c.conditions.empty()) << CodesText(c.Codes());
  EXPECT_EQ(outer, 0);
}

// Random conditions of the grammar's generator in queries over merged and
// materialized views (names the views have and names they do not): every
// compilation is analysed to its end with the analysis' own codes
// (severity 3), the traversal stack back at its depth.
TEST_F(ViewMergeQueries, RandomQueriesOverViewsEndWithTheAnalysisCodes) {
  SqlConditionGenerator g(3433);
  const char* shapes[] = {
      "SELECT a, x FROM vw WHERE %",
      "SELECT * FROM vd WHERE %",
      "SELECT a, n FROM vg WHERE % ORDER BY 2",
      "SELECT vw.a, vj.d FROM vw JOIN vj ON vw.a = vj.a WHERE %",
      "SELECT a FROM vn WHERE % AND a IN (SELECT a FROM vw WHERE %)",
      "SELECT a, COUNT(*) FROM vn WHERE % GROUP BY a HAVING %",
      "SELECT * FROM t WHERE EXISTS (SELECT * FROM vd WHERE vd.a = t.a AND %)",
      "SELECT a FROM vu WHERE % UNION SELECT a FROM vw WHERE %",
  };
  constexpr int kShapes = static_cast<int>(sizeof shapes / sizeof shapes[0]);
  for (int i = 0; i < 25 * kShapes; ++i) {
    std::string text = shapes[i % kShapes];
    for (size_t at; (at = text.find('%')) != std::string::npos;) text.replace(at, 1, g.Condition(3));
    Merged m = Run(text);
    ASSERT_TRUE(m.c.analysed) << text << ": " << CodesText(m.c.Codes());
    EXPECT_EQ(m.c.depth_after, 0) << text;
    for (const SemCondition& k : m.c.conditions) {
      EXPECT_TRUE(k.code >= -12843 && k.code <= -12200) << text << ": " << k.code << " " << k.text;
      EXPECT_EQ(k.severity, 3) << text;
    }
  }
}

}  // namespace
