// Varying values: a character or binary value whose current length lives in
// a separate packed decimal (the length field) of as many digits as its
// maximum length has; a length-field offset of -1 marks a fixed value whose
// length is its maximum. Shared by the moves and string instructions.
#pragma once

#include <cstdint>

#include "interp/run_state.h"

namespace interp {

// Digits of the maximum length: the length field's precision (at least 1).
int32_t LengthPrecision(int32_t maximum);

// The current length into *length: 0, 1 when the length field is null (the
// length then reads 0), or a negative status (the field outside the storage:
// -5). A length beyond the maximum or below 0 answers -5 too, so no caller
// copies past its value.
int32_t ReadLength(const Run& run, int32_t field, int32_t maximum, int32_t* length);
// Writes the length (nothing for a fixed value); 0 or a negative status.
int32_t WriteLength(Run& run, int32_t field, int32_t maximum, int32_t length);
// Fills indicator and `maximum` data units of `width` bytes with 255 and
// makes the length field null; false when the value lies outside the storage.
bool SetVaryingNull(Run& run, int32_t value, int32_t maximum, int32_t field, int32_t width = 1);

// A whole number from the decimal (offset, precision): 0 (fraction digits
// dropped), 1 for a null, or a negative status (the decimal bad or beyond 32
// bits). Counts, starts and places of the string functions.
int32_t ReadWholeNumber(const Run& run, int32_t offset, int32_t precision, int32_t* out);

// CompareVaryingBytes over two (offset, maximum, length field) triples: 1
// when either value is null, else 2, 3 or 4 as the first is less, equal or
// greater (the common length of data bytes first, then the lengths); a
// length-field status (negative) as it came; -5 for a value outside the
// storage.
int32_t CompareVaryingBytes(const Run& run, const int32_t a[3], const int32_t b[3]);

// CompareVaryingChars: the same over wide-character values (maximum and
// length in characters, 3 bytes each), compared blank padded
// (charenc_compare_units3).
int32_t CompareVaryingChars(const Run& run, const int32_t a[3], const int32_t b[3]);

}  // namespace interp
