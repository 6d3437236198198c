// Closing a large object (DKCLO1): the end of a large-object session (modes
// -2 and -1) and bringing an object's directory record up to date in a
// table (modes 1, 2 and 4), which for a part new to the table's databank
// takes a run of pages there and, once every part has arrived, copies the
// object's pages from the databank of its directory (table 240). DKDLD0
// removes a directory record and frees its run.
#include <cstring>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/databank_file.h"
#include "dk/error_log.h"
#include "dk/large_object.h"
#include "dk/large_object_internal.h"
#include "dk/page_runs.h"
#include "dk/record_routines.h"
#include "dk/set_pages.h"
#include "dk/table_cursor.h"
#include "dk/table_entries.h"
#include "dk/table_open.h"
#include "dk/word_storage_access.h"

namespace {

constexpr int32_t kIndexDKCLO1 = DKF_CLO1;
constexpr int32_t kIndexDKDLD0 = -135;
constexpr int32_t kRecordWords = LDR_BYTES / 4;
constexpr int32_t kCursorWords = CursorBlockWords(LDR_BYTES);
// Directory records are replaced and inserted with each changed page
// written at once: the object's pages were written at once as well.
constexpr int32_t kWriteAtOnce = -2;

void StoreBig(uint8_t* p, int32_t v) {
  const uint32_t u = static_cast<uint32_t>(v);
  p[0] = static_cast<uint8_t>(u >> 24);
  p[1] = static_cast<uint8_t>(u >> 16);
  p[2] = static_cast<uint8_t>(u >> 8);
  p[3] = static_cast<uint8_t>(u);
}
int32_t LoadBig(const uint8_t* p) {
  return static_cast<int32_t>(uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 |
                              p[3]);
}
int32_t LoadNative(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

uint8_t* CursorRecord(std::vector<int32_t>& c) {
  return reinterpret_cast<uint8_t*>(c.data() + CUR_RECORD);
}

int32_t Fetch(std::vector<int32_t>& c, int32_t mode) {
  c[CUR_STATUS] = mode;
  DKFET1(c.data());
  return c[CUR_STATUS];
}

// A cursor block on a directory table with the key `key` (20 bytes).
std::vector<int32_t> DirectoryCursor(int32_t table, const uint8_t* key) {
  std::vector<int32_t> c(kCursorWords, 0);
  c[CUR_TABLE] = table;
  c[CUR_TBL] = Bufferpool()[table + TBE_TBL];
  c[CUR_KEY_LENGTH] = LDR_KEY_BYTES;
  c[CUR_RECORD_LENGTH] = LDR_BYTES;
  std::memcpy(CursorRecord(c), key, LDR_KEY_BYTES);
  return c;
}

int32_t AppendRun(const uint8_t* r, int32_t* list, int32_t* counter) {
  return DKELC0(LoadNative(r + LDR_FIRST_PAGE), LoadNative(r + LDR_PAGE_SIZE),
                LoadNative(r + LDR_PAGES), list, counter);
}

// Appends to the list the runs of the object's records in `table` whose
// SEQNO field is `seqno`, in part order; `extra` (a record not stored yet)
// goes in after the part below its own.
int32_t GatherRuns(int32_t table, const uint8_t* record, const uint8_t* seqno, int32_t* list,
                   int32_t* counter, const uint8_t* extra) {
  uint8_t key[LDR_KEY_BYTES];
  std::memcpy(key, record, LDR_SEQNO);
  std::memcpy(key + LDR_SEQNO, seqno, 4);
  StoreBig(key + LDR_PART, 0);
  std::vector<int32_t> c = DirectoryCursor(table, key);
  const int32_t extra_part = extra ? LoadBig(extra + LDR_PART) : 0;
  if (extra_part == 1)
    if (int32_t rc = AppendRun(extra, list, counter)) return rc;
  int32_t status = Fetch(c, FET_FROM_KEY);
  for (; status == 0; status = Fetch(c, FET_NEXT)) {
    const uint8_t* r = CursorRecord(c);
    if (std::memcmp(r, record, LDR_SEQNO) != 0) break;
    if (std::memcmp(r + LDR_SEQNO, seqno, 4) != 0) continue;
    if (int32_t rc = AppendRun(r, list, counter)) return rc;
    if (extra && LoadBig(r + LDR_PART) == extra_part - 1)
      if (int32_t rc = AppendRun(extra, list, counter)) return rc;
  }
  return status < 0 ? status : 0;
}

// Gives back a work block's lists; with a databank, the pages of its free
// runs too (they were taken there and no record names them).
void EndSession(int32_t* work, int32_t databank) {
  for (int word : {LWB_NEW_PAGES, LWB_SOURCE_PAGES})
    if (work[word] > 1) DKStorageRelease(work[word] - 1);
  if (databank > 0) DKDLC0(databank, 0, 1, 0, work + LWB_FREE_RUNS);
  for (int32_t n = 0, r = work[LWB_FREE_RUNS]; r != 0 && n < (1 << 22); ++n) {
    const int32_t* w = DKStorageWords(r, FRR_BYTES / 4);
    if (w == nullptr) break;
    const int32_t next = w[FRR_LINK];
    DKStorageRelease(r);
    r = next;
  }
  work[LWB_NEW_PAGES] = work[LWB_SOURCE_PAGES] = work[LWB_FREE_RUNS] = 0;
}

// Mode 1 for a part the table does not hold: a run in the table's databank,
// the pages copied once every part is there, the record inserted.
int32_t InsertNewPart(int32_t* block, int32_t* work, int32_t databank) {
  uint8_t* record = reinterpret_cast<uint8_t*>(block + RQ_RECORD);
  const int32_t size = LoadNative(record + LDR_PAGE_SIZE);
  const int32_t pages = LoadNative(record + LDR_PAGES);
  int32_t first = 0;
  if (int32_t rc = DKALC0(databank, size, pages, work + LWB_FREE_RUNS, &first)) return rc;
  std::memcpy(record + LDR_FIRST_PAGE, &first, 4);
  // Both lists are made afresh, so that equal counters mean lists of one
  // capacity, as the copy wants.
  for (int word : {LWB_NEW_PAGES, LWB_SOURCE_PAGES}) {
    if (work[word] > 1) DKStorageRelease(work[word] - 1);
    work[word] = 0;
  }
  const int32_t* a = Bufferpool();
  const int32_t directory = work[LWB_DIRECTORY];
  const int32_t source = a[directory + TBE_DATABANK];
  uint8_t source_seqno[4];
  StoreBig(source_seqno, a[source + DBE_SEQNO]);
  int32_t new_count = 1, source_count = 1;
  int32_t rc = GatherRuns(block[RQ_TABLE], record, record + LDR_SEQNO, work + LWB_NEW_PAGES,
                          &new_count, record);
  if (rc == 0)
    rc = GatherRuns(directory, record, source_seqno, work + LWB_SOURCE_PAGES, &source_count,
                    nullptr);
  if (rc == 0 && new_count == source_count && new_count > 1)
    rc = DKCLP0(source, databank, work[LWB_SOURCE_PAGES], work[LWB_NEW_PAGES]);
  if (rc == 0 && new_count > source_count) {
    // An internal error ends the server: the answer and the run are settled
    // before it is reported.
    DKDLC0(databank, first, size / 2048, pages, nullptr);
    block[CLO_ANSWER] = -55;
    ReportPageError(kIndexDKCLO1, -55, DK_SEV_INTERNAL, new_count - source_count);
    return -55;
  }
  int32_t status = rc;
  if (rc == 0) {
    std::vector<int32_t> insert(block, block + CLO_WORDS);
    insert[RQ_STATUS] = kWriteAtOnce;
    DKINS1(insert.data());
    if (insert[RQ_STATUS] == 0) return 0;
    status = insert[RQ_STATUS] > 0 ? 0 : insert[RQ_STATUS];
  }
  DKDLC0(databank, first, size / 2048, pages, nullptr);
  return status;
}

// Modes 1 and 2 for a record the table holds: replaced unless its bytes
// 36..43 are the request's.
int32_t ReplaceRecord(int32_t* block, const uint8_t* stored) {
  if (std::memcmp(stored + LDR_STAMP, block + CLO_STAMP, 8) == 0) return 0;
  std::vector<int32_t> request(block, block + CLO_WORDS);
  request[RQ_STATUS] = 0;
  DKPFU1(request.data());
  if (request[RQ_STATUS] < 0) return request[RQ_STATUS];
  block[RQ_BEFORE_LENGTH] = request[PFU_STORED_LENGTH];
  std::vector<int32_t> update(block, block + CLO_WORDS);
  update[RQ_STATUS] = kWriteAtOnce;
  DKUPD1(update.data());
  return update[RQ_STATUS] < 0 ? update[RQ_STATUS] : 0;
}

int32_t Close(int32_t* block, int32_t* work) {
  const int32_t mode = block[CLO_MODE];
  int32_t* a = Bufferpool();
  if (mode == -1 || mode == -2) {
    EndSession(work, mode == -2 ? DKFindDatabank(block[CLO_DID]) : -1);
    return 0;
  }
  const int32_t directory = work[LWB_DIRECTORY];
  if (!dkset::IsTableEntry(directory) || a[directory + TBE_TBL] != kLobReferenceTbl)
    return LobReport(kIndexDKCLO1, -46, directory);
  if (int32_t rc = CheckTableEntry(block[RQ_TABLE], block[RQ_TBL], kIndexDKCLO1)) return rc;
  if (block[RQ_KEY_LENGTH] != LDR_KEY_BYTES || block[RQ_RECORD_LENGTH] != LDR_BYTES)
    return LobReport(kIndexDKCLO1, -43, block[RQ_RECORD_LENGTH]);
  const int32_t databank = a[block[RQ_TABLE] + TBE_DATABANK];
  uint8_t seqno[4];
  StoreBig(seqno, a[databank + DBE_SEQNO]);
  if (std::memcmp(seqno, block + CLO_SEQNO_FIELD, 4) != 0) {
    ReportPageError(kIndexDKCLO1, -43, DK_SEV_DISABLE, block[CLO_SEQNO_FIELD], databank);
    return -43;
  }
  std::vector<int32_t> c(kCursorWords, 0);
  std::memcpy(c.data() + 5, block, sizeof(int32_t) * CLO_WORDS);
  c[CUR_SCAN] = 0;
  c[CUR_PAGE_SIZE] = 0;
  const int32_t status = Fetch(c, FET_IN_LEAF);
  if (status < 0) return status;
  const bool there =
      status == 0 && std::memcmp(CursorRecord(c), block + RQ_RECORD, LDR_KEY_BYTES) == 0;
  if (there && mode == 4) {
    std::memcpy(CursorRecord(c), block + RQ_RECORD, LDR_BYTES);
    return DKDLD0(c.data(), kWriteAtOnce);
  }
  if (there) return ReplaceRecord(block, CursorRecord(c));
  return mode == 1 ? InsertNewPart(block, work, databank) : 0;
}

}  // namespace

int32_t DKDLD0(int32_t* cursor, int32_t write_mode) {
  if (cursor[CUR_KEY_LENGTH] != LDR_KEY_BYTES || cursor[CUR_RECORD_LENGTH] != LDR_BYTES)
    return LobReport(kIndexDKDLD0, -43, cursor[CUR_RECORD_LENGTH]);
  std::vector<int32_t> c(cursor, cursor + kCursorWords);
  uint8_t key[LDR_KEY_BYTES];
  std::memcpy(key, CursorRecord(c), LDR_KEY_BYTES);
  const int32_t status = Fetch(c, FET_IN_LEAF);
  if (status < 0) return status;
  if (status != 0 || std::memcmp(CursorRecord(c), key, LDR_KEY_BYTES) != 0) return 0;
  std::vector<int32_t> del(RQ_RECORD + kRecordWords, 0);
  del[RQ_STATUS] = write_mode;
  del[RQ_TABLE] = c[CUR_TABLE];
  del[RQ_TBL] = c[CUR_TBL];
  del[RQ_RECORD_LENGTH] = LDR_BYTES;
  std::memcpy(del.data() + RQ_RECORD, CursorRecord(c), LDR_BYTES);
  DKDEL1(del.data());
  if (del[RQ_STATUS] < 0) return del[RQ_STATUS];
  if (del[RQ_STATUS] != 0) return 0;  // gone meanwhile
  const uint8_t* r = CursorRecord(c);
  int32_t free[FLO_FIRST_RUN + RUN_WORDS] = {0, 1, 0};
  std::memcpy(free + FLO_FIRST_RUN, r + LDR_FIRST_PAGE, RUN_WORDS * 4);
  int32_t did = Bufferpool()[Bufferpool()[c[CUR_TABLE] + TBE_DATABANK] + DBE_DID];
  DKFLO1(free, &did);
  return free[FLO_STATUS];
}

void DKCLO1(int32_t* block, void* work) {
  const int32_t mode = block[CLO_MODE];
  if (mode < -2 || mode > 4 || mode == 0 || mode == 3) {
    // Reported as an internal error, which ends the server: the answer is
    // in place first.
    block[CLO_ANSWER] = -43;
    ReportPageError(kIndexDKCLO1, -43, DK_SEV_INTERNAL, mode);
    return;
  }
  if (work == nullptr) return void(block[CLO_ANSWER] = LobReport(kIndexDKCLO1, -43, 0));
  block[CLO_ANSWER] = Close(block, static_cast<int32_t*>(work));
}
