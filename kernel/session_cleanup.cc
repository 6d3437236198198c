// Session clean-up at logout (mode 1) and reset (mode 2), DSLogout and
// DSResetSes. A clean-up step that fails is remembered as the status and
// the rest still runs; every chain walk is bounded by the storage.
#include <cstring>

#include "kernel/control_blocks.h"
#include "kernel/databank_control.h"
#include "kernel/debugger_sessions.h"
#include "kernel/sessions.h"
#include "kernel/shared_programs.h"
#include "kernel/statements.h"
#include "kernel/system_block.h"
#include "kernel/upper_services.h"
#include "kernel/xa_branches.h"
#include "platform/enqdeq.h"

namespace {

constexpr int32_t kChainLimit = 1 << 20;

// Clean-up list entries: word 1 the kind, words 2-4 its arguments.
constexpr int32_t CLN_KIND = 1;
constexpr int32_t CLN_ARG = 2;

void Free(int32_t* base, int32_t block) {
  if (block != 0) DSGetMem(base, &block, 0);
}

void FreeChain(int32_t* base, int32_t first) {
  for (int32_t steps = 0; first != 0 && steps < kChainLimit; ++steps) {
    if (!InStorage(base, first, 1)) return;
    const int32_t next = sqlpool_word(base, first);
    Free(base, first);
    first = next;
  }
}

void Keep(int32_t* status, int32_t rc) {
  if (*status == 0 && rc < 0) *status = rc;
}

void RunCleanupList(int32_t* base, int32_t sys, int32_t usr, int32_t* status) {
  int32_t e = Wd(base, usr, USR_CLN);
  Wd(base, usr, USR_CLN) = 0;
  for (int32_t steps = 0; e != 0 && steps < kChainLimit; ++steps) {
    if (!InStorage(base, e, CLN_ARG + 1)) break;
    const int32_t next = Wd(base, e, 0), arg = Wd(base, e, CLN_ARG);
    switch (Wd(base, e, CLN_KIND)) {
      case 1: {
        int32_t cls[CLS_WORDS] = {0, arg, -1};
        DSCloseDcb(base, cls);
        Keep(status, cls[0]);
        break;
      }
      case 2:
        Keep(status, DSUnlockShpPsm(base, usr, arg));
        break;
      case 3:
      case 4:
        Keep(status, UpRelStm(base, usr, arg, Wd(base, e, CLN_KIND)));
        break;
      case 5: {
        EnqdeqGuard guard(&Wd(base, sys, SYS_S));
        Wd(base, sys, SYS_SYSTEM_EXCLUSIVE) = 0;
        break;
      }
      default:
        break;
    }
    Free(base, e);
    e = next;
  }
}

void ReleaseDatabanks(int32_t* base, int32_t usr, int32_t* status) {
  int32_t t = Wd(base, usr, USR_TRS);
  for (int32_t steps = 0; t != 0 && steps < kChainLimit; ++steps) {
    if (!InStorage(base, t, TRS_WORDS)) break;
    Wd(base, t, TRS_STATUS) = 0;
    const int32_t dcb = Wd(base, t, TRS_DCB);
    const int32_t lid = InStorage(base, dcb, DCB_WORDS) ? Wd(base, dcb, DCB_LID) : 0;
    while (Wd(base, t, TRS_CDB_COUNT) > 0) {
      int32_t cls[CLS_WORDS] = {0, lid, -1};
      // A drop removes the block with every reference: it goes with the
      // last one the session owes, the others are given back before it.
      if (Wd(base, t, TRS_DELETE_PENDING) == 1 && Wd(base, t, TRS_CDB_COUNT) == 1) {
        const bool drop = Wd(base, usr, USR_TRV_COND) == 0;
        cls[CLS_MODE] = drop ? 3 : 0;
        if (drop) cls[CLS_REF] = Wd(base, t, TRS_DELETE_SEQNO);
      }
      DSCloseDcb(base, cls);
      Keep(status, cls[0]);
      --Wd(base, t, TRS_CDB_COUNT);
    }
    t = Wd(base, t, TRS_NEXT);
  }
}

void EndTransactions(int32_t* base, int32_t usr, int32_t* status) {
  int32_t tp = Wd(base, usr, USR_TP);
  Wd(base, usr, USR_TP) = 0;
  for (int32_t steps = 0; tp != 0 && steps < kChainLimit; ++steps) {
    if (!InStorage(base, tp, TP_WORDS)) break;
    const int32_t next = Wd(base, tp, TP_NEXT);
    Keep(status, UpTransCleanup(base, usr, tp));
    Wd(base, usr, USR_TRV_COND) = 3;
    Keep(status, UpFreeTP(base, tp));
    tp = next;
  }
}

// Closes the statements of a level, then its cursors. A statement that
// fails twice in a row is left (taken off the chain) and the walk goes on.
void CloseLevel(int32_t* base, int32_t usr, int32_t lvl, int32_t* status) {
  for (int32_t field : {LVL_STM, LVL_CUCB}) {
    int32_t failures = 0;
    for (int32_t steps = 0; Wd(base, lvl, field) != 0 && steps < kChainLimit; ++steps) {
      int32_t stm = Wd(base, lvl, field);
      if (!InStorage(base, stm, STM_WORDS)) {
        Wd(base, lvl, field) = 0;
        break;
      }
      const int32_t closing = stm, next = Wd(base, stm, STM_NEXT);
      const int32_t rc = DSCloseStm(base, usr, &stm);
      if (rc != 0) Keep(status, rc);
      if (rc != 0 && ++failures < 2) continue;
      failures = 0;
      if (Wd(base, lvl, field) == closing) Wd(base, lvl, field) = next;
    }
  }
}

}  // namespace

