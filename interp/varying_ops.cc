// Instructions on varying values: the varying moves with their error and
// warning forms, appending and concatenation, and the length, position and
// character-code functions that read length fields.
#include <climits>
#include <cstring>

#include "interp/varying.h"
#include "platform/packed_decimal.h"

namespace interp {
namespace {

// Fails with the length-field status; true when the instruction failed.
bool LengthFailed(Run& run, int32_t status) {
  if (status == 0) return false;
  run.fail(kLengthFieldErrorBase + status);
  return true;
}

enum class Cut { kFailNonBlank, kWarnNonBlank, kFailAny, kWarnAny };

// MTV, MVW, MPV, MPW: target (op1, max op2, length field op3), source (op4,
// max op5, length field op6).
template <uint8_t fill, Cut cut>
void MoveVarying(Run& run) {
  const int32_t t = run.op(1), tmax = run.op(2), tlf = run.op(3);
  const int32_t s = run.op(4), smax = run.op(5), slf = run.op(6);
  if (tmax < 0 || smax < 0 || !run.fits(t, int64_t{tmax} + 1) || !run.fits(s, int64_t{smax} + 1))
    return run.fail(kErrBadOperand);
  if (run.at(s)[0] == 255) {
    if (!SetVaryingNull(run, t, tmax, tlf))
      run.fail(kErrBadOperand);
    else
      run.next();
    return;
  }
  int32_t length = 0;
  const int32_t rc = ReadLength(run, slf, smax, &length);
  if (rc == 1) {  // a null length is a null value
    if (!SetVaryingNull(run, t, tmax, tlf))
      run.fail(kErrBadOperand);
    else
      run.next();
    return;
  }
  if (LengthFailed(run, rc)) return;
  bool lost = false;
  if (length > tmax) {
    const bool blanks = cut == Cut::kFailNonBlank || cut == Cut::kWarnNonBlank;
    lost = !blanks || mdr_find_byte(run.bytes(), s + 1 + tmax, length - tmax, ' ') != 0;
  }
  if (lost && (cut == Cut::kFailNonBlank || cut == Cut::kFailAny)) return run.fail(kErrCharsLost);
  const int32_t kept = std::min(length, tmax);
  run.at(t)[0] = 0;
  mdr_move_pad(run.bytes(), t + 1, tmax, run.bytes(), s + 1, kept, fill);
  if (LengthFailed(run, WriteLength(run, tlf, tmax, kept))) return;
  if (lost) return run.warn(kWarnCut);
  run.next();
}

// APC: op4 data bytes of the value at op3 appended to the value at op1
// behind its first op2 data bytes.
void Append(Run& run) {
  const int32_t t = run.op(1), keep = run.op(2), s = run.op(3), n = run.op(4);
  if (keep < 0 || n < 0 || !run.fits(t, int64_t{keep} + n + 1) || !run.fits(s, int64_t{n} + 1))
    return run.fail(kErrBadOperand);
  if (run.at(t)[0] == 255) return run.next();
  if (run.at(s)[0] == 255) {
    std::memset(run.at(t), 255, static_cast<size_t>(keep) + 1);
    return run.next();
  }
  std::memmove(run.at(t + 1 + keep), run.at(s + 1), static_cast<size_t>(n));
  run.next();
}

// ACV: the varying value at op4 appended to the varying value at op1.
void Concatenate(Run& run) {
  const int32_t t = run.op(1), tmax = run.op(2), tlf = run.op(3);
  const int32_t s = run.op(4), smax = run.op(5), slf = run.op(6);
  if (tmax < 0 || smax < 0 || !run.fits(t, int64_t{tmax} + 1) || !run.fits(s, int64_t{smax} + 1))
    return run.fail(kErrBadOperand);
  if (run.at(t)[0] == 255) return run.next();
  if (run.at(s)[0] == 255) {
    if (!SetVaryingNull(run, t, tmax, tlf)) return run.fail(kErrBadOperand);
    return run.next();
  }
  int32_t tl = 0, sl = 0;
  if (LengthFailed(run, ReadLength(run, tlf, tmax, &tl))) return;
  if (LengthFailed(run, ReadLength(run, slf, smax, &sl))) return;
  const int64_t total = int64_t{tl} + sl;
  // The target's own maximum bounds the result as much as the 15000 bytes
  // do: anything longer would be written past the target's field.
  if (total > kMaxVaryingBytes || total > tmax) return run.fail(kErrTooLong);
  std::memmove(run.at(t + 1 + tl), run.at(s + 1), static_cast<size_t>(sl));
  if (LengthFailed(run, WriteLength(run, tlf, tmax, static_cast<int32_t>(total)))) return;
  run.next();
}

// CHL: (op1, precision op2) := the length of the value at op3 (max op4,
// length field op5).
void Length(Run& run) {
  const value_descriptor out{run.op(1), run.op(2)};
  const int32_t v = run.op(3), max = run.op(4);
  if (max < 0 || !run.fits(v, 1)) return run.fail(kErrBadOperand);
  if (run.at(v)[0] == 255) {
    decimal_set_null(run.bytes(), out);
    return run.next();
  }
  int32_t length = 0;
  if (LengthFailed(run, ReadLength(run, run.op(5), max, &length))) return;
  const int32_t rc = int_to_decimal(run.bytes(), out, length);
  if (rc < 0) return run.fail(kDecimalErrorBase + rc);
  run.next();
}

// POS: (op1, op2) := 1-based position of the value (op3, op4, op5) in the
// value (op6, op7, op8).
void Position(Run& run) {
  const value_descriptor out{run.op(1), run.op(2)};
  const int32_t a = run.op(3), amax = run.op(4), b = run.op(6), bmax = run.op(7);
  if (amax < 0 || bmax < 0 || !run.fits(a, int64_t{amax} + 1) || !run.fits(b, int64_t{bmax} + 1))
    return run.fail(kErrBadOperand);
  if (run.at(a)[0] == 255 || run.at(b)[0] == 255) {
    decimal_set_null(run.bytes(), out);
    return run.next();
  }
  int32_t al = 0, bl = 0;
  if (LengthFailed(run, ReadLength(run, run.op(5), amax, &al))) return;
  if (LengthFailed(run, ReadLength(run, run.op(8), bmax, &bl))) return;
  int32_t at = 1;
  if (al > 0) {
    const int32_t end = mdr_find_bytes(run.bytes(), b + 1, bl, run.bytes(), a + 1, al);
    at = end == 0 ? 0 : end - al + 1;
  }
  const int32_t rc = int_to_decimal(run.bytes(), out, at);
  if (rc < 0) return run.fail(kDecimalErrorBase + rc);
  run.next();
}

// ASC: (op1, precision op2) := first data byte of the value (op3, max op4,
// length field op5); null for a null or empty value.
void CharacterCode(Run& run) {
  const value_descriptor out{run.op(1), run.op(2)};
  const int32_t v = run.op(3), max = run.op(4);
  if (max < 0 || !run.fits(v, int64_t{max} + 1)) return run.fail(kErrBadOperand);
  int32_t length = 0;
  if (run.at(v)[0] != 255) {
    const int32_t rc = ReadLength(run, run.op(5), max, &length);
    if (rc != 1 && LengthFailed(run, rc)) return;
  }
  if (run.at(v)[0] == 255 || length == 0) {
    decimal_set_null(run.bytes(), out);
    return run.next();
  }
  const int32_t rc = int_to_decimal(run.bytes(), out, run.at(v)[1]);
  if (rc < 0) return run.fail(kDecimalErrorBase + rc);
  run.next();
}

// CHR: the value (op1, length op2, length field op3) := the byte whose code
// the decimal (op4, precision op5) holds, blank padded.
void CodeCharacter(Run& run) {
  const int32_t v = run.op(1), n = run.op(2), lf = run.op(3);
  if (n < 1 || !run.fits(v, int64_t{n} + 1)) return run.fail(kErrBadOperand);
  int32_t code = 0;
  const int32_t rc = decimal_to_int(&code, run.bytes(), value_descriptor{run.op(4), run.op(5)});
  if (rc < 0 && rc != kDecimalNull) return run.fail(kDecimalErrorBase + rc);
  if (rc == kDecimalNull || code < 0 || code > 255) {
    if (!SetVaryingNull(run, v, n, lf)) return run.fail(kErrBadOperand);
    return run.next();
  }
  run.at(v)[0] = 0;
  run.at(v)[1] = static_cast<uint8_t>(code);
  std::memset(run.at(v + 2), ' ', static_cast<size_t>(n) - 1);
  if (LengthFailed(run, WriteLength(run, lf, n, 1))) return;
  run.next();
}

// Digits of a 64-bit maximum length given as low and high word.
int32_t Digits64(int32_t low, int32_t high) {
  uint64_t m =
      (static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | static_cast<uint32_t>(low);
  int32_t digits = 1;
  for (; m >= 10; m /= 10) ++digits;
  return digits;
}

// MLO: the length (the packed decimal at byte 12) of the large-object value
// at op4 (maximum op5 low, op6 high) into that of the value at op1 (op2, op3).
void LargeObjectLength(Run& run) {
  constexpr int32_t kLengthAt = 12;
  const value_descriptor t{run.op(1) + kLengthAt, Digits64(run.op(2), run.op(3))};
  const value_descriptor s{run.op(4) + kLengthAt, Digits64(run.op(5), run.op(6))};
  if (run.op(1) < 0 || run.op(4) < 0 || run.op(1) > INT32_MAX - kLengthAt ||
      run.op(4) > INT32_MAX - kLengthAt || !run.fits(t.offset, decimal_bytes(t.precision)) ||
      !run.fits(s.offset, decimal_bytes(s.precision)) || !run.fits(run.op(4), 1))
    return run.fail(kErrBadOperand);
  if (run.at(run.op(4))[0] == 255) {
    decimal_set_null(run.bytes(), t);
    return run.next();
  }
  const int32_t rc = decimal_assign(run.bytes(), t, run.bytes(), s);
  if (rc < 0) return run.fail(kLengthFieldErrorBase + rc);
  run.next();
}

}  // namespace

void InstallVaryingOps(Instruction t[]) {
  t[64] = Append;
  t[77] = Concatenate;
  t[91] = CharacterCode;
  t[92] = CodeCharacter;
  t[93] = Length;
  t[94] = Position;
  t[167] = LargeObjectLength;
  t[131] = MoveVarying<' ', Cut::kFailNonBlank>;  // MTV
  t[133] = MoveVarying<' ', Cut::kWarnNonBlank>;  // MVW
  t[153] = MoveVarying<0, Cut::kFailAny>;         // MPV
  t[161] = MoveVarying<0, Cut::kWarnAny>;         // MPW
}

}  // namespace interp
