// Numeric range checks and record conversion along a field layout.
#include "platform/record_conversion.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/datetime.h"
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
  // Large objects: the digits of the 64-bit maximum length (precision low
  // word, scale high word).
  struct Lob {
    int32_t type, low, high, cls, digits;
  };
  const Lob lobs[] = {
      {31, 0, 0, 10, 1},  {31, 999, 0, 10, 3}, {32, 1000000000, 0, 9, 10},
      {32, -1, 0, 9, 10}, {31, 5, 1, 10, 19},  {32, 2147483647, 0, 9, 10},
  };
  for (const Lob& l : lobs) {
    ASSERT_EQ(type_conversion_class(l.type, l.low, l.low, l.high, &c), 0);
    EXPECT_EQ(c.cls, l.cls);
    EXPECT_EQ(c.external, l.digits) << l.low << " " << l.high;
    EXPECT_EQ(c.scale, 0);
  }
}

// A kind-4 step: the old column (type, precision, scale, bytes at source_pos)
// into the new one (type, precision, scale, bytes).
std::vector<int32_t> step(int32_t old_type, int32_t old_precision, int32_t old_scale,
                          int32_t old_length, int32_t new_type, int32_t new_precision,
                          int32_t new_scale, int32_t new_length, int32_t source_pos = 0) {
  std::vector<int32_t> e(LAY_ENTRY_WORDS, 0);
  e[LAY_KIND] = 4;
  e[LAY_SOURCE_POS] = source_pos;
  e[LAY_LENGTH] = old_length;
  e[LAY_OLD_TYPE] = old_type;
  e[LAY_OLD_PRECISION] = old_precision;
  e[LAY_OLD_SCALE] = old_scale;
  e[LAY_NEW_LENGTH] = new_length;
  e[LAY_NEW_TYPE] = new_type;
  e[LAY_NEW_PRECISION] = new_precision;
  e[LAY_NEW_SCALE] = new_scale;
  return e;
}

std::vector<int32_t> simple_step(int32_t kind, int32_t length, int32_t source_pos = 0) {
  std::vector<int32_t> e(LAY_ENTRY_WORDS, 0);
  e[LAY_KIND] = kind;
  e[LAY_LENGTH] = length;
  e[LAY_SOURCE_POS] = source_pos;
  return e;
}

