// Decimal text to packed decimal and back. The reader is a table-driven
// recogniser over eight character classes; the writers right-align the value
// in a fixed field and never write outside it.
#include "platform/decimal_text.h"

#include <array>
#include <cstring>

#include "platform/packed_decimal_internal.h"

using namespace decimal_work;

namespace {

// Character classes of the reader.
enum CharClass : uint8_t { kZero, kDigit, kPlus, kMinus, kPoint, kExp, kBlank, kOther };

constexpr std::array<uint8_t, 256> make_classes() {
  std::array<uint8_t, 256> c{};
  for (auto& x : c) x = kOther;
  c['0'] = kZero;
  for (int d = '1'; d <= '9'; ++d) c[d] = kDigit;
  c['+'] = kPlus;
  c['-'] = kMinus;
  c['.'] = kPoint;
  c['E'] = kExp;
  c['e'] = kExp;
  c[' '] = kBlank;
  c[0] = kBlank;
  return c;
}
constexpr std::array<uint8_t, 256> kClass = make_classes();

// States: 1 start, 2 after the sign, 3 leading zeros, 4 point with no digit
// before it, 5 zeros after the point before the first significant digit,
// 6 significant integer digits, 7 significant fraction digits, 8 after "E",
// 9 after the exponent sign, 10 exponent digits, 11 trailing blanks.
// Actions: A a leading fraction zero, B an integer digit, C a fraction digit,
// D an exponent digit, S a minus sign, X a minus exponent sign.
enum Action : uint8_t { kNone, kA, kB, kC, kD, kS, kX };
struct Step {
  uint8_t next = 0;  // 0: malformed
  uint8_t action = kNone;
};
constexpr Step E{0, kNone};
constexpr Step kSteps[8][12] = {
    // state: -, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11
    /* 0   */ {
        E, {3}, {3}, {3}, {5, kA}, {5, kA}, {6, kB}, {7, kC}, {10, kD}, {10, kD}, {10, kD}, E},
    /* 1-9 */
    {E,
     {6, kB},
     {6, kB},
     {6, kB},
     {7, kC},
     {7, kC},
     {6, kB},
     {7, kC},
     {10, kD},
     {10, kD},
     {10, kD},
     E},
    /* +   */ {E, {2}, E, E, E, E, E, E, {9}, E, E, E},
    /* -   */ {E, {2, kS}, E, E, E, E, E, E, {9, kX}, E, E, E},
    /* .   */ {E, {4}, {4}, {5}, E, E, {7}, E, E, E, E, E},
    /* E e */ {E, E, E, {8}, E, {8}, {8}, {8}, E, E, E, E},
    /* ' ' */ {E, {1}, E, {11}, E, {11}, {11}, {11}, E, E, {11}, {11}},
    /* ?   */ {E, E, E, E, E, E, E, E, E, E, E, E},
};
// States in which the text may end: those whose blank entry is 11.
constexpr bool kAccepting[12] = {false, false, false, true,  false, true,
                                 true,  true,  false, false, true,  true};

constexpr int32_t kExponentDigitLimit = 214748363;  // exponent * 10 + 9 still fits

int32_t read_decimal(ByteSpan area, const value_descriptor& out, ConstByteSpan text_area,
                     int32_t text_offset, int32_t text_length, Cut mode) {
  uint8_t* v = field_of(area, out);
  if (v == nullptr) return kDecimalBadArgument;
  // An empty text is malformed (null), not a bad length.
  if (!descriptor_ok(out) || text_length < 0 || text_length > kDecimalTextMaxLength ||
      !field_fits(text_area, text_offset, text_length)) {
    store_null(v, out.precision);
    return kDecimalBadArgument;
  }
  const uint8_t* text = text_area.data() + text_offset;
  const int32_t p = out.precision;
  // Rounding needs the digit after the last kept one.
  int32_t limit = p;
  if (mode == Cut::kRound) limit = p + 1 < text_length ? p + 1 : text_length;

  Unpacked u;
  bool negative = false, exponent_negative = false, exponent_overflow = false;
  bool lost = false;
  int32_t exponent = 0, integer_count = 0, fraction_count = 0, leading_fraction_zeros = 0;
  int32_t significant = 0, stored = 0;
  int state = 1;
  for (int32_t i = 0; i < text_length; ++i) {
    const uint8_t ch = text[i];
    const Step step = kSteps[kClass[ch]][state];
    if (step.next == 0) {
      store_null(v, p);
      return kDecimalNull;
    }
    switch (step.action) {
      case kA:
        ++fraction_count;
        ++leading_fraction_zeros;
        break;
      case kB:
      case kC:
        if (step.action == kB)
          ++integer_count;
        else
          ++fraction_count;
        ++significant;
        if (stored < limit)
          u.digits[stored++] = ch - '0';
        else if (ch != '0')
          lost = true;
        break;
      case kD:
        if (exponent <= kExponentDigitLimit)
          exponent = exponent * 10 + (ch - '0');
        else
          exponent_overflow = true;
        break;
      case kS:
        negative = true;
        break;
      case kX:
        exponent_negative = true;
        break;
    }
    state = step.next;
  }
  if (!kAccepting[state]) {
    store_null(v, p);
    return kDecimalNull;
  }
  const int64_t text_exponent = exponent_negative ? -int64_t{exponent} : exponent;
  if (exponent_overflow) {
    lost = exponent_negative;
  } else if (out.scale != -1 && out.scale < fraction_count - text_exponent) {
    lost = true;
  }
  u.positive = !negative;
  if (significant == 0) {
    store_zero(v, p);
    return lost ? kDecimalDigitsLost : kDecimalOk;
  }
  const int64_t e = exponent_overflow ? (exponent_negative ? INT32_MIN : INT32_MAX)
                                      : text_exponent + integer_count - leading_fraction_zeros;
  if (e > kDecimalMaxExponent) {
    store_null(v, p);
    return overflow_code(u.positive);
  }
  if (e < kDecimalMinExponent) {
    store_zero(v, p);
    return kDecimalDigitsLost;
  }
  u.exponent = static_cast<int32_t>(e);
  return store_row(v, out, &u, lost, mode);
}

void fill(uint8_t* out, int32_t length, char c) {
  std::memset(out, c, length);
}

}  // namespace

