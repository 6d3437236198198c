// The walk down a table's tree: getting and checking each page of the path,
// calling the reorganisation where a page has no room for what the record
// routine will do, and releasing pages as the walk's write mode says. Also
// the release of a whole tree (DKDRP0).
#include "dk/page_tree.h"

#include <vector>

#include "dk/bitmap_page.h"
#include "dk/bufferpool.h"
#include "dk/compression.h"
#include "dk/control_area.h"
#include "dk/error_log.h"
#include "dk/page_entries.h"
#include "dk/table_entries.h"

namespace {

constexpr int32_t kIndexDKDRP0 = -32;

bool IsWorkDatabank(const int32_t* tab) {
  return Bufferpool()[tab[TAB_DATABANK] + DBE_KIND] == DBK_WORK;
}

int32_t Corrupt(const int32_t* tab, int32_t level, int32_t page, int32_t routine) {
  int32_t rc = level >= tab[TAB_LEVELS] ? -65 : -63;
  ReportPageError(routine, rc, 3, page, tab[TAB_DATABANK]);
  return rc;
}

// Whether a leaf (or inner page) needs the reorganisation before the
// record routine's step: room for one more entry (of tab word 16's length on
// a directory page), or enough left after one is gone.
bool NeedsRoom(const int32_t* tab, int32_t buffer, TreeRoom room) {
  const uint8_t* p = PageBytes(buffer);
  int32_t s = tab[TAB_PAGE_SIZE], l = EntryLength(p), u = UsedEnd(p);
  if (DirectoryLevel(tab, tab[TAB_LEVEL])) {
    int32_t used = DirUsed(p, s), e = tab[TAB_NEW_LENGTH];
    if (room == TreeRoom::kInsert) return used + 4 + e > s;
    if (room == TreeRoom::kDelete) return used - e < s / 2;
    return false;
  }
  if (room == TreeRoom::kInsert) return u + l > s;
  if (room == TreeRoom::kDelete) return u - l < s / 2;
  return false;
}

int32_t Reorganise(int32_t* tab, const uint8_t* key, int32_t* parent, int32_t* child) {
  const bool work = IsWorkDatabank(tab);
  if (DirectoryLevel(tab, tab[TAB_LEVEL]))
    return work ? DKWRV0(tab, key, parent, child) : DKREV0(tab, key, parent, child);
  return work ? DKWRE0(tab, key, parent, child) : DKREO0(tab, key, parent, child);
}

// Gives back what a failed walk still holds.
void ReleaseAll(int32_t* tab, bool shared, int32_t parent, int32_t child) {
  for (int32_t b : {child, parent, tab[TAB_ROOT_BUFFER]}) {
    if (b <= 0) continue;
    if (shared)
      ReleaseShared(b);
    else
      ReleaseTreePage(tab, b, b == tab[TAB_ROOT_BUFFER] ? -61 : -60, -69);
  }
  tab[TAB_ROOT_BUFFER] = 0;
}

}  // namespace

void MarkChanged(int32_t buffer) {
  DKPUT0(PUT_CHANGED_HOLD, buffer);
}

void ReleaseShared(int32_t buffer) {
  DKPUT0(PUT_END_SHARED, buffer);
}

int32_t BufferPage(int32_t buffer) {
  return LoadWord(BufferBcb(buffer) + BCB_PAGE);
}

int32_t ReleaseTreePage(const int32_t* tab, int32_t buffer, int32_t fail_code, int32_t routine) {
  if (BufferIoStatus(buffer) != IOS_CHANGED_HELD) {
    DKPUT0(PUT_UNCHANGED, buffer);
    return 0;
  }
  const int32_t mode = tab[TAB_WRITE_MODE];
  if (mode == -2 && !IsWorkDatabank(tab)) {
    int32_t page = BufferPage(buffer);
    int32_t rq[REQ_WORDS] = {tab[TAB_DATABANK], page, 0, 0, -1, 0};
    if (DKWRP0(rq, WRP_WRITE_WAIT, buffer) != 0) {
      ReportPageError(routine, fail_code, 3, page, tab[TAB_DATABANK]);
      return fail_code;
    }
    return 0;
  }
  if (mode > 0 && !IsWorkDatabank(tab)) DKMRK0(mode, MRK_WRITE_SET, buffer);
  DKPUT0(PUT_CHANGED, buffer);
  return 0;
}

