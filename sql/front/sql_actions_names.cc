// Grammar actions of literals (joined string literals, numeric literals with
// their pending sign, datetime literals), special values, host parameters,
// interval qualifiers, identifiers and qualified names with their
// 128-character limit, type keywords and the short lists of names and values.
#include <algorithm>
#include <cstring>
#include <string>

#include "sql/front/sql_action_helpers.h"
#include "sql/front/sql_actions.h"
#include "sql/front/stmt_tree.h"

namespace {

int32_t TypeNode(SqlCompileCtx* ctx, int32_t code, int32_t length, int32_t scale) {
  int32_t values[] = {code, length, scale, 0};
  return TreeRecord(ctx, 4, values);
}

int32_t TextRecord(SqlCompileCtx* ctx, const int32_t* entry) {
  return TreeCountedCopy(ctx, EntryText(ctx, entry), std::max(entry[VW_TEXT_LENGTH], 0));
}

// 793, 794: an identifier, cut to 128 characters; a keyword of the first
// group used as one is reported.
void Identifier(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  int32_t n = std::max(r[VW_TEXT_LENGTH], 0);
  r[VW_TRUNCATED] = n > kSqlNameMax ? 1 : 0;
  r[VW_NAME_TEXT] = TreeTextCopy(ctx, EntryText(ctx, r), std::min(n, kSqlNameMax));
  r[VW_QUALIFIER] = 0;
  r[VW_IDENT_CLASS] = rule == 794 ? 1 : rule == 795 ? 2 : rule == 797 ? 3 : 0;
  r[VW_SIMPLE_NAME] = NamePart(ctx, r, r[VW_NAME_TEXT], 0);
  if (rule != 793) {
    SqlParseArea* a = SqlParseAreaOf(ctx);
    a->value[a->depth + 1].code = 2;  // the token now stands as an IDENTIFIER
  }
  if (rule == 794) ActionError(ctx, r, -12125);
}

// 785 to 790: column references and qualified names.
void Names(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  const int32_t* s3 = SemEntry(ctx, 3);
  switch (rule) {
    case 785:
      r[VW_COLUMN] = QualifiedNameNode(ctx, r, NamePart(ctx, r, r[VW_NAME_TEXT], 0), 0);
      break;
    case 786:
      if (r[VW_TRUNCATED] != 0) ActionError(ctx, r, -12120);
      r[VW_COLUMN] =
          QualifiedNameNode(ctx, r, NamePart(ctx, r, s3[VW_NAME_TEXT], r[VW_NAME_TEXT]), 0);
      break;
    case 787: {
      const int32_t* s5 = SemEntry(ctx, 5);
      if (r[VW_TRUNCATED] != 0 || s3[VW_TRUNCATED] != 0) ActionError(ctx, r, -12120);
      int32_t column = NamePart(ctx, r, s5[VW_NAME_TEXT], s3[VW_NAME_TEXT]);
      r[VW_COLUMN] = QualifiedNameNode(ctx, r, column, NamePart(ctx, r, r[VW_NAME_TEXT], 0));
      break;
    }
    case 788: {  // CONSTRAINT name: a three-word name record
      const int32_t* s2 = SemEntry(ctx, 2);
      if (s2[VW_TRUNCATED] != 0) ActionError(ctx, s2, -12156);
      int32_t values[] = {r[VW_LINE], r[VW_POS], s2[VW_NAME_TEXT]};
      r[VW_NAME] = TreeRecord(ctx, 3, values);
      break;
    }
    case 789:
      r[VW_NAME] = QualifiedNameNode(ctx, r, NamePart(ctx, r, r[VW_NAME_TEXT], 0), 0);
      break;
    case 790:
      r[VW_NAME] =
          QualifiedNameNode(ctx, r, NamePart(ctx, r, s3[VW_NAME_TEXT], r[VW_NAME_TEXT]), 0);
      break;
    default:
      break;
  }
}

void HostParameter(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  SqlActionState* s = ActionState(ctx);
  if (rule == 784) {
    int32_t n = std::max(r[VW_TEXT_LENGTH], 0);
    if (n > kSqlNameMax) {
      ActionError(ctx, r, -12162);
      n = kSqlNameMax;
    }
    r[VW_HOST_NAME] = TreeTextCopy(ctx, EntryText(ctx, r), n);
    return;
  }
  if (rule == 783) {
    r[VW_HOST_NAME] = SemEntry(ctx, 2)[VW_HOST_NAME];
    return;
  }
  ++s->host_counter;
  int32_t name = rule == 764 ? TreeTextCopy(ctx, "?", 1) : r[VW_HOST_NAME];
  int32_t indicator = rule == 765 ? SemEntry(ctx, 2)[VW_HOST_NAME] : 0;
  ExprWord w[] = {{22, name}, {23, indicator}, {24, s->host_counter}};
  r[VW_VALUE] = ExprFixed(ctx, kExprHostParameter, r, w, 3);
}

// 638 to 641, 648 to 653: the interval qualifier (no precision phrase is
// taken yet: the leading precision is 2 and the seconds precision 6).
void IntervalField(SqlCompileCtx* ctx, int32_t rule, const int32_t* r) {
  static const int32_t kDigits[] = {2, 0, 5, 4, 2, 0};  // YEAR .. SECOND
  SqlActionState* s = ActionState(ctx);
  switch (rule) {
    case 638: {
      s->leading_precision = 2;
      s->second_word = 6;
      int32_t field = s->type_code - 13;
      if (field < 0 || field > 5) return;
      s->leading_precision += field == 5 ? s->second_word : kDigits[field];
      return;
    }
    case 639: {
      struct Range {
        int32_t start, end, code, digits;
      };
      static const Range kRanges[] = {{13, 14, 19, 2}, {15, 16, 20, 5}, {15, 17, 21, 5},
                                      {15, 18, 22, 5}, {16, 17, 23, 4}, {16, 18, 24, 4},
                                      {17, 18, 25, 2}};
      s->type_code = 0;
      for (const Range& range : kRanges) {
        if (range.start != s->start_field || range.end != s->end_field) continue;
        s->type_code = range.code;
        s->leading_precision += range.digits + (range.end == 18 ? s->second_word : 0);
      }
      if (s->type_code == 0) ActionError(ctx, r, -12282);
      return;
    }
    case 640:
      s->start_field = s->type_code;
      s->leading_precision = 2;
      s->second_word = 6;
      return;
    case 641:
      s->end_field = s->type_code;
      s->second_word = 0;
      return;
    default:
      s->type_code = 13 + (rule - 648);
      return;
  }
}

void Literal(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  const int32_t* s2 = SemEntry(ctx, 2);
  switch (rule) {
    case 663:
    case 664:
    case 665:
      r[VW_VALUE] = ExprLiteral(ctx, r, 10 + (rule - 663), TextRecord(ctx, s2), 0);
      break;
    case 666: {
      SqlActionState* s = ActionState(ctx);
      const int32_t* s3 = SemEntry(ctx, 3);
      int32_t node = ExprLiteral(ctx, r, s->type_code, TextRecord(ctx, s3), 0);
      WsWord(ctx, node, EXN_TYPE) =
          TypeNode(ctx, s->type_code, s->leading_precision, s->second_word);
      WsWord(ctx, node, EXN_TYPE_FLAG) = s->pending_sign == '-' ? 0 : 1;
      s->pending_sign = 0;
      r[VW_VALUE] = node;
      break;
    }
    case 696:
      ActionState(ctx)->pending_sign = '+';
      break;
    case 697:
      ActionState(ctx)->pending_sign = '-';
      break;
    case 702:
      r[VW_VALUE] = ExprLiteral(ctx, r, r[VW_LITERAL_TYPE], r[VW_TEXT_RECORD], 0);
      break;
    case 707:
      r[VW_VALUE] = ExprLiteral(ctx, r, 29, TextRecord(ctx, r), 0);
      break;
    case 713:
      r[VW_VALUE] = ExprLiteral(ctx, r, 34, TextRecord(ctx, r), 0);
      break;
    case 719:
      r[VW_VALUE] = ExprLiteral(ctx, r, 4, TextRecord(ctx, r), 0);
      break;
    case 709:
    case 715:
    case 721:
      JoinLiteralTexts(ctx, r, s2);
      break;
    case 716:
    case 717:
    case 718:
      r[VW_LITERAL_TYPE] = rule == 716 ? 1 : rule == 717 ? 3 : 2;
      r[VW_TEXT_RECORD] = SignedLiteralRecord(ctx, EntryText(ctx, r), r[VW_TEXT_LENGTH]);
      break;
    default:
      break;
  }
}

// 662, 676 to 680: the seconds precision and the K, M, G large-object size,
// left in the type state for the data type that reads them.
void SizeAndPrecision(SqlCompileCtx* ctx, int32_t rule, const int32_t* r) {
  SqlActionState* s = ActionState(ctx);
  const int32_t* s2 = SemEntry(ctx, 2);
  if (rule == 662) {
    int32_t p = NumericValue(ctx, s2, EntryText(ctx, s2), s2[VW_TEXT_LENGTH]);
    if (p > 9) {
      ActionError(ctx, s2, -12512);
      p = 6;
    }
    s->second_word = p;
  } else if (rule == 676) {
    int64_t size = 0;
    std::string digits(EntryText(ctx, s2), static_cast<size_t>(std::max(s2[VW_TEXT_LENGTH], 0)));
    if (LengthWithSuffix(&size, digits.c_str(), s->second_word) != 0) {
      ActionError(ctx, s2, -12512);
      size = 0;
    }
    // The 64-bit size: the length word is its low half, the second word
    // its high half.
    s->leading_precision = static_cast<int32_t>(static_cast<uint64_t>(size) & 0xFFFFFFFFu);
    s->second_word = static_cast<int32_t>(static_cast<uint64_t>(size) >> 32);
  } else {
    s->second_word = rule - 677;  // 677 none, 678 K, 679 M, 680 G
  }
  (void)r;
}

void SpecialValue(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  int32_t node = 0;
  switch (rule) {
    case 667:
      node = ExprOfKind(ctx, kExprCurrentTime, r, 0, 0);
      WsWord(ctx, node, EXN_TYPE) = TypeNode(ctx, 11, 6, 0);
      break;
    case 668:
      node = ExprOfKind(ctx, kExprCurrentTimestamp, r, 0, 0);
      WsWord(ctx, node, EXN_TYPE) = TypeNode(ctx, 12, 20, 6);
      break;
    case 671:
      node = ExprOfKind(ctx, kExprCurrentDate, r, 0, 0);
      WsWord(ctx, node, EXN_TYPE) = TypeNode(ctx, 10, 8, 0);
      break;
    case 669:
    case 670: {
      int32_t p = ActionState(ctx)->second_word;
      bool time = rule == 669;
      node = ExprOfKind(ctx, time ? kExprCurrentTime : kExprCurrentTimestamp, r, 0, 0);
      int32_t values[] = {time ? 11 : 12, p + (time ? 6 : 14), p, 0};
      WsWord(ctx, node, EXN_TYPE) = TreeRecord(ctx, 4, values);
      break;
    }
    case 681:
      node = ExprOfKind(ctx, kExprNull, r, 0, 0);
      break;
    case 682:
      node = ExprOfKind(ctx, kExprDefault, r, 0, 0);
      break;
    default:
      node = ExprOfKind(ctx, kExprUserValue, r, rule - 683, 0);
      break;  // 683 to 686
  }
  r[VW_VALUE] = node;
}

void Lists(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  const int32_t* s3 = SemEntry(ctx, 3);
  switch (rule) {
    case 725:
      r[VW_COUNT] = 0;
      r[VW_LIST] = 0;
      break;
    case 727:
    case 736:
      r[VW_LIST] = qqlcons(ctx, 0, r[VW_VALUE]);
      r[VW_COUNT] = 1;
      break;
    case 728:
    case 737:
      r[VW_LIST] = qqlcons(ctx, r[VW_LIST], s3[VW_VALUE]);
      ++r[VW_COUNT];
      break;
    case 732:
      r[VW_LIST] = qqlcons(ctx, 0, r[VW_SIMPLE_NAME]);
      r[VW_COUNT] = 1;
      break;
    case 733:
      r[VW_LIST] = qqlcons(ctx, r[VW_LIST], s3[VW_SIMPLE_NAME]);
      ++r[VW_COUNT];
      break;
    case 740:
      r[VW_LIST] = qqlcons(ctx, 0, r[VW_SIMPLE_NAME]);
      break;
    case 741:
      r[VW_LIST] = qqlcons(ctx, r[VW_LIST], s3[VW_SIMPLE_NAME]);
      break;
    case 742:
      r[VW_LIST] = qqlcons(ctx, 0, r[VW_NAME]);
      break;
    case 743:
      r[VW_LIST] = qqlcons(ctx, r[VW_LIST], s3[VW_NAME]);
      break;
    case 752: {
      ExprWord w[] = {{EXN_OPERAND1, r[VW_COLUMN]}};
      r[VW_VALUE] = ExprFixed(ctx, kExprColumnRef, r, w, 1);
      break;
    }
    default:
      break;
  }
}

// 839 to 847: the numeric variant of a type keyword.
int32_t Variant(int32_t rule) {
  static const int32_t kVariants[] = {201, 201, 202, 208, 206, 206, 207, 204, 203};
  return kVariants[rule - 839];
}

}  // namespace

