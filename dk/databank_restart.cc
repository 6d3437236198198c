// The replay of a databank's restart set at its open (DKRSD1): the records
// owed to every copy (section 32) or to one copy (section 31) are applied to
// the usable copies, each section's mark is rewritten once it is settled,
// and a set whose sections are all done is dropped.
#include "dk/databank_restart.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "dk/background_threads.h"
#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/databank_verification.h"
#include "dk/error_log.h"
#include "dk/large_object.h"
#include "dk/request.h"
#include "dk/restore_directory.h"
#include "dk/set_pages.h"
#include "dk/set_requests.h"
#include "dk/set_table.h"
#include "dk/table_alter.h"
#include "dk/table_entries.h"
#include "dk/table_open.h"
#include "dk/transactions.h"
#include "dk/write_set_codes.h"
#include "platform/enqdeq.h"
#include "platform/server_clock.h"

namespace {

constexpr int32_t kDone = 30, kOneCopy = 31, kEveryCopy = 32, kEnd = 33;

struct Replay {
  int32_t mode = -1, entry = 0, did = 0;
  int32_t set = 0;     // the restart set's table entry
  int32_t state = 0;   // 0 before the first mark, else the open section's mark
  int32_t chosen = 0;  // the copy of a section 31
  int32_t mark_page = 0, mark_position = 0;
  int32_t verdict = 0;    // 30 while every settled section is done
  bool extents = false;   // DKRSL1: settle extents only, write and rewrite nothing
  bool log = false;       // DKREL1: the LOG databank's set, owed to its log table
  int32_t last_mark = 0;  // the new mark of the last section settled
  std::vector<int32_t> block;
};

// The routine a report names: the replay, the extent settlement or the log
// replay, set for the time one of them runs.
thread_local const char* running = "DKRSD1";
int32_t Index() {
  return dkset::RoutineIndex(running);
}
struct Running {
  explicit Running(const char* name) : before(running) { running = name; }
  ~Running() { running = before; }
  const char* before;
};

void Report(int32_t rc, int32_t severity, int32_t value, int32_t databank) {
  int32_t context[5] = {databank, 0, 0, 0, -1};
  DKLogError(Index(), rc, severity, &value, context);
}

std::vector<int32_t> Copies(const Replay& r) {
  int32_t* a = Bufferpool();
  std::vector<int32_t> copies;
  int32_t limit = LoadWord(BP_DATABANK_COUNT);
  for (int32_t at = r.entry, n = 0; DKIsDatabankEntry(at) && n < limit;
       at = a[at + DBE_DEPENDENT], ++n)
    copies.push_back(at);
  return copies;
}

bool Usable(int32_t copy) {
  const int32_t* a = Bufferpool();
  return a[copy + DBE_ERROR] == 0 && a[copy + DBE_OFFLINE] == 0;
}

// The table entry of a TBL, opened (and closed again, so that it stays in
// the table hash) when it is not there; 0 when it cannot be had.
int32_t TableOf(const Replay& r, const int32_t* record) {
  int32_t tbl = record[RQ_TBL];
  {
    EnqdeqGuard guard(Bufferpool() + BP_LOCK_TABLE_HASH);
    int32_t t = DKHMI0(LoadWord(BP_TABLE_HASH), tbl);
    if (dkset::IsTableEntry(t)) return t;
  }
  // The lengths the open must name are the table's own: a change record
  // carries its record length but not always the key length.
  std::vector<int32_t> open(GTS_TOP_ENTRIES + 1, 0);
  open[RQ_DID] = r.did;
  open[OPT_KIND] = -1;
  open[RQ_TBL] = tbl;
  DKGTS1(open.data());
  if (open[RQ_STATUS] < 0) return 0;
  open[RQ_STATUS] = 3;
  open[OPT_KIND] = -1;
  open[RQ_TABLE] = 0;
  DKOPT1(open.data());
  if (open[RQ_STATUS] != 0) return 0;
  int32_t t = open[RQ_TABLE];
  open[RQ_STATUS] = 0;
  DKCLT1(open.data());
  return t;
}

// The write mode of the replayed operations: the caller's order value, or
// at an open the order value 1, as the TRANS restart's appends use. A tree
// changed under an order value keeps its write order (a split's new page
// before the parent that names it), so a replay cut short by a crash leaves
// every tree readable and is simply run again.
constexpr int32_t kOpenOrder = 1;
int32_t WriteMode(const Replay& r) {
  return r.mode == -1 ? kOpenOrder : r.mode;
}

// Records that act on a table's existence or on a copy rather than on a
// table's rows.
bool CopyOperation(int32_t code) {
  switch (code) {
    case 8:
    case 9:
    case 13:
    case 14:
    case 17:
    case 18:
    case 19:
      return true;
  }
  return false;
}

// Records that concern no copy at restart.
bool Skipped(int32_t code) {
  switch (code) {
    case 3:
    case 12:
    case 15:
    case 16:
    case 20:
    case 21:
    case 22:
    case 51:
    case 52:
    case 53:
    case 54:
    case 60:
      return true;
  }
  return false;
}

constexpr int32_t kObjectCopySeqno = 100000;
// Entry codes of the record routines.
constexpr int32_t kInsert = 38, kUpdate = 55, kDelete = 20;

// A table operation applied to each copy it is owed to (only to the copy
// with `only_seqno` when that is not 0).
void ApplyRecord(Replay* r, int32_t length, int32_t only_seqno = 0) {
  int32_t* a = Bufferpool();
  int32_t* record = r->block.data() + SETRQ_RECORD;
  int32_t code = WriteSetEntryCode(record[0]);
  int32_t first = TableOf(*r, record);
  if (first == 0) return;
  std::vector<int32_t> request(record, record + length);
  // DKALR1 reads its alter structure up to the length the structure
  // states: what a short record lacks is read as zeros, never past its end.
  if (code == 4) {
    const int64_t stated = length > ALR_TOTAL_WORDS ? record[ALR_TOTAL_WORDS] : 0;
    request.resize(std::max(request.size(), static_cast<size_t>(std::clamp<int64_t>(
                                                stated, ALR_HEADER, kAlterMaxWords))));
  }
  for (int32_t t = first, n = 0; dkset::IsTableEntry(t) && n <= LoadWord(BP_TABLE_COUNT);
       t = a[t + TBE_NEXT], ++n) {
    int32_t d = a[t + TBE_DATABANK];
    if (!DKIsDatabankEntry(d) || a[d + DBE_CHANNEL] == 0 || a[d + DBE_OFFLINE] != 0) continue;
    if (r->state == kOneCopy && d != r->chosen) continue;
    if (only_seqno != 0 && a[d + DBE_SEQNO] != only_seqno) continue;
    std::copy(record, record + length, request.begin());
    request[RQ_STATUS] = code == 4 ? -1 : WriteMode(*r);
    request[RQ_TABLE] = t;
    // A copy of SEQNO 100000 keeps the objects of its large-object
    // directory in pages of its own.
    if (a[d + DBE_SEQNO] == kObjectCopySeqno && a[t + TBE_KIND] == kKindLobRefs &&
        (code == kInsert || code == kUpdate || code == kDelete)) {
      code == kDelete ? DKDeleteOnCopy(request.data()) : DKUBL0(request.data());
    } else {
      DKCallEntry(code, request.data(), nullptr);
    }
    if (request[RQ_STATUS] < 0) Report(request[RQ_STATUS], 4, record[RQ_TBL], d);
  }
}

// The copies of the replayed databank that are online, with their file
// open, and not backups.
std::vector<int32_t> NonBackupCopies(const Replay& r) {
  const int32_t* a = Bufferpool();
  std::vector<int32_t> out;
  for (int32_t copy : Copies(r))
    if (a[copy + DBE_KIND] != DBT_BACKUP && a[copy + DBE_OFFLINE] == 0 &&
        a[copy + DBE_CHANNEL] != 0)
      out.push_back(copy);
  return out;
}

// Record 8: the table is marked dropped on the chosen copy (in a section
// 31) or on every copy (32). DKDRT1 takes the head alone (word 4 not 0) or
// the copies after it (0).
int32_t DropTable(Replay* r, std::span<int32_t> record) {
  std::vector<int32_t> rq(record.begin(), record.end());
  if (rq.size() < CRT_WORDS) rq.resize(CRT_WORDS, 0);
  std::vector<int32_t> which;
  if (r->state == kOneCopy)
    which.push_back(Bufferpool()[r->chosen + DBE_KIND] == DBT_SHADOW ? 0 : 1);
  else
    which = {1, 0};
  for (int32_t w : which) {
    std::copy(record.begin(), record.end(), rq.begin());
    rq[RQ_STATUS] = WriteMode(*r);
    rq[RQ_TABLE] = w;
    DKDRT1(rq.data());
    if (rq[RQ_STATUS] < 0) return rq[RQ_STATUS];
  }
  return 0;
}

// Record 17 of the TRANS databank: the copy with the record's SEQNO, when
// its file is open, is rebuilt from the TRANS databank.
int32_t RebuildTransCopy(const Replay& r, std::span<int32_t> record) {
  if (record[RQ_DID] != 2) return 0;
  const int32_t* a = Bufferpool();
  for (int32_t copy : Copies(r)) {
    if (a[copy + DBE_SEQNO] != record[RQ_TYPE] || a[copy + DBE_CHANNEL] == 0) continue;
    int32_t rq[RSD_WORDS] = {-1, copy, 2, -1};
    return DKRET1(rq);
  }
  return 0;
}

// Records 13 and 14: the restore time stamps owed to the restore
// directories of the copies: word 3 the DID whose slot, word 5 the stamp.
// Every copy that is not a backup takes them in a section 32, the chosen one in a 31 (unless a backup). At an
// open (mode -1) a stamp that does not fit only warns. A failure for a
// copy ends the replay.
int32_t Stamps(Replay* r, std::span<int32_t> record) {
  if (record.size() <= static_cast<size_t>(WSR_STAMP)) {
    Report(-88, 2, record[0], LoadWord(BP_TRANS_ENTRY));
    return 0;
  }
  std::vector<int32_t> copies;
  if (r->state == kEveryCopy)
    copies = NonBackupCopies(*r);
  else if (Bufferpool()[r->chosen + DBE_KIND] != DBT_BACKUP)
    copies.push_back(r->chosen);
  for (int32_t copy : copies) {
    // The TRANS databank's header word 4 starts its root pages, not a
    // restore directory.
    if (r->did == 2) {
      Report(-43, 2, record[0], copy);
      return 0;
    }
    const int32_t rc = DKILT0(copy, record[WSR_STAMP_DID], record[WSR_STAMP], r->mode);
    if (rc < 0) return rc;
  }
  return 0;
}

// The records of copy operations in an owed section. Failures are
// reported against the chosen copy and the replay goes on; only the
// restore-directory stamps of a copy end it.
int32_t ApplyCopyOperation(Replay* r, std::span<int32_t> record) {
  const int32_t code = record[0];
  int32_t rc = 0;
  switch (code) {
    case 8:
      rc = DropTable(r, record);
      break;
    case 9: {
      std::vector<int32_t> rq(record.begin(), record.end());
      if (rq.size() < CRT_WORDS) rq.resize(CRT_WORDS, 0);
      rq[RQ_STATUS] = WriteMode(*r);
      DKCRT1(rq.data());
      rc = rq[RQ_STATUS];
      if (rc == 0) {
        rq[RQ_STATUS] = 0;
        DKCLT1(rq.data());
      }
      break;
    }
    case 13:
    case 14:
      return Stamps(r, record);
    case 17:
      rc = RebuildTransCopy(*r, record);
      break;
    case 18:
    case 19: {
      // The table post-processing of the write-set application.
      std::vector<int32_t> rq(record.begin(), record.end());
      rc = DKPTR1(rq, WriteMode(*r));
      break;
    }
  }
  if (rc < 0) Report(rc, 4, code, r->chosen != 0 ? r->chosen : r->entry);
  return 0;
}

// Rewrites the mark of the section being settled, when the log is open.
int32_t RewriteMark(Replay* r, int32_t mark) {
  if (!r->log && LoadWord(BP_LOG_TABLE) <= 0) {
    if (r->did == 1) StoreWord(BP_SYSDB_RESTARTED, 0);
    return 0;
  }
  std::vector<int32_t> update(SETRQ_RECORD + 4, 0);
  update[SETRQ_RC] = -2;
  update[SETRQ_TABLE] = r->set;
  update[SETRQ_TBL] = r->did;
  update[SETRQ_PAGE] = r->mark_page;
  update[SETRQ_POSITION] = r->mark_position;
  update[SETRQ_LENGTH] = 4;
  update[SETRQ_RECORD] = mark;
  update[SETRQ_RECORD + 2] = r->did;
  update[SETRQ_RECORD + 3] =
      mark == kOneCopy ? Bufferpool()[r->chosen + DBE_SEQNO] : (mark == kEveryCopy ? -1 : 0);
  return DKUOS0(update);
}

// Settles the open section: pages written, its new mark found and written
// back. Returns 0, or the error that ends the replay.
int32_t Settle(Replay* r, bool end) {
  if (r->verdict == 0) r->verdict = kDone;
  if (r->state == 0) return 0;
  int32_t* a = Bufferpool();
  std::vector<int32_t> copies = Copies(*r);
  for (int32_t copy : copies) {
    if (r->extents || (r->state == kOneCopy && copy != r->chosen)) continue;
    int32_t pag[PAGREQ_WORDS] = {copy, 0, 0, 0, -1, 0, r->mode, 0};
    DKPAG0(pag, r->mode == -1 ? PAG_FLUSH_NO_PREFETCH : PAG_WRITE_SETS_UP_TO);
  }
  int32_t mark = kDone;
  if (r->state == kOneCopy) {
    mark = r->chosen != 0 && !Usable(r->chosen) ? kOneCopy : kDone;
  } else if (r->state == kEveryCopy) {
    int32_t usable = 0, unusable = 0, in_error = 0, offline = 0;
    for (int32_t copy : copies) {
      if (Usable(copy)) {
        ++usable;
        continue;
      }
      ++unusable;
      if (a[copy + DBE_ERROR] != 0) in_error = copy;
      if (a[copy + DBE_OFFLINE] != 0) offline = copy;
    }
    r->chosen = in_error != 0 ? in_error : offline;
    if (usable == 0) return r->chosen != 0 ? a[r->chosen + DBE_ERROR] : -45;
    mark = unusable == 0 ? kDone : (unusable == 1 ? kOneCopy : kEveryCopy);
  }
  if (mark != kDone) r->verdict = mark;
  r->last_mark = mark;
  if (r->extents) return 0;
  if (mark != r->state && !(end && r->verdict == kDone)) return RewriteMark(r, mark);
  return 0;
}

// Marks in use, in the entry's bitmap pages, the units of the pages of one
// extent row (first page, page size, number of pages); a page outside the
// file is -42.
int32_t SettleExtent(const Replay& r, const int32_t* row) {
  int32_t first = row[0], size = row[2], count = row[3];
  int32_t units = size / kUnitBytes;
  if (units < 1) return 0;
  if (first < 0 || count < 0 || count > INT32_MAX / units - first / units) {
    Report(-42, 3, first, r.entry);
    return -42;
  }
  for (int32_t k = 0; k < count; ++k) {
    int32_t page = first + k * units;
    int32_t chunk = page - page % kBitmapChunkUnits, bit = page % kBitmapChunkUnits;
    int32_t rq[REQ_WORDS];
    int32_t b = GetUnitPage(r.entry, chunk, GET_UPDATE, rq);
    if (b < 0) return b;
    uint8_t* p = PageBytes(b);
    int32_t next = PageWord(p, BMP_NEXT);
    bool last = next != chunk + kBitmapChunkUnits;
    if (bit == 0 || bit + units > kBitmapChunkUnits || (last && page + units - 1 > next)) {
      DKPUT0(PUT_UNCHANGED, b);
      Report(-42, 3, page, r.entry);
      return -42;
    }
    bool changed = false;
    for (int32_t u = bit; u < bit + units; ++u) {
      if (BitmapBit(p, u)) continue;
      if (BitmapMark(p, u, 1) != 0) {
        DKPUT0(changed ? PUT_CHANGED_KEEP : PUT_UNCHANGED, b);
        Report(-42, 3, page, r.entry);
        return -42;
      }
      changed = true;
    }
    DKPUT0(changed ? PUT_CHANGED_KEEP : PUT_UNCHANGED, b);
  }
  return 0;
}

// Takes the units of the pages of one extent row (first page, page size,
// number of pages, one after the other) out of the databank's units
// reached twice.
void ForgiveExtent(const Replay& r, const int32_t* row) {
  const int64_t first = row[0], units = row[2] / kUnitBytes, count = row[3];
  if (units < 1 || first < 0 || count < 0) return;
  const int64_t end = first + count * units;
  for (int32_t u : DKUnitsReachedTwice(r.entry))
    if (u >= first && u < end) DKSettleUnitReachedTwice(r.entry, u);
}

// Opens the section a mark starts.
void OpenSection(Replay* r, const int32_t* record) {
  int32_t* a = Bufferpool();
  r->state = record[0];
  r->chosen = 0;
  r->mark_page = r->block[SETRQ_PAGE];
  r->mark_position = r->block[SETRQ_POSITION];
  if (r->state != kOneCopy) return;
  if (r->log) {
    // The copy whose log table entry comes first in the log table's chain.
    const int32_t limit = LoadWord(BP_TABLE_COUNT);
    for (int32_t t = LoadWord(BP_LOG_TABLE), n = 0;
         dkset::IsTableEntry(t) && r->chosen == 0 && n <= limit; t = a[t + TBE_NEXT], ++n)
      if (DKIsDatabankEntry(a[t + TBE_DATABANK]) && a[a[t + TBE_DATABANK] + DBE_SEQNO] == record[3])
        r->chosen = a[t + TBE_DATABANK];
  } else {
    for (int32_t copy : Copies(*r))
      if (a[copy + DBE_SEQNO] == record[3]) r->chosen = copy;
  }
  if (r->chosen == 0) {
    if ((r->log || LoadWord(BP_LOG_TABLE) > 0) && record[3] != 100000) {
      int32_t context[5] = {r->entry, 0, 0, 0, -1};
      DKLogError(Index(), -47, 2, &record[3], context);
    }
    r->state = kDone;
  }
}

// The log table's entry on one copy of the LOG databank, 0 when none.
int32_t LogTableOn(int32_t copy) {
  const int32_t* a = Bufferpool();
  const int32_t limit = LoadWord(BP_TABLE_COUNT);
  for (int32_t t = LoadWord(BP_LOG_TABLE), n = 0; dkset::IsTableEntry(t) && n <= limit;
       t = a[t + TBE_NEXT], ++n)
    if (a[t + TBE_DATABANK] == copy) return t;
  return 0;
}

// One record of the LOG databank's restart set in an owed section: copied
// into the log table of every copy (32) or of the chosen one (31); the
// rows of the large-object reference table (TBL 240) applied as well.
int32_t ApplyLogRecord(Replay* r, std::span<int32_t> rec) {
  int32_t* a = Bufferpool();
  const int32_t code = rec[0];
  const auto length = static_cast<int32_t>(rec.size());
  if (code == 21 && length >= 20) {
    char text[16];
    mdr_local_time_text(text);
    std::memcpy(&rec[16], text, sizeof text);
  }
  if (code == 17 && r->mode == -1 && length > RQ_TYPE && rec[RQ_DID] == 3) {
    for (int32_t copy : Copies(*r)) {
      if (a[copy + DBE_SEQNO] != rec[RQ_TYPE] || a[copy + DBE_OFFLINE] != 0) continue;
      if (int32_t rc = DKCopyRestoreDirectory(LoadWord(BP_LOG_ENTRY), copy); rc < 0) return rc;
    }
  }
  const int32_t log = LoadWord(BP_LOG_TABLE);
  if (!dkset::IsTableEntry(log)) {
    // Without the log table the section cannot be settled as done.
    int32_t tbl = 8;
    Report(-46, 2, tbl, r->entry);
    return -46;
  }
  std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0);
  if (static_cast<size_t>(SETRQ_RECORD + length) > b.size()) {
    Report(-88, 2, length, LoadWord(BP_TRANS_ENTRY));
    return 0;
  }
  b[SETRQ_RC] = r->mode == -1 ? 0 : r->mode;
  b[SETRQ_LENGTH] = length;
  b[SETRQ_TBL] = 8;
  std::copy(rec.begin(), rec.end(), b.begin() + SETRQ_RECORD);
  int32_t rc = 0;
  if (r->state == kEveryCopy) {
    b[SETRQ_TABLE] = log;
    rc = DKAPS1(b);
  } else if (const int32_t t = LogTableOn(r->chosen);
             t != 0 && a[r->chosen + DBE_OFFLINE] == 0 && a[t + TBE_ROOT_PAGE] != -1) {
    b[SETRQ_TABLE] = t;
    rc = DKAXR0(b);
  }
  if (rc < 0) Report(rc, 4, code, r->chosen != 0 ? r->chosen : r->entry);
  if ((code == 1 || code == 2 || code == 4) && length > RQ_TBL && rec[RQ_TBL] == kLobReferenceTbl) {
    // Deletes reach only a copy of SEQNO 100000.
    ApplyRecord(r, length, code == 4 ? 100000 : 0);
  }
  return 0;
}

