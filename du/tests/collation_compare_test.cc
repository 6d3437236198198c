// The compare, pad-span and search primitives through a translation table:
// the cases worth naming, and random strings against a model that translates
// both strings, extends the shorter with blanks and compares bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "storage_fixture.h"

namespace {

int32_t CompareN(const std::string& a, int32_t la, const std::string& b, int32_t lb,
                 const Table& table) {
  const auto x = Bytes(a), y = Bytes(b);
  int32_t result = 12345;
  DUCmpColl1(x, 0, la, y, 0, lb, table, &result);
  return result;
}

int32_t Compare(const std::string& a, const std::string& b, const Table& table) {
  return CompareN(a, static_cast<int32_t>(a.size()), b, static_cast<int32_t>(b.size()), table);
}

TEST(CollationCompare, Cases) {
  const Table id = IdentityTable();
  struct Case {
    std::string a, b;
    int32_t expected;
  };
  const Case cases[] = {
      {"ab", "ab", 0},  {"ab", "ab  ", 0}, {"ab  ", "ab", 0},     {"ab", "abc", -3},
      {"abc", "ab", 3}, {"abd", "abc", 3}, {"abc", "abd", -3},    {"   ", "", 0},
      {"", "   ", 0},   {"", "", 0},       {"  x", "", 3},        {"", "  x", -3},
      {"\x01", "", -1}, {"", "\x01", 1},   {"a\xe0", "a\x10", 2}, {"ab \x1f", "ab", -4},
  };
  for (const Case& c : cases) EXPECT_EQ(Compare(c.a, c.b, id), c.expected) << c.a << "|" << c.b;
}

TEST(CollationCompare, ThroughTheTable) {
  const Table fold = CaseFoldTable();
  EXPECT_EQ(Compare("abc", "ABC", fold), 0);
  EXPECT_EQ(Compare("a", "B", fold), -1);  // byte order would say +1
  EXPECT_EQ(Compare("a", "B", IdentityTable()), 1);
  // A byte that translates to the blank counts as a blank at the end.
  Table underscore_blank = IdentityTable();
  underscore_blank['_'] = ' ';
  EXPECT_EQ(Compare("ab__", "ab", underscore_blank), 0);
  EXPECT_EQ(Compare("ab_c", "ab", underscore_blank), 4);
}

TEST(CollationCompare, NegativeLengthsCountAsZeroAndFieldsStayInTheirAreas) {
  const Table id = IdentityTable();
  EXPECT_EQ(CompareN("abc", -5, "", 0, id), 0);
  EXPECT_EQ(CompareN("abc", 3, "x", -7, id), 1);
  // A length past the area's end is cut there.
  EXPECT_EQ(CompareN("ab", 1000, "ab", 2, id), 0);
}

// The simple reading of the compare: translate, blank-extend, compare bytes.
int32_t ModelCompare(const std::string& a, const std::string& b, const Table& t) {
  const size_t n = std::max(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const uint8_t x = i < a.size() ? t[static_cast<uint8_t>(a[i])] : ' ';
    const uint8_t y = i < b.size() ? t[static_cast<uint8_t>(b[i])] : ' ';
    if (x != y) return x > y ? static_cast<int32_t>(i + 1) : -static_cast<int32_t>(i + 1);
  }
  return 0;
}

std::string RandomString(std::mt19937& rng, const std::string& alphabet, size_t max_length) {
  std::string s(rng() % (max_length + 1), ' ');
  for (char& c : s) c = alphabet[rng() % alphabet.size()];
  return s;
}

TEST(CollationCompare, AgreesWithTheModel) {
  std::mt19937 rng(14);
  const std::string alphabet = std::string("  aAbB_\x10\xe0\xff", 10);
  Table shuffled = IdentityTable();
  std::shuffle(shuffled.begin(), shuffled.end(), rng);
  for (const Table& t : {IdentityTable(), CaseFoldTable(), shuffled}) {
    for (int i = 0; i < 3000; ++i) {
      const std::string a = RandomString(rng, alphabet, 6), b = RandomString(rng, alphabet, 6);
      ASSERT_EQ(Compare(a, b, t), ModelCompare(a, b, t)) << a << "|" << b;
    }
  }
}

int32_t Span(const std::string& s, int32_t length, uint8_t pad, const Table& t) {
  const auto x = Bytes(s);
  int32_t result = 12345;
  DUCmpColl2(x, 0, length, pad, t, &result);
  return result;
}

TEST(CollationPadSpan, Cases) {
  const Table id = IdentityTable(), fold = CaseFoldTable();
  EXPECT_EQ(Span("   ", 3, ' ', id), 0);
  EXPECT_EQ(Span("   ", -3, ' ', id), 0);
  EXPECT_EQ(Span("a  ", -3, ' ', id), 1);
  EXPECT_EQ(Span("a  ", 3, ' ', id), 1);
  EXPECT_EQ(Span("  a", 3, ' ', id), 3);
  EXPECT_EQ(Span("  a b ", -6, ' ', id), 5);
  EXPECT_EQ(Span("  a b ", -4, ' ', id), 3);  // only the first four bytes
  EXPECT_EQ(Span("xyz", 0, ' ', id), 0);
  EXPECT_EQ(Span("aAaB", 4, 'a', fold), 4);  // 'A' is the pad through the table
  EXPECT_EQ(Span("BaAa", -4, 'A', fold), 1);
  EXPECT_EQ(Span("ab", 1000, 'a', id), 2);  // cut at the area's end
  EXPECT_EQ(Span("ab", -2147483647 - 1, 'b', id), 1);
}

int32_t FindN(const std::string& s, int32_t length, const std::string& pattern,
              int32_t pattern_length, const Table& t) {
  const auto x = Bytes(s), p = Bytes(pattern);
  int32_t result = 12345;
  DUFindColl1(x, 0, length, p, 0, pattern_length, t, &result);
  return result;
}

int32_t Find(const std::string& s, int32_t length, const std::string& pattern, const Table& t) {
  return FindN(s, length, pattern, static_cast<int32_t>(pattern.size()), t);
}

TEST(CollationFind, Cases) {
  const Table id = IdentityTable(), fold = CaseFoldTable();
  EXPECT_EQ(Find("abcabc", 6, "abc", id), 3);
  EXPECT_EQ(Find("abcabc", -6, "abc", id), 6);
  EXPECT_EQ(Find("abcabc", -5, "abc", id), 3);  // the rightmost within five bytes
  EXPECT_EQ(Find("xxabc", 5, "ABC", fold), 5);
  EXPECT_EQ(Find("xxabc", 5, "ABC", id), 0);
  EXPECT_EQ(Find("abc", 3, "", id), 0);
  EXPECT_EQ(Find("abc", 0, "a", id), 0);
  EXPECT_EQ(Find("ab", 2, "abc", id), 0);
  EXPECT_EQ(FindN("abc", 3, "bc", 5, id), 0);  // a pattern cut by its area is not found
  EXPECT_EQ(FindN("abc", 3, "bc", -1, id), 0);
  EXPECT_EQ(FindN("abc", 3, "bcd", 2, id), 3);
}

TEST(CollationFind, IdentityTableAgreesWithTheByteSearch) {
  std::mt19937 rng(41);
  const Table id = IdentityTable();
  for (int i = 0; i < 3000; ++i) {
    const auto s = Bytes(RandomString(rng, "ab ", 8));
    const auto p = Bytes(RandomString(rng, "ab ", 3));
    const int32_t n = static_cast<int32_t>(s.size()) * (rng() % 2 ? 1 : -1);
    const int32_t pl = static_cast<int32_t>(p.size());
    int32_t result = 0;
    DUFindColl1(s, 0, n, p, 0, pl, id, &result);
    ASSERT_EQ(result, mdr_find_bytes(s, 0, n, p, 0, pl));
  }
}

}  // namespace
