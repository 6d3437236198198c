// The SQLSTATE of a native result code, and the name of the standard that
// defines an SQLSTATE's class or subclass.
#pragma once

#include <cstdint>

// Failure kinds that choose a state for a code the map does not hold.
constexpr int32_t SQLSTATE_KIND_CONNECT = 1;   // "08001"
constexpr int32_t SQLSTATE_KIND_WARNING = 2;   // "01002"

// Writes the five characters of the SQLSTATE of `rc` into sqlstate[0..4].
// rc 0: by the warning number (0 "00000", 1 "01004", 2 "01003", 3 "01000",
// 4 "01005", 5 "01007", 7 "01002"); any other warning number writes nothing.
// rc >= 100: "02000". Otherwise the code's entry in the translation map
// (single codes first, then code ranges); without one, the failure kind (1
// "08001", 2 "01002", 3 and 6 "40003", 4 and 5 "08006") or the map's default
// ("00000" for a positive code, "S1000" for a negative one).
void DSSqlState(int32_t rc, int32_t warning, int32_t kind, char* sqlstate);

// The origin text of `sqlstate`'s class (mode 1: a map entry with the same
// first two characters) or subclass (mode 2: the same five characters),
// written blank-padded into text[offset .. offset + *length - 1] (cut to that
// room); *length becomes the origin's length. A state the map does not hold
// gives "ISO 9075" (8); another mode writes nothing and sets *length to 0.
void DSStdName(char* text, int32_t offset, int32_t* length, const char* sqlstate, int32_t mode);
