#include "sql/front/view_merge.h"

#include "sql/front/compile_context.h"
#include "sql/front/compile_diag.h"
#include "sql/front/expr_types.h"
#include "sql/front/compile_services.h"
#include "sql/front/data_change.h"
#include "sql/front/catalog_access.h"
#include "sql/front/query_block_state.h"
#include "sql/front/sem_walk.h"
#include "sql/front/sql_action_words.h"
#include "sql/front/stmt_tree.h"
#include "sql/front/stored_trees.h"
#include "sql/front/tree_copy.h"
#include "sql/front/walk_words.h"

#include <algorithm>
#include <string>
#include <vector>

using walk_words::W;

namespace {

SqlOptimizerServices g_optimizer;

void Append(SqlCompileCtx* ctx, int32_t* list, int32_t value) {
  *list = qqlcat(ctx, *list, qqlcons(ctx, 0, value));
}

bool IsSelectBlock(SqlCompileCtx* ctx, int32_t query) {
  return query > 0 && W(ctx, query, STN_KIND) == 28;
}

// The value of a select item (under its wrapper), 0 for a star.
int32_t ItemValue(SqlCompileCtx* ctx, int32_t item) {
  if (item <= 0 || W(ctx, item, SLI_FORM) != 2) return 0;
  int32_t wrapper = W(ctx, item, SLI_VALUE);
  return wrapper > 0 ? W(ctx, wrapper, EXN_OPERAND1) : 0;
}

// Whether an expression holds a node of a kind from `low` to `high`: its
// operands, and the elements of its lists (a CASE's arms, a function's
// arguments), are looked at; subqueries are not entered.
bool HoldsKind(SqlCompileCtx* ctx, int32_t expr, int32_t low, int32_t high) {
  std::vector<int32_t> pending{expr};
  size_t seen = 0;
  while (!pending.empty() && ++seen < 100000) {
    int32_t node = pending.back();
    pending.pop_back();
    if (node <= 0) continue;
    int32_t kind = W(ctx, node, EXN_KIND);
    if (kind >= low && kind <= high) return true;
    TreeChild children[kMaxExprChildren];
    int32_t n = TreeExprChildren(kind, children);
    for (int32_t i = 0; i < n; ++i) {
      int32_t child = W(ctx, node, children[i].word);
      if (children[i].kind == kRefExpression) pending.push_back(child);
      if (children[i].kind != kRefExpressionList) continue;
      for (int32_t c = child; c > 0 && ++seen < 100000; c = W(ctx, c, CELL_NEXT)) {
        pending.push_back(W(ctx, c, CELL_VALUE));
      }
    }
  }
  return false;
}

// What the reading block's (parsed) select list does with the view's
// columns: whether it holds a set function, and whether it leaves a view
// column out.
void ReadingList(SqlCompileCtx* ctx, int32_t outer, int32_t ref, ViewMergeFacts* f) {
  if (!IsSelectBlock(ctx, outer)) return;
  const std::string exposed = SemText(ctx, W(ctx, ref, TRF_EXPOSED));
  std::vector<std::string> shown;
  bool all = false;
  for (int32_t c = W(ctx, outer, QSP_SELECT); c != 0; c = W(ctx, c, CELL_NEXT)) {
    int32_t item = W(ctx, c, CELL_VALUE);
    if (item <= 0) continue;
    if (W(ctx, item, SLI_FORM) == 0) {
      all = true;
    } else if (W(ctx, item, SLI_FORM) == 1) {
      int32_t part = W(ctx, item, SLI_VALUE);
      if (part > 0 && SemText(ctx, W(ctx, part, 2)) == exposed) all = true;
    } else {
      int32_t value = ItemValue(ctx, item);
      if (HoldsKind(ctx, value, 16, 20)) f->outer_aggregate = true;
      if (value > 0 && W(ctx, value, EXN_KIND) == kExprColumnRef) {
        std::string qualifier = SemColumnQualifier(ctx, value);
        if (qualifier.empty() || qualifier == exposed) shown.push_back(SemColumnName(ctx, value));
      }
    }
  }
  if (all) return;
  int32_t count = W(ctx, ref, TRF_ATTRS + kTableAttrColumnCount);
  for (int32_t id = 1; id <= count; ++id) {
    SqlColumnDesc d;
    int32_t status = qdgetcolumn(ctx, ref, W(ctx, ref, TRF_TABLE_ID), nullptr, id, &d);
    if (status < 0) qcfatal(ctx, status);
    if (status > 0) break;
    bool found = false;
    for (const std::string& name : shown) found = found || name == d.name;
    if (!found) {
      f->outer_partial = true;
      return;
    }
  }
}

// The view's table references (and their columns) move into the reading
// block: their levels count from the block's, and they join the
// statement's list of table references. Too many of them is the
// statement's own error at its end (-12240); the walk over the list stops
// soon after the limit is passed.
void AdoptTables(SqlCompileCtx* ctx, int32_t root, int32_t level) {
  QueryBlockState& q = ctx->query;
  for (int32_t c = W(ctx, root, ROOT_TABLE_REFS);
       c != 0 && q.table_ref_count <= kMaxTableReferences; c = W(ctx, c, CELL_NEXT)) {
    int32_t ref = W(ctx, c, CELL_VALUE);
    if (ref <= 0) continue;
    W(ctx, ref, TRF_LEVEL) += level;
    for (int32_t k = W(ctx, ref, TRF_COLUMNS); k != 0; k = W(ctx, k, CELL_NEXT)) {
      int32_t column = W(ctx, k, CELL_VALUE);
      if (column > 0) W(ctx, column, EXN_LEVEL) += level;
    }
    Append(ctx, &q.table_refs, ref);
    ++q.table_ref_count;
  }
}

// What typing noted of the view's query holds for the reading statement:
// each mark set in the view sets it, the null-literal mark brings its
// length, the constant-area bytes add up and the LIKE predicates join.
void TakeTypingMarks(SqlCompileCtx* ctx, int32_t root) {
  SqlTypingState& t = ctx->typing;
  for (int32_t i = 0; i < 4; ++i) {
    if (W(ctx, root, ROOT_VIEW_REGISTERS + i) != 0) t.register_marks[i] = 1;
  }
  if (W(ctx, root, ROOT_VIEW_DATE) != 0) t.leaf = 1;
  if (W(ctx, root, ROOT_VIEW_NULL) != 0) {
    t.null_cast = 1;
    t.null_cast_length = std::max(t.null_cast_length, W(ctx, root, ROOT_VIEW_NULL_LENGTH));
  }
  t.constant_bytes += W(ctx, root, ROOT_VIEW_CONSTANTS);
  t.like_list = qqlcat(ctx, t.like_list, W(ctx, root, ROOT_VIEW_LIKES));
}

// The tables a FROM list names, the operands of its joins counted one by
// one: a view inside a join stands beside other tables as much as one
// beside them in the list.
int32_t TablesOf(SqlCompileCtx* ctx, int32_t list) {
  int32_t n = 0;
  std::vector<int32_t> pending;
  for (int32_t c = list; c != 0; c = W(ctx, c, CELL_NEXT)) pending.push_back(W(ctx, c, CELL_VALUE));
  while (!pending.empty() && n < 100000) {
    int32_t item = pending.back();
    pending.pop_back();
    if (item <= 0) continue;
    if (W(ctx, item, FRM_FORM) == 1) {
      pending.push_back(W(ctx, item, FRM_CORRELATION));
      pending.push_back(W(ctx, item, FRM_RIGHT));
    } else {
      ++n;
    }
  }
  return n;
}

// The end of a chain of next-query links (word 18 of SELECT blocks and
// set operations alike).
int32_t ChainEnd(SqlCompileCtx* ctx, int32_t query) {
  int32_t end = query;
  for (int32_t n = 0; W(ctx, end, QSP_NEXT) != 0 && n < 100000; ++n) end = W(ctx, end, QSP_NEXT);
  return end;
}

// Whether the outer node is a searched DELETE or UPDATE.
bool SearchedChange(SqlCompileCtx* ctx, int32_t outer) {
  return outer > 0 && (W(ctx, outer, STN_KIND) == 22 || W(ctx, outer, STN_KIND) == 24);
}

// The view's query runs before the block (or the change) that reads it:
// at the end of a SELECT block's chain of next queries, or of the chain
// that starts at a searched DELETE's or UPDATE's first query link.
void Chain(SqlCompileCtx* ctx, int32_t ref, int32_t outer, int32_t query) {
  if (IsSelectBlock(ctx, outer)) {
    W(ctx, ChainEnd(ctx, outer), QSP_NEXT) = query;
    W(ctx, ref, TRF_CHAINED) = 1;
  } else if (SearchedChange(ctx, outer)) {
    int32_t first = W(ctx, outer, DCH_FIRST_QUERY);
    if (first == 0) {
      W(ctx, outer, DCH_FIRST_QUERY) = query;
    } else {
      W(ctx, ChainEnd(ctx, first), QSP_NEXT) = query;
    }
    W(ctx, ref, TRF_CHAINED) = 1;
  } else {
    W(ctx, ref, TRF_CHAINED) = 0;
  }
}

// Merge state 2: a searched DELETE or UPDATE through a view whose own
// condition holds a subquery finds the rows to change through the view's
// query, run first into a temporary table, so that the subquery reads
// the rows as they were before any of them changed. The reference stays
// a view reference: the change goes through the view to its table.
int32_t MergeState(SqlCompileCtx* ctx, int32_t ref, int32_t outer) {
  if (!SearchedChange(ctx, outer)) return W(ctx, ref, TRF_MERGE_STATE);
  int32_t where = W(ctx, outer, W(ctx, outer, STN_KIND) == 22 ? DLT_WHERE : UPD_WHERE);
  return HoldsKind(ctx, where, kExprSubquery, kExprSubquery) ? 2 : W(ctx, ref, TRF_MERGE_STATE);
}

// Materializes the view (its query optimized on its own, its rows kept in
// a temporary table the reference reads); 1 when the view's query is used
// directly instead.
int32_t Materialize(SqlCompileCtx* ctx, int32_t ref, int32_t root, int32_t outer,
                    const SemContext& cur, bool counter) {
  QueryBlockState& q = ctx->query;
  int32_t query = W(ctx, root, STN_ROOT_TOP);
  // The optimizer takes a statement: a SELECT block or a set operation
  // is put under a query statement.
  int32_t statement = query;
  if (W(ctx, query, STN_KIND) != 21) {
    int32_t args[] = {query, 0, 0, 0};
    statement = StmtNode(ctx, 21, &W(ctx, query, STN_LINE), args, StmtArgumentCount(21));
  }
  ViewOptimize(ctx, statement);
  q.view_columns += W(ctx, ref, TRF_ATTRS + kTableAttrColumnCount);
  q.materialized = qqlcat(ctx, q.materialized, W(ctx, root, ROOT_MATERIALIZED));
  bool third = IsSelectBlock(ctx, query) && W(ctx, query, QSP_MARK_THIRD) != 0;
  if (!third && TablesOf(ctx, cur.w[SEM_FROM_LIST]) == 1 && IsSelectBlock(ctx, query) &&
      W(ctx, query, QSP_WHERE) == 0 && W(ctx, query, QSP_GROUP_BY) == 0 &&
      W(ctx, query, QSP_HAVING) == 0 && W(ctx, query, QSP_NEXT) != 0) {
    // The view's own materialized views run first; its query reads them
    // in the block's place.
    W(ctx, root, STN_ROOT_TOP) = query;
    Chain(ctx, ref, outer, W(ctx, query, QSP_NEXT));
    W(ctx, query, QSP_NEXT) = 0;
    W(ctx, ref, TRF_MERGED) = 1;
    return 1;
  }
  q.temporary = 1;
  // A view reference kept under a change goes on naming its view.
  if (!(SearchedChange(ctx, outer) && W(ctx, ref, TRF_MERGE_STATE) == 2)) W(ctx, ref, TRF_VIEW) = 0;
  W(ctx, ref, TRF_MERGED) = 2;
  Append(ctx, &q.materialized, ref);
  int32_t target[2] = {ref, 0};
  int32_t first = query;
  for (int32_t n = 0; first > 0 && W(ctx, first, STN_KIND) == 27 && n < 100000; ++n) {
    first = W(ctx, first, SOP_FIRST);
  }
  if (IsSelectBlock(ctx, first)) {
    W(ctx, first, QSP_TARGET) = TreeRecord(ctx, 2, target);
    ViewRowLayout layout = qmviewlayout(ctx, W(ctx, first, QSP_SELECT), counter || third);
    W(ctx, ref, TRF_TEMP_COLUMNS) = layout.columns;
    W(ctx, ref, TRF_TEMP_ROW) = layout.row_length;
    W(ctx, ref, TRF_TEMP_DATA) = layout.data_length;
  }
  Chain(ctx, ref, outer, query);
  return 0;
}

// The column node overwritten by the view's defining expression (its
// operands shared with the view's select item, analysed once). A column
// stays bound as its definition is, read at the level the column was; a
// fresh node keeps the column as it was, and the definition put in its
// place links to it.
void MapColumn(SqlCompileCtx* ctx, int32_t column, int32_t defining) {
  int32_t kept = qqwsal(ctx, kExprNodeWords * 4);
  int32_t old[kExprNodeWords];
  for (int32_t i = 0; i < kExprNodeWords; ++i) old[i] = W(ctx, column, i);
  for (int32_t i = 0; i < kExprNodeWords; ++i) W(ctx, kept, i) = old[i];
  for (int32_t i = 0; i < kExprNodeWords; ++i) W(ctx, column, i) = W(ctx, defining, i);
  W(ctx, column, EXN_LINE) = old[EXN_LINE];
  W(ctx, column, EXN_POSITION) = old[EXN_POSITION];
  W(ctx, column, EXN_ANALYSED) = 1;
  W(ctx, column, EXN_MAPPED_FROM) = kept;
  // Each use of a literal's column needs the literal's storage again.
  if (W(ctx, column, EXN_KIND) == kExprLiteral) ctx->typing.constant_bytes += qmlitbytes(ctx, column);
  if (W(ctx, column, EXN_KIND) != kExprColumnRef) return;
  if (W(ctx, column, EXN_UNSET_A) == -1 && W(ctx, column, EXN_UNSET_B) == -1) {
    W(ctx, column, EXN_UNSET_A) = old[EXN_UNSET_A];
    W(ctx, column, EXN_UNSET_B) = old[EXN_UNSET_B];
  }
  W(ctx, column, EXN_DERIVATION) = old[EXN_DERIVATION];
  W(ctx, column, EXN_COLUMNS) = qqlcons(ctx, 0, column);
  int32_t ref = W(ctx, column, EXN_TABLE_REF);
  if (ref > 0) W(ctx, ref, TRF_COLUMNS) = qqlcons(ctx, W(ctx, ref, TRF_COLUMNS), column);
}

}  // namespace

