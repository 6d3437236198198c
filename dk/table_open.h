// Opening tables in their access modes and the small services around a
// table's description: open (DKOPT1), describe (DKGTS1), change kind and
// type (DKMOT1), the stored length of a record (DKPFU1) and generated key
// values (DKGGK1).
#pragma once

#include <cstdint>

// DKOPT1 block (the table request words of table_entries.h, and these).
constexpr int OPT_KIND = 3;                  // -1 any kind, -2 an anonymous table of any kind
constexpr int32_t kStatusModeConflict = 39;  // the table is held in a mode that excludes this one
constexpr int32_t kOpenAnyKind = -1, kOpenAnonymous = -2;

// DKGTS1 block words beyond the table request words.
constexpr int GTS_METHOD = 12;
constexpr int GTS_LEVELS = 13;
constexpr int GTS_TOP_ENTRIES = 14;
// DKPFU1: word 8 receives the stored length.
constexpr int PFU_STORED_LENGTH = 8;

// DKGGK1 block: the cursor block's words, and these.
constexpr int GGK_STATUS = 5;
constexpr int GGK_KIND = 8;  // 6: a table that refers to large objects
constexpr int GGK_TABLE = 9;
constexpr int GGK_TBL = 10;
constexpr int GGK_KEY_LENGTH = 11;
constexpr int GGK_BASE = 15;
constexpr int GGK_COUNTER = 16;
constexpr int GGK_WORDS = 17;
// The companion table that holds the large-object references of kind 6.
constexpr int32_t kLobReferenceTbl = 240;

void DKOPT1(int32_t* block);
// Whether the databank of `did` holds a root entry of TBL `tbl` of kind
// `kind` (-1 any): 0 when it does, -50 when it does not, else the walk's
// code; unlike an open, a missing entry is not reported.
int32_t DKFindRootEntry(int32_t did, int32_t tbl, int32_t kind);
void DKGTS1(int32_t* block);
void DKMOT1(int32_t* block);
void DKPFU1(int32_t* block);
void DKGGK1(int32_t* block);
