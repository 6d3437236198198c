// The check an open runs by the close mark of a databank's header, and the
// databank check itself (DKVED0): the root pages and their table root
// entries are checked, every page that a structure of the databank owns is
// found (the trees of tables, the list and data pages of sets, the runs that
// the records of tables of kind 6 name, root and restore directory pages),
// and the bitmap pages are rebuilt to exactly those units: a unit nothing
// owns is free again, a unit two structures own is recorded.
#include "dk/databank_verification.h"

#include <algorithm>
#include <vector>

#include "dk/background_threads.h"
#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/error_log.h"
#include "dk/page_entries.h"
#include "dk/page_tree.h"
#include "dk/set_pages.h"
#include "dk/set_table.h"
#include "dk/table_entries.h"
#include "dk/transactions.h"
#include "dk/verification_pages.h"

namespace {

const int32_t kIndexDKVED0 = dkset::RoutineIndex("DKVED0");
constexpr int32_t kMaxRootPages = 1 << 21;

struct Check {
  int32_t databank = 0;
  int32_t option = 0;
  int32_t last_unit = 0;  // of the file, from the last bitmap page
  std::vector<bool> reached;
  std::vector<int32_t> twice;  // units reached more than once
};

int32_t Corrupt(const Check& c, int32_t rc, int32_t page) {
  ReportPageError(kIndexDKVED0, rc, DK_SEV_DISABLE, page, c.databank);
  return rc;
}

// Records the units of a page as reached: 0, 1 when one of them was reached
// before (the page has two owners: recorded, and not walked again), or -42
// for a page that no structure may own (outside the file, misaligned, on a
// bitmap unit).
int32_t Reach(Check* c, int32_t page, int32_t page_size) {
  int32_t units = page_size / kUnitBytes;
  bool unit_page = units == 1 && page == kHeaderUnit;
  if (!unit_page && !TreePageNumber(page, page_size)) return Corrupt(*c, -42, page);
  if (page > c->last_unit - units + 1) return Corrupt(*c, -42, page);
  bool before = false;
  for (int32_t u = page; u < page + units; ++u) {
    if (c->reached[u]) {
      c->twice.push_back(u);
      before = true;
    }
    c->reached[u] = true;
  }
  return before ? 1 : 0;
}

// The file's last unit, from word 3 of the last bitmap page; the bitmap
// pages themselves are reached.
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
    if (next < std::max(unit, kHeaderUnit) || next >= unit + kBitmapChunkUnits)
      return Corrupt(*c, kCorruptBitmap, unit);
    c->last_unit = next;
    c->reached.assign(static_cast<size_t>(next) + 1, false);
    for (int32_t b = 0; b <= next; b += kBitmapChunkUnits) c->reached[b] = true;
    return 0;
  }
  return Corrupt(*c, kCorruptBitmap, 0);
}

// The pages of the runs that a leaf of a table of kind 6 names.
int32_t ReachRuns(Check* c, const std::vector<PageRun>& runs) {
  for (const PageRun& r : runs) {
    int32_t units = r.page_size / kUnitBytes;
    if (FindPool(r.page_size) == 0 || r.pages < 0 || r.pages > c->last_unit / units)
      return Corrupt(*c, -42, r.page);
    for (int32_t k = 0; k < r.pages; ++k)
      if (int32_t rc = Reach(c, r.page + k * units, r.page_size); rc < 0) return rc;
  }
  return 0;
}

// Walks a table's tree in key order: every page is reached; index pages
// must be sound (and with options 1 and 2 ordered inside their parent's
// bounds); leaves are read with option 2 and for tables of kind 6, whose
// records own the runs of large objects.
int32_t WalkTree(Check* c, const TreeShape& s) {
  if (s.levels == 0) return 0;
  if (s.levels > kMaxLevels) return Corrupt(*c, -42, s.top);
  const bool ordered = c->option != 0;
  const bool read_leaves = c->option == 2 || s.kind == kKindLobRefs;
  struct Node {
    int32_t page, level;
    KeyBounds bounds;
  };
  std::vector<Node> stack;
  stack.push_back({s.top, 1, {}});
  while (!stack.empty()) {
    Node n = std::move(stack.back());
    stack.pop_back();
    const bool leaf = n.level >= s.levels;
    const int32_t size = leaf ? s.leaf_size : s.inner_size;
    int32_t reached = Reach(c, n.page, size);
    if (reached < 0) return reached;
    if (reached > 0 || (leaf && !read_leaves)) continue;
    int32_t rq[REQ_WORDS] = {c->databank, n.page, size, 0, -1, 0};
    int32_t b = DKGET0(rq, GET_SHARED);
    if (b < 0) return b;
    const uint8_t* p = PageBytes(b);
    std::vector<int32_t> children;
    std::vector<std::vector<uint8_t>> keys;
    std::vector<PageRun> runs;
    bool sound = !DKPageTorn(b) && (leaf ? CheckLeafPage(s, p, ordered, n.bounds, &runs)
                                         : CheckIndexPage(s, p, ordered, n.bounds, &children, &keys));
    DKPUT0(PUT_END_SHARED, b);
    if (!sound) return Corrupt(*c, -42, n.page);
    if (int32_t rc = ReachRuns(c, runs)) return rc;
    // Pushed from the last child, so that the walk runs in key order.
    for (size_t i = children.size(); i-- > 0;) {
      KeyBounds bounds;
      bounds.lower = i > 0 ? keys[i - 1] : n.bounds.lower;
      bounds.upper = keys[i];
      stack.push_back({children[i], n.level + 1, std::move(bounds)});
    }
  }
  return 0;
}