SqlOptimizerServices SqlInstallOptimizerServices(const SqlOptimizerServices* services) {
  SqlOptimizerServices old = g_optimizer;
  g_optimizer = services != nullptr ? *services : SqlOptimizerServices{};
  return old;
}

int32_t qmandcomb(SqlCompileCtx* ctx, const int32_t* position, int32_t a, int32_t b, int32_t kind) {
  if (a == 0) return b;
  if (b == 0) return a;
  return qqcbix(ctx, kind, position, a, b, 0, 0);
}

void ViewOptimize(SqlCompileCtx* ctx, int32_t statement) {
  if (g_optimizer.qodrive == nullptr) qcinterr(ctx, "QOP: qodrive", kSqlServiceMissing);
  g_optimizer.qodrive(ctx, statement);
}

bool ViewMustMaterialize(const ViewMergeFacts& f) {
  if (!f.select_block || f.materialized_own || f.counter) return true;
  if (f.query_context) {
    if (f.first) return true;
    if ((f.second || f.third) && f.from_items > 1) return true;
    if (f.third && (f.outer_where || f.outer_grouping || f.outer_aggregate || f.outer_partial)) {
      return true;
    }
    if (f.outer_grouping && f.computed_column) return true;
  }
  return (f.statement_kind == 22 || f.statement_kind == 24) && f.merge_state == 2;
}

