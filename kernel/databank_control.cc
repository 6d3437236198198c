// DSOpenDcb, DSOpenSysdb and the LOB directory of a databank. Lock order:
// a DCB's S, then the DCB_LIST bucket semaphore; the catalog statement and
// every databank kernel request run with no list semaphore held.
#include "kernel/databank_control.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "dk/databank_file.h"
#include "dk/request.h"
#include "kernel/control_blocks.h"
#include "kernel/error_report.h"
#include "kernel/hash_lists.h"
#include "kernel/shared_programs.h"
#include "kernel/statement_columns.h"
#include "kernel/system_block.h"
#include "kernel/upper_services.h"
#include "platform/enqdeq.h"

namespace {

int32_t ClaimedMode(int32_t kind) {
  switch (kind) {
    case 1:
    case 7:
      return 1;
    case 2:
      return 2;
    case 3:
    case 4:
    case 6:
      return 3;
    case 5:
      return 0;
    default:
      return -1;
  }
}

// a + m < 6 and (m < a, or the caller is not the holder), or a = 10 with m < 3.
bool Conflicts(int32_t a, int32_t m, int32_t owner, int32_t holder) {
  return (a + m < 6 && (m < a || owner != holder)) || (a == 10 && m < 3);
}

void PutText(int32_t* words, const std::string& text, int32_t bytes) {
  char* p = reinterpret_cast<char*>(words);
  std::memset(p, ' ', bytes);
  std::memcpy(p, text.data(), std::min<size_t>(text.size(), bytes));
}

// A text column into `out` (value bytes); 0, COLUMN_NULL or an error.
int32_t ColumnText(int32_t* base, int32_t stm, int32_t n, std::string* out) {
  uint8_t* f;
  int32_t len;
  int32_t rc = StatementField(base, stm, true, n, &f, &len);
  if (rc != 0) return rc;
  if (f[0] == 255) return COLUMN_NULL;
  out->assign(reinterpret_cast<char*>(f + 1), len - 1);
  return 0;
}

int32_t ColumnInt(int32_t* base, int32_t stm, int32_t n) {
  int32_t status = 0, v = 0;
  DSGetColInt(base, &status, stm, n, &v);
  return status == 0 ? v : 0;
}

void CloseDatabankFiles(int32_t mode, int32_t index, int32_t lid, int32_t seqno) {
  int32_t cld[4] = {mode, index, lid, seqno};
  DKEXE1(DKF_CLD1, cld);
}

struct OpenState {
  int32_t m, kind, lid, dcb, files = 0, index = 0, seqno = 0, type = 0, lobdir = 0;
  std::string name;
};

void SetOffline(int32_t* base, int32_t sys, int32_t lid, int32_t value) {
  const int32_t field = lid == 1 ? SYS_SYSDB_OFFLINE : SYS_DATABASE_OFFLINE;
  EnqdeqGuard guard(&Wd(base, sys, SYS_S));
  Wd(base, sys, field) = value;
}

// One databank row: checks it and opens its file. 0 to go on, or the status
// that ends the open (request words 4, 5, 7 set).
int32_t OpenRow(int32_t* base, int32_t sys, int32_t stm, int32_t* rq, OpenState* s) {
  std::string letter, offline, file, name, shadow;
  ColumnText(base, stm, DBROW_TYPE, &letter);
  const char* types = "NTLWS";
  const char* at = letter.empty() ? nullptr : std::strchr(types, letter[0]);
  if (at == nullptr || letter[0] == 0) return DCB_BAD_TYPE;
  int32_t type = static_cast<int32_t>(at - types) + 1;
  if (type == 5 && ColumnText(base, stm, DBROW_SHADOW, &shadow) == 0 && !shadow.empty() &&
      shadow[0] == 'Y')
    type = 6;
  const bool is_offline =
      ColumnText(base, stm, DBROW_OFFLINE, &offline) == 0 && !offline.empty() && offline[0] == 'Y';
  if (s->lid == 1 || s->lid == 3) SetOffline(base, sys, s->lid, is_offline ? 1 : 0);
  if (is_offline && s->lid >= 4 && s->kind != 7) return DCB_OFFLINE;
  ColumnText(base, stm, DBROW_FILE, &file);
  ColumnText(base, stm, DBROW_NAME, &name);
  const int32_t seqno = ColumnInt(base, stm, DBROW_SEQNO);
  int32_t crd[CRD_WORDS] = {};
  crd[CRD_MODE] = s->m;
  crd[CRD_DID] = s->lid;
  crd[CRD_SEQNO] = seqno;
  crd[CRD_TYPE] = type;
  PutText(crd + CRD_FILE, file, 256);
  PutText(crd + CRD_NAME, name, 128);
  DKEXE1(DKF_OPD1, crd);
  if (crd[CRD_MODE] == 0) {
    ++s->files;
    s->index = crd[CRD_UNITS];
    s->seqno = seqno;
    s->type = type;
    s->name = name;
    s->lobdir = ColumnInt(base, stm, DBROW_LOBDIR);
    return 0;
  }
  const int32_t status = crd[CRD_MODE] - DK_ERROR_BIAS;
  rq[OPD_SEQNO] = seqno;
  rq[OPD_TYPE] = type;
  rq[OPD_FILES] = s->files;
  s->type = type;
  if (type == 5) {
    rq[OPD_DEFERRED] = status;
    return 0;
  }
  if (s->lid == 2 && s->files > 0) {
    rq[OPD_DEFERRED] = status;
    return 0;
  }
  return status;
}

// Runs the catalog's databank statement and opens every file it names.
int32_t OpenFiles(int32_t* base, int32_t sys, int32_t* rq, OpenState* s) {
  const int32_t thr = CurrentThread();
  if (!InStorage(base, thr, THR_WORDS)) return DCB_NO_THREAD;
  const int32_t stm = Wd(base, thr, THR_STM_MOS_DATABANK);
  if (!InStorage(base, stm, STM_WORDS)) return DCB_NO_THREAD;
  const int32_t usr = thr + THR_USR_START;
  int32_t st = 0;
  DSSetParInt(base, &st, stm, 1, s->lid);
  if (st == 0 && s->kind == 6) DSSetParInt(base, &st, stm, 2, Wd(base, s->dcb, DCB_MASTER_SEQNO));
  if (st == 0 && s->kind != 6) DSSetParNull(base, &st, stm, 2);
  if (st != 0) return st;
  const int32_t tp = Wd(base, usr, USR_TP);  // detached for the run
  Wd(base, usr, USR_TP) = 0;
  Wd(base, stm, STM_PC) = 2;
  int32_t status = 0, rows = 0;
  for (;;) {
    int32_t result[1 + RVEC_WORDS] = {};
    UpDAMAE2(base, result, stm, usr);
    if (result[0] != 0 || Wd(base, stm, STM_PC) == 0) {
      if (result[0] < 0 || rows == 0) status = result[0];
      break;
    }
    ++rows;
    status = OpenRow(base, sys, stm, rq, s);
    if (status != 0) break;
  }
  Wd(base, usr, USR_TP) = tp;
  if (status != 0 || rows == 0) {
    if (s->index != 0) CloseDatabankFiles(0, s->index, s->lid, -1);
    // A statement that ends without a row opened nothing: never a success.
    if (rows == 0 && status >= 0) status = DCB_NO_ROW;
    if (rows == 0 || status == DCB_BAD_TYPE || status == DCB_OFFLINE) rq[OPD_SEQNO] = -1;
    return status;
  }
  if (s->type == 5) {
    rq[OPD_TYPE] = 3;
    if (rq[OPD_DEFERRED] < 0) return rq[OPD_DEFERRED];
    rq[OPD_SEQNO] = -1;
    return DCB_LAST_IS_COPY;
  }
  Wd(base, s->dcb, DCB_TRANS_MODE) = s->type;
  Wd(base, s->dcb, DCB_DID) = s->index;
  Wd(base, s->dcb, DCB_MASTER_SEQNO) = s->seqno;
  PutText(&Wd(base, s->dcb, DCB_DNAME), s->name, 128);
  rq[OPD_FILES] = s->files;
  const int32_t table = s->lid == 3 ? LOGDB_LOBDIR_TABLE : s->lobdir;
  if (table > 0) DSOpnLobdir2(base, s->dcb, table);
  return 0;
}

// Under the bucket semaphore: finds or creates the DCB and takes a
// reference. Returns 0 with *dcb (and *created when made here, its S held),
// 1 when the caller is done (rq set), or an error.
int32_t TakeReference(int32_t* base, int32_t list, int32_t* rq, int32_t m, int32_t owner,
                      int32_t* dcb, bool* created, bool* referenced) {
  const int32_t kind = rq[OPD_KIND], lid = rq[OPD_LID];
  const int32_t bucket = HashListBucket(base, list, lid);
  EnqdeqGuard guard(HashListSemaphore(base, list, bucket));
  int32_t d = FindDcbLocked(base, list, bucket, lid);
  if (d != 0) {
    *dcb = d;
    if (kind == 5) {
      rq[OPD_KIND] = 0;
      rq[OPD_DID] = Wd(base, d, DCB_DID);
      rq[OPD_DCB] = d;
      return 1;
    }
    if (kind == 6) return 0;
    const int32_t a = Wd(base, d, DCB_ACCESS_MODE);
    if (Conflicts(a, m, owner, Wd(base, d, DCB_EXCLUSIVE_CHA))) return DCB_IN_USE;
    ++Wd(base, d, DCB_REFCOUNT);
    *referenced = true;
    if (a <= m) {
      rq[OPD_KIND] = 0;
      rq[OPD_DID] = Wd(base, d, DCB_DID);
      rq[OPD_DCB] = d;
      return 1;
    }
    return 0;
  }
  if (kind == 5) return 1;
  DSGetMem(base, &d, DCB_BYTES);
  if (d == 0) return SQLPOOL_EXHAUSTED_ERROR;
  enqdeq_init_semaphore(&Wd(base, d, DCB_S), 0);
  const int32_t head = HashListHead(base, list, bucket);
  Wd(base, d, DCB_NEXT) = sqlpool_word(base, head);
  Wd(base, d, DCB_ACCESS_MODE) = m < 3 ? m : 5;
  if (m < 3) Wd(base, d, DCB_EXCLUSIVE_CHA) = owner;
  Wd(base, d, DCB_REFCOUNT) = 1;
  Wd(base, d, DCB_LID) = lid;
  sqlpool_word(base, head) = d;
  *dcb = d;
  *created = true;
  *referenced = true;
  return 0;
}

}  // namespace

