// The instruction printer: one instruction of a statement program as a
// fixed-column line (position, name, opcode, operation type, operands in
// columns by their kind, labelled extras), written through DAPrtLine; and
// the field printers it shares with the program dump and the trace.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace interp {

// Columns of the line (0-based) and its limits.
inline constexpr int kColPc = 0, kColName = 6, kColCode = 12, kColOptype = 17, kColTda = 25,
                     kColEip = 30, kCol1Bo = 35, kCol1Bl = 41, kCol2Bo = 45, kCol2Bl = 51,
                     kColIda = 55;
inline constexpr int kLineBase = 59;  // the line before labelled extras
inline constexpr int kLineLimit = 160;
inline constexpr int kLineWrap = 79;  // longer lines go on in a continuation line

// `value` right-aligned in `width` places; `width` asterisks when it does
// not fit.
std::string RightAligned(int64_t value, int width);
// Writes RightAligned(value, width) into `line` at `column` (the line is
// long enough).
void NumberField(std::string& line, int column, int width, int64_t value);
// Appends as much of `text` as stays below `limit`.
void AppendText(std::string& line, int limit, std::string_view text);
// Appends the value without leading blanks, only when it fits whole below
// `limit`; a value of more than 12 digits appends 12 asterisks (as many as fit).
void AppendNumber(std::string& line, int limit, int64_t value);

// Result record of DAPrtInstr.
enum PrintResultWord : int32_t {
  kPrintStatus = 0,  // 0; 1 for an instruction that ends the program; -19018 unknown
  kPrintLength = 1,  // words of the instruction
  kPrintBranch = 2,  // its branch displacement, 0 when it has none
  kPrintFlag = 3,    // in: no line is written when negative
};
inline constexpr int32_t kPrintResultWords = 4;

// Prints the instruction ins[0] (of which `available` words can be read) at
// 1-based program word `position`. `storage` (storage_words words, may be
// null) is read for fetch states and table numbers, `base` (may be null)
// for the compiled programs of the pattern compiles, which are listed to the
// log behind the line. `tracking` (six words, may be null): when its word 1
// is not 0, a record block operand sets word 0 to 1 and word 5 to the block.
// The line goes to `target` as DAPrtLine writes it.
void DAPrtInstr(int32_t result[kPrintResultWords], const int32_t* ins, int64_t available,
                const int32_t* storage, int32_t storage_words, int32_t position, int32_t* tracking,
                int32_t* target, int32_t target_words, int32_t* base = nullptr);

}  // namespace interp
