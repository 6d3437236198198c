// The index levels over a sorted chain of data pages, built bottom up, and
// the installation of the tree in the table's root entry (DKBIN1). A load
// into a table that has records keeps them: its chain is first merged with
// the table's own records (a stored record wins over a loaded one with the
// same key), and the old tree is released only after the root entry naming
// the new one is on disk. Until that moment nothing of the table changes,
// so a load that fails anywhere leaves the table as it was.
#include <cstring>
#include <vector>

#include "dk/bitmap_page.h"
#include "dk/bufferpool.h"
#include "dk/bulk_load.h"
#include "dk/control_area.h"
#include "dk/error_log.h"
#include "dk/page_entries.h"
#include "dk/page_tree.h"
#include "dk/table_cursor.h"
#include "dk/table_entries.h"

namespace {

constexpr int32_t kIndexDKBIN1 = 7;

int32_t Report(int32_t rc, int32_t value, int32_t databank) {
  ReportPageError(kIndexDKBIN1, rc, rc == -43 || rc == -67 || rc == -76 ? 2 : 3, value, databank);
  return rc;
}

void FreePages(const LoadTable& t, const std::vector<int32_t>& pages, int32_t size) {
  for (int32_t page : pages) {
    int32_t rq[REQ_WORDS] = {t.databank, page, size, 0, -1, 0};
    DKFRE0(rq, 0);
  }
}

// Writes each new page of the tree at once. A page whose write fails is
// dropped and freed while held (an unwritten page that nobody holds could
// not be dropped again) and leaves the list.
int32_t WriteNewPages(const LoadTable& t, std::vector<int32_t>* pages, int32_t size) {
  for (size_t i = 0; i < pages->size(); ++i) {
    int32_t rq[REQ_WORDS] = {t.databank, (*pages)[i], size, 0, -1, 0};
    int32_t b = DKGET0(rq, GET_UPDATE);
    if (b < 0) return b;
    if (int32_t rc = DKWRP0(rq, WRP_WRITE_HOLD, b); rc != 0) {
      DKFRE0(rq, b);
      pages->erase(pages->begin() + static_cast<std::ptrdiff_t>(i));
      return Report(-62, rq[REQ_PAGE], t.databank);
    }
    DKPUT0(PUT_UNCHANGED, b);
  }
  return 0;
}

// Merges the table's own records (read through a cursor) with the loaded
// chain into a new chain; the loaded chain's pages are freed as read.
int32_t MergeWithTable(const int32_t* block, const LoadTable& t, int32_t* chain,
                       int32_t* duplicates) {
  const int32_t k = t.key_length, length = t.record_length;
  std::vector<int32_t> cursor(static_cast<size_t>(CursorBlockWords(length)), 0);
  cursor[CUR_STATUS] = FET_FROM_KEY;
  cursor[CUR_SCAN] = 1;
  cursor[CUR_TABLE] = block[LOA_TABLE];
  cursor[CUR_TBL] = block[LOA_TBL];
  cursor[CUR_KEY_LENGTH] = k;
  cursor[CUR_RECORD_LENGTH] = length;
  const auto* stored = reinterpret_cast<const uint8_t*>(cursor.data() + CUR_RECORD);
  ChainReader loaded(t, *chain, true);
  ChainWriter writer(t);
  auto fail = [&](int32_t rc) {
    writer.Finish();
    FreeChain(t.databank, writer.first(), t.data_size);
    loaded.FreeRest();
    return rc;
  };
  DKFET1(cursor.data());
  int32_t from_table = cursor[CUR_STATUS];
  int32_t from_load = loaded.Next();
  while (from_table == 0 || from_load == 0) {
    if (from_table < 0) return fail(from_table);
    if (from_load < 0) return fail(from_load);
    int c = from_table != 0  ? 1
            : from_load != 0 ? -1
                             : std::memcmp(stored, loaded.Record(), static_cast<size_t>(k));
    if (int32_t rc = writer.Append(c <= 0 ? stored : loaded.Record())) return fail(rc);
    if (c == 0) ++*duplicates;
    if (c <= 0) {
      cursor[CUR_STATUS] = FET_NEXT;
      DKFET1(cursor.data());
      from_table = cursor[CUR_STATUS];
    }
    if (c >= 0) from_load = loaded.Next();
  }
  if (from_table < 0) return fail(from_table);
  if (from_load < 0) return fail(from_load);
  writer.Finish();
  *chain = writer.first();
  return 0;
}

// The last key of a held child page: its last record's (expanded on a
// directory leaf) or its last entry's. False for a page that is not sound.
bool LastKeyOf(const LoadTable& t, const uint8_t* p, int32_t size, int32_t length, bool leaf,
               std::vector<uint8_t>* last, uint8_t* key) {
  const int32_t k = t.key_length;
  if (leaf) {
    const int32_t count = ChainPageSound(t, p) ? ChainPageRecords(t, p) : 0;
    if (count <= 0 || ChainRecord(t, p, count - 1, last->data()) != 0) return false;
    std::memcpy(key, last->data(), static_cast<size_t>(k));
    return true;
  }
  if (!FixedPageSound(p, size, length, k) || UsedEnd(p) <= kPageHeaderBytes) return false;
  std::memcpy(key, p + UsedEnd(p) - length, static_cast<size_t>(k));
  return true;
}

// One index level over the pages of `children` (a chain of data pages for
// the first level): an entry per child of its last key and its page number,
// the fill key in the last one. With `link` each child is made to reach its
// file before the index page that names it (DKMRK0 code 23).
int32_t BuildLevel(const LoadTable& t, int32_t index_size, const std::vector<int32_t>& children,
                   int32_t child_size, int32_t child_length, std::vector<int32_t>* level,
                   bool leaf_level, bool link) {
  const int32_t k = t.key_length, l = k + kChildBytes;
  int32_t buffer = 0;
  std::vector<uint8_t> entry(static_cast<size_t>(l));
  std::vector<uint8_t> last(static_cast<size_t>(t.record_length));
  auto stop = [&](int32_t rc, int32_t held) {
    if (held > 0) DKPUT0(link ? PUT_UNCHANGED : PUT_END_SHARED, held);
    if (buffer > 0) DKPUT0(PUT_CHANGED, buffer);
    return rc;
  };
  for (size_t i = 0; i < children.size(); ++i) {
    const int32_t child = children[i];
    int32_t rq[REQ_WORDS] = {t.databank, child, child_size, 0, -1, 0};
    int32_t b = DKGET0(rq, link ? GET_UPDATE : GET_SHARED);
    if (b < 0) return stop(b, 0);
    if (!LastKeyOf(t, PageBytes(b), child_size, child_length, leaf_level, &last, entry.data()))
      return stop(Report(leaf_level ? -65 : -63, child, t.databank), b);
    if (i + 1 == children.size()) std::memset(entry.data(), 0xFF, static_cast<size_t>(k));
    StoreChild(entry.data() + k, child);
    if (buffer == 0 || UsedEnd(PageBytes(buffer)) + l > index_size) {
      int32_t nrq[REQ_WORDS] = {t.databank, 0, index_size, 0, -1, 0};
      int32_t nb = DKHLD0(nrq, -1);
      if (nb < 0) return stop(nb, b);
      int32_t* w = PageWords(nb);
      w[PAGE_ENTRY_LENGTH] = l;
      w[PAGE_USED_END] = kPageHeaderBytes;
      w[3] = 0;
      if (buffer > 0) DKPUT0(PUT_CHANGED, buffer);
      buffer = nb;
      level->push_back(nrq[REQ_PAGE]);
    }
    uint8_t* p2 = PageBytes(buffer);
    const int32_t u = UsedEnd(p2);
    std::memcpy(p2 + u, entry.data(), static_cast<size_t>(l));
    SetPageWord(p2, PAGE_USED_END, u + l);
    if (link && DKMRK0(buffer, 23, b) != 0) return stop(Report(-55, child, t.databank), b);
    DKPUT0(link ? PUT_UNCHANGED : PUT_END_SHARED, b);
  }
  if (buffer > 0) DKPUT0(PUT_CHANGED, buffer);
  return 0;
}

// The pages of a chain, in order.
int32_t ChainPages(const LoadTable& t, int32_t first, std::vector<int32_t>* pages) {
  for (int32_t page = first; page != 0;) {
    if (!TreePageNumber(page, t.data_size) || pages->size() > (size_t{1} << 24))
      return Report(-65, page, t.databank);
    pages->push_back(page);
    int32_t rq[REQ_WORDS] = {t.databank, page, t.data_size, 0, -1, 0};
    int32_t b = DKGET0(rq, GET_SHARED);
    if (b < 0) return b;
    page = PageWords(b)[3];
    ReleaseShared(b);
  }
  return 0;
}

// Sets the root entry to the new tree and writes it. Returns 0 or a code;
// on -61 the root page keeps the new entry in the pool.
int32_t Install(const int32_t* block, const LoadTable& t, int32_t index_size, int32_t top,
                int32_t levels, bool replace, bool linked) {
  int32_t* a = Bufferpool();
  const int32_t table = block[LOA_TABLE];
  int32_t record = 0;
  int32_t b = GetRootEntry(table, GET_UPDATE, kIndexDKBIN1, &record);
  if (b < 0) return b;
  int32_t* e = a + record;
  if (!replace && (e[RE_TOP] != t.top || e[RE_LEVELS] != t.levels)) {
    // Records came in meanwhile: the load's tree does not hold them.
    DKPUT0(PUT_UNCHANGED, b);
    return Report(-55, block[LOA_TBL], t.databank);
  }
  e[RE_TOP] = top;
  e[RE_LEVELS] = levels;
  if (replace) {
    // A reshape's table entry carries the new kind and method meanwhile.
    e[RE_KIND] = a[table + TBE_KIND];
    e[RE_METHOD] = a[table + TBE_METHOD];
    e[RE_KEY_LENGTH] = t.key_length;
    e[RE_RECORD_LENGTH] = t.record_length;
    e[RE_DATA_PAGE_SIZE] = t.data_size;
    e[RE_INDEX_PAGE_SIZE] = index_size;
  }
  const int32_t page = a[table + TBE_ROOT_PAGE];
  if (t.work) return DKPUT0(PUT_CHANGED, b);
  if (linked) {
    // The root page follows the tree to disk: the top page first, and it
    // after the pages it names.
    if (top != 0) {
      int32_t rq[REQ_WORDS] = {t.databank, top, levels == 1 ? t.data_size : index_size, 0, -1, 0};
      int32_t tb = DKGET0(rq, GET_UPDATE);
      if (tb < 0 || DKMRK0(b, 23, tb) != 0) {
        if (tb > 0) DKPUT0(PUT_UNCHANGED, tb);
        e[RE_TOP] = t.top, e[RE_LEVELS] = t.levels;
        DKPUT0(PUT_UNCHANGED, b);
        return tb < 0 ? tb : Report(-55, top, t.databank);
      }
      DKPUT0(PUT_UNCHANGED, tb);
    }
    return DKPUT0(PUT_CHANGED, b);
  }
  if (WriteUnitPage(t.databank, page, b) != 0) return Report(-61, page, t.databank);
  return 0;
}

int32_t Build(int32_t* block) {
  LoadTable t;
  if (int32_t rc = OpenLoadTable(block, kIndexDKBIN1, &t)) return rc;
  const bool replace = block[LOA_STATUS] == kBuildReplace;
  const int32_t index_size = replace ? block[LOA_RECORD] : t.index_size;
  if (FindPool(index_size) == 0) return Report(-76, index_size, t.databank);
  if (kPageHeaderBytes + 4 * (t.key_length + kChildBytes) > index_size)
    return Report(-67, t.key_length, t.databank);
  if (!replace && (t.key_length != t.table_key_length || t.record_length != t.table_record_length ||
                   t.data_size != t.table_data_size))
    return Report(-67, t.record_length, t.databank);
  int32_t chain = block[LOA_CHAIN];
  const bool keep_old = !replace && t.levels > 0;
  if (chain == 0 && !replace) return 0;  // nothing loaded: the table stays as it is
  if (keep_old) {
    int32_t duplicates = 0;
    if (int32_t rc = MergeWithTable(block, t, &chain, &duplicates)) return rc;
    block[LOA_DUPLICATES] += duplicates;
    block[LOA_CHAIN] = chain;
  }
  std::vector<int32_t> leaves, inner;
  // A table that had no tree loses nothing when its root page reaches disk
  // late: its tree's pages are only ordered before it.
  const bool linked = !replace && !keep_old && !t.work;
  int32_t top = 0, levels = 0;
  auto fail = [&](int32_t rc) {
    FreePages(t, inner, index_size);
    if (leaves.empty())
      FreeChain(t.databank, chain, t.data_size);
    else
      FreePages(t, leaves, t.data_size);
    block[LOA_CHAIN] = 0;
    return rc;
  };
  if (chain != 0) {
    if (int32_t rc = ChainPages(t, chain, &leaves)) return fail(rc);
    std::vector<int32_t> level = leaves;
    int32_t size = t.data_size, length = t.record_length;
    levels = 1;
    while (level.size() > 1) {
      std::vector<int32_t> up;
      int32_t rc = BuildLevel(t, index_size, level, size, length, &up, levels == 1, linked);
      inner.insert(inner.end(), up.begin(), up.end());
      if (rc < 0) return fail(rc);
      level.swap(up);
      size = index_size, length = t.key_length + kChildBytes;
      ++levels;
    }
    top = level[0];
    // Every page of the new tree is on disk before the root entry names it:
    // written now when an old tree goes as soon as the root entry is
    // written, else ordered before the root page, which stays changed.
    if (!t.work && !linked) {
      if (int32_t rc = WriteNewPages(t, &leaves, t.data_size)) return fail(rc);
      if (int32_t rc = WriteNewPages(t, &inner, index_size)) return fail(rc);
    }
  }
  int32_t rc = Install(block, t, index_size, top, levels, replace, linked);
  if (rc < 0 && rc != -61) return fail(rc);
  block[LOA_CHAIN] = 0;
  if (rc == 0 && keep_old)
    DKDRP0(t.databank, t.top, t.levels, t.index_size, t.table_data_size, t.table_key_length,
           t.kind);
  return rc;
}

}  // namespace

void DKBIN1(int32_t* block) {
  block[LOA_STATUS] = Build(block);
}
