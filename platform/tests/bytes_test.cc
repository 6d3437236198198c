// Byte primitives: padded compares, searches (against the standard library's
// searches as a model), case tables, bitmaps, null indicators, and fields that
// reach past their areas.
#include "platform/bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> bytes_of(const std::string& s) {
  return {s.begin(), s.end()};
}

struct PaddedCase {
  std::string a;
  int32_t a_length;
  std::string b;
  int32_t b_length;
  uint8_t fill;
  int32_t want;
};

TEST(CompareBytes, PaddedCompareGivesSignedPositionOfFirstDifference) {
  const PaddedCase cases[] = {
      {"AB", 2, "ABC", 3, ' ', -3},      // a is extended with the blank, smaller at 3
      {"AB  ", 2, "AB  ", 4, ' ', 0},    // trailing blanks of the longer do not count
      {"ABC", 3, "AB", 2, ' ', 3},       // the longer is a, C above blank
      {"AB\x01", 3, "AB", 2, ' ', -3},   // a byte below the fill makes the longer smaller
      {"AX", 2, "AB", 2, ' ', 2},        // difference inside the common part
      {"A\xFF", 2, "A\x01", 2, ' ', 2},  // bytes compare unsigned
      {"AB", -4, "", 0, ' ', 0},         // a negative length counts as 0
      {"", 0, "  ", 2, ' ', 0},
      {"", 0, "ab", 2, 'a', -2},  // the fill byte decides against b's bytes
  };
  for (const PaddedCase& c : cases) {
    const auto a = bytes_of(c.a), b = bytes_of(c.b);
    EXPECT_EQ(mdr_compare_padded(a, 0, c.a_length, b, 0, c.b_length, c.fill), c.want)
        << c.a << " / " << c.b;
  }
}

TEST(CompareBytes, ThreeWayCompareAndNullableCompare) {
  const auto x = bytes_of("abcd"), y = bytes_of("abzd");
  EXPECT_EQ(mdr_compare_bytes(x, 0, y, 0, 4), -1);
  EXPECT_EQ(mdr_compare_bytes(y, 0, x, 0, 4), 1);
  EXPECT_EQ(mdr_compare_bytes(x, 0, y, 0, 2), 0);
  EXPECT_EQ(mdr_compare_bytes(x, 0, y, 0, 0), 0);
  EXPECT_EQ(mdr_compare_bytes(x, 0, y, 0, -7), 0);

  // Indicator byte first; lengths count the bytes after it.
  struct Case {
    std::string a;
    int32_t a_length;
    std::string b;
    int32_t b_length;
    int32_t want;
  };
  const Case cases[] = {
      {std::string("\xFF", 1) + "A", 1, std::string("\xFF", 1) + "A", 1, 1},  // both null
      {std::string("\x00", 1) + "A", 1, std::string("\xFF", 1), 0, 1},
      {std::string("\x00", 1) + "A", 1, std::string("\x00", 1) + "A ", 2, 3},
      {std::string("\x00", 1) + "A", 1, std::string("\x00", 1) + "A\x01", 2, 4},
      {std::string("\x00", 1) + "A", 1, std::string("\x00", 1) + "AB", 2, 2},
      {std::string("\x01", 1) + "B", 1, std::string("\x00", 1) + "A", 1, 4},
      {std::string("\x00", 1) + "A", -3, std::string("\x00", 1), 0, 3},
  };
  for (const Case& c : cases) {
    const auto a = bytes_of(c.a), b = bytes_of(c.b);
    EXPECT_EQ(mdr_compare_nullable(a, 0, c.a_length, b, 0, c.b_length), c.want);
  }
}

