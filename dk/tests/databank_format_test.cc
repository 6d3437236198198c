// Bitmap, header and restore directory page images: new-file layouts, and
// allocation and freeing checked against a model of the map.
#include "dk/databank_format.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using Page = std::vector<uint8_t>;

// The bitmap pages of a new file of `units` units, as a create lays them out.
std::vector<std::pair<int32_t, Page>> NewFileBitmaps(int32_t units) {
  std::vector<std::pair<int32_t, Page>> pages;
  for (int32_t unit = 0; unit < units; unit += kBitmapChunkUnits) {
    Page page(kUnitBytes, 0xEE);
    int32_t next = units - unit > kBitmapChunkUnits ? unit + kBitmapChunkUnits : units - 1;
    FormatBitmapPage(page.data(), unit, next);
    pages.emplace_back(unit, page);
  }
  return pages;
}

TEST(DatabankFormat, NewFileBitmapAndHeaderPages) {
  struct Case {
    int32_t units;
    std::vector<std::vector<int32_t>> words;  // per bitmap page: unit, word 1, word 3
  } cases[] = {
      {2, {{0, 16254, 1}}},
      {100, {{0, 16254, 99}}},
      {16256, {{0, 16254, 16255}}},
      {16257, {{0, 16254, 16256}, {16256, 16255, 16256}}},
      {40000, {{0, 16254, 16256}, {16256, 16255, 32512}, {32512, 16255, 39999}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.units);
    auto pages = NewFileBitmaps(c.units);
    ASSERT_EQ(pages.size(), c.words.size());
    for (size_t i = 0; i < pages.size(); ++i) {
      const uint8_t* p = pages[i].second.data();
      EXPECT_EQ(pages[i].first, c.words[i][0]);
      EXPECT_EQ(PageWord(p, BMP_FREE), c.words[i][1]);
      EXPECT_EQ(PageWord(p, BMP_HINT), 0);
      EXPECT_EQ(PageWord(p, BMP_NEXT), c.words[i][2]);
      EXPECT_TRUE(BitmapBit(p, 0));
      EXPECT_EQ(BitmapBit(p, 1), i == 0);
      EXPECT_EQ(p[16], i == 0 ? 0xC0 : 0x80);  // most significant bit first
      for (int32_t b = 2; b < kBitmapChunkUnits; ++b) ASSERT_FALSE(BitmapBit(p, b)) << b;
    }
  }
  Page header(kUnitBytes, 0xEE);
  FormatHeaderPage(header.data(), 4711, 7, 3);
  const int32_t expected[16] = {
      static_cast<int32_t>(0xEEEEEEEE), 8, 0, 0, 0, 913, 0, 9, 4711, 7, 0, 0, 3, 0, 0, 0};
  for (int w = 0; w < 16; ++w) EXPECT_EQ(PageWord(header.data(), w), expected[w]) << w;
  EXPECT_EQ(header[20], 0x91);  // 913 little-endian
  EXPECT_EQ(header[21], 0x03);
}

TEST(DatabankFormat, SixtyFourKPageOfANewFileIsAtUnit32AndFreesOnce) {
  auto pages = NewFileBitmaps(1000);
  uint8_t* p = pages[0].second.data();
  EXPECT_EQ(BitmapAllocate(p, 0, 32), 32);
  for (int32_t b = 32; b < 64; ++b) EXPECT_TRUE(BitmapBit(p, b));
  EXPECT_FALSE(BitmapBit(p, 64));
  EXPECT_EQ(PageWord(p, BMP_FREE), 16254 - 32);
  EXPECT_EQ(BitmapAllocate(p, 0, 8), 8);
  EXPECT_EQ(BitmapAllocate(p, 0, 1), 2);
  ASSERT_EQ(BitmapFree(p, 32, 32), 0);
  const Page after_free = pages[0].second;
  EXPECT_EQ(BitmapFree(p, 32, 32), kCorruptBitmap);
  EXPECT_EQ(pages[0].second, after_free);  // unchanged by the refused free
  EXPECT_EQ(BitmapMark(p, 8, 8), kCorruptBitmap);
  EXPECT_EQ(BitmapFree(p, 12, 8), kCorruptBitmap);      // not aligned
  EXPECT_EQ(BitmapFree(p, 16250, 32), kCorruptBitmap);  // past the map
  // The file ends at unit 999: no 32-unit page fits past 992.
  for (int i = 0; i < 40; ++i) BitmapAllocate(p, 0, 32);
  EXPECT_EQ(BitmapAllocate(p, 0, 32), -1);
  for (int32_t b = 992; b < 1000; ++b) EXPECT_FALSE(BitmapBit(p, b));
}

TEST(DatabankFormat, AllocationAndFreeingFollowAModel) {
  std::mt19937 rng(11);
  auto pages = NewFileBitmaps(50000);
  // The middle chunk is full-sized: bits 0..16255 all usable.
  uint8_t* p = pages[1].second.data();
  const int32_t unit = pages[1].first;
  std::vector<bool> model(kBitmapChunkUnits, false);
  model[0] = true;
  int32_t free_units = kBitmapChunkUnits - 1, hint = 0;
  std::vector<std::pair<int32_t, int32_t>> held;
  for (int step = 0; step < 4000; ++step) {
    const int32_t units = std::vector<int32_t>{1, 8, 32}[rng() % 3];
    if (held.empty() || rng() % 3 != 0) {
      int32_t expected = -1;
      for (int32_t b = (hint + units - 1) / units * units; b + units <= kBitmapChunkUnits;
           b += units) {
        bool free = true;
        for (int32_t i = b; i < b + units; ++i) free = free && !model[i];
        if (free) {
          expected = b;
          break;
        }
      }
      ASSERT_EQ(BitmapAllocate(p, unit, units), expected) << step;
      if (expected >= 0) {
        for (int32_t i = expected; i < expected + units; ++i) model[i] = true;
        free_units -= units;
        held.emplace_back(expected, units);
      }
    } else {
      size_t k = rng() % held.size();
      auto [bit, size] = held[k];
      held.erase(held.begin() + static_cast<long>(k));
      ASSERT_EQ(BitmapFree(p, bit, size), 0);
      for (int32_t i = bit; i < bit + size; ++i) model[i] = false;
      free_units += size;
      hint = std::min(hint, bit);
    }
    ASSERT_EQ(PageWord(p, BMP_FREE), free_units);
    ASSERT_EQ(PageWord(p, BMP_HINT), hint);
  }
  for (int32_t b = 0; b < kBitmapChunkUnits; ++b) ASSERT_EQ(BitmapBit(p, b), model[b]) << b;
}

TEST(DatabankFormat, CorruptCountsAreRefused) {
  auto pages = NewFileBitmaps(100);
  uint8_t* p = pages[0].second.data();
  SetPageWord(p, BMP_FREE, -1);
  EXPECT_EQ(BitmapAllocate(p, 0, 1), kCorruptBitmap);
  SetPageWord(p, BMP_FREE, 0);
  EXPECT_EQ(BitmapAllocate(p, 0, 1), -1);
  EXPECT_EQ(BitmapMark(p, 5, 1), kCorruptBitmap);  // no free unit to take
  SetPageWord(p, BMP_FREE, kBitmapChunkUnits);
  EXPECT_EQ(BitmapFree(p, 0, 1), kCorruptBitmap);  // would pass the chunk's size
}

TEST(DatabankFormat, RestoreDirectorySlots) {
  Page dir(kUnitBytes, 0);
  EXPECT_EQ(RestoreSlotOf(dir.data(), 0), 0);
  EXPECT_EQ(RestoreSlotOf(dir.data(), 9), -1);
  SetPageWord(dir.data(), RDIR_FIRST_SLOT + 126 * RDIR_SLOT_WORDS + RDIR_DID, 9);
  EXPECT_EQ(RestoreSlotOf(dir.data(), 9), 126);
}

}  // namespace
