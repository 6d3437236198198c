// The statement description, the program copy and the cursor records that the
// compile driver builds in kernel word storage for its caller once a statement
// has compiled.
#pragma once

#include <cstdint>

struct SqlCompileCtx;

// Words of a description block: the nine-word header, the eight statement
// words, then one nine-word record per column and per parameter.
constexpr int32_t kDescHeaderWords = 9;
constexpr int32_t kDescStatementWords = 8;
constexpr int32_t kDescRecordWords = 9;
constexpr int32_t kCursorRecordWords = 22;
// Words of a cursor list entry copied into a cursor record (from word 2).
constexpr int32_t kCursorEntryWords = 20;

// Result column node (statement node of kind 2 on the result list).
constexpr int32_t kResultColumnKind = 2;
constexpr int32_t RCN_EXPRESSION = 3;
constexpr int32_t RCN_NAME = 4;  // reference of a zero-terminated name, 0 none
// Parameter node words (expression kind 30 on the parameter list).
constexpr int32_t PRM_NAME = 22;  // reference of a zero-terminated name, 0 none
constexpr int32_t PRM_SEQUENCE = 24;
constexpr int32_t PRM_MODE = 25;
// Expression words the column records read.
constexpr int32_t EXN_INDIRECTION = 3;

// Fills result words 2, 3 and 7 (and the context's program block): the
// statement description (kind 42: its operand description), the program
// copy when `builder_block` is set, and the cursor records.
void BuildDescriptions(SqlCompileCtx* ctx, int32_t* result, int32_t builder_block, int32_t start);
