// The area allocator (boundary tags, one circular free list, growth by
// extents from the private heap) and the item lists built on area_alloc.
#include "platform/work_area.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/private_heap.h"

namespace {

// --- Registered allocators --------------------------------------------------

struct Registration {
  std::atomic<int32_t*> area{nullptr};
  std::atomic<AreaAllocator> allocator{nullptr};
};
Registration registrations[2];
std::atomic<int> registered{0};

// --- The area allocator ------------------------------------------------------
//
// Positions are 0-based word offsets from the area's base (negative for an
// extent below it). A block is a tag word (the size word position of the
// block below, or kNoBlock), a size word (N free, -N in use) and N data
// words; a free block keeps its next and previous free block in its first two
// data words. Every extent is its link word, its length word, its blocks and
// an end mark (a tag and a size word of 0). The free list is circular through
// the sentinel of size 0 in the first extent.

constexpr int32_t kNoBlock = INT32_MIN;
constexpr int32_t kSentinel = 11;
// Words an extent spends beyond its one block: link, length, the block's tag
// and size, the end mark.
constexpr int32_t kExtentOverhead = 6;

class AreaAllocatorImpl {
 public:
  explicit AreaAllocatorImpl(int32_t* base) : w_(base) {}

  bool make(int32_t size) {
    if (size < AREA_MIN_WORDS) return false;
    std::fill(w_, w_ + AREA_HEADER_WORDS, 0);
    w_[AREA_END] = size;
    w_[AREA_LOW] = 8;
    w_[AREA_FIRST_EXT] = 9;
    w_[8] = 0;          // link of the first extent
    w_[9] = size - 8;   // its length, from the link word on
    w_[10] = kNoBlock;  // the sentinel
    w_[kSentinel] = 0;
    w_[kSentinel + 1] = kSentinel;
    w_[kSentinel + 2] = kSentinel;
    w_[AREA_ROVER] = kSentinel;
    const int32_t p = 15;
    w_[p - 1] = kSentinel;
    w_[p] = -(size - 18);
    w_[size - 2] = p;
    w_[size - 1] = 0;
    free_block(p);
    return true;
  }

  int32_t alloc(int32_t n) {
    const int64_t w = std::max<int64_t>((int64_t{n} - 1) / 4 + 1, 2);
    if (w > INT32_MAX / 2) return 0;
    for (;;) {
      int32_t start = w_[AREA_ROVER], p = start;
      do {
        if (w_[p] >= w) return take(p, static_cast<int32_t>(w));
        p = w_[p + 1];
      } while (p != start);
      if (!grow(static_cast<int32_t>(w))) return 0;
    }
  }

  // The first data word of the freed block, or 0 when `index` names no
  // block in use.
  int32_t free(int32_t index) {
    const int64_t p = int64_t{index} - 2;
    if (!in_use_block(p)) return 0;
    const int32_t link = w_[p + 1];
    free_block(static_cast<int32_t>(p));
    return link;
  }

 private:
  int32_t take(int32_t p, int32_t w) {
    const int32_t size = w_[p];
    w_[AREA_ROVER] = w_[p + 1];
    int32_t q = p;
    if (size - w < 4) {
      unlink(p);
      w_[p] = -size;
      w = size;
    } else {
      // The front part stays free in place, so the list is left as it is.
      w_[p] = size - w - 2;
      q = p + size - w;
      w_[q - 1] = p;
      w_[q] = -w;
      w_[q + w + 1] = q;
    }
    std::fill(w_ + q + 1, w_ + q + 1 + w, 0);
    return q + 2;
  }

  void unlink(int32_t q) {
    const int32_t next = w_[q + 1], prev = w_[q + 2];
    w_[prev + 1] = next;
    w_[next + 2] = prev;
    if (w_[AREA_ROVER] == q) w_[AREA_ROVER] = next;
  }

