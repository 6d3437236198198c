// Daitch-Mokotoff soundex. The letter groups are matched longest first, with
// bytes that are not letters skipped inside a group; each group writes the
// code of its situation (start of the name, before a vowel, other), and a
// code equal to the previous group's code is not written again. A group that
// is begun but not completed falls back to the longest complete group it
// starts with; the letters behind that are read again.
#include "platform/soundex.h"

#include <cstring>

namespace {

enum LetterClass : uint8_t { kIgnored = 0, kEnd = 1, kConsonant = 2, kVowel = 3 };

struct Coding {
  const char* start;
  const char* before_vowel;
  const char* other;
};

// Codes by rule number. The rules that only mark where a longer group failed
// to complete (ST, SHT, D, T, SH, SZ, TS, ZS before a letter that ends the
// longer group) code like the shorter group they fall back to, so matching
// the longest complete group gives them; rule 19 (C before E, I or Y) is the
// one rule of its own.
constexpr Coding kCodings[] = {
    {"0", "", ""},   {"0", "1", ""},    {"0", "7", ""},    {"1", "", ""},      {"1", "1", ""},
    {"2", "4", "4"}, {"2", "43", "43"}, {"3", "3", "3"},   {"4", "4", "4"},    {"5", "5", ""},
    {"5", "5", "5"}, {"5", "54", "54"}, {"6", "6", "6"},   {"66", "66", "66"}, {"7", "7", "7"},
    {"8", "8", "8"}, {"9", "9", "9"},   {"2", "43", "43"}, {"3", "3", "3"},    {"4", "4", "4"},
};
constexpr int kRuleCBeforeFrontVowel = 19;
constexpr int kRuleC = 10;
constexpr int kRuleVowel = 0;
constexpr int kRuleSilent = -1;  // a letter of no group: writes nothing

struct Group {
  const char* letters;
  int rule;
};

constexpr Group kGroups[] = {
    {"A", 0},       {"E", 0},     {"I", 0},     {"O", 0},     {"U", 0},      {"UE", 0},
    {"AI", 1},      {"AJ", 1},    {"AY", 1},    {"EI", 1},    {"EJ", 1},     {"EY", 1},
    {"OI", 1},      {"OJ", 1},    {"OY", 1},    {"UI", 1},    {"UJ", 1},     {"UY", 1},
    {"AU", 2},      {"J", 3},     {"Y", 3},     {"IA", 3},    {"IE", 3},     {"IO", 3},
    {"IU", 3},      {"EU", 4},    {"SC", 5},    {"ZDZ", 5},   {"SHCH", 5},   {"STCH", 5},
    {"STRS", 5},    {"STRZ", 5},  {"STSH", 5},  {"SZCS", 5},  {"SZCZ", 5},   {"ZDZH", 5},
    {"ZHDZH", 5},   {"SHTCH", 5}, {"SHTSH", 5}, {"STSCH", 5}, {"SCHTCH", 5}, {"SCHTSH", 5},
    {"SCHTSCH", 5}, {"SD", 6},    {"ST", 6},    {"ZD", 6},    {"SHD", 6},    {"SHT", 6},
    {"SZD", 6},     {"SZT", 6},   {"ZHD", 6},   {"SCHD", 6},  {"SCHT", 6},   {"D", 7},
    {"T", 7},       {"DT", 7},    {"TH", 7},    {"S", 8},     {"Z", 8},      {"CS", 8},
    {"CZ", 8},      {"DS", 8},    {"DZ", 8},    {"SH", 8},    {"SZ", 8},     {"TC", 8},
    {"TS", 8},      {"TZ", 8},    {"ZH", 8},    {"ZS", 8},    {"CSZ", 8},    {"CZS", 8},
    {"DRS", 8},     {"DRZ", 8},   {"DSH", 8},   {"DSZ", 8},   {"DZH", 8},    {"DZS", 8},
    {"SCH", 8},     {"TCH", 8},   {"TRS", 8},   {"TRZ", 8},   {"TSH", 8},    {"TSZ", 8},
    {"TTS", 8},     {"TTZ", 8},   {"TZS", 8},   {"ZSH", 8},   {"TSCH", 8},   {"TTCH", 8},
    {"TTSZ", 8},    {"ZSCH", 8},  {"TTSCH", 8}, {"H", 9},     {"C", 10},     {"G", 10},
    {"K", 10},      {"Q", 10},    {"CH", 10},   {"CK", 10},   {"KH", 10},    {"X", 11},
    {"KS", 11},     {"CHS", 11},  {"M", 12},    {"N", 12},    {"MN", 13},    {"NM", 13},
    {"B", 14},      {"F", 14},    {"P", 14},    {"V", 14},    {"W", 14},     {"FB", 14},
    {"PF", 14},     {"PH", 14},   {"L", 15},    {"R", 16},
};
constexpr int kLongestGroup = 7;

struct ClassTable {
  uint8_t of[256] = {};
  ClassTable() {
    of[0] = kEnd;
    for (int c = 'B'; c <= 'Z'; ++c) of[c] = of[c + 32] = kConsonant;
    for (const char* v = "AEIJOUY"; *v; ++v) of[int(*v)] = of[*v + 32] = kVowel;
    const int consonants[] = {199, 208, 209, 222, 223, 231, 240, 241, 254};
    for (int c : consonants) of[c] = kConsonant;
    const int vowel_ranges[][2] = {{192, 198}, {200, 207}, {210, 214}, {216, 221}, {224, 230},
                                   {232, 239}, {242, 246}, {248, 253}, {255, 255}};
    for (const auto& r : vowel_ranges) {
      for (int c = r[0]; c <= r[1]; ++c) of[c] = kVowel;
    }
  }
};
const ClassTable kClass;

uint8_t upper_ascii(uint8_t c) {
  return (c >= 'a' && c <= 'z') ? c - 32 : c;
}

// The text with the ignored bytes left out, up to its end or NUL.
struct Letters {
  uint8_t bytes[kLongestGroup];
  int count = 0;
};

class Scanner {
 public:
  Scanner(const uint8_t* text, int32_t length) : text_(text), length_(length < 0 ? 0 : length) {}

