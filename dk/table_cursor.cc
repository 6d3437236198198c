// Cursors over a table's tree. A cursor is nothing but its block: the page,
// the record's position on it and the page's change stamp. As long as the
// page is unchanged a fetch reads that page alone; otherwise it descends
// again from the top page with the key of the record delivered last, so a
// cursor survives inserts and splits.
#include "dk/table_cursor.h"

#include <cstring>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/compression.h"
#include "dk/control_area.h"
#include "dk/error_log.h"
#include "dk/page_entries.h"
#include "dk/page_tree.h"
#include "dk/table_entries.h"

namespace {

constexpr int32_t kIndexDKFEP1 = 26, kIndexDKFET1 = 27, kIndexDKFMS1 = 30;
constexpr int32_t kIndexDKFET0 = -46;
// A descent moves on to the next (previous) leaf by starting again with a
// greater (smaller) key; more restarts than this means the keys do not move.
constexpr int kMaxRestarts = 1 << 16;
// The longest plain record of any table (with compression, 16376 bytes).
constexpr int32_t kMaxPlainRecord = 16376;
// A sorted chain longer than this is a loop.
constexpr int64_t kMaxChainSteps = int64_t{1} << 22;

int32_t Report(int32_t routine, int32_t rc, int32_t value, int32_t databank) {
  ReportPageError(routine, rc, rc == -43 || rc == -67 || rc == -55 ? 2 : 3, value, databank);
  return rc;
}

uint8_t* RecordArea(int32_t* block, int word) {
  return reinterpret_cast<uint8_t*>(block + word);
}

int32_t Stamp(int32_t buffer) {
  return LoadWord(BufferBcb(buffer) + BCB_VERSION);
}

bool AllHigh(const uint8_t* key, int32_t length) {
  for (int32_t i = 0; i < length; ++i)
    if (key[i] != 0xFF) return false;
  return true;
}

// Fills the walk block of a read from the table's root entry and checks the
// caller's lengths against it. Returns 0, kStatusEnd for an empty table, or
// a negative code.
int32_t OpenRead(const int32_t* block, int32_t table, int32_t routine, int32_t* tab) {
  int32_t* a = Bufferpool();
  std::memset(tab, 0, sizeof(int32_t) * TAB_WORDS);
  int32_t record = 0;
  int32_t root = GetRootEntry(table, GET_SHARED, routine, &record);
  if (root < 0) return root;
  int32_t e[kRootEntryWords];
  std::memcpy(e, a + record - 1, sizeof e);
  ReleaseShared(root);
  const int32_t* r = e + 1;
  const int32_t databank = a[table + TBE_DATABANK];
  if (!RootEntrySound(r) || (r[RE_LEVELS] == 0) != (r[RE_TOP] == 0))
    return Report(routine, -64, a[table + TBE_ROOT_PAGE], databank);
  if (block[CUR_KEY_LENGTH] != r[RE_KEY_LENGTH] || block[CUR_RECORD_LENGTH] != r[RE_RECORD_LENGTH])
    return Report(routine, -67, block[CUR_RECORD_LENGTH], databank);
  tab[TAB_DATABANK] = databank;
  tab[TAB_PAGE] = r[RE_TOP];
  tab[TAB_KEY_LENGTH] = r[RE_KEY_LENGTH];
  tab[TAB_LEVELS] = r[RE_LEVELS];
  tab[TAB_INNER_SIZE] = r[RE_INDEX_PAGE_SIZE];
  tab[TAB_LEAF_SIZE] = r[RE_DATA_PAGE_SIZE];
  tab[TAB_ROOT_PAGE] = a[table + TBE_ROOT_PAGE];
  tab[TAB_RECORD_LENGTH] = r[RE_RECORD_LENGTH];
  tab[TAB_METHOD] = r[RE_METHOD];
  return r[RE_LEVELS] == 0 ? kStatusEnd : 0;
}

// Copies (or expands, on a directory page of a table with compression)
// the record at `position` into the record area and sets the cursor; the
// leaf is released either way. Returns 0 or -65.
int32_t Deliver(int32_t* block, int32_t leaf, int32_t position, int32_t size, int32_t method,
                int32_t routine) {
  const int32_t length = block[CUR_RECORD_LENGTH];
  const uint8_t* p = PageBytes(leaf);
  uint8_t* out = RecordArea(block, CUR_RECORD);
  if (method == 0) {
    std::memcpy(out, p + position, static_cast<size_t>(length));
  } else {
    int32_t produced = length;
    int32_t rc = DKExpand(ByteSpan(out, static_cast<size_t>(length)), 0, &produced,
                          ConstByteSpan(p, static_cast<size_t>(size)), DirOffset(p, size, position),
                          DirLength(p, size, position), method);
    if (rc < 0 || produced != length) {
      const int32_t page = BufferPage(leaf);
      ReleaseShared(leaf);
      return Report(routine, -65, page, 0);
    }
  }
  block[CUR_PAGE] = BufferPage(leaf);
  block[CUR_POSITION] = position;
  block[CUR_STAMP] = Stamp(leaf);
  block[CUR_PAGE_SIZE] = size;
  block[CUR_FORM] = method + 1;
  ReleaseShared(leaf);
  return 0;
}

// The first and last positions of the records on a leaf, and one step.
struct LeafRange {
  int32_t first, last, step;
};
LeafRange RangeOf(const uint8_t* p, int32_t size, int32_t length, int32_t method) {
  if (method != 0) return {1, DirCount(p, size), 1};
  return {kPageHeaderBytes, UsedEnd(p) - length, length};
}

// One descent from the top page. Forward: the first record at or after
// (inclusive) the key; on a leaf that ends first, *next receives the key of
// the parent entry that led there. Backward: the last record at or before
// the key; on a leaf that starts after it, *next receives the key of the
// entry before the one taken on the deepest index page where there is one.
// Returns 0 with *leaf held, 1 when the search goes on with *next, or the
// end or a code.
int32_t DescendOnce(int32_t* tab, int32_t table, const int32_t* block, const uint8_t* key,
                    bool forward, bool inclusive, int32_t routine, int32_t* leaf, int32_t* position,
                    std::vector<uint8_t>* next) {
  // The root page is held until the top page is: a writer may give the tree
  // a new top page or take one away meanwhile, and a descent from a stale
  // top would read a page of another level.
  int32_t record = 0;
  int32_t parent = GetRootEntry(table, GET_SHARED, routine, &record);
  if (parent < 0) return parent;
  const int32_t* e = Bufferpool() + record;
  if (e[RE_LEVELS] < 0 || e[RE_LEVELS] > kMaxLevels || (e[RE_LEVELS] == 0) != (e[RE_TOP] == 0)) {
    ReleaseShared(parent);
    return Report(routine, -64, tab[TAB_ROOT_PAGE], tab[TAB_DATABANK]);
  }
  tab[TAB_LEVELS] = e[RE_LEVELS];
  tab[TAB_PAGE] = e[RE_TOP];
  if (e[RE_LEVELS] == 0) {
    ReleaseShared(parent);
    return kStatusEnd;
  }
  const int32_t k = tab[TAB_KEY_LENGTH], levels = tab[TAB_LEVELS];
  int32_t page = tab[TAB_PAGE];
  const uint8_t* bound = nullptr;
  bool have_next = false;
  for (int32_t level = 1;; ++level) {
    tab[TAB_LEVEL] = level;
    tab[TAB_PAGE_SIZE] = LevelPageSize(tab, level);
    int32_t b = GetTreePage(tab, page, GET_SHARED, LevelEntryLength(tab, level), bound, &parent, 1,
                            routine);
    if (parent > 0) ReleaseShared(parent);
    parent = 0;
    if (b < 0) return b;
    const uint8_t* p = PageBytes(b);
    int32_t found =
        DirectoryLevel(tab, level) ? DKSearchDir(tab, key, p) : DKSearchFixed(tab, key, p);
    int32_t pos = tab[TAB_POSITION];
    const int32_t u = tab[TAB_USED_END], l = tab[TAB_ENTRY_LENGTH];
    const int32_t rc = level >= levels ? -65 : -63;
    // The child of an entry equal to the key holds records up to the key
    // only: a search for records after it goes to the next child.
    if (level < levels && found > 0 && forward && !inclusive) pos += l;
    if (found < 0 || (level < levels && pos >= u)) {
      ReleaseShared(b);
      return Report(routine, rc, page, tab[TAB_DATABANK]);
    }
    if (level < levels) {
      if (forward) {
        next->assign(p + pos, p + pos + k);
        have_next = true;
      } else if (pos > kPageHeaderBytes) {
        next->assign(p + pos - l, p + pos - l + k);
        have_next = true;
      }
      if (level == levels - 1 && block[CUR_SCAN] != 0)
        DKReadAhead(tab[TAB_DATABANK], p, pos, l, k, tab[TAB_LEAF_SIZE], forward, block[CUR_SCAN],
                    block[CUR_STATUS]);
      parent = b;
      bound = p + pos;
      page = LoadChild(p + pos + k);
      continue;
    }
    const LeafRange range = RangeOf(p, tab[TAB_PAGE_SIZE], tab[TAB_RECORD_LENGTH], tab[TAB_METHOD]);
    const int32_t step = range.step;
    int32_t target = forward ? (found > 0 && !inclusive ? pos + step : pos)
                             : (found > 0 && inclusive ? pos : pos - step);
    if (target >= range.first && target <= range.last) {
      *leaf = b;
      *position = target;
      return 0;
    }
    ReleaseShared(b);
    return have_next ? 1 : kStatusEnd;
  }
}

}  // namespace

