// Words of cache records changed in place: the mark that an insert or a
// delete of a row that refers to a large object has been applied (DKUPT0,
// called as the background threads apply a committed write set), and the
// counter or value a transaction keeps in its own records of a key
// (DKULD1), carried into the write-set record too.
#include <span>

#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/record_routines.h"
#include "dk/set_pages.h"
#include "dk/set_requests.h"
#include "dk/set_table.h"
#include "dk/table_entries.h"
#include "dk/transaction_cache_internal.h"
#include "dk/transactions.h"
#include "platform/enqdeq.h"

using namespace dktc;

namespace {

constexpr int32_t kIndexDKULD1 = 64;
// Bytes of a cache record: the applied mark (or a value) and a counter.
constexpr size_t kMarkByte = 60, kCounterByte = 56;
constexpr size_t kMarkedRecord = kMarkByte + 4;

// DKULD1 request words beyond the set block's.
constexpr int ULD_ANSWER = 0;
constexpr int ULD_CLEARED = 13;
constexpr int ULD_TSS = 14;
constexpr int ULD_INCREMENT = 15;
constexpr int ULD_TABLE = 19;
constexpr int ULD_TBL = 20;
constexpr int ULD_KEY_LENGTH = 21;
constexpr int ULD_RECORD_LENGTH = 22;
constexpr int ULD_SEQUENCE = 24;
constexpr int ULD_KEY = 25;
constexpr int ULD_VALUE = 35;
constexpr int32_t kPrefixBytes = 16, kMatchBytes = 12, kWsWordsRewritten = 21, kWsCounter = 19;

// Replaces the cursor's record in the cache table.
int32_t Replace(CacheCursor& cur) {
  const int32_t length = cur.record_length();
  std::vector<int32_t> b(static_cast<size_t>(RQ_RECORD + (length + 3) / 4 + 1), 0);
  b[RQ_TABLE] = (*cur.block())[CUR_TABLE];
  b[RQ_TBL] = -1;
  b[RQ_RECORD_LENGTH] = length;
  b[RQ_BEFORE_LENGTH] = length;
  std::memcpy(b.data() + RQ_RECORD, cur.record(), static_cast<size_t>(length));
  DKUPD1(b.data());
  return b[RQ_STATUS];
}

// The commit number of a writer still in the TSS hash, 0 when it is not.
int32_t CommitOf(int32_t start) {
  int32_t* a = Bufferpool();
  EnqdeqGuard lock(a + BP_LOCK_TSS_HASH);
  const int32_t e = DKHMI0(a[BP_TSS_HASH], start);
  return e > 0 && DKIsTssEntry(e) && a[e + TSS_START] == start ? a[e + TSS_COMMIT] : 0;
}

// The write-set record a cache record names gets the new counter.
int32_t CarryToWriteSet(const int32_t* block, const CacheSuffix& s, CacheCursor& cur,
                        int32_t counter) {
  std::vector<int32_t> ws(static_cast<size_t>(SetRequestBlockWords()), 0);
  std::copy(block, block + ULD_TSS + 1, ws.begin());
  ws[SETRQ_RC] = 0;
  ws[SETRQ_PAGE] = s.position[0];
  ws[SETRQ_POSITION] = s.position[1];
  const int32_t rc = DKGXP0(ws);
  if (rc < 0) return rc;
  const int32_t k = cur.row_key_length();
  const bool same =
      rc == 0 && ws[SETRQ_LENGTH] >= kWsWordsRewritten &&
      ws[SETRQ_LENGTH] >= WSC_ROW + (k + 3) / 4 &&
      std::memcmp(ws.data() + SETRQ_RECORD + WSC_ROW, cur.record(), static_cast<size_t>(k)) == 0;
  if (!same) return Report(kIndexDKULD1, kRcCorrupt, s.kind);
  ws[SETRQ_RECORD + kWsCounter] = counter;
  ws[SETRQ_RC] = 0;
  ws[SETRQ_LENGTH] = kWsWordsRewritten;
  return DKUOS0(ws);
}

int32_t AdjustOwn(int32_t* block) {
  if (block[ULD_SEQUENCE] == 0) return Report(kIndexDKULD1, kRcBadParameter, 0);
  if (int32_t rc = CheckTableEntry(block[ULD_TABLE], block[ULD_TBL], kIndexDKULD1)) return rc;
  if (int32_t rc = CheckTss(block[ULD_TSS], kIndexDKULD1)) return rc;
  block[ULD_CLEARED] = 0;
  CacheCursor cur;
  const int32_t k = block[ULD_KEY_LENGTH], seq = block[ULD_SEQUENCE];
  int32_t rc =
      DKDPT0(block[ULD_TABLE], k, block[ULD_RECORD_LENGTH], false, kIndexDKULD1, cur.block());
  if (rc < 0) return rc;
  // The words changed lie behind the cache key and inside the record.
  if (rc != 0 || k < kPrefixBytes || static_cast<size_t>(cur.key_length()) > kCounterByte ||
      static_cast<size_t>(cur.record_length()) < kMarkedRecord)
    return Report(kIndexDKULD1, kRcBadParameter, seq);
  const uint8_t* given = reinterpret_cast<const uint8_t*>(block + ULD_KEY);
  std::vector<uint8_t> key(static_cast<size_t>(cur.key_length()), 0);
  std::memcpy(key.data(), given, kPrefixBytes);
  CacheSuffix mine;
  mine.start = LoadWord(block[ULD_TSS] + TSS_START);
  mine.sequence = seq;
  uint8_t suffix[kSuffixBytes];
  DKMakeCacheSuffix(suffix, mine);
  // The order and kind field stays 0, so every change of the sequence's
  // records is reached.
  std::memcpy(key.data() + k, suffix, kSuffixKind);
  const int32_t increment = block[ULD_INCREMENT];
  int32_t changed = 0;
  for (rc = cur.Fetch(FET_FROM_KEY, key.data()); rc == 0; rc = cur.Next()) {
    if (std::memcmp(cur.record(), given, kMatchBytes) != 0) break;
    const CacheSuffix s = cur.suffix();
    if (s.start != mine.start || s.kind == 3 || (increment != 1 && s.sequence != seq)) continue;
    int32_t counter = 0;
    if (increment == 0) {
      std::memcpy(cur.record() + kMarkByte, &block[ULD_VALUE], 4);
    } else {
      std::memcpy(&counter, cur.record() + kCounterByte, 4);
      counter += increment;
      std::memcpy(cur.record() + kCounterByte, &counter, 4);
    }
    if (int32_t up = Replace(cur); up != 0)
      return up < 0 ? up : Report(kIndexDKULD1, kRcBadParameter, seq);
    if (increment != 0)
      if (int32_t ws = CarryToWriteSet(block, s, cur, counter); ws < 0) return ws;
    ++changed;
  }
  if (rc < 0) return rc;
  return changed > 0 ? 0 : Report(kIndexDKULD1, kRcBadParameter, seq);
}

}  // namespace

