// Table entries and root entries: create or find a table on every databank
// of its dependent chain (DKCRT1, DKCRT0), close table entries (DKCLT1), mark
// a table dropped (DKDRT1) and step through a databank's root entries
// (DKNTE1). Root pages are walked in chain order, one after the other.
#include "dk/table_entries.h"

#include <cstring>

#include "dk/bitmap_page.h"
#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/error_log.h"
#include "dk/large_object.h"
#include "dk/page_entries.h"
#include "dk/page_tree.h"
#include "dk/set_table.h"
#include "platform/enqdeq.h"

namespace {

constexpr int32_t kIndexDKCRT1 = 16, kIndexDKCLT1 = 13, kIndexDKDRT1 = 24;
constexpr int32_t kIndexDKCRT0 = -26, kIndexDKNTE1 = -82;
constexpr int32_t kLowestRootWord = kFirstRootWord - kRootEntryWords * (kRootEntries - 1);
// More root pages than any file of 2^31 units can hold: a longer chain loops.
constexpr int32_t kMaxRootPages = 1 << 21;

int32_t* Area() {
  return Bufferpool();
}

bool IsTableEntry(int32_t t) {
  int32_t first = LoadWord(BP_TABLE_FIRST), last = LoadWord(BP_TABLE_LAST);
  return first > 0 && t >= first && t <= last && (t - first) % TBE_WORDS == 0;
}

int32_t Report(int32_t index, int32_t rc, int32_t severity, int32_t value, int32_t databank = 0) {
  ReportPageError(index, rc, severity, value, databank);
  return rc;
}

int32_t FindDatabank(int32_t did) {
  EnqdeqGuard guard(Area() + BP_LOCK_DATABANK_HASH);
  int32_t d = DKHMI0(LoadWord(BP_DATABANK_HASH), did);
  return DKIsDatabankEntry(d) ? d : 0;
}

// The first root page of a databank: page 1, or for DID 2 the page that
// page 1 names in its word 4.
int32_t FirstRootPage(int32_t databank) {
  if (Area()[databank + DBE_DID] != 2) return kHeaderUnit;
  int32_t rq[REQ_WORDS];
  int32_t b = GetUnitPage(databank, kHeaderUnit, GET_SHARED, rq);
  if (b < 0) return b;
  int32_t first = PageWord(PageBytes(b), HDR_RESTORE_DIRECTORY);
  DKPUT0(PUT_END_SHARED, b);
  return first;
}

bool RootWordValid(int32_t word) {
  return word >= kLowestRootWord && word <= kFirstRootWord &&
         (kFirstRootWord - word) % kRootEntryWords == 0;
}

bool IsPageSize(int32_t size) {
  return (size == 2048 || size == 16384 || size == 65536) && FindPool(size) != 0;
}

// Releases a changed root page as the write mode asks: at once (-2), in the
// TSS's write set (> 0), or simply as changed.
int32_t ReleaseRootPage(int32_t mode, int32_t databank, int32_t page, int32_t buffer,
                        int32_t routine) {
  if (mode == -2) {
    int32_t rq[REQ_WORDS] = {databank, page, kUnitBytes, 0, -1, 0};
    if (DKWRP0(rq, WRP_WRITE_WAIT, buffer) != 0) return Report(routine, -61, 3, page, databank);
    return 0;
  }
  if (mode > 0) DKMRK0(mode, MRK_WRITE_SET, buffer);
  DKPUT0(PUT_CHANGED_KEEP, buffer);
  return 0;
}

// Takes one table entry per databank of the chain from `databank` on, the
// first linked into the hash under TBL. The caller holds the table lock.
int32_t MakeTableEntries(const int32_t* block, int32_t databank, int32_t mode) {
  int32_t* a = Area();
  int32_t hash = LoadWord(BP_TABLE_HASH);
  int32_t first = 0, previous = 0, steps = 0;
  EnqdeqGuard free_lock(a + BP_LOCK_TABLE_FREE);
  for (int32_t d = databank; DKIsDatabankEntry(d) && steps <= LoadWord(BP_DATABANK_COUNT);
       d = a[d + DBE_DEPENDENT], ++steps) {
    int32_t t = DKHMA0(hash);
    if (t < 1) {
      for (int32_t x = first; x != 0;) {
        int32_t next = a[x + TBE_NEXT];
        std::memset(a + x, 0, sizeof(int32_t) * (TBE_WORDS - 1));
        DKHML0(hash, x);
        x = next;
      }
      return 0;
    }
    std::memset(a + t, 0, sizeof(int32_t) * (TBE_WORDS - 1));
    a[t + TBE_TBL] = block[RQ_TBL];
    a[t + TBE_USES] = first == 0 ? 1 : 0;
    a[t + TBE_ACCESS] = first != 0 ? kAccessClosed : (mode == -3 || mode == -4 ? 3 : 1);
    a[t + TBE_DATABANK] = d;
    a[t + TBE_ROOT_PAGE] = -1;
    a[t + TBE_KIND] = (block[RQ_TYPE] / 10) % 10;
    int32_t kind = a[d + DBE_KIND];
    a[t + TBE_METHOD] = (kind == 7 || kind == 8) && mode == -4 ? 2 : block[RQ_METHOD];
    if (previous != 0) a[previous + TBE_NEXT] = t;
    if (first == 0) first = t;
    previous = t;
  }
  if (first != 0) DKHML0(hash, first);
  return first;
}

// Fills a free root entry for the table of the block.
void FillRootEntry(int32_t* block, int32_t* entry, int32_t method) {
  std::memset(entry - 1, 0, sizeof(int32_t) * kRootEntryWords);
  int32_t kind = (block[RQ_TYPE] / 10) % 10;
  entry[RE_TBL] = block[RQ_TBL];
  entry[RE_KIND] = kind;
  entry[RE_TYPE] = block[RQ_TYPE] % 10;
  entry[RE_METHOD] = method;
  if (kind == kKindSet) {
    entry[RE_INDEX_PAGE_SIZE] = block[RQ_INDEX_PAGE_SIZE] > 0 ? block[RQ_INDEX_PAGE_SIZE] : 2048;
    entry[RE_DATA_PAGE_SIZE] = block[RQ_DATA_PAGE_SIZE] > 0 ? block[RQ_DATA_PAGE_SIZE] : 16384;
  } else {
    entry[RE_KEY_LENGTH] = block[RQ_KEY_LENGTH];
    entry[RE_RECORD_LENGTH] = block[RQ_RECORD_LENGTH];
    entry[RE_INDEX_PAGE_SIZE] =
        block[RQ_INDEX_PAGE_SIZE] > 0 ? block[RQ_INDEX_PAGE_SIZE] : DKBSC0(block[RQ_KEY_LENGTH]);
    entry[RE_DATA_PAGE_SIZE] =
        block[RQ_DATA_PAGE_SIZE] > 0 ? block[RQ_DATA_PAGE_SIZE] : DKBSC0(block[RQ_RECORD_LENGTH]);
  }
  block[RQ_INDEX_PAGE_SIZE] = entry[RE_INDEX_PAGE_SIZE];
  block[RQ_DATA_PAGE_SIZE] = entry[RE_DATA_PAGE_SIZE];
}

// Two creates of one table may search at once; the root word is stored
// before the root page that tells readers it is there.
void PublishRootEntry(int32_t table, int32_t page, int32_t word) {
  StoreWord(table + TBE_ROOT_WORD, word);
  StoreWord(table + TBE_ROOT_PAGE, page);
}

// Adds a root page after the last one (held) and returns it held.
int32_t AddRootPage(int32_t databank, int32_t last_page, int32_t last_buffer, int32_t* page) {
  int32_t rq[REQ_WORDS] = {databank, 0, kUnitBytes, 0, -1, 0};
  int32_t b = DKHLD0(rq, -1);
  if (b < 0) {
    DKPUT0(PUT_UNCHANGED, last_buffer);
    return b;
  }
  *page = rq[REQ_PAGE];
  SetPageWord(PageBytes(b), PAGE_KIND, ROOT_PAGE_KIND);
  // The new page reaches disk before the page that links it.
  if (DKWRP0(rq, WRP_WRITE_HOLD, b) < 0) {
    DKPUT0(PUT_UNCHANGED, last_buffer);
    DKPUT0(PUT_UNCHANGED, b);
    return Report(kIndexDKCRT0, -61, 3, *page, databank);
  }
  SetPageWord(PageBytes(last_buffer), HDR_NEXT_ROOT, *page);
  int32_t lrq[REQ_WORDS] = {databank, last_page, kUnitBytes, 0, -1, 0};
  if (DKWRP0(lrq, WRP_WRITE_WAIT, last_buffer) != 0) {
    DKPUT0(PUT_UNCHANGED, b);
    return Report(kIndexDKCRT0, -61, 3, last_page, databank);
  }
  return b;
}

// Searches the root pages for the table's root entry, making one when there
// is none. A page with a free entry stays held while the walk goes on, so no
// other create can take that entry meanwhile; pages are taken in chain order.
int32_t SearchRootEntries(int32_t* block, int32_t databank, int32_t table, int32_t mode) {
  int32_t* a = Area();
  const int32_t tbl = block[RQ_TBL], kind = (block[RQ_TYPE] / 10) % 10;
  int32_t free_buffer = 0, free_page = 0, free_word = 0;
  int32_t page = FirstRootPage(databank), last_page = 0, last_buffer = 0;
  // A TRANS databank whose header names no restore directory has no root
  // page to add one after.
  if (page <= 0) return page < 0 ? page : Report(kIndexDKCRT0, -64, 3, page, databank);
  for (int32_t n = 0; page > 0; ++n) {
    int32_t rq[REQ_WORDS];
    int32_t b =
        n < kMaxRootPages && page != free_page ? GetUnitPage(databank, page, GET_UPDATE, rq) : -64;
    if (b < 0 || PageWord(PageBytes(b), PAGE_KIND) != ROOT_PAGE_KIND) {
      if (b > 0) DKPUT0(PUT_UNCHANGED, b);
      if (free_buffer) DKPUT0(PUT_UNCHANGED, free_buffer);
      return b < 0 && b != -64 ? b : Report(kIndexDKCRT0, -64, 3, page, databank);
    }
    int32_t match = 0;
    for (int32_t w = kFirstRootWord; w >= kLowestRootWord && match == 0; w -= kRootEntryWords) {
      const int32_t* e = a + b + w;  // the entry's level count
      if (e[RE_TBL] == 0 && free_buffer == 0) {
        free_buffer = b, free_page = page, free_word = w;
        if (tbl == -1) break;
      } else if (e[RE_TBL] == tbl && tbl != -1 && e[RE_KIND] % 10 == kind % 10) {
        match = w;
      }
    }
    if (match != 0) {
      const int32_t* e = a + b + match;
      PublishRootEntry(table, page, match);
      a[table + TBE_METHOD] = e[RE_METHOD];
      block[RQ_DATA_PAGE_SIZE] = e[RE_DATA_PAGE_SIZE];
      block[RQ_INDEX_PAGE_SIZE] = e[RE_INDEX_PAGE_SIZE];
      if (free_buffer && free_buffer != b) DKPUT0(PUT_UNCHANGED, free_buffer);
      DKPUT0(PUT_UNCHANGED, b);
      return 0;
    }
    if (free_buffer != 0 && tbl == -1) break;
    int32_t next = PageWord(PageBytes(b), HDR_NEXT_ROOT);
    if (next <= 0) {
      last_page = page, last_buffer = b;
      break;
    }
    if (b != free_buffer) DKPUT0(PUT_UNCHANGED, b);
    page = next;
  }
  if (free_buffer == 0) {
    free_buffer = AddRootPage(databank, last_page, last_buffer, &free_page);
    if (free_buffer < 0) return free_buffer;
    free_word = kFirstRootWord;
  } else if (last_buffer != 0 && last_buffer != free_buffer) {
    DKPUT0(PUT_UNCHANGED, last_buffer);
  }
  int32_t* entry = a + free_buffer + free_word;
  FillRootEntry(block, entry, a[table + TBE_METHOD]);
  PublishRootEntry(table, free_page, free_word);
  if (entry[RE_DATA_PAGE_SIZE] < 0 || entry[RE_INDEX_PAGE_SIZE] < 0) {
    std::memset(entry - 1, 0, sizeof(int32_t) * kRootEntryWords);
    StoreWord(table + TBE_ROOT_PAGE, -1);
    DKPUT0(PUT_UNCHANGED, free_buffer);
    return -76;
  }
  return ReleaseRootPage(mode, databank, free_page, free_buffer, kIndexDKCRT0);
}

// Frees a table entry chain (and the second entries it owns); the caller
// has taken the first entry out of the hash.
void FreeTableChain(int32_t first) {
  int32_t* a = Area();
  int32_t hash = LoadWord(BP_TABLE_HASH);
  EnqdeqGuard free_lock(a + BP_LOCK_TABLE_FREE);
  for (int32_t t = first, n = 0; IsTableEntry(t) && n < LoadWord(BP_TABLE_COUNT); ++n) {
    int32_t next = a[t + TBE_NEXT];
    std::memset(a + t, 0, sizeof(int32_t) * (TBE_WORDS - 1));
    DKHML0(hash, t);
    t = next;
  }
}

// The rows of a dropped table go when its last entry closes: the root entry
// is cleared (and written) before the tree's pages are freed, so the file
// never names a page that was given back. A set gives its pages back
// through the set routines, which read its root entry themselves.
void ReleaseDroppedTable(int32_t table) {
  int32_t* a = Area();
  int32_t d = a[table + TBE_DATABANK];
  if (!DKIsDatabankEntry(d) || a[d + DBE_SKIP_ROOTS] != 0 || a[table + TBE_ROOT_PAGE] <= 0) return;
  int32_t record = 0;
  int32_t b = GetRootEntry(table, GET_SHARED, kIndexDKCLT1, &record);
  if (b < 0) return;
  const bool dropped = a[record + RE_TYPE] == kTypeDropped;
  const bool set = a[record + RE_KIND] % 10 == kKindSet;
  DKPUT0(PUT_END_SHARED, b);
  if (!dropped) return;
  if (set) {
    int32_t drop[SETRQ_RECORD + 1] = {};
    drop[SETRQ_RC] = -2;
    drop[SETRQ_TABLE] = table;
    drop[SETRQ_TBL] = a[table + TBE_TBL];
    if (DKDXT0(drop) != 0) return;
  }
  b = GetRootEntry(table, GET_UPDATE, kIndexDKCLT1, &record);
  if (b < 0) return;
  int32_t saved[kRootEntryWords];
  std::memcpy(saved, a + record - 1, sizeof saved);
  std::memset(a + record - 1, 0, sizeof saved);
  if (ReleaseRootPage(-2, d, a[table + TBE_ROOT_PAGE], b, kIndexDKCLT1) != 0) return;
  const int32_t* e = saved + 1;
  if (!set && e[RE_LEVELS] > 0 && RootEntrySound(e)) {
    FreeTreeObjects(d, e);
    DKDRP0(d, e[RE_TOP], e[RE_LEVELS], e[RE_INDEX_PAGE_SIZE], e[RE_DATA_PAGE_SIZE],
           e[RE_KEY_LENGTH], e[RE_KIND]);
  }
}

void CloseChain(int32_t first) {
  int32_t* a = Area();
  for (int32_t t = first, n = 0; IsTableEntry(t) && n < LoadWord(BP_TABLE_COUNT);
       t = a[t + TBE_NEXT], ++n) {
    ReleaseDroppedTable(t);
    int32_t second = a[t + TBE_SECOND];
    if (IsTableEntry(second)) {
      if (a[second + TBE_SECOND] != 0) Report(kIndexDKCLT1, -55, 2, second);
      ReleaseDroppedTable(second);
      FreeTableChain(second);
      a[t + TBE_SECOND] = 0;
    }
  }
  FreeTableChain(first);
}

void CloseAllOfDatabank(int32_t* block) {
  int32_t* a = Area();
  int32_t d = FindDatabank(block[RQ_DID]);
  if (d == 0) {
    block[RQ_STATUS] = Report(kIndexDKCLT1, -45, 2, block[RQ_DID]);
    return;
  }
  int32_t hash = LoadWord(BP_TABLE_HASH);
  for (;;) {
    int32_t found = 0;
    {
      EnqdeqGuard lock(a + BP_LOCK_TABLE_HASH);
      int32_t state[4] = {0, hash, 0, 0};
      for (int32_t t = DKHMS0(state); t != 0; t = DKHMS0(state))
        if (a[t + TBE_DATABANK] == d && a[t + TBE_USES] == 0) {
          found = t;
          break;
        }
      if (found) DKHMP0(hash, found);
    }
    if (found == 0) break;
    CloseChain(found);
  }
  block[RQ_STATUS] = 0;
}

}  // namespace

