// Typing of the expression kinds other than the binary operators: unary
// functions and niladic values, predicates, OVERLAPS, string and numeric
// functions, aggregates, EXTRACT, CASE, CAST and the small kinds;
// qmtypexpr dispatches by kind.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/interval.h"
#include "sql/front/catalog_access.h"
#include "sql/front/compile_context.h"
#include "sql/front/compile_diag.h"
#include "sql/front/expr_types.h"
#include "sql/front/sem_stack.h"
#include "sql/front/stored_trees.h"
#include "sql/front/typing_support.h"

using namespace typing;

namespace {

// The longest character and national values.
constexpr int64_t kCharacterMax = 15000;
constexpr int64_t kNationalMax = 5000;

bool InRange(int32_t v, int32_t low, int32_t high) {
  return v >= low && v <= high;
}

// Nullable flag, list of columns and derivation class of a node over its
// one operand.
void FromOperand(SqlCompileCtx* ctx, int32_t node, int32_t operand) {
  W(ctx, node, EXN_NULLABLE) = operand != 0 ? W(ctx, operand, EXN_NULLABLE) : 0;
  W(ctx, node, EXN_COLUMNS) = operand != 0 ? W(ctx, operand, EXN_COLUMNS) : 0;
  int32_t d = Derivation(ctx, operand);
  W(ctx, node, EXN_DERIVATION) = qmderclass(d, d);
}

// The same over several operands (0 entries are skipped): nullable when any
// is, the columns of all, the derivation classes folded by the table.
void FromOperands(SqlCompileCtx* ctx, int32_t node, std::initializer_list<int32_t> operands) {
  int32_t nullable = 0;
  int32_t columns = 0;
  int32_t derivation = -1;
  for (int32_t operand : operands) {
    if (operand == 0) continue;
    nullable |= W(ctx, operand, EXN_NULLABLE) != 0 ? 1 : 0;
    columns = ConcatLists(ctx, columns, W(ctx, operand, EXN_COLUMNS));
    int32_t d = Derivation(ctx, operand);
    derivation = derivation < 0 ? qmderclass(d, d) : qmderclass(derivation, d);
  }
  W(ctx, node, EXN_COLUMNS) = columns;
  W(ctx, node, EXN_NULLABLE) = nullable;
  W(ctx, node, EXN_DERIVATION) = derivation < 0 ? 3 : derivation;
}

// Types an untyped operand from the mode alone.
void Default(SqlCompileCtx* ctx, int32_t op, int32_t operand, int32_t mode) {
  if (operand != 0) qmuntyped(ctx, op, operand, operand, mode);
}

// The family of a string class: the variable type code of results.
int32_t VaryingOf(int32_t cls) {
  return cls == kClassBinary ? 30 : cls == kClassNational ? 35 : 8;
}
const char* FamilyWord(int32_t cls) {
  return cls == kClassBinary ? "BINARY" : cls == kClassNational ? "NCHAR" : "CHARACTER";
}
int64_t FamilyMax(int32_t cls) {
  return cls == kClassNational ? kNationalMax : kCharacterMax;
}
bool IsString(int32_t cls) {
  return cls == kClassCharacter || cls == kClassNational || cls == kClassBinary;
}

// An integer operand (type code 1) with the untyped default of mode 3.
bool IntegerOperand(SqlCompileCtx* ctx, int32_t node, int32_t kind, int32_t operand) {
  if (operand == 0) return true;
  Default(ctx, kind, operand, kUntypedInteger);
  if (Class(ctx, operand) == 0) return true;
  if (Code(ctx, operand) == kSqlTypeInt) return true;
  UserError(ctx, node, -12214, "INTEGER");
  return false;
}

void Unary(SqlCompileCtx* ctx, int32_t node, int32_t kind) {
  if (kind >= 38 && kind <= 40) {
    W(ctx, node, EXN_TYPE_CLASS) = kind - 28;
    W(ctx, node, EXN_DERIVATION) = 3;
    W(ctx, node, EXN_NULLABLE) = 0;
    W(ctx, node, EXN_NON_NEGATIVE) = 0;
    ctx->typing.leaf = 1;
    return;
  }
  int32_t a = W(ctx, node, EXN_OPERAND1);
  int32_t mode = kUntypedNone;
  if (kind == 48) mode = kUntypedNumeric;
  if (kind == 61 || kind == 71 || kind == 76 || kind == 77 || kind == 41 || kind == 42 ||
      kind == 53) {
    mode = kUntypedCharacter;
  }
  Default(ctx, kind, a, mode);
  FromOperand(ctx, node, a);
  int32_t cls = Class(ctx, a);
  bool known = cls != 0;
  switch (kind) {
    case 6:
    case 7:
      if (known && cls != kClassNumeric && cls != kClassYearMonth && cls != kClassDayTime) {
        UserError(ctx, node, -12215, "NUMERIC");
        return;
      }
      ShareType(ctx, node, a);
      W(ctx, node, EXN_NON_NEGATIVE) = kind == 6 ? W(ctx, a, EXN_NON_NEGATIVE) : 0;
      return;
    case 24:
    case 25:
      ShareType(ctx, node, a);
      return;
    case 41:
    case 42:
      if (known && cls != kClassCharacter && cls != kClassNational) {
        UserError(ctx, node, -12214, "CHARACTER");
        return;
      }
      ShareType(ctx, node, a);
      qmcoll(ctx, node, 41, a, 0);
      return;
    case 48:
      if (known && Code(ctx, a) != kSqlTypeInt) {
        UserError(ctx, node, -12214, "INTEGER");
        return;
      }
      SetType(ctx, node, kSqlTypeChar, 1, -1, 0);
      W(ctx, node, EXN_NULLABLE) = 1;
      break;
    case 53:
      if (known && cls != kClassCharacter) {
        UserError(ctx, node, -12214, "CHARACTER");
        return;
      }
      SetType(ctx, node, kSqlTypeVarchar, 6, -1, 0);
      qmcoll(ctx, node, 41, a, 0);
      break;
    case 61:
    case 76:
    case 77:
      if (known && !IsString(cls) && cls != 31 && cls != 32) {
        UserError(ctx, node, -12214, "CHARACTER");
        return;
      }
      SetType(ctx, node, kSqlTypeInt, 10, 0, kVariantInteger);
      W(ctx, node, EXN_NON_NEGATIVE) = 1;
      break;
    case 71:
      if (known && cls != kClassCharacter && cls != kClassBinary) {
        UserError(ctx, node, -12214, "CHARACTER");
        return;
      }
      SetType(ctx, node, kSqlTypeInt, 3, 0, 0);
      W(ctx, node, EXN_NULLABLE) = 1;
      W(ctx, node, EXN_NON_NEGATIVE) = 1;
      break;
    default:  // 72, 73, 74
      if (known && cls != kSqlTypeDate && cls != kSqlTypeTimestamp) {
        UserError(ctx, node, -12214, "DATE or TIMESTAMP");
        return;
      }
      SetType(ctx, node, kSqlTypeInt, kind == 72 ? 1 : kind == 73 ? 3 : 2, 0, 0);
      W(ctx, node, EXN_NON_NEGATIVE) = 1;
      break;
  }
  if (!known) W(ctx, node, EXN_TYPE_CLASS) = kClassNone;
}

bool IsFunctionKind(int32_t kind) {
  return InRange(kind, 16, 20) || InRange(kind, 41, 95) || kind == 98;
}

void Like(SqlCompileCtx* ctx, int32_t node) {
  W(ctx, node, EXN_DERIVATION) = 8;
  int32_t pattern = W(ctx, node, 25);
  int32_t pattern_kind = Kind(ctx, pattern);
  int32_t t = Type(ctx, pattern);
  if (t != 0 && pattern_kind != kExprColumnRef && pattern_kind != kExprCast &&
      !IsFunctionKind(pattern_kind)) {
    if (W(ctx, t, TD_CODE) == kSqlTypeChar) W(ctx, t, TD_CODE) = kSqlTypeVarchar;
    if (W(ctx, t, TD_CODE) == kSqlTypeBinary) W(ctx, t, TD_CODE) = kSqlTypeVarbinary;
  }
  qmuntyped(ctx, 21, W(ctx, node, 22), pattern, kUntypedCharacter);
  if (W(ctx, node, 26) != 0) Default(ctx, 21, W(ctx, node, 26), kUntypedCharacter);
  WrapNational(ctx, node, 22, 25);
  if (W(ctx, node, 26) != 0) WrapNational(ctx, node, 22, 26);
  int32_t value = W(ctx, node, 22);
  pattern = W(ctx, node, 25);
  int32_t escape = W(ctx, node, 26);
  W(ctx, node, EXN_NULLABLE) = W(ctx, value, EXN_NULLABLE) | W(ctx, pattern, EXN_NULLABLE);
  W(ctx, node, EXN_COLUMNS) = ConcatColumns(ctx, value, pattern);
  int32_t cls = Class(ctx, value);
  bool bad = false;
  if (cls != 0 && !IsString(cls)) {
    UserError(ctx, node, -12215, "CHARACTER");
    bad = true;
  }
  for (int32_t operand : {pattern, escape}) {
    int32_t c = Class(ctx, operand);
    if (operand != 0 && cls != 0 && IsString(cls) && c != 0 && c != cls) {
      UserError(ctx, node, -12215, FamilyWord(cls));
      bad = true;
    }
  }
  W(ctx, node, EXN_TYPE_CLASS) = kClassTruth;
  ctx->typing.like_list = qqlcons(ctx, ctx->typing.like_list, node);
  if (bad) return;
  if (escape != 0) qmcoll(ctx, pattern, 21, pattern, escape);
  qmcoll(ctx, node, 21, value, pattern);
  int32_t collation = W(ctx, node, EXN_COLLATION);
  if (!IsBuiltInCollation(collation)) {
    W(ctx, node, 22) = CollationNode(ctx, value, W(ctx, node, EXN_COLLATION_LEVEL), collation);
  }
}

// The string operand words and the integer operand words of kinds 49 to 52.
struct StringForm {
  int32_t strings[3];
  int32_t integers[2];
};
StringForm FormOf(int32_t kind) {
  switch (kind) {
    case 49:  // PASTE(string, start, length, string)
      return {{22, 25, 0}, {23, 24}};
    case 50:  // REPEAT(string, count)
      return {{22, 0, 0}, {23, 0}};
    case 51:  // REPLACE(string, searched, replacement)
      return {{22, 23, 24}, {0, 0}};
    default:  // 52 TAIL(string, count)
      return {{22, 0, 0}, {23, 0}};
  }
}

// The count of REPEAT when it is an integer literal, else -1.
int64_t LiteralCount(SqlCompileCtx* ctx, int32_t operand) {
  if (Kind(ctx, operand) != kExprLiteral) return -1;
  int32_t record = W(ctx, operand, EXN_OPERAND1);
  if (record == 0) return -1;
  int32_t status = 0;
  int32_t value = 0;
  qctxtint(&status, &value, qqwsadr(ctx, record) + 4, W(ctx, record, 0));
  if (status != 0) return -1;
  return std::max(value, 1);
}

void PasteRepeatReplaceTail(SqlCompileCtx* ctx, int32_t node, int32_t kind) {
  StringForm form = FormOf(kind);
  for (int32_t word : form.strings) {
    if (word != 0) Default(ctx, kind, W(ctx, node, word), kUntypedCharacter);
  }
  if (form.strings[1] != 0) WrapNational(ctx, node, form.strings[0], form.strings[1]);
  if (form.strings[2] != 0) WrapNational(ctx, node, form.strings[0], form.strings[2]);
  int32_t a = W(ctx, node, 22);
  int32_t b = form.strings[1] != 0 ? W(ctx, node, form.strings[1]) : 0;
  int32_t c = form.strings[2] != 0 ? W(ctx, node, form.strings[2]) : 0;
  int32_t n1 = form.integers[0] != 0 ? W(ctx, node, form.integers[0]) : 0;
  int32_t n2 = form.integers[1] != 0 ? W(ctx, node, form.integers[1]) : 0;
  FromOperands(ctx, node, {a, b, c, n1, n2});
  bool ok = IntegerOperand(ctx, node, kind, n1);
  ok = IntegerOperand(ctx, node, kind, n2) && ok;
  for (int32_t s : {a, b, c}) {
    int32_t cls = Class(ctx, s);
    if (s != 0 && cls != 0 && !IsString(cls)) {
      UserError(ctx, node, -12214, "CHARACTER");
      ok = false;
    }
  }
  int32_t cls = Class(ctx, a);
  if (!ok || !IsString(cls)) {
    W(ctx, node, EXN_TYPE_CLASS) = kClassNone;
    return;
  }
  int64_t limit = FamilyMax(cls);
  int64_t length = Length(ctx, a);
  switch (kind) {
    case 49:
      length += Length(ctx, b);
      qmcoll(ctx, node, 49, a, b);
      break;
    case 50: {
      // n copies of a string of length L: computed in 64 bits and held to
      // the longest value, so that a large count cannot wrap the length.
      int64_t n = LiteralCount(ctx, n1);
      if (n < 0) {
        length = limit;
      } else {
        length = length > 1 ? n * length : n;
      }
      length = std::min(length, limit);
      qmcoll(ctx, node, 50, a, 0);
      break;
    }
    case 51: {
      int64_t m = Length(ctx, c);
      length = std::max<int64_t>(length, 1);
      if (m > 1) length *= m;
      length = std::min(length, limit);
      W(ctx, node, EXN_NULLABLE) = 1;
      qmcoll(ctx, b, 10, b, c);
      qmcoll(ctx, node, 10, a, b);
      break;
    }
    default:
      W(ctx, node, EXN_NULLABLE) = 1;
      qmcoll(ctx, node, 52, a, 0);
      break;
  }
  SetType(ctx, node, VaryingOf(cls), static_cast<int32_t>(std::min<int64_t>(length, INT32_MAX)), -1,
          0);
}

void Substring(SqlCompileCtx* ctx, int32_t node) {
  int32_t s = W(ctx, node, 22);
  Default(ctx, 43, s, kUntypedCharacter);
  FromOperands(ctx, node, {s, W(ctx, node, 23), W(ctx, node, 24)});
  W(ctx, node, EXN_NULLABLE) = W(ctx, s, EXN_NULLABLE);
  bool ok = IntegerOperand(ctx, node, 43, W(ctx, node, 23));
  ok = IntegerOperand(ctx, node, 43, W(ctx, node, 24)) && ok;
  int32_t cls = Class(ctx, s);
  if (cls != 0 && !IsString(cls)) {
    UserError(ctx, node, -12214, "CHARACTER");
    return;
  }
  if (!ok || cls == 0) {
    W(ctx, node, EXN_TYPE_CLASS) = kClassNone;
    return;
  }
  SetType(ctx, node, VaryingOf(cls), Length(ctx, s), -1, 0);
  qmcoll(ctx, node, 41, s, 0);
}

void Trim(SqlCompileCtx* ctx, int32_t node) {
  Default(ctx, 44, W(ctx, node, 24), kUntypedCharacter);
  if (W(ctx, node, 23) != 0) {
    Default(ctx, 44, W(ctx, node, 23), kUntypedCharacter);
    WrapNational(ctx, node, 24, 23);
  } else {
    ctx->typing.trim_default = 1;
  }
  int32_t s = W(ctx, node, 24);
  int32_t t = W(ctx, node, 23);
  FromOperands(ctx, node, {s, t});
  int32_t cls = Class(ctx, s);
  if (cls != 0 && !IsString(cls)) {
    UserError(ctx, node, -12214, "CHARACTER");
    return;
  }
  if (t != 0 && cls != 0 && Class(ctx, t) != 0 && Class(ctx, t) != cls) {
    UserError(ctx, node, -12214, FamilyWord(cls));
    return;
  }
  if (cls == 0) {
    W(ctx, node, EXN_TYPE_CLASS) = kClassNone;
    return;
  }
  SetType(ctx, node, VaryingOf(cls), Length(ctx, s), -1, 0);
  if (t != 0) qmcoll(ctx, node, 10, s, t);
  qmcoll(ctx, node, 50, s, 0);
}

void Position(SqlCompileCtx* ctx, int32_t node) {
  Default(ctx, 63, W(ctx, node, 22), kUntypedCharacter);
  Default(ctx, 63, W(ctx, node, 23), kUntypedCharacter);
  WrapNational(ctx, node, 22, 23);
  int32_t a = W(ctx, node, 22);
  int32_t b = W(ctx, node, 23);
  FromOperands(ctx, node, {a, b});
  int32_t ca = Class(ctx, a);
  int32_t cb = Class(ctx, b);
  if ((ca != 0 && !IsString(ca)) || (cb != 0 && !IsString(cb)) ||
      (ca != 0 && cb != 0 && ca != cb)) {
    UserError(ctx, node, -12214, FamilyWord(ca != 0 ? ca : cb));
    return;
  }
  SetType(ctx, node, kSqlTypeInt, qcdigits(std::max(Length(ctx, b), 0)), 0, 0);
  qmcoll(ctx, a, 10, a, b);
  int32_t collation = W(ctx, a, EXN_COLLATION);
  if (!IsBuiltInCollation(collation)) {
    int32_t level = W(ctx, a, EXN_COLLATION_LEVEL);
    W(ctx, node, 22) = CollationNode(ctx, a, level, collation);
    W(ctx, node, 23) = CollationNode(ctx, b, level, collation);
  }
}

// The first operand of a numeric function: integer (MOD, IRAND) or numeric
// (ABS also an interval); false after an error.
bool NumericOperand(SqlCompileCtx* ctx, int32_t node, int32_t kind, int32_t operand, bool integer,
                    bool interval) {
  if (integer) return IntegerOperand(ctx, node, kind, operand);
  Default(ctx, kind, operand, kUntypedNumeric);
  int32_t cls = Class(ctx, operand);
  if (cls == 0 || cls == kClassNumeric) return true;
  if (interval && (cls == kClassYearMonth || cls == kClassDayTime)) return true;
  UserError(ctx, node, -12214, "NUMERIC");
  return false;
}

void NumericFunction(SqlCompileCtx* ctx, int32_t node, int32_t kind) {
  int32_t a = W(ctx, node, 22);
  int32_t b = W(ctx, node, 23);
  if (a == 0) {
    SetType(ctx, node, kSqlTypeInt, 10, 0, kVariantInteger);
    W(ctx, node, EXN_DERIVATION) = 3;
    W(ctx, node, EXN_NULLABLE) = 0;
    W(ctx, node, EXN_NON_NEGATIVE) = kind == 80 ? 1 : 0;
    return;
  }
  bool ok = NumericOperand(ctx, node, kind, a, kind == 65 || kind == 80, kind == 66);
  if (b != 0) {
    if (kind == 84) {
      ok = NumericOperand(ctx, node, kind, b, false, false) && ok;
    } else {
      ok = IntegerOperand(ctx, node, kind, b) && ok;
    }
  }
  FromOperands(ctx, node, {a, b});
  if (!ok || Class(ctx, a) == 0) {
    W(ctx, node, EXN_TYPE_CLASS) = kClassNone;
    return;
  }
  int32_t code = Code(ctx, a);
  int32_t p = Length(ctx, a);
  int32_t s = std::max(TypeWord(ctx, a, TD_SCALE), 0);
  switch (kind) {
    case 64:
    case 70:
      if (code == kSqlTypeFloat) {
        ShareType(ctx, node, a);
      } else {
        SetType(ctx, node, code, std::min(p + 1, 45), TypeWord(ctx, a, TD_SCALE), 0);
      }
      break;
    case 65:
      ShareType(ctx, node, a);
      break;
    case 66:
      ShareType(ctx, node, a);
      W(ctx, node, EXN_NON_NEGATIVE) = 1;
      break;
    case 67:
    case 68:
      SetType(ctx, node, kSqlTypeInt, code == kSqlTypeFloat ? 45 : std::max(p - s, 1), 0, 0);
      break;
    case 69:
      SetType(ctx, node, kSqlTypeInt, 1, 0, 0);
      break;
    case 80:
      SetType(ctx, node, kSqlTypeInt, 10, 0, kVariantInteger);
      W(ctx, node, EXN_NON_NEGATIVE) = 1;
      break;
    default:
      SetType(ctx, node, kSqlTypeFloat, 16, -1, kVariantDouble);
      break;
  }
}

// The query level of an outer reference: that of the first column it reads.
int32_t LevelOf(SqlCompileCtx* ctx, int32_t operand) {
  int32_t columns = W(ctx, operand, EXN_COLUMNS);
  if (columns == 0) return -1;
  return W(ctx, W(ctx, columns, CELL_VALUE), EXN_LEVEL);
}

void SetFunction(SqlCompileCtx* ctx, int32_t node, int32_t kind, SemContext* sem) {
  W(ctx, node, EXN_DERIVATION) = 1;
  bool distinct = W(ctx, node, EXN_OPERAND1) == 1;
  int32_t a = W(ctx, node, EXN_OPERAND2);
  bool placed = qmflagtst(sem, 7) != 0 || qmflagtst(sem, 2) != 0 || qmflagtst(sem, 3) != 0;
  bool failed = false;
  if (!placed) {
    UserError(ctx, node, -12213);
    failed = true;
  }
  if (a != 0) {
    Default(ctx, kind, a, kUntypedNone);
    W(ctx, node, EXN_COLUMNS) = W(ctx, a, EXN_COLUMNS);
    int32_t d = Derivation(ctx, a);
    if (d == 1 || d == 2) {
      UserError(ctx, node, -12210);
      failed = true;
    } else if (d == 7) {
      UserError(ctx, node, -12212);
      failed = true;
    } else if (placed && d == 5) {
      if (qmflagtst(sem, 7) == 0 && qmflagtst(sem, 2) == 0) {
        UserError(ctx, node, -12226);
        failed = true;
      } else if (distinct) {
        ++sem->w[SEM_DISTINCT];
      }
    } else if (placed && d == 6) {
      int32_t level = LevelOf(ctx, a);
      SemContext outer;
      qmqget(ctx, &outer, level);
      if (qmflagtst(&outer, 2) == 0) {
        UserError(ctx, node, -12226);
        failed = true;
      } else if (distinct) {
        ++outer.w[SEM_DISTINCT];
        qmqput(ctx, &outer, level);
      }
    }
  }
  int32_t cls = Class(ctx, a);
  if (kind == 16) {
    if (distinct && (cls == 31 || cls == 32 || cls == 33)) {
      UserError(ctx, node, -12643);
      return;
    }
    SetType(ctx, node, kSqlTypeInt, 10, 0, kVariantInteger);
    W(ctx, node, EXN_NULLABLE) = 0;
    W(ctx, node, EXN_NON_NEGATIVE) = 1;
    if (failed) W(ctx, node, EXN_TYPE_CLASS) = kClassNone;
    return;
  }
  W(ctx, node, EXN_NULLABLE) = 1;
  if (failed || a == 0 || cls == 0) {
    W(ctx, node, EXN_TYPE_CLASS) = kClassNone;
    return;
  }
  if (kind == 19 || kind == 20) {
    ShareType(ctx, node, a);
    qmcoll(ctx, node, 19, a, 0);
    return;
  }
  if (cls == kClassYearMonth || cls == kClassDayTime) {
    ShareType(ctx, node, a);
    return;
  }
  if (cls != kClassNumeric) {
    UserError(ctx, node, -12214, "NUMERIC or INTERVAL");
    return;
  }
  int32_t code = Code(ctx, a);
  int32_t p = Length(ctx, a);
  int32_t s = std::max(TypeWord(ctx, a, TD_SCALE), 0);
  if (code == kSqlTypeFloat) {
    SetType(ctx, node, kSqlTypeFloat, std::max(p, 15), -1, 0);
  } else if (kind == 17 && code == kSqlTypeInt) {
    SetType(ctx, node, kSqlTypeInt, p, 0, 0);
  } else if (kind == 17) {
    int32_t wide = std::min(p + 10, 45);
    SetType(ctx, node, code, wide, s + wide - p, 0);
  } else {
    SetType(ctx, node, code, std::min(p + 10, 45), s, 0);
  }
}

// Whether an interval of the code holds the field (13 YEAR .. 18 SECOND);
// its leading field goes to *leading.
bool IntervalHolds(int32_t code, int32_t field, int32_t* leading) {
  static const int8_t kStart[] = {13, 14, 15, 16, 17, 18, 13, 15, 15, 15, 16, 16, 17};
  static const int8_t kEnd[] = {13, 14, 15, 16, 17, 18, 14, 16, 17, 18, 17, 18, 18};
  if (code < 13 || code > 25) return false;
  *leading = kStart[code - 13];
  return field >= kStart[code - 13] && field <= kEnd[code - 13];
}

// The leading precision of an interval whose descriptor holds its stored
// digits: the leading field's digits, then the digits the later fields add
// (YEAR TO MONTH 2, DAY 5, HOUR 4, MINUTE 2) and the fraction of one with
// seconds. At least 1.
int32_t LeadingPrecision(int32_t code, int32_t length, int32_t scale) {
  const int32_t qualifier = code - 9;  // interval codes 13..25 are qualifiers 4..16
  int32_t leading = length - interval_digits_after_leading(qualifier);
  if (interval_has_seconds(qualifier)) leading -= scale;
  return std::max(leading, 1);
}

void Extract(SqlCompileCtx* ctx, int32_t node) {
  int32_t field_type = W(ctx, node, 22);
  int32_t field = field_type != 0 ? W(ctx, field_type, TD_CODE) : 0;
  int32_t a = W(ctx, node, 23);
  Default(ctx, 62, a, kUntypedNone);
  FromOperand(ctx, node, a);
  int32_t cls = Class(ctx, a);
  if (cls == 0) return;
  int32_t code = Code(ctx, a);
  int32_t scale = std::max(TypeWord(ctx, a, TD_SCALE), 0);
  int32_t digits = 2;
  bool holds = false;
  if (cls >= 10 && cls <= 12) {
    holds = (code == kSqlTypeDate && field >= 13 && field <= 15) ||
            (code == kSqlTypeTime && field >= 16 && field <= 18) ||
            (code == kSqlTypeTimestamp && field >= 13 && field <= 18);
    if (field == 13) digits = 4;
  } else if (cls == kClassYearMonth || cls == kClassDayTime) {
    int32_t leading = 0;
    holds = IntervalHolds(code, field, &leading);
    if (field == leading) digits = LeadingPrecision(code, Length(ctx, a), scale);
  } else {
    UserError(ctx, node, -12214, "DATETIME or INTERVAL");
    return;
  }
  if (!holds) {
    UserError(ctx, node, -12278);
    return;
  }
  if (field == 18) {
    digits += scale;
  } else {
    scale = 0;
  }
  if (scale > 0) {
    SetType(ctx, node, kSqlTypeDecimal, digits, scale, 0);
  } else if (digits < 5) {
    SetType(ctx, node, kSqlTypeInt, 5, 0, kVariantSmallint);
  } else if (digits < 10) {
    SetType(ctx, node, kSqlTypeInt, 10, 0, kVariantInteger);
  } else if (digits >= 19) {
    SetType(ctx, node, kSqlTypeInt, digits, 0, 0);
  } else {
    SetType(ctx, node, kSqlTypeInt, 19, 0, kVariantBigint);
  }
}

void Case(SqlCompileCtx* ctx, int32_t node) {
  int32_t arms = W(ctx, node, EXN_OPERAND1);
  bool national = false;
  for (int32_t c = arms; c != 0; c = W(ctx, c, CELL_NEXT)) {
    int32_t arm = W(ctx, c, CELL_VALUE);
    if (arm != 0 && Class(ctx, W(ctx, arm, EXN_OPERAND2)) == kClassNational) national = true;
  }
  int32_t type = 0;
  int32_t cls = 0;
  int32_t nullable = 0;
  int32_t derivation = -1;
  int32_t count = 0;
  bool incompatible = false;
  for (int32_t c = arms; c != 0; c = W(ctx, c, CELL_NEXT)) {
    int32_t arm = W(ctx, c, CELL_VALUE);
    if (arm == 0) continue;
    ++count;
    int32_t result = W(ctx, arm, EXN_OPERAND2);
    if (national && Class(ctx, result) == kClassCharacter) {
      result = qmnchcast(ctx, result);
      W(ctx, arm, EXN_OPERAND2) = result;
      ShareType(ctx, arm, result);
    }
    int32_t d = Derivation(ctx, arm);
    derivation = derivation < 0 ? d : qmderclass(derivation, d);
    if (W(ctx, result, EXN_NULLABLE) != 0) nullable = 1;
    if (IsNullLiteral(ctx, result)) {
      nullable = 1;
      continue;
    }
    if (IsUntyped(ctx, result) || Type(ctx, result) == 0) continue;
    int32_t rc = Class(ctx, result);
    if (type == 0) {
      int32_t t = Type(ctx, result);
      type = NewType(ctx, W(ctx, t, TD_CODE), W(ctx, t, TD_LENGTH), W(ctx, t, TD_SCALE),
                     W(ctx, t, TD_VARIANT));
      cls = rc;
    } else if (rc == 31 || rc == 32 || cls == 31 || cls == 32 ||
               (rc != cls && rc != 0 && cls != 0)) {
      incompatible = true;
    } else if (rc != 0 && cls != 0) {
      qmcommontype(ctx, type, Type(ctx, result), &type, &cls, 0);
    }
  }
  W(ctx, node, EXN_NULLABLE) = nullable;
  W(ctx, node, EXN_DERIVATION) = derivation < 0 ? 3 : derivation;
  if (count == 0 || type == 0) {
    UserError(ctx, node, -12275);
    return;
  }
  if (incompatible) {
    UserError(ctx, node, -12273);
    return;
  }
  W(ctx, node, EXN_TYPE) = type;
  W(ctx, node, EXN_TYPE_CLASS) = cls;
  int32_t level = 3;
  int32_t collation = -1;
  bool mixed = false;
  for (int32_t c = arms; c != 0; c = W(ctx, c, CELL_NEXT)) {
    int32_t arm = W(ctx, c, CELL_VALUE);
    if (arm == 0) continue;
    int32_t result = W(ctx, arm, EXN_OPERAND2);
    if (IsUntyped(ctx, result)) qmuntyped(ctx, 36, result, node, kUntypedNone);
    W(ctx, result, EXN_TYPE) = type;
    W(ctx, result, EXN_TYPE_CLASS) = cls;
    ShareType(ctx, arm, result);
    if (IsNullLiteral(ctx, result)) continue;
    int32_t result_level = W(ctx, result, EXN_COLLATION_LEVEL);
    level = std::min(level, result_level);
    // Only a result that carries a collation has one to share: a literal's
    // level 0 takes the others'.
    if (result_level == 0) continue;
    int32_t rc = W(ctx, result, EXN_COLLATION);
    if (collation < 0) collation = rc;
    if (rc != collation) mixed = true;
  }
  if (mixed) {
    UserError(ctx, node, -12274);
    W(ctx, node, EXN_TYPE_CLASS) = cls;
    return;
  }
  W(ctx, node, EXN_COLLATION_LEVEL) = level;
  W(ctx, node, EXN_COLLATION) = collation < 0 ? 0 : collation;
}

// The length of a CAST's target left open, from the operand's type; false
// for a combination that has none.
bool CastLength(int32_t target, int32_t code, int32_t length, int32_t scale, int32_t* out_length,
                int32_t* out_scale, int32_t* out_variant) {
  *out_scale = -1;
  *out_variant = -1;
  bool fraction = scale > 0;
  if (target == 4 || target == 8 || target == 34 || target == 35) {
    if (length < 0) {
      *out_length = 254;
      return true;
    }
    switch (code) {
      case 1:
        *out_length = length + 1;
        return true;
      case 2:
        *out_length = length + 7;
        return true;
      case 3:
        *out_length = length + 2;
        return true;
      case 4:
      case 8:
      case 29:
      case 30:
      case 31:
      case 32:
      case 33:
      case 34:
      case 35:
        *out_length = length;
        return true;
      case 10:
        *out_length = 10;
        return true;
      case 11:
        *out_length = fraction ? 9 + scale : 8;
        return true;
      case 12:
        *out_length = fraction ? 20 + scale : 19;
        return true;
      default:
        break;
    }
    static const int8_t kAdd[] = {-1, 1, -4, -3, -1, 1, 2, -1, 2, 5, 0, 3, 2};
    static const int8_t kWithFraction[] = {0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1};
    if (code >= 13 && code <= 25) {
      *out_length = length + kAdd[code - 13] + (fraction ? kWithFraction[code - 13] : 0);
      return true;
    }
    return false;
  }
  if (target == 29 || target == 30) {
    if (code == 4 || code == 8 || code == 29 || code == 30 || code == 31 || code == 32) {
      *out_length = length < 0 ? 254 : length;
      return true;
    }
    return false;
  }
  if (target == 11) {
    *out_variant = 0;
    if (length < 0) {
      *out_length = 6;
      *out_scale = 0;
      return true;
    }
    if (code == 11) {
      *out_length = length;
      *out_scale = scale;
      return true;
    }
    if (code == 12) {
      *out_length = length - 8;
      *out_scale = scale;
      return true;
    }
    return false;
  }
  if (target == 12) {
    *out_variant = 0;
    if (length < 0 || code == 10) {
      *out_length = 20;
      *out_scale = 6;
      return true;
    }
    if (code == 12 || code == 11) {
      *out_length = code == 12 ? length : length + 8;
      *out_scale = scale;
      return true;
    }
    return false;
  }
  return false;
}

void CastCollation(SqlCompileCtx* ctx, int32_t node, int32_t target) {
  int32_t name = W(ctx, node, 29);
  if (name == 0) return;
  if (target != 4 && target != 8 && target != 34) {
    UserError(ctx, node, -12636, nullptr);
    return;
  }
  SqlQualifiedName q = NameOf(ctx, name);
  int32_t id = 0;
  int32_t status = qdgetcollation(ctx, &q, &id);
  if (status < 0) qcfatal(ctx, status);
  if (status > 0) {
    char shown[kRefNameBytes];
    qmrefname(ctx, 2, name, shown);
    int32_t cls = Class(ctx, node);
    UserErrorNamed(ctx, node, -12632, 'O', shown);
    W(ctx, node, EXN_TYPE_CLASS) = cls;
    return;
  }
  if (W(ctx, node, EXN_COLLATION_LEVEL) < 3) {
    W(ctx, node, EXN_COLLATION_LEVEL) = 2;
    W(ctx, node, EXN_COLLATION) = IsBuiltInCollation(id) ? 0 : id;
  }
}

// The run-time guards of a CAST: the range condition of the target's
// numeric variant (word 28) and the domain's check conditions (word 27),
// built over a placeholder (kind 34) of the target type that stands for the
// converted value.
void CastGuards(SqlCompileCtx* ctx, int32_t node, int32_t domain) {
  int32_t type = W(ctx, node, EXN_TYPE);
  int32_t placeholder = ExprOfKind(ctx, kExprWrapper, &W(ctx, node, EXN_LINE), 0, 0);
  W(ctx, placeholder, EXN_TYPE) = type;
  W(ctx, placeholder, EXN_TYPE_CLASS) = W(ctx, node, EXN_TYPE_CLASS);
  W(ctx, node, 28) = qmrangecond(ctx, domain, type != 0 ? W(ctx, type, TD_VARIANT) : 0, placeholder);
  if (domain <= 0) return;
  int32_t checks = 0;
  int32_t check = 0;
  for (int32_t guard = 0; guard < 4096; ++guard) {
    int32_t status = qdgetcc(ctx, 0, domain, &check);
    if (status < 0) qcfatal(ctx, status);
    if (status > 0 || check <= 0) break;
    checks = qqlcons(ctx, checks, qmcheckcond(ctx, domain, check, placeholder));
  }
  W(ctx, node, 27) = qqlrev(ctx, checks);
}

void Cast(SqlCompileCtx* ctx, int32_t node) {
  int32_t operand = W(ctx, node, EXN_OPERAND1);
  int32_t spelled = W(ctx, node, 24);
  int32_t target[4] = {0, -1, -1, 0};
  if (spelled != 0) {
    for (int32_t i = 0; i < 4; ++i) target[i] = W(ctx, spelled, i);
  }
  int32_t domain_name = W(ctx, node, 25);
  if (domain_name != 0) {
    SqlQualifiedName q = NameOf(ctx, domain_name);
    int32_t id = 0;
    int32_t type[4] = {0, 0, 0, 0};
    SqlDomainData data;
    int32_t status = qdgetdomain(ctx, &q, &id, type, &data);
    if (status < 0) qcfatal(ctx, status);
    if (status == 0) {
      std::copy(type, type + 4, target);
      W(ctx, node, EXN_DOMAIN) = id;
      if (!IsBuiltInCollation(data.collation)) {
        W(ctx, node, EXN_COLLATION_LEVEL) = 2;
        W(ctx, node, EXN_COLLATION) = data.collation;
      }
    } else if (!(spelled != 0 && q.schema[0] == 0)) {
      FromOperand(ctx, node, operand);
      if (ctx->compile_mode == 9) {  // a domain not there yet is taken
        W(ctx, node, EXN_TYPE_CLASS) = kClassNone;
        return;
      }
      char shown[kRefNameBytes];
      qmrefname(ctx, 2, domain_name, shown);
      UserErrorNamed(ctx, node, -12561, 'G', shown);
      return;
    }
  }
  FromOperand(ctx, node, operand);
  W(ctx, node, EXN_NULLABLE) = W(ctx, operand, EXN_NULLABLE);
  W(ctx, node, EXN_DERIVATION) = Derivation(ctx, operand);
  bool null_operand = IsNullLiteral(ctx, operand);
  if (IsUntyped(ctx, operand)) {
    SetType(ctx, node, target[0], target[1], target[2], target[3]);
    qmuntyped(ctx, 35, operand, node, kUntypedNone);
  }
  if (target[1] == -1 && !null_operand) {
    int32_t length = 0;
    int32_t scale = 0;
    int32_t variant = 0;
    if (!CastLength(target[0], Code(ctx, operand), Length(ctx, operand),
                    TypeWord(ctx, operand, TD_SCALE), &length, &scale, &variant)) {
      SetType(ctx, node, 0, 0, 0, 0);
      UserError(ctx, node, -12277);
      return;
    }
    target[1] = length;
    if (target[0] == 11 || target[0] == 12) target[2] = scale;
    target[3] = variant;
  }
  SetType(ctx, node, target[0], target[1], target[2], target[3]);
  if (null_operand) {
    ctx->typing.null_cast = 1;
    ctx->typing.null_cast_length = target[1];
  }
  CastCollation(ctx, node, target[0]);
  if (!null_operand && qmcnvchk(target[0], Code(ctx, operand)) == 0) {
    W(ctx, W(ctx, node, EXN_TYPE), TD_CODE) = 0;
    UserError(ctx, node, -12277);
    return;
  }
  if (target[0] == kSqlTypeTimestamp && Code(ctx, operand) == kSqlTypeTime) {
    ctx->typing.needs_date = 1;
  }
  CastGuards(ctx, node, W(ctx, node, EXN_DOMAIN));
}

void SmallKind(SqlCompileCtx* ctx, int32_t node, int32_t kind) {
  W(ctx, node, EXN_DERIVATION) = 3;
  switch (kind) {
    case 31: {
      SetType(ctx, node, kSqlTypeVarchar, 128, -1, 0);
      W(ctx, node, EXN_NULLABLE) = 0;
      int32_t selector = W(ctx, node, EXN_OPERAND1);
      int32_t mark = selector <= 1 ? 0 : selector - 1;
      if (mark >= 0 && mark < 4) ctx->typing.register_marks[mark] = 1;
      if (selector == 4) W(ctx, node, EXN_NULLABLE) = 1;
      break;
    }
    case 26: {
      int32_t query = W(ctx, node, EXN_OPERAND1);
      // A set operation takes its first operand's select list.
      for (int32_t guard = 0; query != 0 && WsWord(ctx, query, STN_KIND) == 27 && guard < 4096;
           ++guard) {
        query = WsWord(ctx, query, 6);
      }
      int32_t items = query != 0 ? WsWord(ctx, query, 4) : 0;
      int32_t item = items != 0 ? W(ctx, items, CELL_VALUE) : 0;
      int32_t value = item != 0 && WsWord(ctx, item, 0) == 2 ? WsWord(ctx, item, 3) : 0;
      if (value == 0) {
        W(ctx, node, EXN_TYPE_CLASS) = kClassNone;
        break;
      }
      ShareType(ctx, node, value);
      W(ctx, node, EXN_DERIVATION) = Derivation(ctx, value);
      W(ctx, node, EXN_NULLABLE) = 1;
      break;
    }
    default:  // 32, 97: the null literal and DEFAULT
      W(ctx, node, EXN_TYPE_CLASS) = kClassNone;
      W(ctx, node, EXN_NULLABLE) = 1;
      break;
  }
}

// OVERLAPS rewritten: comparisons over the four operands, to be typed by the
// walk. `dual` builds the complement of each term (for NOT OVERLAPS).
class OverlapsBuilder {
 public:
  OverlapsBuilder(SqlCompileCtx* ctx, int32_t node, bool dual)
      : ctx_(ctx), at_(&W(ctx, node, EXN_LINE)), dual_(dual) {}

