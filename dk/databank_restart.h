// The replay of a databank's restart set when the databank is opened
// (DKRSD1): work committed while a copy could not take it, applied now; and
// the settlement of the extents it names against the bitmap (DKRSL1).
#pragma once

#include <cstdint>
#include <span>

// DKRSD1 request words.
constexpr int RSD_MODE = 0;  // -1 at open, else an order value; result out
constexpr int RSD_ENTRY = 1;
constexpr int RSD_DID = 2;
constexpr int RSD_WORDS = 4;

// Control-area words of the restart.
constexpr int32_t BP_SYSDB_RESTARTED = 99;  // the system databank's restart ran with the log
constexpr int32_t BP_LOG_TABLE = 104;       // the log table's entry, 0 or less when not open

int32_t DKRSD1(int32_t* request);

// The extent settlement of a databank being opened (DID 3 or 5 and up): the
// pages that inserted rows of its tables of extents name, as its restart
// set still owes them, are marked in use in its bitmap pages. Any failure
// is returned, and fails the open.
int32_t DKRSL1(int32_t* request);

// Appends the record in block words 15 on (length in word 8) to the restart
// set TBL of the TRANS databank, under the mode in word 0; SEQNO -1 owes it
// to every copy, another SEQNO to that copy. The set is created when it is
// not in the table hash, and a section mark written before the record
// unless the record is that mark. Words 2, 4 and 5 are the caller's again
// on return; the status is in word 0.
int32_t DKAppendRestartRecord(std::span<int32_t> block, int32_t tbl, int32_t seqno);
