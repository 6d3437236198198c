// Numeric function instructions run out of the loop: rounding and truncation
// of packed decimals in place (TRN, TRU), the floating-point functions of one
// and two arguments (TRG, TRT) and the counter steps on packed decimals (SIV,
// SDV, SZV, SRS). A handler marshals operands, calls the value routine and
// maps its status: a negative status s fails the instruction with s - 10300.
#include "interp/run_state.h"
#include "platform/decimal_arith.h"
#include "platform/float_functions.h"
#include "platform/number_text.h"
#include "platform/packed_decimal.h"

namespace interp {
namespace {

value_descriptor Dec(int32_t offset, int32_t precision) {
  return value_descriptor{offset, precision};
}

// TRN: the decimal (op1, precision op2) cut in place to op3 digits with op4
// fraction digits (-1 floating). Lost digits are no error.
void Round(Run& run) {
  const int32_t precision = run.op(3), fraction = run.op(4);
  // Checked before the routine runs: it would make the value null first.
  if (precision < 1 || precision > kDecimalMaxPrecision || fraction < -1 || fraction > precision)
    return run.fail(kErrTextRange);
  const int32_t rc = decimal_round(run.bytes(), Dec(run.op(1), run.op(2)), precision, fraction);
  if (rc == kDecimalOverflowPos || rc == kDecimalOverflowNeg) return run.fail(kErrTextRange);
  if (rc < kDecimalDigitsLost) return run.fail(kDecimalErrorBase + rc);
  run.next();
}

// TRU: mode op1 (1 round, 2 truncate to significant digits; 3 round, 4
// truncate to fraction digits) applied to the decimal (op2, precision op3)
// with the number of places the decimal (op5, precision op6) holds; a null
// number of places makes the value null.
void Truncate(Run& run) {
  const value_descriptor value = Dec(run.op(2), run.op(3));
  int32_t places = 0;
  int32_t rc = decimal_to_int(&places, run.bytes(), Dec(run.op(5), run.op(6)));
  if (rc < kDecimalDigitsLost) return run.fail(kDecimalErrorBase + rc);
  if (rc == kDecimalNull) {
    if (decimal_set_null(run.bytes(), value) < 0) return run.fail(kErrBadOperand);
    return run.next();
  }
  rc = decimal_truncate(run.bytes(), value, run.op(1), places);
  if (rc < kDecimalDigitsLost) return run.fail(kDecimalErrorBase + rc);
  run.next();
}

// The argument (offset, precision) as a double: 0, 1 for a null, or a
// negative status.
int32_t Argument(const Run& run, int32_t offset, int32_t precision, double* x) {
  return decimal_to_double(x, run.bytes(), Dec(offset, precision));
}

// TRG (one argument) and TRT (two): the result (op2, precision op3) :=
// function op1 of the argument (op4, op5) and, for TRT, (op6, op7). A null
// argument gives a null result. The result passes through an 8-byte float
// field as the float library hands it, so a result the field refuses (not a
// number, denormal) is a range error like the function's own.
template <bool two>
void FloatFunction(Run& run) {
  const value_descriptor result = Dec(run.op(2), run.op(3));
  double x = 0, y = 0, out = 0;
  int32_t rc = Argument(run, run.op(4), run.op(5), &x);
  if (two && rc == 0) rc = Argument(run, run.op(6), run.op(7), &y);
  if (rc == 0) rc = float_function(run.op(1), &out, x, y);
  if (rc == 0) {
    uint8_t field[8];
    rc = double_store(out, ByteSpan(field, sizeof field), 0, 8);
    if (rc == 0) rc = double_load(&out, ConstByteSpan(field, sizeof field), 0, 8);
  }
  if (rc == 0) rc = double_to_decimal(run.bytes(), result, out);
  if (rc < 0) return run.fail(kDecimalErrorBase + rc);
  if (rc > 0 && decimal_set_null(run.bytes(), result) < 0) return run.fail(kErrBadOperand);
  run.next();
}

// SIV and SDV: the decimal (op1, precision op2) plus or minus one in place;
// a cut of digits is reported.
template <int32_t operation>
void Step(Run& run) {
  uint8_t one[2];
  const value_descriptor d1{0, 1};
  int_to_decimal(ByteSpan(one, sizeof one), d1, 1);
  const int32_t rc =
      decimal_arith(run.bytes(), Dec(run.op(1), run.op(2)), ConstByteSpan(one, sizeof one), d1,
                    operation, kDecimalReportCut);
  if (rc < 0) return run.fail(kDecimalErrorBase + rc);
  run.next();
}

void SetZero(Run& run) {  // SZV
  const int32_t rc = decimal_set_zero(run.bytes(), Dec(run.op(1), run.op(2)));
  if (rc < 0) return run.fail(kDecimalErrorBase + rc);
  run.next();
}

// SRS: the decimal (op1, precision op2) := 0 - itself, worked in a zero of
// the same precision and assigned back. Every step's status counts: a bad
// operand must fail rather than leave the value as it was.
void ChangeSign(Run& run) {
  const value_descriptor value = Dec(run.op(1), run.op(2));
  uint8_t work[kDecimalMaxBytes];
  const ByteSpan w(work, sizeof work);
  const value_descriptor zero{0, value.precision};
  int32_t rc = decimal_set_zero(w, zero);
  if (rc >= 0) rc = decimal_arith(w, zero, run.bytes(), value, kDecimalSubtract, kDecimalSilent);
  if (rc >= kDecimalDigitsLost) rc = decimal_assign(run.bytes(), value, w, zero);
  if (rc < kDecimalDigitsLost) return run.fail(kDecimalErrorBase + rc);
  run.next();
}

}  // namespace

void InstallNumericFunctions(Instruction t[]) {
  t[29] = SetZero;                  // SZV
  t[30] = Step<kDecimalAdd>;        // SIV
  t[37] = Round;                    // TRN
  t[62] = ChangeSign;               // SRS
  t[86] = FloatFunction<false>;     // TRG
  t[87] = FloatFunction<true>;      // TRT
  t[90] = Truncate;                 // TRU
  t[123] = Step<kDecimalSubtract>;  // SDV
}

}  // namespace interp
