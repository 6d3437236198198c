// The SQL lexer: a table of single texts with their tokens and errors, the
// literal kind carried across white space and comments, bad input (bytes 0
// and above 127, characters above 255, unterminated literals, tokens longer
// than the kept text), and a model test of random token sequences.
#include "sql/front/sql_lexer.h"

#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

struct Tok {
  int32_t code;
  int32_t position;
  std::string text;
  bool operator==(const Tok& o) const {
    return code == o.code && position == o.position && text == o.text;
  }
};

std::ostream& operator<<(std::ostream& os, const Tok& t) {
  os << "{" << t.code << ", " << t.position << ", \"";
  for (unsigned char c : t.text) {
    if (c >= 32 && c < 127) {
      os << c;
    } else {
      os << "\\x" << std::hex << int{c} << std::dec;
    }
  }
  return os << "\"}";
}

struct Error {
  int32_t code;
  int32_t position;
  bool operator==(const Error& o) const { return code == o.code && position == o.position; }
};

std::ostream& operator<<(std::ostream& os, const Error& e) {
  return os << "{" << e.code << " at " << e.position << "}";
}

// The same text in 3 bytes a character; `wide` replaces characters by code
// point (the single-byte text then holds 191 there).
std::string Wide(const std::string& text, const std::vector<std::pair<size_t, uint32_t>>& wide) {
  std::string w;
  for (unsigned char c : text) w += std::string{'\0', '\0', static_cast<char>(c)};
  for (auto [i, cp] : wide) {
    w[i * 3] = static_cast<char>(cp >> 16);
    w[i * 3 + 1] = static_cast<char>(cp >> 8);
    w[i * 3 + 2] = static_cast<char>(cp);
  }
  return w;
}

struct Lexed {
  std::vector<Tok> tokens;  // up to and including the end token
  std::vector<Error> errors;
  std::vector<int32_t> flags;  // literal flags after each token
};

void Collect(void* sink, int32_t code, int32_t line, int32_t position) {
  EXPECT_EQ(line, 1);
  static_cast<Lexed*>(sink)->errors.push_back({code, position});
}

Lexed Lex(const std::string& text, const std::vector<std::pair<size_t, uint32_t>>& wide = {}) {
  std::string single = text;
  for (auto [i, cp] : wide) single[i] = static_cast<char>(191);
  std::string three = Wide(text, wide);
  auto lx = std::make_unique<SqlLexer>();
  auto rec = std::make_unique<SqlTokenRecord>();
  Lexed out;
  SqlLexReset(lx.get(), reinterpret_cast<const uint8_t*>(single.data()),
              reinterpret_cast<const uint8_t*>(three.data()), static_cast<int32_t>(single.size()),
              Collect, &out);
  for (int i = 0; i < 100000; ++i) {
    SqlLexNext(lx.get(), rec.get());
    EXPECT_EQ(rec->text[rec->length], 0);
    out.tokens.push_back({rec->code, rec->position, std::string(rec->text, rec->length)});
    out.flags.push_back(lx->flags);
    if (rec->code == kSqlTokEnd) break;
  }
  return out;
}

std::string W(const std::string& chars) {  // 3-byte form of single bytes
  return Wide(chars, {});
}

