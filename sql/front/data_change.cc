// INSERT, UPDATE, DELETE and LOAD in the semantic walk: the target is bound
// as the one FROM item of a block of level 0, checked, and paired with the
// values; every assignment is walked (and typed by qmassign), columns an
// INSERT leaves out get their defaults, the target's check conditions are
// attached and walked, and the statement kind is re-set.
#include "sql/front/data_change.h"

#include <cstring>
#include <string>
#include <vector>

#include "sql/front/catalog_access.h"
#include "sql/front/compile_context.h"
#include "sql/front/compile_diag.h"
#include "sql/front/expr_types.h"
#include "sql/front/sem_walk.h"
#include "sql/front/sql_action_words.h"
#include "sql/front/stmt_tree.h"
#include "sql/front/stored_trees.h"
#include "sql/front/trav_stack.h"
#include "sql/front/trigger_binding.h"
#include "sql/front/view_merge.h"
#include "sql/front/walk_words.h"

namespace {

using walk_words::Cur;
using walk_words::Push;
using walk_words::W;

// Routine 1 for every element of a list, in list order.
void PushAll(SqlCompileCtx* ctx, int32_t list) {
  int32_t count = 0;
  if (list != 0) qbworklist(ctx, kWalkExpression, 1, list, &count);
}

void Append(SqlCompileCtx* ctx, int32_t* list, int32_t value) {
  *list = qqlcat(ctx, *list, qqlcons(ctx, 0, value));
}

const int32_t* At(SqlCompileCtx* ctx, int32_t node) {
  return node > 0 ? &W(ctx, node, 0) : nullptr;
}

const int32_t* StmtAt(SqlCompileCtx* ctx, int32_t node) {
  return &W(ctx, node, STN_LINE);
}

struct KindRules {
  int32_t flag;         // the clause flag of the statement
  int32_t target_word;
  int32_t privilege;    // the dictionary's table privilege code
  const char* name;
};

KindRules RulesOf(int32_t kind) {
  switch (kind) {
    case 22:
    case 23:
      return {kFlagDelete, DLT_TARGET, 3, "DELETE"};
    case 24:
    case 25:
      return {kFlagUpdate, UPD_TARGET, 4, "UPDATE"};
    default:
      return {kFlagInsert, INS_TARGET, 2, "INSERT"};
  }
}

// The bound reference of the target item (0 when its binding failed).
int32_t TargetRef(SqlCompileCtx* ctx, int32_t node) {
  int32_t item = W(ctx, node, RulesOf(W(ctx, node, STN_KIND)).target_word);
  return item > 0 && W(ctx, item, FRM_FORM) == 0 ? W(ctx, item, FRM_BOUND) : 0;
}

std::string CurrentUser(SqlCompileCtx* ctx) {
  char user[129] = {};
  int32_t status = qdcurschema(ctx, user);
  if (status < 0) qcfatal(ctx, status);
  return user;
}

// The name a table is written with (schema and name, or the name alone).
std::string NameDisplay(SqlCompileCtx* ctx, int32_t qualified) {
  int32_t part = qualified > 0 ? W(ctx, qualified, 2) : 0;
  std::string name = part > 0 ? SemText(ctx, W(ctx, part, 2)) : std::string();
  std::string schema = part > 0 ? SemText(ctx, W(ctx, part, 3)) : std::string();
  return schema.empty() ? name : schema + "." + name;
}

std::string TableDisplay(SqlCompileCtx* ctx, int32_t ref) {
  return NameDisplay(ctx, W(ctx, W(ctx, ref, TRF_ITEM), FRM_NAME));
}

// The common start: a fresh context with the statement's flag, a block of
// level 0 owned by the node, the target bound as its one FROM item.
void Start(SqlCompileCtx* ctx, int32_t node) {
  SemContext& cur = Cur(ctx);
  KindRules rules = RulesOf(W(ctx, node, STN_KIND));
  qmqinitrec(ctx, node, rules.flag, &cur);
  qmqset(ctx, node, &cur);
  ctx->query.outermost_query = node;
  int32_t target = W(ctx, node, rules.target_word);
  SemBindFromItems(ctx, target > 0 ? qqlcons(ctx, 0, target) : 0);
  int32_t cursor = 0;
  if (W(ctx, node, STN_KIND) == 23) cursor = W(ctx, node, DLT_CURSOR);
  if (W(ctx, node, STN_KIND) == 25) cursor = W(ctx, node, UPD_CURSOR);
  if (cursor > 0) ctx->query.cursor_name = W(ctx, cursor, 2);
}

// Views read by a view are merged into it when it is made, so a chain of
// views of views is no deeper than this.
constexpr int32_t kMaxViewDepth = 256;

// Whether a bound reference reads one table's rows one for one, so that a
// change through it changes that table: a base table, or a view merged
// into the statement whose query is a SELECT block over one such
// reference without DISTINCT, grouping or set functions (a view it read
// was merged into its query when it was made; a view it materialized there
// reads rows of its own).
bool TakesChange(SqlCompileCtx* ctx, int32_t ref, int32_t depth = 0) {
  if (ref <= 0 || depth > kMaxViewDepth) return false;
  if (W(ctx, ref, TRF_KIND) == 1) return true;
  int32_t view = W(ctx, ref, TRF_VIEW);
  if (W(ctx, ref, TRF_KIND) != 2 || view <= 0) return false;
  int32_t query = W(ctx, view, STN_ROOT_TOP);
  if (query <= 0 || W(ctx, query, STN_KIND) != 28 || W(ctx, query, QSP_QUANTIFIER) == 1 ||
      W(ctx, query, QSP_MARK_FIRST) != 0 || W(ctx, query, QSP_MARK_THIRD) != 0 ||
      W(ctx, query, QSP_GROUP_BY) != 0 || W(ctx, query, QSP_HAVING) != 0) {
    return false;
  }
  int32_t from = W(ctx, query, QSP_FROM);
  if (from == 0 || W(ctx, from, CELL_NEXT) != 0) return false;
  int32_t item = W(ctx, from, CELL_VALUE);
  if (item <= 0 || W(ctx, item, FRM_FORM) != 0) return false;
  return TakesChange(ctx, W(ctx, item, FRM_BOUND), depth + 1);
}

// The FROM item of the table a change of `ref` changes: `ref`'s own, or
// for a view that takes the change the one its query reads, followed down.
// With `mark`, every reference on the way loses its query-only mark.
int32_t ChangedItem(SqlCompileCtx* ctx, int32_t ref, bool mark = false) {
  for (int32_t depth = 0; depth <= kMaxViewDepth && ref > 0; ++depth) {
    if (mark) W(ctx, ref, TRF_QUERY_ONLY) = 0;
    int32_t view = W(ctx, ref, TRF_VIEW);
    if (W(ctx, ref, TRF_KIND) != 2 || view <= 0) return W(ctx, ref, TRF_ITEM);
    int32_t query = W(ctx, view, STN_ROOT_TOP);
    int32_t from = query > 0 ? W(ctx, query, QSP_FROM) : 0;
    int32_t item = from > 0 ? W(ctx, from, CELL_VALUE) : 0;
    ref = item > 0 ? W(ctx, item, FRM_BOUND) : 0;
  }
  return 0;
}

// Whether a target column is a view's column that its view computes (no
// column of the table the view reads).
bool ComputedViewColumn(SqlCompileCtx* ctx, int32_t column) {
  int32_t ref = column > 0 ? W(ctx, column, EXN_TABLE_REF) : 0;
  if (ref <= 0 || !qmisview(ctx, ref)) return false;
  int32_t defining = qmviewcol(ctx, ref, W(ctx, column, EXN_COLUMN_ID));
  return defining <= 0 || W(ctx, defining, EXN_KIND) != kExprColumnRef;
}

// The rules every target obeys; false when the change cannot be analysed
// further (the error is reported, or the binding's was).
bool TargetRules(SqlCompileCtx* ctx, int32_t node) {
  KindRules rules = RulesOf(W(ctx, node, STN_KIND));
  int32_t item = W(ctx, node, rules.target_word);
  if (item <= 0 || W(ctx, item, FRM_FORM) != 0) {
    SemError(ctx, StmtAt(ctx, node), -12259, {{'N', rules.name}});
    return false;
  }
  int32_t ref = W(ctx, item, FRM_BOUND);
  if (ref == 0) return false;
  W(ctx, ref, TRF_QUERY_ONLY) = 0;
  if (!TakesChange(ctx, ref)) {
    SemError(ctx, StmtAt(ctx, node), -12258, {{'N', rules.name}});
    return false;
  }
  // A change through a view changes the table the view reads: that
  // table's reference is the changed one too, and its triggers are the
  // change's (the view keeps that table's attributes as they were when it
  // was made).
  int32_t changed = ChangedItem(ctx, ref, true);
  if (changed > 0 && changed != item) SemCollectTriggers(ctx, W(ctx, changed, FRM_BOUND), false);
  return true;
}

// Whether the table privilege is held: the binding tested the privilege
// of the statement's kind (and reported its absence).
bool TablePrivilege(SqlCompileCtx* ctx, int32_t ref) {
  return ctx->compile_mode != 9 && W(ctx, ref, TRF_PRIVILEGE_HELD) != 0;
}

// The column privilege of one target column; -12270 when not held.
void ColumnPrivilege(SqlCompileCtx* ctx, int32_t node, int32_t ref, int32_t column,
                     const int32_t* position) {
  KindRules rules = RulesOf(W(ctx, node, STN_KIND));
  std::string name = SemColumnName(ctx, column);
  int32_t granted = 0;
  int32_t status =
      qdcolumnpriv(ctx, rules.privilege, name.c_str(), W(ctx, ref, TRF_TABLE_ID), &granted);
  if (status < 0) qcfatal(ctx, status);
  if (granted != 0) return;
  SemError(ctx, position, -12270,
           {{'I', CurrentUser(ctx)}, {'M', rules.name}, {'E', name}, {'A', TableDisplay(ctx, ref)}});
}

// A column's description by its number in the target.
SqlColumnDesc Describe(SqlCompileCtx* ctx, int32_t column) {
  SqlColumnDesc d;
  int32_t ref = W(ctx, column, EXN_TABLE_REF);
  int32_t status =
      qdgetcolumn(ctx, ref, W(ctx, ref, TRF_TABLE_ID), nullptr, W(ctx, column, EXN_COLUMN_ID), &d);
  if (status < 0) qcfatal(ctx, status);
  return d;
}

// The value that stands for a column's default: its default expression, or
// NULL when it has none (not walked yet).
int32_t DefaultOf(SqlCompileCtx* ctx, int32_t column, const int32_t* position) {
  int32_t value = qmcoldefault(ctx, Describe(ctx, column));
  return value != 0 ? value : ExprOfKind(ctx, kExprNull, position, 0, 0);
}

// A reference to a target column of its own, bound like `column`, taken by
// the walk as analysed.
int32_t TargetColumn(SqlCompileCtx* ctx, int32_t column) {
  int32_t copy = SemCopyColumn(ctx, column);
  W(ctx, copy, EXN_ANALYSED) = 1;
  SemTypeExpression(ctx, copy);
  return copy;
}

// The check conditions of the table the change changes (through a view,
// the table the view reads), fetched one by one and copied into the
// statement; WalkChecks walks them.
int32_t CheckConditions(SqlCompileCtx* ctx, int32_t ref) {
  int32_t item = ChangedItem(ctx, ref);
  if (item <= 0) return 0;
  int32_t table = W(ctx, W(ctx, item, FRM_BOUND), TRF_TABLE_ID);
  int32_t list = 0;
  int32_t check = 0;
  for (int32_t guard = 0; guard < 100000; ++guard) {
    int32_t status = qdgetcc(ctx, table, 0, &check);
    if (status < 0) qcfatal(ctx, status);
    if (status > 0 || check == 0) break;
    int32_t tree = qmcopytree(ctx, table, check);
    if (tree != 0) Append(ctx, &list, tree);
  }
  return list;
}

// Walks the check conditions in word `word` of the node. They name the
// changed table's columns: through a view, that table's FROM item stands
// for the block's FROM list while they are walked, and resume `restore`
// puts the list back (RestoreFrom).
void WalkChecks(SqlCompileCtx* ctx, int32_t node, int32_t word, int32_t restore) {
  int32_t checks = W(ctx, node, word);
  if (checks == 0) return;
  int32_t item = ChangedItem(ctx, TargetRef(ctx, node));
  SemContext& cur = Cur(ctx);
  if (item > 0 && item != W(ctx, node, RulesOf(W(ctx, node, STN_KIND)).target_word)) {
    W(ctx, node, DCH_FROM) = cur.w[SEM_FROM_LIST];
    cur.w[SEM_FROM_LIST] = qqlcons(ctx, 0, item);
    Push(ctx, kWalkStatement, restore, node);
  }
  PushAll(ctx, checks);
}

void RestoreFrom(SqlCompileCtx* ctx, int32_t node) {
  Cur(ctx).w[SEM_FROM_LIST] = W(ctx, node, DCH_FROM);
}

// The select items of the query a subquery source delivers (a set
// operation's first operand's).
std::vector<int32_t> QueryValues(SqlCompileCtx* ctx, int32_t subquery) {
  std::vector<int32_t> values;
  int32_t query = W(ctx, subquery, EXN_OPERAND1);
  for (int32_t depth = 0; query > 0 && W(ctx, query, STN_KIND) == 27 && depth < 1000; ++depth) {
    query = W(ctx, query, SOP_FIRST);
  }
  if (query <= 0 || W(ctx, query, STN_KIND) != 28) return values;
  for (int32_t c = W(ctx, query, QSP_SELECT); c != 0; c = W(ctx, c, CELL_NEXT)) {
    values.push_back(W(ctx, c, CELL_VALUE));
  }
  return values;
}

bool Character(int32_t code) {
  return code == 4 || code == 8;
}
bool National(int32_t code) {
  return code == 34 || code == 35;
}
int32_t CodeOf(SqlCompileCtx* ctx, int32_t node) {
  int32_t type = W(ctx, node, EXN_TYPE);
  return type > 0 ? W(ctx, type, TD_CODE) : 0;
}

// ---- INSERT -------------------------------------------------------------------

// The target columns: the named ones (checked) or all in column order.
bool InsertColumns(SqlCompileCtx* ctx, int32_t node, int32_t item, std::vector<int32_t>* out) {
  int32_t all = 0;
  SemCollectColumns(ctx, item, &all);
  int32_t names = W(ctx, node, INS_COLUMNS);
  if (names == 0) {
    for (int32_t c = all; c != 0; c = W(ctx, c, CELL_NEXT)) {
      int32_t column = W(ctx, c, CELL_VALUE);
      if (W(ctx, column, EXN_HIDDEN) == 0) out->push_back(column);
    }
    return true;
  }
  bool ok = true;
  std::vector<std::string> seen;
  for (int32_t c = names; c != 0; c = W(ctx, c, CELL_NEXT)) {
    int32_t part = W(ctx, c, CELL_VALUE);
    std::string name = SemText(ctx, W(ctx, part, 2));
    int32_t found = 0;
    for (int32_t a = all; a != 0 && found == 0; a = W(ctx, a, CELL_NEXT)) {
      int32_t column = W(ctx, a, CELL_VALUE);
      if (W(ctx, column, EXN_HIDDEN) == 0 && SemColumnName(ctx, column) == name) found = column;
    }
    if (found == 0) {
      SemError(ctx, At(ctx, part), -12202, {{'E', name}});
      ok = false;
      continue;
    }
    bool twice = false;
    for (const std::string& s : seen) twice = twice || s == name;
    if (twice) {
      SemError(ctx, At(ctx, part), -12267);
      ok = false;
      continue;
    }
    seen.push_back(name);
    out->push_back(found);
  }
  return ok;
}

void InsertPairs(SqlCompileCtx* ctx, int32_t node) {
  int32_t item = W(ctx, node, INS_TARGET);
  int32_t ref = TargetRef(ctx, node);
  bool held = TablePrivilege(ctx, ref);
  W(ctx, node, DCH_PRIVILEGE) = held ? 1 : 0;
  std::vector<int32_t> columns;
  bool ok = InsertColumns(ctx, node, item, &columns);
  int32_t source = W(ctx, node, INS_SOURCE);
  int32_t first = source != 0 ? W(ctx, source, CELL_VALUE) : 0;
  // A query as the source (kind 4); a VALUES list may begin with a scalar
  // subquery too.
  bool subquery = first > 0 && W(ctx, first, EXN_KIND) == kExprSubquery &&
                  ctx->statement_kind == 4;
  std::vector<int32_t> items;  // a subquery's select items, else the values
  if (subquery) {
    items = QueryValues(ctx, first);
  } else {
    for (int32_t c = source; c != 0; c = W(ctx, c, CELL_NEXT)) items.push_back(W(ctx, c, CELL_VALUE));
  }
  int32_t assignments = 0;
  size_t n = columns.size() < items.size() ? columns.size() : items.size();
  for (size_t i = 0; i < n; ++i) {
    int32_t column = columns[i];
    int32_t value = items[i];
    const int32_t* position = At(ctx, value);
    if (subquery) {
      // A star left unexpanded (its table was not found, which is
      // reported) pairs with nothing.
      if (W(ctx, value, SLI_FORM) != 2) {
        ok = false;
        continue;
      }
      // A CHAR item under a national column, or the reverse, is converted
      // in the select list itself.
      int32_t wrapper = W(ctx, value, SLI_VALUE);
      int32_t inner = wrapper > 0 ? W(ctx, wrapper, EXN_OPERAND1) : 0;
      int32_t to = CodeOf(ctx, column);
      int32_t from = inner > 0 ? CodeOf(ctx, inner) : 0;
      if (inner > 0 && ((National(to) && Character(from)) || (Character(to) && National(from)))) {
        int32_t cast = qmnchcast(ctx, inner);
        W(ctx, cast, EXN_ANALYSED) = 1;
        W(ctx, wrapper, EXN_OPERAND1) = cast;
        W(ctx, wrapper, EXN_TYPE) = W(ctx, cast, EXN_TYPE);
        W(ctx, wrapper, EXN_TYPE_CLASS) = W(ctx, cast, EXN_TYPE_CLASS);
      }
      value = wrapper;
      position = At(ctx, wrapper);
    } else if (W(ctx, value, EXN_KIND) == kExprDefault) {
      value = DefaultOf(ctx, column, position);
    } else {
      int32_t derivation = W(ctx, value, EXN_DERIVATION);
      if (derivation != 3 && derivation != 4) {
        SemError(ctx, position, -12232);
        ok = false;
      }
    }
    if (value <= 0) continue;
    if (ComputedViewColumn(ctx, column)) {
      SemError(ctx, position, -12261, {{'E', SemColumnName(ctx, column)}});
      ok = false;
      continue;
    }
    Append(ctx, &assignments, ExprGeneric(ctx, position, TargetColumn(ctx, column), value));
  }
  if (held && ctx->compile_mode != 9) {
    for (int32_t column : columns) ColumnPrivilege(ctx, node, ref, column, StmtAt(ctx, node));
  }
  if (ok && columns.size() != items.size()) {
    SemError(ctx, StmtAt(ctx, node), -12233);
    ok = false;
  }
  if (!ok) W(ctx, node, DCH_FAILED) = 1;
  W(ctx, node, INS_ASSIGNMENTS) = assignments;
  W(ctx, node, INS_CHECKS) = CheckConditions(ctx, ref);
  W(ctx, node, INS_VIEW) = W(ctx, ref, TRF_VIEW);
  PushAll(ctx, assignments);
}

// The columns of the table a change through a view reaches: those its
// reference in the view's query knows, then those the table gained since
// the view was made (the reference is the view's copy, as old as the view).
int32_t ChangedTableColumns(SqlCompileCtx* ctx, int32_t item, bool through_view) {
  int32_t all = 0;
  SemCollectColumns(ctx, item, &all);
  if (!through_view) return all;
  int32_t ref = W(ctx, item, FRM_BOUND);
  int32_t known = qqllen(ctx, all);
  for (int32_t id = known + 1; id < known + 100000; ++id) {
    SqlColumnDesc d;
    int32_t status = qdgetcolumn(ctx, ref, W(ctx, ref, TRF_TABLE_ID), nullptr, id, &d);
    if (status < 0) qcfatal(ctx, status);
    if (status > 0) break;
    Append(ctx, &all, SemTableColumn(ctx, ref, d));
  }
  return all;
}

// Resume 3: the columns of the changed table that no assignment reaches
// get their defaults (through a view, the table's columns the view leaves
// out as well, and those the table gained after the view was made).
void InsertDefaults(SqlCompileCtx* ctx, int32_t node) {
  int32_t ref = TargetRef(ctx, node);
  if (W(ctx, node, DCH_FAILED) != 0 || ref == 0) return;
  int32_t item = ChangedItem(ctx, ref);
  if (item <= 0) return;
  int32_t all = ChangedTableColumns(ctx, item, item != W(ctx, node, INS_TARGET));
  int32_t added = 0;
  for (int32_t c = all; c != 0; c = W(ctx, c, CELL_NEXT)) {
    int32_t column = W(ctx, c, CELL_VALUE);
    bool named = false;
    for (int32_t a = W(ctx, node, INS_ASSIGNMENTS); a != 0 && !named; a = W(ctx, a, CELL_NEXT)) {
      int32_t target = SemChangedColumn(ctx, W(ctx, W(ctx, a, CELL_VALUE), ASG_TARGET));
      named = W(ctx, target, EXN_TABLE_REF) == W(ctx, column, EXN_TABLE_REF) &&
              W(ctx, target, EXN_COLUMN_ID) == W(ctx, column, EXN_COLUMN_ID);
    }
    if (named) continue;
    const int32_t* position = StmtAt(ctx, node);
    int32_t value = DefaultOf(ctx, column, position);
    Append(ctx, &added, ExprGeneric(ctx, position, TargetColumn(ctx, column), value));
  }
  W(ctx, node, INS_ASSIGNMENTS) = qqlcat(ctx, W(ctx, node, INS_ASSIGNMENTS), added);
  PushAll(ctx, added);
}

void Insert(SqlCompileCtx* ctx, int32_t node, int32_t resume) {
  switch (resume) {
    case 1:
      Start(ctx, node);
      Push(ctx, kWalkStatement, 2, node);
      PushAll(ctx, W(ctx, node, INS_SOURCE));
      return;
    case 2:
      Push(ctx, kWalkStatement, 3, node);
      if (!TargetRules(ctx, node)) {
        W(ctx, node, DCH_FAILED) = 1;
        return;
      }
      InsertPairs(ctx, node);
      return;
    case 3:
      InsertDefaults(ctx, node);
      if (W(ctx, node, DCH_FAILED) == 0) WalkChecks(ctx, node, INS_CHECKS, 4);
      return;
    default:
      RestoreFrom(ctx, node);
      return;
  }
}

// ---- UPDATE -------------------------------------------------------------------

// A SET value DEFAULT becomes the column's default (or NULL) before the
// assignments are walked.
void UpdateDefaults(SqlCompileCtx* ctx, int32_t node, int32_t ref) {
  for (int32_t c = W(ctx, node, UPD_SET); c != 0; c = W(ctx, c, CELL_NEXT)) {
    int32_t assignment = W(ctx, c, CELL_VALUE);
    int32_t value = W(ctx, assignment, ASG_VALUE);
    if (value <= 0 || W(ctx, value, EXN_KIND) != kExprDefault) continue;
    std::string name = SemColumnName(ctx, W(ctx, assignment, ASG_TARGET));
    SqlColumnDesc d;
    int32_t status = qdgetcolumn(ctx, ref, W(ctx, ref, TRF_TABLE_ID), name.c_str(), -1, &d);
    if (status < 0) qcfatal(ctx, status);
    if (status > 0) continue;  // the walk reports the column
    int32_t replaced = qmcoldefault(ctx, d);
    if (replaced == 0) replaced = ExprOfKind(ctx, kExprNull, At(ctx, value), 0, 0);
    W(ctx, assignment, ASG_VALUE) = replaced;
  }
}

void UpdateRules(SqlCompileCtx* ctx, int32_t node) {
  int32_t ref = TargetRef(ctx, node);
  bool held = TablePrivilege(ctx, ref);
  W(ctx, node, DCH_PRIVILEGE) = held ? 1 : 0;
  int32_t list = W(ctx, node, UPD_SET);
  for (int32_t c = list; c != 0; c = W(ctx, c, CELL_NEXT)) {
    int32_t assignment = W(ctx, c, CELL_VALUE);
    int32_t column = W(ctx, assignment, ASG_TARGET);
    if (column <= 0 || W(ctx, column, EXN_TABLE_REF) == 0) continue;
    const int32_t* position = At(ctx, column);
    if (ComputedViewColumn(ctx, column)) {
      SemError(ctx, position, -12238, {{'E', SemColumnName(ctx, column)}});
    }
    if (held && ctx->compile_mode != 9) ColumnPrivilege(ctx, node, ref, column, position);
    for (int32_t e = list; e != c; e = W(ctx, e, CELL_NEXT)) {
      int32_t earlier = W(ctx, W(ctx, e, CELL_VALUE), ASG_TARGET);
      if (earlier > 0 && W(ctx, earlier, EXN_TABLE_REF) == W(ctx, column, EXN_TABLE_REF) &&
          W(ctx, earlier, EXN_COLUMN_ID) == W(ctx, column, EXN_COLUMN_ID)) {
        SemError(ctx, position, -12268);
        break;
      }
    }
  }
  W(ctx, node, UPD_CHECKS) = CheckConditions(ctx, ref);
  W(ctx, node, UPD_VIEW) = W(ctx, ref, TRF_VIEW);
  if (ctx->statement_kind == 7 && W(ctx, node, UPD_WHERE) != 0 && W(ctx, node, STN_KIND) == 24) {
    ctx->statement_kind = 6;
  }
  WalkChecks(ctx, node, UPD_CHECKS, 3);
}

void Update(SqlCompileCtx* ctx, int32_t node, int32_t resume) {
  if (resume == 1) {
    Start(ctx, node);
    if (ctx->compile_mode == 6) W(ctx, node, UPD_SET) = 0;
    int32_t ref = TargetRef(ctx, node);
    if (ref != 0) UpdateDefaults(ctx, node, ref);
    Push(ctx, kWalkStatement, 2, node);
    if (W(ctx, node, STN_KIND) == 24 && W(ctx, node, UPD_WHERE) > 0) {
      Push(ctx, kWalkCondition, 1, W(ctx, node, UPD_WHERE));
    }
    PushAll(ctx, W(ctx, node, UPD_SET));
    return;
  }
  if (resume == 3) {
    RestoreFrom(ctx, node);
    return;
  }
  if (TargetRules(ctx, node)) UpdateRules(ctx, node);
}

// ---- DELETE -------------------------------------------------------------------

void Delete(SqlCompileCtx* ctx, int32_t node, int32_t resume) {
  SemContext& cur = Cur(ctx);
  if (resume == 1) {
    Start(ctx, node);
    Push(ctx, kWalkStatement, 2, node);
    if (W(ctx, node, STN_KIND) == 22 && W(ctx, node, DLT_WHERE) > 0) {
      Push(ctx, kWalkCondition, 1, W(ctx, node, DLT_WHERE));
    }
    return;
  }
  TargetRules(ctx, node);
  const QueryBlockState& q = ctx->query;
  if (ctx->statement_kind == 10 &&
      (W(ctx, node, DLT_WHERE) != 0 || q.transition_refs[0] != 0 || q.transition_mark != 0)) {
    ctx->statement_kind = 9;
  }
  qmqres(ctx, &cur);
}

}  // namespace

