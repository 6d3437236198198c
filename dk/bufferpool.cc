// Page buffers of the bufferpool: finding a page in its hash bucket, replacing
// the partition's victim on a miss, the R, W and X semaphores of each buffer,
// getting, releasing, writing and dropping a page, and the set-up of a pool.
// All words live in the kernel control area and are named by word index.
#include "dk/bufferpool.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "dk/bitmap_page.h"
#include "dk/bufferpool_internal.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/error_log.h"
#include "platform/databank_io.h"
#include "platform/enqdeq.h"

namespace bufferpool_internal {

constexpr int32_t kIndexDKBSC0 = -8;
constexpr int32_t kIndexDKCPR0 = -23;
constexpr int32_t kIndexDKGET0 = -53;
constexpr int32_t kIndexDKPUT0 = -92;

int32_t* Sem(int32_t index) {
  return Bufferpool() + index;
}

// A reader registers on R without waiting: the count goes below zero and a
// writer that wants R waits until every reader has given its unit back.
void RegisterReader(int32_t bcb) {
  PoolWord(bcb + BCB_R).fetch_sub(1);
}

void TakeExclusive(int32_t bcb) {
  enqdeq_take(Sem(bcb + BCB_X));
  enqdeq_take(Sem(bcb + BCB_W));
  enqdeq_take(Sem(bcb + BCB_R));
}

void GiveExclusive(int32_t bcb) {
  enqdeq_give(Sem(bcb + BCB_R));
  enqdeq_give(Sem(bcb + BCB_W));
  enqdeq_give(Sem(bcb + BCB_X));
}

// Users go down only after the semaphores are given back, so that a buffer
// without users never has a holder: a partition-lock holder may then take its
// semaphores without ever waiting.
void DropUser(int32_t bcb) {
  AddWord(bcb + BCB_USERS, -1);
}

int32_t FloorMod(int64_t key, int32_t n) {
  int64_t m = key % n;
  return static_cast<int32_t>(m < 0 ? m + n : m);
}

// The pool words read here are set at start and never change.
int32_t BucketOf(int32_t pool, int32_t databank, int32_t page) {
  const int32_t* w = Bufferpool();
  int32_t buckets = w[pool + PART_HASH_SIZE];
  if (page < 0)
    return FloorMod(static_cast<int64_t>(page / w[pool + PART_UNITS]) + databank, buckets);
  uint32_t key = (static_cast<uint32_t>(page) >>
                  std::countr_zero(static_cast<uint32_t>(w[pool + PART_UNITS]))) +
                 static_cast<uint32_t>(databank);
  return static_cast<int32_t>(key % static_cast<uint32_t>(buckets));
}

int32_t PartitionOfBucket(int32_t pool, int32_t bucket) {
  const int32_t* w = Bufferpool();
  int32_t groups = w[pool + PART_GROUPS];
  if (groups == 1) return w[pool + PART_GROUP_TABLE];
  // Both terms are non-negative word indexes: an unsigned division suffices.
  int32_t number = static_cast<int32_t>(
      (static_cast<uint32_t>(w[pool + PART_HASH]) + static_cast<uint32_t>(bucket)) %
      static_cast<uint32_t>(groups));
  return w[pool + PART_GROUP_TABLE] + GROUP_WORDS * number;
}

// A BCB on the ring of a group: the groups own consecutive runs of BCBs.
int32_t FirstOfGroup(int32_t pool, int32_t part) {
  const int32_t* w = Bufferpool();
  int32_t buffers = w[pool + PART_PAGES], groups = w[pool + PART_GROUPS];
  int32_t g = (part - w[pool + PART_GROUP_TABLE]) / GROUP_WORDS;
  int32_t lowest = w[pool + PART_LAST_BCB] - BCB_WORDS * (buffers - 1);
  return lowest + BCB_WORDS * static_cast<int32_t>(static_cast<int64_t>(buffers) * g / groups);
}

int32_t PoolOfBcb(int32_t bcb) {
  for (int32_t pool = LoadWord(BP_FIRST_PARTITION); pool > 0; pool = LoadWord(pool - 1)) {
    int32_t last = LoadWord(pool + PART_LAST_BCB);
    int32_t first = last - BCB_WORDS * (LoadWord(pool + PART_PAGES) - 1);
    if (bcb >= first && bcb <= last) return pool;
  }
  return 0;
}

// Chain surgery; the caller holds the partition lock of the bucket.
void Unhook(int32_t pool, int32_t bcb) {
  int32_t bucket = BucketOf(pool, LoadWord(bcb + BCB_DATABANK), LoadWord(bcb + BCB_PAGE));
  int32_t at = LoadWord(pool + PART_HASH) + bucket;
  while (LoadWord(at) != 0 && LoadWord(at) != bcb) at = LoadWord(at) + BCB_LINK;
  if (LoadWord(at) == bcb) StoreWord(at, LoadWord(bcb + BCB_LINK));
  StoreWord(bcb + BCB_LINK, 0);
}

void Hook(int32_t pool, int32_t bcb) {
  int32_t bucket = BucketOf(pool, LoadWord(bcb + BCB_DATABANK), LoadWord(bcb + BCB_PAGE));
  int32_t head = LoadWord(pool + PART_HASH) + bucket;
  StoreWord(bcb + BCB_LINK, LoadWord(head));
  StoreWord(head, bcb);
}

void RingUnlink(int32_t bcb) {
  int32_t next = LoadWord(bcb + BCB_RING_NEXT), prev = LoadWord(bcb + BCB_RING_PREV);
  StoreWord(prev + BCB_RING_NEXT, next);
  StoreWord(next + BCB_RING_PREV, prev);
}

void RingInsertAfter(int32_t at, int32_t bcb) {
  int32_t next = LoadWord(at + BCB_RING_NEXT);
  StoreWord(bcb + BCB_RING_PREV, at);
  StoreWord(bcb + BCB_RING_NEXT, next);
  StoreWord(next + BCB_RING_PREV, bcb);
  StoreWord(at + BCB_RING_NEXT, bcb);
}

bool IsChanged(int32_t bcb) {
  int32_t status = LoadWord(bcb + BCB_IO_STATUS);
  return status >= IOS_CHANGED && status <= IOS_CHANGED_HELD;
}

int32_t* PageBytesOf(int32_t bcb) {
  return Bufferpool() + LoadWord(bcb + BCB_BUFFER) - 1;
}

// Moves the deferred releases of a buffer to its databank entry, whose chain
// the next allocation runs.
void HandChainToDatabank(int32_t chain, int32_t databank) {
  if (chain == 0) return;
  if (databank == 0) {
    FreeReleaseRecords(chain);
    return;
  }
  AppendDatabankReleases(databank, chain);
}

void HandReleasesToDatabank(int32_t bcb, int32_t databank) {
  int32_t chain = LoadWord(bcb + BCB_RELEASES);
  if (chain == 0) return;
  StoreWord(bcb + BCB_RELEASES, 0);
  HandChainToDatabank(chain, databank);
}

// The BCBs whose page was read torn; their count, read first, keeps the
// test free of the lock while there is none (almost always).
std::mutex torn_mutex;
std::unordered_set<int32_t> torn_bcbs;
std::atomic<int32_t> torn_count{0};

void SetTorn(int32_t bcb, bool torn) {
  if (!torn && torn_count.load(std::memory_order_acquire) == 0) return;
  std::lock_guard<std::mutex> hold(torn_mutex);
  if (torn)
    torn_bcbs.insert(bcb);
  else
    torn_bcbs.erase(bcb);
  torn_count.store(static_cast<int32_t>(torn_bcbs.size()), std::memory_order_release);
}

// One transfer of the buffer's page. The file routines get a copy of the
// BCB's I/O block (words 6..10): other threads read those words while the
// transfer runs, so the results go back through atomic stores.
//
// A page larger than a piece of the page cache is written whole from an
// image whose word 0 (no meaning on disk) carries the check word of the
// rest (`DKPageCheckWord`): a write cut short between two pieces leaves the
// first pieces of the new image over the rest of the old one, and a read
// finds the word does not fit: the BCB is then kept among the torn ones
// (`SetTorn`; a BCB has no word left), which the page's readers ask with
// `DKPageTorn`, until the buffer takes a page anew or is written whole.
// Pages written before carry a BCB index there, a positive word, and are
// not checked.
int32_t Transfer(int32_t bcb, bool write) {
  int32_t io[IO_REQUEST_WORDS];
  for (int k = 0; k < IO_REQUEST_WORDS; ++k) io[k] = LoadWord(bcb + BCB_IO_STATUS + k);
  io[IO_RC] = 0;
  StoreWord(bcb + BCB_IO_STATUS, IOS_IN_PROGRESS);
  const int32_t size = LoadWord(PoolOfBcb(bcb) + PART_PAGE_SIZE);
  int32_t* page = PageBytesOf(bcb);
  const bool checked = size > kPageCachePiece && io[IO_BYTE_COUNT] == size;
  if (write && checked) {
    thread_local std::vector<int32_t> image;
    image.assign(page, page + size / 4);
    image[0] = DKPageCheckWord(image.data(), size);
    mdrdmw(io, image.data());
  } else if (write) {
    mdrdmw(io, page);
  } else {
    mdrdmr(io, page);
  }
  if (io[IO_RC] > 0) mdrdma(io);
  if (io[IO_RC] == 0 && (!write || checked))
    SetTorn(bcb, !write && checked && page[0] < 0 && page[0] != DKPageCheckWord(page, size));
  StoreWord(bcb + BCB_OS_ERROR, io[IO_OS_STATUS]);
  StoreWord(bcb + BCB_IO_STATUS, io[IO_RC]);
  return io[IO_RC];
}

// A held buffer whose predecessors are not all on disk is not written:
// when one of them failed (or was refused in turn) never, else not yet.
int32_t RefuseForPredecessors(int32_t* request, int32_t bcb, bool failed) {
  int32_t databank = LoadWord(bcb + BCB_DATABANK), page = LoadWord(bcb + BCB_PAGE);
  if (failed) {
    // A page it depends on failed (or was refused in turn): this one can
    // never be written.
    bool first = LoadWord(bcb + BCB_IO_STATUS) != -31;
    StoreWord(bcb + BCB_IO_STATUS, -31);
    StoreWord(bcb + BCB_UNWRITTEN, 1);
    if (first) ReportPageError(kIndexDKWRP0, -31, 2, page, databank);
  } else {
    // Pages it depends on are still pending (a list page that waits for
    // pages it does not list, whose walk found nothing new): refused for
    // now, but nothing failed, so the page stays changed and readable and
    // a later flush, which writes those pages first, takes it.
    if (LoadWord(bcb + BCB_IO_STATUS) == IOS_CLEAN) StoreWord(bcb + BCB_IO_STATUS, IOS_CHANGED);
    ReportPageError(kIndexDKWRP0, -31, 2, page, databank);
  }
  if (request) {
    request[REQ_DATABANK] = databank;
    request[REQ_PAGE] = page;
    request[REQ_RC] = -31;
  }
  return -31;
}

// Writes a buffer whose X the caller holds; the predecessors come first. On
// failure the changes stay in the buffer (marked unwritten) and the waiter of
// this page learns that its predecessor failed.
int32_t WriteHeld(int32_t* request, int32_t bcb, WriteKind kind) {
  int32_t databank = LoadWord(bcb + BCB_DATABANK), page = LoadWord(bcb + BCB_PAGE);
  // A direct write of a list page too has its predecessors written first;
  // only the list walk of DKPAG0, which has checked every page the image
  // names, writes a list page before the pages it does not name.
  bool before_failed = false;
  if (kind == WriteKind::kSwapOut && LoadWord(bcb + BCB_WAITS_FOR) > 0 &&
      LoadWord(bcb + BCB_FAILED_BEFORE) == 0)
    return 1;
  if (kind == WriteKind::kWhole && LoadWord(bcb + BCB_WAITS_FOR) > 0) {
    int32_t pag[PAGREQ_WORDS] = {databank, page, 0, 0, -1, 0, 0, bcb};
    before_failed = DKPAG0(pag, PAG_BEFORE) < 0;
  }
  if ((kind == WriteKind::kWhole || kind == WriteKind::kSwapOut) &&
      (LoadWord(bcb + BCB_WAITS_FOR) > 0 || LoadWord(bcb + BCB_FAILED_BEFORE) > 0)) {
    return RefuseForPredecessors(request, bcb,
                                 LoadWord(bcb + BCB_FAILED_BEFORE) > 0 || before_failed);
  }
  int32_t rc = Transfer(bcb, true);
  CountWord(BP_PAGES_WRITTEN);
  if (databank > 0) CountWord(databank + DBE_PAGES_WRITTEN);
  if (rc == 0) {
    StoreWord(bcb + BCB_UNWRITTEN, 0);
    // A part of a list on disk is not the page: it stays in its write set
    // and its waiter keeps waiting for the rest.
    if (kind == WriteKind::kListedPartial) return 0;
    StoreWord(bcb + BCB_WS_STATUS, WS_NONE);
    UndoWaitingLink(bcb, false);
    return 0;
  }
  StoreWord(bcb + BCB_UNWRITTEN, 1);
  UndoWaitingLink(bcb, true);
  int32_t os = LoadWord(bcb + BCB_OS_ERROR);
  if (request) {
    request[REQ_DATABANK] = databank;
    request[REQ_PAGE] = page;
    request[REQ_RC] = -44;
    request[REQ_OS_ERROR] = os;
    request[REQ_PAGE_SIZE] = LoadWord(PoolOfBcb(bcb) + PART_PAGE_SIZE);
  }
  ReportPageError(kIndexDKWRP0, -44, 3, page, databank, os);
  return -44;
}

// Takes a buffer's page out of the pool under the partition lock: the buffer
// is hashed under the partition's free page id and placed before the victim,
// so that it is the next one reused. False when the partition has no victim.
bool ForgetPage(int32_t pool, int32_t part, int32_t bcb) {
  Unhook(pool, bcb);
  StoreWord(bcb + BCB_IO_STATUS, IOS_CLEAN);
  StoreWord(bcb + BCB_UNWRITTEN, 0);
  StoreWord(bcb + BCB_WS_STATUS, WS_NONE);
  StoreWord(bcb + BCB_CHANNEL, 0);
  StoreWord(bcb + BCB_DATABANK, 0);
  StoreWord(bcb + BCB_FAILED_BEFORE, 0);
  // The waiting count is left alone: the pages still linked to this buffer
  // lower it when they are written, dropped or reused (a drop of the whole
  // databank meets them all), and until then the buffer is not reused, so no
  // link ever lands on a page it was not meant for.
  UndoWaitingLink(bcb, false);
  StoreWord(bcb + BCB_PAGE, LoadWord(part + GROUP_FREE_PID));
  Hook(pool, bcb);
  int32_t victim = LoadWord(part + GROUP_VICTIM);
  if (victim == 0) return false;
  if (victim != bcb) {
    RingUnlink(bcb);
    RingInsertAfter(LoadWord(victim + BCB_RING_PREV), bcb);
  }
  return true;
}

// Drops a held buffer from the pool; with `write_before` the pages that must
// precede it are written first (a drop may not let them fall behind), and
// its deferred releases run.
int32_t DropHeld(int32_t* request, int32_t bcb, bool write_before) {
  int32_t pool = PoolOfBcb(bcb);
  int32_t databank = LoadWord(bcb + BCB_DATABANK), page = LoadWord(bcb + BCB_PAGE);
  int32_t rc = 0;
  if (write_before && LoadWord(bcb + BCB_WAITS_FOR) > 0) {
    int32_t pag[PAGREQ_WORDS] = {databank, page, 0, 0, -1, 0, 0, bcb};
    DKPAG0(pag, PAG_BEFORE);
    if (LoadWord(bcb + BCB_WAITS_FOR) > 0 || LoadWord(bcb + BCB_FAILED_BEFORE) > 0) rc = -31;
  }
  int32_t chain = LoadWord(bcb + BCB_RELEASES);
  StoreWord(bcb + BCB_RELEASES, 0);
  int32_t bucket = BucketOf(pool, databank, page);
  int32_t part = PartitionOfBucket(pool, bucket);
  enqdeq_take(Sem(part + GROUP_LOCK));
  bool has_victim = ForgetPage(pool, part, bcb);
  GiveExclusive(bcb);
  DropUser(bcb);
  if (!has_victim && Replaceable(bcb)) StoreWord(part + GROUP_VICTIM, bcb);
  enqdeq_give(Sem(part + GROUP_LOCK));
  if (chain != 0) RunReleaseChain(databank, chain);
  if (rc != 0 && request) {
    request[REQ_DATABANK] = databank;
    request[REQ_PAGE] = page;
    request[REQ_RC] = rc;
  }
  return rc;
}

int32_t Fail(int32_t* request, int32_t index, int32_t rc, int32_t severity, int32_t value,
             int32_t os_error = -1) {
  request[REQ_RC] = rc;
  request[REQ_OS_ERROR] = os_error;
  ReportPageError(index, rc, severity, value, rc == -44 ? request[REQ_DATABANK] : 0, os_error);
  return rc;
}

// The buffer is in the pool and counted as a user: take the semaphores the
// mode asks for and check that it still holds the page.
int32_t GetResident(int32_t* request, int32_t mode, int32_t bcb, bool* moved) {
  int32_t databank = request[REQ_DATABANK], page = request[REQ_PAGE];
  *moved = false;
  if (mode <= GET_UPDATE_IF_RESIDENT) {
    TakeExclusive(bcb);
  } else {
    enqdeq_take(Sem(bcb + BCB_W));
    RegisterReader(bcb);
    enqdeq_give(Sem(bcb + BCB_W));
  }
  auto release = [&] {
    if (mode <= GET_UPDATE_IF_RESIDENT)
      GiveExclusive(bcb);
    else
      enqdeq_give(Sem(bcb + BCB_R));
    DropUser(bcb);
  };
  // Dropped while we waited: look again.
  if (LoadWord(bcb + BCB_PAGE) != page || LoadWord(bcb + BCB_DATABANK) != databank) {
    release();
    *moved = true;
    return 0;
  }
  if (LoadWord(bcb + BCB_IO_STATUS) < 0) {
    int32_t os = LoadWord(bcb + BCB_OS_ERROR);
    release();
    return Fail(request, kIndexDKGET0, -44, 2, page, os);
  }
  request[REQ_VERSION] = LoadWord(bcb + BCB_VERSION);
  if (mode == GET_PREFETCH) {
    release();
    return 0;
  }
  request[REQ_RC] = 0;
  return LoadWord(bcb + BCB_BUFFER);
}

}  // namespace bufferpool_internal