  void free_block(int32_t p) {
    int32_t size = -w_[p];
    const int32_t after = p + size + 2;
    if (w_[after] > 0) {
      unlink(after);
      size += w_[after] + 2;
    }
    const int32_t before = w_[p - 1];
    if (before != kNoBlock && w_[before] > 0) {
      unlink(before);
      size += w_[before] + 2;
      p = before;
    }
    w_[p] = size;
    w_[p + size + 1] = p;
    const int32_t next = w_[kSentinel + 1];
    w_[p + 1] = next;
    w_[p + 2] = kSentinel;
    w_[next + 2] = p;
    w_[kSentinel + 1] = p;
    w_[AREA_ROVER] = p;
  }

  // A block in use starts at p when p lies inside an extent, its size word
  // is negative, the block after it points back to it and its own tag names
  // a block that ends right before it. Checking both tags keeps a stray
  // index into a block's data from passing on one word that happens to fit.
  bool in_use_block(int64_t p) const {
    int64_t last = INT64_MIN;
    for (int64_t s = w_[AREA_FIRST_EXT]; s != 0 && s > last; s = w_[s - 1]) {
      last = s;
      const int64_t end = s - 1 + w_[s];  // one past the extent
      if (p < s + 2 || p >= end - 1) continue;
      const int64_t size = -int64_t{w_[p]};
      if (size < 2 || p + size + 2 > end - 1 || w_[p + size + 1] != p) return false;
      const int64_t below = w_[p - 1];
      if (below == kNoBlock) return p == s + 2;
      // The sentinel keeps its two list words although its size is 0.
      if (below == kSentinel) return p == kSentinel + 4;
      return below >= s + 2 && below < p && below + std::abs(int64_t{w_[below]}) + 2 == p;
    }
    return false;
  }

  bool grow(int32_t w) {
    // An extent too small for the request would only be followed by another.
    if (int64_t{w} + kExtentOverhead > INT32_MAX / 2) return false;
    int64_t x = std::max<int64_t>(int64_t{w} + 1024, w_[AREA_NEXT_GROW]);
    int32_t ask =
        static_cast<int32_t>(std::clamp<int64_t>(x + x / 5, w + kExtentOverhead, INT32_MAX / 2));
    w_[AREA_NEXT_GROW] = ask;
    int32_t index = 0, size = ask;
    heap_alloc_index(w_, &index, &size);
    if (size == 0) {
      ask = std::max(w + kExtentOverhead, 8);
      w_[AREA_NEXT_GROW] = ask;
      size = ask;
      heap_alloc_index(w_, &index, &size);
      if (size == 0) return false;
    }
    const int64_t e0 = int64_t{index} - 1;
    if (e0 + size > INT32_MAX || e0 <= INT32_MIN + 1) {
      heap_free_quota(nullptr, w_, index, size);
      return false;
    }
    add_extent(static_cast<int32_t>(e0), size);
    return true;
  }

  void add_extent(int32_t e0, int32_t length) {
    const int32_t s = e0 + 1, p = e0 + 3;
    w_[e0] = 0;
    w_[s] = length;
    w_[p - 1] = kNoBlock;
    w_[p] = -(length - kExtentOverhead);
    w_[e0 + length - 2] = p;
    w_[e0 + length - 1] = 0;
    w_[AREA_END] = std::max(w_[AREA_END], e0 + length);
    w_[AREA_LOW] = std::min(w_[AREA_LOW], e0);
    int32_t prev = 0, cur = w_[AREA_FIRST_EXT];
    while (cur != 0 && cur < s) {
      prev = cur;
      cur = w_[cur - 1];
    }
    w_[s - 1] = cur;
    if (prev == 0) {
      w_[AREA_FIRST_EXT] = s;
    } else {
      w_[prev - 1] = s;
    }
    if (cur != 0 && int64_t{s} + w_[s] == cur) join(s, cur);
    if (prev != 0 && int64_t{prev} + w_[prev] == s) join(prev, s);
    free_block(p);
  }

  // Extent b lies right above extent a: they become one extent, and the four
  // words between them (a's end mark, b's link and length) one block, freed
  // so that it merges with its free neighbours.
  void join(int32_t a, int32_t b) {
    const int32_t seam = a + w_[a] - 2;  // a's end size word
    w_[a - 1] = w_[b - 1];
    w_[a] += w_[b];
    w_[seam] = -2;
    w_[b + 1] = seam;  // tag of b's first block
    free_block(seam);
  }