int32_t DKFindDatabank(int32_t did) {
  return FindDatabank(did);
}

void DKFreeSecondEntry(int32_t table) {
  int32_t* a = Area();
  const int32_t second = a[table + TBE_SECOND];
  if (!IsTableEntry(second)) return;
  if (a[second + TBE_SECOND] != 0) Report(kIndexDKCLT1, -55, 7, second);
  ReleaseDroppedTable(second);
  FreeTableChain(second);
  a[table + TBE_SECOND] = 0;
}

bool DKIsCacheTable(int32_t second) {
  return IsTableEntry(second) && LoadWord(second + TBE_TBL) == -1;
}

int32_t DKMakeTableEntries(const int32_t* block, int32_t databank, int32_t mode) {
  return MakeTableEntries(block, databank, mode);
}

int32_t CheckTableEntry(int32_t table, int32_t tbl, int32_t routine) {
  if (IsTableEntry(table) && Area()[table + TBE_TBL] == tbl && tbl != 0) return 0;
  return Report(routine, -46, 2, table);
}

bool RootEntrySound(const int32_t* e) {
  int32_t k = e[RE_KEY_LENGTH], r = e[RE_RECORD_LENGTH];
  int32_t inner = e[RE_INDEX_PAGE_SIZE], leaf = e[RE_DATA_PAGE_SIZE];
  if (!IsPageSize(inner) || !IsPageSize(leaf)) return false;
  if (k < 0 || r < k || e[RE_LEVELS] < 0 || e[RE_LEVELS] > kMaxLevels || e[RE_TOP] < 0)
    return false;
  if (e[RE_METHOD] < 0 || e[RE_METHOD] > 2) return false;
  return kPageHeaderBytes + 4 * (k + kChildBytes) <= inner &&
         (e[RE_METHOD] != 0 || kPageHeaderBytes + 4 * r <= leaf);
}

