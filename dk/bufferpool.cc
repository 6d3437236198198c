// Page buffers of the bufferpool: finding a page in its hash bucket, replacing
// the partition's victim on a miss, the R, W and X semaphores of each buffer,
// releases, ordered writes and the routines that act on many buffers at once.
// All words live in the kernel control area and are named by word index.
#include "dk/bufferpool.h"

#include <sched.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <set>
#include <tuple>
#include <vector>

#include "dk/bitmap_page.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/error_log.h"
#include "platform/databank_io.h"
#include "platform/enqdeq.h"

namespace {

constexpr int32_t kIndexDKBSC0 = -8;
constexpr int32_t kIndexDKCPR0 = -23;
constexpr int32_t kIndexDKGET0 = -53;
constexpr int32_t kIndexDKGPA0 = -54;
constexpr int32_t kIndexDKMRK0 = -81;
constexpr int32_t kIndexDKPAG0 = -85;
constexpr int32_t kIndexDKPUT0 = -92;
constexpr int32_t kIndexDKWRP0 = -127;

constexpr int kCollectBatch = 100;
constexpr int kSetApartMax = 10;

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

// The waiter of this page no longer waits for it: it reached disk (or failed).
// The link is taken with one exchange, so that a move of the waiter to
// another BCB (which re-points links by compare-and-swap) and this undo
// agree on which BCB's count goes down. A failure is counted before the
// count is lowered, so nobody sees the waiter free of both.
void UndoWaitingLink(int32_t bcb, bool failed) {
  int32_t waiter = PoolWord(bcb + BCB_WAITER).exchange(0, std::memory_order_acq_rel);
  if (waiter == 0) return;
  if (failed) AddWord(waiter + BCB_FAILED_BEFORE, 1);
  AddWord(waiter + BCB_WAITS_FOR, -1);
}

// Links `bcb` before `waiter` when it has no link; false when it has one. The
// count is raised first, so it never says less than the links do.
bool LinkBefore(int32_t bcb, int32_t waiter) {
  AddWord(waiter + BCB_WAITS_FOR, 1);
  int32_t expected = 0;
  if (PoolWord(bcb + BCB_WAITER).compare_exchange_strong(expected, waiter)) return true;
  AddWord(waiter + BCB_WAITS_FOR, -1);
  return false;
}

// Undoes the link of `bcb` to `waiter` when it is there; false when not.
bool UnlinkFrom(int32_t bcb, int32_t waiter) {
  int32_t expected = waiter;
  if (!PoolWord(bcb + BCB_WAITER).compare_exchange_strong(expected, 0)) return false;
  AddWord(waiter + BCB_WAITS_FOR, -1);
  return true;
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

// One transfer of the buffer's page. The file routines get a copy of the
// BCB's I/O block (words 6..10): other threads read those words while the
// transfer runs, so the results go back through atomic stores.
int32_t Transfer(int32_t bcb, bool write) {
  int32_t io[IO_REQUEST_WORDS];
  for (int k = 0; k < IO_REQUEST_WORDS; ++k) io[k] = LoadWord(bcb + BCB_IO_STATUS + k);
  io[IO_RC] = 0;
  StoreWord(bcb + BCB_IO_STATUS, IOS_IN_PROGRESS);
  if (write)
    mdrdmw(io, PageBytesOf(bcb));
  else
    mdrdmr(io, PageBytesOf(bcb));
  if (io[IO_RC] > 0) mdrdma(io);
  StoreWord(bcb + BCB_OS_ERROR, io[IO_OS_STATUS]);
  StoreWord(bcb + BCB_IO_STATUS, io[IO_RC]);
  return io[IO_RC];
}

// How a held buffer is written: whole, after every page linked to it; or as
// a list page whose image names only entries already on disk (in part: the
// image leaves out entries, whose changes stay in the buffer); or as a
// swapped-out victim, which writes no other page: a victim has none before
// it, and one linked since it was chosen is left as it is (result 1).
enum class WriteKind { kWhole, kListed, kListedPartial, kSwapOut };

// Writes a buffer whose X the caller holds; the predecessors come first. On
// failure the changes stay in the buffer (marked unwritten) and the waiter of
// this page learns that its predecessor failed.
int32_t WriteHeld(int32_t* request, int32_t bcb, WriteKind kind = WriteKind::kWhole) {
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
    if (LoadWord(bcb + BCB_FAILED_BEFORE) > 0 || before_failed) {
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

// A buffer that may be the victim: no users, no pages it waits for and no
// kept failed changes.
bool Replaceable(int32_t bcb) {
  return LoadWord(bcb + BCB_USERS) == 0 && LoadWord(bcb + BCB_WAITS_FOR) == 0 &&
         LoadWord(bcb + BCB_UNWRITTEN) == 0;
}

// A changed victim is claimed for its swap-out: counted as a user and held
// exclusive (it had no users, so its X is free), so that nobody takes or
// replaces it while it is written. The caller holds the partition lock and
// writes it once the lock is given back (SwapOut); the victim word keeps
// naming it meanwhile.
int32_t ClaimForSwapOut(int32_t victim) {
  AddWord(victim + BCB_USERS, 1);
  enqdeq_take(Sem(victim + BCB_X));
  return victim;
}

// Chooses the partition's next victim under its lock, walking the ring
// backwards from `from` to the first replaceable buffer, and stores it;
// returns it when it is changed and so claimed for a swap-out, else 0.
int32_t ChooseVictim(int32_t part, int32_t from, bool include_from = false) {
  int32_t victim = include_from && Replaceable(from) ? from : 0;
  for (int32_t at = LoadWord(from + BCB_RING_PREV); victim == 0 && at != from;
       at = LoadWord(at + BCB_RING_PREV)) {
    if (Replaceable(at)) victim = at;
  }
  StoreWord(part + GROUP_VICTIM, victim);
  if (victim == 0) return 0;
  if (LoadWord(victim + BCB_IO_STATUS) < 0) {
    StoreWord(victim + BCB_IO_STATUS, IOS_CLEAN);
    return 0;
  }
  return IsChanged(victim) ? ClaimForSwapOut(victim) : 0;
}

// A victim with users is being swapped out: only then does the victim word
// name a buffer that somebody counts (a miss that takes the victim chooses
// the next one before it gives the lock back).
bool SwapOutRunning(int32_t part, int32_t bcb) {
  return LoadWord(part + GROUP_VICTIM) == bcb && LoadWord(bcb + BCB_USERS) > 0;
}

// Waits, with the partition lock given back, until a swap-out running on
// `bcb` has ended: counted as a user, nobody replaces it meanwhile.
void WaitForSwapOut(int32_t* lock, int32_t bcb) {
  AddWord(bcb + BCB_USERS, 1);
  enqdeq_give(lock);
  enqdeq_take(Sem(bcb + BCB_X));
  enqdeq_give(Sem(bcb + BCB_X));
  DropUser(bcb);
}

// Writes a claimed victim with no partition lock held: the write may report
// an error (the log lock) and takes the victim's release chain to the
// databank (its release lock), and no I/O runs under a partition lock. A
// victim that could not be written keeps its changes and is skipped from now
// on; the next one is chosen (and, when changed, written) in its place.
void SwapOut(int32_t pool, int32_t part, int32_t victim) {
  while (victim != 0) {
    int32_t rc = WriteHeld(nullptr, victim, WriteKind::kSwapOut);
    if (rc == 0) {
      int32_t databank = LoadWord(victim + BCB_DATABANK);
      CountWord(pool + PART_STAT_SWAPPED);
      if (databank > 0) CountWord(databank + DBE_PAGES_SWAPPED);
      int32_t chain = LoadWord(victim + BCB_RELEASES);
      StoreWord(victim + BCB_RELEASES, 0);
      enqdeq_give(Sem(victim + BCB_X));
      DropUser(victim);
      HandChainToDatabank(chain, databank);
      return;
    }
    int32_t* lock = Sem(part + GROUP_LOCK);
    enqdeq_take(lock);
    enqdeq_give(Sem(victim + BCB_X));
    DropUser(victim);
    int32_t next = LoadWord(part + GROUP_VICTIM) == victim ? ChooseVictim(part, victim) : 0;
    enqdeq_give(lock);
    victim = next;
  }
}

void WaitForBuffer(int attempt) {
  if (attempt < 64) {
    sched_yield();
  } else {
    timespec ts{0, 200000};
    nanosleep(&ts, nullptr);
  }
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

// The pages linked before `from` are linked before `to` instead, with their
// count and their failures: they must still reach disk before the content,
// which now lives in `to`. Each link is re-pointed by compare-and-swap, so a
// link undone meanwhile by the write of its page is lowered on exactly one
// of the two BCBs. The pages may be of any pool and held by anybody, the
// caller included: nothing here waits for them.
void RepointPredecessors(int32_t from, int32_t to) {
  if (LoadWord(from + BCB_WAITS_FOR) > 0) {
    for (int32_t pool = LoadWord(BP_FIRST_PARTITION); pool > 0; pool = LoadWord(pool - 1)) {
      int32_t last = LoadWord(pool + PART_LAST_BCB);
      int32_t lowest = last - BCB_WORDS * (LoadWord(pool + PART_PAGES) - 1);
      for (int32_t bcb = lowest; bcb <= last; bcb += BCB_WORDS) {
        if (LoadWord(bcb + BCB_WAITER) != from) continue;
        AddWord(to + BCB_WAITS_FOR, 1);
        int32_t expected = from;
        if (PoolWord(bcb + BCB_WAITER).compare_exchange_strong(expected, to))
          AddWord(from + BCB_WAITS_FOR, -1);
        else
          AddWord(to + BCB_WAITS_FOR, -1);
      }
    }
  }
  AddWord(to + BCB_FAILED_BEFORE,
          PoolWord(from + BCB_FAILED_BEFORE).exchange(0, std::memory_order_acq_rel));
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

}  // namespace

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
  int32_t bucket = BucketOf(pool, databank, page);
  int32_t part = PartitionOfBucket(pool, bucket);
  int32_t* lock = Sem(part + GROUP_LOCK);

  for (int attempt = 0;; ++attempt) {
    enqdeq_take(lock);
    int32_t found = LoadWord(LoadWord(pool + PART_HASH) + bucket);
    while (found != 0 &&
           (LoadWord(found + BCB_PAGE) != page || LoadWord(found + BCB_DATABANK) != databank))
      found = LoadWord(found + BCB_LINK);
    int32_t victim = LoadWord(part + GROUP_VICTIM);
    if (found != 0 && found != victim) {
      AddWord(found + BCB_USERS, 1);
      // Most recently used: directly after the victim (often there already).
      if (victim != 0 && LoadWord(victim + BCB_RING_NEXT) != found) {
        RingUnlink(found);
        RingInsertAfter(victim, found);
      }
      enqdeq_give(lock);
      bool moved;
      int32_t result = GetResident(request, mode, found, &moved);
      if (moved) {
        if (mode == GET_UPDATE_IF_RESIDENT || mode == GET_SHARED_IF_RESIDENT) return 0;
        continue;
      }
      return result;
    }
    if (found == 0 && (mode == GET_UPDATE_IF_RESIDENT || mode == GET_SHARED_IF_RESIDENT)) {
      enqdeq_give(lock);
      return 0;
    }
    // The victim chosen at the last replacement is taken as it is unless it
    // is being swapped out (wait for that write) or was linked to since
    // (choose another); either way look again.
    if (victim != 0 && !Replaceable(victim)) {
      if (SwapOutRunning(part, victim)) {
        WaitForSwapOut(lock, victim);
        continue;
      }
      int32_t swap = ChooseVictim(part, victim);
      enqdeq_give(lock);
      SwapOut(pool, part, swap);
      continue;
    }
    if (victim == 0) {
      // The last search found every buffer of the partition in use or
      // waiting for other pages; buffers may have come free since.
      int32_t swap = ChooseVictim(part, FirstOfGroup(pool, part), true);
      bool none = LoadWord(part + GROUP_VICTIM) == 0;
      enqdeq_give(lock);
      SwapOut(pool, part, swap);
      if (none) {
        if (attempt > 200000) return Fail(request, kIndexDKGET0, -55, 7, page);
        WaitForBuffer(attempt);
      }
      continue;
    }

    // Replace the victim (or take it as it is when it already holds the page).
    int32_t bcb = victim;
    int32_t old_databank = LoadWord(bcb + BCB_DATABANK), old_page = LoadWord(bcb + BCB_PAGE);
    int32_t old_status = LoadWord(bcb + BCB_IO_STATUS), old_os = LoadWord(bcb + BCB_OS_ERROR);
    if (found == 0) {
      Unhook(pool, bcb);
      StoreWord(bcb + BCB_VERSION, LoadWord(pool + PART_STAT_REQUESTS));
      StoreWord(bcb + BCB_CHANNEL, LoadWord(databank + DBE_CHANNEL));
      StoreWord(bcb + BCB_PAGE, page);
      StoreWord(bcb + BCB_WRITE_SIZE, LoadWord(pool + PART_PAGE_SIZE));
      StoreWord(bcb + BCB_DATABANK, databank);
      StoreWord(bcb + BCB_FAILED_BEFORE, 0);
      Hook(pool, bcb);
    }
    AddWord(bcb + BCB_USERS, 1);
    TakeExclusive(bcb);  // no users before us: never waits
    // The next victim is chosen now and, when changed, its write starts now
    // too, so that the next miss seldom waits for one; it runs once the
    // partition lock is given back.
    int32_t swap = ChooseVictim(part, bcb);
    enqdeq_give(lock);
    SwapOut(pool, part, swap);

    if (found == 0) {
      HandReleasesToDatabank(bcb, old_databank);
      UndoWaitingLink(bcb, false);
      if (old_status < 0 && old_databank > 0)
        ReportPageError(kIndexDKGET0, -44, 3, old_page, old_databank, old_os);
      StoreWord(bcb + BCB_WS_STATUS, WS_NONE);
      if (mode == GET_NEW) {
        StoreWord(bcb + BCB_IO_STATUS, IOS_CLEAN);
        StoreWord(bcb + BCB_OS_ERROR, -1);
      } else {
        CountWord(pool + PART_STAT_FAULTS);
        if (mode == GET_PREFETCH) CountWord(pool + PART_STAT_PREFETCH_FAULTS);
        CountWord(databank + DBE_PAGES_READ);
        StoreWord(bcb + BCB_WRITE_SIZE, LoadWord(pool + PART_PAGE_SIZE));
        if (Transfer(bcb, false) != 0) {
          // A page that could not be read is not kept under its name, so that
          // the next request reads it again.
          int32_t os = LoadWord(bcb + BCB_OS_ERROR);
          enqdeq_take(lock);
          bool has_victim = ForgetPage(pool, part, bcb);
          GiveExclusive(bcb);
          DropUser(bcb);
          if (!has_victim && Replaceable(bcb)) StoreWord(part + GROUP_VICTIM, bcb);
          enqdeq_give(lock);
          return Fail(request, kIndexDKGET0, -44, 2, page, os);
        }
      }
      PageBytesOf(bcb)[0] = bcb;
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

int32_t DKMRK0(int32_t value, int32_t code, int32_t buffer) {
  int32_t bcb = BufferBcb(buffer);
  int32_t status = LoadWord(bcb + BCB_WS_STATUS);
  switch (code) {
    case MRK_WRITE_SET:
      if (status == WS_NONE || status == WS_MARKED || value < LoadWord(bcb + BCB_ORDER)) {
        StoreWord(bcb + BCB_ORDER, value);
        StoreWord(bcb + BCB_WS_STATUS, WS_IN_SET);
      }
      return 0;
    case MRK_LINK: {
      int32_t waiter = BufferBcb(value);
      int32_t present = LoadWord(bcb + BCB_WAITER);
      if (present == waiter) return 0;
      // A link that closes a circle (the waiter already comes, through its
      // own waiters, before this page) could never be written in order, and
      // writing any page of it would wait for itself. The walk is bounded in
      // case other threads relink meanwhile.
      bool circle = waiter == bcb;
      for (int32_t at = LoadWord(waiter + BCB_WAITER), steps = 0;
           at != 0 && !circle && steps < 1 << 20; at = LoadWord(at + BCB_WAITER), ++steps)
        circle = at == bcb;
      if (present != 0 || circle || !LinkBefore(bcb, waiter)) {
        ReportPageError(kIndexDKMRK0, -55, 7, code);
        return -55;
      }
      return 0;
    }
    case MRK_PROGRESS:
      StoreWord(bcb + BCB_PROGRESS, value);
      return 0;
    case MRK_WRITE_SET_ANY:
      if (status == WS_IN_SET && LoadWord(bcb + BCB_ORDER) != 0)
        ReportPageError(kIndexDKMRK0, -43, 2, value);
      StoreWord(bcb + BCB_ORDER, value);
      StoreWord(bcb + BCB_WS_STATUS, WS_IN_SET);
      return 0;
    case MRK_UNLINK:
      UnlinkFrom(bcb, BufferBcb(value));
      return 0;
    case MRK_MARK:
      if (status == WS_NONE) {
        StoreWord(bcb + BCB_ORDER, value);
        StoreWord(bcb + BCB_WS_STATUS, WS_MARKED);
      }
      return 0;
    default:
      ReportPageError(kIndexDKMRK0, -86, 7, code);
      return -86;
  }
}

int32_t DKGPA0(int32_t code, int32_t buffer) {
  int32_t bcb = BufferBcb(buffer);
  switch (code) {
    case GPA_PROGRESS:
      return LoadWord(bcb + BCB_PROGRESS);
    case GPA_WAITS_FOR:
      return LoadWord(bcb + BCB_WAITS_FOR);
    case GPA_WAITER:
      return LoadWord(bcb + BCB_WAITER);
    case GPA_BCB:
      return bcb;
    default:
      ReportPageError(kIndexDKGPA0, -86, 7, code);
      return 0;
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

namespace {

struct Collected {
  int32_t databank, page, page_size;
};

bool Chosen(int32_t code, int32_t bcb, const int32_t* request) {
  int32_t databank = LoadWord(bcb + BCB_DATABANK);
  if (databank == 0) return false;
  int32_t ws = LoadWord(bcb + BCB_WS_STATUS);
  switch (code) {
    case PAG_FLUSH:
    case PAG_FLUSH_NO_PREFETCH:
      // Pages whose write failed are chosen too: getting them reports the
      // failure, so a flush never answers success over lost changes.
      return databank == request[PAGREQ_DATABANK] &&
             (IsChanged(bcb) || LoadWord(bcb + BCB_UNWRITTEN) != 0);
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

// Writes a held, changed list page in order with the pages it lists (word 2
// their page size, entries in words progress mark + 1 .. word 5 - 1): the
// listed pages that are changed are written in list order, and the list
// page goes to disk naming only the entries up to the last one that reached
// disk (its word 5 lowered for the write). The progress mark then names that
// entry, and the next round starts after it.
void WriteListPage(int32_t* request, const Collected& list, int32_t buffer) {
  int32_t bcb = BufferBcb(buffer);
  int32_t* words = PageWords(buffer);
  int32_t end = words[LIST_END], listed_size = words[LIST_PAGE_SIZE];
  int32_t pool = FindPool(listed_size);
  if (end < LIST_FIRST_ENTRY - 1 || end > list.page_size / 4 || pool == 0)
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
  int32_t start = std::min(std::max(progress, floor), std::max(end - 1, floor));
  int32_t reached = start;
  for (int32_t slot = start + 1; slot < end; ++slot) {
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
  std::vector<Collected> pending;
  for (int32_t slot = reached + 1; slot < end; ++slot)
    pending.push_back({list.databank, words[slot], listed_size});
  int32_t written_end = std::min(reached + 1, end);
  bool whole = written_end == end;
  if (LoadWord(bcb + BCB_FAILED_BEFORE) > 0 || !OnlyPendingEntriesLinked(bcb, pending)) {
    // A page the list waits for failed, or one it does not list is linked
    // to it: only a whole write, after every linked page, is sound.
    int32_t rq[REQ_WORDS] = {list.databank, list.page, list.page_size, 0, -1, 0};
    int32_t rc = DKWRP0(rq, WRP_WRITE_WAIT, buffer);
    if (rc < 0) NoteError(request, rc, rq[REQ_OS_ERROR]);
    return;
  }
  int32_t rq[REQ_WORDS] = {list.databank, list.page, list.page_size, 0, -1, 0};
  words[LIST_END] = written_end;
  AddWord(bcb + BCB_VERSION, 1);
  int32_t rc = WriteHeld(rq, bcb, whole ? WriteKind::kListed : WriteKind::kListedPartial);
  words[LIST_END] = end;
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
  int32_t wanted = code == PAG_BEFORE ? LoadWord(request[PAGREQ_BCB] + BCB_WAITS_FOR) : -1;
  // Pages set apart are tried once per call: one that could not be written
  // (its predecessors failed or are pending) is chosen again by every scan,
  // and the scans would never end.
  std::set<std::tuple<int32_t, int32_t, int32_t>> tried;
  bool again = true;
  while (again) {
    again = false;
    std::vector<Collected> set_apart;
    for (int32_t pool = LoadWord(BP_FIRST_PARTITION); pool > 0; pool = LoadWord(pool - 1)) {
      int32_t page_size = LoadWord(pool + PART_PAGE_SIZE);
      int32_t last = LoadWord(pool + PART_LAST_BCB);
      int32_t lowest = last - BCB_WORDS * (LoadWord(pool + PART_PAGES) - 1);
      std::vector<Collected> batch;
      int found = 0;
      // A scan over the BCBs of the pool; each is tested under its partition
      // lock so that its identity is read whole.
      for (int32_t bcb = lowest; bcb <= last; bcb += BCB_WORDS) {
        int32_t databank = LoadWord(bcb + BCB_DATABANK);
        if (databank == 0) continue;
        int32_t part = PartitionOfBucket(pool, BucketOf(pool, databank, LoadWord(bcb + BCB_PAGE)));
        enqdeq_take(Sem(part + GROUP_LOCK));
        bool chosen =
            Chosen(code, bcb, request) &&
            !(code == PAG_FLUSH_NO_PREFETCH && LoadWord(bcb + BCB_WS_STATUS) == WS_PREFETCHING);
        Collected c{LoadWord(bcb + BCB_DATABANK), LoadWord(bcb + BCB_PAGE), page_size};
        bool waited_for = LoadWord(bcb + BCB_WAITS_FOR) > 0;
        enqdeq_give(Sem(part + GROUP_LOCK));
        if (!chosen) continue;
        if (waited_for && code != PAG_BEFORE && tried.count({c.databank, c.page, c.page_size}) != 0)
          continue;
        ++found;
        if (waited_for && code != PAG_BEFORE) {
          if (static_cast<int>(set_apart.size()) < kSetApartMax)
            set_apart.push_back(c);
          else
            again = true;
        } else {
          batch.push_back(c);
        }
        if (static_cast<int>(batch.size()) == kCollectBatch) {
          for (const Collected& each : batch) WriteCollected(request, each);
          batch.clear();
        }
        if (code == PAG_BEFORE && found >= wanted) break;
      }
      for (const Collected& each : batch) WriteCollected(request, each);
      if (code == PAG_BEFORE && found >= wanted) break;
    }
    for (const Collected& each : set_apart) {
      tried.insert({each.databank, each.page, each.page_size});
      WriteCollected(request, each);
    }
  }
  return request[PAGREQ_RC] < 0 ? request[PAGREQ_RC] : 0;
}

void CarryContent(int32_t from_bcb, int32_t to_bcb) {
  for (int32_t word : {BCB_WS_STATUS, BCB_ORDER, BCB_PROGRESS}) {
    StoreWord(to_bcb + word, LoadWord(from_bcb + word));
    StoreWord(from_bcb + word, 0);
  }
  // The page waiting for the content keeps its count: only the BCB it waits
  // for changes. The image the new page had before is gone, so nothing
  // waits for that.
  UndoWaitingLink(to_bcb, false);
  StoreWord(to_bcb + BCB_WAITER, PoolWord(from_bcb + BCB_WAITER).exchange(0));
  // So do the pages the content waits for: the move then writes nothing,
  // and the old BCB is dropped with no page left to write before it.
  RepointPredecessors(from_bcb, to_bcb);
  if (int32_t carried = LoadWord(from_bcb + BCB_RELEASES)) {
    int32_t tail = carried;
    while (LoadWord(tail - 1) != 0) tail = LoadWord(tail - 1);
    StoreWord(tail - 1, LoadWord(to_bcb + BCB_RELEASES));
    StoreWord(to_bcb + BCB_RELEASES, carried);
    StoreWord(from_bcb + BCB_RELEASES, 0);
  }
  StoreWord(to_bcb + BCB_IO_STATUS, IOS_CHANGED_HELD);
}

void DropCarriedBuffer(int32_t buffer) {
  DropHeld(nullptr, BufferBcb(buffer), false);
}

void InitBufferPool(int32_t pool) {
  int32_t* area = Bufferpool();
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
