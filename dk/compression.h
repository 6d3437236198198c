// Key and record compression of tables: method 1, a byte run-length code, and
// method 2, a back-reference code with a 4096-slot hash and a window of 18440
// bytes. The compressors and expanders of both, and the comparisons of a
// compressed key with a plain key and of two compressed keys, which the index
// search makes without expanding a key. A compressed form carries no header and
// no length: its owner keeps both lengths beside it.
#pragma once

#include <cstdint>

#include "platform/bytes.h"

// The compression method of a table (table entry word 11, root entry word 8).
constexpr int32_t kCompressNone = 0;
constexpr int32_t kCompressRunLength = 1;
constexpr int32_t kCompressBackReference = 2;

// Negative results. A field that its area does not hold (an offset outside
// the area, a negative capacity, a capacity or source past the area's end, a
// destination too small for the compressed form) is a bad parameter; a
// compressed form that cannot be read (a tag or code that no compressor
// writes, a back-reference before the start of the output, a count or length
// that runs past the compressed length or the area, a repeat with nothing
// before it) is a corrupt data page, since compressed forms live in the leaf
// pages. In both cases nothing outside the given fields is read or written.
constexpr int32_t kCompressBadParameter = -43;
constexpr int32_t kCompressCorrupt = -65;

// Neither compressor ever writes more than this many bytes for a source of
// `source_length` bytes; a destination of this room never fails.
constexpr int64_t CompressedSizeBound(int64_t source_length) {
  return source_length < 1 ? 0 : source_length + source_length / 32 + 8;
}

// The room of the work buffer that DKCompareKeys expands a method-2 key into:
// the longest key it compares.
constexpr int32_t kCompareKeyRoom = 16384;

// Compresses source[source_offset, + source_length) at dest[dest_offset..] by
// `method` (1 or 2). Returns the compressed length, also stored in
// *compressed_length, or a negative result (also stored). A source length
// below 1 gives length 0. Any other method raises the server exception
// (reason 4).
int32_t DKCompress(ByteSpan dest, int32_t dest_offset, int32_t* compressed_length,
                   ConstByteSpan source, int32_t source_offset, int32_t source_length,
                   int32_t method);
int32_t DKCompress2(ByteSpan dest, int32_t dest_offset, int32_t* compressed_length,
                    ConstByteSpan source, int32_t source_offset, int32_t source_length);

// Expands the compressed form at source[source_offset..] of `compressed_length`
// bytes (for method 2 an upper bound is enough; either way the form is read no
// further than the end of the source area) into dest[dest_offset..]. On entry
// *length is the capacity, on return the number of bytes produced: at most the
// capacity, so a capacity below the plain length gives exactly that prefix of
// the plain form. Returns 0, or a negative result (a corrupt form leaves what
// was produced before the fault, and its count in *length). A compressed
// length below 1 produces nothing. A method other than 1 or 2 raises the
// server exception (reason 4).
int32_t DKExpand(ByteSpan dest, int32_t dest_offset, int32_t* length, ConstByteSpan source,
                 int32_t source_offset, int32_t compressed_length, int32_t method);
int32_t DKExpand2(ByteSpan dest, int32_t dest_offset, int32_t* length, ConstByteSpan source,
                  int32_t source_offset, int32_t compressed_length);

// Three-way comparison over `key_length` bytes of the expanded form of the
// compressed key at compressed[c_offset..] with the plain key at
// key[k_offset..]: -1, 0 or +1, the sign of (compressed minus plain) at the
// first differing byte, bytes unsigned; 0 when key_length is below 1. The
// compressed form is read only as far as the comparison needs, and never past
// the end of its area. Negative results below -1 as above (a plain key
// outside its area, a corrupt form). A method other than 1 or 2 raises the
// server exception (reason 4).
int32_t DKCompareKey(ConstByteSpan compressed, int32_t c_offset, ConstByteSpan key,
                     int32_t k_offset, int32_t key_length, int32_t method);
int32_t DKCompareKey1(ConstByteSpan compressed, int32_t c_offset, ConstByteSpan key,
                      int32_t k_offset, int32_t key_length);
int32_t DKCompareKey2(ConstByteSpan compressed, int32_t c_offset, ConstByteSpan key,
                      int32_t k_offset, int32_t key_length);

// Three-way comparison of two compressed keys over `key_length` bytes: the
// sign of (A minus B) at the first differing byte. Method 2 expands B (a key
// of at most kCompareKeyRoom bytes, from at most 16384 compressed bytes) and
// compares A with it; a B that gives fewer than key_length bytes is corrupt.
// Results as DKCompareKey.
int32_t DKCompareKeys(ConstByteSpan a, int32_t a_offset, ConstByteSpan b, int32_t b_offset,
                      int32_t key_length, int32_t method);
