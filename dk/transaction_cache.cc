// The transaction cache's tables and records: the suffix that names the
// writing transaction, finding or making a table's cache table (DKDPT0),
// removing a cache record (DKDLT0), the writer lookup (DKLTS0), the view
// test of record access, and the entry routines that add a row's change
// (DKINT1), take it out again (DKDET1) and tell a row's cache state (DKCCS1).
#include <algorithm>

#include "dk/bufferpool.h"
#include "dk/commit_write_set.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/error_log.h"
#include "dk/large_object.h"
#include "dk/page_tree.h"
#include "dk/record_routines.h"
#include "dk/set_pages.h"
#include "dk/stored_tss.h"
#include "dk/table_entries.h"
#include "dk/transaction_cache_internal.h"
#include "dk/transactions.h"
#include "platform/enqdeq.h"

namespace dktc {

int32_t Report(int32_t routine, int32_t rc, int32_t value) {
  DKReportError(routine, rc, DK_SEV_ERROR, &value, value);
  return rc;
}

int32_t TssLockedWord(int32_t word) {
  EnqdeqGuard lock(Bufferpool() + BP_LOCK_TSS_HASH);
  return Bufferpool()[word];
}

int32_t CheckTss(int32_t tss, int32_t routine) {
  if (DKIsTssEntry(tss)) {
    const int32_t state = TssLockedWord(tss + TSS_STATE);
    if (state == TSS_BUILDUP_RO || state == TSS_BUILDUP_RW || state == TSS_IN_DOUBT) return 0;
  }
  return Report(routine, kRcTss, tss);
}

int32_t UseCacheLengths(CacheCursor* cur, int32_t routine) {
  std::vector<int32_t>& c = *cur->block();
  // The lengths the cache table was made with, from its root entry alone:
  // nothing of its tree is needed.
  int32_t record = 0;
  const int32_t b = GetRootEntry(c[CUR_TABLE], GET_SHARED, routine, &record);
  if (b < 0) return b;
  const int32_t key_length = Bufferpool()[record + RE_KEY_LENGTH];
  const int32_t record_length = Bufferpool()[record + RE_RECORD_LENGTH];
  ReleaseShared(b);
  if (key_length != c[CUR_KEY_LENGTH]) return Report(routine, -67, key_length);
  c[CUR_RECORD_LENGTH] = record_length;
  c.resize(static_cast<size_t>(CursorBlockWords(record_length) + 1));
  return 0;
}

int32_t ReversedKind(int32_t kind) {
  switch (kind) {
    case kChangeInsert:
      return kChangeDelete;
    case 3:
      return kChangeUpdate;
    case kChangeDelete:
      return kChangeInsert;
    case kChangeUpdate:
      return 0;
    default:
      return -1;
  }
}

}  // namespace dktc

using namespace dktc;

