// Opening a table for a record block: the access-mode rule against the
// table's users, a new TCB filled from the catalog and opened in the kernel
// with its indexes, the tables it references opened and paired with it, the
// attach of a record block to an open TCB (DUOSTX1), and the TCB a catalog
// description creates directly (DUCreateTcb).
//
// Locks: the bucket lock only around the search and the use counts; the
// table's S while it is filled and opened in the kernel (a second opener
// waits on it); neither is held while a referenced table is opened, and the
// pairing lock alone while a pair is made, so two tables that reference each
// other can be opened from both ends at once.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "du/table_internal.h"
#include "du/tables.h"
#include "du/upper_services.h"
#include "kernel/error_report.h"
#include "platform/host_services.h"

using du::F;
using du::W;

namespace du {

void LogInternal(const char* text) {
  StatusPair status;
  try {
    DSLogMsgShort(&status, SEV_INTERNAL, text, nullptr, static_cast<int32_t>(std::strlen(text)));
  } catch (const ServerException&) {
    // The message is written; the operation it reports on goes on.
  }
}

}  // namespace du

namespace {

constexpr int32_t kFicbSteps = 1000;
constexpr int32_t kIcbSteps = 32;

// Takes a use of the table (found, or new with S held by the caller); S is
// held on return 0. *tcb the block, *fresh when it is new.
int32_t TakeTable(int32_t* base, int32_t hash, int32_t tname, int32_t kind, int32_t mode,
                  bool no_count, int32_t* tcb, bool* fresh) {
  *fresh = false;
  // A work table never finds a block: its bucket follows from the new
  // block's index, so it is made before its bucket is locked.
  int32_t t = tname == DU_WORK_TABLE ? du::NewBlock(base, TCB_BYTES) : 0;
  if (tname == DU_WORK_TABLE && t == 0) return DU_NO_STORAGE;
  const int64_t bucket = du::Bucket(base, hash, tname, t);
  du::BucketGuard guard(base, bucket);
  if (tname != DU_WORK_TABLE && (t = du::FindInBucket(base, bucket, tname)) != 0) {
    const int32_t outer = du::AtomicLoad(base, F(t, TCB_OUTER_ACCESS_MODE));
    const bool users = W(base, F(t, TCB_USECOUNT)) > 0 || W(base, F(t, TCB_REFERENCE_USECOUNT)) > 0;
    if (outer + mode <= 5 || (mode == 1 && users)) return DU_TABLE_IN_USE;
    if (mode == 1) du::AtomicStore(base, F(t, TCB_OUTER_ACCESS_MODE), 1);
    if (kind != OPEN_REFERENCED || !no_count) {
      const int32_t field = kind == OPEN_REFERENCED ? TCB_REFERENCE_USECOUNT : TCB_USECOUNT;
      if (du::LockedAdd(base, F(t, field), 1) == 1)
        du::LockedAdd(base, F(t, TCB_REMOVAL_USECOUNT), 1);
    }
    *tcb = t;
    return 0;
  }
  if (t == 0 && (t = du::NewBlock(base, TCB_BYTES)) == 0) return DU_NO_STORAGE;
  W(base, F(t, TCB_TNAME)) = tname;
  W(base, F(t, kind == OPEN_REFERENCED ? TCB_REFERENCE_USECOUNT : TCB_USECOUNT)) = 1;
  W(base, F(t, TCB_REMOVAL_USECOUNT)) = 1;
  du::AtomicStore(base, F(t, TCB_OUTER_ACCESS_MODE), mode == 1 ? 1 : 5);
  enqdeq_init_semaphore(&W(base, F(t, TCB_S)), 0);  // held by this opener
  enqdeq_init_semaphore(&W(base, F(t, TCB_FK_S)), 1);
  W(base, F(t, TCB_IXTYPE)) = 1;
  du::AtomicStore(base, F(t, TCB_OPEN_STATUS), 5);
  W(base, t) = W(base, bucket + TCBH_BUCKET_HEAD);
  W(base, bucket + TCBH_BUCKET_HEAD) = t;
  *tcb = t;
  *fresh = true;
  return 0;
}

// Takes the table's S for an opener that found it: waits until one that is
// still filling or opening it is done.
void WaitForOpener(int32_t* base, int32_t tcb, bool fresh) {
  if (!fresh) du::Take(base, F(tcb, TCB_S));
}

// Marks a table whose fill or kernel open failed; its users close it.
void FailTable(int32_t* base, int32_t hash, int32_t tcb) {
  du::AtomicStore(base, F(tcb, TCB_OPEN_STATUS), -1);
  du::BucketGuard guard(base, du::Bucket(base, hash, W(base, F(tcb, TCB_TNAME)), tcb));
  du::AtomicStore(base, F(tcb, TCB_OUTER_ACCESS_MODE), -1);
}

// An exclusive open refused before its databank counted it: the mode goes
// back to shared, so that its close gives back no count of another
// exclusive table (and a claim of the databank does not wait on it).
void GiveUpExclusive(int32_t* base, int32_t hash, int32_t tcb) {
  du::BucketGuard guard(base, du::Bucket(base, hash, W(base, F(tcb, TCB_TNAME)), tcb));
  if (du::AtomicLoad(base, F(tcb, TCB_OUTER_ACCESS_MODE)) == 1)
    du::AtomicStore(base, F(tcb, TCB_OUTER_ACCESS_MODE), 5);
}

// DKOPT1 (or DKCRT1 for a work table) for the identity words at `id` of a
// TCB or ICB. An index is a kernel table whose key is the whole index key
// (its columns and the table's key) and whose record is the index entry, so
// entries of equal column values are distinct keys. The kernel answers
// with the lengths it holds, which must be the block's.
int32_t KernelOpen(int32_t* base, int32_t block, int32_t id, int32_t mode, bool work) {
  int32_t b[16] = {};
  b[0] = work ? 0 : (mode == 4 ? 3 : mode);
  for (int32_t k = 0; k < 6; ++k) b[2 + k] = W(base, F(block, id + k));
  if (work) b[12] = W(base, F(block, id + 1)) / 10 >= 11 ? 1 : 0;
  DUKernel(work ? DK_CRT1 : DK_OPT1, b);
  if (b[0] > 0) return DU_TABLE_IN_USE;
  if (b[0] < 0) return KernelStatus(b[0]);
  const int32_t keylen = W(base, F(block, id + 4)), reclen = W(base, F(block, id + 5));
  if (b[6] != keylen || b[7] != reclen || b[6] < 1 || b[7] < 1) {
    b[0] = 0;
    DUKernel(DK_CLT1, b);
    return DU_KERNEL_LENGTHS;
  }
  // TNAME (the hash key) stays as it is: other openers read it under the
  // bucket lock only.
  for (int32_t k = 0; k < 6; ++k)
    if (k != 3) W(base, F(block, id + k)) = b[2 + k];
  return 0;
}

// Fills a new named table from its catalog description; 0 or a failure.
int32_t Fill(int32_t* base, int32_t usr, int32_t tcb, int32_t* open) {
  const int32_t rc = DUConstrText(base, usr, open);
  const int32_t desc = open[OPB_DESCRIPTION];
  open[OPB_DESCRIPTION] = 0;
  if (rc != 0) {
    du::FreeBlock(base, desc);
    return rc > 0 ? DU_BAD_DESCRIPTION_LENGTHS : rc;
  }
  const int32_t words = du::BlockDataWords(base, desc);
  if (words <= DESC_ENTRIES) {
    du::FreeBlock(base, desc);
    return DU_BAD_ARGUMENT;
  }
  const int32_t* d = &W(base, desc);
  W(base, F(tcb, TCB_LID)) = d[DESC_LID];
  W(base, F(tcb, TCB_TYPE)) = d[DESC_TYPE];
  W(base, F(tcb, TCB_KEYLEN)) = d[DESC_KEYLEN];
  W(base, F(tcb, TCB_RECLEN)) = d[DESC_RECLEN];
  const int32_t status = du::FillFromDescription(base, tcb, d, words);
  du::FreeBlock(base, desc);
  return status;
}

// The databank of a new table, and the table and its indexes in the kernel
// (S held).
int32_t OpenInKernel(int32_t* base, int32_t usr, int32_t tcb, int32_t mode, int32_t* open) {
  if (W(base, F(tcb, TCB_DCB)) == 0) {
    int32_t dcb = 0;
    const int32_t lid = W(base, F(tcb, TCB_LID)) != 0 ? W(base, F(tcb, TCB_LID)) : open[OPB_LID];
    const int32_t rc = DUOpenDatabank(base, usr, lid, &dcb);
    if (rc != 0) return rc < 0 ? rc : DU_BAD_ARGUMENT;
    W(base, F(tcb, TCB_LID)) = lid;
    W(base, F(tcb, TCB_DCB)) = dcb;
    W(base, F(tcb, TCB_TRANS_MODE)) =
        du::BlockInside(base, dcb, DCB_WORDS) ? W(base, F(dcb, DCB_TRANS_MODE)) : 0;
  }
  const bool work = W(base, F(tcb, TCB_TNAME)) == DU_WORK_TABLE;
  if (W(base, F(tcb, TCB_TBL)) == 0) {
    if (W(base, F(tcb, TCB_TYPE)) == 0) W(base, F(tcb, TCB_TYPE)) = open[OPB_TYPE];
    if (W(base, F(tcb, TCB_KEYLEN)) == 0) W(base, F(tcb, TCB_KEYLEN)) = open[OPB_KEYLEN];
    if (W(base, F(tcb, TCB_RECLEN)) == 0) W(base, F(tcb, TCB_RECLEN)) = open[OPB_RECLEN];
    const int32_t rc = KernelOpen(base, tcb, TCB_LID, mode, work);
    if (rc != 0) return rc;
    if (work) du::AtomicStore(base, F(tcb, TCB_OPEN_STATUS), 1);
  }
  for (int32_t icb = W(base, F(tcb, TCB_ICB)); icb != 0; icb = W(base, icb)) {
    if (W(base, F(icb, ICB_TBL)) != 0) continue;
    W(base, F(icb, ICB_LID)) = W(base, F(tcb, TCB_LID));
    const int32_t rc = KernelOpen(base, icb, ICB_LID, 3, false);
    if (rc != 0) return rc;
    W(base, F(icb, ICB_QRECLEN)) = QueueRecordWords(W(base, F(icb, ICB_KEYLEN)));
  }
  return 0;
}

bool CountExclusive(int32_t* base, int32_t dcb) {
  std::atomic_ref<int32_t> word(W(base, F(dcb, DCB_EXCLUSIVE_TABLES)));
  int32_t seen = word.load();
  do {
    if (seen < 0) return false;
  } while (!word.compare_exchange_weak(seen, seen + 1));
  return true;
}

int32_t OpenOne(int32_t* base, int32_t usr, int32_t hash, int32_t* record, int32_t* open);

// Pairs reference `ref` of `tcb` (an ICB of kind 4 or 8, or an FICB) with
// its partner in `target`; 0, 1 when it is paired already, -19077 without a
// partner. Pairing lock held.
int32_t Pair(int32_t* base, int32_t tcb, int32_t ref, bool is_icb, int32_t target) {
  const int32_t state_field = is_icb ? ICB_FK_OPEN_STATUS : FICB_FK_OPEN_STATUS;
  if (W(base, F(ref, state_field)) >= du::REF_PAIRED) return 1;
  int32_t icb = 0, ficb = 0;
  if (is_icb) {
    icb = ref;
    int32_t f = W(base, F(target, TCB_FICB));
    for (int32_t n = 0; f != 0 && n < kFicbSteps; ++n, f = W(base, f))
      if (W(base, F(f, FICB_FK_XNAME)) == W(base, F(icb, ICB_TNAME)) &&
          W(base, F(f, FICB_FK_TNAME)) == W(base, F(tcb, TCB_TNAME)))
        break;
    ficb = f;
  } else {
    ficb = ref;
    int32_t i = W(base, F(target, TCB_ICB));
    for (int32_t n = 0; i != 0 && n < kIcbSteps; ++n, i = W(base, i))
      if (W(base, F(i, ICB_TNAME)) == W(base, F(ficb, FICB_FK_XNAME))) break;
    icb = i;
  }
  if (icb == 0 || ficb == 0 ||
      W(base, F(is_icb ? ficb : icb, is_icb ? FICB_FK_OPEN_STATUS : ICB_FK_OPEN_STATUS)) >=
          du::REF_PAIRED) {
    W(base, F(ref, state_field)) = du::REF_MISSING;
    return icb == 0 || ficb == 0 ? DU_BAD_ARGUMENT : 1;
  }
  W(base, F(icb, ICB_REFCB)) = W(base, F(ficb, FICB_REFCB));
  W(base, F(ficb, FICB_ICB)) = icb;
  W(base, F(icb, ICB_FK_OPEN_STATUS)) = is_icb ? du::REF_HOLDER : du::REF_PAIRED;
  W(base, F(ficb, FICB_FK_OPEN_STATUS)) = is_icb ? du::REF_PAIRED : du::REF_HOLDER;
  return 0;
}

// Opens (in kind 3) and pairs one reference of `tcb` to table `target_name`.
int32_t OpenReference(int32_t* base, int32_t usr, int32_t hash, int32_t tcb, int32_t ref,
                      bool is_icb, int32_t target_name) {
  int32_t rr[DUREC_RECORD + 2] = {};
  int32_t ro[OPB_WORDS] = {};
  rr[DUREC_ACCESS_MODE] = 4;
  rr[DUREC_TNAME] = target_name;
  ro[OPB_KIND] = OPEN_REFERENCED;
  ro[OPB_TNAME] = target_name;
  const int32_t rc = OpenOne(base, usr, hash, rr, ro);
  const int32_t target = ro[OPB_OPENED_TCB];
  if (target == 0) return rc;
  int32_t paired = rc;
  if (rc == 0) {
    std::lock_guard<std::mutex> pairing(du::PairingLock());
    paired = Pair(base, tcb, ref, is_icb, target);
  }
  if (paired != 0) {
    // Someone paired it first, or it has no partner: the use taken goes back.
    if (du::DropUse(base, target, true)) {
      int32_t lid = 0;
      if (du::FinalClose(base, target, 0, &lid) == 0 && lid != 0)
        DUCloseDatabank(base, usr, 0, lid, -1);
    }
  }
  return paired < 0 ? paired : 0;
}

int32_t OpenReferences(int32_t* base, int32_t usr, int32_t hash, int32_t tcb) {
  const int32_t own = W(base, F(tcb, TCB_TNAME));
  struct Pending {
    int32_t ref;
    bool is_icb;
    int32_t target;
  };
  std::vector<Pending> pending;
  {
    // The reference states change under the pairing lock only.
    std::lock_guard<std::mutex> pairing(du::PairingLock());
    for (int32_t icb = W(base, F(tcb, TCB_ICB)); icb != 0; icb = W(base, icb)) {
      const int32_t kind = W(base, F(icb, ICB_IXTYPE));
      const int32_t target = W(base, F(icb, ICB_FK_TNAME));
      if ((kind == IX_FOREIGN_KEY || kind == IX_FOREIGN_KEY_SKIPPED) && target != own &&
          W(base, F(icb, ICB_FK_OPEN_STATUS)) < du::REF_PAIRED)
        pending.push_back({icb, true, target});
    }
    for (int32_t f = W(base, F(tcb, TCB_FICB)); f != 0; f = W(base, f)) {
      const int32_t target = W(base, F(f, FICB_FK_TNAME));
      if (target != own && W(base, F(f, FICB_FK_OPEN_STATUS)) < du::REF_PAIRED)
        pending.push_back({f, false, target});
    }
  }
  for (const Pending& p : pending)
    if (int32_t rc = OpenReference(base, usr, hash, tcb, p.ref, p.is_icb, p.target); rc != 0)
      return rc;
  return 0;
}

// The index record block's open: a use of the base table, which must be open.
int32_t OpenIndexBlock(int32_t* base, int32_t hash, int32_t* record, int32_t* open) {
  const int32_t base_table = record[DUREC_KEY_FLAG];
  const int64_t bucket = du::Bucket(base, hash, base_table, 0);
  du::BucketGuard guard(base, bucket);
  const int32_t tcb = du::FindInBucket(base, bucket, base_table);
  int32_t icb = tcb == 0 ? 0 : W(base, F(tcb, TCB_ICB));
  while (icb != 0 && W(base, F(icb, ICB_TNAME)) != record[DUREC_TNAME]) icb = W(base, icb);
  if (icb == 0 || W(base, F(tcb, TCB_USECOUNT)) < 1) return DU_NO_BASE_TABLE;
  if (du::LockedAdd(base, F(tcb, TCB_USECOUNT), 1) == 1)
    du::LockedAdd(base, F(tcb, TCB_REMOVAL_USECOUNT), 1);
  record[DUREC_OBJECT] = icb;
  record[DUREC_TBL] = W(base, F(icb, ICB_TBL));
  record[DUREC_REQUEST_WORDS] = W(base, F(icb, ICB_QRECLEN));
  const int32_t trans = W(base, F(tcb, TCB_TRANS_MODE));
  record[DUREC_MERGE] = trans == 2 || trans == 3 ? 2 : open[OPB_MERGE_FLAG];
  open[OPB_DCB] = W(base, F(tcb, TCB_DCB));
  return 0;
}

// One table (and, for a first open, the tables it references). The use is
// taken before anything can fail, so a failed open is closed as any other.
int32_t OpenOne(int32_t* base, int32_t usr, int32_t hash, int32_t* record, int32_t* open) {
  const int32_t kind = open[OPB_KIND];
  const int32_t tname = open[OPB_TNAME];
  const int32_t mode = kind == OPEN_REFERENCED ? 4 : record[DUREC_ACCESS_MODE];
  if (mode < 1 || mode > 5) return DU_BAD_ARGUMENT;
  int32_t tcb = 0;
  bool fresh = false;
  int32_t rc = TakeTable(base, hash, tname, kind, mode, open[OPB_NO_COUNT] == 2, &tcb, &fresh);
  if (rc != 0) return rc;
  WaitForOpener(base, tcb, fresh);
  if (kind != OPEN_REFERENCED) record[DUREC_OBJECT] = tcb;
  open[OPB_OPENED_TCB] = tcb;
  // Only the opener that made the block fills it: a block lowered to mode 5
  // by a shared opener also reads 5, and must not be filled twice.
  if (fresh && tname != DU_WORK_TABLE && kind != OPEN_THROUGH_INDEX) {
    rc = Fill(base, usr, tcb, open);
    if (rc == 0) du::AtomicStore(base, F(tcb, TCB_OPEN_STATUS), 6);
  }
  if (rc == 0 && du::AtomicLoad(base, F(tcb, TCB_OPEN_STATUS)) + mode < 6) rc = DU_TABLE_IN_USE;
  if (rc == 0) rc = OpenInKernel(base, usr, tcb, mode, open);
  if (rc == 0 && mode == 1 && tname != DU_WORK_TABLE && W(base, F(tcb, TCB_DCB)) != 0 &&
      !CountExclusive(base, W(base, F(tcb, TCB_DCB))))
    rc = DU_TABLE_HELD;
  if (rc != 0) {
    if (rc != DU_TABLE_HELD && rc != DU_TABLE_IN_USE)
      FailTable(base, hash, tcb);
    else if (mode == 1)
      GiveUpExclusive(base, hash, tcb);
    du::Give(base, F(tcb, TCB_S));
    return rc;
  }
  if (kind != OPEN_REFERENCED && tname == record[DUREC_TNAME] && record[DUREC_KEYLEN] != 0 &&
      (record[DUREC_KEYLEN] != W(base, F(tcb, TCB_KEYLEN)) ||
       record[DUREC_RECLEN] != W(base, F(tcb, TCB_RECLEN))))
    rc = DU_BAD_DESCRIPTION_LENGTHS;
  {
    du::BucketGuard guard(base, du::Bucket(base, hash, tname, tcb));
    std::atomic_ref<int32_t> outer(W(base, F(tcb, TCB_OUTER_ACCESS_MODE)));
    std::atomic_ref<int32_t> status(W(base, F(tcb, TCB_OPEN_STATUS)));
    if (rc == 0 && outer.load() > mode) outer.store(mode);
    if (rc == 0 && status.load() > mode) status.store(mode);
  }
  du::Give(base, F(tcb, TCB_S));
  if (rc != 0) return rc;
  if (kind != OPEN_REFERENCED) {
    record[DUREC_REQUEST_WORDS] = QueueRecordWords(W(base, F(tcb, TCB_RECLEN)));
    const int32_t trans = W(base, F(tcb, TCB_TRANS_MODE));
    record[DUREC_MERGE] = trans == 2 || trans == 3 ? 2 : 0;
    record[DUREC_TBL] = W(base, F(tcb, TCB_TBL));
    for (int32_t k = 0; k < 6; ++k) record[DUREC_LID + k] = W(base, F(tcb, TCB_LID + k));
  }
  open[OPB_DCB] = W(base, F(tcb, TCB_DCB));
  open[OPB_LID] = W(base, F(tcb, TCB_LID));
  if (kind != OPEN_REFERENCED && mode != 4 && W(base, F(tcb, TCB_FK_ACCESS_MODE)) == 5)
    rc = OpenReferences(base, usr, hash, tcb);
  return rc;
}

}  // namespace

