// DSOpenTable with its TRS bookkeeping, the level path moves and the
// compound-block ring of a statement. No lock is taken here: a session's
// TRS chain, level and statements are its own request thread's.
#include "kernel/table_use.h"

#include <cstring>

#include "kernel/control_blocks.h"
#include "kernel/databank_control.h"
#include "kernel/shared_programs.h"
#include "kernel/statement_columns.h"
#include "kernel/statements.h"
#include "kernel/system_block.h"
#include "kernel/upper_services.h"

int32_t SessionTrs(int32_t* base, int32_t usr, int32_t dcb, bool create) {
  int32_t trs = Wd(base, usr, USR_TRS);
  // The chain is the session's own; a bound keeps a damaged link from looping.
  for (int n = 0; trs != 0 && n < 100000; trs = Wd(base, trs, TRS_NEXT), ++n) {
    if (!InStorage(base, trs, TRS_WORDS)) break;
    if (Wd(base, trs, TRS_DCB) == dcb) return trs;
  }
  if (!create) return 0;
  trs = 0;
  DSGetMem(base, &trs, TRS_BYTES);
  if (trs == 0) return 0;
  Wd(base, trs, TRS_DCB) = dcb;
  Wd(base, trs, TRS_NEXT) = Wd(base, usr, USR_TRS);
  Wd(base, usr, USR_TRS) = trs;
  return trs;
}

void DSOpenTable(int32_t* base, int32_t* request, int32_t* table_request,
                 const int32_t* descriptor) {
  const int32_t usr = request[1];
  if (!InStorage(base, usr, USR_WORDS)) {
    request[0] = KERNEL_BAD_PARAMETER;
    return;
  }
  auto fail = [&](int32_t status) {
    request[0] = status;
    Wd(base, usr, USR_RVEC_RCODE) = status;
  };
  int32_t look[OPD_WORDS] = {5, table_request[TRQ_LID]};
  DSOpenDcb(base, look);
  if (look[OPD_KIND] != 0) return fail(TABLE_UNKNOWN_DATABANK);
  const int32_t dcb = look[OPD_DCB];
  const int32_t trs = SessionTrs(base, usr, dcb, true);
  if (trs == 0) return fail(SQLPOOL_EXHAUSTED_ERROR);
  if (Wd(base, trs, TRS_STATUS) < TRS_TABLE_OPENED) Wd(base, trs, TRS_STATUS) = TRS_TABLE_OPENED;
  const int32_t tp = Wd(base, usr, USR_TP);
  if (InStorage(base, tp, TP_WORDS) && Wd(base, tp, TP_TRANSACTION_TYPE) == 0)
    Wd(base, tp, TP_TRANSACTION_TYPE) = TP_TYPE_TABLES;
  const int32_t r = UpOpenTable(base, usr, Wd(base, usr, USR_TRV_COND), table_request, descriptor);
  table_request[TRQ_KIND] = r;
  request[0] = r;
  if (r != 0) Wd(base, usr, USR_RVEC_RCODE) = r;
}

void DSChkTabUtil(int32_t* base, int32_t* request) {
  const int32_t usr = request[1], lid = request[2];
  if (!InStorage(base, usr, USR_WORDS)) {
    request[0] = KERNEL_BAD_PARAMETER;
    return;
  }
  if (UpGetTransState(base, usr) == 0) {
    request[0] = UTIL_NO_TRANSACTION;
    Wd(base, usr, USR_RVEC_RCODE) = UTIL_NO_TRANSACTION;
    return;
  }
  int32_t look[OPD_WORDS] = {5, lid};
  DSOpenDcb(base, look);
  int32_t status = look[OPD_KIND];
  if (status == 0 && look[OPD_DCB] != 0) {
    int32_t table_request[TRQ_WORDS] = {};
    table_request[TRQ_KIND] = UTIL_RECORD_KIND;
    table_request[TRQ_LID] = lid;
    DSOpenTable(base, request, table_request, request + UTIL_TABLE_WORDS);
    return;
  }
  if (status >= 0) status = DCB_NO_ROW;
  request[0] = status;
  DSDatabankFailure(base, usr, status, lid, -1);
  Wd(base, usr, USR_RVEC_ATTRIBUTE) = look[OPD_DCB];
}

void DSGetLvlPath(int32_t* base, int32_t* request, uint8_t* buffer) {
  const int32_t usr = request[1];
  const int32_t lvl = InStorage(base, usr, USR_WORDS) ? Wd(base, usr, USR_LVL) : 0;
  if (!InStorage(base, lvl, LVL_WORDS)) {
    request[0] = KERNEL_BAD_PARAMETER;
    return;
  }
  std::memcpy(buffer, &Wd(base, lvl, LVL_PATH), LVL_PATH_BYTES - 1);
  request[0] = 0;
}

