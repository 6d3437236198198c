// The type model of expression typing: type classes, the conversion matrix,
// derivation classes, arithmetic and common result types and the typing of
// the binary operators.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "sql/front/compile_context.h"
#include "sql/front/compile_diag.h"
#include "sql/front/expr_types.h"
#include "sql/front/typing_support.h"

namespace {

// Derivation class of a node over operands of classes [left][right].
constexpr int8_t kDerivation[9][9] = {
    {0, 0, 0, 0, 0, 0, 0, 0, 0}, {0, 1, 2, 1, 1, 2, 1, 1, 2}, {0, 2, 2, 2, 2, 2, 2, 2, 2},
    {0, 1, 2, 3, 8, 8, 7, 7, 8}, {0, 1, 2, 4, 4, 8, 7, 7, 8}, {0, 2, 2, 8, 8, 8, 7, 7, 8},
    {0, 1, 2, 7, 7, 7, 7, 7, 7}, {0, 1, 2, 7, 7, 7, 7, 7, 7}, {0, 2, 2, 8, 8, 8, 7, 7, 8}};

bool InRange(int32_t code, int32_t low, int32_t high) {
  return code >= low && code <= high;
}

bool IsYearMonth(int32_t code) {
  return code == 13 || code == 14 || code == 19;
}

bool IsDayTime(int32_t code) {
  return InRange(code, 15, 18) || InRange(code, 20, 25);
}

// The start and end field (13 YEAR .. 18 SECOND) of an interval code.
struct Fields {
  int32_t start;
  int32_t end;
};

Fields IntervalFields(int32_t code) {
  switch (code) {
    case 13:
    case 14:
    case 15:
    case 16:
    case 17:
    case 18:
      return {code, code};
    case 19:
      return {13, 14};
    case 20:
      return {15, 16};
    case 21:
      return {15, 17};
    case 22:
      return {15, 18};
    case 23:
      return {16, 17};
    case 24:
      return {16, 18};
    case 25:
      return {17, 18};
    default:
      return {0, 0};
  }
}

int32_t IntervalOfFields(int32_t start, int32_t end) {
  if (start == end) return start;
  for (int32_t code = 19; code <= 25; ++code) {
    Fields f = IntervalFields(code);
    if (f.start == start && f.end == end) return code;
  }
  return 0;
}

bool IsInterval(int32_t cls) {
  return cls == kClassYearMonth || cls == kClassDayTime;
}

bool IsDatetime(int32_t cls) {
  return cls >= 10 && cls <= 12;
}

int32_t Clamp45(int64_t v) {
  return static_cast<int32_t>(std::min<int64_t>(v, 45));
}

// The fraction digits of an interval: its scale when it has seconds, else
// none (a type phrase without seconds leaves its default seconds precision
// in the scale).
int64_t IntervalScale(int32_t code, int32_t scale) {
  bool seconds = code == 18 || code == 22 || code == 24 || code == 25;
  return seconds ? std::max(scale, 0) : 0;
}

}  // namespace

int32_t qmtypcls(int32_t code) {
  switch (code) {
    case 1:
    case 2:
    case 3:
      return kClassNumeric;
    case 4:
    case 8:
      return kClassCharacter;
    case 10:
    case 11:
    case 12:
    case 31:
    case 32:
    case 33:
      return code;
    case 29:
    case 30:
      return kClassBinary;
    case 34:
    case 35:
      return kClassNational;
    default:
      if (IsYearMonth(code)) return kClassYearMonth;
      if (IsDayTime(code)) return kClassDayTime;
      return kClassNone;
  }
}

