// Insert, delete and update of a row with its index entries and the
// constraint checks they need: directly in the kernel for a table without
// write-set merge (DKINS1, DKDEL1, DKPFU1 and DKUPD1), through the
// transaction's write set otherwise (DKAPS1 and DKINT1), where the stored
// table changes only when the transaction commits.
#include <cstdio>
#include <cstring>

#include "du/kernel_requests.h"
#include "du/large_objects.h"
#include "du/record_operations.h"
#include "du/row_change_internal.h"
#include "du/table_load.h"
#include "du/transactions.h"
#include "du/upper_services.h"
#include "platform/decimal_text.h"

using du::Block;
using du::W;

namespace du {

namespace {

uint8_t* KeyRow(int32_t* record) {
  return reinterpret_cast<uint8_t*>(record + DUREC_RECORD);
}

}  // namespace

constexpr int32_t kBadGeneratedKey = -19055;
constexpr int32_t kGeneratedKeyBytes = 12;  // 20 digits as a packed decimal

// A new key from the kernel's generator (DKGGK1: two numbers, high and
// low), written as high x 10^10 + low at the start of the row.
int32_t GenerateKey(int32_t* base, int32_t* record) {
  (void)base;
  if (record[DUREC_KEYLEN] < kGeneratedKeyBytes) return kBadGeneratedKey;
  record[DUREC_STATUS] = 0;
  DUKernel(DK_GGK1, record + DUREC_FETCH_REQUEST);
  if (record[DUREC_STATUS] < 0) return KernelStatus(record[DUREC_STATUS]);
  const int32_t high = record[DUREC_RECORD], low = record[DUREC_RECORD + 1];
  if (high < 0 || low < 0) return kBadGeneratedKey;
  char digits[32];
  const int n = std::snprintf(digits, sizeof digits, "%010d%010d", high, low);
  if (n != 20) return kBadGeneratedKey;
  value_descriptor field;
  field.precision = 20;
  field.scale = 0;
  const int32_t rc =
      text_to_decimal(ByteSpan(KeyRow(record), kGeneratedKeyBytes), field,
                      ConstByteSpan(reinterpret_cast<const uint8_t*>(digits), 20), 0, 20);
  return rc == 0 ? 0 : kBadGeneratedKey;
}

}  // namespace du