  int32_t* w_;
};

int32_t& word(int32_t* area, int64_t index) {
  return area[index - 1];
}

int32_t get_block(int32_t* area, int64_t bytes) {
  if (bytes < 1 || bytes > INT32_MAX) return 0;
  int32_t index = 0;
  area_alloc(area, &index, static_cast<int32_t>(bytes));
  return index;
}

void free_one(int32_t* area, int32_t index) {
  if (index != 0) area_alloc(area, &index, 0);
}

}  // namespace

void area_register(int32_t* area, AreaAllocator allocator) {
  Registration& r = registrations[registered.fetch_add(1) == 0 ? 0 : 1];
  r.allocator.store(allocator);
  r.area.store(area);
}

void area_unregister_all() {
  for (Registration& r : registrations) {
    r.area.store(nullptr);
    r.allocator.store(nullptr);
  }
  registered.store(0);
}

void area_alloc(int32_t* area, int32_t* index, int32_t n) {
  for (Registration& r : registrations) {
    if (area && r.area.load() == area) {
      if (AreaAllocator fn = r.allocator.load()) return fn(area, index, n);
    }
  }
  if (!area) {
    *index = 0;
    return;
  }
  AreaAllocatorImpl a(area);
  if (n > 0) {
    *index = a.alloc(n);
  } else if (n == 0) {
    *index = *index == 0 ? 0 : a.free(*index);
  } else if (!a.make(*index)) {
    *index = 0;
  }
}

// --- Item lists --------------------------------------------------------------

void item_area_init(int32_t* status, int32_t* area, int32_t* header) {
  *header = 0;
  int32_t h = get_block(area, 12);
  int32_t pool = h ? get_block(area, ITEM_POOL_INITIAL) : 0;
  if (!pool) {
    free_one(area, h);
    *status = ITEM_NO_MEMORY;
    return;
  }
  word(area, h + ITEM_POOL) = pool;
  word(area, h + ITEM_POOL_USED) = 0;
  word(area, h + ITEM_POOL_CAPACITY) = ITEM_POOL_INITIAL;
  *header = h;
  *status = ITEM_OK;
}

void item_find_string(int32_t* status, int32_t* position, int32_t* area, int32_t header,
                      const char* text_base, int32_t text_offset, int32_t length) {
  *position = 0;
  if (length < 0 || (!text_base && length > 0)) {
    *status = ITEM_NOT_FOUND;
    return;
  }
  const char* text = text_base ? text_base + text_offset : "";
  int32_t pool = word(area, header + ITEM_POOL);
  const int64_t used = word(area, header + ITEM_POOL_USED);
  const int64_t capacity = word(area, header + ITEM_POOL_CAPACITY);
  char* bytes = reinterpret_cast<char*>(&word(area, pool));
  for (int64_t i = 0; i + length < used; ++i) {
    if (bytes[i + length] == '\0' && memcmp(bytes + i, text, static_cast<size_t>(length)) == 0) {
      *position = static_cast<int32_t>(i + 1);
      *status = ITEM_OK;
      return;
    }
  }
  if (used + length + 1 > capacity) {
    const int64_t grown = used + length + ITEM_POOL_INITIAL;
    int32_t fresh = grown <= INT32_MAX ? get_block(area, grown) : 0;
    if (!fresh) {
      *status = ITEM_NO_MEMORY;
      return;
    }
    char* to = reinterpret_cast<char*>(&word(area, fresh));
    memcpy(to, bytes, static_cast<size_t>(used));
    // The text may lie in the old pool: copy it before that is freed.
    memcpy(to + used, text, static_cast<size_t>(length));
    free_one(area, pool);
    pool = fresh;
    bytes = to;
    word(area, header + ITEM_POOL) = pool;
    word(area, header + ITEM_POOL_CAPACITY) = static_cast<int32_t>(grown);
  } else {
    memmove(bytes + used, text, static_cast<size_t>(length));
  }
  bytes[used + length] = '\0';
  word(area, header + ITEM_POOL_USED) = static_cast<int32_t>(used + length + 1);
  *position = static_cast<int32_t>(used + 1);
  *status = ITEM_OK;
}

