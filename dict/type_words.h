// The word tables of the catalog: type words and interval qualifier words,
// object kind words, privilege words and the other enumerations the system
// tables keep as blank-padded words, and the conversions between a stored
// data type and the dictionary type codes 1 to 35.
#pragma once

#include <cstdint>
#include <string_view>

// Dictionary type codes that name groups of the encoding.
inline constexpr int32_t DD_TYPE_INTERVAL_FIRST = 15;
inline constexpr int32_t DD_TYPE_INTERVAL_LAST = 27;
inline constexpr int32_t DD_TYPE_UNKNOWN = 36;

inline constexpr int32_t DD_TYPE_WORD_LENGTH = 26;
inline constexpr int32_t DD_QUALIFIER_WORD_LENGTH = 16;
inline constexpr int32_t DD_TYPE_WORD_COUNT = 23;
inline constexpr int32_t DD_QUALIFIER_WORD_COUNT = 13;

// Entry n (1-based) of the type-word table, blank padded to 26 characters;
// empty outside 1 to 23.
std::string_view DDTypeWord(int32_t entry);
// Entry n (1-based) of the qualifier table, blank padded to 16 characters.
std::string_view DDQualifierWord(int32_t entry);

// Source record words of DDTypeCode: a two-word value whose second word is
// a length, precision, scale, datetime or interval leading precision and
// interval length.
inline constexpr int32_t DDTC_S0 = 0;
inline constexpr int32_t DDTC_LENGTH = 1;
inline constexpr int32_t DDTC_PRECISION = 2;
inline constexpr int32_t DDTC_SCALE = 3;
inline constexpr int32_t DDTC_LEADING = 4;
inline constexpr int32_t DDTC_INTERVAL_LENGTH = 5;
// Result record words.
inline constexpr int32_t DDTC_OUT_CODE = 0;
inline constexpr int32_t DDTC_OUT_LENGTH = 1;
inline constexpr int32_t DDTC_OUT_SCALE = 2;

// The type code of a stored type word (26 characters) and qualifier word
// (16 characters), with its length and scale, into result[0..2]. A type
// word that is no entry, and an INTERVAL whose qualifier is no entry, give
// 36 and leave the length and scale words as they were.
void DDTypeCode(const char* type_word, const char* qualifier_word, const int32_t* source,
                int32_t* result);

// The reverse: the type-word entry and qualifier entry (0 for none) that
// store type code `code`; false for a code outside 1 to 35.
bool DDTypeEntries(int32_t code, int32_t* type_entry, int32_t* qualifier_entry);
