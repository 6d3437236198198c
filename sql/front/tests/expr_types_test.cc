// Expression typing over parsed statements: the select item or the WHERE
// condition of a query is typed bottom-up as the semantic walk does it, with
// its column references bound by hand to columns of known types.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "sql/front/compile_diag.h"
#include "sql/front/catalog_access.h"
#include "sql/front/compile_services.h"
#include "sql/front/expr_types.h"
#include "sql/front/sem_stack.h"
#include "sql/front/sql_lookup_services.h"
#include "sql/front/stmt_tree.h"
#include "sql/front/tests/expr_types_support.h"
#include "sql/front/tree_copy.h"

namespace {

using Type = TypedExpr;

// Columns of the tests' table, by name.
const std::map<std::string, HandColumn>& Columns() {
  static const std::map<std::string, HandColumn> columns = {
      {"I", {1, 10, 0, 201}},          {"N30", {3, 30, 0, 207}},      {"N2019", {3, 20, 19, 207}},
      {"N3010", {3, 30, 10, 207}},     {"N402", {3, 40, 2, 207}},     {"PRICE", {3, 10, 2, 207}},
      {"V6000", {8, 6000, -1, 0}},     {"D", {10, 8, 0, 0}},          {"TS3", {12, 17, 3, 0}},
      {"C1", {4, 10, -1, 0, 1, 7}},    {"C2", {4, 10, -1, 0, 1, 9}},  {"C3", {4, 10, -1, 0, 1, 7}},
      {"V", {8, 20, -1, 0}},           {"F", {2, 15, -1, 205}},       {"T", {11, 6, 0, 0}},
      {"NC", {34, 5, -1, 0}},          {"B", {29, 4, -1, 0}},         {"L", {32, 100, -1, 0}},
      {"L2", {32, 100, -1, 0}},        {"YM", {19, 2, 0, 0}},         {"DS", {22, 2, 6, 0}},
      {"NN", {1, 10, 0, 201, 0}},
  };
  return columns;
}

Type Select(const std::string& item, int32_t mode = 5) {
  return TypeExpression("SELECT " + item + " FROM tab", Columns(), TypedPlace::kSelectItem, mode);
}
Type Where(const std::string& condition, int32_t mode = 5) {
  return TypeExpression("SELECT i FROM tab WHERE " + condition, Columns(), TypedPlace::kWhere,
                        mode);
}

std::vector<int32_t> Codes(const Type& t) {
  std::vector<int32_t> out;
  for (const RecordedCondition& c : t.conditions) out.push_back(c.code);
  return out;
}

// ---- Types ------------------------------------------------------------------

struct ResultCase {
  const char* item;
  int32_t code, length, scale;
};

TEST(ExprTypesTest, ResultTypesOfOperatorsFunctionsAndCasts) {
  const ResultCase cases[] = {
      {"1 + 1.5", 3, 3, 1},
      {"1 / 1", 1, 1, 0},
      {"n3010 * n3010", 3, 45, 20},
      {"n3010 + i", 3, 31, 10},
      {"i - 1", 1, 11, 0},
      {"f * n3010", 2, 30, -1},
      {"CAST(1.5 AS VARCHAR(*))", 8, 4, -1},
      {"CAST(i AS CHAR(*))", 4, 11, -1},
      {"CAST(ts3 AS CHAR(*))", 4, 23, -1},
      {"CAST(f AS NCHAR(*))", 34, 22, -1},
      {"CAST(ym AS VARCHAR(*))", 8, 4, -1},
      {"CAST(ts3 AS TIME)", 11, 6, 0},
      {"CAST(d AS TIMESTAMP)", 12, 20, 6},
      {"EXTRACT(SECOND FROM ts3)", 3, 5, 3},
      {"EXTRACT(YEAR FROM d)", 1, 5, 0},
      {"EXTRACT(DAY FROM ds)", 1, 5, 0},
      // An interval's descriptor holds its stored digits (DAY(2): 2 + 5);
      // its leading field has the leading precision's digits.
      {"EXTRACT(DAY FROM INTERVAL '12' DAY)", 1, 5, 0},
      {"EXTRACT(DAY FROM INTERVAL '12' DAY(5))", 1, 10, 0},
      {"EXTRACT(HOUR FROM INTERVAL '1' HOUR(8) TO MINUTE)", 1, 10, 0},
      {"EXTRACT(YEAR FROM INTERVAL '1-2' YEAR(4) TO MONTH)", 1, 5, 0},
      {"EXTRACT(SECOND FROM INTERVAL '12' SECOND)", 3, 8, 6},
      {"EXTRACT(SECOND FROM INTERVAL '1' MINUTE TO SECOND(3))", 3, 5, 3},
      {"SUM(n402)", 3, 45, 2},
      {"AVG(price)", 3, 20, 12},
      {"AVG(i)", 1, 10, 0},
      {"SUM(i)", 1, 20, 0},
      {"COUNT(*)", 1, 10, 0},
      {"MAX(v)", 8, 20, -1},
      {"v || 'ab'", 8, 22, -1},
      {"'ab' || 'c'", 4, 3, -1},
      {"UPPER(v)", 8, 20, -1},
      {"SUBSTRING(v FROM 2 FOR 3)", 8, 20, -1},
      {"POSITION('a' IN v)", 1, 2, 0},
      {"CHAR_LENGTH(v)", 1, 10, 0},
      {"ABS(price)", 3, 10, 2},
      {"FLOOR(price)", 1, 8, 0},
      {"MOD(i, 3)", 1, 10, 0},
      {"ROUND(price, 1)", 3, 11, 2},
      {"DSQRT(f)", 2, 16, -1},
      {"CASE WHEN i > 1 THEN 1 ELSE 2.5 END", 3, 2, 1},
      {"CASE WHEN i > 1 THEN NULL ELSE v END", 8, 20, -1},
      {"CASE WHEN i > 1 THEN f ELSE 1 END", 2, 16, -1},
      {"d + ym", 10, 8, 0},
      {"ym + d", 10, 8, 0},
      {"INTERVAL '2' DAY + ts3", 12, 17, 3},
      {"ds + ds", 22, 3, 6},
      // An interval without seconds has no fraction, whatever seconds
      // precision its type phrase left in the descriptor's scale.
      {"INTERVAL '1' DAY + INTERVAL '1' HOUR", 20, 8, 0},
      {"INTERVAL '1' YEAR + INTERVAL '1' MONTH", 19, 5, 0},
      {"INTERVAL '1' MINUTE + INTERVAL '1' SECOND(2, 3)", 25, 8, 3},
      {"CASE WHEN i > 1 THEN INTERVAL '1' DAY ELSE INTERVAL '1' HOUR END", 20, 7, 0},
      {"- price", 3, 10, 2},
  };
  for (const ResultCase& c : cases) {
    SCOPED_TRACE(c.item);
    Type t = Select(c.item);
    EXPECT_TRUE(t.conditions.empty()) << t.conditions.front().code;
    EXPECT_EQ(t.code, c.code);
    EXPECT_EQ(t.length, c.length);
    EXPECT_EQ(t.scale, c.scale);
  }
}

struct ErrorCase {
  const char* item;
  int32_t code;
  const char* text;  // parameter text, null to skip the check
};

TEST(ExprTypesTest, UserErrorsWithTheirParameters) {
  const ErrorCase cases[] = {
      {"n30 / n2019", -12266, ""},
      {"v6000 || N'b'", -12215, "N\tCHARACTER"},
      {"d + INTERVAL '1' HOUR", -12216, ""},
      {"t + INTERVAL '1' DAY", -12216, ""},
      {"EXTRACT(HOUR FROM d)", -12278, ""},
      {"CASE WHEN i > 1 THEN NULL ELSE NULL END", -12275, ""},
      {"CAST(d AS TIME)", -12277, ""},
      {"v + 1", -12215, "N\tNUMERIC"},
      {"UPPER(i)", -12214, "N\tCHARACTER"},
      {"SUM(v)", -12214, "N\tNUMERIC or INTERVAL"},
      {"SUBSTRING(v FROM 'a')", -12214, "N\tINTEGER"},
      {"EXTRACT(YEAR FROM i)", -12214, "N\tDATETIME or INTERVAL"},
      {"CASE WHEN i > 1 THEN v ELSE 1 END", -12273, ""},
      {"d + 1", -12215, "N\tINTERVAL"},
      // An interval minus a datetime has no meaning: not turned round.
      {"ym - d", -12215, "N\tINTERVAL"},
      {"INTERVAL '2' DAY - ts3", -12215, "N\tINTERVAL"},
      {"ym + ds", -12216, ""},
      {"SUM(COUNT(*))", -12210, ""},
      {"COUNT(DISTINCT l)", -12643, ""},
      {"SUM(DISTINCT i) * 2", -12217, ""},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.item);
    Type t = Select(c.item);
    ASSERT_EQ(t.conditions.size(), 1u) << (t.conditions.empty() ? 0 : t.conditions[1].code);
    EXPECT_EQ(t.conditions[0].code, c.code);
    EXPECT_EQ(t.conditions[0].severity, 3);
    if (c.text != nullptr) {
      EXPECT_EQ(t.conditions[0].text, c.text);
    }
    EXPECT_EQ(t.cls, 0);
  }
}