int32_t DKFET0(int32_t* block, int32_t table, bool forward, bool inclusive, bool one_leaf) {
  int32_t tab[TAB_WORDS];
  if (int32_t rc = OpenRead(block, table, kIndexDKFET0, tab)) return rc;
  const int32_t k = tab[TAB_KEY_LENGTH];
  std::vector<uint8_t> key(RecordArea(block, CUR_RECORD), RecordArea(block, CUR_RECORD) + k);
  std::vector<uint8_t> next;
  for (int restarts = 0; restarts < kMaxRestarts; ++restarts) {
    int32_t leaf = 0, position = 0;
    int32_t rc = DescendOnce(tab, table, block, key.data(), forward, inclusive, kIndexDKFET0, &leaf,
                             &position, &next);
    if (rc == 0)
      return Deliver(block, leaf, position, tab[TAB_LEAF_SIZE], tab[TAB_METHOD], kIndexDKFET0);
    if (rc != 1) return rc;
    if (one_leaf || tab[TAB_LEVELS] == 1) return kStatusEnd;
    if (forward && AllHigh(next.data(), k)) return kStatusEnd;
    // The next key must move the search on, or a damaged index page would
    // send it round for ever.
    int c = CompareKeys(next.data(), key.data(), k);
    if (forward ? (c < 0 || (c == 0 && !inclusive)) : c >= 0)
      return Report(kIndexDKFET0, -63, tab[TAB_PAGE], tab[TAB_DATABANK]);
    key = next;
    inclusive = !forward;
  }
  return Report(kIndexDKFET0, -63, tab[TAB_PAGE], tab[TAB_DATABANK]);
}

