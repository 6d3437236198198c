// Decimal text and packed decimals: parsing number text into a packed decimal
// (truncating or rounding to the target), writing a packed decimal as text
// right-aligned in a field, and the variant that fits a short field.
#pragma once

#include <cstdint>

#include "platform/packed_decimal.h"

// Text formats of decimal_to_text and decimal_to_fitted_text.
enum : int32_t {
  kDecimalTextInteger = -2,   // integer digits only, no point
  kDecimalTextExponent = -1,  // d.ddd...E+nnn
  // 0..45: fixed form with exactly that many fraction digits and a point.
};

inline constexpr int32_t kDecimalTextMaxLength = 32768;

// Reads blanks, an optional sign, digits with at most one point, an optional
// exponent and trailing blanks or NULs from text_length (0..32768) bytes.
// Cuts towards zero to the target's precision and scale. Malformed text
// stores null and gives 1; an exponent above the range gives -2/-3 with null;
// below it, zero with -1.
int32_t text_to_decimal(ByteSpan area, const value_descriptor& out, ConstByteSpan text_area,
                        int32_t text_offset, int32_t text_length);
// The same, rounding half away from zero instead of cutting.
int32_t text_to_decimal_rounded(ByteSpan area, const value_descriptor& out, ConstByteSpan text_area,
                                int32_t text_offset, int32_t text_length);

// Writes the value right-aligned into the field (length 1..32768) in `format`.
// Null fills the field with "." (1); a value that does not fit fills it with
// "*" (-2/-3); digits left out give -1. A field outside its area: -5, nothing
// written.
int32_t decimal_to_text(ByteSpan out_area, int32_t out_offset, int32_t out_length, int32_t format,
                        ConstByteSpan area, const value_descriptor& value);

// decimal_to_text for short fields: a non-negative value gets the sign
// position for one more digit, and the exponent form uses two exponent digits.
int32_t decimal_to_fitted_text(ByteSpan out_area, int32_t out_offset, int32_t out_length,
                               int32_t format, ConstByteSpan area, const value_descriptor& value);
