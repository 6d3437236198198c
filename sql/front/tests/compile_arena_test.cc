// The arena allocator against a model: random allocations, reallocations and
// frees keep every block's contents and the heap's invariants (matching tags,
// no adjacent free blocks, the free list holding exactly the free blocks).
#include "sql/front/compile_arena.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <vector>

namespace {

std::vector<int32_t> g_requests;  // byte counts asked of the provider

void RecordingProvider(int32_t* base, int32_t* index, int32_t bytes) {
  if (bytes > 0) g_requests.push_back(bytes);
  ArenaLocalProvider(base, index, bytes);
}

void* FailingProvider(void*, int32_t) {
  return nullptr;
}

struct Arena {
  CompileArena a;
  explicit Arena(int32_t min_chunk = 0) {
    a.word_provider = RecordingProvider;
    a.provider_base = ArenaLocalBase();
    a.minimum_chunk = min_chunk;
    g_requests.clear();
  }
  ~Arena() { ArenaRelease(&a); }
};

int32_t BlockWords(void* p) {
  return -static_cast<int32_t*>(p)[-1];
}

// Walks every chunk and checks the boundary-tag and free-list invariants;
// returns the number of free blocks.
int CheckHeap(CompileArena* a) {
  std::set<int32_t> free_blocks;
  for (int32_t c = 0; c < a->chunk_count; ++c) {
    int64_t lo = a->chunk_ranges[2 * c];
    int64_t n = a->chunk_ranges[2 * c + 1];
    EXPECT_EQ(a->chunks[lo + n - 1], 0);
    int64_t i = lo == 0 ? 6 : lo + 1;
    EXPECT_EQ(a->chunks[i], lo == 0 ? -5 : 0);
    bool prev_free = false;
    while (i < lo + n - 1 - 1) {
      int32_t h = a->chunks[i + 1];
      int32_t s = h < 0 ? -h : h;
      EXPECT_GE(s, 4);
      EXPECT_EQ(a->chunks[i + s], h) << "footer of block " << i;
      if (h > 0) {
        EXPECT_FALSE(prev_free) << "adjacent free blocks at " << i;
        free_blocks.insert(static_cast<int32_t>(i));
      }
      prev_free = h > 0;
      i += s;
    }
    EXPECT_EQ(i, lo + n - 2);
  }
  std::set<int32_t> listed;
  int32_t b = a->chunks[3];
  int guard = 0;
  while (b != 1 && guard++ < 100000) {
    listed.insert(b);
    EXPECT_EQ(a->chunks[a->chunks[b + 2] + 3], b) << "back link of " << a->chunks[b + 2];
    b = a->chunks[b + 2];
  }
  EXPECT_EQ(listed, free_blocks);
  return static_cast<int>(free_blocks.size());
}

TEST(CompileArena, BlockSizesFollowTheRequest) {
  struct Case {
    int32_t bytes;
    int32_t words;
  } cases[] = {{1, 4}, {8, 4}, {9, 5}, {12, 5}, {13, 6}, {400, 102}};
  for (const Case& c : cases) {
    Arena ar(0);
    void* p = ArenaAlloc(&ar.a, nullptr, c.bytes);
    EXPECT_EQ(BlockWords(p), c.words) << c.bytes << " bytes";
  }
}

TEST(CompileArena, FirstChunkSizeAndFloor) {
  Arena big(1024);
  ArenaAlloc(&big.a, nullptr, 100000);
  ASSERT_EQ(g_requests.size(), 1u);
  EXPECT_EQ(g_requests[0], (25000 + 10) * 4);
  Arena small(0);
  ArenaAlloc(&small.a, nullptr, 4);
  EXPECT_EQ(g_requests.back(), 1024 * 4);
  Arena compile(65536);
  ArenaAlloc(&compile.a, nullptr, 4);
  EXPECT_EQ(g_requests.back(), 65536 * 4);
}

TEST(CompileArena, ZeroOrNegativeRequestReturnsNullAndKeepsOld) {
  Arena ar;
  auto* p = static_cast<char*>(ArenaAlloc(&ar.a, nullptr, 16));
  std::memcpy(p, "keep", 5);
  EXPECT_EQ(ArenaAlloc(&ar.a, p, 0), nullptr);
  EXPECT_EQ(ArenaAlloc(&ar.a, p, -3), nullptr);
  EXPECT_STREQ(p, "keep");
  EXPECT_LT(static_cast<int32_t*>(static_cast<void*>(p))[-1], 0);
}

TEST(CompileArena, SplitOnlyWithFourWordsLeftOver) {
  Arena ar;
  // Carve a hole of 7 words between two live blocks, then ask for a 4-word
  // block: 3 words would be left, so the whole hole is handed out.
  void* a = ArenaAlloc(&ar.a, nullptr, 8);
  void* hole = ArenaAlloc(&ar.a, nullptr, 20);  // 7 words
  void* c = ArenaAlloc(&ar.a, nullptr, 8);
  ASSERT_EQ(BlockWords(hole), 7);
  ArenaFree(&ar.a, hole);
  // Every other free space sits in the big low block, which the rover may pick
  // first; fill it so that only the hole fits.
  std::vector<void*> fill;
  for (;;) {
    void* f = ArenaAlloc(&ar.a, nullptr, 8);
    if (f == hole) {
      EXPECT_EQ(BlockWords(f), 7);
      break;
    }
    fill.push_back(f);
    ASSERT_LT(fill.size(), 2000u);
  }
  CheckHeap(&ar.a);
  (void)a;
  (void)c;
}

TEST(CompileArena, NeighboursMergeInEitherOrder) {
  for (bool low_first : {true, false}) {
    Arena ar;
    void* guard_lo = ArenaAlloc(&ar.a, nullptr, 8);
    void* x = ArenaAlloc(&ar.a, nullptr, 40);  // 12 words
    void* y = ArenaAlloc(&ar.a, nullptr, 24);  // 8 words
    void* guard_hi = ArenaAlloc(&ar.a, nullptr, 8);
    // Blocks are carved from the high end, so y lies below x.
    void* lower = x < y ? x : y;
    ArenaFree(&ar.a, low_first ? x : y);
    ArenaFree(&ar.a, low_first ? y : x);
    EXPECT_EQ(static_cast<int32_t*>(lower)[-1], 20);
    CheckHeap(&ar.a);
    (void)guard_lo;
    (void)guard_hi;
  }
}

TEST(CompileArena, ReallocationCopiesTheSmallerSize) {
  Arena ar;
  auto* p = static_cast<uint8_t*>(ArenaAlloc(&ar.a, nullptr, 64));
  for (int i = 0; i < 64; ++i) p[i] = static_cast<uint8_t>(i + 1);
  auto* q = static_cast<uint8_t*>(ArenaAlloc(&ar.a, p, 10));
  for (int i = 0; i < 10; ++i) EXPECT_EQ(q[i], i + 1);
  auto* r = static_cast<uint8_t*>(ArenaAlloc(&ar.a, q, 200));
  // q had 12 bytes of user space (5-word block); all of it moves.
  for (int i = 0; i < 10; ++i) EXPECT_EQ(r[i], i + 1);
  CheckHeap(&ar.a);
}

TEST(CompileArena, FailuresLeaveThroughTheExit) {
  CompileArena none;
  none.pointer_provider = FailingProvider;
  try {
    ArenaAlloc(&none, nullptr, 8);
    FAIL() << "no exit";
  } catch (const ArenaExit& e) {
    EXPECT_EQ(e.value, 1);
  }
  ArenaRelease(&none);
  Arena ar;
  auto* p = static_cast<int32_t*>(ArenaAlloc(&ar.a, nullptr, 16));
  ASSERT_EQ(BlockWords(p), 6);
  p[4] = 777;  // the footer of a 6-word block follows its 4 user words
  try {
    ArenaFree(&ar.a, p);
    FAIL() << "no exit";
  } catch (const ArenaExit& e) {
    EXPECT_EQ(e.value, 2);
  }
  // A double free is damage too, not a knot in the free list.
  void* q = ArenaAlloc(&ar.a, nullptr, 16);
  ArenaFree(&ar.a, q);
  EXPECT_THROW(ArenaFree(&ar.a, q), ArenaExit);
  int32_t stray = 0;
  EXPECT_THROW(ArenaFree(&ar.a, &stray), ArenaExit);
}

TEST(CompileArena, RandomWorkAgainstAModel) {
  Arena ar(0);
  std::mt19937 rng(7);
  struct Live {
    std::vector<uint8_t> bytes;
  };
  std::map<uint8_t*, Live> model;
  for (int step = 0; step < 4000; ++step) {
    int op = static_cast<int>(rng() % 10);
    if (op < 5 || model.empty()) {
      int32_t n = 1 + static_cast<int32_t>(rng() % (rng() % 8 == 0 ? 9000 : 200));
      auto* p = static_cast<uint8_t*>(ArenaAlloc(&ar.a, nullptr, n));
      ASSERT_GE((BlockWords(p) - 2) * 4, n);
      Live l{std::vector<uint8_t>(n)};
      for (auto& b : l.bytes) b = static_cast<uint8_t>(rng());
      std::memcpy(p, l.bytes.data(), n);
      ASSERT_EQ(model.count(p), 0u);
      model[p] = l;
    } else {
      auto it = model.begin();
      std::advance(it, rng() % model.size());
      ASSERT_EQ(std::memcmp(it->first, it->second.bytes.data(), it->second.bytes.size()), 0);
      if (op < 8) {
        ArenaFree(&ar.a, it->first);
        model.erase(it);
      } else {
        int32_t n = 1 + static_cast<int32_t>(rng() % 600);
        Live l = it->second;
        auto* q = static_cast<uint8_t*>(ArenaAlloc(&ar.a, it->first, n));
        model.erase(it);
        size_t kept = std::min<size_t>(l.bytes.size(), n);
        ASSERT_EQ(std::memcmp(q, l.bytes.data(), kept), 0);
        l.bytes.resize(n);
        for (size_t i = kept; i < l.bytes.size(); ++i) l.bytes[i] = static_cast<uint8_t>(rng());
        std::memcpy(q, l.bytes.data(), n);
        model[q] = l;
      }
    }
    if (step % 97 == 0) CheckHeap(&ar.a);
  }
  EXPECT_GT(ar.a.chunk_count, 1);
  for (auto& [p, l] : model) ASSERT_EQ(std::memcmp(p, l.bytes.data(), l.bytes.size()), 0);
  for (auto& [p, l] : model) ArenaFree(&ar.a, p);
  // With everything freed, each chunk is one free block: nothing merged across.
  EXPECT_EQ(CheckHeap(&ar.a), ar.a.chunk_count);
}

// A pointer provider whose second chunk lies 64 GiB away from the first: too
// far for 32-bit word indexes, so it is handed back and the arena exits with 1.
std::vector<void*> g_far_frees;
alignas(8) int32_t g_first_chunk[2048];

// The far address is only handed out and compared, never dereferenced; it is
// made from an integer so that no pointer arithmetic leaves the array.
void* FarChunk() {
  return reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(g_first_chunk) + (uintptr_t{1} << 36));
}

