// Closing a record block's table level by level (DUCLT1, DUCloseTables):
// one use of the table given back; when its last user goes, the tables it
// holds through its references given back one per call; and the final close
// that takes a TCB without uses out of its bucket, closes its kernel tables
// and frees it, handing back the LID whose databank reference it held.
#include <atomic>

#include "du/table_internal.h"
#include "du/tables.h"
#include "du/upper_services.h"

using du::F;
using du::W;

namespace du {

namespace {

// Takes a TCB without uses out of its bucket (the caller holds the bucket
// lock); from then on no opener can find it, and the caller alone frees it.
bool Unlink(int32_t* base, int64_t bucket, int32_t tcb) {
  if (W(base, F(tcb, TCB_USECOUNT)) > 0 || W(base, F(tcb, TCB_REFERENCE_USECOUNT)) > 0 ||
      W(base, F(tcb, TCB_REMOVAL_USECOUNT)) > 0)
    return false;
  int32_t* link = &W(base, bucket + TCBH_BUCKET_HEAD);
  while (*link != 0 && *link != tcb) link = &W(base, *link);
  if (*link == 0) return false;
  *link = W(base, tcb);
  return true;
}

}  // namespace

bool DropUse(int32_t* base, int32_t tcb, bool reference, bool keep, bool* reached_zero) {
  if (reached_zero) *reached_zero = false;
  const int32_t hash = TcbHash(base);
  const int64_t bucket = Bucket(base, hash, W(base, F(tcb, TCB_TNAME)), tcb);
  BucketGuard guard(base, bucket);
  const int32_t field = reference ? TCB_REFERENCE_USECOUNT : TCB_USECOUNT;
  if (W(base, F(tcb, field)) > 0 && LockedAdd(base, F(tcb, field), -1) == 0) {
    if (reached_zero) *reached_zero = true;
    if (!(keep && !reference)) LockedAdd(base, F(tcb, TCB_REMOVAL_USECOUNT), -1);
    const bool referenced = W(base, F(tcb, TCB_REFERENCE_USECOUNT)) > 0;
    std::atomic_ref<int32_t> outer(W(base, F(tcb, TCB_OUTER_ACCESS_MODE)));
    std::atomic_ref<int32_t> status(W(base, F(tcb, TCB_OPEN_STATUS)));
    if (!reference) {
      const int32_t dcb = W(base, F(tcb, TCB_DCB));
      if (outer.load() == 1 && W(base, F(tcb, TCB_TNAME)) != DU_WORK_TABLE &&
          BlockInside(base, dcb, DCB_WORDS)) {
        std::atomic_ref<int32_t> word(W(base, F(dcb, DCB_EXCLUSIVE_TABLES)));
        int32_t seen = word.load();
        while (seen > 0 && !word.compare_exchange_weak(seen, seen - 1)) {
        }
      }
    }
    // The modes its users were granted go with them.
    if (outer.load() >= 1 && W(base, F(tcb, TCB_USECOUNT)) == 0) outer.store(referenced ? 4 : 5);
    if (status.load() >= 2 && W(base, F(tcb, TCB_USECOUNT)) == 0) status.store(referenced ? 4 : 6);
  }
  return Unlink(base, bucket, tcb);
}

bool ReleaseKeep(int32_t* base, int32_t tcb) {
  const int32_t hash = TcbHash(base);
  const int64_t bucket = Bucket(base, hash, W(base, F(tcb, TCB_TNAME)), tcb);
  BucketGuard guard(base, bucket);
  LockedAdd(base, F(tcb, TCB_REMOVAL_USECOUNT), -1);
  return Unlink(base, bucket, tcb);
}

int32_t FinalClose(int32_t* base, int32_t tcb, int32_t mode, int32_t* lid) {
  *lid = 0;
  {
    std::lock_guard<std::mutex> pairing(PairingLock());
    DissolvePairings(base, tcb);
  }
  int32_t rc = 0;
  for (int32_t icb = W(base, F(tcb, TCB_ICB)); icb != 0; icb = W(base, icb)) {
    const int32_t c = CloseKernelTable(base, icb, ICB_LID, mode);
    if (c < 0 && rc == 0) rc = KernelStatus(c);
  }
  const int32_t c = CloseKernelTable(base, tcb, TCB_LID, mode);
  if (c < 0 && rc == 0) rc = KernelStatus(c);
  if (W(base, F(tcb, TCB_DCB)) != 0) *lid = W(base, F(tcb, TCB_LID));
  FreeTcbChains(base, tcb);
  FreeBlock(base, tcb);
  return rc;
}

}  // namespace du

