// Bulk load of a table without write-set merge: LOA feeds each row into the
// sort run the kernel keeps for the table (its handle in record word 13)
// and each index key into the index's own run (ICB SORTID, SORT_BLKSIZ);
// MRG and SRT close, merge and build every run into the stored table and
// indexes (the kernel's merge ends a run); rows loaded after an MRG go into
// new runs.
// The first LOA moves the rows the table already holds into the runs, so
// that they come back with the build; a failure at any step closes, merges
// and builds every run, which gives the table its rows back. Of rows with
// one key the table's merge keeps the first and drops the others; their
// index entries, which the index merges keep, are then deleted, so that
// every index entry names a row that has it. A row's keys go into the index
// runs before the row goes into the table's: a failed feed leaves the row
// out of the table, and its keys are deleted as entries without a row.
#include "du/table_load.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "du/kernel_requests.h"
#include "du/pool_words.h"
#include "du/record_operations.h"
#include "du/row_change_internal.h"
#include "du/table_internal.h"
#include "du/upper_services.h"

using du::Block;
using du::F;
using du::W;

namespace {

constexpr int32_t kEndOfInput = LQ_END_OF_INPUT;
constexpr int32_t kBuildFromRun = LQ_BUILD;

int32_t* TableRun(int32_t* record) {
  return record + DUREC_LOAD_HANDLE;
}

// The run request of an index, from its ICB (identity and run fields) with
// room for its key.
std::vector<int32_t> IndexRun(int32_t* base, int32_t icb) {
  const int32_t reclen = W(base, F(icb, ICB_RECLEN));
  std::vector<int32_t> run(static_cast<size_t>(LQ_RECORD + (reclen + 3) / 4 + 1), 0);
  run[LQ_CONTROL] = W(base, F(icb, ICB_SORTID));
  run[LQ_TABLE] = W(base, F(icb, ICB_TBL));
  run[LQ_TBL] = W(base, F(icb, ICB_TNAME));
  run[LQ_KEY_LENGTH] = W(base, F(icb, ICB_KEYLEN));
  run[LQ_RECORD_LENGTH] = reclen;
  run[LQ_PAGE_SIZE] = W(base, F(icb, ICB_SORT_BLKSIZ));
  return run;
}

// Writes the run fields back into the ICB, also after a failure.
void KeepRunFields(int32_t* base, int32_t icb, const std::vector<int32_t>& run) {
  W(base, F(icb, ICB_SORTID)) = run[LQ_CONTROL];
  W(base, F(icb, ICB_SORT_BLKSIZ)) = run[LQ_PAGE_SIZE];
}

// Feeds the index key of `row` into the index's run.
int32_t FeedIndex(int32_t* base, int32_t icb, const int32_t* record, const uint8_t* row) {
  Block key;
  if (!du::IndexBlock(base, icb, record, row, &key)) return DU_BAD_ARGUMENT;
  std::vector<int32_t> run = IndexRun(base, icb);
  std::memcpy(run.data() + LQ_RECORD, key.row(), static_cast<size_t>(run[LQ_RECORD_LENGTH]));
  const int32_t st = DULoadStep(DK_LOA1, run.data(), 0);
  KeepRunFields(base, icb, run);
  return st < 0 ? st : 0;
}

// Reads every stored record of the object of `block` (its key buffer
// cleared) and hands each to `feed`.
template <typename Feed>
int32_t ScanStoredRecords(int32_t* block, Feed feed) {
  std::memset(block + DUREC_RECORD, 0, static_cast<size_t>(block[DUREC_KEYLEN]));
  for (int32_t mode = 1;; mode = -2) {
    block[DUREC_STATUS] = mode;
    DUKernel(DK_FET1, block + DUREC_FETCH_REQUEST);
    const int32_t st = block[DUREC_STATUS];
    if (st < 0) return KernelStatus(st);
    if (st > 0) return 0;
    if (int32_t rc = feed(block); rc != 0) return rc;
  }
}

// Hands every stored record of the object of `block` to `feed`; then drops
// the stored records.
template <typename Feed>
int32_t MoveStoredRecords(int32_t* block, Feed feed) {
  if (int32_t rc = ScanStoredRecords(block, feed); rc != 0) return rc;
  block[DUREC_STATUS] = 0;
  DUKernel(DK_DRP1, block + DUREC_STATUS);
  return block[DUREC_STATUS] < 0 ? KernelStatus(block[DUREC_STATUS]) : 0;
}

// The first LOA of a load: the stored index entries and rows go into the
// runs, the stored records are dropped.
int32_t MoveExistingRows(int32_t* base, int32_t* record) {
  const int32_t tcb = record[DUREC_OBJECT];
  for (int32_t icb = W(base, F(tcb, TCB_ICB)); icb != 0; icb = W(base, icb)) {
    Block index;
    if (!du::IndexBlock(base, icb, record, nullptr, &index)) return DU_BAD_ARGUMENT;
    std::vector<int32_t> run = IndexRun(base, icb);
    const int32_t rc = MoveStoredRecords(index.data(), [&](int32_t* b) {
      std::memcpy(run.data() + LQ_RECORD, b + DUREC_RECORD,
                  static_cast<size_t>(run[LQ_RECORD_LENGTH]));
      const int32_t st = DULoadStep(DK_LOA1, run.data(), 0);
      return st < 0 ? st : 0;
    });
    KeepRunFields(base, icb, run);
    if (rc != 0) return rc;
  }
  // The table's stored rows, read on a copy of its block; the run's handle
  // comes back in word 13 of the block itself.
  Block scan;
  scan.words.assign(record, record + DurecWords(record[DUREC_RECLEN]));
  int32_t* run = TableRun(record);
  const size_t reclen = static_cast<size_t>(record[DUREC_RECLEN]);
  std::vector<uint8_t> row(reclen);
  std::memcpy(row.data(), record + DUREC_RECORD, reclen);
  const int32_t rc = MoveStoredRecords(scan.data(), [&](int32_t* b) {
    std::memcpy(record + DUREC_RECORD, b + DUREC_RECORD, reclen);
    record[DUREC_HANDLE] = 0;
    const int32_t st = DULoadStep(DK_LOA1, run, 0);
    return st < 0 ? st : 0;
  });
  std::memcpy(record + DUREC_RECORD, row.data(), reclen);
  return rc;
}

// Closes, merges and builds one run; the steps stop at the first failure.
// `*merged` (when given) gets the merge's status, or the close's failure.
int32_t Finish(int32_t* run, int32_t* merged = nullptr) {
  int32_t st = DULoadStep(DK_LOA1, run, kEndOfInput);
  if (st >= 0) st = DULoadStep(DK_MRG1, run, 0);
  if (merged) *merged = st;
  if (st >= 0) st = DULoadStep(DK_BIN1, run, kBuildFromRun);
  return st;
}

}  // namespace

