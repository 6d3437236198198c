// The transaction block TP of a user: begin (DSBTR3, DSAllocTP), the pool of
// idle blocks that keep their kernel queues open, release (DSFreeTP), the
// kernel end (DSTransDkEnd), the rollback to a mark, and the small getters
// and setters of the transaction words. The end by an end code is in
// transaction_end.cc.
#include <cstring>

#include "du/ddl_transaction.h"
#include "du/kernel_requests.h"
#include "du/record_access_words.h"
#include "du/transactions.h"
#include "du/upper_services.h"
#include "kernel/error_report.h"

using du::W;

namespace {

int64_t F(int32_t block, int32_t field) {
  return int64_t{block} + field;
}

// Creates the queue of descriptor `field` as a kernel work table, or empties
// the one the block holds. A kernel code on failure.
int32_t PrepareQueue(int32_t* base, int32_t tp, int32_t field, int32_t lid, int32_t flag) {
  du::SetRequest b;
  if (W(base, F(tp, field + QD_TBL)) == 0) {
    b[0] = 0;
    b[2] = lid;
    b[3] = QUEUE_TYPE;
    b[5] = -1;
    b[12] = flag;
    DUKernel(DK_CRT1, b.data());
    if (b[0] < 0) return b[0];
    b[1] = b[11];
  } else {
    b[0] = 1;
    du::QueueToRequest(base, tp, field, b.data());
    DUKernel(DK_DRS1, b.data());
    if (b[0] < 0) return b[0];
  }
  du::QueueFromRequest(base, tp, field, b.data());
  return 0;
}

// Closes the queue of descriptor `field` (drop: word 0 -22) and clears its
// TBL word; the kernel code.
int32_t CloseQueue(int32_t* base, int32_t tp, int32_t field, int32_t mode, bool check_set) {
  if (W(base, F(tp, field + QD_TBL)) == 0) return 0;
  du::SetRequest b;
  b[0] = mode;
  du::QueueToRequest(base, tp, field, b.data());
  if (check_set) b[5] = -1;
  DUKernel(DK_CLT1, b.data());
  W(base, F(tp, field + QD_TBL)) = 0;
  return b[0] < 0 ? b[0] : 0;
}

int32_t PopPool(int32_t* base) {
  const int32_t sys = du::SystemBlock(base);
  if (sys == 0) return 0;
  du::Take(base, F(sys, SYS_POOLED_TP_S));
  const int32_t tp = W(base, F(sys, SYS_POOLED_TP));
  if (tp != 0) W(base, F(sys, SYS_POOLED_TP)) = W(base, tp);
  du::Give(base, F(sys, SYS_POOLED_TP_S));
  return tp;
}

void PushPool(int32_t* base, int32_t tp) {
  const int32_t sys = du::SystemBlock(base);
  du::Take(base, F(sys, SYS_POOLED_TP_S));
  W(base, tp) = W(base, F(sys, SYS_POOLED_TP));
  W(base, F(sys, SYS_POOLED_TP)) = tp;
  du::Give(base, F(sys, SYS_POOLED_TP_S));
}

// A block taken from the pool keeps its queue descriptors; every word of the
// transaction it served before is cleared.
void ClearForReuse(int32_t* base, int32_t tp) {
  for (int32_t f : {TP_TRANSACTION_STATE, TP_TRANSACTION_READ_COUNT, TP_TRANSACTION_TYPE,
                    TP_TRANSACTION_CHECK_COUNT, TP_TRANSACTION_NUMBER, TP_TSS, TP_SAVE_STATE,
                    TP_SAVE_TRS, TP_OWNER_STM, TP_SAVE_ATOMIC, TP_TRANSACTION_SCOPE, TP_DDLTRA,
                    TP_FTR_START, TP_FLUSH_LOB_FLAG, TP_TRB})
    W(base, F(tp, f)) = 0;
}

void FreeChain(int32_t* base, int32_t first) {
  int32_t b = first;
  while (b != 0) {
    const int32_t next = W(base, b);
    du::FreeBlock(base, b);
    b = next;
  }
}

// Takes the block a begin works on; 0 when the storage is exhausted.
// *remembered gets the TSS a successor (code 85) continues.
int32_t TakeBlock(int32_t* base, int32_t usr, int32_t code, int32_t* remembered) {
  const int32_t current = W(base, F(usr, USR_TP));
  if (code == BEGIN_ADOPT) {
    *remembered = current;  // the caller's TSS stands in the TP word
    W(base, F(usr, USR_TP)) = 0;
  } else if (current != 0 && W(base, F(current, TP_TRANSACTION_STATE)) == 0 &&
             code != BEGIN_SUCCESSOR) {
    return current;
  } else if (code == BEGIN_SUCCESSOR && current != 0 &&
             W(base, F(current, TP_TRANSACTION_STATE)) != 0) {
    *remembered = W(base, F(current, TP_TSS));
  }
  int32_t tp = code == BEGIN_ADOPT ? 0 : PopPool(base);
  if (tp != 0) {
    ClearForReuse(base, tp);
  } else {
    tp = du::NewBlock(base, TP_BYTES);
    if (tp == 0) return 0;
  }
  W(base, tp) = W(base, F(usr, USR_TP));
  W(base, F(usr, USR_TP)) = tp;
  W(base, F(tp, TP_CURSOR_ORDER_COUNTER)) = 2;
  return tp;
}

}  // namespace

