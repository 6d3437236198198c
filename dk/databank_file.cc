// Creating, opening and extending databank files (DKCRD1), the checks of the
// header page at open, the close mark, and reading and updating header words
// (DKROO1). A file that fails the header checks is never written to.
#include "dk/databank_file.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>

#include "dk/bitmap_page.h"
#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/error_log.h"
#include "dk/restore_directory.h"
#include "platform/databank_io.h"
#include "platform/enqdeq.h"

static_assert(std::endian::native == std::endian::little,
              "page buffers hold the file's little-endian words as they are");

namespace {

constexpr int32_t kIndexDKCRD1 = 15;
constexpr int32_t kIndexDKROO1 = 51;

void Report(int32_t index, int32_t rc, int32_t severity, const void* value, int32_t context0,
            int32_t os_error = -1) {
  int32_t context[5] = {context0, 0, 0, 0, os_error};
  DKLogError(index, rc, severity, value, context);
}

const char* EntryName(int32_t databank) {
  return reinterpret_cast<const char*>(Bufferpool() + databank + DBE_NAME);
}

// Finds the entry of a DID and SEQNO for a create or open, or makes one.
// Returns the entry, or a negative code; *taken_over tells that an entry
// already open was taken over. An open that asks for the file's SEQNO (-1)
// takes the first entry of the DID over when its last user closed it
// (access mode 5), as DKOPD1 does: that entry still holds the file open and
// locked, so a second open of the file could only fail.
int32_t FindOrMakeEntry(const int32_t* request, bool* taken_over) {
  int32_t did = request[CRD_DID], seqno = request[CRD_SEQNO];
  int32_t* area = Bufferpool();
  int32_t hash = LoadWord(BP_DATABANK_HASH);
  *taken_over = false;
  EnqdeqGuard guard(area + BP_LOCK_DATABANK_HASH);
  int32_t head = DKHMI0(hash, did);
  if (head < 0) head = 0;
  const bool idle_first = head > 0 && seqno == -1 && request[CRD_MODE] >= 0 &&
                          area[head + DBE_ACCESS] >= 5 && area[head + DBE_KIND] != DBT_SHADOW &&
                          area[head + DBE_KIND] != DBT_BACKUP;
  for (int32_t at = head; at > 0; at = area[at + DBE_DEPENDENT]) {
    if (!(idle_first && at == head) && (seqno == -1 || area[at + DBE_SEQNO] != seqno)) continue;
    if (area[at + DBE_ACCESS] < 5) return -32;
    area[at + DBE_ACCESS] = 1;
    area[at + DBE_OPENS] = 1;
    *taken_over = true;
    return at;
  }
  return NewDatabankEntry(request, head);
}

// An open that asked for the file's SEQNO (-1) learns it only from the
// header: the entry takes it now, under the databank lock, unless another
// entry of the DID already carries it. That one is taken over as at the
// start of the open when its access mode is 5 or more (its index is put in
// *other); otherwise the open is refused with -32, so no two entries of one
// DID and SEQNO are open at once.
int32_t ClaimSeqno(int32_t entry, int32_t seqno, int32_t* other) {
  int32_t* area = Bufferpool();
  EnqdeqGuard guard(area + BP_LOCK_DATABANK_HASH);
  int32_t head = DKHMI0(LoadWord(BP_DATABANK_HASH), area[entry + DBE_DID]);
  for (int32_t at = head > 0 ? head : 0; at > 0; at = area[at + DBE_DEPENDENT]) {
    if (at == entry || area[at + DBE_SEQNO] != seqno) continue;
    if (area[at + DBE_ACCESS] < 5) return -32;
    area[at + DBE_ACCESS] = 1;
    area[at + DBE_OPENS] = 1;
    *other = at;
    return 0;
  }
  area[entry + DBE_SEQNO] = seqno;
  return 0;
}

void FreeEntry(int32_t entry) {
  int32_t* area = Bufferpool();
  int32_t hash = LoadWord(BP_DATABANK_HASH);
  EnqdeqGuard guard(area + BP_LOCK_DATABANK_HASH);
  int32_t head = DKHMI0(hash, area[entry + DBE_DID]);
  if (head == entry) {
    DKHMP0(hash, entry);
    int32_t next = area[entry + DBE_DEPENDENT];
    if (next > 0) DKHML0(hash, next);
  } else {
    for (int32_t at = head; at > 0; at = area[at + DBE_DEPENDENT])
      if (area[at + DBE_DEPENDENT] == entry) {
        area[at + DBE_DEPENDENT] = area[entry + DBE_DEPENDENT];
        break;
      }
  }
  area[entry + DBE_DEPENDENT] = 0;
  area[entry + DBE_DID] = 0;
  area[entry - 1] = 0;
  EnqdeqGuard free_guard(area + BP_LOCK_DATABANK_FREE);
  DKHML0(hash, entry);
}

int32_t CloseFile(int32_t entry, bool remove) {
  int32_t io[IO_REQUEST_WORDS] = {remove ? 1 : 0, -1, Bufferpool()[entry + DBE_CHANNEL], 0, 0};
  if (io[IO_FILE_ID] == 0) return 0;
  mdrdmc(io);
  Bufferpool()[entry + DBE_CHANNEL] = 0;
  return io[IO_RC];
}

int32_t ReadHeader(int32_t databank, int32_t mode, int32_t* request) {
  return GetUnitPage(databank, kHeaderUnit, mode, request);
}

int32_t WriteBitmap(int32_t databank, int32_t buffer, int32_t unit) {
  if (WriteUnitPage(databank, unit, buffer) == 0) return 0;
  Report(kIndexDKCRD1, -59, 3, &unit, databank);
  return -59;
}

int32_t CreateBitmapsAndHeader(int32_t entry, int32_t units) {
  int32_t* area = Bufferpool();
  int32_t remaining = units;
  for (int32_t chunk = 0;; chunk += kBitmapChunkUnits) {
    int32_t rq[REQ_WORDS] = {entry, chunk, kUnitBytes, 0, -1, 0};
    int32_t buffer = DKGET0(rq, GET_NEW);
    if (buffer < 0) return buffer;
    bool more = remaining > kBitmapChunkUnits;
    FormatBitmapPage(PageBytes(buffer), chunk, more ? chunk + kBitmapChunkUnits : units - 1);
    if (int32_t rc = WriteBitmap(entry, buffer, chunk)) return rc;
    if (!more) break;
    remaining -= kBitmapChunkUnits;
  }
  int32_t rq[REQ_WORDS];
  int32_t buffer = ReadHeader(entry, GET_NEW, rq);
  if (buffer < 0) return buffer;
  FormatHeaderPage(PageBytes(buffer), LoadWord(BP_SYSDB_IDENTITY), area[entry + DBE_DID],
                   area[entry + DBE_SEQNO]);
  if (DKWRP0(rq, WRP_WRITE_WAIT, buffer) != 0) {
    int32_t unit = kHeaderUnit;
    Report(kIndexDKCRD1, -61, 3, &unit, entry);
    return -61;
  }
  return 0;
}

// Grows the file by `units` units from its current end, keeping the bitmap
// pages in step: a new chunk gets its bitmap page at its first unit.
int32_t ExtendDatabank(int32_t entry, int32_t units) {
  int32_t bitmap = 0, buffer = 0;
  for (;;) {
    int32_t rq[REQ_WORDS] = {entry, bitmap, kUnitBytes, 0, -1, 0};
    buffer = DKGET0(rq, GET_UPDATE);
    if (buffer < 0) return buffer;
    int32_t next = PageWord(PageBytes(buffer), BMP_NEXT);
    if (next != bitmap + kBitmapChunkUnits) break;
    DKPUT0(PUT_UNCHANGED, buffer);
    bitmap = next;
  }
  int32_t rc = 0;
  uint8_t* page = PageBytes(buffer);
  while (units > 0) {
    int32_t from = PageWord(page, BMP_NEXT) + 1, os = -1;
    int32_t chunk_end = bitmap + kBitmapChunkUnits;  // unit of the next bitmap page
    int32_t added = ExtendFile(entry, from, std::min(units, chunk_end - from + 1), &os);
    if (added <= 0) {
      int32_t code = added == -6 ? -21 : -44;
      Report(kIndexDKCRD1, code, 2, &from, entry, os);
      rc = -21;
      break;
    }
    units -= added;
    int64_t reached = static_cast<int64_t>(from) + added - 1;
    if (reached < chunk_end) {
      SetPageWord(page, BMP_NEXT, static_cast<int32_t>(reached));
      continue;
    }
    // The next chunk begins inside the added space: its bitmap page goes there.
    int32_t nrq[REQ_WORDS] = {entry, chunk_end, kUnitBytes, 0, -1, 0};
    int32_t fresh = DKGET0(nrq, GET_NEW);
    if (fresh < 0) {
      rc = fresh;
      break;
    }
    FormatBitmapPage(PageBytes(fresh), chunk_end, chunk_end);
    // The old page names the new one only once that is on disk: a link to
    // a page never written would make the chain go on through a page that
    // is no bitmap page.
    if (WriteBitmap(entry, fresh, chunk_end) != 0) {
      WriteBitmap(entry, buffer, bitmap);
      return -59;
    }
    SetPageWord(page, BMP_NEXT, chunk_end);
    if (WriteBitmap(entry, buffer, bitmap) != 0) return -59;
    bitmap = chunk_end;
    int32_t grq[REQ_WORDS] = {entry, bitmap, kUnitBytes, 0, -1, 0};
    buffer = DKGET0(grq, GET_UPDATE);
    if (buffer < 0) return buffer;
    page = PageBytes(buffer);
    SetPageWord(page, BMP_NEXT,
                static_cast<int32_t>(std::min<int64_t>(reached, bitmap + kBitmapChunkUnits - 1)));
    units += static_cast<int32_t>(reached - PageWord(page, BMP_NEXT));
  }
  if (WriteBitmap(entry, buffer, bitmap) != 0) return -59;
  return rc;
}

// Applies the checks of an open to a header page. Returns 0 or the error.
int32_t CheckHeaderWords(const uint8_t* page, int32_t mode, int32_t entry, int32_t* seqno) {
  if (PageWord(page, HDR_KIND) != ROOT_PAGE_KIND) return -12;
  int32_t version = PageWord(page, HDR_FORMAT);
  int32_t did = Bufferpool()[entry + DBE_DID];
  auto compare_seqno = [&]() -> int32_t {
    if (PageWord(page, HDR_SEQNO) == *seqno) return 0;
    if (*seqno != -1) return -47;
    *seqno = PageWord(page, HDR_SEQNO);
    return 0;
  };
  if (mode == 1) {
    if (version < 3 || version > FORMAT_VERSION) return -15;
    if (PageWord(page, HDR_DID) != did) return -16;
    if (version < 4) {
      *seqno = 0;
      return 0;
    }
    return compare_seqno();
  }
  if (version != FORMAT_VERSION) return -15;
  if (PageWord(page, HDR_DID) != -1) {
    if (mode == 2 && PageWord(page, HDR_SYSTEM_IDENTITY) != LoadWord(BP_SYSDB_IDENTITY)) return -16;
    if (did != -1 && did != PageWord(page, HDR_DID)) return -16;
    return compare_seqno();
  }
  return 0;
}

void ReportOpenFailure(int32_t entry, int32_t rc, int32_t seqno) {
  if (rc == -47)
    Report(kIndexDKCRD1, rc, 2, &seqno, entry);
  else
    Report(kIndexDKCRD1, rc, 2, EntryName(entry), entry);
}

// The close mark decides the check of the databank.
void ChooseCheck(int32_t entry, int32_t close_mark) {
  int32_t state = CHK_INIT;
  if (close_mark == CLOSE_MARK_CLOSED) state = CHK_COMPLETE;
  if (close_mark == CLOSE_MARK_CHECK_PENDING) state = CHK_WAIT_BACKGROUND;
  Bufferpool()[entry + DBE_STATE] = state;
}

// Opens the file of a new or taken-over entry. When the header names an
// entry already open that is taken over instead, *other is that entry and
// this one's file is left as it was.
int32_t OpenExisting(int32_t* request, int32_t entry, bool taken_over, int32_t* other) {
  int32_t mode = request[CRD_MODE];
  int32_t rq[REQ_WORDS];
  int32_t buffer = ReadHeader(entry, GET_UPDATE, rq);
  if (buffer < 0) return buffer;
  uint8_t* page = PageBytes(buffer);
  int32_t seqno = request[CRD_SEQNO];
  int32_t rc = CheckHeaderWords(page, mode, entry, &seqno);
  if (rc == 0 && !taken_over) rc = ClaimSeqno(entry, seqno, other);
  if (rc != 0 || *other != 0) {
    // Not ours, not as asked, or open already: drop the header buffer
    // unwritten.
    DKWRP0(rq, WRP_DROP, buffer);
    if (rc != 0) ReportOpenFailure(entry, rc, request[CRD_SEQNO]);
    if (rc == 0) request[CRD_SEQNO] = seqno;
    return rc;
  }
  request[CRD_SEQNO] = seqno;
  Bufferpool()[entry + DBE_SEQNO] = seqno;
  // Mode 1 (which older formats pass too) and mode 2 leave the close mark
  // as it is and choose no check; the entry stays in its first check state,
  // so that its close writes no mark either: a crash found on disk stays
  // there for the next open that checks.
  if (mode == 1 || mode == 2 || taken_over) {
    DKPUT0(PUT_UNCHANGED, buffer);
    return 0;
  }
  int32_t close_mark = PageWord(page, HDR_CLOSE_MARK);
  int32_t type = request[CRD_TYPE];
  if (close_mark != CLOSE_MARK_OPEN && type != DBT_WORK) {
    SetPageWord(page, HDR_CLOSE_MARK, CLOSE_MARK_OPEN);
    if (DKWRP0(rq, WRP_WRITE_WAIT, buffer) != 0) {
      int32_t unit = kHeaderUnit;
      Report(kIndexDKCRD1, -61, 3, &unit, entry);
      return -61;
    }
  } else {
    DKPUT0(PUT_UNCHANGED, buffer);
  }
  ChooseCheck(entry, close_mark);
  return 0;
}

}  // namespace

