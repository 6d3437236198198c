// Conversions between single-byte character values (format 1) and wide
// character values (3 bytes a character): CUC and CUW to single bytes, CCU
// and CCW to wide characters, with their length fields; and the varying
// wide moves MTU and MUV and the concatenation AUV.
#include <algorithm>
#include <cstring>

#include "interp/varying.h"
#include "platform/char_format.h"
#include "platform/packed_decimal.h"

namespace interp {
namespace {

constexpr int32_t kCharFormatErrorBase = -10350;
constexpr int32_t kMaxWideChars = 5000;

// Target (op1, op2 characters, length field op3), source (op4, op5
// characters, length field op6).
template <bool to_wide, bool warn>
void Convert(Run& run) {
  const int64_t tw = to_wide ? 3 : 1, sw = to_wide ? 1 : 3;
  const int32_t t = run.op(1), tl = run.op(2), tlf = run.op(3);
  const int32_t s = run.op(4), sl = run.op(5), slf = run.op(6);
  if (tl < 0 || sl < 0 || !run.fits(t, tw * tl + 1) || !run.fits(s, sw * sl + 1))
    return run.fail(kErrBadOperand);
  int32_t n = 0;
  const int32_t lrc = run.at(s)[0] == 255 ? 1 : ReadLength(run, slf, sl, &n);
  if (lrc == 1)  // a null source
    return SetVaryingNull(run, t, tl, tlf, static_cast<int32_t>(tw)) ? run.next()
                                                                     : run.fail(kErrBadOperand);
  if (lrc != 0) return run.fail(kLengthFieldErrorBase + lrc);
  run.at(t)[0] = 0;
  const int32_t rc = to_wide ? charenc_to_units3(run.bytes(), t + 1, 3 * tl, run.bytes(), s + 1, n,
                                                 kCharFormatLatin1)
                             : charenc_from_units3(run.bytes(), t + 1, tl, kCharFormatLatin1,
                                                   run.bytes(), s + 1, 3 * n);
  if (rc < 0) return run.fail(kCharFormatErrorBase + rc);
  // The length field cannot hold more than the target does.
  if (const int32_t w = WriteLength(run, tlf, tl, std::min(n, tl)); w != 0)
    return run.fail(kLengthFieldErrorBase + w);
  if (rc == kCharCut) {
    if (warn) return run.warn(kWarnCut);
    return run.fail(kErrCharsLost);
  }
  run.next();
}

// MTU, MUV: varying wide target (op1, op2 characters, op3) := varying wide
// source (op4, op5, op6).
template <bool warn>
void MoveWideVarying(Run& run) {
  const int32_t t = run.op(1), tl = run.op(2), tlf = run.op(3);
  const int32_t s = run.op(4), sl = run.op(5), slf = run.op(6);
  if (tl < 0 || sl < 0 || !run.fits(t, 3 * int64_t{tl} + 1) || !run.fits(s, 3 * int64_t{sl} + 1))
    return run.fail(kErrBadOperand);
  int32_t n = 0;
  const int32_t lrc = run.at(s)[0] == 255 ? 1 : ReadLength(run, slf, sl, &n);
  if (lrc == 1) return SetVaryingNull(run, t, tl, tlf, 3) ? run.next() : run.fail(kErrBadOperand);
  if (lrc != 0) return run.fail(kLengthFieldErrorBase + lrc);
  run.at(t)[0] = 0;
  const int32_t rc = charenc_copy_units3(run.bytes(), t + 1, 3 * tl, run.bytes(), s + 1, 3 * n);
  if (rc == kCharInvalid) return run.fail(kErrInvalidWide);
  if (rc < 0) return run.fail(kErrConvert);
  if (const int32_t w = WriteLength(run, tlf, tl, std::min(n, tl)); w != 0)
    return run.fail(kLengthFieldErrorBase + w);
  if (rc == kCharCut) return warn ? run.warn(kWarnCut) : run.fail(kErrCharsLost);
  run.next();
}

// AUV: the varying wide value at op4 appended to the one at op1 (lengths in
// characters).
void ConcatenateWide(Run& run) {
  const int32_t t = run.op(1), tl = run.op(2), tlf = run.op(3);
  const int32_t s = run.op(4), sl = run.op(5), slf = run.op(6);
  if (tl < 0 || sl < 0 || !run.fits(t, 3 * int64_t{tl} + 1) || !run.fits(s, 3 * int64_t{sl} + 1))
    return run.fail(kErrBadOperand);
  if (run.at(t)[0] == 255) return run.next();
  if (run.at(s)[0] == 255)
    return SetVaryingNull(run, t, tl, tlf, 3) ? run.next() : run.fail(kErrBadOperand);
  int32_t a = 0, b = 0;
  if (const int32_t rc = ReadLength(run, tlf, tl, &a); rc != 0)
    return run.fail(kLengthFieldErrorBase + rc);
  if (const int32_t rc = ReadLength(run, slf, sl, &b); rc != 0)
    return run.fail(kLengthFieldErrorBase + rc);
  const int64_t total = int64_t{a} + b;
  if (total > kMaxWideChars || total > tl) return run.fail(kErrTooLong);
  const int32_t rc =
      charenc_copy_units3(run.bytes(), t + 1 + 3 * a, 3 * b, run.bytes(), s + 1, 3 * b);
  if (rc == kCharInvalid) return run.fail(kErrInvalidWide);
  if (rc < 0) return run.fail(kErrConvert);
  if (const int32_t w = WriteLength(run, tlf, tl, static_cast<int32_t>(total)); w != 0)
    return run.fail(kLengthFieldErrorBase + w);
  run.next();
}

}  // namespace

void InstallWideOps(Instruction t[]) {
  t[173] = Convert<false, false>;   // CUC
  t[182] = ConcatenateWide;         // AUV
  t[183] = MoveWideVarying<false>;  // MTU
  t[185] = MoveWideVarying<true>;   // MUV
  t[174] = Convert<true, false>;    // CCU
  t[196] = Convert<true, true>;     // CCW
  t[197] = Convert<false, true>;    // CUW
}

}  // namespace interp
