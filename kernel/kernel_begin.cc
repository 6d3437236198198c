// DSChkBlkData, DSBEG2, DSMarkSysdbTrans and DSBanner (see kernel_begin.h).
#include "kernel/kernel_begin.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "dk/request.h"
#include "kernel/block_data.h"
#include "kernel/catalog_lists.h"
#include "kernel/control_blocks.h"
#include "kernel/databank_control.h"
#include "kernel/error_report.h"
#include "kernel/hash_lists.h"
#include "kernel/statement_columns.h"
#include "kernel/system_block.h"
#include "kernel/upper_services.h"
#include "kernel/xa_branches.h"
#include "platform/enqdeq.h"

namespace {

constexpr char kRoutine[] = "DSBEG2";
constexpr int32_t kRoutineLength = 6;


// Records a databank open's failure (or deferred error) in the SYS result
// vector words after RVEC.
void Record(int32_t* base, int32_t sys, const int32_t* rq) {
  Wd(base, sys, SYS_RVEC_BITVEC) = RVEC_MASK_DATABANK;
  Wd(base, sys, SYS_RVEC_LID) = rq[OPD_LID];
  Wd(base, sys, SYS_RVEC_SEQNO) = rq[OPD_SEQNO];
  Wd(base, sys, SYS_RVEC_ATTRIBUTE) = rq[OPD_TYPE];
  Wd(base, sys, SYS_RVEC_COUNTER) = rq[OPD_FILES];
}

int32_t Deferred(const int32_t* rq) {
  const int32_t d = rq[OPD_DEFERRED];
  return d < 0 && d != DCB_NO_DEFERRED ? d : 0;
}

struct Begin {
  int32_t* base;
  int32_t sys;
  bool warned = false;

  // Opens `lid` with `kind`. 0 to go on, or the error that ends the start.
  // A deferred error alone is recorded once as the start's warning.
  int32_t Open(int32_t kind, int32_t lid, int32_t* did, int32_t rvec_lid) {
    int32_t rq[OPD_WORDS] = {kind, lid};
    rq[OPD_SEQNO] = -1;
    DSOpenDcb(base, rq);
    const int32_t deferred = Deferred(rq);
    const bool failed = rq[OPD_KIND] != 0 && rq[OPD_KIND] != deferred;
    if (failed || (deferred != 0 && !warned)) {
      Record(base, sys, rq);
      if (rvec_lid != 0) Wd(base, sys, SYS_RVEC_LID) = rvec_lid;
    }
    if (failed) {
      int32_t status = rq[OPD_KIND] == -16186 ? TRANSDB_OPEN_FAILED : rq[OPD_KIND];
      Wd(base, sys, SYS_RVEC) = status;
      if (status == -16161) Wd(base, sys, SYS_RVEC_LID) = 1;
      return status;
    }
    if (deferred != 0 && !warned) {
      Wd(base, sys, SYS_RVEC) = deferred;
      warned = true;
    }
    *did = rq[OPD_DID];
    return 0;
  }
};

// The catalog version text of the check statement's column 1 (at most 8
// characters).
std::string CatalogVersion(int32_t* base, int32_t stm) {
  uint8_t* f = nullptr;
  int32_t len = 0;
  if (StatementField(base, stm, true, 1, &f, &len) != 0 || len < 1 || f[0] == 255) return "";
  return std::string(reinterpret_cast<char*>(f + 1), std::min(len - 1, 8));
}

void LogVersionMismatch(int32_t error, const std::string& version) {
  const std::string line1 = "ZAVOR/DB kernel error";
  const std::string tail = "in function DSBEG2";
  const std::string line2 = "Catalog version, " + version + ", not compatible with server version";
  const std::string text = line1 + tail + line2;
  const int32_t values[1] = {error};
  const int32_t items[6] = {static_cast<int32_t>(line1.size()), -1,
                            static_cast<int32_t>(tail.size()),  0,
                            static_cast<int32_t>(line2.size())};
  StatusPair st;
  DSLogMsg(&st, SEV_ERROR, text.data(), values, items, 5);
}

// Runs the thread's catalog check statement; 0 or its error.
int32_t CheckCatalog(int32_t* base, int32_t sys) {
  const int32_t thr = CurrentThread();
  const int32_t stm = InStorage(base, thr, THR_WORDS) ? Wd(base, thr, THR_STM_MOS_OBJECT) : 0;
  if (!InStorage(base, stm, STM_WORDS)) {
    if (InStorage(base, thr, THR_WORDS)) {
      Wd(base, thr + THR_USR_START, USR_RVEC_RCODE) = BEGIN_NO_CATALOG_STATEMENT;
      CopyResultVector(base, sys + SYS_RVEC, thr + THR_USR_START + USR_RVEC_RCODE);
    } else {
      Wd(base, sys, SYS_RVEC) = BEGIN_NO_CATALOG_STATEMENT;
    }
    DSErrRep(kRoutine, kRoutineLength, BEGIN_NO_CATALOG_STATEMENT, SEV_ERROR);
    return BEGIN_NO_CATALOG_STATEMENT;
  }
  const int32_t usr = thr + THR_USR_START;
  Wd(base, stm, STM_PC) = 2;
  int32_t result[1 + RVEC_WORDS] = {};
  UpDAMAE2(base, result, stm, usr);
  const int32_t rc = result[0];
  if (rc >= 0) return 0;
  std::string version;
  if (rc == CATALOG_VERSION_BETA || rc == CATALOG_VERSION_MISMATCH)
    version = CatalogVersion(base, stm);
  std::memcpy(&Wd(base, sys, SYS_RVEC), result + 1, RVEC_WORDS * sizeof(int32_t));
  Wd(base, sys, SYS_RVEC) = rc;
  if (rc == CATALOG_VERSION_MISMATCH)
    LogVersionMismatch(rc, version);
  else
    DSErrReport(kRoutine, kRoutineLength, rc, SEV_ERROR, nullptr, 0, 0);
  return rc;
}

int32_t Begin2(int32_t* base, int32_t sys, int32_t mode) {
  int32_t rq[OPD_WORDS] = {5, 1};
  DSOpenDcb(base, rq);
  const int32_t sysdb = rq[OPD_KIND] == 0 ? rq[OPD_DCB] : 0;
  if (sysdb == 0) {
    Wd(base, sys, SYS_RVEC) = KERNEL_NOT_STARTED;
    DSErrRep(kRoutine, kRoutineLength, KERNEL_NOT_STARTED, SEV_ERROR);
    return KERNEL_NOT_STARTED;
  }
  if (mode == -242) {
    const int32_t mark[1] = {4};
    DSMarkSysdbTrans(base, mark);
    return 0;
  }
  Begin b{base, sys};
  int32_t did = 0;
  int32_t rc = b.Open(3, 2, &did, 0);
  if (rc != 0) return rc;
  Wd(base, sys, SYS_TRANSDB_DID) = did;
  Wd(base, sys, SYS_SQLDB_DID) = did;
  if ((rc = b.Open(3, 4, &did, 0)) != 0) return rc;
  Wd(base, sys, SYS_SQLDB_DID) = did;
  if ((rc = b.Open(3, 3, &did, 0)) != 0) return rc;
  Wd(base, sys, SYS_LOGDB_DID) = did;
  // The system databank again from its catalog rows; the handle its first
  // open got is given back to the databank kernel.
  const int32_t earlier = Wd(base, sysdb, DCB_DID);
  if ((rc = b.Open(6, 1, &did, 1)) != 0) return rc;
  if (earlier != 0 && earlier != did) {
    int32_t cld[4] = {0, earlier, 1, -1};
    DKEXE1(DKF_CLD1, cld);
  }
  if ((rc = CheckCatalog(base, sys)) != 0) return rc;
  int32_t ctl[2] = {0, sys + SYS_USR_START};
  DSSysStmCtl(base, ctl, 3, 0, nullptr);
  if (ctl[0] != 0) return ctl[0];
  int32_t xa = 0;
  DSXAB2(base, &xa);
  if (xa != 0) return Wd(base, sys, SYS_RVEC) = xa;
  return b.warned ? Wd(base, sys, SYS_RVEC) : 0;
}

}  // namespace

