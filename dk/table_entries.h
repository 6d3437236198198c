// Tables as the kernel holds them: the table entries of the control area
// (found through the table hash under their TBL), the root entries that each
// databank keeps on its chain of root pages, and the entry routines that
// create, find, close and drop tables and step through the root entries.
#pragma once

#include <cstdint>

// Table entry words (13 words with the link word).
constexpr int32_t TBE_TBL = 0;   // -1 for an anonymous table
constexpr int32_t TBE_NEXT = 1;  // entry of the same table on the next databank of the chain
constexpr int32_t TBE_USES = 2;
constexpr int32_t TBE_ACCESS = 3;
constexpr int32_t TBE_DATABANK = 4;
constexpr int32_t TBE_ROOT_PAGE = 5;  // -1 until found
constexpr int32_t TBE_ROOT_WORD = 6;  // page word of the root entry's word -1
constexpr int32_t TBE_KIND = 7;
constexpr int32_t TBE_SECOND = 8;  // a second table entry owned by this one
constexpr int32_t TBE_KEY_BASE = 9;
constexpr int32_t TBE_KEY_COUNTER = 10;
constexpr int32_t TBE_METHOD = 11;  // compression method
constexpr int32_t kAccessClosed = 5;

// Root entry words, numbered from the level count; word -1 is the first.
constexpr int32_t RE_TOP = -1;  // top page of the tree, 0 when empty
constexpr int32_t RE_LEVELS = 0;
constexpr int32_t RE_KEY_LENGTH = 1;
constexpr int32_t RE_RECORD_LENGTH = 2;
constexpr int32_t RE_TBL = 3;  // 0: free entry
constexpr int32_t RE_KIND = 4;
constexpr int32_t RE_TYPE = 5;  // 3: dropped
constexpr int32_t RE_DATA_PAGE_SIZE = 6;
constexpr int32_t RE_INDEX_PAGE_SIZE = 7;
constexpr int32_t RE_METHOD = 8;
constexpr int32_t kRootEntryWords = 10;
constexpr int32_t kRootEntries = 49;     // per root page
constexpr int32_t kFirstRootWord = 502;  // word -1 of entry 0; entry k is 10k words lower
constexpr int32_t kTypeDropped = 3;
constexpr int32_t kKindSet = 5;
constexpr int32_t kKindLobRefs = 6;
// The deepest tree a walk follows; deeper counts are corrupt root entries.
constexpr int32_t kMaxLevels = 32;

// Databank entry words used by tables.
constexpr int32_t DBE_SKIP_ROOTS = 8;  // nonzero: the root pages are not searched
constexpr int32_t DBK_WORK = 4;        // kind of a work databank
constexpr int32_t kCheckComplete = 20;

// Request block words of the table routines.
constexpr int RQ_STATUS = 0;  // write mode in, status out
constexpr int RQ_DID = 2;
constexpr int RQ_TYPE = 3;
constexpr int RQ_TABLE = 4;
constexpr int RQ_TBL = 5;
constexpr int RQ_KEY_LENGTH = 6;  // DKCRT1; DKCHK1: length compared in mode -3
constexpr int RQ_RECORD_LENGTH = 7;
constexpr int RQ_BEFORE_LENGTH = 8;  // DKUPD1
constexpr int RQ_INDEX_PAGE_SIZE = 10;
constexpr int RQ_DATA_PAGE_SIZE = 11;
constexpr int RQ_METHOD = 12;
constexpr int RQ_RECORD = 10;  // the record, from word 10 on
constexpr int CRT_WORDS = 13;

// DKNTE1 block: status, the three cursor words, then the entry found.
constexpr int NTE_STATUS = 0;
constexpr int NTE_DATABANK = 1;  // cursor: databank entry (-1 at the end)
constexpr int NTE_PAGE = 2;      // cursor: root page (0: start)
constexpr int NTE_OFFSET = 3;    // cursor: page word of the last entry returned
constexpr int NTE_TBL = 4;
constexpr int NTE_TYPE = 5;
constexpr int NTE_KEY_LENGTH = 6;
constexpr int NTE_RECORD_LENGTH = 7;
constexpr int NTE_DATA_PAGE_SIZE = 8;
constexpr int NTE_INDEX_PAGE_SIZE = 9;
constexpr int NTE_METHOD = 10;
constexpr int NTE_WORDS = 11;

void DKCRT1(int32_t* block);
int32_t DKCRT0(int32_t* block, int32_t databank);
void DKCLT1(int32_t* block);
void DKDRT1(int32_t* block);
void DKNTE1(int32_t* block);

// The table check of every routine that takes a table entry: 0, or -46
// reported under `routine`.
int32_t CheckTableEntry(int32_t table, int32_t tbl, int32_t routine);
// The root page that holds a table's root entry, got for update (mode 2) or
// shared (mode 4): the buffer, with *root_record the area word of the
// entry's level count, or a negative code reported under `routine`.
int32_t GetRootEntry(int32_t table, int32_t mode, int32_t routine, int32_t* root_record);
// True when the root entry's lengths and page sizes describe a tree the
// record routines can work on.
bool RootEntrySound(const int32_t* entry);
// The databank entry of a DID (0 when none), searched under the databank
// lock; and the table entries of a new table, one per databank of the chain
// from `databank` (block words 3, 5 and 12 give kind, TBL and method; mode
// -3 and -4 give access mode 3), the first linked into the table hash. The
// caller holds the table lock; 0 when the free list ran out.
int32_t DKFindDatabank(int32_t did);
// Frees the second table entry (word 8) of `table`, as a close does: a
// dropped second table's rows go first. Nothing when it has none.
void DKFreeSecondEntry(int32_t table);
// True when `second`, a table's second entry, is the table's transaction
// cache: the cache tables are the anonymous second entries (TBL -1). A
// named second entry is another table the table owns.
bool DKIsCacheTable(int32_t second);
int32_t DKMakeTableEntries(const int32_t* block, int32_t databank, int32_t mode);
