// Large objects: bytes kept outside a table's records on pages of their own,
// each page a 40-byte frame around its data. The caller holds the object's
// page list (pairs of page number and page size, ended by 0) in the kernel
// word storage; these routines allocate its pages (DKALO1), put and get its
// bytes (DKPLO1, DKGLO1) and free its pages (DKFLO1 by runs, DKFLX1 by list).
#pragma once

#include <cstdint>

#include "dk/verification_pages.h"

// Function codes, all sent through DKEXE2.
constexpr int32_t DKF_ALO1 = 58;
constexpr int32_t DKF_PLO1 = 59;
constexpr int32_t DKF_GLO1 = 60;
constexpr int32_t DKF_FLO1 = 61;
constexpr int32_t DKF_FLX1 = 62;
constexpr int32_t DKF_CLO1 = 66;

// Words of an allocate, put, get and free-by-list request. Lengths and
// offsets are 64-bit values in two words, low word first.
constexpr int LOB_STATUS = 0;    // write mode in (put: a TSS or 0), status out
constexpr int LOB_DID = 1;       // the databank that holds the pages
constexpr int LOB_LIST = 2;      // the page list's index in the word storage
constexpr int LOB_IDENTITY = 3;  // words 3..5: the object's identity
constexpr int LOB_IDENTITY_WORDS = 3;
constexpr int LOB_LENGTH = 6;  // words 6, 7: the object's length (allocate)
constexpr int LOB_OFFSET = 9;  // words 9, 10: where the bytes start in the object
constexpr int LOB_COUNT = 12;  // bytes to put; bytes wanted in, delivered out (get)
constexpr int LOB_WORDS = 13;

// Words of a free-by-runs request (DKFLO1): the runs follow from word 3,
// four words each. The databank's DID is the second argument.
constexpr int FLO_STATUS = 0;
constexpr int FLO_RUNS = 1;
constexpr int FLO_FIRST_RUN = 3;
constexpr int RUN_PAGE = 0;       // first page of the run
constexpr int RUN_CARRIED = 1;    // carried with the run, not read here
constexpr int RUN_PAGE_SIZE = 2;  // in bytes
constexpr int RUN_PAGES = 3;
constexpr int RUN_WORDS = 4;

// Words of a close request (DKCLO1): the record request words (word 0 the
// mode, 4 and 5 the table entry and TBL of the table that receives the
// record, 6 and 7 key and record length, 8 the stored length, the record
// from word 10) and these. The answer goes to word 5.
constexpr int CLO_MODE = 0;
constexpr int CLO_DID = 2;
constexpr int CLO_ANSWER = 5;
constexpr int CLO_SEQNO_FIELD = 13;  // record bytes 12..15
constexpr int CLO_STAMP = 19;        // words 19, 20: record bytes 36..43
constexpr int CLO_WORDS = 21;
// Words of a close's work block (all word-storage indexes, 0 when empty).
constexpr int LWB_NEW_PAGES = 2;      // page list of the object's new pages
constexpr int LWB_DIRECTORY = 13;     // table entry of the source's directory (TBL 240)
constexpr int LWB_SOURCE_PAGES = 14;  // page list of its source pages
constexpr int LWB_FREE_RUNS = 15;
constexpr int LWB_WORDS = 16;

// A large-object directory record: the key is its first 20 bytes (integers
// big-endian), the rest in the machine's byte order.
constexpr int32_t LDR_IDENTITY = 0;  // 12 bytes
constexpr int32_t LDR_SEQNO = 12;
constexpr int32_t LDR_PART = 16;
constexpr int32_t LDR_FIRST_PAGE = 20;  // bytes 20..35: the run, as a DKFLO1 run
constexpr int32_t LDR_PAGE_SIZE = 28;
constexpr int32_t LDR_PAGES = 32;
constexpr int32_t LDR_STAMP = 36;  // bytes 36..43
constexpr int32_t LDR_KEY_BYTES = 20;
constexpr int32_t LDR_BYTES = 44;