ViewRowLayout qmviewlayout(SqlCompileCtx* ctx, int32_t items, bool counter) {
  if (g_optimizer.qoarof == nullptr) qcinterr(ctx, "QOP: qoarof", kSqlServiceMissing);
  ViewRowLayout out;
  for (int32_t c = items; c != 0; c = WsWord(ctx, c, CELL_NEXT)) ++out.columns;
  int32_t key_length = 0;
  int32_t row_number = 0;
  g_optimizer.qoarof(ctx, items, 0, &key_length, &out.row_length, &row_number, 0, 0);
  out.data_length = out.row_length;
  if (counter) {
    ++out.columns;
    out.row_length += kViewCounterBytes;
    out.data_length += kViewCounterBytes;
  }
  return out;
}

bool qmisview(SqlCompileCtx* ctx, int32_t ref) {
  return ref > 0 && W(ctx, ref, TRF_VIEW) != 0;
}

int32_t qmviewtabs(SqlCompileCtx* ctx, int32_t ref) {
  if (!qmisview(ctx, ref)) return 0;
  int32_t query = W(ctx, W(ctx, ref, TRF_VIEW), STN_ROOT_TOP);
  return IsSelectBlock(ctx, query) ? W(ctx, query, QSP_FROM) : 0;
}

int32_t qmviewcol(SqlCompileCtx* ctx, int32_t ref, int32_t n) {
  if (!qmisview(ctx, ref) || n < 1) return 0;
  int32_t query = W(ctx, W(ctx, ref, TRF_VIEW), STN_ROOT_TOP);
  if (!IsSelectBlock(ctx, query)) return 0;
  return ItemValue(ctx, qqlnth(ctx, W(ctx, query, QSP_SELECT), n));
}