int32_t NewDatabankEntry(const int32_t* request, int32_t head) {
  int32_t did = request[CRD_DID], seqno = request[CRD_SEQNO], type = request[CRD_TYPE];
  int32_t* area = Bufferpool();
  int32_t hash = LoadWord(BP_DATABANK_HASH);
  int32_t entry;
  {
    EnqdeqGuard free_guard(area + BP_LOCK_DATABANK_FREE);
    entry = DKHMA0(hash);
  }
  if (entry < 1) return -11;
  std::memset(area + entry, 0, sizeof(int32_t) * (DBE_WORDS - 1));
  enqdeq_init_semaphore(area + entry + DBE_LOCK1, 1);
  enqdeq_init_semaphore(area + entry + DBE_LOCK2, 1);
  enqdeq_init_semaphore(area + entry + DBE_WAIT, 0);
  enqdeq_init_semaphore(area + entry + DBE_LOCK3, 1);
  area[entry + DBE_DID] = did;
  area[entry + DBE_SEQNO] = seqno;
  area[entry + DBE_OPENS] = 1;
  if (type == DBT_BACKUP_MAKING || type == DBT_SHADOW_MAKING) {
    area[entry + DBE_KIND] = type == DBT_BACKUP_MAKING ? DBT_BACKUP : DBT_SHADOW;
    area[entry + DBE_ACCESS] = 3;
    area[entry + DBE_OFFLINE] = 4;
  } else {
    area[entry + DBE_KIND] = type;
    area[entry + DBE_ACCESS] = 1;
  }
  area[entry + DBE_STATE] = CHK_INIT;
  std::memcpy(area + entry + DBE_NAME, request + CRD_NAME, DBE_NAME_BYTES);
  if (head > 0) {
    // A second entry of the same DID hangs from the first one's chain.
    int32_t tail = head;
    while (area[tail + DBE_DEPENDENT] > 0) tail = area[tail + DBE_DEPENDENT];
    area[tail + DBE_DEPENDENT] = entry;
  } else {
    DKHML0(hash, entry);
  }
  return entry;
}