using namespace bufferpool_internal;

void ReportPageError(int32_t index, int32_t rc, int32_t severity, int32_t value, int32_t databank,
                     int32_t os_error) {
  int32_t context[DKCTX_WORDS] = {databank != 0 ? databank : value, 0, 0, 0, os_error};
  DKLogError(index, rc, severity, &value, context);
}

int32_t GetUnitPage(int32_t databank, int32_t unit, int32_t mode, int32_t* request) {
  request[REQ_DATABANK] = databank;
  request[REQ_PAGE] = unit;
  request[REQ_PAGE_SIZE] = kUnitBytes;
  request[REQ_RC] = 0;
  request[REQ_OS_ERROR] = -1;
  request[REQ_VERSION] = 0;
  return DKGET0(request, mode);
}

int32_t WriteUnitPage(int32_t databank, int32_t unit, int32_t buffer) {
  int32_t rq[REQ_WORDS] = {databank, unit, kUnitBytes, 0, -1, 0};
  return DKWRP0(rq, WRP_WRITE_WAIT, buffer);
}

int32_t BufferBcb(int32_t buffer) {
  return Bufferpool()[buffer - 1];
}

int32_t* PageWords(int32_t buffer) {
  return Bufferpool() + buffer - 1;
}

int32_t FindPool(int32_t page_size) {
  const int32_t* w = Bufferpool();
  for (int32_t pool = w[BP_FIRST_PARTITION]; pool > 0; pool = w[pool + ENTRY_LINK])
    if (w[pool + PART_PAGE_SIZE] == page_size) return w[pool + PART_PAGES] > 0 ? pool : 0;
  return 0;
}