namespace {

// The databank that holds cache tables, and the one used when it is 0.
constexpr int32_t BP_TCACHE_DATABANK = 105;
// Lock pair that makes and restamps cache tables one at a time; taken
// before the table hash lock (230), never while a page is held.
constexpr int32_t BP_LOCK_TCACHE_MAKE = BP_LOCK_KERNEL_240;
// The SEQNO of a databank copy that keeps cache records from being removed.
constexpr int32_t kKeepCacheMark = 100000;
const int32_t kIndexDKDPT0 = dkset::RoutineIndex("DKDPT0");
const int32_t kIndexDKDLT0 = dkset::RoutineIndex("DKDLT0");

void PutBig(uint8_t* at, int32_t v) {
  const uint32_t u = static_cast<uint32_t>(v);
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(u >> (24 - 8 * i));
}
int32_t GetBig(const uint8_t* at) {
  uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u = (u << 8) | at[i];
  return static_cast<int32_t>(u);
}

// True when the databank or one of its copies carries the mark 100000 in
// its SEQNO word: while it does, cache records stay where they are.
bool CopyCarriesMark(int32_t databank) {
  const int32_t limit = LoadWord(BP_DATABANK_COUNT);
  for (int32_t d = databank, n = 0; DKIsDatabankEntry(d) && n <= limit;
       d = LoadWord(d + DBE_DEPENDENT), ++n)
    if (LoadWord(d + DBE_SEQNO) == kKeepCacheMark) return true;
  return false;
}

// A stale cache table is emptied and stamped anew (0 unless asked to make
// one), under the make lock so that nobody empties a table another has just
// stamped and written to. A cache whose databank has a copy carrying the
// mark keeps its records and is taken as valid.
int32_t Restamp(int32_t cache, bool make) {
  const int32_t stamp = LoadWord(BP_TCACHE_DROP_TIMESTAMP);
  EnqdeqGuard lock(Bufferpool() + BP_LOCK_TCACHE_MAKE);
  const int32_t own = LoadWord(cache + TBE_KEY_BASE);
  if (own == stamp) return 0;
  if (own == 0 && !make) return kNoCache;
  if (CopyCarriesMark(LoadWord(cache + TBE_DATABANK))) {
    StoreWord(cache + TBE_KEY_BASE, make ? stamp : 0);
    return 0;
  }
  int32_t drop[CRT_WORDS] = {};
  drop[RQ_TABLE] = cache;
  drop[RQ_TBL] = -1;
  DKDRP1(drop);
  if (drop[RQ_STATUS] < 0) return drop[RQ_STATUS];
  StoreWord(cache + TBE_KEY_BASE, make ? stamp : 0);
  return kNoCache;
}

// A new cache table in the cache databank, recorded in the table's word 8
// and kept out of the table hash, so no table operation finds it.
int32_t MakeCache(int32_t table, int32_t key_length, int32_t record_length) {
  int32_t* a = Bufferpool();
  int32_t databank = LoadWord(BP_TCACHE_DATABANK);
  if (databank == 0) databank = LoadWord(BP_TRANS_DATABANK);
  if (!DKIsDatabankEntry(databank)) return Report(kIndexDKDPT0, -53, databank);
  EnqdeqGuard lock(a + BP_LOCK_TCACHE_MAKE);
  if (LoadWord(table + TBE_SECOND) != 0) return kNoCache;
  int32_t b[CRT_WORDS] = {};
  b[RQ_DID] = a[databank + DBE_DID];
  b[RQ_TYPE] = 10;
  b[RQ_TBL] = -1;
  b[RQ_KEY_LENGTH] = key_length + kSuffixKeyBytes;
  b[RQ_RECORD_LENGTH] = record_length + kSuffixBytes;
  DKCRT1(b);
  if (b[RQ_STATUS] < 0) return b[RQ_STATUS];
  const int32_t cache = b[RQ_TABLE];
  // Marked dropped from the start: when its table's entry is freed, the
  // close that frees it releases the cache's pages and root entry too.
  int32_t record = 0;
  const int32_t root = GetRootEntry(cache, GET_UPDATE, kIndexDKDPT0, &record);
  if (root < 0) return root;
  a[record + RE_TYPE] = kTypeDropped;
  DKPUT0(PUT_CHANGED_KEEP, root);
  a[cache + TBE_KEY_BASE] = LoadWord(BP_TCACHE_DROP_TIMESTAMP);
  DKLock(BP_LOCK_TABLE_HASH);
  DKHMP0(a[BP_TABLE_HASH], cache);
  a[cache + ENTRY_LINK] = 0;
  StoreWord(table + TBE_SECOND, cache);
  DKUnlock(BP_LOCK_TABLE_HASH);
  return kNoCache;
}

}  // namespace