int32_t SessionCleanup(int32_t* base, int32_t usr, int32_t mode) {
  const int32_t sys = KernelSys(base);
  if (sys == 0) return KERNEL_NOT_STARTED;
  int32_t status = 0;
  if (Wd(base, usr, USR_LOADCB) != 0) Keep(&status, UpLockTablesEndLoad(base, usr));
  // Sequences: the request interface lets go of the entries the session
  // used (writing back the values of a sequence no session uses any more);
  // whatever it left is freed here.
  if (Wd(base, usr, USR_SEQUENCE_LCB) != 0) Keep(&status, UpSeqRelease(base, usr));
  FreeChain(base, Wd(base, usr, USR_SEQUENCE_LCB));
  Wd(base, usr, USR_SEQUENCE_LCB) = 0;
  FreeChain(base, Wd(base, usr, USR_DIA_NEXT));
  Wd(base, usr, USR_DIA_NEXT) = 0;
  Wd(base, usr, USR_DIA_ADDED_FLAG) = 1;
  Wd(base, usr, USR_DIA_NATIVE_ERROR) = 0;
  Wd(base, usr, USR_DIA_ERROR_NUMBER) = 0;
  // A backup left in backup mode: record access gives its databanks back
  // (the backup files closed, the exclusive claims released); whatever it
  // left is freed here.
  if (Wd(base, usr, USR_BACKUP_BFC) != 0) Keep(&status, UpBackupRelease(base, usr));
  FreeChain(base, Wd(base, usr, USR_BACKUP_BFC));
  Wd(base, usr, USR_BACKUP_BFC) = 0;
  if (Wd(base, usr, USR_TP) != 0 && UpGetTransScope(base, usr) == 2)
    Keep(&status, UpTransEndReq(base, usr));
  RunCleanupList(base, sys, usr, &status);
  ReleaseDatabanks(base, usr, &status);
  DSXAEndSession(base, usr);
  Wd(base, usr, USR_XAENT_ENLIST_PENDING) = 0;
  EndTransactions(base, usr, &status);
  const int32_t userid = Wd(base, usr, USR_USERID);
  int32_t kept = 0;
  int32_t lvl = Wd(base, usr, USR_LVL);
  for (int32_t steps = 0; lvl != 0 && steps < kChainLimit; ++steps) {
    if (!InStorage(base, lvl, LVL_WORDS)) break;
    CloseLevel(base, usr, lvl, &status);
    const int32_t next = Wd(base, lvl, LVL_NEXT);
    if (mode == 2 && kept == 0 && Wd(base, lvl, LVL_ID) == userid) {
      kept = lvl;
      Wd(base, lvl, LVL_NEXT) = 0;
    } else {
      Free(base, lvl);
    }
    lvl = next;
  }
  Wd(base, usr, USR_LVL) = kept;
  if (kept != 0) {
    std::memcpy(&Wd(base, usr, USR_CURRENT_USER), &Wd(base, kept, LVL_NAME), 128);
    int32_t length = 128;
    const char* name = reinterpret_cast<const char*>(&Wd(base, kept, LVL_NAME));
    while (length > 0 && name[length - 1] == ' ') --length;
    Wd(base, usr, USR_CURRENT_USER_LENGTH) = length;
    Wd(base, usr, USR_PROGID) = 0;
  }
  FreeChain(base, Wd(base, usr, USR_TRS));
  Wd(base, usr, USR_TRS) = 0;
  if (mode == 1) {
    Free(base, Wd(base, usr, USR_PFUREC));
    Wd(base, usr, USR_PFUREC) = 0;
  }
  FreeChain(base, Wd(base, usr, USR_STACKED_MARK));
  Wd(base, usr, USR_STACKED_MARK) = 0;
  return status;
}

