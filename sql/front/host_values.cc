// Values that enter a statement from outside its text: literals, host
// variables and parameter markers, and operands whose type comes from the
// other side of their operation.
#include "sql/front/compile_context.h"
#include "sql/front/compile_diag.h"
#include "sql/front/expr_types.h"

void qmaval(SqlCompileCtx* ctx, int32_t) {
  qcinterr(ctx, "QME: qmaval", -19040);
}

void qmahos(SqlCompileCtx* ctx, int32_t, const SemContext*) {
  qcinterr(ctx, "QME: qmahos", -19040);
}

void qmuntyped(SqlCompileCtx* ctx, int32_t, int32_t, int32_t, int32_t) {
  qcinterr(ctx, "QME: qmuntyped", -19040);
}

void qmhostretype(SqlCompileCtx* ctx, int32_t, int32_t, int32_t) {
  qcinterr(ctx, "QME: qmhostretype", -19040);
}

void qmsettype(SqlCompileCtx* ctx, int32_t, int32_t) {
  qcinterr(ctx, "QME: qmsettype", -19040);
}
