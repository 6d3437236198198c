// The sort of a bulk load (DKLOA1): replacement selection over a tree of
// losers kept in the load's control page, the records themselves in its work
// page, each record leaving the tree appended to the run being written. A
// record that cannot join the run being written (its key is below the last
// one written) waits for the next run, so input in key order makes one run.
#include "dk/bulk_load.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "dk/bitmap_page.h"
#include "dk/bufferpool.h"
#include "dk/compression.h"
#include "dk/control_area.h"
#include "dk/error_log.h"
#include "dk/page_entries.h"
#include "dk/page_tree.h"
#include "dk/table_entries.h"

namespace {

constexpr int32_t kIndexDKLOA1 = 40;
constexpr int32_t kMaxPairs = (kControlPageSize / 4 - CP_FIRST_PAIR) / 2;  // 2045
constexpr int32_t kEmptyRun = 0x7fffffff;
constexpr int32_t kMaxCompressedRecord = 16376;
// A chain longer than this is a loop.
constexpr int64_t kMaxChainPages = int64_t{1} << 24;

int32_t Report(int32_t routine, int32_t rc, int32_t value, int32_t databank) {
  ReportPageError(routine, rc, rc == -43 || rc == -67 || rc == -55 || rc == -76 ? 2 : 3, value,
                  databank);
  return rc;
}

}  // namespace

int32_t OpenLoadTable(const int32_t* block, int32_t routine, LoadTable* t) {
  const int32_t table = block[LOA_TABLE];
  if (int32_t rc = CheckTableEntry(table, block[LOA_TBL], routine)) return rc;
  int32_t* a = Bufferpool();
  int32_t record = 0;
  int32_t root = GetRootEntry(table, GET_SHARED, routine, &record);
  if (root < 0) return root;
  int32_t e[kRootEntryWords];
  std::memcpy(e, a + record - 1, sizeof e);
  ReleaseShared(root);
  const int32_t* r = e + 1;
  t->databank = a[table + TBE_DATABANK];
  if (!RootEntrySound(r) || (r[RE_LEVELS] == 0) != (r[RE_TOP] == 0))
    return Report(routine, -64, a[table + TBE_ROOT_PAGE], t->databank);
  t->key_length = block[LOA_KEY_LENGTH];
  t->record_length = block[LOA_RECORD_LENGTH];
  t->data_size = block[LOA_PAGE_SIZE] != 0 ? block[LOA_PAGE_SIZE] : r[RE_DATA_PAGE_SIZE];
  t->index_size = r[RE_INDEX_PAGE_SIZE];
  t->top = r[RE_TOP];
  t->levels = r[RE_LEVELS];
  t->kind = r[RE_KIND];
  t->table_key_length = r[RE_KEY_LENGTH];
  t->table_record_length = r[RE_RECORD_LENGTH];
  t->table_data_size = r[RE_DATA_PAGE_SIZE];
  t->work = a[t->databank + DBE_KIND] == DBK_WORK;
  if (FindPool(t->data_size) == 0) return Report(routine, -76, t->data_size, t->databank);
  // A load may build a tree of other lengths than the table's (a reshape
  // loads the new format), but never one its pages cannot hold.
  // While a reshape runs, the table entry carries the new method.
  t->method = a[table + TBE_METHOD];
  if (t->method < 0 || t->method > 2) return Report(routine, -55, t->method, t->databank);
  const int32_t k = t->key_length, l = t->record_length;
  const bool fits = t->method != 0 ? l <= kMaxCompressedRecord
                                   : l <= LoadWord(BP_MAX_RECORD_LENGTH) &&
                                         kPageHeaderBytes + 4 * l <= t->data_size;
  if (k < 1 || l < k || !fits) return Report(routine, -67, l, t->databank);
  return 0;
}

bool ChainPageSound(const LoadTable& t, const uint8_t* page) {
  return t.method != 0 ? DirPageSound(page, t.data_size, t.record_length)
                       : FixedPageSound(page, t.data_size, t.record_length, t.key_length);
}

int32_t ChainPageRecords(const LoadTable& t, const uint8_t* page) {
  return t.method != 0 ? DirCount(page, t.data_size)
                       : (UsedEnd(page) - kPageHeaderBytes) / t.record_length;
}

