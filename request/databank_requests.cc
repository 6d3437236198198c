// DSOpenDbReq, DSCloseDbReq and DSDkResult (see databank_requests.h).
#include "request/databank_requests.h"

#include "dk/databank_copies.h"
#include "dk/databank_file.h"
#include "dk/databank_operations.h"
#include "dk/request.h"
#include "du/transactions.h"
#include "kernel/control_blocks.h"
#include "kernel/databank_control.h"
#include "kernel/system_block.h"
#include "kernel/table_use.h"

namespace {

constexpr int32_t kDKGDS1 = 32;
constexpr int32_t kDKCOP1 = 14;
constexpr int32_t kDKROO1 = 51;
constexpr int32_t kDKSUD1 = 53;
constexpr int32_t kDKTDB1 = 54;
constexpr int32_t kChainLimit = 1 << 20;
constexpr int32_t kTransActive = 1;
constexpr int32_t CLN_KIND = 1;
constexpr int32_t CLN_ARG = 2;

// Word 0 and the session's result vector take a failure.
void Fail(int32_t* base, int32_t* block, int32_t status, int32_t seqno) {
  block[DBR_STATUS] = status;
  DSDatabankFailure(base, block[DBR_USR], status, block[DBR_ID], seqno);
}

// Whether the kernel is started and the block's session lies in the
// storage; otherwise word 0 gets -19040 or -19078.
bool Ready(int32_t* base, int32_t* block) {
  if (KernelSys(base) == 0) {
    Fail(base, block, KERNEL_NOT_STARTED, -1);
    return false;
  }
  if (InStorage(base, block[DBR_USR], USR_WORDS)) return true;
  block[DBR_STATUS] = KERNEL_BAD_PARAMETER;
  return false;
}

// A databank kernel request on {mode, entry, DID, SEQNO}: 0 or r - 16140.
int32_t KernelCopyRequest(int32_t code, int32_t mode, int32_t did, int32_t seqno) {
  int32_t rq[CPY_WORDS] = {mode, 0, did, seqno};
  DKEXE1(code, rq);
  return rq[CPY_MODE] < 0 ? rq[CPY_MODE] - DK_ERROR_BIAS : 0;
}

// The DCB of databank `id` without taking a reference (0 when it is not
// open).
int32_t LookUp(int32_t* base, int32_t id) {
  int32_t rq[OPD_WORDS] = {5, id};
  DSOpenDcb(base, rq);
  return rq[OPD_KIND] == 0 ? rq[OPD_DCB] : 0;
}

// Takes the session's first clean-up entry of databank `id` off its chain;
// whether there was one.
bool DropCleanupEntry(int32_t* base, int32_t usr, int32_t id) {
  for (int32_t at = usr + USR_CLN, steps = 0; sqlpool_word(base, at) != 0 && steps < kChainLimit;
       at = sqlpool_word(base, at), ++steps) {
    const int32_t e = sqlpool_word(base, at);
    if (!InStorage(base, e, CLN_ARG + 1)) return false;
    if (Wd(base, e, CLN_KIND) == CLN_DATABANK && Wd(base, e, CLN_ARG) == id) {
      sqlpool_word(base, at) = Wd(base, e, 0);
      int32_t gone = e;
      DSGetMem(base, &gone, 0);
      return true;
    }
  }
  return false;
}

// Takes `trs` off the session's TRS chain and frees it.
void DropTrs(int32_t* base, int32_t usr, int32_t trs) {
  for (int32_t at = usr + USR_TRS, steps = 0; sqlpool_word(base, at) != 0 && steps < kChainLimit;
       at = sqlpool_word(base, at) + TRS_NEXT, ++steps) {
    if (sqlpool_word(base, at) == trs) {
      sqlpool_word(base, at) = Wd(base, trs, TRS_NEXT);
      DSGetMem(base, &trs, 0);
      return;
    }
  }
}

// Kinds 1, 3 and 7: the reference taken is recorded for the session. 0 or
// -11002 (the reference then given back).
int32_t Record(int32_t* base, int32_t usr, int32_t id, int32_t dcb) {
  int32_t e = 0;
  DSGetMem(base, &e, CLN_DATABANK_BYTES);
  if (e == 0) return SQLPOOL_EXHAUSTED_ERROR;
  if (DSGetTransState(base, usr) == kTransActive && SessionTrs(base, usr, dcb, true) == 0) {
    DSGetMem(base, &e, 0);
    return SQLPOOL_EXHAUSTED_ERROR;
  }
  Wd(base, e, CLN_KIND) = CLN_DATABANK;
  Wd(base, e, CLN_ARG) = id;
  Wd(base, e, CLN_ARG + 1) = -1;
  Wd(base, e, 0) = Wd(base, usr, USR_CLN);
  Wd(base, usr, USR_CLN) = e;
  return 0;
}

}  // namespace