TEST(MoveBytes, MovePadCopiesTheShorterAndFills) {
  std::vector<uint8_t> t(6, 'x');
  const auto s = bytes_of("abcdef");
  mdr_move_pad(t, 1, 4, s, 0, 2, '.');
  EXPECT_EQ(std::string(t.begin(), t.end()), "xab..x");
  mdr_move_pad(t, 0, 2, s, 0, 6, '.');
  EXPECT_EQ(std::string(t.begin(), t.end()), "abb..x");
  mdr_move_pad(t, 0, 0, s, 0, 6, '.');
  mdr_move_pad(t, 0, -1, s, 0, 6, '.');
  EXPECT_EQ(std::string(t.begin(), t.end()), "abb..x");
  mdr_move_pad(t, 0, 3, s, 0, -2, '_');  // negative source length: fill only
  EXPECT_EQ(std::string(t.begin(), t.end()), "___..x");
  // Overlapping move inside one area.
  std::vector<uint8_t> o = bytes_of("123456");
  mdr_move_pad(o, 2, 4, o, 0, 4, ' ');
  EXPECT_EQ(std::string(o.begin(), o.end()), "121234");
}

TEST(SearchBytes, SingleByteScans) {
  const auto blanks = bytes_of("     ");
  const auto mid = bytes_of("  X  ");
  EXPECT_EQ(mdr_find_byte(blanks, 0, 5, ' '), 0);
  EXPECT_EQ(mdr_find_byte(blanks, 0, -5, ' '), 0);
  EXPECT_EQ(mdr_find_byte(mid, 0, 5, ' '), 3);
  EXPECT_EQ(mdr_find_byte(mid, 0, -5, ' '), 3);
  EXPECT_EQ(mdr_find_byte(mid, 0, 0, ' '), 0);

  const auto text = bytes_of("abcabc");
  EXPECT_EQ(mdr_index_of_byte(text, 0, 6, 'b'), 2);
  EXPECT_EQ(mdr_index_of_byte(text, 0, -6, 'b'), 5);
  EXPECT_EQ(mdr_index_of_byte(text, 1, -3, 'a'), 3);  // counted from the field's start
  EXPECT_EQ(mdr_index_of_byte(text, 0, 6, 'z'), 0);
  EXPECT_EQ(mdr_span_to_byte(text, 0, 6, 'c'), 2);
  EXPECT_EQ(mdr_span_to_byte(text, 0, 6, 'z'), 6);
  EXPECT_EQ(mdr_span_to_byte(text, 0, -6, 'a'), 0);
}

TEST(SearchBytes, PatternSearchGivesEndOfMatch) {
  const auto text = bytes_of("xxxxABxxAB");
  const auto pat = bytes_of("AB");
  EXPECT_EQ(mdr_find_bytes(text, 0, 10, pat, 0, 2), 6);    // starts at 0-based 4
  EXPECT_EQ(mdr_find_bytes(text, 0, -10, pat, 0, 2), 10);  // the last one
  EXPECT_EQ(mdr_find_bytes(text, 0, 0, pat, 0, 2), 0);
  EXPECT_EQ(mdr_find_bytes(text, 0, 10, pat, 0, 0), 0);
  EXPECT_EQ(mdr_find_bytes(pat, 0, 1, pat, 0, 2), 0);  // longer than the range
}

// The standard library's forward and backward searches are the model.
TEST(SearchBytes, PatternSearchAgreesWithStandardSearches) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> letter(0, 2), len(0, 12), plen(0, 4);
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> text(len(rng)), pat(plen(rng));
    for (auto& c : text) c = static_cast<uint8_t>('a' + letter(rng));
    for (auto& c : pat) c = static_cast<uint8_t>('a' + letter(rng));
    const int32_t n = static_cast<int32_t>(text.size());
    const int32_t m = static_cast<int32_t>(pat.size());
    int32_t want_first = 0, want_last = 0;
    if (m > 0 && m <= n) {
      auto f = std::search(text.begin(), text.end(), pat.begin(), pat.end());
      if (f != text.end()) want_first = static_cast<int32_t>(f - text.begin()) + m;
      auto l = std::find_end(text.begin(), text.end(), pat.begin(), pat.end());
      if (l != text.end()) want_last = static_cast<int32_t>(l - text.begin()) + m;
    }
    EXPECT_EQ(mdr_find_bytes(text, 0, n, pat, 0, m), want_first);
    if (n > 0) {
      EXPECT_EQ(mdr_find_bytes(text, 0, -n, pat, 0, m), want_last);
    }
  }
}

