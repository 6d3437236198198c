// LALR(1) parser table generator. Reads a grammar whose productions carry
// fixed numbers, builds the LR(0) automaton, computes lookaheads by
// DeRemer-Pennello, resolves conflicts only by declared precedence, and writes
// the tables of the generic parser engine and/or of the SQL parser.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <queue>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------- grammar

enum Assoc { kNone, kLeft, kRight, kNonassoc };

struct Rule {
  int lhs;               // nonterminal index (0 = the start rule's own)
  std::vector<int> rhs;  // terminal t as t, nonterminal n as T + n
  int number;            // the fixed production number
  int prec;              // 0 = none
  int line;
};

struct Grammar {
  std::string file;
  int terminal_count = 0;
  std::vector<std::string> tnames;  // by code
  std::vector<int> tprec;
  std::vector<Assoc> tassoc;
  std::vector<std::string> nnames;  // nonterminal 0 is the start rule's left side
  std::vector<Rule> rules;          // rule 0: $accept -> start <end>
  std::vector<int> sync;
  std::vector<int> nosearch;
};

// Symbols in one integer space: terminals 0..T-1, nonterminal n as T + n.
struct Syms {
  int T;
  bool IsTerm(int s) const { return s < T; }
  int Nt(int s) const { return s - T; }
};

[[noreturn]] void Fail(const std::string& msg) {
  std::cerr << msg << "\n";
  std::exit(1);
}

struct Lexer {
  std::string text;
  size_t pos = 0;
  int line = 1;
  std::string file;
  [[noreturn]] void Error(const std::string& m) {
    Fail(file + ":" + std::to_string(line) + ": " + m);
  }
  void SkipSpace(bool newlines) {
    while (pos < text.size()) {
      char c = text[pos];
      if (c == '#') {
        while (pos < text.size() && text[pos] != '\n') ++pos;
      } else if (c == '\n') {
        if (!newlines) return;
        ++line;
        ++pos;
      } else if (std::isspace(static_cast<unsigned char>(c))) {
        ++pos;
      } else {
        return;
      }
    }
  }
  bool AtEnd() {
    SkipSpace(true);
    return pos >= text.size();
  }
  bool AtLineEnd() {
    SkipSpace(false);
    return pos >= text.size() || text[pos] == '\n';
  }
  // A word: a "quoted" name, a number, an identifier, or one punctuation char.
  std::string Word(bool* quoted = nullptr) {
    SkipSpace(true);
    if (pos >= text.size()) Error("unexpected end of file");
    if (quoted) *quoted = false;
    char c = text[pos];
    if (c == '"') {
      std::string w;
      ++pos;
      while (pos < text.size() && text[pos] != '"') {
        if (text[pos] == '\\' && pos + 1 < text.size()) ++pos;
        if (text[pos] == '\n') Error("unterminated name");
        w += text[pos++];
      }
      if (pos >= text.size()) Error("unterminated name");
      ++pos;
      if (quoted) *quoted = true;
      return w;
    }
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '%' || c == '<' ||
        c == '$') {
      std::string w;
      while (pos < text.size() && (std::isalnum(static_cast<unsigned char>(text[pos])) ||
                                   text[pos] == '_' || text[pos] == '%' || text[pos] == '<' ||
                                   text[pos] == '>' || text[pos] == '$' || text[pos] == '.')) {
        w += text[pos++];
      }
      return w;
    }
    ++pos;
    return std::string(1, c);
  }
  int Number() {
    std::string w = Word();
    if (w.empty() || w.size() > 9 || !std::all_of(w.begin(), w.end(), ::isdigit))
      Error("number expected, not '" + w + "'");
    return std::stoi(w);
  }
};