namespace {

// Takes the session off its channel's chain and frees it.
void Unlink(int32_t* base, int32_t cha, int32_t usr) {
  for (int32_t at = cha + CHA_USR, steps = 0; sqlpool_word(base, at) != 0 && steps < kChainLimit;
       at = sqlpool_word(base, at) + USR_NEXT, ++steps) {
    if (sqlpool_word(base, at) == usr) {
      sqlpool_word(base, at) = Wd(base, usr, USR_NEXT);
      break;
    }
  }
  Free(base, usr);
}

int32_t LogOut(int32_t* base, int32_t sys, int32_t usr) {
  const int32_t cha = Wd(base, usr, USR_CHA);
  const int32_t id = Wd(base, usr, USR_ID);
  if (id != 0 && id != -1) {
    EnqdeqGuard guard(&Wd(base, sys, SYS_S));
    --Wd(base, sys, SYS_USECOUNT);
  }
  const int32_t status = SessionCleanup(base, usr, 1);
  Unlink(base, cha, usr);
  return status;
}

}  // namespace

void DSLogout(int32_t* base, int32_t* params) {
  const int32_t sys = KernelSys(base);
  const int32_t usr = params[SES_PRM_USR];
  if (sys == 0) {
    params[SES_PRM_STATUS] = KERNEL_NOT_STARTED;
    return;
  }
  params[SES_PRM_USR] = 0;
  if (!InStorage(base, usr, USR_WORDS) || !InStorage(base, Wd(base, usr, USR_CHA), CHA_WORDS)) {
    params[SES_PRM_STATUS] = KERNEL_BAD_PARAMETER;
    return;
  }
  const int32_t cha = Wd(base, usr, USR_CHA);
  if (Wd(base, cha, CHA_DBS) != 0) {
    int32_t rq[2] = {0, usr}, other = 0;
    DSDBG2(base, rq, DBG_DETACH, &other);
    if (rq[0] > 0) {
      params[SES_PRM_STATUS] = 0;
      return;
    }
    if (other != 0 && other != usr && InStorage(base, other, USR_WORDS) &&
        Wd(base, other, USR_CHA) == cha)
      LogOut(base, sys, other);
  }
  params[SES_PRM_STATUS] = LogOut(base, sys, usr);
}

void DSResetSes(int32_t* base, int32_t* params, const int32_t* items, int32_t item_words) {
  const int32_t sys = KernelSys(base);
  const int32_t usr = params[SES_PRM_USR];
  if (sys == 0) {
    params[SES_PRM_STATUS] = KERNEL_NOT_STARTED;
    return;
  }
  // The block: its size in word 0 within the real size, a length of 4 to
  // the size, a stride of at least 2.
  const bool good = InStorage(base, usr, USR_WORDS) && items != nullptr && item_words >= 4 &&
                    items[0] >= 4 && items[0] <= item_words && items[1] >= 4 &&
                    items[1] <= items[0] && items[3] >= 2;
  if (!good) {
    params[SES_PRM_STATUS] = KERNEL_BAD_PARAMETER;
    if (InStorage(base, usr, USR_WORDS)) Wd(base, usr, USR_RVEC_RCODE) = KERNEL_BAD_PARAMETER;
    return;
  }
  Wd(base, usr, USR_RVEC_RCODE) = 0;
  Wd(base, usr, USR_RVEC_BITVEC) = 0;
  const int32_t status = SessionCleanup(base, usr, 2);
  SessionDefaults(base, usr);
  Wd(base, usr, USR_TRANSACTION_START) = 1;
  Wd(base, usr, USR_TRANSACTION_AUTOCOMMIT) = 89;
  Wd(base, usr, USR_TRANSACTION_VIEW) = 2;
  Wd(base, usr, USR_ATOMIC) = 0;
  Wd(base, usr, USR_TOTAL_ERROR_COUNT) = 0;
  const int32_t length = items[1], stride = items[3];
  if (length >= 6) {
    for (int64_t at = 4; at + 1 < length; at += stride) {
      const int32_t code = items[at], value = items[at + 1];
      if (code == 2) Wd(base, usr, USR_TRANSACTION_AUTOCOMMIT) = value;
      if (code == 3) Wd(base, usr, USR_TRANSACTION_START) = value;
    }
  }
  params[SES_PRM_STATUS] = status;
}
