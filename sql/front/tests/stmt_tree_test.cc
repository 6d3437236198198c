// The statement tree: node placement by kind, the expression constructors and
// their kind checks, join nodes, and the list utilities against a vector.
#include "sql/front/stmt_tree.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "sql/front/compile_context.h"
#include "sql/front/compile_diag.h"
#include "sql/front/tests/compile_test_support.h"

namespace {

struct TreeTest : ::testing::Test {
  FakeKernel kernel;
  TestContext t;
  SqlCompileCtx* ctx = &t.ctx;
  const int32_t at[2] = {1, 7};
  TreeTest() { qqwsnewblk(ctx); }
  int32_t W(int32_t r, int32_t w) { return WsWord(ctx, r, w); }
};

TEST_F(TreeTest, RootNodeCarriesTopVersionAndTag) {
  int32_t r = StmtRoot(ctx, at, 99);
  EXPECT_EQ(W(r, STN_KIND), 0);
  EXPECT_EQ(W(r, STN_POSITION), 7);
  EXPECT_EQ(W(r, STN_ROOT_TOP), 99);
  EXPECT_EQ(W(r, STN_ROOT_VERSION), 2);
  EXPECT_EQ(std::memcmp(qqwsadr(ctx, r) + 4 * STN_ROOT_TAG, "V8.2\0", 5), 0);
  EXPECT_EQ(W(r, 49), 0);
}

TEST_F(TreeTest, StatementArgumentsGoToTheirKindsWords) {
  struct Case {
    int32_t kind;
    std::vector<int32_t> words;
  };
  const Case cases[] = {
      {1, {3, 4, 5, 6, 7, 8, 9, 10}},
      {32, {3}},
      {3, {3, 4, 5, 6, 9}},
      {7, {3, 4, 7, 5, 6, 8}},
      {22, {4, 5}},
      {28, {3, 4, 6, 8, 11, 12, 13, 5}},
      {30, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    int32_t args[8];
    for (int32_t i = 0; i < 8; ++i) args[i] = 100 + i;
    EXPECT_EQ(StmtArgumentCount(c.kind), static_cast<int32_t>(c.words.size()));
    int32_t r = StmtNode(ctx, c.kind, at, args, 8);
    EXPECT_EQ(W(r, STN_KIND), c.kind);
    int32_t set = 0;
    for (size_t i = 0; i < c.words.size(); ++i) EXPECT_EQ(W(r, c.words[i]), 100 + int32_t(i));
    for (int32_t w = 3; w < kStmtNodeWords; ++w) set += W(r, w) != 0;
    EXPECT_EQ(set, static_cast<int32_t>(c.words.size()));
  }
  EXPECT_EQ(W(StmtGeneric3(ctx, 60, at, 5), 3), 5);
}

TEST_F(TreeTest, BasicExpressionKindsAreChecked) {
  int32_t e = qqcbix(ctx, 8, at, 11, 12, 26, 19);
  EXPECT_EQ(W(e, EXN_KIND), 8);
  EXPECT_EQ(W(e, EXN_OPERAND1), 11);
  EXPECT_EQ(W(e, EXN_OPERAND2), 12);
  EXPECT_EQ(W(e, EXN_WORD26), 26);
  EXPECT_EQ(W(e, EXN_WORD19), 19);
  EXPECT_EQ(W(e, EXN_NULLABLE), 1);
  EXPECT_EQ(W(e, EXN_UNSET_A), -1);
  EXPECT_EQ(W(e, EXN_UNSET_B), -1);
  for (int32_t kind : {6, 7, 16, -1}) {
    EXPECT_THROW(qqcbix(ctx, kind, at, 0, 0, 0, 0), CompileJump);
    EXPECT_EQ(FakeKernel::conditions.back().code, -19229);
    EXPECT_EQ(FakeKernel::conditions.back().text, "N\tQST: qqcbix");
  }
  EXPECT_THROW(qqcfnx(ctx, 21, at, 0, 0), CompileJump);
  EXPECT_EQ(FakeKernel::conditions.back().code, -19268);
  EXPECT_EQ(W(qqcfnx(ctx, 16, at, 3, 4), EXN_WORD19), 3);
}

TEST_F(TreeTest, LiteralTypeCodesAreNormalised) {
  const int32_t map[][2] = {{8, 4}, {30, 29}, {35, 34}, {1, 1}, {12, 12}};
  for (const auto& m : map) {
    int32_t e = ExprLiteral(ctx, at, m[0], 5, 0);
    EXPECT_EQ(W(e, EXN_KIND), kExprLiteral);
    EXPECT_EQ(W(e, EXN_LITERAL_TYPE), m[1]);
    EXPECT_EQ(W(e, EXN_OPERAND1), 5);
  }
  const ExprWord words[] = {{37, 4}, {26, 9}, {99, 1}};
  int32_t f = ExprFixed(ctx, kExprColumnRef, at, words, 3);
  EXPECT_EQ(W(f, 37), 4);
  EXPECT_EQ(W(f, 26), 9);
}

TEST_F(TreeTest, JoinNodesSwapRightJoinsAndMarkThePreservedSide) {
  int32_t a = JoinLeaf(ctx, 1, 2, 3);
  int32_t b = JoinLeaf(ctx, 4, 5, 6);
  EXPECT_EQ(W(a, 0), 0);
  EXPECT_EQ(W(a, 1), -1);
  EXPECT_EQ(W(a, 12), 2);
  int32_t j = JoinNode(ctx, 2, a, b, 77);
  EXPECT_EQ(W(j, 0), 1);
  EXPECT_EQ(W(j, 12), b);
  EXPECT_EQ(W(j, 13), a);
  EXPECT_EQ(W(j, 14), 77);
  EXPECT_EQ(W(b, 2), 1);
  EXPECT_EQ(W(a, 2), 0);
}

TEST_F(TreeTest, PredicateNodesAndFifteenWordRecords) {
  int32_t p = PredicateNode(ctx, 2, at, 55, 66, 1);
  EXPECT_EQ(W(p, 0), 2);
  int32_t item = W(p, 3);
  EXPECT_EQ(W(item, EXN_KIND), 34);
  EXPECT_EQ(W(item, EXN_OPERAND1), 55);
  EXPECT_NE(W(item, EXN_TYPE), 0);
  EXPECT_EQ(W(p, 4), 66);
  EXPECT_EQ(W(p, 5), 1);
  EXPECT_EQ(W(PredicateNode(ctx, 4, at, 1, 2, 3), 2), -1);
  EXPECT_EQ(W(PredicateNode(ctx, 0, at, 0, 0, 0), 2), 0);
  int32_t thirteen[13];
  for (int32_t i = 0; i < 13; ++i) thirteen[i] = i + 1;
  int32_t r = TreeRecord15(ctx, thirteen);
  EXPECT_EQ(W(r, 0), 0);
  EXPECT_EQ(W(r, 1), 1);
  EXPECT_EQ(W(r, 13), 13);
  EXPECT_EQ(W(r, 14), 0);
}

TEST_F(TreeTest, QualifiedNamesUnpackIntoFourNames) {
  int32_t table = TreeTextCopy(ctx, "T1", 2);
  int32_t schema = TreeTextCopy(ctx, "S", 1);
  int32_t column = TreeTextCopy(ctx, "C", 1);
  int32_t second = NamePart(ctx, at, table, schema);
  int32_t first = NamePart(ctx, at, column, 0);
  QualifiedName q;
  qqnamget(ctx, QualifiedNameNode(ctx, at, first, second), &q);
  EXPECT_STREQ(q.name[0], "C");
  EXPECT_STREQ(q.name[1], "");
  EXPECT_STREQ(q.name[2], "T1");
  EXPECT_STREQ(q.name[3], "S");
  qqnamget(ctx, QualifiedNameNode(ctx, at, 0, second), &q);
  EXPECT_STREQ(q.name[0], "");
  EXPECT_STREQ(q.name[2], "T1");
}

TEST_F(TreeTest, ListsAgainstAVector) {
  EXPECT_EQ(qqlcons(ctx, 0, 0), 0);
  int32_t one = qqlcons(ctx, 0, 5);
  EXPECT_EQ(qqllen(ctx, qqlcons(ctx, one, 0)), 1);
  EXPECT_EQ(qqlnth(ctx, one, 1), 5);
  EXPECT_EQ(qqlnth(ctx, one, 2), 0);
  EXPECT_EQ(qqlrev(ctx, one), one);
  EXPECT_EQ(WsWord(ctx, one, CELL_NEXT), 0);
  std::mt19937 rng(18);
  for (int round = 0; round < 50; ++round) {
    std::vector<int32_t> model;
    int32_t list = 0;
    int32_t n = static_cast<int32_t>(rng() % 8);
    for (int32_t i = 0; i < n; ++i) {
      int32_t v = static_cast<int32_t>(rng() % 20) + 1;
      list = qqlcons(ctx, list, v);
      model.insert(model.begin(), v);
    }
    list = qqlrev(ctx, list);
    std::vector<int32_t> reversed(model.rbegin(), model.rend());
    EXPECT_EQ(qqllen(ctx, list), static_cast<int32_t>(reversed.size()));
    for (size_t i = 0; i < reversed.size(); ++i) {
      EXPECT_EQ(qqlnth(ctx, list, static_cast<int32_t>(i) + 1), reversed[i]);
    }
    int32_t probe = static_cast<int32_t>(rng() % 20) + 1;
    int32_t expected = 0;
    for (size_t i = 0; i < reversed.size(); ++i) {
      if (reversed[i] == probe) {
        expected = static_cast<int32_t>(i) + 1;
        break;
      }
    }
    EXPECT_EQ(qqlpos(ctx, list, probe), expected);
    int32_t tail = qqlcons(ctx, 0, 42);
    int32_t joined = qqlcat(ctx, list, tail);
    EXPECT_EQ(qqllen(ctx, joined), static_cast<int32_t>(reversed.size()) + 1);
    EXPECT_EQ(qqlnth(ctx, joined, qqllen(ctx, joined)), 42);
  }
  EXPECT_THROW(qqwlst(ctx, 0, 0, 1), CompileJump);
  EXPECT_EQ(FakeKernel::conditions.back().code, -19233);
}

TEST_F(TreeTest, ACyclicListEndsWithAnInternalError) {
  int32_t a = qqlcons(ctx, 0, 1);
  int32_t b = qqlcons(ctx, a, 2);
  qqwlst(ctx, a, b, 1);  // a -> b -> a
  EXPECT_THROW(qqllen(ctx, b), CompileJump);
}

TEST_F(TreeTest, TextCopiesAreBoundedAndTerminated) {
  int32_t r = TreeTextCopy(ctx, "abc", 3);
  EXPECT_STREQ(qqwsadr(ctx, r), "abc");
  EXPECT_STREQ(qqwsadr(ctx, TreeTextCopy(ctx, "abc", -4)), "");
  int32_t c = TreeCountedCopy(ctx, "xy", 2);
  EXPECT_EQ(W(c, 0), 2);
  EXPECT_STREQ(qqwsadr(ctx, c) + 4, "xy");
  std::string long_name(300, 'N');
  int32_t n = TreeNameRecord(ctx, 1, 2, long_name.c_str(), 300);
  EXPECT_EQ(std::strlen(qqwsadr(ctx, n) + 8), 128u);
  EXPECT_EQ(TreeDoubleRecord(ctx) % 8, 0);
}

}  // namespace