int32_t qmviewmrg(SqlCompileCtx* ctx, int32_t item, int32_t ref, SemContext* cur,
                  bool outer_join, int32_t* counter) {
  QueryBlockState& q = ctx->query;
  int32_t root = qmcopyview(ctx, W(ctx, ref, TRF_TABLE_ID));
  if (root <= 0 || W(ctx, root, STN_KIND) != 0 || W(ctx, root, STN_ROOT_TOP) <= 0) {
    qcinterr(ctx, "QME: qmviewmrg", -19220);
  }
  W(ctx, ref, TRF_VIEW) = root;
  TakeTypingMarks(ctx, root);
  int32_t query = W(ctx, root, STN_ROOT_TOP);
  int32_t outer = cur->w[SEM_OWNER];
  bool select_block = IsSelectBlock(ctx, query);
  ViewMergeFacts f;
  f.select_block = select_block;
  f.materialized_own = W(ctx, root, ROOT_MATERIALIZED) != 0;
  f.counter = *counter != 0;
  // The tests of a reading query block hold in a subquery's block too: a
  // grouped or DISTINCT view merged there would change what it reads.
  f.query_context = qmflagtst(cur, kFlagQuery) != 0 || qmflagtst(cur, kFlagSubquery) != 0;
  if (select_block) {
    f.first = W(ctx, query, QSP_MARK_FIRST) != 0;
    f.second = W(ctx, query, QSP_MARK_SECOND) != 0;
    f.third = W(ctx, query, QSP_MARK_THIRD) != 0;
    for (int32_t c = W(ctx, query, QSP_SELECT); c != 0; c = W(ctx, c, CELL_NEXT)) {
      int32_t value = ItemValue(ctx, W(ctx, c, CELL_VALUE));
      if (value <= 0 || W(ctx, value, EXN_KIND) != kExprColumnRef) f.computed_column = true;
    }
  }
  f.from_items = TablesOf(ctx, cur->w[SEM_FROM_LIST]);
  if (IsSelectBlock(ctx, outer)) {
    f.outer_where = W(ctx, outer, QSP_WHERE) != 0;
    f.outer_grouping = W(ctx, outer, QSP_GROUP_BY) != 0 || W(ctx, outer, QSP_HAVING) != 0 ||
                       W(ctx, outer, QSP_FURTHER) != 0;
    if (f.third) ReadingList(ctx, outer, ref, &f);
  }
  f.statement_kind = outer > 0 ? W(ctx, outer, STN_KIND) : 0;
  W(ctx, ref, TRF_MERGE_STATE) = MergeState(ctx, ref, outer);
  f.merge_state = W(ctx, ref, TRF_MERGE_STATE);
  AdoptTables(ctx, root, cur->w[SEM_LEVEL]);
  if (ViewMustMaterialize(f) || outer_join) {
    return Materialize(ctx, ref, root, outer, *cur, f.counter);
  }
  *counter = f.third ? 1 : 0;
  int32_t where = W(ctx, query, QSP_WHERE);
  const int32_t* at = &W(ctx, query, STN_LINE);
  // A view being defined takes the check conditions of the views it
  // merges: a view's own, or all of its WHERE when only the view being
  // defined says WITH CHECK OPTION.
  if (qmflagtst(cur, kFlagCollect) != 0 && qmflagtst(cur, kFlagSubquery) == 0 &&
      IsSelectBlock(ctx, outer)) {
    bool cascade = W(ctx, outer, QSP_CHECK_MARK) != 0 && W(ctx, query, QSP_CHECK_MARK) == 0;
    int32_t inner = cascade ? where : W(ctx, query, QSP_CHECK);
    W(ctx, outer, QSP_CHECK) = qmandcomb(ctx, at, W(ctx, outer, QSP_CHECK), inner, kExprAnd);
  }
  if (qmflagtst(cur, kFlagSubquery) != 0 || qmflagtst(cur, kFlagQuery) != 0) {
    if (IsSelectBlock(ctx, outer)) {
      W(ctx, outer, QSP_WHERE) = qmandcomb(ctx, at, W(ctx, outer, QSP_WHERE), where, kExprAnd);
      // The view's outer joins stand in the block's FROM list now.
      if (W(ctx, query, QSP_OUTER_JOIN) == 1) W(ctx, outer, QSP_OUTER_JOIN) = 1;
      // A DISTINCT view passes its DISTINCT on.
      if (W(ctx, query, QSP_QUANTIFIER) == 1) {
        W(ctx, outer, QSP_QUANTIFIER) = 1;
        if (cur->w[SEM_DISTINCT] == 0) cur->w[SEM_DISTINCT] = 1;
      }
      if (W(ctx, query, QSP_GROUP_BY) != 0 || W(ctx, query, QSP_HAVING) != 0) {
        cur->w[SEM_GROUPED] = 1;
      }
    }
  } else if (qmflagtst(cur, kFlagDelete) != 0 && f.statement_kind == 22) {
    W(ctx, outer, 5) = qmandcomb(ctx, at, W(ctx, outer, 5), where, kExprAnd);
  } else if (qmflagtst(cur, kFlagUpdate) != 0 && f.statement_kind == 24) {
    W(ctx, outer, 6) = qmandcomb(ctx, at, W(ctx, outer, 6), where, kExprAnd);
  }
  q.view_columns += W(ctx, ref, TRF_ATTRS + kTableAttrColumnCount);
  W(ctx, ref, TRF_MERGED) = 1;
  (void)item;
  return 1;
}

