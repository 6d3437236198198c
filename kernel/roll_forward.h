// Databank roll-forward from the log: after a restore, the committed
// transactions of the log that touched a databank are redone into it
// through the databank kernel's record, table and index requests. The full
// roll-forward takes every transaction, the limited one those whose commit
// key lies in a range.
#pragma once

#include <cstdint>

// Request words. Word 0: mode in (full: 0 reads the LOG databank, anything
// else the databank of word 5), status out (the count of redone records or
// an error, also in the session's result vector).
inline constexpr int32_t RFW_MODE = 0;
inline constexpr int32_t RFW_USR = 1;
inline constexpr int32_t RFW_LID = 2;
inline constexpr int32_t RFW_DID = 3;  // out
inline constexpr int32_t RFW_SEQNO = 4;  // the sequence number the databank is marked with (0, -1: its own)
inline constexpr int32_t RFW_LOG_LID = 5;
inline constexpr int32_t RFW_LOWER_KEY = 8;  // 16 bytes from byte 32
inline constexpr int32_t RFW_UPPER_KEY = 12;  // 16 bytes from byte 48
inline constexpr int32_t RFW_WORDS = 16;
inline constexpr int32_t COMMIT_KEY_BYTES = 16;

// The log: table 8 of the LOG databank, a set.
inline constexpr int32_t LOG_LID = 3;
inline constexpr int32_t LOG_TABLE = 8;
inline constexpr int32_t LOG_TABLE_KIND = 5;
// The words of a log reading block (the databank kernel's set request, the
// record from word 15) and the longest record read.
inline constexpr int32_t LOG_RECORD_WORD = 15;
inline constexpr int32_t LOG_BUFFER_WORDS = 4008;
inline constexpr int32_t LOG_BLOCK_BYTES = 16120;
// Log record words: the type, the transaction's, the databank's logical id,
// the table's kind, the table handle, the table number; a commit record
// (type 21) holds its commit key from byte 64.
inline constexpr int32_t LOGREC_TYPE = 0;
inline constexpr int32_t LOGREC_LID = 2;
inline constexpr int32_t LOGREC_KIND = 3;
inline constexpr int32_t LOGREC_TABLE = 4;
inline constexpr int32_t LOGREC_TBL = 5;
inline constexpr int32_t LOGREC_COMMIT_KEY = 16;
inline constexpr int32_t LOGREC_COMMIT = 21;

inline constexpr int32_t RFW_SEQUENCE_MISMATCH = -18008;
inline constexpr int32_t RFW_LOG_NOT_OPENED = -19006;
inline constexpr int32_t RFW_BAD_RECORD_TYPE = -18010;
inline constexpr int32_t RFW_SKIPPED_NO_TABLE = -16190;
inline constexpr int32_t RFW_SKIPPED_RECORDS = -16207;

// The words of a transaction's records the scan keeps in memory to redo
// them at its commit record (1,048,576 by default); a larger transaction is
// read again from its first record.
void SetRollForwardKeep(int32_t words);

// The full roll-forward (commit keys "0000000000000000" to
// "9999999999999999") and the limited one (the range of words 8-15).
void DSTabScan1(int32_t* base, int32_t* request);
void DSTabScan2(int32_t* base, int32_t* request);

// A log reading block: the databank kernel's words over the log's open
// table (shared with the backup's log copy). Reads the next (or, with
// `backwards`, the previous) record: 0, 1 at the end, or r - 16140.
struct LogReader {
  int32_t* block;  // LOG_RECORD_WORD + the databank kernel's largest record words
  int32_t Next(bool backwards = false);
  int32_t* Record() { return block + LOG_RECORD_WORD; }
  int32_t Length() const;
};
// Words a log reading block needs.
int32_t LogBlockWords();
// Opens the log table (access mode, the LOG databank's logical id, a set,
// table 8) into the block; 0 or -19006. While the databank kernel holds the
// log it writes alone, its own table entry is read (*borrowed: not to be
// closed).
int32_t OpenLog(int32_t* block, int32_t access, int32_t lid, bool* borrowed);
// As OpenLog for set `tbl` of the databank (a backup's copy of the log is
// table 9); only the log itself is ever borrowed.
int32_t OpenSet(int32_t* block, int32_t access, int32_t lid, int32_t tbl, bool* borrowed);
inline constexpr int32_t BACKUP_COPY_TABLE = 9;
// Closes the table the block names: 0 or r - 16140.
int32_t CloseTable(int32_t table, int32_t tbl);