// A set: its list pages from the first, as word 4 links them, and the data
// pages they list. Every page a reader can reach is owned, so the walk
// follows the chain to its end; the last list page the root entry names
// (where appends go) must be on it.
int32_t WalkSet(Check* c, const int32_t* e) {
  const int32_t first = e[SETROOT_FIRST_LIST], last = e[SETROOT_LAST_LIST];
  const int32_t data_size = e[SETROOT_DATA_SIZE], list_size = e[SETROOT_LIST_SIZE];
  if ((first == 0) != (last == 0)) return Corrupt(*c, -42, e[RE_TBL]);
  bool met_last = last == 0;
  for (int32_t page = first, n = 0; page != 0; ++n) {
    if (n >= dkset::kMaxChain) return Corrupt(*c, -42, page);
    int32_t reached = Reach(c, page, list_size);
    if (reached != 0) return reached < 0 ? reached : Corrupt(*c, -42, page);
    int32_t rq[REQ_WORDS] = {c->databank, page, list_size, 0, -1, 0};
    int32_t b = DKGET0(rq, GET_SHARED);
    if (b < 0) return b;
    const uint8_t* p = PageBytes(b);
    const int32_t end = PageWord(p, SETLIST_LAST);
    bool sound = PageWord(p, SETLIST_MARK) == kSetListMark &&
                 PageWord(p, SETLIST_DATA_SIZE) == data_size && end >= SETLIST_FIRST - 1 &&
                 end < list_size / 4;
    std::vector<int32_t> data;
    for (int32_t w = SETLIST_FIRST; sound && w <= end; ++w)
      if (int32_t d = PageWord(p, w); d != 0) data.push_back(d);
    int32_t next = PageWord(p, SETLIST_NEXT);
    DKPUT0(PUT_END_SHARED, b);
    if (!sound) return Corrupt(*c, -42, page);
    for (int32_t d : data)
      if (int32_t rc = Reach(c, d, data_size); rc < 0) return rc;
    met_last = met_last || page == last;
    page = next;
  }
  return met_last ? 0 : Corrupt(*c, -42, last);
}

// One table root entry: its kind and page sizes, then its pages.
int32_t CheckRootEntry(Check* c, const int32_t* e) {
  int32_t kind = e[RE_KIND] % 10;
  if (kind != 1 && kind != 2 && kind != kKindSet && kind != kKindLobRefs)
    return Corrupt(*c, -42, e[RE_TBL]);
  for (int32_t size : {e[RE_DATA_PAGE_SIZE], e[RE_INDEX_PAGE_SIZE]})
    if (FindPool(size) == 0) return Corrupt(*c, -76, size);
  if (kind == kKindSet) return WalkSet(c, e);
  TreeShape s;
  if (!TreeShapeOf(e, &s)) return Corrupt(*c, -42, e[RE_TBL]);
  return WalkTree(c, s);
}

// The restore directory: a chain of 2048-byte pages from header word 4.
int32_t WalkRestoreDirectory(Check* c, int32_t dir) {
  for (int32_t d = 0; dir != 0; ++d) {
    if (d >= kMaxRootPages) return Corrupt(*c, -42, dir);
    int32_t reached = Reach(c, dir, kUnitBytes);
    if (reached != 0) return std::min(reached, 0);
    int32_t drq[REQ_WORDS];
    int32_t db = GetUnitPage(c->databank, dir, GET_SHARED, drq);
    if (db < 0) return db;
    dir = PageWord(PageBytes(db), RDIR_NEXT);
    DKPUT0(PUT_END_SHARED, db);
  }
  return 0;
}

// Anonymous tables (TBL below 0: work tables, the restart directory,
// transaction caches) belong to one run of the server and go at its close.
// Found after a crash, nobody can name them again, and their pages were
// written in no order (the tree on disk may name pages never written), so
// their root entries are cleared rather than checked and their pages are
// free again with the rebuilt bitmap. `words` is the root page's copy.
int32_t ClearAnonymousTables(Check* c, int32_t page, std::vector<int32_t>* words) {
  std::vector<int32_t> anonymous;
  for (int32_t k = 0; k < kRootEntries; ++k)
    if ((*words)[static_cast<size_t>(kFirstRootWord - k * kRootEntryWords + 1 + RE_TBL)] < 0)
      anonymous.push_back(kFirstRootWord - k * kRootEntryWords);
  if (anonymous.empty()) return 0;
  int32_t rq[REQ_WORDS];
  int32_t b = GetUnitPage(c->databank, page, GET_UPDATE, rq);
  if (b < 0) return b;
  for (int32_t first : anonymous) {
    for (int32_t w = first; w < first + kRootEntryWords; ++w) {
      SetPageWord(PageBytes(b), w, 0);
      (*words)[static_cast<size_t>(w)] = 0;
    }
  }
  DKPUT0(PUT_CHANGED, b);
  return 0;
}

