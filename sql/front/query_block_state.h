// What the semantic walk gathers about the whole statement while it binds
// and checks the query blocks: the bound table references, the grouping
// list, the block flags the optimizer and the program builder read, and the
// state of the block being walked. It lives in the compile context, is
// cleared when the walk starts and is copied into the statement root when
// the walk ends.
#pragma once

#include <cstdint>

#include "sql/front/sem_stack.h"

// Block flags, each 0 or 1.
enum SemBlockFlag : int32_t {
  kBlockDistinct = 0,    // a SELECT block of the statement says DISTINCT
  kBlockAggregate,       // a select list outside a subquery holds a set function
  kBlockGrouped,         // a GROUP BY list outside a subquery
  kBlockHaving,          // a HAVING condition outside a subquery
  kBlockNested,          // a nested query block
  kBlockJoined,          // more than one FROM item, or a joined table
  kBlockSetOperation,    // a set operation
  kBlockMergedView,      // a view that is not simple was merged
  kBlockComputedItem,    // a select item outside a subquery is not a plain column
  kBlockRepeatedColumn,  // two select items name the same column of one reference
  kBlockOrderBy,         // an ORDER BY list was walked
  kBlockFailedTable,     // a table name failed to bind
  kBlockFlagCount
};

// At most this many table references in one statement.
constexpr int32_t kMaxTableReferences = 256;

struct QueryBlockState {
  int32_t table_refs = 0;         // list of bound table references, in binding order
  int32_t table_ref_count = 0;
  int32_t transition_tables = 0;  // transition-table references of triggers
  int32_t grouping = 0;           // the first item of every GROUP BY list
  int32_t size_word = 0;
  int32_t size_flag = 0;
  int32_t leaf_flag = 0;          // an expression of kind 38, 39 or 40 was met
  int32_t outermost_query = 0;    // the outermost SELECT block
  int32_t top_queries = 0;        // top-level SELECT blocks
  int32_t result_columns = 0;     // a set operation's result column list
  int32_t view_tables = 0;        // references collected under flag 11
  int32_t on_scope = 0;           // the joined table whose ON condition is walked
  int32_t flags[kBlockFlagCount] = {};
  int32_t view_options = 0;
  int32_t national = 0;           // a select item of a national character type
  // The statement's target table (its identifier, under flags 8 to 10), the
  // references of each transition name (the first and the second), and the
  // mark set when a trigger uses the first transition table or row.
  int32_t target_table = 0;
  int32_t transition_refs[2] = {0, 0};
  int32_t transition_mark = 0;
  int32_t triggers = 0;
  // A positioned UPDATE's or DELETE's cursor name (a text), and the table
  // a LOAD statement loads (its identifier).
  int32_t cursor_name = 0;
  int32_t load_table = 0;
  // The view merge: the number of view columns merged, the view
  // references materialized (in the order they were), the mark that the
  // statement uses temporary tables, and the row-counter flag of the block
  // being bound.
  int32_t view_columns = 0;
  int32_t materialized = 0;
  int32_t temporary = 0;
  int32_t view_counter = 0;
  // The context of the block being walked (the walk's own record; the
  // saved records of the enclosing blocks are in the semantic stacks).
  SemContext context;
  // The select item being walked in the current block's select list (0 none).
  int32_t select_item = 0;
};
