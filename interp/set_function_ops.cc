// The set functions MAX, MIN, SUM, AVG and COUNT: a begin instruction clears
// the accumulator and the counter, a feed instruction takes one value a row,
// an end instruction turns the accumulator into the result. Fixed values
// (SFB, SFH, SFE), varying values whose length field travels with the
// accumulator (SVB, SVH, SVE) and character values compared through a
// collation (SCH, SOH). MAX and MIN compare stored forms as unsigned bytes,
// which orders every type, the descending complements included.
#include <cstring>

#include "du/collation.h"
#include "interp/run_state.h"
#include "interp/varying.h"
#include "platform/decimal_arith.h"
#include "platform/packed_decimal.h"

namespace interp {
namespace {

enum SetFunction : int32_t { kMax = 1, kMin = 2, kSum = 3, kAvg = 4, kCount = 5 };

// The packed decimal 1 that steps every counter, held at every precision so
// that a counter is stepped at its own (the arithmetic's short path).
struct DecimalOne {
  uint8_t bytes[kDecimalMaxPrecision + 1][kDecimalMaxBytes] = {};
  DecimalOne() {
    for (int32_t p = 1; p <= kDecimalMaxPrecision; ++p)
      int_to_decimal(ByteSpan(bytes[p], kDecimalMaxBytes), value_descriptor{0, p}, 1);
  }
};
const DecimalOne kOne;

value_descriptor Dec(int32_t offset, int32_t precision) {
  return value_descriptor{offset, precision};
}

// The counter (op2, op3) of every instruction but SCH/SOH, whose counter is
// (op4, op5).
struct Counter {
  int32_t offset, precision;
};

// False when a value routine failed (recorded as status - 10300).
bool Decimal(Run& run, int32_t status) {
  if (status >= 0) return true;
  run.fail(kDecimalErrorBase + status);
  return false;
}

bool Count(Run& run, Counter c) {
  const int32_t p = c.precision >= 1 && c.precision <= kDecimalMaxPrecision ? c.precision : 1;
  return Decimal(run, decimal_arith(run.bytes(), Dec(c.offset, c.precision),
                                    ConstByteSpan(kOne.bytes[p], kDecimalMaxBytes), Dec(0, p),
                                    kDecimalAdd, kDecimalReportCut));
}

// The precision of the length field of a value of `bytes` stored bytes
// (indicator included): the digits of its maximum data length.
int32_t FieldPrecision(int32_t bytes) {
  return LengthPrecision(bytes - 1);
}

// A null value is left out: the warning word, the counter unchanged.
bool NullFed(Run& run, int32_t value) {
  if (run.at(value)[0] != 255) return false;
  run.state(kStateBitVector) = kNullEliminatedWord;
  return true;
}

// MAX and MIN: whether the value (`n` bytes) replaces the accumulator by
// `order`, the accumulator's order against the value (<0, 0, >0).
bool Replaces(int32_t kind, int order) {
  return (kind == kMax && order < 0) || (kind == kMin && order > 0);
}

// Copies the value's length field over the accumulator's.
bool CopyLengthField(Run& run, int32_t to, int32_t from, int32_t bytes) {
  const int32_t n = decimal_bytes(FieldPrecision(bytes));
  if (!run.fits(to, n) || !run.fits(from, n)) return false;
  std::memmove(run.at(to), run.at(from), static_cast<size_t>(n));
  return true;
}

void BeginFixed(Run& run) {  // SFB
  const int32_t kind = run.op(1), acc = run.op(4), n = run.op(5);
  if (kind == kMax || kind == kMin) {
    if (n < 0 || !run.fits(acc, n)) return run.fail(kErrBadOperand);
    std::memset(run.at(acc), kind == kMax ? 0 : 255, static_cast<size_t>(n));
  } else if (kind == kSum || kind == kAvg) {
    if (!Decimal(run, decimal_set_zero(run.bytes(), Dec(acc, n)))) return;
  }
  if (!Decimal(run, decimal_set_zero(run.bytes(), Dec(run.op(2), run.op(3))))) return;
  run.next();
}

void BeginVarying(Run& run) {  // SVB
  const int32_t kind = run.op(1), acc = run.op(4), n = run.op(5), field = run.op(6);
  if (kind == kMax || kind == kMin) {
    if (n < 1 || !run.fits(acc, n)) return run.fail(kErrBadOperand);
    const value_descriptor f = Dec(field, FieldPrecision(n));
    if (!run.fits(field, decimal_bytes(f.precision))) return run.fail(kErrBadOperand);
    std::memset(run.at(acc), kind == kMax ? 0 : 255, static_cast<size_t>(n));
    decimal_set_null(run.bytes(), f);
  }
  if (!Decimal(run, decimal_set_zero(run.bytes(), Dec(run.op(2), run.op(3))))) return;
  run.next();
}

// SFH: value (op6, op7 bytes; precision for SUM and AVG) into the
// accumulator (op4, op5).
void FeedFixed(Run& run) {
  const int32_t kind = run.op(1), acc = run.op(4), value = run.op(6), n = run.op(7);
  if (!run.fits(value, 1)) return run.fail(kErrBadOperand);
  if (NullFed(run, value)) return run.next();
  if (kind == kMax || kind == kMin) {
    // The value never runs past the accumulator it is copied into.
    if (n < 0 || (run.op(5) > 0 && n > run.op(5)) || !run.fits(acc, n) || !run.fits(value, n))
      return run.fail(kErrBadOperand);
    if (Replaces(kind, std::memcmp(run.at(acc), run.at(value), static_cast<size_t>(n))))
      std::memmove(run.at(acc), run.at(value), static_cast<size_t>(n));
  } else if (kind == kSum || kind == kAvg) {
    if (!Decimal(run, decimal_arith(run.bytes(), Dec(acc, run.op(5)), run.bytes(), Dec(value, n),
                                    kDecimalAdd, kDecimalSilent)))
      return;
  }
  if (Count(run, {run.op(2), run.op(3)})) run.next();
}

// SVH: value (op7, op8 bytes, length field op9) into the accumulator (op4,
// length field op6); MAX and MIN only, other kinds count.
void FeedVarying(Run& run) {
  const int32_t kind = run.op(1), acc = run.op(4), field = run.op(6);
  const int32_t value = run.op(7), n = run.op(8), value_field = run.op(9);
  if (!run.fits(value, 1)) return run.fail(kErrBadOperand);
  if (NullFed(run, value)) return run.next();
  if (kind == kMax || kind == kMin) {
    if (n < 1 || !run.fits(acc, n) || !run.fits(value, n)) return run.fail(kErrBadOperand);
    if (Replaces(kind, std::memcmp(run.at(acc), run.at(value), static_cast<size_t>(n)))) {
      if (!CopyLengthField(run, field, value_field, n)) return run.fail(kErrBadOperand);
      std::memmove(run.at(acc), run.at(value), static_cast<size_t>(n));
    }
  }
  if (Count(run, {run.op(2), run.op(3)})) run.next();
}

// SCH, SOH: MAX and MIN through the collation op2 (op3 a block to try
// first); the accumulator op6, the value and its length from op8 (SCH) or
// op9 (SOH, its accumulator length field op8, the value's op11).
template <bool varying>
void FeedCollated(Run& run) {
  const int32_t kind = run.op(1), acc = run.op(6);
  const int32_t value = run.op(varying ? 9 : 8), n = run.op(varying ? 10 : 9);
  if (!run.fits(value, 1)) return run.fail(kErrBadOperand);
  if (NullFed(run, value)) return run.next();
  if (n < 1 || !run.fits(acc, n) || !run.fits(value, n)) return run.fail(kErrBadOperand);
  // The program's block word is only a hint: the block must be on the
  // collation list with the id.
  int32_t cache = run.op(3), block = 0;
  const int32_t rc = FindCollationBlock(run.base, run.op(2), &cache, &block);
  if (rc < 0) return run.fail(rc);
  if (kind == kMax || kind == kMin) {
    int32_t order = 0;
    DUCmpColl1(run.bytes(), acc, n, run.bytes(), value, n, CollationTableOf(run.base, block),
               &order);
    if (Replaces(kind, order)) {
      if (varying && !CopyLengthField(run, run.op(8), run.op(11), n))
        return run.fail(kErrBadOperand);
      std::memmove(run.at(acc), run.at(value), static_cast<size_t>(n));
    }
  }
  if (Count(run, {run.op(4), run.op(5)})) run.next();
}

bool CounterIsZero(Run& run, Counter c) {
  return decimal_sign(run.bytes(), Dec(c.offset, c.precision)) == kTruthEqual;
}

void EndFixed(Run& run) {  // SFE
  const int32_t kind = run.op(1), acc = run.op(4), p = run.op(5);
  const Counter c{run.op(2), run.op(3)};
  if (kind == kCount) {
    if (!Decimal(run,
                 decimal_assign(run.bytes(), Dec(acc, p), run.bytes(), Dec(c.offset, c.precision))))
      return;
    return run.next();
  }
  if (!run.fits(acc, 1)) return run.fail(kErrBadOperand);
  if (CounterIsZero(run, c)) {
    run.at(acc)[0] = 255;
  } else if (kind == kAvg) {
    if (!Decimal(run, decimal_arith(run.bytes(), Dec(acc, p), run.bytes(),
                                    Dec(c.offset, c.precision), kDecimalDivide, kDecimalSilent)))
      return;
  }
  run.next();
}

void EndVarying(Run& run) {  // SVE
  const int32_t kind = run.op(1), acc = run.op(4), n = run.op(5), field = run.op(6);
  const Counter c{run.op(2), run.op(3)};
  if (kind == kCount) {
    if (!Decimal(run,
                 decimal_assign(run.bytes(), Dec(acc, n), run.bytes(), Dec(c.offset, c.precision))))
      return;
    return run.next();
  }
  if (CounterIsZero(run, c)) {
    const value_descriptor f = Dec(field, FieldPrecision(n));
    if (n < 1 || !run.fits(acc, 1) || !run.fits(field, decimal_bytes(f.precision)))
      return run.fail(kErrBadOperand);
    run.at(acc)[0] = 255;
    decimal_set_null(run.bytes(), f);
  }
  run.next();
}

}  // namespace

void InstallSetFunctionOps(Instruction t[]) {
  t[38] = BeginFixed;            // SFB
  t[39] = FeedFixed;             // SFH
  t[40] = EndFixed;              // SFE
  t[83] = BeginVarying;          // SVB
  t[84] = FeedVarying;           // SVH
  t[85] = EndVarying;            // SVE
  t[170] = FeedCollated<false>;  // SCH
  t[171] = FeedCollated<true>;   // SOH
}

}  // namespace interp
