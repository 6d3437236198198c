// The system block SYS: created once by DSInitSys with its embedded system
// session and level, its semaphores and its hash lists; every kernel routine
// finds it through the storage header's RESERV word.
#pragma once

#include <cstdint>

#include "kernel/word_storage.h"

// Bucket counts and strides of the SYS lists.
inline constexpr int32_t DCB_LIST_BUCKETS = 40;
inline constexpr int32_t SHP_SQL_BUCKETS = 500;
inline constexpr int32_t SHP_SQL_STRIDE = 4;
inline constexpr int32_t SHP_PSM_BUCKETS = 200;
inline constexpr int32_t CHA_LIST_BUCKETS = 200;
inline constexpr int32_t LVL2_OTCB_BUCKETS = 400;
inline constexpr int32_t GSEQ_LIST_BUCKETS = 40;

// Kernel statuses used across the core.
inline constexpr int32_t KERNEL_NOT_STARTED = -19040;
inline constexpr int32_t KERNEL_BAD_HANDLE = -19039;
inline constexpr int32_t KERNEL_BAD_PARAMETER = -19078;
inline constexpr int32_t KERNEL_NUMERIC_INIT_FAILED = -19103;
inline constexpr int32_t KERNEL_THREAD_INIT_FAILED = -19080;

// The SYS index when the kernel is started (RESERV lies strictly between
// LOWIX and WORDS and the whole block below WORDS), else 0.
int32_t KernelSys(const int32_t* base);

// Field n of block b as a reference.
inline int32_t& Wd(int32_t* base, int64_t b, int32_t n) {
  return sqlpool_word(base, b + n);
}

// True when `count` words from index `index` lie inside the storage.
bool InStorage(const int32_t* base, int64_t index, int64_t count);

// The steps of DSInitSys that need no service of the layers above, for a
// program that runs the kernel without the request interface (the creation
// of a database): a new SYS in `mode` with its semaphores, marker and
// system session, published in RESERV (0 when the storage is exhausted);
// and the hash lists of a SYS whose list word is 0 (0 or -11002).
int32_t NewSysBlock(int32_t* base, int32_t mode);
int32_t CreateSysLists(int32_t* base, int32_t sys);

// DSInitSys: *status holds the start mode on entry and the status on return.
// Reuses a SYS that RESERV already names and creates only the lists whose
// SYS word is 0.
void DSInitSys(int32_t* base, int32_t* status);

// The calling thread's channel (thread-local slot 2) and its session (the
// channel's USR); 0 when none.
int32_t CurrentChannel();
int32_t CurrentSession(int32_t* base);
// The calling thread's THR (thread-local slot 1), 0 when none.
int32_t CurrentThread();

// Copies the 12-word result vector from words `from` to `to`.
void CopyResultVector(int32_t* base, int64_t to, int64_t from);
