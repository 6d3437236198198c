// The background check of a databank's data pages (DKVDB0), run by a
// background thread while the databank is in use: each table's leaves are
// reached one descent at a time, every page read shared and held only until
// its child is, so the bounds a parent gives are those of the tree as it
// stands; nothing is changed.
#include <vector>

#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/databank_verification.h"
#include "dk/error_log.h"
#include "dk/page_entries.h"
#include "dk/page_tree.h"
#include "dk/set_pages.h"
#include "dk/table_entries.h"
#include "dk/verification_pages.h"
#include "platform/enqdeq.h"

namespace {

const int32_t kIndexDKVDB0 = dkset::RoutineIndex("DKVDB0");
constexpr int32_t kMaxRootPages = 1 << 21;

struct RootEntryAt {
  int32_t page, word, tbl;
};

int32_t Corrupt(int32_t databank, int32_t page) {
  ReportPageError(kIndexDKVDB0, -42, DK_SEV_DISABLE, page, databank);
  return -42;
}

// The tables of the databank (not sets), by where their root entries lie.
int32_t CollectTables(int32_t databank, std::vector<RootEntryAt>* tables) {
  int32_t* a = Bufferpool();
  int32_t page = kHeaderUnit;
  if (a[databank + DBE_DID] == 2) {
    int32_t rq[REQ_WORDS];
    int32_t b = GetUnitPage(databank, kHeaderUnit, GET_SHARED, rq);
    if (b < 0) return b;
    page = PageWord(PageBytes(b), HDR_RESTORE_DIRECTORY);
    DKPUT0(PUT_END_SHARED, b);
  }
  for (int32_t n = 0; page > 0; ++n) {
    if (n >= kMaxRootPages) return Corrupt(databank, page);
    int32_t rq[REQ_WORDS];
    int32_t b = GetUnitPage(databank, page, GET_SHARED, rq);
    if (b < 0) return b;
    const uint8_t* p = PageBytes(b);
    if (PageWord(p, HDR_KIND) != ROOT_PAGE_KIND) {
      DKPUT0(PUT_END_SHARED, b);
      return Corrupt(databank, page);
    }
    for (int32_t k = 0; k < kRootEntries; ++k) {
      int32_t word = kFirstRootWord - k * kRootEntryWords;  // the entry's word -1
      int32_t tbl = PageWord(p, word + 1 + RE_TBL), kind = PageWord(p, word + 1 + RE_KIND) % 10;
      if (tbl != 0 && kind != kKindSet) tables->push_back({page, word, tbl});
    }
    int32_t next = PageWord(p, HDR_NEXT_ROOT);
    DKPUT0(PUT_END_SHARED, b);
    page = next;
  }
  return 0;
}

bool AllHigh(const std::vector<uint8_t>& key) {
  for (uint8_t b : key)
    if (b != 0xFF) return false;
  return true;
}

// One descent to the leaf after `after` (none: the first leaf), the leaf
// checked inside the bounds its parent gives. *next receives the leaf's
// upper bound, empty when it was the last leaf. 1 when the table is gone.
int32_t CheckNextLeaf(int32_t databank, const RootEntryAt& at, const std::vector<uint8_t>& after,
                      std::vector<uint8_t>* next) {
  int32_t rq[REQ_WORDS];
  int32_t parent = GetUnitPage(databank, at.page, GET_SHARED, rq);
  if (parent < 0) return parent;
  const uint8_t* root = PageBytes(parent);
  int32_t e[kRootEntryWords];
  for (int32_t w = 0; w < kRootEntryWords; ++w) e[w] = PageWord(root, at.word + w);
  TreeShape s;
  if (e[1 + RE_TBL] != at.tbl || e[1 + RE_KIND] % 10 == kKindSet) {
    DKPUT0(PUT_END_SHARED, parent);
    return 1;  // dropped or replaced meanwhile
  }
  if (!TreeShapeOf(e + 1, &s) || s.levels > kMaxLevels) {
    DKPUT0(PUT_END_SHARED, parent);
    return Corrupt(databank, at.page);
  }
  next->clear();
  KeyBounds bounds;
  int32_t page = s.top;
  for (int32_t level = 1; level <= s.levels; ++level) {
    const bool leaf = level == s.levels;
    const int32_t size = leaf ? s.leaf_size : s.inner_size;
    int32_t crq[REQ_WORDS] = {databank, page, size, 0, -1, 0};
    int32_t b = TreePageNumber(page, size) ? DKGET0(crq, GET_SHARED) : -42;
    DKPUT0(PUT_END_SHARED, parent);
    if (b < 0) return b == -42 ? Corrupt(databank, page) : b;
    const uint8_t* p = PageBytes(b);
    std::vector<int32_t> children;
    std::vector<std::vector<uint8_t>> keys;
    bool sound = !DKPageTorn(b) && (leaf ? CheckLeafPage(s, p, true, bounds, nullptr)
                                         : CheckIndexPage(s, p, true, bounds, &children, &keys));
    if (!sound) {
      DKPUT0(PUT_END_SHARED, b);
      return Corrupt(databank, page);
    }
    if (leaf) {
      DKPUT0(PUT_END_SHARED, b);
      *next = bounds.upper;
      return 0;
    }
    // The first child whose bound lies above the key already checked.
    size_t i = 0;
    while (i < keys.size() && !after.empty() &&
           CompareKeys(keys[i].data(), after.data(), s.key) <= 0)
      ++i;
    if (i == keys.size()) {
      DKPUT0(PUT_END_SHARED, b);
      return 0;  // nothing after it: the leaves are done
    }
    if (i > 0) bounds.lower = keys[i - 1];
    bounds.upper = keys[i];
    page = children[i];
    parent = b;
  }
  DKPUT0(PUT_END_SHARED, parent);
  return 0;  // an empty table
}

bool Stopped(int32_t databank) {
  return LoadWord(BP_STATUS) == BP_STATUS_SHUTDOWN ||
         LoadWord(databank + DBE_STATE) == CHK_ABORTING;
}

// The leaves of one table, from the first to the one that ends on the fill
// key; 0, 4 when stopped, or the first failure.
int32_t CheckTable(int32_t databank, const RootEntryAt& at) {
  std::vector<uint8_t> after, next;
  for (int64_t n = 0; n <= int64_t{1} << 31; ++n) {
    if (n > 0 && n % 64 == 0 && Stopped(databank)) return kCheckStopped;
    int32_t rc = CheckNextLeaf(databank, at, after, &next);
    if (rc != 0) return rc < 0 ? rc : 0;
    if (next.empty() || AllHigh(next)) return 0;
    // Each descent must move on, or a damaged index would keep it going.
    if (!after.empty() &&
        CompareKeys(next.data(), after.data(), static_cast<int32_t>(next.size())) <= 0)
      return Corrupt(databank, at.page);
    after = next;
  }
  return Corrupt(databank, at.page);
}

}  // namespace

