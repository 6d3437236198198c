// Entries on the data and index pages of a table's tree: the words of the
// tree access block that a walk down the tree carries, the layout of pages of
// fixed-length entries, the search by halving steps, and the small moves of
// entries within and between pages. Every length and offset read from a page
// is checked against the page before it is used.
#pragma once

#include <cstdint>

#include "dk/bufferpool.h"
#include "dk/databank_format.h"
#include "platform/bytes.h"

// Page header words of data and index pages (after word 0).
constexpr int32_t PAGE_ENTRY_LENGTH = 1;  // entry length (directory page: record length)
constexpr int32_t PAGE_USED_END = 2;      // first byte after the last entry
constexpr int32_t kPageHeaderBytes = 16;
constexpr int32_t kChildBytes = 4;  // child page number after an index entry's key

// Tree access block: a page request block continued by the fields of the walk.
constexpr int TAB_DATABANK = REQ_DATABANK;
constexpr int TAB_PAGE = REQ_PAGE;
constexpr int TAB_PAGE_SIZE = REQ_PAGE_SIZE;  // page size of the level worked on
constexpr int TAB_RC = REQ_RC;
constexpr int TAB_OS_ERROR = REQ_OS_ERROR;
constexpr int TAB_KEY_LENGTH = 8;
constexpr int TAB_ENTRY_LENGTH = 9;  // entry length found on the page last searched
constexpr int TAB_POSITION = 10;     // byte offset, or entry number on a directory page
constexpr int TAB_USED_END = 11;     // used end of the page last searched
constexpr int TAB_ERROR_PAGE = 12;   // page number kept for error reports
constexpr int TAB_ROOT_RECORD = 13;  // area word of the root entry's level count
constexpr int TAB_LEVEL = 14;        // level of the page worked on (1 = top page)
constexpr int TAB_LEVELS = 15;
constexpr int TAB_NEW_LENGTH = 16;  // length of the new entry
constexpr int TAB_INNER_SIZE = 17;
constexpr int TAB_LEAF_SIZE = 18;
constexpr int TAB_WRITE_MODE = 19;   // a TSS (> 0), -2 write at once, else neither
constexpr int TAB_ROOT_BUFFER = 20;  // the held root page's buffer while level 1 is worked on
constexpr int TAB_ROOT_PAGE = 21;
constexpr int TAB_METHOD = 22;         // compression method (0, 1 or 2)
constexpr int TAB_RECORD_LENGTH = 23;  // the table's (plain) record length
constexpr int TAB_WORDS = 24;

// Unsigned three-way comparison of two keys of `length` bytes: -1, 0, +1.
int CompareKeys(const uint8_t* a, const uint8_t* b, int32_t length);

// 32-bit child page number stored after an index entry's key.
int32_t LoadChild(const uint8_t* entry_end);
void StoreChild(uint8_t* entry_end, int32_t page);

// A page of fixed-length entries is sound for entry length `length` (0: any
// length of at least `key_length`) when its entries lie inside the page and
// fill it from byte 16 to its used end in whole entries.
bool FixedPageSound(const uint8_t* page, int32_t page_size, int32_t length, int32_t key_length);
// The same and, further, keys strictly ascending.
bool FixedPageOrdered(const uint8_t* page, int32_t page_size, int32_t length, int32_t key_length);

// Searches a page of fixed-length entries for the first K bytes of `key`.
// Returns the entry length when found (word 10 the entry's offset), 0 when
// not (word 10 the offset the key would take), -1 for a page whose entry
// length is below 1 or K, or whose used end does not fit the page.
int32_t DKSearchFixed(int32_t* tab, const uint8_t* key, const uint8_t* page);

// Moves on pages of fixed-length entries; the caller has checked the room.
void InsertFixedEntry(uint8_t* page, int32_t position, const uint8_t* entry);
void RemoveFixedEntry(uint8_t* page, int32_t position);
// Moves the last `count` entries of `from` to the front of `to`, or the
// first `count` entries of `from` to the end of `to`.
void MoveLastEntries(uint8_t* from, uint8_t* to, int32_t count);
void MoveFirstEntries(uint8_t* from, uint8_t* to, int32_t count);
// Read on every probe of a walk, so inline rather than through PageWord.
inline int32_t UsedEnd(const uint8_t* page) {
  return static_cast<int32_t>(load_le32(page + 4 * PAGE_USED_END));
}
inline int32_t EntryLength(const uint8_t* page) {
  return static_cast<int32_t>(load_le32(page + 4 * PAGE_ENTRY_LENGTH));
}

// Directory pages (leaves of a table with compression): compressed records
// back to back from byte 16 to the used end; the last page word holds their
// count N, the word before it entry 1's offset, and so on downwards.
int32_t DirCount(const uint8_t* page, int32_t page_size);
int32_t DirOffset(const uint8_t* page, int32_t page_size, int32_t entry);
// The length of entry `entry` (1..N): up to the next entry's offset, the
// last one up to the used end.
int32_t DirLength(const uint8_t* page, int32_t page_size, int32_t entry);
// Used space: entries, directory and count word.
inline int32_t DirUsed(const uint8_t* page, int32_t page_size) {
  return UsedEnd(page) + 4 * (DirCount(page, page_size) + 1);
}
// A directory page is sound for record length `length` when its count,
// offsets and used end lie inside it, entry 1 at byte 16, offsets ascending.
bool DirPageSound(const uint8_t* page, int32_t page_size, int32_t length);
// Formats an empty directory page.
void DirFormat(uint8_t* page, int32_t page_size, int32_t length);
// Searches a directory page by entry number under compression `method`:
// returns the record length when found (word 10 the entry), 0 when not
// (word 10 the number the key would take), -1 for a page that is not sound
// or an entry whose compressed key cannot be read.
int32_t DKSearchDir(int32_t* tab, const uint8_t* key, const uint8_t* page);
// Moves on directory pages; the caller has checked the room.
void DirInsert(uint8_t* page, int32_t page_size, int32_t entry, const uint8_t* bytes,
               int32_t length);
void DirRemove(uint8_t* page, int32_t page_size, int32_t entry);
void DirReplace(uint8_t* page, int32_t page_size, int32_t entry, const uint8_t* bytes,
                int32_t length);
