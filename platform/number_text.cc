// Integer and float fields, integer text in fixed fields, and the recogniser
// of number text. The recogniser decides the syntax and the outcome; the
// value itself comes from the standard library's correctly rounded reading of
// the digits, so that 0.3 reads as the double nearest 0.3.
#include "platform/number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr double kFloatMax = 3.4028234663852886e38;
constexpr double kFloatMinNormal = 1.1754943508222875e-38;
constexpr double kMostNegativeDouble = -std::numeric_limits<double>::max();

// Character classes and states of the number text recogniser.
enum CharClass { kBlank, kDigit, kSign, kPoint, kExp, kOther };
constexpr int kError = -1;
// kNext[class][state]; states 0 start, 1 after sign, 2 integer digits, 3 point,
// 4 fraction digits, 5 after "E", 6 exponent sign, 7 exponent digits,
// 8 blanks after an integer, 9 blanks after a real.
constexpr int8_t kNext[6][10] = {
    {0, kError, 8, 9, 9, kError, kError, 9, 8, 9},
    {2, 2, 2, 4, 4, 7, 7, 7, kError, kError},
    {1, kError, kError, kError, kError, 6, kError, kError, kError, kError},
    {3, 3, 3, kError, kError, kError, kError, kError, kError, kError},
    {kError, kError, 5, 5, 5, kError, kError, kError, kError, kError},
    {kError, kError, kError, kError, kError, kError, kError, kError, kError, kError},
};

CharClass classify(uint8_t c) {
  if (c == ' ') return kBlank;
  if (c >= '0' && c <= '9') return kDigit;
  if (c == '+' || c == '-') return kSign;
  if (c == '.') return kPoint;
  if (c == 'E' || c == 'e') return kExp;
  return kOther;
}

// Significant digits kept of a number text. The point halfway between two
// neighbouring doubles has at most 767 significant digits; with more than
// that kept, and one sticky digit standing for any nonzero digit dropped
// behind them, the library rounds the kept text as it would round the whole.
constexpr int kKeptDigits = 800;
// Exponents are held far beyond any reachable decimal exponent and clamped
// there, so long exponent texts cannot overflow the count.
constexpr int64_t kExponentClamp = int64_t{1} << 40;

// The text of a number field. A field that does not lie wholly inside its
// area reads as empty, hence as no number: a number cut at the area's end
// would read as another number.
ConstByteSpan number_field(ConstByteSpan base, int32_t offset, int32_t length) {
  if (length < 1 || !field_fits(base, offset, length)) return {};
  return base.subspan(static_cast<size_t>(offset), static_cast<size_t>(length));
}

}  // namespace

int32_t int_load(int32_t* value, ConstByteSpan base, int32_t offset, int32_t width) {
  if ((width != 1 && width != 2 && width != 4) || !field_fits(base, offset, width)) {
    return kValueBadArgument;
  }
  const uint8_t* p = base.data() + offset;
  if (width == 1) {
    *value = static_cast<int8_t>(p[0]);
  } else if (width == 2) {
    *value = static_cast<int16_t>(load_le16(p));
  } else {
    *value = static_cast<int32_t>(load_le32(p));
  }
  return kValueDone;
}

int32_t int_store(int32_t value, ByteSpan base, int32_t offset, int32_t width) {
  if ((width != 1 && width != 2 && width != 4) || !field_fits(base, offset, width)) {
    return kValueBadArgument;
  }
  uint8_t* p = base.data() + offset;
  if (width == 4) {
    store_le32(p, static_cast<uint32_t>(value));
    return kValueDone;
  }
  const int32_t low = width == 1 ? -128 : -32768;
  const int32_t high = width == 1 ? 127 : 32767;
  int32_t rc = kValueDone;
  if (value > high || value < low) {
    rc = value > high ? kValueOverflowHigh : kValueOverflowLow;
    value = low;
  }
  if (width == 1) {
    p[0] = static_cast<uint8_t>(value);
  } else {
    store_le16(p, static_cast<uint16_t>(value));
  }
  return rc;
}

int32_t double_load(double* value, ConstByteSpan base, int32_t offset, int32_t width) {
  if ((width != 4 && width != 8) || !field_fits(base, offset, width)) return kValueBadArgument;
  const uint8_t* p = base.data() + offset;
  double v;
  if (width == 4) {
    const uint32_t bits = load_le32(p);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    v = f;
  } else {
    const uint64_t bits = load_le64(p);
    std::memcpy(&v, &bits, sizeof v);
  }
  const int kind = std::fpclassify(v);
  if (kind == FP_NAN || kind == FP_SUBNORMAL) {
    *value = kMostNegativeDouble;
    return kValueBadData;
  }
  *value = v;
  return kValueDone;
}

int32_t double_store(double value, ByteSpan base, int32_t offset, int32_t width) {
  if ((width != 4 && width != 8) || !field_fits(base, offset, width)) return kValueBadArgument;
  uint8_t* p = base.data() + offset;
  if (width == 8) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    store_le64(p, bits);
    return kValueDone;
  }
  int32_t rc = kValueDone;
  uint32_t bits;
  if (value <= -kFloatMax || value > kFloatMax) {
    rc = value > 0 ? kValueOverflowHigh : kValueOverflowLow;
    bits = kFloatOutOfRange;
  } else if (std::fabs(value) < kFloatMinNormal) {
    bits = 0;
  } else {
    const float f = static_cast<float>(value);
    std::memcpy(&bits, &f, sizeof bits);
  }
  store_le32(p, bits);
  return rc;
}

