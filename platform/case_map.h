// Unicode case mapping of single code points and of national character
// strings held in format 3 (three bytes per character, most significant first).
// One character may map to up to three (the special upper-case sequences).
#pragma once

#include <cstdint>

#include "platform/bytes.h"

// Bits of a code point's case property word.
constexpr int32_t kCaseHasUpper = 0x100;    // simple upper: cp - delta
constexpr int32_t kCaseHasLower = 0x200;    // simple lower: cp + delta
constexpr int32_t kCaseHasSpecial = 0x800;  // special upper-case sequence
constexpr int kCaseDeltaShift = 12;         // delta = property >> 12 (signed)

// The property word of a code point; 0 outside 0..0x10FFFF.
int32_t unicode_case_property(int32_t code_point);
// The simple one-to-one mappings (the code point itself when it has none).
int32_t unicode_simple_upper(int32_t code_point);
int32_t unicode_simple_lower(int32_t code_point);
// The special upper-case sequence into out[0..2]; returns its length, 0 when
// the code point has none.
int unicode_special_upper(int32_t* out, int32_t code_point);

// The mapping that the string case change applies to one code point, into
// out[0..2]; returns the count (1..3). Upper: the simple lower-case mapping
// first, then the special sequence of the result when it has one, else its
// simple upper-case mapping. Lower: the simple upper-case mapping first, then
// the simple lower-case mapping of the result, always one character (the
// special sequences are upper-case mappings and never serve lower-casing).
// Going through the other case first folds variants such as U+03F4 or U+1E9E
// onto the common letters.
int unicode_upper(int32_t* out, int32_t code_point);
int unicode_lower(int32_t* out, int32_t code_point);

// Upper-cases (mode 1) or lower-cases (any other mode) the format 3 string of
// n characters at offset in area, in place (n is cut to the area). A character that maps to several
// moves the rest of the field right; characters pushed off the end are
// counted in *dropped. Returns 1 when a non-blank character was pushed off or
// a mapping was cut at the end of the field, else 0.
int charenc_case_units3(ByteSpan area, int32_t offset, int32_t n, int32_t* dropped, int mode);
