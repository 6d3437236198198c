// The kernel's own table 5 in the TRANS databank (128-byte keys, 148-byte
// records), kept through DKMHT1 (function code 63). See dk/README.md,
// "Transactions".
#pragma once

#include <cstdint>

#include "dk/table_cursor.h"

// DKMHT1 block: a cursor block (table_cursor.h) whose word 5 holds the
// sub-function in and the result out; the record from word 15 (its key the
// first 128 bytes), so the block has at least MHT_WORDS words. Inserts and
// deletes use the record request that starts at word 5.
constexpr int MHT_FUNCTION = CUR_STATUS;
constexpr int MHT_WORDS = CUR_RECORD + 148 / 4;
constexpr int32_t MHT_FIRST = 10;   // clears the key and fetches the first record
constexpr int32_t MHT_AFTER = 11;   // fetches the first record after the key given
constexpr int32_t MHT_INSERT = 12;  // inserts on the table and each copy
constexpr int32_t MHT_DELETE = 13;  // deletes from the table and each copy

void DKMHT1(int32_t* block);
void DKMHT1Entry(int32_t* block, void* argument);
