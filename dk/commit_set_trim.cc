// Cutting the front of the commit set: whole data pages whose records all
// belong to secured transactions (or to commits that never completed) are
// taken out, so that the commit set keeps only what may still be applied.
#include <algorithm>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/commit_write_set.h"
#include "dk/control_area.h"
#include "dk/set_pages.h"
#include "dk/set_table.h"
#include "dk/table_entries.h"
#include "dk/transactions.h"
#include "platform/enqdeq.h"

namespace {

// The lowest commit-set order number that may still be applied: that of
// the first transaction in the commit set not yet secured, else the next
// one to be given. The caller holds the commit-set lock, so none is given
// meanwhile.
int32_t LowestOpenGroup() {
  int32_t* a = Bufferpool();
  int32_t bound = LoadWord(BP_COMMIT_SET_ORDER) + 1;
  EnqdeqGuard guard(a + BP_LOCK_TSS_HASH);
  int32_t state[4] = {0, a[BP_TSS_HASH], 0, 0};
  for (int32_t e = DKHMS0(state); e > 0; e = DKHMS0(state)) {
    const int32_t s = a[e + TSS_STATE];
    if (s >= TSS_PREPARED && s < TSS_SECURED && a[e + TSS_GROUP] > 0)
      bound = std::min(bound, a[e + TSS_GROUP]);
  }
  return bound;
}

// The records of the set's first data page, each with its position; false
// when the set is empty or a read fails.
bool FirstPage(std::vector<int32_t>& b, std::vector<std::vector<int32_t>>* records, int32_t* page) {
  b[SETRQ_PAGE] = 0;
  b[SETRQ_POSITION] = 0;
  b[SETRQ_RC] = 2;
  records->clear();
  for (;;) {
    const int32_t rc = DKGXN0(b);
    if (rc != 0) return rc == SET_END && !records->empty();
    if (records->empty()) *page = b[SETRQ_PAGE];
    if (b[SETRQ_PAGE] != *page) return true;
    records->emplace_back(b.begin() + SETRQ_RECORD, b.begin() + SETRQ_RECORD + b[SETRQ_LENGTH]);
    b[SETRQ_RC] = 0;
  }
}

}  // namespace

int32_t DKTrimCommitSet() {
  int32_t* a = Bufferpool();
  const int32_t table = LoadWord(BP_COMMIT_SET_TBL);
  if (!dkset::IsTableEntry(table)) return 0;
  std::vector<int32_t> b(SETRQ_RECORD + SetMaxRecordWords(kCommitSetPageSize), 0);
  b[SETRQ_TABLE] = table;
  b[SETRQ_TBL] = a[table + TBE_TBL];
  EnqdeqGuard guard(a + BP_LOCK_COMMIT_SET);
  const int32_t bound = LowestOpenGroup();
  std::vector<std::vector<int32_t>> records;
  int32_t pages = 0, page = 0;
  while (FirstPage(b, &records, &page)) {
    const bool open = std::any_of(records.begin(), records.end(),
                                  [bound](const auto& r) { return r.size() < 2 || r[1] >= bound; });
    if (open) break;
    // Each deletion moves the records after it down to the same place.
    for (const std::vector<int32_t>& r : records) {
      b[SETRQ_RC] = 0;
      b[SETRQ_PAGE] = page;
      b[SETRQ_POSITION] = SETDATA_FIRST;
      b[SETRQ_LENGTH] = static_cast<int32_t>(r.size());
      std::copy(r.begin(), r.end(), b.begin() + SETRQ_RECORD);
      const int32_t rc = DKDXR0(b);
      if (rc < 0) return rc;
      if (rc == SET_NO_MATCH) return pages;
    }
    ++pages;
    CountWord(BP_COMMIT_SET_TRIM_COUNT);
  }
  return pages;
}
