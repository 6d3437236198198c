// Our program assembler: turns the text form of a statement program
// (descriptor fields, named typed storage fields, the lists, instructions
// with operands as numbers, field names or labels) into program words, and
// program words back into text that assembles to the same words.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace zasm {

struct Assembly {
  std::vector<int32_t> words;             // the program, descriptor word 0 first
  std::map<std::string, int32_t> fields;  // field name -> storage byte offset
  std::map<std::string, int32_t> labels;  // code label -> position (1 = BEG)
};

// Assembles `text`; on bad text false and "file:line: message" in *error.
bool Assemble(std::string_view text, const std::string& file, Assembly* out, std::string* error);

// Writes text that assembles to exactly `words`; false (with a message) when
// the code section does not decode into whole instructions.
bool Disassemble(const std::vector<int32_t>& words, std::string* text, std::string* error);

}  // namespace zasm
