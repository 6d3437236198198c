// DSMoveToPool: a copy larger than one piece lands whole at its offset, and a
// target outside its block or the storage, or a negative argument, copies
// nothing.
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
  EXPECT_EQ(DSMoveToPool(base, block, -1, bytes, 8), -19078);
  EXPECT_EQ(DSMoveToPool(base, block, 0, bytes, -8), -19078);
  EXPECT_EQ(DSMoveToPool(base, 0, 0, bytes, 8), -19078);
  EXPECT_EQ(DSMoveToPool(base, block, INT32_MAX, bytes, 8), -19078);
  EXPECT_EQ(DSMoveToPool(base, INT32_MAX, 0, bytes, 8), -19078);
  EXPECT_EQ(DSMoveToPool(base, block, 0, bytes, 0), 0);
}

// A move may fill its block to the last byte but not one byte past it, nor
// start inside a block's data as if it were a block.
TEST_F(PoolFixture, MovesStayInsideTheirBlock) {
  int32_t block = 0, next = 0;
  DSGetMem(base, &block, 64);
  DSGetMem(base, &next, 64);
  const int32_t data_bytes = -4 * sqlpool_word(base, block - 3);
  std::vector<char> bytes(data_bytes + 1, 'x');
  const std::vector<int32_t> before(&sqlpool_word(base, next - 4), &sqlpool_word(base, next + 4));
  const std::vector<int32_t> before_low(&sqlpool_word(base, block - 4), &sqlpool_word(base, block));
  EXPECT_EQ(DSMoveToPool(base, block, 0, bytes.data(), data_bytes), 0);
  EXPECT_EQ(DSMoveToPool(base, block, 1, bytes.data(), data_bytes), -19078);
  EXPECT_EQ(DSMoveToPool(base, block, data_bytes, bytes.data(), 1), -19078);
  EXPECT_EQ(DSMoveToPool(base, block + 2, 0, bytes.data(), 4), -19078);
  EXPECT_EQ(std::vector<int32_t>(&sqlpool_word(base, next - 4), &sqlpool_word(base, next + 4)),
            before);
  EXPECT_EQ(std::vector<int32_t>(&sqlpool_word(base, block - 4), &sqlpool_word(base, block)),
            before_low);
}

}  // namespace
