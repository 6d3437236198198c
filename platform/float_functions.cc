// The SQL numeric functions on doubles, judged by the C library's error
// indicator and a NaN test; 64-bit integer helpers on word pairs; unsigned
// integer text through the packed decimal writer; MSB-first bit maps; the
// three-byte nullable 16-bit integer.
#include "platform/float_functions.h"

#include <cerrno>
#include <cmath>
#include <cstring>

#include "platform/decimal_text.h"
#include "platform/packed_decimal.h"

namespace {

constexpr double kPi = 3.14159265358979;  // the value the system has always used
constexpr double kDegreesLimit = 9.98718408256842e305;
constexpr double kRadiansLimit = 5.722234971514062e307;
constexpr double kNegligible = 5e-16;

enum : int32_t { kOk = 0, kOverflowPos = -2, kOverflowNeg = -3, kBadCode = -5, kBadValue = -6 };

// A domain error, or any range error, or a NaN result: -6.
int32_t checked(double r, bool range_counts) {
  if (errno == EDOM || std::isnan(r)) return kBadValue;
  if (range_counts && errno == ERANGE) return kBadValue;
  return kOk;
}

uint64_t to_bits(const int32_t* a) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(a[1])) << 32) | static_cast<uint32_t>(a[0]);
}
void from_bits(int32_t* a, uint64_t v) {
  a[0] = static_cast<int32_t>(static_cast<uint32_t>(v));
  a[1] = static_cast<int32_t>(static_cast<uint32_t>(v >> 32));
}

}  // namespace

int32_t float_function(int32_t code, double* out, double x, double y) {
  errno = 0;
  double r = 0;
  int32_t status = kOk;
  switch (code) {
    case kFloatAcos:
      r = std::acos(x);
      status = checked(r, false);
      break;
    case kFloatAsin:
      r = std::asin(x);
      status = checked(r, false);
      break;
    case kFloatAtan:
      r = std::atan(x);
      status = checked(r, false);
      break;
    case kFloatCos:
    case kFloatSin:
      r = code == kFloatCos ? std::cos(x) : std::sin(x);
      status = checked(r, false);
      // cos(pi/2) and sin(pi) are zero, not the rounding error of pi.
      if (status == kOk && std::fabs(r) < kNegligible) r = 0;
      break;
    case kFloatCot: {
      const double t = std::tan(x);
      status = checked(t, false);
      if (status == kOk && t == 0) status = kBadValue;
      if (status == kOk) {
        r = 1 / t;
        if (std::isinf(r)) status = kBadValue;
      }
      break;
    }
    case kFloatDegrees:
      // Checked before multiplying so that the product cannot overflow.
      if (x < -kDegreesLimit) return kOverflowNeg;
      if (x > kDegreesLimit) return kOverflowPos;
      r = x * 180 / kPi;
      status = std::isnan(r) ? kBadValue : kOk;
      break;
    case kFloatRadians:
      if (x < -kRadiansLimit) return kOverflowNeg;
      if (x > kRadiansLimit) return kOverflowPos;
      r = x * kPi / 180;
      status = std::isnan(r) ? kBadValue : kOk;
      break;
    case kFloatLog:
      r = std::log(x);
      status = checked(r, true);
      break;
    case kFloatLog10:
      r = std::log10(x);
      status = checked(r, true);
      break;
    case kFloatSqrt:
      r = std::sqrt(x);
      status = checked(r, false);
      break;
    case kFloatTan:
      r = std::tan(x);
      status = checked(r, false);
      break;
    case kFloatExp:
      r = std::exp(x);
      if (std::isnan(r))
        status = kBadValue;
      else if (r == 0)
        status = kOverflowNeg;  // underflow to zero
      else if (errno == ERANGE && std::isinf(r))
        status = kOverflowPos;
      // A range error with a tiny nonzero result is an underflow the result
      // still represents: accepted.
      break;
    case kFloatAtan2:
      r = std::atan2(x, y);
      if (x == 0 && y == 0) {
        r = 0;
        status = kBadValue;
      } else {
        status = checked(r, true);
      }
      break;
    case kFloatPower:
      r = std::pow(x, y);
      if (errno == EDOM || std::isnan(r))
        status = kBadValue;
      else if (errno == ERANGE && (std::isinf(r) || std::fabs(r) >= 1))
        status = kOverflowPos;
      // An underflow (a result too small for a double) is not an overflow:
      // the zero or tiny result stands.
      break;
    default:
      return kBadCode;
  }
  *out = r;
  return status;
}

