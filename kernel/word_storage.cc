// Allocation, free and growth of the kernel word storage. Blocks carry
// boundary tags (size and class in front, the header offset as trailer) so a
// freed block finds both neighbours in constant time; growth takes the next
// part of the storage's reserved region from the private heap as an extent.
#include "kernel/word_storage.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "kernel/error_report.h"
#include "platform/enqdeq.h"
#include "platform/os_status.h"
#include "platform/private_heap.h"
#include "platform/status.h"

using namespace sqlpool;

namespace {

constexpr int32_t kPoolLimit[CLASSES] = {100, 500, -1};
constexpr int32_t kSplitBytes[CLASSES] = {32, 100, 500};
// The smallest W that leaves every class a first extent with a usable block.
constexpr int64_t kMinInitialWords = HEADER_WORDS + 200;
constexpr int64_t kGrowMinWords = 32768;
constexpr int64_t kRetryMinWords = 256;

// Counters that DSPoolSize and the free checks read without the class lock.
int32_t load_relaxed(const int32_t& w) {
  return std::atomic_ref<int32_t>(const_cast<int32_t&>(w)).load(std::memory_order_relaxed);
}
void store_relaxed(int32_t& w, int32_t v) {
  std::atomic_ref<int32_t>(w).store(v, std::memory_order_relaxed);
}
// Every writer of a counter holds the lock that guards it (the class lock,
// or the storage lock for ALLOC_WORDS), so a plain load and store suffice;
// the atomic accesses only keep the unlocked readers' reads whole. A locked
// read-modify-write here would cost as much as the allocation itself.
void add_locked(int32_t& w, int32_t d) {
  store_relaxed(w, load_relaxed(w) + d);
}

// Rounding of extent lengths: a multiple of 4 strictly above x.
int64_t round_extent(int64_t x) {
  return (x / 4) * 4 + 4;
}

// Free-list links of a free block (and of the head guard) at header h.
int32_t& next_of(int32_t* base, int32_t h) {
  return base[h + 3];
}
int32_t& prev_of(int32_t* base, int32_t h) {
  return base[h + 4];
}

void unlink_free(int32_t* base, int32_t h) {
  int32_t next = next_of(base, h);
  int32_t prev = prev_of(base, h);
  next_of(base, prev) = next;
  prev_of(base, next) = prev;
}

// Writes the three header words and the trailer of a block of n data words
// at header h; n < 0 marks it in use.
void write_block(int32_t* base, int32_t h, int32_t size, int32_t pool_class) {
  base[h] = size;
  base[h + 1] = pool_class;
  base[h + 2] = 0;
  base[h + std::abs(size) + 3] = h;
}

void write_guard(int32_t* base, int32_t g, int32_t pool_class) {
  base[g] = 0;
  base[g + 1] = pool_class;
  base[g + 2] = 0;
}

// Asks the private heap for an extent of `words` words against the quota
// word; the storage's region was reserved by the heap, so the extent lies
// directly above everything handed out before it.
bool take_extent(int32_t* base, int64_t words, int32_t* index, StatusPair* st) {
  int32_t size = static_cast<int32_t>(words);
  heap_alloc_quota(st, &base[LEFT_WORDS], base, index, &size);
  return size > 0;
}

void log_allocation_failure(const StatusPair& st) {
  static constexpr char kText[] = "OS memory allocation error ";
  const int32_t values[1] = {st.rc};
  if (st.os_status == OS_STATUS_NONE) {
    const int32_t items[] = {sizeof kText - 1, -1};
    StatusPair log_st;
    DSLogMsg(&log_st, 3, kText, values, items, 2);
    return;
  }
  std::string text = kText;
  const size_t status_at = text.size();
  text += os_status_string(st.os_status);
  const int32_t items[] = {static_cast<int32_t>(status_at), -1, 0,
                           static_cast<int32_t>(text.size() - status_at)};
  StatusPair log_st;
  DSLogMsg(&log_st, 3, text.c_str(), values, items, 4);
}

// Grows the class at record c by one extent large enough for n data words.
// The caller holds the class lock; false (after logging) when neither
// attempt gets memory.
bool grow_class(int32_t* base, int32_t c, int64_t n, StatusPair* failure) {
  const int32_t pool_class = base[c + POOLID];
  enqdeq_take(&base[SEMAPHORE]);
  int64_t x = std::max<int64_t>(n + 1024, base[c + LASTSIZEW]);
  x = std::max(x + x / 5, kGrowMinWords);
  int64_t length = round_extent(x);
  int32_t e = 0;
  bool got = length <= INT32_MAX;
  if (got) {
    base[c + LASTSIZEW] = static_cast<int32_t>(length);
    got = take_extent(base, length, &e, failure);
  }
  if (!got) {
    length = round_extent(std::max(n + 16, kRetryMinWords));
    if (length <= INT32_MAX) {
      base[c + LASTSIZEW] = static_cast<int32_t>(length);
      got = take_extent(base, length, &e, failure);
    } else {
      failure->rc = HEAP_QUOTA_EXHAUSTED;
      failure->os_status = OS_STATUS_NONE;
    }
  }
  if (!got) {
    enqdeq_give(&base[SEMAPHORE]);
    return false;
  }
  const int32_t words = static_cast<int32_t>(length);
  base[e - 1] = 0;
  base[e] = words;
  base[e + 1] = base[e + 2] = base[e + 3] = 0;
  write_guard(base, e + 4, pool_class);
  base[e + 7] = e + 4;
  write_guard(base, e + words - 4, pool_class);
  write_block(base, e + 8, -(words - 16), pool_class);
  add_locked(base[c + EXTENTS], 1);
  if (e >= 0 && int64_t{e} + words - 1 > load_relaxed(base[WORDS]))
    store_relaxed(base[WORDS], e + words - 1);
  if (e < 0 && e < base[LOWIX]) base[LOWIX] = e;
  add_locked(base[ALLOC_WORDS], words);
  enqdeq_give(&base[SEMAPHORE]);
  DSPoolPutFree(base, c, e + 8);

  // Keep the class's extents in ascending order after the head, and fuse
  // extents that touch: the words from the lower one's end guard to the end
  // of the upper one's start guard become one block of 8 data words.
  auto fuse = [&](int32_t lower, int32_t upper) {
    const int32_t lower_words = base[lower];
    base[lower - 1] = base[upper - 1];
    base[lower] = lower_words + base[upper];
    const int32_t seam = lower + lower_words - 4;
    write_block(base, seam, -8, pool_class);
    DSPoolPutFree(base, c, seam);
  };
  int32_t p = base[c + FIRST_EXT];
  while (base[p - 1] != 0 && base[p - 1] <= e) p = base[p - 1];
  base[e - 1] = base[p - 1];
  base[p - 1] = e;
  const int32_t s = base[e - 1];
  if (s != 0 && int64_t{e} + base[e] == s) fuse(e, s);
  if (int64_t{p} + base[p] == e) fuse(p, e);
  return true;
}

// Offset of the class record whose POOLID is `pool_class`, or 0.
int32_t find_class(const int32_t* base, int32_t pool_class) {
  int32_t c = base[FIRST_POMC];
  for (int32_t k = 0; k < base[NO_POMC]; ++k, c += base[LENW_POMC])
    if (base[c + POOLID] == pool_class) return c;
  return 0;
}

void allocate(int32_t* base, int32_t* out, int32_t bytes, int32_t mode) {
  int32_t c = base[FIRST_POMC];
  for (int32_t k = 1; k < base[NO_POMC]; ++k, c += base[LENW_POMC]) {
    const int32_t limit = base[c + POOLLIMIT];
    if (limit == -1 || limit >= bytes) break;
  }
  int32_t* lock = &base[c + POMC_SEMAPHORE];
  const int32_t n = 4 * (bytes / 16 + 1);
  enqdeq_take(lock);
  int32_t f = 0;
  for (;;) {
    const int32_t rover = base[c - 1];
    if (base[rover] >= n) {
      f = rover;
      break;
    }
    for (int32_t p = next_of(base, rover); p != rover; p = next_of(base, p)) {
      if (base[p] >= n) {
        f = p;
        break;
      }
    }
    if (f != 0) break;
    StatusPair failure;
    if (!grow_class(base, c, n, &failure)) {
      enqdeq_give(lock);
      *out = 0;
      log_allocation_failure(failure);
      return;
    }
  }
  const int32_t s = base[f];
  const int32_t pool_class = base[c + POOLID];
  base[c - 1] = next_of(base, f);
  int32_t h = f;
  int32_t taken = n;
  if (s - n >= base[c + SPLIT_BYTES] / 4) {
    base[f] = s - n - 4;
    h = f + (s - n);
    base[h - 1] = f;
    write_block(base, h, -n, pool_class);
  } else {
    base[f] = -s;
    unlink_free(base, f);
    taken = s;
  }
  add_locked(base[c + USED_WORDS], taken);
  add_locked(base[c + ALLOCS], 1);
  enqdeq_give(lock);
  *out = h + 4;
  if (mode == 0) std::memset(&base[h + 3], 0, size_t(taken) * 4);
}

// True when h is the header of an in-use block of class `pool_class` whose
// tags agree with its neighbours. Only reads words of the storage; the
// caller holds the class lock.
bool is_in_use_block(const int32_t* base, int64_t h, int32_t pool_class, int64_t words) {
  const int64_t size = -int64_t{base[h]};
  if (size < 4 || base[h + 1] != pool_class) return false;
  const int64_t above = h + size + 4;
  if (above + 2 > words - 1 || base[h + size + 3] != h) return false;
  const int64_t below = base[h - 1];
  if (below < HEADER_WORDS + 4 || below > h - 4) return false;
  const int64_t below_size = std::abs(int64_t{base[below]});
  return below_size == 0 || below + below_size + 3 == h - 1;
}

void release(int32_t* base, int32_t* out) {
  const int64_t b = *out;
  if (b == 0) return;
  const int64_t h = b - 4;
  const int64_t words = load_relaxed(base[WORDS]);
  // Indexes outside the extents name no block; reading them could fault.
  if (h < HEADER_WORDS + 1 || b > words) {
    *out = 0;
    return;
  }
  *out = base[b - 1];
  const int32_t pool_class = load_relaxed(base[h + 1]);
  if (pool_class < 1 || pool_class > 3) return;
  const int32_t c = find_class(base, pool_class);
  if (c == 0) return;
  int32_t* lock = &base[c + POMC_SEMAPHORE];
  enqdeq_take(lock);
  if (!is_in_use_block(base, h, pool_class, words)) {
    // Not a block in use (freed twice, or not a block index): leave the
    // storage alone and end the caller's chain here.
    enqdeq_give(lock);
    *out = 0;
    return;
  }
  const int32_t size = -base[h];
  DSPoolPutFree(base, c, static_cast<int32_t>(h));
  add_locked(base[c + DEALLOCS], 1);
  add_locked(base[c + USED_WORDS], -size);
  enqdeq_give(lock);
}

void initialise(int32_t* base, int32_t* out) {
  const int64_t w = *out;
  if (w < kMinInitialWords) {
    *out = 0;
    return;
  }
  base[LEFT_WORDS] = std::max(base[WORDS], 0);
  base[WORDS] = static_cast<int32_t>(w);
  base[ALLOC_WORDS] = static_cast<int32_t>(w);
  base[LOWIX] = FIRST_EXTENT_INDEX;
  base[RESERV] = 0;
  base[NO_POMC] = CLASSES;
  base[FIRST_POMC] = POMC;
  base[LENW_POMC] = POMC_WORDS;
  enqdeq_init_semaphore(&base[SEMAPHORE], 1);
  base[SEMAPHORE + 2] = base[SEMAPHORE + 3] = 0;

  const int64_t rest = w - HEADER_WORDS;
  int64_t length[CLASSES];
  length[0] = round_extent(20 * rest / 100);
  length[1] = round_extent(40 * rest / 100);
  length[2] = w - (FIRST_EXTENT_INDEX + length[0] + length[1]) + 1;
  int32_t e = FIRST_EXTENT_INDEX;
  for (int32_t k = 0; k < CLASSES; ++k) {
    const int32_t c = POMC + k * POMC_WORDS;
    const int32_t pool_class = k + 1;
    const int32_t words = static_cast<int32_t>(length[k]);
    base[c + POOLID] = pool_class;
    base[c + POOLLIMIT] = kPoolLimit[k];
    base[c + ALLOCS] = base[c + DEALLOCS] = base[c + EXTENTS] = 0;
    base[c + FIRST_EXT] = e;
    base[c + LASTSIZEW] = base[c + USED_WORDS] = 0;
    base[c + SPLIT_BYTES] = kSplitBytes[k];
    base[c + WHOLE_EXT] = 0;
    base[c + 10] = 0;
    enqdeq_init_semaphore(&base[c + POMC_SEMAPHORE], 1);
    base[c + POMC_SEMAPHORE + 2] = base[c + POMC_SEMAPHORE + 3] = 0;

    // The first extent's start guard is the head of the circular free list.
    base[e - 1] = 0;
    base[e] = words;
    base[e + 1] = base[e + 2] = base[e + 3] = 0;
    const int32_t head = e + 4;
    write_guard(base, head, pool_class);
    next_of(base, head) = prev_of(base, head) = head;
    base[head + 5] = head;
    write_guard(base, e + words - 4, pool_class);
    write_block(base, e + 10, -(words - 18), pool_class);
    base[c - 1] = head;
    DSPoolPutFree(base, c, e + 10);
    e += words;
  }
}

}  // namespace