TEST(CaseBytes, TablesFollowIso8859_1) {
  for (int c = 0; c < 256; ++c) {
    const bool upper_letter = (c >= 'A' && c <= 'Z') || (c >= 192 && c <= 222 && c != 215);
    const bool lower_letter = (c >= 'a' && c <= 'z') || (c >= 224 && c <= 254 && c != 247);
    EXPECT_EQ(kLowerCaseTable[c], upper_letter ? c + 32 : c) << c;
    EXPECT_EQ(kUpperCaseTable[c], lower_letter ? c - 32 : c) << c;
  }
  std::vector<uint8_t> s = bytes_of("aB\xDF\xFF\xC0\xE0");
  EXPECT_EQ(mdr_upper_bytes(s, 0, 6), 6);
  EXPECT_EQ(s, bytes_of("AB\xDF\xFF\xC0\xC0"));
  case_translate(s, 0, 2, kCaseLower);
  EXPECT_EQ(s, bytes_of("ab\xDF\xFF\xC0\xC0"));
  case_translate(s, 0, 6, 7);
  EXPECT_EQ(s, bytes_of("ab\xDF\xFF\xC0\xC0"));
  EXPECT_EQ(translate_bytes(s, 0, -1, kUpperCaseTable), 0);
}

TEST(CaseBytes, XorWithAllOnesReversesTheOrder) {
  const uint8_t ones[1] = {255}, low[1] = {0x0F};
  std::vector<uint8_t> a = {0x10, 0x80}, b = {0x10, 0x81};
  ASSERT_EQ(mdr_compare_bytes(a, 0, b, 0, 2), -1);
  mdr_xor_bytes(a, 0, 2, ones, 0);
  mdr_xor_bytes(b, 0, 2, ones, 0);
  EXPECT_EQ(a, (std::vector<uint8_t>{0xEF, 0x7F}));
  EXPECT_EQ(mdr_compare_bytes(a, 0, b, 0, 2), 1);
  mdr_and_bytes(a, 1, 1, low, 0);
  EXPECT_EQ(a, (std::vector<uint8_t>{0xEF, 0x0F}));
  mdr_and_bytes(a, 0, 2, low, 1);  // a key outside its area: nothing changes
  EXPECT_EQ(a, (std::vector<uint8_t>{0xEF, 0x0F}));
}

TEST(WordBytes, SwapWordsReversesEachWord) {
  std::vector<uint8_t> w = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  mdr_swap_words(w, 0, 2);
  EXPECT_EQ(w, (std::vector<uint8_t>{4, 3, 2, 1, 8, 7, 6, 5, 9}));
  mdr_swap_words(w, 1, 3);  // only the two whole words inside the area turn
  EXPECT_EQ(w, (std::vector<uint8_t>{4, 8, 1, 2, 3, 9, 5, 6, 7}));
  uint8_t le[4] = {0x78, 0x56, 0x34, 0x12};
  EXPECT_EQ(load_le32(le), 0x12345678u);
  EXPECT_EQ(load_be24(le), 0x785634u);
}

TEST(Bitmaps, BitsCountLeastSignificantFirst) {
  std::vector<int32_t> map(2, 0);
  EXPECT_EQ(mdr_bit_set(map, 33), 0);
  EXPECT_EQ(map[1], 2);
  EXPECT_EQ(mdr_bit_set(map, 33), 1);
  EXPECT_EQ(mdr_bit_set(map, 31), 0);
  EXPECT_EQ(map[0], INT32_MIN);
  EXPECT_EQ(mdr_bit_test(map, 31), 1);
  EXPECT_EQ(mdr_bit_test(map, 30), 0);
  EXPECT_EQ(mdr_bit_clear_test(map, 31), 0);
  EXPECT_EQ(mdr_bit_clear_test(map, 31), 1);
  EXPECT_EQ(map[0], 0);
  for (int32_t bad : {-1, 64, INT32_MAX}) {
    EXPECT_EQ(mdr_bit_set(map, bad), -2);
    EXPECT_EQ(mdr_bit_test(map, bad), -2);
    EXPECT_EQ(mdr_bit_clear_test(map, bad), -2);
  }
  int32_t flags = 0;
  mdr_flag_set(&flags, 37);
  EXPECT_EQ(flags, 32);
  EXPECT_EQ(mdr_flag_test(flags, 5), 1);
  EXPECT_EQ(mdr_flag_test(flags, 4), 0);
  mdr_flag_set(&flags, -1);  // -1 mod 32 is 31
  EXPECT_EQ(mdr_flag_test(flags, 31), 1);
}

