// The open's steps by DID: the restore directory registration of the system
// databank, the control-area words that name the TRANS, LOG and WORK
// databanks, and the log table of the LOG databank, found or made as a set.
#include "dk/databank_open_steps.h"

#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/databank_operations.h"
#include "dk/databank_restart.h"
#include "dk/restore_directory.h"
#include "dk/set_table.h"
#include "dk/table_entries.h"

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

// The log table, found or made (a set of 2048-byte list and 16384-byte data
// pages), its first table entry in control word 104.
int32_t OpenLogTable() {
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
  return 0;
}

}  // namespace

int32_t DKOpenStepsByDid(int32_t databank) {
  int32_t* a = Bufferpool();
  const int32_t did = a[databank + DBE_DID];
  const int32_t word = NamingWord(did);
  // A copy (shadow) of these databanks is reached through the first.
  if (word == 0 || a[databank + DBE_KIND] == DBT_SHADOW) return 0;
  if (!DKIsDatabankEntry(LoadWord(word)) || LoadWord(LoadWord(word) + DBE_DID) != did)
    StoreWord(word, databank);
  if (LoadWord(word) != databank) return 0;
  if (did == kLogDid) return OpenLogTable();
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
