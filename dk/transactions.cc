// Begin and end of transactions: the TSS entries taken and given back, the
// write-set check and prepare with the validation through the read set, the
// post-commit step that hands a commit to the background threads, and the
// waking of a background thread.
#include "dk/transactions.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/commit_write_set.h"
#include "dk/control_area.h"
#include "dk/error_log.h"
#include "dk/in_doubt_transactions.h"
#include "dk/request.h"
#include "dk/set_pages.h"
#include "dk/set_table.h"
#include "dk/table_entries.h"
#include "dk/test_points.h"
#include "platform/enqdeq.h"

namespace {

using dkset::RoutineIndex;

constexpr int32_t kIndexDKBTR1 = 8, kIndexDKETR1 = 25;
constexpr int32_t kDeferredLimit = 168, kDeferredThreads = 170, kDeferredRefused = 171;
constexpr int32_t kMaxTablesRemembered = 100;

std::atomic<const DKReadChecks*> read_checks{nullptr};

int32_t Report(int32_t routine, int32_t rc, int32_t value, int32_t severity = DK_SEV_ERROR) {
  DKReportError(routine, rc, severity, &value, value);
  return rc;
}

bool InBuildup(int32_t state) {
  return state == TSS_BUILDUP_RO || state == TSS_BUILDUP_RW || state == TSS_IN_DOUBT;
}

// The set block of a work table, room for the largest record of a 16K page.
std::vector<int32_t> SetBlock(int32_t table) {
  std::vector<int32_t> b(SETRQ_RECORD + SetMaxRecordWords(kCommitSetPageSize), 0);
  b[SETRQ_TABLE] = table;
  b[SETRQ_TBL] = Bufferpool()[table + TBE_TBL];
  return b;
}

// A work table: a table entry whose identifier is -1.
bool IsWorkTable(int32_t table) {
  return dkset::IsTableEntry(table) && Bufferpool()[table + TBE_TBL] == -1;
}

// A copy of a databank is usable when its error word is 0 and its word 8 is
// 0 or 4. A failing page write of a background thread disables a databank
// (its error word set by compare-and-swap) while commits check it: the
// words are read atomically.
int32_t UsableOrError(int32_t databank) {
  int32_t* a = Bufferpool();
  for (int32_t d = databank, n = 0; d > 0 && DKIsDatabankEntry(d) && n <= a[BP_DATABANK_COUNT];
       d = a[d + DBE_DEPENDENT], ++n) {
    const int32_t offline = LoadWord(d + DBE_ERROR2);
    if (LoadWord(d + DBE_ERROR) == 0 && (offline == 0 || offline == 4)) return 0;
  }
  const int32_t error = LoadWord(databank + DBE_ERROR);
  return error != 0 ? error : -45;
}

struct Prepared {
  int32_t largest = 0;  // largest record count over the listed databanks
  bool synchronous = false;
};

// Whether every record of the write set after its header only changes the
// state of a databank's copies (16 offline, 17 online) or is a utility
// record (15), which the background applies to no copy's pages.
bool OnlyCopyStateRecords(int32_t write_set) {
  std::vector<int32_t> b = SetBlock(write_set);
  b[SETRQ_RC] = 2;
  if (DKGXN0(b) != 0) return false;  // the header
  for (;;) {
    b[SETRQ_RC] = 0;
    const int32_t rc = DKGXN0(b);
    if (rc == SET_END) return true;
    if (rc < 0 || b[SETRQ_LENGTH] < 1) return false;
    const int32_t code = b[SETRQ_RECORD + WS_CODE];
    if (code != 15 && code != 16 && code != 17) return false;
  }
}

// Walks the header's databank list: every entry a databank with a usable
// copy, or, for a write set that only changes copy states, a databank whose
// copies are offline without an error (its copy is brought back online by
// it). The largest record count goes to *largest.
int32_t CheckHeader(std::span<const int32_t> header, int32_t length, int32_t write_set,
                    int32_t* largest) {
  const int32_t routine = RoutineIndex("DKPTC1");
  *largest = 0;
  for (int32_t at = WSH_DATABANKS; at + WSH_ENTRY_WORDS <= length; at += WSH_ENTRY_WORDS) {
    const int32_t databank = header[at + WSHE_DATABANK];
    if (databank < 0) break;
    if (!DKIsDatabankEntry(databank)) return Report(routine, -45, databank);
    if (int32_t rc = UsableOrError(databank)) {
      const bool offline = LoadWord(databank + DBE_ERROR) == 0;
      if (!offline || !OnlyCopyStateRecords(write_set)) return rc;
    }
    *largest = std::max(*largest, header[at + WSHE_RECORDS]);
  }
  return 0;
}

// Validation: each read-set record is checked against the writes committed
// since the transaction's view; a whole table only once.
int32_t Validate(int32_t tss, int32_t read_set) {
  CountWord(BP_TRANSACTION_CHECKS);
  if (read_set == 0) return 0;
  std::vector<int32_t> b = SetBlock(read_set);
  std::vector<int32_t> tables;
  b[SETRQ_RC] = 2;
  for (;;) {
    const int32_t rc = DKGXN0(b);
    if (rc == SET_END) return 0;
    if (rc < 0) return rc;
    b[SETRQ_RC] = 0;
    std::span<const int32_t> record(b.data() + SETRQ_RECORD, b[SETRQ_LENGTH]);
    if (record.size() <= RS_TABLE) continue;
    const DKReadChecks* checks = read_checks.load(std::memory_order_acquire);
    const bool whole = record[RS_KIND] == kReadWholeTable;
    if (whole) {
      if (std::find(tables.begin(), tables.end(), record[RS_TABLE]) != tables.end()) continue;
      if (tables.size() < kMaxTablesRemembered) tables.push_back(record[RS_TABLE]);
    }
    auto check = checks ? (whole ? checks->check_table : checks->check_record) : nullptr;
    if (!check) {
      // The transaction cache is not part of the kernel yet.
      return Report(RoutineIndex(whole ? "DKCHW0" : "DKCHR0"), -86, record[RS_KIND]);
    }
    // The words before the record in the block are the request view's own.
    if (!whole)
      record = std::span<const int32_t>(b.data() + SETRQ_RECORD - RS_ROW_VIEW,
                                        record.size() + RS_ROW_VIEW);
    if (int32_t answer = check(tss, record); answer != 0) return answer;
  }
}

// Word 143 names the synchronous committer still to be woken (its prepare
// number), 0 when none, or kNoBackgroundLeft once the shutdown found every
// background thread gone. Whoever wakes the committer clears it, under the
// TSS lock, so that it is woken once and reads the result of that one wake.
constexpr int32_t kNoBackgroundLeft = -1;

// A synchronous committer that will not wait takes its name back.
void ForgetAwaited() {
  int32_t* a = Bufferpool();
  EnqdeqGuard guard(a + BP_LOCK_TSS_HASH);
  if (a[BP_AWAITED_TRANSACTION] > 0) a[BP_AWAITED_TRANSACTION] = 0;
}

// Names a synchronous committer whose commit has been decided (the prepare
// number); false once no background thread is left to wake it.
bool AwaitAs(int32_t prepare) {
  int32_t* a = Bufferpool();
  EnqdeqGuard guard(a + BP_LOCK_TSS_HASH);
  if (a[BP_AWAITED_TRANSACTION] == kNoBackgroundLeft) return false;
  a[BP_AWAITED_TRANSACTION] = prepare;
  return true;
}

// DKPTC1: the header, the databanks it lists, the prepare number, and the
// validation when others prepared in between.
int32_t CheckAndPrepare(int32_t tss, int32_t write_set, int32_t read_set, Prepared* p) {
  const int32_t routine = RoutineIndex("DKPTC1");
  int32_t* a = Bufferpool();
  std::vector<int32_t> b = SetBlock(write_set);
  b[SETRQ_RC] = 2;
  int32_t rc = DKGXN0(b);
  if (rc == SET_END || (rc == 0 && (b[SETRQ_LENGTH] < 1 || b[SETRQ_RECORD] != kCodeHeader)))
    return Report(routine, -66, rc == SET_END ? 0 : b[SETRQ_RECORD]);
  if (rc < 0) return rc;
  std::span<const int32_t> header(b.data() + SETRQ_RECORD, b.size() - SETRQ_RECORD);
  const int32_t length = b[SETRQ_LENGTH];
  const int32_t kind = length > WSH_KIND ? header[WSH_KIND] : 0;
  a[tss + TSS_KIND] = kind;
  p->synchronous = kind == kKindWaitApplied || kind == kKindWaitSecured;
  if (p->synchronous) DKLock(BP_LOCK_SYNCH_TRANS);
  rc = CheckHeader(header, length, write_set, &p->largest);
  if (rc == 0 && kind != 0 && p->largest <= 2) {
    Report(routine, -43, kind);
    rc = -55;
  }
  if (rc == 0 && p->largest > 1) {
    DKLock(BP_LOCK_TSS_HASH);
    if (p->synchronous && a[BP_AWAITED_TRANSACTION] == kNoBackgroundLeft) {
      // The kernel stops and nobody would wake the committer.
      DKUnlock(BP_LOCK_TSS_HASH);
      rc = DK_RC_DOWN;
    } else {
      const int32_t prepare = ++a[BP_LAST_PREPARE];
      if (p->synchronous) a[BP_AWAITED_TRANSACTION] = prepare;
      const bool others_between = a[tss + TSS_PREPARE] + 1 != prepare;
      a[tss + TSS_PREPARE] = prepare;
      a[tss + TSS_STATE] = TSS_PREPARED;
      ++a[BP_USERS_IN_COMMIT];
      DKUnlock(BP_LOCK_TSS_HASH);
      if (others_between) rc = Validate(tss, read_set);
    }
  }
  if (rc != 0 && p->synchronous) {
    p->synchronous = false;
    ForgetAwaited();
    DKUnlock(BP_LOCK_SYNCH_TRANS);
  }
  return rc;
}

// A prepared transaction that does not commit leaves the prepare phase; one
// waiting for a distributed outcome has stayed in it since its prepare.
void LeavePrepare(int32_t tss) {
  int32_t* a = Bufferpool();
  DKLock(BP_LOCK_TSS_HASH);
  const int32_t state = a[tss + TSS_STATE];
  if (state == TSS_PREPARED || state == TSS_WAIT_COMMIT) --a[BP_USERS_IN_COMMIT];
  DKUnlock(BP_LOCK_TSS_HASH);
}

// DKAfterCommit for a commit handed to the background threads: a background
// thread is woken; a synchronous committer waits until its commit is applied
// (128) or secured (129) and answers what the background thread left.
int32_t AfterCommit(const Prepared& p) {
  DKBTW0(24);
  if (!p.synchronous) return 0;
  // Woken by the background thread that applied or secured the commit, or
  // by the shutdown when none is left; the waker cleared word 143.
  DKLock(BP_LOCK_KERNEL_WAIT_SYNCH);
  const int32_t result = LoadWord(BP_SYNCH_RESULT);
  DKUnlock(BP_LOCK_SYNCH_TRANS);
  return result;
}

void LeaveBuildup(int32_t tss) {
  if (Bufferpool()[tss + TSS_STATE] == TSS_BUILDUP_RW)
    PoolWord(BP_TRANSACTIONS_BEFORE_GROUP).fetch_sub(1);
}

// Ends a transaction that is not in doubt with a commit or a distributed
// prepare. The entry is released unless the background threads took it.
int32_t Commit(int32_t* block, int32_t tss, bool* released) {
  *released = true;
  const int32_t mode = block[ETR_MODE];
  // Whatever its outcome, the transaction stops building up.
  LeaveBuildup(tss);
  Prepared p;
  int32_t rc = CheckAndPrepare(tss, block[ETR_WRITE_SET], block[ETR_READ_SET], &p);
  if (rc != 0) {
    LeavePrepare(tss);
    DKFreeTss(tss);
    return rc;
  }
  if (p.largest < 2) {
    CountWord(BP_READ_COMMITS);
    DKFreeTss(tss);
    return mode == kEndPrepare ? 1 : 0;
  }
  // A prepared write set is kept where a restart finds it, before the
  // prepare is answered.
  if (mode == kEndPrepare) rc = DKKeepPreparedWriteSet(block[ETR_WRITE_SET], tss);
  if (rc == 0) rc = DKCommitWriteSet(block[ETR_WRITE_SET], tss, mode);
  if (rc != 0) {
    // Not in the commit set: the background threads never see it.
    if (p.synchronous) {
      ForgetAwaited();
      DKUnlock(BP_LOCK_SYNCH_TRANS);
    }
    LeavePrepare(tss);
    DKFreeTss(tss);
    // Its commit number, if it had one, is never applied.
    DKRaiseSecuredNumber();
    return rc;
  }
  *released = false;
  if (mode == kEndPrepare) {
    // The outcome may be long in coming and is asked for in a request of
    // its own: a synchronous committer must not hold the kernel's one
    // synchronous place meanwhile. It takes the place again at the commit.
    if (p.synchronous) {
      ForgetAwaited();
      DKUnlock(BP_LOCK_SYNCH_TRANS);
    }
    return 0;
  }
  return AfterCommit(p);
}

// Ends a transaction prepared for a distributed commit: its write set, given
// again in word 1, goes into the commit set as any commit's does; an abort
// gives the entry back. The entry is released unless the background threads
// took it.
int32_t EndWaiting(int32_t* block, int32_t tss, bool* released) {
  int32_t* a = Bufferpool();
  *released = true;
  // Where its write set is kept until the decision (set 167); the commit
  // set's positions take these words over.
  int32_t kept[4];
  for (int w = 0; w < 4; ++w) kept[w] = a[tss + TSS_FIRST_PAGE + w];
  const PreparedPlace place = DKPreparedPlaceOf(tss);
  if (block[ETR_MODE] == kEndAbort) {
    if (int32_t rc = DKForgetPreparedWriteSet(place, tss)) {
      // Still prepared where the next open looks: it waits on.
      *released = false;
      return rc;
    }
    LeavePrepare(tss);
    DKFreeTss(tss);
    CountWord(BP_TRANSACTION_ABORTS);
    return 0;
  }
  Prepared p;
  const int32_t kind = a[tss + TSS_KIND];
  p.synchronous = kind == kKindWaitApplied || kind == kKindWaitSecured;
  if (p.synchronous) {
    DKLock(BP_LOCK_SYNCH_TRANS);
    if (!AwaitAs(a[tss + TSS_PREPARE])) {
      // Undecided still: the entry waits on for a decision.
      DKUnlock(BP_LOCK_SYNCH_TRANS);
      *released = false;
      return DK_RC_DOWN;
    }
  }
  if (int32_t rc = DKCommitWriteSet(block[ETR_WRITE_SET], tss, kEndCommit)) {
    if (p.synchronous) {
      ForgetAwaited();
      DKUnlock(BP_LOCK_SYNCH_TRANS);
    }
    // Not decided: it waits on for a decision, without the commit number
    // it may have got, which is then passed over.
    {
      EnqdeqGuard guard(a + BP_LOCK_TSS_HASH);
      a[tss + TSS_COMMIT] = 0;
      for (int w = 0; w < 4; ++w) a[tss + TSS_FIRST_PAGE + w] = kept[w];
      a[tss + TSS_STATE] = TSS_WAIT_COMMIT;
    }
    DKRaiseSecuredNumber();
    *released = false;
    return rc;
  }
  *released = false;
  // In the commit set on disk: the kept write set is no longer owed. The
  // entry may be applied and freed meanwhile, so the mark goes by the
  // numbers kept; a failure leaves the mark to the commit's applying (or to
  // the restart that replays it).
  DKReachTestPoint(DKTestPoint::kDecisionCommitted, place.start);
  if (int32_t forgot = DKForgetPreparedWriteSet(place, 0)) Report(kIndexDKETR1, forgot, tss);
  return AfterCommit(p);
}

int32_t CheckEnd(const int32_t* block) {
  int32_t* a = Bufferpool();
  for (int word : {ETR_WRITE_SET, ETR_READ_SET}) {
    const int32_t t = block[word];
    if (!IsWorkTable(t)) return Report(kIndexDKETR1, -46, t);
  }
  const int32_t tss = block[ETR_TSS];
  if (!DKIsTssEntry(tss)) return Report(kIndexDKETR1, -85, tss);
  const int32_t state = a[tss + TSS_STATE];
  // A transaction prepared already is decided, not prepared again.
  const bool prepared = state == TSS_WAIT_COMMIT || state == TSS_IN_DOUBT;
  if (!(InBuildup(state) || prepared) || (prepared && block[ETR_MODE] == kEndPrepare))
    return Report(kIndexDKETR1, -85, tss);
  return 0;
}

// A transaction prepared for a distributed commit is decided by one end at
// a time. The sessions of a distributed transaction, or a manager asking
// again, may decide it at once: two commits would apply its write set
// twice, and an abort would free the entry under a commit. The decider
// marks TSS word 13 (the parallel count, which only the commit's entry into
// the commit set gives) under the TSS lock; an end that finds the mark is
// refused as for a state that does not allow it.

bool ClaimDecision(int32_t tss, int32_t state) {
  int32_t* a = Bufferpool();
  EnqdeqGuard guard(a + BP_LOCK_TSS_HASH);
  if (a[tss + TSS_STATE] != state || a[tss + TSS_PARALLEL] != 0) return false;
  a[tss + TSS_PARALLEL] = kTssBeingDecided;
  return true;
}

// An end that left the transaction undecided gives the decision back. A
// committed entry carries its parallel count instead of the mark; once
// secured it may have been freed and taken again, which its start number
// tells.
void GiveDecisionBack(int32_t tss, int32_t start) {
  int32_t* a = Bufferpool();
  EnqdeqGuard guard(a + BP_LOCK_TSS_HASH);
  const int32_t state = a[tss + TSS_STATE];
  if ((state == TSS_WAIT_COMMIT || state == TSS_IN_DOUBT) && a[tss + TSS_START] == start &&
      a[tss + TSS_PARALLEL] == kTssBeingDecided)
    a[tss + TSS_PARALLEL] = 0;
}

}  // namespace

