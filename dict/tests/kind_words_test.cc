// The kind-word tables: each number gives its word and the stored word
// (blank padded as rows hold it) gives the number back; holes and numbers
// outside a table are refused with -19089.
#include "dict/kind_words.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct TableCase {
  const char* name;
  const DDWordTable* table;
  int32_t low, high;
  std::vector<int32_t> holes;
};

TEST(KindWords, EveryNumberRoundTripsAndHolesAreRefused) {
  const TableCase kCases[] = {
      {"object", &kDDObjectWords, 1, 22, {17, 19, 21}},
      {"privilege kind", &kDDPrivKindWords, 1, 17, {14, 16}},
      {"table privilege", &kDDTablePrivWords, 1, 7, {}},
      {"column privilege", &kDDColumnPrivWords, 1, 5, {3}},
      {"grantee", &kDDGranteeWords, 1, 4, {}},
      {"source", &kDDSourceWords, 1, 6, {}},
      {"data access", &kDDDataAccessWords, 1, 4, {}},
  };
  for (const TableCase& c : kCases) {
    SCOPED_TRACE(c.name);
    for (int32_t n = c.low - 1; n <= c.high + 1; ++n) {
      std::string_view word;
      const bool hole =
          n < c.low || n > c.high || std::find(c.holes.begin(), c.holes.end(), n) != c.holes.end();
      ASSERT_EQ(DDWordOf(*c.table, n, &word), hole ? DD_KIND_OUTSIDE : 0) << n;
      if (hole) continue;
      std::string stored(word);
      stored.resize(20, ' ');
      EXPECT_EQ(DDNumberOf(*c.table, stored), n);
    }
  }
}

TEST(KindWords, TheWordsTheRowsHold) {
  std::string_view w;
  ASSERT_EQ(DDWordOf(kDDObjectWords, 16, &w), 0);
  EXPECT_EQ(w, "CONSTRAINT");
  ASSERT_EQ(DDWordOf(kDDUsageWords, 16, &w), 0);
  EXPECT_EQ(w, "CHECK");
  ASSERT_EQ(DDWordOf(kDDUsageWords, 21, &w), 0);
  EXPECT_EQ(w, "CHECK");
  EXPECT_EQ(DDWordOf(kDDUsageWords, 1, &w), DD_KIND_OUTSIDE);  // no DATABANK usage
  EXPECT_EQ(DDNumberOf(kDDUsageWords, "CHECK     "), 16);
  ASSERT_EQ(DDWordOf(kDDObjectWords, 20, &w), 0);
  EXPECT_EQ(w, "GENERATED");
  ASSERT_EQ(DDWordOf(kDDPrivKindWords, 4, &w), 0);
  EXPECT_EQ(w, "MEMBER");
  // Exact compare: case and inner blanks count.
  EXPECT_EQ(DDNumberOf(kDDObjectWords, "base table"), 0);
  EXPECT_EQ(DDNumberOf(kDDObjectWords, "BASE  TABLE"), 0);
  EXPECT_EQ(DDNumberOf(kDDObjectWords, "BASE TABLE          "), 6);
  for (int32_t k : {1, 2, 10, 11, 12, 13}) EXPECT_FALSE(DDPrivKindHasObject(k)) << k;
  for (int32_t k : {3, 4, 5, 6, 7, 8, 9, 15, 17}) EXPECT_TRUE(DDPrivKindHasObject(k)) << k;
  // The 8-character grantee words line up with the kinds and the letters.
  for (int32_t k = 1; k <= 4; ++k) {
    ASSERT_EQ(DDWordOf(kDDGranteeWords, k, &w), 0);
    std::string padded(w);
    padded.resize(8, ' ');
    EXPECT_EQ(DD_GRANTEE_WORDS8.substr(8 * (k - 1), 8), padded);
    EXPECT_EQ(DD_GRANTEE_LETTERS[k - 1], w[0]);
  }
  EXPECT_EQ(DD_TRIGGER_READ_BACK[4], "INSTEAD OF");
  EXPECT_EQ(DD_TRIGGER_READ_BACK[5].size(), 9u);
}

}  // namespace