  int32_t Term(int32_t a, int32_t b, int32_t c, int32_t d) {
    int32_t first = Or(Cmp(14, a, b), IsNull(b));
    int32_t second = Or(Cmp(14, c, d), IsNull(d));
    int32_t late_a = And(Cmp(13, a, c), Or(Cmp(12, a, d), Cmp(12, b, d)));
    int32_t late_c = And(Cmp(13, c, a), Or(Cmp(12, c, b), Cmp(12, d, b)));
    int32_t same = And(And(Cmp(10, a, c), IsNotNull(b)), IsNotNull(d));
    return And(And(first, second), Or(Or(late_a, late_c), same));
  }
  int32_t Join(int32_t a, int32_t b) { return Or(a, b); }

 private:
  int32_t Node(int32_t kind, int32_t a, int32_t b) { return qqcbix(ctx_, kind, at_, a, b, 0, 0); }
  int32_t Cmp(int32_t kind, int32_t a, int32_t b) {
    static const int32_t kComplement[] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 11, 10, 15, 14, 13, 12};
    return Node(dual_ ? kComplement[kind] : kind, a, b);
  }
  int32_t And(int32_t a, int32_t b) { return Node(dual_ ? kExprOr : kExprAnd, a, b); }
  int32_t Or(int32_t a, int32_t b) { return Node(dual_ ? kExprAnd : kExprOr, a, b); }
  int32_t Null() { return ExprOfKind(ctx_, kExprNull, at_, 0, 0); }
  int32_t IsNull(int32_t a) { return Cmp(10, a, Null()); }
  int32_t IsNotNull(int32_t a) { return Cmp(11, a, Null()); }

