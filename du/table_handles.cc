// Table handles that keep a table open beyond a statement (DSOTH2,
// DSCloseTableHandle), and the table reference blocks (TRB) of an XA branch
// in which a transaction keeps a handle on every table its statements use
// until it ends (DSTransCleanup).
#include <cstdlib>

#include "du/table_internal.h"
#include "du/tables.h"
#include "du/transactions.h"
#include "du/upper_services.h"
#include "kernel/error_report.h"

using du::F;
using du::W;

namespace {

constexpr int32_t kSlots = 10;
constexpr int32_t kRecoveryHandleKind = RATH_KIND_RECOVERY;
constexpr int32_t kDcbAccessRecovery = 10;

// The DCB of `lid` in SYS DCB_LIST (its bucket |LID mod count|, under the
// bucket's lock), made when there is none; its REFCOUNT raised. 0 when no
// storage is left.
int32_t AttachDcb(int32_t* base, int32_t hash, int32_t lid) {
  const int32_t buckets = W(base, hash);
  const int64_t bucket =
      F(hash, TCBH_FIRST_BUCKET) + TCBH_BUCKET_WORDS * std::llabs(int64_t{lid} % buckets);
  du::BucketGuard guard(base, bucket);
  int32_t dcb = W(base, bucket + TCBH_BUCKET_HEAD);
  while (dcb != 0 && W(base, F(dcb, DCB_LID)) != lid) dcb = W(base, dcb);
  if (dcb == 0) {
    dcb = du::NewBlock(base, DCB_BYTES);
    if (dcb == 0) return 0;
    enqdeq_init_semaphore(&W(base, F(dcb, DCB_S)), 1);
    W(base, F(dcb, DCB_LID)) = lid;
    W(base, F(dcb, DCB_ACCESS_MODE)) = kDcbAccessRecovery;
    W(base, dcb) = W(base, bucket + TCBH_BUCKET_HEAD);
    W(base, bucket + TCBH_BUCKET_HEAD) = dcb;
  }
  du::LockedAdd(base, F(dcb, DCB_REFCOUNT), 1);
  return dcb;
}

}  // namespace

int32_t DSXaAttachTable(int32_t* base, int32_t* pb, int32_t* handle, int32_t tname, int32_t lid,
                        int32_t mode) {
  const int32_t usr = pb[1];
  const int32_t sys = du::SystemBlock(base);
  const int32_t hash = du::TcbHash(base);
  const int32_t dcb_hash = sys == 0 ? 0 : W(base, F(sys, SYS_DCB_LIST));
  int32_t answer = 0;
  if (hash == 0 || dcb_hash == 0 || !du::BlockInside(base, dcb_hash, 4))
    answer = DU_NOT_INITIALISED;
  else if (mode < 1 || mode > 5)
    answer = DU_BAD_ARGUMENT;
  int32_t rath = 0;
  if (answer == 0) {
    const int64_t bucket = du::Bucket(base, hash, tname, 0);
    du::BucketGuard guard(base, bucket);
    int32_t tcb = du::FindInBucket(base, bucket, tname);
    int32_t outer = 5;
    if (tcb != 0) {
      outer = du::AtomicLoad(base, F(tcb, TCB_OUTER_ACCESS_MODE));
      const bool users =
          W(base, F(tcb, TCB_USECOUNT)) > 0 || W(base, F(tcb, TCB_REFERENCE_USECOUNT)) > 0;
      if (outer + mode <= 5 || (mode == 1 && users)) answer = DU_TABLE_IN_USE;
      if (answer == 0 && mode == 1) du::AtomicStore(base, F(tcb, TCB_OUTER_ACCESS_MODE), 1);
      if (answer == 0 && du::LockedAdd(base, F(tcb, TCB_USECOUNT), 1) == 1)
        du::LockedAdd(base, F(tcb, TCB_REMOVAL_USECOUNT), 1);
    } else if ((tcb = du::NewBlock(base, TCB_BYTES)) == 0) {
      answer = DU_NO_STORAGE;
    } else {
      W(base, F(tcb, TCB_TNAME)) = tname;
      W(base, F(tcb, TCB_USECOUNT)) = 1;
      W(base, F(tcb, TCB_REMOVAL_USECOUNT)) = 1;
      W(base, F(tcb, TCB_IXTYPE)) = 1;
      du::AtomicStore(base, F(tcb, TCB_OUTER_ACCESS_MODE), mode == 1 ? 1 : 5);
      du::AtomicStore(base, F(tcb, TCB_OPEN_STATUS), 5);
      enqdeq_init_semaphore(&W(base, F(tcb, TCB_S)), 1);
      enqdeq_init_semaphore(&W(base, F(tcb, TCB_FK_S)), 1);
      W(base, tcb) = W(base, bucket + TCBH_BUCKET_HEAD);
      W(base, bucket + TCBH_BUCKET_HEAD) = tcb;
    }
    if (answer == 0 && outer == 5) {
      rath = W(base, F(tcb, TCB_RATH));
      if (rath != 0) {
        ++W(base, F(rath, RATH_USECOUNT));
      } else if ((rath = du::NewBlock(base, RATH_BYTES)) != 0) {
        W(base, F(rath, RATH_LID)) = lid;
        W(base, F(rath, RATH_KIND)) = kRecoveryHandleKind;
        W(base, F(rath, RATH_TNAME)) = tname;
        W(base, F(rath, RATH_TCB)) = tcb;
        W(base, F(rath, RATH_USECOUNT)) = 1;
        W(base, F(tcb, TCB_RATH)) = rath;
      } else {
        answer = DU_NO_STORAGE;  // the use taken is left for the caller's close of the table
      }
      if (answer == 0) answer = 1;
    }
    if (answer == 0) *handle = tcb;
  }
  if (answer == 1) {
    *handle = rath;
    if (W(base, F(rath, RATH_DCB)) == 0) {
      const int32_t dcb = AttachDcb(base, dcb_hash, lid);
      if (dcb == 0) answer = DU_NO_STORAGE;
      W(base, F(rath, RATH_DCB)) = dcb;
    }
  }
  if (answer < 0) W(base, F(usr, USR_RVEC_RCODE)) = answer;
  return answer;
}

