// Transactions prepared for a distributed commit: the groups of set 167 in
// the TRANS databank that keep their write sets, the re-creation in doubt
// at the next open (DKRTC1), the list of them (DKEPT1) and the end that
// decides them. Groups are appended and marked decided under lock 242.
#include "dk/in_doubt_transactions.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <set>
#include <utility>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/commit_write_set.h"
#include "dk/control_area.h"
#include "dk/databank_restart.h"
#include "dk/error_log.h"
#include "dk/set_pages.h"
#include "dk/set_requests.h"
#include "dk/set_table.h"
#include "dk/table_entries.h"
#include "dk/table_open.h"
#include "dk/test_points.h"
#include "dk/transaction_cache.h"
#include "dk/transactions.h"
#include "dk/word_storage_access.h"
#include "platform/enqdeq.h"

namespace {

using dkset::RoutineIndex;

constexpr int32_t kTransDid = 2;
constexpr int32_t kIndexDKEPT1 = 57, kIndexDKETR1 = 25;
// Appends of a group, the mark that decides one and the drop of the set
// run one at a time; taken before the locks of the set and table routines.
constexpr int32_t BP_LOCK_PREPARED_SET = BP_LOCK_KERNEL_242;
// Section marks of the restart-set form, passed over by the readers.
constexpr int32_t kFirstMark = 30, kLastMark = 32;
// A set whose type code says kind 5, dropped: its close with -22 gives its
// pages back.
constexpr int32_t kDroppedSetType = 10 * kKindSet + kTypeDropped;

int32_t Report(int32_t routine, int32_t rc, int32_t value, int32_t severity = DK_SEV_ERROR) {
  DKReportError(routine, rc, severity, &value, value);
  return rc;
}

int32_t IndexDKRTC1() {
  static const int32_t index = RoutineIndex("DKRTC1");
  return index;
}

struct Place {
  int32_t page = 0, position = 0;
};

// One group of set 167: its change records with their places, its header.
struct Group {
  std::vector<std::vector<int32_t>> records;
  std::vector<Place> places;
  std::vector<int32_t> header;
  Place header_place;
  int32_t Word(size_t w) const { return w < header.size() ? header[w] : 0; }
};

std::vector<int32_t> SetBlock(int32_t table) {
  std::vector<int32_t> b(SETRQ_RECORD + SetMaxRecordWords(kCommitSetPageSize), 0);
  b[SETRQ_TABLE] = table;
  b[SETRQ_TBL] = kPreparedSetTbl;
  return b;
}

bool TransOpen() {
  EnqdeqGuard guard(Bufferpool() + BP_LOCK_DATABANK_HASH);
  return DKIsDatabankEntry(DKHMI0(LoadWord(BP_DATABANK_HASH), kTransDid));
}

// Set 167 opened for the caller: 0, -50 when the TRANS databank holds none
// (or is not open), or the open's code.
int32_t OpenPreparedSet(int32_t* table) {
  if (!TransOpen()) return -50;
  // A TRANS databank that never kept a prepared transaction has no set
  // 167, which is no fault: it is looked for quietly first, since the open
  // reports a missing table as an error (at every databank open of a start).
  if (int32_t rc = DKFindRootEntry(kTransDid, kPreparedSetTbl, kKindSet)) return rc;
  int32_t open[CRT_WORDS] = {3, 0, kTransDid, kKindSet, 0, kPreparedSetTbl};
  DKOPT1(open);
  *table = open[RQ_TABLE];
  return open[RQ_STATUS];
}

// Closed with mode 0: the entry stays in the table hash for the next use.
void ClosePreparedSet(int32_t table) {
  int32_t close[CRT_WORDS] = {0, 0, kTransDid, 0, table, kPreparedSetTbl};
  DKCLT1(close);
}

std::vector<int32_t> RecordOf(const std::vector<int32_t>& b) {
  return {b.begin() + SETRQ_RECORD, b.begin() + SETRQ_RECORD + b[SETRQ_LENGTH]};
}

// Reads the set from its start; every complete group whose header is
// undecided goes to `each`, whose failure ends the walk. Records of a group
// that another group's records interrupt, or that no header closes, are
// passed over: an append cut short leaves them. *highest receives the
// highest group number met, complete or not.
int32_t ScanGroups(int32_t table, const std::function<int32_t(const Group&)>& each,
                   int32_t* highest) {
  std::vector<int32_t> b = SetBlock(table);
  b[SETRQ_RC] = 2;
  Group open;
  for (;;) {
    const int32_t rc = DKGXN0(b);
    if (rc == SET_END) return 0;
    if (rc < 0) return rc;
    b[SETRQ_RC] = 0;
    std::vector<int32_t> r = RecordOf(b);
    if (r.size() < 2 || (r[WS_CODE] >= kFirstMark && r[WS_CODE] <= kLastMark)) continue;
    // Group numbers are prepare numbers, from 1 on, and the last one is
    // raised past the highest: a number out of that range (a damaged file)
    // is no group of ours, and its record is passed over.
    if (r[1] < 1 || r[1] == INT32_MAX) continue;
    *highest = std::max(*highest, r[1]);
    const Place place{b[SETRQ_PAGE], b[SETRQ_POSITION]};
    const bool apart = !open.records.empty() && open.records.front()[1] != r[1];
    if (apart) open = Group{};
    if (r[WS_CODE] != kCodeHeader) {
      open.records.push_back(std::move(r));
      open.places.push_back(place);
      continue;
    }
    open.header = std::move(r);
    open.header_place = place;
    const int32_t prepare = open.Word(WSH_PREPARE);
    if (open.Word(WSH_KIND) == kKindPrepared && prepare >= 1 && prepare < INT32_MAX)
      if (int32_t failed = each(open)) return failed;
    open = Group{};
  }
}

// The group of a transaction from its positions (TSS words 9 to 12).
int32_t ReadGroup(int32_t table, Place first, Place header, Group* g) {
  g->header_place = header;
  std::vector<int32_t> b = SetBlock(table);
  b[SETRQ_PAGE] = first.page;
  b[SETRQ_POSITION] = first.position;
  b[SETRQ_RC] = 2;
  for (int32_t n = 0;; ++n) {
    const int32_t rc = DKGXN0(b);
    if (rc < 0) return rc;
    if (rc == SET_END || n > 1 << 20) return Report(kIndexDKETR1, -87, 0);
    b[SETRQ_RC] = 0;
    std::vector<int32_t> r = RecordOf(b);
    const bool at_header =
        b[SETRQ_PAGE] == g->header_place.page && b[SETRQ_POSITION] == g->header_place.position;
    if (at_header) {
      if (r.empty() || r[WS_CODE] != kCodeHeader)
        return Report(kIndexDKETR1, -87, r.empty() ? 0 : r[0]);
      g->header = std::move(r);
      return 0;
    }
    if (r.size() >= 2 && r[WS_CODE] >= kFirstMark && r[WS_CODE] <= kLastMark) continue;
    g->records.push_back(std::move(r));
    g->places.push_back({b[SETRQ_PAGE], b[SETRQ_POSITION]});
  }
}

// Every record of a write set (a work table), its header first.
int32_t ReadWriteSet(int32_t write_set, std::vector<std::vector<int32_t>>* records) {
  std::vector<int32_t> b = SetBlock(write_set);
  b[SETRQ_TBL] = Bufferpool()[write_set + TBE_TBL];
  b[SETRQ_RC] = 2;
  for (;;) {
    const int32_t rc = DKGXN0(b);
    if (rc == SET_END) break;
    if (rc < 0) return rc;
    b[SETRQ_RC] = 0;
    records->push_back(RecordOf(b));
  }
  if (records->empty() || records->front().empty() || records->front()[WS_CODE] != kCodeHeader)
    return Report(RoutineIndex("DKPTC1"), -66, records->empty() ? 0 : records->front()[0]);
  return 0;
}

// The pages of set 167 on the TRANS databank and its copies reach disk.
int32_t WritePreparedSet() {
  int32_t* a = Bufferpool();
  int32_t head;
  {
    EnqdeqGuard guard(a + BP_LOCK_DATABANK_HASH);
    head = DKHMI0(a[BP_DATABANK_HASH], kTransDid);
  }
  for (int32_t d = head, n = 0; DKIsDatabankEntry(d) && n <= a[BP_DATABANK_COUNT];
       d = a[d + DBE_DEPENDENT], ++n) {
    if (a[d + DBE_ERROR] != 0 || a[d + DBE_ERROR2] != 0) continue;
    int32_t pag[PAGREQ_WORDS] = {d, 0, 0, 0, -1, 0, 0, 0};
    if (DKPAG0(pag, PAG_FLUSH) != 0) return pag[PAGREQ_RC] != 0 ? pag[PAGREQ_RC] : -44;
  }
  return 0;
}

// The places of the group just appended: its header is the set's last
// record, its `changes` records come right before it.
int32_t FindAppended(int32_t tss, size_t changes) {
  int32_t* a = Bufferpool();
  int32_t table = 0;
  if (int32_t rc = OpenPreparedSet(&table)) return rc;
  std::vector<int32_t> b = SetBlock(table);
  int32_t rc = DKGXP0(b);
  if (rc == 0) {
    a[tss + TSS_END_PAGE] = a[tss + TSS_FIRST_PAGE] = b[SETRQ_PAGE];
    a[tss + TSS_END_POS] = a[tss + TSS_FIRST_POS] = b[SETRQ_POSITION];
  }
  for (size_t i = 0; rc == 0 && i < changes; ++i) {
    rc = DKGXP0(b);
    a[tss + TSS_FIRST_PAGE] = b[SETRQ_PAGE];
    a[tss + TSS_FIRST_POS] = b[SETRQ_POSITION];
  }
  ClosePreparedSet(table);
  return rc == SET_END ? -87 : rc;
}

// True while another transaction than `tss` waits for its outcome.
bool OthersUndecided(int32_t tss) {
  int32_t* a = Bufferpool();
  EnqdeqGuard guard(a + BP_LOCK_TSS_HASH);
  int32_t state[4] = {0, a[BP_TSS_HASH], 0, 0};
  for (int32_t e = DKHMS0(state); e > 0; e = DKHMS0(state)) {
    const int32_t s = a[e + TSS_STATE];
    if (e != tss && (s == TSS_WAIT_COMMIT || s == TSS_IN_DOUBT)) return true;
  }
  return false;
}

// Leaves the prepare and commit phase it was counted in since its prepare
// or its re-creation.
void LeaveCommitPhase() {
  EnqdeqGuard guard(Bufferpool() + BP_LOCK_TSS_HASH);
  --Bufferpool()[BP_USERS_IN_COMMIT];
}

// The table entry of a TBL on the databank of `did`: from the table hash,
// or opened and closed again so that it stays there; 0 when not to be had.
int32_t TableOf(int32_t did, const std::vector<int32_t>& r) {
  {
    EnqdeqGuard guard(Bufferpool() + BP_LOCK_TABLE_HASH);
    const int32_t t = DKHMI0(LoadWord(BP_TABLE_HASH), r[WSR_TBL]);
    if (dkset::IsTableEntry(t)) return t;
  }
  int32_t open[CRT_WORDS] = {3, 0, did, -1, 0, r[WSR_TBL], r[RQ_KEY_LENGTH], r[RQ_RECORD_LENGTH]};
  DKOPT1(open);
  if (open[RQ_STATUS] != 0) return 0;
  const int32_t t = open[RQ_TABLE];
  open[RQ_STATUS] = 0;
  DKCLT1(open);
  return t;
}

// The entries a group names were those of the run that prepared it: the
// header's databanks and the records' tables are named anew by DID and
// TBL. A databank or table not to be had now is -45 or -46.
int32_t NameEntriesAnew(Group* g) {
  int32_t* a = Bufferpool();
  std::vector<int32_t>& h = g->header;
  for (size_t at = WSH_DATABANKS; at + WSH_ENTRY_WORDS <= h.size() && h[at] >= 0;
       at += WSH_ENTRY_WORDS) {
    EnqdeqGuard guard(a + BP_LOCK_DATABANK_HASH);
    const int32_t d = DKHMI0(a[BP_DATABANK_HASH], h[at + WSHE_DID]);
    if (!DKIsDatabankEntry(d)) return Report(kIndexDKETR1, -45, h[at + WSHE_DID]);
    h[at + WSHE_DATABANK] = d;
  }
  for (std::vector<int32_t>& r : g->records) {
    if (r.size() <= WSR_TBL || r[WS_CODE] >= kCodeHeader || r[WSR_TBL] == 0) continue;
    const int32_t t = TableOf(r[WSR_DID], r);
    if (t == 0) return Report(kIndexDKETR1, -46, r[WSR_TBL]);
    r[WSR_TABLE] = t;
  }
  return 0;
}

// The group's records as a write set of its own (a work set in TRANS,
// dropped, so that its close with -22 gives its pages back), the header
// first and no longer marked prepared.
int32_t MakeWriteSet(const Group& g, int32_t* table) {
  int32_t c[CRT_WORDS] = {};
  c[RQ_DID] = kTransDid;
  c[RQ_TYPE] = kDroppedSetType;
  c[RQ_TBL] = -1;
  c[RQ_INDEX_PAGE_SIZE] = 2048;
  c[RQ_DATA_PAGE_SIZE] = kCommitSetPageSize;
  DKCRT1(c);
  if (c[RQ_STATUS] != 0) return c[RQ_STATUS];
  *table = c[RQ_TABLE];
  std::vector<int32_t> b = SetBlock(*table);
  b[SETRQ_TBL] = -1;
  auto append = [&b](const std::vector<int32_t>& r) {
    if (SETRQ_RECORD + r.size() > b.size()) return -67;
    b[SETRQ_RC] = 0;
    b[SETRQ_LENGTH] = static_cast<int32_t>(r.size());
    std::copy(r.begin(), r.end(), b.begin() + SETRQ_RECORD);
    return DKAXR0(b);
  };
  std::vector<int32_t> header = g.header;
  header[WSH_KIND] = 0;
  if (int32_t rc = append(header)) return rc;
  for (const auto& r : g.records)
    if (int32_t rc = append(r)) return rc;
  return 0;
}

void FreeWriteSet(int32_t table) {
  if (table == 0) return;
  int32_t close[CRT_WORDS] = {-22, 0, kTransDid, 0, table, -1};
  DKCLT1(close);
}

// Commits the group of an in-doubt transaction: the commit number and the
// commit set, as any commit; the entry then belongs to the background.
int32_t CommitInDoubt(int32_t tss, Group g) {
  int32_t* a = Bufferpool();
  int32_t write_set = 0;
  int32_t rc = NameEntriesAnew(&g);
  if (rc == 0) rc = MakeWriteSet(g, &write_set);
  const int32_t kept[4] = {a[tss + TSS_FIRST_PAGE], a[tss + TSS_FIRST_POS], a[tss + TSS_END_PAGE],
                           a[tss + TSS_END_POS]};
  // Applied by the background without a committer waiting for it.
  a[tss + TSS_KIND] = 0;
  if (rc == 0) rc = DKCommitWriteSet(write_set, tss, kEndCommit);
  FreeWriteSet(write_set);
  if (rc == 0) return 0;
  // Still in doubt: its number, if it got one, is never applied.
  {
    EnqdeqGuard guard(a + BP_LOCK_TSS_HASH);
    a[tss + TSS_COMMIT] = 0;
    for (int w = 0; w < 4; ++w) a[tss + TSS_FIRST_PAGE + w] = kept[w];
  }
  DKRaiseSecuredNumber();
  return rc;
}

// A change record of the in-doubt transaction `tss` into the cache of its
// table, as record access put it there before the stop.
int32_t Recache(int32_t tss, int32_t did, const std::vector<int32_t>& r, Place place) {
  constexpr int32_t kSequenceWord = 9;
  const int32_t length = r.size() > RQ_RECORD_LENGTH ? r[RQ_RECORD_LENGTH] : -1;
  if (length < 0 || RQ_RECORD + (static_cast<size_t>(length) + 3) / 4 > r.size())
    return Report(IndexDKRTC1(), -66, r[WS_CODE]);
  const int32_t table = TableOf(did, r);
  if (table == 0) return Report(IndexDKRTC1(), -46, r[WSR_TBL]);
  std::vector<int32_t> b(static_cast<size_t>(TcRequestWords(length)), 0);
  b[TC_POSITION] = place.page;
  b[TC_POSITION + 1] = place.position;
  b[TC_TSS] = tss;
  b[TC_MODE] = r[WS_CODE];
  b[TC_DID] = did;
  b[TC_TABLE_KIND] = r[WSR_KIND];
  b[TC_TABLE] = table;
  b[TC_TBL] = r[WSR_TBL];
  b[TC_KEY_LENGTH] = r[RQ_KEY_LENGTH];
  b[TC_RECORD_LENGTH] = length;
  b[TC_SEQUENCE] = r[kSequenceWord] != 0 ? r[kSequenceWord] : 1;
  std::memcpy(b.data() + TC_ROW, r.data() + RQ_RECORD, static_cast<size_t>(length));
  DKINT1(b.data());
  return b[TC_MODE] < 0 ? b[TC_MODE] : 0;
}

// At the open of the TRANS databank: the transaction of an undecided group
// in doubt again, with its start and prepare numbers (an entry that is
// there already, from an earlier open of this run, is kept). 0 when none.
int32_t Recreate(const Group& g, int32_t* created, bool* there) {
  int32_t* a = Bufferpool();
  int32_t b[ETR_WORDS] = {-1, 0, 0, 0, g.Word(WSH_START), 0, 0};
  {
    EnqdeqGuard guard(a + BP_LOCK_TSS_HASH);
    const int32_t found = DKHMI0(a[BP_TSS_HASH], g.Word(WSH_START));
    *there = DKIsTssEntry(found);
    if (*there && a[found + TSS_STATE] == TSS_IN_DOUBT &&
        a[found + TSS_PREPARE] == g.Word(WSH_PREPARE))
      return 0;
  }
  if (*there) {
    // A transaction of this run, begun before the TRANS databank opened,
    // holds the start number: the group stays owed to a later open.
    Report(IndexDKRTC1(), -85, g.Word(WSH_START));
    return 0;
  }
  DKBTR1(b);
  if (b[BTR_MODE] != 0) return b[BTR_MODE];
  const int32_t tss = b[BTR_TSS];
  const Place first = g.places.empty() ? g.header_place : g.places.front();
  EnqdeqGuard guard(a + BP_LOCK_TSS_HASH);
  a[tss + TSS_FIRST_PAGE] = first.page;
  a[tss + TSS_FIRST_POS] = first.position;
  a[tss + TSS_END_PAGE] = g.header_place.page;
  a[tss + TSS_END_POS] = g.header_place.position;
  a[tss + TSS_PREPARE] = g.Word(WSH_PREPARE);
  if (a[BP_LAST_PREPARE] <= g.Word(WSH_PREPARE)) a[BP_LAST_PREPARE] = g.Word(WSH_PREPARE) + 1;
  ++a[BP_USERS_IN_COMMIT];
  ++*created;
  return 0;
}

// The identifier's bytes follow the word that ends the header's databank
// list; false when the header does not hold as many as its length word says.
bool IdentifierOf(const std::vector<int32_t>& h, const uint8_t** bytes, int32_t* length) {
  *length = h.size() > WSH_IDENTIFIER_LENGTH ? h[WSH_IDENTIFIER_LENGTH] : 0;
  *bytes = nullptr;
  if (*length == 0) return true;
  if (*length < 0 || *length > kMaxIdentifierBytes) return false;
  size_t at = WSH_DATABANKS;
  while (at < h.size() && h[at] >= 0) at += WSH_ENTRY_WORDS;
  ++at;
  if (at > h.size() || (h.size() - at) * 4 < static_cast<size_t>(*length)) return false;
  *bytes = reinterpret_cast<const uint8_t*>(h.data() + at);
  return true;
}

// The tables (DID, TBL) the group changes, ten to a block of the kernel
// word storage; the first block in *first (0: none).
int32_t CollectTables(const Group& g, int32_t* first, int32_t* count) {
  std::vector<std::pair<int32_t, int32_t>> tables;
  for (const auto& r : g.records) {
    if (r.size() <= WSR_TBL) continue;
    const int32_t code = r[WS_CODE];
    if (code != 1 && code != 2 && code != 4) continue;
    const std::pair<int32_t, int32_t> t{r[WSR_DID], r[WSR_TBL]};
    if (std::find(tables.begin(), tables.end(), t) == tables.end()) tables.push_back(t);
  }
  *first = 0;
  *count = static_cast<int32_t>(tables.size());
  std::vector<int32_t> blocks;
  for (size_t i = 0; i < tables.size(); i += kTablesPerBlock) {
    const int32_t block = DKStorageAllocate(kTableBlockWords * 4);
    int32_t* w = block > 0 ? DKStorageWords(block, kTableBlockWords) : nullptr;
    if (!w) {
      for (int32_t given : blocks) DKStorageRelease(given);
      *first = 0;
      return Report(kIndexDKEPT1, -14, *count);
    }
    const size_t n = std::min<size_t>(kTablesPerBlock, tables.size() - i);
    w[TBLK_NEXT] = 0;
    w[TBLK_COUNT] = static_cast<int32_t>(n);
    for (size_t k = 0; k < n; ++k) {
      w[TBLK_FIRST + 2 * k] = tables[i + k].first;
      w[TBLK_FIRST + 2 * k + 1] = tables[i + k].second;
    }
    if (!blocks.empty()) DKStorageWords(blocks.back(), kTableBlockWords)[TBLK_NEXT] = block;
    blocks.push_back(block);
  }
  if (!blocks.empty()) *first = blocks.front();
  return 0;
}

// The in-doubt transaction with the lowest start number above `after`.
// An in-doubt transaction as the listing found it under the TSS lock:
// where its group lies in set 167 is read there too, since an end deciding
// it replaces those words with its places in the commit set.
struct InDoubt {
  int32_t tss = 0, start = 0;
  Place first, header;
};

// The in-doubt transaction of the lowest start number above `after` that
// no end is deciding; tss 0 when none.
InDoubt NextInDoubt(int32_t after) {
  int32_t* a = Bufferpool();
  EnqdeqGuard guard(a + BP_LOCK_TSS_HASH);
  int32_t found = 0;
  int32_t state[4] = {0, a[BP_TSS_HASH], 0, 0};
  for (int32_t e = DKHMS0(state); e > 0; e = DKHMS0(state)) {
    if (a[e + TSS_STATE] != TSS_IN_DOUBT || a[e + TSS_START] <= after) continue;
    if (a[e + TSS_PARALLEL] == kTssBeingDecided) continue;
    if (found == 0 || a[e + TSS_START] < a[found + TSS_START]) found = e;
  }
  if (found == 0) return {};
  return {found,
          a[found + TSS_START],
          {a[found + TSS_FIRST_PAGE], a[found + TSS_FIRST_POS]},
          {a[found + TSS_END_PAGE], a[found + TSS_END_POS]}};
}

int32_t ListOne(int32_t* block, uint8_t* area, const InDoubt& t) {
  int32_t table = 0;
  if (int32_t rc = OpenPreparedSet(&table)) return rc;
  Group g;
  int32_t rc = ReadGroup(table, t.first, t.header, &g);
  ClosePreparedSet(table);
  if (rc != 0) return rc;
  const uint8_t* bytes = nullptr;
  int32_t length = 0;
  if (!IdentifierOf(g.header, &bytes, &length) || (length > 0 && area == nullptr))
    return Report(kIndexDKEPT1, -43, length);
  if (length > 0) std::memcpy(area, bytes, static_cast<size_t>(length));
  block[EPT_IDENTIFIER_LENGTH] = length;
  block[EPT_START] = g.Word(WSH_START);
  return CollectTables(g, &block[EPT_TABLES], &block[EPT_TABLE_COUNT]);
}

}  // namespace

