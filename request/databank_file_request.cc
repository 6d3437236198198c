// DSExecRoutine (see databank_file_request.h).
#include "request/databank_file_request.h"

#include <cstring>

#include "dk/databank_copies.h"
#include "dk/request.h"
#include "du/transactions.h"
#include "kernel/catalog_queries.h"
#include "kernel/control_blocks.h"
#include "kernel/databank_control.h"
#include "kernel/system_block.h"
#include "kernel/table_use.h"
#include "request/databank_requests.h"

namespace {

constexpr int32_t kDKGDS1 = 32;
constexpr int32_t kAskOffline = 1;  // DKGDS1: the copy's offline flag
constexpr int32_t kTransActive = 1;
constexpr int32_t kCloseFailed = -22;  // DKCLD1 after a failure

bool SystemId(int32_t id) { return id >= 1 && id <= 3; }

// A failure in the session's result vector (the databank and `seqno`).
int32_t Record(int32_t* base, int32_t usr, int32_t id, int32_t status, int32_t seqno) {
  DSDatabankFailure(base, usr, status, id, seqno);
  return status;
}

// The kernel core's file request `mode` on the block, option 5.
int32_t FileRequest(int32_t* base, int32_t* block, int32_t mode) {
  block[ODF_MODE] = mode;
  block[ODF_TYPE] = XR_OPTION;
  DSOpenSesDb(base, block);
  return block[ODF_MODE];
}

// Inside an active transaction the databank gets the session's TRS entry.
int32_t TransactionEntry(int32_t* base, int32_t usr, int32_t id) {
  if (DSGetTransState(base, usr) != kTransActive) return 0;
  int32_t look[OPD_WORDS] = {5, id};
  DSCallCentral(base, look);
  if (look[OPD_KIND] != 0 || look[OPD_DCB] == 0) return DCB_NOT_FOUND;
  return SessionTrs(base, usr, look[OPD_DCB], true) != 0 ? 0 : SQLPOOL_EXHAUSTED_ERROR;
}

// Steps 3 to 7 over an open databank: the result (0 or 1), or a failure
// already in the result vector.
int32_t EnterFile(int32_t* base, int32_t* block, int32_t usr, int32_t id, int32_t type_flag) {
  const int32_t seqno = block[ODF_SEQNO];
  // The catalog's file name of the sequence number, from the thread's
  // databank statement run under the thread's own session.
  uint8_t names[OBJECT_NAME_SECOND + 256];
  const int32_t found = DSGetObjectName(base, seqno, id, names, sizeof names);
  if (found != 0)
    return Record(base, usr, id, found == NAME_NOT_FOUND ? DCB_NO_ROW : found, -1);
  std::memcpy(block + ODF_FILE, names + OBJECT_NAME_SECOND, 256);

  int32_t r = FileRequest(base, block, XR_TRY_FILE);
  if (r != 0) return Record(base, usr, id, r, seqno);

  int32_t ask[CPY_WORDS] = {kAskOffline, 0, id, seqno};
  DKEXE1(kDKGDS1, ask);
  if (ask[CPY_MODE] < 0) return Record(base, usr, id, ask[CPY_MODE] - DK_ERROR_BIAS, seqno);
  if (ask[CPY_MODE] == 0) return XR_NOT_MARKED;

  if (DSGetTransState(base, usr) == 0) return Record(base, usr, id, UTIL_NO_TRANSACTION, -1);
  int32_t open[2] = {0, usr};
  int32_t table[TRQ_WORDS] = {};
  table[TRQ_KIND] = XR_RECORD_KIND;
  table[TRQ_LID] = id;
  int32_t description[8] = {id, seqno};
  DSOpenTable(base, open, table, description);
  if (open[0] != 0) return Record(base, usr, id, open[0], -1);
  DSSetTransType(base, usr, type_flag > 0 ? XR_TYPE_FLAGGED : XR_TYPE_PLAIN);
  return 0;
}

}  // namespace

void DSExecRoutine(int32_t* base, int32_t* block) {
  if (KernelSys(base) == 0) {
    block[0] = KERNEL_NOT_STARTED;
    return;
  }
  const int32_t usr = block[1], id = block[ODF_LID], seqno = block[ODF_SEQNO];
  if (!InStorage(base, usr, USR_WORDS)) {
    block[0] = KERNEL_BAD_PARAMETER;
    return;
  }
  const int32_t type_flag = block[0];
  block[0] = 0;

  // Step 2: the open.
  bool by_request = false;
  int32_t result = 0;
  if (SystemId(id)) {
    if (const int32_t r = FileRequest(base, block, XR_OPEN_SYSTEM); r != 0) {
      block[0] = Record(base, usr, id, r, -1);
      return;
    }
    if (const int32_t r = TransactionEntry(base, usr, id); r != 0)
      result = Record(base, usr, id, r, -1);
    else
      result = EnterFile(base, block, usr, id, type_flag);
  } else {
    int32_t open[DBR_WORDS] = {3, usr, id, -1, -1};
    DSOpenDbReq(base, open);
    if (open[DBR_STATUS] == 0) {
      by_request = true;
      result = EnterFile(base, block, usr, id, type_flag);
    } else {
      // A databank its request cannot open (offline, say) is taken by the
      // file request itself; its files are not looked at.
      if (const int32_t r = FileRequest(base, block, XR_OPEN_OFFLINE); r != 0) {
        block[0] = Record(base, usr, id, r, -1);
        return;
      }
      if (const int32_t r = TransactionEntry(base, usr, id); r != 0)
        result = Record(base, usr, id, r, -1);
    }
  }

  // Step 8: the release. The reference DSOpenDbReq took is given back. A
  // databank the file request opened keeps its block; after a failure the
  // copy a system databank's request opened is closed in the databank
  // kernel alone: the kernel core's close of any mode but 0 would take the
  // system databank's block away from every session.
  int32_t release = 0;
  if (by_request) {
    int32_t close[DBR_WORDS] = {0, usr, id, -1};
    DSCloseDbReq(base, close);
    release = close[DBR_STATUS];
  } else if (!(result < 0 && SystemId(id))) {
    int32_t close[CLS_WORDS] = {0, id, seqno};
    DSCloseDcb(base, close);
    release = close[CLS_MODE];
  } else {
    int32_t close[4] = {kCloseFailed, 0, id, seqno};
    DKEXE1(DKF_CLD1, close);
  }
  // Step 9: after a success the release's failure is the result.
  if (result >= 0 && release != 0) result = Record(base, usr, id, release, -1);
  block[0] = result;
}
