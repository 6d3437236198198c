// The dictionary's further cursors, reads and writes inside dictionary
// work (parameter blocks as in dictionary_services.h: word 0 the mode in
// for a cursor and the status out, word 1 the requesting USR).
#pragma once

#include <cstdint>

#include "dict/dictionary_services.h"

// --- Databank files ---

// A databank row as a file of its databank.
struct DDDatabankFileRow {
  int32_t id, number;
  int32_t first_flag;         // "YES" 1
  int32_t second_flag;        // "Y" or "YES" 1
  char name[DD_NAME_LENGTH];  // the databank's
  int32_t name_length;
  char second_name[DD_NAME_LENGTH];
  int32_t second_name_length;
  char file[256];
  int32_t file_length;  // without trailing blanks or zeros
  int32_t option;       // as DDOptionOf
  int32_t logical_id;
};
// Mode 1 the rows whose second name is `name`, 3 the rows of the databank
// named `name` (each opening starts from the first row), 0 the next; 1 at
// the end; another mode or a name over 128 characters -19113.
void DDCurDatabankFile(int32_t* base, int32_t* pb, const char* name, int32_t name_length,
                       DDDatabankFileRow* out);
// Mode 3 sets "YES", mode 4 "NO " as the first flag of the row of databank
// `id` and `number`, with `second_name` (length 0: kept) as its second
// name; `stamp` (16 digits, nullptr: the clock) becomes the databank
// object's change time. 1 when there is no such row.
void DDUpdDatabankFile(int32_t* base, int32_t* pb, int32_t id, int32_t number,
                       const char* second_name, int32_t second_name_length, const char* stamp);

// --- Table scans ---

// The table a scan reads, as record access names it.
struct DDScanTable {
  int32_t lid, table, type, key_length, record_length;
};
inline constexpr int32_t DD_SCAN_RECORD_MAX = 16000;  // the scan statement's row
// A positive mode (pb[0]) names the table (mode 3 reads it with access
// mode 3, another with 4) and reads its first row, mode 0 the next. The
// record goes into `row`, at most `capacity` bytes (*length the bytes
// written). 1 at the end, and for mode 0 without a table named; -19113 for
// lengths outside 1 to 16000 (the key at most the record) before anything.
void DDScanTableRows(int32_t* base, int32_t* pb, const DDScanTable& table, uint8_t* row,
                     int32_t capacity, int32_t* length);

// The chain of the scan statement: the indexes of the table it reads. A
// block of DD_SCAN_CHAIN_WORDS words whose word 2 heads the table's index
// control blocks (ICB NEXT links them, ICB DIRTY is their word 7), word 6
// 1 and word 19 free for a count, hung on the work block's chain of
// further blocks (freed with it); 0 when no table is named or the table
// is not open.
inline constexpr int32_t DD_SCAN_CHAIN_WORDS = 20;
int32_t DDScanChain(int32_t* base, int32_t usr);

// --- Cursors ---
// Each: a non-zero mode (pb[0]) opens the walk with the arguments given, 0
// takes the next row; 1 after the last. Names over 128 characters -19113
// before anything runs.

// The table privileges `grantee` holds, on table `table_id` only (0:
// every table), with `with_public` PUBLIC's too: each privilege 1-7 and
// whether it is grantable.
void DDCurTablePrivs(int32_t* base, int32_t* pb, const char* grantee, int32_t grantee_length,
                     int32_t table_id, bool with_public, int32_t* privilege, int32_t* grantable);
// The objects of a name in any schema.
struct DDObjectText {
  int32_t id;
  char schema[DD_NAME_LENGTH];
  int32_t schema_length;
  int32_t kind;  // the object kind number of its word
  char change_time[26];
};
void DDCurObjText(int32_t* base, int32_t* pb, const char* name, int32_t name_length,
                  DDObjectText* out);
// The keys of table `table_id` that have column `column`: each key's id
// and kind ("PRIMARY KEY" 1 ... "UNIQUE" 5, as DDCmpCI; another word 0);
// then the objects whose privilege use names the column, with kind 0.
void DDCurTableKeyKinds(int32_t* base, int32_t* pb, int32_t table_id, const char* column,
                        int32_t column_length, int32_t* id, int32_t* kind);
// The objects using object `id` (mode 2: of every usage row): each one's
// id, its check-text rows (42) deleted first.
void DDCurDeps(int32_t* base, int32_t* pb, int32_t id, int32_t* dependent);
// The rows of a databank by id (above 0) or by name, each deleted with the
// databank file rows of its name; the first also takes the object row,
// link and privilege rows on the id.
struct DDDroppedDatabankRow {
  int32_t id, number;
  int32_t flag;  // "YES" 1
  char name[DD_NAME_LENGTH];
  int32_t name_length;
};
void DDDelDatabankRows(int32_t* base, int32_t* pb, int32_t id, const char* name,
                       int32_t name_length, DDDroppedDatabankRow* out);