int32_t DKKeepPreparedWriteSet(int32_t write_set, int32_t tss) {
  int32_t* a = Bufferpool();
  std::vector<std::vector<int32_t>> records;
  if (int32_t rc = ReadWriteSet(write_set, &records)) return rc;
  const int32_t group = a[tss + TSS_PREPARE];
  std::vector<int32_t>& header = records.front();
  if (header.size() <= WSH_START) header.resize(WSH_START + 1, 0);
  header[WSH_GROUP] = group;
  header[WSH_KIND] = kKindPrepared;
  header[WSH_PREPARE] = group;
  header[WSH_COMMIT] = 0;
  header[WSH_START] = a[tss + TSS_START];
  EnqdeqGuard guard(a + BP_LOCK_PREPARED_SET);
  // The change records first and the header last: a group whose append is
  // cut short has no header and is never re-created.
  for (size_t i = 1; i <= records.size(); ++i) {
    std::vector<int32_t>& r = records[i % records.size()];
    if (r.size() > 1) r[1] = group;
    std::vector<int32_t> b(SETRQ_RECORD + r.size(), 0);
    b[SETRQ_LENGTH] = static_cast<int32_t>(r.size());
    std::copy(r.begin(), r.end(), b.begin() + SETRQ_RECORD);
    if (int32_t rc = DKAppendRestartRecord(b, kPreparedSetTbl, -1)) return rc;
  }
  if (int32_t rc = WritePreparedSet()) return rc;
  if (int32_t rc = FindAppended(tss, records.size() - 1)) return rc;
  // Waiting for its outcome from here on, before the lock goes: a decision
  // of another transaction that finds none waiting drops the set.
  EnqdeqGuard tss_guard(a + BP_LOCK_TSS_HASH);
  a[tss + TSS_STATE] = TSS_WAIT_COMMIT;
  return 0;
}

