// Numbers that are not packed decimals: integer fields of 1, 2 and 4 bytes and
// float fields of 4 and 8 bytes with range checks, an integer as right-aligned
// text in a fixed field, and number text read into a double or a rounded
// 32-bit integer. Fields are little-endian, like every stored word.
#pragma once

#include <cstdint>

#include "platform/bytes.h"

// Result codes shared with the other value routines.
constexpr int32_t kValueDone = 0;
constexpr int32_t kValueClamped = 2;        // a clamped or filled result
constexpr int32_t kValueNotNumber = -1;     // a text that is not a number, a field not written
constexpr int32_t kValueOverflowHigh = -2;  // overflow of a positive value
constexpr int32_t kValueOverflowLow = -3;   // overflow of a negative value
constexpr int32_t kValueBadArgument = -5;   // a bad width, or a field outside its area
constexpr int32_t kValueBadData = -6;

// Sign-extending load of a 1-, 2- or 4-byte field; 0 or -5 (*value untouched).
int32_t int_load(int32_t* value, ConstByteSpan base, int32_t offset, int32_t width);

// Range-checked store into 1, 2 or 4 bytes: a value out of range gives -2
// (above) or -3 (below) and stores the width's minimum; -5 for another width.
int32_t int_store(int32_t value, ByteSpan base, int32_t offset, int32_t width);

// Loads a 4-byte float (widened) or an 8-byte double. Zero, normal and
// infinite values are accepted; NaN and denormals give -6 and the most
// negative double. -5 for another width.
int32_t double_load(double* value, ConstByteSpan base, int32_t offset, int32_t width);

// Stores into 8 bytes, or narrows into 4: beyond the float range gives -3
// (at or below its negative end) or -2 and stores the most negative float,
// which thus never stands for a real value; magnitudes below the smallest
// normal float store 0. -5 for another width.
int32_t double_store(double value, ByteSpan base, int32_t offset, int32_t width);

// The float bit pattern that marks a value out of the float range.
constexpr uint32_t kFloatOutOfRange = 0xFF7FFFFF;

// Writes the value right-aligned into the field, blanks on the left, "-"
// before the digits of a negative value; 0. When it does not fit: "-" and "9"
// in every other place for a negative value ("0" in a field of width 1), all
// "9" for a positive one, and 2. A width below 1 or the value -2147483648
// fills the field with NUL bytes and gives -1; a field outside its area is not
// written and gives -5.
int32_t mdr_int_to_text(ByteSpan base, int32_t offset, int32_t width, int32_t value);

// Outcomes of reading a number text.
constexpr int32_t kNumberSyntaxError = -1;
constexpr int32_t kNumberInteger = 0;
constexpr int32_t kNumberReal = 1;
constexpr int32_t kNumberIntegerOverflow = 2;   // an integer beyond 32 bits
constexpr int32_t kNumberExponentOverflow = 3;  // clamped to the largest double

struct NumberText {
  int32_t outcome = kNumberSyntaxError;
  double value = 0;     // for every outcome but the syntax error
  int32_t integer = 0;  // for kNumberInteger
};

// Reads a number: optional blanks, an optional sign, digits with an optional
// point, an optional exponent ("E" or "e", optional sign, digits), optional
// blanks. Only the blank counts as blank. A value of 1E100 or more in
// magnitude is clamped to the largest double (outcome 3); one below 1E-99
// becomes 0.
NumberText read_number_text(ConstByteSpan text);

// Number text to double: flag -1 (the most negative double) for a text that
// is not a number or is empty; 0 for a number; 1 for a clamped exponent
// overflow. A text field that does not lie wholly inside its area counts as
// empty.
int32_t text_to_double_checked(double* value, ConstByteSpan base, int32_t offset, int32_t length);

// Number text to a 32-bit integer: an integer is taken as it is; anything else
// is rounded by floor(x + 0.5), and magnitudes of 2147483647 or more give
// +-2147483647 with result 2; a text that is not a number (or a field that
// does not lie wholly inside its area) gives -2147483648 with result -1.
int32_t text_to_int_rounded(int32_t* value, ConstByteSpan base, int32_t offset, int32_t length);

void mdr_const_two(int32_t* out);
void mdr_const_zero(int32_t* out);
