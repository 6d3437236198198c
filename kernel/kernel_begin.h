// Kernel begin and the database start and stop: the constant block data
// check, DSBEG2 (the databanks beside the system databank, the catalog
// version check, the catalog lists), the mark of the system databank's
// tables, the classification of a failed start, and the product banner.
#pragma once

#include <cstdint>

inline constexpr int32_t BLOCKDATA_MISSING = -18001;
inline constexpr int32_t BEGIN_NO_CATALOG_STATEMENT = -18002;
inline constexpr int32_t CATALOG_VERSION_BETA = -18518;
inline constexpr int32_t CATALOG_VERSION_MISMATCH = -19050;
inline constexpr int32_t TRANSDB_OPEN_FAILED = -16101;
inline constexpr int32_t STOP_NOT_STARTED = -14004;

// 0 after building the block data, -18001 (reported) when it is missing.
int32_t DSChkBlkData();

// Begins the database: 0, the recorded warning (SYS RVEC), or an error
// (also in SYS RVEC and the words after it).
void DSBEG2(int32_t* base, int32_t* status, int32_t mode);

// With request[0] = 4 marks the system databank's DCB and every open table
// of logical id 1 with TRANS_MODE 1; any other request: nothing.
void DSMarkSysdbTrans(int32_t* base, const int32_t* request);

// DSSysErrState result words.
inline constexpr int32_t SES_ACTION = 0;
inline constexpr int32_t SES_FLAG = 1;  // 1 after a failed start, 2 after a good one
inline constexpr int32_t SES_RVEC = 2;
inline constexpr int32_t SES_LID = 3;
inline constexpr int32_t SES_SEQNO = 4;
inline constexpr int32_t SES_ATTRIBUTE = 5;
inline constexpr int32_t SES_WORDS = 6;

// Classifies the state after a start under the SYS semaphore: GBS_ACTION
// and SYSTEM_STATUS set, SYSTEM_STATUS in *status. Without SYS: action 4,
// status -2.
void DSSysErrState(int32_t* base, int32_t* status, int32_t* result);

// "ZAVOR/DB" (request[1] = 1) or "ZAVOR/??" into the 20-byte field, blank
// padded; the 40-byte area blanked; *length 4; request[0] 0.
void DSBanner(int32_t* request, char* field, char* area, int32_t* length);

// DSStartDb start block words; the MULTIDIR and DATABASE texts follow each
// other from byte 16.
inline constexpr int32_t STB_MODE = 0;  // start mode in, status out
inline constexpr int32_t STB_MLEN = 2;
inline constexpr int32_t STB_DLEN = 3;
inline constexpr int32_t STB_TEXT_BYTE = 16;
inline constexpr int32_t STB_MULTIDIR_BYTES = 256;
inline constexpr int32_t STB_DATABASE_BYTES = 128;

// Starts the database kernel (function code 89): SYS, the databank
// kernel's begin check, the system databank, the start thread's THR and the
// kernel begin. `block_bytes` is the start block's real size.
void DSStartDb(int32_t* base, int32_t* block, int32_t block_bytes);

// Stops it (function code 90): every kernel block freed, RESERV 0.
// *status 0, or -14004 when the kernel is not started.
void DSStopDb(int32_t* base, int32_t* status);
