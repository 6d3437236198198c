// Transactions on the SQL side: the transaction block TP of a user, its
// begin, end and kernel end, marks and the read, write and check set queues
// (transaction_control.cc, transaction_end.cc, check_set.cc), and the binding
// of statements to the user's transaction (statement_transactions.cc). See
// du/README.md, "Transactions".
#pragma once

#include <cstdint>

// End-of-transaction codes.
inline constexpr int32_t END_AUTOMATIC = 84;
inline constexpr int32_t END_AFTER_FAILURE = 85;
inline constexpr int32_t END_AFTER_SUCCESS = 86;
inline constexpr int32_t END_ROLLBACK = 87;
inline constexpr int32_t END_ROLLBACK_OWNED = 88;
inline constexpr int32_t END_XA_PREPARE = 89;
inline constexpr int32_t END_XA_COMMIT = 90;
inline constexpr int32_t END_CLIENT_COMMIT = 1962;

// Begin codes (USR TRV_COND into DSAllocTP; TP FTR_START).
inline constexpr int32_t BEGIN_EXPLICIT = 80;
inline constexpr int32_t BEGIN_AUTOMATIC = 81;
inline constexpr int32_t BEGIN_SAVING = 82;
inline constexpr int32_t BEGIN_SUCCESSOR = 85;
inline constexpr int32_t BEGIN_ADOPT = 91;
inline constexpr int32_t BEGIN_MODE_SAVING = 29303;  // DSBTR3 mode that saves the outer entries

inline constexpr int32_t NO_AUTOMATIC_END = 88;  // USR TRANSACTION_AUTOCOMMIT
inline constexpr int32_t READ_ONLY_MODE = 31;    // READ_WRITE_MODE
inline constexpr int32_t FIRST_MARK_ID = 1000;
inline constexpr int32_t QUEUE_TYPE = 53;  // the kernel table type of a transaction queue
inline constexpr int32_t RECORD_KIND_COMMIT = 21;
inline constexpr int32_t RECORD_KIND_MARK = 22;
inline constexpr int32_t SET_AT_END = 4;  // DKGNS1: no record after the position
inline constexpr int32_t TRS_BYTES_EACH = 28;

// TP queue descriptors: seven words each, copied to and from request words
// 1 to 7.
inline constexpr int32_t QUEUE_WORDS = 7;
inline constexpr int32_t QD_BLKSIZ = 0, QD_LID = 1, QD_TYPE = 2, QD_TBL = 3, QD_TNAME = 4,
                         QD_PAGE = 5, QD_POS = 6;

// ---- Transaction control ----
// DSBTR3: pb[0] the mode in, status out; pb[1] the USR.
void DSBTR3(int32_t* base, int32_t* pb);
// The user's embedded block: USR TRV_COND carries the code in and the status
// out; USR TP the block.
void DSAllocTP(int32_t* base, int32_t usr);
void DSFreeTP(int32_t* base, int32_t usr);
void DSTransDkEnd(int32_t* base, int32_t usr);
// pb[0] the end code in, status out; pb[1] USR; pb[2] STM. `value` and the
// byte string go into the commit record.
void DSEndTransWork(int32_t* base, int32_t* pb, int32_t value, const uint8_t* bytes,
                    int32_t length);
void DSEndTrans(int32_t* base, int32_t* pb);
void DSEndTransIfOpen(int32_t* base, int32_t* pb);
// Rolls the kernel transaction back to `mark`; status in USR TRV_COND.
void DSTransRollbackDk(int32_t* base, int32_t usr, int32_t mark);
int32_t DSGetTransState(int32_t* base, int32_t usr);
void DSSetTransType(int32_t* base, int32_t usr, int32_t value);
int32_t DSNextCursorOrder(int32_t* base, int32_t usr);
void DSSetCursorOrder(int32_t* base, int32_t usr, int32_t value);
int32_t DSGetTransScope(int32_t* base, int32_t usr);
void DSSetTransScope(int32_t* base, int32_t* status, int32_t usr, int32_t scope);
int32_t DSGetAutocommit(int32_t* base, int32_t usr);

// ---- Read set, check set and marks ----
// Appends a mark record (kind 22) to the write set and the read set; status
// in USR TRV_COND. A failure leaves the transaction failed (state 2).
void DUWriteMark(int32_t* base, int32_t usr, int32_t value);
// Copies the seven-word queue descriptor at `descriptor` into request words
// 1 to 7, appends the request's record (DKAPS1) and writes the new page and
// position back. The status.
int32_t DKKeyCall(int32_t* base, int32_t* request, int32_t descriptor);
// Appends the key of `record` (a DUREC) to the check set, with the index
// number after it and the kind in the record's word 19.
void DUAddCheckEntry(int32_t* base, int32_t* record, int32_t usr);
// Runs (mode >= 0) or discards (mode < 0) the check set; the first violation
// with its table and constraint ids.
int32_t DUCheckDeferred(int32_t* base, int32_t usr, int32_t mode, int32_t* table_id,
                        int32_t* constraint_id);
// Sets the user's stacked marks in the transaction and frees them.
int32_t DUSetStackedMarks(int32_t* base, int32_t usr);
void DUFreeStackedMarks(int32_t* base, int32_t usr);

// ---- Statement transactions ----
void DSStmStartTrans(int32_t* base, int32_t* status, int32_t stm, int32_t usr);
void DSStmResumeTrans(int32_t* base, int32_t* pb);
void DSStmParkTrans(int32_t* base, int32_t* pb, int32_t request_code, const int32_t* access);
void DSEndStmTrans(int32_t* base, int32_t* pb);
// pb[3] the code (103: free the stale copies only).
void DSSaveTrs(int32_t* base, int32_t* pb);
void DSRestoreTrs(int32_t* base, int32_t* pb);
// The user's per-databank entry of `dcb`, a new one pushed on USR TRS when
// there is none; 0 when no storage.
int32_t DUUserTrs(int32_t* base, int32_t usr, int32_t dcb);
// Marks the databank of `dcb` written in the user's open transaction `tp`
// (STATUS 3): the commit record lists only the databanks so marked, and a
// commit that lists no written one is taken as a reader's, its changes
// dropped. In a read-only transaction (READ_WRITE_MODE 31) the change is
// refused: -14014, also in RVEC_RCODE. 0, -14014 or -11002.
int32_t DUMarkDatabankWritten(int32_t* base, int32_t usr, int32_t tp, int32_t dcb);
int32_t DSChkTransWritable(int32_t* base, int32_t* pb, int32_t usr);
void DSSwapReadWriteMode(int32_t* base, int32_t usr, int32_t mode, int32_t* previous);
void DSMarkStmsEnded(int32_t* base, int32_t usr);
void DSSetStmHold(int32_t* base, int32_t stm);
void DSTransCleanup(int32_t* base, int32_t* pb);
