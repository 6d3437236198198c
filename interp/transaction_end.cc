// DSEndSessionTransaction and DSEndTransactionStatement (see transaction_end.h).
#include "interp/transaction_end.h"

#include "du/transactions.h"
#include "kernel/control_blocks.h"
#include "kernel/system_block.h"

namespace interp {
namespace {

constexpr int32_t kErrXaBranch = -14013;
constexpr int32_t kEndCommitClient = 1962;
constexpr int32_t kEndRollback = 87;
constexpr int32_t kStartedHere = 82;
constexpr int32_t kScopeBackup = 4;
constexpr int32_t kStatusRunning = 3;

}  // namespace

int32_t DSCheckXaBranch(int32_t* base, int32_t usr) {
  const int32_t tp = Wd(base, usr, USR_TP);
  return Wd(base, usr, USR_XAENT) != 0 && tp != 0 && InStorage(base, tp, TP_WORDS) &&
                 Wd(base, tp, TP_FTR_START) != kStartedHere
             ? kErrXaBranch
             : 0;
}

int32_t DSEndSessionTransaction(int32_t* base, int32_t usr, bool commit) {
  if (!InStorage(base, usr, USR_WORDS)) return KERNEL_BAD_PARAMETER;
  if (const int32_t rc = DSCheckXaBranch(base, usr)) return rc;
  if (DSGetTransScope(base, usr) == kScopeBackup) return 0;
  int32_t pb[3] = {commit ? kEndCommitClient : kEndRollback, usr, 0};
  DSEndTrans(base, pb);
  return pb[0];
}

int32_t DSEndTransactionStatement(int32_t* base, int32_t usr, int32_t stm, bool commit) {
  const int32_t status = DSEndSessionTransaction(base, usr, commit);
  if (status != 0) {
    if (InStorage(base, usr, USR_WORDS)) Wd(base, usr, USR_RVEC_RCODE) = status;
    return status;
  }
  if (Wd(base, usr, USR_TRANSACTION_ENDED) == 0) Wd(base, usr, USR_TRANSACTION_ENDED) = 1;
  for (int32_t s = stm, steps = 0; s != 0 && steps < (1 << 16); ++steps) {
    if (!InStorage(base, s, STM_WORDS)) break;
    Wd(base, s, STM_STATUS) = kStatusRunning;
    s = Wd(base, s, STM_CALLING_STM);
  }
  return 0;
}

}  // namespace interp
