// Digit rows of the packed decimals that hold DATE, TIME, TIMESTAMP and
// INTERVAL values, shared by datetime.cc and interval.cc.
#pragma once

#include <cstdint>

namespace datetime_internal {

// Writes (precision + 4) / 2 bytes: the 11-bit exponent field with the sign
// bit, then up to `precision` digits; a negative value is complemented.
void pack_digits(uint8_t* out, int32_t precision, int32_t field, const uint8_t* digits,
                 int32_t count, bool negative);

struct Unpacked {
  bool negative = false;
  int32_t field = 0;  // 11 bits, complement removed
  uint8_t digits[45] = {};
};

// Reads a stored value of the precision (0..45); false when it is null.
bool unpack(const uint8_t* in, int32_t precision, Unpacked* u);

constexpr uint8_t kNullByte = 255;
constexpr int32_t kExponentBias = 1024;

}  // namespace datetime_internal