int32_t qmcnvchk(int32_t target, int32_t source) {
  if (target == 0 || source == 0) return 1;
  if (target < 1 || target > 35) return 0;
  auto any_of = [source](std::initializer_list<int32_t> codes) {
    for (int32_t c : codes) {
      if (c == source) return 1;
    }
    return 0;
  };
  bool day_time_field = InRange(source, 15, 18);
  bool day_time_range = InRange(source, 20, 25);
  switch (target) {
    case 1:
    case 3:
      return any_of({1, 2, 3, 4, 8, 13, 14, 15, 16, 17, 18, 34, 35});
    case 2:
      return any_of({1, 2, 3, 4, 8, 34, 35});
    case 4:
    case 8:
      return source < 31 || source > 33 ? 1 : 0;
    case 10:
      return any_of({4, 8, 10, 12, 34, 35});
    case 11:
      return any_of({4, 8, 11, 12, 34, 35});
    case 12:
      return any_of({4, 8, 10, 11, 12, 34, 35});
    case 13:
    case 14:
      return any_of({1, 3, 4, 8, 13, 14, 19, 34, 35});
    case 15:
    case 16:
    case 17:
    case 18:
      return any_of({1, 3, 4, 8, 34, 35}) || day_time_field || day_time_range ? 1 : 0;
    case 19:
      return any_of({4, 8, 13, 14, 19, 34, 35});
    case 20:
    case 21:
    case 22:
    case 23:
    case 24:
    case 25:
      return any_of({4, 8, 34, 35}) || day_time_field || day_time_range ? 1 : 0;
    case 29:
    case 30:
      return any_of({4, 8, 29, 30});
    case 34:
    case 35:
      return source < 29 || source > 33 ? 1 : 0;
    default:
      return 0;
  }
}

int32_t qmsamecls(int32_t a, int32_t b) {
  if (a == 31 || a == 32 || b == 31 || b == 32) return 0;
  return a == 0 || b == 0 || a == b ? 1 : 0;
}

int32_t qmderclass(int32_t a, int32_t b) {
  if (a < 0 || a > 8 || b < 0 || b > 8) return 0;
  return kDerivation[a][b];
}

int32_t qmintvspan(int32_t a, int32_t b) {
  bool year_month = IsYearMonth(a) && IsYearMonth(b);
  bool day_time = IsDayTime(a) && IsDayTime(b);
  if (!year_month && !day_time) return 0;
  Fields fa = IntervalFields(a);
  Fields fb = IntervalFields(b);
  return IntervalOfFields(fa.start < fb.start ? fa.start : fb.start,
                          fa.end > fb.end ? fa.end : fb.end);
}


