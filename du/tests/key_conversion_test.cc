// Building key fields from values: the case codes, the phonetic key, an
// installed collation, the descending complement, nulls, and the checks of
// the caller's fields; then the same for bare strings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/soundex.h"
#include "storage_fixture.h"

namespace {

constexpr uint8_t kGuard = 0xA5;

// A value: indicator byte 0 (or 255 for a null) and the text.
std::vector<uint8_t> Value(const std::string& text, bool null = false) {
  std::vector<uint8_t> v(text.size() + 1, null ? 0xFF : 0);
  for (size_t i = 0; i < text.size(); ++i) v[i + 1] = static_cast<uint8_t>(text[i]);
  return v;
}

std::vector<uint8_t> Complemented(std::vector<uint8_t> v) {
  for (auto& b : v) b ^= 0xFF;
  return v;
}

class KeyConversion : public StorageTest {
 protected:
  KeyConversion() { EXPECT_EQ(Install(30, CaseFoldTable()), 0); }

  struct Result {
    int32_t status;
    int32_t length;
    std::vector<uint8_t> field;  // the target field only
  };
  // Converts into a field of `target_length` bytes at offset 2 of an area
  // that has a guard byte on each side, and checks the guards stay.
  Result Convert(int32_t code, const std::vector<uint8_t>& value, int32_t target_length,
                 int32_t* cache = nullptr) {
    std::vector<uint8_t> area(target_length + 4, kGuard);
    int32_t local_cache = 0;
    Result r{99, -7, {}};
    XLConvertValue(base_, &r.status, code, cache ? cache : &local_cache, area, 2, &r.length,
                   target_length, value, 0, static_cast<int32_t>(value.size()));
    EXPECT_EQ(area[0], kGuard);
    EXPECT_EQ(area[1], kGuard);
    EXPECT_EQ(area[area.size() - 1], kGuard);
    EXPECT_EQ(area[area.size() - 2], kGuard);
    r.field.assign(area.begin() + 2, area.end() - 2);
    return r;
  }
};

std::vector<uint8_t> PhoneticField(const std::string& name) {
  std::vector<uint8_t> key(7, 0), text = Bytes(name);
  mdr_soundex(key, 0, text, 0, static_cast<int32_t>(text.size()));
  key.insert(key.begin(), 0);
  key.pop_back();  // the routine's ending NUL
  return key;
}

TEST_F(KeyConversion, CodesOnPresentValues) {
  struct Case {
    int32_t code;
    std::string text;
    int32_t target_length;
    int32_t length;
    std::vector<uint8_t> field;
  };
  const Case cases[] = {
      {3, "ab\xe9z", 5, 5, Value("AB\xc9Z")},
      {4, "Ab\xc9Z", 5, 5, Value("ab\xe9z")},
      {30, "aBc", 4, 4, Value("ABC")},
      // A longer field is padded with blanks, a shorter one cuts the value.
      {3, "ab", 5, 3, Value("AB  ")},
      {3, "abcd", 3, 3, Value("AB")},
      {-3, "ab", 3, 3, Complemented(Value("AB"))},
      {-30, "ab", 3, 3, Complemented(Value("AB"))},
      // Blank padding is complemented too, so 'ab' still sorts as 'ab '.
      {-4, "AB", 5, 3, Complemented(Value("ab  "))},
      {3, "", 3, 1, Value("  ")},
  };
  for (const Case& c : cases) {
    const Result r = Convert(c.code, Value(c.text), c.target_length);
    EXPECT_EQ(r.status, 0) << c.code << " " << c.text;
    EXPECT_EQ(r.length, c.length) << c.code << " " << c.text;
    EXPECT_EQ(r.field, c.field) << c.code << " " << c.text;
  }
}

TEST_F(KeyConversion, PhoneticKey) {
  const std::vector<uint8_t> key = PhoneticField("Moskowitz");
  Result r = Convert(5, Value("Moskowitz"), 7);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.length, 7);
  EXPECT_EQ(r.field, key);
  r = Convert(-5, Value("Moskowitz"), 7);
  EXPECT_EQ(r.field, Complemented(key));
  // A field too short for the key gets only what fits, never more.
  r = Convert(5, Value("Moskowitz"), 4);
  EXPECT_EQ(r.length, 4);
  EXPECT_EQ(r.field, std::vector<uint8_t>(key.begin(), key.begin() + 4));
}

TEST_F(KeyConversion, NullsSortLastAscendingAndFirstDescending) {
  for (int32_t code : {3, 4, 30, 77}) {  // 77: a null needs no collation
    Result r = Convert(code, Value("xyz", true), 6);
    EXPECT_EQ(r.status, XL_NULL_VALUE);
    EXPECT_EQ(r.length, 6);
    EXPECT_EQ(r.field, std::vector<uint8_t>(6, 0xFF));
    r = Convert(-code, Value("xyz", true), 6);
    EXPECT_EQ(r.status, XL_NULL_VALUE);
    EXPECT_EQ(r.field, std::vector<uint8_t>(6, 0x00));
  }
  Result r = Convert(5, Value("x", true), 9);
  EXPECT_EQ(r.length, 7);
  EXPECT_EQ(r.field, std::vector<uint8_t>(9, 0xFF));
  r = Convert(5, Value("x", true), 3);
  EXPECT_EQ(r.length, 3);
}

