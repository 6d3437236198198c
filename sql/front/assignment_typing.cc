// The assignment (expression kind 0) of an INSERT or UPDATE: the value is
// typed against its target column, classes the column does not take are
// refused, and the node gets the column's run-time guards (its domain's
// check conditions, its numeric spelling's range, the NOT NULL test).
#include <string>

#include "sql/front/catalog_access.h"
#include "sql/front/compile_context.h"
#include "sql/front/compile_diag.h"
#include "sql/front/data_change.h"
#include "sql/front/expr_types.h"
#include "sql/front/sem_walk.h"
#include "sql/front/sql_action_words.h"
#include "sql/front/stmt_tree.h"
#include "sql/front/stored_trees.h"
#include "sql/front/trav_stack.h"
#include "sql/front/walk_words.h"

using walk_words::W;

namespace {

int32_t Code(SqlCompileCtx* ctx, int32_t node) {
  int32_t type = W(ctx, node, EXN_TYPE);
  return type > 0 ? W(ctx, type, TD_CODE) : 0;
}

bool IsCharacter(int32_t code) {
  return code == 4 || code == 8;
}
bool IsNational(int32_t code) {
  return code == 34 || code == 35;
}

// Classes that differ and are taken all the same: CLOB from character,
// BLOB from binary, CHAR from NCHAR and NCHAR from CHAR.
bool Accepted(int32_t target, int32_t value) {
  return (target == 32 && value == kClassCharacter) || (target == 31 && value == kClassBinary) ||
         (target == kClassCharacter && value == kClassNational) ||
         (target == kClassNational && value == kClassCharacter);
}

void Walk(SqlCompileCtx* ctx, int32_t node) {
  if (node > 0) TravPushOn(ctx->trav, ctx, kWalkExpression, 1, node);
}

// The column reference a NOT NULL test of `column` reads: the one its table
// reference keeps for the column (made at the first test), or, for a
// column numbered past the reference's count, one of its own. The kept
// list grows to the highest column tested, so a count read from a damaged
// stored view costs no more cells than the statement's columns.
int32_t NullTestColumn(SqlCompileCtx* ctx, int32_t ref, int32_t column) {
  int32_t position = W(ctx, column, EXN_COLUMN_ID) - 1;
  int32_t cell = 0;
  if (position >= 0 && position < W(ctx, ref, TRF_NULL_TEST_COUNT)) {
    for (int32_t i = 0; i <= position; ++i) {
      int32_t next = cell == 0 ? W(ctx, ref, TRF_NULL_TESTS) : W(ctx, cell, CELL_NEXT);
      if (next == 0) {
        next = qqwsal(ctx, 8);
        qqwlst(ctx, next, 0, 0);
        (cell == 0 ? W(ctx, ref, TRF_NULL_TESTS) : W(ctx, cell, CELL_NEXT)) = next;
      }
      cell = next;
    }
    // Anything but a reference to this very column (a stored view's list
    // damaged in the catalog) is replaced.
    int32_t kept = W(ctx, cell, CELL_VALUE);
    if (kept > 0 && W(ctx, kept, EXN_KIND) == kExprColumnRef &&
        W(ctx, kept, EXN_TABLE_REF) == ref &&
        W(ctx, kept, EXN_COLUMN_ID) == W(ctx, column, EXN_COLUMN_ID)) {
      return kept;
    }
  }
  int32_t kept = SemCopyColumn(ctx, column);
  W(ctx, kept, EXN_ANALYSED) = 1;
  if (cell != 0) W(ctx, cell, CELL_VALUE) = kept;
  return kept;
}

// The guards of the target column: its domain's check conditions, the range
// of its numeric spelling, and IS NULL over it when it takes no NULL.
void Guards(SqlCompileCtx* ctx, int32_t node, int32_t target, int32_t value) {
  // Through a view, the guards are those of the table column it changes.
  target = SemChangedColumn(ctx, target);
  int32_t ref = W(ctx, target, EXN_TABLE_REF);
  if (ref <= 0) return;
  SqlColumnDesc d;
  int32_t status =
      qdgetcolumn(ctx, ref, W(ctx, ref, TRF_TABLE_ID), nullptr, W(ctx, target, EXN_COLUMN_ID), &d);
  if (status < 0) qcfatal(ctx, status);
  if (status > 0) return;
  if (d.domain_id > 0) {
    int32_t checks = 0;
    int32_t check = 0;
    for (int32_t guard = 0; guard < 100000; ++guard) {
      status = qdgetcc(ctx, 0, d.domain_id, &check);
      if (status < 0) qcfatal(ctx, status);
      if (status > 0 || check == 0) break;
      int32_t condition = qmcheckcond(ctx, d.domain_id, check, value);
      if (condition == 0) continue;
      checks = qqlcat(ctx, checks, qqlcons(ctx, 0, condition));
      Walk(ctx, condition);
    }
    W(ctx, node, ASG_DOMAIN_CHECKS) = checks;
  }
  int32_t range = qmrangecond(ctx, W(ctx, ref, TRF_TABLE_ID), d.variant, value);
  W(ctx, node, ASG_RANGE) = range;
  Walk(ctx, range);
  if (d.nullable == 0) {
    int32_t test =
        ExprOfKind(ctx, 23, &W(ctx, node, EXN_LINE), NullTestColumn(ctx, ref, target), 0);
    W(ctx, node, ASG_NULL_TEST) = test;
    Walk(ctx, test);
  }
}

}  // namespace