void DKInstallReadChecks(const DKReadChecks* checks) {
  read_checks.store(checks, std::memory_order_release);
}

bool DKIsTssEntry(int32_t tss) {
  int32_t* a = Bufferpool();
  if (!a || tss < a[BP_TSS_FIRST] || tss > a[BP_TSS_LAST]) return false;
  return (tss - a[BP_TSS_FIRST]) % TSS_WORDS == 0;
}

void DKFreeTss(int32_t tss) {
  int32_t* a = Bufferpool();
  std::vector<int32_t> entries{tss};
  DKLock(BP_LOCK_TSS_HASH);
  if (a[tss + TSS_DEPENDENT] == -1) {
    // A dependent alone: its owner, found under the same start number,
    // stops naming it, so that the owner's end does not free it again.
    const int32_t owner = DKHMI0(a[BP_TSS_HASH], a[tss + TSS_START]);
    if (DKIsTssEntry(owner) && a[owner + TSS_DEPENDENT] == tss) a[owner + TSS_DEPENDENT] = 0;
  } else {
    for (int32_t d = a[tss + TSS_DEPENDENT], n = 0; DKIsTssEntry(d) && n < a[BP_TSS_COUNT];
         d = a[d + TSS_DEPENDENT], ++n)
      entries.push_back(d);
    DKHMP0(a[BP_TSS_HASH], tss);
  }
  // Every entry counted as a cache user at its begin. The last user's end
  // moves the drop stamp on in the same step, under the lock a begin counts
  // itself under: a transaction that began in between would otherwise make
  // its cache records under the old stamp and see them dropped as stale.
  for (size_t i = 0; i < entries.size(); ++i) {
    if (PoolWord(BP_TCACHE_USERS).fetch_sub(1) == 1) {
      DKReachTestPoint(DKTestPoint::kCacheUsersDropped, 0);
      CountWord(BP_TCACHE_DROP_TIMESTAMP);
    }
  }
  DKUnlock(BP_LOCK_TSS_HASH);
  DKLock(BP_LOCK_TSS_FREE);
  for (int32_t e : entries) {
    a[e + TSS_START] = 0;
    a[e + TSS_STATE] = 0;
    DKHML0(a[BP_TSS_HASH], e);
  }
  DKUnlock(BP_LOCK_TSS_FREE);
}

