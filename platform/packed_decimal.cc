// The packed decimal form and the value library on it: unpack and pack,
// cutting and rounding, sign, comparison, copy between precisions, integer,
// double and BCD conversions, and the in-place CEILING, FLOOR, ABS and
// rounding operations. Stored bytes compare as unsigned bytes in numeric
// order; everything here keeps that true for what it writes.
#include "platform/packed_decimal.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/decimal_arith.h"
#include "platform/decimal_text.h"
#include "platform/packed_decimal_internal.h"

namespace decimal_work {

void store_null(uint8_t* value, int32_t precision) {
  int32_t n = precision_ok(precision) ? decimal_bytes(precision) : 1;
  std::memset(value, 255, n);
}

void store_zero(uint8_t* value, int32_t precision) {
  value[0] = 128;
  std::memset(value + 1, 0, decimal_bytes(precision) - 1);
}

void unpack(const uint8_t* value, int32_t precision, Unpacked* u) {
  const uint8_t mask = value[0] >= 128 ? 0 : 0xFF;
  u->precision = precision;
  u->positive = mask == 0;
  const uint8_t b1 = value[1] ^ mask;
  u->exponent = (((value[0] ^ mask) << 4) | (b1 >> 4)) - kFieldBias;
  u->digits[0] = b1 & 15;
  for (int32_t j = 1; j < precision; ++j) {
    const uint8_t b = value[1 + (j + 1) / 2] ^ mask;
    u->digits[j] = (j & 1) ? b >> 4 : b & 15;
  }
  std::memset(u->digits + precision, 0, kRowDigits - precision);
}

bool all_zero(const Unpacked& u) {
  for (int32_t i = 0; i < kRowDigits; ++i)
    if (u.digits[i] != 0) return false;
  return true;
}

bool pack(const Unpacked& u, uint8_t* value) {
  const int32_t p = u.precision;
  bool lost = false;
  for (int32_t i = p; i < kRowDigits; ++i) lost |= u.digits[i] != 0;
  bool any = false;
  for (int32_t i = 0; i < p && !any; ++i) any = u.digits[i] != 0;
  if (!any) {
    store_zero(value, p);
    return lost;
  }
  const int32_t field = u.exponent + kFieldBias;
  const int32_t n = decimal_bytes(p);
  value[0] = static_cast<uint8_t>(field >> 4);
  value[1] = static_cast<uint8_t>(((field & 15) << 4) | u.digits[0]);
  for (int32_t j = 1, b = 2; j < p; j += 2, ++b)
    value[b] = static_cast<uint8_t>((u.digits[j] << 4) | (j + 1 < p ? u.digits[j + 1] : 0));
  if (!u.positive)
    for (int32_t i = 0; i < n; ++i) value[i] = static_cast<uint8_t>(~value[i]);
  return lost;
}

bool cut_digits(Unpacked* u, int32_t keep, Cut mode, int32_t scale, bool* lost) {
  if (keep >= kRowDigits) return true;
  uint8_t* d = u->digits;
  bool carried = false;
  if (keep < 0 || (keep == 0 && (mode == Cut::kTruncate || d[0] < 5))) {
    // Rounding down drops digits without a warning; cutting warns.
    if (mode == Cut::kTruncate)
      for (int32_t i = 0; i < kRowDigits; ++i) *lost |= d[i] != 0;
    std::memset(d, 0, kRowDigits);
    return true;
  }
  if (mode == Cut::kTruncate || d[keep] < 5) {
    if (mode == Cut::kTruncate)
      for (int32_t i = keep; i < kRowDigits; ++i) *lost |= d[i] != 0;
    std::memset(d + keep, 0, kRowDigits - keep);
    return true;
  }
  std::memset(d + keep, 0, kRowDigits - keep);
  *lost = true;
  int32_t i = keep - 1;
  while (i >= 0 && d[i] == 9) d[i--] = 0;
  if (i >= 0) {
    ++d[i];
  } else {
    d[0] = 1;
    ++u->exponent;
    carried = true;
  }
  if (carried) {
    if (u->exponent > kDecimalMaxExponent) return false;
    if (scale != -1 && scale > u->precision - u->exponent) return false;
  }
  return true;
}

int32_t store_row(uint8_t* value, const value_descriptor& d, Unpacked* u, bool lost, Cut mode) {
  const int32_t p = d.precision;
  const int32_t s = d.scale;
  u->precision = p;
  if (all_zero(*u)) {
    store_zero(value, p);
    return lost ? kDecimalDigitsLost : kDecimalOk;
  }
  int32_t keep = p;
  if (s != -1) {
    // More integer digits than the scale leaves room for: an overflow, not a
    // silently wrong value.
    if (s > p - u->exponent) {
      store_null(value, p);
      return overflow_code(u->positive);
    }
    keep = u->exponent + s;
  }
  if (!cut_digits(u, keep, mode, s, &lost)) {
    store_null(value, p);
    return overflow_code(u->positive);
  }
  lost |= pack(*u, value);
  return lost ? kDecimalDigitsLost : kDecimalOk;
}

}  // namespace decimal_work

