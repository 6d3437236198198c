// The two shared-program caches (see shared_programs.h). A bucket semaphore
// guards its chain and the USECOUNT and STG_USECOUNT of its programs; a
// program's S is held by the session that compiles it, and others who find
// it meanwhile wait on S with no bucket semaphore held. Statistics change by
// locked increments.
#include "kernel/shared_programs.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "kernel/control_blocks.h"
#include "kernel/debugger_sessions.h"
#include "kernel/error_report.h"
#include "kernel/hash_lists.h"
#include "kernel/statement_columns.h"
#include "kernel/statements.h"
#include "kernel/system_block.h"
#include "kernel/upper_services.h"
#include "platform/enqdeq.h"

namespace {

void Count(int32_t* base, int32_t sys, int32_t field, int32_t by) {
  std::atomic_ref<int32_t>(Wd(base, sys, field)).fetch_add(by, std::memory_order_relaxed);
}

bool IsSql(int32_t* base, int32_t shp) {
  return Wd(base, shp, SHP_SQL_SQLLEN) >= 2;
}

// The list and bucket of a program.
int32_t* BucketSemaphore(int32_t* base, int32_t sys, int32_t shp, int32_t* list, int32_t* bucket) {
  *list = Wd(base, sys, IsSql(base, shp) ? SYS_SHP_SQL_LIST : SYS_SHP_PSM_LIST);
  *bucket = HashListBucket(base, *list, Wd(base, shp, SHP_CBKEY));
  return HashListSemaphore(base, *list, *bucket);
}

void UnlinkLocked(int32_t* base, int32_t list, int32_t bucket, int32_t shp) {
  for (int32_t at = HashListHead(base, list, bucket); sqlpool_word(base, at) != 0;
       at = sqlpool_word(base, at) + SHP_NEXT) {
    if (sqlpool_word(base, at) == shp) {
      sqlpool_word(base, at) = Wd(base, shp, SHP_NEXT);
      return;
    }
  }
}

// The storage for a holder in *out: the shared one, or a private copy with
// its handle words reset (none for a program without storage). A copy is
// taken from the image kept at publication, never from the shared storage,
// which its holder may be running on meanwhile. False when the copy cannot
// be had and others hold the program: the use is given back.
bool HolderStorage(int32_t* base, int32_t shp, bool shared, int32_t* sem, int32_t* out) {
  const int32_t sd = Wd(base, shp, SHP_SD), stg = Wd(base, shp, SHP_STG);
  const int32_t image = Wd(base, shp, SHP_STG_IMAGE);
  const int32_t words = Wd(base, sd, SD_STORAGE_WORDS);
  *out = shared ? stg : 0;
  if (shared || stg == 0 || words <= 0) return true;
  int32_t copy = 0;
  if (image != 0) DSGetMemRaw(base, &copy, 4 * words);
  if (copy != 0) {
    std::memcpy(&sqlpool_word(base, copy), &sqlpool_word(base, image), 4 * size_t(words));
    DSResetStorageHandles(base, sd, copy);
    *out = copy;
    return true;
  }
  EnqdeqGuard guard(sem);
  if (--Wd(base, shp, SHP_USECOUNT) == 0) {
    ++Wd(base, shp, SHP_USECOUNT);
    Wd(base, shp, SHP_STG_USECOUNT) = 1;
    *out = stg;
    return true;
  }
  return false;
}

void FillHandle(int32_t* base, int32_t shp, int32_t stg, ShpHandle* h) {
  h->shp = shp;
  h->sd = Wd(base, shp, SHP_SD);
  h->stg = stg;
  h->snd = Wd(base, shp, SHP_SND);
  h->dbginf = Wd(base, shp, SHP_DBGINF);
}

bool SameSqlTexts(int32_t* base, int32_t shp, const uint8_t* qual, int32_t qual_length,
                  const uint8_t* sql, int32_t sql_length) {
  const uint8_t* text = reinterpret_cast<const uint8_t*>(&Wd(base, shp, SHP_SQL_TEXT_WORD));
  return std::memcmp(text, sql, sql_length) == 0 &&
         std::memcmp(text + sql_length, qual, qual_length) == 0;
}

// A waiter that finds an abandoned SQL program lets its use go (the block
// is freed by the last one) and passes S on to the next waiter.
void LeaveAbandoned(int32_t* base, int32_t sys, int32_t shp) {
  int32_t list, bucket;
  int32_t* sem = BucketSemaphore(base, sys, shp, &list, &bucket);
  bool last;
  {
    EnqdeqGuard guard(sem);
    last = --Wd(base, shp, SHP_USECOUNT) == 0;
    if (last) UnlinkLocked(base, list, bucket, shp);
  }
  enqdeq_give(&Wd(base, shp, SHP_S));
  if (last) DSGetMem(base, &shp, 0);
}

}  // namespace