int32_t ChainRecord(const LoadTable& t, const uint8_t* page, int32_t i, uint8_t* out) {
  const int32_t length = t.record_length, size = t.data_size;
  if (t.method == 0) {
    std::memcpy(out, page + kPageHeaderBytes + i * length, static_cast<size_t>(length));
    return 0;
  }
  int32_t produced = length;
  int32_t rc = DKExpand(ByteSpan(out, static_cast<size_t>(length)), 0, &produced,
                        ConstByteSpan(page, static_cast<size_t>(size)),
                        DirOffset(page, size, i + 1), DirLength(page, size, i + 1), t.method);
  return rc < 0 || produced != length ? -65 : 0;
}

int32_t AppendToChainPage(const LoadTable& t, uint8_t* page, const uint8_t* record) {
  const int32_t length = t.record_length, size = t.data_size;
  if (t.method == 0) {
    const int32_t u = UsedEnd(page);
    if (u + length > size) return 1;
    std::memcpy(page + u, record, static_cast<size_t>(length));
    SetPageWord(page, PAGE_USED_END, u + length);
    return 0;
  }
  thread_local std::vector<uint8_t> form;
  form.resize(static_cast<size_t>(CompressedSizeBound(length)) + 1);
  int32_t stored = 0;
  int32_t rc = DKCompress(ByteSpan(form), 0, &stored,
                          ConstByteSpan(record, static_cast<size_t>(length)), 0, length, t.method);
  if (rc < 0) return Report(kIndexDKLOA1, -67, length, t.databank);
  // An empty page holds the header, the count word and one offset.
  if (kPageHeaderBytes + 8 + stored > size) return Report(kIndexDKLOA1, -67, length, t.databank);
  if (DirUsed(page, size) + 4 + stored > size) return 1;
  DirInsert(page, size, DirCount(page, size) + 1, form.data(), stored);
  return 0;
}

int32_t NewChainPage(const LoadTable& t, int32_t length, int32_t* page) {
  int32_t rq[REQ_WORDS] = {t.databank, 0, length == 0 ? kUnitBytes : 0, 0, -1, 0};
  rq[REQ_PAGE_SIZE] = length == 0 ? kUnitBytes : t.data_size;
  int32_t b = DKHLD0(rq, -1);
  if (b < 0) return b;
  *page = rq[REQ_PAGE];
  int32_t* w = PageWords(b);
  if (length != 0 && t.method != 0) {
    DirFormat(PageBytes(b), t.data_size, length);
  } else {
    w[PAGE_ENTRY_LENGTH] = length;
    w[PAGE_USED_END] = kPageHeaderBytes;
  }
  w[3] = 0;
  return b;
}

void FreeChain(int32_t databank, int32_t first, int32_t size) {
  int32_t page = first;
  for (int64_t n = 0; page != 0 && n < kMaxChainPages; ++n) {
    if (!TreePageNumber(page, size)) return;
    int32_t rq[REQ_WORDS] = {databank, page, size, 0, -1, 0};
    int32_t b = DKGET0(rq, GET_UPDATE);
    if (b < 0) return;
    int32_t next = PageWords(b)[3];
    DKFRE0(rq, b);
    page = next;
  }
}

namespace {

// The table of a load under way: the table entry checked, the lengths
// from the block (the work page's state must agree), the page size from the
// block or, when 0, from that state.
int32_t OpenLoadUnderWay(const int32_t* block, LoadTable* t) {
  const int32_t table = block[LOA_TABLE];
  if (int32_t rc = CheckTableEntry(table, block[LOA_TBL], kIndexDKLOA1)) return rc;
  const int32_t* a = Bufferpool();
  t->databank = a[table + TBE_DATABANK];
  t->work = a[t->databank + DBE_KIND] == DBK_WORK;
  t->method = a[table + TBE_METHOD];
  t->key_length = block[LOA_KEY_LENGTH];
  t->record_length = block[LOA_RECORD_LENGTH];
  t->data_size = block[LOA_PAGE_SIZE];
  if (t->method < 0 || t->method > 2) return Report(kIndexDKLOA1, -55, t->method, t->databank);
  if (t->data_size != 0 && FindPool(t->data_size) == 0)
    return Report(kIndexDKLOA1, -76, t->data_size, t->databank);
  const int32_t k = t->key_length, l = t->record_length;
  const int32_t most = t->method != 0 ? kMaxCompressedRecord : LoadWord(BP_MAX_RECORD_LENGTH);
  if (k < 1 || l < k || l > most) return Report(kIndexDKLOA1, -67, l, t->databank);
  return 0;
}

// The load's pages while one call works on them.
struct Load {
  LoadTable t;
  int32_t control = 0, work = 0;  // held buffers
  int32_t work_size = 0;
  int32_t pairs = 0;       // N
  int32_t run_buffer = 0;  // the run page held by this call, 0 when none
  int32_t* cp = nullptr;
  uint8_t* wp = nullptr;
  int32_t* state = nullptr;