using namespace decimal_work;

namespace {

// Stores a magnitude with a sign: the common path of the integer conversions.
int32_t store_magnitude(ByteSpan area, const value_descriptor& out, bool negative,
                        uint64_t magnitude) {
  uint8_t* v = field_of(area, out);
  if (v == nullptr) return kDecimalBadArgument;
  if (!descriptor_ok(out)) {
    store_null(v, out.precision);
    return kDecimalBadArgument;
  }
  if (magnitude == 0) {
    store_zero(v, out.precision);
    return kDecimalOk;
  }
  uint8_t reversed[20];
  int32_t n = 0;
  for (; magnitude != 0; magnitude /= 10) reversed[n++] = static_cast<uint8_t>(magnitude % 10);
  Unpacked u;
  u.positive = !negative;
  u.exponent = n;
  for (int32_t i = 0; i < n; ++i) u.digits[i] = reversed[n - 1 - i];
  return store_row(v, out, &u, false, Cut::kTruncate);
}

// Integer part of a value as a magnitude of at most max_digits digits, for
// the conversions to integers.
int32_t integer_magnitude(ConstByteSpan area, const value_descriptor& d, int32_t max_digits,
                          uint64_t positive_limit, uint64_t* magnitude, bool* negative) {
  *magnitude = 0;
  *negative = false;
  const uint8_t* v = field_of(area, d);
  if (v == nullptr || !descriptor_ok(d)) return kDecimalBadArgument;
  if (is_null(v)) return kDecimalNull;
  if (is_zero(v)) return kDecimalOk;
  Unpacked u;
  unpack(v, d.precision, &u);
  *negative = !u.positive;
  if (u.exponent <= 0) return kDecimalDigitsLost;
  if (u.exponent > max_digits) return overflow_code(u.positive);
  uint64_t m = 0;
  for (int32_t i = 0; i < u.exponent; ++i) m = m * 10 + u.digits[i];
  if (m > positive_limit + (u.positive ? 0 : 1)) return overflow_code(u.positive);
  *magnitude = m;
  for (int32_t i = u.exponent; i < d.precision; ++i)
    if (u.digits[i] != 0) return kDecimalDigitsLost;
  return kDecimalOk;
}

void fill_nines(uint8_t* bcd, int32_t precision) {
  const int32_t n = (precision + 2) / 2;
  std::memset(bcd, 0x99, n);
  if (precision % 2 == 0) bcd[0] = 0x09;
  bcd[n - 1] = 0x9D;
}

bool bcd_shape_ok(int32_t precision, int32_t scale) {
  return precision_ok(precision) && scale >= 0 && scale <= precision;
}

}  // namespace

truth_code decimal_sign(ConstByteSpan area, const value_descriptor& value) {
  const uint8_t* v = field_of(area, value);
  if (v == nullptr || !precision_ok(value.precision)) return kDecimalBadArgument;
  if (v[0] == 255) return kTruthUnknown;
  if (v[0] < 128) return kTruthLess;
  return v[0] == 128 ? kTruthEqual : kTruthGreater;
}