int32_t GetRootEntry(int32_t table, int32_t mode, int32_t routine, int32_t* root_record) {
  int32_t* a = Area();
  int32_t page = LoadWord(table + TBE_ROOT_PAGE), d = a[table + TBE_DATABANK];
  int32_t word = a[table + TBE_ROOT_WORD];
  if (!DKIsDatabankEntry(d) || page <= 0 || !RootWordValid(word))
    return Report(routine, -50, 2, a[table + TBE_TBL], DKIsDatabankEntry(d) ? d : 0);
  int32_t rq[REQ_WORDS];
  int32_t b = GetUnitPage(d, page, mode, rq);
  if (b < 0) return b;
  const int32_t* e = a + b + word;
  if (PageWord(PageBytes(b), PAGE_KIND) != ROOT_PAGE_KIND || e[RE_TBL] != a[table + TBE_TBL]) {
    DKPUT0(mode == GET_SHARED ? PUT_END_SHARED : PUT_UNCHANGED, b);
    return Report(routine, -50, 2, a[table + TBE_TBL], d);
  }
  *root_record = b + word;
  return b;
}

int32_t DKCRT0(int32_t* block, int32_t databank) {
  int32_t* a = Area();
  const int32_t mode = block[RQ_STATUS], tbl = block[RQ_TBL];
  int32_t first = block[RQ_TABLE] > 0 ? block[RQ_TABLE] : 0;
  if (first != 0 && !IsTableEntry(first)) return Report(kIndexDKCRT0, -46, 2, first);
  if (first == 0) {
    EnqdeqGuard lock(a + BP_LOCK_TABLE_HASH);
    if (tbl != -1) {
      int32_t found = DKHMI0(LoadWord(BP_TABLE_HASH), tbl);
      first = IsTableEntry(found) ? found : 0;
    }
    if (first == 0) first = MakeTableEntries(block, databank, mode);
    if (first == 0) return Report(kIndexDKCRT0, -14, 2, LoadWord(BP_TABLE_COUNT));
  }
  block[RQ_TABLE] = first;
  int32_t table = first;
  for (int32_t n = 0; IsTableEntry(table) && a[table + TBE_DATABANK] != databank; ++n)
    table = n < LoadWord(BP_TABLE_COUNT) ? a[table + TBE_NEXT] : 0;
  if (!IsTableEntry(table)) return Report(kIndexDKCRT0, -45, 2, a[databank + DBE_DID]);
  if (LoadWord(table + TBE_ROOT_PAGE) != -1) return 0;
  if (a[databank + DBE_SKIP_ROOTS] != 0 && mode != -3 && mode != -4) return 0;
  int32_t rc = SearchRootEntries(block, databank, table, mode);
  if (rc != 0 && a[databank + DBE_KIND] != DBE_KIND_SHADOW) {
    a[first + TBE_ACCESS] = kAccessClosed;
    a[first + TBE_USES] = 0;
  }
  return rc;
}