TEST(ValueConvert, ClassPairs) {
  struct Case {
    std::vector<int32_t> e;
    std::vector<uint8_t> source;
    int32_t status;
    std::vector<uint8_t> target;  // expected first bytes
  };
  const std::vector<uint8_t> ab = {0, 'A', 'B', ' ', ' '};
  const std::vector<uint8_t> abc = {0, 'A', 'B', 'C'};
  std::vector<uint8_t> ts(10), ts0(9);
  timestamp_encode(ByteSpan(ts), value_descriptor{0, 16, 2, kTypeTimestamp}, 2024, 3, 15, 12, 30,
                   45, 120000000);
  timestamp_encode(ByteSpan(ts0), value_descriptor{0, 14, 0, kTypeTimestamp}, 2024, 3, 15, 12, 30,
                   45, 0);
  const Case cases[] = {
      // Characters: padding, cutting blanks, cutting text.
      {step(1, 3, 0, 4, 1, 5, 0, 6), {0, 'A', 'B', ' '}, 0, {0, 'A', 'B', ' ', ' ', ' '}},
      {step(1, 4, 0, 5, 1, 2, 0, 3), ab, 0, {0, 'A', 'B'}},
      {step(1, 3, 0, 4, 1, 2, 0, 3), abc, kConvertTruncated, {0, 'A', 'B'}},
      {step(1, 3, 0, 4, 1, 2, 0, 3), {255, 0, 0, 0}, 0, {255}},
      // Binary: zero padding.
      {step(29, 2, 0, 3, 29, 3, 0, 4), {0, 7, 8}, 0, {0, 7, 8, 0}},
      {step(29, 2, 0, 3, 29, 1, 0, 2), {0, 7, 8}, kConvertTruncated, {0, 7}},
      // National from single-byte and back.
      {step(1, 1, 0, 2, 34, 2, 0, 7), {0, 'Q'}, 0, {0, 0, 0, 'Q', 0, 0, ' '}},
      {step(34, 2, 0, 7, 1, 1, 0, 2), {0, 0, 0, 'x', 0, 0, 'y'}, kConvertTruncated, {0, 'x'}},
      // A character single bytes cannot hold becomes 191; the field is still
      // padded behind it.
      {step(34, 2, 0, 7, 1, 5, 0, 6), {0, 0, 0, 0x41, 0, 1, 0}, 0, {0, 'A', 191, ' ', ' ', ' '}},
      {step(34, 3, 0, 10, 1, 2, 0, 3), {0, 0, 1, 0, 0, 0, 'b', 0, 0, ' '}, 0, {0, 191, 'b'}},
      // Numerics: cut to the scale, overflow, range check of an integer.
      {step(3, 6, 3, 5, 3, 5, 2, 4), decimal("12.345", 6, 3), 0, decimal("12.34", 5, 2)},
      {step(3, 6, 0, 5, 3, 5, 2, 4), decimal("123456", 6, 0), kConvertOverflow, {}},
      {step(7, 10, 0, 7, 6, 5, 0, 4), decimal("40000", 10, 0), -10204, {}},
      {step(7, 10, 0, 7, 6, 5, 0, 4), decimal("-4000", 10, 0), 0, decimal("-4000", 5, 0)},
      {step(7, 10, 0, 7, 6, 5, 0, 4), std::vector<uint8_t>(8, 255), 0, {255}},
      // TIMESTAMP(2) into TIMESTAMP(0): the fraction is cut.
      {step(14, 16, 2, 10, 14, 14, 0, 9), ts, 0, ts0},
      // A DAY(2) interval into DAY(3): the class turns the leading precision
      // into the stored precision (2 + 5 digits into 3 + 5).
      {step(17, 2, 0, 5, 17, 3, 0, 6), decimal("8640000", 7, 0), 0, decimal("8640000", 8, 0)},
      {step(17, 3, 0, 6, 17, 2, 0, 5), decimal("86400000", 8, 0), kConvertOverflow, {}},
      // Large objects are copied as stored.
      {step(31, 100, 0, 4, 31, 100, 0, 5), {1, 2, 3, 4}, 0, {1, 2, 3, 4, 0}},
      // A pair no class conversion joins, and an unknown type.
      {step(1, 3, 0, 4, 3, 5, 2, 4), abc, kConvertBadPair, {}},
      {step(1, 3, 0, 4, 33, 5, 2, 4), abc, kConvertBadType, {}},
      // Binary and characters do not mix, null or not; the target is untouched.
      {step(29, 3, 0, 4, 1, 3, 0, 4), abc, kConvertBadPair, {0xEE}},
      {step(1, 3, 0, 4, 29, 3, 0, 4), {255, 0, 0, 0}, kConvertBadPair, {0xEE}},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    std::vector<uint8_t> target(32, 0xEE);
    int32_t st = 99;
    value_convert(&st, ByteSpan(target), 1, c.e, ConstByteSpan(c.source), 0);
    EXPECT_EQ(st, c.status) << "case " << i;
    const int32_t type = c.e[LAY_NEW_TYPE];
    const size_t shown = type == 3 || type == 6 || type == 17 ? 4 : c.target.size();
    for (size_t k = 0; k < shown && k < c.target.size(); ++k) {
      EXPECT_EQ(target[1 + k], c.target[k]) << "case " << i << " byte " << k;
    }
    EXPECT_EQ(target[0], 0xEE) << "case " << i;
    // Nothing is written behind the new field.
    for (size_t k = 1 + c.e[LAY_NEW_LENGTH]; k < target.size(); ++k) {
      ASSERT_EQ(target[k], 0xEE) << "case " << i << " byte " << k;
    }
  }
  // A field that reaches past its record is refused, not overrun.
  std::vector<uint8_t> small(3, 0);
  int32_t st = 0;
  value_convert(&st, ByteSpan(small), 0, step(1, 3, 0, 4, 1, 4, 0, 5), ConstByteSpan(abc), 0);
  EXPECT_EQ(st, kLayoutOutsideRecord);
}

