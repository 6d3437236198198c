// The SQL parser driver on a small grammar over the SQL token codes: the
// repairs and their messages, stack overflow, the value and semantic records,
// and random token strings parsed alike by the driver and by the generic
// engine on the same grammar.
#include "sql/front/sql_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "sql/front/gpr_parser.h"
#include "sql/front/sql_token_table.h"
#include "sql/front/tests/compile_test_support.h"
#include "sql_nonassoc_tables.h"
#include "sql_small_grammar.h"
#include "sql_small_tables.h"

namespace {

std::vector<int32_t> g_rules;
std::vector<std::string> g_texts;  // text of the value entry at depth + 1, per action

void Record(SqlCompileCtx* ctx, int32_t rule) {
  g_rules.push_back(rule);
  SqlParseArea* a = SqlParseAreaOf(ctx);
  g_texts.push_back(SqlValueText(ctx, a->value[a->depth + 1]));
}

struct Parsed {
  std::vector<int32_t> rules;
  std::vector<RecordedCondition> conditions;
  int32_t severity;
};

Parsed ParseText(const std::string& text, const SqlGrammarTables& tables = kSqlSmallTables) {
  FakeKernel kernel;
  TestContext tc;
  std::string wide;
  for (unsigned char c : text) wide += std::string{'\0', '\0', static_cast<char>(c)};
  tc.ctx.single_byte_text = text.data();
  tc.ctx.text = reinterpret_cast<const uint8_t*>(wide.data());
  tc.ctx.text_length = static_cast<int32_t>(text.size());
  g_rules.clear();
  g_texts.clear();
  SqlParse(&tc.ctx, tables, Record);
  return {g_rules, FakeKernel::conditions, tc.ctx.highest_severity};
}

struct Want {
  int32_t code;
  int32_t position;
  std::string text;
};

TEST(SqlParser, RepairsAndTheirMessages) {
  struct Case {
    std::string text;
    std::vector<Want> conditions;
  } cases[] = {
      {"SELECT a, 1 + 2 * b FROM t, u WHERE NOT a = 1 OR b < 'x'", {}},
      {"DELETE FROM t WHERE a = (b", {{-12101, 26, "N\t')' "}}},
      {"SELECT a FORM t WHERE b = 1", {{-12103, 9, "N\tIDENTIFIER \xffN\t'FROM' "}}},
      {"SELECT a @ FROM t", {{-12102, 9, "N\tUNKNOWN_TOKEN "}}},
      {"SELECT ) ) ) ) a FROM t", {{-12102, 7, "N\t')' ')' ')' ... "}, {-12107, 15, ""}}},
      {"SELECT a FROM t x", {{-12101, 16, "N\tEND_OF_QUERY "}}},
      {"SELECT a FROM t; SELECT", {}},  // the separator ends the statement
      {"", {{-12101, 0, "N\t'DELETE' 'FROM' IDENTIFIER "}}},
      // ")" is skipped; the continuation from "+" reduces "a + ID" before
      // the ")" that lets "=" in, and the parse goes on to the end.
      {"DELETE FROM a WHERE ( a + ) =",
       {{-12103, 26, "N\t')' \xffN\tIDENTIFIER ')' "}, {-12101, 29, "N\tIDENTIFIER "}}},
  };
  for (const Case& c : cases) {
    Parsed p = ParseText(c.text);
    ASSERT_EQ(p.conditions.size(), c.conditions.size()) << c.text;
    for (size_t i = 0; i < c.conditions.size(); ++i) {
      EXPECT_EQ(p.conditions[i].code, c.conditions[i].code) << c.text;
      EXPECT_EQ(p.conditions[i].position, c.conditions[i].position) << c.text;
      EXPECT_EQ(p.conditions[i].text, c.conditions[i].text) << c.text;
      EXPECT_EQ(p.conditions[i].severity, c.conditions[i].code == -12107 ? 1 : 3) << c.text;
    }
  }
}

// The second "<" of "a < b < c" meets an error entry of the tables, though
// "<" is taken again once "a < b" is reduced. A repair made of that reduction
// alone would let the error pass unreported: the continuation search inserts
// a token before it lets the error token in.
TEST(SqlParser, AnErrorEntryIsNotRepairedByReductionsAlone) {
  Parsed p = ParseText("SELECT ( a < b < c )", kSqlNonassocTables);
  ASSERT_EQ(p.conditions.size(), 2u);
  EXPECT_EQ(p.conditions[0].code, -12101);
  EXPECT_EQ(p.conditions[0].position, 15);
  EXPECT_EQ(p.conditions[0].text, "N\t')' ");
  EXPECT_EQ(p.conditions[1].code, -12101);  // the end is inserted before the last ")"
  EXPECT_EQ(p.conditions[1].position, 19);
  EXPECT_EQ(p.severity, 3);
}

TEST(SqlParser, DeepNestingEndsWithAFullStack) {
  for (int levels : {300, 100000}) {
    std::string text =
        "SELECT " + std::string(levels, '(') + "a" + std::string(levels, ')') + " FROM t";
    Parsed p = ParseText(text);
    ASSERT_EQ(p.conditions.size(), 1u) << levels;
    EXPECT_EQ(p.conditions[0].code, -11113);
    EXPECT_EQ(p.conditions[0].text, "");
    EXPECT_EQ(p.severity, 3);
  }
  // 200 levels fit.
  Parsed fits =
      ParseText("SELECT " + std::string(200, '(') + "a" + std::string(200, ')') + " FROM t");
  EXPECT_TRUE(fits.conditions.empty());
}

TEST(SqlParser, ShiftedTokensCarryTheirTexts) {
  Parsed p = ParseText("SELECT abc, 'x y' FROM t");
  // Rule 30 (IDENTIFIER) and 32 (STRING_LITERAL) see their token at depth + 1.
  ASSERT_GE(g_rules.size(), 4u);
  EXPECT_EQ(g_rules[0], 30);
  EXPECT_EQ(g_texts[0], "ABC");
  auto at = std::find(g_rules.begin(), g_rules.end(), 32) - g_rules.begin();
  EXPECT_EQ(g_texts[at], "x y");
}

TEST(SqlParser, TokenTextsSpanSeveralBlocks) {
  // Sixty names of 120 characters and a literal of 6000 fill more than one
  // block of copied texts; each keeps its own text.
  std::string text = "SELECT ";
  for (int i = 0; i < 60; ++i) text += std::string(120, static_cast<char>('a' + i % 26)) + ", ";
  text += "'" + std::string(6000, 'q') + "' FROM t";
  Parsed p = ParseText(text);
  EXPECT_TRUE(p.conditions.empty());
  size_t names = 0;
  for (size_t i = 0; i < g_rules.size(); ++i) {
    if (g_rules[i] == 30 && names < 60) {
      EXPECT_EQ(g_texts[i], std::string(120, static_cast<char>('A' + names % 26))) << names;
      ++names;
    }
    if (g_rules[i] == 32) {
      EXPECT_EQ(g_texts[i], std::string(6000, 'q'));
    }
  }
  EXPECT_EQ(names, 60u);
}

TEST(SqlParser, SkippedRulesAreNotCalled) {
  Parsed all = ParseText("SELECT abc, 'x y' FROM t WHERE a = 1");
  std::vector<bool> flags(static_cast<size_t>(kSqlSmallTables.rule_count), false);
  flags[30] = true;
  std::unique_ptr<bool[]> skip(new bool[flags.size()]);
  for (size_t i = 0; i < flags.size(); ++i) skip[i] = flags[i];
  FakeKernel kernel;
  TestContext tc;
  std::string text = "SELECT abc, 'x y' FROM t WHERE a = 1";
  std::string wide;
  for (unsigned char c : text) wide += std::string{'\0', '\0', static_cast<char>(c)};
  tc.ctx.single_byte_text = text.data();
  tc.ctx.text = reinterpret_cast<const uint8_t*>(wide.data());
  tc.ctx.text_length = static_cast<int32_t>(text.size());
  g_rules.clear();
  SqlParse(&tc.ctx, kSqlSmallTables, Record, skip.get());
  std::vector<int32_t> expected;
  for (int32_t rule : all.rules) {
    if (rule != 30) expected.push_back(rule);
  }
  EXPECT_NE(expected.size(), all.rules.size());
  EXPECT_EQ(g_rules, expected);
}

int32_t g_moved_text = -1;
void MoveAtTable(SqlCompileCtx* ctx, int32_t rule) {
  if (rule != 41) return;
  // tables : IDENTIFIER, length 1: the identifier sits above the top.
  SqlParseArea* a = SqlParseAreaOf(ctx);
  SqlMoveValueEntry(ctx);
  g_moved_text = a->semantic[a->depth][SEM_TEXT];
  EXPECT_EQ(a->value[a->depth + 1].code, 2);
  EXPECT_EQ(a->semantic[a->depth][SEM_POSITION], 14);
  EXPECT_STREQ(SqlValueText(ctx, a->value[a->depth + 1]), "TBL");
}

TEST(SqlParser, ValueEntryMove) {
  FakeKernel kernel;
  TestContext tc;
  std::string text = "SELECT * FROM tbl";
  std::string wide(text.size() * 3, '\0');
  tc.ctx.single_byte_text = text.data();
  tc.ctx.text = reinterpret_cast<const uint8_t*>(wide.data());
  tc.ctx.text_length = static_cast<int32_t>(text.size());
  g_moved_text = -1;
  SqlParse(&tc.ctx, kSqlSmallTables, MoveAtTable);
  EXPECT_GT(g_moved_text, 0);
  EXPECT_TRUE(FakeKernel::conditions.empty());
}

// Codes at or above the grammar's terminal count map to 0 and are reported
// as unknown, whatever the work area held before the parse.
TEST(SqlParser, SymbolMapCoversTheGrammarsTerminals) {
  const SqlGrammarTables small = kSqlSmallTables;
  SqlGrammarTables narrow = small;
  narrow.terminal_count = 100;  // "(" (100) and above have no terminal
  for (const SqlGrammarTables* g : {&small, static_cast<const SqlGrammarTables*>(&narrow)}) {
    FakeKernel kernel;
    TestContext tc;
    std::vector<uint64_t> area(kSqlParseWorkBytes / 8 + 1, 0x5555555555555555u);
    tc.ctx.work_area = area.data();
    tc.ctx.work_area_bytes = kSqlParseWorkBytes;
    std::string text = "SELECT a ( FROM t";
    std::string wide;
    for (unsigned char c : text) wide += std::string{'\0', '\0', static_cast<char>(c)};
    tc.ctx.single_byte_text = text.data();
    tc.ctx.text = reinterpret_cast<const uint8_t*>(wide.data());
    tc.ctx.text_length = static_cast<int32_t>(text.size());
    SqlParse(&tc.ctx, *g, [](SqlCompileCtx*, int32_t) {});
    const SqlParseArea* a = SqlParseAreaOf(&tc.ctx);
    for (int32_t c = 0; c < kSqlTokenCount; ++c) {
      ASSERT_EQ(c < a->symbol_count ? a->symbol_map[c] : 0, c < g->terminal_count ? c : 0) << c;
    }
    ASSERT_FALSE(FakeKernel::conditions.empty());
    EXPECT_EQ(FakeKernel::conditions[0].code, -12102);
    EXPECT_EQ(FakeKernel::conditions[0].position, 9);
    EXPECT_EQ(FakeKernel::conditions[0].text, g == &narrow ? "N\tUNKNOWN_TOKEN " : "N\t'(' ");
  }
}

// ---- the driver against the generic engine on random token strings

// Token codes of the small grammar and a text for each.
struct Code {
  int32_t code;
  const char* text;
};
constexpr Code kCodes[] = {{2, "a"},     {3, "'s'"},  {5, "7"},   {11, "AND"},    {31, "DELETE"},
                           {40, "FROM"}, {62, "NOT"}, {66, "OR"}, {78, "SELECT"}, {96, "WHERE"},
                           {99, ","},    {100, "("},  {101, ")"}, {102, "="},     {103, "*"},
                           {107, "<"},   {109, "+"},  {110, "-"}, {111, "/"}};

const char* TextOf(int32_t code) {
  for (const Code& c : kCodes) {
    if (c.code == code) return c.text;
  }
  return "?";
}

void Expr(std::mt19937& rng, int depth, std::vector<int32_t>& out) {
  switch (depth > 3 ? rng() % 3 : rng() % 6) {
    case 0:
      out.push_back(2);
      break;
    case 1:
      out.push_back(rng() % 2 ? 5 : 3);
      break;
    case 2:
      out.push_back(110);
      out.push_back(2);
      break;
    case 3:
      out.push_back(100);
      Expr(rng, depth + 1, out);
      out.push_back(101);
      break;
    default: {
      Expr(rng, depth + 1, out);
      const int32_t ops[] = {109, 110, 103, 111};
      out.push_back(ops[rng() % 4]);
      Expr(rng, depth + 1, out);
    }
  }
}

void Condition(std::mt19937& rng, int depth, std::vector<int32_t>& out) {
  switch (depth > 2 ? 0 : rng() % 4) {
    case 0:
    case 1:
      Expr(rng, 2, out);
      out.push_back(rng() % 2 ? 102 : 107);
      Expr(rng, 2, out);
      break;
    case 2:
      out.push_back(62);
      Condition(rng, depth + 1, out);
      break;
    default:
      Condition(rng, depth + 1, out);
      out.push_back(rng() % 2 ? 11 : 66);
      Condition(rng, depth + 1, out);
  }
}

std::vector<int32_t> Sentence(std::mt19937& rng) {
  std::vector<int32_t> out;
  if (rng() % 4 == 0) {
    out = {31, 40, 2};
  } else {
    out.push_back(78);
    if (rng() % 3 == 0) {
      out.push_back(103);
    } else {
      Expr(rng, 0, out);
      while (rng() % 3 == 0) {
        out.push_back(99);
        Expr(rng, 1, out);
      }
    }
    out.insert(out.end(), {40, 2});
    while (rng() % 3 == 0) out.insert(out.end(), {99, 2});
  }
  if (rng() % 2) {
    out.push_back(96);
    Condition(rng, 0, out);
  }
  // Mutations: insert, delete or replace a token, or a whole random string.
  int32_t any = kCodes[rng() % (sizeof kCodes / sizeof kCodes[0])].code;
  size_t at = rng() % (out.size() + 1);
  switch (rng() % 5) {
    case 0:
      out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), any);
      break;
    case 1:
      if (at < out.size()) out.erase(out.begin() + static_cast<std::ptrdiff_t>(at));
      break;
    case 2:
      if (at < out.size()) out[at] = any;
      break;
    case 3:
      for (int32_t& t : out) {
        if (rng() % 4 == 0) t = kCodes[rng() % (sizeof kCodes / sizeof kCodes[0])].code;
      }
      break;
    default:
      break;
  }
  return out;
}

