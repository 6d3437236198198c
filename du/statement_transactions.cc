// Statements and the user's transaction: binding a starting statement to it
// (begun on the spot when the session allows), the read-only rule on the
// databanks a statement touches, statement-owned transactions parked on
// their statement between requests, and the saving and restoring of the
// per-databank entries (TRS) when transactions are stacked.
//
// A statement's databank access list (STM LTRS) is a block whose words from
// field 1 on are pairs {TRS entry, access}, ended by -1.
#include "du/record_access_words.h"
#include "du/statement_records.h"
#include "du/tables.h"
#include "du/transactions.h"

using du::W;

namespace {

int64_t F(int32_t block, int32_t field) {
  return int64_t{block} + field;
}

constexpr int32_t kMaxAccessPairs = 100;

bool Open(int32_t* base, int32_t tp) {
  return tp != 0 && W(base, F(tp, TP_TRANSACTION_STATE)) == 1;
}

int32_t ActiveProgramType(int32_t* base, int32_t stm) {
  const int32_t active = W(base, F(stm, STM_ACTIVE_COM));
  return du::ProgramType(base, active != 0 ? active : stm + STM_NEXT_COM);
}

// The load check: 1 when the statement is a plain insert into the loading
// table, 0 when it names other tables, -18045 for another program type.
int32_t LoadCheck(int32_t* base, int32_t usr, int32_t stm) {
  if (W(base, F(stm, STM_LOADING_TNAME)) < 0) return 0;
  const int32_t locked = W(base, F(usr, USR_LOCKED_TCB));
  const int32_t loading =
      du::BlockInside(base, locked, TCB_WORDS) ? W(base, F(locked, TCB_TNAME)) : 0;
  if (W(base, F(stm, STM_LOADING_TNAME)) == loading && loading != 0) return 1;
  bool others = false, wrong_type = false;
  du::ForEachRecord(base, stm, [&](int32_t r) {
    ForEachListedRecordBlock(base, r,
                             [&](int32_t* rec) { others = others || rec[DUREC_TNAME] != loading; });
    wrong_type = wrong_type || du::ProgramType(base, r) != 3;
    return true;
  });
  if (others) {
    W(base, F(stm, STM_LOADING_TNAME)) = -1;
    return 0;
  }
  if (wrong_type) return -18045;
  W(base, F(stm, STM_LOADING_TNAME)) = loading;
  return 1;
}

// Step 9: each databank of the access list raised to the access asked.
int32_t RaiseAccess(int32_t* base, int32_t stm, int32_t tp) {
  const int32_t list = W(base, F(stm, STM_LTRS));
  for (int32_t k = 0; k < kMaxAccessPairs; ++k) {
    const int64_t pair = int64_t{list} + 1 + 2 * k;
    if (!du::BlockInside(base, pair, 1) || W(base, pair) == -1) return 0;
    if (!du::BlockInside(base, pair, 2)) return DU_BAD_ARGUMENT;
    const int32_t trs = W(base, pair);
    const int32_t access = W(base, pair + 1);
    if (!du::BlockInside(base, trs, TRS_WORDS)) return DU_BAD_ARGUMENT;
    int32_t& status = W(base, F(trs, TRS_STATUS));
    if (access <= status) continue;
    if (access == 3 && W(base, F(tp, TP_READ_WRITE_MODE)) == READ_ONLY_MODE) {
      const int32_t type = ActiveProgramType(base, stm);
      if (type != 1 && type != 57 && type != 84 && type != 85) return DU_READ_ONLY;
      if (status < 1) status = 1;
    } else {
      status = access;
    }
  }
  return DU_BAD_ARGUMENT;  // no end word within the limit
}

int32_t StartTrans(int32_t* base, int32_t stm, int32_t usr) {
  int32_t tp = W(base, F(usr, USR_TP));
  if (Open(base, tp) && W(base, F(tp, TP_TRANSACTION_SCOPE)) == 2) {
    int32_t end[3] = {END_AUTOMATIC, usr, stm};
    DSEndTransWork(base, end, 1, nullptr, 0);
    if (end[0] != 0) return end[0];
    tp = W(base, F(usr, USR_TP));
  }
  if (Open(base, tp) && W(base, F(tp, TP_TRANSACTION_SCOPE)) == 4) return DU_SCOPE_NO_STATEMENT;
  const int32_t list = W(base, F(stm, STM_LTRS));
  if (list == 0) return 0;
  int32_t status = 0;
  if (tp != 0) {
    const int32_t scope = W(base, F(tp, TP_TRANSACTION_SCOPE));
    if (scope != 3 && scope != 4) DSSetTransScope(base, &status, usr, 1);
    if (W(base, F(tp, TP_TRANSACTION_STATE)) == -1) return DU_TP_UNUSABLE;
  }
  if (!Open(base, tp)) {
    if (W(base, F(usr, USR_LOADCB)) != 0) {
      const int32_t load = LoadCheck(base, usr, stm);
      if (load != 0) return load > 0 ? 0 : load;
    }
    if (W(base, F(usr, USR_TRANSACTION_START)) != 1) {
      const bool first_reads = du::BlockInside(base, int64_t{list} + 2, 1) &&
                               W(base, F(list, 1)) != -1 && W(base, F(list, 2)) == 1;
      return first_reads ? 0 : DU_NO_TRANSACTION;
    }
    W(base, F(usr, USR_TRV_COND)) = BEGIN_AUTOMATIC;
    DSAllocTP(base, usr);
    if (W(base, F(usr, USR_TRV_COND)) < 0) {
      W(base, F(usr, USR_RVEC_BITVEC)) = 0;
      return W(base, F(usr, USR_TRV_COND));
    }
    tp = W(base, F(usr, USR_TP));
    DSSetTransScope(base, &status, usr, 1);
  }
  if (W(base, F(stm, STM_TP)) == 0) W(base, F(stm, STM_TP)) = tp;
  if (W(base, F(stm, STM_TP)) != tp) return DU_OTHER_TRANSACTION;
  const int32_t xa = W(base, F(usr, USR_XAENT));
  if (xa != 0 && du::BlockInside(base, xa, XAENT_WORDS) && W(base, F(xa, XAENT_TP)) == tp) {
    const int32_t state = W(base, F(xa, XAENT_STATE));
    if (state != 50 && state != 55 && state != 58) {
      status = RegisterStatementTables(base, usr, stm, tp);
      if (status != 0) return status;
    }
  }
  status = DUSetStackedMarks(base, usr);
  if (status != 0) return status;
  return RaiseAccess(base, stm, tp);
}

// Pushes the statement's own transaction on the user's stack, the user's
// entries saved into the outer one and restored from it; 0 or a failure.
int32_t PushOwned(int32_t* base, int32_t usr, int32_t stp) {
  // Already innermost (not parked): pushing it again would link it to itself.
  if (W(base, F(usr, USR_TP)) == stp) return 0;
  if (W(base, F(usr, USR_TP)) != 0) {
    int32_t save[4] = {0, usr, 0, 0};
    DSSaveTrs(base, save);
    if (save[0] != 0) return save[0];
  }
  W(base, stp) = W(base, F(usr, USR_TP));
  W(base, F(usr, USR_TP)) = stp;
  int32_t restore[4] = {0, usr, 0, 0};
  DSRestoreTrs(base, restore);
  return restore[0];
}

int32_t OwnedBy(int32_t* base, int32_t stm) {
  const int32_t stp = W(base, F(stm, STM_TP));
  return stp != 0 && W(base, F(stp, TP_OWNER_STM)) == stm ? stp : 0;
}

void CopySaved(int32_t* base, int32_t from, int32_t to) {
  for (int32_t f = TRS_DCB; f <= TRS_DELETE_SEQNO; ++f) W(base, F(to, f)) = W(base, F(from, f));
}

}  // namespace

