// The table generators: textbook state counts, byte-identical output on a
// second run, readable failure reports for unresolved conflicts and keyword
// clashes, and the SQL parser tables decoded back into the automaton they
// were generated from.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "calc_narrow_sql_tables.h"
#include "calc_sql_tables.h"
#include "sql/front/sql_grammar_tables.h"

namespace {

const std::string kData = HARBOUND_TEST_DATA;

struct Result {
  int status;
  std::string output;
};

Result RunTool(const std::string& command) {
  Result r{-1, ""};
  FILE* f = popen((command + " 2>&1").c_str(), "r");
  if (f == nullptr) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) r.output.append(buf, n);
  int st = pclose(f);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "/hb_gen_" + std::to_string(getpid()) + "_" + name;
}

int StateCount(const std::string& dump_path) {
  std::istringstream in(ReadFile(dump_path));
  std::string word;
  int n = -1;
  while (in >> word) {
    if (word == "states") {
      in >> n;
      break;
    }
  }
  return n;
}

TEST(LalrGenerator, TextbookStateCounts) {
  // Our automaton has one state more than the textbook collections: the state
  // entered by shifting the end of input, where the book accepts on "$".
  struct Case {
    const char* grammar;
    int published;
  } cases[] = {{"dragon_expr.grammar", 12}, {"dragon_lvalue.grammar", 10}};
  for (const Case& c : cases) {
    std::string dump = TempPath(std::string(c.grammar) + ".txt");
    Result r = RunTool(std::string(HB_LALR_GEN) + " " + kData + "/" + c.grammar + " --automaton " +
                       dump + " --generic " + TempPath("out.cc"));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(StateCount(dump) - 1, c.published) << c.grammar;
  }
}

TEST(LalrGenerator, SecondRunGivesIdenticalBytes) {
  std::string args =
      std::string(" ") + kData + "/calc.grammar --name kCalcGrammar --sql-name kCalcSqlTables";
  for (int run = 0; run < 2; ++run) {
    std::string suffix = std::to_string(run);
    Result r =
        RunTool(std::string(HB_LALR_GEN) + args + " --generic " + TempPath("g" + suffix) +
                " --sql " + TempPath("s" + suffix) + " --automaton " + TempPath("a" + suffix));
    ASSERT_EQ(r.status, 0) << r.output;
  }
  for (const char* kind : {"g", "s", "a"}) {
    std::string first = ReadFile(TempPath(std::string(kind) + "0"));
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(first, ReadFile(TempPath(std::string(kind) + "1"))) << kind;
  }
  // And the same bytes as the tables built into this test.
  EXPECT_EQ(ReadFile(TempPath("g0")), ReadFile(std::string(HB_GENERATED_DIR) + "/calc_grammar.cc"));
  EXPECT_EQ(ReadFile(TempPath("s0")),
            ReadFile(std::string(HB_GENERATED_DIR) + "/calc_sql_tables.cc"));
  Result lex1 = RunTool(std::string(HB_LEX_GEN) + " " + kData +
                        "/calc.lex --name kCalcLexer --out " + TempPath("l0"));
  ASSERT_EQ(lex1.status, 0) << lex1.output;
  EXPECT_EQ(ReadFile(TempPath("l0")), ReadFile(std::string(HB_GENERATED_DIR) + "/calc_lexer.cc"));
}

