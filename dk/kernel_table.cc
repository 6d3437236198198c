// Maintenance of the kernel's own table 5 in the TRANS databank (DKMHT1):
// the table is opened for each request, the record of the caller's block
// fetched, inserted or deleted on it and its copies, and the table closed
// again.
#include "dk/kernel_table.h"

#include <cstring>

#include "dk/bufferpool.h"
#include "dk/commit_write_set.h"
#include "dk/control_area.h"
#include "dk/error_log.h"
#include "dk/record_routines.h"
#include "dk/table_cursor.h"
#include "dk/table_entries.h"
#include "dk/table_open.h"

namespace {

constexpr int32_t kIndexDKMHT1 = 63;
constexpr int32_t kKernelTbl = 5, kKeyBytes = 128, kRecordBytes = 148;
// The embedded record request starts at the sub-function word.
constexpr int kEmbedded = MHT_FUNCTION;

int32_t OpenKernelTable(int32_t* table) {
  int32_t* a = Bufferpool();
  const int32_t trans = a[BP_TRANS_DATABANK];
  if (!DKIsDatabankEntry(trans)) return -45;
  int32_t open[CRT_WORDS] = {};
  open[RQ_STATUS] = 3;
  open[RQ_DID] = a[trans + DBE_DID];
  open[OPT_KIND] = 1;
  open[RQ_TBL] = kKernelTbl;
  open[RQ_KEY_LENGTH] = kKeyBytes;
  open[RQ_RECORD_LENGTH] = kRecordBytes;
  DKOPT1(open);
  *table = open[RQ_TABLE];
  return open[RQ_STATUS];
}

void CloseKernelTable(int32_t table) {
  int32_t close[CRT_WORDS] = {};
  close[RQ_TABLE] = table;
  close[RQ_TBL] = kKernelTbl;
  DKCLT1(close);
}

// A fetch through the caller's block, which is a cursor block: 10 the first
// record, 11 the first after the key in the record area.
int32_t Fetch(int32_t* block, int32_t function) {
  if (function == MHT_FIRST) std::memset(block + CUR_RECORD, 0, kKeyBytes);
  block[CUR_STATUS] = function == MHT_FIRST ? FET_FROM_KEY : FET_AFTER_KEY;
  DKFET1(block);
  return block[CUR_STATUS];
}

// Inserts or deletes the record on the table and each copy chained from it;
// the first failure stops the walk.
int32_t Change(int32_t* block, int32_t table, void (*routine)(int32_t*)) {
  int32_t* a = Bufferpool();
  int32_t* request = block + kEmbedded;
  for (int32_t t = table, n = 0; t > 0 && n <= a[BP_TABLE_COUNT]; t = a[t + TBE_NEXT], ++n) {
    request[RQ_STATUS] = -2;  // written through: no transaction carries this
    request[RQ_TABLE] = t;
    request[RQ_TBL] = kKernelTbl;
    request[RQ_RECORD_LENGTH] = kRecordBytes;
    routine(request);
    if (request[RQ_STATUS] != 0) return request[RQ_STATUS];
  }
  return 0;
}

}  // namespace

void DKMHT1(int32_t* block) {
  const int32_t function = block[MHT_FUNCTION];
  if (function < MHT_FIRST || function > MHT_DELETE) {
    int32_t value = function;
    DKReportError(kIndexDKMHT1, -86, DK_SEV_ERROR, &value, value);
    block[MHT_FUNCTION] = -86;
    return;
  }
  int32_t table = 0;
  if (int32_t rc = OpenKernelTable(&table); rc != 0) {
    block[MHT_FUNCTION] = rc;
    return;
  }
  block[CUR_TABLE] = table;
  block[CUR_TBL] = kKernelTbl;
  block[CUR_KEY_LENGTH] = kKeyBytes;
  block[CUR_RECORD_LENGTH] = kRecordBytes;
  int32_t rc = 0;
  switch (function) {
    case MHT_FIRST:
    case MHT_AFTER:
      rc = Fetch(block, function);
      break;
    case MHT_INSERT:
      rc = Change(block, table, DKINS1);
      break;
    default:
      rc = Change(block, table, DKDEL1);
      break;
  }
  CloseKernelTable(table);
  block[MHT_FUNCTION] = rc;
}

void DKMHT1Entry(int32_t* block, void*) {
  DKMHT1(block);
}