void DUOpenTableChain(int32_t* base, int32_t usr, int32_t* record, int32_t* open) {
  const int32_t hash = du::TcbHash(base);
  if (hash == 0) {
    record[DUREC_STATUS] = DU_NOT_INITIALISED;
    return;
  }
  for (int32_t w : {DUREC_FETCH_CODE, DUREC_OBJECT, DUREC_MERGE, DUREC_REQUEST_WORDS, DUREC_REQUEST,
                    DUREC_STATUS, DUREC_TBL})
    record[w] = 0;
  open[OPB_TNAME] = record[DUREC_TNAME];
  open[OPB_TYPE] = record[DUREC_TYPE];
  open[OPB_KEYLEN] = record[DUREC_KEYLEN];
  open[OPB_RECLEN] = record[DUREC_RECLEN];
  if (open[OPB_LID] == 0) open[OPB_LID] = record[DUREC_LID];
  open[OPB_OPENED_TCB] = 0;
  open[OPB_DESCRIPTION] = 0;
  const int32_t type = record[DUREC_TYPE];
  if ((type == DU_TYPE_INDEX || type == DU_TYPE_INDEX_REF) &&
      open[OPB_KIND] != OPEN_THROUGH_INDEX) {
    record[DUREC_STATUS] = OpenIndexBlock(base, hash, record, open);
    return;
  }
  record[DUREC_STATUS] = OpenOne(base, usr, hash, record, open);
}