namespace typing {

int32_t NewType(SqlCompileCtx* ctx, int32_t code, int32_t length, int32_t scale, int32_t variant) {
  int32_t values[] = {code, length, scale, variant};
  return TreeRecord(ctx, 4, values);
}

void SetType(SqlCompileCtx* ctx, int32_t node, int32_t code, int32_t length, int32_t scale,
             int32_t variant) {
  W(ctx, node, EXN_TYPE) = NewType(ctx, code, length, scale, variant);
  W(ctx, node, EXN_TYPE_CLASS) = qmtypcls(code);
}

void ShareType(SqlCompileCtx* ctx, int32_t node, int32_t from) {
  W(ctx, node, EXN_TYPE) = Type(ctx, from);
  W(ctx, node, EXN_TYPE_CLASS) = Class(ctx, from);
}

void UserError(SqlCompileCtx* ctx, int32_t node, int32_t code, const char* word) {
  char text[kParamTextBytes];
  BuildParamText(text, word);
  qcerrec(ctx, &W(ctx, node, EXN_LINE), "QME", code, kSevSqlError, text);
  W(ctx, node, EXN_TYPE_CLASS) = kClassNone;
}

void UserErrorNamed(SqlCompileCtx* ctx, int32_t node, int32_t code, char letter, const char* text,
                    const char* tag) {
  char param[kParamTextBytes];
  param[0] = letter;
  param[1] = '\t';
  size_t n = std::min<size_t>(std::strlen(text), kParamTextBytes - 3);
  std::memcpy(param + 2, text, n);
  param[2 + n] = 0;
  qcerrec(ctx, &W(ctx, node, EXN_LINE), tag, code, kSevSqlError, param);
  W(ctx, node, EXN_TYPE_CLASS) = kClassNone;
}

int32_t ConcatLists(SqlCompileCtx* ctx, int32_t a, int32_t b) {
  if (a == 0) return b;
  if (b == 0) return a;
  // The first list's cells are copied (a list is built by prepending from
  // its end), so neither operand's own list changes; the second's are shared.
  int32_t copy = 0;
  for (int32_t i = qqllen(ctx, a); i >= 1; --i) copy = qqlcons(ctx, copy, qqlnth(ctx, a, i));
  return qqlcat(ctx, copy, b);
}

int32_t ConcatColumns(SqlCompileCtx* ctx, int32_t left, int32_t right) {
  return ConcatLists(ctx, left == 0 ? 0 : W(ctx, left, EXN_COLUMNS),
                     right == 0 ? 0 : W(ctx, right, EXN_COLUMNS));
}

void WrapNational(SqlCompileCtx* ctx, int32_t node, int32_t word_a, int32_t word_b) {
  int32_t a = W(ctx, node, word_a);
  int32_t b = W(ctx, node, word_b);
  if (a == 0 || b == 0) return;
  if (Class(ctx, a) == kClassCharacter && Class(ctx, b) == kClassNational) {
    W(ctx, node, word_a) = qmnchcast(ctx, a);
  } else if (Class(ctx, a) == kClassNational && Class(ctx, b) == kClassCharacter) {
    W(ctx, node, word_b) = qmnchcast(ctx, b);
  }
}

// A collation node (kind 100) over an operand, carrying the collation and
// the operand's type and class.
int32_t CollationNode(SqlCompileCtx* ctx, int32_t operand, int32_t level, int32_t collation) {
  int32_t n = ExprOfKind(ctx, 100, &W(ctx, operand, EXN_LINE), operand, 0);
  W(ctx, n, EXN_TYPE) = Type(ctx, operand);
  W(ctx, n, EXN_TYPE_CLASS) = Class(ctx, operand);
  W(ctx, n, EXN_NULLABLE) = W(ctx, operand, EXN_NULLABLE);
  W(ctx, n, EXN_DERIVATION) = W(ctx, operand, EXN_DERIVATION);
  W(ctx, n, EXN_COLUMNS) = W(ctx, operand, EXN_COLUMNS);
  W(ctx, n, EXN_COLLATION_LEVEL) = level;
  W(ctx, n, EXN_COLLATION) = collation;
  return n;
}

SqlQualifiedName NameOf(SqlCompileCtx* ctx, int32_t qualified) {
  QualifiedName parts;
  qqnamget(ctx, qualified, &parts);
  SqlQualifiedName q;
  std::snprintf(q.schema, sizeof q.schema, "%s", parts.name[1]);
  std::snprintf(q.name, sizeof q.name, "%s", parts.name[0]);
  return q;
}

bool IsBuiltInCollation(int32_t collation) {
  return collation == 0 || collation == 136 || collation == 138 || collation == 140;
}

}  // namespace typing

using namespace typing;

int32_t qmnchcast(SqlCompileCtx* ctx, int32_t operand) {
  int32_t code = Code(ctx, operand);
  int32_t to = code == 4 ? 34 : code == 8 ? 35 : code == 34 ? 4 : code == 35 ? 8 : 0;
  if (to == 0) return operand;
  int32_t t = Type(ctx, operand);
  if ((code == 4 || code == 8) && W(ctx, t, TD_LENGTH) > 5000) return operand;
  int32_t cast = ExprOfKind(ctx, kExprCast, &W(ctx, operand, EXN_LINE), operand, 0);
  int32_t type = NewType(ctx, to, W(ctx, t, TD_LENGTH), W(ctx, t, TD_SCALE), W(ctx, t, TD_VARIANT));
  W(ctx, cast, 24) = type;  // the spelled target
  W(ctx, cast, EXN_TYPE) = type;
  W(ctx, cast, EXN_TYPE_CLASS) = qmtypcls(to);
  W(ctx, cast, EXN_NULLABLE) = W(ctx, operand, EXN_NULLABLE);
  W(ctx, cast, EXN_DERIVATION) = W(ctx, operand, EXN_DERIVATION);
  W(ctx, cast, EXN_COLUMNS) = W(ctx, operand, EXN_COLUMNS);
  W(ctx, cast, EXN_COLLATION_LEVEL) = W(ctx, operand, EXN_COLLATION_LEVEL);
  W(ctx, cast, EXN_COLLATION) = W(ctx, operand, EXN_COLLATION);
  return cast;
}

