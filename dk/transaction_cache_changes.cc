// A transaction's changes of one row kept in step between its write set and
// its cache records: a new change of a row supersedes the earlier one in the
// write set and gets its kind from the two (DKAFC1), and a roll back to a
// mark removes the cache records of the changes behind the mark and makes
// the earlier changes current again (DKRCM1).
#include <set>
#include <span>
#include <utility>

#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/set_pages.h"
#include "dk/set_requests.h"
#include "dk/set_table.h"
#include "dk/table_entries.h"
#include "dk/table_open.h"
#include "dk/transaction_cache_internal.h"
#include "dk/transactions.h"

using namespace dktc;

namespace {

constexpr int32_t kIndexDKAFC1 = 5, kIndexDKRCM1 = 48;

// The kind of a new change (mode 1 insert, 2 update, 4 delete) after the
// stored one (1 to 4); 0 where the two cannot follow each other.
int32_t NextKind(int32_t stored, int32_t mode) {
  static constexpr int32_t kTransition[5][3] = {
      {0, 0, 0}, {2, 1, kChangeMarker}, {2, 2, 4}, {0, 0, 0}, {2, 0, 0}};
  const int column = mode == 1 ? 0 : mode == 2 ? 1 : 2;
  return kTransition[stored][column];
}

// A set block over the write set that `request` names, big enough for any
// record of it.
std::vector<int32_t> WriteSetBlock(const int32_t* request) {
  std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0);
  b[SETRQ_TABLE] = request[SETRQ_TABLE];
  b[SETRQ_TBL] = request[SETRQ_TBL];
  return b;
}

// Reads into `ws` the write-set record that ends at the position a cache
// record names. 0, SET_END, or a negative code.
int32_t ReadChangeOf(const CacheSuffix& s, std::vector<int32_t>* ws) {
  std::vector<int32_t>& b = *ws;
  b[SETRQ_RC] = 0;
  b[SETRQ_PAGE] = s.position[0];
  b[SETRQ_POSITION] = s.position[1];
  return DKGXP0(b);
}

// True when the change record in `ws` is one of the row `row`.
bool SameRow(const std::vector<int32_t>& ws, const uint8_t* row, int32_t k) {
  if (ws[SETRQ_LENGTH] < WSC_ROW + (k + 3) / 4) return false;
  return std::memcmp(ws.data() + SETRQ_RECORD + WSC_ROW, row, static_cast<size_t>(k)) == 0;
}

// Rewrites the code word of the change record that `ws` last read.
int32_t SetCode(std::vector<int32_t> ws, int32_t code) {
  ws[SETRQ_RC] = 0;
  ws[SETRQ_LENGTH] = 1;
  ws[SETRQ_RECORD + WSC_CODE] = code;
  return DKUOS0(ws);
}

// The row's stored (compressed) length as an update must give it, for a
// change that becomes an update.
int32_t BeforeLength(int32_t* block, const std::vector<int32_t>& ws, int32_t stored) {
  const int32_t table = ws[SETRQ_RECORD + WSC_TABLE];
  if (!dkset::IsTableEntry(table) || Bufferpool()[table + TBE_METHOD] == 0) {
    block[AFC_BEFORE_LENGTH] = block[AFC_RECORD_LENGTH];
    return 0;
  }
  if (stored == kChangeUpdate) {
    block[AFC_BEFORE_LENGTH] = ws[SETRQ_RECORD + WSC_BEFORE_LENGTH];
    return 0;
  }
  const int32_t length = block[AFC_RECORD_LENGTH];
  std::vector<int32_t> pfu(static_cast<size_t>(RQ_RECORD + (length + 3) / 4 + 1), 0);
  pfu[RQ_TABLE] = table;
  pfu[RQ_TBL] = ws[SETRQ_RECORD + WSC_TBL];
  pfu[RQ_RECORD_LENGTH] = length;
  std::memcpy(pfu.data() + RQ_RECORD, block + AFC_ROW, static_cast<size_t>(length));
  DKPFU1(pfu.data());
  if (pfu[RQ_STATUS] != 0) return pfu[RQ_STATUS];
  block[AFC_BEFORE_LENGTH] = pfu[PFU_STORED_LENGTH];
  return 0;
}

