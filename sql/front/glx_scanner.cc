// Generic scanner: DFA walk over the packed tables (the character that leads
// into a final state is not part of the token), keyword probe by hash, and the
// token ring with its mark and rewind.
#include "sql/front/glx_scanner.h"

#include <cctype>
#include <cstring>
#include <new>

namespace {

constexpr int32_t kEndSymbol = 256;
constexpr int32_t kInitialText = 32;

GlxToken* NewToken(CompileArena* arena) {
  auto* t = static_cast<GlxToken*>(ArenaAllocAligned(arena, sizeof(GlxToken)));
  new (t) GlxToken{};
  t->text = static_cast<char*>(ArenaAlloc(arena, nullptr, kInitialText));
  t->text[0] = 0;
  t->capacity = kInitialText;
  return t;
}

// The byte a character reads as: wide characters outside Latin-1 read as 191,
// the line and paragraph separators as a line feed.
int32_t MappedChar(const GlxScanner* s, int32_t p) {
  if (!s->wide) return s->input[p];
  const uint8_t* c = s->input + int64_t{p} * 3;
  if (c[0] == 0 && c[1] == 0x20 && (c[2] == 0x28 || c[2] == 0x29)) return 10;
  if (c[0] != 0 || c[1] != 0) return 191;
  return c[2];
}

void GlxScan(GlxScanner* s, GlxToken* t) {
  int32_t p = t->start + t->length;
  int32_t start = p;
  int32_t code = 0;
  for (;;) {
    int32_t state = 0;
    while (state >= 0) {
      int32_t ch = p < s->input_length ? MappedChar(s, p) : kEndSymbol;
      int32_t k = s->base[state] + s->class_map[ch];
      state = s->check[k] == state ? s->next[k] : s->defaults[state];
      ++p;
    }
    --p;
    code = s->accept[-state - 1];
    if (code >= 0) break;
    // A skipped stretch always consumes something, so a faulty table cannot
    // hold the scanner in place.
    if (p == start) ++p;
    start = p;
  }
  // Nothing is left to read past the end of the text, whatever the table says.
  if (start >= s->input_length) code = kGlxEndToken;
  t->start = start;
  if (code == kGlxEndToken) {
    s->input_length = 0;
    t->length = 0;
    t->text[0] = 0;
    t->code = code;
    return;
  }
  int32_t length = p - start;
  if (length == 0) length = 1;
  if (start + length > s->input_length) length = s->input_length - start;
  if (std::isalpha(MappedChar(s, start)) && length <= kGlxKeywordMax) {
    for (int32_t i = 0; i < length; ++i) {
      s->keyword[i] = static_cast<char>(std::toupper(MappedChar(s, start + i)));
    }
    int32_t slot = TextHash31(reinterpret_cast<const uint8_t*>(s->keyword), length, s->hash_size);
    int32_t k = s->keyword_hash[slot];
    if (k >= 0 && k < s->token_count && s->name_offsets[k + 1] - s->name_offsets[k] == length &&
        std::memcmp(s->name_pool + s->name_offsets[k], s->keyword, length) == 0) {
      code = k;
    }
  }
  if (t->capacity <= length) {
    t->text = static_cast<char*>(ArenaAlloc(s->arena, t->text, length + 1));
    t->capacity = length + 1;
  }
  for (int32_t i = 0; i < length; ++i) t->text[i] = static_cast<char>(MappedChar(s, start + i));
  t->text[length] = 0;
  t->code = code;
  t->length = length;
}

}  // namespace

GlxScanner* GlxCreate(CompileArena* arena, const GlxLexDescriptor* d) {
  auto* s = static_cast<GlxScanner*>(ArenaAllocAligned(arena, sizeof(GlxScanner)));
  new (s) GlxScanner{};
  s->arena = arena;
  GlxToken* a = NewToken(arena);
  GlxToken* b = NewToken(arena);
  a->next = b;
  a->prev = b;
  b->next = a;
  b->prev = a;
  s->anchor = a;
  s->current = b;
  s->last = b;
  s->class_map = d->class_map;
  s->base = d->base;
  s->defaults = d->defaults;
  s->check = d->check;
  s->next = d->next;
  s->accept = d->accept;
  s->keyword_hash = d->keyword_hash;
  s->name_offsets = d->name_offsets;
  s->name_pool = d->name_pool;
  s->token_count = d->counts[0];
  s->hash_size = d->counts[1];
  return s;
}

void GlxSetFilter(GlxScanner* s, GlxFilter filter) {
  s->filter = filter;
}
void GlxSetUserData(GlxScanner* s, int32_t user_data) {
  s->user_data = user_data;
}

void GlxSetInput(GlxScanner* s, const uint8_t* text) {
  GlxToken* t = s->last;
  t->code = 0;
  t->line = 0;
  t->start = 0;
  t->length = 0;
  t->number = 0;
  s->current = t;
  // Nothing lies before a text's first token: the entries behind this one
  // hold another text's tokens, which an unget or a rewind must not reach.
  if (!s->marked) s->anchor = t;
  s->input = text;
  s->input_length = 0;
}

