// Databank file requests: DSOpenDbFile claims a databank's DCB for the
// calling session alone (making it when needed), sends the databank kernel
// the open or create request its mode names, creates the base tables of a
// new TRANS or LOG databank and records their indexes in SYS. Every failure
// gives back what the call took. The bucket semaphore is held only while
// the bucket is searched and the DCB claimed, made or unlinked.
#include <atomic>
#include <cstring>

#include "dk/bitmap_page.h"
#include "dk/bufferpool.h"
#include "dk/databank_file.h"
#include "dk/databank_format.h"
#include "dk/request.h"
#include "dk/table_entries.h"
#include "kernel/control_blocks.h"
#include "kernel/databank_control.h"
#include "kernel/hash_lists.h"
#include "kernel/shared_programs.h"
#include "kernel/system_block.h"
#include "platform/enqdeq.h"

namespace {

constexpr int32_t kCreateCode = 15;
constexpr int32_t kCreateTableCode = 16;
constexpr int32_t kCloseTableCode = 13;

struct ModeRow {
  int32_t code;         // 44 open, 15 create
  int32_t kernel_mode;  // request word 0
  int32_t size;         // 0 none, 1 request word 6, 2 word 6 raised to 4
};

// Modes 1 to 12.
constexpr ModeRow kModes[13] = {
    {0, 0, 0},           {DKF_OPD1, 1, 0},     {kCreateCode, 0, 0}, {kCreateCode, -1, 2},
    {kCreateCode, 0, 1}, {kCreateCode, 1, 1},  {kCreateCode, 2, 1}, {DKF_OPD1, 1, 0},
    {DKF_OPD1, 3, 0},    {kCreateCode, -2, 2}, {DKF_OPD1, 3, 0},    {DKF_OPD1, 1, 0},
    {DKF_OPD1, 3, 0},
};

struct BaseTable {
  int32_t lid, table, type, key, record, method;
};
constexpr BaseTable kBaseTables[] = {
    {2, 10, 51, 0, 0, 0},
    {2, 5, 11, 128, 148, 0},
    {3, 8, 151, 0, 0, 2},
    {3, 240, 61, 20, 44, 0},
};

bool Apart(int32_t type) {
  return type == 5 || type == 7 || type == 8;
}

// The transaction databank keeps its tables in a chain of root pages that
// its header's word 4 names (where other databanks have their restore
// directory); a new file has none, so its first root page is made here,
// written at once, before the header that names it.
int32_t GiveTransRootPage(int32_t entry) {
  int32_t rq[REQ_WORDS] = {entry, 0, kUnitBytes, 0, -1, 0};
  if (const int32_t rc = DKHLD0(rq, 0)) return rc;
  const int32_t root = rq[REQ_PAGE];
  int32_t get[REQ_WORDS] = {entry, root, kUnitBytes, 0, -1, 0};
  int32_t b = DKGET0(get, GET_NEW);
  if (b < 0) return b;
  std::memset(PageWords(b) + 1, 0, kUnitBytes - 4);
  PageWords(b)[HDR_KIND] = ROOT_PAGE_KIND;
  if (const int32_t rc = WriteUnitPage(entry, root, b)) return rc;
  b = GetUnitPage(entry, kHeaderUnit, GET_UPDATE, get);
  if (b < 0) return b;
  PageWords(b)[HDR_RESTORE_DIRECTORY] = root;
  return WriteUnitPage(entry, kHeaderUnit, b);
}

}  // namespace

int32_t CreateBaseTables(int32_t lid, int32_t entry) {
  if (lid == 2) {
    if (const int32_t rc = GiveTransRootPage(entry); rc != 0) return rc - DK_ERROR_BIAS;
  }
  for (const BaseTable& t : kBaseTables) {
    if (t.lid != lid) continue;
    int32_t c[CRT_WORDS] = {};
    c[RQ_STATUS] = -2;
    c[RQ_DID] = lid;
    c[RQ_TYPE] = t.type;
    c[RQ_TBL] = t.table;
    c[RQ_KEY_LENGTH] = t.key;
    c[RQ_RECORD_LENGTH] = t.record;
    c[RQ_METHOD] = t.method;
    DKEXE1(kCreateTableCode, c);
    if (c[RQ_STATUS] != 0) return c[RQ_STATUS] - DK_ERROR_BIAS;
    c[RQ_STATUS] = 0;
    DKEXE1(kCloseTableCode, c);
    if (c[RQ_STATUS] != 0) return c[RQ_STATUS] - DK_ERROR_BIAS;
  }
  return 0;
}

