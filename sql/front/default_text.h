// Stored default texts decoded in place: a character literal to its
// characters, a hexadecimal literal to its bytes, a typed literal to the text
// between its quotes, and the special values (NULL, USER, the current date
// and time, the next or current value of a sequence) to negative markers.
// The length word carries the result: n >= 0 the first n units of the text
// are the value, below 0 a marker.
#pragma once

#include <cstdint>

constexpr int32_t kDefaultNull = -1;
constexpr int32_t kDefaultUser = -2;
constexpr int32_t kDefaultCurrentDate = -3;
constexpr int32_t kDefaultCurrentTime = -4;
constexpr int32_t kDefaultCurrentTimestamp = -5;
constexpr int32_t kDefaultCurrentUser = -6;
constexpr int32_t kDefaultSessionUser = -7;
constexpr int32_t kDefaultSystemUser = -8;
constexpr int32_t kDefaultNextValue = -9;
constexpr int32_t kDefaultCurrentValue = -10;

// One byte a character (the dictionary's form).
void DefaultTextCheck(char* text, int32_t* length);
// One 32-bit code point a character (the compiler's form); also decodes a
// national literal N'...'. A decoded hexadecimal byte is one unit.
void DefaultTextCheckW(int32_t* text, int32_t* length);
