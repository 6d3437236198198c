// The record routines of a table: insert (DKINS1, DKIND1 through DKINS0),
// update (DKUPD1), delete (DKDEL1), test (DKCHK1) and empty (DKDRP1). Each
// takes its request block (word 0 the write mode in, the status out; word 4
// the table entry, 5 its TBL, 7 the record length, the record from word 10).
#pragma once

#include <cstdint>

// Statuses beside the kernel's return codes.
constexpr int32_t kStatusDuplicate = 1;  // insert: the key is there
constexpr int32_t kStatusCheck = 4;      // check: the test's answer
constexpr int32_t kStatusNotFound = 5;   // update, delete: no record with that key

int32_t DKINS0(int32_t* block, int32_t copy_found);
void DKINS1(int32_t* block);
void DKIND1(int32_t* block);
void DKUPD1(int32_t* block);
void DKDEL1(int32_t* block);
void DKCHK1(int32_t* block);
void DKDRP1(int32_t* block);
