// The four operations on packed decimals: the first operand is replaced by
// first (op) second in its own precision. Results are always truncated
// towards zero, never rounded. Sums and differences of two values of 12 to
// 15 digits are worked inline here, since expressions over DECIMAL columns
// call them in their inner loops; every other case is decimal_arith_general.
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/packed_decimal.h"

enum : int32_t { kDecimalAdd = 1, kDecimalSubtract = 2, kDecimalMultiply = 3, kDecimalDivide = 4 };
// Mode 1 cuts silently; mode 2 reports a cut of nonzero digits as -1.
enum : int32_t { kDecimalSilent = 1, kDecimalReportCut = 2 };

// Every case of decimal_arith (below), out of line.
int32_t decimal_arith_general(ByteSpan a_area, const value_descriptor& a, ConstByteSpan b_area,
                              const value_descriptor& b, int32_t operation, int32_t mode);

// Sums and differences of values of up to 15 digits on one 64-bit word of
// BCD nibbles, shared by the inline path below and the general one.
namespace decimal_short {

// A value of up to 15 digits as its magnitude and sign: the 12-bit exponent
// field of the positive form; `word`, its stored bytes 1..8 freed of the
// complement with byte 1 on top (the field's low nibble, then d1..dp in
// nibbles 1..p, zeros after them); and all ones in `negative` when it is
// negative. The pair (field, word) orders magnitudes.
struct Operand {
  int32_t field;
  uint64_t word;
  uint64_t negative;
};

// Returned, with the first operand untouched, for what the word cannot
// decide: a zero result, a result whose exponent could leave the range, and
// a difference whose leading digits cancelled while digits of the smaller
// operand had been shifted out of the word (those digits would then be
// needed). The general path gives the same result for any case, so a few
// more go there where one test is cheaper than an exact one: differences
// that lose nine or more leading digits (zero among them), and a larger
// operand whose exponent lies within eight of the bottom of the range or at
// its top (null's field lies above it).
inline constexpr int32_t kNotShort = 2;

constexpr uint64_t repeat_nibble(unsigned nibble) {
  uint64_t r = 0;
  for (int i = 0; i < 16; ++i) r = (r << 4) | nibble;
  return r;
}
inline constexpr uint64_t kSixes = repeat_nibble(6) >> 4;      // nibbles 1..15
inline constexpr uint64_t kCarryBits = repeat_nibble(1) << 4;  // bit 4k, k = 1..15
inline constexpr uint64_t kDigitNibbles = ~uint64_t{0} >> 4;   // nibbles 1..15
// Nines in nibbles 1..15 less the 10^15 that the nines' complement sum
// carries into nibble 0: 15 in nibble 0 takes that carry back, as the carry
// out of the word drops.
inline constexpr uint64_t kNinesLessCarry = repeat_nibble(9) | (uint64_t{15} << 60);
inline constexpr int32_t kFieldMin = 3072 + kDecimalMinExponent;
inline constexpr int32_t kFieldMax = 3072 + kDecimalMaxExponent;

// Everything of the inline path is forced inline: at -O2 the compiler would
// otherwise call the pieces and pass the operands through memory.
#define HB_DECIMAL_INLINE [[gnu::always_inline]] inline

// All ones when b, else 0.
HB_DECIMAL_INLINE uint64_t mask_if(bool b) {
  return -static_cast<uint64_t>(b);
}

// Nibbles 1..p.
HB_DECIMAL_INLINE uint64_t digit_mask(int32_t p) {
  return kDigitNibbles & (~uint64_t{0} << (60 - 4 * p));
}

// All ones for a negative value, from its byte 0.
HB_DECIMAL_INLINE uint64_t negative_mask(uint8_t byte0) {
  return mask_if(byte0 < 128);
}

// All ones when |x| < |y|.
HB_DECIMAL_INLINE uint64_t magnitude_less(const Operand& x, const Operand& y) {
  using u128 = unsigned __int128;
  return mask_if(((u128(static_cast<uint32_t>(x.field)) << 64) | x.word) <
                 ((u128(static_cast<uint32_t>(y.field)) << 64) | y.word));
}

// The result x + y (y already negated for a subtraction) in precision p, or
// kNotShort. `x_less` is magnitude_less(x, y).
struct Sum {
  int32_t rc;  // 0, -1 (mode 2) or kNotShort
  int32_t field;
  uint64_t top;  // d1 in nibble 0, then the digits; those past p are the store's to cut
  uint64_t negative;
};

// No branch depends on the operands' signs or magnitude order, so mixed
// data costs no mispredictions: selections are by mask (the compiler makes
// branches of conditional expressions here), the smaller magnitude is
// aligned by a nibble shift, digits shifted out below the word only tell
// that something was there (a sticky bit that turns into a borrow), and a
// difference is the sum with the nines' complement.
HB_DECIMAL_INLINE Sum add(const Operand& x, const Operand& y, uint64_t x_less, int32_t p,
                          int32_t mode) {
  const int32_t less = static_cast<int32_t>(x_less);
  const int32_t d = x.field - y.field;  // <= 0 when x is the smaller
  const int32_t field_big = x.field > y.field ? x.field : y.field;
  // The result's field is field_big + 1 - f with f <= 9 (below): inside
  // these bounds it cannot leave the range. Null's field lies above them.
  if (static_cast<uint32_t>(field_big - (kFieldMin + 8)) >
      static_cast<uint32_t>(kFieldMax - 1 - (kFieldMin + 8)))
    return Sum{kNotShort, 0, 0, 0};
  const uint64_t xd = x.word & kDigitNibbles, yd = y.word & kDigitNibbles;
  const uint64_t swap = (xd ^ yd) & x_less;
  const uint64_t big = xd ^ swap, small = yd ^ swap;
  // Past 15 nibbles only the top nibble of small, 0, would be left.
  const int32_t shift = (d ^ less) - less;
  const int32_t bits = 4 * (shift < 15 ? shift : 15);
  const uint64_t aligned = small >> bits;
  const uint64_t sticky = (aligned << bits) != small;
  const uint64_t difference = x.negative ^ y.negative;
  // big - aligned - sticky = big + (nines - aligned) + 1 - sticky - 10^15,
  // where -aligned = ~aligned + 1.
  const uint64_t addend = (aligned ^ difference) + ((kNinesLessCarry + 2 - sticky) & difference);
  const uint64_t t1 = big + kSixes;
  const uint64_t t2 = t1 + addend;
  // Nibbles that carried out have lost the 6 they were given, the others
  // keep it: add it back where it went.
  const uint64_t carried = (t1 ^ addend ^ t2) & kCarryBits;
  const uint64_t r = (big + addend) + (carried >> 3) * 3;
  const int zeros = __builtin_clzll(r | 1);
  const int f = zeros >> 2;  // 0 after a carry into nibble 0
  // A zero result has f = 15; with sticky digits, f of 2 or more needs them.
  if (f + 8 * static_cast<int>(sticky) >= 10) return Sum{kNotShort, 0, 0, 0};
  const uint64_t top = r << (zeros & 60);  // after a carry the last nibble is cut
  const bool lost = sticky | ((top & (~uint64_t{0} >> (4 * p))) != 0);
  return Sum{-static_cast<int32_t>(lost & (mode == kDecimalReportCut)), field_big + 1 - f, top,
             x.negative ^ (difference & x_less)};
}

// The stored form of s at precision p: byte 0, and bytes 1..8 as a word with
// byte 1 on top.
HB_DECIMAL_INLINE uint8_t stored_byte0(const Sum& s) {
  return static_cast<uint8_t>((s.field >> 4) ^ s.negative);
}
HB_DECIMAL_INLINE uint64_t stored_word(const Sum& s, int32_t p) {
  const uint64_t digits = (s.top & ~(~uint64_t{0} >> (4 * p))) >> 4;
  return (digits | (uint64_t(s.field) << 60)) ^ s.negative;
}

// Callers check that the value's bytes lie inside its area; the compiler
// cannot always follow that check into these helpers and would warn about
// the 8-byte accesses for small areas that never reach them.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
#pragma GCC diagnostic ignored "-Wstringop-overflow"

// x += y or x -= y for two values of precision P (12 to 15, 8 or 9 bytes),
// or kNotShort with x untouched. Bytes 0..7 hold the sign, the exponent
// field and d1..d13; a ninth byte is read with bytes 1..8. Zero (128, then
// zero digits) needs no case of its own: as the smaller operand its digits
// add nothing, and two zeros give a zero result.
template <int32_t P>
HB_DECIMAL_INLINE int32_t add_stored(uint8_t* x, const uint8_t* y, bool subtract, int32_t mode) {
  static_assert(P >= 12 && P <= 15);
  const uint64_t hx = decimal_load_be64(x), hy = decimal_load_be64(y);
  const uint64_t mx = mask_if(static_cast<int64_t>(hx) >= 0);
  const uint64_t my = mask_if(static_cast<int64_t>(hy) >= 0);
  const uint64_t flip = mask_if(subtract);
  const uint64_t keep = ~(~uint64_t{0} >> (4 * P));  // of Sum::top
  if constexpr (decimal_bytes(P) == 8) {
    // One word holds it all and orders the magnitudes.
    const uint64_t ax = hx ^ mx, ay = hy ^ my;
    const Operand u{static_cast<int32_t>(ax >> 52), ax << 8, mx};
    const Operand v{static_cast<int32_t>(ay >> 52), ay << 8, my ^ flip};
    const Sum s = add(u, v, mask_if(ax < ay), P, mode);
    if (s.rc != kNotShort)
      decimal_store_be64(x, (((s.top & keep) >> 12) | (uint64_t(s.field) << 52)) ^ s.negative);
    return s.rc;
  } else {
    const uint64_t wx = decimal_load_be64(x + 1) ^ mx, wy = decimal_load_be64(y + 1) ^ my;
    const Operand u{static_cast<int32_t>((hx ^ mx) >> 52), wx, mx};
    const Operand v{static_cast<int32_t>((hy ^ my) >> 52), wy, my ^ flip};
    const Sum s = add(u, v, magnitude_less(u, v), P, mode);
    if (s.rc != kNotShort) {
      x[0] = stored_byte0(s);
      decimal_store_be64(x + 1, (((s.top & keep) >> 4) | (uint64_t(s.field) << 60)) ^ s.negative);
    }
    return s.rc;
  }
}
#pragma GCC diagnostic pop

// The checks of decimal_arith for precision P, then the sum.
template <int32_t P>
HB_DECIMAL_INLINE int32_t try_add(ByteSpan a_area, int32_t a_offset, ConstByteSpan b_area,
                                  int32_t b_offset, bool subtract, int32_t mode) {
  constexpr int32_t n = decimal_bytes(P);
  if (a_offset < 0 || b_offset < 0 || a_area.size() < static_cast<size_t>(a_offset) + n ||
      b_area.size() < static_cast<size_t>(b_offset) + n)
    return kNotShort;
  return add_stored<P>(a_area.data() + a_offset, b_area.data() + b_offset, subtract, mode);
}

}  // namespace decimal_short