void DSOpenDbReq(int32_t* base, int32_t* block) {
  const int32_t kind = block[DBR_STATUS], usr = block[DBR_USR], id = block[DBR_ID];
  if (!Ready(base, block)) return;
  if (kind == 8) {
    // A word 4 of -1 names no file: the databank kernel reads it as the
    // databank's first copy, which must not go offline under its users; the
    // copy's state is only asked then.
    const int32_t seqno = block[DBR_WORD4];
    const int32_t r = KernelCopyRequest(kDKSUD1, seqno == -1 ? -1 : 0, id, seqno);
    if (r < 0) return Fail(base, block, r, seqno);
    block[DBR_STATUS] = 0;
    return;
  }
  int32_t rq[OPD_WORDS] = {kind, id};
  DSCallCentral(base, rq);
  if (rq[OPD_KIND] < 0) return Fail(base, block, rq[OPD_KIND], -1);
  if (rq[OPD_KIND] != 0 || rq[OPD_DCB] == 0) return Fail(base, block, DCB_NO_ROW, -1);
  block[DBR_WORD3] = rq[OPD_DID];
  block[DBR_WORD4] = rq[OPD_DCB];
  if (kind != 5) {
    if (const int32_t r = Record(base, usr, id, rq[OPD_DCB]); r != 0) {
      int32_t cls[CLS_WORDS] = {0, id, -1};
      DSCloseDcb(base, cls);
      return Fail(base, block, r, -1);
    }
  }
  block[DBR_STATUS] = 0;
}

void DSCloseDbReq(int32_t* base, int32_t* block) {
  const int32_t mode = block[DBR_STATUS], usr = block[DBR_USR];
  // A file of its own (databank id -1) is named by the handle its open gave.
  const bool own_file = block[DBR_ID] == ODF_OWN_FILE;
  const int32_t id = own_file ? block[DBR_WORD3] : block[DBR_ID];
  const int32_t last = own_file ? -1 : block[DBR_WORD3];
  if (!Ready(base, block)) return;
  DropCleanupEntry(base, usr, id);
  if (const int32_t dcb = LookUp(base, id); dcb != 0) {
    if (const int32_t trs = SessionTrs(base, usr, dcb, false); trs != 0) {
      if (Wd(base, trs, TRS_STATUS) != 0) {
        // The transaction has used the databank: its end gives the
        // reference back.
        ++Wd(base, trs, TRS_CDB_COUNT);
        if (mode == 3) {
          Wd(base, trs, TRS_DELETE_PENDING) = 1;
          Wd(base, trs, TRS_DELETE_SEQNO) = last;
        }
        block[DBR_STATUS] = 0;
        return;
      }
      if (Wd(base, trs, TRS_STM_COUNT) == 0) DropTrs(base, usr, trs);
    }
  }
  int32_t cls[CLS_WORDS] = {mode, id, last};
  DSCloseDcb(base, cls);
  if (cls[CLS_MODE] < 0) return Fail(base, block, cls[CLS_MODE], last);
  block[DBR_STATUS] = 0;
}

