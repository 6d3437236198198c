// FROM clause binding: every table name of a query block becomes a bound
// table reference carrying the table's catalog description (after its
// privilege is tested), joined tables get their join condition and their
// result columns, and after the block's clauses inner joins dissolve into
// the WHERE condition.
#include <cstring>
#include <string>
#include <vector>

#include "sql/front/catalog_access.h"
#include "sql/front/compile_context.h"
#include "sql/front/compile_diag.h"
#include "sql/front/compile_services.h"
#include "sql/front/sem_walk.h"
#include "sql/front/sql_action_words.h"
#include "sql/front/stmt_tree.h"
#include "sql/front/trigger_binding.h"
#include "sql/front/view_merge.h"
#include "sql/front/walk_words.h"

using walk_words::Cur;
using walk_words::W;

namespace {

// Appends a value at the end of a list (lists here are short).
void Append(SqlCompileCtx* ctx, int32_t* list, int32_t value) {
  *list = qqlcat(ctx, *list, qqlcons(ctx, 0, value));
}

// A condition ANDed to another (either may be 0).
int32_t And(SqlCompileCtx* ctx, int32_t a, int32_t b) {
  return qmandcomb(ctx, b != 0 ? &W(ctx, b, EXN_LINE) : nullptr, a, b, kExprAnd);
}

// The schema and name a table FROM item names.
void TableName(SqlCompileCtx* ctx, int32_t item, std::string* schema, std::string* name) {
  int32_t qualified = W(ctx, item, FRM_NAME);
  int32_t part = qualified > 0 ? W(ctx, qualified, 2) : 0;
  *name = part > 0 ? SemText(ctx, W(ctx, part, 2)) : std::string();
  *schema = part > 0 ? SemText(ctx, W(ctx, part, 3)) : std::string();
}

std::string Display(const std::string& schema, const std::string& name) {
  return schema.empty() ? name : schema + "." + name;
}

const int32_t* ItemPosition(SqlCompileCtx* ctx, int32_t item) {
  int32_t qualified = W(ctx, item, FRM_NAME);
  return qualified > 0 ? &W(ctx, qualified, 0) : nullptr;
}

// Whether a table item of the current block already bound exposes `name`.
bool ExposedTwice(SqlCompileCtx* ctx, int32_t item, const std::string& name) {
  if (item <= 0) return false;
  if (W(ctx, item, FRM_FORM) == 1) {
    return ExposedTwice(ctx, W(ctx, item, FRM_CORRELATION), name) ||
           ExposedTwice(ctx, W(ctx, item, FRM_RIGHT), name);
  }
  return W(ctx, item, FRM_FORM) == 0 && W(ctx, item, FRM_BOUND) != 0 &&
         SemExposedName(ctx, item) == name;
}

// The privilege the statement needs of a table of the current block.
int32_t PrivilegeNeeded(const SemContext& cur) {
  if (qmflagtst(&cur, kFlagSubquery) != 0 || qmflagtst(&cur, kFlagQuery) != 0) return 1;
  if (qmflagtst(&cur, kFlagDelete) != 0) return 3;
  if (qmflagtst(&cur, kFlagUpdate) != 0) return 4;
  return 2;
}

// Tests one table privilege; false (and -12270) when it is not held.
bool HoldsPrivilege(SqlCompileCtx* ctx, int32_t item, int32_t privilege, int32_t table_id,
                    const std::string& display) {
  int32_t granted = 0;
  int32_t status = qdtablepriv(ctx, privilege, table_id, &granted);
  if (status < 0) qcfatal(ctx, status);
  if (granted != 0) return true;
  static const char* const kNames[] = {"", "SELECT", "INSERT", "DELETE", "UPDATE"};
  char user[129] = {};
  status = qdcurschema(ctx, user);
  if (status < 0) qcfatal(ctx, status);
  SemError(ctx, ItemPosition(ctx, item), -12270,
           {{'I', user}, {'M', kNames[privilege]}, {'A', display}});
  return false;
}

void CopyName(SqlCompileCtx* ctx, int32_t ref, int32_t word, const std::string& text) {
  char* to = reinterpret_cast<char*>(&W(ctx, ref, word));
  size_t n = text.size() < 128 ? text.size() : 128;
  std::memcpy(to, text.data(), n);
  to[n] = 0;
}

// A merged view is simple when its query is a SELECT block over one table
// without DISTINCT or grouping.
bool ViewIsSimple(SqlCompileCtx* ctx, int32_t ref) {
  int32_t query = W(ctx, W(ctx, ref, TRF_VIEW), STN_ROOT_TOP);
  int32_t from = W(ctx, query, QSP_FROM);
  return W(ctx, query, QSP_MARK_FIRST) == 0 && W(ctx, query, QSP_MARK_SECOND) == 0 &&
         W(ctx, query, QSP_MARK_THIRD) == 0 && qqllen(ctx, from) == 1 &&
         W(ctx, W(ctx, from, CELL_VALUE), FRM_FORM) == 0;
}

void BindTable(SqlCompileCtx* ctx, int32_t item, bool outer_join) {
  SemContext& cur = Cur(ctx);
  QueryBlockState& q = ctx->query;
  std::string schema, name;
  TableName(ctx, item, &schema, &name);
  const std::string display = Display(schema, name);
  // A transition table of the trigger being compiled names its subject table.
  int32_t transition = 0;
  if (ctx->caller_names_set != 0 && schema.empty()) {
    if (name == ctx->caller_names[2]) transition = 1;
    else if (name == ctx->caller_names[3]) transition = 2;
    if (transition != 0) {
      schema = ctx->caller_names[0];
      name = ctx->caller_names[1];
    }
  }
  SqlQualifiedName qn;
  std::strncpy(qn.schema, schema.c_str(), kCatalogNameBytes - 1);
  std::strncpy(qn.name, name.c_str(), kCatalogNameBytes - 1);
  int32_t kind = 0;
  int32_t attrs[kObjectAttrWords] = {};
  int32_t status = qdgetobject(ctx, &qn, &kind, attrs, ctx->statement_kind == 3 ? 1 : 0);
  if (status < 0) qcfatal(ctx, status);
  if (status > 0) {
    q.flags[kBlockFailedTable] = 1;
    if (!(ctx->compile_mode == 9 && status == 1)) {
      SemError(ctx, ItemPosition(ctx, item), -12200, {{'A', display}});
    }
    return;
  }
  const std::string exposed = SemExposedName(ctx, item);
  for (int32_t c = cur.w[SEM_FROM_LIST]; c != 0; c = W(ctx, c, CELL_NEXT)) {
    if (ExposedTwice(ctx, W(ctx, c, CELL_VALUE), exposed)) {
      SemError(ctx, ItemPosition(ctx, item), -12201, {{'A', display}});
      return;
    }
  }
  bool held = false;
  if (ctx->compile_mode != 9) {
    // A privilege not held is reported; the table is bound all the same,
    // so that its columns raise no further errors.
    int32_t privilege = PrivilegeNeeded(cur);
    held = HoldsPrivilege(ctx, item, privilege, attrs[0], display);
    if (held && (ctx->statement_kind == 6 || ctx->statement_kind == 9) && privilege != 1) {
      HoldsPrivilege(ctx, item, 1, attrs[0], display);
    }
  }
  int32_t ref = qqwsal(ctx, kTableRefWords * 4);
  std::memset(qqwsadr(ctx, ref), 0, kTableRefWords * 4);
  W(ctx, ref, TRF_PRIVILEGE_HELD) = held ? 1 : 0;
  W(ctx, ref, TRF_QUERY_ONLY) = 1;
  W(ctx, ref, TRF_NULL_TEST_COUNT) = attrs[kTableAttrColumnCount];
  W(ctx, ref, TRF_EXPOSED) = TreeTextCopy(ctx, exposed.data(), static_cast<int32_t>(exposed.size()));
  W(ctx, ref, TRF_TABLE_ID) = attrs[0];
  W(ctx, ref, TRF_KIND) = kind;
  W(ctx, ref, TRF_TRANSITION) = transition;
  W(ctx, ref, TRF_MINMAX) = 1;
  W(ctx, ref, TRF_ITEM) = item;
  W(ctx, ref, TRF_LEVEL) = cur.w[SEM_LEVEL];
  for (int32_t i = 0; i < kObjectAttrWords; ++i) W(ctx, ref, TRF_ATTRS + i) = attrs[i];
  CopyName(ctx, ref, TRF_SCHEMA, qn.schema);
  CopyName(ctx, ref, TRF_NAME, qn.name);
  W(ctx, item, FRM_BOUND) = ref;
  if (qmflagtst(&cur, kFlagDelete) != 0 || qmflagtst(&cur, kFlagUpdate) != 0 ||
      qmflagtst(&cur, kFlagInsert) != 0) {
    q.target_table = attrs[0];
  }
  if (transition != 0) Append(ctx, &q.transition_refs[transition - 1], ref);
  Append(ctx, &q.table_refs, ref);
  ++q.table_ref_count;
  if (qmflagtst(&cur, kFlagCollect) != 0) Append(ctx, &q.view_tables, ref);
  // A view is merged into the block (or materialized) before its columns
  // are used; its own tables follow it in the list. One materialized, or
  // merged though not simple, marks the block and brings its options.
  if (kind == 2 && (qmviewmrg(ctx, item, ref, &cur, outer_join, &q.view_counter) == 0 ||
                    (W(ctx, ref, TRF_MERGED) == 1 && !ViewIsSimple(ctx, ref)))) {
    q.flags[kBlockMergedView] = 1;
    q.view_options |= attrs[kObjectAttrOptions];
  }
  SemCollectTriggers(ctx, ref);
}

// Sets the inner-join mark of an inner join and of the inner joins it is
// made of.
void MarkInnerChain(SqlCompileCtx* ctx, int32_t item) {
  if (item <= 0 || W(ctx, item, FRM_FORM) != 1 || W(ctx, item, FRM_NAME) != 0) return;
  W(ctx, item, FRM_INNER) = 1;
  MarkInnerChain(ctx, W(ctx, item, FRM_CORRELATION));
  MarkInnerChain(ctx, W(ctx, item, FRM_RIGHT));
}

// The columns of `list` named `name` (visible ones only): the first in
// *found, their number returned.
int32_t CountNamed(SqlCompileCtx* ctx, int32_t list, const std::string& name, int32_t* found) {
  int32_t n = 0;
  for (int32_t c = list; c != 0; c = W(ctx, c, CELL_NEXT)) {
    int32_t column = W(ctx, c, CELL_VALUE);
    if (W(ctx, column, EXN_HIDDEN) != 0 || SemColumnName(ctx, column) != name) continue;
    if (n++ == 0) *found = column;
  }
  return n;
}

bool Holds(const std::vector<std::string>& names, const std::string& name) {
  for (const std::string& n : names) {
    if (n == name) return true;
  }
  return false;
}

// The join's result columns and, for common columns, its condition: each
// common column's driving copy IS NOT NULL and the two copies equal.
void BuildJoinColumns(SqlCompileCtx* ctx, int32_t item, const std::vector<std::string>& names,
                      int32_t left_columns, int32_t right_columns, int32_t* result,
                      int32_t* condition) {
  int32_t join_type = W(ctx, item, FRM_NAME);
  bool inner = W(ctx, item, FRM_INNER) != 0;
  int32_t on = W(ctx, item, FRM_ON);
  const int32_t* at = on > 0 ? &W(ctx, on, EXN_LINE) : nullptr;
  int32_t common = 0;
  int32_t hidden = 0;
  for (const std::string& name : names) {
    int32_t left = 0, right = 0;
    int32_t nl = CountNamed(ctx, left_columns, name, &left);
    int32_t nr = CountNamed(ctx, right_columns, name, &right);
    if (nl > 1 || nr > 1) {
      SemError(ctx, at, -12204, {{'E', name}});
      continue;
    }
    if (nl == 0 || nr == 0) {
      SemError(ctx, at, -12202, {{'E', name}});
      continue;
    }
    int32_t driving = join_type == 2 ? right : left;
    int32_t other = join_type == 2 ? left : right;
    int32_t is_null = ExprOfKind(ctx, kExprNull, nullptr, 0, 0);
    int32_t not_null = qqcbix(ctx, kExprNe, nullptr, SemCopyColumn(ctx, driving), is_null, 0, 0);
    int32_t equal =
        qqcbix(ctx, kExprEq, nullptr, SemCopyColumn(ctx, left), SemCopyColumn(ctx, right), 0, 0);
    *condition = And(ctx, *condition, qqcbix(ctx, kExprAnd, nullptr, not_null, equal, 0, 0));
    int32_t shown = SemCopyColumn(ctx, driving);
    if (inner) {
      // Named without its qualifier; the other copy is hidden.
      int32_t part = W(ctx, W(ctx, shown, EXN_OPERAND1), 2);
      int32_t bare = NamePart(ctx, &W(ctx, part, 0), W(ctx, part, 2), 0);
      W(ctx, shown, EXN_OPERAND1) = QualifiedNameNode(ctx, &W(ctx, part, 0), bare, 0);
    }
    // The other copy is hidden: star expansion and look-up see the column once.
    int32_t copy = SemCopyColumn(ctx, other);
    W(ctx, copy, EXN_HIDDEN) = 1;
    Append(ctx, &hidden, copy);
    Append(ctx, &common, shown);
  }
  // Common columns first, then each operand's others.
  *result = common;
  for (int32_t list : {left_columns, right_columns}) {
    for (int32_t c = list; c != 0; c = W(ctx, c, CELL_NEXT)) {
      int32_t column = W(ctx, c, CELL_VALUE);
      if (Holds(names, SemColumnName(ctx, column))) continue;
      Append(ctx, result, column);
    }
  }
  *result = qqlcat(ctx, *result, hidden);
}

void BindItem(SqlCompileCtx* ctx, int32_t item, bool outer_join);

// `outer_join`: the join is an operand of an outer join.
void BindJoin(SqlCompileCtx* ctx, int32_t item, bool outer_join) {
  SemContext& cur = Cur(ctx);
  ctx->query.flags[kBlockJoined] = 1;
  int32_t left = W(ctx, item, FRM_CORRELATION);
  int32_t right = W(ctx, item, FRM_RIGHT);
  // An operand of an outer join keeps its own conditions.
  bool outer = outer_join || W(ctx, item, FRM_NAME) != 0;
  BindItem(ctx, left, outer);
  BindItem(ctx, right, outer);
  int32_t left_columns = 0, right_columns = 0;
  SemCollectColumns(ctx, left, &left_columns);
  SemCollectColumns(ctx, right, &right_columns);
  std::vector<std::string> names;
  for (int32_t c = W(ctx, item, FRM_USING); c != 0; c = W(ctx, c, CELL_NEXT)) {
    int32_t part = W(ctx, c, CELL_VALUE);
    names.push_back(SemText(ctx, W(ctx, part, 2)));
  }
  int32_t on = W(ctx, item, FRM_ON);
  int32_t condition = 0;
  int32_t result = 0;
  if (on == 0 && W(ctx, item, FRM_USING) == 0) {
    // NATURAL: the left operand's names found once among the right's.
    for (int32_t c = left_columns; c != 0; c = W(ctx, c, CELL_NEXT)) {
      int32_t column = W(ctx, c, CELL_VALUE);
      if (W(ctx, column, EXN_HIDDEN) != 0) continue;
      std::string name = SemColumnName(ctx, column);
      int32_t found = 0;
      int32_t n = CountNamed(ctx, right_columns, name, &found);
      if (n > 1) SemError(ctx, nullptr, -12204, {{'E', name}});
      if (n == 1 && !Holds(names, name)) names.push_back(name);
    }
  }
  if (on == 0) {
    BuildJoinColumns(ctx, item, names, left_columns, right_columns, &result, &condition);
    W(ctx, item, FRM_ON) = condition;
  } else {
    BuildJoinColumns(ctx, item, names, left_columns, right_columns, &result, &condition);
    W(ctx, on, EXN_ON_LINK) = item;
    condition = on;
  }
  W(ctx, item, FRM_COLUMNS) = result;
  cur.w[SEM_CONDITION] = And(ctx, cur.w[SEM_CONDITION], condition);
}

void BindItem(SqlCompileCtx* ctx, int32_t item, bool outer_join) {
  if (item <= 0) return;
  switch (W(ctx, item, FRM_FORM)) {
    case 0:
      BindTable(ctx, item, outer_join);
      return;
    case 1:
      BindJoin(ctx, item, outer_join);
      return;
    default:
      return;  // a placeholder
  }
}

void Flatten(SqlCompileCtx* ctx, int32_t query, int32_t item, int32_t* list) {
  if (item <= 0) return;
  if (W(ctx, item, FRM_FORM) != 1 || W(ctx, item, FRM_INNER) == 0) {
    Append(ctx, list, item);
    return;
  }
  W(ctx, query, QSP_WHERE) = And(ctx, W(ctx, query, QSP_WHERE), W(ctx, item, FRM_ON));
  Flatten(ctx, query, W(ctx, item, FRM_CORRELATION), list);
  Flatten(ctx, query, W(ctx, item, FRM_RIGHT), list);
}

// The column references of a bound table, made on first use in column order.
int32_t TableColumns(SqlCompileCtx* ctx, int32_t ref) {
  if (W(ctx, ref, TRF_ALL_COLUMNS) != 0) return W(ctx, ref, TRF_ALL_COLUMNS);
  int32_t count = W(ctx, ref, TRF_ATTRS + kTableAttrColumnCount);
  int32_t table_id = W(ctx, ref, TRF_TABLE_ID);
  int32_t list = 0;
  for (int32_t id = 1; id <= count; ++id) {
    SqlColumnDesc d;
    int32_t status = qdgetcolumn(ctx, ref, table_id, nullptr, id, &d);
    if (status < 0) qcfatal(ctx, status);
    if (status > 0) break;
    Append(ctx, &list, SemTableColumn(ctx, ref, d));
  }
  W(ctx, ref, TRF_ALL_COLUMNS) = list;
  return list;
}

}  // namespace

