// Checkpoints: once a run of applied transactions is written, the copies of
// every databank a member changed are classified; a copy that cannot have
// taken the changes and is not known to be out (entry word 9) asks for a
// checkpoint, and that member and every later one of the run wait in state
// 20 instead of being secured. Their checkpoint units pass their records
// again, owed to the copies through the restart sets, and they are secured
// after them.
#include "dk/checkpoint.h"

#include <algorithm>
#include <vector>

#include "dk/background_threads.h"
#include "dk/bufferpool.h"
#include "dk/commit_write_set.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/databank_operations.h"
#include "dk/databank_restart.h"
#include "dk/error_log.h"
#include "dk/set_pages.h"
#include "dk/set_requests.h"
#include "dk/set_table.h"
#include "dk/table_entries.h"
#include "dk/transactions.h"
#include "dk/write_set_codes.h"
#include "platform/enqdeq.h"

namespace {

using dkset::RoutineIndex;

int32_t* A() {
  return Bufferpool();
}

// A copy takes the records applied: no error and online.
bool Takes(int32_t databank) {
  // Read atomically: a failing page write disables a databank meanwhile.
  return LoadWord(databank + DBE_ERROR) == 0 && LoadWord(databank + DBE_OFFLINE) == 0;
}

// The databank and its chained copies, under the databank hash lock.
std::vector<int32_t> Copies(int32_t databank) {
  int32_t* a = A();
  std::vector<int32_t> copies;
  EnqdeqGuard guard(a + BP_LOCK_DATABANK_HASH);
  const int32_t limit = LoadWord(BP_DATABANK_COUNT);
  for (int32_t d = databank, n = 0; DKIsDatabankEntry(d) && n <= limit;
       d = a[d + DBE_DEPENDENT], ++n)
    copies.push_back(d);
  return copies;
}

// The header of a member, read at TSS words 11 and 12; empty when it
// cannot be read (reported: the member is then secured as it is).
std::vector<int32_t> Header(int32_t tss) {
  int32_t* a = A();
  const int32_t table = LoadWord(BP_COMMIT_SET_TBL);
  if (!dkset::IsTableEntry(table)) return {};
  std::vector<int32_t> b(SETRQ_RECORD + SetMaxRecordWords(kCommitSetPageSize), 0);
  b[SETRQ_TABLE] = table;
  b[SETRQ_TBL] = a[table + TBE_TBL];
  b[SETRQ_PAGE] = a[tss + TSS_END_PAGE];
  b[SETRQ_POSITION] = a[tss + TSS_END_POS];
  b[SETRQ_RC] = 2;
  EnqdeqGuard guard(a + BP_LOCK_COMMIT_SET);
  const int32_t rc = DKGXN0(b);
  if (rc != 0 || b[SETRQ_LENGTH] < 1 || b[SETRQ_RECORD] != kCodeHeader) {
    int32_t value = rc != 0 ? rc : b[SETRQ_RECORD];
    DKReportError(RoutineIndex("DKSSD1"), -87, DK_SEV_INTERNAL, &value,
                  LoadWord(BP_TRANS_DATABANK));
    return {};
  }
  return {b.begin() + SETRQ_RECORD, b.begin() + SETRQ_RECORD + b[SETRQ_LENGTH]};
}

// Whether the copies of a databank that a member changed ask for a
// checkpoint; it is then marked (entry word 10).
bool AsksCheckpoint(int32_t databank) {
  int32_t* a = A();
  const int32_t cls = DKCopyClass(databank);
  if (cls == kCopiesUsable) return false;
  int32_t marked = 0, unusable = 0, seqno = -1;
  for (int32_t d : Copies(databank)) {
    if (Takes(d)) continue;
    ++unusable;
    seqno = a[d + DBE_SEQNO];
    if (a[d + DBE_OFFLINE_COPY] != 0) ++marked;
  }
  const bool single = unusable == 1 && seqno != -1;
  bool asks = false;
  if (cls == kCopiesOneOut) asks = marked != 1;
  if (cls == kCopiesSomeOut)
    asks = marked < 2 && !(a[databank + DBE_DID] == 1 && LoadWord(BP_SYSDB_RESTARTED) == 0);
  if (cls == kCopiesNoneUsable) asks = marked < 2 && (!single || marked != 1);
  if (asks) StoreWord(databank + DBE_CHECKPOINT, 1);
  return asks;
}

bool MemberAsks(int32_t tss) {
  const std::vector<int32_t> header = Header(tss);
  bool asks = false;
  for (size_t at = WSH_DATABANKS; at + WSH_ENTRY_WORDS <= header.size(); at += WSH_ENTRY_WORDS) {
    const int32_t databank = header[at + WSHE_DATABANK];
    if (databank < 0) break;
    if (!DKIsDatabankEntry(databank) || header[at + WSHE_RECORDS] < 3) continue;
    // Every databank is classified, so each one that asks is marked.
    if (AsksCheckpoint(databank)) asks = true;
  }
  return asks;
}

// Under lock 204: a background thread woken as DKBTW0 wakes one.
int32_t WakeOne() {
  int32_t* a = A();
  for (int32_t s = a[BP_FIRST_SWA]; s > 0 && s <= a[BP_LAST_SWA]; s += SWA_WORDS) {
    if (LoadWord(s + SWA_STATE) == SLOT_INACTIVE) {
      StoreWord(s + SWA_STATE, SLOT_ACTIVE_SOON);
      return s;
    }
  }
  AddWord(BP_PENDING_BACKGROUND, 1);
  return 0;
}

}  // namespace

