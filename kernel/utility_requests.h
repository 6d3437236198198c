// The kernel core's requests of the databank utilities that no description
// gives a working of its own: each checks what it is given and answers as
// its callers expect.
#pragma once

#include <cstdint>

// DSNewCursor (function code 62), block {status 1 or 3, USR}: sent around
// the system databank's look-up while a utility works on databank 1 (1
// before, 3 after). 0; -19078 for another status or a session outside the
// storage; -19040 without a started kernel.
void DSNewCursor(int32_t* base, int32_t* block);
inline constexpr int32_t NEW_CURSOR_BEFORE = 1;
inline constexpr int32_t NEW_CURSOR_AFTER = 3;
