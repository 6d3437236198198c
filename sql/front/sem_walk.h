// Semantic analysis of one statement: the walk over the statement tree
// (qmsema, started by the semantic phase driver qmdrive), the binding of
// FROM clauses, the resolution of column names and the rules of query
// blocks. The words the analysis writes into the tree are named here; the
// state it gathers is the compile context's QueryBlockState.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "sql/front/sem_stack.h"

struct SqlCompileCtx;
struct SqlColumnDesc;

// ---- Walk routines (traversal frames) -----------------------------------------
constexpr int32_t kWalkExpression = 1;
constexpr int32_t kWalkStatement = 4;
constexpr int32_t kWalkSortItem = 6;
constexpr int32_t kWalkOrderBy = 7;
constexpr int32_t kWalkForUpdate = 8;
constexpr int32_t kWalkSelectItem = 9;
constexpr int32_t kWalkSelectList = 10;
constexpr int32_t kWalkCondition = 14;
constexpr int32_t kWalkGroupBy = 15;
constexpr int32_t kWalkHaving = 16;

// ---- Clause flags (SemContext) ----------------------------------------------
constexpr int32_t kFlagSubquery = 0;
constexpr int32_t kFlagSetFunction = 1;
constexpr int32_t kFlagHaving = 2;
constexpr int32_t kFlagInHaving = 3;
constexpr int32_t kFlagSearch = 4;
constexpr int32_t kFlagInSearch = 5;
constexpr int32_t kFlagGroupBy = 6;
constexpr int32_t kFlagSelectList = 7;
constexpr int32_t kFlagDelete = 8;
constexpr int32_t kFlagUpdate = 9;
constexpr int32_t kFlagInsert = 10;
constexpr int32_t kFlagCollect = 11;
constexpr int32_t kFlagOrderBy = 12;
constexpr int32_t kFlagForUpdate = 13;
constexpr int32_t kFlagSetOperation = 14;
constexpr int32_t kFlagQuery = 15;

// Expression contexts.
constexpr int32_t kContextComparison = 0;
constexpr int32_t kContextLike = 3;
constexpr int32_t kContextExists = 4;
constexpr int32_t kContextQuantified = 5;
constexpr int32_t kContextStatement = 6;

// ---- Words written into the tree --------------------------------------------
// Every expression node.
constexpr int32_t EXN_ON_LINK = 4;     // the joined table whose ON condition this is
constexpr int32_t EXN_ANALYSED = 39;   // 1 once the walk has taken the node
// A column reference (kind 27): word 22 is its qualified-name node.
constexpr int32_t EXN_TABLE_REF = 23;  // the bound table reference, 0 unbound
constexpr int32_t EXN_COLUMN_ID = 24;  // the column's number in its table
constexpr int32_t EXN_HIDDEN = 25;     // the second copy of a join's common column
constexpr int32_t EXN_ERROR_MARK = 26; // a resolution error was reported for it
constexpr int32_t EXN_LEVEL = 27;      // the level of the block it was bound in
constexpr int32_t EXN_DEFAULT = 38;    // counted copy of the column's default text
// A conversion node (kind 100) over an operand, of the operand's type.
constexpr int32_t kExprConversion = 100;
// A subquery (kind 26): the depth of the query stack when it began.
constexpr int32_t EXN_QUERY_DEPTH = 25;

// FROM items (16 words): word 0 the form (0 table, 1 join), 1 -1, 2 the
// outer join's preserved operand, 11-15 the grammar's words.
constexpr int32_t FRM_FORM = 0;
constexpr int32_t FRM_BOUND = 3;        // table: the bound table reference
constexpr int32_t FRM_INNER = 4;        // the inner-join mark
constexpr int32_t FRM_COLUMNS = 5;      // join: its result column list
constexpr int32_t FRM_COMMON = 6;       // join: the names of its common columns (texts)
constexpr int32_t FRM_NAME = 11;        // table: qualified name; join: its type
constexpr int32_t FRM_CORRELATION = 12; // table: correlation name; join: left operand
constexpr int32_t FRM_RIGHT = 13;       // join: right operand
constexpr int32_t FRM_ON = 14;          // join: ON condition (then the built condition)
constexpr int32_t FRM_USING = 15;       // join: USING column names

