// Bulk load, sort and merge of a table without write-set merge (LOA, MRG,
// SRT), and the load path of a bulk-loading user's inserts (DUInsertLoad)
// with its load control block. See du/README.md ("Bulk load").
#pragma once

#include <cstdint>

// Record block word 13: the handle of the table's run, 0 when no load is
// open. Word 1 after a step: 20 a load is open, 21 merged, 0 done.
inline constexpr int32_t DUREC_LOAD_HANDLE = 13;
inline constexpr int32_t DU_LOAD_OPEN = 20;
inline constexpr int32_t DU_LOAD_MERGED = 21;
inline constexpr int32_t DU_LOAD_WITH_MERGE = -16192;

// The load request of a run, in the kernel's load block layout; the
// table's lies over its record block from word 13 (the handle), whose
// status word 19, identity words 23-26 and row from word 29 are the
// request's own.
inline constexpr int32_t LQ_CONTROL = 0;
inline constexpr int32_t LQ_DUPLICATES = 2;  // out of the end of input and the merge
inline constexpr int32_t LQ_STATUS = 6;      // mode in: 0 a record, 1 end of input; -2 build
inline constexpr int32_t LQ_TABLE = 10;
inline constexpr int32_t LQ_TBL = 11;
inline constexpr int32_t LQ_KEY_LENGTH = 12;
inline constexpr int32_t LQ_RECORD_LENGTH = 13;
inline constexpr int32_t LQ_PAGE_SIZE = 14;
inline constexpr int32_t LQ_RECORD = 16;
inline constexpr int32_t LQ_END_OF_INPUT = 1;
inline constexpr int32_t LQ_BUILD = -2;

// Kernel function codes of the runs.
inline constexpr int32_t DK_BIN1 = 7, DK_LOA1 = 40, DK_MRG1 = 42;

// One kernel step (DKLOA1, DKMRG1, DKBIN1) on a run with `mode`: its status,
// kernel codes mapped.
int32_t DULoadStep(int32_t code, int32_t* run, int32_t mode);

// LOA: the row of the block into the table's run, its index keys into the
// index runs; the first LOA of a load moves the stored rows into the runs.
void DULoadRows(int32_t* base, int32_t* record);
// MRG: every run of the table merged (nothing without a load).
void DUMergeRows(int32_t* base, int32_t* record);
// SRT: every run closed, merged and built into the stored table and indexes.
void DUSortRows(int32_t* base, int32_t* record);
// Closes, merges and builds every run of the table (after a failure, or for
// a DRP during a load): the table keeps the rows of the runs, every SORTID
// and word 13 become 0, word 1 becomes 0; word 19 is kept.
void DUEndLoad(int32_t* base, int32_t* record);

namespace du {
// Deletes the stored record of the object of `block` (a record block, or a
// request block shaped like one) that the key of `bytes` leads, when it is
// `bytes` itself (`length` bytes).
void TakeOutRecord(int32_t* block, const uint8_t* bytes, int32_t length);
}  // namespace du

// The load control block (USR LOADCB) of a user who bulk-loads a table.
// Header, n + 3 words: NEXT, the index count n, the table entry, then the n
// index entries in the table's index chain order.
inline constexpr int32_t LCB_INDEX_COUNT = 1;
inline constexpr int32_t LCB_TABLE_ENTRY = 2;
inline constexpr int32_t LCB_FIRST_INDEX = 3;
// Table entry, 42 words and two key rooms: kind 3, the table's TNAME, its
// LID and DCB, a status word, the TCB, then the insert request head.
inline constexpr int32_t LCBT_KIND = 0;
inline constexpr int32_t LCBT_TNAME = 1;
inline constexpr int32_t LCBT_LID = 2;
inline constexpr int32_t LCBT_DCB = 3;
inline constexpr int32_t LCBT_STATUS = 4;
inline constexpr int32_t LCBT_TCB = 5;
inline constexpr int32_t LCBT_REQUEST = 6;
inline constexpr int32_t LCBT_WORDS = 42;
// Index entry, 11 words and a key room: the ICB, then the request head.
inline constexpr int32_t LCBI_ICB = 0;
inline constexpr int32_t LCBI_REQUEST = 1;
inline constexpr int32_t LCBI_WORDS = 11;
// A request head: {status, transaction, LID, TYPE, TBL (the load's own
// table), TNAME, KEYLEN, RECLEN, handle, cursor order}, the words 19-28 of a
// record block.
inline constexpr int32_t LCB_REQUEST_WORDS = 10;

// Whether the user bulk-loads the table of `record` (LOADCB set and the
// table held in LOCKED_TCB).
bool DULoadingTable(int32_t* base, int32_t usr, const int32_t* record);
// The insert of a bulk-loading user: the checks, then DKINS1 of the row and
// of each index key on the load's own tables; 0, 1 duplicate, or an error.
void DUInsertLoad(int32_t* base, int32_t* record, int32_t usr);
// Builds the user's load control block for the table `tcb`; `tables` holds
// the load's own table numbers (TBL), the table's first, then one per index
// in chain order. 0, -11002, or -19077 (a load is in progress).
int32_t DUNewLoadBlock(int32_t* base, int32_t usr, int32_t tcb, const int32_t* tables);
// Frees the user's load control block; LOADCB becomes 0.
void DUFreeLoadBlock(int32_t* base, int32_t usr);
