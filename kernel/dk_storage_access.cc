// The databank kernel's reach into this storage (its large-object page
// lists, the table lists of its in-doubt transactions): installed while a
// database is started, taken away at its stop.
#include <atomic>

#include "dk/word_storage_access.h"
#include "kernel/system_block.h"
#include "kernel/word_storage.h"

namespace {

std::atomic<int32_t*> started_base{nullptr};

int32_t* Words(int32_t index, int32_t count) {
  int32_t* base = started_base.load();
  if (base == nullptr || !InStorage(base, index, count)) return nullptr;
  return &sqlpool_word(base, index);
}

int32_t Allocate(int32_t bytes) {
  int32_t* base = started_base.load();
  int32_t block = 0;
  if (base != nullptr) DSGetMem(base, &block, bytes);
  return block;
}

void Release(int32_t index) {
  int32_t* base = started_base.load();
  if (base != nullptr) DSGetMem(base, &index, 0);
}

constexpr DKWordStorageAccess kAccess{Words, Allocate, Release};

}  // namespace

void KernelInstallDkStorageAccess(int32_t* base) {
  started_base.store(base);
  if (base != nullptr) {
    DKInstallWordStorageAccess(&kAccess);
  } else if (const DKWordStorageAccess* was = DKInstallWordStorageAccess(nullptr);
             was != &kAccess) {
    DKInstallWordStorageAccess(was);  // another's hooks stay
  }
}
