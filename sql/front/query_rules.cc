// The rules of query blocks: the order in which a SELECT block's
// clauses are analysed, star expansion, the select-list rules on set
// functions and grouping, the GROUP BY rules, the result columns of set
// operations, and ORDER BY and FOR UPDATE OF of a query statement.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sql/front/catalog_access.h"
#include "sql/front/compile_context.h"
#include "sql/front/compile_diag.h"
#include "sql/front/expr_types.h"
#include "sql/front/sem_walk.h"
#include "sql/front/sql_action_words.h"
#include "sql/front/stmt_tree.h"
#include "sql/front/view_merge.h"
#include "sql/front/walk_words.h"

namespace {

using walk_words::Cur;
using walk_words::Push;
using walk_words::W;

const int32_t* StmtPosition(SqlCompileCtx* ctx, int32_t node) {
  return &W(ctx, node, STN_LINE);
}

const int32_t* ExprPosition(SqlCompileCtx* ctx, int32_t node) {
  return node > 0 ? &W(ctx, node, EXN_LINE) : nullptr;
}

// The expression a select item stands for (under its wrapper), 0 for a star.
int32_t ItemValue(SqlCompileCtx* ctx, int32_t item) {
  if (W(ctx, item, SLI_FORM) != 2) return 0;
  int32_t wrapper = W(ctx, item, SLI_VALUE);
  return wrapper > 0 ? W(ctx, wrapper, EXN_OPERAND1) : 0;
}

int32_t TypeCode(SqlCompileCtx* ctx, int32_t node) {
  int32_t type = node > 0 ? W(ctx, node, EXN_TYPE) : 0;
  return type > 0 ? W(ctx, type, 0) : 0;
}

bool LargeObject(SqlCompileCtx* ctx, int32_t node) {
  int32_t code = TypeCode(ctx, node);
  return code >= 31 && code <= 33;
}

std::string Counted(SqlCompileCtx* ctx, int32_t record) {
  if (record <= 0) return std::string();
  int32_t n = W(ctx, record, 0);
  return std::string(qqwsadr(ctx, record) + 4, static_cast<size_t>(n < 0 ? 0 : n));
}

std::string ItemName(SqlCompileCtx* ctx, int32_t item) {
  return Counted(ctx, W(ctx, item, SLI_NAME));
}

bool SameColumn(SqlCompileCtx* ctx, int32_t a, int32_t b) {
  return a > 0 && b > 0 && W(ctx, a, EXN_KIND) == kExprColumnRef &&
         W(ctx, b, EXN_KIND) == kExprColumnRef && W(ctx, a, EXN_TABLE_REF) != 0 &&
         W(ctx, a, EXN_TABLE_REF) == W(ctx, b, EXN_TABLE_REF) &&
         W(ctx, a, EXN_COLUMN_ID) == W(ctx, b, EXN_COLUMN_ID);
}

// A new select item over a column reference.
int32_t ColumnItem(SqlCompileCtx* ctx, int32_t column) {
  return PredicateNode(ctx, 2, ExprPosition(ctx, column), column, 0, 0);
}

// The columns "*" or "t.*" stands for, in FROM order (hidden ones left out).
void StarColumns(SqlCompileCtx* ctx, int32_t item, std::vector<int32_t>* columns) {
  const SemContext& cur = Cur(ctx);
  std::vector<int32_t> sources;
  if (W(ctx, item, SLI_FORM) == 0) {
    for (int32_t c = cur.w[SEM_FROM_LIST]; c != 0; c = W(ctx, c, CELL_NEXT)) {
      sources.push_back(W(ctx, c, CELL_VALUE));
    }
  } else {
    int32_t part = W(ctx, item, SLI_VALUE);
    std::string table = SemText(ctx, W(ctx, part, 3));
    int32_t level = -1;
    int32_t found = SemFindExposed(ctx, table, true, &level);
    if (found == 0) {
      SemError(ctx, &W(ctx, part, 0), -12203, {{'A', table}});
      return;
    }
    sources.push_back(found);
  }
  for (int32_t source : sources) {
    int32_t list = 0;
    SemCollectColumns(ctx, source, &list);
    for (int32_t c = list; c != 0; c = W(ctx, c, CELL_NEXT)) {
      int32_t column = W(ctx, c, CELL_VALUE);
      if (W(ctx, column, EXN_HIDDEN) == 0) columns->push_back(column);
    }
  }
}

// Replaces a star item by the items of its columns (or, inside EXISTS, by
// one constant item) and pushes the new items' walks.
void ExpandStar(SqlCompileCtx* ctx, int32_t cell, int32_t item) {
  SemContext& cur = Cur(ctx);
  std::vector<int32_t> items;
  int32_t query = cur.w[SEM_OWNER];
  if (W(ctx, item, SLI_FORM) == 0 && W(ctx, query, QSP_OPENED_BY) == kContextExists) {
    int32_t one = ExprLiteral(ctx, StmtPosition(ctx, query), 1,
                              TreeCountedCopy(ctx, "1", 1), 0);
    items.push_back(PredicateNode(ctx, 2, &W(ctx, one, EXN_LINE), one, 0, 0));
  } else {
    std::vector<int32_t> columns;
    StarColumns(ctx, item, &columns);
    for (int32_t column : columns) items.push_back(ColumnItem(ctx, column));
  }
  if (items.empty()) return;  // nothing bound: the star stays and is passed over
  W(ctx, cell, CELL_VALUE) = items[0];
  W(ctx, items[0], SLI_OUTER_ITEM) = W(ctx, item, SLI_OUTER_ITEM);
  int32_t at = cell;
  for (size_t i = 1; i < items.size(); ++i) {
    int32_t next = qqlcons(ctx, W(ctx, at, CELL_NEXT), items[i]);
    W(ctx, at, CELL_NEXT) = next;
    at = next;
  }
  cur.w[SEM_ITEMS] += static_cast<int32_t>(items.size()) - 1;
  for (size_t i = items.size(); i-- > 0;) {
    Push(ctx, kWalkExpression, 1, W(ctx, items[i], SLI_VALUE));
  }
}

// The table references a set function's argument reads.
std::vector<int32_t> ArgumentTables(SqlCompileCtx* ctx, int32_t argument) {
  std::vector<int32_t> refs;
  auto add = [&](int32_t column) {
    int32_t ref = column > 0 && W(ctx, column, EXN_KIND) == kExprColumnRef
                      ? W(ctx, column, EXN_TABLE_REF)
                      : 0;
    if (ref > 0 && std::find(refs.begin(), refs.end(), ref) == refs.end()) refs.push_back(ref);
  };
  if (W(ctx, argument, EXN_KIND) == kExprColumnRef) {
    add(argument);
  } else {
    for (int32_t c = W(ctx, argument, EXN_COLUMNS); c != 0; c = W(ctx, c, CELL_NEXT)) {
      add(W(ctx, c, CELL_VALUE));
    }
  }
  return refs;
}

// MIN/MAX marks of the table references a select item's set function
// uses, and the conversion of a COUNT, AVG or SUM argument of a collation
// of its own.
void SetFunctionItem(SqlCompileCtx* ctx, int32_t value) {
  if (value <= 0) return;
  int32_t kind = W(ctx, value, EXN_KIND);
  if (kind >= 1 && kind <= 4) {  // an arithmetic operation over a literal
    int32_t second = W(ctx, value, EXN_OPERAND2);
    if (second > 0 && W(ctx, second, EXN_KIND) == kExprLiteral) {
      value = W(ctx, value, EXN_OPERAND1);
      kind = value > 0 ? W(ctx, value, EXN_KIND) : 0;
    }
  }
  if (kind < 16 || kind > 20) return;
  int32_t argument = W(ctx, value, EXN_OPERAND2);
  if (argument <= 0) {  // COUNT(*): every reference of the statement
    for (int32_t c = ctx->query.table_refs; c != 0; c = W(ctx, c, CELL_NEXT)) {
      W(ctx, W(ctx, c, CELL_VALUE), TRF_MINMAX) = 0;
    }
    return;
  }
  std::vector<int32_t> refs = ArgumentTables(ctx, argument);
  if (kind <= 18) {
    for (int32_t ref : refs) W(ctx, ref, TRF_MINMAX) = 0;
    int32_t collation = W(ctx, argument, EXN_COLLATION);
    if (collation != 0 && collation != 136 && collation != 138 && collation != 140) {
      int32_t conversion = ExprOfKind(ctx, kExprConversion, ExprPosition(ctx, argument), argument, 0);
      for (int32_t word : {EXN_TYPE, EXN_TYPE_CLASS, EXN_NULLABLE, EXN_NON_NEGATIVE,
                           EXN_DERIVATION, EXN_COLUMNS, EXN_COLLATION_LEVEL, EXN_COLLATION}) {
        W(ctx, conversion, word) = W(ctx, argument, word);
      }
      W(ctx, conversion, EXN_ANALYSED) = 1;
      W(ctx, value, EXN_OPERAND2) = conversion;
    }
    return;
  }
  if (refs.size() > 1) {
    for (int32_t ref : refs) W(ctx, ref, TRF_MINMAX) = 0;
    return;
  }
  if (refs.size() != 1 || W(ctx, argument, EXN_KIND) != kExprColumnRef) return;
  int32_t ref = refs[0];
  if (Cur(ctx).w[SEM_GROUPED] != 0) {
    W(ctx, ref, TRF_MINMAX) = 0;
  } else if (W(ctx, ref, TRF_MINMAX) != 0) {
    W(ctx, ref, TRF_MINMAX_LIST) = qqlcons(ctx, W(ctx, ref, TRF_MINMAX_LIST), value);
  }
}

void SelectListRules(SqlCompileCtx* ctx, int32_t query) {
  SemContext& cur = Cur(ctx);
  QueryBlockState& q = ctx->query;
  bool subquery = qmflagtst(&cur, kFlagSubquery) != 0;
  bool set_operation = qmflagtst(&cur, kFlagSetOperation) != 0;
  bool distinct = cur.w[SEM_DISTINCT] > 0;
  std::vector<int32_t> items;
  for (int32_t c = W(ctx, query, QSP_SELECT); c != 0; c = W(ctx, c, CELL_NEXT)) {
    items.push_back(W(ctx, c, CELL_VALUE));
  }
  W(ctx, query, QSP_ITEMS) = static_cast<int32_t>(items.size());
  if (subquery && W(ctx, query, QSP_OPENED_BY) != kContextExists && items.size() >= 2) {
    SemError(ctx, StmtPosition(ctx, query), -12208);
  }
  bool name_items = cur.w[SEM_LEVEL] == 0 && !subquery && !set_operation && q.top_queries == 1;
  bool set_functions = false, columns = false;
  for (size_t i = 0; i < items.size(); ++i) {
    int32_t item = items[i];
    int32_t value = ItemValue(ctx, item);
    if (value <= 0) continue;
    int32_t wrapper = W(ctx, item, SLI_VALUE);
    int32_t code = TypeCode(ctx, wrapper);
    if (code == 34 || code == 35) q.national = 1;
    int32_t kind = W(ctx, value, EXN_KIND);
    if (name_items && W(ctx, item, SLI_NAME) == 0 && kind == kExprColumnRef) {
      std::string name = SemColumnName(ctx, value);
      W(ctx, item, SLI_NAME) = TreeCountedCopy(ctx, name.data(), static_cast<int32_t>(name.size()));
    }
    if (kind == kExprNull && !set_operation) SemError(ctx, ExprPosition(ctx, value), -12239);
    int32_t d = W(ctx, wrapper, EXN_DERIVATION);
    if (d == 1 || d == 2 || W(ctx, item, SLI_SET_FUNCTION) != 0) set_functions = true;
    if (d == 2 || d == 5 || d == 8) columns = true;
    SetFunctionItem(ctx, value);
    if (distinct && kind == kExprColumnRef && LargeObject(ctx, value)) {
      SemError(ctx, ExprPosition(ctx, value), -12643);
    }
    if (!subquery) {
      if (kind != kExprColumnRef) q.flags[kBlockComputedItem] = 1;
      for (size_t j = 0; j < i; ++j) {
        if (SameColumn(ctx, value, ItemValue(ctx, items[j]))) q.flags[kBlockRepeatedColumn] = 1;
      }
    }
  }
  if (set_functions) {
    W(ctx, query, QSP_SET_FUNCTIONS) = 1;
    if (!subquery) q.flags[kBlockAggregate] = 1;
  }
  if (columns) W(ctx, query, QSP_COLUMNS) = 1;
  if (set_functions && columns && W(ctx, query, QSP_GROUP_BY) == 0 &&
      W(ctx, query, QSP_HAVING) == 0) {
    SemError(ctx, StmtPosition(ctx, query), -12221);
  }
}

// A result column whose operands' types could not be combined: reported
// once, and not again as a column that is NULL in every operand.
constexpr int32_t kUntypedFailed = 2;

int32_t CodeOf(SqlCompileCtx* ctx, int32_t type) {
  return type > 0 ? W(ctx, type, 0) : 0;
}

bool Character(int32_t code) {
  return code == 4 || code == 8;
}

bool National(int32_t code) {
  return code == 34 || code == 35;
}

// The same type with its character code turned national (CHAR 34, VARCHAR
// 35).
int32_t NationalOf(SqlCompileCtx* ctx, int32_t type) {
  int32_t code = CodeOf(ctx, type);
  if (!Character(code)) return type;
  return SemTypeRecord(ctx, code == 4 ? 34 : 35, W(ctx, type, 1), W(ctx, type, 2), W(ctx, type, 3));
}

// Unifies a result column's type with a later operand's item type: a CHAR
// item under an NCHAR column is converted later, an NCHAR item makes the
// column NCHAR; lengths, precisions and scales merge as common types do.
void UnifyType(SqlCompileCtx* ctx, int32_t query, int32_t column, int32_t item_type) {
  int32_t result_type = W(ctx, column, RSC_TYPE);
  if (result_type <= 0 || item_type <= 0) return;
  int32_t rc = CodeOf(ctx, result_type);
  int32_t ic = CodeOf(ctx, item_type);
  if (Character(ic) && National(rc)) item_type = NationalOf(ctx, item_type);
  if (National(ic) && Character(rc)) result_type = NationalOf(ctx, result_type);
  int32_t a = qmtypcls(CodeOf(ctx, result_type));
  int32_t b = qmtypcls(CodeOf(ctx, item_type));
  if (a != 0 && b != 0 && a != b) {
    SemError(ctx, StmtPosition(ctx, query), -12242);
    W(ctx, column, RSC_UNTYPED) = kUntypedFailed;
    return;
  }
  if (a == 0 || b == 0) return;
  int32_t common = 0, common_class = 0;
  qmcommontype(ctx, result_type, item_type, &common, &common_class, 1);
  if (common > 0) W(ctx, column, RSC_TYPE) = common;
}

// The conversion pass of a set operation's SELECT block: a CHAR
// item under an NCHAR result column is converted to NCHAR.
void ConvertItems(SqlCompileCtx* ctx, int32_t query) {
  int32_t c = ctx->query.result_columns;
  for (int32_t k = W(ctx, query, QSP_SELECT); k != 0 && c != 0;
       k = W(ctx, k, CELL_NEXT), c = W(ctx, c, CELL_NEXT)) {
    int32_t wrapper = W(ctx, W(ctx, k, CELL_VALUE), SLI_VALUE);
    int32_t value = ItemValue(ctx, W(ctx, k, CELL_VALUE));
    if (wrapper <= 0 || value <= 0) continue;
    if (!National(CodeOf(ctx, W(ctx, W(ctx, c, CELL_VALUE), RSC_TYPE)))) continue;
    if (!Character(TypeCode(ctx, value))) continue;
    int32_t cast = qmnchcast(ctx, value);
    if (cast == value) continue;
    W(ctx, wrapper, EXN_OPERAND1) = cast;
    W(ctx, wrapper, EXN_TYPE) = W(ctx, cast, EXN_TYPE);
    W(ctx, wrapper, EXN_TYPE_CLASS) = W(ctx, cast, EXN_TYPE_CLASS);
  }
}

// The result columns of a set operation: made from its first operand's
// items, then unified with every later operand's.
void ResultColumns(SqlCompileCtx* ctx, int32_t query) {
  QueryBlockState& q = ctx->query;
  std::vector<int32_t> items;
  for (int32_t c = W(ctx, query, QSP_SELECT); c != 0; c = W(ctx, c, CELL_NEXT)) {
    items.push_back(W(ctx, c, CELL_VALUE));
  }
  if (q.result_columns == 0) {
    int32_t list = 0;
    for (int32_t item : items) {
      int32_t wrapper = W(ctx, item, SLI_VALUE);
      int32_t value = ItemValue(ctx, item);
      int32_t values[] = {wrapper > 0 ? W(ctx, wrapper, EXN_TYPE) : 0,
                          wrapper > 0 ? W(ctx, wrapper, EXN_NULLABLE) : 1,
                          wrapper > 0 ? W(ctx, wrapper, EXN_COLLATION_LEVEL) : 0,
                          wrapper > 0 ? W(ctx, wrapper, EXN_COLLATION) : 0,
                          value > 0 && W(ctx, value, EXN_KIND) == kExprNull ? 1 : 0,
                          item};
      list = qqlcons(ctx, list, TreeRecord(ctx, 6, values));
    }
    q.result_columns = qqlrev(ctx, list);
    return;
  }
  if (qqllen(ctx, q.result_columns) != static_cast<int32_t>(items.size())) {
    SemError(ctx, StmtPosition(ctx, query), -12244);
    return;
  }
  size_t i = 0;
  for (int32_t c = q.result_columns; c != 0; c = W(ctx, c, CELL_NEXT), ++i) {
    int32_t column = W(ctx, c, CELL_VALUE);
    int32_t wrapper = W(ctx, items[i], SLI_VALUE);
    int32_t value = ItemValue(ctx, items[i]);
    if (wrapper <= 0) continue;
    bool untyped_item = value > 0 && W(ctx, value, EXN_KIND) == kExprNull;
    if (W(ctx, column, RSC_UNTYPED) == kUntypedFailed) continue;
    if (W(ctx, column, RSC_UNTYPED) != 0 && !untyped_item) {
      W(ctx, column, RSC_TYPE) = W(ctx, wrapper, EXN_TYPE);
      W(ctx, column, RSC_UNTYPED) = 0;
    } else if (!untyped_item) {
      UnifyType(ctx, query, column, W(ctx, wrapper, EXN_TYPE));
    }
    if (W(ctx, wrapper, EXN_NULLABLE) != 0) W(ctx, column, RSC_NULLABLE) = 1;
    int32_t kind = W(ctx, wrapper, EXN_COLLATION_LEVEL);
    int32_t id = W(ctx, wrapper, EXN_COLLATION);
    if (kind > W(ctx, column, RSC_COLLATION_KIND)) {
      W(ctx, column, RSC_COLLATION_KIND) = kind;
      W(ctx, column, RSC_COLLATION) = id;
    } else if (kind == W(ctx, column, RSC_COLLATION_KIND) && id != W(ctx, column, RSC_COLLATION)) {
      W(ctx, column, RSC_COLLATION_KIND) = 0;
      W(ctx, column, RSC_COLLATION) = 0;
    }
  }
}

// The select items an ORDER BY of the statement's query is matched against:
// a SELECT block's own, a set operation's first operand's.
int32_t OrderItems(SqlCompileCtx* ctx, int32_t query) {
  while (query > 0 && W(ctx, query, STN_KIND) == 27) query = W(ctx, query, SOP_FIRST);
  return query > 0 && W(ctx, query, STN_KIND) == 28 ? W(ctx, query, QSP_SELECT) : 0;
}

// An integer literal key: its value, or -1.
int32_t KeyPosition(SqlCompileCtx* ctx, int32_t key) {
  if (W(ctx, key, EXN_KIND) != kExprLiteral || W(ctx, key, EXN_LITERAL_TYPE) != 1) return -1;
  std::string text = Counted(ctx, W(ctx, key, EXN_OPERAND1));
  if (text.empty() || text.size() > 9) return 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
  }
  return std::atoi(text.c_str());
}

