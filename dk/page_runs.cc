// Runs of pages: taking a run whole from the free runs or from new pages
// (DKALC0), giving runs back (DKDLC0), appending a run to a page list
// (DKELC0) and copying a run's pages into another databank (DKCLP1,
// DKCLP0). Free runs and page lists live in the kernel word storage; every
// record and list read from there is checked before its words are used.
#include "dk/page_runs.h"

#include <algorithm>
#include <cstring>

#include "dk/bitmap_page.h"
#include "dk/bufferpool.h"
#include "dk/databank_file.h"
#include "dk/databank_format.h"
#include "dk/large_object.h"
#include "dk/large_object_internal.h"
#include "dk/word_storage_access.h"
#include "platform/databank_io.h"

namespace {

constexpr int32_t kIndexDKELC0 = -145;
constexpr int32_t kIndexDKDLC0 = -142;
constexpr int32_t kIndexDKALC0 = -139;
constexpr int32_t kIndexDKCLP1 = -136;
constexpr int32_t kIndexDKCLP0 = -134;
// More free runs than this in one list means the list loops.
constexpr int32_t kMaxRuns = 1 << 22;
constexpr int32_t kMaxPairs = (INT32_MAX / 4 - 2) / 2;

int32_t UnitsOfSize(int32_t page_size) {
  return page_size == 2048 ? 1 : page_size == 16384 ? 8 : page_size == 65536 ? 32 : 0;
}

int32_t* RunRecord(int32_t record) {
  return DKStorageWords(record, FRR_BYTES / 4);
}

// Frees the pages of one run, each read for update first; -43 for a run that
// is no run of pages inside one chunk, before a page is touched. `*freed`
// (when not null) gets the pages freed before a failure.
int32_t FreeRun(int32_t databank, int32_t first, int32_t units, int32_t pages, int32_t routine,
                int32_t* freed = nullptr) {
  if (freed) *freed = 0;
  if ((units != 1 && units != 8 && units != 32) || pages < 0)
    return LobReport(routine, -43, pages < 0 ? pages : units, databank);
  if (pages == 0) return 0;
  const int32_t size = units * kUnitBytes;
  const int64_t last = first + int64_t{units} * (pages - 1);
  if (!LobPageSound(first, size) || !LobPageSound(last, size) ||
      first / kBitmapChunkUnits != last / kBitmapChunkUnits)
    return LobReport(routine, -43, first, databank);
  for (int32_t k = 0; k < pages; ++k) {
    if (int32_t rc = FreeLobPage(databank, first + k * units, size)) return rc;
    if (freed) *freed = k + 1;
  }
  return 0;
}

// Frees the run of the free run record that `*link` names and takes the
// record off the list. A run that fails part-way stays on the list with the
// pages it still holds: taken off, they would be named nowhere and lost.
int32_t FreeRecordRun(int32_t databank, int32_t* link) {
  const int32_t record = *link;
  int32_t* w = RunRecord(record);
  int32_t freed = 0;
  if (int32_t rc =
          FreeRun(databank, w[FRR_PAGE], w[FRR_UNITS], w[FRR_PAGES], kIndexDKDLC0, &freed)) {
    w[FRR_PAGE] += freed * w[FRR_UNITS];
    w[FRR_PAGES] -= freed;
    return rc;
  }
  *link = w[FRR_LINK];
  DKStorageRelease(record);
  return 0;
}

// A list's capacity word and its words (capacity word, pairs, end word).
int32_t* ListWords(int32_t list, int32_t* capacity) {
  const int32_t* head = list > 1 ? DKStorageWords(list - 1, 1) : nullptr;
  if (head == nullptr || *head < 0 || *head > kMaxPairs) return nullptr;
  *capacity = *head;
  return DKStorageWords(list - 1, 2 * *head + 2);
}

// A new list with room for `pairs` pairs, empty: its index, 0 without room.
int32_t NewList(int32_t pairs) {
  const int32_t block = DKStorageAllocate(pairs * 8 + 8);
  int32_t* w = block ? DKStorageWords(block, 2 * pairs + 2) : nullptr;
  if (w == nullptr) return 0;
  w[0] = pairs;
  w[1] = 0;
  return block + 1;
}

// Takes new pages one by one until `pages` of them follow each other; the
// runs that broke off go to the head of the free runs.
int32_t TakeNewRun(int32_t databank, int32_t units, int32_t pages, int32_t* free_runs,
                   int32_t* first_page) {
  int32_t start = 0, count = 0;
  for (;;) {
    int32_t rq[REQ_WORDS] = {databank, 0, units * kUnitBytes, 0, -1, 0};
    if (int32_t rc = DKHLD0(rq, 0); rc < 0) {
      FreeRun(databank, start, units, count, kIndexDKALC0);
      DKDLC0(databank, 0, units, 0, free_runs);
      return rc;
    }
    const int32_t page = rq[REQ_PAGE];
    if (count > 0 && page != start + count * units) {
      const int32_t record = DKStorageAllocate(FRR_BYTES);
      int32_t* w = record ? RunRecord(record) : nullptr;
      if (w == nullptr) {
        FreeRun(databank, page, units, 1, kIndexDKALC0);
        FreeRun(databank, start, units, count, kIndexDKALC0);
        return 1;
      }
      w[FRR_LINK] = *free_runs;
      w[FRR_PAGE] = start;
      w[FRR_UNITS] = units;
      w[FRR_PAGES] = count;
      *free_runs = record;
      count = 0;
    }
    if (count++ == 0) start = page;
    if (count == pages) {
      *first_page = start;
      return 0;
    }
  }
}

}  // namespace