  uint8_t* Slot(int32_t s) const { return wp + kPageHeaderBytes + s * t.record_length; }
  uint8_t* LastKey() const { return Slot(pairs); }
  // The arrival number of the record in slot s (4 bytes a slot after the
  // two spare records).
  uint8_t* Arrival(int32_t s) const { return Slot(pairs + 2) + 4 * s; }
  int32_t* Pair(int32_t j) const { return cp + 2 * j + 4; }
};

int32_t PairsFor(int32_t work_size, int32_t length) {
  int32_t room = work_size - kPageHeaderBytes - 2 * length - kLoadStateBytes;
  return std::min(kMaxPairs, room / (length + 4));
}

uint32_t ArrivalOf(const Load& l, int32_t s) {
  uint32_t v;
  std::memcpy(&v, l.Arrival(s), 4);
  return v;
}

bool Beats(const Load& l, int32_t sa, int32_t ra, int32_t sb, int32_t rb) {
  if (ra != rb) return ra < rb;
  if (ra >= 1 && ra != kEmptyRun) {
    int c = CompareLoadKeys(l.Slot(sa), l.Slot(sb), l.t.key_length);
    if (c != 0) return c < 0;
    // Of equal keys the first to arrive leaves first; the others are then
    // dropped as duplicates of it.
    uint32_t xa = ArrivalOf(l, sa), xb = ArrivalOf(l, sb);
    if (xa != xb) return xa < xb;
  }
  return sa < sb;
}

// Lets slot s with run r climb from its leaf: at each node the loser stays,
// the winner goes on; the overall winner lands in pair N.
int32_t Replay(Load& l, int32_t s, int32_t r) {
  const int32_t n = l.pairs;
  for (int32_t node = (s + n) / 2; node >= 1; node /= 2) {
    int32_t* p = l.Pair(node);
    if (p[0] < 0 || p[0] >= n) return Report(kIndexDKLOA1, -65, l.cp[CP_WORK_PAGE], l.t.databank);
    if (Beats(l, p[0], p[1], s, r)) std::swap(p[0], s), std::swap(p[1], r);
  }
  l.Pair(n)[0] = s;
  l.Pair(n)[1] = r;
  return 0;
}

// Lays out a new load: dummies of runs -N .. -1 that win against every
// record, so the first N records fill the slots without leaving the tree.
void LayOut(Load& l) {
  const int32_t n = l.pairs;
  l.cp[CP_PAIRS] = n + 1;
  l.cp[3] = 0;
  l.cp[CP_FILL] = 0;
  l.cp[CP_RUN] = 0;
  std::vector<int32_t> winner(static_cast<size_t>(2 * n));
  for (int32_t s = 0; s < n; ++s) winner[static_cast<size_t>(n + s)] = s;
  for (int32_t node = n - 1; node >= 1; --node) {
    int32_t a = winner[static_cast<size_t>(2 * node)],
            b = winner[static_cast<size_t>(2 * node + 1)];
    // Dummy of slot s has run s - N: the lower slot wins, so the slots
    // fill in arrival order.
    int32_t win = std::min(a, b), lose = std::max(a, b);
    winner[static_cast<size_t>(node)] = win;
    l.Pair(node)[0] = lose;
    l.Pair(node)[1] = lose - n;
  }
  l.Pair(n)[0] = n == 1 ? 0 : winner[1];
  l.Pair(n)[1] = l.Pair(n)[0] - n;
  int32_t* w = reinterpret_cast<int32_t*>(l.wp);
  w[WP_DUPLICATES] = 0;
  std::memset(l.state, 0, kLoadStateBytes);
  l.state[LS_KEY_LENGTH] = l.t.key_length;
  l.state[LS_RECORD_LENGTH] = l.t.record_length;
  l.state[LS_DATA_SIZE] = l.t.data_size;
}

// Adds the run being written to the run directory.
int32_t CloseRun(Load& l) {
  int32_t first = l.state[LS_RUN_FIRST];
  if (first == 0) return 0;
  if (l.run_buffer > 0) {
    DKPUT0(PUT_CHANGED, l.run_buffer);
    l.run_buffer = 0;
  }
  int32_t dir = l.state[LS_DIR_LAST], b = 0;
  if (dir != 0) {
    int32_t rq[REQ_WORDS] = {l.t.databank, dir, kUnitBytes, 0, -1, 0};
    b = DKGET0(rq, GET_UPDATE);
    if (b < 0) return b;
    int32_t count = PageWords(b)[DIR_COUNT];
    if (count < 0 || count > kDirEntries) {
      DKPUT0(PUT_UNCHANGED, b);
      return Report(kIndexDKLOA1, -65, dir, l.t.databank);
    }
    if (count == kDirEntries) {
      int32_t page = 0;
      int32_t nb = NewChainPage(l.t, 0, &page);
      if (nb < 0) {
        DKPUT0(PUT_UNCHANGED, b);
        return nb;
      }
      PageWords(b)[DIR_NEXT] = page;
      DKPUT0(PUT_CHANGED, b);
      b = nb, dir = page;
      PageWords(b)[DIR_COUNT] = 0;
      l.state[LS_DIR_LAST] = page;
    }
  } else {
    b = NewChainPage(l.t, 0, &dir);
    if (b < 0) return b;
    PageWords(b)[DIR_COUNT] = 0;
    l.state[LS_DIR_FIRST] = l.state[LS_DIR_LAST] = dir;
  }
  int32_t* w = PageWords(b);
  w[DIR_FIRST + w[DIR_COUNT]++] = first;
  DKPUT0(PUT_CHANGED, b);
  ++l.state[LS_RUNS];
  l.state[LS_RUN_FIRST] = l.state[LS_RUN_LAST] = 0;
  l.state[LS_LAST_VALID] = 0;
  return 0;
}

// Appends the record of slot s to run r, starting the run when it is new.
int32_t Emit(Load& l, int32_t s, int32_t r) {
  const int32_t length = l.t.record_length, k = l.t.key_length;
  if (r != l.cp[CP_RUN]) {
    if (int32_t rc = CloseRun(l)) return rc;
    l.cp[CP_RUN] = r;
  }
  const uint8_t* record = l.Slot(s);
  if (l.state[LS_LAST_VALID] && std::memcmp(record, l.LastKey(), static_cast<size_t>(k)) == 0) {
    ++reinterpret_cast<int32_t*>(l.wp)[WP_DUPLICATES];
    return 0;
  }
  if (l.run_buffer == 0 && l.state[LS_RUN_LAST] != 0) {
    int32_t page = l.state[LS_RUN_LAST];
    if (!TreePageNumber(page, l.t.data_size)) return Report(kIndexDKLOA1, -65, page, l.t.databank);
    int32_t rq[REQ_WORDS] = {l.t.databank, page, l.t.data_size, 0, -1, 0};
    l.run_buffer = DKGET0(rq, GET_UPDATE);
    if (l.run_buffer < 0) return std::exchange(l.run_buffer, 0);
    if (!ChainPageSound(l.t, PageBytes(l.run_buffer)))
      return Report(kIndexDKLOA1, -65, page, l.t.databank);
  }
  int32_t appended = l.run_buffer > 0 ? AppendToChainPage(l.t, PageBytes(l.run_buffer), record) : 1;
  if (appended < 0) return appended;
  if (appended == 1) {
    int32_t page = 0;
    int32_t b = NewChainPage(l.t, length, &page);
    if (b < 0) return b;
    if (l.run_buffer > 0) {
      PageWords(l.run_buffer)[3] = page;
      DKPUT0(PUT_CHANGED, l.run_buffer);
    }
    l.run_buffer = b;
    if (l.state[LS_RUN_FIRST] == 0) l.state[LS_RUN_FIRST] = page;
    l.state[LS_RUN_LAST] = page;
    if (int32_t rc = AppendToChainPage(l.t, PageBytes(b), record)) return rc < 0 ? rc : -67;
  }
  std::memcpy(l.LastKey(), record, static_cast<size_t>(k));
  l.state[LS_LAST_VALID] = 1;
  return 0;
}

// One record in: the winner leaves the tree (a dummy just makes room) and
// the new record takes its slot, in the run being written when its key is
// not below the last one written, else in the next.
int32_t Add(Load& l, const uint8_t* record) {
  const int32_t s = l.Pair(l.pairs)[0], r = l.Pair(l.pairs)[1];
  if (s < 0 || s >= l.pairs) return Report(kIndexDKLOA1, -65, l.cp[CP_WORK_PAGE], l.t.databank);
  if (r >= 1 && r != kEmptyRun)
    if (int32_t rc = Emit(l, s, r)) return rc;
  int32_t run = l.cp[CP_RUN];
  if (run < 1) {
    run = 1;
  } else if (l.state[LS_LAST_VALID] &&
             std::memcmp(record, l.LastKey(), static_cast<size_t>(l.t.key_length)) < 0) {
    run += 1;
  }
  std::memcpy(l.Slot(s), record, static_cast<size_t>(l.t.record_length));
  const uint32_t arrival = static_cast<uint32_t>(l.cp[CP_FILL]++);
  std::memcpy(l.Arrival(s), &arrival, 4);
  return Replay(l, s, run);
}

// End of input: the tree is emptied run by run.
int32_t Drain(Load& l) {
  for (int64_t n = 0; n <= l.pairs; ++n) {
    const int32_t s = l.Pair(l.pairs)[0], r = l.Pair(l.pairs)[1];
    if (r == kEmptyRun) break;
    if (s < 0 || s >= l.pairs) return Report(kIndexDKLOA1, -65, l.cp[CP_WORK_PAGE], l.t.databank);
    if (r >= 1)
      if (int32_t rc = Emit(l, s, r)) return rc;
    if (int32_t rc = Replay(l, s, kEmptyRun)) return rc;
  }
  if (int32_t rc = CloseRun(l)) return rc;
  l.state[LS_ENDED] = 1;
  return 0;
}

// Gets the pages of a load under way and checks that they are one.
int32_t Resume(int32_t* block, Load& l) {
  const int32_t control = block[LOA_CONTROL];
  if (!TreePageNumber(control, kControlPageSize))
    return Report(kIndexDKLOA1, -43, control, l.t.databank);
  int32_t rq[REQ_WORDS] = {l.t.databank, control, kControlPageSize, 0, -1, 0};
  l.control = DKGET0(rq, GET_UPDATE);
  if (l.control < 0) return std::exchange(l.control, 0);
  l.cp = PageWords(l.control);
  const int32_t work = l.cp[CP_WORK_PAGE];
  if (!TreePageNumber(work, l.work_size) || l.cp[CP_PAIRS] != l.pairs + 1)
    return Report(kIndexDKLOA1, -65, control, l.t.databank);
  int32_t wrq[REQ_WORDS] = {l.t.databank, work, l.work_size, 0, -1, 0};
  l.work = DKGET0(wrq, GET_UPDATE);
  if (l.work < 0) return std::exchange(l.work, 0);
  l.wp = PageBytes(l.work);
  l.state = reinterpret_cast<int32_t*>(l.wp + l.work_size - kLoadStateBytes);
  if (l.t.data_size == 0 && FindPool(l.state[LS_DATA_SIZE]) != 0)
    l.t.data_size = l.state[LS_DATA_SIZE];
  if (l.state[LS_KEY_LENGTH] != l.t.key_length || l.state[LS_RECORD_LENGTH] != l.t.record_length ||
      l.state[LS_DATA_SIZE] != l.t.data_size)
    return Report(kIndexDKLOA1, -43, control, l.t.databank);
  return 0;
}

int32_t Start(int32_t* block, Load& l) {
  int32_t rq[REQ_WORDS] = {l.t.databank, 0, kControlPageSize, 0, -1, 0};
  l.control = DKHLD0(rq, -1);
  if (l.control < 0) return std::exchange(l.control, 0);
  block[LOA_CONTROL] = rq[REQ_PAGE];
  int32_t wrq[REQ_WORDS] = {l.t.databank, 0, l.work_size, 0, -1, 0};
  l.work = DKHLD0(wrq, -1);
  if (l.work < 0) return std::exchange(l.work, 0);
  l.cp = PageWords(l.control);
  l.cp[CP_WORK_PAGE] = wrq[REQ_PAGE];
  l.wp = PageBytes(l.work);
  l.state = reinterpret_cast<int32_t*>(l.wp + l.work_size - kLoadStateBytes);
  LayOut(l);
  return 0;
}

void ReleaseLoad(Load& l, bool changed) {
  for (int32_t* b : {&l.run_buffer, &l.work, &l.control})
    if (*b > 0) DKPUT0(changed ? PUT_CHANGED : PUT_UNCHANGED, std::exchange(*b, 0));
}

}  // namespace