namespace {

// The fast path of a fetch: the cursor's page while its stamp is unchanged.
// Returns 0 with the record delivered, 1 when the tree must be searched, or
// a negative code.
int32_t FromCursorPage(int32_t* block, int32_t table, bool forward, int32_t mode, int32_t routine) {
  int32_t* a = Bufferpool();
  const int32_t page = block[CUR_PAGE], size = block[CUR_PAGE_SIZE];
  const int32_t k = block[CUR_KEY_LENGTH], length = block[CUR_RECORD_LENGTH];
  // The form of the page the cursor was set on: a reshape changes the
  // table entry's method while its cursor still reads the old tree.
  const int32_t databank = a[table + TBE_DATABANK];
  const int32_t method =
      block[CUR_FORM] >= 1 && block[CUR_FORM] <= 3 ? block[CUR_FORM] - 1 : a[table + TBE_METHOD];
  if (k < 1 || length < k || length > kMaxPlainRecord)
    return Report(routine, -67, length, databank);
  if (page == 0) return 1;
  if (FindPool(size) == 0 || !TreePageNumber(page, size))
    return Report(routine, -43, page, databank);
  const int32_t position = block[CUR_POSITION];
  const bool position_valid = method != 0 ? position >= 1 && position <= size / 5
                                          : position >= kPageHeaderBytes && position <= size;
  if (mode == FET_NEXT && !position_valid) return Report(routine, -43, position, databank);
  int32_t rq[REQ_WORDS] = {databank, page, size, 0, -1, 0};
  int32_t b = DKGET0(rq, GET_SHARED_IF_RESIDENT);
  if (b < 0) return b;
  if (b == 0) return 1;
  const uint8_t* p = PageBytes(b);
  const bool sound = !DKPageTorn(b) && (method != 0 ? DirPageSound(p, size, length)
                                                     : FixedPageSound(p, size, length, k));
  if (rq[REQ_VERSION] != block[CUR_STAMP] || !sound) {
    ReleaseShared(b);
    return 1;
  }
  const LeafRange range = RangeOf(p, size, length, method);
  int32_t target = -1;
  if (mode == FET_NEXT) {
    target = position + (forward ? range.step : -range.step);
  } else {
    int32_t tab[TAB_WORDS] = {};
    tab[TAB_KEY_LENGTH] = k;
    tab[TAB_PAGE_SIZE] = size;
    tab[TAB_METHOD] = method;
    int32_t found = method != 0 ? DKSearchDir(tab, RecordArea(block, CUR_RECORD), p)
                                : DKSearchFixed(tab, RecordArea(block, CUR_RECORD), p);
    int32_t pos = tab[TAB_POSITION];
    // The page answers only for keys inside its own range: a key before its
    // first record (after its last) may have records on another page.
    bool inside = found >= 0 && pos <= range.last && (pos > range.first || found > 0);
    if (inside)
      target = forward ? (found > 0 && mode == FET_AFTER_KEY ? pos + range.step : pos)
                       : pos - range.step;
  }
  if (target < range.first || target > range.last) {
    ReleaseShared(b);
    return 1;
  }
  return Deliver(block, b, target, size, method, routine);
}

void Fetch(int32_t* block, bool forward, int32_t routine) {
  int32_t table = block[CUR_TABLE];
  if (int32_t rc = CheckTableEntry(table, block[CUR_TBL], routine)) {
    block[CUR_STATUS] = rc;
    return;
  }
  table = DKChooseTableCopy(table);
  const int32_t mode = block[CUR_STATUS];
  int32_t rc = 1;
  // Modes 0, -1 and 3 try the cursor's page first; 1 and 2 always descend.
  if (mode == FET_NEXT || mode == FET_AFTER_KEY || mode == FET_AT_KEY)
    rc = FromCursorPage(block, table, forward, mode, routine);
  if (rc == 1) {
    const bool inclusive = forward
                               ? (mode == FET_FROM_KEY || mode == FET_IN_LEAF || mode == FET_AT_KEY)
                               : (mode == FET_FROM_KEY || mode == FET_IN_LEAF);
    rc = DKFET0(block, table, forward, inclusive, mode == FET_IN_LEAF);
  }
  block[CUR_STATUS] = rc;
}

}  // namespace