TEST(NullIndicators, StateAndSetNull) {
  std::vector<uint8_t> v = {0, 1, 254, 255};
  EXPECT_EQ(mdr_null_state(v, 0), kTruthLess);
  EXPECT_EQ(mdr_null_state(v, 1), kTruthEqual);
  EXPECT_EQ(mdr_null_state(v, 2), kTruthEqual);
  EXPECT_EQ(mdr_null_state(v, 3), kTruthUnknown);
  mdr_set_null(v, 0);
  EXPECT_EQ(v[0], 255);
  mdr_set_null(v, 4);  // outside: nothing written
  EXPECT_EQ(mdr_null_state(v, 4), kTruthUnknown);
}

TEST(SmallSteps, PlaceholdersGiveTheirConstants) {
  int32_t out = 5;
  mdr_difference(&out, 3, 10);
  EXPECT_EQ(out, 7);
  mdr_difference(&out, -1, INT32_MAX);
  EXPECT_EQ(out, INT32_MIN);
  StatusPair st{4, 4};
  status_clear(&st);
  EXPECT_EQ(st.rc, 0);
  EXPECT_EQ(st.os_status, -1);
  st = {4, 4};
  mdr_noop_status4(&st, 1, 2, 3);
  EXPECT_EQ(st.os_status, -1);
  EXPECT_EQ(mdr_noop_zero(4, 5), 0);
  mdr_noop_clear(&out, 1, 2);
  EXPECT_EQ(out, 0);
}

// Offsets and lengths from callers never reach outside the area: a field is
// cut at the area's end, an offset outside gives an empty field.
TEST(BadFields, FieldsAreCutAtTheAreaEnd) {
  std::vector<uint8_t> area = bytes_of("abcdef");
  const auto head = ByteSpan(area).first(4);  // the area ends before "ef"
  EXPECT_EQ(mdr_compare_padded(head, 2, 100, bytes_of("cd"), 0, 2, ' '), 0);
  EXPECT_EQ(mdr_compare_padded(head, -3, 2, bytes_of(""), 0, 0, ' '), 0);
  EXPECT_EQ(mdr_compare_bytes(head, 0, area, 0, INT32_MAX), 0);
  EXPECT_EQ(mdr_find_byte(head, 0, INT32_MIN, 'z'), 4);
  EXPECT_EQ(mdr_index_of_byte(head, 0, 1000, 'e'), 0);
  EXPECT_EQ(mdr_span_to_byte(head, 2, 1000, 'e'), 2);
  EXPECT_EQ(mdr_find_bytes(head, 0, 1000, bytes_of("ef"), 0, 2), 0);
  EXPECT_EQ(mdr_find_bytes(head, 0, 4, bytes_of("cd"), 0, 9), 0);
  EXPECT_EQ(mdr_upper_bytes(head, 1, 1000), 3);
  mdr_move_pad(head, 2, 1000, area, 0, 1000, '.');
  mdr_swap_words(head, 2, 1000);
  mdr_move_pad(head, INT32_MAX, 10, area, 0, 1, '.');
  EXPECT_EQ(std::string(area.begin(), area.end()), "aBaBef");
  EXPECT_EQ(mdr_compare_nullable(head, 4, 1, head, 0, 1), kTruthUnknown);
  EXPECT_EQ(clip_field(ConstByteSpan(area), 6, 1).size(), 0u);
  EXPECT_TRUE(field_fits(area, 6, 0));
  EXPECT_FALSE(field_fits(area, 5, 2));
  EXPECT_FALSE(field_fits(area, -1, 1));
}

}  // namespace
