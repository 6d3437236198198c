// Context records of the semantic walk and its two stacks.
#include "sql/front/sem_stack.h"

#include "sql/front/compile_context.h"
#include "sql/front/compile_diag.h"

void qmqinit(SqlCompileCtx* ctx) {
  ctx->sem.query_depth = -1;
}

void qmqrph(SqlCompileCtx* ctx, int32_t query) {
  SemStacks& s = ctx->sem;
  if (s.query_depth + 1 >= kSemStackSlots) qcinterr(ctx, "QME: qmqrph", -19246);
  s.query[++s.query_depth] = query;
}

void qmqrpp(SqlCompileCtx* ctx, int32_t* query) {
  SemStacks& s = ctx->sem;
  if (s.query_depth < 0) qcinterr(ctx, "QME: qmqrpp", -19234);
  *query = s.query[s.query_depth--];
}

void qmqinitrec(SqlCompileCtx* ctx, int32_t owner, int32_t flag, SemContext* record) {
  int32_t* w = record->w;
  w[SEM_LEVEL] = -1;
  for (int32_t n = 0; n < 16; ++n) w[SEM_FLAG0 + n] = 0;
  if (flag >= 0 && flag < 16) w[SEM_FLAG0 + flag] = 1;
  w[SEM_EXPR_CONTEXT] = 6;
  w[SEM_DISTINCT] = 0;
  w[SEM_ITEMS] = 0;
  w[SEM_FROM_LIST] = 0;
  w[SEM_GROUPED] = 0;
  w[SEM_VIEW_COLUMNS] = 0;
  w[SEM_CONDITION] = 0;
  w[SEM_OWNER] = owner;
  ctx->sem.saved_depth = -1;
  qmqinit(ctx);
}

void qmqset(SqlCompileCtx* ctx, int32_t owner, SemContext* record) {
  SemStacks& s = ctx->sem;
  if (s.saved_depth + 1 >= kSemStackSlots) qcinterr(ctx, "QME: qmqset", -19247);
  s.saved[++s.saved_depth] = *record;
  int32_t* w = record->w;
  int32_t level = ++w[SEM_LEVEL];
  if (level > 0) {
    if (level == 1 && qmflagtst(record, 10)) {
      qmflagset(record, 15);
    } else {
      qmflagset(record, 0);
    }
  }
  qmflagclr(record, 7);
  if (qmflagtst(record, 2)) qmflagset(record, 3);
  if (qmflagtst(record, 4)) qmflagset(record, 5);
  qmflagclr(record, 2);
  qmflagclr(record, 4);
  w[SEM_EXPR_CONTEXT] = 6;
  w[SEM_DISTINCT] = 0;
  w[SEM_ITEMS] = 0;
  w[SEM_FROM_LIST] = 0;
  w[SEM_VIEW_COLUMNS] = 0;
  w[SEM_CONDITION] = 0;
  w[SEM_OWNER] = owner;
}

void qmqres(SqlCompileCtx* ctx, SemContext* record) {
  SemStacks& s = ctx->sem;
  if (s.saved_depth < 0) qcinterr(ctx, "QME: qmqres", -19235);
  *record = s.saved[s.saved_depth--];
}

namespace {

// The saved record of level k: the one saved when the block of level k + 1
// was entered was current while level k was analysed, and the outermost
// block's entry saved the record of level -1 at index 0.
SemContext* SavedOfLevel(SqlCompileCtx* ctx, int32_t level, const char* routine) {
  SemStacks& s = ctx->sem;
  int32_t index = (level < -1 ? -1 : level) + 1;
  if (index > s.saved_depth) qcinterr(ctx, routine, -19235);
  return &s.saved[index];
}

}  // namespace

void qmqget(SqlCompileCtx* ctx, SemContext* record, int32_t level) {
  *record = *SavedOfLevel(ctx, level, "QME: qmqget");
}

void qmqput(SqlCompileCtx* ctx, const SemContext* record, int32_t level) {
  *SavedOfLevel(ctx, level, "QME: qmqput") = *record;
}

void qmflagset(SemContext* record, int32_t n) {
  if (n >= 0 && n < 16) record->w[SEM_FLAG0 + n] = 1;
}

void qmflagclr(SemContext* record, int32_t n) {
  if (n >= 0 && n < 16) record->w[SEM_FLAG0 + n] = 0;
}

int32_t qmflagtst(const SemContext* record, int32_t n) {
  return n >= 0 && n < 16 && record->w[SEM_FLAG0 + n] != 0 ? 1 : 0;
}