  SqlCompileCtx* ctx_;
  const int32_t* at_;
  bool dual_;
};

int32_t Overlaps(SqlCompileCtx* ctx, int32_t node) {
  int32_t s1 = W(ctx, node, 23);
  int32_t t1 = W(ctx, node, 24);
  int32_t s2 = W(ctx, node, 25);
  int32_t t2 = W(ctx, node, 26);
  qmuntyped(ctx, 10, s1, t1, kUntypedNone);
  qmuntyped(ctx, 10, s2, t2, kUntypedNone);
  qmuntyped(ctx, 10, s1, s2, kUntypedNone);
  qmuntyped(ctx, 10, t1, t2, kUntypedNone);
  FromOperands(ctx, node, {s1, t1, s2, t2});
  W(ctx, node, EXN_TYPE_CLASS) = kClassTruth;
  int32_t c1 = Class(ctx, s1);
  int32_t c2 = Class(ctx, s2);
  bool ok = true;
  for (int32_t c : {c1, c2}) {
    if (c != 0 && (c < 10 || c > 12)) {
      UserError(ctx, node, -12215, "DATETIME");
      ok = false;
    }
  }
  if (ok && c1 != 0 && c2 != 0 && c1 != c2) {
    UserError(ctx, node, -12216);
    ok = false;
  }
  // Each end: a datetime of its start's class, or an interval that fits it.
  bool sum[2] = {false, false};
  const int32_t starts[2] = {s1, s2};
  const int32_t ends[2] = {t1, t2};
  for (int32_t i = 0; ok && i < 2; ++i) {
    int32_t cs = Class(ctx, starts[i]);
    int32_t ct = Class(ctx, ends[i]);
    if (cs == 0 || ct == 0 || ct == cs) continue;
    int32_t code = Code(ctx, ends[i]);
    bool fits = (ct == kClassYearMonth || ct == kClassDayTime) &&
                ((cs == 10 && (ct == kClassYearMonth || code == 15)) ||
                 (cs == 11 && ct == kClassDayTime && code != 15) || cs == 12);
    if (!fits) {
      UserError(ctx, node, -12216);
      ok = false;
    }
    sum[i] = true;
  }
  if (!ok) {
    W(ctx, node, EXN_KIND) = 0;
    return 0;
  }
  if (sum[0]) t1 = ExprOfKind(ctx, kExprAdd, &W(ctx, node, EXN_LINE), s1, t1);
  if (sum[1]) t2 = ExprOfKind(ctx, kExprAdd, &W(ctx, node, EXN_LINE), s2, t2);
  bool negated = W(ctx, node, 22) != 0;
  OverlapsBuilder b(ctx, node, negated);
  int32_t left = b.Join(b.Term(s1, t1, s2, t2), b.Term(t1, s1, s2, t2));
  int32_t right = b.Join(b.Term(s1, t1, t2, s2), b.Term(t1, s1, t2, s2));
  int32_t kind = negated ? kExprAnd : kExprOr;
  W(ctx, node, EXN_KIND) = kind;
  W(ctx, node, EXN_OPERAND1) = left;
  W(ctx, node, EXN_OPERAND2) = right;
  for (int32_t w = 24; w <= 26; ++w) W(ctx, node, w) = 0;
  W(ctx, node, EXN_TYPE) = 0;
  return kind;
}