void DSDkResult(int32_t* base, int32_t* block) {
  if (KernelSys(base) == 0) return Fail(base, block, KERNEL_NOT_STARTED, -1);
  int32_t rq[TDB_WORDS] = {block[DBR_STATUS], 0, block[DBR_ID], block[DBR_WORD3]};
  DKEXE1(kDKTDB1, rq);
  if (rq[0] < 0) return Fail(base, block, rq[0] - DK_ERROR_BIAS, block[DBR_WORD3]);
  block[DBR_STATUS] = 0;
}

namespace {

// The entry of the copy of databank `id` with SEQNO `seqno` (DKGDS1); 0, or
// r - 16140 (-19046 when the databank has no copy at all).
int32_t CopyEntry(int32_t id, int32_t seqno, int32_t* entry) {
  int32_t rq[CPY_WORDS] = {0, 0, id, seqno};
  DKEXE1(kDKGDS1, rq);
  if (rq[CPY_MODE] < 0) return rq[CPY_MODE] - DK_ERROR_BIAS;
  if (rq[CPY_ENTRY] == 0) return DCB_NO_ROW;
  *entry = rq[CPY_ENTRY];
  return 0;
}

// The SEQNO of the first copy (the databank's own file) of `did`; 0, -19046
// when it has none, or r - 16140.
int32_t FirstCopySeqno(int32_t did, int32_t* seqno) {
  int32_t own[CPY_WORDS] = {-1, 0, did, -1};
  DKEXE1(kDKSUD1, own);
  if (own[CPY_MODE] < 0) return own[CPY_MODE] - DK_ERROR_BIAS;
  if (own[CPY_MODE] > 0) return DCB_NO_ROW;
  *seqno = own[CPY_SEQNO];
  return 0;
}

// 0 when the copy of SEQNO `seqno` of `did` is there, without an error
// and online; else its error, -19046 when there is no such copy, or the
// databank kernel's "already OFFLINE" (-57), each as r - 16140.
int32_t CopyOnlineNow(int32_t did, int32_t seqno) {
  constexpr int32_t kAlreadyOffline = -57;
  int32_t state[CPY_WORDS] = {-1, 0, did, seqno};
  DKEXE1(kDKSUD1, state);
  if (state[CPY_MODE] < 0) return state[CPY_MODE] - DK_ERROR_BIAS;
  if (state[CPY_MODE] > 0) return DCB_NO_ROW;
  int32_t offline[CPY_WORDS] = {1, 0, did, state[CPY_SEQNO]};
  DKEXE1(kDKGDS1, offline);
  if (offline[CPY_MODE] < 0) return offline[CPY_MODE] - DK_ERROR_BIAS;
  return offline[CPY_MODE] != 0 ? kAlreadyOffline - DK_ERROR_BIAS : 0;
}

}  // namespace