int32_t DSFindShpSql(int32_t* base, int32_t usr, const uint8_t* qual, int32_t qual_length,
                     const uint8_t* sql, int32_t sql_length, ShpHandle* h) {
  const int32_t sys = KernelSys(base);
  const int32_t list = sys != 0 ? Wd(base, sys, SYS_SHP_SQL_LIST) : 0;
  if (list == 0) return SHP_NO_CACHE;
  if (sql_length < 2 || qual_length < 0) return KERNEL_BAD_PARAMETER;
  const int32_t key = SqlTextKey(qual, qual_length, sql, sql_length);
  const int32_t bucket = HashListBucket(base, list, key);
  int32_t* sem = HashListSemaphore(base, list, bucket);
  for (;;) {
    enqdeq_take(sem);
    const int32_t stamp = Wd(base, sys, SYS_SHP_TIMESTAMP);
    int32_t shp = sqlpool_word(base, HashListHead(base, list, bucket));
    for (; shp != 0; shp = Wd(base, shp, SHP_NEXT)) {
      if (Wd(base, shp, SHP_CBKEY) == key && Wd(base, shp, SHP_SQL_SQLLEN) == sql_length &&
          Wd(base, shp, SHP_SQL_QUALEN) == qual_length && Wd(base, shp, SHP_TIMESTAMP) == stamp &&
          Wd(base, shp, SHP_USR_LOCKING) != usr &&
          SameSqlTexts(base, shp, qual, qual_length, sql, sql_length))
        break;
    }
    if (shp == 0) {
      DSGetMem(base, &shp, SHP_SQL_BYTES + sql_length + qual_length);
      if (shp == 0) {
        enqdeq_give(sem);
        return SQLPOOL_EXHAUSTED_ERROR;
      }
      Wd(base, shp, SHP_USECOUNT) = 1;
      Wd(base, shp, SHP_STG_USECOUNT) = 1;
      Wd(base, shp, SHP_CBKEY) = key;
      Wd(base, shp, SHP_SQL_SQLLEN) = sql_length;
      Wd(base, shp, SHP_SQL_QUALEN) = qual_length;
      Wd(base, shp, SHP_ACCESS_MODE) = SHP_SQL_COMPILING;
      Wd(base, shp, SHP_USR_LOCKING) = usr;
      Wd(base, shp, SHP_TIMESTAMP) = stamp;
      enqdeq_init_semaphore(&Wd(base, shp, SHP_S), 0);
      uint8_t* text = reinterpret_cast<uint8_t*>(&Wd(base, shp, SHP_SQL_TEXT_WORD));
      std::memcpy(text, sql, sql_length);
      std::memcpy(text + sql_length, qual, qual_length);
      const int32_t head = HashListHead(base, list, bucket);
      Wd(base, shp, SHP_NEXT) = sqlpool_word(base, head);
      sqlpool_word(base, head) = shp;
      enqdeq_give(sem);
      *h = ShpHandle{};
      h->shp = shp;
      return SHP_COMPILE;
    }
    ++Wd(base, shp, SHP_USECOUNT);
    const bool shared = Wd(base, shp, SHP_STG_USECOUNT) == 0;
    if (shared) Wd(base, shp, SHP_STG_USECOUNT) = 1;
    enqdeq_give(sem);
    if (std::atomic_ref<int32_t>(Wd(base, shp, SHP_ACCESS_MODE)).load() != SHP_SQL_READY) {
      enqdeq_take(&Wd(base, shp, SHP_S));
      if (Wd(base, shp, SHP_ACCESS_MODE) != SHP_SQL_READY) {
        // Woken by an abandoned compile: look again for a live program.
        LeaveAbandoned(base, sys, shp);
        continue;
      }
      enqdeq_give(&Wd(base, shp, SHP_S));
    }
    int32_t stg = 0;
    if (!HolderStorage(base, shp, shared, sem, &stg)) return SQLPOOL_EXHAUSTED_ERROR;
    if (stg != 0 && stg == Wd(base, shp, SHP_STG))
      DSResetStorageHandles(base, Wd(base, shp, SHP_SD), stg);
    Count(base, sys, SYS_ST_SHARED_SQL, 1);
    Count(base, sys, SYS_ST_SQL_REUSE, 1);
    FillHandle(base, shp, stg, h);
    return 0;
  }
}

