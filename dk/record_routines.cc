// Insert, update, delete and test single records of a table, and empty a
// table. Each routine checks its table entry, reads the table's root entry
// from its root page, walks down the tree to the leaf of the record's key
// and changes that leaf; the walk makes room (or refills pages) on its way.
#include "dk/record_routines.h"

#include <array>
#include <cstring>

#include "dk/bitmap_page.h"
#include "dk/bufferpool.h"
#include "dk/compression.h"
#include "dk/control_area.h"
#include "dk/error_log.h"
#include "dk/large_object.h"
#include "dk/page_entries.h"
#include "dk/page_tree.h"
#include "dk/table_entries.h"

namespace {

constexpr int32_t kIndexDKINS0 = -69, kIndexDKUPD1 = 55, kIndexDKDEL1 = 20;
constexpr int32_t kIndexDKCHK1 = 10, kIndexDKDRP1 = 22;
// The longest plain record of a table with compression.
constexpr int32_t kMaxCompressedRecord = 16376;

// The working space of a record routine: the compressed record, built once
// before the walk, or a stored record expanded.
thread_local std::array<uint8_t, 65536> work_area;

// The record as it goes onto a leaf: the block's own bytes, or their
// compressed form in the work area (tab word 16 its length).
const uint8_t* StoredForm(int32_t* block, const int32_t* tab);

uint8_t* RecordOf(int32_t* block) {
  return reinterpret_cast<uint8_t*>(block + RQ_RECORD);
}

int32_t Report(int32_t routine, int32_t rc, int32_t value, int32_t databank) {
  ReportPageError(routine, rc, rc == -67 || rc == -21 ? 2 : 3, value, databank);
  return rc;
}

// Opens a walk: checks the table entry, gets the root page (held in tab
// word 20) and fills the tree access block from the root entry. Returns 0,
// or a status to give back with nothing held.
int32_t OpenWalk(int32_t* block, int32_t table, int32_t mode, int32_t routine, int32_t* tab) {
  int32_t* a = Bufferpool();
  std::memset(tab, 0, sizeof(int32_t) * TAB_WORDS);
  const int32_t databank = a[table + TBE_DATABANK];
  int32_t write_mode = block[RQ_STATUS];
  if (a[databank + DBE_KIND] == DBK_WORK) write_mode = 0;
  int32_t record = 0;
  int32_t root = GetRootEntry(table, mode, routine, &record);
  if (root < 0) return root;
  const int32_t* e = a + record;
  if (!RootEntrySound(e) || (e[RE_LEVELS] == 0) != (e[RE_TOP] == 0)) {
    DKPUT0(mode == GET_SHARED ? PUT_END_SHARED : PUT_UNCHANGED, root);
    return Report(routine, -64, a[table + TBE_ROOT_PAGE], databank);
  }
  tab[TAB_DATABANK] = databank;
  tab[TAB_PAGE] = e[RE_TOP];
  tab[TAB_KEY_LENGTH] = e[RE_KEY_LENGTH];
  tab[TAB_ROOT_RECORD] = record;
  tab[TAB_LEVELS] = e[RE_LEVELS];
  tab[TAB_INNER_SIZE] = e[RE_INDEX_PAGE_SIZE];
  tab[TAB_LEAF_SIZE] = e[RE_DATA_PAGE_SIZE];
  tab[TAB_WRITE_MODE] = write_mode;
  tab[TAB_ROOT_BUFFER] = root;
  tab[TAB_ROOT_PAGE] = a[table + TBE_ROOT_PAGE];
  tab[TAB_METHOD] = e[RE_METHOD];
  tab[TAB_RECORD_LENGTH] = e[RE_RECORD_LENGTH];
  return 0;
}

void CloseRoot(int32_t* tab, bool shared) {
  int32_t root = tab[TAB_ROOT_BUFFER];
  tab[TAB_ROOT_BUFFER] = 0;
  if (root <= 0) return;
  if (shared)
    ReleaseShared(root);
  else
    DKPUT0(PUT_UNCHANGED, root);
}

// A record whose length is not the table's: -67, or status 0 without a
// message in mode -1.
int32_t WrongLength(const int32_t* block, const int32_t* tab, int32_t routine) {
  if (block[RQ_STATUS] == -1) return 0;
  return Report(routine, -67, block[RQ_RECORD_LENGTH], tab[TAB_DATABANK]);
}

// Starts a record routine: the walk opened for update and the record length
// checked. Returns 0 with the root held, or a status with nothing held.
int32_t StartChange(int32_t* block, int32_t routine, int32_t* tab) {
  const int32_t table = block[RQ_TABLE];
  if (int32_t rc = CheckTableEntry(table, block[RQ_TBL], routine)) return rc;
  if (Bufferpool()[Bufferpool()[table + TBE_DATABANK] + DBE_KIND] == DBK_WORK) block[RQ_STATUS] = 0;
  if (int32_t rc = OpenWalk(block, table, GET_UPDATE, routine, tab)) return rc;
  const int32_t length = block[RQ_RECORD_LENGTH];
  if (length != tab[TAB_RECORD_LENGTH] ||
      (tab[TAB_METHOD] != 0 && (length < 0 || length > kMaxCompressedRecord))) {
    CloseRoot(tab, false);
    return WrongLength(block, tab, routine) == 0 ? 1 : -67;
  }
  tab[TAB_NEW_LENGTH] = length;
  if (tab[TAB_METHOD] != 0) {
    int32_t compressed = 0;
    int32_t rc = DKCompress(ByteSpan(work_area), 0, &compressed,
                            ConstByteSpan(RecordOf(block), static_cast<size_t>(length)), 0, length,
                            tab[TAB_METHOD]);
    if (rc < 0) {
      CloseRoot(tab, false);
      return Report(routine, -43, length, 0);
    }
    tab[TAB_NEW_LENGTH] = compressed;
  }
  return 0;
}

const uint8_t* StoredForm(int32_t* block, const int32_t* tab) {
  return tab[TAB_METHOD] != 0 ? work_area.data() : RecordOf(block);
}

// Expands (or copies) the record stored at the leaf's position into `out`.
int32_t LoadRecord(const int32_t* tab, int32_t leaf, uint8_t* out) {
  const uint8_t* p = PageBytes(leaf);
  const int32_t length = tab[TAB_RECORD_LENGTH], pos = tab[TAB_POSITION];
  if (tab[TAB_METHOD] == 0) {
    std::memcpy(out, p + pos, static_cast<size_t>(length));
    return 0;
  }
  const int32_t size = tab[TAB_LEAF_SIZE];
  int32_t produced = length;
  int32_t rc = DKExpand(ByteSpan(out, static_cast<size_t>(length)), 0, &produced,
                        ConstByteSpan(p, static_cast<size_t>(size)), DirOffset(p, size, pos),
                        DirLength(p, size, pos), tab[TAB_METHOD]);
  if (rc < 0 || produced != length) {
    ReportPageError(kIndexDKINS0, -65, 3, BufferPage(leaf), tab[TAB_DATABANK]);
    return -65;
  }
  return 0;
}

// Whether the leaf takes the new entry (replacing the one at the position
// when `replace`).
bool LeafTakes(const int32_t* tab, int32_t leaf, bool replace) {
  const uint8_t* p = PageBytes(leaf);
  const int32_t size = tab[TAB_LEAF_SIZE], e = tab[TAB_NEW_LENGTH];
  if (tab[TAB_METHOD] == 0) return replace || UsedEnd(p) + e <= size;
  if (replace) return DirUsed(p, size) - DirLength(p, size, tab[TAB_POSITION]) + e <= size;
  return DirUsed(p, size) + 4 + e <= size;
}

void PutRecord(int32_t* block, const int32_t* tab, int32_t leaf, bool replace) {
  uint8_t* p = PageBytes(leaf);
  const uint8_t* bytes = StoredForm(block, tab);
  const int32_t pos = tab[TAB_POSITION], e = tab[TAB_NEW_LENGTH], size = tab[TAB_LEAF_SIZE];
  if (tab[TAB_METHOD] == 0) {
    if (replace)
      std::memcpy(p + pos, bytes, static_cast<size_t>(e));
    else
      InsertFixedEntry(p, pos, bytes);
  } else if (replace) {
    DirReplace(p, size, pos, bytes, e);
  } else {
    DirInsert(p, size, pos, bytes, e);
  }
  MarkChanged(leaf);
}

// The first record of an empty table: a one-level tree whose page holds the
// record at byte 16.
int32_t InsertIntoEmpty(int32_t* block, int32_t* tab) {
  const int32_t size = tab[TAB_LEAF_SIZE], length = tab[TAB_RECORD_LENGTH];
  const int32_t root = tab[TAB_ROOT_BUFFER];
  if (kPageHeaderBytes + tab[TAB_NEW_LENGTH] + (tab[TAB_METHOD] != 0 ? 8 : 0) > size) {
    CloseRoot(tab, false);
    return Report(kIndexDKINS0, -21, 0, tab[TAB_DATABANK]);
  }
  int32_t rq[REQ_WORDS] = {tab[TAB_DATABANK], 0, size, 0, -1, 0};
  int32_t leaf = DKHLD0(rq, -1);
  if (leaf < 0) {
    CloseRoot(tab, false);
    return leaf;
  }
  uint8_t* p = PageBytes(leaf);
  if (tab[TAB_METHOD] != 0) {
    DirFormat(p, size, length);
  } else {
    SetPageWord(p, PAGE_ENTRY_LENGTH, length);
    SetPageWord(p, PAGE_USED_END, kPageHeaderBytes);
  }
  tab[TAB_POSITION] = tab[TAB_METHOD] != 0 ? 1 : kPageHeaderBytes;
  PutRecord(block, tab, leaf, false);
  int32_t* record = Bufferpool() + tab[TAB_ROOT_RECORD];
  const int32_t mode = tab[TAB_WRITE_MODE];
  const bool work = Bufferpool()[tab[TAB_DATABANK] + DBE_KIND] == DBK_WORK;
  tab[TAB_ROOT_BUFFER] = 0;
  if (mode == -2 && !work) {
    // The page reaches disk before the root entry that names it.
    if (int32_t rc = DKWRP0(rq, WRP_WRITE_WAIT, leaf); rc != 0) {
      DKPUT0(PUT_UNCHANGED, root);
      return rc;
    }
    record[RE_TOP] = rq[REQ_PAGE], record[RE_LEVELS] = 1;
    int32_t rrq[REQ_WORDS] = {tab[TAB_DATABANK], tab[TAB_ROOT_PAGE], kUnitBytes, 0, -1, 0};
    if (DKWRP0(rrq, WRP_WRITE_WAIT, root) != 0)
      return Report(kIndexDKINS0, -61, tab[TAB_ROOT_PAGE], tab[TAB_DATABANK]);
    return 0;
  }
  record[RE_TOP] = rq[REQ_PAGE], record[RE_LEVELS] = 1;
  if (!work) DKMRK0(root, MRK_LINK, leaf);
  if (mode > 0 && !work) {
    DKMRK0(mode, MRK_WRITE_SET, leaf);
    DKMRK0(mode, MRK_WRITE_SET, root);
  }
  DKPUT0(PUT_CHANGED, leaf);
  DKPUT0(PUT_CHANGED, root);
  return 0;
}

// Walks down to the leaf of the record's key. Returns the held leaf, or a
// negative code with nothing held.
int32_t FindLeaf(int32_t* block, int32_t* tab, TreeRoom room, int32_t routine, int32_t* found) {
  int32_t leaf = DescendToLeaf(tab, RecordOf(block), room, routine, found);
  if (leaf > 0 && tab[TAB_ROOT_BUFFER] > 0 && room != TreeRoom::kRead) {
    int32_t root = tab[TAB_ROOT_BUFFER];
    tab[TAB_ROOT_BUFFER] = 0;
    if (int32_t rc = ReleaseTreePage(tab, root, -61, routine); rc < 0) {
      DKPUT0(PUT_UNCHANGED, leaf);
      return rc;
    }
  }
  return leaf;
}

// Deleting the only record of a one-level tree empties the table: the root
// entry stops naming the page before the page is given back.
int32_t EmptyTree(int32_t* tab, int32_t leaf) {
  const int32_t root = tab[TAB_ROOT_BUFFER], databank = tab[TAB_DATABANK];
  const int32_t page = BufferPage(leaf), mode = tab[TAB_WRITE_MODE];
  const bool work = Bufferpool()[databank + DBE_KIND] == DBK_WORK;
  int32_t* record = Bufferpool() + tab[TAB_ROOT_RECORD];
  record[RE_TOP] = 0, record[RE_LEVELS] = 0;
  tab[TAB_ROOT_BUFFER] = 0;
  int32_t rq[REQ_WORDS] = {databank, page, tab[TAB_LEAF_SIZE], 0, -1, 0};
  DKMRK0(root, MRK_UNLINK, leaf);
  if (mode == -2 && !work) {
    int32_t rrq[REQ_WORDS] = {databank, tab[TAB_ROOT_PAGE], kUnitBytes, 0, -1, 0};
    if (DKWRP0(rrq, WRP_WRITE_WAIT, root) != 0) {
      DKPUT0(PUT_UNCHANGED, leaf);
      return Report(kIndexDKDEL1, -61, tab[TAB_ROOT_PAGE], databank);
    }
    return DKFRE0(rq, leaf);
  }
  if (mode > 0 && !work) DKMRK0(mode, MRK_WRITE_SET, root);
  if (work || DKRPL0(root, page, mode > 0 ? mode : 0, tab[TAB_LEAF_SIZE]) != 0) {
    DKPUT0(PUT_CHANGED, root);
    return DKFRE0(rq, leaf);
  }
  DKWRP0(rq, WRP_DROP, leaf);
  DKPUT0(PUT_CHANGED, root);
  return 0;
}

}  // namespace