void int64_add(int32_t* a, const int32_t* b) {
  from_bits(a, to_bits(a) + to_bits(b));
}
void int64_sub(int32_t* a, const int32_t* b) {
  from_bits(a, to_bits(a) - to_bits(b));
}

int32_t int64_compare(const int32_t* a, const int32_t* b) {
  const auto x = static_cast<int64_t>(to_bits(a));
  const auto y = static_cast<int64_t>(to_bits(b));
  return x > y ? 1 : (x < y ? -1 : 0);
}

int32_t int64_sign(const int32_t* a) {
  const auto x = static_cast<int64_t>(to_bits(a));
  return x > 0 ? 1 : (x < 0 ? -1 : 0);
}

void int64_swap_words(int32_t* out, const int32_t* a) {
  const int32_t low = a[0], high = a[1];
  out[0] = high;
  out[1] = low;
}

void int64_from_words(int32_t* a, int32_t high, int32_t low) {
  a[0] = low;
  a[1] = high;
}

void int64_add_hilo(int32_t* a, int32_t high, int32_t low) {
  const int32_t b[2] = {low, high};
  int64_add(a, b);
}

void int64_sub_hilo(int32_t* a, int32_t high, int32_t low) {
  const int32_t b[2] = {low, high};
  int64_sub(a, b);
}

void int64_inc(int32_t* a) {
  from_bits(a, to_bits(a) + 1);
}
void int64_dec(int32_t* a) {
  from_bits(a, to_bits(a) - 1);
}

StatusPair mdr_unsupported_status() {
  return StatusPair{-21007, -1};
}

int32_t uint_to_text(ByteSpan out_area, int32_t offset, int32_t length, uint32_t value) {
  uint8_t v[decimal_bytes(10)];
  const value_descriptor d{0, 10, 0, 0};
  uint_to_decimal(v, d, value);
  return decimal_to_text(out_area, offset, length, kDecimalTextInteger, v, d);
}

namespace {

// The byte index of bit n and its mask; -1 when the bit is not in the map.
int64_t bit_byte(size_t size, int32_t n, uint8_t* mask) {
  if (n < 0) return -1;
  const size_t byte = static_cast<size_t>(n % 32) / 8 + static_cast<size_t>(n / 32) * 4;
  if (byte >= size) return -1;
  *mask = static_cast<uint8_t>(128 >> (n % 8));
  return static_cast<int64_t>(byte);
}

}  // namespace

int32_t bitmap_clear_bit(ByteSpan map, int32_t n) {
  uint8_t mask;
  const int64_t i = bit_byte(map.size(), n, &mask);
  if (i < 0) return -2;
  if ((map[i] & mask) == 0) return 1;
  map[i] = static_cast<uint8_t>(map[i] & ~mask);
  return 0;
}

int32_t bitmap_set_bit(ByteSpan map, int32_t n) {
  uint8_t mask;
  const int64_t i = bit_byte(map.size(), n, &mask);
  if (i < 0) return -2;
  if ((map[i] & mask) != 0) return 1;
  map[i] |= mask;
  return 0;
}

int32_t bitmap_test_bit(ConstByteSpan map, int32_t n) {
  uint8_t mask;
  const int64_t i = bit_byte(map.size(), n, &mask);
  if (i < 0) return -2;
  return (map[i] & mask) != 0 ? 1 : 0;
}

int32_t small_int_store(ByteSpan area, int32_t offset, int32_t value) {
  if (!field_fits(area, offset, 3)) return -5;
  uint8_t* f = area.data() + offset;
  if (value == -1) {
    std::memset(f, 255, 3);
    return 0;
  }
  if (value < 0 || value > 65535) return -1;
  f[0] = 0;
  f[1] = static_cast<uint8_t>(value >> 8);
  f[2] = static_cast<uint8_t>(value);
  return 0;
}

int32_t small_int_load(ConstByteSpan area, int32_t offset) {
  if (!field_fits(area, offset, 3)) return -5;
  const uint8_t* f = area.data() + offset;
  if (f[0] == 255) return -1;
  return f[1] * 256 + f[2];
}
