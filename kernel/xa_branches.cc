// XA branches: the state checks of DSXAL2, the operations of DSXAT3, the
// recover list of DSXAR3 and the attach and release of a branch to a
// session. Lock order: a branch's OWNER_S, then SYS XAENT_S; XAENT_S is
// never held while a statement or a transaction end runs. USECOUNT counts
// the holders of a branch (the attached session, a check that passed for a
// branch without an owner); a finished branch (58) goes when it drops to 0.
#include "kernel/xa_branches.h"

#include <algorithm>
#include <cstring>
#include <tuple>
#include <vector>

#include "kernel/control_blocks.h"
#include "kernel/error_report.h"
#include "kernel/statement_columns.h"
#include "kernel/system_block.h"
#include "kernel/upper_services.h"
#include "platform/bytes.h"
#include "platform/enqdeq.h"

namespace {

int32_t* Sem(int32_t* base, int32_t block, int32_t field) {
  return &Wd(base, block, field);
}

bool ValidId(const int32_t* xid) {
  const int32_t g = xid[XID_GTRID_LENGTH], b = xid[XID_BQUAL_LENGTH];
  return xid[XID_FORMAT] != -1 && g >= 1 && g <= XID_PART_MAX && b >= 0 && b <= XID_PART_MAX &&
         g + b <= XID_MAX_BYTES;
}

const uint8_t* IdBytes(const int32_t* xid) {
  return reinterpret_cast<const uint8_t*>(xid + XID_DATA);
}
uint8_t* EntryBytes(int32_t* base, int32_t x) {
  return reinterpret_cast<uint8_t*>(&Wd(base, x, XAENT_TRANSACTION_ID));
}
int32_t IdLength(int32_t* base, int32_t x) {
  return Wd(base, x, XAENT_GTRID_LENGTH) + Wd(base, x, XAENT_BQUAL_LENGTH);
}

// Caller holds XAENT_S. An identifier with lengths out of range matches
// nothing, so no compare reads past either block.
int32_t Find(int32_t* base, int32_t sys, const int32_t* xid) {
  if (!ValidId(xid)) return 0;
  for (int32_t x = Wd(base, sys, SYS_FIRST_XAENT); x != 0; x = Wd(base, x, XAENT_NEXT)) {
    if (Wd(base, x, XAENT_GTRID_LENGTH) == xid[XID_GTRID_LENGTH] &&
        Wd(base, x, XAENT_BQUAL_LENGTH) == xid[XID_BQUAL_LENGTH] &&
        std::memcmp(EntryBytes(base, x), IdBytes(xid), IdLength(base, x)) == 0)
      return x;
  }
  return 0;
}

int32_t Fail(int32_t* base, int32_t* request, int32_t status, int32_t code) {
  request[XAREQ_OP] = status;
  request[XAREQ_CODE] = code;
  const int32_t usr = request[XAREQ_USR];
  if (InStorage(base, usr, USR_WORDS)) Wd(base, usr, USR_RVEC_RCODE) = status;
  return 0;
}

int32_t NewEntry(int32_t* base, const int32_t* xid) {
  const int32_t length = xid[XID_GTRID_LENGTH] + xid[XID_BQUAL_LENGTH];
  int32_t x = 0;
  DSGetMem(base, &x, length + 48);
  if (x == 0) return 0;
  Wd(base, x, XAENT_STATE) = XA_STARTED;
  enqdeq_init_semaphore(Sem(base, x, XAENT_OWNER_S), 1);
  Wd(base, x, XAENT_FORMATID) = xid[XID_FORMAT];
  Wd(base, x, XAENT_GTRID_LENGTH) = xid[XID_GTRID_LENGTH];
  Wd(base, x, XAENT_BQUAL_LENGTH) = xid[XID_BQUAL_LENGTH];
  std::memcpy(EntryBytes(base, x), IdBytes(xid), length);
  return x;
}

void FreeEntry(int32_t* base, int32_t x) {
  int32_t out = x;
  DSPoolMem(base, &out, 0, 0);
}

// Kernel status and XA code of the check of `op` on branch x (0 when none).
std::pair<int32_t, int32_t> Check(int32_t* base, int32_t op, int32_t x, int32_t usr, int32_t flags,
                                  bool local) {
  const std::pair<int32_t, int32_t> ok{0, XA_OK}, nota{XA_NO_BRANCH, XAER_NOTA},
      other{XA_OTHER_OWNER, XAER_PROTO}, state_error{XA_BAD_STATE, XAER_PROTO};
  if (x == 0) return nota;
  const int32_t state = Wd(base, x, XAENT_STATE), owner = Wd(base, x, XAENT_USR);
  auto heuristic = [&]() -> std::pair<int32_t, int32_t> {
    if (state == XA_HEURISTIC_COMMIT) return {XA_BAD_STATE, XA_HEURCOM};
    if (state == XA_HEURISTIC_ROLLBACK) return {XA_BAD_STATE, XA_HEURRB};
    return {1, 0};
  };
  switch (op) {
    case 2:
    case 3:
      if (Wd(base, usr, USR_XAENT) != 0) return {XA_SESSION_HAS_BRANCH, XAER_PROTO};
      if (local) return {XA_LOCAL_TRANSACTION, XAER_OUTSIDE};
      return state == (op == 2 ? XA_SUSPENDED : XA_IDLE) ? ok : state_error;
    case 4:
      if (owner == usr && state == XA_ACTIVE) return ok;
      if (owner == 0 && state == XA_SUSPENDED && (flags & TMSUSPEND) == 0) return ok;
      return owner != 0 && owner != usr ? other : state_error;
    case 5:
      if (state == XA_FINISHED) return nota;
      if (owner != 0) return other;
      return state == XA_IDLE ? ok : state_error;
    case 6:
    case 7: {
      if (state == XA_FINISHED) return nota;
      if (owner != 0) return other;
      if (auto h = heuristic(); h.first != 1) return h;
      return state == XA_IDLE || state == XA_PREPARED ? ok : state_error;
    }
    case 8:
    case 9:
      if (state == XA_FINISHED) return nota;
      if (owner != 0) return other;
      return state == XA_PREPARED || state == XA_PREPARED_OWN ? ok : state_error;
    case 10:
      return state == XA_HEURISTIC_COMMIT || state == XA_HEURISTIC_ROLLBACK ? ok : state_error;
    case 12:
      if (state == XA_FINISHED) return nota;
      if (owner != usr) return other;
      return state == XA_STARTED ? ok : state_error;
    case 13:
    case 14: {
      if (state == XA_FINISHED) return nota;
      if (auto h = heuristic(); h.first != 1) return h;
      if (owner != usr) return other;
      return state == XA_STARTED || state == XA_PREPARED_OWN ? ok : state_error;
    }
    case 15:
      return ok;
    case 16:
      if (state == XA_FINISHED) return nota;
      return owner == usr ? ok : other;
  }
  return {XA_BAD_OPERATION, XAER_RMERR};
}

// Drops one hold of a branch the session is not attached to.
void DropHold(int32_t* base, int32_t x) {
  const int32_t sys = KernelSys(base);
  mdrenq(Sem(base, sys, SYS_XAENT_S));
  const bool gone = --Wd(base, x, XAENT_USECOUNT) <= 0 && Wd(base, x, XAENT_STATE) == XA_FINISHED;
  if (gone) {
    for (int32_t* link = &Wd(base, sys, SYS_FIRST_XAENT); *link != 0;
         link = &Wd(base, *link, XAENT_NEXT)) {
      if (*link == x) {
        *link = Wd(base, x, XAENT_NEXT);
        break;
      }
    }
  }
  mdrdeq(Sem(base, sys, SYS_XAENT_S));
  if (gone) {
    if (Wd(base, x, XAENT_TP) != 0) UpFreeTP(base, Wd(base, x, XAENT_TP));
    FreeEntry(base, x);
  }
}

}  // namespace