void DUOSTX1(int32_t* base, int32_t* record, int32_t tcb, int32_t second) {
  const int32_t hash = du::TcbHash(base);
  if (hash == 0) {
    record[DUREC_STATUS] = DU_NOT_INITIALISED;
    return;
  }
  const int32_t code = record[DUREC_ACCESS_MODE];
  if (code != 3 && code != 4) du::LogInternal("DUOSTX1: Invalid function code");
  if (!du::BlockInside(base, tcb, TCB_WORDS) ||
      record[DUREC_RECLEN] != W(base, F(tcb, TCB_RECLEN)) ||
      record[DUREC_LID] != W(base, F(tcb, TCB_LID)) ||
      record[DUREC_KEYLEN] != W(base, F(tcb, TCB_KEYLEN))) {
    // Attached with other lengths, the block's requests would read and
    // write rows of another size than its buffer holds.
    du::LogInternal("DUOSTX1: Invalid parameter");
    record[DUREC_STATUS] = DU_BAD_DESCRIPTION_LENGTHS;
    return;
  }
  const int32_t own = W(base, F(tcb, TCB_TNAME));
  if (record[DUREC_TNAME] != own) {
    if (own == DU_WORK_TABLE && record[DUREC_TNAME] > 0)
      record[DUREC_TNAME] = own;
    else
      du::LogInternal("DUOSTX1: Invalid table name");
  }
  {
    du::BucketGuard guard(base, du::Bucket(base, hash, own, tcb));
    if (du::LockedAdd(base, F(tcb, TCB_USECOUNT), 1) == 1)
      du::LockedAdd(base, F(tcb, TCB_REMOVAL_USECOUNT), 1);
  }
  record[DUREC_TBL] = W(base, F(tcb, TCB_TBL));
  const int32_t trans = W(base, F(tcb, TCB_TRANS_MODE));
  record[DUREC_MERGE] = trans == 2 || trans == 3 ? 2 : 0;
  if (second != 0) record[DUREC_MERGE] = record[DUREC_TNAME] != DU_WORK_TABLE ? -1 : 0;
  record[DUREC_OBJECT] = tcb;
  record[DUREC_STATUS] = 0;
  record[DUREC_REQUEST_WORDS] = QueueRecordWords(W(base, F(tcb, TCB_RECLEN)));
}

