// The statement execution runtime: DSExecStm runs a statement's program to
// its result, performing each action the interpreter hands back (calls and
// cursors, transaction statements, marks, sequences, conditions,
// diagnostics, requeue); calls between programs switch the running
// statement in place and keep the chain of callers in the statement blocks.
#pragma once

#include <cstdint>

namespace interp {

// The runtime's parameter block (6 words).
enum ExecWord : int32_t {
  kExecResult = 0,  // 0, a positive informational code, or a negative error
  kExecUsr = 1,
  kExecStm = 2,     // the statement whose program runs now
  kExecPc = 3,      // on return: the statement's position after the last step
  kExecRows = 4,    // the return vector's row counter
  kExecBit7 = 5,    // bit 7 of the return vector's bit vector
};
inline constexpr int32_t kExecWords = 6;

// Runs the statement pb[2] of session pb[1] to its result (pb[0]) and sets
// pb[3..5]. Never raises; a statement or session that is not one gets the
// invalid-handle report.
void DSExecStm(int32_t* base, int32_t* pb);

// One interpreter run of the statement in pb[2]: the action the runtime
// performs next and its argument.
void DSRunProgramStep(int32_t* base, int32_t* pb, int32_t* action, int32_t* argument);

// The end of the running program (END: action 1, EXI/EXN: 2): *done 1 at
// the outermost program, else the caller runs again. `outermost`: the
// program is the run's own (reached by no call of this run), whatever its
// CALLING_STM says.
void DSReturnFromProgram(int32_t* base, int32_t* done, int32_t* pb, int32_t action,
                         bool outermost = false);

// CAL: the call through the CSD at `csd_offset` of the running program's
// descriptor; 0 with the called statement in pb[2], 100 for a FETCH past
// the end, or the failure (the call is not made). A procedure, atomic block
// or trigger that is already running up the caller chain is not called
// again (-14601): only a recursive invocation makes a copy to run.
int32_t DSCallProgram(int32_t* base, int32_t* pb, int32_t csd_offset);
// OPN: opens the cursor of the CSDSTG at storage word `offset` (from 0).
int32_t DSOpenCursor(int32_t* base, int32_t* pb, int32_t offset);
// CLO: closes what the CSDSTG at kernel word `csdstg` holds.
int32_t DSCloseCursor(int32_t* base, int32_t* pb, int32_t csdstg);

// Deepest chain of recursive copies of one statement.
inline constexpr int32_t kMaxRecursion = 47;

}  // namespace interp