int32_t ReadAll(Replay* r) {
  r->block.assign(static_cast<size_t>(SetRequestBlockWords()), 0);
  r->block[SETRQ_TABLE] = r->set;
  r->block[SETRQ_TBL] = r->did;
  for (;;) {
    r->block[SETRQ_RC] = 0;
    int32_t rc = DKGXN0(r->block);
    if (rc < 0) return rc;
    int32_t* record = r->block.data() + SETRQ_RECORD;
    int32_t length = r->block[SETRQ_LENGTH];
    int32_t code = rc == SET_END ? kEnd : (length > 0 ? record[0] : 0);
    if (code == kEnd) return Settle(r, true);
    if (code == kOneCopy || code == kEveryCopy || code == kDone) {
      if (code != kDone) {
        if (int32_t s = Settle(r, false)) return s;
      }
      OpenSection(r, record);
      continue;
    }
    bool owed = r->state == kOneCopy || r->state == kEveryCopy;
    if (r->log) {
      std::span<int32_t> rec(record, static_cast<size_t>(length));
      if (owed && length > 0)
        if (int32_t e = ApplyLogRecord(r, rec)) return e;
      continue;
    }
    if (r->extents) {
      // Inserted rows of a table of extents name pages of this databank
      // that must be in use; a failure ends the open.
      if (owed && code == 1 && length > RQ_RECORD + 3 && record[RQ_TYPE] == kKindLobRefs &&
          record[RQ_DID] == r->did) {
        if (int32_t e = SettleExtent(*r, record + RQ_RECORD)) return e;
      }
      // A deleted row's pages were freed while the row still named them:
      // the check found them twice, and the delete explains it.
      if (owed && code == 4 && length > RQ_RECORD + 3 && record[RQ_TYPE] == kKindLobRefs)
        ForgiveExtent(*r, record + RQ_RECORD);
      continue;
    }
    if (WriteSetEntryCode(code) != 0) {
      if (owed) ApplyRecord(r, length);
      continue;
    }
    if (Skipped(code)) continue;
    if (CopyOperation(code)) {
      if (!owed) continue;
      std::span<int32_t> rec(record, static_cast<size_t>(length));
      if (int32_t e = ApplyCopyOperation(r, rec)) return e;
      continue;
    }
    Report(-88, 2, code, LoadWord(BP_TRANS_ENTRY));
  }
}

}  // namespace