void AbandonLoad(int32_t* block, const LoadTable& t) {
  const int32_t control = block[LOA_CONTROL];
  block[LOA_CONTROL] = 0;
  if (!TreePageNumber(control, kControlPageSize)) return;
  const int32_t work_size = LoadWord(BP_MAX_PAGE_SIZE);
  int32_t rq[REQ_WORDS] = {t.databank, control, kControlPageSize, 0, -1, 0};
  int32_t cb = DKGET0(rq, GET_UPDATE);
  if (cb < 0) return;
  const int32_t work = PageWords(cb)[CP_WORK_PAGE];
  DKFRE0(rq, cb);
  if (!TreePageNumber(work, work_size)) return;
  int32_t wrq[REQ_WORDS] = {t.databank, work, work_size, 0, -1, 0};
  int32_t wb = DKGET0(wrq, GET_UPDATE);
  if (wb < 0) return;
  int32_t state[kLoadStateBytes / 4];
  std::memcpy(state, PageBytes(wb) + work_size - kLoadStateBytes, sizeof state);
  DKFRE0(wrq, wb);
  if (state[LS_DATA_SIZE] != t.data_size) return;
  FreeChain(t.databank, state[LS_RUN_FIRST], t.data_size);
  for (int32_t dir = state[LS_DIR_FIRST], n = 0; dir != 0 && n < (1 << 20); ++n) {
    if (!TreePageNumber(dir, kUnitBytes)) return;
    int32_t drq[REQ_WORDS] = {t.databank, dir, kUnitBytes, 0, -1, 0};
    int32_t db = DKGET0(drq, GET_UPDATE);
    if (db < 0) return;
    const int32_t* w = PageWords(db);
    const int32_t count = std::clamp(w[DIR_COUNT], 0, kDirEntries);
    std::vector<int32_t> runs(w + DIR_FIRST, w + DIR_FIRST + count);
    const int32_t next = w[DIR_NEXT];
    DKFRE0(drq, db);
    for (int32_t first : runs) FreeChain(t.databank, first, t.data_size);
    dir = next;
  }
}

