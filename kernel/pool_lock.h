// Locks of the word storage (the class locks and the storage lock): counting
// semaphores of two words kept in the storage header and class records.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

inline void pool_lock_init(int32_t* semaphore) {
  std::atomic_ref<int32_t>(semaphore[1]).store(0, std::memory_order_relaxed);
  std::atomic_ref<int32_t>(semaphore[0]).store(1, std::memory_order_release);
}

inline void pool_lock_take(int32_t* semaphore) {
  std::atomic_ref<int32_t> count(semaphore[0]);
  while (count.fetch_sub(1) - 1 < 0) {
    count.fetch_add(1);
    std::this_thread::yield();
  }
}

inline void pool_lock_give(int32_t* semaphore) {
  std::atomic_ref<int32_t>(semaphore[0]).fetch_add(1);
}
