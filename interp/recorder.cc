// The run-time error recorder: every failing instruction writes its error,
// the failing opcode, the table it names and its position into the machine
// state, and the run is sent to BEG at position 1, which ends it.
#include "interp/machine.h"
#include "interp/opcode_table.h"
#include "interp/program_layout.h"
#include "kernel/word_storage.h"

namespace interp {
namespace {

enum class TableRole { kNone, kOp1, kOp2, kOp1Constraint, kGroupBlock };

TableRole RoleOf(int32_t opcode) {
  switch (opcode) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 8:
    case 9:
    case 13:
    case 14:
    case 163:
      return TableRole::kOp1;  // IGN IGP GNR GPR GUR LSR PFU LOA SRT AGB
    case 164:
    case 165:
      return TableRole::kGroupBlock;  // AGH AGE: op1 holds the group block
    case 6:
    case 7:
      return TableRole::kOp2;  // GNX GPX
    case 10:
    case 11:
    case 12:
    case 15:
    case 127:
      return TableRole::kOp1Constraint;  // INS UPD DEL DRP DLA
    default:
      return TableRole::kNone;
  }
}

// The storage word of the table descriptor the instruction names, 0 none.
// A group block's word 2 holds the descriptor operand.
int32_t TableOf(const int32_t* base, const int32_t* ins, const int32_t* storage,
                int32_t storage_words, TableRole role) {
  switch (role) {
    case TableRole::kOp1:
    case TableRole::kOp1Constraint:
      return ins[1];
    case TableRole::kOp2:
      return ins[2];
    case TableRole::kGroupBlock: {
      const int32_t w = ins[1];
      if (base == nullptr || w < 1 || w > storage_words) return 0;
      const int32_t block = storage[w - 1];
      const int64_t limit = base[0];  // WORDS
      if (block < 1 || block + kGroupTable > limit) return 0;
      return sqlpool_word(const_cast<int32_t*>(base), block + kGroupTable);
    }
    case TableRole::kNone:
      break;
  }
  return 0;
}

}  // namespace

void DARecordError(const int32_t* base, const int32_t* instruction, int32_t* storage,
                   int32_t storage_words, int32_t* position, int32_t error,
                   int64_t instruction_words) {
  const int32_t opcode = instruction != nullptr ? instruction[0] : 0;
  storage[kStateReturnCode] = error;
  storage[kStateOpcode] = opcode;
  storage[kStateResume] = *position;
  TableRole role = IsOpcode(opcode) ? RoleOf(opcode) : TableRole::kNone;
  // The table operand of an instruction cut short by the program's end is
  // not there to read.
  const int64_t operand = role == TableRole::kOp2 ? 2 : 1;
  if (operand >= instruction_words) role = TableRole::kNone;
  const int32_t t =
      role == TableRole::kNone ? 0 : TableOf(base, instruction, storage, storage_words, role);
  // A descriptor whose words lie outside the storage names no table: the
  // recorder must not read past the area any more than an instruction may.
  if (t >= 1 && int64_t{t} + kRecTable <= storage_words) {
    storage[kStateLid] = storage[t - 1 + kRecLid];
    storage[kStateSequence] = -1;
    storage[kStateTable] = storage[t - 1 + kRecTable];
    storage[kStateBitVector] = kBitsTable;
    if (role == TableRole::kOp1Constraint &&
        (error == kErrMissingParent || error == kErrChildExists))
      storage[kStateBitVector] = kBitsConstraint;
  } else {
    storage[kStateBitVector] = kBitsNoTable;
  }
  *position = 1;
}

}  // namespace interp