namespace {

constexpr int32_t kKeyChangeForbidden = 314159;

int64_t F(int32_t block, int32_t field) {
  return int64_t{block} + field;
}

uint8_t* Row(int32_t* record) {
  return reinterpret_cast<uint8_t*>(record + DUREC_RECORD);
}

bool LengthsSound(const int32_t* record) {
  const int32_t k = record[DUREC_KEYLEN], r = record[DUREC_RECLEN];
  return k >= 1 && k <= r && r + 4 <= du::KernelRecordBytes();
}

bool IsForeignKey(int32_t* base, int32_t icb) {
  const int32_t kind = W(base, F(icb, ICB_IXTYPE));
  return kind == IX_FOREIGN_KEY || kind == IX_FOREIGN_KEY_SKIPPED;
}
bool IsUnique(int32_t* base, int32_t icb) {
  const int32_t kind = W(base, F(icb, ICB_IXTYPE));
  return kind == IX_UNIQUE_NULLS_FREE || kind == IX_UNIQUE;
}

// The common preamble: a table with write-set merge needs an open
// transaction. 0 or the failure.
int32_t Preamble(int32_t* base, const int32_t* record, int32_t usr) {
  if (!LengthsSound(record) || !du::BlockInside(base, record[DUREC_OBJECT], TCB_WORDS))
    return DU_BAD_ARGUMENT;
  // The index keys are built from this block's row along key parts that
  // the table's row length bounds: a shorter block would be read past.
  if (record[DUREC_RECLEN] != W(base, F(record[DUREC_OBJECT], TCB_RECLEN))) return DU_BAD_ARGUMENT;
  if (record[DUREC_MERGE] <= 0) return 0;
  const int32_t tp = W(base, F(usr, USR_TP));
  if (tp == 0 || W(base, F(tp, TP_TRANSACTION_STATE)) == 0) return DU_NO_TRANSACTION;
  // The change goes through the write set: its databank is marked written
  // here, whatever the statements marked (a saving begin or the end of an
  // earlier transaction cleared the marks), so that the commit keeps it.
  const int32_t dcb = W(base, F(record[DUREC_OBJECT], TCB_DCB));
  if (!du::BlockInside(base, dcb, DCB_WORDS)) return DU_BAD_ARGUMENT;
  return DUMarkDatabankWritten(base, usr, tp, dcb);
}

// A kernel record request (word 19 on) of a block: its status, kernel codes
// mapped.
int32_t Direct(int32_t code, int32_t* block) {
  block[DUREC_STATUS] = 0;
  DUKernel(code, block + DUREC_STATUS);
  const int32_t st = block[DUREC_STATUS];
  return st < 0 ? KernelStatus(st) : st;
}

// One index entry of `row` changed by `kind` (1 insert, 2 new image, 3
// before image, 4 delete).
int32_t ChangeIndexEntry(int32_t* base, int32_t usr, int32_t icb, const int32_t* record,
                         const uint8_t* row, int32_t kind, int32_t origin) {
  Block b;
  if (!du::IndexBlock(base, icb, record, row, &b)) return DU_BAD_ARGUMENT;
  if (record[DUREC_MERGE] > 0)
    return du::AppendEntry(base, usr, b.data(), kind, QueueRecordWords(b[DUREC_RECLEN]), origin);
  const int32_t code = kind == 1 ? DK_INS1 : kind == 2 ? DK_UPD1 : kind == 4 ? DK_DEL1 : 0;
  if (kind == 3) return 0;
  if (code == 0) return DU_NO_TRANSACTION;
  const int32_t st = Direct(code, b.data());
  return st < 0 ? st : 0;
}

// Every index entry of `row` changed by `kind`.
int32_t ChangeAllIndexes(int32_t* base, int32_t usr, const int32_t* record, const uint8_t* row,
                         int32_t kind, int32_t origin) {
  for (int32_t icb = W(base, F(record[DUREC_OBJECT], TCB_ICB)); icb != 0; icb = W(base, icb))
    if (int32_t rc = ChangeIndexEntry(base, usr, icb, record, row, kind, origin); rc != 0)
      return rc;
  return 0;
}

// A block like `record` whose buffer holds `row`.
Block WithRow(const int32_t* record, const uint8_t* row) {
  Block b;
  b.words.assign(record, record + DurecWords(record[DUREC_RECLEN]));
  std::memcpy(b.row(), row, static_cast<size_t>(record[DUREC_RECLEN]));
  return b;
}

// The row with the block's key as the transaction sees it, into `row`: 1
// found, 0 none, or a failure.
int32_t CurrentRow(int32_t* base, int32_t usr, const int32_t* record, std::vector<uint8_t>* row) {
  Block probe;
  probe.words.assign(record, record + DurecWords(record[DUREC_RECLEN]));
  DUReadRowByKey(base, probe.data(), usr);
  if (probe[DUREC_STATUS] == DU_NO_ROW) return 0;
  if (probe[DUREC_STATUS] != 0) return probe[DUREC_STATUS];
  row->assign(probe.row(), probe.row() + record[DUREC_RECLEN]);
  return 1;
}

// Insert (`find` false) or insert-or-find (`find` true: an existing key
// reads its row and answers 1).
int32_t Insert(int32_t* base, int32_t* record, int32_t usr, bool find = false) {
  if (int32_t rc = Preamble(base, record, usr); rc != 0) return rc;
  const int32_t tcb = record[DUREC_OBJECT];
  const bool generated = W(base, F(tcb, TCB_IXTYPE)) == TCB_GENERATED_KEY;
  if (generated)
    if (int32_t rc = du::GenerateKey(base, record); rc != 0) return rc;
  const std::vector<uint8_t> row(Row(record), Row(record) + record[DUREC_RECLEN]);
  for (int32_t icb = W(base, F(tcb, TCB_ICB)); icb != 0; icb = W(base, icb)) {
    int32_t rc = 0;
    if (IsForeignKey(base, icb)) rc = du::CheckParent(base, usr, icb, record, row.data());
    if (rc == 0 && IsUnique(base, icb)) rc = du::CheckUnique(base, usr, icb, record, row.data());
    if (rc != 0) return rc;
  }
  const bool merge = record[DUREC_MERGE] > 0;
  if (merge && !generated) {
    const int32_t visible = du::KeyVisible(base, usr, record);
    if (visible < 0) return visible;
    if (visible == 1 && find) {
      DUReadRowByKey(base, record, usr);
      return record[DUREC_STATUS] == 0 ? 1 : record[DUREC_STATUS];
    }
    if (visible == 1) {
      du::SetCurrent(base, usr, W(base, F(tcb, TCB_TNAME)), W(base, F(tcb, TCB_CONSTRAINT_SYSID)));
      return 1;
    }
  } else if (!merge) {
    // The row first: a duplicate then leaves no index entry behind.
    const int32_t st = Direct(find ? DK_IND1 : DK_INS1, record);
    if (st > 0 && find) {
      record[DUREC_STATUS] = 2;
      DUKernel(DK_FET1, record + DUREC_FETCH_REQUEST);
      if (record[DUREC_STATUS] < 0) return KernelStatus(record[DUREC_STATUS]);
      if (record[DUREC_STATUS] > 0) return -19074;
      record[DUREC_FETCH_CODE] = 11;
      return 1;
    }
    if (st != 0) {
      if (st > 0)
        du::SetCurrent(base, usr, W(base, F(tcb, TCB_TNAME)),
                       W(base, F(tcb, TCB_CONSTRAINT_SYSID)));
      return st > 0 ? 1 : st;
    }
  }
  if (int32_t rc = ChangeAllIndexes(base, usr, record, row.data(), du::ENTRY_INSERT, 0); rc != 0)
    return rc;
  if (int32_t rc = du::LobColumnsInserted(base, usr, record, row.data()); rc != 0) return rc;
  if (merge)
    return du::AppendEntry(base, usr, record, du::ENTRY_INSERT,
                           QueueRecordWords(record[DUREC_RECLEN]), 0);
  return 0;
}

// The rows of other tables that reference `row` of this table.
int32_t CheckReferencingRows(int32_t* base, int32_t usr, const int32_t* record, const uint8_t* row,
                             const std::vector<int32_t>* changed_marks) {
  const int32_t tcb = record[DUREC_OBJECT];
  for (int32_t f = W(base, F(tcb, TCB_FICB)); f != 0; f = W(base, f)) {
    const int32_t child = W(base, F(f, FICB_ICB));
    if (child != 0 && W(base, F(child, ICB_IXTYPE)) == IX_FOREIGN_KEY_SKIPPED) continue;
    if (changed_marks) {
      // An update checks only the references whose key it changes.
      const int32_t ref = W(base, F(f, FICB_REFCB));
      bool changes = false;
      int32_t k = 0;
      for (int32_t icb = W(base, F(tcb, TCB_ICB)); icb != 0; icb = W(base, icb), ++k)
        if (icb == ref) changes = (*changed_marks)[static_cast<size_t>(k)] != 0;
      if (ref == tcb) changes = (*changed_marks).back() != 0;
      if (!changes) continue;
    }
    if (int32_t rc = du::CheckChildren(base, usr, f, record, row); rc != 0) return rc;
  }
  return 0;
}

int32_t Delete(int32_t* base, int32_t* record, int32_t usr) {
  if (int32_t rc = Preamble(base, record, usr); rc != 0) return rc;
  std::vector<uint8_t> row;
  const int32_t found = CurrentRow(base, usr, record, &row);
  if (found <= 0) return found;  // deleted before (or never there): nothing to do
  if (int32_t rc = CheckReferencingRows(base, usr, record, row.data(), nullptr); rc != 0) return rc;
  Block current = WithRow(record, row.data());
  if (record[DUREC_MERGE] > 0) {
    const int32_t origin = record[DUREC_FETCH_CODE] % 50;
    if (int32_t rc = du::AppendEntry(base, usr, current.data(), du::ENTRY_DELETE,
                                     QueueRecordWords(record[DUREC_RECLEN]), origin);
        rc != 0)
      return rc;
  } else {
    const int32_t st = Direct(DK_DEL1, current.data());
    if (st < 0) return st;
  }
  if (int32_t rc = ChangeAllIndexes(base, usr, record, row.data(), du::ENTRY_DELETE, 0); rc != 0)
    return rc;
  du::LobColumnsDeleted(base, usr, record, row.data());
  return 0;
}

// For each index in chain order, followed by one mark for the table key: 0
// unchanged, 1 a part changed, 2 only a part of kind 2 changed.
std::vector<int32_t> CompareIndexKeys(int32_t* base, const int32_t* record, const uint8_t* now,
                                      const uint8_t* before) {
  std::vector<int32_t> marks;
  const int32_t tcb = record[DUREC_OBJECT];
  for (int32_t icb = W(base, F(tcb, TCB_ICB)); icb != 0; icb = W(base, icb)) {
    int32_t mark = 0;
    for (const du::KeyPart& p : du::KeyParts(base, icb, record[DUREC_RECLEN])) {
      if (p.kind == 1) continue;
      if (std::memcmp(now + p.offset, before + p.offset, static_cast<size_t>(p.length)) != 0) {
        mark = p.kind == 2 ? 2 : 1;
        break;
      }
    }
    marks.push_back(mark);
  }
  marks.push_back(std::memcmp(now, before, static_cast<size_t>(record[DUREC_KEYLEN])) != 0 ? 1 : 0);
  return marks;
}

int32_t UpdateSameKey(int32_t* base, int32_t usr, int32_t* record, const uint8_t* before,
                      const std::vector<int32_t>& marks, int32_t origin) {
  const bool merge = record[DUREC_MERGE] > 0;
  const bool from_write_set = origin >= 3 && origin <= 6;
  const uint8_t* now = Row(record);
  const int32_t tcb = record[DUREC_OBJECT];
  size_t k = 0;
  for (int32_t icb = W(base, F(tcb, TCB_ICB)); icb != 0; icb = W(base, icb), ++k) {
    int32_t rc = 0;
    if (marks[k] == 2) {
      if (!from_write_set)
        rc = ChangeIndexEntry(base, usr, icb, record, before, du::ENTRY_BEFORE_IMAGE, 0);
      if (rc == 0) rc = ChangeIndexEntry(base, usr, icb, record, now, du::ENTRY_NEW_IMAGE, 0);
    } else if (marks[k] == 1) {
      rc = ChangeIndexEntry(base, usr, icb, record, now, du::ENTRY_INSERT, 0);
    }
    if (rc != 0) return rc;
  }
  Block old = WithRow(record, before);
  if (merge) {
    const int32_t words = QueueRecordWords(record[DUREC_RECLEN]);
    if (!from_write_set)
      if (int32_t rc = du::AppendEntry(base, usr, old.data(), du::ENTRY_BEFORE_IMAGE, words, 0);
          rc != 0)
        return rc;
    if (int32_t rc = du::AppendEntry(base, usr, record, du::ENTRY_NEW_IMAGE, words, origin);
        rc != 0)
      return rc;
  } else {
    const int32_t st = Direct(DK_PFU1, old.data());
    if (st < 0) return st;
    record[DUREC_HANDLE] = old[DUREC_HANDLE];
    record[DUREC_STATUS] = 0;
    DUKernel(DK_UPD1, record + DUREC_STATUS);
    if (record[DUREC_STATUS] < 0) return KernelStatus(record[DUREC_STATUS]);
  }
  k = 0;
  for (int32_t icb = W(base, F(tcb, TCB_ICB)); icb != 0; icb = W(base, icb), ++k)
    if (marks[k] == 1)
      if (int32_t rc = ChangeIndexEntry(base, usr, icb, record, before, du::ENTRY_DELETE, 0);
          rc != 0)
        return rc;
  return 0;
}

int32_t UpdateNewKey(int32_t* base, int32_t usr, int32_t* record, const uint8_t* before,
                     int32_t origin) {
  const int32_t tcb = record[DUREC_OBJECT];
  const int32_t visible = du::KeyVisible(base, usr, record);
  if (visible < 0) return visible;
  if (visible == 1) {
    du::SetCurrent(base, usr, W(base, F(tcb, TCB_TNAME)), W(base, F(tcb, TCB_CONSTRAINT_SYSID)));
    return du::DU_DUPLICATE_KEY;
  }
  const bool merge = record[DUREC_MERGE] > 0;
  const int32_t words = QueueRecordWords(record[DUREC_RECLEN]);
  if (merge) {
    if (int32_t rc = du::AppendEntry(base, usr, record, du::ENTRY_INSERT, words, 0); rc != 0)
      return rc;
  } else {
    const int32_t st = Direct(DK_INS1, record);
    if (st != 0) return st > 0 ? du::DU_DUPLICATE_KEY : st;
  }
  if (int32_t rc = ChangeAllIndexes(base, usr, record, Row(record), du::ENTRY_INSERT, 0); rc != 0)
    return rc;
  Block old = WithRow(record, before);
  if (merge) {
    if (int32_t rc = du::AppendEntry(base, usr, old.data(), du::ENTRY_DELETE, words, origin);
        rc != 0)
      return rc;
  } else {
    const int32_t st = Direct(DK_DEL1, old.data());
    if (st < 0) return st;
  }
  return ChangeAllIndexes(base, usr, record, before, du::ENTRY_DELETE, 0);
}

int32_t Update(int32_t* base, int32_t* record, int32_t usr) {
  const int32_t raw = record[DUREC_FETCH_CODE];
  const int32_t c = raw < 0 ? -raw : raw;
  const int32_t marker = record[DUREC_STATUS];
  if (c < 50 || c > 400) return DU_BAD_ROW_OPERATION;
  if (c >= 250) return 0;  // the transaction deleted the row
  const int32_t origin = c % 50;
  record[DUREC_FETCH_CODE] = origin;
  if (int32_t rc = Preamble(base, record, usr); rc != 0) return rc;
  const int32_t pfu = W(base, F(usr, USR_PFUREC));
  if (pfu == 0) return DU_BAD_ARGUMENT;  // no before image
  const int32_t tcb = record[DUREC_OBJECT];
  const size_t keylen = static_cast<size_t>(record[DUREC_KEYLEN]);
  const size_t reclen = static_cast<size_t>(record[DUREC_RECLEN]);
  const std::vector<uint8_t> before(
      reinterpret_cast<uint8_t*>(&W(base, F(pfu, DUREC_RECORD))),
      reinterpret_cast<uint8_t*>(&W(base, F(pfu, DUREC_RECORD))) + reclen);
  const uint8_t* now = Row(record);
  const bool key_changed =
      record[DUREC_TNAME] != DU_WORK_TABLE && std::memcmp(now, before.data(), keylen) != 0;
  const int32_t tp = W(base, F(usr, USR_TP));
  if (key_changed) {
    if (marker == kKeyChangeForbidden) return -18042;
    if (W(base, F(tcb, TCB_IXTYPE)) == TCB_GENERATED_KEY) return -18043;
    if (tp == 0 || W(base, F(tp, TP_TRANSACTION_STATE)) == 0) return -18041;
  } else if (record[DUREC_MERGE] > 0 && std::memcmp(now, before.data(), reclen) == 0) {
    return 0;  // nothing changed: no request
  }
  const std::vector<int32_t> marks = CompareIndexKeys(base, record, now, before.data());
  size_t k = 0;
  for (int32_t icb = W(base, F(tcb, TCB_ICB)); icb != 0; icb = W(base, icb), ++k) {
    if (marks[k] != 1) continue;
    int32_t rc = 0;
    if (IsForeignKey(base, icb)) rc = du::CheckParent(base, usr, icb, record, now);
    if (rc == 0 && IsUnique(base, icb)) rc = du::CheckUnique(base, usr, icb, record, now);
    if (rc != 0) return rc;
  }
  if (int32_t rc = CheckReferencingRows(base, usr, record, before.data(), &marks); rc != 0)
    return rc;
  if (!key_changed) {
    const int32_t rc = UpdateSameKey(base, usr, record, before.data(), marks, origin);
    return rc != 0 ? rc : du::LobColumnsUpdated(base, usr, record, now, before.data());
  }
  const int32_t cha = W(base, F(usr, USR_CHA));
  if (cha != 0 && du::BlockInside(base, cha, CHA_WORDS))
    W(base, F(usr, USR_REQNO_FOR_LAST_PKUPD)) = W(base, F(cha, CHA_REQNO));
  int32_t rc = UpdateNewKey(base, usr, record, before.data(), origin);
  if (rc == 0) rc = du::LobColumnsUpdated(base, usr, record, now, before.data());
  // The scan goes on from the old position.
  if (rc == 0) std::memcpy(Row(record), before.data(), keylen);
  return rc;
}

}  // namespace