void DSAllocTP(int32_t* base, int32_t usr) {
  const int32_t code = W(base, F(usr, USR_TRV_COND));
  int32_t remembered = 0;
  const int32_t tp = TakeBlock(base, usr, code, &remembered);
  if (tp == 0) {
    W(base, F(usr, USR_TRV_COND)) = DU_NO_STORAGE;
    return;
  }
  const int32_t rs_lid = W(base, F(usr, USR_TRANSDB_DID)) != W(base, F(usr, USR_SQLDB_DID)) ? 4 : 2;
  int32_t rc = PrepareQueue(base, tp, TP_WS_QBLKSIZ, 2, 0);
  if (rc == 0) rc = PrepareQueue(base, tp, TP_RS_QBLKSIZ, rs_lid, 2);
  if (rc == 0 && code != BEGIN_ADOPT) {
    int32_t b[8] = {W(base, F(usr, USR_NEXT_READ_WRITE_MODE)), 0, 0, remembered, 0, 0, 0, 0};
    DUKernel(DK_BTR1, b);
    rc = b[0] < 0 ? b[0] : 0;
    if (rc == 0) {
      W(base, F(tp, TP_TRANSACTION_NUMBER)) = b[4];
      W(base, F(tp, TP_TSS)) = b[3];
    }
  } else if (rc == 0) {
    W(base, F(tp, TP_TSS)) = remembered;
  }
  if (rc < 0) {
    W(base, F(usr, USR_TRV_COND)) = KernelStatus(rc);
    CloseQueue(base, tp, TP_WS_QBLKSIZ, 0, false);
    CloseQueue(base, tp, TP_RS_QBLKSIZ, 0, false);
    return;
  }
  W(base, F(tp, TP_TRANSACTION_READ_COUNT)) = 0;
  W(base, F(tp, TP_ISOLATION_LEVEL)) = W(base, F(usr, USR_NEXT_ISOLATION_LEVEL));
  W(base, F(tp, TP_READ_WRITE_MODE)) = W(base, F(usr, USR_NEXT_READ_WRITE_MODE));
  W(base, F(tp, TP_TRANSACTION_STATE)) = 1;
  W(base, F(tp, TP_FTR_START)) = code;
  int32_t autocommit = W(base, F(usr, USR_TRANSACTION_AUTOCOMMIT));
  if (autocommit == END_XA_COMMIT && code == BEGIN_EXPLICIT) autocommit = NO_AUTOMATIC_END;
  W(base, F(tp, TP_AUTOCOMMIT)) = autocommit;
  W(base, F(tp, TP_FLUSH_LOB_FLAG)) = 0;
  W(base, F(usr, USR_NEXT_ISOLATION_LEVEL)) = W(base, F(usr, USR_SESSION_ISOLATION_LEVEL));
  W(base, F(usr, USR_NEXT_READ_WRITE_MODE)) = W(base, F(usr, USR_SESSION_READ_WRITE_MODE));
  W(base, F(usr, USR_TRV_COND)) = 0;
}

