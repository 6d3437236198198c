// Data changes over broken or unusual sources: the analysis reports the
// system's codes and never walks something that is not an expression.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "dict/dictionary_services.h"
#include "dict/statement_functions.h"
#include "sql/front/compile_context.h"
#include "sql/front/data_change.h"
#include "sql/front/expr_types.h"
#include "sql/front/sql_action_words.h"
#include "sql/front/stmt_tree.h"
#include "sql/front/tests/compile_test_support.h"
#include "sql/front/view_merge.h"
#include "sql/front/tests/semantic_fixture.h"
#include "sql/front/tests/sql_grammar_support.h"

namespace {

using Codes = std::vector<int32_t>;

class SemanticDataChangeEdges : public SemanticTest {
 protected:
  void SetUp() override {
    SemanticTest::SetUp();
    if (HasFatalFailure()) return;
    MakeFixtureTables();
    GrantChanges(5001, {"A", "B", "C"});
  }
  struct CodesCase {
    const char* sql;
    Codes codes;
  };
  // Each statement compiled in `mode` gives exactly its codes, the walk's
  // stack back at 0.
  void ExpectCodes(const std::vector<CodesCase>& cases, int32_t mode = 5) {
    for (const CodesCase& k : cases) {
      Compiled c = Compile(k.sql, mode);
      EXPECT_EQ(c.Codes(), k.codes) << k.sql << ": " << CodesText(c.Codes());
      EXPECT_EQ(c.depth_after, 0) << k.sql;
    }
  }
};

// A query source whose star could not be expanded (its table is missing or
// not exposed) reports that once: the star pairs with no column and is
// never analysed as a value.
TEST_F(SemanticDataChangeEdges, UnexpandedStarsPairWithNothing) {
  ExpectCodes({
      {"INSERT INTO t SELECT * FROM nosuch", {-12200}},
      {"INSERT INTO t SELECT zz.* FROM s", {-12203}},
      {"INSERT INTO t (a) SELECT zz.* FROM s", {-12203}},
      {"INSERT INTO t (a, b) SELECT zz.*, 1 FROM s", {-12203}},
      {"INSERT INTO t SELECT zz.* FROM s UNION SELECT a, b, c FROM t", {-12203}},
      {"INSERT INTO t SELECT s.* FROM s", {-12233}},
      {"INSERT INTO t (a, b) SELECT * FROM s", {}},
  });
}

// A VALUES list may begin with a scalar subquery: its values are the
// list's elements, each judged as a VALUES element, not the subquery's
// select items.
TEST_F(SemanticDataChangeEdges, ValuesListBeginningWithAScalarSubquery) {
  ExpectCodes({
      {"INSERT INTO t VALUES ((SELECT a FROM s), 1, 'x')", {-12232}},
      {"INSERT INTO t VALUES ((SELECT 1 FROM s), 1, 'x')", {}},
      {"INSERT INTO t (a, b) VALUES ((SELECT 1 FROM s), 2)", {}},
      {"INSERT INTO t (a) VALUES ((SELECT MAX(a) FROM t))", {-12232}},
      {"INSERT INTO t (a) VALUES ((SELECT 1 FROM s), 2)", {-12233}},
      {"INSERT INTO t (a) SELECT a FROM s", {}},
  });
}

// T's one check condition as the dictionary gives it (its stored tree,
// damaged at random, read through a StoredTreeOverride); every other look-up
// is the dictionary's own.
SqlDictionaryServices g_dictionary;

int32_t CheckOfT(int32_t session, int32_t table, int32_t domain, int32_t* value) {
  if (table != 5001) return g_dictionary.pair_value(session, table, domain, value);
  if (*value != 0) return 1;
  *value = 931;
  return 0;
}

// A check condition damaged in the catalog (words replaced by references
// inside, past and around its image, small and negative numbers): each
// INSERT or UPDATE of its table analyses the copy or ends in an error,
// never reading outside the fetched block or walking a node as what it is
// not (the address sanitizer's runs hold it to that).
TEST_F(SemanticDataChangeEdges, DamagedCheckConditionsEndInErrors) {
  std::string printed;
  const std::string image =
      ParsedTreeImage("SELECT a FROM t WHERE a > 0 AND (b < a OR c IS NULL)", true, &printed);
  ASSERT_GT(image.size(), static_cast<size_t>(WSB_HEADER_BYTES));
  g_dictionary = SqlInstallDictionaryServices(nullptr);
  SqlDictionaryServices mine = g_dictionary;
  mine.pair_value = CheckOfT;
  SqlInstallDictionaryServices(&mine);
  std::string check = image;
  std::optional<StoredTreeOverride> stored;
  stored.emplace(931, &check);
  EXPECT_TRUE(Compile("INSERT INTO t (a) VALUES (1)").conditions.empty());
  std::mt19937 rng(3370);
  const int32_t used = static_cast<int32_t>(image.size());
  const uint32_t words = static_cast<uint32_t>((used - WSB_HEADER_BYTES) / 4);
  int analysed = 0, failed = 0;
  for (int i = 0; i < 300; ++i) {
    check = image;
    for (int k = 1 + static_cast<int>(rng() % 4); k > 0; --k) {
      int32_t word = static_cast<int32_t>(WSB_HEADER_BYTES / 4 + rng() % words);
      int32_t value;
      switch (rng() % 5) {
        case 0:
          value = static_cast<int32_t>(WSB_HEADER_BYTES + 4 * (rng() % words));
          break;
        case 1:
          value = used + static_cast<int32_t>(rng() % 64);
          break;
        case 2:
          value = static_cast<int32_t>(rng() % 2000) | 1;
          break;
        case 3:
          value = -static_cast<int32_t>(rng() % 1000);
          break;
        default:
          value = static_cast<int32_t>(rng() % 120);
      }
      std::memcpy(check.data() + 4 * word, &value, 4);
    }
    Compiled c = Compile(i % 2 == 0 ? "INSERT INTO t (a) VALUES (1)" : "UPDATE t SET b = 2 WHERE a = 1");
    if (c.conditions.empty()) {
      ++analysed;
      EXPECT_EQ(c.depth_after, 0) << i;
    } else {
      ++failed;
    }
  }
  stored.reset();
  SqlInstallDictionaryServices(&g_dictionary);
  EXPECT_GT(analysed, 0);
  EXPECT_GT(failed, 0);
}

// A check condition over a LIKE with a literal prefix: the key range's
// AND keeps the LIKE beside it (word 24), which the copy brings along as
// an expression of the statement, analysed with the rest.
TEST_F(SemanticDataChangeEdges, CheckConditionWithALikeKeyRange) {
  std::string printed;
  const std::string image = ParsedTreeImage("SELECT a FROM t WHERE c LIKE 'ab%'", true, &printed);
  g_dictionary = SqlInstallDictionaryServices(nullptr);
  SqlDictionaryServices mine = g_dictionary;
  mine.pair_value = CheckOfT;
  SqlInstallDictionaryServices(&mine);
  std::string check = image;
  std::optional<StoredTreeOverride> stored;
  stored.emplace(931, &check);
  std::vector<std::string> beside;
  inspect = [&](SqlCompileCtx* ctx, int32_t root) {
    int32_t top = WsWord(ctx, root, STN_ROOT_TOP);
    int32_t kind = WsWord(ctx, top, STN_KIND);
    int32_t list = kind == 26 ? WsWord(ctx, top, INS_CHECKS) : WsWord(ctx, top, UPD_CHECKS);
    for (int32_t c = list; c != 0; c = WsWord(ctx, c, CELL_NEXT)) {
      int32_t like = WsWord(ctx, WsWord(ctx, c, CELL_VALUE), EXN_WORD24);
      beside.push_back(like <= 0 ? "none"
                                 : SqlPrintExpression(ctx, like) + " class " +
                                       std::to_string(WsWord(ctx, like, EXN_TYPE_CLASS)));
    }
  };
  for (const char* sql : {"INSERT INTO t (a, c) VALUES (1, 'abc')", "UPDATE t SET c = 'x'"}) {
    beside.clear();
    Compiled c = Compile(sql);
    EXPECT_TRUE(c.conditions.empty()) << sql << ": " << CodesText(c.Codes());
    EXPECT_EQ(beside, std::vector<std::string>{"(F100(C) LIKE 'ab%') class " + std::to_string(kClassTruth)})
        << sql;
  }
  inspect = nullptr;
  stored.reset();
  SqlInstallDictionaryServices(&g_dictionary);
}

// A target that is no table reference (the parsed target taken away):
// -12259 with the statement's name, and nothing bound.
TEST_F(SemanticDataChangeEdges, TargetThatIsNoTableReference) {
  struct Case {
    const char* sql;
    int32_t word;
    Codes codes;
    const char* text;
  } cases[] = {
      {"INSERT INTO t VALUES (1, 2, 'x')", INS_TARGET, {-12259}, "N\tINSERT"},
      {"UPDATE t SET a = 1", UPD_TARGET, {-12202, -12259}, "N\tUPDATE"},
      {"DELETE FROM t", DLT_TARGET, {-12259}, "N\tDELETE"},
  };
  for (const Case& k : cases) {
    before_analysis = [&](SqlCompileCtx* ctx, int32_t root) {
      WsWord(ctx, WsWord(ctx, root, STN_ROOT_TOP), k.word) = 0;
    };
    Compiled c = Compile(k.sql);
    before_analysis = nullptr;
    EXPECT_EQ(c.Codes(), k.codes) << k.sql << ": " << CodesText(c.Codes());
    EXPECT_EQ(c.TextOf(-12259), k.text) << k.sql;
    EXPECT_EQ(c.depth_after, 0) << k.sql;
  }
}

// CREATE VIEW over a star that could not be expanded (its table missing or
// not exposed, reported): the view's columns are not named from it, so no
// further code follows.
TEST_F(SemanticDataChangeEdges, ViewDefinitionOverAnUnexpandedStar) {
  ExpectCodes({
      {"CREATE VIEW v1 AS SELECT * FROM nosuch", {-12200}},
      {"CREATE VIEW v1 AS SELECT zz.* FROM t", {-12203}},
      {"CREATE VIEW v1 (x, y) AS SELECT zz.* FROM t", {-12203}},
      {"CREATE VIEW v1 AS SELECT a, zz.* FROM t", {-12203}},
      {"CREATE VIEW v1 (x, y) AS SELECT a FROM nosuch", {-12200, -12253}},
      {"CREATE VIEW v1 (x) AS SELECT * FROM t", {-12253}},
      {"CREATE VIEW v1 AS SELECT * FROM t, s", {-12252}},
  }, 2);
}

// A view changed through, its stored tree damaged in the catalog: each
// INSERT, UPDATE or DELETE through it is analysed, refused or ends in an
// error, never reading outside the fetched block (the address
// sanitizer's runs hold it to that).
TEST_F(SemanticDataChangeEdges, DamagedViewTargets) {
  InstallLayingOptimizer();
  const std::string image = MakeView(5094, "VT", "SELECT a, b + 1 AS x, c FROM t WHERE a > 0",
                                     {{"A", 3, 10, 0}, {"X", 3, 10, 0}, {"C", 1, 10, 0}});
  ASSERT_GT(image.size(), static_cast<size_t>(WSB_HEADER_BYTES));
  GrantChanges(5094, {"A", "X", "C"});
  const char* changes[] = {"INSERT INTO vt (a, c) VALUES (1, 'x')", "UPDATE vt SET c = 'y' WHERE a = 1",
                           "DELETE FROM vt WHERE c IS NULL"};
  for (const char* sql : changes) {
    Compiled c = Compile(sql);
    EXPECT_TRUE(c.conditions.empty()) << sql << ": " << CodesText(c.Codes());
  }
  std::string damaged;
  StoredTreeOverride stored(5094, &damaged);
  std::mt19937 rng(3380);
  const int32_t used = static_cast<int32_t>(image.size());
  const uint32_t words = static_cast<uint32_t>((used - WSB_HEADER_BYTES) / 4);
  int analysed = 0, failed = 0;
  for (int i = 0; i < 300; ++i) {
    damaged = image;
    for (int k = 1 + static_cast<int>(rng() % 4); k > 0; --k) {
      int32_t word = static_cast<int32_t>(WSB_HEADER_BYTES / 4 + rng() % words);
      int32_t value = DamagingValue(rng, WSB_HEADER_BYTES, used);
      std::memcpy(damaged.data() + 4 * word, &value, 4);
    }
    Compiled c = Compile(changes[i % 3]);
    if (c.conditions.empty()) {
      ++analysed;
      EXPECT_EQ(c.depth_after, 0) << i;
    } else {
      ++failed;
    }
  }
  SqlInstallOptimizerServices(nullptr);
  EXPECT_GT(analysed, 0);
  EXPECT_GT(failed, 0);
}

// The NOT NULL words of a stored view's table reference damaged in the
// catalog (its count huge or negative, its kept list anything, even
// another list of the tree): a change through the view analyses the copy,
// whose tests keep a list of their own of no more cells than the table's
// columns, every test over the column it guards.
TEST_F(SemanticDataChangeEdges, DamagedNotNullWordsOfAStoredView) {
  InstallLayingOptimizer();
  ASSERT_EQ(BegWork(), 0);
  ASSERT_EQ(InsBaseTable(5095, "ADAM", "WN", {{"A", 3, 10, 0}, {"B", 3, 10, 0, false}}), 0);
  int32_t pb[2] = {0, usr_};
  DDInsTablePriv(base_, pb, 5095, 1, "ADAM", 4, "EVE", 3, false, false);
  ASSERT_EQ(pb[0], 0);
  ASSERT_EQ(EndWork(0), 0);
  GrantChanges(5095, {"A", "B"});
  const std::string image =
      MakeView(5096, "VN", "SELECT a, b FROM wn", {{"A", 3, 10, 0}, {"B", 3, 10, 0}});
  GrantChanges(5096, {"A", "B"});
  // The word of WN's reference in the image: its table and kind, the
  // query-only mark and the count of two columns.
  const int32_t used = static_cast<int32_t>(image.size());
  std::vector<int32_t> words(static_cast<size_t>(used / 4));
  std::memcpy(words.data(), image.data(), words.size() * 4);
  int32_t ref = -1;
  for (size_t i = WSB_HEADER_BYTES / 4; i + kTableRefWords <= words.size() && ref < 0; ++i) {
    if (words[i + TRF_TABLE_ID] == 5095 && words[i + TRF_KIND] == 1 &&
        words[i + TRF_QUERY_ONLY] == 1 && words[i + TRF_NULL_TEST_COUNT] == 2 &&
        words[i + TRF_NULL_TESTS] == 0) {
      ref = static_cast<int32_t>(i);
    }
  }
  ASSERT_GE(ref, 0);
  std::string damaged;
  StoredTreeOverride stored(5096, &damaged);
  std::mt19937 rng(3381);
  const char* changes[] = {"INSERT INTO vn (a, b) VALUES (1, 2)", "UPDATE vn SET b = 3",
                           "INSERT INTO vn (a) VALUES (1)"};
  int analysed = 0, failed = 0;
  for (int i = 0; i < 120; ++i) {
    damaged = image;
    const int32_t counts[] = {2, 0x7fffffff, -5, 1000000};
    int32_t count = counts[i % 4];
    int32_t list = i % 3 == 0 ? 0 : DamagingValue(rng, WSB_HEADER_BYTES, used);
    std::memcpy(damaged.data() + 4 * (ref + TRF_NULL_TEST_COUNT), &count, 4);
    std::memcpy(damaged.data() + 4 * (ref + TRF_NULL_TESTS), &list, 4);
    int32_t cells = -1;
    int32_t wrong_tests = 0;  // NOT NULL tests over anything but WN.B
    inspect = [&](SqlCompileCtx* ctx, int32_t root) {
      for (int32_t c = ctx->query.table_refs; c != 0; c = WsWord(ctx, c, CELL_NEXT)) {
        int32_t r = WsWord(ctx, c, CELL_VALUE);
        if (WsWord(ctx, r, TRF_TABLE_ID) == 5095) cells = qqllen(ctx, WsWord(ctx, r, TRF_NULL_TESTS));
      }
      int32_t top = WsWord(ctx, root, STN_ROOT_TOP);
      int32_t list = WsWord(ctx, top, STN_KIND) == 26 ? WsWord(ctx, top, INS_ASSIGNMENTS)
                                                      : WsWord(ctx, top, UPD_SET);
      for (int32_t c = list; c != 0; c = WsWord(ctx, c, CELL_NEXT)) {
        int32_t test = WsWord(ctx, WsWord(ctx, c, CELL_VALUE), ASG_NULL_TEST);
        if (test == 0) continue;
        int32_t column = WsWord(ctx, test, EXN_OPERAND1);
        int32_t r = WsWord(ctx, column, EXN_TABLE_REF);
        if (WsWord(ctx, column, EXN_KIND) != kExprColumnRef || r <= 0 ||
            WsWord(ctx, r, TRF_TABLE_ID) != 5095 || WsWord(ctx, column, EXN_COLUMN_ID) != 2) {
          ++wrong_tests;
        }
      }
    };
    Compiled c = Compile(changes[i % 3]);
    inspect = nullptr;
    if (c.conditions.empty()) {
      ++analysed;
      EXPECT_EQ(c.depth_after, 0) << i;
      EXPECT_EQ(wrong_tests, 0) << i;
      // The copy keeps no list of the image: the tests make their own.
      EXPECT_EQ(cells, count > 1 ? 2 : 0) << i;
    } else {
      ++failed;
      for (const SemCondition& k : c.conditions) EXPECT_LE(k.code, -19000) << i;
    }
  }
  SqlInstallOptimizerServices(nullptr);
  EXPECT_GT(analysed, 0);
}

}  // namespace

