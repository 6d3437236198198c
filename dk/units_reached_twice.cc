// The units that the databank check found owned by two structures, kept with
// the databank as the check leaves them: blocks of the kernel word storage
// chained from entry word 12 (a link, the capacity, the count, then up to 20
// units each). A nonzero word 12 marks the databank corrupt for its open.
#include <algorithm>

#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/databank_verification.h"
#include "dk/word_storage_access.h"

namespace {

constexpr int32_t kLink = 0, kCapacity = 1, kCount = 2, kFirstUnit = 3;
constexpr int32_t kUnitsPerBlock = 20;
constexpr int32_t kBlockWords = kFirstUnit + kUnitsPerBlock;  // 92 bytes

int32_t* Block(int32_t index) {
  return index > 0 ? DKStorageWords(index, kBlockWords) : nullptr;
}

}  // namespace

// Records `units` (each once) with the databank; -11002 when the word
// storage has no room left.
int32_t DKRecordUnitsReachedTwice(int32_t databank, const std::vector<int32_t>& units) {
  int32_t* a = Bufferpool();
  for (int32_t unit : units) {
    int32_t head = a[databank + DBE_CORRUPT];
    int32_t* block = Block(head);
    if (block == nullptr || block[kCount] >= std::min(block[kCapacity], kUnitsPerBlock)) {
      int32_t fresh = DKStorageAllocate(kBlockWords * 4);
      int32_t* words = Block(fresh);
      if (words == nullptr) return -11002;
      words[kLink] = head;
      words[kCapacity] = kUnitsPerBlock;
      words[kCount] = 0;
      a[databank + DBE_CORRUPT] = fresh;
      block = words;
    }
    block[kFirstUnit + block[kCount]++] = unit;
  }
  return 0;
}

std::vector<int32_t> DKUnitsReachedTwice(int32_t databank) {
  std::vector<int32_t> units;
  int32_t limit = 1 << 20;  // a chain that loops ends here
  for (int32_t at = Bufferpool()[databank + DBE_CORRUPT]; at > 0 && --limit > 0;) {
    int32_t* block = Block(at);
    if (block == nullptr) break;
    int32_t n = std::clamp(block[kCount], 0, kUnitsPerBlock);
    units.insert(units.end(), block + kFirstUnit, block + kFirstUnit + n);
    at = block[kLink];
  }
  std::sort(units.begin(), units.end());
  return units;
}

void DKSettleUnitReachedTwice(int32_t databank, int32_t unit) {
  int32_t* a = Bufferpool();
  int32_t* head = Block(a[databank + DBE_CORRUPT]);
  if (head == nullptr || head[kCount] < 1 || head[kCount] > kUnitsPerBlock) return;
  // The unit's place takes the head block's last unit, in place, so the
  // record never needs storage it might not get.
  int32_t limit = 1 << 20;
  for (int32_t at = a[databank + DBE_CORRUPT]; at > 0 && --limit > 0;) {
    int32_t* block = Block(at);
    if (block == nullptr) return;
    int32_t n = std::clamp(block[kCount], 0, kUnitsPerBlock);
    for (int32_t i = 0; i < n; ++i) {
      if (block[kFirstUnit + i] != unit) continue;
      block[kFirstUnit + i] = head[kFirstUnit + head[kCount] - 1];
      if (--head[kCount] == 0) {
        int32_t emptied = a[databank + DBE_CORRUPT];
        a[databank + DBE_CORRUPT] = head[kLink];
        DKStorageRelease(emptied);
      }
      return;
    }
    at = block[kLink];
  }
}

void DKForgetUnitsReachedTwice(int32_t databank) {
  int32_t* a = Bufferpool();
  int32_t limit = 1 << 20;
  for (int32_t at = a[databank + DBE_CORRUPT]; at > 0 && --limit > 0;) {
    int32_t* block = Block(at);
    int32_t next = block ? block[kLink] : 0;
    DKStorageRelease(at);
    at = next;
  }
  a[databank + DBE_CORRUPT] = 0;
}
