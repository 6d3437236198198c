// The TCB hash hung from SYS TCB_LIST: creating and freeing it, the use
// counts of a table, table locks of a user over a table and the tables it
// references, the exclusive claim of a databank, and what the open and
// close share (the release of a TCB's blocks, its kernel tables, and the
// dissolving of reference pairings).
#include <atomic>

#include "du/table_internal.h"
#include "du/tables.h"
#include "du/upper_services.h"

using du::F;
using du::W;

namespace du {

std::mutex& PairingLock() {
  static std::mutex lock;
  return lock;
}

int32_t CloseKernelTable(int32_t* base, int32_t block, int32_t lid_field, int32_t mode) {
  if (W(base, F(block, lid_field + 2)) == 0) return 0;  // TBL 0: not open in the kernel
  int32_t b[16] = {};
  b[0] = mode;
  for (int32_t k = 0; k < 6; ++k) b[2 + k] = W(base, F(block, lid_field + k));
  DUKernel(DK_CLT1, b);
  W(base, F(block, lid_field + 2)) = 0;
  return b[0] < 0 ? b[0] : 0;
}

void FreeTcbChains(int32_t* base, int32_t tcb) {
  for (int32_t field : {TCB_ICB, TCB_FICB}) {
    int32_t b = W(base, F(tcb, field));
    W(base, F(tcb, field)) = 0;
    while (b != 0) {
      const int32_t next = W(base, b);
      FreeBlock(base, b);
      b = next;
    }
  }
  FreeBlock(base, W(base, F(tcb, TCB_LOBCOLS)));
  W(base, F(tcb, TCB_LOBCOLS)) = 0;
}

namespace {

void Unpair(int32_t* base, int32_t icb, int32_t ficb) {
  if (icb != 0) {
    W(base, F(icb, ICB_FK_OPEN_STATUS)) = 0;
    W(base, F(icb, ICB_REFCB)) = 0;
  }
  if (ficb != 0) {
    W(base, F(ficb, FICB_FK_OPEN_STATUS)) = 0;
    W(base, F(ficb, FICB_ICB)) = 0;
  }
}

}  // namespace

void DissolvePairings(int32_t* base, int32_t tcb) {
  for (int32_t icb = W(base, F(tcb, TCB_ICB)); icb != 0; icb = W(base, icb)) {
    if (W(base, F(icb, ICB_FK_OPEN_STATUS)) < REF_PAIRED) continue;
    // The partner FICB sits in the table of the referenced key; its ICB word
    // names this ICB.
    const int32_t ref = W(base, F(icb, ICB_REFCB));
    const int32_t other = ref == 0                           ? 0
                          : W(base, F(ref, ICB_IXTYPE)) >= 3 ? W(base, F(ref, ICB_TCB))
                                                             : ref;
    if (other != 0)
      for (int32_t f = W(base, F(other, TCB_FICB)); f != 0; f = W(base, f))
        if (W(base, F(f, FICB_ICB)) == icb) Unpair(base, 0, f);
    Unpair(base, icb, 0);
  }
  for (int32_t f = W(base, F(tcb, TCB_FICB)); f != 0; f = W(base, f)) {
    const int32_t icb = W(base, F(f, FICB_ICB));
    if (W(base, F(f, FICB_FK_OPEN_STATUS)) >= REF_PAIRED && icb != 0) Unpair(base, icb, f);
  }
}

}  // namespace du