TEST(ValueConvert, VaryingBinaryTargetReceivesItsLength) {
  // Old record: VARBINARY(4) at 0 (5 bytes), its length field (2 bytes) at 5.
  // New record: VARBINARY(6) at 0 (7 bytes), its length field at 7.
  std::vector<int32_t> e = step(30, 4, 0, 5, 30, 6, 0, 7);
  e[LAY_OLD_LENGTH_FIELD] = 5;
  e[LAY_OLD_LENGTH_FIELD_SIZE] = decimal_bytes_of_int(4);
  e[LAY_NEW_LENGTH_FIELD] = 7;
  e[LAY_NEW_LENGTH_FIELD_SIZE] = decimal_bytes_of_int(6);
  std::vector<uint8_t> old_record = {0, 0xA1, 0xB2, 0xC3, 0, 0xEE, 0xEE};
  ASSERT_EQ(int_to_decimal(ByteSpan(old_record), value_descriptor{5, 1, 0, 0}, 3), 0);
  auto length_of = [](const std::vector<uint8_t>& r, int32_t at) {
    int32_t n = -7;
    EXPECT_EQ(decimal_to_int(&n, ConstByteSpan(r), value_descriptor{at, 1, 0, 0}), 0);
    return n;
  };
  std::vector<uint8_t> record(12, 0xEE);
  int32_t st = 99;
  value_convert(&st, ByteSpan(record), 0, e, ConstByteSpan(old_record), 0);
  EXPECT_EQ(st, 0);
  EXPECT_EQ(std::vector<uint8_t>(record.begin(), record.begin() + 7),
            (std::vector<uint8_t>{0, 0xA1, 0xB2, 0xC3, 0, 0, 0}));
  EXPECT_EQ(length_of(record, 7), 3);
  EXPECT_EQ(record[9], 0xEE);

  // From a fixed BINARY(2): the length is the whole source.
  std::vector<int32_t> f = step(29, 2, 0, 3, 30, 6, 0, 7);
  f[LAY_NEW_LENGTH_FIELD] = 7;
  f[LAY_NEW_LENGTH_FIELD_SIZE] = 2;
  const std::vector<uint8_t> fixed = {0, 0, 9};
  value_convert(&st, ByteSpan(record), 0, f, ConstByteSpan(fixed), 0);
  EXPECT_EQ(st, 0);
  EXPECT_EQ(length_of(record, 7), 2);

  // A null source makes the value and its length null.
  const std::vector<uint8_t> null_value = {255, 0, 0};
  value_convert(&st, ByteSpan(record), 0, f, ConstByteSpan(null_value), 0);
  EXPECT_EQ(st, 0);
  EXPECT_EQ(record[0], 255);
  EXPECT_EQ(record[7], 255);

  // A length the field cannot hold is a length-field error (r - 19060).
  std::vector<int32_t> g = step(29, 20, 0, 21, 30, 20, 0, 21);
  g[LAY_NEW_LENGTH_FIELD] = 21;
  g[LAY_NEW_LENGTH_FIELD_SIZE] = 2;  // one digit only
  std::vector<uint8_t> wide(21, 1);
  wide[0] = 0;
  std::vector<uint8_t> out(24, 0);
  value_convert(&st, ByteSpan(out), 0, g, ConstByteSpan(wide), 0);
  EXPECT_EQ(st, kDecimalOverflowPos + kLengthFieldBase);
  // A length field outside the record is refused.
  g[LAY_NEW_LENGTH_FIELD] = 23;
  value_convert(&st, ByteSpan(out), 0, g, ConstByteSpan(wide), 0);
  EXPECT_EQ(st, kLayoutOutsideRecord);
}

TEST(RowLayout, CopyAndConvert) {
  // New record: a generated key (kind 1, 2 bytes), a sequence value (kind 2,
  // DECIMAL(5), 4 bytes), an added column (kind 3, 3 bytes from the image), a
  // converted column (kind 4, CHAR(4) from CHAR(2) at source 0), a column
  // copied (kind 7, 3 bytes from source 3).
  std::vector<int32_t> words;
  auto add = [&](std::vector<int32_t> e) { words.insert(words.end(), e.begin(), e.end()); };
  add(simple_step(1, 2));
  std::vector<int32_t> seq = simple_step(2, 4);
  seq[LAY_OLD_TYPE] = 3;
  seq[LAY_OLD_PRECISION] = 5;
  add(seq);
  add(simple_step(3, 3));
  add(step(1, 2, 0, 3, 1, 4, 0, 5));
  add(simple_step(7, 3, 3));
  words.push_back(-1);
  std::vector<int32_t> sequence(SEQ_WORDS, 0);
  sequence[SEQ_STATE] = -1;
  sequence[SEQ_START] = 10;
  sequence[SEQ_INCREMENT] = 5;
  sequence[SEQ_LIMIT] = 1000;
  std::vector<uint8_t> image(17, 0);
  image[6] = 'x', image[7] = 'y', image[8] = 'z', image[9] = 'q';
  RowLayout layout{words, ConstByteSpan(image), 17, sequence};

  std::vector<uint8_t> record(20, 0xEE);
  int32_t st = -5;
  row_layout_copy(&st, layout, ByteSpan(record));
  EXPECT_EQ(st, 0);
  EXPECT_EQ(std::string(record.begin() + 6, record.begin() + 10), std::string("xyz\0", 4));
  EXPECT_EQ(record[0], 0);
  EXPECT_EQ(record[17], 0xEE);  // beyond the record length

  const std::vector<uint8_t> source = {0, 'h', 'i', 0, 1, 2};
  row_layout_convert(&st, layout, ByteSpan(record), ConstByteSpan(source));
  EXPECT_EQ(st, 1);  // a generated key is asked for
  auto ten = decimal("10", 5, 0);
  EXPECT_EQ(std::vector<uint8_t>(record.begin() + 2, record.begin() + 6),
            std::vector<uint8_t>(ten.begin(), ten.begin() + 4));
  EXPECT_EQ(std::string(record.begin() + 6, record.begin() + 9), "xyz");
  EXPECT_EQ(std::string(record.begin() + 9, record.begin() + 14), std::string("\0hi  ", 5));
  EXPECT_EQ(std::vector<uint8_t>(record.begin() + 14, record.begin() + 17),
            (std::vector<uint8_t>{0, 1, 2}));
  EXPECT_EQ(record[17], 0xEE);
  row_layout_convert(&st, layout, ByteSpan(record), ConstByteSpan(source));
  auto fifteen = decimal("15", 5, 0);
  EXPECT_EQ(record[3], fifteen[1]);  // the sequence stepped
  EXPECT_EQ(sequence[SEQ_VALUE], 15);

  const std::vector<uint8_t> null_source = {0, 'h', 'i', 255, 1, 2};
  row_layout_convert(&st, layout, ByteSpan(record), ConstByteSpan(null_source));
  EXPECT_EQ(st, kConvertNull);
  // A copied field outside the source record is refused.
  const std::vector<uint8_t> short_source = {0, 'h', 'i', 0};
  row_layout_convert(&st, layout, ByteSpan(record), ConstByteSpan(short_source));
  EXPECT_EQ(st, kLayoutOutsideRecord);
  // A layout without its end marker is refused, not read past.
  words.pop_back();
  RowLayout unended{words, ConstByteSpan(image), 17, sequence};
  row_layout_convert(&st, unended, ByteSpan(record), ConstByteSpan(source));
  EXPECT_EQ(st, kLayoutOutsideRecord);
  row_layout_copy(&st, unended, ByteSpan(record));
  EXPECT_EQ(st, kLayoutOutsideRecord);
}

