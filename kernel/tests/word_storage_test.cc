// The kernel word storage: class choice and block sizes, splitting, freeing
// and merging, chains, growth and fusing of extents, quota exhaustion, bad
// frees, and a randomized run against a model of the live blocks. A walker
// checks every extent and free list after each scenario.
#include "kernel/word_storage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "kernel/control_blocks.h"
#include "platform/enqdeq.h"
#include "platform/host_services.h"

using namespace sqlpool;

namespace {

struct CapturedEntry {
  int severity;
  std::vector<std::string> lines;
};

struct CapturingServices : HostServices {
  std::vector<CapturedEntry> entries;
  void write_output(StatusPair* status, int severity, const char* area, int count) override {
    set_success(status);
    CapturedEntry e{severity, {}};
    for (int i = 0; i < std::max(count, 1); ++i) {
      e.lines.emplace_back(area);
      area += e.lines.back().size() + 1;
    }
    entries.push_back(e);
  }
};

// A storage of `initial` words that may grow to `max` words.
class Pool {
 public:
  Pool(int64_t max, int32_t initial) : base_(SqlPoolCreate(max, initial)) {
    int32_t w = initial;
    DSPoolMem(base_, &w, -1, 0);
    EXPECT_EQ(w, initial);
  }
  ~Pool() { SqlPoolDestroy(base_); }
  int32_t* base() const { return base_; }
  int32_t& at(int64_t offset) const { return base_[offset]; }
  int32_t alloc(int32_t bytes, int32_t mode = 0) const {
    int32_t out = -7;
    DSPoolMem(base_, &out, bytes, mode);
    return out;
  }
  // Frees *index once; returns what the out word became.
  int32_t free(int32_t index) const {
    DSGetMem(base_, &index, 0);
    return index;
  }
  static int32_t pomc(int pool_class) { return POMC + (pool_class - 1) * POMC_WORDS; }
  int32_t counter(int pool_class, int32_t word) const { return at(pomc(pool_class) + word); }
  // Data words and class of the block with index b.
  int32_t data_words(int32_t b) const { return -at(b - 4); }
  int32_t class_of(int32_t b) const { return at(b - 3); }

