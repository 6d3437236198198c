// DSBlkData (see block_data.h).
#include "kernel/block_data.h"

#include <cstring>
#include <span>

#include "platform/bytes.h"

namespace {

bool Build(KernelBlockData* d) {
  d->word_size = static_cast<int32_t>(sizeof(int32_t));
  value_descriptor decimal;
  decimal.precision = BLOCKDATA_DECIMAL_PRECISION;
  if (int_to_decimal(ByteSpan(d->decimal_one, sizeof d->decimal_one), decimal, 1) != 0)
    return false;
  static constexpr int32_t kBits[BLOCKDATA_MASKS][4] = {
      {1, 4, -1}, {1, 2, 4, -1}, {1, 2, 3, 4}, {7, -1}, {2, -1}, {3, -1}, {4, -1}, {2, 3, -1}};
  for (int32_t m = 0; m < BLOCKDATA_MASKS; ++m) {
    int32_t word = 0;
    for (int32_t bit : kBits[m]) {
      if (bit < 0) break;
      if (mdr_bit_set(std::span<int32_t>(&word, 1), bit) != 0) return false;
    }
    d->masks[m] = word;
  }
  for (int32_t i = 0; i < BLOCKDATA_INTEGERS; ++i) {
    uint8_t field[4];
    store_le32(field, static_cast<uint32_t>(i + 1));
    d->integers[i] = static_cast<int32_t>(load_le32(field));
    if (d->integers[i] != i + 1) return false;
  }
  for (int32_t i = 0; i < BLOCKDATA_FLOATS; ++i) {
    uint8_t field[8];
    const double v = i + 1;
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    store_le64(field, bits);
    bits = load_le64(field);
    std::memcpy(&d->floats[i], &bits, 8);
    if (d->floats[i] != v) return false;
  }
  for (int32_t i = 0; i < BLOCKDATA_BCDS; ++i) {
    uint8_t value[decimal_bytes(BLOCKDATA_DECIMAL_PRECISION)], back[sizeof value];
    if (int_to_decimal(ByteSpan(value, sizeof value), decimal, i + 1) != 0) return false;
    if (decimal_to_bcd(ByteSpan(d->bcds[i], BLOCKDATA_BCD_BYTES), 0, BLOCKDATA_BCD_PRECISION, 0,
                       ConstByteSpan(value, sizeof value), decimal) != 0)
      return false;
    if (bcd_to_decimal(ByteSpan(back, sizeof back), decimal,
                       ConstByteSpan(d->bcds[i], BLOCKDATA_BCD_BYTES), 0, BLOCKDATA_BCD_PRECISION,
                       0) != 0 ||
        std::memcmp(back, value, sizeof value) != 0)
      return false;
  }
  return true;
}

}  // namespace

const KernelBlockData* DSBlkData() {
  static const KernelBlockData* const built = [] {
    static KernelBlockData data;
    return Build(&data) ? &data : nullptr;
  }();
  return built;
}
