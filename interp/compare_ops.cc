// Compare and branch: byte, nullable-value and packed-decimal compares under
// an operator code, truth tests of a value's indicator, and the level-2
// three-valued test NN2 and indexed move MV2.
#include <cstring>

#include "interp/run_state.h"
#include "interp/varying.h"
#include "platform/packed_decimal.h"

namespace interp {
namespace {

// Whether operator `code` holds for an outcome (2 less, 3 equal, 4 greater;
// 1 unknown is never true).
bool Holds(int32_t code, int32_t outcome) {
  switch (code) {
    case 1:
      return outcome == kTruthEqual;
    case 2:
      return outcome == kTruthEqual || outcome == kTruthGreater;
    case 3:
      return outcome == kTruthEqual || outcome == kTruthLess;
    case 4:
      return outcome == kTruthGreater;
    case 5:
      return outcome == kTruthLess;
    case 6:
      return outcome == kTruthLess || outcome == kTruthGreater;
    default:
      return false;
  }
}

// Branch by operand `k` when the test's truth equals `on_true`.
void Decide(Run& run, bool truth, bool on_true, int k) {
  if (truth == on_true)
    run.branch(k);
  else
    run.next();
}

template <bool on_true>
void CompareBytes(Run& run) {  // CBF, CBT
  const int32_t a = run.op(2), b = run.op(3), n = run.op(4);
  if (n > 0 && (!run.fits(a, n) || !run.fits(b, n))) return run.fail(kErrBadOperand);
  const int32_t c = mdr_compare_bytes(run.bytes(), a, run.bytes(), b, n);
  Decide(run, Holds(run.op(1), c + 3), on_true, 5);
}

template <bool on_true>
void CompareNullable(Run& run) {  // CCF, CCT
  const int32_t a = run.op(2), la = run.op(3), b = run.op(4), lb = run.op(5);
  if (!run.fits(a, int64_t{la} + 1) || !run.fits(b, int64_t{lb} + 1))
    return run.fail(kErrBadOperand);
  const int32_t c = mdr_compare_nullable(run.bytes(), a, la, run.bytes(), b, lb);
  Decide(run, Holds(run.op(1), c), on_true, 6);
}

template <bool on_true>
void CompareDecimal(Run& run) {  // CNF, CNT
  const value_descriptor a{run.op(2), run.op(3)}, b{run.op(4), run.op(5)};
  const int32_t c = decimal_compare(run.bytes(), a, run.bytes(), b);
  if (c < 1) return run.fail(kErrConvert);
  Decide(run, Holds(run.op(1), c), on_true, 6);
}

// Test 1: unknown; test 2: known (true or false).
template <bool on_true>
void TruthTest(Run& run) {  // TVF, TVT
  if (!run.fits(run.op(2), 1)) return run.fail(kErrBadOperand);
  const int32_t state = mdr_null_state(run.bytes(), run.op(2));
  const bool truth =
      run.op(1) == 1 ? state == kTruthUnknown : run.op(1) == 2 && state != kTruthUnknown;
  Decide(run, truth, on_true, 3);
}

// CPT, CPF: varying byte values (op2..op4) and (op5..op7) under operator op1.
template <bool on_true>
void CompareVarying(Run& run) {
  const int32_t a[3] = {run.op(2), run.op(3), run.op(4)}, b[3] = {run.op(5), run.op(6), run.op(7)};
  const int32_t c = CompareVaryingBytes(run, a, b);
  if (c < 1) return run.fail(kLengthFieldErrorBase + c);
  Decide(run, Holds(run.op(1), c), on_true, 8);
}

// NN2: the entry of row op1 for the value's truth state decides the jump.
// The entry is kept in the run's storage (storage word op8, 0 for none),
// never in the program, which other sessions may be running at once.
void ThreeValuedTest(Run& run) {
  static constexpr int32_t kRows[3][3] = {{-1, 0, 1}, {0, -1, -1}, {-1, 0, 1}};
  const int32_t row = run.op(1);
  if (row < 1 || row > 3 || !run.fits(run.op(2), 1)) return run.fail(kErrBadOperand);
  const int32_t keep = run.op(8);
  if (keep != 0 && !run.words(keep, 1)) return run.fail(kErrBadOperand);
  const int32_t state = mdr_null_state(run.bytes(), run.op(2));  // 1 unknown, 2 false, 3 true
  const int32_t entry = kRows[row - 1][state - 1];
  if (keep != 0) run.word(keep) = entry;
  run.pos = run.Target(entry == 0 ? run.op(6) : run.op(7));
}

void IndexedMove(Run& run) {  // MV2
  const int32_t n = run.op(3);
  if (n > 0) {
    // State word 12 exists only in a storage area longer than the machine state.
    if (run.storage_words <= kStateLevel2Index) return run.fail(kErrBadOperand);
    const int64_t from = run.op(2) + 4 * (int64_t{run.state(kStateLevel2Index)} - 1);
    if (!run.fits(run.op(1), n) || !run.fits(from, n)) return run.fail(kErrBadOperand);
    std::memmove(run.at(run.op(1)), run.at(static_cast<int32_t>(from)), static_cast<size_t>(n));
  }
  run.next();
}

}  // namespace

void InstallCompareOps(Instruction t[]) {
  t[16] = CompareBytes<false>;
  t[17] = CompareBytes<true>;
  t[18] = CompareNullable<false>;
  t[19] = CompareNullable<true>;
  t[20] = CompareDecimal<false>;
  t[21] = CompareDecimal<true>;
  t[24] = TruthTest<false>;
  t[25] = TruthTest<true>;
  t[56] = ThreeValuedTest;
  t[149] = CompareVarying<true>;
  t[150] = CompareVarying<false>;
  t[59] = IndexedMove;
}

}  // namespace interp
