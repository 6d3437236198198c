// Lexer table builder: regular definitions to an NFA, subset construction,
// minimisation, character classes from identical columns, row-displaced
// packing with check and default columns, and the keyword hash table laid out
// by the scanner's own hash. Writes the generic scanner's lexer descriptor.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

[[noreturn]] void Fail(const std::string& msg) {
  std::cerr << msg << "\n";
  std::exit(1);
}

// ---------------------------------------------------------------- NFA

using CharSet = std::vector<bool>;  // 256 entries

struct NfaState {
  std::vector<std::pair<CharSet, int>> edges;  // on a set of bytes
  std::vector<int> eps;
  int accept_rule = -1;
};

struct Nfa {
  std::vector<NfaState> states;
  int New() {
    states.emplace_back();
    return static_cast<int>(states.size()) - 1;
  }
};

struct Fragment {
  int in;
  int out;
};

// The pattern parser recurses once per parenthesis and per definition used;
// these bounds keep a hostile lexer file from running it out of stack.
constexpr int kMaxDefinitionDepth = 20;
constexpr int kMaxParenthesisDepth = 200;

struct RegexParser {
  const std::string& text;
  size_t pos;
  Nfa& nfa;
  const std::map<std::string, std::string>& defs;
  std::string where;
  int depth;    // definitions being expanded
  int nesting;  // open parentheses, those of enclosing definitions included

  [[noreturn]] void Error(const std::string& m) {
    std::string shown = text.size() > 72 ? text.substr(0, 72) + "..." : text;
    Fail(where + ": " + m + " in pattern '" + shown + "'");
  }

  int Escape() {
    if (pos >= text.size()) Error("escape at end");
    char c = text[pos++];
    switch (c) {
      case 'n':
        return '\n';
      case 't':
        return '\t';
      case 'r':
        return '\r';
      case 'f':
        return '\f';
      case 'v':
        return '\v';
      case '0':
        return 0;
      case 'x': {
        if (pos + 2 > text.size() || !std::isxdigit(static_cast<unsigned char>(text[pos])) ||
            !std::isxdigit(static_cast<unsigned char>(text[pos + 1]))) {
          Error("\\x needs two hexadecimal digits");
        }
        int v = std::stoi(text.substr(pos, 2), nullptr, 16);
        pos += 2;
        return v;
      }
      default:
        return static_cast<unsigned char>(c);
    }
  }

  Fragment Set(const CharSet& cs) {
    int a = nfa.New();
    int b = nfa.New();
    nfa.states[a].edges.push_back({cs, b});
    return {a, b};
  }

  Fragment Atom() {
    if (pos >= text.size()) Error("pattern ends early");
    char c = text[pos];
    if (c == '(') {
      if (nesting >= kMaxParenthesisDepth)
        Error("parentheses nest deeper than " + std::to_string(kMaxParenthesisDepth));
      ++pos;
      ++nesting;
      Fragment f = Alternation();
      --nesting;
      if (pos >= text.size() || text[pos] != ')') Error("')' expected");
      ++pos;
      return f;
    }
    if (c == '[') {
      ++pos;
      CharSet cs(256, false);
      bool negate = pos < text.size() && text[pos] == '^';
      if (negate) ++pos;
      bool first = true;
      while (pos < text.size() && (text[pos] != ']' || first)) {
        first = false;
        int lo = text[pos] == '\\' ? (++pos, Escape()) : static_cast<unsigned char>(text[pos++]);
        int hi = lo;
        if (pos + 1 < text.size() && text[pos] == '-' && text[pos + 1] != ']') {
          ++pos;
          hi = text[pos] == '\\' ? (++pos, Escape()) : static_cast<unsigned char>(text[pos++]);
        }
        if (hi < lo) Error("reversed range");
        for (int i = lo; i <= hi; ++i) cs[i] = true;
      }
      if (pos >= text.size()) Error("']' expected");
      ++pos;
      if (negate) cs.flip();
      return Set(cs);
    }
    if (c == '"') {
      ++pos;
      int start = nfa.New();
      int cur = start;
      while (pos < text.size() && text[pos] != '"') {
        int ch = text[pos] == '\\' ? (++pos, Escape()) : static_cast<unsigned char>(text[pos++]);
        CharSet cs(256, false);
        cs[ch] = true;
        int next = nfa.New();
        nfa.states[cur].edges.push_back({cs, next});
        cur = next;
      }
      if (pos >= text.size()) Error("'\"' expected");
      ++pos;
      if (cur == start) Error("empty string");
      return {start, cur};
    }
    if (c == '{') {
      size_t close = text.find('}', pos);
      if (close == std::string::npos) Error("'}' expected");
      std::string name = text.substr(pos + 1, close - pos - 1);
      pos = close + 1;
      auto it = defs.find(name);
      if (it == defs.end()) Error("no definition '" + name + "'");
      if (depth >= kMaxDefinitionDepth) Error("definitions nest too deep");
      RegexParser sub{it->second, 0, nfa, defs, where, depth + 1, nesting};
      Fragment f = sub.Alternation();
      if (sub.pos != it->second.size())
        sub.Error("unexpected '" + it->second.substr(sub.pos, 1) + "'");
      return f;
    }
    if (c == '.') {
      ++pos;
      return Set(CharSet(256, true));
    }
    if (c == ')' || c == '|' || c == '*' || c == '+' || c == '?')
      Error(std::string("unexpected '") + c + "'");
    ++pos;
    int ch = c == '\\' ? Escape() : static_cast<unsigned char>(c);
    CharSet cs(256, false);
    cs[ch] = true;
    return Set(cs);
  }

