// Jumps, the preempting jump JMC, the row counter, the action instructions
// that hand the run back to its caller, the diagnostics items and the
// compound-statement stack.
#include <algorithm>
#include <cstring>

#include "interp/run_state.h"
#include "kernel/control_blocks.h"
#include "kernel/system_block.h"
#include "platform/numeric_services.h"

namespace interp {
namespace {

void Jump(Run& run) {
  run.branch(1);
}

// Words the caller reads back (resume positions, arguments) are computed
// modulo 2^32, as the caller's own checks decide what they may name.
int32_t Wrapped(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

void TestNullEliminated(Run& run) {
  if (run.state(kStateBitVector) == kNullEliminatedWord)
    run.branch(1);
  else
    run.next();
}

void PreemptingJump(Run& run) {
  if (run.cha == 0) {
    run.branch(1);
    return;
  }
  if (run.cha_field(CHA_REQNO_CANCEL) == run.cha_field(CHA_REQNO) &&
      run.cha_field(CHA_INTERRUPT_MODE) != 0) {
    run.fail(kErrCancelled);
    const int32_t sys = KernelSys(run.base);
    if (sys != 0) ++Wd(run.base, sys, SYS_ST_CANCEL_COUNT);
    return;
  }
  run.branch(1);
  if (run.cha_field(CHA_INTERRUPT_MODE) == 1) {
    ++run.cha_field(CHA_JMC_COUNT);
    if (run.cha_field(CHA_INTERRUPT_REQNO) == run.cha_field(CHA_REQNO)) YieldTest(run);
  }
}

void CountRow(Run& run) {
  ++run.state(kStateRowCounter);
  run.next();
}

void End(Run& run) {
  run.state(kStateReturnCode) = run.op(1);
  run.state(kStateEndKind) = run.op(1) == 1 ? 2 : 1;
  ActionExit(run, kActionEnd, run.state(kStateArgument), 0);
}
void Exit(Run& run) {
  run.state(kStateReturnCode) = 0;
  run.state(kStateEndKind) = 3;
  ActionExit(run, kActionExit, run.state(kStateArgument), Wrapped(run.pos, run.op(1)));
}
void ExitNotFound(Run& run) {
  run.state(kStateReturnCode) = 1;
  run.state(kStateEndKind) = 4;
  ActionExit(run, kActionExit, run.state(kStateArgument), Wrapped(run.pos, run.op(1)));
}

// Actions whose argument is op1 (or p + 1) and whose resume lies behind them.
template <int32_t action, bool argument_is_position>
void Hand(Run& run) {
  const int32_t argument = argument_is_position ? run.pos + 1 : run.op(1);
  ActionExit(run, action, argument, run.pos + run.length());
}
void StatementAction(Run& run) {
  ActionExit(run, kActionStatement, run.pos, run.pos + 3);
}
void StartTransaction(Run& run) {
  ActionExit(run, kActionStartTrans, run.state(kStateArgument), run.pos + 1);
}
void Signal(Run& run) {
  const int64_t w = int64_t{run.op(2)} + 1;
  if (!run.words(w, 1)) return run.fail(kErrBadOperand);
  run.state(kStateReturnCode) = run.word(static_cast<int32_t>(w));
  ActionExit(run, kActionError, run.op(1), run.pos + 3);
}
void EndCompound(Run& run) {
  ActionExit(run, kActionEndCompound, Wrapped(run.op(1), 1), run.pos + 2);
}
void Break(Run& run) {
  ActionExit(run, kActionBreak, 0, run.pos);
}

// The compound-statement stack at storage word op1 + 1 (index op1 from 0).
WordSpan Words(Run& run) {
  return WordSpan(run.storage, static_cast<size_t>(run.storage_words));
}
bool StackOk(Run& run) {
  return run.op(1) >= 0 && run.op(1) < run.storage_words;
}

void InitCompound(Run& run) {
  if (!StackOk(run)) return run.fail(kErrBadOperand);
  int32_t status = 0;
  stack5_clear(&status, Words(run), run.op(1));
  if (status < 0) return run.fail(kErrBadOperand);
  run.state(kStateReturnCode) = 0;
  ActionExit(run, kActionInitCompound, run.state(kStateArgument), run.pos + 4);
}

void BeginCompound(Run& run) {
  if (!StackOk(run)) return run.fail(kErrBadOperand);
  int32_t status = 0, first = 0;
  stack5_top_first(&status, Words(run), run.op(1), &first);
  int32_t item[5] = {run.op(2), 0, 0, run.op(3), 0};
  if (status == 0 && first == -1) {
    stack5_pop(&status, Words(run), run.op(1), item);
    item[0] = run.op(2);
  }
  status = 0;
  stack5_push(&status, Words(run), run.op(1), item);
  if (status < 0) return run.fail(kErrBadOperand);
  if (run.usr != 0 && run.usr_field(USR_ATOMIC) == 0) run.usr_field(USR_ATOMIC) = run.op(3);
  run.next();
}

// SCA's operand 2 is its branch operand: the continuation is the position
// it leads to, the instruction the program check found there.
void SetContinuation(Run& run) {
  if (!StackOk(run)) return run.fail(kErrBadOperand);
  int32_t status = 0;
  stack5_set_second(&status, Words(run), run.op(1), run.Target(run.op(2)));
  if (status < 0) return run.fail(kErrNoBeg);
  run.next();
}

void JumpContinuation(Run& run) {
  if (!StackOk(run)) return run.fail(kErrBadOperand);
  int32_t status = 0, target = 0;
  stack5_top_second(&status, Words(run), run.op(1), &target);
  if (status < 0) return run.fail(kErrNoBeg);
  run.pos = target;
}

void SetDiagnosticsNumber(Run& run) {
  static constexpr int32_t kFields[] = {USR_CURRENT_TABLE_SYSID,   USR_CURRENT_ROUTINE_SYSID,
                                        USR_CURRENT_TRIGGER_SYSID, USR_CURRENT_CONSTRAINT_SYSID,
                                        USR_CURRENT_COLUMN_NUMBER, USR_CURRENT_PARAMETER_NUMBER};
  const int32_t item = run.op(1);
  if (item == 1) return ActionExit(run, kActionSetDiag, run.state(kStateArgument), run.pos + 3);
  if (item >= 2 && item <= 7 && run.usr != 0) run.usr_field(kFields[item - 2]) = run.op(2);
  run.next();
}

void SetDiagnosticsText(Run& run) {
  const int32_t item = run.op(1), from = run.op(2), n = run.op(3);
  int32_t length_field = 0, text_field = 0;
  if (item == 9) {
    length_field = USR_CURRENT_CONDITION_NAME_LENGTH;
    text_field = USR_CURRENT_CONDITION_NAME;
  } else if (item == 10) {
    length_field = USR_CURRENT_CURSOR_NAME_LENGTH;
    text_field = USR_CURRENT_CURSOR_NAME;
  }
  if (length_field != 0 && run.usr != 0 && n >= 0 && n <= 128) {
    if (!run.fits(from, n)) return run.fail(kErrBadOperand);
    run.usr_field(length_field) = n;
    std::memcpy(&run.usr_field(text_field), run.at(from), static_cast<size_t>(n));
  }
  run.next();
}

void Skip(Run& run) {
  run.next();
}

}  // namespace

void InstallControlOps(Instruction t[]) {
  t[42] = Jump;
  t[43] = Exit;
  t[44] = End;
  t[54] = CountRow;
  t[72] = TestNullEliminated;
  t[74] = ExitNotFound;
  t[109] = InitCompound;
  t[110] = BeginCompound;
  t[111] = EndCompound;
  t[112] = SetContinuation;
  t[113] = JumpContinuation;
  t[114] = Hand<kActionOpen, false>;
  t[115] = Hand<kActionClose, false>;
  t[116] = StartTransaction;
  t[117] = Hand<kActionEndTrans, false>;
  t[118] = StatementAction;
  t[119] = Signal;
  t[121] = Hand<kActionCall, false>;
  t[122] = Hand<kActionLeave, false>;
  t[134] = PreemptingJump;
  t[136] = Hand<kActionSetMark, false>;
  t[137] = Hand<kActionReleaseMark, false>;
  t[138] = Hand<kActionSequence, true>;
  t[139] = Hand<kActionCac, false>;
  t[140] = Break;
  t[141] = Hand<kActionGetDiag, true>;
  t[142] = SetDiagnosticsNumber;
  t[143] = Hand<kActionGetDiag, true>;
  t[144] = SetDiagnosticsText;
  t[175] = t[176] = Skip;  // CUH, CHU
}

}  // namespace interp