int32_t DKINS0(int32_t* block, int32_t copy_found) {
  int32_t tab[TAB_WORDS];
  if (int32_t rc = StartChange(block, kIndexDKINS0, tab)) return rc == 1 ? 0 : rc;
  if (tab[TAB_LEVELS] == 0) return InsertIntoEmpty(block, tab);
  int32_t found = 0;
  int32_t leaf = FindLeaf(block, tab, TreeRoom::kInsert, kIndexDKINS0, &found);
  if (leaf < 0) return leaf;
  if (found > 0) {
    int32_t rc = copy_found ? LoadRecord(tab, leaf, RecordOf(block)) : 0;
    ReleaseTreePage(tab, leaf, -62, kIndexDKINS0);
    return rc < 0 ? rc : kStatusDuplicate;
  }
  if (!LeafTakes(tab, leaf, false)) {
    ReleaseTreePage(tab, leaf, -62, kIndexDKINS0);
    return Report(kIndexDKINS0, -21, 0, tab[TAB_DATABANK]);
  }
  PutRecord(block, tab, leaf, false);
  return ReleaseTreePage(tab, leaf, -62, kIndexDKINS0);
}

void DKINS1(int32_t* block) {
  block[RQ_STATUS] = DKINS0(block, 0);
}

void DKIND1(int32_t* block) {
  block[RQ_STATUS] = DKINS0(block, 1);
}

