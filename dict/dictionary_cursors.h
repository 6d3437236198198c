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
  int32_t first_flag;   // "YES" 1
  int32_t second_flag;  // "Y" or "YES" 1
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
