// Thread-local value slots: thread_local storage in multi-thread mode, one
// process-wide table in single-thread mode.
#include "platform/thread_slots.h"

#include <atomic>
#include <mutex>

namespace {

std::mutex init_mutex;
std::atomic<int32_t> mode{TLS_MODE_NOT_SET_UP};
// Bumped by every reset; a thread's values count only while their
// generation is the current one, so values of an earlier set-up read as 0.
std::atomic<uint32_t> generation{1};
std::atomic<int32_t> single_table[TLS_SLOT_COUNT];

struct ThreadValues {
  uint32_t generation = 0;
  int32_t value[TLS_SLOT_COUNT] = {};
};
thread_local ThreadValues thread_values;

ThreadValues& current_thread_values() {
  uint32_t g = generation.load(std::memory_order_acquire);
  if (thread_values.generation != g) thread_values = ThreadValues{g, {}};
  return thread_values;
}

// rc for a slot access: 0 to go on, else the refusal.
int32_t check_access(int32_t slot, int32_t m) {
  if (slot < 1 || slot > TLS_SLOT_COUNT) return -1;
  if (m != TLS_MODE_SINGLE && m != TLS_MODE_MULTI) return -2;
  return 0;
}

}  // namespace

void mdr_tls_init(StatusPair* status) {
  int32_t requested = status->rc;
  status->os_status = -1;
  std::lock_guard<std::mutex> lock(init_mutex);
  if (mode.load() != TLS_MODE_NOT_SET_UP) {
    status->rc = -2;
    return;
  }
  for (auto& v : single_table) v.store(0, std::memory_order_relaxed);
  // Thread-local storage cannot run out here, so the multi-thread set-up
  // has no failure of its own.
  mode.store(requested, std::memory_order_release);
  status->rc = 0;
}

void mdr_tls_get(StatusPair* status, int32_t* value, int32_t slot) {
  status->os_status = -1;
  int32_t m = mode.load(std::memory_order_acquire);
  status->rc = check_access(slot, m);
  if (status->rc != 0) return;
  *value = m == TLS_MODE_SINGLE ? single_table[slot - 1].load(std::memory_order_relaxed)
                                : current_thread_values().value[slot - 1];
}

void mdr_tls_set(StatusPair* status, int32_t value, int32_t slot) {
  status->os_status = -1;
  int32_t m = mode.load(std::memory_order_acquire);
  status->rc = check_access(slot, m);
  if (status->rc != 0) return;
  if (m == TLS_MODE_SINGLE) {
    single_table[slot - 1].store(value, std::memory_order_relaxed);
  } else {
    current_thread_values().value[slot - 1] = value;
  }
}

void mdr_tls_reset() {
  std::lock_guard<std::mutex> lock(init_mutex);
  generation.fetch_add(1);
  mode.store(TLS_MODE_NOT_SET_UP);
}