 private:
  int32_t* base_;
};

struct ClassShape {
  int extents = 0;
  int free_blocks = 0;  // on the free list
  int used_blocks = 0;
  int64_t used_words = 0;
  std::vector<std::pair<int32_t, int32_t>> extent_list;  // index, length
};

// Walks every extent and the free list of a class and checks the tags:
// trailers, no two free blocks side by side, the free list holding exactly
// the free blocks, and the counters agreeing with the blocks in use.
ClassShape CheckClass(const Pool& pool, int pool_class) {
  ClassShape shape;
  const int32_t c = Pool::pomc(pool_class);
  const int32_t first = pool.at(c + FIRST_EXT);
  std::set<int32_t> free_seen;
  int32_t prev_end = INT32_MIN;
  for (int32_t e = first; e != 0; e = pool.at(e - 1)) {
    const int32_t length = pool.at(e);
    shape.extent_list.push_back({e, length});
    ++shape.extents;
    if (e != first) {
      EXPECT_GT(e, prev_end) << "extents out of order";
      EXPECT_EQ(pool.at(e + 4), 0);
      EXPECT_EQ(pool.at(e + 7), e + 4);
    }
    prev_end = e + length - 1;
    const int32_t end_guard = e + length - 4;
    EXPECT_EQ(pool.at(end_guard), 0);
    EXPECT_EQ(pool.at(end_guard + 1), pool_class);
    bool prev_free = false;
    int32_t h = e == first ? e + 10 : e + 8;
    while (h != end_guard) {
      const int32_t size = pool.at(h);
      const int32_t words = std::abs(size);
      EXPECT_GT(h, e);
      EXPECT_LT(h + words + 3, end_guard) << "block runs past its extent";
      if (h + words + 3 >= end_guard) return shape;
      EXPECT_EQ(pool.at(h + 1), pool_class);
      EXPECT_EQ(pool.at(h + words + 3), h) << "trailer of block " << h;
      if (size > 0) {
        EXPECT_FALSE(prev_free) << "two free blocks side by side at " << h;
        free_seen.insert(h);
      } else {
        ++shape.used_blocks;
        shape.used_words += words;
      }
      prev_free = size > 0;
      h += words + 4;
    }
  }
  const int32_t head = first + 4;
  std::set<int32_t> on_list;
  int32_t prev = head;
  for (int32_t h = pool.at(head + 3); h != head; h = pool.at(h + 3)) {
    EXPECT_EQ(pool.at(h + 4), prev) << "previous link of " << h;
    EXPECT_TRUE(on_list.insert(h).second) << "list loops at " << h;
    if (on_list.size() > free_seen.size()) break;
    prev = h;
  }
  EXPECT_EQ(on_list, free_seen);
  shape.free_blocks = int(on_list.size());
  EXPECT_EQ(shape.used_words, pool.counter(pool_class, USED_WORDS));
  EXPECT_EQ(shape.used_blocks,
            pool.counter(pool_class, ALLOCS) - pool.counter(pool_class, DEALLOCS));
  return shape;
}

void CheckAll(const Pool& pool) {
  for (int k = 1; k <= 3; ++k) CheckClass(pool, k);
}

TEST(WordStorage, InitialisationLaysOutHeaderAndOneExtentPerClass) {
  Pool pool(200000, 100000);
  EXPECT_EQ(pool.at(WORDS), 100000);
  EXPECT_EQ(pool.at(LOWIX), 61);
  EXPECT_EQ(pool.at(RESERV), 0);
  EXPECT_EQ(pool.at(NO_POMC), 3);
  EXPECT_EQ(pool.at(FIRST_POMC), 13);
  EXPECT_EQ(pool.at(LENW_POMC), 16);
  EXPECT_EQ(pool.at(LEFT_WORDS), 100000);
  EXPECT_EQ(pool.at(ALLOC_WORDS), 100000);
  EXPECT_EQ(pool.at(SEMAPHORE), 1);
  // 20% and 40% of the 99940 words after the header, rounded to a multiple
  // of 4 above; class 3 takes the rest up to the last word.
  const int32_t expected[3][5] = {
      // POOLID, POOLLIMIT, SPLIT_BYTES, FIRST_EXT, extent length
      {1, 100, 32, 61, 19992},
      {2, 500, 100, 61 + 19992, 39980},
      {3, -1, 500, 61 + 19992 + 39980, 100000 - (61 + 19992 + 39980) + 1},
  };
  for (int k = 1; k <= 3; ++k) {
    SCOPED_TRACE(k);
    const int32_t* row = expected[k - 1];
    EXPECT_EQ(pool.counter(k, POOLID), row[0]);
    EXPECT_EQ(pool.counter(k, POOLLIMIT), row[1]);
    EXPECT_EQ(pool.counter(k, SPLIT_BYTES), row[2]);
    EXPECT_EQ(pool.counter(k, FIRST_EXT), row[3]);
    EXPECT_EQ(pool.counter(k, POMC_SEMAPHORE), 1);
    ClassShape shape = CheckClass(pool, k);
    ASSERT_EQ(shape.extent_list.size(), 1u);
    EXPECT_EQ(shape.extent_list[0].second, row[4]);
    EXPECT_EQ(shape.free_blocks, 1);
    // The one free block holds the extent's length less 18 words.
    EXPECT_EQ(pool.at(row[3] + 10), row[4] - 18);
  }
}

TEST(WordStorage, RequestSizesChooseClassAndDataWords) {
  struct Case {
    int32_t bytes;
    int pool_class;
    int32_t data_words;
  };
  const Case cases[] = {
      {1, 1, 4},     {15, 1, 4},    {16, 1, 8},     {100, 1, 28},       {101, 2, 28},
      {500, 2, 128}, {501, 3, 128}, {2728, 3, 684}, {100000, 3, 25004},
  };
  Pool pool(400000, 200000);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    const int32_t used_before = pool.counter(c.pool_class, USED_WORDS);
    const int32_t b = pool.alloc(c.bytes);
    ASSERT_GT(b, 0);
    EXPECT_EQ(pool.class_of(b), c.pool_class);
    EXPECT_EQ(pool.data_words(b), c.data_words);
    EXPECT_EQ(pool.counter(c.pool_class, USED_WORDS) - used_before, c.data_words);
  }
  CheckAll(pool);
  EXPECT_EQ(DSPoolSize(pool.base(), ITEM_ALLOCS), int64_t(std::size(cases)));
}