int32_t AddOrChange(int32_t* block) {
  const int32_t mode = block[AFC_MODE];
  if (mode != 1 && mode != 2 && mode != 4) return Report(kIndexDKAFC1, kRcMode, mode);
  if (int32_t rc = CheckTableEntry(block[AFC_TABLE], block[AFC_TBL], kIndexDKAFC1)) return rc;
  if (int32_t rc = CheckTss(block[AFC_TSS], kIndexDKAFC1)) return rc;
  CacheCursor cur;
  const int32_t k = block[AFC_KEY_LENGTH];
  int32_t rc =
      DKDPT0(block[AFC_TABLE], k, block[AFC_RECORD_LENGTH], false, kIndexDKAFC1, cur.block());
  if (rc != 0) return rc;
  // This transaction's newest change of the row comes first from the key
  // of its start number and the highest sequence.
  const uint8_t* row = reinterpret_cast<const uint8_t*>(block + AFC_ROW);
  std::vector<uint8_t> key = cur.KeyOf(row, 0xFF);
  CacheSuffix newest;
  newest.start = LoadWord(block[AFC_TSS] + TSS_START);
  newest.sequence = INT32_MAX;
  uint8_t suffix[kSuffixBytes];
  DKMakeCacheSuffix(suffix, newest);
  std::memcpy(key.data() + k, suffix, kSuffixKind);
  rc = cur.Fetch(FET_FROM_KEY, key.data());
  if (rc != 0) return rc;
  const CacheSuffix s = cur.suffix();
  if (std::memcmp(cur.record(), row, static_cast<size_t>(k)) != 0 || s.start != newest.start)
    return kNoCache;
  std::vector<int32_t> ws = WriteSetBlock(block);
  rc = ReadChangeOf(s, &ws);
  if (rc < 0) return rc;
  if (rc == SET_END || !SameRow(ws, row, k)) return Report(kIndexDKAFC1, kRcCorrupt, s.kind);
  const int32_t stored = ws[SETRQ_RECORD + WSC_CODE];
  if (stored == kChangeMarker) {
    if (mode != 1) return Report(kIndexDKAFC1, kRcCorrupt, mode);
    block[AFC_MODE] = 1;
    return 0;
  }
  if (stored < 1 || stored > 4) return Report(kIndexDKAFC1, kRcCorrupt, stored);
  const int32_t kind = NextKind(stored, mode);
  if (kind == 0) return Report(kIndexDKAFC1, kRcCorrupt, kind);
  if (kind == kChangeUpdate)
    if (int32_t bad = BeforeLength(block, ws, stored)) return bad;
  if (int32_t bad = SetCode(ws, stored + kSupersededBy); bad < 0) return bad;
  block[AFC_MODE] = kind;
  return 0;
}

// The write-set places (page, word) of the changes a roll back made
// current again.
using Restored = std::set<std::pair<int32_t, int32_t>>;