// The class word a routine's parameter of the class is named by.
const char* ParameterWord(int32_t cls) {
  switch (cls) {
    case kClassNumeric:
      return "NUMERIC";
    case 10:
      return "DATE";
    case 11:
      return "TIME";
    case 12:
      return "TIMESTAMP";
    case kClassYearMonth:
      return "LONG INTERVAL";
    case kClassDayTime:
      return "SHORT INTERVAL";
    case kClassBinary:
      return "BINARY";
    default:
      return "CHARACTER";
  }
}

// A CAST of an argument to its parameter's type.
int32_t ArgumentCast(SqlCompileCtx* ctx, int32_t argument, const int32_t* type) {
  int32_t cast = ExprOfKind(ctx, kExprCast, &W(ctx, argument, EXN_LINE), argument, 0);
  W(ctx, cast, 24) = NewType(ctx, type[0], type[1], type[2], type[3]);
  W(ctx, cast, EXN_TYPE) = W(ctx, cast, 24);
  W(ctx, cast, EXN_TYPE_CLASS) = qmtypcls(type[0]);
  W(ctx, cast, EXN_NULLABLE) = W(ctx, argument, EXN_NULLABLE);
  W(ctx, cast, EXN_DERIVATION) = Derivation(ctx, argument);
  W(ctx, cast, EXN_COLUMNS) = W(ctx, argument, EXN_COLUMNS);
  return cast;
}

