// Databank files: the header page at unit 1 (the first root page), the words
// of a databank entry that files and pages use, and the routines that bring a
// file into service: create, open with its header checks, extend (DKCRD1),
// and read or update the header (DKROO1).
#pragma once

#include <cstdint>

#include "dk/control_words.h"
#include "dk/databank_format.h"

// Databank entry words beyond those of the layout (DBE_* of the control
// words); entry word k is control-area word X + k.
constexpr int32_t DBE_OPENS = 2;
constexpr int32_t DBE_ACCESS = 3;
constexpr int32_t DBE_CHANNEL = 4;  // file id of the open file
constexpr int32_t DBE_SEQNO = 5;
constexpr int32_t DBE_OFFLINE = DBE_ERROR2;  // nonzero while this copy is offline
constexpr int32_t DBE_OFFLINE_COPY = 9;
constexpr int32_t DBE_ALLOC_HINT = 11;  // first bitmap page that may have free units
constexpr int32_t DBE_CORRUPT = 12;
constexpr int32_t DBE_RELEASES = 13;  // chain of deferred page releases
constexpr int32_t DBE_PAGES_READ = 15;
constexpr int32_t DBE_PAGES_WRITTEN = 16;
constexpr int32_t DBE_PAGES_SWAPPED = 17;
constexpr int32_t DBE_ALLOCATIONS = 18;
constexpr int32_t DBE_DEALLOCATIONS = 19;
constexpr int32_t DBE_EXTENSIONS = 20;
constexpr int32_t DBE_OPEN_LOCK = DBE_LOCK2;     // open and close of the entry
constexpr int32_t DBE_RELEASE_LOCK = DBE_LOCK3;  // guards word 13

// Databank kinds (entry word 6) as a create or open asks for them.
constexpr int32_t DBT_NULL = 1;
constexpr int32_t DBT_TRANS = 2;
constexpr int32_t DBT_LOG = 3;
constexpr int32_t DBT_WORK = 4;
constexpr int32_t DBT_SHADOW = 5;
constexpr int32_t DBT_SHADOW_MAKING = 6;
constexpr int32_t DBT_BACKUP = 7;
constexpr int32_t DBT_BACKUP_MAKING = 8;

// Check states (entry word 14).
constexpr int32_t CHK_INIT = 14;
constexpr int32_t CHK_WORKING = 15;
constexpr int32_t CHK_WAIT_BACKGROUND = 16;
constexpr int32_t CHK_BACKGROUND = 17;
constexpr int32_t CHK_ABORTING = 18;
constexpr int32_t CHK_ABORTED = 19;
constexpr int32_t CHK_COMPLETE = 20;

// DKCRD1 request words.
constexpr int CRD_MODE = 0;   // mode in, return code out
constexpr int CRD_UNITS = 1;  // units to create or add; the entry index out
constexpr int CRD_DID = 2;
constexpr int CRD_SEQNO = 3;  // -1: take the file's
constexpr int CRD_TYPE = 4;
constexpr int CRD_FILE = 5;   // file name for the open of the file (256 bytes)
constexpr int CRD_NAME = 69;  // the 128-byte name kept in the entry
constexpr int CRD_WORDS = 101;

// DKROO1 request words: code, databank entry, header words 5..12 in 3..10.
constexpr int ROO_CODE = 0;
constexpr int ROO_DATABANK = 1;
constexpr int ROO_OTHER_DID = 2;
constexpr int ROO_HEADER = 3;  // request word 3 + k - 5 holds header word k
// Header words 5..12 in request words 3..10, by the header word they carry.
constexpr int RooWord(int32_t header_word) {
  return ROO_HEADER + header_word - HDR_CREATOR_VERSION;
}
constexpr int ROO_SYSTEM_IDENTITY = RooWord(HDR_SYSTEM_IDENTITY);
constexpr int ROO_DID = RooWord(HDR_DID);
constexpr int ROO_SLOT_STATE = RooWord(HDR_CLOSE_MARK);  // code 5: a slot's state (2, else 1)
constexpr int ROO_STAMP = RooWord(HDR_RESTORE_TIME);     // the restore time stamp
constexpr int ROO_SEQNO = RooWord(HDR_SEQNO);
constexpr int ROO_NEW_SEQNO = 11;  // code 13: the SEQNO to set
constexpr int ROO_WORDS = 12;

// Control-area words that files and pages use. The kernel's other routines
// name 98 (the system databank's entry), 99, 101, 104 and 105, so the words
// chosen here keep clear of them; 100 and 103 are the TRANS and LOG entries
// those routines name too.
constexpr int BP_SYSDB_IDENTITY = 96;  // identity of the system databank
constexpr int BP_SYSDB_STAMP = 97;     // restore time stamp of the system databank
constexpr int BP_TRANS_ENTRY = 100;    // entry of the TRANS databank
constexpr int BP_WORK_ENTRY = 102;     // entry of the WORK databank
constexpr int BP_LOG_ENTRY = 103;      // entry of the LOG databank
constexpr int BP_ALLOCATIONS = 194;
constexpr int BP_DEALLOCATIONS = 195;

int32_t DKCRD1(int32_t* request);
int32_t DKROO1(int32_t* request);

// The header checks of an open: reads unit 1 of the entry's file and applies
// them for a requested type and SEQNO (which takes the file's when -1).
// Returns 0 or the error; *close_mark receives the mark found.
int32_t CheckHeaderAtOpen(int32_t databank, int32_t type, int32_t* seqno, int32_t* close_mark);

// Writes the close mark of a databank as its close does (1 for a check state
// of 20, -2 for 17..19, nothing otherwise or after other errors).
int32_t WriteCloseMark(int32_t databank);

// Frees a databank entry and closes its file after a failed create or open,
// or at close; returns the file layer's result of the close.
int32_t ReleaseDatabank(int32_t databank, bool write_pages);

// Takes a free databank entry for a create or open request (DID, SEQNO, type
// and the kept name of the DKCRD1 words) and hashes it, or chains it behind
// `head` (the first entry of its DID, 0 when none). The caller holds the
// databank hash lock. Returns the entry or -11.
int32_t NewDatabankEntry(const int32_t* request, int32_t head);
