// DSMoveToPool: a copy larger than one piece lands whole at its offset, and a
// target outside the storage or a negative argument copies nothing.
#include "kernel/pool_move.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "kernel/word_storage.h"

namespace {

struct PoolFixture : ::testing::Test {
  int32_t* base = SqlPoolCreate(1 << 20, 1 << 16);
  PoolFixture() {
    int32_t w = 1 << 16;
    DSPoolMem(base, &w, -1, 0);
  }
  ~PoolFixture() override { SqlPoolDestroy(base); }
};

TEST_F(PoolFixture, SeventyThousandBytesLandAtConsecutiveOffsets) {
  int32_t block = 0;
  DSGetMemRaw(base, &block, 70008);
  ASSERT_GT(block, 0);
  std::vector<char> bytes(70000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
  ASSERT_EQ(DSMoveToPool(base, block, 6, bytes.data(), 70000), 0);
  const char* stored = reinterpret_cast<const char*>(&sqlpool_word(base, block)) + 6;
  EXPECT_EQ(std::memcmp(stored, bytes.data(), bytes.size()), 0);
}

TEST_F(PoolFixture, BadTargetsCopyNothing) {
  int32_t block = 0;
  DSGetMemRaw(base, &block, 64);
  char bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(DSMoveToPool(base, block, -1, bytes, 8), -1);
  EXPECT_EQ(DSMoveToPool(base, block, 0, bytes, -8), -1);
  EXPECT_EQ(DSMoveToPool(base, 0, 0, bytes, 8), -1);
  EXPECT_EQ(DSMoveToPool(base, block, INT32_MAX, bytes, 8), -1);
  EXPECT_EQ(DSMoveToPool(base, INT32_MAX, 0, bytes, 8), -1);
  EXPECT_EQ(DSMoveToPool(base, block, 0, bytes, 0), 0);
}

}  // namespace
