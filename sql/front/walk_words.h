// The short forms the semantic walk's files share: a word of a node, the
// context of the query block being walked, and a frame pushed onto the
// traversal stack.
#pragma once

#include <cstdint>

#include "sql/front/compile_context.h"
#include "sql/front/trav_stack.h"

namespace walk_words {

inline int32_t& W(SqlCompileCtx* ctx, int32_t node, int32_t word) {
  return WsWord(ctx, node, word);
}

inline SemContext& Cur(SqlCompileCtx* ctx) {
  return ctx->query.context;
}

inline void Push(SqlCompileCtx* ctx, int32_t routine, int32_t resume, int32_t node) {
  TravPushOn(ctx->trav, ctx, routine, resume, node);
}

}  // namespace walk_words
