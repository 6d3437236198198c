// The databank kernel's control area (the Bufferpool word array): reserving
// and laying it out at start (DKSTA9), the size a set of parameters needs
// (DKCheckParams), opening the system databank (DKOSY9), the two stop steps,
// and the hash-table and free-list routines over its entries.
#pragma once

#include <atomic>
#include <cstdint>

#include "dk/control_words.h"

// The control area, or nullptr before DKSTA9 and after DKShutdown. Word 0 is
// at a 4096-byte boundary. Inline because every page access goes through it;
// only the start and the shutdown change the pointer, and the shutdown only
// once no request can be inside, but other threads may still look at it, so
// it is read atomically (a plain load on the machines we build for).
extern std::atomic<int32_t*> dk_control_area;
inline int32_t* Bufferpool() {
  return dk_control_area.load(std::memory_order_acquire);
}
// The area's size in words (0 when there is none).
int32_t BufferpoolWords();
// True when [index, index + words) lies inside the area.
bool BufferpoolHolds(int64_t index, int64_t words = 1);
// Shared words are read and written through atomic references.
inline std::atomic_ref<int32_t> PoolWord(int32_t index) {
  return std::atomic_ref<int32_t>(Bufferpool()[index]);
}
// Lock word pairs of the area.
void DKLock(int32_t pair);
void DKUnlock(int32_t pair);

// Constant block: sentinel 512 first.
extern const int32_t DKBLK1[];
constexpr int32_t DKBLK1_SENTINEL = 512;
constexpr int32_t DKBLK1_NO_VALUE = -12345678;

// Parameter blocks of DKSTA9 and DKCheckParams.
constexpr int32_t CNT_SIZE = 0, CNT_TRANSACTIONS = 1, CNT_DATABANKS = 2, CNT_TABLES = 3;
constexpr int32_t PG_2K = 0, PG_16K = 1, PG_64K = 2;
constexpr int32_t THR_REQUEST = 0, THR_BACKGROUND = 1, THR_IO_SERVERS = 2, THR_USERS = 3,
                  THR_NET_REQUEST = 4;
constexpr int32_t kMaxServerThreads = 256;

void DKSTA9(int32_t* rc, const char* name, int32_t name_length, const int32_t* counts,
            const int32_t* pages, const int32_t* threads, int32_t check_option);
void DKCheckParams(int32_t* rc, int32_t* counts, const int32_t* pages, const int32_t* threads);
void DKOSY9(int32_t* rc);
void DKStopBackground(int32_t* rc);
void DKShutdown(int32_t* rc);
void DKGetSetting(int32_t* word);

// Words a hash table of `entries` entries takes: a third of the count, but
// never so few that it has no bucket.
int32_t DKHashWords(int32_t entries);

// Hash tables and free lists (word indexes; the caller holds the table's lock).
int32_t DKHMA0(int32_t free_list);
void DKHMC0(int32_t table, int32_t words);
int32_t DKHMI0(int32_t table, int32_t key);
void DKHML0(int32_t table, int32_t entry);
void DKHMP0(int32_t table, int32_t entry);
void DKHMR0(int32_t table, int32_t entry);
// Iteration state: current entry, table, bucket word, end bucket word. Start
// with {0, table, 0, 0}; each call returns the next entry, 0 at the end.
constexpr int32_t HMS_CURRENT = 0, HMS_TABLE = 1, HMS_BUCKET = 2, HMS_END = 3;
int32_t DKHMS0(int32_t* state);
int32_t DKHMU0(int32_t table);

// Choosing the copy of a databank or table that reads go to.
int32_t DKChooseDatabankCopy(int32_t databank);
int32_t DKChooseTableCopy(int32_t table);

// True when `index` is the word 0 of a databank entry of the area.
bool DKIsDatabankEntry(int32_t index);
