// qqcrel: copies a statement tree, or any record of it and everything it
// references, from one workspace block into another, rewriting every
// block-relative reference; a record reached twice comes out as one shared
// copy. The copy runs on the traversal stack, never by recursion.
#pragma once

#include <cstdint>

struct SqlCompileCtx;

// Reference kinds (the copy's walk routines).
constexpr int32_t kRefExpression = 1;
constexpr int32_t kRefExpressionList = 2;
constexpr int32_t kRefType = 3;
constexpr int32_t kRefStatement = 4;
constexpr int32_t kRefSortItem = 5;       // an ORDER BY item (6 words)
constexpr int32_t kRefSortList = 6;
constexpr int32_t kRefItem = 9;           // a select item (10 words)
constexpr int32_t kRefItemList = 10;
constexpr int32_t kRefTableRef = 12;      // a FROM item or join (16 words)
constexpr int32_t kRefTableRefList = 13;
constexpr int32_t kRefRecord197 = 17;
constexpr int32_t kRefText = 23;          // zero-terminated text
constexpr int32_t kRefCounted = 24;       // length word, bytes, 0 byte
constexpr int32_t kRefPair = 25;          // two words: qualified name, name
constexpr int32_t kRefOneName = 26;       // name part read for its name
constexpr int32_t kRefNamePart = 27;      // position, name text, qualifier text
constexpr int32_t kRefQualifiedName = 28; // position, two name parts
constexpr int32_t kRefRecord197List = 29;
constexpr int32_t kRefDoubles = 36;       // eight words, 8-byte aligned
constexpr int32_t kRefNameList = 37;
constexpr int32_t kRefPairList = 39;
constexpr int32_t kRefPairRecord = 40;
constexpr int32_t kRefRecord15 = 41;
constexpr int32_t kRefMax = 41;

// The expression node's forwarding word: the new node of a running copy.
constexpr int32_t EXN_FORWARD = 11;
// A view's column mapped onto its defining expression: the node that keeps
// the column as it was (0 for every other node). Any expression kind may
// carry it, so the copy follows it in every node.
constexpr int32_t EXN_MAPPED_FROM = 36;
constexpr int32_t kCopyValueSlots = 512;

// The reference words of an expression node of kind `expr_kind` with the
// reference kind of each, in the order the copy visits them (the type, word
// 19 and word 4 are every node's); -1 for a kind the copy has no rule for.
struct TreeChild {
  int32_t word;
  int32_t kind;
};
constexpr int32_t kMaxExprChildren = 8;
int32_t TreeExprChildren(int32_t expr_kind, TreeChild* out);

// Copies the record of `kind` at `ref` of block `source` into block
// `destination` (which must be the newest bottom block) and stores the new
// reference in *result (0 for a null root). Leaves the destination current.
// Errors leave through the compiler's exits: more than 2047 pending items
// -11107; more than 512 values -19258 ("QST: qswpsh"); an unknown expression
// kind -19207, statement kind -19244, table reference form -19245, reference
// kind or a damaged reference (outside the block, misaligned, a cycle through
// records other than expression nodes) -19220, all "QST: qqcrel".
void qqcrel(SqlCompileCtx* ctx, int32_t destination, int32_t source, int32_t kind, int32_t ref,
            int32_t* result);
