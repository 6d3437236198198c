// The unpacked work form of a packed decimal and the steps every conversion
// shares: unpack, cut or round to a number of kept digits, pack. Used only
// by the decimal library's own files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/packed_decimal.h"

namespace decimal_work {

// Field of the stored exponent: 3072 + e for a positive value.
inline constexpr int32_t kFieldBias = 3072;
// One digit more than the largest precision: the rounding digit.
inline constexpr int32_t kRowDigits = kDecimalMaxPrecision + 1;

struct Unpacked {
  int32_t precision = 0;
  bool positive = true;
  int32_t exponent = 0;             // e of 0.d1d2.. * 10^e
  uint8_t digits[kRowDigits] = {};  // digit values 0..9; digits[0] is d1
};

enum class Cut { kTruncate, kRound };

inline bool precision_ok(int32_t p) {
  return p >= 1 && p <= kDecimalMaxPrecision;
}
inline bool descriptor_ok(const value_descriptor& d) {
  return precision_ok(d.precision) && d.scale >= -1 && d.scale <= d.precision;
}
// Bytes a writer of the descriptor may touch: the whole value, or the one
// null byte when the precision is out of range.
inline int32_t field_bytes(const value_descriptor& d) {
  return precision_ok(d.precision) ? decimal_bytes(d.precision) : 1;
}
// The value's bytes inside the area, or nullptr when they do not all lie in it.
inline uint8_t* field_of(ByteSpan area, const value_descriptor& d) {
  return field_fits(area, d.offset, field_bytes(d)) ? area.data() + d.offset : nullptr;
}
inline const uint8_t* field_of(ConstByteSpan area, const value_descriptor& d) {
  return field_fits(area, d.offset, field_bytes(d)) ? area.data() + d.offset : nullptr;
}

inline bool is_null(const uint8_t* v) {
  return v[0] == 255;
}
inline bool is_zero(const uint8_t* v) {
  return v[0] == 128;
}

void store_null(uint8_t* value, int32_t precision);
void store_zero(uint8_t* value, int32_t precision);

// Reads a stored non-null value; zero comes back with every digit 0.
void unpack(const uint8_t* value, int32_t precision, Unpacked* u);
// Stores u in u->precision digits; zero when no digit is nonzero. Returns
// true when a nonzero digit beyond the precision had to be dropped.
bool pack(const Unpacked& u, uint8_t* value);
bool all_zero(const Unpacked& u);

// Keeps `keep` leading digits, truncating or rounding half up in magnitude.
// Sets *lost when nonzero digits were dropped (rounding down does not).
// Returns false on overflow: a carry past the exponent range, or past the
// integer digits that `scale` (not -1) leaves room for.
bool cut_digits(Unpacked* u, int32_t keep, Cut mode, int32_t scale, bool* lost);

// The tail of every conversion into a decimal: from a digit row with its
// exponent (already within range), chooses the digits to keep from the
// target's precision and scale, cuts, packs and sets the result code.
int32_t store_row(uint8_t* value, const value_descriptor& d, Unpacked* u, bool lost, Cut mode);

inline int32_t overflow_code(bool positive) {
  return positive ? kDecimalOverflowPos : kDecimalOverflowNeg;
}

}  // namespace decimal_work