// A unique sequence that runs out hands out no value twice: the record that
// finds it exhausted, or exhausts it, fails and its field is not written.
TEST(RowLayout, ExhaustedUniqueSequenceStoresNothing) {
  struct Case {
    int32_t start, increment, limit;
    std::vector<int32_t> values;  // what the records receive before it runs out
  };
  const Case cases[] = {
      {1, 1, 2, {1, 2}},
      {1, 2, 4, {1, 3}},                                // the range is a multiple of the increment
      {1, 3, 7, {1, 4, 7, 3, 6, 2, 5}},                 // every value once, then back at the start
      {10, -5, 0, {10, 5, 0, 6, 1, 7, 2, 8, 3, 9, 4}},  // descending
      {0, 4, 5, {0, 4, 2}},  // a wrap lands on the start: exhausted after the step
      {5, 1, 5, {5}},
      {3, 0, 9, {3}},  // an increment of 0 has no second value
  };
  for (const Case& c : cases) {
    std::vector<int32_t> words = simple_step(2, 4);
    words[LAY_OLD_TYPE] = 3;
    words[LAY_OLD_PRECISION] = 5;
    words.push_back(-1);
    std::vector<int32_t> sequence(SEQ_WORDS, 0);
    sequence[SEQ_UNIQUE] = 1;
    sequence[SEQ_STATE] = -1;
    sequence[SEQ_START] = c.start;
    sequence[SEQ_INCREMENT] = c.increment;
    sequence[SEQ_LIMIT] = c.limit;
    const std::vector<uint8_t> image(4, 0);
    RowLayout layout{words, ConstByteSpan(image), 4, sequence};
    std::vector<int32_t> got;
    int32_t errors = 0;
    for (int record = 0; record < 40; ++record) {
      std::vector<uint8_t> target(6, 0xEE);
      int32_t st = 99;
      row_layout_convert(&st, layout, ByteSpan(target), ConstByteSpan(image));
      if (st == 0) {
        ASSERT_EQ(errors, 0) << "a value after the sequence ran out, start " << c.start;
        int32_t v = 0;
        ASSERT_EQ(decimal_to_int(&v, ConstByteSpan(target), value_descriptor{0, 5, 0, 0}), 0);
        got.push_back(v);
        continue;
      }
      EXPECT_EQ(st, kConvertSequenceExhausted) << "start " << c.start;
      EXPECT_EQ(target, std::vector<uint8_t>(6, 0xEE)) << "start " << c.start;
      ++errors;
    }
    EXPECT_EQ(got, c.values) << "start " << c.start;
    EXPECT_EQ(errors, 40 - static_cast<int32_t>(c.values.size()));
  }
}

}  // namespace
