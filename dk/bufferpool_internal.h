// What the files of the bufferpool share and nobody else calls: the buffer
// semaphores, hashing, the write of a held buffer, the links that order
// writes, and the pieces of the many-buffer scans (bufferpool.cc,
// victims.cc, write_order.cc, page_flush.cc, list_page.cc).
#pragma once

#include <cstdint>

#include "dk/bufferpool.h"

namespace bufferpool_internal {

constexpr int32_t kIndexDKGPA0 = -54;
constexpr int32_t kIndexDKMRK0 = -81;
constexpr int32_t kIndexDKPAG0 = -85;
constexpr int32_t kIndexDKWRP0 = -127;

// A semaphore (or lock pair) of the control area by word index.
int32_t* Sem(int32_t index);
// X, W and R of a buffer taken or given in that order (and back).
void TakeExclusive(int32_t bcb);
void GiveExclusive(int32_t bcb);
// Users go down only after the semaphores are given back.
void DropUser(int32_t bcb);

// The bucket of a page in its pool, the partition (group) guarding a bucket,
// and the pool a BCB belongs to.
int32_t BucketOf(int32_t pool, int32_t databank, int32_t page);
int32_t PartitionOfBucket(int32_t pool, int32_t bucket);
int32_t PoolOfBcb(int32_t bcb);

// I/O status 1, 2 or 3.
bool IsChanged(int32_t bcb);

// Deferred releases of a buffer (or a chain) handed to a databank entry.
void HandChainToDatabank(int32_t chain, int32_t databank);
void HandReleasesToDatabank(int32_t bcb, int32_t databank);

// How a held buffer is written: whole, after every page linked to it; or as
// a list page whose image names only entries already on disk (in part: the
// image leaves out entries, whose changes stay in the buffer); or as a
// swapped-out victim, which writes no other page: a victim has none before
// it, and one linked since it was chosen is left as it is (result 1).
enum class WriteKind { kWhole, kListed, kListedPartial, kSwapOut };
int32_t WriteHeld(int32_t* request, int32_t bcb, WriteKind kind = WriteKind::kWhole);

// Takes a buffer's page out of the pool under the partition lock; false
// when the partition has no victim.
bool ForgetPage(int32_t pool, int32_t part, int32_t bcb);
// No users, no pages it waits for, no kept failed changes.
bool Replaceable(int32_t bcb);
// Victims (victims.cc): the next victim of a group chosen under its lock,
// walking the ring backwards from `from` (returned when changed and so
// claimed for its swap-out); the swap-out of a claimed victim with no lock
// held; whether a swap-out of `bcb` runs (under the lock) and the wait for
// its end with the lock given back; a short wait for a buffer to come free.
int32_t ChooseVictim(int32_t part, int32_t from, bool include_from = false);
void SwapOut(int32_t pool, int32_t part, int32_t victim);
bool SwapOutRunning(int32_t part, int32_t bcb);
void WaitForSwapOut(int32_t* lock, int32_t bcb);
void WaitForBuffer(int attempt);

// The links that order writes (write_order.cc): undo the link of a page to
// its waiter (it reached disk, or failed); link a page before a waiter when
// it has none; undo its link to one waiter only.
void UndoWaitingLink(int32_t bcb, bool failed);
bool LinkBefore(int32_t bcb, int32_t waiter);
bool UnlinkFrom(int32_t bcb, int32_t waiter);

// A page chosen by a scan, by identity (page_flush.cc).
struct Collected {
  int32_t databank, page, page_size;
};
// The last error of a DKPAG0 request.
void NoteError(int32_t* request, int32_t rc, int32_t os);
// The identity of a BCB, read under the partition lock of its bucket.
Collected IdentityOf(int32_t pool, int32_t bcb);
// Writes a held, changed list page in order with the pages it lists
// (list_page.cc).
void WriteListPage(int32_t* request, const Collected& list, int32_t buffer);

}  // namespace bufferpool_internal
