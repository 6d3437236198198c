// DKPAG0: acting on many buffers at once. Writes the changed buffers of a
// databank or those of a write set, the pages others wait for last, and
// drops the buffers of a databank; each scan tests a BCB under its
// partition lock and writes what it chose after the lock is given back.
#include <set>
#include <tuple>
#include <vector>

#include "dk/bitmap_page.h"
#include "dk/bufferpool.h"
#include "dk/bufferpool_internal.h"
#include "dk/test_points.h"
#include "platform/enqdeq.h"

namespace bufferpool_internal {

void NoteError(int32_t* request, int32_t rc, int32_t os) {
  request[PAGREQ_RC] = rc;
  request[PAGREQ_OS_ERROR] = os;
}

// The identity of a BCB, read under the partition lock of its bucket.
Collected IdentityOf(int32_t pool, int32_t bcb) {
  int32_t databank = LoadWord(bcb + BCB_DATABANK);
  if (databank == 0) return {0, 0, 0};
  int32_t part = PartitionOfBucket(pool, BucketOf(pool, databank, LoadWord(bcb + BCB_PAGE)));
  enqdeq_take(Sem(part + GROUP_LOCK));
  Collected c{LoadWord(bcb + BCB_DATABANK), LoadWord(bcb + BCB_PAGE),
              LoadWord(pool + PART_PAGE_SIZE)};
  enqdeq_give(Sem(part + GROUP_LOCK));
  return c;
}

}  // namespace bufferpool_internal

using namespace bufferpool_internal;

