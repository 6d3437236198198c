// The commit of a write set: its commit number, the copy of its records
// into the commit set (change records first, the header last, so that the
// background threads read a transaction's records up to its header), and the
// group commit that writes the commit set's pages once for every committer
// that appended meanwhile.
#include "dk/commit_write_set.h"

#include <algorithm>
#include <set>
#include <span>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/error_log.h"
#include "dk/set_pages.h"
#include "dk/set_requests.h"
#include "dk/set_table.h"
#include "dk/table_entries.h"
#include "dk/test_points.h"
#include "dk/transactions.h"
#include "platform/enqdeq.h"
#include "platform/server_clock.h"

namespace {

using dkset::RoutineIndex;

int32_t Report(int32_t routine, int32_t rc, int32_t value, int32_t databank = 0) {
  ReportPageError(routine, rc, DK_SEV_ERROR, value, databank);
  return rc;
}

std::vector<int32_t> SetBlock(int32_t table, int32_t page_size) {
  std::vector<int32_t> b(SETRQ_RECORD + SetMaxRecordWords(page_size), 0);
  b[SETRQ_TABLE] = table;
  b[SETRQ_TBL] = Bufferpool()[table + TBE_TBL];
  return b;
}

// Every record of a write set, the header first; the data pages they lie on
// are counted in *pages.
int32_t ReadWriteSet(int32_t write_set, std::vector<std::vector<int32_t>>* records,
                     int32_t* pages) {
  std::vector<int32_t> b = SetBlock(write_set, kCommitSetPageSize);
  std::set<int32_t> seen;
  b[SETRQ_RC] = 2;
  for (;;) {
    const int32_t rc = DKGXN0(b);
    if (rc == SET_END) break;
    if (rc < 0) return rc;
    b[SETRQ_RC] = 0;
    seen.insert(b[SETRQ_PAGE]);
    records->emplace_back(b.begin() + SETRQ_RECORD, b.begin() + SETRQ_RECORD + b[SETRQ_LENGTH]);
  }
  *pages = static_cast<int32_t>(seen.size());
  if (records->empty() || records->front().empty() || records->front()[WS_CODE] != kCodeHeader) {
    const int32_t code = records->empty() || records->front().empty() ? 0 : records->front()[0];
    return Report(RoutineIndex("DKCXT0"), -87, code, Bufferpool()[BP_TRANS_DATABANK]);
  }
  // The background reads a transaction's records up to the first header and
  // applies none shorter than a table-bound record's words: a later header
  // would leave the records after it unapplied under a commit reported done,
  // a short record would end the server when applied (and one without its
  // order number word would hold the commit set's trim for ever).
  for (size_t i = 1; i < records->size(); ++i) {
    const std::vector<int32_t>& r = (*records)[i];
    if (r.size() <= static_cast<size_t>(WSR_TBL) || r[WS_CODE] == kCodeHeader)
      return Report(RoutineIndex("DKCXT0"), -66, r.empty() ? 0 : r[WS_CODE]);
  }
  return 0;
}

// The commit set: a set without compression in the TRANS databank.
int32_t CheckCommitSet(int32_t routine) {
  const int32_t table = LoadWord(BP_COMMIT_SET_TBL);
  int32_t* a = Bufferpool();
  if (!dkset::IsTableEntry(table) || a[table + TBE_KIND] != kKindSet || a[table + TBE_METHOD] != 0)
    return Report(routine, -46, table);
  return 0;
}

// Appends one record to the commit set, its page changed in the pool; the
// position of its first length word goes to *page and *position.
int32_t AppendRecord(std::vector<int32_t>& b, const std::vector<int32_t>& record, int32_t* page,
                     int32_t* position) {
  if (record.size() + SETRQ_RECORD > b.size()) return -67;
  b[SETRQ_RC] = 0;
  b[SETRQ_LENGTH] = static_cast<int32_t>(record.size());
  std::copy(record.begin(), record.end(), b.begin() + SETRQ_RECORD);
  return DKAppendToCommitSet(b, page, position);
}

// Under the commit-set lock: the records go in with the transaction's order
// number in word 1, change records first and the header last.
int32_t AppendGroup(int32_t tss, int32_t commit, std::vector<std::vector<int32_t>>& records) {
  int32_t* a = Bufferpool();
  const int32_t table = LoadWord(BP_COMMIT_SET_TBL);
  std::vector<int32_t> b = SetBlock(table, kCommitSetPageSize);
  EnqdeqGuard guard(a + BP_LOCK_COMMIT_SET);
  // Taken at once: records left behind by a failed append keep a number of
  // their own.
  const int32_t group = LoadWord(BP_COMMIT_SET_ORDER) + 1;
  StoreWord(BP_COMMIT_SET_ORDER, group);
  int32_t page = 0, position = 0;
  std::set<int32_t> on;  // the commit set's data pages the group lies on
  for (size_t i = 1; i < records.size(); ++i) {
    std::vector<int32_t>& r = records[i];
    if (r.size() > 1) r[1] = group;
    if (int32_t rc = AppendRecord(b, r, &page, &position)) return rc;
    on.insert(page);
    if (i == 1) a[tss + TSS_FIRST_PAGE] = page, a[tss + TSS_FIRST_POS] = position;
  }
  std::vector<int32_t>& header = records.front();
  if (header.size() <= WSH_PAGES) header.resize(WSH_PAGES + 1, 0);
  header[WSH_GROUP] = group;
  header[WSH_PREPARE] = a[tss + TSS_PREPARE];
  header[WSH_COMMIT] = commit;
  // The commit that decides a transaction prepared for a distributed commit
  // (from state 15 or 16, the deciding end's alone) names it, so that its
  // applying, or the restart that replays it, marks its kept group decided.
  const int32_t state = a[tss + TSS_STATE];
  header[WSH_START] = state == TSS_WAIT_COMMIT || state == TSS_IN_DOUBT ? a[tss + TSS_START] : 0;
  // Word 13 counts the pages of the group in the commit set: the restart
  // replays a group only when it finds them all.
  header[WSH_PAGES] = static_cast<int32_t>(on.size()) + (on.empty() ? 1 : 0);
  // And its records, the header included: a page written in the middle of
  // the append leaves every page there but not every record.
  header[WSH_RECORDS] = static_cast<int32_t>(records.size());
  if (int32_t rc = AppendRecord(b, header, &page, &position)) return rc;
  if (!on.empty() && on.count(page) == 0) {
    ++header[WSH_PAGES];
    b[SETRQ_RC] = 0;
    b[SETRQ_PAGE] = page;
    b[SETRQ_POSITION] = position;
    b[SETRQ_LENGTH] = WSH_PAGES + 1;
    std::copy(header.begin(), header.begin() + WSH_PAGES + 1, b.begin() + SETRQ_RECORD);
    if (int32_t rc = DKUOS0(b); rc < 0) return rc;
  }
  if (records.size() == 1) a[tss + TSS_FIRST_PAGE] = page, a[tss + TSS_FIRST_POS] = position;
  a[tss + TSS_END_PAGE] = page;
  a[tss + TSS_END_POS] = position;
  a[tss + TSS_GROUP] = group;
  return 0;
}

// Group commit: one committer writes the commit set's changed pages for
// every group appended so far; the others find their group on disk already.
int32_t WriteGroup(int32_t group) {
  int32_t* a = Bufferpool();
  EnqdeqGuard guard(a + BP_LOCK_GROUP_COMMIT);
  if (LoadWord(BP_COMMIT_SET_WRITTEN) >= group) {
    CountWord(BP_GROUPED_TRANSACTIONS);
    return 0;
  }
  // A group is numbered when its append begins: under the commit-set lock
  // every group up to the last number is in the pages (or has failed), and
  // none still being appended is counted as written.
  int32_t upto;
  {
    EnqdeqGuard set_guard(a + BP_LOCK_COMMIT_SET);
    upto = LoadWord(BP_COMMIT_SET_ORDER);
  }
  int32_t pag[PAGREQ_WORDS] = {};
  pag[0] = a[LoadWord(BP_COMMIT_SET_TBL) + TBE_DATABANK];
  const int32_t rc = DKPAG0(pag, 1);
  if (rc != 0) return rc;
  // A write that took other committers' groups with its own is a group
  // commit, and counts once more among the grouped transactions (each
  // other one counts itself when it finds its group written).
  if (upto - std::max(LoadWord(BP_COMMIT_SET_WRITTEN), 0) > 1) {
    CountWord(BP_GROUP_COMMITS);
    CountWord(BP_GROUPED_TRANSACTIONS);
  }
  StoreWord(BP_COMMIT_SET_WRITTEN, upto);
  return 0;
}

// A commit answered with an error has its records in the commit set's pages
// all the same, and the write that failed (for its other pages) or a later
// one can bring them to the file whole, where the restart would replay them:
// its header is marked as a group the restart leaves alone, and written at
// once. When the header's page cannot be read, its write failed, and no
// image of it on the file holds the header.
void DisownGroup(int32_t tss) {
  int32_t* a = Bufferpool();
  std::vector<int32_t> b = SetBlock(LoadWord(BP_COMMIT_SET_TBL), kCommitSetPageSize);
  EnqdeqGuard guard(a + BP_LOCK_COMMIT_SET);
  const int32_t page = a[tss + TSS_END_PAGE], position = a[tss + TSS_END_POS];
  b[SETRQ_PAGE] = page;
  b[SETRQ_POSITION] = position;
  b[SETRQ_RC] = 2;
  if (page <= 0 || DKGXN0(b) != 0 || b[SETRQ_LENGTH] <= WSH_KIND ||
      b[SETRQ_RECORD + WS_CODE] != kCodeHeader || b[SETRQ_RECORD + WSH_GROUP] != a[tss + TSS_GROUP])
    return;
  b[SETRQ_RECORD + WSH_KIND] = kKindNotReplayed;
  b[SETRQ_RC] = -2;
  b[SETRQ_PAGE] = page;
  b[SETRQ_POSITION] = position;
  b[SETRQ_LENGTH] = WSH_KIND + 1;
  if (DKUOS0(b) < 0) Report(RoutineIndex("DKCXT0"), b[SETRQ_RC], a[tss + TSS_GROUP]);
}

// A write set joins the group commit when the commit set has its ring and
// the write set is one data page used to three quarters of its words at
// most: larger ones take the write for themselves at once.
bool JoinsGroup(int32_t kind, const std::vector<std::vector<int32_t>>& records) {
  if (kind != kWriteSetOnePage || LoadWord(BP_COMMIT_SET_INDEX_PID) == 0) return false;
  int64_t used = SETDATA_FIRST;
  for (const std::vector<int32_t>& r : records) used += static_cast<int64_t>(r.size()) + 2;
  return used <= kCommitSetPageSize / 4 * 3 / 4;
}

}  // namespace