namespace {

// The first reference of `tcb` that holds a use of another table, its pair
// dissolved; the table it held, or 0.
int32_t TakeHeldReference(int32_t* base, int32_t tcb) {
  std::lock_guard<std::mutex> pairing(du::PairingLock());
  for (int32_t icb = W(base, F(tcb, TCB_ICB)); icb != 0; icb = W(base, icb)) {
    if (W(base, F(icb, ICB_FK_OPEN_STATUS)) != du::REF_HOLDER) continue;
    const int32_t ref = W(base, F(icb, ICB_REFCB));
    const int32_t target = W(base, F(ref, ICB_IXTYPE)) >= 3 ? W(base, F(ref, ICB_TCB)) : ref;
    for (int32_t f = W(base, F(target, TCB_FICB)); f != 0; f = W(base, f))
      if (W(base, F(f, FICB_ICB)) == icb) {
        W(base, F(f, FICB_ICB)) = 0;
        W(base, F(f, FICB_FK_OPEN_STATUS)) = 0;
      }
    W(base, F(icb, ICB_REFCB)) = 0;
    W(base, F(icb, ICB_FK_OPEN_STATUS)) = 0;
    return target;
  }
  for (int32_t f = W(base, F(tcb, TCB_FICB)); f != 0; f = W(base, f)) {
    if (W(base, F(f, FICB_FK_OPEN_STATUS)) != du::REF_HOLDER) continue;
    const int32_t icb = W(base, F(f, FICB_ICB));
    const int32_t target = W(base, F(icb, ICB_TCB));
    W(base, F(icb, ICB_REFCB)) = 0;
    W(base, F(icb, ICB_FK_OPEN_STATUS)) = 0;
    W(base, F(f, FICB_ICB)) = 0;
    W(base, F(f, FICB_FK_OPEN_STATUS)) = 0;
    return target;
  }
  return 0;
}

void KeepFirst(int32_t* close, int32_t rc) {
  if (rc < 0 && close[CLB_FIRST_FAILURE] == 0) close[CLB_FIRST_FAILURE] = rc;
}

// Code 8: one held reference given back per call, then the table itself.
void WalkReferences(int32_t* base, int32_t* record, int32_t* close) {
  const int32_t tcb = close[CLB_NEXT_TCB];
  const int32_t target = TakeHeldReference(base, tcb);
  int32_t lid = 0;
  if (target != 0) {
    if (du::DropUse(base, target, true)) KeepFirst(close, du::FinalClose(base, target, 0, &lid));
    close[CLB_CLOSED_LID] = lid;
    record[DUREC_STATUS] = 1;
    return;
  }
  close[CLB_NEXT_TCB] = 0;
  close[CLB_CODE] = CLOSE_TABLE;
  if (du::ReleaseKeep(base, tcb))
    KeepFirst(close, du::FinalClose(base, tcb, close[CLB_SPARE], &lid));
  close[CLB_CLOSED_LID] = lid;
  record[DUREC_STATUS] = close[CLB_FIRST_FAILURE];
}

bool HoldsReferences(int32_t* base, int32_t tcb) {
  std::lock_guard<std::mutex> pairing(du::PairingLock());
  for (int32_t icb = W(base, F(tcb, TCB_ICB)); icb != 0; icb = W(base, icb))
    if (W(base, F(icb, ICB_FK_OPEN_STATUS)) == du::REF_HOLDER) return true;
  for (int32_t f = W(base, F(tcb, TCB_FICB)); f != 0; f = W(base, f))
    if (W(base, F(f, FICB_FK_OPEN_STATUS)) == du::REF_HOLDER) return true;
  return false;
}

}  // namespace

