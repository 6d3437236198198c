// The set routines: append, read forwards and backwards, delete a record and
// drop a set, on the list and data pages of one set in one databank. Pages
// are held through the bufferpool; a list page is always taken before the
// data pages it names, so appends and deletes never wait for each other in a
// circle. Every word read from a page is checked before it is used.
#include "dk/set_table.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "dk/bitmap_page.h"
#include "dk/bufferpool.h"
#include "dk/compression.h"
#include "dk/set_pages.h"

namespace {

using namespace dkset;

struct Routines {
  int32_t append = RoutineIndex("DKAXR0");
  int32_t next = RoutineIndex("DKGXN0");
  int32_t previous = RoutineIndex("DKGXP0");
  int32_t remove = RoutineIndex("DKDXR0");
  int32_t drop = RoutineIndex("DKDXT0");
  int32_t roll_back = RoutineIndex("DKRXT0");
};
const Routines& Index() {
  static const Routines routines;
  return routines;
}

// The set's first list page, made for the first append. Another append may
// have made one meanwhile: then the new page goes back and that one serves.
int32_t StartChain(Set* s, int32_t mode, int32_t* list_page) {
  int32_t page = 0;
  const int32_t b = NewPage(*s, s->list_size, &page);
  if (b < 0) return b;
  int32_t* w = Words(b);
  w[SETLIST_MARK] = kSetListMark;
  w[SETLIST_DATA_SIZE] = s->data_size;
  w[SETLIST_LAST] = SETLIST_FIRST - 1;
  if (const int32_t rc = Finish(*s, s->work ? 0 : kWriteAtOnce, b, page, s->list_size, -60); rc < 0)
    return rc;
  const int32_t root = Get(*s, s->root_page, kRootPageSize, GET_UPDATE);
  if (root < 0) return root;
  int32_t* r = Words(root) + s->root_word + 1;
  if (r[SETROOT_FIRST_LIST] != 0) {
    *list_page = r[SETROOT_LAST_LIST];
    Release(root, GET_UPDATE);
    FreePage(*s, page, s->list_size);
    return 0;
  }
  r[SETROOT_FIRST_LIST] = r[SETROOT_LAST_LIST] = page;
  s->first_list = s->last_list = page;
  *list_page = page;
  (void)mode;
  return Finish(*s, s->work ? 0 : kWriteAtOnce, root, s->root_page, kRootPageSize, -61);
}

// The last list page of the chain, held for update: the root record may name
// an earlier one while an append that added a page is under way.
int32_t HoldLastList(const Set& s, int32_t page, int32_t* last_page) {
  int32_t b = GetList(s, page, GET_UPDATE);
  for (int32_t steps = 0; b > 0 && Words(b)[SETLIST_NEXT] != 0; ++steps) {
    const int32_t next = Words(b)[SETLIST_NEXT];
    Release(b, GET_UPDATE);
    if (steps > kMaxChain) return Fail(s, -63, page);
    page = next;
    b = GetList(s, page, GET_UPDATE);
  }
  *last_page = page;
  return b;
}

// Adds a list page after the held full one, which is given back; the new
// page comes back held, with its number in *page.
int32_t ExtendList(const Set& s, int32_t mode, int32_t full, int32_t* page) {
  int32_t new_page = 0;
  const int32_t b = NewPage(s, s.list_size, &new_page);
  if (b < 0) {
    Release(full, GET_UPDATE);
    return b;
  }
  int32_t* w = Words(b);
  w[SETLIST_MARK] = kSetListMark;
  w[SETLIST_DATA_SIZE] = s.data_size;
  w[SETLIST_PREV] = *page;
  w[SETLIST_LAST] = SETLIST_FIRST - 1;
  // The full page and the root record are about to name the new page: it
  // reaches disk first, empty, so that neither ever names a page not there.
  if (!s.work) {
    int32_t rq[REQ_WORDS] = {s.databank, new_page, s.list_size, 0, -1, 0};
    if (DKWRP0(rq, WRP_WRITE_HOLD, b) < 0) {
      Release(b, GET_UPDATE);
      Release(full, GET_UPDATE);
      return Fail(s, -60, new_page);
    }
  }
  Words(full)[SETLIST_NEXT] = new_page;
  int32_t rc = Finish(s, mode, full, *page, s.list_size, -60);
  if (rc == 0) rc = UpdateRoot(s, mode, new_page, -1);
  if (rc < 0) {
    Release(b, GET_UPDATE);
    return rc;
  }
  *page = new_page;
  return b;
}

bool IsChanged(int32_t buffer) {
  const int32_t status = BufferIoStatus(buffer);
  return status == IOS_CHANGED || status == IOS_CHANGED_KEPT || status == IOS_CHANGED_HELD;
}

// A new data page reaches disk before the list page that names it: it is
// linked to the list page, whose progress mark says up to which entry the
// list on disk names pages known to be there (all it names when the list
// page is clean, else no more than its mark, and none when it has none), so
// that a write of the list walks the later entries first. `before` is the
// list's last entry before the new one.
void LinkToList(const Set& s, int32_t list, int32_t data, int32_t before) {
  if (s.work) return;
  const int32_t mark = DKGPA0(GPA_PROGRESS, list);
  int32_t known = before;
  if (IsChanged(list)) known = mark > 0 ? std::min(mark, before) : SETLIST_FIRST - 1;
  DKMRK0(known, MRK_PROGRESS, list);
  DKMRK0(list, MRK_LINK, data);
}

// Before a list page is written at once, every data page it names that an
// earlier append left changed in the pool is written: those behind its
// progress mark (the last entry known to be on disk), which then moves to the
// last entry.
int32_t WriteEarlierPages(const Set& s, int32_t list, int32_t written) {
  const int32_t* l = Words(list);
  const int32_t mark = DKGPA0(GPA_PROGRESS, list);
  for (int32_t slot = std::max(mark + 1, SETLIST_FIRST); slot <= l[SETLIST_LAST]; ++slot) {
    if (l[slot] == written) continue;
    int32_t rq[REQ_WORDS] = {s.databank, l[slot], s.data_size, 0, -1, 0};
    const int32_t b = DKGET0(rq, GET_UPDATE_IF_RESIDENT);
    if (b < 0) return b;
    if (b == 0) continue;
    if (!IsChanged(b)) {
      DKPUT0(PUT_UNCHANGED, b);
    } else if (DKWRP0(rq, WRP_WRITE_WAIT, b) < 0) {
      return Fail(s, -62, l[slot]);
    }
  }
  DKMRK0(l[SETLIST_LAST], MRK_PROGRESS, list);
  return 0;
}

int32_t Append(std::span<int32_t> block, Set& s) {
  const int32_t mode = block[SETRQ_RC];
  const int32_t length = block[SETRQ_LENGTH];
  if (length < 0 || length > SetMaxRecordWords(s.data_size) ||
      SETRQ_RECORD + int64_t{length} > static_cast<int64_t>(block.size()))
    return Fail(s, -67, length, 2);
  std::vector<int32_t> form;
  if (const int32_t rc = StoredForm(s, block.data() + SETRQ_RECORD, length, &form); rc < 0)
    return rc;
  // A compressed form a little longer than the record may not fit a page.
  if (static_cast<int64_t>(form.size()) > SetMaxRecordWords(s.data_size))
    return Fail(s, -67, length, 2);
  const int32_t n = static_cast<int32_t>(form.size()) + 2;
  int32_t list_page = s.last_list;
  if (list_page == 0)
    if (const int32_t rc = StartChain(&s, mode, &list_page); rc < 0) return rc;
  int32_t list = HoldLastList(s, list_page, &list_page);
  if (list <= 0) return list;
  int32_t data = 0, data_page = 0;
  const int32_t last = Words(list)[SETLIST_LAST];
  if (last >= SETLIST_FIRST) {
    data_page = Words(list)[last];
    data = GetData(s, data_page, GET_UPDATE);
    if (data < 0) {
      Release(list, GET_UPDATE);
      return data;
    }
    // A record that would fill the page exactly goes to a new page.
    if (n >= s.data_words() - Words(data)[SETDATA_END]) {
      Release(data, GET_UPDATE);
      data = 0;
    }
  }
  bool list_changed = false;
  if (data == 0) {
    if (last + 1 >= s.list_words()) {
      list = ExtendList(s, mode, list, &list_page);
      if (list < 0) return list;
    }
    data = NewPage(s, s.data_size, &data_page);
    if (data < 0) {
      Release(list, GET_UPDATE);
      return data;
    }
    int32_t* d = Words(data);
    d[SETDATA_MARK] = kSetDataMark;
    d[SETDATA_END] = SETDATA_FIRST;
    d[SETDATA_LIST] = list_page;
    int32_t* l = Words(list);
    LinkToList(s, list, data, l[SETLIST_LAST]);
    l[SETLIST_LAST] += 1;
    l[l[SETLIST_LAST]] = data_page;
    list_changed = true;
  }
  int32_t* d = Words(data);
  const int32_t q = d[SETDATA_END];
  d[q] = n;
  std::copy(form.begin(), form.end(), d + q + 1);
  d[q + n - 1] = n;
  d[SETDATA_END] = q + n;
  SealData(s, data);
  block[SETRQ_DATA_PAGE_SIZE] = s.data_size;
  block[SETRQ_PAGE] = data_page;
  block[SETRQ_POSITION] = q + n;
  // The data page reaches the file before the list page that names it: when
  // a page it names could not be written, the list page stays in the pool,
  // changed but not written.
  int32_t rc = Finish(s, mode, data, data_page, s.data_size, -62);
  if (rc == 0 && mode == kWriteAtOnce && !s.work) rc = WriteEarlierPages(s, list, data_page);
  list_changed = list_changed || (mode == kWriteAtOnce && IsChanged(list));
  if (rc < 0) {
    if (list_changed) {
      DKPUT0(PUT_CHANGED, list);
    } else {
      Release(list, GET_UPDATE);
    }
    return rc;
  }
  if (!list_changed) {
    Release(list, GET_UPDATE);
    return 0;
  }
  return Finish(s, mode, list, list_page, s.list_size, -60);
}

// The first data page named in the chain from list page `page` on (entry
// `from` of the first page, the first entry of every later one); 0 when none.
int32_t FirstEntryFrom(const Set& s, int32_t page, int32_t from) {
  for (int32_t steps = 0; page != 0; ++steps) {
    if (steps > kMaxChain) return Fail(s, -63, page);
    const int32_t b = GetList(s, page, GET_SHARED);
    if (b < 0) return b;
    const int32_t* w = Words(b);
    const int32_t found = from <= w[SETLIST_LAST] ? w[from] : 0;
    const int32_t next = w[SETLIST_NEXT];
    Release(b, GET_SHARED);
    if (found != 0) return found;
    page = next;
    from = SETLIST_FIRST;
  }
  return 0;
}

// As FirstEntryFrom, backwards: entry `from` of the first page (-1: its last),
// the last entry of every earlier one.
int32_t LastEntryFrom(const Set& s, int32_t page, int32_t from) {
  for (int32_t steps = 0; page != 0; ++steps) {
    if (steps > kMaxChain) return Fail(s, -63, page);
    const int32_t b = GetList(s, page, GET_SHARED);
    if (b < 0) return b;
    const int32_t* w = Words(b);
    if (from < 0) from = w[SETLIST_LAST];
    const int32_t found = from >= SETLIST_FIRST && from <= w[SETLIST_LAST] ? w[from] : 0;
    const int32_t previous = w[SETLIST_PREV];
    Release(b, GET_SHARED);
    if (found != 0) return found;
    page = previous;
    from = -1;
  }
  return 0;
}

// The data page after (`step` 1) or before (-1) `data_page`, found through
// the list page that names it (its own word 3 first, then the later list
// pages); 0 when none follows or precedes. A data page that none of them
// names is damaged (-65): ending the set there would hide the records behind.
int32_t NeighbourPage(const Set& s, int32_t data_page, int32_t list_page, int step) {
  for (int32_t steps = 0; list_page != 0; ++steps) {
    if (steps > kMaxChain) return Fail(s, -63, list_page);
    const int32_t b = GetList(s, list_page, GET_SHARED);
    if (b < 0) return b;
    const int32_t* w = Words(b);
    int32_t slot = 0;
    for (int32_t i = SETLIST_FIRST; i <= w[SETLIST_LAST] && slot == 0; ++i)
      if (w[i] == data_page) slot = i;
    const int32_t next = w[SETLIST_NEXT];
    Release(b, GET_SHARED);
    if (slot != 0)
      return step > 0 ? FirstEntryFrom(s, list_page, slot + 1)
                      : LastEntryFrom(s, list_page, slot - 1);
    list_page = next;
  }
  return Fail(s, -65, data_page);
}

int32_t CopyOut(std::span<int32_t> block, const Set& s, int32_t* w, int32_t page, int32_t q) {
  const int32_t n = w[q];
  const int32_t length = IsCompressedRecord(s, n) ? w[q + 1] : n - 2;
  if (length < 0 || SETRQ_RECORD + int64_t{length} > static_cast<int64_t>(block.size()))
    return Fail(s, -43, length, 2);
  int32_t* out = block.data() + SETRQ_RECORD;
  if (!IsCompressedRecord(s, n)) {
    std::memcpy(out, w + q + 1, sizeof(int32_t) * length);
  } else {
    if (length <= kPlainHead) return Fail(s, -65, page);
    std::memcpy(out, w + q + 2, sizeof(int32_t) * kPlainHead);
    int32_t produced = (length - kPlainHead) * 4;
    const int32_t capacity = produced;
    DKExpand(BytesOf(out, length), kPlainHead * 4, &produced, BytesOf(w, q + n - 1),
             (q + 2 + kPlainHead) * 4, (n - kCompressedFrame) * 4, s.method);
    if (produced != capacity) return Fail(s, -65, page);
  }
  block[SETRQ_LENGTH] = length;
  block[SETRQ_PAGE] = page;
  block[SETRQ_POSITION] = q;
  block[SETRQ_DATA_PAGE_SIZE] = s.data_size;
  return 0;
}

// True when the record at q holds the `length` words at `record`.
bool SameRecord(const Set& s, int32_t* w, int32_t q, const int32_t* record, int32_t length) {
  const int32_t n = w[q];
  if (!IsCompressedRecord(s, n))
    return n == length + 2 && std::memcmp(w + q + 1, record, sizeof(int32_t) * length) == 0;
  if (w[q + 1] != length || length <= kPlainHead ||
      std::memcmp(w + q + 2, record, sizeof(int32_t) * kPlainHead) != 0)
    return false;
  std::vector<int32_t> rest(record + kPlainHead, record + length);
  return DKCompareKey(BytesOf(w, q + n - 1), (q + 2 + kPlainHead) * 4,
                      BytesOf(rest.data(), length - kPlainHead), 0, (length - kPlainHead) * 4,
                      s.method) == 0;
}

int32_t AtEnd(std::span<int32_t> block) {
  block[SETRQ_PAGE] = 0;
  return SET_END;
}

int32_t ReadNext(std::span<int32_t> block, const Set& s) {
  int32_t page = block[SETRQ_PAGE];
  int32_t q = block[SETRQ_POSITION];
  bool step = block[SETRQ_RC] == 0;
  if (page == 0) {
    page = FirstEntryFrom(s, s.first_list, SETLIST_FIRST);
    q = SETDATA_FIRST;
    step = false;
  }
  // The page after `page`, once found: `page` is read once more before the
  // read moves there.
  int32_t following = 0;
  for (int32_t steps = 0;; ++steps) {
    if (page <= 0) return page < 0 ? page : AtEnd(block);
    if (steps > kMaxChain) return Fail(s, -65, page);
    const int32_t b = GetData(s, page, GET_SHARED);
    if (b < 0) return b;
    int32_t* w = Words(b);
    // A page looked at once more may have lost records to a delete meanwhile.
    if (q < SETDATA_FIRST || (q > w[SETDATA_END] && following == 0)) {
      Release(b, GET_SHARED);
      return Fail(s, -43, q, 2);
    }
    if (step && q < w[SETDATA_END]) {
      const int32_t n = RecordAt(w, q);
      if (n == 0) {
        Release(b, GET_SHARED);
        return Fail(s, -65, page);
      }
      q += n;
    }
    step = false;
    if (q < w[SETDATA_END]) {
      const int32_t rc = RecordAt(w, q) != 0 ? CopyOut(block, s, w, page, q) : Fail(s, -65, page);
      Release(b, GET_SHARED);
      return rc;
    }
    const int32_t list_page = w[SETDATA_LIST];
    Release(b, GET_SHARED);
    if (following != 0) {
      page = following;
      following = 0;
      q = SETDATA_FIRST;
      continue;
    }
    // Appends go to a page only while it is the last: an append may have
    // added to this one since its end was read, but not once a page follows
    // it. So with a page found behind it, this page is looked at once more.
    following = NeighbourPage(s, page, list_page, 1);
    if (following <= 0) {
      page = following;
      following = 0;
    }
  }
}

// The set's last data page, 0 when it has none. The root record may lag
// behind an append that added a list page, so the chain is followed on.
int32_t LastDataPage(const Set& s) {
  int32_t last_list = s.last_list;
  for (int32_t steps = 0; last_list != 0; ++steps) {
    const int32_t b = GetList(s, last_list, GET_SHARED);
    if (b < 0) return b;
    const int32_t next = Words(b)[SETLIST_NEXT];
    Release(b, GET_SHARED);
    if (next == 0 || steps > kMaxChain) break;
    last_list = next;
  }
  return LastEntryFrom(s, last_list, -1);
}

int32_t ReadPrevious(std::span<int32_t> block, const Set& s) {
  int32_t page = block[SETRQ_PAGE];
  int32_t q = block[SETRQ_POSITION];
  if (page == 0) {
    page = LastDataPage(s);
    q = -1;
  }
  for (int32_t steps = 0;; ++steps) {
    if (page <= 0) return page < 0 ? page : AtEnd(block);
    if (steps > kMaxChain) return Fail(s, -65, page);
    const int32_t b = GetData(s, page, GET_SHARED);
    if (b < 0) return b;
    int32_t* w = Words(b);
    if (q == -1) q = w[SETDATA_END];
    if (q < SETDATA_FIRST || q > w[SETDATA_END]) {
      Release(b, GET_SHARED);
      return Fail(s, -43, q, 2);
    }
    if (q > SETDATA_FIRST) {
      const int32_t n = RecordBefore(w, q);
      const int32_t rc = n != 0 ? CopyOut(block, s, w, page, q - n) : Fail(s, -65, page);
      Release(b, GET_SHARED);
      return rc;
    }
    const int32_t list_page = w[SETDATA_LIST];
    Release(b, GET_SHARED);
    page = NeighbourPage(s, page, list_page, -1);
    q = -1;
  }
}

// Takes the emptied data page out of its held list page and frees it; the
// position moves to the page that follows. 4 when none follows.
int32_t RemovePage(std::span<int32_t> block, const Set& s, int32_t list, int32_t list_page,
                   int32_t data, int32_t data_page) {
  int32_t* l = Words(list);
  int32_t slot = 0;
  for (int32_t i = SETLIST_FIRST; i <= l[SETLIST_LAST] && slot == 0; ++i)
    if (l[i] == data_page) slot = i;
  if (slot == 0) {
    Release(data, GET_UPDATE);
    Release(list, GET_UPDATE);
    return Fail(s, -55, data_page, 7);
  }
  const int32_t last = l[SETLIST_LAST];
  std::memmove(l + slot, l + slot + 1, sizeof(int32_t) * (last - slot));
  l[last] = 0;
  l[SETLIST_LAST] = last - 1;
  // The entries moved down may not be on disk: a write of the list walks
  // them again.
  if (!s.work && DKGPA0(GPA_PROGRESS, list) >= slot) DKMRK0(slot - 1, MRK_PROGRESS, list);
  const int32_t following = slot <= l[SETLIST_LAST] ? l[slot] : 0;
  const int32_t next_list = l[SETLIST_NEXT];
  // The list page reaches disk before the page is freed, whatever the mode:
  // a page freed and taken again is never named by the list on disk. When
  // it cannot be written, the emptied page stays allocated.
  // The emptied page is no longer listed: the list need not wait for it (a
  // write of the list would wait for this held page).
  if (!s.work) DKMRK0(list, MRK_UNLINK, data);
  const int32_t mode = block[SETRQ_RC];
  const int32_t rc = Finish(s, s.work ? mode : kWriteAtOnce, list, list_page, s.list_size, -60);
  if (rc < 0) {
    DKPUT0(PUT_CHANGED, data);
    return rc;
  }
  FreePage(s, data_page, s.data_size, data);
  int32_t next = following;
  if (next == 0 && next_list != 0) next = FirstEntryFrom(s, next_list, SETLIST_FIRST);
  if (next < 0) return next;
  block[SETRQ_PAGE] = next;
  block[SETRQ_POSITION] = SETDATA_FIRST;
  return next != 0 ? 0 : SET_END;
}

int32_t Delete(std::span<int32_t> block, const Set& s) {
  const int32_t page = block[SETRQ_PAGE], q = block[SETRQ_POSITION];
  const int32_t length = block[SETRQ_LENGTH];
  if (page <= 0) return Fail(s, -43, page, 2);
  if (length < 0 || SETRQ_RECORD + int64_t{length} > static_cast<int64_t>(block.size()))
    return Fail(s, -43, length, 2);
  // The list page is held before the data page, as appends hold them.
  int32_t data = GetData(s, page, GET_SHARED);
  if (data < 0) return data;
  const int32_t list_page = Words(data)[SETDATA_LIST];
  Release(data, GET_SHARED);
  const int32_t list = GetList(s, list_page, GET_UPDATE);
  if (list < 0) return list;
  data = GetData(s, page, GET_UPDATE);
  if (data < 0) {
    Release(list, GET_UPDATE);
    return data;
  }
  int32_t* d = Words(data);
  const int32_t used = d[SETDATA_END];
  const int32_t n = RecordAt(d, q);
  if (n == 0 || !SameRecord(s, d, q, block.data() + SETRQ_RECORD, length)) {
    Release(data, GET_UPDATE);
    Release(list, GET_UPDATE);
    if (q < SETDATA_FIRST || q > used) return Fail(s, -43, q, 2);
    return SET_NO_MATCH;
  }
  std::memmove(d + q, d + q + n, sizeof(int32_t) * (used - q - n));
  d[SETDATA_END] = used - n;
  if (d[SETDATA_END] > SETDATA_FIRST) {
    Release(list, GET_UPDATE);
    SealData(s, data);
    return Finish(s, block[SETRQ_RC], data, page, s.data_size, -62);
  }
  return RemovePage(block, s, list, list_page, data, page);
}

// Frees the data pages a list page names from entry `from` on.
void FreeEntries(const Set& s, const int32_t* l, int32_t from) {
  for (int32_t i = from; i <= l[SETLIST_LAST]; ++i) FreePage(s, l[i], s.data_size);
}

int32_t Drop(std::span<int32_t> block, const Set& s) {
  const bool keep = block[SETRQ_RC] > 0;
  if (s.first_list == 0) return 0;
  int32_t kept_data = 0, rc = 0;
  // The root lets go of the chain before any page of it is given back: a
  // drop stopped half way (or a crash) then leaves pages unused, never a
  // set that names pages another table may get.
  if (!keep)
    if (rc = UpdateRoot(s, kWriteAtOnce, 0, 0); rc < 0) return rc;
  int32_t page = s.first_list;
  for (int32_t steps = 0; page != 0; ++steps) {
    if (steps > kMaxChain) return Fail(s, -63, page);
    const int32_t list = GetList(s, page, GET_UPDATE);
    if (list < 0) return list;
    int32_t* l = Words(list);
    const int32_t next = l[SETLIST_NEXT];
    if (keep && page == s.first_list) {
      kept_data = l[SETLIST_LAST] >= SETLIST_FIRST ? l[SETLIST_FIRST] : 0;
      FreeEntries(s, l, kept_data != 0 ? SETLIST_FIRST + 1 : SETLIST_FIRST);
      std::fill(l + SETLIST_FIRST + 1, l + s.list_words(), 0);
      l[SETLIST_LAST] = kept_data != 0 ? SETLIST_FIRST : SETLIST_FIRST - 1;
      l[SETLIST_NEXT] = 0;
      rc = Finish(s, kWriteAtOnce, list, page, s.list_size, -60);
      if (rc < 0) return rc;
    } else {
      FreeEntries(s, l, SETLIST_FIRST);
      FreePage(s, page, s.list_size, list);
    }
    page = next;
  }
  if (kept_data != 0) {
    const int32_t data = GetData(s, kept_data, GET_UPDATE);
    if (data < 0) return data;
    Words(data)[SETDATA_END] = SETDATA_FIRST;
    SealData(s, data);
    rc = Finish(s, kWriteAtOnce, data, kept_data, s.data_size, -62);
    if (rc < 0) return rc;
  }
  return keep ? UpdateRoot(s, kWriteAtOnce, s.first_list, -1) : 0;
}

// Mark records carry the code 22 in their word 0 and the mark number in
// their word 2; in a compressed record these lie behind its plain length.
constexpr int32_t kMarkRecord = 22;
constexpr int32_t kMarkNumberWord = 2;

bool RecordWord(const Set& s, const int32_t* w, int32_t q, int32_t k, int32_t* value) {
  const int32_t n = w[q];
  if (IsCompressedRecord(s, n)) {
    if (k >= kPlainHead) return false;
    *value = w[q + 2 + k];
    return true;
  }
  if (k >= n - 2) return false;
  *value = w[q + 1 + k];
  return true;
}

bool IsMark(const Set& s, const int32_t* w, int32_t q, int32_t mark) {
  int32_t code = 0, number = 0;
  return RecordWord(s, w, q, 0, &code) && code == kMarkRecord &&
         RecordWord(s, w, q, kMarkNumberWord, &number) && number == mark;
}

// The mark record nearest the end of the set: its data page and the used end
// right behind it. -55 when the start of the set comes first.
int32_t FindMark(const Set& s, int32_t mark, int32_t* page, int32_t* end) {
  int32_t p = LastDataPage(s);
  for (int32_t steps = 0; p > 0; ++steps) {
    if (steps > kMaxChain) return Fail(s, -65, p);
    const int32_t b = GetData(s, p, GET_SHARED);
    if (b < 0) return b;
    const int32_t* w = Words(b);
    for (int32_t q = w[SETDATA_END]; q > SETDATA_FIRST;) {
      const int32_t n = RecordBefore(w, q);
      if (n == 0) {
        Release(b, GET_SHARED);
        return Fail(s, -65, p);
      }
      if (IsMark(s, w, q - n, mark)) {
        *page = p;
        *end = q;
        Release(b, GET_SHARED);
        return 0;
      }
      q -= n;
    }
    const int32_t list_page = w[SETDATA_LIST];
    Release(b, GET_SHARED);
    p = NeighbourPage(s, p, list_page, -1);
  }
  return p < 0 ? p : Fail(s, -55, mark, 2);
}

// The list page that names `data_page` and the entry's slot there, searched
// from the first list page on; the list page comes back held for update.
int32_t HoldListNaming(const Set& s, int32_t data_page, int32_t* list_page, int32_t* slot) {
  int32_t page = s.first_list;
  for (int32_t steps = 0; page != 0 && steps <= kMaxChain; ++steps) {
    const int32_t b = GetList(s, page, GET_UPDATE);
    if (b < 0) return b;
    const int32_t* w = Words(b);
    for (int32_t i = SETLIST_FIRST; i <= w[SETLIST_LAST]; ++i) {
      if (w[i] == data_page) {
        *list_page = page;
        *slot = i;
        return b;
      }
    }
    const int32_t next = w[SETLIST_NEXT];
    Release(b, GET_UPDATE);
    page = next;
  }
  return Fail(s, -55, data_page, 2);
}

// Cuts the set back to the used end `end` of `page`: the records behind it
// go, every later data page and every later list page is freed, and the
// list page that names `page` becomes the last.
int32_t CutBackTo(const Set& s, int32_t page, int32_t end) {
  int32_t list_page = 0, slot = 0;
  const int32_t list = HoldListNaming(s, page, &list_page, &slot);
  if (list < 0) return list;
  const int32_t data = GetData(s, page, GET_UPDATE);
  if (data < 0) {
    Release(list, GET_UPDATE);
    return data;
  }
  if (end > Words(data)[SETDATA_END]) {
    Release(data, GET_UPDATE);
    Release(list, GET_UPDATE);
    return Fail(s, -65, page);
  }
  Words(data)[SETDATA_END] = end;
  SealData(s, data);
  int32_t rc = Finish(s, 0, data, page, s.data_size, -62);
  int32_t* l = Words(list);
  const std::vector<int32_t> cut(l + slot + 1, l + std::max(l[SETLIST_LAST], slot) + 1);
  std::fill(l + slot + 1, l + s.list_words(), 0);
  l[SETLIST_LAST] = slot;
  int32_t next = l[SETLIST_NEXT];
  l[SETLIST_NEXT] = 0;
  // The list page and the root record reach disk naming none of the pages
  // cut before those are freed: a page freed and taken again is never named
  // on disk. When either cannot be written, the pages stay allocated.
  const int32_t mode = s.work ? 0 : kWriteAtOnce;
  if (const int32_t list_rc = Finish(s, mode, list, list_page, s.list_size, -60); list_rc < 0)
    return list_rc;
  if (const int32_t root_rc = UpdateRoot(s, mode, list_page, -1); root_rc < 0) return root_rc;
  for (const int32_t p : cut) FreePage(s, p, s.data_size);
  for (int32_t steps = 0; next != 0 && steps <= kMaxChain; ++steps) {
    const int32_t b = GetList(s, next, GET_UPDATE);
    if (b < 0) return b;
    FreeEntries(s, Words(b), SETLIST_FIRST);
    const int32_t after = Words(b)[SETLIST_NEXT];
    FreePage(s, next, s.list_size, b);
    next = after;
  }
  return rc;
}

// Ends the set at its first record whose length words do not frame it: the
// page holding it ends at the record before, every later data page goes
// (CutBackTo) and the page is written at once. A write of a page that the
// end of the process cut short leaves the page's new start (its used end
// among it) before the previous image's words, which hold zeros behind the
// used end of that image (SealData); everything from there on, and on later
// pages, was appended after that image was written. Answers 1 with the page,
// the new used end and the old one in words 6, 7 and 8 when it cut, 0 when
// every record is sound.
//
// A ring (return word 1 in: the commit set, whose pages are filled again
// in turn) keeps its later pages, which hold older records, and each page
// ends at its own first unsound record; words 6 to 8 name the last page cut.
int32_t EndAtSoundRecord(std::span<int32_t> block, const Set& s) {
  const bool ring = block[SETRQ_RC] == 1;
  int32_t page = FirstEntryFrom(s, s.first_list, SETLIST_FIRST);
  int32_t cut = 0;
  for (int32_t steps = 0; page > 0; ++steps) {
    if (steps > kMaxChain) return Fail(s, -65, page);
    const int32_t b = GetData(s, page, GET_SHARED);
    if (b < 0) return b;
    const int32_t* w = Words(b);
    const int32_t end = w[SETDATA_END], list_page = w[SETDATA_LIST];
    int32_t q = SETDATA_FIRST;
    for (int32_t n = 0; q < end && (n = RecordAt(w, q)) != 0;) q += n;
    Release(b, GET_SHARED);
    if (q < end) {
      if (!ring)
        if (const int32_t rc = CutBackTo(s, page, q); rc < 0) return rc;
      const int32_t data = GetData(s, page, GET_UPDATE);
      if (data < 0) return data;
      if (ring) {
        Words(data)[SETDATA_END] = q;
        SealData(s, data);
      }
      if (const int32_t rc = Finish(s, kWriteAtOnce, data, page, s.data_size, -62); rc < 0)
        return rc;
      block[SETRQ_PAGE] = page;
      block[SETRQ_POSITION] = q;
      block[SETRQ_LENGTH] = end;
      cut = 1;
      if (!ring) return 1;
    }
    page = NeighbourPage(s, page, list_page, 1);
  }
  return page < 0 ? page : cut;
}

int32_t RollBack(std::span<int32_t> block, const Set& s) {
  int32_t page = 0, end = 0;
  if (const int32_t rc = FindMark(s, block[SETRQ_RC], &page, &end); rc < 0) return rc;
  if (const int32_t rc = CutBackTo(s, page, end); rc < 0) return rc;
  block[SETRQ_PAGE] = page;
  block[SETRQ_POSITION] = end;
  block[SETRQ_DATA_PAGE_SIZE] = s.data_size;
  return 0;
}

// Opens the block's set for the routine, runs the step on it and leaves the
// result in the block.
template <typename Step>
int32_t Run(std::span<int32_t> block, int32_t routine, Step step) {
  Set s;
  int32_t rc = OpenSet(block, routine, &s);
  if (rc == 0) rc = step(block, s);
  if (!block.empty()) block[SETRQ_RC] = rc;
  return rc;
}

}  // namespace

int32_t SetMaxRecordWords(int32_t page_size) {
  // n = words + 2 must stay below the page's words after its header.
  return std::max(0, page_size / 4 - SETDATA_FIRST - 3);
}

int32_t DKAXR0(std::span<int32_t> block) {
  return Run(block, Index().append, Append);
}

int32_t DKGXN0(std::span<int32_t> block) {
  return Run(block, Index().next, ReadNext);
}

int32_t DKGXP0(std::span<int32_t> block) {
  return Run(block, Index().previous, ReadPrevious);
}

int32_t DKDXR0(std::span<int32_t> block) {
  return Run(block, Index().remove, Delete);
}

int32_t DKDXT0(std::span<int32_t> block) {
  return Run(block, Index().drop, Drop);
}

int32_t DKRXT0(std::span<int32_t> block) {
  return Run(block, Index().roll_back, RollBack);
}

int32_t DKEndSetAtSoundRecord(std::span<int32_t> block) {
  return Run(block, Index().next, EndAtSoundRecord);
}
