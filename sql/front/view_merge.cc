#include "sql/front/view_merge.h"

#include "sql/front/compile_context.h"
#include "sql/front/compile_diag.h"
#include "sql/front/compile_services.h"
#include "sql/front/stmt_tree.h"

namespace {

SqlOptimizerServices g_optimizer;

}  // namespace

SqlOptimizerServices SqlInstallOptimizerServices(const SqlOptimizerServices* services) {
  SqlOptimizerServices old = g_optimizer;
  g_optimizer = services != nullptr ? *services : SqlOptimizerServices{};
  return old;
}

int32_t qmandcomb(SqlCompileCtx* ctx, const int32_t* position, int32_t a, int32_t b, int32_t kind) {
  if (a == 0) return b;
  if (b == 0) return a;
  return qqcbix(ctx, kind, position, a, b, 0, 0);
}

void ViewOptimize(SqlCompileCtx* ctx, int32_t statement) {
  if (g_optimizer.qodrive == nullptr) qcinterr(ctx, "QOP: qodrive", kSqlServiceMissing);
  g_optimizer.qodrive(ctx, statement);
}

bool ViewMustMaterialize(const ViewMergeFacts& f) {
  if (!f.select_block || f.materialized_own || f.counter) return true;
  if (f.query_context) {
    if (f.first) return true;
    if ((f.second || f.third) && f.from_items > 1) return true;
    if (f.third && (f.outer_where || f.outer_grouping)) return true;
    if (f.outer_grouping && f.computed_column) return true;
  }
  return (f.statement_kind == 22 || f.statement_kind == 24) && f.merge_state == 2;
}

ViewRowLayout qmviewlayout(SqlCompileCtx* ctx, int32_t items, bool counter) {
  if (g_optimizer.qoarof == nullptr) qcinterr(ctx, "QOP: qoarof", kSqlServiceMissing);
  ViewRowLayout out;
  for (int32_t c = items; c != 0; c = WsWord(ctx, c, CELL_NEXT)) ++out.columns;
  int32_t key_length = 0;
  int32_t row_number = 0;
  g_optimizer.qoarof(ctx, items, 0, &key_length, &out.row_length, &row_number, 0, 0);
  out.data_length = out.row_length;
  if (counter) {
    ++out.columns;
    out.row_length += kViewCounterBytes;
    out.data_length += kViewCounterBytes;
  }
  return out;
}
