// Case mapping: every code point's tables against the reference that Python's
// unicodedata wrote for the same Unicode version, and the in-place case change
// of format 3 strings where one character grows into several.
#include "platform/case_map.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/unicode_case_tables.h"

namespace {

struct Reference {
  std::vector<int32_t> upper;
  std::vector<int32_t> lower;
};

std::unordered_map<int32_t, Reference> load_reference() {
  std::unordered_map<int32_t, Reference> ref;
  std::ifstream in(HARBOUND_TEST_DATA "/unicode_case_reference.txt");
  EXPECT_TRUE(in.good());
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    int32_t cp = 0;
    int upper_count = 0;
    fields >> std::hex >> cp >> std::dec >> upper_count >> std::hex;
    Reference r;
    int32_t unit;
    for (int i = 0; i < upper_count && fields >> unit; ++i) r.upper.push_back(unit);
    while (fields >> unit) r.lower.push_back(unit);
    ref[cp] = r;
  }
  return ref;
}

TEST(CaseMap, EveryCodePointMatchesTheReference) {
  EXPECT_STREQ(unicode_case_tables::kUnicodeVersion, "14.0.0");
  auto ref = load_reference();
  ASSERT_GT(ref.size(), 2500u);
  int mismatches = 0;
  for (int32_t cp = 0; cp <= 0x10FFFF && mismatches < 10; ++cp) {
    Reference r{{cp}, {cp}};
    if (auto it = ref.find(cp); it != ref.end()) r = it->second;
    int32_t special[3] = {};
    int n = unicode_special_upper(special, cp);
    std::vector<int32_t> got_special(special, special + n);
    bool ok;
    if (r.upper.size() > 1) {
      ok = got_special == r.upper && unicode_simple_upper(cp) == cp;
    } else {
      ok = n == 0 && unicode_simple_upper(cp) == r.upper[0];
    }
    // A full lower-case mapping of several characters (U+0130 only) keeps its
    // simple mapping, the first of them.
    ok = ok && unicode_simple_lower(cp) == r.lower[0];
    // Lower-casing gives one character, the lower-case mapping itself for
    // every code point without an upper-case mapping to fold through.
    int32_t lowered[3];
    n = unicode_lower(lowered, cp);
    ok = ok && n == 1 && (unicode_simple_upper(cp) != cp || lowered[0] == r.lower[0]);
    if (!ok) {
      ++mismatches;
      ADD_FAILURE() << "U+" << std::hex << cp;
    }
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(unicode_case_property(0x110000), 0);
  EXPECT_EQ(unicode_case_property(-1), 0);
}

TEST(CaseMap, SingleCodePointMappingsFoldThroughTheOtherCase) {
  struct Case {
    int32_t cp;
    std::vector<int32_t> upper, lower;
  };
  const Case cases[] = {
      {'a', {'A'}, {'a'}},
      {0xDF, {'S', 'S'}, {0xDF}},          // sharp s has only a special upper
      {0xFB00, {'F', 'F'}, {0xFB00}},      // lower case already: lowering keeps it
      {0x1FBC, {0x391, 0x399}, {0x1FB3}},  // title case: one lower-case letter
      {0x1E9E, {'S', 'S'}, {0xDF}},        // capital sharp s folds to it
      {0x1C5, {0x1C4}, {0x1C6}},           // title case Dz
      {0xAB70, {0x13A0}, {0xAB70}},        // Cherokee: a delta beyond 15 bits
      {0x13A0, {0x13A0}, {0xAB70}},
      {0x1F80, {0x1F08, 0x399}, {0x1F80}},  // Greek with ypogegrammeni
      {0x390, {0x399, 0x308, 0x301}, {0x390}},
      {0x3C2, {0x3A3}, {0x3C3}},  // final sigma
      {0x130, {'I'}, {'i'}},
      {0x1E900, {0x1E900}, {0x1E922}},  // Adlam, beyond the BMP
      {0x10FFFF, {0x10FFFF}, {0x10FFFF}},
  };
  for (const Case& c : cases) {
    int32_t out[3];
    int n = unicode_upper(out, c.cp);
    EXPECT_EQ(std::vector<int32_t>(out, out + n), c.upper) << std::hex << c.cp;
    n = unicode_lower(out, c.cp);
    EXPECT_EQ(std::vector<int32_t>(out, out + n), c.lower) << std::hex << c.cp;
  }
}

std::vector<uint8_t> units3(const std::vector<int32_t>& cps) {
  std::vector<uint8_t> b;
  for (int32_t cp : cps) {
    b.push_back(static_cast<uint8_t>(cp >> 16));
    b.push_back(static_cast<uint8_t>(cp >> 8));
    b.push_back(static_cast<uint8_t>(cp));
  }
  return b;
}

TEST(CaseMap, StringCaseChangeShiftsTheTailAndReportsLoss) {
  struct Case {
    int mode;
    std::vector<int32_t> in, out;
    int result, dropped;
  };
  const Case cases[] = {
      {1, {0xDF}, {'S'}, 1, 0},                      // the mapping is cut
      {1, {0xDF, ' '}, {'S', 'S'}, 0, 1},            // a blank falls off: no loss
      {1, {'a', 0xDF, 'b'}, {'A', 'S', 'S'}, 1, 1},  // 'b' falls off
      {1, {0xFB03, ' '}, {'F', 'F'}, 1, 1},          // three units into two places
      {1, {0xFB03, 'x', ' ', ' '}, {'F', 'F', 'I', 'X'}, 0, 2},
      {1, {'m', 0x1F80, 'z', ' '}, {'M', 0x1F08, 0x399, 'Z'}, 0, 1},
      {2, {0xC0, 'B', 0x3A3}, {0xE0, 'b', 0x3C3}, 0, 0},
      {2, {0xDF, 'Q', ' '}, {0xDF, 'q', ' '}, 0, 0},  // lower-casing never grows
      {2, {0x1FBC, 0x1E9E}, {0x1FB3, 0xDF}, 0, 0},
      {1, {0x110000, 0xD800, 'q'}, {0x110000, 0xD800, 'Q'}, 0, 0},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> field = units3(c.in);
    field.insert(field.begin(), 2, 0xEE);  // offset guard
    field.push_back(0xEE);
    int32_t dropped = -1;
    int n = static_cast<int>(c.in.size());
    EXPECT_EQ(charenc_case_units3(field, 2, n, &dropped, c.mode), c.result);
    EXPECT_EQ(dropped, c.dropped);
    std::vector<uint8_t> want = units3(c.out);
    EXPECT_EQ(std::vector<uint8_t>(field.begin() + 2, field.end() - 1), want);
    EXPECT_EQ(field[0], 0xEE);
    EXPECT_EQ(field.back(), 0xEE);
  }
  // A count beyond the area is cut to it.
  std::vector<uint8_t> field = units3({'a', 'b'});
  int32_t dropped = -1;
  EXPECT_EQ(charenc_case_units3(field, 3, 50, &dropped, 1), 0);
  EXPECT_EQ(field, units3({'a', 'B'}));
}

}  // namespace
