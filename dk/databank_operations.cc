// Opening a databank for use (DKOPD1) around the header checks, closing it
// (DKCLD1) with its close mark, its size from the bitmap pages (DKSIZ1), and
// cutting the file after its last used unit (DKTDB1).
#include "dk/databank_operations.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "dk/bitmap_page.h"
#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/databank_open_steps.h"
#include "dk/databank_restart.h"
#include "dk/databank_verification.h"
#include "dk/error_log.h"
#include "dk/in_doubt_transactions.h"
#include "dk/restore_directory.h"
#include "dk/stored_tss.h"
#include "dk/table_entries.h"
#include "dk/transaction_cache.h"
#include "platform/databank_io.h"
#include "platform/enqdeq.h"

namespace {

constexpr int32_t kIndexDKCLD1 = 12, kIndexDKOPD1 = 44, kIndexDKSIZ1 = 52, kIndexDKTDB1 = 54;

void Report(int32_t index, int32_t rc, int32_t severity, const void* value, int32_t databank,
            int32_t os_error = -1) {
  int32_t context[5] = {databank, 0, 0, 0, os_error};
  DKLogError(index, rc, severity, value, context);
}

int32_t Finish(int32_t* request, int32_t rc) {
  request[0] = rc;
  return rc;
}

// The first entry of a DID; the caller holds the databank hash lock.
int32_t HeadOf(int32_t did) {
  int32_t head = DKHMI0(LoadWord(BP_DATABANK_HASH), did);
  return DKIsDatabankEntry(head) ? head : 0;
}

// The copy of a DID with a SEQNO (-1: the first), 0 when none; under the
// databank hash lock.
int32_t CopyOf(int32_t head, int32_t seqno) {
  int32_t* a = Bufferpool();
  int32_t limit = LoadWord(BP_DATABANK_COUNT);
  for (int32_t at = head, n = 0; DKIsDatabankEntry(at) && n < limit;
       at = a[at + DBE_DEPENDENT], ++n)
    if (seqno == -1 || a[at + DBE_SEQNO] == seqno) return at;
  return 0;
}

// An entry in use is shared when the two access modes add up to more than 5
// (a closed entry keeps mode 5, so any open takes it back); the lower mode
// stays.
int32_t Share(int32_t entry, int32_t access) {
  int32_t* a = Bufferpool();
  if (a[entry + DBE_ACCESS] + access <= 5) return -32;
  a[entry + DBE_ACCESS] = std::min(a[entry + DBE_ACCESS], access);
  ++a[entry + DBE_OPENS];
  return 0;
}

// Finds the entry of the request's DID and SEQNO or makes one. *fresh tells
// that the entry is new, or an offline shadow whose file is to be opened
// again; an entry shared otherwise is returned as it is.
int32_t FindOrMake(const int32_t* request, bool* fresh) {
  int32_t* a = Bufferpool();
  int32_t access = request[CRD_MODE], type = request[CRD_TYPE];
  EnqdeqGuard guard(a + BP_LOCK_DATABANK_HASH);
  int32_t head = HeadOf(request[CRD_DID]);
  if (int32_t found = CopyOf(head, request[CRD_SEQNO])) {
    if (int32_t rc = Share(found, access)) return rc;
    *fresh = a[found + DBE_KIND] == DBT_SHADOW && a[found + DBE_OFFLINE] != 0 &&
             a[found + DBE_CHANNEL] == 0;
    return found;
  }
  std::vector<int32_t> words(request, request + CRD_WORDS);
  if (words[CRD_SEQNO] == -1) words[CRD_SEQNO] = 0;
  int32_t entry = NewDatabankEntry(words.data(), head);
  if (entry < 0) return entry;
  a[entry + DBE_ACCESS] = access;
  if (type == DBT_SHADOW_MAKING) {
    a[entry + DBE_OFFLINE] = 1;
    a[entry + DBE_OFFLINE_COPY] = 1;
  }
  *fresh = true;
  return entry;
}

// Opens the entry's file. A shadow that cannot be opened goes offline
// instead of failing the open.
int32_t OpenFile(int32_t* request, int32_t entry, bool* offline) {
  int32_t* a = Bufferpool();
  int32_t io[IO_REQUEST_WORDS] = {IO_OPEN_READ_WRITE, -1, 0, 0, 0};
  mdrdmo(io, reinterpret_cast<const char*>(request + CRD_FILE));
  if (io[IO_RC] == 0) {
    a[entry + DBE_CHANNEL] = io[IO_FILE_ID];
    return 0;
  }
  Report(kIndexDKOPD1, io[IO_RC], 2, request + CRD_FILE, entry, io[IO_OS_STATUS]);
  if (a[entry + DBE_KIND] != DBT_SHADOW) return io[IO_RC];
  a[entry + DBE_OFFLINE] = 1;
  a[entry + DBE_ERROR] = io[IO_RC];
  *offline = true;
  return 0;
}

// A SEQNO learnt from the header may be one that another entry of the DID
// carries already: that entry is shared as at the start of the open, or the
// open is refused with -32, so no two entries of one DID and SEQNO exist.
int32_t ClaimSeqno(int32_t entry, int32_t access, int32_t* other) {
  int32_t* a = Bufferpool();
  EnqdeqGuard guard(a + BP_LOCK_DATABANK_HASH);
  int32_t limit = LoadWord(BP_DATABANK_COUNT);
  for (int32_t at = HeadOf(a[entry + DBE_DID]), n = 0; DKIsDatabankEntry(at) && n < limit;
       at = a[at + DBE_DEPENDENT], ++n) {
    if (at == entry || a[at + DBE_SEQNO] != a[entry + DBE_SEQNO]) continue;
    *other = at;
    return Share(at, access);
  }
  return 0;
}

// The databank's own restart: the work its restart set owes it. Restart
// sets live in the TRANS databank, so without one nothing is owed; shadows
// are restarted otherwise. The TRANS databank's open first hands its commit
// set on to the restart sets.
int32_t Restart(int32_t entry) {
  int32_t* a = Bufferpool();
  int32_t did = a[entry + DBE_DID];
  if (a[entry + DBE_KIND] == DBT_SHADOW) return 0;
  {
    EnqdeqGuard guard(a + BP_LOCK_DATABANK_HASH);
    if (HeadOf(2) == 0) return 0;
  }
  if (did == 2) return DKRestartTrans(entry);
  return DKReplayAtOpen(entry);
}

// The transactions prepared for a distributed commit and not decided when
// the server stopped: in doubt again, their changes of this databank's
// tables back in the transaction cache (DKRTC1).
int32_t PendingDistributed(int32_t entry) {
  int32_t request[RTC_WORDS] = {-1, entry, Bufferpool()[entry + DBE_DID]};
  return DKRTC1(request);
}

// Units that two structures still own once the restart has settled what it
// owed make the databank corrupt: freeing one owner's page would take it
// from the other.
int32_t OwnedTwice(int32_t entry) {
  std::vector<int32_t> units = DKUnitsReachedTwice(entry);
  if (units.empty() && Bufferpool()[entry + DBE_CORRUPT] == 0) return 0;
  int32_t first = units.empty() ? 0 : units.front();
  ReportPageError(kIndexDKOPD1, -42, DK_SEV_DISABLE, first, entry);
  PoolWord(BP_STAT_175).fetch_add(1);  // found corrupt
  return -42;
}

// The file of a fresh entry: opened, its header checked, its SEQNO claimed
// and the check its close mark asks for run. On failure the file is left as
// the failing step found it and the entry is freed, so that no entry that
// is not in service stays behind to answer a later open.
int32_t BringIntoService(int32_t* request, int32_t* entry) {
  int32_t* a = Bufferpool();
  bool offline = false;
  if (int32_t rc = OpenFile(request, *entry, &offline)) {
    ReleaseDatabank(*entry, false);
    return rc;
  }
  if (offline) return 0;
  int32_t seqno = request[CRD_SEQNO], mark = 0;
  int32_t rc = CheckHeaderAtOpen(*entry, request[CRD_TYPE], &seqno, &mark);
  int32_t other = 0;
  if (rc == 0 && request[CRD_SEQNO] == -1) {
    rc = ClaimSeqno(*entry, request[CRD_MODE], &other);
    if (rc == -32) Report(kIndexDKOPD1, rc, 2, &seqno, *entry);
  }
  if (rc == 0 && other != 0) {
    ReleaseDatabank(*entry, false);
    *entry = other;
    return 0;
  }
  if (rc == 0) rc = DKOpenCheck(*entry, request[CRD_TYPE], mark);
  if (rc == 0) rc = DKOpenStepsByDid(*entry, mark != CLOSE_MARK_CLOSED);
  if (rc == 0) rc = Restart(*entry);
  if (rc == 0) rc = OwnedTwice(*entry);
  if (rc == 0) rc = DKRemoveDroppedTables(*entry);
  if (rc == 0) rc = PendingDistributed(*entry);
  if (rc != 0) {
    a[*entry + DBE_ERROR] = rc;
    DKForgetOpenSteps(*entry);
    DKForgetUnitsReachedTwice(*entry);
    ReleaseDatabank(*entry, false);
    return rc;
  }
  return 0;
}

// The system databank taken over while the log is open: its restart, owed
// since it last ran without the log, runs now.
int32_t RestartSystemDatabank(int32_t entry) {
  int32_t* a = Bufferpool();
  if (a[entry + DBE_DID] != 1 || LoadWord(BP_LOG_TABLE) <= 0 || LoadWord(BP_SYSDB_RESTARTED) != 0)
    return 0;
  if (a[entry + DBE_ERROR] == -19) a[entry + DBE_ERROR] = 0;
  // Its slot in the restore directory first: a system databank the
  // directory says must be restored is not restarted.
  if (LoadWord(BP_LOG_ENTRY) > 0)
    if (int32_t rc = DKCheckRestoreSlot(entry); rc < 0) return rc;
  a[entry + DBE_OFFLINE_COPY] = 0;
  // The replay sets the word back to 0 when it leaves work owed.
  StoreWord(BP_SYSDB_RESTARTED, 1);
  if (int32_t rc = Restart(entry)) {
    StoreWord(BP_SYSDB_RESTARTED, 0);
    return rc;
  }
  return PendingDistributed(entry);
}

}  // namespace