truth_code decimal_compare_general(ConstByteSpan a_area, const value_descriptor& a,
                                   ConstByteSpan b_area, const value_descriptor& b) {
  const uint8_t* x = field_of(a_area, a);
  const uint8_t* y = field_of(b_area, b);
  if (x == nullptr || y == nullptr || !precision_ok(a.precision) || !precision_ok(b.precision))
    return kDecimalBadArgument;
  if (x[0] == 255 || y[0] == 255) return kTruthUnknown;
  const int32_t nx = decimal_bytes(a.precision);
  const int32_t ny = decimal_bytes(b.precision);
  const int32_t common = nx < ny ? nx : ny;
  // The stored bytes in big-endian words: the same order as memcmp, without
  // its call (every value has at least two bytes).
  int32_t i = 0;
  for (; i + 8 <= common; i += 8) {
    const uint64_t u = decimal_load_be64(x + i), v = decimal_load_be64(y + i);
    if (u != v) return u > v ? kTruthGreater : kTruthLess;
  }
  for (; i < common; ++i)
    if (x[i] != y[i]) return x[i] > y[i] ? kTruthGreater : kTruthLess;
  if (nx == ny) return kTruthEqual;
  // Equal over the common bytes, so both have the same sign. The longer one
  // is larger in magnitude when any extra byte differs from the pad byte.
  const bool positive = x[0] >= 128;
  const uint8_t pad = positive ? 0 : 255;
  const uint8_t* extra = nx > ny ? x + ny : y + nx;
  const int32_t count = nx > ny ? nx - ny : ny - nx;
  for (int32_t k = 0; k < count; ++k) {
    if (extra[k] != pad) return positive == (nx > ny) ? kTruthGreater : kTruthLess;
  }
  return kTruthEqual;
}

int32_t decimal_set_null(ByteSpan area, const value_descriptor& value) {
  uint8_t* v = field_of(area, value);
  if (v == nullptr) return kDecimalBadArgument;
  store_null(v, value.precision);
  return kDecimalOk;
}

int32_t decimal_set_zero(ByteSpan area, const value_descriptor& value) {
  uint8_t* v = field_of(area, value);
  if (v == nullptr) return kDecimalBadArgument;
  if (!precision_ok(value.precision)) {
    store_null(v, value.precision);
    return kDecimalBadArgument;
  }
  store_zero(v, value.precision);
  return kDecimalOk;
}

int32_t decimal_assign(ByteSpan target_area, const value_descriptor& target,
                       ConstByteSpan source_area, const value_descriptor& source) {
  uint8_t* t = field_of(target_area, target);
  const uint8_t* s = field_of(source_area, source);
  if (t == nullptr) return kDecimalBadArgument;
  if (s == nullptr || !precision_ok(target.precision) || !precision_ok(source.precision)) {
    store_null(t, target.precision);
    return kDecimalBadArgument;
  }
  if (is_null(s)) {
    store_null(t, target.precision);
    return kDecimalOk;
  }
  const int32_t nt = decimal_bytes(target.precision);
  const int32_t ns = decimal_bytes(source.precision);
  const int32_t common = nt < ns ? nt : ns;
  const uint8_t pad = s[0] >= 128 ? 0 : 255;
  bool lost = false;
  if (target.precision < source.precision) {
    for (int32_t i = nt; i < ns; ++i) lost |= s[i] != pad;
    // The target's pad nibble holds a digit of the source.
    if (target.precision % 2 == 0) lost |= (s[nt - 1] & 15) != (pad & 15);
  }
  std::memmove(t, s, common);
  if (nt > ns) std::memset(t + ns, pad, nt - ns);
  if (target.precision % 2 == 0) t[nt - 1] = static_cast<uint8_t>((t[nt - 1] & 0xF0) | (pad & 15));
  return lost ? kDecimalDigitsLost : kDecimalOk;
}

int32_t int_to_decimal(ByteSpan area, const value_descriptor& out, int32_t x) {
  const bool negative = x < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(static_cast<int64_t>(x)) : x;
  return store_magnitude(area, out, negative, magnitude);
}

int32_t uint_to_decimal(ByteSpan area, const value_descriptor& out, uint32_t x) {
  return store_magnitude(area, out, false, x);
}

