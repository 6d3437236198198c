// Stored trees over a model dictionary: an image stored under an id comes
// back through the copy as it was parsed; a missing one restarts the phase;
// column defaults by kind; range conditions printed as SQL and evaluated by
// SQLite.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstring>
#include <map>
#include <random>
#include <string>

#include "sql/front/compile_diag.h"
#include "sql/front/sql_tree_print.h"
#include "sql/front/stored_trees.h"
#include "sql/front/tests/sql_grammar_support.h"
#include "sql/front/tree_copy.h"

namespace {

std::map<int32_t, std::string> g_images;  // stored item 59 by object id
std::string g_domain_default;

// Dictionary errors: the presence of object 66, the read of object 67.
constexpr int32_t kInfoFails = 66, kReadFails = 67, kDictionaryError = -19113;

int32_t SourceInfo(int32_t, int32_t id, int32_t item, int32_t* total) {
  if (id == kInfoFails) return kDictionaryError;
  if (id == kReadFails) {
    *total = 64;
    return 0;
  }
  auto it = g_images.find(id);
  if (item != kStoredTreeItem || it == g_images.end()) return 1;
  *total = static_cast<int32_t>(it->second.size());
  return 0;
}

int32_t SourceRead(int32_t, int32_t id, int32_t, uint8_t* buffer, int32_t capacity,
                   int32_t* length) {
  if (id == kReadFails) return kDictionaryError;
  auto it = g_images.find(id);
  if (it == g_images.end()) return -19007;
  int32_t n = std::min(capacity, static_cast<int32_t>(it->second.size()));
  std::memcpy(buffer, it->second.data(), static_cast<size_t>(n));
  *length = n;
  return 0;
}

int32_t DomainDefault(int32_t, int32_t, uint8_t* text3, int32_t* length) {
  for (size_t i = 0; i < g_domain_default.size(); ++i) {
    text3[3 * i] = 0;
    text3[3 * i + 1] = 0;
    text3[3 * i + 2] = static_cast<uint8_t>(g_domain_default[i]);
  }
  *length = static_cast<int32_t>(g_domain_default.size());
  return 0;
}

// Parses a statement and stores its block's image under `id`, the root word
// the statement (`expression` false) or its WHERE condition.
std::string Store(int32_t id, const std::string& text, bool expression) {
  std::string printed;
  g_images[id] = ParsedTreeImage(text, expression, &printed);
  return printed;
}

class StoredTrees : public ::testing::Test {
 protected:
  void SetUp() override {
    SqlDictionaryServices s;
    s.source_info = SourceInfo;
    s.source_read = SourceRead;
    s.domain_default = DomainDefault;
    old_ = SqlInstallDictionaryServices(&s);
  }
  void TearDown() override {
    SqlInstallDictionaryServices(&old_);
    g_images.clear();
  }
  SqlDictionaryServices old_;
};

TEST_F(StoredTrees, StoredViewsAndChecksComeBackAsStored) {
  std::string view = Store(59, "SELECT a, b AS x FROM t u JOIN s ON u.a = s.b WHERE a > 1 OR "
                               "b IN (SELECT c FROM s WHERE c IS NULL)", false);
  std::string check = Store(60, "SELECT a FROM t WHERE CASE WHEN a > 1 THEN b END BETWEEN 2 AND 3",
                            true);
  FakeKernel kernel;
  TestContext tc(1 << 20);
  int32_t statement = qqwsnewblk(&tc.ctx);
  qqwsal(&tc.ctx, 64);  // the statement's own records before the copies
  int32_t copy = qmcopyview(&tc.ctx, 59);
  EXPECT_EQ(qqwscur(&tc.ctx), statement);
  EXPECT_EQ(SqlPrintStatement(&tc.ctx, copy), view);
  int32_t expression = qmcopytree(&tc.ctx, 7, 60);
  EXPECT_EQ(SqlPrintExpression(&tc.ctx, expression), check);
  EXPECT_EQ(tc.ctx.ws.chain_head, statement);  // the fetched blocks are gone
  EXPECT_TRUE(FakeKernel::conditions.empty());
}

TEST_F(StoredTrees, MissingTreeRestartsThePhase) {
  FakeKernel kernel;
  TestContext tc;
  qqwsnewblk(&tc.ctx);
  bool jumped = false;
  try {
    qmcopyview(&tc.ctx, 4242);
  } catch (const CompileJump&) {
    jumped = true;
  }
  EXPECT_TRUE(jumped);
  EXPECT_EQ(tc.ctx.error_code, -1);
  EXPECT_EQ(tc.ctx.missing_object, 4242);
  EXPECT_TRUE(FakeKernel::conditions.empty());  // no dictionary error
  // A damaged image (a root past its end) is the fetch's internal error.
  g_images[5] = std::string(32, '\0');
  int32_t far = 1000;
  std::memcpy(g_images[5].data() + 8, &far, 4);
  FakeKernel::conditions.clear();
  try {
    qmcopytree(&tc.ctx, 1, 5);
  } catch (const CompileJump&) {
  }
  ASSERT_EQ(FakeKernel::conditions.size(), 1u);
  EXPECT_EQ(FakeKernel::conditions[0].code, -19220);
}

TEST_F(StoredTrees, ColumnDefaults) {
  FakeKernel kernel;
  TestContext tc;
  qqwsnewblk(&tc.ctx);
  struct Case {
    int32_t kind;
    std::string text;
    int32_t domain;
    std::string domain_default;
    std::string printed;
    int32_t type[3];
  };
  const Case cases[] = {
      {-4, "CURRENT_TIME(3)", -1, "", "CURRENT_TIME", {11, 9, 3}},
      {-4, "LOCALTIME(0)", -1, "", "CURRENT_TIME", {11, 6, 0}},
      {-5, "LOCALTIMESTAMP(6)", -1, "", "CURRENT_TIMESTAMP", {12, 20, 6}},
      {-3, "CURRENT_DATE", -1, "", "CURRENT_DATE", {10, 8, 0}},
      {4, "It's", -1, "", "'It''s'", {4, 10, 0}},
      {-6, "CURRENT_USER", -1, "", "CURRENT_USER", {0, 0, 0}},
      {-2, "USER", -1, "", "USER", {0, 0, 0}},
      {-9, "NEXT_VALUE OF \"S\".\"Q\"\"1\"", -1, "", "NEXT_VALUE OF S.Q\"1", {0, 0, 0}},
      {-10, "CURRENT_VALUE OF \"SEQ\"", -1, "", "CURRENT_VALUE OF SEQ", {0, 0, 0}},
      {-1, "NULL", -1, "", "", {0, 0, 0}},            // no domain: none
      {-1, "", 5, "NULL", "", {0, 0, 0}},             // the domain's -1: none
      {-1, "", 5, "'dom'", "'dom'", {4, 10, 0}},      // the domain's literal, the column's type
      {-1, "", 5, "CURRENT_DATE", "CURRENT_DATE", {10, 8, 0}},
  };
  for (const Case& c : cases) {
    SqlColumnDesc column;
    column.type_code = 4;
    column.length = 10;
    column.default_length = c.kind;
    column.default_text = c.text;
    column.domain_id = c.domain;
    g_domain_default = c.domain_default;
    int32_t node = qmcoldefault(&tc.ctx, column);
    EXPECT_EQ(SqlPrintExpression(&tc.ctx, node), c.printed) << c.text;
    if (node == 0 || c.type[0] == 0) continue;
    int32_t type = WsWord(&tc.ctx, node, EXN_TYPE);
    ASSERT_NE(type, 0) << c.text;
    for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(WsWord(&tc.ctx, type, i), c.type[i]) << c.text;
  }
}

// The condition over a literal value, printed and run in SQLite: 1 when the
// value is out of range.
int32_t OutOfRange(SqlCompileCtx* ctx, sqlite3* db, int32_t variant, const std::string& value) {
  int32_t v = ExprLiteral(ctx, ctx->position, 2,
                          TreeCountedCopy(ctx, value.data(), static_cast<int32_t>(value.size())),
                          0);
  int32_t condition = qmrangecond(ctx, 0, variant, v);
  if (condition == 0) return 0;
  std::string sql = "SELECT " + SqlPrintExpression(ctx, condition);
  sqlite3_stmt* st = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sql;
  int32_t r = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int(st, 0) : -1;
  sqlite3_finalize(st);
  return r;
}

TEST_F(StoredTrees, RangeConditionsInSqlite) {
  FakeKernel kernel;
  TestContext tc(1 << 20);
  qqwsnewblk(&tc.ctx);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  struct Case {
    int32_t variant;
    const char* value;
    int32_t out;
  };
  const Case cases[] = {
      {204, "0", 0},           {204, "1E-38", 0},       {204, "-1E+38", 0},
      {204, "1E+38", 0},       {204, "-1E-38", 0},      {204, "1E-39", 1},
      {204, "2E+38", 1},       {204, "-1E-39", 1},      {204, "-2E+38", 1},
      {203, "1E-300", 0},      {205, "1E-309", 1},      {203, "0", 0},
      {202, "-32768", 0},      {202, "32767", 0},       {202, "-32769", 1},
      {202, "32768", 1},       {201, "-2147483648", 0}, {201, "2147483647", 0},
      {201, "-2147483649", 1}, {201, "2147483648", 1},  {208, "9223372036854775807", 0},
      {208, "-9223372036854775808", 0},                 {206, "1E+400", 0},
      {207, "5", 0},           {0, "5", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OutOfRange(&tc.ctx, db, c.variant, c.value), c.out) << c.variant << " " << c.value;
  }
  sqlite3_close(db);
}

TEST_F(StoredTrees, StoredCheckTakesTheValue) {
  Store(61, "SELECT a FROM t WHERE VALUE > 5 AND (VALUE < 10 OR VALUE IN (20, 30))", true);
  FakeKernel kernel;
  TestContext tc(1 << 20);
  qqwsnewblk(&tc.ctx);
  int32_t v = ExprLiteral(&tc.ctx, tc.ctx.position, 1, TreeCountedCopy(&tc.ctx, "7", 1), 0);
  int32_t condition = qmrangecond(&tc.ctx, 3, 61, v);
  EXPECT_EQ(SqlPrintExpression(&tc.ctx, condition),
            "((7 > 5) AND ((7 < 10) OR ((7 = 20) OR (7 = 30))))");
}

// A check whose id is one of the variants' numbers: qmrangecond gives the
// variant's range, qmcheckcond the stored check.
TEST_F(StoredTrees, CheckWithAVariantsNumber) {
  Store(204, "SELECT a FROM t WHERE VALUE >= 0", true);
  FakeKernel kernel;
  TestContext tc(1 << 20);
  qqwsnewblk(&tc.ctx);
  int32_t v = ExprLiteral(&tc.ctx, tc.ctx.position, 1, TreeCountedCopy(&tc.ctx, "7", 1), 0);
  EXPECT_EQ(SqlPrintExpression(&tc.ctx, qmcheckcond(&tc.ctx, 3, 204, v)), "(7 >= 0)");
  EXPECT_EQ(SqlPrintExpression(&tc.ctx, qmrangecond(&tc.ctx, 3, 204, v)),
            "(((7 <> 0) AND ((7 < -1E+38) OR (7 > -1E-38))) AND ((7 < 1E-38) OR (7 > 1E+38)))");
}

// A word of a stored image, by reference and word number.
int32_t ImageWord(const std::string& image, int32_t ref, int32_t word) {
  int32_t v = 0;
  std::memcpy(&v, image.data() + ref + 4 * word, 4);
  return v;
}
void SetImageWord(std::string& image, int32_t ref, int32_t word, int32_t v) {
  std::memcpy(image.data() + ref + 4 * word, &v, 4);
}

// A damaged stored check whose comparison names itself as its second
// operand, and one whose 40 sums each take the same inner sum twice (2^40
// paths down to VALUE): the value goes in once a node, and both end.
TEST_F(StoredTrees, ChecksWithCyclesAndSharedNodesTakeTheValueOnceANode) {
  Store(62, "SELECT a FROM t WHERE VALUE > 5", true);
  std::string& cyclic = g_images[62];
  int32_t root = ImageWord(cyclic, 0, WSB_ROOT);
  SetImageWord(cyclic, root, EXN_OPERAND2, root);

  std::string sums = "SELECT a FROM t WHERE ";
  for (int i = 0; i < 40; ++i) sums += "(";
  sums += "VALUE";
  for (int i = 0; i < 40; ++i) sums += " + 1)";
  Store(63, sums + " > 0", true);
  std::string& shared = g_images[63];
  for (int32_t n = ImageWord(shared, ImageWord(shared, 0, WSB_ROOT), EXN_OPERAND1);
       ImageWord(shared, n, EXN_KIND) == 1; n = ImageWord(shared, n, EXN_OPERAND1)) {
    SetImageWord(shared, n, EXN_OPERAND2, ImageWord(shared, n, EXN_OPERAND1));
  }

  FakeKernel kernel;
  TestContext tc(1 << 20);
  qqwsnewblk(&tc.ctx);
  int32_t v = ExprLiteral(&tc.ctx, tc.ctx.position, 1, TreeCountedCopy(&tc.ctx, "7", 1), 0);
  int32_t c = qmcheckcond(&tc.ctx, 3, 62, v);
  EXPECT_EQ(WsWord(&tc.ctx, c, EXN_OPERAND1), v);
  EXPECT_EQ(WsWord(&tc.ctx, c, EXN_OPERAND2), c);

  int32_t s = qmcheckcond(&tc.ctx, 3, 63, v);
  int32_t depth = 0;
  int32_t n = WsWord(&tc.ctx, s, EXN_OPERAND1);
  for (; n != v && depth <= 40; n = WsWord(&tc.ctx, n, EXN_OPERAND1), ++depth) {
    EXPECT_EQ(WsWord(&tc.ctx, n, EXN_OPERAND2), WsWord(&tc.ctx, n, EXN_OPERAND1));
    EXPECT_EQ(WsWord(&tc.ctx, n, EXN_FORWARD), 0);  // no mark left behind
  }
  EXPECT_EQ(depth, 40);
  EXPECT_TRUE(FakeKernel::conditions.empty());
}

// BETWEEN takes its operand twice, so the check's sum is one node reached
// twice; the value put in for VALUE is a sum over a column of that name
// itself. The value's own tree is left as it is.
TEST_F(StoredTrees, TheValuePutInIsNotWalked) {
  Store(64, "SELECT a FROM t WHERE VALUE * 2 = 0", true);
  Store(65, "SELECT a FROM t WHERE VALUE + 1 BETWEEN 2 AND 3", true);
  FakeKernel kernel;
  TestContext tc(1 << 20);
  qqwsnewblk(&tc.ctx);
  int32_t v = WsWord(&tc.ctx, qmcopytree(&tc.ctx, 3, 64), EXN_OPERAND1);
  int32_t column = WsWord(&tc.ctx, v, EXN_OPERAND1);
  int32_t c = qmcheckcond(&tc.ctx, 3, 65, v);
  ASSERT_EQ(WsWord(&tc.ctx, v, EXN_OPERAND1), column);
  EXPECT_EQ(SqlPrintExpression(&tc.ctx, c),
            "((((VALUE * 2) + 1) >= 2) AND (((VALUE * 2) + 1) <= 3))");
}

// Stored images damaged at random (words replaced by references inside,
// at and past the image's end, misaligned or negative ones, small numbers;
// the root word too; the image cut short): every fetch and copy ends in a
// copy or in the fetch's and the copy's own errors, and reads nothing
// outside the fetched block (the address sanitizer's runs watch that).
TEST_F(StoredTrees, DamagedStoredImagesEndInTheirOwnErrors) {
  std::string view_printed;
  const std::string view = ParsedTreeImage(
      "SELECT a, b AS x FROM t u JOIN s ON u.a = s.b WHERE a > 1 OR b IN (SELECT c FROM s "
      "WHERE c BETWEEN 1 AND 2) ORDER BY 1",
      false, &view_printed);
  std::string check_printed;
  const std::string check = ParsedTreeImage(
      "SELECT a FROM t WHERE CASE WHEN VALUE > 1 THEN 2 END BETWEEN 2 AND 3", true,
      &check_printed);
  std::mt19937 rng(3131);
  FakeKernel kernel;
  TestContext tc(1 << 20);
  int32_t statement = qqwsnewblk(&tc.ctx);
  int32_t copied = 0, failed = 0;
  for (int i = 0; i < 600; ++i) {
    bool as_view = i % 2 == 0;
    std::string image = as_view ? view : check;
    int32_t words = static_cast<int32_t>(image.size() / 4);
    for (int k = 1 + static_cast<int>(rng() % 4); k > 0; --k) {
      int32_t word = static_cast<int32_t>(rng() % static_cast<uint32_t>(words));
      if (word == WSB_LINK || word == WSB_USED) continue;
      int32_t value = DamagingValue(rng, 0, static_cast<int32_t>(image.size()));
      SetImageWord(image, 0, word, value);
    }
    if (rng() % 8 == 0) image.resize(image.size() - 4 * (1 + rng() % 16));
    g_images[70] = image;
    tc.ctx.trav.depth = 0;
    FakeKernel::conditions.clear();
    try {
      int32_t v = ExprLiteral(&tc.ctx, tc.ctx.position, 1, TreeCountedCopy(&tc.ctx, "7", 1), 0);
      if (as_view) {
        qmcopyview(&tc.ctx, 70);
      } else {
        qmcheckcond(&tc.ctx, 3, 70, v);
      }
      ++copied;
    } catch (const CompileJump&) {
      ++failed;
      ASSERT_FALSE(FakeKernel::conditions.empty()) << i;
      int32_t code = FakeKernel::conditions.back().code;
      EXPECT_TRUE(code == -19220 || code == -19207 || code == -19244 || code == -19245 ||
                  code == -19258 || code == -11107 || code == -19202)
          << i << " " << code;
      // The fetched block is left behind by the jump, as by every jump of a
      // phase: the next attempt starts over; here the statement's block is
      // made the chain's head again.
      tc.ctx.ws.chain_head = statement;
      tc.ctx.ws.top_limit = tc.ctx.workspace_size;
      qqwswb(&tc.ctx, statement);
    }
    EXPECT_EQ(qqwscur(&tc.ctx), statement);
    // Keep the statement's block small: drop what this round allocated.
    WsBlock(&tc.ctx, statement)[WSB_USED] = 64;
    tc.ctx.ws.used = 64;
  }
  EXPECT_GT(copied, 0);
  EXPECT_GT(failed, 0);
}

// A literal default is known not to be negative unless its text begins with
// a minus sign, whether or not the column is NOT NULL.
TEST_F(StoredTrees, LiteralDefaultsKnowTheirSign) {
  FakeKernel kernel;
  TestContext tc;
  qqwsnewblk(&tc.ctx);
  struct Case {
    const char* text;
    int32_t nullable;
    int32_t non_negative;
  };
  const Case cases[] = {{"-5", 0, 0}, {"-5", 1, 0}, {"5", 1, 1}, {"5", 0, 1}, {"", 1, 1}};
  for (const Case& c : cases) {
    SqlColumnDesc column;
    column.type_code = 1;
    column.length = 10;
    column.nullable = c.nullable;
    column.default_text = c.text;
    column.default_length = static_cast<int32_t>(std::strlen(c.text));
    int32_t node = qmcoldefault(&tc.ctx, column);
    ASSERT_NE(node, 0) << c.text;
    EXPECT_EQ(WsWord(&tc.ctx, node, EXN_TYPE_FLAG), c.non_negative) << c.text << " " << c.nullable;
  }
}

// A dictionary error of either read ends the compilation with that status
// (severity 5, no restart), and records no missing object.
TEST_F(StoredTrees, DictionaryErrorsEndTheCompilation) {
  FakeKernel kernel;
  TestContext tc;
  qqwsnewblk(&tc.ctx);
  for (int32_t id : {kInfoFails, kReadFails}) {
    FakeKernel::conditions.clear();
    tc.ctx.missing_object = 0;
    bool jumped = false;
    try {
      qmcopyview(&tc.ctx, id);
    } catch (const CompileJump&) {
      jumped = true;
    }
    EXPECT_TRUE(jumped) << id;
    EXPECT_EQ(tc.ctx.error_code, kDictionaryError) << id;
    ASSERT_EQ(FakeKernel::conditions.size(), 1u) << id;
    EXPECT_EQ(FakeKernel::conditions[0].code, kDictionaryError) << id;
    EXPECT_EQ(FakeKernel::conditions[0].severity, 5) << id;
    EXPECT_EQ(tc.ctx.missing_object, 0) << id;
  }
}

}  // namespace
