// Byte primitives shared by the kernel, the databank kernel and the
// interpreter: fixed-length byte fields (compare, move with padding, search,
// case translation, byte-order reversal), bit tests in word bitmaps and flag
// words, the null-indicator byte of values, little-endian load/store helpers
// and the few steps that are empty on this platform.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "platform/status.h"

// A field is named by the area that holds it, an offset into the area and a
// length. Every routine checks the field against the area: a field that
// reaches past the area's end is cut there, and a negative length counts as 0,
// so no caller-given number ever reaches memory outside the area.
using ByteSpan = std::span<uint8_t>;
using ConstByteSpan = std::span<const uint8_t>;

// The part of [offset, offset + length) that lies inside the area; empty when
// the offset lies outside it or the length is below 1.
ConstByteSpan clip_field(ConstByteSpan area, int64_t offset, int64_t length);
ByteSpan clip_field(ByteSpan area, int64_t offset, int64_t length);

// True when the whole field, of a length of 0 or more, lies inside the area.
// Inline: every value routine makes this check on each operand.
inline bool field_fits(ConstByteSpan area, int64_t offset, int64_t length) {
  return offset >= 0 && length >= 0 && static_cast<uint64_t>(offset) <= area.size() &&
         static_cast<uint64_t>(length) <= area.size() - static_cast<uint64_t>(offset);
}

// Truth codes of comparisons and tests of values.
constexpr int32_t kTruthUnknown = 1;
constexpr int32_t kTruthLess = 2;   // also false
constexpr int32_t kTruthEqual = 3;  // also true
constexpr int32_t kTruthGreater = 4;

// The first byte of a value; this value of it marks the SQL null.
constexpr uint8_t kNullIndicator = 255;

// --- Little-endian and big-endian load and store -------------------------
// Stored words are little-endian; these never go through struct casts, so
// they serve unaligned fields as well.

inline uint16_t load_le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t load_le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t load_le64(const uint8_t* p) {
  return static_cast<uint64_t>(load_le32(p)) | (static_cast<uint64_t>(load_le32(p + 4)) << 32);
}
inline void store_le16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void store_le32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
inline void store_le64(uint8_t* p, uint64_t v) {
  store_le32(p, static_cast<uint32_t>(v));
  store_le32(p + 4, static_cast<uint32_t>(v >> 32));
}
inline uint16_t load_be16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline uint32_t load_be24(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[2];
}
inline uint32_t load_be32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | load_be24(p + 1);
}
inline void store_be16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void store_be24(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 16);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v);
}
inline void store_be32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  store_be24(p + 1, v);
}

// --- Compare, move, search ------------------------------------------------

// -1, 0 or 1 in unsigned byte order over n bytes; 0 when n is below 1.
int32_t mdr_compare_bytes(ConstByteSpan a, int32_t a_offset, ConstByteSpan b, int32_t b_offset,
                          int32_t n);

// The shorter operand is read as extended with the fill byte. 0 when equal,
// else the 1-based position k of the first difference: -k when a is the
// smaller there, +k when a is the greater.
int32_t mdr_compare_padded(ConstByteSpan a, int32_t a_offset, int32_t a_length, ConstByteSpan b,
                           int32_t b_offset, int32_t b_length, uint8_t fill);

// Copies min(lengths) bytes and fills the rest of the target with the fill
// byte; nothing when the target length is below 1. Overlapping fields are
// allowed.
void mdr_move_pad(ByteSpan target, int32_t t_offset, int32_t t_length, ConstByteSpan source,
                  int32_t s_offset, int32_t s_length, uint8_t fill);

// 1-based position of the first byte that differs from the given byte,
// scanning from the left (n > 0) or from the right end of -n bytes (n < 0; the
// position still counts from the left); 0 when all are equal or n is 0.
int32_t mdr_find_byte(ConstByteSpan base, int32_t offset, int32_t n, uint8_t byte);

// 1-based position of the first byte equal to the given one (n > 0), or of the
// last one (n < 0); 0 when absent.
int32_t mdr_index_of_byte(ConstByteSpan base, int32_t offset, int32_t n, uint8_t byte);

