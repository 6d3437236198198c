// Grammar actions of the control statements that only record their kind
// (LEAVE, SET TRANSACTION, SET SESSION), the data change statements and the
// query statement with its ORDER BY list and FOR clause.
#include <cstring>

#include "sql/front/sql_action_helpers.h"
#include "sql/front/sql_actions.h"
#include "sql/front/stmt_tree.h"

namespace {

// Kinds recorded by the statements that build no node.
struct KindOf {
  int32_t rule;
  int32_t kind;
};
constexpr KindOf kKinds[] = {
    {304, 47}, {305, 48}, {310, 55},  {311, 54},  {312, 78},  {313, 79},  {314, 86}, {315, 87},
    {318, 83}, {321, 91}, {324, 80},  {325, 81},  {326, 82},  {327, 88},  {328, 89}, {329, 90},
    {330, 52}, {331, 53}, {319, 103}, {320, 103}, {322, 104}, {323, 104},
};

void RecordKind(SqlCompileCtx* ctx, int32_t rule) {
  if (rule == 306 || rule == 307 || rule == 316 || rule == 317) {
    // One-symbol alternatives over a node their phrase built; the mode
    // statements' kinds follow the mode word (3 OFFLINE, 1 ONLINE PRESERVE
    // LOG, 2 ONLINE RESET LOG).
    int32_t mode = ActionState(ctx)->mode_word;
    int32_t base = rule == 316 ? 63 : rule == 307 ? 66 : rule == 317 ? 69 : 0;
    if (rule == 306) ctx->statement_kind = 72;
    if (base != 0 && (mode == 3 || mode == 1 || mode == 2)) {
      ctx->statement_kind = base + (mode == 3 ? 0 : mode);
    }
    return;
  }
  // No node: the statement's value is 0, not whatever its first token held.
  SemEntry(ctx, 1)[VW_QUERY] = 0;
  for (const KindOf& k : kKinds) {
    if (k.rule == rule) ctx->statement_kind = k.kind;
  }
  if (rule == 319 || rule == 322) {
    const int32_t* s5 = SemEntry(ctx, 5);
    ctx->early_result = NumericValue(ctx, s5, EntryText(ctx, s5), s5[VW_TEXT_LENGTH]);
  } else if (rule == 320 || rule == 323) {
    ctx->early_result = 0;
  }
}

// The first and second option words of the compile request.
bool FirstOption(const SqlCompileCtx* ctx) {
  return ctx->request_word6 != 0;
}
bool SecondOption(const SqlCompileCtx* ctx) {
  return ctx->request_word7 != 0;
}

void DataChange(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  auto s = [&](int32_t k) { return SemEntry(ctx, k); };
  switch (rule) {
    case 368: {
      int32_t args[] = {s(2)[VW_TABLE_REF], qqlrev(ctx, s(4)[VW_LIST]), s(5)[VW_VALUE]};
      r[VW_QUERY] = StmtNode(ctx, 24, r, args, 3);
      ctx->statement_kind = args[2] != 0 ? 6 : 7;
      break;
    }
    case 369: {
      int32_t args[] = {s(2)[VW_TABLE_REF], qqlrev(ctx, s(4)[VW_LIST]), s(5)[VW_SIMPLE_NAME]};
      r[VW_QUERY] = StmtNode(ctx, 25, r, args, 3);
      ctx->statement_kind = 5;
      break;
    }
    case 370:
    case 378:
      r[VW_LIST] = qqlcons(ctx, 0, r[VW_VALUE]);
      break;
    case 371:
    case 379:
      r[VW_LIST] = qqlcons(ctx, r[VW_LIST], s(3)[VW_VALUE]);
      break;
    case 372:
    case 373:
    case 374: {
      int32_t columns = rule == 374 ? qqlrev(ctx, s(5)[VW_LIST]) : 0;
      int32_t source = rule == 372 ? s(4)[VW_LIST] : rule == 374 ? s(7)[VW_LIST] : 0;
      int32_t args[] = {s(3)[VW_TABLE_REF], columns, source};
      r[VW_QUERY] = StmtNode(ctx, 26, r, args, 3);
      if (rule == 373) ctx->statement_kind = 3;
      break;
    }
    case 375:
      r[VW_TABLE_REF] = JoinLeaf(ctx, r[VW_NAME], 0, 0);
      break;
    case 376:
      r[VW_LIST] = qqlrev(ctx, s(3)[VW_LIST]);
      ctx->statement_kind = 3;
      break;
    case 377:
      r[VW_LIST] = qqlcons(ctx, 0, ExprOfKind(ctx, kExprSubquery, r, r[VW_QUERY], 0));
      ctx->statement_kind = 4;
      break;
    case 380: {
      int32_t name = QualifiedNameNode(ctx, r, r[VW_SIMPLE_NAME], 0);
      int32_t column = ExprOfKind(ctx, kExprColumnRef, r, name, 0);
      r[VW_VALUE] = ExprGeneric(ctx, s(2), column, s(3)[VW_VALUE]);
      break;
    }
    case 384: {
      int32_t args[] = {s(3)[VW_TABLE_REF], s(4)[VW_VALUE]};
      r[VW_QUERY] = StmtNode(ctx, 22, r, args, 2);
      ctx->statement_kind = args[1] != 0 ? 9 : 10;
      break;
    }
    case 385: {
      int32_t args[] = {s(3)[VW_TABLE_REF], s(4)[VW_SIMPLE_NAME]};
      r[VW_QUERY] = StmtNode(ctx, 23, r, args, 2);
      ctx->statement_kind = 8;
      break;
    }
    default:
      break;
  }
}

void QueryStatement(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  auto s = [&](int32_t k) { return SemEntry(ctx, k); };
  switch (rule) {
    case 386: {
      int32_t args[] = {r[VW_QUERY], s(2)[VW_LIST], s(3)[VW_LIST], s(3)[VW_FLAG]};
      r[VW_QUERY] = StmtNode(ctx, 21, r, args, 4);
      break;
    }
    case 387:
      r[VW_LIST] = 0;
      break;
    case 388:
      r[VW_LIST] = qqlrev(ctx, s(3)[VW_LIST]);
      break;
    case 389:
      r[VW_LIST] = qqlcons(ctx, 0, r[VW_SORT_ITEM]);
      r[VW_SORT_COUNT] = 1;
      break;
    case 390:
      r[VW_LIST] = qqlcons(ctx, r[VW_LIST], s(3)[VW_SORT_ITEM]);
      ++r[VW_SORT_COUNT];
      break;
    case 391:
    case 392: {
      int32_t key = r[VW_VALUE];
      if (rule == 391) {
        key = ExprLiteral(ctx, r, 1, SignedLiteralRecord(ctx, EntryText(ctx, r), r[VW_TEXT_LENGTH]),
                          0);
      }
      int32_t values[] = {key, s(3)[VW_ORDERING], -1, s(2)[VW_NAME], 0, 0};
      r[VW_SORT_ITEM] = TreeRecord(ctx, 6, values);
      break;
    }
    case 393:
      r[VW_NAME] = 0;
      break;
    case 394:
      r[VW_NAME] = s(2)[VW_NAME];
      break;
    case 395:
      r[VW_ORDERING] = 2;
      break;
    case 396:
      r[VW_ORDERING] = 0;
      break;
    case 397:
      r[VW_ORDERING] = 1;
      break;
    case 398:
      r[VW_LIST] = 0;
      r[VW_FLAG] = 0;
      ctx->statement_kind =
          SecondOption(ctx) ? (FirstOption(ctx) ? 57 : 58) : (FirstOption(ctx) ? 1 : 2);
      break;
    case 399:
      // The FOR UPDATE phrase left its OF columns in word 49 (402: none), and
      // the query statement keeps them for the semantic walk.
      r[VW_FLAG] = 1;
      ctx->statement_kind = SecondOption(ctx) ? 57 : 1;
      break;
    case 400:
      r[VW_LIST] = 0;  // no FOR UPDATE OF list (386 reads it)
      r[VW_FLAG] = 0;
      ctx->statement_kind = SecondOption(ctx) ? 58 : 2;
      if (FirstOption(ctx)) ActionError(ctx, r, -14016);
      break;
    default:
      break;
  }
}

// 282 to 303: COMMIT, ROLLBACK, the start of a transaction, backup and LOAD
// control; the one-symbol alternatives record the kind of the phrase's node.
void TransactionControl(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  static const int32_t kKinds[] = {12, 13, 14, 107, 108, 109, 100, 101, 102};  // 282 .. 290
  if (rule <= 290) {
    ctx->statement_kind = kKinds[rule - 282];
    return;
  }
  switch (rule) {
    case 291:
    case 292:
    case 293:
      r[VW_QUERY] = StmtGeneric(ctx, 29 + (rule - 291), r);
      break;
    case 297:
      r[VW_QUERY] = StmtGeneric(ctx, 44, r);
      break;
    case 298:
      r[VW_QUERY] = StmtGeneric(ctx, 45, r);
      break;
    case 299:
      r[VW_QUERY] = StmtGeneric(ctx, 48, r);
      break;
    case 300:
      r[VW_QUERY] = StmtGeneric(ctx, 46, r);
      break;
    case 301:
    case 302:
    case 303:
      r[VW_QUERY] = StmtGeneric3(ctx, 40 + (rule - 301), r, SemEntry(ctx, 4)[VW_NAME]);
      break;
    default:
      break;  // 294 to 296: WORK or not
  }
}

// 336 to 349: backup and restore with their options and the time range.
void BackupAndRestore(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  auto s = [&](int32_t k) { return SemEntry(ctx, k); };
  constexpr int32_t kOption = 14;
  switch (rule) {
    case 336: {
      int32_t online = s(2)[VW_FLAG];
      int32_t args[] = {s(9)[VW_SIMPLE_NAME], s(5)[kOption], s(6)[kOption], online};
      r[VW_QUERY] = StmtNode(ctx, 34, r, args, 4);
      ctx->statement_kind = online != 0 ? 110 : 60;
      // An online backup takes no copy of the log.
      if (online != 0 && args[2] != 0) ActionError(ctx, r, -12618);
      break;
    }
    case 337:
    case 338:
      r[VW_FLAG] = 1;
      break;
    case 339:
      r[VW_FLAG] = 0;
      break;
    case 340:
    case 349:
      r[kOption] = 0;
      break;
    case 342: {
      int32_t args[] = {s(5)[VW_SIMPLE_NAME], 0, s(2)[kOption], 0};
      r[VW_QUERY] = StmtNode(ctx, 34, r, args, 4);
      ctx->statement_kind = 61;
      break;
    }
    case 343:
      r[kOption] = s(4)[kOption];
      break;
    case 344: {
      int32_t args[] = {s(3)[VW_SIMPLE_NAME], s(7)[kOption], s(5)[VW_VALUE]};
      r[VW_QUERY] = StmtNode(ctx, 35, r, args, 3);
      break;
    }
    case 345:
      r[VW_VALUE] = 0;
      break;
    case 346:
    case 347: {
      const int32_t* t3 = s(3);
      int32_t from = ExprLiteral(
          ctx, s(2), 12, SignedLiteralRecord(ctx, EntryText(ctx, t3), t3[VW_TEXT_LENGTH]), 0);
      if (rule == 346) {
        r[VW_VALUE] = from;  // from a time to now
        break;
      }
      const int32_t* t6 = s(6);
      int32_t to = ExprLiteral(ctx, s(5), 12,
                               SignedLiteralRecord(ctx, EntryText(ctx, t6), t6[VW_TEXT_LENGTH]), 0);
      r[VW_VALUE] = qqcbix(ctx, kExprAnd, r, from, to, 0, 0);
      break;
    }
    default:
      break;  // 341, 348: the option passes through
  }
}

// 332 to 367: statistics and mode statements with their phrases.
void Utility(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  if (rule >= 336 && rule <= 349) {
    BackupAndRestore(ctx, rule, r);
    return;
  }
  SqlActionState* st = ActionState(ctx);
  auto s = [&](int32_t k) { return SemEntry(ctx, k); };
  switch (rule) {
    case 332:
      ctx->statement_kind = 62;
      break;
    case 350:
    case 351:
    case 352: {
      int32_t args[] = {st->mode_word, rule == 351 ? s(3)[VW_SIMPLE_NAME] : 0,
                        rule == 352 ? qqlrev(ctx, s(3)[VW_LIST]) : 0};
      r[VW_QUERY] = StmtNode(ctx, 36, r, args, 3);
      break;
    }
    case 353:
      st->mode_word = 3;
      break;
    case 354:
      st->mode_word = 1;
      break;
    case 355:
      st->mode_word = 2;
      break;
    case 356:
    case 357: {
      int32_t objects = s(3)[VW_LIST];
      bool tables = st->mode_word != 0;
      int32_t args[] = {rule == 356 ? 0 : 1, tables ? objects : 0, tables ? 0 : objects,
                        s(4)[VW_QUANTIFIER]};
      r[VW_QUERY] = StmtNode(ctx, 37, r, args, 4);
      break;
    }
    case 358:
      st->mode_word = 0;
      r[VW_LIST] = 0;
      break;
    case 359:
    case 360:
      st->mode_word = rule == 360 ? 1 : 0;
      r[VW_LIST] = qqlrev(ctx, s(3)[VW_LIST]);
      break;
    case 361:
      r[VW_QUANTIFIER] = 2;
      break;
    case 362:
      r[VW_QUANTIFIER] = 3;
      break;
    case 363:
      r[VW_QUANTIFIER] = 1;
      break;
    default:
      break;
  }
}

}  // namespace

void SqlActionsControl(SqlCompileCtx* ctx, int32_t rule) {
  int32_t* r = SemEntry(ctx, 1);
  if (rule <= 281) {
    SqlActionsAccess(ctx, rule);
  } else if (rule <= 303) {
    TransactionControl(ctx, rule, r);
  } else if (rule == 308 || rule == 309) {
    // The two-operand statement: a target and the value it is given.
    int32_t args[] = {SemEntry(ctx, 2)[VW_VALUE], SemEntry(ctx, 3)[VW_VALUE]};
    r[VW_QUERY] = StmtNode(ctx, 33, r, args, 2);
    ctx->statement_kind = 42;
  } else if (rule >= 304 && rule <= 331) {
    RecordKind(ctx, rule);
  } else if (rule == 335) {
    r[VW_VALUE] = SemEntry(ctx, 2)[VW_VALUE];
  } else if (rule >= 332 && rule <= 367) {
    Utility(ctx, rule, r);
  } else if (rule >= 368 && rule <= 385) {
    DataChange(ctx, rule, r);
  } else if (rule >= 386) {
    QueryStatement(ctx, rule, r);
  }
}
