// DSXAB2: at database begin, the branches whose heuristic decision the
// databank kernel keeps in its table 5 are linked again, released, in the
// decided state (56 committed, 57 rolled back).
#include <cstring>

#include "dk/kernel_table.h"
#include "dk/request.h"
#include "kernel/control_blocks.h"
#include "kernel/databank_control.h"
#include "kernel/error_report.h"
#include "kernel/system_block.h"
#include "kernel/xa_branches.h"

namespace {

constexpr int32_t kKernelTableCode = 63;
constexpr int32_t kRecordEnd = 4;

}  // namespace

void DSXAB2(int32_t* base, int32_t* status) {
  const int32_t sys = KernelSys(base);
  if (sys == 0) {
    *status = KERNEL_NOT_STARTED;
    return;
  }
  if (!InStorage(base, CurrentThread(), THR_WORDS)) {
    *status = Wd(base, sys, SYS_RVEC) = DCB_NO_THREAD;
    return;
  }
  *status = 0;
  int32_t block[MHT_WORDS + 8] = {};
  for (int32_t function = MHT_FIRST;; function = MHT_AFTER) {
    block[MHT_FUNCTION] = function;
    block[CUR_PAGE] = 0;
    DKEXE1(kKernelTableCode, block);
    // A refusal of the dispatcher stands in word 0, the fetch's in word 5.
    const int32_t rc = block[CUR_PAGE] < 0 ? block[CUR_PAGE] : block[MHT_FUNCTION];
    if (rc == kRecordEnd) return;
    if (rc != 0) {
      DSErrRep("DSXAB2", 6, rc < 0 ? rc - DK_ERROR_BIAS : rc, SEV_ERROR);
      return;
    }
    const int32_t* record = block + CUR_RECORD;
    const int32_t state = record[XAREC_STATE];
    if (state != XA_HEURISTIC_COMMIT && state != XA_HEURISTIC_ROLLBACK) continue;
    int32_t xid[XID_WORDS] = {};
    xid[XID_FORMAT] = record[XAREC_FORMAT];
    xid[XID_GTRID_LENGTH] = record[XAREC_GTRID_LENGTH];
    xid[XID_BQUAL_LENGTH] = record[XAREC_BQUAL_LENGTH];
    std::memcpy(xid + XID_DATA, record, XID_MAX_BYTES);
    const int32_t r = DSXAAddDecided(base, xid, state);
    if (r != 0) DSErrRep2("DSXAB2", 6, r, SEV_ERROR, xid + XID_FORMAT, 3);
  }
}
