// Compare and branch: byte, nullable-value and packed-decimal compares under
// an operator code, truth tests of a value's indicator, and the level-2
// three-valued test NN2 and indexed move MV2.
#include <climits>
#include <cstring>
#include <vector>

#include "interp/record_services.h"
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

template <bool on_true>
void CompareBytes(Run& run) {  // CBF, CBT
  const int32_t a = run.op(2), b = run.op(3), n = run.op(4);
  if (n > 0 && (!run.fits(a, n) || !run.fits(b, n))) return run.fail(kErrBadOperand);
  const int32_t c = mdr_compare_bytes(run.bytes(), a, run.bytes(), b, n);
  run.decide(Holds(run.op(1), c + 3), on_true, 5);
}

template <bool on_true>
void CompareNullable(Run& run) {  // CCF, CCT
  const int32_t a = run.op(2), la = run.op(3), b = run.op(4), lb = run.op(5);
  if (!run.fits(a, int64_t{la} + 1) || !run.fits(b, int64_t{lb} + 1))
    return run.fail(kErrBadOperand);
  const int32_t c = mdr_compare_nullable(run.bytes(), a, la, run.bytes(), b, lb);
  run.decide(Holds(run.op(1), c), on_true, 6);
}

template <bool on_true>
void CompareDecimal(Run& run) {  // CNF, CNT
  const value_descriptor a{run.op(2), run.op(3)}, b{run.op(4), run.op(5)};
  const int32_t c = decimal_compare(run.bytes(), a, run.bytes(), b);
  if (c < 1) return run.fail(kErrConvert);
  run.decide(Holds(run.op(1), c), on_true, 6);
}

// Test 1: unknown; test 2: known (true or false).
template <bool on_true>
void TruthTest(Run& run) {  // TVF, TVT
  if (!run.fits(run.op(2), 1)) return run.fail(kErrBadOperand);
  const int32_t state = mdr_null_state(run.bytes(), run.op(2));
  const bool truth =
      run.op(1) == 1 ? state == kTruthUnknown : run.op(1) == 2 && state != kTruthUnknown;
  run.decide(truth, on_true, 3);
}

using VaryingCompare = int32_t (*)(const Run&, const int32_t[3], const int32_t[3]);

// CPT, CPF (byte values) and CUT, CUF (wide characters): the varying values
// (op2..op4) and (op5..op7) under operator op1.
template <VaryingCompare compare, bool on_true>
void CompareVarying(Run& run) {
  const int32_t a[3] = {run.op(2), run.op(3), run.op(4)}, b[3] = {run.op(5), run.op(6), run.op(7)};
  const int32_t c = compare(run, a, b);
  if (c < 1) return run.fail(kLengthFieldErrorBase + c);
  run.decide(Holds(run.op(1), c), on_true, 8);
}

// Operators of the level-2 condition programs.
enum Level2Operator : int32_t {
  kL2Equal = 1,
  kL2Null = 2,
  kL2Begins = 3,
  kL2GreaterEqual = 4,
  kL2Greater = 5,
  kL2LessEqual = 6,
  kL2Less = 7,
  kL2NotEqual = 8,
  kL2NotNull = 9,
  kL2NotBegins = 10,
  kL2Contains = 11,
  kL2NotContains = 12,
  kL2Like = 13,
  kL2NotLike = 14,
};

// Whether an order operator holds for a compare outcome (2 less, 3 equal,
// 4 greater; 1 unknown never holds). -1 for an operator that is no order.
int32_t OrderHolds(int32_t op, int32_t outcome) {
  switch (op) {
    case kL2Equal:
      return outcome == kTruthEqual;
    case kL2GreaterEqual:
      return outcome == kTruthEqual || outcome == kTruthGreater;
    case kL2Greater:
      return outcome == kTruthGreater;
    case kL2LessEqual:
      return outcome == kTruthEqual || outcome == kTruthLess;
    case kL2Less:
      return outcome == kTruthLess;
    case kL2NotEqual:
      return outcome == kTruthLess || outcome == kTruthGreater;
    default:
      return -1;
  }
}

