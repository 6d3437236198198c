// Grammar actions of idents (users, groups, programs), databanks with their
// file, size and logging phrases, shadows, their alterations, and SET PATH
// with its schema path of at most three names.
#include <cstring>

#include "sql/front/sql_action_helpers.h"
#include "sql/front/sql_actions.h"
#include "sql/front/stmt_tree.h"

namespace {

constexpr int32_t VW_COUNTED = 14;  // a counted text (file, size, password)
constexpr int32_t VW_SECOND_COUNTED = 15;
constexpr int32_t VW_LOGGING = 29;  // 1 NULL, 2 TRANS, 3 LOG
constexpr int32_t VW_CHOICE = 30;

int32_t* S(SqlCompileCtx* ctx, int32_t k) {
  return SemEntry(ctx, k);
}

int32_t Node(SqlCompileCtx* ctx, int32_t kind, const int32_t* at,
             std::initializer_list<int32_t> a) {
  return StmtNode(ctx, kind, at, a.begin(), static_cast<int32_t>(a.size()));
}

int32_t Counted(SqlCompileCtx* ctx, const int32_t* entry) {
  return TreeCountedCopy(ctx, EntryText(ctx, entry), entry[VW_TEXT_LENGTH]);
}

// 50: a password of 1 to 18 characters without blanks.
void Password(SqlCompileCtx* ctx, int32_t* r) {
  const int32_t* s2 = S(ctx, 2);
  int32_t n = s2[VW_TEXT_LENGTH];
  const char* text = EntryText(ctx, s2);
  if (n < 1 || n > 18 || std::memchr(text, ' ', static_cast<size_t>(n)) != nullptr) {
    ActionError(ctx, s2, -12123);
  }
  r[VW_COUNTED] = Counted(ctx, s2);
  r[VW_VALUE] = ExprLiteral(ctx, s2, 4, Counted(ctx, s2), 0);
}

void Ident(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  switch (rule) {
    case 44: {
      const int32_t* c = S(ctx, 5);
      r[VW_QUERY] =
          Node(ctx, 5, r, {S(ctx, 3)[VW_NAME_TEXT], c[VW_CHOICE], c[VW_COUNTED], c[VW_FLAG]});
      break;
    }
    case 45:
      r[VW_CHOICE] = 3;
      r[VW_COUNTED] = 0;
      r[VW_FLAG] = S(ctx, 2)[VW_FLAG];
      break;
    case 46:
      r[VW_CHOICE] = 0;
      r[VW_COUNTED] = 0;
      r[VW_FLAG] = 0;
      break;
    case 47:
    case 48:
    case 49:
      r[VW_CHOICE] = rule == 47 ? 2 : rule == 48 ? 3 : 1;
      r[VW_COUNTED] = S(ctx, 2)[VW_COUNTED];
      r[VW_FLAG] = S(ctx, 3)[VW_FLAG];
      break;
    case 50:
      Password(ctx, r);
      break;
    case 53:
    case 55:
      r[VW_FLAG] = 1;
      break;
    case 54:
      r[VW_FLAG] = 0;
      break;
    case 134:
      r[VW_QUERY] = Node(ctx, 11, r, {S(ctx, 3)[VW_NAME_TEXT], S(ctx, 4)[VW_COUNTED]});
      break;
    default:
      break;
  }
}

void Databank(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  switch (rule) {
    case 56:
      r[VW_QUERY] = Node(ctx, 6, r,
                         {S(ctx, 3)[VW_SIMPLE_NAME], S(ctx, 5)[VW_COUNTED], S(ctx, 6)[VW_LOGGING],
                          S(ctx, 4)[VW_COUNTED]});
      break;
    case 57:
      r[VW_COUNTED] = TreeCountedCopy(ctx, "1000", 4);
      break;
    case 58:
      r[VW_COUNTED] = Counted(ctx, S(ctx, 2));
      break;
    case 59:
      r[VW_COUNTED] = 0;
      break;
    case 60:
      r[VW_COUNTED] = S(ctx, 2)[VW_COUNTED];
      break;
    case 61:
      r[VW_LOGGING] = 2;
      break;
    case 62:
      r[VW_LOGGING] = S(ctx, 2)[VW_LOGGING];
      break;
    case 77:
      r[VW_QUERY] = Node(
          ctx, 8, r, {S(ctx, 3)[VW_SIMPLE_NAME], S(ctx, 5)[VW_SIMPLE_NAME], S(ctx, 7)[VW_COUNTED]});
      break;
    case 88:
      r[VW_COUNTED] = Counted(ctx, r);
      break;
    case 135: {
      const int32_t* c = S(ctx, 4);
      r[VW_QUERY] =
          Node(ctx, 12, r,
               {S(ctx, 3)[VW_SIMPLE_NAME], c[VW_COUNTED], c[VW_LOGGING], c[VW_SECOND_COUNTED]});
      break;
    }
    case 136:
    case 137:
    case 138:
      r[VW_COUNTED] = rule == 137 ? S(ctx, 2)[VW_COUNTED] : 0;
      r[VW_LOGGING] = rule == 138 ? S(ctx, 2)[VW_LOGGING] : 0;
      r[VW_SECOND_COUNTED] = rule == 136 ? Counted(ctx, S(ctx, 2)) : 0;
      break;
    case 139:
      r[VW_LOGGING] = 3;
      break;
    case 140:
      r[VW_LOGGING] = 2;
      break;
    case 141:
      r[VW_LOGGING] = 1;
      break;
    case 142: {
      const int32_t* c = S(ctx, 4);
      r[VW_QUERY] = Node(
          ctx, 13, r, {S(ctx, 3)[VW_SIMPLE_NAME], c[VW_COUNTED], c[VW_SECOND_COUNTED], c[VW_FLAG]});
      break;
    }
    case 143:
    case 144:
    case 145:
      r[VW_COUNTED] = rule == 143 ? Counted(ctx, S(ctx, 2)) : 0;
      r[VW_SECOND_COUNTED] = rule == 144 ? S(ctx, 2)[VW_COUNTED] : 0;
      r[VW_FLAG] = rule == 145 ? 1 : 0;
      break;
    default:
      break;
  }
}

}  // namespace

// 11, 44 to 62, 77, 88, 134 to 145, 738, 739.
void SqlActionsStorage(SqlCompileCtx* ctx, int32_t rule) {
  int32_t* r = SemEntry(ctx, 1);
  SqlActionState* s = ActionState(ctx);
  switch (rule) {
    case 11:
      r[VW_QUERY] = Node(ctx, 32, r, {qqlrev(ctx, S(ctx, 3)[VW_LIST])});
      ctx->statement_kind = 56;
      return;
    case 738:
      s->path_counter = 1;
      r[VW_LIST] = qqlcons(ctx, 0, r[VW_SIMPLE_NAME]);
      return;
    case 739:
      // The path holds three schemas; a fourth is reported and dropped.
      if (s->path_counter >= 3) {
        ActionError(ctx, S(ctx, 3), -12169);
        return;
      }
      ++s->path_counter;
      r[VW_LIST] = qqlcons(ctx, r[VW_LIST], S(ctx, 3)[VW_SIMPLE_NAME]);
      return;
    default:
      break;
  }
  if ((rule >= 44 && rule <= 55) || rule == 134) {
    Ident(ctx, rule, r);
  } else {
    Databank(ctx, rule, r);
  }
}
