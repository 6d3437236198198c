// Case mapping over the generated three-level Unicode tables, and the
// in-place case change of format 3 strings, where one character may grow into
// two or three and push the rest of the fixed-length field to the right.
#include "platform/case_map.h"

#include "platform/unicode_case_tables.h"

namespace uct = unicode_case_tables;

namespace {

constexpr int32_t kMaxCodePoint = 0x10FFFF;
constexpr int kSpecialSlotCount = 209;

int32_t delta_of(int32_t property) {
  return property >> kCaseDeltaShift;
}

int32_t get_unit3(const uint8_t* p) {
  return (p[0] << 16) | (p[1] << 8) | p[2];
}

void put_unit3(uint8_t* p, int32_t cp) {
  p[0] = static_cast<uint8_t>(cp >> 16);
  p[1] = static_cast<uint8_t>(cp >> 8);
  p[2] = static_cast<uint8_t>(cp);
}

}  // namespace

int32_t unicode_case_property(int32_t code_point) {
  if (code_point < 0 || code_point > kMaxCodePoint) return 0;
  int block2 = uct::kLevel1[code_point >> 10] + ((code_point >> 4) & 63);
  int block3 = uct::kLevel2[block2] + (code_point & 15);
  return uct::kProperties[uct::kLevel3[block3]];
}

int32_t unicode_simple_upper(int32_t code_point) {
  int32_t property = unicode_case_property(code_point);
  return (property & kCaseHasUpper) ? code_point - delta_of(property) : code_point;
}

int32_t unicode_simple_lower(int32_t code_point) {
  int32_t property = unicode_case_property(code_point);
  return (property & kCaseHasLower) ? code_point + delta_of(property) : code_point;
}

int unicode_special_upper(int32_t* out, int32_t code_point) {
  if (!(unicode_case_property(code_point) & kCaseHasSpecial)) return 0;
  int slot = (((code_point >> 8) & 255) + 31 * (code_point & 255)) % kSpecialSlotCount;
  int unit = uct::kSpecialSlots[slot];
  int count = 0;
  // The generator guarantees one code point per slot and at most three units.
  while (unit < uct::kSpecialUnitCount && count < 3) {
    uint16_t u = uct::kSpecialUnits[unit++];
    out[count++] = u & 0x7FFF;
    if (u & 0x8000) break;
  }
  return count;
}

int unicode_upper(int32_t* out, int32_t code_point) {
  int32_t lowered = unicode_simple_lower(code_point);
  int count = unicode_special_upper(out, lowered);
  if (count > 0) return count;
  out[0] = unicode_simple_upper(lowered);
  return 1;
}

// The special sequences are upper-case mappings only: lowering through them
// would turn letters that are already lower case (U+00DF, U+FB00, U+0149)
// into other letters, and title-case ones (U+1FBC) into two characters.
int unicode_lower(int32_t* out, int32_t code_point) {
  out[0] = unicode_simple_lower(unicode_simple_upper(code_point));
  return 1;
}

int charenc_case_units3(ByteSpan area, int32_t offset, int32_t n, int32_t* dropped, int mode) {
  int result = 0;
  int32_t dropped_count = 0;
  ByteSpan field = clip_field(area, offset, n < 0 ? 0 : int64_t{n} * 3);
  n = static_cast<int32_t>(field.size() / 3);
  uint8_t* s = field.data();
  int32_t i = 0;
  while (i < n) {
    int32_t mapped[3];
    int32_t cp = get_unit3(s + 3 * i);
    int k = (mode == 1) ? unicode_upper(mapped, cp) : unicode_lower(mapped, cp);
    if (k > 1) {
      int32_t room = n - i;  // positions from i to the end of the field
      int32_t grow = k - 1;
      // Characters of the tail that no longer fit fall off the end.
      int32_t tail = n - i - 1;
      int32_t lost = tail < grow ? tail : grow;
      for (int32_t j = n - lost; j < n; ++j) {
        if (get_unit3(s + 3 * j) != 0x20) result = 1;
      }
      dropped_count += lost;
      int32_t keep = tail - lost;
      for (int32_t j = keep - 1; j >= 0; --j) {
        int32_t from = i + 1 + j;
        int32_t to = from + grow;
        for (int b = 0; b < 3; ++b) s[3 * to + b] = s[3 * from + b];
      }
      if (room < k) {
        k = room;
        result = 1;
      }
    }
    for (int j = 0; j < k; ++j) put_unit3(s + 3 * (i + j), mapped[j]);
    i += k;
  }
  if (dropped) *dropped = dropped_count;
  return result;
}