// ZZ is no column of the table: it stays unbound with class 0, as after its
// own error, and the operator over it reports nothing more.
TEST(ExprTypesTest, AnOperandInErrorBringsNoSecondError) {
  for (const char* item : {"zz || N'b'", "zz || x'00'", "zz + INTERVAL '1' DAY", "zz * ds",
                           "zz - ym", "zz + 1", "N'b' || zz"}) {
    SCOPED_TRACE(item);
    Type t = Select(item);
    EXPECT_TRUE(t.conditions.empty()) << Codes(t)[0];
    EXPECT_EQ(t.cls, 0);
  }
}

TEST(ExprTypesTest, CastsCarryTheRangeOfTheirVariant) {
  Type small = Select("CAST(f AS SMALLINT)");
  EXPECT_TRUE(small.conditions.empty());
  EXPECT_EQ(small.variant, 202);
  EXPECT_EQ(small.guard, "(( < -32768) OR ( > 32767))");
  EXPECT_EQ(Select("CAST(f AS NUMERIC(9,2))").guard, "");
}

TEST(ExprTypesTest, CharacterBesideNationalIsCastUnlessTooLong) {
  Type t = Select("'a' || N'b'");
  EXPECT_TRUE(t.conditions.empty());
  EXPECT_EQ(t.left_kind, kExprCast);
  EXPECT_EQ(t.code, 34);
  EXPECT_EQ(t.length, 2);
  Type long_one = Select("v6000 || N'b'");
  EXPECT_EQ(long_one.left_kind, kExprColumnRef);  // left as it was
}

