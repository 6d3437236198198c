// Ordered writes of list pages: the pages a list page names are written in
// list order, and the list page reaches disk naming only the entries already
// there; its progress mark says where the next round starts.
#include <algorithm>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/bufferpool_internal.h"

using namespace bufferpool_internal;

namespace {

// True when every page linked to the list page (its word 12 names `list`) is
// one of the entries in `pending`: those are not named by the image being
// written, so it need not wait for them.
bool OnlyPendingEntriesLinked(int32_t list, const std::vector<Collected>& pending) {
  for (int32_t pool = LoadWord(BP_FIRST_PARTITION); pool > 0; pool = LoadWord(pool - 1)) {
    int32_t last = LoadWord(pool + PART_LAST_BCB);
    int32_t lowest = last - BCB_WORDS * (LoadWord(pool + PART_PAGES) - 1);
    for (int32_t bcb = lowest; bcb <= last; bcb += BCB_WORDS) {
      if (LoadWord(bcb + BCB_WAITER) != list) continue;
      Collected c = IdentityOf(pool, bcb);
      bool pending_entry = false;
      for (const Collected& p : pending)
        pending_entry = pending_entry || (p.databank == c.databank && p.page == c.page &&
                                          p.page_size == c.page_size);
      if (!pending_entry) return false;
    }
  }
  return true;
}

// A listed page that is in the pool and changed is written now. False when
// it could not be: its write (or its get) failed, or it is no page. A page
// linked to the list is unlinked for the write and linked again when the
// write fails, so the failure stays with the entry (which the list walk
// stops before) rather than counting against the whole list page.
bool WriteListedPage(int32_t* request, int32_t list_bcb, const Collected& c) {
  int32_t rq[REQ_WORDS] = {c.databank, c.page, c.page_size, 0, -1, 0};
  int32_t buffer = DKGET0(rq, GET_UPDATE_IF_RESIDENT);
  if (buffer < 0) {
    NoteError(request, rq[REQ_RC], rq[REQ_OS_ERROR]);
    return false;
  }
  if (buffer == 0) return true;  // not in the pool: on disk as it is
  int32_t bcb = BufferBcb(buffer);
  if (!IsChanged(bcb)) {
    DKPUT0(PUT_UNCHANGED, buffer);
    return true;
  }
  bool linked = UnlinkFrom(bcb, list_bcb);
  AddWord(bcb + BCB_VERSION, 1);
  int32_t rc = WriteHeld(rq, bcb);
  if (rc == 0) {
    HandReleasesToDatabank(bcb, c.databank);
  } else if (linked) {
    LinkBefore(bcb, list_bcb);
  }
  DKPUT0(PUT_UNCHANGED, buffer);
  if (rc < 0) NoteError(request, rc, rq[REQ_OS_ERROR]);
  return rc == 0;
}

// True when a listed page is in the pool and changed (again).
bool ListedPageChanged(const Collected& c) {
  int32_t rq[REQ_WORDS] = {c.databank, c.page, c.page_size, 0, -1, 0};
  int32_t buffer = DKGET0(rq, GET_UPDATE_IF_RESIDENT);
  if (buffer <= 0) return buffer < 0;
  bool changed = IsChanged(BufferBcb(buffer));
  DKPUT0(PUT_UNCHANGED, buffer);
  return changed;
}

void CorruptListPage(int32_t* request, int32_t buffer, const Collected& list) {
  DKPUT0(PUT_UNCHANGED, buffer);
  NoteError(request, -63, -1);
  ReportPageError(kIndexDKPAG0, -63, 7, list.page, list.databank);
}

// Writes the list page naming its entries up to slot `reached` (all of them
// when that is the last): in part only when every page still linked to it
// is one of the entries left out and none failed; else whole, after every
// linked page. The progress mark then names the slot.
void WriteListImage(int32_t* request, const Collected& list, int32_t buffer, int32_t reached) {
  int32_t bcb = BufferBcb(buffer);
  int32_t* words = PageWords(buffer);
  int32_t last = words[LIST_END], listed_size = words[LIST_PAGE_SIZE];
  std::vector<Collected> pending;
  for (int32_t slot = reached + 1; slot <= last; ++slot)
    pending.push_back({list.databank, words[slot], listed_size});
  int32_t written_last = std::min(reached, last);
  bool whole = written_last == last;
  if (LoadWord(bcb + BCB_FAILED_BEFORE) > 0 || !OnlyPendingEntriesLinked(bcb, pending)) {
    // A page the list waits for failed, or one it does not list is linked
    // to it: only a whole write, after every linked page, is sound.
    int32_t rq[REQ_WORDS] = {list.databank, list.page, list.page_size, 0, -1, 0};
    int32_t rc = DKWRP0(rq, WRP_WRITE_WAIT, buffer);
    if (rc < 0) NoteError(request, rc, rq[REQ_OS_ERROR]);
    return;
  }
  int32_t rq[REQ_WORDS] = {list.databank, list.page, list.page_size, 0, -1, 0};
  words[LIST_END] = written_last;
  AddWord(bcb + BCB_VERSION, 1);
  int32_t rc = WriteHeld(rq, bcb, whole ? WriteKind::kListed : WriteKind::kListedPartial);
  words[LIST_END] = last;
  if (rc < 0) {
    NoteError(request, rc, rq[REQ_OS_ERROR]);
    DKPUT0(PUT_UNCHANGED, buffer);
    return;
  }
  DKMRK0(reached, MRK_PROGRESS, buffer);
  if (whole) {
    HandReleasesToDatabank(bcb, list.databank);
    DKPUT0(PUT_UNCHANGED, buffer);
  } else {
    // The entries after the position are not on disk yet.
    DKPUT0(PUT_CHANGED, buffer);
  }
}

}  // namespace

