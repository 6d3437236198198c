// Reading dict/stmts/*.dst and compiling each statement to the program
// assembler's text. One item a line, words split at blanks, ';' starting a
// comment, 'quoted' texts kept whole. A statement's head declares its
// blocks and fields, `code` starts its steps, `end` closes it.
#include <algorithm>
#include <fstream>
#include <memory>
#include <map>
#include <set>
#include <sstream>

#include "interp/opcode_table.h"
#include "platform/packed_decimal.h"
#include "tools/dictgen/stmt_model.h"

namespace dictgen {
namespace {

constexpr int32_t kRowOffset = 116;  // the row of a record block: word 29 on
constexpr int32_t kWordAccess = 3, kWordLid = 21, kWordKind = 22;
// A table block's access word: written by the statement, or only read. A
// shared statement's table that it only reads lets it run outside a
// transaction: the kernel's start reads the catalog before the transaction
// databank is open, and the per-thread lookups serve sessions that have
// none (a prepare outside a transaction); a private statement runs in
// dictionary work, and its tables count as written.
constexpr int32_t kAccessTable = 3, kAccessRead = 4, kLidTable = 1;
// A work table of one run of the statement: its own table number, access
// word and databank (the work databank's logical id).
constexpr int32_t kWorkKind = 13, kWorkTable = -1, kAccessWork = 1, kLidWork = 4;

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> out;
  std::string cur;
  bool quoted = false;
  for (char c : line) {
    if (c == '\'') quoted = !quoted;
    if (!quoted && c == ';') break;
    if (!quoted && (c == ' ' || c == '\t' || c == '\r')) {
      if (!cur.empty()) out.push_back(cur), cur.clear();
      continue;
    }
    cur += c;
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

bool Int(const std::string& s, int32_t* v) {
  if (s.empty() || s.size() > 11) return false;
  std::size_t i = s[0] == '-' ? 1 : 0;
  if (i == s.size()) return false;
  for (std::size_t k = i; k < s.size(); ++k)
    if (s[k] < '0' || s[k] > '9') return false;
  const long long x = std::stoll(s);
  if (x < INT32_MIN || x > INT32_MAX) return false;
  *v = static_cast<int32_t>(x);
  return true;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char* d = "0123456789ABCDEF";
  std::string s = "x'";
  for (uint8_t b : bytes) s += d[b >> 4], s += d[b & 15];
  return s + "'";
}

bool IsInt(Form f) {
  return f == Form::kInt || f == Form::kInt64 || f == Form::kInt5 || f == Form::kInt3;
}

// The table a placeholder block names until its caller replaces it.
constexpr int32_t kPlaceholderTable = 1;

struct Failure {
  std::string message;
};

// A named stretch of storage: a column of a block's row or a field of the
// statement's own.
struct Place {
  std::string asm_name;
  int32_t width = 0;
  Form form = Form::kChar;
  std::string init;  // assembler initial value, empty: none
  bool own = false;  // a field of the statement's own (parts may be taken of it)
  bool raw = false;  // a placeholder's or work table's whole row: any field of its width moves in and out
};

class Compiler {
 public:
  Compiler(const Catalog& catalog, Statement* s) : catalog_(catalog), s_(s) {}
  void Head(const std::vector<std::string>& t);
  void Step(std::vector<std::string> t);
  void Finish();

 private:
  const Table& TableOf(int32_t number) const {
    for (const Table& t : catalog_.tables)
      if (t.number == number) return t;
    throw Failure{"system table " + std::to_string(number) + " is not in the catalog"};
  }
  const StmtBlock& Block(const std::string& name) const {
    for (const StmtBlock& b : s_->blocks)
      if (b.name == name) return b;
    throw Failure{"unknown block '" + name + "'"};
  }
  Place& Ref(const std::string& ref);
  void DeclareOwn(const std::vector<std::string>& t);
  std::vector<uint8_t> Initial(const std::string& value, Form form, int32_t width) const;
  // Writes an instruction and counts its words (BEG is at position 1).
  void Emit(const std::string& line) {
    const int32_t op = interp::OpcodeByName(line.substr(0, line.find(' ')));
    if (op == 0) throw Failure{"unknown opcode in '" + line + "'"};
    code_ << "  " << line << "\n";
    position_ += interp::kOpcodes[op].length;
  }

  const Catalog& catalog_;
  Statement* s_;
  std::ostringstream head_, code_;
  std::map<std::string, Place> places_;
  std::vector<std::string> place_order_;
  std::map<std::string, std::string> top_;  // block -> its scan's loop label
  std::set<std::string> written_;            // blocks a step inserts, deletes or updates
  std::map<std::string, int32_t> top_position_;
  int32_t position_ = 1 + interp::kOpcodes[interp::kOpBEG].length;
  int32_t labels_ = 0;
};

std::vector<uint8_t> Compiler::Initial(const std::string& given, Form form, int32_t width) const {
  std::vector<uint8_t> b(static_cast<std::size_t>(width), 255);
  if (given == "null") return b;
  // version: the catalog's version text.
  const std::string value = given == "version" ? "'" + catalog_.version + "'" : given;
  if (value.size() >= 2 && value.front() == '\'' && value.back() == '\'' &&
      (form == Form::kChar || form == Form::kByte)) {
    const std::string text = value.substr(1, value.size() - 2);
    if (static_cast<int32_t>(text.size()) > width - 1) throw Failure{"value " + value + " too long"};
    b.assign(b.size(), form == Form::kChar ? ' ' : 0);
    b[0] = 0;
    for (std::size_t k = 0; k < text.size(); ++k) b[k + 1] = static_cast<uint8_t>(text[k]);
    return b;
  }
  int32_t n = 0;
  if (IsInt(form) && Int(value, &n)) {
    value_descriptor d;
    d.precision = 2 * width - 3;
    if (int_to_decimal(ByteSpan(b.data(), b.size()), d, n) != 0)
      throw Failure{"value " + value + " does not fit the field"};
    return b;
  }
  throw Failure{"a first value is null, a number of an integer field or a quoted text of a char or "
                "byte field, not " + value};
}

Place& Compiler::Ref(const std::string& ref) {
  auto p = places_.find(ref);
  if (p != places_.end()) return p->second;
  const std::size_t dot = ref.find('.');
  if (dot == std::string::npos) throw Failure{"unknown field '" + ref + "'"};
  const StmtBlock& b = Block(ref.substr(0, dot));
  const std::string col = ref.substr(dot + 1);
  if (b.table == kPlaceholderTable || b.kind == kWorkKind) {
    // The placeholder's or work table's whole row, as raw bytes.
    if (col != "RECORD") throw Failure{"a placeholder or work block has only column RECORD"};
    Place pl;
    pl.asm_name = b.name + "$RECORD";
    pl.width = b.record_length;
    pl.form = Form::kByte;
    pl.raw = true;
    head_ << "field " << pl.asm_name << " alias " << b.name << " " << kRowOffset << " "
          << pl.width << "\n";
    place_order_.push_back(ref);
    return places_[ref] = pl;
  }
  const Table& t = TableOf(b.table);
  int32_t at = -1;
  const Column* c = nullptr;
  if (b.kind == 1) {
    for (const Column& x : t.columns)
      if (x.name == col) c = &x, at = x.offset;
  } else {
    for (const Index& ix : t.indexes) {
      if (ix.number != b.number) continue;
      int32_t pos = 0;
      for (const std::string& k : ix.key_columns)
        for (const Column& x : t.columns)
          if (x.name == k) {
            if (k == col) c = &x, at = pos;
            pos += FormWidth(x.form, x.length);
          }
    }
  }
  if (c == nullptr) throw Failure{"block '" + b.name + "' has no column " + col};
  Place pl;
  pl.asm_name = b.name + "$" + col;
  pl.width = FormWidth(c->form, c->length);
  pl.form = c->form;
  head_ << "field " << pl.asm_name << " alias " << b.name << " " << kRowOffset + at << " "
        << pl.width << "\n";
  place_order_.push_back(ref);
  return places_[ref] = pl;
}

// field NAME FORM [LENGTH] [= VALUE]
void Compiler::DeclareOwn(const std::vector<std::string>& t) {
  if (t.size() < 3) throw Failure{"field needs a name and a form"};
  const std::string& name = t[1];
  if (places_.count(name) || name.find('.') != std::string::npos)
    throw Failure{"field '" + name + "' declared twice or badly named"};
  static const std::map<std::string, Form> forms = {
      {"int", Form::kInt},   {"int64", Form::kInt64}, {"int5", Form::kInt5},
      {"int3", Form::kInt3}, {"char", Form::kChar},   {"byte", Form::kByte},
      {"text3", Form::kText3}};
  auto f = forms.find(t[2]);
  if (f == forms.end()) throw Failure{"unknown form '" + t[2] + "'"};
  std::size_t k = 3;
  int32_t length = 0;
  if (!IsInt(f->second)) {
    if (t.size() < 4 || !Int(t[3], &length) || length < 1 || length > 8000)
      throw Failure{"field '" + name + "' needs a length"};
    k = 4;
  }
  Place pl;
  pl.asm_name = name;
  pl.form = f->second;
  pl.width = FormWidth(f->second, length);
  pl.own = true;
  std::string value = "null";
  if (k < t.size()) {
    if (t[k] != "=" || k + 2 != t.size()) throw Failure{"expected '= VALUE' after the field"};
    value = t[k + 1];
  }
  head_ << "field " << name << "$ bytes " << pl.width << "\n";
  head_ << "field " << name << " alias " << name << "$ 0 " << pl.width << " = "
        << Hex(Initial(value, pl.form, pl.width)) << "\n";
  place_order_.push_back(name);
  places_[name] = pl;
}

void Compiler::Head(const std::vector<std::string>& t) {
  const std::string& k = t[0];
  int32_t n = 0;
  if (k == "table" || k == "index") {
    // table B NUMBER | index B NUMBER on TABLEBLOCK
    StmtBlock b;
    b.name = t.size() > 1 ? t[1] : "";
    if (b.name.empty() || b.name.find_first_of(".$") != std::string::npos || places_.count(b.name))
      throw Failure{k + " needs a block name"};
    for (const StmtBlock& o : s_->blocks)
      if (o.name == b.name) throw Failure{"block '" + b.name + "' declared twice"};
    if (t.size() < 3 || (!Int(t[2], &n) && t[2] != "placeholder" && t[2] != "work"))
      throw Failure{k + " needs a number"};
    b.number = n;
    if (k == "table" && t.size() == 4 && t[2] == "work") {
      // table B work RECLEN: a work table made for the statement when it is
      // opened and dropped when it is closed, its whole row (column RECORD)
      // its key.
      if (!Int(t[3], &n) || n < 1 || n > 255) throw Failure{"table B work RECLEN (1 to 255)"};
      b.kind = kWorkKind;
      b.number = kWorkTable;
      b.key_length = b.record_length = n;
    } else if (k == "table" && t.size() == 4 && t[2] == "placeholder") {
      // table B placeholder RECLEN: table 1, which the caller replaces by
      // the table it names before binding; its row is column RECORD.
      if (!Int(t[3], &n) || n < 1 || n > 16000) throw Failure{"table B placeholder RECLEN"};
      b.number = b.table = kPlaceholderTable;
      b.key_length = 0;
      b.record_length = n;
    } else if (k == "table") {
      if (t.size() != 3 || !Int(t[2], &n)) throw Failure{"table B NUMBER"};
      const Table& tab = TableOf(n);
      b.table = n;
      b.key_length = tab.key_length;
      b.record_length = tab.record_length;
    } else {
      if (t.size() != 5 || t[3] != "on") throw Failure{"index B NUMBER on TABLEBLOCK"};
      const StmtBlock& base = Block(t[4]);
      if (base.kind != 1) throw Failure{"an index is on a table block"};
      const Table& tab = TableOf(base.table);
      const Index* ix = nullptr;
      for (const Index& x : tab.indexes)
        if (x.number == n) ix = &x;
      if (ix == nullptr)
        throw Failure{"table " + std::to_string(base.table) + " has no index " + std::to_string(n)};
      b.kind = 2;
      b.table = base.table;
      b.base = base.name;
      b.key_length = DerivedKeyLength(tab, *ix);
      b.record_length = DerivedEntryLength(tab, *ix);
    }
    head_ << "field " << b.name << " table " << b.number << " key " << b.key_length << " reclen "
          << b.record_length << "\n";
    // The row starts null everywhere; the words that name the table.
    const int32_t row = std::max(b.key_length, b.record_length);
    head_ << "field " << b.name << "$row alias " << b.name << " " << kRowOffset << " " << row
          << " = " << Hex(std::vector<uint8_t>(static_cast<std::size_t>(row), 255)) << "\n";
    auto word = [&](int32_t w, int32_t v) {
      head_ << "field " << b.name << "$w" << w << " alias " << b.name << " " << 4 * w << " 4 = "
            << v << "\n";
    };
    if (b.kind == 2) word(0, b.table);
    word(kWordLid, b.kind == kWorkKind ? kLidWork : kLidTable);
    word(kWordKind, b.kind);
    s_->blocks.push_back(b);
  } else if (k == "field") {
    DeclareOwn(t);
  } else if (k == "part") {
    // part NAME of FIELD OFFSET WIDTH: bytes of an own field under a name
    // of their own (a path's elements, an indicator byte).
    int32_t at = 0, width = 0;
    if (t.size() != 6 || t[2] != "of" || !Int(t[4], &at) || !Int(t[5], &width))
      throw Failure{"part NAME of FIELD OFFSET WIDTH"};
    const std::string& name = t[1];
    auto whole = places_.find(t[3]);
    if (whole == places_.end() || !whole->second.own)
      throw Failure{"a part is of a field of the statement's own"};
    if (places_.count(name) || name.find('.') != std::string::npos)
      throw Failure{"field '" + name + "' declared twice or badly named"};
    if (at < 0 || width < 1 || at + width > whole->second.width)
      throw Failure{"part '" + name + "' lies outside its field"};
    head_ << "field " << name << " alias " << t[3] << "$ " << at << " " << width << "\n";
    place_order_.push_back(name);
    places_[name] = Place{name, width, Form::kByte, ""};
  } else if (k == "init") {
    // init B.COL = VALUE
    if (t.size() != 4 || t[2] != "=") throw Failure{"init B.COL = VALUE"};
    Place& p = Ref(t[1]);
    head_ << "field " << p.asm_name << "$init alias " << p.asm_name << " 0 " << p.width << " = "
          << Hex(Initial(t[3], p.form, p.width)) << "\n";
  } else if (k == "in" || k == "out") {
    for (std::size_t i = 1; i < t.size(); ++i)
      (k == "in" ? s_->inputs : s_->outputs).push_back(Ref(t[i]).asm_name);
  } else {
    throw Failure{"unknown item '" + k + "'"};
  }
}

void Compiler::Step(std::vector<std::string> t) {
  while (!t.empty() && t[0].back() == ':') {
    code_ << t[0] << "\n";
    t.erase(t.begin());
  }
  if (t.empty()) return;
  const std::string& k = t[0];
  auto need = [&](std::size_t n, const char* form) {
    if (t.size() != n) throw Failure{std::string("expected: ") + form};
  };
  auto other = [&](const StmtBlock& b) { return b.kind == 2 ? b.base : b.name; };
  if (k == "get" || k == "next" || k == "insert" || k == "delete" || k == "update") {
    need(4, "STEP BLOCK else LABEL");
    if (t[2] != "else") throw Failure{"expected 'else LABEL'"};
    const StmtBlock& b = Block(t[1]);
    if (k == "insert" || k == "delete" || k == "update") written_.insert(b.name);
    // else BLOCK: that block's scan fetches its next row.
    const std::string l = top_.count(t[3]) ? top_[t[3]] : t[3];
    if (k == "get") {
      Emit("GUR " + b.name + ", " + l);
    } else if (k == "next") {
      Emit(b.kind == 2 ? "GNX " + b.name + ", " + other(b) + ", " + l : "GNR " + b.name + ", " + l);
    } else if (k == "insert") {
      Emit("INS " + b.name + ", " + l);
    } else if (k == "delete") {
      Emit("LSR " + b.name);
      Emit("DEL " + b.name + ", " + l);
    } else {
      Emit("UPD " + b.name + ", " + l);
    }
  } else if (k == "find") {
    need(4, "find INDEXBLOCK else LABEL");
    const StmtBlock& b = Block(t[1]);
    if (b.kind != 2) throw Failure{"find reads through an index block"};
    Emit("GUX " + b.name + ", " + b.base + ", " + t[3]);
  } else if (k == "scan") {
    // scan BLOCK else LABEL: the loop's fetch (after a start).
    need(4, "scan BLOCK else LABEL");
    const StmtBlock& b = Block(t[1]);
    // 'repeat', 'back' and 'else' of a block name its one scan.
    if (top_.count(b.name))
      throw Failure{"block '" + b.name + "' is scanned twice: a second scan needs a block of its own"};
    const std::string top = "scan" + std::to_string(++labels_);
    top_[b.name] = top;
    top_position_[b.name] = position_;
    code_ << top << ":\n";
    Emit(b.kind == 2 ? "GNX " + b.name + ", " + other(b) + ", " + t[3]
                     : "GNR " + b.name + ", " + t[3]);
  } else if (k == "position") {
    // position BLOCK: the next fetch starts at the key the block's row
    // holds (fetch code 1, status 1), without clearing it as a start does.
    need(2, "position BLOCK");
    const StmtBlock& b = Block(t[1]);
    if (!places_.count("$one")) {
      head_ << "field $one$ bytes 4\nfield $one alias $one$ 0 4 = 1\n";
      places_["$one"] = Place{"$one", 4, Form::kByte, ""};
    }
    for (int32_t w : {1, 19}) {
      const std::string name = b.name + "$p" + std::to_string(w);
      head_ << "field " << name << " alias " << b.name << " " << 4 * w << " 4\n";
      Emit("MVC " + name + ", 3, $one, 3");
    }
  } else if (k == "start") {
    need(2, "start BLOCK");
    Emit("IGN " + Block(t[1]).name);
  } else if (k == "repeat") {
    need(2, "repeat BLOCK");
    auto top = top_.find(t[1]);
    if (top == top_.end()) throw Failure{"repeat of a block without scan"};
    Emit("JMC " + top->second);
  } else if (k == "lock" || k == "prepare") {
    need(2, "lock|prepare BLOCK");
    Emit((k == "lock" ? "LSR " : "PFU ") + Block(t[1]).name);
  } else if (k == "set" || k == "key") {
    // set A = B: the bytes of a field of the same form and width moved,
    // indicator included (MVC takes the length behind the indicator).
    need(4, "set A = B");
    if (t[2] != "=") throw Failure{"expected 'set A = B'"};
    const Place a = Ref(t[1]), b = Ref(t[3]);
    if (a.width != b.width || (IsInt(a.form) != IsInt(b.form) && !a.raw && !b.raw))
      throw Failure{"set between fields of different forms or widths"};
    const std::string n = std::to_string(a.width - 1);
    Emit("MVC " + a.asm_name + ", " + n + ", " + b.asm_name + ", " + n);
  } else if (k == "null") {
    need(2, "null A");
    const Place a = Ref(t[1]);
    Emit("SNV " + a.asm_name + ", " + std::to_string(a.width));
  } else if (k == "if") {
    // if A = B else L | if A <> B else L: the whole fields, indicators too.
    need(6, "if A =|<> B else LABEL");
    if (t[4] != "else" || (t[2] != "=" && t[2] != "<>")) throw Failure{"if A = B else LABEL"};
    const Place a = Ref(t[1]), b = Ref(t[3]);
    if (a.width != b.width) throw Failure{"compare of fields of different widths"};
    // else BLOCK: the block's scan fetches its next row.
    const std::string target = top_.count(t[5]) ? top_[t[5]] : t[5];
    Emit(std::string("CBF ") + (t[2] == "=" ? "1" : "6") + ", " + a.asm_name + ", " + b.asm_name +
         ", " + std::to_string(a.width) + ", " + target);
  } else if (k == "back") {
    // back: the row handed back, the next run going on behind; back BLOCK:
    // the next run fetching the block's next row.
    if (t.size() == 1) {
      Emit("EXI 2");
    } else {
      need(2, "back [BLOCK]");
      auto top = top_position_.find(t[1]);
      if (top == top_position_.end()) throw Failure{"back to a block without scan"};
      Emit("EXI " + std::to_string(top->second - position_));
    }
  } else if (k == "end") {
    int32_t n = 0;
    if (t.size() != 2 || !Int(t[1], &n)) throw Failure{"end N"};
    Emit("END " + t[1]);
  } else if (k == "goto") {
    need(2, "goto LABEL");
    Emit("JMC " + t[1]);
  } else if (k == "asm") {
    std::string line;
    for (std::size_t i = 1; i < t.size(); ++i) {
      std::string w = t[i];
      if (places_.count(w)) w = places_[w].asm_name;
      line += (i > 1 ? " " : "") + w;
    }
    Emit(line);
  } else {
    throw Failure{"unknown step '" + k + "'"};
  }
}

void Compiler::Finish() {
  std::ostringstream out;
  out << "; " << s_->name << "\n" << head_.str();
  for (const StmtBlock& b : s_->blocks) {
    const bool read = s_->slot < 0 && written_.count(b.name) == 0;
    const int32_t access = b.kind == kWorkKind ? kAccessWork : read ? kAccessRead : kAccessTable;
    out << "field " << b.name << "$w" << kWordAccess << " alias " << b.name << " "
        << 4 * kWordAccess << " 4 = " << access << "\n";
  }
  std::string perm;
  for (const StmtBlock& b : s_->blocks) perm += " " + b.name;
  if (!perm.empty()) out << "perm" << perm << "\n";
  std::string in, outs;
  for (const std::string& f : s_->inputs) in += " " + f;
  for (const std::string& f : s_->outputs) outs += " " + f;
  if (!in.empty()) out << "input" << in << "\n";
  if (!outs.empty()) out << "output" << outs << "\n";
  out << "code\n  BEG\n" << code_.str();
  s_->text = out.str();
}

}  // namespace

bool ReadStatements(const std::string& path, const Catalog& catalog,
                    std::vector<Statement>* out, DefError* error) {
  std::ifstream in(path);
  if (!in) {
    *error = {{path, 0}, "cannot read"};
    return false;
  }
  std::string line;
  int number = 0;
  Statement current;
  std::unique_ptr<Compiler> compiler;
  bool in_code = false;
  try {
    while (std::getline(in, line)) {
      ++number;
      const std::vector<std::string> t = Words(line);
      if (t.empty()) continue;
      if (!compiler && t.size() == 6 && t[0] == "statement" && t[2] == "slot" && t[4] == "as") {
        // statement NAME slot S as OTHER: OTHER's statement (of this file,
        // above) in a slot of its own, one line.
        int32_t n = 0;
        if (!Int(t[3], &n) || n < 0 || n > 135) throw Failure{"a slot is 0 to 135"};
        const Statement* other = nullptr;
        for (const Statement& o : *out)
          if (o.name == t[5] && o.slot >= 0) other = &o;
        if (other == nullptr) throw Failure{"no private statement " + t[5] + " above"};
        Statement copy = *other;
        copy.where = {path, number};
        copy.name = t[1];
        copy.slot = n;
        out->push_back(copy);
        continue;
      }
      if (!compiler) {
        // statement NAME slot S | statement NAME id N [kernel]
        int32_t n = 0;
        if (t[0] != "statement" || t.size() < 4 || !Int(t[3], &n) ||
            (t[2] != "slot" && t[2] != "id") || (t.size() == 5 && t[4] != "kernel") ||
            t.size() > 5)
          throw Failure{"expected: statement NAME slot S | statement NAME id N [kernel]"};
        current = Statement{};
        current.where = {path, number};
        current.name = t[1];
        if (t[2] == "slot") {
          if (n < 0 || n > 135) throw Failure{"a slot is 0 to 135"};
          current.slot = n;
        } else {
          if (n > -204 || n < -255) throw Failure{"a shared id is -255 to -204"};
          current.id = n;
        }
        current.kernel_protocol = t.size() == 5;
        compiler = std::make_unique<Compiler>(catalog, &current);
        in_code = false;
      } else if (t.size() == 1 && t[0] == "end") {
        if (!in_code) throw Failure{"a statement needs its code"};
        compiler->Finish();
        out->push_back(current);
        compiler.reset();
      } else if (t.size() == 1 && t[0] == "code") {
        in_code = true;
      } else if (in_code) {
        compiler->Step(t);
      } else {
        compiler->Head(t);
      }
    }
    if (compiler) throw Failure{"statement " + current.name + " has no 'end'"};
  } catch (const Failure& f) {
    *error = {{path, number}, f.message};
    return false;
  }
  return true;
}

}  // namespace dictgen
