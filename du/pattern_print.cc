// The listing of a pattern program for the instruction printer: the two
// header figures, then one line per instruction with its 1-based word
// number, written to the log as they stand.
#include <cstdio>
#include <cstring>

#include "du/pattern_programs.h"
#include "kernel/error_report.h"

namespace {

constexpr int32_t kLineBytes = 80;

// One listing line, cut at 80 bytes.
class Line {
 public:
  Line& Text(const char* text) {
    return Bytes(reinterpret_cast<const uint8_t*>(text), std::strlen(text));
  }
  Line& Number(int64_t value) {
    char digits[24];
    const int n = std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(value));
    return Bytes(reinterpret_cast<const uint8_t*>(digits), size_t(n));
  }
  Line& Bytes(const uint8_t* bytes, size_t n) {
    const size_t room = size_t(kLineBytes) - used_;
    n = n < room ? n : room;
    std::memcpy(buffer_ + used_, bytes, n);
    used_ += n;
    return *this;
  }
  // The literal (offset, length) of the area in quotes; what lies outside
  // the area is left out.
  Line& Literal(ConstByteSpan literals, int32_t offset, int32_t length) {
    const ConstByteSpan field = clip_field(literals, offset, length);
    Text("'");
    Bytes(field.data(), field.size());
    return Text("'");
  }
  void Write() const { DSLogText(buffer_, int32_t(used_)); }

 private:
  char buffer_[kLineBytes];
  size_t used_ = 0;
};

}  // namespace

void DUPrtPattern(const int32_t* program, ConstByteSpan literals) {
  Line().Text("Pattern program size: ").Number(program[PAT_SIZE]).Write();
  Line().Text("Maximum storage size: ").Number(program[PAT_STORAGE]).Write();
  const int32_t size = program[PAT_SIZE];
  int32_t at = PAT_FIRST;
  while (at < size) {
    const int32_t op = program[at];
    Line line;
    char number[16];
    std::snprintf(number, sizeof number, "%3d: ", at + 1);
    line.Text(number);
    // An instruction whose operands pass the program's end is not listed.
    if (op >= PAT_RETRY && op <= PAT_FPOS && at + PAT_INSTRUCTION_WORDS[op] > size) return;
    const int32_t* w = program + at;
    switch (op) {
      case PAT_RETRY:
        line.Text("RETRY");
        break;
      case PAT_EXIT:
        line.Text("EXIT");
        break;
      case PAT_EOS:
        line.Text("EOS");
        break;
      case PAT_EOSR:
        line.Text("EOSR   ").Number(w[1]);
        break;
      case PAT_SMC:
        line.Text("SMC   ").Literal(literals, w[1], w[2]);
        break;
      case PAT_RSMC:
        line.Text("RSMC  ").Literal(literals, w[1], w[2]).Text("  ").Number(w[3]);
        break;
      case PAT_CLB:
        line.Text("CLB   ").Literal(literals, w[1], w[2]);
        break;
      case PAT_FSTEP:
        line.Text("FSTEP  ").Number(w[1]);
        break;
      case PAT_FPOS:
        line.Text("FPOS   ").Number(w[1]);
        break;
      default:
        line.Text("Unknown opcode ").Number(op);
        line.Write();
        return;
    }
    line.Write();
    if (op == PAT_EXIT || op == PAT_EOS || op == PAT_EOSR) return;
    at += PAT_INSTRUCTION_WORDS[op];
  }
}