TEST(SqlLexer, SingleTexts) {
  struct Case {
    std::string text;
    std::vector<Tok> tokens;  // the end token follows
    std::vector<Error> errors;
  } cases[] = {
      {"select", {{78, 0, "SELECT"}}, {}},
      {"  SeLeCt  x", {{78, 2, "SELECT"}, {2, 10, "X"}}, {}},
      {"Select1", {{2, 0, "SELECT1"}}, {}},
      {"\"a\"\"b  \"", {{2, 0, "a\"b"}}, {}},
      {"\"   \"", {{2, 0, " "}}, {}},
      {"\"\"", {{0, 0, "\"\""}}, {}},
      {"$x #y", {{2, 0, "$X"}, {2, 3, "#Y"}}, {}},
      {"_a", {{0, 0, "_"}, {2, 1, "A"}}, {}},
      {"X'ABC'", {{4, 0, ""}}, {{-12124, 0}}},
      {"x''", {{4, 0, ""}}, {}},
      {"X'0aFf'", {{4, 0, "\x0a\xff"}}, {}},
      {"X'0G12'", {{4, 0, ""}}, {{-12124, 0}}},
      {"X'12G4'", {{4, 0, "\x12"}}, {{-12124, 0}}},
      {"a; b", {{2, 0, "A"}, {253, 1, ";"}}, {}},
      {"10K", {{5, 0, "10"}, {112, 2, "K"}}, {}},
      {"'it''s' ''", {{3, 0, "it's"}, {3, 8, ""}}, {}},
      {"'two\nlines'", {{3, 0, "two\nlines"}}, {}},
      {"'open", {{0, 0, "'open"}}, {}},
      {"\"open", {{0, 0, "\"open"}}, {}},
      {"N'open", {{0, 0, "N'open"}}, {}},
      {": :a.b :1", {{0, 0, ":"}, {8, 2, "A.B"}, {8, 7, "1"}}, {}},
      {"1 1.5 .5 1. 1e5 1.E-3 2E+1",
       {{5, 0, "1"},
        {6, 2, "1.5"},
        {6, 6, ".5"},
        {6, 9, "1."},
        {7, 12, "1e5"},
        {7, 16, "1.E-3"},
        {7, 22, "2E+1"}},
       {}},
      {"1E 1e+x", {{0, 0, "1E"}, {0, 3, "1e+"}, {2, 6, "X"}}, {}},
      {"<> != <= >= || < > ! |",
       {{117, 0, "<>"},
        {117, 3, "!="},
        {118, 6, "<="},
        {119, 9, ">="},
        {120, 12, "||"},
        {107, 15, "<"},
        {108, 17, ">"},
        {0, 19, "!"},
        {0, 21, "|"}},
       {}},
      {",()=*.{}+-/?",
       {{99, 0, ","},
        {100, 1, "("},
        {101, 2, ")"},
        {102, 3, "="},
        {103, 4, "*"},
        {104, 5, "."},
        {105, 6, "{"},
        {106, 7, "}"},
        {109, 8, "+"},
        {110, 9, "-"},
        {111, 10, "/"},
        {115, 11, "?"}},
       {}},
      {"/* x */", {{111, 0, "/"}, {103, 1, "*"}, {2, 3, "X"}, {103, 5, "*"}, {111, 6, "/"}}, {}},
      {"a -- comment\nb--", {{2, 0, "A"}, {2, 13, "B"}}, {}},
      {std::string("a\0b\x7f@\xc8", 6),
       {{2, 0, "A"}, {2, 2, "B"}, {0, 3, "\x7f"}, {0, 4, "@"}, {0, 5, "\xc8"}},
       {}},
      {"U&'\\0041\\+01F600\\\\'",
       {{292, 0, W("A") + std::string("\x01\xf6\x00", 3) + W("\\")}},
       {}},
      {"U&'a\\zz'", {{292, 0, W("azz")}}, {{-12124, 0}}},
      {"x N'a''b'", {{2, 0, "X"}, {291, 2, W("a'b")}}, {}},
      {std::string("\"a\0b\"", 5), {{2, 0, std::string("a\0b", 3)}}, {{-12126, 0}}},
      {"", {}, {}},
  };
  for (const Case& c : cases) {
    Lexed got = Lex(c.text);
    std::vector<Tok> want = c.tokens;
    int32_t end = static_cast<int32_t>(c.text.size());
    if (c.text.find(';') != std::string::npos) end = static_cast<int32_t>(c.text.find(';')) + 1;
    want.push_back({kSqlTokEnd, end, ""});
    EXPECT_EQ(got.tokens, want) << c.text;
    EXPECT_EQ(got.errors, c.errors) << c.text;
  }
}

TEST(SqlLexer, NationalKindCarriesOverSeparators) {
  Lexed got = Lex("N'x' -- note\n 'y' 'z' q 'w'");
  ASSERT_EQ(got.tokens.size(), 6u);
  EXPECT_EQ(got.tokens[0], (Tok{291, 0, W("x")}));
  EXPECT_EQ(got.tokens[1], (Tok{3, 14, W("y")}));
  EXPECT_EQ(got.tokens[2], (Tok{3, 18, W("z")}));
  EXPECT_EQ(got.tokens[3], (Tok{2, 22, "Q"}));
  EXPECT_EQ(got.tokens[4], (Tok{3, 24, "w"}));  // an identifier ends the kind
  EXPECT_EQ(got.flags[0], kSqlLitNational);
  EXPECT_EQ(got.flags[1], kSqlLitNational);
  EXPECT_EQ(got.flags[4], 0);
  Lexed hex = Lex("X'01' '2345'\t'6'");
  EXPECT_EQ(hex.tokens[1], (Tok{3, 6, "\x23\x45"}));
  EXPECT_EQ(hex.tokens[2], (Tok{3, 13, ""}));
  EXPECT_EQ(hex.errors, (std::vector<Error>{{-12124, 13}}));
}