void DKCRT1(int32_t* block) {
  const int32_t mode = block[RQ_STATUS];
  if (block[RQ_TBL] == 0) {
    block[RQ_STATUS] = Report(kIndexDKCRT1, -43, 2, 0);
    return;
  }
  int32_t d = FindDatabank(block[RQ_DID]);
  if (d == 0) {
    block[RQ_STATUS] = Report(kIndexDKCRT1, -45, 2, block[RQ_DID]);
    return;
  }
  for (int w : {RQ_DATA_PAGE_SIZE, RQ_INDEX_PAGE_SIZE})
    if (block[w] != 0 && !IsPageSize(block[w])) {
      block[RQ_STATUS] = Report(kIndexDKCRT1, -76, 2, block[w]);
      return;
    }
  const int32_t largest = LoadWord(BP_MAX_RECORD_LENGTH);
  const int32_t kind = (block[RQ_TYPE] / 10) % 10, type = block[RQ_TYPE] % 10;
  if (kind != kKindSet) {
    int32_t k = block[RQ_KEY_LENGTH], r = block[RQ_RECORD_LENGTH];
    for (int32_t length : {k, r}) {
      if (length > 16000 || length < 0 || r < k) {
        block[RQ_STATUS] = Report(kIndexDKCRT1, -67, 2, length);
        return;
      }
      if (length > largest) {
        block[RQ_STATUS] = Report(kIndexDKCRT1, -76, 2, largest);
        return;
      }
    }
    // A page must hold four entries, so that a split and a merge always have
    // entries to move and never leave a page empty.
    int32_t leaf = block[RQ_DATA_PAGE_SIZE], inner = block[RQ_INDEX_PAGE_SIZE];
    if ((leaf != 0 && kPageHeaderBytes + 4 * r > leaf) ||
        (inner != 0 && kPageHeaderBytes + 4 * (k + kChildBytes) > inner)) {
      block[RQ_STATUS] = Report(kIndexDKCRT1, -76, 2, leaf != 0 ? leaf : inner);
      return;
    }
  }
  int32_t status = 0, first = 0;
  int32_t* a = Area();
  for (int32_t db = d, n = 0; DKIsDatabankEntry(db) && n <= LoadWord(BP_DATABANK_COUNT);
       db = a[db + DBE_DEPENDENT], ++n) {
    block[RQ_STATUS] = mode;
    if (first != 0) block[RQ_TABLE] = first;
    int32_t rc = DKCRT0(block, db);
    if (first == 0 && block[RQ_TABLE] > 0) first = block[RQ_TABLE];
    if (rc != 0 && !(mode == 9 && a[db + DBE_KIND] == DBE_KIND_SHADOW)) status = rc;
    if (a[db + DBE_DID] == 2 && (type == 3 || type == 4)) break;
  }
  block[RQ_TABLE] = first;
  if (kind == kKindSet) block[RQ_KEY_LENGTH] = 0;
  block[RQ_STATUS] = status;
}

