// The state of a databank's copies (DKGDS1), taking one copy offline
// (DKSUD1): its pages written and its close mark set before it leaves (a
// failure of either answered, the copy left online), and the table entries
// that name it sent to look for their root entry again;
// and putting it online again (DKRED1) with table entries of its own.
#include "dk/databank_copies.h"

#include <algorithm>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/error_log.h"
#include "dk/set_pages.h"
#include "dk/set_table.h"
#include "dk/table_entries.h"
#include "platform/enqdeq.h"

namespace {

constexpr int32_t kIndexDKGDS1 = 32, kIndexDKRED1 = 49, kIndexDKSUD1 = 53;
constexpr int32_t kNoMoreRoots = 4;  // DKNTE1 at the end of the root entries

void Report(int32_t index, int32_t rc, const void* value, int32_t databank) {
  int32_t context[5] = {databank, 0, 0, 0, -1};
  DKLogError(index, rc, DK_SEV_ERROR, value, context);
}

int32_t Finish(int32_t* request, int32_t rc) {
  request[CPY_MODE] = rc;
  return rc;
}

// The copies of a DID in chain order, under the databank hash lock.
std::vector<int32_t> CopiesOf(int32_t did) {
  int32_t* a = Bufferpool();
  std::vector<int32_t> copies;
  EnqdeqGuard guard(a + BP_LOCK_DATABANK_HASH);
  int32_t limit = LoadWord(BP_DATABANK_COUNT);
  int32_t at = DKHMI0(LoadWord(BP_DATABANK_HASH), did);
  for (int32_t n = 0; DKIsDatabankEntry(at) && n < limit; at = a[at + DBE_DEPENDENT], ++n)
    copies.push_back(at);
  return copies;
}

// Index in `copies` of the copy with a SEQNO (-1: the first), or -1.
int32_t FindSeqno(const std::vector<int32_t>& copies, int32_t seqno) {
  for (size_t i = 0; i < copies.size(); ++i)
    if (seqno == -1 || Bufferpool()[copies[i] + DBE_SEQNO] == seqno) return static_cast<int32_t>(i);
  return -1;
}

}  // namespace

int32_t DKGDS1(int32_t* request) {
  int32_t* a = Bufferpool();
  int32_t mode = request[CPY_MODE];
  std::vector<int32_t> copies = CopiesOf(request[CPY_DID]);
  if (mode < 0) {
    // The first entry counts only when it is a shadow itself.
    for (size_t i = 0; i < copies.size(); ++i)
      if ((i > 0 || a[copies[i] + DBE_KIND] == DBT_SHADOW) && a[copies[i] + DBE_OFFLINE] == 0)
        return Finish(request, 0);
    return Finish(request, copies.empty() ? 3 : 1);
  }
  if (copies.empty()) {
    Report(kIndexDKGDS1, -45, &request[CPY_DID], 0);
    return Finish(request, 3);
  }
  int32_t i = FindSeqno(copies, request[CPY_SEQNO]);
  if (i < 0) {
    Report(kIndexDKGDS1, -47, &request[CPY_SEQNO], copies[0]);
    return Finish(request, -47);
  }
  int32_t copy = copies[static_cast<size_t>(i)];
  request[CPY_ENTRY] = copy;
  return Finish(request, mode == 0 ? a[copy + DBE_ERROR] : a[copy + DBE_OFFLINE]);
}