namespace {

// Marks decided the undecided header of group `group` and start number
// `start` in the set of table entry `t`, found by those numbers: the pages
// of copies differ, and a place remembered may since hold another group.
// 0 when marked or not there (decided, or the set emptied since).
int32_t MarkInSet(int32_t t, int32_t group, int32_t start) {
  std::vector<int32_t> b = SetBlock(t);
  b[SETRQ_RC] = 2;
  int32_t rc = 0;
  while ((rc = DKGXN0(b)) == 0) {
    b[SETRQ_RC] = 0;
    const int32_t* r = b.data() + SETRQ_RECORD;
    if (b[SETRQ_LENGTH] <= WSH_START || r[WS_CODE] != kCodeHeader || r[WSH_GROUP] != group ||
        r[WSH_KIND] != kKindPrepared || r[WSH_START] != start)
      continue;
    // The first four words are kept plain in every stored form.
    b[SETRQ_RECORD + WSH_KIND] = kKindDecided;
    b[SETRQ_LENGTH] = 4;
    b[SETRQ_RC] = -2;
    return DKUOS0(b);
  }
  return rc == SET_END ? 0 : rc;
}

// The same group on the copies of the TRANS databank. A copy that cannot
// be read or written keeps it undecided; that is reported.
void MarkOnCopies(int32_t table, int32_t group, int32_t start) {
  int32_t* a = Bufferpool();
  for (int32_t t = a[table + TBE_NEXT], n = 0; dkset::IsTableEntry(t) && n < a[BP_TABLE_COUNT];
       t = a[t + TBE_NEXT], ++n) {
    const int32_t d = a[t + TBE_DATABANK];
    if (!DKIsDatabankEntry(d) || a[d + DBE_ERROR] != 0 || a[d + DBE_ERROR2] != 0) continue;
    if (int32_t rc = MarkInSet(t, group, start); rc < 0) Report(kIndexDKETR1, rc, group);
  }
}

}  // namespace