void DSBTR3(int32_t* base, int32_t* pb) {
  int32_t mode = pb[0];
  const int32_t usr = pb[1];
  int32_t status = 0;
  if (mode != 0 && mode != 1 && mode != 2 && mode != BEGIN_MODE_SAVING) {
    DSErrRep2("DSBTR3", 6, DU_BAD_BEGIN_MODE, SEV_ERROR, &mode, 1);
    status = DU_BAD_BEGIN_MODE;
  }
  const int32_t tp = W(base, F(usr, USR_TP));
  if (status == 0) {
    W(base, F(usr, USR_TRV_COND)) = mode == BEGIN_MODE_SAVING ? BEGIN_SAVING : BEGIN_EXPLICIT;
    if (tp != 0 && mode == BEGIN_MODE_SAVING) {
      int32_t save[4] = {0, usr, 0, 0};
      DSSaveTrs(base, save);
      status = save[0];
    } else if (tp != 0) {
      const int32_t state = W(base, F(tp, TP_TRANSACTION_STATE));
      if (state == 1) status = DU_TRANSACTION_OPEN;
      if (state != 0 && state != 1) status = DU_TP_UNUSABLE;
    }
  }
  if (status == 0 && W(base, F(usr, USR_LOADCB)) != 0 && mode != 2 && mode != BEGIN_MODE_SAVING)
    status = DU_TRANSACTION_OPEN;
  if (status == 0) {
    DSAllocTP(base, usr);
    if (W(base, F(usr, USR_TRV_COND)) < 0) {
      status = W(base, F(usr, USR_TRV_COND));
      W(base, F(usr, USR_RVEC_BITVEC)) = 0;
    }
  }
  if (status == 0) status = DUSetStackedMarks(base, usr);
  if (status == 0 && mode == 0) {
    const int32_t now = W(base, F(usr, USR_TP));
    if (now != 0 && W(base, F(now, TP_TRANSACTION_STATE)) == 1 &&
        W(base, F(now, TP_AUTOCOMMIT)) != NO_AUTOMATIC_END) {
      int32_t end[3] = {END_AFTER_SUCCESS, usr, 0};
      DSEndTransWork(base, end, 1, nullptr, 0);
      status = end[0];
    }
  }
  if (status == 0) DSSetTransScope(base, &status, usr, 0);
  if (status != 0) W(base, F(usr, USR_RVEC_RCODE)) = status;
  pb[0] = status;
}

