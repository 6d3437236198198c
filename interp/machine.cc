// The interpreter loop DAMAE2: entry checks, one bounds test and one indexed
// call per instruction, BEG as the way out of an error, the action exit with
// its read-set check, and the preemption protocol (yield test and requeue)
// that record instructions and JMC share. Also the instruction length service.
#include "interp/machine.h"

#include <atomic>
#include <mutex>

#include "interp/instruction_printer.h"
#include "interp/instruction_trace.h"
#include "interp/run_state.h"
#include "kernel/control_blocks.h"
#include "kernel/system_block.h"
#include "kernel/word_storage.h"
#include "platform/thread_slots.h"

namespace interp {
namespace {

void Unbuilt(Run& run) {
  run.fail(kErrBadOpcode);
}

// BEG at position 1: restore what a requeue saved, else report the reason.
void Begin(Run& run) {
  if (run.cha != 0 && run.cha_field(CHA_LV_DAMAE2_RCODE) != 0) {
    run.state(kStateAction) = run.cha_field(CHA_LV_DAMAE2_ACTION);
    run.state(kStateReturnCode) = run.cha_field(CHA_LV_DAMAE2_RCODE);
    run.state(kStateBitVector) = run.cha_field(CHA_LV_DAMAE2_BITVEC);
    run.state(kStateArgument) = run.cha_field(CHA_LV_DAMAE2_ARG);
    run.cha_field(CHA_LV_DAMAE2_RCODE) = 0;
  }
  if (run.state(kStateReturnCode) == 0) run.fail(kErrBadOpcode);
  // An error (not a warning, whose resume position is behind it) leaves the
  // statement at position 1; state word 6 keeps the failing position.
  run.error_end = run.state(kStateReturnCode) < 0;
  run.state(kStateAction) = kActionError;
  run.state(kStateArgument) = 0;
  run.leave = true;
}

struct Table {
  Instruction entry[kOpcodeCount + 1];
  Table() {
    for (auto& e : entry) e = Unbuilt;
    InstallControlOps(entry);
    InstallCompareOps(entry);
    InstallMoveOps(entry);
    InstallNumericOps(entry);
    InstallTableOps(entry);
    InstallRecordOps(entry);
    InstallVaryingOps(entry);
    InstallAggregateOps(entry);
    InstallWideOps(entry);
    InstallCollationOps(entry);
    InstallDatetimeOps(entry);
    InstallPatternOps(entry);
    InstallStringOps(entry);
    InstallSetFunctionOps(entry);
    InstallKeyRangeOps(entry);
    InstallPatternCompileOps(entry);
    InstallNumericFunctions(entry);
    InstallStringFunctions(entry);
    InstallLobOps(entry);
    entry[kOpBEG] = Begin;
    // Not implemented in this instruction set: always -19018.
    entry[kOpCB2] = entry[kOpLGI] = entry[kOpGEE] = Unbuilt;
  }
};

Table& Dispatch() {
  static Table table;
  return table;
}
std::mutex install_mutex;

int32_t ThreadBlock() {
  StatusPair status{};
  int32_t thr = 0;
  mdr_tls_get(&status, &thr, TLS_SLOT_THR);
  return status.rc == 0 ? thr : 0;
}

// The requeue: the read-set check, then -16234 in the caller's result word
// and the position kept; an error recorded just before is saved in the
// channel for BEG of the resumed run.
void Requeue(Run& run) {
  const int32_t rc = DSExitReadSetCheck(run.base, run.usr, run.thr);
  if (rc < 0) {
    run.fail(rc);
    run.state(kStateAction) = kActionError;
    run.state(kStateArgument) = 0;
    run.error_end = true;
    run.leave = true;
    return;
  }
  const int32_t sys = KernelSys(run.base);
  if (sys != 0) ++Wd(run.base, sys, SYS_REQUEUE_COUNT);
  if (run.pos == 1 && run.cha != 0) {
    run.cha_field(CHA_LV_DAMAE2_ACTION) = run.state(kStateAction);
    run.cha_field(CHA_LV_DAMAE2_RCODE) = run.state(kStateReturnCode);
    run.cha_field(CHA_LV_DAMAE2_BITVEC) = run.state(kStateBitVector);
    run.cha_field(CHA_LV_DAMAE2_ARG) = run.state(kStateArgument);
  }
  run.requeued = true;
  run.leave = true;
}

}  // namespace

int32_t& Run::usr_field(int32_t n) {
  return Wd(base, usr, n);
}
int32_t& Run::cha_field(int32_t n) {
  return Wd(base, cha, n);
}

void Run::fail(int32_t error) {
  const bool inside = pos >= 1 && pos <= program_words;
  DARecordError(base, inside ? ins() : nullptr, storage, storage_words, &pos, error,
                inside ? int64_t{program_words} - pos + 1 : 0);
}

void Run::warn(int32_t warning) {
  state(kStateReturnCode) = warning;
  state(kStateResume) = pos + length();
  pos = 1;
}

Instruction DAInstallInstruction(int32_t opcode, Instruction routine) {
  if (!IsOpcode(opcode) || routine == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(install_mutex);
  Instruction old = Dispatch().entry[opcode];
  Dispatch().entry[opcode] = routine;
  return old;
}

Instruction DAInstruction(int32_t opcode) {
  return IsOpcode(opcode) ? Dispatch().entry[opcode] : nullptr;
}

void ActionExit(Run& run, int32_t action, int32_t argument, int32_t resume) {
  run.state(kStateAction) = action;
  run.state(kStateArgument) = argument;
  run.state(kStateResume) = resume;
  run.leave = true;
  const int32_t rc = DSExitReadSetCheck(run.base, run.usr, run.thr);
  if (rc < 0) {
    run.fail(rc);
    run.state(kStateAction) = kActionError;
    run.state(kStateArgument) = 0;
    run.error_end = true;
  } else {
    run.pos = resume;
  }
}

void YieldTest(Run& run) {
  if (run.cha == 0) return;
  if (run.cha_field(CHA_INTERRUPT_MODE) == 1 &&
      run.cha_field(CHA_INTERRUPT_REQNO) == run.cha_field(CHA_REQNO))
    Requeue(run);
}

void DAReturnState(int32_t* rvec, const int32_t* storage, int32_t* position) {
  for (int32_t k = 0; k < kStateWords; ++k) rvec[k] = storage[k];
  *position = storage[kStateResume];
}

namespace {

// The end of a run by an error: the state goes back with its failing
// position in state word 6, and the statement's position is 1 (BEG).
void ReturnError(int32_t* rvec, int32_t* storage, int32_t* position) {
  storage[kStateAction] = kActionError;
  storage[kStateArgument] = 0;
  DAReturnState(rvec, storage, position);
  *position = 1;
}

}  // namespace

namespace {

// The opcode counters of the session's trace control block when its trace
// is on (word 1 = 1), else nullptr.
int32_t* TraceCounters(int32_t* base, int32_t usr) {
  if (usr == 0) return nullptr;
  const int32_t block = Wd(base, usr, USR_TRACEFLAGS);
  if (block <= 0 || !InStorage(base, block, kTraceBlockWords) || Wd(base, block, kTraceOn) != 1)
    return nullptr;
  return &Wd(base, block, kTraceCounters);
}

// The dispatch loop; a traced run counts each opcode it executes (counter
// n for opcode n) and lists the instruction to the log first.
template <bool traced>
void Loop(Run& run, int32_t* counters) {
  Instruction* table = Dispatch().entry;
  while (!run.leave) {
    // A position off the program, or an instruction running past its end,
    // is answered like a bad opcode: nothing outside the program is read.
    if (run.pos < 1 || run.pos > run.program_words) {
      DARecordError(run.base, nullptr, run.storage, run.storage_words, &run.pos, kErrBadOpcode);
      continue;
    }
    const int32_t op = run.program[run.pos - 1];
    if (!IsOpcode(op) || run.pos + kOpcodes[op].length - 1 > run.program_words) {
      run.fail(kErrBadOpcode);
      continue;
    }
    if constexpr (traced) {
      std::atomic_ref<int32_t>(counters[op]).fetch_add(1, std::memory_order_relaxed);
      int32_t printed[kPrintResultWords] = {};
      DAPrtInstr(printed, run.ins(), int64_t{run.program_words} - run.pos + 1, run.storage,
                 run.storage_words, run.pos, nullptr, nullptr, 0, run.base);
    }
    table[op](run);
  }
}

}  // namespace

int32_t DAOpLength(int32_t opcode, int32_t* length, int32_t* branch) {
  if (!IsOpcode(opcode)) return kErrOutOfRange;
  *length = kOpcodes[opcode].length;
  *branch = kOpcodes[opcode].branch;
  return *branch < 0 ? kErrNotSteppable : 0;
}

void DAMAE2(int32_t* base, int32_t* rvec, const int32_t* program, int32_t program_words,
            int32_t* storage, int32_t storage_words, int32_t* position, const char* user_name,
            int32_t usr) {
  Run run;
  run.base = base;
  run.program = program;
  run.program_words = program_words;
  run.storage = storage;
  run.storage_words = storage_words;
  run.user_name = user_name;
  run.usr = usr;
  if (storage_words < kStateWords) {
    // No machine state to record in: the error goes to the caller's vector
    // directly, so that no result of an earlier run is read as this one's.
    for (int32_t k = 0; k < kStateWords; ++k) rvec[k] = 0;
    rvec[kStateReturnCode] = kErrBadOperand;
    rvec[kStateBitVector] = kBitsNoTable;
    rvec[kStateResume] = 1;
    rvec[kStateAction] = kActionError;
    *position = 1;
    return;
  }
  if (program_words < 1 || program[0] != kOpBEG) {
    run.pos = 1;
    DARecordError(base, program_words >= 1 ? program : nullptr, storage, storage_words, &run.pos,
                  kErrNoBeg, program_words);
    ReturnError(rvec, storage, position);
    return;
  }
#ifndef NDEBUG
  // Debug builds refuse a program that a loader or emitter got wrong before
  // any instruction of it runs.
  int32_t bad = 0;
  if (const int32_t rc = DACheckProgram(program, program_words, &bad); rc != 0) {
    run.pos = bad;
    DARecordError(base, program + (bad - 1), storage, storage_words, &run.pos, rc,
                  int64_t{program_words} - bad + 1);
    ReturnError(rvec, storage, position);
    return;
  }
#endif
  run.pos = *position;
  storage[kStateAction] = kActionEnd;
  storage[kStateReturnCode] = 0;
  storage[kStateBitVector] = 0;
  storage[kStateArgument] = 0;
  run.cha = usr != 0 ? Wd(base, usr, USR_CHA) : 0;
  run.thr = ThreadBlock();
  if (run.thr == 0 || !InStorage(base, run.thr, THR_WORDS)) {
    run.thr = 0;
    run.fail(kErrNoThread);
    ReturnError(rvec, storage, position);
    return;
  }
  DSClrStmList(base, run.thr);
  // The loop is chosen once: an untraced run pays nothing for the trace.
  if (int32_t* counters = TraceCounters(base, usr); counters != nullptr)
    Loop<true>(run, counters);
  else
    Loop<false>(run, nullptr);
  if (run.requeued) {
    // A requeue writes the result word and the position only.
    rvec[0] = kErrRequeue;
    *position = run.pos;
    return;
  }
  if (run.error_end) return ReturnError(rvec, storage, position);
  DAReturnState(rvec, storage, position);
}

}  // namespace interp
