// The record access routines the record instructions and LIKE tests call,
// as one table (record access's own by default). Tests install a model of a
// table here. A routine of a layer not built yet would stand here as an
// entry that logs its name and answers -19040.
#pragma once

#include <cstdint>

#include "platform/bytes.h"

namespace interp {

// One record block; `work` the work entry (0 when the routine takes none).
using RecordRoutine = void (*)(int32_t* base, int32_t* record, int32_t usr, int32_t work);
// Two record blocks: the index or key side and the table.
using IndexRoutine = void (*)(int32_t* base, int32_t* key_record, int32_t* table_record,
                              int32_t usr, int32_t work);

struct RecordServiceTable {
  RecordRoutine get_row;         // GNR, GUR: DUGetRow
  RecordRoutine get_prev_row;    // GPR: DUGetPrevRow
  IndexRoutine get_row_index;    // GNX, GPX: DUGetRowIx
  IndexRoutine get_unique;       // GUX: DUGetUnique
  RecordRoutine lock_row;        // LSR: DULockRow
  RecordRoutine prepare_update;  // PFU: DUPrepareForUpdate
  RecordRoutine insert_row;      // INS, AGE kind 1: DUInsertRow
  RecordRoutine update_row;      // UPD, AGE kind 3: DURowOp1
  RecordRoutine delete_row;      // DEL: DUDEL1
  RecordRoutine load_rows;       // LOA, AGE kind 2: DULoadRows
  RecordRoutine sort_rows;       // SRT: DUSortRows
  RecordRoutine drop_rows;       // DRP: DUDropRows
  RecordRoutine delete_all;      // DLA: DUDeleteAll
  RecordRoutine insert_index;    // IND: DUInsertIndex
  RecordRoutine merge_rows;      // MRG: DUMergeRows
  RecordRoutine fetch_many;      // FMS: DUFetchMany
  RecordRoutine refresh;         // REF: DURefresh
  RecordRoutine write_flush;     // WFR: DUWriteFlush
  // The read-set walk of an action exit; 0 or a negative kernel error.
  int32_t (*read_set_check)(int32_t* base, int32_t usr, int32_t thr);
  // LIKE matchers over `length` subject bytes (characters for the wide one)
  // at `offset` of the statement's storage: 1 match, 2 no match, negative an
  // error (-1 a bad pattern instruction).
  // MCF, MVF: DUMatchPattern2, the program in kernel storage block `block`
  // (its backtracking stack behind it), its literal text in the storage; a
  // block that does not hold both answers -1.
  int32_t (*match_pattern)(int32_t* base, int32_t block, ConstByteSpan storage, int32_t offset,
                           int32_t length);
  // MUF: DUMatchPattern1, the same for wide characters.
  int32_t (*match_pattern_wide)(int32_t* base, int32_t block, ConstByteSpan storage, int32_t offset,
                                int32_t length);
  // CC2: DUMatchPattern4, a self-contained program of `words` words.
  int32_t (*match_pattern_self)(const int32_t* program, int32_t words, ConstByteSpan storage,
                                int32_t offset, int32_t length);
  // The large-object store step: the databank kernel's entries of the
  // allocate, put and free requests (DKEXE2), and the directory insert
  // (DUInsLobdir1: 0, or a failure, positive for a duplicate row).
  void (*lob_kernel)(int32_t code, int32_t* block, void* argument);
  void (*insert_lob_directory)(int32_t* base, int32_t* status, const int32_t* record, int32_t usr,
                               const int32_t* descriptor);
  // ILB: a new identifier (three words) for the table of `record`
  // (DUGetLobdir1: 0, or a failure).
  void (*new_lob_identifier)(int32_t* base, int32_t* status, int32_t* identifier,
                             const int32_t* record);
};

// The table in force (record access's routines unless a test installed one).
const RecordServiceTable& RecordServices();
// The default table; a test copies it and replaces the members it models.
const RecordServiceTable& DefaultRecordServices();
// Installs `table` (not owned, every member set); nullptr puts the default
// back. Returns the table it replaces.
const RecordServiceTable* DAInstallRecordServices(const RecordServiceTable* table);

}  // namespace interp