void* FarProvider(void* p, int32_t bytes) {
  if (bytes == 0) {
    g_far_frees.push_back(p);
    return nullptr;
  }
  static int calls = 0;
  return ++calls % 2 == 1 ? static_cast<void*>(g_first_chunk) : FarChunk();
}

TEST(CompileArena, ChunksBeyondWordIndexReachAreRefused) {
  CompileArena a;
  a.pointer_provider = FarProvider;
  ArenaAlloc(&a, nullptr, 4000);  // the first chunk, 1024 words
  try {
    ArenaAlloc(&a, nullptr, 4000);
    FAIL() << "no exit";
  } catch (const ArenaExit& e) {
    EXPECT_EQ(e.value, 1);
  }
  ASSERT_EQ(g_far_frees.size(), 1u);
  EXPECT_EQ(g_far_frees[0], FarChunk());
  ArenaRelease(&a);
  EXPECT_EQ(g_far_frees.back(), static_cast<void*>(g_first_chunk));
}

// A word storage with 1-based indexes handed out by a bump pointer.
std::vector<int32_t> g_words(1 << 16);
int32_t g_next_word = 1;
int g_word_frees = 0;

void WordProvider(int32_t* base, int32_t* index, int32_t bytes) {
  EXPECT_EQ(base, g_words.data());
  if (bytes == 0) {
    ++g_word_frees;
    return;
  }
  int32_t words = (bytes + 3) / 4;
  if (g_next_word + words > static_cast<int32_t>(g_words.size())) {
    *index = 0;
    return;
  }
  *index = g_next_word;
  g_next_word += words;
}

