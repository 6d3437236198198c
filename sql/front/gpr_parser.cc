// Generic parser: feeding with row-displaced transitions checked by the
// target's accessing symbol, default reductions with lookahead lists and
// default gotos; a one-shift-deep checkpoint so a failed feed leaves the parser
// as after its last shift; and the repair search of GprParse.
#include "sql/front/gpr_parser.h"

#include <cctype>
#include <cstring>
#include <new>

namespace {

constexpr int32_t kStackStep = 32;
constexpr int32_t kMaxScore = 6;
constexpr int32_t kMaxHints = 32;
constexpr int32_t kSourceLimit = 33;
constexpr int32_t kResultTextMax = 80;

int32_t* NewWords(CompileArena* a, int32_t n) {
  auto* w = static_cast<int32_t*>(ArenaAlloc(a, nullptr, n * 4));
  std::memset(w, 0, static_cast<size_t>(n) * 4);
  return w;
}

GprConfig* NewConfig(CompileArena* a, int32_t words) {
  auto* c = static_cast<GprConfig*>(ArenaAllocAligned(a, sizeof(GprConfig)));
  new (c) GprConfig{};
  c->stack = NewWords(a, words);
  return c;
}

void FreeConfig(CompileArena* a, GprConfig* c) {
  ArenaFree(a, c->stack);
  ArenaFreeAligned(a, c);
}

void Grow(GprParser* p) {
  int32_t old = p->capacity;
  int32_t cap = old + kStackStep;
  p->stack = static_cast<int32_t*>(ArenaAlloc(p->arena, p->stack, cap * 4));
  p->values = static_cast<int32_t*>(ArenaAlloc(p->arena, p->values, cap * 4));
  std::memset(p->values + old, 0, kStackStep * 4);
  GprConfig* c = p->checkpoint;
  for (int i = 0; i < 2; ++i, c = c->next) {
    c->stack = static_cast<int32_t*>(ArenaAlloc(p->arena, c->stack, cap * 4));
  }
  p->capacity = cap;
}

void SetCheckpoints(GprParser* p, int32_t state, int32_t top) {
  GprConfig* c = p->checkpoint;
  for (int i = 0; i < 2; ++i, c = c->next) {
    c->state = state;
    c->top = top;
  }
}

// The older checkpoint takes the current configuration and becomes the latest.
void TurnCheckpoint(GprParser* p) {
  GprConfig* older = p->checkpoint->next;
  older->state = p->state;
  older->top = p->top;
  std::memcpy(older->stack, p->stack, static_cast<size_t>(p->top) * 4);
  p->checkpoint = older;
}

GprConfig* Save(GprParser* p) {
  GprConfig* c = NewConfig(p->arena, p->top > 0 ? p->top : 1);
  c->state = p->state;
  c->hint = p->hint;
  c->top = p->top;
  std::memcpy(c->stack, p->stack, static_cast<size_t>(p->top) * 4);
  c->next = p->saved;
  p->saved = c;
  return c;
}

void Pop(GprParser* p) {
  GprConfig* c = p->saved;
  if (c == nullptr) return;
  p->saved = c->next;
  FreeConfig(p->arena, c);
}

// Every restore is followed by a reseed, so that a failing trial feed falls
// back to the restored configuration rather than to an older one.
void Restore(GprParser* p, const GprConfig* c, int32_t hint) {
  while (c->top >= p->capacity - 1) Grow(p);
  p->state = c->state;
  p->hint = hint;
  p->top = c->top;
  std::memmove(p->stack, c->stack, static_cast<size_t>(c->top) * 4);
  TurnCheckpoint(p);
}

void RestoreSaved(GprParser* p, const GprConfig* c) {
  Restore(p, c, c->hint);
}

// Letters, digits, punctuation and blanks (a tab among them) are kept as they
// are; isprint would turn a tab into a blank.
bool Printable(unsigned char c) {
  return std::isupper(c) || std::islower(c) || std::isdigit(c) || std::ispunct(c) ||
         std::isblank(c) || std::isalpha(c);
}

// Appends n bytes (non-printable ones as blanks) to an arena text.
void Append(CompileArena* a, char*& text, int32_t& len, const char* src, int32_t n) {
  text = static_cast<char*>(ArenaAlloc(a, text, len + n + 1));
  for (int32_t i = 0; i < n; ++i) {
    auto c = static_cast<unsigned char>(src[i]);
    text[len + i] = Printable(c) ? static_cast<char>(c) : ' ';
  }
  len += n;
  text[len] = 0;
}

GprRepair* AddRepair(GprParser* p, GlxScanner* s) {
  auto* r = static_cast<GprRepair*>(ArenaAllocAligned(p->arena, sizeof(GprRepair)));
  new (r) GprRepair{};
  r->arena = p->arena;
  r->line = GlxTokLine(s);
  r->start = GlxTokStart(s);
  r->length = GlxTokLen(s);
  r->source = static_cast<char*>(ArenaAlloc(p->arena, nullptr, 1));
  r->replacement = static_cast<char*>(ArenaAlloc(p->arena, nullptr, 1));
  r->expected = static_cast<char*>(ArenaAlloc(p->arena, nullptr, 1));
  r->source[0] = r->replacement[0] = r->expected[0] = 0;
  r->expected_codes = NewWords(p->arena, 1);
  GprRepair** tail = &p->repairs;
  while (*tail != nullptr) tail = &(*tail)->next;
  *tail = r;
  return r;
}

void FreeRepair(CompileArena* a, GprRepair* r) {
  ArenaFree(a, r->source);
  ArenaFree(a, r->replacement);
  ArenaFree(a, r->expected);
  ArenaFree(a, r->expected_codes);
  ArenaFreeAligned(a, r);
}

bool EndsWithEllipsis(const GprRepair* r) {
  return r->source_length >= 4 && std::memcmp(r->source + r->source_length - 4, " ...", 4) == 0;
}

// The source text gets the token before the scanner's current one.
void NoteSource(GprRepair* r, GlxScanner* s) {
  if (r->source_length >= kSourceLimit) {
    if (!EndsWithEllipsis(r)) Append(r->arena, r->source, r->source_length, " ...", 4);
    return;
  }
  if (r->source_length > 0) Append(r->arena, r->source, r->source_length, " ", 1);
  const char* text = GlxPrevText(s);
  Append(r->arena, r->source, r->source_length, text, GlxPrevLen(s));
}

// The replacement text gets terminal t's name, or with t < 0 the text of the
// token before the scanner's current one.
void NoteReplacement(GprRepair* r, GlxScanner* s, int32_t t) {
  if (r->replacement_length > 0) Append(r->arena, r->replacement, r->replacement_length, " ", 1);
  if (t >= 0) {
    Append(r->arena, r->replacement, r->replacement_length, GlxTokName(s, t), GlxTokNameLen(s, t));
  } else {
    Append(r->arena, r->replacement, r->replacement_length, GlxPrevText(s), GlxPrevLen(s));
  }
}

bool HasWord(const GprRepair* r, const char* name, int32_t n) {
  const char* text = r->expected;
  int32_t len = r->expected_length;
  for (int32_t i = 0; i + n <= len; ++i) {
    if ((i == 0 || text[i - 1] == ' ') && (i + n == len || text[i + n] == ' ') &&
        std::memcmp(text + i, name, n) == 0) {
      return true;
    }
  }
  return false;
}

void ListExpected(GprRepair* r, GlxScanner* s, int32_t t) {
  int32_t count = r->expected_codes[0];
  r->expected_codes =
      static_cast<int32_t*>(ArenaAlloc(r->arena, r->expected_codes, (count + 2) * 4));
  r->expected_codes[count + 1] = t;
  r->expected_codes[0] = count + 1;
  const char* name = GlxTokName(s, t);
  int32_t n = GlxTokNameLen(s, t);
  if (HasWord(r, name, n)) return;
  if (r->expected_length > 0) Append(r->arena, r->expected, r->expected_length, " ", 1);
  Append(r->arena, r->expected, r->expected_length, name, n);
}

bool NameIs(GlxScanner* s, int32_t t, const char* want) {
  int32_t n = GlxTokNameLen(s, t);
  return n == static_cast<int32_t>(std::strlen(want)) &&
         std::memcmp(GlxTokName(s, t), want, n) == 0;
}

// Reads and feeds tokens after a repair: +1 for each accepted token, 6 once the
// end is accepted, stopping at the first failure or at 6.
int32_t CountOn(GprParser* p, GlxScanner* s, int32_t score) {
  while (score < kMaxScore) {
    int32_t tok = GlxNext(s);
    if (GprFeed(p, tok) != 0) break;
    if (tok == kGlxEndToken) return kMaxScore;
    ++score;
  }
  return score;
}

// Back to a saved configuration with the scanner's mark dropped and the token
// after the mark read again.
void ReturnTo(GprParser* p, GlxScanner* s, const GprConfig* c) {
  RestoreSaved(p, c);
  GlxRewind(s);
  GlxUnmark(s);
  GlxNext(s);
}

// The text of the token before the scanner's current one, as far as a near-miss
// test can use it (longer texts are never near a name).
struct KeptText {
  char text[kGlxKeywordMax + 2];
  int32_t length;
};

KeptText KeepPrevText(GlxScanner* s) {
  KeptText k;
  k.length = GlxPrevLen(s);
  if (k.length > kGlxKeywordMax + 1) k.length = kGlxKeywordMax + 1;
  std::memcpy(k.text, GlxPrevText(s), static_cast<size_t>(k.length));
  return k;
}

bool NearName(GlxScanner* s, const KeptText& k, int32_t t) {
  return GprNearKeyword(k.text, k.length, GlxTokName(s, t), GlxTokNameLen(s, t));
}

void Finish(GprParser* p) {
  p->hint = 0;
  p->trial = false;
  p->state = 0;
  p->top = 0;
  p->value_base = 0;
  SetCheckpoints(p, 0, 0);
  while (p->saved != nullptr) Pop(p);
}

}  // namespace