// Bound table reference (qqctref, 197 words).
constexpr int32_t kTableRefWords = 197;
constexpr int32_t TRF_EXPOSED = 0;      // text: the exposed name
constexpr int32_t TRF_COLUMNS = 2;      // list of the column references bound to it
constexpr int32_t TRF_TABLE_ID = 3;
constexpr int32_t TRF_KIND = 4;         // 1 base table, 2 view
constexpr int32_t TRF_VIEW = 5;         // the view description, 0 for a base table
constexpr int32_t TRF_TRANSITION = 6;   // 0, or 1 / 2 for the first / second transition name
constexpr int32_t TRF_EVENTS = 7;       // trigger-event counts: INSERT, UPDATE, DELETE (7-9)
constexpr int32_t TRF_MINMAX = 10;      // the MIN/MAX mark
constexpr int32_t TRF_MINMAX_LIST = 11; // MAX/MIN items over its columns
constexpr int32_t TRF_ITEM = 12;        // its FROM item
constexpr int32_t TRF_LEVEL = 13;       // the level of its block
constexpr int32_t TRF_ALL_COLUMNS = 14; // its columns in column order (column references)
constexpr int32_t TRF_ATTRS = 15;       // the dictionary's 17 attribute words (15-31)
constexpr int32_t TRF_SCHEMA = 32;      // schema and table name, 129 bytes each
constexpr int32_t TRF_NAME = 65;
constexpr int32_t kTableAttrColumnCount = 8;  // attribute word: number of columns
// The view merge's words of a view reference.
constexpr int32_t TRF_MERGE_STATE = 98;  // 2: stays a view reference under kinds 22 and 24
constexpr int32_t TRF_MERGED = 99;       // 1 merged (its tables stand in the FROM list), 2 materialized
constexpr int32_t TRF_CHAINED = 100;     // 1 when its query is chained before its reader
constexpr int32_t TRF_TEMP_COLUMNS = 101;  // a materialized view's temporary row: columns,
constexpr int32_t TRF_TEMP_ROW = 102;      // row length and data length
constexpr int32_t TRF_TEMP_DATA = 103;
// 1 when the binding found the table privilege its statement needs (never
// in compile mode 9, which tests none).
constexpr int32_t TRF_PRIVILEGE_HELD = 104;
// The query-only mark: 1 as every reference is built (the statement only
// reads the table); a data change's target rules clear it on the target
// and, through a view that takes the change, on the references down to the
// table the change reaches, marking the changed table.
constexpr int32_t TRF_QUERY_ONLY = 110;
// What the NOT NULL tests of assignments to its columns keep: a count (the
// table's columns when the reference was built) and, made at the first
// test, a list of that many cells, cell i the column reference that column
// i + 1's test reads (0 while none); a column numbered past the count gets
// a test over a reference of its own, kept nowhere.
constexpr int32_t TRF_NULL_TEST_COUNT = 111;
constexpr int32_t TRF_NULL_TESTS = 112;

// Select items (10 words): 0 the form (0 "*", 1 "t.*", 2 expression), 3 the
// name part ("t.*") or the kind-34 wrapper, 4 the counted name, 5 1 for an
// AS name.
constexpr int32_t SLI_FORM = 0;
constexpr int32_t SLI_VALUE = 3;
constexpr int32_t SLI_NAME = 4;
constexpr int32_t SLI_AS = 5;
constexpr int32_t SLI_SET_FUNCTION = 7;  // holds a set function
constexpr int32_t SLI_OUTER_ITEM = 9;    // the item being walked when this one began

// Sort items (6 words): 0 key, 1 ordering, 2 select-list position (-1
// until matched), 3 COLLATE name, 4 collation kind, 5 collation identifier.
constexpr int32_t SRT_KEY = 0;
constexpr int32_t SRT_POSITION = 2;
constexpr int32_t SRT_COLLATE = 3;
constexpr int32_t SRT_COLLATION_KIND = 4;
constexpr int32_t SRT_COLLATION = 5;

