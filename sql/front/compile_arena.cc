// Arena allocator: boundary tags (+size free, -size in use) at both ends of a
// block, a doubly linked circular free list with a pseudo head block at index 1
// and a rover for next-fit, zero tags bounding every chunk so merges stay inside.
#include "sql/front/compile_arena.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <mutex>

namespace {

// Words of the first chunk: link, zero tag, then the list head (index 1, size 5).
constexpr int32_t kHead = 1;
constexpr int32_t kRoverWord = 5;
constexpr int32_t kFirstBlock = 6;
constexpr int32_t kSmallestBlock = 4;

int32_t& W(CompileArena* a, int64_t i) {
  return a->chunks[i];
}
int32_t NextFree(CompileArena* a, int32_t b) {
  return W(a, int64_t{b} + 2);
}
int32_t PrevFree(CompileArena* a, int32_t b) {
  return W(a, int64_t{b} + 3);
}
void SetNext(CompileArena* a, int32_t b, int32_t v) {
  W(a, int64_t{b} + 2) = v;
}
void SetPrev(CompileArena* a, int32_t b, int32_t v) {
  W(a, int64_t{b} + 3) = v;
}
int32_t& Rover(CompileArena* a) {
  return W(a, kRoverWord);
}

[[noreturn]] void Exit(int32_t value) {
  throw ArenaExit(value);
}

// The arena index of the block whose user pointer is p, after checking that p
// lies inside a chunk at a block's user position.
int32_t BlockIndex(CompileArena* a, const void* p) {
  auto addr = reinterpret_cast<uintptr_t>(p);
  auto first = reinterpret_cast<uintptr_t>(a->chunks);
  int64_t diff = static_cast<int64_t>(addr - first);
  if (diff % 4 != 0) Exit(2);
  int64_t word = diff / 4;
  for (int32_t c = 0; c < a->chunk_count; ++c) {
    int64_t lo = a->chunk_ranges[2 * c];
    int64_t n = a->chunk_ranges[2 * c + 1];
    // A user word lies after the header tag and before the end tag; in the
    // first chunk, after the list head too.
    int64_t low = lo == 0 ? kFirstBlock + 2 : lo + 3;
    if (word >= low && word <= lo + n - 3) return static_cast<int32_t>(word - 2);
  }
  Exit(2);
}

// Checks that the block at index i with header tag h has a matching footer
// inside its chunk.
void CheckTags(CompileArena* a, int32_t i, int32_t h) {
  int64_t size = h < 0 ? -int64_t{h} : h;
  int64_t footer = int64_t{i} + size;
  for (int32_t c = 0; c < a->chunk_count; ++c) {
    int64_t lo = a->chunk_ranges[2 * c];
    int64_t n = a->chunk_ranges[2 * c + 1];
    if (i + 1 > lo && i + 1 < lo + n) {
      if (size < kSmallestBlock || footer >= lo + n - 1) Exit(2);
      if (W(a, footer) != h) Exit(2);
      return;
    }
  }
  Exit(2);
}

void RememberChunk(CompileArena* a, int64_t first, int64_t words) {
  if (a->chunk_count == a->chunk_capacity) {
    int32_t cap = a->chunk_capacity == 0 ? 8 : a->chunk_capacity * 2;
    void* grown = std::realloc(a->chunk_ranges, sizeof(int64_t) * 2 * cap);
    if (grown == nullptr) Exit(1);
    a->chunk_ranges = static_cast<int64_t*>(grown);
    a->chunk_capacity = cap;
  }
  a->chunk_ranges[2 * a->chunk_count] = first;
  a->chunk_ranges[2 * a->chunk_count + 1] = words;
  ++a->chunk_count;
}

int32_t* ProviderAlloc(CompileArena* a, int32_t bytes) {
  if (a->provider_base != nullptr) {
    int32_t index = 0;
    if (a->word_provider == nullptr) return nullptr;
    a->word_provider(a->provider_base, &index, bytes);
    if (index <= 0) return nullptr;
    return a->provider_base + (index - 1);
  }
  if (a->pointer_provider == nullptr) return nullptr;
  return static_cast<int32_t*>(a->pointer_provider(nullptr, bytes));
}

void ProviderFree(CompileArena* a, int32_t* chunk) {
  if (a->provider_base != nullptr) {
    int32_t index = static_cast<int32_t>(chunk - a->provider_base) + 1;
    a->word_provider(a->provider_base, &index, 0);
  } else {
    a->pointer_provider(chunk, 0);
  }
}

// Takes a chunk big enough for a request of w words and frees its one big
// block into the list.
void AddChunk(CompileArena* a, int64_t w) {
  bool first = a->chunks == nullptr;
  int64_t words = w + (first ? 10 : 5);
  words = std::max<int64_t>(words, a->minimum_chunk);
  words = std::max<int64_t>(words, kArenaMinimumChunkWords);
  int64_t bytes = words * 4;
  if (bytes <= 0 || bytes > INT32_MAX) Exit(1);
  int32_t* chunk = ProviderAlloc(a, static_cast<int32_t>(bytes));
  if (chunk == nullptr) Exit(1);
  if (first) {
    a->chunks = chunk;
    RememberChunk(a, 0, words);
    int32_t n = static_cast<int32_t>(words);
    W(a, 0) = 0;
    W(a, 1) = 0;
    W(a, 2) = -5;
    W(a, 3) = kHead;
    W(a, 4) = kHead;
    W(a, 5) = kHead;
    W(a, 6) = -5;
    W(a, kFirstBlock + 1) = -(n - 8);
    W(a, n - 2) = -(n - 8);
    W(a, n - 1) = 0;
    ArenaFreeBlock(a, &W(a, kFirstBlock + 2));
    return;
  }
  // Word indexes are 32-bit: a chunk too far from the first one cannot be named.
  int64_t offset = (reinterpret_cast<intptr_t>(chunk) - reinterpret_cast<intptr_t>(a->chunks)) / 4;
  if (offset <= INT32_MIN + 2 || offset + words >= INT32_MAX - 4) {
    ProviderFree(a, chunk);
    Exit(1);
  }
  RememberChunk(a, offset, words);
  int32_t x = static_cast<int32_t>(offset);
  int32_t n = static_cast<int32_t>(words);
  W(a, x) = W(a, 0);
  W(a, 0) = x;
  W(a, int64_t{x} + 1) = 0;
  W(a, int64_t{x} + 2) = -(n - 3);
  W(a, int64_t{x} + n - 2) = -(n - 3);
  W(a, int64_t{x} + n - 1) = 0;
  ArenaFreeBlock(a, &W(a, int64_t{x} + 3));
}

// Next-fit search from the rover's successor; the rover itself is examined last.
bool FindFit(CompileArena* a, int32_t s, int32_t* found) {
  int32_t rover = Rover(a);
  int32_t b = NextFree(a, rover);
  for (;;) {
    if (W(a, int64_t{b} + 1) >= s) {
      *found = b;
      return true;
    }
    if (b == rover) return false;
    b = NextFree(a, b);
  }
}

}  // namespace

