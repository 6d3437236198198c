// The SQL grammar's actions: the routine the parser driver calls at every
// reduction, dispatching on the production number to the action families,
// and the parse phase that runs the driver over the SQL grammar's tables.
#pragma once

#include <cstdint>

#include "sql/front/compile_context.h"

// Production numbers lie below this (the highest are the helpers 992 to 994).
constexpr int32_t kSqlGrammarRuleLimit = 995;

// The action of production `rule`; the right-hand side starts at depth + 1.
void SqlActionOf(SqlCompileCtx* ctx, int32_t rule);

// The parse phase: parses the context's statement text with the SQL grammar;
// leaves the root in ctx->parse_root (-1 when no statement was closed) and
// the kind in ctx->statement_kind.
void SqlParseStatement(SqlCompileCtx* ctx);

// Installs SqlParseStatement as the compile driver's parse phase (the other
// phase entries stay as they are).
void SqlInstallParsePhase();

// The families, each over its range of production numbers.
void SqlActionsStatement(SqlCompileCtx* ctx, int32_t rule);    // 1 to 221
void SqlActionsTable(SqlCompileCtx* ctx, int32_t rule);        // 41, 164 to 221
void SqlActionsDefinition(SqlCompileCtx* ctx, int32_t rule);   // 15-40, 63-88, 110-133
void SqlActionsStorage(SqlCompileCtx* ctx, int32_t rule);      // 11, 44-62, 77, 88, 134-145
void SqlActionsControl(SqlCompileCtx* ctx, int32_t rule);      // 222 to 400
void SqlActionsAccess(SqlCompileCtx* ctx, int32_t rule);       // 222 to 281
void SqlActionsQuery(SqlCompileCtx* ctx, int32_t rule);        // 401 to 499
void SqlActionsValue(SqlCompileCtx* ctx, int32_t rule);        // 500 to 620, 993, 994
void SqlActionsNames(SqlCompileCtx* ctx, int32_t rule);        // 621 to 991
void SqlActionsIdentifiers(SqlCompileCtx* ctx, int32_t rule);  // 729-731, 753-761, 767-831
void SqlActionsLiterals(SqlCompileCtx* ctx, int32_t rule);     // 663-666, 687-724

// The function-call builder: a built-in function's node, a COALESCE or
// NULLIF expansion, or a routine call node; `arguments` in source order.
int32_t SqlBuildFunctionCall(SqlCompileCtx* ctx, const int32_t* position, int32_t name,
                             int32_t arguments, int32_t count);

// Rule lengths of the SQL grammar (0 for numbers it does not use).
int32_t SqlRuleLength(int32_t rule);
