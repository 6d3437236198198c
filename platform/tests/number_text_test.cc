// Integer and float fields, integer text in fixed fields, and number text:
// tables of cases, and random number texts read against the C library's
// strtod as the reference.
#include "platform/number_text.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytes_of(const std::string& s) {
  return {s.begin(), s.end()};
}

TEST(IntFields, StoreChecksRangeAndLoadSignExtends) {
  struct Case {
    int32_t value, width, rc;
    Bytes stored;
    int32_t loaded;
  };
  const Case cases[] = {
      {127, 1, 0, {0x7F}, 127},
      {-128, 1, 0, {0x80}, -128},
      {128, 1, -2, {0x80}, -128},
      {-129, 1, -3, {0x80}, -128},
      {-2, 2, 0, {0xFE, 0xFF}, -2},
      {32768, 2, -2, {0x00, 0x80}, -32768},
      {-32769, 2, -3, {0x00, 0x80}, -32768},
      {INT32_MIN, 4, 0, {0, 0, 0, 0x80}, INT32_MIN},
      {0x01020304, 4, 0, {4, 3, 2, 1}, 0x01020304},
  };
  for (const Case& c : cases) {
    Bytes field(static_cast<size_t>(c.width) + 1, 0xEE);
    EXPECT_EQ(int_store(c.value, field, 1, c.width), c.rc) << c.value;
    EXPECT_EQ(Bytes(field.begin() + 1, field.end()), c.stored) << c.value;
    EXPECT_EQ(field[0], 0xEE);
    int32_t loaded = 0;
    EXPECT_EQ(int_load(&loaded, field, 1, c.width), 0);
    EXPECT_EQ(loaded, c.loaded);
  }
  Bytes f(4, 0);
  int32_t v = 77;
  for (int32_t width : {0, 3, 8, -1}) {
    EXPECT_EQ(int_store(1, f, 0, width), -5);
    EXPECT_EQ(int_load(&v, f, 0, width), -5);
  }
  EXPECT_EQ(int_store(1, f, 1, 4), -5);  // the field passes the area's end
  EXPECT_EQ(int_load(&v, f, -1, 1), -5);
  EXPECT_EQ(v, 77);
  EXPECT_EQ(f, Bytes(4, 0));
}

TEST(FloatFields, NarrowingAndClassification) {
  struct Case {
    double value;
    int32_t rc;
    uint32_t bits;  // of the 4-byte field
  };
  const Case cases[] = {
      {1.5, 0, 0x3FC00000},
      {3.4028234663852886e38, 0, 0x7F7FFFFF},
      {-3.4028234663852886e38, -3, 0xFF7FFFFF},
      {3.5e38, -2, 0xFF7FFFFF},
      {-1e300, -3, 0xFF7FFFFF},
      {HUGE_VAL, -2, 0xFF7FFFFF},
      {1e-39, 0, 0},
      {-1e-39, 0, 0},
      {1.1754943508222875e-38, 0, 0x00800000},
  };
  for (const Case& c : cases) {
    Bytes field(4, 0xEE);
    EXPECT_EQ(double_store(c.value, field, 0, 4), c.rc) << c.value;
    EXPECT_EQ(load_le32(field.data()), c.bits) << c.value;
  }
  // Loads: NaN and denormals are bad data, infinities and zeros are values.
  struct LoadCase {
    double value;
    int32_t rc;
    double loaded;
  };
  const LoadCase loads[] = {
      {-0.0, 0, -0.0},     {HUGE_VAL, 0, HUGE_VAL},  {-HUGE_VAL, 0, -HUGE_VAL},
      {NAN, -6, -DBL_MAX}, {4.9e-324, -6, -DBL_MAX}, {0.1, 0, 0.1},
  };
  for (const LoadCase& c : loads) {
    Bytes field(8);
    ASSERT_EQ(double_store(c.value, field, 0, 8), 0);
    double loaded = 0;
    EXPECT_EQ(double_load(&loaded, field, 0, 8), c.rc) << c.value;
    EXPECT_EQ(loaded, c.loaded) << c.value;
    EXPECT_EQ(std::signbit(loaded), std::signbit(c.loaded));
  }
  Bytes field(4);
  store_le32(field.data(), 0x7FC00000);  // a float NaN
  double loaded = 0;
  EXPECT_EQ(double_load(&loaded, field, 0, 4), -6);
  EXPECT_EQ(loaded, -DBL_MAX);
  store_le32(field.data(), 0x3FC00000);
  EXPECT_EQ(double_load(&loaded, field, 0, 4), 0);
  EXPECT_EQ(loaded, 1.5);
  EXPECT_EQ(double_load(&loaded, field, 0, 8), -5);
  EXPECT_EQ(double_store(1.0, field, 0, 2), -5);
}

