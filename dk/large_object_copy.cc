// The copy of a table's large objects into a copy of its databank (DKCLL1),
// made while a databank copy is brought up to date: every directory record
// of the table goes into the table's entry on the copy, and each record
// whose pages lie in the source databank gets a run of its own in the copy
// with the pages copied there.
#include <cstring>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/databank_file.h"
#include "dk/large_object.h"
#include "dk/large_object_internal.h"
#include "dk/page_runs.h"
#include "dk/record_routines.h"
#include "dk/table_cursor.h"
#include "dk/table_entries.h"
#include "dk/word_storage_access.h"

namespace {

constexpr int32_t kIndexDKCLL1 = -138;
constexpr int32_t kCursorWords = CursorBlockWords(LDR_BYTES);
// A chain longer than this loops.
constexpr int32_t kMaxChain = 1 << 16;

// The copy of `databank` whose SEQNO is `seqno` (never the databank itself)
// and the table's entry on it; false when either is missing.
bool FindCopy(int32_t table, int32_t seqno, int32_t* copy, int32_t* copy_table) {
  const int32_t* a = Bufferpool();
  const int32_t databank = a[table + TBE_DATABANK];
  if (databank <= 0) return false;
  *copy = 0;
  for (int32_t d = a[databank + DBE_DEPENDENT], n = 0; d > 0 && n < kMaxChain;
       d = a[d + DBE_DEPENDENT], ++n)
    if (d != databank && a[d + DBE_SEQNO] == seqno) {
      *copy = d;
      break;
    }
  if (*copy == 0) return false;
  for (int32_t t = a[table + TBE_NEXT], n = 0; t > 0 && n < kMaxChain; t = a[t + TBE_NEXT], ++n)
    if (a[t + TBE_DATABANK] == *copy) {
      *copy_table = t;
      return true;
    }
  return false;
}

void StoreBig(uint8_t* p, int32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(static_cast<uint32_t>(v) >> (24 - 8 * i));
}

// One record: its run copied when its pages lie in the source, then the
// record inserted into the copy's table entry.
int32_t CopyRecord(uint8_t* r, const uint8_t* source_seqno, int32_t source, int32_t copy,
                   int32_t copy_table, int32_t tbl, int32_t* free_runs, int32_t* list1,
                   int32_t* list2) {
  int32_t size = 0, pages = 0, target = 0;
  if (std::memcmp(r + LDR_SEQNO, source_seqno, 4) == 0) {
    int32_t first = 0;
    std::memcpy(&first, r + LDR_FIRST_PAGE, 4);
    std::memcpy(&size, r + LDR_PAGE_SIZE, 4);
    std::memcpy(&pages, r + LDR_PAGES, 4);
    if (int32_t rc = DKALC0(copy, size, pages, free_runs, &target)) return rc;
    if (int32_t rc = DKCLP1(source, copy, first, target, size, pages, list1, list2)) {
      DKDLC0(copy, target, size / 2048, pages, nullptr);
      return rc;
    }
    std::memcpy(r + LDR_FIRST_PAGE, &target, 4);
  }
  std::vector<int32_t> insert(RQ_RECORD + LDR_BYTES / 4, 0);
  insert[RQ_TABLE] = copy_table;
  insert[RQ_TBL] = tbl;
  insert[RQ_RECORD_LENGTH] = LDR_BYTES;
  std::memcpy(insert.data() + RQ_RECORD, r, LDR_BYTES);
  DKINS1(insert.data());
  // A record that did not go in names no run: the run goes back.
  if (insert[RQ_STATUS] != 0 && target != 0) DKDLC0(copy, target, size / 2048, pages, nullptr);
  return insert[RQ_STATUS];
}

}  // namespace

// Returns the answer; request word 0 receives it when it is not 0.
int32_t DKCLL1(int32_t* request, int32_t seqno) {
  const int32_t table = request[RQ_TABLE], tbl = request[RQ_TBL];
  if (int32_t rc = CheckTableEntry(table, tbl, kIndexDKCLL1)) return request[RQ_STATUS] = rc;
  int32_t copy = 0, copy_table = 0;
  if (!FindCopy(table, seqno, &copy, &copy_table))
    return request[RQ_STATUS] = LobReport(kIndexDKCLL1, -45, request[RQ_DID]);
  if (request[RQ_KEY_LENGTH] != LDR_KEY_BYTES || request[RQ_RECORD_LENGTH] != LDR_BYTES)
    return request[RQ_STATUS] = LobReport(kIndexDKCLL1, -43, request[RQ_RECORD_LENGTH]);
  const int32_t source = Bufferpool()[table + TBE_DATABANK];
  uint8_t source_seqno[4];
  StoreBig(source_seqno, Bufferpool()[source + DBE_SEQNO]);
  std::vector<int32_t> c(kCursorWords, 0);
  c[CUR_SCAN] = 1;
  c[CUR_TABLE] = table;
  c[CUR_TBL] = tbl;
  c[CUR_KEY_LENGTH] = LDR_KEY_BYTES;
  c[CUR_RECORD_LENGTH] = LDR_BYTES;
  int32_t free_runs = 0, list1 = 0, list2 = 0, rc = 0;
  c[CUR_STATUS] = FET_FROM_KEY;
  for (DKFET1(c.data()); c[CUR_STATUS] == 0; DKFET1(c.data())) {
    rc = CopyRecord(reinterpret_cast<uint8_t*>(c.data() + CUR_RECORD), source_seqno, source, copy,
                    copy_table, tbl, &free_runs, &list1, &list2);
    if (rc != 0) break;
    c[CUR_STATUS] = FET_NEXT;
  }
  if (rc == 0 && c[CUR_STATUS] < 0) rc = c[CUR_STATUS];
  for (int32_t list : {list1, list2})
    if (list > 1) DKStorageRelease(list - 1);
  DKDLC0(copy, 0, 1, 0, &free_runs);
  if (rc != 0) request[RQ_STATUS] = rc;
  return rc;
}
