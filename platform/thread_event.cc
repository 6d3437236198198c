// Futex calls behind the per-thread event.
#include "platform/thread_event.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

static_assert(sizeof(std::atomic<int32_t>) == sizeof(int32_t));

namespace {

long futex(std::atomic<int32_t>* word, int op, int value) {
  return syscall(SYS_futex, reinterpret_cast<int32_t*>(word), op, value, nullptr, nullptr, 0);
}

}  // namespace

bool ThreadEvent::set() {
  // Only a 0 -> 1 change can have a sleeper behind it.
  if (state_.exchange(1, std::memory_order_acq_rel) != 0) return true;
  return futex(&state_, FUTEX_WAKE_PRIVATE, 1) >= 0;
}

bool ThreadEvent::wait() {
  for (;;) {
    if (state_.exchange(0, std::memory_order_acq_rel) == 1) return true;
    if (futex(&state_, FUTEX_WAIT_PRIVATE, 0) < 0 && errno != EAGAIN && errno != EINTR)
      return false;
  }
}
