// Databank control blocks (DCB): one per databank the kernel uses, shared by
// all sessions and found in SYS DCB_LIST by logical id. DSOpenDcb finds or
// creates one with a claimed access mode and opens its files from the
// catalog's databank rows; DSOpenSysdb builds the system databank's block at
// start and registers the catalog base tables; DSCloseDcb gives references
// back; DSOpenSesDb/DSOpenDbFile claim a databank alone for a file request.
#pragma once

#include <cstdint>

// DSOpenDcb request words.
inline constexpr int32_t OPD_KIND = 0;  // kind in, status out
inline constexpr int32_t OPD_LID = 1;
inline constexpr int32_t OPD_DID = 2;
inline constexpr int32_t OPD_DCB = 3;
inline constexpr int32_t OPD_SEQNO = 4;     // -1 after an error, else the failing file's
inline constexpr int32_t OPD_TYPE = 5;      // the failing file's type
inline constexpr int32_t OPD_DEFERRED = 6;  // a deferred error of logical id 2
inline constexpr int32_t OPD_FILES = 7;     // files opened
inline constexpr int32_t OPD_WORDS = 8;

// DSCloseDcb request words.
inline constexpr int32_t CLS_MODE = 0;  // mode 0-3 in, status out
inline constexpr int32_t CLS_LID = 1;
inline constexpr int32_t CLS_REF = 2;  // negative: give one reference back
inline constexpr int32_t CLS_WORDS = 3;

// Columns of the catalog's databank rows (the STM_MOS_DATABANK statement).
inline constexpr int32_t DBROW_NAME = 1;     // databank name, 128 characters
inline constexpr int32_t DBROW_SEQNO = 2;    // the file's sequence number
inline constexpr int32_t DBROW_FILE = 3;     // file name, 256 characters
inline constexpr int32_t DBROW_LOBDIR = 4;   // LOB directory table number, 0 none
inline constexpr int32_t DBROW_TYPE = 5;     // type letter N T L W S
inline constexpr int32_t DBROW_SHADOW = 6;   // "Y": a type-5 copy opened as type 6
inline constexpr int32_t DBROW_OFFLINE = 8;  // "Y": offline

// Statuses.
inline constexpr int32_t DCB_IN_USE = -16172;
inline constexpr int32_t DCB_NOT_EXCLUSIVE = -16191;
inline constexpr int32_t DCB_NOT_FOUND = -19021;
inline constexpr int32_t DCB_BAD_CLOSE_MODE = -19022;
inline constexpr int32_t DCB_NO_ROW = -19046;
inline constexpr int32_t DCB_BAD_TYPE = -19010;
inline constexpr int32_t DCB_OFFLINE = -18233;
inline constexpr int32_t DCB_NO_THREAD = -18515;
inline constexpr int32_t DCB_LAST_IS_COPY = -18013;
inline constexpr int32_t DCB_NO_DEFERRED = -16215;
inline constexpr int32_t DK_ERROR_BIAS = 16140;  // a databank kernel result r is r - 16140
inline constexpr int32_t LOBDIR_KEY_LENGTH = 20;
inline constexpr int32_t LOBDIR_RECORD_LENGTH = 44;
inline constexpr int32_t LOBDIR_TABLE_KIND = 6;  // the kernel's kind of a LOB directory
inline constexpr int32_t LOGDB_LOBDIR_TABLE = 240;

