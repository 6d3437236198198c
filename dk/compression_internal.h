// The two compressed formats behind dk/compression.h, on raw bytes whose
// fields the entry routines have already checked against their areas. Each
// routine reads and writes only inside the lengths it is given: `limit` is the
// number of compressed bytes that may be read, `room` and `capacity` the bytes
// that may be written.
#pragma once

#include <cstdint>
#include <cstring>

namespace dk_compression {

// Method 1: run-length items. A compressed length, or kCompressBadParameter
// when the form would not fit in `room`.
int64_t CompressRunLength(const uint8_t* source, int64_t length, uint8_t* dest, int64_t room);
// 0 or kCompressCorrupt; *produced is set either way.
int32_t ExpandRunLength(const uint8_t* form, int64_t limit, uint8_t* dest, int64_t capacity,
                        int64_t* produced);
// -1, 0, +1 or kCompressCorrupt.
int32_t CompareRunLengthKey(const uint8_t* form, int64_t limit, const uint8_t* key,
                            int64_t key_length);
int32_t CompareRunLengthKeys(const uint8_t* a, int64_t a_limit, const uint8_t* b, int64_t b_limit,
                             int64_t key_length);

// Method 2: back-reference items, with the same results.
int64_t CompressBackReference(const uint8_t* source, int64_t length, uint8_t* dest, int64_t room);
int32_t ExpandBackReference(const uint8_t* form, int64_t limit, uint8_t* dest, int64_t capacity,
                            int64_t* produced);
int32_t CompareBackReferenceKey(const uint8_t* form, int64_t limit, const uint8_t* key,
                                int64_t key_length);

// The sign of a memcmp result, as the comparisons give it.
inline int32_t Sign(int c) {
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// Copies of a few bytes are the common case, and a call to memcpy costs more
// than they do. Copies up to 16 bytes between places that do not overlap as
// two word moves that may cover the same bytes twice, never a byte beyond.
inline void CopyShort(uint8_t* to, const uint8_t* from, int64_t count) {
  if (count >= 8) {
    uint64_t head, tail;
    std::memcpy(&head, from, 8);
    std::memcpy(&tail, from + count - 8, 8);
    std::memcpy(to, &head, 8);
    std::memcpy(to + count - 8, &tail, 8);
  } else if (count >= 4) {
    uint32_t head, tail;
    std::memcpy(&head, from, 4);
    std::memcpy(&tail, from + count - 4, 4);
    std::memcpy(to, &head, 4);
    std::memcpy(to + count - 4, &tail, 4);
  } else {
    for (int64_t i = 0; i < count; ++i) to[i] = from[i];
  }
}

}  // namespace dk_compression