void DSPoolPutFree(int32_t* base, int32_t c, int32_t h) {
  const int32_t size = -base[h];
  const int32_t above = h + size + 4;
  const int32_t below = base[h - 1];
  int32_t start = h;
  int32_t merged = size;
  const bool below_free = base[below] > 0;
  if (below_free) {
    start = below;
    merged = above - below - 4;
  }
  const bool above_free = base[above] > 0;
  if (above_free) {
    merged += base[above] + 4;
    if (below_free) {
      unlink_free(base, above);
    } else {
      // The freed block takes the place of the block above in the list.
      const int32_t next = next_of(base, above);
      const int32_t prev = prev_of(base, above);
      next_of(base, h) = next;
      prev_of(base, h) = prev;
      next_of(base, prev) = h;
      prev_of(base, next) = h;
    }
  } else if (!below_free) {
    const int32_t rover = base[c - 1];
    const int32_t next = next_of(base, rover);
    next_of(base, h) = next;
    prev_of(base, h) = rover;
    next_of(base, rover) = h;
    prev_of(base, next) = h;
  }
  // Headers swallowed by the merge must not look like blocks any more, so
  // that a second free of their index is recognised.
  if (start != h) base[h] = 0;
  if (above_free) base[above] = 0;
  base[start] = merged;
  base[start + 2] = 0;
  base[start + merged + 3] = start;
  base[c - 1] = start;
}