int32_t text_to_decimal(ByteSpan area, const value_descriptor& out, ConstByteSpan text_area,
                        int32_t text_offset, int32_t text_length) {
  return read_decimal(area, out, text_area, text_offset, text_length, Cut::kTruncate);
}

int32_t text_to_decimal_rounded(ByteSpan area, const value_descriptor& out, ConstByteSpan text_area,
                                int32_t text_offset, int32_t text_length) {
  return read_decimal(area, out, text_area, text_offset, text_length, Cut::kRound);
}

int32_t decimal_to_text(ByteSpan out_area, int32_t out_offset, int32_t out_length, int32_t format,
                        ConstByteSpan area, const value_descriptor& value) {
  if (out_length < 1 || out_length > kDecimalTextMaxLength ||
      !field_fits(out_area, out_offset, out_length))
    return kDecimalBadArgument;
  uint8_t* out = out_area.data() + out_offset;
  const uint8_t* v = field_of(area, value);
  if (v == nullptr || !descriptor_ok(value) || format < kDecimalTextInteger ||
      format > kDecimalMaxPrecision) {
    fill(out, out_length, '.');
    return kDecimalBadArgument;
  }
  if (is_null(v)) {
    fill(out, out_length, '.');
    return kDecimalNull;
  }
  const int32_t p = value.precision;
  const bool zero = is_zero(v);
  Unpacked u;
  unpack(v, p, &u);
  if (zero) u.exponent = 0;
  const int32_t e = u.exponent;
  const auto digit = [&](int64_t i) -> uint8_t { return i >= 0 && i < p ? u.digits[i] : 0; };

  // Characters needed, and the first digit index that is not written.
  int32_t needed = 0, written_end = 0, integer_digits = 0, mantissa = 0;
  bool lead_zero = false;
  if (format == kDecimalTextExponent) {
    if (!zero && (e - 1 > 999 || e - 1 < -999)) {
      fill(out, out_length, '.');
      return kDecimalBadData;
    }
    mantissa = out_length - 7 < p ? out_length - 7 : p;
    needed = mantissa + 7;
    written_end = mantissa;
  } else {
    integer_digits = e > 0 ? e : 0;
    if (format == kDecimalTextInteger) {
      needed = 1 + (integer_digits > 0 ? integer_digits : 1);
      written_end = integer_digits;
    } else {
      needed = 2 + integer_digits + format;
      lead_zero = integer_digits == 0 && out_length >= format + 3;
      written_end = e + format > 0 ? e + format : 0;
    }
  }
  const bool no_digit = format == kDecimalTextExponent
                            ? mantissa < 1
                            : (format >= 0 && integer_digits + format == 0 && !lead_zero);
  if (needed > out_length || no_digit) {
    fill(out, out_length, '*');
    return overflow_code(u.positive);
  }
  bool lost = false;
  for (int32_t i = written_end > 0 ? written_end : 0; i < p; ++i) lost |= u.digits[i] != 0;
  bool significant = false;
  for (int32_t i = 0; i < written_end && i < p; ++i) significant |= u.digits[i] != 0;

  const int32_t total = needed + (lead_zero ? 1 : 0);
  const int32_t sign_at = out_length - total;
  fill(out, sign_at, ' ');
  out[sign_at] = (!u.positive && significant) ? '-' : ' ';
  uint8_t* w = out + sign_at + 1;
  if (format == kDecimalTextExponent) {
    *w++ = '0' + digit(0);
    *w++ = '.';
    for (int32_t i = 1; i < mantissa; ++i) *w++ = '0' + digit(i);
    const int32_t x = zero ? 0 : e - 1;
    const int32_t magnitude = x < 0 ? -x : x;
    *w++ = 'E';
    *w++ = x < 0 ? '-' : '+';
    *w++ = '0' + magnitude / 100;
    *w++ = '0' + magnitude / 10 % 10;
    *w++ = '0' + magnitude % 10;
  } else {
    if (integer_digits == 0) {
      if (format == kDecimalTextInteger || lead_zero) *w++ = '0';
    }
    for (int32_t i = 0; i < integer_digits; ++i) *w++ = '0' + digit(i);
    if (format >= 0) {
      *w++ = '.';
      for (int32_t j = 0; j < format; ++j) *w++ = '0' + digit(int64_t{j} + e);
    }
  }
  return lost ? kDecimalDigitsLost : kDecimalOk;
}

