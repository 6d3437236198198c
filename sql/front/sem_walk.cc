// The semantic walk: one loop over the traversal stack that visits the
// statement tree, keeps the context of the query block it is in, hands the
// FROM lists, column names and query blocks to their binders and rules,
// hands every expression to the type checker after its operands, and
// re-sets the statement kind for the later phases.
#include "sql/front/sem_walk.h"

#include <cstring>

#include "sql/front/compile_context.h"
#include "sql/front/compile_diag.h"
#include "sql/front/compile_services.h"
#include "sql/front/data_change.h"
#include "sql/front/expr_types.h"
#include "sql/front/sql_action_words.h"
#include "sql/front/stmt_tree.h"
#include "sql/front/tree_copy.h"
#include "sql/front/view_definition.h"
#include "sql/front/walk_words.h"

using walk_words::Cur;
using walk_words::Push;
using walk_words::W;

namespace {

constexpr const char* kWalkRoutine = "QME: qmsema";

// The derivation class of a WHEN arm with a condition: [result][condition].
constexpr int8_t kWhenDerivation[9][9] = {
    {0, 0, 0, 0, 0, 0, 0, 0, 0}, {0, 1, 2, 1, 1, 2, 1, 1, 2}, {0, 2, 2, 2, 2, 2, 2, 2, 2},
    {0, 1, 2, 3, 8, 8, 7, 7, 8}, {0, 1, 2, 4, 4, 8, 7, 7, 8}, {0, 2, 2, 8, 8, 8, 7, 7, 8},
    {0, 1, 2, 7, 7, 7, 7, 7, 7}, {0, 1, 2, 7, 7, 7, 7, 7, 7}, {0, 2, 2, 8, 8, 8, 7, 7, 8},
};

// Pushes routine 1 for a node (nothing for none).
void PushExpr(SqlCompileCtx* ctx, int32_t node) {
  if (node > 0) Push(ctx, kWalkExpression, 1, node);
}

// ---- Expression nodes (routine 1) ---------------------------------------------

// Pushes the operands of a kind in the order they are to be visited (the
// first pops first): the operand words of the tree's own table, lists
// element by element.
void PushOperands(SqlCompileCtx* ctx, int32_t node, int32_t kind) {
  TreeChild child[kMaxExprChildren];
  int32_t n = TreeExprChildren(kind, child);
  for (int32_t i = n - 1; i >= 0; --i) {
    int32_t value = W(ctx, node, child[i].word);
    if (value <= 0) continue;
    if (child[i].kind == kRefExpression) {
      Push(ctx, kWalkExpression, 1, value);
    } else if (child[i].kind == kRefExpressionList) {
      int32_t count = 0;
      qbworklist(ctx, kWalkExpression, 1, value, &count);
    }
  }
}

// Kind 34 takes its operand's type; kind 37 its result's, with the
// derivation class of the table above.
void TypeWrapper(SqlCompileCtx* ctx, int32_t node) {
  int32_t operand = W(ctx, node, EXN_OPERAND1);
  if (operand <= 0) return;
  int32_t own = W(ctx, node, EXN_TYPE);
  if (own <= 0 || W(ctx, own, 0) == 0) W(ctx, node, EXN_TYPE) = W(ctx, operand, EXN_TYPE);
  W(ctx, node, EXN_TYPE_CLASS) = W(ctx, operand, EXN_TYPE_CLASS);
  W(ctx, node, EXN_NULLABLE) = W(ctx, operand, EXN_NULLABLE);
  W(ctx, node, EXN_TYPE_FLAG) = W(ctx, operand, EXN_TYPE_FLAG);
  W(ctx, node, EXN_DERIVATION) = W(ctx, operand, EXN_DERIVATION);
  W(ctx, node, EXN_COLLATION_LEVEL) = W(ctx, operand, EXN_COLLATION_LEVEL);
  W(ctx, node, EXN_COLLATION) = W(ctx, operand, EXN_COLLATION);
  W(ctx, node, EXN_COLUMNS) = W(ctx, operand, EXN_COLUMNS);
}

void TypeWhen(SqlCompileCtx* ctx, int32_t node) {
  int32_t condition = W(ctx, node, EXN_OPERAND1);
  int32_t result = W(ctx, node, EXN_OPERAND2);
  if (result <= 0) return;
  W(ctx, node, EXN_TYPE) = W(ctx, result, EXN_TYPE);
  W(ctx, node, EXN_TYPE_CLASS) = W(ctx, result, EXN_TYPE_CLASS);
  W(ctx, node, EXN_NULLABLE) = W(ctx, result, EXN_NULLABLE);
  int32_t r = W(ctx, result, EXN_DERIVATION);
  if (condition <= 0) {
    W(ctx, node, EXN_DERIVATION) = r;
    return;
  }
  int32_t c = W(ctx, condition, EXN_DERIVATION);
  bool in_range = r >= 0 && r <= 8 && c >= 0 && c <= 8;
  W(ctx, node, EXN_DERIVATION) = in_range ? kWhenDerivation[r][c] : 0;
}

// A set function has been typed (its DISTINCT count and its argument's
// checks are the type checker's): the enclosing select item holds one.
void SetFunctionDone(SqlCompileCtx* ctx) {
  SemContext& cur = Cur(ctx);
  qmflagclr(&cur, kFlagSetFunction);
  if (qmflagtst(&cur, kFlagSelectList) != 0 && ctx->query.select_item != 0) {
    W(ctx, ctx->query.select_item, SLI_SET_FUNCTION) = 1;
  }
}

void Expression(SqlCompileCtx* ctx, int32_t node, int32_t resume) {
  if (node <= 0) return;
  SemContext& cur = Cur(ctx);
  int32_t kind = W(ctx, node, EXN_KIND);
  if (resume == 1) {
    if (W(ctx, node, EXN_ANALYSED) != 0) return;
    W(ctx, node, EXN_ANALYSED) = 1;
    if (W(ctx, node, EXN_ON_LINK) > 0) ctx->query.on_scope = W(ctx, node, EXN_ON_LINK);
  }
  if (kind < 0 || kind > 98) qcinterr(ctx, kWalkRoutine, -19207);
  if (resume == 2) {
    if (W(ctx, node, EXN_ON_LINK) > 0) {
      ctx->query.on_scope = 0;
      W(ctx, node, EXN_ON_LINK) = 0;
    }
    switch (kind) {
      case kExprWrapper:
        TypeWrapper(ctx, node);
        return;
      case kExprWhen:
        TypeWhen(ctx, node);
        return;
      case kExprSubquery: {
        int32_t query = 0;
        while (ctx->sem.query_depth > W(ctx, node, EXN_QUERY_DEPTH)) qmqrpp(ctx, &query);
        SemTypeExpression(ctx, node);
        return;
      }
      case 16:
      case 17:
      case 18:
      case 19:
      case 20:
        SemTypeExpression(ctx, node);
        SetFunctionDone(ctx);
        return;
      case kExprOverlaps: {
        SemTypeExpression(ctx, node);
        int32_t now = W(ctx, node, EXN_KIND);
        if (now != kExprOverlaps && now != 0) {  // rewritten: walked again
          W(ctx, node, EXN_ANALYSED) = 0;
          Push(ctx, kWalkExpression, 1, node);
        }
        return;
      }
      default:
        SemTypeExpression(ctx, node);
        return;
    }
  }
  switch (kind) {
    case 28:
    case 33:
    case 45:
    case 46:
    case 47:
    case 54:
    case 55:
    case 56:
    case 57:
    case 58:
    case 59:
    case 60:
    case 78:
    case 79:
      qcinterr(ctx, kWalkRoutine, -19207);
    case kExprColumnRef:
      SemResolveColumn(ctx, node);
      SemTypeExpression(ctx, node);
      return;
    case kExprLiteral:
    case kExprHostParameter:
    case kExprUserValue:
    case kExprNull:
    case kExprCurrentDate:
    case kExprCurrentTime:
    case kExprCurrentTimestamp:
    case kExprSequence:
    case kExprDefault:
      if (kind >= kExprCurrentDate && kind <= kExprCurrentTimestamp) ctx->query.leaf_flag = 1;
      SemTypeExpression(ctx, node);
      return;
    default:
      break;
  }
  Push(ctx, kWalkExpression, 2, node);
  switch (kind) {
    case 10:
    case 11:
    case 12:
    case 13:
    case 14:
    case 15:
      cur.w[SEM_EXPR_CONTEXT] = kContextComparison;
      break;
    case 16:
    case 17:
    case 18:
    case 19:
    case 20:
      qmflagset(&cur, kFlagSetFunction);
      break;
    case kExprLike:
      cur.w[SEM_EXPR_CONTEXT] = kContextLike;
      // Pattern, escape, then the operand.
      PushExpr(ctx, W(ctx, node, EXN_OPERAND1));
      PushExpr(ctx, W(ctx, node, 26));
      PushExpr(ctx, W(ctx, node, 25));
      return;
    case kExprExists:
      cur.w[SEM_EXPR_CONTEXT] = kContextExists;
      break;
    case kExprAll:
    case kExprAny:
      cur.w[SEM_EXPR_CONTEXT] = kContextQuantified;
      break;
    case kExprSubquery:
      W(ctx, node, EXN_QUERY_DEPTH) = ctx->sem.query_depth;
      if (W(ctx, node, EXN_OPERAND1) > 0) Push(ctx, kWalkStatement, 1, W(ctx, node, EXN_OPERAND1));
      return;
    default:
      break;
  }
  // The operators' third operand (word 19), walked after the other two,
  // and the LIKE a key range's AND stands beside (word 24), walked last.
  if (kind >= 1 && kind <= 15) {
    PushExpr(ctx, W(ctx, node, EXN_HOST_NUMBER));
    PushExpr(ctx, W(ctx, node, EXN_WORD19));
  }
  PushOperands(ctx, node, kind);
}

// ---- Statement nodes (routine 4) ---------------------------------------------

void CopyStateToRoot(SqlCompileCtx* ctx, int32_t root) {
  const QueryBlockState& q = ctx->query;
  int32_t bits = 0;
  for (int32_t i = 0; i < kBlockFlagCount; ++i) bits |= q.flags[i] != 0 ? 1 << i : 0;
  W(ctx, root, ROOT_TABLE_REFS) = q.table_refs;
  W(ctx, root, ROOT_TRANSITIONS) = q.transition_tables;
  W(ctx, root, ROOT_GROUPING) = q.grouping;
  W(ctx, root, ROOT_TABLE_COUNT) = q.table_ref_count;
  W(ctx, root, ROOT_SIZE) = q.size_word + (q.size_flag != 0 ? 4 : 0);
  W(ctx, root, ROOT_LEAF) = q.leaf_flag;
  W(ctx, root, ROOT_BLOCK_FLAGS) = bits;
  W(ctx, root, ROOT_OUTERMOST) = q.outermost_query;
  W(ctx, root, ROOT_TOP_QUERIES) = q.top_queries;
  W(ctx, root, ROOT_RESULT_COLUMNS) = q.result_columns;
  W(ctx, root, ROOT_VIEW_TABLES) = q.view_tables;
  W(ctx, root, ROOT_TRIGGERS) = q.triggers;
  W(ctx, root, ROOT_TARGET) = q.target_table;
  W(ctx, root, ROOT_MATERIALIZED) = q.materialized;
}

// The kind a query statement compiles as: 2 (58) for a simple read-only
// query, else 1 (57); the second option word asks for the other pair.
void ResetQueryKind(SqlCompileCtx* ctx, int32_t node) {
  bool simple = SemQueryIsSimple(ctx);
  bool second = ctx->request_word7 != 0;
  if (W(ctx, node, QST_UPDATABLE) == 0 && simple && ctx->request_word6 == 0) {
    ctx->statement_kind = second ? 58 : 2;
  } else {
    ctx->statement_kind = second ? 57 : 1;
  }
}

void Statement(SqlCompileCtx* ctx, int32_t node, int32_t resume) {
  if (node <= 0) return;
  SemContext& cur = Cur(ctx);
  int32_t kind = W(ctx, node, STN_KIND);
  if (kind < 0 || kind > 48) qcinterr(ctx, kWalkRoutine, -19244);
  switch (kind) {
    case 0:
      if (resume == 1) {
        Push(ctx, kWalkStatement, 2, node);
        Push(ctx, kWalkStatement, 1, W(ctx, node, STN_ROOT_TOP));
        return;
      }
      if (ctx->query.table_ref_count > kMaxTableReferences) {
        SemError(ctx, &W(ctx, node, STN_LINE), -12240);
      }
      CopyStateToRoot(ctx, node);
      return;
    case 3:
      SemViewDefinition(ctx, node, resume);
      return;
    case 22:
    case 23:
    case 24:
    case 25:
    case 26:
      SemDataChange(ctx, node, resume);
      return;
    case 40:
    case 41:
    case 42:
      SemLoad(ctx, node);
      return;
    case 21:
      if (resume == 1) {
        qmqinitrec(ctx, node, kFlagQuery, &cur);
        qmqinit(ctx);
        Push(ctx, kWalkStatement, 2, node);
        Push(ctx, kWalkForUpdate, 1, W(ctx, node, QST_FOR_UPDATE));
        Push(ctx, kWalkOrderBy, 1, W(ctx, node, QST_ORDER_BY));
        Push(ctx, kWalkStatement, 1, W(ctx, node, QST_QUERY));
        return;
      }
      SemQueryStatementRules(ctx, node);
      ResetQueryKind(ctx, node);
      return;
    case 27:
      SemSetOperation(ctx, node, resume);
      return;
    case 28:
      SemSelectBlock(ctx, node, resume);
      return;
    case 33:
      qmqinitrec(ctx, node, kFlagQuery, &cur);
      qmqinit(ctx);
      PushExpr(ctx, W(ctx, node, 4));
      PushExpr(ctx, W(ctx, node, 3));
      return;
    default:
      return;  // passed over without visiting its children
  }
}

// ---- List routines -----------------------------------------------------------

void OrderBy(SqlCompileCtx* ctx, int32_t list, int32_t resume) {
  SemContext& cur = Cur(ctx);
  if (list <= 0) return;
  if (resume == 2) {
    qmflagclr(&cur, kFlagOrderBy);
    return;
  }
  qmflagset(&cur, kFlagOrderBy);
  Push(ctx, kWalkOrderBy, 2, list);
  ctx->query.flags[kBlockOrderBy] = 1;
  int32_t count = 0;
  qbworklist(ctx, kWalkSortItem, 1, list, &count);
}

void ForUpdate(SqlCompileCtx* ctx, int32_t list, int32_t resume) {
  SemContext& cur = Cur(ctx);
  if (list <= 0) return;
  if (resume == 2) {
    qmflagclr(&cur, kFlagForUpdate);
    return;
  }
  if (!SemQueryIsSimple(ctx)) {
    int32_t first = W(ctx, list, CELL_VALUE);
    SemError(ctx, first > 0 ? &W(ctx, first, EXN_LINE) : nullptr, -12245);
    return;
  }
  qmflagset(&cur, kFlagForUpdate);
  Push(ctx, kWalkForUpdate, 2, list);
  int32_t count = 0;
  qbworklist(ctx, kWalkExpression, 1, list, &count);
}

// Routines 14 and 16: one condition under flag 4 (search) or 2 (HAVING).
void Condition(SqlCompileCtx* ctx, int32_t routine, int32_t node, int32_t resume) {
  SemContext& cur = Cur(ctx);
  int32_t flag = routine == kWalkCondition ? kFlagSearch : kFlagHaving;
  if (node <= 0) return;
  if (resume == 2) {
    qmflagclr(&cur, flag);
    return;
  }
  qmflagset(&cur, flag);
  if (routine == kWalkHaving) {
    cur.w[SEM_GROUPED] = 1;
    if (qmflagtst(&cur, kFlagSubquery) == 0) ctx->query.flags[kBlockHaving] = 1;
  }
  Push(ctx, routine, 2, node);
  Push(ctx, kWalkExpression, 1, node);
}

void GroupBy(SqlCompileCtx* ctx, int32_t list, int32_t resume) {
  SemContext& cur = Cur(ctx);
  if (list <= 0) return;
  if (resume == 2) {
    SemGroupByRules(ctx, list);
    qmflagclr(&cur, kFlagGroupBy);
    return;
  }
  qmflagset(&cur, kFlagGroupBy);
  cur.w[SEM_GROUPED] = 1;
  if (qmflagtst(&cur, kFlagSubquery) == 0) ctx->query.flags[kBlockGrouped] = 1;
  Push(ctx, kWalkGroupBy, 2, list);
  int32_t count = 0;
  qbworklist(ctx, kWalkExpression, 1, list, &count);
}

}  // namespace

