// Add, subtract, multiply and divide of packed decimals. Every result is the
// exact result cut towards zero to the first operand's precision: digits of
// the smaller operand that lie below the kept ones still decide the cut, so
// 1000 - 0.001 at precision 4 is 999.9, never 1000.
//
// Values of up to 15 digits take a short path: sums and differences add or
// subtract the stored BCD nibbles 16 at a time in a 64-bit word, products
// multiply base-100 digits read from the BCD bytes. Longer values and
// quotients work on rows of single digits.
#include "platform/decimal_arith.h"

#include <array>
#include <cstring>

#include "platform/packed_decimal_internal.h"

using namespace decimal_work;

namespace {

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

// Quotient x / y (both nonzero) to `count` digits, cut. The digit rows are
// read as base-100 numbers (two digits per limb) and divided by long division
// in base 100: each quotient limb is estimated from the two leading limbs of
// the remainder and the divisor's first limb, after both were scaled so that
// that limb is at least 50, which keeps the estimate at most two too large.
void divide_rows(const Unpacked& x, const Unpacked& y, int32_t count, Unpacked* r, bool* lost) {
  // Divisor: y's digits up to its last nonzero limb, n limbs. Numerator: x's
  // digits (zeros after them) over n + (count + 3) / 2 limbs, so that the
  // integer quotient has at least count + 2 digits. x has no nonzero digit
  // beyond `count`, so the numerator holds all of it.
  constexpr int kMaxLimbs = kRowDigits / 2 + (kDecimalMaxPrecision + 3) / 2;
  int32_t v[kRowDigits / 2] = {};
  int32_t n = 0;
  for (int32_t i = 0; i < kRowDigits / 2; ++i) {
    v[i] = y.digits[2 * i] * 10 + y.digits[2 * i + 1];
    if (v[i] != 0) n = i + 1;
  }
  const int32_t limbs = n + (count + 3) / 2;
  int32_t u[kMaxLimbs + 2] = {};
  for (int32_t i = 0; i < limbs && 2 * i < kRowDigits; ++i)
    u[1 + i] = x.digits[2 * i] * 10 + x.digits[2 * i + 1];
  const int32_t m = limbs - n;  // the quotient has m + 1 limbs
  int32_t q[kMaxLimbs + 1] = {};
  if (n == 1) {
    int32_t rest = 0;
    for (int32_t i = 1; i <= limbs; ++i) {
      const int32_t cur = rest * 100 + u[i];
      q[i - 1 - (limbs - m - 1)] = cur / v[0];
      rest = cur % v[0];
    }
    *lost |= rest != 0;
  } else {
    const int32_t d = 100 / (v[0] + 1);
    int32_t carry = 0;
    for (int32_t i = limbs; i >= 1; --i) {
      const int32_t t = u[i] * d + carry;
      u[i] = t % 100;
      carry = t / 100;
    }
    u[0] = carry;
    carry = 0;
    for (int32_t i = n - 1; i >= 0; --i) {
      const int32_t t = v[i] * d + carry;
      v[i] = t % 100;
      carry = t / 100;
    }
    for (int32_t j = 0; j <= m; ++j) {
      const int32_t top = u[j] * 100 + u[j + 1];
      int32_t qhat = top / v[0], rhat = top % v[0];
      while (qhat >= 100 || qhat * v[1] > rhat * 100 + u[j + 2]) {
        --qhat;
        rhat += v[0];
        if (rhat >= 100) break;
      }
      int32_t borrow = 0;
      for (int32_t i = n; i >= 1; --i) {
        const int32_t t = u[j + i] - qhat * v[i - 1] - borrow;
        borrow = t < 0 ? (99 - t) / 100 : 0;
        u[j + i] = t + borrow * 100;
      }
      int32_t t = u[j] - borrow;
      if (t < 0) {  // the estimate was one too large: add the divisor back
        --qhat;
        int32_t c = 0;
        for (int32_t i = n; i >= 1; --i) {
          const int32_t sum = u[j + i] + v[i - 1] + c;
          c = sum >= 100;
          u[j + i] = sum - c * 100;
        }
        t += c;
      }
      u[j] = t;
      q[j] = qhat;
    }
    for (int32_t i = m + 1; i <= limbs; ++i) *lost |= u[i] != 0;
  }
  // Quotient digits, leading zeros dropped; e follows from their number.
  uint8_t digits[2 * (kMaxLimbs + 1)];
  int32_t k = 0;
  for (int32_t j = 0; j <= m; ++j) {
    digits[k++] = static_cast<uint8_t>(q[j] / 10);
    digits[k++] = static_cast<uint8_t>(q[j] % 10);
  }
  int32_t first = 0;
  while (first < k && digits[first] == 0) ++first;
  r->positive = x.positive == y.positive;
  // x / y = (numerator / divisor) * 10^(ex - 2 limbs - ey + 2n).
  r->exponent = x.exponent - y.exponent + (k - first) - 2 * limbs + 2 * n;
  std::memset(r->digits, 0, kRowDigits);
  for (int32_t i = first; i < k; ++i) {
    if (i - first < count)
      r->digits[i - first] = digits[i];
    else
      *lost |= digits[i] != 0;
  }
}

// ---- Short path: both precisions at most 15 -------------------------------
//
// The digit bytes 1..n-1 of a value of precision p <= 15 fit one 64-bit word
// read big-endian: the exponent's low nibble on top (cleared), then d1..dp.
// Sums and differences are decimal_short::add (decimal_arith.h), which the
// inline path uses for 12 to 15 digits of one precision; this one serves
// every other pair of short precisions.

constexpr int32_t kShortPrecision = 15;

inline uint64_t load_digit_word(const uint8_t* v, int32_t n) {
  if (n == 9) return decimal_load_be64(v + 1);
  uint64_t w = 0;
  for (int32_t i = 1; i < n; ++i) w |= uint64_t{v[i]} << (64 - 8 * i);
  return w;
}

inline void store_digit_word(uint8_t* v, int32_t n, uint64_t w) {
  if (n == 9) {
    decimal_store_be64(v + 1, w);
    return;
  }
  for (int32_t i = 1; i < n; ++i) v[i] = static_cast<uint8_t>(w >> (64 - 8 * i));
}

// An operand of the short path from its stored bytes.
inline decimal_short::Operand load_short(const uint8_t* v, int32_t p) {
  const uint64_t m = decimal_short::negative_mask(v[0]);
  const uint64_t word = load_digit_word(v, decimal_bytes(p)) ^ m;
  return decimal_short::Operand{
      static_cast<int32_t>(((v[0] ^ m) & 0xFF) << 4 | word >> 60),
      word & (decimal_short::digit_mask(p) | ~decimal_short::kDigitNibbles), m};
}

// Stores digits normalised to d1 in nibble 1 (later nibbles beyond the
// precision are cut) with the exponent field; returns the result code, or 2
// when the field is out of range and the caller must take the general path.
inline int32_t store_short(uint8_t* a, int32_t pa, uint64_t norm, int32_t field, bool negative,
                           bool lost, int32_t mode) {
  if (field > kDecimalMaxExponent + kFieldBias || field < kDecimalMinExponent + kFieldBias)
    return 2;
  const uint64_t keep = ~uint64_t{0} << (60 - 4 * pa);
  lost |= (norm & ~keep) != 0;
  const uint64_t out_mask = negative ? ~uint64_t{0} : 0;
  const uint64_t top = ((norm & keep) | (uint64_t(field & 15) << 60)) ^ out_mask;
  a[0] = static_cast<uint8_t>((field >> 4) ^ static_cast<uint8_t>(out_mask));
  store_digit_word(a, decimal_bytes(pa), top);
  return (lost && mode == kDecimalReportCut) ? kDecimalDigitsLost : kDecimalOk;
}

// True when every digit nibble of the word (nibble 0 clear) is at most 9:
// adding 6 then carries out of none of them.
bool bcd_digits_ok(uint64_t word) {
  using decimal_short::kCarryBits;
  using decimal_short::kSixes;
  return (((word + kSixes) ^ word ^ kSixes) & kCarryBits) == 0;
}

// A difference the word of decimal_short::add could not decide because its
// leading digits cancelled while digits of the smaller operand had been
// shifted out: worked again in sixteen nibbles, d1 of the larger magnitude in
// nibble 0 and the smaller one aligned to it, so that one digit more of the
// smaller stays in the word (a difference needs no nibble for a carry). That
// is all of it when the exponents differ by one; when they differ by more,
// the result is above a tenth of the larger, so its digits start in nibble 0
// or 1 and the sixteenth nibble holds the last one it keeps, with the shifted
// out digits as a borrow below it. kNotShort for a sum, a zero result, a
// field outside the range, and stored bytes no writer produces.
decimal_short::Sum difference_in_sixteen_nibbles(const decimal_short::Operand& x,
                                                 const decimal_short::Operand& y, int32_t p,
                                                 int32_t mode) {
  using namespace decimal_short;
  const Sum not_short{kNotShort, 0, 0, 0};
  if ((x.negative ^ y.negative) == 0) return not_short;
  const bool x_less = magnitude_less(x, y) != 0;
  const Operand& big = x_less ? y : x;
  const Operand& small = x_less ? x : y;
  const uint64_t big_digits = big.word & kDigitNibbles;
  const uint64_t small_digits = small.word & kDigitNibbles;
  if (big_digits >> 56 == 0 || small_digits >> 56 == 0 || !bcd_digits_ok(big_digits) ||
      !bcd_digits_ok(small_digits))
    return not_short;
  const int32_t shift = big.field - small.field;
  const uint64_t wide = small_digits << 4;
  const uint64_t aligned = shift < 16 ? wide >> (4 * shift) : 0;
  const bool sticky = shift < 16 ? (aligned << (4 * shift)) != wide : true;
  // big - aligned - sticky = big + (nines - aligned) + 1 - sticky - 10^16; the
  // 10^16 is the carry out of nibble 0, which a difference always makes.
  const uint64_t addend = (repeat_nibble(9) - aligned) + (sticky ? 0 : 1);
  const uint64_t t1 = (big_digits << 4) + repeat_nibble(6);
  const uint64_t t2 = t1 + addend;
  const uint64_t no_carry = ~(t1 ^ addend ^ t2) & kCarryBits;
  const uint64_t r = t2 - (no_carry >> 3) * 3;
  if (r == 0) return not_short;
  const int f = __builtin_clzll(r) >> 2;
  const int32_t field = big.field - f;
  if (field < kFieldMin || field > kFieldMax) return not_short;
  const uint64_t top = r << (4 * f);
  const bool lost = sticky || (top & (~uint64_t{0} >> (4 * p))) != 0;
  return Sum{lost && mode == kDecimalReportCut ? kDecimalDigitsLost : kDecimalOk, field, top,
             big.negative};
}

// Returns 2, leaving `a` untouched, for the cases the word cannot decide
// (decimal_short::kNotShort).
int32_t add_short(uint8_t* a, int32_t pa, const uint8_t* b, int32_t pb, bool subtract,
                  int32_t mode) {
  const decimal_short::Operand x = load_short(a, pa);
  decimal_short::Operand y = load_short(b, pb);
  if (subtract) y.negative = ~y.negative;
  decimal_short::Sum s = decimal_short::add(x, y, decimal_short::magnitude_less(x, y), pa, mode);
  if (s.rc == decimal_short::kNotShort) s = difference_in_sixteen_nibbles(x, y, pa, mode);
  if (s.rc == decimal_short::kNotShort) return s.rc;
  a[0] = decimal_short::stored_byte0(s);
  store_digit_word(a, decimal_bytes(pa), decimal_short::stored_word(s, pa));
  return s.rc;
}

// BCD byte to its value 0..99 (nibbles above 9 weigh as they are), and
// 0..99 back to a BCD byte.
constexpr auto kBcdValue = [] {
  std::array<uint8_t, 256> t{};
  for (int b = 0; b < 256; ++b) t[b] = static_cast<uint8_t>((b >> 4) * 10 + (b & 15));
  return t;
}();
constexpr auto kBcdByte = [] {
  std::array<uint8_t, 100> t{};
  for (int v = 0; v < 100; ++v) t[v] = static_cast<uint8_t>((v / 10) << 4 | (v % 10));
  return t;
}();

// Product of two short operands, both nonzero: the digit bytes read as
// base-100 digits (one per byte), multiplied column by column.
int32_t multiply_short(uint8_t* a, int32_t pa, const uint8_t* b, int32_t pb, int32_t mode) {
  const decimal_short::Operand x = load_short(a, pa);
  const decimal_short::Operand y = load_short(b, pb);
  const uint64_t x_digits = x.word & decimal_short::kDigitNibbles;
  const uint64_t y_digits = y.word & decimal_short::kDigitNibbles;
  if (x_digits >> 56 == 0 || y_digits >> 56 == 0) return 2;  // d1 of 0: not normalised
  // The 8 bytes of each digit word (0d1 d2d3 ..., zeros after the value's
  // digits) as base-100 digits; fixed counts let the loops unroll.
  uint32_t xd[8], yd[8];
  for (int32_t i = 0; i < 8; ++i) {
    xd[i] = kBcdValue[(x_digits >> (56 - 8 * i)) & 0xFF];
    yd[i] = kBcdValue[(y_digits >> (56 - 8 * i)) & 0xFF];
  }
  // 0.0d1d2.. times 0.0e1e2..: column k holds 100^-(k+1); column 0 stays 0.
  uint32_t column[16] = {};
#pragma GCC unroll 8
  for (int32_t i = 0; i < 8; ++i)
#pragma GCC unroll 8
    for (int32_t j = 0; j < 8; ++j) column[i + j + 1] += xd[i] * yd[j];
  for (int32_t k = 15; k >= 1; --k) {
    column[k - 1] += column[k] / 100;
    column[k] %= 100;
  }
  // Back to BCD: 32 nibbles, the product's digits from nibble 2 (or 3).
  // Every column is now below 100: column 0 is the product's 100^-1 place,
  // and both factors are below 0.17 even with digit nibbles of 15.
  uint64_t hi = 0, lo = 0;
  for (int32_t k = 0; k < 8; ++k) {
    hi = (hi << 8) | kBcdByte[column[k]];
    lo = (lo << 8) | kBcdByte[column[k + 8]];
  }
  const int f = __builtin_clzll(hi) / 4;  // 2 or 3 for digits 0..9
  if (f < 2) return 2;                    // digit nibbles above 9
  const int s = 4 * (f - 1);              // d1 into nibble 1
  const uint64_t norm = (hi << s) | (lo >> (64 - s));
  const bool lost = (lo << s) != 0;
  return store_short(a, pa, norm, x.field + y.field - kFieldBias - (f - 2),
                     (x.negative ^ y.negative) != 0, lost, mode);
}

bool digits_ok(const Unpacked& u) {
  for (int32_t i = 0; i < kRowDigits; ++i)
    if (u.digits[i] > 9) return false;
  return true;
}

// Moves leading 0 digits out of a nonzero row (stored bytes that were not
// normalised), lowering the exponent.
void normalise(Unpacked* u) {
  int32_t z = 0;
  while (z < kRowDigits && u->digits[z] == 0) ++z;
  if (z == 0 || z == kRowDigits) return;
  std::memmove(u->digits, u->digits + z, kRowDigits - z);
  std::memset(u->digits + kRowDigits - z, 0, z);
  u->exponent -= z;
}

// The general path: operands as digit rows. Kept out of line so that the
// short path does not pay for its stack frame.
[[gnu::noinline]] int32_t arith_rows(uint8_t* x, int32_t p, const uint8_t* y, int32_t pb,
                                     int32_t operation, int32_t mode) {
  Unpacked u, v, r;
  unpack(y, pb, &v);
  unpack(x, p, &u);
  // Stored bytes with no nonzero digit but not in the zero form (bad data)
  // count as zero: a divisor of them must not reach the long division.
  if (all_zero(v)) {
    if (operation == kDecimalDivide) {
      store_null(x, p);
      return kDecimalDivideByZero;
    }
    if (operation == kDecimalMultiply) store_zero(x, p);
    return kDecimalOk;
  }
  // Digit nibbles above 9 are bad data; a leading 0 digit is moved out, so
  // that the long division always has a divisor whose first digit counts.
  if (!digits_ok(u) || !digits_ok(v)) {
    store_null(x, p);
    return kDecimalBadData;
  }
  normalise(&u);
  normalise(&v);
  if (operation == kDecimalSubtract) v.positive = !v.positive;
  // 0 + y and 0 - y: y in the first operand's precision.
  if (all_zero(u)) {
    if (operation == kDecimalMultiply || operation == kDecimalDivide) {
      store_zero(x, p);
      return kDecimalOk;
    }
    return finish(x, p, &v, false, mode);
  }
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

}  // namespace

int32_t decimal_arith_general(ByteSpan a_area, const value_descriptor& a, ConstByteSpan b_area,
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
  if (p <= kShortPrecision && b.precision <= kShortPrecision && !is_zero(x)) {
    int32_t rc = 2;
    if (additive)
      rc = add_short(x, p, y, b.precision, operation == kDecimalSubtract, mode);
    else if (operation == kDecimalMultiply)
      rc = multiply_short(x, p, y, b.precision, mode);
    if (rc != 2) return rc;
  }
  return arith_rows(x, p, y, b.precision, operation, mode);
}