TEST(ExprTypesTest, ComparisonsAndCollations) {
  Type t = Where("c1 = c2");
  EXPECT_EQ(Codes(t), std::vector<int32_t>{-12637});
  EXPECT_EQ(t.cls, 6);
  // The same collation is no fault, and the comparison's operands are put
  // under collation nodes.
  Type same = Where("c1 = c3");
  EXPECT_TRUE(same.conditions.empty());
  EXPECT_EQ(same.left_kind, 100);
  // A null test keeps its null operand bare.
  Type null_test = Where("c1 IS NULL");
  EXPECT_TRUE(null_test.conditions.empty());
  EXPECT_EQ(null_test.left_kind, kExprColumnRef);
  EXPECT_EQ(null_test.printed, "(C1 IS NULL)");
  // A character column against a numeric one: the type error only.
  EXPECT_EQ(Codes(Where("c1 = i")), std::vector<int32_t>{-12216});
  EXPECT_EQ(Codes(Where("l = l2")), std::vector<int32_t>{-12216});
  // CASE results share one collation; a literal takes the column's.
  EXPECT_EQ(Codes(Select("CASE WHEN i > 1 THEN c1 ELSE c2 END")), std::vector<int32_t>{-12274});
  Type shared = Select("CASE WHEN i > 1 THEN c1 ELSE 'x' END");
  EXPECT_TRUE(shared.conditions.empty());
  EXPECT_EQ(shared.collation, 7);
  // Concatenated operands of two collations have none.
  Type cat = Select("c1 || c2");
  EXPECT_TRUE(cat.conditions.empty());
  EXPECT_EQ(cat.collation, 0);
}

// ---- Markers and host variables ----------------------------------------------

TEST(ExprTypesTest, MarkersTakeTheirTypeFromTheOtherSide) {
  EXPECT_EQ(Codes(Where("? = ?")), std::vector<int32_t>{-12262});
  Type cat = Select("? || ?");
  ASSERT_EQ(cat.hosts.size(), 2u);
  EXPECT_EQ(cat.hosts[0].code, 8);
  EXPECT_EQ(cat.hosts[0].length, 5000);
  EXPECT_EQ(cat.hosts[1].code, 8);
  EXPECT_EQ(cat.hosts[1].length, 15000);
  Type right = Where("price > ?");
  ASSERT_EQ(right.hosts.size(), 1u);
  EXPECT_EQ(right.hosts[0].code, 3);
  EXPECT_EQ(right.hosts[0].length, 45);
  EXPECT_EQ(right.hosts[0].scale, 2);
  Type left = Where("? < price");
  ASSERT_EQ(left.hosts.size(), 1u);
  EXPECT_EQ(left.hosts[0].length, 43);
  EXPECT_EQ(left.hosts[0].scale, 2);
  Type literal = Select("'ab' || ?");
  ASSERT_EQ(literal.hosts.size(), 1u);
  EXPECT_EQ(literal.hosts[0].length, 15000);
  EXPECT_EQ(Codes(Where("? IS NULL")), std::vector<int32_t>{-12262});
}

