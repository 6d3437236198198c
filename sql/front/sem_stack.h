// The semantic walk's context records and the two stacks it keeps in the
// compile context: the saved records of the enclosing query blocks and the
// query links the walk comes back to. Both hold 16; an overflow or an empty
// pop is an internal error of the compilation.
#pragma once

#include <cstdint>

struct SqlCompileCtx;

constexpr int32_t kSemContextWords = 26;
constexpr int32_t kSemStackSlots = 16;

// Word numbers of a context record.
constexpr int32_t SEM_LEVEL = 0;          // -1 in a fresh record
constexpr int32_t SEM_FLAG0 = 1;          // clause flag n is word n + 1 (n 0 to 15)
constexpr int32_t SEM_EXPR_CONTEXT = 17;  // expression context code
constexpr int32_t SEM_DISTINCT = 18;
constexpr int32_t SEM_ITEMS = 19;
constexpr int32_t SEM_FROM_LIST = 20;
constexpr int32_t SEM_FROM_COUNT = 21;  // left alone by the operations here
constexpr int32_t SEM_GROUPED = 22;
constexpr int32_t SEM_VIEW_COLUMNS = 23;
constexpr int32_t SEM_OWNER = 24;
constexpr int32_t SEM_CONDITION = 25;

struct SemContext {
  int32_t w[kSemContextWords] = {};
};

struct SemStacks {
  SemContext saved[kSemStackSlots];
  int32_t saved_depth = -1;  // index of the top record, -1 empty
  int32_t query[kSemStackSlots] = {};
  int32_t query_depth = -1;
};

void qmqinit(SqlCompileCtx* ctx);
void qmqrph(SqlCompileCtx* ctx, int32_t query);
void qmqrpp(SqlCompileCtx* ctx, int32_t* query);
void qmqinitrec(SqlCompileCtx* ctx, int32_t owner, int32_t flag, SemContext* record);
void qmqset(SqlCompileCtx* ctx, int32_t owner, SemContext* record);
void qmqres(SqlCompileCtx* ctx, SemContext* record);
// The record saved when the block of level k was entered (k below -1 counts
// as -1). A level with no saved record is an internal error "QME: qmqget"
// (or "QME: qmqput"), -19235.
void qmqget(SqlCompileCtx* ctx, SemContext* record, int32_t level);
void qmqput(SqlCompileCtx* ctx, const SemContext* record, int32_t level);

void qmflagset(SemContext* record, int32_t n);
void qmflagclr(SemContext* record, int32_t n);
int32_t qmflagtst(const SemContext* record, int32_t n);