int32_t CheckPool(int32_t page_size, int32_t routine_index) {
  if (FindPool(page_size) != 0) return 0;
  ReportPageError(routine_index, -76, 2, page_size);
  return -76;
}

void SetWriteSize(int32_t buffer, int32_t bytes) {
  StoreWord(BufferBcb(buffer) + BCB_WRITE_SIZE, bytes);
}

void SetWriteSizeFromPage(int32_t buffer) {
  SetWriteSize(buffer, (PageWords(buffer)[2] + 1) * 4);
}

int32_t BufferIoStatus(int32_t buffer) {
  return LoadWord(BufferBcb(buffer) + BCB_IO_STATUS);
}

namespace {

// Where a page is looked for: its pool, bucket and partition.
struct PagePlace {
  int32_t pool, bucket, part;
  int32_t* lock;
};

// The BCB holding the page in its bucket, 0 when none; under the lock.
int32_t FindInBucket(const PagePlace& at, int32_t databank, int32_t page) {
  int32_t found = LoadWord(LoadWord(at.pool + PART_HASH) + at.bucket);
  while (found != 0 &&
         (LoadWord(found + BCB_PAGE) != page || LoadWord(found + BCB_DATABANK) != databank))
    found = LoadWord(found + BCB_LINK);
  return found;
}

// A hit: the buffer is counted as a user and becomes the most recently used,
// directly after the victim (often there already); then the lock is given
// back and the semaphores the mode asks for are taken. *moved when the
// buffer was given another page meanwhile.
int32_t GetHit(int32_t* request, int32_t mode, const PagePlace& at, int32_t found, int32_t victim,
               bool* moved) {
  AddWord(found + BCB_USERS, 1);
  if (victim != 0 && LoadWord(victim + BCB_RING_NEXT) != found) {
    RingUnlink(found);
    RingInsertAfter(victim, found);
  }
  enqdeq_give(at.lock);
  return GetResident(request, mode, found, moved);
}

// The partition has no victim it may take as it is; under the lock, which
// this gives back. The victim chosen at the last replacement is being
// swapped out (wait for that write) or was linked to since (choose another);
// with none, the whole ring is searched again, and when nothing is free
// the miss waits a little for a buffer to be given back. False when it has
// waited too long.
bool FindAnotherVictim(const PagePlace& at, int32_t victim, int attempt) {
  if (victim != 0) {
    if (SwapOutRunning(at.part, victim)) {
      WaitForSwapOut(at.lock, victim);
      return true;
    }
    int32_t swap = ChooseVictim(at.part, victim);
    enqdeq_give(at.lock);
    SwapOut(at.pool, at.part, swap);
    return true;
  }
  int32_t swap = ChooseVictim(at.part, FirstOfGroup(at.pool, at.part), true);
  bool none = LoadWord(at.part + GROUP_VICTIM) == 0;
  enqdeq_give(at.lock);
  SwapOut(at.pool, at.part, swap);
  if (none) {
    if (attempt > 200000) return false;
    WaitForBuffer(attempt);
  }
  return true;
}

// The victim, held exclusive, now names the page: what belonged to its old
// page goes (its releases to the old databank, its link), and the page is
// read unless the mode takes it new. A victim is never one whose I/O failed
// (a failed write keeps the buffer out of the choice, a failed read forgets
// the page, a failed status is cleared when the buffer is chosen), so
// nothing is left to report of its old page. 0, or the failed read's -44.
int32_t LoadPage(int32_t* request, int32_t mode, const PagePlace& at, int32_t bcb,
                 int32_t old_databank) {
  int32_t databank = request[REQ_DATABANK];
  HandReleasesToDatabank(bcb, old_databank);
  UndoWaitingLink(bcb, false);
  StoreWord(bcb + BCB_WS_STATUS, WS_NONE);
  if (mode == GET_NEW) {
    StoreWord(bcb + BCB_IO_STATUS, IOS_CLEAN);
    StoreWord(bcb + BCB_OS_ERROR, -1);
    SetTorn(bcb, false);
  } else {
    CountWord(at.pool + PART_STAT_FAULTS);
    if (mode == GET_PREFETCH) CountWord(at.pool + PART_STAT_PREFETCH_FAULTS);
    CountWord(databank + DBE_PAGES_READ);
    StoreWord(bcb + BCB_WRITE_SIZE, LoadWord(at.pool + PART_PAGE_SIZE));
    if (Transfer(bcb, false) != 0) {
      // A page that could not be read is not kept under its name, so that
      // the next request reads it again.
      int32_t os = LoadWord(bcb + BCB_OS_ERROR);
      enqdeq_take(at.lock);
      bool has_victim = ForgetPage(at.pool, at.part, bcb);
      GiveExclusive(bcb);
      DropUser(bcb);
      if (!has_victim && Replaceable(bcb)) StoreWord(at.part + GROUP_VICTIM, bcb);
      enqdeq_give(at.lock);
      return Fail(request, kIndexDKGET0, -44, 2, request[REQ_PAGE], os);
    }
  }
  PageBytesOf(bcb)[0] = bcb;
  return 0;
}

// A miss (or a hit on the victim itself, which keeps its page): the victim
// takes the page, the next victim is chosen and, when changed, its write
// starts once the lock is given back, so that the next miss seldom waits
// for one. The victim had no users, so taking its semaphores never waits.
// Then the page is read unless the mode takes it new.
int32_t GetMiss(int32_t* request, int32_t mode, const PagePlace& at, int32_t bcb, bool holds_page) {
  int32_t databank = request[REQ_DATABANK], page = request[REQ_PAGE];
  int32_t old_databank = LoadWord(bcb + BCB_DATABANK);
  if (!holds_page) {
    Unhook(at.pool, bcb);
    StoreWord(bcb + BCB_VERSION, LoadWord(at.pool + PART_STAT_REQUESTS));
    StoreWord(bcb + BCB_CHANNEL, LoadWord(databank + DBE_CHANNEL));
    StoreWord(bcb + BCB_PAGE, page);
    StoreWord(bcb + BCB_WRITE_SIZE, LoadWord(at.pool + PART_PAGE_SIZE));
    StoreWord(bcb + BCB_DATABANK, databank);
    StoreWord(bcb + BCB_FAILED_BEFORE, 0);
    // A progress mark says how much of this page's list is on disk; one left
    // from the page the buffer held before would skip entries of this one.
    StoreWord(bcb + BCB_PROGRESS, 0);
    Hook(at.pool, bcb);
  }
  AddWord(bcb + BCB_USERS, 1);
  TakeExclusive(bcb);
  int32_t swap = ChooseVictim(at.part, bcb);
  enqdeq_give(at.lock);
  SwapOut(at.pool, at.part, swap);

  if (!holds_page) {
    if (int32_t rc = LoadPage(request, mode, at, bcb, old_databank)) return rc;
  } else if (LoadWord(bcb + BCB_IO_STATUS) < 0) {
    int32_t os = LoadWord(bcb + BCB_OS_ERROR);
    GiveExclusive(bcb);
    DropUser(bcb);
    return Fail(request, kIndexDKGET0, -44, 2, page, os);
  }
  request[REQ_VERSION] = LoadWord(bcb + BCB_VERSION);
  request[REQ_RC] = 0;
  if (mode >= GET_SHARED) {
    enqdeq_give(Sem(bcb + BCB_W));
    enqdeq_give(Sem(bcb + BCB_X));
    if (mode == GET_PREFETCH) {
      enqdeq_give(Sem(bcb + BCB_R));
      DropUser(bcb);
      return 0;
    }
  }
  return LoadWord(bcb + BCB_BUFFER);
}

}  // namespace

