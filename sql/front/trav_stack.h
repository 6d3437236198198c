// The traversal stack every tree walk of the compiler runs on: frames of
// (walk routine, resume point, node) in three parallel arrays, so that deep
// trees cost words of the compile context instead of machine stack and a tree
// too deep ends the compilation with a capacity error.
#pragma once

#include <cstdint>

struct SqlCompileCtx;

// Index 0 of the arrays is never used; frames live at 1 to 2047.
constexpr int32_t kTravSlots = 2048;

struct SqlTravStack {
  int32_t depth = 0;  // index of the top frame, 0 empty
  int32_t routine[kTravSlots] = {};
  int32_t resume[kTravSlots] = {};
  int32_t node[kTravSlots] = {};
};

// Walk routine 0 ends a walk; 1 to 16 are each walker's own.
constexpr int32_t kTravEndOfWalk = 0;
constexpr int32_t kTravMaxRoutine = 16;

// The capacity error of a full stack: -11107 (no return).
[[noreturn]] void TravFull(SqlCompileCtx* ctx);

// Pushes a frame onto `t`, the context's stack; the 2048th is the capacity
// error -11107.
inline void TravPushOn(SqlTravStack& t, SqlCompileCtx* ctx, int32_t routine, int32_t resume,
                       int32_t node) {
  int32_t d = t.depth + 1;
  if (d >= kTravSlots) TravFull(ctx);
  t.depth = d;
  t.routine[d] = routine;
  t.resume[d] = resume;
  t.node[d] = node;
}
void TravPush(SqlCompileCtx* ctx, int32_t routine, int32_t resume, int32_t node);

struct TravFrame {
  int32_t routine;
  int32_t resume;
  int32_t node;
};
// Pops the top frame (the caller knows the stack is not empty: a walk always
// ends at its sentinel).
inline TravFrame TravPopFrom(SqlTravStack& t) {
  int32_t d = t.depth;
  t.depth = d - 1;
  return TravFrame{t.routine[d], t.resume[d], t.node[d]};
}
TravFrame TravPop(SqlCompileCtx* ctx);

// qbworklist: one frame (routine, resume, element) for each element of a list
// of two-word cells, pushed so that the elements pop in list order; stores
// the number pushed in *count and returns the list head. The list is reversed
// in place for the pushes and restored afterwards (also when a push fails,
// before the capacity error leaves).
int32_t qbworklist(SqlCompileCtx* ctx, int32_t routine, int32_t resume, int32_t list,
                   int32_t* count);
