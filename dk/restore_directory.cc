// Slots of the restore directory: looked up, checked, added and removed on the
// LOG databank and its online copies; the directory copied into a copy of the
// LOG databank, and the open databanks registered in it. A new directory page
// reaches disk before the link that names it.
#include "dk/restore_directory.h"

#include <vector>

#include "dk/bitmap_page.h"
#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/error_log.h"
#include "dk/set_pages.h"
#include "platform/enqdeq.h"

namespace {

constexpr int32_t kIndexDKROO1 = 51;

int32_t SlotWord(int32_t slot, int32_t word) {
  return RDIR_FIRST_SLOT + RDIR_SLOT_WORDS * slot + word;
}

struct Slot {
  int32_t page = 0;  // unit of the directory page, 0 when not found
  int32_t index = 0;
  int32_t last_page = 0;  // last page of the chain, 0 when the chain is empty
  int32_t free_page = 0;  // first free slot met
  int32_t free_index = 0;
};

int32_t WritePage(int32_t databank, int32_t buffer, int32_t unit, int32_t index = kIndexDKROO1) {
  if (WriteUnitPage(databank, unit, buffer) == 0) return 0;
  ReportPageError(index, -61, 3, unit, databank);
  return -61;
}

// Walks the whole chain for the slot of `did`. Returns 0 or an error.
int32_t FindSlot(int32_t databank, int32_t did, Slot* slot) {
  int32_t rq[REQ_WORDS];
  int32_t header = GetUnitPage(databank, kHeaderUnit, GET_SHARED, rq);
  if (header < 0) return header;
  int32_t unit = PageWord(PageBytes(header), HDR_RESTORE_DIRECTORY);
  DKPUT0(PUT_END_SHARED, header);
  for (int hops = 0; unit != 0; ++hops) {
    if (hops > (1 << 20)) return -64;  // a chain that loops
    int32_t buffer = GetUnitPage(databank, unit, GET_SHARED, rq);
    if (buffer < 0) return buffer;
    const uint8_t* page = PageBytes(buffer);
    int32_t at = RestoreSlotOf(page, did);
    if (at >= 0 && slot->page == 0) {
      slot->page = unit;
      slot->index = at;
    }
    int32_t free_at = RestoreSlotOf(page, 0);
    if (free_at >= 0 && slot->free_page == 0) {
      slot->free_page = unit;
      slot->free_index = free_at;
    }
    slot->last_page = unit;
    int32_t next = PageWord(page, RDIR_NEXT);
    DKPUT0(PUT_END_SHARED, buffer);
    unit = next;
  }
  return 0;
}

int32_t SetHeaderStamp(int32_t databank, int32_t stamp) {
  int32_t rq[REQ_WORDS];
  int32_t buffer = GetUnitPage(databank, kHeaderUnit, GET_UPDATE, rq);
  if (buffer < 0) return buffer;
  SetPageWord(PageBytes(buffer), HDR_RESTORE_TIME, stamp);
  if (Bufferpool()[databank + DBE_DID] == 1) Bufferpool()[BP_SYSDB_STAMP] = stamp;
  return WritePage(databank, buffer, kHeaderUnit);
}

// Takes a zero-filled directory page, fills its first slot and links it at
// the end of the chain (or from the header).
int32_t AddPage(int32_t databank, const Slot& found, const int32_t* values, int32_t index) {
  int32_t rq[REQ_WORDS] = {databank, 0, kUnitBytes, 0, -1, 0};
  int32_t fresh = DKHLD0(rq, -1);
  if (fresh < 0) return fresh;
  int32_t unit = rq[REQ_PAGE];
  for (int k = 0; k < RDIR_SLOT_WORDS; ++k)
    SetPageWord(PageBytes(fresh), RDIR_FIRST_SLOT + k, values[k]);
  if (int32_t rc = WritePage(databank, fresh, unit, index)) return rc;
  int32_t link_unit = found.last_page != 0 ? found.last_page : kHeaderUnit;
  int32_t buffer = GetUnitPage(databank, link_unit, GET_UPDATE, rq);
  if (buffer < 0) return buffer;
  SetPageWord(PageBytes(buffer), found.last_page != 0 ? RDIR_NEXT : HDR_RESTORE_DIRECTORY, unit);
  return WritePage(databank, buffer, link_unit, index);
}

// Puts a slot's four words into the first free slot the walk met, or into
// a new directory page when every slot is in use.
int32_t AddSlot(int32_t databank, const Slot& slot, const int32_t* values, int32_t index) {
  if (slot.free_page == 0) return AddPage(databank, slot, values, index);
  int32_t rq[REQ_WORDS];
  int32_t buffer = GetUnitPage(databank, slot.free_page, GET_UPDATE, rq);
  if (buffer < 0) return buffer;
  for (int k = 0; k < RDIR_SLOT_WORDS; ++k)
    SetPageWord(PageBytes(buffer), SlotWord(slot.free_index, k), values[k]);
  return WritePage(databank, buffer, slot.free_page, index);
}

int32_t OnOneDirectory(int32_t databank, int32_t code, int32_t* request) {
  int32_t did = request[ROO_OTHER_DID];
  int32_t stamp = request[ROO_STAMP];
  int32_t seqno = request[ROO_SEQNO];
  Slot slot;
  if (int32_t rc = FindSlot(databank, did, &slot)) return rc;
  if (code == 4 || code == 14) {
    if (slot.page == 0) {
      request[ROO_STAMP] = 0;
      return 1;
    }
    int32_t rq[REQ_WORDS];
    int32_t buffer = GetUnitPage(databank, slot.page, GET_SHARED, rq);
    if (buffer < 0) return buffer;
    request[ROO_STAMP] = PageWord(PageBytes(buffer), SlotWord(slot.index, RDIR_TIME));
    DKPUT0(PUT_END_SHARED, buffer);
    return 0;
  }
  if (code == 7) {
    if (slot.page == 0) return 1;
    int32_t rq[REQ_WORDS];
    int32_t buffer = GetUnitPage(databank, slot.page, GET_UPDATE, rq);
    if (buffer < 0) return buffer;
    for (int k = 0; k < RDIR_SLOT_WORDS; ++k)
      SetPageWord(PageBytes(buffer), SlotWord(slot.index, k), 0);
    return WritePage(databank, buffer, slot.page);
  }
  // Code 5: check the slot, or add one.
  if (slot.page != 0) {
    int32_t rq[REQ_WORDS];
    int32_t buffer = GetUnitPage(databank, slot.page, GET_UPDATE, rq);
    if (buffer < 0) return buffer;
    uint8_t* page = PageBytes(buffer);
    int32_t stored = PageWord(page, SlotWord(slot.index, RDIR_TIME));
    bool stamp_ok = stored == stamp || stored == stamp - 1;
    bool seq_ok = PageWord(page, SlotWord(slot.index, RDIR_STATE)) == 2 ||
                  PageWord(page, SlotWord(slot.index, RDIR_SEQUENCE)) == seqno;
    if (!stamp_ok || !seq_ok) {
      DKPUT0(PUT_UNCHANGED, buffer);
      ReportPageError(kIndexDKROO1, -19, 2, stored, request[ROO_DATABANK]);
      return -19;
    }
    if (stored == stamp - 1) {
      SetPageWord(page, SlotWord(slot.index, RDIR_TIME), stamp);
      return WritePage(databank, buffer, slot.page);
    }
    DKPUT0(PUT_UNCHANGED, buffer);
    return 0;
  }
  int32_t state = request[ROO_SLOT_STATE] == 2 ? 2 : 1;
  int32_t values[4] = {did, stamp, -1, state};
  return AddSlot(databank, slot, values, kIndexDKROO1);
}

}  // namespace