int32_t FindDcbLocked(int32_t* base, int32_t list, int32_t bucket, int32_t lid) {
  int32_t d = sqlpool_word(base, HashListHead(base, list, bucket));
  for (int32_t steps = 0; d != 0 && steps < 1 << 20; ++steps) {
    if (!InStorage(base, d, DCB_WORDS)) return 0;
    if (Wd(base, d, DCB_LID) == lid) return d;
    d = Wd(base, d, DCB_NEXT);
  }
  return 0;
}

void DSOpenDcb(int32_t* base, int32_t* rq) {
  const int32_t sys = KernelSys(base);
  const int32_t list = sys != 0 ? Wd(base, sys, SYS_DCB_LIST) : 0;
  rq[OPD_DEFERRED] = 0;
  if (list == 0) {
    rq[OPD_KIND] = KERNEL_NOT_STARTED;
    rq[OPD_SEQNO] = -1;
    return;
  }
  const int32_t kind = rq[OPD_KIND], m = ClaimedMode(kind);
  if (m < 0) {
    rq[OPD_KIND] = KERNEL_BAD_PARAMETER;
    rq[OPD_SEQNO] = -1;
    return;
  }
  int32_t owner = CurrentSession(base);
  if (owner == 0) owner = -1;
  int32_t dcb = 0;
  bool created = false, referenced = false;
  int32_t status = TakeReference(base, list, rq, m, owner, &dcb, &created, &referenced);
  if (status == 1) return;
  if (status == 0) {
    if (!created) enqdeq_take(&Wd(base, dcb, DCB_S));
    const int32_t a = Wd(base, dcb, DCB_ACCESS_MODE);
    if (m < 3 && a + m < 6 && (m < a || owner != Wd(base, dcb, DCB_EXCLUSIVE_CHA)) && !created)
      status = DCB_IN_USE;
    OpenState s{m, kind, rq[OPD_LID], dcb, 0, 0, 0, 0, 0, {}};
    if (status == 0 && (Wd(base, dcb, DCB_DID) == 0 || kind == 6))
      status = OpenFiles(base, sys, rq, &s);
    if (status == 0 && m < Wd(base, dcb, DCB_ACCESS_MODE)) {
      const int32_t bucket = HashListBucket(base, list, rq[OPD_LID]);
      EnqdeqGuard guard(HashListSemaphore(base, list, bucket));
      Wd(base, dcb, DCB_ACCESS_MODE) = m;
      if (m < 3) Wd(base, dcb, DCB_EXCLUSIVE_CHA) = owner;
    }
    enqdeq_give(&Wd(base, dcb, DCB_S));
  }
  if (status == 0) {
    rq[OPD_KIND] = 0;
    rq[OPD_DID] = Wd(base, dcb, DCB_DID);
    rq[OPD_DCB] = dcb;
    if (rq[OPD_LID] == 2 && rq[OPD_DEFERRED] != 0 && rq[OPD_DEFERRED] != DCB_NO_DEFERRED)
      rq[OPD_KIND] = rq[OPD_DEFERRED];
    return;
  }
  rq[OPD_KIND] = status;
  if (status == SQLPOOL_EXHAUSTED_ERROR || status == DCB_IN_USE) rq[OPD_SEQNO] = -1;
  if (referenced) {
    int32_t cls[CLS_WORDS] = {0, rq[OPD_LID], -1};
    DSCloseDcb(base, cls);
  }
}