void DKFET1(int32_t* block) {
  Fetch(block, true, kIndexDKFET1);
}

void DKFEP1(int32_t* block) {
  Fetch(block, false, kIndexDKFEP1);
}

void DKReadAhead(int32_t databank, const uint8_t* page, int32_t position, int32_t entry_length,
                 int32_t key_length, int32_t child_size, bool forward, int32_t scan_kind,
                 int32_t mode) {
  if (scan_kind < 1 || scan_kind > 4 || entry_length < 1) return;
  const int32_t u = UsedEnd(page);
  if (mode == FET_NEXT) {
    const int32_t entry = (position - kPageHeaderBytes) / entry_length;
    bool now =
        scan_kind == 1 || (scan_kind == 2 && entry % 5 == 4) ||
        (scan_kind == 3 && entry % 11 == 10) ||
        (scan_kind == 4 && (forward ? position == kPageHeaderBytes : position + entry_length == u));
    if (!now) return;
  }
  int32_t n = DKCPR0(child_size, scan_kind);
  if (n < 2) return;
  for (int32_t i = 0, o = position; i < n && o >= kPageHeaderBytes && o + entry_length <= u;
       ++i, o += forward ? entry_length : -entry_length) {
    int32_t child = LoadChild(page + o + key_length);
    if (!TreePageNumber(child, child_size)) return;
    int32_t rq[REQ_WORDS] = {databank, child, child_size, 0, -1, 0};
    DKGET0(rq, GET_PREFETCH);
  }
}