TEST(ExprTypesTest, NamedHostVariableIsNullableOnlyWithAnIndicator) {
  Type named = Where("i = :h");
  ASSERT_EQ(named.hosts.size(), 1u);
  EXPECT_EQ(named.hosts[0].nullable, 0);
  Type marker = Where("i = ?");
  ASSERT_EQ(marker.hosts.size(), 1u);
  EXPECT_EQ(marker.hosts[0].nullable, 1);
  Type indicator = Where("i = :h INDICATOR :k");
  ASSERT_EQ(indicator.hosts.size(), 1u);
  EXPECT_EQ(indicator.hosts[0].nullable, 1);
}

TEST(ExprTypesTest, HostVariablesRefusedInModeThree) {
  EXPECT_EQ(Codes(Where("i = ?", 3)), std::vector<int32_t>{-12263});
}

TEST(ExprTypesTest, HostVariablesOfTheRequestAndTooFewOfThem) {
  // Mode 0: the request describes the host variables (kind 4: INT, kind 1:
  // CHAR); a list shorter than the markers is an internal error that ends the
  // compilation.
  const int32_t two[] = {4, 10, 0, 1, 20, 0, 0};
  Type t = TypeExpression("SELECT i FROM tab WHERE ? = ? || ?", Columns(), TypedPlace::kWhere, 0,
                          two);
  ASSERT_FALSE(t.conditions.empty());
  EXPECT_EQ(t.conditions.back().code, -19212);
  EXPECT_EQ(t.conditions.back().severity, 5);
  EXPECT_EQ(t.conditions.back().text, "N\tQME: qmahos");
  const int32_t three[] = {1, 10, 0, 1, 20, 0, 1, 5, 0, 0};
  Type ok = TypeExpression("SELECT i FROM tab WHERE ? = ? || ?", Columns(), TypedPlace::kWhere, 0,
                           three);
  EXPECT_TRUE(ok.conditions.empty()) << ok.conditions[0].code << ok.conditions[0].text;
  ASSERT_EQ(ok.hosts.size(), 3u);
  EXPECT_EQ(ok.hosts[0].nullable, 0);
  EXPECT_EQ(ok.hosts[2].length, 5);
}

TEST(ExprTypesTest, HostVariableRetypedInModeOne) {
  const int32_t one[] = {1, 20, 0, 0};  // a CHAR(20) host variable
  Type t = TypeExpression("SELECT i FROM tab WHERE price > ?", Columns(), TypedPlace::kWhere, 1,
                          one);
  EXPECT_TRUE(t.conditions.empty());
  ASSERT_EQ(t.hosts.size(), 1u);
  EXPECT_EQ(t.hosts[0].code, 3);
  EXPECT_EQ(t.hosts[0].length, 20);  // its own length (capped at 45)
  EXPECT_EQ(t.hosts[0].scale, 2);
}

// ---- REPEAT and REPLACE lengths ------------------------------------------------

TEST(ExprTypesTest, RepeatAndReplaceLengthsAreHeldToTheLongestValue) {
  const ResultCase cases[] = {
      {"REPEAT(v, 3)", 8, 60, -1},
      {"REPEAT(v, 0)", 8, 20, -1},
      {"REPEAT('a', 7)", 8, 7, -1},
      {"REPEAT(v, i)", 8, 15000, -1},
      {"REPEAT(nc, i)", 35, 5000, -1},
      {"REPEAT(nc, 2)", 35, 10, -1},
      // 20 x 300000000 is 6e9: it wraps 32 bits (to 1705032704), not 64.
      {"REPEAT(v, 300000000)", 8, 15000, -1},
      {"REPEAT(v, 2147483647)", 8, 15000, -1},
      {"REPEAT(nc, 2147483647)", 35, 5000, -1},
      {"REPLACE(v, 'a', 'bcd')", 8, 60, -1},
      {"REPLACE(v, 'a', v6000)", 8, 15000, -1},
      {"REPLACE(v6000, 'a', v6000)", 8, 15000, -1},
      {"REPLACE(nc, N'a', N'bcdefghijklmnopqrstuvwxyz0123456789')", 35, 175, -1},
      {"REPLACE(v, 'a', '')", 8, 20, -1},
  };
  for (const ResultCase& c : cases) {
    SCOPED_TRACE(c.item);
    Type t = Select(c.item);
    EXPECT_TRUE(t.conditions.empty());
    EXPECT_EQ(t.code, c.code);
    EXPECT_EQ(t.length, c.length);
  }
}

// ---- The type model's tables ----------------------------------------------------

