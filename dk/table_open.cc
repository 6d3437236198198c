// Open of a table (DKOPT1) with the access-mode rule, the description of a
// table from its root entry (DKGTS1), the change of its kind and type
// (DKMOT1) and the stored length of a record (DKPFU1). An open finds or
// makes the table's entries and their root entries; everything else reads
// or changes the root entry alone.
#include "dk/table_open.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/compression.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/error_log.h"
#include "dk/page_entries.h"
#include "dk/page_tree.h"
#include "dk/table_entries.h"
#include "platform/enqdeq.h"

namespace {

constexpr int32_t kIndexDKGTS1 = 36, kIndexDKMOT1 = 41, kIndexDKOPT1 = 45, kIndexDKPFU1 = 46;
constexpr int32_t kMaxCompressedRecord = 16376;

int32_t Report(int32_t routine, int32_t rc, int32_t severity, int32_t value, int32_t databank = 0) {
  ReportPageError(routine, rc, severity, value, databank);
  return rc;
}

bool IsEntry(int32_t t) {
  int32_t first = LoadWord(BP_TABLE_FIRST), last = LoadWord(BP_TABLE_LAST);
  return first > 0 && t >= first && t <= last && (t - first) % TBE_WORDS == 0;
}

// The root entry of TBL on a databank (kind `kind`, or any for -1 and -2):
// its root page and word through the root entry walk. 0, -50 or a code.
int32_t FindRootEntry(int32_t databank, int32_t tbl, int32_t kind, int32_t* page, int32_t* word) {
  int32_t nte[NTE_WORDS] = {};
  nte[NTE_DATABANK] = databank;
  for (;;) {
    DKNTE1(nte);
    if (nte[NTE_STATUS] == 4) return -50;
    if (nte[NTE_STATUS] != 0) return nte[NTE_STATUS];
    const int32_t found_kind = (nte[NTE_TYPE] / 10) % 10;
    if (nte[NTE_TBL] == tbl && (kind < 0 || found_kind == kind)) {
      *page = nte[NTE_PAGE];
      *word = nte[NTE_OFFSET];
      return 0;
    }
  }
}

// The lengths of an open against the table's root entry: a root entry
// without lengths takes the caller's; others must match (-67).
int32_t SettleLengths(int32_t table, const int32_t* block) {
  int32_t* a = Bufferpool();
  int32_t record = 0;
  int32_t b = GetRootEntry(table, GET_UPDATE, kIndexDKOPT1, &record);
  if (b < 0) return b;
  int32_t* e = a + record;
  const int32_t databank = a[table + TBE_DATABANK];
  if (e[RE_KIND] % 10 == kKindSet) {
    DKPUT0(PUT_UNCHANGED, b);
    return 0;
  }
  if (e[RE_KEY_LENGTH] == 0 && e[RE_RECORD_LENGTH] == 0) {
    e[RE_KEY_LENGTH] = block[RQ_KEY_LENGTH];
    e[RE_RECORD_LENGTH] = block[RQ_RECORD_LENGTH];
    if (WriteUnitPage(databank, a[table + TBE_ROOT_PAGE], b) != 0)
      return Report(kIndexDKOPT1, -61, 3, a[table + TBE_ROOT_PAGE], databank);
    return 0;
  }
  const int32_t differs = e[RE_KEY_LENGTH] != block[RQ_KEY_LENGTH]         ? block[RQ_KEY_LENGTH]
                          : e[RE_RECORD_LENGTH] != block[RQ_RECORD_LENGTH] ? block[RQ_RECORD_LENGTH]
                                                                           : 0;
  const bool bad =
      e[RE_KEY_LENGTH] != block[RQ_KEY_LENGTH] || e[RE_RECORD_LENGTH] != block[RQ_RECORD_LENGTH];
  DKPUT0(PUT_UNCHANGED, b);
  return bad ? Report(kIndexDKOPT1, -67, 2, differs, databank) : 0;
}

// Finds the root entries of the chain's entries that have none yet and
// settles the lengths of the first.
int32_t FindRoots(int32_t first, const int32_t* block) {
  int32_t* a = Bufferpool();
  const int32_t kind = block[OPT_KIND], tbl = block[RQ_TBL];
  for (int32_t t = first, n = 0; IsEntry(t) && n < LoadWord(BP_TABLE_COUNT);
       t = a[t + TBE_NEXT], ++n) {
    const int32_t d = a[t + TBE_DATABANK];
    if (!DKIsDatabankEntry(d) || a[d + DBE_CHANNEL] == 0 || a[d + DBE_SKIP_ROOTS] != 0) continue;
    if (a[t + TBE_ROOT_PAGE] <= 0) {
      int32_t page = 0, word = 0;
      int32_t rc = FindRootEntry(d, tbl, kind, &page, &word);
      if (rc == -50) {
        const bool shadow = a[d + DBE_KIND] == DBE_KIND_SHADOW && kind != kOpenAnyKind;
        Report(kIndexDKOPT1, -50, shadow ? 3 : 2, tbl, d);
        if (shadow) continue;
        return -50;
      }
      if (rc != 0) return rc;
      int32_t rq[REQ_WORDS];
      int32_t b = GetUnitPage(d, page, GET_SHARED, rq);
      if (b < 0) return b;
      a[t + TBE_KIND] = a[b + word + RE_KIND] % 10;
      a[t + TBE_METHOD] = a[b + word + RE_METHOD];
      DKPUT0(PUT_END_SHARED, b);
      a[t + TBE_ROOT_PAGE] = page;
      a[t + TBE_ROOT_WORD] = word;
    }
    if (t == first)
      if (int32_t rc = SettleLengths(t, block)) return rc;
  }
  return 0;
}

// Gives back an open that failed after it counted itself.
void UndoOpen(int32_t first, bool existing, int32_t old_mode, int32_t mode) {
  int32_t* a = Bufferpool();
  if (!existing) {
    int32_t close[CRT_WORDS] = {};
    close[RQ_STATUS] = -22;
    close[RQ_TABLE] = first;
    close[RQ_TBL] = a[first + TBE_TBL];
    DKCLT1(close);
    return;
  }
  EnqdeqGuard lock(a + BP_LOCK_TABLE_HASH);
  if (a[first + TBE_USES] > 0 && --a[first + TBE_USES] == 0) a[first + TBE_ACCESS] = kAccessClosed;
  if (a[first + TBE_USES] > 0 && a[first + TBE_ACCESS] == std::min(old_mode, mode) &&
      mode < old_mode)
    a[first + TBE_ACCESS] = old_mode;
}

int32_t Open(int32_t* block) {
  int32_t* a = Bufferpool();
  const int32_t mode = block[RQ_STATUS], tbl = block[RQ_TBL], kind = block[OPT_KIND];
  const int32_t d = DKFindDatabank(block[RQ_DID]);
  if (d == 0) return Report(kIndexDKOPT1, -45, 2, block[RQ_DID]);
  if (tbl == 0 || mode < 1 || mode > kAccessClosed || kind < kOpenAnonymous)
    return Report(kIndexDKOPT1, -43, 2, tbl == 0 ? 0 : mode);
  int32_t first = 0, old_mode = kAccessClosed;
  bool existing = false;
  {
    EnqdeqGuard lock(a + BP_LOCK_TABLE_HASH);
    if (kind != kOpenAnonymous) {
      int32_t found = DKHMI0(LoadWord(BP_TABLE_HASH), tbl);
      if (IsEntry(found) && a[found + TBE_TBL] == tbl) {
        old_mode = a[found + TBE_ACCESS];
        if (mode + old_mode <= kAccessClosed) return kStatusModeConflict;
        a[found + TBE_ACCESS] = std::min(old_mode, mode);
        ++a[found + TBE_USES];
        first = found, existing = true;
      }
    }
    if (first == 0) {
      int32_t make[CRT_WORDS] = {};
      make[RQ_TBL] = kind == kOpenAnonymous ? -1 : tbl;
      first = DKMakeTableEntries(make, d, 0);
      if (first == 0) return Report(kIndexDKOPT1, -14, 2, LoadWord(BP_TABLE_COUNT));
      a[first + TBE_ACCESS] = mode;
    }
  }
  block[RQ_TABLE] = first;
  int32_t rc = FindRoots(first, block);
  if (rc != 0) UndoOpen(first, existing, old_mode, mode);
  return rc;
}

}  // namespace

