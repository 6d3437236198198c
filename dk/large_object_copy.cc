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
#include "dk/set_pages.h"
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

// A cursor over a directory table, from its lowest key (or the key put in
// its record area).
std::vector<int32_t> DirectoryCursor(int32_t table, int32_t tbl) {
  std::vector<int32_t> c(kCursorWords, 0);
  c[CUR_STATUS] = FET_FROM_KEY;
  c[CUR_TABLE] = table;
  c[CUR_TBL] = tbl;
  c[CUR_KEY_LENGTH] = LDR_KEY_BYTES;
  c[CUR_RECORD_LENGTH] = LDR_BYTES;
  return c;
}

// The run of record `r` built again in the copy when its pages lie in the
// source: a run of the copy's own, the pages copied there, the record made
// to name it (*target; 0 when the record keeps its run).
int32_t BuildRun(uint8_t* r, const uint8_t* source_seqno, int32_t source, int32_t copy,
                 int32_t* free_runs, int32_t* list1, int32_t* list2, int32_t* target) {
  *target = 0;
  if (std::memcmp(r + LDR_SEQNO, source_seqno, 4) != 0) return 0;
  int32_t first = 0, size = 0, pages = 0;
  std::memcpy(&first, r + LDR_FIRST_PAGE, 4);
  std::memcpy(&size, r + LDR_PAGE_SIZE, 4);
  std::memcpy(&pages, r + LDR_PAGES, 4);
  if (int32_t rc = DKALC0(copy, size, pages, free_runs, target)) return rc;
  if (int32_t rc = DKCLP1(source, copy, first, *target, size, pages, list1, list2)) {
    DKDLC0(copy, *target, size / 2048, pages, nullptr);
    *target = 0;
    return rc;
  }
  std::memcpy(r + LDR_FIRST_PAGE, target, 4);
  return 0;
}

// Record `r` put into the copy's table entry by `routine` (DKINS1 or
// DKUPD1) in write mode `mode`, its run built in the copy first; a record
// that did not go in names no run, which goes back.
int32_t PutRecord(void (*routine)(int32_t*), int32_t mode, uint8_t* r,
                  const uint8_t* source_seqno, int32_t source, int32_t copy, int32_t copy_table,
                  int32_t tbl, int32_t* free_runs, int32_t* list1, int32_t* list2) {
  int32_t target = 0;
  if (int32_t rc = BuildRun(r, source_seqno, source, copy, free_runs, list1, list2, &target))
    return rc;
  std::vector<int32_t> put(RQ_RECORD + LDR_BYTES / 4, 0);
  put[RQ_STATUS] = mode;
  put[RQ_TABLE] = copy_table;
  put[RQ_TBL] = tbl;
  put[RQ_RECORD_LENGTH] = LDR_BYTES;
  std::memcpy(put.data() + RQ_RECORD, r, LDR_BYTES);
  routine(put.data());
  if (put[RQ_STATUS] != 0 && target != 0) {
    int32_t size = 0, pages = 0;
    std::memcpy(&size, r + LDR_PAGE_SIZE, 4);
    std::memcpy(&pages, r + LDR_PAGES, 4);
    DKDLC0(copy, target, size / 2048, pages, nullptr);
  }
  return put[RQ_STATUS];
}

// The page lists and free runs a copy of runs gathered, given back.
void ReleaseWork(int32_t copy, int32_t list1, int32_t list2, int32_t* free_runs) {
  for (int32_t list : {list1, list2})
    if (list > 1) DKStorageRelease(list - 1);
  DKDLC0(copy, 0, 1, 0, free_runs);
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
  std::vector<int32_t> c = DirectoryCursor(table, tbl);
  c[CUR_SCAN] = 1;
  int32_t free_runs = 0, list1 = 0, list2 = 0, rc = 0;
  for (DKFET1(c.data()); c[CUR_STATUS] == 0; DKFET1(c.data())) {
    rc = PutRecord(DKINS1, 0, reinterpret_cast<uint8_t*>(c.data() + CUR_RECORD), source_seqno,
                   source, copy, copy_table, tbl, &free_runs, &list1, &list2);
    if (rc != 0) break;
    c[CUR_STATUS] = FET_NEXT;
  }
  if (rc == 0 && c[CUR_STATUS] < 0) rc = c[CUR_STATUS];
  ReleaseWork(copy, list1, list2, &free_runs);
  if (rc != 0) request[RQ_STATUS] = rc;
  return rc;
}