GprParser* GprCreate(CompileArena* arena, const GprGrammar* g) {
  auto* p = static_cast<GprParser*>(ArenaAllocAligned(arena, sizeof(GprParser)));
  new (p) GprParser{};
  p->arena = arena;
  p->capacity = kStackStep;
  p->stack = NewWords(arena, kStackStep);
  p->values = NewWords(arena, kStackStep);
  GprConfig* a = NewConfig(arena, kStackStep);
  GprConfig* b = NewConfig(arena, kStackStep);
  a->next = b;
  b->next = a;
  p->checkpoint = a;
  p->goto_base = g->goto_base;
  p->goto_default = g->goto_default;
  p->action_base = g->action_base;
  p->action = g->action;
  p->access = g->access;
  p->target = g->target;
  p->lhs = g->lhs;
  p->length = g->length;
  p->semantic = g->semantic;
  p->hint_table = g->hint;
  p->terminal_count = g->counts[0];
  p->hint_size = g->counts[1];
  return p;
}

int32_t GprFeed(GprParser* p, int32_t token) {
  if (token < 0) return 0;
  if (token >= p->terminal_count) token = 0;
  for (;;) {
    if (p->top >= p->capacity - 1) Grow(p);
    p->stack[p->top] = p->state;
    int32_t c = p->target[p->action_base[p->state] + token];
    if (p->access[c] == token) {
      p->hint = 0;
      if (token == kGlxEndToken && !p->trial) {
        p->values[0] = p->values[p->top];
        p->state = 0;
        p->top = 0;
        p->value_base = 0;
        SetCheckpoints(p, 0, 0);
        return 0;
      }
      p->state = c;
      p->top += 1;
      TurnCheckpoint(p);
      return 0;
    }
    if (p->hint == 0 && p->state < p->hint_size && p->hint_table[p->state] > 0) {
      p->hint = p->hint_table[p->state];
    }
    int32_t a = p->action[p->state];
    if (a == 0) return 0;
    if (a == -1) {
      p->error_state = p->state;
      const GprConfig* cp = p->checkpoint;
      p->state = cp->state;
      p->top = cp->top;
      std::memcpy(p->stack, cp->stack, static_cast<size_t>(cp->top) * 4);
      return kGprSyntaxError;
    }
    if (a < -1) {
      int32_t i = -a;
      while (p->access[i] != token && p->access[i] != 0) ++i;
      a = p->action[i];
    }
    p->rule_length = p->length[a];
    p->top -= p->length[a];
    int32_t n = p->lhs[a];
    c = p->target[p->goto_base[n] + p->stack[p->top]];
    p->state = p->access[c] == -n ? c : p->goto_default[n];
    p->top += 1;
    if (p->trial || p->semantic[a] == 0) continue;
    p->value_base = p->top;
    return p->semantic[a];
  }
}