int32_t DKGET0(int32_t* request, int32_t mode) {
  if (mode < GET_NEW || mode > GET_PREFETCH) return Fail(request, kIndexDKGET0, -43, 7, mode);
  if (mode == GET_PREFETCH && LoadWord(BP_ASYNC_IO_LEFT) <= 0) return 0;
  int32_t pool = FindPool(request[REQ_PAGE_SIZE]);
  if (pool == 0) return Fail(request, kIndexDKGET0, -76, 2, request[REQ_PAGE_SIZE]);
  int32_t databank = request[REQ_DATABANK], page = request[REQ_PAGE];
  int32_t units = LoadWord(pool + PART_UNITS);
  if (!DKIsDatabankEntry(databank)) return Fail(request, kIndexDKGET0, -45, 2, databank);
  // Units per page are 1, 8 or 32: a page starts at a multiple of them.
  if (page < 0 || (page & (units - 1)) != 0) return Fail(request, kIndexDKGET0, -43, 2, page);
  CountWord(pool + PART_STAT_REQUESTS);
  if (mode == GET_PREFETCH) CountWord(pool + PART_STAT_PREFETCH_REQUESTS);
  PagePlace at{pool, BucketOf(pool, databank, page), 0, nullptr};
  at.part = PartitionOfBucket(pool, at.bucket);
  at.lock = Sem(at.part + GROUP_LOCK);
  const bool resident_only = mode == GET_UPDATE_IF_RESIDENT || mode == GET_SHARED_IF_RESIDENT;

  for (int attempt = 0;; ++attempt) {
    enqdeq_take(at.lock);
    int32_t found = FindInBucket(at, databank, page);
    int32_t victim = LoadWord(at.part + GROUP_VICTIM);
    if (found != 0 && found != victim) {
      bool moved;
      int32_t result = GetHit(request, mode, at, found, victim, &moved);
      if (!moved) return result;
      if (resident_only) return 0;
      continue;  // dropped while we waited: look again
    }
    if (found == 0 && resident_only) {
      enqdeq_give(at.lock);
      return 0;
    }
    if (victim == 0 || !Replaceable(victim)) {
      if (!FindAnotherVictim(at, victim, attempt)) return Fail(request, kIndexDKGET0, -55, 7, page);
      continue;
    }
    return GetMiss(request, mode, at, victim, found != 0);
  }
}

