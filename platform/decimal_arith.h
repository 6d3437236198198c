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

// A nonzero value as its stored bytes would be if it were positive: byte 0
// (`top`) and the word of bytes 1..8 with byte 1 on top (the exponent
// field's low nibble, then d1..dp in nibbles 1..15, zeros after them), and
// all ones in `negative` when the value is negative. As a 72-bit number
// top:word it orders magnitudes.
struct Operand {
  uint32_t top;
  uint64_t word;
  uint64_t negative;
  int32_t field() const { return static_cast<int32_t>(top << 4 | word >> 60); }
};

// Returned, with the first operand untouched, for what the word cannot
// decide: a result of zero or outside the exponent range, and a difference
// whose leading digits cancelled while digits of the smaller operand had
// been shifted out of the word (those digits would then be needed).
inline constexpr int32_t kNotShort = 2;

constexpr uint64_t repeat_nibble(unsigned nibble) {
  uint64_t r = 0;
  for (int i = 0; i < 16; ++i) r = (r << 4) | nibble;
  return r;
}
inline constexpr uint64_t kSixes = repeat_nibble(6) >> 4;      // nibbles 1..15
inline constexpr uint64_t kNines = repeat_nibble(9) >> 4;      // nibbles 1..15
inline constexpr uint64_t kCarryBits = repeat_nibble(1) << 4;  // bit 4k, k = 1..15
inline constexpr uint64_t kDigitNibbles = ~uint64_t{0} >> 4;   // nibbles 1..15
inline constexpr int32_t kFieldMin = 3072 + kDecimalMinExponent;
inline constexpr int32_t kFieldMax = 3072 + kDecimalMaxExponent;

// Everything of the inline path is forced inline: at -O2 the compiler would
// otherwise call the pieces and pass the operands through memory.
#define HB_DECIMAL_INLINE [[gnu::always_inline]] inline

// All ones when b, else 0: selections by mask keep the path free of branches
// that depend on the data.
HB_DECIMAL_INLINE uint64_t mask_if(bool b) {
  return -static_cast<uint64_t>(b);
}

// Nibbles 1..p.
HB_DECIMAL_INLINE uint64_t digit_mask(int32_t p) {
  return kDigitNibbles & (~uint64_t{0} << (60 - 4 * p));
}

// Callers check that the n bytes lie inside the value's area; the compiler
// cannot always follow that check into these helpers and would warn about
// the 8-byte accesses for small areas that never reach them.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
#pragma GCC diagnostic ignored "-Wstringop-overflow"
// The digit word of a stored value of 8 or 9 bytes, freed of the
// complement m of a negative value: bytes 1..n-1 big-endian with byte 1 on
// top, zeros after them; one unaligned load either way.
HB_DECIMAL_INLINE uint64_t load_word_8_or_9(const uint8_t* v, int32_t n, uint64_t m) {
  uint64_t w;
  std::memcpy(&w, v + n - 8, 8);
  return (__builtin_bswap64(w) ^ m) << (8 * (9 - n));
}
HB_DECIMAL_INLINE void store_word_8_or_9(uint8_t* v, int32_t n, uint8_t byte0, uint64_t word) {
  const uint64_t w = n == 9 ? word : (uint64_t{byte0} << 56) | (word >> 8);
  v[0] = byte0;
  const uint64_t be = __builtin_bswap64(w);
  std::memcpy(v + n - 8, &be, 8);
}
#pragma GCC diagnostic pop

// All ones for a negative value, from its byte 0.
HB_DECIMAL_INLINE uint64_t negative_mask(uint8_t byte0) {
  return mask_if(byte0 < 128);
}

// Operand from byte 0 and the digit word (byte 1 on top) already freed of
// the complement m; digits beyond the precision must be 0 in it.
HB_DECIMAL_INLINE Operand operand(uint8_t byte0, uint64_t word, uint64_t m) {
  return Operand{(byte0 ^ static_cast<uint32_t>(m)) & 0xFF, word, m};
}

// The result x + y (y already negated for a subtraction) in precision p as
// byte 0 and the digit word (byte 1 on top), or kNotShort. No branch depends
// on the operands' signs or magnitude order, so mixed data costs no
// mispredictions: the smaller magnitude is aligned by a nibble shift, digits
// shifted out below the word only tell that something was there (a sticky
// bit that turns into a borrow), and a difference is the sum with the nines'
// complement.
struct Sum {
  int32_t rc;  // 0, -1 (mode 2) or kNotShort
  uint8_t byte0;
  uint64_t word;
};

