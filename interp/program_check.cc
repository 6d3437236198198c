// The check of a program before it runs (debug builds, and any loader that
// asks): the code decodes into whole instructions of the opcode table, it
// starts with BEG, every displacement lands on an instruction, and no offset,
// length or storage word operand is out of its range.
#include <vector>

#include "interp/machine.h"
#include "interp/opcode_table.h"
#include "interp/program_layout.h"

namespace interp {

int32_t DACheckProgram(const int32_t* program, int32_t program_words, int32_t* bad_position) {
  *bad_position = 0;
  if (program_words < 1 || program[0] != kOpBEG) return kErrNoBeg;
  std::vector<bool> start(static_cast<size_t>(program_words) + 1, false);
  std::vector<int32_t> positions;
  for (int32_t p = 1; p <= program_words;) {
    const int64_t length = InstructionLength(program + (p - 1), int64_t{program_words} - p + 1);
    if (length == 0) {
      *bad_position = p;
      return kErrBadOpcode;
    }
    start[static_cast<size_t>(p)] = true;
    positions.push_back(p);
    p += static_cast<int32_t>(length);
  }
  for (const int32_t p : positions) {
    const OpcodeInfo& info = kOpcodes[program[p - 1]];
    for (int k = 1; k < info.length; ++k) {
      if (!OperandFits(info.operands[k - 1], program[p - 1 + k])) {
        *bad_position = p;
        return kErrBadOperand;
      }
      if (info.operands[k - 1] != 'd') continue;
      const int64_t target = int64_t{p} + program[p - 1 + k];
      if (target < 1 || target > program_words || !start[static_cast<size_t>(target)]) {
        *bad_position = p;
        return kErrBadOpcode;
      }
    }
  }
  return 0;
}

}  // namespace interp
