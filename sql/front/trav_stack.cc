// The traversal stack's push, pop and list push.
#include "sql/front/trav_stack.h"

#include "sql/front/compile_context.h"
#include "sql/front/compile_diag.h"
#include "sql/front/stmt_tree.h"

void TravFull(SqlCompileCtx* ctx) {
  qclimerr(ctx, -11107, "");
}

void TravPush(SqlCompileCtx* ctx, int32_t routine, int32_t resume, int32_t node) {
  TravPushOn(ctx->trav, ctx, routine, resume, node);
}

TravFrame TravPop(SqlCompileCtx* ctx) {
  return TravPopFrom(ctx->trav);
}

int32_t qbworklist(SqlCompileCtx* ctx, int32_t routine, int32_t resume, int32_t list,
                   int32_t* count) {
  *count = 0;
  if (list == 0) return 0;
  int32_t reversed = qqlrev(ctx, list);
  SqlTravStack& t = ctx->trav;
  int32_t pushed = 0;
  int32_t c = reversed;
  // The frames are stored before the test so that a full stack still gives
  // the list back in its order before the capacity error leaves.
  for (; c != 0; c = WsWord(ctx, c, CELL_NEXT)) {
    if (t.depth + 1 >= kTravSlots) break;
    TravPush(ctx, routine, resume, WsWord(ctx, c, CELL_VALUE));
    ++pushed;
  }
  int32_t head = qqlrev(ctx, reversed);
  *count = pushed;
  if (c != 0) qclimerr(ctx, -11107, "");
  return head;
}
