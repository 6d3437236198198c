// Giving databank references back (DSCloseDcb) and the utilities' databank
// look-ups (DSFindDcbByName, DSChkDbList). The bucket semaphore guards the
// chain and REFCOUNT; the databank kernel's close runs after it is given back.
#include <cstring>

#include "dk/databank_file.h"
#include "dk/request.h"
#include "kernel/control_blocks.h"
#include "kernel/databank_control.h"
#include "kernel/hash_lists.h"
#include "kernel/system_block.h"
#include "platform/enqdeq.h"

namespace {

constexpr int32_t kRootPageCode = 51;

int32_t CloseInKernel(int32_t mode, int32_t did, int32_t lid, int32_t seqno) {
  int32_t cld[4] = {mode, did, lid, seqno};
  DKEXE1(DKF_CLD1, cld);
  return cld[0];
}

void FreeDcb(int32_t* base, int32_t dcb) {
  Wd(base, dcb, DCB_DID) = 0;
  Wd(base, dcb, DCB_LID) = 0;
  DSGetMem(base, &dcb, 0);
}

void Unlink(int32_t* base, int32_t head, int32_t dcb) {
  for (int32_t at = head; sqlpool_word(base, at) != 0; at = sqlpool_word(base, at) + DCB_NEXT) {
    if (sqlpool_word(base, at) == dcb) {
      sqlpool_word(base, at) = Wd(base, dcb, DCB_NEXT);
      return;
    }
  }
}

// Mode 2: every databank closed and every block freed.
void CloseAll(int32_t* base, int32_t list) {
  const int32_t n = Wd(base, list, HL_BUCKETS);
  for (int32_t b = 0; b < n; ++b) {
    EnqdeqGuard guard(HashListSemaphore(base, list, b));
    const int32_t head = HashListHead(base, list, b);
    int32_t d = sqlpool_word(base, head);
    sqlpool_word(base, head) = 0;
    while (d != 0 && InStorage(base, d, DCB_WORDS)) {
      const int32_t next = Wd(base, d, DCB_NEXT);
      const int32_t a = Wd(base, d, DCB_ACCESS_MODE);
      if (a < 10) {
        if (Wd(base, d, DCB_LOBDIR_TCB) != 0) DSClsLobdir(base, d);
        CloseInKernel(a == 4 ? 2 : 0, Wd(base, d, DCB_DID), Wd(base, d, DCB_LID), -1);
      }
      FreeDcb(base, d);
      d = next;
    }
  }
}

}  // namespace

void DSCloseDcb(int32_t* base, int32_t* rq) {
  const int32_t sys = KernelSys(base);
  const int32_t list = sys != 0 ? Wd(base, sys, SYS_DCB_LIST) : 0;
  const int32_t mode = rq[CLS_MODE], lid = rq[CLS_LID], ref = rq[CLS_REF];
  if (list == 0) {
    rq[CLS_MODE] = KERNEL_NOT_STARTED;
    return;
  }
  if (mode == 2) {
    CloseAll(base, list);
    rq[CLS_MODE] = 0;
    return;
  }
  if (mode < 0 || mode > 3) {
    rq[CLS_MODE] = DCB_BAD_CLOSE_MODE;
    return;
  }
  int32_t dcb = 0;
  bool last = false;
  {
    const int32_t bucket = HashListBucket(base, list, lid);
    EnqdeqGuard guard(HashListSemaphore(base, list, bucket));
    dcb = FindDcbLocked(base, list, bucket, lid);
    if (dcb == 0) {
      rq[CLS_MODE] = DCB_NOT_FOUND;
      return;
    }
    // A refused mode-3 close changes nothing: the block, its count and the
    // open databank stay as they were.
    if (mode == 3 && ref < 0 && Wd(base, dcb, DCB_ACCESS_MODE) != 1 &&
        Wd(base, sys, SYS_SYSTEM_EXCLUSIVE) == 0) {
      rq[CLS_MODE] = DCB_NOT_EXCLUSIVE;
      return;
    }
    if (ref < 0) --Wd(base, dcb, DCB_REFCOUNT);
    if (Wd(base, dcb, DCB_REFCOUNT) < 1 || mode != 0) {
      Unlink(base, HashListHead(base, list, bucket), dcb);
      last = true;
    }
  }
  if (last && Wd(base, dcb, DCB_LOBDIR_TCB) != 0) DSClsLobdir(base, dcb);
  const int32_t a = Wd(base, dcb, DCB_ACCESS_MODE), did = Wd(base, dcb, DCB_DID);
  int32_t r = 0;
  if (mode == 3 && ref < 0) {
    int32_t roo[ROO_WORDS] = {7, did, lid};
    roo[ROO_WORDS - 1] = -1;
    DKEXE1(kRootPageCode, roo);
    r = roo[0];
    if (r == 0 && a < 10) r = CloseInKernel(1, did, lid, ref);
  } else if (!last) {
    rq[CLS_MODE] = 0;
    return;
  } else if (did != 0 && a < 10) {
    r = CloseInKernel(mode == 1 ? -22 : a == 4 ? 2 : 0, did, lid, ref);
  }
  rq[CLS_MODE] = r == 0 ? 0 : r - DK_ERROR_BIAS;
  if (last) FreeDcb(base, dcb);
}