TEST(WordStorage, ModeZeroClearsDataModeOneLeavesIt) {
  Pool pool(100000, 50000);
  const int32_t a = pool.alloc(64);
  for (int i = 0; i < 20; ++i) sqlpool_word(pool.base(), a + i) = 0x5A5A;
  pool.free(a);
  const int32_t raw = pool.alloc(64, 1);
  ASSERT_EQ(raw, a);  // the freed block comes back from the rover
  EXPECT_EQ(sqlpool_word(pool.base(), raw + 5), 0x5A5A);
  pool.free(raw);
  const int32_t cleared = pool.alloc(64, 0);
  ASSERT_EQ(cleared, a);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(sqlpool_word(pool.base(), cleared + i), 0);
}

// Three blocks in use, the middle one then freed: a free block of 28 data
// words fenced by blocks in use.
struct Fenced {
  int32_t above, middle, below;
};
Fenced MakeFenced(const Pool& pool) {
  Fenced f{pool.alloc(100), pool.alloc(100), pool.alloc(100)};
  pool.free(f.middle);
  return f;
}

TEST(WordStorage, SmallRemainderIsHandedOutWhole) {
  Pool pool(100000, 50000);
  const Fenced f = MakeFenced(pool);
  const int32_t used = pool.counter(1, USED_WORDS);
  // 80 bytes need 24 words; the 4 left over are fewer than 32 / 4.
  const int32_t b = pool.alloc(80);
  EXPECT_EQ(b, f.middle);
  EXPECT_EQ(pool.data_words(b), 28);
  EXPECT_EQ(pool.counter(1, USED_WORDS) - used, 28);
  CheckAll(pool);
}

TEST(WordStorage, LargeEnoughRemainderIsSplitOffTheTop) {
  Pool pool(100000, 50000);
  const Fenced f = MakeFenced(pool);
  // 64 bytes need 20 words; 8 are left, which is 32 / 4: split. The new
  // block is the upper part; the lower part stays free with 4 data words.
  const int32_t b = pool.alloc(64);
  EXPECT_EQ(b, f.middle + 8);
  EXPECT_EQ(pool.data_words(b), 20);
  EXPECT_EQ(pool.at(f.middle - 4), 4);
  CheckAll(pool);
}

TEST(WordStorage, FreeingBetweenTwoFreeBlocksLeavesOneBlockAndOneEntry) {
  Pool pool(100000, 50000);
  std::vector<int32_t> b;
  for (int i = 0; i < 5; ++i) b.push_back(pool.alloc(100));
  const int free_before = CheckClass(pool, 1).free_blocks;
  pool.free(b[1]);
  pool.free(b[3]);
  EXPECT_EQ(CheckClass(pool, 1).free_blocks, free_before + 2);
  pool.free(b[2]);
  EXPECT_EQ(CheckClass(pool, 1).free_blocks, free_before + 1);
  // The merged block starts at the lowest part and spans all three.
  EXPECT_EQ(pool.at(b[3] - 4), 3 * 28 + 2 * 4);
  EXPECT_EQ(pool.at(FREE_DSA), b[3] - 4);
  // Freeing the fences merges everything back into the extent's one block.
  pool.free(b[0]);
  pool.free(b[4]);
  ClassShape shape = CheckClass(pool, 1);
  EXPECT_EQ(shape.free_blocks, 1);
  EXPECT_EQ(shape.used_blocks, 0);
}