// One walk of an update: 1 when the record found does not fit its leaf
// with the room the walk made.
int32_t UpdateOnce(int32_t* block, int32_t* tab, TreeRoom room) {
  if (tab[TAB_LEVELS] == 0) {
    CloseRoot(tab, false);
    return kStatusNotFound;
  }
  int32_t found = 0;
  int32_t leaf = FindLeaf(block, tab, room, kIndexDKUPD1, &found);
  if (leaf < 0) return leaf;
  if (found <= 0 || !LeafTakes(tab, leaf, true)) {
    ReleaseTreePage(tab, leaf, -62, kIndexDKUPD1);
    return found <= 0 ? kStatusNotFound : 1;
  }
  PutRecord(block, tab, leaf, true);
  return ReleaseTreePage(tab, leaf, -62, kIndexDKUPD1);
}

void DKUPD1(int32_t* block) {
  int32_t tab[TAB_WORDS];
  if (int32_t rc = StartChange(block, kIndexDKUPD1, tab)) {
    block[RQ_STATUS] = rc == 1 ? 0 : rc;
    return;
  }
  TreeRoom room = TreeRoom::kNone;
  if (tab[TAB_METHOD] != 0) {
    // The caller says how long the stored form was; room is made when the
    // new one is longer.
    const int32_t before = block[RQ_BEFORE_LENGTH];
    if (before < 0 || before > tab[TAB_RECORD_LENGTH] + 128) {
      CloseRoot(tab, false);
      block[RQ_STATUS] =
          block[RQ_STATUS] == -1 ? 0 : Report(kIndexDKUPD1, -82, block[RQ_TBL], tab[TAB_DATABANK]);
      return;
    }
    if (tab[TAB_NEW_LENGTH] > before) room = TreeRoom::kInsert;
  }
  int32_t rc = UpdateOnce(block, tab, room);
  if (rc == 1) {
    // The stored record was shorter than said: walk again making room.
    const int32_t compressed = tab[TAB_NEW_LENGTH];
    rc = OpenWalk(block, block[RQ_TABLE], GET_UPDATE, kIndexDKUPD1, tab);
    tab[TAB_NEW_LENGTH] = compressed;
    if (rc == 0) rc = UpdateOnce(block, tab, TreeRoom::kInsert);
    if (rc == 1) rc = Report(kIndexDKUPD1, -21, 0, tab[TAB_DATABANK]);
  }
  block[RQ_STATUS] = rc;
}

