// DSChkStmOp: the check of an execute-at-cursor request's two statements
// (a cursor and a positioned update or delete), and the cursor positioned
// on the requested row of its last block of rows.
#pragma once

#include <cstdint>

// Request words.
inline constexpr int32_t ROWCHK_STATUS = 0;
inline constexpr int32_t ROWCHK_USR = 1;
inline constexpr int32_t ROWCHK_ROW = 3;
// Descriptor words of a section: the statement kind, the storage byte
// offset of the row identifier of the row a cursor stands on.
inline constexpr int32_t SD_STATEMENT_KIND = 1;
inline constexpr int32_t SD_ROW_ID_OFFSET = 16;
// Statement kinds of the positioned statements.
inline constexpr int32_t KIND_UPDATE_ONE = 5;
inline constexpr int32_t KIND_DELETE_ONE = 8;

inline constexpr int32_t ROWCHK_NOT_UPDATABLE = -14404;
inline constexpr int32_t ROWCHK_NOT_DELETABLE = -14405;
inline constexpr int32_t ROWCHK_BAD_PAIR = -14406;
inline constexpr int32_t ROWCHK_OTHER_TABLE = -14402;
inline constexpr int32_t ROWCHK_READ_ONLY = -14014;
inline constexpr int32_t ROWCHK_BAD_ROW = -19067;
inline constexpr int32_t ROWCHK_NO_ROW = -19068;

// 0, or the refusal (also in the session's RVEC_RCODE and request word 0).
int32_t DSChkStmOp(int32_t* base, int32_t* request, int32_t cursor, int32_t stm);
