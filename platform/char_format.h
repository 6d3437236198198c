// Character formats 1 to 4 and the primitives on character values: fills,
// conversions into and out of the 3-byte format in which national character
// columns are held (so that they compare byte by byte and have a fixed width
// per character), scans, compares and searches of 3-byte character text.
#pragma once

#include <cstdint>

#include "platform/bytes.h"

// Format codes. Values are fixed-length fields padded with the format's blank.
constexpr int32_t kCharFormatLatin1 = 1;  // 1 byte, the code point (ISO 8859-1)
constexpr int32_t kCharFormatUtf16 = 2;   // 16-bit little-endian units, surrogate pairs
constexpr int32_t kCharFormatUnits3 = 3;  // the code point in 3 bytes, most significant first
constexpr int32_t kCharFormatUtf32 = 4;   // 32-bit little-endian code points

// Result codes of the conversions. When the target is too short, 1 takes
// precedence over -1 and -2.
constexpr int32_t kCharDone = 0;
constexpr int32_t kCharCut = 1;          // a source character that did not fit is not a blank
constexpr int32_t kCharLatin1Lost = -1;  // a code point above 255 became 191
constexpr int32_t kCharInvalid = -2;     // an invalid code point became U+FFFD
constexpr int32_t kCharBadFormat = -4;   // the format code is not 1 to 4
constexpr int32_t kCharBadField = -5;    // a field does not lie inside its area

constexpr uint32_t kReplacementChar = 0xFFFD;
constexpr uint8_t kLatin1Replacement = 191;

// Below 0x110000, not a surrogate, not 0xFDD0..0xFDEF, low 16 bits not
// 0xFFFE or 0xFFFF.
bool valid_code_point(uint32_t cp);

// Byte length of one unit of the format, 0 for a bad format code.
int32_t char_unit_bytes(int32_t format);

// Routines that write check their fields against the areas before anything
// is written: a field outside its area gives -5 and leaves the target
// untouched. Lengths are bytes unless said otherwise; negative ones count as 0.

// Writes n characters of the code point (format 1 its low byte, format 2 its
// low 16 bits); 0, -4 or -5.
int32_t charenc_fill(ByteSpan base, int32_t offset, int32_t n_chars, uint32_t code_point,
                     int32_t format);

// Converts text of the source format into format 3 with blank padding.
// 0, 1, -2, -4 or -5.
int32_t charenc_to_units3(ByteSpan target, int32_t t_offset, int32_t t_length, ConstByteSpan source,
                          int32_t s_offset, int32_t s_length, int32_t source_format);

// Converts format 3 text into the target format; pads only when the result is
// 0. 0, 1, -1, -2 (format 3 targets), -4 or -5.
int32_t charenc_from_units3(ByteSpan target, int32_t t_offset, int32_t t_length,
                            int32_t target_format, ConstByteSpan source, int32_t s_offset,
                            int32_t s_length);

// As charenc_from_units3 into format 1, 2 or 4, without padding; *out_length
// gets the bytes written (0 for a refused call).
int32_t charenc_from_units3_len(int32_t* out_length, ByteSpan target, int32_t t_offset,
                                int32_t t_length, int32_t target_format, ConstByteSpan source,
                                int32_t s_offset, int32_t s_length);

// Validated copy from format 3 to format 3 with padding; 0, 1, -2 or -5.
int32_t charenc_copy_units3(ByteSpan target, int32_t t_offset, int32_t t_length,
                            ConstByteSpan source, int32_t s_offset, int32_t s_length);

// n 32-bit code points (format 4) to n bytes; -1 when any became 191, else 0
// (-5 for a bad field).
int32_t charenc_units4_to_bytes(ByteSpan target, int32_t t_offset, ConstByteSpan source,
                                int32_t s_offset, int32_t n);

// Scans over |n| characters. n > 0: from the left, the 0-based position of the
// first hit, or n when there is none. n < 0: from the right end towards the
// left, the 0-based position (from the left) of the first hit met, or -1.
// skip finds a character that differs from the code point, find one equal to
// it. -4 for a bad format, -5 for a field outside the area.
int32_t charenc_skip_char(ConstByteSpan base, int32_t offset, int32_t n_chars, uint32_t code_point,
                          int32_t format);
int32_t charenc_find_char(ConstByteSpan base, int32_t offset, int32_t n_chars, uint32_t code_point,
                          int32_t format);

// The code point of the format 3 character at the offset; -1 when it does not
// lie inside the area.
int32_t charenc_get_unit3(ConstByteSpan base, int32_t offset);

// Compare of two format 3 values of n characters each: 2 a less, 3 equal, 4 a
// greater. Past the common part, the longer value is the greater when any of
// its extra characters is not a blank. A value reaching past its area is cut
// to the whole characters inside it.
int32_t charenc_compare_units3(ConstByteSpan a, int32_t a_offset, int32_t a_chars, ConstByteSpan b,
                               int32_t b_offset, int32_t b_chars);

// Fills n format 3 positions with the first character of the source; the
// format code is also the byte length of that one source unit (1, 2, 3 or 4).
// 0, -4 or -5.
int32_t charenc_fill_units3(ByteSpan field, int32_t offset, int32_t n_chars, ConstByteSpan source,
                            int32_t s_offset, int32_t source_format);

// 1-based character position of the first occurrence of the pattern that
// starts on a character boundary; 0 when absent or when n or m is below 1.
int32_t charenc_find_units3(ConstByteSpan text, int32_t t_offset, int32_t n_chars,
                            ConstByteSpan pattern, int32_t p_offset, int32_t m_chars);