int32_t LevelPageSize(const int32_t* tab, int32_t level) {
  return level >= tab[TAB_LEVELS] ? tab[TAB_LEAF_SIZE] : tab[TAB_INNER_SIZE];
}

int32_t LevelEntryLength(const int32_t* tab, int32_t level) {
  return level >= tab[TAB_LEVELS] ? tab[TAB_RECORD_LENGTH] : tab[TAB_KEY_LENGTH] + kChildBytes;
}

bool DirectoryLevel(const int32_t* tab, int32_t level) {
  return tab[TAB_METHOD] != 0 && level >= tab[TAB_LEVELS];
}

bool TreePageNumber(int32_t page, int32_t page_size) {
  int32_t units = page_size / kUnitBytes;
  return page > kHeaderUnit && units > 0 && page % units == 0 && page % kBitmapChunkUnits != 0;
}

namespace {

// The keys of a directory page's entries, expanded, rise strictly and the
// last is not above `bound` (null for none).
bool DirKeysOrdered(const int32_t* tab, const uint8_t* page, int32_t size, const uint8_t* bound) {
  const int32_t k = tab[TAB_KEY_LENGTH], n = DirCount(page, size);
  if (k < 1) return n <= 1;
  thread_local std::vector<uint8_t> keys;
  keys.resize(2 * static_cast<size_t>(k));
  ConstByteSpan area(page, static_cast<size_t>(size));
  for (int32_t i = 1; i <= n; ++i) {
    uint8_t* key = keys.data() + (i % 2) * k;
    int32_t produced = k;
    if (DKExpand(ByteSpan(key, static_cast<size_t>(k)), 0, &produced, area,
                 DirOffset(page, size, i), DirLength(page, size, i), tab[TAB_METHOD]) < 0 ||
        produced != k)
      return false;
    if (i > 1 && CompareKeys(keys.data() + ((i - 1) % 2) * k, key, k) >= 0) return false;
    if (i == n && bound && CompareKeys(key, bound, k) > 0) return false;
  }
  return true;
}

}  // namespace

int32_t GetTreePage(int32_t* tab, int32_t page, int32_t mode, int32_t length, const uint8_t* bound,
                    const int32_t* held, int32_t held_count, int32_t routine) {
  const int32_t level = tab[TAB_LEVEL], size = LevelPageSize(tab, level);
  bool named = false;
  for (int32_t i = 0; i < held_count; ++i) named |= held[i] > 0 && BufferPage(held[i]) == page;
  if (!TreePageNumber(page, size) || named || page == tab[TAB_ROOT_PAGE])
    return Corrupt(tab, level, page, routine);
  int32_t rq[REQ_WORDS] = {tab[TAB_DATABANK], page, size, 0, -1, 0};
  int32_t b = DKGET0(rq, mode);
  if (b < 0) {
    tab[TAB_RC] = rq[REQ_RC];
    tab[TAB_OS_ERROR] = rq[REQ_OS_ERROR];
    return b;
  }
  const uint8_t* p = PageBytes(b);
  const int32_t k = tab[TAB_KEY_LENGTH];
  const bool directory = DirectoryLevel(tab, level);
  bool sound = !DKPageTorn(b) &&
               (directory ? DirPageSound(p, size, length) : FixedPageSound(p, size, length, k));
  // The check state moves on (a background check ends) while tables are in use.
  if (sound && !directory && LoadWord(tab[TAB_DATABANK] + DBE_STATE) != kCheckComplete) {
    sound = FixedPageOrdered(p, size, length, k);
    int32_t u = UsedEnd(p);
    if (sound && bound && u > kPageHeaderBytes)
      sound = CompareKeys(p + u - EntryLength(p), bound, k) <= 0;
  }
  if (sound && directory && LoadWord(tab[TAB_DATABANK] + DBE_STATE) != kCheckComplete)
    sound = DirKeysOrdered(tab, p, size, bound);
  if (!sound) {
    DKPUT0(mode == GET_SHARED ? PUT_END_SHARED : PUT_UNCHANGED, b);
    return Corrupt(tab, level, page, routine);
  }
  return b;
}

