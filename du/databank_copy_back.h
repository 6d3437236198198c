// Copy-back of a databank (DSBkpOp6): from a backup file, or from its own
// file rows over a range of time between two 16-character bounds
// YYYYMMDDhhmmssff, through the kernel core's roll-forward scans. Every
// outside service is reached through the utilities' service table
// (databank_utility.h).
#pragma once

#include <cstdint>

#include "du/databank_utility.h"

// pb: word 0 the status out (0, 1 no such databank, 2 the creator check
// failed, negative an error), word 1 the USR. A length of 0 or -1 means the
// text is not given; at most 128 bytes of the name, 256 of the file name
// and DU_TIME_TEXT_MAX of a time text are read.
void DSBkpOp6(int32_t* base, int32_t* pb, const char* name, int32_t name_length,
              const char* file, int32_t file_length, const char* start, int32_t start_length,
              const char* end, int32_t end_length);

inline constexpr int32_t DU_TIME_TEXT_MAX = 64;

// The 16-character bound of a time text "YYYY-MM-DD hh:mm:ss.ff" read by
// position (characters 1-4, 6-7, 9-10, 12-13, 15-16, 18-19 and the fraction
// from 21, cut to two); a position the text does not reach takes `pad`.
// Without a text (length below 1) every character is `pad`.
void DUTimeBound(const char* text, int32_t length, char pad, char out[16]);