namespace {

// Step 2-4: finds, claims or makes the DCB. 0 with *dcb (0 when none is
// made) and *taken, or the refusal.
int32_t ClaimDcb(int32_t* base, int32_t sys, int32_t list, const int32_t* rq, int32_t owner,
                 int32_t* dcb, bool* taken, bool* found) {
  const int32_t mode = rq[ODF_MODE], lid = rq[ODF_LID], type = rq[ODF_TYPE];
  const int32_t bucket = HashListBucket(base, list, lid);
  int32_t* sem = HashListSemaphore(base, list, bucket);
  enqdeq_take(sem);
  int32_t d = FindDcbLocked(base, list, bucket, lid);
  *dcb = d;
  *found = d != 0;
  if (d != 0) {
    if (type == 5 || type == 8) {
      const bool refused = Wd(base, d, DCB_ACCESS_MODE) != 1 &&
                           Wd(base, sys, SYS_SYSTEM_EXCLUSIVE) == 0 && mode != 10 && mode != 12 &&
                           type == 5;
      enqdeq_give(sem);
      return refused ? DCB_NOT_EXCLUSIVE : 0;
    }
    if (lid == 2) {
      enqdeq_give(sem);
      return 0;
    }
    if (Wd(base, d, DCB_REFCOUNT) != 0) {
      enqdeq_give(sem);
      return DCB_IN_USE;
    }
    Wd(base, d, DCB_REFCOUNT) = 1;
    Wd(base, d, DCB_EXCLUSIVE_CHA) = owner;
    Wd(base, d, DCB_ACCESS_MODE) = 1;
    enqdeq_give(sem);
    *taken = true;
    const int32_t did = Wd(base, d, DCB_DID);
    if (did != 0) {
      int32_t cld[4] = {-22, did, lid, -1};
      DKEXE1(DKF_CLD1, cld);
      Wd(base, d, DCB_DID) = 0;
    }
    if (Wd(base, d, DCB_LOBDIR_TCB) != 0) DSClsLobdir(base, d);
    return 0;
  }
  if (type == 5 && mode != 4 && mode != 7 && mode != 8 && mode != 10) {
    enqdeq_give(sem);
    return 0;
  }
  DSGetMem(base, &d, DCB_BYTES);
  if (d == 0) {
    enqdeq_give(sem);
    return SQLPOOL_EXHAUSTED_ERROR;
  }
  Wd(base, d, DCB_LID) = lid;
  Wd(base, d, DCB_ACCESS_MODE) = 1;
  Wd(base, d, DCB_TRANS_MODE) = type == 5 ? 3 : type;
  Wd(base, d, DCB_MASTER_SEQNO) = type == 5 ? 0 : rq[ODF_SEQNO];
  Wd(base, d, DCB_REFCOUNT) = 1;
  Wd(base, d, DCB_EXCLUSIVE_CHA) = owner;
  std::memcpy(&Wd(base, d, DCB_DNAME), rq + ODF_NAME, 128);
  enqdeq_init_semaphore(&Wd(base, d, DCB_S), 1);
  const int32_t head = HashListHead(base, list, bucket);
  Wd(base, d, DCB_NEXT) = sqlpool_word(base, head);
  sqlpool_word(base, head) = d;
  enqdeq_give(sem);
  *dcb = d;
  *taken = true;
  return 0;
}

// The next logical id of a file of its own that no DCB carries.
int32_t OwnFileLid(int32_t* base, int32_t list) {
  static std::atomic<int32_t> next{ODF_FIRST_OWN_LID};
  for (;;) {
    int32_t lid = next.fetch_add(1, std::memory_order_relaxed);
    if (lid < ODF_FIRST_OWN_LID) {
      next.store(ODF_FIRST_OWN_LID + 1, std::memory_order_relaxed);
      lid = ODF_FIRST_OWN_LID;
    }
    const int32_t bucket = HashListBucket(base, list, lid);
    EnqdeqGuard guard(HashListSemaphore(base, list, bucket));
    if (FindDcbLocked(base, list, bucket, lid) == 0) return lid;
  }
}

void UnlinkAndFree(int32_t* base, int32_t list, int32_t lid, int32_t dcb) {
  const int32_t bucket = HashListBucket(base, list, lid);
  {
    EnqdeqGuard guard(HashListSemaphore(base, list, bucket));
    for (int32_t at = HashListHead(base, list, bucket); sqlpool_word(base, at) != 0;
         at = sqlpool_word(base, at) + DCB_NEXT) {
      if (sqlpool_word(base, at) == dcb) {
        sqlpool_word(base, at) = Wd(base, dcb, DCB_NEXT);
        break;
      }
    }
  }
  DSGetMem(base, &dcb, 0);
}

}  // namespace