int32_t DKPUT0(int32_t mode, int32_t buffer) {
  int32_t bcb = BufferBcb(buffer);
  switch (mode) {
    case PUT_CHANGED_HOLD:
      AddWord(bcb + BCB_VERSION, 1);
      StoreWord(bcb + BCB_IO_STATUS, IOS_CHANGED_HELD);
      return 0;
    case PUT_CHANGED:
      AddWord(bcb + BCB_VERSION, 1);
      StoreWord(bcb + BCB_IO_STATUS, IOS_CHANGED);
      break;
    case PUT_CHANGED_KEEP:
      StoreWord(bcb + BCB_IO_STATUS, IOS_CHANGED_KEPT);
      break;
    case PUT_UNCHANGED:
      if (LoadWord(bcb + BCB_IO_STATUS) == IOS_CHANGED_HELD)
        StoreWord(bcb + BCB_IO_STATUS, IOS_CHANGED);
      break;
    case PUT_END_SHARED:
      enqdeq_give(Sem(bcb + BCB_R));
      DropUser(bcb);
      return 0;
    default:
      ReportPageError(kIndexDKPUT0, -43, 7, mode);
      return -43;
  }
  if (mode != PUT_UNCHANGED) StoreWord(bcb + BCB_UNWRITTEN, 0);
  GiveExclusive(bcb);
  DropUser(bcb);
  return 0;
}