void RoutineCall(SqlCompileCtx* ctx, int32_t node) {
  int32_t qualified = W(ctx, node, EXN_OPERAND1);
  SqlQualifiedName name = NameOf(ctx, qualified);
  int32_t answer[7] = {0, 0, 0, 0, 0, 0, 0};
  int32_t status = qdgetroutine(ctx, &name, answer);
  if (status < 0) qcfatal(ctx, status);
  char shown[kRefNameBytes];
  if (status > 0 || answer[1] != 1) {
    qmrefname(ctx, 2, qualified, shown);
    UserErrorNamed(ctx, node, status > 0 ? -12831 : -12849, 'C', shown);
    return;
  }
  int32_t routine = answer[0];
  std::vector<SqlRoutineParam> params;
  for (int32_t position = 1;; ++position) {
    SqlRoutineParam p;
    int32_t rc = qdgetparams(ctx, routine, position, &p);
    if (rc < 0) qcfatal(ctx, rc);
    if (rc > 0) break;
    params.push_back(p);
  }
  int32_t count = qqllen(ctx, W(ctx, node, EXN_OPERAND2));
  if (count != static_cast<int32_t>(params.size())) {
    UserErrorNamed(ctx, node, -12735, 'C', std::to_string(params.size()).c_str());
    return;
  }
  bool ok = true;
  int32_t i = 0;
  for (int32_t c = W(ctx, node, EXN_OPERAND2); c != 0; c = W(ctx, c, CELL_NEXT), ++i) {
    int32_t argument = W(ctx, c, CELL_VALUE);
    const int32_t* type = params[static_cast<size_t>(i)].type;
    int32_t want = qmtypcls(type[0]);
    if (ctx->compile_mode == 1 && Kind(ctx, argument) == kExprHostParameter &&
        Class(ctx, argument) != want) {
      SetType(ctx, argument, type[0], type[1], type[2], type[3]);
    }
    int32_t cls = Class(ctx, argument);
    if (cls == kClassUntyped || cls == 0) {
      SetType(ctx, argument, type[0], type[1], type[2], type[3]);
    } else if (qmsamecls(cls, want) != 0 ||
               (cls == kClassCharacter && want == kClassNational) ||
               (cls == kClassNational && want == kClassCharacter)) {
      W(ctx, c, CELL_VALUE) = ArgumentCast(ctx, argument, type);
    } else {
      UserError(ctx, node, -12736, ParameterWord(want));
      ok = false;
    }
  }
  W(ctx, node, EXN_DERIVATION) = 3;
  W(ctx, node, EXN_NULLABLE) = 1;
  W(ctx, node, EXN_ROUTINE_ID) = routine;
  if (!ok) return;
  SqlRoutineParam result;
  int32_t rc = qdgetparcols(ctx, routine, 1, &result);
  if (rc < 0) qcfatal(ctx, rc);
  if (rc > 0) {
    W(ctx, node, EXN_TYPE_CLASS) = kClassNone;
    return;
  }
  SetType(ctx, node, result.type[0], result.type[1], result.type[2], result.type[3]);
}

}  // namespace

