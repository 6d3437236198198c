// Table use by sessions: before record access opens a table for a session,
// the kernel finds the table's databank and records in the session's TRS
// chain that its transaction uses that databank. Beside it, the small moves
// of a level's path into internal statements and the compound-block ring.
#pragma once

#include <cstdint>

// Words of a table request used here.
inline constexpr int32_t TRQ_KIND = 19;  // kind in, record access's status out
inline constexpr int32_t TRQ_LID = 21;
inline constexpr int32_t TRQ_WORDS = 22;

// The TRS STATUS once a table of the databank is opened, and the TP
// TRANSACTION_TYPE a session's transaction takes with its first table.
inline constexpr int32_t TRS_TABLE_OPENED = 3;
inline constexpr int32_t TP_TYPE_TABLES = 128;

inline constexpr int32_t TABLE_UNKNOWN_DATABANK = -19021;
inline constexpr int32_t PATH_BAD_LENGTH = -19052;
inline constexpr int32_t LVL_PATH_BYTES = 387;

// The session's TRS of databank `dcb`; with `create` a new one (STATUS 0)
// is pushed on USR TRS when there is none. 0 when none (or no storage).
int32_t SessionTrs(int32_t* base, int32_t usr, int32_t dcb, bool create);

// request {status, session}; table_request TRQ_WORDS words; descriptor is
// handed to record access as it stands.
void DSOpenTable(int32_t* base, int32_t* request, int32_t* table_request,
                 const int32_t* descriptor);
// DSChkTabUtil, request {status, session, logical id, the caller's table
// words from word 3}: inside the session's transaction (else -14012) the
// databank is looked up and the utility's definition record (kind 15, its
// description the caller's words from word 3) goes through DSOpenTable. A
// databank that is not open: -19046, with the logical id, SEQNO -1 and
// the databank bit in the session's result vector.
void DSChkTabUtil(int32_t* base, int32_t* request);
inline constexpr int32_t UTIL_NO_TRANSACTION = -14012;
inline constexpr int32_t UTIL_RECORD_KIND = 15;
inline constexpr int32_t UTIL_TABLE_WORDS = 3;

// request {status, session}: 386 bytes of the session's level PATH.
void DSGetLvlPath(int32_t* base, int32_t* request, uint8_t* buffer);
// Parameter n of `stm` (387 bytes long, else -19052) takes the level's PATH.
void DSSetParPath(int32_t* base, int32_t* status, int32_t stm, int32_t n, int32_t lvl);
// request {count, -, statement}: ACTIVE_COM becomes the count-th member of
// the ring (the statement's own part first, then the NEXT_COM chain).
void DSStepRing(int32_t* base, int32_t* request);

// DSTableInUse (record access's DSChkTableUse) for kind 1: 0 when a
// statement or cursor of the session (any level; STATUS other than 1, 6
// and 9) uses table `table` through a table handle, or through the indexes
// or references of a handle's table open in foreign-key access mode 5; 1
// when none does; -19078 for another kind.
int32_t DSTableInUse(int32_t* base, int32_t usr, int32_t kind, int32_t table);
inline constexpr int32_t TCB_FK_OPEN = 5;

// DSOpenTableExcl (record access's open_table_excl): the open of a record
// block that asks for access mode 1. When the table's TCB is in use, the
// routine programs no statement uses are dropped first (their table uses
// go with them); then record access opens the table chain. The record's
// status is the answer; a non-zero one also stands in RVEC_RCODE, the table
// in RVEC_TNAME and the table bit in RVEC_BITVEC.
int32_t DSOpenTableExcl(int32_t* base, int32_t usr, int32_t* record, int32_t* open);
inline constexpr int32_t RVEC_MASK_TABLE = 1 << 3;
