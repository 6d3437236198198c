// The words of the grammar actions' value entries and of the nodes they fill,
// the operator and quantifier codes they pass on, and the actions' scratch
// state in the parser area (NOT stack, pending sign, type state, counters).
// Each nonterminal writes a fixed subset of the entry words; sql.grammar's
// symbols deliver what the actions read.
#pragma once

#include <cstdint>

#include "sql/front/sql_parser.h"

// ---- Value-entry words --------------------------------------------------------
constexpr int32_t VW_LINE = 0;         // source position of the phrase: line and
constexpr int32_t VW_POS = 1;          // character position of its first token
constexpr int32_t VW_NAME = 2;         // qualified name node (table, collation, sequence)
constexpr int32_t VW_NAME_TEXT = 3;    // an identifier's text reference (128 bytes at most)
constexpr int32_t VW_QUALIFIER = 4;    // a further qualifier part of a name (0 none)
constexpr int32_t VW_COLUMN = 5;       // qualified column name node
constexpr int32_t VW_SIMPLE_NAME = 6;  // a name part (position, name, no qualifier)
constexpr int32_t VW_HOST_NAME = 7;    // a host variable's name text reference
constexpr int32_t VW_VALUE = 8;        // expression node, condition, literal
constexpr int32_t VW_TYPE = 10;        // four-word type node (code, length, scale, variant)
constexpr int32_t VW_ALIAS = 11;       // counted copy of an alias
constexpr int32_t VW_TEXT_LENGTH = 12;
constexpr int32_t VW_TEXT = 13;         // arena word index of the token text
constexpr int32_t VW_TEXT_RECORD = 15;  // string record of a literal (length, bytes)
constexpr int32_t VW_TRIM = 16;         // TRIM side code (LEADING, TRAILING, BOTH)
constexpr int32_t VW_OPERATOR = 17;     // operator or quantifier code
constexpr int32_t VW_QUERY = 18;        // statement node (query, statement)
constexpr int32_t VW_FLAG = 19;         // NOT written / set function / outer join / option
constexpr int32_t VW_COUNT = 20;        // element count of a list
constexpr int32_t VW_SELECT_ITEM = 21;
constexpr int32_t VW_TABLE_REF = 22;   // table reference, join node, data change target
constexpr int32_t VW_QUANTIFIER = 23;  // 2 none, 1 DISTINCT, 0 ALL
constexpr int32_t VW_SORT_ITEM = 24;
constexpr int32_t VW_ORDERING = 25;  // 0 ASC, 1 DESC, 2 not given
constexpr int32_t VW_SET_OP = 26;
constexpr int32_t VW_SET_ALL = 27;
constexpr int32_t VW_TRUNCATED = 41;  // 1 when the identifier was cut to 128
// The identifier class: 0 an identifier, 1 to 18 a keyword used as one; a
// data type written as a name (589) reads it as its type keyword code.
constexpr int32_t VW_IDENT_CLASS = 43;
constexpr int32_t VW_ELEMENT = 38;       // a list element's record (view column, parameter)
constexpr int32_t VW_LITERAL_TYPE = 44;  // 1 integer, 3 decimal, 2 float
constexpr int32_t VW_SORT_COUNT = 46;
constexpr int32_t VW_VARIANT = 48;  // numeric type variant (201 to 208)
constexpr int32_t VW_LIST = 49;
constexpr int32_t VW_JOIN_ORDER = 50;
constexpr int32_t VW_JOIN_TYPE = 51;

// ---- Expression node words the actions fill beyond stmt_tree.h's -------------
constexpr int32_t EXN_WORD24 = 24;  // LIKE node attached to its key range
constexpr int32_t EXN_WORD25 = 25;

// ---- Expression kinds built here ----------------------------------------------
constexpr int32_t kExprAdd = 1;
constexpr int32_t kExprSubtract = 2;
constexpr int32_t kExprConcat = 5;
constexpr int32_t kExprPlusSign = 6;
constexpr int32_t kExprMinusSign = 7;
constexpr int32_t kExprAnd = 8;
constexpr int32_t kExprOr = 9;
constexpr int32_t kExprEq = 10;
constexpr int32_t kExprNe = 11;
constexpr int32_t kExprLt = 12;
constexpr int32_t kExprGt = 13;
constexpr int32_t kExprLe = 14;
constexpr int32_t kExprGe = 15;
constexpr int32_t kExprCount = 16;
constexpr int32_t kExprLike = 21;
constexpr int32_t kExprExists = 22;
constexpr int32_t kExprAll = 24;
constexpr int32_t kExprAny = 25;
constexpr int32_t kExprSubquery = 26;
constexpr int32_t kExprUserValue = 31;
constexpr int32_t kExprNull = 32;
constexpr int32_t kExprWrapper = 34;
constexpr int32_t kExprCase = 36;
constexpr int32_t kExprWhen = 37;
constexpr int32_t kExprCurrentDate = 38;
constexpr int32_t kExprCurrentTime = 39;
constexpr int32_t kExprCurrentTimestamp = 40;
constexpr int32_t kExprSubstring = 43;
constexpr int32_t kExprTrim = 44;
constexpr int32_t kExprRepeat = 50;
constexpr int32_t kExprExtract = 62;
constexpr int32_t kExprPosition = 63;
constexpr int32_t kExprSequence = 75;
constexpr int32_t kExprOverlaps = 96;
constexpr int32_t kExprDefault = 97;
constexpr int32_t kExprRoutineCall = 98;

// ---- Scratch state of the actions (the parser area's action words) ------------
constexpr int32_t kNotStackDepth = 256;
struct SqlActionState {
  int32_t not_depth;  // entries in use
  int32_t not_stack[kNotStackDepth];
  int32_t zero_position[2];  // position of generated nodes
  int32_t pending_sign;      // '+', '-' or 0
  int32_t comparison;        // the comparison-operator word
  int32_t collection;        // the statement's collection word, -1 while none is open
  int32_t column_list;       // the running statement's column list, -1 none
  int32_t type_code;         // type state: current type or interval field code
  int32_t start_field;
  int32_t end_field;
  int32_t leading_precision;
  int32_t second_word;
  int32_t host_counter;
  int32_t path_counter;
  int32_t mode_word;
  int32_t empty_statement;  // 1 after the empty statement (13)
};
static_assert(sizeof(SqlActionState) <= sizeof(int32_t) * kSqlActionScratchWords,
              "the parser area's action words hold the action state");

inline SqlActionState* ActionState(SqlCompileCtx* ctx) {
  return reinterpret_cast<SqlActionState*>(SqlParseAreaOf(ctx)->action_scratch);
}