int32_t DSFindShpPsm(int32_t* base, int32_t usr, int32_t number, int32_t qualifier, ShpHandle* h) {
  const int32_t sys = KernelSys(base);
  const int32_t list = sys != 0 ? Wd(base, sys, SYS_SHP_PSM_LIST) : 0;
  if (list == 0) return SHP_NO_CACHE;
  const int32_t bucket = HashListBucket(base, list, number);
  int32_t* sem = HashListSemaphore(base, list, bucket);
  enqdeq_take(sem);
  // A number locked for a definition change stops the walk whatever its
  // qualifier; otherwise the program of that number and qualifier is the
  // match (one of another qualifier must not hide it).
  int32_t shp = sqlpool_word(base, HashListHead(base, list, bucket));
  for (; shp != 0; shp = Wd(base, shp, SHP_NEXT))
    if (Wd(base, shp, SHP_CBKEY) == number && (Wd(base, shp, SHP_ACCESS_MODE) == SHP_PSM_LOCKED ||
                                               Wd(base, shp, SHP_SQL_QUALEN) == qualifier))
      break;
  if (shp != 0 && Wd(base, shp, SHP_ACCESS_MODE) == SHP_PSM_LOCKED) {
    enqdeq_give(sem);
    if (usr != 0) Wd(base, usr, USR_RVEC_RCODE) = SHP_NUMBER_LOCKED;
    return SHP_NUMBER_LOCKED;
  }
  if (shp == 0) {
    DSGetMem(base, &shp, SHP_BYTES);
    if (shp == 0) {
      enqdeq_give(sem);
      return SQLPOOL_EXHAUSTED_ERROR;
    }
    Wd(base, shp, SHP_USECOUNT) = 1;
    Wd(base, shp, SHP_STG_USECOUNT) = 1;
    Wd(base, shp, SHP_CBKEY) = number;
    Wd(base, shp, SHP_SQL_QUALEN) = qualifier;
    Wd(base, shp, SHP_ACCESS_MODE) = SHP_PSM_COMPILING;
    enqdeq_init_semaphore(&Wd(base, shp, SHP_S), 0);
    const int32_t head = HashListHead(base, list, bucket);
    Wd(base, shp, SHP_NEXT) = sqlpool_word(base, head);
    sqlpool_word(base, head) = shp;
    enqdeq_give(sem);
    *h = ShpHandle{};
    h->shp = shp;
    return SHP_COMPILE;
  }
  const int32_t others = Wd(base, shp, SHP_USECOUNT)++;
  const bool shared = Wd(base, shp, SHP_STG_USECOUNT) == 0;
  if (shared) Wd(base, shp, SHP_STG_USECOUNT) = 1;
  enqdeq_give(sem);
  if (std::atomic_ref<int32_t>(Wd(base, shp, SHP_ACCESS_MODE)).load() != SHP_PSM_READY) {
    enqdeq_take(&Wd(base, shp, SHP_S));
    if (Wd(base, shp, SHP_ACCESS_MODE) != SHP_PSM_READY) {
      *h = ShpHandle{};
      h->shp = shp;
      return SHP_COMPILE;  // the compile was abandoned: this caller takes it over
    }
    enqdeq_give(&Wd(base, shp, SHP_S));
  }
  int32_t stg = 0;
  if (!HolderStorage(base, shp, shared, sem, &stg)) return SQLPOOL_EXHAUSTED_ERROR;
  DSResetStorageHandles(base, Wd(base, shp, SHP_SD), stg);
  if (number > 0) {
    if (others > 0) Count(base, sys, SYS_ST_SHARED_PSM, 1);
    Count(base, sys, SYS_ST_PSM_REUSE, 1);
  }
  FillHandle(base, shp, stg, h);
  return 0;
}

