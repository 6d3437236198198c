// The copy of a set into another table's databank (DKCPX0): every list page
// and every data page it names gets a new page in the target's file, data
// pages first, so that no list page reaches the file before the pages it
// names. The source is read shared and left as it is.
#include <algorithm>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/set_pages.h"
#include "dk/set_table.h"

namespace {

using namespace dkset;

int32_t CopyIndex() {
  static const int32_t index = RoutineIndex("DKCPX0");
  return index;
}

// Copies the used words of one source data page into a new page of the
// target, naming `list_page` as its list page; its number goes to *copy.
int32_t CopyDataPage(const Set& from, const Set& to, int32_t mark, int32_t page, int32_t list_page,
                     int32_t list_buffer, int32_t* copy) {
  const int32_t source = GetData(from, page, GET_SHARED);
  if (source < 0) return source;
  const int32_t target = NewPage(to, to.data_size, copy);
  if (target < 0) {
    Release(source, GET_SHARED);
    return target;
  }
  const int32_t* s = Words(source);
  int32_t* t = Words(target);
  std::copy(s + 1, s + s[SETDATA_END], t + 1);
  Release(source, GET_SHARED);
  t[SETDATA_LIST] = list_page;
  SealData(to, target);
  if (mark > 0 && !to.work) DKMRK0(mark, MRK_WRITE_SET, target);
  if (!to.work) DKMRK0(list_buffer, MRK_LINK, target);
  return Finish(to, kWriteAtOnce, target, *copy, to.data_size, -62);
}

// Copies one source list page and the data pages it names; the new list page
// follows `previous` (0 for the first) and its number goes to *copy.
int32_t CopyListPage(const Set& from, const Set& to, int32_t mark, int32_t page, int32_t previous,
                     int32_t* copy, int32_t* next) {
  const int32_t source = GetList(from, page, GET_SHARED);
  if (source < 0) return source;
  std::vector<int32_t> entries(Words(source) + SETLIST_FIRST,
                               Words(source) + Words(source)[SETLIST_LAST] + 1);
  *next = Words(source)[SETLIST_NEXT];
  Release(source, GET_SHARED);
  const int32_t list = NewPage(to, to.list_size, copy);
  if (list < 0) return list;
  int32_t* l = Words(list);
  l[SETLIST_MARK] = kSetListMark;
  l[SETLIST_DATA_SIZE] = to.data_size;
  l[SETLIST_PREV] = previous;
  l[SETLIST_LAST] = SETLIST_FIRST - 1;
  for (const int32_t data_page : entries) {
    int32_t data_copy = 0;
    const int32_t rc = CopyDataPage(from, to, mark, data_page, *copy, list, &data_copy);
    if (rc < 0) {
      Release(list, GET_UPDATE);
      return rc;
    }
    l[++l[SETLIST_LAST]] = data_copy;
  }
  if (mark > 0 && !to.work) DKMRK0(mark, MRK_WRITE_SET, list);
  return Finish(to, kWriteAtOnce, list, *copy, to.list_size, -60);
}

// Links the new list page `page` behind `previous` in the target.
int32_t LinkListPage(const Set& to, int32_t previous, int32_t page) {
  const int32_t b = GetList(to, previous, GET_UPDATE);
  if (b < 0) return b;
  Words(b)[SETLIST_NEXT] = page;
  return Finish(to, kWriteAtOnce, b, previous, to.list_size, -60);
}

int32_t Copy(std::span<int32_t> source, std::span<int32_t> target) {
  Set from, to;
  if (const int32_t rc = OpenSet(source, CopyIndex(), &from); rc < 0) return rc;
  if (const int32_t rc = OpenSet(target, CopyIndex(), &to); rc < 0) return rc;
  // The stored forms are copied word for word, so both sets must read them
  // alike; a target with pages of its own would lose them.
  if (to.data_size != from.data_size || to.list_size != from.list_size ||
      to.method != from.method || to.first_list != 0)
    return Fail(to, -43, target[SETRQ_TBL], 2);
  const int32_t mark = source[SETRQ_RC];
  int32_t first = 0, last = 0;
  int32_t page = from.first_list;
  for (int32_t steps = 0; page != 0; ++steps) {
    if (steps > kMaxChain) return Fail(from, -63, page);
    int32_t copy = 0, next = 0;
    if (const int32_t rc = CopyListPage(from, to, mark, page, last, &copy, &next); rc < 0)
      return rc;
    if (last != 0)
      if (const int32_t rc = LinkListPage(to, last, copy); rc < 0) return rc;
    if (first == 0) first = copy;
    last = copy;
    page = next;
  }
  if (first == 0) return 0;
  return UpdateRoot(to, kWriteAtOnce, last, first);
}

}  // namespace

int32_t DKCPX0(std::span<int32_t> source, std::span<int32_t> target) {
  const int32_t rc = Copy(source, target);
  if (!source.empty()) source[SETRQ_RC] = rc;
  return rc;
}
