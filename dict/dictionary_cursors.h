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