int32_t DKSUD1(int32_t* request) {
  int32_t* a = Bufferpool();
  int32_t mode = request[CPY_MODE];
  std::vector<int32_t> copies = CopiesOf(request[CPY_DID]);
  int32_t i = FindSeqno(copies, request[CPY_SEQNO]);
  if (mode < 0) {
    if (i < 0) return Finish(request, 1);
    int32_t copy = copies[static_cast<size_t>(i)];
    request[CPY_SEQNO] = a[copy + DBE_SEQNO];
    return Finish(request, a[copy + DBE_ERROR]);
  }
  if (i < 0) {
    Report(kIndexDKSUD1, -45, &request[CPY_DID], 0);
    return Finish(request, -45);
  }
  for (size_t k = static_cast<size_t>(i); k < copies.size(); ++k)
    if (a[copies[k] + DBE_OFFLINE] != 0) {
      Report(kIndexDKSUD1, -57, nullptr, copies[k]);
      return Finish(request, -57);
    }
  int32_t copy = copies[static_cast<size_t>(i)];
  int32_t pag[PAGREQ_WORDS] = {copy, 0, 0, 0, -1, 0, 0, 0};
  if (int32_t rc = DKPAG0(pag, PAG_FLUSH)) return Finish(request, rc);
  // A mark that cannot be written leaves the copy where it was, with the
  // error status the failed write gave it: its header stays marked open,
  // so whoever opens the file next checks it as after a crash.
  if (int32_t rc = WriteCloseMark(copy)) return Finish(request, rc);
  a[copy + DBE_OFFLINE] = 1;
  a[copy + DBE_OFFLINE_COPY] = 1;
  a[copy + DBE_ERROR] = 0;
  // Tables of the DID look for their root entry in this copy again when it
  // comes back.
  EnqdeqGuard guard(a + BP_LOCK_TABLE_HASH);
  int32_t state[4] = {0, LoadWord(BP_TABLE_HASH), 0, 0};
  int32_t limit = LoadWord(BP_TABLE_COUNT);
  for (int32_t t = DKHMS0(state); t != 0; t = DKHMS0(state))
    for (int32_t e = t, n = 0; e > 0 && n < limit; e = a[e + TBE_NEXT], ++n)
      if (a[e + TBE_DATABANK] == copy) {
        a[e + TBE_ROOT_PAGE] = -1;
        a[e + TBE_ROOT_WORD] = 0;
      }
  return Finish(request, 0);
}

namespace {

// The copy's header with its close mark cleared (written at once) when it
// was set: the copy is in use from now on.
int32_t ClearCloseMark(int32_t copy) {
  int32_t rq[REQ_WORDS];
  int32_t buffer = GetUnitPage(copy, kHeaderUnit, GET_UPDATE, rq);
  if (buffer < 0) return buffer;
  uint8_t* page = PageBytes(buffer);
  if (PageWord(page, HDR_CLOSE_MARK) == CLOSE_MARK_OPEN) {
    DKPUT0(PUT_UNCHANGED, buffer);
    return 0;
  }
  SetPageWord(page, HDR_CLOSE_MARK, CLOSE_MARK_OPEN);
  if (WriteUnitPage(copy, kHeaderUnit, buffer) == 0) return 0;
  ReportPageError(kIndexDKRED1, -61, DK_SEV_DISABLE, kHeaderUnit, copy);
  return -61;
}

// Gives every table of the DID an entry on `copy` (appended to the table's
// chain, closed, root entry not yet found) when it has none. Returns the
// entries on the copy whose root entry is still to be found, or -14 in
// *rc when the free list ran out.
std::vector<int32_t> TableEntriesFor(int32_t copy, int32_t did, int32_t* rc) {
  int32_t* a = Bufferpool();
  std::vector<int32_t> unfound;
  EnqdeqGuard guard(a + BP_LOCK_TABLE_HASH);
  const int32_t hash = LoadWord(BP_TABLE_HASH), limit = LoadWord(BP_TABLE_COUNT);
  int32_t state[4] = {0, hash, 0, 0};
  for (int32_t t = DKHMS0(state); t != 0; t = DKHMS0(state)) {
    int32_t d = a[t + TBE_DATABANK];
    if (!DKIsDatabankEntry(d) || a[d + DBE_DID] != did) continue;
    int32_t last = t, on_copy = 0;
    for (int32_t e = t, n = 0; e > 0 && n < limit; e = a[e + TBE_NEXT], ++n) {
      if (a[e + TBE_DATABANK] == copy) on_copy = e;
      last = e;
    }
    if (on_copy == 0) {
      EnqdeqGuard free_lock(a + BP_LOCK_TABLE_FREE);
      int32_t fresh = DKHMA0(hash);
      if (fresh < 1) {
        *rc = -14;
        return unfound;
      }
      std::fill(a + fresh, a + fresh + TBE_WORDS - 1, 0);
      a[fresh + TBE_TBL] = a[t + TBE_TBL];
      a[fresh + TBE_ACCESS] = kAccessClosed;
      a[fresh + TBE_DATABANK] = copy;
      a[fresh + TBE_ROOT_PAGE] = -1;
      a[fresh + TBE_KIND] = a[t + TBE_KIND];
      a[fresh + TBE_METHOD] = a[t + TBE_METHOD];
      a[last + TBE_NEXT] = fresh;
      on_copy = fresh;
    }
    if (a[on_copy + TBE_ROOT_PAGE] == -1) unfound.push_back(on_copy);
  }
  return unfound;
}

// Finds the root entry of a table entry on the copy through the root entry
// walk; a table the copy does not hold keeps -1 (a read passes it over).
int32_t FindRoot(int32_t table) {
  int32_t* a = Bufferpool();
  int32_t nte[NTE_WORDS] = {};
  nte[NTE_DATABANK] = a[table + TBE_DATABANK];
  for (;;) {
    DKNTE1(nte);
    if (nte[NTE_STATUS] == kNoMoreRoots) return 0;
    if (nte[NTE_STATUS] != 0) return nte[NTE_STATUS];
    if (nte[NTE_TBL] != a[table + TBE_TBL] || (nte[NTE_TYPE] / 10) % 10 != a[table + TBE_KIND])
      continue;
    a[table + TBE_ROOT_WORD] = nte[NTE_OFFSET];
    StoreWord(table + TBE_ROOT_PAGE, nte[NTE_PAGE]);
    return 0;
  }
}

// A set of a TRANS copy: its list pages, chained through word 4 from the
// first, must reach the last one its root entry records.
int32_t FollowListChain(int32_t table) {
  int32_t* a = Bufferpool();
  int32_t record = 0;
  int32_t root = GetRootEntry(table, GET_SHARED, kIndexDKRED1, &record);
  if (root < 0) return root;
  const int32_t first = a[record + SETROOT_FIRST_LIST], last = a[record + SETROOT_LAST_LIST];
  const int32_t size = a[record + SETROOT_LIST_SIZE], copy = a[table + TBE_DATABANK];
  DKPUT0(PUT_END_SHARED, root);
  int32_t page = first;
  for (int32_t n = 0; page != 0 && page != last && n < dkset::kMaxChain; ++n) {
    int32_t rq[REQ_WORDS] = {copy, page, size, 0, -1, 0};
    int32_t b = page > 0 && FindPool(size) != 0 ? DKGET0(rq, GET_SHARED) : -63;
    if (b < 0 && b != -63) return b;
    const uint8_t* p = b > 0 ? PageBytes(b) : nullptr;
    int32_t next = p && PageWord(p, SETLIST_MARK) == kSetListMark ? PageWord(p, SETLIST_NEXT) : -1;
    if (b > 0) DKPUT0(PUT_END_SHARED, b);
    if (next < 0) break;
    page = next;
  }
  if (page == last) return 0;
  ReportPageError(kIndexDKRED1, -63, DK_SEV_DISABLE, page, copy);
  return -63;
}

}  // namespace

