// The function-call builder: a stored routine of the name comes first, then
// the built-in functions by name and argument count (their node kinds and
// operand words), COALESCE and NULLIF as searched CASEs; any other name or
// count is a routine call.
#include <gtest/gtest.h>

#include <string>

#include "sql/front/sql_action_words.h"
#include "sql/front/sql_tree_print.h"
#include "sql/front/stmt_tree.h"
#include "sql/front/tests/sql_grammar_support.h"

namespace {

// The value of the first select item.
int32_t FirstItem(SqlCompileCtx* ctx, int32_t root) {
  int32_t query = WsWord(ctx, WsWord(ctx, root, STN_ROOT_TOP), 3);
  int32_t item = WsWord(ctx, WsWord(ctx, query, 4), CELL_VALUE);
  return WsWord(ctx, WsWord(ctx, item, 3), EXN_OPERAND1);
}

TEST(SqlGrammarFunctions, BuiltInsByNameAndArgumentCount) {
  struct Case {
    const char* call;
    int32_t kind;
    const char* operands;  // words 22 to 25, printed, "-" for 0
  } cases[] = {
      {"IRAND()", 80, "- - - -"},
      {"CURRENT_PROGRAM()", 31, "4 - - -"},
      {"IRAND(a)", 80, "A - - -"},
      {"UPPER(a)", 42, "A - - -"},
      {"lower(a)", 41, "A - - -"},
      {"CHARACTER_LENGTH(a)", 61, "A - - -"},
      {"WEEK(a)", 74, "A - - -"},
      {"ABS(a)", 66, "A - - -"},
      {"DLOG10(a)", 90, "A - - -"},
      {"DTAN(a)", 95, "A - - -"},
      {"COUNT(a)", 16, "2 A - -"},
      {"MIN(a)", 20, "2 A - -"},
      {"TRIM(a)", 44, "45 - A -"},
      {"MOD(a, b)", 65, "A B - -"},
      {"DPOWER(a, b)", 91, "A B - -"},
      {"TAIL(a, b)", 52, "A B - -"},
      {"REPLACE(a, b, c)", 51, "A B C -"},
      {"PASTE(a, b, c, d)", 49, "A B C D"},
      // Another count, another name, or a name written in other letters: a
      // routine call (name, arguments, count).
      {"ROUND(a)", 98, "ROUND A 1 -"},
      {"MOD(a, b, c)", 98, "MOD A 3 -"},
      {"PASTE(a, b, c, d, e)", 98, "PASTE A 5 -"},
      {"COALESCE(a)", 98, "COALESCE A 1 -"},
      {"s.UPPER(a)", 98, "S.UPPER A 1 -"},
      {"\"upper\"(a)", 98, "upper A 1 -"},
      {"f()", 98, "F - - -"},
  };
  for (const Case& c : cases) {
    int32_t kind = -1;
    std::string operands;
    ParseOptions o;
    o.poison = true;
    o.inspect = [&](SqlCompileCtx* ctx, int32_t root) {
      int32_t node = FirstItem(ctx, root);
      kind = WsWord(ctx, node, EXN_KIND);
      for (int32_t w = 22; w <= 25; ++w) {
        int32_t v = WsWord(ctx, node, w);
        std::string shown;
        if (v == 0) {
          shown = "-";
        } else if (kind == 98 && w == 22) {  // the name node
          QualifiedName name;
          qqnamget(ctx, v, &name);
          shown = name.name[1][0] != 0 ? std::string(name.name[1]) + "." + name.name[0]
                                       : std::string(name.name[0]);
        } else if (kind == 98 && w == 23) {  // the first argument
          shown = SqlPrintExpression(ctx, WsWord(ctx, v, CELL_VALUE));
        } else if (w == 22 && (kind == 31 || kind == 44 || (kind >= 16 && kind <= 20))) {
          shown = std::to_string(v);  // a code: user value, TRIM side, quantifier
        } else if (w == 24 && kind == 98) {
          shown = std::to_string(v);  // the argument count
        } else {
          shown = SqlPrintExpression(ctx, v);
        }
        operands += (w > 22 ? " " : "") + shown;
      }
    };
    ParsedStatement p = ParseSql(std::string("SELECT ") + c.call + " FROM t", o);
    EXPECT_TRUE(p.conditions.empty()) << c.call;
    EXPECT_EQ(kind, c.kind) << c.call;
    EXPECT_EQ(operands, c.operands) << c.call;
  }
}

// A stored routine of a built-in's name, or a failed look-up, gives the
// routine call; only "no routine" lets the built-in names through.
TEST(SqlGrammarFunctions, StoredRoutinesComeFirst) {
  struct Case {
    int32_t status;
    int32_t kind;
  } cases[] = {{0, 98}, {-1, 98}, {100, 66}};
  for (const Case& c : cases) {
    ParseOptions o;
    o.stored_routine = "ABS";
    o.stored_routine_status = c.status;
    int32_t kind = -1;
    o.inspect = [&](SqlCompileCtx* ctx, int32_t root) {
      kind = WsWord(ctx, FirstItem(ctx, root), EXN_KIND);
    };
    ParseSql("SELECT ABS(a) FROM t", o);
    EXPECT_EQ(kind, c.kind) << c.status;
  }
}

}  // namespace
