// Appending a source text read piece by piece to a caller's buffer.
#pragma once

#include <cstdint>

// Appends the piece in result column `column` of `stm` (three-byte
// characters) to `text3`, which holds *length of `total` characters: at
// most one piece, never more than the text's remaining characters, never
// past `capacity`. The status (0, or the column's failure); *more is false
// when nothing more goes in (the text whole or the buffer full).
int32_t DDAppendPiece(int32_t* base, int32_t stm, int32_t column, int32_t total, uint8_t* text3,
                      int32_t capacity, int32_t* length, bool* more);
