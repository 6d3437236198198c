// A per-thread binary auto-reset event on a futex word, the stand-in for the
// unnamed auto-reset events the semaphores park their waiters on.
#pragma once

#include <atomic>
#include <cstdint>

// 1 signalled, 0 not. Only the owning thread waits on it. A set that comes
// before the wait leaves the word at 1, so the wait consumes it at once and
// no wake is lost; a stale signal only makes the owner look again at
// whatever it waits for.
class ThreadEvent {
 public:
  // false on an operating-system failure (errno set).
  bool set();
  bool wait();

 private:
  std::atomic<int32_t> state_{0};
};
