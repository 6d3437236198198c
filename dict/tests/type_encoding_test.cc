// DDEncodeType: the words and parameters each group of codes stores, the
// character-set pair, the default text's length rule, and the round trip
// back through DDTypeCode.
#include "dict/type_encoding.h"

#include <gtest/gtest.h>

#include <string>

#include "dict/kind_words.h"
#include "dict/type_words.h"

namespace {

TEST(TypeEncoding, GroupsStoreTheirParameters) {
  DDTypeParams p;
  DDTypeInput in;
  in.code = 34;
  in.length = 10;
  ASSERT_EQ(DDEncodeType(in, &p), 0);
  EXPECT_EQ(p.p[5], 10);
  EXPECT_EQ(p.p[6], 40);
  for (int n = 7; n <= 11; ++n) EXPECT_FALSE(p.p[n].has_value()) << n;
  EXPECT_EQ(p.p[2], 140);
  EXPECT_EQ(p.p[17], 139);
  EXPECT_EQ(DDTypeWord(p.type_entry), DDTypeWord(22));

  in = {};
  in.code = 31;
  in.length_high = 1;
  in.length = 5;
  ASSERT_EQ(DDEncodeType(in, &p), 0);
  EXPECT_EQ(p.p[5], (int64_t{1} << 32) + 5);
  EXPECT_EQ(p.p[6], p.p[5]);
  EXPECT_EQ(p.p[2], 0);

  in = {};
  in.code = 2;
  in.precision = 9;
  in.scale = 2;
  ASSERT_EQ(DDEncodeType(in, &p), 0);
  EXPECT_FALSE(p.p[5].has_value());
  EXPECT_EQ(p.p[7], 9);
  EXPECT_EQ(p.p[8], 2);
  EXPECT_EQ(p.p[9], 10);
  EXPECT_FALSE(p.p[10].has_value());

  in = {};
  in.code = 13;
  in.leading = 3;
  ASSERT_EQ(DDEncodeType(in, &p), 0);
  EXPECT_EQ(p.p[10], 3);
  EXPECT_FALSE(p.p[11].has_value());
  in.code = 24;
  in.interval_length = 12;
  ASSERT_EQ(DDEncodeType(in, &p), 0);
  EXPECT_EQ(p.p[11], 12);
  EXPECT_EQ(DDTypeWord(p.type_entry), DDTypeWord(15));
  EXPECT_EQ(DDQualifierWord(p.qualifier_entry).substr(0, 13), "DAY TO SECOND");

  in = {};
  in.code = 1;
  in.character_set = 7;
  ASSERT_EQ(DDEncodeType(in, &p), 0);
  EXPECT_EQ(p.p[2], 7);
  EXPECT_EQ(p.p[17], 135);
  in.character_set = 0;
  ASSERT_EQ(DDEncodeType(in, &p), 0);
  EXPECT_EQ(p.p[2], 136);

  for (int32_t bad : {0, 36, -1}) {
    in.code = bad;
    DDTypeParams untouched;
    untouched.type_entry = 99;
    EXPECT_EQ(DDEncodeType(in, &untouched), DD_KIND_OUTSIDE);
    EXPECT_EQ(untouched.type_entry, 99);
  }
}

TEST(TypeEncoding, ADefaultOf400IsKept401StoredEmptyNoneNull) {
  const std::pair<int32_t, std::optional<int64_t>> kCases[] = {
      {400, 400}, {401, 0}, {1, 1}, {0, std::nullopt}, {-5, std::nullopt}};
  for (const auto& [length, stored] : kCases) {
    DDTypeInput in;
    in.code = 1;
    in.default_length = length;
    DDTypeParams p;
    ASSERT_EQ(DDEncodeType(in, &p), 0);
    EXPECT_EQ(p.p[15], stored) << length;
    EXPECT_EQ(p.p[16].has_value(), stored.has_value()) << length;
  }
}

TEST(TypeEncoding, EveryCodeStoredReadsBackAsItself) {
  for (int32_t code = 1; code <= 35; ++code) {
    SCOPED_TRACE(code);
    DDTypeInput in;
    in.code = code;
    in.length = 20;
    in.precision = 9;
    in.scale = 2;
    in.leading = 3;
    in.interval_length = 7;
    DDTypeParams p;
    ASSERT_EQ(DDEncodeType(in, &p), 0);
    const std::string qualifier =
        p.qualifier_entry ? std::string(DDQualifierWord(p.qualifier_entry)) : std::string(16, ' ');
    // The source record as the reading statements give it back.
    const int32_t source[6] = {0,
                               static_cast<int32_t>(p.p[5].value_or(0)),
                               static_cast<int32_t>(p.p[7].value_or(0)),
                               static_cast<int32_t>(p.p[8].value_or(0)),
                               static_cast<int32_t>(p.p[10].value_or(0)),
                               static_cast<int32_t>(p.p[11].value_or(0))};
    int32_t result[3] = {};
    DDTypeCode(DDTypeWord(p.type_entry).data(), qualifier.data(), source, result);
    EXPECT_EQ(result[DDTC_OUT_CODE], code);
    if (code == 1 || code == 5 || code == 29 || code == 30 || code == 34 || code == 35) {
      EXPECT_EQ(result[DDTC_OUT_LENGTH], 20);
    }
    if (code == 2 || code == 11) {
      EXPECT_EQ(result[DDTC_OUT_LENGTH], 9);
      EXPECT_EQ(result[DDTC_OUT_SCALE], 2);
    }
    if (code >= 15 && code <= 27) {
      EXPECT_EQ(result[DDTC_OUT_LENGTH], 7);
      EXPECT_EQ(result[DDTC_OUT_SCALE], 3);
    }
  }
}

}  // namespace
