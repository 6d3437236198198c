// Bulk load of a table without write-set merge: LOA feeds each row into the
// sort run the kernel keeps for the table (its handle in record word 13)
// and each index key into the index's own run (ICB SORTID, SORT_BLKSIZ);
// MRG merges the runs, SRT builds the stored table and indexes from them.
// The first LOA moves the rows the table already holds into the runs, so
// that they come back with the build; a failure at any step closes, merges
// and builds every run, which gives the table its rows back. A row whose
// feed failed half-way is then taken out of the table and indexes that got
// it, so that no row lacks an index entry and no entry its row.
#include "du/table_load.h"

#include <cstring>

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
// cleared) and hands each to `feed`; then drops the stored records.
template <typename Feed>
int32_t MoveStoredRecords(int32_t* block, Feed feed) {
  std::memset(block + DUREC_RECORD, 0, static_cast<size_t>(block[DUREC_KEYLEN]));
  for (int32_t mode = 1;; mode = -2) {
    block[DUREC_STATUS] = mode;
    DUKernel(DK_FET1, block + DUREC_FETCH_REQUEST);
    const int32_t st = block[DUREC_STATUS];
    if (st < 0) return KernelStatus(st);
    if (st > 0) break;
    if (int32_t rc = feed(block); rc != 0) return rc;
  }
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
int32_t Finish(int32_t* run, bool build) {
  int32_t st = DULoadStep(DK_LOA1, run, kEndOfInput);
  if (st >= 0) st = DULoadStep(DK_MRG1, run, 0);
  if (st >= 0 && build) st = DULoadStep(DK_BIN1, run, kBuildFromRun);
  return st;
}

}  // namespace

namespace {

// The duplicate keys the clean-up's merges and builds dropped: the table's
// and each index's whose run it ended.
struct Dropped {
  int32_t table = 0;
  std::vector<std::pair<int32_t, int32_t>> indexes;  // {ICB, duplicates}
  int32_t Of(int32_t icb) const {
    for (const auto& [i, n] : indexes)
      if (i == icb) return n;
    return 0;
  }
};

void EndRuns(int32_t* base, int32_t* record, Dropped* dropped) {
  const int32_t status = record[DUREC_STATUS];
  if (du::BlockInside(base, record[DUREC_OBJECT], TCB_WORDS)) {
    for (int32_t icb = W(base, F(record[DUREC_OBJECT], TCB_ICB)); icb != 0; icb = W(base, icb)) {
      if (W(base, F(icb, ICB_SORTID)) <= 0) continue;
      std::vector<int32_t> run = IndexRun(base, icb);
      Finish(run.data(), true);
      KeepRunFields(base, icb, run);
      W(base, F(icb, ICB_SORTID)) = 0;
      dropped->indexes.emplace_back(icb, run[LQ_DUPLICATES]);
    }
  }
  if (record[DUREC_LOAD_HANDLE] > 0) {
    record[DUREC_HANDLE] = 0;
    TableRun(record)[LQ_DUPLICATES] = 0;
    Finish(TableRun(record), true);
    dropped->table = TableRun(record)[LQ_DUPLICATES];
    record[DUREC_LOAD_HANDLE] = 0;
  }
  record[DUREC_FETCH_CODE] = 0;
  record[DUREC_STATUS] = status;
}

// Deletes the stored record of `block`'s object whose key `bytes` leads,
// when it is `bytes` itself (`length` bytes).
void TakeOut(int32_t* block, const uint8_t* bytes, int32_t length) {
  std::memcpy(block + DUREC_RECORD, bytes, static_cast<size_t>(length));
  block[DUREC_STATUS] = 1;  // at or after the key
  DUKernel(DK_FET1, block + DUREC_FETCH_REQUEST);
  if (block[DUREC_STATUS] != 0 ||
      std::memcmp(block + DUREC_RECORD, bytes, static_cast<size_t>(length)) != 0)
    return;
  block[DUREC_STATUS] = 0;
  DUKernel(DK_DEL1, block + DUREC_STATUS);
}

}  // namespace

void DUEndLoad(int32_t* base, int32_t* record) {
  Dropped dropped;
  EndRuns(base, record, &dropped);
}

