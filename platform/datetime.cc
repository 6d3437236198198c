// DATE, TIME and TIMESTAMP values: the digit-string encoding (with the TIME
// rule for values below one second that keeps byte order), the proleptic
// Gregorian day numbers all date arithmetic goes through, interval arithmetic,
// differences, ISO weeks, EXTRACT, merges, casts and text.
#include "platform/datetime.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/datetime_internal.h"
#include "platform/number_text.h"
#include "platform/server_clock.h"

namespace dti = datetime_internal;

namespace {

constexpr int64_t kDayNumberOfEpoch = 719162;  // 0001-01-01 counted from 1970-01-01
constexpr int32_t kNanosPerSecond = 1000000000;
constexpr int32_t kSecondsPerDay = 86400;

int64_t floor_div(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

int64_t floor_mod(int64_t a, int64_t b) {
  return a - floor_div(a, b) * b;
}

bool is_null(ConstByteSpan base, const value_descriptor& d) {
  return base[d.offset] == dti::kNullByte;
}

int32_t fraction_digits_of(const value_descriptor& d) {
  int32_t f = 0;
  if (d.type == kTypeTime) f = d.precision - 6;
  if (d.type == kTypeTimestamp) f = d.precision - 14;
  return f < 0 ? 0 : (f > 9 ? 9 : f);
}

bool date_is_valid(int64_t year, int32_t month, int32_t day) {
  return month >= 1 && month <= 12 && day >= 1 && day <= days_in_month(year, month);
}

// Integer digits of the value (right-aligned in int_len positions) followed by
// nine fraction digits.
int32_t encode_row(uint8_t* base, const value_descriptor& d, const uint8_t* row, int32_t int_len,
                   int32_t fraction, bool time_rule) {
  const int32_t total = int_len + 9;
  const int32_t keep_end = int_len + fraction;
  int32_t result = 0;
  for (int32_t i = keep_end; i < total; ++i) {
    if (row[i] != 0) result = kDateTimeFractionCut;
  }
  int32_t first = 0;
  while (first < keep_end && row[first] == 0) ++first;
  if (first == keep_end) {
    dti::pack_digits(base + d.offset, d.precision, 0, row, 0, false);
    return result;
  }
  int32_t field;
  if (first < int_len) {
    field = dti::kExponentBias + int_len - first;
  } else {
    // Below one second: z zero fraction digits before the first digit store
    // 1023 - z, one below the true exponent, so that 0.5 (1024) stays above
    // 0.05 (1022) in byte order.
    const int32_t z = first - int_len;
    field = (z == 0 || !time_rule) ? dti::kExponentBias - z : dti::kExponentBias - 1 - z;
  }
  dti::pack_digits(base + d.offset, d.precision, field, row + first, keep_end - first, false);
  return result;
}

void put_digits(uint8_t* row, int64_t value, int32_t count) {
  for (int32_t i = count - 1; i >= 0; --i) {
    row[i] = static_cast<uint8_t>(value % 10);
    value /= 10;
  }
}

int64_t read_digits(const uint8_t* row, int32_t count) {
  int64_t v = 0;
  for (int32_t i = 0; i < count; ++i) v = v * 10 + row[i];
  return v;
}

// Reads a positive value into a row of int_len integer and 9 fraction
// positions. Zero is accepted only where zero_ok.
int32_t decode_row(const uint8_t* base, const value_descriptor& d, int32_t int_len,
                   int32_t min_field, int32_t max_field, bool time_rule, uint8_t* row) {
  dti::Unpacked u;
  if (!dti::unpack(base + d.offset, d.precision, &u)) return kDecimalNull;
  if (u.negative) return kDecimalBadArgument;
  std::memset(row, 0, int_len + 9);
  if (u.field == 0) return time_rule ? 0 : kDecimalBadArgument;
  if (u.field < min_field || u.field > max_field) return kDecimalBadArgument;
  int32_t start;  // row position of the first stored digit
  if (u.field >= dti::kExponentBias) {
    start = int_len - (u.field - dti::kExponentBias);
  } else {
    start = int_len + (dti::kExponentBias - 1 - u.field);
  }
  for (int32_t i = 0; i < d.precision; ++i) {
    int32_t pos = start + i;
    if (pos >= 0 && pos < int_len + 9) row[pos] = u.digits[i];
  }
  return 0;
}

int32_t type_of_qualifier(int32_t qualifier) {
  int32_t type = interval_qualifier_info(qualifier);
  return type > 0 ? type : 0;
}

// Moves a date by a number of days; -3 / -2 when the year leaves 1..9999.
int32_t move_days(DateTimeFields* f, int64_t days) {
  int64_t dn = day_number(f->year, f->month, f->day) + days;
  if (dn < 0) return kDecimalOverflowNeg;
  int64_t year;
  date_of_day_number(dn, &year, &f->month, &f->day);
  if (year > 9999) return kDecimalOverflowPos;
  f->year = static_cast<int32_t>(year);
  return 0;
}

int32_t check_date(const DateTimeFields& f) {
  if (f.year < 1) return kDecimalOverflowNeg;
  if (f.year > 9999) return kDecimalOverflowPos;
  return date_is_valid(f.year, f.month, f.day) ? 0 : kDateTimeInvalid;
}

int32_t check_time(const DateTimeFields& f) {
  if (f.hour < 0 || f.hour > 23 || f.minute < 0 || f.minute > 59 || f.second < 0 || f.second > 59 ||
      f.nanos < 0 || f.nanos >= kNanosPerSecond) {
    return kDateTimeInvalid;
  }
  return 0;
}

double pow10(int32_t n) {
  double r = 1;
  for (int32_t i = 0; i < n; ++i) r *= 10;
  return r;
}

}  // namespace

// --- Calendar ---------------------------------------------------------------

bool is_leap_year(int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int32_t days_in_month(int64_t year, int32_t month) {
  static const int32_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return (month == 2 && is_leap_year(year)) ? 29 : kDays[month - 1];
}

int64_t day_number(int64_t year, int32_t month, int32_t day) {
  // Months counted from March, so the leap day ends the counting year.
  year -= month <= 2;
  const int64_t era = floor_div(year, 400);
  const int64_t year_of_era = year - era * 400;
  const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468 + kDayNumberOfEpoch;
}

void date_of_day_number(int64_t days, int64_t* year, int32_t* month, int32_t* day) {
  const int64_t z = days - kDayNumberOfEpoch + 719468;
  const int64_t era = floor_div(z, 146097);
  const int64_t day_of_era = z - era * 146097;
  const int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t mp = (5 * day_of_year + 2) / 153;
  *day = static_cast<int32_t>(day_of_year - (153 * mp + 2) / 5 + 1);
  *month = static_cast<int32_t>(mp < 10 ? mp + 3 : mp - 9);
  *year = year_of_era + era * 400 + (*month <= 2);
}

// --- Encoding -----------------------------------------------------------------

int32_t date_encode(ByteSpan area, const value_descriptor& d, int32_t year, int32_t month,
                    int32_t day) {
  if (d.precision != 8 || !value_fits(area, d)) return kDecimalBadArgument;
  uint8_t* base = area.data();
  uint8_t row[17] = {};
  put_digits(row, int64_t{year} * 10000 + month * 100 + day, 8);
  return encode_row(base, d, row, 8, 0, false);
}

int32_t time_encode(ByteSpan area, const value_descriptor& d, int32_t hour, int32_t minute,
                    int32_t second, int32_t nanos) {
  if (d.precision < 6 || d.precision > 15 || !value_fits(area, d)) return kDecimalBadArgument;
  uint8_t* base = area.data();
  uint8_t row[15];
  put_digits(row, int64_t{hour} * 10000 + minute * 100 + second, 6);
  put_digits(row + 6, nanos, 9);
  return encode_row(base, d, row, 6, d.precision - 6, true);
}

int32_t timestamp_encode(ByteSpan area, const value_descriptor& d, int32_t year, int32_t month,
                         int32_t day, int32_t hour, int32_t minute, int32_t second, int32_t nanos) {
  if (d.precision < 14 || d.precision > 23 || !value_fits(area, d)) return kDecimalBadArgument;
  uint8_t* base = area.data();
  uint8_t row[23];
  put_digits(row, int64_t{year} * 10000 + month * 100 + day, 8);
  put_digits(row + 8, int64_t{hour} * 10000 + minute * 100 + second, 6);
  put_digits(row + 14, nanos, 9);
  return encode_row(base, d, row, 14, d.precision - 14, false);
}

int32_t date_decode(int32_t* year, int32_t* month, int32_t* day, ConstByteSpan area,
                    const value_descriptor& d) {
  if (d.precision != 8 || !value_fits(area, d)) return kDecimalBadArgument;
  const uint8_t* base = area.data();
  uint8_t row[17];
  int32_t rc = decode_row(base, d, 8, 1029, 1032, false, row);
  if (rc != 0) return rc;
  *year = static_cast<int32_t>(read_digits(row, 4));
  *month = static_cast<int32_t>(read_digits(row + 4, 2));
  *day = static_cast<int32_t>(read_digits(row + 6, 2));
  return 0;
}

int32_t time_decode(int32_t* hour, int32_t* minute, int32_t* second, int32_t* nanos,
                    ConstByteSpan area, const value_descriptor& d) {
  if (d.precision < 6 || d.precision > 15 || !value_fits(area, d)) return kDecimalBadArgument;
  const uint8_t* base = area.data();
  uint8_t row[15];
  int32_t rc = decode_row(base, d, 6, 1015, 1030, true, row);
  if (rc != 0) return rc;
  *hour = static_cast<int32_t>(read_digits(row, 2));
  *minute = static_cast<int32_t>(read_digits(row + 2, 2));
  *second = static_cast<int32_t>(read_digits(row + 4, 2));
  *nanos = static_cast<int32_t>(read_digits(row + 6, 9));
  return 0;
}

int32_t timestamp_decode(int32_t* year, int32_t* month, int32_t* day, int32_t* hour,
                         int32_t* minute, int32_t* second, int32_t* nanos, ConstByteSpan area,
                         const value_descriptor& d) {
  if (d.precision < 14 || d.precision > 23 || !value_fits(area, d)) return kDecimalBadArgument;
  const uint8_t* base = area.data();
  uint8_t row[23];
  int32_t rc = decode_row(base, d, 14, 1035, 1038, false, row);
  if (rc != 0) return rc;
  *year = static_cast<int32_t>(read_digits(row, 4));
  *month = static_cast<int32_t>(read_digits(row + 4, 2));
  *day = static_cast<int32_t>(read_digits(row + 6, 2));
  *hour = static_cast<int32_t>(read_digits(row + 8, 2));
  *minute = static_cast<int32_t>(read_digits(row + 10, 2));
  *second = static_cast<int32_t>(read_digits(row + 12, 2));
  *nanos = static_cast<int32_t>(read_digits(row + 14, 9));
  return 0;
}

int32_t datetime_decode_fields(DateTimeFields* f, ConstByteSpan base, const value_descriptor& d) {
  *f = DateTimeFields{};
  switch (d.type) {
    case kTypeDate:
      return date_decode(&f->year, &f->month, &f->day, base, d);
    case kTypeTime:
      return time_decode(&f->hour, &f->minute, &f->second, &f->nanos, base, d);
    case kTypeTimestamp:
      return timestamp_decode(&f->year, &f->month, &f->day, &f->hour, &f->minute, &f->second,
                              &f->nanos, base, d);
    default:
      return kDecimalBadArgument;
  }
}

int32_t datetime_encode_fields(ByteSpan base, const value_descriptor& d, const DateTimeFields& f) {
  switch (d.type) {
    case kTypeDate:
      return date_encode(base, d, f.year, f.month, f.day);
    case kTypeTime:
      return time_encode(base, d, f.hour, f.minute, f.second, f.nanos);
    case kTypeTimestamp:
      return timestamp_encode(base, d, f.year, f.month, f.day, f.hour, f.minute, f.second, f.nanos);
    default:
      return kDecimalBadArgument;
  }
}

int32_t datetime_from_digits(ByteSpan base, const value_descriptor& d, ConstByteSpan digits,
                             int32_t offset, int32_t length) {
  ConstByteSpan text = clip_field(digits, offset, length);
  if (length < 14 || text.size() < 14 || d.type < kTypeDate || d.type > kTypeTimestamp) {
    return kDecimalBadArgument;
  }
  const uint8_t* t = text.data();
  const int32_t n = text.size() > 23 ? 23 : static_cast<int32_t>(text.size());
  for (int32_t i = 0; i < n; ++i) {
    if (t[i] < '0' || t[i] > '9') {
      return kDateTimeBadText;
    }
  }
  auto num = [&](int32_t at, int32_t count) {
    int32_t v = 0;
    for (int32_t i = 0; i < count; ++i) v = v * 10 + (at + i < n ? t[at + i] - '0' : 0);
    return v;
  };
  DateTimeFields f;
  f.year = num(0, 4);
  f.month = num(4, 2);
  f.day = num(6, 2);
  f.hour = num(8, 2);
  f.minute = num(10, 2);
  f.second = num(12, 2);
  f.nanos = num(14, 9);
  int32_t rc = datetime_encode_fields(base, d, f);
  return rc == kDateTimeFractionCut ? 0 : rc;
}

int32_t time_normalize(int32_t* hour, int32_t* minute, int32_t* second, int32_t* nanos) {
  int64_t s = int64_t{*second} + floor_div(*nanos, kNanosPerSecond);
  *nanos = static_cast<int32_t>(floor_mod(*nanos, kNanosPerSecond));
  int64_t m = int64_t{*minute} + floor_div(s, 60);
  *second = static_cast<int32_t>(floor_mod(s, 60));
  int64_t h = int64_t{*hour} + floor_div(m, 60);
  *minute = static_cast<int32_t>(floor_mod(m, 60));
  *hour = static_cast<int32_t>(floor_mod(h, 24));
  return static_cast<int32_t>(floor_div(h, 24));
}

// --- Arithmetic ---------------------------------------------------------------

int32_t datetime_add_interval(ByteSpan base, const value_descriptor& datetime,
                              ConstByteSpan interval_base, const value_descriptor& interval,
                              int32_t operation) {
  if (datetime.type < kTypeDate || datetime.type > kTypeTimestamp ||
      (interval.type != kTypeYearMonth && interval.type != kTypeDayTime)) {
    return kDecimalBadArgument;
  }
  if (operation != kIntervalAdd && operation != kIntervalSubtract) {
    return kDateTimeBadOperation;
  }
  if (!value_fits(base, datetime) || !value_fits(interval_base, interval)) {
    return kDecimalBadArgument;
  }
  if (is_null(base, datetime) || is_null(interval_base, interval)) {
    decimal_set_null(base, datetime);
    return kDecimalNull;
  }
  DateTimeFields f;
  int32_t rc = datetime_decode_fields(&f, base, datetime);
  double amount = 0;
  int32_t nanos = 0;
  if (rc == 0) rc = interval_decode(&amount, &nanos, interval_base, interval);
  if (rc != 0) {
    return rc;
  }
  if (operation == kIntervalSubtract) {
    amount = -amount;
    nanos = -nanos;
  }
  const int64_t whole = static_cast<int64_t>(amount);
  if (interval.type == kTypeYearMonth) {
    if (datetime.type == kTypeTime) {
      return 0;
    }
    // Months move the year by whole years; the day is not clamped.
    const int64_t months = int64_t{f.month} + whole - 1;
    const int64_t year = f.year + floor_div(months, 12);
    if (year < 1 || year > 9999) {
      return year < 1 ? kDecimalOverflowNeg : kDecimalOverflowPos;
    }
    f.year = static_cast<int32_t>(year);
    f.month = static_cast<int32_t>(floor_mod(months, 12) + 1);
  } else {
    const int64_t days = whole / kSecondsPerDay;  // cut towards zero
    const int64_t rest = whole - days * kSecondsPerDay;
    int64_t carry = 0;
    if (datetime.type != kTypeDate) {
      f.second += static_cast<int32_t>(rest);
      f.nanos += nanos;
      carry = time_normalize(&f.hour, &f.minute, &f.second, &f.nanos);
    }
    if (datetime.type != kTypeTime) {
      rc = move_days(&f, days + carry);
      if (rc != 0) {
        return rc;
      }
    }
  }
  if (datetime.type != kTypeTime) {
    rc = check_date(f);
    if (rc != 0) {
      return rc;
    }
  }
  return datetime_encode_fields(base, datetime, f);
}

int32_t datetime_difference(ByteSpan out_base, const value_descriptor& out,
                            ConstByteSpan first_base, const value_descriptor& first,
                            ConstByteSpan second_base, const value_descriptor& second) {
  if (first.type < kTypeDate || first.type > kTypeTimestamp || second.type < kTypeDate ||
      second.type > kTypeTimestamp || (out.type != kTypeYearMonth && out.type != kTypeDayTime)) {
    return kDecimalBadArgument;
  }
  if (first.type != second.type) {
    return kDateTimeTypesDoNotFit;
  }
  if (!value_fits(out_base, out) || !value_fits(first_base, first) ||
      !value_fits(second_base, second)) {
    return kDecimalBadArgument;
  }
  if (is_null(first_base, first) || is_null(second_base, second)) {
    decimal_set_null(out_base, out);
    return kDecimalNull;
  }
  DateTimeFields a, b;
  int32_t rc = datetime_decode_fields(&a, first_base, first);
  if (rc == 0) rc = datetime_decode_fields(&b, second_base, second);
  if (rc != 0) {
    return rc;
  }
  int64_t seconds = 0;
  int32_t nanos = 0;
  if (out.type == kTypeYearMonth) {
    if (first.type != kTypeTime) seconds = (int64_t{a.year} - b.year) * 12 + a.month - b.month;
  } else {
    if (first.type != kTypeTime) {
      seconds = (day_number(a.year, a.month, a.day) - day_number(b.year, b.month, b.day)) *
                kSecondsPerDay;
    }
    if (first.type != kTypeDate) {
      seconds +=
          (int64_t{a.hour} - b.hour) * 3600 + (a.minute - b.minute) * 60 + (a.second - b.second);
      nanos = a.nanos - b.nanos;
      // Seconds and nanoseconds carry the same sign.
      if (seconds > 0 && nanos < 0) {
        seconds -= 1;
        nanos += kNanosPerSecond;
      } else if (seconds < 0 && nanos > 0) {
        seconds += 1;
        nanos -= kNanosPerSecond;
      }
    }
  }
  return interval_encode(out_base, out, static_cast<double>(seconds), nanos);
}

int32_t datetime_week(int32_t* week, ConstByteSpan base, const value_descriptor& d, int32_t mode) {
  if (mode != 0) {
    return kDateTimeBadOperation;
  }
  if (d.type != kTypeDate && d.type != kTypeTimestamp) {
    return kDecimalBadArgument;
  }
  DateTimeFields f;
  int32_t rc = datetime_decode_fields(&f, base, d);
  if (rc != 0) {
    return rc;
  }
  // Day numbers count from a Monday, so day mod 7 is the weekday (0 Monday).
  auto week_one_monday = [](int64_t year) {
    int64_t jan4 = day_number(year, 1, 4);
    return jan4 - floor_mod(jan4, 7);
  };
  const int64_t day = day_number(f.year, f.month, f.day);
  int64_t monday = week_one_monday(f.year);
  if (day < monday) monday = week_one_monday(f.year - 1);
  int64_t w = (day - monday) / 7 + 1;
  if (w == 53 && day >= week_one_monday(f.year + 1)) w = 1;
  *week = static_cast<int32_t>(w);
  return 0;
}

int32_t datetime_extract(ByteSpan out_base, const value_descriptor& out, ConstByteSpan base,
                         const value_descriptor& source, int32_t field, int32_t source_qualifier) {
  const int32_t qtype = type_of_qualifier(source_qualifier);
  if (field < kExtractYear || field > kExtractFraction || qtype == 0) {
    return kDateTimeBadOperation;
  }
  if (qtype != source.type) {
    return kDateTimeTypesDoNotFit;
  }
  if (!value_fits(out_base, out) || !value_fits(base, source)) return kDecimalBadArgument;
  if (is_null(base, source)) {
    decimal_set_null(out_base, out);
    return kDecimalNull;
  }
  double value = 0;
  int32_t nanos = 0;
  if (source.type <= kTypeTimestamp) {
    DateTimeFields f;
    int32_t rc = datetime_decode_fields(&f, base, source);
    if (rc != 0) {
      return rc;
    }
    const bool has_date = source.type != kTypeTime;
    const bool has_time = source.type != kTypeDate;
    if ((field <= kExtractDay && !has_date) || (field >= kExtractHour && !has_time)) {
      return kDateTimeTypesDoNotFit;
    }
    const int32_t values[] = {0, f.year, f.month, f.day, f.hour, f.minute, f.second, f.nanos};
    value = values[field];
    if (field == kExtractSecond) nanos = f.nanos;
  } else {
    double amount = 0;
    int32_t fraction = 0;
    int32_t rc = interval_decode(&amount, &fraction, base, source);
    if (rc != 0) {
      return rc;
    }
    const int32_t q = source_qualifier > kQualLiteralForm ? source_qualifier - kQualLiteralForm
                                                          : source_qualifier;
    if (source.type == kTypeYearMonth) {
      if (field == kExtractYear) {
        value = std::trunc(amount / 12);
      } else if (field == kExtractMonth) {
        value = q == kQualMonth ? amount : std::fmod(amount, 12);
      } else {
        return kDateTimeTypesDoNotFit;
      }
    } else {
      static const int32_t kUnits[] = {0, 0, 0, 86400, 3600, 60, 1};
      static const int32_t kRanges[] = {0, 0, 0, 0, 24, 60, 60};
      const int32_t leading_unit =
          q == kQualDay || (q >= kQualDayToHour && q <= kQualDayToSecond)      ? 86400
          : q == kQualHour || q == kQualHourToMinute || q == kQualHourToSecond ? 3600
          : q == kQualMinute || q == kQualMinuteToSecond                       ? 60
                                                                               : 1;
      if (field <= kExtractMonth) {
        return kDateTimeTypesDoNotFit;
      }
      if (field == kExtractFraction) {
        value = fraction;
      } else {
        const int32_t unit = kUnits[field];
        double whole = std::trunc(amount / unit);
        if (unit > leading_unit) {
          whole = 0;
        } else if (unit < leading_unit) {
          whole = std::fmod(whole, kRanges[field]);  // the field's own range
        }
        value = whole;
        if (field == kExtractSecond) nanos = fraction;
      }
    }
  }
  return interval_encode(out_base, out, value, nanos);
}

int32_t datetime_merge(ByteSpan target_base, const value_descriptor& target, int32_t keep,
                       int32_t take, ConstByteSpan source_base, const value_descriptor& source) {
  if (!value_fits(target_base, target) || !value_fits(source_base, source)) {
    return kDecimalBadArgument;
  }
  if (is_null(source_base, source)) {
    decimal_set_null(target_base, target);
    return kDecimalNull;
  }
  DateTimeFields t, s;
  t.year = t.month = t.day = 1;
  int32_t rc = datetime_decode_fields(&s, source_base, source);
  if (rc == 0 && keep > 0) {
    DateTimeFields own;
    rc = datetime_decode_fields(&own, target_base, target);
    if (keep & kMergeYear) t.year = own.year;
    if (keep & kMergeMonth) t.month = own.month;
    if (keep & kMergeDay) t.day = own.day;
    if (keep & kMergeHour) t.hour = own.hour;
    if (keep & kMergeMinute) t.minute = own.minute;
    if (keep & kMergeSecond) t.second = own.second;
    if (keep & kMergeFraction) t.nanos = own.nanos;
  }
  if (rc != 0) {
    return rc;
  }
  if (take & kMergeYear) t.year = s.year;
  if (take & kMergeMonth) t.month = s.month;
  if (take & kMergeDay) t.day = s.day;
  if (take & kMergeHour) t.hour = s.hour;
  if (take & kMergeMinute) t.minute = s.minute;
  if (take & kMergeSecond) t.second = s.second;
  if (take & kMergeFraction) t.nanos = s.nanos;
  return datetime_encode_fields(target_base, target, t);
}

int32_t datetime_cast(ByteSpan base, value_descriptor* d, int32_t precision, int32_t fraction,
                      int32_t qualifier) {
  const int32_t qtype = type_of_qualifier(qualifier);
  if (qtype == 0) {
    return kDecimalBadArgument;
  }
  if (qtype != d->type) {
    return kDateTimeTypesDoNotFit;
  }
  const int32_t q = qualifier > kQualLiteralForm ? qualifier - kQualLiteralForm : qualifier;
  value_descriptor next = *d;
  next.precision = precision;
  next.scale = interval_has_seconds(q) ? fraction : 0;
  if (d->type == kTypeDate) {
    return 0;
  }
  if (precision < 1 || precision > kDecimalMaxPrecision || next.scale < 0 || next.scale > 9) {
    return kDecimalBadArgument;
  }
  if (!value_fits(base, *d) || !value_fits(base, next)) return kDecimalBadArgument;
  if (is_null(base, *d)) {
    *d = next;
    decimal_set_null(base, *d);
    return kDecimalNull;
  }
  if (d->type <= kTypeTimestamp) {
    DateTimeFields f;
    int32_t rc = datetime_decode_fields(&f, base, *d);
    if (rc != 0) {
      return rc;
    }
    rc = datetime_encode_fields(base, next, f);
    if (rc >= 0) *d = next;
    return rc;
  }
  double amount = 0;
  int32_t nanos = 0;
  int32_t rc = interval_decode(&amount, &nanos, base, *d);
  if (rc != 0) {
    return rc;
  }
  // Cut to whole units of the new last field, then check the leading field.
  int32_t last_unit = 1;
  int32_t leading_unit = 1;
  switch (q) {
    case kQualYear:
      last_unit = 12;
      leading_unit = 12;
      break;
    case kQualYearToMonth:
      leading_unit = 12;
      break;
    case kQualDay:
      last_unit = leading_unit = 86400;
      break;
    case kQualHour:
      last_unit = leading_unit = 3600;
      break;
    case kQualMinute:
      last_unit = leading_unit = 60;
      break;
    case kQualDayToHour:
      last_unit = 3600;
      leading_unit = 86400;
      break;
    case kQualDayToMinute:
      last_unit = 60;
      leading_unit = 86400;
      break;
    case kQualDayToSecond:
      leading_unit = 86400;
      break;
    case kQualHourToMinute:
      last_unit = 60;
      leading_unit = 3600;
      break;
    case kQualHourToSecond:
      leading_unit = 3600;
      break;
    case kQualMinuteToSecond:
      leading_unit = 60;
      break;
    default:
      break;
  }
  if (last_unit > 1) {
    amount = std::trunc(amount / last_unit) * last_unit;
    nanos = 0;
  }
  const int32_t leading = precision - interval_digits_after_leading(q) - next.scale;
  const bool negative = amount < 0 || nanos < 0;
  if (leading < 0 || std::fabs(std::trunc(amount / leading_unit)) >= pow10(leading)) {
    return negative ? kDecimalOverflowNeg : kDecimalOverflowPos;
  }
  rc = interval_encode(base, next, amount, nanos);
  if (rc >= 0) *d = next;
  return rc;
}

// --- Text ---------------------------------------------------------------------

namespace {

// Fields, fractional precision and leading precision of a value for writing.
int32_t text_fields(ConstByteSpan base, const value_descriptor& d, int32_t q, DateTimeFields* f,
                    int32_t* fraction, int32_t* leading) {
  *leading = 0;
  if (d.type <= kTypeTimestamp) {
    *fraction = fraction_digits_of(d);
    return datetime_decode_fields(f, base, d);
  }
  *fraction = interval_has_seconds(q) ? (d.scale < 0 ? 0 : (d.scale > 9 ? 9 : d.scale)) : 0;
  *leading = d.precision - interval_digits_after_leading(q) - *fraction;
  double amount = 0;
  int32_t nanos = 0;
  int32_t rc = interval_decode(&amount, &nanos, base, d);
  if (rc == 0) interval_split(q, amount, nanos, f);
  return rc;
}

int32_t compose_text(int32_t q, bool literal, int32_t type, const DateTimeFields& f,
                     int32_t fraction, int32_t written_fraction, int32_t leading, char* out,
                     int32_t room) {
  static const char* const kKeywords[] = {"", "DATE", "TIME", "TIMESTAMP", "INTERVAL", "INTERVAL"};
  char text[160];
  int32_t n = 0;
  if (literal) n += std::sprintf(text, "%s'", kKeywords[type]);
  int32_t body = format_program_write(q, written_fraction, f, text + n,
                                      static_cast<int32_t>(sizeof text) - n - 48);
  if (body < 0) return -1;
  n += body;
  if (literal) {
    text[n++] = '\'';
    if (type >= kTypeYearMonth) n += interval_qualifier_text(q, leading, fraction, text + n);
  }
  if (n > room) return -1;
  std::memcpy(out, text, n);
  return n;
}

}  // namespace

int32_t datetime_to_text(ByteSpan out_area, int32_t out_offset, int32_t out_length,
                         ConstByteSpan base, const value_descriptor& d, int32_t qualifier) {
  const int32_t qtype = type_of_qualifier(qualifier);
  if (qtype == 0) {
    return kDateTimeBadOperation;
  }
  if (qtype != d.type) {
    return kDateTimeTypesDoNotFit;
  }
  if (!value_fits(base, d) || out_length < 0 || !field_fits(out_area, out_offset, out_length)) {
    return kDecimalBadArgument;
  }
  if (is_null(base, d)) {
    return kDecimalNull;
  }
  const bool literal = qualifier > kQualLiteralForm;
  const int32_t q = literal ? qualifier - kQualLiteralForm : qualifier;
  DateTimeFields f;
  int32_t fraction = 0, leading = 0;
  int32_t rc = text_fields(base, d, q, &f, &fraction, &leading);
  if (rc != 0) {
    return rc;
  }
  char* out = reinterpret_cast<char*>(out_area.data() + out_offset);
  const int32_t room = out_length;
  // A fraction that does not fit is cut digit by digit (the point goes last).
  for (int32_t written = fraction; written >= 0; --written) {
    int32_t n = compose_text(q, literal, d.type, f, fraction, written, leading, out, room);
    if (n >= 0) {
      std::memset(out + n, ' ', room - n);
      return written < fraction ? kDateTimeFractionCut : 0;
    }
  }
  return -1;
}

namespace {

enum Word : int32_t {
  kWordDate = 1,
  kWordTime,
  kWordTimestamp,
  kWordInterval,
  kWordYear,
  kWordMonth,
  kWordDay,
  kWordHour,
  kWordMinute,
  kWordSecond,
  kWordTo,
};

enum TokenKind { kTokWord, kTokNumber, kTokQuoted, kTokOpen, kTokClose, kTokComma };

struct Token {
  TokenKind kind;
  int32_t value;  // word or number
  const uint8_t* text;
  int32_t length;
};

constexpr int kMaxTokens = 17;

int32_t tokenize(const uint8_t* t, int32_t n, Token* tokens, int* count) {
  static const char* const kWords[] = {"",      "DATE", "TIME", "TIMESTAMP", "INTERVAL", "YEAR",
                                       "MONTH", "DAY",  "HOUR", "MINUTE",    "SECOND",   "TO"};
  *count = 0;
  int32_t i = 0;
  while (i < n) {
    uint8_t c = t[i];
    if (c == ' ') {
      ++i;
      continue;
    }
    if (*count == kMaxTokens) return kDateTimeBadText;
    Token& tok = tokens[(*count)++];
    tok.text = t + i;
    tok.length = 0;
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
      char word[12];
      int32_t len = 0;
      while (i < n && ((t[i] >= 'A' && t[i] <= 'Z') || (t[i] >= 'a' && t[i] <= 'z'))) {
        if (len == 11) return kDateTimeBadText;
        word[len++] = static_cast<char>(t[i] >= 'a' ? t[i] - 32 : t[i]);
        ++i;
      }
      word[len] = '\0';
      tok.kind = kTokWord;
      tok.value = 0;
      for (int32_t w = 1; w <= kWordTo; ++w) {
        if (std::strcmp(word, kWords[w]) == 0) tok.value = w;
      }
      if (tok.value == 0) return kDateTimeBadText;
    } else if (c >= '0' && c <= '9') {
      tok.kind = kTokNumber;
      tok.value = 0;
      while (i < n && t[i] >= '0' && t[i] <= '9') {
        tok.value = tok.value * 10 + (t[i++] - '0');
        if (tok.value > 99) return kDateTimeBadText;
      }
    } else if (c == '\'') {
      int32_t close = i + 1;
      while (close < n && t[close] != '\'') ++close;
      if (close == n) return kDateTimeBadText;
      tok.kind = kTokQuoted;
      tok.text = t + i + 1;
      tok.length = close - i - 1;
      i = close + 1;
    } else if (c == '(' || c == ')' || c == ',') {
      tok.kind = c == '(' ? kTokOpen : (c == ')' ? kTokClose : kTokComma);
      ++i;
    } else {
      return kDateTimeBadText;
    }
  }
  return 0;
}

struct Literal {
  int32_t qualifier = 0;
  int32_t leading = kDefaultLeadingPrecision;
  int32_t fraction = kDefaultFractionalPrecision;
  const uint8_t* text = nullptr;
  int32_t length = 0;
};

// Reads "(n)" or "(n,m)" at tokens[*i]; absent parentheses leave the values.
bool read_precisions(const Token* tk, int count, int* i, int32_t* first, int32_t* second,
                     bool allow_second) {
  if (*i >= count || tk[*i].kind != kTokOpen) return true;
  if (*i + 2 >= count || tk[*i + 1].kind != kTokNumber) return false;
  *first = tk[*i + 1].value;
  *i += 2;
  if (tk[*i].kind == kTokComma) {
    if (!allow_second || *i + 2 >= count || tk[*i + 1].kind != kTokNumber) return false;
    *second = tk[*i + 1].value;
    *i += 2;
  }
  if (tk[*i].kind != kTokClose) return false;
  ++*i;
  return true;
}

int32_t parse_literal(const uint8_t* t, int32_t n, Literal* lit) {
  Token tk[kMaxTokens];
  int count = 0;
  int32_t rc = tokenize(t, n, tk, &count);
  if (rc != 0) return rc;
  if (count < 2 || tk[0].kind != kTokWord || tk[1].kind != kTokQuoted) return kDateTimeBadText;
  lit->text = tk[1].text;
  lit->length = tk[1].length;
  if (tk[0].value >= kWordDate && tk[0].value <= kWordTimestamp) {
    lit->qualifier = tk[0].value;  // DATE 1, TIME 2, TIMESTAMP 3
    lit->fraction = 9;
    return count == 2 ? 0 : kDateTimeBadText;
  }
  if (tk[0].value != kWordInterval || count < 3 || tk[2].kind != kTokWord ||
      tk[2].value < kWordYear || tk[2].value > kWordSecond) {
    return kDateTimeBadText;
  }
  const int32_t first = tk[2].value - kWordYear + kQualYear;
  int i = 3;
  if (!read_precisions(tk, count, &i, &lit->leading, &lit->fraction, first == kQualSecond)) {
    return kDateTimeBadText;
  }
  lit->qualifier = first;
  if (i < count) {
    if (tk[i].kind != kTokWord || tk[i].value != kWordTo || i + 1 >= count ||
        tk[i + 1].kind != kTokWord || first == kQualSecond) {
      return kDateTimeBadText;
    }
    const int32_t last = tk[i + 1].value - kWordYear + kQualYear;
    static const int32_t kPairs[][3] = {
        {kQualYear, kQualMonth, kQualYearToMonth},      {kQualDay, kQualHour, kQualDayToHour},
        {kQualDay, kQualMinute, kQualDayToMinute},      {kQualDay, kQualSecond, kQualDayToSecond},
        {kQualHour, kQualMinute, kQualHourToMinute},    {kQualHour, kQualSecond, kQualHourToSecond},
        {kQualMinute, kQualSecond, kQualMinuteToSecond}};
    lit->qualifier = 0;
    for (const auto& p : kPairs) {
      if (p[0] == first && p[1] == last) lit->qualifier = p[2];
    }
    if (lit->qualifier == 0) return kDateTimeBadText;
    i += 2;
    if (last == kQualSecond) {
      int32_t unused = 0;
      if (!read_precisions(tk, count, &i, &lit->fraction, &unused, false)) {
        return kDateTimeBadText;
      }
    }
  }
  if (i != count || lit->fraction > 9 || lit->leading < 1) return kDateTimeBadText;
  return 0;
}

// Parses text with the qualifier straight into the value.
int32_t parse_into(ByteSpan base, const value_descriptor& d, int32_t q, const uint8_t* text,
                   int32_t length) {
  DateTimeFields f;
  int32_t fraction;
  if (d.type <= kTypeTimestamp) {
    fraction = fraction_digits_of(d);
  } else {
    fraction = interval_has_seconds(q) ? (d.scale < 0 ? 0 : (d.scale > 9 ? 9 : d.scale)) : 0;
  }
  int32_t parsed = format_program_parse(q, fraction, text, length, &f);
  if (parsed < 0) return parsed;
  int32_t rc;
  if (d.type <= kTypeTimestamp) {
    if (d.type != kTypeTime && (rc = check_date(f)) != 0) return rc;
    if (d.type != kTypeDate && (rc = check_time(f)) != 0) return rc;
    rc = datetime_encode_fields(base, d, f);
  } else {
    rc = interval_from_fields(base, d, q, f);
  }
  if (rc < 0) return rc;
  return parsed == kDateTimeFractionCut ? parsed : rc;
}

}  // namespace

int32_t datetime_from_text(ByteSpan base, const value_descriptor& target, ConstByteSpan text,
                           int32_t offset, int32_t length, int32_t qualifier,
                           CurrentTimeRoutine now) {
  const int32_t qtype = type_of_qualifier(qualifier);
  if (qtype == 0) {
    return kDateTimeBadOperation;
  }
  if (qtype != target.type) {
    return kDateTimeTypesDoNotFit;
  }
  const int32_t q = qualifier > kQualLiteralForm ? qualifier - kQualLiteralForm : qualifier;
  if (!value_fits(base, target)) return kDecimalBadArgument;
  ConstByteSpan field = clip_field(text, offset, length);
  const uint8_t* t = field.data();
  int32_t n = static_cast<int32_t>(field.size());
  while (n > 0 && t[0] == ' ') {
    ++t;
    --n;
  }
  const bool letter = n > 0 && ((t[0] >= 'A' && t[0] <= 'Z') || (t[0] >= 'a' && t[0] <= 'z'));
  if (!letter || qualifier > kQualLiteralForm) {
    return parse_into(base, target, q, t, n);
  }

  Literal lit;
  int32_t rc = parse_literal(t, n, &lit);
  if (rc != 0) {
    return rc;
  }
  // The literal's own value, at its own precision.
  uint8_t work[kDecimalMaxBytes];
  value_descriptor w{0, 0, 0, type_of_qualifier(lit.qualifier)};
  int32_t fraction = lit.fraction, leading = lit.leading, precision = -1, scale = -1;
  interval_precision(lit.qualifier, &fraction, &leading, &precision, &scale);
  w.precision = precision;
  w.scale = scale;
  if (w.precision < 1 || w.precision > 26) {
    return kDecimalBadArgument;
  }
  int32_t parsed = parse_into(work, w, lit.qualifier, lit.text, lit.length);
  if (parsed < 0) {
    return parsed;
  }

  uint8_t merged[kDecimalMaxBytes];
  if (w.type != target.type) {
    // A literal of another datetime type is merged into the current date and
    // time: DATE into TIMESTAMP takes the date at midnight, TIME into
    // TIMESTAMP keeps today's date, TIMESTAMP gives DATE or TIME its part.
    value_descriptor m{0, 0, 0, target.type};
    int32_t keep = 0, take = 0;
    if (w.type == kTypeDate && target.type == kTypeTimestamp) {
      take = kMergeDate;
    } else if (w.type == kTypeTime && target.type == kTypeTimestamp) {
      keep = kMergeDate;
      take = kMergeTime;
    } else if (w.type == kTypeTimestamp && target.type == kTypeDate) {
      take = kMergeDate;
    } else if (w.type == kTypeTimestamp && target.type == kTypeTime) {
      take = kMergeTime;
    } else {
      return kDateTimeTypesDoNotFit;
    }
    m.precision = target.type == kTypeDate ? 8 : (target.type == kTypeTime ? 15 : 23);
    m.scale = target.type == kTypeDate ? 0 : 9;
    char clock[16];
    std::memset(clock, '0', sizeof clock);
    if (now != nullptr) now(clock);
    uint8_t digits[16];
    std::memcpy(digits, clock, sizeof digits);
    rc = datetime_from_digits(merged, m, digits, 0, 16);
    if (rc != 0) return rc;
    rc = datetime_merge(merged, m, keep, take, work, w);
    if (rc < 0) {
      return rc;
    }
    std::memcpy(work, merged, sizeof work);
    w = m;
  }
  int32_t cast = 0;
  if (target.type != kTypeDate) {
    cast =
        datetime_cast(work, &w, target.precision,
                      target.type <= kTypeTimestamp ? fraction_digits_of(target) : target.scale, q);
    if (cast < 0) {
      return cast;
    }
  }
  rc = decimal_assign(base, target, work, w);
  if (rc == kDecimalDigitsLost) rc = 0;
  if (rc != 0) {
    return rc;
  }
  return (parsed == kDateTimeFractionCut || cast == kDateTimeFractionCut) ? kDateTimeFractionCut
                                                                          : 0;
}

// --- Time stamp text ---------------------------------------------------------------

void DSTimestampAdd(char out[16], int32_t n, const char in[16]) {
  if (n == 0) {
    mdr_local_time_text(out);
    return;
  }
  ByteSpan stamp(reinterpret_cast<uint8_t*>(out), 16);
  std::memmove(out, in, 16);
  // Year, month, day, hour, minute, and seconds with hundredths as one number.
  static const int32_t kAt[] = {0, 4, 6, 8, 10, 12};
  static const int32_t kWidth[] = {4, 2, 2, 2, 2, 4};
  int32_t f[6];
  for (int i = 0; i < 6; ++i) {
    if (text_to_int_rounded(&f[i], stamp, kAt[i], kWidth[i]) < 0) {
      std::memset(out, ' ', 16);
      return;
    }
  }
  int32_t& year = f[0];
  int32_t& month = f[1];
  int32_t& day = f[2];
  int32_t& hour = f[3];
  int32_t& minute = f[4];
  int32_t& hundredths = f[5];
  // Every carry keeps its remainder, so an advance past a minute loses no
  // hundredths; months end by the Gregorian rule (2100 has no 29 February).
  int64_t total = int64_t{hundredths} + n;
  int64_t carry = floor_div(total, 6000);
  hundredths = static_cast<int32_t>(floor_mod(total, 6000));
  total = minute + carry;
  carry = floor_div(total, 60);
  minute = static_cast<int32_t>(floor_mod(total, 60));
  total = hour + carry;
  carry = floor_div(total, 24);
  hour = static_cast<int32_t>(floor_mod(total, 24));
  for (; carry > 0; --carry) {
    if (++day > days_in_month(year, month)) {
      day = 1;
      if (++month > 12) {
        month = 1;
        ++year;
      }
    }
  }
  for (; carry < 0; ++carry) {
    if (--day < 1) {
      if (--month < 1) {
        month = 12;
        --year;
      }
      day = days_in_month(year, month);
    }
  }
  for (int i = 0; i < 6; ++i) {
    if (mdr_int_to_text(stamp, kAt[i], kWidth[i], f[i]) != 0 || f[i] < 0) {
      std::memset(out, ' ', 16);  // a field outgrew its width
      return;
    }
  }
  for (int i = 0; i < 16; ++i) {
    if (out[i] == ' ') out[i] = '0';
  }
}
