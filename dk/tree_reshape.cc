// Reorganisation of pages of fixed-length entries on the walk down a tree
// (DKREO0, and DKWRE0 for a work databank): a new top page when the top is
// full, the removal of a top page with a single entry, and between a page
// and its neighbour under the same parent a split, shifts and merges. The
// walk holds the parent and the child; a neighbour or a new page is taken
// while both are held, so pages are always taken parent first, then the
// child, then its neighbour.
#include <algorithm>
#include <cstring>
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

constexpr int32_t kIndexDKREO0 = -95, kIndexDKWRE0 = -126;
constexpr int32_t kIndexDKREV0 = -96, kIndexDKWRV0 = -128;
constexpr int32_t kNoMove = 0, kMoved = 1;

struct Reshape {
  int32_t* tab;
  const uint8_t* key;
  int32_t* parent;
  int32_t* child;
  int32_t routine;
  bool work;
  int32_t s, l, k, lp;  // child's page size and entry length, key length, parent's entry length

  uint8_t* Parent() const { return PageBytes(*parent); }
  uint8_t* Child() const { return PageBytes(*child); }
  int32_t Position() const { return tab[TAB_POSITION]; }
  int32_t ParentEnd() const { return tab[TAB_USED_END]; }
  bool HasRight() const { return Position() + lp < ParentEnd(); }
  bool IsFirst() const { return Position() == kPageHeaderBytes; }
  int32_t Count(const uint8_t* p) const { return (UsedEnd(p) - kPageHeaderBytes) / l; }
  bool Leaf() const { return tab[TAB_LEVEL] >= tab[TAB_LEVELS]; }
};

int32_t Fail(const Reshape& r, int32_t rc, int32_t page) {
  ReportPageError(r.routine, rc, 3, page, r.tab[TAB_DATABANK]);
  return rc;
}

// A page of `size` bytes taken in the file, zero from byte 4.
int32_t NewPage(const Reshape& r, int32_t size) {
  int32_t rq[REQ_WORDS] = {r.tab[TAB_DATABANK], 0, size, 0, -1, 0};
  int32_t b = DKHLD0(rq, -1);
  if (b < 0) {
    r.tab[TAB_RC] = rq[REQ_RC];
    r.tab[TAB_OS_ERROR] = rq[REQ_OS_ERROR];
  }
  return b;
}

// Frees a held page no parent names any more. Outside a work databank the
// page is given back only once `keeper` (the page that stopped naming it,
// of any size) is on disk, so a crash never leaves the file naming a page
// taken again.
void FreePage(const Reshape& r, int32_t buffer, int32_t size, int32_t keeper) {
  int32_t rq[REQ_WORDS] = {r.tab[TAB_DATABANK], BufferPage(buffer), size, 0, -1, 0};
  int32_t owner = std::max(r.tab[TAB_WRITE_MODE], 0);
  if (!r.work && DKRPL0(keeper, rq[REQ_PAGE], owner, size) == 0) {
    DKWRP0(rq, WRP_DROP, buffer);
    return;
  }
  DKFRE0(rq, buffer);
}

// A new leaf joins the transaction's write set as a moved one does: it
// reaches disk before the parent that names it.
void LinkNewLeaf(const Reshape& r, int32_t buffer) {
  if (!r.work && r.tab[TAB_WRITE_MODE] > 0 && r.Leaf()) DKMRK0(*r.parent, MRK_LINK, buffer);
}

int32_t GetNeighbour(const Reshape& r, int32_t position) {
  const uint8_t* pp = r.Parent();
  int32_t held[2] = {*r.parent, *r.child};
  return GetTreePage(r.tab, LoadChild(pp + position + r.k), GET_UPDATE, r.l, pp + position, held, 2,
                     r.routine);
}

void SetHighKey(const Reshape& r, int32_t position, const uint8_t* page) {
  std::memcpy(r.Parent() + position, page + UsedEnd(page) - r.l, static_cast<size_t>(r.k));
}

