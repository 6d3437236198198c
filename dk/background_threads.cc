// The background threads' loop: registration into a slot, the master that
// waits for work and scans the transaction states, the slaves that wait in
// their queue, and the work unit that applies one committed transaction's
// records from the commit set and secures it.
#include "dk/background_threads.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/checkpoint.h"
#include "dk/commit_write_set.h"
#include "dk/control_area.h"
#include "dk/error_log.h"
#include "dk/request.h"
#include "dk/set_pages.h"
#include "dk/set_table.h"
#include "dk/stored_tss.h"
#include "dk/table_entries.h"
#include "dk/test_points.h"
#include "dk/transactions.h"
#include "platform/enqdeq.h"

namespace {

using dkset::RoutineIndex;

constexpr int32_t kDeferredThreads = 170;
// The securing of units, one at a time while units overlap ("Restart-no.
// queue": it moves the restart number on).
constexpr int32_t BP_LOCK_SECURING = BP_LOCK_RESTART_NUMBER;

// Whether the next unit may start once a unit's records are all read (off
// only for tests that run units one at a time).
std::atomic<bool> overlapping_units{true};

int32_t* A() {
  return Bufferpool();
}

bool Up() {
  return LoadWord(BP_STATUS) == BP_STATUS_UP;
}

// TSS states are read under the TSS lock by other threads.
void SetState(int32_t tss, int32_t state) {
  DKLock(BP_LOCK_TSS_HASH);
  A()[tss + TSS_STATE] = state;
  DKUnlock(BP_LOCK_TSS_HASH);
}

// Takes the first unused slot (state 1); 0 when every slot is taken.
int32_t Register() {
  int32_t* a = A();
  EnqdeqGuard guard(a + BP_LOCK_SERVER);
  for (int32_t s = a[BP_FIRST_SWA]; s > 0 && s <= a[BP_LAST_SWA]; s += SWA_WORDS) {
    if (LoadWord(s + SWA_STATE) == SLOT_UNUSED) {
      StoreWord(s + SWA_STATE, SLOT_PREPARING);
      return s;
    }
  }
  return 0;
}

// Under lock 210: the slot becomes the master when there is none.
bool ClaimMaster(int32_t slot) {
  int32_t* a = A();
  EnqdeqGuard guard(a + BP_LOCK_BACKGROUND_CS_READ);
  if (LoadWord(BP_MASTER_SLOT) == 0) StoreWord(BP_MASTER_SLOT, slot);
  return LoadWord(BP_MASTER_SLOT) == slot;
}

// A slave waits in the slave queue until it is woken; then, when the
// master's place is free, it takes it.
void SlaveWait(int32_t slot) {
  int32_t* a = A();
  DKLock(BP_LOCK_BACKGROUND_CS_READ);
  if (LoadWord(BP_MASTER_SLOT) == 0) {
    StoreWord(BP_MASTER_SLOT, slot);
    DKUnlock(BP_LOCK_BACKGROUND_CS_READ);
    return;
  }
  a[slot + ENTRY_LINK] = a[BP_SLAVE_QUEUE];
  a[BP_SLAVE_QUEUE] = slot;
  StoreWord(slot + SWA_STATE, SLOT_INACTIVE_SLAVE);
  DKUnlock(BP_LOCK_BACKGROUND_CS_READ);
  DKLock(slot + SWA_WAKE);
  StoreWord(slot + SWA_STATE, SLOT_ACTIVE_SLAVE);
  // Woken while a master runs: to take records of the unit being read.
  if (Up() && LoadWord(BP_MASTER_SLOT) != 0) DKTakeUnitRecords(slot);
  ClaimMaster(slot);
}

// The master gives its place up and wakes the first slave, which takes it.
void GiveUpMaster() {
  int32_t* a = A();
  DKLock(BP_LOCK_BACKGROUND_CS_READ);
  StoreWord(BP_MASTER_SLOT, 0);
  const int32_t slave = a[BP_SLAVE_QUEUE];
  if (slave > 0) a[BP_SLAVE_QUEUE] = a[slave + ENTRY_LINK];
  DKUnlock(BP_LOCK_BACKGROUND_CS_READ);
  if (slave > 0) DKUnlock(slave + SWA_WAKE);
}

// Once a unit's records are read, while nobody has taken the master's
// place yet: the first slave is woken to take it.
void WakeNextMaster() {
  int32_t* a = A();
  DKLock(BP_LOCK_BACKGROUND_CS_READ);
  int32_t slave = 0;
  if (LoadWord(BP_MASTER_SLOT) == 0) {
    slave = a[BP_SLAVE_QUEUE];
    if (slave > 0) a[BP_SLAVE_QUEUE] = a[slave + ENTRY_LINK];
  }
  DKUnlock(BP_LOCK_BACKGROUND_CS_READ);
  if (slave > 0) DKUnlock(slave + SWA_WAKE);
}

// The master waits for a request (under lock 204); false when the kernel
// is no longer up (lock 204 then given back).
bool AwaitWork(int32_t slot) {
  DKLock(BP_LOCK_BACKGROUND_QUEUE);
  // Read without the lock elsewhere, so changed atomically. A slave that
  // became master after the stop woke it has no wake left to wait for.
  if (!Up()) {
    DKUnlock(BP_LOCK_BACKGROUND_QUEUE);
    return false;
  }
  if (LoadWord(BP_PENDING_BACKGROUND) >= 1) {
    AddWord(BP_PENDING_BACKGROUND, -1);
  } else {
    StoreWord(slot + SWA_STATE, SLOT_INACTIVE);
    DKUnlock(BP_LOCK_BACKGROUND_QUEUE);
    DKLock(slot + SWA_WAKE);
    DKLock(BP_LOCK_BACKGROUND_QUEUE);
  }
  if (!Up()) {
    DKUnlock(BP_LOCK_BACKGROUND_QUEUE);
    return false;
  }
  DKLock(BP_LOCK_SERVER);
  DKUnlock(BP_LOCK_BACKGROUND_QUEUE);
  return true;
}

// Puts an entry into the queue at word 158 by its commit number; lock 206
// held.
void InsertApplied(int32_t tss) {
  int32_t* a = A();
  int32_t* at = &a[BP_AFTER_PROC_QUEUE];
  while (*at > 0 && a[*at + TSS_COMMIT] < a[tss + TSS_COMMIT]) at = &a[*at + TSS_LINK];
  a[tss + TSS_LINK] = *at;
  *at = tss;
}

// Applied transactions wait in the queue at word 158 (ascending commit
// number, linked through TSS word 7) until their pages are written: while
// more commits wait to be applied, up to the flush rate (word 153) of them
// share one write, unless one has a committer waiting for it to be secured.
// Queues the transaction; true when the queue is to be written now.
bool QueueApplied(int32_t tss, int32_t applied) {
  int32_t* a = A();
  a[tss + TSS_APPLIED_RESULT] = applied;
  SetState(tss, TSS_AFTER_PROC);
  EnqdeqGuard guard(a + BP_LOCK_BACKGROUND_IO);
  InsertApplied(tss);
  int32_t count = 0;
  bool waiting = false;
  for (int32_t x = a[BP_AFTER_PROC_QUEUE]; x > 0; x = a[x + TSS_LINK]) {
    waiting = waiting || a[x + TSS_KIND] == kKindWaitSecured;
    ++count;
  }
  DKLock(BP_LOCK_TSS_FREE);
  const bool none_free = a[a[BP_TSS_HASH] + HASH_FREE_HEAD] <= 0;
  DKUnlock(BP_LOCK_TSS_FREE);
  const bool more = LoadWord(BP_PENDING_BACKGROUND) > 0;
  return waiting || none_free || !more || count >= a[BP_BACKGROUND_FLUSH_RATE];
}

// A run whose page write failed: its pages are not all on disk, so none of
// it is secured, in this run of the kernel or later. Its members stay
// applied (state 19) in no queue: the secured number and every restart
// stamp stay below them, and the restart replays them from the commit set.
// They are not written again: the pool answers every later get of a page
// whose write failed with the failure, and once the databank's buffers are
// dropped (at its close) a later page write would find nothing left to
// write and secure changes that never reached the disk. A committer
// waiting for one of them to be secured is answered with the failure.
void KeepUnsecured(int32_t run, int32_t failure) {
  int32_t* a = A();
  std::vector<int32_t> members;
  for (int32_t x = run, n = 0; DKIsTssEntry(x) && n <= a[BP_TSS_COUNT]; x = a[x + TSS_LINK], ++n)
    members.push_back(x);
  bool answer = false;
  DKLock(BP_LOCK_TSS_HASH);
  for (int32_t x : members) {
    answer = answer || a[x + TSS_KIND] == kKindWaitSecured;
    a[x + TSS_LINK] = 0;
  }
  DKUnlock(BP_LOCK_TSS_HASH);
  if (answer) DKWakeSynchronousCommitter(failure);
}

// Writes the pages of every queued transaction, then marks them secured
// (only when every page was written); a committer of kind 129 is woken here.
void SecureQueued(int32_t slot) {
  int32_t* a = A();
  // Units that overlap secure one at a time.
  EnqdeqGuard securing(a + BP_LOCK_SECURING);
  DKLock(BP_LOCK_BACKGROUND_IO);
  int32_t run = a[BP_AFTER_PROC_QUEUE], last = 0, last_tss = 0;
  a[BP_AFTER_PROC_QUEUE] = 0;
  for (int32_t x = run; x > 0; x = a[x + TSS_LINK])
    if (a[x + TSS_COMMIT] > last) last = a[x + TSS_COMMIT], last_tss = x;
  DKUnlock(BP_LOCK_BACKGROUND_IO);
  if (run == 0) return;
  StoreWord(slot + SWA_STATE, SLOT_IO);
  int32_t pag[PAGREQ_WORDS] = {};
  pag[PAGREQ_ORDER] = last;
  const int32_t written = DKPAG0(pag, 2);
  StoreWord(slot + SWA_STATE, SLOT_QUEUES);
  // The pool has reported the failed write against its databank.
  if (written != 0) return KeepUnsecured(run, written);
  // A member whose databank has a copy out of step waits for its
  // checkpoint unit, and so does every later one.
  DKAskCheckpoints(run);
  std::vector<int32_t> waiting;
  DKLock(BP_LOCK_TSS_HASH);
  for (int32_t x = run; x > 0; x = a[x + TSS_LINK]) {
    if (a[x + TSS_STATE] == TSS_CHECKPOINT) continue;
    a[x + TSS_STATE] = TSS_SECURED;
    a[BP_TSS_SAFE_COMMIT] = std::max(a[BP_TSS_SAFE_COMMIT], a[x + TSS_COMMIT]);
    ++a[BP_TSS_SECURED];
    if (a[x + TSS_KIND] == kKindWaitSecured) waiting.push_back(x);
  }
  DKUnlock(BP_LOCK_TSS_HASH);
  // Not simply to `last`: a lower commit number may still be on its way
  // into the commit set.
  DKRaiseSecuredNumber();
  std::vector<int32_t> results;
  for (int32_t x : waiting) results.push_back(a[x + TSS_APPLIED_RESULT]);
  // Stamped while the entries still name their headers, and before the trim
  // may take the header's page out. The commits are secured whatever the
  // stamp's fate: a failure is reported and costs the restart replay work.
  DKFPQ1(last_tss);
  {
    // What frees or stores entries runs as the master's scan does, under
    // lock 222, so that no entry is given back twice.
    EnqdeqGuard choosing(a + BP_LOCK_SERVER);
    // The entries just secured go back to the free list now rather than at
    // the next wake, which may not come while begins find no free entry; a
    // waiting committer reads only word 144 once woken, not its entry.
    DKScanTransactionStates();
    // Secured entries that running views still hold, once there are too
    // many of them or none is left to begin with, are kept as stored
    // records.
    DKStoreTssOverflow();
  }
  // The commit set's pages of what is secured may be taken again; the stamp
  // is in its page already.
  DKMarkCommitSet();
  // Synchronous commits run one at a time (lock 244), so at most one waits;
  // it finds the work of this page write done.
  for (int32_t result : results) DKWakeSynchronousCommitter(result);
}

void Secure(int32_t slot, int32_t tss, int32_t applied) {
  if (QueueApplied(tss, applied)) SecureQueued(slot);
}

// The locks that order the units: lock 248 taken, then either lock 250
// taken (a unit of a commit kind or a checkpoint unit; lock 248 kept, true)
// or lowered without a wait and lock 248 given back (false).
bool DKUnitLocks(int32_t kind, bool checkpoint) {
  DKLock(BP_LOCK_BACKGROUND_SYNCH);
  if (kind != 0 || checkpoint) {
    DKLock(BP_LOCK_KERNEL_250);
    return true;
  }
  PoolWord(BP_LOCK_KERNEL_250 + ENQDEQ_COUNT).fetch_sub(1);
  DKUnlock(BP_LOCK_BACKGROUND_SYNCH);
  return false;
}

// Under lock 222, at the start of a unit: the unit waits (its wait-for pair
// lowered once for each) for every active unit that committed before it
// prepared, whose changes its own may rest on: both that unit's prepare
// number and its parallel count (slot words 1 and 3) below this unit's
// prepare number. The ends of those units' records give the pair back.
void OrderAfterEarlierUnits(int32_t slot) {
  int32_t* a = A();
  for (int32_t s = a[BP_FIRST_SWA]; s > 0 && s <= a[BP_LAST_SWA]; s += SWA_WORDS)
    if (s != slot && LoadWord(s + SWA_STATE) == SLOT_ACTIVE &&
        a[s + SWA_TRANS] < a[slot + SWA_TRANS] && a[s + SWA_PARALLEL] < a[slot + SWA_TRANS])
      PoolWord(slot + SWA_LOCK1 + ENQDEQ_COUNT).fetch_sub(1);
}

// Under lock 222, once a unit's records are applied: the later active units
// that wait for this one (the counterpart of OrderAfterEarlierUnits).
void ReleaseLaterUnits(int32_t slot) {
  int32_t* a = A();
  for (int32_t s = a[BP_FIRST_SWA]; s > 0 && s <= a[BP_LAST_SWA]; s += SWA_WORDS)
    if (s != slot && LoadWord(s + SWA_STATE) == SLOT_ACTIVE &&
        a[s + SWA_SEQNO] > a[slot + SWA_SEQNO] && a[s + SWA_TRANS] > a[slot + SWA_TRANS] &&
        a[s + SWA_TRANS] > a[slot + SWA_PARALLEL])
      DKUnlock(s + SWA_LOCK1);
}

// The work unit of one committed transaction, begun with lock 222 held.
// With overlapping units, once its records are all read the master's place
// goes on, and the next unit may begin while this one's last records are
// applied and it is secured: a unit whose transaction prepared after an
// active one committed waits for that one's records to be applied first.
void WorkUnit(int32_t slot, int32_t tss) {
  int32_t* a = A();
  const bool overlap = overlapping_units.load();
  a[slot + SWA_PHASE] = a[tss + TSS_STATE] == TSS_CHECKPOINT ? TSS_CHECKPOINT : TSS_TABLE_PROC;
  SetState(tss, TSS_TABLE_PROC);
  a[slot + SWA_TRANS] = a[tss + TSS_PREPARE];
  a[slot + SWA_PARALLEL] = a[tss + TSS_PARALLEL];
  if (overlap) OrderAfterEarlierUnits(slot);
  a[slot + SWA_SEQNO] = ++a[BP_LAST_UNIT];
  StoreWord(slot + SWA_STATE, SLOT_ACTIVE);
  DKUnlock(BP_LOCK_SERVER);
  ++a[slot + SWA_COUNT];
  const bool checkpoint = a[slot + SWA_PHASE] == TSS_CHECKPOINT;
  const int32_t kind = a[tss + TSS_KIND];
  if (overlap) {
    DKLock(slot + SWA_LOCK1);
    DKUnlock(slot + SWA_LOCK1);
  }
  // A unit of a commit kind or a checkpoint unit runs once every unit begun
  // before it has ended (it takes lock 250, which every other unit lowers
  // while it runs) and keeps lock 248, which the next unit takes first: a
  // kind-128 unit until its records are applied, the others to their end.
  bool ordered = DKUnitLocks(kind, checkpoint);
  int32_t logged = 0;
  if (checkpoint) {
    DKStartCheckpointUnit();
    logged = DKPassCheckpointLog(tss);
  }
  DKOpenUnitReading(tss, overlap);
  DKTakeUnitRecords(slot);
  // Every record is read and, with overlapping units, the master's place
  // given up by the reader of the header: a slave takes it.
  if (overlap) WakeNextMaster();
  int32_t applied = DKCloseUnitReading(slot, tss);
  if (applied == 0 && logged < 0) applied = logged;
  if (checkpoint) DKEndCheckpointUnit();
  if (kind == kKindWaitApplied && !checkpoint && ordered) {
    DKUnlock(BP_LOCK_BACKGROUND_SYNCH);
    ordered = false;
  }
  // Its committer was woken when the records were first applied; a
  // checkpoint unit passes them again while a later committer may wait.
  if (kind == kKindWaitApplied && !checkpoint) DKWakeSynchronousCommitter(applied);
  DKReachTestPoint(DKTestPoint::kUnitApplied, a[tss + TSS_COMMIT]);
  if (overlap) {
    EnqdeqGuard choosing(a + BP_LOCK_SERVER);
    StoreWord(slot + SWA_STATE, SLOT_QUEUES);
    ReleaseLaterUnits(slot);
  } else {
    StoreWord(slot + SWA_STATE, SLOT_QUEUES);
  }
  Secure(slot, tss, applied);
  if (ordered) DKUnlock(BP_LOCK_BACKGROUND_SYNCH);
  DKUnlock(BP_LOCK_KERNEL_250);
}

// Nothing to apply: the master's place goes to a slave.
void NothingToApply(int32_t slot) {
  int32_t* a = A();
  DKUnlock(BP_LOCK_SERVER);
  SecureQueued(slot);
  StoreWord(slot + SWA_STATE, SLOT_CHECKING);
  GiveUpMaster();
  DKLock(BP_LOCK_BACKGROUND_QUEUE);
  if (a[kDeferredThreads] > 0) --a[kDeferredThreads];
  DKUnlock(BP_LOCK_BACKGROUND_QUEUE);
  DKCheckWaitingDatabanks();
  StoreWord(slot + SWA_STATE, SLOT_ACTIVE_SLAVE);
}

// Whether `entry` (state 17 or 20) goes before the candidate chosen so far.
bool Before(int32_t entry, int32_t chosen) {
  const int32_t* a = A();
  if (chosen == 0) return true;
  const bool chosen_checkpoint = a[chosen + TSS_STATE] == TSS_CHECKPOINT;
  if (a[entry + TSS_STATE] == TSS_CHECKPOINT)
    return !chosen_checkpoint || a[chosen + TSS_COMMIT] > a[entry + TSS_COMMIT];
  return !chosen_checkpoint && a[chosen + TSS_COMMIT] > a[entry + TSS_COMMIT];
}

}  // namespace