void DSFreeTP(int32_t* base, int32_t usr) {
  const int32_t mode = W(base, F(usr, USR_TRV_COND));
  const int32_t tp = W(base, F(usr, USR_TP));
  int32_t status = 0;
  if (tp == 0) {
    W(base, F(usr, USR_TRV_COND)) = 0;
    return;
  }
  if (W(base, F(tp, TP_TRANSACTION_STATE)) != 0 && W(base, F(tp, TP_TSS)) != 0) {
    int32_t b[8] = {1,
                    W(base, F(tp, TP_WS_QTBL)),
                    W(base, F(tp, TP_RS_QTBL)),
                    W(base, F(tp, TP_TSS)),
                    0,
                    W(base, F(tp, TP_ISOLATION_LEVEL)),
                    0,
                    0};
    DUKernel(DK_ETR1, b);
    W(base, F(tp, TP_WS_QTBL)) = b[1];
  }
  W(base, F(tp, TP_TRANSACTION_STATE)) = 0;
  W(base, F(tp, TP_TSS)) = 0;
  FreeChain(base, W(base, F(tp, TP_SAVE_TRS)));
  W(base, F(tp, TP_SAVE_TRS)) = 0;
  W(base, F(tp, TP_SAVE_STATE)) = 0;
  W(base, F(usr, USR_TP)) = W(base, tp);
  if (mode == 4 && du::SystemBlock(base) != 0) {
    // The queue tables stay open: the next begin only empties them.
    du::FreeDdlRecord(base, W(base, F(tp, TP_DDLTRA)));
    W(base, F(tp, TP_DDLTRA)) = 0;
    PushPool(base, tp);
  } else {
    for (auto [field, check] : {std::pair{TP_RS_QBLKSIZ, false}, std::pair{TP_WS_QBLKSIZ, false},
                                std::pair{TP_CS_QBLKSIZ, true}}) {
      const int32_t rc = CloseQueue(base, tp, field, -22, check);
      if (rc < 0 && status == 0) status = KernelStatus(rc);
    }
    du::FreeDdlRecord(base, W(base, F(tp, TP_DDLTRA)));
    du::FreeBlock(base, tp);
  }
  W(base, F(usr, USR_TRV_COND)) = status;
}

void DSTransDkEnd(int32_t* base, int32_t usr) {
  const int32_t code = W(base, F(usr, USR_TRV_COND));
  const int32_t tp = W(base, F(usr, USR_TP));
  if (tp == 0 || W(base, F(tp, TP_TRANSACTION_STATE)) == 0) {
    W(base, F(usr, USR_TRV_COND)) = DU_NO_OPEN_TP;
    return;
  }
  const bool failed = W(base, F(tp, TP_TRANSACTION_STATE)) == 2;
  const int32_t mode = failed ? 1 : code;
  int32_t b[8] = {mode,
                  W(base, F(tp, TP_WS_QTBL)),
                  W(base, F(tp, TP_RS_QTBL)),
                  W(base, F(tp, TP_TSS)),
                  0,
                  W(base, F(tp, TP_ISOLATION_LEVEL)),
                  mode == 1 ? 0 : W(base, F(tp, TP_FLUSH_LOB_FLAG)),
                  0};
  DUKernel(DK_ETR1, b);
  W(base, F(tp, TP_WS_QTBL)) = b[1];
  W(base, F(tp, TP_TSS)) = b[3];
  const int32_t r = b[0];
  if (!(code == -2 && r != 1)) W(base, F(tp, TP_TRANSACTION_TYPE)) = 0;
  int32_t answer = r;
  if (r < 0)
    answer = KernelStatus(r);
  else if (failed && code != 1)
    answer = DU_FORCED_ROLLBACK;  // a commit asked for ran as the rollback of a failed transaction
  W(base, F(usr, USR_TRV_COND)) = answer;
}