TEST(LalrGenerator, FailuresAreReportedReadably) {
  struct Case {
    std::string command;
    std::vector<std::string> phrases;
  } cases[] = {
      {std::string(HB_LALR_GEN) + " " + kData + "/shift_reduce.grammar --generic " +
           TempPath("x.cc"),
       {"shift/reduce conflict in state", "on \"+\"", "E : E \"+\" E .", "(= 1, line 5)",
        "1 conflict(s) not resolved by precedence; no tables written"}},
      {std::string(HB_LALR_GEN) + " " + kData + "/reduce_reduce.grammar --generic " +
           TempPath("x.cc"),
       {"reduce/reduce conflict in state", "on \"<end>\"", "reduce by A : \"id\"   (= 3",
        "reduce by B : \"id\"   (= 4"}},
      {std::string(HB_LALR_GEN) + " " + kData + "/reduce_reduce_behind_shift.grammar --generic " +
           TempPath("x.cc"),
       {"reduce/reduce conflict in state", "on \"t\"", "reduce by P : \"a\"   (= 4",
        "reduce by Q : \"a\"   (= 5", "1 conflict(s) not resolved by precedence"}},
      {std::string(HB_LALR_GEN) + " " + kData + "/nonassoc.grammar --generic " + TempPath("x.cc"),
       {"needs an error entry beside its reductions (%nonassoc)"}},
      {std::string(HB_LEX_GEN) + " " + kData + "/keyword_clash.lex --out " + TempPath("x.cc"),
       {"keywords 'ONE' and 'TWO' share hash slot 0 of 1", "no tables written"}},
  };
  for (const Case& c : cases) {
    Result r = RunTool(c.command);
    EXPECT_EQ(r.status, 1) << c.command;
    for (const std::string& phrase : c.phrases) {
      EXPECT_NE(r.output.find(phrase), std::string::npos) << "'" << phrase << "' missing in:\n"
                                                          << r.output;
    }
  }
  // The non-associative grammar is fine for the SQL tables, which hold errors.
  Result sql = RunTool(std::string(HB_LALR_GEN) + " " + kData + "/nonassoc.grammar --sql " +
                       TempPath("n.cc"));
  EXPECT_EQ(sql.status, 0) << sql.output;
}

// The automaton as the generator describes it in plain text.
struct Dump {
  int terminals = 0, states = 0, accept = -1;
  std::map<int, int> rule_number, rule_lhs, rule_length;     // by rule index
  std::vector<std::map<int, std::pair<char, int>>> actions;  // state -> terminal -> (s|r, target)
  std::vector<std::map<int, int>> gotos;
  std::vector<int> cont, alt;
  std::map<int, int> folds;
  std::vector<int> sync, nosearch;
};

Dump ReadDump(const std::string& path) {
  Dump d;
  std::istringstream in(ReadFile(path));
  std::string w;
  int state = -1;
  while (in >> w) {
    int a, b, c, e;
    if (w == "terminals")
      in >> d.terminals;
    else if (w == "states") {
      in >> d.states;
      d.actions.resize(d.states);
      d.gotos.resize(d.states);
      d.cont.resize(d.states);
      d.alt.resize(d.states);
    } else if (w == "accept")
      in >> d.accept;
    else if (w == "nonterminals")
      in >> a;
    else if (w == "rules")
      in >> a;
    else if (w == "rule") {
      in >> a >> b >> c >> e;
      d.rule_number[a] = b;
      d.rule_lhs[a] = c;
      d.rule_length[a] = e;
    } else if (w == "state") {
      in >> state >> d.cont[state >= 0 ? state : 0];
      in >> d.alt[state];
    } else if (w == "shift" || w == "reduce") {
      in >> a >> b;
      d.actions[state][a] = {w[0], b};
    } else if (w == "goto") {
      in >> a >> b;
      d.gotos[state][a] = b;
    } else if (w == "fold") {
      in >> a >> b;
      d.folds[a] = b;
    } else if (w == "sync") {
      in >> a;
      d.sync.push_back(a);
    } else if (w == "nosearch") {
      in >> a;
      d.nosearch.push_back(a);
    }
  }
  return d;
}

int32_t Encode(int kind, int target) {
  return kind * kSqlActionDivisor + target;
}

