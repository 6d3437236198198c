// The making of a databank copy as committed write sets record it: its
// start (DKSDC1, write-set record 25) takes the copy offline while it is
// filled, its end (DKEDC1, record 26) brings it back, runs the work its
// restart set owes it and gives it its new SEQNO.
#include "dk/copy_making.h"

#include <algorithm>

#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/databank_copies.h"
#include "dk/databank_file.h"
#include "dk/databank_restart.h"
#include "dk/error_log.h"
#include "dk/request.h"
#include "dk/set_pages.h"
#include "dk/table_entries.h"
#include "platform/enqdeq.h"

namespace {

using dkset::RoutineIndex;

int32_t Report(const char* routine, int32_t rc, int32_t value, int32_t databank) {
  DKReportError(RoutineIndex(routine), rc, DK_SEV_ERROR, &value, databank);
  return rc;
}

// The copy of `did` with `seqno`, found under the databank hash lock; 0
// when there is none.
int32_t CopyOf(int32_t did, int32_t seqno) {
  int32_t* a = Bufferpool();
  EnqdeqGuard guard(a + BP_LOCK_DATABANK_HASH);
  const int32_t limit = LoadWord(BP_DATABANK_COUNT);
  int32_t at = DKHMI0(LoadWord(BP_DATABANK_HASH), did);
  for (int32_t n = 0; DKIsDatabankEntry(at) && n < limit; at = a[at + DBE_DEPENDENT], ++n)
    if (a[at + DBE_SEQNO] == seqno) return at;
  return 0;
}

}  // namespace

int32_t DKPutCopyOnline(int32_t did, int32_t seqno, int32_t order) {
  int32_t request[CPY_WORDS] = {};
  request[CPY_MODE] = order;
  request[CPY_DID] = did;
  request[CPY_SEQNO] = seqno;
  DKCallEntry(49, request, nullptr);  // DKRED1
  // 1: the copy was online already, so nothing is owed to it.
  if (request[CPY_MODE] != 0) return std::min(request[CPY_MODE], 0);
  int32_t restart[RSD_WORDS] = {};
  restart[RSD_MODE] = order;
  restart[RSD_ENTRY] = request[CPY_ENTRY];
  restart[RSD_DID] = did;
  return std::min(DKRSD1(restart), 0);
}

int32_t DKSDC1(int32_t did, int32_t seqno) {
  // The TRANS databank's copies are made from the commit set's own work.
  if (did == 2) return 0;
  int32_t* a = Bufferpool();
  const int32_t copy = CopyOf(did, seqno);
  if (copy == 0) return Report("DKSDC1", -47, seqno, DKFindDatabank(did));
  EnqdeqGuard guard(a + BP_LOCK_DATABANK_HASH);
  a[copy + DBE_OFFLINE] = 1;
  a[copy + DBE_OFFLINE_COPY] = 1;
  return 0;
}

int32_t DKEDC1(int32_t did, int32_t seqno, int32_t new_seqno, int32_t order) {
  int32_t* a = Bufferpool();
  const int32_t copy = CopyOf(did, seqno);
  if (copy == 0) return Report("DKEDC1", -47, seqno, DKFindDatabank(did));
  {
    EnqdeqGuard guard(a + BP_LOCK_DATABANK_HASH);
    a[copy + DBE_OFFLINE_COPY] = 0;
  }
  // The tables of a TRANS or LOG copy are made current from the first copy
  // before its restart set runs.
  if (did == 2 || did == 3) {
    int32_t current[OCD_WORDS] = {};
    current[OCD_COUNT] = 1;
    current[OCD_SEQNO] = seqno;
    current[OCD_FIRST_DID] = did;
    if (int32_t rc = DKOCD1(current); rc < 0) return rc;
  }
  int32_t restart[RSD_WORDS] = {};
  restart[RSD_MODE] = order;
  restart[RSD_ENTRY] = copy;
  restart[RSD_DID] = did;
  if (int32_t rc = DKRSD1(restart); rc < 0) return rc;
  if (new_seqno == -1) return 0;
  int32_t roo[ROO_WORDS] = {};
  roo[ROO_CODE] = 13;
  roo[ROO_DATABANK] = copy;
  roo[ROO_SEQNO] = -1;
  roo[ROO_NEW_SEQNO] = new_seqno;
  return DKROO1(roo);
}
