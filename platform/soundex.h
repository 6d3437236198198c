// The SOUNDEX function's phonetic key: the Daitch-Mokotoff soundex code of a
// single-byte (ISO 8859-1) name, six digits.
#pragma once

#include <cstdint>

// Writes the six-digit key and a NUL (7 bytes) at target + target_offset for
// the text of `length` bytes at text + text_offset (a NUL byte ends it early).
void mdr_soundex(uint8_t* target, int32_t target_offset, const uint8_t* text, int32_t text_offset,
                 int32_t length);
