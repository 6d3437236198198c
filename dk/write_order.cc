// The order of writes: the links that let a page reach disk only after the
// pages it depends on (DKMRK0), the queries of a buffer's marks (DKGPA0), and
// the carrying of a held buffer's content, links included, to another BCB.
#include <atomic>
#include <mutex>

#include "dk/bufferpool.h"
#include "dk/bufferpool_internal.h"

namespace bufferpool_internal {

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

}  // namespace bufferpool_internal

using namespace bufferpool_internal;

namespace {

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

}  // namespace

namespace {
// Moves of content that belongs to a write set (or is marked): counted
// before the content leaves its BCB, so that a write of sets whose scan
// found the old BCB empty sees the count changed once it is done.
std::atomic<uint32_t> set_content_moves{0};
}  // namespace

uint32_t DKSetContentMoves() {
  return set_content_moves.load();
}

void CarryContent(int32_t from_bcb, int32_t to_bcb) {
  if (LoadWord(from_bcb + BCB_WS_STATUS) != WS_NONE) set_content_moves.fetch_add(1);
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

namespace {

// A page takes a write set's order (status and order value, two words)
// under this lock when it was in none or only marked: the thread that
// holds it and one that lowers it as the waiter of a page of an earlier
// set may do so at once. Lowering the order of a page already in a set
// needs no lock (compare-and-swap).
std::mutex joining_set;

// The page's order becomes `order` when that is lower.
void LowerOrder(int32_t bcb, int32_t order) {
  int32_t present = LoadWord(bcb + BCB_ORDER);
  while (present > order && !PoolWord(bcb + BCB_ORDER).compare_exchange_weak(present, order)) {
  }
}

// Under the lock, a page still in no set (or, with `from_marked`, only
// marked) enters one with `order`; false when it has moved on meanwhile.
bool EnterSet(int32_t bcb, int32_t order, bool from_marked) {
  std::lock_guard<std::mutex> hold(joining_set);
  const int32_t status = LoadWord(bcb + BCB_WS_STATUS);
  if (status != WS_NONE && !(from_marked && status == WS_MARKED)) return false;
  StoreWord(bcb + BCB_ORDER, order);
  StoreWord(bcb + BCB_WS_STATUS, WS_IN_SET);
  return true;
}

// A page's content reaches the readers on disk only through the pages that
// name it, its waiter and theirs: each of those that lies in a later write
// set moves to `order` (the page's own), so that the page write of a write
// set takes them along. A page of an earlier commit changed after a later
// one moved it (a leaf moved to a new page whose parent names it only in
// the later set) would otherwise be written while the parent on disk still
// names its old page, and a commit secured with its write set would lose
// that change at a restart. A waiter changed but in no set yet (the walk
// that moved the page holds the parent it changed, and puts it in its own,
// later, set only when it lets it go) joins the set here: the later mark
// keeps the lower order.
void LowerWaiters(int32_t bcb, int32_t order) {
  int32_t at = LoadWord(bcb + BCB_WAITER);
  for (int32_t steps = 0; at > 0 && steps < 1 << 20; at = LoadWord(at + BCB_WAITER), ++steps) {
    if (LoadWord(at + BCB_WS_STATUS) == WS_NONE && IsChanged(at) && EnterSet(at, order, false))
      continue;
    if (LoadWord(at + BCB_WS_STATUS) == WS_IN_SET) LowerOrder(at, order);
  }
}

// Puts the page in a write set with order `value`: it takes the value when
// it was in none, only marked or in a later set.
void JoinSet(int32_t bcb, int32_t value) {
  int32_t status = LoadWord(bcb + BCB_WS_STATUS);
  if ((status == WS_NONE || status == WS_MARKED) && EnterSet(bcb, value, true)) return;
  status = LoadWord(bcb + BCB_WS_STATUS);
  if (status == WS_IN_SET) return LowerOrder(bcb, value);
  // A write or a prefetch in flight: in the set again with the lower order.
  if (value < LoadWord(bcb + BCB_ORDER)) {
    StoreWord(bcb + BCB_ORDER, value);
    StoreWord(bcb + BCB_WS_STATUS, WS_IN_SET);
  }
}

}  // namespace

int32_t DKMRK0(int32_t value, int32_t code, int32_t buffer) {
  int32_t bcb = BufferBcb(buffer);
  int32_t status = LoadWord(bcb + BCB_WS_STATUS);
  switch (code) {
    case MRK_WRITE_SET:
      JoinSet(bcb, value);
      LowerWaiters(bcb, LoadWord(bcb + BCB_ORDER));
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
      if (status == WS_IN_SET) LowerWaiters(bcb, LoadWord(bcb + BCB_ORDER));
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
    case MRK_MARK: {
      std::lock_guard<std::mutex> hold(joining_set);
      if (LoadWord(bcb + BCB_WS_STATUS) == WS_NONE) {
        StoreWord(bcb + BCB_ORDER, value);
        StoreWord(bcb + BCB_WS_STATUS, WS_MARKED);
      }
      return 0;
    }
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