void OrderByRules(SqlCompileCtx* ctx, int32_t statement) {
  std::vector<int32_t> items;
  for (int32_t c = OrderItems(ctx, W(ctx, statement, QST_QUERY)); c != 0;
       c = W(ctx, c, CELL_NEXT)) {
    items.push_back(W(ctx, c, CELL_VALUE));
  }
  std::vector<int32_t> taken;
  for (int32_t c = W(ctx, statement, QST_ORDER_BY); c != 0; c = W(ctx, c, CELL_NEXT)) {
    int32_t sort = W(ctx, c, CELL_VALUE);
    int32_t key = W(ctx, sort, SRT_KEY);
    if (key <= 0) continue;
    const int32_t* at = ExprPosition(ctx, key);
    int32_t number = KeyPosition(ctx, key);
    bool column = W(ctx, key, EXN_KIND) == kExprColumnRef;
    std::string name = column ? SemColumnName(ctx, key) : std::string();
    bool bound = column && W(ctx, key, EXN_TABLE_REF) != 0;
    bool qualified = column && !SemColumnQualifier(ctx, key).empty();
    int32_t matches = 0, position = -1;
    for (size_t i = 0; i < items.size(); ++i) {
      int32_t value = ItemValue(ctx, items[i]);
      bool match = false;
      if (number >= 0) {
        match = number == static_cast<int32_t>(i) + 1;
      } else if (column) {
        match = (!qualified && !name.empty() && ItemName(ctx, items[i]) == name) ||
                (bound && SameColumn(ctx, key, value)) ||
                (!bound && !qualified && value > 0 && W(ctx, value, EXN_KIND) == kExprColumnRef &&
                 ItemName(ctx, items[i]).empty() && SemColumnName(ctx, value) == name);
      }
      if (match && matches++ == 0) position = static_cast<int32_t>(i) + 1;
    }
    if (matches == 0) {
      if (column && W(ctx, key, EXN_ERROR_MARK) != 0) continue;
      SemError(ctx, at, number >= 0 ? -12224 : -12223);
      continue;
    }
    if (matches > 1) {
      SemError(ctx, at, -12236, {{'E', name}});
      continue;
    }
    bool repeated = false;
    for (int32_t p : taken) repeated = repeated || p == position;
    if (repeated) {
      SemError(ctx, at, -12225);
      continue;
    }
    taken.push_back(position);
    W(ctx, sort, SRT_POSITION) = position;
    int32_t wrapper = W(ctx, items[static_cast<size_t>(position - 1)], SLI_VALUE);
    if (wrapper > 0) {
      W(ctx, sort, SRT_COLLATION_KIND) = W(ctx, wrapper, EXN_COLLATION_LEVEL);
      W(ctx, sort, SRT_COLLATION) = W(ctx, wrapper, EXN_COLLATION);
      if (LargeObject(ctx, wrapper)) SemError(ctx, at, -12643);
    }
  }
  // COLLATE names.
  for (int32_t c = W(ctx, statement, QST_ORDER_BY); c != 0; c = W(ctx, c, CELL_NEXT)) {
    int32_t sort = W(ctx, c, CELL_VALUE);
    int32_t named = W(ctx, sort, SRT_COLLATE);
    if (named > 0) {
      int32_t part = W(ctx, named, 2);
      SqlQualifiedName qn;
      std::string name = SemText(ctx, W(ctx, part, 2));
      std::string schema = SemText(ctx, W(ctx, part, 3));
      std::snprintf(qn.schema, sizeof qn.schema, "%s", schema.c_str());
      std::snprintf(qn.name, sizeof qn.name, "%s", name.c_str());
      int32_t id = 0;
      int32_t status = qdgetcollation(ctx, &qn, &id);
      if (status < 0) qcfatal(ctx, status);
      if (status > 0) {
        SemError(ctx, &W(ctx, part, 0), -12632,
                 {{'O', schema.empty() ? name : schema + "." + name}});
        continue;
      }
      W(ctx, sort, SRT_COLLATION_KIND) = 3;
      W(ctx, sort, SRT_COLLATION) = id;
    }
    if (W(ctx, sort, SRT_COLLATION) == 138) W(ctx, sort, SRT_COLLATION) = 136;
  }
}