namespace {

int32_t Fail(int32_t* base, int32_t* record, int32_t rc) {
  DUEndLoad(base, record);
  return rc;
}

// A LOA that failed after the table's run took its row (and the index runs
// in `fed` its keys): the clean-up builds the runs back, and the row and
// its keys are taken out again, so that the table and its indexes agree.
// An object whose merge dropped duplicate keys is left as built: the row
// found there under the key may be another's.
int32_t FailRow(int32_t* base, int32_t* record, int32_t rc, const std::vector<uint8_t>& row,
                const std::vector<int32_t>& fed) {
  Dropped dropped;
  EndRuns(base, record, &dropped);
  const int32_t status = record[DUREC_STATUS];
  for (int32_t icb : fed) {
    Block key;
    if (dropped.Of(icb) != 0 || !du::IndexBlock(base, icb, record, row.data(), &key)) continue;
    std::vector<uint8_t> entry(key.row(), key.row() + key[DUREC_RECLEN]);
    TakeOut(key.data(), entry.data(), key[DUREC_RECLEN]);
  }
  if (dropped.table == 0) {
    Block table;
    table.words.assign(record, record + DurecWords(record[DUREC_RECLEN]));
    table[DUREC_HANDLE] = 0;
    TakeOut(table.data(), row.data(), record[DUREC_RECLEN]);
  }
  record[DUREC_STATUS] = status;
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
  const bool first = record[DUREC_LOAD_HANDLE] == 0;
  const size_t reclen = static_cast<size_t>(record[DUREC_RECLEN]);
  const std::vector<uint8_t> row(reinterpret_cast<uint8_t*>(record + DUREC_RECORD),
                                 reinterpret_cast<uint8_t*>(record + DUREC_RECORD) + reclen);
  // The rows the table holds go into the runs before the new row, so that
  // a failed move leaves no part of the new row behind.
  if (first)
    if (int32_t rc = MoveExistingRows(base, record); rc != 0) return Fail(base, record, rc);
  record[DUREC_HANDLE] = 0;
  int32_t st = DULoadStep(DK_LOA1, TableRun(record), 0);
  if (st < 0) return Fail(base, record, st);
  std::vector<int32_t> fed;  // the indexes whose runs took the row's key
  int32_t rc = 0;
  for (int32_t icb = W(base, F(record[DUREC_OBJECT], TCB_ICB)); icb != 0 && rc == 0;
       icb = W(base, icb))
    if (rc = FeedIndex(base, icb, record, row.data()); rc == 0) fed.push_back(icb);
  if (rc != 0) return FailRow(base, record, rc, row, fed);
  record[DUREC_FETCH_CODE] = DU_LOAD_OPEN;
  return 0;
}

// MRG (build false) and SRT (build true).
int32_t FinishRuns(int32_t* base, int32_t* record, bool build) {
  if (record[DUREC_LOAD_HANDLE] == 0) {
    record[DUREC_FETCH_CODE] = build ? 0 : DU_LOAD_MERGED;
    return 0;
  }
  if (!Loadable(base, record)) return DU_BAD_ARGUMENT;
  for (int32_t icb = W(base, F(record[DUREC_OBJECT], TCB_ICB)); icb != 0; icb = W(base, icb)) {
    std::vector<int32_t> run = IndexRun(base, icb);
    const int32_t st = Finish(run.data(), build);
    KeepRunFields(base, icb, run);
    if (st < 0) return Fail(base, record, st);
    if (build) W(base, F(icb, ICB_SORTID)) = 0;
  }
  record[DUREC_HANDLE] = 0;
  int32_t* run = TableRun(record);
  int32_t st = DULoadStep(DK_LOA1, run, kEndOfInput);
  int32_t merged = st;
  if (st >= 0) merged = st = DULoadStep(DK_MRG1, run, 0);
  if (st >= 0 && build) st = DULoadStep(DK_BIN1, run, kBuildFromRun);
  if (st < 0) return Fail(base, record, st);
  if (!build) {
    record[DUREC_FETCH_CODE] = DU_LOAD_MERGED;
    return 0;
  }
  record[DUREC_LOAD_HANDLE] = 0;
  record[DUREC_FETCH_CODE] = 0;
  return merged;
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