  Fragment Repeat() {
    Fragment f = Atom();
    while (pos < text.size() && (text[pos] == '*' || text[pos] == '+' || text[pos] == '?')) {
      char op = text[pos++];
      int a = nfa.New();
      int b = nfa.New();
      nfa.states[a].eps.push_back(f.in);
      nfa.states[f.out].eps.push_back(b);
      if (op != '+') nfa.states[a].eps.push_back(b);
      if (op != '?') nfa.states[f.out].eps.push_back(f.in);
      f = {a, b};
    }
    return f;
  }

  Fragment Sequence() {
    Fragment f = Repeat();
    while (pos < text.size() && text[pos] != '|' && text[pos] != ')') {
      Fragment g = Repeat();
      nfa.states[f.out].eps.push_back(g.in);
      f.out = g.out;
    }
    return f;
  }

  Fragment Alternation() {
    Fragment f = Sequence();
    while (pos < text.size() && text[pos] == '|') {
      ++pos;
      Fragment g = Sequence();
      int a = nfa.New();
      int b = nfa.New();
      nfa.states[a].eps = {f.in, g.in};
      nfa.states[f.out].eps.push_back(b);
      nfa.states[g.out].eps.push_back(b);
      f = {a, b};
    }
    return f;
  }
};

// ---------------------------------------------------------------- input

struct LexerDefinition {
  std::string file;
  int hash_size = 1;
  int token_count = 0;
  std::vector<std::string> names;
  std::vector<int> keywords;
  std::vector<int> rule_code;  // token code of each pattern; -1 skips
  Nfa nfa;
  int nfa_start = 0;
};

std::string Trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return "";
  size_t b = s.find_last_not_of(" \t\r");
  return s.substr(a, b - a + 1);
}

LexerDefinition ReadDefinition(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail(path + ": cannot open");
  LexerDefinition sp;
  sp.file = path;
  sp.nfa_start = sp.nfa.New();
  std::map<std::string, std::string> defs;
  std::string line;
  int lineno = 0;
  int declared_count = -1;
  while (std::getline(in, line)) {
    ++lineno;
    std::string where = path + ":" + std::to_string(lineno);
    std::string t = Trim(line);
    if (t.empty() || t[0] == '#') continue;
    std::istringstream ls(t);
    std::string word;
    ls >> word;
    auto rest = [&]() {
      std::string r;
      std::getline(ls, r);
      return Trim(r);
    };
    auto read_name = [&](std::string& s) {
      std::string r = rest();
      if (r.empty() || r[0] != '"') Fail(where + ": quoted name expected");
      size_t close = r.find('"', 1);
      if (close == std::string::npos) Fail(where + ": unterminated name");
      std::string name = r.substr(1, close - 1);
      s = Trim(r.substr(close + 1));
      return name;
    };
    auto add_pattern = [&](const std::string& pattern, int code) {
      if (pattern.empty()) Fail(where + ": pattern expected");
      RegexParser rp{pattern, 0, sp.nfa, defs, where, 0, 0};
      Fragment f = rp.Alternation();
      if (rp.pos != pattern.size()) rp.Error("unexpected '" + pattern.substr(rp.pos, 1) + "'");
      int rule = static_cast<int>(sp.rule_code.size());
      sp.rule_code.push_back(code);
      sp.nfa.states[sp.nfa_start].eps.push_back(f.in);
      sp.nfa.states[f.out].accept_rule = rule;
    };
    if (word == "hash") {
      ls >> sp.hash_size;
      if (sp.hash_size < 1 || sp.hash_size > 32767) Fail(where + ": hash size must be 1 to 32767");
    } else if (word == "tokens") {
      ls >> declared_count;
    } else if (word == "def") {
      std::string name;
      ls >> name;
      defs[name] = rest();
    } else if (word == "token" || word == "keyword") {
      int code = -1;
      ls >> code;
      if (code < 0 || code > 32000) Fail(where + ": token code expected");
      std::string after;
      std::string name = read_name(after);
      if (static_cast<int>(sp.names.size()) <= code) sp.names.resize(code + 1);
      if (!sp.names[code].empty())
        Fail(where + ": token code " + std::to_string(code) + " named twice");
      sp.names[code] = name;
      if (word == "keyword") {
        for (char c : name) {
          if (std::islower(static_cast<unsigned char>(c)))
            Fail(where + ": keyword '" + name + "' must be upper case");
        }
        if (name.empty() || !std::isalpha(static_cast<unsigned char>(name[0])) ||
            name.size() > 32) {
          Fail(where + ": keyword '" + name +
               "' must start with a letter and be at most 32 characters");
        }
        sp.keywords.push_back(code);
      } else if (!after.empty()) {
        if (after[0] != '=') Fail(where + ": '=' expected before the pattern");
        add_pattern(Trim(after.substr(1)), code);
      }
    } else if (word == "skip") {
      add_pattern(rest(), -1);
    } else {
      Fail(where + ": unknown line '" + word + "'");
    }
  }
  sp.token_count = std::max<int>(2, static_cast<int>(sp.names.size()));
  if (declared_count >= 0) {
    if (declared_count < static_cast<int>(sp.names.size()))
      Fail(path + ": 'tokens' is below a named code");
    sp.token_count = declared_count;
  }
  sp.names.resize(sp.token_count);
  if (sp.rule_code.empty()) Fail(path + ": no patterns");
  return sp;
}