int32_t DSPublishShp(int32_t* base, int32_t usr, int32_t com) {
  const int32_t sys = KernelSys(base);
  if (sys == 0) return KERNEL_NOT_STARTED;
  const int32_t shp = Wd(base, com, COM_SHP), sd = Wd(base, com, COM_SD);
  if (!InStorage(base, shp, SHP_WORDS) || !InStorage(base, sd, SD_MIN_WORDS))
    return KERNEL_BAD_PARAMETER;
  const bool sql = IsSql(base, shp);
  if (sql || Wd(base, shp, SHP_CBKEY) < 0) {
    const int32_t rc = UpOpenComTables(base, usr, com);
    if (rc < 0) return rc;
  }
  // Only a program that publishes names its areas: after a failure the
  // compiler frees them, and a waiter that takes the compile over must not
  // find them (its release would count the shared storage as given back).
  Wd(base, shp, SHP_SD) = sd;
  Wd(base, shp, SHP_STG) = Wd(base, com, COM_STG);
  KeepStorageImage(base, shp);
  Wd(base, shp, SHP_SND) = Wd(base, com, COM_SND);
  Wd(base, shp, SHP_DBGINF) = Wd(base, com, COM_DBGINF);
  int32_t list, bucket;
  {
    EnqdeqGuard guard(BucketSemaphore(base, sys, shp, &list, &bucket));
    std::atomic_ref<int32_t>(Wd(base, shp, SHP_ACCESS_MODE))
        .store(sql ? SHP_SQL_READY : SHP_PSM_READY);
    if (sql) Wd(base, shp, SHP_USR_LOCKING) = 0;
  }
  enqdeq_give(&Wd(base, shp, SHP_S));
  if (sql) Count(base, sys, SYS_ST_COMPILED_SQL, 1);
  if (!sql && Wd(base, shp, SHP_CBKEY) > 0) Count(base, sys, SYS_ST_COMPILED_PSM, 1);
  return 0;
}

int32_t DSCSL2(int32_t* base, int32_t usr, int32_t* shp_ref, int32_t* sd, int32_t* stg,
               int32_t* snd, int32_t* dbginf) {
  const int32_t sys = KernelSys(base);
  int32_t shp = *shp_ref;
  if (sys == 0) return KERNEL_NOT_STARTED;
  if (!InStorage(base, shp, SHP_WORDS)) return KERNEL_BAD_PARAMETER;
  const bool sql = IsSql(base, shp);
  const bool used_shared = *stg != 0 && *stg == Wd(base, shp, SHP_STG);
  int32_t list, bucket;
  bool kept;
  int32_t mode, left;
  // Once the bucket semaphore goes, a program this call keeps may be
  // dropped and freed by another holder: what the counters need is read
  // under it.
  const bool numbered = Wd(base, shp, SHP_CBKEY) >= 0;
  {
    EnqdeqGuard guard(BucketSemaphore(base, sys, shp, &list, &bucket));
    left = --Wd(base, shp, SHP_USECOUNT);
    mode = Wd(base, shp, SHP_ACCESS_MODE);
    if (sql) {
      kept = left > 0;
    } else {
      // Dropped only once nobody holds it: a program others still wait for
      // stays, and one of them takes an abandoned compile over.
      kept = left > 0 || (Wd(base, shp, SHP_CBKEY) >= 0 && mode == SHP_PSM_READY &&
                          Wd(base, shp, SHP_DBGINF) == 0 && Wd(base, shp, SHP_REUSE_STATUS) == 0);
    }
    if (kept && used_shared) --Wd(base, shp, SHP_STG_USECOUNT);
    if (sql && mode == SHP_SQL_COMPILING) Wd(base, shp, SHP_TIMESTAMP) = 0;
    if (!kept) UnlinkLocked(base, list, bucket, shp);
  }
  if (mode == SHP_SQL_COMPILING || mode == SHP_PSM_COMPILING) {
    // The compiler gives up: waiters wake (SQL: the block can no longer be
    // found; routine: one of them takes the compile over).
    enqdeq_give(&Wd(base, shp, SHP_S));
  } else if (kept) {
    if (sql) Count(base, sys, SYS_ST_SHARED_SQL, -1);
    if (!sql && numbered && left > 0) Count(base, sys, SYS_ST_SHARED_PSM, -1);
  } else {
    if (sql) Count(base, sys, SYS_ST_COMPILED_SQL, -1);
    if (!sql && Wd(base, shp, SHP_CBKEY) > 0) Count(base, sys, SYS_ST_COMPILED_PSM, -1);
    if (sql && Wd(base, shp, SHP_SD) != 0) {
      const int32_t rc = UpCloseSecTables(base, usr, Wd(base, shp, SHP_SD), Wd(base, shp, SHP_STG));
      if (rc < 0) DSErrRep("DSCSL2", 6, rc, SEV_ERROR);
    }
  }
  // The caller's private copy goes in any case.
  if (*stg != 0 && !used_shared) {
    int32_t copy = *stg;
    DSGetMem(base, &copy, 0);
  }
  if (kept) {
    *shp_ref = *sd = *stg = *snd = *dbginf = 0;
    return 1;
  }
  if (*sd == 0) *sd = Wd(base, shp, SHP_SD);
  if (int32_t area = Wd(base, shp, SHP_SND); area != 0) DSGetMem(base, &area, 0);
  FreeStorageBlock(base, Wd(base, shp, SHP_SD), Wd(base, shp, SHP_STG));
  FreeStorageImage(base, shp);
  FreeDebuggerInformation(base, usr, &Wd(base, shp, SHP_DBGINF));
  DSGetMem(base, &shp, 0);
  *shp_ref = *stg = *snd = *dbginf = 0;
  return 0;
}

