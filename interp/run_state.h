// The state of one run of the interpreter as its instruction routines see
// it: program, storage area, position, session, channel and thread, with the
// checked accessors every routine uses before it reads or writes storage.
// Instruction families install their routines into the dispatch table here.
#pragma once

#include <cstdint>

#include "interp/opcode_table.h"
#include "interp/program_layout.h"
#include "platform/bytes.h"

namespace interp {

struct Run {
  int32_t* base = nullptr;           // kernel word storage
  const int32_t* program = nullptr;  // program[0] is position 1 (BEG)
  int32_t program_words = 0;
  int32_t* storage = nullptr;  // storage[0] is storage word 1
  int32_t storage_words = 0;
  int32_t pos = 0;
  int32_t usr = 0;                  // session block, 0 none
  int32_t cha = 0;                  // channel block, 0 none
  int32_t thr = 0;                  // thread block
  const char* user_name = nullptr;  // 128 bytes
  bool leave = false;               // an action or a requeue ends the loop
  bool requeued = false;
  bool error_end = false;  // ended by an error: the caller resumes at 1
  int32_t last_work = 0;   // work entry of the most recent read-type record instruction

  const int32_t* ins() const { return program + (pos - 1); }
  int32_t op(int k) const { return program[pos - 1 + k]; }
  int32_t opcode() const { return program[pos - 1]; }
  int32_t length() const { return kOpcodes[opcode()].length; }
  void next() { pos += length(); }
  // A target off the program becomes position 0, which the loop answers
  // with -19018; no displacement can overflow the position.
  void branch(int k) { pos = Target(op(k)); }
  // Branches by operand k when the test's truth equals `on_true`, else
  // moves on.
  void decide(bool truth, bool on_true, int k) {
    if (truth == on_true)
      branch(k);
    else
      next();
  }
  int32_t Target(int32_t displacement) const {
    const int64_t t = int64_t{pos} + displacement;
    return t < 1 || t > program_words ? 0 : static_cast<int32_t>(t);
  }
  int32_t& state(int32_t k) { return storage[k]; }

  ByteSpan bytes() const {
    return ByteSpan(reinterpret_cast<uint8_t*>(storage), static_cast<size_t>(storage_words) * 4);
  }
  uint8_t* at(int32_t offset) const { return reinterpret_cast<uint8_t*>(storage) + offset; }
  // True when `length` bytes from byte offset `offset` lie inside the storage.
  bool fits(int64_t offset, int64_t length) const {
    return offset >= 0 && length >= 0 && offset + length <= int64_t{storage_words} * 4;
  }
  // True when storage words w .. w + count - 1 (numbered from 1) exist.
  bool words(int64_t w, int64_t count) const {
    return w >= 1 && count >= 0 && w + count - 1 <= storage_words;
  }
  int32_t& word(int32_t w) { return storage[w - 1]; }
  // Session field n (0 when the run has no session: callers test usr first).
  int32_t& usr_field(int32_t n);
  int32_t& cha_field(int32_t n);

  // Records `error` for the current instruction (position becomes 1).
  void fail(int32_t error);
  // Ends the run with a warning: state word 0 := warning, resume behind.
  void warn(int32_t warning);
};

using Instruction = void (*)(Run& run);

// Replaces the routine of `opcode` (1..201); returns the one it replaces.
// The function-instruction handlers install themselves through it.
Instruction DAInstallInstruction(int32_t opcode, Instruction routine);
Instruction DAInstruction(int32_t opcode);

// Family installers, called once when the dispatch table is built.
void InstallControlOps(Instruction table[]);
void InstallCompareOps(Instruction table[]);
void InstallMoveOps(Instruction table[]);
void InstallNumericOps(Instruction table[]);
void InstallTableOps(Instruction table[]);
void InstallRecordOps(Instruction table[]);
void InstallVaryingOps(Instruction table[]);
void InstallAggregateOps(Instruction table[]);
void InstallWideOps(Instruction table[]);
void InstallCollationOps(Instruction table[]);

void InstallDatetimeOps(Instruction table[]);
void InstallPatternOps(Instruction table[]);
void InstallStringOps(Instruction table[]);
void InstallSetFunctionOps(Instruction table[]);
void InstallKeyRangeOps(Instruction table[]);
void InstallPatternCompileOps(Instruction table[]);
void InstallNumericFunctions(Instruction table[]);
void InstallStringFunctions(Instruction table[]);
void InstallLobOps(Instruction table[]);

// The current time as 16 digits YYYYMMDDhhmmssff: the session's simulated
// time when it runs in simulation mode, else the local time.
void CurrentTimestamp(const Run& run, char out[16]);

// Leaves the loop with an action (action exit of the machine).
void ActionExit(Run& run, int32_t action, int32_t argument, int32_t resume);
// The yield test after record instructions: requeues when the channel asks.
void YieldTest(Run& run);

}  // namespace interp