TEST(IntText, RightAlignedWithNinesWhenTooNarrow) {
  struct Case {
    int32_t value, width;
    std::string want;
    int32_t rc;
  };
  const Case cases[] = {
      {42, 5, "   42", 0},
      {-42, 5, "  -42", 0},
      {0, 1, "0", 0},
      {-5, 1, "0", 2},
      {-5, 2, "-5", 0},
      {-12345, 3, "-99", 2},
      {123456, 3, "999", 2},
      {INT32_MAX, 10, "2147483647", 0},
      {-INT32_MAX, 11, "-2147483647", 0},
      {INT32_MIN, 12, std::string(12, '\0'), -1},
  };
  for (const Case& c : cases) {
    Bytes field(static_cast<size_t>(c.width) + 2, 'x');
    EXPECT_EQ(mdr_int_to_text(field, 1, c.width, c.value), c.rc) << c.value;
    EXPECT_EQ(std::string(field.begin() + 1, field.end() - 1), c.want) << c.value;
    EXPECT_EQ(field.front(), 'x');
    EXPECT_EQ(field.back(), 'x');
  }
  Bytes field(3, 'x');
  EXPECT_EQ(mdr_int_to_text(field, 0, 0, 1), -1);
  EXPECT_EQ(mdr_int_to_text(field, 0, -4, 1), -1);
  EXPECT_EQ(mdr_int_to_text(field, 1, 3, 1), -5);
  EXPECT_EQ(field, Bytes(3, 'x'));
}

TEST(NumberText, SyntaxAndOutcomes) {
  struct Case {
    std::string text;
    int32_t outcome;
    double value;
  };
  const Case cases[] = {
      {"12", 0, 12},
      {" 12", 0, 12},
      {"12 ", 0, 12},
      {"  -7  ", 0, -7},
      {"+0", 0, 0},
      {"1.", 1, 1},
      {".5", 1, 0.5},
      {"-1e5", 1, -1e5},
      {"1E+2", 1, 100},
      {"2.5e-1 ", 1, 0.25},
      {"2147483646", 0, 2147483646},
      {"2147483647", 2, 2147483647},
      {"-99999999999", 2, -99999999999.0},
      {"9.9e99", 1, 9.9e99},
      {"10e99", 3, DBL_MAX},
      {"-1e100", 3, -DBL_MAX},
      {"1e-99", 1, 1e-99},
      {"0.9e-99", 1, 0},
      {"0.000e500", 1, 0},
      {"1e00000000000000000000000000001", 1, 10},
      {".", -1, 0},
      {"-.", -1, 0},
      {" . ", -1, 0},
      {"1e", -1, 0},
      {"+", -1, 0},
      {"1 2", -1, 0},
      {"", -1, 0},
      {"   ", -1, 0},
      {"1e5.", -1, 0},
      {"--1", -1, 0},
      {"1x", -1, 0},
      {"\t1", -1, 0},
      {"1,5", -1, 0},
  };
  for (const Case& c : cases) {
    const NumberText n = read_number_text(bytes_of(c.text));
    EXPECT_EQ(n.outcome, c.outcome) << '"' << c.text << '"';
    if (c.outcome >= 0) {
      EXPECT_EQ(n.value, c.value) << '"' << c.text << '"';
    }
  }
}

// Random texts within the exponent range read exactly as strtod reads them.
TEST(NumberText, ValuesAgreeWithStrtod) {
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> digit(0, 9), count(0, 25), coin(0, 1), exp(-80, 80);
  for (int round = 0; round < 5000; ++round) {
    std::string text = coin(rng) ? "-" : "";
    const int int_digits = count(rng), frac_digits = count(rng);
    for (int i = 0; i < int_digits; ++i) text += static_cast<char>('0' + digit(rng));
    if (coin(rng) || int_digits == 0) {
      text += '.';
      for (int i = 0; i < frac_digits; ++i) text += static_cast<char>('0' + digit(rng));
      if (int_digits + frac_digits == 0) text += '7';
    }
    if (coin(rng)) text += "e" + std::to_string(exp(rng));
    const NumberText n = read_number_text(bytes_of(text));
    ASSERT_GE(n.outcome, 0) << text;
    const double want = std::strtod(text.c_str(), nullptr);
    if (std::fabs(want) >= 1e100) {
      EXPECT_EQ(n.outcome, 3) << text;
    } else if (want != 0 && std::fabs(want) < 1e-99) {
      EXPECT_EQ(n.value, 0) << text;
    } else {
      EXPECT_EQ(n.value, want + 0.0) << text;  // a zero reads as +0
    }
  }
}

// The exact decimal digits of the point halfway between d and the next double
// up, as "d.ddd...e+NN" with trailing zeros dropped. The halfway point needs 54
// bits, which a long double holds exactly, and glibc prints it exactly.
std::string halfway_text(double d) {
  static_assert(LDBL_MANT_DIG >= 64);
  const long double up = std::nextafter(d, HUGE_VAL);
  const long double mid = (static_cast<long double>(d) + up) / 2;
  std::vector<char> buffer(1200);
  std::snprintf(buffer.data(), buffer.size(), "%.1000Le", mid);
  std::string text(buffer.data());
  const size_t e = text.find('e');
  std::string mantissa = text.substr(0, e);
  while (mantissa.back() == '0') mantissa.pop_back();
  return mantissa + text.substr(e);
}

