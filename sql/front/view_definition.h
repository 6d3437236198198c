// CREATE VIEW (statement kind 3) in the semantic walk: its query analysed
// with flag 11 (the table references collected), the view's column names,
// its updatability and the WITH CHECK OPTION rule.
#pragma once

#include <cstdint>
#include <string>

struct SqlCompileCtx;

// View definition words: the grammar's, then what the analysis writes.
constexpr int32_t VDF_NAME = 3;          // qualified name
constexpr int32_t VDF_COLUMNS = 4;       // column list (records: name part, 0), or 0
constexpr int32_t VDF_QUERY = 5;         // the query expression
constexpr int32_t VDF_CHECK_OPTION = 6;  // 1 WITH CHECK OPTION
constexpr int32_t VDF_UPDATABLE = 7;     // 1 when the view takes changes
constexpr int32_t VDF_TABLES = 8;        // the table references of its query
constexpr int32_t VDF_NAMES = 10;        // the view's column names (counted texts)
constexpr int32_t VDF_READ_ONLY = 11;    // grouped, an aggregate, or a merged view with options

// Routine 4 on kind 3, resumes 1 and 2.
void SemViewDefinition(SqlCompileCtx* ctx, int32_t node, int32_t resume);

// The image CREATE VIEW stores as the view's tree (item 59), made from the
// analysed definition under `root`: the view's query under the statement
// root (word 3; word 4 the query's table references, word 21 the views it
// materialized, words 22-30 what typing noted of it; the walk's other root
// words cleared) copied as a statement
// (reference kind 4) into a fresh block whose header word 2 is the copy's
// root. The root is left as it was; the statement's block stays current.
// Empty when `root` holds no view definition.
std::string qmviewimage(SqlCompileCtx* ctx, int32_t root);
