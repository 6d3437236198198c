// INTERVAL values: the qualifier table and precision rules, the signed
// encoder and decoder of months and seconds, the format programs that parse
// and write every datetime and interval text, and number-to-interval.
#include "platform/interval.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/datetime_internal.h"

namespace dti = datetime_internal;

namespace {

struct QualifierRow {
  int32_t type;
  int32_t digits_after;  // digits converting the leading field can add
  int32_t leading_unit;  // months or seconds in one leading field unit
  int32_t last_unit;     // months or seconds in one unit of the last field
  const char* leading_word;
  const char* last_word;  // nullptr for single-field qualifiers
};

constexpr QualifierRow kQualifiers[17] = {
    {0, 0, 0, 0, "", nullptr},
    {kTypeDate, 0, 0, 0, "DATE", nullptr},
    {kTypeTime, 0, 0, 0, "TIME", nullptr},
    {kTypeTimestamp, 0, 0, 0, "TIMESTAMP", nullptr},
    {kTypeYearMonth, 2, 12, 12, "YEAR", nullptr},
    {kTypeYearMonth, 0, 1, 1, "MONTH", nullptr},
    {kTypeDayTime, 5, 86400, 86400, "DAY", nullptr},
    {kTypeDayTime, 4, 3600, 3600, "HOUR", nullptr},
    {kTypeDayTime, 2, 60, 60, "MINUTE", nullptr},
    {kTypeDayTime, 0, 1, 1, "SECOND", nullptr},
    {kTypeYearMonth, 2, 12, 1, "YEAR", "MONTH"},
    {kTypeDayTime, 5, 86400, 3600, "DAY", "HOUR"},
    {kTypeDayTime, 5, 86400, 60, "DAY", "MINUTE"},
    {kTypeDayTime, 5, 86400, 1, "DAY", "SECOND"},
    {kTypeDayTime, 4, 3600, 60, "HOUR", "MINUTE"},
    {kTypeDayTime, 4, 3600, 1, "HOUR", "SECOND"},
    {kTypeDayTime, 2, 60, 1, "MINUTE", "SECOND"},
};

int32_t base_qualifier(int32_t q) {
  if (q > kQualLiteralForm && q <= kQualLiteralForm + 16) q -= kQualLiteralForm;
  return (q >= 1 && q <= 16) ? q : 0;
}

// --- Format program operations and fields ---
enum Op : uint8_t {
  kOpDigits4 = 1,
  kOpDigits2 = 2,
  kOpDigitsAny = 3,
  kOpPoint = 4,
  kOpLeading = 5,
  kOpColon = 6,
  kOpBlank = 7,
  kOpSkipBlanks = 8,
  kOpDash = 9,
  kOpSign = 10,
  kOpEnd = 11,
  kOpFraction = 12,
};

enum Field : uint8_t {
  kNone = 0,
  kSign = 1,
  kYear = 2,
  kMonth = 3,
  kDay = 4,
  kHour = 5,
  kMinute = 6,
  kSecond = 7,
  kFractionField = 8,
  kLeadYears = 9,
  kLeadMonths = 10,
  kLeadDays = 11,
  kLeadHours = 12,
  kLeadMinutes = 13,
  kLeadSeconds = 14,
  kFractionPrecision = 16,
  kBlankFlag = 17,
};

struct Step {
  Op op;
  Field field;
};

#define SKIP \
  { kOpSkipBlanks, kBlankFlag }
#define END \
  { kOpEnd, kNone }
#define FRACTION \
  { kOpFraction, kFractionField }
const Step kDateProgram[] = {SKIP,
                             {kOpDigits4, kYear},
                             {kOpDash, kNone},
                             {kOpDigits2, kMonth},
                             {kOpDash, kNone},
                             {kOpDigits2, kDay},
                             SKIP,
                             END};
const Step kTimeProgram[] = {SKIP,
                             {kOpDigits2, kHour},
                             {kOpColon, kNone},
                             {kOpDigits2, kMinute},
                             {kOpColon, kNone},
                             {kOpDigits2, kSecond},
                             FRACTION,
                             SKIP,
                             END};
const Step kTimestampProgram[] = {SKIP,
                                  {kOpDigits4, kYear},
                                  {kOpDash, kNone},
                                  {kOpDigits2, kMonth},
                                  {kOpDash, kNone},
                                  {kOpDigits2, kDay},
                                  {kOpBlank, kNone},
                                  {kOpDigits2, kHour},
                                  {kOpColon, kNone},
                                  {kOpDigits2, kMinute},
                                  {kOpColon, kNone},
                                  {kOpDigits2, kSecond},
                                  FRACTION,
                                  SKIP,
                                  END};
const Step kYearProgram[] = {SKIP, {kOpSign, kSign}, {kOpLeading, kLeadYears}, SKIP, END};
const Step kMonthProgram[] = {SKIP, {kOpSign, kSign}, {kOpLeading, kLeadMonths}, SKIP, END};
const Step kDayProgram[] = {SKIP, {kOpSign, kSign}, {kOpLeading, kLeadDays}, SKIP, END};
const Step kHourProgram[] = {SKIP, {kOpSign, kSign}, {kOpLeading, kLeadHours}, SKIP, END};
const Step kMinuteProgram[] = {SKIP, {kOpSign, kSign}, {kOpLeading, kLeadMinutes}, SKIP, END};
const Step kSecondProgram[] = {SKIP, {kOpSign, kSign}, {kOpLeading, kLeadSeconds}, FRACTION, SKIP,
                               END};
const Step kYearToMonthProgram[] = {SKIP,
                                    {kOpSign, kSign},
                                    {kOpLeading, kLeadYears},
                                    {kOpDash, kNone},
                                    {kOpDigitsAny, kMonth},
                                    SKIP,
                                    END};
const Step kDayToHourProgram[] = {
    SKIP, {kOpSign, kSign}, {kOpLeading, kLeadDays}, {kOpBlank, kNone}, {kOpDigitsAny, kHour}, SKIP,
    END};
const Step kDayToMinuteProgram[] = {SKIP,
                                    {kOpSign, kSign},
                                    {kOpLeading, kLeadDays},
                                    {kOpBlank, kNone},
                                    {kOpDigitsAny, kHour},
                                    {kOpColon, kNone},
                                    {kOpDigitsAny, kMinute},
                                    SKIP,
                                    END};
const Step kDayToSecondProgram[] = {SKIP,
                                    {kOpSign, kSign},
                                    {kOpLeading, kLeadDays},
                                    {kOpBlank, kNone},
                                    {kOpDigitsAny, kHour},
                                    {kOpColon, kNone},
                                    {kOpDigitsAny, kMinute},
                                    {kOpColon, kNone},
                                    {kOpDigitsAny, kSecond},
                                    FRACTION,
                                    SKIP,
                                    END};
const Step kHourToMinuteProgram[] = {SKIP,
                                     {kOpSign, kSign},
                                     {kOpLeading, kLeadHours},
                                     {kOpColon, kNone},
                                     {kOpDigitsAny, kMinute},
                                     SKIP,
                                     END};
const Step kHourToSecondProgram[] = {SKIP,
                                     {kOpSign, kSign},
                                     {kOpLeading, kLeadHours},
                                     {kOpColon, kNone},
                                     {kOpDigitsAny, kMinute},
                                     {kOpColon, kNone},
                                     {kOpDigitsAny, kSecond},
                                     FRACTION,
                                     SKIP,
                                     END};
const Step kMinuteToSecondProgram[] = {SKIP,
                                       {kOpSign, kSign},
                                       {kOpLeading, kLeadMinutes},
                                       {kOpColon, kNone},
                                       {kOpDigitsAny, kSecond},
                                       FRACTION,
                                       SKIP,
                                       END};
#undef SKIP
#undef END
#undef FRACTION

const Step* const kPrograms[17] = {
    nullptr,
    kDateProgram,
    kTimeProgram,
    kTimestampProgram,
    kYearProgram,
    kMonthProgram,
    kDayProgram,
    kHourProgram,
    kMinuteProgram,
    kSecondProgram,
    kYearToMonthProgram,
    kDayToHourProgram,
    kDayToMinuteProgram,
    kDayToSecondProgram,
    kHourToMinuteProgram,
    kHourToSecondProgram,
    kMinuteToSecondProgram,
};

int32_t* field_slot(DateTimeFields* f, Field field) {
  switch (field) {
    case kYear:
      return &f->year;
    case kMonth:
      return &f->month;
    case kDay:
      return &f->day;
    case kHour:
      return &f->hour;
    case kMinute:
      return &f->minute;
    case kSecond:
      return &f->second;
    default:
      return nullptr;
  }
}

int32_t field_value(const DateTimeFields& f, Field field) {
  return *field_slot(const_cast<DateTimeFields*>(&f), field);
}

bool is_digit(uint8_t c) {
  return c >= '0' && c <= '9';
}

double pow10(int32_t n) {
  double r = 1;
  for (int32_t i = 0; i < n; ++i) r *= 10;
  return r;
}

}  // namespace

