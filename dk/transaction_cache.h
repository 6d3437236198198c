// The transaction cache: for a table that has one, every change a transaction
// makes to a row is also a record of a private cache table, keyed by the
// row's key and a suffix naming the transaction, so that the transaction
// reads its own changes and the commit check finds the changes of others.
// See dk/README.md, "Transaction cache".
#pragma once

#include <cstdint>
#include <span>
#include <vector>

// ---- Cache suffix: 20 bytes after the row's key, integers big-endian ----
constexpr int32_t kSuffixBytes = 20;
constexpr int32_t kSuffixKeyBytes = 12;  // start, sequence and kind belong to the key
constexpr int32_t kSuffixStart = 0;      // start number, complemented
constexpr int32_t kSuffixSequence = 4;   // caller's sequence word, complemented
constexpr int32_t kSuffixKind = 8;       // bytes 8..11: the change's order and kind
constexpr int32_t kSuffixPosition = 12;  // request words 1 and 2, as given
// Bytes 8..10 hold the change's order among the transaction's changes of the
// row under one sequence word (0 for the first), complemented so that the
// later change sorts first; byte 11 holds the kind. A search key that puts 0
// (255) in bytes 8..11 sorts before (after) every change of its sequence.
constexpr int32_t kMaxChangeOrder = 0xFFFFFF;

// Kinds of change in a cache record; 60 marks an insert deleted again.
constexpr int32_t kChangeInsert = 1;
constexpr int32_t kChangeUpdate = 2;
constexpr int32_t kChangeDelete = 4;
constexpr int32_t kChangeMarker = 60;

// ---- Row requests: DKINT1 (39), DKDET1 (21), DKCHT1 (11), DKFNT1 (28), DKFPT1 (29) ----
constexpr int TC_STAMP = 0;     // DKFNT1 out: commits secured on disk
constexpr int TC_POSITION = 1;  // words 1 and 2: the change's place in the write set
constexpr int TC_OWN_SEQUENCE = 3;
constexpr int TC_TSS = 5;
constexpr int TC_MODE = 6;        // mode or kind of change in, answer out
constexpr int TC_DID = 8;         // the DID of the table's databank
constexpr int TC_TABLE_KIND = 9;  // the table's kind as the caller knows it
constexpr int TC_TABLE = 10;
constexpr int TC_TBL = 11;
constexpr int TC_KEY_LENGTH = 12;
constexpr int TC_RECORD_LENGTH = 13;
constexpr int TC_SEQUENCE = 15;
constexpr int TC_ROW = 16;
// DKDET1 of a delete of a row that refers to a large object: the run of the
// object's pages (row bytes 20..35: first page, a carried word, page size,
// pages) and the applied mark (row bytes 40..43).
constexpr int TC_LOB_RUN = 21;
constexpr int TC_LOB_MARK = 26;
constexpr int32_t TcRequestWords(int32_t record_length) {
  return TC_ROW + (record_length + 3) / 4 + 1;
}

// ---- Cache state of a row: DKCCS1 (9) ----
constexpr int CCS_ANSWER = 0;
constexpr int CCS_COUNT = 8;
constexpr int CCS_TSS = 14;
constexpr int CCS_MODE = 15;
constexpr int CCS_SUBKIND = 18;
constexpr int CCS_TABLE = 19;
constexpr int CCS_TBL = 20;
constexpr int CCS_KEY_LENGTH = 21;
constexpr int CCS_SEQUENCE = 24;
constexpr int CCS_ROW = 25;

// ---- Changes against the write set: DKAFC1 (5) and DKRCM1 (48) ----
// The request is a set block over the transaction's write set (words 4 and
// 5, position 6 and 7) whose record area holds a change record: DKAFC1's is
// the change about to be appended, DKRCM1 reads the write set into it.
constexpr int AFC_ANSWER = 0;  // DKRCM1: the mark number in
constexpr int AFC_TSS = 14;
constexpr int AFC_MODE = 15;  // the change record's code: 1, 2 or 4 in, the new kind out
constexpr int AFC_TABLE = 19;
constexpr int AFC_TBL = 20;
constexpr int AFC_KEY_LENGTH = 21;
constexpr int AFC_RECORD_LENGTH = 22;
constexpr int AFC_BEFORE_LENGTH = 23;
constexpr int AFC_SEQUENCE = 24;
constexpr int AFC_ROW = 25;
// Change record words (record area word k is set block word 15 + k).
constexpr int WSC_CODE = 0;
constexpr int WSC_TABLE = 4;
constexpr int WSC_TBL = 5;
constexpr int WSC_KEY_LENGTH = 6;
constexpr int WSC_RECORD_LENGTH = 7;
constexpr int WSC_BEFORE_LENGTH = 8;
constexpr int WSC_SEQUENCE = 9;
constexpr int WSC_ROW = 10;
constexpr int32_t kSupersededBy = 50;  // a superseded change's code: its kind + 50