void DKMakeCacheSuffix(uint8_t* at, const CacheSuffix& s) {
  PutBig(at + kSuffixStart, ~s.start);
  PutBig(at + kSuffixSequence, ~s.sequence);
  const uint32_t order = ~static_cast<uint32_t>(s.order) & kMaxChangeOrder;
  PutBig(at + kSuffixKind,
         static_cast<int32_t>(order << 8 | (static_cast<uint32_t>(s.kind) & 0xFF)));
  std::memcpy(at + kSuffixPosition, s.position, sizeof s.position);
}

CacheSuffix DKReadCacheSuffix(const uint8_t* at) {
  CacheSuffix s;
  s.start = ~GetBig(at + kSuffixStart);
  s.sequence = ~GetBig(at + kSuffixSequence);
  const uint32_t field = static_cast<uint32_t>(GetBig(at + kSuffixKind));
  s.kind = static_cast<int32_t>(field & 0xFF);
  s.order = static_cast<int32_t>(~(field >> 8) & kMaxChangeOrder);
  std::memcpy(s.position, at + kSuffixPosition, sizeof s.position);
  return s;
}

int32_t DKDPT0(int32_t table, int32_t key_length, int32_t record_length, bool make, int32_t routine,
               std::vector<int32_t>* cursor) {
  // Every length is the caller's: a cache record must hold the row and its
  // suffix within the largest record the pages take.
  const int32_t largest = LoadWord(BP_MAX_RECORD_LENGTH);
  if (key_length < 1 || key_length > largest - kSuffixBytes)
    return Report(routine, kRcBadParameter, key_length);
  if (record_length < key_length || record_length > largest - kSuffixBytes)
    return Report(routine, -67, record_length);
  const int32_t cache_record = record_length + kSuffixBytes;
  cursor->assign(static_cast<size_t>(CursorBlockWords(cache_record) + 1), 0);
  std::vector<int32_t>& c = *cursor;
  c[CUR_TBL] = -1;
  c[CUR_KEY_LENGTH] = key_length + kSuffixKeyBytes;
  c[CUR_RECORD_LENGTH] = cache_record;
  int32_t cache = LoadWord(table + TBE_SECOND);
  if (cache == 0 && make) {
    if (int32_t rc = MakeCache(table, key_length, record_length); rc < 0) return rc;
    cache = LoadWord(table + TBE_SECOND);
  }
  if (cache == 0) return kNoCache;
  if (!dkset::IsTableEntry(cache)) return Report(routine, kRcTable, cache);
  // A named second entry is another table this one owns: it is never
  // emptied or written as a cache, and the table has no cache meanwhile.
  if (!DKIsCacheTable(cache)) return make ? Report(routine, -55, cache) : kNoCache;
  c[CUR_TABLE] = cache;
  const int32_t stamp = LoadWord(BP_TCACHE_DROP_TIMESTAMP), own = LoadWord(cache + TBE_KEY_BASE);
  if (own == stamp) return 0;
  if (own == 0 && !make) return kNoCache;
  return Restamp(cache, make);
}

void DKForgetCacheTables(int32_t databank) {
  int32_t* a = Bufferpool();
  // The make lock keeps caches from being made or emptied meanwhile; it is
  // taken before the table lock and with no page held.
  EnqdeqGuard lock(a + BP_LOCK_TCACHE_MAKE);
  const int32_t first = LoadWord(BP_TABLE_FIRST), last = LoadWord(BP_TABLE_LAST);
  for (int32_t t = first; first > 0 && t <= last; t += TBE_WORDS) {
    const int32_t cache = LoadWord(t + TBE_SECOND);
    if (cache != t && DKIsCacheTable(cache) && LoadWord(cache + TBE_DATABANK) == databank)
      DKFreeSecondEntry(t);
  }
}

