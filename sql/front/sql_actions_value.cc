// Grammar actions of value expressions: operators and signs (a sign folds
// into a numeric literal), COLLATE, the datetime difference with an interval
// qualifier, CASE, CAST, set functions, string functions, function calls,
// sequence values, and the data type phrases with their length limits (a
// domain named as a data type among them).
#include <algorithm>
#include <cstring>
#include <string>

#include "sql/front/sql_action_helpers.h"
#include "sql/front/sql_actions.h"
#include "sql/front/sql_lookup_services.h"
#include "sql/front/stmt_tree.h"

namespace {

int32_t Or(int32_t a, int32_t b) {
  return a != 0 || b != 0 ? 1 : 0;
}

// 507: a sign in front of a numeric literal goes into the literal's text.
void Sign(SqlCompileCtx* ctx, int32_t* r, const int32_t* s2) {
  int32_t operand = s2[VW_VALUE];
  int32_t sign = r[VW_OPERATOR];
  r[VW_FLAG] = s2[VW_FLAG];
  bool numeric_literal = operand != 0 && WsWord(ctx, operand, EXN_KIND) == kExprLiteral &&
                         WsWord(ctx, operand, EXN_LITERAL_TYPE) >= 1 &&
                         WsWord(ctx, operand, EXN_LITERAL_TYPE) <= 3;
  if (!numeric_literal) {
    r[VW_VALUE] = ExprOfKind(ctx, sign, r, operand, 0);
    return;
  }
  r[VW_VALUE] = operand;
  if (sign == kExprPlusSign) return;
  int32_t n = 0;
  const char* bytes = LiteralBytes(ctx, operand, &n);
  std::string text(bytes, static_cast<size_t>(n));
  if (!text.empty() && text[0] == '-') {
    text[0] = '+';
  } else if (!text.empty() && text[0] == '+') {
    text[0] = '-';
  } else {
    text.insert(text.begin(), '-');
  }
  WsWord(ctx, operand, EXN_OPERAND1) =
      TreeCountedCopy(ctx, text.data(), static_cast<int32_t>(text.size()));
}

// 506: COLLATE name on a value.
void Collate(SqlCompileCtx* ctx, int32_t* r, const int32_t* s2) {
  if (s2[VW_NAME] == 0) return;
  QualifiedName name;
  qqnamget(ctx, s2[VW_NAME], &name);
  int32_t id = 0;
  if (sqlsvc::qdgetcollation(ctx, name.name[1], name.name[0], &id) != 0) {
    std::string shown = name.name[1][0] != 0 ? std::string(name.name[1]) + "." : std::string();
    ActionErrorItem(ctx, s2, -12632, 'O', shown + name.name[0]);
    id = 0;
  }
  if (id != 136 && id != 138 && id != 140 && r[VW_VALUE] != 0) {
    WsWord(ctx, r[VW_VALUE], EXN_COLLATION_LEVEL) = 3;
    WsWord(ctx, r[VW_VALUE], EXN_COLLATION) = id;
  }
}

// 528, 529: CASE with and without an operand.
void Case(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  int32_t* s2 = SemEntry(ctx, 2);
  int32_t* s3 = SemEntry(ctx, 3);
  int32_t operand = 0;
  int32_t wrapper = 0;
  int32_t arms = s2[VW_LIST];
  int32_t else_arm = s3[VW_VALUE];
  if (rule == 528) {
    operand = s2[VW_VALUE];
    wrapper = ExprOfKind(ctx, kExprWrapper, s2, operand, 0);
    arms = s3[VW_LIST];
    else_arm = SemEntry(ctx, 4)[VW_VALUE];
    for (int32_t c = arms; c != 0; c = WsWord(ctx, c, CELL_NEXT)) {
      int32_t when = WsWord(ctx, c, CELL_VALUE);
      int32_t value = WsWord(ctx, when, EXN_OPERAND1);
      WsWord(ctx, when, EXN_OPERAND1) =
          qqcbix(ctx, kExprEq, &WsWord(ctx, value, EXN_LINE), wrapper, value, 0, 0);
    }
  }
  ExprWord words[] = {{EXN_OPERAND1, qqlrev(ctx, qqlcons(ctx, arms, else_arm))},
                      {EXN_OPERAND2, operand},
                      {EXN_WORD19, wrapper}};
  r[VW_VALUE] = ExprFixed(ctx, kExprCase, r, words, 3);
}

int32_t When(SqlCompileCtx* ctx, const int32_t* at, int32_t condition, int32_t result) {
  return ExprOfKind(ctx, kExprWhen, at, condition, result);
}

void Functions(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  static const char* const kNames[] = {"COUNT",   "AVG",      "SUM",       "MAX", "MIN",
                                       "EXTRACT", "POSITION", "SUBSTRING", "TRIM"};
  int32_t* s3 = SemEntry(ctx, 3);
  int32_t name = rule == 562 ? r[VW_NAME] : FunctionNameNode(ctx, r, kNames[rule - 563]);
  int32_t node = SqlBuildFunctionCall(ctx, r, name, qqlrev(ctx, s3[VW_LIST]),
                                      s3[VW_LIST] != 0 ? s3[VW_COUNT] : 0);
  r[VW_VALUE] = node;
  r[VW_FLAG] = rule >= 563 && rule <= 567 ? (LiteralKindTest(ctx, node) ? 1 : 0) : 0;
}

void StringFunctions(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  auto v = [&](int32_t k) { return SemEntry(ctx, k)[VW_VALUE]; };
  int32_t* s3 = SemEntry(ctx, 3);
  switch (rule) {
    case 551:
    case 556: {
      ExprWord w[] = {{22, v(3)}, {23, v(5)}, {24, rule == 556 ? v(7) : 0}};
      r[VW_VALUE] = ExprFixed(ctx, kExprSubstring, r, w, 3);
      break;
    }
    case 552:
    case 554:
    case 555: {
      ExprWord w[] = {{22, rule == 552 ? 45 : s3[VW_TRIM]},
                      {23, rule == 552   ? v(3)
                           : rule == 555 ? v(4)
                                         : 0},
                      {24, rule == 555 ? v(6) : v(5)}};
      r[VW_VALUE] = ExprFixed(ctx, kExprTrim, r, w, 3);
      break;
    }
    case 553:
      r[VW_VALUE] = ExprOfKind(ctx, kExprRepeat, r, v(3), v(5));
      break;
    case 560:
      r[VW_VALUE] = ExprOfKind(ctx, kExprPosition, r, v(3), v(5));
      break;
    case 561:
      r[VW_VALUE] = ExprOfKind(ctx, kExprExtract, r, s3[VW_TYPE], v(5));
      break;
    default:
      break;
  }
}

// Type nodes: code, length, scale, variant.
int32_t TypeNode(SqlCompileCtx* ctx, int32_t code, int32_t length, int32_t scale, int32_t variant) {
  int32_t values[] = {code, length, scale, variant};
  return TreeRecord(ctx, 4, values);
}

// The number of a length or precision phrase, checked against its limit.
int32_t Bounded(SqlCompileCtx* ctx, int32_t k, int32_t limit, int32_t fallback) {
  const int32_t* e = SemEntry(ctx, k);
  int32_t n = NumericValue(ctx, e, EntryText(ctx, e), e[VW_TEXT_LENGTH]);
  if (n <= 0 || n > limit) {
    ActionError(ctx, e, -12512);
    return fallback;
  }
  return n;
}

struct Fixed {
  int32_t rule, code, length, scale;
};

// 589: a type written as a name. A type keyword used as a name (its class,
// 4 to 16 and 18) gives the node of its keyword form (574 to 587); any other
// name gives none: its type is the named domain's, found later. The name
// stays the type name.
template <size_t N>
void NamedType(SqlCompileCtx* ctx, int32_t* r, const Fixed (&fixed)[N]) {
  int32_t code = r[VW_IDENT_CLASS];
  r[VW_TYPE] = 0;
  int32_t rule = code >= 4 && code <= 16 ? 574 + (code - 4) : code == 18 ? 587 : 0;
  for (const Fixed& f : fixed) {
    if (rule == 0 || f.rule != rule) continue;
    int32_t variant = rule >= 575 && rule <= 580 ? r[VW_VARIANT] : 0;
    r[VW_TYPE] = TypeNode(ctx, f.code, f.length, f.scale, variant);
  }
  if (rule == 0 || rule == 574 || rule == 578 || rule >= 581) r[VW_VARIANT] = 0;
}

void DataType(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  static const Fixed kFixed[] = {
      {574, 4, 1, -1},       {575, 1, 10, 0},       {576, 1, 5, 0},    {577, 1, 19, 0},
      {578, 3, 15, 0},       {579, 2, 7, -1},       {580, 2, 16, -1},  {581, 10, 8, 0},
      {582, 11, 6, 0},       {583, 12, 20, 6},      {584, 29, 1, -1},  {585, 31, 1048576, 0},
      {586, 32, 1048576, 0}, {587, 34, 1, -1},      {590, 4, 1, -1},   {592, 34, 1, -1},
      {593, 31, 1048576, 0}, {594, 32, 1048576, 0}, {595, 4, -1, -1},  {596, 8, -1, -1},
      {597, 29, -1, -1},     {598, 30, -1, -1},     {599, 11, -1, -1}, {600, 12, -1, -1},
      {608, 34, -1, -1},     {619, 35, -1, -1}};
  if (rule == 589) {
    NamedType(ctx, r, kFixed);
    return;
  }
  for (const Fixed& f : kFixed) {
    if (f.rule != rule) continue;
    int32_t variant = rule >= 575 && rule <= 580 ? r[VW_VARIANT] : 0;
    r[VW_TYPE] = TypeNode(ctx, f.code, f.length, f.scale, variant);
    if (rule == 574 || rule == 578 || rule >= 581) r[VW_VARIANT] = 0;
    r[VW_NAME] = 0;  // no type name (CAST reads it)
    return;
  }
  int32_t code = 0;
  int32_t length = 0;
  int32_t scale = -1;
  switch (rule) {
    case 601:
    case 602:
    case 604:
    case 605:
      code = rule == 601 ? 4 : rule == 602 ? 8 : rule == 604 ? 29 : 30;
      length = Bounded(ctx, 3, kSqlLiteralBytes, 1);
      break;
    case 603:
    case 614:
      code = 34;
      length = Bounded(ctx, rule == 603 ? 3 : 4, 5000, 1);
      break;
    case 620:
      code = 35;
      length = Bounded(ctx, 4, 5000, 1);
      break;
    case 609:
    case 610:
    case 611:
      code = rule == 609 ? 1 : rule == 610 ? 3 : 2;
      length = Bounded(ctx, 3, 45, 45);
      break;
    case 617: {
      code = 3;
      length = Bounded(ctx, 3, 45, 45);
      const int32_t* e = SemEntry(ctx, 5);
      scale = NumericValue(ctx, e, EntryText(ctx, e), e[VW_TEXT_LENGTH]);
      if (scale > length) ActionError(ctx, e, -12512);
      break;
    }
    case 606:
    case 607:
    case 615:
    case 616: {
      SqlActionState* st = ActionState(ctx);
      bool blob = rule == 606 || rule == 615;
      r[VW_TYPE] = TypeNode(ctx, blob ? 31 : 32, st->leading_precision, st->second_word, 0);
      st->leading_precision = 0;
      r[VW_NAME] = 0;
      r[VW_VARIANT] = 0;
      return;
    }
    case 612:
    case 613: {
      int32_t p = ActionState(ctx)->second_word;
      code = rule == 612 ? 11 : 12;
      length = p + (rule == 612 ? 6 : 14);
      scale = p;
      break;
    }
    case 993:
    case 994: {
      // A domain's name; its type is the domain's, found later.
      int32_t n = std::min(std::max(r[VW_TEXT_LENGTH], 0), kSqlNameMax);
      int32_t first = TreeTextCopy(ctx, EntryText(ctx, r), n);
      int32_t part = rule == 993 ? NamePart(ctx, r, first, 0)
                                 : NamePart(ctx, r, SemEntry(ctx, 3)[VW_NAME_TEXT], first);
      r[VW_NAME] = QualifiedNameNode(ctx, r, part, 0);
      r[VW_TYPE] = 0;
      r[VW_VARIANT] = 0;
      return;
    }
    case 618:
      r[VW_TYPE] = TypeNode(ctx, 2, 16, -1, 205);
      r[VW_VARIANT] = 205;
      // The type name in the shape of every type name (a qualified name
      // node), so that its readers unpack it alike.
      r[VW_NAME] = QualifiedNameNode(
          ctx, r, NamePart(ctx, r, TreeTextCopy(ctx, "DOUBLE PRECISION", 16), 0), 0);
      return;
    default:
      return;
  }
  r[VW_TYPE] = TypeNode(ctx, code, length, scale, 0);
  r[VW_NAME] = 0;
  r[VW_VARIANT] = 0;
}

// 500 to 527: operators, signs, COLLATE and the parenthesised values.
void Operators(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  int32_t* s2 = SemEntry(ctx, 2);
  int32_t* s3 = SemEntry(ctx, 3);
  switch (rule) {
    case 503:
    case 505:
      r[VW_VALUE] = qqcbix(ctx, s2[VW_OPERATOR], s2, r[VW_VALUE], s3[VW_VALUE], 0, 0);
      r[VW_FLAG] = Or(r[VW_FLAG], s3[VW_FLAG]);
      break;
    case 506:
      Collate(ctx, r, s2);
      break;
    case 507:
      Sign(ctx, r, s2);
      break;
    case 508:
    case 509:
    case 510:
    case 511:
    case 514:
    case 515:
    case 517:
    case 518:
    case 519:
    case 520:
    case 542:
    case 543:
    case 544:
      r[VW_FLAG] = 0;
      break;
    case 513:
      r[VW_FLAG] = 1;
      break;
    case 512:
    case 516: {
      r[VW_VALUE] = s3[VW_VALUE];
      r[VW_FLAG] = s3[VW_FLAG];
      qfnpop(ctx);
      if (rule == 512) break;
      const int32_t* s5 = SemEntry(ctx, 5);
      if (r[VW_VALUE] == 0 || WsWord(ctx, r[VW_VALUE], EXN_KIND) != kExprSubtract) {
        ActionError(ctx, s5, -12283);
        break;
      }
      SqlActionState* s = ActionState(ctx);
      WsWord(ctx, r[VW_VALUE], EXN_TYPE) =
          TypeNode(ctx, s->type_code, s->leading_precision, s->second_word, 0);
      WsWord(ctx, r[VW_VALUE], EXN_LINE) = s5[VW_LINE];
      WsWord(ctx, r[VW_VALUE], EXN_POSITION) = s5[VW_POS];
      break;
    }
    case 521:
      r[VW_OPERATOR] = kExprAdd;
      break;
    case 522:
      r[VW_OPERATOR] = kExprSubtract;
      break;
    case 523:
      r[VW_OPERATOR] = kExprConcat;
      break;
    case 524:
      r[VW_OPERATOR] = 3;
      break;
    case 525:
      r[VW_OPERATOR] = 4;
      break;
    case 526:
      r[VW_OPERATOR] = kExprPlusSign;
      break;
    case 527:
      r[VW_OPERATOR] = kExprMinusSign;
      break;
    default:
      break;
  }
}

// 528 to 541: CASE and CAST.
void CaseAndCast(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  int32_t* s2 = SemEntry(ctx, 2);
  int32_t* s3 = SemEntry(ctx, 3);
  switch (rule) {
    case 528:
    case 529:
      Case(ctx, rule, r);
      break;
    case 530:
    case 533:
      r[VW_LIST] = qqlcons(ctx, 0, r[VW_VALUE]);
      break;
    case 531:
    case 534:
      r[VW_LIST] = qqlcons(ctx, r[VW_LIST], s2[VW_VALUE]);
      break;
    case 532:
      r[VW_VALUE] = When(ctx, r, s2[VW_VALUE], SemEntry(ctx, 4)[VW_VALUE]);
      break;
    case 535:
      r[VW_VALUE] = When(ctx, r, s3[VW_VALUE], SemEntry(ctx, 5)[VW_VALUE]);
      qfnpop(ctx);
      break;
    case 536:
      qfnpsh(ctx, 0);
      break;
    case 537: {
      const int32_t* zero = ActionState(ctx)->zero_position;
      r[VW_VALUE] = When(ctx, zero, 0, ExprOfKind(ctx, kExprNull, zero, 0, 0));
      break;
    }
    case 538:
      r[VW_VALUE] = When(ctx, r, 0, s2[VW_VALUE]);
      break;
    case 541: {
      const int32_t* s5 = SemEntry(ctx, 5);
      ExprWord w[] = {{22, s3[VW_VALUE]},
                      {24, s5[VW_TYPE]},
                      {25, s5[VW_NAME]},
                      {29, SemEntry(ctx, 6)[VW_NAME]}};
      r[VW_VALUE] = ExprFixed(ctx, kExprCast, r, w, 4);
      break;
    }
    default:
      break;
  }
}

// 545 to 573: set functions, string functions, function calls, sequences.
void Calls(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  int32_t* s3 = SemEntry(ctx, 3);
  switch (rule) {
    case 545:
      r[VW_VALUE] = qqcfnx(ctx, kExprCount, r, 0, 0);
      break;
    case 546:
    case 547:
    case 548:
    case 549:
    case 550: {
      int32_t node = qqcfnx(ctx, kExprCount + (rule - 546), r, 0, 0);
      WsWord(ctx, node, EXN_OPERAND1) = s3[VW_QUANTIFIER];
      WsWord(ctx, node, EXN_OPERAND2) = SemEntry(ctx, 4)[VW_VALUE];
      r[VW_VALUE] = node;
      break;
    }
    case 551:
    case 552:
    case 553:
    case 554:
    case 555:
    case 556:
    case 560:
    case 561:
      StringFunctions(ctx, rule, r);
      break;
    case 557:
      r[VW_TRIM] = 46;
      break;
    case 558:
      r[VW_TRIM] = 47;
      break;
    case 559:
      r[VW_TRIM] = 45;
      break;
    case 562:
    case 563:
    case 564:
    case 565:
    case 566:
    case 567:
    case 568:
    case 569:
    case 570:
    case 571:
      Functions(ctx, rule, r);
      break;
    case 572:
    case 573: {
      ExprWord w[] = {{22, rule == 572 ? 2 : 1}, {23, s3[VW_NAME]}};
      r[VW_VALUE] = ExprFixed(ctx, kExprSequence, r, w, 2);
      break;
    }
    default:
      break;
  }
}

}  // namespace

void SqlActionsValue(SqlCompileCtx* ctx, int32_t rule) {
  int32_t* r = SemEntry(ctx, 1);
  if (rule <= 527 || (rule >= 542 && rule <= 544)) {
    Operators(ctx, rule, r);
  } else if (rule <= 541) {
    CaseAndCast(ctx, rule, r);
  } else if (rule <= 573) {
    Calls(ctx, rule, r);
  } else {
    DataType(ctx, rule, r);
  }
}
