// Byte moves into the kernel word storage: a byte string copied into a block
// at a byte offset, for callers that build kernel blocks from byte images
// (the compiler's statement descriptions and program copies).
#pragma once

#include <cstdint>

// The longest piece one move copies at a time.
inline constexpr int32_t kPoolMovePiece = 32764;

// What a refused move answers (the kernel's bad-parameter status).
inline constexpr int32_t kPoolMoveRefused = -19078;

// Copies `count` bytes into the storage at `base` from byte `offset` of block
// `block` (offset 0 is the first byte of word `block`), in pieces of at most
// kPoolMovePiece bytes. Returns 0, or -19078 without copying anything when
// the block, offset or count is negative, the block is not a block in use,
// or the target reaches beyond the block's data words.
int32_t DSMoveToPool(int32_t* base, int32_t block, int32_t offset, const void* bytes,
                     int32_t count);