int32_t DKDLT0(std::vector<int32_t>* cursor) {
  const std::vector<int32_t>& c = *cursor;
  const int32_t cache = c[CUR_TABLE];
  if (!dkset::IsTableEntry(cache) || Bufferpool()[cache + TBE_TBL] != -1)
    return Report(kIndexDKDLT0, kRcTable, cache);
  const int32_t databank = Bufferpool()[cache + TBE_DATABANK];
  if (!DKIsDatabankEntry(databank)) return Report(kIndexDKDLT0, -45, databank);
  if (CopyCarriesMark(databank)) return 0;
  const int32_t length = c[CUR_RECORD_LENGTH];
  std::vector<int32_t> b(static_cast<size_t>(RQ_RECORD + (length + 3) / 4 + 1), 0);
  b[RQ_TABLE] = cache;
  b[RQ_TBL] = -1;
  b[RQ_RECORD_LENGTH] = length;
  std::memcpy(b.data() + RQ_RECORD, c.data() + CUR_RECORD, static_cast<size_t>(length));
  DKDEL1(b.data());
  return b[RQ_STATUS];
}

CacheWriter DKLTS0(int32_t start) {
  int32_t* a = Bufferpool();
  CacheWriter w;
  {
    EnqdeqGuard lock(a + BP_LOCK_TSS_HASH);
    const int32_t e = DKHMI0(a[BP_TSS_HASH], start);
    if (e > 0 && DKIsTssEntry(e) && a[e + TSS_START] == start) {
      w.state = a[e + TSS_STATE];
      w.on_disk = a[e + TSS_ON_DISK];
      w.prepared = w.state > TSS_BUILDUP_RW ? a[e + TSS_PREPARE] : 0;
      return w;
    }
  }
  // An entry is stored before it leaves the hash, so a miss there finds it
  // among the stored records; read with lock 236 released, as it reads pages.
  DKFindStoredTss(start, &w);
  return w;
}

void DKCheckTCacheStamp(int32_t* block) {
  if (block[0] == TssLockedWord(BP_COMMITS_SECURED)) {
    block[TC_MODE] = 0;
    return;
  }
  CountWord(BP_TCACHE_DU1_RETRIES);
  block[TC_MODE] = 4;
}