int32_t SemTableColumn(SqlCompileCtx* ctx, int32_t ref, const SqlColumnDesc& d) {
  std::string exposed = SemText(ctx, W(ctx, ref, TRF_EXPOSED));
  int32_t name = TreeTextCopy(ctx, d.name.data(), static_cast<int32_t>(d.name.size()));
  int32_t qualifier = TreeTextCopy(ctx, exposed.data(), static_cast<int32_t>(exposed.size()));
  int32_t part = NamePart(ctx, nullptr, name, qualifier);
  ExprWord w[] = {{EXN_OPERAND1, QualifiedNameNode(ctx, nullptr, part, 0)}};
  int32_t column = ExprFixed(ctx, kExprColumnRef, nullptr, w, 1);
  SemBindColumn(ctx, column, d, ref, W(ctx, ref, TRF_LEVEL));
  return column;
}

std::string SemExposedName(SqlCompileCtx* ctx, int32_t item) {
  int32_t correlation = W(ctx, item, FRM_CORRELATION);
  if (correlation > 0) return SemText(ctx, W(ctx, correlation, 2));
  std::string schema, name;
  TableName(ctx, item, &schema, &name);
  return name;
}

void SemBindFromList(SqlCompileCtx* ctx, int32_t query) {
  SemBindFromItems(ctx, W(ctx, query, QSP_FROM));
}

