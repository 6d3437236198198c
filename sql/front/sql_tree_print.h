// Statement trees back to SQL text: every binary operator and predicate in
// parentheses, so the text shows the tree's shape; used by the tests to
// compare trees and to run printed conditions in another database.
#pragma once

#include <cstdint>
#include <string>

struct SqlCompileCtx;

// An expression node (0 prints as "").
std::string SqlPrintExpression(SqlCompileCtx* ctx, int32_t node);
// A statement node of the kinds the grammar builds (the root prints its top).
std::string SqlPrintStatement(SqlCompileCtx* ctx, int32_t node);
// The same in SQL that SQLite runs with the same meaning: = ANY and <> ALL
// over a subquery as IN and NOT IN, a LIKE's key range as the LIKE itself
// (compare with PRAGMA case_sensitive_like on), a conversion node as its
// operand, and a set operation without parentheses (one on the right of
// another reads from a subquery).
std::string SqlPrintStatementForSqlite(SqlCompileCtx* ctx, int32_t node);