int32_t DSChkAdmIdent(int32_t* base, int32_t usr) {
  const int32_t thr = CurrentThread();
  if (!InStorage(base, thr, THR_WORDS) || Wd(base, thr, THR_STM_MOS_IDENT) == 0)
    return XA_NO_IDENT_STATEMENT;
  const int32_t stm = Wd(base, thr, THR_STM_MOS_IDENT);
  int32_t status = 0;
  static const char kAdmin[] = "_SYSTEM_ADM";
  DSSetParChar(base, &status, stm, 1, reinterpret_cast<const uint8_t*>(kAdmin), 0,
               sizeof kAdmin - 1);
  if (status == 0)
    DSSetParChar(base, &status, stm, 4, reinterpret_cast<const uint8_t*>(&Wd(base, usr, USR_NAME)),
                 0, 128);
  if (status != 0) return status;
  Wd(base, stm, STM_PC) = 2;
  int32_t result[1 + RVEC_WORDS] = {};
  UpDAMAE2(base, result, stm, usr);
  if (result[0] == 0 && Wd(base, stm, STM_PC) == 0) return XA_NOT_ADMINISTRATOR;
  return result[0] == 0 ? 0 : XA_NOT_ADMINISTRATOR;
}

int32_t DSXAL2(int32_t* base, int32_t* request, const int32_t* xid) {
  const int32_t sys = KernelSys(base);
  if (sys == 0) {
    DSErrRep("DSXAL2", 6, KERNEL_NOT_STARTED, SEV_ERROR);
    return Fail(base, request, KERNEL_NOT_STARTED, XAER_RMFAIL);
  }
  const int32_t op = request[XAREQ_OP], usr = request[XAREQ_USR];
  if (!InStorage(base, usr, USR_WORDS))
    return Fail(base, request, KERNEL_BAD_PARAMETER, XAER_RMERR);
  if (op < 1 || op > 16) {
    DSErrRep("DSXAL2", 6, XA_BAD_OPERATION, SEV_ERROR);
    return Fail(base, request, XA_BAD_OPERATION, XAER_RMERR);
  }
  const bool start = op == 1 || op == 11;
  int32_t fresh = 0;
  bool local = false;
  if (start || op == 2 || op == 3) {
    const int32_t state = UpGetTransState(base, usr);
    if (state < 0) return Fail(base, request, state, XAER_RMERR);
    local = state != 0;
  }
  if (start) {
    if (!ValidId(xid)) {
      DSErrRep2("DSXAL2", 6, XA_BAD_IDENTIFIER, SEV_ERROR, xid, 8);
      return Fail(base, request, XA_BAD_IDENTIFIER, XAER_INVAL);
    }
    if (Wd(base, usr, USR_XAENT) != 0)
      return Fail(base, request, XA_SESSION_HAS_BRANCH, XAER_PROTO);
    if (local) return Fail(base, request, XA_LOCAL_TRANSACTION, XAER_OUTSIDE);
    fresh = NewEntry(base, xid);
    if (fresh == 0) return Fail(base, request, SQLPOOL_EXHAUSTED_ERROR, XAER_RMERR);
  }
  if (op == 8 || op == 9) {
    const int32_t admin = DSChkAdmIdent(base, usr);
    if (admin != 0) return Fail(base, request, XA_NOT_ADMINISTRATOR, XAER_RMERR);
  }
  mdrenq(Sem(base, sys, SYS_XAENT_S));
  int32_t x = Find(base, sys, xid);
  std::pair<int32_t, int32_t> verdict{0, XA_OK};
  if (start) {
    if (x != 0) {
      verdict = {XA_DUPLICATE_ID, XAER_DUPID};
    } else {
      Wd(base, fresh, XAENT_NEXT) = Wd(base, sys, SYS_FIRST_XAENT);
      Wd(base, sys, SYS_FIRST_XAENT) = fresh;
      x = fresh;
      fresh = 0;
    }
  } else {
    verdict = Check(base, op, x, usr, xid[XID_FLAGS], local);
  }
  // Every holder but the attached session itself counts, so that a branch
  // another session owns cannot go while this caller still works on it.
  if (verdict.first == 0 && Wd(base, x, XAENT_USR) != usr) ++Wd(base, x, XAENT_USECOUNT);
  mdrdeq(Sem(base, sys, SYS_XAENT_S));
  if (fresh != 0) FreeEntry(base, fresh);
  if (verdict.first != 0) return Fail(base, request, verdict.first, verdict.second);
  request[XAREQ_OP] = 0;
  request[XAREQ_CODE] = XA_OK;
  return x;
}