int32_t DKCopyClass(int32_t databank) {
  int32_t usable = 0, unusable = 0;
  for (int32_t d : Copies(databank)) (Takes(d) ? usable : unusable) += 1;
  if (unusable == 0) return kCopiesUsable;
  if (usable == 0) return kCopiesNoneUsable;
  return unusable == 1 ? kCopiesOneOut : kCopiesSomeOut;
}

int32_t DKAskCheckpoints(int32_t run) {
  int32_t* a = A();
  std::vector<int32_t> members;
  for (int32_t x = run, n = 0; DKIsTssEntry(x) && n <= a[BP_TSS_COUNT]; x = a[x + TSS_LINK], ++n)
    members.push_back(x);
  size_t from = members.size();
  for (size_t i = 0; i < members.size() && from == members.size(); ++i)
    if (a[members[i] + TSS_FIRST_PAGE] != -1 && MemberAsks(members[i])) from = i;
  if (from == members.size()) return 0;
  int32_t kept = 0, woken = 0;
  {
    EnqdeqGuard guard(a + BP_LOCK_BACKGROUND_QUEUE);
    for (size_t i = from; i < members.size(); ++i) {
      if (a[members[i] + TSS_FIRST_PAGE] == -1) continue;
      DKLock(BP_LOCK_TSS_HASH);
      a[members[i] + TSS_STATE] = TSS_CHECKPOINT;
      DKUnlock(BP_LOCK_TSS_HASH);
      StoreWord(BP_CHECKPOINT_PENDING, 1);
      AddWord(BP_TSS_CHECKPOINT_STATE, 1);
      ++kept;
    }
    woken = WakeOne();
  }
  if (woken != 0) DKUnlock(woken + SWA_WAKE);
  return kept;
}

void DKStartCheckpointUnit() {
  int32_t* a = A();
  if (LoadWord(BP_CHECKPOINT_PENDING) != 1) return;
  // Applied meanwhile and waiting for their page write: they pass their
  // records again too.
  {
    EnqdeqGuard guard(a + BP_LOCK_BACKGROUND_IO);
    int32_t* at = &a[BP_AFTER_PROC_QUEUE];
    while (*at > 0) {
      const int32_t x = *at;
      if (a[x + TSS_FIRST_PAGE] == -1) {
        at = &a[x + TSS_LINK];
        continue;
      }
      *at = a[x + TSS_LINK];
      DKLock(BP_LOCK_TSS_HASH);
      a[x + TSS_STATE] = TSS_CHECKPOINT;
      DKUnlock(BP_LOCK_TSS_HASH);
      AddWord(BP_TSS_CHECKPOINT_STATE, 1);
    }
  }
  // The copies out of step are known from now on: the records owed to
  // them wait in their restart sets. An offline copy is marked as one in
  // error is: a copy whose making ended (record 26 clears word 9) stays
  // offline until it is put online, and owes the same.
  std::vector<int32_t> marked;
  {
    EnqdeqGuard guard(a + BP_LOCK_DATABANK_HASH);
    const int32_t first = LoadWord(BP_DATABANK_FIRST), last = LoadWord(BP_DATABANK_LAST);
    for (int32_t d = first; d > 0 && d <= last; d += DBE_WORDS) {
      if (a[d + DBE_DID] == 0) continue;
      if (a[d + DBE_DID] == 1 && a[BP_LOG_TABLE] <= 0) a[d + DBE_OFFLINE_COPY] = 1;
      if (a[d + DBE_CHECKPOINT] != 0) marked.push_back(d);
    }
    for (int32_t d : marked)
      for (int32_t c = d, n = 0; DKIsDatabankEntry(c) && n <= LoadWord(BP_DATABANK_COUNT);
           c = a[c + DBE_DEPENDENT], ++n)
        if (!Takes(c)) a[c + DBE_OFFLINE_COPY] = 1;
  }
  StoreWord(BP_CHECKPOINT_PENDING, 0);
}

int32_t DKPassCheckpointRecord(std::span<const int32_t> record, int32_t commit) {
  int32_t* a = A();
  if (record.size() <= static_cast<size_t>(WSR_TBL)) return 0;
  // The table-bound records, as applying them and the log copy have them:
  // an ALTER's rows (24) missed by a copy leave the records owed after it
  // reading rows of the old form there.
  if (WriteSetEntryCode(record[WS_CODE]) == 0) return 0;
  const int32_t table = record[WSR_TABLE];
  if (!dkset::IsTableEntry(table) || a[table + TBE_TBL] != record[WSR_TBL]) return 0;
  const int32_t databank = a[table + TBE_DATABANK];
  if (!DKIsDatabankEntry(databank) || LoadWord(databank + DBE_CHECKPOINT) == 0) return 0;
  if (DKCopyClass(databank) == kCopiesUsable) {
    int32_t value = databank;
    DKReportError(RoutineIndex("DKSSD1"), -55, DK_SEV_INTERNAL, &value, databank);
    return 0;
  }
  return DKOweToCopies(record, commit);
}

