// The kernel's TSS table: a work table (4-byte key, 16-byte record) of
// secured transactions that left the TSS hash, written by DKITS1, read by
// the writer lookup of the transaction cache and purged by the background
// master once every running view holds their commits.
#include "dk/stored_tss.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/commit_write_set.h"
#include "dk/control_area.h"
#include "dk/error_log.h"
#include "dk/record_routines.h"
#include "dk/set_pages.h"
#include "dk/table_cursor.h"
#include "dk/table_entries.h"
#include "dk/transactions.h"
#include "platform/enqdeq.h"

namespace {

constexpr int32_t kKeyBytes = 4, kRecordBytes = 16;
// Record words (big-endian): start number (the key), state, prepare
// number, commit-on-disk number.
constexpr int kState = 4, kPrepare = 8, kOnDisk = 12;
const int32_t kIndexDKITS1 = dkset::RoutineIndex("DKITS1");

void PutBig(uint8_t* at, int32_t v) {
  const uint32_t u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(u >> (24 - 8 * i));
}
int32_t GetBig(const uint8_t* at) {
  uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u = (u << 8) | at[i];
  return static_cast<int32_t>(u);
}

int32_t Report(int32_t rc, int32_t value) {
  DKReportError(kIndexDKITS1, rc, rc == -55 ? DK_SEV_INTERNAL : DK_SEV_ERROR, &value, value);
  return rc;
}

// The table entry, 0 while none is made. A word that names no table of
// our shape is treated as none rather than read through.
int32_t Table() {
  const int32_t t = LoadWord(BP_STORED_TSS_TABLE);
  if (t == 0 || !dkset::IsTableEntry(t) || Bufferpool()[t + TBE_TBL] != -1) return 0;
  return t;
}

// Makes the table on the first store, under the lock that makes cache
// tables (taken with no page held), so two stores never make two.
int32_t MakeTable() {
  int32_t* a = Bufferpool();
  EnqdeqGuard lock(a + BP_LOCK_KERNEL_240);
  if (const int32_t t = Table()) return t;
  int32_t databank = LoadWord(BP_STORED_TSS_DATABANK);
  if (databank == 0) databank = LoadWord(BP_TRANS_DATABANK);
  if (!DKIsDatabankEntry(databank)) return Report(-53, databank);
  int32_t b[CRT_WORDS] = {};
  b[RQ_DID] = a[databank + DBE_DID];
  b[RQ_TYPE] = 10;
  b[RQ_TBL] = -1;
  b[RQ_KEY_LENGTH] = kKeyBytes;
  b[RQ_RECORD_LENGTH] = kRecordBytes;
  DKCRT1(b);
  if (b[RQ_STATUS] < 0) return b[RQ_STATUS];
  // Marked dropped, as a cache table is: the close that frees its entry
  // then gives its pages and root entry back, since nothing outlives the
  // kernel's run that the records describe.
  int32_t root_record = 0;
  const int32_t root = GetRootEntry(b[RQ_TABLE], GET_UPDATE, kIndexDKITS1, &root_record);
  if (root < 0) return root;
  a[root_record + RE_TYPE] = kTypeDropped;
  DKPUT0(PUT_CHANGED_KEEP, root);
  StoreWord(BP_STORED_TSS_TABLE, b[RQ_TABLE]);
  return b[RQ_TABLE];
}

std::vector<int32_t> Cursor(int32_t table) {
  std::vector<int32_t> c(static_cast<size_t>(CursorBlockWords(kRecordBytes) + 1), 0);
  c[CUR_TABLE] = table;
  c[CUR_TBL] = -1;
  c[CUR_KEY_LENGTH] = kKeyBytes;
  c[CUR_RECORD_LENGTH] = kRecordBytes;
  return c;
}

uint8_t* Bytes(std::vector<int32_t>& c) {
  return reinterpret_cast<uint8_t*>(c.data() + CUR_RECORD);
}

int32_t Request(void (*routine)(int32_t*), int32_t table, const uint8_t* record) {
  std::vector<int32_t> b(static_cast<size_t>(RQ_RECORD + kRecordBytes / 4 + 1), 0);
  b[RQ_TABLE] = table;
  b[RQ_TBL] = -1;
  b[RQ_RECORD_LENGTH] = kRecordBytes;
  std::memcpy(b.data() + RQ_RECORD, record, kRecordBytes);
  routine(b.data());
  return b[RQ_STATUS];
}

}  // namespace

int32_t DKITS1(int32_t tss) {
  if (!DKIsTssEntry(tss)) return Report(-85, tss);
  const int32_t* a = Bufferpool();
  // A commit number without the place of its commit set cannot be applied
  // or checked again: storing it would hide a lost transaction.
  if (a[tss + TSS_COMMIT] != 0 && a[tss + TSS_FIRST_PAGE] == -1) return Report(-55, tss);
  const int32_t table = MakeTable();
  if (table < 0) return table;
  uint8_t record[kRecordBytes];
  PutBig(record, a[tss + TSS_START]);
  PutBig(record + kState, a[tss + TSS_STATE]);
  PutBig(record + kPrepare, a[tss + TSS_PREPARE]);
  PutBig(record + kOnDisk, a[tss + TSS_ON_DISK]);
  CountWord(BP_TSS_OVERFLOWED);
  const int32_t rc = Request(DKINS1, table, record);
  if (rc < 0) return rc;
  // Already stored (a positive answer): the record there names the same
  // transaction, so the store is done.
  if (rc > 0) Report(-43, rc);
  return 0;
}