void DKLOA1(int32_t* block) {
  Load l;
  // A load under way keeps its lengths and page size in its work page, so
  // the records after the first need not read the root entry again.
  int32_t rc = block[LOA_CONTROL] == 0 ? OpenLoadTable(block, kIndexDKLOA1, &l.t)
                                       : OpenLoadUnderWay(block, &l.t);
  if (rc != 0) {
    block[LOA_STATUS] = rc;
    return;
  }
  const bool end = block[LOA_STATUS] == kLoadEndOfInput;
  l.work_size = LoadWord(BP_MAX_PAGE_SIZE);
  l.pairs = PairsFor(l.work_size, l.t.record_length);
  if (l.pairs < 1 || FindPool(kControlPageSize) == 0) {
    block[LOA_STATUS] = Report(kIndexDKLOA1, -67, l.t.record_length, l.t.databank);
    return;
  }
  if (block[LOA_CONTROL] == 0 && end) {
    block[LOA_DUPLICATES] = 0;
    block[LOA_STATUS] = 0;
    return;
  }
  const bool starting = block[LOA_CONTROL] == 0;
  rc = starting ? Start(block, l) : Resume(block, l);
  // Only pages known to be this load's are ever given back: a control page
  // that fails its checks may be anybody's.
  const bool owned = starting || rc == 0;
  if (rc == 0 && l.state[LS_ENDED])
    rc = Report(kIndexDKLOA1, -43, block[LOA_CONTROL], l.t.databank);
  if (rc == 0) {
    rc = end ? Drain(l) : Add(l, reinterpret_cast<const uint8_t*>(block + LOA_RECORD));
    if (end && rc == 0) block[LOA_DUPLICATES] = reinterpret_cast<int32_t*>(l.wp)[WP_DUPLICATES];
  }
  ReleaseLoad(l, true);
  // A load that failed gives back every page it took, so nothing of it
  // stays allocated in the file.
  if (rc < 0 && owned) AbandonLoad(block, l.t);
  block[LOA_STATUS] = rc;
}
