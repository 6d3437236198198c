// Packed decimal values: the byte-comparable decimal floating-point form in
// which every exact number of the system is stored, and the value library
// around it (sign, comparison, copy between precisions, integer, double and
// BCD conversions, cutting and rounding). Text conversions are in
// platform/decimal_text.h, the four operations in platform/decimal_arith.h.
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/bytes.h"

// Names a value inside a row or work area without copying it: the value lives
// at area + offset. Every routine checks that the value's bytes lie inside the
// area it is given and answers -5 without touching anything when they do not. Word 3 is the type of
// DATE/TIME/TIMESTAMP (1..3) and INTERVAL (4, 5) values; plain decimals leave it 0 and ignore it.
struct value_descriptor {
  int32_t offset = 0;
  int32_t precision = 0;  // digits, 1..45
  int32_t scale = -1;     // fraction digits to keep, -1 floating, else 0..precision
  int32_t type = 0;
};

// Result codes of the value routines.
enum : int32_t {
  kDecimalOk = 0,
  kDecimalNull = 1,          // an operand or the result is null
  kDecimalDigitsLost = -1,   // nonzero digits were cut; the value is stored
  kDecimalOverflowPos = -2,  // overflow of a positive value
  kDecimalOverflowNeg = -3,  // overflow of a negative value
  kDecimalDivideByZero = -4,
  kDecimalBadArgument = -5,  // precision, scale, length, width or mode out of range
  kDecimalBadData = -6,      // bad BCD nibble, NaN or infinite double
};

// Truth codes of tests and comparisons of values (kTruthUnknown for null,
// kTruthLess, kTruthEqual, kTruthGreater: platform/bytes.h).
using truth_code = int32_t;

inline constexpr int32_t kDecimalMaxPrecision = 45;
inline constexpr int32_t kDecimalMaxBytes = 24;
// Exponent e of 0.d1d2..dp * 10^e; conversions never produce one outside.
inline constexpr int32_t kDecimalMaxExponent = 1000;
inline constexpr int32_t kDecimalMinExponent = -998;

// Bytes of the stored form: 2 for precision 1, 24 for precision 45.
constexpr int32_t decimal_bytes(int32_t precision) {
  return (precision + 4) / 2;
}

// Big-endian 64-bit load and store of stored bytes, at any alignment.
inline uint64_t decimal_load_be64(const uint8_t* p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
  return __builtin_bswap64(w);
}
inline void decimal_store_be64(uint8_t* p, uint64_t v) {
  v = __builtin_bswap64(v);
  std::memcpy(p, &v, 8);
}

// Every routine returns its result code; outputs other than the value come
// back through pointers.

// 1 null, 2 negative, 3 zero, 4 positive; -5 for a bad precision.
truth_code decimal_sign(ConstByteSpan area, const value_descriptor& value);
// 1 when either is null, else 2, 3 or 4 as a is less, equal or greater;
// -5 for a bad precision. Values of different precisions compare by value.
truth_code decimal_compare(ConstByteSpan a_area, const value_descriptor& a, ConstByteSpan b_area,
                           const value_descriptor& b);
// Every case of decimal_compare; the inline one above serves the common case
// (same precision, 8 to 16 stored bytes) itself, as keys and sorts call it
// in their inner loops.
truth_code decimal_compare_general(ConstByteSpan a_area, const value_descriptor& a,
                                   ConstByteSpan b_area, const value_descriptor& b);

inline truth_code decimal_compare(ConstByteSpan a_area, const value_descriptor& a,
                                  ConstByteSpan b_area, const value_descriptor& b) {
  const int32_t p = a.precision;
  const int32_t n = (static_cast<uint32_t>(p) + 4) / 2;  // p may be any int32_t here
  if (p != b.precision || p < 12 || p > 28 || a.offset < 0 || b.offset < 0 ||
      a_area.size() < static_cast<size_t>(a.offset) + n ||
      b_area.size() < static_cast<size_t>(b.offset) + n)
    return decimal_compare_general(a_area, a, b_area, b);
  const uint8_t* x = a_area.data() + a.offset;
  const uint8_t* y = b_area.data() + b.offset;
  if (x[0] == 255 || y[0] == 255) return kTruthUnknown;
  // Two overlapping big-endian words cover 8 to 16 bytes in byte order.
  uint64_t u, v;
  std::memcpy(&u, x, 8);
  std::memcpy(&v, y, 8);
  if (u == v) {
    std::memcpy(&u, x + n - 8, 8);
    std::memcpy(&v, y + n - 8, 8);
    if (u == v) return kTruthEqual;
  }
  return __builtin_bswap64(u) > __builtin_bswap64(v) ? kTruthGreater : kTruthLess;
}

int32_t decimal_set_zero(ByteSpan area, const value_descriptor& value);
// Writes null: min(bytes, 24) bytes of 255, one byte when the precision is
// out of range.
int32_t decimal_set_null(ByteSpan area, const value_descriptor& value);
// Copies between precisions (cutting or padding trailing digits); -1 when a
// shorter target lost nonzero digits.
int32_t decimal_assign(ByteSpan target_area, const value_descriptor& target,
                       ConstByteSpan source_area, const value_descriptor& source);

int32_t int_to_decimal(ByteSpan area, const value_descriptor& out, int32_t x);
int32_t uint_to_decimal(ByteSpan area, const value_descriptor& out, uint32_t x);
int32_t int64_to_decimal(ByteSpan area, const value_descriptor& out, int32_t high, int32_t low);
// Null gives 0x80000000 and 1; an integer part outside 32 bits gives
// 0x80000000 and -2/-3; a cut fraction gives -1.
int32_t decimal_to_int(int32_t* out, ConstByteSpan area, const value_descriptor& value);
int32_t decimal_to_int64_checked(int32_t* out_high, int32_t* out_low, ConstByteSpan area,
                                 const value_descriptor& value);
int32_t double_to_decimal(ByteSpan area, const value_descriptor& out, double x);
// Failures leave the most negative double in *out.
int32_t decimal_to_double(double* out, ConstByteSpan area, const value_descriptor& value);

// Packed BCD fields of precision P (1..45) and scale S (0..P): (P + 2) / 2
// bytes, sign nibble 12 positive, 13 negative.
int32_t bcd_to_decimal(ByteSpan area, const value_descriptor& out, ConstByteSpan bcd_area,
                       int32_t bcd_offset, int32_t bcd_precision, int32_t bcd_scale);
int32_t decimal_to_bcd(ByteSpan bcd_area, int32_t bcd_offset, int32_t bcd_precision,
                       int32_t bcd_scale, ConstByteSpan area, const value_descriptor& value);

// Significant digits and fraction digits of the value (scale -1 when it is
// too large or too small to be written with a fixed scale).
int32_t decimal_digits_info(ConstByteSpan area, const value_descriptor& value, int32_t* digits,
                            int32_t* scale);

// In-place operations; the value keeps its precision.
// Cuts (never rounds) to `precision` digits and `scale` fraction digits.
int32_t decimal_round(ByteSpan area, const value_descriptor& value, int32_t precision,
                      int32_t scale);
// Mode 1 rounds and 2 truncates to n significant digits; 3 rounds and 4
// truncates to n fraction digits (n may be negative: tens, hundreds, ...).
int32_t decimal_truncate(ByteSpan area, const value_descriptor& value, int32_t mode, int32_t n);
int32_t decimal_ceiling(ByteSpan area, const value_descriptor& value);
int32_t decimal_floor(ByteSpan area, const value_descriptor& value);
int32_t decimal_abs(ByteSpan area, const value_descriptor& value);
