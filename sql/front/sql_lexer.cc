// The SQL lexer: the generated automaton run over the single-byte text, the
// keyword probe, the literal-kind flags that carry a literal's kind over to
// the segments after it, and the normalisation of names and literals into the
// token record (national and Unicode texts from the 3-byte text).
#include "sql/front/sql_lexer.h"

#include <cstring>

#include "sql_lexer_tables.h"

namespace {

constexpr int32_t kEndOfInput = 256;

// The automaton's descriptor, as the generic scanner would take it.
const GlxLexDescriptor& Tables() {
  return kSqlLexer;
}

void Advance(SqlLexer* lx) {
  ++lx->read;
  ++lx->position;
  if (lx->read >= lx->length) {
    lx->end = true;
    lx->ch = kEndOfInput;
  } else {
    lx->ch = lx->text[lx->read];
  }
}

void Consume(SqlLexer* lx) {
  if (lx->kept < kSqlTokenTextMax) lx->token_text[lx->kept++] = static_cast<char>(lx->ch);
  ++lx->consumed;
  Advance(lx);
}

// Runs the automaton from its start state while the current character has a
// transition; a character that starts nothing is taken alone as unknown.
int32_t RunAutomaton(SqlLexer* lx) {
  const GlxLexDescriptor& d = Tables();
  lx->consumed = 0;
  lx->kept = 0;
  int32_t state = 0;
  for (;;) {
    int32_t k = d.base[state] + d.class_map[lx->end ? kEndOfInput : lx->ch];
    if (lx->end || d.check[k] != state || d.next[k] < 0) break;
    Consume(lx);
    state = d.next[k];
  }
  int32_t code = kSqlTokUnknown;
  if (lx->consumed == 0) {
    Consume(lx);
  } else {
    code = d.accept[-d.defaults[state] - 1];
  }
  lx->token_text[lx->kept] = 0;
  return code;
}

// Whether character i of the current token lies outside the single-byte range.
bool Wide(const SqlLexer* lx, const SqlTokenRecord* t, int32_t i) {
  if (lx->wide == nullptr) return false;
  const uint8_t* c = lx->wide + (int64_t{t->position} + i) * 3;
  return c[0] != 0 || c[1] != 0;
}

void Report(SqlLexer* lx, const SqlTokenRecord* t, int32_t code) {
  if (lx->report != nullptr) lx->report(lx->sink, code, t->line, t->position);
}

// The kept characters between a literal's quotes, after `skip` prefix
// characters; a token cut at the kept limit has no closing quote.
void Inner(const SqlLexer* lx, int32_t skip, int32_t* from, int32_t* to) {
  *from = skip + 1;
  *to = lx->consumed > lx->kept ? lx->kept : lx->kept - 1;
  if (*to < *from) *to = *from;
}

char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

void NormaliseName(SqlLexer* lx, SqlTokenRecord* t) {
  const char* s = lx->token_text;
  int32_t n = lx->kept;
  int32_t i = s[0] == ':' ? 1 : 0;
  int32_t out = 0;
  if (i < n && s[i] == '"') {
    int32_t from, to;
    Inner(lx, i, &from, &to);
    bool wide = false, zero = false;
    for (int32_t j = from; j < to; ++j) {
      if (s[j] == '"' && j + 1 < to) ++j;
      if (out < kSqlDelimitedNameMax) t->text[out++] = s[j];
      wide = wide || Wide(lx, t, j);
      zero = zero || s[j] == 0;
    }
    while (out > 1 && t->text[out - 1] == ' ') --out;
    t->length = out;
    t->text[out] = 0;
    if (wide) Report(lx, t, kSqlErrWideInName);
    if (zero) Report(lx, t, kSqlErrZeroInName);
    return;
  }
  for (; i < n && out < kSqlRegularNameMax; ++i) t->text[out++] = Upper(s[i]);
  t->length = out;
  t->text[out] = 0;
}

void NormaliseCharacters(SqlLexer* lx, SqlTokenRecord* t) {
  const char* s = lx->token_text;
  int32_t from, to;
  Inner(lx, 0, &from, &to);
  int32_t out = 0;
  bool cut = false, wide = false;
  for (int32_t j = from; j < to; ++j) {
    if (s[j] == '\'' && j + 1 < to) ++j;
    if (out < kSqlLiteralMax) {
      t->text[out++] = s[j];
    } else {
      cut = true;
    }
    wide = wide || Wide(lx, t, j);
  }
  t->length = out;
  t->text[out] = 0;
  if (cut) Report(lx, t, kSqlErrLiteralTooLong);
  if (wide) Report(lx, t, kSqlErrWideInLiteral);
}

// Appends one 3-byte character; false when the literal is full.
bool PutWide(SqlTokenRecord* t, int32_t* out, uint32_t code) {
  if (*out + 3 > kSqlLiteralMax) return false;
  t->text[(*out)++] = static_cast<char>((code >> 16) & 0xFF);
  t->text[(*out)++] = static_cast<char>((code >> 8) & 0xFF);
  t->text[(*out)++] = static_cast<char>(code & 0xFF);
  return true;
}

uint32_t WideCode(const SqlLexer* lx, const SqlTokenRecord* t, int32_t i) {
  if (lx->wide == nullptr) return static_cast<uint8_t>(lx->token_text[i]);
  const uint8_t* c = lx->wide + (int64_t{t->position} + i) * 3;
  return (uint32_t{c[0]} << 16) | (uint32_t{c[1]} << 8) | c[2];
}

int32_t HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A Unicode escape at s[j] (a backslash): the code point and the characters
// it takes, or 0 characters when it is bad.
int32_t UnicodeEscape(const char* s, int32_t j, int32_t to, uint32_t* code) {
  if (j + 1 < to && s[j + 1] == '\\') {
    *code = '\\';
    return 2;
  }
  int32_t digits = j + 1 < to && s[j + 1] == '+' ? 6 : 4;
  int32_t first = j + 1 + (digits == 6 ? 1 : 0);
  if (first + digits > to) return 0;
  uint32_t v = 0;
  for (int32_t k = first; k < first + digits; ++k) {
    int32_t h = HexValue(s[k]);
    if (h < 0) return 0;
    v = v * 16 + static_cast<uint32_t>(h);
  }
  *code = v;
  return first + digits - j;
}

// National and Unicode literals: three bytes a character from the 3-byte text.
void NormaliseWide(SqlLexer* lx, SqlTokenRecord* t, int32_t skip, bool unicode) {
  const char* s = lx->token_text;
  int32_t from, to;
  Inner(lx, skip, &from, &to);
  int32_t out = 0;
  bool cut = false, bad = false;
  for (int32_t j = from; j < to; ++j) {
    uint32_t code;
    if (s[j] == '\'' && j + 1 < to) {
      code = WideCode(lx, t, ++j);
    } else if (unicode && s[j] == '\\') {
      int32_t taken = UnicodeEscape(s, j, to, &code);
      if (taken == 0) {
        bad = true;
        continue;
      }
      j += taken - 1;
    } else {
      code = WideCode(lx, t, j);
    }
    // 5000 characters fill the 15000 bytes.
    if (!PutWide(t, &out, code)) cut = true;
  }
  t->length = out;
  t->text[out] = 0;
  if (bad) Report(lx, t, kSqlErrBadHex);
  if (cut) Report(lx, t, kSqlErrLiteralTooLong);
}

void NormaliseHex(SqlLexer* lx, SqlTokenRecord* t, int32_t skip) {
  const char* s = lx->token_text;
  int32_t from, to;
  Inner(lx, skip, &from, &to);
  int32_t out = 0;
  int32_t digits = 0;
  bool bad = false, cut = false;
  for (int32_t j = from; j < to; ++j) {
    int32_t h = HexValue(s[j]);
    if (h < 0) {
      bad = true;
      break;
    }
    if (++digits % 2 == 0) {
      if (out < kSqlLiteralMax) {
        t->text[out++] = static_cast<char>(HexValue(s[j - 1]) * 16 + h);
      } else {
        cut = true;
      }
    }
  }
  // Digits beyond the kept characters are lost: the literal was too long.
  if (lx->consumed > lx->kept) cut = true;
  if (!bad && !cut && digits % 2 != 0) {
    bad = true;
    out = 0;
  }
  t->length = out;
  t->text[out] = 0;
  if (bad) Report(lx, t, kSqlErrBadHex);
  if (cut) Report(lx, t, kSqlErrLiteralTooLong);
}

// Numbers and unknown tokens keep their text as read.
void KeepText(SqlLexer* lx, SqlTokenRecord* t, int32_t too_long) {
  int32_t n = lx->kept;
  if (n > kSqlLiteralMax) n = kSqlLiteralMax;
  std::memcpy(t->text, lx->token_text, static_cast<size_t>(n));
  t->length = n;
  t->text[n] = 0;
  if (lx->consumed > kSqlLiteralMax && too_long != 0) Report(lx, t, too_long);
}

// Sets the token's flags and normalises its text by its code.
void Normalise(SqlLexer* lx, SqlTokenRecord* t) {
  int32_t code = t->code;
  int32_t carried = lx->previous_flags & (kSqlLitHex | kSqlLitNational | kSqlLitUnicode);
  lx->flags = 0;
  switch (code) {
    case kSqlTokIdentifier:
      if (Upper(lx->token_text[0]) >= 'A' && Upper(lx->token_text[0]) <= 'Z') {
        char folded[kSqlRegularNameMax + 1];
        int32_t n = lx->kept < kSqlRegularNameMax ? lx->kept : kSqlRegularNameMax;
        for (int32_t i = 0; i < n; ++i) folded[i] = Upper(lx->token_text[i]);
        int32_t k = lx->consumed == n ? SqlKeywordCode(folded, n) : 0;
        if (k != 0) t->code = k;
      }
      NormaliseName(lx, t);
      break;
    case kSqlTokHostIdentifier:
      NormaliseName(lx, t);
      break;
    case kSqlTokNationalString:
      lx->flags = kSqlLitNational;
      NormaliseWide(lx, t, 1, false);
      break;
    case kSqlTokUnicodeString:
      lx->flags = kSqlLitUnicode;
      NormaliseWide(lx, t, 2, true);
      break;
    case kSqlTokHexString:
      lx->flags = kSqlLitHex;
      NormaliseHex(lx, t, 1);
      break;
    case kSqlTokString:
      lx->flags = carried;
      if (carried & kSqlLitNational) {
        NormaliseWide(lx, t, 0, false);
      } else if (carried & kSqlLitUnicode) {
        NormaliseWide(lx, t, 0, true);
      } else if (carried & kSqlLitHex) {
        NormaliseHex(lx, t, 0);
      } else {
        NormaliseCharacters(lx, t);
      }
      break;
    case kSqlTokInteger:
    case kSqlTokDecimal:
    case kSqlTokFloat:
      KeepText(lx, t, kSqlErrNumberTooLong);
      break;
    case kSqlTokWhiteSpace:
    case kSqlTokComment:
      lx->flags = lx->previous_flags;
      break;
    case kSqlTokSeparator:
      lx->end = true;
      KeepText(lx, t, 0);
      break;
    default:
      KeepText(lx, t, 0);
      break;
  }
}

}  // namespace