int32_t DUCreateTcb(int32_t* base, int32_t tname, const int32_t* description, int32_t desc_words,
                    int32_t dcb) {
  const int32_t hash = du::TcbHash(base);
  if (hash == 0) return DU_NOT_INITIALISED;
  if (desc_words <= DESC_ENTRIES || description[DESC_KIND] != 1) return DU_BAD_ARGUMENT;
  const int64_t bucket = du::Bucket(base, hash, tname, 0);
  {
    du::BucketGuard guard(base, bucket);
    if (du::FindInBucket(base, bucket, tname) != 0) return 1;
  }
  const int32_t tcb = du::NewBlock(base, TCB_BYTES);
  if (tcb == 0) return DU_NO_STORAGE;
  W(base, F(tcb, TCB_TNAME)) = tname;
  W(base, F(tcb, TCB_USECOUNT)) = 1;
  W(base, F(tcb, TCB_REMOVAL_USECOUNT)) = 1;
  enqdeq_init_semaphore(&W(base, F(tcb, TCB_S)), 1);
  enqdeq_init_semaphore(&W(base, F(tcb, TCB_FK_S)), 1);
  W(base, F(tcb, TCB_LID)) = description[DESC_LID];
  W(base, F(tcb, TCB_TYPE)) = description[DESC_TYPE];
  W(base, F(tcb, TCB_KEYLEN)) = description[DESC_KEYLEN];
  W(base, F(tcb, TCB_RECLEN)) = description[DESC_RECLEN];
  W(base, F(tcb, TCB_DCB)) = dcb;
  if (du::BlockInside(base, dcb, DCB_WORDS))
    W(base, F(tcb, TCB_TRANS_MODE)) = W(base, F(dcb, DCB_TRANS_MODE));
  int32_t rc = du::FillFromDescription(base, tcb, description, desc_words);
  if (rc == 0) {
    int32_t open[OPB_WORDS] = {};
    rc = OpenInKernel(base, 0, tcb, 3, open);
  }
  if (rc != 0) {
    for (int32_t icb = W(base, F(tcb, TCB_ICB)); icb != 0; icb = W(base, icb))
      du::CloseKernelTable(base, icb, ICB_LID, -22);
    du::CloseKernelTable(base, tcb, TCB_LID, -22);
    du::FreeTcbChains(base, tcb);
    du::FreeBlock(base, tcb);
    return rc;
  }
  du::AtomicStore(base, F(tcb, TCB_OPEN_STATUS), 3);
  du::AtomicStore(base, F(tcb, TCB_OUTER_ACCESS_MODE), 3);
  W(base, F(tcb, TCB_FK_ACCESS_MODE)) = 7;
  du::BucketGuard guard(base, bucket);
  if (du::FindInBucket(base, bucket, tname) != 0) {
    // Created meanwhile by another caller: this one goes again.
    for (int32_t icb = W(base, F(tcb, TCB_ICB)); icb != 0; icb = W(base, icb))
      du::CloseKernelTable(base, icb, ICB_LID, 0);
    du::CloseKernelTable(base, tcb, TCB_LID, 0);
    du::FreeTcbChains(base, tcb);
    du::FreeBlock(base, tcb);
    return 1;
  }
  W(base, tcb) = W(base, bucket + TCBH_BUCKET_HEAD);
  W(base, bucket + TCBH_BUCKET_HEAD) = tcb;
  return 0;
}

