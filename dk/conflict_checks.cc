// The read checks of the commit validation: a row the committing transaction
// read (DKCHR0) or a whole table it read (DKCHW0) conflicts when another
// transaction that prepared before it changed that row and its commit was
// not yet on disk when the reader's view was taken. They read the table's
// transaction cache and are installed into the transactions' validation.
#include <span>

#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/set_pages.h"
#include "dk/table_entries.h"
#include "dk/transaction_cache_internal.h"
#include "dk/transactions.h"

using namespace dktc;

namespace {

const int32_t kIndexDKCHW0 = dkset::RoutineIndex("DKCHW0");
const int32_t kIndexDKCHR0 = dkset::RoutineIndex("DKCHR0");

// The checker's side: its start number, view, prepare number and safe high
// start number.
struct Checker {
  int32_t start, view, prepare, safe_high;
};

Checker CheckerOf(int32_t tss) {
  const int32_t* a = Bufferpool();
  return {a[tss + TSS_START], a[tss + TSS_VIEW], LoadWord(tss + TSS_PREPARE),
          a[tss + TSS_SAFE_HIGH]};
}

// The answer of a writer against the checker: a conflict when it prepared
// before the checker and its commit was not on disk at the checker's view.
int32_t Against(const Checker& me, const CacheWriter& w) {
  if (w.prepared == 0 || w.prepared >= me.prepare) return 0;
  if (w.on_disk != 0 && w.on_disk <= me.view) return 0;
  return w.state == TSS_IN_DOUBT ? kConflictInDoubt : kConflict;
}

// The cache of the table a read-set record names: 0 with the cursor set,
// kNoCache, or a negative code.
int32_t OpenCache(std::span<const int32_t> record, int32_t routine, CacheCursor* cur) {
  if (record.size() <= static_cast<size_t>(RSC_KEY_LENGTH))
    return Report(routine, kRcBadParameter, static_cast<int32_t>(record.size()));
  if (int32_t rc = CheckTableEntry(record[RSC_TABLE], record[RSC_TBL], routine)) return rc;
  const int32_t k = record[RSC_KEY_LENGTH];
  int32_t rc = DKDPT0(record[RSC_TABLE], k, k, false, routine, cur->block());
  if (rc == 0) rc = UseCacheLengths(cur, routine);
  return rc;
}

// Walks the records from the key in the cursor's record area on: those of
// `row` when it is given (each row's walk ending at a writer begun before
// the checker's safe high start unless `whole_row`), else the whole table.
int32_t Walk(int32_t tss, CacheCursor& cur, const uint8_t* row, bool whole_row) {
  const Checker me = CheckerOf(tss);
  const int32_t low = TssLockedWord(BP_LOW_START_TRANS), k = cur.row_key_length();
  int32_t last_start = 0;
  CacheWriter writer;
  for (int32_t rc = cur.Next(FET_FROM_KEY);; rc = cur.Next()) {
    while (rc == 0) {
      if (row && std::memcmp(cur.record(), row, static_cast<size_t>(k)) != 0) return 0;
      const CacheSuffix s = cur.suffix();
      if (s.start < low) {
        rc = cur.RemoveAndStep();
        continue;
      }
      if (s.start == me.start) break;
      if (s.start < me.safe_high && !whole_row) {
        // Older writers of this row all committed before the checker began.
        if (row) return 0;
        rc = cur.Fetch(FET_AFTER_KEY, cur.RowKeyWith(0xFF).data());
        continue;
      }
      if (s.start != last_start) {
        writer = DKLTS0(s.start);
        last_start = s.start;
      }
      if (writer.on_disk < 0) {
        rc = cur.RemoveAndStep();
        continue;
      }
      if (int32_t answer = Against(me, writer)) return answer;
      break;
    }
    if (rc == kStatusEnd) return 0;
    if (rc < 0) return rc;
  }
}

}  // namespace

int32_t DKCHR0(int32_t tss, std::span<const int32_t> record) {
  if (record.size() <= static_cast<size_t>(RSC_MODE))
    return Report(kIndexDKCHR0, kRcBadParameter, 0);
  const int32_t mode = record[RSC_MODE];
  if (mode != 0 && mode != -1 && mode != -3) return Report(kIndexDKCHR0, kRcMode, mode);
  CacheCursor cur;
  int32_t rc = OpenCache(record, kIndexDKCHR0, &cur);
  if (rc == kNoCache) return 0;
  if (rc != 0) return rc;
  const int32_t k = cur.row_key_length();
  if (record.size() < static_cast<size_t>(RSC_KEY + (k + 3) / 4))
    return Report(kIndexDKCHR0, kRcBadParameter, static_cast<int32_t>(record.size()));
  const uint8_t* row = reinterpret_cast<const uint8_t*>(record.data() + RSC_KEY);
  std::vector<uint8_t> key = cur.KeyOf(row, 0);
  std::memcpy(cur.record(), key.data(), key.size());
  return Walk(tss, cur, row, mode == -3);
}

int32_t DKCHW0(int32_t tss, std::span<const int32_t> record) {
  if (record.size() <= static_cast<size_t>(RSC_MODE))
    return Report(kIndexDKCHW0, kRcBadParameter, 0);
  const int32_t mode = record[RSC_MODE];
  if (mode != 0 && mode != -6) return Report(kIndexDKCHW0, kRcMode, mode);
  CacheCursor cur;
  int32_t rc = OpenCache(record, kIndexDKCHW0, &cur);
  if (rc == kNoCache) return 0;
  if (rc != 0) return rc;
  std::memset(cur.record(), 0, static_cast<size_t>(cur.key_length()));
  return Walk(tss, cur, nullptr, false);
}

namespace {
const DKReadChecks kCacheChecks = {DKCHR0, DKCHW0};
}

void DKInstallTransactionCacheChecks() {
  DKInstallReadChecks(&kCacheChecks);
}
