// DSMoveToPool: copies a byte string into a block of the kernel word storage,
// piece by piece, after checking the whole target against the storage's size.
#include "kernel/pool_move.h"

#include <atomic>
#include <cstring>

#include "kernel/word_storage.h"

int32_t DSMoveToPool(int32_t* base, int32_t block, int32_t offset, const void* bytes,
                     int32_t count) {
  if (base == nullptr || block < 1 || offset < 0 || count < 0) return kPoolMoveRefused;
  if (count == 0) return 0;
  // WORDS grows under the storage lock; a relaxed read sees a size the block
  // (allocated before this call) already lies within.
  int64_t words = std::atomic_ref<int32_t>(base[sqlpool::WORDS]).load(std::memory_order_relaxed);
  if (block - 3 <= base[sqlpool::LOWIX] || block > words) return kPoolMoveRefused;
  // The target must lie inside the block: its header word holds minus its
  // data words while it is in use.
  const int64_t data_words = -int64_t{sqlpool_word(base, block - 3)};
  if (data_words < 1 || block - 1 + data_words > words) return kPoolMoveRefused;
  int64_t start = (int64_t{block} - 1) * 4 + offset;
  if (int64_t{offset} + count > data_words * 4) return kPoolMoveRefused;
  auto* target = reinterpret_cast<char*>(base) + start;
  const auto* source = static_cast<const char*>(bytes);
  for (int32_t done = 0; done < count;) {
    int32_t piece = count - done < kPoolMovePiece ? count - done : kPoolMovePiece;
    std::memcpy(target + done, source + done, static_cast<size_t>(piece));
    done += piece;
  }
  return 0;
}
