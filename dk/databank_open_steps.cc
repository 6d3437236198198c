// The open's steps by DID: the restore directory registration of the system
// databank, the control-area words that name the TRANS, LOG and WORK
// databanks, and the log table of the LOG databank, found or made as a set;
// and the removal of tables a crash left dropping.
#include "dk/databank_open_steps.h"

#include <algorithm>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/databank_operations.h"
#include "dk/databank_restart.h"
#include "dk/error_log.h"
#include "dk/restore_directory.h"
#include "dk/set_pages.h"
#include "dk/set_requests.h"
#include "dk/set_table.h"
#include "dk/table_entries.h"
#include "platform/enqdeq.h"

namespace {

constexpr int32_t kSystemDid = 1, kTransDid = 2, kLogDid = 3, kWorkDid = 4;

// The control-area word naming the databank of a DID, 0 for other DIDs.
int32_t NamingWord(int32_t did) {
  switch (did) {
    case kSystemDid:
      return BP_SYSDB_ENTRY;
    case kTransDid:
      return BP_TRANS_ENTRY;
    case kLogDid:
      return BP_LOG_ENTRY;
    case kWorkDid:
      return BP_WORK_ENTRY;
  }
  return 0;
}

// The log table is written as the sets of TRANS are: its records reach it
// as write sets are applied, and every record anyone relies on (those of a
// secured commit) was in an image of its page whose write returned; its
// pages change only by appends. A kill that cut the write of one of its data
// pages short left the records behind that image's used end unsound or
// gone, and their commits were not secured: the restart hands them to the
// log again. So after a crash the table ends at its first unsound record
// (reported, -65 information, with the page) before anything is appended;
// left so, every later read of the log failed there.
int32_t EndTornLogTable(int32_t table, int32_t databank) {
  std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0);
  b[SETRQ_TABLE] = table;
  b[SETRQ_TBL] = kLogTableTbl;
  const int32_t rc = DKEndSetAtSoundRecord(b);
  if (rc <= 0) return rc;
  int32_t page = b[SETRQ_PAGE];
  DKReportError(dkset::RoutineIndex("DKOPD1"), -65, DK_SEV_INFO, &page, databank);
  return 0;
}

// The log table, found or made (a set of 2048-byte list and 16384-byte data
// pages), its first table entry in control word 104.
int32_t OpenLogTable(int32_t databank, bool crashed) {
  int32_t b[CRT_WORDS] = {};
  b[RQ_STATUS] = -2;  // a new root entry is written at once
  b[RQ_DID] = kLogDid;
  b[RQ_TYPE] = 10 * kKindSet;
  b[RQ_TBL] = kLogTableTbl;
  b[RQ_INDEX_PAGE_SIZE] = 2048;
  b[RQ_DATA_PAGE_SIZE] = 16384;
  DKCRT1(b);
  if (b[RQ_STATUS] < 0) return b[RQ_STATUS];
  StoreWord(BP_LOG_TABLE, b[RQ_TABLE]);
  return crashed ? EndTornLogTable(b[RQ_TABLE], databank) : 0;
}

constexpr int32_t kNoMoreRoots = 4;  // DKNTE1 at the end of the root entries
// Types 2 (dropping) and 3 (dropped) are what a crash leaves of a drop;
// type 4 is the type a rebuilt index (DKRCX1) and DKMOT1 give live tables.
constexpr int32_t kTypeDropping = 2;

struct LeftDropping {
  int32_t databank, page, word, tbl, kind;
};

// A table entry of its own for a root entry (hashed under its TBL, closed,
// one databank), as a close finds a table; 0 when none is free.
int32_t EntryFor(const LeftDropping& d) {
  int32_t* a = Bufferpool();
  const int32_t hash = LoadWord(BP_TABLE_HASH);
  EnqdeqGuard lock(a + BP_LOCK_TABLE_HASH);
  EnqdeqGuard free_lock(a + BP_LOCK_TABLE_FREE);
  const int32_t t = DKHMA0(hash);
  if (t < 1) return 0;
  std::fill(a + t, a + t + TBE_WORDS - 1, 0);
  a[t + TBE_TBL] = d.tbl;
  a[t + TBE_USES] = 1;
  a[t + TBE_ACCESS] = 1;
  a[t + TBE_DATABANK] = d.databank;
  a[t + TBE_ROOT_WORD] = d.word;
  a[t + TBE_KIND] = d.kind;
  StoreWord(t + TBE_ROOT_PAGE, d.page);
  DKHML0(hash, t);
  return t;
}