// With a TSS, a leaf that a move changes and that is not yet in the
// transaction's write set (no write-order link) goes to a new place: the
// parent names the new page, which must reach disk before the parent, and
// the old page is freed once the parent is on disk. So the file keeps the
// old leaf until the parent that names its successor is written.
int32_t Relocate(const Reshape& r, int32_t buffer) {
  if (r.work || r.tab[TAB_WRITE_MODE] <= 0 || !r.Leaf() || DKGPA0(GPA_WAITER, buffer) != 0)
    return 0;
  const int32_t old_page = BufferPage(buffer);
  uint8_t* pp = r.Parent();
  int32_t position = kPageHeaderBytes;
  while (position < UsedEnd(pp) && LoadChild(pp + position + r.k) != old_page) position += r.lp;
  if (position >= UsedEnd(pp)) return Fail(r, -63, BufferPage(*r.parent));
  int32_t rq[REQ_WORDS] = {r.tab[TAB_DATABANK], 0, r.s, 0, -1, 0};
  int32_t rc = DKHLD0(rq, buffer);
  if (rc == -21) return 0;  // stays in place; the lack of space shows on the insert
  if (rc < 0) return rc;
  StoreChild(pp + position + r.k, rq[REQ_PAGE]);
  if (DKRPL0(*r.parent, old_page, r.tab[TAB_WRITE_MODE], r.s) != 0) {
    int32_t frq[REQ_WORDS] = {r.tab[TAB_DATABANK], old_page, r.s, 0, -1, 0};
    DKFRE0(frq, 0);
  }
  DKMRK0(*r.parent, MRK_LINK, buffer);
  return 0;
}

// After a move: the parent is searched again for the key and the walk goes
// on with whichever of the two pages the entry found names; the other one
// is released.
int32_t FinishMove(const Reshape& r, int32_t a, int32_t b) {
  MarkChanged(*r.parent);
  for (int32_t x : {a, b})
    if (x > 0) {
      MarkChanged(x);
      if (int32_t rc = Relocate(r, x); rc < 0) {
        if (b > 0) ReleaseTreePage(r.tab, x == a ? b : a, r.Leaf() ? -62 : -60, r.routine);
        *r.child = x == a ? a : b;
        return rc;
      }
    }
  const int32_t size = r.tab[TAB_PAGE_SIZE];
  r.tab[TAB_PAGE_SIZE] = LevelPageSize(r.tab, r.tab[TAB_LEVEL] - 1);
  int32_t found = DKSearchFixed(r.tab, r.key, r.Parent());
  r.tab[TAB_PAGE_SIZE] = size;
  int32_t page =
      found >= 0 && r.Position() < r.ParentEnd() ? LoadChild(r.Parent() + r.Position() + r.k) : -1;
  int32_t keep = page == BufferPage(a) ? a : (b > 0 && page == BufferPage(b) ? b : 0);
  int32_t fail = r.Leaf() ? -62 : -60;
  int32_t rc = 0;
  for (int32_t x : {a, b})
    if (x > 0 && x != keep) {
      int32_t w = ReleaseTreePage(r.tab, x, fail, r.routine);
      rc = rc < 0 ? rc : w;
    }
  *r.child = keep;
  if (keep == 0) return Fail(r, -63, BufferPage(*r.parent));
  return rc < 0 ? rc : kMoved;
}

