// Small helpers of the decimal tests: a value with its own storage, reading
// it from text, writing it as text and as hexadecimal bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/decimal_text.h"
#include "platform/packed_decimal.h"

namespace decimal_test {

struct Dec {
  value_descriptor desc;
  std::vector<uint8_t> bytes;
  int32_t rc = 0;
};

inline Dec parse(std::string_view text, int p, int s = -1, bool round = false) {
  Dec d;
  d.desc = value_descriptor{0, p, s, 0};
  d.bytes.assign(p >= 1 && p <= 45 ? decimal_bytes(p) : 1, 0xAA);
  const ConstByteSpan t(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  const auto n = static_cast<int32_t>(text.size());
  d.rc = round ? text_to_decimal_rounded(d.bytes, d.desc, t, 0, n)
               : text_to_decimal(d.bytes, d.desc, t, 0, n);
  return d;
}

inline std::string hex(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s;
  for (uint8_t b : bytes) {
    s += kDigits[b >> 4];
    s += kDigits[b & 15];
  }
  return s;
}
inline std::string hex(const Dec& d) {
  return hex(d.bytes);
}

inline std::string write_text(const Dec& d, int format, int length) {
  std::vector<uint8_t> out(length, '#');
  decimal_to_text(out, 0, length, format, d.bytes, d.desc);
  return std::string(out.begin(), out.end());
}

// The value in exponent form with all its digits and no leading blanks, or
// "null".
inline std::string shown(const Dec& d) {
  if (d.bytes[0] == 255) return "null";
  std::string text = write_text(d, -1, d.desc.precision + 7);
  return text.substr(text.find_first_not_of(' '));
}

}  // namespace decimal_test
