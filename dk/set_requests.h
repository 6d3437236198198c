// The set requests by function code: each checks the table entry, walks the
// table's entries over its databank and the dependent (shadow) databanks and
// runs the set routine on each while that databank is marked busy; and the
// in-place update of a set record.
#pragma once

#include <cstdint>
#include <span>

// Request-level routines (block words as the set routines read them). Each
// returns its status and leaves it in word 0.
int32_t DKAPS1(std::span<int32_t> block);  // 6: append on every databank
// 19: removes on every databank the records of the objects listed from word
// 30 (word 29 their count) up to the mark in words 25-28 (DKDeleteSetRecords);
// the status is the last negative one, else the first count not 0.
int32_t DKDDS1(std::span<int32_t> block);
int32_t DKDRS1(std::span<int32_t> block);  // 23: empty the set on every databank
int32_t DKROL1(std::span<int32_t> block);  // 50: roll back to the mark in word 0
int32_t DKGNS1(std::span<int32_t> block);  // 34: next record, the given entry alone
int32_t DKGPS1(std::span<int32_t> block);  // 35: previous record, the given entry alone
int32_t DKUPS1(std::span<int32_t> block);  // update a record in place on every databank
int32_t DKUPS0(std::span<int32_t> block);

// Update in place of one set record in one databank: word 6 the data page
// (0: the set's last record), 7 the page word of the record's first length
// word, 8 the words to replace, the new words from word 15.
int32_t DKUOS0(std::span<int32_t> block);

// The words a block sent by function code must hold: the record area of the
// largest record of the largest page size.
int32_t SetRequestBlockWords();

// Slot-table entries of the function codes.
void DKAPS1Entry(int32_t* block, void* argument);
void DKDDS1Entry(int32_t* block, void* argument);
void DKDRS1Entry(int32_t* block, void* argument);
void DKROL1Entry(int32_t* block, void* argument);
void DKGNS1Entry(int32_t* block, void* argument);
void DKGPS1Entry(int32_t* block, void* argument);