int32_t Split(const Reshape& r) {
  uint8_t* a = r.Child();
  int32_t count = std::min((r.s - kPageHeaderBytes) / (2 * r.l), r.Count(a) - 1);
  int32_t parent_size = LevelPageSize(r.tab, r.tab[TAB_LEVEL] - 1);
  if (count < 1 || r.ParentEnd() + r.lp > parent_size) return kNoMove;
  int32_t b = NewPage(r, r.s);
  if (b == -21) return kNoMove;  // the caller's own step reports the lack of space
  if (b < 0) return b;
  LinkNewLeaf(r, b);
  uint8_t* bp = PageBytes(b);
  SetPageWord(bp, PAGE_ENTRY_LENGTH, r.l);
  SetPageWord(bp, PAGE_USED_END, kPageHeaderBytes);
  MoveLastEntries(a, bp, count);
  std::vector<uint8_t> entry(static_cast<size_t>(r.lp));
  std::memcpy(entry.data(), r.Parent() + r.Position(), static_cast<size_t>(r.k));
  StoreChild(entry.data() + r.k, BufferPage(b));
  SetHighKey(r, r.Position(), a);
  InsertFixedEntry(r.Parent(), r.Position() + r.lp, entry.data());
  return FinishMove(r, *r.child, b);
}

// Moves entries from the end of `left` to the front of `right` (left's
// parent entry at `position` gets its new high key). Nothing moves when the
// count leaves no entry behind or leaves the receiver without room for one
// more entry: with few long entries to a page, a full receiver would hand
// them back for the key that lands on it, and the two pages would take
// turns being full.
bool ShiftRight(const Reshape& r, int32_t left, int32_t right, int32_t position, int32_t count) {
  uint8_t* lp = PageBytes(left);
  uint8_t* rp = PageBytes(right);
  count = std::min({count, r.Count(lp) - 1, (r.s - r.l - UsedEnd(rp)) / r.l});
  if (count < 1) return false;
  MoveLastEntries(lp, rp, count);
  SetHighKey(r, position, lp);
  return true;
}

bool ShiftLeft(const Reshape& r, int32_t left, int32_t right, int32_t position, int32_t count) {
  uint8_t* lp = PageBytes(left);
  uint8_t* rp = PageBytes(right);
  count = std::min({count, r.Count(rp) - 1, (r.s - r.l - UsedEnd(lp)) / r.l});
  if (count < 1) return false;
  MoveFirstEntries(rp, lp, count);
  SetHighKey(r, position, lp);
  return true;
}

// Appends every entry of `right` to `left`; the parent entry of left (at
// `position`) goes and the one that named right names left.
int32_t Merge(const Reshape& r, int32_t left, int32_t right, int32_t position) {
  uint8_t* lp = PageBytes(left);
  uint8_t* rp = PageBytes(right);
  MoveFirstEntries(rp, lp, r.Count(rp));
  uint8_t* pp = r.Parent();
  StoreChild(pp + position + r.lp + r.k, BufferPage(left));
  RemoveFixedEntry(pp, position);
  MarkChanged(*r.parent);
  FreePage(r, right, r.s, *r.parent);
  return FinishMove(r, left, 0);
}

// Insert side below the top: shift to a neighbour with room, else split.
int32_t MakeRoom(const Reshape& r) {
  const int32_t u = UsedEnd(r.Child());
  const int32_t limit = u - (r.s - kPageHeaderBytes) / 4;
  if (r.HasRight()) {
    int32_t right = GetNeighbour(r, r.Position() + r.lp);
    if (right < 0) return right;
    int32_t ub = UsedEnd(PageBytes(right));
    if (ub <= limit && ShiftRight(r, *r.child, right, r.Position(), (u - ub + r.l) / (2 * r.l)))
      return FinishMove(r, *r.child, right);
    DKPUT0(PUT_UNCHANGED, right);
  }
  if (!r.IsFirst()) {
    int32_t left = GetNeighbour(r, r.Position() - r.lp);
    if (left < 0) return left;
    int32_t ul = UsedEnd(PageBytes(left));
    if (ul <= limit &&
        ShiftLeft(r, left, *r.child, r.Position() - r.lp, (u - ul + r.l) / (2 * r.l)))
      return FinishMove(r, left, *r.child);
    DKPUT0(PUT_UNCHANGED, left);
  }
  return Split(r);
}

