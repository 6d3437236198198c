// The check an open runs by the close mark of a databank's header, and the
// databank check itself (DKVED0): the root pages and their table root
// entries are checked, the pages the databank reaches are collected, and
// every one of them is marked in use in the bitmap pages.
#include "dk/databank_verification.h"

#include <algorithm>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/error_log.h"
#include "dk/page_entries.h"
#include "dk/page_tree.h"
#include "dk/set_pages.h"
#include "dk/table_entries.h"
#include "dk/transactions.h"

namespace {

const int32_t kIndexDKVED0 = dkset::RoutineIndex("DKVED0");
constexpr int32_t kMaxLevels = 19;
constexpr int32_t kMaxRootPages = 1 << 21;

struct Check {
  int32_t databank = 0;
  int32_t option = 0;
  int32_t last_unit = 0;  // of the file, from the last bitmap page
  std::vector<bool> reached;
  int64_t twice = 0;  // units reached more than once
};

int32_t Corrupt(const Check& c, int32_t rc, int32_t page) {
  ReportPageError(kIndexDKVED0, rc, DK_SEV_DISABLE, page, c.databank);
  return rc;
}

// Records the units of a page as reached; a page outside the file is -42.
int32_t Reach(Check* c, int32_t page, int32_t page_size) {
  int32_t units = page_size / kUnitBytes;
  if (page < 0 || units < 1 || page > c->last_unit - units + 1) return Corrupt(*c, -42, page);
  for (int32_t u = page; u < page + units; ++u) {
    if (c->reached[u]) ++c->twice;
    c->reached[u] = true;
  }
  return 0;
}

// The file's last unit, from word 3 of the last bitmap page.
int32_t FindLastUnit(Check* c) {
  for (int32_t unit = 0, n = 0; n < kMaxRootPages; ++n) {
    int32_t rq[REQ_WORDS];
    int32_t buffer = GetUnitPage(c->databank, unit, GET_SHARED, rq);
    if (buffer < 0) return buffer;
    int32_t next = PageWord(PageBytes(buffer), BMP_NEXT);
    DKPUT0(PUT_END_SHARED, buffer);
    if (next == unit + kBitmapChunkUnits) {
      unit = next;
      continue;
    }
    if (next < unit || next >= unit + kBitmapChunkUnits) return Corrupt(*c, kCorruptBitmap, unit);
    c->last_unit = next;
    c->reached.assign(static_cast<size_t>(next) + 1, false);
    for (int32_t b = 0; b <= next; b += kBitmapChunkUnits) c->reached[b] = true;
    return 0;
  }
  return Corrupt(*c, kCorruptBitmap, 0);
}

// Walks a table's tree: every inner page must be a sound page of index
// entries, and every page of the tree is reached.
int32_t WalkTree(Check* c, const int32_t* e) {
  int32_t top = e[RE_TOP], levels = e[RE_LEVELS], key = e[RE_KEY_LENGTH];
  int32_t inner = e[RE_INDEX_PAGE_SIZE], leaf = e[RE_DATA_PAGE_SIZE];
  if (top == 0) return 0;
  if (levels < 1 || levels > kMaxLevels || key < 0) return Corrupt(*c, -42, top);
  std::vector<std::pair<int32_t, int32_t>> stack = {{top, 1}};  // page, level
  while (!stack.empty()) {
    auto [page, level] = stack.back();
    stack.pop_back();
    int32_t size = level >= levels ? leaf : inner;
    if (!TreePageNumber(page, size)) return Corrupt(*c, -42, page);
    if (int32_t rc = Reach(c, page, size)) return rc;
    if (level >= levels) continue;
    int32_t rq[REQ_WORDS] = {c->databank, page, size, 0, -1, 0};
    int32_t b = DKGET0(rq, GET_SHARED);
    if (b < 0) return b;
    const uint8_t* p = PageBytes(b);
    bool sound = FixedPageSound(p, size, key + kChildBytes, key);
    if (sound)
      for (int32_t o = kPageHeaderBytes; o < UsedEnd(p); o += key + kChildBytes)
        stack.push_back({LoadChild(p + o + key), level + 1});
    DKPUT0(PUT_END_SHARED, b);
    if (!sound) return Corrupt(*c, -42, page);
  }
  return 0;
}

// One table root entry: its kind and page sizes, then its pages.
int32_t CheckRootEntry(Check* c, const int32_t* e) {
  int32_t kind = e[RE_KIND] % 10;
  if (kind != 1 && kind != 2 && kind != kKindSet && kind != kKindLobRefs)
    return Corrupt(*c, -42, e[RE_TBL]);
  for (int32_t size : {e[RE_DATA_PAGE_SIZE], e[RE_INDEX_PAGE_SIZE]})
    if (FindPool(size) == 0) return Corrupt(*c, -76, size);
  // A set's pages hang from its list pages, which this check does not walk.
  if (kind == kKindSet) return 0;
  return WalkTree(c, e);
}

// The chain of root pages from the header, and the restore directory.
int32_t WalkRootPages(Check* c) {
  int32_t page = kHeaderUnit;
  for (int32_t n = 0; page != 0 && n < kMaxRootPages; ++n) {
    if (int32_t rc = Reach(c, page, kUnitBytes)) return rc;
    int32_t rq[REQ_WORDS];
    int32_t b = GetUnitPage(c->databank, page, GET_SHARED, rq);
    if (b < 0) return b;
    const uint8_t* p = PageBytes(b);
    if (PageWord(p, HDR_KIND) != ROOT_PAGE_KIND) {
      DKPUT0(PUT_END_SHARED, b);
      return Corrupt(*c, -64, page);
    }
    std::vector<int32_t> words(kUnitBytes / 4);
    for (int32_t w = 0; w < kUnitBytes / 4; ++w) words[w] = PageWord(p, w);
    DKPUT0(PUT_END_SHARED, b);
    for (int32_t k = 0; k < kRootEntries; ++k) {
      const int32_t* e = words.data() + kFirstRootWord - k * kRootEntryWords + 1;
      if (e[RE_TBL] == 0) continue;
      if (int32_t rc = CheckRootEntry(c, e)) return rc;
    }
    int32_t next = words[HDR_NEXT_ROOT];
    // The TRANS databank keeps no restore directory: its word 4 starts the
    // chain of the root pages that hold its tables.
    if (page == kHeaderUnit && Bufferpool()[c->databank + DBE_DID] == 2) {
      next = words[HDR_RESTORE_DIRECTORY];
    } else if (page == kHeaderUnit) {
      int32_t dir = words[HDR_RESTORE_DIRECTORY];
      for (int32_t d = 0; dir != 0 && d < kMaxRootPages; ++d) {
        if (int32_t rc = Reach(c, dir, kUnitBytes)) return rc;
        int32_t drq[REQ_WORDS];
        int32_t db = GetUnitPage(c->databank, dir, GET_SHARED, drq);
        if (db < 0) return db;
        dir = PageWord(PageBytes(db), RDIR_NEXT);
        DKPUT0(PUT_END_SHARED, db);
      }
    }
    page = next;
  }
  return page == 0 ? 0 : Corrupt(*c, -64, page);
}

// Every reached unit is marked in use in its bitmap page. Units the walk
// does not reach keep the state the file gives them: the pages of sets and
// large objects are not walked, and clearing their bits would hand them out
// twice.
int32_t MarkReached(Check* c) {
  for (int32_t chunk = 0; chunk <= c->last_unit; chunk += kBitmapChunkUnits) {
    int32_t rq[REQ_WORDS];
    int32_t b = GetUnitPage(c->databank, chunk, GET_UPDATE, rq);
    if (b < 0) return b;
    uint8_t* p = PageBytes(b);
    bool changed = false;
    int32_t end = std::min(c->last_unit, chunk + kBitmapChunkUnits - 1);
    for (int32_t u = chunk; u <= end; ++u) {
      if (!c->reached[u] || BitmapBit(p, u - chunk)) continue;
      if (BitmapMark(p, u - chunk, 1) != 0) {
        DKPUT0(PUT_UNCHANGED, b);
        return Corrupt(*c, -42, chunk);
      }
      changed = true;
    }
    DKPUT0(changed ? PUT_CHANGED : PUT_UNCHANGED, b);
  }
  return 0;
}

}  // namespace

