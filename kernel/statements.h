// Statements of a session: STM blocks on a level's chain, each running a
// compiled program whose descriptor, program and storage its compound
// blocks name. DSCreateStm builds one from a precompiled image (shared
// through the routine-program cache unless the start mode is -242),
// DSOpenStm readies it, DSCloseStm releases it; DSBadHandle reports a
// handle that names no statement.
#pragma once

#include <cstdint>

#include "kernel/control_blocks.h"
#include "kernel/statement_columns.h"
#include "kernel/system_block.h"

inline constexpr int32_t STM_CREATED = 1;
inline constexpr int32_t STM_OPEN = 5;
inline constexpr int32_t STM_RELEASED = 6;
inline constexpr int32_t STM_CLOSE_PENDING = 8;
inline constexpr int32_t STM_CLOSE_PENDING_IDLE = 9;  // of a created or released statement

// Words of a table handle: record access's record block in the storage.
inline constexpr int32_t HANDLE_OBJECT = 2;  // the open table's TCB
inline constexpr int32_t HANDLE_ACCESS = 3;  // below 4: the table is written
inline constexpr int32_t HANDLE_STATUS = 19;
inline constexpr int32_t HANDLE_LID = 21;
inline constexpr int32_t HANDLE_TYPE = 22;  // 2, 12: an index's block, word 0 its base table
inline constexpr int32_t HANDLE_TNAME = 24;
inline constexpr int32_t HANDLE_WORDS = 25;
// The statement's databank list (STM LTRS): word 0 free, then pairs {TRS,
// flag 3 written / 1 read} ended by -1; at most 100 databanks.
inline constexpr int32_t LTRS_WRITTEN = 3;
inline constexpr int32_t LTRS_READ = 1;
inline constexpr int32_t LTRS_MAX_DATABANKS = 100;
inline constexpr int32_t STM_TOO_MANY_DATABANKS = -11013;
inline constexpr int32_t STM_TRS_MISSING = -19044;

// Decodes a program image into a new descriptor block: the header's 16-bit
// values widened to words, then the run-length encoded body (a negative
// count c repeats the next word |c| times, a positive count copies that many
// words). 0 with *sd, -19078 for counts past the image, -11002.
int32_t DSDecodeImage(int32_t* base, const int16_t* header, int32_t header_length,
                      const int32_t* body, int32_t body_length, int32_t* sd);

// 0 with the STM in *stm, or an error (also in the session's RVEC_RCODE).
int32_t DSCreateStm(int32_t* base, int32_t usr, int32_t number, const int16_t* header,
                    int32_t header_length, const int32_t* body, int32_t body_length, int32_t* stm);
// Creates the statement from the dictionary image `number` (DDStmtImage).
int32_t DSCreateStmFromImage(int32_t* base, int32_t usr, int32_t number, int32_t* stm);
// Opens the tables of compound blocks without SHP, sets the parameter
// sizes, builds LTRS (one TRS of the session per databank the statement's
// tables use, its STM_COUNT raised) and sets STATUS 5.
int32_t DSOpenStm(int32_t* base, int32_t mode, int32_t usr, int32_t stm);
// Closes a statement's resources (STATUS 6): its hold on the session's
// transaction, its TRS counts (a TRS with no statement, STATUS 0 and no
// databank release owed is freed) and the tables of compound blocks
// without SHP. The first error.
int32_t DSReleaseStm(int32_t* base, int32_t mode, int32_t usr, int32_t stm);
// Releases the tree of statements the statement called (depth-first,
// through the call lists of its compound blocks), then its own resources.
// The first error.
int32_t DSRSS3(int32_t* base, int32_t usr, int32_t stm);
// Closes and frees the statement; *stm cleared. While the session's
// transaction is open and another open statement of the session was
// declared on this one (its DECLARE_STM), the close waits: STATUS 8 (9
// for a created or released one) and USR STM_PENDING_CLOSE 1.
int32_t DSCloseStm(int32_t* base, int32_t usr, int32_t* stm);
// -19039 (also in the session's RVEC_RCODE) when the kernel is started,
// else -19040.
int32_t DSBadHandle(int32_t* base, int32_t usr);

// Walks of a statement's compound blocks and their table handles.
inline constexpr int32_t kMaxCompounds = 4096;
// Calls f(compound block) for the statement's own part and each block of
// its NEXT_COM chain that lies in the storage.
template <typename F>
void ForEachCompound(int32_t* base, int32_t stm, F f) {
  int32_t com = stm + STM_NEXT_COM;
  for (int32_t n = 0; com != 0 && n < kMaxCompounds; ++n) {
    if (!InStorage(base, com, COM_DBGINF + 1)) return;
    const int32_t next = Wd(base, com, COM_NEXT);
    f(com);
    com = next;
  }
}

// Calls f(record block index) for each table handle of a compound block:
// the table-handle list holds storage offsets (ended by a negative one) of
// record blocks that lie inside the storage.
template <typename F>
void ForEachTableHandle(int32_t* base, int32_t com, F f) {
  const int32_t sd = Wd(base, com, COM_SD), stg = Wd(base, com, COM_STG);
  if (!InStorage(base, sd, SD_MIN_WORDS) || stg == 0) return;
  const int32_t off = Wd(base, sd, SD_TABLE_HANDLES), count = Wd(base, sd, SD_TABLE_HANDLES + 1);
  const int64_t words = Wd(base, sd, SD_STORAGE_WORDS);
  if (off <= 0 || count <= 0 || !InStorage(base, int64_t{sd} + off, count) ||
      !InStorage(base, stg, words))
    return;
  for (int32_t i = 0; i < count; ++i) {
    const int32_t at = Wd(base, sd, off + i);
    if (at < 0 || at + int64_t{HANDLE_WORDS} > words) return;
    f(stg + at);
  }
}


// Calls f(statement) for each statement and cursor of every level of the
// session until f answers true; true when one did.
template <typename F>
bool AnySessionStatement(int32_t* base, int32_t usr, F f) {
  constexpr int32_t kMaxChain = 100000;
  int32_t lvl = Wd(base, usr, USR_LVL);
  for (int32_t l = 0; lvl != 0 && l < kMaxChain && InStorage(base, lvl, LVL_WORDS); ++l) {
    for (int32_t head : {LVL_STM, LVL_CUCB}) {
      int32_t stm = Wd(base, lvl, head);
      for (int32_t k = 0; stm != 0 && k < kMaxChain && InStorage(base, stm, STM_WORDS); ++k) {
        if (f(stm)) return true;
        stm = Wd(base, stm, STM_NEXT);
      }
    }
    lvl = Wd(base, lvl, LVL_NEXT);
  }
  return false;
}