void du::TakeOutRecord(int32_t* block, const uint8_t* bytes, int32_t length) {
  std::memcpy(block + DUREC_RECORD, bytes, static_cast<size_t>(length));
  block[DUREC_STATUS] = 1;  // at or after the key
  DUKernel(DK_FET1, block + DUREC_FETCH_REQUEST);
  if (block[DUREC_STATUS] != 0 ||
      std::memcmp(block + DUREC_RECORD, bytes, static_cast<size_t>(length)) != 0)
    return;
  block[DUREC_STATUS] = 0;
  DUKernel(DK_DEL1, block + DUREC_STATUS);
}

namespace {

// Whether the stored row under the table key that ends the index key of
// `entry` (`length` bytes) is there and builds that very entry; `table` is
// a block of the table whose buffer this overwrites.
bool NamesItsRow(int32_t* base, int32_t* table, int32_t icb, const uint8_t* entry, int32_t keylen,
                 int32_t length) {
  const int32_t tk = table[DUREC_KEYLEN];
  uint8_t* row = reinterpret_cast<uint8_t*>(table + DUREC_RECORD);
  std::memcpy(row, entry + (keylen - tk), static_cast<size_t>(tk));
  table[DUREC_STATUS] = 1;  // at or after the key
  DUKernel(DK_FET1, table + DUREC_FETCH_REQUEST);
  if (table[DUREC_STATUS] != 0 ||
      std::memcmp(row, entry + (keylen - tk), static_cast<size_t>(tk)) != 0)
    return false;
  Block rebuilt;
  return du::IndexBlock(base, icb, table, row, &rebuilt) &&
         std::memcmp(rebuilt.row(), entry, static_cast<size_t>(length)) == 0;
}

// Deletes every stored entry of each index of the table that names no row
// having it: those of rows the table's merge dropped as duplicates of a
// key, and the keys of a row whose feed failed. The entries are gathered
// first and deleted after the scan.
void DropEntriesWithoutRow(int32_t* base, int32_t* record) {
  Block table;
  table.words.assign(record, record + DurecWords(record[DUREC_RECLEN]));
  table[DUREC_HANDLE] = 0;
  for (int32_t icb = W(base, F(record[DUREC_OBJECT], TCB_ICB)); icb != 0; icb = W(base, icb)) {
    Block index;
    if (!du::IndexBlock(base, icb, record, nullptr, &index)) continue;
    const int32_t keylen = index[DUREC_KEYLEN], length = index[DUREC_RECLEN];
    if (keylen < table[DUREC_KEYLEN]) continue;
    std::vector<std::vector<uint8_t>> stray;
    ScanStoredRecords(index.data(), [&](int32_t* b) {
      const uint8_t* entry = reinterpret_cast<const uint8_t*>(b + DUREC_RECORD);
      if (!NamesItsRow(base, table.data(), icb, entry, keylen, length))
        stray.emplace_back(entry, entry + length);
      return 0;
    });
    for (const std::vector<uint8_t>& entry : stray)
      du::TakeOutRecord(index.data(), entry.data(), length);
  }
}

// Closes, merges and builds the table's run; `*merged` gets the merge's
// status. The run's duplicates word adds up the keys every merge of the
// load dropped, so that an SRT after an MRG still knows of them.
int32_t FinishTable(int32_t* record, int32_t* merged) {
  record[DUREC_HANDLE] = 0;
  int32_t* run = TableRun(record);
  const int32_t earlier = run[LQ_DUPLICATES];
  run[LQ_DUPLICATES] = 0;
  const int32_t st = Finish(run, merged);
  run[LQ_DUPLICATES] = earlier + std::max(run[LQ_DUPLICATES], 0);
  return st;
}

// Ends every run; with `failed`, or when the table's merge dropped rows,
// the index entries without their row are deleted.
void EndRuns(int32_t* base, int32_t* record, bool failed) {
  const int32_t status = record[DUREC_STATUS];
  const bool table = du::BlockInside(base, record[DUREC_OBJECT], TCB_WORDS);
  for (int32_t icb = table ? W(base, F(record[DUREC_OBJECT], TCB_ICB)) : 0; icb != 0;
       icb = W(base, icb)) {
    if (W(base, F(icb, ICB_SORTID)) <= 0) continue;
    std::vector<int32_t> run = IndexRun(base, icb);
    Finish(run.data());
    KeepRunFields(base, icb, run);
    W(base, F(icb, ICB_SORTID)) = 0;
  }
  int32_t dropped = 0;
  if (record[DUREC_LOAD_HANDLE] > 0) {
    int32_t merged = 0;
    FinishTable(record, &merged);
    dropped = TableRun(record)[LQ_DUPLICATES];
    record[DUREC_LOAD_HANDLE] = 0;
  }
  if (table && (failed || dropped > 0)) DropEntriesWithoutRow(base, record);
  record[DUREC_FETCH_CODE] = 0;
  record[DUREC_STATUS] = status;
}

}  // namespace