HB_DECIMAL_INLINE Sum add(const Operand& x, const Operand& y, int32_t p, int32_t mode) {
  using u128 = unsigned __int128;
  const bool x_bigger = ((u128(x.top) << 64) | x.word) >= ((u128(y.top) << 64) | y.word);
  const uint64_t pick = mask_if(x_bigger);
  const uint64_t word_big = y.word ^ ((x.word ^ y.word) & pick);
  const uint64_t word_small = x.word ^ y.word ^ word_big;
  const uint32_t top_big = y.top ^ ((x.top ^ y.top) & static_cast<uint32_t>(pick));
  const uint32_t top_small = x.top ^ y.top ^ top_big;
  const uint64_t big = word_big & kDigitNibbles;
  const uint64_t small = word_small & kDigitNibbles;
  const int32_t field_big = static_cast<int32_t>(top_big << 4 | word_big >> 60);
  const int32_t shift = field_big - static_cast<int32_t>(top_small << 4 | word_small >> 60);
  const int32_t bits = 4 * (shift < 15 ? shift : 15);  // the top nibble of small is 0
  const uint64_t aligned = small >> bits;
  const bool sticky = (aligned << bits) != small;
  const uint64_t sub = x.negative ^ y.negative;  // all ones for a difference
  // big - aligned - sticky = big + (nines - aligned) + !sticky - 10^15; the
  // 10^15 is the carry into nibble 0, cleared below.
  const uint64_t addend = ((kNines - aligned) & sub) | (aligned & ~sub);
  const uint64_t t1 = big + kSixes;
  const uint64_t t2 = t1 + addend + ((sub & 1) & uint64_t{!sticky});
  // Nibbles that did not carry out keep the 6 they were given: take it back.
  const uint64_t no_carry = ~(t2 ^ t1 ^ addend) & kCarryBits;
  const uint64_t r = (t2 - ((no_carry >> 2) | (no_carry >> 3))) & ~(sub & ~kDigitNibbles);
  const int f = __builtin_clzll(r | 1) >> 2;  // 0 after a carry into nibble 0
  const int32_t field = field_big - f + 1;
  if ((r == 0) | (sticky & (f >= 2)) |
      (static_cast<uint32_t>(field - kFieldMin) > static_cast<uint32_t>(kFieldMax - kFieldMin)))
    return Sum{kNotShort, 0, 0};
  // d1 into nibble 1; after a carry (f = 0) the last nibble falls out.
  const uint64_t top = r << (4 * f);
  const uint64_t norm = top >> 4;
  const uint64_t keep = digit_mask(p);
  const bool lost = sticky | (((top & 15) | (norm & ~keep)) != 0);
  const uint64_t out = x.negative ^ (sub & ~pick);
  const uint64_t word = ((norm & keep) | (uint64_t(field) << 60)) ^ out;
  return Sum{-static_cast<int32_t>(lost & (mode == kDecimalReportCut)),
             static_cast<uint8_t>((field >> 4) ^ out), word};
}

}  // namespace decimal_short

namespace decimal_short {

// x += y or x -= y for two values of precision p stored in n bytes, or
// kNotShort with x untouched.
template <int32_t n>
HB_DECIMAL_INLINE int32_t add_stored(uint8_t* x, const uint8_t* y, int32_t p, bool subtract,
                                     int32_t mode) {
  const uint64_t mx = negative_mask(x[0]), my = negative_mask(y[0]);
  Operand v = operand(y[0], load_word_8_or_9(y, n, my), my);
  v.negative ^= mask_if(subtract);
  const Sum s = add(operand(x[0], load_word_8_or_9(x, n, mx), mx), v, p, mode);
  if (s.rc != kNotShort) store_word_8_or_9(x, n, s.byte0, s.word);
  return s.rc;
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
  const int32_t n = (static_cast<uint32_t>(p) + 4) / 2;
  if ((operation == kDecimalAdd || operation == kDecimalSubtract) && p == b.precision &&
      static_cast<uint32_t>(p) - 12 <= 3 && static_cast<uint32_t>(mode) - 1 <= 1 && a.offset >= 0 &&
      b.offset >= 0 && a_area.size() >= static_cast<size_t>(a.offset) + n &&
      b_area.size() >= static_cast<size_t>(b.offset) + n) {
    uint8_t* x = a_area.data() + a.offset;
    const uint8_t* y = b_area.data() + b.offset;
    // Null (255) and zero (128) go the general way, and so do 0 and 127,
    // exponents no writer stores: one test per operand.
    if (((x[0] + 1) & 0x7F) > 1 && ((y[0] + 1) & 0x7F) > 1) {
      const bool subtract = operation == kDecimalSubtract;
      const int32_t rc = n == 9 ? decimal_short::add_stored<9>(x, y, p, subtract, mode)
                                : decimal_short::add_stored<8>(x, y, p, subtract, mode);
      if (rc != decimal_short::kNotShort) return rc;
    }
  }
  return decimal_arith_general(a_area, a, b_area, b, operation, mode);
}
