// Cursors over a table's tree and over the sorted page chain of a bulk load:
// fetch next and previous in key order (DKFET1, DKFEP1), the descent that
// sets a cursor (DKFET0), the reading of a sorted chain (DKFMS1) and the
// read-ahead of the pages a scan needs next (DKReadAhead).
#pragma once

#include <cstdint>

// Cursor block of DKFET1, DKFEP1 and DKFET0.
constexpr int CUR_PAGE = 0;      // out: the cursor's page
constexpr int CUR_POSITION = 1;  // out: byte offset of the record on it
constexpr int CUR_STAMP = 2;     // out: the page's change stamp when the cursor was set
constexpr int CUR_SCAN = 3;      // scan kind for read-ahead (0 none, 1..4)
constexpr int CUR_FORM = 4;      // out: the compression method of the cursor's page + 1
constexpr int CUR_STATUS = 5;    // mode in, status out
constexpr int CUR_TABLE = 9;
constexpr int CUR_TBL = 10;
constexpr int CUR_KEY_LENGTH = 11;
constexpr int CUR_RECORD_LENGTH = 12;
constexpr int CUR_PAGE_SIZE = 13;  // out: page size of the cursor's page
constexpr int CUR_RECORD = 15;     // the key searched from in, the record out

// Fetch modes (cursor word 5).
constexpr int32_t FET_NEXT = 0;        // the record after (before) the one delivered last
constexpr int32_t FET_AFTER_KEY = -1;  // the first record after (before) the key
constexpr int32_t FET_FROM_KEY = 1;    // the first record at or after (before) the key
constexpr int32_t FET_IN_LEAF = 2;     // as 1, but only on the leaf the key leads to
constexpr int32_t FET_AT_KEY = 3;      // as 1, trying the cursor's page first

constexpr int32_t kStatusEnd = 4;  // end (or start) of the table, or an empty table

// Words of a cursor block for records of `length` bytes.
constexpr int32_t CursorBlockWords(int32_t length) {
  return CUR_RECORD + (length + 3) / 4;
}

void DKFET1(int32_t* block);
void DKFEP1(int32_t* block);
// Sets the cursor of `block` on table entry `table` by a descent from the
// top page: forward the first record at or after (inclusive) or after the
// key in the record area, backward the last record at or before or before
// it; `one_leaf` ends at the leaf the key leads to. Returns 0 with the
// record delivered, kStatusEnd, or a negative code.
int32_t DKFET0(int32_t* block, int32_t table, bool forward, bool inclusive, bool one_leaf);

// Sorted chain block of DKFMS1.
constexpr int MS_FIRST = 0;  // first page of the chain, 0: nothing to read
constexpr int MS_PAGE = 1;   // current page, 0: start at the first
constexpr int MS_POSITION = 2;
constexpr int MS_STATUS = 6;
constexpr int MS_TABLE = 10;
constexpr int MS_TBL = 11;
constexpr int MS_RECORD_LENGTH = 13;
constexpr int MS_PAGE_SIZE = 14;
constexpr int MS_RECORD = 16;
constexpr int32_t ChainBlockWords(int32_t length) {
  return MS_RECORD + (length + 3) / 4;
}
void DKFMS1(int32_t* block);

// Asks for the children of the index page `page` (entries of `entry_length`
// bytes, key first) from the entry at byte `position` on, forward or
// backward, as the scan kind and the cursor's mode allow.
void DKReadAhead(int32_t databank, const uint8_t* page, int32_t position, int32_t entry_length,
                 int32_t key_length, int32_t child_size, bool forward, int32_t scan_kind,
                 int32_t mode);