// Delete side below the top: merge with a neighbour that fits, else take
// entries from one.
int32_t Refill(const Reshape& r) {
  const int32_t u = UsedEnd(r.Child());
  const int32_t room = r.s - r.l - u;
  if (r.HasRight()) {
    int32_t right = GetNeighbour(r, r.Position() + r.lp);
    if (right < 0) return right;
    int32_t ub = UsedEnd(PageBytes(right));
    if (ub <= room) return Merge(r, *r.child, right, r.Position());
    if (r.IsFirst()) {
      if (ShiftLeft(r, *r.child, right, r.Position(), (ub - u + r.l) / (2 * r.l)))
        return FinishMove(r, *r.child, right);
      DKPUT0(PUT_UNCHANGED, right);
      return kNoMove;
    }
    DKPUT0(PUT_UNCHANGED, right);
  }
  if (r.IsFirst()) return kNoMove;
  int32_t left = GetNeighbour(r, r.Position() - r.lp);
  if (left < 0) return left;
  int32_t ul = UsedEnd(PageBytes(left));
  if (ul < room) return Merge(r, left, *r.child, r.Position() - r.lp);
  if (ShiftRight(r, left, *r.child, r.Position() - r.lp, (ul - u + r.l) / (2 * r.l)))
    return FinishMove(r, left, *r.child);
  DKPUT0(PUT_UNCHANGED, left);
  return kNoMove;
}

int32_t SplitDirectory(const Reshape& r);

int32_t* RootRecord(const Reshape& r) {
  return Bufferpool() + r.tab[TAB_ROOT_RECORD];
}

// The top page is full: a new top page with the fill key names it, the tree
// grows by a level, and the old top is split under the new one.
int32_t GrowTree(Reshape& r) {
  if (r.tab[TAB_LEVELS] >= kMaxLevels) return kNoMove;
  const int32_t inner = r.tab[TAB_INNER_SIZE];
  int32_t t = NewPage(r, inner);
  if (t == -21) return kNoMove;
  if (t < 0) return t;
  uint8_t* tp = PageBytes(t);
  r.lp = r.k + kChildBytes;
  SetPageWord(tp, PAGE_ENTRY_LENGTH, r.lp);
  SetPageWord(tp, PAGE_USED_END, kPageHeaderBytes + r.lp);
  std::memset(tp + kPageHeaderBytes, 0xFF, static_cast<size_t>(r.k));
  StoreChild(tp + kPageHeaderBytes + r.k, BufferPage(*r.child));
  MarkChanged(t);
  // The root page stops naming the old top; a write-order link from it to
  // the root page would make writing the root page write the old top, which
  // this walk holds.
  DKMRK0(r.tab[TAB_ROOT_BUFFER], MRK_UNLINK, *r.child);
  // The new top page reaches disk before the root entry that names it.
  if (!r.work) DKMRK0(r.tab[TAB_ROOT_BUFFER], MRK_LINK, t);
  int32_t* record = RootRecord(r);
  record[RE_TOP] = BufferPage(t);
  record[RE_LEVELS] += 1;
  MarkChanged(r.tab[TAB_ROOT_BUFFER]);
  r.tab[TAB_LEVELS] += 1;
  r.tab[TAB_LEVEL] = 2;
  r.tab[TAB_POSITION] = kPageHeaderBytes;
  r.tab[TAB_USED_END] = kPageHeaderBytes + r.lp;
  *r.parent = t;
  int32_t rc = DirectoryLevel(r.tab, 2) ? SplitDirectory(r) : Split(r);
  return rc == kNoMove ? kMoved : rc;
}

