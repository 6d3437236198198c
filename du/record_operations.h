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

// INS: inserts the row of the block's buffer with its index entries; 0, 1
// for a duplicate key (the program branches), or an error.
void DUInsertRow(int32_t* base, int32_t* record, int32_t usr);
// IND (and request 34): as INS, except that an existing key reads its row
// into the buffer and answers 1 (word 1: 11 stored, 3 or 7 from the write
// set).
void DUInsertIndex(int32_t* base, int32_t* record, int32_t usr);
// DEL: deletes the row of the block's buffer (the current row) with its
// index entries; 0 also when the transaction deleted it before.
void DUDEL1(int32_t* base, int32_t* record, int32_t usr);
// UPD: the row in the buffer replaces the before image the PFU of the row
// kept; word 1 carries the row-operation code (50 to 400).
void DURowOp1(int32_t* base, int32_t* record, int32_t usr);
// DLA and DRP: every row of the table deleted (DLA answers 100 when there
// was none).
void DUDeleteAll(int32_t* base, int32_t* record, int32_t usr, int32_t work);
void DUDropRows(int32_t* base, int32_t* record, int32_t usr, int32_t work);

// LSR: records the current row's key in the read set (kind 0, wherever the
// row came from); word 1 is negated so that the next fetch re-enters the
// scan.
void DULockRow(int32_t* base, int32_t* record, int32_t usr, int32_t work);
// WFR: records the key prefix of the current scan (kind -3) in the read set.
void DUWriteFlush(int32_t* base, int32_t* record, int32_t usr);

// GNX, GPX: a row of the table block through the index block; the index
// entries whose row the transaction changed are stepped over. With a stop
// key of `stop_length` bytes the scan ends where the index key leaves it.
// With the table block's word 0 set the index's key is the table's own and
// the rows come from the table's scan (the index block's code 99).
void DUFetchRowIx(int32_t* base, int32_t* table, int32_t* index, int32_t usr, int32_t work,
                  const uint8_t* stop_key, int32_t stop_length);
void DUGetRowIx(int32_t* base, int32_t* table, int32_t* index, int32_t usr, int32_t work);
// GUX: the one row whose index key starts with the index block's key prefix.
void DUGetUnique(int32_t* base, int32_t* table, int32_t* index, int32_t usr, int32_t work);

// Re-reads the row a read-set entry names (its place in `position`: page
// and position) into the block: from the write set first, else the table.
// Word 1 becomes -11 (the table), -7 or -3 (the write set, without or with
// cursor order number); -19068 when the row is gone, -19072 when the entry
// does not belong to the block's table.
void DSReadSetCheck(int32_t* base, int32_t* record, int32_t usr, const int32_t* position);