TEST(SqlLexer, CharactersAboveTheSingleByteRange) {
  // Position 1 (string), 7 (delimited name) and 12 (national) are U+4E2D.
  Lexed got = Lex("'x' \"ab\" N'cd'", {{1, 0x4E2D}, {6, 0x4E2D}, {12, 0x4E2D}});
  ASSERT_EQ(got.tokens.size(), 4u);
  EXPECT_EQ(got.tokens[0], (Tok{3, 0, "\xbf"}));
  EXPECT_EQ(got.tokens[1], (Tok{2, 4, "a\xbf"}));
  EXPECT_EQ(got.tokens[2], (Tok{291, 9, W("c") + std::string("\x00\x4e\x2d", 3)}));
  EXPECT_EQ(got.errors, (std::vector<Error>{{-12109, 0}, {-12110, 4}}));
}

TEST(SqlLexer, LongTokensAreCutAndReported) {
  std::string digits(16000, '7');
  std::string chars(40000, 'c');
  std::string name(40000, 'n');
  std::string wide_chars(6000, 'w');
  Lexed got = Lex(digits + " '" + chars + "' " + name + " N'" + wide_chars + "' X'" +
                  std::string(30002, 'a') + "'");
  ASSERT_EQ(got.tokens.size(), 6u);
  EXPECT_EQ(got.tokens[0].code, 5);
  EXPECT_EQ(got.tokens[0].text.size(), 15000u);
  EXPECT_EQ(got.tokens[1].code, 3);
  EXPECT_EQ(got.tokens[1].text, std::string(15000, 'c'));
  EXPECT_EQ(got.tokens[2], (Tok{2, 56004, std::string(129, 'N')}));
  EXPECT_EQ(got.tokens[3].code, 291);
  EXPECT_EQ(got.tokens[3].text, W(std::string(5000, 'w')));
  EXPECT_EQ(got.tokens[4].code, 4);
  EXPECT_EQ(got.tokens[4].text, std::string(15000, '\xaa'));
  int32_t n = 56004;  // the name's position
  EXPECT_EQ(got.errors,
            (std::vector<Error>{
                {-12122, 0}, {-12121, 16001}, {-12121, n + 40001}, {-12121, n + 40001 + 6004}}));
  // Only 30002 characters of a token are kept: the hexadecimal literal's
  // 30002 digits give 15000 bytes and the report that digits were lost.
  Lexed open = Lex("'" + chars);
  ASSERT_EQ(open.tokens.size(), 2u);
  EXPECT_EQ(open.tokens[0].code, 0);
  EXPECT_EQ(open.tokens[0].text.size(), 15000u);
  EXPECT_EQ(open.tokens[1], (Tok{1, 40001, ""}));
}

