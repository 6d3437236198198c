// Grammar actions of literals: string literals joined with their
// continuations (character, national, Unicode and hexadecimal), numeric
// literals with the pending sign, datetime and interval literals, and the
// literals written outside an expression (a sign before a number, strings
// joined by ||).
#include <algorithm>

#include "sql/front/sql_action_helpers.h"
#include "sql/front/sql_actions.h"
#include "sql/front/stmt_tree.h"

namespace {

int32_t TextRecord(SqlCompileCtx* ctx, const int32_t* entry) {
  return TreeCountedCopy(ctx, EntryText(ctx, entry), std::max(entry[VW_TEXT_LENGTH], 0));
}

int32_t TypeNode(SqlCompileCtx* ctx, int32_t code, int32_t length, int32_t scale) {
  int32_t values[] = {code, length, scale, 0};
  return TreeRecord(ctx, 4, values);
}

// 666: INTERVAL [sign] 'text' qualifier: the literal carries the interval
// type and whether it is negative.
int32_t IntervalLiteral(SqlCompileCtx* ctx, const int32_t* r) {
  SqlActionState* s = ActionState(ctx);
  int32_t node = ExprLiteral(ctx, r, s->type_code, TextRecord(ctx, SemEntry(ctx, 3)), 0);
  WsWord(ctx, node, EXN_TYPE) = TypeNode(ctx, s->type_code, s->leading_precision, s->second_word);
  WsWord(ctx, node, EXN_TYPE_FLAG) = s->pending_sign == '-' ? 0 : 1;
  s->pending_sign = 0;
  return node;
}

// The literal type of a string form.
int32_t StringType(int32_t rule) {
  switch (rule) {
    case 707:
    case 691:
      return 29;  // hexadecimal
    case 713:
    case 689:
    case 690:
    case 710:
      return 34;  // national, Unicode
    default:
      return 4;  // 688, 719: character
  }
}

}  // namespace

// 663 to 666, 687 to 724.
void SqlActionsLiterals(SqlCompileCtx* ctx, int32_t rule) {
  int32_t* r = SemEntry(ctx, 1);
  const int32_t* s2 = SemEntry(ctx, 2);
  switch (rule) {
    case 663:
    case 664:
    case 665:
      r[VW_VALUE] = ExprLiteral(ctx, r, 10 + (rule - 663), TextRecord(ctx, s2), 0);
      break;
    case 666:
      r[VW_VALUE] = IntervalLiteral(ctx, r);
      break;
    case 687:  // sign and number: the number took the pending sign
      r[VW_VALUE] = ExprLiteral(ctx, s2, s2[VW_LITERAL_TYPE], s2[VW_TEXT_RECORD], 0);
      break;
    case 688:
    case 689:
    case 690:
    case 691:
    case 707:
    case 710:
    case 713:
    case 719:
      r[VW_VALUE] = ExprLiteral(ctx, r, StringType(rule), TextRecord(ctx, r), 0);
      break;
    case 696:
      ActionState(ctx)->pending_sign = '+';
      break;
    case 697:
      ActionState(ctx)->pending_sign = '-';
      break;
    case 702:
      r[VW_VALUE] = ExprLiteral(ctx, r, r[VW_LITERAL_TYPE], r[VW_TEXT_RECORD], 0);
      break;
    case 709:
    case 712:
    case 715:
    case 721:
    case 723:
      JoinLiteralTexts(ctx, r, s2);
      break;
    case 704: {  // VALUE: a column named VALUE (the value a domain's check tests)
      int32_t name = NamePart(ctx, r, TreeTextCopy(ctx, "VALUE", 5), 0);
      ExprWord w[] = {{EXN_OPERAND1, QualifiedNameNode(ctx, r, name, 0)}};
      r[VW_VALUE] = ExprFixed(ctx, kExprColumnRef, r, w, 1);
      break;
    }
    case 724:  // string || string outside an expression
      JoinLiteralTexts(ctx, r, SemEntry(ctx, 3));
      break;
    case 716:
    case 717:
    case 718:
      r[VW_LITERAL_TYPE] = rule == 716 ? 1 : rule == 717 ? 3 : 2;
      r[VW_TEXT_RECORD] = SignedLiteralRecord(ctx, EntryText(ctx, r), r[VW_TEXT_LENGTH]);
      break;
    default:
      break;  // 692, 693, 695, 698 to 701, 703, 705, 706, 708, 711, 714, 720, 722
  }
}
