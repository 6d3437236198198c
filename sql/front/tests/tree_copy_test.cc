// The tree copy: random queries of the grammar copied into a fresh block print
// as the original, a copy of the copy is the copy byte for byte, shared nodes
// stay shared, and damaged images end with the copy's own errors.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "sql/front/compile_diag.h"
#include "sql/front/sql_tree_print.h"
#include "sql/front/stmt_tree.h"
#include "sql/front/tests/sql_grammar_support.h"
#include "sql/front/trav_stack.h"
#include "sql/front/tree_copy.h"

namespace {

template <typename F>
int32_t Raised(F f) {
  FakeKernel::conditions.clear();
  try {
    f();
  } catch (const CompileJump&) {
    return FakeKernel::conditions.empty() ? 1 : FakeKernel::conditions.back().code;
  }
  return 0;
}

// The bytes of a bottom block after its header.
std::string Body(SqlCompileCtx* ctx, int32_t block) {
  const int32_t* h = WsBlock(ctx, block);
  return std::string(reinterpret_cast<const char*>(h) + WSB_HEADER_BYTES,
                     static_cast<size_t>(h[WSB_USED] - WSB_HEADER_BYTES));
}

struct CopyResult {
  std::string printed;
  bool same_bytes = false;
  int32_t error = 0;
};

// Copies the statement into a new block, then the copy into another, then the
// original once more (its forwarding words now set by the first copy).
CopyResult CopyStatement(SqlCompileCtx* ctx, int32_t root) {
  CopyResult out;
  int32_t source = qqwscur(ctx);
  out.error = Raised([&] {
    int32_t first = qqwsnewblk(ctx);
    int32_t copy = 0;
    qqcrel(ctx, first, source, kRefStatement, root, &copy);
    EXPECT_EQ(qqwscur(ctx), first);
    out.printed = SqlPrintStatement(ctx, copy);
    std::string image = Body(ctx, first);
    int32_t second = qqwsnewblk(ctx);
    int32_t copy2 = 0;
    qqcrel(ctx, second, first, kRefStatement, copy, &copy2);
    out.same_bytes = copy2 == copy && Body(ctx, second) == image;
    if (!out.same_bytes) {
      std::string b2 = Body(ctx, second);
      size_t k = 0;
      while (k < b2.size() && k < image.size() && b2[k] == image[k]) ++k;
      ADD_FAILURE() << copy << " " << copy2 << " sizes " << image.size() << " " << b2.size() << " first diff " << k;
    }
    int32_t third = qqwsnewblk(ctx);
    int32_t copy3 = 0;
    qqcrel(ctx, third, source, kRefStatement, root, &copy3);
    out.same_bytes = out.same_bytes && copy3 == copy && Body(ctx, third) == image;
    qqwswb(ctx, source);
  });
  return out;
}

TEST(TreeCopy, RandomQueriesCopyAsTheyPrint) {
  SqlConditionGenerator g(3131);
  const char* shapes[] = {
      "SELECT a, b + 1 AS x FROM t WHERE %",
      "SELECT DISTINCT * FROM t u JOIN s ON u.a = s.a WHERE %",
      "SELECT a FROM t WHERE % AND a IN (SELECT b FROM s WHERE %)",
      "SELECT COUNT(*), MAX(a) FROM t GROUP BY b HAVING %",
      "SELECT a FROM t WHERE % UNION SELECT b FROM s WHERE EXISTS (SELECT * FROM t WHERE %)",
      "SELECT a, b FROM t WHERE % ORDER BY 2 DESC, a + 1 ASC",
      "SELECT a FROM t WHERE % FOR UPDATE OF a, b",
  };
  for (int i = 0; i < 210; ++i) {
    std::string text = shapes[i % 7];
    for (size_t at; (at = text.find('%')) != std::string::npos;) {
      text.replace(at, 1, g.Condition(3));
    }
    CopyResult r;
    ParseOptions options;
    options.inspect = [&](SqlCompileCtx* ctx, int32_t root) { r = CopyStatement(ctx, root); };
    ParsedStatement p = ParseSql(text, options);
    ASSERT_TRUE(p.conditions.empty() || r.error != 0) << text;
    ASSERT_EQ(r.error, 0) << text;
    EXPECT_EQ(r.printed, p.printed) << text;
    EXPECT_TRUE(r.same_bytes) << text;
  }
}

struct Built {
  FakeKernel kernel;
  TestContext tc{1 << 20};
  SqlCompileCtx* ctx = &tc.ctx;
  int32_t source = 0;
  int32_t at[2] = {1, 1};
  Built() { source = qqwsnewblk(ctx); }
  int32_t Literal(const char* text) {
    return ExprLiteral(ctx, at, 1, TreeCountedCopy(ctx, text, static_cast<int32_t>(strlen(text))), 0);
  }
  int32_t Copy(int32_t kind, int32_t ref, int32_t* error) {
    int32_t result = -1;
    ctx->trav.depth = 0;  // as every compile step starts
    // The copy runs inside a walk of its caller: it ends at the depth it
    // started from.
    for (int32_t i = 1; i <= 3; ++i) TravPush(ctx, 4, 2, i);
    *error = Raised([&] {
      int32_t dest = qqwsnewblk(ctx);
      qqcrel(ctx, dest, source, kind, ref, &result);
    });
    if (*error == 0) {
      EXPECT_EQ(ctx->trav.depth, 3);
      EXPECT_EQ(ctx->trav.node[3], 3);
    }
    return result;
  }
};

TEST(TreeCopy, NullSharedAndLists) {
  Built b;
  int32_t one = b.Literal("1");
  int32_t sum = qqcbix(b.ctx, 1, b.at, one, one, 0, 0);
  int32_t list = 0;
  const char* texts[] = {"5", "4", "3", "2", "1"};
  for (const char* t : texts) list = qqlcons(b.ctx, list, b.Literal(t));
  int32_t error = 0;
  EXPECT_EQ(b.Copy(kRefExpression, 0, &error), 0);
  EXPECT_EQ(error, 0);
  int32_t copy = b.Copy(kRefExpression, sum, &error);
  ASSERT_EQ(error, 0);
  int32_t left = WsWord(b.ctx, copy, EXN_OPERAND1);
  EXPECT_NE(left, 0);
  EXPECT_EQ(left, WsWord(b.ctx, copy, EXN_OPERAND2));  // one copy, referenced twice
  EXPECT_EQ(SqlPrintExpression(b.ctx, copy), "(1 + 1)");
  int32_t listcopy = b.Copy(kRefExpressionList, list, &error);
  ASSERT_EQ(error, 0);
  std::string shown;
  for (int32_t c = listcopy; c != 0; c = WsWord(b.ctx, c, CELL_NEXT)) {
    shown += SqlPrintExpression(b.ctx, WsWord(b.ctx, c, CELL_VALUE)) + ",";
  }
  EXPECT_EQ(shown, "1,2,3,4,5,");
}

TEST(TreeCopy, ForeignForwardingWordsAreIgnored) {
  Built b;
  int32_t x = b.Literal("7");
  int32_t y = b.Literal("8");
  int32_t product = qqcbix(b.ctx, 3, b.at, x, y, 0, 0);
  // Word 11 written by another phase, and pointing at a real node.
  WsWord(b.ctx, x, EXN_FORWARD) = y;
  WsWord(b.ctx, y, EXN_FORWARD) = product;
  WsWord(b.ctx, product, EXN_FORWARD) = x;
  int32_t error = 0;
  int32_t copy = b.Copy(kRefExpression, product, &error);
  ASSERT_EQ(error, 0);
  EXPECT_EQ(SqlPrintExpression(b.ctx, copy), "(7 * 8)");
}

TEST(TreeCopy, CapacityAndInternalErrors) {
  Built b;
  // Everything is built first: only the newest block takes allocations.
  int32_t element = b.Literal("9");
  int32_t wide = 0;
  for (int i = 0; i < 2100; ++i) wide = qqlcons(b.ctx, wide, element);
  int32_t values = 0;
  for (int i = 0; i < 600; ++i) values = qqlcons(b.ctx, values, element);
  int32_t deep = b.Literal("1");
  // Each level's first operand is a value before the walk goes down its
  // second: 600 values wait at the bottom.
  for (int i = 0; i < 600; ++i) deep = qqcbix(b.ctx, 1, b.at, element, deep, 0, 0);
  int32_t dml = StmtGeneric(b.ctx, 22, b.at);
  int32_t odd = b.Literal("1");
  WsWord(b.ctx, odd, EXN_KIND) = 99;
  int32_t outside = qqcbix(b.ctx, 1, b.at, b.Literal("1"), 0, 0, 0);
  WsWord(b.ctx, outside, EXN_OPERAND2) = 1 << 28;
  int32_t negative = qqcbix(b.ctx, 1, b.at, b.Literal("1"), 0, 0, 0);
  WsWord(b.ctx, negative, EXN_OPERAND2) = -8;
  int32_t cycle = qqlcons(b.ctx, 0, element);
  WsWord(b.ctx, cycle, CELL_NEXT) = cycle;
  int32_t set = StmtGeneric(b.ctx, 27, b.at);
  WsWord(b.ctx, set, 6) = set;
  int32_t text = TreeCountedCopy(b.ctx, "abc", 3);
  WsWord(b.ctx, text, 0) = 1 << 24;
  int32_t literal = ExprLiteral(b.ctx, b.at, 1, text, 0);
  int32_t loop = qqcbix(b.ctx, 1, b.at, b.Literal("2"), 0, 0, 0);
  WsWord(b.ctx, loop, EXN_OPERAND2) = loop;

  struct Case {
    const char* what;
    int32_t kind;
    int32_t ref;
    int32_t code;
    int32_t severity;
    const char* routine;
  };
  const Case cases[] = {
      {"2100 pending elements", kRefExpressionList, wide, -11107, 4, ""},
      {"600 values", kRefExpressionList, values, -19258, 5, "QST: qswpsh"},
      {"600 levels of a waiting value each", kRefExpression, deep, -19258, 5, "QST: qswpsh"},
      {"DELETE node", kRefStatement, dml, -19244, 5, "QST: qqcrel"},
      {"expression kind 99", kRefExpression, odd, -19207, 5, "QST: qqcrel"},
      {"reference outside the block", kRefExpression, outside, -19220, 5, "QST: qqcrel"},
      {"negative reference", kRefExpression, negative, -19220, 5, "QST: qqcrel"},
      {"list cycle", kRefExpressionList, cycle, -19220, 5, "QST: qqcrel"},
      {"statement cycle", kRefStatement, set, -19220, 5, "QST: qqcrel"},
      {"reference kind 0 (the end marker) as the root", 0, set, -19220, 5, "QST: qqcrel"},
      {"reference kind 5", 5, set, -19220, 5, "QST: qqcrel"},
      {"reference kind 42", 42, set, -19220, 5, "QST: qqcrel"},
      {"counted length past the block", kRefExpression, literal, -19220, 5, "QST: qqcrel"},
  };
  for (const Case& c : cases) {
    int32_t error = 0;
    b.Copy(c.kind, c.ref, &error);
    EXPECT_EQ(error, c.code) << c.what;
    if (error == 0) continue;
    EXPECT_EQ(FakeKernel::conditions.back().severity, c.severity) << c.what;
    EXPECT_NE(FakeKernel::conditions.back().text.find(c.routine), std::string::npos) << c.what;
  }
  // An expression cycle resolves through the node's own copy.
  int32_t error = 0;
  int32_t copy = b.Copy(kRefExpression, loop, &error);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(WsWord(b.ctx, copy, EXN_OPERAND2), copy);
}

// Damaged images: random words of a parsed statement's block replaced by
// references into the block, next to it, misaligned, negative or by small
// numbers; every copy ends in the copy's own errors or a copy (the address
// sanitizer's runs watch that nothing past the workspace is touched).
TEST(TreeCopy, DamagedImagesEndInTheCopysErrors) {
  std::mt19937 rng(4711);
  int32_t copied = 0;
  int32_t failed = 0;
  ParseOptions options;
  options.inspect = [&](SqlCompileCtx* ctx, int32_t root) {
    int32_t source = qqwscur(ctx);
    int32_t used = WsBlock(ctx, source)[WSB_USED];
    std::string image = Body(ctx, source);
    char* body = reinterpret_cast<char*>(WsBlock(ctx, source)) + WSB_HEADER_BYTES;
    for (int i = 0; i < 300; ++i) {
      std::memcpy(body, image.data(), image.size());
      for (int k = 1 + static_cast<int>(rng() % 4); k > 0; --k) {
        int32_t word = static_cast<int32_t>(rng() % static_cast<uint32_t>((used - 16) / 4));
        int32_t value = DamagingValue(rng, WSB_HEADER_BYTES, used);
        std::memcpy(body + 4 * word, &value, 4);
      }
      ctx->trav.depth = 0;
      FakeKernel::conditions.clear();
      try {
        int32_t dest = qqwsnewblk(ctx);
        int32_t result = 0;
        qqcrel(ctx, dest, source, kRefStatement, root, &result);
        ++copied;
      } catch (const CompileJump&) {
        ++failed;
        ASSERT_FALSE(FakeKernel::conditions.empty());
        int32_t code = FakeKernel::conditions.back().code;
        EXPECT_TRUE(code == -19220 || code == -19207 || code == -19244 || code == -19245 ||
                    code == -19258 || code == -11107 || code == -19202)
            << code;
      }
      // Give the new block back: the next copy takes the same room.
      WsBlock(ctx, source)[WSB_LINK] = 0;
      qqwswb(ctx, source);
    }
    std::memcpy(body, image.data(), image.size());
  };
  ParseSql("SELECT a, b + 1 AS x FROM t u JOIN s ON u.a = s.a WHERE a IN (SELECT c FROM s "
           "WHERE CASE WHEN c > 1 THEN 2 ELSE 3 END = b) OR a BETWEEN 1 AND 2 "
           "UNION SELECT b FROM s",
           options);
  EXPECT_GT(copied, 0);
  EXPECT_GT(failed, 0);
}

}  // namespace