void DKWakeSynchronousCommitter(int32_t result) {
  int32_t* a = Bufferpool();
  bool wake = false;
  {
    EnqdeqGuard guard(a + BP_LOCK_TSS_HASH);
    if (a[BP_AWAITED_TRANSACTION] > 0) {
      a[BP_AWAITED_TRANSACTION] = 0;
      StoreWord(BP_SYNCH_RESULT, result);
      wake = true;
    }
  }
  if (wake) DKUnlock(BP_LOCK_KERNEL_WAIT_SYNCH);
}

void DKEndSynchronousWaits() {
  int32_t* a = Bufferpool();
  bool wake = false;
  {
    EnqdeqGuard guard(a + BP_LOCK_TSS_HASH);
    wake = a[BP_AWAITED_TRANSACTION] > 0;
    a[BP_AWAITED_TRANSACTION] = kNoBackgroundLeft;
    if (wake) StoreWord(BP_SYNCH_RESULT, DK_RC_DOWN);
  }
  if (wake) DKUnlock(BP_LOCK_KERNEL_WAIT_SYNCH);
}

void DKRaiseSecuredNumber() {
  int32_t* a = Bufferpool();
  EnqdeqGuard guard(a + BP_LOCK_TSS_HASH);
  // Commit numbers are given under this lock and the entry carries its own
  // at once; an entry freed without being secured takes its number out of
  // the way, so a commit that failed is passed over.
  int32_t bound = LoadWord(BP_COMMITS) + 1;
  int32_t state[4] = {0, a[BP_TSS_HASH], 0, 0};
  for (int32_t e = DKHMS0(state); e > 0; e = DKHMS0(state))
    if (a[e + TSS_COMMIT] > 0 && a[e + TSS_STATE] != TSS_SECURED)
      bound = std::min(bound, a[e + TSS_COMMIT]);
  if (bound - 1 > LoadWord(BP_SECURED_TRANS_NUMBER)) StoreWord(BP_SECURED_TRANS_NUMBER, bound - 1);
}