// ---------------------------------------------------------------- DFA

struct Dfa {
  std::vector<std::vector<int>> next;  // [state][byte] -> state or -1
  std::vector<int> accept;             // token code, -1 skip, -2 none
};

constexpr int kNoAccept = -2;

Dfa Subset(const LexerDefinition& sp) {
  const Nfa& nfa = sp.nfa;
  auto closure = [&](std::set<int> s) {
    std::vector<int> work(s.begin(), s.end());
    while (!work.empty()) {
      int x = work.back();
      work.pop_back();
      for (int y : nfa.states[x].eps) {
        if (s.insert(y).second) work.push_back(y);
      }
    }
    return s;
  };
  Dfa d;
  std::map<std::set<int>, int> index;
  std::vector<std::set<int>> sets;
  sets.push_back(closure({sp.nfa_start}));
  index[sets[0]] = 0;
  for (size_t i = 0; i < sets.size(); ++i) {
    std::vector<int> row(256, -1);
    int best_rule = -1;
    for (int x : sets[i]) {
      int r = nfa.states[x].accept_rule;
      if (r >= 0 && (best_rule < 0 || r < best_rule)) best_rule = r;
    }
    if (i == 0 && best_rule >= 0) Fail(sp.file + ": a pattern matches the empty text");
    for (int c = 0; c < 256; ++c) {
      std::set<int> move;
      for (int x : sets[i]) {
        for (auto& [cs, y] : nfa.states[x].edges) {
          if (cs[c]) move.insert(y);
        }
      }
      if (move.empty()) continue;
      std::set<int> cl = closure(move);
      auto it = index.find(cl);
      if (it == index.end()) {
        it = index.emplace(cl, static_cast<int>(sets.size())).first;
        sets.push_back(cl);
      }
      row[c] = it->second;
    }
    d.next.push_back(row);
    d.accept.push_back(best_rule < 0 ? kNoAccept : sp.rule_code[best_rule]);
  }
  return d;
}

