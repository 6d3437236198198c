// The end of a user's innermost transaction by an end code (DSEndTransWork):
// the statements it closes, the deferred checks before a commit, the commit
// record appended to the write set, the kernel end, a successor for code 85,
// and the clean-up of the per-databank entries and of the stack.
#include <climits>
#include <cstring>
#include <vector>

#include "du/ddl_transaction.h"
#include "du/kernel_requests.h"
#include "du/record_access_words.h"
#include "du/statement_records.h"
#include "du/transactions.h"
#include "du/upper_services.h"
#include "kernel/error_report.h"

using du::W;

namespace {

int64_t F(int32_t block, int32_t field) {
  return int64_t{block} + field;
}

bool IsCommit(int32_t code) {
  return code != END_ROLLBACK && code != END_ROLLBACK_OWNED;
}

void ClearRowIds(int32_t* base, int32_t stm) {
  const int32_t lrid = W(base, F(stm, STM_LRID));
  const int32_t words = W(base, F(stm, STM_LRIDSZ));
  if (lrid == 0 || words < 1 || !du::BlockInside(base, lrid, words)) return;
  for (int32_t k = 0; k < words; ++k) W(base, F(lrid, k)) = 0;
}

// Step 3: the statements of the user's level that the end closes.
void CloseStatements(int32_t* base, int32_t usr, int32_t tp, int32_t code) {
  const int32_t lvl = W(base, F(usr, USR_LVL));
  if (!du::BlockInside(base, lvl, LVL_WORDS)) return;
  const bool own_only = code == END_AFTER_FAILURE || code == END_AFTER_SUCCESS ||
                        code == END_ROLLBACK_OWNED ||
                        (tp != 0 && W(base, F(tp, TP_FTR_START)) == BEGIN_SAVING);
  int32_t stm = W(base, F(lvl, LVL_STM));
  for (int32_t n = 0; stm != 0 && n < 1000000 && du::BlockInside(base, stm, STM_WORDS); ++n) {
    const int32_t next = W(base, stm);
    const int32_t on = W(base, F(stm, STM_TP));
    int32_t& status = W(base, F(stm, STM_STATUS));
    if (own_only) {
      if (tp != 0 && on == tp) {
        if (status == 3 && W(base, F(stm, STM_WITH_HOLD)) == 0) status = 7;
        W(base, F(stm, STM_TP)) = 0;
      }
    } else {
      const bool parked =
          code == END_CLIENT_COMMIT && on != 0 && on != tp && W(base, F(on, TP_OWNER_STM)) == stm;
      if (on == tp || on == 0 || parked) {
        if (status == 3 && W(base, F(stm, STM_WITH_HOLD)) != 1) status = 7;
        ClearRowIds(base, stm);
        W(base, F(stm, STM_TP)) = 0;
      }
      if (parked) {
        W(base, on) = W(base, F(usr, USR_TP));
        W(base, F(usr, USR_TP)) = on;
        W(base, F(usr, USR_TRV_COND)) = 3;
        DSFreeTP(base, usr);
      }
    }
    stm = next;
  }
}

// Appends the record in `b` (length word 8, record from word 15) to the set
// of descriptor `d` (request words 1 to 7), whose position words it takes
// back; the kernel code.
int32_t AppendTo(int32_t* d, du::SetRequest& b) {
  b[0] = 0;
  std::memcpy(b.data() + 1, d, 7 * 4);
  DUKernel(DK_APS1, b.data());
  if (b[0] >= 0) {
    d[5] = b[6];
    d[6] = b[7];
  }
  return b[0];
}

// The kernel reads the first record of a write set as its header (code 21),
// so the commit record, known only now, must come first. An empty write set
// takes it as it is; one that holds records already (changes, marks) is
// copied behind it into a new work table, which replaces it as the
// transaction's write set. On failure the old write set stays; 0 or the
// SQL-side status.
int32_t PutCommitRecordFirst(int32_t* base, int32_t tp, du::SetRequest& record) {
  int32_t old_set[7], new_set[7];
  std::memcpy(old_set, &W(base, F(tp, TP_WS_QBLKSIZ)), sizeof old_set);
  du::SetRequest read;
  read[0] = 2;  // read at the position; page 0 is the start of the set
  std::memcpy(read.data() + 1, old_set, sizeof old_set);
  read[6] = read[7] = 0;
  DUKernel(DK_GNS1, read.data());
  if (read[0] < 0) return KernelStatus(read[0]);
  if (read[0] == SET_AT_END) {
    if (const int32_t rc = AppendTo(old_set, record); rc < 0) return KernelStatus(rc);
    std::memcpy(&W(base, F(tp, TP_WS_QBLKSIZ)), old_set, sizeof old_set);
    return 0;
  }
  {
    du::SetRequest c;
    c[0] = 0;
    c[2] = 2;
    c[3] = QUEUE_TYPE;
    c[5] = -1;
    DUKernel(DK_CRT1, c.data());
    if (c[0] < 0) return KernelStatus(c[0]);
    c[1] = c[11];
    std::memcpy(new_set, c.data() + 1, sizeof new_set);
  }
  // A record that would not fit the block cannot have come from the kernel.
  constexpr int32_t kBadRecord = INT32_MIN;
  int32_t rc = AppendTo(new_set, record);
  while (rc >= 0 && read[0] == 0) {
    if (read[8] < 1 || 15 + int64_t{read[8]} > record.size()) {
      rc = kBadRecord;
      break;
    }
    record[8] = read[8];
    std::memcpy(record.data() + 15, read.data() + 15, static_cast<size_t>(read[8]) * 4);
    rc = AppendTo(new_set, record);
    read[0] = 0;  // step past the record read
    if (rc >= 0) DUKernel(DK_GNS1, read.data());
  }
  if (rc >= 0 && read[0] != SET_AT_END) rc = read[0] < 0 ? read[0] : kBadRecord;
  const bool copied = rc >= 0;
  du::SetRequest drop;
  drop[0] = -22;
  std::memcpy(drop.data() + 1, copied ? old_set : new_set, sizeof old_set);
  DUKernel(DK_CLT1, drop.data());
  if (!copied) return rc == kBadRecord ? DU_BAD_ARGUMENT : KernelStatus(rc);
  std::memcpy(&W(base, F(tp, TP_WS_QBLKSIZ)), new_set, sizeof new_set);
  return 0;
}

// The commit record: kind 21, the transaction's words, the value, the byte
// string's length, one six-word entry per databank the transaction used, -1,
// then the bytes. The kernel code, -11014 when it does not fit, or
// -19077 for a byte string that is not there.
// Word 2 is the kernel's commit kind (128: the commit returns once its
// records are applied, 129: once they are secured). The kernel refuses a
// kind when no listed databank has a status above 2 (nothing written), so
// the transaction's type goes there only when one has; word 10 carries it
// always.
int32_t AppendCommitRecord(int32_t* base, int32_t usr, int32_t tp, int32_t value,
                           const uint8_t* bytes, int32_t length) {
  if (length < 0 || (length > 0 && bytes == nullptr)) return DU_BAD_ARGUMENT;
  std::vector<int32_t> r(20, 0);
  r[0] = RECORD_KIND_COMMIT;
  r[1] = W(base, F(tp, TP_TRANSACTION_NUMBER));
  r[7] = W(base, F(usr, USR_PROGID));
  r[8] = W(base, F(usr, USR_USERID));
  r[9] = W(base, F(tp, TP_TRANSACTION_READ_COUNT));
  r[10] = W(base, F(tp, TP_TRANSACTION_TYPE));
  r[14] = value;
  r[15] = length;
  bool written = false, logged = false, has_log = false, has_trans = false;
  int32_t trs = W(base, F(usr, USR_TRS));
  for (int32_t n = 0; trs != 0 && n < 100000 && du::BlockInside(base, trs, TRS_WORDS); ++n) {
    const int32_t status = W(base, F(trs, TRS_STATUS));
    const int32_t dcb = W(base, F(trs, TRS_DCB));
    if (status != 0 && du::BlockInside(base, dcb, DCB_WORDS)) {
      const int32_t lid = W(base, F(dcb, DCB_LID));
      const int32_t log = status == 3 && W(base, F(dcb, DCB_TRANS_MODE)) == 3 ? 3 : 0;
      r.insert(r.end(), {W(base, F(dcb, DCB_DID)), lid, 0, status, -1, log});
      written = written || status == 3;
      logged = logged || log == 3;
      has_log = has_log || lid == 3;
      has_trans = has_trans || lid == 2;
    }
    trs = W(base, trs);
  }
  if (logged && !has_log && W(base, F(usr, USR_LOGDB_DID)) != 0)
    r.insert(r.end(), {W(base, F(usr, USR_LOGDB_DID)), 3, 0, 3, -1, 0});
  if (written && !has_trans) r.insert(r.end(), {W(base, F(usr, USR_TRANSDB_DID)), 2, 0, 3, -1, 0});
  if (written) r[2] = r[10];  // the commit kind
  r.push_back(-1);
  const size_t at = r.size();
  r.resize(at + static_cast<size_t>((length + 3) / 4), 0);
  if (length > 0) std::memcpy(r.data() + at, bytes, static_cast<size_t>(length));
  du::SetRequest b;
  const int64_t words = 15 + static_cast<int64_t>(r.size());
  if (words * 4 > du::KernelRecordBytes() || words > b.size()) return DU_COMMIT_RECORD_TOO_LONG;
  b[8] = static_cast<int32_t>(r.size());
  std::memcpy(b.data() + 15, r.data(), r.size() * 4);
  return PutCommitRecordFirst(base, tp, b);
}

// Rolls the kernel transaction of `tp` back; its answer.
int32_t KernelRollback(int32_t* base, int32_t usr) {
  W(base, F(usr, USR_TRV_COND)) = 1;
  DSTransDkEnd(base, usr);
  return W(base, F(usr, USR_TRV_COND));
}

// Step 11: statements whose close waited for the end of the outermost
// transaction.
int32_t ClosePendingStatements(int32_t* base, int32_t usr, int32_t answer) {
  int32_t kept[RVEC_WORDS];
  std::memcpy(kept, &W(base, F(usr, USR_RVEC_RCODE)), sizeof kept);
  int32_t remembered = 0;
  const int32_t lvl = W(base, F(usr, USR_LVL));
  for (int32_t head : {LVL_STM, LVL_CUCB}) {
    if (!du::BlockInside(base, lvl, LVL_WORDS)) break;
    int32_t last_failed = 0;
    for (int32_t n = 0; n < 100000; ++n) {
      int32_t stm = W(base, F(lvl, head));
      while (stm != 0 && du::BlockInside(base, stm, STM_WORDS) &&
             W(base, F(stm, STM_STATUS)) != 8 && W(base, F(stm, STM_STATUS)) != 9)
        stm = W(base, stm);
      if (stm == 0 || !du::BlockInside(base, stm, STM_WORDS)) break;
      const int32_t rc = DUCloseStatement(base, usr, stm);
      if (rc == 0) continue;
      remembered = rc;
      if (last_failed == stm) break;  // the same statement failed twice in a row
      last_failed = stm;
    }
  }
  W(base, F(usr, USR_STM_PENDING_CLOSE)) = 0;
  if (answer != 0) {
    std::memcpy(&W(base, F(usr, USR_RVEC_RCODE)), kept, sizeof kept);
    return answer;
  }
  return remembered;
}

// Step 12: the per-databank entries of the user after the end.
void ResetDatabankEntries(int32_t* base, int32_t usr, int32_t code) {
  int32_t* link = &W(base, F(usr, USR_TRS));
  for (int32_t n = 0; *link != 0 && n < 100000; ++n) {
    const int32_t trs = *link;
    if (!du::BlockInside(base, trs, TRS_WORDS)) break;
    W(base, F(trs, TRS_STATUS)) = 0;
    const int32_t dcb = W(base, F(trs, TRS_DCB));
    while (W(base, F(trs, TRS_CDB_COUNT)) > 0) {
      const bool pending = W(base, F(trs, TRS_DELETE_PENDING)) == 1;
      const int32_t mode = pending && IsCommit(code) ? 3 : 0;
      const int32_t sequence = pending ? W(base, F(trs, TRS_DELETE_SEQNO)) : -1;
      W(base, F(trs, TRS_DELETE_PENDING)) = 0;
      if (du::BlockInside(base, dcb, DCB_WORDS))
        DUReleaseDatabank(base, mode, W(base, F(dcb, DCB_LID)), sequence);
      --W(base, F(trs, TRS_CDB_COUNT));
    }
    if (W(base, F(trs, TRS_STM_COUNT)) < 1) {
      *link = W(base, trs);
      du::FreeBlock(base, trs);
    } else {
      link = &W(base, trs);
    }
  }
}

// Step 7: begins the successor of a code-85 end and takes it off the stack
// again; 0 or the failure.
int32_t BeginSuccessor(int32_t* base, int32_t usr, int32_t stm, int32_t* successor) {
  int32_t mode = READ_ONLY_MODE;
  if (W(base, F(usr, USR_SESSION_READ_WRITE_MODE)) != READ_ONLY_MODE &&
      du::BlockInside(base, stm, STM_WORDS) && du::AnyProgramType(base, stm, {2, 16, 58, 59}))
    mode = 0;
  W(base, F(usr, USR_NEXT_READ_WRITE_MODE)) = mode;
  W(base, F(usr, USR_TRV_COND)) = BEGIN_SUCCESSOR;
  DSAllocTP(base, usr);
  if (W(base, F(usr, USR_TRV_COND)) < 0) return W(base, F(usr, USR_TRV_COND));
  *successor = W(base, F(usr, USR_TP));
  int32_t save[4] = {0, usr, 0, 103};
  DSSaveTrs(base, save);
  W(base, F(usr, USR_TP)) = W(base, *successor);
  return 0;
}

void ReleaseSuccessor(int32_t* base, int32_t usr, int32_t successor) {
  if (successor == 0) return;
  int32_t save[4] = {0, usr, 0, 0};
  DSSaveTrs(base, save);
  W(base, successor) = W(base, F(usr, USR_TP));
  W(base, F(usr, USR_TP)) = successor;
  W(base, F(usr, USR_TRV_COND)) = 3;
  DSFreeTP(base, usr);
}

// Steps 10 to 15: the transaction is over.
int32_t Finish(int32_t* base, int32_t usr, int32_t stm, int32_t tp, int32_t code, int32_t successor,
               int32_t answer) {
  int32_t cleanup[3] = {0, usr, 0};
  DSTransCleanup(base, cleanup);
  W(base, F(tp, TP_TRANSACTION_STATE)) = 0;
  // The kernel's entry is given back: a read outside a transaction passes no
  // TSS, which a later transaction may hold by then.
  W(base, F(tp, TP_TSS)) = 0;
  W(base, F(tp, TP_OWNER_STM)) = 0;
  const bool outermost = W(base, tp) == 0;
  if (outermost && W(base, F(usr, USR_STM_PENDING_CLOSE)) != 0)
    answer = ClosePendingStatements(base, usr, answer);
  W(base, F(tp, TP_CURSOR_ORDER_COUNTER)) = 1;
  ResetDatabankEntries(base, usr, code);
  if (successor != 0) {
    W(base, F(successor, TP_OWNER_STM)) = stm;
    if (du::BlockInside(base, stm, STM_WORDS)) W(base, F(stm, STM_TP)) = successor;
  }
  du::FinishDdlTransaction(base, usr, tp, code);
  if (outermost) {
    W(base, F(usr, USR_MARK_ID)) = FIRST_MARK_ID;
  } else {
    W(base, F(usr, USR_TRV_COND)) = 3;
    DSFreeTP(base, usr);
    int32_t restore[4] = {0, usr, 0, 0};
    DSRestoreTrs(base, restore);
  }
  return answer;
}

int32_t EndWork(int32_t* base, int32_t usr, int32_t stm, int32_t code, int32_t value,
                const uint8_t* bytes, int32_t length) {
  if (W(base, F(usr, USR_ATOMIC)) != 0) return DU_END_IN_ATOMIC;
  DUFreeStackedMarks(base, usr);
  const int32_t tp = W(base, F(usr, USR_TP));
  CloseStatements(base, usr, tp, code);
  const int32_t state = tp == 0 ? 0 : W(base, F(tp, TP_TRANSACTION_STATE));
  if (state != 1 && state != 2) {
    if (tp != 0) W(base, F(tp, TP_TRANSACTION_SCOPE)) = 0;
    W(base, F(usr, USR_NEXT_ISOLATION_LEVEL)) = W(base, F(usr, USR_SESSION_ISOLATION_LEVEL));
    W(base, F(usr, USR_NEXT_READ_WRITE_MODE)) = W(base, F(usr, USR_SESSION_READ_WRITE_MODE));
    return code == END_XA_PREPARE ? 1 : 0;
  }
  int32_t answer = 0;
  if (IsCommit(code) && state == 1 && code != END_XA_COMMIT) {
    int32_t table = 0, constraint = 0;
    answer = DUCheckDeferred(base, usr, 0, &table, &constraint);
  }
  if (!IsCommit(code) || state == 2 || answer != 0) {
    int32_t table = 0, constraint = 0;
    DUCheckDeferred(base, usr, -1, &table, &constraint);
    // A commit of a failed transaction is answered -10001, not success.
    W(base, F(usr, USR_TRV_COND)) = IsCommit(code) && answer == 0 ? 0 : 1;
    DSTransDkEnd(base, usr);
    if (answer == 0) answer = W(base, F(usr, USR_TRV_COND));
    return Finish(base, usr, stm, tp, code, 0, answer);
  }
  if (code != END_XA_COMMIT) {
    answer = AppendCommitRecord(base, usr, tp, value, bytes, length);
    W(base, F(tp, TP_TRANSACTION_TYPE)) = 0;
    if (answer != 0) {
      // The kernel transaction is rolled back before the TP is given up, so
      // that its entry in the kernel is freed.
      KernelRollback(base, usr);
      return Finish(base, usr, stm, tp, code, 0, answer);
    }
  }
  int32_t successor = 0;
  if (code == END_AFTER_FAILURE) {
    answer = BeginSuccessor(base, usr, stm, &successor);
    if (answer != 0) {
      KernelRollback(base, usr);
      return Finish(base, usr, stm, tp, code, 0, answer);
    }
  }
  W(base, F(usr, USR_TRV_COND)) = code == END_XA_PREPARE ? -1 : 0;
  DSTransDkEnd(base, usr);
  const int32_t r = W(base, F(usr, USR_TRV_COND));
  if (r < 0) {
    const int32_t sys = du::SystemBlock(base);
    if (sys == 0) return DU_NOT_INITIALISED;
    W(base, F(tp, TP_TRANSACTION_STATE)) = W(base, F(sys, SYS_MODE)) != 0 ? -1 : 0;
    W(base, F(usr, USR_RVEC_BITVEC)) = 0;
    ReleaseSuccessor(base, usr, successor);
    return r;
  }
  answer = r > 1 ? r + DU_KERNEL_OFFSET : r;
  if (code == END_XA_PREPARE && answer != 1) return answer;
  return Finish(base, usr, stm, tp, code, successor, answer);
}

}  // namespace

void DSEndTransWork(int32_t* base, int32_t* pb, int32_t value, const uint8_t* bytes,
                    int32_t length) {
  const int32_t usr = pb[1];
  const int32_t status = EndWork(base, usr, pb[2], pb[0], value, bytes, length);
  if (status < 0) W(base, F(usr, USR_RVEC_RCODE)) = status;
  pb[0] = status;
}

void DSEndTrans(int32_t* base, int32_t* pb) {
  DSEndTransWork(base, pb, 1, nullptr, 0);
}

void DSEndTransIfOpen(int32_t* base, int32_t* pb) {
  const int32_t usr = pb[1];
  const int32_t tp = W(base, F(usr, USR_TP));
  if (tp == 0 || W(base, F(tp, TP_TRANSACTION_STATE)) != 1 ||
      W(base, F(tp, TP_AUTOCOMMIT)) == NO_AUTOMATIC_END) {
    pb[0] = 0;
    return;
  }
  pb[0] = pb[0] == 0 ? END_AFTER_SUCCESS : END_AFTER_FAILURE;
  DSEndTransWork(base, pb, 1, nullptr, 0);
}