int32_t ReleaseDatabank(int32_t databank, bool write_pages) {
  int32_t pag[PAGREQ_WORDS] = {databank, 0, 0, 0, -1, 0, 0, 0};
  if (write_pages) DKPAG0(pag, PAG_FLUSH);
  DKPAG0(pag, PAG_DROP);
  int32_t rc = CloseFile(databank, false);
  FreeEntry(databank);
  return rc;
}

int32_t DKCRD1(int32_t* request) {
  int32_t mode = request[CRD_MODE];
  if (mode < -2 || mode > 4) {
    Report(kIndexDKCRD1, -43, 2, &mode, 0);
    request[CRD_MODE] = -43;
    return -43;
  }
  bool create = mode < 0;
  int32_t units = request[CRD_UNITS];
  if ((create && units < 2) || units < 0) {
    Report(kIndexDKCRD1, -43, 2, &units, 0);
    request[CRD_MODE] = -43;
    return -43;
  }
  bool taken_over = false;
  int32_t entry = FindOrMakeEntry(request, &taken_over);
  if (entry < 0) {
    int32_t limit = LoadWord(BP_DATABANK_COUNT);
    if (entry == -11) Report(kIndexDKCRD1, -11, 2, &limit, 0);
    request[CRD_MODE] = entry;
    return entry;
  }
  int32_t* area = Bufferpool();
  if (!taken_over) {
    int32_t io[IO_REQUEST_WORDS] = {create ? mode : IO_OPEN_READ_WRITE, -1, 0, create ? units : 0,
                                    0};
    mdrdmo(io, reinterpret_cast<const char*>(request + CRD_FILE));
    if (io[IO_RC] != 0) {
      Report(kIndexDKCRD1, io[IO_RC], 2, request + CRD_FILE, entry, io[IO_OS_STATUS]);
      FreeEntry(entry);
      request[CRD_MODE] = io[IO_RC];
      return io[IO_RC];
    }
    area[entry + DBE_CHANNEL] = io[IO_FILE_ID];
  }
  int32_t rc;
  bool header_taken = false;  // the open passed the header checks
  if (create) {
    rc = CreateBitmapsAndHeader(entry, units);
    if (rc == 0) area[entry + DBE_STATE] = CHK_COMPLETE;
  } else {
    int32_t other = 0;
    rc = OpenExisting(request, entry, taken_over, &other);
    if (other != 0) {
      int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 0, 0};
      DKPAG0(pag, PAG_DROP);
      CloseFile(entry, false);
      FreeEntry(entry);
      entry = other;
      taken_over = true;
    }
    header_taken = rc == 0;
    if (rc == 0 && units > 0) rc = ExtendDatabank(entry, units);
  }
  if (rc != 0 && !taken_over) {
    int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 0, 0};
    const bool written = !(create || header_taken) || DKPAG0(pag, PAG_FLUSH) == 0;
    // A file that passed its checks had its close mark cleared by the open;
    // it gets the mark a close would give it, once its pages are written
    // (else it stays marked open, as after a crash). Any other file is left
    // as it was found.
    if (header_taken && written) WriteCloseMark(entry);
    DKPAG0(pag, PAG_DROP);
    CloseFile(entry, create);
    FreeEntry(entry);
  }
  request[CRD_MODE] = rc;
  if (rc == 0) request[CRD_UNITS] = entry;
  return rc;
}