int32_t DKOPD1(int32_t* request) {
  bool fresh = false;
  int32_t entry = FindOrMake(request, &fresh);
  if (entry < 0) {
    int32_t limit = LoadWord(BP_DATABANK_COUNT);
    if (entry == -11)
      Report(kIndexDKOPD1, -11, 2, &limit, 0);
    else
      Report(kIndexDKOPD1, entry, 2, request + CRD_NAME, 0);
    return Finish(request, entry);
  }
  if (fresh && request[CRD_TYPE] != DBT_SHADOW_MAKING) {
    if (int32_t rc = BringIntoService(request, &entry)) return Finish(request, rc);
  } else if (int32_t rc = RestartSystemDatabank(entry)) {
    EnqdeqGuard guard(Bufferpool() + BP_LOCK_DATABANK_HASH);
    --Bufferpool()[entry + DBE_OPENS];  // the share taken above is given back
    return Finish(request, rc);
  }
  request[CRD_UNITS] = entry;
  request[CRD_SEQNO] = Bufferpool()[entry + DBE_SEQNO];
  return Finish(request, 0);
}

namespace {

// Closes one copy: its tables (for the first copy of the DID), its pages
// written with its deferred releases run between, the close mark unless the
// mode asks for none, its buffers dropped and its file closed. A file that
// cannot be closed is logged; the entry is freed all the same. Returns 0 or
// the first failure: a page that could not be written leaves the header as
// a crash leaves it (no close mark), so that the next open checks the file.
int32_t CloseCopy(int32_t entry, int32_t mode, bool first) {
  int32_t* a = Bufferpool();
  DKForgetOpenSteps(entry);
  // The kernel's TSS table is held open by the kernel and the cache tables
  // are kept out of the table hash: the close of all tables below passes
  // them over.
  DKForgetStoredTss(entry);
  DKForgetCacheTables(entry);
  if (first) {
    int32_t tables[RQ_TBL + 1] = {34, 0, a[entry + DBE_DID], 0, 0, 0};
    DKCLT1(tables);
  }
  int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 0, 0};
  int32_t rc = DKPAG0(pag, PAG_FLUSH);
  int32_t chain;
  {
    EnqdeqGuard guard(a + entry + DBE_RELEASE_LOCK);
    chain = a[entry + DBE_RELEASES];
    a[entry + DBE_RELEASES] = 0;
  }
  if (chain != 0) {
    RunReleaseChain(entry, chain);
    if (int32_t again = DKPAG0(pag, PAG_FLUSH); rc == 0) rc = again;
  }
  if (rc == 0 && mode != 2) rc = WriteCloseMark(entry);
  int32_t channel = a[entry + DBE_CHANNEL];
  if (ReleaseDatabank(entry, false) != 0) {
    Report(kIndexDKCLD1, -73, 2, &channel, 0);
    if (rc == 0) rc = -73;
  }
  return rc;
}