Grammar ReadGrammar(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail(path + ": cannot open");
  std::stringstream ss;
  ss << in.rdbuf();
  Lexer lx{ss.str(), 0, 1, path};
  Grammar g;
  g.file = path;
  std::map<std::string, int> terms;
  std::map<std::string, int> nts;
  int declared_count = -1;
  int prec_level = 0;
  std::string start;
  int start_line = 0;
  // Declarations up to %%.
  for (;;) {
    if (lx.AtEnd()) lx.Error("missing %%");
    std::string d = lx.Word();
    if (d == "%%") break;
    if (d == "%terminals") {
      declared_count = lx.Number();
    } else if (d == "%token") {
      std::string name = lx.Word();
      int code = lx.Number();
      if (code < 0 || code > 32000) lx.Error("terminal code out of range");
      if (terms.count(name)) lx.Error("terminal '" + name + "' declared twice");
      terms[name] = code;
      if (static_cast<int>(g.tnames.size()) <= code) g.tnames.resize(code + 1);
      if (!g.tnames[code].empty())
        lx.Error("terminal code " + std::to_string(code) + " used twice");
      g.tnames[code] = name;
    } else if (d == "%left" || d == "%right" || d == "%nonassoc" || d == "%sync" ||
               d == "%nosearch") {
      ++prec_level;
      while (!lx.AtLineEnd()) {
        std::string name = lx.Word();
        auto it = terms.find(name);
        if (it == terms.end()) lx.Error("'" + name + "' is not a declared terminal");
        int t = it->second;
        if (d == "%sync") {
          g.sync.push_back(t);
        } else if (d == "%nosearch") {
          g.nosearch.push_back(t);
        } else {
          if (static_cast<int>(g.tprec.size()) <= t) {
            g.tprec.resize(t + 1, 0);
            g.tassoc.resize(t + 1, kNone);
          }
          if (g.tprec[t] != 0) lx.Error("precedence of '" + name + "' declared twice");
          g.tprec[t] = prec_level;
          g.tassoc[t] = d == "%left" ? kLeft : d == "%right" ? kRight : kNonassoc;
        }
      }
    } else if (d == "%start") {
      start = lx.Word();
      start_line = lx.line;
    } else {
      lx.Error("unknown declaration '" + d + "'");
    }
  }
  int max_code = static_cast<int>(g.tnames.size()) - 1;
  g.terminal_count = std::max(max_code + 1, 2);
  if (declared_count >= 0) {
    if (declared_count <= max_code) lx.Error("%terminals is below a declared code");
    g.terminal_count = declared_count;
  }
  g.tnames.resize(g.terminal_count);
  g.tprec.resize(g.terminal_count, 0);
  g.tassoc.resize(g.terminal_count, kNone);
  if (g.tnames[0].empty()) g.tnames[0] = "<error>";
  if (g.tnames[1].empty()) g.tnames[1] = "<end>";
  g.nnames.push_back("$accept");
  g.rules.push_back(Rule{0, {}, 0, 0, 0});
  // Productions: lhs : syms [%prec t] = N | ... ;
  struct PendingSym {
    std::string name;
    bool quoted;
    int line;
  };
  std::vector<std::vector<PendingSym>> pending;
  auto nt_index = [&](const std::string& name) {
    auto it = nts.find(name);
    if (it != nts.end()) return it->second;
    int n = static_cast<int>(g.nnames.size());
    nts[name] = n;
    g.nnames.push_back(name);
    return n;
  };
  while (!lx.AtEnd()) {
    bool quoted = false;
    std::string lhs = lx.Word(&quoted);
    if (quoted || terms.count(lhs)) lx.Error("'" + lhs + "' is a terminal, not a rule's left side");
    int n = nt_index(lhs);
    if (lx.Word() != ":") lx.Error("':' expected after '" + lhs + "'");
    for (;;) {
      Rule r{n, {}, -1, 0, lx.line};
      std::vector<PendingSym> syms;
      for (;;) {
        std::string w = lx.Word(&quoted);
        if (!quoted && w == "=") break;
        if (!quoted && (w == "|" || w == ";")) lx.Error("production without '= number'");
        if (!quoted && w == "%prec") {
          std::string t = lx.Word();
          auto it = terms.find(t);
          if (it == terms.end()) lx.Error("'%prec " + t + "' names no terminal");
          r.prec = g.tprec[it->second];
          if (r.prec == 0) lx.Error("'%prec " + t + "' has no precedence");
          continue;
        }
        syms.push_back({w, quoted, lx.line});
      }
      r.number = lx.Number();
      g.rules.push_back(r);
      pending.push_back(syms);
      std::string sep = lx.Word();
      if (sep == ";") break;
      if (sep != "|") lx.Error("'|' or ';' expected");
    }
  }
  Syms sy{g.terminal_count};
  for (size_t i = 1; i < g.rules.size(); ++i) {
    Rule& r = g.rules[i];
    int last_prec = 0;
    for (const PendingSym& ps : pending[i - 1]) {
      auto it = terms.find(ps.name);
      if (it != terms.end()) {
        if (it->second <= 1) {
          Fail(path + ":" + std::to_string(ps.line) +
               ": the error and end terminals cannot appear in a production");
        }
        r.rhs.push_back(it->second);
        if (g.tprec[it->second]) last_prec = g.tprec[it->second];
      } else if (ps.quoted || nts.find(ps.name) == nts.end()) {
        Fail(path + ":" + std::to_string(ps.line) + ": '" + ps.name +
             "' is neither a terminal nor a rule's left side");
      } else {
        r.rhs.push_back(sy.T + nts[ps.name]);
      }
    }
    if (r.prec == 0) r.prec = last_prec;
  }
  if (g.rules.size() < 2) Fail(path + ": no productions");
  int s = start.empty() ? g.rules[1].lhs : -1;
  if (!start.empty()) {
    auto it = nts.find(start);
    if (it == nts.end())
      Fail(path + ":" + std::to_string(start_line) + ": start symbol '" + start +
           "' has no productions");
    s = it->second;
  }
  g.rules[0].rhs = {sy.T + s, 1};
  return g;
}

// ---------------------------------------------------------------- LR(0)

struct Item {
  int rule;
  int dot;
  bool operator<(const Item& o) const { return rule != o.rule ? rule < o.rule : dot < o.dot; }
  bool operator==(const Item& o) const { return rule == o.rule && dot == o.dot; }
};

struct State {
  std::vector<Item> kernel;
  std::vector<Item> closure;
  int access = -1;                 // accessing symbol
  std::map<int, int> transitions;  // symbol -> state
};

struct Automaton {
  std::vector<State> states;
  int accept_state = -1;
};

std::vector<std::vector<int>> RulesByLhs(const Grammar& g) {
  std::vector<std::vector<int>> by(g.nnames.size());
  for (size_t r = 0; r < g.rules.size(); ++r) by[g.rules[r].lhs].push_back(static_cast<int>(r));
  return by;
}

Automaton BuildLr0(const Grammar& g) {
  Syms sy{g.terminal_count};
  auto by_lhs = RulesByLhs(g);
  Automaton a;
  std::map<std::vector<Item>, int> index;
  auto closure = [&](const std::vector<Item>& kernel) {
    std::vector<Item> out = kernel;
    std::vector<bool> added(g.nnames.size(), false);
    for (size_t i = 0; i < out.size(); ++i) {
      const Rule& r = g.rules[out[i].rule];
      if (out[i].dot >= static_cast<int>(r.rhs.size())) continue;
      int x = r.rhs[out[i].dot];
      if (sy.IsTerm(x) || added[sy.Nt(x)]) continue;
      added[sy.Nt(x)] = true;
      for (int rr : by_lhs[sy.Nt(x)]) out.push_back({rr, 0});
    }
    return out;
  };
  a.states.push_back(State{{{0, 0}}, {}, -1, {}});
  index[{{0, 0}}] = 0;
  for (size_t s = 0; s < a.states.size(); ++s) {
    a.states[s].closure = closure(a.states[s].kernel);
    std::map<int, std::vector<Item>> next;
    for (const Item& it : a.states[s].closure) {
      const Rule& r = g.rules[it.rule];
      if (it.dot < static_cast<int>(r.rhs.size()))
        next[r.rhs[it.dot]].push_back({it.rule, it.dot + 1});
    }
    for (auto& [x, kernel] : next) {
      std::sort(kernel.begin(), kernel.end());
      auto found = index.find(kernel);
      int t;
      if (found == index.end()) {
        t = static_cast<int>(a.states.size());
        index[kernel] = t;
        a.states.push_back(State{kernel, {}, x, {}});
      } else {
        t = found->second;
      }
      a.states[s].transitions[x] = t;
      if (x == 1) a.accept_state = t;
    }
  }
  return a;
}

// ---------------------------------------------------------------- LALR(1)

using Bits = std::vector<uint64_t>;
void SetBit(Bits& b, int i) {
  b[i / 64] |= uint64_t{1} << (i % 64);
}
bool TestBit(const Bits& b, int i) {
  return (b[i / 64] >> (i % 64)) & 1;
}
bool OrInto(Bits& to, const Bits& from) {
  bool changed = false;
  for (size_t i = 0; i < to.size(); ++i) {
    uint64_t v = to[i] | from[i];
    changed |= v != to[i];
    to[i] = v;
  }
  return changed;
}