int32_t WriteCloseMark(int32_t databank) {
  int32_t* area = Bufferpool();
  int32_t state = area[databank + DBE_STATE];
  int32_t error = area[databank + DBE_ERROR];
  int32_t mark;
  if (state == CHK_COMPLETE)
    mark = CLOSE_MARK_CLOSED;
  else if (state >= CHK_BACKGROUND && state <= CHK_ABORTED)
    mark = CLOSE_MARK_CHECK_PENDING;
  else
    return 0;
  if (error != 0 && error != -19 && error != -21) return 0;
  int32_t rq[REQ_WORDS];
  int32_t buffer = ReadHeader(databank, GET_UPDATE, rq);
  if (buffer < 0) return buffer;
  SetPageWord(PageBytes(buffer), HDR_CLOSE_MARK, mark);
  if (DKWRP0(rq, WRP_WRITE_WAIT, buffer) != 0) {
    int32_t unit = kHeaderUnit;
    Report(kIndexDKCRD1, -61, 3, &unit, databank);
    return -61;
  }
  return 0;
}

int32_t CheckHeaderAtOpen(int32_t databank, int32_t type, int32_t* seqno, int32_t* close_mark) {
  int32_t rq[REQ_WORDS];
  int32_t buffer = ReadHeader(databank, GET_UPDATE, rq);
  if (buffer < 0) return buffer;
  uint8_t* page = PageBytes(buffer);
  int32_t* area = Bufferpool();
  int32_t did = area[databank + DBE_DID];
  int32_t mark = PageWord(page, HDR_CLOSE_MARK);
  bool rewrite = mark != CLOSE_MARK_OPEN && type != DBT_WORK;
  int32_t rc = 0;
  // The kind is checked first: nothing is taken from a file that is not a
  // databank, not even the system databank identity.
  if (PageWord(page, HDR_KIND) == ROOT_PAGE_KIND && did == 1) {
    area[BP_SYSDB_IDENTITY] = PageWord(page, HDR_SYSTEM_IDENTITY);
    area[BP_SYSDB_STAMP] = PageWord(page, HDR_RESTORE_TIME);
  }
  if (PageWord(page, HDR_KIND) != ROOT_PAGE_KIND) {
    rc = -12;
  } else if (PageWord(page, HDR_FORMAT) != FORMAT_VERSION) {
    rc = -15;
  } else if (PageWord(page, HDR_SEQNO) != *seqno && *seqno != -1) {
    rc = -47;
  } else if (PageWord(page, HDR_SYSTEM_IDENTITY) != area[BP_SYSDB_IDENTITY] ||
             PageWord(page, HDR_DID) != did) {
    rc = -16;
  }
  if (rc != 0) {
    DKWRP0(rq, WRP_DROP, buffer);
    area[databank + DBE_STATE] = CHK_ABORTED;
    if (rc == -47)
      Report(44, rc, 2, seqno, databank);
    else
      Report(44, rc, 2, EntryName(databank), databank);
    return rc;
  }
  if (*seqno == -1) *seqno = PageWord(page, HDR_SEQNO);
  area[databank + DBE_SEQNO] = *seqno;
  if (type == DBT_WORK || did == 4) {
    std::memset(page + 4 * HDR_TABLE_ROOTS, 0, kUnitBytes - 4 * HDR_TABLE_ROOTS);
    SetPageWord(page, HDR_NEXT_ROOT, 0);
    mark = -1;
    rewrite = false;
    DKPUT0(PUT_CHANGED, buffer);
  } else if (rewrite) {
    SetPageWord(page, HDR_CLOSE_MARK, CLOSE_MARK_OPEN);
    if (DKWRP0(rq, WRP_WRITE_WAIT, buffer) != 0) {
      int32_t unit = kHeaderUnit;
      Report(44, -61, 3, &unit, databank);
      return -61;
    }
  } else {
    DKPUT0(PUT_UNCHANGED, buffer);
  }
  *close_mark = mark;
  return 0;
}