// Random token sequences joined by white space and comments come back with
// their codes, positions and normalised texts.
TEST(SqlLexer, RandomTokenSequencesAgainstAModel) {
  std::mt19937 rng(11);
  auto pick = [&](const std::string& set) { return set[rng() % set.size()]; };
  const std::string letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  const std::string name_chars = letters + "0123456789_$#";
  const char* punct[] = {",", "(", ")", "=", "*", ".",  "{",  "}",  "<",
                         ">", "+", "-", "/", "?", "<>", "<=", ">=", "||"};
  const int32_t punct_codes[] = {99,  100, 101, 102, 103, 104, 105, 106, 107,
                                 108, 109, 110, 111, 115, 117, 118, 119, 120};
  const char* seps[] = {" ", "\t", "\n", "\r\n", "\v", "\f", "  ", " -- note; 'x'\n", " --\n"};
  std::string upper;
  for (int round = 0; round < 400; ++round) {
    std::string text;
    std::vector<Tok> want;
    int32_t carried = 0;  // literal kind a following string segment continues
    int count = 1 + static_cast<int>(rng() % 30);
    for (int i = 0; i < count; ++i) {
      text += seps[rng() % 9];
      Tok t{0, static_cast<int32_t>(text.size()), ""};
      std::string src;
      int32_t kind = 0;
      switch (rng() % 10) {
        case 0: {  // a keyword in any case
          int32_t code = 9 + static_cast<int32_t>(rng() % 288);
          int32_t n;
          const char* name = SqlTokenName(code, &n);
          if (SqlKeywordCode(name, n) != code) code = 78, name = "SELECT", n = 6;
          for (int32_t k = 0; k < n; ++k) {
            src += rng() % 2 ? name[k] : static_cast<char>(std::tolower(name[k]));
          }
          t = {code, t.position, std::string(name, n)};
          break;
        }
        case 1: {  // a regular identifier
          src = pick(letters + "$#");
          int n = static_cast<int>(rng() % 8);
          for (int k = 0; k < n; ++k) src += pick(name_chars);
          upper.clear();
          for (char c : src) upper += static_cast<char>(std::toupper(c));
          int32_t code = SqlKeywordCode(upper.data(), static_cast<int32_t>(upper.size()));
          t = {code != 0 ? code : 2, t.position, upper};
          break;
        }
        case 2: {  // a delimited identifier
          std::string inner;
          int n = 1 + static_cast<int>(rng() % 6);
          for (int k = 0; k < n; ++k) inner += pick(letters + " \"'-;");
          src = "\"";
          for (char c : inner) src += c == '"' ? "\"\"" : std::string(1, c);
          src += "\"";
          while (inner.size() > 1 && inner.back() == ' ') inner.pop_back();
          t = {2, t.position, inner};
          break;
        }
        case 3: {  // a number
          std::string digits = std::to_string(rng() % 100000);
          switch (rng() % 3) {
            case 0:
              t = {5, t.position, digits};
              break;
            case 1:
              t = {6, t.position, digits + "." + std::to_string(rng() % 100)};
              break;
            default:
              t = {7, t.position, digits + (rng() % 2 ? "e-" : "E") + std::to_string(rng() % 99)};
          }
          src = t.text;
          break;
        }
        case 4:
        case 5: {  // a string, continuing the kind of a literal before it
          std::string inner;
          int n = static_cast<int>(rng() % 7);
          const std::string set =
              carried == kSqlLitHex ? "0123456789abcdefABCDEF" : letters + " '-;\n";
          for (int k = 0; k < n; ++k) inner += pick(set);
          if (carried == kSqlLitHex && inner.size() % 2 != 0) inner += '0';
          src = "'";
          for (char c : inner) src += c == '\'' ? "''" : std::string(1, c);
          src += "'";
          std::string text_value = inner;
          if (carried == kSqlLitNational) text_value = W(inner);
          if (carried == kSqlLitHex) {
            text_value.clear();
            for (size_t k = 0; k < inner.size(); k += 2) {
              text_value += static_cast<char>(std::stoi(inner.substr(k, 2), nullptr, 16));
            }
          }
          kind = carried;
          t = {3, t.position, text_value};
          break;
        }
        case 6: {  // a national literal
          std::string inner(1 + rng() % 4, pick(letters));
          src = std::string(rng() % 2 ? "N" : "n") + "'" + inner + "'";
          kind = kSqlLitNational;
          t = {291, t.position, W(inner)};
          break;
        }
        case 7: {  // a hexadecimal literal
          std::string inner;
          std::string bytes;
          int n = static_cast<int>(rng() % 4);
          for (int k = 0; k < n; ++k) {
            int b = static_cast<int>(rng() % 256);
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02X", b);
            inner += hex;
            bytes += static_cast<char>(b);
          }
          src = "X'" + inner + "'";
          kind = kSqlLitHex;
          t = {4, t.position, bytes};
          break;
        }
        case 8: {  // a host identifier
          src = ":" + std::string(1, pick(letters)) + "." + std::string(1, pick(letters));
          upper.clear();
          for (char c : src.substr(1)) upper += static_cast<char>(std::toupper(c));
          t = {8, t.position, upper};
          break;
        }
        default: {
          int k = static_cast<int>(rng() % 18);
          src = punct[k];
          t = {punct_codes[k], t.position, src};
        }
      }
      carried = kind;
      text += src;
      want.push_back(t);
    }
    text += seps[rng() % 9];
    want.push_back({kSqlTokEnd, static_cast<int32_t>(text.size()), ""});
    Lexed got = Lex(text);
    ASSERT_EQ(got.tokens, want) << "round " << round << ": " << text;
    ASSERT_TRUE(got.errors.empty()) << "round " << round;
  }
}

}  // namespace