struct GenericRun {
  bool accepted = false;
  size_t error_at = 0;
  std::vector<int32_t> reductions;
};

GenericRun Generic(const std::vector<int32_t>& tokens) {
  GenericRun run;
  CompileArena arena;
  ArenaUseLocalStorage(&arena);
  GprParser* p = GprCreate(&arena, &kSqlSmallGrammar);
  for (size_t i = 0; i <= tokens.size(); ++i) {
    int32_t tok = i < tokens.size() ? tokens[i] : kGlxEndToken;
    int32_t r;
    while ((r = GprFeed(p, tok)) > 0) run.reductions.push_back(r);
    if (r < 0) {
      run.error_at = i;
      break;
    }
    if (tok == kGlxEndToken) run.accepted = p->state == 0;
  }
  GprFree(p);
  ArenaRelease(&arena);
  return run;
}

std::vector<int32_t> g_before_error;
// Reductions before the first error; continuation tokens are inserted (with
// their actions) before the repair is reported.
void RecordUntilError(SqlCompileCtx* ctx, int32_t rule) {
  if (FakeKernel::conditions.empty() && SqlParseAreaOf(ctx)->recovery_state == 0) {
    g_before_error.push_back(rule);
  }
}

TEST(SqlParser, DriverParsesRandomTokenStringsAsTheGenericEngine) {
  std::mt19937 rng(7);
  int accepted = 0, rejected = 0;
  for (int round = 0; round < 2000; ++round) {
    std::vector<int32_t> tokens = Sentence(rng);
    std::string text;
    std::vector<int32_t> positions;
    for (int32_t t : tokens) {
      positions.push_back(static_cast<int32_t>(text.size()));
      text += TextOf(t);
      text += ' ';
    }
    positions.push_back(static_cast<int32_t>(text.size()));
    GenericRun generic = Generic(tokens);
    FakeKernel kernel;
    TestContext tc;
    std::string wide;
    for (unsigned char c : text) wide += std::string{'\0', '\0', static_cast<char>(c)};
    tc.ctx.single_byte_text = text.data();
    tc.ctx.text = reinterpret_cast<const uint8_t*>(wide.data());
    tc.ctx.text_length = static_cast<int32_t>(text.size());
    g_before_error.clear();
    SqlParse(&tc.ctx, kSqlSmallTables, RecordUntilError);
    if (generic.accepted) {
      ASSERT_TRUE(FakeKernel::conditions.empty()) << "round " << round << ": " << text;
      ASSERT_EQ(g_before_error, generic.reductions) << "round " << round << ": " << text;
      ++accepted;
    } else {
      ASSERT_FALSE(FakeKernel::conditions.empty()) << "round " << round << ": " << text;
      int32_t position = FakeKernel::conditions[0].position;
      ASSERT_EQ(position, positions[generic.error_at]) << "round " << round << ": " << text;
      ASSERT_LE(g_before_error.size(), generic.reductions.size());
      EXPECT_TRUE(
          std::equal(g_before_error.begin(), g_before_error.end(), generic.reductions.begin()))
          << "round " << round;
      ++rejected;
    }
  }
  EXPECT_GT(accepted, 500);
  EXPECT_GT(rejected, 500);
}