void SemBindFromItems(SqlCompileCtx* ctx, int32_t list) {
  SemContext& cur = Cur(ctx);
  cur.w[SEM_FROM_LIST] = list;
  ctx->query.view_counter = 0;
  int32_t count = qqllen(ctx, list);
  cur.w[SEM_FROM_COUNT] = count;
  if (qmflagtst(&cur, kFlagQuery) != 0 && count > 1) ctx->query.flags[kBlockJoined] = 1;
  for (int32_t c = list; c != 0; c = W(ctx, c, CELL_NEXT)) {
    int32_t item = W(ctx, c, CELL_VALUE);
    if (item > 0 && W(ctx, item, FRM_FORM) == 1 && W(ctx, item, FRM_NAME) == 0) {
      MarkInnerChain(ctx, item);
    }
    BindItem(ctx, item, false);
  }
}

void SemFlattenFromList(SqlCompileCtx* ctx, int32_t query) {
  int32_t list = 0;
  for (int32_t c = W(ctx, query, QSP_FROM); c != 0; c = W(ctx, c, CELL_NEXT)) {
    Flatten(ctx, query, W(ctx, c, CELL_VALUE), &list);
  }
  W(ctx, query, QSP_FROM) = list;
}

void SemCollectColumns(SqlCompileCtx* ctx, int32_t item, int32_t* list) {
  if (item <= 0) return;
  int32_t columns = 0;
  if (W(ctx, item, FRM_FORM) == 1) {
    columns = W(ctx, item, FRM_COLUMNS);
  } else if (W(ctx, item, FRM_FORM) == 0 && W(ctx, item, FRM_BOUND) != 0) {
    columns = TableColumns(ctx, W(ctx, item, FRM_BOUND));
  }
  for (int32_t c = columns; c != 0; c = W(ctx, c, CELL_NEXT)) {
    Append(ctx, list, W(ctx, c, CELL_VALUE));
  }
}
