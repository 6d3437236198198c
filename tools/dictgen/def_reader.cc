// Reading catalog.def and messages.def: one statement a line, words split
// at blanks, "quoted" texts kept whole, '#' starting a comment. Numbers are
// checked to be plain decimal within 32 bits before they are used.
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "tools/dictgen/catalog_model.h"

namespace dictgen {
namespace {

struct Token {
  std::string text;
  bool quoted = false;
};

bool Split(const std::string& line, std::vector<Token>* out, std::string* fault) {
  out->clear();
  std::size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
    } else if (c == '#') {
      break;
    } else if (c == '"') {
      const std::size_t end = line.find('"', i + 1);
      if (end == std::string::npos) {
        *fault = "unterminated quoted text";
        return false;
      }
      out->push_back({line.substr(i + 1, end - i - 1), true});
      i = end + 1;
    } else {
      std::size_t end = i;
      while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '\r' &&
             line[end] != '#')
        ++end;
      out->push_back({line.substr(i, end - i), false});
      i = end;
    }
  }
  return true;
}

bool Number(const Token& t, int32_t* out) {
  if (t.quoted || t.text.empty() || t.text.size() > 11) return false;
  std::size_t i = t.text[0] == '-' ? 1 : 0;
  if (i == t.text.size()) return false;
  for (std::size_t k = i; k < t.text.size(); ++k)
    if (t.text[k] < '0' || t.text[k] > '9') return false;
  errno = 0;
  const long long v = std::strtoll(t.text.c_str(), nullptr, 10);
  if (errno != 0 || v < INT32_MIN || v > INT32_MAX) return false;
  *out = static_cast<int32_t>(v);
  return true;
}

bool Identifier(const Token& t) {
  if (t.quoted || t.text.empty() || (t.text[0] >= '0' && t.text[0] <= '9')) return false;
  for (char c : t.text)
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
  return true;
}

class Reader {
 public:
  Reader(const std::string& path, DefError* error) : path_(path), error_(error) {}

  bool Open(std::ifstream* in) {
    in->open(path_);
    if (!*in) return Fail("cannot read the file");
    return true;
  }
  bool Fail(const std::string& message) {
    error_->where = {path_, line_};
    error_->message = message;
    return false;
  }
  Where Here() const { return {path_, line_}; }
  int line_ = 0;

 private:
  std::string path_;
  DefError* error_;
};

// "col OFFSET FORM [N] NAME"
bool ReadColumn(Reader& r, const std::vector<Token>& t, Column* col) {
  col->where = r.Here();
  if (t.size() < 4 || !Number(t[1], &col->offset)) return r.Fail("expected: col OFFSET FORM NAME");
  std::size_t name_at = 3;
  const std::string& f = t[2].text;
  if (f == "int") {
    col->form = Form::kInt;
  } else if (f == "int64") {
    col->form = Form::kInt64;
  } else if (f == "int5") {
    col->form = Form::kInt5;
  } else if (f == "int3") {
    col->form = Form::kInt3;
  } else if (f == "char" || f == "byte" || f == "text3") {
    col->form = f == "char" ? Form::kChar : f == "byte" ? Form::kByte : Form::kText3;
    if (t.size() < 5 || !Number(t[3], &col->length) || col->length < 1 || col->length > 32000)
      return r.Fail("column form " + f + " needs a length from 1 to 32000");
    name_at = 4;
  } else {
    return r.Fail("unknown column form '" + f + "'");
  }
  if (t.size() != name_at + 1 || !Identifier(t[name_at]))
    return r.Fail("expected one column name of A-Z, 0-9 and _ after the form");
  col->name = t[name_at].text;
  return true;
}

// "index NO KIND [key K entry E] COLUMN..."
bool ReadIndex(Reader& r, const std::vector<Token>& t, Index* ix) {
  ix->where = r.Here();
  if (t.size() < 4 || !Number(t[1], &ix->number))
    return r.Fail("expected: index NO KIND COLUMN...");
  if (t[2].text == "INDEX") {
    ix->kind = 3;
  } else if (t[2].text == "UNIQUE") {
    ix->kind = 5;
  } else {
    return r.Fail("index kind must be INDEX or UNIQUE, not '" + t[2].text + "'");
  }
  std::size_t i = 3;
  if (t[i].text == "key") {
    if (t.size() < i + 5 || !Number(t[i + 1], &ix->stated_key) || t[i + 2].text != "entry" ||
        !Number(t[i + 3], &ix->stated_entry))
      return r.Fail("expected: key K entry E before the key columns");
    i += 4;
  }
  for (; i < t.size(); ++i) {
    if (!Identifier(t[i])) return r.Fail("bad key column name '" + t[i].text + "'");
    ix->key_columns.push_back(t[i].text);
  }
  if (ix->key_columns.empty()) return r.Fail("index " + t[1].text + " has no key column");
  return true;
}

