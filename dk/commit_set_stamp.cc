// The post-processing flush (DKFPQ1): the header of the last transaction of
// a secured run is stamped with how far commits are secured, so that the
// restart of the TRANS databank replays only the commits after the stamp
// and never applies a secured commit twice.
#include <vector>

#include "dk/bufferpool.h"
#include "dk/commit_write_set.h"
#include "dk/control_area.h"
#include "dk/error_log.h"
#include "dk/set_pages.h"
#include "dk/set_requests.h"
#include "dk/set_table.h"
#include "dk/table_entries.h"
#include "dk/transactions.h"
#include "platform/enqdeq.h"

namespace {

int32_t Report(int32_t rc, int32_t value) {
  DKReportError(dkset::RoutineIndex("DKFPQ1"), rc, DK_SEV_INTERNAL, &value,
                LoadWord(BP_TRANS_DATABANK));
  return rc;
}

}  // namespace

int32_t DKFPQ1(int32_t last) {
  int32_t* a = Bufferpool();
  const int32_t table = LoadWord(BP_COMMIT_SET_TBL);
  if (!DKIsTssEntry(last) || !dkset::IsTableEntry(table)) return -43;
  // Appends and the trim change the commit set's pages under this lock.
  EnqdeqGuard guard(a + BP_LOCK_COMMIT_SET);
  CountWord(BP_POSTPROC_FLUSH_COUNT);
  std::vector<int32_t> b(SETRQ_RECORD + SetMaxRecordWords(kCommitSetPageSize), 0);
  b[SETRQ_TABLE] = table;
  b[SETRQ_TBL] = a[table + TBE_TBL];
  b[SETRQ_PAGE] = a[last + TSS_END_PAGE];
  b[SETRQ_POSITION] = a[last + TSS_END_POS];
  b[SETRQ_RC] = 2;
  const int32_t rc = DKGXN0(b);
  if (rc < 0) return rc;
  const int32_t length = rc == 0 ? b[SETRQ_LENGTH] : 0;
  if (length < 1 || b[SETRQ_RECORD + WS_CODE] != kCodeHeader)
    return Report(-86, length < 1 ? 0 : b[SETRQ_RECORD + WS_CODE]);
  if (length <= WSH_STAMP || b[SETRQ_RECORD + WSH_PREPARE] != a[last + TSS_PREPARE])
    return Report(-87, length <= WSH_PREPARE ? 0 : b[SETRQ_RECORD + WSH_PREPARE]);
  const int32_t stamp = LoadWord(BP_SECURED_TRANS_NUMBER) - 1;
  b[SETRQ_RECORD + WSH_STAMP] = stamp;
  // Only the words up to the stamp are rewritten, in place.
  b[SETRQ_RC] = 0;
  b[SETRQ_PAGE] = a[last + TSS_END_PAGE];
  b[SETRQ_POSITION] = a[last + TSS_END_POS];
  b[SETRQ_LENGTH] = WSH_STAMP + 1;
  if (int32_t u = DKUOS0(b); u < 0) return u;
  DKLock(BP_LOCK_WS_POSTPROC);
  if (a[BP_RESTART_TRANS_NUMBER] < stamp) a[BP_RESTART_TRANS_NUMBER] = stamp;
  DKUnlock(BP_LOCK_WS_POSTPROC);
  return 0;
}
