// DSStartDb and DSStopDb: the database kernel started and stopped by
// request (see kernel_begin.h).
#include <atomic>
#include <cstring>

#include "dk/request.h"
#include "kernel/control_blocks.h"
#include "kernel/control_tables.h"
#include "kernel/databank_control.h"
#include "kernel/kernel_begin.h"
#include "kernel/system_block.h"
#include "kernel/thread_blocks.h"
#include "kernel/upper_services.h"
#include "kernel/xa_branches.h"
#include "platform/enqdeq.h"
#include "platform/thread_slots.h"

namespace {

constexpr int32_t kDatabankKernelBias = 18900;

void SetSystemStatus(int32_t* base, int32_t sys, int32_t status, int32_t action) {
  EnqdeqGuard guard(&Wd(base, sys, SYS_S));
  Wd(base, sys, SYS_SYSTEM_STATUS) = status;
  if (action != 0) Wd(base, sys, SYS_GBS_ACTION) = action;
}

// Steps 3-6 of the start once SYS exists; the status, with `failed` set
// when the start must end in SYSTEM_STATUS -2.
int32_t StartSteps(int32_t* base, int32_t sys, const int32_t* block, bool* failed) {
  const int32_t mlen = block[STB_MLEN], dlen = block[STB_DLEN];
  const char* texts = reinterpret_cast<const char*>(block) + STB_TEXT_BYTE;
  Wd(base, sys, SYS_MLEN) = mlen;
  Wd(base, sys, SYS_DLEN) = dlen;
  std::memcpy(&Wd(base, sys, SYS_MULTIDIR), texts, mlen);
  std::memcpy(&Wd(base, sys, SYS_DATABASE), texts + mlen, dlen);
  int32_t check[8] = {};
  DKEXE1(DKF_BEG1, check);
  if (check[0] < 0) {
    *failed = true;
    return Wd(base, sys, SYS_RVEC) = check[0] - kDatabankKernelBias;
  }
  int32_t status = 0;
  DSOpenSysdb(base, &status);
  if (status >= 0) {
    int32_t thr = 0;
    DSCreateThr(base, &status, &thr);
    if (status != 0) {
      if (InStorage(base, thr, THR_WORDS) && Wd(base, thr + THR_USR_START, USR_RVEC_RCODE) != 0)
        CopyResultVector(base, sys + SYS_RVEC, thr + THR_USR_START + USR_RVEC_RCODE);
      else if (Wd(base, sys, SYS_RVEC) == 0)
        Wd(base, sys, SYS_RVEC) = status;
      *failed = true;
      return status;
    }
    DSBEG2(base, &status, Wd(base, sys, SYS_MODE));
  }
  if (status >= 0) {
    SetSystemStatus(base, sys, 0, 1);
    return status;
  }
  int32_t state = 0, result[SES_WORDS] = {};
  DSSysErrState(base, &state, result);
  const int32_t e = Wd(base, sys, SYS_RVEC);
  if (Wd(base, sys, SYS_MODE) == -242 && (e == -16142 || e == TRANSDB_OPEN_FAILED) &&
      Wd(base, sys, SYS_RVEC_LID) == 2) {
    SetSystemStatus(base, sys, 0, 1);
    return status;
  }
  return state == -1 ? 0 : status;
}

}  // namespace

void DSStartDb(int32_t* base, int32_t* block, int32_t block_bytes) {
  int32_t status = DSChkBlkData();
  if (status != 0) {
    block[STB_MODE] = status;
    return;
  }
  // The texts must lie inside the block and their fields.
  const int64_t mlen = block_bytes >= STB_TEXT_BYTE ? block[STB_MLEN] : -1;
  const int64_t dlen = block_bytes >= STB_TEXT_BYTE ? block[STB_DLEN] : -1;
  if (mlen < 0 || dlen < 0 || mlen > STB_MULTIDIR_BYTES || dlen > STB_DATABASE_BYTES ||
      STB_TEXT_BYTE + mlen + dlen > block_bytes) {
    block[STB_MODE] = KERNEL_BAD_PARAMETER;
    return;
  }
  const int32_t given = block[STB_MODE];
  status = given == 242 || given == -242 ? given : 1;
  DSInitSys(base, &status);
  const int32_t sys = KernelSys(base);
  if (sys == 0) {
    block[STB_MODE] = status;
    return;
  }
  bool failed = status != 0;
  KernelInstallDkStorageAccess(base);
  if (failed)
    Wd(base, sys, SYS_RVEC) = status;
  else
    status = StartSteps(base, sys, block, &failed);
  if (failed) SetSystemStatus(base, sys, -2, 0);
  block[STB_MODE] = status;
}

void DSStopDb(int32_t* base, int32_t* status) {
  const int32_t sys = KernelSys(base);
  if (sys == 0) {
    *status = STOP_NOT_STARTED;
    return;
  }
  SetSystemStatus(base, sys, 4, 0);
  DSXAFreeAll(base, sys);
  StatusPair st;
  mdr_tls_set(&st, 0, TLS_SLOT_CHA);
  int32_t rc = 0;
  DSFreeCtlTables(base, &rc, 0);
  UpInfoFree(base, &Wd(base, sys, SYS_ERROR_TRANSLATION_TABLE));
  if (InStorage(base, CurrentThread(), THR_WORDS)) DSFreeThr(base, &rc);
  const int32_t usr = sys + SYS_USR_START;
  if (int32_t pfu = Wd(base, usr, USR_PFUREC); pfu != 0) DSGetMem(base, &pfu, 0);
  Wd(base, usr, USR_PFUREC) = 0;
  {
    EnqdeqGuard guard(&Wd(base, sys, SYS_S));
    for (int32_t field : {SYS_TCB_LIST, SYS_ICB_LIST, SYS_LVL2_DDRL, SYS_DCB_LIST,
                          SYS_LVL2_OTCB, SYS_CHA_LIST, SYS_SHP_PSM_LIST, SYS_SHP_SQL_LIST,
                          SYS_GSEQ_LIST}) {
      int32_t list = Wd(base, sys, field);
      if (list != 0) DSGetMem(base, &list, 0);
      Wd(base, sys, field) = 0;
    }
  }
  UpInfoClear(base, Wd(base, sys, SYS_SIIA));
  std::atomic_ref<int32_t>(base[sqlpool::RESERV]).store(0, std::memory_order_release);
  int32_t block = sys;
  DSGetMem(base, &block, 0);
  KernelInstallDkStorageAccess(nullptr);
  *status = 0;
}