void DSCallCentral(int32_t* base, int32_t* rq) {
  const int32_t kind = rq[OPD_KIND];
  if (kind == 1 || kind == 7) {
    if (!InStorage(base, CurrentThread(), THR_WORDS)) {
      rq[OPD_KIND] = DCB_NO_THREAD;
      rq[OPD_SEQNO] = -1;
      return;
    }
    const int32_t refs = DSGetDcbRefs(base, rq[OPD_LID]);
    if (refs < 0) {
      rq[OPD_KIND] = refs;
      return;
    }
    if (refs > 0) DSFlushShpPsm(base);
  }
  DSOpenDcb(base, rq);
}

void DSDatabankFailure(int32_t* base, int32_t usr, int32_t status, int32_t lid, int32_t seqno) {
  if (!InStorage(base, usr, USR_WORDS)) return;
  Wd(base, usr, USR_RVEC_RCODE) = status;
  Wd(base, usr, USR_RVEC_LID) = lid;
  Wd(base, usr, USR_RVEC_SEQNO) = seqno;
  Wd(base, usr, USR_RVEC_BITVEC) = RVEC_MASK_DATABANK;
}

int32_t DSGetDcbRefs(int32_t* base, int32_t lid) {
  const int32_t sys = KernelSys(base);
  const int32_t list = sys != 0 ? Wd(base, sys, SYS_DCB_LIST) : 0;
  if (list == 0) return KERNEL_NOT_STARTED;
  const int32_t bucket = HashListBucket(base, list, lid);
  EnqdeqGuard guard(HashListSemaphore(base, list, bucket));
  const int32_t d = FindDcbLocked(base, list, bucket, lid);
  return d != 0 ? Wd(base, d, DCB_REFCOUNT) : 0;
}