void qmviewfrom(SqlCompileCtx* ctx, int32_t query) {
  const SemContext& cur = ctx->query.context;
  if (qmflagtst(&cur, kFlagQuery) == 0 && qmflagtst(&cur, kFlagSubquery) == 0) return;
  bool mapped = false;
  for (int32_t c = W(ctx, query, QSP_FROM); c != 0; c = W(ctx, c, CELL_NEXT)) {
    int32_t item = W(ctx, c, CELL_VALUE);
    if (item <= 0 || W(ctx, item, FRM_FORM) != 0) continue;
    int32_t ref = W(ctx, item, FRM_BOUND);
    if (ref <= 0 || W(ctx, ref, TRF_MERGED) != 1 || !qmisview(ctx, ref)) continue;
    int32_t view = W(ctx, W(ctx, ref, TRF_VIEW), STN_ROOT_TOP);
    if (W(ctx, query, QSP_GROUP_BY) == 0) W(ctx, query, QSP_GROUP_BY) = W(ctx, view, QSP_GROUP_BY);
    if (W(ctx, query, QSP_HAVING) == 0) W(ctx, query, QSP_HAVING) = W(ctx, view, QSP_HAVING);
    // Every column bound to the view becomes its definition.
    for (int32_t k = W(ctx, ref, TRF_COLUMNS); k != 0; k = W(ctx, k, CELL_NEXT)) {
      int32_t column = W(ctx, k, CELL_VALUE);
      if (column <= 0 || W(ctx, column, EXN_KIND) != kExprColumnRef ||
          W(ctx, column, EXN_TABLE_REF) != ref) {
        continue;
      }
      int32_t defining = qmviewcol(ctx, ref, W(ctx, column, EXN_COLUMN_ID));
      if (defining <= 0) qcinterr(ctx, "QME: qmviewfrom", -19220);
      MapColumn(ctx, column, defining);
      mapped = true;
    }
    // The view's columns are its definitions now: none stays bound to it.
    int32_t kept = 0;
    for (int32_t k = W(ctx, ref, TRF_COLUMNS); k != 0; k = W(ctx, k, CELL_NEXT)) {
      int32_t column = W(ctx, k, CELL_VALUE);
      if (column > 0 && W(ctx, column, EXN_KIND) == kExprColumnRef &&
          W(ctx, column, EXN_TABLE_REF) == ref) {
        kept = qqlcons(ctx, kept, column);
      }
    }
    W(ctx, ref, TRF_COLUMNS) = kept;
    // The view's FROM items take its place, in order.
    int32_t items = W(ctx, view, QSP_FROM);
    if (items == 0) continue;
    int32_t next = W(ctx, c, CELL_NEXT);
    W(ctx, c, CELL_VALUE) = W(ctx, items, CELL_VALUE);
    int32_t last = c;
    for (int32_t v = W(ctx, items, CELL_NEXT); v != 0; v = W(ctx, v, CELL_NEXT)) {
      int32_t cell = qqlcons(ctx, next, W(ctx, v, CELL_VALUE));
      W(ctx, last, CELL_NEXT) = cell;
      last = cell;
    }
    c = last;
  }
  // A view column that is an expression is a computed select item of the
  // block it now stands in.
  if (!mapped || qmflagtst(&cur, kFlagSubquery) != 0) return;
  for (int32_t c = W(ctx, query, QSP_SELECT); c != 0; c = W(ctx, c, CELL_NEXT)) {
    int32_t value = ItemValue(ctx, W(ctx, c, CELL_VALUE));
    if (value > 0 && W(ctx, value, EXN_KIND) != kExprColumnRef) {
      ctx->query.flags[kBlockComputedItem] = 1;
    }
  }
}