int32_t DKDLC0(int32_t databank, int32_t first_page, int32_t units, int32_t pages,
               int32_t* run_list) {
  if (int32_t rc = FreeRun(databank, first_page, units, pages, kIndexDKDLC0)) return rc;
  for (int32_t n = 0; run_list != nullptr && *run_list != 0; ++n) {
    const int32_t record = *run_list;
    if (RunRecord(record) == nullptr || n == kMaxRuns)
      return LobReport(kIndexDKDLC0, -43, record, databank);
    if (int32_t rc = FreeRecordRun(databank, run_list)) return rc;
  }
  return 0;
}

int32_t DKALC0(int32_t databank, int32_t page_size, int32_t pages, int32_t* free_runs,
               int32_t* first_page) {
  *first_page = 0;
  const int32_t units = UnitsOfSize(page_size);
  if (units == 0) return LobReport(kIndexDKALC0, -76, page_size);
  if (pages < 0) return LobReport(kIndexDKALC0, -43, pages);
  if (pages == 0) return 0;
  // A free run of exactly this shape is taken as it is.
  int32_t* best_link = nullptr;
  int64_t best_total = 0;
  int32_t n = 0;
  for (int32_t* link = free_runs; *link != 0; ++n) {
    int32_t* w = RunRecord(*link);
    if (w == nullptr || n == kMaxRuns) return LobReport(kIndexDKALC0, -43, *link, databank);
    if (w[FRR_UNITS] == units && w[FRR_PAGES] == pages) {
      const int32_t record = *link;
      *first_page = w[FRR_PAGE];
      *link = w[FRR_LINK];
      DKStorageRelease(record);
      return 0;
    }
    const int64_t total = int64_t{w[FRR_UNITS]} * w[FRR_PAGES];
    if (total > int64_t{units} * pages && (best_link == nullptr || total < best_total)) {
      best_link = link;
      best_total = total;
    }
    link = w + FRR_LINK;
  }
  // Else the smallest larger one goes back to the databank first.
  if (best_link != nullptr)
    if (int32_t rc = FreeRecordRun(databank, best_link)) return rc;
  return TakeNewRun(databank, units, pages, free_runs, first_page);
}

int32_t DKELC0(int32_t first_page, int32_t page_size, int32_t pages, int32_t* list,
               int32_t* counter) {
  const int32_t units = UnitsOfSize(page_size);
  if (units == 0) return LobReport(kIndexDKELC0, -76, page_size);
  if (pages < 0 ||
      (pages > 0 && !LobPageSound(first_page + int64_t{units} * (pages - 1), page_size)) ||
      (pages > 0 && !LobPageSound(first_page, page_size)))
    return LobReport(kIndexDKELC0, -43, pages < 0 ? pages : first_page);
  if (*list == 0) {
    const int32_t made = NewList(std::max(pages, kMinListPairs));
    if (made == 0) return 1;
    *list = made;
    *counter = 1;
  }
  int32_t capacity = 0;
  int32_t* w = ListWords(*list, &capacity);
  const int32_t used = (*counter - 1) / 2;
  if (w == nullptr || *counter < 1 || *counter % 2 == 0 || used > capacity)
    return LobReport(kIndexDKELC0, -43, *counter);
  const int64_t need = int64_t{used} + pages;
  if (need > kMaxPairs) return LobReport(kIndexDKELC0, -43, pages);
  if (need > capacity) {
    const int32_t grown = static_cast<int32_t>(std::max<int64_t>(capacity + capacity / 2, need));
    const int32_t made = NewList(grown);
    if (made == 0) return 1;
    int32_t* fresh = DKStorageWords(made - 1, 2 * grown + 2);
    std::memcpy(fresh + 1, w + 1, sizeof(int32_t) * static_cast<size_t>(2 * used + 1));
    DKStorageRelease(*list - 1);
    *list = made;
    capacity = grown;
    w = fresh;
  }
  int32_t* pairs = w + 1;
  for (int32_t k = 0; k < pages; ++k) {
    pairs[2 * (used + k)] = first_page + k * units;
    pairs[2 * (used + k) + 1] = page_size;
  }
  pairs[2 * (used + pages)] = 0;
  *counter += 2 * pages;
  return 0;
}

