// Small helpers record access reads the kernel word storage through: a word
// by its 1-based index, locked additions on shared counts, the two-word
// semaphores kept inside blocks, and the test that the system block is in
// place.
#pragma once

#include <atomic>
#include <cstdint>

#include "kernel/control_blocks.h"
#include "kernel/word_storage.h"
#include "platform/enqdeq.h"

namespace du {

inline int32_t& W(int32_t* base, int64_t index) {
  return sqlpool_word(base, index);
}

// Locked addition on a word other threads change too; the new value.
inline int32_t LockedAdd(int32_t* base, int64_t index, int32_t delta) {
  return std::atomic_ref<int32_t>(W(base, index)).fetch_add(delta) + delta;
}
inline int32_t AtomicLoad(int32_t* base, int64_t index) {
  return std::atomic_ref<int32_t>(W(base, index)).load();
}
inline void AtomicStore(int32_t* base, int64_t index, int32_t value) {
  std::atomic_ref<int32_t>(W(base, index)).store(value);
}

inline void Take(int32_t* base, int64_t semaphore) {
  enqdeq_take(&W(base, semaphore));
}
inline void Give(int32_t* base, int64_t semaphore) {
  enqdeq_give(&W(base, semaphore));
}

// Whether a block of `words` words at `index` lies inside the storage.
inline bool BlockInside(int32_t* base, int64_t index, int64_t words) {
  return index > base[sqlpool::LOWIX] && index + words - 1 <= base[sqlpool::WORDS];
}

// The system block, or 0 when it is not in place (the kernel is not
// initialised).
inline int32_t SystemBlock(int32_t* base) {
  const int32_t sys = std::atomic_ref<int32_t>(base[sqlpool::RESERV]).load();
  return BlockInside(base, sys, SYS_WORDS) ? sys : 0;
}

// A block of `bytes` bytes cleared, or 0 when the storage is exhausted.
inline int32_t NewBlock(int32_t* base, int32_t bytes) {
  int32_t b = 0;
  DSGetMem(base, &b, bytes);
  return b;
}
inline void FreeBlock(int32_t* base, int32_t block) {
  if (block == 0) return;
  int32_t b = block;
  DSPoolMem(base, &b, 0, 0);
}

}  // namespace du