void GprFeedRef(GprParser*& p, int32_t& token, int32_t& result) {
  result = GprFeed(p, token);
}

GprRepair* GprParse(GprParser* p, GlxScanner* s) {
  p->trial = true;
  for (;;) {
    // 1-3: A after the token P before the error token E, B before P.
    GprConfig* cfg_a = Save(p);
    Restore(p, p->checkpoint->next, 0);
    GprConfig* cfg_b = Save(p);
    GlxUnget(s);
    GlxMark(s);
    GlxNext(s);
    KeptText p_text = KeepPrevText(s);

    // 4: replacement of P by a terminal, scored by the tokens it lets through.
    int32_t best = 0;
    int32_t best_t = 0;
    for (int32_t t = 2; t < p->terminal_count; ++t) {
      RestoreSaved(p, cfg_b);
      if (GprFeed(p, t) != 0) continue;
      GlxRewind(s);
      GlxNext(s);
      int32_t score = 1;
      for (int i = 0; i < 5; ++i) {
        int32_t tok = GlxNext(s);
        if (tok == kGlxEndToken || GprFeed(p, tok) != 0) break;
        ++score;
      }
      if (score > best || (score == best && best > 0 && NearName(s, p_text, t))) {
        best = score;
        best_t = t;
      }
    }
    ReturnTo(p, s, cfg_b);

    bool ended = false;
    if (best >= 5) {
      int32_t e = GlxNext(s);
      GprRepair* r = AddRepair(p, s);
      r->kind = kGprReplacedBefore;
      NoteSource(r, s);
      NoteReplacement(r, s, best_t);
      GprFeed(p, best_t);
      GprFeed(p, e);
      int32_t f = GlxNext(s);
      NoteSource(r, s);
      NoteReplacement(r, s, -1);
      GprFeed(p, f);
    } else {
      // 7: insertion, replacement or deletion of E.
      int32_t e = GlxNext(s);
      Pop(p);
      cfg_a = p->saved;
      RestoreSaved(p, cfg_a);
      GprRepair* r = AddRepair(p, s);
      GlxMark(s);
      GlxNext(s);
      KeptText e_text = KeepPrevText(s);
      int32_t ident_state = -1;
      best = 0;
      int32_t best_kind = 0;
      int32_t best_c = 0;
      for (int32_t t = 1; t < p->terminal_count; ++t) {
        RestoreSaved(p, cfg_a);
        GlxRewind(s);
        bool plain = true;
        if (GprFeed(p, t) == 0) {
          GprFeed(p, 0);
          int32_t es = p->error_state;
          const char* name = GlxTokName(s, t);
          if (NameIs(s, t, "identifier") || NameIs(s, t, "<identifier>")) {
            ident_state = es;
            ListExpected(r, s, t);
          } else if (ident_state >= 0 && GlxTokNameLen(s, t) > 0 && name[0] >= 'A' &&
                     name[0] <= 'Z' && es == ident_state) {
            plain = false;  // behaves as a non-reserved word
          } else {
            ListExpected(r, s, t);
          }
        } else if (t > 1) {
          plain = false;
        }
        int32_t c = t == kGlxEndToken ? p->hint : t;
        for (int32_t kind = kGprInserted; kind <= kGprDeleted; ++kind) {
          // Deletion does not depend on t; its first score can only be tied.
          if (kind == kGprDeleted && t != kGlxEndToken) continue;
          RestoreSaved(p, cfg_a);
          GlxRewind(s);
          int32_t score = 0;
          if (kind != kGprDeleted) {
            if (c <= kGlxEndToken || GprFeed(p, c) != 0) continue;
          }
          if (kind == kGprInserted) {
            score = CountOn(p, s, 0);
          } else {
            GlxNext(s);
            score = CountOn(p, s, 1);
          }
          if (score > best ||
              (score == best && kind == kGprReplaced && plain && NearName(s, e_text, c))) {
            best = score;
            best_kind = kind;
            best_c = c;
          }
        }
      }
      ReturnTo(p, s, cfg_a);
      if (best >= 3) {
        r->kind = best_kind;
        if (best_kind == kGprInserted) {
          GlxNext(s);
          NoteSource(r, s);
          NoteReplacement(r, s, best_c);
          NoteReplacement(r, s, -1);
          GlxRewind(s);
          GprFeed(p, best_c);
          GprFeed(p, e);
        } else if (best_kind == kGprReplaced) {
          int32_t f = GlxNext(s);
          NoteSource(r, s);
          NoteReplacement(r, s, best_c);
          GprFeed(p, best_c);
          GprFeed(p, f);
        } else {
          int32_t f = GlxNext(s);
          NoteSource(r, s);
          GlxNext(s);
          NoteSource(r, s);
          NoteReplacement(r, s, -1);
          GlxRewind(s);
          GprFeed(p, f);
        }
      } else {
        // 9: panic repair: insert hints, or skip tokens, until one is accepted.
        r->kind = kGprPanic;
        int32_t code = e;
        int32_t inserted = 0;
        while (GprFeed(p, code) != 0) {
          int32_t h = p->hint;
          if (h < 2 || inserted >= kMaxHints) {
            if (code == kGlxEndToken) {
              RestoreSaved(p, cfg_a);
              GlxNext(s);
              NoteSource(r, s);
              ended = true;
              break;
            }
            code = GlxNext(s);
            NoteSource(r, s);
            RestoreSaved(p, cfg_a);
            inserted = 0;
          } else {
            GprFeed(p, h);
            ++inserted;
          }
        }
        if (!ended) {
          RestoreSaved(p, cfg_a);
          GlxNext(s);
          NoteSource(r, s);
          inserted = 0;
          while (GprFeed(p, code) != 0 && inserted < kMaxHints && p->hint >= 2) {
            int32_t h = p->hint;
            NoteReplacement(r, s, h);
            GprFeed(p, h);
            ++inserted;
          }
          NoteReplacement(r, s, -1);
          GlxRewind(s);
        }
      }
    }
    if (ended) break;
    // 10: parse on until the end is fed or a new error appears.
    Pop(p);
    bool again = false;
    for (;;) {
      int32_t tok = GlxNext(s);
      if (GprFeed(p, tok) != 0) {
        again = true;
        break;
      }
      if (tok == kGlxEndToken) break;
    }
    if (!again) break;
  }
  GprRepair* list = p->repairs;
  p->repairs = nullptr;
  Finish(p);
  return list;
}