// The digraph traversal: F(x) = F'(x) united with F(y) for every x R y, taking
// strongly connected components together.
struct Digraph {
  const std::vector<std::vector<int>>& rel;
  std::vector<Bits>& f;
  std::vector<int> depth;
  std::vector<int> stack;
  Digraph(const std::vector<std::vector<int>>& r, std::vector<Bits>& fx)
      : rel(r), f(fx), depth(fx.size(), 0) {
    for (size_t x = 0; x < f.size(); ++x) {
      if (depth[x] == 0) Traverse(static_cast<int>(x));
    }
  }
  void Traverse(int x) {
    stack.push_back(x);
    int d = static_cast<int>(stack.size());
    depth[x] = d;
    for (int y : rel[x]) {
      if (depth[y] == 0) Traverse(y);
      depth[x] = std::min(depth[x], depth[y]);
      OrInto(f[x], f[y]);
    }
    if (depth[x] == d) {
      for (;;) {
        int top = stack.back();
        stack.pop_back();
        depth[top] = 1 << 30;
        if (top == x) break;
        f[top] = f[x];
      }
    }
  }
};

struct Lookaheads {
  // For each state, for each completed item in its closure: rule -> terminals.
  std::vector<std::map<int, Bits>> la;
};

Lookaheads ComputeLalr(const Grammar& g, const Automaton& a) {
  Syms sy{g.terminal_count};
  int T = g.terminal_count;
  size_t words = (T + 63) / 64;
  int N = static_cast<int>(g.nnames.size());
  std::vector<bool> nullable(N, false);
  for (bool changed = true; changed;) {
    changed = false;
    for (const Rule& r : g.rules) {
      if (nullable[r.lhs]) continue;
      bool all = std::all_of(r.rhs.begin(), r.rhs.end(),
                             [&](int x) { return !sy.IsTerm(x) && nullable[sy.Nt(x)]; });
      if (all) nullable[r.lhs] = changed = true;
    }
  }
  // Nonterminal transitions.
  std::map<std::pair<int, int>, int> trans_index;
  std::vector<std::pair<int, int>> trans;
  for (size_t s = 0; s < a.states.size(); ++s) {
    for (auto& [x, t] : a.states[s].transitions) {
      if (!sy.IsTerm(x)) {
        trans_index[{static_cast<int>(s), x}] = static_cast<int>(trans.size());
        trans.push_back({static_cast<int>(s), x});
      }
    }
  }
  size_t n = trans.size();
  std::vector<Bits> f(n, Bits(words, 0));
  std::vector<std::vector<int>> reads(n);
  for (size_t i = 0; i < n; ++i) {
    int r = a.states[trans[i].first].transitions.at(trans[i].second);
    for (auto& [x, t] : a.states[r].transitions) {
      if (sy.IsTerm(x)) {
        SetBit(f[i], x);
      } else if (nullable[sy.Nt(x)]) {
        reads[i].push_back(trans_index.at({r, x}));
      }
    }
  }
  Digraph{reads, f};
  // includes and lookback.
  std::vector<std::vector<int>> includes(n);
  std::map<std::pair<int, int>, std::vector<int>> lookback;  // (state, rule) -> transitions
  for (size_t i = 0; i < n; ++i) {
    int p = trans[i].first;
    int A = sy.Nt(trans[i].second);
    for (size_t ri = 0; ri < g.rules.size(); ++ri) {
      const Rule& r = g.rules[ri];
      if (r.lhs != A) continue;
      int q = p;
      for (size_t k = 0; k < r.rhs.size(); ++k) {
        int x = r.rhs[k];
        if (!sy.IsTerm(x)) {
          bool rest_nullable = true;
          for (size_t m = k + 1; m < r.rhs.size(); ++m) {
            int y = r.rhs[m];
            if (sy.IsTerm(y) || !nullable[sy.Nt(y)]) {
              rest_nullable = false;
              break;
            }
          }
          if (rest_nullable) includes[trans_index.at({q, x})].push_back(static_cast<int>(i));
        }
        q = a.states[q].transitions.at(x);
      }
      lookback[{q, static_cast<int>(ri)}].push_back(static_cast<int>(i));
    }
  }
  Digraph{includes, f};
  Lookaheads out;
  out.la.resize(a.states.size());
  for (size_t s = 0; s < a.states.size(); ++s) {
    for (const Item& it : a.states[s].closure) {
      if (it.dot != static_cast<int>(g.rules[it.rule].rhs.size()) || it.rule == 0) continue;
      Bits b(words, 0);
      auto lb = lookback.find({static_cast<int>(s), it.rule});
      if (lb != lookback.end()) {
        for (int tr : lb->second) OrInto(b, f[tr]);
      }
      out.la[s][it.rule] = b;
    }
  }
  return out;
}

// ---------------------------------------------------------------- actions

enum ActKind { kError, kShift, kReduce, kAccept };
struct Act {
  ActKind kind = kError;
  int target = 0;               // state or rule index
  bool explicit_error = false;  // made an error by %nonassoc
};

struct Tables {
  std::vector<std::vector<Act>> action;  // [state][terminal]
};

std::string SymName(const Grammar& g, int x) {
  if (x < g.terminal_count) return "\"" + g.tnames[x] + "\"";
  return g.nnames[x - g.terminal_count];
}

std::string RuleText(const Grammar& g, int ri, int dot = -1) {
  const Rule& r = g.rules[ri];
  std::string s = g.nnames[r.lhs] + " :";
  for (size_t k = 0; k < r.rhs.size(); ++k) {
    if (static_cast<int>(k) == dot) s += " .";
    s += " " + SymName(g, r.rhs[k]);
  }
  if (dot == static_cast<int>(r.rhs.size())) s += " .";
  s += "   (= " + std::to_string(r.number) + ", line " + std::to_string(r.line) + ")";
  return s;
}

