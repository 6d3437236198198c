// Add, subtract, multiply and divide of packed decimals. Every result is the
// exact result cut towards zero to the first operand's precision: digits of
// the smaller operand that lie below the kept ones still decide the cut, so
// 1000 - 0.001 at precision 4 is 999.9, never 1000.
//
// Values of up to 15 digits take a short path that adds or subtracts the
// stored BCD nibbles 32 at a time in a 128-bit word; longer values, products
// and quotients work on rows of single digits.
#include "platform/decimal_arith.h"

#include <cstring>

#include "platform/packed_decimal_internal.h"

using namespace decimal_work;

namespace {

using u128 = unsigned __int128;

// Stores a result row into the first operand: range checks, cut to its
// precision, pack.
int32_t finish(uint8_t* v, int32_t precision, Unpacked* r, bool lost, int32_t mode) {
  r->precision = precision;
  if (all_zero(*r)) {
    store_zero(v, precision);
  } else if (r->exponent > kDecimalMaxExponent) {
    store_null(v, precision);
    return overflow_code(r->positive);
  } else if (r->exponent < kDecimalMinExponent) {
    store_zero(v, precision);
    lost = true;
  } else {
    cut_digits(r, precision, Cut::kTruncate, -1, &lost);
    pack(*r, v);
  }
  return (lost && mode == kDecimalReportCut) ? kDecimalDigitsLost : kDecimalOk;
}

// -1, 0, 1 as |x| is below, equal to or above |y|; both nonzero.
int compare_magnitude(const Unpacked& x, const Unpacked& y) {
  if (x.exponent != y.exponent) return x.exponent < y.exponent ? -1 : 1;
  const int c = std::memcmp(x.digits, y.digits, kRowDigits);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// Positions 1..kWindow hold the digits of the larger operand's scale;
// position 0 takes a carry. Digits of the smaller operand below the window
// only matter as "something nonzero was there" (sticky): wide enough that
// the kept digits of every result are exact.
constexpr int kWindow = kDecimalMaxPrecision + 5;

void add_rows(const Unpacked& x, const Unpacked& y, Unpacked* r, bool* lost) {
  const int c = compare_magnitude(x, y);
  const bool same_sign = x.positive == y.positive;
  if (c == 0 && !same_sign) {
    std::memset(r->digits, 0, kRowDigits);
    return;
  }
  const Unpacked& big = c >= 0 ? x : y;
  const Unpacked& small = c >= 0 ? y : x;
  const int64_t shift = int64_t{big.exponent} - small.exponent;
  int8_t w[kWindow + 1] = {};
  int8_t s[kWindow + 1] = {};
  std::memcpy(w + 1, big.digits, kRowDigits);
  bool sticky = false;
  for (int32_t i = 0; i < kRowDigits; ++i) {
    const int64_t pos = 1 + shift + i;
    if (pos <= kWindow)
      s[pos] = small.digits[i];
    else
      sticky |= small.digits[i] != 0;
  }
  if (same_sign) {
    int carry = 0;
    for (int k = kWindow; k >= 0; --k) {
      const int t = w[k] + s[k] + carry;
      carry = t >= 10;
      w[k] = static_cast<int8_t>(t - (carry ? 10 : 0));
    }
  } else {
    // A nonzero tail below the window makes the exact difference smaller
    // than the window's by less than one unit of its last position.
    int borrow = sticky ? 1 : 0;
    for (int k = kWindow; k >= 0; --k) {
      const int t = w[k] - s[k] - borrow;
      borrow = t < 0;
      w[k] = static_cast<int8_t>(t + (borrow ? 10 : 0));
    }
  }
  *lost |= sticky;
  int f = 0;
  while (f <= kWindow && w[f] == 0) ++f;
  r->positive = big.positive;
  r->exponent = big.exponent - f + 1;
  std::memset(r->digits, 0, kRowDigits);
  for (int k = f; k <= kWindow; ++k) {
    if (k - f < kRowDigits)
      r->digits[k - f] = static_cast<uint8_t>(w[k]);
    else
      *lost |= w[k] != 0;
  }
}

void multiply_rows(const Unpacked& x, const Unpacked& y, Unpacked* r, bool* lost) {
  int32_t acc[2 * kRowDigits + 1] = {};
  const int32_t nx = x.precision, ny = y.precision;
  for (int32_t i = 0; i < nx; ++i) {
    if (x.digits[i] == 0) continue;
    for (int32_t j = 0; j < ny; ++j) acc[i + j + 1] += x.digits[i] * y.digits[j];
  }
  for (int32_t k = nx + ny; k >= 1; --k) {
    acc[k - 1] += acc[k] / 10;
    acc[k] %= 10;
  }
  const int32_t f = acc[0] == 0 ? 1 : 0;
  r->positive = x.positive == y.positive;
  r->exponent = x.exponent + y.exponent - f;
  std::memset(r->digits, 0, kRowDigits);
  for (int32_t k = f; k <= nx + ny; ++k) {
    if (k - f < kRowDigits)
      r->digits[k - f] = static_cast<uint8_t>(acc[k]);
    else
      *lost |= acc[k] != 0;
  }
}

// Long division, one quotient digit at a time, to `count` digits.
void divide_rows(const Unpacked& x, const Unpacked& y, int32_t count, Unpacked* r, bool* lost) {
  constexpr int kLen = kRowDigits + 1;
  uint8_t den[kLen] = {}, rem[kLen] = {};
  std::memcpy(den + 1, y.digits, kRowDigits);
  std::memcpy(rem + 1, x.digits, kRowDigits);
  const auto at_least = [&]() { return std::memcmp(rem, den, kLen) >= 0; };
  const auto times_ten = [&]() {
    std::memmove(rem, rem + 1, kLen - 1);
    rem[kLen - 1] = 0;
  };
  r->positive = x.positive == y.positive;
  r->exponent = x.exponent - y.exponent + 1;
  if (!at_least()) {
    times_ten();
    --r->exponent;
  }
  std::memset(r->digits, 0, kRowDigits);
  for (int32_t k = 0; k < count; ++k) {
    uint8_t q = 0;
    while (at_least()) {
      int borrow = 0;
      for (int i = kLen - 1; i >= 0; --i) {
        int t = rem[i] - den[i] - borrow;
        borrow = t < 0;
        rem[i] = static_cast<uint8_t>(t + (borrow ? 10 : 0));
      }
      ++q;
    }
    r->digits[k] = q;
    times_ten();
  }
  for (int i = 0; i < kLen; ++i) *lost |= rem[i] != 0;
}

// ---- Short path: both precisions at most 15 -------------------------------
//
// The digit bytes 1..n-1 of a value of precision p <= 15 fit one 64-bit word
// read big-endian: the exponent's low nibble on top (cleared), then d1..dp.
// The path has no branch that depends on the operands' signs or order, so
// mixed data costs no mispredictions.

constexpr int32_t kShortPrecision = 15;

inline uint64_t load_digit_word(const uint8_t* v, int32_t n) {
  if (n == 9) return load_be64(v + 1);
  uint64_t w = 0;
  for (int32_t i = 1; i < n; ++i) w |= uint64_t{v[i]} << (64 - 8 * i);
  return w;
}

inline void store_digit_word(uint8_t* v, int32_t n, uint64_t w) {
  if (n == 9) {
    store_be64(v + 1, w);
    return;
  }
  for (int32_t i = 1; i < n; ++i) v[i] = static_cast<uint8_t>(w >> (64 - 8 * i));
}

constexpr u128 repeat_nibble(unsigned nibble) {
  u128 r = 0;
  for (int i = 0; i < 32; ++i) r = (r << 4) | nibble;
  return r;
}
constexpr u128 kSixes = repeat_nibble(6);
constexpr u128 kCarryBits = repeat_nibble(1) << 4;  // bit 4k for k = 1..31

// Sum of two 32-digit BCD numbers whose sum fits 32 digits.
inline u128 bcd_add(u128 a, u128 b) {
  const u128 t1 = a + kSixes;
  const u128 t2 = t1 + b;
  const u128 carries = t2 ^ t1 ^ b;
  // Nibbles that did not carry out keep the 6 they were given: take it back.
  // The top nibble never carries out here.
  const u128 no_carry = ~carries & kCarryBits;
  const u128 sixes = (no_carry >> 2) | (no_carry >> 3) | (u128{6} << 124);
  return t2 - sixes;
}

// Difference a - b of two BCD numbers with a >= b.
inline u128 bcd_sub(u128 a, u128 b) {
  const u128 t = a - b;
  const u128 borrows = ((a ^ b ^ t) & kCarryBits) >> 4;
  return t - ((borrows << 2) + (borrows << 1));
}

inline int leading_zero_nibbles(u128 x) {
  const uint64_t hi = static_cast<uint64_t>(x >> 64);
  const uint64_t lo = static_cast<uint64_t>(x);
  return hi != 0 ? __builtin_clzll(hi) / 4 : 16 + __builtin_clzll(lo) / 4;
}

// Returns false, leaving `a` untouched, when the result leaves the exponent
// range; the general path then reports it.
bool add_short(int32_t* result, uint8_t* a, int32_t pa, const uint8_t* b, int32_t pb, bool subtract,
               int32_t mode) {
  const int32_t na = decimal_bytes(pa), nb = decimal_bytes(pb);
  const uint64_t ma = a[0] >= 128 ? 0 : ~uint64_t{0};
  const uint64_t mb = b[0] >= 128 ? 0 : ~uint64_t{0};
  const uint64_t ca =
      (load_digit_word(a, na) ^ ma) & (~uint64_t{0} << (72 - 8 * na)) & 0x0FFFFFFFFFFFFFFFull;
  const uint64_t cb =
      (load_digit_word(b, nb) ^ mb) & (~uint64_t{0} << (72 - 8 * nb)) & 0x0FFFFFFFFFFFFFFFull;
  const int32_t fa =
      ((a[0] ^ static_cast<uint8_t>(ma)) << 4) | ((a[1] ^ static_cast<uint8_t>(ma)) >> 4);
  const int32_t fb =
      ((b[0] ^ static_cast<uint8_t>(mb)) << 4) | ((b[1] ^ static_cast<uint8_t>(mb)) >> 4);
  const bool neg_a = ma != 0;
  const bool neg_b = (mb != 0) != subtract;
  // Magnitude order: exponent field, then digits.
  const bool a_bigger = ((u128(fa) << 64) | ca) >= ((u128(fb) << 64) | cb);
  const uint64_t big = a_bigger ? ca : cb;
  const uint64_t small = a_bigger ? cb : ca;
  const int32_t field_big = a_bigger ? fa : fb;
  int32_t shift = a_bigger ? fa - fb : fb - fa;
  if (shift < 0) shift = 0;  // only for stored bytes that are not normalised
  const u128 wide_small_unshifted = u128{small} << 64;
  const int32_t bits = 4 * (shift < 31 ? shift : 31);
  u128 wide_small = wide_small_unshifted >> bits;
  // Digits shifted out below the 32 nibbles only tell that something was there.
  bool sticky = (wide_small << bits) != wide_small_unshifted;
  if (shift >= 32) {
    wide_small = 0;
    sticky = small != 0;
  }
  const u128 wide_big = u128{big} << 64;
  const u128 sum = bcd_add(wide_big, wide_small);
  const u128 difference = bcd_sub(bcd_sub(wide_big, wide_small), u128{sticky});
  const u128 r = neg_a == neg_b ? sum : difference;
  if (r == 0) {
    store_zero(a, pa);
    *result = kDecimalOk;
    return true;
  }
  const int f = leading_zero_nibbles(r);
  const int32_t field = field_big - f + 1;
  if (field > kDecimalMaxExponent + kFieldBias || field < kDecimalMinExponent + kFieldBias)
    return false;
  // d1 into nibble 1 of the top word; with a carry (f = 0) the last nibble
  // falls out.
  const u128 norm = (r << (4 * f)) >> 4;
  uint64_t top = static_cast<uint64_t>(norm >> 64);
  const uint64_t keep = ~uint64_t{0} << (60 - 4 * pa);
  const bool lost = sticky || ((r << (4 * f)) & 15) != 0 || (top & ~keep) != 0 ||
                    static_cast<uint64_t>(norm) != 0;
  const bool negative = a_bigger ? neg_a : neg_b;
  const uint64_t out_mask = negative ? ~uint64_t{0} : 0;
  top = ((top & keep) | (uint64_t(field & 15) << 60)) ^ out_mask;
  a[0] = static_cast<uint8_t>((field >> 4) ^ static_cast<uint8_t>(out_mask));
  store_digit_word(a, na, top);
  *result = (lost && mode == kDecimalReportCut) ? kDecimalDigitsLost : kDecimalOk;
  return true;
}

}  // namespace

int32_t decimal_arith(ByteSpan a_area, const value_descriptor& a, ConstByteSpan b_area,
                      const value_descriptor& b, int32_t operation, int32_t mode) {
  uint8_t* x = field_of(a_area, a);
  const uint8_t* y = field_of(b_area, b);
  if (x == nullptr) return kDecimalBadArgument;
  const int32_t p = a.precision;
  if (y == nullptr || !precision_ok(p) || !precision_ok(b.precision) || operation < kDecimalAdd ||
      operation > kDecimalDivide || mode < kDecimalSilent || mode > kDecimalReportCut) {
    store_null(x, p);
    return kDecimalBadArgument;
  }
  if (is_null(x) || is_null(y)) {
    store_null(x, p);
    return kDecimalNull;
  }
  const bool additive = operation == kDecimalAdd || operation == kDecimalSubtract;
  if (is_zero(y)) {
    if (operation == kDecimalMultiply) store_zero(x, p);
    if (operation == kDecimalDivide) {
      store_null(x, p);
      return kDecimalDivideByZero;
    }
    return kDecimalOk;
  }
  if (is_zero(x) && !additive) return kDecimalOk;
  int32_t rc;
  if (additive && !is_zero(x) && p <= kShortPrecision && b.precision <= kShortPrecision &&
      add_short(&rc, x, p, y, b.precision, operation == kDecimalSubtract, mode))
    return rc;

  Unpacked u, v, r;
  unpack(y, b.precision, &v);
  if (operation == kDecimalSubtract) v.positive = !v.positive;
  // 0 + y and 0 - y: y in the first operand's precision.
  if (is_zero(x)) return finish(x, p, &v, false, mode);
  unpack(x, p, &u);
  bool lost = false;
  switch (operation) {
    case kDecimalAdd:
    case kDecimalSubtract:
      add_rows(u, v, &r, &lost);
      break;
    case kDecimalMultiply:
      multiply_rows(u, v, &r, &lost);
      break;
    default:
      divide_rows(u, v, p, &r, &lost);
      break;
  }
  return finish(x, p, &r, lost, mode);
}
