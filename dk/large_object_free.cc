// Freeing the pages of a large object: by runs of pages that follow each
// other in the file (DKFLO1, the form the large-object directory records
// keep) or by the caller's page list (DKFLX1). Every page is read for update
// and freed through the bitmap; runs and lists are checked whole before the
// first page is freed, so a bad entry frees nothing.
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/databank_format.h"
#include "dk/large_object.h"
#include "dk/large_object_internal.h"
#include "dk/page_entries.h"
#include "dk/page_tree.h"
#include "dk/table_entries.h"
#include "dk/verification_pages.h"
#include "platform/enqdeq.h"

namespace {

constexpr int32_t kIndexDKFLO1 = DKF_FLO1;
constexpr int32_t kIndexDKFLX1 = DKF_FLX1;
constexpr int32_t kIndexDKDRP0 = -32;

// Frees the block's runs in `databank` (DKFLO1 after its databank is found).
void FreeRuns(int32_t databank, int32_t* block);

int32_t UnitsOf(int32_t page_size) {
  return page_size / 2048;
}

// -76 or -43 for a run that names no pages of its size inside chunks.
int32_t CheckRun(const int32_t* run, int32_t databank) {
  const int32_t page = run[RUN_PAGE], size = run[RUN_PAGE_SIZE], pages = run[RUN_PAGES];
  if (size != 2048 && size != 16384 && size != 65536) return LobReport(kIndexDKFLO1, -76, size);
  if (pages < 0) return LobReport(kIndexDKFLO1, -43, pages);
  if (pages == 0) return 0;
  const int64_t last = page + int64_t{UnitsOf(size)} * (pages - 1);
  // Its pages follow each other, so a run that left its chunk would cover
  // the next bitmap page.
  if (!LobPageSound(page, size) || !LobPageSound(last, size) ||
      page / kBitmapChunkUnits != last / kBitmapChunkUnits)
    return LobReport(kIndexDKFLO1, -43, page, databank);
  return 0;
}

// Reads one page of the tree: a leaf's runs go to `runs`, an index page's
// children to `pages`. False when the page cannot be read or is corrupt.
bool ReadTreePage(int32_t databank, const TreeShape& s, int32_t page, int32_t level,
                  std::vector<std::pair<int32_t, int32_t>>* pages, std::vector<PageRun>* runs) {
  const bool leaf = level >= s.levels;
  const int32_t size = leaf ? s.leaf_size : s.inner_size;
  if (!TreePageNumber(page, size)) return false;
  int32_t rq[REQ_WORDS] = {databank, page, size, 0, -1, 0};
  const int32_t b = DKGET0(rq, GET_SHARED);
  if (b <= 0) return false;
  const uint8_t* p = PageBytes(b);
  bool sound = false;
  if (DKPageTorn(b)) {
  } else if (leaf) {
    std::vector<PageRun> found;
    sound = CheckLeafPage(s, p, false, KeyBounds{}, &found);
    if (sound) runs->insert(runs->end(), found.begin(), found.end());
  } else {
    std::vector<int32_t> children;
    std::vector<std::vector<uint8_t>> keys;
    sound = CheckIndexPage(s, p, false, KeyBounds{}, &children, &keys);
    if (sound)
      for (int32_t child : children) pages->emplace_back(child, level + 1);
  }
  DKPUT0(PUT_END_SHARED, b);
  return sound;
}

}  // namespace

int32_t FirstCopyOf(int32_t databank) {
  int32_t* a = Bufferpool();
  EnqdeqGuard guard(a + BP_LOCK_DATABANK_HASH);
  const int32_t head = DKHMI0(LoadWord(BP_DATABANK_HASH), a[databank + DBE_DID]);
  if (!DKIsDatabankEntry(head) || head == databank) return 0;
  const int32_t limit = LoadWord(BP_DATABANK_COUNT);
  for (int32_t d = a[head + DBE_DEPENDENT], n = 0; DKIsDatabankEntry(d) && n < limit;
       d = a[d + DBE_DEPENDENT], ++n)
    if (d == databank) return head;
  return 0;
}

namespace {

// Whether every page of the run is a whole large-object page of the
// record's object. A copy's record under the first copy's SEQNO names pages
// of the copy when they were moved there, but a record the copy took as it
// came names the first copy's page numbers, which here may hold anything.
bool RunHoldsObject(int32_t databank, const PageRun& r) {
  if (r.page_size != 2048 && r.page_size != 16384 && r.page_size != 65536) return false;
  for (int32_t k = 0; k < r.pages; ++k) {
    const int64_t page = r.page + int64_t{k} * UnitsOf(r.page_size);
    if (!LobPageSound(page, r.page_size)) return false;
    int32_t rq[REQ_WORDS] = {databank, static_cast<int32_t>(page), r.page_size, 0, -1, 0};
    const int32_t b = DKGET0(rq, GET_SHARED);
    if (b <= 0) return false;
    const uint8_t* p = PageBytes(b);
    bool same = LobFrameSound(p, r.page_size);
    for (int32_t i = 0; same && i < LOB_IDENTITY_WORDS; ++i)
      same = PageWord(p, LOP_IDENTITY + i) == r.identity[i];
    DKPUT0(PUT_END_SHARED, b);
    if (!same) return false;
  }
  return true;
}

}  // namespace

