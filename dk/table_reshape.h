// Reshaping a table into a new record format: DKACT1 inserts bytes into
// every record, DKDCT1 removes byte ranges (and may number the records);
// both rebuild the tree through the bulk load.
#pragma once

#include <cstdint>

// Request block words beyond the table request words (0 mode/status, 3 the
// new type code, 4 and 5 the table entry and TBL, 7 the old record length).
constexpr int RS_OLD_KEY = 6;
constexpr int RS_OFFSET = 8;  // DKACT1: where the bytes go in
constexpr int RS_NUMBER = 8;  // DKDCT1: > 0 puts a running number in front as the key
constexpr int RS_NEW_KEY = 9;
constexpr int RS_NEW_LENGTH = 10;
constexpr int RS_DATA_PAGE_SIZE = 11;   // 0: the default for the new record length
constexpr int RS_INDEX_PAGE_SIZE = 12;  // 0: the default for the new key length
constexpr int RS_BYTES = 13;            // DKACT1: the bytes to insert
constexpr int RS_FIRST_OFFSET = 13;     // DKDCT1: the byte ranges to remove (length 0: none)
constexpr int RS_FIRST_LENGTH = 14;
constexpr int RS_SECOND_OFFSET = 15;
constexpr int RS_SECOND_LENGTH = 16;
constexpr int RS_WORDS = 17;

void DKACT1(int32_t* block);
void DKDCT1(int32_t* block);
