// The batches of the statistics key pass: every key of the table whose
// index is marked dirty (ICB DIRTY) is completed from the table's rows, in
// batches of rows each committed in a transaction of its own, and then
// marked built, in the index control block and in the dictionary's row of
// its constraint.
#include <cstring>
#include <vector>

#include "du/record_operations.h"
#include "du/row_change_internal.h"
#include "du/row_scan.h"
#include "du/table_internal.h"
#include "du/table_statistics.h"
#include "du/tables.h"
#include "du/transactions.h"
#include "kernel/error_report.h"
#include "kernel/system_block.h"

namespace {

using du::Block;
using du::F;
using du::W;

// A -10001 at a transaction's end repeats the step, at most this often.
constexpr int32_t kRetries = 10;

int32_t Begin(int32_t* base, int32_t usr) {
  int32_t pb[2] = {1, usr};
  DSBTR3(base, pb);
  return pb[0];
}

int32_t End(int32_t* base, int32_t usr, int32_t code) {
  int32_t pb[3] = {code, usr, 0};
  DSEndTrans(base, pb);
  return pb[0];
}

// The key iterator: the next dirty index of the table after `icb` (0: from
// the first); 4 when there is none.
int32_t NextDirtyKey(int32_t* base, int32_t tcb, int32_t* icb) {
  int32_t k = *icb == 0 ? W(base, F(tcb, TCB_ICB)) : W(base, *icb);
  for (int32_t steps = 0; k != 0 && steps < (1 << 16); k = W(base, k), ++steps) {
    if (!du::BlockInside(base, k, ICB_WORDS)) return DU_BAD_ARGUMENT;
    if (W(base, F(k, ICB_DIRTY)) != 0) {
      *icb = k;
      return 0;
    }
  }
  return DU_KEYS_DONE;
}

// One batch of index `icb`'s entries: the rows from the key in `from`
// (after it when `after`), at most DU_KEY_BATCH_ROWS of them; each row whose
// entry the index lacks is locked in the read set and its entry inserted.
// *done when the table's rows ran out; `from` then holds the last key.
int32_t Batch(int32_t* base, int32_t usr, int32_t work, const Block& table, int32_t icb,
              Block* from, bool after, bool* done, int32_t* inserted) {
  const int32_t keylen = table.words[DUREC_KEYLEN];
  std::vector<uint8_t> first(from->row(), from->row() + keylen);
  int32_t rows = 0;
  *done = true;
  const int32_t rc = du::ScanRows(base, usr, work, *from, [&](Block& row) {
    if (after && std::memcmp(row.row(), first.data(), size_t(keylen)) == 0) return 0;
    if (rows == DU_KEY_BATCH_ROWS) {
      *done = false;
      return du::kScanStop;
    }
    ++rows;
    std::memcpy(from->row(), row.row(), size_t(keylen));
    Block entry;
    if (!du::IndexBlock(base, icb, table.words.data(), row.row(), &entry)) return DU_BAD_ARGUMENT;
    const int32_t present = du::KeyVisible(base, usr, entry.data());
    if (present != 0) return present < 0 ? present : 0;
    DULockRow(base, row.data(), usr, work);
    if (row[DUREC_STATUS] != 0) return row[DUREC_STATUS];
    const int32_t r = du::InsertIndexEntry(base, usr, icb, table.words.data(), row.row());
    if (r == 0) ++*inserted;
    return r;
  });
  return rc;
}

// Completes index `icb` batch by batch; 0 or the failure (its batch rolled
// back).
int32_t BuildKey(int32_t* base, int32_t usr, int32_t work, const Block& table, int32_t icb,
                 int32_t* inserted) {
  Block from = table;
  std::memset(from.row(), 0, size_t(table.words[DUREC_KEYLEN]));
  bool after = false;
  for (bool done = false; !done;) {
    int32_t r = 0;
    for (int32_t attempt = 0;; ++attempt) {
      Block position = from;
      int32_t counted = 0;
      if ((r = Begin(base, usr)) != 0) return r;
      r = Batch(base, usr, work, table, icb, &position, after, &done, &counted);
      if (r != 0) {
        End(base, usr, END_ROLLBACK);
        return r;
      }
      r = End(base, usr, END_AUTOMATIC);
      if (r == DU_FORCED_ROLLBACK && attempt < kRetries) continue;
      if (r != 0) return r;
      from = position;
      *inserted += counted;
      break;
    }
    after = true;
  }
  return 0;
}

// The dictionary's row of the key's constraint marked built, in a
// transaction of its own.
int32_t MarkBuilt(int32_t* base, int32_t usr, const StatTable& table, int32_t icb,
                  DUStatKeyBuilt mark) {
  for (int32_t attempt = 0;; ++attempt) {
    int32_t r = Begin(base, usr);
    if (r != 0) return r;
    int32_t pb[2] = {0, usr};
    mark(base, pb, table.id, W(base, F(icb, ICB_CONSTRAINT_SYSID)));
    if (pb[0] < 0) {
      End(base, usr, END_ROLLBACK);
      return pb[0];
    }
    r = End(base, usr, END_AUTOMATIC);
    if (r == DU_FORCED_ROLLBACK && attempt < kRetries) continue;
    return r;
  }
}

}  // namespace

void DUStatKeyBatches(int32_t* base, int32_t* pb, const StatTable& table, DUStatKeyBuilt mark,
                      int32_t* inserted) {
  const int32_t usr = pb[1];
  *inserted = 0;
  if (CurrentThread() == 0) {
    pb[0] = DU_NO_THREAD_SLOT;
    return;
  }
  if (table.keylen < 1 || table.reclen < table.keylen || table.reclen > 1 << 24) {
    pb[0] = DU_BAD_ARGUMENT;
    return;
  }
  Block record;
  record.words.assign(size_t(DurecWords(table.reclen)), 0);
  record[DUREC_ACCESS_MODE] = 3;
  record[DUREC_TYPE] = 1;
  record[DUREC_TNAME] = table.tname;
  record[DUREC_KEYLEN] = table.keylen;
  record[DUREC_RECLEN] = table.reclen;
  int32_t open[OPB_WORDS] = {OPEN_BASE};
  int32_t st[2] = {0, usr};
  DSOpenTableDcb(base, st, record.data(), open);
  if (st[0] != 0) {
    pb[0] = st[0];
    return;
  }
  int32_t work = 0;
  DSGetMem(base, &work, WRK_BYTES + du::KernelRecordBytes());
  int32_t r = work == 0 ? DU_NO_STORAGE : 0;
  const int32_t tcb = record[DUREC_OBJECT];
  for (int32_t icb = 0; r == 0;) {
    r = NextDirtyKey(base, tcb, &icb);
    if (r == DU_KEYS_DONE) {
      r = 0;
      break;
    }
    if (r == 0) r = BuildKey(base, usr, work, record, icb, inserted);
    if (r == 0) {
      W(base, F(icb, ICB_DIRTY)) = 0;
      if (mark) {
        r = MarkBuilt(base, usr, table, icb, mark);
      } else {
        DSErrRep("DDUpdConstraint", 15, DU_NOT_INSTALLED, SEV_ERROR);
        r = DU_NOT_INSTALLED;
      }
    }
  }
  du::FreeBlock(base, work);
  int32_t close[CLB_WORDS] = {CLOSE_TABLE};
  int32_t cl[2] = {0, usr};
  DSCloseTableRefs(base, cl, record.data(), close);
  pb[0] = r != 0 ? r : cl[0];
}