void DSOTH2(int32_t* base, int32_t* pb, int32_t* handle, const int32_t* record) {
  const int32_t usr = pb[1];
  int32_t tcb = record[DUREC_OBJECT];
  const int32_t type = record[DUREC_TYPE];
  if ((type == DU_TYPE_INDEX || type == DU_TYPE_INDEX_REF) && du::BlockInside(base, tcb, ICB_WORDS))
    tcb = W(base, F(tcb, ICB_TCB));
  const int32_t hash = du::TcbHash(base);
  if (tcb == 0 || hash == 0 || !du::BlockInside(base, tcb, TCB_WORDS)) {
    pb[0] = DU_BAD_ARGUMENT;
    W(base, F(usr, USR_RVEC_RCODE)) = DU_BAD_ARGUMENT;
    DSErrRep("DSOTH2", 6, DU_BAD_ARGUMENT, SEV_ERROR);
    return;
  }
  {
    du::BucketGuard guard(base, du::Bucket(base, hash, W(base, F(tcb, TCB_TNAME)), tcb));
    if (du::LockedAdd(base, F(tcb, TCB_USECOUNT), 1) == 1)
      du::LockedAdd(base, F(tcb, TCB_REMOVAL_USECOUNT), 1);
  }
  *handle = tcb;
  pb[0] = 0;
}

void DSCloseTableHandle(int32_t* base, int32_t* pb, int32_t* handle) {
  const int32_t usr = pb[1];
  const int32_t h = *handle;
  int32_t status = 0;
  if (h == 0 || !du::BlockInside(base, h, RATH_BYTES / 4)) {
    status = DU_BAD_ARGUMENT;
  } else {
    int32_t tcb = h;
    if (W(base, F(h, RATH_KIND)) == kRecoveryHandleKind) {
      // A recovery handle goes when its last use does, with its databank.
      tcb = W(base, F(h, RATH_TCB));
      const int32_t hash = du::TcbHash(base);
      int32_t release_lid = 0;
      {
        du::BucketGuard guard(base, du::Bucket(base, hash, W(base, F(tcb, TCB_TNAME)), tcb));
        if (--W(base, F(h, RATH_USECOUNT)) <= 0) {
          W(base, F(tcb, TCB_RATH)) = 0;
          const int32_t dcb = W(base, F(h, RATH_DCB));
          release_lid = dcb != 0 ? W(base, F(dcb, DCB_LID)) : 0;
          du::FreeBlock(base, h);
        }
      }
      if (release_lid != 0) status = DUReleaseDatabank(base, 0, release_lid, -1);
    }
    int32_t record[DUREC_RECORD + 2] = {};
    record[DUREC_OBJECT] = tcb;
    record[DUREC_TNAME] = W(base, F(tcb, TCB_TNAME));
    int32_t close_pb[2] = {0, usr};
    int32_t close[CLB_WORDS] = {CLOSE_TABLE};
    DSCloseTableRefs(base, close_pb, record, close);
    if (status == 0) status = close_pb[0];
    *handle = 0;
  }
  if (status != 0) W(base, F(usr, USR_RVEC_RCODE)) = status;
  pb[0] = status;
}