int32_t qmarithtype(SqlCompileCtx* ctx, int32_t node, int32_t op, int32_t a, int32_t b) {
  if (a == 0 || b == 0) return 0;
  int32_t ca = W(ctx, a, TD_CODE);
  int32_t cb = W(ctx, b, TD_CODE);
  int64_t pa = W(ctx, a, TD_LENGTH);
  int64_t pb = W(ctx, b, TD_LENGTH);
  int64_t sa = std::max(W(ctx, a, TD_SCALE), 0);
  int64_t sb = std::max(W(ctx, b, TD_SCALE), 0);
  if (ca == kSqlTypeFloat || cb == kSqlTypeFloat) {
    return NewType(ctx, kSqlTypeFloat, static_cast<int32_t>(std::max({pa, pb, int64_t{15}})), -1,
                   0);
  }
  bool exact_a = ca == kSqlTypeInt || ca == kSqlTypeDecimal;
  bool exact_b = cb == kSqlTypeInt || cb == kSqlTypeDecimal;
  if (exact_a && exact_b) {
    bool both_int = ca == kSqlTypeInt && cb == kSqlTypeInt;
    int64_t p = 0;
    int64_t s = 0;
    switch (op) {
      case 1:
      case 2:
        s = std::max(sa, sb);
        p = std::min(std::max(pa - sa, pb - sb) + s + 1, int64_t{45});
        break;
      case 3:
        p = Clamp45(pa + pb);
        s = Clamp45(sa + sb);
        break;
      case 4:
        p = std::min(std::max(pa + pb, int64_t{15}), int64_t{45});
        s = sa - sb - pa + p;
        if (both_int) p -= s;
        if (s < 0) {
          UserError(ctx, node, -12266);
          return 0;
        }
        break;
      default:
        return 0;
    }
    if (both_int) return NewType(ctx, kSqlTypeInt, static_cast<int32_t>(p), 0, 0);
    return NewType(ctx, kSqlTypeDecimal, static_cast<int32_t>(p), static_cast<int32_t>(s), 0);
  }
  if (op != 1 && op != 2) return 0;
  int32_t code = qmintvspan(ca, cb);
  if (code == 0) return 0;
  sa = IntervalScale(ca, W(ctx, a, TD_SCALE));
  sb = IntervalScale(cb, W(ctx, b, TD_SCALE));
  int64_t s = std::max(sa, sb);
  int64_t p = std::min(std::max(pa - sa, pb - sb) + s + 1, int64_t{45});
  return NewType(ctx, code, static_cast<int32_t>(p), static_cast<int32_t>(s), 0);
}

void qmcommontype(SqlCompileCtx* ctx, int32_t a, int32_t b, int32_t* out, int32_t* out_class,
                  int32_t keep_variant) {
  int32_t ca = W(ctx, a, TD_CODE);
  int32_t cb = W(ctx, b, TD_CODE);
  int32_t pa = W(ctx, a, TD_LENGTH);
  int32_t pb = W(ctx, b, TD_LENGTH);
  int32_t sa = W(ctx, a, TD_SCALE);
  int32_t sb = W(ctx, b, TD_SCALE);
  int32_t variant = keep_variant != 0 && W(ctx, a, TD_VARIANT) == W(ctx, b, TD_VARIANT)
                        ? W(ctx, a, TD_VARIANT)
                        : 0;
  int32_t cls_a = qmtypcls(ca);
  int32_t cls_b = qmtypcls(cb);
  int32_t code = ca;
  int32_t length = std::max(pa, pb);
  int32_t scale = 0;
  int32_t cls = cls_a;
  if ((cls_a == kClassCharacter && cls_b == kClassCharacter) ||
      (cls_a == kClassNational && cls_b == kClassNational)) {
    bool fixed = (ca == 4 && cb == 4) || (ca == 34 && cb == 34);
    code = cls_a == kClassCharacter ? (fixed ? 4 : 8) : (fixed ? 34 : 35);
  } else if (cls_a == kClassBinary && cls_b == kClassBinary) {
    code = ca == 29 && cb == 29 && pa == pb ? 29 : 30;
  } else if (ca != kSqlTypeFloat && cb != kSqlTypeFloat &&
             !(ca == kSqlTypeInt && cb == kSqlTypeInt)) {
    if (IsInterval(cls_a) && IsInterval(cls_b)) {
      sa = static_cast<int32_t>(IntervalScale(ca, sa));
      sb = static_cast<int32_t>(IntervalScale(cb, sb));
    }
    int64_t s = std::max({sa, sb, 0});
    int64_t p = std::min(std::max(int64_t{pa} - std::max(sa, 0), int64_t{pb} - std::max(sb, 0)) + s,
                         int64_t{45});
    length = static_cast<int32_t>(p);
    scale = static_cast<int32_t>(s);
    if (ca == kSqlTypeInt || ca == kSqlTypeDecimal) {
      code = kSqlTypeDecimal;
      cls = kClassNumeric;
    } else if (IsInterval(cls_a)) {
      code = qmintvspan(ca, cb);
      if (code == 0) code = ca;
    }
  } else if (ca == kSqlTypeInt && cb == kSqlTypeInt) {
    code = kSqlTypeInt;
    cls = kClassNumeric;
  } else {
    code = kSqlTypeFloat;
    scale = -1;
    cls = kClassNumeric;
    if (keep_variant == 0) {
      if (length < 8) {
        length = 7;
        variant = kVariantReal;
      } else if (length < 17) {
        length = 16;
        variant = kVariantDouble;
      }
    }
  }
  *out = NewType(ctx, code, length, scale, variant);
  *out_class = cls;
}

