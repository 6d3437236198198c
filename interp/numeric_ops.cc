// Packed decimal instructions that the loop runs itself: assignment, the four
// operations, integer and character-text conversions. A value routine's
// negative status s fails the instruction with s - 10300.
#include <algorithm>
#include <cstring>

#include "interp/run_state.h"
#include "interp/varying.h"
#include "platform/decimal_arith.h"
#include "platform/decimal_text.h"
#include "platform/packed_decimal.h"

namespace interp {
namespace {

value_descriptor Dec(int32_t offset, int32_t precision) {
  return value_descriptor{offset, precision};
}

void Assign(Run& run) {  // MVN
  const int32_t rc = decimal_assign(run.bytes(), Dec(run.op(1), run.op(2)), run.bytes(),
                                    Dec(run.op(3), run.op(4)));
  if (rc < -1) return run.fail(kDecimalErrorBase + rc);
  run.next();
}

// ADD, SUB, MUL, DIV: mode op1; (op2, op3) := (op2, op3) operation (op4, op5).
template <int32_t operation>
void Arith(Run& run) {
  const int32_t rc = decimal_arith(run.bytes(), Dec(run.op(2), run.op(3)), run.bytes(),
                                   Dec(run.op(4), run.op(5)), operation, run.op(1));
  if (rc < 0 && rc != kDecimalDigitsLost) return run.fail(kDecimalErrorBase + rc);
  run.next();
}

void FromInteger(Run& run) {  // CIN
  const int64_t w = int64_t{run.op(3)} + 1;
  if (!run.words(w, 1)) return run.fail(kErrBadOperand);
  const int32_t rc =
      int_to_decimal(run.bytes(), Dec(run.op(1), run.op(2)), run.word(static_cast<int32_t>(w)));
  if (rc < 0) return run.fail(kDecimalErrorBase + rc);
  run.next();
}

void ToInteger(Run& run) {  // CNI
  const int64_t w64 = int64_t{run.op(1)} + 1;
  if (!run.words(w64, 1)) return run.fail(kErrBadOperand);
  const int32_t w = static_cast<int32_t>(w64);
  int32_t value = 0;
  const int32_t rc = decimal_to_int(&value, run.bytes(), Dec(run.op(2), run.op(3)));
  if (rc < 0 && rc != kDecimalDigitsLost) return run.fail(kDecimalErrorBase + rc);
  run.word(w) = value;
  run.next();
}

// CCN: text (op4, length op5) to the decimal (op1, precision op2, scale op3).
void FromText(Run& run) {
  const int32_t t = run.op(4), n = run.op(5);
  if (n < 0 || !run.fits(t, int64_t{n} + 1)) return run.fail(kErrBadOperand);
  value_descriptor out{run.op(1), run.op(2), run.op(3)};
  if (run.at(t)[0] == 255) {
    decimal_set_null(run.bytes(), out);
    return run.next();
  }
  const int32_t rc = text_to_decimal(run.bytes(), out, run.bytes(), t + 1, n);
  if (rc == 1) return run.fail(kErrTextSyntax);
  if (rc < -1) return run.fail(kErrTextRange);
  run.next();
}

// CNC: the character value (op1, maximum op2, length field op3 or -1) :=
// the decimal (op5, precision op6) as text, left aligned and blank padded:
// with op4 fraction digits, integer digits only for a scale of 0, the
// exponent form for a floating value (scale -1). The length field gets the
// text's length.
void ToText(Run& run) {
  const int32_t t = run.op(1), n = run.op(2), lf = run.op(3), scale = run.op(4);
  const value_descriptor source{run.op(5), run.op(6)};
  if (n < 1 || n > kDecimalTextMaxLength || !run.fits(t, int64_t{n} + 1) || source.precision < 1 ||
      source.precision > kDecimalMaxPrecision ||
      !run.fits(source.offset, decimal_bytes(source.precision)) || scale > kDecimalMaxPrecision)
    return run.fail(kErrBadOperand);
  if (run.at(source.offset)[0] == 255)
    return SetVaryingNull(run, t, n, lf) ? run.next() : run.fail(kErrBadOperand);
  const int32_t format = scale < 0    ? kDecimalTextExponent
                         : scale == 0 ? kDecimalTextInteger
                                      : scale;
  const int32_t rc = decimal_to_fitted_text(run.bytes(), t + 1, n, format, run.bytes(), source);
  if (rc == kDecimalOverflowPos || rc == kDecimalOverflowNeg) return run.fail(kErrCharsLost);
  if (rc < kDecimalDigitsLost) return run.fail(kErrTextRange);
  // Right aligned by the routine: move the text to the left.
  uint8_t* text = run.at(t + 1);
  const int32_t lead = mdr_find_byte(run.bytes(), t + 1, n, ' ') - 1;
  std::memmove(text, text + lead, static_cast<size_t>(n - lead));
  std::memset(text + n - lead, ' ', static_cast<size_t>(lead));
  run.at(t)[0] = 0;
  if (const int32_t w = WriteLength(run, lf, n, n - lead); w != 0)
    return run.fail(kLengthFieldErrorBase + w);
  run.next();
}

// MOD: (op1, op2) := remainder of (op1, op2) by (op3, op4), the quotient cut
// towards zero, worked in 45-digit values so that no digit of it is lost.
void Remainder(Run& run) {
  const value_descriptor a = Dec(run.op(1), run.op(2)), b = Dec(run.op(3), run.op(4));
  const int32_t sa = decimal_sign(run.bytes(), a), sb = decimal_sign(run.bytes(), b);
  if (sa < 0 || sb < 0) return run.fail(kDecimalErrorBase + std::min(sa, sb));
  if (sa == kTruthUnknown || sb == kTruthUnknown) {
    decimal_set_null(run.bytes(), a);
    return run.next();
  }
  uint8_t work[2 * kDecimalMaxBytes] = {};
  const ByteSpan w(work, sizeof work);
  const value_descriptor q{0, kDecimalMaxPrecision}, r{kDecimalMaxBytes, kDecimalMaxPrecision};
  int32_t rc = decimal_assign(w, q, run.bytes(), a);
  if (rc >= -1) rc = decimal_arith(w, q, run.bytes(), b, kDecimalDivide, kDecimalSilent);
  if (rc >= -1) rc = decimal_truncate(w, q, 4, 0);
  if (rc >= -1) rc = decimal_arith(w, q, run.bytes(), b, kDecimalMultiply, kDecimalSilent);
  if (rc >= -1) rc = decimal_assign(w, r, run.bytes(), a);
  if (rc >= -1) rc = decimal_arith(w, r, w, q, kDecimalSubtract, kDecimalSilent);
  if (rc >= -1) rc = decimal_assign(run.bytes(), a, w, r);
  if (rc < -1) return run.fail(kDecimalErrorBase + rc);
  run.next();
}

// NFC: numeric function op1 on the decimal (op2, precision op3) in place.
void NumericFunction(Run& run) {
  const value_descriptor d = Dec(run.op(2), run.op(3));
  int32_t rc = 0;
  switch (run.op(1)) {
    case 21:
      rc = decimal_ceiling(run.bytes(), d);
      break;
    case 22:
      rc = decimal_floor(run.bytes(), d);
      break;
    case 23:
      rc = decimal_abs(run.bytes(), d);
      break;
    case 24: {
      const int32_t sign = decimal_sign(run.bytes(), d);
      if (sign < 0) return run.fail(kDecimalErrorBase + sign);
      if (sign != kTruthUnknown) rc = int_to_decimal(run.bytes(), d, sign - 3);
      break;
    }
    default:
      return run.fail(kErrBadOperand);
  }
  if (rc < 0 && rc != kDecimalDigitsLost) return run.fail(kDecimalErrorBase + rc);
  run.next();
}

}  // namespace

void InstallNumericOps(Instruction t[]) {
  t[32] = Assign;
  t[33] = Arith<kDecimalAdd>;
  t[34] = Arith<kDecimalSubtract>;
  t[35] = Arith<kDecimalMultiply>;
  t[36] = Arith<kDecimalDivide>;
  t[80] = FromText;
  t[81] = ToText;
  t[88] = NumericFunction;
  t[89] = Remainder;
  t[124] = FromInteger;
  t[125] = ToInteger;
}

}  // namespace interp
