// Bad input for the SQL grammar and its actions: random token strings and
// random bytes end in syntax errors and a usable result, never a crash or a
// hang; statements cut at every length likewise.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "sql/front/sql_lexer.h"
#include "sql/front/tests/sql_grammar_support.h"

namespace {

// A finished parse closed a statement, reported why not, or read an empty
// statement.
bool Usable(const ParsedStatement& p) {
  bool empty = std::find(p.rules.begin(), p.rules.end(), 13) != p.rules.end();
  return p.root != -1 || !p.conditions.empty() || empty;
}

const char* const kWords[] = {
    "SELECT", "FROM",     "WHERE",    "NOT",    "AND",         "OR",     "(",        ")",
    ",",      "=",        "<",        "+",      "-",           "*",      "a",        "b",
    "t",      "1",        "'x'",      "IN",     "BETWEEN",     "LIKE",   "IS",       "NULL",
    "CASE",   "WHEN",     "THEN",     "ELSE",   "END",         "UNION",  "ALL",      "TABLE",
    "JOIN",   "ON",       "GROUP",    "BY",     "HAVING",      "ORDER",  "UPDATE",   "SET",
    "INSERT", "INTO",     "VALUES",   "DELETE", "CREATE",      "INDEX",  "CAST",     "AS",
    "CHAR",   "COALESCE", "NULLIF",   "EXISTS", ";",           ".",      "?",        ":h",
    "CURSOR", "COUNT",    "DISTINCT", "TRIM",   "TRANSACTION", "ESCAPE", "OVERLAPS", "DAY"};

TEST(SqlGrammarFuzz, RandomTokenStrings) {
  std::mt19937 rng(19);
  for (int i = 0; i < 1500; ++i) {
    std::string text;
    int n = static_cast<int>(rng() % 40);
    for (int k = 0; k < n; ++k) {
      text += kWords[rng() % (sizeof kWords / sizeof kWords[0])];
      text += ' ';
    }
    ParseOptions poison;
    poison.poison = true;
    ParsedStatement p = ParseSql(text, poison);
    // A finished parse either closed a statement or reported why not, and
    // the repairs' forced reductions built nothing from unwritten words.
    EXPECT_TRUE(Usable(p)) << text;
    EXPECT_TRUE(p.poisoned.empty()) << text << ": rule " << p.poisoned[0];
  }
}

// Every token the lexer returns, keywords of every statement family
// included, in random order: the same guarantees as above, with the
// statement starts weighted so that most strings go past the first token.
TEST(SqlGrammarFuzz, RandomTokensOfTheWholeVocabulary) {
  std::vector<std::string> words;
  for (int32_t code = kSqlTokFirstReserved; code < kSqlTokenCount; ++code) {
    int32_t n = 0;
    const char* name = SqlTokenName(code, &n);
    // Class names (IDENTIFIER, ...) and the separator are spelt below.
    if (n == 0 || code == kSqlTokSeparator || code >= kSqlTokNationalString) continue;
    words.emplace_back(name, static_cast<size_t>(n));
  }
  for (const char* w : {"a", "t.b", "7", "2.5", "1E3", "'s'", "X'0F'", "N'n'", ":h", "?", "\"x\""}) {
    words.emplace_back(w);
  }
  const char* const starts[] = {"SELECT", "CREATE", "ALTER", "DROP",   "GRANT",  "REVOKE",
                                "SET",    "UPDATE", "INSERT", "DELETE", "COMMIT", "ROLLBACK",
                                "START",  "CHECK",  "COMMENT", "RESTORE", "LEAVE", "DECLARE"};
  std::mt19937 rng(29);
  for (int i = 0; i < 3000; ++i) {
    std::string text = starts[rng() % (sizeof starts / sizeof starts[0])];
    int n = static_cast<int>(rng() % 30);
    for (int k = 0; k < n; ++k) text += " " + words[rng() % words.size()];
    ParseOptions poison;
    poison.poison = true;
    ParsedStatement p = ParseSql(text, poison);
    EXPECT_TRUE(Usable(p)) << text;
    EXPECT_TRUE(p.poisoned.empty()) << text << ": rule " << p.poisoned[0];
  }
}

TEST(SqlGrammarFuzz, RandomBytes) {
  std::mt19937 rng(23);
  for (int i = 0; i < 500; ++i) {
    std::string text(rng() % 80, '\0');
    for (char& c : text) c = static_cast<char>(rng() % 256);
    ParseSql(text);
  }
}

TEST(SqlGrammarFuzz, StatementsCutShort) {
  const std::string full =
      "SELECT a, COALESCE(b, 1) FROM t LEFT JOIN u ON t.a = u.a WHERE NOT (a IN (1, 2) OR b "
      "LIKE 'x%') GROUP BY a HAVING COUNT(*) > 1 ORDER BY 1 DESC";
  for (size_t n = 0; n <= full.size(); ++n) {
    ParsedStatement p = ParseSql(full.substr(0, n));
    EXPECT_TRUE(Usable(p)) << full.substr(0, n);
  }
}

}  // namespace