void DSXAAttach(int32_t* base, int32_t usr, int32_t x, int32_t mode) {
  if (mode < 1) mdrenq(Sem(base, x, XAENT_OWNER_S));
  if (Wd(base, x, XAENT_TP) != 0) Wd(base, usr, USR_TP) = Wd(base, x, XAENT_TP);
  Wd(base, x, XAENT_USR) = usr;
  Wd(base, usr, USR_SAVED_XAENT) = Wd(base, usr, USR_XAENT);
  Wd(base, usr, USR_XAENT) = x;
}

void DSXARelease(int32_t* base, int32_t usr, int32_t x, int32_t mode) {
  if (mode >= 1) {
    DropHold(base, x);
    return;
  }
  // A session that worked on another branch before gets that branch and
  // its transaction back.
  const int32_t saved = Wd(base, usr, USR_SAVED_XAENT);
  const bool back = saved != 0 && saved != x && Wd(base, saved, XAENT_USR) == usr;
  if (Wd(base, usr, USR_XAENT) == x) Wd(base, usr, USR_XAENT) = back ? saved : 0;
  if (Wd(base, usr, USR_TP) == Wd(base, x, XAENT_TP))
    Wd(base, usr, USR_TP) = back ? Wd(base, saved, XAENT_TP) : 0;
  Wd(base, usr, USR_SAVED_XAENT) = 0;
  Wd(base, x, XAENT_USR) = 0;
  mdrdeq(Sem(base, x, XAENT_OWNER_S));
  DropHold(base, x);
}