void DKDEL1(int32_t* block) {
  int32_t tab[TAB_WORDS];
  if (int32_t rc = StartChange(block, kIndexDKDEL1, tab)) {
    block[RQ_STATUS] = rc == 1 ? 0 : rc;
    return;
  }
  if (tab[TAB_LEVELS] == 0) {
    CloseRoot(tab, false);
    block[RQ_STATUS] = kStatusNotFound;
    return;
  }
  int32_t found = 0;
  int32_t leaf = DescendToLeaf(tab, RecordOf(block), TreeRoom::kDelete, kIndexDKDEL1, &found);
  if (leaf < 0) {
    block[RQ_STATUS] = leaf;
    return;
  }
  if (found <= 0) {
    ReleaseTreePage(tab, leaf, -62, kIndexDKDEL1);
    if (tab[TAB_ROOT_BUFFER] > 0) ReleaseTreePage(tab, tab[TAB_ROOT_BUFFER], -61, kIndexDKDEL1);
    block[RQ_STATUS] = kStatusNotFound;
    return;
  }
  uint8_t* p = PageBytes(leaf);
  if (tab[TAB_METHOD] != 0)
    DirRemove(p, tab[TAB_LEAF_SIZE], tab[TAB_POSITION]);
  else
    RemoveFixedEntry(p, tab[TAB_POSITION]);
  if (tab[TAB_LEVELS] == 1 && UsedEnd(p) == kPageHeaderBytes && tab[TAB_ROOT_BUFFER] > 0) {
    block[RQ_STATUS] = EmptyTree(tab, leaf);
    return;
  }
  MarkChanged(leaf);
  int32_t rc = 0;
  if (tab[TAB_ROOT_BUFFER] > 0) rc = ReleaseTreePage(tab, tab[TAB_ROOT_BUFFER], -61, kIndexDKDEL1);
  int32_t w = ReleaseTreePage(tab, leaf, -62, kIndexDKDEL1);
  block[RQ_STATUS] = rc < 0 ? rc : w;
}