void DSStmStartTrans(int32_t* base, int32_t* status, int32_t stm, int32_t usr) {
  *status = StartTrans(base, stm, usr);
  if (*status < 0) W(base, F(usr, USR_RVEC_RCODE)) = *status;
}

void DSStmResumeTrans(int32_t* base, int32_t* pb) {
  const int32_t usr = pb[1], stm = pb[2], code = pb[3];
  pb[0] = 0;
  if (const int32_t stp = OwnedBy(base, stm); stp != 0) {
    pb[0] = PushOwned(base, usr, stp);
    if (pb[0] != 0 || (code != 31 && code != 33)) return;
    int32_t end[3] = {END_AFTER_SUCCESS, usr, stm};
    DSEndTransWork(base, end, 1, nullptr, 0);
    if ((pb[0] = end[0]) != 0) return;
  }
  const int32_t tp = W(base, F(usr, USR_TP));
  if (W(base, F(usr, USR_TRANSACTION_AUTOCOMMIT)) == NO_AUTOMATIC_END || Open(base, tp) ||
      W(base, F(stm, STM_WITH_HOLD)) == 2)
    return;
  int32_t mode = READ_ONLY_MODE;
  if (W(base, F(usr, USR_SESSION_READ_WRITE_MODE)) != READ_ONLY_MODE &&
      du::AnyProgramType(base, stm, {2, 16, 58, 59}))
    mode = 0;
  W(base, F(usr, USR_NEXT_READ_WRITE_MODE)) = mode;
  W(base, F(usr, USR_TRV_COND)) = BEGIN_AUTOMATIC;
  DSAllocTP(base, usr);
  if (W(base, F(usr, USR_TRV_COND)) < 0) {
    pb[0] = W(base, F(usr, USR_TRV_COND));
    return;
  }
  W(base, F(W(base, F(usr, USR_TP)), TP_OWNER_STM)) = stm;
}