// A background check of a databank being closed is stopped.
void StopCheck(int32_t entry, int32_t mode) {
  int32_t* a = Bufferpool();
  if (a[entry + DBE_STATE] == CHK_WAIT_BACKGROUND) a[entry + DBE_STATE] = CHK_ABORTED;
  if (mode == 1 && a[entry + DBE_STATE] == CHK_BACKGROUND) a[entry + DBE_STATE] = CHK_ABORTING;
}

// Lowers the open count of every copy; returns the copies to close, none
// while one of them is still open.
std::vector<int32_t> LowerOpens(int32_t head) {
  int32_t* a = Bufferpool();
  std::vector<int32_t> copies;
  bool open = false;
  int32_t limit = LoadWord(BP_DATABANK_COUNT);
  for (int32_t at = head, n = 0; DKIsDatabankEntry(at) && n < limit;
       at = a[at + DBE_DEPENDENT], ++n) {
    if (a[at + DBE_OPENS] > 0) --a[at + DBE_OPENS];
    if (a[at + DBE_OPENS] == 0)
      a[at + DBE_ACCESS] = 5;
    else
      open = true;
    copies.push_back(at);
  }
  if (open) copies.clear();
  return copies;
}

}  // namespace

int32_t DKCLD1(int32_t* request) {
  int32_t* a = Bufferpool();
  int32_t mode = request[CLD_MODE], seqno = request[CLD_SEQNO];
  std::vector<int32_t> copies;
  int32_t head = 0;
  {
    EnqdeqGuard guard(a + BP_LOCK_DATABANK_HASH);
    int32_t did = request[CLD_DID];
    if (did == -1) {
      int32_t given = request[CLD_ENTRY];
      did = DKIsDatabankEntry(given) ? a[given + DBE_DID] : 0;
    }
    head = did > 0 ? HeadOf(did) : 0;
    if (head == 0) {
      Report(kIndexDKCLD1, -45, 2, &request[CLD_DID], 0);
      return Finish(request, -45);
    }
    if (seqno < 0) {
      copies = LowerOpens(head);
      if (copies.empty() || mode == 0 || mode == 2) return Finish(request, 0);
    } else if (int32_t copy = CopyOf(head, seqno)) {
      copies.push_back(copy);
    } else {
      Report(kIndexDKCLD1, -47, 2, &seqno, head);
      return Finish(request, -47);
    }
    for (int32_t copy : copies) StopCheck(copy, mode);
  }
  // The dependents go first, so that the first copy stays the head of the
  // hash chain until its own close.
  std::reverse(copies.begin(), copies.end());
  // Every copy is closed, a failed one too; the first failure is answered.
  int32_t rc = 0;
  for (int32_t copy : copies)
    if (int32_t failed = CloseCopy(copy, mode, copy == head); rc == 0) rc = failed;
  return Finish(request, rc);
}

