// The triggers of a changed table: fetched one by one through the
// dictionary access layer when the target of an INSERT, UPDATE or DELETE
// is bound, each a trigger node on QueryBlockState's trigger list.
#include "sql/front/trigger_binding.h"

#include "sql/front/catalog_access.h"
#include "sql/front/compile_context.h"
#include "sql/front/compile_diag.h"
#include "sql/front/sem_walk.h"
#include "sql/front/stmt_tree.h"

namespace {

// The table attribute word that says the table has triggers.
constexpr int32_t kTableAttrHasTriggers = 16;
// At most this many triggers are taken for one table (the dictionary's walk
// ends long before; a walk that never ends is not followed for ever).
constexpr int32_t kMaxTriggers = 100000;

int32_t& W(SqlCompileCtx* ctx, int32_t node, int32_t word) {
  return WsWord(ctx, node, word);
}

}  // namespace

void SemCollectTriggers(SqlCompileCtx* ctx, int32_t ref) {
  const SemContext& cur = ctx->query.context;
  int32_t event = qmflagtst(&cur, kFlagDelete) != 0   ? kFlagDelete
                  : qmflagtst(&cur, kFlagUpdate) != 0 ? kFlagUpdate
                  : qmflagtst(&cur, kFlagInsert) != 0 ? kFlagInsert
                                                      : 0;
  if (event == 0 || cur.w[SEM_LEVEL] != 0 || ctx->compile_mode == 6) return;
  if (W(ctx, ref, TRF_ATTRS + kTableAttrHasTriggers) == 0) return;
  int32_t table = W(ctx, ref, TRF_TABLE_ID);
  int32_t count = 0;
  for (int32_t n = 0; n < kMaxTriggers; ++n) {
    int32_t result[13] = {};
    int32_t status = qdgettriggers(ctx, table, event, result, &count);
    if (status < 0) qcfatal(ctx, status);
    if (status > 0 || count <= 0) return;
    int32_t node = TreeRecord(ctx, kTriggerWords, nullptr);
    W(ctx, node, TRG_ID) = result[0];
    for (int32_t i = 0; i < 7; ++i) W(ctx, node, TRG_TIMING + i) = result[2 + i];
    W(ctx, node, TRG_EVENT) = result[9];
    W(ctx, node, TRG_TABLE) = result[12];
    ctx->query.triggers = qqlcat(ctx, ctx->query.triggers, qqlcons(ctx, 0, node));
  }
}