void DSStmParkTrans(int32_t* base, int32_t* pb, int32_t request_code, const int32_t* access) {
  const int32_t usr = pb[1], stm = pb[2];
  const int32_t tp = W(base, F(usr, USR_TP));
  if (tp == 0 || W(base, F(tp, TP_OWNER_STM)) != stm) return;
  if (W(base, F(tp, TP_TRANSACTION_STATE)) == 0) {
    W(base, F(tp, TP_OWNER_STM)) = 0;
    return;
  }
  const bool read_only = W(base, F(tp, TP_READ_WRITE_MODE)) == READ_ONLY_MODE;
  if ((request_code == 32 || request_code == 33) &&
      (pb[0] < 0 || (pb[3] == 0 && (read_only || (access && *access == 3))) ||
       W(base, F(stm, STM_WITH_HOLD)) == 2)) {
    int32_t end[3] = {END_AFTER_SUCCESS, usr, stm};
    DSEndTransWork(base, end, 1, nullptr, 0);
    if (pb[0] == 0) pb[0] = end[0];  // a failed commit is not reported as success
    return;
  }
  W(base, F(stm, STM_TP)) = tp;
  int32_t save[4] = {0, usr, 0, 0};
  DSSaveTrs(base, save);
  if (save[0] != 0) {
    int32_t end[3] = {END_ROLLBACK_OWNED, usr, stm};
    DSEndTransWork(base, end, 1, nullptr, 0);
    pb[0] = save[0];
    return;
  }
  W(base, F(usr, USR_TP)) = W(base, tp);
  W(base, tp) = 0;
  if (W(base, F(usr, USR_TP)) != 0) {
    int32_t restore[4] = {0, usr, 0, 0};
    DSRestoreTrs(base, restore);
    if (restore[0] != 0) pb[0] = restore[0];
  }
}