void item_get_string(int32_t* status, int32_t* length, char* target_base, int32_t target_offset,
                     int32_t target_length, int32_t* area, int32_t header, int32_t position) {
  *length = 0;
  const int32_t used = word(area, header + ITEM_POOL_USED);
  if (position < 1 || position > used) {
    *status = ITEM_NOT_FOUND;
    return;
  }
  const char* bytes = reinterpret_cast<const char*>(&word(area, word(area, header + ITEM_POOL)));
  const char* start = bytes + position - 1;
  const void* nul = memchr(start, '\0', static_cast<size_t>(used - position + 1));
  const int32_t n =
      nul ? static_cast<int32_t>(static_cast<const char*>(nul) - start) : used - position + 1;
  const int32_t room = std::max(target_length, 0);
  char* target = target_base + target_offset;
  const int32_t copied = std::min(n, room);
  memcpy(target, start, static_cast<size_t>(copied));
  memset(target + copied, ' ', static_cast<size_t>(room - copied));
  *length = n;
  *status = ITEM_OK;
}

void item_area_free(int32_t* status, int32_t* area, int32_t header) {
  if (header != 0) {
    free_one(area, word(area, header + ITEM_POOL));
    free_one(area, header);
  }
  *status = ITEM_OK;
}

void item_put_triple(int32_t* status, int32_t* area, int32_t* index, int32_t kind, int32_t length,
                     int32_t value) {
  *index = get_block(area, 16);
  if (!*index) {
    *status = ITEM_NO_MEMORY;
    return;
  }
  word(area, *index) = 0;
  word(area, *index + 1) = kind;
  word(area, *index + 2) = length;
  word(area, *index + 3) = value;
  *status = ITEM_OK;
}

void item_put_words(int32_t* status, int32_t* area, int32_t head, const int32_t* words_base,
                    int32_t words_offset) {
  const int32_t count = word(area, head + 1);
  const int32_t b = count >= 1 ? get_block(area, (int64_t{count} + 1) * 4) : 0;
  if (!b) {
    *status = ITEM_NO_MEMORY;
    return;
  }
  std::copy(words_base + words_offset, words_base + words_offset + count, &word(area, b + 1));
  word(area, b) = word(area, head);
  word(area, head) = b;
  *status = ITEM_OK;
}

void item_put_string(int32_t* status, int32_t* area, int32_t* index, int32_t n, int32_t value1,
                     int32_t value2, int32_t value3) {
  *index = 0;
  const int32_t a = n >= 0 ? get_block(area, 20) : 0;
  const int32_t b = a && n > 0 ? get_block(area, int64_t{n} * 4) : 0;
  if (!a || (n > 0 && !b)) {
    free_one(area, a);
    *status = ITEM_NO_MEMORY;
    return;
  }
  word(area, a) = b;
  word(area, a + 1) = n;
  word(area, a + 2) = value1;
  word(area, a + 3) = value2;
  word(area, a + 4) = value3;
  *index = a;
  *status = ITEM_OK;
}

void item_area_clear(int32_t* status, int32_t* area, int32_t* head) {
  if (*head != 0) {
    // Each free leaves the freed block's link in `next`.
    int32_t next = word(area, *head);
    while (next != 0) area_alloc(area, &next, 0);
    free_one(area, *head);
    *head = 0;
  }
  *status = ITEM_OK;
}

void item_get_by_range(int32_t* status, int32_t* table, int32_t header, int32_t* target_base,
                       int32_t target_offset, int32_t number) {
  *status = ITEM_NOT_FOUND;
  const int32_t words = word(table, header + RANGE_WORDS);
  const int32_t low = word(table, header + RANGE_LOW);
  const int32_t high = word(table, header + RANGE_HIGH);
  if (words < 1 || low < 1 || low > words || high < 1 || high > words) return;
  for (int32_t r = word(table, header + RANGE_CHAIN); r != 0; r = word(table, r)) {
    if (word(table, r + low) < number && word(table, r + high) > number) {
      std::copy(&word(table, r + 1), &word(table, r + 1) + words, target_base + target_offset);
      *status = ITEM_OK;
      return;
    }
  }
}