void DKCHK1(int32_t* block) {
  const int32_t mode = block[RQ_STATUS];
  int32_t table = block[RQ_TABLE];
  if (int32_t rc = CheckTableEntry(table, block[RQ_TBL], kIndexDKCHK1)) {
    block[RQ_STATUS] = rc;
    return;
  }
  table = DKChooseTableCopy(table);
  int32_t tab[TAB_WORDS];
  if (int32_t rc = OpenWalk(block, table, GET_SHARED, kIndexDKCHK1, tab)) {
    block[RQ_STATUS] = rc;
    return;
  }
  const int32_t length = tab[TAB_RECORD_LENGTH], k = tab[TAB_KEY_LENGTH];
  const int32_t compared = block[RQ_KEY_LENGTH];
  if (block[RQ_RECORD_LENGTH] != length || (mode == -3 && (compared < 0 || compared > length))) {
    CloseRoot(tab, true);
    block[RQ_STATUS] = Report(kIndexDKCHK1, -67, block[RQ_RECORD_LENGTH], tab[TAB_DATABANK]);
    return;
  }
  bool found = false, equal = false;
  if (tab[TAB_LEVELS] > 0) {
    int32_t search = 0;
    int32_t leaf = DescendToLeaf(tab, RecordOf(block), TreeRoom::kRead, kIndexDKCHK1, &search);
    if (leaf < 0) {
      block[RQ_STATUS] = leaf;
      return;
    }
    found = search > 0;
    int32_t rc = found ? LoadRecord(tab, leaf, work_area.data()) : 0;
    ReleaseShared(leaf);
    if (rc < 0) {
      CloseRoot(tab, true);
      block[RQ_STATUS] = rc;
      return;
    }
    if (found) {
      const uint8_t* stored = work_area.data();
      int32_t from = mode == -3 ? 0 : k, to = mode == -3 ? compared : length;
      equal =
          std::memcmp(stored + from, RecordOf(block) + from, static_cast<size_t>(to - from)) == 0;
    }
  }
  CloseRoot(tab, true);
  if (mode == 0)
    block[RQ_STATUS] = found && equal ? 0 : kStatusCheck;
  else
    block[RQ_STATUS] = found && (mode != -3 || equal) ? kStatusCheck : 0;
}