namespace {

// Gives back a page the walk has moved past (the root page, -61, or a
// parent, -60); on failure everything else still held goes too. Written at
// once, a page that waits for the held child (a leaf a transaction moved)
// has the child written first: its write would otherwise wait for the walk.
int32_t Leave(int32_t* tab, bool shared, int32_t buffer, int32_t fail_code, int32_t routine,
              int32_t parent, int32_t child) {
  // A held page linked before `buffer` (a new top page before the root
  // page, a moved leaf before its parent) is written first.
  for (int32_t held : {parent, child}) {
    if (shared || held <= 0 || tab[TAB_WRITE_MODE] != -2 ||
        BufferIoStatus(buffer) != IOS_CHANGED_HELD ||
        DKGPA0(GPA_WAITER, held) != BufferBcb(buffer))
      continue;
    int32_t rq[REQ_WORDS] = {tab[TAB_DATABANK], BufferPage(held), 0, 0, -1, 0};
    if (DKWRP0(rq, WRP_WRITE_HOLD, held) < 0) {
      const int32_t rc = held == child && tab[TAB_LEVEL] >= tab[TAB_LEVELS] ? -62 : -60;
      ReportPageError(routine, rc, 3, rq[REQ_PAGE], tab[TAB_DATABANK]);
      DKPUT0(PUT_UNCHANGED, buffer);
      ReleaseAll(tab, shared, parent, child);
      return rc;
    }
  }
  int32_t rc =
      shared ? (ReleaseShared(buffer), 0) : ReleaseTreePage(tab, buffer, fail_code, routine);
  if (rc < 0) ReleaseAll(tab, shared, parent, child);
  return rc;
}

// Makes room on the child (or refills it) as the walk's purpose asks.
int32_t MakeRoomOn(int32_t* tab, const uint8_t* key, TreeRoom room, int32_t* parent, int32_t* child,
                   bool shared) {
  for (int tries = 0; tries < 4 && NeedsRoom(tab, *child, room); ++tries) {
    int32_t rc = Reorganise(tab, key, parent, child);
    if (rc < 0) {
      ReleaseAll(tab, shared, *parent, *child);
      return rc;
    }
    if (rc == 0) break;  // nothing could be moved
  }
  return 0;
}

}  // namespace

