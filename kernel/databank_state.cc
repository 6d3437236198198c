// DSGetDbState: asks the databank kernel for the state of a copy (DKGDS1)
// and, for the first copy, reads its header's sequence number (DKROO1 code
// 1). Failures go to the session's result vector.
#include "kernel/databank_state.h"

#include "dk/databank_copies.h"
#include "dk/databank_file.h"
#include "dk/request.h"
#include "kernel/control_blocks.h"
#include "kernel/databank_control.h"
#include "kernel/system_block.h"

namespace {

void Fail(int32_t* base, int32_t* request, int32_t status, int32_t seqno) {
  request[DBSTATE_STATUS] = status;
  DSDatabankFailure(base, request[DBSTATE_USR], status, request[DBSTATE_LID], seqno);
}

}  // namespace

void DSGetDbState(int32_t* base, int32_t* request) {
  int32_t copy[CPY_WORDS] = {0, 0, request[DBSTATE_LID], request[DBSTATE_SEQNO]};
  DKEXE1(32, copy);
  const int32_t r = copy[CPY_MODE];
  if (r == 0 || r == -19) {
    request[DBSTATE_ENTRY] = copy[CPY_ENTRY];
    if (request[DBSTATE_SEQNO] == -1) {
      int32_t root[ROO_WORDS] = {1, copy[CPY_ENTRY], request[DBSTATE_LID]};
      root[ROO_SEQNO] = -1;
      DKEXE1(51, root);
      if (root[ROO_CODE] < 0) return Fail(base, request, root[ROO_CODE] - DK_STATUS_OFFSET, -1);
      request[DBSTATE_SEQNO] = root[ROO_SEQNO];
    }
  }
  if (r == 0) return;
  if (r > 0) {
    request[DBSTATE_STATUS] = r;
    return;
  }
  Fail(base, request, r == -19 ? DBSTATE_NEEDS_RESTORE : r - DK_STATUS_OFFSET,
       request[DBSTATE_SEQNO]);
}