int32_t DKVED0(int32_t* request) {
  int32_t* a = Bufferpool();
  int32_t option = request[VED_OPTION], databank = request[VED_DATABANK];
  auto finish = [&](int32_t rc) {
    request[VED_OPTION] = rc;
    return rc;
  };
  if (option < -1 || option > 2) {
    ReportPageError(kIndexDKVED0, -86, DK_SEV_ERROR, option, 0);
    return finish(-86);
  }
  if (!DKIsDatabankEntry(databank) || a[databank + DBE_DID] == 0) {
    ReportPageError(kIndexDKVED0, -45, DK_SEV_ERROR, databank, 0);
    return finish(-45);
  }
  if (option != -1) {
    int32_t context[5] = {databank, 0, 0, 0, -1};
    DKLogError(kIndexDKVED0, -71, DK_SEV_INFO, nullptr, context);
  }
  if (option == -1) option = 0;
  a[databank + DBE_STATE] = CHK_WORKING;
  Check c;
  c.databank = databank;
  c.option = option;
  int32_t rc = FindLastUnit(&c);
  if (rc == 0) rc = WalkRootPages(&c);
  if (rc == 0) rc = MarkReached(&c);
  // A check that failed is not complete, and not one a background thread
  // may finish either: back in its first state, the close writes no mark,
  // so the next open checks the databank again from the start.
  if (rc != 0)
    a[databank + DBE_STATE] = CHK_INIT;
  else if (option == 1)
    a[databank + DBE_STATE] = CHK_WAIT_BACKGROUND;
  else
    a[databank + DBE_STATE] = CHK_COMPLETE;
  if (rc == 0 && option == 1) DKBTW0(25);
  return finish(rc);
}

int32_t DKOpenCheck(int32_t databank, int32_t type, int32_t close_mark) {
  int32_t* a = Bufferpool();
  if (a[databank + DBE_CORRUPT] != 0) return -42;
  if (close_mark == CLOSE_MARK_CLOSED) {
    a[databank + DBE_STATE] = CHK_COMPLETE;
    return 0;
  }
  if (close_mark == CLOSE_MARK_CHECK_PENDING) {
    a[databank + DBE_STATE] = CHK_WAIT_BACKGROUND;
    DKBTW0(25);
    return 0;
  }
  int32_t option = close_mark == -1 ? 0 : LoadWord(BP_CHECK_OPTION);
  if (type == DBT_WORK)
    option = -1;
  else
    PoolWord(BP_STAT_174).fetch_add(1);  // databanks verified
  int32_t request[VED_WORDS] = {option, databank};
  int32_t rc = DKVED0(request);
  if (rc == -42) PoolWord(BP_STAT_175).fetch_add(1);  // found corrupt
  return rc;
}