void DSEndStmTrans(int32_t* base, int32_t* pb) {
  const int32_t usr = pb[1], stm = pb[2];
  pb[0] = 0;
  const int32_t stp = OwnedBy(base, stm);
  if (stp == 0) return;
  if ((pb[0] = PushOwned(base, usr, stp)) != 0) return;
  int32_t end[3] = {END_AFTER_SUCCESS, usr, stm};
  DSEndTransWork(base, end, 1, nullptr, 0);
  pb[0] = end[0];
}

void DSSaveTrs(int32_t* base, int32_t* pb) {
  const int32_t usr = pb[1];
  const int32_t tp = W(base, F(usr, USR_TP));
  if (tp == 0) {
    pb[0] = DU_NO_TRANSACTION;
    return;
  }
  int32_t* link = &W(base, F(tp, TP_SAVE_TRS));
  if (W(base, F(tp, TP_TRANSACTION_STATE)) != 0 && pb[3] != 103) {
    for (int32_t trs = W(base, F(usr, USR_TRS)); trs != 0; trs = W(base, trs)) {
      if (W(base, F(trs, TRS_STATUS)) <= 0) continue;
      if (*link == 0) {
        const int32_t copy = du::NewBlock(base, TRS_BYTES_EACH);
        if (copy == 0) {
          for (int32_t b = W(base, F(tp, TP_SAVE_TRS)), n; b != 0; b = n) {
            n = W(base, b);
            du::FreeBlock(base, b);
          }
          W(base, F(tp, TP_SAVE_TRS)) = 0;
          pb[0] = DU_NO_STORAGE;
          return;
        }
        *link = copy;
      }
      CopySaved(base, trs, *link);
      W(base, F(trs, TRS_STATUS)) = 0;
      W(base, F(trs, TRS_CDB_COUNT)) = 0;
      W(base, F(trs, TRS_DELETE_PENDING)) = 0;
      link = &W(base, *link);
    }
    W(base, F(tp, TP_SAVE_ATOMIC)) = W(base, F(usr, USR_ATOMIC));
    W(base, F(usr, USR_ATOMIC)) = 0;
  }
  for (int32_t b = *link, n; b != 0; b = n) {
    n = W(base, b);
    du::FreeBlock(base, b);
  }
  *link = 0;
  W(base, F(tp, TP_SAVE_STATE)) = 1;
  pb[0] = 0;
}

void DSRestoreTrs(int32_t* base, int32_t* pb) {
  const int32_t usr = pb[1];
  const int32_t tp = W(base, F(usr, USR_TP));
  if (tp == 0) {
    pb[0] = DU_NO_TRANSACTION;
    return;
  }
  pb[0] = 0;
  W(base, F(tp, TP_SAVE_STATE)) = 0;
  for (int32_t trs = W(base, F(usr, USR_TRS)); trs != 0; trs = W(base, trs))
    W(base, F(trs, TRS_STATUS)) = 0;
  for (int32_t copy = W(base, F(tp, TP_SAVE_TRS)); copy != 0; copy = W(base, copy)) {
    const int32_t trs = DUUserTrs(base, usr, W(base, F(copy, TRS_DCB)));
    if (trs == 0) {
      pb[0] = DU_NO_STORAGE;
      return;
    }
    for (int32_t f : {TRS_STATUS, TRS_CDB_COUNT, TRS_DELETE_PENDING, TRS_DELETE_SEQNO})
      W(base, F(trs, f)) = W(base, F(copy, f));
  }
  W(base, F(usr, USR_ATOMIC)) = W(base, F(tp, TP_SAVE_ATOMIC));
}