Tables BuildActions(const Grammar& g, const Automaton& a, const Lookaheads& la) {
  int T = g.terminal_count;
  Tables tb;
  tb.action.assign(a.states.size(), std::vector<Act>(T));
  std::ostringstream report;
  int conflicts = 0;
  for (size_t s = 0; s < a.states.size(); ++s) {
    auto& row = tb.action[s];
    for (auto& [x, t] : a.states[s].transitions) {
      if (x < T) row[x] = {kShift, t, false};
    }
    if (static_cast<int>(s) == a.accept_state) continue;
    // The first reduction on each terminal; a second one is a reduce/reduce
    // conflict whatever precedence made of the first, since precedence only
    // chooses between a shift and a reduction.
    std::vector<int> reduced_by(T, -1);
    for (auto& [rule, bits] : la.la[s]) {
      for (int t = 0; t < T; ++t) {
        if (!TestBit(bits, t)) continue;
        Act& cur = row[t];
        int earlier = reduced_by[t];
        if (earlier < 0) reduced_by[t] = rule;
        if (earlier < 0 && cur.kind == kError) {
          cur = {kReduce, rule, false};
          continue;
        }
        bool resolved = false;
        std::string what = "reduce/reduce";
        if (earlier < 0) {
          what = "shift/reduce";
          int rp = g.rules[rule].prec;
          int tp = g.tprec[t];
          if (rp != 0 && tp != 0) {
            resolved = true;
            if (rp > tp || (rp == tp && g.tassoc[t] == kLeft)) {
              cur = {kReduce, rule, false};
            } else if (rp == tp && g.tassoc[t] == kNonassoc) {
              cur = {kError, 0, true};
            }
          }
        }
        if (!resolved) {
          ++conflicts;
          report << g.file << ": " << what << " conflict in state " << s << " on " << SymName(g, t)
                 << "\n  state " << s << " holds:\n";
          for (const Item& it : a.states[s].kernel)
            report << "    " << RuleText(g, it.rule, it.dot) << "\n";
          if (earlier >= 0) {
            report << "  reduce by " << RuleText(g, earlier) << "\n";
          } else {
            report << "  shift to state " << cur.target << "\n";
          }
          report << "  reduce by " << RuleText(g, rule) << "\n";
        }
      }
    }
  }
  if (conflicts > 0) {
    std::cerr << report.str() << g.file << ": " << conflicts
              << " conflict(s) not resolved by precedence; no tables written\n";
    std::exit(1);
  }
  return tb;
}

// ---------------------------------------------------------------- checks

void CheckGrammar(const Grammar& g, std::vector<int>* min_len) {
  Syms sy{g.terminal_count};
  int N = static_cast<int>(g.nnames.size());
  const int kInf = 1 << 29;
  min_len->assign(N, kInf);
  for (bool changed = true; changed;) {
    changed = false;
    for (const Rule& r : g.rules) {
      int sum = 0;
      for (int x : r.rhs) sum = std::min(kInf, sum + (sy.IsTerm(x) ? 1 : (*min_len)[sy.Nt(x)]));
      if (sum < (*min_len)[r.lhs]) {
        (*min_len)[r.lhs] = sum;
        changed = true;
      }
    }
  }
  std::ostringstream bad;
  for (int n = 1; n < N; ++n) {
    if ((*min_len)[n] >= kInf)
      bad << g.file << ": '" << g.nnames[n] << "' derives no terminal string\n";
  }
  if (!bad.str().empty()) Fail(bad.str() + g.file + ": no tables written");
}

// ---------------------------------------------------------------- continuation

// The predecessor of each state on its shortest access path from state 0
// (breadth-first, symbols in code order; -1 for state 0).
std::vector<int> AccessParents(const Automaton& a) {
  std::vector<int> parent(a.states.size(), -1);
  std::vector<bool> seen(a.states.size(), false);
  std::queue<int> q;
  q.push(0);
  seen[0] = true;
  while (!q.empty()) {
    int s = q.front();
    q.pop();
    for (auto& [x, t] : a.states[s].transitions) {
      if (!seen[t]) {
        seen[t] = true;
        parent[t] = s;
        q.push(t);
      }
    }
  }
  return parent;
}

// For each state, the terminal that begins the shortest completion of the
// state's shortest access path, and an alternative whose action differs.
struct Continuations {
  std::vector<int> cont;
  std::vector<int> alt;
};

Continuations ComputeContinuations(const Grammar& g, const Automaton& a, const Tables& tb,
                                   const std::vector<int>& min_len) {
  Syms sy{g.terminal_count};
  int N = static_cast<int>(g.nnames.size());
  const int kInf = 1 << 29;
  // First terminal of each nonterminal's shortest expansion (-1: empty).
  std::vector<int> first(N, -1);
  std::vector<bool> known(N, false);
  auto seq_first = [&](const std::vector<int>& rhs, size_t from, int* out) {
    for (size_t k = from; k < rhs.size(); ++k) {
      int x = rhs[k];
      if (sy.IsTerm(x)) {
        *out = x;
        return true;
      }
      if (!known[sy.Nt(x)]) return false;
      if (first[sy.Nt(x)] >= 0) {
        *out = first[sy.Nt(x)];
        return true;
      }
    }
    *out = -1;
    return true;
  };
  auto seq_len = [&](const std::vector<int>& rhs, size_t from) {
    int sum = 0;
    for (size_t k = from; k < rhs.size(); ++k)
      sum += sy.IsTerm(rhs[k]) ? 1 : min_len[sy.Nt(rhs[k])];
    return sum;
  };
  for (bool changed = true; changed;) {
    changed = false;
    for (const Rule& r : g.rules) {
      if (known[r.lhs] || seq_len(r.rhs, 0) != min_len[r.lhs]) continue;
      int f = -1;
      if (seq_first(r.rhs, 0, &f)) {
        first[r.lhs] = f;
        known[r.lhs] = changed = true;
      }
    }
  }
  size_t S = a.states.size();
  std::vector<int> parent = AccessParents(a);
  Continuations c;
  c.cont.assign(S, 1);
  c.alt.assign(S, 1);
  for (size_t s = 0; s < S; ++s) {
    std::vector<int> path;
    for (int x = static_cast<int>(s); x >= 0; x = parent[x]) path.push_back(x);
    std::reverse(path.begin(), path.end());
    int k = static_cast<int>(path.size()) - 1;
    // R[j][A]: cost and first terminal of finishing once A is reduced at j.
    std::vector<std::vector<std::pair<int, int>>> R(
        k + 1, std::vector<std::pair<int, int>>(N, {kInf, -1}));
    for (int j = 0; j <= k; ++j) {
      const State& st = a.states[path[j]];
      R[j][0] = {0, -1};
      for (bool changed = true; changed;) {
        changed = false;
        for (const Item& it : st.closure) {
          const Rule& r = g.rules[it.rule];
          if (it.dot >= static_cast<int>(r.rhs.size()) || sy.IsTerm(r.rhs[it.dot])) continue;
          int A = sy.Nt(r.rhs[it.dot]);
          int from = j - it.dot;
          if (from < 0) continue;
          auto outer = R[from][r.lhs];
          if (it.dot == 0) outer = R[j][r.lhs];
          if (outer.first >= kInf) continue;
          int cost = seq_len(r.rhs, it.dot + 1) + outer.first;
          int f = -1;
          seq_first(r.rhs, it.dot + 1, &f);
          if (f < 0) f = outer.second;
          if (cost < R[j][A].first) {
            R[j][A] = {cost, f};
            changed = true;
          }
        }
      }
    }
    std::vector<std::pair<int, int>> options;  // (cost, first terminal)
    for (const Item& it : a.states[s].closure) {
      const Rule& r = g.rules[it.rule];
      int from = it.dot == 0 ? k : k - it.dot;
      if (from < 0) continue;
      auto outer = R[from][r.lhs];
      if (outer.first >= kInf) continue;
      int f = -1;
      seq_first(r.rhs, it.dot, &f);
      if (f < 0) f = outer.second;
      if (f < 0) continue;
      options.push_back({seq_len(r.rhs, it.dot) + outer.first, f});
    }
    std::sort(options.begin(), options.end());
    const auto& row = tb.action[s];
    int chosen = -1;
    for (auto& [cost, f] : options) {
      if (f >= 0 && row[f].kind != kError) {
        chosen = f;
        break;
      }
    }
    if (chosen < 0) {
      for (int t = 1; t < g.terminal_count && chosen < 0; ++t) {
        if (row[t].kind != kError) chosen = t;
      }
    }
    if (chosen < 0) chosen = 1;
    c.cont[s] = chosen;
    c.alt[s] = chosen;
    auto differs = [&](int t) {
      return row[t].kind != kError &&
             (row[t].kind != row[chosen].kind || row[t].target != row[chosen].target);
    };
    for (auto& [cost, f] : options) {
      if (f >= 0 && differs(f)) {
        c.alt[s] = f;
        break;
      }
    }
  }
  return c;
}