int32_t DKForgetPreparedWriteSet(const PreparedPlace& kept, int32_t deciding) {
  EnqdeqGuard guard(Bufferpool() + BP_LOCK_PREPARED_SET);
  int32_t table = 0;
  if (int32_t rc = OpenPreparedSet(&table)) return rc;
  std::vector<int32_t> b = SetBlock(table);
  b[SETRQ_PAGE] = kept.page;
  b[SETRQ_POSITION] = kept.position;
  b[SETRQ_RC] = 2;
  int32_t rc = DKGXN0(b);
  const int32_t* r = b.data() + SETRQ_RECORD;
  const bool ours = rc == 0 && b[SETRQ_PAGE] == kept.page && b[SETRQ_POSITION] == kept.position &&
                    b[SETRQ_LENGTH] > WSH_START && r[WS_CODE] == kCodeHeader &&
                    r[WSH_GROUP] == kept.group && r[WSH_START] == kept.start;
  // The applying of a commit marks its group too, and once it is marked a
  // decision of another transaction may empty the set and a prepare put
  // another group at the place: only the transaction's own header is
  // rewritten, found by its numbers when the place no longer holds it (or
  // can no longer be read there).
  if (ours && r[WSH_KIND] == kKindPrepared) {
    b[SETRQ_RECORD + WSH_KIND] = kKindDecided;
    b[SETRQ_LENGTH] = 4;
    b[SETRQ_RC] = -2;
    rc = DKUOS0(b);
  } else if (!ours) {
    rc = MarkInSet(table, kept.group, kept.start);
  }
  if (rc == 0) MarkOnCopies(table, kept.group, kept.start);
  if (rc == 0 && !OthersUndecided(deciding)) {
    // Nothing in it is owed any more: emptied, so that it does not grow.
    std::vector<int32_t> drop = SetBlock(table);
    drop[SETRQ_RC] = -2;
    rc = DKDRS1(drop);
  }
  ClosePreparedSet(table);
  return rc;
}