// SELECT block (statement kind 28).
constexpr int32_t QSP_QUANTIFIER = 3;  // 2 none, 1 DISTINCT, 0 ALL
constexpr int32_t QSP_SELECT = 4;
constexpr int32_t QSP_FROM = 6;
constexpr int32_t QSP_WHERE = 8;
// A view's check condition, what a row changed through the view must meet
// (0 none): under WITH CHECK OPTION (its mark, word 10) the view's own
// WHERE, and the check conditions of the views merged into it (all of a
// merged view's WHERE when only the reading view has the mark).
constexpr int32_t QSP_CHECK = 9;
constexpr int32_t QSP_CHECK_MARK = 10;
constexpr int32_t QSP_GROUP_BY = 11;
constexpr int32_t QSP_HAVING = 12;
// 1 when the FROM clause holds an outer join (the grammar's word). A view
// merged into a reading block passes it on: its joins stand in the
// block's FROM list then.
constexpr int32_t QSP_OUTER_JOIN = 13;
// A further condition of the block beside WHERE and HAVING: a list of
// conditions, copied as an expression list; this grammar writes none. A
// block that has one reads a DISTINCT view, or a view's computed column,
// as one with a GROUP BY: materialized.
constexpr int32_t QSP_FURTHER = 16;
// Words 16 to 20 are the view merge's (16 and 17 lists, 18 the next
// query of a chain, 20 the insertion target): the walk's own words lie
// past them, so that an analysed block copies like a parsed one.
constexpr int32_t QSP_NEXT = 18;         // the next query of a chain (materialized views)
constexpr int32_t QSP_TARGET = 20;       // the insertion target: a pair record (table reference, 0)
constexpr int32_t QSP_DISTINCT = 27;     // marked DISTINCT
constexpr int32_t QSP_SET_FUNCTIONS = 28;
constexpr int32_t QSP_COLUMNS = 29;
constexpr int32_t QSP_LEVEL = 30;
constexpr int32_t QSP_OPENED_BY = 31;  // the expression context that opened the block
constexpr int32_t QSP_ITEMS = 32;
// The view merge's three marks of a block (written when its walk ends):
// first, the block groups (GROUP BY, HAVING or a set function), so a view
// over it is materialized in any reading query block; second, unused by
// this grammar; third, the block says DISTINCT, so a view over it merges
// only as the one FROM item of a reading block without further clauses.
constexpr int32_t QSP_MARK_FIRST = 33;
constexpr int32_t QSP_MARK_SECOND = 34;
constexpr int32_t QSP_MARK_THIRD = 35;
// Set operation (kind 27): 3 operator, 4 ALL, 6 and 7 the operands.
constexpr int32_t SOP_FIRST = 6;
constexpr int32_t SOP_SECOND = 7;
// Query statement (kind 21): 3 query, 4 ORDER BY, 5 FOR UPDATE OF, 7 the
// updatability word.
constexpr int32_t QST_QUERY = 3;
constexpr int32_t QST_ORDER_BY = 4;
constexpr int32_t QST_FOR_UPDATE = 5;
constexpr int32_t QST_UPDATABLE = 7;
constexpr int32_t QST_SELECT = 8;  // the select list the statement delivers

// Root (kind 0): the words the walk copies from QueryBlockState.
constexpr int32_t ROOT_TABLE_REFS = 4;
constexpr int32_t ROOT_TRANSITIONS = 5;
constexpr int32_t ROOT_GROUPING = 6;
constexpr int32_t ROOT_TABLE_COUNT = 7;
constexpr int32_t ROOT_SIZE = 8;
constexpr int32_t ROOT_LEAF = 9;
constexpr int32_t ROOT_BLOCK_FLAGS = 10;  // bit n: block flag n
constexpr int32_t ROOT_OUTERMOST = 11;
constexpr int32_t ROOT_TOP_QUERIES = 12;
constexpr int32_t ROOT_RESULT_COLUMNS = 13;
constexpr int32_t ROOT_VIEW_TABLES = 18;
constexpr int32_t ROOT_TRIGGERS = 19;
constexpr int32_t ROOT_TARGET = 20;
constexpr int32_t ROOT_MATERIALIZED = 21;  // the views the statement materialized (references)
// A stored view's root also keeps what typing noted of its query, which a
// statement reading the view takes on: the special-register marks (22-25),
// the current-date mark (26), the null-literal mark and its largest length
// (27, 28), the literals' constant-area bytes (29) and the LIKE predicates
// (30, an expression list).
constexpr int32_t ROOT_VIEW_REGISTERS = 22;
constexpr int32_t ROOT_VIEW_DATE = 26;
constexpr int32_t ROOT_VIEW_NULL = 27;
constexpr int32_t ROOT_VIEW_NULL_LENGTH = 28;
constexpr int32_t ROOT_VIEW_CONSTANTS = 29;
constexpr int32_t ROOT_VIEW_LIKES = 30;