namespace {

// The checks that DKINT1 and DKDET1 share; 0 or the answer.
int32_t CheckRowRequest(const int32_t* block, int32_t routine) {
  if (int32_t rc = CheckTableEntry(block[TC_TABLE], block[TC_TBL], routine)) return rc;
  return CheckTss(block[TC_TSS], routine);
}

bool KnownKind(int32_t kind) {
  return (kind >= kChangeInsert && kind <= kChangeDelete) || kind == kChangeMarker;
}

// The cache record of a row request, `length` bytes: the key, the suffix of
// the request's transaction, the rest of the row.
std::vector<uint8_t> CacheRecord(const int32_t* block, int32_t order) {
  const int32_t k = block[TC_KEY_LENGTH], r = block[TC_RECORD_LENGTH];
  std::vector<uint8_t> rec(static_cast<size_t>(r + kSuffixBytes), 0);
  const uint8_t* row = reinterpret_cast<const uint8_t*>(block + TC_ROW);
  std::memcpy(rec.data(), row, static_cast<size_t>(k));
  CacheSuffix s;
  s.start = LoadWord(block[TC_TSS] + TSS_START);
  s.sequence = block[TC_SEQUENCE];
  s.kind = block[TC_MODE];
  s.order = order;
  s.position[0] = block[TC_POSITION];
  s.position[1] = block[TC_POSITION + 1];
  DKMakeCacheSuffix(rec.data() + k, s);
  std::memcpy(rec.data() + k + kSuffixBytes, row + k, static_cast<size_t>(r - k));
  return rec;
}

// Puts the cursor on this transaction's newest change of the row (`row`,
// the row key length) under sequence `seq`, of kind `kind` (any kind when
// 0). 0 with *found telling whether there is one, or a negative code.
int32_t FindOwnChange(CacheCursor& cur, const uint8_t* row, int32_t start, int32_t seq,
                      int32_t kind, bool* found) {
  *found = false;
  std::vector<uint8_t> key = cur.KeyOf(row, 0);
  CacheSuffix mine;
  mine.start = start;
  mine.sequence = seq;
  uint8_t suffix[kSuffixBytes];
  DKMakeCacheSuffix(suffix, mine);
  // Start and sequence only: zero bytes in the order and kind field sort
  // before the newest change of the sequence.
  std::memcpy(key.data() + cur.row_key_length(), suffix, kSuffixKind);
  int32_t rc = cur.Fetch(FET_FROM_KEY, key.data());
  for (; rc == 0; rc = cur.Next()) {
    const CacheSuffix s = cur.suffix();
    if (std::memcmp(cur.record(), row, static_cast<size_t>(cur.row_key_length())) != 0 ||
        s.start != start || s.sequence != seq)
      break;
    if (kind == 0 || s.kind == kind) {
      *found = true;
      return 0;
    }
  }
  return rc < 0 ? rc : 0;
}

// The order a new change of the request's row takes: one after the
// transaction's newest change of the row under the same sequence word.
int32_t NextOrder(const int32_t* block, CacheCursor& cur, int32_t* order) {
  *order = 0;
  bool found = false;
  const uint8_t* row = reinterpret_cast<const uint8_t*>(block + TC_ROW);
  const int32_t rc =
      FindOwnChange(cur, row, LoadWord(block[TC_TSS] + TSS_START), block[TC_SEQUENCE], 0, &found);
  if (rc < 0 || !found) return rc;
  *order = cur.suffix().order + 1;
  if (*order > kMaxChangeOrder) return Report(kIndexDKINT1, kRcBadParameter, block[TC_SEQUENCE]);
  return 0;
}

// DKDET1 of a delete of a row that refers to a large object frees the
// object's run of pages in the table's databank. 0 or the free's code.
int32_t FreeRowObject(const int32_t* block) {
  const int32_t databank = LoadWord(block[TC_TABLE] + TBE_DATABANK);
  if (!DKIsDatabankEntry(databank) || LoadWord(databank + DBE_DID) != block[TC_DID])
    return Report(kIndexDKDET1, -45, block[TC_DID]);
  int32_t flo[FLO_FIRST_RUN + RUN_WORDS] = {};
  flo[FLO_RUNS] = 1;
  std::memcpy(flo + FLO_FIRST_RUN, block + TC_LOB_RUN, sizeof(int32_t) * RUN_WORDS);
  int32_t did = block[TC_DID];
  DKFLO1(flo, &did);
  return flo[FLO_STATUS];
}

}  // namespace

void DKINT1(int32_t* block) {
  if (block[TC_SEQUENCE] == 0) {
    block[TC_MODE] = Report(kIndexDKINT1, kRcBadParameter, block[TC_SEQUENCE]);
    return;
  }
  if (int32_t rc = CheckRowRequest(block, kIndexDKINT1)) {
    block[TC_MODE] = rc;
    return;
  }
  if (!KnownKind(block[TC_MODE])) {
    block[TC_MODE] = Report(kIndexDKINT1, kRcBadParameter, block[TC_MODE]);
    return;
  }
  CacheCursor cursor;
  int32_t rc = DKDPT0(block[TC_TABLE], block[TC_KEY_LENGTH], block[TC_RECORD_LENGTH], true,
                      kIndexDKINT1, cursor.block());
  int32_t order = 0;
  // A cache just made or emptied holds no change of the row.
  if (rc == 0) rc = NextOrder(block, cursor, &order);
  if (rc < 0) {
    block[TC_MODE] = rc;
    return;
  }
  std::vector<uint8_t> rec = CacheRecord(block, order);
  // A row that refers to a large object carries in its cache record whether
  // the object was inserted with it.
  constexpr size_t kLobFlag = 60;
  if (block[TC_TABLE_KIND] == kKindLobRefs && block[TC_MODE] == kChangeInsert &&
      rec.size() >= kLobFlag + 4) {
    const int32_t one = 1;
    std::memcpy(rec.data() + kLobFlag, &one, 4);
  }
  std::vector<int32_t> ins(static_cast<size_t>(RQ_RECORD + (rec.size() + 3) / 4 + 1), 0);
  ins[RQ_TABLE] = (*cursor.block())[CUR_TABLE];
  ins[RQ_TBL] = -1;
  ins[RQ_RECORD_LENGTH] = static_cast<int32_t>(rec.size());
  std::memcpy(ins.data() + RQ_RECORD, rec.data(), rec.size());
  DKINS1(ins.data());
  block[TC_MODE] = ins[RQ_STATUS];
}