// Texts with many significant digits: on, just above and just below the
// points halfway between two doubles, where a reader that drops digits
// rounds the wrong way, and plain long random digit strings. glibc's strtod
// rounds correctly however long the text is.
TEST(NumberText, LongTextsRoundCorrectly) {
  const std::string issue = "9007199254740993.0000000000000000000000000001";
  EXPECT_EQ(read_number_text(bytes_of(issue)).value, 9007199254740994.0);
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> magnitude(-90, 90);
  std::uniform_int_distribution<int> digit(0, 9), far(1, 900);
  std::vector<std::string> texts;
  for (int round = 0; round < 400; ++round) {
    const double d = std::pow(10.0, magnitude(rng)) * (round % 2 ? -1 : 1);
    const std::string mid = halfway_text(std::fabs(d));
    const std::string sign = d < 0 ? "-" : "";
    const size_t e = mid.find('e');
    const std::string digits = mid.substr(0, e), exponent = mid.substr(e);
    texts.push_back(sign + mid);
    // Above: a 1 somewhere behind the last digit, up to far behind the
    // digits a reader could keep.
    texts.push_back(sign + digits + std::string(far(rng), '0') + "1" + exponent);
    // Below: the last digit one less, followed by nines.
    std::string below = digits;
    below.back() = static_cast<char>(below.back() - 1);
    texts.push_back(sign + below + std::string(far(rng), '9') + exponent);
    // Random digits, 41 to 1200 of them.
    std::string random = sign + std::to_string(1 + digit(rng) % 9) + ".";
    const int length = 40 + static_cast<int>(rng() % 1160);
    for (int i = 0; i < length; ++i) random += static_cast<char>('0' + digit(rng));
    texts.push_back(random + "e" + std::to_string(static_cast<int>(magnitude(rng))));
  }
  for (const std::string& text : texts) {
    const NumberText n = read_number_text(bytes_of(text));
    ASSERT_EQ(n.outcome, kNumberReal) << text;
    EXPECT_EQ(n.value, std::strtod(text.c_str(), nullptr)) << text;
  }
}

TEST(NumberText, DoubleAndRoundedInteger) {
  struct Case {
    std::string text;
    int32_t rc;
    int32_t value;
  };
  const Case cases[] = {
      {"2.5", 0, 3},
      {"-2.5", 0, -2},
      {"-2.6", 0, -3},
      {" 17 ", 0, 17},
      {"2147483646.4", 0, 2147483646},
      {"2147483646.5", 2, 2147483647},
      {"2147483647", 2, 2147483647},
      {"-2147483647", 2, -2147483647},
      {"-2147483646", 0, -2147483646},
      {"1e100", 2, 2147483647},
      {"1e-120", 0, 0},
      {"1 2", -1, INT32_MIN},
      {".", -1, INT32_MIN},
      {"", -1, INT32_MIN},
  };
  for (const Case& c : cases) {
    const Bytes t = bytes_of(c.text);
    int32_t v = 5;
    EXPECT_EQ(text_to_int_rounded(&v, t, 0, static_cast<int32_t>(t.size())), c.rc) << c.text;
    EXPECT_EQ(v, c.value) << c.text;
  }
  double d = 0;
  const Bytes t = bytes_of("x-1e300 -2.5 ");
  EXPECT_EQ(text_to_double_checked(&d, t, 8, 5), 0);
  EXPECT_EQ(d, -2.5);
  EXPECT_EQ(text_to_double_checked(&d, t, 1, 6), 1);
  EXPECT_EQ(d, -DBL_MAX);
  EXPECT_EQ(text_to_double_checked(&d, t, 1, 0), -1);
  EXPECT_EQ(d, -DBL_MAX);
  EXPECT_EQ(text_to_double_checked(&d, t, 0, 3), -1);
  // A text field that reaches past its area is no number: cut at the area's
  // end it would read as another one ("-2" of "-2.5").
  d = 0;
  EXPECT_EQ(text_to_double_checked(&d, ConstByteSpan(t).first(12), 8, 5), -1);
  EXPECT_EQ(d, -DBL_MAX);
  int32_t cut = 0;
  EXPECT_EQ(text_to_int_rounded(&cut, ConstByteSpan(t).first(10), 8, 2), 0);
  EXPECT_EQ(cut, -2);
  EXPECT_EQ(text_to_int_rounded(&cut, ConstByteSpan(t).first(10), 8, 3), -1);
  EXPECT_EQ(cut, INT32_MIN);
  EXPECT_EQ(text_to_int_rounded(&cut, t, -1, 3), -1);
  int32_t out = 9;
  mdr_const_two(&out);
  EXPECT_EQ(out, 2);
  mdr_const_zero(&out);
  EXPECT_EQ(out, 0);
}

}  // namespace