TEST(CompileArena, WordIndexInterfaceOverAWordStorage) {
  CompileArena a;
  a.word_provider = WordProvider;
  a.provider_base = g_words.data();
  int32_t* base = g_words.data();
  CompileArena* ref = &a;
  // Build a chain of records linked through their first word, then free it by
  // walking: each free replaces the index with the record's first word.
  int32_t head = 0;
  for (int i = 0; i < 5; ++i) {
    int32_t rec = 0;
    ArenaWordAlloc(base, ref, rec, 12);
    ASSERT_GT(rec, 0);
    EXPECT_EQ(base[rec - 1 + 1], 0);
    base[rec - 1] = head;
    base[rec] = i;
    head = rec;
  }
  int freed = 0;
  while (head != 0) {
    ArenaWordAlloc(base, ref, head, 0);
    ++freed;
  }
  EXPECT_EQ(freed, 5);
  // Exhausting the storage leaves through the exit with 1.
  EXPECT_THROW(ArenaAlloc(&a, nullptr, 1 << 20), ArenaExit);
  g_word_frees = 0;
  ArenaRelease(&a);
  EXPECT_EQ(g_word_frees, 1);
  EXPECT_EQ(a.chunks, nullptr);
}

}  // namespace

namespace {

// The local word storage: a chunk given back is handed out again for a
// request it covers, a chunk given back twice waits once, and chunks given
// back beyond those kept waiting return to the free ranges, where they can
// be taken again.
TEST(CompileArena, LocalStorageReusesReturnedChunks) {
  int32_t* base = ArenaLocalBase();
  ASSERT_NE(base, nullptr);
  int32_t first = 0;
  ArenaLocalProvider(base, &first, 4000);
  ASSERT_GT(first, 0);
  base[first - 1] = 7;  // the chunk's pages are usable
  ArenaLocalProvider(base, &first, 0);
  ArenaLocalProvider(base, &first, 0);  // a second return is ignored
  int32_t again = 0;
  int32_t other = 0;
  ArenaLocalProvider(base, &again, 3000);
  ArenaLocalProvider(base, &other, 3000);
  EXPECT_EQ(again, first);
  EXPECT_NE(other, first);
  ArenaLocalProvider(base, &again, 0);
  ArenaLocalProvider(base, &other, 0);
  // Twenty chunks taken and given back: every one is distinct while held,
  // and all can be taken again afterwards.
  std::set<int32_t> held;
  std::vector<int32_t> chunks(20);
  for (int32_t& c : chunks) {
    ArenaLocalProvider(base, &c, 1 << 16);
    ASSERT_GT(c, 0);
    EXPECT_TRUE(held.insert(c).second);
  }
  for (int32_t& c : chunks) ArenaLocalProvider(base, &c, 0);
  held.clear();
  for (int32_t& c : chunks) {
    ArenaLocalProvider(base, &c, 1 << 16);
    ASSERT_GT(c, 0);
    EXPECT_TRUE(held.insert(c).second);
  }
  for (int32_t& c : chunks) ArenaLocalProvider(base, &c, 0);
}

}  // namespace