// Follows the continuations from every state's shortest access path on the
// final actions: each run must reach the end of input. The SQL parser's phrase
// recovery follows them without a bound of its own.
void CheckContinuations(const Grammar& g, const Automaton& a, const Tables& tb,
                        const Continuations& c) {
  size_t S = a.states.size();
  std::vector<int> parent = AccessParents(a);
  std::ostringstream bad;
  for (size_t s = 0; s < S; ++s) {
    if (static_cast<int>(s) == a.accept_state) continue;
    std::vector<int> stack;
    for (int x = static_cast<int>(s); x >= 0; x = parent[x]) stack.push_back(x);
    std::reverse(stack.begin(), stack.end());
    bool done = false;
    for (int step = 0; step < 100000 && !done; ++step) {
      int top = stack.back();
      const Act& act = tb.action[top][c.cont[top]];
      if (act.kind == kShift) {
        if (act.target == a.accept_state) done = true;
        stack.push_back(act.target);
      } else if (act.kind == kReduce) {
        const Rule& r = g.rules[act.target];
        stack.resize(stack.size() - r.rhs.size());
        stack.push_back(a.states[stack.back()].transitions.at(g.terminal_count + r.lhs));
      } else {
        break;
      }
    }
    if (!done)
      bad << g.file << ": following the continuations from state " << s
          << " never reaches the end\n";
  }
  if (!bad.str().empty()) Fail(bad.str() + g.file + ": no SQL tables written");
}

// ---------------------------------------------------------------- packing

// Row displacement: places each row at the first base where its entries fall
// on free slots or on slots holding the same value.
struct Packer {
  std::vector<int> value;
  std::vector<bool> used;
  std::set<int> taken_bases;
  bool share_values;
  explicit Packer(bool share) : share_values(share) {}
  int Place(const std::vector<std::pair<int, int>>& entries, int min_base = 0) {
    for (int base = min_base;; ++base) {
      if (taken_bases.count(base)) continue;
      bool ok = true;
      for (auto& [col, v] : entries) {
        size_t i = static_cast<size_t>(base + col);
        if (i < used.size() && used[i] && !(share_values && value[i] == v)) {
          ok = false;
          break;
        }
      }
      if (!ok) continue;
      for (auto& [col, v] : entries) {
        size_t i = static_cast<size_t>(base + col);
        if (i >= used.size()) {
          used.resize(i + 1, false);
          value.resize(i + 1, 0);
        }
        used[i] = true;
        value[i] = v;
      }
      taken_bases.insert(base);
      return base;
    }
  }
};

// ---------------------------------------------------------------- output

struct Writer {
  std::ostringstream out;
  template <typename V>
  void Array(const char* type, const std::string& name, const std::vector<V>& v) {
    out << "constexpr " << type << " " << name << "[" << std::max<size_t>(v.size(), 1) << "] = {";
    for (size_t i = 0; i < v.size(); ++i) {
      out << (i % 16 == 0 ? "\n    " : " ") << v[i] << ",";
    }
    if (v.empty()) out << "0";
    out << "\n};\n";
  }
};

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (!f) Fail(path + ": cannot write");
  f << text;
  if (!f) Fail(path + ": write failed");
}

