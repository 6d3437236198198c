// Grammar actions of the statement level (start, statement start and end,
// the kinds of the definition statements) and of the definition statements'
// phrases built so far: CREATE INDEX (the table definition's are in
// sql_actions_table.cc).
#include <cstring>

#include "sql/front/sql_action_helpers.h"
#include "sql/front/sql_actions.h"
#include "sql/front/stmt_tree.h"

namespace {

constexpr int32_t kObjectWord = 28;  // object descriptor (class, name)
constexpr int32_t kBehaviour = 50;   // 0 CASCADE, 1 RESTRICT

// 2: every statement starts with no pending NOT, no sign and no collection.
void StatementStart(SqlCompileCtx* ctx) {
  SqlActionState* s = ActionState(ctx);
  s->zero_position[0] = s->zero_position[1] = 0;
  s->pending_sign = 0;
  s->not_depth = 0;
  qfnpsh(ctx, 0);
  s->comparison = 0;
  s->collection = -1;
  s->column_list = -1;
  s->empty_statement = 0;
}

void CreateIndex(SqlCompileCtx* ctx, int32_t* r) {
  const int32_t* s8 = SemEntry(ctx, 8);
  int32_t args[] = {SemEntry(ctx, 4)[VW_NAME], SemEntry(ctx, 6)[VW_NAME], SemEntry(ctx, 2)[VW_FLAG],
                    qqlrev(ctx, s8[VW_LIST])};
  r[VW_QUERY] = StmtNode(ctx, 2, r, args, 4);
  if (s8[VW_SORT_COUNT] >= 33) ActionError(ctx, s8, -12544, "CREATE INDEX");
}

// 91 to 106 and 149 to 163: an object named by its class keyword; the
// removal phrases also record the statement kind.
void ObjectPhrase(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  struct Object {
    int32_t cls;
    int32_t word;  // of symbol 2
    int32_t kind;
  };
  static const Object kRemoval[] = {// 91 .. 106
                                    {3, 3, 25},   {4, 6, 19},  {5, 2, 22},  {6, 2, 40},
                                    {12, 2, 96},  {14, 6, 97}, {13, 2, 99}, {16, 2, 114},
                                    {15, 2, 112}, {0, 2, 37},  {9, 2, 75},  {10, 2, 76},
                                    {11, 2, 95},  {1, 2, 28},  {7, 2, 34},  {8, 6, 31}};
  static const Object kComment[] = {// 149 .. 163
                                    {3, 3, 0}, {4, 6, 0}, {5, 2, 0},  {6, 2, 0},  {12, 2, 0},
                                    {1, 2, 0}, {7, 2, 0}, {8, 6, 0},  {14, 6, 0}, {13, 2, 0},
                                    {0, 2, 0}, {9, 2, 0}, {10, 2, 0}, {11, 2, 0}, {2, 5, 0}};
  const Object& o = rule <= 106 ? kRemoval[rule - 91] : kComment[rule - 149];
  int32_t values[] = {o.cls, SemEntry(ctx, 2)[o.word]};
  r[kObjectWord] = TreeRecord(ctx, 2, values);
  if (o.kind != 0) ctx->statement_kind = o.kind;
}

void Removal(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  switch (rule) {
    case 89:
    case 90: {
      int32_t args[] = {SemEntry(ctx, 2)[kObjectWord],
                        rule == 89 ? SemEntry(ctx, 3)[kBehaviour] : 0};
      r[VW_QUERY] = StmtNode(ctx, 9, r, args, 2);
      break;
    }
    case 107:
    case 109:
      r[kBehaviour] = 1;
      break;
    case 108:
      r[kBehaviour] = 0;
      break;
    case 146:
    case 147:
    case 148: {  // 146 sets the comment, 147 and 148 append to it
      const int32_t* s5 = SemEntry(ctx, 5);
      int32_t text = TreeCountedCopy(ctx, EntryText(ctx, s5), s5[VW_TEXT_LENGTH]);
      int32_t args[] = {SemEntry(ctx, 3)[kObjectWord], rule == 146 ? 0 : 1, text};
      r[VW_QUERY] = StmtNode(ctx, 14, r, args, 3);
      break;
    }
    default:
      ObjectPhrase(ctx, rule, r);
      break;
  }
}

}  // namespace

void SqlActionsStatement(SqlCompileCtx* ctx, int32_t rule) {
  int32_t* r = SemEntry(ctx, 1);
  switch (rule) {
    case 1: {
      const int32_t* s2 = SemEntry(ctx, 2);
      int32_t root = StmtRoot(ctx, s2, s2[VW_QUERY]);
      // A separator refused in compile mode 1, or an empty statement, leaves
      // no statement to run.
      SqlActionState* st = ActionState(ctx);
      ctx->parse_root = st->mode_word == -1 || st->empty_statement != 0 ? -1 : root;
      qfnpop(ctx);
      break;
    }
    case 2:
      StatementStart(ctx);
      break;
    case 3:
      ctx->statement_end = -1;
      break;
    case 4:
      if (ctx->compile_mode == 1) {
        ctx->statement_end = -1;
        ActionState(ctx)->mode_word = -1;
        ActionError(ctx, r, -12108);
      } else {
        ctx->statement_end = r[VW_POS];
      }
      break;
    case 14:
      ctx->statement_kind = 41;
      break;
    case 13:
      ActionState(ctx)->empty_statement = 1;
      break;
    case 22:
      ctx->statement_kind = 36;
      break;
    case 23:
      ctx->statement_kind = 27;
      break;
    case 41:
      SqlActionsTable(ctx, rule);
      break;
    case 66:
      CreateIndex(ctx, r);
      break;
    case 42:
      r[VW_SIMPLE_NAME] = 0;
      break;
    case 43:
      r[VW_SIMPLE_NAME] = SemEntry(ctx, 2)[VW_SIMPLE_NAME];
      break;
    case 79:
      r[VW_FLAG] = 0;
      break;
    case 80:
      r[VW_FLAG] = 1;
      break;
    default:  // 5 to 10, 12: the statement passes through
      if (rule >= 164) {
        SqlActionsTable(ctx, rule);
      } else if ((rule >= 89 && rule <= 109) || (rule >= 146 && rule <= 163)) {
        Removal(ctx, rule, r);
      } else if (rule == 11 || (rule >= 44 && rule <= 62) || rule == 77 || rule == 88 ||
                 (rule >= 134 && rule <= 145)) {
        SqlActionsStorage(ctx, rule);
      } else if ((rule >= 15 && rule <= 40) || (rule >= 63 && rule <= 88) ||
                 (rule >= 110 && rule <= 133)) {
        SqlActionsDefinition(ctx, rule);
      }
      break;
  }
}
