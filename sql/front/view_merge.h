// The view merge's ground: whether a view read by a query block is merged
// into it or materialized, the two optimizer entries a materialized view
// runs through, and the layout of a materialized view's row.
#pragma once

#include <cstdint>

struct SqlCompileCtx;

// The optimizer's entries the view merge calls. The optimizer installs
// them; a missing one is an internal error naming itself (-19040).
struct SqlOptimizerServices {
  // Optimizes a materialized view's statement on its own.
  void (*qodrive)(SqlCompileCtx* ctx, int32_t statement) = nullptr;
  // Lays out a temporary table's row over the item list and checks it
  // against the kernel's limit (recording -11114 when it is longer);
  // answers the limit.
  int32_t (*qoarof)(SqlCompileCtx* ctx, int32_t items, int32_t key_count, int32_t* key_length,
                    int32_t* row_length, int32_t* row_number_offset, int32_t varying_last,
                    int32_t truncate) = nullptr;
};
// Installs the table (nullptr: none); gives the previous one.
SqlOptimizerServices SqlInstallOptimizerServices(const SqlOptimizerServices* services);

// Condition a and condition b combined into a basic expression node of
// `kind` (8: AND) at `position`: b when a is absent, a when b is absent. A
// merged view's WHERE condition joins the reading block's this way.
int32_t qmandcomb(SqlCompileCtx* ctx, const int32_t* position, int32_t a, int32_t b, int32_t kind);

// Calls through the table.
void ViewOptimize(SqlCompileCtx* ctx, int32_t statement);

// What decides between merging and materializing a view.
struct ViewMergeFacts {
  bool select_block = true;          // the view's query is a SELECT block
  bool materialized_own = false;   // the view materialized views itself
  bool counter = false;            // the caller asks for a row counter
  bool query_context = false;      // the block is walked under flag 15
  bool first = false;              // the view query's three marks
  bool second = false;
  bool third = false;
  int32_t from_items = 1;          // FROM items of the reading block
  bool outer_where = false;        // the reading block's WHERE
  bool outer_grouping = false;     // its GROUP BY, HAVING or further condition
  bool computed_column = false;    // a view column that is no plain column
  // Under the third mark: the reading block's select list holds a set
  // function, or does not show every view column (a DISTINCT view merged
  // there would lose rows or collapse others).
  bool outer_aggregate = false;
  bool outer_partial = false;
  int32_t statement_kind = 0;
  int32_t merge_state = 0;         // 2: stays a view reference under kinds 22, 24
};
// True when the view must be materialized.
bool ViewMustMaterialize(const ViewMergeFacts& f);

// A materialized view's temporary row.
struct ViewRowLayout {
  int32_t columns = 0;
  int32_t row_length = 0;
  int32_t data_length = 0;
};
// The storage of the row counter column (a 10-digit packed decimal).
constexpr int32_t kViewCounterBytes = 6;
// Lays out the row of a view whose select list is `items` (a cell list)
// through the optimizer's row-length routine. The row counter, when asked
// for, is added after the length check: it is the temporary table's own
// column, and a row that fits without it is no error.
ViewRowLayout qmviewlayout(SqlCompileCtx* ctx, int32_t items, bool counter);

struct SemContext;

// Brings the view that table reference `ref` (FROM item `item`) names into
// the statement: its stored tree is copied in and attached, then merged
// into the reading block (1) or materialized (0). `outer_join`: the item is
// an operand of an outer join, where the view's WHERE condition cannot
// join the block's (such a view is materialized). `counter` is the block's
// row-counter flag (in: a row counter is asked for; out: a merged view's
// third mark).
int32_t qmviewmrg(SqlCompileCtx* ctx, int32_t item, int32_t ref, SemContext* cur,
                  bool outer_join, int32_t* counter);
// After a SELECT block's clauses and select list: each merged view among
// its FROM items gives the block its GROUP BY and HAVING (when the block
// has none), is replaced in the FROM list by the view's own FROM items,
// and every column bound to it becomes the view's defining expression.
void qmviewfrom(SqlCompileCtx* ctx, int32_t query);

// Accessors on a table reference.
bool qmisview(SqlCompileCtx* ctx, int32_t ref);      // a view description is attached
int32_t qmviewtabs(SqlCompileCtx* ctx, int32_t ref); // the view query's FROM list
// The defining expression of the view's column `n` (1-based), 0 when the
// view has no such select item.
int32_t qmviewcol(SqlCompileCtx* ctx, int32_t ref, int32_t n);