int32_t DSOpnLobdir2(int32_t* base, int32_t dcb, int32_t table) {
  if (Wd(base, dcb, DCB_LOBDIR_TCB) != 0) return 0;
  const int32_t lid = Wd(base, dcb, DCB_LID);
  // Open kind, LID, table, access, key and record length, transaction
  // mode, the table's kind (the kernel finds a table's root entry only
  // under the kind it was made with).
  const int32_t request[8] = {1,
                              lid,
                              table,
                              3,
                              LOBDIR_KEY_LENGTH,
                              LOBDIR_RECORD_LENGTH,
                              Wd(base, dcb, DCB_TRANS_MODE),
                              LOBDIR_TABLE_KIND};
  int32_t tcb = 0;
  const int32_t rc = UpOpenTableChain(base, CurrentSession(base), request, &tcb);
  if (rc != 0) {
    DSErrRep("DSOpnLobdir2", 12, rc, SEV_WARNING);
    if (tcb != 0) UpCloseTables(base, tcb, 1);
    return rc;
  }
  Wd(base, dcb, DCB_LOBDIR_TCB) = tcb;
  const int32_t sys = KernelSys(base);
  if (lid == 3 && sys != 0) Wd(base, sys, SYS_LOGDB_LOBDIR_TCB) = tcb;
  return 0;
}

