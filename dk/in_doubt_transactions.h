// Transactions prepared for a distributed commit: their write sets kept in
// set 167 of the TRANS databank until the outcome comes, the transactions
// re-created in doubt when the databanks open again (DKRTC1), the list of
// them (DKEPT1, code 57 through DKEXE2) and their end by commit or abort.
// See dk/README.md, "Transactions".
#pragma once

#include <cstdint>

// The set of prepared write sets: TBL 167 in the TRANS databank (DID 2), of
// the form of a restart set. Each prepared transaction is one group: its
// change records, then its header, each carrying the group number (the
// prepare number) in word 1.
constexpr int32_t kPreparedSetTbl = 167;
// Header words beyond those of every write set: the kind of a group (word
// 2) is 6 while undecided and 9 once decided; word 6 (WSH_START) the start
// number of the transaction; word 14 the length in bytes of its distributed
// transaction identifier, whose bytes follow the word that ends the
// databank list.
constexpr int32_t kKindPrepared = 6;
constexpr int32_t kKindDecided = 9;
constexpr int32_t WSH_IDENTIFIER_LENGTH = 14;
constexpr int32_t kMaxIdentifierBytes = 256;

// DKRTC1 request: word 0 the mode (-1 at open), result out; word 1 the
// databank entry being opened; word 2 its DID.
constexpr int RTC_MODE = 0;
constexpr int RTC_ENTRY = 1;
constexpr int RTC_DID = 2;
constexpr int RTC_WORDS = 3;

// DKEPT1 request; the data area (the second argument of DKEXE2) takes the
// identifier and must hold kMaxIdentifierBytes bytes.
constexpr int EPT_STATUS = 0;             // in: not 0 starts the list; out: 0 one listed, 1 done
constexpr int EPT_START = 2;              // out: the transaction's start number (its header's)
constexpr int EPT_TSS = 3;                // out: its TSS entry, for DKETR1
constexpr int EPT_IDENTIFIER_LENGTH = 4;  // out: bytes of the identifier in the area
constexpr int EPT_LAST = 5;               // the walk: the start number listed last (words 5..8)
constexpr int EPT_TABLES = 9;             // out: the first block of its tables (0: none)
constexpr int EPT_TABLE_COUNT = 10;
constexpr int EPT_WORDS = 11;
// A block of tables in the kernel word storage: word 0 the next block (0
// at the end), word 1 the tables in it, then a DID and a TBL per table.
constexpr int32_t TBLK_NEXT = 0, TBLK_COUNT = 1, TBLK_FIRST = 2;
constexpr int32_t kTablesPerBlock = 10;
constexpr int32_t kTableBlockWords = TBLK_FIRST + 2 * kTablesPerBlock;

// At the prepare of a transaction (end mode -1): its write set (a work
// table) is appended to set 167 as one group and written; TSS words 9, 10
// and 11, 12 receive the positions there of its first record and header,
// and the entry is in state 15 (waiting for the outcome).
int32_t DKKeepPreparedWriteSet(int32_t write_set, int32_t tss);
// Where a prepared transaction's group lies in set 167 (its header's
// place) and the numbers that name it: the group number (its prepare
// number) and its start number.
struct PreparedPlace {
  int32_t page = 0, position = 0, group = 0, start = 0;
};
PreparedPlace DKPreparedPlaceOf(int32_t tss);
// Marks the group decided (kind 9) on the TRANS databank and its usable
// copies, written at once: the next open does not re-create it. Once no
// transaction but `deciding` (0: none) waits for its outcome, the set is
// emptied.
int32_t DKForgetPreparedWriteSet(const PreparedPlace& kept, int32_t deciding);
// The commit of a prepared transaction carries its start number in its
// header in the commit set (WSH_START; 0 in every other commit's header).
// Applying it, and replaying it at a restart, marks its group decided here,
// found by its group and start numbers: 0 when marked, when already
// decided, or when set 167 no longer holds it. A decision so never depends
// on the deciding end's own mark, which a crash or a failed write may
// prevent after the commit is on disk.
int32_t DKMarkPreparedDecided(int32_t group, int32_t start);
// The end of a transaction re-created in doubt (state 16): an abort marks
// its group decided and gives the entry back; a commit puts the group's
// records into the commit set as any commit does, then marks it decided.
// *released tells that the entry went back to the free list.
int32_t DKEndInDoubt(int32_t tss, int32_t end_mode, bool* released);

// The step of a databank's open after its own restart: the undecided groups
// of set 167 re-create their transactions in doubt (at the open of the
// TRANS databank), and their changes of this databank's tables go into the
// transaction cache. Result in word 0 and returned.
int32_t DKRTC1(int32_t* request);
// Code 57: the next transaction in doubt (by ascending start number).
void DKEPT1(int32_t* block, void* area);