void DSSetParPath(int32_t* base, int32_t* status, int32_t stm, int32_t n, int32_t lvl) {
  uint8_t* field = nullptr;
  int32_t length = 0;
  *status = StatementField(base, stm, false, n, &field, &length);
  if (*status != 0) return;
  if (length != LVL_PATH_BYTES) {
    *status = PATH_BAD_LENGTH;
    return;
  }
  if (!InStorage(base, lvl, LVL_WORDS)) {
    *status = KERNEL_BAD_PARAMETER;
    return;
  }
  std::memcpy(field, &Wd(base, lvl, LVL_PATH), LVL_PATH_BYTES - 1);
}

void DSStepRing(int32_t* base, int32_t* request) {
  const int32_t stm = request[2];
  if (!InStorage(base, stm, STM_WORDS)) {
    request[0] = KERNEL_BAD_PARAMETER;
    return;
  }
  const int32_t own = stm + STM_NEXT_COM;
  // Members 1..: own part, then the chain; the ring's length bounds the walk.
  int32_t length = 1;
  for (int32_t c = Wd(base, own, 0); c != 0 && InStorage(base, c, 4) && length < 100000;
       c = Wd(base, c, 0))
    ++length;
  int32_t step = request[0] <= 0 ? 0 : (request[0] - 1) % length;
  int32_t member = own;
  while (step-- > 0) member = Wd(base, member, 0);
  Wd(base, stm, STM_ACTIVE_COM) = member;
  request[0] = 0;
}

namespace {

constexpr int32_t kMaxChain = 100000;

// True when the handle names the table, or its table is open in kind 5
// and an index refers to the table or belongs to a referencing table, or
// one of its references names the table.
bool HandleUses(int32_t* base, int32_t handle, int32_t table) {
  if (Wd(base, handle, HANDLE_TNAME) == table) return true;
  const int32_t tcb = Wd(base, handle, HANDLE_OBJECT);
  if (!InStorage(base, tcb, TCB_WORDS) || Wd(base, tcb, TCB_FK_ACCESS_MODE) != TCB_FK_OPEN)
    return false;
  int32_t icb = Wd(base, tcb, TCB_ICB);
  for (int32_t n = 0; icb != 0 && n < kMaxChain && InStorage(base, icb, ICB_WORDS); ++n) {
    if (Wd(base, icb, ICB_FK_TNAME) == table || Wd(base, icb, ICB_TNAME) != 0) return true;
    icb = Wd(base, icb, ICB_NEXT);
  }
  int32_t ficb = Wd(base, tcb, TCB_FICB);
  for (int32_t n = 0; ficb != 0 && n < kMaxChain && InStorage(base, ficb, FICB_WORDS); ++n) {
    if (Wd(base, ficb, FICB_FK_TNAME) == table) return true;
    ficb = Wd(base, ficb, FICB_NEXT);
  }
  return false;
}

}  // namespace

int32_t DSTableInUse(int32_t* base, int32_t usr, int32_t kind, int32_t table) {
  if (kind != 1 || !InStorage(base, usr, USR_WORDS)) return KERNEL_BAD_PARAMETER;
  const bool used = AnySessionStatement(base, usr, [&](int32_t stm) {
    const int32_t status = Wd(base, stm, STM_STATUS);
    if (status == STM_CREATED || status == STM_RELEASED || status == STM_CLOSE_PENDING_IDLE)
      return false;
    bool uses = false;
    ForEachCompound(base, stm, [&](int32_t com) {
      ForEachTableHandle(base, com, [&](int32_t handle) {
        uses = uses || HandleUses(base, handle, table);
      });
    });
    return uses;
  });
  return used ? 0 : 1;
}

int32_t DSOpenTableExcl(int32_t* base, int32_t usr, int32_t* record, int32_t* open) {
  if (!InStorage(base, usr, USR_WORDS)) return KERNEL_BAD_PARAMETER;
  const int32_t type = record[HANDLE_TYPE];
  const int32_t table = type == 2 || type == 12 ? record[0] : record[HANDLE_TNAME];
  // A work table (-1) is new at every open: no program holds it.
  if (record[HANDLE_ACCESS] == 1 && table != -1 && UpTcbUseCount(base, table) > 0)
    DSFlushShpPsm(base);
  UpOpenRecordChain(base, usr, record, open);
  const int32_t status = record[HANDLE_STATUS];
  if (status != 0) {
    Wd(base, usr, USR_RVEC_RCODE) = status;
    Wd(base, usr, USR_RVEC_TNAME) = record[HANDLE_TNAME];
    Wd(base, usr, USR_RVEC_BITVEC) = RVEC_MASK_TABLE;
  }
  return status;
}