// ---- Read-set records the commit check reads ----
// A record read (kind other than 9) or a whole table read (kind 9): word 0
// the kind, 4 the table entry, 6 the check's mode, 10 and 11 the table entry
// and its TBL, 12 the key length, the key read from word 16.
constexpr int RSC_MODE = 6;
constexpr int RSC_TABLE = 10;
constexpr int RSC_TBL = 11;
constexpr int RSC_KEY_LENGTH = 12;
constexpr int RSC_KEY = 16;

// The suffix of one cache record.
struct CacheSuffix {
  int32_t start = 0;
  int32_t sequence = 0;
  int32_t kind = 0;   // 0..255
  int32_t order = 0;  // 0..kMaxChangeOrder
  int32_t position[2] = {0, 0};
};
void DKMakeCacheSuffix(uint8_t* at, const CacheSuffix& suffix);
CacheSuffix DKReadCacheSuffix(const uint8_t* at);

// The cache table of table entry `table` for rows of the given lengths:
// fills `cursor` (a DKFET1 block for the cache table) and answers 0 for a
// valid cache, 4 for none, or a negative code. `make` asks for one to be made
// (or a stale one to be stamped anew). Bad lengths are reported under
// `routine`.
int32_t DKDPT0(int32_t table, int32_t key_length, int32_t record_length, bool make, int32_t routine,
               std::vector<int32_t>* cursor);
// Called as databank entry `databank` is closed: every cache table that
// lies there is given back by the table that owns it (with its pages, as a
// cache is marked dropped), so that no cache names a closed databank.
void DKForgetCacheTables(int32_t databank);
// Removes the cache record in the cursor's record area.
int32_t DKDLT0(std::vector<int32_t>* cursor);

// The writer of a cache record, looked up by its start number.
struct CacheWriter {
  int32_t on_disk = -1;  // TSS word 5; -1 when the writer is found nowhere
  int32_t prepared = 0;  // TSS word 3 once its state is above 13, else 0
  int32_t state = 0;
};
CacheWriter DKLTS0(int32_t start);

// After the background threads applied an insert (code 1, `value` 0) or a
// delete (code 4, `value` 1) of a change record of a table that refers to
// large objects: the cache records of that change by the transaction of
// commit number `commit` get `value` in their bytes 60 to 63. 0, 4 without
// a cache, or a negative code.
int32_t DKUPT0(std::span<const int32_t> change, int32_t commit, int32_t value);

// Record access's test of a view: request word 0 against the commits
// secured on disk; word 6 = 0 when equal, else 4 (and one more retry
// counted).
void DKCheckTCacheStamp(int32_t* block);

// Entry routines.
void DKAFC1(int32_t* block);
void DKRCM1(int32_t* block);
void DKINT1(int32_t* block);
void DKDET1(int32_t* block);
void DKCCS1(int32_t* block);
void DKCHT1(int32_t* block);
void DKFNT1(int32_t* block);
void DKFPT1(int32_t* block);
void DKULD1(int32_t* block);

// The commit check's read checks (DKCHR0 for a record read, DKCHW0 for a
// whole table), installed into the transactions with DKInstallReadChecks.
int32_t DKCHR0(int32_t tss, std::span<const int32_t> record);
int32_t DKCHW0(int32_t tss, std::span<const int32_t> record);
void DKInstallTransactionCacheChecks();

// Slot-table entries.
void DKAFC1Entry(int32_t* block, void*);
void DKRCM1Entry(int32_t* block, void*);
void DKINT1Entry(int32_t* block, void*);
void DKDET1Entry(int32_t* block, void*);
void DKCCS1Entry(int32_t* block, void*);
void DKCHT1Entry(int32_t* block, void*);
void DKFNT1Entry(int32_t* block, void*);
void DKFPT1Entry(int32_t* block, void*);
void DKULD1Entry(int32_t* block, void*);