// Any token string, the end included, is parsed to its end: recovery always
// ends and never deletes the end token. Followed one action at a time, the
// continuations never run into an error, so phrase recovery never gives up.
TEST(SqlParser, RecoveryEndsOnArbitraryTokens) {
  std::mt19937 rng(9);
  for (int round = 0; round < 1000; ++round) {
    std::string text;
    int n = static_cast<int>(rng() % 40);
    for (int i = 0; i < n; ++i) {
      if (rng() % 8 == 0) {
        text += static_cast<char>(rng() % 256);
      } else {
        text += kCodes[rng() % (sizeof kCodes / sizeof kCodes[0])].text;
        text += ' ';
      }
    }
    Parsed p = ParseText(text);
    // Every condition lies within the text.
    for (const RecordedCondition& c : p.conditions) {
      ASSERT_GE(c.position, 0);
      ASSERT_LE(c.position, static_cast<int32_t>(text.size()));
      ASSERT_NE(c.code, -12106) << text;
    }
  }
}

// The single-token repair against a model of its costs on the generic engine
// over the same grammar: expected terminals, trial parses of five tokens,
// insertion before replacement before deletion, ties to the earlier
// candidate, nothing above 10. The first condition of every statement whose
// first error the model mends must be that repair, at the error token.
struct RepairModel {
  std::vector<int32_t> tokens;  // ends with the end token

