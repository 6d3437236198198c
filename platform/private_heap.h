// The server's private heap: one reserved address region of the process from
// which blocks are committed as needed, regions reserved for single word
// areas (so their extents lie above their base and indexes stay positive),
// and committed virtual memory for the largest areas. Quota-checked
// allocations serve the kernel word storage.
#pragma once

#include <cstdint>

#include "platform/status.h"

// rc of a heap or virtual-memory refusal and of an exhausted quota.
constexpr int32_t HEAP_REFUSED = -21109;
constexpr int32_t HEAP_QUOTA_EXHAUSTED = -21110;

// Kinds of heap_alloc: these two take committed virtual memory of their own,
// every other kind a block of the private heap.
constexpr int32_t HEAP_KIND_VIRTUAL = 2;
constexpr int32_t HEAP_KIND_VIRTUAL_TOO = 3;

// Address space reserved for the process's private heap. Any two of its
// addresses lie less than 2^31 words apart, so an index of one heap block
// relative to another fits a word.
constexpr int64_t HEAP_RESERVED_BYTES = int64_t{4} << 30;

// Kinds 2 and 3: *size x 4 bytes of committed read-write memory; the status
// is left as it was on success. Other kinds: a block of *size + 1 words from
// the private heap, *size incremented by 1, status {0, -1}. A failure sets
// *size to 0, rc -21109 and the OS status of the failed step (HeapCreate,
// HeapAlloc or VirtualAlloc).
void heap_alloc(StatusPair* status, void** address, int32_t* size, int32_t kind);

// A heap block for the area at `base`: *index = (address - base) / 4 + 1.
// For an area whose region was reserved with heap_reserve_area the block is
// exactly *size words inside that region, above everything handed out
// before it; otherwise it is heap_alloc of kind 0. *size is 0 on failure,
// also when the index would not fit a word.
void heap_alloc_index(const int32_t* base, int32_t* index, int32_t* size);

// Takes *size words from the quota word by compare-and-swap (only while the
// quota is positive and stays positive), then allocates as heap_alloc_index;
// a failed allocation gives the words back and leaves the heap's status.
// A quota that is not enough: *size 0, status {-21110, -1}.
void heap_alloc_quota(StatusPair* status, int32_t* quota, const int32_t* base, int32_t* index,
                      int32_t* size);

// Frees the heap block at base + (index - 1) x 4 and gives `size` words back
// to the quota. Nothing happens when no block begins there.
void heap_free_quota(int32_t* quota, const int32_t* base, int32_t index, int32_t size);

// Frees a block of heap_alloc (other kinds than 2 and 3); false when no
// block begins at the address.
bool heap_free(void* address);
// Gives back memory of kinds 2 and 3 (`words` as asked for).
void heap_free_virtual(void* address, int64_t words);

// Reserves address space for a word area of up to `max_words` words and
// commits its first `initial_words`; nullptr when the system refuses or the
// sizes are out of range. heap_alloc_index and heap_alloc_quota with this
// base carve their blocks from the region.
int32_t* heap_reserve_area(int64_t max_words, int64_t initial_words);
// Gives an area's whole region back (at process end or in tests).
void heap_release_area(int32_t* base);

// *state becomes 0 when it was 3, else -1.
void heap_state_check(int32_t* state);

// x AND (m - 1), m a power of two.
inline int32_t mdr_mod_pow2(int32_t x, int32_t m) {
  return x & (m - 1);
}