int32_t DKStartCommit(const int32_t* request, int32_t* result, int32_t write_set) {
  int32_t* a = Bufferpool();
  const int32_t tss = request[3];
  std::vector<int32_t> b = SetBlock(write_set, kCommitSetPageSize);
  b[SETRQ_RC] = 2;
  const int32_t rc = DKGXN0(b);
  if (rc < 0) return rc;
  if (rc == SET_END || b[SETRQ_LENGTH] < 1 || b[SETRQ_RECORD] != kCodeHeader)
    return Report(RoutineIndex("DKCXT0"), -87, a[BP_TRANS_DATABANK], a[BP_TRANS_DATABANK]);
  result[0] = 3;
  if (request[0] == 1) {
    CountWord(BP_DISTR_SECURED_ABORTS);
    result[1] = 0;
    return 0;
  }
  CountWord(BP_DISTR_COMMITS);
  // The entry carries its number as soon as the number is given: a check
  // that reads the last number and then looks for entries up to it under
  // the TSS lock finds this one.
  DKLock(BP_LOCK_TSS_HASH);
  DKLock(BP_LOCK_BACKGROUND_IO);
  const int32_t commit = AddWord(BP_COMMITS, 1);
  a[tss + TSS_COMMIT] = commit;
  DKUnlock(BP_LOCK_BACKGROUND_IO);
  DKUnlock(BP_LOCK_TSS_HASH);
  result[1] = 1;
  result[3] = commit;
  const int32_t point = LoadWord(BP_SECURED_TRANS_NUMBER);
  DKLock(BP_LOCK_WS_POSTPROC);
  if (a[BP_RESTART_TRANS_NUMBER] < point) a[BP_RESTART_TRANS_NUMBER] = point;
  DKUnlock(BP_LOCK_WS_POSTPROC);
  return 0;
}

