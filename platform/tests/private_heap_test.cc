// The private heap: block sizes and failures, committed virtual memory,
// area regions whose blocks follow one another, the quota word (also under
// concurrent takers) and frees of addresses that are not blocks.
#include "platform/private_heap.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/os_status.h"

namespace {

TEST(PrivateHeap, HeapBlocksAreOneWordLarger) {
  StatusPair st{5, 5};
  void* p = nullptr;
  int32_t size = 10;
  heap_alloc(&st, &p, &size, 0);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(size, 11);
  EXPECT_EQ(st.rc, 0);
  EXPECT_EQ(st.os_status, -1);
  memset(p, 0xAB, 11 * 4);
  void* q = nullptr;
  int32_t size2 = 1;
  heap_alloc(&st, &q, &size2, 1);
  ASSERT_NE(q, nullptr);
  EXPECT_TRUE(static_cast<char*>(q) >= static_cast<char*>(p) + 44 ||
              static_cast<char*>(q) + 8 <= static_cast<char*>(p));
  EXPECT_TRUE(heap_free(p));
  EXPECT_FALSE(heap_free(p));                          // already free
  EXPECT_FALSE(heap_free(static_cast<char*>(q) + 4));  // not the start of a block
  EXPECT_TRUE(heap_free(q));
}

TEST(PrivateHeap, VirtualMemoryKindsLeaveTheStatus) {
  for (int32_t kind : {HEAP_KIND_VIRTUAL, HEAP_KIND_VIRTUAL_TOO}) {
    StatusPair st{7, 7};
    void* p = nullptr;
    int32_t size = 5000;
    heap_alloc(&st, &p, &size, kind);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(size, 5000);
    EXPECT_EQ(st.rc, 7);
    EXPECT_EQ(st.os_status, 7);
    static_cast<int32_t*>(p)[4999] = 1;
    heap_free_virtual(p, 5000);
  }
}

TEST(PrivateHeap, RefusalsCarryTheFailedStep) {
  struct Case {
    int32_t size;
    int32_t kind;
    int32_t step;
  };
  const Case cases[] = {
      {0, 0, win_call::HeapAlloc},
      {-4, 1, win_call::HeapAlloc},
      {0, HEAP_KIND_VIRTUAL, win_call::VirtualAlloc},
      {-1, HEAP_KIND_VIRTUAL_TOO, win_call::VirtualAlloc},
      {INT32_MAX - 1, 0, win_call::HeapAlloc},  // beyond the reserved heap
  };
  for (const Case& c : cases) {
    StatusPair st;
    void* p = reinterpret_cast<void*>(1);
    int32_t size = c.size;
    heap_alloc(&st, &p, &size, c.kind);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(st.rc, HEAP_REFUSED);
    EXPECT_EQ(os_status_class(st.os_status), OS_CLASS_WINDOWS);
    EXPECT_EQ(os_status_step(st.os_status), c.step) << c.size;
  }
}

TEST(PrivateHeap, AreaRegionBlocksFollowOneAnother) {
  int32_t* base = heap_reserve_area(1 << 20, 1000);
  ASSERT_NE(base, nullptr);
  base[999] = 42;  // the initial words are committed
  struct Step {
    int32_t size;        // > 0 allocate, else free the block of step -size
    int32_t want_index;  // 0: the allocation fails
  };
  const Step steps[] = {
      {100, 1001}, {200, 1101}, {50, 1301}, {-0, 0},  // free the first block
      {60, 1001},  {40, 1061},  {1, 1351},  {(1 << 20) - 1000, 0},
  };
  std::vector<int32_t> indexes;
  for (const Step& s : steps) {
    if (s.size <= 0) {
      heap_free_quota(nullptr, base, indexes[static_cast<size_t>(-s.size)], 0);
      indexes.push_back(0);
      continue;
    }
    int32_t index = 0, size = s.size;
    heap_alloc_index(base, &index, &size);
    if (s.want_index == 0) {
      EXPECT_EQ(size, 0);
    } else {
      EXPECT_EQ(index, s.want_index);
      EXPECT_EQ(size, s.size);  // exactly the words asked
      base[index - 1] = 1;
      base[index + size - 2] = 2;
    }
    indexes.push_back(index);
  }
  heap_release_area(base);
}

TEST(PrivateHeap, QuotaIsTakenOnlyWhileItStaysPositive) {
  int32_t* base = heap_reserve_area(100000, 100);
  ASSERT_NE(base, nullptr);
  struct Case {
    int32_t quota_before, size;
    int32_t rc, quota_after;
  };
  const Case cases[] = {
      {500, 499, 0, 1},
      {500, 500, HEAP_QUOTA_EXHAUSTED, 500},
      {0, 1, HEAP_QUOTA_EXHAUSTED, 0},
      {-5, 1, HEAP_QUOTA_EXHAUSTED, -5},
      {INT32_MAX, 200000, HEAP_REFUSED, INT32_MAX},  // the region refuses: words given back
      {10, 0, HEAP_QUOTA_EXHAUSTED, 10},
  };
  for (const Case& c : cases) {
    int32_t quota = c.quota_before, index = 0, size = c.size;
    StatusPair st{9, 9};
    heap_alloc_quota(&st, &quota, base, &index, &size);
    EXPECT_EQ(st.rc, c.rc) << c.quota_before << " " << c.size;
    EXPECT_EQ(quota, c.quota_after);
    if (c.rc == 0) {
      EXPECT_EQ(st.os_status, -1);
      EXPECT_EQ(size, c.size);
      heap_free_quota(&quota, base, index + 1, size);  // inside the block: no block
      EXPECT_EQ(quota, c.quota_after);
      heap_free_quota(&quota, base, index, size);
      EXPECT_EQ(quota, c.quota_before);
      heap_free_quota(&quota, base, index, size);  // not a block any more
      EXPECT_EQ(quota, c.quota_before);
    } else {
      EXPECT_EQ(size, 0);
    }
  }
  heap_release_area(base);
}

TEST(PrivateHeap, ConcurrentTakersKeepTheQuotaExact) {
  int32_t* base = heap_reserve_area(1 << 22, 64);
  ASSERT_NE(base, nullptr);
  int32_t quota = 1 << 20;
  std::vector<std::thread> pool;
  std::atomic<int> refused{0};
  for (int t = 0; t < 4; ++t)
    pool.emplace_back([&, t] {
      std::vector<std::pair<int32_t, int32_t>> held;
      for (int i = 0; i < 2000; ++i) {
        int32_t index = 0, size = 1 + (i * 7 + t) % 300;
        StatusPair st;
        heap_alloc_quota(&st, &quota, base, &index, &size);
        if (st.rc != 0) {
          refused.fetch_add(1);
        } else {
          base[index - 1] = t;  // the block is ours alone
          held.emplace_back(index, size);
        }
        if (held.size() > 20) {
          EXPECT_EQ(base[held.front().first - 1], t);
          heap_free_quota(&quota, base, held.front().first, held.front().second);
          held.erase(held.begin());
        }
      }
      for (auto [index, size] : held) heap_free_quota(&quota, base, index, size);
    });
  for (auto& th : pool) th.join();
  EXPECT_EQ(refused.load(), 0);
  EXPECT_EQ(quota, 1 << 20);
  heap_release_area(base);
}

TEST(PrivateHeap, IndexThatDoesNotFitAWordIsRefused) {
  // A base far below the heap: the block's index would pass 2^31.
  const auto* far = reinterpret_cast<const int32_t*>(uintptr_t{4096});
  int32_t index = 7, size = 10;
  heap_alloc_index(far, &index, &size);
  EXPECT_EQ(size, 0);
}

TEST(PrivateHeap, SmallHelpers) {
  for (auto [in, out] : std::vector<std::pair<int32_t, int32_t>>{{3, 0}, {0, -1}, {4, -1}}) {
    int32_t state = in;
    heap_state_check(&state);
    EXPECT_EQ(state, out);
  }
  EXPECT_EQ(mdr_mod_pow2(13, 8), 5);
  EXPECT_EQ(mdr_mod_pow2(-1, 16), 15);
  EXPECT_EQ(mdr_mod_pow2(1024, 1024), 0);
}

}  // namespace