  // Position of the next letter at or after pos; length_ at the end.
  int32_t next_letter(int32_t pos) const {
    while (pos < length_) {
      uint8_t cls = kClass.of[text_[pos]];
      if (cls == kEnd) return length_;
      if (cls != kIgnored) return pos;
      ++pos;
    }
    return length_;
  }

  // Up to n letters from pos on (upper-cased), and the position after each.
  int read(int32_t pos, uint8_t* letters, int32_t* after, int n) const {
    int count = 0;
    for (pos = next_letter(pos); pos < length_ && count < n; pos = next_letter(pos + 1)) {
      letters[count] = upper_ascii(text_[pos]);
      after[count++] = pos + 1;
    }
    return count;
  }

  uint8_t class_at(int32_t pos) const {
    return pos < length_ ? kClass.of[text_[pos]] : uint8_t{kEnd};
  }

 private:
  const uint8_t* text_;
  int32_t length_;
};

}  // namespace

void mdr_soundex(ByteSpan target, int32_t target_offset, ConstByteSpan text, int32_t text_offset,
                 int32_t length) {
  if (!field_fits(target, target_offset, 7)) return;
  ConstByteSpan name = clip_field(text, text_offset, length);
  char key[7];
  int digits = 0;
  const char* previous = nullptr;
  Scanner scan(name.data(), static_cast<int32_t>(name.size()));

  for (int32_t pos = scan.next_letter(0); digits < 6;) {
    uint8_t letters[kLongestGroup + 1];
    int32_t after[kLongestGroup + 1];
    int n = scan.read(pos, letters, after, kLongestGroup + 1);
    if (n == 0) break;

    int best_len = 0;
    int rule = kRuleSilent;
    for (const Group& g : kGroups) {
      int len = static_cast<int>(std::strlen(g.letters));
      if (len <= best_len || len > n) continue;
      if (std::memcmp(g.letters, letters, len) == 0) {
        best_len = len;
        rule = g.rule;
      }
    }
    if (best_len == 0) {
      // A letter outside every group (accented letters): vowels code as the
      // plain vowels, consonants write nothing.
      best_len = 1;
      rule = scan.class_at(pos) == kVowel ? kRuleVowel : kRuleSilent;
    }
    if (rule == kRuleC && best_len == 1 && n > 1 &&
        (letters[1] == 'E' || letters[1] == 'I' || letters[1] == 'Y')) {
      rule = (digits == 1 && key[0] == '6') ? kRuleC : kRuleCBeforeFrontVowel;
    }

    // The situation looks at the byte right behind the group: an ignored
    // byte there (a blank, a hyphen) is not a vowel.
    const int32_t behind = after[best_len - 1];
    const char* code = "";
    if (rule != kRuleSilent) {
      const Coding& c = kCodings[rule];
      code = digits == 0 ? c.start : (scan.class_at(behind) == kVowel ? c.before_vowel : c.other);
    }
    if (previous == nullptr || std::strcmp(code, previous) != 0) {
      for (const char* d = code; *d && digits < 6; ++d) key[digits++] = *d;
    }
    previous = code;
    pos = scan.next_letter(behind);
  }
  while (digits < 6) key[digits++] = '0';
  key[6] = '\0';
  std::memcpy(target.data() + target_offset, key, 7);
}