// A top page with a single entry above other levels gives its place to its
// child.
int32_t ShrinkTree(Reshape& r) {
  const uint8_t* top = r.Child();
  if (r.tab[TAB_LEVELS] <= 1 || UsedEnd(top) - r.k > kPageHeaderBytes + kChildBytes) return kNoMove;
  int32_t old_top = *r.child;
  r.tab[TAB_LEVEL] = 2;
  int32_t held[2] = {old_top, r.tab[TAB_ROOT_BUFFER]};
  int32_t next = GetTreePage(r.tab, LoadChild(top + kPageHeaderBytes + r.k), GET_UPDATE,
                             LevelEntryLength(r.tab, 2), nullptr, held, 2, r.routine);
  r.tab[TAB_LEVEL] = 1;
  if (next < 0) return next;
  int32_t* record = RootRecord(r);
  record[RE_TOP] = BufferPage(next);
  record[RE_LEVELS] -= 1;
  r.tab[TAB_LEVELS] -= 1;
  MarkChanged(r.tab[TAB_ROOT_BUFFER]);
  // The old top is dropped: a write-order link from its child to it would
  // make the drop write the child, which this walk holds.
  DKMRK0(old_top, MRK_UNLINK, next);
  FreePage(r, old_top, r.tab[TAB_INNER_SIZE], r.tab[TAB_ROOT_BUFFER]);
  *r.child = next;
  r.tab[TAB_PAGE_SIZE] = LevelPageSize(r.tab, 1);
  return kMoved;
}

// ---- Directory pages ----
// Entries of varying length move between two neighbours as a whole: the
// entries of both pages are laid side by side and cut at one boundary, the
// one that leaves the two pages' bytes nearest to equal while each page
// keeps an entry, fits its page, and the page the key will land on keeps
// room for the entry to come.

struct DirEntry {
  const uint8_t* bytes;
  int32_t length;
};

// Entries of a directory page, pointing into `copy` (the page's bytes).
void CollectEntries(const std::vector<uint8_t>& copy, int32_t size, std::vector<DirEntry>* out) {
  const uint8_t* p = copy.data();
  for (int32_t i = 1; i <= DirCount(p, size); ++i)
    out->push_back({p + DirOffset(p, size, i), DirLength(p, size, i)});
}

// The boundary b (entries [0, b) to the left page) for `entries`, or 0 when
// none keeps both pages sound. `room` is what the key's page must keep free
// beyond its entries.
int32_t ChooseBoundary(const Reshape& r, const std::vector<DirEntry>& entries, int32_t room) {
  const int32_t n = static_cast<int32_t>(entries.size());
  const int64_t cap = r.s - kPageHeaderBytes - 4;  // the count word
  int64_t total = 0;
  for (const DirEntry& e : entries) total += e.length + 4;
  // Entries below the key go left of it; the key lands left when the left
  // page's last entry is not below it.
  int32_t below = 0;
  while (below < n) {
    ConstByteSpan stored(entries[below].bytes, static_cast<size_t>(entries[below].length));
    int32_t c = DKCompareKey(stored, 0, ConstByteSpan(r.key, static_cast<size_t>(r.k)), 0, r.k,
                             r.tab[TAB_METHOD]);
    if (c < -1) return -1;
    if (c >= 0) break;
    ++below;
  }
  int32_t best = 0;
  int64_t best_gap = INT64_MAX, left = 0;
  for (int32_t b = 1; b < n; ++b) {
    left += entries[b - 1].length + 4;
    int64_t right = total - left;
    bool key_left = b > below;
    if (left + (key_left ? room : 0) > cap || right + (key_left ? 0 : room) > cap) continue;
    int64_t gap = left > right ? left - right : right - left;
    if (gap < best_gap) best = b, best_gap = gap;
  }
  return best;
}

void FillDirectory(uint8_t* page, int32_t size, int32_t length, const DirEntry* from,
                   const DirEntry* to) {
  DirFormat(page, size, length);
  for (int32_t i = 1; from != to; ++from, ++i) DirInsert(page, size, i, from->bytes, from->length);
}

// The first K bytes of a directory page's last record, the page's high key.
int32_t DirHighKey(const Reshape& r, const uint8_t* page, uint8_t* key) {
  int32_t n = DirCount(page, r.s);
  ConstByteSpan stored(page + DirOffset(page, r.s, n),
                       static_cast<size_t>(DirLength(page, r.s, n)));
  int32_t produced = r.k;
  int32_t rc = DKExpand(ByteSpan(key, static_cast<size_t>(r.k)), 0, &produced, stored, 0,
                        static_cast<int32_t>(stored.size()), r.tab[TAB_METHOD]);
  return rc < 0 || produced != r.k ? -65 : 0;
}