void ForUpdateRules(SqlCompileCtx* ctx, int32_t statement) {
  std::vector<int32_t> seen;
  bool simple = SemQueryIsSimple(ctx);
  for (int32_t c = W(ctx, statement, QST_FOR_UPDATE); c != 0; c = W(ctx, c, CELL_NEXT)) {
    int32_t column = W(ctx, c, CELL_VALUE);
    if (column <= 0 || W(ctx, column, EXN_KIND) != kExprColumnRef) continue;
    if (W(ctx, column, EXN_TABLE_REF) == 0) {
      if (simple && W(ctx, column, EXN_ERROR_MARK) == 0) {
        SemError(ctx, ExprPosition(ctx, column), -12246, {{'E', SemColumnName(ctx, column)}});
      }
      continue;
    }
    bool twice = false;
    for (int32_t s : seen) twice = twice || SameColumn(ctx, s, column);
    if (twice) {
      SemError(ctx, ExprPosition(ctx, column), -12227);
      continue;
    }
    seen.push_back(column);
  }
}

}  // namespace

void SemSelectBlock(SqlCompileCtx* ctx, int32_t node, int32_t resume) {
  SemContext& cur = Cur(ctx);
  QueryBlockState& q = ctx->query;
  if (resume == 3) {  // the set operation's conversion pass
    ConvertItems(ctx, node);
    return;
  }
  if (resume == 1) {
    int32_t opened_by = cur.w[SEM_EXPR_CONTEXT];
    qmqset(ctx, node, &cur);
    if (qmflagtst(&cur, kFlagSubquery) != 0) {
      q.flags[kBlockNested] = 1;
      cur.w[SEM_EXPR_CONTEXT] = opened_by;
      W(ctx, node, QSP_OPENED_BY) = opened_by;
    } else {
      W(ctx, node, QSP_OPENED_BY) = kContextStatement;
      if (q.outermost_query == 0) q.outermost_query = node;
      ++q.top_queries;
    }
    W(ctx, node, QSP_LEVEL) = cur.w[SEM_LEVEL];
    if (W(ctx, node, QSP_QUANTIFIER) == 1) cur.w[SEM_DISTINCT] = 1;
    SemBindFromList(ctx, node);
    Push(ctx, kWalkStatement, 2, node);
    Push(ctx, kWalkSelectList, 1, node);
    Push(ctx, kWalkHaving, 1, W(ctx, node, QSP_HAVING));
    Push(ctx, kWalkCondition, 1, W(ctx, node, QSP_WHERE));
    Push(ctx, kWalkGroupBy, 1, W(ctx, node, QSP_GROUP_BY));
    Push(ctx, kWalkCondition, 1, cur.w[SEM_CONDITION]);
    return;
  }
  SemFlattenFromList(ctx, node);
  qmviewfrom(ctx, node);
  // The marks a view over this block is merged or materialized by.
  W(ctx, node, QSP_MARK_FIRST) = W(ctx, node, QSP_GROUP_BY) != 0 || W(ctx, node, QSP_HAVING) != 0 ||
                                         W(ctx, node, QSP_SET_FUNCTIONS) != 0
                                     ? 1
                                     : 0;
  bool subquery = qmflagtst(&cur, kFlagSubquery) != 0;
  if (cur.w[SEM_DISTINCT] > 1) {
    SemError(ctx, StmtPosition(ctx, node), -12207);
  } else if (cur.w[SEM_DISTINCT] == 1) {
    W(ctx, node, QSP_DISTINCT) = 1;
    if (!subquery) q.flags[kBlockDistinct] = 1;
  }
  W(ctx, node, QSP_MARK_THIRD) = W(ctx, node, QSP_QUANTIFIER) == 1 ? 1 : 0;
  if (subquery) qmqrph(ctx, W(ctx, node, QSP_SELECT));
  bool set_operation = qmflagtst(&cur, kFlagSetOperation) != 0;
  if (set_operation && cur.w[SEM_LEVEL] == 0) ResultColumns(ctx, node);
  if (subquery || set_operation || qmflagtst(&cur, kFlagCollect) != 0) qmqres(ctx, &cur);
}