int32_t DUCrtTcbHash(int32_t* base) {
  const int32_t sys = du::SystemBlock(base);
  if (sys == 0) return DU_NOT_INITIALISED;
  if (du::AtomicLoad(base, F(sys, SYS_TCB_LIST)) != 0) return 0;
  const int32_t hash = du::NewBlock(base, TCBH_BYTES);
  if (hash == 0) return DU_NO_STORAGE;
  W(base, hash) = TCBH_BUCKET_COUNT;
  W(base, F(hash, TCBH_CHAIN_STRIDE)) = TCBH_BUCKET_WORDS;
  W(base, F(hash, TCBH_LOCK_STRIDE)) = TCBH_BUCKET_WORDS;
  for (int32_t k = 0; k < TCBH_BUCKET_COUNT; ++k)
    enqdeq_init_semaphore(&W(base, F(hash, TCBH_FIRST_BUCKET + TCBH_BUCKET_WORDS * k)), 1);
  int32_t expected = 0;
  if (!std::atomic_ref<int32_t>(W(base, F(sys, SYS_TCB_LIST)))
           .compare_exchange_strong(expected, hash))
    du::FreeBlock(base, hash);  // another thread built it first
  return 0;
}

int32_t DUFreeTcbHash(int32_t* base) {
  const int32_t sys = du::SystemBlock(base);
  const int32_t hash = du::TcbHash(base);
  if (hash == 0) return 1;
  for (int32_t k = 0; k < TCBH_BUCKET_COUNT; ++k) {
    const int64_t bucket = F(hash, TCBH_FIRST_BUCKET) + TCBH_BUCKET_WORDS * k;
    du::BucketGuard guard(base, bucket);
    int32_t t = W(base, bucket + TCBH_BUCKET_HEAD);
    W(base, bucket + TCBH_BUCKET_HEAD) = 0;
    while (t != 0) {
      const int32_t next = W(base, t);
      const int32_t dcb = W(base, F(t, TCB_DCB));
      if (W(base, F(t, TCB_TYPE)) == 6 && du::BlockInside(base, dcb, DCB_WORDS))
        W(base, F(dcb, DCB_LOBDIR_TCB)) = 0;
      for (int32_t icb = W(base, F(t, TCB_ICB)); icb != 0; icb = W(base, icb))
        du::CloseKernelTable(base, icb, ICB_LID, 0);
      du::CloseKernelTable(base, t, TCB_LID, 0);
      du::FreeTcbChains(base, t);
      du::FreeBlock(base, t);
      t = next;
    }
  }
  W(base, F(sys, SYS_TCB_LIST)) = 0;
  du::FreeBlock(base, hash);
  return 0;
}

int32_t DUTcbUseCount(int32_t* base, int32_t tname) {
  const int32_t hash = du::TcbHash(base);
  if (hash == 0) return DU_NOT_INITIALISED;
  const int64_t bucket = du::Bucket(base, hash, tname, 0);
  du::BucketGuard guard(base, bucket);
  const int32_t t = du::FindInBucket(base, bucket, tname);
  return t == 0 ? 0 : W(base, F(t, TCB_USECOUNT)) + W(base, F(t, TCB_REFERENCE_USECOUNT));
}

namespace {

// The referenced tables of `tcb` through its paired references.
template <typename Fn>
void ForEachReferencedTable(int32_t* base, int32_t tcb, Fn fn) {
  const int32_t own = W(base, F(tcb, TCB_TNAME));
  for (int32_t icb = W(base, F(tcb, TCB_ICB)); icb != 0; icb = W(base, icb)) {
    const int32_t kind = W(base, F(icb, ICB_IXTYPE));
    if ((kind != IX_FOREIGN_KEY && kind != IX_FOREIGN_KEY_SKIPPED) ||
        W(base, F(icb, ICB_FK_TNAME)) == own ||
        W(base, F(icb, ICB_FK_OPEN_STATUS)) < du::REF_PAIRED)
      continue;
    const int32_t ref = W(base, F(icb, ICB_REFCB));
    if (ref == 0) continue;
    // REFCB names the referenced key: a TCB, or an ICB whose TCB word leads on.
    fn(W(base, F(ref, ICB_IXTYPE)) >= 3 ? W(base, F(ref, ICB_TCB)) : ref);
  }
  for (int32_t f = W(base, F(tcb, TCB_FICB)); f != 0; f = W(base, f)) {
    const int32_t icb = W(base, F(f, FICB_ICB));
    if (W(base, F(f, FICB_FK_TNAME)) == own ||
        W(base, F(f, FICB_FK_OPEN_STATUS)) < du::REF_PAIRED || icb == 0)
      continue;
    fn(W(base, F(icb, ICB_TCB)));
  }
}

bool TryLock(int32_t* base, int32_t usr, int32_t tcb, int32_t most_users) {
  const int32_t hash = du::TcbHash(base);
  const int64_t bucket = du::Bucket(base, hash, W(base, F(tcb, TCB_TNAME)), tcb);
  du::BucketGuard guard(base, bucket);
  int32_t& locking = W(base, F(tcb, TCB_LOCKING_USR));
  if (locking == usr) return true;
  if (W(base, F(tcb, TCB_USECOUNT)) > most_users || locking != 0) return false;
  locking = usr;
  return true;
}

void Unlock(int32_t* base, int32_t usr, int32_t tcb) {
  const int32_t hash = du::TcbHash(base);
  const int64_t bucket = du::Bucket(base, hash, W(base, F(tcb, TCB_TNAME)), tcb);
  du::BucketGuard guard(base, bucket);
  if (W(base, F(tcb, TCB_LOCKING_USR)) == usr) W(base, F(tcb, TCB_LOCKING_USR)) = 0;
}

}  // namespace