void DKCLT1(int32_t* block) {
  int32_t* a = Area();
  const int32_t mode = block[RQ_STATUS];
  if (mode == 34) return CloseAllOfDatabank(block);
  int32_t table = block[RQ_TABLE], tbl = block[RQ_TBL];
  if (int32_t rc = CheckTableEntry(table, tbl, kIndexDKCLT1)) {
    block[RQ_STATUS] = rc;
    return;
  }
  {
    EnqdeqGuard lock(a + BP_LOCK_TABLE_HASH);
    if (--a[table + TBE_USES] > 0) {
      block[RQ_STATUS] = 0;
      return;
    }
    a[table + TBE_ACCESS] = kAccessClosed;
    a[table + TBE_USES] = 0;
    if (mode != -22 && tbl != -1) {
      block[RQ_STATUS] = 0;
      return;
    }
    DKHMP0(LoadWord(BP_TABLE_HASH), table);
  }
  CloseChain(table);
  block[RQ_STATUS] = 0;
}

void DKDRT1(int32_t* block) {
  int32_t* a = Area();
  const int32_t mode = block[RQ_STATUS], tbl = block[RQ_TBL];
  int32_t d = FindDatabank(block[RQ_DID]);
  if (d == 0 || tbl == 0) {
    block[RQ_STATUS] =
        d == 0 ? Report(kIndexDKDRT1, -45, 2, block[RQ_DID]) : Report(kIndexDKDRT1, -43, 2, tbl);
    return;
  }
  int32_t db = block[RQ_TABLE] == 0 ? a[d + DBE_DEPENDENT] : d;
  for (int32_t n = 0; DKIsDatabankEntry(db) && n <= LoadWord(BP_DATABANK_COUNT); ++n) {
    if (a[db + DBE_SKIP_ROOTS] == 0) {
      int32_t page = FirstRootPage(db);
      for (int32_t p = 0; page > 0 && p < kMaxRootPages; ++p) {
        int32_t rq[REQ_WORDS];
        int32_t b = GetUnitPage(db, page, GET_UPDATE, rq);
        if (b < 0) {
          block[RQ_STATUS] = b;
          return;
        }
        // A chain that leads off the root pages would have other pages marked.
        if (PageWord(PageBytes(b), PAGE_KIND) != ROOT_PAGE_KIND) {
          DKPUT0(PUT_UNCHANGED, b);
          block[RQ_STATUS] = Report(kIndexDKDRT1, -64, 3, page, db);
          return;
        }
        bool changed = false;
        for (int32_t w = kFirstRootWord; w >= kLowestRootWord; w -= kRootEntryWords)
          if (a[b + w + RE_TBL] == tbl) a[b + w + RE_TYPE] = kTypeDropped, changed = true;
        int32_t next = PageWord(PageBytes(b), HDR_NEXT_ROOT);
        if (changed) {
          if (mode > 0) DKMRK0(mode, MRK_WRITE_SET, b);
          DKPUT0(PUT_CHANGED_KEEP, b);
        } else {
          DKPUT0(PUT_UNCHANGED, b);
        }
        page = next;
      }
    }
    if (block[RQ_TABLE] != 0) break;
    db = a[db + DBE_DEPENDENT];
  }
  block[RQ_STATUS] = 0;
}

