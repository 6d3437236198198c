// The program record of a statement, the runtime's condition site and the
// request layer's services (see exec_runtime.h).
#include "interp/exec_runtime.h"

#include <cstring>
#include <span>

#include "du/transactions.h"
#include "interp/diagnostics.h"
#include "interp/exec_stm.h"
#include "interp/program_layout.h"
#include "interp/request_services.h"
#include "kernel/control_blocks.h"
#include "kernel/cursor_row_check.h"
#include "kernel/error_report.h"
#include "kernel/system_block.h"
#include "platform/numeric_services.h"

namespace interp {

bool IsStatement(int32_t* base, int32_t stm) {
  return stm > 0 && InStorage(base, stm, STM_WORDS);
}

bool LoadProgram(int32_t* base, int32_t stm, StmProgram* p) {
  *p = StmProgram{};
  if (!IsStatement(base, stm)) return false;
  p->stm = stm;
  p->com = Wd(base, stm, STM_ACTIVE_COM);
  if (!InStorage(base, p->com, kComMarkId + 1)) return false;
  p->sd = Wd(base, p->com, kComSd);
  p->pgm = Wd(base, p->com, kComPgm);
  p->stg = Wd(base, p->com, kComStg);
  if (!InStorage(base, p->sd, kDescriptorWords)) return false;
  const int32_t start = Wd(base, p->sd, kDescProgramStart);
  const int32_t end = Wd(base, p->sd, kDescStorageOffset);
  p->storage_words = Wd(base, p->sd, kDescStorageSize);
  if (start < kDescriptorWords || end <= start || p->pgm != int64_t{p->sd} + start ||
      !InStorage(base, p->sd, end))
    return false;
  p->sd_words = end;
  p->program_words = end - start;
  return p->storage_words >= kStateWords && InStorage(base, p->stg, p->storage_words);
}

int32_t SdWord(int32_t* base, const StmProgram& p, int64_t k) {
  return k >= 0 && k < p.sd_words ? Wd(base, p.sd, static_cast<int32_t>(k)) : -1;
}

int32_t StorageWords(const StmProgram& p, int64_t offset, int64_t count) {
  if (offset < 0 || count < 0 || offset + count > p.storage_words) return 0;
  return static_cast<int32_t>(p.stg + offset);
}

ConditionRun MakeConditionRun(int32_t* base, int32_t usr, const StmProgram& p) {
  ConditionRun run;
  run.program = &Wd(base, p.sd, 0);
  run.program_words = p.sd_words;
  run.storage = &Wd(base, p.stg, 0);
  run.storage_words = p.storage_words;
  run.pc = Wd(base, p.stm, STM_PC);
  run.mark_id = Wd(base, p.com, kComMarkId);
  run.recursive_depth = Wd(base, p.com, kComRecursiveDepth);
  run.rvec_rcode = Wd(base, usr, USR_RVEC_RCODE);
  return run;
}

void WriteBack(int32_t* base, int32_t usr, const StmProgram& p, const ConditionRun& run) {
  Wd(base, p.stm, STM_PC) = run.pc;
  Wd(base, p.com, kComMarkId) = run.mark_id;
  Wd(base, usr, USR_RVEC_RCODE) = run.rvec_rcode;
}

void SqlStateOf(int32_t rc, char* state) {
  const auto f = RequestServices().sql_state;
  if (f != nullptr)
    f(rc, 0, 0, state);
  else
    std::memcpy(state, rc == 0 ? "00000" : rc >= 100 ? "02000" : rc > 0 ? "01000" : "S1000", 5);
}

int32_t TriggerOf(int32_t* base, int32_t stm) {
  const int32_t csd = Wd(base, stm, STM_CALLING_CSD);
  if (Wd(base, stm, STM_CALLING_STM) == 0 || !InStorage(base, csd, kCsdWords) ||
      Wd(base, csd, kCsdType) != kCsdTrigger)
    return 0;
  StmProgram p;
  if (!LoadProgram(base, stm, &p)) return 0;
  const int32_t id = SdWord(base, p, kDescSectionId);
  return id > 0 ? id : 0;
}

void RuntimeSite::SqlState(int32_t rc, char* state) {
  SqlStateOf(rc, state);
}

int32_t RuntimeSite::RollbackToMark(int32_t mark) {
  const int32_t usr = pb_[kExecUsr];
  DSTransRollbackDk(base_, usr, mark);
  return Wd(base_, usr, USR_TRV_COND);
}

int32_t RuntimeSite::TransactionState() {
  return DSGetTransState(base_, pb_[kExecUsr]);
}

int32_t RuntimeSite::TransactionScope() {
  return DSGetTransScope(base_, pb_[kExecUsr]);
}

void RuntimeSite::EndCompound(int32_t id, int32_t atomic) {
  StmProgram p;
  if (LoadProgram(base_, pb_[kExecStm], &p)) {
    int64_t row = SdWord(base_, p, kDescCallStatus);
    for (; row > 0 && row + kCsdWords <= p.sd_words; row += kCsdWords) {
      const int32_t type = SdWord(base_, p, row + kCsdType);
      if (type < 0) break;
      const int32_t compound = SdWord(base_, p, row + kCsdCompoundId);
      if ((type != kCsdCursor && type != kCsdScrollableCursor) || (compound != id && compound != -1))
        continue;
      const int32_t cs = StorageWords(p, SdWord(base_, p, row + kCsdStorage), kCsWords);
      if (cs == 0) continue;
      const int32_t open = Wd(base_, cs, kCsOpen);
      if (!IsStatement(base_, open)) continue;
      const int32_t status = Wd(base_, open, STM_STATUS);
      if (status >= kStmLinked && status <= kStmEnded) DSCloseCursor(base_, pb_, cs);
    }
  }
  Wd(base_, pb_[kExecUsr], USR_ATOMIC) = atomic;
}

void RuntimeSite::Log(int32_t severity, const char* text) {
  StatusPair st{};
  const int32_t items[1] = {static_cast<int32_t>(std::strlen(text))};
  DSLogMsg(&st, severity, text, nullptr, items, 1);
}

bool RuntimeSite::HasDiagnostics() {
  return Wd(base_, pb_[kExecUsr], USR_TOTAL_ERROR_COUNT) != 0;
}

void RuntimeSite::Record(int32_t result, int32_t, const char* state, int32_t kind, int32_t mode) {
  DSAddCondition(base_, pb_[kExecUsr], result, kind, mode, state, TriggerOf(base_, pb_[kExecStm]));
}

namespace {

int32_t Absent(const char* name) {
  DSErrRep(name, static_cast<int32_t>(std::strlen(name)), kErrServiceAbsent, SEV_ERROR);
  return kErrServiceAbsent;
}

}  // namespace

int32_t BindStatement(int32_t* base, int32_t usr, int32_t stm) {
  const auto f = RequestServices().bind_statement;
  return f != nullptr ? f(base, usr, stm) : Absent("DSBindStm");
}

int32_t UnlinkStatement(int32_t* base, int32_t usr, int32_t stm) {
  const auto f = RequestServices().unlink_statement;
  return f != nullptr ? f(base, usr, stm) : Absent("DSUnlinkStm");
}

int32_t CheckStatementPair(int32_t* base, int32_t usr, int32_t cursor, int32_t stm) {
  const auto f = RequestServices().check_statement_pair;
  if (f != nullptr) return f(base, usr, cursor, stm);
  // The kernel's check on the cursor's first row (mode 1).
  int32_t request[4] = {0, usr, 0, 1};
  return DSChkStmOp(base, request, cursor, stm);
}

int32_t OpenStatementTables(int32_t* base, int32_t usr, int32_t stm, int32_t mode) {
  const auto f = RequestServices().open_statement_tables;
  return f != nullptr ? f(base, usr, stm, mode) : Absent("DSOpenStmTables");
}

int32_t SequenceValue(int32_t* base, int32_t usr, int32_t mode, int32_t sequence, int32_t* value) {
  const auto f = RequestServices().sequence_value;
  return f != nullptr ? f(base, usr, mode, sequence, value) : Absent("DSSeqValue");
}

}  // namespace interp