// Undoes in the cache the change record in `ws`: the transaction's cache
// records of that row and sequence go, and the change before it in the
// write set is made current again, once. 0 or a negative code.
int32_t UndoChange(const std::vector<int32_t>& ws, int32_t start, Restored* restored) {
  const int32_t* rec = ws.data() + SETRQ_RECORD;
  if (ws[SETRQ_LENGTH] <= WSC_ROW) return Report(kIndexDKRCM1, kRcCorrupt, rec[WSC_CODE]);
  if (int32_t rc = CheckTableEntry(rec[WSC_TABLE], rec[WSC_TBL], kIndexDKRCM1)) return rc;
  const int32_t k = rec[WSC_KEY_LENGTH];
  CacheCursor cur;
  int32_t rc = DKDPT0(rec[WSC_TABLE], k, rec[WSC_RECORD_LENGTH], false, kIndexDKRCM1, cur.block());
  if (rc != 0) return rc < 0 ? rc : 0;
  if (!SameRow(ws, reinterpret_cast<const uint8_t*>(rec + WSC_ROW), k))
    return Report(kIndexDKRCM1, kRcCorrupt, rec[WSC_CODE]);
  const uint8_t* row = reinterpret_cast<const uint8_t*>(rec + WSC_ROW);
  std::vector<uint8_t> key = cur.KeyOf(row, 0);
  CacheSuffix mine;
  mine.start = start;
  mine.sequence = rec[WSC_SEQUENCE];
  uint8_t suffix[kSuffixBytes];
  DKMakeCacheSuffix(suffix, mine);
  std::memcpy(key.data() + k, suffix, kSuffixKind);
  for (rc = cur.Fetch(FET_FROM_KEY, key.data()); rc == 0;) {
    const CacheSuffix s = cur.suffix();
    if (std::memcmp(cur.record(), row, static_cast<size_t>(k)) != 0 || s.start != start) break;
    if (s.sequence == mine.sequence) {
      // Stepped over rather than fetched again from the key: a record that
      // DKDLT0 keeps (a copy carries the mark) would be met for ever.
      std::vector<uint8_t> at(cur.record(), cur.record() + cur.key_length());
      if (rc = DKDLT0(cur.block()); rc < 0) return rc;
      rc = cur.Fetch(FET_AFTER_KEY, at.data());
      continue;
    }
    // A row changed more than once under one sequence word: the last of
    // those changes (met first backwards) made the earlier change current
    // already.
    if (!restored->insert({s.position[0], s.position[1]}).second) break;
    std::vector<int32_t> earlier = ws;
    rc = ReadChangeOf(s, &earlier);
    if (rc < 0) return rc;
    const int32_t code = earlier[SETRQ_RECORD + WSC_CODE];
    if (rc == SET_END || !SameRow(earlier, row, k) ||
        (code < kSupersededBy && code != kChangeMarker))
      return Report(kIndexDKRCM1, kRcCorrupt, code);
    if (code > kSupersededBy && code <= kSupersededBy + 4)
      if (rc = SetCode(earlier, code - kSupersededBy); rc < 0) return rc;
    break;
  }
  return rc < 0 ? rc : 0;
}

bool IsChange(int32_t code) {
  for (int32_t c : {1, 2, 4, 51, 52, 54, kChangeMarker})
    if (code == c) return true;
  return false;
}

int32_t RollBack(const int32_t* block) {
  if (int32_t rc = CheckTss(block[AFC_TSS], kIndexDKRCM1)) return rc;
  const int32_t mark = block[AFC_ANSWER], start = LoadWord(block[AFC_TSS] + TSS_START);
  std::vector<int32_t> ws = WriteSetBlock(block);
  Restored restored;
  for (;;) {
    ws[SETRQ_RC] = 0;
    const int32_t rc = DKGXP0(ws);
    if (rc == SET_END) return Report(kIndexDKRCM1, -55, mark);
    if (rc < 0) return rc;
    const int32_t code = ws[SETRQ_RECORD + WSC_CODE];
    if (code == kCodeMark && ws[SETRQ_LENGTH] > 2 && ws[SETRQ_RECORD + 2] == mark) return 0;
    if (!IsChange(code)) continue;
    if (int32_t bad = UndoChange(ws, start, &restored)) return bad;
  }
}

}  // namespace

void DKAFC1(int32_t* block) {
  block[AFC_ANSWER] = AddOrChange(block);
}

void DKRCM1(int32_t* block) {
  block[AFC_ANSWER] = RollBack(block);
}

void DKAFC1Entry(int32_t* block, void*) {
  DKAFC1(block);
}
void DKRCM1Entry(int32_t* block, void*) {
  DKRCM1(block);
}
