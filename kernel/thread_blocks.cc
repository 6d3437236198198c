// DSCreateThr and DSFreeThr. The SYS semaphore guards the THR chain and
// THR_COUNT; statements are made and released without it.
#include "kernel/thread_blocks.h"

#include "kernel/control_blocks.h"
#include "kernel/debugger_sessions.h"
#include "kernel/statements.h"
#include "kernel/system_block.h"
#include "platform/enqdeq.h"
#include "platform/thread_slots.h"

namespace {

bool UnlinkThr(int32_t* base, int32_t sys, int32_t thr, int32_t* count_before) {
  EnqdeqGuard guard(&Wd(base, sys, SYS_S));
  for (int32_t at = sys + SYS_THR; sqlpool_word(base, at) != 0;
       at = sqlpool_word(base, at) + THR_NEXT) {
    if (sqlpool_word(base, at) == thr) {
      sqlpool_word(base, at) = Wd(base, thr, THR_NEXT);
      if (count_before != nullptr) *count_before = Wd(base, sys, SYS_THR_COUNT)--;
      return true;
    }
  }
  return false;
}

void CloseSlot(int32_t* base, int32_t usr, int32_t* slot) {
  if (*slot != 0) DSCloseStm(base, usr, slot);
  *slot = 0;
}

// Creates and opens the operator statements; the first failure.
int32_t OperatorStatements(int32_t* base, int32_t sys, int32_t thr, int32_t usr) {
  for (int32_t i = 0; i < 8; ++i) {
    const int32_t rc = DSCreateStmFromImage(base, usr, kOperatorImages[i],
                                            &Wd(base, thr, THR_STM_MOS_DATABANK + i));
    if (rc != 0) {
      for (int32_t k = 0; k < i; ++k)
        CloseSlot(base, usr, &Wd(base, thr, THR_STM_MOS_DATABANK + k));
      return rc;
    }
  }
  int32_t rc = DSOpenStm(base, 0, usr, Wd(base, thr, THR_STM_MOS_TABLEX));
  if (rc != 0) {
    CloseSlot(base, usr, &Wd(base, thr, THR_STM_MOS_TABLEX));
    return rc;
  }
  if (Wd(base, sys, SYS_MODE) == -242) return 0;
  for (int32_t i = 0; i < 8; ++i) {
    const int32_t slot = THR_STM_MOS_DATABANK + i;
    if (slot == THR_STM_MOS_TABLEX) continue;
    if (rc == 0) rc = DSOpenStm(base, 0, usr, Wd(base, thr, slot));
    if (rc != 0) CloseSlot(base, usr, &Wd(base, thr, slot));
  }
  return rc;
}

}  // namespace

void DSCreateThr(int32_t* base, int32_t* status, int32_t* thr_out) {
  const int32_t sys = KernelSys(base);
  if (sys == 0) {
    *status = KERNEL_NOT_STARTED;
    return;
  }
  int32_t thr = 0;
  DSGetMem(base, &thr, THR_BYTES);
  if (thr == 0) {
    *status = Wd(base, sys, SYS_RVEC) = SQLPOOL_EXHAUSTED_ERROR;
    return;
  }
  // THR_COUNT counts the blocks on the chain: a thread whose statements
  // failed stays there until DSFreeThr takes it off and counts it out.
  int32_t count;
  {
    EnqdeqGuard guard(&Wd(base, sys, SYS_S));
    Wd(base, thr, THR_NEXT) = Wd(base, sys, SYS_THR);
    Wd(base, sys, SYS_THR) = thr;
    count = ++Wd(base, sys, SYS_THR_COUNT);
  }
  StatusPair st;
  mdr_tls_set(&st, thr, TLS_SLOT_THR);
  if (st.rc != 0) {
    UnlinkThr(base, sys, thr, &count);
    DSGetMem(base, &thr, 0);
    *status = Wd(base, sys, SYS_RVEC) = KERNEL_THREAD_INIT_FAILED;
    return;
  }
  const int32_t usr = thr + THR_USR_START, lvl = thr + THR_LVL_START;
  Wd(base, usr, USR_USR) = usr;
  Wd(base, usr, USR_LVL) = lvl;
  Wd(base, usr, USR_CURSOR_ORDER_NUMBER) = 1;
  Wd(base, usr, USR_TRANSACTION_VIEW) = 2;
  Wd(base, lvl, LVL_USR) = usr;
  int32_t area = 0;
  DSGetMem(base, &area, CDITCB_BYTES);
  int32_t rc = 0;
  if (area == 0) {
    rc = Wd(base, usr, USR_RVEC_RCODE) = SQLPOOL_EXHAUSTED_ERROR;
  } else {
    Wd(base, thr, THR_CDITCB) = area;
    Wd(base, thr, THR_CDITCB_SIZE) = CDITCB_BYTES;
    rc = OperatorStatements(base, sys, thr, usr);
  }
  if (rc == 0) {
    if (count % 2 == 1 && count >= 3) {
      int32_t request[2] = {0, sys + SYS_USR_START};
      int32_t arg = 0;
      DSDBG2(base, request, DBG_CREATE, &arg);
      if (request[0] != 0) Wd(base, sys, SYS_RVEC) = request[0];
    }
  }
  if (rc != 0) {
    if (Wd(base, usr, USR_RVEC_RCODE) == 0) Wd(base, usr, USR_RVEC_RCODE) = rc;
    CopyResultVector(base, sys + SYS_RVEC, usr + USR_RVEC_RCODE);
  }
  *status = rc;
  *thr_out = thr;
}

void DSFreeThr(int32_t* base, int32_t* status) {
  const int32_t sys = KernelSys(base);
  if (sys == 0) {
    *status = KERNEL_NOT_STARTED;
    return;
  }
  StatusPair st;
  int32_t thr = 0;
  mdr_tls_get(&st, &thr, TLS_SLOT_THR);
  if (st.rc == 0) mdr_tls_set(&st, 0, TLS_SLOT_THR);
  if (st.rc != 0) {
    *status = Wd(base, sys, SYS_RVEC) = KERNEL_THREAD_INIT_FAILED;
    return;
  }
  int32_t before = 0;
  if (thr == 0 || !UnlinkThr(base, sys, thr, &before)) {
    *status = Wd(base, sys, SYS_RVEC) = THR_NOT_FOUND;
    return;
  }
  const int32_t usr = thr + THR_USR_START;
  for (int32_t slot = THR_STM_MOS_DATABANK; slot <= THR_STM_LV2_DTBDL2; ++slot)
    CloseSlot(base, usr, &Wd(base, thr, slot));
  int32_t area = Wd(base, thr, THR_CDITCB);
  if (area != 0) DSGetMem(base, &area, 0);
  DSGetMem(base, &thr, 0);
  *status = 0;
  if (before % 2 == 1 && before > 1 && Wd(base, sys, SYS_SYSTEM_STATUS) != 4) {
    int32_t request[2] = {0, sys + SYS_USR_START};
    int32_t arg = 0;
    DSDBG2(base, request, DBG_REMOVE_ONE, &arg);
    if (request[0] != 0) Wd(base, sys, SYS_RVEC) = request[0];
  }
}
