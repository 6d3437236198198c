// Packed decimals: stored byte forms, text reading and writing, cutting and
// rounding, the integer, double and BCD conversions, the four operations,
// and that byte order is numeric order. The wide random check against an
// outside decimal library is in decimal_reference_test.cc.
#include "platform/packed_decimal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "platform/decimal_arith.h"
#include "platform/decimal_text.h"
#include "platform/tests/decimal_test_util.h"

namespace {

using decimal_test::Dec;
using decimal_test::hex;
using decimal_test::parse;
using decimal_test::shown;
using decimal_test::write_text;

TEST(PackedDecimal, StoredByteForms) {
  struct Case {
    const char* text;
    int p;
    const char* bytes;
  } cases[] = {
      {"1", 1, "C011"},
      {"-1", 1, "3FEE"},
      {"10", 2, "C02100"},
      {"0.05", 1, "BFF5"},
      {"20240315", 8, "C08202403150"},
      {"123.45", 5, "C0312345"},
      {"-10", 2, "3FDEFF"},
      {"0", 3, "800000"},
      {"1E-999", 1, "81A1"},
      {"9E999", 1, "FE89"},
  };
  for (const auto& c : cases) {
    Dec d = parse(c.text, c.p);
    EXPECT_EQ(d.rc, 0) << c.text;
    EXPECT_EQ(hex(d), c.bytes) << c.text;
  }
}

TEST(PackedDecimal, ZeroAndMalformedTexts) {
  for (std::string t : {"0", "-0", "000.000", ".0e5", "  +0.  ", "0e99", "0e-5", "00", "0."}) {
    Dec d = parse(t, 4);
    EXPECT_EQ(d.rc, 0) << t;
    EXPECT_EQ(hex(d), "80000000") << t;
  }
  Dec with_nuls = parse(std::string("12\0\0", 4), 4);
  EXPECT_EQ(with_nuls.rc, 0);
  EXPECT_EQ(hex(with_nuls), "C0212000");
  for (const char* t : {"", "   ", "-", ".", "1e", "1 2", "1e+", "+-1", "1.2.3", "- 1", "1x", ".e5",
                        "1e 5", "1,5", "e5", "--1", "1-"}) {
    Dec d = parse(t, 4);
    EXPECT_EQ(d.rc, 1) << '"' << t << '"';
    EXPECT_EQ(hex(d), "FFFFFFFF") << t;
  }
}

TEST(PackedDecimal, TruncationRoundingAndRange) {
  struct Case {
    const char* text;
    int p, s;
    bool round;
    int rc;
    const char* value;  // as written back in exponent form, or "null"
  } cases[] = {
      {"1.25", 2, -1, false, -1, "1.2E+000"},
      {"1.25", 2, -1, true, -1, "1.3E+000"},
      {"1.24", 2, -1, true, 0, "1.2E+000"},  // rounding down does not warn
      {"999", 2, -1, true, -1, "1.0E+003"},
      {"12.345", 5, 2, false, -1, "1.2340E+001"},
      {"12.345", 5, 2, true, -1, "1.2350E+001"},
      {"123456", 5, 2, false, -2, "null"},
      {"-123456", 5, 2, false, -3, "null"},
      {"99.995", 4, 2, true, -2, "null"},        // the carry leaves no room
      {"1.50", 5, 1, false, -1, "1.5000E+000"},  // more fraction digits than the scale
      {"0.001", 5, 2, false, -1, "0.0000E+000"},
      {"1E1001", 3, -1, false, -2, "null"},
      {"-1E1000", 3, -1, false, -3, "null"},
      {"9.99E999", 3, -1, false, 0, "9.99E+999"},
      {"9.999E999", 3, -1, true, -2, "null"},
      {"1E-999", 3, -1, false, 0, "1.00E-999"},
      {"1E-1000", 3, -1, false, -1, "0.00E+000"},
      {"1e-99999999999", 3, -1, false, -1, "0.00E+000"},
      {"1e99999999999", 3, -1, false, -2, "null"},
      {"123456789012345678901234567890123456789012345678", 45, -1, false, -1,
       "1.23456789012345678901234567890123456789012345E+047"},
      {"1234567890123456789012345678901234567890123456", 45, -1, true, -1,
       "1.23456789012345678901234567890123456789012346E+045"},  // the 46th digit rounds
      {"0.5", 1, 0, true, -1, "1.E+000"},
      {"0.4", 1, 0, true, -1, "0.E+000"},  // more fraction digits than the scale
      {"0.4", 1, -1, true, 0, "4.E-001"},
      {"0.44", 1, -1, true, 0, "4.E-001"},
      {"0.441", 1, -1, true, -1, "4.E-001"},  // a digit beyond the rounding digit
  };
  for (const auto& c : cases) {
    Dec d = parse(c.text, c.p, c.s, c.round);
    EXPECT_EQ(d.rc, c.rc) << c.text << " p" << c.p << " s" << c.s << (c.round ? " round" : "");
    const std::string got = shown(d);
    EXPECT_EQ(got, c.value) << c.text;
  }
}

TEST(PackedDecimal, BadArgumentsStoreNullWithinTheTarget) {
  // Canaries around the target show nothing is written past it.
  for (value_descriptor bad : {value_descriptor{1, 0, -1}, value_descriptor{1, 46, -1},
                               value_descriptor{1, 5, -2}, value_descriptor{1, 5, 6}}) {
    uint8_t area[30];
    std::memset(area, 0xAA, sizeof area);
    const uint8_t text[] = "12";
    EXPECT_EQ(text_to_decimal(area, bad, text, 0, 2), kDecimalBadArgument);
    const int n = bad.precision >= 1 && bad.precision <= 45 ? decimal_bytes(bad.precision) : 1;
    EXPECT_EQ(area[0], 0xAA);
    for (int i = 1; i <= n; ++i) EXPECT_EQ(area[i], 255);
    EXPECT_EQ(area[n + 1], 0xAA);
  }
  uint8_t v[4];
  const value_descriptor d{0, 3, -1};
  const uint8_t text[] = "12";
  EXPECT_EQ(text_to_decimal(v, d, text, 0, -1), kDecimalBadArgument);
  EXPECT_EQ(text_to_decimal(v, d, text, 0, 32769), kDecimalBadArgument);
  EXPECT_EQ(text_to_decimal(v, d, text, 2, 2), kDecimalBadArgument);  // text past its area
  EXPECT_EQ(decimal_compare(v, value_descriptor{0, 0, -1}, v, d), kDecimalBadArgument);
  EXPECT_EQ(decimal_sign(v, value_descriptor{0, 46, -1}), kDecimalBadArgument);
  // A value that does not lie inside its area is refused untouched.
  std::memset(v, 0xAA, sizeof v);
  for (value_descriptor outside : {value_descriptor{2, 3, -1}, value_descriptor{-1, 1, -1},
                                   value_descriptor{4, 0, -1}, value_descriptor{0, 6, -1}}) {
    EXPECT_EQ(text_to_decimal(v, outside, text, 0, 2), kDecimalBadArgument);
    EXPECT_EQ(int_to_decimal(v, outside, 5), kDecimalBadArgument);
    EXPECT_EQ(decimal_set_zero(v, outside), kDecimalBadArgument);
    EXPECT_EQ(decimal_arith(v, outside, v, d, kDecimalAdd, 1), kDecimalBadArgument);
    EXPECT_EQ(decimal_abs(v, outside), kDecimalBadArgument);
  }
  for (uint8_t b : v) EXPECT_EQ(b, 0xAA);
  // The same for sums of two 15-digit values (9 bytes each).
  uint8_t w[12];
  std::memset(w, 0xAA, sizeof w);
  const value_descriptor d15{0, 15, -1};
  for (value_descriptor outside :
       {value_descriptor{4, 15, -1}, value_descriptor{-1, 15, -1}, value_descriptor{12, 15, -1}}) {
    EXPECT_EQ(decimal_arith(w, outside, w, d15, kDecimalAdd, 1), kDecimalBadArgument);
    EXPECT_EQ(decimal_arith(ByteSpan(w, 9), d15, w, outside, kDecimalSubtract, 1),
              kDecimalBadArgument);
    EXPECT_EQ(hex(std::vector<uint8_t>(w, w + 9)), "FFFFFFFFFFFFFFFFFF");  // first made null
    std::memset(w, 0xAA, sizeof w);
  }
  // Descriptor words at the ends of their range are refused, not overflowed.
  for (int32_t extreme : {INT32_MIN, INT32_MAX}) {
    const value_descriptor e{0, extreme, -1};
    EXPECT_EQ(decimal_compare(w, e, w, e), kDecimalBadArgument);
    EXPECT_EQ(decimal_arith(w, e, w, e, kDecimalAdd, 1), kDecimalBadArgument);
    EXPECT_EQ(decimal_arith(w, d15, w, d15, kDecimalAdd, extreme), kDecimalBadArgument);
    EXPECT_EQ(decimal_arith(w, d15, w, d15, extreme, 1), kDecimalBadArgument);
  }
  uint8_t field[8];
  EXPECT_EQ(decimal_to_text(ByteSpan(field, 4), 1, 4, 2, v, d), kDecimalBadArgument);
}

TEST(PackedDecimal, TextWriting) {
  struct Case {
    const char* value;
    int p, format, length;
    int rc;
    const char* text;
  } cases[] = {
      {"0.005", 3, 2, 5, -1, " 0.00"},
      {"0.005", 3, 2, 4, -1, " .00"},
      {"-0.005", 3, 2, 5, -1, " 0.00"},
      {"123", 3, 0, 6, 0, "  123."},
      {"-123.456", 6, 1, 8, -1, "  -123.4"},
      {"-123.456", 6, -2, 5, -1, " -123"},
      {"0.5", 3, -2, 3, -1, "  0"},
      {"-0.5", 3, -2, 3, -1, "  0"},
      {"12345", 5, -2, 6, 0, " 12345"},
      {"12345", 5, -2, 5, -2, "*****"},
      {"-12345", 5, 0, 6, -3, "******"},
      {"0", 3, 2, 5, 0, " 0.00"},
      {"0", 3, -1, 11, 0, "  0.00E+000"},
      {"1.5", 5, -1, 12, 0, " 1.5000E+000"},
      {"-1.5", 5, -1, 10, 0, "-1.50E+000"},
      {"1.5", 5, -1, 7, -2, "*******"},
      {"0.000123", 3, -1, 10, 0, " 1.23E-004"},
      {"0.5", 3, 0, 2, -2, "**"},
      {"0.5", 3, 0, 3, -1, " 0."},
  };
  for (const auto& c : cases) {
    Dec d = parse(c.value, c.p);
    ASSERT_EQ(d.rc, 0) << c.value;
    std::vector<uint8_t> out(c.length + 2, '#');
    const int32_t rc = decimal_to_text(out, 1, c.length, c.format, d.bytes, d.desc);
    EXPECT_EQ(rc, c.rc) << c.value << " f" << c.format << " n" << c.length;
    EXPECT_EQ(std::string(out.begin() + 1, out.end() - 1), c.text)
        << c.value << " f" << c.format << " n" << c.length;
    EXPECT_EQ(out.front(), '#');
    EXPECT_EQ(out.back(), '#');
  }
  // Null and bad arguments fill the field with points.
  Dec null_value = parse("x", 3);
  EXPECT_EQ(write_text(null_value, 2, 4), "....");
  uint8_t out[4];
  Dec d = parse("1", 3);
  EXPECT_EQ(decimal_to_text(out, 0, 4, 46, d.bytes, d.desc), kDecimalBadArgument);
  EXPECT_EQ(std::string(out, out + 4), "....");
}

TEST(PackedDecimal, FittedText) {
  struct Case {
    const char* value;
    int p, format, length;
    int rc;
    std::string text;
  } cases[] = {
      // Exponent e - 1 of 1.5 is 0; 15 is the value written with E+01.
      {"1.5", 5, -1, 10, 0, " 1.500E+00"},
      {"15", 5, -1, 10, 0, " 1.500E+01"},
      {"1.0E+120", 2, -1, 10, -2, "**********"},
      {"-1.0E+120", 2, -1, 10, -3, "**********"},
      {"1.0E-120", 2, -1, 10, -1, "   0.0E+00"},
      {"7", 1, -1, 8, 0, "   7E+00"},
      {"1.25", 3, 0, 3, -1, "  1"},
      {"12345", 5, -2, 5, 0, "12345"},  // the sign position serves a digit
      {"-1234", 5, -2, 5, 0, "-1234"},
      {"-12345", 5, -2, 5, -3, "*****"},
      {"12.5", 5, 1, 60, 0, std::string(56, ' ') + "12.5"},
  };
  for (const auto& c : cases) {
    Dec d = parse(c.value, c.p);
    ASSERT_EQ(d.rc, 0) << c.value;
    std::vector<uint8_t> out(c.length + 2, '#');
    const int32_t rc = decimal_to_fitted_text(out, 1, c.length, c.format, d.bytes, d.desc);
    EXPECT_EQ(rc, c.rc) << c.value;
    EXPECT_EQ(std::string(out.begin() + 1, out.end() - 1), c.text) << c.value;
    EXPECT_EQ(out.front(), '#');
    EXPECT_EQ(out.back(), '#');
  }
}

TEST(DecimalArith, Operations) {
  struct Case {
    const char* a;
    int pa;
    int op;
    const char* b;
    int pb;
    int mode;
    int rc;
    const char* result;  // exponent form at pa digits, or "null"
  } cases[] = {
      {"1", 5, kDecimalDivide, "3", 1, 2, -1, "3.3333E-001"},
      {"1", 5, kDecimalDivide, "3", 1, 1, 0, "3.3333E-001"},
      {"99999", 6, kDecimalAdd, "1", 1, 2, 0, "1.00000E+005"},
      {"99999", 5, kDecimalAdd, "1", 1, 2, 0, "1.0000E+005"},
      {"1.5", 2, kDecimalSubtract, "1.5", 2, 2, 0, "0.0E+000"},
      {"7", 2, kDecimalDivide, "0", 1, 2, -4, "null"},
      {"0", 2, kDecimalDivide, "0", 1, 2, -4, "null"},
      {"1000", 4, kDecimalSubtract, "0.001", 1, 2, -1, "9.999E+002"},
      {"1000", 4, kDecimalAdd, "-0.001", 1, 2, -1, "9.999E+002"},
      {"1000", 4, kDecimalAdd, "0.001", 1, 2, -1, "1.000E+003"},
      {"-1000", 20, kDecimalSubtract, "0.001", 1, 2, 0, "-1.0000010000000000000E+003"},
      {"1", 3, kDecimalSubtract, "0.00001", 45, 2, -1, "9.99E-001"},
      {"0", 3, kDecimalSubtract, "12345", 5, 2, -1, "-1.23E+004"},
      {"0", 3, kDecimalAdd, "12.3", 3, 2, 0, "1.23E+001"},
      {"5", 3, kDecimalAdd, "0", 3, 2, 0, "5.00E+000"},
      {"5", 3, kDecimalMultiply, "0", 3, 2, 0, "0.00E+000"},
      {"0", 3, kDecimalMultiply, "7", 3, 2, 0, "0.00E+000"},
      {"-12", 4, kDecimalMultiply, "12", 2, 2, 0, "-1.440E+002"},
      {"-12", 2, kDecimalMultiply, "-12", 2, 2, -1, "1.4E+002"},
      {"-12", 2, kDecimalMultiply, "-12", 2, 1, 0, "1.4E+002"},
      {"9E999", 1, kDecimalMultiply, "20", 2, 2, -2, "null"},
      {"-9E999", 1, kDecimalMultiply, "20", 2, 2, -3, "null"},
      {"9E999", 1, kDecimalAdd, "9E999", 1, 2, -2, "null"},
      {"1E-998", 1, kDecimalMultiply, "1E-10", 2, 2, -1, "0.E+000"},
      {"1E-998", 1, kDecimalMultiply, "1E-10", 2, 1, 0, "0.E+000"},
      {"1E-998", 1, kDecimalDivide, "1E10", 2, 2, -1, "0.E+000"},
      {"1E999", 1, kDecimalDivide, "1E-10", 2, 2, -2, "null"},
      {"2E-999", 1, kDecimalSubtract, "1.5E-999", 2, 2, -1, "0.E+000"},
      {"100", 5, kDecimalDivide, "8", 1, 2, 0, "1.2500E+001"},
      {"-1", 45, kDecimalDivide, "7", 1, 2, -1,
       "-1.42857142857142857142857142857142857142857142E-001"},
      // Sums and differences of one precision of 12 to 15 digits, whose
      // common cases are worked inline: carries, borrows, cuts, and the
      // cases they hand on (zero, overflow, underflow).
      {"99999999999999.9", 15, kDecimalAdd, "0.1", 15, 2, 0, "1.00000000000000E+014"},
      {"-99999999999999.9", 15, kDecimalSubtract, "0.15", 15, 2, -1, "-1.00000000000000E+014"},
      {"1000", 12, kDecimalSubtract, "0.000000000001", 12, 2, -1, "9.99999999999E+002"},
      {"1000", 13, kDecimalSubtract, "1E-30", 13, 1, 0, "9.999999999999E+002"},
      {"-123.45", 14, kDecimalAdd, "123.4", 14, 2, 0, "-5.0000000000000E-002"},
      {"0.5", 14, kDecimalSubtract, "0.5", 14, 2, 0, "0.0000000000000E+000"},
      {"0", 15, kDecimalSubtract, "-7", 15, 2, 0, "7.00000000000000E+000"},
      {"9.99999999999999E999", 15, kDecimalAdd, "9E999", 15, 2, -2, "null"},
      {"-9E999", 15, kDecimalSubtract, "9E999", 15, 2, -3, "null"},
      {"2E-999", 15, kDecimalSubtract, "1.5E-999", 15, 2, -1, "0.00000000000000E+000"},
  };
  for (const auto& c : cases) {
    Dec a = parse(c.a, c.pa);
    Dec b = parse(c.b, c.pb);
    ASSERT_EQ(a.rc, 0) << c.a;
    ASSERT_EQ(b.rc, 0) << c.b;
    const int32_t rc = decimal_arith(a.bytes, a.desc, b.bytes, b.desc, c.op, c.mode);
    const std::string what = std::string(c.a) + " op" + std::to_string(c.op) + " " + c.b;
    EXPECT_EQ(rc, c.rc) << what;
    const std::string got = shown(a);
    EXPECT_EQ(got, c.result) << what;
  }
  // Null operands, and bad precision, operation or mode leave the first null.
  Dec a = parse("1", 3), null_b = parse("", 3);
  EXPECT_EQ(decimal_arith(a.bytes, a.desc, null_b.bytes, null_b.desc, 1, 1), kDecimalNull);
  EXPECT_EQ(hex(a), "FFFFFF");
  for (auto [op, mode, pb] : {std::tuple{0, 1, 3}, {5, 1, 3}, {1, 0, 3}, {1, 3, 3}, {1, 1, 46}}) {
    Dec x = parse("1", 3), y = parse("1", 3);
    y.desc.precision = pb;
    y.bytes.resize(24);
    EXPECT_EQ(decimal_arith(x.bytes, x.desc, y.bytes, y.desc, op, mode), kDecimalBadArgument);
    EXPECT_EQ(hex(x), "FFFFFF");
  }
}

TEST(PackedDecimal, IntegerConversions) {
  struct Case {
    const char* value;
    int p;
    int rc;
    int32_t out;
  } cases[] = {
      {"2147483647", 10, 0, 2147483647},
      {"2147483648", 10, -2, INT32_MIN},
      {"-2147483648", 10, 0, INT32_MIN},
      {"-2147483649", 10, -3, INT32_MIN},
      {"2147483647.9", 11, -1, 2147483647},
      {"99999999999", 11, -2, INT32_MIN},
      {"0.5", 1, -1, 0},
      {"-12.75", 4, -1, -12},
      {"0", 4, 0, 0},
      {"1E9", 1, 0, 1000000000},
  };
  for (const auto& c : cases) {
    Dec d = parse(c.value, c.p);
    ASSERT_EQ(d.rc, 0) << c.value;
    int32_t out = 77;
    const int32_t rc = decimal_to_int(&out, d.bytes, d.desc);
    EXPECT_EQ(rc, c.rc) << c.value;
    EXPECT_EQ(out, c.out) << c.value;
  }
  Dec null_value = parse("", 3);
  int32_t out = 0;
  EXPECT_EQ(decimal_to_int(&out, null_value.bytes, null_value.desc), kDecimalNull);
  EXPECT_EQ(out, INT32_MIN);

  // 32- and 64-bit integers in and out again, with the scale's room checked.
  for (int64_t x : {int64_t{0}, int64_t{1}, int64_t{-1}, int64_t{INT32_MIN}, int64_t{INT32_MAX},
                    INT64_MAX, INT64_MIN, int64_t{-1234567890123}}) {
    uint8_t v[24];
    const value_descriptor d{0, 19, 0};
    int32_t hi = static_cast<int32_t>(static_cast<uint64_t>(x) >> 32);
    int32_t lo = static_cast<int32_t>(static_cast<uint64_t>(x));
    EXPECT_EQ(int64_to_decimal(v, d, hi, lo), 0) << x;
    int32_t hi2 = 0, lo2 = 0;
    EXPECT_EQ(decimal_to_int64_checked(&hi2, &lo2, v, d), 0) << x;
    EXPECT_EQ(hi2, hi) << x;
    EXPECT_EQ(lo2, lo) << x;
    if (x >= INT32_MIN && x <= INT32_MAX) {
      EXPECT_EQ(int_to_decimal(v, value_descriptor{0, 10, 0}, static_cast<int32_t>(x)), 0);
      decimal_to_int(&out, v, value_descriptor{0, 10, 0});
      EXPECT_EQ(out, x);
    }
  }
  uint8_t v[24];
  EXPECT_EQ(int_to_decimal(v, value_descriptor{0, 5, 2}, 12345), kDecimalOverflowPos);
  EXPECT_EQ(v[0], 255);
  EXPECT_EQ(int_to_decimal(v, value_descriptor{0, 3, -1}, -12345), kDecimalDigitsLost);
  EXPECT_EQ(uint_to_decimal(v, value_descriptor{0, 10, 0}, 4294967295u), 0);
  EXPECT_EQ(hex(std::vector<uint8_t>(v, v + 7)), "C0A42949672950");
}

TEST(PackedDecimal, CompareAcrossPrecisions) {
  struct Case {
    const char* a;
    int pa;
    const char* b;
    int pb;
    int truth;
  } cases[] = {
      {"1.0", 2, "1", 1, 3},        {"-1.5", 2, "-1", 1, 2},   {"-1", 1, "-1.5", 2, 4},
      {"-1", 1, "-1.00", 5, 3},     {"1.00001", 6, "1", 1, 4}, {"1", 1, "1.00001", 6, 2},
      {"-1.00001", 6, "-1", 1, 2},  {"0", 1, "0", 45, 3},      {"0", 3, "-1E-998", 1, 4},
      {"", 15, "1", 15, 1},         {"1", 15, "", 15, 1},      {"-1", 15, "1", 15, 2},
      {"-1.5", 20, "-1.25", 20, 2}, {"1.5", 28, "1.5", 28, 3}, {"1E-30", 12, "1E-31", 12, 4},
      {"", 3, "1", 1, 1},           {"1", 1, "", 3, 1},        {"9E999", 1, "", 2, 1},
  };
  for (const auto& c : cases) {
    Dec a = parse(c.a, c.pa), b = parse(c.b, c.pb);
    EXPECT_EQ(decimal_compare(a.bytes, a.desc, b.bytes, b.desc), c.truth) << c.a << " vs " << c.b;
  }
}

// Byte order of stored values is numeric order, and decimal_compare agrees
// across precisions: checked against exact integer arithmetic on m * 10^-k.
TEST(PackedDecimal, ByteOrderIsNumericOrder) {
  std::mt19937_64 rng(20261210);
  struct Value {
    __int128 scaled;  // m * 10^(12 - k)
    Dec dec;
  };
  auto make = [&]() {
    const int digits = 1 + rng() % 15;
    int64_t m = 0;
    for (int i = 0; i < digits; ++i) m = m * 10 + rng() % 10;
    if (rng() % 2) m = -m;
    const int k = rng() % 13;
    std::string text = std::to_string(m) + "E-" + std::to_string(k);
    __int128 scaled = m;
    for (int i = k; i < 12; ++i) scaled *= 10;
    const int p = 15 + rng() % 31;
    Value v{scaled, parse(text, p)};
    return v;
  };
  std::vector<Value> values;
  for (int i = 0; i < 2000; ++i) values.push_back(make());
  for (size_t i = 0; i + 1 < values.size(); ++i) {
    const Value& a = values[i];
    const Value& b = values[i + 1];
    ASSERT_EQ(a.dec.rc, 0);
    const int expected = a.scaled < b.scaled ? 2 : (a.scaled == b.scaled ? 3 : 4);
    EXPECT_EQ(decimal_compare(a.dec.bytes, a.dec.desc, b.dec.bytes, b.dec.desc), expected);
    // The same values at one precision: a plain byte comparison.
    Dec x = a.dec, y = b.dec;
    x.desc.precision = y.desc.precision = 45;
    x.bytes.assign(24, 0);
    y.bytes.assign(24, 0);
    decimal_assign(x.bytes, x.desc, a.dec.bytes, a.dec.desc);
    decimal_assign(y.bytes, y.desc, b.dec.bytes, b.dec.desc);
    const int c = std::memcmp(x.bytes.data(), y.bytes.data(), 24);
    EXPECT_EQ(c < 0 ? 2 : (c == 0 ? 3 : 4), expected);
    // And at one precision of 8 to 16 stored bytes, where the comparison is
    // two word compares.
    for (int p : {15, 16, 28}) {
      x.desc.precision = y.desc.precision = p;
      x.bytes.assign(decimal_bytes(p), 0);
      y.bytes.assign(decimal_bytes(p), 0);
      decimal_assign(x.bytes, x.desc, a.dec.bytes, a.dec.desc);
      decimal_assign(y.bytes, y.desc, b.dec.bytes, b.dec.desc);
      EXPECT_EQ(decimal_compare(x.bytes, x.desc, y.bytes, y.desc), expected) << p;
    }
  }
}

TEST(PackedDecimal, DoubleConversions) {
  struct Case {
    double x;
    int p, s;
    int rc;
    const char* value;  // exponent form at p digits, or "null"
  } cases[] = {
      {1.5, 5, -1, 0, "1.5000E+000"},
      {0.1, 15, -1, 0, "1.00000000000000E-001"},
      {0.1, 17, -1, 0, "1.0000000000000000E-001"},  // sixteen digits, no binary noise
      {2.0 / 3, 3, -1, 0, "6.67E-001"},             // rounded, and not reported
      {-2.5, 1, -1, 0, "-3.E+000"},
      {1e300, 3, -1, 0, "1.00E+300"},
      {-1e-300, 3, -1, 0, "-1.00E-300"},
      {0.0, 3, -1, 0, "0.00E+000"},
      {123456.0, 5, 2, -2, "null"},
      {std::numeric_limits<double>::quiet_NaN(), 3, -1, -6, "null"},
      {std::numeric_limits<double>::infinity(), 3, -1, -6, "null"},
  };
  for (const auto& c : cases) {
    Dec d = parse("0", c.p, c.s);
    EXPECT_EQ(double_to_decimal(d.bytes, d.desc, c.x), c.rc) << c.x;
    const std::string got = shown(d);
    EXPECT_EQ(got, c.value) << c.x;
  }
  struct Back {
    const char* value;
    int p;
    int rc;
    double x;
  } back[] = {
      {"1.5", 2, 0, 1.5},
      {"-0.001", 1, 0, -0.001},
      {"0", 1, 0, 0.0},
      {"1E300", 1, 0, 1e300},
      {"9E999", 1, -2, 0},
      {"-9E999", 1, -3, 0},
      {"1E-990", 1, 0, 0.0},
      {"1E-310", 1, 0, 1e-310},
      {"", 3, 1, 0},
      {"123456789012345678901234567890123456789012345", 45, 0,
       1.23456789012345678901234567890123456789012345e44},
  };
  const double most_negative = std::bit_cast<double>(0xFFEFFFFFFFFFFFFFull);
  for (const auto& c : back) {
    Dec d = parse(c.value, c.p);
    double x = 99;
    EXPECT_EQ(decimal_to_double(&x, d.bytes, d.desc), c.rc) << c.value;
    EXPECT_EQ(x, c.rc == 0 ? c.x : most_negative) << c.value;
  }
  // A double goes through sixteen significant digits: it comes back within
  // half a unit of the sixteenth digit.
  std::mt19937_64 rng(99);
  for (int i = 0; i < 2000; ++i) {
    double x = std::bit_cast<double>(rng());
    if (!std::isnormal(x)) continue;
    Dec d = parse("0", 17);
    ASSERT_EQ(double_to_decimal(d.bytes, d.desc, x), 0) << x;
    double y = 0;
    ASSERT_EQ(decimal_to_double(&y, d.bytes, d.desc), 0) << x;
    EXPECT_LE(std::fabs(x - y), std::fabs(x) * 1e-15) << x;
  }
}

TEST(PackedDecimal, BcdFields) {
  struct Case {
    const char* bcd;  // hexadecimal BCD bytes
    int bp, bs;       // its precision and scale
    int p, s;         // the decimal's
    int rc;
    const char* value;
  } cases[] = {
      {"12345C", 5, 2, 5, 2, 0, "1.2345E+002"},
      {"12345D", 5, 2, 5, -1, 0, "-1.2345E+002"},
      {"00012C", 5, 0, 3, 0, 0, "1.20E+001"},
      {"00000D", 5, 0, 3, 0, 0, "0.00E+000"},
      {"0012345C", 6, 3, 3, -1, -1, "1.23E+001"},
      {"12345C", 5, 0, 4, 0, -2, "null"},
      {"12345D", 5, 0, 4, 0, -3, "null"},
      {"12345F", 5, 0, 5, 0, -6, "null"},
      {"1A345C", 5, 0, 5, 0, -6, "null"},
      {"1123456C", 6, 0, 6, 0, -6, "null"},  // the pad nibble of an even precision
  };
  auto bytes_of = [](const char* h) {
    std::vector<uint8_t> b;
    for (size_t i = 0; h[i] != 0; i += 2)
      b.push_back(std::stoi(std::string(h + i, 2), nullptr, 16));
    return b;
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> bcd = bytes_of(c.bcd);
    Dec d = parse("0", c.p, c.s);
    EXPECT_EQ(bcd_to_decimal(d.bytes, d.desc, bcd, 0, c.bp, c.bs), c.rc) << c.bcd;
    const std::string got = shown(d);
    EXPECT_EQ(got, c.value) << c.bcd;
  }
  struct Out {
    const char* value;
    int p;
    int bp, bs;
    int rc;
    const char* bcd;
  } outs[] = {
      {"123.45", 5, 5, 2, 0, "12345C"},  {"-123.45", 5, 6, 3, 0, "0123450D"},
      {"123.45", 5, 5, 1, -1, "01234C"}, {"0", 1, 3, 1, 0, "000C"},
      {"12345", 5, 5, 1, -2, "99999D"},  {"-12345", 5, 4, 0, -3, "09999D"},
      {"", 5, 4, 0, 1, "09999D"},        {"0.001", 3, 3, 3, 0, "001C"},
      {"1", 1, 1, 0, 0, "1C"},           {"10", 2, 1, 0, -2, "9D"},
  };
  for (const auto& c : outs) {
    Dec d = parse(c.value, c.p);
    std::vector<uint8_t> bcd(bytes_of(c.bcd).size() + 1, 0xAA);
    EXPECT_EQ(decimal_to_bcd(bcd, 0, c.bp, c.bs, d.bytes, d.desc), c.rc) << c.value;
    EXPECT_EQ(hex(std::vector<uint8_t>(bcd.begin(), bcd.end() - 1)), c.bcd) << c.value;
    EXPECT_EQ(bcd.back(), 0xAA);
  }
  // Round trip of random values through BCD fields of the same shape.
  std::mt19937 rng(5);
  for (int i = 0; i < 500; ++i) {
    const int p = 1 + rng() % 45, s = rng() % (p + 1);
    std::string digits;
    for (int k = 0; k < p; ++k) digits += static_cast<char>('0' + rng() % 10);
    std::string text =
        (rng() % 2 ? "-" : "") + digits.substr(0, p - s) + "." + digits.substr(p - s);
    Dec d = parse(text, p, s);
    ASSERT_EQ(d.rc, 0) << text;
    std::vector<uint8_t> bcd((p + 2) / 2);
    ASSERT_EQ(decimal_to_bcd(bcd, 0, p, s, d.bytes, d.desc), 0) << text;
    Dec back = parse("0", p, s);
    ASSERT_EQ(bcd_to_decimal(back.bytes, back.desc, bcd, 0, p, s), 0) << text;
    EXPECT_EQ(hex(back), hex(d)) << text;
  }
}

TEST(PackedDecimal, InPlaceOperations) {
  struct Case {
    const char* op;
    const char* value;
    int p, s;
    int a1, a2;  // arguments of round (P, S) and truncate (mode, n)
    int rc;
    const char* result;
  } cases[] = {
      {"ceil", "1.5", 2, -1, 0, 0, 0, "2.0E+000"},
      {"ceil", "-1.5", 2, -1, 0, 0, 0, "-1.0E+000"},
      {"floor", "-1.5", 2, -1, 0, 0, 0, "-2.0E+000"},
      {"floor", "1.5", 2, -1, 0, 0, 0, "1.0E+000"},
      {"ceil", "0.25", 2, -1, 0, 0, 0, "1.0E+000"},
      {"floor", "-0.25", 2, -1, 0, 0, 0, "-1.0E+000"},
      {"floor", "0.25", 2, -1, 0, 0, 0, "0.0E+000"},
      {"ceil", "9.5", 2, -1, 0, 0, 0, "1.0E+001"},
      {"ceil", "120", 2, -1, 0, 0, 0, "1.2E+002"},
      {"ceil", "", 2, -1, 0, 0, 1, "null"},
      {"abs", "-12.5", 3, -1, 0, 0, 0, "1.25E+001"},
      {"abs", "12.5", 3, -1, 0, 0, 0, "1.25E+001"},
      {"abs", "", 3, -1, 0, 0, 1, "null"},
      {"round", "123.456", 6, -1, 4, 1, -1, "1.23400E+002"},
      {"round", "123.456", 6, -1, 4, -1, -1, "1.23400E+002"},
      {"round", "123.456", 6, -1, 3, 1, -2, "null"},
      {"round", "-0.0456", 3, -1, 5, 1, -1, "0.00E+000"},
      {"round", "0", 3, -1, 5, 1, 0, "0.00E+000"},
      {"round", "1", 3, -1, 46, 1, -5, "null"},
      {"trunc", "123.456", 6, -1, 1, 2, 0, "1.20000E+002"},
      {"trunc", "125.456", 6, -1, 1, 2, -1, "1.30000E+002"},
      {"trunc", "125.456", 6, -1, 2, 2, -1, "1.20000E+002"},
      {"trunc", "125.456", 6, -1, 3, -1, -1, "1.30000E+002"},
      {"trunc", "125.456", 6, -1, 4, -3, -1, "0.00000E+000"},
      {"trunc", "99.95", 4, 2, 3, 1, -2, "null"},  // 100.0 breaks the scale
      {"trunc", "99.95", 4, -1, 3, 1, -1, "1.000E+002"},
      {"trunc", "1.5", 2, -1, 5, 1, -5, "null"},
      {"trunc", "1.5", 2, -1, 1, 9, 0, "1.5E+000"},
  };
  for (const auto& c : cases) {
    Dec d = parse(c.value, c.p);
    d.desc.scale = c.s;
    int32_t rc = 99;
    const std::string op = c.op;
    if (op == "ceil") rc = decimal_ceiling(d.bytes, d.desc);
    if (op == "floor") rc = decimal_floor(d.bytes, d.desc);
    if (op == "abs") rc = decimal_abs(d.bytes, d.desc);
    if (op == "round") rc = decimal_round(d.bytes, d.desc, c.a1, c.a2);
    if (op == "trunc") rc = decimal_truncate(d.bytes, d.desc, c.a1, c.a2);
    EXPECT_EQ(rc, c.rc) << c.op << " " << c.value;
    const std::string got = shown(d);
    EXPECT_EQ(got, c.result) << c.op << " " << c.value;
  }
}

TEST(PackedDecimal, DigitsInfoAndAssign) {
  struct Info {
    const char* value;
    int p;
    int digits, scale;
  } infos[] = {
      {"0", 5, 1, 0},      {"123.45", 7, 5, 2}, {"123", 7, 3, 0},    {"1.2E10", 5, 2, -1},
      {"0.0012", 5, 4, 4}, {"1200", 5, 4, 0},   {"1E-50", 3, 1, -1}, {"12E-40", 3, 40, 40},
  };
  for (const auto& c : infos) {
    Dec d = parse(c.value, c.p);
    int32_t digits = -9, scale = -9;
    EXPECT_EQ(decimal_digits_info(d.bytes, d.desc, &digits, &scale), 0) << c.value;
    EXPECT_EQ(digits, c.digits) << c.value;
    EXPECT_EQ(scale, c.scale) << c.value;
  }
  struct Assign {
    const char* value;
    int from, to;
    int rc;
    const char* bytes;
  } assigns[] = {
      {"1.5", 2, 5, 0, "C0115000"},  {"-1.5", 2, 5, 0, "3FEEAFFF"}, {"1.25", 3, 2, -1, "C01120"},
      {"-1.25", 3, 2, -1, "3FEEDF"}, {"1.20", 3, 2, 0, "C01120"},   {"12345", 5, 1, -1, "C051"},
      {"", 4, 2, 0, "FFFFFF"},       {"0", 5, 2, 0, "800000"},
  };
  for (const auto& c : assigns) {
    Dec s = parse(c.value, c.from);
    Dec t = parse("0", c.to);
    EXPECT_EQ(decimal_assign(t.bytes, t.desc, s.bytes, s.desc), c.rc) << c.value;
    EXPECT_EQ(hex(t), c.bytes) << c.value;
  }
}

// A first digit of 1..9 and up to p - 1 more, all nines, all zeros or
// random (style 0, 1 or any other of `styles`).
std::string random_digits(std::mt19937_64& rng, int p, int styles) {
  std::string digits(1, static_cast<char>('1' + rng() % 9));
  const int n = 1 + rng() % p;
  const int style = rng() % styles;
  for (int i = 1; i < n; ++i)
    digits += style == 0 ? '9' : style == 1 ? '0' : static_cast<char>('0' + rng() % 10);
  return digits;
}

// What a (op) b must give in a's precision: the same worked at precision
// 30, which the digit rows take, then cut to a's precision; digits cut on
// the way count as lost in mode 2.
struct Expected {
  std::string bytes;
  int32_t rc;
};
Expected through_digit_rows(const Dec& a, const Dec& b, int op, int mode) {
  const value_descriptor wide{0, 30, -1, 0};
  std::vector<uint8_t> w(decimal_bytes(30));
  EXPECT_EQ(decimal_assign(w, wide, a.bytes, a.desc), 0);
  const int32_t rc_wide = decimal_arith(w, wide, b.bytes, b.desc, op, mode);
  Dec cut = parse("0", a.desc.precision);
  const int32_t rc_cut = decimal_assign(cut.bytes, cut.desc, w, wide);
  return {hex(cut), (rc_wide == -1 || (mode == 2 && rc_cut == -1)) ? -1 : rc_wide};
}

// The short path of values up to 15 digits against the digit-row path: the
// same sum, difference or product computed at precision 30 and cut to the
// short precision must give the same bytes and the same digits-lost result.
// Operands are made for carries, borrows and cancellation: runs of nines and
// zeros, close exponents, both signs.
TEST(DecimalArith, ShortPathAgreesWithDigitRows) {
  std::mt19937_64 rng(314);
  auto random_text = [&](int p) {
    const std::string digits = random_digits(rng, p, 4);
    const int e = static_cast<int>(rng() % 21) - 10;
    return std::string(rng() % 2 ? "-" : "") + "0." + digits + "E" + std::to_string(e);
  };
  int checked = 0;
  for (int i = 0; i < 20000; ++i) {
    // Half the cases are of one precision of 12 to 15 digits, which the
    // inline path takes.
    const bool same = i % 2 == 0;
    const int pa = same ? 12 + rng() % 4 : 1 + rng() % 15;
    const int pb = same ? pa : 1 + rng() % 15;
    const int op = 1 + rng() % 3;
    Dec a = parse(random_text(pa), pa);
    Dec b = parse(i % 5 == 0 ? write_text(a, -1, pa + 7) : random_text(pb), i % 5 == 0 ? pa : pb);
    if (i % 7 == 0) {
      // A power of ten against nines one place lower: the difference keeps
      // only digits the short word shifted out.
      const int e = static_cast<int>(rng() % 9) - 4;
      const int nines = 1 + rng() % 15;
      a = parse("1E" + std::to_string(e), pa);
      b = parse((rng() % 2 ? "-0." : "0.") + std::string(nines, '9') + "E" + std::to_string(e), 15);
    }
    ASSERT_EQ(a.rc, 0);
    ASSERT_EQ(b.rc, 0);
    const Expected expected = through_digit_rows(a, b, op, kDecimalReportCut);
    const int32_t rc = decimal_arith(a.bytes, a.desc, b.bytes, b.desc, op, kDecimalReportCut);
    ASSERT_EQ(hex(a), expected.bytes) << "case " << i << " op " << op;
    ASSERT_EQ(rc, expected.rc) << "case " << i << " op " << op;
    ++checked;
  }
  EXPECT_EQ(checked, 20000);
}

// Sums of one precision of 12 to 15 digits (the inline path) against the
// digit rows at precision 30, at the edges the case above leaves out:
// exponents at both ends of the range and results beyond them, zero and
// null operands, differences that cancel many leading digits or all of
// them, carries into a new leading digit, and both modes.
TEST(DecimalArith, InlineSumsAtTheEdges) {
  std::mt19937_64 rng(1618);
  auto exponent = [&](int zone) {
    if (zone == 0) return kDecimalMinExponent + static_cast<int>(rng() % 12);
    if (zone == 1) return kDecimalMaxExponent - static_cast<int>(rng() % 12);
    return static_cast<int>(rng() % 11) - 5;
  };
  auto text = [](bool negative, const std::string& digits, int e) {
    return std::string(negative ? "-" : "") + "0." + digits + "E" + std::to_string(e);
  };
  for (int i = 0; i < 24000; ++i) {
    const int p = 12 + i % 4;
    const int op = 1 + (i / 4) % 2;
    const int mode = 1 + (i / 8) % 2;
    const int zone = rng() % 3;
    const std::string da = random_digits(rng, p, 3);
    const int ea = exponent(zone);
    const bool na = rng() % 2;
    std::string ta = text(na, da, ea), tb;
    switch (rng() % 8) {
      case 0:  // the same magnitude: zero or twice the value
        tb = text(rng() % 2, da, ea);
        break;
      case 1: {  // the last digit moved: nearly all digits cancel
        std::string db = da + std::string(p - da.size(), '0');
        db.back() = static_cast<char>('0' + (db.back() - '0' + 1 + rng() % 8) % 10);
        tb = text(rng() % 2, db, ea);
        break;
      }
      case 2:  // a power of ten against nines one place lower
        ta = text(na, "1", std::max(ea, kDecimalMinExponent + 1));
        tb = text(rng() % 2, std::string(1 + rng() % p, '9'),
                  std::max(ea, kDecimalMinExponent + 1) - 1);
        break;
      case 3:
        tb = "0";
        break;
      case 4:
        tb = rng() % 2 ? "" : "0";  // null or zero
        if (rng() % 2) std::swap(ta, tb);
        break;
      default:
        tb = text(rng() % 2, random_digits(rng, p, 3),
                  std::max(exponent(zone) - static_cast<int>(rng() % 4), kDecimalMinExponent));
        break;
    }
    Dec a = parse(ta, p);
    Dec b = parse(tb, p);
    ASSERT_TRUE(a.rc == 0 || (a.rc == 1 && ta.empty())) << ta;
    ASSERT_TRUE(b.rc == 0 || (b.rc == 1 && tb.empty())) << tb;
    const Expected expected = through_digit_rows(a, b, op, mode);
    const int32_t rc = decimal_arith(a.bytes, a.desc, b.bytes, b.desc, op, mode);
    const std::string what = ta + (op == 1 ? " + " : " - ") + tb + " p " + std::to_string(p);
    ASSERT_EQ(hex(a), expected.bytes) << what;
    ASSERT_EQ(rc, expected.rc) << what;
  }
}

// Byte 0 of 255 is null whatever follows it: a sum with such an operand is
// null, also when the bytes after it read as digits and the other operand
// lies near the top of the exponent range.
TEST(DecimalArith, NullWithAnyTailGivesNull) {
  std::mt19937_64 rng(577);
  for (int i = 0; i < 4000; ++i) {
    const int p = 12 + i % 4;
    const int n = decimal_bytes(p);
    std::vector<uint8_t> null_value(n);
    null_value[0] = 255;
    for (int k = 1; k < n; ++k) null_value[k] = static_cast<uint8_t>(rng() % 4 == 0 ? rng() : 0);
    std::string digits(1, static_cast<char>('1' + rng() % 9));
    for (int k = 1, len = 1 + rng() % 8; k < len; ++k)
      digits += static_cast<char>('0' + rng() % 10);
    const int e = kDecimalMaxExponent - static_cast<int>(rng() % 12);
    Dec value = parse((rng() % 2 ? "-0." : "0.") + digits + "E" + std::to_string(e), p);
    ASSERT_EQ(value.rc, 0);
    const int op = 1 + rng() % 2;
    const bool null_first = rng() % 2;
    std::vector<uint8_t> x = null_first ? null_value : value.bytes;
    const std::vector<uint8_t>& y = null_first ? value.bytes : null_value;
    EXPECT_EQ(decimal_arith(x, value.desc, y, value.desc, op, 1 + rng() % 2), kDecimalNull);
    EXPECT_EQ(hex(x), std::string(2 * n, 'F'));
  }
}

// Stored bytes that no conversion writes (a first digit of 0, digits above
// 9) still give bounded, in-place results: no hang, no write past the value.
TEST(DecimalArith, BadStoredBytesStayContained) {
  const std::vector<std::vector<uint8_t>> odd = {
      {0xC0, 0x10},                    // d1 = 0 without being the zero form
      {0xC0, 0x1F},                    // a digit of 15
      {0x3F, 0xEF},                    // negative with a digit of 0
      {0xC0, 0x10, 0x00, 0x00, 0x00},  // p = 6, all digits 0
      {0xC0, 0x10, 0x00, 0x00, 0x50},  // p = 6, d1 = 0 but later digits
  };
  for (const auto& bytes : odd) {
    const int p = bytes.size() == 2 ? 1 : 6;
    for (int op = 1; op <= 4; ++op) {
      for (bool odd_first : {false, true}) {
        Dec good = parse("7.5", p);
        std::vector<uint8_t> area(bytes.size() + 2, 0xAA), other(bytes.size() + 2, 0xAA);
        std::copy(bytes.begin(), bytes.end(), area.begin() + 1);
        std::copy(good.bytes.begin(), good.bytes.end(), other.begin() + 1);
        const value_descriptor d{1, p, -1, 0};
        if (odd_first)
          decimal_arith(area, d, other, d, op, 2);
        else
          decimal_arith(other, d, area, d, op, 2);
        EXPECT_EQ(area.front(), 0xAA);
        EXPECT_EQ(area.back(), 0xAA);
        EXPECT_EQ(other.front(), 0xAA);
        EXPECT_EQ(other.back(), 0xAA);
      }
    }
    const value_descriptor d{0, p, -1, 0};
    std::vector<uint8_t> text(60);
    decimal_to_text(text, 0, 60, 3, bytes, d);
    decimal_to_text(text, 0, 60, -1, bytes, d);
    double x;
    decimal_to_double(&x, bytes, d);
  }
  // A divisor of zero digits is a division by zero.
  std::vector<uint8_t> zero_digits = {0xC0, 0x10};
  Dec a = parse("5", 1);
  EXPECT_EQ(
      decimal_arith(a.bytes, a.desc, zero_digits, value_descriptor{0, 1, -1, 0}, kDecimalDivide, 1),
      kDecimalDivideByZero);
}

// Random bytes as stored values and random texts through every routine: the
// result codes stay in their sets, nothing is written outside the value or
// field, and what the conversions write is a proper stored form (zero, null,
// or a first digit that is not 0).
TEST(PackedDecimal, RandomBytesAndTextsStayContained) {
  std::mt19937_64 rng(2718);
  auto proper = [](const std::vector<uint8_t>& v, int at) {
    if (v[at] == 255 || v[at] == 128) return true;
    const uint8_t b1 = v[at] >= 128 ? v[at + 1] : static_cast<uint8_t>(~v[at + 1]);
    return (b1 & 15) != 0 && (b1 & 15) <= 9;
  };
  const std::string alphabet = "0123456789+-.eE \x00x";
  for (int i = 0; i < 4000; ++i) {
    // A quarter of the pairs are of one precision of 12 to 15 digits, whose
    // sums are worked inline.
    const bool inline_sum = i % 4 == 0;
    const int p = inline_sum ? 12 + rng() % 4 : 1 + rng() % 45;
    const int q = inline_sum ? p : 1 + rng() % 45;
    const int n = decimal_bytes(p), m = decimal_bytes(q);
    const int s = static_cast<int>(rng() % (p + 2)) - 1;
    std::vector<uint8_t> a(n + 2, 0xAA), b(m + 2, 0xAA);
    for (int k = 1; k <= n; ++k) a[k] = static_cast<uint8_t>(rng());
    for (int k = 1; k <= m; ++k) b[k] = static_cast<uint8_t>(rng());
    const value_descriptor da{1, p, s, 0}, db{1, q, -1, 0};
    const auto canaries = [&](const std::vector<uint8_t>& v) {
      return v.front() == 0xAA && v.back() == 0xAA;
    };
    // Reading routines.
    int32_t i32, hi, lo, digits, scale;
    double x;
    EXPECT_GE(decimal_compare(a, da, b, db), 1);
    decimal_to_int(&i32, a, da);
    decimal_to_int64_checked(&hi, &lo, a, da);
    decimal_to_double(&x, a, da);
    decimal_digits_info(a, da, &digits, &scale);
    std::vector<uint8_t> field(70, 0xAA);
    for (int format : {-2, -1, 0, 3, 45}) {
      const int32_t rc = decimal_to_text(field, 1, 68, format, a, da);
      EXPECT_TRUE(rc >= -6 && rc <= 1) << rc;
      decimal_to_fitted_text(field, 1, 1 + rng() % 68, format, a, da);
      EXPECT_TRUE(canaries(field));
    }
    std::vector<uint8_t> bcd(26, 0xAA);
    decimal_to_bcd(bcd, 1, p, rng() % (p + 1), a, da);
    EXPECT_TRUE(canaries(bcd));
    // Writing routines on a copy.
    for (int op = 0; op < 9; ++op) {
      std::vector<uint8_t> t = a;
      int32_t rc = 0;
      switch (op) {
        case 0:
        case 1:
        case 2:
        case 3:
          rc = decimal_arith(t, da, b, db, op + 1, 2);
          EXPECT_TRUE(rc >= -6 && rc <= 1) << rc;
          break;
        case 4:
          rc = decimal_round(t, da, 1 + rng() % 45, static_cast<int>(rng() % 5) - 1);
          break;
        case 5:
          rc = decimal_truncate(t, da, 1 + rng() % 4, static_cast<int>(rng() % 60) - 10);
          break;
        case 6:
          rc = decimal_ceiling(t, da);
          break;
        case 7:
          rc = decimal_floor(t, da);
          break;
        case 8:
          rc = decimal_abs(t, da);
          break;
      }
      EXPECT_TRUE(canaries(t)) << op;
      (void)rc;
    }
    // Conversions into a value write proper forms.
    std::string text;
    for (int k = 0, len = rng() % 40; k < len; ++k) text += alphabet[rng() % alphabet.size()];
    std::vector<uint8_t> t(n + 2, 0xAA);
    const ConstByteSpan tx(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    for (bool round : {false, true}) {
      const int32_t rc =
          round ? text_to_decimal_rounded(t, da, tx, 0, static_cast<int32_t>(text.size()))
                : text_to_decimal(t, da, tx, 0, static_cast<int32_t>(text.size()));
      EXPECT_TRUE(rc >= -5 && rc <= 1) << text;
      EXPECT_TRUE(canaries(t)) << text;
      EXPECT_TRUE(proper(t, 1)) << text;
    }
    const int bp = 1 + rng() % 45;
    std::vector<uint8_t> raw((bp + 2) / 2);
    for (auto& byte : raw) byte = static_cast<uint8_t>(rng());
    bcd_to_decimal(t, da, raw, 0, bp, rng() % (bp + 1));
    EXPECT_TRUE(canaries(t));
    EXPECT_TRUE(proper(t, 1));
    double_to_decimal(t, da, std::bit_cast<double>(rng()));
    EXPECT_TRUE(canaries(t));
    EXPECT_TRUE(proper(t, 1));
  }
}

}  // namespace