int32_t DescendToLeaf(int32_t* tab, const uint8_t* key, TreeRoom room, int32_t routine,
                      int32_t* search) {
  const bool shared = room == TreeRoom::kRead;
  const int32_t mode = shared ? GET_SHARED : GET_UPDATE;
  const int32_t k = tab[TAB_KEY_LENGTH];
  int32_t parent = 0;
  tab[TAB_LEVEL] = 1;
  tab[TAB_PAGE_SIZE] = LevelPageSize(tab, 1);
  int32_t root = tab[TAB_ROOT_BUFFER];
  int32_t child =
      GetTreePage(tab, tab[TAB_PAGE], mode, LevelEntryLength(tab, 1), nullptr, &root, 1, routine);
  if (child < 0) {
    ReleaseAll(tab, shared, 0, 0);
    return child;
  }
  for (;;) {
    if (int32_t rc = MakeRoomOn(tab, key, room, &parent, &child, shared); rc < 0) return rc;
    const int32_t level = tab[TAB_LEVEL];
    if (level >= 2 && tab[TAB_ROOT_BUFFER] > 0) {
      int32_t root_buffer = tab[TAB_ROOT_BUFFER];
      tab[TAB_ROOT_BUFFER] = 0;
      if (int32_t rc = Leave(tab, shared, root_buffer, -61, routine, parent, child); rc < 0)
        return rc;
    }
    tab[TAB_PAGE_SIZE] = LevelPageSize(tab, level);
    const uint8_t* p = PageBytes(child);
    *search = DirectoryLevel(tab, level) ? DKSearchDir(tab, key, p) : DKSearchFixed(tab, key, p);
    const int32_t pos = tab[TAB_POSITION];
    // An inner page's last entry holds the fill key, so every key finds one.
    if (*search < 0 || (level < tab[TAB_LEVELS] && pos >= tab[TAB_USED_END])) {
      int32_t page = BufferPage(child);
      ReleaseAll(tab, shared, parent, child);
      return Corrupt(tab, level, page, routine);
    }
    if (level >= tab[TAB_LEVELS]) {
      if (parent > 0) {
        if (!shared && tab[TAB_WRITE_MODE] > 0 && DKGPA0(GPA_WAITER, child) != 0)
          DKMRK0(tab[TAB_WRITE_MODE], MRK_WRITE_SET, parent);
        if (int32_t rc = Leave(tab, shared, parent, -60, routine, 0, child); rc < 0) return rc;
      }
      return child;
    }
    if (parent > 0)
      if (int32_t rc = Leave(tab, shared, parent, -60, routine, 0, child); rc < 0) return rc;
    parent = child;
    tab[TAB_LEVEL] = level + 1;
    tab[TAB_PAGE_SIZE] = LevelPageSize(tab, level + 1);
    child = GetTreePage(tab, LoadChild(p + pos + k), mode, LevelEntryLength(tab, level + 1),
                        p + pos, &parent, 1, routine);
    if (child < 0) {
      ReleaseAll(tab, shared, parent, 0);
      return child;
    }
  }
}

int32_t DKDRP0(int32_t databank, int32_t top, int32_t levels, int32_t inner_size, int32_t leaf_size,
               int32_t key_length, int32_t kind) {
  (void)kind;
  struct Frame {
    int32_t page;
    int32_t level;
    std::vector<int32_t> children;
    size_t next = 0;
  };
  std::vector<Frame> stack;
  stack.push_back({top, 1, {}, 0});
  int32_t status = 0;
  // A damaged tree may name pages more than once; no file has more pages
  // than this, so a longer walk is stopped.
  int64_t visited = 0;
  while (!stack.empty()) {
    if (++visited > (int64_t{1} << 31) / (leaf_size / kUnitBytes)) {
      ReportPageError(kIndexDKDRP0, -63, 3, top, databank);
      return -63;
    }
    Frame& f = stack.back();
    const int32_t size = f.level >= levels ? leaf_size : inner_size;
    if (f.level < levels && f.next == 0 && f.children.empty()) {
      int32_t rq[REQ_WORDS] = {databank, f.page, size, 0, -1, 0};
      int32_t b = TreePageNumber(f.page, size) ? DKGET0(rq, GET_SHARED) : -63;
      if (b > 0) {
        const uint8_t* p = PageBytes(b);
        if (!DKPageTorn(b) && FixedPageSound(p, size, key_length + kChildBytes, key_length)) {
          for (int32_t o = kPageHeaderBytes; o < UsedEnd(p); o += key_length + kChildBytes)
            f.children.push_back(LoadChild(p + o + key_length));
        } else {
          ReportPageError(kIndexDKDRP0, -63, 3, f.page, databank);
          status = -63;
        }
        DKPUT0(PUT_END_SHARED, b);
      } else if (b == -63) {
        ReportPageError(kIndexDKDRP0, -63, 3, f.page, databank);
        status = -63;
      } else {
        status = b;
      }
    }
    if (f.next < f.children.size() && static_cast<int32_t>(stack.size()) < levels) {
      int32_t child = f.children[f.next++];
      int32_t level = f.level + 1;
      stack.push_back({child, level, {}, 0});
      continue;
    }
    if (TreePageNumber(f.page, size)) {
      int32_t rq[REQ_WORDS] = {databank, f.page, size, 0, -1, 0};
      if (int32_t rc = DKFRE0(rq, 0); rc != 0) status = rc;
    }
    stack.pop_back();
  }
  return status;
}
