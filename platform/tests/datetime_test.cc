// DATE, TIME, TIMESTAMP and INTERVAL values: the stored bytes, the calendar
// rules and result codes, text in both directions, and a table of random cases
// whose results Python's datetime computed (tests/data/datetime_cases.txt).
#include "platform/datetime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/decimal_text.h"

namespace {

constexpr value_descriptor kDate{0, 8, 0, kTypeDate};
constexpr value_descriptor kTimestamp6{0, 20, 6, kTypeTimestamp};
constexpr value_descriptor kTime6{0, 12, 6, kTypeTime};
constexpr value_descriptor kSeconds{0, 21, 9, kTypeDayTime};  // SECOND(12,9)
constexpr value_descriptor kMonths{0, 8, 0, kTypeYearMonth};  // MONTH(8)

struct Value {
  uint8_t bytes[kDecimalMaxBytes + 8];
  Value() { std::memset(bytes, 0xEE, sizeof bytes); }
  ByteSpan span() { return ByteSpan(bytes, sizeof bytes); }
};

ConstByteSpan text_span(const std::string& s) {
  return ConstByteSpan(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

int32_t parse(Value* v, const value_descriptor& d, int32_t qualifier, const std::string& text,
              CurrentTimeRoutine now = nullptr) {
  return datetime_from_text(v->span(), d, text_span(text), 0, static_cast<int32_t>(text.size()),
                            qualifier, now);
}

std::string format(Value& v, const value_descriptor& d, int32_t qualifier, int32_t* rc = nullptr,
                   int32_t length = 64) {
  std::vector<uint8_t> out(length + 2, '#');
  int32_t r = datetime_to_text(ByteSpan(out.data() + 1, length), 0, length, v.span(), d, qualifier);
  if (rc) *rc = r;
  EXPECT_EQ(out[0], '#');
  EXPECT_EQ(out[length + 1], '#');
  std::string s(out.begin() + 1, out.end() - 1);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

std::string hex(const Value& v, int n) {
  static const char d[] = "0123456789ABCDEF";
  std::string s;
  for (int i = 0; i < n; ++i) {
    if (i) s += ' ';
    s += {d[v.bytes[i] >> 4], d[v.bytes[i] & 15]};
  }
  return s;
}

Value interval_value(const value_descriptor& d, double amount, int32_t nanos) {
  Value v;
  EXPECT_GE(interval_encode(v.span(), d, amount, nanos), 0);
  return v;
}

// --- Stored bytes ----------------------------------------------------------------

TEST(DateTime, StoredBytes) {
  struct Case {
    value_descriptor d;
    int32_t qualifier;
    std::string text;
    std::string bytes;
    std::string written = "";
  };
  const Case cases[] = {
      {kDate, kQualDate, "2024-03-15", "C0 82 02 40 31 50"},
      {kDate, kQualDate, "0999-12-31", "C0 79 99 12 31 00"},  // year below 1000: e = 7
      {{0, 8, 2, kTypeTime}, kQualTime, "00:00:00.05", "BF E5 00 00 00 00"},
      {{0, 8, 2, kTypeTime}, kQualTime, "00:00:00.5", "C0 05 00 00 00 00", "00:00:00.50"},
      {{0, 8, 2, kTypeTime}, kQualTime, "00:00:00", "80 00 00 00 00 00", "00:00:00.00"},
      {{0, 7, 1, kTypeTime}, kQualTime, "12:30:45.5", "C0 61 23 04 55"},
      {{0, 14, 0, kTypeTimestamp},
       kQualTimestamp,
       "2024-03-15 12:30:45",
       "C0 E2 02 40 31 51 23 04 50"},
  };
  for (const Case& c : cases) {
    Value v;
    EXPECT_EQ(parse(&v, c.d, c.qualifier, c.text), 0) << c.text;
    EXPECT_EQ(hex(v, decimal_bytes(c.d.precision)), c.bytes) << c.text;
    EXPECT_EQ(v.bytes[decimal_bytes(c.d.precision)], 0xEE) << c.text;
    EXPECT_EQ(format(v, c.d, c.qualifier), c.written.empty() ? c.text : c.written) << c.text;
  }
}

// Byte order of the stored values is the order of the values, for TIME values
// below one second as well (the exponent rule for them).
TEST(DateTime, BytesSortLikeValues) {
  std::mt19937 rng(7);
  struct Item {
    int64_t key;
    std::vector<uint8_t> bytes;
  };
  const value_descriptor time9{0, 15, 9, kTypeTime};
  std::vector<Item> items;
  for (int i = 0; i < 2000; ++i) {
    int32_t h = 0, m = 0, s = 0, ns;
    int kind = i % 4;
    if (kind == 0) {
      h = rng() % 24;
      m = rng() % 60;
      s = rng() % 60;
    }
    ns = static_cast<int32_t>(rng() % 1000000000);
    if (kind == 2) ns %= 1000;  // many leading zero fraction digits
    if (kind == 3) ns = (ns % 10) * 100000000;
    Value v;
    ASSERT_EQ(time_encode(v.span(), time9, h, m, s, ns), 0);
    items.push_back({((h * 60LL + m) * 60 + s) * 1000000000LL + ns,
                     std::vector<uint8_t>(v.bytes, v.bytes + decimal_bytes(15))});
    int32_t hh, mm, ss, nn;
    ASSERT_EQ(time_decode(&hh, &mm, &ss, &nn, v.span(), time9), 0);
    ASSERT_EQ(((hh * 60LL + mm) * 60 + ss) * 1000000000LL + nn, items.back().key);
  }
  for (int i = 0; i < 1000; ++i) {
    double amount = static_cast<double>(static_cast<int64_t>(rng() % 2000000) - 1000000);
    int32_t nanos = static_cast<int32_t>(rng() % 1000000000);
    if (amount < 0) nanos = -nanos;
    if (i % 3 == 0) amount = 0;
    Value v = interval_value(kSeconds, amount, nanos);
    items.push_back({static_cast<int64_t>(amount) * 1000000000LL + nanos + (int64_t{1} << 62),
                     std::vector<uint8_t>(v.bytes, v.bytes + decimal_bytes(21))});
  }
  // Times and intervals are sorted separately (they do not share a key).
  auto sorted = [](std::vector<Item> v, bool by_bytes) {
    std::sort(v.begin(), v.end(), [&](const Item& a, const Item& b) {
      return by_bytes ? a.bytes < b.bytes : a.key < b.key;
    });
    std::vector<int64_t> keys;
    for (auto& i : v) keys.push_back(i.key);
    return keys;
  };
  std::vector<Item> times(items.begin(), items.begin() + 2000);
  std::vector<Item> intervals(items.begin() + 2000, items.end());
  EXPECT_EQ(sorted(times, true), sorted(times, false));
  EXPECT_EQ(sorted(intervals, true), sorted(intervals, false));
}

// --- Text, calendar and result codes -------------------------------------------------

TEST(DateTime, TextResultCodes) {
  struct Case {
    value_descriptor d;
    int32_t qualifier;
    std::string text;
    int32_t rc;
  };
  const Case cases[] = {
      {kDate, kQualDate, "2000-02-29", 0},
      {kDate, kQualDate, "1900-02-29", kDateTimeInvalid},
      {kDate, kQualDate, "2100-02-29", kDateTimeInvalid},
      {kDate, kQualDate, "2024-3-15", kDateTimeBadText},
      {kDate, kQualDate, "2024/03/15", kDateTimeBadText},
      {kDate, kQualDate, "02024-03-15", kDateTimeBadText},
      {kDate, kQualDate, "2024-03-15x", kDateTimeBadText},
      {kDate, kQualDate, "  2024-03-15  ", 0},
      {kDate, kQualDate, "", kDateTimeBadText},
      {kDate, kQualDate, "0000-01-01", kDecimalOverflowNeg},
      {kDate, kQualDate, "2024-13-01", kDateTimeInvalid},
      {kTime6, kQualTime, "24:00:00", kDateTimeInvalid},
      {kTime6, kQualTime, "23:60:00", kDateTimeInvalid},
      {kTime6, kQualTime, "23:59:59.1234567", kDateTimeFractionCut},
      {kTime6, kQualTime, "23:59:59.123456000000", 0},
      // Digits past the ninth are not kept, but a nonzero one is still cut.
      {{0, 15, 9, kTypeTime}, kQualTime, "12:30:45.1234567891", kDateTimeFractionCut},
      {kTime6, kQualTime, "12:30:45.123456000009", kDateTimeFractionCut},
      {{0, 6, 0, kTypeTime}, kQualTime, "12:30:45.0000000001", kDateTimeFractionCut},
      {{0, 15, 9, kTypeTime}, kQualTime, "12:30:45.12345678900000000000", 0},
      {{0, 15, 9, kTypeTime}, kQualTime, "TIME '12:30:45.1234567891'", kDateTimeFractionCut},
      {{0, 8, 6, kTypeDayTime}, kQualSecond, "45.0000000001", kDateTimeFractionCut},
      {kTime6, kQualTime, "23:59:59.", 0},
      {kTimestamp6, kQualTimestamp, "2024-03-15 12:30:45.1234567", kDateTimeFractionCut},
      {kTimestamp6, kQualTimestamp, "2024-03-15  12:30:45", kDateTimeBadText},
      {kTimestamp6, kQualDate, "2024-03-15", kDateTimeTypesDoNotFit},
      {kTimestamp6, 17, "2024-03-15", kDateTimeBadOperation},
      {kDate, kQualDate, "DATE '2024-02-30'", kDateTimeInvalid},
      {kDate, kQualDate, "DATE '2024-02-28' x", kDateTimeBadText},
      {kDate, kQualDate, "DATE '2024-02-28", kDateTimeBadText},
      {kDate, kQualDate, "DATUM '2024-02-28'", kDateTimeBadText},
      {kDate, kQualDate, "INTERVAL '1' YEAR", kDateTimeTypesDoNotFit},
      {kDate, kQualDate + kQualLiteralForm, "DATE '2024-02-28'", kDateTimeBadText},
  };
  for (const Case& c : cases) {
    Value v;
    EXPECT_EQ(parse(&v, c.d, c.qualifier, c.text), c.rc) << c.text;
  }
  // Seven fraction digits into six: the first six are kept.
  Value v;
  ASSERT_EQ(parse(&v, kTimestamp6, kQualTimestamp, "2024-03-15 12:30:45.1234567"), 2);
  EXPECT_EQ(format(v, kTimestamp6, kQualTimestamp), "2024-03-15 12:30:45.123456");
}

void fixed_clock(char out[16]) {
  std::memcpy(out, "2031071508090012", 16);
}

TEST(DateTime, TypedLiterals) {
  struct Case {
    value_descriptor d;
    int32_t qualifier;
    std::string text, want;
    int32_t rc;
  };
  const value_descriptor year3{0, 5, 0, kTypeYearMonth};  // YEAR(3): 2 + 3 digits
  const Case cases[] = {
      {kDate, kQualDate, "date'2024-03-15'", "2024-03-15", 0},
      {kTimestamp6, kQualTimestamp, "DATE '2024-03-15'", "2024-03-15 00:00:00.000000", 0},
      {kTimestamp6, kQualTimestamp, "TIME '10:11:12.5'", "2031-07-15 10:11:12.500000", 0},
      {kDate, kQualDate, "TIMESTAMP '2024-03-15 10:11:12'", "2024-03-15", 0},
      {kTime6, kQualTime, "TIMESTAMP '2024-03-15 10:11:12.25'", "10:11:12.250000", 0},
      {kTimestamp6, kQualTimestamp, "TIMESTAMP '2024-03-15 10:11:12.1234567'",
       "2024-03-15 10:11:12.123456", 2},
      {kDate, kQualDate, "TIME '10:11:12'", "", kDateTimeTypesDoNotFit},
      {year3, kQualYear, "INTERVAL '5' YEAR(3)", "5", 0},
      {year3, kQualYear, "interval '-123' year(3)", "-123", 0},
      {year3, kQualYear, "INTERVAL '123' YEAR", "", kDecimalOverflowPos},  // literal is YEAR(2)
      {kMonths, kQualYearToMonth, "INTERVAL '2' YEAR", "2-00", 0},
      {{0, 9, 1, kTypeDayTime},
       kQualDayToSecond,
       "INTERVAL '1 02:03:04.5' DAY TO SECOND(1)",
       "1 02:03:04.5",
       0},
      {{0, 8, 0, kTypeDayTime}, kQualHourToMinute, "INTERVAL '30:15' HOUR TO MINUTE", "30:15", 0},
      {{0, 8, 0, kTypeDayTime}, kQualHourToMinute, "INTERVAL '3' SECOND(1,0)", "0:00", 0},
      {{0, 8, 0, kTypeDayTime}, kQualHourToMinute, "INTERVAL '3' HOUR TO", "", kDateTimeBadText},
      {{0, 8, 0, kTypeDayTime},
       kQualHourToMinute,
       "INTERVAL '3' MINUTE TO HOUR",
       "",
       kDateTimeBadText},
      {{0, 8, 0, kTypeDayTime}, kQualHourToMinute, "INTERVAL '3' YEAR", "", kDateTimeTypesDoNotFit},
  };
  for (const Case& c : cases) {
    Value v;
    int32_t rc = parse(&v, c.d, c.qualifier, c.text, fixed_clock);
    EXPECT_EQ(rc, c.rc) << c.text;
    if (rc >= 0) {
      EXPECT_EQ(format(v, c.d, c.qualifier), c.want) << c.text;
    }
  }
}

TEST(DateTime, TypedLiteralText) {
  struct Case {
    value_descriptor d;
    int32_t qualifier;
    std::string text, literal;
  };
  const Case cases[] = {
      {kDate, kQualDate, "2024-03-15", "DATE'2024-03-15'"},
      {{0, 6, 0, kTypeTime}, kQualTime, "12:30:45", "TIME'12:30:45'"},
      {kTimestamp6, kQualTimestamp, "2024-03-15 12:30:45.5",
       "TIMESTAMP'2024-03-15 12:30:45.500000'"},
      {{0, 5, 0, kTypeYearMonth}, kQualYear, "5", "INTERVAL'5'YEAR(3)"},
      {{0, 4, 0, kTypeYearMonth}, kQualYear, "5", "INTERVAL'5'YEAR"},
      {{0, 4, 0, kTypeYearMonth}, kQualYearToMonth, "-1-6", "INTERVAL'-1-06'YEAR(2) TO MONTH"},
      {{0, 8, 6, kTypeDayTime}, kQualSecond, "7.25", "INTERVAL'7.250000'SECOND"},
      {{0, 5, 2, kTypeDayTime}, kQualSecond, "7.25", "INTERVAL'7.25'SECOND(3,2)"},
      {{0, 9, 6, kTypeDayTime}, kQualSecond, "7.25", "INTERVAL'7.250000'SECOND(3)"},
      {{0, 9, 0, kTypeDayTime}, kQualDayToMinute, "-12 1:2", "INTERVAL'-12 01:02'DAY(4) TO MINUTE"},
      {{0, 9, 3, kTypeDayTime},
       kQualHourToSecond,
       "3:4:5.6",
       "INTERVAL'3:04:05.600'HOUR(2) TO SECOND(3)"},
  };
  for (const Case& c : cases) {
    Value v;
    ASSERT_GE(parse(&v, c.d, c.qualifier, c.text), 0) << c.text;
    EXPECT_EQ(format(v, c.d, c.qualifier + kQualLiteralForm), c.literal) << c.text;
    // And the literal reads back to the same value.
    Value back;
    EXPECT_EQ(parse(&back, c.d, c.qualifier, c.literal, fixed_clock), 0) << c.literal;
    EXPECT_EQ(std::memcmp(back.bytes, v.bytes, decimal_bytes(c.d.precision)), 0) << c.literal;
  }
}

TEST(DateTime, TextFieldLengths) {
  Value v;
  ASSERT_EQ(parse(&v, kTimestamp6, kQualTimestamp, "2024-03-15 12:30:45.123456"), 0);
  int32_t rc;
  EXPECT_EQ(format(v, kTimestamp6, kQualTimestamp, &rc, 26), "2024-03-15 12:30:45.123456");
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(format(v, kTimestamp6, kQualTimestamp, &rc, 23), "2024-03-15 12:30:45.123");
  EXPECT_EQ(rc, 2);
  EXPECT_EQ(format(v, kTimestamp6, kQualTimestamp, &rc, 20), "2024-03-15 12:30:45");
  EXPECT_EQ(rc, 2);
  format(v, kTimestamp6, kQualTimestamp, &rc, 18);
  EXPECT_EQ(rc, -1);
  decimal_set_null(v.span(), kTimestamp6);
  EXPECT_EQ(format(v, kTimestamp6, kQualTimestamp, &rc, 26),
            std::string(26, '#').substr(0, 0) + std::string(26, '#'));
  EXPECT_EQ(rc, kDecimalNull);
  // A field outside the output area is refused.
  uint8_t small[8];
  EXPECT_EQ(datetime_to_text(ByteSpan(small, 8), 4, 8, v.span(), kTimestamp6, kQualTimestamp),
            kDecimalBadArgument);
}

TEST(DateTime, Calendar) {
  EXPECT_TRUE(is_leap_year(2000));
  EXPECT_FALSE(is_leap_year(1900));
  EXPECT_FALSE(is_leap_year(2100));
  EXPECT_TRUE(is_leap_year(2024));
  EXPECT_EQ(day_number(1, 1, 1), 0);
  for (int64_t day : {int64_t{0}, int64_t{59}, int64_t{730119}, int64_t{3652058}}) {
    int64_t y;
    int32_t m, d;
    date_of_day_number(day, &y, &m, &d);
    EXPECT_EQ(day_number(y, m, d), day);
  }
  int32_t h = 23, mi = 59, s = 59, ns = 1500000000;
  EXPECT_EQ(time_normalize(&h, &mi, &s, &ns), 1);
  EXPECT_EQ(h * 10000 + mi * 100 + s, 0);
  EXPECT_EQ(ns, 500000000);
  h = 0, mi = 0, s = -1, ns = -1;
  EXPECT_EQ(time_normalize(&h, &mi, &s, &ns), -1);
  EXPECT_EQ(h * 10000 + mi * 100 + s, 235958);
  EXPECT_EQ(ns, 999999999);
}

// --- Arithmetic ------------------------------------------------------------------------

TEST(DateTime, AddIntervalResultCodes) {
  struct Case {
    value_descriptor d;
    int32_t qualifier;
    std::string start;
    value_descriptor iv;
    double amount;
    int32_t nanos, op, rc;
    std::string want;
  };
  const Case cases[] = {
      {kDate, kQualDate, "2024-01-31", kMonths, 1, 0, kIntervalAdd, kDateTimeInvalid, ""},
      {kDate, kQualDate, "2024-02-29", kMonths, 12, 0, kIntervalSubtract, kDateTimeInvalid, ""},
      {kDate, kQualDate, "2024-02-29", kMonths, 48, 0, kIntervalAdd, 0, "2028-02-29"},
      {kDate, kQualDate, "2024-11-30", kMonths, -11, 0, kIntervalSubtract, 0, "2025-10-30"},
      {kDate, kQualDate, "0001-01-01", kSeconds, 86400, 0, kIntervalSubtract, kDecimalOverflowNeg,
       ""},
      {kDate, kQualDate, "9999-12-31", kSeconds, 86400, 0, kIntervalAdd, kDecimalOverflowPos, ""},
      {kDate, kQualDate, "9999-12-31", kMonths, 1, 0, kIntervalAdd, kDecimalOverflowPos, ""},
      {kDate, kQualDate, "2024-03-15", kSeconds, 86399, 0, kIntervalAdd, 0, "2024-03-15"},
      {kDate, kQualDate, "2024-03-15", kSeconds, -86400 * 2 - 5, 0, kIntervalAdd, 0, "2024-03-13"},
      {{0, 6, 0, kTypeTime}, kQualTime, "23:59:59", kSeconds, 2, 0, kIntervalAdd, 0, "00:00:01"},
      {{0, 6, 0, kTypeTime},
       kQualTime,
       "00:00:01",
       kSeconds,
       86400 * 3 + 2,
       0,
       kIntervalSubtract,
       0,
       "23:59:59"},
      {{0, 6, 0, kTypeTime}, kQualTime, "12:00:00", kMonths, 5, 0, kIntervalAdd, 0, "12:00:00"},
      {{0, 6, 0, kTypeTime},
       kQualTime,
       "12:00:00",
       kSeconds,
       0,
       500000000,
       kIntervalAdd,
       kDateTimeFractionCut,
       "12:00:00"},
      {kTimestamp6, kQualTimestamp, "2024-02-29 23:59:59.5", kSeconds, 0, 500000000, kIntervalAdd,
       0, "2024-03-01 00:00:00.000000"},
      {kTimestamp6, kQualTimestamp, "2024-01-31 10:00:00", kMonths, 1, 0, kIntervalAdd,
       kDateTimeInvalid, ""},
      {kDate, kQualDate, "2024-01-31", kMonths, 1, 0, 3, kDateTimeBadOperation, ""},
      {kDate, kQualDate, "2024-01-31", kDate, 1, 0, kIntervalAdd, kDecimalBadArgument, ""},
  };
  for (const Case& c : cases) {
    Value v;
    ASSERT_EQ(parse(&v, c.d, c.qualifier, c.start), 0) << c.start;
    Value before = v;
    Value iv = c.iv.type == kTypeDate ? v : interval_value(c.iv, c.amount, c.nanos);
    EXPECT_EQ(datetime_add_interval(v.span(), c.d, iv.span(), c.iv, c.op), c.rc)
        << c.start << " " << c.amount;
    if (c.rc >= 0) {
      EXPECT_EQ(format(v, c.d, c.qualifier), c.want) << c.start << " " << c.amount;
    } else {
      EXPECT_EQ(std::memcmp(v.bytes, before.bytes, sizeof v.bytes), 0) << "changed on error";
    }
  }
  // A null operand makes the result null.
  Value v, iv;
  ASSERT_EQ(parse(&v, kDate, kQualDate, "2024-03-15"), 0);
  decimal_set_null(iv.span(), kMonths);
  EXPECT_EQ(datetime_add_interval(v.span(), kDate, iv.span(), kMonths, kIntervalAdd), 1);
  EXPECT_EQ(v.bytes[0], 255);
}

TEST(DateTime, WeeksDifferencesExtractAndCasts) {
  Value a, b;
  int32_t week = 0;
  ASSERT_EQ(parse(&a, kDate, kQualDate, "2021-01-03"), 0);
  EXPECT_EQ(datetime_week(&week, a.span(), kDate, 0), 0);
  EXPECT_EQ(week, 53);
  ASSERT_EQ(parse(&a, kDate, kQualDate, "2024-12-30"), 0);
  EXPECT_EQ(datetime_week(&week, a.span(), kDate, 0), 0);
  EXPECT_EQ(week, 1);
  EXPECT_EQ(datetime_week(&week, a.span(), kDate, 1), kDateTimeBadOperation);
  EXPECT_EQ(datetime_week(&week, a.span(), kTime6, 0), kDecimalBadArgument);

  // Differences: seconds and nanoseconds carry one sign.
  ASSERT_EQ(parse(&a, kTimestamp6, kQualTimestamp, "2024-03-15 00:00:00.25"), 0);
  ASSERT_EQ(parse(&b, kTimestamp6, kQualTimestamp, "2024-03-15 00:00:01.5"), 0);
  Value out;
  EXPECT_EQ(datetime_difference(out.span(), kSeconds, a.span(), kTimestamp6, b.span(), kTimestamp6),
            0);
  double amount;
  int32_t nanos;
  ASSERT_EQ(interval_decode(&amount, &nanos, out.span(), kSeconds), 0);
  EXPECT_EQ(amount, -1);
  EXPECT_EQ(nanos, -250000000);
  EXPECT_EQ(datetime_difference(out.span(), kSeconds, a.span(), kTimestamp6, b.span(), kDate),
            kDateTimeTypesDoNotFit);

  // EXTRACT from datetimes and intervals.
  const value_descriptor number{0, 20, 9, kTypeDayTime};
  struct Case {
    value_descriptor d;
    int32_t qualifier;
    std::string text;
    int32_t field;
    double amount;
    int32_t nanos, rc;
  };
  const Case cases[] = {
      {kTimestamp6, kQualTimestamp, "2024-03-15 12:30:45.5", kExtractYear, 2024, 0, 0},
      {kTimestamp6, kQualTimestamp, "2024-03-15 12:30:45.5", kExtractSecond, 45, 500000000, 0},
      {kTimestamp6, kQualTimestamp, "2024-03-15 12:30:45.5", kExtractFraction, 500000000, 0, 0},
      {kDate, kQualDate, "2024-03-15", kExtractHour, 0, 0, kDateTimeTypesDoNotFit},
      {{0, 6, 0, kTypeDayTime}, kQualHour, "30", kExtractHour, 30, 0, 0},
      {{0, 7, 0, kTypeDayTime}, kQualDayToHour, "1 06", kExtractHour, 6, 0, 0},
      {{0, 7, 0, kTypeDayTime}, kQualDayToHour, "-1 06", kExtractHour, -6, 0, 0},
      {{0, 4, 0, kTypeYearMonth}, kQualYearToMonth, "-1-6", kExtractMonth, -6, 0, 0},
      {{0, 4, 0, kTypeYearMonth}, kQualYearToMonth, "-1-6", kExtractYear, -1, 0, 0},
      {{0, 4, 0, kTypeYearMonth}, kQualYearToMonth, "-1-6", 8, 0, 0, kDateTimeBadOperation},
  };
  for (const Case& c : cases) {
    Value v;
    ASSERT_EQ(parse(&v, c.d, c.qualifier, c.text), 0) << c.text;
    EXPECT_EQ(datetime_extract(out.span(), number, v.span(), c.d, c.field, c.qualifier), c.rc)
        << c.text << " field " << c.field;
    if (c.rc == 0) {
      ASSERT_EQ(interval_decode(&amount, &nanos, out.span(), number), 0);
      EXPECT_EQ(amount, c.amount) << c.text << " field " << c.field;
      EXPECT_EQ(nanos, c.nanos) << c.text << " field " << c.field;
    }
  }

  // Casts: a TIMESTAMP to fewer fraction digits, an interval to a coarser
  // qualifier, and one whose leading field no longer fits.
  Value v;
  value_descriptor d = kTimestamp6;
  ASSERT_EQ(parse(&v, d, kQualTimestamp, "2024-03-15 12:30:45.123456"), 0);
  EXPECT_EQ(datetime_cast(v.span(), &d, 16, 2, kQualTimestamp), kDateTimeFractionCut);
  EXPECT_EQ(d.precision, 16);
  EXPECT_EQ(format(v, d, kQualTimestamp), "2024-03-15 12:30:45.12");
  value_descriptor iv{0, 11, 0, kTypeDayTime};  // DAY(6) TO SECOND(0)
  ASSERT_EQ(parse(&v, iv, kQualDayToSecond, "3 04:05:06"), 0);
  EXPECT_EQ(datetime_cast(v.span(), &iv, 9, 0, kQualDayToHour), 0);
  EXPECT_EQ(format(v, iv, kQualDayToHour), "3 04");
  EXPECT_EQ(datetime_cast(v.span(), &iv, 6, 0, kQualHour), 0);  // HOUR(2): 76 hours
  EXPECT_EQ(format(v, iv, kQualHour), "76");
  EXPECT_EQ(datetime_cast(v.span(), &iv, 5, 0, kQualDay), kDecimalOverflowPos);  // DAY(0)
  EXPECT_EQ(datetime_cast(v.span(), &iv, 6, 0, kQualYear), kDateTimeTypesDoNotFit);
}

// --- Intervals ---------------------------------------------------------------------------

TEST(Interval, TextAndStoredValues) {
  struct Case {
    int32_t qualifier;
    value_descriptor d;
    std::string text;
    int32_t rc;
    double amount;
    int32_t nanos;
    std::string written;
  };
  const value_descriptor ym{0, 4, 0, kTypeYearMonth};   // YEAR(2) TO MONTH
  const value_descriptor day2{0, 7, 0, kTypeDayTime};   // DAY(2)
  const value_descriptor ds1{0, 8, 1, kTypeDayTime};    // DAY(2) TO SECOND(1)
  const value_descriptor sec{0, 8, 6, kTypeDayTime};    // SECOND(2,6)
  const value_descriptor mi2s{0, 10, 6, kTypeDayTime};  // MINUTE(2) TO SECOND(6)
  const Case cases[] = {
      {kQualYearToMonth, ym, "-1-6", 0, -18, 0, "-1-06"},
      {kQualYearToMonth, ym, "+1-11", 0, 23, 0, "1-11"},
      {kQualYearToMonth, ym, "1-12", kDateTimeInvalid, 0, 0, ""},
      {kQualYearToMonth, ym, "100-0", kDecimalOverflowPos, 0, 0, ""},
      {kQualYearToMonth, ym, "1--6", kDateTimeBadText, 0, 0, ""},
      {kQualDayToSecond, ds1, "1 02:03:04.5", 0, 93784, 500000000, "1 02:03:04.5"},
      {kQualDayToSecond, ds1, "1 2:3:4.56", kDateTimeFractionCut, 93784, 500000000, "1 02:03:04.5"},
      {kQualDayToSecond, ds1, "-0 00:00:00.5", 0, 0, -500000000, "-0 00:00:00.5"},
      {kQualDay, day2, "100", kDecimalOverflowPos, 0, 0, ""},
      {kQualDay, day2, "-100", kDecimalOverflowNeg, 0, 0, ""},
      {kQualDay, day2, "99", 0, 99 * 86400.0, 0, "99"},
      {kQualDayToHour, {0, 7, 0, kTypeDayTime}, "1 24", kDateTimeInvalid, 0, 0, ""},
      {kQualDayToHour, {0, 7, 0, kTypeDayTime}, "1 1000", kDateTimeBadText, 0, 0, ""},
      {kQualSecond, sec, "59.000001", 0, 59, 1000, "59.000001"},
      {kQualSecond, sec, "  -7  ", 0, -7, 0, "-7.000000"},
      {kQualMinuteToSecond, mi2s, "99:59.999999", 0, 99 * 60 + 59, 999999000, "99:59.999999"},
      {kQualMinuteToSecond, mi2s, "5:60", kDateTimeInvalid, 0, 0, ""},
      {kQualMinuteToSecond, mi2s, "5:", kDateTimeBadText, 0, 0, ""},
  };
  for (const Case& c : cases) {
    Value v;
    int32_t rc = parse(&v, c.d, c.qualifier, c.text);
    EXPECT_EQ(rc, c.rc) << c.text;
    if (rc < 0) continue;
    double amount;
    int32_t nanos;
    ASSERT_EQ(interval_decode(&amount, &nanos, v.span(), c.d), 0);
    EXPECT_EQ(amount, c.amount) << c.text;
    EXPECT_EQ(nanos, c.nanos) << c.text;
    EXPECT_EQ(format(v, c.d, c.qualifier), c.written) << c.text;
  }
}

TEST(Interval, PrecisionRulesAndNumbers) {
  struct Case {
    int32_t qualifier, fraction, leading, precision, scale;
  };
  const Case cases[] = {
      {kQualDate, 6, 2, 8, 0},         {kQualTime, 3, 2, 9, 3},
      {kQualTimestamp, 6, 2, 20, 6},   {kQualYear, 6, 2, 4, 0},
      {kQualMonth, 6, 3, 3, 0},        {kQualDay, 6, 2, 7, 0},
      {kQualSecond, 6, 2, 8, 6},       {kQualDayToSecond, 1, 2, 8, 1},
      {kQualHourToMinute, 6, 3, 7, 0}, {kQualMinuteToSecond, 0, 2, 4, 0},
  };
  for (const Case& c : cases) {
    int32_t f = c.fraction, l = c.leading, p = -1, s = -1;
    ASSERT_EQ(interval_precision(c.qualifier, &f, &l, &p, &s), 0);
    EXPECT_EQ(p, c.precision) << c.qualifier;
    EXPECT_EQ(s, c.scale) << c.qualifier;
    if (c.qualifier > kQualTimestamp) {
      f = l = -1;
      ASSERT_EQ(interval_precision(c.qualifier, &f, &l, &p, &s), 0);
      EXPECT_EQ(l, c.leading) << c.qualifier;
    }
  }
  int32_t f = 0, l = 0, p = -1, s = -1;
  EXPECT_EQ(interval_precision(17, &f, &l, &p, &s), kDecimalBadArgument);
  EXPECT_EQ(interval_qualifier_info(kQualDayToHour + kQualLiteralForm), kTypeDayTime);
  EXPECT_EQ(interval_qualifier_info(0), kDecimalBadArgument);

  // Numbers to single-field intervals.
  struct Number {
    std::string text;
    value_descriptor target;
    int32_t unit, rc;
    double amount;
    int32_t nanos;
  };
  const value_descriptor months{0, 4, 0, kTypeYearMonth};
  const Number numbers[] = {
      {"3", months, 4, 0, 36, 0},
      {"-99.9", months, 4, 0, -99 * 12, 0},
      {"100", months, 4, kDecimalOverflowPos, 0, 0},
      {"-100", months, 4, kDecimalOverflowNeg, 0, 0},
      {"2.5", {0, 8, 6, kTypeDayTime}, 9, 0, 2, 500000000},
      {"2.5", {0, 7, 0, kTypeDayTime}, 6, 0, 2 * 86400, 0},
      {"2.9", {0, 6, 0, kTypeDayTime}, 7, 0, 2 * 3600, 0},
      {"-3", {0, 4, 0, kTypeDayTime}, 8, 0, -180, 0},
      {"100", {0, 4, 0, kTypeDayTime}, 8, kDecimalOverflowPos, 0, 0},
      {"750000", {0, 8, 6, kTypeDayTime}, 10, 0, 0, 750000},
      {"750", {0, 8, 6, kTypeDayTime}, 10, 0, 0, 0},  // below the six fraction digits
      // The number is read as the number it is, then held to the interval's
      // leading precision, however far its exponent lies from the interval's.
      {"1E13", months, 5, kDecimalOverflowPos, 0, 0},
      {"-1E13", months, 5, kDecimalOverflowNeg, 0, 0},
      {"1E300", {0, 8, 6, kTypeDayTime}, 9, kDecimalOverflowPos, 0, 0},
      {"1E13", {0, 8, 6, kTypeDayTime}, 10, kDecimalOverflowPos, 0, 0},
      {"1E-11", {0, 8, 6, kTypeDayTime}, 9, 0, 0, 0},
      {"-1E-300", {0, 8, 6, kTypeDayTime}, 9, 0, 0, 0},
      {"1.000000001E-1", {0, 8, 6, kTypeDayTime}, 9, 0, 0, 100000000},
      {"123456789.5", {0, 18, 6, kTypeDayTime}, 9, 0, 123456789, 500000000},
      {"3", months, 6, kDateTimeTypesDoNotFit, 0, 0},
      {"3", months, 11, kDateTimeBadOperation, 0, 0},
  };
  for (const Number& n : numbers) {
    uint8_t src[24];
    const value_descriptor dec{0, 10, -1, 0};
    text_to_decimal(ByteSpan(src), dec, text_span(n.text), 0, static_cast<int32_t>(n.text.size()));
    Value v;
    EXPECT_EQ(interval_from_number(v.span(), n.target, ConstByteSpan(src), dec, n.unit), n.rc)
        << n.text << " unit " << n.unit;
    if (n.rc != 0) continue;
    double amount;
    int32_t nanos;
    ASSERT_EQ(interval_decode(&amount, &nanos, v.span(), n.target), 0);
    EXPECT_EQ(amount, n.amount) << n.text;
    EXPECT_EQ(nanos, n.nanos) << n.text;
  }
}

// --- The outside reference ------------------------------------------------------------

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> f;
  std::stringstream ss(line);
  std::string item;
  while (std::getline(ss, item, '|')) f.push_back(item);
  return f;
}

std::string date_after(const std::string& date, int32_t qualifier, const value_descriptor& d,
                       const value_descriptor& iv, double amount, int32_t nanos,
                       int32_t operation = kIntervalAdd) {
  Value v;
  EXPECT_EQ(parse(&v, d, qualifier, date), 0) << date;
  Value i = interval_value(iv, amount, nanos);
  int32_t rc = datetime_add_interval(v.span(), d, i.span(), iv, operation);
  if (rc < 0) return std::to_string(rc);
  return format(v, d, qualifier);
}

TEST(DateTime, AgreesWithPythonDatetime) {
  std::ifstream in(HARBOUND_TEST_DATA "/datetime_cases.txt");
  ASSERT_TRUE(in.good());
  std::string line;
  int checked = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    auto f = split(line);
    const std::string& op = f[0];
    ++checked;
    if (op == "date_text") {
      Value v;
      EXPECT_EQ(parse(&v, kDate, kQualDate, f[1]), std::stoi(f[2])) << line;
    } else if (op == "add_days") {
      EXPECT_EQ(date_after(f[1], kQualDate, kDate, kSeconds, std::stod(f[2]) * 86400, 0), f[3])
          << line;
    } else if (op == "add_months") {
      EXPECT_EQ(date_after(f[1], kQualDate, kDate, kMonths, std::stod(f[2]), 0), f[3]) << line;
    } else if (op == "ts_add") {
      EXPECT_EQ(date_after(f[1], kQualTimestamp, kTimestamp6, kSeconds, std::stod(f[2]),
                           std::stoi(f[3]) * 1000),
                f[4])
          << line;
    } else if (op == "time_add") {
      EXPECT_EQ(
          date_after(f[1], kQualTime, kTime6, kSeconds, std::stod(f[2]), std::stoi(f[3]) * 1000),
          f[4])
          << line;
    } else if (op == "ts_diff" || op == "ym_diff" || op == "date_diff" || op == "time_diff") {
      const bool ym = op == "ym_diff";
      const bool time = op == "time_diff";
      const value_descriptor& d = op == "ts_diff" ? kTimestamp6 : time ? kTime6 : kDate;
      const int32_t q = op == "ts_diff" ? kQualTimestamp : time ? kQualTime : kQualDate;
      Value a, b, out;
      ASSERT_EQ(parse(&a, d, q, f[1]), 0) << line;
      ASSERT_EQ(parse(&b, d, q, f[2]), 0) << line;
      const value_descriptor& o = ym ? kMonths : kSeconds;
      ASSERT_EQ(datetime_difference(out.span(), o, a.span(), d, b.span(), d), 0) << line;
      double amount;
      int32_t nanos;
      ASSERT_EQ(interval_decode(&amount, &nanos, out.span(), o), 0);
      EXPECT_EQ(amount, std::stod(f[3])) << line;
      EXPECT_EQ(nanos, f.size() > 4 ? std::stoi(f[4]) * 1000 : 0) << line;
    } else if (op == "week") {
      Value v;
      ASSERT_EQ(parse(&v, kDate, kQualDate, f[1]), 0);
      int32_t week = 0;
      ASSERT_EQ(datetime_week(&week, v.span(), kDate, 0), 0);
      EXPECT_EQ(week, std::stoi(f[2])) << line;
    } else if (op == "day") {
      Value v;
      ASSERT_EQ(parse(&v, kDate, kQualDate, f[1]), 0);
      int32_t y, m, d;
      ASSERT_EQ(date_decode(&y, &m, &d, v.span(), kDate), 0);
      int64_t n = day_number(y, m, d);
      EXPECT_EQ(n, std::stoll(f[2])) << line;
      EXPECT_EQ(n % 7, std::stoi(f[3])) << line;
    } else if (op == "ds_interval") {
      const value_descriptor ds{0, 17, 6, kTypeDayTime};  // DAY(6) TO SECOND(6)
      Value v;
      ASSERT_EQ(parse(&v, ds, kQualDayToSecond, f[1]), 0) << line;
      double amount;
      int32_t nanos;
      ASSERT_EQ(interval_decode(&amount, &nanos, v.span(), ds), 0);
      EXPECT_EQ(amount, std::stod(f[2])) << line;
      EXPECT_EQ(nanos, std::stoi(f[3]) * 1000) << line;
      EXPECT_EQ(format(v, ds, kQualDayToSecond), f[1]) << line;
    } else if (op == "ts_text" || op == "time_text") {
      const bool ts = op == "ts_text";
      Value v;
      EXPECT_EQ(parse(&v, ts ? kTimestamp6 : kTime6, ts ? kQualTimestamp : kQualTime, f[1]),
                std::stoi(f[2]))
          << line;
    } else if (op == "frac_text") {
      const bool ts = f[1] == "ts";
      const int32_t fraction = std::stoi(f[2]);
      const value_descriptor d{0, (ts ? 14 : 6) + fraction, fraction,
                               ts ? kTypeTimestamp : kTypeTime};
      const int32_t q = ts ? kQualTimestamp : kQualTime;
      Value v;
      EXPECT_EQ(parse(&v, d, q, f[3]), std::stoi(f[4])) << line;
      EXPECT_EQ(format(v, d, q), f[5]) << line;
    } else if (op == "ts_format" || op == "time_format") {
      const bool ts = op == "ts_format";
      std::vector<int32_t> n;
      for (size_t i = 1; i + 2 < f.size(); ++i) n.push_back(std::stoi(f[i]));
      const int32_t fraction = n.back();
      Value v;
      int32_t rc;
      value_descriptor d;
      if (ts) {
        d = value_descriptor{0, 14 + fraction, fraction, kTypeTimestamp};
        rc = timestamp_encode(v.span(), d, n[0], n[1], n[2], n[3], n[4], n[5], n[6] * 1000);
      } else {
        d = value_descriptor{0, 6 + fraction, fraction, kTypeTime};
        rc = time_encode(v.span(), d, n[0], n[1], n[2], n[3] * 1000);
      }
      EXPECT_EQ(rc, std::stoi(f[f.size() - 1])) << line;
      int32_t text_rc = -99;
      EXPECT_EQ(format(v, d, ts ? kQualTimestamp : kQualTime, &text_rc), f[f.size() - 2]) << line;
      EXPECT_EQ(text_rc, 0) << line;
      // The typed-literal form wraps the same text.
      EXPECT_EQ(format(v, d, (ts ? kQualTimestamp : kQualTime) + kQualLiteralForm),
                (ts ? "TIMESTAMP'" : "TIME'") + f[f.size() - 2] + "'")
          << line;
    } else if (op == "ts_sub") {
      EXPECT_EQ(date_after(f[1], kQualTimestamp, kTimestamp6, kSeconds, std::stod(f[2]),
                           std::stoi(f[3]) * 1000, kIntervalSubtract),
                f[4])
          << line;
    } else if (op == "sub_months") {
      EXPECT_EQ(date_after(f[1], kQualDate, kDate, kMonths, std::stod(f[2]), 0, kIntervalSubtract),
                f[3])
          << line;
    } else if (op == "ym_interval") {
      const value_descriptor ym{0, 6, 0, kTypeYearMonth};  // YEAR(4) TO MONTH
      Value v;
      ASSERT_EQ(parse(&v, ym, kQualYearToMonth, f[1]), 0) << line;
      double amount;
      ASSERT_EQ(interval_decode(&amount, nullptr, v.span(), ym), 0);
      EXPECT_EQ(amount, std::stod(f[2])) << line;
      EXPECT_EQ(format(v, ym, kQualYearToMonth), f[3]) << line;
    } else {
      ADD_FAILURE() << "unknown case " << line;
    }
  }
  EXPECT_GT(checked, 1500);
}

}  // namespace

namespace {

std::string stamp_add(const std::string& in, int32_t n) {
  char out[17] = {};
  DSTimestampAdd(out, n, in.c_str());
  return std::string(out, 16);
}

TEST(DSTimestampAdd, AdvancesTheStampText) {
  struct Case {
    std::string in;
    int32_t n;
    std::string out;
  };
  const Case cases[] = {
      {"2024022823595999", 1, "2024022900000000"},
      {"2023022823595999", 1, "2023030100000000"},
      {"2100022823595999", 1, "2100030100000000"},  // 2100 is not a leap year
      {"2000022823595999", 1, "2000022900000000"},  // 2000 is
      {"2024123123595999", 1, "2025010100000000"},
      {"2024010100005990", 50, "2024010100010040"},  // the rest of the carry is kept
      {"2024013123000000", 8640000, "2024020123000000"},
      {"2024030100000000", -1, "2024022923595999"},
      {"2024 1 1 0 0  10", 5, "2024010100000015"},
      {"2024AB0100000000", 1, "                "},
      {"9999123123595999", 1, "                "},
  };
  for (const Case& c : cases) EXPECT_EQ(stamp_add(c.in, c.n), c.out) << c.in << " + " << c.n;
  std::string now = stamp_add("0000000000000000", 0);
  EXPECT_EQ(now.find_first_not_of("0123456789"), std::string::npos) << now;
  EXPECT_GT(now, "2020");
}

}  // namespace

namespace {

// Malformed texts and stored bytes of every kind: the routines give result
// codes and never write outside the value or the text field (the sanitizer
// builds check the reads).
TEST(DateTime, MalformedInputNeverOverruns) {
  std::mt19937 rng(11);
  const char alphabet[] = "0123456789 -:.+'()TOYEARDAYtimestampINTERVALSECONDMINUTEHOUR,x";
  const value_descriptor descriptors[] = {kDate,
                                          kTime6,
                                          kTimestamp6,
                                          {0, 4, 0, kTypeYearMonth},
                                          {0, 8, 1, kTypeDayTime},
                                          {0, 26, 9, kTypeDayTime}};
  const int32_t qualifiers[] = {kQualDate,        kQualTime,        kQualTimestamp,
                                kQualYearToMonth, kQualDayToSecond, kQualSecond};
  for (int round = 0; round < 3000; ++round) {
    const int k = round % 6;
    const value_descriptor& d = descriptors[k];
    std::string text;
    const int length = rng() % 40;
    for (int i = 0; i < length; ++i) text += alphabet[rng() % (sizeof alphabet - 1)];
    if (round % 5 == 0) text = "INTERVAL '" + text + "' DAY TO SECOND(3)";
    std::vector<uint8_t> area(decimal_bytes(d.precision) + 2, 0xA5);
    const int32_t rc =
        datetime_from_text(ByteSpan(area.data() + 1, area.size() - 2), d, text_span(text), 0,
                           static_cast<int32_t>(text.size()), qualifiers[k], fixed_clock);
    EXPECT_GE(rc, -9) << text;
    EXPECT_EQ(area.front(), 0xA5);
    EXPECT_EQ(area.back(), 0xA5);

    // Random stored bytes: decode, format, add, week and extract.
    Value v;
    for (int i = 0; i < decimal_bytes(d.precision); ++i) v.bytes[i] = rng() & 0xFF;
    int32_t out_rc;
    format(v, d, qualifiers[k], &out_rc, 40);
    Value iv = interval_value(kSeconds, static_cast<double>(rng() % 100000), 0);
    datetime_add_interval(v.span(), d, iv.span(), kSeconds, kIntervalAdd);
    int32_t week;
    datetime_week(&week, v.span(), d, 0);
    Value out;
    datetime_extract(out.span(), kSeconds, v.span(), d, 1 + rng() % 7, qualifiers[k]);
    EXPECT_EQ(v.bytes[kDecimalMaxBytes], 0xEE);
    EXPECT_EQ(out.bytes[kDecimalMaxBytes], 0xEE);
  }
  // A value descriptor that reaches past its area is refused.
  uint8_t small[4] = {};
  EXPECT_EQ(date_encode(ByteSpan(small), kDate, 2024, 1, 1), kDecimalBadArgument);
  EXPECT_EQ(interval_encode(ByteSpan(small), kSeconds, 1, 0), kDecimalBadArgument);
  Value v;
  EXPECT_EQ(interval_encode(v.span(), kSeconds, 1.0 / 0.0, 0), kDecimalBadArgument);
}

}  // namespace