namespace bufferpool_internal {

// Writes a held, changed list page in order with the pages it lists (word 2
// their page size, word 5 the slot of the last entry in use, 5 when none):
// the listed pages after the progress mark that are changed are written in
// list order, and the list page goes to disk naming only the entries up to
// the last one that reached disk (its word 5 lowered for the write). The
// progress mark then names that entry, and the next round starts after it.
void WriteListPage(int32_t* request, const Collected& list, int32_t buffer) {
  int32_t bcb = BufferBcb(buffer);
  int32_t* words = PageWords(buffer);
  int32_t last = words[LIST_END], listed_size = words[LIST_PAGE_SIZE];
  int32_t pool = FindPool(listed_size);
  if (last < LIST_FIRST_ENTRY - 1 || last >= list.page_size / 4 || pool == 0)
    return CorruptListPage(request, buffer, list);
  int32_t units = LoadWord(pool + PART_UNITS);
  bool waited_for = LoadWord(bcb + BCB_WAITS_FOR) > 0;
  int32_t progress = LoadWord(bcb + BCB_PROGRESS);
  if (waited_for && progress == 0) {
    DKPUT0(PUT_UNCHANGED, buffer);
    NoteError(request, -55, -1);
    ReportPageError(kIndexDKPAG0, -55, 3, list.page, list.databank);
    return;
  }
  // The walk starts after the mark also when nobody waits for the list: the
  // links only say what callers recorded, the walk looks at the pages. The
  // slots before the first entry are header words, and a mark beyond the end
  // (the list got shorter) counts only up to the end.
  int32_t floor = LIST_FIRST_ENTRY - 1;
  int32_t start = std::min(std::max(progress, floor), last);
  int32_t reached = start;
  for (int32_t slot = start + 1; slot <= last; ++slot) {
    Collected entry{list.databank, words[slot], listed_size};
    // An entry naming the list page itself would wait for its own buffer.
    if (entry.page <= 0 || (entry.page & (units - 1)) != 0 ||
        (entry.page == list.page && listed_size == list.page_size))
      return CorruptListPage(request, buffer, list);
    if (!WriteListedPage(request, bcb, entry)) break;
    reached = slot;
  }
  // The last entry still being changed (appends go to it) is not counted:
  // the next round writes it again.
  if (reached > start && ListedPageChanged({list.databank, words[reached], listed_size})) --reached;
  if (waited_for && reached == progress) {
    DKPUT0(PUT_UNCHANGED, buffer);
    return;
  }
  WriteListImage(request, list, buffer, reached);
}

}  // namespace bufferpool_internal