int32_t DUOpenKernelTable(int32_t* base, int32_t usr, const int32_t* request, int32_t* tcb) {
  *tcb = 0;
  const int32_t hash = du::TcbHash(base);
  if (hash == 0) return DU_NOT_INITIALISED;
  const int32_t lid = request[1], table = request[2];
  if (table <= 0 || request[4] < 1 || request[5] < 1) return DU_BAD_ARGUMENT;
  int32_t dcb = 0;
  int32_t rc = DUOpenDatabank(base, usr, lid, &dcb);
  if (rc != 0) return rc < 0 ? rc : DU_BAD_ARGUMENT;
  int32_t d[DESC_ENTRIES + 1] = {};
  d[DESC_KIND] = 1;
  d[DESC_LID] = lid;
  d[DESC_TYPE] = request[7];
  d[DESC_KEYLEN] = request[4];
  d[DESC_RECLEN] = request[5];
  d[DESC_ENTRIES] = DESC_END;
  rc = DUCreateTcb(base, table, d, DESC_ENTRIES + 1, dcb);
  if (rc == 0) {
    const int64_t bucket = du::Bucket(base, hash, table, 0);
    du::BucketGuard guard(base, bucket);
    *tcb = du::FindInBucket(base, bucket, table);
    return 0;
  }
  // Registered already (by this or another databank), the table cannot be
  // told apart by its number: refused rather than shared.
  DUCloseDatabank(base, usr, 0, lid, -1);
  return rc == 1 ? DU_TABLE_IN_USE : rc;
}
