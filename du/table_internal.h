// What the table control block files share: the bucket of a table number in
// the TCB hash and its lock, the search of a bucket's chain, the global lock
// of reference pairings, and the release of a TCB's blocks.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <mutex>

#include "du/pool_words.h"
#include "du/record_access_words.h"

namespace du {

inline int64_t F(int32_t block, int32_t field) {
  return int64_t{block} + field;
}

// The TCB hash, or 0 when the system block or the hash is missing.
inline int32_t TcbHash(int32_t* base) {
  const int32_t sys = SystemBlock(base);
  return sys == 0 ? 0 : AtomicLoad(base, F(sys, SYS_TCB_LIST));
}

// The first word of the bucket of table `tname` (a work table by its TCB).
inline int64_t Bucket(int32_t* base, int32_t hash, int32_t tname, int32_t tcb) {
  const int32_t buckets = W(base, hash);
  const int64_t key = tname != DU_WORK_TABLE ? tname : tcb / 4;
  return F(hash, TCBH_FIRST_BUCKET) + TCBH_BUCKET_WORDS * std::llabs(key % buckets);
}

struct BucketGuard {
  BucketGuard(int32_t* base, int64_t bucket) : base_(base), bucket_(bucket) {
    Take(base_, bucket_ + TCBH_BUCKET_LOCK);
  }
  ~BucketGuard() { Give(base_, bucket_ + TCBH_BUCKET_LOCK); }
  int32_t* base_;
  int64_t bucket_;
};

// The TCB of `tname` on the bucket's chain (the caller holds its lock), 0.
inline int32_t FindInBucket(int32_t* base, int64_t bucket, int32_t tname) {
  for (int32_t t = W(base, bucket + TCBH_BUCKET_HEAD); t != 0; t = W(base, t))
    if (W(base, F(t, TCB_TNAME)) == tname) return t;
  return 0;
}

// Pairings of references change words of two tables at once; they are made
// and dissolved under this one lock, taken with no bucket lock held.
std::mutex& PairingLock();

// Dissolves every pairing that names a block of `tcb` (pairing lock held).
void DissolvePairings(int32_t* base, int32_t tcb);
// Frees the ICB and FICB chains and LOBCOLS of a TCB (not the TCB).
void FreeTcbChains(int32_t* base, int32_t tcb);
// Sends DKCLT1 for the kernel table of an identity block (TCB from
// TCB_LID, ICB from ICB_LID): mode 0 or -22; the kernel code.
int32_t CloseKernelTable(int32_t* base, int32_t block, int32_t lid_field, int32_t mode);

}  // namespace du

namespace du {

int32_t FillFromDescription(int32_t* base, int32_t tcb, const int32_t* d, int32_t words);

// The data words of a block of the word storage (0 for an index that does
// not name a block in use).
inline int32_t BlockDataWords(int32_t* base, int32_t block) {
  if (!BlockInside(base, int64_t{block} - 3, 4)) return 0;
  const int32_t size = W(base, int64_t{block} - 3);
  return size < 0 && BlockInside(base, block, -int64_t{size}) ? -size : 0;
}

// A message with the internal-error tag that does not end the server: the
// attach or close it is written for goes on.
void LogInternal(const char* text);

// Reference states (ICB and FICB FK_OPEN_STATUS): 1 not found, 2 paired,
// 3 paired and this side holds the use of the partner table (its
// REFERENCE_USECOUNT), given back when the pair is dissolved.
inline constexpr int32_t REF_MISSING = 1;
inline constexpr int32_t REF_PAIRED = 2;
inline constexpr int32_t REF_HOLDER = 3;

// Drops one use (USECOUNT, or REFERENCE_USECOUNT for `reference`) of a TCB;
// true when the TCB has no use of any kind left (REMOVAL_USECOUNT 0): it is
// then out of its bucket already, and the caller alone must FinalClose it. The
// idle modes come back (4 while referenced, else 5), and a mode-1 table
// gives its databank's exclusive count back. With `keep`, a USECOUNT that
// reaches 0 keeps its REMOVAL_USECOUNT for the walk over the table's
// references, which gives it back (ReleaseKeep); *reached_zero tells
// whether this call took the count to 0.
bool DropUse(int32_t* base, int32_t tcb, bool reference, bool keep = false,
             bool* reached_zero = nullptr);
bool ReleaseKeep(int32_t* base, int32_t tcb);
// Frees a TCB that DropUse or ReleaseKeep took out of its bucket: its kernel
// tables closed (mode 0 or -22), its blocks freed; *lid the LID whose
// databank reference the TCB held (0 when none). 0 or a kernel close failure.
int32_t FinalClose(int32_t* base, int32_t tcb, int32_t mode, int32_t* lid);

}  // namespace du
