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

// DSAttach, block {status 1, 2 or 3, USR, the first databank id, ..., word
// 6 the count (its sign ignored, at most 100), from word 12 the ids}: sent
// over a batch of databanks at the end of a backup (1, 2) or an offline
// change (3). Each databank named (word 2 alone when the count is 0) must
// be open: -19046 with its id in the result vector; -19078 for another
// status or count. 0.
void DSAttach(int32_t* base, int32_t* block);
inline constexpr int32_t ATTACH_COUNT = 6;
inline constexpr int32_t ATTACH_IDS = 12;
inline constexpr int32_t ATTACH_MAX = 100;

// DSChkTableKind, block {status, USR, databank id, the file row's four
// words}: sent once the incremental backup file of the databank is open.
// The databank must be open (-19046 with its id in the result vector). 0.
void DSChkTableKind(int32_t* base, int32_t* block);