const char* ArenaExit::what() const noexcept {
  return value == 1 ? "arena: no storage" : "arena: damaged block";
}

void* ArenaAlloc(CompileArena* a, void* old, int32_t n) {
  if (n <= 0) return nullptr;
  int64_t w = (int64_t{n} + 3) / 4;
  int32_t s = static_cast<int32_t>(std::max<int64_t>(w + 2, kSmallestBlock));
  int32_t b = 0;
  for (;;) {
    if (a->chunks != nullptr && FindFit(a, s, &b)) break;
    AddChunk(a, w);
  }
  int32_t f = W(a, int64_t{b} + 1);
  Rover(a) = NextFree(a, b);
  int32_t mine = b;
  if (f - s >= kSmallestBlock) {
    // The low part keeps its place in the list; only its tags move.
    W(a, int64_t{b} + 1) = f - s;
    W(a, int64_t{b} + f - s) = f - s;
    mine = b + (f - s);
  } else {
    int32_t next = NextFree(a, b);
    int32_t prev = PrevFree(a, b);
    SetNext(a, prev, next);
    SetPrev(a, next, prev);
    s = f;
  }
  W(a, int64_t{mine} + 1) = -s;
  W(a, int64_t{mine} + s) = -s;
  void* p = &W(a, int64_t{mine} + 2);
  if (old != nullptr) {
    int32_t oi = BlockIndex(a, old);
    int32_t oh = W(a, int64_t{oi} + 1);
    if (oh >= 0) Exit(2);
    CheckTags(a, oi, oh);
    int64_t old_bytes = (-int64_t{oh} - 2) * 4;
    std::memcpy(p, old, static_cast<size_t>(std::min<int64_t>(old_bytes, n)));
    ArenaFreeBlock(a, old);
  }
  return p;
}