TEST(WordStorage, FreeingANextChainReleasesItBlockByBlock) {
  Pool pool(100000, 50000);
  std::vector<int32_t> chain;
  for (int i = 0; i < 4; ++i) chain.push_back(pool.alloc(CHA_BYTES));
  for (int i = 0; i + 1 < 4; ++i) sqlpool_word(pool.base(), chain[i] + CHA_NEXT) = chain[i + 1];
  int32_t out = chain[0];
  std::vector<int32_t> seen;
  while (out != 0) {
    seen.push_back(out);
    DSGetMem(pool.base(), &out, 0);
  }
  EXPECT_EQ(seen, chain);
  // 108 bytes: class 2.
  EXPECT_EQ(pool.counter(2, DEALLOCS), 4);
  EXPECT_EQ(CheckClass(pool, 2).used_blocks, 0);
}

TEST(WordStorage, BadFreesLeaveTheStorageAlone) {
  Pool pool(100000, 50000);
  const int32_t a = pool.alloc(200);
  const int32_t b = pool.alloc(200);
  pool.free(b);
  // A block whose data holds a forged class word 7 at the place a header
  // would have it.
  const int32_t c = pool.alloc(400);
  sqlpool_word(pool.base(), c + 13 - 2) = 7;
  sqlpool_word(pool.base(), c + 13) = 4242;
  // A block in use forged inside another block's data: size, class and
  // trailer agree, but the word below names a block that does not end there.
  const int32_t d = pool.alloc(400);
  const int32_t forged = d + 20;  // header offset
  pool.at(forged) = -4;
  pool.at(forged + 1) = 2;
  pool.at(forged + 7) = forged;
  pool.at(forged - 1) = d - 4;
  const std::vector<int32_t> before(pool.base(), pool.base() + 50000);
  struct Case {
    const char* what;
    int32_t index;
    int32_t out_after;
  };
  const Case cases[] = {
      {"zero", 0, 0},
      {"negative", -5, 0},
      {"inside the header", 5, 0},
      {"past the last word", 50001, 0},
      {"far past the storage", INT32_MAX, 0},
      {"freed twice", b, 0},
      {"inside a block's data", a + 3, 0},
      {"class word not 1-3", c + 13, 4242},
      {"forged block", forged + 4, 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    EXPECT_EQ(pool.free(k.index), k.out_after);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), pool.base()));
  }
  EXPECT_EQ(pool.counter(2, DEALLOCS), 1);
  CheckAll(pool);
}

