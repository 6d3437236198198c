// The SOUNDEX function's phonetic key: the Daitch-Mokotoff soundex code of a
// single-byte (ISO 8859-1) name, six digits.
#pragma once

#include <cstdint>

#include "platform/bytes.h"

// Writes the six-digit key and a NUL (7 bytes) at target_offset of target for
// the text of `length` bytes at text_offset of text (a NUL byte ends it
// early; the text is cut to its area). Nothing is written when the 7 bytes do
// not fit the target area.
void mdr_soundex(ByteSpan target, int32_t target_offset, ConstByteSpan text, int32_t text_offset,
                 int32_t length);