namespace {

bool IsDistinctSetFunction(SqlCompileCtx* ctx, int32_t node) {
  int32_t k = Kind(ctx, node);
  return k >= 16 && k <= 20 && W(ctx, node, EXN_OPERAND1) == 1;
}

void Comparison(SqlCompileCtx* ctx, int32_t node, int32_t a, int32_t b, int32_t third) {
  W(ctx, node, EXN_TYPE_CLASS) = kClassTruth;
  int32_t ca = Class(ctx, a);
  int32_t cb = Class(ctx, b);
  if (ca == 31 || ca == 32 || cb == 31 || cb == 32 || (ca != 0 && cb != 0 && ca != cb)) {
    char text[kParamTextBytes];
    BuildParamText(text, nullptr);
    qcerrec(ctx, &W(ctx, node, EXN_LINE), "QME", -12216, kSevSqlError, text);
    for (int32_t operand : {a, b, third}) {
      if (operand != 0) W(ctx, operand, EXN_TYPE_CLASS) = kClassNone;
    }
    return;
  }
  // EXISTS, quantified forms and the null literal (the grammar's IS NULL
  // and IS NOT NULL) take no collation: a null test must keep its null
  // operand bare.
  int32_t bk = Kind(ctx, b);
  if (bk == 22 || bk == 23 || bk == 24 || bk == 25 || bk == 26 || IsNullLiteral(ctx, b)) return;
  qmcoll(ctx, node, 10, a, b);
  int32_t collation = W(ctx, node, EXN_COLLATION);
  if (!IsBuiltInCollation(collation)) {
    int32_t level = W(ctx, node, EXN_COLLATION_LEVEL);
    W(ctx, node, EXN_OPERAND1) = CollationNode(ctx, a, level, collation);
    W(ctx, node, EXN_OPERAND2) = CollationNode(ctx, b, level, collation);
  }
}

void Concatenation(SqlCompileCtx* ctx, int32_t node, int32_t a, int32_t b) {
  int32_t ca = Class(ctx, a);
  int32_t cb = Class(ctx, b);
  int32_t family = ca == kClassBinary ? kClassBinary
                   : ca == kClassNational ? kClassNational
                                          : kClassCharacter;
  const char* word = family == kClassBinary     ? "BINARY"
                     : family == kClassNational ? "NCHAR"
                                                : "CHARACTER";
  bool bad = false;
  if (family == kClassCharacter && ca != kClassCharacter && ca != 0) {
    UserError(ctx, node, -12215, "CHARACTER");
    bad = true;
  }
  // A left operand of class 0 had its error: the right is not judged by it.
  if (cb != family && cb != 0 && ca != 0) {
    UserError(ctx, node, -12215, word);
    bad = true;
  }
  if (bad) return;
  W(ctx, node, EXN_TYPE_CLASS) = ca == 0 || cb == 0 ? kClassNone : family;
  int32_t ta = Type(ctx, a);
  int32_t tb = Type(ctx, b);
  if (ta != 0 && tb != 0) {
    int32_t xa = W(ctx, ta, TD_CODE);
    int32_t xb = W(ctx, tb, TD_CODE);
    int32_t code = 0;
    if (family == kClassBinary) code = xa == 29 && xb == 29 ? 29 : 30;
    if (family == kClassNational) code = xa == 34 && xb == 34 ? 34 : 35;
    if (family == kClassCharacter) code = xa == 4 && xb == 4 ? 4 : 8;
    int64_t length = int64_t{W(ctx, ta, TD_LENGTH)} + W(ctx, tb, TD_LENGTH);
    W(ctx, node, EXN_TYPE) =
        NewType(ctx, code, static_cast<int32_t>(std::min<int64_t>(length, INT32_MAX)), -1, 0);
    W(ctx, node, EXN_TYPE_CLASS) = family;
  }
  qmcoll(ctx, node, 5, a, b);
}

// + and - with a datetime on the left.
void DatetimeArithmetic(SqlCompileCtx* ctx, int32_t node, int32_t a, int32_t b) {
  int32_t ca = Class(ctx, a);
  int32_t cb = Class(ctx, b);
  if (cb == 0) {
    W(ctx, node, EXN_TYPE_CLASS) = kClassNone;
    return;
  }
  if (!IsInterval(cb)) {
    UserError(ctx, node, -12215, "INTERVAL");
    return;
  }
  int32_t code_b = Code(ctx, b);
  bool fits = (ca == 10 && (cb == kClassYearMonth || code_b == 15)) ||
              (ca == 11 && cb == kClassDayTime && code_b != 15) || ca == 12;
  if (!fits) {
    UserError(ctx, node, -12216);
    return;
  }
  int32_t t = Type(ctx, a);
  W(ctx, node, EXN_TYPE) =
      NewType(ctx, W(ctx, t, TD_CODE), W(ctx, t, TD_LENGTH), W(ctx, t, TD_SCALE), 0);
  W(ctx, node, EXN_TYPE_CLASS) = ca;
}

void NumericArithmetic(SqlCompileCtx* ctx, int32_t node, int32_t kind, int32_t a, int32_t b) {
  int32_t ca = Class(ctx, a);
  int32_t cb = Class(ctx, b);
  bool bad = false;
  // An operand of class 0 had its error: the other is not judged beside it.
  for (int32_t cls : {ca, cb}) {
    if (cls != kClassNumeric && ca != 0 && cb != 0) {
      UserError(ctx, node, -12215, "NUMERIC");
      bad = true;
    }
  }
  if (IsDistinctSetFunction(ctx, a) || IsDistinctSetFunction(ctx, b)) {
    UserError(ctx, node, -12217);
    bad = true;
  }
  if (bad || ca == 0 || cb == 0) {
    W(ctx, node, EXN_TYPE_CLASS) = kClassNone;
    return;
  }
  int32_t type = qmarithtype(ctx, node, kind, Type(ctx, a), Type(ctx, b));
  W(ctx, node, EXN_TYPE) = type;
  W(ctx, node, EXN_TYPE_CLASS) = type == 0 ? kClassNone : kClassNumeric;
}

// A datetime difference with its interval qualifier written.
void DatetimeDifference(SqlCompileCtx* ctx, int32_t node, int32_t a, int32_t b) {
  int32_t ca = Class(ctx, a);
  int32_t cb = Class(ctx, b);
  if (!IsDatetime(ca) || !IsDatetime(cb)) {
    UserError(ctx, node, -12215, "DATETIME");
    return;
  }
  int32_t code = Code(ctx, node);
  W(ctx, node, EXN_TYPE_CLASS) = qmtypcls(code);
  if (ca == 31 || ca == 32 || ca != cb) {
    UserError(ctx, node, -12216);
    return;
  }
  if (ca == 11 && qmtypcls(code) == kClassYearMonth) UserError(ctx, node, -12215, "SHORT INTERVAL");
}

}  // namespace

