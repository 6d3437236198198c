// Routine numbers locked for a definition change (DSLockShpPsm and its
// clean-up entry, DSUnlockShpPsm) and the flush of unused routine programs
// (DSFlushShpPsm), which takes ready programs nobody holds off the cache.
#include <atomic>

#include "kernel/control_blocks.h"
#include "kernel/hash_lists.h"
#include "kernel/shared_programs.h"
#include "kernel/system_block.h"
#include "platform/enqdeq.h"

namespace {

// Clean-up entry words: NEXT, kind, argument.
constexpr int32_t CLN_KIND = 1;
constexpr int32_t CLN_ARG = 2;
constexpr int32_t CLN_BYTES = 12;

int32_t FindNumberLocked(int32_t* base, int32_t list, int32_t bucket, int32_t number) {
  int32_t shp = sqlpool_word(base, HashListHead(base, list, bucket));
  while (shp != 0 && Wd(base, shp, SHP_CBKEY) != number) shp = Wd(base, shp, SHP_NEXT);
  return shp;
}

}  // namespace

int32_t DSLockShpPsm(int32_t* base, int32_t usr, int32_t number) {
  const int32_t sys = KernelSys(base);
  const int32_t list = sys != 0 ? Wd(base, sys, SYS_SHP_PSM_LIST) : 0;
  if (list == 0) return KERNEL_NOT_STARTED;
  int32_t entry = 0;
  DSGetMem(base, &entry, CLN_BYTES);
  if (entry == 0) return SQLPOOL_EXHAUSTED_ERROR;
  const int32_t bucket = HashListBucket(base, list, number);
  int32_t* sem = HashListSemaphore(base, list, bucket);
  int32_t shp = 0;
  for (int round = 0;; ++round) {
    enqdeq_take(sem);
    shp = FindNumberLocked(base, list, bucket, number);
    if (shp == 0) break;
    const int32_t mode = Wd(base, shp, SHP_ACCESS_MODE);
    enqdeq_give(sem);
    if (mode != SHP_PSM_READY || round > 0) {
      DSGetMem(base, &entry, 0);
      return SHP_NUMBER_IN_USE;
    }
    DSFlushShpPsm(base);
  }
  DSGetMem(base, &shp, SHP_BYTES);
  if (shp == 0) {
    enqdeq_give(sem);
    DSGetMem(base, &entry, 0);
    return SQLPOOL_EXHAUSTED_ERROR;
  }
  Wd(base, shp, SHP_CBKEY) = number;
  Wd(base, shp, SHP_ACCESS_MODE) = SHP_PSM_LOCKED;
  Wd(base, shp, SHP_USECOUNT) = 1;
  enqdeq_init_semaphore(&Wd(base, shp, SHP_S), 1);
  const int32_t head = HashListHead(base, list, bucket);
  Wd(base, shp, SHP_NEXT) = sqlpool_word(base, head);
  sqlpool_word(base, head) = shp;
  enqdeq_give(sem);
  Wd(base, entry, CLN_KIND) = CLN_KIND_ROUTINE_LOCK;
  Wd(base, entry, CLN_ARG) = shp;
  Wd(base, entry, 0) = Wd(base, usr, USR_CLN);
  Wd(base, usr, USR_CLN) = entry;
  return 0;
}

int32_t DSUnlockShpPsm(int32_t* base, int32_t usr, int32_t shp) {
  const int32_t sys = KernelSys(base);
  if (sys == 0) return KERNEL_NOT_STARTED;
  int32_t at = usr + USR_CLN;
  while (sqlpool_word(base, at) != 0) {
    const int32_t e = sqlpool_word(base, at);
    if (Wd(base, e, CLN_KIND) == CLN_KIND_ROUTINE_LOCK && Wd(base, e, CLN_ARG) == shp) break;
    at = e;
  }
  int32_t entry = sqlpool_word(base, at);
  if (entry == 0) return 2;
  if (Wd(base, shp, SHP_ACCESS_MODE) != SHP_PSM_LOCKED) return 1;
  sqlpool_word(base, at) = Wd(base, entry, 0);
  DSGetMem(base, &entry, 0);
  const int32_t list = Wd(base, sys, SYS_SHP_PSM_LIST);
  const int32_t bucket = HashListBucket(base, list, Wd(base, shp, SHP_CBKEY));
  {
    EnqdeqGuard guard(HashListSemaphore(base, list, bucket));
    for (int32_t p = HashListHead(base, list, bucket); sqlpool_word(base, p) != 0;
         p = sqlpool_word(base, p) + SHP_NEXT) {
      if (sqlpool_word(base, p) == shp) {
        sqlpool_word(base, p) = Wd(base, shp, SHP_NEXT);
        break;
      }
    }
  }
  DSGetMem(base, &shp, 0);
  return 0;
}

int32_t DSFlushShpPsm(int32_t* base) {
  const int32_t sys = KernelSys(base);
  const int32_t list = sys != 0 ? Wd(base, sys, SYS_SHP_PSM_LIST) : 0;
  if (list == 0) return 0;
  EnqdeqGuard reuse(&Wd(base, sys, SYS_SHPLST_REUSE_S));
  int32_t chain = 0;
  {
    EnqdeqGuard guard(HashListSemaphore(base, list, 0));
    const int32_t n = Wd(base, list, HL_BUCKETS);
    for (int32_t b = n - 1; b >= 0; --b) {
      for (int32_t shp = sqlpool_word(base, HashListHead(base, list, b)); shp != 0;
           shp = Wd(base, shp, SHP_NEXT)) {
        if (Wd(base, shp, SHP_ACCESS_MODE) != SHP_PSM_READY || Wd(base, shp, SHP_USECOUNT) != 0)
          continue;
        ++Wd(base, shp, SHP_USECOUNT);
        ++Wd(base, shp, SHP_STG_USECOUNT);
        Wd(base, shp, SHP_REUSE_STATUS) = 1;  // marks it for the drop
        Wd(base, shp, SHP_REUSE_NEXT) = chain;
        chain = shp;
      }
    }
  }
  Wd(base, sys, SYS_SHPLST_REUSE_HEAD) = chain;
  while (chain != 0) {
    int32_t shp = chain;
    chain = Wd(base, shp, SHP_REUSE_NEXT);
    int32_t stg = Wd(base, shp, SHP_STG);
    DSRSH3(base, sys + SYS_USR_START, &shp, &stg);
  }
  Wd(base, sys, SYS_SHPLST_REUSE_HEAD) = 0;
  return 0;
}
