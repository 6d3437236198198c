// DSExecStm and DSRunProgramStep: the action loop over the interpreter, the
// actions that do not change the running statement, the requeue and the
// cancel (see exec_stm.h).
#include "interp/exec_stm.h"

#include <cstring>
#include <span>

#include "du/transactions.h"
#include "interp/diagnostics.h"
#include "interp/exec_runtime.h"
#include "interp/machine.h"
#include "interp/marks.h"
#include "interp/program_layout.h"
#include "interp/request_services.h"
#include "interp/transaction_end.h"
#include "kernel/control_blocks.h"
#include "kernel/diagnostics_area.h"
#include "kernel/statements.h"
#include "kernel/system_block.h"
#include "platform/numeric_services.h"
#include "platform/packed_decimal.h"

namespace interp {
namespace {

constexpr int32_t kActionRequeue = 20;
constexpr int32_t kSequenceDigits = 10;
constexpr int32_t kBit7 = 1 << 7;
constexpr int32_t kOpcodeGdc = 143;  // GET DIAGNOSTICS into a character target

// Program type kind: 2 for the statements that change many rows, 0 for
// types 73 and 74, -1 for the others.
int32_t TypeKind(int32_t type) {
  switch (type) {
    case kProgInsertMany:
    case kProgUpdateMany:
    case kProgUpdateAll:
    case kProgDeleteMany:
    case kProgDeleteAll:
      return 2;
    case 73:
    case 74:
      return 0;
    default:
      return -1;
  }
}

bool HasAtomicOrTrigger(int32_t* base, const StmProgram& p) {
  int64_t row = SdWord(base, p, kDescCallStatus);
  for (; row > 0 && row + kCsdWords <= p.sd_words; row += kCsdWords) {
    const int32_t type = SdWord(base, p, row + kCsdType);
    if (type < 0) return false;
    if (type == kCsdAtomic || type == kCsdTrigger) return true;
  }
  return false;
}

// The statement savepoint of a fresh run; false with the failure in pb[0].
bool TakeStatementMark(int32_t* base, int32_t* pb, const StmProgram& p) {
  const int32_t usr = pb[kExecUsr];
  if (DSGetTransState(base, usr) != 1 || Wd(base, p.com, kComMarkId) != 0) return true;
  const int32_t type = SdWord(base, p, kDescType);
  const int32_t kind = TypeKind(type);
  if (kind != 2 && !(kind < 1 && type != 1 && type != 2 && HasAtomicOrTrigger(base, p))) return true;
  const int32_t mark = ++Wd(base, usr, USR_MARK_ID);
  Wd(base, p.com, kComMarkId) = mark;
  DUWriteMark(base, usr, mark);
  const int32_t trv = Wd(base, usr, USR_TRV_COND);
  if (trv < 0) {
    Wd(base, usr, USR_RVEC_RCODE) = pb[kExecResult] = trv;
    return false;
  }
  Wd(base, usr, USR_SET_MARK_FLAG) = -1;
  return true;
}

void LevelName(int32_t* base, int32_t usr, char* name) {
  std::memset(name, ' ', 128);
  const int32_t lvl = Wd(base, usr, USR_LVL);
  if (InStorage(base, lvl, LVL_WORDS)) std::memcpy(name, &Wd(base, lvl, LVL_NAME), 128);
}

}  // namespace

void DSRunProgramStep(int32_t* base, int32_t* pb, int32_t* action, int32_t* argument) {
  *action = kActionError;
  *argument = 0;
  const int32_t usr = pb[kExecUsr], stm = pb[kExecStm];
  if (KernelSys(base) == 0 || !InStorage(base, usr, USR_WORDS) || !IsStatement(base, stm)) {
    pb[kExecResult] = DSBadHandle(base, InStorage(base, usr, USR_WORDS) ? usr : 0);
    return;
  }
  StmProgram p;
  const int32_t com = Wd(base, stm, STM_ACTIVE_COM);
  if (InStorage(base, com, kComMarkId + 1) && Wd(base, com, kComPgm) == 0) {
    Wd(base, usr, USR_RVEC_RCODE) = pb[kExecResult] = kErrNoProgram;
    return;
  }
  if (!LoadProgram(base, stm, &p)) {
    Wd(base, usr, USR_RVEC_RCODE) = pb[kExecResult] = KERNEL_BAD_PARAMETER;
    return;
  }
  if (Wd(base, stm, STM_CHA_WHEN_REQUEUED) == 0) {
    const int32_t status = Wd(base, stm, STM_STATUS);
    if (status != kStmRunning) {
      if (status != kStmClosePending) Wd(base, stm, STM_PC) = 2;
      Wd(base, stm, STM_STATUS) = kStmRunning;
      Wd(base, p.stg, kStateRowCounter) = 0;
      int32_t rc = 0;
      DSStmStartTrans(base, &rc, stm, usr);
      if (rc < 0) {
        pb[kExecResult] = rc;
        return;
      }
    }
    const int32_t declared = Wd(base, stm, STM_DECLARE_STM);
    if (declared != 0) {
      const int32_t rc = CheckStatementPair(base, usr, declared, stm);
      if (rc != 0) {
        Wd(base, usr, USR_RVEC_RCODE) = pb[kExecResult] = rc;
        Wd(base, usr, USR_RVEC_BITVEC) = 0;
        return;
      }
    }
    if (pb[kExecResult] < 0) {
      *argument = kRaiseRuntime;
      return;
    }
    if (!TakeStatementMark(base, pb, p)) return;
    DSSetCursorOrder(base, usr, Wd(base, stm, STM_CURSOR_ORDER_NUMBER));
  } else {
    Wd(base, stm, STM_CHA_WHEN_REQUEUED) = 0;
  }
  const int32_t cha = Wd(base, usr, USR_CHA);
  const bool has_channel = cha != 0 && InStorage(base, cha, CHA_WORDS);
  if (has_channel) {
    if (SdWord(base, p, kDescSectionId) >= 1)
      Wd(base, cha, CHA_INTERRUPT_MODE) = 1;
    else if (SdWord(base, p, kDescType) == kProgLevel2)
      Wd(base, cha, CHA_INTERRUPT_MODE) = 2;
  }
  char name[128];
  LevelName(base, usr, name);
  int32_t rvec[kStateWords] = {};
  int32_t position = Wd(base, stm, STM_PC);
  DAMAE2(base, rvec, &Wd(base, p.pgm, 0), p.program_words, &Wd(base, p.stg, 0), p.storage_words,
         &position, name, usr);
  Wd(base, stm, STM_PC) = position;
  Wd(base, usr, USR_SET_MARK_FLAG) = 0;
  if (has_channel) Wd(base, cha, CHA_INTERRUPT_MODE) = 0;
  pb[kExecResult] = rvec[kStateReturnCode];
  if (rvec[kStateReturnCode] == kErrRequeue) {
    *action = kActionRequeue;
    return;
  }
  if (rvec[kStateReturnCode] == kErrBreak) {
    *action = kActionBreak;
  } else {
    pb[kExecPc] = position;
    pb[kExecRows] = rvec[kStateRowCounter];
    pb[kExecBit7] = (rvec[kStateBitVector] & kBit7) != 0 ? 1 : 0;
    *action = rvec[kStateAction];
    *argument = rvec[kStateArgument];
    if (position == 0) Wd(base, stm, STM_STATUS) = kStmEnded;
  }
  const int32_t kind = TypeKind(SdWord(base, p, kDescType));
  if (kind == 2) {
    int32_t table = 0, constraint = 0;
    // The check's failure (record access answers it, rather than leaving
    // it in TRV_COND, where an earlier failure may still stand).
    const int32_t rc = DUCheckDeferred(base, usr, pb[kExecResult], &table, &constraint);
    if (rc < 0) pb[kExecResult] = rc;
  }
  if (pb[kExecResult] < 0 && kind > 0 && DSGetTransState(base, usr) == 1 &&
      Wd(base, p.com, kComMarkId) != 0) {
    DSTransRollbackDk(base, usr, Wd(base, p.com, kComMarkId));
    Wd(base, p.com, kComMarkId) = 0;
  }
  for (int32_t k = 0; k < kStateWords; ++k) Wd(base, usr, USR_RVEC_RCODE + k) = rvec[k];
}

namespace {

// One turn of the loop: the action of the step; true when the program must
// return (an unhandled condition or a failing LEA).
class Actions {
 public:
  Actions(int32_t* base, int32_t* pb) : base_(base), pb_(pb), usr_(pb[kExecUsr]) {}

