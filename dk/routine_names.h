// The databank kernel's routine name table: six-character names indexed from
// -146 to 66. Indexes 1 to 66 are the entry routines by function code, 0 is
// "zero  ", negative indexes name the internal routines. Every routine reports
// errors under its own index.
#pragma once

#include <cstdint>
#include <string_view>

constexpr int32_t DK_FIRST_ROUTINE = -146;
constexpr int32_t DK_LAST_ROUTINE = 66;
constexpr int32_t DK_ROUTINE_NAME_LENGTH = 6;

// Indexes of the internal routines this layer reports under.
constexpr int32_t DKR_DKHMA0 = -59;
constexpr int32_t DKR_DKEXE1 = -44;
constexpr int32_t DKR_DKOSY9 = -84;
constexpr int32_t DKR_DKSTA9 = -109;
constexpr int32_t DKR_DKEXE2 = -132;

// The name of routine `index`; empty outside -146..66.
std::string_view DKRoutineName(int32_t index);