void SqlLexReset(SqlLexer* lx, const uint8_t* text, const uint8_t* wide, int32_t length,
                 SqlLexReport report, void* sink) {
  lx->text = text;
  lx->wide = wide;
  lx->length = length < 0 || text == nullptr ? 0 : length;
  lx->read = 0;
  lx->line = 1;
  lx->position = 0;
  lx->consumed = 0;
  lx->kept = 0;
  lx->token_text[0] = 0;
  lx->flags = 0;
  lx->previous_flags = 0;
  lx->report = report;
  lx->sink = sink;
  lx->end = lx->length == 0;
  lx->ch = lx->end ? kEndOfInput : text[0];
}

void SqlLexNext(SqlLexer* lx, SqlTokenRecord* t) {
  for (;;) {
    t->line = lx->line;
    t->position = lx->position;
    if (lx->end) {
      t->code = kSqlTokEnd;
      t->length = 0;
      t->text[0] = 0;
      lx->previous_flags = lx->flags = 0;
      return;
    }
    t->code = RunAutomaton(lx);
    Normalise(lx, t);
    lx->previous_flags = lx->flags;
    if (t->code <= kSqlTokLastToken) return;
  }
}

int32_t SqlKeywordCode(const char* text, int32_t length) {
  const GlxLexDescriptor& d = Tables();
  if (length <= 0 || length > kGlxKeywordMax) return 0;
  int32_t slot = TextHash31(reinterpret_cast<const uint8_t*>(text), length, d.counts[1]);
  int32_t k = d.keyword_hash[slot];
  if (k < 0) return 0;
  int32_t n = d.name_offsets[k + 1] - d.name_offsets[k];
  return n == length && std::memcmp(d.name_pool + d.name_offsets[k], text, n) == 0 ? k : 0;
}

const char* SqlTokenName(int32_t code, int32_t* length) {
  const GlxLexDescriptor& d = Tables();
  if (code < 0 || code >= d.counts[0]) {
    *length = 0;
    return "";
  }
  *length = d.name_offsets[code + 1] - d.name_offsets[code];
  return d.name_pool + d.name_offsets[code];
}
