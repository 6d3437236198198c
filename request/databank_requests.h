// The databank requests of the utilities (backup, copy-back, offline) and of
// the definition work: a session opens, looks up and closes databanks, and
// hands the databank kernel's end of a backup its block. Each takes a
// request block {kind or mode in / status out, USR, databank id, ...},
// answers 0 or a negative status in word 0 and puts a failure into the
// session's result vector (RVEC_RCODE, RVEC_LID, RVEC_SEQNO).
#pragma once

#include <cstdint>

// DSOpenDbReq {kind, USR, id, word 3, word 4}. Kind 8 asks the databank
// kernel about the copy of SEQNO word 4 (DKSUD1); every other kind looks
// the databank up through the kernel core (DSCallCentral; kind 3 by the
// id, kind 1 claiming it alone). Kind 5 only answers word 3 (the kernel's
// entry, DID) and word 4 (the DCB); kinds 1, 3 and 7 also record the
// reference on the session's clean-up list and, inside a transaction, the
// databank on its TRS chain.
void DSOpenDbReq(int32_t* base, int32_t* block);

// DSCloseDbReq {mode 0, 1 or 3, USR, id, last word}: the session's
// reference taken by DSOpenDbReq given back. While the session's
// transaction has used the databank (its TRS entry has a status) the
// release waits for the transaction's end (CDB_COUNT raised; mode 3 marks
// the drop with the last word as its SEQNO); otherwise the databank is
// released through DSCloseDcb with the mode and the last word.
void DSCloseDbReq(int32_t* base, int32_t* block);

// DSDkResult {12, USR, id, SEQNO}: the databank kernel gives the free space
// at the end of the databank's file back (DKTDB1). 0, or the kernel's
// result r as r - 16140.
void DSDkResult(int32_t* base, int32_t* block);

// DSCopyDbReq {status, USR, id, SEQNO, the file's handle, the databank
// number}: a databank file copied unit by unit into the file the caller
// opened (DSOpenDbFile), named by the handle that open handed back (word
// 4, the logical id the file is held under): a copy of the databank itself
// (the handle is the databank's id, a copy-back's kind 9) is its copy of
// SEQNO word 3, filled from the databank's own file (its first copy); a
// file of its own (a backup's file under its own id) is filled from the
// databank's copy of SEQNO word 3. Then the target's header gets its own
// SEQNO back (DKCOP1, DKROO1 code 11). The target's block must be held
// alone (as the caller's open claims it) unless the system is (-16191);
// -19046 when the databank, the file or a copy is not open; -19078 when
// source and target are one file; a databank kernel result r as r - 16140.
void DSCopyDbReq(int32_t* base, int32_t* block);
inline constexpr int32_t CPY_REQ_SEQNO = 3;
inline constexpr int32_t CPY_REQ_HANDLE = 4;
inline constexpr int32_t CPY_SAME_FILE = -19078;

// DSDisconnect {mode, USR, id, ., SEQNO, the caller's words 5 to 11 (0 and
// the time stamp in 8 to 11)}: word 3 gets the databank's kernel entry.
// Mode 2 closes the databank in the databank kernel (DKCLD1). Any other
// mode needs the session's transaction (-14012): mode 3 makes it of type
// 129 and writes the definition record of kind 15 with the words from word
// 5 as the description; the others look at the copy of SEQNO word 4 (it
// must be there without an error and online: -57 when it is offline, as
// r - 16140) and write the record of kind 16 {id, SEQNO}, which takes the
// copy offline when the transaction commits; both through DSOpenTable.
// -19046 when the databank is not open.
void DSDisconnect(int32_t* base, int32_t* block);
inline constexpr int32_t DISCONNECT_CLOSE = 2;
inline constexpr int32_t DISCONNECT_OFFLINE = 3;
inline constexpr int32_t DISCONNECT_TRANS_TYPE = 129;
inline constexpr int32_t DISCONNECT_RECORD_KIND = 16;
inline constexpr int32_t DISCONNECT_DESCRIPTION = 5;

// Block words.
inline constexpr int32_t DBR_STATUS = 0;
inline constexpr int32_t DBR_USR = 1;
inline constexpr int32_t DBR_ID = 2;
inline constexpr int32_t DBR_WORD3 = 3;  // open: the DID out; close: the last word
inline constexpr int32_t DBR_WORD4 = 4;  // open: SEQNO in (kind 8), the DCB out
inline constexpr int32_t DBR_WORDS = 5;

// The session's clean-up entry of a databank reference (the kernel's
// clean-up gives it back at logout): NEXT, kind 1, the databank id, -1.
inline constexpr int32_t CLN_DATABANK = 1;
inline constexpr int32_t CLN_DATABANK_BYTES = 20;
