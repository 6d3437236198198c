// Named places in the kernel's code where a test can hold a thread, so
// that an interleaving of threads happens on purpose rather than by
// chance. Without an installed hook a place costs one atomic load.
#pragma once

#include <cstdint>

enum class DKTestPoint : int32_t {
  // A commit has its commit number (the value) and has not yet put its
  // write set into the commit set.
  kCommitNumbered = 1,
  // The last user of the transaction cache has ended, before the cache's
  // drop stamp moves on (the value: the users left, 0).
  kCacheUsersDropped = 2,
  // The commit that decides a prepared transaction is in the commit set on
  // disk, and its end has not yet marked the kept group decided (the
  // value: the transaction's start number).
  kDecisionCommitted = 3,
  // A commit's records are in the commit set's pages in the pool, before
  // its group page write (the value: its commit-set order number).
  kGroupAppended = 4,
  // A commit that joins the group commit is about to sleep for the value's
  // milliseconds (0: it only gives the processor up) before its page write.
  kGroupCommitSleep = 5,
  // A work unit's records are applied and its transaction is about to be
  // queued for its page write (the value: the transaction's commit number).
  kUnitApplied = 6,
  // The commit set's chain is about to be cut back after the list page
  // the value names, which is kept as the chain's last.
  kCommitSetCut = 7,
  // A write of write sets has collected the pages it chose in one pool and
  // is about to write them (the value: its order value).
  kSetPagesCollected = 8,
};

using DKTestHook = void (*)(DKTestPoint point, int32_t value);

// Installs the hook every place calls (nullptr: none); tests only.
void DKInstallTestHook(DKTestHook hook);
void DKReachTestPoint(DKTestPoint point, int32_t value);