namespace {

// Opens the restart set, reads it, and settles what the reading left: the
// set dropped when its sections are done, and closed.
int32_t RunLocked(Replay& r) {
  std::vector<int32_t> open(CRT_WORDS, 0);
  open[RQ_STATUS] = 3;
  open[RQ_DID] = 2;
  open[OPT_KIND] = kKindSet;
  open[RQ_TBL] = r.did;
  if (!DKTransHasTable(r.did)) return 0;
  DKOPT1(open.data());
  if (open[RQ_STATUS] == -50) return 0;
  if (open[RQ_STATUS] != 0) return open[RQ_STATUS];
  r.set = open[RQ_TABLE];
  int32_t rc = ReadAll(&r);
  const bool log_open = LoadWord(BP_LOG_TABLE) > 0;
  // The log replay looks at its last section only; the others drop the set
  // when every section is done, with the log open (TRANS also without).
  const bool drop = r.log ? r.last_mark == kDone : r.verdict == kDone && (log_open || r.did == 2);
  if (rc == 0 && drop) {
    std::vector<int32_t> d(SETRQ_RECORD + 1, 0);
    d[SETRQ_TABLE] = r.set;
    d[SETRQ_TBL] = r.did;
    rc = DKDRS1(d);
  } else if (rc == 0 && !r.log && r.verdict != kDone && r.did == 1) {
    StoreWord(BP_SYSDB_RESTARTED, 0);
  }
  open[RQ_STATUS] = -22;
  open[RQ_TABLE] = r.set;
  open[RQ_TBL] = r.did;
  DKCLT1(open.data());
  // At an open, the tables the replay opened leave the table hash again.
  if (rc == 0 && r.mode == -1 && !r.log) {
    int32_t all[CRT_WORDS] = {34, 0, r.did};
    DKCLT1(all);
  }
  if (rc != 0 && r.mode != -1) Report(rc, 4, r.did, r.entry);
  return rc;
}

// Appends to restart sets wait while a replay runs (lock 254): a record
// owed meanwhile by the write-set application would otherwise land behind
// the end the replay read and go with the set it drops.
int32_t Run(Replay& r) {
  EnqdeqGuard guard(Bufferpool() + BP_LOCK_RESTART_SET_CREATE);
  return RunLocked(r);
}

}  // namespace

