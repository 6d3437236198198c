// Grammar actions of identifiers and the names built from them: keywords
// reduced to identifiers with their class, the names whose length each
// phrase checks (cursor, databank, shadow, ident, column and constraint
// names), the three-, four- and five-word name records, the dotted names of
// routines, the schema path's USER and the view's collection of column names.
#include <algorithm>
#include <cstring>

#include "sql/front/sql_action_helpers.h"
#include "sql/front/sql_actions.h"
#include "sql/front/sql_lookup_services.h"
#include "sql/front/stmt_tree.h"

namespace {

constexpr int32_t VW_RECORD = 38;  // the last part record of a dotted name

// 793 to 831: the class of a name by its production; the keywords of
// classes 5 to 10 (numeric types) also leave their numeric variant.
int32_t IdentifierClass(int32_t rule) {
  if (rule >= 813) rule = rule == 813 ? 793 : rule == 814 ? 794 : rule == 815 ? 795 : rule - 19;
  switch (rule) {
    case 793:
      return 0;
    case 794:
      return 1;
    case 795:
    case 796:
      return 2;
    default:
      return rule - 794;  // 797 PUBLIC 3, 798 CHAR 4, 799 to 812: 5 to 18
  }
}

int32_t ClassVariant(int32_t cls) {
  static const int32_t kVariants[] = {201, 202, 208, 206, 204, 203};  // classes 5 to 10
  return cls >= 5 && cls <= 10 ? kVariants[cls - 5] : 0;
}

void Identifier(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  int32_t n = std::max(r[VW_TEXT_LENGTH], 0);
  int32_t cls = IdentifierClass(rule);
  r[VW_TRUNCATED] = n > kSqlNameMax ? 1 : 0;
  r[VW_NAME_TEXT] = TreeTextCopy(ctx, EntryText(ctx, r), std::min(n, kSqlNameMax));
  r[VW_QUALIFIER] = 0;
  r[VW_IDENT_CLASS] = cls;
  r[VW_VARIANT] = ClassVariant(cls);
  r[VW_SIMPLE_NAME] = NamePart(ctx, r, r[VW_NAME_TEXT], 0);
  if (rule != 793 && rule != 813) {
    SqlParseArea* a = SqlParseAreaOf(ctx);
    a->value[a->depth + 1].code = 2;  // the token now stands as an IDENTIFIER
  }
  if (cls == 1) ActionError(ctx, r, -12125);
}

// A three-word name record: the position and the name.
int32_t ThreeWordName(SqlCompileCtx* ctx, const int32_t* r) {
  int32_t values[] = {r[VW_LINE], r[VW_POS], r[VW_NAME_TEXT]};
  return TreeRecord(ctx, 3, values);
}

// Names whose phrase reports a name cut to 128 characters, with the code.
struct Checked {
  int32_t rule;
  int32_t code;
  bool three_words;  // the name becomes a three-word record in word 2
};
constexpr Checked kChecked[] = {
    {757, -12158, true},  {760, -12159, true},  {767, -12154, false}, {768, -12157, false},
    {769, -12165, false}, {771, -12166, false}, {773, -12168, false}, {774, -12166, false},
    {775, -12166, false}, {776, -12166, false}, {777, -12166, false}, {778, -12166, true},
    {779, -12166, true},  {780, -12160, true},  {781, -12161, true},  {792, -12154, false},
};

// 756: a routine parameter: its name with its type node and default.
void Parameter(SqlCompileCtx* ctx, int32_t* r) {
  if (r[VW_TRUNCATED] != 0) ActionError(ctx, r, -12156);
  int32_t values[] = {r[VW_LINE], r[VW_POS], r[VW_NAME_TEXT], SemEntry(ctx, 2)[VW_TYPE],
                      SemEntry(ctx, 3)[VW_VALUE]};
  r[VW_ELEMENT] = TreeRecord(ctx, 5, values);
}

// 754: USER as a schema of the path: the user's current schema.
void UserSchema(SqlCompileCtx* ctx, int32_t* r) {
  char schema[kSqlNameMax + 1] = {0};
  if (sqlsvc::CurrentSchema(ctx, schema) != 0) schema[0] = 0;
  schema[kSqlNameMax] = 0;
  r[VW_SIMPLE_NAME] =
      NamePart(ctx, r, TreeTextCopy(ctx, schema, static_cast<int32_t>(std::strlen(schema))), 0);
}

// 730, 731: a dotted name of any length; each part's record names the
// record before it as its qualifier.
void DottedName(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  if (rule == 730) {
    r[VW_RECORD] = NamePart(ctx, r, r[VW_NAME_TEXT], 0);
  } else {
    const int32_t* s3 = SemEntry(ctx, 3);
    r[VW_RECORD] = NamePart(ctx, s3, s3[VW_NAME_TEXT], r[VW_RECORD]);
    r[VW_TRUNCATED] = s3[VW_TRUNCATED];
  }
  r[VW_NAME] = QualifiedNameNode(ctx, r, 0, r[VW_RECORD]);
}

}  // namespace

// 753 to 761, 767 to 781, 791 to 831.
void SqlActionsIdentifiers(SqlCompileCtx* ctx, int32_t rule) {
  int32_t* r = SemEntry(ctx, 1);
  if (rule >= 793 && rule <= 831 && rule != 792) {
    Identifier(ctx, rule, r);
    return;
  }
  for (const Checked& c : kChecked) {
    if (c.rule != rule) continue;
    if (r[VW_TRUNCATED] != 0) ActionError(ctx, r, c.code);
    if (c.three_words) r[VW_NAME] = ThreeWordName(ctx, r);
    return;
  }
  SqlActionState* s = ActionState(ctx);
  switch (rule) {
    case 730:
    case 731:
      DottedName(ctx, rule, r);
      break;
    case 754:
      UserSchema(ctx, r);
      break;
    case 756:
      Parameter(ctx, r);
      break;
    case 755: {  // a comment's text: 256 characters at most
      int32_t n = std::max(r[VW_TEXT_LENGTH], 0);
      if (n > 256) {
        ActionError(ctx, r, -12163);
        r[VW_TEXT_LENGTH] = n = 256;
      }
      r[VW_TEXT_RECORD] = TreeCountedCopy(ctx, EntryText(ctx, r), n);
      break;
    }
    case 758: {  // a character literal (LIKE's escape)
      const char* text = EntryText(ctx, r);
      int32_t n = std::max(r[VW_TEXT_LENGTH], 0);
      r[VW_VALUE] = ExprLiteral(ctx, r, 4, TreeCountedCopy(ctx, text, n), 0);
      break;
    }
    case 761:
      r[VW_SIMPLE_NAME] = 0;
      break;
    case 770:  // a column of a column list, collected while a view is defined
      if (r[VW_TRUNCATED] != 0) ActionError(ctx, r, -12120);
      if (s->collection != -1) s->collection = qqlcons(ctx, s->collection, r[VW_SIMPLE_NAME]);
      break;
    case 772:  // a view's name opens the collection
      if (r[VW_TRUNCATED] != 0) ActionError(ctx, r, -12167);
      s->collection = 0;
      break;
    default:
      break;  // 729, 753, 759, 782, 791: the name passes through
  }
}
