// Collation rules of expressions and the reference checks semantic analysis
// shares: display names, comparisons of column references, grouping checks
// and sequence references.
#include "sql/front/compile_context.h"
#include "sql/front/compile_diag.h"
#include "sql/front/expr_types.h"

void qmcoll(SqlCompileCtx* ctx, int32_t, int32_t, int32_t, int32_t) {
  qcinterr(ctx, "QME: qmcoll", -19040);
}

void qmrefname(SqlCompileCtx* ctx, int32_t, int32_t, char out[kRefNameBytes]) {
  out[0] = 0;
  qcinterr(ctx, "QME: qmrefname", -19040);
}

void qmnamefmt(SqlCompileCtx* ctx, char out[kRefNameBytes], int32_t) {
  out[0] = 0;
  qcinterr(ctx, "QME: qmnamefmt", -19040);
}

int32_t qmsamecol(SqlCompileCtx* ctx, int32_t, int32_t) {
  qcinterr(ctx, "QME: qmsamecol", -19040);
}

int32_t qmcolname(SqlCompileCtx* ctx, int32_t, const char*) {
  qcinterr(ctx, "QME: qmcolname", -19040);
}

int32_t qmduplcol(SqlCompileCtx* ctx, int32_t, int32_t, int32_t) {
  qcinterr(ctx, "QME: qmduplcol", -19040);
}

int32_t qmnamchk(SqlCompileCtx* ctx, int32_t) {
  qcinterr(ctx, "QME: qmnamchk", -19040);
}

void qmgroupchk(SqlCompileCtx* ctx, int32_t, int32_t, int32_t, SemContext*) {
  qcinterr(ctx, "QME: qmgroupchk", -19040);
}