void CheckDecodes(const SqlGrammarTables& g, Dump d) {
  ASSERT_GT(d.states, 0);
  EXPECT_EQ(g.state_count, d.states + 1);
  EXPECT_EQ(g.terminal_count, d.terminals);
  for (auto& [r, number] : d.rule_number) {
    if (r == 0) continue;
    EXPECT_EQ(g.rule_length[number], d.rule_length[r]);
    EXPECT_EQ(g.lhs_column[number], d.rule_lhs[r]);
  }
  int folded_entries = 0;
  for (int s = 0; s < d.states; ++s) {
    if (d.folds.count(s) || s == d.accept) continue;  // never entered
    int sql_state = s + 1;
    for (int t = 0; t < d.terminals; ++t) {
      int32_t want = 0;
      auto it = d.actions[s].find(t);
      if (it != d.actions[s].end()) {
        auto [kind, target] = it->second;
        if (kind == 'r') {
          want = Encode(kSqlReduce, d.rule_number[target]);
        } else if (target == d.accept) {
          want = Encode(kSqlAccept, 0);
        } else if (d.folds.count(target)) {
          want = Encode(kSqlShiftReduce, d.folds[target]);
          ++folded_entries;
        } else {
          want = Encode(kSqlShift, target + 1);
        }
      }
      EXPECT_EQ(SqlLookupAction(g, sql_state, t), want) << "state " << s << " terminal " << t;
    }
    for (auto& [rule, number] : d.rule_number) {
      if (rule == 0) continue;
      auto it = d.gotos[s].find(d.rule_lhs[rule]);
      if (it == d.gotos[s].end()) continue;
      int32_t want = d.folds.count(it->second) ? Encode(kSqlReduce, d.folds[it->second])
                                               : Encode(kSqlShift, it->second + 1);
      EXPECT_EQ(SqlLookupGoto(g, sql_state, number), want) << "state " << s << " rule " << number;
    }
    // Continuations are terminals the state acts on.
    EXPECT_EQ(g.continuation[sql_state], d.cont[s]);
    EXPECT_EQ(g.alternative[sql_state], d.alt[s]);
    EXPECT_NE(SqlLookupAction(g, sql_state, g.continuation[sql_state]), 0) << "state " << s;
  }
  EXPECT_GT(folded_entries, 0);
  for (int t = 0; t < d.terminals; ++t) {
    EXPECT_EQ(SqlTerminalIn(g.sync, t), std::count(d.sync.begin(), d.sync.end(), t) > 0);
    EXPECT_EQ(SqlTerminalIn(g.never_search, t),
              std::count(d.nosearch.begin(), d.nosearch.end(), t) > 0);
  }
}

TEST(LalrGenerator, SqlTablesDecodeBackIntoTheAutomaton) {
  Dump d = ReadDump(std::string(HB_GENERATED_DIR) + "/calc_automaton.txt");
  CheckDecodes(kCalcSqlTables, d);
  // With five row bits for fifteen terminals, bits are shared and the action
  // entries of shared bits hold explicit errors.
  CheckDecodes(kCalcNarrowSqlTables, d);
  int max_bit = 0;
  for (int t = 0; t < kCalcNarrowSqlTables.terminal_count; ++t) {
    max_bit = std::max<int>(max_bit, kCalcNarrowSqlTables.term_bit[t]);
  }
  EXPECT_LT(max_bit, 5);
  EXPECT_EQ(d.sync, (std::vector<int>{11}));
  EXPECT_EQ(d.nosearch, (std::vector<int>{9}));
}

// Deep parentheses or definitions in a pattern stop the lexer generator with
// the line of the pattern, well before its recursion could run out of stack;
// the bound on parentheses counts those of the definitions a pattern uses.
TEST(LexGenerator, ParenthesesAndDefinitionsNestOnlySoDeep) {
  auto nested = [](int levels, const std::string& inner) {
    return std::string(levels, '(') + inner + std::string(levels, ')');
  };
  struct Case {
    std::string lexer;
    int status;
    std::string phrase;
  };
  std::vector<Case> cases = {
      {"token 0 \"<error>\"\ntoken 2 \"x\" = " + nested(100000, "a") + "\n", 1,
       ".lex:2: parentheses nest deeper than 200"},
      {"# deepest allowed\ntoken 2 \"x\" = " + nested(200, "a") + "\n", 0, ""},
      {"def A " + nested(150, "a") + "\n\ntoken 2 \"x\" = " + nested(60, "{A}") + "\n", 1,
       ".lex:3: parentheses nest deeper than 200"},
  };
  // Definitions nest 20 deep: D1 is "a", each further one uses the one before.
  auto chain = [](int n) {
    std::string lexer = "def D1 a\n";
    for (int i = 2; i <= n; ++i) {
      lexer += "def D" + std::to_string(i) + " {D" + std::to_string(i - 1) + "}\n";
    }
    return lexer + "token 2 \"x\" = {D" + std::to_string(n) + "}\n";
  };
  cases.push_back({chain(20), 0, ""});
  cases.push_back({chain(21), 1, ".lex:22: definitions nest too deep"});
  for (const Case& c : cases) {
    std::string path = TempPath("deep.lex");
    std::ofstream(path, std::ios::binary) << c.lexer;
    Result r = RunTool(std::string(HB_LEX_GEN) + " " + path + " --out " + TempPath("deep.cc"));
    EXPECT_EQ(r.status, c.status) << r.output.substr(0, 300);
    EXPECT_NE(r.output.find(c.phrase), std::string::npos) << r.output.substr(0, 300);
  }
}

}  // namespace
