// Work areas: block sizes, splitting, chains, growth by extents that fuse,
// frees of indexes that are no blocks, a randomized run against a model with
// a full consistency walk, registered allocators, and the item lists.
#include "platform/work_area.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/private_heap.h"

namespace {

// An area at the base of a reserved region, so its extents lie above it.
class Area {
 public:
  explicit Area(int32_t words, int64_t reserve = 1 << 22)
      : base_(heap_reserve_area(reserve, words)) {
    int32_t size = words;
    area_alloc(base_, &size, -1);
    EXPECT_EQ(size, words);
  }
  ~Area() { heap_release_area(base_); }
  int32_t* base() { return base_; }
  int32_t& at(int64_t index) { return base_[index - 1]; }  // 1-based word
  int32_t alloc(int32_t bytes) {
    int32_t i = 0;
    area_alloc(base_, &i, bytes);
    return i;
  }
  int32_t free(int32_t index) {
    area_alloc(base_, &index, 0);
    return index;
  }
  // Data words of the block at `index` (its size word is the word before).
  int32_t words_of(int32_t index) { return -at(index - 1); }

 private:
  int32_t* base_;
};

struct Walk {
  int extents = 0;
  std::map<int64_t, int32_t> free_blocks;  // size word position -> size
  std::map<int64_t, int32_t> used_blocks;
};

// Walks every extent block by block and checks the tags, that no two free
// blocks touch, and that the free list holds exactly the free blocks.
Walk check_area(int32_t* w) {
  Walk r;
  int64_t last = INT64_MIN;
  for (int64_t s = w[AREA_FIRST_EXT]; s != 0; s = w[s - 1]) {
    EXPECT_GT(s, last) << "extents out of order";
    if (s <= last) break;
    last = s;
    ++r.extents;
    const int64_t end = s - 1 + w[s];
    EXPECT_GE(s - 1, w[AREA_LOW]);
    EXPECT_LE(end, w[AREA_END]);
    int64_t p = s + 2;
    if (s == 9) p = 15;  // after the sentinel
    bool previous_free = false;
    while (p < end - 1) {
      int32_t size = w[p];
      EXPECT_NE(size, 0) << "block of size 0 at " << p;
      if (size == 0) return r;
      int64_t n = size > 0 ? size : -int64_t{size};
      EXPECT_EQ(w[p + n + 1], p) << "tag after block " << p;
      if (size > 0) {
        EXPECT_FALSE(previous_free) << "two free blocks touch at " << p;
        r.free_blocks[p] = size;
      } else {
        r.used_blocks[p] = -size;
      }
      previous_free = size > 0;
      p += n + 2;
    }
    EXPECT_EQ(p, end - 1);
    EXPECT_EQ(w[end - 1], 0);
  }
  std::map<int64_t, int32_t> listed;
  int guard = 0;
  for (int64_t q = w[11 + 1]; q != 11 && guard < 1000000; q = w[q + 1], ++guard) {
    EXPECT_EQ(w[w[q + 1] + 2], q) << "back link";
    listed[q] = w[q];
  }
  EXPECT_EQ(listed, r.free_blocks);
  return r;
}

TEST(WorkArea, RequestSizesInWords) {
  Area a(4000);
  const std::pair<int32_t, int32_t> cases[] = {{1, 2},  {8, 2},  {9, 3},
                                               {12, 3}, {13, 4}, {400, 100}};
  for (auto [bytes, words] : cases) {
    int32_t i = a.alloc(bytes);
    ASSERT_NE(i, 0);
    EXPECT_EQ(a.words_of(i), words) << bytes;
  }
  check_area(a.base());
}

TEST(WorkArea, BlockWithThreeWordsToSpareIsHandedOutWhole) {
  struct Case {
    int32_t spare;  // free words beyond the request
    int32_t got;    // words handed out
    size_t free_left;
  };
  const Case cases[] = {{0, 10, 0}, {3, 13, 0}, {4, 10, 1}, {5, 10, 1}};
  for (const Case& c : cases) {
    Area a(18 + 10 + c.spare);  // one free block of 10 + spare words
    int32_t i = a.alloc(40);
    ASSERT_NE(i, 0);
    EXPECT_EQ(a.words_of(i), c.got) << c.spare;
    EXPECT_EQ(check_area(a.base()).free_blocks.size(), c.free_left) << c.spare;
  }
}

TEST(WorkArea, NewBlocksAreClearedAndFreeingAChainEndsAtZero) {
  Area a(2000);
  int32_t head = 0;
  std::vector<int32_t> blocks;
  for (int k = 0; k < 30; ++k) {
    int32_t i = a.alloc(4 + 4 * (k % 7));
    ASSERT_NE(i, 0);
    for (int32_t j = 0; j < a.words_of(i); ++j) EXPECT_EQ(a.at(i + j), 0);
    a.at(i) = head;  // link the chain through the first data word
    for (int32_t j = 1; j < a.words_of(i); ++j) a.at(i + j) = -7;
    head = i;
    blocks.push_back(i);
  }
  int frees = 0;
  while (head != 0) {
    head = a.free(head);
    ++frees;
  }
  EXPECT_EQ(frees, 30);
  Walk w = check_area(a.base());
  EXPECT_EQ(w.used_blocks.size(), 0u);
  EXPECT_EQ(w.free_blocks.size(), 1u);  // everything merged back
}

TEST(WorkArea, FreeingBetweenTwoFreeBlocksLeavesOneBlock) {
  Area a(1000);
  // Blocks are cut from the top of the free block: x lies highest, then y, z.
  int32_t x = a.alloc(40), y = a.alloc(40), z = a.alloc(40), guard = a.alloc(40);
  EXPECT_EQ(y + 12, x);
  a.free(x);
  a.free(z);
  EXPECT_EQ(check_area(a.base()).free_blocks.size(), 3u);  // the rest below guard, z, x
  a.free(y);
  Walk w = check_area(a.base());
  ASSERT_EQ(w.free_blocks.size(), 2u);
  EXPECT_EQ(w.free_blocks.rbegin()->second, 3 * 10 + 2 * 2);  // z, y and x with two tags
  EXPECT_EQ(w.used_blocks.size(), 1u);
  EXPECT_EQ(a.free(guard), 0);
  EXPECT_EQ(check_area(a.base()).free_blocks.size(), 1u);
}

TEST(WorkArea, FreeOfAnIndexThatIsNoBlockChangesNothing) {
  Area a(1000);
  int32_t x = a.alloc(40), y = a.alloc(40);
  a.at(y) = 1234;
  a.free(x);
  const std::vector<int32_t> bad = {x, y + 1, y - 1, 0, -5, 3, 999, 1001, 1 << 30, INT32_MIN};
  for (int32_t index : bad) {
    std::vector<int32_t> before(a.base(), a.base() + 1000);
    EXPECT_EQ(a.free(index), 0) << index;
    EXPECT_EQ(std::vector<int32_t>(a.base(), a.base() + 1000), before) << index;
  }
  EXPECT_EQ(a.free(y), 1234);
  check_area(a.base());

  // Words inside a block's data that look like a block in use to the block
  // after them (a negative size and a tag pointing back) are still no block:
  // nothing ends right before them.
  int32_t z = a.alloc(40);
  const int32_t fake = z + 1;  // 0-based size word position inside z's data
  a.at(fake + 1) = -2;
  a.at(fake + 4) = fake;
  std::vector<int32_t> before(a.base(), a.base() + 1000);
  EXPECT_EQ(a.free(fake + 2), 0);
  EXPECT_EQ(std::vector<int32_t>(a.base(), a.base() + 1000), before);
  EXPECT_EQ(a.free(z), 0);  // z's link word is 0: the real block still frees
  check_area(a.base());
}

TEST(WorkArea, TooSmallAreaIsRefused) {
  std::vector<int32_t> words(AREA_MIN_WORDS);
  int32_t size = AREA_MIN_WORDS - 1;
  area_alloc(words.data(), &size, -1);
  EXPECT_EQ(size, 0);
  size = AREA_MIN_WORDS;
  area_alloc(words.data(), &size, -1);
  EXPECT_EQ(size, AREA_MIN_WORDS);
  int32_t i = 0;
  area_alloc(words.data(), &i, 8);
  EXPECT_EQ(i, 17);  // the only block: first data word 16, 1-based 17
}

// Extents from the area's own region follow the area and each other, so
// they fuse into the first extent and their seams merge.
TEST(WorkArea, GrowthByExtentsThatFuse) {
  Area a(100);
  std::vector<int32_t> blocks;
  for (int k = 0; k < 50; ++k) {
    int32_t i = a.alloc(4000);
    ASSERT_NE(i, 0);
    blocks.push_back(i);
  }
  Walk w = check_area(a.base());
  EXPECT_EQ(w.extents, 1);
  EXPECT_GT(a.base()[AREA_END], 50 * 1000);
  for (int32_t i : blocks) a.free(i);
  w = check_area(a.base());
  EXPECT_EQ(w.free_blocks.size(), 1u);
  EXPECT_EQ(w.used_blocks.size(), 0u);
}

TEST(WorkArea, GrowthFailsCleanlyWhenTheHeapRefuses) {
  Area a(100, 200);  // a region with room for 100 more words only
  EXPECT_NE(a.alloc(40), 0);
  EXPECT_EQ(a.alloc(4000), 0);  // neither the large nor the small extent fits
  EXPECT_NE(a.alloc(200), 0);   // the small extent does
  check_area(a.base());
}

// An area that lives in the private heap grows by heap blocks wherever the
// heap places them, above or below it.
TEST(WorkArea, AreaInThePrivateHeapGrowsByHeapBlocks) {
  StatusPair st;
  void* memory = nullptr;
  int32_t words = 64;
  heap_alloc(&st, &memory, &words, 0);
  ASSERT_NE(memory, nullptr);
  auto* base = static_cast<int32_t*>(memory);
  int32_t size = words;
  area_alloc(base, &size, -1);
  std::vector<int32_t> held;
  for (int k = 0; k < 40; ++k) {
    int32_t i = 0;
    area_alloc(base, &i, 3000 + 8 * k);
    ASSERT_NE(i, 0);
    held.push_back(i);
  }
  Walk w = check_area(base);
  EXPECT_GE(w.extents, 2);
  for (int32_t i : held) area_alloc(base, &i, 0);
  check_area(base);
}

TEST(WorkArea, RandomRunAgainstAModel) {
  Area a(300);
  std::mt19937 rng(12345);
  std::map<int32_t, std::vector<int32_t>> live;  // index -> content
  for (int step = 0; step < 20000; ++step) {
    if (live.empty() || rng() % 100 < 55) {
      int32_t bytes = 1 + static_cast<int32_t>(rng() % (rng() % 10 == 0 ? 20000 : 200));
      int32_t i = a.alloc(bytes);
      ASSERT_NE(i, 0);
      int32_t words = a.words_of(i);
      ASSERT_GE(words * 4, bytes);
      std::vector<int32_t> content(static_cast<size_t>(words));
      for (auto& v : content) v = static_cast<int32_t>(rng());
      content[0] = 0;  // the link word: 0 ends a chain
      std::copy(content.begin(), content.end(), &a.at(i));
      auto next = live.lower_bound(i);
      if (next != live.end()) {
        ASSERT_LT(i + words, next->first);  // no overlap above
      }
      if (next != live.begin()) {
        auto prev = std::prev(next);
        ASSERT_LT(prev->first + static_cast<int32_t>(prev->second.size()), i);
      }
      live[i] = content;
    } else {
      auto it = live.begin();
      std::advance(it, rng() % live.size());
      EXPECT_EQ(a.free(it->first), 0);
      live.erase(it);
    }
    if (step % 2000 == 0) {
      for (auto& [i, content] : live)
        ASSERT_TRUE(std::equal(content.begin(), content.end(), &a.at(i))) << i;
      EXPECT_EQ(check_area(a.base()).used_blocks.size(), live.size());
    }
  }
  for (auto& [i, content] : live) ASSERT_TRUE(std::equal(content.begin(), content.end(), &a.at(i)));
  for (auto& [i, content] : live) a.free(i);
  EXPECT_EQ(check_area(a.base()).free_blocks.size(), 1u);
}

int slot_calls[2];
void slot_one(int32_t*, int32_t* index, int32_t) {
  ++slot_calls[0];
  *index = 111;
}
void slot_two(int32_t*, int32_t* index, int32_t) {
  ++slot_calls[1];
  *index = 222;
}

TEST(WorkArea, RegisteredAllocatorsServeTheirAreas) {
  area_unregister_all();
  int32_t first[4], second[4], third[4];
  area_register(first, slot_one);
  area_register(second, slot_two);
  area_register(third, slot_two);  // every later call fills slot two again
  int32_t i = 0;
  area_alloc(first, &i, 8);
  EXPECT_EQ(i, 111);
  area_alloc(third, &i, 8);
  EXPECT_EQ(i, 222);
  // `second` lost its slot to `third`; it is no area, so it is not called here.
  Area plain(100);
  EXPECT_NE(plain.alloc(8), 0);
  EXPECT_EQ(slot_calls[0], 1);
  EXPECT_EQ(slot_calls[1], 1);
  area_unregister_all();
}

TEST(ItemList, StringPoolFindsAddsAndGrows) {
  Area a(200);
  int32_t status = 9, header = 0;
  item_area_init(&status, a.base(), &header);
  ASSERT_EQ(status, ITEM_OK);
  EXPECT_EQ(a.at(header + ITEM_POOL_CAPACITY), 128);
  auto find = [&](const std::string& s) {
    int32_t pos = 0;
    item_find_string(&status, &pos, a.base(), header, s.data(), 0, static_cast<int32_t>(s.size()));
    EXPECT_EQ(status, ITEM_OK);
    return pos;
  };
  auto get = [&](int32_t pos, int32_t room, int32_t* length) {
    std::string out(static_cast<size_t>(room), '#');
    item_get_string(&status, length, out.data(), 0, room, a.base(), header, pos);
    return out;
  };
  EXPECT_EQ(find("alpha"), 1);
  EXPECT_EQ(find("beta"), 7);
  EXPECT_EQ(find("alpha"), 1);  // already there: nothing added
  EXPECT_EQ(a.at(header + ITEM_POOL_USED), 11);
  EXPECT_EQ(find("eta"), 8);  // the tail of "beta" and its NUL
  std::vector<std::string> added;
  std::map<std::string, int32_t> positions;
  for (int k = 0; k < 60; ++k) {
    std::string s = "name-" + std::to_string(k * 7919);
    positions[s] = find(s);
  }
  EXPECT_GT(a.at(header + ITEM_POOL_CAPACITY), 128);
  for (auto& [s, pos] : positions) {
    EXPECT_EQ(find(s), pos);
    int32_t length = 0;
    EXPECT_EQ(get(pos, 20, &length), s + std::string(20 - s.size(), ' '));
    EXPECT_EQ(length, static_cast<int32_t>(s.size()));
  }
  int32_t length = 0;
  EXPECT_EQ(get(1, 3, &length), "alp");
  EXPECT_EQ(length, 5);
  const int32_t used = a.at(header + ITEM_POOL_USED);
  for (int32_t bad : {0, -1, used + 1}) {
    get(bad, 5, &length);
    EXPECT_EQ(status, ITEM_NOT_FOUND) << bad;
  }
  item_area_free(&status, a.base(), header);
  EXPECT_EQ(status, ITEM_OK);
  Walk w = check_area(a.base());
  EXPECT_EQ(w.used_blocks.size(), 0u);
}

TEST(ItemList, ChainedBlocksAndTheirClearing) {
  Area a(400);
  int32_t status = 9, triple = 0;
  item_put_triple(&status, a.base(), &triple, 5, 6, 7);
  ASSERT_EQ(status, ITEM_OK);
  EXPECT_EQ(std::vector<int32_t>(&a.at(triple), &a.at(triple) + 4),
            (std::vector<int32_t>{0, 5, 6, 7}));

  int32_t head = a.alloc(8);  // link and count
  a.at(head + 1) = 3;
  const int32_t rows[3][3] = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
  for (auto& row : rows) {
    item_put_words(&status, a.base(), head, row, 0);
    ASSERT_EQ(status, ITEM_OK);
  }
  // Each block goes right after the head: the chain holds them newest first.
  int32_t b = a.at(head);
  for (int k = 2; k >= 0; --k, b = a.at(b))
    EXPECT_EQ(std::vector<int32_t>(&a.at(b + 1), &a.at(b + 4)),
              std::vector<int32_t>(rows[k], rows[k] + 3));
  EXPECT_EQ(b, 0);

  int32_t str = 0;
  item_put_string(&status, a.base(), &str, 10, 11, 12, 13);
  ASSERT_EQ(status, ITEM_OK);
  EXPECT_EQ(a.at(str + 1), 10);
  EXPECT_EQ(a.words_of(a.at(str)), 10);
  item_put_string(&status, a.base(), &str, -1, 0, 0, 0);
  EXPECT_EQ(status, ITEM_NO_MEMORY);

  item_area_clear(&status, a.base(), &head);
  EXPECT_EQ(head, 0);
  EXPECT_EQ(check_area(a.base()).used_blocks.size(), 3u);  // triple, string and its words
}

TEST(ItemList, RangeTableFindsTheFirstEnclosingRecord) {
  Area a(400);
  int32_t header = a.alloc(16);
  a.at(header + RANGE_WORDS) = 3;
  a.at(header + RANGE_LOW) = 1;
  a.at(header + RANGE_HIGH) = 2;
  int32_t status = 0;
  const int32_t records[][3] = {{100, 200, 3}, {0, 50, 2}, {10, 20, 1}};  // put: last is first
  for (auto& r : records) item_put_words(&status, a.base(), header, r, 0);
  struct Case {
    int32_t number;
    int32_t status;
    int32_t tag;
  };
  const Case cases[] = {{15, ITEM_OK, 1}, {30, ITEM_OK, 2},        {150, ITEM_OK, 3},
                        {10, ITEM_OK, 2}, {50, ITEM_NOT_FOUND, 0}, {200, ITEM_NOT_FOUND, 0}};
  for (const Case& c : cases) {
    int32_t target[4] = {0, 0, 0, -1};
    item_get_by_range(&status, a.base(), header, target, 0, c.number);
    EXPECT_EQ(status, c.status) << c.number;
    if (c.status == ITEM_OK) {
      EXPECT_EQ(target[2], c.tag) << c.number;
    }
    EXPECT_EQ(target[3], -1);  // nothing past the record's words
  }
}

// A hashed record table against a map with the same matching rule.
TEST(ItemList, HashedRecordsAgainstAModel) {
  for (int32_t key2 : {-1, 2}) {
    Area a(500);
    const int32_t buckets = 7, words = 3;
    int32_t header = a.alloc(20);
    int32_t array = a.alloc(buckets * 4);
    a.at(header + HASH_BUCKETS) = array;
    a.at(header + HASH_BUCKET_COUNT) = buckets;
    a.at(header + HASH_WORDS) = words;
    a.at(header + HASH_KEY1) = 1;
    a.at(header + HASH_KEY2) = key2;
    std::map<std::pair<int32_t, int32_t>, int32_t> model;  // (k1, k2) -> value
    std::mt19937 rng(7 + key2);
    int32_t status = 0;
    for (int step = 0; step < 4000; ++step) {
      int32_t k1 = static_cast<int32_t>(rng() % 40) - 20;
      if (rng() % 50 == 0) k1 = INT32_MIN;
      int32_t k2 = key2 == -1 ? 0 : static_cast<int32_t>(rng() % 3);
      int32_t rec[3] = {k1, k2, static_cast<int32_t>(step)};
      switch (rng() % 3) {
        case 0:
          item_hash_replace(&status, a.base(), header, rec, 0);
          ASSERT_EQ(status, ITEM_OK);
          model[{k1, k2}] = step;
          break;
        case 1:
          item_hash_delete(&status, a.base(), header, rec, 0);
          ASSERT_EQ(status, ITEM_OK);
          model.erase({k1, k2});
          break;
        default: {
          item_hash_get(&status, a.base(), header, rec, 0);
          auto it = model.find({k1, k2});
          ASSERT_EQ(status, it == model.end() ? ITEM_NOT_FOUND : ITEM_OK);
          if (it != model.end()) {
            ASSERT_EQ(rec[2], it->second);
          }
        }
      }
    }
    if (key2 != -1) {
      // A wildcard second key matches whichever record of the first key comes first.
      int32_t rec[3] = {5, 1, 0};
      item_hash_replace(&status, a.base(), header, rec, 0);
      int32_t any[3] = {5, ITEM_ANY_KEY, 0};
      item_hash_get(&status, a.base(), header, any, 0);
      EXPECT_EQ(status, ITEM_OK);
      EXPECT_EQ(any[0], 5);
      EXPECT_NE(any[1], ITEM_ANY_KEY);  // the stored record's words came back
      any[1] = ITEM_ANY_KEY;
      item_hash_delete(&status, a.base(), header, any, 0);
      for (int32_t k : {0, 1, 2}) {
        int32_t probe[3] = {5, k, 0};
        item_hash_get(&status, a.base(), header, probe, 0);
        EXPECT_EQ(status, ITEM_NOT_FOUND);
      }
    }
    item_hash_free(&status, a.base(), &header);
    EXPECT_EQ(header, 0);
    EXPECT_EQ(check_area(a.base()).used_blocks.size(), 0u);
  }
}

}  // namespace