// Results: 0; -1 digits lost (mode 2); 1 an operand is null; -2/-3 overflow;
// -4 division by zero; -5 bad precision, operation or mode; -6 a digit
// nibble above 9 in an operand. On every result but 0 and -1 the first
// operand is left null.
HB_DECIMAL_INLINE int32_t decimal_arith(ByteSpan a_area, const value_descriptor& a,
                                        ConstByteSpan b_area, const value_descriptor& b,
                                        int32_t operation, int32_t mode) {
  const int32_t p = a.precision;
  // Unsigned differences: a descriptor may hold any int32_t.
  if ((operation == kDecimalAdd || operation == kDecimalSubtract) && p == b.precision &&
      static_cast<uint32_t>(mode) - 1 <= 1) {
    const bool subtract = operation == kDecimalSubtract;
    int32_t rc = decimal_short::kNotShort;
    if (p == 15)
      rc = decimal_short::try_add<15>(a_area, a.offset, b_area, b.offset, subtract, mode);
    else if (p == 14)
      rc = decimal_short::try_add<14>(a_area, a.offset, b_area, b.offset, subtract, mode);
    else if (p == 13)
      rc = decimal_short::try_add<13>(a_area, a.offset, b_area, b.offset, subtract, mode);
    else if (p == 12)
      rc = decimal_short::try_add<12>(a_area, a.offset, b_area, b.offset, subtract, mode);
    if (rc != decimal_short::kNotShort) return rc;
  }
  return decimal_arith_general(a_area, a, b_area, b, operation, mode);
}
