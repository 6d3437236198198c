// DDEncodeType: type code to stored words and parameters, group by group
// (character and binary, numeric, datetime and interval), with the
// character-set pair P2/P17 and the default text's length rule.
#include "dict/type_encoding.h"

#include "dict/kind_words.h"
#include "dict/type_words.h"

namespace {

bool IsCharacter(int32_t c) {
  return c == 1 || c == 5 || (c >= 29 && c <= 35);
}
bool IsNumeric(int32_t c) {
  return (c >= 2 && c <= 11 && c != 5) || c == 28;
}
bool IsDatetime(int32_t c) {
  return c >= 12 && c <= 27;
}

int64_t TwoWords(int32_t high, int32_t low) {
  return static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) |
                              static_cast<uint32_t>(low));
}

}  // namespace

int32_t DDEncodeType(const DDTypeInput& in, DDTypeParams* out) {
  DDTypeParams p;
  const int32_t c = in.code;
  if (!DDTypeEntries(c, &p.type_entry, &p.qualifier_entry)) return DD_KIND_OUTSIDE;
  if (IsCharacter(c)) {
    if (c >= 31 && c <= 33) {
      p.p[5] = p.p[6] = TwoWords(in.length_high, in.length);
    } else if (c == 34 || c == 35) {
      // National characters keep room for four bytes a character.
      p.p[5] = in.length;
      p.p[6] = 4 * static_cast<int64_t>(in.length);
    } else {
      p.p[5] = p.p[6] = in.length;
    }
  } else if (IsNumeric(c)) {
    p.p[7] = in.precision;
    p.p[8] = in.scale;
    p.p[9] = 10;
  } else if (IsDatetime(c)) {
    p.p[10] = in.leading;
    if (c >= DD_TYPE_INTERVAL_FIRST) p.p[11] = in.interval_length;
  }
  if (c == 1 || c == 5 || c == 32) {
    p.p[2] = in.character_set != 0 ? in.character_set : 136;
    p.p[17] = 135;
  } else if (c >= 33 && c <= 35) {
    p.p[2] = in.character_set != 0 ? in.character_set : 140;
    p.p[17] = 139;
  } else {
    p.p[2] = p.p[17] = 0;
  }
  // A default longer than the column holds is stored empty, not cut.
  if (in.default_length >= 1) {
    p.p[15] = in.default_length <= DD_DEFAULT_MAX ? in.default_length : 0;
    p.p[16] = p.p[15];
  }
  *out = p;
  return 0;
}