TEST(ExprTypesTest, ConversionMatrixAndClasses) {
  EXPECT_EQ(qmcnvchk(1, 8), 1);
  EXPECT_EQ(qmcnvchk(2, 13), 0);
  EXPECT_EQ(qmcnvchk(4, 32), 0);
  EXPECT_EQ(qmcnvchk(8, 22), 1);
  EXPECT_EQ(qmcnvchk(10, 11), 0);
  EXPECT_EQ(qmcnvchk(12, 11), 1);
  EXPECT_EQ(qmcnvchk(19, 1), 0);
  EXPECT_EQ(qmcnvchk(15, 24), 1);
  EXPECT_EQ(qmcnvchk(29, 1), 0);
  EXPECT_EQ(qmcnvchk(35, 29), 0);
  EXPECT_EQ(qmcnvchk(0, 31), 1);
  EXPECT_EQ(qmcnvchk(36, 1), 0);
  EXPECT_EQ(qmcnvchk(31, 31), 0);
  for (int32_t code = 1; code <= 35; ++code) {
    EXPECT_EQ(qmcnvchk(code, 0), 1);
    // Every code the matrix gives a row converts to text but the objects.
    if (code < 31 || code > 33) {
      EXPECT_EQ(qmcnvchk(8, code), 1) << code;
    }
  }
  EXPECT_EQ(qmtypcls(19), 26);
  EXPECT_EQ(qmtypcls(25), 27);
  EXPECT_EQ(qmtypcls(30), 29);
  EXPECT_EQ(qmtypcls(9), 0);
  EXPECT_EQ(qmsamecls(0, 31), 0);
  EXPECT_EQ(qmsamecls(0, 12), 1);
  EXPECT_EQ(qmsamecls(5, 4), 0);
  EXPECT_EQ(qmintvspan(13, 14), 19);
  EXPECT_EQ(qmintvspan(16, 21), 21);
  EXPECT_EQ(qmintvspan(17, 24), 24);
  EXPECT_EQ(qmintvspan(13, 15), 0);
  EXPECT_EQ(qmderclass(3, 5), 8);
  EXPECT_EQ(qmderclass(5, 6), 7);
  EXPECT_EQ(qmderclass(1, 5), 2);
}

TEST(ExprTypesTest, DivisionEdges) {
  const ResultCase cases[] = {
      {"n30 / i", 3, 40, 10},
  };
  for (const ResultCase& c : cases) {
    SCOPED_TRACE(c.item);
    Type t = Select(c.item);
    EXPECT_EQ(t.code, c.code);
    EXPECT_EQ(t.length, c.length);
    EXPECT_EQ(t.scale, c.scale);
  }
  // NUMERIC(45,40) / NUMERIC(45,0) keeps NUMERIC(45,40): the model rule alone.
  TestContext tc;
  FakeKernel kernel;
  qqwsnewblk(&tc.ctx);
  int32_t a[] = {3, 45, 40, 0};
  int32_t b[] = {3, 45, 0, 0};
  int32_t node = ExprOfKind(&tc.ctx, 4, nullptr, 0, 0);
  int32_t t = qmarithtype(&tc.ctx, node, 4, TreeRecord(&tc.ctx, 4, a), TreeRecord(&tc.ctx, 4, b));
  ASSERT_NE(t, 0);
  EXPECT_EQ(WsWord(&tc.ctx, t, 0), 3);
  EXPECT_EQ(WsWord(&tc.ctx, t, 1), 45);
  EXPECT_EQ(WsWord(&tc.ctx, t, 2), 40);
}

TEST(ExprTypesTest, CommonTypes) {
  TestContext tc;
  FakeKernel kernel;
  qqwsnewblk(&tc.ctx);
  struct Common {
    int32_t a[4], b[4];
    int32_t keep;
    int32_t out[4], cls;
  };
  const Common cases[] = {
      {{4, 5, -1, 0}, {4, 9, -1, 0}, 0, {4, 9, 0, 0}, 4},
      {{4, 5, -1, 0}, {8, 3, -1, 0}, 0, {8, 5, 0, 0}, 4},
      {{29, 4, -1, 0}, {29, 4, -1, 0}, 0, {29, 4, 0, 0}, 29},
      {{29, 4, -1, 0}, {29, 6, -1, 0}, 0, {30, 6, 0, 0}, 29},
      {{1, 10, 0, 201}, {3, 12, 4, 0}, 0, {3, 14, 4, 0}, 5},
      {{1, 10, 0, 201}, {1, 5, 0, 202}, 0, {1, 10, 0, 0}, 5},
      {{1, 10, 0, 201}, {1, 5, 0, 201}, 1, {1, 10, 0, 201}, 5},
      {{2, 7, -1, 204}, {1, 5, 0, 0}, 0, {2, 7, -1, 204}, 5},
      {{2, 15, -1, 0}, {3, 5, 0, 0}, 0, {2, 16, -1, 205}, 5},
      {{2, 20, -1, 0}, {2, 5, -1, 0}, 0, {2, 20, -1, 0}, 5},
      {{13, 2, 0, 0}, {14, 3, 0, 0}, 0, {19, 3, 0, 0}, 26},
  };
  for (const Common& c : cases) {
    int32_t out = 0;
    int32_t cls = 0;
    qmcommontype(&tc.ctx, TreeRecord(&tc.ctx, 4, c.a), TreeRecord(&tc.ctx, 4, c.b), &out, &cls,
                 c.keep);
    for (int32_t i = 0; i < 4; ++i) EXPECT_EQ(WsWord(&tc.ctx, out, i), c.out[i]) << c.a[0] << i;
    EXPECT_EQ(cls, c.cls);
  }
}