// Moore's partition refinement, then renumbering from the start state in
// breadth-first order so that the output does not depend on set order.
Dfa Minimise(const Dfa& d) {
  size_t n = d.next.size();
  std::vector<int> block(n);
  {
    std::map<int, int> by_accept;
    for (size_t s = 0; s < n; ++s) {
      auto it = by_accept.emplace(d.accept[s], static_cast<int>(by_accept.size())).first;
      block[s] = it->second;
    }
  }
  for (;;) {
    std::map<std::vector<int>, int> sig_index;
    std::vector<int> nb(n);
    for (size_t s = 0; s < n; ++s) {
      std::vector<int> sig{block[s]};
      for (int c = 0; c < 256; ++c) sig.push_back(d.next[s][c] < 0 ? -1 : block[d.next[s][c]]);
      auto it = sig_index.emplace(sig, static_cast<int>(sig_index.size())).first;
      nb[s] = it->second;
    }
    bool same = sig_index.size() == std::set<int>(block.begin(), block.end()).size();
    block = nb;
    if (same) break;
  }
  std::vector<int> order(n, -1);
  std::vector<int> rep;
  std::vector<int> queue{0};
  std::map<int, int> block_to_new;
  block_to_new[block[0]] = 0;
  rep.push_back(0);
  for (size_t i = 0; i < rep.size(); ++i) {
    int s = rep[i];
    for (int c = 0; c < 256; ++c) {
      int t = d.next[s][c];
      if (t < 0) continue;
      if (block_to_new.emplace(block[t], static_cast<int>(rep.size())).second) rep.push_back(t);
    }
  }
  Dfa m;
  for (int s : rep) {
    std::vector<int> row(256, -1);
    for (int c = 0; c < 256; ++c) {
      if (d.next[s][c] >= 0) row[c] = block_to_new[block[d.next[s][c]]];
    }
    m.next.push_back(row);
    m.accept.push_back(d.accept[s]);
  }
  return m;
}

// ---------------------------------------------------------------- output

int32_t TextHash31(const std::string& s, int32_t m) {
  uint32_t h = 0;
  for (int i = static_cast<int>(s.size()) - 1; i >= 0; --i) {
    h = h * 31u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(s[i])));
  }
  return static_cast<int32_t>(h % static_cast<uint32_t>(m <= 0 ? 1 : m));
}

template <typename V>
void Array(std::ostringstream& out, const char* type, const std::string& name,
           const std::vector<V>& v) {
  out << "constexpr " << type << " " << name << "[" << std::max<size_t>(v.size(), 1) << "] = {";
  for (size_t i = 0; i < v.size(); ++i) out << (i % 16 == 0 ? "\n    " : " ") << v[i] << ",";
  if (v.empty()) out << "0";
  out << "\n};\n";
}

std::string CString(const std::string& s) {
  std::ostringstream o;
  o << '"';
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      o << '\\' << c;
    } else if (c < 32 || c >= 127 || c == '?') {
      // Octal escapes keep trigraph-looking and binary bytes literal.
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\%03o", c);
      o << buf;
    } else {
      o << c;
    }
  }
  o << '"';
  return o.str();
}

constexpr int kEndClassByte = 256;

