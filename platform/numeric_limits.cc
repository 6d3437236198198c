// The numeric limits of the integer and floating types as packed decimals,
// built once, and the range check of a value against them.
#include <mutex>

#include "platform/decimal_text.h"
#include "platform/numeric_services.h"

namespace {

struct Limit {
  const char* text;
  int32_t precision;
  int32_t scale;
};

enum LimitIndex {
  kInt32Max,
  kInt32Min,
  kInt16Max,
  kInt16Min,
  kSingleMax,
  kSingleMin,
  kSingleSmallest,
  kSingleSmallestNegative,
  kSingleZero,
  kDoubleMax,
  kDoubleMin,
  kDoubleSmallest,
  kDoubleSmallestNegative,
  kDoubleZero,
  kInt64Max,
  kInt64Min,
  kLimitCount,
};

constexpr Limit kLimits[kLimitCount] = {
    {"2147483647", 10, 0},
    {"-2147483648", 10, 0},
    {"32767", 5, 0},
    {"-32768", 5, 0},
    {"1.0E38", 7, -1},
    {"-1.0E38", 7, -1},
    {"1.0E-38", 7, -1},
    {"-1.0E-38", 7, -1},
    {"0", 7, -1},
    {"1.0E308", 16, -1},
    {"-1.0E308", 16, -1},
    {"1.0E-308", 16, -1},
    {"-1.0E-308", 16, -1},
    {"0", 16, -1},
    {"9223372036854775807", 19, -1},
    {"-9223372036854775808", 19, -1},
};

struct LimitTable {
  uint8_t bytes[kLimitCount][kDecimalMaxBytes];
  int32_t status = 0;
};

LimitTable& limit_table() {
  static LimitTable table;
  static std::once_flag once;
  std::call_once(once, [] {
    for (int i = 0; i < kLimitCount; ++i) {
      const Limit& l = kLimits[i];
      const value_descriptor d{0, l.precision, l.scale, 0};
      ConstByteSpan text(reinterpret_cast<const uint8_t*>(l.text),
                         std::char_traits<char>::length(l.text));
      int32_t rc =
          text_to_decimal(ByteSpan(table.bytes[i]), d, text, 0, static_cast<int32_t>(text.size()));
      if (rc != 0) table.status = rc;
    }
  });
  return table;
}

truth_code compare_with(ConstByteSpan area, const value_descriptor& value, int index) {
  const value_descriptor d{0, kLimits[index].precision, kLimits[index].scale, 0};
  return decimal_compare(area, value, ConstByteSpan(limit_table().bytes[index]), d);
}

}  // namespace

void numeric_limits_init(int32_t* status) {
  *status = limit_table().status;
}

void numeric_range_check(int32_t* status, ConstByteSpan area, const value_descriptor& value,
                         int32_t type) {
  int max, min, smallest = -1, smallest_negative = -1;
  switch (type) {
    case 6:
      max = kInt16Max, min = kInt16Min;
      break;
    case 7:
      max = kInt32Max, min = kInt32Min;
      break;
    case 8:
      max = kSingleMax, min = kSingleMin;
      smallest = kSingleSmallest, smallest_negative = kSingleSmallestNegative;
      break;
    case 9:
    case 10:
      max = kDoubleMax, min = kDoubleMin;
      smallest = kDoubleSmallest, smallest_negative = kDoubleSmallestNegative;
      break;
    case 28:
      max = kInt64Max, min = kInt64Min;
      break;
    default:
      *status = 0;
      return;
  }
  *status = 0;
  const truth_code sign = decimal_sign(area, value);
  if (sign < 0) {
    *status = -10201;
    return;
  }
  if (sign == kTruthUnknown || sign == kTruthEqual) return;
  if (compare_with(area, value, max) == kTruthGreater) {
    *status = -10204;
  } else if (compare_with(area, value, min) == kTruthLess) {
    *status = -10203;
  } else if (smallest >= 0 && compare_with(area, value, smallest) == kTruthLess &&
             compare_with(area, value, smallest_negative) == kTruthGreater) {
    *status = -10205;
  }
}