TEST(WordStorage, ExtentAboveThePreviousOneFusesAndTheSeamMerges) {
  Pool pool(1000000, 20000);
  // Class 3: a block x at the top of the extent, a block y taking all the
  // rest; then x is freed, leaving a free block right under the end guard.
  const int32_t x = pool.alloc(1000);
  const int32_t first = pool.counter(3, FIRST_EXT);
  const int32_t rest = pool.at(first + 10);
  const int32_t y = pool.alloc(4 * (rest - 4));
  ASSERT_GT(y, 0);
  pool.free(x);
  const int32_t old_length = pool.at(first);
  ASSERT_EQ(first + old_length - 1, 20000);
  // A request that fits nowhere grows the class; the extent lands at
  // 20001, just above, and fuses.
  const int32_t z = pool.alloc(8000);
  ASSERT_GT(z, 0);
  ClassShape shape = CheckClass(pool, 3);
  ASSERT_EQ(shape.extent_list.size(), 1u);
  const int32_t grown = pool.counter(3, LASTSIZEW);
  EXPECT_EQ(grown, 32772);
  EXPECT_EQ(shape.extent_list[0].second, old_length + grown);
  EXPECT_EQ(pool.counter(3, EXTENTS), 1);
  EXPECT_EQ(pool.at(WORDS), 20000 + grown);
  EXPECT_EQ(pool.at(ALLOC_WORDS), 20000 + grown);
  // x, the 12 seam words and the new extent's block are one free block, of
  // which z took the top.
  EXPECT_EQ(shape.free_blocks, 1);
  const int32_t merged = x - 4;
  const int32_t end_guard = first + old_length + grown - 4;
  EXPECT_EQ(z - 4 + pool.data_words(z) + 4, end_guard);
  EXPECT_EQ(pool.at(merged), (z - 4) - merged - 4);
  pool.free(z);
  pool.free(y);
  shape = CheckClass(pool, 3);
  EXPECT_EQ(shape.free_blocks, 1);
  EXPECT_EQ(pool.at(first + 10), old_length + grown - 18);
}

TEST(WordStorage, ExhaustedQuotaGivesZeroAndOneLogEntry) {
  CapturingServices capture;
  HostServices* previous = InstallHostServices(&capture);
  Pool pool(20000 + 40000, 20000);
  std::vector<int32_t> blocks;
  int32_t b;
  while ((b = pool.alloc(3000)) != 0) blocks.push_back(b);
  InstallHostServices(previous);
  ASSERT_EQ(capture.entries.size(), 1u);
  const CapturedEntry& entry = capture.entries[0];
  EXPECT_EQ(entry.severity, 3);
  ASSERT_EQ(entry.lines.size(), 2u);
  EXPECT_EQ(entry.lines[0].substr(22), "   <Error>");
  EXPECT_EQ(entry.lines[1], "OS memory allocation error -21110");
  CheckAll(pool);
  // The quota never goes to 0, and what was taken is accounted for.
  EXPECT_GT(pool.at(LEFT_WORDS), 0);
  EXPECT_EQ(pool.at(LEFT_WORDS) + pool.at(ALLOC_WORDS), 60000);
  EXPECT_EQ(DSPoolSize(pool.base(), ITEM_BYTES_MOST), 60000 * 4);
  // Requests that fit in free blocks still succeed.
  EXPECT_GT(pool.alloc(50), 0);
  pool.free(blocks.back());
  EXPECT_GT(pool.alloc(3000), 0);
  CheckAll(pool);
}

TEST(WordStorage, RefusedMemoryIsLoggedWithItsOsStatusText) {
  // The quota allows more than the reserved region holds: the heap refuses.
  int32_t* base = SqlPoolCreate(60000, 20000);
  ASSERT_NE(base, nullptr);
  base[WORDS] = 1000000;
  int32_t w = 20000;
  DSPoolMem(base, &w, -1, 0);
  CapturingServices capture;
  HostServices* previous = InstallHostServices(&capture);
  int32_t out = -1;
  DSGetMem(base, &out, 200000);
  InstallHostServices(previous);
  EXPECT_EQ(out, 0);
  ASSERT_EQ(capture.entries.size(), 1u);
  const std::vector<std::string>& lines = capture.entries[0].lines;
  ASSERT_EQ(lines.size(), 3u);
  // The value keeps the blank that follows it: an item 0 ends its line.
  EXPECT_EQ(lines[1], "OS memory allocation error -21109 ");
  EXPECT_EQ(lines[2].rfind("HeapAlloc: ", 0), 0u) << lines[2];
  // Both requests gave their words back to the quota.
  EXPECT_EQ(base[LEFT_WORDS], 1000000);
  EXPECT_EQ(base[ALLOC_WORDS], 20000);
  SqlPoolDestroy(base);
}

