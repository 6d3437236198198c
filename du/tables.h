// Open tables: the table control blocks TCB, ICB and FICB shared by all
// users and found through the TCB hash (table_hash.cc, table_description.cc,
// table_open.cc, table_close.cc), and the tables of a statement with their
// databanks and the table handles that keep a table open beyond a statement
// (statement_tables.cc, table_handles.cc). See du/README.md, "Open tables".
#pragma once

#include <cstdint>

#include "du/pool_words.h"
#include "du/record_access_words.h"
#include "du/statement_records.h"

// ---- Table control blocks ----
// Creates the TCB hash when SYS TCB_LIST is 0: 0, or -11002.
int32_t DUCrtTcbHash(int32_t* base);
// Frees the whole hash with every TCB (kernel tables closed): 0, 1 when
// there was none.
int32_t DUFreeTcbHash(int32_t* base);
// Creates a TCB for table `tname` from a catalog description of
// `desc_words` words (kind 1 only): 0, 1 when one exists, or a failure.
int32_t DUCreateTcb(int32_t* base, int32_t tname, const int32_t* description, int32_t desc_words,
                    int32_t dcb);
// Opens the table of `record` (a DUREC) for the user; the status in record
// word 19 (0 opened, negative failure). `open` is an open block of
// OPB_WORDS words. The catalog description and the databank come through
// the upper services.
void DUOpenTableChain(int32_t* base, int32_t usr, int32_t* record, int32_t* open);
// The kernel's open of one of its own tables (a databank's large-object
// directory), which has no catalog description: request {open kind, LID,
// table, access, key length, record length, transaction mode, the
// table's kind (under which the kernel finds its root entry)}. The table is
// registered from a description of its header alone (no indexes), in the
// databank record access opens for the LID; the TCB in *tcb. 0, or a
// failure with nothing left registered or referenced.
int32_t DUOpenKernelTable(int32_t* base, int32_t usr, const int32_t* request, int32_t* tcb);
// Gives back the use of such a table; the last closes it in the kernel,
// frees the TCB and releases its databank. 0 or the close's failure.
int32_t DUCloseKernelTable(int32_t* base, int32_t tcb, int32_t kind);
// Attaches a record block to the open TCB `tcb` (function code in record
// word 3: 3 or 4); `second` non-zero sets word 6 by the table number.
void DUOSTX1(int32_t* base, int32_t* record, int32_t tcb, int32_t second);
// Closes one level of the record block's table; record word 19 > 0 while
// further levels (referenced tables) remain. `close` has CLB_WORDS words.
void DUCLT1(int32_t* base, int32_t* record, int32_t* close);
// Repeats DUCLT1 while word 19 stays positive and no LID was handed back.
void DUCloseTables(int32_t* base, int32_t* record, int32_t* close);
// USECOUNT + REFERENCE_USECOUNT of the TCB of `tname` (0 when none);
// -19040 without the hash.
int32_t DUTcbUseCount(int32_t* base, int32_t tname);
int32_t DUSetTableLock(int32_t* base, int32_t usr, int32_t tcb);
void DUFreeTableRefs(int32_t* base, int32_t usr, int32_t tcb);
// Claims (*status not 0 on input) or frees (0) a databank for exclusive use;
// *table the number of a table held exclusively on -16001.
void DSClaimDatabank(int32_t* base, int32_t* status, int32_t dcb, int32_t* table);

// ---- Statement tables and handles ----
// pb: {status, USR}. Opens one table of a statement with its databank.
void DSOpenTableDcb(int32_t* base, int32_t* pb, int32_t* record, int32_t* open);
// Closes one table completely and releases its databank references.
void DSCloseTableRefs(int32_t* base, int32_t* pb, int32_t* record, int32_t* close);
// pb: {status (-2 re-open for a cursor), USR}; the statement.
void DSOpenStmPermTables(int32_t* base, int32_t* pb, int32_t stm);
// The kernel's entries: DSOpenComTables opens the tables of the statement
// whose own compound block is `com`; DSCloseSecTables closes every table
// handle of the section (descriptor `sd`, storage `stg`) completely. The
// status (the first failure).
int32_t DSOpenComTables(int32_t* base, int32_t usr, int32_t com);
int32_t DSCloseSecTables(int32_t* base, int32_t usr, int32_t sd, int32_t stg);
void DSCloseStmPermTables(int32_t* base, int32_t* pb, int32_t stm);
void DSOpenStmTempTables(int32_t* base, int32_t* pb, int32_t stm);
// A handle on the record block's table (its TCB, USECOUNT raised).
void DSOTH2(int32_t* base, int32_t* pb, int32_t* handle, const int32_t* record);
void DSCloseTableHandle(int32_t* base, int32_t* pb, int32_t* handle);
// Request code 119: pb {status, USR, STM}; a statement that ran has its
// work finished and its statement-owned transaction committed.
void DSReqTransCheck(int32_t* base, int32_t* pb);
// Attaches table `tname` of databank `lid` for an XA branch rebuilt at
// start: *handle the table's recovery handle (answer 1) when the table was
// not held in a stronger mode, else its TCB (answer 0); negative on failure
// (also in the user's RVEC_RCODE).
int32_t DSXaAttachTable(int32_t* base, int32_t* pb, int32_t* handle, int32_t tname, int32_t lid,
                        int32_t mode);