std::string Emit(const LexerDefinition& sp, const Dfa& d, const std::string& name,
                 const std::string& base_name) {
  int S = static_cast<int>(d.next.size());
  // Classes: bytes with identical columns share one; end of input has its own.
  std::map<std::vector<int>, int> col_index;
  std::vector<int> class_map(257, 0);
  std::vector<int> class_byte;  // a representative byte of each class
  for (int c = 0; c < 256; ++c) {
    std::vector<int> col(S);
    for (int s = 0; s < S; ++s) col[s] = d.next[s][c];
    auto it = col_index.emplace(col, static_cast<int>(class_byte.size())).first;
    if (it->second == static_cast<int>(class_byte.size())) class_byte.push_back(c);
    class_map[c] = it->second;
  }
  int end_class = static_cast<int>(class_byte.size());
  class_map[kEndClassByte] = end_class;
  int C = end_class + 1;
  // Final states: one per accepted code, in order of first need.
  std::vector<int> accept_codes;
  auto final_of = [&](int code) {
    auto it = std::find(accept_codes.begin(), accept_codes.end(), code);
    if (it == accept_codes.end()) {
      accept_codes.push_back(code);
      return -static_cast<int>(accept_codes.size());
    }
    return -static_cast<int>(it - accept_codes.begin()) - 1;
  };
  final_of(0);
  final_of(1);
  std::vector<int> defaults(S);
  std::vector<std::vector<std::pair<int, int>>> rows(S);
  for (int s = 0; s < S; ++s) {
    int code = d.accept[s] == kNoAccept ? 0 : d.accept[s];
    // The character that cannot continue the token leads to the final state
    // of what was read so far; it is given back to the input.
    defaults[s] = final_of(code);
    for (int c = 0; c < end_class; ++c) {
      int t = d.next[s][class_byte[c]];
      if (t >= 0) rows[s].push_back({c, t});
    }
  }
  rows[0].push_back({end_class, final_of(1)});
  // Row displacement with an owner check column.
  std::vector<int> base(S, 0);
  std::vector<int> check, next;
  std::vector<int> order(S);
  for (int s = 0; s < S; ++s) order[s] = s;
  std::stable_sort(order.begin(), order.end(),
                   [&](int x, int y) { return rows[x].size() > rows[y].size(); });
  for (int s : order) {
    for (int b = 0;; ++b) {
      bool ok = true;
      for (auto& [c, t] : rows[s]) {
        size_t i = static_cast<size_t>(b + c);
        if (i < check.size() && check[i] >= 0) {
          ok = false;
          break;
        }
      }
      if (!ok) continue;
      base[s] = b;
      for (auto& [c, t] : rows[s]) {
        size_t i = static_cast<size_t>(b + c);
        if (i >= check.size()) {
          check.resize(i + 1, -1);
          next.resize(i + 1, 0);
        }
        check[i] = s;
        next[i] = t;
      }
      break;
    }
  }
  size_t size = check.size();
  for (int s = 0; s < S; ++s) size = std::max<size_t>(size, base[s] + C);
  check.resize(size, -1);
  next.resize(size, 0);
  if (size > 32767 || S > 32767) Fail(sp.file + ": tables too large for 16-bit entries");
  // Keyword hash: one slot per keyword, no probing, so a collision is fatal.
  std::vector<int> hash(sp.hash_size, -1);
  std::ostringstream collisions;
  for (int k : sp.keywords) {
    int slot = TextHash31(sp.names[k], sp.hash_size);
    if (hash[slot] >= 0) {
      collisions << sp.file << ": keywords '" << sp.names[hash[slot]] << "' and '" << sp.names[k]
                 << "' share hash slot " << slot << " of " << sp.hash_size << "\n";
    } else {
      hash[slot] = k;
    }
  }
  if (!collisions.str().empty())
    Fail(collisions.str() + sp.file + ": choose another hash size; no tables written");
  std::vector<int> offsets{0};
  std::string pool;
  for (const std::string& n : sp.names) {
    pool += n;
    offsets.push_back(static_cast<int>(pool.size()));
  }
  if (pool.size() > 65535) Fail(sp.file + ": name pool too large");
  std::ostringstream out;
  out << "// Lexer tables generated by hb_lex_gen from " << base_name << "; do not edit.\n// "
      << sp.token_count << " tokens, " << sp.keywords.size() << " keywords, " << S
      << " DFA states, " << accept_codes.size() << " final states, " << C << " character classes.\n"
      << "#include \"sql/front/glx_scanner.h\"\n\nnamespace {\n\n";
  Array(out, "int32_t", "kCounts", std::vector<int>{sp.token_count, sp.hash_size});
  Array(out, "int16_t", "kClassMap", class_map);
  Array(out, "int16_t", "kBase", base);
  Array(out, "int16_t", "kDefault", defaults);
  Array(out, "int16_t", "kCheck", check);
  Array(out, "int16_t", "kNext", next);
  Array(out, "int16_t", "kAccept", accept_codes);
  Array(out, "int16_t", "kKeywordHash", hash);
  Array(out, "uint16_t", "kNameOffsets", offsets);
  out << "constexpr char kNamePool[] =";
  for (size_t i = 0; i < sp.names.size(); ++i)
    out << (i % 8 == 0 ? "\n    " : " ") << CString(sp.names[i]);
  if (sp.names.empty()) out << " \"\"";
  out << ";\n\n}  // namespace\n\nextern const GlxLexDescriptor " << name
      << ";\nconst GlxLexDescriptor " << name
      << " = {kCounts, kClassMap, kBase, kDefault, kCheck,\n    kNext, kAccept, kKeywordHash, "
      << "kNameOffsets, kNamePool};\n";
  return out.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (!f) Fail(path + ": cannot write");
  f << text;
  if (!f) Fail(path + ": write failed");
}

}  // namespace

int main(int argc, char** argv) {
  std::string def_path, out, header, name = "kLexer";
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Fail(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--out")
      out = value();
    else if (arg == "--header")
      header = value();
    else if (arg == "--name")
      name = value();
    else if (!arg.empty() && arg[0] == '-')
      Fail("unknown option " + arg);
    else
      def_path = arg;
  }
  if (def_path.empty() || out.empty())
    Fail("usage: hb_lex_gen LEXER --out OUT.cc [--header OUT.h] [--name NAME]");
  LexerDefinition sp = ReadDefinition(def_path);
  Dfa d = Minimise(Subset(sp));
  std::string base_name = def_path.substr(def_path.find_last_of('/') + 1);
  WriteFile(out, Emit(sp, d, name, base_name));
  if (!header.empty()) {
    WriteFile(header,
              "// Generated by hb_lex_gen; do not edit.\n#pragma once\n\n#include "
              "\"sql/front/glx_scanner.h\"\n\nextern const GlxLexDescriptor " +
                  name + ";\n");
  }
  return 0;
}
