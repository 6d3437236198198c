// DSBkpCopyLog and DSBkpDelLog over the log table of the LOG databank.
// Every work block is given back once on every way out; every table opened
// or created here is closed before its block goes.
#include "kernel/backup_log.h"

#include <cstring>

#include "dk/databank_file.h"
#include "dk/request.h"
#include "dk/set_table.h"
#include "dk/table_entries.h"
#include "kernel/control_blocks.h"
#include "kernel/databank_control.h"
#include "kernel/roll_forward.h"
#include "kernel/system_block.h"

namespace {

constexpr int32_t kRootPage = 51, kAppend = 6, kDeleteObjects = 19, kDropAll = 23,
                  kDropRecords = 22, kCreateTable = 16;
constexpr int32_t kSetTypeCode = 151, kSetMethod = 1;
// DKDDS1 words of the log block: the databank, the mark, the count and the
// object identifiers.
constexpr int32_t kDeleteLid = 17, kDeleteMark = 25, kDeleteCount = 29, kDeleteIds = 30;

struct Session {
  int32_t* base;
  int32_t usr;
  void Fail(int32_t status, int32_t lid, int32_t seqno, int32_t attribute, int32_t bits) const {
    if (!InStorage(base, usr, USR_WORDS)) return;
    Wd(base, usr, USR_RVEC_RCODE) = status;
    Wd(base, usr, USR_RVEC_LID) = lid;
    Wd(base, usr, USR_RVEC_SEQNO) = seqno;
    Wd(base, usr, USR_RVEC_ATTRIBUTE) = attribute;
    Wd(base, usr, USR_RVEC_BITVEC) = bits;
  }
  void Code(int32_t status) const {
    if (InStorage(base, usr, USR_WORDS)) Wd(base, usr, USR_RVEC_RCODE) = status;
  }
};

// Looks a databank up (kind 5): 0 with the request filled, or the failure
// (a positive look-up status is -19046), reported into the session.
int32_t LookUp(const Session& s, int32_t lid, int32_t* rq) {
  std::memset(rq, 0, OPD_WORDS * sizeof(int32_t));
  rq[OPD_KIND] = 5;
  rq[OPD_LID] = lid;
  rq[OPD_SEQNO] = -1;
  DSOpenDcb(s.base, rq);
  int32_t status = rq[OPD_KIND];
  if (status == 0 && rq[OPD_DCB] != 0) return 0;
  if (status >= 0) status = DCB_NO_ROW;
  s.Fail(status, lid, -1, rq[OPD_TYPE], RVEC_MASK_DATABANK);
  return status;
}

int32_t Block(int32_t* base) {
  int32_t block = 0;
  DSGetMemRaw(base, &block, 4 * LogBlockWords());
  if (block != 0) std::memset(&Wd(base, block, 0), 0, 4 * static_cast<size_t>(LogBlockWords()));
  return block;
}

void Give(int32_t* base, int32_t* block) {
  if (*block != 0) DSGetMem(base, block, 0);
  *block = 0;
}

}  // namespace