int32_t mdr_int_to_text(ByteSpan base, int32_t offset, int32_t width, int32_t value) {
  if (width < 1) return kValueNotNumber;
  if (!field_fits(base, offset, width)) return kValueBadArgument;
  uint8_t* field = base.data() + offset;
  if (value == std::numeric_limits<int32_t>::min()) {
    std::memset(field, 0, static_cast<size_t>(width));
    return kValueNotNumber;
  }
  char digits[12];
  uint32_t magnitude = static_cast<uint32_t>(value < 0 ? -value : value);
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  const int needed = n + (value < 0 ? 1 : 0);
  if (needed > width) {
    if (value < 0) {
      std::memset(field, '9', static_cast<size_t>(width));
      field[0] = width == 1 ? '0' : '-';
    } else {
      std::memset(field, '9', static_cast<size_t>(width));
    }
    return kValueClamped;
  }
  const int blanks = width - needed;
  std::memset(field, ' ', static_cast<size_t>(blanks));
  uint8_t* p = field + blanks;
  if (value < 0) *p++ = '-';
  while (n > 0) *p++ = static_cast<uint8_t>(digits[--n]);
  return kValueDone;
}

NumberText read_number_text(ConstByteSpan text) {
  NumberText r;
  int state = 0;
  bool negative = false, exponent_negative = false, integer_overflow = false;
  int64_t integer = 0, exponent = 0;
  int64_t significant_int_digits = 0, leading_fraction_zeros = 0;
  char kept[kKeptDigits];
  int64_t kept_count = 0;
  bool any_digit = false, dropped_nonzero = false;

  for (const uint8_t c : text) {
    const CharClass cls = classify(c);
    const int next = kNext[cls][state];
    if (next == kError) return r;
    if (cls == kSign) {
      (state == 0 ? negative : exponent_negative) = c == '-';
    } else if (cls == kDigit) {
      const int d = c - '0';
      if (next == 7) {
        exponent = std::min(exponent * 10 + d, kExponentClamp);
      } else {
        any_digit = true;
        const bool in_fraction = next == 4;
        if (!in_fraction) {
          // The integer keeps accumulating only while it stays below 2^31 - 1.
          if (!integer_overflow && integer * 10 + d < std::numeric_limits<int32_t>::max()) {
            integer = integer * 10 + d;
          } else {
            integer_overflow = true;
          }
        }
        if (kept_count == 0 && d == 0) {
          if (in_fraction) ++leading_fraction_zeros;
        } else {
          if (kept_count < kKeptDigits) {
            kept[kept_count] = static_cast<char>(c);
          } else if (d != 0) {
            dropped_nonzero = true;
          }
          ++kept_count;
          if (!in_fraction) ++significant_int_digits;
        }
      }
    }
    state = next;
  }

  switch (state) {
    case 2:
    case 8:
      r.outcome = integer_overflow ? kNumberIntegerOverflow : kNumberInteger;
      break;
    case 3:
    case 4:
    case 7:
    case 9:
      r.outcome = kNumberReal;
      break;
    default:
      return r;
  }
  // A point with no digit (".", "-.", " . ") is no number.
  if (!any_digit) {
    r.outcome = kNumberSyntaxError;
    return r;
  }
  if (r.outcome == kNumberInteger) {
    r.integer = static_cast<int32_t>(negative ? -integer : integer);
    r.value = r.integer;
    return r;
  }
  if (kept_count == 0) {
    r.value = 0;
    return r;
  }
  // The decimal exponent of the first significant digit.
  const int64_t e = exponent_negative ? -exponent : exponent;
  const int64_t adjusted =
      (significant_int_digits > 0 ? significant_int_digits - 1 : -leading_fraction_zeros - 1) + e;
  if (adjusted > 99) {
    r.outcome = kNumberExponentOverflow;
    r.value = negative ? kMostNegativeDouble : std::numeric_limits<double>::max();
    return r;
  }
  if (adjusted < -99) {
    r.value = 0;
    return r;
  }
  int digits = kept_count < kKeptDigits ? static_cast<int>(kept_count) : kKeptDigits;
  char buffer[kKeptDigits + 32];
  std::memcpy(buffer, kept, static_cast<size_t>(digits));
  if (dropped_nonzero) buffer[digits++] = '1';
  char* end = buffer + digits;
  *end++ = 'e';
  end = std::to_chars(end, buffer + sizeof buffer, adjusted - (digits - 1)).ptr;
  double v = 0;
  std::from_chars(buffer, end, v);
  r.value = negative ? -v : v;
  return r;
}

int32_t text_to_double_checked(double* value, ConstByteSpan base, int32_t offset, int32_t length) {
  const NumberText n = read_number_text(number_field(base, offset, length));
  switch (n.outcome) {
    case kNumberSyntaxError:
      *value = kMostNegativeDouble;
      return -1;
    case kNumberExponentOverflow:
      *value = n.value;
      return 1;
    default:
      *value = n.value;
      return 0;
  }
}

int32_t text_to_int_rounded(int32_t* value, ConstByteSpan base, int32_t offset, int32_t length) {
  const NumberText n = read_number_text(number_field(base, offset, length));
  if (n.outcome == kNumberSyntaxError) {
    *value = std::numeric_limits<int32_t>::min();
    return kValueNotNumber;
  }
  if (n.outcome == kNumberInteger) {
    *value = n.integer;
    return kValueDone;
  }
  constexpr double kLimit = 2147483647.0;
  const double rounded = std::floor(n.value + 0.5);
  if (rounded >= kLimit || rounded <= -kLimit) {
    *value = rounded > 0 ? 2147483647 : -2147483647;
    return kValueClamped;
  }
  *value = static_cast<int32_t>(rounded);
  return kValueDone;
}

void mdr_const_two(int32_t* out) {
  *out = 2;
}

void mdr_const_zero(int32_t* out) {
  *out = 0;
}
