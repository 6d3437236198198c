// The generic scanner on a small generated language: tokens with positions and
// keywords in any case, wide input, the token ring (unget, mark, rewind), the
// token filter, and the keyword hash against Python-computed values.
#include "sql/front/glx_scanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "calc_lexer.h"

namespace {

enum Code {
  kErr = 0,
  kEnd = 1,
  kNum = 2,
  kId = 3,
  kPlus = 4,
  kMinus = 5,
  kStar = 6,
  kLParen = 8,
  kEq = 10,
  kSemi = 11,
  kLet = 12,
  kPrint = 13,
  kString = 15
};

struct Tok {
  int32_t code;
  int32_t start;
  int32_t length;
  std::string text;
  bool operator==(const Tok& o) const {
    return code == o.code && start == o.start && length == o.length && text == o.text;
  }
};

std::ostream& operator<<(std::ostream& os, const Tok& t) {
  return os << "{" << t.code << ", " << t.start << ", " << t.length << ", \"" << t.text << "\"}";
}

struct ScannerFixture : ::testing::Test {
  CompileArena arena;
  GlxScanner* s = nullptr;
  std::string input;
  void SetUp() override {
    ArenaUseLocalStorage(&arena);
    s = GlxCreate(&arena, &kCalcLexer);
  }
  void TearDown() override {
    GlxFree(s);
    ArenaRelease(&arena);
  }
  void Input(const std::string& text, bool wide = false) {
    input = text;
    GlxSetInput(s, reinterpret_cast<const uint8_t*>(input.data()));
    if (wide) GlxSetWide(s);
    GlxSetLength(s, static_cast<int32_t>(wide ? input.size() / 3 : input.size()));
  }
  Tok Next() {
    int32_t code = GlxNext(s);
    return {code, GlxTokStart(s), GlxTokLen(s), s->current->text};
  }
  std::vector<Tok> All() {
    std::vector<Tok> out;
    for (int i = 0; i < 100; ++i) {
      out.push_back(Next());
      if (out.back().code == kEnd) break;
    }
    return out;
  }
};

TEST_F(ScannerFixture, TokensKeywordsAndPositions) {
  Input("let x1 = 42+Print;  -- note\n 'it''s' LETX @ (");
  std::vector<Tok> want = {
      {kLet, 0, 3, "let"}, {kId, 4, 2, "x1"},           {kEq, 7, 1, "="},
      {kNum, 9, 2, "42"},  {kPlus, 11, 1, "+"},         {kPrint, 12, 5, "Print"},
      {kSemi, 17, 1, ";"}, {kString, 29, 7, "'it''s'"}, {kId, 37, 4, "LETX"},
      {kErr, 42, 1, "@"},  {kLParen, 44, 1, "("},       {kEnd, 45, 0, ""},
  };
  EXPECT_EQ(All(), want);
  // After the end, the end again.
  EXPECT_EQ(GlxNext(s), kEnd);
  EXPECT_EQ(GlxNext(s), kEnd);
}

TEST_F(ScannerFixture, EdgeInputs) {
  struct Case {
    std::string text;
    std::vector<Tok> want;
  } cases[] = {
      {"", {{kEnd, 0, 0, ""}}},
      {"   ", {{kEnd, 3, 0, ""}}},
      // An unterminated literal is one unknown token up to the end.
      {"'abc", {{kErr, 0, 4, "'abc"}, {kEnd, 4, 0, ""}}},
      // 33 letters are never a keyword, even when they start with one.
      {std::string(33, 'L'), {{kId, 0, 33, std::string(33, 'L')}, {kEnd, 33, 0, ""}}},
      {"PRINT-1",
       {{kPrint, 0, 5, "PRINT"}, {kMinus, 5, 1, "-"}, {kNum, 6, 1, "1"}, {kEnd, 7, 0, ""}}},
  };
  for (const Case& c : cases) {
    Input(c.text);
    EXPECT_EQ(All(), c.want) << "input '" << c.text << "'";
  }
}

TEST_F(ScannerFixture, NamesOfCodes) {
  struct Case {
    int32_t code;
    std::string name;
  } cases[] = {{0, "<error>"}, {1, "<end>"},    {kLet, "LET"},
               {kStar, "*"},   {99, "<error>"}, {-1, "<error>"}};
  for (const Case& c : cases) {
    EXPECT_EQ(std::string(GlxTokName(s, c.code), GlxTokNameLen(s, c.code)), c.name);
  }
}

std::string Wide(const std::vector<uint32_t>& cps) {
  std::string out;
  for (uint32_t cp : cps) {
    out += static_cast<char>(cp >> 16);
    out += static_cast<char>((cp >> 8) & 0xFF);
    out += static_cast<char>(cp & 0xFF);
  }
  return out;
}

TEST_F(ScannerFixture, WideCharactersMapToBytes) {
  // U+2028 reads as a line feed (white space here), U+00E9 as byte E9 (no
  // token starts with it), U+4E2D as 191.
  Input(Wide({'a', 0x2028, 'b', 0xE9, 0x4E2D, 'c'}), true);
  std::vector<Tok> want = {{kId, 0, 1, "a"},     {kId, 2, 1, "b"}, {kErr, 3, 1, "\xE9"},
                           {kErr, 4, 1, "\xBF"}, {kId, 5, 1, "c"}, {kEnd, 6, 0, ""}};
  EXPECT_EQ(All(), want);
}

TEST_F(ScannerFixture, UngetMarkAndRewindReplayWithoutScanning) {
  Input("a b c d e");
  EXPECT_EQ(Next().text, "a");
  GlxMark(s);
  EXPECT_EQ(Next().text, "b");
  EXPECT_EQ(Next().text, "c");
  GlxToken* d = (Next(), s->current);
  EXPECT_EQ(std::string(d->text), "d");
  GlxRewind(s);
  // Replayed entries are the stored ones: changing a stored code shows that
  // nothing is scanned again.
  s->current->next->code = kNum;
  EXPECT_EQ(Next(), (Tok{kNum, 0, 1, "a"}));
  EXPECT_EQ(Next().text, "b");
  GlxUnmark(s);
  EXPECT_EQ(Next().text, "c");
  GlxUnget(s);
  EXPECT_EQ(Next().text, "c");
  EXPECT_EQ(Next().text, "d");
  EXPECT_EQ(Next().text, "e");
  EXPECT_EQ(GlxPrevStart(s), 6);
  EXPECT_EQ(Next().code, kEnd);
  EXPECT_STREQ(GlxPrevText(s), "e");
  EXPECT_EQ(Next().code, kEnd);
  EXPECT_STREQ(GlxPrevText(s), "<end>");
  EXPECT_EQ(GlxPrevLen(s), 5);
}

// Without a mark the ring keeps the current token and the one before it; an
// unget at the oldest kept entry does nothing, rather than stepping onto an
// entry that a newer token has reused, or before the first token.
TEST_F(ScannerFixture, UngetStopsAtTheOldestKeptToken) {
  Input("a b c d e");
  EXPECT_EQ(Next().text, "a");
  EXPECT_EQ(Next().text, "b");
  EXPECT_EQ(Next().text, "c");
  for (int i = 0; i < 3; ++i) GlxUnget(s);
  EXPECT_EQ(Next().text, "b");
  EXPECT_EQ(Next().text, "c");
  EXPECT_EQ(Next().text, "d");
  EXPECT_EQ(Next().text, "e");
  EXPECT_EQ(Next().code, kEnd);

  Input("x y");
  EXPECT_EQ(Next().text, "x");
  for (int i = 0; i < 3; ++i) GlxUnget(s);
  EXPECT_EQ(Next(), (Tok{kId, 0, 1, "x"}));
  EXPECT_EQ(Next(), (Tok{kId, 2, 1, "y"}));

  // Before the first token of a text nothing is kept: the entries behind it
  // hold the previous text's tokens.
  for (int ungets : {1, 2, 3}) {
    Input("p q");
    for (int i = 0; i < ungets; ++i) GlxUnget(s);
    EXPECT_EQ(Next(), (Tok{kId, 0, 1, "p"})) << ungets;
    EXPECT_EQ(Next(), (Tok{kId, 2, 1, "q"})) << ungets;
    EXPECT_EQ(Next().code, kEnd) << ungets;
  }
  // A mark set there rewinds to the first token.
  Input("p q");
  GlxMark(s);
  EXPECT_EQ(Next().text, "p");
  GlxRewind(s);
  EXPECT_EQ(Next(), (Tok{kId, 0, 1, "p"}));
  GlxUnmark(s);
  EXPECT_EQ(Next(), (Tok{kId, 2, 1, "q"}));
}

// A filter that reads the next token ahead and gives it back, as the routine
// language's filter does for ATOMIC and FOR.
int32_t PeekingFilter(GlxScanner* s, int32_t, int32_t code) {
  GlxNext(s);
  GlxUnget(s);
  return code;
}

// Random reads, ungets, marks, rewinds and unmarks, over several texts on one
// scanner, with and without a peeking filter: a read delivers the token after
// the current one, an unget steps back exactly one token unless it stands at
// the anchor, and the entries from the anchor to the newest one hold
// consecutive tokens of the current text, the current one among them.
TEST_F(ScannerFixture, RingKeepsConsecutiveTokensUnderRandomMoves) {
  constexpr int kTokens = 40;
  std::string text;
  for (int i = 0; i < kTokens; ++i) text += "t" + std::to_string(i) + " ";
  // 0 is the entry before the first token, kTokens + 1 the end.
  auto index = [&](const GlxToken* t) {
    if (t->code == kEnd) return kTokens + 1;
    if (t->code == kErr && t->length == 0) return 0;
    return std::atoi(t->text + 1) + 1;
  };
  std::mt19937 rng(17);
  for (int round = 0; round < 400; ++round) {
    GlxSetFilter(s, round % 2 == 0 ? PeekingFilter : nullptr);
    GlxUnmark(s);
    Input(text);
    for (int op = 0; op < 150; ++op) {
      int before = index(s->current);
      bool at_anchor = s->current == s->anchor;
      switch (rng() % 10) {
        case 0:
          GlxMark(s);
          break;
        case 1:
          GlxRewind(s);
          break;
        case 2:
          GlxUnmark(s);
          break;
        case 3:
        case 4:
        case 5:
          GlxUnget(s);
          ASSERT_EQ(index(s->current), at_anchor ? before : before - 1) << round << "/" << op;
          break;
        default:
          GlxNext(s);
          ASSERT_EQ(index(s->current), std::min(before + 1, kTokens + 1)) << round << "/" << op;
      }
      bool current_seen = false;
      int previous = -1;
      for (const GlxToken* t = s->anchor;; t = t->next) {
        int i = index(t);
        if (previous >= 0 && previous <= kTokens) {
          ASSERT_EQ(i, previous + 1) << round << "/" << op;
        }
        previous = i;
        current_seen = current_seen || t == s->current;
        if (t == s->last) break;
      }
      ASSERT_TRUE(current_seen) << round << "/" << op;
    }
  }
  GlxSetFilter(s, nullptr);
}

int g_filter_calls = 0;

// Turns LET followed by "=" into PRINT, reading ahead with the scanner itself.
int32_t LookAheadFilter(GlxScanner* s, int32_t user, int32_t code) {
  ++g_filter_calls;
  if (code != kLet) return code;
  int32_t next = GlxNext(s);
  GlxUnget(s);
  return next == kEq ? user : code;
}

TEST_F(ScannerFixture, FilterReadsAheadAndSeesReplays) {
  g_filter_calls = 0;
  GlxSetFilter(s, LookAheadFilter);
  GlxSetUserData(s, kPrint);
  Input("LET = LET x");
  EXPECT_EQ(GlxNext(s), kPrint);
  EXPECT_EQ(GlxNext(s), kEq);  // the token read ahead is delivered again
  EXPECT_EQ(GlxNext(s), kLet);
  EXPECT_EQ(GlxNext(s), kId);
  EXPECT_EQ(g_filter_calls, 4);
  GlxUnget(s);
  EXPECT_EQ(GlxNext(s), kId);
  EXPECT_EQ(g_filter_calls, 5);  // a replay passes the filter again
}

TEST_F(ScannerFixture, NewInputAfterTheEndContinuesTheLineCount) {
  Input("a");
  EXPECT_EQ(Next().code, kId);
  EXPECT_EQ(Next().code, kEnd);
  std::string second = "b c";
  GlxSetLength(s, 0);
  s->input = reinterpret_cast<const uint8_t*>(second.data());
  GlxSetLength(s, 3);
  EXPECT_EQ(Next(), (Tok{kId, 0, 1, "b"}));
  EXPECT_EQ(GlxTokLine(s), 1);
}

// The sample language's lexical rules written out by hand, over characters
// already mapped to bytes: longest match, and where the text read cannot end
// a token, one unknown token of what was read (at least one character).
std::vector<Tok> ReferenceTokens(const std::vector<int>& ch) {
  std::vector<Tok> out;
  size_t n = ch.size();
  size_t p = 0;
  auto is_letter = [](int c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
  };
  auto is_digit = [](int c) { return c >= '0' && c <= '9'; };
  const std::string ops = "+-*/()=;";
  const int32_t op_codes[] = {kPlus, kMinus, kStar, 7, kLParen, 9, kEq, kSemi};
  for (;;) {
    for (;;) {
      if (p < n && (ch[p] == ' ' || ch[p] == '\t' || ch[p] == '\r' || ch[p] == '\n')) {
        ++p;
      } else if (p + 1 < n && ch[p] == '-' && ch[p + 1] == '-') {
        while (p < n && ch[p] != '\n') ++p;
      } else {
        break;
      }
    }
    if (p >= n) {
      out.push_back({kEnd, static_cast<int32_t>(p), 0, ""});
      return out;
    }
    size_t start = p;
    int c = ch[p++];
    int32_t code = kErr;
    if (is_digit(c)) {
      while (p < n && is_digit(ch[p])) ++p;
      code = kNum;
    } else if (is_letter(c)) {
      while (p < n && (is_letter(ch[p]) || is_digit(ch[p]))) ++p;
      std::string upper;
      for (size_t i = start; i < p; ++i) upper += static_cast<char>(std::toupper(ch[i]));
      code = upper == "LET" ? kLet : upper == "PRINT" ? kPrint : kId;
    } else if (c != 0 && ops.find(static_cast<char>(c)) != std::string::npos) {
      code = op_codes[ops.find(static_cast<char>(c))];
    } else if (c == '\'') {
      for (;;) {
        if (p >= n) break;  // unterminated: unknown
        if (ch[p] != '\'') {
          ++p;
        } else if (p + 1 < n && ch[p + 1] == '\'') {
          p += 2;
        } else {
          ++p;
          code = kString;
          break;
        }
      }
    }
    std::string text;
    for (size_t i = start; i < p; ++i) text += static_cast<char>(ch[i]);
    text.resize(std::strlen(text.c_str()));  // as the zero-terminated copy reads
    out.push_back({code, static_cast<int32_t>(start), static_cast<int32_t>(p - start), text});
  }
}

TEST_F(ScannerFixture, RandomTextsAgainstAHandWrittenScanner) {
  // Pieces chosen to meet at awkward places: "-" before "-", quotes doubled
  // at the end, keywords glued to identifiers, bytes that start no token.
  const std::vector<std::vector<uint32_t>> pieces = {{'1'},
                                                     {'2', '3'},
                                                     {'x'},
                                                     {'_'},
                                                     {'l', 'e', 't'},
                                                     {'L', 'E', 'T'},
                                                     {'p', 'R', 'i', 'N', 't'},
                                                     {'+'},
                                                     {'-'},
                                                     {'*'},
                                                     {'/'},
                                                     {'('},
                                                     {')'},
                                                     {'='},
                                                     {';'},
                                                     {'\''},
                                                     {'\'', '\''},
                                                     {'\'', 'a', '\''},
                                                     {' '},
                                                     {'\t'},
                                                     {'\n'},
                                                     {'\r'},
                                                     {'@'},
                                                     {'\f'},
                                                     {0xE9},
                                                     {0},
                                                     {0xFF},
                                                     {0x2028},
                                                     {0x4E2D},
                                                     {0x2029}};
  std::mt19937 rng(7);
  for (int round = 0; round < 2000; ++round) {
    bool wide = round >= 1000;  // the wide mark stays for the scanner's life
    std::vector<uint32_t> cps;
    int count = static_cast<int>(rng() % 12);
    for (int i = 0; i < count; ++i) {
      const std::vector<uint32_t>& piece = pieces[rng() % pieces.size()];
      if (!wide && piece[0] > 0xFF) continue;
      cps.insert(cps.end(), piece.begin(), piece.end());
    }
    std::vector<int> mapped;
    std::string bytes;
    for (uint32_t cp : cps) {
      mapped.push_back(cp == 0x2028 || cp == 0x2029 ? '\n'
                       : cp > 0xFF                  ? 191
                                                    : static_cast<int>(cp));
      if (!wide) bytes += static_cast<char>(cp);
    }
    if (wide) bytes = Wide(cps);
    Input(bytes, wide);
    std::vector<Tok> want = ReferenceTokens(mapped);
    ASSERT_EQ(All(), want) << "round " << round;
  }
}

TEST(TextHash31, MatchesAnOutsideComputation) {
  // Reference values computed with Python: h = h * 31 + signed byte, from the
  // last byte to the first, modulo 2^32, then modulo m.
  struct Case {
    std::string text;
    int32_t m;
    int32_t want;
  } cases[] = {{"ABSOLUTE", 9669, 6631},
               {"ZONE", 9669, 5896},
               {"CALL", 40, 34},
               {"TYPE", 40, 22},
               {"\xE9", 31, 12},
               {"a\xE9"
                "b",
                1000, 562},
               {"AB", 100000, 2111},
               {"AB", 0, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(TextHash31(reinterpret_cast<const uint8_t*>(c.text.data()),
                         static_cast<int32_t>(c.text.size()), c.m),
              c.want)
        << c.text;
  }
  const uint8_t text[] = "xxAByy";
  EXPECT_EQ(HashText31(text, 2, 2, 100000), 2111);
}

TEST(TextHash31, KeywordListsHashWithoutCollisions) {
  struct Case {
    const char* file;
    size_t count;
    int32_t size;
  } cases[] = {{"routine_keywords.txt", 379, 9669}, {"prescan_keywords.txt", 13, 40}};
  for (const Case& c : cases) {
    std::ifstream in(std::string(HARBOUND_TEST_DATA) + "/" + c.file);
    ASSERT_TRUE(in) << c.file;
    std::set<int32_t> slots;
    std::string word;
    size_t n = 0;
    while (in >> word) {
      ++n;
      slots.insert(TextHash31(reinterpret_cast<const uint8_t*>(word.data()),
                              static_cast<int32_t>(word.size()), c.size));
    }
    EXPECT_EQ(n, c.count) << c.file;
    EXPECT_EQ(slots.size(), n) << c.file << " collides at size " << c.size;
  }
}

}  // namespace