// ---- Shared helpers ------------------------------------------------------------

void SemError(SqlCompileCtx* ctx, const int32_t* position, int32_t code,
              std::initializer_list<SemItem> items) {
  std::string text;
  for (const SemItem& item : items) {
    if (!text.empty()) text += kParamItemSeparator;
    text += item.letter;
    text += '\t';
    text += item.value;
  }
  qcerrec(ctx, position, "QME", code, kSevSqlError, text.empty() ? nullptr : text.c_str());
}

void SemTypeExpression(SqlCompileCtx* ctx, int32_t node) {
  qmtypexpr(ctx, node, &Cur(ctx));
}

std::string SemText(SqlCompileCtx* ctx, int32_t reference) {
  return reference > 0 ? std::string(qqwsadr(ctx, reference)) : std::string();
}

int32_t SemTypeRecord(SqlCompileCtx* ctx, int32_t code, int32_t length, int32_t scale,
                      int32_t variant) {
  int32_t values[] = {code, length, scale, variant};
  return TreeRecord(ctx, 4, values);
}

bool SemQueryIsSimple(const SqlCompileCtx* ctx) {
  const int32_t* f = ctx->query.flags;
  return f[kBlockDistinct] == 0 && f[kBlockAggregate] == 0 && f[kBlockGrouped] == 0 &&
         f[kBlockJoined] == 0 && f[kBlockMergedView] == 0 && f[kBlockHaving] == 0 &&
         f[kBlockSetOperation] == 0 && f[kBlockOrderBy] == 0;
}