namespace {

// A hashed record table's header, checked once.
struct HashTable {
  int32_t* area;
  int32_t buckets, count, words, key1, key2;

  bool load(int32_t* a, int32_t header) {
    area = a;
    buckets = word(a, header + HASH_BUCKETS);
    count = word(a, header + HASH_BUCKET_COUNT);
    words = word(a, header + HASH_WORDS);
    key1 = word(a, header + HASH_KEY1);
    key2 = word(a, header + HASH_KEY2);
    return buckets != 0 && count >= 1 && words >= 1 && key1 >= 1 && key1 <= words &&
           (key2 == -1 || (key2 >= 1 && key2 <= words));
  }
  // The head word of the record's bucket; nullptr, with status -2, when the
  // header describes no table.
  int32_t* open(int32_t* status, int32_t* a, int32_t header, const int32_t* record) {
    *status = ITEM_NOT_FOUND;
    return load(a, header) ? &head_of(record) : nullptr;
  }
  // The head word of the bucket of a record's first key.
  int32_t& head_of(const int32_t* record) {
    const int64_t k = std::llabs(int64_t{record[key1 - 1]});
    return word(area, buckets + k % count);
  }
  bool matches(int32_t block, const int32_t* record) {
    if (word(area, block + key1) != record[key1 - 1]) return false;
    if (key2 == -1) return true;
    const int32_t a = word(area, block + key2), b = record[key2 - 1];
    return a == b || a == ITEM_ANY_KEY || b == ITEM_ANY_KEY;
  }
};

}  // namespace

void item_hash_delete(int32_t* status, int32_t* table, int32_t header, const int32_t* record_base,
                      int32_t record_offset) {
  HashTable t;
  int32_t* link = t.open(status, table, header, record_base + record_offset);
  if (!link) return;
  const int32_t* record = record_base + record_offset;
  while (*link != 0) {
    const int32_t b = *link;
    if (t.matches(b, record)) {
      *link = word(table, b);
      free_one(table, b);
    } else {
      link = &word(table, b);
    }
  }
  *status = ITEM_OK;
}

void item_hash_replace(int32_t* status, int32_t* table, int32_t header, const int32_t* record_base,
                       int32_t record_offset) {
  HashTable t;
  int32_t* link = t.open(status, table, header, record_base + record_offset);
  if (!link) return;
  const int32_t* record = record_base + record_offset;
  for (; *link != 0; link = &word(table, *link)) {
    if (t.matches(*link, record)) {
      std::copy(record, record + t.words, &word(table, *link + 1));
      *status = ITEM_OK;
      return;
    }
  }
  // A new block may come from a new extent, but the area's words never move,
  // so `link` still names the chain's last link word.
  const int32_t b = get_block(table, (int64_t{t.words} + 1) * 4);
  if (!b) {
    *status = ITEM_NO_MEMORY;
    return;
  }
  word(table, b) = 0;
  std::copy(record, record + t.words, &word(table, b + 1));
  *link = b;
  *status = ITEM_OK;
}

void item_hash_get(int32_t* status, int32_t* table, int32_t header, int32_t* record_base,
                   int32_t record_offset) {
  HashTable t;
  int32_t* record = record_base + record_offset;
  int32_t* head = t.open(status, table, header, record);
  if (!head) return;
  for (int32_t b = *head; b != 0; b = word(table, b)) {
    if (t.matches(b, record)) {
      std::copy(&word(table, b + 1), &word(table, b + 1) + t.words, record);
      *status = ITEM_OK;
      return;
    }
  }
}

void item_hash_free(int32_t* status, int32_t* table, int32_t* header) {
  *status = ITEM_OK;
  if (*header == 0) return;
  const int32_t buckets = word(table, *header + HASH_BUCKETS);
  const int32_t count = word(table, *header + HASH_BUCKET_COUNT);
  if (buckets != 0) {
    for (int32_t i = 0; i < count; ++i) {
      int32_t next = word(table, buckets + i);
      while (next != 0) area_alloc(table, &next, 0);
    }
    free_one(table, buckets);
  }
  free_one(table, *header);
  *header = 0;
}