void GprParseRef(GprParser*& p, GlxScanner*& s, GprRepair*& list) {
  list = GprParse(p, s);
}

void GprFree(GprParser* p) {
  if (p == nullptr) return;
  CompileArena* a = p->arena;
  while (p->repairs != nullptr) {
    GprRepair* next = p->repairs->next;
    FreeRepair(a, p->repairs);
    p->repairs = next;
  }
  while (p->saved != nullptr) Pop(p);
  ArenaFree(a, p->stack);
  ArenaFree(a, p->values);
  GprConfig* c = p->checkpoint;
  GprConfig* d = c->next;
  FreeConfig(a, c);
  FreeConfig(a, d);
  ArenaFreeAligned(a, p);
}

void GprFreeRef(GprParser*& p) {
  GprFree(p);
  p = nullptr;
}

int32_t GprTakeValue(GprParser*& p, int32_t k) {
  int32_t i = p->value_base + k;
  if (i < 0 || i >= p->capacity) return 0;
  int32_t v = p->values[i];
  p->values[i] = 0;
  return v;
}

void GprSetValue(GprParser*& p, int32_t k, int32_t value) {
  int32_t i = p->value_base + k;
  if (i < 0 || i >= p->capacity) return;
  p->values[i] = value;
}

int32_t GprValueTop(GprParser*& p) {
  return p->value_base + 1;
}
int32_t* GprValues(GprParser*& p) {
  return p->values;
}
int32_t GprValueBase(GprParser*& p) {
  return p->value_base;
}