int32_t DKWRP0(int32_t* request, int32_t mode, int32_t buffer) {
  int32_t bcb = BufferBcb(buffer);
  switch (mode) {
    case WRP_WRITE_RELEASE:
    case WRP_WRITE_WAIT: {
      AddWord(bcb + BCB_VERSION, 1);
      if (mode == WRP_WRITE_RELEASE || LoadWord(bcb + BCB_IO_STATUS) == IOS_CHANGED_HELD)
        StoreWord(bcb + BCB_IO_STATUS, IOS_CHANGED);
      // Readers may look at the page while it is written; writers wait on X.
      enqdeq_give(Sem(bcb + BCB_R));
      enqdeq_give(Sem(bcb + BCB_W));
      int32_t rc = WriteHeld(request, bcb);
      int32_t databank = LoadWord(bcb + BCB_DATABANK);
      int32_t chain = 0;
      if (rc == 0) {
        chain = LoadWord(bcb + BCB_RELEASES);
        StoreWord(bcb + BCB_RELEASES, 0);
      }
      enqdeq_give(Sem(bcb + BCB_X));
      DropUser(bcb);
      if (chain != 0) RunReleaseChain(databank, chain);
      return rc;
    }
    case WRP_WRITE_HOLD: {
      int32_t rc = WriteHeld(request, bcb);
      if (rc == 0) HandReleasesToDatabank(bcb, LoadWord(bcb + BCB_DATABANK));
      return rc;
    }
    case WRP_DROP:
      return DropHeld(request, bcb, true);
    default:
      ReportPageError(kIndexDKWRP0, -43, 7, mode);
      if (request) request[REQ_RC] = -43;
      return -43;
  }
}

