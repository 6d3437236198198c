// The record instructions: each gets the work entry of its record block,
// calls its record access routine, and takes the block's status word: 0 goes
// on, a positive one branches (or fails where the instruction cannot branch),
// a negative one is recorded; then the yield test. Also the group rows of
// AGB, AGH and AGE, whose row write is a record operation too.
#include <algorithm>
#include <cstring>

#include "interp/machine.h"
#include "interp/record_services.h"
#include "interp/run_state.h"
#include "kernel/control_blocks.h"
#include "kernel/system_block.h"
#include "kernel/word_storage.h"

namespace interp {
namespace {

// The record block at storage word t, when its header and its row area lie
// inside the storage; else the instruction fails and nullptr comes back.
int32_t* Block(Run& run, int32_t t) {
  if (!run.words(t, kRecBuffer)) {
    run.fail(kErrBadOperand);
    return nullptr;
  }
  int32_t* rec = &run.word(t);
  const int64_t row = std::max(rec[kRecKeyLength], rec[kRecRowLength]);
  if (row > 0 && !run.words(t + kRecBuffer, (row + 3) / 4)) {
    run.fail(kErrBadOperand);
    return nullptr;
  }
  return rec;
}

enum class Kind { kRead, kWrite };
enum class Positive { kBranch, kFail, kGoOn };

// Steps 1-3 of the record protocol; false when the instruction failed.
bool Settle(Run& run, int32_t status, Positive positive) {
  if (status == 0) {
    run.next();
  } else if (status > 0) {
    if (positive == Positive::kBranch)
      run.branch(kOpcodes[run.opcode()].branch);
    else if (positive == Positive::kFail)
      run.fail(status);
    else
      run.next();
  } else {
    run.fail(status);
  }
  return true;
}

// Work entry of the block at storage word t, keeping its status word.
bool Work(Run& run, int32_t* rec, int32_t t, int32_t* status_block, int32_t* entry) {
  const int32_t keep = rec[kRecStatus];
  DSGetStmWork(run.base, rec, t, run.thr, entry);
  const int32_t got = rec[kRecStatus];
  rec[kRecStatus] = keep;
  if (got < 0) {
    status_block[kRecStatus] = got;
    return false;
  }
  run.last_work = *entry;
  return true;
}

template <RecordRoutine RecordServiceTable::*Member, Kind kind, Positive positive, bool yield>
void Plain(Run& run) {
  const int32_t t = run.op(1);
  int32_t* rec = Block(run, t);
  if (rec == nullptr) return;
  int32_t work = 0;
  if (kind == Kind::kRead && !Work(run, rec, t, rec, &work)) {
    run.fail(rec[kRecStatus]);
    if (yield) YieldTest(run);
    return;
  }
  (RecordServices().*Member)(run.base, rec, run.usr, kind == Kind::kRead ? work : run.last_work);
  Settle(run, rec[kRecStatus], positive);
  if (yield) YieldTest(run);
}

// GNX, GPX, GUX: op1 the index or key block, op2 the table block.
template <IndexRoutine RecordServiceTable::*Member>
void Indexed(Run& run) {
  int32_t* key = Block(run, run.op(1));
  if (key == nullptr) return;
  int32_t* table = Block(run, run.op(2));
  if (table == nullptr) return;
  int32_t work = 0;
  if (!Work(run, table, run.op(2), key, &work)) {
    run.fail(key[kRecStatus]);
    YieldTest(run);
    return;
  }
  (RecordServices().*Member)(run.base, key, table, run.usr, work);
  Settle(run, key[kRecStatus], Positive::kBranch);
  YieldTest(run);
}

void GetUniqueRow(Run& run) {  // GUR
  int32_t* rec = Block(run, run.op(1));
  if (rec == nullptr) return;
  rec[kRecFetchCode] = kFetchForward;
  rec[kRecStatus] = kStatusExactKey;
  int32_t work = 0;
  if (!Work(run, rec, run.op(1), rec, &work)) {
    run.fail(rec[kRecStatus]);
    YieldTest(run);
    return;
  }
  RecordServices().get_row(run.base, rec, run.usr, work);
  Settle(run, rec[kRecStatus], Positive::kBranch);
  YieldTest(run);
}

// LSR: nothing to lock outside a writable, active transaction, or for a row
// already locked under this transaction, or a block without write-set merge.
void LockRow(Run& run) {
  int32_t* rec = Block(run, run.op(1));
  if (rec == nullptr) return;
  const int32_t tp = run.usr != 0 ? run.usr_field(USR_TP) : 0;
  if (tp == 0 || Wd(run.base, tp, TP_READ_WRITE_MODE) == 31 ||
      (rec[kRecFetchCode] < 1 &&
       rec[kRecLockedTransaction] == Wd(run.base, tp, TP_TRANSACTION_NUMBER)) ||
      rec[kRecMergeWord] < 1 || Wd(run.base, tp, TP_TRANSACTION_STATE) == 0) {
    run.next();
    return;
  }
  Plain<&RecordServiceTable::lock_row, Kind::kRead, Positive::kFail, false>(run);
}

}  // namespace

void InstallRecordOps(Instruction t[]) {
  using S = RecordServiceTable;
  t[3] = Plain<&S::get_row, Kind::kRead, Positive::kBranch, true>;         // GNR
  t[4] = Plain<&S::get_prev_row, Kind::kRead, Positive::kBranch, true>;    // GPR
  t[5] = GetUniqueRow;                                                     // GUR
  t[6] = t[7] = Indexed<&S::get_row_index>;                                // GNX GPX
  t[8] = LockRow;                                                          // LSR
  t[9] = Plain<&S::prepare_update, Kind::kWrite, Positive::kFail, false>;  // PFU
  t[10] = Plain<&S::insert_row, Kind::kWrite, Positive::kBranch, true>;    // INS
  t[11] = Plain<&S::update_row, Kind::kWrite, Positive::kBranch, true>;    // UPD
  t[12] = Plain<&S::delete_row, Kind::kWrite, Positive::kBranch, true>;    // DEL
  t[13] = Plain<&S::load_rows, Kind::kWrite, Positive::kFail, true>;       // LOA
  t[14] = Plain<&S::sort_rows, Kind::kWrite, Positive::kGoOn, false>;      // SRT
  t[15] = Plain<&S::drop_rows, Kind::kRead, Positive::kGoOn, true>;        // DRP
  t[71] = Indexed<&S::get_unique>;                                         // GUX
  t[73] = Plain<&S::insert_index, Kind::kWrite, Positive::kBranch, true>;  // IND
  t[127] = Plain<&S::delete_all, Kind::kRead, Positive::kBranch, true>;    // DLA
  t[151] = Plain<&S::refresh, Kind::kWrite, Positive::kFail, false>;       // REF
  t[152] = Plain<&S::write_flush, Kind::kWrite, Positive::kFail, false>;   // WFR
  t[157] = Plain<&S::merge_rows, Kind::kWrite, Positive::kGoOn, true>;     // MRG
  t[158] = Plain<&S::fetch_many, Kind::kWrite, Positive::kBranch, true>;   // FMS
}

}  // namespace interp