int32_t LastUsedBit(const uint8_t* page) {
  for (int32_t byte = kBitmapChunkUnits / 8 - 1; byte >= 0; --byte) {
    uint8_t bits = page[16 + byte];
    if (bits == 0) continue;
    int32_t bit = byte * 8 + 7;
    while ((bits & (0x80 >> (bit % 8))) == 0) --bit;
    return bit;
  }
  return -1;
}

namespace {

// The copy a size or truncation request names: -45 without an entry of the
// DID, -47 without the SEQNO.
int32_t FindCopy(int32_t index, int32_t did, int32_t seqno) {
  int32_t copy;
  {
    EnqdeqGuard guard(Bufferpool() + BP_LOCK_DATABANK_HASH);
    int32_t head = HeadOf(did);
    if (head == 0) {
      Report(index, -45, 2, &did, 0);
      return -45;
    }
    copy = CopyOf(head, seqno);
  }
  if (copy == 0) {
    Report(index, -47, 2, &seqno, 0);
    return -47;
  }
  return copy;
}

// Word 3 of a bitmap page: the next chunk's unit, or for the last chunk a
// unit of its own chunk (the page itself when the file ends there). Anything else would lead a walk
// astray.
enum class Next { kChunk, kLast, kCorrupt };
Next NextOf(int32_t unit, int32_t word3) {
  if (word3 == unit + kBitmapChunkUnits) return Next::kChunk;
  if (word3 >= unit && word3 < unit + kBitmapChunkUnits) return Next::kLast;
  return Next::kCorrupt;
}

struct Sizes {
  int32_t in_use = 0, last_unit = 0, highest = 0, last_bitmap = 0, previous_bitmap = -1;
};

// Walks the bitmap pages to the last one, shared.
int32_t WalkBitmaps(int32_t databank, int32_t index, Sizes* s) {
  int32_t limit = 1 + INT32_MAX / kBitmapChunkUnits;
  for (int32_t unit = 0, n = 0; n < limit; ++n) {
    int32_t rq[REQ_WORDS];
    int32_t buffer = GetUnitPage(databank, unit, GET_SHARED, rq);
    if (buffer < 0) return buffer;
    const uint8_t* page = PageBytes(buffer);
    int32_t free = PageWord(page, BMP_FREE), next = PageWord(page, BMP_NEXT);
    Next kind = NextOf(unit, next);
    if (free < 0 || free > kBitmapChunkUnits || kind == Next::kCorrupt) {
      DKPUT0(PUT_END_SHARED, buffer);
      ReportPageError(index, kCorruptBitmap, 3, unit, databank);
      return kCorruptBitmap;
    }
    s->in_use += kBitmapChunkUnits - free;
    if (kind == Next::kLast) {
      s->last_unit = next;
      s->highest = unit + LastUsedBit(page);
      s->last_bitmap = unit;
      DKPUT0(PUT_END_SHARED, buffer);
      return 0;
    }
    DKPUT0(PUT_END_SHARED, buffer);
    s->previous_bitmap = unit;
    unit = next;
  }
  return kCorruptBitmap;
}

}  // namespace