int32_t DSClsLobdir(int32_t* base, int32_t dcb) {
  const int32_t sys = KernelSys(base);
  if (sys == 0) return KERNEL_NOT_STARTED;
  const int32_t tcb = Wd(base, dcb, DCB_LOBDIR_TCB);
  int32_t rc = 0;
  if (tcb != 0) rc = UpCloseTables(base, tcb, 5);
  Wd(base, dcb, DCB_LOBDIR_TCB) = 0;
  if (Wd(base, dcb, DCB_LID) == 3) Wd(base, sys, SYS_LOGDB_LOBDIR_TCB) = 0;
  return rc;
}

void DSOpenSysdb(int32_t* base, int32_t* status) {
  const int32_t sys = KernelSys(base);
  if (sys == 0) {
    *status = KERNEL_NOT_STARTED;
    return;
  }
  const int32_t list = Wd(base, sys, SYS_DCB_LIST);
  int32_t dcb = 0;
  if (list != 0) DSGetMem(base, &dcb, DCB_BYTES);
  *status = list == 0 ? KERNEL_NOT_STARTED : dcb == 0 ? SQLPOOL_EXHAUSTED_ERROR : 0;
  if (*status != 0) {
    Wd(base, sys, SYS_RVEC) = *status;
    return;
  }
  const int32_t mode = Wd(base, sys, SYS_MODE);
  const int32_t type = mode == 242 || mode == -242 ? 2 : 3;
  int32_t crd[CRD_WORDS] = {};
  crd[CRD_MODE] = 3;
  crd[CRD_DID] = 1;
  crd[CRD_SEQNO] = -1;
  crd[CRD_TYPE] = type;
  PutText(crd + CRD_FILE, "sysdb9.dbf", 256);
  PutText(crd + CRD_NAME, "SYSDB", 128);
  DKEXE1(DKF_OPD1, crd);
  if (crd[CRD_MODE] != 0 && crd[CRD_MODE] != -19) {
    *status = crd[CRD_MODE] - DK_ERROR_BIAS;
    Wd(base, sys, SYS_RVEC) = *status;
    Wd(base, sys, SYS_RVEC_LID) = 1;
    Wd(base, sys, SYS_RVEC_SEQNO) = crd[CRD_SEQNO];
    Wd(base, sys, SYS_RVEC_ATTRIBUTE) = 3;
    Wd(base, sys, SYS_RVEC_COUNTER) = 0;
    if (crd[CRD_UNITS] > 0) CloseDatabankFiles(0, crd[CRD_UNITS], 1, -1);
    DSGetMem(base, &dcb, 0);
    return;
  }
  Wd(base, dcb, DCB_DID) = crd[CRD_UNITS];
  Wd(base, dcb, DCB_LID) = 1;
  Wd(base, dcb, DCB_ACCESS_MODE) = 3;
  Wd(base, dcb, DCB_TRANS_MODE) = type;
  Wd(base, dcb, DCB_MASTER_SEQNO) = crd[CRD_SEQNO];
  Wd(base, dcb, DCB_REFCOUNT) = 2;
  PutText(&Wd(base, dcb, DCB_DNAME), "SYSDB", 128);
  enqdeq_init_semaphore(&Wd(base, dcb, DCB_S), 1);
  {
    const int32_t bucket = HashListBucket(base, list, 1);
    EnqdeqGuard guard(HashListSemaphore(base, list, bucket));
    const int32_t head = HashListHead(base, list, bucket);
    Wd(base, dcb, DCB_NEXT) = sqlpool_word(base, head);
    sqlpool_word(base, head) = dcb;
  }
  int32_t rc = UpCrtTcbHash(base);
  int32_t count = 0;
  const CatalogTableDescription* tables = CatalogBaseTables(&count);
  for (int32_t i = 0; i < count && rc >= 0; ++i)
    rc = UpOpenSysTable(base, tables[i].description, tables[i].words, dcb);
  *status = rc < 0 ? rc : 0;
  if (rc < 0) Wd(base, sys, SYS_RVEC) = rc;
}