int32_t DSXATransKind(int32_t* base, int32_t usr) {
  const int32_t tp = Wd(base, usr, USR_TP), x = Wd(base, usr, USR_XAENT);
  if (tp == 0) return 1;
  if (x == 0 || Wd(base, x, XAENT_TP) != tp || Wd(base, x, XAENT_STATE) == XA_FINISHED) return 2;
  const int32_t state = Wd(base, x, XAENT_STATE);
  return state == XA_STARTED || state == XA_PREPARED_OWN ? 3 : 4;
}

void DSXAFreeAll(int32_t* base, int32_t sys) {
  int32_t x = 0;
  {
    EnqdeqGuard guard(Sem(base, sys, SYS_XAENT_S));
    x = Wd(base, sys, SYS_FIRST_XAENT);
    Wd(base, sys, SYS_FIRST_XAENT) = 0;
  }
  for (int32_t steps = 0; x != 0 && steps < (1 << 20); ++steps) {
    if (!InStorage(base, x, XAENT_WORDS)) break;
    const int32_t next = Wd(base, x, XAENT_NEXT);
    const int32_t state = Wd(base, x, XAENT_STATE), tp = Wd(base, x, XAENT_TP);
    const bool prepared = state == XA_PREPARED || state == XA_PREPARED_OWN;
    if (tp != 0) {
      if (prepared) {
        int32_t block = tp;
        DSGetMem(base, &block, 0);
      } else {
        UpFreeTP(base, tp);
      }
    }
    FreeEntry(base, x);
    x = next;
  }
  EnqdeqGuard guard(Sem(base, sys, SYS_POOLED_TP_S));
  int32_t tp = Wd(base, sys, SYS_POOLED_TP);
  Wd(base, sys, SYS_POOLED_TP) = 0;
  for (int32_t steps = 0; tp != 0 && steps < (1 << 20); ++steps) {
    if (!InStorage(base, tp, 1)) break;
    int32_t block = tp;
    tp = sqlpool_word(base, tp);
    DSGetMem(base, &block, 0);
  }
}

