// The disassembler: writes a program as an explicit descriptor, the words of
// its lists, its instructions with labels at every branch target, and its
// storage image, so that the text assembles back to the same words.
#include <algorithm>
#include <map>
#include <set>

#include "interp/opcode_table.h"
#include "interp/program_layout.h"
#include "tools/zasm/zasm.h"

namespace zasm {
namespace {

void Words(std::string* text, const std::vector<int32_t>& w, size_t from, size_t to) {
  for (size_t k = from; k < to; k += 8) {
    *text += "words";
    for (size_t i = k; i < std::min(to, k + 8); ++i) *text += " " + std::to_string(w[i]);
    *text += "\n";
  }
}

}  // namespace

bool Disassemble(const std::vector<int32_t>& w, std::string* text, std::string* error) {
  using interp::kOpcodes;
  if (w.size() < static_cast<size_t>(interp::kDescriptorWords)) {
    *error = "program shorter than its descriptor";
    return false;
  }
  const int64_t start = w[interp::kDescProgramStart], end = w[interp::kDescStorageOffset];
  if (start < interp::kDescriptorWords || end < start || end > static_cast<int64_t>(w.size())) {
    *error = "program start or storage offset out of range";
    return false;
  }
  // Instruction positions (1 = the word at `start`), then branch targets.
  std::set<int64_t> starts, targets;
  std::map<int64_t, int64_t> lengths;  // by position
  for (int64_t at = start; at < end;) {
    const int64_t length = interp::InstructionLength(w.data() + at, end - at);
    if (length == 0) {
      *error = "no whole instruction at program word " + std::to_string(at);
      return false;
    }
    starts.insert(at - start + 1);
    lengths[at - start + 1] = length;
    at += length;
  }
  for (int64_t p : starts) {
    const auto& info = kOpcodes[w[start + p - 1]];
    for (int k = 1; k < info.length; ++k)
      if (info.operands[k - 1] == 'd') {
        const int64_t target = p + int64_t{w[start + p - 1 + k]};
        if (starts.count(target)) targets.insert(target);
      }
  }
  *text = "descriptor";
  for (int k = 0; k < interp::kDescriptorWords; ++k) *text += " " + std::to_string(w[k]);
  *text += "\n";
  Words(text, w, interp::kDescriptorWords, static_cast<size_t>(start));
  *text += "code\n";
  for (int64_t p : starts) {
    const auto& info = kOpcodes[w[start + p - 1]];
    if (targets.count(p)) *text += "L" + std::to_string(p) + ":";
    *text += std::string("  ") + info.name;
    for (int k = 1; k < lengths[p]; ++k) {
      const int32_t v = w[start + p - 1 + k];
      *text += k == 1 ? " " : ", ";
      if (k < info.length && info.operands[k - 1] == 'd' && targets.count(p + int64_t{v}))
        *text += "L" + std::to_string(p + int64_t{v});
      else
        *text += std::to_string(v);
    }
    *text += "\n";
  }
  *text += "storage\n";
  Words(text, w, static_cast<size_t>(end), w.size());
  return true;
}

}  // namespace zasm