  bool Perform(int32_t action, int32_t argument, int32_t* done);

 private:
  int32_t& Result() { return pb_[kExecResult]; }
  bool Raise(int32_t kind);
  // A failure of CAL, STM, STR, ETR or SEQ is raised at once.
  bool RaiseIfFailed(int32_t rc) {
    if (rc == 0) return false;
    Result() = rc;
    return Raise(kRaiseFailure);
  }
  bool Program(StmProgram* p) { return LoadProgram(base_, pb_[kExecStm], p); }
  int32_t TransactionStatement(int32_t position);
  int32_t Sequence(int32_t position);
  int32_t Mark(int32_t offset, bool set);
  void EndCompound();
  bool Leave(int32_t target);
  void GetDiagnostics(int32_t position);

  int32_t* base_;
  int32_t* pb_;
  int32_t usr_;
};

bool Actions::Raise(int32_t kind) {
  StmProgram p;
  if (!Program(&p)) return true;
  RuntimeSite site(base_, pb_);
  ConditionRun run = MakeConditionRun(base_, usr_, p);
  const int32_t exit = DSRaiseCondition(site, run, &Result(), kind);
  WriteBack(base_, usr_, p, run);
  if (run.handler != 0) pb_[kExecPc] = run.handler;
  return exit == 1;
}

int32_t Actions::TransactionStatement(int32_t position) {
  StmProgram p;
  if (!Program(&p)) return KERNEL_BAD_PARAMETER;
  // The sub-code follows the opcode; sub-codes 17 and 18 take the next word.
  if (position < 1 || int64_t{position} + 2 > p.program_words) return kErrBadOperand;
  const int32_t* ins = &Wd(base_, p.pgm, position - 1);
  return DSTransactionStatement(base_, usr_, p.stm, ins[1], ins[2]);
}

int32_t Actions::Sequence(int32_t position) {
  StmProgram p;
  if (!Program(&p)) return KERNEL_BAD_PARAMETER;
  if (position < 1 || int64_t{position} + 2 > p.program_words) return kErrBadOperand;
  const int32_t* ops = &Wd(base_, p.pgm, position - 1);
  const value_descriptor target{ops[1], kSequenceDigits, 0, 0};
  ByteSpan storage(reinterpret_cast<uint8_t*>(&Wd(base_, p.stg, 0)),
                   static_cast<size_t>(p.storage_words) * 4);
  if (ops[1] < 0 || int64_t{ops[1]} + decimal_bytes(kSequenceDigits) > int64_t{p.storage_words} * 4)
    return kErrBadOperand;
  int32_t value = 0;
  const int32_t rc = SequenceValue(base_, usr_, ops[0], ops[2], &value);
  if (rc != 0) return rc;
  const int32_t status = int_to_decimal(storage, target, value);
  return status < 0 ? kDecimalErrorBase + status : 0;
}

int32_t Actions::Mark(int32_t offset, bool set) {
  StmProgram p;
  if (!Program(&p)) return KERNEL_BAD_PARAMETER;
  const int32_t word = StorageWords(p, offset, 1);
  if (word == 0) return kErrBadOperand;
  return set ? DSSetMark(base_, usr_, &Wd(base_, word, 0))
             : DSRollbackMark(base_, usr_, &Wd(base_, word, 0));
}

void Actions::EndCompound() {
  StmProgram p;
  if (!Program(&p)) return;
  const int32_t stack = SdWord(base_, p, kDescCompoundStack);
  if (stack < 0 || stack >= p.storage_words) return;
  std::span<int32_t> words(&Wd(base_, p.stg, 0), static_cast<size_t>(p.storage_words));
  int32_t item[5] = {}, status = 0;
  stack5_pop(&status, words, stack, item);
  if (status != 0) return;
  int32_t atomic = 0;
  stack5_top_fourth(&status, words, stack, &atomic);
  RuntimeSite site(base_, pb_);
  site.EndCompound(item[0], status == 0 ? atomic : 0);
}

bool Actions::Leave(int32_t target) {
  StmProgram p;
  if (!Program(&p)) return true;
  RuntimeSite site(base_, pb_);
  ConditionRun run = MakeConditionRun(base_, usr_, p);
  DSLeaveCompound(site, run, target, &Result());
  WriteBack(base_, usr_, p, run);
  return Result() < 0;
}

void Actions::GetDiagnostics(int32_t position) {
  StmProgram p;
  if (!Program(&p)) {
    Result() = KERNEL_BAD_PARAMETER;
    return;
  }
  if (position < 2 || position > p.program_words) {
    Result() = kErrBadOperand;
    return;
  }
  const bool character = Wd(base_, p.pgm, position - 2) == kOpcodeGdc;
  const int32_t count = character ? 6 : 5;
  if (int64_t{position} + count - 1 > p.program_words) {
    Result() = kErrBadOperand;
    return;
  }
  int32_t ops[6] = {0, 0, 0, 0, 0, -1};
  for (int32_t k = 0; k < count; ++k) ops[k] = Wd(base_, p.pgm, position - 1 + k);
  RuntimeSite site(base_, pb_);
  const ConditionRun run = MakeConditionRun(base_, usr_, p);
  ByteSpan storage(reinterpret_cast<uint8_t*>(&Wd(base_, p.stg, 0)),
                   static_cast<size_t>(p.storage_words) * 4);
  Result() = DSGetDiagnostics(base_, usr_, storage, ops, character, SdWord(base_, p, kDescType),
                              site, run);
}

bool Actions::Perform(int32_t action, int32_t argument, int32_t* done) {
  const int32_t stm = pb_[kExecStm];
  switch (action) {
    case kActionCall:
      return RaiseIfFailed(DSCallProgram(base_, pb_, argument));
    case kActionStatement:
      return RaiseIfFailed(TransactionStatement(argument));
    case kActionStartTrans: {
      int32_t request[2] = {1, usr_};
      DSBTR3(base_, request);
      return RaiseIfFailed(request[0] < 0 ? request[0] : 0);
    }
    case kActionEndTrans:
      return RaiseIfFailed(DSEndTransactionStatement(base_, usr_, stm, argument == 1));
    case kActionOpen:
      Result() = DSOpenCursor(base_, pb_, argument);
      return false;
    case kActionClose: {
      StmProgram p;
      const int32_t cs = Program(&p) ? StorageWords(p, argument, kCsWords) : 0;
      Result() = cs == 0 ? kErrBadOperand : DSCloseCursor(base_, pb_, cs);
      return false;
    }
    case kActionError:
      return Raise(argument);
    case kActionSetDiag:
      DSClearDiag(base_, usr_);
      return false;
    case kActionEndCompound:
      EndCompound();
      return false;
    case kActionLeave:
      return Leave(argument);
    case kActionSetMark:
      Result() = Mark(argument, true);
      return false;
    case kActionReleaseMark:
      Result() = Mark(argument, false);
      return false;
    case kActionSequence:
      return RaiseIfFailed(Sequence(argument));
    case kActionBreak: {
      const auto f = RequestServices().debugger_break;
      int32_t end = 0;
      if (f != nullptr) {
        f(base_, pb_, &end);
      } else {
        Result() = kErrServiceAbsent;
        end = 1;
      }
      if (end != 0) *done = 1;
      return false;
    }
    case kActionGetDiag:
      GetDiagnostics(argument);
      return false;
    default:
      return false;
  }
}

}  // namespace

void DSExecStm(int32_t* base, int32_t* caller) {
  int32_t pb[kExecWords] = {0, caller[kExecUsr], caller[kExecStm], 0, 0, 0};
  const int32_t usr = pb[kExecUsr];
  if (KernelSys(base) == 0 || !InStorage(base, usr, USR_WORDS) || !IsStatement(base, pb[kExecStm])) {
    caller[kExecResult] = DSBadHandle(base, InStorage(base, usr, USR_WORDS) ? usr : 0);
    return;
  }
  const int32_t first = pb[kExecStm];
  const int32_t cha = Wd(base, first, STM_CHA_WHEN_REQUEUED);
  if (cha != 0 && InStorage(base, cha, CHA_WORDS)) {
    const int32_t nested = Wd(base, cha, CHA_LV_DSEXE3_STM);
    if (nested != 0 && nested != first && IsStatement(base, nested)) {
      Wd(base, first, STM_CHA_WHEN_REQUEUED) = 0;
      pb[kExecStm] = nested;
    }
  }
  // The calls this run made and has not returned from: a return at depth
  // 0 ends the run, whatever a damaged caller chain names. A resumed nested
  // statement counts the callers up to the request's own.
  int32_t depth = 0;
  for (int32_t at = pb[kExecStm]; at != first && depth < (1 << 16); ++depth) {
    const int32_t com = Wd(base, at, STM_ACTIVE_COM);
    const int32_t recursive =
        InStorage(base, com, kComMarkId + 1) ? Wd(base, com, kComRecursiveStm) : 0;
    at = recursive != 0 ? recursive : Wd(base, at, STM_CALLING_STM);
    if (!IsStatement(base, at)) {
      depth = 0;
      break;
    }
  }
  Actions actions(base, pb);
  int32_t done = 0, action = kActionError, argument = 0;
  while (done == 0) {
    bool exit = false;
    if (pb[kExecResult] == kErrCancelled) {
      // The cancel unwinds: raised again at each level (no handler search)
      // and the program returns as for END, up to the outermost one.
      action = kActionError;
      argument = kRaiseFailure;
      exit = true;
    } else {
      DSRunProgramStep(base, pb, &action, &argument);
    }
    if (action == kActionRequeue) {
      const int32_t running = pb[kExecStm];
      const int32_t channel = Wd(base, usr, USR_CHA);
      if (channel != 0 && InStorage(base, channel, CHA_WORDS)) {
        Wd(base, channel, CHA_LV_DSEXE3_STM) = running;
        Wd(base, running, STM_CHA_WHEN_REQUEUED) = channel;
        Wd(base, first, STM_CHA_WHEN_REQUEUED) = channel;
      }
      pb[kExecResult] = kErrRequeue;
      break;
    }
    bool returned = action == kActionEnd || action == kActionExit;
    if (returned) {
      DSReturnFromProgram(base, &done, pb, action, depth == 0);
    } else {
      const int32_t running = pb[kExecStm];
      exit = actions.Perform(action, argument, &done) || exit;
      if (pb[kExecStm] != running) ++depth;  // a call switched to its statement
    }
    if (exit && done == 0) {
      DSReturnFromProgram(base, &done, pb, kActionEnd, depth == 0);
      returned = true;
    }
    if (returned && done == 0) --depth;
  }
  caller[kExecResult] = pb[kExecResult];
  for (int32_t k = kExecPc; k < kExecWords; ++k) caller[k] = pb[k];
}

}  // namespace interp
