// The numeric functions on doubles with their error results, the 64-bit
// word-pair helpers against native 64-bit arithmetic, unsigned integer text,
// MSB-first bit maps and the three-byte nullable integer.
#include "platform/float_functions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace {

TEST(FloatFunctions, ResultsAndErrors) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    int code;
    double x, y;
    int status;
    double result;  // checked when status is 0 (NaN: not checked)
  } cases[] = {
      {kFloatCot, 0, 0, -6, nan},
      {kFloatCot, M_PI / 4, 0, 0, 1.0},
      {kFloatCos, M_PI / 2, 0, 0, 0.0},  // exactly 0
      {kFloatSin, M_PI, 0, 0, 0.0},
      {kFloatSin, M_PI / 2, 0, 0, 1.0},
      {kFloatLog, 0, 0, -6, nan},
      {kFloatLog, -1, 0, -6, nan},
      {kFloatLog, M_E, 0, 0, 1.0},
      {kFloatLog10, 0, 0, -6, nan},
      {kFloatLog10, 1000, 0, 0, 3.0},
      {kFloatExp, 1000, 0, -2, nan},
      {kFloatExp, -1000, 0, -3, nan},
      {kFloatExp, 0, 0, 0, 1.0},
      {kFloatExp, -740, 0, 0, std::exp(-740)},  // tiny but not zero
      {kFloatAtan2, 0, 0, -6, nan},
      {kFloatAtan2, 1, 0, 0, M_PI / 2},
      {kFloatAtan2, nan, 1, -6, nan},
      {kFloatPower, 2, 10, 0, 1024.0},
      {kFloatPower, 10, 400, -2, nan},
      {kFloatPower, -8, 1.0 / 3, -6, nan},
      {kFloatPower, 10, -400, 0, 0.0},  // underflow is no overflow
      {kFloatAcos, 2, 0, -6, nan},
      {kFloatAsin, -2, 0, -6, nan},
      {kFloatAtan, inf, 0, 0, M_PI / 2},
      {kFloatSqrt, -1, 0, -6, nan},
      {kFloatSqrt, 16, 0, 0, 4.0},
      {kFloatTan, inf, 0, -6, nan},
      {kFloatDegrees, 3.14159265358979, 0, 0, 180.0},
      {kFloatDegrees, 1e306, 0, -2, nan},
      {kFloatDegrees, -1e306, 0, -3, nan},
      {kFloatRadians, 180, 0, 0, 3.14159265358979},
      {kFloatRadians, 1e308, 0, -2, nan},
      {kFloatRadians, -1e308, 0, -3, nan},
      {14, 1, 0, -5, nan},
      {0, 1, 0, -5, nan},
  };
  for (const auto& c : cases) {
    double r = 12345;
    EXPECT_EQ(float_function(c.code, &r, c.x, c.y), c.status) << c.code << " " << c.x;
    if (c.status == 0) {
      EXPECT_DOUBLE_EQ(r, c.result) << c.code << " " << c.x;
    }
  }
  double r = 7;
  float_function(kFloatAtan2, &r, 0, 0);
  EXPECT_EQ(r, 0.0);
  float_function(kFloatCos, &r, M_PI / 2);
  EXPECT_EQ(r, 0.0);  // not merely close
}

TEST(Int64Words, MatchNativeArithmetic) {
  std::mt19937_64 rng(7);
  const int64_t edges[] = {0, 1, -1, INT64_MAX, INT64_MIN, 0xFFFFFFFF, 0x100000000, -0x100000000};
  auto pick = [&](int i) -> int64_t { return i < 8 ? edges[i] : static_cast<int64_t>(rng()); };
  auto words = [](int64_t v, int32_t* w) {
    w[0] = static_cast<int32_t>(static_cast<uint64_t>(v));
    w[1] = static_cast<int32_t>(static_cast<uint64_t>(v) >> 32);
  };
  auto value = [](const int32_t* w) {
    return static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(w[1])) << 32) |
                                static_cast<uint32_t>(w[0]));
  };
  for (int i = 0; i < 300; ++i) {
    for (int j = 0; j < 8; ++j) {
      const int64_t x = pick(i), y = pick(j + (i % 3) * 8);
      const auto wrap = [](uint64_t v) { return static_cast<int64_t>(v); };
      int32_t a[2], b[2];
      words(x, a);
      words(y, b);
      EXPECT_EQ(int64_compare(a, b), x > y ? 1 : (x < y ? -1 : 0));
      EXPECT_EQ(int64_sign(a), x > 0 ? 1 : (x < 0 ? -1 : 0));
      int32_t s[2] = {a[0], a[1]};
      int64_add(s, b);
      EXPECT_EQ(value(s), wrap(static_cast<uint64_t>(x) + static_cast<uint64_t>(y)));
      int64_sub(s, b);
      EXPECT_EQ(value(s), x);
      int64_add_hilo(s, b[1], b[0]);
      int64_sub_hilo(s, b[1], b[0]);
      int64_inc(s);
      EXPECT_EQ(value(s), wrap(static_cast<uint64_t>(x) + 1));
      int64_dec(s);
      EXPECT_EQ(value(s), x);
      int32_t hilo[2];
      int64_swap_words(hilo, a);
      EXPECT_EQ(hilo[0], a[1]);
      EXPECT_EQ(hilo[1], a[0]);
      int64_from_words(s, hilo[0], hilo[1]);
      EXPECT_EQ(value(s), x);
    }
  }
  const StatusPair st = mdr_unsupported_status();
  EXPECT_EQ(st.rc, -21007);
  EXPECT_EQ(st.os_status, -1);
}

