// DSLogRecText: the text that names the place of an error for the log,
// built from a result vector's location words.
#pragma once

#include <cstdint>

// Result-vector bits of the location words that are set.
inline constexpr int32_t RVEC_MASK_OPCODE = 1 << 1;
inline constexpr int32_t RVEC_MASK_PC = 1 << 4;
// The separator between the parts of the text.
inline constexpr uint8_t LOG_TEXT_SEPARATOR = 255;

// Appends to the counted text (`*length` bytes used of `capacity`), for
// each location bit of `rvec` (12 words from RVEC_RCODE) in the order
// databank, table, opcode, program counter: the databank's two names (or
// "SYSDB"/"sysdb9.dbf" for logical id 1, else "DBANKID=" and ", SEQNO="),
// the schema and table name (or "TABLEID="), the opcode's three letters
// (or "OPCODE="), the program counter. Nothing is written past `capacity`.
void DSLogRecText(int32_t* base, uint8_t* text, int32_t capacity, int32_t* length,
                  const int32_t* rvec);