int32_t DSRSH3(int32_t* base, int32_t usr, int32_t* shp, int32_t* stg) {
  int32_t sd = 0, snd = 0, dbginf = 0;
  const int32_t rc = DSCSL2(base, usr, shp, &sd, stg, &snd, &dbginf);
  int32_t first = rc < 0 ? rc : 0;
  // A dropped program takes the owned callees of its call list with it,
  // depth-first; each finished descriptor is freed.
  std::vector<int32_t> pending;
  if (rc == 0 && sd != 0) pending.push_back(sd);
  while (!pending.empty()) {
    int32_t d = pending.back();
    pending.pop_back();
    std::vector<int32_t> met;
    ForEachCall(base, d, [&](int32_t e) {
      int32_t callee = sqlpool_word(base, e + CALL_SHP);
      if (callee == 0 || sqlpool_word(base, e + CALL_NOT_OWNED) != 0) return;
      if (std::find(met.begin(), met.end(), callee) != met.end()) return;
      met.push_back(callee);
      int32_t csd = 0, cstg = 0, csnd = 0, cdbg = 0;
      const int32_t r = DSCSL2(base, usr, &callee, &csd, &cstg, &csnd, &cdbg);
      if (r < 0 && first == 0) first = r;
      if (r == 0 && csd != 0) pending.push_back(csd);
    });
    DSGetMem(base, &d, 0);
  }
  if (first < 0) {
    static constexpr char kText[] = "Error when traversing internal structures in DSRSH3";
    StatusPair st{};
    const int32_t items[1] = {static_cast<int32_t>(sizeof kText - 1)};
    DSLogMsg(&st, SEV_ERROR, kText, nullptr, items, 1);
    DSErrRep("DSRSH3", 6, first, SEV_ERROR);
    return first;
  }
  return rc;
}

int32_t DSRelShpProgram(int32_t* base, int32_t* shp, int32_t* sd, int32_t* stg, int32_t* snd,
                        int32_t* dbginf) {
  const int32_t sys = KernelSys(base);
  if (sys == 0 || *shp == 0) return 0;
  const bool had_sd = *sd != 0;
  // A dropped program's descriptor comes back in *sd; nobody else frees it
  // when the caller had none.
  if (DSCSL2(base, sys + SYS_USR_START, shp, sd, stg, snd, dbginf) == 0 && !had_sd && *sd != 0) {
    int32_t block = *sd;
    DSGetMem(base, &block, 0);
    *sd = 0;
  }
  return 0;
}

