// Appenders of text buffers, from which dumps, reports and messages are built:
// a byte array, its size and a position word that each appender advances. No
// appender writes past the size; a number that does not fit its width shows
// as asterisks.
#pragma once

#include <cstdint>

#include "platform/bytes.h"

// Every appender takes the room as size - position and writes min(room,
// wanted) units; when that count is not positive the position moves by it,
// which brings a position that lay past the end back to the end. The size is
// taken no larger than the buffer area holds, a negative wanted count counts
// as 0, and a negative position writes nothing and stays as it is.

// Copies min(room, n) bytes.
void textbuf_put_bytes(ByteSpan buffer, int32_t* position, int32_t size, ConstByteSpan source,
                       int32_t s_offset, int32_t n);

// The value right-aligned in w = min(room, 12) places: when it fits, the
// digits (and sign) without the leading blanks; else w "*", advancing by w.
void textbuf_put_int(ByteSpan buffer, int32_t* position, int32_t size, int32_t value);

// The value right-aligned in w = min(room, width) places, all w of them, or w
// "*" when it does not fit.
void textbuf_put_int_width(ByteSpan buffer, int32_t* position, int32_t size, int32_t width,
                           int32_t value);

// The value in 12 places without leading blanks, "***" when it does not fit;
// bounded only by the buffer area.
void textbuf_put_int_left(ByteSpan buffer, int32_t* position, int32_t value);

// Copies min(room, n) single-byte characters: unit code 1 copies bytes, any
// other code widens each byte to a 3-byte character, the buffer's size and
// position then counting 3-byte characters.
void textbuf_put_chars(ByteSpan buffer, int32_t* position, int32_t size, int32_t unit_code,
                       ConstByteSpan source, int32_t s_offset, int32_t n);

// Copies min(room, n) 3-byte characters; buffer size and position, source
// offset and n count characters.
void textbuf_put_units3(ByteSpan buffer, int32_t* position, int32_t size, ConstByteSpan source,
                        int32_t s_char_offset, int32_t n);

// Each of n bytes as two hexadecimal digits, high nibble first, while the
// position is below the digit limit (an odd limit ends with a high nibble);
// the position advances by the digits written.
void textbuf_put_hex(ByteSpan buffer, int32_t* position, int32_t digit_limit, ConstByteSpan source,
                     int32_t s_offset, int32_t n);
