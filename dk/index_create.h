// Creation of an index from its base table (DKCRX1): the request block and
// the entry routine.
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

void DKCRX1(int32_t* block);
