// Grammar actions of the statement level (start, statement start and end,
// the kinds of the definition statements) and of the definition statements'
// phrases built so far: CREATE INDEX (the table definition's are in
// sql_actions_table.cc).
#include <cstring>

#include "sql/front/sql_action_helpers.h"
#include "sql/front/sql_actions.h"
#include "sql/front/stmt_tree.h"

namespace {

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
}

void CreateIndex(SqlCompileCtx* ctx, int32_t* r) {
  const int32_t* s8 = SemEntry(ctx, 8);
  int32_t args[] = {SemEntry(ctx, 4)[VW_NAME], SemEntry(ctx, 6)[VW_NAME], SemEntry(ctx, 2)[VW_FLAG],
                    qqlrev(ctx, s8[VW_LIST])};
  r[VW_QUERY] = StmtNode(ctx, 2, r, args, 4);
  if (s8[VW_SORT_COUNT] >= 33) ActionError(ctx, s8, -12544, "CREATE INDEX");
}

}  // namespace

void SqlActionsStatement(SqlCompileCtx* ctx, int32_t rule) {
  int32_t* r = SemEntry(ctx, 1);
  switch (rule) {
    case 1: {
      const int32_t* s2 = SemEntry(ctx, 2);
      int32_t root = StmtRoot(ctx, s2, s2[VW_QUERY]);
      // A separator refused in compile mode 1 leaves no statement to run.
      ctx->parse_root = ActionState(ctx)->mode_word == -1 ? -1 : root;
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
    case 79:
      r[VW_FLAG] = 0;
      break;
    case 80:
      r[VW_FLAG] = 1;
      break;
    default:  // 5 to 10: the statement passes through
      if (rule >= 164) SqlActionsTable(ctx, rule);
      break;
  }
}