int32_t DKUPT0(std::span<const int32_t> change, int32_t commit, int32_t value) {
  const int32_t routine = dkset::RoutineIndex("DKUPT0");
  if (change.size() <= static_cast<size_t>(WSC_ROW)) return Report(routine, kRcBadParameter, 0);
  const int32_t k = change[WSC_KEY_LENGTH];
  CacheCursor cur;
  int32_t rc = DKDPT0(change[WSC_TABLE], k, change[WSC_RECORD_LENGTH], false, routine, cur.block());
  if (rc != 0) return rc;
  if (k < 8 || change.size() < static_cast<size_t>(WSC_ROW + (k + 3) / 4) ||
      static_cast<size_t>(cur.key_length()) > kMarkByte ||
      static_cast<size_t>(cur.record_length()) < kMarkedRecord)
    return Report(routine, kRcBadParameter, change[WSC_SEQUENCE]);
  const uint8_t* row = reinterpret_cast<const uint8_t*>(change.data() + WSC_ROW);
  std::vector<uint8_t> key(static_cast<size_t>(cur.key_length()), 0);
  std::memcpy(key.data(), row, static_cast<size_t>(k - 8));
  int32_t replaced = 0;
  for (rc = cur.Fetch(FET_FROM_KEY, key.data()); rc == 0; rc = cur.Next()) {
    if (std::memcmp(cur.record(), row, static_cast<size_t>(k - 4)) != 0) break;
    const CacheSuffix s = cur.suffix();
    if (s.kind != change[WSC_CODE] || CommitOf(s.start) != commit || commit == 0) continue;
    std::memcpy(cur.record() + kMarkByte, &value, 4);
    if (int32_t up = Replace(cur); up < 0) return up;
    ++replaced;
  }
  if (rc < 0) return rc;
  return replaced > 0 ? 0 : Report(routine, kRcBadParameter, change[WSC_SEQUENCE]);
}

void DKULD1(int32_t* block) {
  block[ULD_ANSWER] = AdjustOwn(block);
}

void DKULD1Entry(int32_t* block, void*) {
  DKULD1(block);
}