namespace {

constexpr int32_t kLogDid = 3;

// The log table's records of the transaction of `group` and `commit`: read
// from the end back to its header and on to its first record. The log takes
// transactions as they are applied, by ascending commit number, so a header
// of a lower commit number ends the search: the transaction logged nothing.
int32_t LoggedRecords(int32_t log, int32_t group, int32_t commit,
                      std::vector<std::vector<int32_t>>* records) {
  int32_t* a = A();
  std::vector<int32_t> b(SETRQ_RECORD + SetMaxRecordWords(kCommitSetPageSize), 0);
  b[SETRQ_TABLE] = log;
  b[SETRQ_TBL] = a[log + TBE_TBL];
  bool found = false;
  for (;;) {
    const int32_t rc = DKGXP0(b);
    if (rc == SET_END) break;
    if (rc < 0) return rc;
    const int32_t* r = b.data() + SETRQ_RECORD;
    const int32_t length = b[SETRQ_LENGTH];
    if (length < 2) continue;
    const bool header = r[WS_CODE] == kCodeHeader;
    if (found && (header || r[WSH_GROUP] != group)) break;
    if (!found && header && length > WSH_COMMIT) {
      if (r[WSH_COMMIT] < commit) break;
      found = r[WSH_GROUP] == group && r[WSH_COMMIT] == commit;
    }
    if (found) records->emplace_back(r, r + length);
  }
  std::reverse(records->begin(), records->end());
  return 0;
}

}  // namespace

int32_t DKPassCheckpointLog(int32_t tss) {
  int32_t* a = A();
  int32_t log_db;
  {
    EnqdeqGuard guard(a + BP_LOCK_DATABANK_HASH);
    log_db = DKHMI0(LoadWord(BP_DATABANK_HASH), kLogDid);
  }
  if (!DKIsDatabankEntry(log_db) || LoadWord(log_db + DBE_CHECKPOINT) == 0) return 0;
  if (DKCopyClass(log_db) == kCopiesUsable) {
    int32_t value = log_db;
    DKReportError(RoutineIndex("DKSSD1"), -55, DK_SEV_INTERNAL, &value, log_db);
    return 0;
  }
  // Without a log table nothing was logged.
  const int32_t log = LoadWord(BP_LOG_TABLE);
  if (!dkset::IsTableEntry(log)) return 0;
  const int32_t commit = a[tss + TSS_COMMIT];
  std::vector<std::vector<int32_t>> records;
  if (int32_t rc = LoggedRecords(log, a[tss + TSS_GROUP], commit, &records)) {
    int32_t value = rc;
    DKReportError(RoutineIndex("DKSSD1"), rc, DK_SEV_FATAL_REPEATED, &value,
                  LoadWord(BP_TRANS_DATABANK));
    return rc;
  }
  std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0);
  for (const std::vector<int32_t>& r : records) {
    if (SETRQ_RECORD + r.size() > b.size()) return -67;
    b[SETRQ_RC] = commit;
    b[SETRQ_LENGTH] = static_cast<int32_t>(r.size());
    std::copy(r.begin(), r.end(), b.begin() + SETRQ_RECORD);
    if (int32_t rc = DKAppendRestartRecord(b, kLogDid, -1)) return rc;
  }
  return 0;
}

void DKEndCheckpointUnit() {
  int32_t* a = A();
  if (AddWord(BP_TSS_CHECKPOINT_STATE, -1) > 0) {
    // Another member waits in state 20 for a unit of its own: the wake that
    // kept a run there, or none for the applied ones this unit's start kept,
    // was one for them all.
    DKBTW0(24);
    return;
  }
  EnqdeqGuard guard(a + BP_LOCK_DATABANK_HASH);
  const int32_t first = LoadWord(BP_DATABANK_FIRST), last = LoadWord(BP_DATABANK_LAST);
  for (int32_t d = first; d > 0 && d <= last; d += DBE_WORDS) {
    if (a[d + DBE_DID] == 0 || a[d + DBE_CHECKPOINT] == 0) continue;
    bool known = false, out = false;
    for (int32_t c = d, n = 0; DKIsDatabankEntry(c) && n <= LoadWord(BP_DATABANK_COUNT);
         c = a[c + DBE_DEPENDENT], ++n) {
      known = known || a[c + DBE_OFFLINE_COPY] != 0;
      out = out || !Takes(c);
    }
    // A copy back in step meanwhile (put online) is owed nothing more.
    if (out && !known) {
      int32_t value = d;
      DKReportError(RoutineIndex("DKSSD1"), -45, DK_SEV_INTERNAL, &value, d);
    }
    StoreWord(d + DBE_CHECKPOINT, 0);
  }
}