  // Tokens of `seq` accepted after the first `prefix` tokens, at most
  // `limit`; accepting the end counts as five.
  int32_t Accepted(size_t prefix, const std::vector<int32_t>& seq, int32_t limit) const {
    CompileArena arena;
    ArenaUseLocalStorage(&arena);
    GprParser* p = GprCreate(&arena, &kSqlSmallGrammar);
    auto feed = [&](int32_t t) {
      int32_t r;
      while ((r = GprFeed(p, t)) > 0) {
      }
      return r;
    };
    int32_t n = 0;
    bool prefix_ok = true;
    for (size_t i = 0; i < prefix && prefix_ok; ++i) prefix_ok = feed(tokens[i]) == 0;
    for (size_t i = 0; prefix_ok && i < seq.size() && n < limit; ++i) {
      if (feed(seq[i]) != 0) break;
      n = seq[i] == kGlxEndToken ? 5 : n + 1;
    }
    GprFree(p);
    ArenaRelease(&arena);
    return prefix_ok ? n : -1;
  }
};

TEST(SqlParser, SingleTokenRepairsAgainstAModel) {
  std::mt19937 rng(11);
  int32_t modelled = 0;
  for (int round = 0; round < 1500; ++round) {
    std::vector<int32_t> tokens = Sentence(rng);
    std::string text;
    std::vector<int32_t> positions;
    for (int32_t t : tokens) {
      positions.push_back(static_cast<int32_t>(text.size()));
      text += TextOf(t);
      text += ' ';
    }
    positions.push_back(static_cast<int32_t>(text.size()));
    RepairModel m{tokens};
    m.tokens.push_back(kGlxEndToken);
    size_t e = 0;
    while (e < m.tokens.size() && m.Accepted(e, {m.tokens[e]}, 1) >= 1) ++e;
    if (e == m.tokens.size()) continue;
    auto queue = [&](size_t i) { return e + i < m.tokens.size() ? m.tokens[e + i] : kGlxEndToken; };
    auto trial = [&](int32_t candidate, size_t from) {
      std::vector<int32_t> seq{candidate};
      for (size_t i = from; i < from + 5; ++i) seq.push_back(i < 6 ? queue(i) : kGlxEndToken);
      return (5 - m.Accepted(e, seq, 5)) * 5;
    };
    auto insertion = [](int32_t t) { return t >= 9 && t <= 98 ? 5 : 1; };
    int32_t best = 25, choice = 0, chosen = 0;
    std::vector<bool> expected(kSqlTokenCount);
    for (int32_t t = 1; t < kSqlTokenCount; ++t) expected[t] = m.Accepted(e, {t}, 1) >= 1;
    for (int32_t t = 1; t < kSqlTokenCount; ++t) {
      if (!expected[t] || insertion(t) >= best) continue;
      int32_t cost = trial(t, 0) + insertion(t);
      if (cost < best) best = cost, choice = kSqlErrInserted, chosen = t;
    }
    for (int32_t t = 1; t < kSqlTokenCount; ++t) {
      int32_t base = (1 + insertion(t)) / 2 + 1;
      if (!expected[t] || base >= best) continue;
      int32_t cost = trial(t, 1) + base;
      if (cost < best) best = cost, choice = kSqlErrReplaced, chosen = t;
    }
    if (queue(0) != kGlxEndToken && 1 < best) {
      int32_t cost = trial(queue(1), 2) + 1;
      if (cost < best) best = cost, choice = kSqlErrDeleted;
    }
    if (choice == 0 || best > 10) continue;
    auto name = [](int32_t t) {
      return std::string(t == kGlxEndToken ? "END_OF_QUERY" : SqlTokenEntry(t).display) + " ";
    };
    std::string want = choice == kSqlErrInserted ? "N\t" + name(chosen)
                       : choice == kSqlErrDeleted
                           ? "N\t" + name(queue(0))
                           : "N\t" + name(queue(0)) + "\xffN\t" + name(chosen);
    Parsed p = ParseText(text);
    ASSERT_FALSE(p.conditions.empty()) << text;
    EXPECT_EQ(p.conditions[0].code, choice) << text;
    EXPECT_EQ(p.conditions[0].position, positions[e]) << text;
    EXPECT_EQ(p.conditions[0].text, want) << text;
    ++modelled;
  }
  EXPECT_GT(modelled, 300);
}

}  // namespace
