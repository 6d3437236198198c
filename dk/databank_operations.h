// Databank operations beyond the file format: opening a databank for use
// (DKOPD1), closing it (DKCLD1), asking its size (DKSIZ1), giving the free
// space at the end of its file back to the file system (DKTDB1) and copying
// its file (DKCOP1).
#pragma once

#include <cstdint>

// DKCLD1, DKSIZ1 and DKTDB1 request words (DKOPD1 takes those of DKCRD1).
constexpr int CLD_MODE = 0;   // mode in, result out
constexpr int CLD_ENTRY = 1;  // the databank entry when CLD_DID is -1
constexpr int CLD_DID = 2;
constexpr int CLD_SEQNO = 3;  // negative: every copy of the DID
constexpr int SIZ_DID = 1;
constexpr int SIZ_SEQNO = 2;    // -1: the first copy
constexpr int SIZ_IN_USE = 3;   // units in use
constexpr int SIZ_UNITS = 4;    // file size in units
constexpr int SIZ_HIGHEST = 5;  // highest unit in use
constexpr int SIZ_WORDS = 6;
constexpr int TDB_DID = 2;
constexpr int TDB_SEQNO = 3;
constexpr int TDB_WORDS = 4;
// DKCOP1: mode, then the source's entry, DID and SEQNO, the target's.
constexpr int COP_SOURCE = 1;
constexpr int COP_TARGET = 4;
constexpr int COP_WORDS = 7;

// Control-area word naming the system databank's entry once it is open.
constexpr int BP_SYSDB_ENTRY = 98;

int32_t DKOPD1(int32_t* request);
int32_t DKCLD1(int32_t* request);
int32_t DKSIZ1(int32_t* request);
int32_t DKTDB1(int32_t* request);
// Copies a databank's file, up to its last unit, over another's (a copy of
// the same databank being made).
int32_t DKCOP1(int32_t* request);

// The highest bit set in a bitmap page's map, -1 when none is.
int32_t LastUsedBit(const uint8_t* bitmap_page);