TEST(WordStorage, HugeRequestIsRefusedWithoutHarm) {
  CapturingServices capture;
  HostServices* previous = InstallHostServices(&capture);
  Pool pool(1000000, 100000);
  EXPECT_EQ(pool.alloc(INT32_MAX), 0);
  InstallHostServices(previous);
  ASSERT_EQ(capture.entries.size(), 1u);
  EXPECT_EQ(capture.entries[0].lines[1], "OS memory allocation error -21110");
  EXPECT_EQ(pool.at(LEFT_WORDS), 900000);
  EXPECT_EQ(pool.at(ALLOC_WORDS), 100000);
  EXPECT_GT(pool.alloc(40000), 0);
  CheckAll(pool);
}

TEST(WordStorage, PoolSizeItems) {
  Pool pool(300000, 100000);
  const int32_t a = pool.alloc(10);    // 4 words
  const int32_t b = pool.alloc(200);   // 52 words
  const int32_t c = pool.alloc(1000);  // 252 words
  pool.free(b);
  const int32_t* base = pool.base();
  EXPECT_EQ(DSPoolSize(base, ITEM_BYTES_TAKEN), 100000 * 4);
  EXPECT_EQ(DSPoolSize(base, ITEM_BYTES_USED), (12 + 4 + 252) * 4);
  EXPECT_EQ(DSPoolSize(base, ITEM_BYTES_MOST), 300000 * 4);
  EXPECT_EQ(DSPoolSize(base, ITEM_ALLOCS), 3);
  EXPECT_EQ(DSPoolSize(base, ITEM_DEALLOCS), 1);
  EXPECT_EQ(DSPoolSize(base, 29), 0);
  pool.free(a);
  pool.free(c);
}

TEST(WordStorage, TooSmallInitialAreaIsRefused) {
  std::vector<int32_t> area(300, 0);
  int32_t w = 259;
  DSPoolMem(area.data(), &w, -1, 0);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(SqlPoolCreate(1000, 100), nullptr);
  EXPECT_EQ(SqlPoolCreate(int64_t{1} << 32, 1000), nullptr);
}

// Random allocations and frees against a model of the live blocks: no two
// live blocks overlap, each keeps what its owner wrote, and the counters of
// every class add up. The storage is small so that every class grows.
TEST(WordStorage, RandomizedRunAgreesWithModel) {
  Pool pool(3000000, 4000);
  std::mt19937 rng(20261210);
  struct Live {
    int32_t bytes;
    int32_t stamp;
  };
  std::map<int32_t, Live> live;
  std::vector<int32_t> order;
  auto words_of = [](int32_t bytes) { return 4 * (bytes / 16 + 1); };
  auto check_overlaps = [&] {
    int64_t end = 0;
    for (const auto& [b, l] : live) {
      EXPECT_GE(b - 4, end) << "block " << b << " overlaps the one below";
      end = int64_t{b} + pool.data_words(b);
      EXPECT_GE(pool.data_words(b), words_of(l.bytes));
    }
  };
  for (int step = 0; step < 20000; ++step) {
    const bool do_alloc = live.empty() || rng() % 100 < 55;
    if (do_alloc) {
      int32_t bytes;
      switch (rng() % 10) {
        case 0:
          bytes = 501 + int32_t(rng() % 20000);
          break;
        case 1:
        case 2:
        case 3:
          bytes = 101 + int32_t(rng() % 400);
          break;
        default:
          bytes = 1 + int32_t(rng() % 100);
      }
      const int32_t mode = int32_t(rng() % 2);
      const int32_t b = pool.alloc(bytes, mode);
      ASSERT_GT(b, 0);
      ASSERT_EQ(live.count(b), 0u);
      const int32_t n = words_of(bytes);
      if (mode == 0) {
        for (int32_t i = 0; i < n; ++i) ASSERT_EQ(sqlpool_word(pool.base(), b + i), 0);
      }
      const int32_t stamp = int32_t(rng());
      for (int32_t i = 0; i < n; ++i) sqlpool_word(pool.base(), b + i) = stamp + i;
      live[b] = Live{bytes, stamp};
      order.push_back(b);
    } else {
      const size_t pick = rng() % order.size();
      const int32_t b = order[pick];
      order[pick] = order.back();
      order.pop_back();
      const Live l = live[b];
      for (int32_t i = 0; i < words_of(l.bytes); ++i)
        ASSERT_EQ(sqlpool_word(pool.base(), b + i), l.stamp + i) << "block " << b << " word " << i;
      live.erase(b);
      EXPECT_EQ(pool.free(b), l.stamp);
    }
    if (step % 2000 == 0) {
      check_overlaps();
      CheckAll(pool);
    }
  }
  check_overlaps();
  CheckAll(pool);
  int64_t used = 0;
  for (const auto& [b, l] : live) used += pool.data_words(b);
  EXPECT_EQ(DSPoolSize(pool.base(), ITEM_BYTES_USED), (12 + used) * 4);
  EXPECT_EQ(DSPoolSize(pool.base(), ITEM_ALLOCS) - DSPoolSize(pool.base(), ITEM_DEALLOCS),
            int64_t(live.size()));
  EXPECT_GT(pool.counter(1, EXTENTS) + pool.counter(2, EXTENTS) + pool.counter(3, EXTENTS), 2);
  for (const auto& [b, l] : live) pool.free(b);
  for (int k = 1; k <= 3; ++k) EXPECT_EQ(CheckClass(pool, k).used_blocks, 0);
}