void DKBTR1(int32_t* block) {
  int32_t* a = Bufferpool();
  const int32_t mode = block[BTR_MODE];
  const int32_t owner = block[BTR_TSS];
  if (owner != 0 && (!DKIsTssEntry(owner) || !InBuildup(a[owner + TSS_STATE]))) {
    block[BTR_MODE] = Report(kIndexDKBTR1, -85, owner);
    return;
  }
  // A start number given for an in-doubt transaction is a hash key and
  // raises the last one given past it: 0 names a free entry, and the
  // largest word would leave no next number.
  if (mode < 0 && (block[BTR_START] < 1 || block[BTR_START] == INT32_MAX)) {
    block[BTR_TSS] = 0;
    block[BTR_MODE] = Report(kIndexDKBTR1, -43, block[BTR_START]);
    return;
  }
  DKLock(BP_LOCK_TSS_FREE);
  const int32_t tss = DKHMA0(a[BP_TSS_HASH]);
  DKUnlock(BP_LOCK_TSS_FREE);
  if (tss < 1) {
    block[BTR_TSS] = 0;
    block[BTR_MODE] = Report(kIndexDKBTR1, -84, a[BP_TSS_COUNT]);
    return;
  }
  for (int32_t w : {1, 4, 5, 6, 7, 9, 10, 11, 12, 13, 14, 16}) a[tss + w] = 0;
  enqdeq_init_semaphore(a + tss + TSS_WAIT, 0);
  a[tss + TSS_SAFE_HIGH] = LoadWord(BP_SAFE_HIGH_START);
  a[tss + TSS_STATE] = mode == 0 ? TSS_BUILDUP_RW : mode < 0 ? TSS_IN_DOUBT : TSS_BUILDUP_RO;
  if (mode == 0) PoolWord(BP_TRANSACTIONS_BEFORE_GROUP).fetch_add(1);
  // A cache user from here on: counted under the TSS lock, where the end of
  // the last user moves the drop stamp on (DKFreeTss).
  DKLock(BP_LOCK_TSS_HASH);
  PoolWord(BP_TCACHE_USERS).fetch_add(1);
  if (mode >= 0 && owner != 0) {
    for (int32_t w : {TSS_START, TSS_VIEW, TSS_PREPARE}) a[tss + w] = a[owner + w];
    a[tss + TSS_DEPENDENT] = -1;
    a[owner + TSS_DEPENDENT] = tss;
    DKUnlock(BP_LOCK_TSS_HASH);
  } else {
    if (mode >= 0) {
      a[tss + TSS_START] = ++a[BP_TRANSACTIONS_STARTED];
      a[tss + TSS_VIEW] = a[BP_COMMITS_SECURED];
      a[tss + TSS_PREPARE] = a[BP_USERS_IN_COMMIT] == 0 ? a[BP_LAST_PREPARE] : -1;
    } else {
      a[tss + TSS_START] = block[BTR_START];
      a[tss + TSS_VIEW] = a[tss + TSS_PREPARE] = 0;
      if (a[BP_TRANSACTIONS_STARTED] <= block[BTR_START])
        a[BP_TRANSACTIONS_STARTED] = block[BTR_START] + 1;
    }
    a[tss + TSS_SAFE_RELEASE] = a[BP_TSS_SAFE_COMMIT];
    DKHML0(a[BP_TSS_HASH], tss);
    DKUnlock(BP_LOCK_TSS_HASH);
  }
  block[BTR_MODE] = 0;
  block[BTR_TSS] = tss;
  block[BTR_START] = a[tss + TSS_START];
}

