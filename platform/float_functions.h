// Small value routines beside the packed decimals: the SQL numeric functions
// on doubles with their error results, 64-bit integers held as two 32-bit
// words, unsigned integer text, bit maps addressed by bit number, and a
// three-byte nullable 16-bit integer.
#pragma once

#include <cstdint>

#include "platform/bytes.h"
#include "platform/status.h"

// Function codes of float_function.
enum : int32_t {
  kFloatAcos = 1,
  kFloatAsin = 2,
  kFloatAtan = 3,
  kFloatCos = 4,
  kFloatCot = 5,
  kFloatDegrees = 6,
  kFloatLog = 7,
  kFloatLog10 = 8,
  kFloatRadians = 9,
  kFloatSin = 10,
  kFloatSqrt = 11,
  kFloatTan = 12,
  kFloatExp = 13,
  kFloatAtan2 = 31,  // (y, x)
  kFloatPower = 32,  // (x, y)
};

// Computes the function into *out; returns 0, or -2/-3 for a result beyond
// the double range (positive/negative), -6 for a domain error or NaN, -5 for
// an unknown code. `y` is the second argument of ATAN2 and POWER.
int32_t float_function(int32_t code, double* out, double x, double y = 0);

// 64-bit integers as the system keeps them: two words, low word first, two's
// complement. Some callers have the value as a high word and a low word.
void int64_add(int32_t* a, const int32_t* b);  // a += b
void int64_sub(int32_t* a, const int32_t* b);  // a -= b
// 1 when a > b, -1 when a < b, 0 when equal.
int32_t int64_compare(const int32_t* a, const int32_t* b);
int32_t int64_sign(const int32_t* a);  // 1, -1 or 0
// The value as high word then low word: out[0] = a[1], out[1] = a[0].
void int64_swap_words(int32_t* out, const int32_t* a);
inline void int64_shift32(int32_t* out, const int32_t* a) {
  int64_swap_words(out, a);
}
void int64_from_words(int32_t* a, int32_t high, int32_t low);
void int64_add_hilo(int32_t* a, int32_t high, int32_t low);
void int64_sub_hilo(int32_t* a, int32_t high, int32_t low);
void int64_inc(int32_t* a);
void int64_dec(int32_t* a);
// The answer of a facility this platform does not have: {-21007, -1}.
StatusPair mdr_unsupported_status();

// The value as decimal integer text right-aligned in the field, in the
// integer form of decimal_to_text (the sign position included): "*" fill and
// -2 when it does not fit; -5 and nothing written for a field outside its
// area or a length outside 1..32768.
int32_t uint_to_text(ByteSpan out_area, int32_t offset, int32_t length, uint32_t value);

// Bit maps: bit n lies in byte (n mod 32) / 8 + (n / 32) * 4 under the mask
// 128 >> (n mod 8): 32-bit groups whose bytes are taken in memory order, bits
// numbered from the top of each byte. A negative n, or a bit beyond the map,
// gives -2.
int32_t bitmap_clear_bit(ByteSpan map, int32_t n);      // 1 already clear, else 0
int32_t bitmap_set_bit(ByteSpan map, int32_t n);        // 1 already set, else 0
int32_t bitmap_test_bit(ConstByteSpan map, int32_t n);  // 1 set, 0 clear

// Three-byte nullable 16-bit integer: 255 255 255 is null, else a 0 byte,
// the high byte and the low byte. Storing -1 stores null; 0..65535 is
// stored; any other value stores nothing and gives -1. Loading gives -1 for
// null. A field outside its area gives -5.
int32_t small_int_store(ByteSpan area, int32_t offset, int32_t value);
int32_t small_int_load(ConstByteSpan area, int32_t offset);