void DKOverlapUnits(bool on) {
  overlapping_units.store(on);
}

int32_t DKScanTransactionStates() {
  int32_t* a = A();
  int32_t lowest_start = INT32_MAX, lowest_writing = INT32_MAX;
  int32_t chosen = 0;
  std::vector<int32_t> freed;
  DKLock(BP_LOCK_TSS_HASH);
  int32_t lowest_view = a[BP_COMMITS_SECURED], lowest_release = a[BP_TSS_SAFE_COMMIT];
  int32_t state[4] = {0, a[BP_TSS_HASH], 0, 0};
  for (int32_t e = DKHMS0(state); e > 0; e = DKHMS0(state)) {
    for (int32_t x = e, n = 0; DKIsTssEntry(x) && n <= a[BP_TSS_COUNT];
         x = a[x + TSS_DEPENDENT], ++n) {
      lowest_start = std::min(lowest_start, a[x + TSS_START]);
      const int32_t s = a[x + TSS_STATE];
      if (s == TSS_BUILDUP_RO || s == TSS_BUILDUP_RW || s == TSS_PREPARED) {
        lowest_view = std::min(lowest_view, a[x + TSS_VIEW]);
        if (s != TSS_PREPARED) lowest_release = std::min(lowest_release, a[x + TSS_SAFE_RELEASE]);
      }
      if (s == TSS_BUILDUP_RW || (s >= TSS_PREPARED && s <= TSS_CHECKPOINT && s != TSS_AFTER_PROC))
        lowest_writing = std::min(lowest_writing, a[x + TSS_START]);
      if ((s == TSS_COMMITTED || s == TSS_CHECKPOINT) && Before(x, chosen)) chosen = x;
      if (s == TSS_SECURED && x == e) freed.push_back(x);
      if (s < TSS_BUILDUP_RO || s > TSS_SECURED) {
        DKUnlock(BP_LOCK_TSS_HASH);
        DKReportError(RoutineIndex("DKSSD1"), -85, DK_SEV_INTERNAL, &x, x);
        return 0;
      }
    }
  }
  // With no entry in the hash the limit stays: every later start number is
  // above it, while the largest value would have the cache checks take
  // every writer of a transaction begun before the next scan for an old
  // one, and miss its conflicts.
  const int32_t low_start = DKLowStartWithStored(lowest_start);
  if (low_start != INT32_MAX) a[BP_LOW_START_TRANS] = low_start;
  a[BP_LOW_VIEW_TRANS] = std::max(a[BP_LOW_VIEW_TRANS], lowest_view);
  a[BP_TSS_SAFE_LOW] = std::max(a[BP_TSS_SAFE_LOW], lowest_release);
  if (lowest_writing != INT32_MAX) StoreWord(BP_SAFE_HIGH_START, lowest_writing);
  // A secured entry goes once every transaction began after it reached disk
  // and after it was secured: no check can ask for it any more.
  std::erase_if(freed, [a](int32_t x) {
    return a[x + TSS_ON_DISK] >= a[BP_LOW_VIEW_TRANS] || a[x + TSS_COMMIT] >= a[BP_TSS_SAFE_LOW];
  });
  DKUnlock(BP_LOCK_TSS_HASH);
  // The stored records these entries' views no longer need go first: a
  // writer the lookup finds neither in the hash nor stored has its cache
  // records removed, and an older writer of the same row still found stored
  // would then be read instead of the row the freed one left in the table.
  // The entries freed here are below the same low view, so every stored
  // writer older than they are goes with this purge. Kept when it fails.
  if (freed.empty() || DKPurgeStoredTss(a[BP_LOW_VIEW_TRANS]) < 0) return chosen;
  DKLock(BP_LOCK_TSS_HASH);
  for (int32_t x : freed)
    if (a[x + TSS_COMMIT] != 0) --a[BP_TSS_SECURED];
  DKUnlock(BP_LOCK_TSS_HASH);
  // With their dependents, as an end gives entries back.
  for (int32_t x : freed) DKFreeTss(x);
  return chosen;
}

