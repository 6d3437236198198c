// DDNewIds: reserving a block of consecutive new object ids from the
// internal id sequence 141, the one sequence that hands out more than one
// value at a time.
#pragma once

#include <cstdint>

inline constexpr int32_t DD_ID_SEQUENCE = 141;
// A count below 1 reserves nothing and is refused.
inline constexpr int32_t DD_BAD_PARAMETER = -19113;

// Caller's parameter block: word 0 the status (out), word 1 the session.
// Reserves `count` consecutive ids and writes the first into *first; the
// status (0, or the sequence routine's error such as -14720) goes into
// block word 0 and is returned. *first is untouched on an error.
int32_t DDNewIds(int32_t* base, int32_t* block, int32_t count, int32_t* first);