namespace {

constexpr int kCollectBatch = 100;
constexpr int kSetApartMax = 10;

bool Chosen(int32_t code, int32_t bcb, const int32_t* request) {
  int32_t databank = LoadWord(bcb + BCB_DATABANK);
  if (databank == 0) return false;
  int32_t ws = LoadWord(bcb + BCB_WS_STATUS);
  switch (code) {
    case PAG_FLUSH:
    case PAG_FLUSH_NO_PREFETCH:
      // Pages whose write failed are chosen too: getting them reports the
      // failure, so a flush never answers success over lost changes. So are
      // pages being written (a swap-out, another thread's write): they read
      // as unchanged meanwhile, and getting them waits for the write's end,
      // so that a flush never answers before a change it covers is on disk.
      return databank == request[PAGREQ_DATABANK] &&
             (IsChanged(bcb) || LoadWord(bcb + BCB_UNWRITTEN) != 0 ||
              LoadWord(bcb + BCB_IO_STATUS) == IOS_IN_PROGRESS);
    case PAG_WRITE_SETS_UP_TO:
      return (ws == WS_IN_SET || ws == WS_WRITING) &&
             LoadWord(bcb + BCB_ORDER) <= request[PAGREQ_ORDER];
    case PAG_WRITE_SET:
      return (ws == WS_IN_SET || ws == WS_WRITING) &&
             LoadWord(bcb + BCB_ORDER) == request[PAGREQ_ORDER];
    case PAG_BEFORE:
      return LoadWord(bcb + BCB_WAITER) == request[PAGREQ_BCB];
    case PAG_MARKED:
      return ws == WS_MARKED && LoadWord(bcb + BCB_ORDER) == request[PAGREQ_ORDER];
  }
  return false;
}

// Writes one collected page when it is still changed; `wait_first` pages are
// written with their predecessors.
void WriteCollected(int32_t* request, const Collected& c) {
  int32_t rq[REQ_WORDS] = {c.databank, c.page, c.page_size, 0, -1, 0};
  int32_t buffer = DKGET0(rq, GET_UPDATE_IF_RESIDENT);
  if (buffer <= 0) {
    if (buffer < 0) NoteError(request, rq[REQ_RC], rq[REQ_OS_ERROR]);
    return;
  }
  int32_t bcb = BufferBcb(buffer);
  if (!IsChanged(bcb)) {
    // On disk as it is: a page waiting for it need not wait any longer.
    UndoWaitingLink(bcb, false);
    DKPUT0(PUT_UNCHANGED, buffer);
    return;
  }
  int32_t* words = PageWords(buffer);
  if (words[LIST_KIND] == LIST_KIND_VALUE) return WriteListPage(request, c, buffer);
  if (LoadWord(bcb + BCB_WAITS_FOR) > 0 && words[LIST_KIND] <= 0) {
    DKPUT0(PUT_UNCHANGED, buffer);
    NoteError(request, -63, -1);
    ReportPageError(kIndexDKPAG0, -63, 7, c.page, c.databank);
    return;
  }
  int32_t rc = DKWRP0(rq, WRP_WRITE_WAIT, buffer);
  if (rc < 0) NoteError(request, rc, rq[REQ_OS_ERROR]);
}

void DropDatabankBuffers(int32_t* request, int32_t pool) {
  int32_t databank = request[PAGREQ_DATABANK];
  int32_t last = LoadWord(pool + PART_LAST_BCB);
  int32_t lowest = last - BCB_WORDS * (LoadWord(pool + PART_PAGES) - 1);
  for (int32_t bcb = lowest; bcb <= last; bcb += BCB_WORDS) {
    if (LoadWord(bcb + BCB_DATABANK) != databank) continue;
    // A buffer's ring is the partition that guards the bucket of its page.
    int32_t part = PartitionOfBucket(pool, BucketOf(pool, databank, LoadWord(bcb + BCB_PAGE)));
    int32_t* lock = Sem(part + GROUP_LOCK);
    enqdeq_take(lock);
    // A swap-out of the page is the pool's own write, not a user: its end is
    // waited for, so that the write never lands on a buffer given up.
    while (SwapOutRunning(part, bcb)) {
      WaitForSwapOut(lock, bcb);
      enqdeq_take(lock);
    }
    int32_t in_use = 0, chain = 0;
    if (LoadWord(bcb + BCB_DATABANK) == databank) {
      if (LoadWord(bcb + BCB_USERS) != 0 && LoadWord(BP_STATUS) == BP_STATUS_UP)
        in_use = LoadWord(bcb + BCB_PAGE);
      chain = LoadWord(bcb + BCB_RELEASES);
      StoreWord(bcb + BCB_RELEASES, 0);
      if (!ForgetPage(pool, part, bcb) && Replaceable(bcb)) StoreWord(part + GROUP_VICTIM, bcb);
    }
    enqdeq_give(lock);
    FreeReleaseRecords(chain);
    // An internal error ends the server; no lock is left held when it does.
    if (in_use != 0) {
      NoteError(request, -55, -1);
      ReportPageError(kIndexDKPAG0, -55, 7, in_use);
    }
  }
}

}  // namespace