void DKDET1(int32_t* block) {
  if (int32_t rc = CheckRowRequest(block, kIndexDKDET1)) {
    block[TC_MODE] = rc;
    return;
  }
  CacheCursor cursor;
  int32_t rc = DKDPT0(block[TC_TABLE], block[TC_KEY_LENGTH], block[TC_RECORD_LENGTH], false,
                      kIndexDKDET1, cursor.block());
  if (rc != 0) {
    block[TC_MODE] = rc;
    return;
  }
  // The change removed is the transaction's newest of that row, sequence
  // and kind; with none there nothing is freed either.
  bool found = false;
  rc = FindOwnChange(cursor, reinterpret_cast<const uint8_t*>(block + TC_ROW),
                     LoadWord(block[TC_TSS] + TSS_START), block[TC_SEQUENCE], block[TC_MODE],
                     &found);
  if (rc < 0 || !found) {
    block[TC_MODE] = rc < 0 ? rc : kStatusNotFound;
    return;
  }
  // A record kept under the mark keeps its object too.
  if (CopyCarriesMark(LoadWord((*cursor.block())[CUR_TABLE] + TBE_DATABANK))) {
    block[TC_MODE] = 0;
    return;
  }
  if (block[TC_TABLE_KIND] == kKindLobRefs && block[TC_MODE] == kChangeDelete &&
      block[TC_LOB_MARK] != 0 && block[TC_RECORD_LENGTH] >= (TC_LOB_MARK - TC_ROW + 1) * 4) {
    if (rc = FreeRowObject(block); rc != 0) {
      block[TC_MODE] = rc;
      return;
    }
  }
  block[TC_MODE] = DKDLT0(cursor.block());
}