int32_t DKRSD1(int32_t* request) {
  if (request[RSD_DID] == 3) return DKREL1(request);
  if (request[RSD_DID] == 2 && request[RSD_MODE] != -1) return DKRET1(request);
  Replay r;
  r.mode = request[RSD_MODE];
  r.entry = request[RSD_ENTRY];
  r.did = request[RSD_DID];
  if (!DKIsDatabankEntry(r.entry) || r.did < 1) {
    Report(-43, 2, r.did, 0);
    request[RSD_MODE] = -43;
    return -43;
  }
  request[RSD_MODE] = Run(r);
  return request[RSD_MODE];
}

int32_t DKREL1(int32_t* request) {
  Running name("DKREL1");
  Replay r;
  r.log = true;
  r.mode = request[RSD_MODE];
  r.entry = request[RSD_ENTRY];
  r.did = 3;
  int32_t* a = Bufferpool();
  int32_t rc = 0;
  if (!DKIsDatabankEntry(r.entry)) {
    Report(-43, 2, r.entry, 0);
    rc = -43;
  } else if (r.mode != -1 && a[r.entry + DBE_KIND] == DBT_SHADOW && LoadWord(BP_LOG_ENTRY) > 0) {
    // A shadow of the LOG databank first takes its restore directory.
    rc = DKCopyRestoreDirectory(LoadWord(BP_LOG_ENTRY), r.entry);
  }
  if (rc == 0) rc = Run(r);
  request[RSD_MODE] = rc;
  return rc;
}

