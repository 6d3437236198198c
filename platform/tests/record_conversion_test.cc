// Numeric range checks and record conversion along a field layout.
#include "platform/record_conversion.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/decimal_text.h"
#include "platform/numeric_services.h"

namespace {

std::vector<uint8_t> decimal(const std::string& text, int32_t precision, int32_t scale) {
  std::vector<uint8_t> v(24, 0);
  const value_descriptor d{0, precision, scale, 0};
  text_to_decimal(ByteSpan(v), d,
                  ConstByteSpan(reinterpret_cast<const uint8_t*>(text.data()), text.size()), 0,
                  static_cast<int32_t>(text.size()));
  return v;
}

TEST(NumericRange, ChecksAgainstTheLimits) {
  int32_t st = 5;
  numeric_limits_init(&st);
  EXPECT_EQ(st, 0);
  struct Case {
    std::string text;
    int32_t precision, type, status;
  };
  const Case cases[] = {
      {"32767", 10, 6, 0},
      {"32768", 10, 6, -10204},
      {"-32768", 10, 6, 0},
      {"-32769", 10, 6, -10203},
      {"2147483647", 12, 7, 0},
      {"2147483648", 12, 7, -10204},
      {"-2147483649", 12, 7, -10203},
      {"1.0E-40", 10, 8, -10205},
      {"-1.0E-40", 10, 8, -10205},
      {"0", 10, 8, 0},
      {"1.0E-38", 10, 8, 0},
      {"2.0E38", 10, 8, -10204},
      {"-2.0E38", 10, 8, -10203},
      {"1.0E-40", 10, 9, 0},
      {"1.0E-309", 10, 10, -10205},
      {"9223372036854775808", 20, 28, -10204},
      {"-9223372036854775808", 20, 28, 0},
      {"99999999999", 12, 3, 0},  // a type without bounds
  };
  for (const Case& c : cases) {
    auto v = decimal(c.text, c.precision, -1);
    numeric_range_check(&st, ConstByteSpan(v), value_descriptor{0, c.precision, -1, 0}, c.type);
    EXPECT_EQ(st, c.status) << c.text << " type " << c.type;
  }
  std::vector<uint8_t> null_value(24, 255);
  numeric_range_check(&st, ConstByteSpan(null_value), value_descriptor{0, 10, -1, 0}, 6);
  EXPECT_EQ(st, 0);
  numeric_range_check(&st, ConstByteSpan(null_value), value_descriptor{0, 50, -1, 0}, 6);
  EXPECT_EQ(st, -10201);
}

TEST(TypeConversionClass, Table) {
  ConversionClass c;
  EXPECT_EQ(type_conversion_class(1, 10, 0, 0, &c), 0);
  EXPECT_EQ(c.cls, 1);
  EXPECT_EQ(c.external, 11);
  EXPECT_EQ(type_conversion_class(24, 10, 0, 3, &c), 0);
  EXPECT_EQ(c.cls, 7);
  EXPECT_EQ(c.external, 18);
  EXPECT_EQ(type_conversion_class(9, 0, 15, 2, &c), 0);
  EXPECT_TRUE(c.approximate && c.integer);
  EXPECT_EQ(c.scale, -1);
  EXPECT_EQ(type_conversion_class(35, 4, 0, 0, &c), 0);
  EXPECT_EQ(c.external, 13);
  EXPECT_EQ(type_conversion_class(33, 4, 0, 0, &c), kConvertBadType);
}

std::vector<int32_t> entry(int32_t kind, int32_t length, int32_t type, int32_t precision,
                           int32_t scale, int32_t source_pos, int32_t source_type = 0,
                           int32_t source_length = 0, int32_t source_precision = 0,
                           int32_t source_scale = 0) {
  std::vector<int32_t> e(LAY_ENTRY_WORDS, 0);
  e[LAY_KIND] = kind;
  e[LAY_LENGTH] = length;
  e[LAY_TYPE] = type;
  e[LAY_PRECISION] = precision;
  e[LAY_SCALE] = scale;
  e[LAY_SOURCE_POS] = source_pos;
  e[LAY_SOURCE_TYPE] = source_type;
  e[LAY_SOURCE_LENGTH] = source_length;
  e[LAY_SOURCE_PRECISION] = source_precision;
  e[LAY_SOURCE_SCALE] = source_scale;
  return e;
}

TEST(ValueConvert, ClassPairs) {
  struct Case {
    std::vector<int32_t> e;
    std::vector<uint8_t> source;
    int32_t status;
    std::vector<uint8_t> target;  // expected first bytes
  };
  auto text = [](const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); };
  const std::vector<uint8_t> ab = {0, 'A', 'B', ' ', ' '};
  const std::vector<uint8_t> abc = {0, 'A', 'B', 'C'};
  const Case cases[] = {
      // Characters: padding, cutting blanks, cutting text.
      {entry(4, 5, 1, 0, 0, 0, 1, 3), {0, 'A', 'B', ' '}, 0, {0, 'A', 'B', ' ', ' ', ' '}},
      {entry(4, 2, 1, 0, 0, 0, 1, 4), ab, 0, {0, 'A', 'B'}},
      {entry(4, 2, 1, 0, 0, 0, 1, 3), abc, kConvertTruncated, {0, 'A', 'B'}},
      {entry(4, 2, 1, 0, 0, 0, 1, 3), {255, 0, 0, 0}, 0, {255}},
      // Binary: zero padding.
      {entry(4, 3, 29, 0, 0, 0, 29, 2), {0, 7, 8}, 0, {0, 7, 8, 0}},
      {entry(4, 1, 29, 0, 0, 0, 29, 2), {0, 7, 8}, kConvertTruncated, {0, 7}},
      // National from single-byte.
      {entry(4, 2, 34, 0, 0, 0, 1, 1), {0, 'Q'}, 0, {0, 0, 0, 'Q', 0, 0, ' '}},
      {entry(4, 1, 1, 0, 0, 0, 34, 2), {0, 0, 0, 'x', 0, 0, 'y'}, kConvertTruncated, {0, 'x'}},
      // Numerics: cut to the scale, overflow, range check of an integer.
      {entry(4, 4, 3, 5, 2, 0, 3, 0, 6, 3), decimal("12.345", 6, 3), 0, decimal("12.34", 5, 2)},
      {entry(4, 4, 3, 5, 2, 0, 3, 0, 6, 0), decimal("123456", 6, 0), kConvertOverflow, {}},
      {entry(4, 4, 6, 5, 0, 0, 7, 0, 10, 0), decimal("40000", 10, 0), -10204, {}},
      {entry(4, 4, 6, 5, 0, 0, 7, 0, 10, 0), decimal("-4000", 10, 0), 0, decimal("-4000", 5, 0)},
      {entry(4, 4, 6, 5, 0, 0, 7, 0, 10, 0), std::vector<uint8_t>(8, 255), 0, {255}},
      // A pair no class conversion joins, and an unknown type.
      {entry(4, 4, 3, 5, 2, 0, 1, 3), abc, kConvertBadPair, {}},
      {entry(4, 4, 33, 5, 2, 0, 1, 3), abc, kConvertBadType, {}},
  };
  (void)text;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    std::vector<uint8_t> target(32, 0xEE);
    int32_t st = 99;
    value_convert(&st, ByteSpan(target), 1, c.e, ConstByteSpan(c.source), 0);
    EXPECT_EQ(st, c.status) << "case " << i;
    const size_t shown = c.e[LAY_TYPE] == 3 || c.e[LAY_TYPE] == 6 ? 4 : c.target.size();
    for (size_t k = 0; k < shown && k < c.target.size(); ++k) {
      EXPECT_EQ(target[1 + k], c.target[k]) << "case " << i << " byte " << k;
    }
    EXPECT_EQ(target[0], 0xEE) << "case " << i;
  }
  // A field that reaches past its record is refused, not overrun.
  std::vector<uint8_t> small(3, 0);
  int32_t st = 0;
  value_convert(&st, ByteSpan(small), 0, entry(4, 5, 1, 0, 0, 0, 1, 3), ConstByteSpan(abc), 0);
  EXPECT_EQ(st, kLayoutOutsideRecord);
}

