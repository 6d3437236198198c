// Hash lists of the kernel: a block of the word storage holding the bucket
// count, the strides of the bucket heads and semaphores, the semaphores and
// the bucket heads. SYS keeps its channels, databanks, shared programs,
// level-2 tables and sequences in such lists.
#pragma once

#include <cstdint>

// Words of a hash list block.
inline constexpr int32_t HL_BUCKETS = 0;      // n
inline constexpr int32_t HL_HEAD_STRIDE = 1;  // h: bucket i's head at HL_HEADS + h*i
inline constexpr int32_t HL_SEM_STRIDE = 2;   // s: bucket i's semaphore at HL_SEM + s*i
inline constexpr int32_t HL_SEM = 4;          // two words
inline constexpr int32_t HL_HEADS = 7;

// Bytes of a list of n buckets with the given strides.
int32_t HashListBytes(int32_t buckets, int32_t head_stride, int32_t sem_stride);

// Allocates and lays out a list (every semaphore with one free unit, every
// head 0); its index, or 0 when the storage is exhausted.
int32_t HashListCreate(int32_t* base, int32_t buckets, int32_t head_stride, int32_t sem_stride);

// The bucket of key k: |k mod n|; -1 when the list's count is not positive.
int32_t HashListBucket(const int32_t* base, int32_t list, int64_t key);
// Index of bucket i's head word and pointer to its semaphore.
int32_t HashListHead(const int32_t* base, int32_t list, int32_t bucket);
int32_t* HashListSemaphore(int32_t* base, int32_t list, int32_t bucket);
