// Grammar actions of query expressions, the SELECT block with its
// FROM, WHERE, GROUP BY and HAVING phrases, and the search conditions and
// predicates. Negated predicates are built in their mirror form through the
// NOT stack; LIKE over a literal prefix gets a key range beside it.
#include <cstring>

#include "sql/front/sql_action_helpers.h"
#include "sql/front/sql_actions.h"
#include "sql/front/sql_lookup_services.h"
#include "sql/front/stmt_tree.h"

namespace {

void CopyPosition(int32_t* to, const int32_t* from) {
  to[VW_LINE] = from[VW_LINE];
  to[VW_POS] = from[VW_POS];
}

int32_t Or(int32_t a, int32_t b) {
  return a != 0 || b != 0 ? 1 : 0;
}

// 405, 407, 412: the query nodes (statement kinds 27 and 28).
void QueryNodes(SqlCompileCtx* ctx, int32_t rule, int32_t* r, int32_t* s2, int32_t* s3,
                int32_t* s4) {
  if (rule == 405) {
    int32_t args[] = {s2[VW_SET_OP], s2[VW_SET_ALL], r[VW_QUERY], s3[VW_QUERY]};
    r[VW_QUERY] = StmtNode(ctx, 27, s2, args, 4);
    r[VW_TABLE_REF] = 0;
  } else if (rule == 407 || rule == 762) {
    if (rule == 762) {
      // TABLE t: the table reference and its outer-join flag are the phrase's;
      // the marker before it pushed the no-NOT its ON conditions were built
      // under.
      r[VW_TABLE_REF] = s3[VW_TABLE_REF];
      r[VW_FLAG] = s3[VW_FLAG];
      qfnpop(ctx);
      return;
    }
    int32_t item = qqlcons(ctx, 0, PredicateNode(ctx, 0, r, 0, 0, 0));
    int32_t from = qqlcons(ctx, 0, r[VW_TABLE_REF]);
    int32_t args[] = {2, item, from, 0, 0, 0, r[VW_FLAG], 0};
    r[VW_QUERY] = StmtNode(ctx, 28, r, args, 8);
  } else {  // 412
    const int32_t* s5 = SemEntry(ctx, 5);
    const int32_t* s6 = SemEntry(ctx, 6);
    const int32_t* s7 = SemEntry(ctx, 7);
    int32_t args[] = {s2[VW_QUANTIFIER], qqlrev(ctx, s3[VW_LIST]),
                      s4[VW_LIST],       s5[VW_VALUE],
                      s6[VW_LIST],       s7[VW_VALUE],
                      s4[VW_FLAG],       s3[VW_FLAG]};
    int32_t node = StmtNode(ctx, 28, r, args, 8);
    WsWord(ctx, node, 7) = s4[VW_JOIN_ORDER];
    r[VW_QUERY] = node;
  }
}

// 423, 425: qualifier.* select items.
void AllColumnsItem(SqlCompileCtx* ctx, int32_t rule, int32_t* r, int32_t* s3) {
  int32_t name = 0;
  if (rule == 423) {
    if (r[VW_QUALIFIER] != 0) ActionError(ctx, r, -12120);
    name = NamePart(ctx, r, 0, r[VW_NAME_TEXT]);
  } else {
    if (s3[VW_QUALIFIER] != 0) ActionError(ctx, s3, -12120);
    name = NamePart(ctx, r, r[VW_NAME_TEXT], s3[VW_NAME_TEXT]);
  }
  r[VW_SELECT_ITEM] = PredicateNode(ctx, 1, r, name, 0, 0);
  r[VW_FLAG] = 0;
}

void Alias(SqlCompileCtx* ctx, int32_t* r, int32_t* s2) {
  int32_t n = s2[VW_TEXT_LENGTH];
  if (n > kSqlNameMax) {
    ActionError(ctx, s2, -12164);
    n = kSqlNameMax;
  }
  r[VW_ALIAS] = TreeCountedCopy(ctx, EntryText(ctx, s2), n);
  CopyPosition(r, s2);
}

// value >= low AND value <= high (mirrored under a pending NOT).
int32_t RangeCondition(SqlCompileCtx* ctx, const int32_t* at, int32_t value, int32_t low,
                       int32_t high) {
  int32_t l = qqcbix(ctx, qfnope(ctx, kExprGe), at, value, low, 0, 0);
  int32_t h = qqcbix(ctx, qfnope(ctx, kExprLe), at, value, high, 0, 0);
  return qqcbix(ctx, qfnope(ctx, kExprAnd), at, l, h, 0, 0);
}

// 474, 475, 477: the LIKE node, and for a literal prefix its key range.
void Like(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  int32_t* s2 = SemEntry(ctx, 2);
  int32_t* s3 = SemEntry(ctx, 3);
  int32_t* s4 = SemEntry(ctx, 4);
  int32_t negated = EffectiveNot(ctx, s2[VW_FLAG]);
  int32_t escape = rule == 477 ? SemEntry(ctx, 6)[VW_VALUE] : 0;
  ExprWord words[] = {{EXN_OPERAND1, r[VW_VALUE]},
                      {EXN_OPERAND2, negated},
                      {EXN_WORD24, rule == 474 ? 1 : 0},
                      {EXN_WORD25, s4[VW_VALUE]},
                      {EXN_WORD26, escape}};
  int32_t like = ExprFixed(ctx, kExprLike, s3, words, 5);
  LikeKeys keys;
  int32_t characters = 0;
  int32_t pattern = s4[VW_VALUE];
  if (rule == 474 || !LikeKeyRange(ctx, pattern, escape, &keys, &characters)) {
    r[VW_VALUE] = like;
    return;
  }
  if (rule == 477) sqlsvc::qmcoll(ctx, 21, pattern, escape);
  int32_t low = ExprLiteral(ctx, s4, 4, LikeKeyRecord(ctx, keys.prefix, '\0'), 0);
  int32_t high = ExprLiteral(ctx, s4, 4, LikeKeyRecord(ctx, keys.prefix, '\xff'), 0);
  for (int32_t literal : {low, high}) {
    WsWord(ctx, literal, EXN_COLLATION_LEVEL) = WsWord(ctx, pattern, EXN_COLLATION_LEVEL);
    WsWord(ctx, literal, EXN_COLLATION) = WsWord(ctx, pattern, EXN_COLLATION);
  }
  qfnpsh(ctx, negated);
  int32_t range = RangeCondition(ctx, s3, r[VW_VALUE], low, high);
  WsWord(ctx, range, EXN_WORD24) = like;
  qfnpop(ctx);
  r[VW_VALUE] = range;
}

// 476, 478, 480, 484: predicates with a NOT of their own.
void NegatablePredicate(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  int32_t* s3 = SemEntry(ctx, 3);
  int32_t value = r[VW_VALUE];
  qfnpsh(ctx, EffectiveNot(ctx, SemEntry(ctx, 2)[VW_FLAG]));
  if (rule == 476) {
    r[VW_VALUE] = qqcbix(ctx, qfnope(ctx, kExprEq), s3, value, SemEntry(ctx, 5)[VW_VALUE], 0, 0);
  } else if (rule == 478) {
    int32_t result = 0;
    int32_t walked = 0;
    for (int32_t c = qqlrev(ctx, SemEntry(ctx, 5)[VW_LIST]); c != 0;
         c = WsWord(ctx, c, CELL_NEXT)) {
      int32_t eq = qqcbix(ctx, qfnope(ctx, kExprEq), s3, value, WsWord(ctx, c, CELL_VALUE), 0, 0);
      result = walked++ == 0 ? eq : qqcbix(ctx, qfnope(ctx, kExprOr), s3, result, eq, 0, 0);
    }
    r[VW_VALUE] = result;
  } else if (rule == 480) {
    r[VW_VALUE] =
        RangeCondition(ctx, s3, value, SemEntry(ctx, 4)[VW_VALUE], SemEntry(ctx, 6)[VW_VALUE]);
  } else {  // 484
    int32_t q = ExprOfKind(ctx, qfnqnt(ctx, kExprAny), s3, SemEntry(ctx, 4)[VW_VALUE], 0);
    r[VW_VALUE] = qqcbix(ctx, qfnope(ctx, kExprEq), s3, value, q, 0, 0);
  }
  qfnpop(ctx);
}

void Overlaps(SqlCompileCtx* ctx, int32_t* r) {
  qfnpop(ctx);  // the markers after both opening parentheses
  qfnpop(ctx);
  ExprWord words[] = {{EXN_OPERAND1, qfntop(ctx) != 0 ? 1 : 0},
                      {EXN_OPERAND2, SemEntry(ctx, 3)[VW_VALUE]},
                      {24, SemEntry(ctx, 5)[VW_VALUE]},
                      {25, SemEntry(ctx, 10)[VW_VALUE]},
                      {26, SemEntry(ctx, 12)[VW_VALUE]}};
  r[VW_VALUE] = ExprFixed(ctx, kExprOverlaps, SemEntry(ctx, 7), words, 5);
}

// 401 to 461 and 762: queries and their phrases.
bool QueryPhrase(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  int32_t* s2 = SemEntry(ctx, 2);
  int32_t* s3 = SemEntry(ctx, 3);
  switch (rule) {
    case 402:
    case 457:
      r[VW_LIST] = 0;
      break;
    case 403:
      r[VW_LIST] = qqlrev(ctx, SemEntry(ctx, 4)[VW_LIST]);
      break;
    case 405:
    case 407:
    case 412:
    case 762:
      QueryNodes(ctx, rule, r, s2, s3, SemEntry(ctx, 4));
      break;
    case 406:
      r[VW_TABLE_REF] = 0;
      break;
    case 408:
      r[VW_QUERY] = s2[VW_QUERY];
      r[VW_TABLE_REF] = s2[VW_TABLE_REF];
      break;
    case 409:
    case 410:
      r[VW_SET_OP] = 0;
      r[VW_SET_ALL] = 0;
      break;
    case 411:
      r[VW_SET_OP] = 0;
      r[VW_SET_ALL] = 1;
      break;
    case 414:
      r[VW_QUANTIFIER] = 2;
      break;
    case 416:
      r[VW_QUANTIFIER] = 1;
      break;
    case 417:
      r[VW_QUANTIFIER] = 0;
      break;
    case 419:
      r[VW_LIST] = qqlcons(ctx, 0, PredicateNode(ctx, 0, r, 0, 0, 0));
      r[VW_FLAG] = 0;
      break;
    case 420:
      r[VW_LIST] = qqlcons(ctx, 0, r[VW_SELECT_ITEM]);
      break;
    case 421:
      r[VW_LIST] = qqlcons(ctx, r[VW_LIST], s3[VW_SELECT_ITEM]);
      r[VW_FLAG] = Or(r[VW_FLAG], s3[VW_FLAG]);
      break;
    case 422:
    case 424:
      if (rule == 424) {
        // EXISTS as a select item is a value: a NOT pending over the
        // subquery that holds this select list does not negate it.
        if (r[VW_VALUE] != 0) WsWord(ctx, r[VW_VALUE], EXN_OPERAND2) = 0;
        r[VW_FLAG] = 0;
      }
      r[VW_SELECT_ITEM] = PredicateNode(ctx, 2, r, r[VW_VALUE], s2[VW_ALIAS], s2[VW_ALIAS] != 0);
      break;
    case 423:
    case 425:
      AllColumnsItem(ctx, rule, r, s3);
      break;
    case 426:
      r[VW_ALIAS] = 0;
      break;
    case 427:
      Alias(ctx, r, s2);
      break;
    case 428:
      r[VW_LIST] = qqlrev(ctx, s3[VW_LIST]);
      r[VW_FLAG] = s3[VW_FLAG];
      r[VW_JOIN_ORDER] = s2[VW_JOIN_ORDER];
      qfnpop(ctx);
      break;
    // The FROM list starts with no pending NOT, so the ON conditions of a
    // subquery under NOT are not mirrored; 428 pops it.
    case 429:
      r[VW_JOIN_ORDER] = 0;
      qfnpsh(ctx, 0);
      break;
    case 430:
      r[VW_JOIN_ORDER] = 1;
      qfnpsh(ctx, 0);
      break;
    default:
      return false;
  }
  return true;
}

bool FromPhrase(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  int32_t* s2 = SemEntry(ctx, 2);
  int32_t* s3 = SemEntry(ctx, 3);
  int32_t* s4 = SemEntry(ctx, 4);
  switch (rule) {
    case 431:
      r[VW_LIST] = qqlcons(ctx, 0, r[VW_TABLE_REF]);
      break;
    case 432:
      r[VW_LIST] = qqlcons(ctx, r[VW_LIST], s3[VW_TABLE_REF]);
      r[VW_FLAG] = Or(r[VW_FLAG], s3[VW_FLAG]);
      break;
    case 433:
      r[VW_FLAG] = 0;
      break;
    case 435:  // the right operand may hold an outer join too (438)
      r[VW_TABLE_REF] = JoinNode(ctx, s3[VW_JOIN_TYPE], r[VW_TABLE_REF], s4[VW_TABLE_REF], 0);
      r[VW_FLAG] = Or(Or(r[VW_FLAG], s3[VW_FLAG]), s4[VW_FLAG]);
      break;
    case 436: {
      int32_t join =
          JoinNode(ctx, s2[VW_JOIN_TYPE], r[VW_TABLE_REF], s3[VW_TABLE_REF], s4[VW_VALUE]);
      WsWord(ctx, join, 15) = s4[VW_LIST];  // the USING columns
      r[VW_TABLE_REF] = join;
      r[VW_FLAG] = Or(Or(r[VW_FLAG], s2[VW_FLAG]), s3[VW_FLAG]);
      break;
    }
    case 437:
      r[VW_TABLE_REF] = JoinLeaf(ctx, r[VW_NAME], s3[VW_SIMPLE_NAME], s2[VW_NAME]);
      break;
    case 438:
      // ( TABLE reference ) stands for its table reference, and so for the
      // outer joins the reference holds (the bare table form carries that
      // flag, 762); any other query is refused and holds none here.
      if (s2[VW_TABLE_REF] == 0) ActionError(ctx, r, -12104);
      r[VW_TABLE_REF] = s2[VW_TABLE_REF];
      r[VW_FLAG] = s2[VW_TABLE_REF] != 0 ? s2[VW_FLAG] : 0;
      CopyPosition(r, s2);
      break;
    case 439:
      r[VW_NAME] = 0;
      break;
    case 440:
      r[VW_NAME] = s3[VW_NAME];
      break;
    case 441:
    case 442:
      r[VW_JOIN_TYPE] = 0;
      r[VW_FLAG] = 0;
      break;
    case 443:
    case 445:
      r[VW_JOIN_TYPE] = 1;
      r[VW_FLAG] = 1;
      break;
    case 444:
    case 446:
      r[VW_JOIN_TYPE] = 2;
      r[VW_FLAG] = 1;
      break;
    case 447:
      r[VW_LIST] = 0;
      r[VW_VALUE] = s2[VW_VALUE];
      break;
    // The USING columns in the order written, as every finished list.
    case 448:
      r[VW_LIST] = qqlrev(ctx, s3[VW_LIST]);
      r[VW_VALUE] = 0;
      break;
    case 449:
      r[VW_SIMPLE_NAME] = 0;
      break;
    case 450:
      r[VW_SIMPLE_NAME] = s2[VW_SIMPLE_NAME];
      break;
    case 453:
    case 459:
      r[VW_VALUE] = 0;
      break;
    case 454:
    case 460:
      r[VW_VALUE] = s3[VW_VALUE];
      qfnpop(ctx);
      break;
    case 455:
    case 461:
      qfnpsh(ctx, 0);
      break;
    case 456:
      r[VW_SIMPLE_NAME] = s4[VW_SIMPLE_NAME];
      if (ctx->compile_mode == 3) ActionError(ctx, r, -12152, "WHERE CURRENT OF");
      break;
    case 458:
      r[VW_LIST] = qqlrev(ctx, s3[VW_LIST]);
      break;
    default:
      return false;
  }
  return true;
}

void Condition(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  int32_t* s2 = SemEntry(ctx, 2);
  int32_t* s3 = SemEntry(ctx, 3);
  int32_t* s4 = SemEntry(ctx, 4);
  switch (rule) {
    case 464:
      r[VW_VALUE] = qqcbix(ctx, qfnope(ctx, kExprOr), s2, r[VW_VALUE], s3[VW_VALUE], 0, 0);
      break;
    case 466:
      r[VW_VALUE] = qqcbix(ctx, qfnope(ctx, kExprAnd), s2, r[VW_VALUE], s3[VW_VALUE], 0, 0);
      break;
    case 467:
      r[VW_VALUE] = s2[VW_VALUE];
      CopyPosition(r, s2);
      qfnpop(ctx);
      break;
    case 468:
      r[VW_VALUE] = s3[VW_VALUE];
      qfnpop(ctx);
      break;
    case 469:
      qfnpsh(ctx, qfntop(ctx) != 0 ? 1 : 0);
      break;
    case 470:
      qfnpsh(ctx, qfntop(ctx) != 0 ? 0 : 1);
      break;
    case 472:
      r[VW_VALUE] = s2[VW_VALUE];
      break;
    case 473:
    case 482:
      r[VW_VALUE] = qqcbix(ctx, qfnope(ctx, s2[VW_OPERATOR]), s2, r[VW_VALUE], s3[VW_VALUE], 0, 0);
      break;
    case 474:
    case 475:
    case 477:
      Like(ctx, rule, r);
      break;
    case 476:
    case 478:
    case 480:
    case 484:
      NegatablePredicate(ctx, rule, r);
      break;
    case 479: {
      int32_t null = ExprOfKind(ctx, kExprNull, s4, 0, 0);
      int32_t op = qfnope(ctx, s3[VW_FLAG] != 0 ? kExprNe : kExprEq);
      r[VW_VALUE] = qqcbix(ctx, op, s2, r[VW_VALUE], null, 0, 0);
      break;
    }
    case 481:
      Overlaps(ctx, r);
      break;
    case 483: {
      ExprWord words[] = {{EXN_OPERAND1, s2[VW_VALUE]}, {EXN_OPERAND2, qfntop(ctx)}};
      r[VW_VALUE] = ExprFixed(ctx, kExprExists, r, words, 2);
      break;
    }
    case 485: {
      int32_t q = ExprOfKind(ctx, qfnqnt(ctx, s3[VW_OPERATOR]), s3, s4[VW_VALUE], 0);
      r[VW_VALUE] = qqcbix(ctx, qfnope(ctx, s2[VW_OPERATOR]), s2, r[VW_VALUE], q, 0, 0);
      break;
    }
    case 486:
      r[VW_OPERATOR] = kExprAll;
      break;
    case 487:
    case 488:
      r[VW_OPERATOR] = kExprAny;
      break;
    case 489:
      r[VW_FLAG] = 0;
      break;
    case 490:
      r[VW_FLAG] = 1;
      break;
    case 491:
    case 492:
    case 493:
    case 494:
    case 495:
    case 496:
      r[VW_OPERATOR] = kExprEq + (rule - 491);
      break;
    case 497:
      r[VW_VALUE] = ExprOfKind(ctx, kExprSubquery, s2, s2[VW_QUERY], 0);
      break;
    case 498:
      r[VW_COUNT] = 2;
      r[VW_LIST] = qqlcons(ctx, qqlcons(ctx, 0, r[VW_VALUE]), s3[VW_VALUE]);
      break;
    case 499:
      r[VW_COUNT] = r[VW_COUNT] + 1;
      r[VW_LIST] = qqlcons(ctx, r[VW_LIST], s3[VW_VALUE]);
      break;
    default:
      break;  // 462, 463, 465, 471: the value passes through
  }
}

}  // namespace

void SqlActionsQuery(SqlCompileCtx* ctx, int32_t rule) {
  int32_t* r = SemEntry(ctx, 1);
  if (rule <= 461 || rule == 762) {
    if (!QueryPhrase(ctx, rule, r)) FromPhrase(ctx, rule, r);
    return;
  }
  Condition(ctx, rule, r);
}