// --- Writes ---

// The usage row of view `view_id` on table `used_id`, its used kind VIEW
// or BASE TABLE by the table's row; *used_is_view 1 for a view. 1 when the
// table has no row, 2 when the usage row is there.
void DDInsViewUse(int32_t* base, int32_t* pb, int32_t view_id, int32_t used_id,
                  int32_t* used_is_view);

// The usage rows of object `id` rewritten. With a column (length above 0)
// its default: mode 0 drops it, 1 replaces it by `default_text3`, -1 gives
// it to a column that had none (NULL, or empty above 400 characters, as
// the insert stores it). Modes other than -1 first drop the usage rows the
// old default made: the column's SEQUENCE type-usage rows, and the
// table's object-usage row on each of those sequences that no other column
// of the table names. 1 when the column has no row. Without a column,
// every type-usage and object-usage row the object holds goes, but the
// usage rows on the tables its view-table usage names. A name over 128
// characters, a negative length or another mode -19113 before a run.
void DDDropUsage(int32_t* base, int32_t* pb, int32_t id, const char* column, int32_t column_length,
                 int32_t mode, const uint8_t* default_text3, int32_t default_length);

// --- Drops ---

// Column `column` of table `table_id` dropped (pb[0] non-zero; 0 answers
// 1, the end): its row, its column privileges, its type-usage rows, the
// table's usage row on each object those name that no other column names
// and on which the table rests on no privilege, and its default's stored
// text deleted; every column numbered behind it (but the internal key
// column "ZAVOR_ROWID") takes its number and ordinal position one less, as
// do the view columns (55) and the views' stored conditions (56) on such a
// column of the table. The dropped column's type code, length and scale
// by the dictionary's type rules. 1 when the table has no such column (the
// internal key column is none); a name over 128 characters -19113.
void DDCurTableKeys2(int32_t* base, int32_t* pb, int32_t table_id, const char* column,
                     int32_t column_length, int32_t* type, int32_t* length, int32_t* scale);

// The keys of table `table_id` dropped one a call: key `key_id` only (0:
// every key), of kind `kind` only (1-5, the kinds of DDKeyKindOf; 0: any).
// Each key's constraint, referential, key column, check, trigger, usage,
// privilege-usage, source, check-text and object rows are deleted; its
// columns keep their rows as they are. Handed back: the key's id, its
// further integer (INT_56), its kind (1-5, 7 for any other word: CHECK,
// INTERNAL KEY), the table and key a foreign key refers to and the
// databank of its index (0 when NULL). 1 at the end and for a table
// without its row; -19007 for a key column the table lacks; another kind
// -19089 before a run.
struct DDDroppedKey {
  int32_t id, number, kind;
  int32_t referred_table, referred_key, databank;
};
void DDDelKeys(int32_t* base, int32_t* pb, int32_t table_id, int32_t key_id, int32_t kind,
               DDDroppedKey* out);

// The tables of databank `value` (mode 1), of owner `value` (mode 2) or
// named `name` (mode 3: base tables and views of any schema), one a call,
// each with its object, table, column, privilege, usage, type usage and
// source rows deleted: its id, owner, databank and primary key (0 without
// one) into `out`. 1 at the end.
void DDDelTableRows(int32_t* base, int32_t* pb, int32_t value, const char* name,
                    int32_t name_length, int32_t out[4]);

// The figures of a statistics run: mode 1 ("F", the table's first column:
// its table row marked as having statistics) and 2 ("A") the column row of
// `name` takes the row count, the estimate, the non-null count and the low
// and high values (16 bytes each); mode 3 ("I") the constraint row of
// `key_id` takes the row count. A null pointer stores NULL. 1 when the row
// is missing; another mode or a name over 128 characters -19113.
void DDUpdStatistics(int32_t* base, int32_t* pb, int32_t table_id, int32_t key_id, const char* name,
                     int32_t name_length, const int32_t* row_count, const int32_t* estimate,
                     const int32_t* nonnull, const char* low, const char* high);
// View `id` (above 0), or every VIEW of `name` in any schema, one a call,
// with its rows in every table that holds them deleted: its id into
// *view_id. 1 at the end.
void DDDelViews(int32_t* base, int32_t* pb, int32_t id, const char* name, int32_t name_length,
                int32_t* view_id);
