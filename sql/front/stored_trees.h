// Stored definition trees (views, checks, the trees of other definitions)
// brought into the statement being compiled, the expression that stands for
// a column's default, and the range condition that guards a value assigned
// to a numeric spelling.
#pragma once

#include <cstdint>

#include "sql/front/catalog_access.h"

struct SqlCompileCtx;

// The stored item a definition's tree is kept as (source kind 1).
constexpr int32_t kStoredTreeItem = 59;

// Reads the stored tree image of `id` into a new top block of the workspace:
// its offset in *block and the image's root word in *root; the statement's
// block stays current. A missing image records `referencing` as the missing
// object and leaves the phase with restart code -1 (no condition); a
// dictionary error ends the compilation with its status; an image whose
// length is below a block header or whose root lies outside it is internal
// error -19220 "QST: qmfetchtree".
void qmfetchtree(SqlCompileCtx* ctx, int32_t referencing, int32_t id, int32_t* block,
                 int32_t* root);
// The stored tree copied into the statement's block: copy mode 1 (an
// expression) for checks and defaults, 4 (a statement node) for views.
int32_t qmcopytree(SqlCompileCtx* ctx, int32_t referencing, int32_t id);
int32_t qmcopyview(SqlCompileCtx* ctx, int32_t view_id);

// An expression node for the column's default (kind in default_length),
// or 0 when it has none.
int32_t qmcoldefault(SqlCompileCtx* ctx, const SqlColumnDesc& column);

// The range condition over `value` for a numeric variant: true when the
// value lies outside the variant's range (201 INTEGER, 202 SMALLINT, 208
// BIGINT, 204 REAL, 203 and 205 DOUBLE PRECISION); 0 for none (below 1,
// 206, 207). Any other value names a stored check tree, copied with the
// value in place of its VALUE references.
int32_t qmrangecond(SqlCompileCtx* ctx, int32_t referencing, int32_t variant, int32_t value);
// The stored check tree `check` copied with the value in place of its
// VALUE references. Object ids are handed out from low numbers on, so a
// check's id may be one of the variants' numbers: whoever holds a check
// id (a domain's checks, through qdgetcc) asks here, not qmrangecond.
int32_t qmcheckcond(SqlCompileCtx* ctx, int32_t referencing, int32_t check, int32_t value);
