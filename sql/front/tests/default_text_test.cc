// The default text checks: the cases of each form, both forms against each
// other on random texts, and quoted strings that decode to themselves.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "sql/front/default_text.h"

namespace {

// Decodes in the single-byte form; the result text is empty for a marker.
std::pair<int32_t, std::string> Narrow(const std::string& text) {
  std::string t = text;
  int32_t n = static_cast<int32_t>(t.size());
  DefaultTextCheck(t.data(), &n);
  return {n, n > 0 ? t.substr(0, static_cast<size_t>(n)) : std::string()};
}

std::pair<int32_t, std::string> Wide(const std::string& text) {
  // One unit more than the length, poisoned: nothing past the length is read.
  std::vector<int32_t> t(text.begin(), text.end());
  t.push_back('\'');
  int32_t n = static_cast<int32_t>(text.size());
  DefaultTextCheckW(t.data(), &n);
  std::string out;
  for (int32_t i = 0; i < n; ++i) out += static_cast<char>(t[static_cast<size_t>(i)]);
  return {n, out};
}

TEST(DefaultText, Cases) {
  struct Case {
    std::string text;
    int32_t length;
    std::string value;
  };
  const Case cases[] = {
      {"'It''s'", 4, "It's"},
      {"''", 0, ""},
      {"'", 0, ""},
      {"", 0, ""},
      {"X'0A1'", 2, std::string("\x0a\x10", 2)},
      {"X''", 0, ""},
      {"X'G1'", 1, std::string("\x01", 1)},  // a letter past F counts as 0
      {"CURRENT_TIMESTAMP(3)", -5, ""},
      {"LOCALTIMESTAMP(6)", -5, ""},
      {"CURRENT_TIMESTAMP", 0, ""},
      {"CURRENT_TIME(0)", -4, ""},
      {"LOCALTIME(2)", -4, ""},
      {"CURRENT_TIME()", 0, ""},  // no precision digit: not a time value
      {"CURRENT_DATE", -3, ""},
      {"NULL", -1, ""},
      {"USER", -2, ""},
      {"CURRENT_USER", -6, ""},
      {"SESSION_USER", -7, ""},
      {"SYSTEM_USER", -8, ""},
      {"NEXT_VALUE OF S1", -9, ""},
      {"NEXT_VALUE", -9, ""},
      {"CURRENT_VALUE OF S", -10, ""},
      {"SEQ1", 0, ""},  // an unquoted name: no quote, nothing
      {"TIMESTAMP'2020-01-02 03:04:05'", 19, "2020-01-02 03:04:05"},
      {"DATE'1999-12-31", 10, "1999-12-31"},
      {"-12", 3, "-12"},
      {"7.5E3", 5, "7.5E3"},
      {"nULL", 4, "nULL"},
  };
  for (const Case& c : cases) {
    auto [n, value] = Narrow(c.text);
    EXPECT_EQ(n, c.length) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
    auto [wn, wvalue] = Wide(c.text);
    EXPECT_EQ(wn, c.length) << c.text;
    EXPECT_EQ(wvalue, c.value) << c.text;
  }
}

TEST(DefaultText, NationalLiteralsAreTheWideFormsOwn) {
  EXPECT_EQ(Wide("N'a''b'"), std::make_pair(3, std::string("a'b")));
  EXPECT_EQ(Wide("N''"), std::make_pair(0, std::string()));
  // The single-byte form takes it as a typed literal: no undoubling.
  EXPECT_EQ(Narrow("N'a''b'"), std::make_pair(1, std::string("a")));
}

TEST(DefaultText, BothFormsAgreeOnRandomTexts) {
  std::mt19937 rng(31);
  const std::string alphabet = "'XN0A9F(3)_CURENT_DAIMSLVXUQ -G";
  for (int i = 0; i < 20000; ++i) {
    std::string t;
    int len = static_cast<int>(rng() % 24);
    for (int k = 0; k < len; ++k) t += alphabet[rng() % alphabet.size()];
    if (t.size() >= 2 && t[0] == 'N' && t[1] == '\'') continue;
    EXPECT_EQ(Narrow(t), Wide(t)) << t;
  }
}

TEST(DefaultText, QuotedStringsDecodeToThemselves) {
  std::mt19937 rng(7);
  for (int i = 0; i < 5000; ++i) {
    std::string s;
    int len = static_cast<int>(rng() % 20);
    for (int k = 0; k < len; ++k) s += static_cast<char>(rng() % 4 == 0 ? '\'' : 1 + rng() % 255);
    std::string quoted = "'";
    for (char c : s) {
      quoted += c;
      if (c == '\'') quoted += '\'';
    }
    quoted += '\'';
    EXPECT_EQ(Narrow(quoted), std::make_pair(static_cast<int32_t>(s.size()), s));
    EXPECT_EQ(Wide(quoted), std::make_pair(static_cast<int32_t>(s.size()), s));
  }
}

// Texts of any bytes (and any 32-bit units), each in a buffer of exactly its
// length, so that the address sanitizer's runs see a read past it: the
// result is a marker or a length no longer than the text.
TEST(DefaultText, AnyBytesStayWithinTheirLength) {
  std::mt19937 rng(4242);
  const std::string starts[] = {"'", "X'", "N'", "CURRENT_TIME(", "NEXT_VALUE", "DATE'", "A"};
  for (int i = 0; i < 20000; ++i) {
    size_t len = rng() % 24;
    std::string t = i % 3 == 0 ? starts[rng() % 7] : std::string();
    while (t.size() < len) t += static_cast<char>(rng() % 4 == 0 ? '\'' : rng() % 256);
    t.resize(len);
    std::unique_ptr<char[]> narrow(new char[len + (len == 0)]);
    std::memcpy(narrow.get(), t.data(), len);
    int32_t n = static_cast<int32_t>(len);
    DefaultTextCheck(narrow.get(), &n);
    EXPECT_TRUE(n <= static_cast<int32_t>(len) && n >= -10) << n;
    std::unique_ptr<int32_t[]> wide(new int32_t[len + (len == 0)]);
    for (size_t k = 0; k < len; ++k) {
      wide[k] = rng() % 2 == 0 ? static_cast<unsigned char>(t[k]) : static_cast<int32_t>(rng());
    }
    int32_t wn = static_cast<int32_t>(len);
    DefaultTextCheckW(wide.get(), &wn);
    EXPECT_TRUE(wn <= static_cast<int32_t>(len) && wn >= -10) << wn;
  }
}

}  // namespace
