// Small numeric services shared across the server: decimal digit counts of
// integers, the numeric limits and the range check of values against them, a
// five-word stack, five-character codes packed into a word, the stepping of
// cyclic sequences, numeric type sizes and identifier unquoting.
#pragma once

#include <cstdint>
#include <span>

#include "platform/bytes.h"
#include "platform/packed_decimal.h"
#include "platform/status.h"

// --- Digit counts -----------------------------------------------------------

// Decimal digits of x (1 to 10); 0 for x below 0.
int32_t digits_of_int(int32_t x);
// Bytes of the packed decimal for x's digits, (digits + 4) / 2; 2 for x below 0.
int32_t decimal_bytes_of_int(int32_t x);
// 19 when high is positive, else 10 when low is negative, else low's digits.
int32_t digits_of_int64(int32_t high, int32_t low);
int32_t decimal_bytes_of_int64(int32_t high, int32_t low);

// 1 when x is below -2^30, the bound below which a value counts as unset.
int32_t is_below_min(int32_t x);

// --- Numeric limits and range checks ------------------------------------------

// Builds the table of numeric limits as packed decimals (once; later calls
// only report). Status 0 or the packed decimal library's failure.
void numeric_limits_init(int32_t* status);

// Checks a value against the bounds of a type: 6 16-bit, 7 32-bit, 8 single,
// 9 and 10 double, 28 64-bit integer (other types and null values pass).
// -10204 above the maximum, -10203 below the minimum, -10205 a nonzero single
// or double below the smallest magnitude, -10201 a bad precision.
void numeric_range_check(int32_t* status, ConstByteSpan area, const value_descriptor& value,
                         int32_t type);

// --- Five-word stack ----------------------------------------------------------
// A stack lives in a word area at `index`: the item count n, then n items of
// five words. Every routine checks the stack against the area; a stack that
// does not fit gives status -3 and is left alone.

constexpr int32_t stack5_size(int32_t n) {
  return 5 * n + 1;
}

using WordSpan = std::span<int32_t>;

void stack5_clear(int32_t* status, WordSpan words, int32_t index);
void stack5_push(int32_t* status, WordSpan words, int32_t index, const int32_t item[5]);
// -1 when empty.
void stack5_pop(int32_t* status, WordSpan words, int32_t index, int32_t item[5]);
// Word 1, 2 or 4 of the top item; -1 when empty.
void stack5_top_first(int32_t* status, WordSpan words, int32_t index, int32_t* out);
void stack5_top_second(int32_t* status, WordSpan words, int32_t index, int32_t* out);
void stack5_top_fourth(int32_t* status, WordSpan words, int32_t index, int32_t* out);
// Sets word 2 of the top item; -1 when empty.
void stack5_set_second(int32_t* status, WordSpan words, int32_t index, int32_t value);
// From the top, the first item whose word 1 is key: its words 3 and 5.
// -1 when empty, -2 when not found.
void stack5_find(int32_t* status, WordSpan words, int32_t index, int32_t key, int32_t* out_a,
                 int32_t* out_b);

// --- Five-character codes -----------------------------------------------------

// Packs five characters (digits 0..9, letters A..Z or a..z as 10..35) into a
// word: marker 2 in the top two bits, the first character in the lowest six
// bits. Status -1 at the first other character (the word is then not set).
void code5_pack(int32_t* status, int32_t* out, ConstByteSpan text, int32_t offset);
// The reverse, writing digits and upper-case letters; status -1 when the
// marker is not 2 or a field is above 35 (nothing written).
void code5_unpack(int32_t* status, ByteSpan text, int32_t offset, int32_t word);

// --- Cyclic sequences -----------------------------------------------------------

// Takes n steps of a sequence. state: below 0 not started, 0 running, above 0
// exhausted. A step past the limit wraps around by the range length keeping
// the remainder, and counts a cycle. With unique positive the sequence is
// exhausted at a wrap when the cycles reach |increment| or the range length
// is a multiple of it, and after the steps when a cycle happened and the value
// is back at the start.
void sequence_next_value(int32_t* value, int32_t unique, int32_t* state, int32_t start,
                         int32_t increment, int32_t limit, int32_t* cycles, int32_t steps);

// --- Type sizes and identifiers -------------------------------------------------

// Letter 'I' with n 1..4: 3, 5, 7, 10; letter 'F' with n 2..8: 3, 5, 8, 10, 13,
// 15, 17. Other n: status -8; another letter: -9.
void mdr_numeric_type_size(int32_t* status, int32_t* figure, char letter, int32_t n);

// Delimiter codes of mdr_unquote_name.
constexpr int32_t kUnquoteBlank = 0;
constexpr int32_t kUnquoteDoubleQuote = 1;
constexpr int32_t kUnquoteApostrophe = 2;

// Copies an identifier: undelimited text unchanged and, unless keep_case,
// upper-cased (ISO 8859-1); delimited text without its delimiters, each doubled
// delimiter made single. *out_length = bytes written (counted from
// target_offset). The copy is cut to the target area.
void mdr_unquote_name(ConstByteSpan source, int32_t source_offset, int32_t source_length,
                      ByteSpan target, int32_t target_offset, int32_t* out_length,
                      int32_t delimiter, int32_t keep_case);