int32_t DUSetTableLock(int32_t* base, int32_t usr, int32_t tcb) {
  if (W(base, F(usr, USR_LOCKED_TCB)) != 0) return DU_TABLE_IN_USE;
  if (du::TcbHash(base) == 0) return DU_NOT_INITIALISED;
  W(base, F(usr, USR_LOCKED_TCB)) = tcb;
  bool ok = TryLock(base, usr, tcb, 1);
  if (ok) {
    std::lock_guard<std::mutex> pairing(du::PairingLock());
    ForEachReferencedTable(base, tcb, [&](int32_t t) { ok = ok && TryLock(base, usr, t, 0); });
  }
  if (!ok) DUFreeTableRefs(base, usr, tcb);
  return ok ? 0 : DU_TABLE_IN_USE;
}

void DUFreeTableRefs(int32_t* base, int32_t usr, int32_t tcb) {
  if (du::TcbHash(base) != 0 && tcb != 0) {
    Unlock(base, usr, tcb);
    std::lock_guard<std::mutex> pairing(du::PairingLock());
    ForEachReferencedTable(base, tcb, [&](int32_t t) { Unlock(base, usr, t); });
  }
  W(base, F(usr, USR_LOCKED_TCB)) = 0;
}

void DSClaimDatabank(int32_t* base, int32_t* status, int32_t dcb, int32_t* table) {
  std::atomic_ref<int32_t> word(W(base, F(dcb, DCB_EXCLUSIVE_TABLES)));
  if (*status == 0) {
    word.store(0);
    return;
  }
  int32_t seen = word.load();
  for (;;) {
    if (seen < 0) {
      *status = DU_CLAIMED;
      return;
    }
    if (seen > 0) break;
    if (word.compare_exchange_weak(seen, -1)) {
      *status = 0;
      return;
    }
  }
  *status = DU_TABLE_HELD;
  *table = 0;
  const int32_t hash = du::TcbHash(base);
  if (hash == 0) {
    *status = DU_NOT_INITIALISED;
    return;
  }
  const int32_t lid = W(base, F(dcb, DCB_LID));
  for (int32_t k = 0; k < TCBH_BUCKET_COUNT && *table == 0; ++k) {
    const int64_t bucket = F(hash, TCBH_FIRST_BUCKET) + TCBH_BUCKET_WORDS * k;
    du::BucketGuard guard(base, bucket);
    for (int32_t t = W(base, bucket + TCBH_BUCKET_HEAD); t != 0; t = W(base, t))
      if (W(base, F(t, TCB_LID)) == lid && du::AtomicLoad(base, F(t, TCB_OUTER_ACCESS_MODE)) == 1) {
        *table = W(base, F(t, TCB_TNAME));
        break;
      }
  }
  if (*table == 0) *status = 1;
}
