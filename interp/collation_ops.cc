// COC and COV: a character value translated by a collation (record access's
// key-field conversion). Their last operand is the distance to the END that
// the program builder plants behind them for a collation that is not
// installed; any other failure is recorded.
#include <algorithm>

#include "du/collation.h"
#include "interp/varying.h"

namespace interp {
namespace {

constexpr int32_t kNoCollation = -19114;

template <bool varying>
void Translate(Run& run) {
  const int32_t t = run.op(3), tl = run.op(4);
  const int32_t tlf = varying ? run.op(5) : -1;
  const int32_t s = run.op(varying ? 6 : 5), sl = run.op(varying ? 7 : 6);
  const int32_t slf = varying ? run.op(8) : -1;
  if (tl < 0 || sl < 0 || !run.fits(t, int64_t{tl} + 1) || !run.fits(s, int64_t{sl} + 1))
    return run.fail(kErrBadOperand);
  int32_t n = sl;
  if (run.at(s)[0] != 255) {
    const int32_t rc = ReadLength(run, slf, sl, &n);
    if (rc < 0) return run.fail(kLengthFieldErrorBase + rc);
    if (rc == 1) n = 0;
  }
  // The cache word lives in the run, never in the shared program.
  int32_t status = 0, cache = 0, written = 0;
  XLConvertValue(run.base, &status, run.op(1), &cache, run.bytes(), t, &written, tl + 1,
                 run.bytes(), s, n + 1);
  if (status == kNoCollation) return run.branch(varying ? 9 : 7);
  if (status < 0) return run.fail(status);
  if (status == 1) {
    if (varying && !SetVaryingNull(run, t, tl, tlf)) return run.fail(kErrBadOperand);
    return run.next();
  }
  if (varying) {
    const int32_t length = std::clamp(written - 1, 0, tl);
    if (const int32_t w = WriteLength(run, tlf, tl, length); w != 0)
      return run.fail(kLengthFieldErrorBase + w);
  }
  run.next();
}

}  // namespace

void InstallCollationOps(Instruction t[]) {
  t[168] = Translate<false>;  // COC
  t[169] = Translate<true>;   // COV
}

}  // namespace interp
