// The replay of a databank's restart set when the databank is opened
// (DKRSD1): work committed while a copy could not take it, applied now; and
// the settlement of the extents it names against the bitmap (DKRSL1).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "dk/background_threads.h"  // BP_LOG_TABLE, the log table's entry

// DKRSD1 request words.
constexpr int RSD_MODE = 0;  // -1 at open, else an order value; result out
constexpr int RSD_ENTRY = 1;
constexpr int RSD_DID = 2;
constexpr int RSD_WORDS = 4;

// Control-area words of the restart.
constexpr int32_t BP_SYSDB_RESTARTED = 99;  // the system databank's restart ran with the log

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

// The restart of the TRANS databank at its open: the committed transactions
// still in the commit set (control word 107) become records of the restart
// sets of the databanks they change, those of prepared distributed
// transactions records of set 167, and the commit set is emptied. The
// result goes to *result (may be null) and is returned; *dids (may be null)
// receives the TBLs of the restart sets that took records.
int32_t DKRST1(int32_t* result, std::vector<int32_t>* dids = nullptr);

// The restart steps of a databank's open after its check (the caller has
// seen that a TRANS databank is open): DKRSL1 for DID 3 and 5 and up (a
// positive answer skips the replay), then DKRSD1. A negative result fails
// the open.
int32_t DKReplayAtOpen(int32_t entry);
// The open of the TRANS databank (its first copy): the commit set (TBL 10)
// is opened into control word 107 and the entry kept in word 100, DKRST1
// runs, and then the restart sets of TRANS, of the system databank and of
// every other open databank that DKRST1 gave records are replayed.
int32_t DKRestartTrans(int32_t entry);
// The TRANS databank leaves service: its commit set is closed and control
// word 107 cleared, so that nothing commits into a freed entry.
void DKForgetCommitSet();
// The rebuild of a TRANS copy (word 1 its entry) from the TRANS databank;
// word 0 the mode in and the result out.
int32_t DKRET1(int32_t* request);
// The replay of the LOG databank's restart set (DKRSD1 for DID 3).
int32_t DKREL1(int32_t* request);
// A committed write-set record that a copy of its databank could not take
// (offline or in error), appended to the databank's restart set (TBL = the
// record's DID) under the commit's order value, owed to every copy: the
// replay finds the usable copies equal already and applies it again
// harmlessly, in order. 0 or the append's negative code.
int32_t DKOweToCopies(std::span<const int32_t> record, int32_t order);
// Whether the TRANS databank holds a table TBL (in the table hash or among
// its root entries), found without the report that an open finding none
// makes: a databank that owes nothing would log one at every open.
bool DKTransHasTable(int32_t tbl);