int32_t DKRED1(int32_t* request) {
  int32_t* a = Bufferpool();
  std::vector<int32_t> copies = CopiesOf(request[CPY_DID]);
  int32_t i = FindSeqno(copies, request[CPY_SEQNO]);
  int32_t copy = i < 0 ? 0 : copies[static_cast<size_t>(i)];
  // A copy whose file is not open has no pages to bring online.
  if (copy == 0 || a[copy + DBE_CHANNEL] == 0) {
    Report(kIndexDKRED1, -45, &request[CPY_DID], 0);
    return Finish(request, -45);
  }
  request[CPY_ENTRY] = copy;
  if (int32_t rc = ClearCloseMark(copy)) return Finish(request, rc);
  int32_t result = 1;
  {
    EnqdeqGuard guard(a + BP_LOCK_DATABANK_HASH);
    if (a[copy + DBE_OFFLINE] != 0 || a[copy + DBE_OFFLINE_COPY] != 0) {
      a[copy + DBE_OFFLINE] = 0;
      a[copy + DBE_OFFLINE_COPY] = 0;
      a[copy + DBE_ERROR] = 0;
      result = 0;
    }
  }
  int32_t rc = 0;
  std::vector<int32_t> unfound = TableEntriesFor(copy, a[copy + DBE_DID], &rc);
  if (rc != 0) {
    int32_t limit = LoadWord(BP_TABLE_COUNT);
    Report(kIndexDKRED1, rc, &limit, 0);
    return Finish(request, rc);
  }
  for (int32_t t : unfound) {
    if (int32_t found = FindRoot(t)) return Finish(request, found);
    if (a[copy + DBE_DID] == 2 && a[t + TBE_KIND] == kKindSet && a[t + TBE_ROOT_PAGE] > 0)
      if (int32_t chain = FollowListChain(t)) return Finish(request, chain);
  }
  return Finish(request, result);
}

int32_t DKTableEntriesOnCopy(int32_t copy) {
  int32_t rc = 0;
  TableEntriesFor(copy, Bufferpool()[copy + DBE_DID], &rc);
  if (rc != 0) {
    int32_t limit = LoadWord(BP_TABLE_COUNT);
    Report(dkset::RoutineIndex("DKOCD1"), rc, &limit, 0);
  }
  return rc;
}
