// Grammar actions of the definitions beside tables and indexes: schemas with
// their elements (each a statement tree of its own), views, domains,
// sequences with start, step and limit, and ALTER TABLE's variants.
#include <algorithm>
#include <climits>
#include <string>

#include "sql/front/sql_action_helpers.h"
#include "sql/front/sql_actions.h"
#include "sql/front/stmt_tree.h"

namespace {

constexpr int32_t VW_COLUMN_RECORD = 31;
constexpr int32_t VW_REFERENCE = 33;
constexpr int32_t VW_UNIQUE = 35;
constexpr int32_t VW_PRIMARY = 37;
constexpr int32_t VW_VIEW_COLUMN = 38;
constexpr int32_t VW_BEHAVIOUR = 50;
constexpr int32_t VW_PRIMARY_NAME = 52;

int32_t* S(SqlCompileCtx* ctx, int32_t k) {
  return SemEntry(ctx, k);
}

int32_t Node(SqlCompileCtx* ctx, int32_t kind, const int32_t* at,
             std::initializer_list<int32_t> a) {
  return StmtNode(ctx, kind, at, a.begin(), static_cast<int32_t>(a.size()));
}

// The value of a start, step or limit: the integer with the pending sign,
// converted with its sign, so that the least 32-bit value is in range.
int32_t SignedInteger(SqlCompileCtx* ctx, const int32_t* entry) {
  SqlActionState* s = ActionState(ctx);
  std::string text = s->pending_sign == '-' ? "-" : "";
  text.append(EntryText(ctx, entry), static_cast<size_t>(std::max(entry[VW_TEXT_LENGTH], 0)));
  s->pending_sign = 0;
  return NumericValue(ctx, entry, text.data(), static_cast<int32_t>(text.size()));
}

int32_t ColumnRecord(SqlCompileCtx* ctx, const int32_t* name_type, const int32_t* collate,
                     const int32_t* defaults) {
  int32_t values[10] = {name_type[VW_SIMPLE_NAME],
                        name_type[VW_TYPE],
                        name_type[VW_NAME],
                        defaults[VW_VALUE],
                        0,
                        0,
                        0,
                        0,
                        0,
                        collate[VW_NAME]};
  return TreeRecord(ctx, 10, values);
}

void Schema(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  switch (rule) {
    case 26: {
      const int32_t* e = S(ctx, 4);
      r[VW_QUERY] =
          Node(ctx, 39, r, {S(ctx, 3)[VW_SIMPLE_NAME], 0, qqlrev(ctx, e[VW_LIST]), e[VW_COUNT]});
      break;
    }
    case 27: {
      const int32_t* e = S(ctx, 5);
      r[VW_QUERY] =
          Node(ctx, 39, r, {0, S(ctx, 4)[VW_SIMPLE_NAME], qqlrev(ctx, e[VW_LIST]), e[VW_COUNT]});
      break;
    }
    case 28: {
      const int32_t* e = S(ctx, 6);
      r[VW_QUERY] = Node(ctx, 39, r,
                         {S(ctx, 3)[VW_SIMPLE_NAME], S(ctx, 5)[VW_SIMPLE_NAME],
                          qqlrev(ctx, e[VW_LIST]), e[VW_COUNT]});
      break;
    }
    case 29:
      r[VW_LIST] = 0;
      r[VW_COUNT] = 0;
      break;
    case 31:
      r[VW_LIST] = qqlcons(ctx, 0, StmtRoot(ctx, r, r[VW_QUERY]));
      r[VW_COUNT] = 1;
      break;
    case 32: {
      const int32_t* e = S(ctx, 2);
      r[VW_LIST] = qqlcons(ctx, r[VW_LIST], StmtRoot(ctx, e, e[VW_QUERY]));
      ++r[VW_COUNT];
      break;
    }
    default:
      break;  // 30, 33 to 40: the element passes through
  }
}

void ViewAndSequence(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  SqlActionState* s = ActionState(ctx);
  switch (rule) {
    case 63:
      r[VW_QUERY] =
          Node(ctx, 7, r,
               {S(ctx, 3)[VW_NAME], S(ctx, 5)[VW_TYPE], S(ctx, 5)[VW_VARIANT], S(ctx, 7)[VW_VALUE],
                qqlrev(ctx, S(ctx, 8)[VW_VALUE]), S(ctx, 6)[VW_NAME]});
      break;
    case 67: {
      // The view's name (772) opened the collection of column names; one
      // never opened (-1) gives an empty list.
      int32_t collected = s->collection == -1 ? 0 : qqlrev(ctx, s->collection);
      r[VW_QUERY] = Node(ctx, 3, r,
                         {S(ctx, 3)[VW_NAME], S(ctx, 4)[VW_LIST], S(ctx, 6)[VW_QUERY],
                          S(ctx, 7)[VW_FLAG], collected});
      s->collection = -1;
      break;
    }
    case 68:
      r[VW_LIST] = 0;
      break;
    case 69:
      r[VW_LIST] = qqlrev(ctx, S(ctx, 2)[VW_LIST]);
      break;
    case 70:
      r[VW_LIST] = qqlcons(ctx, 0, r[VW_VIEW_COLUMN]);
      break;
    case 71:
      r[VW_LIST] = qqlcons(ctx, r[VW_LIST], S(ctx, 3)[VW_VIEW_COLUMN]);
      break;
    case 72: {
      int32_t values[] = {r[VW_SIMPLE_NAME], 0};
      r[VW_VIEW_COLUMN] = TreeRecord(ctx, 2, values);
      break;
    }
    case 73:
      r[VW_FLAG] = 0;
      break;
    case 74:
    case 75:
      r[VW_FLAG] = 1;
      break;
    case 76:
      r[VW_QUERY] = Node(ctx, 4, r, {S(ctx, 3)[VW_NAME], S(ctx, 5)[VW_NAME]});
      break;
    case 87:
      r[VW_QUERY] = Node(ctx, 47, r, {S(ctx, 3)[VW_NAME], S(ctx, 5)[14]});
      break;
    case 78: {
      int32_t start = S(ctx, 5)[VW_COUNT];
      int32_t step = S(ctx, 6)[VW_COUNT];
      int32_t limit = S(ctx, 7)[VW_COUNT];
      r[VW_QUERY] = Node(ctx, 38, r, {S(ctx, 4)[VW_NAME], S(ctx, 2)[VW_FLAG], start, step, limit});
      if ((limit > start && step < 0) || (limit < start && step > 0)) ActionError(ctx, r, -12843);
      break;
    }
    case 81:
    case 83:
      r[VW_COUNT] = 1;
      break;
    case 85:
      r[VW_COUNT] = INT_MAX;
      break;
    case 82:
    case 84:
    case 86:
      r[VW_COUNT] = SignedInteger(ctx, S(ctx, 4));
      if (rule == 84 && r[VW_COUNT] == 0) ActionError(ctx, r, -12842);
      break;
    default:
      break;
  }
}

void AlterTable(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  int32_t table = rule <= 122 ? S(ctx, 3)[VW_NAME] : 0;
  switch (rule) {
    case 115:
      r[VW_QUERY] = Node(ctx, 10, r, {table, qqlrev(ctx, S(ctx, 5)[VW_LIST]), 0, 0, -1, 0, 0, 0});
      break;
    case 116:
      r[VW_QUERY] = Node(
          ctx, 10, r, {table, 0, S(ctx, 6)[VW_SIMPLE_NAME], 0, S(ctx, 7)[VW_BEHAVIOUR], 0, 0, 0});
      break;
    case 117:
    case 121:
    case 129:
    case 130:
    case 131:
      // Parsed and refused: no node.
      ActionError(ctx, S(ctx, rule == 117 ? 4 : rule == 121 ? 7 : 2), -12104);
      r[VW_QUERY] = 0;
      break;
    case 118:
      r[VW_QUERY] = Node(ctx, 10, r,
                         {table, 0, S(ctx, 6)[VW_SIMPLE_NAME], 0, -2, S(ctx, 7)[VW_TYPE],
                          S(ctx, 7)[VW_NAME], S(ctx, 8)[VW_NAME]});
      break;
    case 119: {
      const int32_t* e = S(ctx, 5);
      r[VW_QUERY] = Node(ctx, 43, r,
                         {table, e[VW_PRIMARY_NAME], e[VW_PRIMARY], e[VW_REFERENCE], e[VW_UNIQUE],
                          e[VW_VALUE], -1});
      break;
    }
    case 120:
      r[VW_QUERY] =
          Node(ctx, 43, r, {table, S(ctx, 6)[VW_NAME], 0, 0, 0, 0, S(ctx, 7)[VW_BEHAVIOUR]});
      break;
    case 122:
      r[VW_QUERY] =
          Node(ctx, 10, r, {table, 0, S(ctx, 6)[VW_SIMPLE_NAME], S(ctx, 7)[VW_VALUE], -1, 0, 0, 0});
      break;
    case 125:
      r[VW_LIST] = qqlcons(ctx, 0, S(ctx, 2)[VW_COLUMN_RECORD]);
      break;
    case 126:
      r[VW_LIST] = S(ctx, 2)[VW_LIST];
      break;
    case 127:
      r[VW_LIST] = qqlcons(ctx, 0, ColumnRecord(ctx, r, S(ctx, 2), S(ctx, 3)));
      break;
    case 128:
      r[VW_LIST] = qqlcons(ctx, r[VW_LIST], ColumnRecord(ctx, S(ctx, 3), S(ctx, 4), S(ctx, 5)));
      break;
    case 132:
      r[VW_VALUE] = 0;
      break;
    case 133:
      r[VW_VALUE] = S(ctx, 3)[VW_VALUE];
      break;
    default:
      break;  // 123, 124: COLUMN or not
  }
}

}  // namespace

// 15 to 40, 63 to 88, 110 to 133.
void SqlActionsDefinition(SqlCompileCtx* ctx, int32_t rule) {
  static const int32_t kKinds[][2] = {{15, 18},  {16, 94},  {17, 98}, {18, 21}, {19, 24},
                                      {20, 33},  {21, 113}, {24, 30}, {25, 39}, {110, 17},
                                      {111, 29}, {112, 23}, {113, 35}};
  int32_t* r = SemEntry(ctx, 1);
  for (const auto& k : kKinds) {
    if (k[0] == rule) ctx->statement_kind = k[1];
  }
  if (rule <= 40) {
    Schema(ctx, rule, r);
  } else if (rule <= 88) {
    ViewAndSequence(ctx, rule, r);
  } else {
    AlterTable(ctx, rule, r);
  }
}