void ArenaFree(CompileArena* a, void* p) {
  if (p == nullptr || a->chunks == nullptr) return;
  ArenaFreeBlock(a, p);
}

void ArenaFreeBlock(CompileArena* a, void* p) {
  int32_t i = BlockIndex(a, p);
  int32_t h = W(a, int64_t{i} + 1);
  // A free (positive) or zero header here means a double free or a stray
  // pointer; merging it would tie the list in knots.
  if (h >= 0) Exit(2);
  CheckTags(a, i, h);
  int32_t s = -h;
  int32_t follow = i + s;
  int32_t fh = W(a, int64_t{follow} + 1);
  int32_t preceding_footer = W(a, i);
  int32_t ins_next = 0;
  int32_t ins_prev = 0;
  if (fh > 0) {
    s += fh;
    ins_next = NextFree(a, follow);
    ins_prev = PrevFree(a, follow);
    if (preceding_footer > 0) {
      SetNext(a, ins_prev, ins_next);
      SetPrev(a, ins_next, ins_prev);
    }
    Rover(a) = ins_next;
  } else {
    ins_prev = Rover(a);
    ins_next = NextFree(a, ins_prev);
  }
  if (preceding_footer > 0) {
    int32_t pi = i - preceding_footer;
    int32_t total = preceding_footer + s;
    W(a, int64_t{pi} + 1) = total;
    W(a, int64_t{pi} + total) = total;
    return;
  }
  W(a, int64_t{i} + 1) = s;
  W(a, int64_t{i} + s) = s;
  SetNext(a, i, ins_next);
  SetPrev(a, i, ins_prev);
  SetNext(a, ins_prev, i);
  SetPrev(a, ins_next, i);
}

void ArenaRelease(CompileArena* a) {
  if (a->chunks != nullptr) {
    int32_t x = W(a, 0);
    while (x != 0) {
      int32_t next = W(a, x);
      W(a, 0) = next;
      ProviderFree(a, &W(a, x));
      x = next;
    }
    ProviderFree(a, a->chunks);
    a->chunks = nullptr;
  }
  std::free(a->chunk_ranges);
  a->chunk_ranges = nullptr;
  a->chunk_count = 0;
  a->chunk_capacity = 0;
}

void ArenaWordAlloc(int32_t* base, CompileArena*& arena, int32_t& index, int32_t n) {
  if (n > 0) {
    void* p = ArenaAlloc(arena, nullptr, n);
    std::memset(p, 0, static_cast<size_t>(n));
    index = static_cast<int32_t>(static_cast<int32_t*>(p) - base) + 1;
  } else if (n == 0) {
    int32_t* record = base + (index - 1);
    int32_t first = *record;
    ArenaFree(arena, record);
    index = first;
  }
}

void* ArenaAllocAligned(CompileArena* a, int32_t n) {
  if (n <= 0 || n > INT32_MAX - 4) return nullptr;
  auto* p = static_cast<int32_t*>(ArenaAlloc(a, nullptr, n + 4));
  if (reinterpret_cast<uintptr_t>(p) % 8 == 0) return p;
  p[0] = 1;  // padding marker: positive, unlike the block's header tag
  return p + 1;
}

void ArenaFreeAligned(CompileArena* a, void* p) {
  if (p == nullptr) return;
  auto* q = static_cast<int32_t*>(p);
  ArenaFree(a, q[-1] < 0 ? q : q - 1);
}

