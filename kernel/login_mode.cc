// DSLoginMode, DSSetExclusive and the two no-operation requests.
#include "kernel/control_blocks.h"
#include "kernel/sessions.h"
#include "kernel/system_block.h"
#include "platform/enqdeq.h"

namespace {

constexpr int32_t kExclusiveKind = 5;
constexpr int32_t kCleanupBytes = 8;

}  // namespace

int32_t DSLoginMode(int32_t* base, int32_t mode) {
  const int32_t sys = KernelSys(base);
  if (sys == 0) return KERNEL_NOT_STARTED;
  if (mode != 1 && mode != 0 && mode != -1) return KERNEL_BAD_PARAMETER;
  EnqdeqGuard guard(&Wd(base, sys, SYS_S));
  if (mode != -1) Wd(base, sys, SYS_LOGIN_MODE) = mode;
  return Wd(base, sys, SYS_LOGIN_MODE);
}

void DSSetExclusive(int32_t* base, int32_t* params, int32_t take) {
  const int32_t sys = KernelSys(base);
  const int32_t usr = params[SES_PRM_USR];
  if (sys == 0) {
    params[SES_PRM_STATUS] = KERNEL_NOT_STARTED;
    return;
  }
  if (!InStorage(base, usr, USR_WORDS)) {
    params[SES_PRM_STATUS] = KERNEL_BAD_PARAMETER;
    return;
  }
  if (take == 1) {
    int32_t entry = 0;
    DSGetMem(base, &entry, kCleanupBytes);
    int32_t status = entry == 0 ? SQLPOOL_EXHAUSTED_ERROR : 0;
    if (status == 0) {
      EnqdeqGuard guard(&Wd(base, sys, SYS_S));
      if (Wd(base, sys, SYS_USECOUNT) > 1)
        status = EXCLUSIVE_OTHERS_CONNECTED;
      else
        Wd(base, sys, SYS_SYSTEM_EXCLUSIVE) = 1;
    }
    if (status == 0) {
      Wd(base, entry, 1) = kExclusiveKind;
      Wd(base, entry, 0) = Wd(base, usr, USR_CLN);
      Wd(base, usr, USR_CLN) = entry;
    } else {
      if (entry != 0) DSGetMem(base, &entry, 0);
      Wd(base, usr, USR_RVEC_RCODE) = status;
    }
    params[SES_PRM_STATUS] = status;
    return;
  }
  for (int32_t at = usr + USR_CLN, steps = 0; sqlpool_word(base, at) != 0 && steps < (1 << 20);
       at = sqlpool_word(base, at), ++steps) {
    int32_t e = sqlpool_word(base, at);
    if (!InStorage(base, e, 2)) break;
    if (Wd(base, e, 1) != kExclusiveKind) continue;
    sqlpool_word(base, at) = Wd(base, e, 0);
    DSGetMem(base, &e, 0);
    break;
  }
  {
    EnqdeqGuard guard(&Wd(base, sys, SYS_S));
    Wd(base, sys, SYS_SYSTEM_EXCLUSIVE) = 0;
  }
  params[SES_PRM_STATUS] = 0;
}

void DSReqCode35(int32_t*, int32_t* params) {
  params[SES_PRM_STATUS] = 0;
}

void DSReqCode36(int32_t*, int32_t* params) {
  params[SES_PRM_STATUS] = 0;
}
