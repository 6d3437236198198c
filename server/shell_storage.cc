// ShellAllocWords over the kernel word storage the server process set up.
#include "server/shell_storage.h"

#include <atomic>

#include "kernel/word_storage.h"

namespace {
std::atomic<int32_t*> g_storage{nullptr};
}  // namespace

void ShellSetWordStorage(int32_t* base) {
  g_storage.store(base, std::memory_order_release);
}

int32_t* ShellWordStorage() {
  return g_storage.load(std::memory_order_acquire);
}

void ShellAllocWords(int32_t* index, int32_t words) {
  *index = 0;
  int32_t* base = ShellWordStorage();
  if (base == nullptr || words <= 0 || words > INT32_MAX / 4) return;
  DSGetMem(base, index, words * 4);
}
