// The assembler: one pass collects fields, lists and instructions with their
// positions, a second resolves field names and labels and lays the program
// down as descriptor, lists, code and storage image. Every line that cannot
// be read is reported with file and line.
#include <algorithm>
#include <cstring>
#include <sstream>

#include "interp/opcode_table.h"
#include "interp/program_layout.h"
#include "tools/zasm/zasm.h"

namespace zasm {
namespace {

using interp::kOpcodes;

constexpr int32_t kMaxStorageBytes = 64 << 20;

struct Failure {
  int line;
  std::string message;
};

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> out;
  std::string cur;
  bool quoted = false;
  for (char c : line) {
    if (c == '\'') quoted = !quoted;
    if (!quoted && (c == ' ' || c == '\t' || c == ',')) {
      if (!cur.empty()) out.push_back(cur), cur.clear();
      continue;
    }
    if (!quoted && c == ';') break;
    cur += c;
  }
  if (quoted) throw Failure{0, "unterminated quote"};
  if (!cur.empty()) out.push_back(cur);
  return out;
}

bool Number(const std::string& s, int64_t* v) {
  if (s.empty()) return false;
  size_t i = s[0] == '-' || s[0] == '+' ? 1 : 0;
  if (i == s.size()) return false;
  for (size_t k = i; k < s.size(); ++k)
    if (s[k] < '0' || s[k] > '9') return false;
  if (s.size() > 12) return false;
  *v = std::stoll(s);
  return *v >= INT32_MIN && *v <= INT32_MAX;
}

// Stores the whole number v (0 <= v <= 32000) as a packed decimal of as
// many digits as `maximum` has, the form in which a varying value's length
// field holds its current length: zero is 128 and zeros; else the exponent
// field 3072 + (digits of v) in 12 bits, then v's digits in nibbles.
void PutLength(uint8_t* field, int32_t maximum, int32_t v) {
  int32_t precision = 1;
  for (int32_t m = maximum; m >= 10; m /= 10) ++precision;
  const int32_t bytes = (precision + 4) / 2;
  std::memset(field, 0, static_cast<size_t>(bytes));
  if (v == 0) {
    field[0] = 128;
    return;
  }
  const std::string digits = std::to_string(v);
  const int32_t exponent_field = 3072 + static_cast<int32_t>(digits.size());
  field[0] = static_cast<uint8_t>(exponent_field >> 4);
  field[1] = static_cast<uint8_t>((exponent_field & 15) << 4 | (digits[0] - '0'));
  for (size_t j = 1; j < digits.size(); ++j)
    field[1 + (j + 1) / 2] |= static_cast<uint8_t>((digits[j] - '0') << (j % 2 == 1 ? 4 : 0));
}

struct Field {
  int32_t offset;
  int32_t bytes;
};

struct Pending {  // an operand or list word resolved in the second pass
  size_t index;   // into words
  std::string token;
  char kind;
  int32_t position;  // instruction position for displacements
  int line;
};

class Assembler {
 public:
  Assembler(std::string_view text) : text_(text) {}
  void Run(Assembly* out);

 private:
  void Line(const std::vector<std::string>& t);
  void DeclareField(const std::vector<std::string>& t);
  void Instruction(const std::vector<std::string>& t);
  int32_t Resolve(const Pending& p);
  int32_t Take(int32_t bytes, int32_t align) {
    storage_bytes_ = (storage_bytes_ + align - 1) / align * align;
    if (storage_bytes_ > kMaxStorageBytes - bytes)
      throw Failure{line_, "storage larger than 64 MB"};
    const int32_t at = storage_bytes_;
    storage_bytes_ += bytes;
    image_.resize(static_cast<size_t>(storage_bytes_ + 3) / 4 * 4, 0);
    return at;
  }
  void ListWords(const std::vector<std::string>& t, size_t from, char kind);

