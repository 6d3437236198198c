// Listings of whole programs through the instruction printer, the per-opcode
// execution counters of a session's trace control block and its switches.
// The counting itself is done by DAMAE2's traced loop.
#include "interp/instruction_trace.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "interp/instruction_printer.h"
#include "interp/opcode_table.h"
#include "interp/program_dump.h"
#include "interp/program_layout.h"
#include "kernel/control_blocks.h"
#include "kernel/error_report.h"
#include "kernel/system_block.h"
#include "kernel/word_storage.h"

namespace interp {
namespace {

constexpr int32_t kListEndWord = -1;

// Walks the program from word 1, printing each instruction when `print`;
// the word behind the last one listed, or the printer's first negative
// status (end mode 0 only).
int32_t Walk(const int32_t* program, int32_t program_words, const int32_t* storage,
             int32_t storage_words, int32_t end_mode, bool print, int32_t* target,
             int32_t target_words) {
  int64_t word = 1, furthest = 0;
  while (word <= program_words) {
    int32_t r[kPrintResultWords] = {0, 0, 0, print ? 0 : -1};
    DAPrtInstr(r, program + (word - 1), program_words - word + 1, storage, storage_words,
               static_cast<int32_t>(word), nullptr, target, target_words);
    furthest = std::max(furthest, word + r[kPrintBranch]);
    const int64_t next = word + std::max(r[kPrintLength], 1);
    if (r[kPrintStatus] == kErrBadOpcode)
      return end_mode == 0 ? r[kPrintStatus] : static_cast<int32_t>(next);
    if (end_mode == 0) {
      if (r[kPrintStatus] < 0) return r[kPrintStatus];
      if (r[kPrintStatus] == 1 && next > furthest) return static_cast<int32_t>(next);
    } else if (next > program_words || program[next - 1] == kListEndWord) {
      return static_cast<int32_t>(next);
    }
    word = next;
  }
  return static_cast<int32_t>(word);
}

void LogLine(const std::string& line) {
  DSLogText(line.data(), static_cast<int32_t>(line.size()));
}

}  // namespace

void DATrcHeader(const int32_t* program, int32_t program_words, const int32_t* storage,
                 int32_t storage_words, int32_t end_mode, int32_t* target, int32_t target_words) {
  const bool buffer = target != nullptr && target_words >= 3 && target[2] > 0;
  if (buffer) {
    target[0] = 0;
    target[1] = 12;
  }
  DAPrtLine(kTraceHeader1, sizeof kTraceHeader1 - 1, target, target_words);
  DAPrtLine(kTraceHeader2, sizeof kTraceHeader2 - 1, target, target_words);
  Walk(program, program_words, storage, storage_words, end_mode, true, target, target_words);
  if (buffer) {
    target[0] = (target[0] - 1) / 4 + 1;
    target[1] = 4;
  }
}

void DATrcRange(int32_t* result, const int32_t* program, int32_t program_words) {
  *result = Walk(program, program_words, nullptr, 0, 0, false, nullptr, 0);
}

void DAPrtOpCounts(const int32_t* block) {
  int64_t total = 0;
  for (int32_t op = 1; op <= kOpcodeCount; ++op) {
    const int32_t n = block[kTraceCounters + op];
    if (n <= 0) continue;
    total += n;
    char name[3];
    DAOpName(name, 0, op);
    LogLine(std::string(name, 3) + RightAligned(n, 17));
  }
  if (total > 0) LogLine("A total of" + RightAligned(total, 10) + " instructions executed");
}

int32_t DAOpName(char* buffer, int32_t offset, int32_t opcode) {
  if (!IsOpcode(opcode)) return 1;
  std::memcpy(buffer + offset, kOpcodes[opcode].name, 3);
  return 0;
}

void DATraceOn(int32_t* block) {
  block[kTraceOn] = 1;
}
void DATraceOff(int32_t* block) {
  block[kTraceOn] = 0;
}
// The options select nothing in the interpreter; both switches clear them.
void DATrcOptAOn(int32_t* block) {
  block[kTraceOptionA] = 0;
}
void DATrcOptAOff(int32_t* block) {
  block[kTraceOptionA] = 0;
}
void DATrcOptBOn(int32_t* block) {
  block[kTraceOptionB] = 0;
}
void DATrcOptBOff(int32_t* block) {
  block[kTraceOptionB] = 0;
}

int32_t DATraceSwitch(int32_t* base, int32_t usr, int32_t subcode, int32_t value) {
  constexpr int32_t kNoStorage = -2;
  if (subcode < 8 || subcode > 11 || usr == 0) return kNoStorage;
  int32_t& field = sqlpool_word(base, int64_t{usr} + USR_TRACEFLAGS);
  if (field == 0 || !InStorage(base, field, kTraceBlockWords)) {
    int32_t block = 0;
    DSGetMem(base, &block, kTraceBlockWords * 4);
    if (block == 0) return kNoStorage;
    field = block;
  }
  int32_t* block = &sqlpool_word(base, field);
  switch (subcode) {
    case 8:
      DAPrtOpCounts(block);
      return 0;
    case 9:
      value != 0 ? DATraceOn(block) : DATraceOff(block);
      return 0;
    case 10:
      if (value == 0) return DATrcOptAOff(block), 0;
      return DATrcOptAOn(block), -1;
    default:
      if (value == 0) return DATrcOptBOff(block), 0;
      return DATrcOptBOn(block), -1;
  }
}

}  // namespace interp