int32_t DSChkBlkData() {
  // The word size is the one constant read before the others are built.
  const KernelBlockData* data = DSBlkData();
  if (data == nullptr) {
    DSErrRep("", 0, BLOCKDATA_NOT_BUILT, SEV_FATAL);
    return BLOCKDATA_NOT_BUILT;
  }
  if (data->word_size == 4) return 0;
  DSErrRep("", 0, BLOCKDATA_MISSING, SEV_FATAL);
  return BLOCKDATA_MISSING;
}

void DSBEG2(int32_t* base, int32_t* status, int32_t mode) {
  const int32_t sys = KernelSys(base);
  if (sys == 0) {
    *status = KERNEL_NOT_STARTED;
    return;
  }
  *status = Begin2(base, sys, mode);
}

void DSMarkSysdbTrans(int32_t* base, const int32_t* request) {
  if (request[0] != 4) return;
  const int32_t sys = KernelSys(base);
  if (sys == 0) return;
  if (const int32_t list = Wd(base, sys, SYS_DCB_LIST); list != 0) {
    const int32_t bucket = HashListBucket(base, list, 1);
    EnqdeqGuard guard(HashListSemaphore(base, list, bucket));
    if (const int32_t dcb = FindDcbLocked(base, list, bucket, 1); dcb != 0)
      Wd(base, dcb, DCB_TRANS_MODE) = 1;
  }
  const int32_t tcbs = Wd(base, sys, SYS_TCB_LIST);
  if (!InStorage(base, tcbs, HL_HEADS)) return;
  const int32_t buckets = Wd(base, tcbs, HL_BUCKETS);
  for (int32_t b = 0; b < buckets; ++b) {
    EnqdeqGuard guard(HashListSemaphore(base, tcbs, b));
    int32_t tcb = sqlpool_word(base, HashListHead(base, tcbs, b));
    for (int32_t steps = 0; tcb != 0 && steps < (1 << 20); ++steps) {
      if (!InStorage(base, tcb, TCB_WORDS)) break;
      if (Wd(base, tcb, TCB_LID) == 1) Wd(base, tcb, TCB_TRANS_MODE) = 1;
      tcb = Wd(base, tcb, TCB_NEXT);
    }
  }
}

void DSBanner(int32_t* request, char* field, char* area, int32_t* length) {
  std::memset(field, ' ', 20);
  std::memcpy(field, request[1] == 1 ? "ZAVOR/DB" : "ZAVOR/??", 8);
  std::memset(area, ' ', 40);
  *length = 4;
  request[0] = 0;
}