void DSPoolMem(int32_t* base, int32_t* out, int32_t n, int32_t mode) {
  if (n < 0) {
    initialise(base, out);
  } else if (n == 0) {
    release(base, out);
  } else {
    allocate(base, out, n, mode);
  }
}

int64_t DSPoolSize(const int32_t* base, int32_t item) {
  int64_t allocs = 0, deallocs = 0, used = 0;
  int32_t c = base[FIRST_POMC];
  for (int32_t k = 0; k < base[NO_POMC]; ++k, c += base[LENW_POMC]) {
    allocs += load_relaxed(base[c + ALLOCS]);
    deallocs += load_relaxed(base[c + DEALLOCS]);
    used += load_relaxed(base[c + USED_WORDS]);
  }
  const int64_t taken = load_relaxed(base[ALLOC_WORDS]);
  switch (item) {
    case ITEM_BYTES_TAKEN:
      return taken * 4;
    case ITEM_BYTES_USED:
      return (12 + used) * 4;
    case ITEM_BYTES_MOST:
      return (taken + load_relaxed(base[LEFT_WORDS])) * 4;
    case ITEM_ALLOCS:
      return allocs;
    case ITEM_DEALLOCS:
      return deallocs;
    default:
      return 0;
  }
}

int32_t* SqlPoolCreate(int64_t max_words, int32_t initial_words) {
  if (initial_words < kMinInitialWords || max_words < initial_words || max_words > INT32_MAX)
    return nullptr;
  int32_t* base = heap_reserve_area(max_words, initial_words);
  if (base != nullptr) base[WORDS] = static_cast<int32_t>(max_words - initial_words);
  return base;
}

void SqlPoolDestroy(int32_t* base) {
  heap_release_area(base);
}