void DKSSD1() {
  int32_t check[1] = {0};
  DKBEG1(check);
  if (check[0] != 0) {
    if (check[0] != -1)
      DKReportError(RoutineIndex("DKSSD1"), check[0], DK_SEV_FATAL_REPEATED, nullptr, 0);
    return;
  }
  const int32_t slot = Register();
  if (slot == 0) {
    int32_t configured = A()[BP_BACKGROUND_THREADS];
    DKReportError(RoutineIndex("DKSSD1"), -43, DK_SEV_FATAL, &configured, configured);
    return;
  }
  PoolWord(BP_LOCK_BACKGROUND_BARRIER).fetch_sub(1);
  ClaimMaster(slot);
  for (;;) {
    if (LoadWord(BP_MASTER_SLOT) != slot) {
      if (!Up()) break;
      SlaveWait(slot);
      continue;
    }
    if (!AwaitWork(slot)) break;
    // Stored records every running view already holds are no longer asked for.
    DKPurgeStoredTss(LoadWord(BP_LOW_VIEW_TRANS));
    const int32_t tss = DKScanTransactionStates();
    if (tss == 0) {
      NothingToApply(slot);
      continue;
    }
    WorkUnit(slot, tss);
    StoreWord(slot + SWA_STATE, SLOT_PREPARING);
    A()[slot + SWA_TRANS] = A()[slot + SWA_PARALLEL] = 0;
  }
  SecureQueued(slot);
  StoreWord(slot + SWA_STATE, SLOT_UNUSED);
  DKUnlock(BP_LOCK_BACKGROUND_BARRIER);
}