GprRepair* GprResNext(GprRepair* r) {
  return r->next;
}
int32_t GprResStart(GprRepair* r) {
  return r->start;
}
int32_t GprResLength(GprRepair* r) {
  return r->length;
}
const char* GprResSource(GprRepair* r) {
  return r->source;
}
const char* GprResReplacement(GprRepair* r) {
  return r->replacement;
}
void GprResNextRef(GprRepair*& r, GprRepair*& next) {
  next = r->next;
}

void GprResPosRef(GprRepair*& r, int32_t& start, int32_t& length) {
  start = r->start;
  length = r->length;
}

namespace {
int32_t CopyOut(const char* text, char* out) {
  int32_t n = 0;
  while (n < kResultTextMax && text[n] != 0) {
    out[n] = text[n];
    ++n;
  }
  return n;
}
}  // namespace

int32_t GprResText1Ref(GprRepair*& r, char* out) {
  return CopyOut(r->source, out);
}
int32_t GprResText2Ref(GprRepair*& r, char* out) {
  return CopyOut(r->replacement, out);
}

bool GprNearKeyword(const char* a, int32_t m, const char* b, int32_t n) {
  if (n <= 0 || static_cast<signed char>(b[0]) < 'A') return false;
  if (m < 3 && n < 3) return false;
  auto up = [a](int32_t i) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(a[i])));
  };
  auto prefix = [&](int32_t len) {  // the first len characters agree
    for (int32_t i = 0; i < len; ++i) {
      if (up(i) != b[i]) return false;
    }
    return true;
  };
  if (m - n >= 2) return prefix(n);
  if (n - m >= 2) return prefix(m);
  int32_t shorter = m < n ? m : n;
  int32_t i = 0;
  while (i < shorter && up(i) == b[i]) ++i;
  if (i == shorter) return true;
  if (m == n) {
    int32_t from = i + 1;
    if (i + 1 < n && up(i) == b[i + 1] && up(i + 1) == b[i]) from = i + 2;
    for (int32_t j = from; j < n; ++j) {
      if (up(j) != b[j]) return false;
    }
    return true;
  }
  if (m == n + 1) {
    for (int32_t j = i; j < n; ++j) {
      if (up(j + 1) != b[j]) return false;
    }
    return true;
  }
  for (int32_t j = i; j < m; ++j) {
    if (up(j) != b[j + 1]) return false;
  }
  return true;
}