int32_t RegisterStatementTables(int32_t* base, int32_t usr, int32_t stm, int32_t tp) {
  int32_t status = 0;
  du::ForEachRecord(base, stm, [&](int32_t record) {
    ForEachListedRecordBlock(base, record, [&](int32_t* rec) {
      if (status != 0) return;
      const int32_t tname = rec[DUREC_TNAME];
      int32_t* link = &W(base, F(tp, TP_TRB));
      int32_t free_trb = 0, free_slot = -1;
      for (int32_t trb = *link; trb != 0; link = &W(base, trb), trb = *link) {
        for (int32_t k = 0; k < kSlots; ++k) {
          const int32_t t = W(base, F(trb, TRB_TABLE_LIST + k));
          if (t == tname) return;
          if (t == 0 && free_trb == 0) {
            free_trb = trb;
            free_slot = k;
          }
        }
      }
      if (free_trb == 0) {
        free_trb = du::NewBlock(base, TRB_BYTES);
        if (free_trb == 0) {
          status = DU_NO_STORAGE;
          return;
        }
        *link = free_trb;
        free_slot = 0;
      }
      int32_t pb[2] = {0, usr};
      DSOTH2(base, pb, &W(base, F(free_trb, TRB_HANDLE_LIST + free_slot)), rec);
      if (pb[0] < 0) {
        status = pb[0];
        return;
      }
      W(base, F(free_trb, TRB_TABLE_LIST + free_slot)) = tname;
    });
    return status == 0;
  });
  return status;
}

void DSTransCleanup(int32_t* base, int32_t* pb) {
  const int32_t usr = pb[1];
  const int32_t tp = W(base, F(usr, USR_TP));
  pb[0] = 0;
  if (tp == 0) return;
  int32_t trb = W(base, F(tp, TP_TRB));
  W(base, F(tp, TP_TRB)) = 0;
  while (trb != 0) {
    for (int32_t k = 0; k < kSlots && W(base, F(trb, TRB_TABLE_LIST + k)) != 0; ++k) {
      int32_t close_pb[2] = {0, usr};
      DSCloseTableHandle(base, close_pb, &W(base, F(trb, TRB_HANDLE_LIST + k)));
      if (close_pb[0] < 0) pb[0] = close_pb[0];
    }
    const int32_t next = W(base, trb);
    du::FreeBlock(base, trb);
    trb = next;
  }
}

void DSReqTransCheck(int32_t* base, int32_t* pb) {
  const int32_t usr = pb[1], stm = pb[2];
  const int32_t sys = du::SystemBlock(base);
  bool on_level = false;
  if (sys != 0 && du::BlockInside(base, stm, STM_WORDS)) {
    const int32_t lvl = W(base, F(stm, STM_LVL));
    for (int32_t l = W(base, F(usr, USR_LVL)), n = 0;
         l != 0 && n < 1000 && du::BlockInside(base, l, LVL_WORDS); l = W(base, l), ++n)
      on_level = on_level || l == lvl;
  }
  if (!on_level) {
    // The invalid-handle report of the kernel core.
    pb[0] = sys != 0 ? -19039 : DU_NOT_INITIALISED;
    if (sys != 0) W(base, F(usr, USR_RVEC_RCODE)) = -19039;
    return;
  }
  const int32_t status = W(base, F(stm, STM_STATUS));
  pb[0] = 0;
  if (W(base, F(W(base, F(stm, STM_LVL)), LVL_USR)) == 0 ||
      (status != 2 && status != 3 && status != 4 && status != 7))
    return;
  const int32_t work = DUStatementWorkEnd(base, usr, stm);
  int32_t end[3] = {0, usr, stm};
  DSEndStmTrans(base, end);
  pb[0] = end[0] != 0 ? end[0] : work;
}
