// Creation of an index from its base table (DKCRX1) and its rebuild
// (DKRCX1): the request blocks and the entry routines.
#pragma once

#include <cstdint>

// DKCRX1 block beyond the table request words (0 mode/status, 2 DID, 4 and 5
// the base table entry and TBL).
constexpr int CRX_INDEX_TYPE = 3;  // 1, 2, 11 or 12
constexpr int CRX_BASE_RECORD_LENGTH = 7;
constexpr int CRX_INDEX_TBL = 8;
constexpr int CRX_KEY_LENGTH = 9;
constexpr int CRX_ENTRY_LENGTH = 10;
constexpr int CRX_METHOD = 11;
constexpr int CRX_PARTS = 12;       // number of key parts n
constexpr int CRX_FIRST_PART = 13;  // n triples: offset in the base record, length, conversion code
constexpr int32_t kMaxKeyParts = 64;

// DKRCX1 (rebuild an index of type 2 or 12) takes the words of DKCRX1 up
// to word 10, and these.
constexpr int RCX_DATA_PAGE_SIZE = 11;   // 0: the default for the entry length
constexpr int RCX_INDEX_PAGE_SIZE = 12;  // 0: the default for the key length
constexpr int RCX_METHOD = 13;
constexpr int RCX_PARTS = 14;
constexpr int RCX_FIRST_PART = 18;

void DKCRX1(int32_t* block);
void DKRCX1(int32_t* block);