int32_t DKSIZ1(int32_t* request) {
  int32_t copy = FindCopy(kIndexDKSIZ1, request[SIZ_DID], request[SIZ_SEQNO]);
  if (copy < 0) return Finish(request, copy);
  Sizes s;
  if (int32_t rc = WalkBitmaps(copy, kIndexDKSIZ1, &s)) return Finish(request, rc);
  request[SIZ_IN_USE] = s.in_use;
  request[SIZ_UNITS] = s.last_unit + 1;
  request[SIZ_HIGHEST] = s.highest;
  return Finish(request, 0);
}

namespace {

// Sets the held bitmap page at `unit` last, its word 3 its highest unit in
// use, and writes it keeping it held; returns that unit or the error (the
// page then goes back as it was, released).
int32_t EndAtBitmap(int32_t databank, int32_t unit, int32_t* rq, int32_t buffer) {
  uint8_t* page = PageBytes(buffer);
  int32_t before = PageWord(page, BMP_NEXT);
  int32_t highest = unit + std::max(LastUsedBit(page), 0);
  SetPageWord(page, BMP_NEXT, highest);
  if (DKWRP0(rq, WRP_WRITE_HOLD, buffer) != 0) {
    SetPageWord(page, BMP_NEXT, before);
    DKPUT0(PUT_CHANGED_KEEP, buffer);
    ReportPageError(kIndexDKTDB1, -59, 3, unit, databank);
    return -59;
  }
  return highest;
}

int32_t CutFile(int32_t databank, int32_t last_unit) {
  int32_t io[IO_REQUEST_WORDS] = {0, -1, Bufferpool()[databank + DBE_CHANNEL], last_unit + 1, 0};
  mdrdmt(io);
  if (io[IO_RC] == 0) return 0;
  ReportPageError(kIndexDKTDB1, -44, 3, last_unit + 1, databank, io[IO_OS_STATUS]);
  return -44;
}

// The bitmap pages a cut changes, held for update from the reading of the
// highest unit in use until the file is cut, so that no allocation claims a
// unit or grows the file in between. They are taken in chunk order, as
// allocation takes them.
struct HeldBitmaps {
  int32_t previous = 0, last = 0;
  int32_t previous_rq[REQ_WORDS] = {}, last_rq[REQ_WORDS] = {};

