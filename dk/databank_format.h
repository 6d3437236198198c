// The on-disk layout of a databank file: units of 2048 bytes, pages of 1, 8
// or 32 units, a bitmap page every 16256 units, the header (root) page at unit
// 1 and restore directory pages. These routines format and change one page
// image in memory; words are little-endian on disk and go through the byte
// helpers.
#pragma once

#include <cstdint>

constexpr int32_t kUnitBytes = 2048;
constexpr int32_t kBitmapChunkUnits = 16256;  // units governed by one bitmap page
constexpr int32_t kBitmapFirstByte = 16;
constexpr int32_t kHeaderUnit = 1;

// Words common to every page (word 0 has no meaning on disk).
constexpr int32_t PAGE_KIND = 1;
constexpr int32_t PAGE_LIST_KIND = -40;  // directory page of a large object

// Bitmap page words.
constexpr int32_t BMP_FREE = 1;  // free units of the chunk
constexpr int32_t BMP_HINT = 2;  // lowest bit that may be free
constexpr int32_t BMP_NEXT = 3;  // next bitmap page's unit, or the file's last unit

// Header page words.
constexpr int32_t HDR_KIND = 1;  // ROOT_PAGE_KIND
constexpr int32_t HDR_NEXT_ROOT = 3;
constexpr int32_t HDR_RESTORE_DIRECTORY = 4;
constexpr int32_t HDR_CREATOR_VERSION = 5;
constexpr int32_t HDR_FORMAT = 7;
constexpr int32_t HDR_SYSTEM_IDENTITY = 8;
constexpr int32_t HDR_DID = 9;
constexpr int32_t HDR_CLOSE_MARK = 10;
constexpr int32_t HDR_RESTORE_TIME = 11;
constexpr int32_t HDR_SEQNO = 12;
constexpr int32_t HDR_TABLE_ROOTS = 14;
constexpr int32_t ROOT_PAGE_KIND = 8;
constexpr int32_t CREATOR_VERSION = 913;
constexpr int32_t FORMAT_VERSION = 9;
constexpr int32_t CLOSE_MARK_OPEN = 0;
constexpr int32_t CLOSE_MARK_CLOSED = 1;
constexpr int32_t CLOSE_MARK_CHECK_PENDING = -2;

// Restore directory page: 127 slots of 4 words from word 4; word 3 chains.
constexpr int32_t RDIR_NEXT = 3;
constexpr int32_t RDIR_FIRST_SLOT = 4;
constexpr int32_t RDIR_SLOTS = 127;
constexpr int32_t RDIR_SLOT_WORDS = 4;
constexpr int32_t RDIR_DID = 0, RDIR_TIME = 1, RDIR_SEQUENCE = 2, RDIR_STATE = 3;

constexpr int32_t kCorruptBitmap = -49;

int32_t PageWord(const uint8_t* page, int32_t word);
void SetPageWord(uint8_t* page, int32_t word, int32_t value);

// The unit of the bitmap page that governs `unit`.
inline int32_t BitmapUnitOf(int32_t unit) {
  return unit - unit % kBitmapChunkUnits;
}

// Formats the 2048-byte bitmap page of the chunk at `unit`: all units free but
// the page itself (and the header page in the first chunk); `next` is the
// next bitmap page's unit or, for the last chunk, the file's last unit.
void FormatBitmapPage(uint8_t* page, int32_t unit, int32_t next);
// Formats the header page of a new file.
void FormatHeaderPage(uint8_t* page, int32_t system_identity, int32_t did, int32_t seqno);

// Whether bit `bit` (unit B + bit of the chunk) is in use.
bool BitmapBit(const uint8_t* page, int32_t bit);
// Takes the first free page of `units` units (1, 8 or 32, aligned to its
// size) at or after the hint, inside the chunk and the file; returns its bit,
// -1 when there is none, or -49 when the page's counts are corrupt.
int32_t BitmapAllocate(uint8_t* page, int32_t unit, int32_t units);
// Marks the page at `bit` in use (-49 when one of its bits already is) or
// free (-49 when one of its bits already is free). On -49 the page is not
// changed.
int32_t BitmapMark(uint8_t* page, int32_t bit, int32_t units);
int32_t BitmapFree(uint8_t* page, int32_t bit, int32_t units);

// The restore directory slot of `did` on a directory page, -1 when none; a
// `did` of 0 finds the first free slot.
int32_t RestoreSlotOf(const uint8_t* page, int32_t did);
