// The databank kernel's reach into the kernel word storage, which sits above
// this layer: the kernel core installs these hooks at start (tests install
// them from a fixture). Page lists and free-run records of large objects live
// there; without the hooks every call answers as a storage that has nothing.
#pragma once

#include <cstdint>

struct DKWordStorageAccess {
  // The `count` words from index `index` (1-based), or nullptr when they do
  // not all lie inside the storage.
  int32_t* (*words)(int32_t index, int32_t count);
  // A block of `bytes` bytes cleared to 0: its index, or 0 when the storage
  // cannot give it.
  int32_t (*allocate)(int32_t bytes);
  // Gives back the block at `index`.
  void (*release)(int32_t index);
};

// Installs `access` (not owned; null members count as not installed) and
// returns the hooks it replaces; nullptr takes them away.
const DKWordStorageAccess* DKInstallWordStorageAccess(const DKWordStorageAccess* access);

// The kernel's calls of the hooks. A hook nobody installed logs its name and
// answers nullptr, 0 or nothing.
int32_t* DKStorageWords(int32_t index, int32_t count);
int32_t DKStorageAllocate(int32_t bytes);
void DKStorageRelease(int32_t index);