void qmunary(SqlCompileCtx* ctx, int32_t node) {
  Unary(ctx, node, Kind(ctx, node));
}

void qmpredicate(SqlCompileCtx* ctx, int32_t node) {
  switch (Kind(ctx, node)) {
    case 21:
      Like(ctx, node);
      break;
    case 22:
      W(ctx, node, EXN_TYPE_CLASS) = kClassTruth;
      W(ctx, node, EXN_DERIVATION) = 8;
      W(ctx, node, EXN_NULLABLE) = 0;
      break;
    default: {  // 23
      int32_t a = W(ctx, node, EXN_OPERAND1);
      Default(ctx, 23, a, kUntypedNone);
      FromOperand(ctx, node, a);
      W(ctx, node, EXN_NULLABLE) = 0;
      W(ctx, node, EXN_TYPE_CLASS) = kClassTruth;
      break;
    }
  }
}

int32_t qmoverlaps(SqlCompileCtx* ctx, int32_t node) {
  return Overlaps(ctx, node);
}

void qmstrfunc(SqlCompileCtx* ctx, int32_t node) {
  int32_t kind = Kind(ctx, node);
  switch (kind) {
    case 43:
      Substring(ctx, node);
      break;
    case 44:
      Trim(ctx, node);
      break;
    case 63:
      Position(ctx, node);
      break;
    default:
      PasteRepeatReplaceTail(ctx, node, kind);
      break;
  }
}