PreparedPlace DKPreparedPlaceOf(int32_t tss) {
  const int32_t* a = Bufferpool();
  return {a[tss + TSS_END_PAGE], a[tss + TSS_END_POS], a[tss + TSS_PREPARE], a[tss + TSS_START]};
}

int32_t DKMarkPreparedDecided(int32_t group, int32_t start) {
  EnqdeqGuard guard(Bufferpool() + BP_LOCK_PREPARED_SET);
  int32_t table = 0;
  if (int32_t rc = OpenPreparedSet(&table)) return rc == -50 ? 0 : rc;
  const int32_t rc = MarkInSet(table, group, start);
  if (rc == 0) MarkOnCopies(table, group, start);
  ClosePreparedSet(table);
  return rc;
}

int32_t DKEndInDoubt(int32_t tss, int32_t end_mode, bool* released) {
  int32_t* a = Bufferpool();
  *released = false;
  const int32_t page = a[tss + TSS_END_PAGE], position = a[tss + TSS_END_POS];
  const PreparedPlace kept = DKPreparedPlaceOf(tss);
  if (end_mode == kEndAbort) {
    const int32_t rc = DKForgetPreparedWriteSet(kept, tss);
    if (rc != 0) return rc;  // still prepared on disk: still in doubt
    LeaveCommitPhase();
    DKFreeTss(tss);
    CountWord(BP_TRANSACTION_ABORTS);
    *released = true;
    return 0;
  }
  int32_t table = 0;
  if (int32_t rc = OpenPreparedSet(&table)) return rc;
  Group g;
  // Decided by this end alone: the places are the prepare's still.
  int32_t rc =
      ReadGroup(table, {a[tss + TSS_FIRST_PAGE], a[tss + TSS_FIRST_POS]}, {page, position}, &g);
  ClosePreparedSet(table);
  if (rc == 0) rc = CommitInDoubt(tss, g);
  if (rc != 0) return rc;
  // The commit is in the commit set on disk; only then is the group
  // forgotten. Its entry may be applied, secured and freed meanwhile, so
  // the mark goes by the numbers kept. A failure here leaves the group to
  // the commit's applying (or to the restart that replays it), which marks
  // it as well.
  DKReachTestPoint(DKTestPoint::kDecisionCommitted, kept.start);
  if (int32_t forgot = DKForgetPreparedWriteSet(kept, 0)) Report(kIndexDKETR1, forgot, tss);
  DKBTW0(24);
  return 0;
}

