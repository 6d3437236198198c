// The kernel word storage (SQLPOOL): every kernel block lives in one storage
// of 32-bit words, named by the 1-based index of its first data word. Requests
// in bytes are served from three memory classes, each with its own extents,
// circular free list and lock. See kernel/README.md for the layouts and rules.
#pragma once

#include <cstdint>

// Word offsets (0-based from the storage base) of the storage header and of a
// class record. Index k names offset k-1.
namespace sqlpool {
inline constexpr int32_t WORDS = 0;
inline constexpr int32_t LOWIX = 1;
inline constexpr int32_t RESERV = 2;
inline constexpr int32_t NO_POMC = 3;
inline constexpr int32_t FIRST_POMC = 4;
inline constexpr int32_t LENW_POMC = 5;
inline constexpr int32_t LEFT_WORDS = 6;
inline constexpr int32_t ALLOC_WORDS = 7;
inline constexpr int32_t SEMAPHORE = 8;  // the storage lock, 4 words
inline constexpr int32_t FREE_DSA = 12;  // roving pointer of class 1
inline constexpr int32_t POMC = 13;      // first class record
inline constexpr int32_t HEADER_WORDS = 60;

// Class record words, from the record's offset c; its FREE_DSA is at c-1.
inline constexpr int32_t POOLID = 0;
inline constexpr int32_t POOLLIMIT = 1;
inline constexpr int32_t ALLOCS = 2;
inline constexpr int32_t DEALLOCS = 3;
inline constexpr int32_t EXTENTS = 4;
inline constexpr int32_t FIRST_EXT = 5;
inline constexpr int32_t LASTSIZEW = 6;
inline constexpr int32_t USED_WORDS = 7;
inline constexpr int32_t SPLIT_BYTES = 8;
inline constexpr int32_t WHOLE_EXT = 9;
inline constexpr int32_t POMC_SEMAPHORE = 11;  // the class lock, 4 words

inline constexpr int32_t CLASSES = 3;
inline constexpr int32_t POMC_WORDS = 16;
inline constexpr int32_t FIRST_EXTENT_INDEX = 61;
// Words a block costs beyond its data: three header words and the trailer.
inline constexpr int32_t BLOCK_OVERHEAD = 4;

// Items of DSPoolSize.
inline constexpr int32_t ITEM_BYTES_TAKEN = 30;
inline constexpr int32_t ITEM_BYTES_USED = 31;
inline constexpr int32_t ITEM_BYTES_MOST = 47;
inline constexpr int32_t ITEM_ALLOCS = 48;
inline constexpr int32_t ITEM_DEALLOCS = 49;
}  // namespace sqlpool

// What callers report when an allocation answers 0.
inline constexpr int32_t SQLPOOL_EXHAUSTED_ERROR = -11002;

// The one entry. n < 0: initialise the storage at `base` (word 0 holds the
// words it may grow by, *out holds W, the words already there); n = 0: free
// the block whose index *out holds, leaving its first data word (its NEXT
// link) in *out; n > 0: allocate n bytes, *out the index or 0 when the
// storage is exhausted. mode 0 clears the new block's data words, 1 does not.
void DSPoolMem(int32_t* base, int32_t* out, int32_t n, int32_t mode);
inline void DSGetMem(int32_t* base, int32_t* out, int32_t n) {
  DSPoolMem(base, out, n, 0);
}
inline void DSGetMemRaw(int32_t* base, int32_t* out, int32_t n) {
  DSPoolMem(base, out, n, 1);
}

// Figures for the server information items (bytes taken, bytes in use, most
// bytes the storage can take, allocations, frees); 0 for any other item.
int64_t DSPoolSize(const int32_t* base, int32_t item);

// Puts the in-use block with header offset `header` on the free list of the
// class record at offset `pomc`, merging it with free neighbours. The caller
// holds the class lock.
void DSPoolPutFree(int32_t* base, int32_t pomc, int32_t header);

// The storage's address space. SqlPoolCreate reserves room for `max_words`
// words without committing it and commits the first `initial_words`; extents
// are later committed above them, so indexes never move. nullptr when the
// system refuses or the sizes are out of range. A storage made this way is
// ready for initialisation: word 0 holds max_words - initial_words.
int32_t* SqlPoolCreate(int64_t max_words, int32_t initial_words);
// Gives the whole region back (tests and process end only).
void SqlPoolDestroy(int32_t* base);

// Gives the databank kernel its hooks into the storage at `base` (the
// started database's); nullptr takes them away.
void KernelInstallDkStorageAccess(int32_t* base);

// Word `index` (1-based) of the storage at `base`: field n of block b is
// sqlpool_word(base, b + n).
inline int32_t& sqlpool_word(int32_t* base, int64_t index) {
  return base[index - 1];
}
