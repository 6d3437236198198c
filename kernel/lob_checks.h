// The table handles of a statement that a large-object request may use
// (and the level path a routine call sets):
// for a write the first handle of a table the statement writes, for a read
// the handle of the table the object belongs to.
#pragma once

#include <cstdint>

// The handle (its storage index), or -19078 when the statement's active
// section has none.
int32_t DSLobChkPut(int32_t* base, int32_t stm);
int32_t DSLobChkGet(int32_t* base, int32_t stm, int32_t table);

// DSSetLevelPath: 386 characters of `path` into the PATH of the session's
// current level; 0, or -19078 without a level.
int32_t DSSetLevelPath(int32_t* base, int32_t usr, const uint8_t* path);
