// The function-call builder: a function name with its arguments becomes a
// stored routine's call, a built-in function's node, or the searched CASE
// that COALESCE and NULLIF stand for.
#include <cstring>
#include <vector>

#include "sql/front/sql_action_helpers.h"
#include "sql/front/sql_actions.h"
#include "sql/front/sql_lookup_services.h"
#include "sql/front/stmt_tree.h"

namespace {

struct BuiltIn {
  const char* name;
  int32_t count;  // arguments
  int32_t kind;
  int32_t form;  // 0 operand word 22; 1 words 22, 23 = argument, 0; 2 two operands
};

constexpr BuiltIn kBuiltIns[] = {
    {"UPPER", 1, 42, 0},        {"LOWER", 1, 41, 0},       {"SOUNDEX", 1, 53, 0},
    {"ASCII_CHAR", 1, 48, 0},   {"CHAR_LENGTH", 1, 61, 0}, {"CHARACTER_LENGTH", 1, 61, 0},
    {"OCTET_LENGTH", 1, 76, 0}, {"BIT_LENGTH", 1, 77, 0},  {"ASCII_CODE", 1, 71, 0},
    {"DAYOFWEEK", 1, 72, 0},    {"DAYOFYEAR", 1, 73, 0},   {"WEEK", 1, 74, 0},
    {"ABS", 1, 66, 1},          {"SIGN", 1, 69, 1},        {"FLOOR", 1, 67, 1},
    {"CEILING", 1, 68, 1},      {"DACOS", 1, 81, 1},       {"DASIN", 1, 82, 1},
    {"DATAN", 1, 83, 1},        {"DCOS", 1, 85, 1},        {"DCOT", 1, 86, 1},
    {"DDEGREES", 1, 87, 1},     {"DEXP", 1, 88, 1},        {"DLOG", 1, 89, 1},
    {"DLOG10", 1, 90, 1},       {"DRADIANS", 1, 92, 1},    {"DSIN", 1, 93, 1},
    {"DSQRT", 1, 94, 1},        {"DTAN", 1, 95, 1},        {"IRAND", 1, 80, 1},
    {"MOD", 2, 65, 2},          {"ROUND", 2, 64, 2},       {"TRUNCATE", 2, 70, 2},
    {"DATAN2", 2, 84, 2},       {"DPOWER", 2, 91, 2},
};

int32_t Arg(SqlCompileCtx* ctx, int32_t list, int32_t n) {
  return qqlnth(ctx, list, n);
}

int32_t SearchedCase(SqlCompileCtx* ctx, const int32_t* at, int32_t when, int32_t otherwise) {
  int32_t arms = qqlcons(ctx, qqlcons(ctx, 0, otherwise), when);
  ExprWord w[] = {{EXN_OPERAND1, arms}};
  return ExprFixed(ctx, kExprCase, at, w, 1);
}

// COALESCE(a1, ..., an): CASE WHEN a1 IS NOT NULL THEN a1 ELSE <rest> END,
// the rest being a2 or the expansion of a2 to an at a2's position; built from
// the last argument back, so a long list needs no deep recursion. The
// expansion is a value, not a predicate: a NOT pending over the comparison it
// stands in must not turn its own test around.
int32_t Coalesce(SqlCompileCtx* ctx, const int32_t* at, int32_t list) {
  std::vector<int32_t> args;
  for (int32_t c = list; c != 0; c = WsWord(ctx, c, CELL_NEXT))
    args.push_back(WsWord(ctx, c, CELL_VALUE));
  int32_t rest = args.back();
  for (size_t i = args.size() - 1; i-- > 0;) {
    int32_t a = args[i];
    const int32_t* a_at = &WsWord(ctx, a, EXN_LINE);
    int32_t null = ExprOfKind(ctx, kExprNull, a_at, 0, 0);
    int32_t test = qqcbix(ctx, kExprNe, a_at, a, null, 0, 0);
    rest = SearchedCase(ctx, i == 0 ? at : a_at, ExprOfKind(ctx, kExprWhen, a_at, test, a),
                        ExprOfKind(ctx, kExprWhen, a_at, 0, rest));
  }
  return rest;
}

// NULLIF(a, b): CASE WHEN a = b THEN NULL ELSE a END.
int32_t Nullif(SqlCompileCtx* ctx, const int32_t* at, int32_t a, int32_t b) {
  const int32_t* a_at = &WsWord(ctx, a, EXN_LINE);
  int32_t test = qqcbix(ctx, kExprEq, a_at, a, b, 0, 0);
  int32_t when = ExprOfKind(ctx, kExprWhen, a_at, test, ExprOfKind(ctx, kExprNull, a_at, 0, 0));
  return SearchedCase(ctx, at, when, ExprOfKind(ctx, kExprWhen, a_at, 0, a));
}

int32_t BuiltInNode(SqlCompileCtx* ctx, const int32_t* at, const char* name, int32_t args,
                    int32_t count) {
  if (count == 0 && std::strcmp(name, "IRAND") == 0) return ExprOfKind(ctx, 80, at, 0, 0);
  if (count == 0 && std::strcmp(name, "CURRENT_PROGRAM") == 0) {
    return ExprOfKind(ctx, kExprUserValue, at, 4, 0);
  }
  if (count >= 2 && std::strcmp(name, "COALESCE") == 0) return Coalesce(ctx, at, args);
  if (count == 1) {
    static const char* const kSets[] = {"COUNT", "AVG", "SUM", "MAX", "MIN"};
    for (int32_t i = 0; i < 5; ++i) {
      if (std::strcmp(name, kSets[i]) != 0) continue;
      int32_t node = qqcfnx(ctx, kExprCount + i, at, 0, 0);
      WsWord(ctx, node, EXN_OPERAND1) = 2;
      WsWord(ctx, node, EXN_OPERAND2) = Arg(ctx, args, 1);
      return node;
    }
    if (std::strcmp(name, "TRIM") == 0) {
      ExprWord w[] = {{22, 45}, {23, 0}, {24, Arg(ctx, args, 1)}};
      return ExprFixed(ctx, kExprTrim, at, w, 3);
    }
  }
  if (count == 2 && std::strcmp(name, "NULLIF") == 0) {
    return Nullif(ctx, at, Arg(ctx, args, 1), Arg(ctx, args, 2));
  }
  if (count == 2 && std::strcmp(name, "TAIL") == 0) {
    ExprWord w[] = {{22, Arg(ctx, args, 1)}, {23, Arg(ctx, args, 2)}, {24, 0}, {25, 0}};
    return ExprFixed(ctx, 52, at, w, 4);
  }
  if (count == 3 && std::strcmp(name, "REPLACE") == 0) {
    ExprWord w[] = {
        {22, Arg(ctx, args, 1)}, {23, Arg(ctx, args, 2)}, {24, Arg(ctx, args, 3)}, {25, 0}};
    return ExprFixed(ctx, 51, at, w, 4);
  }
  if (count == 4 && std::strcmp(name, "PASTE") == 0) {
    ExprWord w[] = {{22, Arg(ctx, args, 1)},
                    {23, Arg(ctx, args, 2)},
                    {24, Arg(ctx, args, 3)},
                    {25, Arg(ctx, args, 4)}};
    return ExprFixed(ctx, 49, at, w, 4);
  }
  for (const BuiltIn& b : kBuiltIns) {
    if (b.count != count || std::strcmp(name, b.name) != 0) continue;
    int32_t second = b.form == 2 ? Arg(ctx, args, 2) : 0;
    return ExprOfKind(ctx, b.kind, at, Arg(ctx, args, 1), second);
  }
  return 0;
}

}  // namespace

int32_t SqlBuildFunctionCall(SqlCompileCtx* ctx, const int32_t* position, int32_t name,
                             int32_t arguments, int32_t count) {
  QualifiedName parts;
  qqnamget(ctx, name, &parts);
  int32_t status = sqlsvc::qdgetroutine(ctx, parts);
  if (status > 0) {
    char shown[2 * 129 + 2];
    if (sqlsvc::qmrefname(ctx, name, 2, shown, sizeof shown) == 0) {
      int32_t node = BuiltInNode(ctx, position, shown, arguments, count);
      if (node != 0) return node;
    }
  }
  ExprWord w[] = {{22, name}, {23, arguments}, {24, count}};
  return ExprFixed(ctx, kExprRoutineCall, position, w, 3);
}