TEST(ExprTypesTest, OverlapsBecomesComparisons) {
  Type t = Where("(d, INTERVAL '1' DAY) OVERLAPS (d, d)");
  EXPECT_TRUE(t.conditions.empty());
  EXPECT_EQ(t.kind, 9);
  EXPECT_EQ(t.cls, 6);
  // The first pair's end is its start plus the interval.
  EXPECT_NE(t.printed.find("(D + '1')"), std::string::npos) << t.printed;
  Type negated = Where("NOT (d, d) OVERLAPS (d, d)");
  EXPECT_EQ(negated.kind, 8);
  EXPECT_EQ(Codes(Where("(i, d) OVERLAPS (d, d)")), std::vector<int32_t>{-12215});
  EXPECT_EQ(Codes(Where("(d, INTERVAL '1' HOUR) OVERLAPS (d, d)")),
            std::vector<int32_t>{-12216});
}

TEST(ExprTypesTest, DatetimeDifferencesWithTheirQualifier) {
  Type t = Select("(ts3 - ts3) DAY TO SECOND");
  EXPECT_TRUE(t.conditions.empty()) << Codes(t)[0];
  EXPECT_EQ(t.code, 22);
  EXPECT_EQ(t.cls, 27);
  EXPECT_EQ(Codes(Select("(i - i) DAY")), std::vector<int32_t>{-12215});
  EXPECT_EQ(Select("(i - i) DAY").conditions[0].text, "N\tDATETIME");
  EXPECT_EQ(Codes(Select("(d - ts3) DAY")), std::vector<int32_t>{-12216});
  EXPECT_EQ(Codes(Select("(t - t) YEAR")), std::vector<int32_t>{-12215});
}

TEST(ExprTypesTest, PredicatesAndNiladicValues) {
  // LIKE (a pattern without a literal prefix, which would make a key range):
  // the value must be a string, the pattern of its family.
  Type like = Where("v LIKE '%a' ESCAPE '!'");
  EXPECT_TRUE(like.conditions.empty());
  EXPECT_EQ(like.cls, 6);
  EXPECT_EQ(like.derivation, 8);
  EXPECT_EQ(Codes(Where("i LIKE '%a'")), std::vector<int32_t>{-12215});
  EXPECT_EQ(Codes(Where("nc LIKE '%a'")), std::vector<int32_t>{});  // the pattern is cast
  EXPECT_EQ(like.likes, 1);
  // A literal prefix makes a key range over the value that carries the LIKE,
  // walked after the range: a fault of the value is reported once.
  Type range = Where("v LIKE 'a%'");
  EXPECT_TRUE(range.conditions.empty());
  EXPECT_EQ(range.kind, 8);
  EXPECT_EQ(range.likes, 1);
  EXPECT_EQ(Codes(Where("i LIKE 'a%'")), std::vector<int32_t>{-12216});
  Type marker = Where("v LIKE ?");
  ASSERT_EQ(marker.hosts.size(), 1u);
  EXPECT_EQ(marker.hosts[0].code, 4);
  EXPECT_EQ(marker.hosts[0].length, 61);  // 3 x 20 + 1
  Type user = Select("CURRENT_USER");
  EXPECT_EQ(user.code, 8);
  EXPECT_EQ(user.length, 128);
  EXPECT_EQ(user.nullable, 0);
  Type now = Select("CURRENT_TIMESTAMP");
  EXPECT_EQ(now.cls, 12);
  EXPECT_EQ(now.derivation, 3);
  EXPECT_EQ(Select("TRIM(v)").length, 20);
  EXPECT_EQ(Codes(Select("TRIM(N'a' FROM b)")), std::vector<int32_t>{-12214});
  EXPECT_EQ(Select("ASCII_CHAR(65)").code, 4);
  EXPECT_EQ(Select("SOUNDEX(v)").length, 6);
  EXPECT_EQ(Select("DAYOFYEAR(d)").length, 3);
  EXPECT_EQ(Codes(Select("DAYOFYEAR(t)")), std::vector<int32_t>{-12214});
  EXPECT_EQ(Select("IRAND()").length, 10);
  EXPECT_EQ(Select("CEILING(f)").length, 45);
  EXPECT_EQ(Select("SIGN(i)").length, 1);
  EXPECT_EQ(Select("DATAN2(f, 1)").length, 16);
  EXPECT_EQ(Codes(Select("MOD(price, 2)")), std::vector<int32_t>{-12214});
}