// Generic engine layout: transitions checked by the target's accessing symbol,
// default reductions with lookahead lists, default gotos, hints.
std::string GenericBackEnd(const Grammar& g, const Automaton& a, const Tables& tb,
                           const Continuations& c, const std::string& name,
                           const std::string& base_name) {
  int T = g.terminal_count;
  int S = static_cast<int>(a.states.size());
  int N = static_cast<int>(g.nnames.size());
  std::vector<int> action(S, -1);
  std::vector<int> access(S, 0);
  std::vector<int> list_actions;
  std::vector<int> list_terms;
  for (int s = 0; s < S; ++s) {
    const State& st = a.states[s];
    if (st.access < 0) {
      access[s] = -32768;  // the start state is entered by no symbol
    } else {
      access[s] = st.access < T ? st.access : -(st.access - T);
    }
    if (s == a.accept_state) {
      action[s] = 0;
      continue;
    }
    std::map<int, int> count;
    for (int t = 0; t < T; ++t) {
      const Act& ac = tb.action[s][t];
      if (ac.kind == kReduce) ++count[ac.target];
    }
    bool has_explicit_error = false;
    for (int t = 0; t < T; ++t) has_explicit_error |= tb.action[s][t].explicit_error;
    if (count.empty()) continue;
    if (has_explicit_error) {
      Fail(g.file + ": state " + std::to_string(s) +
           " needs an error entry beside its reductions (%nonassoc), which the generic tables "
           "cannot hold");
    }
    int def = count.begin()->first;
    for (auto& [r, k] : count) {
      if (k > count[def]) def = r;
    }
    if (count.size() == 1) {
      action[s] = def;
      continue;
    }
    action[s] = -(S + static_cast<int>(list_actions.size()));
    for (int t = 1; t < T; ++t) {
      const Act& ac = tb.action[s][t];
      if (ac.kind == kReduce && ac.target != def) {
        list_terms.push_back(t);
        list_actions.push_back(ac.target);
      }
    }
    list_terms.push_back(0);
    list_actions.push_back(def);
  }
  std::vector<int> action_all = action;
  action_all.insert(action_all.end(), list_actions.begin(), list_actions.end());
  std::vector<int> access_all = access;
  access_all.insert(access_all.end(), list_terms.begin(), list_terms.end());
  if (action_all.size() > 32767) Fail(g.file + ": too many states for 16-bit tables");
  // Rows: shifts per state, non-default gotos per nonterminal.
  Packer pk(true);
  std::vector<int> action_base(S, 0);
  std::vector<int> goto_base(N, 0);
  std::vector<int> goto_default(N, 0);
  struct RowJob {
    bool is_goto;
    int index;
    std::vector<std::pair<int, int>> entries;
  };
  std::vector<RowJob> jobs;
  for (int s = 0; s < S; ++s) {
    RowJob j{false, s, {}};
    for (int t = 0; t < T; ++t) {
      if (tb.action[s][t].kind == kShift) j.entries.push_back({t, tb.action[s][t].target});
    }
    jobs.push_back(j);
  }
  std::vector<std::vector<std::pair<int, int>>> gotos(N);
  for (int s = 0; s < S; ++s) {
    for (auto& [x, t] : a.states[s].transitions) {
      if (x >= T) gotos[x - T].push_back({s, t});
    }
  }
  for (int n = 0; n < N; ++n) {
    std::map<int, int> count;
    for (auto& [s, t] : gotos[n]) ++count[t];
    int def = 0;
    int best = -1;
    for (auto& [t, k] : count) {
      if (k > best) {
        best = k;
        def = t;
      }
    }
    goto_default[n] = def;
    RowJob j{true, n, {}};
    for (auto& [s, t] : gotos[n]) {
      if (t != def) j.entries.push_back({s, t});
    }
    jobs.push_back(j);
  }
  std::stable_sort(jobs.begin(), jobs.end(), [](const RowJob& x, const RowJob& y) {
    return x.entries.size() > y.entries.size();
  });
  // Terminal rows and goto rows check different signs, so they only need
  // distinct bases among themselves.
  std::set<int> term_bases;
  std::set<int> nt_bases;
  for (const RowJob& j : jobs) {
    std::set<int>& bases = j.is_goto ? nt_bases : term_bases;
    pk.taken_bases = bases;
    int b = pk.Place(j.entries);
    bases.insert(b);
    (j.is_goto ? goto_base[j.index] : action_base[j.index]) = b;
  }
  size_t size = pk.value.size();
  for (int s = 0; s < S; ++s) size = std::max<size_t>(size, action_base[s] + T);
  for (int n = 0; n < N; ++n) size = std::max<size_t>(size, goto_base[n] + S);
  std::vector<int> target = pk.value;
  target.resize(size, 0);
  for (size_t i = 0; i < target.size(); ++i) {
    if (i < pk.used.size() && !pk.used[i]) target[i] = 0;
  }
  std::vector<int> lhs, len, sem;
  for (const Rule& r : g.rules) {
    lhs.push_back(r.lhs);
    len.push_back(static_cast<int>(r.rhs.size()));
    sem.push_back(r.number);
  }
  std::vector<int> hint(S, 0);
  int H = 0;
  for (int s = 0; s < S; ++s) {
    int t = c.cont[s];
    if (t >= 2 && tb.action[s][t].kind == kShift) {
      hint[s] = t;
      H = s + 1;
    }
  }
  hint.resize(H);
  Writer w;
  w.out << "// Parser tables generated by hb_lalr_gen from " << base_name << "; do not edit.\n"
        << "// " << T << " terminals, " << N << " nonterminals, " << g.rules.size() << " rules, "
        << S << " states.\n#include \"sql/front/gpr_parser.h\"\n\nnamespace {\n\n";
  w.Array("int32_t", "kCounts", std::vector<int>{T, H});
  w.Array("int32_t", "kGotoBase", goto_base);
  w.Array("int16_t", "kGotoDefault", goto_default);
  w.Array("int32_t", "kActionBase", action_base);
  w.Array("int16_t", "kAction", action_all);
  w.Array("int16_t", "kAccess", access_all);
  w.Array("int16_t", "kTarget", target);
  w.Array("int16_t", "kLhs", lhs);
  w.Array("int16_t", "kLength", len);
  w.Array("int16_t", "kSemantic", sem);
  w.Array("int16_t", "kHint", hint);
  w.out << "\n}  // namespace\n\nextern const GprGrammar " << name << ";\nconst GprGrammar " << name
        << " = {kCounts, kGotoBase, kGotoDefault, kActionBase, kAction, kAccess,\n"
        << "    kTarget, kLhs, kLength, kSemantic, kHint};\n";
  return w.out.str();
}

// A state folds into its reduction when it has no transitions and reduces by
// one rule on every terminal it accepts; the SQL tables never enter it.
std::vector<int> FoldedStates(const Grammar& g, const Automaton& a, const Tables& tb) {
  int T = g.terminal_count;
  int S = static_cast<int>(a.states.size());
  std::vector<int> folds(S, -1);
  for (int s = 0; s < S; ++s) {
    if (s == 0 || s == a.accept_state || !a.states[s].transitions.empty()) continue;
    int rule = -1;
    bool pure = true;
    for (int t = 0; t < T; ++t) {
      const Act& ac = tb.action[s][t];
      if (ac.explicit_error) pure = false;
      if (ac.kind == kReduce) {
        if (rule >= 0 && rule != ac.target) pure = false;
        rule = ac.target;
      }
    }
    if (pure && rule > 0) folds[s] = g.rules[rule].number;
  }
  return folds;
}

constexpr int kSqlDivisor = 4096;
constexpr int kSqlRowWords = 11;