// Marks the root entry dropped and closes the table in the dropping mode.
int32_t Remove(const LeftDropping& d) {
  int32_t* a = Bufferpool();
  const int32_t t = EntryFor(d);
  if (t == 0) {
    int32_t limit = LoadWord(BP_TABLE_COUNT);
    ReportPageError(dkset::RoutineIndex("DKOPD1"), -14, DK_SEV_ERROR, limit, 0);
    return -14;
  }
  int32_t record = 0;
  const int32_t b = GetRootEntry(t, GET_UPDATE, dkset::RoutineIndex("DKOPD1"), &record);
  if (b > 0) {
    a[record + RE_TYPE] = kTypeDropped;
    DKPUT0(PUT_CHANGED_KEEP, b);
  }
  int32_t close[CRT_WORDS] = {};
  close[RQ_STATUS] = -22;
  close[RQ_TABLE] = t;
  close[RQ_TBL] = d.tbl;
  DKCLT1(close);
  return b < 0 ? b : 0;
}

// The root entries of one copy left dropping; -76 for a page size above the
// largest in use.
int32_t FindLeftDropping(int32_t databank, std::vector<LeftDropping>* found) {
  int32_t nte[NTE_WORDS] = {};
  nte[NTE_DATABANK] = databank;
  const int32_t largest = LoadWord(BP_MAX_PAGE_SIZE);
  for (;;) {
    DKNTE1(nte);
    if (nte[NTE_STATUS] == kNoMoreRoots) return 0;
    if (nte[NTE_STATUS] != 0) return nte[NTE_STATUS];
    for (int32_t size : {nte[NTE_DATA_PAGE_SIZE], nte[NTE_INDEX_PAGE_SIZE]})
      if (size > largest) {
        ReportPageError(dkset::RoutineIndex("DKOPD1"), -76, DK_SEV_ERROR, size, databank);
        return -76;
      }
    const int32_t type = nte[NTE_TYPE] % 10;
    if (type == kTypeDropping || type == kTypeDropped)
      found->push_back(
          {databank, nte[NTE_PAGE], nte[NTE_OFFSET], nte[NTE_TBL], (nte[NTE_TYPE] / 10) % 10});
  }
}

}  // namespace

int32_t DKRemoveDroppedTables(int32_t databank) {
  int32_t* a = Bufferpool();
  if (a[databank + DBE_KIND] == DBT_SHADOW) return 0;
  std::vector<int32_t> copies;
  {
    EnqdeqGuard guard(a + BP_LOCK_DATABANK_HASH);
    for (int32_t d = databank, n = 0; DKIsDatabankEntry(d) && n < LoadWord(BP_DATABANK_COUNT);
         d = a[d + DBE_DEPENDENT], ++n)
      if (d == databank || (a[d + DBE_OFFLINE] == 0 && a[d + DBE_CHANNEL] != 0))
        copies.push_back(d);
  }
  for (int32_t d : copies) {
    std::vector<LeftDropping> found;
    if (int32_t rc = FindLeftDropping(d, &found)) return rc;
    for (const LeftDropping& left : found)
      if (int32_t rc = Remove(left)) return rc;
  }
  return 0;
}

int32_t DKOpenStepsByDid(int32_t databank, bool crashed) {
  int32_t* a = Bufferpool();
  const int32_t did = a[databank + DBE_DID];
  const int32_t word = NamingWord(did);
  // A copy (shadow) of these databanks is reached through the first.
  if (word == 0 || a[databank + DBE_KIND] == DBT_SHADOW) return 0;
  if (!DKIsDatabankEntry(LoadWord(word)) || LoadWord(LoadWord(word) + DBE_DID) != did)
    StoreWord(word, databank);
  if (LoadWord(word) != databank) return 0;
  if (did == kLogDid) return OpenLogTable(databank, crashed);
  if (did == kSystemDid) return DKRegisterRestoreDirectory();
  return 0;
}

void DKForgetOpenSteps(int32_t databank) {
  int32_t* a = Bufferpool();
  const int32_t word = NamingWord(a[databank + DBE_DID]);
  if (word == 0 || LoadWord(word) != databank) return;
  if (word == BP_TRANS_ENTRY) DKForgetCommitSet();
  if (word == BP_LOG_ENTRY) {
    const int32_t table = LoadWord(BP_LOG_TABLE);
    StoreWord(BP_LOG_TABLE, 0);
    if (table > 0) {
      int32_t b[CRT_WORDS] = {};
      b[RQ_TABLE] = table;
      b[RQ_TBL] = kLogTableTbl;
      DKCLT1(b);
    }
  }
  StoreWord(word, 0);
}
