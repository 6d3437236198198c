// The commit set as a ring of data pages: its list pages name the data pages
// in the order they were filled, and once the last slot of the last list page
// is used the ring continues at the first list page, whose pages hold
// commits secured long ago. A page is taken again only behind the mark page
// (area word 118), the first page that holds a record of a commit not yet
// secured; when the next list page holds the mark, a new list page joins the
// ring there, and DKCST0 cuts the chain back to the current list page and
// the one after it once everything not yet secured lies on the current page
// again. A ring of two list pages laps without giving a page back or taking
// a new one.
//
// Read in the chain's order the set is the ring from its first list page:
// the pages behind the place being filled are older than the pages before
// it, and the place where the two meet is the only one where the commit
// order jumps back, as a reader of the whole set (the restart) expects.
#include <algorithm>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/commit_write_set.h"
#include "dk/control_area.h"
#include "dk/error_log.h"
#include "dk/set_pages.h"
#include "dk/set_table.h"
#include "dk/table_entries.h"
#include "dk/test_points.h"
#include "dk/transactions.h"
#include "platform/enqdeq.h"

namespace {

using namespace dkset;

// A data page and where the ring names it.
struct Place {
  int32_t list = 0;  // list page
  int32_t slot = 0;  // word of the list page
  int32_t page = 0;  // the data page there
};

int32_t Internal(const Set& s, int32_t value) {
  ReportPageError(RoutineIndex("DKCST0"), -55, DK_SEV_ERROR, value, s.databank);
  return -55;
}

// The ring's words describe this set: its first list page is the one the
// words were set up with, and the current list page is one of its pages.
void SetUp(const Set& s) {
  int32_t* a = Bufferpool();
  a[BP_COMMIT_SET_INDEX_PID] = 0;
  const int32_t list = GetList(s, s.last_list, GET_SHARED);
  if (list < 0) return;
  const int32_t last = Words(list)[SETLIST_LAST];
  int32_t pages = 0;
  for (int32_t page = s.first_list, steps = 0; page != 0 && steps <= kMaxChain; ++steps) {
    const int32_t b = GetList(s, page, GET_SHARED);
    if (b < 0) break;
    pages += Words(b)[SETLIST_LAST] - SETLIST_FIRST + 1;
    page = Words(b)[SETLIST_NEXT];
    Release(b, GET_SHARED);
  }
  Release(list, GET_SHARED);
  a[BP_COMMIT_SET_LIST_SIZE] = s.list_size;
  a[BP_COMMIT_SET_SIZE] = pages;
  a[BP_COMMIT_SET_FIRST_PID] = s.first_list;
  a[BP_COMMIT_SET_INDEX_PID] = s.last_list;
  a[BP_COMMIT_SET_INDEX_POS] = last + 1;
  // Nothing is known secured yet: no page is taken again until a mark is set.
  a[BP_COMMIT_SET_LIMIT_DATA_PID] = 0;
}

// True when the used slots of list page `list` name `page` (before slot
// `before` when it is given).
int32_t ListNames(const Set& s, int32_t list, int32_t page, int32_t before, bool* names) {
  const int32_t b = GetList(s, list, GET_SHARED);
  if (b < 0) return b;
  const int32_t* w = Words(b);
  const int32_t end = before > 0 ? std::min(before - 1, w[SETLIST_LAST]) : w[SETLIST_LAST];
  *names = std::find(w + SETLIST_FIRST, w + end + 1, page) != w + end + 1;
  Release(b, GET_SHARED);
  return 0;
}

// The list page after `list` in the chain, 0 after the last.
int32_t NextInChain(const Set& s, int32_t list, int32_t* next) {
  const int32_t b = GetList(s, list, GET_SHARED);
  if (b < 0) return b;
  *next = Words(b)[SETLIST_NEXT];
  Release(b, GET_SHARED);
  return 0;
}

// The list page after `list` in the ring: its next link, or the first list
// page after the last.
int32_t NextList(const Set& s, int32_t list, int32_t* next) {
  if (int32_t rc = NextInChain(s, list, next); rc < 0) return rc;
  if (*next == 0) *next = LoadWord(BP_COMMIT_SET_FIRST_PID);
  return 0;
}

// A new, empty list page joins the ring after the current one, which it
// follows in the chain; the pages that name it are written only once it is
// on disk.
int32_t InsertList(const Set& s, int32_t current, int32_t* inserted) {
  int32_t page = 0;
  const int32_t b = NewPage(s, s.list_size, &page);
  if (b < 0) return b;
  const int32_t held = GetList(s, current, GET_UPDATE);
  if (held < 0) {
    FreePage(s, page, s.list_size, b);
    return held;
  }
  const int32_t after = Words(held)[SETLIST_NEXT];
  int32_t* w = Words(b);
  w[SETLIST_MARK] = kSetListMark;
  w[SETLIST_DATA_SIZE] = s.data_size;
  w[SETLIST_PREV] = current;
  w[SETLIST_NEXT] = after;
  w[SETLIST_LAST] = SETLIST_FIRST - 1;
  if (int32_t rc = Finish(s, kWriteAtOnce, b, page, s.list_size, -60); rc < 0) {
    Release(held, GET_UPDATE);
    return rc;
  }
  Words(held)[SETLIST_NEXT] = page;
  if (int32_t rc = Finish(s, kWriteAtOnce, held, current, s.list_size, -60); rc < 0) return rc;
  if (after == 0) {
    if (int32_t rc = UpdateRoot(s, kWriteAtOnce, page, -1); rc < 0) return rc;
  } else {
    // Only a reader going backwards follows this link.
    const int32_t next = GetList(s, after, GET_UPDATE);
    if (next < 0) return next;
    Words(next)[SETLIST_PREV] = page;
    if (int32_t rc = Finish(s, 0, next, after, s.list_size, -60); rc < 0) return rc;
  }
  *inserted = page;
  return 0;
}

// Readies data page `page` (new or taken again) as an empty page of list
// page `list`, held for update: its empty image is written at once, so that
// whatever the page held before never reads as records of the ring, even
// when a later write of it is cut short.
int32_t EmptyPage(const Set& s, int32_t buffer, int32_t page, int32_t list) {
  int32_t* d = Words(buffer);
  d[SETDATA_MARK] = kSetDataMark;
  d[SETDATA_END] = SETDATA_FIRST;
  d[SETDATA_LIST] = list;
  SealData(s, buffer);
  if (s.work) return buffer;
  int32_t rq[REQ_WORDS] = {s.databank, page, s.data_size, 0, -1, 0};
  if (DKWRP0(rq, WRP_WRITE_HOLD, buffer) < 0) {
    Release(buffer, GET_UPDATE);
    return Fail(s, -62, page);
  }
  return buffer;
}

// The next data page of the ring, emptied and held for update, its number in
// *page: the slot after the current one, a new slot of the current list page,
// or the first slot of the next list page (or of one new in the ring).
int32_t NextPage(const Set& s, int32_t* page) {
  int32_t* a = Bufferpool();
  for (int32_t turns = 0; turns < 3; ++turns) {
    const int32_t current = a[BP_COMMIT_SET_INDEX_PID], slot = a[BP_COMMIT_SET_INDEX_POS];
    const int32_t list = GetList(s, current, GET_UPDATE);
    if (list < 0) return list;
    int32_t* l = Words(list);
    const int32_t used = l[SETLIST_LAST];
    if (slot >= SETLIST_FIRST && slot <= used) {
      // A page secured long ago: the mark lies behind it in the ring.
      *page = l[slot];
      Release(list, GET_UPDATE);
      if (*page == a[BP_COMMIT_SET_LIMIT_DATA_PID]) return Internal(s, *page);
      const int32_t data = GetData(s, *page, GET_UPDATE);
      if (data < 0) return data;
      a[BP_COMMIT_SET_INDEX_POS] = slot + 1;
      return EmptyPage(s, data, *page, current);
    }
    if (slot < s.list_words()) {
      if (slot != used + 1) {
        Release(list, GET_UPDATE);
        return Internal(s, slot);
      }
      const int32_t data = NewPage(s, s.data_size, page);
      if (data < 0) {
        Release(list, GET_UPDATE);
        return data;
      }
      if (int32_t rc = EmptyPage(s, data, *page, current); rc < 0) {
        Release(list, GET_UPDATE);
        FreePage(s, *page, s.data_size);
        return rc;
      }
      // The list page names the new page once that is on disk; it is
      // written with the group's pages.
      l[slot] = *page;
      l[SETLIST_LAST] = slot;
      if (int32_t rc = Finish(s, 0, list, current, s.list_size, -60); rc < 0) {
        Release(data, GET_UPDATE);
        return rc;
      }
      a[BP_COMMIT_SET_INDEX_POS] = slot + 1;
      ++a[BP_COMMIT_SET_SIZE];
      return data;
    }
    Release(list, GET_UPDATE);
    // The current list page is full: the ring goes on at the next one, cut
    // back first when everything not yet secured lies on this one.
    if (int32_t rc = DKCST0(); rc < 0) return rc;
    int32_t next = 0;
    if (int32_t rc = NextList(s, current, &next); rc < 0) return rc;
    bool held = a[BP_COMMIT_SET_LIMIT_DATA_PID] == 0;
    if (!held)
      if (int32_t rc = ListNames(s, next, a[BP_COMMIT_SET_LIMIT_DATA_PID], 0, &held); rc < 0)
        return rc;
    if (held)
      if (int32_t rc = InsertList(s, current, &next); rc < 0) return rc;
    a[BP_COMMIT_SET_INDEX_PID] = next;
    a[BP_COMMIT_SET_INDEX_POS] = SETLIST_FIRST;
  }
  return Internal(s, a[BP_COMMIT_SET_INDEX_PID]);
}

// The place of the data page `page` in the ring, found through the list page
// its word 3 names.
int32_t Find(const Set& s, int32_t page, Place* at) {
  const int32_t data = GetData(s, page, GET_SHARED);
  if (data < 0) return data;
  at->list = Words(data)[SETDATA_LIST];
  Release(data, GET_SHARED);
  const int32_t list = GetList(s, at->list, GET_SHARED);
  if (list < 0) return list;
  const int32_t* w = Words(list);
  at->slot = 0;
  for (int32_t i = SETLIST_FIRST; i <= w[SETLIST_LAST] && at->slot == 0; ++i)
    if (w[i] == page) at->slot = i;
  Release(list, GET_SHARED);
  at->page = page;
  return at->slot != 0 ? 0 : Fail(s, -65, page);
}

// The place after `at` in the ring.
int32_t Step(const Set& s, Place* at) {
  for (int32_t steps = 0; steps <= kMaxChain; ++steps) {
    const int32_t list = GetList(s, at->list, GET_SHARED);
    if (list < 0) return list;
    const int32_t* w = Words(list);
    if (at->slot < w[SETLIST_LAST]) {
      at->page = w[++at->slot];
      Release(list, GET_SHARED);
      return 0;
    }
    const int32_t next = w[SETLIST_NEXT];
    Release(list, GET_SHARED);
    at->list = next != 0 ? next : LoadWord(BP_COMMIT_SET_FIRST_PID);
    at->slot = SETLIST_FIRST - 1;
  }
  return Fail(s, -63, at->list);
}

// The commit-set order number of the last record on data page `page`; 0 for
// a page without records.
int32_t LastGroupOn(const Set& s, int32_t page, int32_t* group) {
  const int32_t data = GetData(s, page, GET_SHARED);
  if (data < 0) return data;
  const int32_t* w = Words(data);
  const int32_t end = w[SETDATA_END];
  const int32_t n = RecordBefore(w, end);
  *group = n > 3 ? w[end - n + 2] : 0;
  const bool unsound = end > SETDATA_FIRST && n == 0;
  Release(data, GET_SHARED);
  return unsound ? Fail(s, -65, page) : 0;
}

int32_t OpenCommitSet(Set* s) {
  std::vector<int32_t> b(SETRQ_RECORD, 0);
  const int32_t table = LoadWord(BP_COMMIT_SET_TBL);
  if (!IsTableEntry(table)) return -46;
  b[SETRQ_TABLE] = table;
  b[SETRQ_TBL] = Bufferpool()[table + TBE_TBL];
  return OpenSet(b, RoutineIndex("DKCST0"), s);
}

// The lowest commit-set order number that may still be applied: that of the
// first transaction in the commit set not yet secured, else the next one to
// be given.
int32_t LowestOpenGroup() {
  int32_t* a = Bufferpool();
  int32_t bound = LoadWord(BP_COMMIT_SET_ORDER) + 1;
  EnqdeqGuard guard(a + BP_LOCK_TSS_HASH);
  int32_t state[4] = {0, a[BP_TSS_HASH], 0, 0};
  for (int32_t e = DKHMS0(state); e > 0; e = DKHMS0(state)) {
    const int32_t s = a[e + TSS_STATE];
    if (s >= TSS_PREPARED && s < TSS_SECURED && a[e + TSS_GROUP] > 0)
      bound = std::min(bound, a[e + TSS_GROUP]);
  }
  return bound;
}

}  // namespace