// SQL parser layout: action values kind * 4096 + target, a check bitmap per row
// class, gotos that fold states whose only action is one reduction.
std::string SqlBackEnd(const Grammar& g, const Automaton& a, const Tables& tb,
                       const Continuations& c, const std::string& name,
                       const std::string& base_name, int row_bits) {
  int T = g.terminal_count;
  int S = static_cast<int>(a.states.size());
  int N = static_cast<int>(g.nnames.size());
  if (S >= kSqlDivisor)  // numbered 1 .. S, each below the divisor
    Fail(g.file + ": too many states for the SQL tables (" + std::to_string(S) + ")");
  std::set<int> numbers;
  int max_rule = 0;
  for (size_t r = 1; r < g.rules.size(); ++r) {
    int num = g.rules[r].number;
    if (num <= 0 || num >= kSqlDivisor) {
      Fail(g.file + ":" + std::to_string(g.rules[r].line) +
           ": production number must be 1 to 4095 for the SQL tables");
    }
    if (!numbers.insert(num).second) {
      Fail(g.file + ":" + std::to_string(g.rules[r].line) + ": production number " +
           std::to_string(num) + " used twice");
    }
    max_rule = std::max(max_rule, num);
  }
  std::vector<int> folds = FoldedStates(g, a, tb);
  auto encode = [&](int s, int t) {
    const Act& ac = tb.action[s][t];
    switch (ac.kind) {
      case kShift:
        if (ac.target == a.accept_state) return 4 * kSqlDivisor;
        if (folds[ac.target] >= 0) return 2 * kSqlDivisor + folds[ac.target];
        return 1 * kSqlDivisor + ac.target + 1;
      case kReduce:
        return 3 * kSqlDivisor + g.rules[ac.target].number;
      default:
        return 0;
    }
  };
  // Bit numbers: one per terminal when they fit, else terminals grouped by the
  // likeness of the states that accept them.
  std::vector<std::vector<bool>> accepts(T, std::vector<bool>(S, false));
  for (int s = 0; s < S; ++s) {
    for (int t = 0; t < T; ++t) accepts[t][s] = encode(s, t) != 0;
  }
  std::vector<int> bit(T, 0);
  if (T <= row_bits) {
    for (int t = 0; t < T; ++t) bit[t] = t;
  } else {
    std::vector<std::vector<bool>> group;
    for (int t = 0; t < T; ++t) {
      if (static_cast<int>(group.size()) < row_bits) {
        bit[t] = static_cast<int>(group.size());
        group.push_back(accepts[t]);
        continue;
      }
      int best = 0;
      int best_cost = 1 << 30;
      for (int b = 0; b < row_bits; ++b) {
        int cost = 0;
        for (int s = 0; s < S; ++s) cost += group[b][s] != accepts[t][s];
        if (cost < best_cost) {
          best_cost = cost;
          best = b;
        }
      }
      bit[t] = best;
      for (int s = 0; s < S; ++s) group[best][s] = group[best][s] || accepts[t][s];
    }
  }
  // Row classes: states are numbered from 1; state 0 is never entered.
  std::map<std::vector<uint16_t>, int> classes;
  std::vector<std::vector<uint16_t>> class_rows;
  std::vector<int> row_class(S + 1, 0);
  std::vector<int> action_base(S + 1, 0);
  Packer pk(true);
  std::vector<std::vector<uint16_t>> rows(S + 1, std::vector<uint16_t>(kSqlRowWords, 0));
  for (int s = 0; s < S; ++s) {
    for (int t = 0; t < T; ++t) {
      if (accepts[t][s]) rows[s + 1][bit[t] / 16] |= static_cast<uint16_t>(1u << (bit[t] % 16));
    }
  }
  for (int s = 0; s <= S; ++s) {
    auto it = classes.find(rows[s]);
    if (it == classes.end()) {
      it = classes.emplace(rows[s], static_cast<int>(class_rows.size())).first;
      class_rows.push_back(rows[s]);
    }
    row_class[s] = it->second;
  }
  std::vector<int> order(S);
  for (int s = 0; s < S; ++s) order[s] = s;
  auto needed = [&](int s) {
    std::vector<std::pair<int, int>> e;
    for (int t = 0; t < T; ++t) {
      if ((rows[s + 1][bit[t] / 16] >> (bit[t] % 16)) & 1) e.push_back({t, encode(s, t)});
    }
    return e;
  };
  std::vector<std::vector<std::pair<int, int>>> entries(S);
  for (int s = 0; s < S; ++s) entries[s] = needed(s);
  std::stable_sort(order.begin(), order.end(),
                   [&](int x, int y) { return entries[x].size() > entries[y].size(); });
  for (int s : order) {
    pk.taken_bases.clear();
    action_base[s + 1] = pk.Place(entries[s]);
  }
  std::vector<int> action = pk.value;
  size_t asize = action.size();
  for (int s = 0; s <= S; ++s) asize = std::max<size_t>(asize, action_base[s] + T);
  action.resize(asize, 0);
  // Gotos: rows per state, columns per nonterminal.
  Packer gp(true);
  std::vector<int> goto_base(S + 1, 0);
  std::vector<std::vector<std::pair<int, int>>> gentries(S);
  for (int s = 0; s < S; ++s) {
    for (auto& [x, t] : a.states[s].transitions) {
      if (x < T) continue;
      int v = folds[t] >= 0 ? 3 * kSqlDivisor + folds[t] : kSqlDivisor + t + 1;
      gentries[s].push_back({x - T, v});
    }
  }
  std::stable_sort(order.begin(), order.end(),
                   [&](int x, int y) { return gentries[x].size() > gentries[y].size(); });
  for (int s : order) {
    gp.taken_bases.clear();
    goto_base[s + 1] = gentries[s].empty() ? 0 : gp.Place(gentries[s]);
  }
  std::vector<int> goto_table = gp.value;
  goto_table.resize(std::max<size_t>(goto_table.size(), 1), 0);
  std::vector<int> rule_length(max_rule + 1, 0);
  std::vector<int> lhs_column(max_rule + 1, 0);
  rule_length[0] = 2;
  for (size_t r = 1; r < g.rules.size(); ++r) {
    rule_length[g.rules[r].number] = static_cast<int>(g.rules[r].rhs.size());
    lhs_column[g.rules[r].number] = g.rules[r].lhs;
  }
  std::vector<int> cont(S + 1, 1), alt(S + 1, 1);
  for (int s = 0; s < S; ++s) {
    cont[s + 1] = c.cont[s];
    alt[s + 1] = c.alt[s];
  }
  int set_words = (T + 15) / 16;
  std::vector<int> never(set_words, 0), sync(set_words, 0);
  for (int t : g.nosearch) never[t / 16] |= 1 << (t % 16);
  for (int t : g.sync) sync[t / 16] |= 1 << (t % 16);
  std::vector<int> bits_flat;
  for (auto& row : class_rows) bits_flat.insert(bits_flat.end(), row.begin(), row.end());
  std::vector<int> row_class_v(row_class.begin(), row_class.end());
  Writer w;
  w.out << "// SQL parser tables generated by hb_lalr_gen from " << base_name << "; do not edit.\n"
        << "// " << T << " terminals, " << N << " nonterminals, " << S << " states, rules up to "
        << max_rule << ".\n#include \"sql/front/sql_grammar_tables.h\"\n\nnamespace {\n\n";
  w.Array("int32_t", "kAction", action);
  w.Array("int32_t", "kActionBase", action_base);
  w.Array("int16_t", "kTermBit", bit);
  w.Array("int16_t", "kRowClass", row_class_v);
  w.Array("uint16_t", "kRowBits", bits_flat);
  w.Array("int32_t", "kGoto", goto_table);
  w.Array("int32_t", "kGotoBase", goto_base);
  w.Array("int16_t", "kLhsColumn", lhs_column);
  w.Array("int16_t", "kRuleLength", rule_length);
  w.Array("int16_t", "kContinuation", cont);
  w.Array("int16_t", "kAlternative", alt);
  w.Array("uint16_t", "kNeverSearch", never);
  w.Array("uint16_t", "kSync", sync);
  w.out << "\n}  // namespace\n\nextern const SqlGrammarTables " << name
        << ";\nconst SqlGrammarTables " << name << " = {\n    " << S + 1 << ", " << max_rule + 1
        << ", " << T << ", " << N << ", " << class_rows.size()
        << ", kAction, kActionBase, kTermBit, kRowClass, kRowBits,\n"
        << "    kGoto, kGotoBase, kLhsColumn, kRuleLength, kContinuation, kAlternative, "
           "kNeverSearch, "
           "kSync};\n";
  return w.out.str();
}