void DSTransRollbackDk(int32_t* base, int32_t usr, int32_t mark) {
  const int32_t tp = W(base, F(usr, USR_TP));
  W(base, F(usr, USR_TRV_COND)) = 0;
  if (tp == 0 || W(base, F(tp, TP_TRANSACTION_STATE)) == 0) return;
  du::SetRequest b;
  int32_t rc = 0;
  du::QueueToRequest(base, tp, TP_WS_QBLKSIZ, b.data());
  b[0] = mark;
  b[13] = 0;
  b[14] = W(base, F(tp, TP_TSS));
  DUKernel(DK_RCM1, b.data());
  rc = b[0] < 0 ? b[0] : 0;
  for (int32_t field : {TP_WS_QBLKSIZ, TP_RS_QBLKSIZ}) {
    if (rc != 0) break;
    du::QueueToRequest(base, tp, field, b.data());
    b[0] = mark;
    DUKernel(DK_ROL1, b.data());
    if (b[0] < 0) rc = b[0];
    if (rc == 0) {
      W(base, F(tp, field + QD_PAGE)) = b[6];
      W(base, F(tp, field + QD_POS)) = b[7];
    }
  }
  if (rc == 0 && W(base, F(tp, TP_TRANSACTION_CHECK_COUNT)) > 0) {
    W(base, F(tp, TP_TRANSACTION_CHECK_COUNT)) = 0;
    du::QueueToRequest(base, tp, TP_CS_QBLKSIZ, b.data());
    b[0] = 1;
    b[5] = -1;
    DUKernel(DK_DRS1, b.data());
    if (b[0] < 0) rc = b[0];
    b[5] = W(base, F(tp, TP_CS_QTNAME));
    if (rc == 0) du::QueueFromRequest(base, tp, TP_CS_QBLKSIZ, b.data());
  }
  if (rc < 0) {
    W(base, F(usr, USR_TRV_COND)) = KernelStatus(rc);
    W(base, F(tp, TP_TRANSACTION_STATE)) = 2;
  }
}

int32_t DSGetTransState(int32_t* base, int32_t usr) {
  const int32_t tp = W(base, F(usr, USR_TP));
  return tp == 0 ? 0 : W(base, F(tp, TP_TRANSACTION_STATE));
}

void DSSetTransType(int32_t* base, int32_t usr, int32_t value) {
  const int32_t tp = W(base, F(usr, USR_TP));
  if (tp != 0) W(base, F(tp, TP_TRANSACTION_TYPE)) = value;
}

int32_t DSNextCursorOrder(int32_t* base, int32_t usr) {
  const int32_t tp = W(base, F(usr, USR_TP));
  if (tp == 0) return 1;
  return W(base, F(tp, TP_CURSOR_ORDER_COUNTER))++;
}

void DSSetCursorOrder(int32_t* base, int32_t usr, int32_t value) {
  W(base, F(usr, USR_CURSOR_ORDER_NUMBER)) = value;
}

int32_t DSGetTransScope(int32_t* base, int32_t usr) {
  const int32_t tp = W(base, F(usr, USR_TP));
  if (tp == 0 || W(base, F(tp, TP_TRANSACTION_STATE)) == 0) return 0;
  return W(base, F(tp, TP_TRANSACTION_SCOPE));
}

void DSSetTransScope(int32_t* base, int32_t* status, int32_t usr, int32_t scope) {
  *status = 0;
  const int32_t tp = W(base, F(usr, USR_TP));
  if (tp == 0) return;
  W(base, F(tp, TP_TRANSACTION_SCOPE)) = scope;
  if (scope != 3) return;
  int32_t record = W(base, F(tp, TP_DDLTRA));
  if (record == 0) {
    record = du::NewBlock(base, 52);
    if (record == 0) {
      *status = DU_NO_STORAGE;
      return;
    }
    W(base, F(tp, TP_DDLTRA)) = record;
    // The record's NEXT word keeps the view to go back to: 0 for view 3.
    W(base, record) = W(base, F(usr, USR_TRANSACTION_VIEW)) == 3 ? 0 : 1;
    W(base, F(usr, USR_TRANSACTION_VIEW)) = 2;
  }
  const int32_t mark = ++W(base, F(usr, USR_MARK_ID));
  DUWriteMark(base, usr, mark);
  if (W(base, F(usr, USR_TRV_COND)) < 0) {
    *status = W(base, F(usr, USR_TRV_COND));
    return;
  }
  W(base, F(record, 9)) = mark;
}

int32_t DSGetAutocommit(int32_t* base, int32_t usr) {
  return usr == 0 ? NO_AUTOMATIC_END : W(base, F(usr, USR_TRANSACTION_AUTOCOMMIT));
}