void DSCopyDbReq(int32_t* base, int32_t* block) {
  if (!Ready(base, block)) return;
  const int32_t sys = KernelSys(base);
  const int32_t id = block[DBR_ID], seqno = block[CPY_REQ_SEQNO];
  const int32_t handle = block[CPY_REQ_HANDLE];
  if (LookUp(base, id) == 0) return Fail(base, block, DCB_NO_ROW, -1);
  // The target is the file the caller opened, named by the handle its open
  // handed back: a copy of the databank itself (the handle is its id) is
  // the copy of SEQNO word 3, filled from the databank's own file; a file
  // of its own (the backup file, under its own logical id) is filled from
  // the databank's copy of SEQNO word 3. The target's block must be held
  // alone, as the caller's open claims it.
  const bool own_copy = handle == id;
  const int32_t target = own_copy ? LookUp(base, id) : LookUp(base, handle);
  if (target == 0) return Fail(base, block, DCB_NO_ROW, -1);
  if (Wd(base, target, DCB_ACCESS_MODE) != 1 && Wd(base, sys, SYS_SYSTEM_EXCLUSIVE) == 0)
    return Fail(base, block, DCB_NOT_EXCLUSIVE, -1);
  int32_t from_seqno = seqno, to_seqno = seqno;
  if (own_copy) {
    if (int32_t r = FirstCopySeqno(id, &from_seqno); r != 0) return Fail(base, block, r, -1);
  } else if (int32_t r = FirstCopySeqno(handle, &to_seqno); r != 0) {
    return Fail(base, block, r, -1);
  }
  int32_t from = 0, to = 0;
  if (int32_t r = CopyEntry(id, from_seqno, &from); r != 0) return Fail(base, block, r, from_seqno);
  if (int32_t r = CopyEntry(handle, to_seqno, &to); r != 0) return Fail(base, block, r, to_seqno);
  if (from == to) return Fail(base, block, CPY_SAME_FILE, seqno);
  int32_t copy[COP_WORDS] = {0, from, id, from_seqno, to, handle, to_seqno};
  DKEXE1(kDKCOP1, copy);
  if (copy[0] < 0) return Fail(base, block, copy[0] - DK_ERROR_BIAS, seqno);
  // The copied header names the source's SEQNO: the target's own goes back.
  int32_t roo[ROO_WORDS] = {11, to, handle};
  roo[ROO_SEQNO] = to_seqno;
  DKEXE1(kDKROO1, roo);
  if (roo[ROO_CODE] < 0) return Fail(base, block, roo[ROO_CODE] - DK_ERROR_BIAS, seqno);
  block[DBR_STATUS] = 0;
}

void DSDisconnect(int32_t* base, int32_t* block) {
  const int32_t mode = block[DBR_STATUS], usr = block[DBR_USR], id = block[DBR_ID];
  if (!Ready(base, block)) return;
  int32_t look[OPD_WORDS] = {5, id};
  DSOpenDcb(base, look);
  if (look[OPD_KIND] < 0) return Fail(base, block, look[OPD_KIND], -1);
  if (look[OPD_KIND] != 0 || look[OPD_DCB] == 0) return Fail(base, block, DCB_NO_ROW, -1);
  const int32_t entry = look[OPD_DID];
  block[DBR_WORD3] = entry;
  if (mode == DISCONNECT_CLOSE) {
    int32_t cld[4] = {0, entry, id, -1};
    DKEXE1(DKF_CLD1, cld);
    if (cld[0] < 0) return Fail(base, block, cld[0] - DK_ERROR_BIAS, -1);
    block[DBR_STATUS] = 0;
    return;
  }
  if (DSGetTransState(base, usr) == 0) return Fail(base, block, UTIL_NO_TRANSACTION, -1);
  int32_t kind = UTIL_RECORD_KIND;
  // The utility record carries the caller's words from word 5; the copy's
  // record names the copy.
  const int32_t seqno = block[DBR_WORD4];
  int32_t copy[8] = {id, seqno};
  const int32_t* description = block + DISCONNECT_DESCRIPTION;
  if (mode != DISCONNECT_OFFLINE) {
    // The copy is only looked at here: its record takes it offline when the
    // transaction commits. Taken offline now, the commit would find the
    // databank without a usable copy (-45) and the record's own DKSUD1 the
    // copy offline already (-57).
    if (const int32_t r = CopyOnlineNow(id, seqno); r < 0) return Fail(base, block, r, seqno);
    kind = DISCONNECT_RECORD_KIND;
    description = copy;
  } else {
    DSSetTransType(base, usr, DISCONNECT_TRANS_TYPE);
  }
  int32_t open[2] = {0, usr};
  int32_t table[TRQ_WORDS] = {};
  table[TRQ_KIND] = kind;
  table[TRQ_LID] = id;
  DSOpenTable(base, open, table, description);
  block[DBR_STATUS] = open[0];
}