int32_t DKROO1(int32_t* request) {
  int32_t code = request[ROO_CODE], databank = request[ROO_DATABANK];
  auto finish = [&](int32_t rc) {
    request[ROO_CODE] = rc;
    return rc;
  };
  if (code == 6) return finish(0);
  bool known = code == 1 || code == 2 || code == 3 || code == 4 || code == 5 || code == 7 ||
               (code >= 9 && code <= 14);
  if (!known) {
    Report(kIndexDKROO1, -43, 2, &code, 0);
    return finish(-43);
  }
  if (!DKIsDatabankEntry(databank) || LoadWord(databank + DBE_DID) == 0) {
    Report(kIndexDKROO1, -45, 2, &databank, 0);
    return finish(-45);
  }
  int32_t* area = Bufferpool();
  int32_t seqno = request[ROO_SEQNO];
  if (code != 1 && seqno != -1) {
    bool carried = false;
    int32_t head = DKHMI0(LoadWord(BP_DATABANK_HASH), area[databank + DBE_DID]);
    for (int32_t at = head; at > 0; at = area[at + DBE_DEPENDENT])
      if (area[at + DBE_SEQNO] == seqno) carried = true;
    if (!carried) {
      Report(kIndexDKROO1, -47, 2, &seqno, databank);
      return finish(-47);
    }
  }
  if (code == 4 || code == 5 || code == 7 || code == 14) return finish(RestoreDirectory(request));

  int32_t rq[REQ_WORDS];
  if (code == 1) {
    int32_t buffer = ReadHeader(databank, GET_SHARED, rq);
    if (buffer < 0) return finish(buffer);
    const uint8_t* page = PageBytes(buffer);
    for (int k = HDR_CREATOR_VERSION; k <= HDR_SEQNO; ++k)
      request[ROO_HEADER + k - HDR_CREATOR_VERSION] = PageWord(page, k);
    DKPUT0(PUT_END_SHARED, buffer);
    return finish(0);
  }
  int32_t buffer = ReadHeader(databank, GET_UPDATE, rq);
  if (buffer < 0) return finish(buffer);
  uint8_t* page = PageBytes(buffer);
  switch (code) {
    case 2:
      SetPageWord(page, HDR_SYSTEM_IDENTITY, request[ROO_SYSTEM_IDENTITY]);
      SetPageWord(page, HDR_DID, request[ROO_DID]);
      break;
    case 3:
      SetPageWord(page, HDR_RESTORE_TIME, request[ROO_STAMP] + 1);
      break;
    case 9:
      SetPageWord(page, HDR_RESTORE_TIME, request[ROO_STAMP]);
      break;
    case 10:
      SetPageWord(page, HDR_SYSTEM_IDENTITY, LoadWord(BP_SYSDB_IDENTITY));
      SetPageWord(page, HDR_DID, request[ROO_DID]);
      break;
    case 11:
      SetPageWord(page, HDR_SEQNO, request[ROO_SEQNO]);
      break;
    case 12:
      SetPageWord(page, HDR_SEQNO, request[ROO_SEQNO]);
      area[databank + DBE_SEQNO] = request[ROO_SEQNO];
      break;
    case 13:
      SetPageWord(page, HDR_SEQNO, request[ROO_NEW_SEQNO]);
      break;
  }
  if (DKWRP0(rq, WRP_WRITE_WAIT, buffer) != 0) {
    int32_t unit = kHeaderUnit;
    Report(kIndexDKROO1, -61, 3, &unit, databank);
    return finish(-61);
  }
  return finish(0);
}