// A large-object page: the frame's words and the bytes it leaves for data.
constexpr int32_t LOP_LAST_WORD = 2;  // last page word in use: the trailer (5 when fresh)
constexpr int32_t LOP_COUNT = 5;      // data bytes on the page
constexpr int32_t LOP_IDENTITY = 6;   // words 6..8
constexpr int32_t LOP_DATA_BYTE = 36;
constexpr int32_t LOP_FRAME_BYTES = 40;
constexpr int32_t LOP_FRESH_LAST_WORD = 5;

inline int32_t LobCapacity(int32_t page_size) {
  return page_size - LOP_FRAME_BYTES;
}
// The page word that repeats the data count after n data bytes.
inline int32_t LobTrailerWord(int32_t n) {
  return 7 + (n + 11) / 4;
}

// Entry routines (block, second argument). Allocate: the argument points at
// the page list's index. Put: the data; get: the buffer. Free by runs: the
// argument points at the DID.
void DKALO1(int32_t* block, void* list_index);
void DKPLO1(int32_t* block, void* data);
void DKGLO1(int32_t* block, void* buffer);
void DKFLO1(int32_t* block, void* did);
void DKFLX1(int32_t* block, void* unused);
// Close: the second argument is the object's work block.
void DKCLO1(int32_t* block, void* work);
// Removes an object's directory record: `cursor` (a cursor block of the
// directory table with the record's key) is fetched, the record deleted in
// write mode `write_mode` and its run freed. 0 also when there is none.
int32_t DKDLD0(int32_t* cursor, int32_t write_mode);
// Copies the directory records of a table (request words 4 and 5; word 2
// the DID, printed with -45) into its entry on the copy of its databank
// whose SEQNO is `seqno`, each record's run copied along when its pages lie
// in the source. The answer: 0, or the failure, which request word 0 gets.
int32_t DKCLL1(int32_t* request, int32_t seqno);
// Frees the objects that the records of a table of kind 6 name, before the
// tree whose root entry is `entry` (numbered from its level count) is
// released: its pages are read, and the run of each record whose SEQNO is
// that of `databank` (its pages are held there) is freed once. Nothing for
// another kind. 0, or the first failure (reported); the walk goes on past it.
// A rebuild releases its old tree without this: the new tree keeps the runs.
int32_t FreeTreeObjects(int32_t databank, const int32_t* entry);
// The first copy of the databank's DID when the databank is a later copy in
// its chain (a copy made current takes the first copy's records with their
// keys, SEQNO included, and their runs moved into itself); 0 otherwise.
int32_t FirstCopyOf(int32_t databank);
// Whether the databank holds the pages of the run a directory record names:
// a run under its own SEQNO, or on a later copy one under the first copy's
// whose every page is a sound page of the record's object there (a record
// the copy took as it came names the first copy's page numbers).
bool HoldsRun(int32_t databank, const PageRun& r);
// Frees the run's pages in the databank itself (not through its DID, which
// names the first copy): 0 or the failure.
int32_t FreeRunIn(int32_t databank, const PageRun& r);
// A directory record's insert or update (request word 0 the write mode, 4
// and 5 the table entry on a copy of SEQNO 100000 and its TBL, 7 the record
// length, the record from word 10) replayed there: the record the copy holds
// under the key is fetched; absent, the record is inserted, when it differs
// it is updated, each time with its run built in the copy from the first
// copy's pages, and the run the copy held for it before is freed. A record
// held already with a run of the copy's own is left as it is. The answer,
// which word 0 receives.
int32_t DKUBL0(int32_t* request);
// A directory record's delete replayed on a copy of SEQNO 100000: the
// record the copy holds under the key is deleted in the write mode of word
// 0, and the run it named freed when the copy holds its pages. The answer
// (positive: no such record), which word 0 receives.
int32_t DKDeleteOnCopy(int32_t* request);