TEST(RowLayout, CopyAndConvert) {
  // Target record: a generated key flag (kind 1, 2 bytes), a sequence value
  // (kind 2, DECIMAL(5)), a fixed part (kind 3, 3 bytes), a converted column
  // (kind 4, CHAR(4) from CHAR(2) at source 0), a column copied (kind 7, 3
  // bytes from source 3).
  std::vector<int32_t> words;
  auto add = [&](std::vector<int32_t> e) { words.insert(words.end(), e.begin(), e.end()); };
  add(entry(1, 2, 0, 0, 0, 0));
  std::vector<int32_t> seq = entry(2, 4, 3, 5, 0, 0);
  seq[LAY_SEQ_STATE] = -1;
  seq[LAY_SEQ_START] = 10;
  seq[LAY_SEQ_INCREMENT] = 5;
  seq[LAY_SEQ_LIMIT] = 1000;
  add(seq);
  std::vector<int32_t> fixed = entry(3, 3, 0, 0, 0, 0);
  fixed[LAY_DATA_OFFSET] = 1;
  add(fixed);
  add(entry(4, 5, 1, 0, 0, 0, 1, 2));
  add(entry(7, 3, 0, 0, 0, 3));
  add(entry(-1, 0, 0, 0, 0, 0));
  const uint8_t data[] = {9, 'x', 'y', 'z'};
  RowLayout layout{words, ConstByteSpan(data), 17};

  std::vector<uint8_t> record(20, 0xEE);
  int32_t st = -5;
  row_layout_copy(&st, layout, ByteSpan(record));
  EXPECT_EQ(st, 0);
  EXPECT_EQ(std::string(record.begin() + 6, record.begin() + 9), "xyz");
  EXPECT_EQ(record[0], 0);
  EXPECT_EQ(record[17], 0xEE);  // beyond the record length

  const std::vector<uint8_t> source = {0, 'h', 'i', 0, 1, 2};
  row_layout_convert(&st, layout, ByteSpan(record), ConstByteSpan(source));
  EXPECT_EQ(st, 1);  // a generated key is asked for
  auto ten = decimal("10", 5, 0);
  EXPECT_EQ(std::vector<uint8_t>(record.begin() + 2, record.begin() + 6),
            std::vector<uint8_t>(ten.begin(), ten.begin() + 4));
  EXPECT_EQ(std::string(record.begin() + 9, record.begin() + 14), std::string("\0hi  ", 5));
  EXPECT_EQ(std::vector<uint8_t>(record.begin() + 14, record.begin() + 17),
            (std::vector<uint8_t>{0, 1, 2}));
  row_layout_convert(&st, layout, ByteSpan(record), ConstByteSpan(source));
  auto fifteen = decimal("15", 5, 0);
  EXPECT_EQ(record[3], fifteen[1]);  // the sequence stepped

  const std::vector<uint8_t> null_source = {0, 'h', 'i', 255, 1, 2};
  row_layout_convert(&st, layout, ByteSpan(record), ConstByteSpan(null_source));
  EXPECT_EQ(st, kConvertNull);
  // A copied field outside the source record is refused.
  const std::vector<uint8_t> short_source = {0, 'h', 'i', 0};
  row_layout_convert(&st, layout, ByteSpan(record), ConstByteSpan(short_source));
  EXPECT_EQ(st, kLayoutOutsideRecord);
}

}  // namespace
