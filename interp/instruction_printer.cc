// DAPrtInstr: one instruction as a line of fixed columns. The operands are
// laid out by the operand-kind table the assembler uses: operand 1 of kind
// `c` is decoded into the operation type, a record block goes to TDA (the
// first of two to IDA), a displacement to EIP as its target, the first two
// offset/length pairs to 1BO/1BL and 2BO/2BL; every other operand is
// appended behind column 59 with the label of its kind.
#include "interp/instruction_printer.h"

#include <algorithm>
#include <cstdlib>

#include "du/pattern_programs.h"
#include "interp/opcode_table.h"
#include "interp/program_dump.h"
#include "interp/program_layout.h"
#include "kernel/system_block.h"
#include "platform/bytes.h"

namespace interp {

std::string RightAligned(int64_t value, int width) {
  std::string s = std::to_string(value);
  if (static_cast<int>(s.size()) > width) return std::string(static_cast<size_t>(width), '*');
  return std::string(static_cast<size_t>(width) - s.size(), ' ') + s;
}

void NumberField(std::string& line, int column, int width, int64_t value) {
  line.replace(static_cast<size_t>(column), static_cast<size_t>(width), RightAligned(value, width));
}

void AppendText(std::string& line, int limit, std::string_view text) {
  const int room = limit - static_cast<int>(line.size());
  if (room > 0) line.append(text.substr(0, static_cast<size_t>(room)));
}

void AppendNumber(std::string& line, int limit, int64_t value) {
  std::string s = std::to_string(value);
  if (s.size() > 12) s.assign(12, '*');
  const int room = limit - static_cast<int>(line.size());
  if (static_cast<int>(s.size()) <= room)
    line.append(s);
  else if (s[0] == '*' && room > 0)
    line.append(static_cast<size_t>(room), '*');
}

namespace {

// Decoded names of operand 1, by decoder.
constexpr const char* kOperators[] = {"", "EQ", "GE", "LE", "GT", "LT", "NE"};
constexpr const char* kPatternTests[] = {"", "like", "not like"};
constexpr const char* kPatternModes[] = {"", "4.2", "5.1", "5.1-esc"};
constexpr const char* kNullTests[] = {"", "null", "not null"};
constexpr const char* kSetFunctions[] = {"", "max", "min", "sum", "avg", "count"};
constexpr const char* kArithmetic[] = {"", "approx", "exact"};
constexpr const char* kRounding[] = {"", "Smooth", "Cut", "Round", "Trunc"};
constexpr const char* kDateArithmetic[] = {"",      "da+li", "da+si", "da-li", "da-si", "ti+si",
                                           "ti-si", "ts+li", "ts+si", "ts-li", "ts-si"};
constexpr const char* kDateDifference[] = {"", "da->li", "da->si", "ti->si", "ts->li", "ts->si"};
constexpr const char* kDateConversion[] = {"", "da->ts", "ti->ts", "ts->da", "ts->ti"};
constexpr const char* kDateKinds[] = {"",   "da", "ti", "ts", "yy", "mo", "dd", "hh", "mi",
                                      "ss", "ym", "dh", "dm", "ds", "hm", "hs", "ms"};
constexpr const char* kTrimModes[] = {"", "leading", "trail", "both"};
constexpr const char* kTransactionOptions[] = {"",
                                               "start explicit",
                                               "start implicit",
                                               "changes visible",
                                               "changes invisible",
                                               "read only",
                                               "read/write",
                                               "isolation level read uncommitted",
                                               "isolation level read committed",
                                               "isolation level repeatable read",
                                               "isolation level serializable"};
constexpr const char* kTransactionEnds[] = {"", "commit", "rollback"};

struct Decoder {
  const char* const* names;
  int count;
};
template <size_t n>
constexpr Decoder Names(const char* const (&names)[n]) {
  return Decoder{names, static_cast<int>(n)};
}

bool Is(int32_t op, const char* name) {
  return std::string_view(kOpcodes[op].name) == name;
}
bool AnyOf(int32_t op, std::initializer_list<const char*> names) {
  return std::any_of(names.begin(), names.end(), [&](const char* n) { return Is(op, n); });
}

// The decoder of operand 1, or none (the number is printed).
Decoder OptypeDecoder(int32_t op) {
  if (AnyOf(op, {"MCF", "MCT", "MVF", "MVT", "MUF", "MUT", "SMF", "SMT"}))
    return Names(kPatternTests);
  if (AnyOf(op, {"IMC", "RMC", "IMV", "RMV", "IMU", "RMU"})) return Names(kPatternModes);
  if (AnyOf(op, {"TVF", "TVT"})) return Names(kNullTests);
  if (AnyOf(op, {"ADD", "SUB", "MUL", "DIV"})) return Names(kArithmetic);
  if (Is(op, "TRU")) return Names(kRounding);
  if (Is(op, "DTA")) return Names(kDateArithmetic);
  if (Is(op, "DTD")) return Names(kDateDifference);
  if (Is(op, "TDD")) return Names(kDateConversion);
  if (AnyOf(op, {"TDC", "TCD", "TDN"})) return Names(kDateKinds);
  if (Is(op, "TRM")) return Names(kTrimModes);
  if (Is(op, "STM")) return Names(kTransactionOptions);
  if (Is(op, "ETR")) return Names(kTransactionEnds);
  const OpFamily f = kOpcodes[op].family;
  if (f == OpFamily::kSetfn) return Names(kSetFunctions);
  if (f == OpFamily::kCompare || f == OpFamily::kKeyrange) return Names(kOperators);
  return Decoder{nullptr, 0};
}

// Writes the operation type of operand 1: a decoded name (its first seven
// characters) or the number; a negative comparison operator prints its
// name and "(R)" from column 20.
void Optype(std::string& line, int32_t op, int32_t value) {
  const Decoder d = OptypeDecoder(op);
  const bool reversed = d.names == kOperators && value < 0 && value > -d.count;
  const int32_t index = reversed ? -value : value;
  if (d.names != nullptr && index >= 1 && index < d.count) {
    const std::string_view name = std::string_view(d.names[index]).substr(0, 7);
    line.replace(kColOptype, name.size(), name);
    if (reversed) line.replace(20, 3, "(R)");
    return;
  }
  NumberField(line, kColOptype, 7, value);
}

// The label of an operand without a column, by its kind (and family).
const char* KindLabel(char kind, OpFamily family, int pairs) {
  switch (kind) {
    case 'f':
      return pairs <= 1 ? " 1LO=" : pairs == 2 ? " 2LO=" : " 3LO=";
    case 'w':
      return family == OpFamily::kKeyrange  ? " SDA="
             : family == OpFamily::kPattern ? " PPA="
                                            : " WRD=";
    case 'x':
      return " IDX=";
    case 'c':
      return " Top=";
    case 'v':
    case 'p':
      return " 3BO=";
    case 'l':
      return " 3PR=";
    case 't':
      return " TDA=";
    case 'd':
      return " EIP=";
    default:
      return " N=";
  }
}

// The operands some opcodes print with labels of their own instead of by
// their kind: kTdaLabel puts the operand at TDA; a label starting with ","
// closes the parenthesis its group's first label opened.
constexpr const char* kTdaLabel = "TDA";
constexpr int kMaxOperands = 16;
struct LabelRow {
  const char* names[2];
  std::pair<int, const char*> labels[7];
};
constexpr LabelRow kLabelRows[] = {
    {{"SUS", "USU"},
     {{3, " DLO="}, {6, " SLO="}, {7, " PBO="}, {8, " PPR="}, {9, " LBO="}, {10, " LPR="}}},
    {{"RPL", "RPU"},
     {{1, kTdaLabel}, {5, " DLO="}, {8, " 1LO="}, {11, " 2LO="}, {12, " 3BO="}, {13, " 3PR="},
      {14, " 3LO="}}},
    {{"TRM", nullptr}, {{2, kTdaLabel}, {4, " TCO="}, {7, " VLO="}}},
    {{"TRG", nullptr}, {{1, " Top="}}},
    {{"TRT", nullptr}, {{1, " Top="}, {6, " S2=("}, {7, ", "}}},
    {{"TRN", nullptr}, {{3, " Prec="}, {4, " Scale="}}},
    {{"SFH", nullptr}, {{6, " V=("}, {7, ","}}},
    {{"SPF", "SPT"}, {{4, " KLO="}, {7, " VLO="}}},
    {{"AGB", nullptr}, {{2, " AWA="}}},
    {{"AGH", "AGE"}, {{1, " AWA="}}},
};

// The labels of the opcode's operands by number; nullptr where the operand
// is printed by its kind.
void OwnLabels(int32_t op, const char* labels[kMaxOperands]) {
  for (int k = 0; k < kMaxOperands; ++k) labels[k] = nullptr;
  for (const LabelRow& row : kLabelRows) {
    if (!(Is(op, row.names[0]) || (row.names[1] != nullptr && Is(op, row.names[1])))) continue;
    for (const auto& [k, label] : row.labels)
      if (label != nullptr) labels[k] = label;
  }
}

bool IsFetch(int32_t op) {
  return AnyOf(op, {"GNR", "GPR", "GUR", "GNX", "GPX", "GUX"});
}

// The statement's storage as the printer reads it.
struct Storage {
  const int32_t* words;
  int32_t count;
  bool Has(int64_t w) const { return words != nullptr && w >= 1 && w <= count; }
  int32_t Word(int64_t w) const { return words[w - 1]; }
};

// Lists the compiled program a pattern word holds behind the line.
void ListPattern(const Storage& s, int32_t* base, int32_t word) {
  if (base == nullptr || !s.Has(word)) return;
  const int32_t block = s.Word(word);
  if (block <= 0 || !InStorage(base, block, PAT_CODE)) return;
  const int32_t* program = &base[block - 1];
  if (program[PAT_SIZE] < PAT_CODE || !InStorage(base, block, program[PAT_SIZE])) return;
  const ConstByteSpan literals = program[PAT_LITERAL_BASE] == 1
                                     ? ConstByteSpan(reinterpret_cast<const uint8_t*>(s.words),
                                                     static_cast<size_t>(s.count) * 4)
                                     : ConstByteSpan(reinterpret_cast<const uint8_t*>(program),
                                                     static_cast<size_t>(program[PAT_SIZE]) * 4);
  DUPrtPattern(program, literals);
}

void Write(const std::string& line, int32_t* target, int32_t target_words) {
  if (line.size() <= static_cast<size_t>(kLineWrap)) {
    DAPrtLine(line.data(), static_cast<int32_t>(line.size()), target, target_words);
    return;
  }
  DAPrtLine(line.data(), kLineWrap, target, target_words);
  DAPrtLine(line.data() + kLineWrap, static_cast<int32_t>(line.size()) - kLineWrap, target,
            target_words);
}

}  // namespace

void DAPrtInstr(int32_t result[kPrintResultWords], const int32_t* ins, int64_t available,
                const int32_t* storage, int32_t storage_words, int32_t position, int32_t* tracking,
                int32_t* target, int32_t target_words, int32_t* base) {
  const bool print = result[kPrintFlag] >= 0;
  const Storage s{storage, storage_words};
  std::string line(kLineBase, ' ');
  NumberField(line, kColPc, 4, position);
  const int32_t op = available >= 1 ? ins[0] : 0;
  const int64_t length = InstructionLength(ins, available);
  const bool unknown = !IsOpcode(op) || op == kOpCB2 || op == kOpLGI || op == kOpGEE || length == 0;
  const char* name = unknown ? "???" : op == kOpBEG && position != 1 ? "EXC" : kOpcodes[op].name;
  line.replace(kColName, 3, name);
  NumberField(line, kColCode, 3, op);
  result[kPrintStatus] = 0;
  result[kPrintLength] = 1;
  result[kPrintBranch] = 0;
  if (unknown) {
    result[kPrintStatus] = kErrBadOpcode;
    if (print) Write(line, target, target_words);
    return;
  }
  result[kPrintLength] = static_cast<int32_t>(length);
  if (AnyOf(op, {"EXI", "EXN", "END"}) || (op == kOpBEG && position != 1)) result[kPrintStatus] = 1;
  const OpcodeInfo& info = kOpcodes[op];
  const std::string_view kinds = info.operands;
  const bool two_tables = std::count(kinds.begin(), kinds.end(), 't') == 2;
  bool tda = false, ida = false, eip = false;
  int pairs = 0;        // offsets placed or labelled so far
  int last_column = 0;  // the column of the last offset: its length follows it
  auto label = [&](const char* text, int64_t value) {
    AppendText(line, kLineLimit, text);
    AppendNumber(line, kLineLimit, value);
  };
  const char* own[kMaxOperands];
  OwnLabels(op, own);
  for (size_t k = 1; k <= kinds.size(); ++k) {
    const char kind = kinds[k - 1];
    const int32_t v = ins[k];
    if (k < kMaxOperands && own[k] != nullptr) {
      if (own[k] == kTdaLabel) {
        NumberField(line, kColTda, 4, v);
      } else {
        label(own[k], v);
        if (own[k][0] == ',') AppendText(line, kLineLimit, ")");
      }
      continue;
    }
    if (k == 1 && kind == 'c') {
      Optype(line, op, v);
      continue;
    }
    switch (kind) {
      case 't':
        if (two_tables && !ida) {
          ida = true;
          NumberField(line, kColIda, 4, v);
          if (s.Has(int64_t{v} + kRecTable)) label(" indexid=", s.Word(int64_t{v} + kRecTable));
        } else if (!tda) {
          tda = true;
          NumberField(line, kColTda, 4, v);
          if (tracking != nullptr && tracking[1] != 0) {
            tracking[0] = 1;
            tracking[5] = v;
          }
          if (IsFetch(op) && print && result[kPrintFlag] == 0 && s.Has(int64_t{v} + kRecStatus)) {
            const int32_t state = s.Word(int64_t{v} + kRecStatus);
            const char* text = state < 0 ? "next" : state == 0 ? "next(p)" : "current";
            line.replace(kColOptype, std::string_view(text).size(), text);
          }
          if (s.Has(int64_t{v} + kRecTable)) label(" tableid=", s.Word(int64_t{v} + kRecTable));
        } else {
          label(KindLabel(kind, info.family, pairs), v);
        }
        break;
      case 'd':
        if (!eip && static_cast<int>(k) == info.branch) {
          eip = true;
          result[kPrintBranch] = v;
          NumberField(line, kColEip, 4, int64_t{position} + v);
        } else {
          label(KindLabel(kind, info.family, pairs), v);
        }
        break;
      case 'v':
      case 'p':
        ++pairs;
        last_column = pairs == 1 ? kCol1Bo : pairs == 2 ? kCol2Bo : 0;
        if (last_column != 0)
          NumberField(line, last_column, 5, v);
        else
          label(KindLabel(kind, info.family, pairs), v);
        break;
      case 'l':
        if (last_column != 0) {
          NumberField(line, last_column == kCol1Bo ? kCol1Bl : kCol2Bl, 3, v);
          last_column = 0;
        } else {
          label(pairs == 0 ? " Prec=" : KindLabel(kind, info.family, pairs), v);
        }
        break;
      default:
        last_column = 0;
        label(KindLabel(kind, info.family, pairs), v);
        break;
    }
  }
  // The exit position of the exits.
  if (AnyOf(op, {"EXI", "EXN"})) NumberField(line, kColEip, 4, int64_t{position} + ins[1]);
  if (!print) return;
  Write(line, target, target_words);
  if (info.family == OpFamily::kPattern && kinds.size() >= 2 && kinds[1] == 'w')
    ListPattern(s, base, ins[2]);
}

}  // namespace interp