void qmassign(SqlCompileCtx* ctx, int32_t node, SemContext* sem) {
  int32_t target = W(ctx, node, ASG_TARGET);
  int32_t value = W(ctx, node, ASG_VALUE);
  if (target <= 0 || value <= 0) return;
  int32_t to = Code(ctx, target);
  int32_t from = Code(ctx, value);
  if ((IsCharacter(to) && IsNational(from)) || (IsNational(to) && IsCharacter(from))) {
    int32_t cast = qmnchcast(ctx, value);
    if (cast != value) {
      W(ctx, cast, EXN_ANALYSED) = 1;
      W(ctx, node, ASG_VALUE) = value = cast;
    }
  }
  qmuntyped(ctx, 0, target, value, 0);
  qmhostretype(ctx, 0, target, value);
  W(ctx, node, EXN_DERIVATION) =
      qmderclass(W(ctx, target, EXN_DERIVATION), W(ctx, value, EXN_DERIVATION));
  int32_t target_class = W(ctx, target, EXN_TYPE_CLASS);
  int32_t value_class = W(ctx, value, EXN_TYPE_CLASS);
  bool null_literal = W(ctx, value, EXN_KIND) == kExprNull;
  if (target_class != kClassNone && (value_class != kClassNone || null_literal)) {
    W(ctx, node, EXN_TYPE_CLASS) = target_class;
    W(ctx, node, EXN_TYPE) = W(ctx, target, EXN_TYPE);
    if (!null_literal && value_class != target_class && !Accepted(target_class, value_class)) {
      if (qmflagtst(sem, kFlagInsert) != 0) {
        char name[kRefNameBytes] = {};
        qmrefname(ctx, 3, target, name);
        SemError(ctx, &W(ctx, value, EXN_LINE), -12234, {{'E', name}});
      } else {
        SemError(ctx, &W(ctx, value, EXN_LINE), -12216);
      }
      W(ctx, node, EXN_TYPE_CLASS) = kClassNone;
      W(ctx, target, EXN_TYPE_CLASS) = kClassNone;
      W(ctx, value, EXN_TYPE_CLASS) = kClassNone;
    }
  }
  int32_t value_code = Code(ctx, value);
  if ((value_code == 31 || value_code == 32) && W(ctx, value, EXN_KIND) != kExprHostParameter) {
    SemError(ctx, &W(ctx, value, EXN_LINE), -12643);
  }
  Guards(ctx, node, target, value);
}