int32_t RestoreDirectory(int32_t* request) {
  int32_t code = request[ROO_CODE];
  int32_t* area = Bufferpool();
  if (code == 14) return OnOneDirectory(request[ROO_DATABANK], code, request);
  int32_t log = area[BP_LOG_ENTRY];
  if (log <= 0) return -45;
  int32_t result = 0;
  bool added = false;
  for (int32_t copy = log; copy > 0; copy = area[copy + DBE_DEPENDENT]) {
    if (copy != log && (area[copy + DBE_OFFLINE] != 0 || area[copy + DBE_KIND] == DBT_BACKUP))
      continue;
    Slot before;
    if (code == 5 && copy == log) {
      if (int32_t rc = FindSlot(copy, request[ROO_OTHER_DID], &before)) return rc;
      added = before.page == 0;
    }
    int32_t rc = OnOneDirectory(copy, code, request);
    if (rc < 0) return rc;
    if (copy == log) result = rc;
  }
  if (code == 5 && added) {
    int32_t stamp = request[ROO_STAMP];
    if (int32_t rc = SetHeaderStamp(request[ROO_DATABANK], stamp + 1)) return rc;
  }
  return result;
}

namespace {

constexpr int32_t kMaxDirectoryPages = 1 << 20;

// The slot words (4..511) of every page of a databank's directory chain.
int32_t ReadDirectory(int32_t databank, int32_t first, std::vector<std::vector<int32_t>>* pages) {
  for (int32_t unit = first; unit != 0;) {
    if (static_cast<int32_t>(pages->size()) >= kMaxDirectoryPages) return -64;
    int32_t rq[REQ_WORDS];
    int32_t buffer = GetUnitPage(databank, unit, GET_SHARED, rq);
    if (buffer < 0) return buffer;
    const uint8_t* page = PageBytes(buffer);
    std::vector<int32_t> words(kUnitBytes / 4 - RDIR_FIRST_SLOT);
    for (size_t k = 0; k < words.size(); ++k)
      words[k] = PageWord(page, RDIR_FIRST_SLOT + static_cast<int32_t>(k));
    unit = PageWord(page, RDIR_NEXT);
    DKPUT0(PUT_END_SHARED, buffer);
    pages->push_back(std::move(words));
  }
  return 0;
}

int32_t HeaderDirectory(int32_t databank) {
  int32_t rq[REQ_WORDS];
  int32_t header = GetUnitPage(databank, kHeaderUnit, GET_SHARED, rq);
  if (header < 0) return header;
  int32_t unit = PageWord(PageBytes(header), HDR_RESTORE_DIRECTORY);
  DKPUT0(PUT_END_SHARED, header);
  return unit;
}

// Frees a directory chain, each page's link read before the page goes.
void FreeDirectory(int32_t databank, int32_t unit) {
  for (int32_t n = 0; unit > kHeaderUnit && n < kMaxDirectoryPages; ++n) {
    int32_t rq[REQ_WORDS];
    int32_t buffer = GetUnitPage(databank, unit, GET_SHARED, rq);
    if (buffer < 0) return;
    int32_t next = PageWord(PageBytes(buffer), RDIR_NEXT);
    DKPUT0(PUT_END_SHARED, buffer);
    int32_t frq[REQ_WORDS] = {databank, unit, kUnitBytes, 0, -1, 0};
    if (DKFRE0(frq, 0) != 0) return;
    unit = next;
  }
}

}  // namespace