  std::string_view text_;
  int line_ = 0;
  enum class Section { kHeader, kCode, kStorage } section_ = Section::kHeader;
  bool raw_descriptor_ = false;
  std::vector<int32_t> descriptor_ = std::vector<int32_t>(interp::kDescriptorWords, 0);
  std::vector<int32_t> lists_, code_, raw_storage_;
  std::vector<Pending> list_pending_, code_pending_;
  std::vector<uint8_t> image_ = std::vector<uint8_t>(interp::kMachineStateBytes, 0);
  int32_t storage_bytes_ = interp::kMachineStateBytes;
  std::map<std::string, Field> fields_;
  std::map<std::string, int32_t> labels_;       // code positions
  std::map<std::string, int32_t> data_labels_;  // list positions from descriptor word 0
  std::vector<int32_t> starts_;                 // instruction positions
  struct Variable {
    int32_t position, length;
    int line;
  };
  std::vector<Variable> variable_;  // RP2 instructions and their lengths
  struct ListInfo {
    int32_t start = 0, count = 0;
  };
  std::map<std::string, ListInfo> lists_at_;
  int32_t csd_start_ = -1, csh_start_ = -1;
  bool csd_open_ = false, csh_open_ = false;
};

int32_t Assembler::Resolve(const Pending& p) {
  int64_t v = 0;
  if (Number(p.token, &v)) return static_cast<int32_t>(v);
  if (p.kind == 'd') {
    auto l = labels_.find(p.token);
    if (l == labels_.end()) throw Failure{p.line, "unknown label '" + p.token + "'"};
    return l->second - p.position;
  }
  auto d = data_labels_.find(p.token);
  if (d != data_labels_.end()) return d->second;
  std::string name = p.token;
  bool length_field = false;
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".len") == 0) {
    name.resize(name.size() - 4);
    length_field = true;
  }
  auto f = fields_.find(length_field ? name + ".len" : name);
  if (f == fields_.end()) {
    auto l = labels_.find(p.token);
    if (l != labels_.end()) return l->second;
    throw Failure{p.line, "unknown name '" + p.token + "'"};
  }
  const int32_t off = f->second.offset;
  // CC2's op1 (resolved before its op3) says what its op3 names.
  const char kind = p.kind == 'p'
                        ? (interp::IsLevel2Like(code_[static_cast<size_t>(p.position)]) ? 'x' : 'v')
                        : p.kind;
  switch (kind) {
    case 't':
    case 'w':
      if (off % 4 != 0) throw Failure{p.line, "'" + p.token + "' is not word aligned"};
      return off / 4 + 1;
    case 'x':
      if (off % 4 != 0) throw Failure{p.line, "'" + p.token + "' is not word aligned"};
      return off / 4;
    default:
      return off;
  }
}