void DSBkpCopyLog(int32_t* base, int32_t* request) {
  const Session s{base, request[BCL_USR]};
  request[BCL_STATUS] = 0;
  if (KernelSys(base) == 0) {
    request[BCL_STATUS] = KERNEL_NOT_STARTED;
    return;
  }
  const int32_t lid = request[BCL_LID], backup_lid = request[BCL_BACKUP_LID];
  int32_t db[OPD_WORDS], bk[OPD_WORDS], log[OPD_WORDS];
  int32_t rc = LookUp(s, lid, db);
  if (rc == 0) rc = LookUp(s, backup_lid, bk);
  if (rc != 0) {
    request[BCL_STATUS] = rc;
    return;
  }
  if (Wd(base, bk[OPD_DCB], DCB_ACCESS_MODE) != 1) {
    s.Code(request[BCL_STATUS] = DCB_NOT_EXCLUSIVE);
    return;
  }
  // The databank's restore directory stamp goes into the backup's header.
  int32_t roo[ROO_WORDS] = {4, db[OPD_DID], lid};
  roo[ROO_SEQNO] = -1;
  DKEXE1(kRootPage, roo);
  if (roo[ROO_CODE] == 0) {
    const int32_t stamp = roo[ROO_STAMP];
    std::memset(roo, 0, sizeof roo);
    roo[ROO_CODE] = 9;
    roo[ROO_DATABANK] = bk[OPD_DID];
    roo[ROO_OTHER_DID] = backup_lid;
    roo[ROO_STAMP] = stamp;
    roo[ROO_SEQNO] = -1;
    DKEXE1(kRootPage, roo);
  }
  if (roo[ROO_CODE] != 0) {
    rc = roo[ROO_CODE] - DK_ERROR_BIAS;
    s.Fail(rc, backup_lid, -1, bk[OPD_TYPE], RVEC_MASK_DATABANK);
    request[BCL_STATUS] = rc;
    return;
  }
  if ((rc = LookUp(s, LOG_LID, log)) != 0) {
    request[BCL_STATUS] = rc;
    return;
  }
  int32_t set_block = Block(base), log_block = Block(base);
  if (set_block == 0 || log_block == 0) {
    Give(base, &set_block);
    Give(base, &log_block);
    s.Code(request[BCL_STATUS] = SQLPOOL_EXHAUSTED_ERROR);
    return;
  }
  int32_t* out = &Wd(base, set_block, 0);
  int32_t crt[CRT_WORDS] = {};
  crt[RQ_STATUS] = -2;
  crt[RQ_DID] = backup_lid;
  crt[RQ_TYPE] = kSetTypeCode;
  crt[RQ_TBL] = BACKUP_SET_TABLE;
  crt[RQ_METHOD] = kSetMethod;
  DKEXE1(kCreateTable, crt);
  if (crt[RQ_STATUS] != 0) {
    rc = crt[RQ_STATUS] > 0 ? BACKUP_SET_EXISTS : crt[RQ_STATUS] - DK_ERROR_BIAS;
    s.Code(rc);
    if (InStorage(base, s.usr, USR_WORDS)) Wd(base, s.usr, USR_RVEC_BITVEC) = 0;
    if (crt[RQ_STATUS] > 0) CloseTable(crt[RQ_TABLE], BACKUP_SET_TABLE);
    Give(base, &set_block);
    Give(base, &log_block);
    request[BCL_STATUS] = rc;
    return;
  }
  out[SETRQ_TABLE] = crt[RQ_TABLE];
  out[SETRQ_TBL] = BACKUP_SET_TABLE;
  int32_t* in = &Wd(base, log_block, 0);
  bool borrowed = false;
  if (OpenLog(in, 4, LOG_LID, &borrowed) != 0) {
    s.Code(RFW_LOG_NOT_OPENED);
    Give(base, &log_block);
    CloseTable(crt[RQ_TABLE], BACKUP_SET_TABLE);
    Give(base, &set_block);
    request[BCL_STATUS] = RFW_LOG_NOT_OPENED;
    return;
  }
  LogReader reader{in};
  int32_t count = 0, status = 0;
  for (;;) {
    const int32_t r = reader.Next();
    if (r > 0) break;
    if (r < 0) {
      status = r;
      s.Fail(r, LOG_LID, -1, 0, RVEC_MASK_DATABANK);
      break;
    }
    const int32_t* rec = reader.Record();
    const int32_t length = reader.Length();
    // A commit record belongs to no databank: its word 2 is the commit's
    // kind, which may equal a logical id.
    if (length <= LOGREC_LID || rec[LOGREC_LID] != lid || rec[LOGREC_TYPE] == LOGREC_COMMIT)
      continue;
    if (rec[LOGREC_TYPE] == LOGREC_BACKUP_MARK) {
      if (length >= LOGREC_MARK + 4 &&
          std::memcmp(rec + LOGREC_MARK, request + BCL_MARK, 4 * sizeof(int32_t)) == 0)
        break;
      ++count;
      continue;
    }
    std::memcpy(out + LOG_RECORD_WORD, rec, 4 * static_cast<size_t>(length));
    out[SETRQ_RC] = 0;
    out[SETRQ_LENGTH] = length;
    DKEXE1(kAppend, out);
    if (out[SETRQ_RC] < 0) {
      status = out[SETRQ_RC] - DK_ERROR_BIAS;
      s.Code(status);
      if (InStorage(base, s.usr, USR_WORDS)) Wd(base, s.usr, USR_RVEC_BITVEC) = 0;
      break;
    }
    ++count;
  }
  if (!borrowed) {
    const int32_t closed = CloseTable(in[SETRQ_TABLE], LOG_TABLE);
    if (closed != 0 && status == 0) {
      status = closed;
      s.Fail(closed, LOG_LID, -1, 0, RVEC_MASK_DATABANK);
    }
  }
  Give(base, &log_block);
  const int32_t closed = CloseTable(out[SETRQ_TABLE], BACKUP_SET_TABLE);
  if (closed != 0 && status == 0) status = closed;
  Give(base, &set_block);
  request[BCL_STATUS] = status != 0 ? status : count;
}

