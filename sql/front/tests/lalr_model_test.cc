// The LALR(1) generator's lookaheads against a model written here: the
// canonical LR(1) collection built by brute force and merged by core. For
// small named grammars and a few hundred random ones, the generator must
// either write exactly the model's reductions or, where the merged collection
// has a conflict, fail with the same number of conflicts.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

// A grammar in the model's own terms. Symbols: terminal t as t (2 and up; 1 is
// the end of input), nonterminal n as kNt + n. Nonterminals are numbered from
// 1 in the order of their first production; 0 is the start rule's own.
constexpr int kNt = 1000;

struct Production {
  int lhs;
  std::vector<int> rhs;
};

struct ModelGrammar {
  int terminals;  // codes 0 .. terminals - 1
  int nonterminals;
  std::vector<Production> rules;  // rules[0]: 0 -> first lhs, end
};

ModelGrammar MakeGrammar(int terminals, std::vector<Production> prods) {
  ModelGrammar g{terminals, 0, {}};
  g.rules.push_back({0, {kNt + prods[0].lhs, 1}});
  for (const Production& p : prods) g.nonterminals = std::max(g.nonterminals, p.lhs + 1);
  g.rules.insert(g.rules.end(), prods.begin(), prods.end());
  return g;
}

std::string GrammarText(const ModelGrammar& g) {
  std::ostringstream o;
  for (int t = 2; t < g.terminals; ++t) o << "%token t" << t << " " << t << "\n";
  o << "%%\n";
  for (size_t r = 1; r < g.rules.size(); ++r) {
    o << "N" << g.rules[r].lhs << " :";
    for (int x : g.rules[r].rhs) {
      if (x >= kNt)
        o << " N" << x - kNt;
      else
        o << " t" << x;
    }
    o << " = " << r << " ;\n";
  }
  return o.str();
}

// ------------------------------------------------------------ the model

using Lr1Item = std::tuple<int, int, int>;  // rule, dot, lookahead
using Lr1State = std::set<Lr1Item>;

struct Model {
  const ModelGrammar& g;
  std::vector<bool> nullable;
  std::vector<std::set<int>> first;
  std::vector<Lr1State> states;
  std::vector<std::map<int, int>> trans;  // symbol -> state

  explicit Model(const ModelGrammar& gr) : g(gr) {
    nullable.assign(g.nonterminals, false);
    first.assign(g.nonterminals, {});
    for (bool changed = true; changed;) {
      changed = false;
      for (const Production& p : g.rules) {
        bool all_nullable = true;
        for (int x : p.rhs) {
          if (x < kNt) {
            changed |= first[p.lhs].insert(x).second;
            all_nullable = false;
            break;
          }
          for (int t : first[x - kNt]) changed |= first[p.lhs].insert(t).second;
          if (!nullable[x - kNt]) {
            all_nullable = false;
            break;
          }
        }
        if (all_nullable && !nullable[p.lhs]) nullable[p.lhs] = changed = true;
      }
    }
    Build();
  }

  Lr1State Closure(Lr1State s) const {
    std::vector<Lr1Item> work(s.begin(), s.end());
    while (!work.empty()) {
      auto [rule, dot, la] = work.back();
      work.pop_back();
      const std::vector<int>& rhs = g.rules[rule].rhs;
      if (dot >= static_cast<int>(rhs.size()) || rhs[dot] < kNt) continue;
      // FIRST of what follows the nonterminal, then the item's lookahead.
      std::set<int> follow;
      bool rest_nullable = true;
      for (size_t k = dot + 1; k < rhs.size() && rest_nullable; ++k) {
        if (rhs[k] < kNt) {
          follow.insert(rhs[k]);
          rest_nullable = false;
        } else {
          follow.insert(first[rhs[k] - kNt].begin(), first[rhs[k] - kNt].end());
          rest_nullable = nullable[rhs[k] - kNt];
        }
      }
      if (rest_nullable) follow.insert(la);
      for (size_t r = 0; r < g.rules.size(); ++r) {
        if (g.rules[r].lhs != rhs[dot] - kNt || r == 0) continue;
        for (int t : follow) {
          if (s.insert({static_cast<int>(r), 0, t}).second)
            work.push_back({static_cast<int>(r), 0, t});
        }
      }
    }
    return s;
  }

  void Build() {
    std::map<Lr1State, int> index;
    states.push_back(Closure({{0, 0, 1}}));
    index[states[0]] = 0;
    for (size_t i = 0; i < states.size(); ++i) {
      std::map<int, Lr1State> kernels;
      for (auto [rule, dot, la] : states[i]) {
        const std::vector<int>& rhs = g.rules[rule].rhs;
        if (dot < static_cast<int>(rhs.size())) kernels[rhs[dot]].insert({rule, dot + 1, la});
      }
      trans.emplace_back();
      for (auto& [x, kernel] : kernels) {
        Lr1State next = Closure(kernel);
        auto it = index.find(next);
        if (it == index.end()) {
          it = index.emplace(next, static_cast<int>(states.size())).first;
          states.push_back(next);
        }
        trans[i][x] = it->second;
      }
    }
  }