int32_t DKBSC0(int32_t record_length) {
  for (int32_t pool = LoadWord(BP_FIRST_PARTITION); pool > 0; pool = LoadWord(pool - 1))
    if (LoadWord(pool + PART_MAX_RECORD) >= record_length) return LoadWord(pool + PART_PAGE_SIZE);
  ReportPageError(kIndexDKBSC0, -76, 7, record_length);
  return -76;
}

int32_t DKCPR0(int32_t page_size, int32_t kind) {
  int32_t pool = FindPool(page_size);
  if (pool == 0) {
    ReportPageError(kIndexDKCPR0, -76, 2, page_size);
    return -76;
  }
  int32_t n = std::min(LoadWord(pool + PART_PAGES) / 3, LoadWord(BP_ASYNC_IO_LEFT));
  switch (kind) {
    case 1:
      return std::min(n, 2);
    case 2:
      return std::min(n, 5);
    case 3:
      return std::min(n, 11);
    case 4:
      return n;
    case 5:
      return std::min(n, LoadWord(pool + PART_PAGES) / 16);
    default:
      return 0;
  }
}

void DropCarriedBuffer(int32_t buffer) {
  DropHeld(nullptr, BufferBcb(buffer), false);
}

void InitBufferPool(int32_t pool) {
  int32_t* area = Bufferpool();
  {
    // A new start: the BCBs of an earlier area are gone.
    std::lock_guard<std::mutex> hold(torn_mutex);
    torn_bcbs.clear();
    torn_count.store(0, std::memory_order_release);
  }
  int32_t buffers = area[pool + PART_PAGES], parts = area[pool + PART_GROUPS];
  int32_t buckets = area[pool + PART_HASH_SIZE], units = area[pool + PART_UNITS];
  int32_t first_bucket = area[pool + PART_HASH];
  int32_t lowest = area[pool + PART_LAST_BCB] - BCB_WORDS * (buffers - 1);
  for (int32_t b = 0; b < buckets; ++b) area[first_bucket + b] = 0;
  for (int32_t g = 0; g < parts; ++g) {
    int32_t part = area[pool + PART_GROUP_TABLE] + GROUP_WORDS * g;
    enqdeq_init_semaphore(area + part + GROUP_LOCK, 1);
    // The free page id is negative, so no databank page shares it, and hashes
    // (with databank 0) into a bucket this partition guards.
    int32_t bucket = g;
    for (int32_t b = 0; b < buckets; ++b)
      if (FloorMod(static_cast<int64_t>(first_bucket) + b, parts) == g) {
        bucket = b;
        break;
      }
    area[part + GROUP_FREE_PID] = (bucket - buckets) * units;
    int32_t from = static_cast<int32_t>(static_cast<int64_t>(buffers) * g / parts);
    int32_t to = static_cast<int32_t>(static_cast<int64_t>(buffers) * (g + 1) / parts);
    area[part + GROUP_VICTIM] = to > from ? lowest + BCB_WORDS * from : 0;
    for (int32_t i = from; i < to; ++i) {
      int32_t bcb = lowest + BCB_WORDS * i;
      int32_t buffer = area[bcb + BCB_BUFFER];
      for (int k = BCB_LINK; k < BCB_WORDS - 1; ++k)
        if (k != BCB_BUFFER) area[bcb + k] = 0;
      enqdeq_init_semaphore(area + bcb + BCB_R, 1);
      enqdeq_init_semaphore(area + bcb + BCB_W, 1);
      enqdeq_init_semaphore(area + bcb + BCB_X, 1);
      area[bcb + BCB_OS_ERROR] = -1;
      area[bcb + BCB_PAGE] = area[part + GROUP_FREE_PID];
      area[bcb + BCB_WRITE_SIZE] = area[pool + PART_PAGE_SIZE];
      area[bcb + BCB_RING_NEXT] = lowest + BCB_WORDS * (i + 1 < to ? i + 1 : from);
      area[bcb + BCB_RING_PREV] = lowest + BCB_WORDS * (i > from ? i - 1 : to - 1);
      area[buffer - 1] = bcb;
    }
    // Victims are taken walking the ring backwards from the first one; chain
    // the free buffers in that order so that each is unhooked at the head.
    int32_t head = first_bucket + bucket;
    for (int32_t i = from + 1; i < to; ++i) {
      int32_t bcb = lowest + BCB_WORDS * i;
      area[bcb + BCB_LINK] = area[head];
      area[head] = bcb;
    }
    if (to > from) {
      int32_t bcb = lowest + BCB_WORDS * from;
      area[bcb + BCB_LINK] = area[head];
      area[head] = bcb;
    }
  }
}

