// Services the grammar actions share: the value entries of a reduction, user
// errors at a symbol, the NOT stack that builds negated predicates in their
// mirror form, the LIKE key range, literal joining and numeric conversion, the
// K/M/G length suffixes, signed literal texts and function-name nodes.
#pragma once

#include <cstdint>
#include <string>

#include "sql/front/sql_action_words.h"

// Longest character literal and LIKE key.
constexpr int32_t kSqlLiteralBytes = 15000;
constexpr int32_t kSqlNameMax = 128;

// Entry k (1-based) of the right-hand side of the production being reduced;
// entry 1 is also the result.
// Actions take the entries of their longest form up front; near the top of
// the stack an entry beyond the production's length lies past the stack, so
// the index is clamped (such an entry is never read).
inline int32_t* SemEntry(SqlCompileCtx* ctx, int32_t k) {
  auto* a = static_cast<SqlParseArea*>(ctx->work_area);
  int32_t d = a->depth + k;
  return a->semantic[d < kSqlParseDepth ? d : kSqlParseDepth - 1];
}
// The token text of an entry (words 12 and 13), "" for none.
const char* EntryText(SqlCompileCtx* ctx, const int32_t* entry);
// A zero-terminated copy of n bytes in the arena, as a word index (0 for an
// empty text), the form words 13 hold.
int32_t ArenaTextCopy(SqlCompileCtx* ctx, const char* text, int32_t n);

// A user error (tag "QSA", severity 3) at the entry's position; `item` is a
// parameter item of letter N ("N", tab, item) when not null.
void ActionError(SqlCompileCtx* ctx, const int32_t* entry, int32_t code,
                 const char* item = nullptr);
// The same with a parameter item of another letter.
void ActionErrorItem(SqlCompileCtx* ctx, const int32_t* entry, int32_t code, char letter,
                     const std::string& item);

// ---- NOT stack ---------------------------------------------------------------
void qfnpsh(SqlCompileCtx* ctx, int32_t flag);   // depth 256: -19226
int32_t qfnpop(SqlCompileCtx* ctx);              // below 0: -19227
int32_t qfntop(SqlCompileCtx* ctx);              // depth below 1: -19227
int32_t qfnope(SqlCompileCtx* ctx, int32_t op);  // the mirror under a pending NOT
int32_t qfnqnt(SqlCompileCtx* ctx, int32_t quantifier);
// The NOT written in a predicate (0/1), inverted under a pending NOT.
int32_t EffectiveNot(SqlCompileCtx* ctx, int32_t written);

// ---- LIKE key range ------------------------------------------------------------
struct LikeKeys {
  std::string prefix;  // the fixed prefix of the pattern's matches
};
// True when the pattern (a character literal node) has an exact prefix that
// bounds its matches; escape is a one-character literal node or 0.
// `characters` counts the pattern characters walked.
bool LikeKeyRange(SqlCompileCtx* ctx, int32_t pattern, int32_t escape, LikeKeys* keys,
                  int32_t* characters);
// A key of the range as a string record of 15000 bytes in the workspace: the
// prefix padded with `pad` (zero bytes for the low key, 0xFF for the high),
// written in place.
int32_t LikeKeyRecord(SqlCompileCtx* ctx, const std::string& prefix, char pad);

// ---- Literals ------------------------------------------------------------------
// Joins the token text of `right` to that of `left` into left's words 12 and
// 13; past 15000 bytes -12128 at right and the join is cut.
void JoinLiteralTexts(SqlCompileCtx* ctx, int32_t* left, const int32_t* right);
// The value of an integer text; not convertible to 32 bits: -12230 at the
// entry and 0.
int32_t NumericValue(SqlCompileCtx* ctx, const int32_t* entry, const char* text, int32_t n);
// Decimal text times 1, 1024, 1048576 or 1073741824 for suffix 0 to 3 into
// *result; -1 for another suffix, 1 when the text does not convert or the
// product overflows 64 bits, else 0.
int32_t LengthWithSuffix(int64_t* result, const char* text, int32_t suffix);
// A string record (length word, bytes, 0) of the text with the pending sign put
// in front; the pending sign is cleared.
int32_t SignedLiteralRecord(SqlCompileCtx* ctx, const char* text, int32_t n);
// A qualified name node of one name (a built-in function's name).
int32_t FunctionNameNode(SqlCompileCtx* ctx, const int32_t* position, const char* name);
// True when the node is not a routine call (expression kind 98).
bool LiteralKindTest(SqlCompileCtx* ctx, int32_t node);
// The string record of a literal node (its word 22): bytes and length.
const char* LiteralBytes(SqlCompileCtx* ctx, int32_t node, int32_t* length);