void DUCLT1(int32_t* base, int32_t* record, int32_t* close) {
  close[CLB_CLOSED_LID] = 0;
  if (du::TcbHash(base) == 0) {
    record[DUREC_STATUS] = DU_NOT_INITIALISED;
    return;
  }
  int32_t code = close[CLB_CODE];
  if (code == CLOSE_REFERENCE_TARGET && close[CLB_NEXT_TCB] != 0)
    return WalkReferences(base, record, close);
  const int32_t object = record[DUREC_OBJECT];
  if (object == 0) {
    if (record[DUREC_FETCH_CODE] == 20 || record[DUREC_FETCH_CODE] == 21)
      record[DUREC_FETCH_CODE] = 0;
    record[DUREC_STATUS] = 0;
    return;
  }
  if (code < 1 || code > 6) {
    du::LogInternal("DUCLT1: Invalid function code");
    record[DUREC_STATUS] = DU_BAD_ARGUMENT;
    return;
  }
  if (close[CLB_HELD_TCB] != 0) {
    du::Give(base, F(close[CLB_HELD_TCB], TCB_S));
    close[CLB_HELD_TCB] = 0;
  }
  if (code != CLOSE_DROP_WORK) code = CLOSE_TABLE;
  close[CLB_CODE] = code;
  close[CLB_FIRST_FAILURE] = 0;
  close[CLB_SPARE] = code == CLOSE_DROP_WORK ? -22 : 0;
  if (record[DUREC_FETCH_CODE] == 20 || record[DUREC_FETCH_CODE] == 21)
    record[DUREC_FETCH_CODE] = 0;
  const bool index = record[DUREC_TYPE] == DU_TYPE_INDEX || record[DUREC_TYPE] == DU_TYPE_INDEX_REF;
  const int32_t tcb = index ? W(base, F(object, ICB_TCB)) : object;
  record[DUREC_OBJECT] = 0;
  record[DUREC_STATUS] = 0;
  if (!du::BlockInside(base, tcb, TCB_WORDS)) {
    record[DUREC_STATUS] = DU_BAD_ARGUMENT;
    return;
  }
  // The use is dropped first and the references looked at after: an opener
  // that pairs them holds a use of its own, so what is seen then is settled.
  bool own_users_gone = false;
  bool gone = du::DropUse(base, tcb, false, !index, &own_users_gone);
  if (!index && own_users_gone) {
    if (HoldsReferences(base, tcb)) {
      close[CLB_CODE] = CLOSE_REFERENCE_TARGET;
      close[CLB_NEXT_TCB] = tcb;
      record[DUREC_STATUS] = 1;
      return;
    }
    gone = du::ReleaseKeep(base, tcb);
  }
  int32_t lid = 0;
  if (gone) KeepFirst(close, du::FinalClose(base, tcb, close[CLB_SPARE], &lid));
  close[CLB_CLOSED_LID] = lid;
  record[DUREC_STATUS] = close[CLB_FIRST_FAILURE];
}

void DUCloseTables(int32_t* base, int32_t* record, int32_t* close) {
  do {
    DUCLT1(base, record, close);
  } while (record[DUREC_STATUS] > 0 && close[CLB_CLOSED_LID] == 0);
}

int32_t DUCloseKernelTable(int32_t* base, int32_t tcb, int32_t) {
  if (du::TcbHash(base) == 0) return DU_NOT_INITIALISED;
  if (!du::BlockInside(base, tcb, TCB_WORDS)) return DU_BAD_ARGUMENT;
  if (!du::DropUse(base, tcb, false)) return 0;
  int32_t lid = 0;
  const int32_t rc = du::FinalClose(base, tcb, 0, &lid);
  if (lid != 0) DUCloseDatabank(base, 0, 0, lid, -1);
  return rc;
}
