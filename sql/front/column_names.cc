// Column name resolution: a column reference is bound to one column of one
// bound table reference of the current query block or, outward, of an
// enclosing block; the column's description is copied into the node. The
// same scope search finds the exposed names of qualified stars and
// qualified column names.
#include <string>

#include "sql/front/catalog_access.h"
#include "sql/front/compile_context.h"
#include "sql/front/compile_diag.h"
#include "sql/front/sem_walk.h"
#include "sql/front/stmt_tree.h"
#include "sql/front/walk_words.h"

using walk_words::Cur;
using walk_words::W;

namespace {

int32_t NamePartOf(SqlCompileCtx* ctx, int32_t node) {
  int32_t qualified = W(ctx, node, EXN_OPERAND1);
  return qualified > 0 ? W(ctx, qualified, 2) : 0;
}

// The FROM list of the block of level k (the current block's own, or the
// record saved for an enclosing one).
int32_t FromListOf(SqlCompileCtx* ctx, int32_t k) {
  const SemContext& cur = Cur(ctx);
  if (k == cur.w[SEM_LEVEL]) return cur.w[SEM_FROM_LIST];
  SemContext saved;
  qmqget(ctx, &saved, k);
  return saved.w[SEM_FROM_LIST];
}

// The table item exposing `name` inside a FROM item (left before right).
int32_t ExposedIn(SqlCompileCtx* ctx, int32_t item, const std::string& name) {
  if (item <= 0) return 0;
  switch (W(ctx, item, FRM_FORM)) {
    case 0:
      return SemExposedName(ctx, item) == name ? item : 0;
    case 1: {
      int32_t found = ExposedIn(ctx, W(ctx, item, FRM_CORRELATION), name);
      return found != 0 ? found : ExposedIn(ctx, W(ctx, item, FRM_RIGHT), name);
    }
    default:
      return 0;
  }
}

// What a search found: a column of a table reference (its description) or
// a join's result column (bound already).
struct Match {
  int32_t ref = 0;
  SqlColumnDesc desc;
  int32_t column = 0;
  int32_t level = 0;
};

// A table reference's column by name.
bool LookUpInTable(SqlCompileCtx* ctx, int32_t ref, const std::string& name, Match* m) {
  int32_t status = qdgetcolumn(ctx, ref, W(ctx, ref, TRF_TABLE_ID), name.c_str(), -1, &m->desc);
  if (status < 0) qcfatal(ctx, status);
  if (status > 0) return false;
  m->ref = ref;
  m->column = 0;
  return true;
}

// The visible result columns of a join named `name`: how many, the first in
// *m.
int32_t LookUpInJoin(SqlCompileCtx* ctx, int32_t item, const std::string& name,
                     const std::string* qualifier, Match* m) {
  int32_t n = 0;
  for (int32_t c = W(ctx, item, FRM_COLUMNS); c != 0; c = W(ctx, c, CELL_NEXT)) {
    int32_t column = W(ctx, c, CELL_VALUE);
    if (W(ctx, column, EXN_HIDDEN) != 0 || SemColumnName(ctx, column) != name) continue;
    if (qualifier != nullptr && SemColumnQualifier(ctx, column) != *qualifier) continue;
    if (n++ == 0) {
      m->column = column;
      m->ref = 0;
    }
  }
  return n;
}

// One FROM item searched for an unqualified name: the number of matches.
int32_t LookUpInItem(SqlCompileCtx* ctx, int32_t item, const std::string& name, Match* m) {
  if (item <= 0) return 0;
  if (W(ctx, item, FRM_FORM) == 1) return LookUpInJoin(ctx, item, name, nullptr, m);
  if (W(ctx, item, FRM_FORM) != 0 || W(ctx, item, FRM_BOUND) == 0) return 0;
  return LookUpInTable(ctx, W(ctx, item, FRM_BOUND), name, m) ? 1 : 0;
}

void Bind(SqlCompileCtx* ctx, int32_t node, const Match& m) {
  if (m.column != 0) {
    int32_t from = m.column;
    for (int32_t word : {EXN_TYPE, EXN_TYPE_CLASS, EXN_NULLABLE, EXN_TYPE_FLAG, EXN_TABLE_REF,
                         EXN_COLUMN_ID, EXN_DEFAULT}) {
      W(ctx, node, word) = W(ctx, from, word);
    }
    if (W(ctx, node, EXN_COLLATION_LEVEL) == 0) {
      W(ctx, node, EXN_COLLATION_LEVEL) = W(ctx, from, EXN_COLLATION_LEVEL);
      W(ctx, node, EXN_COLLATION) = W(ctx, from, EXN_COLLATION);
    }
    W(ctx, node, EXN_LEVEL) = m.level;
    W(ctx, node, EXN_DERIVATION) = m.level == Cur(ctx).w[SEM_LEVEL] ? 5 : 6;
    int32_t ref = W(ctx, from, EXN_TABLE_REF);
    if (ref > 0) W(ctx, ref, TRF_COLUMNS) = qqlcons(ctx, W(ctx, ref, TRF_COLUMNS), node);
    return;
  }
  SemBindColumn(ctx, node, m.desc, m.ref, m.level);
}

// A name that binds to no column is reported later by the rules of its
// clause: an ORDER BY key is matched against the select list, a FOR UPDATE
// OF column reported as one that cannot be updated.
bool Deferred(SqlCompileCtx* ctx) {
  const SemContext& cur = Cur(ctx);
  return qmflagtst(&cur, kFlagOrderBy) != 0 || qmflagtst(&cur, kFlagForUpdate) != 0;
}

void Unresolved(SqlCompileCtx* ctx, int32_t node, int32_t code, char letter,
                const std::string& value) {
  SemError(ctx, &W(ctx, node, EXN_LINE), code, {{letter, value}});
  W(ctx, node, EXN_ERROR_MARK) = 1;
}

void ResolveQualified(SqlCompileCtx* ctx, int32_t node, const std::string& name,
                      const std::string& qualifier, bool current_only) {
  int32_t level = -1;
  int32_t item = SemFindExposed(ctx, qualifier, current_only, &level);
  if (item == 0) {
    Unresolved(ctx, node, -12203, 'A', qualifier);
    return;
  }
  Match m;
  m.level = level;
  if (W(ctx, item, FRM_FORM) == 1) {
    int32_t n = LookUpInJoin(ctx, item, name, &qualifier, &m);
    if (n > 1) Unresolved(ctx, node, -12204, 'E', name);
    if (n == 1) Bind(ctx, node, m);
    if (n != 0) return;
  } else {
    int32_t ref = W(ctx, item, FRM_BOUND);
    if (ref == 0) return;  // its table failed to bind and was reported
    if (LookUpInTable(ctx, ref, name, &m)) {
      Bind(ctx, node, m);
      return;
    }
  }
  if (Deferred(ctx)) return;
  Unresolved(ctx, node, -12202, 'E', name);
}

// Searches the FROM list of one block; true when the block had a match.
bool SearchBlock(SqlCompileCtx* ctx, int32_t node, const std::string& name, int32_t level) {
  Match first;
  int32_t found = 0;
  for (int32_t c = FromListOf(ctx, level); c != 0; c = W(ctx, c, CELL_NEXT)) {
    Match m;
    m.level = level;
    int32_t n = LookUpInItem(ctx, W(ctx, c, CELL_VALUE), name, &m);
    if (n > 0 && found == 0) first = m;
    found += n;
  }
  if (found == 0) return false;
  if (found > 1) {
    Unresolved(ctx, node, -12204, 'E', name);
  } else {
    Bind(ctx, node, first);
  }
  return true;
}

void ResolveUnqualified(SqlCompileCtx* ctx, int32_t node, const std::string& name,
                        bool current_only) {
  const SemContext& cur = Cur(ctx);
  int32_t level = cur.w[SEM_LEVEL];
  int32_t join = ctx->query.on_scope;
  if (join > 0) {
    // An ON condition sees its own join's operands first.
    Match left, right;
    left.level = right.level = level;
    int32_t n = LookUpInItem(ctx, W(ctx, join, FRM_CORRELATION), name, &left);
    int32_t m = LookUpInItem(ctx, W(ctx, join, FRM_RIGHT), name, &right);
    if (n + m > 1) {
      Unresolved(ctx, node, -12204, 'E', name);
      return;
    }
    if (n + m == 1) {
      Bind(ctx, node, n == 1 ? left : right);
      return;
    }
  }
  int32_t last = current_only ? level : 0;
  for (int32_t k = level; k >= last && k >= 0; --k) {
    if (SearchBlock(ctx, node, name, k)) return;
  }
  if (Deferred(ctx)) return;
  if (ctx->query.flags[kBlockFailedTable] != 0) return;
  Unresolved(ctx, node, -12202, 'E', name);
}

}  // namespace

