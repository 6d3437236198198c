// Table descriptions: the word list that record access builds a table's TCB,
// ICB and FICB blocks and LOB column list from. DSLoadTableDesc reads it from
// the catalog through the calling thread's STM_MOS_TABLEX statement into the
// thread's CDITCB work area; the catalog's own tables use the same layout.
#pragma once

#include <cstdint>

#include "kernel/thread_blocks.h"

// Words of record access's 18-word open block used by the loader.
inline constexpr int32_t OPEN_LID = 2;
inline constexpr int32_t OPEN_TABLE = 4;
inline constexpr int32_t OPEN_KEYLEN = 5;
inline constexpr int32_t OPEN_RECLEN = 6;
inline constexpr int32_t OPEN_DESCRIPTION = 17;
inline constexpr int32_t OPEN_WORDS = 18;
// Open block word 2 on entry: the description is the header alone.
inline constexpr int32_t OPEN_FIXED_LID = 2147400001;

// Header words.
inline constexpr int32_t DESC_IXTYPE = 0;
inline constexpr int32_t DESC_TABLE = 1;
inline constexpr int32_t DESC_LID = 2;
inline constexpr int32_t DESC_TYPE = 3;
inline constexpr int32_t DESC_KEYLEN = 4;
inline constexpr int32_t DESC_RECLEN = 5;
inline constexpr int32_t DESC_SIX = 6;
inline constexpr int32_t DESC_CONSTRAINT = 8;
inline constexpr int32_t DESC_HEADER_WORDS = 9;

// Entry kinds.
inline constexpr int32_t DESC_KIND_INDEX = 3;
inline constexpr int32_t DESC_KIND_FK_NO_ACTION = 4;
inline constexpr int32_t DESC_KIND_UNIQUE = 5;
inline constexpr int32_t DESC_KIND_INDEX_YES = 6;
inline constexpr int32_t DESC_KIND_REFERENCE = 7;
inline constexpr int32_t DESC_KIND_FOREIGN_KEY = 8;
inline constexpr int32_t DESC_KIND_LOB = 9;
inline constexpr int32_t DESC_END = -1;

// Index entry words (from the entry's kind word).
inline constexpr int32_t IXE_NUMBER = 1;
inline constexpr int32_t IXE_LID = 2;
inline constexpr int32_t IXE_TYPE = 3;
inline constexpr int32_t IXE_KEYLEN = 4;
inline constexpr int32_t IXE_ENTRYLEN = 5;
inline constexpr int32_t IXE_FK_TABLE = 6;
inline constexpr int32_t IXE_FK_INDEX = 7;
inline constexpr int32_t IXE_DIRTY = 8;
inline constexpr int32_t IXE_CONSTRAINT = 9;
inline constexpr int32_t IXE_COUNT = 10;  // 3 x parts + 2
inline constexpr int32_t IXE_PARTS = 11;  // offset, length, marker each
inline constexpr int32_t REFERENCE_WORDS = 4;

// Bounds of the work areas: CDITCB holds 1250 words; an entry remembers at
// most 32 packed-decimal parts. A description past either is refused.
inline constexpr int32_t CDITCB_WORDS = CDITCB_BYTES / 4;
inline constexpr int32_t DESC_MAX_DECIMAL_PARTS = 32;

// Statuses.
inline constexpr int32_t KERNEL_NO_THREAD = -18515;
inline constexpr int32_t DESC_UNKNOWN_KIND = -19007;
inline constexpr int32_t DESC_TOO_LARGE = -19078;

// DSLoadTableDesc: writes the description of table open[4] into the calling
// thread's CDITCB, sets open words 2, 5, 6 and 17; *status 0 or an error
// (also in SYS RVEC but for -19040).
void DSLoadTableDesc(int32_t* base, int32_t* status, int32_t* open);