// The chain of root pages from the header, and the restore directory.
int32_t WalkRootPages(Check* c) {
  int32_t page = kHeaderUnit;
  for (int32_t n = 0; page != 0 && n < kMaxRootPages; ++n) {
    int32_t reached = Reach(c, page, kUnitBytes);
    if (reached < 0) return reached;
    if (reached > 0) return Corrupt(*c, -64, page);  // the chain runs in a circle
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
    if (int32_t rc = ClearAnonymousTables(c, page, &words)) return rc;
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
      if (int32_t rc = WalkRestoreDirectory(c, words[HDR_RESTORE_DIRECTORY])) return rc;
    }
    page = next;
  }
  return page == 0 ? 0 : Corrupt(*c, -64, page);
}

// Each bitmap page rebuilt from the units reached: its own bit and theirs
// set, every other bit clear, the free count and hint to match. Released as
// changed when anything moved; the close (or a later flush) writes it.
int32_t Rebuild(Check* c) {
  for (int32_t chunk = 0; chunk <= c->last_unit; chunk += kBitmapChunkUnits) {
    int32_t rq[REQ_WORDS];
    int32_t b = GetUnitPage(c->databank, chunk, GET_UPDATE, rq);
    if (b < 0) return b;
    uint8_t* p = PageBytes(b);
    bool changed = PageWord(p, BMP_HINT) != 0;
    int32_t used = 0;
    int32_t end = std::min(c->last_unit, chunk + kBitmapChunkUnits - 1);
    for (int32_t bit = 0; bit < kBitmapChunkUnits; ++bit) {
      bool want = chunk + bit <= end && c->reached[chunk + bit];
      uint8_t& byte = p[kPageHeaderBytes + bit / 8];
      uint8_t mask = static_cast<uint8_t>(0x80 >> (bit % 8));
      if (((byte & mask) != 0) != want) {
        byte = static_cast<uint8_t>(want ? byte | mask : byte & ~mask);
        changed = true;
      }
      used += want ? 1 : 0;
    }
    changed = changed || PageWord(p, BMP_FREE) != kBitmapChunkUnits - used;
    SetPageWord(p, BMP_FREE, kBitmapChunkUnits - used);
    SetPageWord(p, BMP_HINT, 0);
    DKPUT0(changed ? PUT_CHANGED : PUT_UNCHANGED, b);
  }
  // Allocation starts again from the first chunk.
  StoreWord(c->databank + DBE_ALLOC_HINT, 0);
  return 0;
}

// Units owned twice stay in use and are recorded with the databank.
int32_t RecordTwice(Check* c) {
  std::sort(c->twice.begin(), c->twice.end());
  c->twice.erase(std::unique(c->twice.begin(), c->twice.end()), c->twice.end());
  DKForgetUnitsReachedTwice(c->databank);
  if (c->twice.empty()) return 0;
  int32_t rc = DKRecordUnitsReachedTwice(c->databank, c->twice);
  if (rc != 0) ReportPageError(kIndexDKVED0, rc, DK_SEV_ERROR, c->twice.front(), c->databank);
  return rc;
}

int32_t BackgroundCheck(int32_t databank) {
  int32_t request[VED_WORDS] = {0, databank};
  return DKVDB0(request);
}

// The check of data pages is left to a background thread (state 16).
void ScheduleBackgroundCheck(int32_t databank) {
  DKInstallBackgroundCheck(BackgroundCheck);
  Bufferpool()[databank + DBE_STATE] = CHK_WAIT_BACKGROUND;
  DKBTW0(25);
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
  if (rc == 0) rc = Rebuild(&c);
  if (rc == 0) rc = RecordTwice(&c);
  // A check that failed is not complete, and not one a background thread
  // may finish either: back in its first state, the close writes no mark,
  // so the next open checks the databank again from the start.
  if (rc != 0)
    a[databank + DBE_STATE] = CHK_INIT;
  else if (option == 1)
    ScheduleBackgroundCheck(databank);
  else
    a[databank + DBE_STATE] = CHK_COMPLETE;
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
    ScheduleBackgroundCheck(databank);
    return 0;
  }
  int32_t option = close_mark == -1 ? 0 : LoadWord(BP_CHECK_OPTION);
  // The start takes only 0 and 1; any other value found there checks every
  // page rather than leave a crashed databank unopenable (-86).
  if (option < 0 || option > 2) option = 1;
  if (type == DBT_WORK)
    option = -1;
  else
    PoolWord(BP_STAT_174).fetch_add(1);  // databanks verified
  int32_t request[VED_WORDS] = {option, databank};
  int32_t rc = DKVED0(request);
  if (rc == -42) PoolWord(BP_STAT_175).fetch_add(1);  // found corrupt
  return rc;
}
