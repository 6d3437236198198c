// The databank kernel's background threads: each runs DKSSD1 for its whole
// life. The first to register is the master: it waits for work, scans the
// transaction states, applies committed write sets to the tables (DKPTR1)
// and secures them; the others wait in the slave queue.
#pragma once

#include <cstdint>
#include <span>

// Slot words beyond the layout's (SWA_* in control_words.h).
constexpr int32_t SWA_TRANS = 1;     // prepare number of the transaction applied
constexpr int32_t SWA_COUNT = 2;     // transactions applied by this thread
constexpr int32_t SWA_PARALLEL = 3;  // its parallel count
constexpr int32_t SWA_SEQNO = 4;     // sequence number of the work unit
constexpr int32_t SWA_PHASE = 5;     // 18 apply table operations, 20 checkpoint
constexpr int32_t SWA_APPLYING = 6;  // mark of the row change the slot applies, 0 none

// Slot states.
constexpr int32_t SLOT_UNUSED = 0;
constexpr int32_t SLOT_PREPARING = 1;
constexpr int32_t SLOT_INACTIVE = 2;
constexpr int32_t SLOT_INACTIVE_SLAVE = 3;
constexpr int32_t SLOT_ACTIVE_SOON = 4;
constexpr int32_t SLOT_ACTIVE = 5;
constexpr int32_t SLOT_ACTIVE_SLAVE = 6;
constexpr int32_t SLOT_QUEUES = 7;
constexpr int32_t SLOT_IO = 8;
constexpr int32_t SLOT_CHECKING = 9;

// Words of the control area the threads keep.
constexpr int32_t BP_MASTER_SLOT = 150;
constexpr int32_t BP_SLAVE_QUEUE = 151;
constexpr int32_t BP_LAST_UNIT = 152;
// The unit whose records are being read (its TSS; 0 when reading is over)
// and whether one of its records went to the log. Area words 119 to 122
// hold its commit number, the read mode and the position reached.
constexpr int32_t BP_UNIT_TSS = 196;
constexpr int32_t BP_UNIT_LOGGED = 201;
// TSS word: the first failure of applying the transaction's records.
constexpr int32_t TSS_APPLIED_RESULT = 18;

// The thread body; returns when the kernel leaves the up state. The caller
// has attached the thread to the ENQ/DEQ area.
void DKSSD1();

// Whether work units overlap: the next unit read and applied while the
// last one's records are still applied and it is secured, ordered by the
// slots' wait-for pairs. On unless turned off (tests that run units one
// at a time).
void DKOverlapUnits(bool on);

// The master's scan of the transaction states: stores the low limits,
// frees secured entries every transaction has seen, and answers the
// committed transaction to apply next (0 when none): one waiting for a
// checkpoint first, within one state the lowest commit number. Only the
// master runs it (the limits are its to write).
int32_t DKScanTransactionStates();

// The records of a work unit: the unit's thread opens the reading of the
// transaction's records, then it and each slave woken to help take records
// in turn and apply them (DKTakeUnitRecords returns once the header is
// read); the close waits until every record taken is applied and answers
// the first failure. A row change waits only for earlier records of its
// row; every other record is applied alone.
// With `gives_master_up` the reader of the header gives the master's place
// up, so that the next unit may start while this one's last records are
// applied and it is secured.
void DKOpenUnitReading(int32_t tss, bool gives_master_up = false);
void DKTakeUnitRecords(int32_t slot);
int32_t DKCloseUnitReading(int32_t slot, int32_t tss);
// The mark of a row change (insert, update, delete): its first table entry
// and key, hashed into a positive word. 0 for every other record and for a
// change whose table or root entry cannot be read, which is then applied
// alone (and reports its own fault).
int32_t DKRowMark(std::span<const int32_t> record);

// Applies one committed write-set record (the request it carries, from its
// word 0) under the commit number `commit`. Records whose routines are not
// part of the kernel answer the invalid-code result.
int32_t DKPTR1(std::span<int32_t> record, int32_t commit);

// The log table (a set, TBL 8 on the LOG databank) that takes a copy of the
// records of logged databanks; 0 or less when it is not open.
constexpr int32_t BP_LOG_TABLE = 104;
// Before a record is applied (and for the header that ends a transaction's
// records): a record of a databank of kind 3 is appended to the log table
// under the commit number; the header too when `closes_logged` (a record of
// its transaction went to the log), so that the log's records of a
// transaction end with their header. 1 when appended, 0 when not, or the
// append's code.
int32_t DKPTL1(std::span<const int32_t> record, int32_t commit, bool closes_logged);

// The background check of a databank's data pages (the databank
// verification installs it): called with a databank entry in check state
// 17; it leaves the state it ends in.
using DKBackgroundCheck = int32_t (*)(int32_t databank);
void DKInstallBackgroundCheck(DKBackgroundCheck check);
// Run by a master that found nothing to apply: while fewer threads than
// area word 168 are checking, the databanks in check state 16 are checked
// one at a time (the first found each pass), a further pass only while
// area word 171 counts refused requests, each pass taking one; at the limit
// word 171 grows instead. Without an installed check, -86 is reported
// naming DKVDB0 and the databank stays in state 16.
void DKCheckWaitingDatabanks();