namespace {

// Where a sorted-chain read stands: the chain's page form and lengths.
struct ChainRead {
  int32_t databank, size, length, method, first;
};

// Reads the record at `position` of the chain from `page` on, going on to
// the next pages while a page has no record there. Returns 0 with the record
// in the block and its page and position, kStatusEnd, or a negative code.
int32_t ReadChain(int32_t* block, const ChainRead& c, int32_t page, int32_t position,
                  int32_t ahead) {
  for (int64_t steps = 0; steps < kMaxChainSteps; ++steps) {
    if (!TreePageNumber(page, c.size)) return Report(kIndexDKFMS1, -65, page, c.databank);
    int32_t rq[REQ_WORDS] = {c.databank, page, c.size, 0, -1, 0};
    int32_t b = DKGET0(rq, GET_SHARED);
    if (b < 0) return b;
    const uint8_t* p = PageBytes(b);
    if (DKPageTorn(b) || (c.method != 0 ? !DirPageSound(p, c.size, c.length)
                                        : !FixedPageSound(p, c.size, c.length, 0))) {
      ReleaseShared(b);
      return Report(kIndexDKFMS1, -65, page, c.databank);
    }
    const int32_t next = PageWord(p, 3);
    if (ahead >= 2 && next != 0 && TreePageNumber(next, c.size)) {
      int32_t prq[REQ_WORDS] = {c.databank, next, c.size, 0, -1, 0};
      DKGET0(prq, GET_PREFETCH);
    }
    if (c.method != 0 ? position <= DirCount(p, c.size) : position + c.length <= UsedEnd(p)) {
      uint8_t* out = RecordArea(block, MS_RECORD);
      int32_t produced = c.length, rc = 0;
      if (c.method == 0)
        std::memcpy(out, p + position, static_cast<size_t>(c.length));
      else
        rc = DKExpand(ByteSpan(out, static_cast<size_t>(c.length)), 0, &produced,
                      ConstByteSpan(p, static_cast<size_t>(c.size)), DirOffset(p, c.size, position),
                      DirLength(p, c.size, position), c.method);
      ReleaseShared(b);
      if (rc < 0 || produced != c.length) return Report(kIndexDKFMS1, -65, page, c.databank);
      block[MS_PAGE] = page;
      block[MS_POSITION] = position;
      return 0;
    }
    ReleaseShared(b);
    if (next == 0) return kStatusEnd;
    page = next;
    position = c.first;
    ahead = DKCPR0(c.size, 1);
  }
  return Report(kIndexDKFMS1, -65, page, c.databank);
}

int32_t NextOfChain(int32_t* block) {
  const int32_t table = block[MS_TABLE];
  if (int32_t rc = CheckTableEntry(table, block[MS_TBL], kIndexDKFMS1)) return rc;
  const int32_t* a = Bufferpool();
  ChainRead c;
  c.databank = a[table + TBE_DATABANK];
  c.method = a[table + TBE_METHOD];
  // Positions are byte offsets on fixed pages, slot numbers on directory pages.
  c.first = c.method != 0 ? 1 : kPageHeaderBytes;
  c.size = block[MS_PAGE_SIZE];
  c.length = block[MS_RECORD_LENGTH];
  if (block[MS_FIRST] == 0) return kStatusEnd;
  if (FindPool(c.size) == 0) return Report(kIndexDKFMS1, -76, c.size, c.databank);
  if (c.length < 1 || c.length > kMaxPlainRecord ||
      (c.method == 0 && c.length > LoadWord(BP_MAX_RECORD_LENGTH)))
    return Report(kIndexDKFMS1, -67, c.length, c.databank);
  const int32_t page = block[MS_PAGE], position = block[MS_POSITION];
  if (page == 0) return ReadChain(block, c, block[MS_FIRST], c.first, DKCPR0(c.size, 1));
  if (position < c.first || position > (c.method != 0 ? c.size / 5 : c.size))
    return Report(kIndexDKFMS1, -43, position, c.databank);
  return ReadChain(block, c, page, position + (c.method != 0 ? 1 : c.length), 0);
}

}  // namespace

void DKFMS1(int32_t* block) {
  block[MS_STATUS] = NextOfChain(block);
}
