// The state of a databank copy for the backup and restore operations of
// record access: its entry in the databank kernel, its error state and its
// sequence number (DSGetDbState).
#pragma once

#include <cstdint>

// Request words.
inline constexpr int32_t DBSTATE_STATUS = 0;  // not written on success
inline constexpr int32_t DBSTATE_USR = 1;
inline constexpr int32_t DBSTATE_LID = 2;
inline constexpr int32_t DBSTATE_ENTRY = 3;  // out
inline constexpr int32_t DBSTATE_SEQNO = 4;  // in: the copy, -1 the first; out its SEQNO for -1
inline constexpr int32_t DBSTATE_WORDS = 5;

// Offset of databank kernel codes among the kernel's statuses: r - 16140.
inline constexpr int32_t DK_STATUS_OFFSET = 16140;
inline constexpr int32_t DBSTATE_NEEDS_RESTORE = -16159;

void DSGetDbState(int32_t* base, int32_t* request);