std::string SemColumnName(SqlCompileCtx* ctx, int32_t node) {
  int32_t part = NamePartOf(ctx, node);
  return part > 0 ? SemText(ctx, W(ctx, part, 2)) : std::string();
}

std::string SemColumnQualifier(SqlCompileCtx* ctx, int32_t node) {
  int32_t part = NamePartOf(ctx, node);
  return part > 0 ? SemText(ctx, W(ctx, part, 3)) : std::string();
}

int32_t SemFindExposed(SqlCompileCtx* ctx, const std::string& name, bool current_only,
                       int32_t* level) {
  int32_t current = Cur(ctx).w[SEM_LEVEL];
  int32_t last = current_only ? current : 0;
  for (int32_t k = current; k >= last && k >= 0; --k) {
    for (int32_t c = FromListOf(ctx, k); c != 0; c = W(ctx, c, CELL_NEXT)) {
      int32_t item = ExposedIn(ctx, W(ctx, c, CELL_VALUE), name);
      if (item != 0) {
        *level = k;
        return item;
      }
    }
  }
  *level = -1;
  return 0;
}

void SemBindColumn(SqlCompileCtx* ctx, int32_t node, const SqlColumnDesc& desc,
                   int32_t table_ref, int32_t level) {
  W(ctx, node, EXN_TABLE_REF) = table_ref;
  W(ctx, node, EXN_COLUMN_ID) = desc.column_id;
  W(ctx, node, EXN_TYPE) = SemTypeRecord(ctx, desc.type_code, desc.length, desc.scale,
                                         desc.variant < 0 ? 0 : desc.variant);
  W(ctx, node, EXN_NULLABLE) = desc.nullable;
  if (W(ctx, node, EXN_COLLATION_LEVEL) == 0) {
    W(ctx, node, EXN_COLLATION_LEVEL) = 2;
    W(ctx, node, EXN_COLLATION) = desc.collation;
  }
  if (desc.default_length > 0) {
    W(ctx, node, EXN_DEFAULT) =
        TreeCountedCopy(ctx, desc.default_text.data(), static_cast<int32_t>(desc.default_text.size()));
  }
  W(ctx, node, EXN_LEVEL) = level;
  W(ctx, node, EXN_DERIVATION) = level == Cur(ctx).w[SEM_LEVEL] ? 5 : 6;
  W(ctx, table_ref, TRF_COLUMNS) = qqlcons(ctx, W(ctx, table_ref, TRF_COLUMNS), node);
}

