// Values that enter a statement from outside its text: literals, host
// variables and parameter markers, and operands whose type comes from the
// other side of their operation.
#include <algorithm>
#include <cstring>

#include "sql/front/compile_context.h"
#include "sql/front/compile_diag.h"
#include "sql/front/compile_driver.h"
#include "sql/front/expr_types.h"
#include "sql/front/sem_stack.h"
#include "sql/front/sql_types.h"
#include "sql/front/typing_support.h"

using namespace typing;

namespace {

// Digits after the point of a datetime literal's text.
int32_t FractionDigits(const char* text, int32_t length) {
  const char* point = static_cast<const char*>(std::memchr(text, '.', static_cast<size_t>(length)));
  if (point == nullptr) return 0;
  int32_t f = 0;
  for (const char* p = point + 1; p < text + length && *p >= '0' && *p <= '9'; ++p) ++f;
  return f;
}

void NumericLiteral(SqlCompileCtx* ctx, int32_t node, int32_t code, const char* text,
                    int32_t length) {
  int32_t status = 0;
  int32_t digits = 0;
  int32_t scale = 0;
  qclitscan(&status, &digits, &scale, text, length);
  if (status != 0) {
    if (status == -5 || status == -1) {
      UserError(ctx, node, -12230);
    } else if (status == -3 || status == -2) {
      UserError(ctx, node, -12265);
    } else {
      W(ctx, node, EXN_TYPE_CLASS) = kClassNone;
    }
    return;
  }
  W(ctx, node, EXN_NON_NEGATIVE) = length > 0 && text[0] == '-' ? 0 : 1;
  if (digits > 45) {
    if (scale > 0) scale = std::max(scale - (digits - 45), 0);
    digits = 45;
  }
  if (code == kSqlTypeFloat) scale = -1;
  if (code == kSqlTypeInt) scale = 0;
  SetType(ctx, node, code, digits, scale, 0);
  ctx->typing.constant_bytes += qmlitbytes(ctx, node);
}

// Datetime (10 to 12) and interval (13 to 25) literals, checked by the value
// converter.
void DatetimeLiteral(SqlCompileCtx* ctx, int32_t node, int32_t code, int32_t record) {
  const char* text = qqwsadr(ctx, record) + 4;
  int32_t length = W(ctx, record, 0);
  uint8_t out[64] = {};
  int32_t status = 0;
  qcnumcvt(out, reinterpret_cast<const uint8_t*>(qqwsadr(ctx, record)), &status, code, false);
  bool interval = code >= kSqlTypeIntervalFirst;
  if (status == -9 || status == -7 || status == -3 || status == -2 || status == -1) {
    UserError(ctx, node, interval ? -12281 : -12280);
    return;
  }
  if (status < 0) qcinterr(ctx, "QME: qmaval", -19280);
  if (interval) {
    W(ctx, node, EXN_TYPE_CLASS) = qmtypcls(code);
  } else {
    int32_t f = FractionDigits(text, length);
    int32_t n = code == kSqlTypeDate ? 8 : code == kSqlTypeTime ? 6 + f : 14 + f;
    SetType(ctx, node, code, n, code == kSqlTypeDate ? 0 : f, 0);
  }
  ctx->typing.constant_bytes += qmlitbytes(ctx, node);
}

// Whether the host-variable node is a parameter marker ("?").
bool IsMarker(SqlCompileCtx* ctx, int32_t node) {
  int32_t name = W(ctx, node, EXN_OPERAND1);
  return name != 0 && std::strcmp(qqwsadr(ctx, name), "?") == 0;
}

// Enters the node after every entry whose number is not greater than its own.
void EnterHostList(SqlCompileCtx* ctx, int32_t node) {
  int32_t number = W(ctx, node, EXN_HOST_NUMBER);
  int32_t& head = ctx->parameter_list;
  int32_t cell = qqlcons(ctx, 0, node);
  if (head == 0 || W(ctx, W(ctx, head, CELL_VALUE), EXN_HOST_NUMBER) > number) {
    W(ctx, cell, CELL_NEXT) = head;
    head = cell;
    return;
  }
  int32_t at = head;
  while (W(ctx, at, CELL_NEXT) != 0 &&
         W(ctx, W(ctx, W(ctx, at, CELL_NEXT), CELL_VALUE), EXN_HOST_NUMBER) <= number) {
    at = W(ctx, at, CELL_NEXT);
  }
  W(ctx, cell, CELL_NEXT) = W(ctx, at, CELL_NEXT);
  W(ctx, at, CELL_NEXT) = cell;
}

// The operand a kind-34 wrapper stands for.
int32_t LookThrough(SqlCompileCtx* ctx, int32_t node) {
  return Kind(ctx, node) == kExprWrapper && W(ctx, node, EXN_OPERAND1) != 0
             ? W(ctx, node, EXN_OPERAND1)
             : node;
}

// The default type of an untyped operand by mode; mode 1 gives `length`.
void TypeByMode(SqlCompileCtx* ctx, int32_t node, int32_t mode, int32_t length) {
  switch (mode) {
    case kUntypedCharacter:
      SetType(ctx, node, kSqlTypeVarchar, length, -1, 0);
      break;
    case kUntypedNumeric:
      SetType(ctx, node, kSqlTypeDecimal, 45, 0, 0);
      break;
    case kUntypedInteger:
      SetType(ctx, node, kSqlTypeInt, 10, 0, kVariantInteger);
      break;
    default:
      UserError(ctx, node, -12262);
      break;
  }
}

// The wrapper passes its operand's new type on.
void PassBack(SqlCompileCtx* ctx, int32_t wrapper, int32_t inner) {
  if (wrapper == inner) return;
  W(ctx, wrapper, EXN_TYPE) = W(ctx, inner, EXN_TYPE);
  W(ctx, wrapper, EXN_TYPE_CLASS) = W(ctx, inner, EXN_TYPE_CLASS);
}

}  // namespace