namespace {

// One call's scans: pages set apart (others wait for them) are written after
// each round of scans and tried once per call: one that could not be written
// (its predecessors failed or are pending) is chosen again by every scan,
// and the scans would never end.
struct Scan {
  int32_t* request = nullptr;
  int32_t code = 0;
  int32_t wanted = -1;  // code 5: the pages the BCB waits for
  int found = 0;
  bool again = false;
  std::vector<Collected> set_apart;
  std::set<std::tuple<int32_t, int32_t, int32_t>> tried;
};

// Scans the BCBs of a pool, each tested under its partition lock so that its
// identity is read whole, and writes what it chose after the lock is given
// back, in batches. True when code 5 has found every page it waits for.
bool ScanPool(Scan& scan, int32_t pool) {
  int32_t page_size = LoadWord(pool + PART_PAGE_SIZE);
  int32_t last = LoadWord(pool + PART_LAST_BCB);
  int32_t lowest = last - BCB_WORDS * (LoadWord(pool + PART_PAGES) - 1);
  const bool before = scan.code == PAG_BEFORE;
  std::vector<Collected> batch;
  for (int32_t bcb = lowest; bcb <= last; bcb += BCB_WORDS) {
    int32_t databank = LoadWord(bcb + BCB_DATABANK);
    if (databank == 0) continue;
    int32_t part = PartitionOfBucket(pool, BucketOf(pool, databank, LoadWord(bcb + BCB_PAGE)));
    enqdeq_take(Sem(part + GROUP_LOCK));
    bool chosen =
        Chosen(scan.code, bcb, scan.request) &&
        !(scan.code == PAG_FLUSH_NO_PREFETCH && LoadWord(bcb + BCB_WS_STATUS) == WS_PREFETCHING);
    Collected c{LoadWord(bcb + BCB_DATABANK), LoadWord(bcb + BCB_PAGE), page_size};
    bool waited_for = LoadWord(bcb + BCB_WAITS_FOR) > 0;
    enqdeq_give(Sem(part + GROUP_LOCK));
    if (!chosen) continue;
    if (waited_for && !before && scan.tried.count({c.databank, c.page, c.page_size}) != 0) continue;
    ++scan.found;
    if (waited_for && !before) {
      if (static_cast<int>(scan.set_apart.size()) < kSetApartMax)
        scan.set_apart.push_back(c);
      else
        scan.again = true;
    } else {
      batch.push_back(c);
    }
    if (static_cast<int>(batch.size()) == kCollectBatch) {
      for (const Collected& each : batch) WriteCollected(scan.request, each);
      batch.clear();
    }
    if (before && scan.found >= scan.wanted) break;
  }
  if (!batch.empty() && (scan.code == PAG_WRITE_SETS_UP_TO || scan.code == PAG_WRITE_SET))
    DKReachTestPoint(DKTestPoint::kSetPagesCollected, scan.request[PAGREQ_ORDER]);
  for (const Collected& each : batch) WriteCollected(scan.request, each);
  return before && scan.found >= scan.wanted;
}

}  // namespace

int32_t DKPAG0(int32_t* request, int32_t code) {
  if (code < PAG_FLUSH || code > PAG_FLUSH_NO_PREFETCH) {
    ReportPageError(kIndexDKPAG0, -43, 7, code);
    return -43;
  }
  NoteError(request, 0, -1);
  if (code == PAG_DROP) {
    for (int32_t pool = LoadWord(BP_FIRST_PARTITION); pool > 0; pool = LoadWord(pool - 1))
      DropDatabankBuffers(request, pool);
    return request[PAGREQ_RC] < 0 ? request[PAGREQ_RC] : 0;
  }
  Scan scan;
  scan.request = request;
  scan.code = code;
  scan.wanted = code == PAG_BEFORE ? LoadWord(request[PAGREQ_BCB] + BCB_WAITS_FOR) : -1;
  // A walk on another thread may move a page of a chosen set to a new BCB
  // (DKHLD0 carries the set along) behind the scan, and the page collected
  // under its old number is no longer there to write: such a write scans
  // again, every page once more, until no content of a set moved while it
  // ran. Otherwise a commit would be secured with a page of its set left in
  // the pool.
  const bool by_set = code == PAG_WRITE_SETS_UP_TO || code == PAG_WRITE_SET || code == PAG_MARKED;
  for (uint32_t moves = DKSetContentMoves();;) {
    scan.again = true;
    while (scan.again) {
      scan.again = false;
      scan.found = 0;
      scan.set_apart.clear();
      for (int32_t pool = LoadWord(BP_FIRST_PARTITION); pool > 0; pool = LoadWord(pool - 1))
        if (ScanPool(scan, pool)) break;
      for (const Collected& each : scan.set_apart) {
        scan.tried.insert({each.databank, each.page, each.page_size});
        WriteCollected(request, each);
      }
    }
    if (!by_set || DKSetContentMoves() == moves) break;
    moves = DKSetContentMoves();
    scan.tried.clear();
  }
  return request[PAGREQ_RC] < 0 ? request[PAGREQ_RC] : 0;
}