void DSOpenDcb(int32_t* base, int32_t* request);
// The dictionary's entry in front of DSOpenDcb: for kinds 1 and 7 it needs
// the calling thread's THR (-18515, word 4 -1) and drops unused routine
// programs while the databank has references.
void DSCallCentral(int32_t* base, int32_t* request);
void DSCloseDcb(int32_t* base, int32_t* request);
void DSOpenSysdb(int32_t* base, int32_t* status);
// The REFCOUNT of the DCB of `lid`, 0 when there is none, -19040 without the list.
int32_t DSGetDcbRefs(int32_t* base, int32_t lid);
// Opens / closes the databank's LOB directory table; 0 or the table layer's error.
int32_t DSOpnLobdir2(int32_t* base, int32_t dcb, int32_t table);
int32_t DSClsLobdir(int32_t* base, int32_t dcb);
// The utilities' look-ups. DSFindDcbByName: the open databank whose DNAME
// (128 bytes) is `name`; *value1 its header's restore time stamp (root-page
// request 1), *value4 its restore directory slot's stamp (request 4; 0
// when that request does not succeed). 0, -19021 none, -19040, or a
// databank kernel result r as r - 16140.
void DSFindDcbByName(int32_t* base, int32_t* status, int32_t* value1, int32_t* value4,
                     const uint8_t* name);
// DSChkDbList request words: status, session, the value written into each
// root page and sent as the SEQNO of DKOCD1, the count (its sign is
// ignored by the walk and passed on to DKOCD1) and the logical ids.
inline constexpr int32_t CDL_STATUS = 0;
inline constexpr int32_t CDL_USR = 1;
inline constexpr int32_t CDL_VALUE = 4;
inline constexpr int32_t CDL_COUNT = 6;
inline constexpr int32_t CDL_FIRST_LID = 12;
inline constexpr int32_t CDL_MAX_COUNT = 100;
// Each databank looked up (-19046 when not open), its root page read and
// the value written (root-page requests 1 and 9); then DKOCD1 over the
// list. A failure stands in the status and the session's result vector.
void DSChkDbList(int32_t* base, int32_t* request);
// The result vector's bit of a databank (RVEC_LID and RVEC_SEQNO set).
inline constexpr int32_t RVEC_MASK_DATABANK = 1 << 2;
// A failure about databank `lid` in the session's result vector: the
// status, the databank, `seqno` and the databank bit (nothing for a session
// outside the storage).
void DSDatabankFailure(int32_t* base, int32_t usr, int32_t status, int32_t lid, int32_t seqno);

// Finds the DCB of `lid` in its bucket; the caller holds the bucket semaphore.
int32_t FindDcbLocked(int32_t* base, int32_t list, int32_t bucket, int32_t lid);

// Six catalog base table descriptions in registration order: word counts
// and words (for DSOpenSysdb and its tests).
struct CatalogTableDescription {
  int32_t table;
  int32_t words;
  const int32_t* description;
};
const CatalogTableDescription* CatalogBaseTables(int32_t* count);

// DSOpenDbFile / DSOpenSesDb request words.
inline constexpr int32_t ODF_MODE = 0;  // 1-12 in, status out
inline constexpr int32_t ODF_LID = 2;
inline constexpr int32_t ODF_SEQNO = 4;
inline constexpr int32_t ODF_TYPE = 5;
inline constexpr int32_t ODF_SIZE = 6;
inline constexpr int32_t ODF_NAME = 8;          // 128 characters
inline constexpr int32_t ODF_KERNEL_NAME = 40;  // 128 characters, type 5
inline constexpr int32_t ODF_FILE = 72;         // 256 characters
inline constexpr int32_t ODF_WORDS = 136;
// Word 2 of -1 asks for a file of its own: it is held under a fresh
// logical id from ODF_FIRST_OWN_LID on, handed back in word 2.
inline constexpr int32_t ODF_OWN_FILE = -1;
inline constexpr int32_t ODF_FIRST_OWN_LID = 1000000000;
inline constexpr int32_t ODF_BAD_MODE = -19034;
inline constexpr int32_t ODF_NEEDS_RESTORE = -16159;

void DSOpenDbFile(int32_t* base, int32_t* request);
// Creates the base tables of a new TRANS (logical id 2) or LOG (3)
// databank open at the databank kernel's `entry` (a TRANS databank gets its
// first root page before them), each written at once and closed; 0 or
// r - 16140.
int32_t CreateBaseTables(int32_t lid, int32_t entry);
void DSOpenSesDb(int32_t* base, int32_t* request);