void DSBkpDelLog(int32_t* base, int32_t* request, int32_t request_words) {
  const int32_t sys = KernelSys(base);
  if (sys == 0) {
    request[BDL_MODE] = KERNEL_NOT_STARTED;
    return;
  }
  const Session s{base, request[BDL_USR]};
  const int32_t mode = request[BDL_MODE], n = request[BDL_COUNT];
  // The identifier list stays within 100 entries and the request.
  if (mode != 3 && (n < 0 || n > BDL_MAX_IDS || BDL_IDS + int64_t{n} > request_words)) {
    s.Code(request[BDL_MODE] = KERNEL_BAD_PARAMETER);
    return;
  }
  int32_t log[OPD_WORDS];
  int32_t rc = LookUp(s, LOG_LID, log);
  if (rc != 0) {
    if (InStorage(base, s.usr, USR_WORDS)) Wd(base, s.usr, USR_RVEC_SEQNO) = log[OPD_SEQNO];
    request[BDL_MODE] = rc;
    return;
  }
  int32_t block = Block(base);
  if (block == 0) {
    s.Code(request[BDL_MODE] = SQLPOOL_EXHAUSTED_ERROR);
    return;
  }
  int32_t* b = &Wd(base, block, 0);
  bool borrowed = false;
  if (OpenLog(b, 3, LOG_LID, &borrowed) != 0) {
    Give(base, &block);
    s.Code(request[BDL_MODE] = RFW_LOG_NOT_OPENED);
    return;
  }
  const int32_t table = b[SETRQ_TABLE];
  int32_t status = 0;
  auto fail = [&](int32_t r) {
    status = r;
    s.Fail(r, LOG_LID, log[OPD_SEQNO], 0, RVEC_MASK_DATABANK);
  };
  if (mode == 3) {
    if (Wd(base, sys, SYS_DATABASE_OFFLINE) == 0) {
      status = BACKUP_NOT_OFFLINE;
      s.Code(status);
    } else {
      b[SETRQ_RC] = 0;
      DKEXE1(kDropAll, b);
      if (b[SETRQ_RC] < 0) fail(b[SETRQ_RC] - DK_ERROR_BIAS);
      const int32_t lobdir = Wd(base, sys, SYS_LOGDB_LOBDIR_TCB);
      if (status == 0 && InStorage(base, lobdir, TCB_WORDS)) {
        int32_t drp[CRT_WORDS] = {};
        drp[RQ_DID] = LOG_LID;
        drp[RQ_TABLE] = Wd(base, lobdir, TCB_TBL);
        drp[RQ_TBL] = LOGDB_LOBDIR_TABLE;
        DKEXE1(kDropRecords, drp);
        if (drp[RQ_STATUS] < 0) fail(drp[RQ_STATUS] - DK_ERROR_BIAS);
      }
    }
  } else {
    int32_t mark[4];
    if (mode == 1) {
      std::fill(mark, mark + 4, -1);
      LogReader reader{b};
      bool started = false;
      for (;;) {
        const int32_t r = reader.Next(true);
        if (r > 0) break;
        if (r < 0) {
          fail(r);
          break;
        }
        const int32_t* rec = reader.Record();
        const int32_t length = reader.Length();
        if (length <= LOGREC_LID || rec[LOGREC_LID] != request[BDL_LID]) continue;
        if (!started) {
          started = rec[LOGREC_TYPE] == LOGREC_BACKUP_START;
          continue;
        }
        if (rec[LOGREC_TYPE] == LOGREC_BACKUP_MARK && length >= LOGREC_MARK + 4 &&
            rec[LOGREC_NUMBER] == request[BDL_NUMBER]) {
          std::memcpy(mark, rec + LOGREC_MARK, sizeof mark);
          break;
        }
      }
    } else {
      std::memcpy(mark, request + BDL_MARK, sizeof mark);
    }
    if (status == 0) {
      b[SETRQ_TABLE] = table;
      b[SETRQ_TBL] = LOG_TABLE;
      b[SETRQ_RC] = 0;
      b[kDeleteLid] = request[BDL_LID];
      std::memcpy(b + kDeleteMark, mark, sizeof mark);
      b[kDeleteCount] = n;
      std::memcpy(b + kDeleteIds, request + BDL_IDS, 4 * static_cast<size_t>(n));
      DKEXE1(kDeleteObjects, b);
      if (b[SETRQ_RC] < 0)
        fail(b[SETRQ_RC] - DK_ERROR_BIAS);
      else
        status = b[SETRQ_RC];
    }
  }
  if (!borrowed) {
    const int32_t closed = CloseTable(table, LOG_TABLE);
    if (closed != 0 && status >= 0) fail(closed);
  }
  Give(base, &block);
  request[BDL_MODE] = status;
}