void DKNTE1(int32_t* block) {
  int32_t* a = Area();
  int32_t d = block[NTE_DATABANK];
  if (!DKIsDatabankEntry(d)) {
    block[NTE_STATUS] = Report(kIndexDKNTE1, -45, 2, d);
    return;
  }
  int32_t page = block[NTE_PAGE], word = block[NTE_OFFSET];
  if (page == 0) page = FirstRootPage(d), word = kFirstRootWord + kRootEntryWords;
  for (int32_t n = 0; page > 0 && n < kMaxRootPages; ++n) {
    int32_t rq[REQ_WORDS];
    int32_t b = GetUnitPage(d, page, GET_SHARED, rq);
    if (b < 0) {
      block[NTE_STATUS] = b;
      return;
    }
    if (PageWord(PageBytes(b), PAGE_KIND) != ROOT_PAGE_KIND) {
      DKPUT0(PUT_END_SHARED, b);
      block[NTE_STATUS] = Report(kIndexDKNTE1, -64, 3, page, d);
      return;
    }
    if (!RootWordValid(word) && word != kFirstRootWord + kRootEntryWords)
      word = kLowestRootWord;  // a cursor out of the page's entries ends this page
    for (word -= kRootEntryWords; word >= kLowestRootWord; word -= kRootEntryWords) {
      const int32_t* e = a + b + word;
      if (e[RE_TBL] == 0) continue;
      int32_t kind = e[RE_KIND];
      bool lengths = kind == 1 || kind == 2 || kind == kKindLobRefs;
      block[NTE_TBL] = e[RE_TBL];
      block[NTE_TYPE] = e[RE_TYPE] + (kind + (e[RE_METHOD] != 0 ? 10 : 0)) * 10;
      block[NTE_KEY_LENGTH] = lengths ? e[RE_KEY_LENGTH] : 0;
      block[NTE_RECORD_LENGTH] = lengths ? e[RE_RECORD_LENGTH] : 0;
      block[NTE_DATA_PAGE_SIZE] = e[RE_DATA_PAGE_SIZE];
      block[NTE_INDEX_PAGE_SIZE] = e[RE_INDEX_PAGE_SIZE];
      block[NTE_METHOD] = e[RE_METHOD];
      block[NTE_PAGE] = page;
      block[NTE_OFFSET] = word;
      DKPUT0(PUT_END_SHARED, b);
      block[NTE_STATUS] = 0;
      return;
    }
    int32_t next = PageWord(PageBytes(b), HDR_NEXT_ROOT);
    DKPUT0(PUT_END_SHARED, b);
    page = next, word = kFirstRootWord + kRootEntryWords;
  }
  block[NTE_DATABANK] = -1;
  block[NTE_STATUS] = 4;
}