void DKETR1(int32_t* block) {
  int32_t* a = Bufferpool();
  if (int32_t rc = CheckEnd(block)) {
    block[ETR_MODE] = rc;
    return;
  }
  const int32_t tss = block[ETR_TSS];
  const int32_t mode = block[ETR_MODE];
  const int32_t state = a[tss + TSS_STATE];
  if (block[ETR_LOB_FLAG] != 0) {
    int32_t pag[PAGREQ_WORDS] = {};
    pag[PAGREQ_ORDER] = a[tss + TSS_START];
    // The pages of the transaction's large objects reach the disk before a
    // commit names them: an end that could not write them commits or
    // prepares nothing, and a transaction still building up is given back
    // as after a failed check (an abort goes on).
    const int32_t written = DKPAG0(pag, PAG_MARKED);
    if (written != 0 && mode != kEndAbort) {
      if (state != TSS_IN_DOUBT && state != TSS_WAIT_COMMIT) {
        LeaveBuildup(tss);
        DKFreeTss(tss);
        block[ETR_TSS] = 0;
      }
      block[ETR_MODE] = written;
      return;
    }
  }
  if (state == TSS_IN_DOUBT || state == TSS_WAIT_COMMIT) {
    if (!ClaimDecision(tss, state)) {
      block[ETR_MODE] = Report(kIndexDKETR1, -85, tss);
      return;
    }
    const int32_t start = a[tss + TSS_START];
    bool released = false;
    // An in-doubt write set is in set 167, where the prepare kept it; a
    // waiting one is given again in word 1.
    const int32_t rc = state == TSS_IN_DOUBT ? DKEndInDoubt(tss, mode, &released)
                                             : EndWaiting(block, tss, &released);
    if (released)
      block[ETR_TSS] = 0;
    else
      GiveDecisionBack(tss, start);
    block[ETR_MODE] = rc;
    return;
  }
  if (mode == kEndAbort) {
    LeaveBuildup(tss);
    DKFreeTss(tss);
    CountWord(BP_TRANSACTION_ABORTS);
    block[ETR_TSS] = 0;
    block[ETR_MODE] = 0;
    return;
  }
  bool released = true;
  const int32_t rc = Commit(block, tss, &released);
  if (released) block[ETR_TSS] = 0;
  block[ETR_MODE] = rc;
}

