// Both forms of the default text check share one decoder over the unit type.
// Nothing is read at or past the length: a text is taken as its first
// `length` units only.
#include "sql/front/default_text.h"

#include <cstring>

namespace {

template <typename Unit>
int32_t Code(Unit u) {
  if constexpr (sizeof(Unit) == 1) {
    return static_cast<unsigned char>(u);
  } else {
    return static_cast<int32_t>(u);
  }
}

// Characters from..to (inclusive) copied to the front, a quote taken as the
// first of a doubled pair (skipped, the next copied as it is). A lone quote
// as the last character is skipped and nothing follows it.
template <typename Unit>
int32_t Undouble(Unit* text, int32_t from, int32_t to) {
  int32_t out = 0;
  for (int32_t i = from; i <= to; ++i) {
    if (Code(text[i]) == '\'') {
      ++i;
      if (i > to) break;
    }
    text[out++] = text[i];
  }
  return out;
}

// A hexadecimal digit's value; a character that is no digit counts as 0 (a
// letter past F, a blank), so that every text gives its bytes.
int32_t HexDigit(int32_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}

template <typename Unit>
bool Matches(const Unit* text, int32_t n, const char* word) {
  int32_t w = static_cast<int32_t>(std::strlen(word));
  if (n < w) return false;
  for (int32_t i = 0; i < w; ++i) {
    if (Code(text[i]) != static_cast<unsigned char>(word[i])) return false;
  }
  return true;
}

struct Special {
  const char* word;
  int32_t length;  // exact length; 0: the word is a prefix of any longer text
  int32_t marker;
};

// In the order they are tried. The time values carry a precision, "(d)".
constexpr Special kSpecials[] = {
    {"NULL", 4, kDefaultNull},
    {"USER", 4, kDefaultUser},
    {"CURRENT_DATE", 12, kDefaultCurrentDate},
    {"LOCALTIME", 12, kDefaultCurrentTime},
    {"CURRENT_TIME", 15, kDefaultCurrentTime},
    {"LOCALTIMESTAMP", 17, kDefaultCurrentTimestamp},
    {"CURRENT_TIMESTAMP", 20, kDefaultCurrentTimestamp},
    {"CURRENT_USER", 12, kDefaultCurrentUser},
    {"SESSION_USER", 12, kDefaultSessionUser},
    {"SYSTEM_USER", 11, kDefaultSystemUser},
    {"NEXT_VALUE", 0, kDefaultNextValue},
    {"CURRENT_VALUE", 0, kDefaultCurrentValue},
};

template <typename Unit>
void Check(Unit* text, int32_t* length, bool national) {
  int32_t n = *length;
  if (n < 1) return;
  int32_t c = Code(text[0]);
  if (c == '\'') {
    *length = n <= 2 ? 0 : Undouble(text, 1, n - 2);
    return;
  }
  if (c < 'A' || c > 'Z') return;
  if (national && c == 'N' && n > 1 && Code(text[1]) == '\'') {
    *length = n <= 3 ? 0 : Undouble(text, 2, n - 2);
    return;
  }
  if (c == 'X') {
    if (n <= 3) {
      *length = 0;
      return;
    }
    int32_t out = 0;
    for (int32_t i = 2; i < n - 1; i += 2) {
      int32_t high = HexDigit(Code(text[i]));
      int32_t second = i + 1 < n ? Code(text[i + 1]) : '\'';
      int32_t low = second == '\'' ? 0 : HexDigit(second);
      text[out++] = static_cast<Unit>(high * 16 + low);
    }
    *length = out;
    return;
  }
  for (const Special& s : kSpecials) {
    bool at_length = s.length == 0 ? n >= static_cast<int32_t>(std::strlen(s.word)) : n == s.length;
    if (at_length && Matches(text, n, s.word)) {
      *length = s.marker;
      return;
    }
  }
  int32_t quote = 0;
  while (quote < n && Code(text[quote]) != '\'') ++quote;
  if (quote >= n) {
    *length = 0;
    return;
  }
  int32_t out = 0;
  for (int32_t i = quote + 1; i < n && Code(text[i]) != '\''; ++i) text[out++] = text[i];
  *length = out;
}

}  // namespace

void DefaultTextCheck(char* text, int32_t* length) {
  Check(text, length, false);
}

void DefaultTextCheckW(int32_t* text, int32_t* length) {
  Check(text, length, true);
}