int32_t SemCopyColumn(SqlCompileCtx* ctx, int32_t from) {
  ExprWord w[] = {{EXN_OPERAND1, W(ctx, from, EXN_OPERAND1)}};
  int32_t node = ExprFixed(ctx, kExprColumnRef, &W(ctx, from, EXN_LINE), w, 1);
  Match m;
  m.column = from;
  m.level = W(ctx, from, EXN_LEVEL);
  Bind(ctx, node, m);
  W(ctx, node, EXN_HIDDEN) = W(ctx, from, EXN_HIDDEN);
  return node;
}

void SemResolveColumn(SqlCompileCtx* ctx, int32_t node) {
  if (W(ctx, node, EXN_TABLE_REF) != 0 || W(ctx, node, EXN_ERROR_MARK) != 0) return;
  const SemContext& cur = Cur(ctx);
  bool current_only =
      qmflagtst(&cur, kFlagSelectList) != 0 || qmflagtst(&cur, kFlagGroupBy) != 0;
  std::string name = SemColumnName(ctx, node);
  std::string qualifier = SemColumnQualifier(ctx, node);
  if (!qualifier.empty() && W(ctx, node, EXN_HIDDEN) == 0) {
    ResolveQualified(ctx, node, name, qualifier, current_only);
  } else {
    ResolveUnqualified(ctx, node, name, current_only);
  }
}