int32_t du::InsertIndexEntry(int32_t* base, int32_t usr, int32_t icb, const int32_t* record,
                             const uint8_t* row) {
  return ChangeIndexEntry(base, usr, icb, record, row, du::ENTRY_INSERT, 0);
}

void DUInsertRow(int32_t* base, int32_t* record, int32_t usr) {
  if (DULoadingTable(base, usr, record)) return DUInsertLoad(base, record, usr);
  record[DUREC_STATUS] = Insert(base, record, usr);
}

void DUInsertIndex(int32_t* base, int32_t* record, int32_t usr) {
  record[DUREC_STATUS] = Insert(base, record, usr, true);
}

void DUDEL1(int32_t* base, int32_t* record, int32_t usr) {
  record[DUREC_STATUS] = Delete(base, record, usr);
}

void DURowOp1(int32_t* base, int32_t* record, int32_t usr) {
  record[DUREC_STATUS] = Update(base, record, usr);
}

namespace {

// Deletes every row of the table through the fetch; the rows deleted or a
// failure.
int32_t DeleteEvery(int32_t* base, int32_t* record, int32_t usr, int32_t work) {
  Block scan;
  scan.words.assign(record, record + DurecWords(record[DUREC_RECLEN]));
  std::memset(scan.row(), 0, static_cast<size_t>(record[DUREC_KEYLEN]));
  scan[DUREC_FETCH_CODE] = 1;
  scan[DUREC_STATUS] = 1;
  int32_t count = 0;
  for (;;) {
    DUFetchRow(base, scan.data(), usr, work);
    if (scan[DUREC_STATUS] == DU_NO_ROW) return count;
    if (scan[DUREC_STATUS] != 0) return scan[DUREC_STATUS];
    Block victim = scan;
    DUDEL1(base, victim.data(), usr);
    if (victim[DUREC_STATUS] != 0) return victim[DUREC_STATUS];
    ++count;
    scan[DUREC_STATUS] = 0;
  }
}

}  // namespace

void DUDeleteAll(int32_t* base, int32_t* record, int32_t usr, int32_t work) {
  const int32_t n = DeleteEvery(base, record, usr, work);
  record[DUREC_STATUS] = n < 0 ? n : n > 0 ? 0 : DU_NO_ROW;
}

void DUDropRows(int32_t* base, int32_t* record, int32_t usr, int32_t work) {
  if (record[DUREC_MERGE] > 0) {
    const int32_t n = DeleteEvery(base, record, usr, work);
    record[DUREC_STATUS] = n < 0 ? n : 0;
    return;
  }
  if (record[DUREC_FETCH_CODE] == DU_LOAD_OPEN || record[DUREC_FETCH_CODE] == DU_LOAD_MERGED)
    DUEndLoad(base, record);
  int32_t st = Direct(DK_DRP1, record);
  for (int32_t icb = W(base, F(record[DUREC_OBJECT], TCB_ICB)); st >= 0 && icb != 0;
       icb = W(base, icb)) {
    Block b;
    if (!du::IndexBlock(base, icb, record, nullptr, &b)) {
      st = DU_BAD_ARGUMENT;
      break;
    }
    st = Direct(DK_DRP1, b.data());
  }
  record[DUREC_STATUS] = st < 0 ? st : 0;
}