void DKDRP1(int32_t* block) {
  const int32_t table = block[RQ_TABLE];
  if (int32_t rc = CheckTableEntry(table, block[RQ_TBL], kIndexDKDRP1)) {
    block[RQ_STATUS] = rc;
    return;
  }
  int32_t tab[TAB_WORDS];
  if (int32_t rc = OpenWalk(block, table, GET_UPDATE, kIndexDKDRP1, tab)) {
    block[RQ_STATUS] = rc;
    return;
  }
  int32_t* record = Bufferpool() + tab[TAB_ROOT_RECORD];
  const int32_t top = record[RE_TOP], levels = record[RE_LEVELS];
  const int32_t kind = record[RE_KIND];
  if (levels == 0) {
    CloseRoot(tab, false);
    block[RQ_STATUS] = 0;
    return;
  }
  int32_t saved[kRootEntryWords];
  std::memcpy(saved, record - 1, sizeof saved);
  record[RE_TOP] = 0, record[RE_LEVELS] = 0;
  const int32_t root = tab[TAB_ROOT_BUFFER], databank = tab[TAB_DATABANK];
  if (Bufferpool()[databank + DBE_KIND] == DBK_WORK) {
    DKPUT0(PUT_CHANGED, root);
  } else {
    int32_t rq[REQ_WORDS] = {databank, tab[TAB_ROOT_PAGE], kUnitBytes, 0, -1, 0};
    if (DKWRP0(rq, WRP_WRITE_WAIT, root) != 0) {
      block[RQ_STATUS] = Report(kIndexDKDRP1, -61, tab[TAB_ROOT_PAGE], databank);
      return;
    }
  }
  // The objects the records name go first, while their leaves are still there.
  FreeTreeObjects(databank, saved + 1);
  DKDRP0(databank, top, levels, tab[TAB_INNER_SIZE], tab[TAB_LEAF_SIZE], tab[TAB_KEY_LENGTH], kind);
  block[RQ_STATUS] = 0;
}