void DKOPT1(int32_t* block) {
  block[RQ_STATUS] = Open(block);
}

int32_t DKFindRootEntry(int32_t did, int32_t tbl, int32_t kind) {
  const int32_t d = DKFindDatabank(did);
  if (d == 0) return -45;
  int32_t page = 0, word = 0;
  return FindRootEntry(d, tbl, kind, &page, &word);
}

namespace {

// The number of records on the first data page of a compressed table,
// reached through the first entry of every index level. Each page is held
// until the next one is, from the root entry's page (held on entry, given
// back here): a writer may change the tree's shape meanwhile.
int32_t FirstLeafCount(int32_t databank, const int32_t* e, int32_t held) {
  int32_t tab[TAB_WORDS] = {};
  tab[TAB_DATABANK] = databank;
  tab[TAB_KEY_LENGTH] = e[RE_KEY_LENGTH];
  tab[TAB_LEVELS] = e[RE_LEVELS];
  tab[TAB_INNER_SIZE] = e[RE_INDEX_PAGE_SIZE];
  tab[TAB_LEAF_SIZE] = e[RE_DATA_PAGE_SIZE];
  int32_t page = e[RE_TOP];
  for (int32_t level = 1; level < e[RE_LEVELS]; ++level) {
    tab[TAB_LEVEL] = level;
    int32_t b = GetTreePage(tab, page, GET_SHARED, LevelEntryLength(tab, level), nullptr, &held,
                            1, kIndexDKGTS1);
    ReleaseShared(held);
    if (b < 0) return b;
    held = b;
    const uint8_t* p = PageBytes(b);
    const bool empty = UsedEnd(p) <= kPageHeaderBytes;
    page = empty ? 0 : LoadChild(p + kPageHeaderBytes + e[RE_KEY_LENGTH]);
    if (empty) {
      ReleaseShared(held);
      return Report(kIndexDKGTS1, -63, 3, page, databank);
    }
  }
  const int32_t size = e[RE_DATA_PAGE_SIZE];
  if (!TreePageNumber(page, size)) {
    ReleaseShared(held);
    return Report(kIndexDKGTS1, -65, 3, page, databank);
  }
  int32_t rq[REQ_WORDS] = {databank, page, size, 0, -1, 0};
  int32_t b = DKGET0(rq, GET_SHARED);
  ReleaseShared(held);
  if (b < 0) return b;
  const int32_t count = PageWord(PageBytes(b), size / 4 - 1);
  ReleaseShared(b);
  if (count < 0 || count > (size - kPageHeaderBytes) / 4)
    return Report(kIndexDKGTS1, -65, 3, page, databank);
  return count;
}

int32_t Describe(int32_t* block) {
  int32_t* a = Bufferpool();
  int32_t e[kRootEntryWords];
  int32_t databank = 0;
  // The page of the root entry stays held until the top page is: a writer
  // may give the tree a new top page or take one away meanwhile, and the
  // old top read then would be a page of another level, taken for a
  // corrupt index page.
  int32_t held = 0;
  if (block[RQ_TABLE] == 0) {
    databank = DKFindDatabank(block[RQ_DID]);
    if (databank == 0) return Report(kIndexDKGTS1, -45, 2, block[RQ_DID]);
    int32_t page = 0, word = 0;
    int32_t rc = FindRootEntry(databank, block[RQ_TBL], block[RQ_TYPE], &page, &word);
    if (rc == -50) return Report(kIndexDKGTS1, -50, 2, block[RQ_TBL], databank);
    if (rc != 0) return rc;
    int32_t rq[REQ_WORDS];
    held = GetUnitPage(databank, page, GET_SHARED, rq);
    if (held < 0) return held;
    std::memcpy(e, a + held + word - 1, sizeof e);
  } else {
    int32_t table = block[RQ_TABLE];
    if (int32_t rc = CheckTableEntry(table, block[RQ_TBL], kIndexDKGTS1)) return rc;
    table = DKChooseTableCopy(table);
    for (int step = 0; step < 2; ++step) {
      int32_t record = 0;
      if (held > 0) ReleaseShared(held);
      held = GetRootEntry(table, GET_SHARED, kIndexDKGTS1, &record);
      if (held < 0) return held;
      std::memcpy(e, a + record - 1, sizeof e);
      databank = a[table + TBE_DATABANK];
      const int32_t second = a[table + TBE_SECOND];
      // An empty table is described by a second table it owns, never by
      // its transaction cache, whose key and records carry the suffix.
      if (e[1 + RE_LEVELS] != 0 || !IsEntry(second) || DKIsCacheTable(second) || step == 1) break;
      table = second;
    }
  }
  const int32_t* r = e + 1;
  const bool compressed = r[RE_METHOD] != 0;
  block[RQ_TYPE] = r[RE_TYPE] + (r[RE_KIND] % 10 + (compressed ? 10 : 0)) * 10;
  block[RQ_KEY_LENGTH] = r[RE_KEY_LENGTH];
  block[RQ_RECORD_LENGTH] = r[RE_RECORD_LENGTH];
  block[RQ_INDEX_PAGE_SIZE] = r[RE_INDEX_PAGE_SIZE];
  block[RQ_DATA_PAGE_SIZE] = r[RE_DATA_PAGE_SIZE];
  block[GTS_METHOD] = r[RE_METHOD];
  block[GTS_LEVELS] = r[RE_LEVELS];
  block[GTS_TOP_ENTRIES] = 0;
  if (r[RE_LEVELS] == 0 || r[RE_KIND] % 10 == kKindSet) {
    ReleaseShared(held);
    return 0;
  }
  if (!RootEntrySound(r)) {
    ReleaseShared(held);
    return Report(kIndexDKGTS1, -64, 3, block[RQ_TBL], databank);
  }
  if (compressed) {
    int32_t count = FirstLeafCount(databank, r, held);
    if (count >= 0) block[GTS_TOP_ENTRIES] = count;
    return count;
  }
  int32_t tab[TAB_WORDS] = {};
  tab[TAB_DATABANK] = databank;
  tab[TAB_KEY_LENGTH] = r[RE_KEY_LENGTH];
  tab[TAB_LEVELS] = r[RE_LEVELS];
  tab[TAB_INNER_SIZE] = r[RE_INDEX_PAGE_SIZE];
  tab[TAB_LEAF_SIZE] = r[RE_DATA_PAGE_SIZE];
  tab[TAB_RECORD_LENGTH] = r[RE_RECORD_LENGTH];
  tab[TAB_LEVEL] = 1;
  int32_t b = GetTreePage(tab, r[RE_TOP], GET_SHARED, LevelEntryLength(tab, 1), nullptr, &held, 1,
                          kIndexDKGTS1);
  ReleaseShared(held);
  if (b < 0) return b;
  const uint8_t* p = PageBytes(b);
  block[GTS_TOP_ENTRIES] = (UsedEnd(p) - kPageHeaderBytes) / EntryLength(p);
  ReleaseShared(b);
  return 0;
}

int32_t ChangeKindAndType(int32_t* block) {
  int32_t* a = Bufferpool();
  const int32_t code = block[RQ_TYPE], type = code % 10, kind = (code / 10) % 10;
  if (code < 0 || (type != 1 && type != 3 && type != 4) ||
      (kind != 1 && kind != 2 && kind != kKindSet && kind != kKindLobRefs))
    return Report(kIndexDKMOT1, -43, 2, code);
  const int32_t table = block[RQ_TABLE];
  if (int32_t rc = CheckTableEntry(table, block[RQ_TBL], kIndexDKMOT1)) return rc;
  for (int w : {RQ_INDEX_PAGE_SIZE, RQ_DATA_PAGE_SIZE})
    if (block[w] != 0 && FindPool(block[w]) == 0) return Report(kIndexDKMOT1, -76, 2, block[w]);
  int32_t record = 0;
  int32_t b = GetRootEntry(table, GET_UPDATE, kIndexDKMOT1, &record);
  if (b < 0) return b;
  int32_t* e = a + record;
  e[RE_KIND] = kind;
  e[RE_TYPE] = type;
  const bool empty = kind == kKindSet ? e[RE_RECORD_LENGTH] == 0 : e[RE_LEVELS] == 0;
  if (empty) {
    if (block[RQ_DATA_PAGE_SIZE] != 0) e[RE_DATA_PAGE_SIZE] = block[RQ_DATA_PAGE_SIZE];
    if (block[RQ_INDEX_PAGE_SIZE] != 0) e[RE_INDEX_PAGE_SIZE] = block[RQ_INDEX_PAGE_SIZE];
  }
  const int32_t databank = a[table + TBE_DATABANK], page = a[table + TBE_ROOT_PAGE];
  if (WriteUnitPage(databank, page, b) != 0) return Report(kIndexDKMOT1, -61, 3, page, databank);
  return 0;
}

int32_t StoredLength(int32_t* block) {
  const int32_t table = block[RQ_TABLE];
  if (int32_t rc = CheckTableEntry(table, block[RQ_TBL], kIndexDKPFU1)) return rc;
  const int32_t method = Bufferpool()[table + TBE_METHOD], length = block[RQ_RECORD_LENGTH];
  if (method == 0) {
    block[PFU_STORED_LENGTH] = length;
    return 0;
  }
  if (length < 0 || length > kMaxCompressedRecord) {
    if (block[RQ_STATUS] == -1) return 0;
    return Report(kIndexDKPFU1, -67, 2, length);
  }
  if (method != kCompressRunLength && method != kCompressBackReference)
    return Report(kIndexDKPFU1, -55, 7, method);
  std::vector<uint8_t> work(static_cast<size_t>(CompressedSizeBound(length)) + 1);
  const auto* record = reinterpret_cast<const uint8_t*>(block + RQ_RECORD);
  int32_t stored = 0;
  int32_t rc = DKCompress(ByteSpan(work), 0, &stored,
                          ConstByteSpan(record, static_cast<size_t>(length)), 0, length, method);
  if (rc < 0) return Report(kIndexDKPFU1, rc, 2, length);
  block[PFU_STORED_LENGTH] = stored;
  return 0;
}

}  // namespace

void DKGTS1(int32_t* block) {
  block[RQ_STATUS] = Describe(block);
}

void DKMOT1(int32_t* block) {
  block[RQ_STATUS] = ChangeKindAndType(block);
}

void DKPFU1(int32_t* block) {
  block[RQ_STATUS] = StoredLength(block);
}
