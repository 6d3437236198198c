// PASTE (PST on single-byte values, PSU on wide characters): a string with
// a stretch replaced by another string, INSERT(s, start, count, t) of the
// client escapes.
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "interp/run_state.h"
#include "interp/varying.h"
#include "platform/char_format.h"
#include "platform/packed_decimal.h"

namespace interp {
namespace {

constexpr int32_t kMaxWideChars = 5000;

// The result (op1, maximum op2, length field op3) := the string (op4, op5,
// op6) with `count` units from `start` on (the numbers at op7/op8 and
// op9/op10) replaced by the string (op11, op12, op13). A null operand, a
// start below 1 or a negative count make the result null; a start behind
// the string appends, a count beyond it replaces the rest.
template <bool wide>
void Paste(Run& run) {
  const int64_t width = wide ? 3 : 1;
  const int32_t r = run.op(1), rmax = run.op(2), rlf = run.op(3);
  const int32_t a[3] = {run.op(4), run.op(5), run.op(6)};
  const int32_t b[3] = {run.op(11), run.op(12), run.op(13)};
  if (rmax < 0 || a[1] < 0 || b[1] < 0 || !run.fits(r, width * rmax + 1) ||
      !run.fits(a[0], width * a[1] + 1) || !run.fits(b[0], width * b[1] + 1))
    return run.fail(kErrBadOperand);
  int32_t start = 0, count = 0, al = 0, bl = 0;
  int32_t rc = ReadWholeNumber(run, run.op(7), run.op(8), &start);
  if (rc == 0) rc = ReadWholeNumber(run, run.op(9), run.op(10), &count);
  if (rc < 0) return run.fail(kErrConvert);
  bool null = rc == 1 || run.at(a[0])[0] == 255 || run.at(b[0])[0] == 255;
  for (const auto& [v, length] : {std::pair{a, &al}, std::pair{b, &bl}}) {
    if (null) break;
    const int32_t lrc = ReadLength(run, v[2], v[1], length);
    if (lrc < 0) return run.fail(kLengthFieldErrorBase + lrc);
    null = lrc == 1;
  }
  if (null || start < 1 || count < 0) {
    if (!SetVaryingNull(run, r, rmax, rlf, static_cast<int32_t>(width)))
      return run.fail(kErrBadOperand);
    return run.next();
  }
  const int64_t head = std::min<int64_t>(start - 1, al);
  const int64_t cut = std::min<int64_t>(count, al - head);
  const int64_t total = head + bl + (al - head - cut);
  if (total > (wide ? kMaxWideChars : kMaxVaryingBytes) || total > rmax)
    return run.fail(kErrTooLong);
  // Built aside first: the result may be one of the operands.
  // One spare byte: an empty result still has a buffer to copy nothing into.
  std::vector<uint8_t> out(static_cast<size_t>(width * total) + 1);
  const uint8_t* s = run.at(a[0] + 1);
  std::memcpy(out.data(), s, static_cast<size_t>(width * head));
  std::memcpy(out.data() + width * head, run.at(b[0] + 1), static_cast<size_t>(width * bl));
  std::memcpy(out.data() + width * (head + bl), s + width * (head + cut),
              static_cast<size_t>(width * (al - head - cut)));
  const ConstByteSpan built(out.data(), static_cast<size_t>(width * total));
  run.at(r)[0] = 0;
  if (wide) {
    const int32_t crc = charenc_copy_units3(run.bytes(), r + 1, static_cast<int32_t>(3 * rmax),
                                            built, 0, static_cast<int32_t>(built.size()));
    if (crc == kCharInvalid) return run.fail(kErrInvalidWide);
    if (crc < 0) return run.fail(kErrConvert);
  } else {
    mdr_move_pad(run.bytes(), r + 1, rmax, built, 0, static_cast<int32_t>(total), ' ');
  }
  if (const int32_t w = WriteLength(run, rlf, rmax, static_cast<int32_t>(total)); w != 0)
    return run.fail(kLengthFieldErrorBase + w);
  run.next();
}

}  // namespace

void InstallStringOps(Instruction t[]) {
  t[107] = Paste<false>;  // PST
  t[192] = Paste<true>;   // PSU
}

}  // namespace interp
