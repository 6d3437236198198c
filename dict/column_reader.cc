// Reading the result columns of the dictionary's statements.
#include "dict/column_reader.h"

#include <algorithm>
#include <cstring>

#include "dict/type_words.h"
#include "kernel/statement_columns.h"

const uint8_t* DDColumnReader::Field(int32_t n, int32_t* length) {
  uint8_t* f = nullptr;
  if (status_ == 0) status_ = StatementField(base_, stm_, true, n, &f, length);
  return status_ == 0 ? f : nullptr;
}

bool DDColumnReader::Null(int32_t n) {
  int32_t len = 0;
  const uint8_t* f = Field(n, &len);
  return f == nullptr || f[0] == 255;
}

int32_t DDColumnReader::Int(int32_t n, int32_t absent) {
  if (Null(n)) return absent;
  int32_t v = absent, st = 0;
  DSGetColInt(base_, &st, stm_, n, &v);
  if (st != 0) status_ = st;
  return st == 0 ? v : absent;
}

int32_t DDColumnReader::Int64(int32_t n, int32_t* high) {
  *high = 0;
  if (Null(n)) return 0;
  int32_t low = 0, st = 0;
  DSGetColInt64(base_, &st, stm_, n, high, &low);
  if (st != 0) status_ = st;
  return low;
}

std::string_view DDColumnReader::Text(int32_t n) {
  int32_t len = 0;
  const uint8_t* f = Field(n, &len);
  // A NULL column reads as an empty text that still has a data pointer, so
  // that a copy of its (no) bytes never hands memcpy a null pointer.
  if (f == nullptr || f[0] == 255) return std::string_view("", 0);
  return {reinterpret_cast<const char*>(f + 1), static_cast<size_t>(len - 1)};
}

std::string_view DDTrimmed(std::string_view s) {
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

bool DDIs(std::string_view stored, std::string_view word) {
  return DDTrimmed(stored) == word;
}

int32_t DDNameLength(const char* name) {
  return static_cast<int32_t>(DDTrimmed(std::string_view(name, DD_NAME_LENGTH)).size());
}

void DDCopyName(std::string_view value, char* out, int32_t* length) {
  std::memset(out, ' ', DD_NAME_LENGTH);
  std::memcpy(out, value.data(), std::min<size_t>(value.size(), DD_NAME_LENGTH));
  if (length != nullptr) *length = DDNameLength(out);
}

void DDStoredType(DDColumnReader& c, const DDTypeColumns& at, int32_t* type, int32_t* length,
                  int32_t* scale) {
  char type_word[DD_TYPE_WORD_LENGTH], qualifier[DD_QUALIFIER_WORD_LENGTH];
  std::memset(type_word, ' ', sizeof type_word);
  std::memset(qualifier, ' ', sizeof qualifier);
  const std::string_view tw = DDTrimmed(c.Text(at.type)), qw = DDTrimmed(c.Text(at.qualifier));
  int32_t source[6] = {};
  source[DDTC_LENGTH] = c.Int64(at.length, &source[DDTC_S0]);
  source[DDTC_PRECISION] = c.Int(at.precision, 0);
  source[DDTC_SCALE] = c.Int(at.scale, 0);
  source[DDTC_LEADING] = c.Int(at.datetime, 0);
  source[DDTC_INTERVAL_LENGTH] = c.Int(at.interval, 0);
  int32_t code[3] = {DD_TYPE_UNKNOWN, 0, 0};
  if (tw.size() <= sizeof type_word && qw.size() <= sizeof qualifier) {
    // An empty text may have no data at all (memcpy takes no null pointer).
    if (!tw.empty()) std::memcpy(type_word, tw.data(), tw.size());
    if (!qw.empty()) std::memcpy(qualifier, qw.data(), qw.size());
    DDTypeCode(type_word, qualifier, source, code);
  }
  *type = code[DDTC_OUT_CODE];
  *length = code[DDTC_OUT_LENGTH];
  *scale = code[DDTC_OUT_SCALE];
}

int32_t DDDefaultText(DDColumnReader& c, int32_t n, uint8_t* text, int32_t capacity) {
  if (c.Null(n)) return -1;
  std::string_view stored = c.Text(n);
  // Three-byte blanks pad the stored text; a default text never ends in
  // one of its own (a literal ends with its quote).
  while (stored.size() >= 3 && stored.substr(stored.size() - 3) == std::string_view("\0\0 ", 3))
    stored.remove_suffix(3);
  const int32_t chars = static_cast<int32_t>(stored.size() / 3);
  const int32_t copied = std::max(0, std::min(chars, capacity));
  if (text != nullptr) std::memcpy(text, stored.data(), static_cast<size_t>(copied) * 3);
  return chars;
}