int32_t DKRTC1(int32_t* request) {
  int32_t* a = Bufferpool();
  const int32_t entry = request[RTC_ENTRY], did = request[RTC_DID];
  if (DKIsDatabankEntry(entry) && a[entry + DBE_KIND] == DBE_KIND_SHADOW) return request[0] = 0;
  int32_t table = 0;
  int32_t rc = OpenPreparedSet(&table);
  if (rc != 0) return request[RTC_MODE] = rc == -50 ? 0 : rc;
  int32_t created = 0, highest = 0;
  rc = ScanGroups(
      table,
      [&](const Group& g) {
        if (did == kTransDid) {
          bool there = false;
          if (int32_t failed = Recreate(g, &created, &there)) return failed;
          // Its cache records were made when it was re-created.
          if (there) return 0;
        }
        int32_t tss;
        {
          EnqdeqGuard guard(a + BP_LOCK_TSS_HASH);
          tss = DKHMI0(a[BP_TSS_HASH], g.Word(WSH_START));
        }
        if (!DKIsTssEntry(tss) || a[tss + TSS_STATE] != TSS_IN_DOUBT) return 0;
        for (size_t i = 0; i < g.records.size(); ++i) {
          const std::vector<int32_t>& r = g.records[i];
          if (r.size() <= WSR_TBL || r[WSR_DID] != did) continue;
          if (r[WS_CODE] != 1 && r[WS_CODE] != 2 && r[WS_CODE] != 4) continue;
          if (int32_t failed = Recache(tss, did, r, g.places[i])) return failed;
        }
        return 0;
      },
      &highest);
  ClosePreparedSet(table);
  if (rc == 0 && did == kTransDid) {
    // Group numbers are prepare numbers: a new group never takes the
    // number of records an append cut short left behind, which would join
    // them to it.
    EnqdeqGuard guard(a + BP_LOCK_TSS_HASH);
    if (a[BP_LAST_PREPARE] <= highest) a[BP_LAST_PREPARE] = highest + 1;
  }
  if (rc == 0 && created > 0) Report(IndexDKRTC1(), -95, created, DK_SEV_INFO);
  return request[RTC_MODE] = rc;
}

