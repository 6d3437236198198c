// The halving search over a page of fixed-length entries, against a linear
// search, and its refusal of pages whose entries do not fit them.
#include "dk/page_entries.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// A 2048-byte page of `n` entries of `length` bytes whose keys (first 4
// bytes, big-endian so that byte order is key order) are 10, 20, 30, ...
std::vector<uint8_t> Page(int32_t n, int32_t length, int32_t size = 2048) {
  std::vector<uint8_t> p(static_cast<size_t>(size), 0);
  SetPageWord(p.data(), PAGE_ENTRY_LENGTH, length);
  SetPageWord(p.data(), PAGE_USED_END, kPageHeaderBytes + n * length);
  for (int32_t i = 0; i < n; ++i) {
    uint32_t key = 10u * (i + 1);
    uint8_t* e = p.data() + kPageHeaderBytes + i * length;
    e[0] = key >> 24, e[1] = key >> 16, e[2] = key >> 8, e[3] = static_cast<uint8_t>(key);
  }
  return p;
}

std::vector<uint8_t> Key(uint32_t key) {
  return {static_cast<uint8_t>(key >> 24), static_cast<uint8_t>(key >> 16),
          static_cast<uint8_t>(key >> 8), static_cast<uint8_t>(key)};
}

struct Found {
  int32_t result, position;
};

Found Search(const std::vector<uint8_t>& page, uint32_t key, int32_t size = 2048) {
  int32_t tab[TAB_WORDS] = {};
  tab[TAB_PAGE_SIZE] = size;
  tab[TAB_KEY_LENGTH] = 4;
  int32_t r = DKSearchFixed(tab, Key(key).data(), page.data());
  return {r, tab[TAB_POSITION]};
}

TEST(PageSearch, CasesOfTheHalvingSteps) {
  struct Case {
    int32_t entries;
    uint32_t key;
    int32_t result;
    int32_t position;
  } cases[] = {
      {0, 5, 0, 16},         // empty page: at byte 16
      {1, 5, 0, 16},         // below the only entry
      {1, 10, 12, 16},       // equal: its offset and the entry length
      {1, 11, 0, 28},        // above: at the used end
      {5, 99, 0, 16 + 60},   // above all five: not found at the used end
      {5, 30, 12, 16 + 24},  // the middle one
      {5, 35, 0, 16 + 36},   // between the third and fourth
      {5, 1, 0, 16},
  };
  for (const Case& c : cases) {
    Found f = Search(Page(c.entries, 12), c.key);
    EXPECT_EQ(f.result, c.result) << c.entries << " " << c.key;
    EXPECT_EQ(f.position, c.position) << c.entries << " " << c.key;
  }
}

TEST(PageSearch, AgreesWithALinearSearchForEveryCount) {
  for (int32_t n = 0; n <= 150; ++n) {
    std::vector<uint8_t> page = Page(n, 13);
    for (uint32_t key = 0; key <= 10u * n + 15; ++key) {
      int32_t expected = kPageHeaderBytes;
      while (expected < kPageHeaderBytes + n * 13 &&
             10u * ((expected - kPageHeaderBytes) / 13 + 1) < key)
        expected += 13;
      bool equal = key % 10 == 0 && key >= 10 && key <= 10u * n;
      Found f = Search(page, key);
      ASSERT_EQ(f.result, equal ? 13 : 0) << n << " " << key;
      ASSERT_EQ(f.position, expected) << n << " " << key;
    }
  }
}

TEST(PageSearch, RefusesPagesWhoseEntriesDoNotFit) {
  struct Case {
    int32_t length, used_end;
  } cases[] = {
      {0, 16},          // entry length below 1
      {3, 19},          // entry length below the key length
      {12, 15},         // used end inside the header
      {12, 2048 + 12},  // used end past the page
      {12, 16 + 13},    // not whole entries
      {2040, 2056},     // an entry longer than the page can hold
      {-12, 4},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> page = Page(0, 12);
    SetPageWord(page.data(), PAGE_ENTRY_LENGTH, c.length);
    SetPageWord(page.data(), PAGE_USED_END, c.used_end);
    EXPECT_EQ(Search(page, 7).result, -1) << c.length << " " << c.used_end;
  }
}

TEST(PageEntries, MovesBetweenPagesKeepTheOrder) {
  std::vector<uint8_t> a = Page(10, 12), b = Page(0, 12);
  MoveLastEntries(a.data(), b.data(), 4);
  EXPECT_EQ(UsedEnd(a.data()), 16 + 6 * 12);
  EXPECT_EQ(Search(b, 70).position, 16);
  EXPECT_EQ(Search(b, 100).result, 12);
  MoveFirstEntries(b.data(), a.data(), 2);
  EXPECT_EQ(Search(a, 80).position, 16 + 7 * 12);
  EXPECT_EQ(Search(b, 90).position, 16);
  EXPECT_TRUE(FixedPageOrdered(a.data(), 2048, 12, 4));
  EXPECT_TRUE(FixedPageOrdered(b.data(), 2048, 12, 4));
  RemoveFixedEntry(a.data(), 16);
  EXPECT_EQ(Search(a, 10).result, 0);
  auto entry = Key(15);
  entry.resize(12);
  InsertFixedEntry(a.data(), 16, entry.data());
  EXPECT_EQ(Search(a, 15).result, 12);
}

}  // namespace
