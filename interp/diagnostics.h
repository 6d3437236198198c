// The session's diagnostics area as conditions raised in programs fill it.
#pragma once

#include <cstdint>

namespace interp {

// Records `value` (a native code, a packed SQLSTATE, or for raise kinds 1, 3
// and 4 of a user condition: recorded as -14044) whose SQLSTATE is `state`.
// Mode 0 replaces the area's records, 1 adds in front of them (nothing when
// record 1 already holds this code). `trigger` not 0: the program runs as
// that trigger, and a second record (-14703) names it. A record found no
// storage for is not recorded. Every record filled, new or reused, keeps
// nothing of the condition it held before.
void DSAddCondition(int32_t* base, int32_t usr, int32_t value, int32_t kind, int32_t mode,
                    const char* state, int32_t trigger);

}  // namespace interp