void SqlActionsNames(SqlCompileCtx* ctx, int32_t rule) {
  int32_t* r = SemEntry(ctx, 1);
  if (rule == 762) {
    SqlActionsQuery(ctx, rule);
  } else if (rule == 662 || (rule >= 676 && rule <= 680)) {
    SizeAndPrecision(ctx, rule, r);
  } else if ((rule >= 638 && rule <= 641) || (rule >= 648 && rule <= 653)) {
    IntervalField(ctx, rule, r);
  } else if (rule == 992) {
    r[VW_TYPE] = TypeNode(ctx, ActionState(ctx)->type_code, 0, 0);
  } else if (rule == 621) {
    SqlActionState* s = ActionState(ctx);
    r[VW_TYPE] = TypeNode(ctx, s->type_code, s->leading_precision, s->second_word);
    r[VW_VARIANT] = 0;
    r[VW_NAME] = 0;
  } else if (rule >= 663 && rule <= 666) {
    Literal(ctx, rule, r);
  } else if (rule >= 667 && rule <= 686) {
    SpecialValue(ctx, rule, r);
  } else if (rule >= 695 && rule <= 724) {
    Literal(ctx, rule, r);
  } else if (rule == 738 || rule == 739) {
    SqlActionsStorage(ctx, rule);
  } else if (rule >= 725 && rule <= 752) {
    Lists(ctx, rule, r);
  } else if (rule >= 763 && rule <= 784) {
    HostParameter(ctx, rule, r);
  } else if (rule >= 785 && rule <= 790) {  // 788: a constraint's name
    Names(ctx, rule, r);
  } else if (rule >= 793 && rule <= 797) {
    Identifier(ctx, rule, r);
  } else if (rule >= 839 && rule <= 847) {
    r[VW_VARIANT] = Variant(rule);
  }
  // Type keywords (622 to 637) keep their token's position; 848 to 991 pass
  // the keyword token on.
}
