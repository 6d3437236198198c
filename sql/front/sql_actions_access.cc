// Grammar actions of GRANT and REVOKE: system privileges, object privileges
// with their column lists, the object-kind variants with their variant codes,
// grantee and object name lists, and the grant-option phrases.
#include "sql/front/sql_action_helpers.h"
#include "sql/front/sql_actions.h"
#include "sql/front/stmt_tree.h"

namespace {

constexpr int32_t VW_SYSTEM_PRIVILEGE = 39;
constexpr int32_t VW_PRIVILEGE = 42;
constexpr int32_t VW_BEHAVIOUR = 50;

// Variant codes of the object-kind variants, from production 223 on; the
// REVOKE productions 233 to 241 use the same order.
int32_t VariantCode(int32_t rule) {
  static const int32_t kCodes[] = {1, -1, 3, 6, 2, 0, 7, 4, 5};  // 223 .. 231
  int32_t grant = rule >= 233 ? rule - 10 : rule;
  return kCodes[grant - 223];
}

void Grant(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  auto s = [&](int32_t k) { return SemEntry(ctx, k); };
  if (rule == 222) {
    int32_t args[] = {qqlrev(ctx, s(2)[VW_LIST]), qqlrev(ctx, s(4)[VW_LIST]), s(5)[VW_FLAG]};
    r[VW_QUERY] = StmtNode(ctx, 15, r, args, 3);
    ctx->statement_kind = 46;
  } else if (rule == 224) {
    int32_t args[] = {s(2)[VW_LIST], qqlrev(ctx, s(4)[VW_LIST]), qqlrev(ctx, s(6)[VW_LIST]),
                      s(7)[VW_FLAG]};
    r[VW_QUERY] = StmtNode(ctx, 17, r, args, 4);
    ctx->statement_kind = 44;
  } else {
    // The variants' object phrase is symbol 4 (a keyword and the names).
    int32_t args[] = {VariantCode(rule), qqlrev(ctx, s(4)[VW_LIST]), qqlrev(ctx, s(6)[VW_LIST]),
                      s(7)[VW_FLAG]};
    r[VW_QUERY] = StmtNode(ctx, 16, r, args, 4);
    ctx->statement_kind = 45;
  }
}

void Revoke(SqlCompileCtx* ctx, int32_t rule, int32_t* r) {
  auto s = [&](int32_t k) { return SemEntry(ctx, k); };
  if (rule == 232) {
    int32_t args[] = {qqlrev(ctx, s(3)[VW_LIST]), qqlrev(ctx, s(5)[VW_LIST]), s(2)[VW_FLAG],
                      s(6)[VW_BEHAVIOUR]};
    r[VW_QUERY] = StmtNode(ctx, 18, r, args, 4);
    ctx->statement_kind = 50;
  } else if (rule == 234) {
    int32_t args[] = {s(3)[VW_LIST], qqlrev(ctx, s(5)[VW_LIST]), qqlrev(ctx, s(7)[VW_LIST]),
                      s(2)[VW_FLAG], s(8)[VW_BEHAVIOUR]};
    r[VW_QUERY] = StmtNode(ctx, 20, r, args, 5);
    ctx->statement_kind = 49;
  } else {
    // The variants' object phrase is symbol 5.
    int32_t args[] = {VariantCode(rule), qqlrev(ctx, s(5)[VW_LIST]), qqlrev(ctx, s(7)[VW_LIST]),
                      s(2)[VW_FLAG], s(8)[VW_BEHAVIOUR]};
    r[VW_QUERY] = StmtNode(ctx, 19, r, args, 5);
    ctx->statement_kind = 51;
  }
}

int32_t Privilege(SqlCompileCtx* ctx, int32_t code, int32_t columns) {
  int32_t values[] = {code, columns};
  return TreeRecord(ctx, 2, values);
}

}  // namespace

// 222 to 281.
void SqlActionsAccess(SqlCompileCtx* ctx, int32_t rule) {
  int32_t* r = SemEntry(ctx, 1);
  if (rule <= 231) {
    Grant(ctx, rule, r);
    return;
  }
  if (rule <= 241) {
    Revoke(ctx, rule, r);
    return;
  }
  switch (rule) {
    case 242:
    case 280:
      r[VW_FLAG] = 0;
      break;
    case 243:
    case 281:
      r[VW_FLAG] = 1;
      break;
    case 245:
    case 247:
    case 249:
    case 250:
    case 251:
    case 252:
    case 253:
    case 254:
    case 256:
      r[VW_LIST] = SemEntry(ctx, 2)[VW_LIST];
      break;
    case 257:
      r[VW_LIST] = qqlrev(ctx, r[VW_LIST]);
      break;
    case 258:
      r[VW_LIST] = qqlcons(ctx, 0, Privilege(ctx, 0, 0));
      break;
    case 261:
      r[VW_LIST] = qqlcons(ctx, 0, r[VW_PRIVILEGE]);
      break;
    case 262:
      r[VW_LIST] = qqlcons(ctx, r[VW_LIST], SemEntry(ctx, 3)[VW_PRIVILEGE]);
      break;
    case 263:
    case 264:
    case 266:
    case 267:
    case 268:
    case 269: {
      static const int32_t kCodes[] = {6, 5, 0, 3, 2, 1, 4};  // 263 .. 269
      r[VW_PRIVILEGE] = Privilege(ctx, kCodes[rule - 263], 0);
      break;
    }
    case 265:
    case 270:
    case 271: {
      int32_t code = rule == 265 ? 5 : rule == 270 ? 2 : 4;
      r[VW_PRIVILEGE] = Privilege(ctx, code, qqlrev(ctx, SemEntry(ctx, 3)[VW_LIST]));
      break;
    }
    case 272:
      r[VW_LIST] = qqlcons(ctx, 0, r[VW_SYSTEM_PRIVILEGE]);
      break;
    case 273:
      r[VW_LIST] = qqlcons(ctx, r[VW_LIST], SemEntry(ctx, 3)[VW_SYSTEM_PRIVILEGE]);
      break;
    case 274:
    case 275:
    case 276:
    case 277:
    case 278:
    case 279: {
      int32_t values[] = {rule - 274};
      r[VW_SYSTEM_PRIVILEGE] = TreeRecord(ctx, 1, values);
      break;
    }
    default:
      break;  // 244, 246, 248, 255, 259, 260: no action
  }
}