void DKEPT1(int32_t* block, void* area) {
  if (!block) return;
  const int32_t after = block[EPT_STATUS] != 0 ? INT32_MIN : block[EPT_LAST];
  int32_t* a = Bufferpool();
  for (;;) {
    const InDoubt t = NextInDoubt(after);
    if (t.tss == 0) {
      block[EPT_STATUS] = 1;
      return;
    }
    // Its group is read under the lock that marks groups decided and
    // empties the set: once the transaction is found undecided and no end
    // deciding it, the group stays where it was found while it is read.
    EnqdeqGuard set_guard(a + BP_LOCK_PREPARED_SET);
    {
      EnqdeqGuard guard(a + BP_LOCK_TSS_HASH);
      if (a[t.tss + TSS_STATE] != TSS_IN_DOUBT || a[t.tss + TSS_START] != t.start ||
          a[t.tss + TSS_PARALLEL] == kTssBeingDecided)
        continue;  // decided meanwhile: the next one
    }
    block[EPT_LAST] = t.start;
    for (int w = EPT_LAST + 1; w < EPT_TABLES; ++w) block[w] = 0;
    block[EPT_TSS] = t.tss;
    block[EPT_STATUS] = ListOne(block, static_cast<uint8_t*>(area), t);
    return;
  }
}