// Result column of a set operation (6 words).
constexpr int32_t RSC_TYPE = 0;       // four-word type record
constexpr int32_t RSC_NULLABLE = 1;
constexpr int32_t RSC_COLLATION_KIND = 2;
constexpr int32_t RSC_COLLATION = 3;
constexpr int32_t RSC_UNTYPED = 4;    // NULL in every operand so far
constexpr int32_t RSC_ITEM = 5;       // the first operand's select item

// ---- The walk -----------------------------------------------------------------
// The semantic phase driver: pushes the walk's sentinel, marks the semantic
// phase and runs qmsema on the root.
void qmdrive(SqlCompileCtx* ctx, int32_t root);
void qmsema(SqlCompileCtx* ctx, int32_t root);
// Puts qmdrive into the compile driver's phase table as its semantic phase.
void SqlInstallSemanticPhase();

// A user error of the analysis ("QME", severity 3) at the position record
// (line, position), with parameter items (a letter and a value each).
struct SemItem {
  char letter;
  std::string value;
};
void SemError(SqlCompileCtx* ctx, const int32_t* position, int32_t code,
              std::initializer_list<SemItem> items = {});
// Types one expression node after its operands (the type checker's entries).
void SemTypeExpression(SqlCompileCtx* ctx, int32_t node);
// The text of a name part's name (word 2) or qualifier (word 3).
std::string SemText(SqlCompileCtx* ctx, int32_t reference);
// A new four-word type record.
int32_t SemTypeRecord(SqlCompileCtx* ctx, int32_t code, int32_t length, int32_t scale,
                      int32_t variant);
// Whether the current query block is simple (no DISTINCT, aggregate,
// grouping, join, merged view, HAVING, set operation or ORDER BY).
bool SemQueryIsSimple(const SqlCompileCtx* ctx);

// ---- FROM binding ---------------------------------------------------------------
// Binds the FROM list of a SELECT block (resume 1).
void SemBindFromList(SqlCompileCtx* ctx, int32_t query);
// Binds a FROM list of the current block (a SELECT block's, or the
// one-item list of a data change statement's target).
void SemBindFromItems(SqlCompileCtx* ctx, int32_t list);
// Rebuilds it after its clauses: inner joins dissolve, their ON conditions
// joining the WHERE condition.
void SemFlattenFromList(SqlCompileCtx* ctx, int32_t query);
// The column references a FROM item offers (a table's columns in column
// order, a join's result columns), appended to *list.
void SemCollectColumns(SqlCompileCtx* ctx, int32_t item, int32_t* list);
// A new column reference bound to the table reference, of the column the
// description describes, qualified by the reference's exposed name.
int32_t SemTableColumn(SqlCompileCtx* ctx, int32_t ref, const SqlColumnDesc& d);
// The exposed name of a table FROM item.
std::string SemExposedName(SqlCompileCtx* ctx, int32_t item);

// ---- Column names ---------------------------------------------------------------
// Resolves a column reference (kind 27) met by the walk.
void SemResolveColumn(SqlCompileCtx* ctx, int32_t node);
// The FROM item exposing `name` in the current block, then (unless
// `current_only`) the enclosing ones; its level in *level (-1 none).
int32_t SemFindExposed(SqlCompileCtx* ctx, const std::string& name, bool current_only,
                       int32_t* level);
// Fills a column reference from a column description of a table reference
// bound in the block of `level`.
void SemBindColumn(SqlCompileCtx* ctx, int32_t node, const SqlColumnDesc& desc,
                   int32_t table_ref, int32_t level);
// A new column reference bound like `from` (same table, column and type).
int32_t SemCopyColumn(SqlCompileCtx* ctx, int32_t from);
// The column name and the qualifier of a column reference.
std::string SemColumnName(SqlCompileCtx* ctx, int32_t node);
std::string SemColumnQualifier(SqlCompileCtx* ctx, int32_t node);

// ---- Query rules ------------------------------------------------------------------
void SemSelectBlock(SqlCompileCtx* ctx, int32_t node, int32_t resume);
void SemSetOperation(SqlCompileCtx* ctx, int32_t node, int32_t resume);
// Routine 9 on a select list cell; routine 10 on a SELECT block.
void SemSelectItem(SqlCompileCtx* ctx, int32_t cell, int32_t resume);
void SemSelectList(SqlCompileCtx* ctx, int32_t query, int32_t resume);
// The GROUP BY rules after its items.
void SemGroupByRules(SqlCompileCtx* ctx, int32_t list);
// Resume 2 of a query statement: result columns, ORDER BY, FOR UPDATE OF.
void SemQueryStatementRules(SqlCompileCtx* ctx, int32_t node);
