// Shared programs (SHP): compiled programs kept once in two SYS caches, SQL
// programs keyed by their text (SHP_SQL_LIST, a semaphore per bucket) and
// routine and dictionary programs keyed by number (SHP_PSM_LIST). The first
// session to ask compiles while later ones wait on the program's S; every
// holder but the one using the shared storage gets a private copy.
#pragma once

#include <cstdint>

// What a holder gets of a program.
struct ShpHandle {
  int32_t sd = 0, stg = 0, snd = 0, shp = 0, dbginf = 0;
};

// Access modes.
inline constexpr int32_t SHP_PSM_COMPILING = 5;
inline constexpr int32_t SHP_PSM_READY = 2;
inline constexpr int32_t SHP_PSM_LOCKED = 1;
inline constexpr int32_t SHP_SQL_COMPILING = -5;
inline constexpr int32_t SHP_SQL_READY = -2;
inline constexpr int32_t SHP_SQL_TEXT_WORD = 20;  // the SQL text, then the qualifier
inline constexpr int32_t SHP_SQL_BYTES = 80;      // plus the two texts

// Statuses.
inline constexpr int32_t SHP_COMPILE = 1;
inline constexpr int32_t SHP_NO_CACHE = -19081;
inline constexpr int32_t SHP_NUMBER_LOCKED = -16402;
inline constexpr int32_t SHP_NUMBER_IN_USE = -16401;
inline constexpr int32_t CLN_KIND_ROUTINE_LOCK = 2;

// The SQL text key: four Pearson lanes over the qualifier and then the text.
int32_t SqlTextKey(const uint8_t* qualifier, int32_t qualifier_length, const uint8_t* sql,
                   int32_t sql_length);

// 0 found (h filled; the storage is shared or a private copy), 1 the caller
// compiles (h.shp; the caller holds its S), or an error.
int32_t DSFindShpSql(int32_t* base, int32_t usr, const uint8_t* qualifier, int32_t qualifier_length,
                     const uint8_t* sql, int32_t sql_length, ShpHandle* h);
int32_t DSFindShpPsm(int32_t* base, int32_t usr, int32_t number, int32_t qualifier, ShpHandle* h);

// Publishes the compiled program of compound block `com` (its SHP word
// names the program): 0, -19078 without descriptor or SHP, or the table
// open's error.
int32_t DSPublishShp(int32_t* base, int32_t usr, int32_t com);

// Gives one holder's use back: 1 still held (references cleared), 0 dropped
// (the SHP freed; *sd receives the descriptor when it was 0, the caller
// frees it), -19040.
int32_t DSCSL2(int32_t* base, int32_t usr, int32_t* shp, int32_t* sd, int32_t* stg, int32_t* snd,
               int32_t* dbginf);
// DSCSL2 and, when the program was dropped, its descriptor freed; DSCSL2's
// status (1 kept, 0 dropped, negative: reported).
int32_t DSRSH3(int32_t* base, int32_t usr, int32_t* shp, int32_t* stg);

int32_t DSLockShpPsm(int32_t* base, int32_t usr, int32_t number);
int32_t DSUnlockShpPsm(int32_t* base, int32_t usr, int32_t shp);
int32_t DSFlushShpPsm(int32_t* base);

// Call-list entries (9 words, the list ended by -1): the storage offset of
// the callee's two slot words, the callee's SHP, and whether the call does
// not own the callee.
inline constexpr int32_t CALL_ENTRY_WORDS = 9;
inline constexpr int32_t CALL_SLOT = 1;
inline constexpr int32_t CALL_SHP = 7;
inline constexpr int32_t CALL_NOT_OWNED = 8;
// Calls f(entry index) for each entry of the descriptor's call list; the
// walk stays inside the storage and ends at -1 or after `kMaxCalls`.
inline constexpr int32_t kMaxCalls = 100000;
template <typename F>
void ForEachCall(int32_t* base, int32_t sd, F f);

// DSCSL2 for the compiler on behalf of the system session; status 0. The
// descriptor of a dropped program is freed when *sd was 0.
int32_t DSRelShpProgram(int32_t* base, int32_t* shp, int32_t* sd, int32_t* stg, int32_t* snd,
                        int32_t* dbginf);
// Gives compound block `com`'s storage back (the shared one's STG_USECOUNT
// lowered under its bucket semaphore, a private copy freed) and clears its
// descriptor, program, storage, send area, SHP and debugger words.
void DSUnlinkShpStm(int32_t* base, int32_t com);

// Gives debugger information to the routine debugger to free (DSDBG2
// operation 9) and clears *info.
void FreeDebuggerInformation(int32_t* base, int32_t usr, int32_t* info);

// Frees storage `stg` unless it lies inside descriptor block `sd` (a
// program built from an image keeps its storage there).
void FreeStorageBlock(int32_t* base, int32_t sd, int32_t stg);
// The image of a published program's storage (SHP STG_IMAGE), taken before
// any holder runs on it: the private copies of later holders come from it.
// Without storage for it, later holders find no copy to take.
void KeepStorageImage(int32_t* base, int32_t shp);
void FreeStorageImage(int32_t* base, int32_t shp);

// Readies storage `stg` for a new holder: clears the open table (word 2)
// of each record block the temporary-table list names, each word the
// dynamic list names and the two callee words of each call-list entry; the
// permanent tables' record blocks stay (their tables are open for every
// holder). Offsets outside the storage are passed over.
void DSResetStorageHandles(int32_t* base, int32_t sd, int32_t stg);

#include "kernel/statement_columns.h"
#include "kernel/system_block.h"

template <typename F>
void ForEachCall(int32_t* base, int32_t sd, F f) {
  if (!InStorage(base, sd, SD_MIN_WORDS)) return;
  const int32_t calls = Wd(base, sd, SD_CALL_LIST);
  if (calls <= 0) return;
  int64_t e = int64_t{sd} + calls;
  for (int32_t n = 0; n < kMaxCalls && InStorage(base, e, 1) && sqlpool_word(base, e) != -1;
       ++n, e += CALL_ENTRY_WORDS) {
    if (!InStorage(base, e, CALL_ENTRY_WORDS)) return;
    f(static_cast<int32_t>(e));
  }
}
