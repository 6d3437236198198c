// DSXAB2: at database begin, the branches of the last run that still wait
// for their outcome are linked again, released: the transactions the
// databank kernel re-created in doubt (prepared, state 54, each with a TP
// of the kernel's transaction) and the heuristic decisions it keeps in its
// table 5 (56 committed, 57 rolled back).
#include <cstring>

#include "dk/in_doubt_transactions.h"
#include "dk/kernel_table.h"
#include "dk/request.h"
#include "dk/word_storage_access.h"
#include "kernel/control_blocks.h"
#include "kernel/databank_control.h"
#include "kernel/error_report.h"
#include "kernel/system_block.h"
#include "kernel/word_storage.h"
#include "kernel/xa_branches.h"

namespace {

constexpr int32_t kKernelTableCode = 63;
constexpr int32_t kInDoubtListCode = 57;
constexpr int32_t kRecordEnd = 4;

// The blocks of tables the in-doubt list hands over go back to the storage.
void FreeTableBlocks(int32_t first) {
  for (int32_t at = first, n = 0; at != 0 && n < (1 << 20); ++n) {
    const int32_t* w = DKStorageWords(at, kTableBlockWords);
    const int32_t next = w ? w[TBLK_NEXT] : 0;
    DKStorageRelease(at);
    at = next;
  }
}

// A branch in state 54 for a transaction in doubt: a new TP names the
// kernel's transaction (its start number and entry); the databank kernel
// keeps its changes until the outcome. 0 or the error to report.
int32_t LinkPrepared(int32_t* base, const int32_t* xid, const int32_t* listed) {
  int32_t tp = 0;
  DSGetMem(base, &tp, TP_BYTES);
  if (tp == 0) return SQLPOOL_EXHAUSTED_ERROR;
  Wd(base, tp, TP_TRANSACTION_NUMBER) = listed[EPT_START];
  Wd(base, tp, TP_TSS) = listed[EPT_TSS];
  Wd(base, tp, TP_TRANSACTION_STATE) = 1;
  Wd(base, tp, TP_AUTOCOMMIT) = XA_TP_AUTOCOMMIT;
  const int32_t r = DSXAAddDecided(base, xid, XA_PREPARED, tp);
  if (r != 0) DSGetMem(base, &tp, 0);
  return r;
}

// Step 2: the transactions in doubt, one by one. 0 or the begin's error.
int32_t RebuildPrepared(int32_t* base) {
  int32_t block[EPT_WORDS] = {};
  block[EPT_STATUS] = 1;
  uint8_t kept[kMaxIdentifierBytes];
  for (int32_t n = 0; n < (1 << 20); ++n) {
    DKEXE2(kInDoubtListCode, block, kept);
    const int32_t rc = block[EPT_STATUS];
    if (rc == 1) return 0;
    FreeTableBlocks(block[EPT_TABLES]);
    block[EPT_TABLES] = 0;
    if (rc != 0) return rc < 0 ? rc - DK_ERROR_BIAS : rc;
    block[EPT_STATUS] = 0;
    int32_t xid[XID_WORDS];
    if (!XAFromKept(kept, block[EPT_IDENTIFIER_LENGTH], xid)) {
      // Not prepared by a branch: the transaction waits for its outcome
      // from whoever prepared it.
      DSErrRep2("DSXAB2", 6, XA_BAD_IDENTIFIER, SEV_ERROR, block + EPT_START, 1);
      continue;
    }
    const int32_t r = LinkPrepared(base, xid, block);
    if (r != 0) DSErrRep2("DSXAB2", 6, r, SEV_ERROR, xid + XID_FLAGS, 8);
  }
  return 0;
}

// Step 3: the heuristic decisions. An error is reported; the begin goes on.
void RebuildDecided(int32_t* base) {
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
    if (r != 0) DSErrRep2("DSXAB2", 6, r, SEV_ERROR, xid + XID_FLAGS, 8);
  }
}

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
  *status = RebuildPrepared(base);
  if (*status != 0) {
    Wd(base, sys, SYS_RVEC) = *status;
    return;
  }
  RebuildDecided(base);
}