namespace {

// Changes through views of views of views, some over a DISTINCT or a
// grouping view, with subqueries in odd places (a CASE arm, a function's
// argument, a SET value, nested EXISTS over a materialized view): the
// Parts' codes, the walk's stack back at 0.
TEST_F(SemanticDataChangeEdges, ChangesThroughViewsOfViewsOfViews) {
  InstallLayingOptimizer();
  const std::vector<TestColumn> abc = {{"A", 3, 10, 0}, {"B", 3, 10, 0}, {"C", 1, 10, 0}};
  const std::vector<TestColumn> ab = {{"A", 3, 10, 0}, {"B", 3, 10, 0}};
  MakeView(6001, "V1", "SELECT a, b, c FROM t WHERE a > 0", abc);
  MakeView(6002, "V2", "SELECT a, b, c FROM v1 WHERE b > 0", abc);
  MakeView(6003, "V3", "SELECT a, b FROM v2 WHERE a < 100", ab);
  MakeView(6004, "V4", "SELECT a, b + 1 AS x FROM v3", {{"A", 3, 10, 0}, {"X", 3, 10, 0}});
  MakeView(6005, "VD3", "SELECT DISTINCT a, b FROM v3", ab);
  MakeView(6006, "VG3", "SELECT a, COUNT(*) AS n FROM v3 GROUP BY a", {{"A", 3, 10, 0}, {"N", 3, 10, 0}});
  MakeView(6007, "VOV", "SELECT a, n FROM vg3 WHERE n > 1", {{"A", 3, 10, 0}, {"N", 3, 10, 0}});
  for (int32_t id = 6001; id <= 6007; ++id) GrantChanges(id, {"A", "B", "C", "X"});
  ExpectCodes({
      {"INSERT INTO v3 VALUES (1, 2)", {}},
      {"INSERT INTO v3 (b) VALUES (2)", {}},
      {"INSERT INTO v4 (a) VALUES (1)", {}},
      {"INSERT INTO v4 VALUES (1, 2)", {-12261}},
      {"INSERT INTO vd3 VALUES (1, 2)", {-12258}},
      {"INSERT INTO vov VALUES (1, 2)", {-12258}},
      {"INSERT INTO v3 SELECT a, n FROM vov WHERE a IN (SELECT a FROM vd3)", {}},
      {"UPDATE v3 SET a = 1, a = 2", {-12268}},
      {"UPDATE v3 SET a = (SELECT MAX(a) FROM v3) WHERE b IN (SELECT a FROM v2)", {}},
      {"UPDATE v3 SET a = CASE WHEN EXISTS (SELECT * FROM v3) THEN 1 ELSE 2 END WHERE a = 1", {}},
      {"UPDATE v3 SET a = 1 WHERE COALESCE((SELECT MAX(a) FROM vg3), 0) > a", {}},
      {"UPDATE v4 SET x = 1", {-12238}},
      {"UPDATE v4 SET a = 1 WHERE x IN (SELECT n FROM vov)", {}},
      {"UPDATE vd3 SET a = 1 WHERE EXISTS (SELECT * FROM vd3)", {-12258}},
      {"DELETE FROM v3 WHERE a IN (SELECT a FROM v3 WHERE EXISTS (SELECT * FROM vg3))", {}},
      {"DELETE FROM v4 WHERE x = (SELECT MAX(x) FROM v4)", {}},
      {"DELETE FROM vov", {-12258}},
      {"DELETE FROM vov WHERE a IN (SELECT a FROM vov)", {-12258}},
      {"DELETE FROM v3 WHERE CASE WHEN a IN (SELECT a FROM s) THEN 1 ELSE 0 END = 1", {}},
  });
  ExpectCodes({
      {"CREATE VIEW v9 AS SELECT a FROM v4 WITH CHECK OPTION", {}},
      {"CREATE VIEW v9 AS SELECT a FROM vov WITH CHECK OPTION", {-12254}},
      {"CREATE VIEW v9 AS SELECT DISTINCT a FROM v3 WITH CHECK OPTION", {-12254}},
      {"CREATE VIEW v9 (p, q, r) AS SELECT a, b FROM v3", {-12253}},
      {"CREATE VIEW v9 (p, p) AS SELECT a, b FROM v3", {-12269}},
      {"CREATE VIEW v9 AS SELECT a + 1, b FROM v3", {-12251}},
      {"CREATE VIEW v9 AS SELECT a, a FROM v3", {-12252}},
  }, 2);
  SqlInstallOptimizerServices(nullptr);
}

// Very long lists: a view's column list of 600 names, more values or SET
// items than the walk's stack holds (its capacity error, nothing else), an
// INSERT naming 600 unknown columns (each reported, no count error).
TEST_F(SemanticDataChangeEdges, VeryLongLists) {
  std::string names, items, set, values;
  for (int i = 0; i < 600; ++i) {
    names += (i ? ", c" : "c") + std::to_string(i);
    items += i ? ", a" : "a";
  }
  for (int i = 0; i < 3000; ++i) {
    set += (i ? ", a = " : "a = ") + std::to_string(i);
    values += (i ? ", " : "") + std::to_string(i);
  }
  const std::string view = "CREATE VIEW vlong (" + names + ") AS SELECT " + items + " FROM t";
  const std::string shorter = "CREATE VIEW vlong (" + names + ") AS SELECT a FROM t";
  const std::string update = "UPDATE t SET " + set;
  const std::string insert = "INSERT INTO t VALUES (" + values + ")";
  ExpectCodes({{view.c_str(), {}}, {shorter.c_str(), {-12253}}}, 2);
  // The walk's capacity error abandons the compilation.
  EXPECT_EQ(Compile(update).Codes(), Codes{-11107}) << "3,000 SET items";
  EXPECT_EQ(Compile(insert).Codes(), Codes{-11107}) << "3,000 values";
  Compiled c = Compile("INSERT INTO t (" + names + ") VALUES (1)");
  EXPECT_EQ(c.Codes(), Codes(600, -12202)) << "600 unknown column names";
  EXPECT_EQ(c.depth_after, 0);
}

}  // namespace
