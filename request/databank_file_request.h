// The databank file request (DSExecRoutine, request code 106): one file of
// a databank, named by its sequence number, taken into the session's
// transaction. The backup's refresh of a databank's files calls it
// directly with a block of the same form.
#pragma once

#include <cstdint>

// The block is the kernel core's file request (DSOpenSesDb, ODF_* in
// kernel/databank_control.h): word 0 the type flag in (above 0 or not) and
// the result out, 1 the session, 2 the databank id, 4 the file's sequence
// number, 5 the open option (set to 5 before each open), 8 the databank
// name, 40 the second name and 72 the file name (the last overwritten with
// the catalog's file name of that sequence number). ODF_WORDS words.
//
// In order: the databank opened (ids 1 to 3 by the file request mode 10;
// the others as by DSOpenDbReq kind 3, or when that fails by the file
// request mode 7, which ends the request after the transaction's entry);
// inside an active transaction the databank's TRS entry; the catalog's file
// name of the sequence number (the thread's databank statement); the file
// tried (mode 12); the databank kernel asked whether that copy is marked
// (offline): when it is not the result is 1 and nothing is entered,
// otherwise the copy is entered in the session's transaction (a definition
// record of kind 17) whose type becomes 129 (type flag above 0) or 140.
// Then the databank is released again. Results: 0, 1, -19040 (kernel not
// started), -19078 (a session outside the storage), -18515 (no thread
// block), -19046 (the catalog has no file of that number), -19021, -11002,
// -14012 (no transaction), a kernel core or databank kernel failure. A
// failure also stands in the session's result vector (RVEC_RCODE, RVEC_LID
// the databank, RVEC_SEQNO the sequence number for the file's failures and
// -1 for the others, the databank bit in RVEC_BITVEC).
void DSExecRoutine(int32_t* base, int32_t* block);

inline constexpr int32_t XR_OPTION = 5;         // the open option of every file request
inline constexpr int32_t XR_OPEN_SYSTEM = 10;   // ids 1 to 3
inline constexpr int32_t XR_OPEN_OFFLINE = 7;   // a databank DSOpenDbReq cannot open
inline constexpr int32_t XR_TRY_FILE = 12;      // opens the named file and closes it again
inline constexpr int32_t XR_NOT_MARKED = 1;
inline constexpr int32_t XR_RECORD_KIND = 17;
inline constexpr int32_t XR_TYPE_FLAGGED = 129;
inline constexpr int32_t XR_TYPE_PLAIN = 140;