int32_t DKCopyRestoreDirectory(int32_t source, int32_t target) {
  int32_t first = HeaderDirectory(source);
  if (first <= 0) return first;
  std::vector<std::vector<int32_t>> pages;
  if (int32_t rc = ReadDirectory(source, first, &pages)) return rc;
  // From the last page back, so that each page names one already on disk.
  int32_t next = 0;
  for (size_t i = pages.size(); i-- > 0;) {
    int32_t rq[REQ_WORDS] = {target, 0, kUnitBytes, 0, -1, 0};
    int32_t fresh = DKHLD0(rq, -1);
    if (fresh < 0) return fresh;
    uint8_t* page = PageBytes(fresh);
    SetPageWord(page, RDIR_NEXT, next);
    for (size_t k = 0; k < pages[i].size(); ++k)
      SetPageWord(page, RDIR_FIRST_SLOT + static_cast<int32_t>(k), pages[i][k]);
    next = rq[REQ_PAGE];
    if (int32_t rc = WritePage(target, fresh, next)) return rc;
  }
  int32_t rq[REQ_WORDS];
  int32_t header = GetUnitPage(target, kHeaderUnit, GET_UPDATE, rq);
  if (header < 0) return header;
  int32_t old = PageWord(PageBytes(header), HDR_RESTORE_DIRECTORY);
  SetPageWord(PageBytes(header), HDR_RESTORE_DIRECTORY, next);
  if (int32_t rc = WritePage(target, header, kHeaderUnit)) return rc;
  FreeDirectory(target, old);
  return 0;
}