int32_t DUUserTrs(int32_t* base, int32_t usr, int32_t dcb) {
  int32_t trs = W(base, F(usr, USR_TRS));
  while (trs != 0 && W(base, F(trs, TRS_DCB)) != dcb) trs = W(base, trs);
  if (trs != 0) return trs;
  trs = du::NewBlock(base, TRS_BYTES_EACH);
  if (trs == 0) return 0;
  W(base, F(trs, TRS_DCB)) = dcb;
  W(base, trs) = W(base, F(usr, USR_TRS));
  W(base, F(usr, USR_TRS)) = trs;
  return trs;
}

int32_t DUMarkDatabankWritten(int32_t* base, int32_t usr, int32_t tp, int32_t dcb) {
  // A read-only transaction's commit lists no written databank, so a change
  // let into its write set would vanish while the commit answers 0: the
  // change is refused here, before anything is written.
  if (W(base, F(tp, TP_READ_WRITE_MODE)) == READ_ONLY_MODE) {
    W(base, F(usr, USR_RVEC_RCODE)) = DU_READ_ONLY;
    return DU_READ_ONLY;
  }
  const int32_t trs = DUUserTrs(base, usr, dcb);
  if (trs == 0) return DU_NO_STORAGE;
  if (W(base, F(trs, TRS_STATUS)) < 3) W(base, F(trs, TRS_STATUS)) = 3;
  return 0;
}

int32_t DSChkTransWritable(int32_t* base, int32_t* pb, int32_t usr) {
  const int32_t tp = W(base, F(usr, USR_TP));
  int32_t status = 0;
  if (Open(base, tp))
    status = W(base, F(tp, TP_READ_WRITE_MODE)) == READ_ONLY_MODE ? DU_READ_ONLY : 1;
  else if (W(base, F(usr, USR_TRANSACTION_START)) == 2)
    status = DU_NO_TRANSACTION;
  else if (W(base, F(usr, USR_NEXT_READ_WRITE_MODE)) == READ_ONLY_MODE)
    status = DU_READ_ONLY;
  if (status < 0) W(base, F(usr, USR_RVEC_RCODE)) = status;
  if (pb) pb[0] = status;
  return status;
}

void DSSwapReadWriteMode(int32_t* base, int32_t usr, int32_t mode, int32_t* previous) {
  *previous = W(base, F(usr, USR_NEXT_READ_WRITE_MODE));
  W(base, F(usr, USR_NEXT_READ_WRITE_MODE)) = mode;
  const int32_t tp = W(base, F(usr, USR_TP));
  if (tp != 0) W(base, F(tp, TP_READ_WRITE_MODE)) = mode;
}

void DSMarkStmsEnded(int32_t* base, int32_t usr) {
  const int32_t lvl = W(base, F(usr, USR_LVL));
  if (!du::BlockInside(base, lvl, LVL_WORDS)) return;
  const int32_t tp = W(base, F(usr, USR_TP));
  for (int32_t stm = W(base, F(lvl, LVL_STM)); stm != 0; stm = W(base, stm)) {
    const int32_t on = W(base, F(stm, STM_TP));
    if (on != tp && on != 0) continue;
    if (W(base, F(stm, STM_STATUS)) == 3 && W(base, F(stm, STM_WITH_HOLD)) != 1) {
      W(base, F(stm, STM_STATUS)) = 7;
      const int32_t lrid = W(base, F(stm, STM_LRID)), words = W(base, F(stm, STM_LRIDSZ));
      if (lrid != 0 && words > 0 && du::BlockInside(base, lrid, words))
        for (int32_t k = 0; k < words; ++k) W(base, F(lrid, k)) = 0;
    }
    W(base, F(stm, STM_TP)) = 0;
  }
}

void DSSetStmHold(int32_t* base, int32_t stm) {
  const int32_t stp = OwnedBy(base, stm);
  if (stp != 0 && W(base, F(stp, TP_READ_WRITE_MODE)) == READ_ONLY_MODE &&
      W(base, F(stm, STM_WITH_HOLD)) == 0)
    W(base, F(stm, STM_WITH_HOLD)) = 2;
}