// A plain description of the automaton, for reading the tables back.
std::string AutomatonDump(const Grammar& g, const Automaton& a, const Tables& tb,
                          const Continuations& c) {
  std::ostringstream o;
  int T = g.terminal_count;
  o << "terminals " << T << "\nnonterminals " << g.nnames.size() << "\nrules " << g.rules.size()
    << "\nstates " << a.states.size() << "\naccept " << a.accept_state << "\n";
  for (size_t r = 0; r < g.rules.size(); ++r) {
    o << "rule " << r << " " << g.rules[r].number << " " << g.rules[r].lhs << " "
      << g.rules[r].rhs.size() << "\n";
  }
  for (size_t s = 0; s < a.states.size(); ++s) {
    o << "state " << s << " " << c.cont[s] << " " << c.alt[s] << "\n";
    for (int t = 0; t < T; ++t) {
      const Act& ac = tb.action[s][t];
      if (ac.kind == kShift) o << "shift " << t << " " << ac.target << "\n";
      if (ac.kind == kReduce) o << "reduce " << t << " " << ac.target << "\n";
    }
    for (auto& [x, t] : a.states[s].transitions) {
      if (x >= T) o << "goto " << x - T << " " << t << "\n";
    }
  }
  std::vector<int> folds = FoldedStates(g, a, tb);
  for (size_t s = 0; s < a.states.size(); ++s) {
    if (folds[s] >= 0) o << "fold " << s << " " << folds[s] << "\n";
  }
  for (int t : g.sync) o << "sync " << t << "\n";
  for (int t : g.nosearch) o << "nosearch " << t << "\n";
  return o.str();
}

std::string Header(const std::string& name, bool sql) {
  std::ostringstream o;
  o << "// Generated by hb_lalr_gen; do not edit.\n#pragma once\n\n";
  if (sql) {
    o << "#include \"sql/front/sql_grammar_tables.h\"\n\nextern const SqlGrammarTables " << name
      << ";\n";
  } else {
    o << "#include \"sql/front/gpr_parser.h\"\n\nextern const GprGrammar " << name << ";\n";
  }
  return o.str();
}

}  // namespace

int main(int argc, char** argv) {
  std::string grammar_path, generic_out, generic_header, sql_out, sql_header, dump_out,
      name = "kGrammar";
  std::string sql_name = "kSqlGrammar";
  int row_bits = kSqlRowWords * 16;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Fail(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--generic")
      generic_out = value();
    else if (arg == "--generic-header")
      generic_header = value();
    else if (arg == "--sql")
      sql_out = value();
    else if (arg == "--sql-header")
      sql_header = value();
    else if (arg == "--automaton")
      dump_out = value();
    else if (arg == "--name")
      name = value();
    else if (arg == "--sql-name")
      sql_name = value();
    else if (arg == "--row-bits")
      row_bits = std::atoi(value().c_str());
    else if (!arg.empty() && arg[0] == '-')
      Fail("unknown option " + arg);
    else
      grammar_path = arg;
  }
  if (grammar_path.empty()) {
    Fail(
        "usage: hb_lalr_gen GRAMMAR [--generic OUT.cc] [--generic-header OUT.h] [--name NAME]\n"
        "       [--sql OUT.cc] [--sql-header OUT.h] [--sql-name NAME] [--row-bits N] [--automaton "
        "OUT.txt]");
  }
  if (row_bits < 1 || row_bits > kSqlRowWords * 16) Fail("--row-bits must be 1 to 176");
  std::string base_name = grammar_path.substr(grammar_path.find_last_of('/') + 1);
  Grammar g = ReadGrammar(grammar_path);
  std::vector<int> min_len;
  CheckGrammar(g, &min_len);
  Automaton a = BuildLr0(g);
  Lookaheads la = ComputeLalr(g, a);
  Tables tb = BuildActions(g, a, la);
  Continuations c = ComputeContinuations(g, a, tb, min_len);
  if (!generic_out.empty()) WriteFile(generic_out, GenericBackEnd(g, a, tb, c, name, base_name));
  if (!generic_header.empty()) WriteFile(generic_header, Header(name, false));
  if (!sql_out.empty()) CheckContinuations(g, a, tb, c);
  if (!sql_out.empty()) WriteFile(sql_out, SqlBackEnd(g, a, tb, c, sql_name, base_name, row_bits));
  if (!sql_header.empty()) WriteFile(sql_header, Header(sql_name, true));
  if (!dump_out.empty()) WriteFile(dump_out, AutomatonDump(g, a, tb, c));
  return 0;
}