// The TRB registration of a statement's tables for an XA branch.
int32_t RegisterStatementTables(int32_t* base, int32_t usr, int32_t stm, int32_t tp);
// pb {status, USR}: closes the TRB table handles of the user's TP.
void DSTransCleanup(int32_t* base, int32_t* pb);

// Which lists ForEachListedRecordBlock walks.
inline constexpr int32_t LIST_PERMANENT = 1;
inline constexpr int32_t LIST_TEMPORARY = 2;

// Calls f(record block pointer) for each record block of the listed table
// lists of one statement record, reading each list no further than its
// count and stopping at its first negative word or at an entry whose block
// does not lie in the storage.
template <typename F>
void ForEachListedRecordBlock(int32_t* base, int32_t record, F f,
                              int32_t lists = LIST_PERMANENT | LIST_TEMPORARY) {
  const int32_t sd = du::W(base, int64_t{record} + du::REC_SD);
  const int32_t stg = du::W(base, int64_t{record} + du::REC_STG);
  if (!du::BlockInside(base, sd, 10)) return;
  for (int32_t which = 0; which < 2; ++which) {
    if ((lists & (which ? LIST_TEMPORARY : LIST_PERMANENT)) == 0) continue;
    const int32_t offset = du::W(base, int64_t{sd} + (which ? du::SD_TEMP_LIST : du::SD_PERM_LIST));
    const int32_t count =
        du::W(base, int64_t{sd} + (which ? du::SD_TEMP_COUNT : du::SD_PERM_COUNT));
    for (int32_t k = 0; k < count && offset >= 0; ++k) {
      const int64_t at = int64_t{sd} + offset + k;
      if (!du::BlockInside(base, at, 1)) break;
      const int32_t r = du::W(base, at);
      if (r < 0 || !du::BlockInside(base, int64_t{stg} + r, DUREC_RECORD)) break;
      int32_t* rec = &du::W(base, int64_t{stg} + r);
      if (rec[DUREC_RECLEN] < 0 ||
          !du::BlockInside(base, int64_t{stg} + r, DurecWords(rec[DUREC_RECLEN])))
        break;
      f(rec);
    }
  }
}

// ---- Key-position lookups (request code 33) and table lists ----
// Over every index of the table: the smallest byte offset at which `column`
// is a key part (the parts before it added up; a key's scan stops at a part
// of kind 1, 2 or one whose magnitude is above 2) and that index's number.
// Start values 2147483647 and 0 stay when no index has the column.
void DUIndexLimits(int32_t* base, int32_t tcb, int32_t column, int32_t* offset, int32_t* index);
// In the index `number` of the table: the offset and length of `column`'s
// key part, or (the sum of all part lengths + the column, 0) when it is not
// one. -19077 when the table has no such index.
int32_t DUFindIndexKind(int32_t* base, int32_t tcb, int32_t number, int32_t column, int32_t* offset,
                        int32_t* length);
// The index after *cursor (0: the first) of the table, its DCB, LID, TYPE,
// TBL, TNAME and CONSTRAINT_SYSID in out[0..5]; -19077 after the last.
int32_t DUNextTableInfo(int32_t* base, int32_t tcb, int32_t* cursor, int32_t* out);
// Makes the kernel tables a load of the open table `tcb` fills (open for
// the caller): one of the table's lengths and page settings numbered
// `number` (its type the table's with the last digit 4), then one per index
// in chain order numbered number + 2, number + 3, ...; their kernel entries
// (TBL) in tables[0] and tables[1..], at most `count`. 0; -16002 when a
// number names a table already; a kernel failure (status - 16140); -19077
// for more indexes than `count`. On failure the tables made are dropped.
int32_t DUCrtTempTable(int32_t* base, int32_t tcb, int32_t number, int32_t* tables,
                       int32_t count);
// DKDRP1 for every record block of the list; 0 or the last failure.
int32_t DUDropTableList(int32_t* base, int32_t* const* records, int32_t count);