void SemSetOperation(SqlCompileCtx* ctx, int32_t node, int32_t resume) {
  SemContext& cur = Cur(ctx);
  int32_t first = W(ctx, node, SOP_FIRST);
  int32_t second = W(ctx, node, SOP_SECOND);
  switch (resume) {
    case 1: {
      bool inner = qmflagtst(&cur, kFlagSetOperation) != 0;
      W(ctx, node, 5) = inner ? 0 : 1;  // the outermost set operation of its block
      Push(ctx, kWalkStatement, inner ? 2 : 3, node);
      ctx->query.flags[kBlockSetOperation] = 1;
      qmflagset(&cur, kFlagSetOperation);
      Push(ctx, kWalkStatement, 1, second);
      Push(ctx, kWalkStatement, 1, first);
      return;
    }
    case 3:
      Push(ctx, kWalkStatement, 2, node);
      Push(ctx, kWalkStatement, 3, second);
      Push(ctx, kWalkStatement, 3, first);
      return;
    default:
      // A set operation nested in a query block leaves the block's flag as
      // it found it.
      if (W(ctx, node, 5) == 1 && cur.w[SEM_LEVEL] >= 0) qmflagclr(&cur, kFlagSetOperation);
      return;
  }
}

void SemSelectItem(SqlCompileCtx* ctx, int32_t cell, int32_t resume) {
  if (cell <= 0) return;
  int32_t item = W(ctx, cell, CELL_VALUE);
  if (item <= 0) return;
  if (resume == 2) {
    ctx->query.select_item = W(ctx, item, SLI_OUTER_ITEM);
    return;
  }
  W(ctx, item, SLI_OUTER_ITEM) = ctx->query.select_item;
  ctx->query.select_item = item;
  Push(ctx, kWalkSelectItem, 2, cell);
  if (W(ctx, item, SLI_FORM) == 2) {
    Push(ctx, kWalkExpression, 1, W(ctx, item, SLI_VALUE));
    return;
  }
  ExpandStar(ctx, cell, item);
}

