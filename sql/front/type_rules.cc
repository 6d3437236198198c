// The type model of expression typing: type classes, the conversion matrix,
// derivation classes, arithmetic and common result types and the typing of
// the binary operators.
#include "sql/front/compile_context.h"
#include "sql/front/compile_diag.h"
#include "sql/front/expr_types.h"

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

int32_t qmnchcast(SqlCompileCtx* ctx, int32_t) {
  qcinterr(ctx, "QME: qmnchcast", -19040);
}

int32_t qmarithtype(SqlCompileCtx* ctx, int32_t, int32_t, int32_t, int32_t) {
  qcinterr(ctx, "QME: qmarithtype", -19040);
}

void qmcommontype(SqlCompileCtx* ctx, int32_t, int32_t, int32_t*, int32_t*, int32_t) {
  qcinterr(ctx, "QME: qmcommontype", -19040);
}

void qmbinop(SqlCompileCtx* ctx, int32_t) {
  qcinterr(ctx, "QME: qmbinop", -19040);
}