int32_t DKCXT0(int32_t write_set, int32_t tss) {
  int32_t* a = Bufferpool();
  const int32_t routine = RoutineIndex("DKCXT0");
  std::vector<int32_t> check = SetBlock(write_set, 2048);
  if (int32_t rc = dkset::CheckSetTable(check, routine)) return rc;
  if (int32_t rc = CheckCommitSet(routine)) return rc;
  a[tss + TSS_FIRST_POS] = 4;
  const int32_t commit =
      a[tss + TSS_COMMIT] != 0 ? a[tss + TSS_COMMIT] : a[tss + TSS_PREPARE] + 10000;
  std::vector<std::vector<int32_t>> records;
  int32_t pages = 0;
  if (int32_t rc = ReadWriteSet(write_set, &records, &pages)) return rc;
  a[tss + TSS_DATA_PAGES] = pages;
  int32_t kind = 0;
  if (int32_t rc = DKWriteSetKind(write_set, pages, &kind)) return rc;
  // Before anything reaches the commit set: a copy that fails leaves the
  // commit undone.
  if (kind == kWriteSetSpread)
    if (int32_t rc = DKCopyWriteSet(write_set, commit); rc < 0) return rc;
  if (int32_t rc = AppendGroup(tss, commit, records)) {
    Report(RoutineIndex("DKLTR0"), rc, LoadWord(BP_COMMIT_SET_TBL));
    return rc;
  }
  DKReachTestPoint(DKTestPoint::kGroupAppended, a[tss + TSS_GROUP]);
  // Others may join the group before its page write: a small write set (one
  // data page, used to three quarters at most) waits for them. While other
  // read-write transactions are on their way (word 179 counts them; this one
  // left the count at its end), the committer sleeps the group-commit time
  // (word 162, milliseconds) first, else it only gives the processor up.
  if (JoinsGroup(kind, records)) {
    const int32_t sleep =
        LoadWord(BP_TRANSACTIONS_BEFORE_GROUP) > 0 ? LoadWord(BP_GROUP_COMMIT_SLEEP) : 0;
    DKReachTestPoint(DKTestPoint::kGroupCommitSleep, sleep);
    mdr_sleep(sleep);
  }
  if (int32_t rc = WriteGroup(a[tss + TSS_GROUP])) {
    DisownGroup(tss);
    return rc;
  }
  DKLock(BP_LOCK_TSS_HASH);
  --a[BP_USERS_IN_COMMIT];
  a[tss + TSS_ON_DISK] = ++a[BP_COMMITS_SECURED];
  a[tss + TSS_PARALLEL] = a[tss + TSS_KIND] != 0 ? a[tss + TSS_PREPARE] : a[BP_LAST_PREPARE];
  a[tss + TSS_STATE] = TSS_COMMITTED;
  DKUnlock(BP_LOCK_TSS_HASH);
  return 0;
}

int32_t DKCommitWriteSet(int32_t write_set, int32_t tss, int32_t end_mode) {
  int32_t* a = Bufferpool();
  if (end_mode == kEndPrepare) {
    // The write set waits for the outcome of the distributed transaction.
    a[tss + TSS_STATE] = TSS_WAIT_COMMIT;
    CountWord(BP_DISTR_SECURED_PREPARES);
    return 0;
  }
  const int32_t request[4] = {0, 0, 0, tss};
  int32_t result[4] = {};
  if (int32_t rc = DKStartCommit(request, result, write_set)) return rc;
  DKReachTestPoint(DKTestPoint::kCommitNumbered, result[3]);
  if (int32_t rc = DKCXT0(write_set, tss)) return rc;
  const int32_t secured = LoadWord(BP_SECURED_TRANS_NUMBER);
  DKLock(BP_LOCK_WS_POSTPROC);
  if (a[BP_RESTART_TRANS_NUMBER] < secured) a[BP_RESTART_TRANS_NUMBER] = secured;
  DKUnlock(BP_LOCK_WS_POSTPROC);
  return 0;
}