void SemSelectList(SqlCompileCtx* ctx, int32_t query, int32_t resume) {
  SemContext& cur = Cur(ctx);
  if (resume == 2) {
    SelectListRules(ctx, query);
    qmflagclr(&cur, kFlagSelectList);
    return;
  }
  qmflagset(&cur, kFlagSelectList);
  int32_t list = W(ctx, query, QSP_SELECT);
  cur.w[SEM_ITEMS] = qqllen(ctx, list);
  Push(ctx, kWalkSelectList, 2, query);
  std::vector<int32_t> cells;
  for (int32_t c = list; c != 0; c = W(ctx, c, CELL_NEXT)) cells.push_back(c);
  for (size_t i = cells.size(); i-- > 0;) Push(ctx, kWalkSelectItem, 1, cells[i]);
}

void SemGroupByRules(SqlCompileCtx* ctx, int32_t list) {
  std::vector<int32_t> seen;
  for (int32_t c = list; c != 0; c = W(ctx, c, CELL_NEXT)) {
    int32_t e = W(ctx, c, CELL_VALUE);
    if (e <= 0) continue;
    if (W(ctx, e, EXN_KIND) != kExprColumnRef) {
      SemError(ctx, ExprPosition(ctx, e), -12220);
      continue;
    }
    bool twice = false;
    for (int32_t s : seen) twice = twice || SameColumn(ctx, s, e);
    if (twice) {
      SemError(ctx, ExprPosition(ctx, e), -12271);
      continue;
    }
    seen.push_back(e);
    if (LargeObject(ctx, e)) SemError(ctx, ExprPosition(ctx, e), -12643);
  }
  int32_t first = list > 0 ? W(ctx, list, CELL_VALUE) : 0;
  if (first > 0) ctx->query.grouping = qqlcat(ctx, ctx->query.grouping, qqlcons(ctx, 0, first));
}

void SemQueryStatementRules(SqlCompileCtx* ctx, int32_t node) {
  SemContext& cur = Cur(ctx);
  QueryBlockState& q = ctx->query;
  if (qmflagtst(&cur, kFlagSetOperation) != 0) {
    for (int32_t c = q.result_columns; c != 0; c = W(ctx, c, CELL_NEXT)) {
      if (W(ctx, W(ctx, c, CELL_VALUE), RSC_UNTYPED) == 1) {
        SemError(ctx, StmtPosition(ctx, node), -12243);
        break;
      }
    }
    W(ctx, node, QST_SELECT) = q.result_columns;
  } else {
    int32_t query = W(ctx, node, QST_QUERY);
    W(ctx, node, QST_SELECT) = query > 0 ? W(ctx, query, QSP_SELECT) : 0;
  }
  ForUpdateRules(ctx, node);
  OrderByRules(ctx, node);
}
