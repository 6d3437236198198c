// DSSysErrState: what a failed start leaves the database to do, by the
// error, the failing databank and the type of the failing file.
#include <atomic>

#include "dk/databank_copies.h"
#include "dk/request.h"
#include "kernel/control_blocks.h"
#include "kernel/kernel_begin.h"
#include "kernel/system_block.h"
#include "platform/enqdeq.h"

namespace {

// The LOG databank's first failure with files opened asks for a check (8),
// the next one for a restore (3); every other outcome of that case starts
// the alternation again.
std::atomic<bool> g_log_retry{false};

bool IsDatabankError(int32_t e) {
  switch (e) {
    case -16141:
    case -16142:
    case -16143:
    case -16147:
    case -16148:
    case -16149:
    case -16159:
    case -16182:
    case -16187:
    case -16193:
    case -18012:
      return true;
    default:
      return false;
  }
}

// The state of the TRANS databank's failing copy from the databank kernel.
int32_t TransCopyAction(int32_t seqno) {
  int32_t copy[CPY_WORDS] = {0, 0, 2, seqno};
  DKEXE1(32, copy);
  const int32_t r = copy[CPY_MODE];
  if (r < 0) return 4;
  return r == 0 ? 8 : r == 1 ? 6 : 5;
}

int32_t Classify(int32_t e, int32_t l, int32_t a, int32_t counter, int32_t seqno) {
  const bool copy = a == 5 || a == 6;
  if (e == 0) return 1;
  if (e == -16150 || e == -16160 || e == -16144) return a == 5 ? 3 : 4;
  if (e == -18013) return 8;
  if (!IsDatabankError(e)) return 4;
  switch (l) {
    case 1:
      if (e == -16159) return a == 5 ? 3 : 7;
      return copy ? 3 : 4;
    case 2:
      if (e == -18012) return 9;
      return copy ? 3 : TransCopyAction(seqno);
    case 3: {
      if (copy || counter == 0) {
        g_log_retry.store(false);
        return copy ? 3 : 5;
      }
      const bool again = g_log_retry.load();
      g_log_retry.store(!again);
      return again ? 3 : 8;
    }
    case 4:
      return 5;
    default:
      return 1;
  }
}

}  // namespace

void DSSysErrState(int32_t* base, int32_t* status, int32_t* result) {
  const int32_t sys = KernelSys(base);
  if (sys == 0) {
    result[SES_ACTION] = 4;
    result[SES_FLAG] = 1;
    *status = -2;
    return;
  }
  EnqdeqGuard guard(&Wd(base, sys, SYS_S));
  const int32_t e = Wd(base, sys, SYS_RVEC);
  result[SES_RVEC] = e;
  result[SES_LID] = Wd(base, sys, SYS_RVEC_LID);
  result[SES_SEQNO] = Wd(base, sys, SYS_RVEC_SEQNO);
  result[SES_ATTRIBUTE] = Wd(base, sys, SYS_RVEC_ATTRIBUTE);
  if (Wd(base, sys, SYS_SYSTEM_STATUS) == 0) {
    result[SES_ACTION] = 1;
    result[SES_FLAG] = 2;
    *status = 0;
    return;
  }
  const int32_t action = Classify(e, result[SES_LID], result[SES_ATTRIBUTE],
                                  Wd(base, sys, SYS_RVEC_COUNTER), result[SES_SEQNO]);
  const int32_t state = action == 1 ? 0 : action == 2 || action == 4 ? -2 : -1;
  Wd(base, sys, SYS_GBS_ACTION) = action;
  Wd(base, sys, SYS_SYSTEM_STATUS) = state;
  result[SES_ACTION] = action;
  result[SES_FLAG] = 1;
  *status = state;
}