int32_t SemChangedColumn(SqlCompileCtx* ctx, int32_t column) {
  for (int32_t depth = 0; depth <= kMaxViewDepth && column > 0; ++depth) {
    int32_t ref = W(ctx, column, EXN_TABLE_REF);
    if (ref <= 0 || !qmisview(ctx, ref)) return column;
    int32_t defining = qmviewcol(ctx, ref, W(ctx, column, EXN_COLUMN_ID));
    if (defining <= 0 || W(ctx, defining, EXN_KIND) != kExprColumnRef) return column;
    column = defining;
  }
  return column;
}

void SemDataChange(SqlCompileCtx* ctx, int32_t node, int32_t resume) {
  switch (W(ctx, node, STN_KIND)) {
    case 22:
    case 23:
      Delete(ctx, node, resume);
      return;
    case 24:
    case 25:
      Update(ctx, node, resume);
      return;
    default:
      Insert(ctx, node, resume);
      return;
  }
}

void SemLoad(SqlCompileCtx* ctx, int32_t node) {
  int32_t qualified = W(ctx, node, LOD_NAME);
  int32_t part = qualified > 0 ? W(ctx, qualified, 2) : 0;
  std::string name = part > 0 ? SemText(ctx, W(ctx, part, 2)) : std::string();
  std::string schema = part > 0 ? SemText(ctx, W(ctx, part, 3)) : std::string();
  std::string display = NameDisplay(ctx, qualified);
  const int32_t* position = At(ctx, qualified);
  SqlQualifiedName qn;
  std::strncpy(qn.schema, schema.c_str(), kCatalogNameBytes - 1);
  std::strncpy(qn.name, name.c_str(), kCatalogNameBytes - 1);
  int32_t kind = 0;
  int32_t attrs[kObjectAttrWords] = {};
  int32_t status = qdgetobject(ctx, &qn, &kind, attrs, 1);
  if (status < 0) qcfatal(ctx, status);
  if (status > 0) {
    if (!(ctx->compile_mode == 9 && status == 1)) SemError(ctx, position, -12200, {{'A', display}});
    return;
  }
  if (kind != 1) {
    SemError(ctx, position, -12260);
    return;
  }
  int32_t granted = 0;
  status = qdtablepriv(ctx, 6, attrs[0], &granted);
  if (status < 0) qcfatal(ctx, status);
  if (granted != 0) {
    ctx->query.load_table = attrs[0];
    return;
  }
  SemError(ctx, position, -12270, {{'I', CurrentUser(ctx)}, {'M', "LOAD"}, {'A', display}});
}