void qmbinop(SqlCompileCtx* ctx, int32_t node) {
  int32_t kind = Kind(ctx, node);
  WrapNational(ctx, node, EXN_OPERAND1, EXN_OPERAND2);
  int32_t a = W(ctx, node, EXN_OPERAND1);
  int32_t b = W(ctx, node, EXN_OPERAND2);
  int32_t third = W(ctx, node, EXN_WORD19);
  W(ctx, node, EXN_COLUMNS) = ConcatColumns(ctx, a, b);
  if (third != 0) qmuntyped(ctx, kind, a, third, kUntypedNone);
  qmuntyped(ctx, kind, a, b, kind == 5 ? kUntypedCharacter : kUntypedNone);
  qmhostretype(ctx, kind, a, b);
  W(ctx, node, EXN_DERIVATION) = qmderclass(Derivation(ctx, a), Derivation(ctx, b));
  W(ctx, node, EXN_NULLABLE) =
      W(ctx, a, EXN_NULLABLE) != 0 || W(ctx, b, EXN_NULLABLE) != 0 ? 1 : 0;
  int32_t ca = Class(ctx, a);
  int32_t cb = Class(ctx, b);
  // An interval plus a datetime, and a number times an interval, are turned
  // round; an interval minus a datetime is not (it has no meaning, and turned
  // round it would give the datetime minus the interval).
  if ((kind == 1 && IsInterval(ca) && IsDatetime(cb)) ||
      (kind == 3 && ca == kClassNumeric && IsInterval(cb))) {
    std::swap(a, b);
    std::swap(ca, cb);
    W(ctx, node, EXN_OPERAND1) = a;
    W(ctx, node, EXN_OPERAND2) = b;
  }
  if (kind >= 1 && kind <= 5 && W(ctx, node, EXN_TYPE) != 0) {
    DatetimeDifference(ctx, node, a, b);
    return;
  }
  switch (kind) {
    case 1:
    case 2:
    case 3:
    case 4:
      if (kind != 2) {
        W(ctx, node, EXN_NON_NEGATIVE) =
            W(ctx, a, EXN_NON_NEGATIVE) != 0 && W(ctx, b, EXN_NON_NEGATIVE) != 0 ? 1 : 0;
      } else {
        W(ctx, node, EXN_NON_NEGATIVE) = 0;
      }
      if (ca == 0 && cb == 0) {
        W(ctx, node, EXN_TYPE_CLASS) = kClassNone;
      } else if ((kind == 1 || kind == 2) && IsDatetime(ca)) {
        DatetimeArithmetic(ctx, node, a, b);
      } else if ((kind == 1 || kind == 2) && IsInterval(ca)) {
        if (cb == 0) {
          W(ctx, node, EXN_TYPE_CLASS) = kClassNone;
        } else if (!IsInterval(cb)) {
          UserError(ctx, node, -12215, "INTERVAL");
        } else if (cb != ca) {
          UserError(ctx, node, -12216);
        } else {
          int32_t type = qmarithtype(ctx, node, kind, Type(ctx, a), Type(ctx, b));
          W(ctx, node, EXN_TYPE) = type;
          W(ctx, node, EXN_TYPE_CLASS) = type == 0 ? kClassNone : ca;
        }
      } else if ((kind == 3 || kind == 4) && IsInterval(ca)) {
        if (cb != kClassNumeric && cb != 0) {
          UserError(ctx, node, -12215, "NUMERIC");
        } else {
          int32_t t = Type(ctx, a);
          int32_t length = W(ctx, t, TD_LENGTH);
          if (kind == 3) length = std::min(length + 1, 45);
          W(ctx, node, EXN_TYPE) = NewType(ctx, W(ctx, t, TD_CODE), length, W(ctx, t, TD_SCALE), 0);
          W(ctx, node, EXN_TYPE_CLASS) = ca;
        }
      } else {
        NumericArithmetic(ctx, node, kind, a, b);
      }
      break;
    case 5:
      Concatenation(ctx, node, a, b);
      break;
    case 8:
    case 9:
      W(ctx, node, EXN_TYPE_CLASS) = kClassTruth;
      break;
    case 10:
    case 11:
    case 12:
    case 13:
    case 14:
    case 15:
      Comparison(ctx, node, a, b, third);
      break;
    default:
      qcinterr(ctx, "QME: qmbinop", -19207);
  }
}