void DSOpenDbFile(int32_t* base, int32_t* rq) {
  const int32_t sys = KernelSys(base);
  const int32_t list = sys != 0 ? Wd(base, sys, SYS_DCB_LIST) : 0;
  if (list == 0) {
    rq[ODF_MODE] = KERNEL_NOT_STARTED;
    return;
  }
  // A file of its own (a backup's or an incremental file) is held under a
  // logical id of its own, handed back in word 2: the databank kernel
  // knows a databank by a positive id only, and two such files may be open
  // at once.
  if (rq[ODF_LID] == ODF_OWN_FILE) rq[ODF_LID] = OwnFileLid(base, list);
  const int32_t mode = rq[ODF_MODE], lid = rq[ODF_LID], type = rq[ODF_TYPE];
  int32_t dcb = 0;
  bool taken = false, found = false;
  int32_t status = ClaimDcb(base, sys, list, rq, CurrentSession(base), &dcb, &taken, &found);
  if (status != 0) {
    rq[ODF_MODE] = status;
    return;
  }
  int32_t index = 0, open_index = 0;
  if (mode < 1 || mode > 12) status = ODF_BAD_MODE;
  if (status == 0) {
    const ModeRow& row = kModes[mode];
    int32_t crd[CRD_WORDS] = {};
    crd[CRD_MODE] = row.kernel_mode;
    crd[CRD_UNITS] = row.size == 0 ? 0 : rq[ODF_SIZE];
    if (row.size == 2 && crd[CRD_UNITS] >= 0 && crd[CRD_UNITS] <= 3) crd[CRD_UNITS] = 4;
    crd[CRD_DID] = lid;
    crd[CRD_SEQNO] = rq[ODF_SEQNO];
    crd[CRD_TYPE] = type;
    std::memcpy(crd + CRD_FILE, rq + ODF_FILE, 256);
    std::memcpy(crd + CRD_NAME, rq + (type == 5 ? ODF_KERNEL_NAME : ODF_NAME), 128);
    DKEXE1(row.code, crd);
    const int32_t r = crd[CRD_MODE];
    if (r == 0 || (mode == 11 && r == -19)) {
      index = open_index = crd[CRD_UNITS];
      if (mode == 11 && r == -19) status = ODF_NEEDS_RESTORE;
      if (mode == 12) {
        int32_t cld[4] = {0, index, lid, -1};
        DKEXE1(DKF_CLD1, cld);
        open_index = 0;
      }
      if (rq[ODF_SEQNO] == -1) rq[ODF_SEQNO] = crd[CRD_SEQNO];
    } else {
      status = r - DK_ERROR_BIAS;
    }
  }
  if ((status == 0 || status == ODF_NEEDS_RESTORE) && (lid == 2 || lid == 3) && !Apart(type)) {
    int32_t created = 0;
    if (mode == 3 || mode == 9) created = CreateBaseTables(lid, index);
    if (created != 0) {
      status = created;
    } else if (lid == 2) {
      Wd(base, sys, SYS_TRANSDB_DID) = index;
      Wd(base, sys, SYS_SQLDB_DID) = index;
    } else {
      Wd(base, sys, SYS_LOGDB_DID) = index;
    }
  }
  if ((status == 0 || status == ODF_NEEDS_RESTORE) && taken &&
      (!Apart(type) || mode == 4 || mode == 7 || mode == 8 || mode == 10))
    Wd(base, dcb, DCB_DID) = index;
  if ((status == 0 || status == ODF_NEEDS_RESTORE) && dcb != 0 && Wd(base, dcb, DCB_LID) == 3 &&
      Wd(base, dcb, DCB_DID) != 0) {
    const int32_t rc = DSOpnLobdir2(base, dcb, LOGDB_LOBDIR_TABLE);
    if (rc != 0) status = rc;
  }
  rq[ODF_MODE] = status;
  if (status == 0 || status == ODF_NEEDS_RESTORE) return;
  // Failure: close what the kernel opened, in every mode, and give back
  // what was taken.
  if (open_index != 0) {
    int32_t cld[4] = {-22, open_index, lid, -1};
    DKEXE1(DKF_CLD1, cld);
  }
  if (taken) {
    if (Wd(base, dcb, DCB_LOBDIR_TCB) != 0) DSClsLobdir(base, dcb);
    UnlinkAndFree(base, list, lid, dcb);
  }
}

void DSOpenSesDb(int32_t* base, int32_t* rq) {
  const int32_t lid = rq[ODF_LID];
  if (lid < 1 || lid > 4) {
    const int32_t thr = CurrentThread();
    if (!InStorage(base, thr, THR_WORDS)) {
      rq[ODF_MODE] = DCB_NO_THREAD;
      return;
    }
    const int32_t refs = DSGetDcbRefs(base, lid);
    if (refs < 0) {
      rq[ODF_MODE] = refs;
      return;
    }
    // Unused routine programs hold references to the databank: drop them.
    if (refs > 0) DSFlushShpPsm(base);
  }
  DSOpenDbFile(base, rq);
}