// Cuts the entries of `left` and `right` (right may be a new empty page)
// anew; left's parent entry at `position` gets its new high key.
int32_t Rebalance(const Reshape& r, int32_t left, int32_t right, int32_t position, int32_t room) {
  std::vector<uint8_t> lc(PageBytes(left), PageBytes(left) + r.s);
  std::vector<uint8_t> rc(PageBytes(right), PageBytes(right) + r.s);
  std::vector<DirEntry> entries;
  CollectEntries(lc, r.s, &entries);
  CollectEntries(rc, r.s, &entries);
  int32_t b = ChooseBoundary(r, entries, room);
  if (b < 0) return Fail(r, -65, BufferPage(left));
  if (b == 0 || b == DirCount(lc.data(), r.s)) return kNoMove;  // nothing would move
  FillDirectory(PageBytes(left), r.s, r.l, entries.data(), entries.data() + b);
  FillDirectory(PageBytes(right), r.s, r.l, entries.data() + b, entries.data() + entries.size());
  if (DirHighKey(r, PageBytes(left), r.Parent() + position) != 0)
    return Fail(r, -65, BufferPage(left));
  return kMoved;
}

int32_t SplitDirectory(const Reshape& r) {
  int32_t parent_size = LevelPageSize(r.tab, r.tab[TAB_LEVEL] - 1);
  if (r.ParentEnd() + r.lp > parent_size || DirCount(r.Child(), r.s) < 2) return kNoMove;
  int32_t b = NewPage(r, r.s);
  if (b == -21) return kNoMove;
  if (b < 0) return b;
  LinkNewLeaf(r, b);
  DirFormat(PageBytes(b), r.s, r.l);
  std::vector<uint8_t> entry(static_cast<size_t>(r.lp));
  std::memcpy(entry.data(), r.Parent() + r.Position(), static_cast<size_t>(r.k));
  StoreChild(entry.data() + r.k, BufferPage(b));
  int32_t rc = Rebalance(r, *r.child, b, r.Position(), r.tab[TAB_NEW_LENGTH] + 4);
  if (rc != kMoved) {
    int32_t rq[REQ_WORDS] = {r.tab[TAB_DATABANK], BufferPage(b), r.s, 0, -1, 0};
    DKFRE0(rq, b);
    return rc;
  }
  InsertFixedEntry(r.Parent(), r.Position() + r.lp, entry.data());
  return FinishMove(r, *r.child, b);
}

int32_t MergeDirectory(const Reshape& r, int32_t left, int32_t right, int32_t position) {
  std::vector<uint8_t> rcopy(PageBytes(right), PageBytes(right) + r.s);
  std::vector<DirEntry> entries;
  CollectEntries(rcopy, r.s, &entries);
  uint8_t* lp = PageBytes(left);
  for (const DirEntry& e : entries) DirInsert(lp, r.s, DirCount(lp, r.s) + 1, e.bytes, e.length);
  uint8_t* pp = r.Parent();
  StoreChild(pp + position + r.lp + r.k, BufferPage(left));
  RemoveFixedEntry(pp, position);
  MarkChanged(*r.parent);
  FreePage(r, right, r.s, *r.parent);
  return FinishMove(r, left, 0);
}