void DKBTW0(int32_t kind) {
  int32_t* a = Bufferpool();
  DKLock(BP_LOCK_BACKGROUND_QUEUE);
  if (kind == 25) {
    if (a[kDeferredThreads] >= a[kDeferredLimit]) {
      ++a[kDeferredRefused];
      DKUnlock(BP_LOCK_BACKGROUND_QUEUE);
      return;
    }
    ++a[kDeferredThreads];
  } else if (kind != 24) {
    DKUnlock(BP_LOCK_BACKGROUND_QUEUE);
    Report(RoutineIndex("DKBTW0"), -43, kind, DK_SEV_INTERNAL);
    return;
  }
  int32_t chosen = 0;
  for (int32_t s = a[BP_FIRST_SWA]; s > 0 && s <= a[BP_LAST_SWA]; s += SWA_WORDS) {
    if (LoadWord(s + SWA_STATE) == 2) {
      StoreWord(s + SWA_STATE, 4);
      chosen = s;
      break;
    }
  }
  if (chosen == 0) AddWord(BP_PENDING_BACKGROUND, 1);
  DKUnlock(BP_LOCK_BACKGROUND_QUEUE);
  if (chosen != 0) DKUnlock(chosen + SWA_WAKE);
}

void DKBTR1Entry(int32_t* block, void*) {
  DKBTR1(block);
}
void DKETR1Entry(int32_t* block, void*) {
  DKETR1(block);
}
