// Backup mode and backups: DSBkpOp1 starts backup mode (a transaction of
// scope 4), DSBkpOp4 adds a databank to the backup set and opens its backup
// file, DSBkpOp3 ends backup mode (complete or abandon), DSBkpCreate backs a
// databank up in one step. DSBkpRecordFiles, DSBkpApplyMode and
// DSBkpRefreshFiles work on the chain of utility entries on DDUCOM word 6
// and serve the offline operations too. Every outside service is reached
// through the utilities' service table (databank_utility.h).
#pragma once

#include <cstdint>

#include "du/databank_utility.h"

// pb: word 0 the variant or mode in where one is named, the status out;
// word 1 the USR. A name or file name comes with its length in bytes (0 or
// -1: none); at most 128 bytes of a name and 256 of a file name are read.
void DSBkpOp1(int32_t* base, int32_t* pb);
// Word 0: 0 complete, 1 abandon, -1 complete with the roots' count negated.
void DSBkpOp3(int32_t* base, int32_t* pb);
// Word 0 not 0: called by DSBkpCreate inside backup mode.
void DSBkpOp4(int32_t* base, int32_t* pb, const char* name, int32_t name_length,
              const char* file, int32_t file_length);
void DSBkpCreate(int32_t* base, int32_t* pb, const char* name, int32_t name_length,
                 const char* file, int32_t file_length, const char* incremental,
                 int32_t incremental_length);
// Word 0 the kind 0 to 3.
void DSBkpRecordFiles(int32_t* base, int32_t* pb, const char timestamp[16],
                      const char* incremental, int32_t incremental_length, const char* file,
                      int32_t file_length);
// Word 0 the mode 0 to 5.
void DSBkpApplyMode(int32_t* base, int32_t* pb, const char timestamp[16]);
void DSBkpRefreshFiles(int32_t* base, int32_t* pb);

// Gives the user's backup set up: per BFC a close request {3, usr, id, its
// word}, the exclusive claim released through an open request of kind 5, a
// close request {0, usr, id, -1}, the entry freed; USR BACKUP_BFC cleared.
// The first non-zero status; every entry is given up whatever it met.
int32_t DUGiveUpBackupSet(int32_t* base, int32_t usr);