int32_t decimal_to_fitted_text(ByteSpan out_area, int32_t out_offset, int32_t out_length,
                               int32_t format, ConstByteSpan area, const value_descriptor& value) {
  if (out_length < 1 || !field_fits(out_area, out_offset, out_length)) return kDecimalBadArgument;
  if (format == 0) format = kDecimalTextInteger;
  const int32_t n = out_length;
  const int32_t L = n < 52 ? n : 52;
  uint8_t work[53];
  const uint8_t* text = work;  // the L characters to place
  int32_t status;
  if (format != kDecimalTextExponent) {
    if (decimal_sign(area, value) == kTruthLess)
      return decimal_to_text(out_area, out_offset, n, format, area, value);
    // The sign position of a value that is not negative is always blank:
    // give it to one more digit.
    status = decimal_to_text(work, 0, L + 1, format, area, value);
    text = work + 1;
  } else {
    status = decimal_to_text(work, 0, L + 1, format, area, value);
    // Layout of the L + 1 characters: ... mantissa, "E" at L - 4, the
    // exponent sign at L - 3, three exponent digits at L - 2 .. L.
    const bool has_exponent = L >= 4 && work[L - 4] == 'E';
    if ((status == kDecimalOk || status == kDecimalDigitsLost) && has_exponent) {
      if (work[L - 2] != '0') {
        if (work[L - 3] == '-') {
          // Too small for two exponent digits: a zero in exponent form.
          for (int32_t i = 0; i < L - 4; ++i) {
            if (work[i] >= '0' && work[i] <= '9') work[i] = '0';
            if (work[i] == '-') work[i] = ' ';
          }
          work[L - 3] = '+';
          work[L - 2] = work[L - 1] = work[L] = '0';
          status = kDecimalDigitsLost;
        } else {
          const bool negative = decimal_sign(area, value) == kTruthLess;
          fill(work, L + 1, '*');
          status = negative ? kDecimalOverflowNeg : kDecimalOverflowPos;
        }
      }
      if (work[L - 4] == 'E' && L >= 5 && work[L - 5] == '.') {
        std::memmove(work + 1, work, L - 5);
        work[0] = ' ';
      }
    }
    // Drop the first of the three exponent digits (a field too short for
    // any exponent holds only "*" or "." and keeps its first L).
    if (L >= 2) std::memmove(work + L - 2, work + L - 1, 2);
  }
  uint8_t* out = out_area.data() + out_offset;
  if (n > L) fill(out, n - L, ' ');
  std::memcpy(out + (n - L), text, L);
  return status;
}
