// The record operations of a running statement on one table: fetches that
// merge the table's stored rows with the transaction's own write set
// (record_fetch.cc). Each takes the record block DUREC of the table, the
// user and, for a row fetch, the statement's work entry of the block; the
// status comes back in the block's word 19 (0 a row, 100 no more rows,
// negative an error) and the continuation code in word 1.
#pragma once

#include <cstdint>

inline constexpr int32_t ALL_ENTRIES_VISIBLE = 2147483647;

// The kernel setting of DKGetSetting (1 and 2 the largest record, 3 the
// largest block).
int32_t DSGetKernelSetting(int32_t selector);

// GNR, GUR, GPR: one row of the table in key order, the transaction's own
// inserts, updates and deletes merged in. `work` is the work entry's index.
void DUGetRow(int32_t* base, int32_t* record, int32_t usr, int32_t work);
void DUGetPrevRow(int32_t* base, int32_t* record, int32_t usr, int32_t work);
void DUFetchRow(int32_t* base, int32_t* record, int32_t usr, int32_t work);
// Exact-key read of one row, the write-set version first.
void DUReadRowByKey(int32_t* base, int32_t* record, int32_t usr);
// FMS: one DKFMS1 request on the block.
void DUFetchMany(int32_t* base, int32_t* record);
// PFU: classifies the current row for the following update or delete and
// keeps its before image in the user's PFUREC.
void DUPrepareForUpdate(int32_t* base, int32_t* record, int32_t usr);
// REF: re-classifies the current row against the write set.
void DURefresh(int32_t* base, int32_t* record, int32_t usr);