int32_t DKAppendToCommitSet(std::span<int32_t> b, int32_t* page, int32_t* position) {
  int32_t* a = Bufferpool();
  Set s;
  if (int32_t rc = OpenSet(b, RoutineIndex("DKAXR0"), &s); rc < 0) return rc;
  const int32_t length = b[SETRQ_LENGTH];
  const int32_t n = length + 2;
  if (length < 0 || length > SetMaxRecordWords(s.data_size) || s.method != 0 ||
      SETRQ_RECORD + int64_t{length} > static_cast<int64_t>(b.size()))
    return Fail(s, -67, length, 2);
  if (s.last_list == 0) {
    // The first record of a new commit set starts its chain as any append.
    b[SETRQ_RC] = 0;
    if (int32_t rc = DKAXR0(b); rc < 0) return rc;
    *page = b[SETRQ_PAGE];
    *position = b[SETRQ_POSITION] - n;
    if (int32_t rc = OpenSet(b, RoutineIndex("DKAXR0"), &s); rc < 0) return rc;
    SetUp(s);
    return a[BP_COMMIT_SET_INDEX_PID] != 0 ? 0 : Internal(s, s.last_list);
  }
  if (a[BP_COMMIT_SET_INDEX_PID] == 0 || a[BP_COMMIT_SET_FIRST_PID] != s.first_list) {
    SetUp(s);
    if (a[BP_COMMIT_SET_INDEX_PID] == 0) return Internal(s, s.last_list);
  }
  int32_t data = 0;
  const int32_t slot = a[BP_COMMIT_SET_INDEX_POS] - 1;
  if (slot >= SETLIST_FIRST) {
    const int32_t list = GetList(s, a[BP_COMMIT_SET_INDEX_PID], GET_SHARED);
    if (list < 0) return list;
    *page = slot <= Words(list)[SETLIST_LAST] ? Words(list)[slot] : 0;
    Release(list, GET_SHARED);
    if (*page == 0) return Internal(s, slot);
    data = GetData(s, *page, GET_UPDATE);
    if (data < 0) return data;
    // A record that would fill the page exactly goes to the next page.
    if (n >= s.data_words() - Words(data)[SETDATA_END]) {
      Release(data, GET_UPDATE);
      data = 0;
    }
  }
  if (data == 0) {
    data = NextPage(s, page);
    if (data < 0) return data;
  }
  int32_t* d = Words(data);
  const int32_t q = d[SETDATA_END];
  d[q] = n;
  std::copy(b.begin() + SETRQ_RECORD, b.begin() + SETRQ_RECORD + length, d + q + 1);
  d[q + n - 1] = n;
  d[SETDATA_END] = q + n;
  SealData(s, data);
  *position = q;
  b[SETRQ_DATA_PAGE_SIZE] = s.data_size;
  b[SETRQ_PAGE] = *page;
  b[SETRQ_POSITION] = q + n;
  return Finish(s, 0, data, *page, s.data_size, -62);
}