int32_t DKPageCheckWord(const int32_t* page, int32_t size) {
  // Four lanes of 64-bit words from word 2 on, word 1 and the size mixed in
  // first; the result has its sign bit set, so no BCB index equals it.
  constexpr uint64_t kMul = 0x9E3779B97F4A7C15ull;
  uint64_t lane[4] = {static_cast<uint32_t>(page[1]) ^ static_cast<uint64_t>(size) << 32,
                      0x243F6A8885A308D3ull, 0x13198A2E03707344ull, 0xA4093822299F31D0ull};
  const auto* bytes = reinterpret_cast<const uint8_t*>(page);
  size_t at = 8;
  const auto end = static_cast<size_t>(size);
  auto mix = [&](int j) {
    uint64_t v;
    std::memcpy(&v, bytes + at, 8);
    lane[j] = (lane[j] ^ v) * kMul;
    lane[j] ^= lane[j] >> 29;
    at += 8;
  };
  while (at + 32 <= end)
    for (int j = 0; j < 4; ++j) mix(j);
  while (at + 8 <= end) mix(0);
  uint64_t h = lane[0] ^ std::rotl(lane[1], 17) ^ std::rotl(lane[2], 31) ^ std::rotl(lane[3], 47);
  h = (h ^ (h >> 32)) * kMul;
  return static_cast<int32_t>(static_cast<uint32_t>(h >> 32) | 0x80000000u);
}

bool DKPageTorn(int32_t buffer) {
  if (torn_count.load(std::memory_order_acquire) == 0) return false;
  const int32_t bcb = Bufferpool()[buffer - 1];
  std::lock_guard<std::mutex> hold(torn_mutex);
  return torn_bcbs.count(bcb) != 0;
}