namespace {

// The local word storage: a reserved region whose pages are committed on first
// touch; chunks are handed out first-fit from a map of free ranges (in words,
// 1-based like the kernel's) and merged with their neighbours when returned.
constexpr int64_t kLocalWords = int64_t{1} << 29;  // 2 GiB of address space
constexpr int64_t kLocalGrain = 4;                 // words; keeps chunks 16-byte aligned

// Chunks given back lately stay out of the free map for the next request
// they cover: a job takes and returns the same chunks over and over, and the
// maps' node churn cost more than a short parse's own allocations.
constexpr int kRecentChunks = 8;

struct LocalStorage {
  std::mutex lock;
  int32_t* base = nullptr;
  std::map<int64_t, int64_t> free_ranges;  // first index -> words
  // first index -> words of a chunk handed out; -words while it waits in
  // `recent`, oldest first.
  std::map<int64_t, int64_t> used;
  int64_t recent[kRecentChunks];
  int recent_count = 0;
  LocalStorage() {
    void* p = mmap(nullptr, static_cast<size_t>(kLocalWords) * 4, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) return;
    base = static_cast<int32_t*>(p);
    // Index 0 would mean "no storage"; the first grain is never handed out.
    free_ranges[kLocalGrain] = kLocalWords - kLocalGrain;
  }
};

LocalStorage& Local() {
  static LocalStorage* storage = new LocalStorage;  // lives as long as the process
  return *storage;
}

}  // namespace

int32_t* ArenaLocalBase() {
  return Local().base;
}

namespace {

// A chunk goes back to the free ranges, merged with its free neighbours.
void ReturnChunk(LocalStorage& ls, std::map<int64_t, int64_t>::iterator it) {
  int64_t first = it->first;
  int64_t words = it->second < 0 ? -it->second : it->second;
  ls.used.erase(it);
  auto next = ls.free_ranges.lower_bound(first);
  if (next != ls.free_ranges.end() && next->first == first + words) {
    words += next->second;
    next = ls.free_ranges.erase(next);
  }
  if (next != ls.free_ranges.begin()) {
    auto prev = std::prev(next);
    if (prev->first + prev->second == first) {
      prev->second += words;
      return;
    }
  }
  ls.free_ranges[first] = words;
}

}  // namespace

void ArenaLocalProvider(int32_t* base, int32_t* index, int32_t bytes) {
  LocalStorage& ls = Local();
  std::lock_guard<std::mutex> guard(ls.lock);
  if (bytes < 0 || ls.base == nullptr || base != ls.base) {
    if (bytes > 0) *index = 0;
    return;
  }
  if (bytes == 0) {
    // Index i names word base[i - 1]; the maps hold word offsets. A chunk
    // not handed out (or waiting already) is ignored.
    auto it = ls.used.find(int64_t{*index} - 1);
    if (it == ls.used.end() || it->second < 0) return;
    if (ls.recent_count == kRecentChunks) {
      ReturnChunk(ls, ls.used.find(ls.recent[0]));
      std::memmove(ls.recent, ls.recent + 1, sizeof ls.recent[0] * (kRecentChunks - 1));
      --ls.recent_count;
    }
    it->second = -it->second;
    ls.recent[ls.recent_count++] = it->first;
    return;
  }
  int64_t words = (int64_t{bytes} + 3) / 4;
  words = (words + kLocalGrain - 1) / kLocalGrain * kLocalGrain;
  // The newest waiting chunk that is large enough.
  for (int i = ls.recent_count - 1; i >= 0; --i) {
    auto it = ls.used.find(ls.recent[i]);
    if (-it->second < words) continue;
    it->second = -it->second;
    std::memmove(ls.recent + i, ls.recent + i + 1,
                 sizeof ls.recent[0] * static_cast<size_t>(ls.recent_count - i - 1));
    --ls.recent_count;
    *index = static_cast<int32_t>(it->first + 1);
    return;
  }
  for (auto it = ls.free_ranges.begin(); it != ls.free_ranges.end(); ++it) {
    if (it->second < words) continue;
    int64_t first = it->first;
    int64_t left = it->second - words;
    ls.free_ranges.erase(it);
    if (left > 0) ls.free_ranges[first + words] = left;
    ls.used[first] = words;
    *index = static_cast<int32_t>(first + 1);
    return;
  }
  *index = 0;
}

void ArenaUseLocalStorage(CompileArena* arena) {
  arena->word_provider = ArenaLocalProvider;
  arena->provider_base = ArenaLocalBase();
}