TEST(UintToText, IntegerFormOfTheDecimalWriter) {
  struct Case {
    uint32_t value;
    int length;
    int rc;
    const char* text;
  } cases[] = {
      {0, 3, 0, "  0"},
      {42, 5, 0, "   42"},
      {4294967295u, 11, 0, " 4294967295"},
      {4294967295u, 10, -2, "**********"},
      {7, 1, -2, "*"},
  };
  for (const auto& c : cases) {
    uint8_t out[16];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(uint_to_text(out, 1, c.length, c.value), c.rc) << c.value;
    EXPECT_EQ(std::string(out + 1, out + 1 + c.length), c.text) << c.value;
    EXPECT_EQ(out[0], '#');
    EXPECT_EQ(out[1 + c.length], '#');
  }
  uint8_t small[4];
  EXPECT_EQ(uint_to_text(small, 2, 3, 5), -5);  // the field leaves its area
  EXPECT_EQ(uint_to_text(small, 0, 0, 5), -5);
}

TEST(Bitmap, BitsAreNumberedFromTheTopOfEachByteInGroupsOfFour) {
  struct Case {
    int bit;
    int byte;
    uint8_t mask;
  } cases[] = {{0, 0, 0x80},  {7, 0, 0x01},  {8, 1, 0x80},
               {31, 3, 0x01}, {32, 4, 0x80}, {45, 5, 0x04}};
  for (const auto& c : cases) {
    uint8_t map[8] = {};
    EXPECT_EQ(bitmap_test_bit(map, c.bit), 0);
    EXPECT_EQ(bitmap_set_bit(map, c.bit), 0);
    EXPECT_EQ(bitmap_set_bit(map, c.bit), 1);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(map[i], i == c.byte ? c.mask : 0) << c.bit;
    EXPECT_EQ(bitmap_test_bit(map, c.bit), 1);
    EXPECT_EQ(bitmap_clear_bit(map, c.bit), 0);
    EXPECT_EQ(bitmap_clear_bit(map, c.bit), 1);
    EXPECT_EQ(map[c.byte], 0);
  }
  uint8_t map[8] = {};
  EXPECT_EQ(bitmap_test_bit(map, -1), -2);
  EXPECT_EQ(bitmap_set_bit(map, -1), -2);
  EXPECT_EQ(bitmap_clear_bit(map, -1), -2);
  EXPECT_EQ(bitmap_set_bit(map, 64), -2);  // beyond the map
}

TEST(SmallInt, StoreAndLoad) {
  uint8_t f[5];
  for (int32_t v : {0, 200, 256, 65535}) {
    std::memset(f, 0xAA, sizeof f);
    EXPECT_EQ(small_int_store(f, 1, v), 0);
    EXPECT_EQ(f[1], 0);
    EXPECT_EQ(small_int_load(f, 1), v);
    EXPECT_EQ(f[0], 0xAA);
    EXPECT_EQ(f[4], 0xAA);
  }
  EXPECT_EQ(small_int_store(f, 1, -1), 0);
  EXPECT_EQ(f[1] & f[2] & f[3], 255);
  EXPECT_EQ(small_int_load(f, 1), -1);
  for (int32_t v : {65536, -2}) {
    EXPECT_EQ(small_int_store(f, 1, v), -1);
    EXPECT_EQ(small_int_load(f, 1), -1);  // nothing stored
  }
  EXPECT_EQ(small_int_store(f, 3, 1), -5);
  EXPECT_EQ(small_int_load(f, -1), -5);
}

}  // namespace
