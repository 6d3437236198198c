// The generic parser engine driving the generated sample grammar: reductions
// and semantic values for expressions with precedence, syntax errors at the
// right token, the repair records of GprParse, and the near-miss test.
#include "sql/front/gpr_parser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "calc_grammar.h"
#include "calc_lexer.h"

namespace {

struct Outcome {
  std::vector<int32_t> actions;
  int32_t value = 0;         // value slot 0 after acceptance
  int32_t error_token = -1;  // code of the token that failed first
  int32_t error_start = -1;
  struct Rec {
    int32_t kind, start, length;
    std::string source, replacement, expected;
  };
  std::vector<Rec> repairs;
  int32_t state_after = -1;
};

// Feeds the text through scanner and parser the way a caller does, running an
// evaluator as the semantic actions.
Outcome Parse(const std::string& text, const GprGrammar& grammar = kCalcGrammar) {
  CompileArena arena;
  ArenaUseLocalStorage(&arena);
  GlxScanner* s = GlxCreate(&arena, &kCalcLexer);
  GprParser* p = GprCreate(&arena, &grammar);
  GlxSetInput(s, reinterpret_cast<const uint8_t*>(text.data()));
  GlxSetLength(s, static_cast<int32_t>(text.size()));
  Outcome run;
  for (;;) {
    int32_t tok = GlxNext(s);
    int32_t r;
    while ((r = GprFeed(p, tok)) > 0) {
      run.actions.push_back(r);
      auto v = [&](int k) { return GprTakeValue(p, k); };
      int32_t out = 0;
      switch (r) {
        case 3:
          out = v(0) + v(2);
          break;
        case 4:
          out = v(0) - v(2);
          break;
        case 5:
          out = v(0) * v(2);
          break;
        case 6: {
          int32_t a = v(0), b = v(2);
          out = b == 0 ? 0 : a / b;
        } break;
        case 7:
          out = -v(1);
          break;
        case 8:
          out = v(1);
          break;
        case 9:
          out = std::atoi(GlxPrevText(s));
          break;
        case 1:
        case 11:
          out = v(r == 1 ? 0 : 1);
          break;
        case 2:
          out = v(3);
          break;
        case 20:
        case 22:
          out = v(0);
          break;
        case 21:
          out = v(2);
          break;
        default:
          break;
      }
      GprSetValue(p, 0, out);
    }
    if (r == kGprSyntaxError) {
      run.error_token = tok;
      run.error_start = GlxTokStart(s);
      for (GprRepair* rec = GprParse(p, s); rec != nullptr; rec = GprResNext(rec)) {
        run.repairs.push_back({rec->kind, GprResStart(rec), GprResLength(rec), GprResSource(rec),
                               GprResReplacement(rec), rec->expected});
      }
      break;
    }
    if (tok == kGlxEndToken) break;
  }
  run.value = GprValues(p)[0];
  run.state_after = p->state;
  GprFree(p);
  GlxFree(s);
  ArenaRelease(&arena);
  return run;
}

TEST(GprParser, ReductionsFollowPrecedence) {
  Outcome r = Parse("1+2*3");
  // NUMBER three times, then "*" before "+", then the statement and the list.
  EXPECT_EQ(r.actions, (std::vector<int32_t>{9, 9, 9, 5, 3, 1, 22, 20}));
  EXPECT_EQ(r.value, 7);
  EXPECT_EQ(r.error_token, -1);
  EXPECT_EQ(r.state_after, 0);
  struct Case {
    const char* text;
    int32_t value;
  } cases[] = {{"1-2-3", -4}, {"2*3+4", 10},          {"2*(3+4)", 14}, {"-2*3", -6},
               {"8/2/2", 2},  {"LET x = 5; 6*7", 42}, {"print 9", 9},  {"1+2;3*3-1", 8}};
  for (const Case& c : cases) EXPECT_EQ(Parse(c.text).value, c.value) << c.text;
}

TEST(GprParser, DeepNestingGrowsTheStacks) {
  std::string text = std::string(200, '(') + "5" + std::string(200, ')') + "*2";
  Outcome r = Parse(text);
  EXPECT_EQ(r.error_token, -1);
  EXPECT_EQ(r.value, 10);
}

TEST(GprParser, SyntaxErrorAtTheRightToken) {
  Outcome r = Parse("1+*2");
  EXPECT_EQ(r.error_token, 6);  // "*"
  EXPECT_EQ(r.error_start, 2);
  // The actions reported before the error are the ones for "1".
  EXPECT_EQ(r.actions, (std::vector<int32_t>{9}));
  ASSERT_EQ(r.repairs.size(), 1u);
  const Outcome::Rec& rec = r.repairs[0];
  EXPECT_EQ(rec.start, 2);
  EXPECT_EQ(rec.length, 1);
  EXPECT_EQ(rec.kind, kGprInserted);
  EXPECT_EQ(rec.source, "*");
  EXPECT_EQ(rec.replacement, "<integer literal> *");
  EXPECT_EQ(rec.expected, "<integer literal> <identifier> - (");
  EXPECT_EQ(r.state_after, 0);
}

TEST(GprParser, RepairKinds) {
  struct Case {
    const char* text;
    int32_t kind;
    int32_t start;
    const char* source;
    const char* replacement;
  } cases[] = {
      // A misspelt keyword taken as an identifier; the keyword lets the next
      // tokens through.
      {"PRNT 3 + 4 * 5 ; x", kGprReplacedBefore, 5, "PRNT 3", "PRINT 3"},
      // Deleting "2" already reaches the end; it is tried first and wins the tie.
      {"1 2", kGprDeleted, 2, "2 <end>", "<end>"},
      {"LET x 5", kGprInserted, 6, "5", "= 5"},
      {"(1+2", kGprInserted, 4, "<end>", ") <end>"},
      {"1 + ) 2", kGprDeleted, 4, ") 2", "2"},
      {"LET", kGprPanic, 3, "<end>", "<identifier> = <integer literal> <end>"},
  };
  for (const Case& c : cases) {
    Outcome r = Parse(c.text);
    ASSERT_FALSE(r.repairs.empty()) << c.text;
    const Outcome::Rec& rec = r.repairs[0];
    EXPECT_EQ(rec.kind, c.kind) << c.text;
    EXPECT_EQ(rec.start, c.start) << c.text;
    EXPECT_EQ(rec.source, c.source) << c.text;
    EXPECT_EQ(rec.replacement, c.replacement) << c.text;
    EXPECT_EQ(r.state_after, 0) << c.text;
  }
}

TEST(GprParser, RandomTokenStringsAlwaysFinish) {
  // Whatever the input, the repair ends at the end of the input with the
  // parser in state 0, and every record lies inside the text.
  const char* words[] = {"1", "x", "+", "-",   "*",     "/",   "(",
                         ")", "=", ";", "LET", "PRINT", "'s'", "@"};
  std::mt19937 rng(11);
  for (int round = 0; round < 400; ++round) {
    std::string text;
    int n = static_cast<int>(rng() % 14);
    for (int i = 0; i < n; ++i) {
      text += words[rng() % (sizeof words / sizeof words[0])];
      text += ' ';
    }
    Outcome r = Parse(text);
    EXPECT_EQ(r.state_after, 0) << text;
    if (r.error_token >= 0) {
      EXPECT_FALSE(r.repairs.empty()) << text;
    }
    for (const Outcome::Rec& rec : r.repairs) {
      EXPECT_GE(rec.kind, 1) << text;
      EXPECT_LE(rec.kind, 5) << text;
      EXPECT_LE(rec.start + rec.length, static_cast<int32_t>(text.size())) << text;
    }
  }
}

TEST(GprParser, ErrorsAtTheFirstToken) {
  for (const char* text : {"", ")", ") 1", "; ;", "* 2 + 3"}) {
    Outcome r = Parse(text);
    EXPECT_EQ(r.error_start, 0) << text;
    EXPECT_FALSE(r.repairs.empty()) << text;
    EXPECT_EQ(r.state_after, 0) << text;
  }
}

TEST(GprParser, ErrorAtTheEndWithoutAHintSkipsOnlyTheEnd) {
  // "LET x" needs two more tokens, so no single insertion, replacement or
  // deletion lets the end through, and panic repair begins at the end token.
  // The generator gives every state that can find an error a hint; taking the
  // hint table away leaves those states hint-less.
  const int32_t no_hints[2] = {kCalcGrammar.counts[0], 0};
  GprGrammar hintless = kCalcGrammar;
  hintless.counts = no_hints;
  Outcome r = Parse("LET x", hintless);
  ASSERT_EQ(r.repairs.size(), 1u);
  EXPECT_EQ(r.repairs[0].kind, kGprPanic);
  EXPECT_EQ(r.repairs[0].source, "<end>");
  EXPECT_EQ(r.repairs[0].replacement, "");
  EXPECT_EQ(r.repairs[0].start, 5);
  EXPECT_EQ(r.state_after, 0);
  // With its hints the same error is mended by inserting them before the end.
  Outcome hinted = Parse("LET x");
  ASSERT_EQ(hinted.repairs.size(), 1u);
  EXPECT_EQ(hinted.repairs[0].kind, kGprPanic);
  EXPECT_EQ(hinted.repairs[0].source, "<end>");
  EXPECT_EQ(hinted.repairs[0].replacement, "= <integer literal> <end>");
}

TEST(GprParser, SeveralErrorsGiveSeveralRecordsInOrder) {
  Outcome r = Parse("1 + ) 2 ; LET y 3 ; 4");
  ASSERT_EQ(r.repairs.size(), 2u);
  EXPECT_LT(r.repairs[0].start, r.repairs[1].start);
}

TEST(GprParser, LongSkippedSourceEndsInOneEllipsis) {
  Outcome r = Parse("1 + ) ) ) ) ) ) ) ) ) ) ) ) ) ) ) ) ) ) ) ) ) ) ) ) ) ) ) )");
  ASSERT_FALSE(r.repairs.empty());
  const std::string& src = r.repairs[0].source;
  ASSERT_GE(src.size(), 4u);
  EXPECT_EQ(src.substr(src.size() - 4), " ...");
  EXPECT_EQ(src.find(" ..."), src.size() - 4);
}

TEST(GprParser, SourceTextKeepsTabsAndBlanksOtherControls) {
  // A string literal is no terminal of the sample grammar, so it is the error
  // token and goes into the source text: its tab stays, its line feed and
  // carriage return read as blanks.
  Outcome r = Parse("1 + 'a\tb\nc\rd'");
  ASSERT_FALSE(r.repairs.empty());
  EXPECT_EQ(r.repairs[0].source.substr(0, 9), "'a\tb c d'");
}

TEST(GprParser, FeedEdgeCases) {
  CompileArena arena;
  ArenaUseLocalStorage(&arena);
  GprParser* p = GprCreate(&arena, &kCalcGrammar);
  EXPECT_EQ(GprFeed(p, -5), 0);  // dropped
  EXPECT_EQ(p->state, 0);
  EXPECT_EQ(p->top, 0);
  // A code at or above the terminal count is the error token.
  EXPECT_EQ(GprFeed(p, 15), kGprSyntaxError);
  EXPECT_EQ(GprFeed(p, 1000), kGprSyntaxError);
  EXPECT_EQ(p->state, 0);
  EXPECT_EQ(GprFeed(p, 2), 0);  // NUMBER shifted
  int32_t after_number = p->state;
  // ")" runs the default reductions, each reported, until no state takes it;
  // then the parser is back where it was after the NUMBER was shifted.
  std::vector<int32_t> reported;
  int32_t r;
  while ((r = GprFeed(p, 9)) > 0) reported.push_back(r);
  EXPECT_EQ(r, kGprSyntaxError);
  EXPECT_EQ(reported, (std::vector<int32_t>{9, 1, 22, 20}));
  EXPECT_EQ(p->top, 1);
  EXPECT_EQ(p->state, after_number);
  GprFree(p);
  ArenaRelease(&arena);
}

TEST(GprParser, ResultTextsCopyAtMostEightyBytes) {
  CompileArena arena;
  ArenaUseLocalStorage(&arena);
  GprRepair rec{};
  std::string longer(100, 'x');
  rec.source = longer.data();
  rec.replacement = const_cast<char*>("abc");
  GprRepair* ref = &rec;
  char out[100];
  EXPECT_EQ(GprResText1Ref(ref, out), 80);
  EXPECT_EQ(GprResText2Ref(ref, out), 3);
  EXPECT_EQ(std::string(out, 3), "abc");
  ArenaRelease(&arena);
}

TEST(GprNearKeyword, Cases) {
  struct Case {
    const char* text;
    const char* name;
    bool near;
  } cases[] = {
      {"SELECT", "SELECT", true},    {"slect", "SELECT", true},
      {"SELETC", "SELECT", true},    {"seelct", "SELECT", true},
      {"SELECTT", "SELECT", true},   {"SELEXT", "SELECT", true},
      {"SELXXT", "SELECT", false},   {"SEL", "SELECT", true},
      {"SELECTION", "SELECT", true}, {"SALECTION", "SELECT", false},
      {"ON", "OF", false},           {"IN", "IS", false},
      {"ab", "AB", false},           {"FROM", "<identifier>", false},
      {"FORM", "FROM", true},        {"FRM", "FROM", true},
      {"FROMX", "FROM", true},       {"XFROM", "FROM", true},
      {"XXFROM", "FROM", false},     {"ORDR", "ORDER", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GprNearKeyword(c.text, static_cast<int32_t>(std::strlen(c.text)), c.name,
                             static_cast<int32_t>(std::strlen(c.name))),
              c.near)
        << c.text << " / " << c.name;
  }
}

}  // namespace
