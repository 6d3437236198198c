// Giving databank references back (DSCloseDcb) and the utilities' databank
// look-ups (DSFindDcbByName, DSChkDbList). The bucket semaphore guards the
// chain and REFCOUNT; the databank kernel's close runs after it is given back.
#include <cstring>

#include "dk/databank_copies.h"
#include "dk/databank_file.h"
#include "dk/request.h"
#include "kernel/control_blocks.h"
#include "kernel/databank_control.h"
#include "kernel/hash_lists.h"
#include "kernel/system_block.h"
#include "platform/enqdeq.h"

namespace {

constexpr int32_t kRootPageCode = 51;
constexpr int32_t kCopiesCurrentCode = 43;  // DKOCD1

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
  // A reference given back without being the last leaves the block to its
  // other holders: it is not read again (the last of them may free it).
  if (!last) {
    rq[CLS_MODE] = 0;
    return;
  }
  if (Wd(base, dcb, DCB_LOBDIR_TCB) != 0) DSClsLobdir(base, dcb);
  const int32_t a = Wd(base, dcb, DCB_ACCESS_MODE), did = Wd(base, dcb, DCB_DID);
  int32_t r = 0;
  if (mode == 3 && ref < 0) {
    int32_t roo[ROO_WORDS] = {7, did, lid};
    roo[ROO_WORDS - 1] = -1;
    DKEXE1(kRootPageCode, roo);
    r = roo[0];
    if (r == 0 && a < 10) r = CloseInKernel(1, did, lid, ref);
  } else if (did != 0 && a < 10) {
    r = CloseInKernel(mode == 1 ? -22 : a == 4 ? 2 : 0, did, lid, ref);
  }
  rq[CLS_MODE] = r == 0 ? 0 : r - DK_ERROR_BIAS;
  FreeDcb(base, dcb);
}

namespace {

// A root-page request {code, entry, LID, ..., value in word 9, SEQNO -1}.
int32_t RootPage(int32_t code, int32_t did, int32_t lid, int32_t value, int32_t* stamp) {
  int32_t roo[ROO_WORDS] = {code, did, lid};
  roo[ROO_STAMP] = value;
  roo[ROO_SEQNO] = -1;
  DKEXE1(kRootPageCode, roo);
  if (stamp != nullptr) *stamp = roo[ROO_STAMP];
  return roo[ROO_CODE];
}

}  // namespace

void DSFindDcbByName(int32_t* base, int32_t* status, int32_t* value1, int32_t* value4,
                     const uint8_t* name) {
  const int32_t sys = KernelSys(base);
  const int32_t list = sys != 0 ? Wd(base, sys, SYS_DCB_LIST) : 0;
  if (list == 0) {
    *status = KERNEL_NOT_STARTED;
    return;
  }
  int32_t did = 0, lid = 0;
  const int32_t n = Wd(base, list, HL_BUCKETS);
  for (int32_t b = 0; b < n && did == 0; ++b) {
    EnqdeqGuard guard(HashListSemaphore(base, list, b));
    for (int32_t d = sqlpool_word(base, HashListHead(base, list, b)); d != 0;
         d = Wd(base, d, DCB_NEXT)) {
      if (std::memcmp(&Wd(base, d, DCB_DNAME), name, 128) == 0) {
        did = Wd(base, d, DCB_DID);
        lid = Wd(base, d, DCB_LID);
        break;
      }
    }
  }
  if (did == 0) {
    *status = DCB_NOT_FOUND;
    return;
  }
  const int32_t r = RootPage(1, did, lid, 0, value1);
  if (r < 0) {
    *status = r - DK_ERROR_BIAS;
    return;
  }
  int32_t slot = 0;
  *value4 = RootPage(4, did, lid, 0, &slot) == 0 ? slot : 0;
  *status = 0;
}

void DSChkDbList(int32_t* base, int32_t* rq) {
  const int32_t usr = rq[CDL_USR];
  const int32_t count = rq[CDL_COUNT];
  const int64_t n = count < 0 ? -int64_t{count} : count;
  auto fail = [&](int32_t status, int32_t lid, int32_t mask) {
    rq[CDL_STATUS] = status;
    if (!InStorage(base, usr, USR_WORDS)) return;
    Wd(base, usr, USR_RVEC_RCODE) = status;
    Wd(base, usr, USR_RVEC_BITVEC) = mask;
    if (mask != 0) {
      Wd(base, usr, USR_RVEC_LID) = lid;
      Wd(base, usr, USR_RVEC_SEQNO) = rq[CDL_VALUE];
    }
  };
  if (KernelSys(base) == 0) return fail(KERNEL_NOT_STARTED, 0, 0);
  // Nothing past the list's limit is read.
  if (n > CDL_MAX_COUNT) return fail(KERNEL_BAD_PARAMETER, 0, 0);
  for (int32_t i = 0; i < n; ++i) {
    const int32_t lid = rq[CDL_FIRST_LID + i];
    int32_t look[OPD_WORDS] = {5, lid};
    DSOpenDcb(base, look);
    if (look[OPD_KIND] != 0) return fail(DCB_NO_ROW, lid, RVEC_MASK_DATABANK);
    int32_t r = RootPage(1, look[OPD_DID], lid, 0, nullptr);
    if (r == 0) r = RootPage(9, look[OPD_DID], lid, rq[CDL_VALUE], nullptr);
    if (r < 0) return fail(r - DK_ERROR_BIAS, lid, RVEC_MASK_DATABANK);
  }
  int32_t ocd[OCD_FIRST_DID + CDL_MAX_COUNT] = {0, count, rq[CDL_VALUE]};
  for (int32_t i = 0; i < n; ++i) ocd[OCD_FIRST_DID + i] = rq[CDL_FIRST_LID + i];
  DKEXE1(kCopiesCurrentCode, ocd);
  if (ocd[0] < 0) return fail(ocd[0] - DK_ERROR_BIAS, 0, 0);
  rq[CDL_STATUS] = 0;
}