TEST(ExprTypesTest, AggregatesOutsideTheSelectListAndNested) {
  EXPECT_EQ(Codes(Where("SUM(i) > 1")), std::vector<int32_t>{-12213});
}

// A model dictionary of one function F(INTEGER, VARCHAR(10)) RETURNS
// NUMERIC(12,2), and a procedure P.
int32_t ModelRoutine(int32_t, bool, char*, int32_t*, char* name, int32_t*, int32_t* answer) {
  if (std::strcmp(name, "F") != 0 && std::strcmp(name, "P") != 0) return 100;
  const int32_t words[7] = {77, name[0] == 'F' ? 1 : 2, 0, 0, 0, 2, 0};
  std::memcpy(answer, words, sizeof words);
  return 0;
}
int32_t ModelParams(int32_t, int32_t, int32_t position, int32_t, char* name, int32_t* length,
                    char* mode, int32_t* triple) {
  if (position > 2) return 100;
  std::strcpy(name, position == 1 ? "X" : "Y");
  *length = 1;
  std::strcpy(mode, "IN");
  triple[0] = position == 1 ? 3 : 5;  // dictionary types INTEGER, VARCHAR
  triple[1] = position == 1 ? 10 : 10;
  triple[2] = 0;
  return 0;
}
int32_t ModelResult(int32_t, int32_t, int32_t position, char* name, int32_t* length,
                    int32_t* triple) {
  if (position > 1) return 100;
  std::strcpy(name, "R");
  *length = 1;
  triple[0] = 2;  // NUMERIC
  triple[1] = 12;
  triple[2] = 2;
  return 0;
}

TEST(ExprTypesTest, StoredFunctionCalls) {
  SqlDictionaryServices model;
  model.routine = ModelRoutine;
  model.params = ModelParams;
  model.param_cols = ModelResult;
  SqlDictionaryServices old = SqlInstallDictionaryServices(&model);
  auto call = [](const std::string& item, const char* routine = "F") {
    return TypeExpression("SELECT " + item + " FROM tab", Columns(), TypedPlace::kSelectItem, 5,
                          nullptr, routine);
  };
  Type t = call("F(price, v)");
  EXPECT_TRUE(t.conditions.empty()) << Codes(t)[0];
  EXPECT_EQ(t.code, 3);
  EXPECT_EQ(t.length, 12);
  EXPECT_EQ(t.scale, 2);
  EXPECT_EQ(t.derivation, 3);
  // The numeric argument is cast to INTEGER, the character one to VARCHAR.
  EXPECT_NE(t.printed.find("CAST(PRICE AS T)"), std::string::npos) << t.printed;
  Type marker = call("F(?, ?)");
  EXPECT_TRUE(marker.conditions.empty());
  ASSERT_EQ(marker.hosts.size(), 2u);
  EXPECT_EQ(marker.hosts[0].code, 1);
  EXPECT_EQ(marker.hosts[1].code, 8);
  Type few = call("F(1)");
  ASSERT_EQ(Codes(few), std::vector<int32_t>{-12735});
  EXPECT_EQ(few.conditions[0].text, "C\t2");
  Type wrong = call("F(d, v)");
  ASSERT_EQ(Codes(wrong), std::vector<int32_t>{-12736});
  EXPECT_EQ(wrong.conditions[0].text, "N\tNUMERIC");
  Type procedure = call("P(1, 'a')", "P");
  ASSERT_EQ(Codes(procedure), std::vector<int32_t>{-12849});
  EXPECT_EQ(procedure.conditions[0].text, "C\tP");
  SqlInstallDictionaryServices(&old);
}

int32_t ModelSequence(int32_t, int32_t, char*, int32_t*, char* name, int32_t*, int32_t* id) {
  if (std::strcmp(name, "ORDER_NO") != 0) return 100;
  *id = 55;
  return 0;
}