  using Core = std::set<std::pair<int, int>>;
  static Core CoreOf(const Lr1State& s) {
    Core c;
    for (auto [rule, dot, la] : s) c.insert({rule, dot});
    return c;
  }

  // A collection's conflicts, counted as the generator counts them: per state
  // and terminal, every reduction beyond the first action.
  struct Merged {
    std::vector<std::map<int, std::set<int>>> reduce;  // state -> rule -> lookaheads
    std::vector<std::map<int, int>> trans;
    int conflicts = 0;
  };

  Merged Collect(bool by_core) const {
    Merged m;
    std::map<Core, int> core_index;
    std::vector<int> state_of(states.size());
    for (size_t i = 0; i < states.size(); ++i) {
      if (!by_core) {
        state_of[i] = static_cast<int>(i);
        continue;
      }
      auto it = core_index.emplace(CoreOf(states[i]), static_cast<int>(core_index.size())).first;
      state_of[i] = it->second;
    }
    size_t n = by_core ? core_index.size() : states.size();
    m.reduce.resize(n);
    m.trans.resize(n);
    for (size_t i = 0; i < states.size(); ++i) {
      int s = state_of[i];
      for (auto [rule, dot, la] : states[i]) {
        if (rule != 0 && dot == static_cast<int>(g.rules[rule].rhs.size()))
          m.reduce[s][rule].insert(la);
      }
      for (auto [x, t] : trans[i]) m.trans[s][x] = state_of[t];
    }
    for (size_t s = 0; s < n; ++s) {
      for (int t = 0; t < g.terminals; ++t) {
        int actions = m.trans[s].count(t) ? 1 : 0;
        for (auto& [rule, las] : m.reduce[s]) actions += static_cast<int>(las.count(t));
        if (actions > 1) m.conflicts += actions - 1;
      }
    }
    return m;
  }
};

// ------------------------------------------------------------ the generator

struct GenResult {
  int status = -1;
  std::string output;
  int states = 0, accept = -1;
  std::vector<std::set<std::pair<int, int>>> reduce;  // state -> (terminal, rule)
  std::vector<std::map<int, int>> trans;              // state -> symbol -> state
};

std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "/hb_lalr_model_" + std::to_string(getpid()) + "_" + name;
}

