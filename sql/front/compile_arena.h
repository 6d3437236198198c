// The private heap of one compile or parse job. Chunks come from a provider
// (normally the kernel word storage) and are carved into boundary-tagged blocks
// kept on one circular free list searched next-fit; all chunks go back at once.
// Running out of storage or meeting a damaged block throws ArenaExit.
#pragma once

#include <cstdint>
#include <exception>

// Provider working in 1-based word indexes relative to a base: bytes > 0
// allocates and stores the block's index (0 = no storage); bytes = 0 frees the
// block whose index is given.
using ArenaWordProvider = void (*)(int32_t* base, int32_t* index, int32_t bytes);
// Provider working in plain pointers: a null pointer allocates (null = no
// storage); bytes = 0 frees the pointer.
using ArenaPointerProvider = void* (*)(void* pointer, int32_t bytes);

// The arena's exit: value 1 when the provider supplies nothing, 2 when a freed
// block's tags disagree. The owner catches it and releases the arena.
class ArenaExit : public std::exception {
 public:
  explicit ArenaExit(int32_t value) : value(value) {}
  const char* what() const noexcept override;
  int32_t value;
};

struct CompileArena {
  ArenaWordProvider word_provider = nullptr;        // used when provider_base is set
  ArenaPointerProvider pointer_provider = nullptr;  // used otherwise
  int32_t* provider_base = nullptr;
  int32_t* chunks = nullptr;  // first chunk; every arena word index counts from it
  int32_t minimum_chunk = 0;  // words; 1024 is the floor
  // Word ranges [first, first + words) of every chunk, relative to `chunks`,
  // so that a pointer handed back can be checked before its tags are trusted.
  int32_t chunk_count = 0;
  int32_t chunk_capacity = 0;
  int64_t* chunk_ranges = nullptr;  // pairs: first word, word count (heap-held)
};

constexpr int32_t kArenaMinimumChunkWords = 1024;

// A block of at least n bytes of user space; with `old`, also a reallocation
// that copies min(old's user space, n) bytes and frees `old`. n <= 0 gives null
// and leaves `old` alone.
void* ArenaAlloc(CompileArena* arena, void* old, int32_t n);
void ArenaFree(CompileArena* arena, void* p);
void ArenaFreeBlock(CompileArena* arena, void* p);
void ArenaRelease(CompileArena* arena);
// Word-index interface for code naming its records by 1-based word index
// relative to `base`: n > 0 allocates n cleared bytes and stores the index; n = 0
// frees the record at `index` after replacing the index by its first word.
void ArenaWordAlloc(int32_t* base, CompileArena*& arena, int32_t& index, int32_t n);

// Blocks start on 4-byte boundaries; records holding pointers need 8. These
// over-allocate one word and align; the free finds the block again from the
// word before the record (a negative tag, or the padding marker).
void* ArenaAllocAligned(CompileArena* arena, int32_t n);
void ArenaFreeAligned(CompileArena* arena, void* p);

// A word storage of the arena's own for jobs that run without the kernel's
// (tools, tests, benchmarks): one region reserved at first use and shared by
// all threads, so every chunk stays within 32-bit word distance of the others.
int32_t* ArenaLocalBase();
void ArenaLocalProvider(int32_t* base, int32_t* index, int32_t bytes);
// Sets the arena to take its chunks from the local word storage.
void ArenaUseLocalStorage(CompileArena* arena);