void qmsema(SqlCompileCtx* ctx, int32_t root) {
  ctx->query = QueryBlockState{};
  Push(ctx, kWalkStatement, 1, root);
  for (;;) {
    TravFrame f = TravPopFrom(ctx->trav);
    switch (f.routine) {
      case kTravEndOfWalk:
        return;
      case kWalkExpression:
        Expression(ctx, f.node, f.resume);
        break;
      case kWalkStatement:
        Statement(ctx, f.node, f.resume);
        break;
      case kWalkSortItem:
        if (f.node > 0) PushExpr(ctx, W(ctx, f.node, SRT_KEY));
        break;
      case kWalkOrderBy:
        OrderBy(ctx, f.node, f.resume);
        break;
      case kWalkForUpdate:
        ForUpdate(ctx, f.node, f.resume);
        break;
      case kWalkSelectItem:
        SemSelectItem(ctx, f.node, f.resume);
        break;
      case kWalkSelectList:
        SemSelectList(ctx, f.node, f.resume);
        break;
      case kWalkCondition:
      case kWalkHaving:
        Condition(ctx, f.routine, f.node, f.resume);
        break;
      case kWalkGroupBy:
        GroupBy(ctx, f.node, f.resume);
        break;
      default:
        qcinterr(ctx, kWalkRoutine, -19220);
    }
  }
}

void qmdrive(SqlCompileCtx* ctx, int32_t root) {
  Push(ctx, kTravEndOfWalk, 2, 0);
  ctx->semantic_phase = 1;
  qmsema(ctx, root);
  ctx->semantic_phase = 0;
}

void SqlInstallSemanticPhase() {
  SqlPhaseServices phases = SqlPhases();
  phases.semantic = qmdrive;
  SqlInstallPhaseServices(&phases);
}
