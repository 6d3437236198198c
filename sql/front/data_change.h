// Semantic analysis of the statements that change a table: INSERT, UPDATE
// and DELETE bind their target, check that it takes the change, pair
// columns with values (defaults for the columns left out), test column
// privileges, attach the target's check conditions and re-set the
// statement kind; LOAD binds and checks its table only. The assignment
// (expression kind 0) is typed by qmassign (expr_types.h).
#pragma once

#include <cstdint>

struct SqlCompileCtx;

// DELETE (statement kinds 22 searched, 23 positioned).
constexpr int32_t DLT_TARGET = 4;
constexpr int32_t DLT_WHERE = 5;
constexpr int32_t DLT_CURSOR = 6;
// UPDATE (24 searched, 25 positioned).
constexpr int32_t UPD_TARGET = 4;
constexpr int32_t UPD_SET = 5;       // assignments (kind 0: column, value)
constexpr int32_t UPD_WHERE = 6;
constexpr int32_t UPD_CURSOR = 7;
constexpr int32_t UPD_CHECKS = 8;    // the target's check conditions
constexpr int32_t UPD_VIEW = 9;      // the view word (0 for a base table)
// INSERT (26).
constexpr int32_t INS_TARGET = 3;
constexpr int32_t INS_COLUMNS = 4;   // name parts, or 0
constexpr int32_t INS_SOURCE = 5;    // values, or one subquery expression
constexpr int32_t INS_ASSIGNMENTS = 6;
constexpr int32_t INS_CHECKS = 7;
constexpr int32_t INS_VIEW = 8;
// What the analysis keeps in the node between its visits (every kind).
constexpr int32_t DCH_PRIVILEGE = 10;  // the table privilege test reported the privilege
constexpr int32_t DCH_FAILED = 11;     // a target rule failed or columns and values differ
constexpr int32_t DCH_FROM = 12;       // the block's FROM list while a view's table's checks are walked
// A searched DELETE's or UPDATE's first query to run before the change
// (word 3; a chain of next-query links): the views it materialized.
constexpr int32_t DCH_FIRST_QUERY = 3;
// LOAD (40 start, 41 commit, 42 rollback): word 3 the qualified name.
constexpr int32_t LOD_NAME = 3;

// The assignment node (kind 0): word 22 the target column, 23 the value;
// written by qmassign: the target's run-time guards.
constexpr int32_t ASG_TARGET = 22;
constexpr int32_t ASG_VALUE = 23;
constexpr int32_t ASG_DOMAIN_CHECKS = 24;  // list of the domain's check conditions
constexpr int32_t ASG_RANGE = 25;          // the numeric variant's range condition
constexpr int32_t ASG_NULL_TEST = 26;      // IS NULL over the target (not nullable)

// The column a change of `column` changes: for a column of a view merged
// into the statement, the table column the view's select item names
// (followed down through views of views), else `column` itself (a column
// the view computes, too).
int32_t SemChangedColumn(SqlCompileCtx* ctx, int32_t column);

// Routine 4 on kinds 22 to 26, at resumes 1 to 3.
void SemDataChange(SqlCompileCtx* ctx, int32_t node, int32_t resume);
// Kinds 40 to 42.
void SemLoad(SqlCompileCtx* ctx, int32_t node);