int32_t qmlitbytes(SqlCompileCtx* ctx, int32_t node) {
  int32_t code = W(ctx, node, EXN_LITERAL_TYPE);
  int32_t record = W(ctx, node, EXN_OPERAND1);
  int32_t length = record == 0 ? 0 : std::max(W(ctx, record, 0), 0);
  switch (code) {
    case 1:
    case 2:
    case 3:
      return qcdeclen(Length(ctx, node));
    case 4:
    case 8:
    case 29:
    case 30:
    case 31:
    case 32:
    case 34:
    case 35:
      return length + 1;
    default:
      if (code >= kSqlTypeDate && code <= kSqlTypeIntervalLast && record != 0) {
        return qcdeclen(Length(ctx, node));
      }
      return Length(ctx, node);
  }
}

void qmaval(SqlCompileCtx* ctx, int32_t node) {
  W(ctx, node, EXN_DERIVATION) = 3;
  W(ctx, node, EXN_NULLABLE) = 0;
  int32_t code = W(ctx, node, EXN_LITERAL_TYPE);
  int32_t record = W(ctx, node, EXN_OPERAND1);
  int32_t length = record == 0 ? 0 : std::max(W(ctx, record, 0), 0);
  const char* text = record == 0 ? "" : qqwsadr(ctx, record) + 4;
  switch (code) {
    case 1:
    case 2:
    case 3:
      NumericLiteral(ctx, node, code, text, length);
      break;
    case 4:
    case 8:
      SetType(ctx, node, code, length, -1, 0);
      ctx->typing.constant_bytes += qmlitbytes(ctx, node);
      break;
    case 29:
    case 30:
    case 31:
    case 32:
      SetType(ctx, node, code, length, -1, 0);
      ctx->typing.constant_bytes += qmlitbytes(ctx, node);
      break;
    case 34:
    case 35:
      SetType(ctx, node, code, length / 3, -1, 0);
      ctx->typing.constant_bytes += qmlitbytes(ctx, node);
      break;
    default:
      if (code >= kSqlTypeDate && code <= kSqlTypeIntervalLast && record != 0) {
        DatetimeLiteral(ctx, node, code, record);
      } else {
        W(ctx, node, EXN_TYPE_CLASS) = qmtypcls(Code(ctx, node));
        ctx->typing.constant_bytes += qmlitbytes(ctx, node);
      }
      break;
  }
}

void qmahos(SqlCompileCtx* ctx, int32_t node, const SemContext* sem) {
  W(ctx, node, EXN_DERIVATION) = 3;
  bool indicator = W(ctx, node, EXN_OPERAND2) != 0;
  switch (ctx->compile_mode) {
    case 2:
    case 5:
    case 7:
    case 8:
    case 9: {
      int32_t declared = W(ctx, node, EXN_TYPE);
      W(ctx, node, EXN_TYPE_CLASS) =
          declared != 0 ? qmtypcls(W(ctx, declared, TD_CODE)) : kClassUntyped;
      W(ctx, node, EXN_NULLABLE) = indicator || IsMarker(ctx, node) ? 1 : 0;
      break;
    }
    case 3:
      UserError(ctx, node, -12263);
      break;
    default: {
      int32_t d[4] = {0, 0, 0, 0};
      if (qqrhva(ctx, d, W(ctx, node, EXN_HOST_NUMBER)) != 1) {
        qcinterr(ctx, "QME: qmahos", -19212);
      }
      SetType(ctx, node, d[0], d[1], d[2], d[3]);
      W(ctx, node, EXN_NULLABLE) = indicator ? 1 : 0;
      break;
    }
  }
  if (sem != nullptr && qmflagtst(sem, 11) != 0) {
    int32_t cls = W(ctx, node, EXN_TYPE_CLASS);
    UserError(ctx, node, -12250);
    W(ctx, node, EXN_TYPE_CLASS) = cls;  // the node keeps its type
  }
  EnterHostList(ctx, node);
}

