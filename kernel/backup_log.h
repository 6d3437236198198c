// The backup's use of the log: DSBkpCopyLog copies a databank's log
// records into a set of an incremental backup databank up to a mark;
// DSBkpDelLog removes listed objects' records from the log up to a mark (or
// empties it while the database is offline); DSOpenBkpTable opens the
// backup's utility table stamped with the databank's next restore time.
#pragma once

#include <cstdint>

// DSBkpCopyLog request words.
inline constexpr int32_t BCL_STATUS = 0;
inline constexpr int32_t BCL_USR = 1;
inline constexpr int32_t BCL_BACKUP_LID = 2;
inline constexpr int32_t BCL_LID = 5;
inline constexpr int32_t BCL_MARK = 8;  // 4 words
inline constexpr int32_t BCL_WORDS = 12;

// DSBkpDelLog request words.
inline constexpr int32_t BDL_MODE = 0;  // 1, 3 or other in, status out
inline constexpr int32_t BDL_USR = 1;
inline constexpr int32_t BDL_LID = 2;
inline constexpr int32_t BDL_NUMBER = 4;  // mode 1: the number matched
inline constexpr int32_t BDL_COUNT = 6;
inline constexpr int32_t BDL_MARK = 8;  // 4 words (modes other than 1 and 3)
inline constexpr int32_t BDL_IDS = 12;
inline constexpr int32_t BDL_MAX_IDS = 100;

// DSOpenBkpTable request words.
inline constexpr int32_t BOT_VARIANT = 0;  // in, status out
inline constexpr int32_t BOT_USR = 1;
inline constexpr int32_t BOT_LID = 2;
inline constexpr int32_t BOT_STAMP = 7;  // out
inline constexpr int32_t BOT_KEY = 8;    // 4 words
inline constexpr int32_t BOT_WORDS = 12;

// Log record words the backup reads.
inline constexpr int32_t LOGREC_NUMBER = 3;  // type 15
inline constexpr int32_t LOGREC_MARK = 5;    // type 15: 4 words
inline constexpr int32_t LOGREC_BACKUP_MARK = 15;
inline constexpr int32_t LOGREC_BACKUP_START = 13;

inline constexpr int32_t BACKUP_SET_TABLE = 9;
inline constexpr int32_t BACKUP_SET_EXISTS = -16006;
inline constexpr int32_t BACKUP_NOT_OFFLINE = -18004;
inline constexpr int32_t BACKUP_NO_TRANSACTION = -14012;

void DSBkpCopyLog(int32_t* base, int32_t* request);
// `request_words`: the request's real size (the identifier list must lie
// inside it).
void DSBkpDelLog(int32_t* base, int32_t* request, int32_t request_words);
void DSOpenBkpTable(int32_t* base, int32_t* request);
