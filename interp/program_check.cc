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
  for (int32_t p = 1; p <= program_words;) {
    const int32_t op = program[p - 1];
    if (!IsOpcode(op) || int64_t{p} + kOpcodes[op].length - 1 > program_words) {
      *bad_position = p;
      return kErrBadOpcode;
    }
    start[static_cast<size_t>(p)] = true;
    p += kOpcodes[op].length;
  }
  for (int32_t p = 1; p <= program_words; p += kOpcodes[program[p - 1]].length) {
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
