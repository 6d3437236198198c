// DDTypeCode over stored type and qualifier words, against a table of cases
// and against the reverse encoding: every code 1 to 35 stored as its words
// reads back as itself.
#include <gtest/gtest.h>

#include <string>

#include "dict/type_words.h"

namespace {

std::string Pad(const std::string& s, std::size_t n) {
  return s + std::string(n - s.size(), ' ');
}

struct Case {
  const char* type;
  const char* qualifier;
  int32_t code, length, scale;
};

TEST(TypeCode, StoredWordsGiveCodeLengthAndScale) {
  // Source: s0 = 4, length 100, precision 12, scale 3, leading 6, interval 9.
  const int32_t source[6] = {4, 100, 12, 3, 6, 9};
  const Case kCases[] = {
      {"CHARACTER", "", 1, 100, 0},
      {"DECIMAL", "", 2, 12, 3},
      {"Integer", "", 3, 12, 0},
      {"INTEGER", "", 7, 12, 0},
      {"Float", "", 4, 12, -1},
      {"FLOAT", "", 9, 12, -1},
      {"DATE", "", 12, 8, 6},
      {"TIME", "", 13, 12, 6},
      {"TIMESTAMP", "", 14, 20, 6},
      {"INTERVAL", "YEAR", 15, 9, 6},
      {"INTERVAL", "DAY TO SECOND", 24, 9, 6},
      {"INTERVAL", "MINUTE TO SECOND", 27, 9, 6},
      {"BIGINT", "", 28, 12, 0},
      {"BINARY LARGE OBJECT", "", 31, 100, 4},
      {"NATIONAL CHAR LARGE OBJECT", "", 33, 100, 4},
      {"NATIONAL CHARACTER VARYING", "", 35, 100, 0},
      // Not a type word (case matters; "INTEGER " padded differs from "integer").
      {"integer", "", 36, -7, -8},
      {"VARCHAR", "", 36, -7, -8},
      // An INTERVAL with a qualifier that is no entry names no type: 36,
      // not the 28 (BIGINT) of running one past the qualifier table.
      {"INTERVAL", "CENTURY", 36, -7, -8},
      {"INTERVAL", "", 36, -7, -8},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.type) + "/" + c.qualifier);
    const std::string type = Pad(c.type, 26), qualifier = Pad(c.qualifier, 16);
    int32_t result[3] = {0, -7, -8};
    DDTypeCode(type.data(), qualifier.data(), source, result);
    EXPECT_EQ(result[DDTC_OUT_CODE], c.code);
    EXPECT_EQ(result[DDTC_OUT_LENGTH], c.length);
    EXPECT_EQ(result[DDTC_OUT_SCALE], c.scale);
  }
  // TIME with s4 = 3 gives length 9 and scale 3.
  const int32_t time3[6] = {0, 0, 0, 0, 3, 0};
  int32_t result[3] = {};
  DDTypeCode(Pad("TIME", 26).data(), Pad("", 16).data(), time3, result);
  EXPECT_EQ(result[1], 9);
  EXPECT_EQ(result[2], 3);
}

TEST(TypeCode, EveryCodeRoundTripsThroughItsStoredWords) {
  const int32_t source[6] = {0, 10, 5, 0, 2, 4};
  for (int32_t code = 1; code <= 35; ++code) {
    SCOPED_TRACE(code);
    int32_t type_entry = 0, qualifier_entry = 0;
    ASSERT_TRUE(DDTypeEntries(code, &type_entry, &qualifier_entry));
    const std::string_view type = DDTypeWord(type_entry);
    ASSERT_EQ(type.size(), 26u);
    const std::string qualifier =
        qualifier_entry ? std::string(DDQualifierWord(qualifier_entry)) : Pad("", 16);
    int32_t result[3] = {};
    DDTypeCode(type.data(), qualifier.data(), source, result);
    EXPECT_EQ(result[DDTC_OUT_CODE], code);
  }
  int32_t t = 0, q = 0;
  EXPECT_FALSE(DDTypeEntries(0, &t, &q));
  EXPECT_FALSE(DDTypeEntries(36, &t, &q));
  EXPECT_EQ(DDTypeWord(23), "NATIONAL CHARACTER VARYING");
  EXPECT_EQ(DDTypeWord(21), "NATIONAL CHAR LARGE OBJECT");  // fills all 26
  EXPECT_TRUE(DDTypeWord(24).empty());
  EXPECT_EQ(DDQualifierWord(10), Pad("DAY TO SECOND", 16));
}

}  // namespace