int32_t DKCST0() {
  int32_t* a = Bufferpool();
  const int32_t mark = a[BP_COMMIT_SET_LIMIT_DATA_PID], current = a[BP_COMMIT_SET_INDEX_PID];
  if (mark == 0 || current == 0) return 0;
  Set s;
  if (int32_t rc = OpenCommitSet(&s); rc < 0) return rc;
  bool names = false;
  if (int32_t rc = ListNames(s, current, mark, a[BP_COMMIT_SET_INDEX_POS], &names); rc < 0)
    return rc;
  if (!names) return 0;
  // The list page after the current one is kept: the ring goes on there
  // (its pages are behind the mark), so a lap of a ring of two list pages
  // gives nothing back and takes nothing new. What follows it goes.
  int32_t kept_list = 0;
  if (int32_t rc = NextInChain(s, current, &kept_list); rc < 0 || kept_list == 0) return rc;
  const int32_t kept = GetList(s, kept_list, GET_UPDATE);
  if (kept < 0) return kept;
  int32_t after = Words(kept)[SETLIST_NEXT];
  if (after == 0) {
    Release(kept, GET_UPDATE);
    return 0;
  }
  DKReachTestPoint(DKTestPoint::kCommitSetCut, kept_list);
  // The root names the kept page as the last one before the chain ends
  // there: a chain on disk always passes the last page its root names.
  // And the kept page is on disk without its link before a page behind it
  // goes: a reader of the chain never meets a page given back.
  Release(kept, GET_UPDATE);
  if (int32_t rc = UpdateRoot(s, kWriteAtOnce, kept_list, -1); rc < 0) return rc;
  const int32_t cut = GetList(s, kept_list, GET_UPDATE);
  if (cut < 0) return cut;
  Words(cut)[SETLIST_NEXT] = 0;
  if (int32_t rc = Finish(s, kWriteAtOnce, cut, kept_list, s.list_size, -60); rc < 0) return rc;
  int32_t freed = 0;
  for (int32_t steps = 0; after != 0 && steps <= kMaxChain; ++steps) {
    const int32_t b = GetList(s, after, GET_UPDATE);
    if (b < 0) return b;
    const int32_t* w = Words(b);
    for (int32_t i = SETLIST_FIRST; i <= w[SETLIST_LAST]; ++i, ++freed)
      FreePage(s, w[i], s.data_size);
    const int32_t next = w[SETLIST_NEXT];
    FreePage(s, after, s.list_size, b);
    after = next;
  }
  a[BP_COMMIT_SET_SIZE] -= freed;
  CountWord(BP_COMMIT_SET_TRIM_COUNT);
  return freed;
}