namespace {

// The record the copy's table entry holds under the key of `r`, in *held;
// 1 when there is one, 0 when not, or a failed fetch.
int32_t FetchHeld(int32_t table, int32_t tbl, const uint8_t* r, uint8_t* held) {
  std::vector<int32_t> c = DirectoryCursor(table, tbl);
  std::memcpy(c.data() + CUR_RECORD, r, LDR_KEY_BYTES);
  DKFET1(c.data());
  if (c[CUR_STATUS] < 0) return c[CUR_STATUS];
  std::memcpy(held, c.data() + CUR_RECORD, LDR_BYTES);
  return c[CUR_STATUS] == 0 && std::memcmp(held, r, LDR_KEY_BYTES) == 0 ? 1 : 0;
}

// The checks both replays of a copy make: the table entry (-46), a later
// copy of its DID (-45) and the record's length (-43). The copy and the
// first copy go to *copy and *source.
int32_t CheckCopyRequest(const int32_t* request, int32_t routine, int32_t* copy, int32_t* source) {
  const int32_t table = request[RQ_TABLE];
  if (int32_t rc = CheckTableEntry(table, request[RQ_TBL], routine)) return rc;
  *copy = Bufferpool()[table + TBE_DATABANK];
  *source = DKIsDatabankEntry(*copy) ? FirstCopyOf(*copy) : 0;
  if (*source == 0) return LobReport(routine, -45, request[RQ_DID]);
  if (request[RQ_RECORD_LENGTH] != LDR_BYTES)
    return LobReport(routine, -43, request[RQ_RECORD_LENGTH], *copy);
  return 0;
}

// Frees the run `old` named in the copy unless the record that replaced it
// names the same pages.
int32_t FreeReplacedRun(int32_t copy, const uint8_t* old, const uint8_t* now) {
  const PageRun was = RunOf(old);
  if (now != nullptr && RunOf(now).page == was.page) return 0;
  return HoldsRun(copy, was) ? FreeRunIn(copy, was) : 0;
}

}  // namespace

int32_t DKUBL0(int32_t* request) {
  static const int32_t index = dkset::RoutineIndex("DKUBL0");
  int32_t copy = 0, source = 0;
  if (int32_t rc = CheckCopyRequest(request, index, &copy, &source))
    return request[RQ_STATUS] = rc;
  const int32_t table = request[RQ_TABLE], tbl = request[RQ_TBL];
  uint8_t r[LDR_BYTES], held[LDR_BYTES];
  std::memcpy(r, request + RQ_RECORD, LDR_BYTES);
  const int32_t there = FetchHeld(table, tbl, r, held);
  if (there < 0) return request[RQ_STATUS] = there;
  uint8_t source_seqno[4];
  StoreBig(source_seqno, Bufferpool()[source + DBE_SEQNO]);
  // Held already as it comes, but for the run the copy's own pages hold.
  const bool own_pages = std::memcmp(r + LDR_SEQNO, source_seqno, 4) != 0 ||
                         RunOf(r).pages == 0 || HoldsRun(copy, RunOf(held));
  if (there == 1 && own_pages && std::memcmp(held, r, LDR_FIRST_PAGE) == 0 &&
      std::memcmp(held + LDR_FIRST_PAGE + 4, r + LDR_FIRST_PAGE + 4,
                  LDR_BYTES - LDR_FIRST_PAGE - 4) == 0)
    return request[RQ_STATUS] = 0;
  int32_t free_runs = 0, list1 = 0, list2 = 0;
  int32_t rc = PutRecord(there == 1 ? DKUPD1 : DKINS1, request[RQ_STATUS], r, source_seqno, source,
                         copy, table, tbl, &free_runs, &list1, &list2);
  ReleaseWork(copy, list1, list2, &free_runs);
  if (rc == 0 && there == 1) rc = FreeReplacedRun(copy, held, r);
  return request[RQ_STATUS] = rc;
}

int32_t DKDeleteOnCopy(int32_t* request) {
  static const int32_t index = dkset::RoutineIndex("DKUBL0");
  int32_t copy = 0, source = 0;
  if (int32_t rc = CheckCopyRequest(request, index, &copy, &source))
    return request[RQ_STATUS] = rc;
  uint8_t held[LDR_BYTES];
  const int32_t there = FetchHeld(request[RQ_TABLE], request[RQ_TBL],
                                  reinterpret_cast<const uint8_t*>(request + RQ_RECORD), held);
  if (there <= 0) return request[RQ_STATUS] = there < 0 ? there : 5;
  std::vector<int32_t> del(RQ_RECORD + LDR_BYTES / 4, 0);
  del[RQ_STATUS] = request[RQ_STATUS];
  del[RQ_TABLE] = request[RQ_TABLE];
  del[RQ_TBL] = request[RQ_TBL];
  del[RQ_RECORD_LENGTH] = LDR_BYTES;
  std::memcpy(del.data() + RQ_RECORD, held, LDR_BYTES);
  DKDEL1(del.data());
  if (del[RQ_STATUS] != 0) return request[RQ_STATUS] = del[RQ_STATUS];
  return request[RQ_STATUS] = FreeReplacedRun(copy, held, nullptr);
}