int32_t DKCLP1(int32_t source, int32_t target, int32_t source_page, int32_t target_page,
               int32_t page_size, int32_t pages, int32_t* list1, int32_t* list2) {
  const int32_t units = UnitsOfSize(page_size);
  if (units == 0) return LobReport(kIndexDKCLP1, -76, page_size);
  if (pages < 0 || pages > kMaxPairs) return LobReport(kIndexDKCLP1, -43, pages);
  // The copy wants two lists of one capacity: lists too small for the run,
  // or of different capacities, are made afresh with room for it.
  int32_t c1 = -1, c2 = -1;
  if (*list1 != 0 && ListWords(*list1, &c1) == nullptr) c1 = -1;
  if (*list2 != 0 && ListWords(*list2, &c2) == nullptr) c2 = -1;
  if (c1 < pages || c2 < pages || c1 != c2) {
    for (int32_t* l : {list1, list2}) {
      if (*l != 0) DKStorageRelease(*l - 1);
      *l = NewList(std::max(pages, 1));
    }
    if (*list1 == 0 || *list2 == 0) return 1;
  }
  int32_t capacity = 0;
  int32_t* w1 = ListWords(*list1, &capacity);
  int32_t* w2 = ListWords(*list2, &capacity);
  for (int32_t k = 0; k < pages; ++k) {
    w1[1 + 2 * k] = source_page + k * units;
    w2[1 + 2 * k] = target_page + k * units;
    w1[2 + 2 * k] = w2[2 + 2 * k] = page_size;
  }
  w1[1 + 2 * pages] = w2[1 + 2 * pages] = 0;
  return DKCLP0(source, target, *list1, *list2);
}

int32_t DKCLP0(int32_t source, int32_t target, int32_t list1, int32_t list2) {
  int32_t c1 = 0, c2 = 0;
  const int32_t* w1 = ListWords(list1, &c1);
  const int32_t* w2 = ListWords(list2, &c2);
  if (w1 == nullptr || w2 == nullptr || c1 < 1 || c1 != c2)
    return LobReport(kIndexDKCLP0, -43, w1 && w2 ? c1 : 0);
  const int32_t* from = w1 + 1;
  const int32_t* to = w2 + 1;
  int32_t n = 0;
  while (n < c1 && from[2 * n] != 0) ++n;
  for (int32_t i = 0; i < n; ++i) {
    const int32_t size = from[2 * i + 1];
    if (UnitsOfSize(size) == 0 || to[2 * i + 1] != size)
      return LobReport(kIndexDKCLP0, -76, to[2 * i + 1]);
    if (!LobPageSound(from[2 * i], size) || !LobPageSound(to[2 * i], size))
      return LobReport(kIndexDKCLP0, -43, to[2 * i], target);
  }
  const int32_t channel = Bufferpool()[target + DBE_CHANNEL];
  for (int32_t i = 0; i < n; ++i) {
    const int32_t size = from[2 * i + 1], page = to[2 * i];
    // A copy of the target page left in the pool would hide the one written.
    int32_t trq[REQ_WORDS] = {target, page, size, 0, -1, 0};
    if (int32_t resident = DKGET0(trq, GET_UPDATE_IF_RESIDENT); resident > 0)
      DKWRP0(trq, WRP_DROP, resident);
    int32_t rq[REQ_WORDS] = {source, from[2 * i], size, 0, -1, 0};
    const int32_t b = DKGET0(rq, GET_SHARED);
    if (b < 0) return b;
    int32_t io[IO_REQUEST_WORDS] = {0, -1, channel, page, size};
    mdrdmw(io, PageBytes(b));
    if (i + 1 < n) {
      int32_t next[REQ_WORDS] = {source, from[2 * i + 2], from[2 * i + 3], 0, -1, 0};
      DKGET0(next, GET_PREFETCH);
    }
    if (io[IO_RC] > 0) mdrdma(io);
    DKPUT0(PUT_END_SHARED, b);
    if (io[IO_RC] < 0) {
      ReportPageError(kIndexDKCLP0, -44, 3, page, target, io[IO_OS_STATUS]);
      return -44;
    }
  }
  return 0;
}