void GlxSetWide(GlxScanner* s) {
  s->wide = true;
}

void GlxSetLength(GlxScanner* s, int32_t n) {
  s->input_length = (s->input == nullptr || n <= 0) ? 0 : n;
}

int32_t GlxNext(GlxScanner* s) {
  int32_t code;
  if (s->current != s->last) {
    s->current = s->current->next;
    code = s->current->code;
  } else {
    GlxToken* t;
    if (s->current->code == kGlxEndToken && s->input_length > 0) {
      t = s->current;
      ++t->line;
      t->start = 0;
      t->length = 0;
    } else {
      t = s->last->next;
      if (t == s->anchor) {
        // Ring full: every entry from the anchor on is still needed.
        t = NewToken(s->arena);
        t->prev = s->last;
        t->next = s->anchor;
        s->last->next = t;
        s->anchor->prev = t;
      }
      t->line = s->last->line;
      t->start = s->last->start;
      t->length = s->last->length;
      t->number = static_cast<int32_t>(static_cast<uint32_t>(s->last->number) + 1u);
      s->last = t;
      s->current = t;
    }
    GlxScan(s, t);
    code = t->code;
  }
  if (!s->in_filter && s->filter != nullptr) {
    s->in_filter = true;
    code = s->filter(s, s->user_data, code);
    s->in_filter = false;
  }
  if (!s->marked) s->anchor = s->current->prev;
  return code;
}

int32_t GlxTokLine(GlxScanner* s) {
  return s->current->line;
}
int32_t GlxTokStart(GlxScanner* s) {
  return s->current->start;
}
int32_t GlxTokLen(GlxScanner* s) {
  return s->current->length;
}
int32_t GlxPrevStart(GlxScanner* s) {
  return s->current->prev->start;
}

int32_t GlxPrevLen(GlxScanner* s) {
  const GlxToken* p = s->current->prev;
  return p->code == kGlxEndToken ? 5 : p->length;
}

const char* GlxPrevText(GlxScanner* s) {
  const GlxToken* p = s->current->prev;
  return p->code == kGlxEndToken ? "<end>" : p->text;
}

const char* GlxTokName(GlxScanner* s, int32_t code) {
  if (code < 0 || code >= s->token_count) code = 0;
  return s->name_pool + s->name_offsets[code];
}

int32_t GlxTokNameLen(GlxScanner* s, int32_t code) {
  if (code < 0 || code >= s->token_count) code = 0;
  return s->name_offsets[code + 1] - s->name_offsets[code];
}

namespace {

// Whether the entry before t still holds the token before t's: behind the
// newest entry the ring wraps round to reused entries, and before the first
// token of an input lies nothing.
bool HoldsPredecessor(const GlxToken* t) {
  return static_cast<uint32_t>(t->prev->number) + 1u == static_cast<uint32_t>(t->number);
}

}  // namespace

void GlxUnget(GlxScanner* s) {
  if (s->current == s->anchor) return;
  s->current = s->current->prev;
  if (!s->marked) s->anchor = HoldsPredecessor(s->current) ? s->current->prev : s->current;
}

void GlxMark(GlxScanner* s) {
  if (s->current != s->anchor) s->anchor = s->current->prev;
  s->marked = true;
}

void GlxRewind(GlxScanner* s) {
  s->current = s->anchor;
}

void GlxUnmark(GlxScanner* s) {
  if (s->current != s->anchor) s->anchor = s->current->prev;
  s->marked = false;
}

void GlxFree(GlxScanner* s) {
  if (s == nullptr) return;
  GlxToken* t = s->anchor;
  do {
    GlxToken* next = t->next;
    ArenaFree(s->arena, t->text);
    ArenaFreeAligned(s->arena, t);
    t = next;
  } while (t != s->anchor);
  ArenaFreeAligned(s->arena, s);
}

void GlxSetInputRef(GlxScanner*& s, const uint8_t*& text) {
  GlxSetInput(s, text);
}
void GlxSetWideRef(GlxScanner*& s) {
  GlxSetWide(s);
}
void GlxSetLengthRef(GlxScanner*& s, int32_t& n) {
  GlxSetLength(s, n);
}
void GlxNextRef(GlxScanner*& s, int32_t& code) {
  code = GlxNext(s);
}
void GlxTokStartRef(GlxScanner*& s, int32_t& start) {
  start = GlxTokStart(s);
}
void GlxTokLenRef(GlxScanner*& s, int32_t& length) {
  length = GlxTokLen(s);
}

void GlxFreeRef(GlxScanner*& s) {
  GlxFree(s);
  s = nullptr;
}

int32_t TextHash31(const uint8_t* bytes, int32_t n, int32_t m) {
  uint32_t h = 0;
  for (int32_t i = n - 1; i >= 0; --i) {
    h = h * 31u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(bytes[i])));
  }
  uint32_t mod = m <= 0 ? 1u : static_cast<uint32_t>(m);
  return static_cast<int32_t>(h % mod);
}

int32_t HashText31(const uint8_t* text, int32_t offset, int32_t n, int32_t m) {
  return TextHash31(text + offset, n, m);
}