// Threads allocating and freeing in all classes at once, each checking that
// its blocks keep their contents; the storage grows meanwhile.
TEST(WordStorage, ConcurrentThreadsKeepTheStorageConsistent) {
  Pool pool(4000000, 8000);
  constexpr int kThreads = 4;
  std::vector<int32_t> area(enqdeq_size(kThreads) / 4 + 1);
  ASSERT_EQ(enqdeq_init(area.data(), kThreads, nullptr, pool.base(), 0), 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&pool, &area, t] {
      ASSERT_EQ(enqdeq_attach(area.data(), t + 1), 0);
      std::mt19937 rng(t + 1);
      std::vector<std::pair<int32_t, int32_t>> mine;  // index, words
      for (int step = 0; step < 4000; ++step) {
        if (mine.size() < 50 && rng() % 2 == 0) {
          const int32_t bytes = int32_t(rng() % 3 == 0 ? 1 + rng() % 3000 : 1 + rng() % 120);
          const int32_t b = pool.alloc(bytes, 1);
          ASSERT_GT(b, 0);
          const int32_t n = 4 * (bytes / 16 + 1);
          for (int32_t i = 0; i < n; ++i) sqlpool_word(pool.base(), b + i) = b ^ i;
          mine.push_back({b, n});
        } else if (!mine.empty()) {
          const auto [b, n] = mine.back();
          mine.pop_back();
          for (int32_t i = 0; i < n; ++i) ASSERT_EQ(sqlpool_word(pool.base(), b + i), b ^ i);
          pool.free(b);
        }
      }
      for (const auto& [b, n] : mine) pool.free(b);
    });
  }
  // The information items read the counters without a lock meanwhile.
  std::atomic<bool> done{false};
  std::thread reader([&pool, &done] {
    while (!done.load()) {
      EXPECT_GE(DSPoolSize(pool.base(), ITEM_DEALLOCS), 0);
      EXPECT_GE(DSPoolSize(pool.base(), ITEM_BYTES_USED), 12 * 4);
      EXPECT_LE(DSPoolSize(pool.base(), ITEM_BYTES_TAKEN), 4000000 * 4);
    }
  });
  for (std::thread& th : threads) th.join();
  done = true;
  reader.join();
  for (int k = 1; k <= 3; ++k) EXPECT_EQ(CheckClass(pool, k).used_blocks, 0);
}

}  // namespace
