// Grammar actions of literals (joined string literals, numeric literals with
// their pending sign, datetime literals), special values, host parameters,
// interval qualifiers, identifiers and qualified names with their
// 128-character limit, type keywords and the short lists of names and values.
#include <algorithm>
#include <cstring>
#include <string>

#include "sql/front/sql_action_helpers.h"
#include "sql/front/sql_actions.h"
#include "sql/front/sql_lookup_services.h"
#include "sql/front/stmt_tree.h"

namespace {

int32_t TypeNode(SqlCompileCtx* ctx, int32_t code, int32_t length, int32_t scale) {
  int32_t values[] = {code, length, scale, 0};
  return TreeRecord(ctx, 4, values);
}

// 785 to 790: column references and qualified names.
void Names(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  const int32_t* s3 = SemEntry(ctx, 3);
  switch (rule) {
    // 785, 789: the identifier's own name part (position, name, no
    // qualifier) is the one part of the name; no consumer of a column
    // reference or qualified name reads it besides.
    case 785:
      r[VW_COLUMN] = QualifiedNameNode(ctx, r, r[VW_SIMPLE_NAME], 0);
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
      r[VW_NAME] = QualifiedNameNode(ctx, r, r[VW_SIMPLE_NAME], 0);
      break;
    case 790:
      r[VW_NAME] =
          QualifiedNameNode(ctx, r, NamePart(ctx, r, s3[VW_NAME_TEXT], r[VW_NAME_TEXT]), 0);
      // The inner name's text and class stand for the whole name; a cut in
      // either part counts.
      r[VW_NAME_TEXT] = s3[VW_NAME_TEXT];
      r[VW_IDENT_CLASS] = s3[VW_IDENT_CLASS];
      r[VW_VARIANT] = s3[VW_VARIANT];
      r[VW_TRUNCATED] = r[VW_TRUNCATED] != 0 || s3[VW_TRUNCATED] != 0 ? 1 : 0;
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
  bool unnamed = rule == 764 || rule == 766;
  int32_t name = unnamed ? TreeTextCopy(ctx, "?", 1) : r[VW_HOST_NAME];
  int32_t indicator = rule == 765 ? SemEntry(ctx, 2)[VW_HOST_NAME] : 0;
  ExprWord w[] = {{22, name}, {23, indicator}, {24, s->host_counter}};
  r[VW_VALUE] = ExprFixed(ctx, kExprHostParameter, r, w, 3);
  if (rule == 766) {
    // The interval type its qualifier left in the type state.
    WsWord(ctx, r[VW_VALUE], EXN_TYPE) =
        TypeNode(ctx, s->type_code, s->leading_precision, s->second_word);
    WsWord(ctx, r[VW_VALUE], EXN_TYPE_CLASS) = s->type_code;
  }
}

// 638 to 661, 648 to 653: the interval qualifier. The precision phrases set
// the leading precision (default 2) and the seconds precision (default 6, an
// end field without one 0) before the qualifier adds the fields' digits.
void IntervalField(SqlCompileCtx* ctx, int32_t rule, const int32_t* r) {
  static const int32_t kDigits[] = {2, 0, 5, 4, 2, 0};    // YEAR .. SECOND
  static const int32_t kLimits[] = {7, 7, 7, 8, 10, 12};  // leading precision
  SqlActionState* s = ActionState(ctx);
  switch (rule) {
    case 638: {
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
      return;
    case 641:
      s->end_field = s->type_code;
      s->second_word = 0;
      return;
    case 642:
      s->end_field = s->type_code;
      return;
    case 643:
      s->second_word = 0;
      return;
    case 654:
      s->leading_precision = 2;
      return;
    case 656:
    case 659:
      s->second_word = 6;
      return;
    case 658:
      s->leading_precision = 2;
      s->second_word = 6;
      return;
    case 661: {
      int32_t p = NumericValue(ctx, r, EntryText(ctx, r), r[VW_TEXT_LENGTH]);
      int32_t field = s->type_code - 13;
      if (p <= 0 || field < 0 || field > 5 || p > kLimits[field]) {
        ActionError(ctx, r, -12512);
        p = 2;
      }
      s->leading_precision = p;
      return;
    }
    default:
      if (rule >= 648 && rule <= 653) s->type_code = 13 + (rule - 648);
      return;  // 644, 646, 647, 655, 657, 660: no action
  }
}

// 662, 676 to 680: the seconds precision and the K, M, G large-object size,
// left in the type state for the data type that reads them.
void SizeAndPrecision(SqlCompileCtx* ctx, int32_t rule, const int32_t* r) {
  SqlActionState* s = ActionState(ctx);
  const int32_t* s2 = SemEntry(ctx, 2);
  if (rule == 662) {
    int32_t p = NumericValue(ctx, r, EntryText(ctx, r), r[VW_TEXT_LENGTH]);
    if (p > 9) {
      ActionError(ctx, r, -12512);
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
    case 683:
    case 684:
    case 685:
    case 686:
      node = ExprOfKind(ctx, kExprUserValue, r, rule - 683, 0);
      break;
    default:
      return;  // 672 to 675: the keyword's position passes on
  }
  r[VW_VALUE] = node;
}

// 748, 749: a GROUP BY column with its collation: looked up by name; not
// found: -12632 with the qualified name. The built-in collations 136, 138 and
// 140 are stored as 0.
int32_t CollatedElement(SqlCompileCtx* ctx, const int32_t* element, const int32_t* collate) {
  int32_t node = element[VW_VALUE];
  if (collate[VW_NAME] == 0 || node == 0) return node;
  QualifiedName name;
  qqnamget(ctx, collate[VW_NAME], &name);
  int32_t id = 0;
  if (sqlsvc::qdgetcollation(ctx, name.name[1], name.name[0], &id) != 0) {
    std::string shown = name.name[1][0] != 0 ? std::string(name.name[1]) + "." : std::string();
    ActionErrorItem(ctx, collate, -12632, 'O', shown + name.name[0]);
    id = 0;
  }
  WsWord(ctx, node, EXN_COLLATION_LEVEL) = 3;
  WsWord(ctx, node, EXN_COLLATION) = id == 136 || id == 138 || id == 140 ? 0 : id;
  return node;
}

void Lists(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  const int32_t* s3 = SemEntry(ctx, 3);
  switch (rule) {
    case 725:
      r[VW_COUNT] = 0;
      r[VW_LIST] = 0;
      break;
    case 727:
    case 734:
    case 736:
      r[VW_LIST] = qqlcons(ctx, 0, r[VW_VALUE]);
      r[VW_COUNT] = 1;
      break;
    case 728:
    case 735:
    case 737:
      r[VW_LIST] = qqlcons(ctx, r[VW_LIST], s3[VW_VALUE]);
      ++r[VW_COUNT];
      break;
    case 748:
      r[VW_LIST] = qqlcons(ctx, 0, CollatedElement(ctx, r, SemEntry(ctx, 2)));
      r[VW_COUNT] = 1;
      break;
    case 749:
      r[VW_LIST] = qqlcons(ctx, r[VW_LIST], CollatedElement(ctx, s3, SemEntry(ctx, 4)));
      ++r[VW_COUNT];
      break;
    case 750:
      r[VW_LIST] = qqlcons(ctx, 0, r[VW_ELEMENT]);
      r[VW_COUNT] = 1;
      break;
    case 751:
      r[VW_LIST] = qqlcons(ctx, r[VW_LIST], s3[VW_ELEMENT]);
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
    case 744:
    case 746:
      r[VW_LIST] = qqlcons(ctx, 0, r[VW_SIMPLE_NAME]);
      break;
    case 741:
    case 745:
    case 747:
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
  } else if (rule >= 638 && rule <= 661 && rule != 645) {
    IntervalField(ctx, rule, r);
  } else if (rule == 645) {
    r[VW_TYPE] = ActionState(ctx)->type_code;
  } else if (rule == 992) {
    r[VW_TYPE] = TypeNode(ctx, ActionState(ctx)->type_code, 0, 0);
  } else if (rule == 621) {
    SqlActionState* s = ActionState(ctx);
    r[VW_TYPE] = TypeNode(ctx, s->type_code, s->leading_precision, s->second_word);
    r[VW_VARIANT] = 0;
    r[VW_NAME] = 0;
  } else if ((rule >= 663 && rule <= 666) || (rule >= 687 && rule <= 724)) {
    SqlActionsLiterals(ctx, rule);
  } else if (rule >= 667 && rule <= 686) {
    SpecialValue(ctx, rule, r);
  } else if (rule == 738 || rule == 739) {
    SqlActionsStorage(ctx, rule);
  } else if ((rule >= 729 && rule <= 731) || (rule >= 753 && rule <= 761) ||
             (rule >= 767 && rule <= 781) || (rule >= 791 && rule <= 831)) {
    SqlActionsIdentifiers(ctx, rule);
  } else if (rule >= 725 && rule <= 752) {
    Lists(ctx, rule, r);
  } else if ((rule >= 763 && rule <= 766) || rule == 783 || rule == 784) {
    HostParameter(ctx, rule, r);
  } else if (rule >= 785 && rule <= 790) {  // 788: a constraint's name
    Names(ctx, rule, r);
  } else if (rule >= 839 && rule <= 847) {
    r[VW_VARIANT] = Variant(rule);
  }
  // Type keywords (622 to 637) keep their token's position; 848 to 991 pass
  // the keyword token on.
}
