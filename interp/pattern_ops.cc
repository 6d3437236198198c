// LIKE tests: MCF/MCT (and the pattern branches SMF/SMT) on a fixed character value, MVF/MVT on a
// varying one and MUF/MUT on a varying wide-character value, each against a compiled pattern
// program whose kernel storage block a storage word names. The matchers are record access's,
// reached through the record service table.
#include "interp/record_services.h"
#include "interp/run_state.h"
#include "interp/varying.h"
#include "kernel/system_block.h"

namespace interp {
namespace {

constexpr int32_t kNoProgram = 0;
constexpr int32_t kNullPattern = -1;
constexpr int32_t kMatch = 1;
constexpr int32_t kNoMatch = 2;

// The pattern block that storage word `word` names: a block index, 0 after
// the run failed, or -1 for a null pattern.
int32_t PatternBlock(Run& run, int32_t word) {
  if (!run.words(word, 1)) {
    run.fail(kErrBadOperand);
    return 0;
  }
  const int32_t block = run.word(word);
  if (block == kNoProgram) {
    run.fail(kErrNoPattern);
    return 0;
  }
  if (block != kNullPattern && !InStorage(run.base, block, 1)) {
    run.fail(kErrBadOperand);
    return 0;
  }
  return block;
}

// Test op1 (1 matches, 2 does not match) of the value at op2 (op3 units,
// length field `field` or -1 for a fixed value) against the pattern that
// storage word `word` names; branch by operand `k` as the truth equals
// `on_true`. Wide values have 3 bytes a unit.
template <bool wide>
void Like(Run& run, int32_t field, int32_t word, int k, bool on_true) {
  const int64_t width = wide ? 3 : 1;
  const int32_t v = run.op(2), max = run.op(3);
  if (max < 0 || !run.fits(v, width * max + 1)) return run.fail(kErrBadOperand);
  const int32_t block = PatternBlock(run, word);
  if (block == 0) return;
  int32_t length = 0;
  const int32_t lrc = run.at(v)[0] == 255 ? 1 : ReadLength(run, field, max, &length);
  if (lrc < 0) return run.fail(kLengthFieldErrorBase + lrc);
  bool truth = false;  // an unknown outcome is never true
  if (lrc == 0 && block != kNullPattern) {
    const RecordServiceTable& s = RecordServices();
    const int32_t r = wide ? s.match_pattern_wide(run.base, block, run.bytes(), v + 1, length)
                           : s.match_pattern(run.base, block, run.bytes(), v + 1, length);
    if (r < 0) return run.fail(r == -1 ? kErrBadPatternOp : r);
    if (r != kMatch && r != kNoMatch) return run.fail(kErrBadPatternOp);
    truth = (run.op(1) == 1 && r == kMatch) || (run.op(1) == 2 && r == kNoMatch);
  }
  run.decide(truth, on_true, k);
}

template <bool on_true>
void LikeFixed(Run& run) {  // MCF, MCT: op4 the pattern word, op5 the branch
  Like<false>(run, -1, run.op(4), 5, on_true);
}

template <bool wide, bool on_true>
void LikeVarying(Run& run) {  // MVF, MVT, MUF, MUT: op4 length field, op5 pattern, op6 branch
  Like<wide>(run, run.op(4), run.op(5), 6, on_true);
}

}  // namespace

void InstallPatternOps(Instruction t[]) {
  t[22] = LikeFixed<false>;  // MCF
  t[23] = LikeFixed<true>;   // MCT
  // The pattern branches of the key-range family take MCF's and MCT's
  // operands: a null pattern or value never holds.
  t[67] = LikeFixed<false>;           // SMF
  t[68] = LikeFixed<true>;            // SMT
  t[78] = LikeVarying<false, false>;  // MVF
  t[79] = LikeVarying<false, true>;   // MVT
  t[198] = LikeVarying<true, false>;  // MUF
  t[199] = LikeVarying<true, true>;   // MUT
}

}  // namespace interp