int32_t DKCheckRestoreSlot(int32_t databank) {
  int32_t rq[ROO_WORDS] = {1, databank};
  if (int32_t rc = DKROO1(rq)) return rc;
  // A slot's sequence value is -1 once consumed, and a slot the check adds
  // is consumed at once: the check asks for that, and for the stamp.
  rq[ROO_CODE] = 5;
  rq[ROO_OTHER_DID] = Bufferpool()[databank + DBE_DID];
  rq[ROO_SEQNO] = -1;
  return DKROO1(rq);
}

int32_t DKRegisterRestoreDirectory() {
  int32_t* a = Bufferpool();
  if (LoadWord(BP_LOG_ENTRY) <= 0) return 0;
  std::vector<int32_t> databanks;
  {
    EnqdeqGuard guard(a + BP_LOCK_DATABANK_HASH);
    int32_t state[4] = {0, LoadWord(BP_DATABANK_HASH), 0, 0};
    for (int32_t d = DKHMS0(state); d != 0; d = DKHMS0(state)) {
      int32_t did = a[d + DBE_DID];
      if (did >= 2 && did <= 4) continue;
      if (a[d + DBE_KIND] == DBT_BACKUP || a[d + DBE_CHANNEL] == 0) continue;
      databanks.push_back(d);
    }
  }
  for (int32_t d : databanks) {
    int32_t rc = DKCheckRestoreSlot(d);
    // The databank must be restored before it is used; the others go on.
    int32_t usable = 0;
    if (rc < 0) PoolWord(d + DBE_ERROR).compare_exchange_strong(usable, rc);
  }
  return 0;
}

int32_t DKILT0(int32_t copy, int32_t did, int32_t stamp, int32_t option) {
  const int32_t index = dkset::RoutineIndex("DKILT0");
  Slot slot;
  if (int32_t rc = FindSlot(copy, did, &slot)) return rc;
  if (slot.page == 0) {
    // The slot added is the one this stamp fits: one behind it. A backup of
    // a databank without a slot takes its header's stamp + 1, so the slot
    // equals the header a copy of that backup carries, which the
    // roll-forward and the next open accept; the record replayed at a
    // restart fits it again, and so does the next backup's (slot + 2).
    // With the record's own stamp the roll-forward of that backup was
    // refused (-18008).
    int32_t values[4] = {did, stamp - 1, -1, 1};
    return AddSlot(copy, slot, values, index);
  }
  int32_t rq[REQ_WORDS];
  int32_t buffer = GetUnitPage(copy, slot.page, GET_UPDATE, rq);
  if (buffer < 0) return buffer;
  uint8_t* page = PageBytes(buffer);
  const int32_t stored = PageWord(page, SlotWord(slot.index, RDIR_TIME));
  if (stored != stamp - 1 && stored != stamp - 2) {
    DKPUT0(PUT_UNCHANGED, buffer);
    // Option -1 only warns: the stamp is known to be behind.
    ReportPageError(index, -19, option == -1 ? DK_SEV_INFO : DK_SEV_ERROR, stored, copy);
    return option == -1 ? 0 : -19;
  }
  SetPageWord(page, SlotWord(slot.index, RDIR_STATE), 1);
  return WritePage(copy, buffer, slot.page, index);
}

int32_t DKILT1(int32_t databank, int32_t did, int32_t stamp, int32_t option) {
  int32_t* a = Bufferpool();
  std::vector<int32_t> copies;
  {
    EnqdeqGuard guard(a + BP_LOCK_DATABANK_HASH);
    for (int32_t d = databank, n = 0; DKIsDatabankEntry(d) && n < LoadWord(BP_DATABANK_COUNT);
         d = a[d + DBE_DEPENDENT], ++n) {
      bool online = a[d + DBE_OFFLINE] == 0 && a[d + DBE_CHANNEL] != 0;
      if (d == databank || (online && a[d + DBE_KIND] != DBT_BACKUP)) copies.push_back(d);
    }
  }
  if (copies.empty()) {
    ReportPageError(dkset::RoutineIndex("DKILT1"), -45, DK_SEV_ERROR, databank, 0);
    return -45;
  }
  for (int32_t copy : copies) {
    int32_t rc = DKILT0(copy, did, stamp, option);
    // A shadow that fails is left behind; the databank itself is not.
    if (rc < 0 && (copy == databank || a[copy + DBE_KIND] != DBT_SHADOW)) return rc;
  }
  return 0;
}