int32_t DKRSL1(int32_t* request) {
  Replay r;
  r.extents = true;
  r.mode = request[RSD_MODE];
  r.entry = request[RSD_ENTRY];
  r.did = request[RSD_DID];
  Running name("DKRSL1");
  auto finish = [&](int32_t rc) {
    request[RSD_MODE] = rc;
    return rc;
  };
  if (!DKIsDatabankEntry(r.entry) || (r.did < 5 && r.did != 3)) {
    Report(-43, DK_SEV_INTERNAL, r.did, 0);
    return finish(-43);
  }
  std::vector<int32_t> open(CRT_WORDS, 0);
  open[RQ_STATUS] = 3;
  open[RQ_DID] = 2;
  open[OPT_KIND] = kKindSet;
  open[RQ_TBL] = r.did;
  if (!DKTransHasTable(r.did)) return finish(0);
  DKOPT1(open.data());
  if (open[RQ_STATUS] == -50) return finish(0);
  if (open[RQ_STATUS] != 0) return finish(open[RQ_STATUS]);
  r.set = open[RQ_TABLE];
  int32_t rc = ReadAll(&r);
  open[RQ_STATUS] = -22;
  open[RQ_TABLE] = r.set;
  open[RQ_TBL] = r.did;
  DKCLT1(open.data());
  if (rc != 0 && r.mode != -1) Report(rc, 4, r.did, r.entry);
  return finish(rc);
}

int32_t DKReplayAtOpen(int32_t entry) {
  const int32_t did = Bufferpool()[entry + DBE_DID];
  int32_t request[RSD_WORDS] = {-1, entry, did, -1};
  if (did == 3 || did >= 5) {
    const int32_t rc = DKRSL1(request);
    if (rc < 0) return rc;
    if (rc > 0) return 0;
    request[RSD_MODE] = -1;
  }
  return DKRSD1(request);
}

bool DKTransHasTable(int32_t tbl) {
  int32_t* a = Bufferpool();
  {
    EnqdeqGuard guard(a + BP_LOCK_TABLE_HASH);
    const int32_t t = DKHMI0(LoadWord(BP_TABLE_HASH), tbl);
    if (dkset::IsTableEntry(t) && a[t + TBE_TBL] == tbl) return true;
  }
  int32_t nte[NTE_WORDS] = {};
  nte[NTE_DATABANK] = DKFindDatabank(2);
  if (nte[NTE_DATABANK] == 0) return false;
  for (DKNTE1(nte); nte[NTE_STATUS] == 0; DKNTE1(nte))
    if (nte[NTE_TBL] == tbl) return true;
  // A walk that failed leaves the answer to the open, which reports.
  return nte[NTE_DATABANK] != -1;
}