  void Release() {
    if (last > 0) DKPUT0(PUT_UNCHANGED, last);
    if (previous > 0) DKPUT0(PUT_UNCHANGED, previous);
    last = previous = 0;
  }
};

// Holds the pages the walk found; 1 when a chunk came or went since the walk
// (nothing is held then), 0 when both are held, else the error.
int32_t HoldBitmaps(int32_t databank, const Sizes& s, HeldBitmaps* h) {
  if (s.previous_bitmap >= 0) {
    h->previous = GetUnitPage(databank, s.previous_bitmap, GET_UPDATE, h->previous_rq);
    if (h->previous < 0) return std::exchange(h->previous, 0);
    if (PageWord(PageBytes(h->previous), BMP_NEXT) != s.last_bitmap) {
      h->Release();
      return 1;
    }
  }
  h->last = GetUnitPage(databank, s.last_bitmap, GET_UPDATE, h->last_rq);
  if (h->last < 0) {
    int32_t rc = std::exchange(h->last, 0);
    h->Release();
    return rc;
  }
  if (NextOf(s.last_bitmap, PageWord(PageBytes(h->last), BMP_NEXT)) != Next::kLast) {
    h->Release();
    return 1;
  }
  return 0;
}

}  // namespace

int32_t DKTDB1(int32_t* request) {
  int32_t copy = FindCopy(kIndexDKTDB1, request[TDB_DID], request[TDB_SEQNO]);
  if (copy < 0) return Finish(request, copy);
  // Changed pages reach the file first: a freed page written back after the
  // cut would make the file long again. When one cannot be written, the
  // failure is the answer and the file is left as it is: its changes are
  // held back in the pool (the failed write has disabled the databank), and
  // a cut with a bitmap page rewritten over them would change a file whose
  // next open must check it as the failure left it.
  int32_t pag[PAGREQ_WORDS] = {copy, 0, 0, 0, -1, 0, 0, 0};
  if (int32_t rc = DKPAG0(pag, PAG_FLUSH)) return Finish(request, rc);
  for (;;) {
    Sizes s;
    if (int32_t rc = WalkBitmaps(copy, kIndexDKTDB1, &s)) return Finish(request, rc);
    HeldBitmaps h;
    int32_t held = HoldBitmaps(copy, s, &h);
    if (held < 0) return Finish(request, held);
    if (held > 0) continue;
    bool drop_chunk = h.previous > 0 && LastUsedBit(PageBytes(h.last)) <= 0;
    // The page before becomes the last one on disk before the file is cut.
    int32_t highest = drop_chunk ? EndAtBitmap(copy, s.previous_bitmap, h.previous_rq, h.previous)
                                 : EndAtBitmap(copy, s.last_bitmap, h.last_rq, h.last);
    if (highest < 0) {
      (drop_chunk ? h.previous : h.last) = 0;
      h.Release();
      return Finish(request, highest);
    }
    if (drop_chunk) {
      int32_t hint = s.last_bitmap;
      PoolWord(copy + DBE_ALLOC_HINT).compare_exchange_strong(hint, s.previous_bitmap);
      // The dropped page stays in the pool, clean and marked as no chunk of
      // the file (word 3 before its own unit), for the allocations that wait
      // for it: they start again from the hint rather than read a unit the
      // cut took away.
      // When that write fails (the failure has disabled the databank) the
      // cut ends with it: nothing is cut, and the page stays in the pool as
      // marked, changed, so that no allocation waiting for it takes a unit
      // of a chunk the page before no longer names. The file is then as a
      // crash between the two writes leaves it.
      SetPageWord(PageBytes(h.last), BMP_NEXT, s.last_bitmap - 1);
      if (DKWRP0(h.last_rq, WRP_WRITE_HOLD, h.last) != 0) {
        DKPUT0(PUT_CHANGED_KEEP, std::exchange(h.last, 0));
        h.Release();
        ReportPageError(kIndexDKTDB1, -59, 3, s.last_bitmap, copy);
        return Finish(request, -59);
      }
    }
    int32_t rc = CutFile(copy, highest);
    h.Release();
    if (rc != 0) return Finish(request, rc);
    if (!drop_chunk) return Finish(request, 0);
  }
}

