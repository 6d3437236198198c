// The kernel's constant block data: built once, each constant what its
// store and load give back, the masks those the result vectors use.
#include "kernel/block_data.h"

#include <gtest/gtest.h>

#include "kernel/databank_control.h"
#include "kernel/kernel_begin.h"
#include "kernel/log_record_text.h"
#include "kernel/table_use.h"

namespace {

TEST(BlockData, ConstantsAreBuiltOnce) {
  ASSERT_EQ(DSChkBlkData(), 0);
  const KernelBlockData* d = DSBlkData();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(DSBlkData(), d);
  EXPECT_EQ(d->word_size, 4);
  // The decimal 1 reads back as 1.
  value_descriptor v;
  v.precision = BLOCKDATA_DECIMAL_PRECISION;
  int32_t one = 0;
  ASSERT_EQ(decimal_to_int(&one, ConstByteSpan(d->decimal_one, sizeof d->decimal_one), v), 0);
  EXPECT_EQ(one, 1);
  const int32_t masks[BLOCKDATA_MASKS] = {
      (1 << 1) | (1 << 4), (1 << 1) | (1 << 2) | (1 << 4), 0x1e, 1 << 7, 1 << 2, 1 << 3, 1 << 4,
      (1 << 2) | (1 << 3)};
  for (int32_t m = 0; m < BLOCKDATA_MASKS; ++m) EXPECT_EQ(d->masks[m], masks[m]) << m;
  EXPECT_EQ(d->masks[BLOCKDATA_MASK_DATABANK], RVEC_MASK_DATABANK);
  EXPECT_EQ(d->masks[5], RVEC_MASK_TABLE);
  EXPECT_EQ(d->masks[6], RVEC_MASK_PC);
  for (int32_t i = 0; i < BLOCKDATA_INTEGERS; ++i) EXPECT_EQ(d->integers[i], i + 1);
  for (int32_t i = 0; i < BLOCKDATA_FLOATS; ++i) EXPECT_EQ(d->floats[i], i + 1.0);
  // BCD: 9 digits and the sign nibble 12 in five bytes.
  EXPECT_EQ(d->bcds[0][0], 0x00);
  EXPECT_EQ(d->bcds[0][4], 0x1c);
  EXPECT_EQ(d->bcds[17][3], 0x01);
  EXPECT_EQ(d->bcds[17][4], 0x8c);
}

}  // namespace