namespace {

// What DKCCS1 has seen of the caller's own change of a row.
struct OwnChanges {
  bool inserted_or_updated = false;
  bool deleted_or_other = false;
};

// The compare length of DKCCS1: the key length, or for mode -10 and for
// mode -11 with sub-kind 2 the word that word 8 names, which must lie in
// the request's words before the row's key ends and give 1..key length.
int32_t CompareLength(const int32_t* block, int32_t* length) {
  const int32_t k = block[CCS_KEY_LENGTH], mode = block[CCS_MODE];
  *length = k;
  if (mode != -10 && !(mode == -11 && block[CCS_SUBKIND] == 2)) return 0;
  const int64_t word = static_cast<int64_t>(block[CCS_COUNT]) + 14;
  if (word < 0 || word >= CCS_ROW + (k + 3) / 4) return kRcBadParameter;
  *length = block[word];
  return *length >= 1 && *length <= k ? 0 : kRcBadParameter;
}

// Whether a start number or sequence word `x` sorts before `y` in the cache
// key, whose fields hold them complemented: the greater read unsigned. A
// signed test would take a negative sequence word for an earlier one, and
// the jump to the caller's own records would go back to where it started.
bool LaterInKey(int32_t x, int32_t y) {
  return static_cast<uint32_t>(x) > static_cast<uint32_t>(y);
}

// The walk of DKCCS1 over the records whose keys agree with the row's over
// `length` bytes: 0 when the caller's own change asked for is there, 4 when
// not, or a negative code.
int32_t WalkRowState(const int32_t* block, int32_t length, CacheCursor& cur) {
  const int32_t mode = block[CCS_MODE], own = LoadWord(block[CCS_TSS] + TSS_START);
  const int32_t seq = block[CCS_SEQUENCE], low = TssLockedWord(BP_LOW_START_TRANS);
  const uint8_t* row = reinterpret_cast<const uint8_t*>(block + CCS_ROW);
  OwnChanges seen;
  int32_t rc = cur.Fetch(FET_FROM_KEY, cur.KeyOf(row, 0).data());
  while (rc == 0 && std::memcmp(cur.record(), row, static_cast<size_t>(length)) == 0) {
    const CacheSuffix s = cur.suffix();
    if (s.start < low) {
      rc = cur.RemoveAndStep();
      continue;
    }
    if (s.start == own && s.sequence == seq) {
      const bool first_kind = s.kind == kChangeInsert || s.kind == kChangeUpdate;
      if (mode == -10) {
        bool& flag = first_kind ? seen.inserted_or_updated : seen.deleted_or_other;
        if (flag) return kStatusCheck;
        flag = true;
      } else if ((mode == -11 && s.kind == kChangeInsert) ||
                 (mode == -13 && s.kind == kChangeDelete)) {
        return 0;
      }
      rc = cur.Next();
    } else if (LaterInKey(s.start, own) || (s.start == own && LaterInKey(s.sequence, seq))) {
      std::vector<uint8_t> key = cur.RowKeyWith(0);
      CacheSuffix mine;
      mine.start = own;
      mine.sequence = seq;
      uint8_t suffix[kSuffixBytes];
      DKMakeCacheSuffix(suffix, mine);
      std::memcpy(key.data() + cur.row_key_length(), suffix, kSuffixKind);
      rc = cur.Fetch(FET_FROM_KEY, key.data());
    } else {
      rc = cur.Fetch(FET_AFTER_KEY, cur.RowKeyWith(0xFF).data());
    }
  }
  if (rc < 0) return rc;
  const bool found = mode == -10 && seen.inserted_or_updated && seen.deleted_or_other;
  return found ? 0 : kStatusCheck;
}

}  // namespace

void DKCCS1(int32_t* block) {
  const int32_t mode = block[CCS_MODE];
  if (mode != -10 && mode != -11 && mode != -13) {
    block[CCS_ANSWER] = Report(kIndexDKCCS1, kRcMode, mode);
    return;
  }
  if (int32_t rc = CheckTableEntry(block[CCS_TABLE], block[CCS_TBL], kIndexDKCCS1)) {
    block[CCS_ANSWER] = rc;
    return;
  }
  if (int32_t rc = CheckTss(block[CCS_TSS], kIndexDKCCS1)) {
    block[CCS_ANSWER] = rc;
    return;
  }
  if (LoadWord(block[CCS_TABLE] + TBE_SECOND) == 0) {
    block[CCS_ANSWER] = kNoCache;
    return;
  }
  // The request carries no record length: the walk reads records of the
  // cache table's own length.
  CacheCursor cur;
  int32_t rc = DKDPT0(block[CCS_TABLE], block[CCS_KEY_LENGTH], block[CCS_KEY_LENGTH], false,
                      kIndexDKCCS1, cur.block());
  if (rc == 0) rc = UseCacheLengths(&cur, kIndexDKCCS1);
  // The compare length is read only once DKDPT0 has checked the key length
  // that bounds the word it may name.
  int32_t length = 0;
  if (rc == 0 && CompareLength(block, &length) != 0)
    rc = Report(kIndexDKCCS1, kRcBadParameter, block[CCS_COUNT]);
  if (rc == 0) rc = WalkRowState(block, length, cur);
  block[CCS_ANSWER] = rc;
}

void DKINT1Entry(int32_t* block, void*) {
  DKINT1(block);
}
void DKDET1Entry(int32_t* block, void*) {
  DKDET1(block);
}
void DKCCS1Entry(int32_t* block, void*) {
  DKCCS1(block);
}