int32_t DSXAAddDecided(int32_t* base, const int32_t* xid, int32_t state, int32_t tp) {
  const int32_t sys = KernelSys(base);
  if (sys == 0) return KERNEL_NOT_STARTED;
  if (!ValidId(xid)) return XA_BAD_IDENTIFIER;
  const int32_t fresh = NewEntry(base, xid);
  if (fresh == 0) return SQLPOOL_EXHAUSTED_ERROR;
  Wd(base, fresh, XAENT_STATE) = state;
  Wd(base, fresh, XAENT_TP) = tp;
  EnqdeqGuard guard(Sem(base, sys, SYS_XAENT_S));
  if (Find(base, sys, xid) != 0) {
    FreeEntry(base, fresh);
    return XA_DUPLICATE_ID;
  }
  Wd(base, fresh, XAENT_NEXT) = Wd(base, sys, SYS_FIRST_XAENT);
  Wd(base, sys, SYS_FIRST_XAENT) = fresh;
  return 0;
}

int32_t XAKeptIdentifier(const int32_t* xid, uint8_t* kept) {
  const int32_t length = ValidId(xid) ? xid[XID_GTRID_LENGTH] + xid[XID_BQUAL_LENGTH] : 0;
  for (int32_t k = 0; k < 3; ++k) store_le32(kept + 4 * k, static_cast<uint32_t>(xid[XID_FORMAT + k]));
  std::memcpy(kept + XA_KEPT_HEAD_BYTES, IdBytes(xid), length);
  return XA_KEPT_HEAD_BYTES + length;
}

bool XAFromKept(const uint8_t* kept, int32_t length, int32_t* xid) {
  std::memset(xid, 0, XID_WORDS * sizeof(int32_t));
  if (length < XA_KEPT_HEAD_BYTES || length > XA_KEPT_HEAD_BYTES + XID_MAX_BYTES) return false;
  for (int32_t k = 0; k < 3; ++k) xid[XID_FORMAT + k] = static_cast<int32_t>(load_le32(kept + 4 * k));
  if (!ValidId(xid) ||
      xid[XID_GTRID_LENGTH] + xid[XID_BQUAL_LENGTH] != length - XA_KEPT_HEAD_BYTES)
    return false;
  std::memcpy(xid + XID_DATA, kept + XA_KEPT_HEAD_BYTES, length - XA_KEPT_HEAD_BYTES);
  return true;
}

void DSXAEndSession(int32_t* base, int32_t usr) {
  // The branch the session works on, then the one it worked on before.
  for (int round = 0; round < 2; ++round) {
    const int32_t x = Wd(base, usr, USR_XAENT);
    if (x == 0) return;
    if (!InStorage(base, x, XAENT_WORDS)) break;
    int32_t& state = Wd(base, x, XAENT_STATE);
    // A branch the session owns and has not prepared ends with it: once
    // the session is gone no operation could end it.
    if (Wd(base, x, XAENT_USR) == usr && (state == XA_STARTED || state == XA_ACTIVE)) {
      int32_t xid[XID_WORDS] = {};
      xid[XID_FORMAT] = Wd(base, x, XAENT_FORMATID);
      xid[XID_GTRID_LENGTH] = Wd(base, x, XAENT_GTRID_LENGTH);
      xid[XID_BQUAL_LENGTH] = Wd(base, x, XAENT_BQUAL_LENGTH);
      if (ValidId(xid)) std::memcpy(xid + XID_DATA, EntryBytes(base, x), xid[XID_GTRID_LENGTH] + xid[XID_BQUAL_LENGTH]);
      uint8_t kept[XA_KEPT_HEAD_BYTES + XID_MAX_BYTES];
      UpEndTransWork(base, usr, XA_END_ROLLBACK, kept, XAKeptIdentifier(xid, kept));
      state = XA_FINISHED;
    }
    DSXARelease(base, usr, x, 0);
  }
  Wd(base, usr, USR_XAENT) = 0;
  Wd(base, usr, USR_SAVED_XAENT) = 0;
}