GenResult RunGenerator(const ModelGrammar& g) {
  std::string grammar = TempPath("g.grammar");
  std::string dump = TempPath("a.txt");
  {
    std::ofstream f(grammar, std::ios::binary | std::ios::trunc);
    f << GrammarText(g);
  }
  std::remove(dump.c_str());
  GenResult r;
  FILE* pipe = popen(
      (std::string(HB_LALR_GEN) + " " + grammar + " --automaton " + dump + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) r.output.append(buf, n);
  int st = pclose(pipe);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  if (r.status != 0) return r;
  std::ifstream in(dump);
  std::string w;
  int state = -1;
  while (in >> w) {
    int a, b;
    if (w == "states") {
      in >> r.states;
      r.reduce.resize(r.states);
      r.trans.resize(r.states);
    } else if (w == "accept") {
      in >> r.accept;
    } else if (w == "state") {
      in >> state >> a >> b;
    } else if (w == "shift") {
      in >> a >> b;
      r.trans[state][a] = b;
    } else if (w == "goto") {
      in >> a >> b;
      r.trans[state][kNt + a] = b;
    } else if (w == "reduce") {
      in >> a >> b;
      r.reduce[state].insert({a, b});
    }
  }
  return r;
}

// Compares a generator run with the model's merged collection; the states are
// matched by walking both automata from their start states.
void Compare(const ModelGrammar& g, const std::string& what) {
  SCOPED_TRACE(what + "\n" + GrammarText(g));
  Model model(g);
  Model::Merged lalr = model.Collect(true);
  GenResult gen = RunGenerator(g);
  if (lalr.conflicts > 0) {
    ASSERT_EQ(gen.status, 1) << gen.output;
    EXPECT_NE(gen.output.find(std::to_string(lalr.conflicts) + " conflict(s) not resolved"),
              std::string::npos)
        << "expected " << lalr.conflicts << " conflicts:\n"
        << gen.output;
    return;
  }
  ASSERT_EQ(gen.status, 0) << gen.output;
  ASSERT_EQ(gen.states, static_cast<int>(lalr.trans.size()));
  std::vector<int> gen_of(lalr.trans.size(), -1);
  std::vector<int> model_of(gen.states, -1);
  std::vector<int> work{0};
  gen_of[0] = 0;
  model_of[0] = 0;
  while (!work.empty()) {
    int m = work.back();
    work.pop_back();
    int s = gen_of[m];
    ASSERT_EQ(lalr.trans[m].size(), gen.trans[s].size()) << "state " << s;
    for (auto [x, mt] : lalr.trans[m]) {
      auto it = gen.trans[s].find(x);
      ASSERT_NE(it, gen.trans[s].end()) << "state " << s << " symbol " << x;
      if (gen_of[mt] < 0) {
        ASSERT_EQ(model_of[it->second], -1);
        gen_of[mt] = it->second;
        model_of[it->second] = mt;
        work.push_back(mt);
      }
      ASSERT_EQ(gen_of[mt], it->second);
    }
  }
  for (size_t m = 0; m < lalr.trans.size(); ++m) {
    int s = gen_of[m];
    ASSERT_GE(s, 0);
    std::set<std::pair<int, int>> want;
    for (auto& [rule, las] : lalr.reduce[m]) {
      for (int t : las) want.insert({t, rule});
    }
    EXPECT_EQ(gen.reduce[s], want) << "lookaheads of state " << s;
  }
}

enum : int { a = 2, b, c, d, e };
constexpr int S = kNt + 1, E = kNt + 2, F = kNt + 3, L = kNt + 2, R = kNt + 3;

TEST(LalrModel, NamedGrammars) {
  // Assignments, the usual example of a grammar that is LALR(1) but not
  // SLR(1): "=" follows R, yet R -> L must not reduce on it after L.
  // a is "=", b is "*", c is id.
  ModelGrammar lvalue = MakeGrammar(5, {{1, {L, a, R}}, {1, {R}}, {2, {b, R}}, {2, {c}}, {3, {L}}});
  Compare(lvalue, "L = R");
  Model lv(lvalue);
  EXPECT_EQ(lv.states.size(), 15u);  // 14 canonical LR(1) sets and the accept state
  EXPECT_EQ(lv.Collect(true).trans.size(), 11u);
  // SLR(1) would reduce R -> L on "=" in the state after L at the start.
  // The generator's lookaheads there hold the end only (checked by Compare).

  // Nullable symbols: lookaheads read through empty right sides and flow in
  // through rules whose tails vanish.
  // S -> E F d | b E e ; E -> a E | ; F -> c F |
  Compare(
      MakeGrammar(7, {{1, {E, F, d}}, {1, {b, E, e}}, {2, {a, E}}, {2, {}}, {3, {c, F}}, {3, {}}}),
      "nullable tails");
  // Left recursion with an empty base, and a list whose separator is followed
  // by an optional symbol: S -> S a E | ; E -> E d F | c | b c ; F -> | e
  Compare(
      MakeGrammar(
          7, {{1, {S, a, E}}, {1, {}}, {2, {E, d, F}}, {2, {c}}, {2, {b, c}}, {3, {}}, {3, {e}}}),
      "left recursion");
}

TEST(LalrModel, LrOneButNotLalrOneIsAConflict) {
  // S -> a E c | a F d | b F c | b E d ; E -> e ; F -> e
  // Canonical LR(1) keeps the two states after "a e" and "b e" apart; merged
  // by core, E -> e and F -> e both reduce on c and on d.
  ModelGrammar g = MakeGrammar(
      7, {{1, {a, E, c}}, {1, {a, F, d}}, {1, {b, F, c}}, {1, {b, E, d}}, {2, {e}}, {3, {e}}});
  Model model(g);
  EXPECT_EQ(model.Collect(false).conflicts, 0);
  EXPECT_EQ(model.Collect(true).conflicts, 2);
  Compare(g, "LR(1), not LALR(1)");
  GenResult gen = RunGenerator(g);
  EXPECT_NE(gen.output.find("reduce/reduce conflict"), std::string::npos) << gen.output;
}

// Random grammars over three terminals and up to four nonterminals; every
// nonterminal derives some terminal string, since the generator refuses
// grammars where one does not.
ModelGrammar RandomGrammar(std::mt19937& rng) {
  for (;;) {
    int nts = 2 + static_cast<int>(rng() % 3);
    std::vector<Production> prods;
    for (int n = 1; n <= nts; ++n) {
      int count = 1 + static_cast<int>(rng() % 3);
      for (int k = 0; k < count; ++k) {
        Production p{n, {}};
        int len = static_cast<int>(rng() % 4);
        for (int i = 0; i < len; ++i) {
          p.rhs.push_back(rng() % 2 ? 2 + static_cast<int>(rng() % 3)
                                    : kNt + 1 + static_cast<int>(rng() % nts));
        }
        prods.push_back(p);
      }
    }
    std::vector<bool> productive(nts + 1, false);
    for (bool changed = true; changed;) {
      changed = false;
      for (const Production& p : prods) {
        bool ok = true;
        for (int x : p.rhs) ok = ok && (x < kNt || productive[x - kNt]);
        if (ok && !productive[p.lhs]) productive[p.lhs] = changed = true;
      }
    }
    bool all = true;
    for (int n = 1; n <= nts; ++n) all = all && productive[n];
    if (all) return MakeGrammar(5, prods);
  }
}

TEST(LalrModel, RandomGrammars) {
  std::mt19937 rng(20261210);
  int clean = 0, conflicting = 0;
  for (int i = 0; i < 300 && !HasFatalFailure(); ++i) {
    ModelGrammar g = RandomGrammar(rng);
    Model model(g);
    (model.Collect(true).conflicts > 0 ? conflicting : clean) += 1;
    Compare(g, "random grammar " + std::to_string(i));
  }
  // Both outcomes must have been exercised.
  EXPECT_GT(clean, 50);
  EXPECT_GT(conflicting, 50);
}

}  // namespace