// Room on the insert side: share with a neighbour that uses at most a
// quarter of a page less than the child, else split. On the delete side:
// merge with a neighbour that uses less than the child leaves free, else
// share.
int32_t ReorganiseDirectory(const Reshape& r, bool insert_side) {
  const int32_t room = insert_side ? r.tab[TAB_NEW_LENGTH] + 4 : 0;
  const uint8_t* c = r.Child();
  const int32_t limit = UsedEnd(c) - (r.s - kPageHeaderBytes) / 4;
  const int32_t free = r.s - UsedEnd(c) - 4 * DirCount(c, r.s);
  for (bool right_side : {true, false}) {
    if (right_side ? !r.HasRight() : r.IsFirst()) continue;
    int32_t position = right_side ? r.Position() : r.Position() - r.lp;
    int32_t other = GetNeighbour(r, right_side ? r.Position() + r.lp : position);
    if (other < 0) return other;
    int32_t left = right_side ? *r.child : other, right = right_side ? other : *r.child;
    const uint8_t* o = PageBytes(other);
    if (!insert_side && DirUsed(o, r.s) < free) return MergeDirectory(r, left, right, position);
    // As on fixed pages: below half, only the parent's first child takes
    // from its right neighbour; the others take from the left one.
    int32_t rc = kNoMove;
    if (insert_side ? UsedEnd(o) + 4 * (DirCount(o, r.s) + 2) <= limit : !right_side || r.IsFirst())
      rc = Rebalance(r, left, right, position, room);
    if (rc == kMoved) return FinishMove(r, left, right);
    DKPUT0(PUT_UNCHANGED, other);
    if (rc < 0) return rc;
  }
  return insert_side ? SplitDirectory(r) : kNoMove;
}

int32_t ReorganiseFixed(int32_t* tab, const uint8_t* key, int32_t* parent, int32_t* child,
                        bool work) {
  CountWord(work ? BP_WORK_REORGS : BP_CAREFUL_REORGS);
  Reshape r{tab, key, parent, child, work ? kIndexDKWRE0 : kIndexDKREO0, work, 0, 0, 0, 0};
  const uint8_t* c = r.Child();
  r.s = tab[TAB_PAGE_SIZE];
  r.l = EntryLength(c);
  r.k = tab[TAB_KEY_LENGTH];
  r.lp = r.k + kChildBytes;
  const bool insert_side = UsedEnd(c) + r.l > r.s;
  if (tab[TAB_LEVEL] == 1) return insert_side ? GrowTree(r) : ShrinkTree(r);
  return insert_side ? MakeRoom(r) : Refill(r);
}

int32_t ReorganiseLeaves(int32_t* tab, const uint8_t* key, int32_t* parent, int32_t* child,
                         bool work) {
  CountWord(work ? BP_WORK_REORGS : BP_CAREFUL_REORGS);
  Reshape r{tab, key, parent, child, work ? kIndexDKWRV0 : kIndexDKREV0, work, 0, 0, 0, 0};
  r.s = tab[TAB_PAGE_SIZE];
  r.l = tab[TAB_RECORD_LENGTH];
  r.k = tab[TAB_KEY_LENGTH];
  r.lp = r.k + kChildBytes;
  // The branch follows the page: one without room for the entry to come is
  // on the insert side.
  const bool insert_side = DirUsed(r.Child(), r.s) + 4 + tab[TAB_NEW_LENGTH] > r.s;
  // A directory leaf that is the top page is left alone on the delete side.
  if (tab[TAB_LEVEL] == 1) return insert_side ? GrowTree(r) : kNoMove;
  return ReorganiseDirectory(r, insert_side);
}

}  // namespace

int32_t DKREO0(int32_t* tab, const uint8_t* key, int32_t* parent, int32_t* child) {
  return ReorganiseFixed(tab, key, parent, child, false);
}

int32_t DKWRE0(int32_t* tab, const uint8_t* key, int32_t* parent, int32_t* child) {
  return ReorganiseFixed(tab, key, parent, child, true);
}

int32_t DKREV0(int32_t* tab, const uint8_t* key, int32_t* parent, int32_t* child) {
  return ReorganiseLeaves(tab, key, parent, child, false);
}

int32_t DKWRV0(int32_t* tab, const uint8_t* key, int32_t* parent, int32_t* child) {
  return ReorganiseLeaves(tab, key, parent, child, true);
}