// 0-based position of the first occurrence of the byte, or the scanned length
// when absent (0 for n below 1).
int32_t mdr_span_to_byte(ConstByteSpan base, int32_t offset, int32_t n, uint8_t byte);

// Finds the pattern from the left (n > 0) or from the right end of -n bytes
// (n < 0). Gives the 0-based start of the match plus the pattern length (the
// 1-based position of its last byte); 0 when absent, when the pattern length
// is below 1 or longer than the range, or when n is 0.
int32_t mdr_find_bytes(ConstByteSpan base, int32_t offset, int32_t n, ConstByteSpan pattern,
                       int32_t p_offset, int32_t p_length);

// XORs each of n bytes with the key byte; with 255 it complements them, which
// turns an ascending byte order into a descending one (descending index keys).
void mdr_xor_bytes(ByteSpan base, int32_t offset, int32_t n, ConstByteSpan key_base,
                   int32_t key_offset);
// ANDs each of n bytes with the mask byte.
void mdr_and_bytes(ByteSpan base, int32_t offset, int32_t n, ConstByteSpan mask_base,
                   int32_t mask_offset);

// --- Translation and case -------------------------------------------------

using ByteTable = std::array<uint8_t, 256>;

// ISO 8859-1 case tables: A-Z and 192-222 (except 215) go down to lower case
// by +32, and back; every other byte, 223 and 255 included, maps to itself.
extern const ByteTable kLowerCaseTable;
extern const ByteTable kUpperCaseTable;

// Replaces each byte by its table entry; gives the number of bytes translated.
int32_t translate_bytes(ByteSpan base, int32_t offset, int32_t n, const ByteTable& table);
int32_t mdr_lower_bytes(ByteSpan base, int32_t offset, int32_t n);
int32_t mdr_upper_bytes(ByteSpan base, int32_t offset, int32_t n);

constexpr int32_t kCaseLower = 1;
constexpr int32_t kCaseUpper = 2;
// Mode 1 lower case, 2 upper case; any other mode changes nothing.
void case_translate(ByteSpan base, int32_t offset, int32_t n, int32_t mode);

// Reverses the byte order of each of n 32-bit words starting at the offset.
void mdr_swap_words(ByteSpan base, int32_t offset, int32_t n);

// --- Null indicators ------------------------------------------------------

// Compares two values that each begin with an indicator byte: 1 when either is
// null; else the lengths bytes after the indicators, the shorter read as
// extended with blanks: 2, 3 or 4.
int32_t mdr_compare_nullable(ConstByteSpan a, int32_t a_offset, int32_t a_length, ConstByteSpan b,
                             int32_t b_offset, int32_t b_length);

void mdr_set_null(ByteSpan base, int32_t offset);

// The truth code of a truth byte: 2 for 0, 3 for 1 to 254, 1 for 255 (and for
// a byte outside the area, which has no value).
int32_t mdr_null_state(ConstByteSpan base, int32_t offset);

// --- Bitmaps and flag words ------------------------------------------------
// Bit n of a bitmap is bit (n mod 32), least significant first, of word n / 32.
// A bit number below 0 or past the bitmap's end gives -2.

// 1 when the bit was clear already, else clears it and gives 0.
int32_t mdr_bit_clear_test(std::span<int32_t> bitmap, int32_t n);
// 1 when the bit was set already, else sets it and gives 0.
int32_t mdr_bit_set(std::span<int32_t> bitmap, int32_t n);
// 1 when set, 0 when clear.
int32_t mdr_bit_test(std::span<const int32_t> bitmap, int32_t n);

void mdr_flag_set(int32_t* flag_word, int32_t n);
int32_t mdr_flag_test(int32_t flag_word, int32_t n);

// --- Small steps kept for their callers -----------------------------------

// out = b - a (wrapping, as 32-bit words do).
void mdr_difference(int32_t* out, int32_t a, int32_t b);
void status_clear(StatusPair* status);
void mdr_noop_status4(StatusPair* status, int32_t = 0, int32_t = 0, int32_t = 0);
int32_t mdr_noop_zero(int32_t, int32_t);
void mdr_noop_clear(int32_t* out, int32_t, int32_t);