TEST_F(KeyConversion, UnknownCollation) {
  for (int32_t code : {31, -31, 1, 2, 0, -2147483647 - 1}) {
    const Result r = Convert(code, Value("ab"), 3);
    EXPECT_EQ(r.status, XL_NO_COLLATION) << code;
    EXPECT_EQ(r.length, 3) << code;
    EXPECT_EQ(r.field, std::vector<uint8_t>(3, kGuard)) << code;
  }
}

TEST_F(KeyConversion, CacheWordIsFilledAndUsed) {
  int32_t cache = 0;
  EXPECT_EQ(Convert(30, Value("a"), 2, &cache).field, Value("A"));
  EXPECT_EQ(cache, Head());
  // A second collation with the id does not move the caller's columns.
  Table upper_to_x = CaseFoldTable();
  upper_to_x['a'] = 'x';
  ASSERT_EQ(Install(30, upper_to_x), 0);
  EXPECT_EQ(Convert(30, Value("a"), 2, &cache).field, Value("A"));
  EXPECT_EQ(Convert(30, Value("a"), 2).field, Value("x"));
}

TEST_F(KeyConversion, FieldsOutsideTheirAreasAreRefused) {
  std::vector<uint8_t> target(8, kGuard), source = Value("abc");
  const std::vector<uint8_t> untouched = target;
  struct Case {
    int32_t t_offset, t_length, s_offset, s_length;
  };
  const Case cases[] = {
      {0, 9, 0, 4}, {5, 4, 0, 4},          {-1, 2, 0, 4},         {0, -1, 0, 4}, {9, 0, 0, 4},
      {0, 4, 0, 5}, {0, 4, 1, 4},          {0, 4, -1, 2},         {0, 4, 0, 0},  {0, 4, 0, -3},
      {0, 4, 4, 1}, {2147483647, 1, 0, 4}, {0, 4, 2147483647, 2},
  };
  for (const Case& c : cases) {
    int32_t status = 0, length = 0, cache = 0;
    XLConvertValue(base_, &status, 3, &cache, target, c.t_offset, &length, c.t_length, source,
                   c.s_offset, c.s_length);
    EXPECT_EQ(status, XL_BAD_ARGUMENT) << c.t_offset << " " << c.t_length << " " << c.s_offset;
    EXPECT_EQ(target, untouched);
    if (c.s_length == 0) continue;  // an empty bare string is a string
    status = 5;
    XLConvertPlain(base_, &status, 3, &cache, target, c.t_offset, &length, c.t_length, source,
                   c.s_offset, c.s_length);
    EXPECT_EQ(status, XL_BAD_ARGUMENT);
    EXPECT_EQ(target, untouched);
  }
}

TEST_F(KeyConversion, WithoutSystemBlock) {
  base_[sqlpool::RESERV] = 0;
  EXPECT_EQ(Convert(30, Value("a"), 2).status, XL_NO_SYSTEM_BLOCK);
  // The built-in codes need no collation list.
  EXPECT_EQ(Convert(3, Value("a"), 2).status, 0);
}

TEST_F(KeyConversion, PlainStrings) {
  struct Case {
    int32_t code;
    std::string text;
    int32_t target_length;
    int32_t length;
    std::string field;
  };
  const Case cases[] = {
      {3, "ab", 4, 2, "AB  "}, {-3, "ab", 2, 2, "AB"},  // no complement
      {4, "ABC", 2, 2, "ab"},  {30, "abc", 3, 3, "ABC"}, {30, "", 2, 0, "  "},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> target(c.target_length, kGuard), source = Bytes(c.text);
    int32_t status = 77, length = -1, cache = 0;
    XLConvertPlain(base_, &status, c.code, &cache, target, 0, &length, c.target_length, source, 0,
                   static_cast<int32_t>(source.size()));
    EXPECT_EQ(status, 77) << c.code;  // success leaves the status alone
    EXPECT_EQ(length, c.length) << c.code;
    EXPECT_EQ(target, Bytes(c.field)) << c.code;
  }
  std::vector<uint8_t> target(8, kGuard), source = Bytes("Moskowitz");
  int32_t status = 77, length = 0, cache = 0;
  XLConvertPlain(base_, &status, 5, &cache, target, 1, &length, 7, source, 0, 9);
  EXPECT_EQ(length, 6);
  const std::vector<uint8_t> key = PhoneticField("Moskowitz");
  EXPECT_EQ(std::vector<uint8_t>(target.begin() + 1, target.begin() + 7),
            std::vector<uint8_t>(key.begin() + 1, key.end()));
  EXPECT_EQ(target[7], kGuard);
  XLConvertPlain(base_, &status, 31, &cache, target, 0, &length, 8, source, 0, 9);
  EXPECT_EQ(status, XL_NO_COLLATION);
}

}  // namespace
