// The statement work list of a server thread (one work entry per record
// block a run touches, reused by every run) and the read-set check that
// action exits and requeues run before they hand the run back.
#include <algorithm>
#include <vector>

#include "du/record_operations.h"
#include "du/transactions.h"
#include "interp/machine.h"
#include "interp/program_layout.h"
#include "interp/record_services.h"
#include "kernel/control_blocks.h"
#include "kernel/system_block.h"
#include "kernel/word_storage.h"

namespace interp {
namespace {

constexpr int32_t kWorkNext = 0;
constexpr int32_t kWorkKey = 1;
constexpr int32_t kWorkMerge = 2;
constexpr int32_t kWorkScanMode = 3;
constexpr int32_t kWorkCleared = 21;
constexpr int32_t kWorkClaimedMerge = 40;
constexpr int32_t kWorkFixedBytes = 136;
// The read-set registration of an action exit: the entry's object, the
// DKAPS1 request from word 8 (status, the seven read-set words, the record
// length, the record from word 17 with its kind at word 23), and the copies
// of the record block's LID and TNAME.
constexpr int32_t kWorkObject = 6;
constexpr int32_t kWorkRequest = 8;
constexpr int32_t kWorkRecordWords = 16;
constexpr int32_t kWorkRecordKind = 23;
constexpr int32_t kWorkLid = 25;
constexpr int32_t kWorkTname = 28;
constexpr int32_t kReadSetRecordWords = 10;
constexpr int32_t kReadSetKind = -6;
constexpr int32_t kScanBegun = 1;
constexpr int32_t kScanContinued = 2;
constexpr int32_t kKernelErrorBase = -16140;

// A link that leaves the storage ends a walk instead of being followed.
bool EntryOk(int32_t* base, int32_t entry) {
  return entry > 0 && InStorage(base, entry, kWorkFixedBytes / 4);
}

}  // namespace

void DSClrStmList(int32_t* base, int32_t thr) {
  int32_t steps = base[0];
  for (int32_t e = Wd(base, thr, THR_TCC); EntryOk(base, e) && steps-- > 0;
       e = Wd(base, e, kWorkNext)) {
    Wd(base, e, kWorkKey) = 0;
    Wd(base, e, kWorkScanMode) = 0;
  }
}

void DSGetStmWork(int32_t* base, int32_t* record, int32_t key, int32_t thr, int32_t* entry) {
  record[kRecStatus] = 0;
  int32_t* link = &Wd(base, thr, THR_TCC);
  int32_t free_entry = 0;
  int32_t steps = base[0];
  for (int32_t e = *link; EntryOk(base, e) && steps-- > 0; e = *link) {
    if (Wd(base, e, kWorkKey) == key) {
      *entry = e;
      return;
    }
    if (free_entry == 0 && Wd(base, e, kWorkKey) == 0) free_entry = e;
    link = &Wd(base, e, kWorkNext);
  }
  if (free_entry == 0) {
    int32_t fresh = 0;
    DSGetMemRaw(base, &fresh, kWorkFixedBytes + DSGetKernelSetting(1));
    if (fresh == 0) {
      record[kRecStatus] = kErrNoStorage;
      *entry = 0;
      return;
    }
    Wd(base, fresh, kWorkNext) = 0;
    Wd(base, fresh, kWorkCleared) = 0;
    *link = fresh;
    free_entry = fresh;
  }
  Wd(base, free_entry, kWorkKey) = key;
  Wd(base, free_entry, kWorkMerge) = kWorkClaimedMerge;
  Wd(base, free_entry, kWorkScanMode) = 0;
  *entry = free_entry;
}

int32_t DAReadSetWalk(int32_t* base, int32_t usr, int32_t thr) {
  const int32_t tp = Wd(base, usr, USR_TP);
  std::vector<int32_t> entries;  // in chain order, up to the first free one
  int32_t steps = base[0];
  for (int32_t e = Wd(base, thr, THR_TCC);
       EntryOk(base, e) && steps-- > 0 && Wd(base, e, kWorkKey) != 0; e = Wd(base, e, kWorkNext))
    entries.push_back(e);
  for (const int32_t e : entries) {
    if (Wd(base, e, kWorkScanMode) != kScanBegun) continue;
    // A table's TCB and an index's ICB keep the mode in the same word.
    const int32_t object = Wd(base, e, kWorkObject);
    if (object < 1 || !InStorage(base, object, TCB_TRANS_MODE + 1)) continue;
    const int32_t mode = Wd(base, object, TCB_TRANS_MODE);
    if (mode != 2 && mode != 3) continue;
    // A scan of the same table continued or locked in this run has its rows
    // in the read set already.
    const bool spared = std::any_of(entries.begin(), entries.end(), [&](int32_t f) {
      return Wd(base, f, kWorkScanMode) == kScanContinued &&
             Wd(base, f, kWorkTname) == Wd(base, e, kWorkLid);
    });
    if (spared) continue;
    Wd(base, e, kWorkRecordKind) = kReadSetKind;
    Wd(base, e, kWorkRecordWords) = kReadSetRecordWords;
    int32_t rc = DKKeyCall(base, &Wd(base, e, kWorkRequest), tp + TP_RS_QBLKSIZ);
    if (rc < 0) rc += kKernelErrorBase;
    Wd(base, e, kWorkRequest) = rc;
    if (rc != 0) return rc;
  }
  return 0;
}

int32_t DSExitReadSetCheck(int32_t* base, int32_t usr, int32_t thr) {
  if (usr == 0) return 0;
  const int32_t tp = Wd(base, usr, USR_TP);
  if (tp == 0 || Wd(base, tp, TP_TRANSACTION_STATE) == 0 || Wd(base, tp, TP_ISOLATION_LEVEL) != 9 ||
      Wd(base, tp, TP_READ_WRITE_MODE) == 31)
    return 0;
  const int32_t rc = RecordServices().read_set_check(base, usr, thr);
  Wd(base, usr, USR_TRV_COND) = rc;
  return rc;
}

}  // namespace interp
