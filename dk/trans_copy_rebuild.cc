// The rebuild of a copy of the TRANS databank (DKRET1): the copy's tables
// are forgotten, the copy checked, and the sets of the TRANS databank and
// its kernel table 5 copied into it again, so that a copy that missed
// commits while it was away comes back equal to the TRANS databank.
#include <vector>

#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/databank_format.h"
#include "dk/databank_restart.h"
#include "dk/databank_verification.h"
#include "dk/error_log.h"
#include "dk/request.h"
#include "dk/set_pages.h"
#include "dk/set_requests.h"
#include "dk/set_table.h"
#include "dk/shadow_copy.h"
#include "dk/table_cursor.h"
#include "dk/table_entries.h"
#include "platform/enqdeq.h"

namespace {

constexpr int32_t kKernelTable = 5;  // the kernel's own table in TRANS

int32_t Index() {
  static const int32_t index = dkset::RoutineIndex("DKRET1");
  return index;
}

int32_t Report(int32_t rc, int32_t severity, int32_t value, int32_t databank) {
  DKReportError(Index(), rc, severity, &value, databank);
  return rc;
}

// Sets the header's close mark and, on the page that holds the copy's table
// root entries (for TRANS the page its header's word 4 names), clears every
// root entry and the link to further root pages; each page written at once.
int32_t ForgetTables(int32_t copy, int32_t close_mark) {
  int32_t rq[REQ_WORDS];
  const int32_t h = GetUnitPage(copy, kHeaderUnit, GET_UPDATE, rq);
  if (h < 0) return h;
  uint8_t* header = PageBytes(h);
  SetPageWord(header, HDR_CLOSE_MARK, close_mark);
  const int32_t roots = PageWord(header, HDR_RESTORE_DIRECTORY);
  if (close_mark == -1 && roots <= kHeaderUnit) {
    SetPageWord(header, HDR_NEXT_ROOT, 0);
    for (int32_t w = 14; w < kUnitBytes / 4; ++w) SetPageWord(header, w, 0);
  }
  if (WriteUnitPage(copy, kHeaderUnit, h) != 0) return Report(-61, 3, kHeaderUnit, copy);
  if (close_mark != -1 || roots <= kHeaderUnit) return 0;
  const int32_t r = GetUnitPage(copy, roots, GET_UPDATE, rq);
  if (r < 0) return r;
  uint8_t* root = PageBytes(r);
  if (PageWord(root, PAGE_KIND) != ROOT_PAGE_KIND) {
    DKPUT0(PUT_UNCHANGED, r);
    return Report(-64, 3, roots, copy);
  }
  SetPageWord(root, HDR_NEXT_ROOT, 0);
  for (int32_t w = 14; w < kUnitBytes / 4; ++w) SetPageWord(root, w, 0);
  if (WriteUnitPage(copy, roots, r) != 0) return Report(-61, 3, roots, copy);
  return 0;
}

// Every chain of table entries forgets where the copy's root entry was.
void ForgetRootPlaces(int32_t copy) {
  int32_t* a = Bufferpool();
  EnqdeqGuard guard(a + BP_LOCK_TABLE_HASH);
  const int32_t limit = LoadWord(BP_TABLE_COUNT);
  int32_t state[4] = {0, LoadWord(BP_TABLE_HASH), 0, 0};
  for (int32_t head = DKHMS0(state); head > 0; head = DKHMS0(state)) {
    for (int32_t t = head, n = 0; dkset::IsTableEntry(t) && n <= limit; t = a[t + TBE_NEXT], ++n) {
      if (a[t + TBE_DATABANK] != copy) continue;
      a[t + TBE_ROOT_PAGE] = -1;
      a[t + TBE_ROOT_WORD] = 0;
      break;
    }
  }
}

bool InTableHash(int32_t tbl) {
  int32_t* a = Bufferpool();
  EnqdeqGuard guard(a + BP_LOCK_TABLE_HASH);
  const int32_t t = DKHMI0(LoadWord(BP_TABLE_HASH), tbl);
  return dkset::IsTableEntry(t) && a[t + TBE_TBL] == tbl;
}

// One table of the TRANS databank made again in the copy and filled.
int32_t RebuildTable(int32_t copy, const int32_t* nte, int32_t mode) {
  int32_t* a = Bufferpool();
  const int32_t tbl = nte[NTE_TBL];
  const bool was_open = InTableHash(tbl);
  int32_t c[CRT_WORDS] = {};
  c[RQ_STATUS] = mode;
  c[RQ_DID] = 2;
  c[RQ_TYPE] = nte[NTE_TYPE];
  c[RQ_TBL] = tbl;
  c[RQ_KEY_LENGTH] = nte[NTE_KEY_LENGTH];
  c[RQ_RECORD_LENGTH] = nte[NTE_RECORD_LENGTH];
  c[RQ_INDEX_PAGE_SIZE] = nte[NTE_INDEX_PAGE_SIZE];
  c[RQ_DATA_PAGE_SIZE] = nte[NTE_DATA_PAGE_SIZE];
  c[RQ_METHOD] = nte[NTE_METHOD];
  // The commit set's pages do not change while it is copied.
  const bool commit_set = tbl == 10;
  if (commit_set) DKLock(BP_LOCK_COMMIT_SET);
  DKCRT1(c);
  int32_t rc = c[RQ_STATUS];
  const int32_t first = c[RQ_TABLE];
  int32_t target = 0;
  if (rc == 0) {
    const int32_t limit = LoadWord(BP_TABLE_COUNT);
    for (int32_t t = first, n = 0; dkset::IsTableEntry(t) && n <= limit; t = a[t + TBE_NEXT], ++n)
      if (a[t + TBE_DATABANK] == copy) target = t;
    if (target == 0) {
      Report(-45, 2, 2, copy);
      rc = Report(-45, 4, 2, copy);
    }
  }
  if (rc == 0 && tbl == kKernelTable) {
    // Page by page: the rows read in key order fill whole pages of a new
    // tree (DKCPI0, DKCPT0 and the load's build), which the copy's pages
    // written then put on disk whatever the mode (an open writes them
    // again at its end).
    rc = DKCPT1(first, target);
    int32_t pag[PAGREQ_WORDS] = {copy, 0, 0, 0, -1, 0, 0, 0};
    if (rc == 0 && DKPAG0(pag, PAG_FLUSH) != 0) rc = pag[PAGREQ_RC] != 0 ? pag[PAGREQ_RC] : -44;
  } else if (rc == 0) {
    std::vector<int32_t> source(static_cast<size_t>(SetRequestBlockWords()), 0);
    source[SETRQ_RC] = mode > 0 ? mode : 0;
    source[SETRQ_TABLE] = first;
    source[SETRQ_TBL] = tbl;
    std::vector<int32_t> to(SETRQ_RECORD + 1, 0);
    to[SETRQ_TABLE] = target;
    to[SETRQ_TBL] = tbl;
    rc = DKCPX0(source, to);
  }
  if (commit_set) DKUnlock(BP_LOCK_COMMIT_SET);
  if (dkset::IsTableEntry(first) && c[RQ_STATUS] == 0) {
    int32_t close[CRT_WORDS] = {was_open ? 0 : -22, 0, 2, 0, first, tbl};
    DKCLT1(close);
  }
  return rc;
}

int32_t Rebuild(int32_t mode, int32_t copy) {
  int32_t* a = Bufferpool();
  const int32_t trans = LoadWord(BP_TRANS_ENTRY);
  if (!DKIsDatabankEntry(copy) || a[copy + DBE_DID] != 2 || !DKIsDatabankEntry(trans) ||
      copy == trans)
    return Report(-43, 2, copy, 0);
  if (int32_t rc = ForgetTables(copy, -1)) return rc;
  a[copy + DBE_ERROR] = 0;
  if (mode == -1) ForgetRootPlaces(copy);
  // The check gives the pages of the forgotten tables back.
  int32_t check[VED_WORDS] = {-1, copy};
  if (int32_t rc = DKVED0(check)) return rc;
  int32_t nte[NTE_WORDS] = {};
  nte[NTE_DATABANK] = trans;
  for (DKNTE1(nte); nte[NTE_STATUS] == 0; DKNTE1(nte)) {
    const int32_t kind = nte[NTE_TYPE] / 10;
    if (nte[NTE_TBL] <= 0 || (kind != 5 && kind != 15 && nte[NTE_TBL] != kKernelTable)) continue;
    if (int32_t rc = RebuildTable(copy, nte, mode)) return rc;
  }
  if (nte[NTE_DATABANK] != -1) return nte[NTE_STATUS];
  if (mode == -1) {
    int32_t pag[PAGREQ_WORDS] = {copy, 0, 0, 0, -1, 0, 0, 0};
    if (DKPAG0(pag, PAG_FLUSH) != 0) return pag[PAGREQ_RC] != 0 ? pag[PAGREQ_RC] : -44;
  }
  return ForgetTables(copy, 0);
}

}  // namespace

int32_t DKRET1(int32_t* request) {
  const int32_t rc = Rebuild(request[RSD_MODE], request[RSD_ENTRY]);
  request[RSD_MODE] = rc;
  return rc;
}