// Those under its own SEQNO, and on a later copy those under the first
// copy's whose pages are the object's here.
bool HoldsRun(int32_t databank, const PageRun& r) {
  if (r.pages == 0) return false;
  const int32_t* a = Bufferpool();
  if (r.seqno == a[databank + DBE_SEQNO]) return true;
  const int32_t first = FirstCopyOf(databank);
  return first != 0 && r.seqno == a[first + DBE_SEQNO] && RunHoldsObject(databank, r);
}

int32_t FreeRunIn(int32_t databank, const PageRun& r) {
  int32_t free[FLO_FIRST_RUN + RUN_WORDS] = {0, 1, 0, r.page, 0, r.page_size, r.pages};
  FreeRuns(databank, free);
  return free[FLO_STATUS];
}

int32_t FreeTreeObjects(int32_t databank, const int32_t* entry) {
  TreeShape s;
  if (!TreeShapeOf(entry, &s) || s.kind != kKindLobRefs || s.levels == 0) return 0;
  int32_t status = 0;
  std::vector<PageRun> runs;
  std::vector<std::pair<int32_t, int32_t>> pages = {{s.top, 1}};
  // A damaged tree may name pages more than once; no file has more pages
  // than this, so a longer walk is stopped.
  const int64_t most = (int64_t{1} << 31) / (s.leaf_size / kUnitBytes);
  for (int64_t visited = 0; !pages.empty(); ++visited) {
    const auto [page, level] = pages.back();
    pages.pop_back();
    if (visited > most || !ReadTreePage(databank, s, page, level, &pages, &runs)) {
      if (status == 0) status = LobReport(kIndexDKDRP0, -63, page, databank);
      if (visited > most) break;
    }
  }
  // Only the runs whose pages this databank holds, each once.
  std::erase_if(runs, [&](const PageRun& r) { return !HoldsRun(databank, r); });
  std::sort(runs.begin(), runs.end(),
            [](const PageRun& x, const PageRun& y) { return x.page < y.page; });
  for (size_t i = 0; i < runs.size(); ++i) {
    const PageRun& r = runs[i];
    if (i > 0 && runs[i - 1].page == r.page) continue;
    // Freed in this databank, not through its DID, which names the first copy.
    if (int32_t rc = FreeRunIn(databank, r); rc != 0 && status == 0) status = rc;
  }
  return status;
}

void DKFLO1(int32_t* block, void* did) {
  if (did == nullptr) return void(block[FLO_STATUS] = LobReport(kIndexDKFLO1, -43, 0));
  const int32_t databank = LobDatabank(*static_cast<const int32_t*>(did), kIndexDKFLO1);
  if (databank < 0) return void(block[FLO_STATUS] = databank);
  FreeRuns(databank, block);
}

namespace {

void FreeRuns(int32_t databank, int32_t* block) {
  const int32_t runs = block[FLO_RUNS];
  if (runs < 0) return void(block[FLO_STATUS] = LobReport(kIndexDKFLO1, -43, runs));
  for (int32_t r = 0; r < runs; ++r)
    if (int32_t rc = CheckRun(block + FLO_FIRST_RUN + RUN_WORDS * r, databank))
      return void(block[FLO_STATUS] = rc);
  for (int32_t r = 0; r < runs; ++r) {
    int32_t* run = block + FLO_FIRST_RUN + RUN_WORDS * r;
    for (int32_t k = 0; k < run[RUN_PAGES]; ++k) {
      const int32_t page = run[RUN_PAGE] + k * UnitsOf(run[RUN_PAGE_SIZE]);
      if (int32_t rc = FreeLobPage(databank, page, run[RUN_PAGE_SIZE])) {
        // The pages freed so far leave the block, so that its runs name only
        // pages still held and a second free cannot free one again.
        run[RUN_PAGE] = page;
        run[RUN_PAGES] -= k;
        std::memmove(block + FLO_FIRST_RUN, run,
                     sizeof(int32_t) * static_cast<size_t>(RUN_WORDS * (runs - r)));
        block[FLO_RUNS] = runs - r;
        return void(block[FLO_STATUS] = rc);
      }
    }
  }
  block[FLO_STATUS] = 0;
}

}  // namespace

void DKFLX1(int32_t* block, void*) {
  const int32_t databank = LobDatabank(block[LOB_DID], kIndexDKFLX1);
  if (databank < 0) return void(block[LOB_STATUS] = databank);
  LobPageList list;
  if (int32_t rc = OpenPageList(block[LOB_LIST], kIndexDKFLX1, &list))
    return void(block[LOB_STATUS] = rc);
  if (int32_t rc = CheckListPages(list, kIndexDKFLX1, databank, nullptr))
    return void(block[LOB_STATUS] = rc);
  for (int32_t i = 0; i < list.pages; ++i) {
    const int32_t rc = FreeLobPage(databank, list.pairs[2 * i], list.pairs[2 * i + 1]);
    if (rc != 0) {
      // The pages freed so far leave the list, so that it names only pages
      // the object still holds and a second free cannot free them again.
      std::memmove(list.pairs, list.pairs + 2 * i,
                   sizeof(int32_t) * static_cast<size_t>(2 * (list.pages - i)));
      list.pairs[2 * (list.pages - i)] = 0;
      return void(block[LOB_STATUS] = rc);
    }
  }
  list.pairs[0] = 0;
  block[LOB_STATUS] = 0;
}