int32_t DKVDB0(int32_t* request) {
  int32_t* a = Bufferpool();
  const int32_t databank = request[VED_DATABANK];
  auto finish = [&](int32_t rc) {
    request[VED_OPTION] = rc;
    return rc;
  };
  if (!DKIsDatabankEntry(databank) || a[databank + DBE_DID] == 0) {
    ReportPageError(kIndexDKVDB0, -45, DK_SEV_ERROR, databank, 0);
    return finish(-45);
  }
  std::vector<RootEntryAt> tables;
  int32_t rc = Stopped(databank) ? kCheckStopped : CollectTables(databank, &tables);
  for (const RootEntryAt& at : tables) {
    if (rc != 0) break;
    rc = Stopped(databank) ? kCheckStopped : CheckTable(databank, at);
  }
  // Finished: complete. Stopped or failed: aborted, so that the close
  // writes -2 and the next open checks in the background again (a corrupt
  // databank is disabled by the report and gets no close mark at all).
  // The state is read without the lock by the tree routines: stored whole.
  EnqdeqGuard guard(a + BP_LOCK_DATABANK_HASH);
  int32_t state = LoadWord(databank + DBE_STATE);
  if (rc == 0 && state == CHK_BACKGROUND)
    state = CHK_COMPLETE;
  else if (state == CHK_BACKGROUND || state == CHK_ABORTING || rc != 0)
    state = CHK_ABORTED;
  StoreWord(databank + DBE_STATE, state);
  if (rc == 0 && state == CHK_ABORTED) rc = kCheckStopped;
  return finish(rc);
}
