// The kernel's constant block data (DSBlkData), built once per process:
// the packed decimal 1, the result-vector bit masks, and the tables of
// small integers, floating values and packed BCD values, each passed once
// through the store and load of its type.
#pragma once

#include <cstdint>

#include "platform/packed_decimal.h"

inline constexpr int32_t BLOCKDATA_DECIMAL_PRECISION = 10;
inline constexpr int32_t BLOCKDATA_BCD_PRECISION = 9;
inline constexpr int32_t BLOCKDATA_BCD_BYTES = (BLOCKDATA_BCD_PRECISION + 2) / 2;
inline constexpr int32_t BLOCKDATA_MASKS = 8;
inline constexpr int32_t BLOCKDATA_INTEGERS = 13;
inline constexpr int32_t BLOCKDATA_FLOATS = 8;
inline constexpr int32_t BLOCKDATA_BCDS = 18;
// The masks by the bits set (bit 0 the lowest): {1,4}, {1,2,4},
// {1,2,3,4}, {7}, {2} (the databank mask), {3}, {4}, {2,3}.
inline constexpr int32_t BLOCKDATA_MASK_DATABANK = 4;

struct KernelBlockData {
  int32_t word_size;
  uint8_t decimal_one[decimal_bytes(BLOCKDATA_DECIMAL_PRECISION)];
  int32_t masks[BLOCKDATA_MASKS];
  int32_t integers[BLOCKDATA_INTEGERS];  // 1 .. 13
  double floats[BLOCKDATA_FLOATS];       // 1.0 .. 8.0
  uint8_t bcds[BLOCKDATA_BCDS][BLOCKDATA_BCD_BYTES];  // 1 .. 18
};

// The block data, built at the first call; nullptr when a constant could
// not be built (the start then fails with -19103).
const KernelBlockData* DSBlkData();
inline constexpr int32_t BLOCKDATA_NOT_BUILT = -19103;