void Assembler::DeclareField(const std::vector<std::string>& t) {
  if (t.size() < 3) throw Failure{line_, "field needs a name and a type"};
  const std::string& name = t[1];
  if (fields_.count(name) || name.find('.') != std::string::npos)
    throw Failure{line_, "field '" + name + "' declared twice or badly named"};
  const std::string& type = t[2];
  int64_t n = 0;
  size_t init = 0;  // index of the token after '='
  for (size_t k = 3; k < t.size(); ++k)
    if (t[k] == "=") init = k + 1;
  auto value = [&](std::string* s) {
    if (init == 0) return false;
    if (init >= t.size()) throw Failure{line_, "'=' without a value"};
    *s = t[init];
    return true;
  };
  std::string v;
  if (type == "char" || type == "varchar" || type == "bytes") {
    if (t.size() < 4 || !Number(t[3], &n) || n < 0 || n > 32000)
      throw Failure{line_, "length of '" + name + "' missing or out of range"};
    const int32_t ind = type == "bytes" ? 0 : 1;
    const int32_t at = Take(static_cast<int32_t>(n) + ind, 1);
    fields_[name] = {at, static_cast<int32_t>(n) + ind};
    int32_t len_at = -1;
    if (type == "varchar") {
      len_at = Take(4, 1);  // room for a packed decimal of 5 digits
      fields_[name + ".len"] = {len_at, 4};
      PutLength(&image_[len_at], static_cast<int32_t>(n), 0);  // empty until given a value
    }
    if (type != "bytes") std::memset(&image_[at + 1], ' ', static_cast<size_t>(n));
    if (value(&v)) {
      if (v == "null") {
        std::memset(&image_[at], 255, static_cast<size_t>(n) + 1);
        if (len_at >= 0) std::memset(&image_[len_at], 255, 4);
        return;
      }
      if (v.size() < 2 || v.front() != '\'' || v.back() != '\'')
        throw Failure{line_, "text value of '" + name + "' must be quoted"};
      const std::string s = v.substr(1, v.size() - 2);
      if (static_cast<int64_t>(s.size()) > n)
        throw Failure{line_, "value longer than '" + name + "'"};
      std::memcpy(&image_[at + ind], s.data(), s.size());
      if (len_at >= 0)
        PutLength(&image_[len_at], static_cast<int32_t>(n), static_cast<int32_t>(s.size()));
    }
  } else if (type == "decimal") {
    if (t.size() < 4 || !Number(t[3], &n) || n < 1 || n > 45)
      throw Failure{line_, "precision of '" + name + "' missing or out of range"};
    const int32_t bytes = static_cast<int32_t>((n + 4) / 2);
    const int32_t at = Take(bytes, 1);
    fields_[name] = {at, bytes};
    if (value(&v)) {
      if (v != "null") throw Failure{line_, "a decimal field takes only 'null' as initial value"};
      std::memset(&image_[at], 255, static_cast<size_t>(bytes));
    }
  } else if (type == "word") {
    const int32_t at = Take(4, 4);
    fields_[name] = {at, 4};
    if (value(&v)) {
      int64_t w = 0;
      if (!Number(v, &w)) throw Failure{line_, "word value must be a number"};
      const uint32_t u = static_cast<uint32_t>(w);
      for (int k = 0; k < 4; ++k) image_[at + k] = static_cast<uint8_t>(u >> (8 * k));
    }
  } else if (type == "table") {
    // field NAME table TNAME key K reclen R
    int64_t tname = 0, key = 0, reclen = 0;
    if (t.size() < 8 || !Number(t[3], &tname) || t[4] != "key" || !Number(t[5], &key) ||
        t[6] != "reclen" || !Number(t[7], &reclen) || key < 0 || reclen < 0 || key > 16000 ||
        reclen > 16000)
      throw Failure{line_, "table field needs: table TNAME key K reclen R"};
    const int32_t bytes = interp::RecordBlockBytes(static_cast<int32_t>(std::max(key, reclen)));
    const int32_t at = Take(bytes, 4);
    fields_[name] = {at, bytes};
    auto put = [&](int word, int32_t value) {
      const uint32_t u = static_cast<uint32_t>(value);
      for (int k = 0; k < 4; ++k) image_[at + 4 * word + k] = static_cast<uint8_t>(u >> (8 * k));
    };
    put(interp::kRecTable, static_cast<int32_t>(tname));
    put(interp::kRecKeyLength, static_cast<int32_t>(key));
    put(interp::kRecRowLength, static_cast<int32_t>(reclen));
  } else if (type == "alias") {
    // field NAME alias BASE OFFSET LENGTH [= null | = 'text' | = x'hex' | = n]
    // names LENGTH bytes at OFFSET inside field BASE (a column of a record
    // block's row, say) and may give them a first value.
    auto b = t.size() >= 6 ? fields_.find(t[3]) : fields_.end();
    int64_t off = 0, len = 0;
    if (b == fields_.end() || !Number(t[4], &off) || !Number(t[5], &len) || off < 0 || len < 1 ||
        off + len > b->second.bytes)
      throw Failure{line_, "alias needs: alias BASE OFFSET LENGTH inside BASE"};
    const int32_t at = b->second.offset + static_cast<int32_t>(off);
    fields_[name] = {at, static_cast<int32_t>(len)};
    if (!value(&v)) return;
    uint8_t* p = &image_[at];
    const size_t n = static_cast<size_t>(len);
    int64_t w = 0;
    if (v == "null") {
      std::memset(p, 255, n);
    } else if (v.size() >= 3 && v[0] == 'x' && v[1] == '\'' && v.back() == '\'') {
      const std::string h = v.substr(2, v.size() - 3);
      if (h.size() != 2 * n) throw Failure{line_, "hex value of '" + name + "' must fill it"};
      for (size_t k = 0; k < n; ++k) {
        const std::string byte = h.substr(2 * k, 2);
        if (byte.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
          throw Failure{line_, "bad hex value of '" + name + "'"};
        p[k] = static_cast<uint8_t>(std::stoi(byte, nullptr, 16));
      }
    } else if (v.size() >= 2 && v.front() == '\'' && v.back() == '\'') {
      const std::string s = v.substr(1, v.size() - 2);
      if (s.size() > n) throw Failure{line_, "value longer than '" + name + "'"};
      std::memset(p, ' ', n);
      std::memcpy(p, s.data(), s.size());
    } else if (Number(v, &w) && n == 4) {
      const uint32_t u = static_cast<uint32_t>(w);
      for (int k = 0; k < 4; ++k) p[k] = static_cast<uint8_t>(u >> (8 * k));
    } else {
      throw Failure{line_, "bad value of '" + name + "'"};
    }
  } else {
    throw Failure{line_, "unknown field type '" + type + "'"};
  }
}

void Assembler::ListWords(const std::vector<std::string>& t, size_t from, char kind) {
  for (size_t k = from; k < t.size(); ++k) {
    list_pending_.push_back({lists_.size(), t[k], kind, 0, line_});
    lists_.push_back(0);
  }
}

void Assembler::Instruction(const std::vector<std::string>& t) {
  size_t k = 0;
  while (k < t.size() && t[k].back() == ':') {
    const std::string label = t[k].substr(0, t[k].size() - 1);
    if (label.empty() || labels_.count(label))
      throw Failure{line_, "label '" + label + "' defined twice"};
    labels_[label] = static_cast<int32_t>(code_.size()) + 1;
    ++k;
  }
  if (k == t.size()) return;
  const int32_t op = interp::OpcodeByName(t[k]);
  if (op == 0) throw Failure{line_, "unknown opcode '" + t[k] + "'"};
  const auto& info = kOpcodes[op];
  const size_t given = t.size() - k - 1, fixed = static_cast<size_t>(info.length - 1);
  // RP2 carries its key items behind its fixed operands.
  if (given != fixed && (op != interp::kOpRP2 || given < fixed))
    throw Failure{line_, std::string(info.name) + " takes " + std::to_string(fixed) +
                             (op == interp::kOpRP2 ? " or more" : "") + " operands, not " +
                             std::to_string(given)};
  const int32_t position = static_cast<int32_t>(code_.size()) + 1;
  starts_.push_back(position);
  if (op == interp::kOpRP2) variable_.push_back({position, static_cast<int32_t>(given + 1), line_});
  code_.push_back(op);
  for (size_t i = 0; i < given; ++i) {
    code_pending_.push_back(
        {code_.size(), t[k + 1 + i], i < fixed ? info.operands[i] : 'n', position, line_});
    code_.push_back(0);
  }
}

void Assembler::Line(const std::vector<std::string>& t) {
  const std::string& key = t[0];
  if (key == "code") return void(section_ = Section::kCode);
  if (key == "storage") return void(section_ = Section::kStorage);
  if (section_ == Section::kCode) return Instruction(t);
  if (key == "words") {
    for (size_t k = 1; k < t.size(); ++k) {
      int64_t v = 0;
      if (!Number(t[k], &v)) throw Failure{line_, "words takes numbers only"};
      (section_ == Section::kStorage ? raw_storage_ : lists_).push_back(static_cast<int32_t>(v));
    }
    return;
  }
  if (section_ == Section::kStorage) throw Failure{line_, "only 'words' may follow 'storage'"};
  if (key == "descriptor") {
    if (t.size() != 1 + interp::kDescriptorWords) throw Failure{line_, "descriptor takes 21 words"};
    for (int k = 0; k < interp::kDescriptorWords; ++k) {
      int64_t v = 0;
      if (!Number(t[k + 1], &v)) throw Failure{line_, "descriptor takes numbers only"};
      descriptor_[k] = static_cast<int32_t>(v);
    }
    raw_descriptor_ = true;
    return;
  }
  int64_t v = 0;
  if (key == "type" || key == "constants") {
    if (t.size() != 2 || !Number(t[1], &v)) throw Failure{line_, key + " takes one number"};
    descriptor_[key == "type" ? interp::kDescType : interp::kDescConstantSize] =
        static_cast<int32_t>(v);
    return;
  }
  if (key == "field") return DeclareField(t);
  if (key == "perm" || key == "temp" || key == "dynamic") {
    if (lists_at_.count(key)) throw Failure{line_, key + " list given twice"};
    if (t.size() > 1) {
      lists_at_[key] = {interp::kDescriptorWords + static_cast<int32_t>(lists_.size()),
                        static_cast<int32_t>(t.size() - 1)};
      ListWords(t, 1, key == "dynamic" ? 'w' : 't');
      lists_.push_back(interp::kListEnd);
    }
    return;
  }
  if (key == "input" || key == "output") {
    if (lists_at_.count(key)) throw Failure{line_, key + " list given twice"};
    if (t.size() > 1) {
      lists_at_[key] = {interp::kDescriptorWords + static_cast<int32_t>(lists_.size()),
                        static_cast<int32_t>(t.size() - 1)};
      for (size_t k = 1; k < t.size(); ++k) {
        auto f = fields_.find(t[k]);
        if (f == fields_.end()) throw Failure{line_, "unknown field '" + t[k] + "'"};
        lists_.push_back(f->second.offset);
        lists_.push_back(f->second.bytes);
      }
      lists_.push_back(interp::kListEnd);
    }
    return;
  }
  if (key.back() == ':') {  // a data label on its own line
    data_labels_[key.substr(0, key.size() - 1)] =
        interp::kDescriptorWords + static_cast<int32_t>(lists_.size());
    if (t.size() > 1) Line(std::vector<std::string>(t.begin() + 1, t.end()));
    return;
  }
  if (key == "csd" || key == "csh" || key == "ehd") {
    const size_t need = key == "csd" ? interp::kCsdWords : key == "csh" ? interp::kCshWords : 0;
    if (need != 0 && t.size() != need + 1)
      throw Failure{line_, key + " takes " + std::to_string(need) + " words"};
    if (key == "ehd" && t.size() < 6) throw Failure{line_, "ehd takes at least 5 words"};
    const int32_t here = interp::kDescriptorWords + static_cast<int32_t>(lists_.size());
    if (key == "csd" && csd_start_ < 0) csd_start_ = here;
    if (key == "csh" && csh_start_ < 0) csh_start_ = here;
    ListWords(t, 1, 'n');
    return;
  }
  if (key == "end") {  // ends a csd or csh table with its -1 row
    lists_.push_back(interp::kListEnd);
    return;
  }
  throw Failure{line_, "unknown directive '" + key + "'"};
}

void Assembler::Run(Assembly* out) {
  std::istringstream in{std::string(text_)};
  std::string line;
  while (std::getline(in, line)) {
    ++line_;
    std::vector<std::string> t;
    try {
      t = Split(line);
    } catch (Failure f) {
      throw Failure{line_, f.message};
    }
    if (!t.empty()) Line(t);
  }
  line_ = 0;
  if (code_.empty() || code_[0] != interp::kOpBEG)
    throw Failure{line_, "the code must start with BEG"};
  for (const auto& p : list_pending_) lists_[p.index] = Resolve(p);
  for (const auto& p : code_pending_) {
    code_[p.index] = Resolve(p);
    if (!interp::OperandFits(p.kind, code_[p.index]))
      throw Failure{p.line, "operand '" + p.token + "' out of range (" +
                                std::to_string(code_[p.index]) + ")"};
    if (p.kind == 'd') {
      const int32_t target = p.position + code_[p.index];
      if (!std::binary_search(starts_.begin(), starts_.end(), target))
        throw Failure{p.line, "branch target " + std::to_string(target) + " is not an instruction"};
    }
  }
  for (const Variable& v : variable_)
    if (code_[static_cast<size_t>(v.position - 1 + interp::kRp2LengthOperand)] != v.length)
      throw Failure{v.line, "RP2's operand 7 must be its length, " + std::to_string(v.length)};
  std::vector<int32_t>& w = out->words;
  const int32_t code_start = interp::kDescriptorWords + static_cast<int32_t>(lists_.size());
  const int32_t storage_start = code_start + static_cast<int32_t>(code_.size());
  if (!raw_descriptor_) {
    auto& d = descriptor_;
    d[interp::kDescSectionId] = 1;
    d[interp::kDescProgramStart] = code_start;
    d[interp::kDescStorageOffset] = storage_start;
    d[interp::kDescStorageSize] = static_cast<int32_t>(image_.size() / 4);
    if (d[interp::kDescConstantSize] == 0) d[interp::kDescConstantSize] = interp::kStateWords;
    const char* names[] = {"perm", "temp", "dynamic", "input", "output"};
    for (int k = 0; k < 5; ++k) {
      auto it = lists_at_.find(names[k]);
      if (it != lists_at_.end()) {
        d[interp::kDescPermStart + 2 * k] = it->second.start;
        d[interp::kDescPermSize + 2 * k] = it->second.count;
      }
    }
    d[interp::kDescCompoundStack] = -1;
    d[interp::kDescCompoundHierarchy] = csh_start_;
    d[interp::kDescCallStatus] = csd_start_;
    d[interp::kDescCurrentUser] = -1;
  }
  w = descriptor_;
  w.insert(w.end(), lists_.begin(), lists_.end());
  w.insert(w.end(), code_.begin(), code_.end());
  if (raw_descriptor_) {
    w.insert(w.end(), raw_storage_.begin(), raw_storage_.end());
  } else {
    for (size_t k = 0; k < image_.size(); k += 4)
      w.push_back(static_cast<int32_t>(image_[k] | image_[k + 1] << 8 | image_[k + 2] << 16 |
                                       static_cast<uint32_t>(image_[k + 3]) << 24));
  }
  for (const auto& [name, f] : fields_) out->fields[name] = f.offset;
  out->labels = labels_;
}

}  // namespace

bool Assemble(std::string_view text, const std::string& file, Assembly* out, std::string* error) {
  try {
    Assembler a(text);
    a.Run(out);
    return true;
  } catch (const Failure& f) {
    *error = file + ":" + std::to_string(f.line) + ": " + f.message;
    return false;
  }
}

}  // namespace zasm
