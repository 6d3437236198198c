// The triggers of a changed table: fetched one by one through the
// dictionary access layer when the target of an INSERT, UPDATE or DELETE
// is bound, each a trigger node on QueryBlockState's trigger list.
#include "sql/front/trigger_binding.h"

#include <cstring>

#include "sql/front/catalog_access.h"
#include "sql/front/compile_context.h"
#include "sql/front/compile_diag.h"
#include "sql/front/sem_walk.h"
#include "sql/front/stmt_tree.h"
#include "sql/front/walk_words.h"

using walk_words::W;

namespace {

// The table attribute word that says the table has triggers.
constexpr int32_t kTableAttrHasTriggers = 16;
// The words of qdgettriggers' result that say whether the trigger keeps
// an old (and, next, a new) transition name.
constexpr int32_t kAnswerOldRows = 10;
// At most this many triggers are taken for one table (the dictionary's walk
// ends long before; a walk that never ends is not followed for ever).
constexpr int32_t kMaxTriggers = 100000;

// The statement's transition-table reference of word position `word`
// (old or new), made on first use with the table identifier -1 and put on
// the transition-table list; every trigger of the statement shares it.
int32_t TransitionTable(SqlCompileCtx* ctx, int32_t word, int32_t shared[2]) {
  int32_t& ref = shared[word == TRG_OLD_TABLE ? 0 : 1];
  if (ref != 0) return ref;
  ref = qqwsal(ctx, kTableRefWords * 4);
  std::memset(qqwsadr(ctx, ref), 0, kTableRefWords * 4);
  W(ctx, ref, TRF_TABLE_ID) = -1;
  W(ctx, ref, TRF_TRANSITION) = word == TRG_OLD_TABLE ? 1 : 2;
  QueryBlockState& q = ctx->query;
  q.transition_tables = qqlcat(ctx, q.transition_tables, qqlcons(ctx, 0, ref));
  return ref;
}

// The trigger's old and new transition words: a trigger that keeps a
// transition name reads the old (new) rows, a row trigger through the
// changed row, a statement trigger through a transition table. A use of the
// old ones sets the transition mark.
void TransitionWords(SqlCompileCtx* ctx, int32_t node, int32_t ref, const int32_t* result,
                     int32_t shared[2]) {
  bool row = result[3] != 0;
  for (int32_t k = 0; k < 2; ++k) {
    if (result[kAnswerOldRows + k] == 0) continue;
    if (row) {
      W(ctx, node, TRG_OLD_ROW + k) = ref;
    } else {
      W(ctx, node, TRG_OLD_TABLE + k) = TransitionTable(ctx, TRG_OLD_TABLE + k, shared);
    }
    if (k == 0) ctx->query.transition_mark = 1;
  }
}

}  // namespace

void SemCollectTriggers(SqlCompileCtx* ctx, int32_t ref, bool attributes_current) {
  const SemContext& cur = ctx->query.context;
  int32_t event = qmflagtst(&cur, kFlagDelete) != 0   ? kFlagDelete
                  : qmflagtst(&cur, kFlagUpdate) != 0 ? kFlagUpdate
                  : qmflagtst(&cur, kFlagInsert) != 0 ? kFlagInsert
                                                      : 0;
  if (event == 0 || cur.w[SEM_LEVEL] != 0 || ctx->compile_mode == 6) return;
  if (attributes_current && W(ctx, ref, TRF_ATTRS + kTableAttrHasTriggers) == 0) return;
  int32_t table = W(ctx, ref, TRF_TABLE_ID);
  int32_t count = 0;
  int32_t shared[2] = {0, 0};
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
    TransitionWords(ctx, node, ref, result, shared);
    ctx->query.triggers = qqlcat(ctx, ctx->query.triggers, qqlcons(ctx, 0, node));
  }
}
