// What a row change checks and builds besides the row: index keys from a
// row, the write-set append of an entry, the key lookups as the transaction
// sees them, and the unique-index and foreign-key checks in both
// directions, put off into the check set under SET_MARK_FLAG.
#include <algorithm>
#include <cstring>

#include "du/collation.h"
#include "du/kernel_requests.h"
#include "du/record_operations.h"
#include "du/row_change_internal.h"
#include "du/transactions.h"
#include "du/upper_services.h"

namespace du {
namespace {

constexpr int32_t kMaxParts = 64;

bool Merged(int32_t* base, int32_t tcb) {
  const int32_t trans = W(base, int64_t{tcb} + TCB_TRANS_MODE);
  return trans == 2 || trans == 3;
}

}  // namespace

std::vector<KeyPart> KeyParts(int32_t* base, int32_t icb, int32_t reclen, bool stop_at_kind2) {
  std::vector<KeyPart> parts;
  const int32_t words = W(base, int64_t{icb} + ICB_XD);
  // A trailing part (kind 2) lies in the entry behind the key.
  const int32_t entry =
      std::max(W(base, int64_t{icb} + ICB_KEYLEN), W(base, int64_t{icb} + ICB_RECLEN));
  int32_t total = 0;
  for (int32_t k = 1; k + 2 < words && static_cast<int32_t>(parts.size()) < kMaxParts; k += 3) {
    const KeyPart p{W(base, int64_t{icb} + ICB_XD + k), W(base, int64_t{icb} + ICB_XD + k + 1),
                    W(base, int64_t{icb} + ICB_XD + k + 2)};
    if (p.offset < 0 || (stop_at_kind2 && p.kind == 2)) break;
    if (p.length < 1 || p.offset > reclen - p.length || total > entry - p.length) return {};
    total += p.length;
    parts.push_back(p);
  }
  return parts;
}

int32_t IndexPrefixLength(int32_t* base, int32_t icb) {
  const int32_t tcb = W(base, int64_t{icb} + ICB_TCB);
  return W(base, int64_t{icb} + ICB_KEYLEN) - W(base, int64_t{tcb} + TCB_KEYLEN);
}

bool IndexBlock(int32_t* base, int32_t icb, const int32_t* table_record, const uint8_t* row,
                Block* block, bool* null_part) {
  const int32_t keylen = W(base, int64_t{icb} + ICB_KEYLEN);
  const int32_t reclen = W(base, int64_t{icb} + ICB_RECLEN);
  const int32_t tcb = W(base, int64_t{icb} + ICB_TCB);
  if (keylen < 1 || reclen < keylen || reclen > KernelRecordBytes()) return false;
  block->words.assign(static_cast<size_t>(DurecWords(reclen) + 4), 0);
  Block& b = *block;
  for (int32_t k = 0; k < 6; ++k) b[DUREC_LID + k] = W(base, int64_t{icb} + ICB_LID + k);
  b[DUREC_OBJECT] = icb;
  b[DUREC_TYPE] = W(base, int64_t{icb} + ICB_TYPE);
  b[DUREC_MERGE] = table_record && W(base, int64_t{icb} + ICB_TCB) == table_record[DUREC_OBJECT]
                       ? table_record[DUREC_MERGE]
                       : (Merged(base, tcb) ? 2 : 0);
  if (null_part) *null_part = false;
  if (!row) return true;
  const std::vector<KeyPart> parts = KeyParts(base, icb, W(base, int64_t{tcb} + TCB_RECLEN));
  if (parts.empty()) return false;
  int32_t at = 0;
  for (const KeyPart& p : parts) {
    uint8_t* out = b.row() + at;
    const int32_t magnitude = p.kind < 0 ? -p.kind : p.kind;
    if (null_part && p.kind != 1 && row[p.offset] == 255) *null_part = true;
    if (magnitude >= 3) {
      int32_t status = 0, length = 0, cache = 0;
      XLConvertValue(base, &status, p.kind, &cache, ByteSpan(out, static_cast<size_t>(p.length)), 0,
                     &length, p.length,
                     ConstByteSpan(row + p.offset, static_cast<size_t>(p.length)), 0, p.length);
      if (status < 0) return false;
    } else {
      std::memcpy(out, row + p.offset, static_cast<size_t>(p.length));
      if (p.kind < 0)
        for (int32_t i = 0; i < p.length; ++i) out[i] = static_cast<uint8_t>(out[i] ^ 255);
    }
    at += p.length;
  }
  return true;
}

int32_t AppendEntry(int32_t* base, int32_t usr, int32_t* block, int32_t kind, int32_t queue_words,
                    int32_t origin) {
  const int32_t tp = W(base, int64_t{usr} + USR_TP);
  const int32_t kept[] = {block[DUREC_MERGE],     block[DUREC_REQUEST_WORDS],
                          block[DUREC_QUEUE + 5], block[DUREC_QUEUE + 6],
                          block[DUREC_WS_PAGE],   block[DUREC_WS_POSITION]};
  for (int32_t k = 0; k < 7; ++k) block[DUREC_QUEUE + k] = W(base, int64_t{tp} + TP_WS_QBLKSIZ + k);
  block[DUREC_TSS] = W(base, int64_t{tp} + TP_TSS);
  block[DUREC_TRANSACTION_NUMBER] = W(base, int64_t{tp} + TP_TRANSACTION_NUMBER);
  block[DUREC_CURSOR_ORDER] = W(base, int64_t{usr} + USR_CURSOR_ORDER_NUMBER);
  block[DUREC_REQUEST_WORDS] = queue_words;
  block[DUREC_STATUS] = kind;
  int32_t rc = 0;
  if (origin >= 3 && origin <= 6) {
    // The kernel folds the change into the row's earlier one in this
    // transaction, whose record it marks superseded, and answers the kind
    // to write in word 19: an insert changed again stays an insert. Written
    // as asked instead, an update followed the insert it had superseded and
    // the row was gone once the commit was applied. An insert deleted again
    // (the marker kind) is still written as a delete: the transaction's
    // reads take it as the row gone, and the commit leaves no row.
    block[DUREC_APPEND_STATUS] = 0;
    DUKernel(DK_AFC1, block + DUREC_APPEND_STATUS);
    if (block[DUREC_APPEND_STATUS] < 0) rc = block[DUREC_APPEND_STATUS];
    const int32_t folded = block[DUREC_STATUS];
    if (block[DUREC_APPEND_STATUS] == 0 && folded >= ENTRY_INSERT && folded <= ENTRY_DELETE)
      kind = folded;
  }
  if (rc == 0) {
    block[DUREC_APPEND_STATUS] = 0;
    block[DUREC_STATUS] = kind;
    DUKernel(DK_APS1, block + DUREC_APPEND_STATUS);
    if (block[DUREC_APPEND_STATUS] < 0) rc = block[DUREC_APPEND_STATUS];
  }
  if (rc == 0) {
    W(base, int64_t{tp} + TP_WS_QPAGE) = block[DUREC_QUEUE + 5];
    W(base, int64_t{tp} + TP_WS_QPOS) = block[DUREC_QUEUE + 6];
    block[DUREC_WS_PAGE] = block[DUREC_QUEUE + 5];
    block[DUREC_WS_POSITION] = block[DUREC_QUEUE + 6];
    block[DUREC_STATUS] = kind;
    DUKernel(DK_INT1, block + DUREC_REQUEST);
    if (block[DUREC_STATUS] < 0) rc = block[DUREC_STATUS];
  }
  block[DUREC_MERGE] = kept[0];
  block[DUREC_REQUEST_WORDS] = kept[1];
  block[DUREC_QUEUE + 5] = kept[2];
  block[DUREC_QUEUE + 6] = kept[3];
  block[DUREC_WS_PAGE] = kept[4];
  block[DUREC_WS_POSITION] = kept[5];
  if (rc < 0) {
    W(base, int64_t{tp} + TP_TRANSACTION_STATE) = 2;
    return KernelStatus(rc);
  }
  return 0;
}

int32_t KeyVisible(int32_t* base, int32_t usr, const int32_t* block) {
  Block probe;
  probe.words.assign(block, block + DurecWords(block[DUREC_RECLEN]));
  DUReadRowByKey(base, probe.data(), usr);
  const int32_t status = probe[DUREC_STATUS];
  return status == 0 ? 1 : status == DU_NO_ROW ? 0 : status;
}

int32_t PrefixEntries(int32_t* base, int32_t usr, const Block& index_block, int32_t prefix,
                      const uint8_t* own, int32_t enough) {
  Block scan = index_block;
  const int32_t keylen = scan[DUREC_KEYLEN];
  if (prefix < 1 || prefix > keylen) return DU_BAD_ARGUMENT;
  std::memset(scan.row() + prefix, 0, static_cast<size_t>(keylen - prefix));
  int32_t work = 0;
  DSGetMem(base, &work, WRK_BYTES + KernelRecordBytes());
  if (work == 0) return DU_NO_STORAGE;
  const int32_t suffix = keylen - prefix;
  int32_t found = 0;
  scan[DUREC_FETCH_CODE] = 15;
  scan[DUREC_STATUS] = 1;
  for (int32_t n = 0; n < 1000000 && found < enough; ++n) {
    DUFetchRow(base, scan.data(), usr, work);
    const int32_t status = scan[DUREC_STATUS];
    if (status != 0) {
      if (status != DU_NO_ROW) found = status;
      break;
    }
    if (own == nullptr || std::memcmp(scan.row() + prefix, own, static_cast<size_t>(suffix)) != 0)
      ++found;
    scan[DUREC_STATUS] = 0;
  }
  FreeBlock(base, work);
  return found;
}

int32_t PrefixFound(int32_t* base, int32_t usr, const Block& index_block, int32_t prefix,
                    const uint8_t* own) {
  return PrefixEntries(base, usr, index_block, prefix, own, 1);
}

int32_t ParentFound(int32_t* base, int32_t usr, int32_t icb, const uint8_t* value,
                    int32_t value_length) {
  const int32_t ref = W(base, int64_t{icb} + ICB_REFCB);
  // A reference that is not paired cannot be checked: refused, not passed.
  if (W(base, int64_t{icb} + ICB_FK_OPEN_STATUS) < 2 || ref == 0) return DU_BAD_ARGUMENT;
  Block parent;
  if (W(base, int64_t{ref} + ICB_IXTYPE) < 3) {
    // The parent's key.
    if (W(base, int64_t{ref} + TCB_KEYLEN) != value_length) return DU_BAD_ARGUMENT;
    parent.words.assign(static_cast<size_t>(DurecWords(W(base, int64_t{ref} + TCB_RECLEN)) + 4), 0);
    for (int32_t k = 0; k < 6; ++k) parent[DUREC_LID + k] = W(base, int64_t{ref} + TCB_LID + k);
    parent[DUREC_OBJECT] = ref;
    parent[DUREC_MERGE] = Merged(base, ref) ? 2 : 0;
    std::memcpy(parent.row(), value, static_cast<size_t>(value_length));
    return KeyVisible(base, usr, parent.data());
  }
  if (!IndexBlock(base, ref, nullptr, nullptr, &parent)) return DU_BAD_ARGUMENT;
  if (IndexPrefixLength(base, ref) != value_length) return DU_BAD_ARGUMENT;
  std::memcpy(parent.row(), value, static_cast<size_t>(value_length));
  return PrefixFound(base, usr, parent, value_length, nullptr);
}

void SetCurrent(int32_t* base, int32_t usr, int32_t table, int32_t constraint) {
  W(base, int64_t{usr} + USR_CURRENT_TABLE_SYSID) = table;
  W(base, int64_t{usr} + USR_CURRENT_CONSTRAINT_SYSID) = constraint;
}

namespace {

// Puts a violation off into the check set: the block's key record with the
// table, the constraint, the prefix length and the index number after it.
int32_t Defer(int32_t* base, int32_t usr, Block& b, int32_t kind, int32_t table, int32_t constraint,
              int32_t prefix) {
  const int32_t keylen = b[DUREC_KEYLEN];
  int32_t* tail = b.data() + DUREC_RECORD + (keylen + 3) / 4;
  tail[0] = table;
  tail[1] = constraint;
  tail[2] = prefix;
  tail[3] = b[DUREC_TNAME];
  const int32_t tp = W(base, int64_t{usr} + USR_TP);
  b[DUREC_STATUS] = kind;
  b[DUREC_TRANSACTION_NUMBER] = tp ? W(base, int64_t{tp} + TP_TRANSACTION_NUMBER) : 0;
  b[DUREC_REQUEST_WORDS] = QueueRecordWords(keylen) + 4;
  DUAddCheckEntry(base, b.data(), usr);
  return b[DUREC_APPEND_STATUS];
}

bool DeferChecks(int32_t* base, int32_t usr) {
  return W(base, int64_t{usr} + USR_SET_MARK_FLAG) != 0 && W(base, int64_t{usr} + USR_LOADCB) == 0;
}

int32_t TableOf(int32_t* base, int32_t icb) {
  return W(base, int64_t{icb} + ICB_TCB);
}

}  // namespace

int32_t CheckUnique(int32_t* base, int32_t usr, int32_t icb, const int32_t* table_record,
                    const uint8_t* row) {
  Block b;
  bool null_part = false;
  if (!IndexBlock(base, icb, table_record, row, &b, &null_part)) return DU_BAD_ARGUMENT;
  if (null_part && W(base, int64_t{icb} + ICB_IXTYPE) == IX_UNIQUE_NULLS_FREE) return 0;
  const int32_t prefix = IndexPrefixLength(base, icb);
  const int32_t found = PrefixFound(base, usr, b, prefix, row);
  if (found <= 0) return found;
  const int32_t tcb = TableOf(base, icb);
  const int32_t table = W(base, int64_t{tcb} + TCB_TNAME);
  const int32_t constraint = W(base, int64_t{icb} + ICB_CONSTRAINT_SYSID);
  if (DeferChecks(base, usr)) return Defer(base, usr, b, -10, table, constraint, prefix);
  SetCurrent(base, usr, table, constraint);
  return DU_DUPLICATE_UNIQUE;
}

int32_t CheckParent(int32_t* base, int32_t usr, int32_t icb, const int32_t* table_record,
                    const uint8_t* row) {
  if (W(base, int64_t{icb} + ICB_FK_OPEN_STATUS) < 2 || W(base, int64_t{icb} + ICB_REFCB) == 0)
    return DU_BAD_ARGUMENT;
  Block child;
  bool null_part = false;
  if (!IndexBlock(base, icb, table_record, row, &child, &null_part)) return DU_BAD_ARGUMENT;
  if (null_part) return 0;
  const int32_t value_length = IndexPrefixLength(base, icb);
  const int32_t found = ParentFound(base, usr, icb, child.row(), value_length);
  if (found != 0) return found < 0 ? found : 0;
  const int32_t table = W(base, int64_t{TableOf(base, icb)} + TCB_TNAME);
  const int32_t constraint = W(base, int64_t{icb} + ICB_CONSTRAINT_SYSID);
  if (DeferChecks(base, usr)) return Defer(base, usr, child, -11, table, constraint, value_length);
  SetCurrent(base, usr, table, constraint);
  return DU_MISSING_PARENT;
}

int32_t CheckChildren(int32_t* base, int32_t usr, int32_t ficb, const int32_t* table_record,
                      const uint8_t* row) {
  const int32_t child_icb = W(base, int64_t{ficb} + FICB_ICB);
  if (W(base, int64_t{ficb} + FICB_FK_OPEN_STATUS) < 2 || child_icb == 0) return DU_BAD_ARGUMENT;
  const int32_t ref = W(base, int64_t{ficb} + FICB_REFCB);
  std::vector<uint8_t> value;
  if (W(base, int64_t{ref} + ICB_IXTYPE) < 3) {
    value.assign(row, row + W(base, int64_t{ref} + TCB_KEYLEN));
  } else {
    Block own;
    bool null_part = false;
    if (!IndexBlock(base, ref, table_record, row, &own, &null_part)) return DU_BAD_ARGUMENT;
    if (null_part) return 0;  // nothing references a null
    value.assign(own.row(), own.row() + IndexPrefixLength(base, ref));
  }
  Block child;
  if (!IndexBlock(base, child_icb, nullptr, nullptr, &child)) return DU_BAD_ARGUMENT;
  const int32_t prefix = IndexPrefixLength(base, child_icb);
  if (prefix != static_cast<int32_t>(value.size())) return DU_BAD_ARGUMENT;
  std::memcpy(child.row(), value.data(), value.size());
  const int32_t found = PrefixFound(base, usr, child, prefix, nullptr);
  if (found <= 0) return found;
  const int32_t tp = W(base, int64_t{usr} + USR_TP);
  if (tp != 0) ++W(base, int64_t{tp} + TP_TRANSACTION_READ_COUNT);
  const int32_t table = W(base, int64_t{TableOf(base, child_icb)} + TCB_TNAME);
  const int32_t constraint = W(base, int64_t{child_icb} + ICB_CONSTRAINT_SYSID);
  if (DeferChecks(base, usr)) return Defer(base, usr, child, -12, table, constraint, prefix);
  SetCurrent(base, usr, table, constraint);
  return DU_CHILDREN_EXIST;
}

}  // namespace du
