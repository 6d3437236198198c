// The view merge's decision, its optimizer entries and the materialized
// row's layout.
#include "sql/front/view_merge.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sql/front/compile_context.h"
#include "sql/front/sem_walk.h"
#include "sql/front/stmt_tree.h"
#include "sql/front/tests/semantic_fixture.h"

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
  static void Drive(SqlCompileCtx*, int32_t statement) {
    calls.push_back("qodrive " + std::to_string(statement));
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
