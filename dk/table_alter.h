// Rewriting a table's records through column conversions into a new format
// (DKALR1): the request block, whose field list record access builds, and
// the entry routine.
#pragma once

#include <cstdint>

// Request block beyond the table request words (0 mode/status, 4 and 5 the
// table entry and TBL, 6 and 7 the old key and record lengths).
constexpr int ALR_CONVERSION = 8;   // 11 none, 9 fixed parts from the image first, else key zeroed
constexpr int ALR_TOTAL_WORDS = 9;  // words of the whole block, field list and image included
constexpr int ALR_HEADER_WORDS = 10;  // where the field list starts (30)
constexpr int ALR_STEP_WORDS = 11;    // words of a field-list step (14)
constexpr int ALR_IMAGE = 12;         // word where the new record's image starts, 0: none
constexpr int ALR_TYPE = 14;          // new type code (mod 100; -1 keeps the kind)
constexpr int ALR_TARGET = 15;        // second table entry receiving the records
constexpr int ALR_TARGET_TBL = 16;
constexpr int ALR_NEW_KEY = 17;
constexpr int ALR_NEW_LENGTH = 18;
constexpr int ALR_DATA_PAGE_SIZE = 19;   // 0: the default for the new record length
constexpr int ALR_INDEX_PAGE_SIZE = 20;  // 0: the default for the new key length
constexpr int ALR_HEADER = 30;
constexpr int32_t kAlterMaxWords = 4000;
constexpr int32_t kAlterCopyNone = 11;
constexpr int32_t kAlterCopyImage = 9;
// A generated key: DECIMAL(20,0), the base's ten digits then the counter's.
constexpr int32_t kGeneratedKeyDigits = 20;

void DKALR1(int32_t* block);
