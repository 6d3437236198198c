// The list of installed collations: 264-byte blocks of the kernel word
// storage chained from SYS COLLCB, newest first, so a second install under an
// id shadows the first until it is removed. Readers walk the list without a
// lock; installs and removals are serialised among themselves.
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

#include "du/collation.h"
#include "kernel/control_blocks.h"
#include "kernel/word_storage.h"

namespace {

// Installs and removals come from one kernel request at a time in practice;
// the lock keeps two of them from losing each other's link all the same.
std::mutex list_change_lock;

// A walk of the list may stand on a block while another thread unlinks it:
// walkers count themselves in one of these counters (chosen once per thread,
// so that lookups do not contend on one word), and a removal gives its block
// back only after it has seen every counter at 0 once since the unlink. A
// walk that begins after the unlink cannot reach the block.
struct alignas(64) WalkCounter {
  std::atomic<int32_t> walks{0};
};
constexpr int kWalkCounters = 64;
WalkCounter walk_counters[kWalkCounters];
std::atomic<uint32_t> next_walk_counter{0};

class Walking {
 public:
  Walking() : counter_(own_counter()) { counter_.fetch_add(1, std::memory_order_seq_cst); }
  ~Walking() { counter_.fetch_sub(1, std::memory_order_release); }
  Walking(const Walking&) = delete;
  Walking& operator=(const Walking&) = delete;

 private:
  static std::atomic<int32_t>& own_counter() {
    thread_local const uint32_t index = next_walk_counter.fetch_add(1) % kWalkCounters;
    return walk_counters[index].walks;
  }
  std::atomic<int32_t>& counter_;
};

// Waits until every walk that began before the unlink just made is over.
void wait_for_walks() {
  for (WalkCounter& c : walk_counters) {
    while (c.walks.load(std::memory_order_seq_cst) != 0) std::this_thread::yield();
  }
}

// The links are read and written in one total order with the walk counters,
// so a walk that a removal does not see counted sees the unlink.
int32_t load_word(int32_t* base, int64_t index) {
  return std::atomic_ref<int32_t>(sqlpool_word(base, index)).load(std::memory_order_seq_cst);
}

void store_word(int32_t* base, int64_t index, int32_t value) {
  std::atomic_ref<int32_t>(sqlpool_word(base, index)).store(value, std::memory_order_seq_cst);
}

int64_t highest_index(int32_t* base) {
  return std::atomic_ref<int32_t>(base[sqlpool::WORDS]).load(std::memory_order_relaxed);
}

// The system block named by the storage header, 0 when it is not in place.
int32_t system_block(int32_t* base) {
  if (base == nullptr) return 0;
  const int64_t sys =
      std::atomic_ref<int32_t>(base[sqlpool::RESERV]).load(std::memory_order_acquire);
  if (sys <= base[sqlpool::LOWIX] || sys + SYS_WORDS - 1 > highest_index(base)) return 0;
  return static_cast<int32_t>(sys);
}

// A link read from the storage names a whole block inside it; anything else
// ends the walk, so a damaged list can never lead a reader out of the storage.
bool is_block_index(int32_t* base, int64_t b) {
  return b > sqlpool::HEADER_WORDS && b + COLL_WORDS - 1 <= highest_index(base);
}

// Walks bounded by the number of blocks the storage can hold, so a link that
// closes a circle ends the walk too.
int64_t walk_limit(int32_t* base) {
  return highest_index(base) / COLL_WORDS + 1;
}

// The newest block with `id` and the word that links to it (the head word or
// the NEXT word of the block before); 0 when there is none.
int32_t find_linked(int32_t* base, int32_t sys, int64_t id, int64_t* link_word) {
  int64_t link = int64_t{sys} + SYS_COLLCB;
  int64_t b = load_word(base, link);
  for (int64_t steps = walk_limit(base); b != 0 && steps > 0; --steps) {
    if (!is_block_index(base, b)) return 0;
    if (load_word(base, b + COLL_ID) == id) {
      if (link_word != nullptr) *link_word = link;
      return static_cast<int32_t>(b);
    }
    link = b + COLL_NEXT;
    b = load_word(base, link);
  }
  return 0;
}

// True when `wanted` is still on the list and holds `id`: a cache word may
// outlive the block it named, whose words then belong to someone else.
bool is_linked_with_id(int32_t* base, int32_t sys, int64_t wanted, int64_t id) {
  int64_t b = load_word(base, int64_t{sys} + SYS_COLLCB);
  for (int64_t steps = walk_limit(base); b != 0 && steps > 0; --steps) {
    if (!is_block_index(base, b)) return false;
    if (b == wanted) return load_word(base, b + COLL_ID) == id;
    b = load_word(base, b + COLL_NEXT);
  }
  return false;
}

int32_t install(int32_t* base, int32_t sys, int32_t id, ConstByteSpan table) {
  if (table.size() != COLL_TABLE_BYTES) return XL_BAD_ARGUMENT;
  int32_t b = 0;
  DSGetMem(base, &b, COLL_BYTES);
  if (b == 0) return SQLPOOL_EXHAUSTED_ERROR;
  sqlpool_word(base, b + COLL_ID) = id;
  std::memcpy(&sqlpool_word(base, b + COLL_TABLE), table.data(), COLL_TABLE_BYTES);
  std::lock_guard<std::mutex> hold(list_change_lock);
  const int64_t head = int64_t{sys} + SYS_COLLCB;
  store_word(base, b + COLL_NEXT, load_word(base, head));
  // Published last: a reader that sees the new head sees a complete block.
  store_word(base, head, b);
  return 0;
}

int32_t remove(int32_t* base, int32_t sys, int32_t id) {
  int32_t b = 0;
  {
    std::lock_guard<std::mutex> hold(list_change_lock);
    int64_t link = 0;
    b = find_linked(base, sys, id, &link);
    if (b == 0) return XL_NO_COLLATION;
    store_word(base, link, load_word(base, b + COLL_NEXT));
  }
  wait_for_walks();
  DSGetMem(base, &b, 0);
  return 0;
}

}  // namespace

void XLInstallTable(int32_t* base, int32_t* status, int32_t function, int32_t id,
                    ConstByteSpan table) {
  const int32_t sys = system_block(base);
  if (sys == 0) {
    *status = XL_NO_SYSTEM_BLOCK;
    return;
  }
  switch (function) {
    case XL_INSTALL:
      *status = install(base, sys, id, table);
      return;
    case XL_REMOVE:
      *status = remove(base, sys, id);
      return;
    default: {
      const Walking walking;
      *status = find_linked(base, sys, id, nullptr) != 0 ? 0 : XL_NO_COLLATION;
      return;
    }
  }
}

int32_t FindCollationBlock(int32_t* base, int64_t id, int32_t* cache, int32_t* block) {
  *block = 0;
  const int32_t sys = system_block(base);
  if (sys == 0) return XL_NO_SYSTEM_BLOCK;
  const Walking walking;
  if (cache != nullptr && *cache != 0 && is_linked_with_id(base, sys, *cache, id)) {
    *block = *cache;
    return 0;
  }
  const int32_t found = find_linked(base, sys, id, nullptr);
  if (found == 0) return XL_NO_COLLATION;
  if (cache != nullptr) *cache = found;
  *block = found;
  return 0;
}

CollationTable CollationTableOf(int32_t* base, int32_t block) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(&sqlpool_word(base, block + COLL_TABLE));
  return CollationTable(bytes, COLL_TABLE_BYTES);
}
