// Small helpers the expression typing files share: node and descriptor
// words, new descriptors, and the user errors with their class-word
// parameter.
#pragma once

#include <cstdint>

#include "sql/front/catalog_access.h"
#include "sql/front/compile_context.h"
#include "sql/front/expr_types.h"
#include "sql/front/sql_action_words.h"
#include "sql/front/sql_types.h"
#include "sql/front/stmt_tree.h"

namespace typing {

inline int32_t& W(SqlCompileCtx* ctx, int32_t node, int32_t word) {
  return WsWord(ctx, node, word);
}
inline int32_t Kind(SqlCompileCtx* ctx, int32_t node) {
  return node == 0 ? -1 : W(ctx, node, EXN_KIND);
}
inline int32_t Class(SqlCompileCtx* ctx, int32_t node) {
  return node == 0 ? 0 : W(ctx, node, EXN_TYPE_CLASS);
}
inline int32_t Type(SqlCompileCtx* ctx, int32_t node) {
  return node == 0 ? 0 : W(ctx, node, EXN_TYPE);
}
// A word of a node's descriptor (0 when the node has none).
inline int32_t TypeWord(SqlCompileCtx* ctx, int32_t node, int32_t word) {
  int32_t t = Type(ctx, node);
  return t == 0 ? 0 : W(ctx, t, word);
}
inline int32_t Code(SqlCompileCtx* ctx, int32_t node) {
  return TypeWord(ctx, node, TD_CODE);
}
inline int32_t Length(SqlCompileCtx* ctx, int32_t node) {
  return TypeWord(ctx, node, TD_LENGTH);
}
inline int32_t Derivation(SqlCompileCtx* ctx, int32_t node) {
  return node == 0 ? 0 : W(ctx, node, EXN_DERIVATION);
}
inline bool IsUntyped(SqlCompileCtx* ctx, int32_t node) {
  return node != 0 && Class(ctx, node) == kClassUntyped;
}
inline bool IsNullLiteral(SqlCompileCtx* ctx, int32_t node) {
  int32_t k = Kind(ctx, node);
  return k == 32 || k == 97;
}

// A new four-word descriptor.
int32_t NewType(SqlCompileCtx* ctx, int32_t code, int32_t length, int32_t scale, int32_t variant);
// Gives the node a new descriptor and the class of its code.
void SetType(SqlCompileCtx* ctx, int32_t node, int32_t code, int32_t length, int32_t scale,
             int32_t variant);
// Shares another node's descriptor and class.
void ShareType(SqlCompileCtx* ctx, int32_t node, int32_t from);

// A user error at the node (tag "QME", severity 3), with the parameter "N",
// tab, `word` when a word is given; the node's class becomes 0.
void UserError(SqlCompileCtx* ctx, int32_t node, int32_t code, const char* word = nullptr);
// The same with a parameter letter and text ("E", a name).
void UserErrorNamed(SqlCompileCtx* ctx, int32_t node, int32_t code, char letter, const char* text,
                    const char* tag = "QME");

// The node's list of referenced columns: a new list holding the left's
// columns, then the right's (the right's cells are shared).
int32_t ConcatColumns(SqlCompileCtx* ctx, int32_t left, int32_t right);
int32_t ConcatLists(SqlCompileCtx* ctx, int32_t a, int32_t b);

// Wraps whichever of the two operand words holds a character operand when
// the other is national (qmnchcast); the node's word is updated.
void WrapNational(SqlCompileCtx* ctx, int32_t node, int32_t word_a, int32_t word_b);

// The schema and name of a qualified-name node, as the dictionary access
// takes them.
SqlQualifiedName NameOf(SqlCompileCtx* ctx, int32_t qualified);

// A collation node (kind 100) over an operand, carrying the collation and
// the operand's type and class.
int32_t CollationNode(SqlCompileCtx* ctx, int32_t operand, int32_t level, int32_t collation);
// 0 and the three built-in collations count as none.
bool IsBuiltInCollation(int32_t collation);

}  // namespace typing