int32_t DKMarkCommitSetBelow(int32_t group) {
  int32_t* a = Bufferpool();
  if (a[BP_COMMIT_SET_INDEX_PID] == 0 || a[BP_COMMIT_SET_INDEX_POS] <= SETLIST_FIRST) return 0;
  Set s;
  if (int32_t rc = OpenCommitSet(&s); rc < 0) return rc;
  if (a[BP_COMMIT_SET_FIRST_PID] != s.first_list) return 0;
  // The page being filled.
  Place last{a[BP_COMMIT_SET_INDEX_PID], a[BP_COMMIT_SET_INDEX_POS] - 1, 0};
  {
    const int32_t list = GetList(s, last.list, GET_SHARED);
    if (list < 0) return list;
    last.page = last.slot <= Words(list)[SETLIST_LAST] ? Words(list)[last.slot] : 0;
    Release(list, GET_SHARED);
    if (last.page == 0) return Internal(s, last.slot);
  }
  // From the mark on (from the set's first page before there is one), the
  // pages that hold only records of lower numbers are passed.
  Place at;
  if (a[BP_COMMIT_SET_LIMIT_DATA_PID] != 0) {
    if (int32_t rc = Find(s, a[BP_COMMIT_SET_LIMIT_DATA_PID], &at); rc < 0) return rc;
  } else {
    at = Place{s.first_list, SETLIST_FIRST - 1, 0};
    if (int32_t rc = Step(s, &at); rc < 0) return rc;
  }
  for (int32_t steps = 0; at.page != last.page; ++steps) {
    if (steps > a[BP_COMMIT_SET_SIZE] + 1) return Internal(s, at.page);
    int32_t on = 0;
    if (int32_t rc = LastGroupOn(s, at.page, &on); rc < 0) return rc;
    if (on >= group) break;
    if (int32_t rc = Step(s, &at); rc < 0) return rc;
  }
  a[BP_COMMIT_SET_LIMIT_DATA_PID] = at.page;
  return at.page;
}

int32_t DKMarkCommitSet() {
  if (!IsTableEntry(LoadWord(BP_COMMIT_SET_TBL))) return 0;
  EnqdeqGuard guard(Bufferpool() + BP_LOCK_COMMIT_SET);
  return DKMarkCommitSetBelow(LowestOpenGroup());
}

void DKResetCommitSetRing() {
  for (int32_t w : {BP_COMMIT_SET_SIZE, BP_COMMIT_SET_FIRST_PID, BP_COMMIT_SET_INDEX_PID,
                    BP_COMMIT_SET_INDEX_POS, BP_COMMIT_SET_LIMIT_DATA_PID})
    StoreWord(w, 0);
}
