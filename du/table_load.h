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

// Kernel function codes of the runs.
inline constexpr int32_t DK_BIN1 = 7, DK_LOA1 = 40, DK_MRG1 = 42;

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