bool DKFindStoredTss(int32_t start, CacheWriter* writer) {
  const int32_t table = Table();
  if (table == 0) return false;
  std::vector<int32_t> c = Cursor(table);
  PutBig(Bytes(c), start);
  c[CUR_STATUS] = FET_FROM_KEY;
  DKFET1(c.data());
  if (c[CUR_STATUS] != 0 || GetBig(Bytes(c)) != start) return false;
  const uint8_t* r = Bytes(c);
  writer->state = GetBig(r + kState);
  writer->on_disk = GetBig(r + kOnDisk);
  writer->prepared = writer->state > TSS_BUILDUP_RW ? GetBig(r + kPrepare) : 0;
  return true;
}

int32_t DKPurgeStoredTss(int32_t limit) {
  const int32_t table = Table();
  if (table == 0) return 0;
  std::vector<int32_t> c = Cursor(table);
  int32_t removed = 0;
  for (c[CUR_STATUS] = FET_FROM_KEY;; c[CUR_STATUS] = FET_AFTER_KEY) {
    DKFET1(c.data());
    if (c[CUR_STATUS] != 0) break;
    if (GetBig(Bytes(c) + kOnDisk) >= limit) continue;
    if (const int32_t rc = Request(DKDEL1, table, Bytes(c)); rc < 0) return rc;
    CountWord(BP_TSS_DELETED);
    ++removed;
  }
  return c[CUR_STATUS] < 0 ? c[CUR_STATUS] : removed;
}

void DKForgetStoredTss(int32_t databank) {
  int32_t* a = Bufferpool();
  // The make lock: no store makes or names the table meanwhile. Taken before
  // the table lock and with no page held, as a make takes it.
  EnqdeqGuard lock(a + BP_LOCK_KERNEL_240);
  const int32_t table = Table();
  if (table == 0 || a[table + TBE_DATABANK] != databank) return;
  StoreWord(BP_STORED_TSS_TABLE, 0);
  int32_t b[CRT_WORDS] = {};
  b[RQ_TABLE] = table;
  b[RQ_TBL] = -1;
  DKCLT1(b);
}

namespace {

bool TssFreeListEmpty() {
  int32_t* a = Bufferpool();
  EnqdeqGuard guard(a + BP_LOCK_TSS_FREE);
  return a[a[BP_TSS_HASH] + HASH_FREE_HEAD] <= 0;
}

// Under lock 236: the secured entries of the hash that carry a commit
// number, with the highest commit-on-disk number among them.
std::vector<int32_t> SecuredEntries(int32_t* highest) {
  int32_t* a = Bufferpool();
  std::vector<int32_t> secured;
  int32_t state[4] = {0, a[BP_TSS_HASH], 0, 0};
  for (int32_t e = DKHMS0(state); e > 0; e = DKHMS0(state)) {
    if (a[e + TSS_STATE] != TSS_SECURED || a[e + TSS_COMMIT] == 0) continue;
    secured.push_back(e);
    *highest = std::max(*highest, a[e + TSS_ON_DISK]);
  }
  return secured;
}

// Under lock 236: the entry is still the secured one that was stored, so
// the free takes no other transaction's entry.
bool StillStored(int32_t tss, int32_t start) {
  const int32_t* a = Bufferpool();
  return a[tss + TSS_START] == start && a[tss + TSS_STATE] == TSS_SECURED &&
         a[tss + TSS_DEPENDENT] != -1 && DKHMI0(a[BP_TSS_HASH], start) == tss;
}

}  // namespace

int32_t DKStoreTssOverflow() {
  int32_t* a = Bufferpool();
  EnqdeqGuard postproc(a + BP_LOCK_WS_POSTPROC);
  const bool none_free = TssFreeListEmpty();
  if (!none_free && LoadWord(BP_TSS_SECURED) < a[BP_TSS_OVERFLOW_LIMIT]) return 0;
  int32_t highest = 0;
  std::vector<int32_t> secured;
  {
    EnqdeqGuard guard(a + BP_LOCK_TSS_HASH);
    secured = SecuredEntries(&highest);
    int32_t bound =
        std::max(a[BP_TSS_OVERFLOW_BOUND], a[BP_LOW_VIEW_TRANS] + a[BP_TSS_OVERFLOW_CHUNK]);
    // Every begin is refused until an entry comes back: whatever is
    // secured goes, however far it is from the low view.
    if (none_free) bound = std::max(bound, highest);
    a[BP_TSS_OVERFLOW_BOUND] = bound;
    std::erase_if(secured, [a, bound](int32_t x) { return a[x + TSS_ON_DISK] > bound; });
  }
  int32_t stored = 0;
  for (int32_t x : secured) {
    const int32_t start = a[x + TSS_START];
    // Stored before it leaves the hash: a lookup that misses it there
    // finds the record.
    if (int32_t rc = DKITS1(x); rc < 0) return rc;
    {
      EnqdeqGuard guard(a + BP_LOCK_TSS_HASH);
      if (!StillStored(x, start)) continue;
      a[BP_TSS_OVERFLOW_HIGH_START] = std::max(a[BP_TSS_OVERFLOW_HIGH_START], start);
      const bool first = a[BP_TSS_OVERFLOWED] - a[BP_TSS_DELETED] == 1;
      if (first || start < a[BP_TSS_OVERFLOW_LOW_START]) a[BP_TSS_OVERFLOW_LOW_START] = start;
      --a[BP_TSS_SECURED];
    }
    DKFreeTss(x);
    ++stored;
  }
  return stored;
}

int32_t DKLowStartWithStored(int32_t lowest_start) {
  const int32_t* a = Bufferpool();
  if (a[BP_TSS_OVERFLOWED] - a[BP_TSS_DELETED] <= 0) return lowest_start;
  if (a[BP_TSS_OVERFLOW_BOUND] < a[BP_LOW_VIEW_TRANS]) return lowest_start;
  return std::min(lowest_start, a[BP_TSS_OVERFLOW_LOW_START]);
}