void DSUnlinkShpStm(int32_t* base, int32_t com) {
  const int32_t sys = KernelSys(base);
  if (sys == 0 || !InStorage(base, com, COM_DBGINF + 1)) return;
  const int32_t shp = Wd(base, com, COM_SHP);
  int32_t stg = Wd(base, com, COM_STG);
  if (InStorage(base, shp, SHP_WORDS) && stg != 0) {
    if (stg == Wd(base, shp, SHP_STG)) {
      int32_t list, bucket;
      EnqdeqGuard guard(BucketSemaphore(base, sys, shp, &list, &bucket));
      if (Wd(base, shp, SHP_STG_USECOUNT) > 0) --Wd(base, shp, SHP_STG_USECOUNT);
    } else {
      DSGetMem(base, &stg, 0);
    }
  }
  for (int32_t w = COM_SD; w <= COM_DBGINF; ++w) Wd(base, com, w) = 0;
}

void FreeDebuggerInformation(int32_t* base, int32_t usr, int32_t* info) {
  if (*info == 0) return;
  int32_t request[2] = {0, usr};
  DSDBG2(base, request, DBG_FREE_INFO, info);
}

void KeepStorageImage(int32_t* base, int32_t shp) {
  const int32_t sd = Wd(base, shp, SHP_SD), stg = Wd(base, shp, SHP_STG);
  const int32_t words = InStorage(base, sd, SD_MIN_WORDS) ? Wd(base, sd, SD_STORAGE_WORDS) : 0;
  FreeStorageImage(base, shp);
  if (stg == 0 || words <= 0 || !InStorage(base, stg, words)) return;
  int32_t image = 0;
  DSGetMemRaw(base, &image, 4 * words);
  if (image == 0) return;  // holders besides the first then wait for the storage
  std::memcpy(&sqlpool_word(base, image), &sqlpool_word(base, stg), 4 * size_t(words));
  Wd(base, shp, SHP_STG_IMAGE) = image;
}

void FreeStorageImage(int32_t* base, int32_t shp) {
  int32_t image = Wd(base, shp, SHP_STG_IMAGE);
  if (image != 0) DSGetMem(base, &image, 0);
  Wd(base, shp, SHP_STG_IMAGE) = 0;
}

void FreeStorageBlock(int32_t* base, int32_t sd, int32_t stg) {
  // Block header word -3 holds minus the block's data words while in use.
  const bool inside = sd != 0 && stg >= sd && stg < sd - Wd(base, sd, -3);
  if (stg != 0 && !inside) DSGetMem(base, &stg, 0);
}

void DSResetStorageHandles(int32_t* base, int32_t sd, int32_t stg) {
  if (!InStorage(base, sd, SD_MIN_WORDS) || stg == 0) return;
  const int64_t words = Wd(base, sd, SD_STORAGE_WORDS);
  if (!InStorage(base, stg, words)) return;
  auto clear = [&](int64_t offset, int32_t n) {
    if (offset >= 0 && offset + n <= words)
      for (int32_t i = 0; i < n; ++i) sqlpool_word(base, stg + offset + i) = 0;
  };
  // The temporary-table list names record blocks whose open table (word 2)
  // is the holder's own; the dynamic list names storage words of their own.
  // The permanent tables stay: they are opened once, for every holder.
  const struct {
    int32_t list, word;
  } lists[] = {{SD_TEMP_TABLES, HANDLE_OBJECT}, {SD_DYNAMIC_LIST, 0}};
  for (const auto& l : lists) {
    const int32_t off = Wd(base, sd, l.list), count = Wd(base, sd, l.list + 1);
    if (off <= 0 || count <= 0 || !InStorage(base, int64_t{sd} + off, count)) continue;
    for (int32_t i = 0; i < count; ++i) {
      const int32_t at = Wd(base, sd, off + i);
      if (at < 0) break;
      clear(int64_t{at} + l.word, 1);
    }
  }
  ForEachCall(base, sd, [&](int32_t e) { clear(sqlpool_word(base, e + CALL_SLOT), 2); });
}