int32_t int64_to_decimal(ByteSpan area, const value_descriptor& out, int32_t high, int32_t low) {
  const uint64_t bits =
      (static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | static_cast<uint32_t>(low);
  const bool negative = high < 0;
  return store_magnitude(area, out, negative, negative ? 0 - bits : bits);
}

int32_t decimal_to_int(int32_t* out, ConstByteSpan area, const value_descriptor& value) {
  uint64_t m;
  bool negative;
  const int32_t rc = integer_magnitude(area, value, 10, 2147483647u, &m, &negative);
  if (rc != kDecimalOk && rc != kDecimalDigitsLost) {
    *out = std::numeric_limits<int32_t>::min();
    return rc;
  }
  *out = static_cast<int32_t>(negative ? 0 - static_cast<uint32_t>(m) : static_cast<uint32_t>(m));
  return rc;
}

int32_t decimal_to_int64_checked(int32_t* out_high, int32_t* out_low, ConstByteSpan area,
                                 const value_descriptor& value) {
  uint64_t m;
  bool negative;
  const int32_t rc = integer_magnitude(area, value, 19, 9223372036854775807ull, &m, &negative);
  uint64_t bits = 0x8000000000000000ull;
  if (rc == kDecimalOk || rc == kDecimalDigitsLost) bits = negative ? 0 - m : m;
  *out_high = static_cast<int32_t>(static_cast<uint32_t>(bits >> 32));
  *out_low = static_cast<int32_t>(static_cast<uint32_t>(bits));
  return rc;
}

int32_t double_to_decimal(ByteSpan area, const value_descriptor& out, double x) {
  uint8_t* v = field_of(area, out);
  if (v == nullptr) return kDecimalBadArgument;
  if (!descriptor_ok(out)) {
    store_null(v, out.precision);
    return kDecimalBadArgument;
  }
  // Infinity and NaN have no decimal value; printed, they would read back as
  // a null operand rather than as the bad data they are.
  if (!std::isfinite(x)) {
    store_null(v, out.precision);
    return kDecimalBadData;
  }
  // Sixteen significant digits, rounded into the target.
  char text[40];
  const int n = std::snprintf(text, sizeof text, "%.15E", x);
  for (int i = 0; i < n; ++i)
    if (text[i] == ',') text[i] = '.';
  const int32_t rc = text_to_decimal_rounded(
      area, out, ConstByteSpan(reinterpret_cast<const uint8_t*>(text), n), 0, n);
  return rc == kDecimalDigitsLost ? kDecimalOk : rc;
}

int32_t decimal_to_double(double* out, ConstByteSpan area, const value_descriptor& value) {
  *out = std::bit_cast<double>(0xFFEFFFFFFFFFFFFFull);
  const uint8_t* v = field_of(area, value);
  if (v == nullptr || !descriptor_ok(value)) return kDecimalBadArgument;
  if (is_null(v)) return kDecimalNull;
  uint8_t text[kDecimalMaxPrecision + 8];
  const int32_t length = value.precision + 7;
  const int32_t rc = decimal_to_text(text, 0, length, kDecimalTextExponent, area, value);
  if (rc != kDecimalOk) return rc;
  // from_chars reads the point whatever the locale; it takes no blank sign.
  const char* first = reinterpret_cast<const char*>(text);
  const char* last = first + length;
  while (*first == ' ') ++first;
  double x = 0;
  const auto [ptr, ec] = std::from_chars(first, last, x);
  (void)ptr;
  if (ec == std::errc::result_out_of_range) {
    Unpacked u;
    unpack(v, value.precision, &u);
    if (u.exponent > 0) return overflow_code(u.positive);
    x = u.positive ? 0.0 : -0.0;  // underflow: accepted as zero
  } else if (ec != std::errc()) {
    return kDecimalBadData;
  }
  *out = x;
  return kDecimalOk;
}

int32_t bcd_to_decimal(ByteSpan area, const value_descriptor& out, ConstByteSpan bcd_area,
                       int32_t bcd_offset, int32_t bcd_precision, int32_t bcd_scale) {
  uint8_t* v = field_of(area, out);
  if (v == nullptr) return kDecimalBadArgument;
  const int32_t n = (bcd_precision + 2) / 2;
  if (!descriptor_ok(out) || !bcd_shape_ok(bcd_precision, bcd_scale) ||
      !field_fits(bcd_area, bcd_offset, n)) {
    store_null(v, out.precision);
    return kDecimalBadArgument;
  }
  const uint8_t* bcd = bcd_area.data() + bcd_offset;
  const uint8_t sign = bcd[n - 1] & 15;
  // Nibbles 0 .. 2n-2 hold the digits; with an even precision nibble 0 is a
  // pad that must be 0.
  const int32_t first_digit = 2 * n - 1 - bcd_precision;
  bool bad = sign != 12 && sign != 13;
  Unpacked u;
  u.positive = sign == 12;
  int32_t count = 0;
  int32_t leading = 0;
  for (int32_t k = 0; k < 2 * n - 1; ++k) {
    const uint8_t nib = (k & 1) ? bcd[k / 2] & 15 : bcd[k / 2] >> 4;
    if (k < first_digit) {
      bad |= nib != 0;
    } else if (nib > 9) {
      bad = true;
    } else if (count == 0 && nib == 0) {
      ++leading;
    } else {
      u.digits[count++] = nib;
    }
  }
  if (bad) {
    store_null(v, out.precision);
    return kDecimalBadData;
  }
  u.exponent = bcd_precision - bcd_scale - leading;
  return store_row(v, out, &u, false, Cut::kTruncate);
}

int32_t decimal_to_bcd(ByteSpan bcd_area, int32_t bcd_offset, int32_t bcd_precision,
                       int32_t bcd_scale, ConstByteSpan area, const value_descriptor& value) {
  const uint8_t* v = field_of(area, value);
  const int32_t n = (bcd_precision + 2) / 2;
  if (v == nullptr || !descriptor_ok(value) || !bcd_shape_ok(bcd_precision, bcd_scale) ||
      !field_fits(bcd_area, bcd_offset, n))
    return kDecimalBadArgument;
  uint8_t* bcd = bcd_area.data() + bcd_offset;
  if (is_null(v)) {
    fill_nines(bcd, bcd_precision);
    return kDecimalNull;
  }
  const bool zero = is_zero(v);
  Unpacked u;
  unpack(v, value.precision, &u);
  const int32_t integer_room = bcd_precision - bcd_scale;
  if (!zero && u.exponent > integer_room) {
    fill_nines(bcd, bcd_precision);
    return overflow_code(u.positive);
  }
  std::memset(bcd, 0, n);
  bool lost = false;
  if (!zero) {
    // BCD digit k has the weight of row digit k - integer_room + e.
    const int32_t first_digit = 2 * n - 1 - bcd_precision;
    for (int32_t k = 0; k < bcd_precision; ++k) {
      const int32_t i = k - integer_room + u.exponent;
      if (i < 0 || i >= value.precision) continue;
      const int32_t nib = first_digit + k;
      bcd[nib / 2] |= (nib & 1) ? u.digits[i] : u.digits[i] << 4;
    }
    const int32_t first_cut = bcd_precision - integer_room + u.exponent;
    for (int32_t i = first_cut < 0 ? 0 : first_cut; i < value.precision; ++i)
      lost |= u.digits[i] != 0;
  }
  bcd[n - 1] |= (zero || u.positive) ? 12 : 13;
  return lost ? kDecimalDigitsLost : kDecimalOk;
}

int32_t decimal_digits_info(ConstByteSpan area, const value_descriptor& value, int32_t* digits,
                            int32_t* scale) {
  const uint8_t* v = field_of(area, value);
  if (v == nullptr || !descriptor_ok(value)) return kDecimalBadArgument;
  if (is_null(v)) return kDecimalNull;
  if (is_zero(v)) {
    *digits = 1;
    *scale = 0;
    return kDecimalOk;
  }
  Unpacked u;
  unpack(v, value.precision, &u);
  int32_t s = value.precision;
  while (s > 1 && u.digits[s - 1] == 0) --s;
  const int32_t e = u.exponent;
  if (e > value.precision) {
    *digits = s;
    *scale = -1;
  } else if (e >= 1) {
    *digits = s > e ? s : e;
    *scale = s - e > 0 ? s - e : 0;
  } else if (s - e > kDecimalMaxPrecision) {
    *digits = s;
    *scale = -1;
  } else {
    *digits = s - e;
    *scale = s - e;
  }
  return kDecimalOk;
}

namespace {

// Common entry of the in-place operations: the value's bytes, or nullptr
// with *rc set (bad argument stores null, null gives 1, zero gives 0).
uint8_t* in_place_operand(ByteSpan area, const value_descriptor& value, bool arguments_ok,
                          int32_t* rc) {
  uint8_t* v = field_of(area, value);
  *rc = kDecimalOk;
  if (v == nullptr) {
    *rc = kDecimalBadArgument;
    return nullptr;
  }
  if (!descriptor_ok(value) || !arguments_ok) {
    store_null(v, value.precision);
    *rc = kDecimalBadArgument;
    return nullptr;
  }
  if (is_null(v)) {
    *rc = kDecimalNull;
    return nullptr;
  }
  return is_zero(v) ? nullptr : v;
}

}  // namespace

int32_t decimal_round(ByteSpan area, const value_descriptor& value, int32_t precision,
                      int32_t scale) {
  int32_t rc;
  uint8_t* v = in_place_operand(area, value,
                                precision_ok(precision) && scale >= -1 && scale <= precision, &rc);
  if (v == nullptr) return rc;
  Unpacked u;
  unpack(v, value.precision, &u);
  int32_t keep = precision;
  if (scale != -1) {
    if (u.exponent > precision - scale) {
      store_null(v, value.precision);
      return overflow_code(u.positive);
    }
    keep = u.exponent + scale > 0 ? u.exponent + scale : 0;
  }
  bool lost = false;
  cut_digits(&u, keep, Cut::kTruncate, -1, &lost);
  pack(u, v);
  return lost ? kDecimalDigitsLost : kDecimalOk;
}

int32_t decimal_truncate(ByteSpan area, const value_descriptor& value, int32_t mode, int32_t n) {
  int32_t rc;
  uint8_t* v = in_place_operand(area, value, mode >= 1 && mode <= 4, &rc);
  if (v == nullptr) return rc;
  Unpacked u;
  unpack(v, value.precision, &u);
  int64_t keep = mode <= 2 ? n : int64_t{u.exponent} + n;
  if (keep > kRowDigits) keep = kRowDigits;
  if (keep < -1) keep = -1;
  const Cut cut = (mode == 1 || mode == 3) ? Cut::kRound : Cut::kTruncate;
  bool lost = false;
  if (!cut_digits(&u, static_cast<int32_t>(keep), cut, value.scale, &lost)) {
    store_null(v, value.precision);
    return overflow_code(u.positive);
  }
  pack(u, v);
  return lost ? kDecimalDigitsLost : kDecimalOk;
}

namespace {

// CEILING (up) and FLOOR: clear the fraction, then step away from zero by one
// when a nonzero fraction was cleared on that side.
int32_t ceiling_or_floor(ByteSpan area, const value_descriptor& value, bool up) {
  int32_t rc;
  uint8_t* v = in_place_operand(area, value, true, &rc);
  if (v == nullptr) return rc;
  Unpacked u;
  unpack(v, value.precision, &u);
  if (u.exponent >= value.precision) return kDecimalOk;
  bool lost = false;
  cut_digits(&u, u.exponent > 0 ? u.exponent : 0, Cut::kTruncate, -1, &lost);
  pack(u, v);
  if (!lost || u.positive != up) return kDecimalOk;
  uint8_t one[3];
  const value_descriptor one_d{0, 2, -1, 0};
  const uint8_t one_text[] = {'1', '.', '0'};
  text_to_decimal(one, one_d, one_text, 0, 3);
  rc = decimal_arith_general(area, value, one, one_d, up ? kDecimalAdd : kDecimalSubtract,
                             kDecimalSilent);
  if (rc != kDecimalOk) store_null(v, value.precision);
  return rc;
}

}  // namespace

int32_t decimal_ceiling(ByteSpan area, const value_descriptor& value) {
  return ceiling_or_floor(area, value, true);
}

int32_t decimal_floor(ByteSpan area, const value_descriptor& value) {
  return ceiling_or_floor(area, value, false);
}

int32_t decimal_abs(ByteSpan area, const value_descriptor& value) {
  uint8_t* v = field_of(area, value);
  if (v == nullptr) return kDecimalBadArgument;
  if (!precision_ok(value.precision)) {
    store_null(v, value.precision);
    return kDecimalBadArgument;
  }
  if (is_null(v)) return kDecimalNull;
  if (v[0] < 128)
    for (int32_t i = 0; i < decimal_bytes(value.precision); ++i) v[i] = static_cast<uint8_t>(~v[i]);
  return kDecimalOk;
}