void qmnumfunc(SqlCompileCtx* ctx, int32_t node) {
  NumericFunction(ctx, node, Kind(ctx, node));
}

void qmsetfunc(SqlCompileCtx* ctx, int32_t node, SemContext* sem) {
  SetFunction(ctx, node, Kind(ctx, node), sem);
}

void qmextract(SqlCompileCtx* ctx, int32_t node) {
  Extract(ctx, node);
}

void qmcase(SqlCompileCtx* ctx, int32_t node) {
  Case(ctx, node);
}

void qmcast(SqlCompileCtx* ctx, int32_t node) {
  Cast(ctx, node);
}

void qmroutine(SqlCompileCtx* ctx, int32_t node) {
  RoutineCall(ctx, node);
}

void qmsmall(SqlCompileCtx* ctx, int32_t node) {
  SmallKind(ctx, node, Kind(ctx, node));
}

int32_t qmtypexpr(SqlCompileCtx* ctx, int32_t node, SemContext* sem) {
  int32_t kind = Kind(ctx, node);
  if (kind == 0) {
    qmassign(ctx, node, sem);
  } else if (InRange(kind, 1, 5) || InRange(kind, 8, 15)) {
    qmbinop(ctx, node);
  } else if (kind == 6 || kind == 7 || kind == 24 || kind == 25 || InRange(kind, 38, 42) ||
             kind == 48 || kind == 53 || kind == 61 || InRange(kind, 71, 74) || kind == 76 ||
             kind == 77) {
    qmunary(ctx, node);
  } else if (InRange(kind, 16, 20)) {
    qmsetfunc(ctx, node, sem);
  } else if (InRange(kind, 21, 23)) {
    qmpredicate(ctx, node);
  } else if (kind == 26 || kind == 31 || kind == 32 || kind == 97) {
    qmsmall(ctx, node);
  } else if (kind == kExprLiteral) {
    qmaval(ctx, node);
  } else if (kind == kExprHostParameter) {
    qmahos(ctx, node, sem);
  } else if (kind == kExprColumnRef) {
    if (W(ctx, node, EXN_TABLE_REF) != 0) {
      qmgroupchk(ctx, node, W(ctx, node, EXN_LEVEL), 0, sem);
    } else {
      W(ctx, node, EXN_TYPE_CLASS) = kClassNone;  // unbound: its error is reported
    }
  } else if (kind == kExprCast) {
    qmcast(ctx, node);
  } else if (kind == kExprCase) {
    qmcase(ctx, node);
  } else if (kind == 43 || kind == 44 || InRange(kind, 49, 52) || kind == 63) {
    qmstrfunc(ctx, node);
  } else if (kind == kExprExtract) {
    qmextract(ctx, node);
  } else if (InRange(kind, 64, 70) || InRange(kind, 80, 95)) {
    qmnumfunc(ctx, node);
  } else if (kind == kExprSequence) {
    qmnamchk(ctx, node);
  } else if (kind == kExprOverlaps) {
    return qmoverlaps(ctx, node);
  } else if (kind == kExprRoutineCall) {
    qmroutine(ctx, node);
  } else if (kind != 100) {
    qcinterr(ctx, "QME: qmtypexpr", -19207);
  }
  return Kind(ctx, node);
}
