// Character formats: conversions with their result codes on short targets and
// bad code points, round trips of random text through the 3-byte form, scans,
// compares and the aligned search of 3-byte text.
#include "platform/char_format.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes units3(std::initializer_list<uint32_t> cps) {
  Bytes b;
  for (uint32_t cp : cps) {
    b.push_back(static_cast<uint8_t>(cp >> 16));
    b.push_back(static_cast<uint8_t>(cp >> 8));
    b.push_back(static_cast<uint8_t>(cp));
  }
  return b;
}

Bytes units(std::initializer_list<uint32_t> values, int format) {
  Bytes b;
  for (uint32_t v : values) {
    for (int i = 0; i < format; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  return b;
}

struct IntoCase {
  const char* what;
  Bytes source;
  int32_t format;
  int32_t target_length;
  Bytes want;  // the whole target afterwards (it starts as 0xEE bytes)
  int32_t rc;
};

TEST(CharFormat, IntoUnits3) {
  const IntoCase cases[] = {
      {"latin1 padded", {0x41, 0x42}, 1, 12, units3({0x41, 0x42, 0x20, 0x20}), 0},
      {"remainder bytes untouched", {0x41}, 1, 5, {0, 0, 0x41, 0xEE, 0xEE}, 0},
      {"cut blanks are no cut", {0x41, 0x20, 0x20}, 1, 3, units3({0x41}), 0},
      {"cut non-blank", {0x41, 0x20, 0x42}, 1, 6, units3({0x41, 0x20}), 1},
      {"utf16 pair joined", units({0xD83D, 0xDE00, 0x41}, 2), 2, 6, units3({0x1F600, 0x41}), 0},
      {"lone low surrogate kept", units({0xDC00}, 2), 2, 3, units3({0xDC00}), 0},
      {"high surrogate at the end kept", units({0x41, 0xD800}, 2), 2, 9,
       units3({0x41, 0xD800, 0x20}), 0},
      {"odd utf16 byte ignored", {0x41, 0x00, 0x42}, 2, 6, units3({0x41, 0x20}), 0},
      {"utf16 cut", units({0x41, 0x42}, 2), 2, 3, units3({0x41}), 1},
      {"utf16 cut blank", units({0x41, 0x20}, 2), 2, 3, units3({0x41}), 0},
      {"utf32 too big", units({0x110000, 0x41}, 4), 4, 6, units3({0xFFFD, 0x41}), -2},
      {"utf32 FFFE", units({0xFFFE}, 4), 4, 3, units3({0xFFFD}), -2},
      {"utf32 1FFFF", units({0x1FFFF}, 4), 4, 3, units3({0xFFFD}), -2},
      {"utf32 FDD0", units({0xFDD0}, 4), 4, 3, units3({0xFFFD}), -2},
      {"utf32 surrogate", units({0xD800}, 4), 4, 3, units3({0xFFFD}), -2},
      {"utf32 FDEF / FDF0", units({0xFDEF, 0xFDF0}, 4), 4, 6, units3({0xFFFD, 0xFDF0}), -2},
      {"invalid and cut: cut wins", units({0x110000, 0x41}, 4), 4, 3, units3({0xFFFD}), 1},
      {"units3 validated", units3({0x10FFFF, 0x10FFFD}), 3, 6, units3({0xFFFD, 0x10FFFD}), -2},
      {"units3 short tail ended", {0, 0, 0x41, 0, 0}, 3, 6, units3({0x41, 0x20}), 0},
  };
  for (const IntoCase& c : cases) {
    Bytes target(static_cast<size_t>(c.target_length), 0xEE);
    EXPECT_EQ(charenc_to_units3(target, 0, c.target_length, c.source, 0,
                                static_cast<int32_t>(c.source.size()), c.format),
              c.rc)
        << c.what;
    EXPECT_EQ(target, c.want) << c.what;
  }
}

struct OutCase {
  const char* what;
  Bytes source;  // format 3
  int32_t format;
  int32_t target_length;
  Bytes want;
  int32_t rc;
  int32_t written;  // bytes written without padding
};

TEST(CharFormat, OutOfUnits3) {
  const uint8_t E = 0xEE;
  const OutCase cases[] = {
      {"latin1 padded", units3({0x41}), 1, 3, {0x41, 0x20, 0x20}, 0, 1},
      {"latin1 lost: no padding", units3({0x100}), 1, 3, {191, E, E}, -1, 1},
      {"latin1 cut", units3({0x41, 0x42}), 1, 1, {0x41}, 1, 1},
      {"latin1 cut blanks", units3({0x41, 0x20}), 1, 1, {0x41}, 0, 1},
      {"utf16 pair", units3({0x1F600}), 2, 5, {0x3D, 0xD8, 0x00, 0xDE, E}, 0, 4},
      {"utf16 one unit of room", units3({0x1F600}), 2, 2, {0x3D, 0xD8}, 1, 2},
      {"utf16 padded in units, odd byte untouched",
       units3({0x41}),
       2,
       5,
       {0x41, 0, 0x20, 0, E},
       0,
       2},
      {"utf32 unchecked", units3({0xFFFFFF}), 4, 7, {0xFF, 0xFF, 0xFF, 0, E, E, E}, 0, 4},
      {"utf32 padded", units3({0x41}), 4, 8, {0x41, 0, 0, 0, 0x20, 0, 0, 0}, 0, 4},
      {"utf32 cut", units3({0x41, 0x42}), 4, 4, {0x41, 0, 0, 0}, 1, 4},
  };
  for (const OutCase& c : cases) {
    const int32_t sl = static_cast<int32_t>(c.source.size());
    Bytes target(static_cast<size_t>(c.target_length), E);
    EXPECT_EQ(charenc_from_units3(target, 0, c.target_length, c.format, c.source, 0, sl), c.rc)
        << c.what;
    EXPECT_EQ(target, c.want) << c.what;
    Bytes unpadded(static_cast<size_t>(c.target_length), E);
    int32_t written = -9;
    EXPECT_EQ(
        charenc_from_units3_len(&written, unpadded, 0, c.target_length, c.format, c.source, 0, sl),
        c.rc)
        << c.what;
    EXPECT_EQ(written, c.written) << c.what;
    for (size_t i = static_cast<size_t>(written); i < unpadded.size(); ++i) {
      EXPECT_EQ(unpadded[i], E) << c.what;
    }
  }
  // Format 3 targets copy with validation; the length form refuses them.
  Bytes t(6, E);
  const Bytes s = units3({0xD800, 0x41});
  EXPECT_EQ(charenc_from_units3(t, 0, 6, 3, s, 0, 6), -2);
  EXPECT_EQ(t, units3({0xFFFD, 0x41}));
  int32_t written = 7;
  EXPECT_EQ(charenc_from_units3_len(&written, t, 0, 6, 3, s, 0, 6), -4);
  EXPECT_EQ(written, 0);
}

// Random text of valid code points goes into the 3-byte form from formats 2
// and 4 and back unchanged, and into format 1 with 191 for what it cannot hold.
TEST(CharFormat, RandomTextRoundTrips) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> kind(0, 3), length(0, 8);
  for (int round = 0; round < 500; ++round) {
    std::vector<uint32_t> cps(static_cast<size_t>(length(rng)));
    for (uint32_t& cp : cps) {
      do {
        switch (kind(rng)) {
          case 0:
            cp = std::uniform_int_distribution<uint32_t>(0x21, 0xFF)(rng);
            break;
          case 1:
            cp = std::uniform_int_distribution<uint32_t>(0x100, 0xFFFF)(rng);
            break;
          default:
            cp = std::uniform_int_distribution<uint32_t>(0x10000, 0x10FFFF)(rng);
        }
      } while (!valid_code_point(cp));
    }
    Bytes utf16, utf32, latin1;
    bool lost = false;
    for (uint32_t cp : cps) {
      if (cp > 0xFFFF) {
        const uint32_t v = cp - 0x10000;
        utf16.insert(utf16.end(), {static_cast<uint8_t>((0xD800 + (v >> 10)) & 0xFF),
                                   static_cast<uint8_t>((0xD800 + (v >> 10)) >> 8),
                                   static_cast<uint8_t>((0xDC00 + (v & 0x3FF)) & 0xFF),
                                   static_cast<uint8_t>((0xDC00 + (v & 0x3FF)) >> 8)});
      } else {
        utf16.insert(utf16.end(), {static_cast<uint8_t>(cp), static_cast<uint8_t>(cp >> 8)});
      }
      for (int i = 0; i < 4; ++i) utf32.push_back(static_cast<uint8_t>(cp >> (8 * i)));
      latin1.push_back(cp > 255 ? 191 : static_cast<uint8_t>(cp));
      lost |= cp > 255;
    }
    const int32_t n3 = static_cast<int32_t>(cps.size() * 3);
    Bytes from16(cps.size() * 3), from32(cps.size() * 3);
    ASSERT_EQ(charenc_to_units3(from16, 0, n3, utf16, 0, static_cast<int32_t>(utf16.size()), 2), 0);
    ASSERT_EQ(charenc_to_units3(from32, 0, n3, utf32, 0, static_cast<int32_t>(utf32.size()), 4), 0);
    EXPECT_EQ(from16, from32);
    Bytes back16(utf16.size()), back32(utf32.size()), back1(latin1.size());
    EXPECT_EQ(charenc_from_units3(back16, 0, static_cast<int32_t>(back16.size()), 2, from16, 0, n3),
              0);
    EXPECT_EQ(charenc_from_units3(back32, 0, static_cast<int32_t>(back32.size()), 4, from16, 0, n3),
              0);
    EXPECT_EQ(charenc_from_units3(back1, 0, static_cast<int32_t>(back1.size()), 1, from16, 0, n3),
              lost ? -1 : 0);
    EXPECT_EQ(back16, utf16);
    EXPECT_EQ(back32, utf32);
    EXPECT_EQ(back1, latin1);
    Bytes narrowed(cps.size());
    EXPECT_EQ(charenc_units4_to_bytes(narrowed, 0, utf32, 0, static_cast<int32_t>(cps.size())),
              lost ? -1 : 0);
    EXPECT_EQ(narrowed, latin1);
  }
}

TEST(CharFormat, FillWritesWholeUnits) {
  Bytes b(9, 0xEE);
  EXPECT_EQ(charenc_fill(b, 1, 2, 0x12345, 4), 0);
  EXPECT_EQ(b, (Bytes{0xEE, 0x45, 0x23, 0x01, 0, 0x45, 0x23, 0x01, 0}));
  EXPECT_EQ(charenc_fill(b, 0, 2, 0x12345, 3), 0);
  EXPECT_EQ(b, (Bytes{0x01, 0x23, 0x45, 0x01, 0x23, 0x45, 0x23, 0x01, 0}));
  EXPECT_EQ(charenc_fill(b, 0, 2, 0x12345, 2), 0);
  EXPECT_EQ(charenc_fill(b, 4, 1, 0x141, 1), 0);
  EXPECT_EQ(b, (Bytes{0x45, 0x23, 0x45, 0x23, 0x41, 0x45, 0x23, 0x01, 0}));
  EXPECT_EQ(charenc_fill(b, 0, 1, 0x41, 5), -4);
  EXPECT_EQ(charenc_fill(b, 0, 0, 0x41, 1), 0);
  const Bytes src = units({0x263A}, 2);
  EXPECT_EQ(charenc_fill_units3(b, 0, 3, src, 0, 2), 0);
  EXPECT_EQ(b, units3({0x263A, 0x263A, 0x263A}));
  EXPECT_EQ(charenc_fill_units3(b, 0, 1, src, 0, 7), -4);

  // Long fills: every unit written, the byte after the field untouched.
  for (int32_t format = 1; format <= 4; ++format) {
    for (int32_t n : {1, 2, 5, 17}) {
      Bytes field(static_cast<size_t>(n * format + 1), 0xEE);
      ASSERT_EQ(charenc_fill(field, 0, n, 0x20AC, format), 0);
      EXPECT_EQ(field.back(), 0xEE);
      for (int32_t i = 0; i < n; ++i) {
        uint32_t unit = 0;
        for (int32_t k = 0; k < format; ++k) {
          const uint8_t byte = field[static_cast<size_t>(i * format + k)];
          unit |= format == 3 ? uint32_t{byte} << (8 * (2 - k)) : uint32_t{byte} << (8 * k);
        }
        EXPECT_EQ(unit, format == 1 ? 0xACu : 0x20ACu) << format << " " << n << " " << i;
      }
    }
  }
}

TEST(CharFormat, ScansFromEitherEnd) {
  const Bytes aba3 = units3({0x41, 0x42, 0x41});
  EXPECT_EQ(charenc_find_char(aba3, 0, -3, 0x41, 3), 2);
  EXPECT_EQ(charenc_find_char(aba3, 0, -3, 0x43, 3), -1);
  EXPECT_EQ(charenc_find_char(aba3, 0, 3, 0x43, 3), 3);
  EXPECT_EQ(charenc_find_char(aba3, 0, 3, 0x42, 3), 1);
  EXPECT_EQ(charenc_skip_char(aba3, 0, 3, 0x41, 3), 1);
  EXPECT_EQ(charenc_skip_char(aba3, 0, -3, 0x41, 3), 1);
  const Bytes padded2 = units({0x78, 0x20, 0x20}, 2);
  EXPECT_EQ(charenc_skip_char(padded2, 0, -3, 0x20, 2), 0);
  EXPECT_EQ(charenc_skip_char(padded2, 0, 3, 0x78, 2), 1);
  const Bytes blanks4 = units({0x20, 0x20}, 4);
  EXPECT_EQ(charenc_skip_char(blanks4, 0, 2, 0x20, 4), 2);
  EXPECT_EQ(charenc_skip_char(blanks4, 0, -2, 0x20, 4), -1);
  const Bytes latin = {'a', 0xE9};
  EXPECT_EQ(charenc_find_char(latin, 0, 2, 0xE9, 1), 1);
  EXPECT_EQ(charenc_find_char(latin, 0, 2, 0x1E9, 1), 2);  // whole units, no truncation
  EXPECT_EQ(charenc_find_char(latin, 0, 2, 0x41, 0), -4);
  EXPECT_EQ(charenc_get_unit3(aba3, 3), 0x42);
}

TEST(CharFormat, CompareUnits3BlankPadded) {
  struct Case {
    Bytes a, b;
    int32_t want;
  };
  const Case cases[] = {
      {units3({0x41}), units3({0x41, 0x20}), 3},
      {units3({0x41}), units3({0x41, 0x01}), 2},
      {units3({0x41, 0x10000}), units3({0x41}), 4},
      {units3({0x41, 0x20, 0x19}), units3({0x41}), 4},  // any non-blank extra: longer is greater
      {units3({0x100}), units3({0xFF}), 4},
      {units3({0x42}), units3({0x41, 0x50}), 4},
      {units3({}), units3({0x20, 0x20}), 3},
  };
  for (const Case& c : cases) {
    const int32_t na = static_cast<int32_t>(c.a.size() / 3),
                  nb = static_cast<int32_t>(c.b.size() / 3);
    EXPECT_EQ(charenc_compare_units3(c.a, 0, na, c.b, 0, nb), c.want);
    EXPECT_EQ(charenc_compare_units3(c.b, 0, nb, c.a, 0, na), 6 - c.want);
  }
  const Bytes x = units3({0x41});
  EXPECT_EQ(charenc_compare_units3(x, 0, -2, x, 0, 0), 3);
}

TEST(CharFormat, FindUnits3OnlyOnCharacterBoundaries) {
  // The bytes 00 41 00 occur first across the boundary of U+0100 U+4100.
  const Bytes text = units3({0x0100, 0x4100, 0x4100});
  const Bytes pat = units3({0x4100});
  EXPECT_EQ(charenc_find_units3(text, 0, 3, pat, 0, 1), 2);
  const Bytes across = {0x00, 0x41, 0x00};
  const Bytes only_across = units3({0x0041, 0x0041});  // 00 00 41 00 00 41
  EXPECT_EQ(charenc_find_units3(only_across, 0, 2, across, 0, 1), 0);
  EXPECT_EQ(charenc_find_units3(text, 0, 0, pat, 0, 1), 0);
  EXPECT_EQ(charenc_find_units3(text, 0, 3, pat, 0, 0), 0);
  EXPECT_EQ(charenc_find_units3(text, 0, 3, units3({0x0100, 0x4100}), 0, 2), 1);
}

// Fields that do not lie inside their areas are refused before anything is
// written.
TEST(CharFormat, FieldsOutsideTheAreaAreRefused) {
  Bytes t(6, 0xEE);
  const Bytes s = {0x41, 0x42};
  EXPECT_EQ(charenc_to_units3(t, 3, 6, s, 0, 2, 1), -5);
  EXPECT_EQ(charenc_to_units3(t, 0, 6, s, 1, 2, 1), -5);
  EXPECT_EQ(charenc_to_units3(t, -1, 3, s, 0, 2, 1), -5);
  EXPECT_EQ(charenc_to_units3(t, 0, 6, s, 0, 2, 9), -4);
  EXPECT_EQ(charenc_from_units3(t, 0, 7, 1, t, 0, 3), -5);
  EXPECT_EQ(charenc_fill(t, 0, INT32_MAX, 0x41, 4), -5);
  EXPECT_EQ(charenc_units4_to_bytes(t, 0, s, 0, 1), -5);
  EXPECT_EQ(t, Bytes(6, 0xEE));
  EXPECT_EQ(charenc_find_char(t, 4, -1, 0x41, 3), -5);
  EXPECT_EQ(charenc_get_unit3(t, 4), -1);
  EXPECT_EQ(charenc_compare_units3(t, 3, 100, t, 0, 1), 3);
  EXPECT_EQ(charenc_find_units3(t, 0, INT32_MAX, t, 3, 1), 1);
  // Negative lengths count as 0: an empty source pads the whole target.
  EXPECT_EQ(charenc_to_units3(t, 0, 6, s, 0, -2, 1), 0);
  EXPECT_EQ(t, units3({0x20, 0x20}));
}

}  // namespace