void DUEndLoad(int32_t* base, int32_t* record) {
  EndRuns(base, record, false);
}

namespace {

int32_t Fail(int32_t* base, int32_t* record, int32_t rc) {
  EndRuns(base, record, true);
  return rc;
}

bool Loadable(int32_t* base, const int32_t* record) {
  const int32_t k = record[DUREC_KEYLEN], r = record[DUREC_RECLEN];
  return du::BlockInside(base, record[DUREC_OBJECT], TCB_WORDS) && k >= 1 && k <= r &&
         r + 4 <= du::KernelRecordBytes();
}

int32_t LoadRow(int32_t* base, int32_t* record) {
  if (record[DUREC_MERGE] > 0) return DU_LOAD_WITH_MERGE;
  if (!Loadable(base, record)) return DU_BAD_ARGUMENT;
  // After an MRG the runs are built and closed: the next row opens new
  // runs, and the rows the table holds stay where they are.
  const bool first = record[DUREC_LOAD_HANDLE] == 0 && record[DUREC_FETCH_CODE] != DU_LOAD_MERGED;
  const size_t reclen = static_cast<size_t>(record[DUREC_RECLEN]);
  const std::vector<uint8_t> row(reinterpret_cast<uint8_t*>(record + DUREC_RECORD),
                                 reinterpret_cast<uint8_t*>(record + DUREC_RECORD) + reclen);
  // The rows the table holds go into the runs before the new row, so that
  // a failed move leaves no part of the new row behind.
  if (first) {
    TableRun(record)[LQ_DUPLICATES] = 0;
    if (int32_t rc = MoveExistingRows(base, record); rc != 0) return Fail(base, record, rc);
  }
  // The keys before the row: a feed that fails leaves the row out of the
  // table, and the clean-up deletes the keys the index runs took.
  for (int32_t icb = W(base, F(record[DUREC_OBJECT], TCB_ICB)); icb != 0; icb = W(base, icb))
    if (int32_t rc = FeedIndex(base, icb, record, row.data()); rc != 0)
      return Fail(base, record, rc);
  record[DUREC_HANDLE] = 0;
  if (int32_t st = DULoadStep(DK_LOA1, TableRun(record), 0); st < 0) return Fail(base, record, st);
  record[DUREC_FETCH_CODE] = DU_LOAD_OPEN;
  return 0;
}

// MRG (build false) and SRT (build true). The kernel's merge ends a run:
// its control word comes back 0 and the merged records wait in a chain
// that only a build takes, so MRG builds every run too. Rows loaded after
// it go into new runs, whose build keeps the stored record of a key over
// a loaded one: the rows of the merge stay the first of their keys.
int32_t FinishRuns(int32_t* base, int32_t* record, bool build) {
  const int32_t after = build ? 0 : DU_LOAD_MERGED;
  if (record[DUREC_LOAD_HANDLE] == 0) {
    // An SRT right after an MRG still answers the rows that MRG dropped.
    const bool merged = record[DUREC_FETCH_CODE] == DU_LOAD_MERGED;
    record[DUREC_FETCH_CODE] = after;
    return merged && build && TableRun(record)[LQ_DUPLICATES] > 0 ? 1 : 0;
  }
  if (!Loadable(base, record)) return DU_BAD_ARGUMENT;
  for (int32_t icb = W(base, F(record[DUREC_OBJECT], TCB_ICB)); icb != 0; icb = W(base, icb)) {
    std::vector<int32_t> run = IndexRun(base, icb);
    const int32_t st = Finish(run.data());
    KeepRunFields(base, icb, run);
    if (st < 0) return Fail(base, record, st);
    W(base, F(icb, ICB_SORTID)) = 0;
  }
  int32_t merged = 0;
  if (int32_t st = FinishTable(record, &merged); st < 0) return Fail(base, record, st);
  // The table kept the first row of each key; the entries of the others go,
  // and the status of SRT tells that rows were dropped.
  const bool dropped = TableRun(record)[LQ_DUPLICATES] > 0;
  if (dropped) DropEntriesWithoutRow(base, record);
  record[DUREC_LOAD_HANDLE] = 0;
  record[DUREC_FETCH_CODE] = after;
  if (!build) return 0;
  return merged > 0 ? merged : (dropped ? 1 : 0);
}

}  // namespace

void DULoadRows(int32_t* base, int32_t* record) {
  record[DUREC_STATUS] = LoadRow(base, record);
}

void DUMergeRows(int32_t* base, int32_t* record) {
  record[DUREC_STATUS] = FinishRuns(base, record, false);
}

void DUSortRows(int32_t* base, int32_t* record) {
  record[DUREC_STATUS] = FinishRuns(base, record, true);
}

int32_t DULoadStep(int32_t code, int32_t* run, int32_t mode) {
  run[LQ_STATUS] = mode;
  DUKernel(code, run);
  const int32_t st = run[LQ_STATUS];
  return st < 0 ? KernelStatus(st) : st;
}