namespace {

constexpr int32_t kIndexDKCOP1 = 14;

// A databank of a copy request: its entry in use with the DID (-45) and
// carrying the SEQNO (-43).
int32_t CheckCopyEnd(int32_t entry, int32_t did, int32_t seqno) {
  int32_t* a = Bufferpool();
  if (!DKIsDatabankEntry(entry) || a[entry + DBE_DID] == 0 || a[entry + DBE_DID] != did ||
      a[entry + DBE_CHANNEL] == 0) {
    Report(kIndexDKCOP1, -45, 2, &did, 0);
    return -45;
  }
  if (a[entry + DBE_SEQNO] != seqno) {
    Report(kIndexDKCOP1, -43, 2, &seqno, entry);
    return -43;
  }
  return 0;
}

// Moves `units` units at `unit` from one file to the other.
int32_t CopyUnits(int32_t from, int32_t to, int32_t unit, int32_t units, std::vector<char>* bytes) {
  int32_t* a = Bufferpool();
  int32_t io[IO_REQUEST_WORDS] = {0, -1, a[from + DBE_CHANNEL], unit, units * kUnitBytes};
  mdrdmr(io, bytes->data());
  int32_t databank = from;
  if (io[IO_RC] == 0) {
    int32_t out[IO_REQUEST_WORDS] = {0, -1, a[to + DBE_CHANNEL], unit, units * kUnitBytes};
    mdrdmw(out, bytes->data());
    std::copy(out, out + IO_REQUEST_WORDS, io);
    databank = to;
  }
  if (io[IO_RC] == 0) return 0;
  ReportPageError(kIndexDKCOP1, -44, 3, unit, databank, io[IO_OS_STATUS]);
  return -44;
}

}  // namespace

int32_t DKCOP1(int32_t* request) {
  int32_t from = request[COP_SOURCE], to = request[COP_TARGET];
  if (int32_t rc = CheckCopyEnd(from, request[COP_SOURCE + 1], request[COP_SOURCE + 2]))
    return Finish(request, rc);
  if (int32_t rc = CheckCopyEnd(to, request[COP_TARGET + 1], request[COP_TARGET + 2]))
    return Finish(request, rc);
  if (from == to) {
    Report(kIndexDKCOP1, -43, 2, &to, to);
    return Finish(request, -43);
  }
  int32_t pag[PAGREQ_WORDS] = {from, 0, 0, 0, -1, 0, 0, 0};
  if (int32_t rc = DKPAG0(pag, PAG_FLUSH)) return Finish(request, rc);
  int32_t drop[PAGREQ_WORDS] = {to, 0, 0, 0, -1, 0, 0, 0};
  DKPAG0(drop, PAG_DROP);
  Sizes s;
  if (int32_t rc = WalkBitmaps(from, kIndexDKCOP1, &s)) return Finish(request, rc);
  int32_t block_units = std::max(LoadWord(BP_MAX_PAGE_SIZE) / kUnitBytes, 1);
  std::vector<char> bytes(static_cast<size_t>(block_units) * kUnitBytes);
  for (int32_t unit = 0; unit <= s.last_unit; unit += block_units) {
    int32_t units = std::min(block_units, s.last_unit + 1 - unit);
    if (int32_t rc = CopyUnits(from, to, unit, units, &bytes)) return Finish(request, rc);
  }
  // The target's bitmap pages are the source's now.
  StoreWord(to + DBE_ALLOC_HINT, 0);
  return Finish(request, 0);
}