// "table NO NAME key K record R constraint C [trailing T]"
bool ReadTableHead(Reader& r, const std::vector<Token>& t, Table* tab) {
  tab->where = r.Here();
  if ((t.size() != 9 && t.size() != 11) || !Number(t[1], &tab->number) || !Identifier(t[2]) ||
      t[3].text != "key" || !Number(t[4], &tab->key_length) || t[5].text != "record" ||
      !Number(t[6], &tab->record_length) || t[7].text != "constraint" ||
      !Number(t[8], &tab->constraint_id))
    return r.Fail("expected: table NO NAME key K record R constraint C [trailing T]");
  if (t.size() == 11 && (t[9].text != "trailing" || !Number(t[10], &tab->trailing_start)))
    return r.Fail("expected: trailing T");
  tab->name = t[2].text;
  return true;
}

}  // namespace

int32_t FormWidth(Form form, int32_t length) {
  switch (form) {
    case Form::kInt:
      return 7;
    case Form::kInt64:
      return 11;
    case Form::kInt5:
      return 4;
    case Form::kInt3:
      return 3;
    case Form::kChar:
    case Form::kByte:
      return length + 1;
    case Form::kText3:
      return 3 * length + 1;
  }
  return 0;
}

bool ReadCatalog(const std::string& path, Catalog* catalog, DefError* error) {
  Reader r(path, error);
  std::ifstream in;
  if (!r.Open(&in)) return false;
  std::string line, fault;
  std::vector<Token> t;
  Table* open = nullptr;
  while (std::getline(in, line)) {
    ++r.line_;
    if (!Split(line, &t, &fault)) return r.Fail(fault);
    if (t.empty()) continue;
    const std::string& w = t[0].text;
    if (open) {
      if (w == "col") {
        open->columns.emplace_back();
        if (!ReadColumn(r, t, &open->columns.back())) return false;
      } else if (w == "index") {
        open->indexes.emplace_back();
        if (!ReadIndex(r, t, &open->indexes.back())) return false;
      } else if (w == "end" && t.size() == 1) {
        open = nullptr;
      } else {
        return r.Fail("expected col, index or end inside table " + open->name);
      }
    } else if (w == "table") {
      catalog->tables.emplace_back();
      open = &catalog->tables.back();
      if (!ReadTableHead(r, t, open)) return false;
    } else if (w == "version" && t.size() == 2) {
      catalog->version = t[1].text;
      catalog->version_where = r.Here();
    } else if (w == "schema" && t.size() == 3 && Identifier(t[1]) &&
               Number(t[2], &catalog->schema_id)) {
      catalog->schema_name = t[1].text;
    } else {
      return r.Fail("expected version, schema or table, not '" + w + "'");
    }
  }
  if (open) return r.Fail("table " + open->name + " has no end");
  if (catalog->tables.empty()) return r.Fail("no table defined");
  return true;
}

bool ReadMessages(const std::string& path, Catalog* catalog, DefError* error) {
  Reader r(path, error);
  std::ifstream in;
  if (!r.Open(&in)) return false;
  std::string line, fault;
  std::vector<Token> t;
  while (std::getline(in, line)) {
    ++r.line_;
    if (!Split(line, &t, &fault)) return r.Fail(fault);
    if (t.empty()) continue;
    if (t[0].text == "source") {
      Source s;
      s.where = r.Here();
      if (t.size() != 3 || !Number(t[1], &s.id) || t[2].quoted)
        return r.Fail("expected: source ID NAME");
      s.name = t[2].text;
      catalog->sources.push_back(s);
    } else if (t[0].text == "message") {
      Message m;
      m.where = r.Here();
      if (t.size() < 5 || t.size() > 6 || !Number(t[1], &m.source) || !Number(t[2], &m.number) ||
          !Number(t[3], &m.severity))
        return r.Fail("expected: message SOURCE NUMBER SEVERITY \"line 1\" [\"line 2\"]");
      for (std::size_t i = 4; i < t.size(); ++i) {
        if (!t[i].quoted) return r.Fail("a message line must be quoted");
        m.lines.push_back(t[i].text);
      }
      catalog->messages.push_back(m);
    } else {
      return r.Fail("expected source or message, not '" + t[0].text + "'");
    }
  }
  return true;
}

}  // namespace dictgen