// --- Digit rows -------------------------------------------------------------

namespace datetime_internal {

void pack_digits(uint8_t* out, int32_t precision, int32_t field, const uint8_t* digits,
                 int32_t count, bool negative) {
  const int32_t bytes = (precision + 4) / 2;
  std::memset(out, 0, bytes);
  const int32_t field12 = 0x800 | (field & 0x7FF);
  out[0] = static_cast<uint8_t>(field12 >> 4);
  out[1] = static_cast<uint8_t>((field12 & 15) << 4);
  if (count > precision) count = precision;
  for (int32_t i = 0; i < count; ++i) {
    int32_t nibble = 3 + i;
    uint8_t d = digits[i] & 15;
    out[nibble / 2] |= (nibble % 2 == 0) ? static_cast<uint8_t>(d << 4) : d;
  }
  if (negative) {
    for (int32_t i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(~out[i]);
  }
}

bool unpack(const uint8_t* in, int32_t precision, Unpacked* u) {
  if (in[0] == kNullByte) return false;
  const int32_t bytes = (precision + 4) / 2;
  uint8_t work[24];
  u->negative = in[0] < 128;
  for (int32_t i = 0; i < bytes; ++i) work[i] = u->negative ? ~in[i] : in[i];
  u->field = ((work[0] << 4) | (work[1] >> 4)) & 0x7FF;
  for (int32_t i = 0; i < 45; ++i) {
    int32_t nibble = 3 + i;
    u->digits[i] = 0;
    if (i < precision) {
      u->digits[i] = (nibble % 2 == 0) ? work[nibble / 2] >> 4 : work[nibble / 2] & 15;
    }
  }
  return true;
}

}  // namespace datetime_internal

// --- Qualifiers and precision ------------------------------------------------

int32_t interval_qualifier_info(int32_t qualifier) {
  int32_t q = base_qualifier(qualifier);
  return q == 0 ? kDecimalBadArgument : kQualifiers[q].type;
}

bool value_fits(ConstByteSpan area, const value_descriptor& d) {
  return d.offset >= 0 && d.precision >= 1 && d.precision <= kDecimalMaxPrecision &&
         field_fits(area, d.offset, decimal_bytes(d.precision));
}

int32_t interval_digits_after_leading(int32_t qualifier) {
  return kQualifiers[base_qualifier(qualifier)].digits_after;
}

bool interval_has_seconds(int32_t qualifier) {
  switch (base_qualifier(qualifier)) {
    case kQualTime:
    case kQualTimestamp:
    case kQualSecond:
    case kQualDayToSecond:
    case kQualHourToSecond:
    case kQualMinuteToSecond:
      return true;
    default:
      return false;
  }
}

int32_t interval_precision(int32_t qualifier, int32_t* fraction, int32_t* leading,
                           int32_t* precision, int32_t* scale) {
  int32_t q = base_qualifier(qualifier);
  if (q == 0) return kDecimalBadArgument;
  const bool seconds = interval_has_seconds(q);
  if (*precision == -1 && *scale == -1) {
    int32_t f = seconds ? *fraction : 0;
    *scale = f;
    if (q == kQualDate) {
      *precision = 8;
    } else if (q == kQualTime) {
      *precision = f + 6;
    } else if (q == kQualTimestamp) {
      *precision = f + 14;
    } else {
      *precision = kQualifiers[q].digits_after + *leading + f;
    }
  } else if (*fraction == -1 && *leading == -1) {
    *fraction = *scale;
    *leading = q <= kQualTimestamp ? 0 : *precision - kQualifiers[q].digits_after - *scale;
  }
  return 0;
}

// --- Encoder and decoder ------------------------------------------------------

int32_t interval_decode(double* value, int32_t* nanos, ConstByteSpan area,
                        const value_descriptor& d) {
  if (d.precision < 1 || d.precision > 26 || !value_fits(area, d)) return kDecimalBadArgument;
  const uint8_t* base = area.data();
  dti::Unpacked u;
  if (!dti::unpack(base + d.offset, d.precision, &u)) return kDecimalNull;
  double whole = 0;
  int32_t fraction = 0;
  const bool zero = !u.negative && u.field == 0;
  if (!zero) {
    const int32_t low = u.negative ? 1016 : 1015;
    if (u.field < low || u.field > 1036) return kDecimalBadArgument;
    const int32_t e = u.field - dti::kExponentBias;
    for (int32_t i = 0; i < d.precision; ++i) {
      int32_t power = e - 1 - i;  // 10^power for digit i
      if (power >= 0) {
        whole += u.digits[i] * pow10(power);
      } else if (power >= -9) {
        fraction += u.digits[i] * static_cast<int32_t>(pow10(9 + power));
      }
    }
  }
  if (u.negative) {
    whole = -whole;
    fraction = -fraction;
  }
  if (value) *value = whole;
  if (nanos) *nanos = fraction;
  return 0;
}

int32_t interval_encode(ByteSpan area, const value_descriptor& d, double value, int32_t nanos) {
  if (!value_fits(area, d) || d.scale < -1 || d.scale > d.precision) return kDecimalBadArgument;
  uint8_t* base = area.data();
  if (!std::isfinite(value)) return kDecimalBadArgument;
  const bool negative = value < 0 || (value == 0 && nanos < 0);
  double whole = std::floor(std::fabs(value));
  int64_t frac = nanos < 0 ? -int64_t{nanos} : nanos;
  whole += static_cast<double>(frac / 1000000000);
  frac %= 1000000000;

  // Integer digits (up to 44) and the nine fraction digits in one row.
  char text[64];
  int n = std::snprintf(text, sizeof text, "%.0f", whole);
  if (n < 1 || n > 44) return negative ? kDecimalOverflowNeg : kDecimalOverflowPos;
  uint8_t row[60];
  int32_t int_digits = (whole == 0) ? 0 : n;
  for (int32_t i = 0; i < int_digits; ++i) row[i] = static_cast<uint8_t>(text[i] - '0');
  for (int32_t i = 0; i < 9; ++i) {
    row[int_digits + 8 - i] = static_cast<uint8_t>(frac % 10);
    frac /= 10;
  }
  const int32_t total = int_digits + 9;
  int32_t first = 0;
  while (first < total && row[first] == 0) ++first;
  if (first == total) {
    dti::pack_digits(base + d.offset, d.precision, 0, row, 0, false);
    return 0;
  }
  // Exponent: integer digit count, or minus the leading zero fraction digits.
  const int32_t e = int_digits > 0 ? int_digits : -first;
  const int32_t scale = d.scale < 0 ? 9 : (d.scale > 9 ? 9 : d.scale);
  if (d.scale >= 0 && e > d.precision - d.scale) {
    return negative ? kDecimalOverflowNeg : kDecimalOverflowPos;
  }
  if (e > d.precision) return negative ? kDecimalOverflowNeg : kDecimalOverflowPos;
  // Keep the integer digits and at most `scale` fraction digits, at most
  // `precision` digits in all.
  int32_t keep_end = int_digits + scale;
  if (keep_end - first > d.precision) keep_end = first + d.precision;
  int32_t result = 0;
  for (int32_t i = keep_end; i < total; ++i) {
    if (row[i] != 0) result = kDateTimeFractionCut;
  }
  if (keep_end <= first) {
    dti::pack_digits(base + d.offset, d.precision, 0, row, 0, false);
    return result;
  }
  dti::pack_digits(base + d.offset, d.precision, e + dti::kExponentBias, row + first,
                   keep_end - first, negative);
  return result;
}

namespace {

// A number split as number-to-interval needs it: the count of its integer
// digits, the integer part (exact while it has at most 15 digits) and the
// first nine fraction digits as nanoseconds; digits further down are dropped.
struct NumberParts {
  bool negative = false;
  int32_t int_digits = 0;
  double whole = 0;
  int32_t nanos = 0;
};

// Reads any packed decimal the value library writes, whatever its exponent:
// the interval decoder's window of 12 integer and 9 fraction digits is a
// property of stored intervals, not of the numbers cast to them. -6 for a
// digit nibble above 9.
int32_t read_number_parts(ConstByteSpan area, const value_descriptor& d, NumberParts* out) {
  dti::Unpacked u;
  dti::unpack(area.data() + d.offset, d.precision, &u);
  *out = NumberParts{};
  out->negative = u.negative;
  if (!u.negative && u.field == 0) return 0;       // zero
  const int32_t e = u.field - dti::kExponentBias;  // the value is 0.d1 d2 ... x 10^e
  out->int_digits = e > 0 ? e : 0;
  for (int32_t i = 0; i < d.precision; ++i) {
    if (u.digits[i] > 9) return kDecimalBadData;
  }
  // The caller refuses more integer digits than any interval holds (45)
  // before it looks at the integer part.
  if (out->int_digits > kDecimalMaxPrecision) return 0;
  for (int32_t power = e - 1, i = 0; power >= -9; --power, ++i) {
    const int32_t digit = i < d.precision ? u.digits[i] : 0;
    if (power >= 0) {
      out->whole = out->whole * 10 + digit;
    } else {
      out->nanos = out->nanos * 10 + digit;
    }
  }
  return 0;
}

}  // namespace

int32_t interval_from_number(ByteSpan target_area, const value_descriptor& target,
                             ConstByteSpan source_area, const value_descriptor& source,
                             int32_t unit) {
  if (unit < 4 || unit > 10) {
    return kDateTimeBadOperation;
  }
  const int32_t want = unit <= 5 ? kTypeYearMonth : kTypeDayTime;
  if (target.type != want) {
    return kDateTimeTypesDoNotFit;
  }
  if (!value_fits(target_area, target) || !value_fits(source_area, source)) {
    return kDecimalBadArgument;
  }
  if (source_area[source.offset] == dti::kNullByte) {
    decimal_set_null(target_area, target);
    return kDecimalNull;
  }
  NumberParts n;
  int32_t rc = read_number_parts(source_area, source, &n);
  if (rc != 0) {
    return rc;
  }
  const int32_t overflow = n.negative ? kDecimalOverflowNeg : kDecimalOverflowPos;
  // The integer part is below 10^L exactly when it has at most L digits. For
  // nanoseconds L is 9: they form an interval of 0 seconds.
  int32_t leading = 9;
  if (unit <= 9) {
    // The single-field qualifier of the unit fixes the leading precision.
    leading = target.precision - kQualifiers[unit].digits_after -
              (unit == 9 ? (target.scale < 0 ? 0 : target.scale) : 0);
  }
  if (leading < 0 || n.int_digits > leading) {
    return overflow;
  }
  double value = 0;
  int32_t fraction = 0;
  if (unit <= 9) {
    // Whole units of the leading field in months or seconds; only seconds
    // keep their fraction.
    value = n.whole * kQualifiers[unit].leading_unit;
    if (unit == 9) fraction = n.nanos;
  } else {  // nanoseconds: the integer part of an interval of 0 seconds
    fraction = static_cast<int32_t>(n.whole);
  }
  if (n.negative) {
    value = -value;
    fraction = -fraction;
  }
  int32_t rc2 = interval_encode(target_area, target, value, fraction);
  return rc2 == kDateTimeFractionCut ? 0 : rc2;
}

// --- Format programs -----------------------------------------------------------

int32_t format_program_parse(int32_t qualifier, int32_t fraction, const uint8_t* text,
                             int32_t length, DateTimeFields* f) {
  const int32_t q = base_qualifier(qualifier);
  if (q == 0) return kDateTimeBadOperation;
  *f = DateTimeFields{};
  int32_t pos = 0;
  int32_t result = 0;
  if (length < 0) length = 0;
  auto at = [&](int32_t i) -> int32_t { return i < length ? text[i] : -1; };
  for (const Step* s = kPrograms[q];; ++s) {
    switch (s->op) {
      case kOpDigits4:
      case kOpDigits2: {
        const int32_t want = s->op == kOpDigits4 ? 4 : 2;
        int32_t v = 0, n = 0;
        while (pos < length && is_digit(text[pos])) {
          if (++n > want) return kDateTimeBadText;
          v = v * 10 + (text[pos++] - '0');
        }
        if (n != want) return kDateTimeBadText;
        *field_slot(f, s->field) = v;
        break;
      }
      case kOpDigitsAny: {
        int32_t v = 0, n = 0;
        while (pos < length && is_digit(text[pos])) {
          v = v * 10 + (text[pos++] - '0');
          if (v >= 1000) return kDateTimeBadText;
          ++n;
        }
        if (n == 0) return kDateTimeBadText;
        *field_slot(f, s->field) = v;
        break;
      }
      case kOpLeading: {
        double v = 0;
        int32_t n = 0;
        while (pos < length && is_digit(text[pos])) {
          v = v * 10 + (text[pos++] - '0');
          ++n;
        }
        if (n == 0) return kDateTimeBadText;
        f->leading = v;
        break;
      }
      case kOpPoint:
      case kOpColon:
      case kOpBlank:
      case kOpDash: {
        const char want = s->op == kOpPoint   ? '.'
                          : s->op == kOpColon ? ':'
                          : s->op == kOpBlank ? ' '
                                              : '-';
        if (at(pos) != want) return kDateTimeBadText;
        ++pos;
        break;
      }
      case kOpSkipBlanks:
        while (pos < length && text[pos] == ' ') ++pos;
        break;
      case kOpSign:
        if (at(pos) == '+' || at(pos) == '-') f->negative = text[pos++] == '-';
        break;
      case kOpFraction:
        if (at(pos) == '.') {
          ++pos;
          int32_t n = 0, v = 0;
          while (pos < length && is_digit(text[pos])) {
            // Digits beyond the fractional precision are dropped, and a
            // nonzero one is a cut wherever it stands: also past the ninth,
            // which no value can hold.
            if (n >= fraction && text[pos] != '0') result = kDateTimeFractionCut;
            if (n < 9 && n < fraction) v = v * 10 + (text[pos] - '0');
            if (n < 9 && n >= fraction) v *= 10;
            ++n;
            ++pos;
          }
          for (int32_t i = n < 9 ? n : 9; i < 9; ++i) v *= 10;
          f->nanos = v;
        }
        break;
      case kOpEnd:
        return pos == length ? result : kDateTimeBadText;
    }
  }
}

int32_t format_program_write(int32_t qualifier, int32_t fraction, const DateTimeFields& f,
                             char* out, int32_t room) {
  const int32_t q = base_qualifier(qualifier);
  if (q == 0) return -1;
  char text[96];
  int32_t len = 0;
  auto put = [&](const char* s) {
    for (; *s && len < static_cast<int32_t>(sizeof text); ++s) text[len++] = *s;
  };
  char piece[48];
  for (const Step* s = kPrograms[q]; s->op != kOpEnd; ++s) {
    switch (s->op) {
      case kOpDigits4:
        std::snprintf(piece, sizeof piece, "%04d", field_value(f, s->field) % 10000);
        put(piece);
        break;
      case kOpDigits2:
      case kOpDigitsAny:
        std::snprintf(piece, sizeof piece, "%02d", field_value(f, s->field) % 100);
        put(piece);
        break;
      case kOpLeading:
        std::snprintf(piece, sizeof piece, "%.0f", f.leading);
        put(piece);
        break;
      case kOpPoint:
        put(".");
        break;
      case kOpColon:
        put(":");
        break;
      case kOpBlank:
        put(" ");
        break;
      case kOpDash:
        put("-");
        break;
      case kOpSign:
        if (f.negative) put("-");
        break;
      case kOpFraction:
        if (fraction > 0) {
          std::snprintf(piece, sizeof piece, ".%09d", f.nanos);
          piece[1 + (fraction > 9 ? 9 : fraction)] = '\0';
          put(piece);
        }
        break;
      default:
        break;
    }
  }
  if (len > room) return -1;
  std::memcpy(out, text, len);
  return len;
}

void interval_split(int32_t qualifier, double value, int32_t nanos, DateTimeFields* f) {
  const int32_t q = base_qualifier(qualifier);
  *f = DateTimeFields{};
  f->negative = (value < 0 || nanos < 0) ? 1 : 0;
  double rest = std::fabs(value);
  f->nanos = nanos < 0 ? -nanos : nanos;
  const QualifierRow& row = kQualifiers[q];
  if (row.type == kTypeYearMonth) {
    if (row.leading_unit == 12) {
      f->leading = std::floor(rest / 12);
      f->month = static_cast<int32_t>(rest - f->leading * 12);
    } else {
      f->leading = rest;
    }
    return;
  }
  // Day-time: the leading field takes the whole rest, the others their range.
  f->leading = std::floor(rest / row.leading_unit);
  double below = rest - f->leading * row.leading_unit;
  int32_t secs = static_cast<int32_t>(below);
  f->hour = secs / 3600;
  f->minute = (secs / 60) % 60;
  f->second = secs % 60;
}

int32_t interval_from_fields(ByteSpan area, const value_descriptor& d, int32_t qualifier,
                             const DateTimeFields& f) {
  const int32_t q = base_qualifier(qualifier);
  const QualifierRow& row = kQualifiers[q];
  const int32_t fraction = interval_has_seconds(q) ? (d.scale < 0 ? 0 : d.scale) : 0;
  const int32_t leading = d.precision - row.digits_after - fraction;
  const int32_t overflow = f.negative ? kDecimalOverflowNeg : kDecimalOverflowPos;
  if (leading < 0 || leading > 32 || f.leading >= pow10(leading)) return overflow;
  double value;
  if (row.type == kTypeYearMonth) {
    if (row.last_word != nullptr && f.month > 11) return kDateTimeInvalid;
    value = f.leading * row.leading_unit + (row.last_word ? f.month : 0);
  } else {
    // Fields after the leading one are range-checked; which ones exist
    // depends on the qualifier's last field.
    const bool has_hour = row.leading_unit > 3600 && row.last_unit <= 3600;
    const bool has_minute = row.leading_unit > 60 && row.last_unit <= 60;
    const bool has_second = row.leading_unit > 1 && row.last_unit == 1;
    if ((has_hour && f.hour > 23) || (has_minute && f.minute > 59) ||
        (has_second && f.second > 59)) {
      return kDateTimeInvalid;
    }
    value = f.leading * row.leading_unit + (has_hour ? f.hour * 3600.0 : 0) +
            (has_minute ? f.minute * 60.0 : 0) + (has_second ? f.second : 0);
  }
  int32_t nanos = interval_has_seconds(q) ? f.nanos : 0;
  if (f.negative) {
    value = -value;
    nanos = -nanos;
  }
  return interval_encode(area, d, value, nanos);
}

int32_t interval_qualifier_text(int32_t qualifier, int32_t leading, int32_t fraction, char* out) {
  const int32_t q = base_qualifier(qualifier);
  const QualifierRow& row = kQualifiers[q];
  int n;
  if (q == kQualSecond) {
    if (fraction != kDefaultFractionalPrecision) {
      n = std::sprintf(out, "SECOND(%d,%d)", leading, fraction);
    } else if (leading != kDefaultLeadingPrecision) {
      n = std::sprintf(out, "SECOND(%d)", leading);
    } else {
      n = std::sprintf(out, "SECOND");
    }
    return n;
  }
  n = std::sprintf(out, "%s", row.leading_word);
  // A two-field qualifier always shows its leading precision.
  if (leading != kDefaultLeadingPrecision || row.last_word != nullptr) {
    n += std::sprintf(out + n, "(%d)", leading);
  }
  if (row.last_word != nullptr) {
    n += std::sprintf(out + n, " TO %s", row.last_word);
    if (q != kQualYearToMonth && row.last_unit == 1 && fraction != kDefaultFractionalPrecision) {
      n += std::sprintf(out + n, "(%d)", fraction);
    }
  }
  return n;
}