// CC2 (character column) and CN2 (packed decimal column): operator op1 on
// the column at op2 (op5 bytes; 0: op4 bytes) and the value at op3 (op4
// bytes), then on to p + op6 when the test holds and p + op7 when it does
// not. A negative operator marks a descending column, stored complemented.
// For LIKE (13) and NOT LIKE (14) op3 is the storage word index (from 0) of
// a self-contained pattern program of op4 bytes.
template <bool numeric>
void Level2Compare(Run& run) {
  const int32_t code = run.op(1);
  const bool descending = code < 0;
  const int32_t op = descending ? (code == INT32_MIN ? 0 : -code) : code;
  const int32_t col = run.op(2), v = run.op(3), vlen = run.op(4);
  const int32_t clen = run.op(5) != 0 ? run.op(5) : vlen;
  const bool like = !numeric && IsLevel2Like(code);
  const bool known = numeric
                         ? OrderHolds(op, kTruthUnknown) >= 0 || op == kL2Null || op == kL2NotNull
                         : op >= kL2Equal && op <= kL2NotLike;
  if (!known || clen < 1 || vlen < 1 || !run.fits(col, clen) || (!like && !run.fits(v, vlen)) ||
      (numeric && clen != vlen))
    return run.fail(kErrBadOperand);
  // A value's indicator or (numeric) first byte is 255 for a null; a test
  // with a null operand does not hold.
  const bool col_null = run.at(col)[0] == 255;
  bool holds = false;
  if (op == kL2Null || op == kL2NotNull) {
    holds = col_null == (op == kL2Null);
  } else if (!col_null && (like || run.at(v)[0] != 255)) {
    std::vector<uint8_t> column(run.at(col), run.at(col) + clen);
    const ByteSpan c(column.data(), column.size());
    if (descending) {
      static constexpr uint8_t kComplement[1] = {255};
      mdr_xor_bytes(c, numeric ? 0 : 1, numeric ? clen : clen - 1, ConstByteSpan(kComplement), 0);
    }
    const int32_t lc = clen - 1, lv = vlen - 1;  // data bytes behind the indicator
    if (numeric) {
      holds = OrderHolds(op, mdr_compare_bytes(c, 0, run.bytes(), v, vlen) + kTruthEqual) == 1;
    } else if (op == kL2Begins || op == kL2NotBegins) {
      holds =
          (lv <= lc && mdr_compare_bytes(c, 1, run.bytes(), v + 1, lv) == 0) == (op == kL2Begins);
    } else if (op == kL2Contains || op == kL2NotContains) {
      holds =
          (lv == 0 || mdr_find_bytes(c, 1, lc, run.bytes(), v + 1, lv) != 0) == (op == kL2Contains);
    } else if (like) {
      const int32_t words = static_cast<int32_t>((int64_t{vlen} + 3) / 4);
      if (v < 0 || !run.words(int64_t{v} + 1, words)) return run.fail(kErrBadOperand);
      const int32_t r = RecordServices().match_pattern_self(&run.word(v + 1), words, c, 1, lc);
      if (r < 0) return run.fail(r == -1 ? kErrBadPatternOp : r);
      holds = r == (op == kL2Like ? 1 : 2);
    } else {
      holds = OrderHolds(op, mdr_compare_nullable(c, 0, lc, run.bytes(), v, lv)) == 1;
    }
  }
  run.pos = run.Target(holds ? run.op(6) : run.op(7));
}

// NN2: the entry of row op1 for the value's truth state decides the jump.
// The entry is kept in the run's storage (storage word op8, 0 for none),
// never in the program, which other sessions may be running at once.
// The level-2 program builder writes its null-test operators here: 2 (the
// null test) is row 2, and 9 (the not-null test) reads as row 1.
void ThreeValuedTest(Run& run) {
  static constexpr int32_t kRows[3][3] = {{-1, 0, 1}, {0, -1, -1}, {-1, 0, 1}};
  const int32_t row = run.op(1) == kL2NotNull ? 1 : run.op(1);
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
  t[149] = CompareVarying<CompareVaryingBytes, true>;   // CPT
  t[150] = CompareVarying<CompareVaryingBytes, false>;  // CPF
  t[59] = IndexedMove;
  t[60] = Level2Compare<false>;                         // CC2
  t[61] = Level2Compare<true>;                          // CN2
  t[177] = CompareVarying<CompareVaryingChars, false>;  // CUF
  t[178] = CompareVarying<CompareVaryingChars, true>;   // CUT
}

}  // namespace interp