void qmuntyped(SqlCompileCtx* ctx, int32_t op, int32_t left, int32_t right, int32_t mode) {
  int32_t lw = left;
  int32_t rw = right;
  int32_t l = LookThrough(ctx, left);
  int32_t r = right == 0 ? 0 : LookThrough(ctx, right);
  if (IsUntyped(ctx, l)) {
    if (r != 0 && r != l && !IsUntyped(ctx, r) && !IsNullLiteral(ctx, r) && op != 5) {
      if (Class(ctx, r) == kClassNumeric && op != 0 && op != 35 && Type(ctx, r) != 0) {
        int32_t scale = TypeWord(ctx, r, TD_SCALE);
        SetType(ctx, l, Code(ctx, r), 45 - std::max(scale, 0), scale,
                TypeWord(ctx, r, TD_VARIANT));
      } else {
        ShareType(ctx, l, r);
      }
      W(ctx, l, EXN_TYPE_CLASS) = Class(ctx, r);
    } else {
      TypeByMode(ctx, l, mode, 5000);
    }
    PassBack(ctx, lw, l);
    if (r != 0 && r != l) qmcoll(ctx, l, 52, r, 0);
  }
  if (r != 0 && r != l && IsUntyped(ctx, r)) {
    if (!IsUntyped(ctx, l) && op != 5) {
      int32_t cls_l = Class(ctx, l);
      if (cls_l == kClassNumeric && op != 0 && Type(ctx, l) != 0) {
        SetType(ctx, r, Code(ctx, l), 45, TypeWord(ctx, l, TD_SCALE), TypeWord(ctx, l, TD_VARIANT));
      } else if (cls_l == kClassCharacter && op == 21) {
        int64_t n = Length(ctx, l);
        SetType(ctx, r, kSqlTypeChar, static_cast<int32_t>(std::min<int64_t>(3 * n + 1, 15000)),
                TypeWord(ctx, l, TD_SCALE), TypeWord(ctx, l, TD_VARIANT));
      } else {
        ShareType(ctx, r, l);
        if (Kind(ctx, l) == kExprColumnRef && op == 0 && IsMarker(ctx, r)) {
          W(ctx, r, EXN_NULLABLE) = W(ctx, l, EXN_NULLABLE);
          W(ctx, r, EXN_NON_NEGATIVE) = W(ctx, l, EXN_NON_NEGATIVE);
          if (W(ctx, l, EXN_DOMAIN) > 0) W(ctx, r, EXN_DOMAIN) = W(ctx, l, EXN_DOMAIN);
        }
      }
      W(ctx, r, EXN_TYPE_CLASS) = cls_l;
    } else {
      TypeByMode(ctx, r, mode, 15000);
    }
    PassBack(ctx, rw, r);
    qmcoll(ctx, r, 52, l, 0);
  }
}

void qmhostretype(SqlCompileCtx* ctx, int32_t op, int32_t left, int32_t right) {
  if (ctx->compile_mode != 1 || left == 0 || right == 0) return;
  bool host_left = Kind(ctx, left) == kExprHostParameter;
  bool host_right = Kind(ctx, right) == kExprHostParameter;
  if (host_left == host_right || op > 21) return;
  int32_t host = host_left ? left : right;
  int32_t other = host_left ? right : left;
  int32_t ch = Class(ctx, host);
  int32_t co = Class(ctx, other);
  if (ch == 0 || co == 0 || ch == co) return;
  bool retype = false;
  if (op >= 1 && op <= 4) retype = co == kClassNumeric;
  if (op == 5 || op == 21) retype = co == kClassCharacter;
  if (op >= 10 && op <= 15) retype = true;
  if (op == 0) retype = host == right;  // the value side takes the target's type
  if (retype) qmsettype(ctx, host, other);
}

void qmsettype(SqlCompileCtx* ctx, int32_t host, int32_t model) {
  int32_t code = Code(ctx, model);
  int32_t own = Length(ctx, host);
  int32_t length = Length(ctx, model);
  int32_t scale = TypeWord(ctx, model, TD_SCALE);
  int32_t cls = qmtypcls(code);
  switch (cls) {
    case kClassCharacter:
      SetType(ctx, host, code, std::min(length, 15000), -1, 0);
      break;
    case kClassBinary:
      SetType(ctx, host, code, std::min(length, 15000), scale, 0);
      break;
    case kClassNational:
      SetType(ctx, host, code, std::min(length, 5000), -1, 0);
      break;
    case 31:
    case 32:
    case 33:
      SetType(ctx, host, code, length, scale, 0);
      break;
    default:
      SetType(ctx, host, code, std::min(own, 45), scale, 0);
      break;
  }
}