TEST(ExprTypesTest, SequenceReferences) {
  SqlDictionaryServices model;
  model.sequence = ModelSequence;
  SqlDictionaryServices old = SqlInstallDictionaryServices(&model);
  Type t = Select("NEXT_VALUE OF adam.order_no");
  EXPECT_TRUE(t.conditions.empty());
  EXPECT_EQ(t.code, 1);
  EXPECT_EQ(t.length, 10);
  EXPECT_EQ(t.variant, 201);
  EXPECT_EQ(t.nullable, 0);
  Type missing = Select("CURRENT_VALUE OF adam.nosuch");
  ASSERT_EQ(Codes(missing), std::vector<int32_t>{-12834});
  EXPECT_EQ(missing.conditions[0].text, "H\tADAM.NOSUCH");
  SqlInstallDictionaryServices(&old);
}

TEST(ExprTypesTest, ReferenceNames) {
  Type t = Select("s.tab.c1");
  EXPECT_EQ(t.column_name, "S.TAB.C1");
  std::string long_name(200, 'X');
  Type cut = Select("\"" + long_name + "\"");
  EXPECT_EQ(cut.column_name, std::string(128, 'X'));
}

// Random expressions over columns of every type, literals, markers and
// NULL, nested through operators and functions: typing gives only user
// errors of severity 3 from the typing's own codes, never an internal
// error, and a typed result has a class.
TEST(ExprTypesTest, RandomExpressionsOverEveryType) {
  std::mt19937 rng(136);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
  const char* const leaves[] = {"i",   "n30",  "price", "f",   "v",    "c1",  "nc",
                                "b",   "l",    "d",     "ts3", "t",    "ym",  "ds",
                                "1",   "1.5",  "'ab'",  "N'x'", "X'0F'", "?", "NULL",
                                "DATE '2020-01-02'", "INTERVAL '3' DAY", "zz"};
  const char* const forms[] = {
      "{} + {}", "{} - {}", "{} * {}", "{} / {}", "{} || {}", "- {}", "ABS({})", "MOD({}, {})",
      "UPPER({})", "CHAR_LENGTH({})", "SUBSTRING({} FROM {})", "TRIM({})", "POSITION({} IN {})",
      "REPEAT({}, {})", "REPLACE({}, {}, {})", "EXTRACT(DAY FROM {})", "EXTRACT(SECOND FROM {})",
      "CAST({} AS CHAR(*))", "CAST({} AS NUMERIC(9,2))", "CAST({} AS TIMESTAMP)",
      "CAST({} AS INTERVAL DAY)", "CASE WHEN {} = {} THEN {} ELSE {} END", "COALESCE({}, {})",
      "NULLIF({}, {})", "SUM({})", "AVG({})", "MAX({})", "COUNT(DISTINCT {})", "ROUND({}, {})",
      "FLOOR({})", "DSQRT({})", "SOUNDEX({})", "DAYOFWEEK({})"};
  std::function<std::string(int)> expr = [&](int depth) -> std::string {
    if (depth <= 0 || pick(4) == 0) return leaves[pick(static_cast<int>(std::size(leaves)))];
    std::string form = forms[pick(static_cast<int>(std::size(forms)))];
    std::string out;
    for (size_t at = 0; at < form.size(); ++at) {
      if (form.compare(at, 2, "{}") == 0) {
        out += expr(depth - 1);
        ++at;
      } else {
        out += form[at];
      }
    }
    return out;
  };
  const std::set<int32_t> known = {-12202, -12210, -12212, -12213, -12214, -12215, -12216,
                                   -12217, -12226, -12230, -12262, -12265, -12266, -12273,
                                   -12274, -12275, -12277, -12278, -12643, -12637, -12101,
                                   -12102, -12103, -12104, -12106, -12107};
  for (int i = 0; i < 1500; ++i) {
    std::string item = expr(3);
    SCOPED_TRACE(item);
    Type t = i % 2 == 0 ? Select(item) : Where(item + " = " + expr(2));
    for (const RecordedCondition& c : t.conditions) {
      EXPECT_LE(c.severity, 3) << c.code << " " << c.text;
      EXPECT_TRUE(known.count(c.code) != 0) << c.code << " " << c.text;
    }
  }
}

TEST(ExprTypesTest, GrammarCollationAndNameEntriesAreTheReferenceChecks) {
  // Without installed look-ups the grammar reaches the built-in functions
  // through the reference checks' name display.
  SqlLookupServices defaults = SqlInstallLookupServices(nullptr);
  SqlInstallLookupServices(&defaults);
  EXPECT_NE(defaults.qmcoll, nullptr);
  EXPECT_NE(defaults.qmrefname, nullptr);
}

}  // namespace
