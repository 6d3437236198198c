// The EXAMPLES of PostgreSQL's SQL command manual pages (postgresql-client-15,
// read from the installed pages by scripts/pg_examples.py at test time) against
// a committed table of reviewed outcomes keyed by page and example number:
// accepted with its kind, rejected at the first construct outside the
// dialect (the token the first syntax error names), or an action's error.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "sql/front/tests/sql_grammar_support.h"

namespace {

constexpr const char* kManDir = "/usr/share/postgresql/15/man/man7";

std::string RunCommand(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

bool SyntaxError(int32_t code) {
  return (code <= -12101 && code >= -12107) || code == -11113;
}

// The word of the statement at a character position.
std::string WordAt(const std::string& text, int32_t position) {
  if (position < 0 || position >= static_cast<int32_t>(text.size())) return "<end>";
  size_t start = static_cast<size_t>(position);
  size_t end = start;
  auto word = [](char c) { return isalnum(static_cast<unsigned char>(c)) || c == '_'; };
  if (word(text[start])) {
    while (end < text.size() && word(text[end])) ++end;
  } else {
    end = start + 1;
  }
  std::string w = text.substr(start, end - start);
  for (char& c : w) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return w;
}

// The outcome of a statement parsed with poison in every value-entry word no
// symbol wrote; a node built from such a word is a failure of its own.
std::string Outcome(const std::string& text) {
  ParseOptions poison;
  poison.poison = true;
  ParsedStatement p = ParseSql(text, poison);
  EXPECT_TRUE(p.poisoned.empty()) << text << ": rule " << p.poisoned[0];
  for (const RecordedCondition& c : p.conditions) {
    if (SyntaxError(c.code)) return "rejects " + WordAt(text, c.position);
  }
  if (!p.conditions.empty()) return "error " + std::to_string(p.conditions[0].code);
  return "ok " + std::to_string(p.kind);
}

TEST(SqlGrammarPgCorpus, ExamplesMatchTheReviewedOutcomes) {
  std::ifstream probe(std::string(kManDir) + "/SELECT.7.gz");
  if (!probe) GTEST_SKIP() << "postgresql-client-15's manual pages are not installed";
  std::string listing = RunCommand("python3 " HARBOUND_TEST_DATA "/../scripts/pg_examples.py " +
                                   std::string(kManDir));
  ASSERT_FALSE(listing.empty());
  std::map<std::string, std::string> reviewed;
  std::ifstream table(HARBOUND_TEST_DATA "/pg_examples_outcomes.txt");
  std::string line;
  while (std::getline(table, line)) {
    if (line.empty() || line[0] == '#') continue;
    size_t tab2 = line.find('\t', line.find('\t') + 1);
    size_t note = line.find('\t', tab2 + 1);  // a review note after the outcome
    reviewed[line.substr(0, tab2)] =
        line.substr(tab2 + 1, note == std::string::npos ? std::string::npos : note - tab2 - 1);
  }
  std::istringstream in(listing);
  std::ostringstream actual;  // the table this run gives, for a review
  int checked = 0;
  int accepted = 0;
  while (std::getline(in, line)) {
    size_t tab1 = line.find('\t');
    size_t tab2 = line.find('\t', tab1 + 1);
    if (tab1 == std::string::npos || tab2 == std::string::npos) continue;
    std::string key = line.substr(0, tab2);
    std::string outcome = Outcome(line.substr(tab2 + 1));
    actual << key << '\t' << outcome << '\n';
    ++checked;
    if (outcome.compare(0, 3, "ok ") == 0) ++accepted;
    auto it = reviewed.find(key);
    if (it == reviewed.end()) {
      ADD_FAILURE() << key << " has no reviewed outcome (" << outcome << ")";
    } else {
      EXPECT_EQ(outcome, it->second) << key;
    }
  }
  EXPECT_EQ(static_cast<size_t>(checked), reviewed.size());
  if (const char* out = std::getenv("HB_PG_OUTCOMES")) std::ofstream(out) << actual.str();
  RecordProperty("accepted", accepted);
  RecordProperty("checked", checked);
}

}  // namespace
