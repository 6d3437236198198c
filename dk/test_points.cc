// The hook that the kernel's test points call; installed by tests only.
#include "dk/test_points.h"

#include <atomic>

namespace {
std::atomic<DKTestHook> test_hook{nullptr};
}  // namespace

void DKInstallTestHook(DKTestHook hook) {
  test_hook.store(hook, std::memory_order_release);
}

void DKReachTestPoint(DKTestPoint point, int32_t value) {
  if (DKTestHook hook = test_hook.load(std::memory_order_acquire)) hook(point, value);
}
