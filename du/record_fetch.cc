// Row fetches of a statement: the table's stored rows (DKFET1 / DKFEP1)
// merged with the entries the user's transaction wrote for the table in its
// write set (DKFNT1 / DKFPT1), so that the transaction sees its own inserts
// in key order, its updates in their new form and never its deletes; the
// exact-key read, the fetch of many rows, and the classification of the
// current row for an update (PFU, REF).
//
// Every fetch positions both streams afresh from the last key it delivered
// (the record block's key), so nothing is held between fetches that a
// change of the kernel's cached positions could make stale.
#include <algorithm>
#include <cstring>
#include <vector>

#include "dk/control_area.h"
#include "du/kernel_requests.h"
#include "du/record_access_words.h"
#include "du/record_operations.h"
#include "du/upper_services.h"

using du::W;

namespace {

int64_t F(int32_t block, int32_t field) {
  return int64_t{block} + field;
}

// The work entry's request: its word k is field WRK_REQUEST + k.
constexpr int32_t WRQ_ORDER = 3, WRQ_TSS = 5, WRQ_MODE = 6, WRQ_IDENTITY = 7, WRQ_LIMIT = 15,
                  WRQ_ROW = 16;
// The prefix length of a code-15 scan, kept in the work entry.
constexpr int32_t WRK_PREFIX = 4;

uint8_t* Row(int32_t* record) {
  return reinterpret_cast<uint8_t*>(record + DUREC_RECORD);
}

int32_t Tss(int32_t* base, int32_t usr) {
  const int32_t tp = W(base, F(usr, USR_TP));
  return tp == 0 ? 0 : W(base, F(tp, TP_TSS));
}

// The kernel delivers the transaction's own entries written under a cursor
// order number below the one asked with; outside view 2 every entry counts.
void SetVisibility(int32_t* base, int32_t* record, int32_t usr) {
  record[DUREC_CURSOR_ORDER] = W(base, F(usr, USR_TRANSACTION_VIEW)) == 2
                                   ? W(base, F(usr, USR_CURSOR_ORDER_NUMBER))
                                   : ALL_ENTRIES_VISIBLE;
}

// Lengths the request words and buffers can hold.
bool LengthsSound(const int32_t* record) {
  const int32_t k = record[DUREC_KEYLEN], r = record[DUREC_RECLEN];
  return k >= 1 && k <= r && r + 4 <= du::KernelRecordBytes();
}

// -1, 0, 1 as key a comes before, with or after key b in the scan's
// direction.
int32_t Order(const uint8_t* a, const uint8_t* b, int32_t keylen, bool forward) {
  const int c = std::memcmp(a, b, static_cast<size_t>(keylen));
  const int32_t s = c < 0 ? -1 : c > 0 ? 1 : 0;
  return forward ? s : -s;
}

// The prefix length is the word after the key's words, where the kernel's
// DKFNT1 reads it (for a key whose length is no multiple of 4 that is
// past the key's last byte).
void PutPrefix(uint8_t* buffer, int32_t keylen, int32_t prefix) {
  std::memcpy(buffer + (keylen + 3) / 4 * 4, &prefix, 4);
}

struct Scan {
  int32_t* base;
  int32_t* record;
  int32_t work;
  int32_t tss;
  bool forward;
  int32_t keylen, reclen;
  int32_t prefix;
};

// The table stream's next row from the key in the record buffer; the row
// lands in the buffer. 0 a row, positive none, negative a kernel code.
int32_t TableNext(const Scan& s, int32_t mode) {
  // The table cursor knows no prefix modes: it is positioned as 1 or -2,
  // and the prefix is kept here.
  s.record[DUREC_STATUS] = mode == 4 ? 1 : mode == -4 ? -2 : mode;
  DUKernel(s.forward ? DK_FET1 : DK_FEP1, s.record + DUREC_FETCH_REQUEST);
  return s.record[DUREC_STATUS];
}

// The write-set stream's next entry from `key`, into the work entry's
// buffer: 0 insert or update, 1 delete, 4 none, negative a kernel code.
int32_t WriteSetNext(const Scan& s, const uint8_t* key, int32_t mode) {
  int32_t* request = &W(s.base, F(s.work, WRK_REQUEST));
  for (int32_t k = 0; k < 9; ++k)
    request[WRQ_IDENTITY + k] = s.record[DUREC_TRANSACTION_NUMBER + k];
  request[0] = 0;
  request[4] = 0;
  request[WRQ_TSS] = s.tss;
  request[WRQ_MODE] = mode;
  uint8_t* buffer = reinterpret_cast<uint8_t*>(request + WRQ_ROW);
  std::memmove(buffer, key, static_cast<size_t>(s.keylen));
  if (s.prefix > 0) PutPrefix(buffer, s.keylen, s.prefix);
  DUKernel(s.forward ? DK_FNT1 : DK_FPT1, request);
  return request[WRQ_MODE];
}

int32_t Mapped(int32_t c) {
  return c + DU_KERNEL_OFFSET;
}

void Deliver(int32_t* record, int32_t code) {
  record[DUREC_FETCH_CODE] = code;
  record[DUREC_STATUS] = 0;
}

void End(int32_t* record, int32_t status, bool forward) {
  record[DUREC_FETCH_CODE] = forward ? -1 : -2;
  record[DUREC_STATUS] = status;
}

// The merge: at most one write-set entry skipped per deleted row.
void Merge(const Scan& s, int32_t mode, bool exact) {
  int32_t* record = s.record;
  const bool merge = record[DUREC_MERGE] > 0;
  const int32_t again = s.prefix > 0 ? -4 : -2;
  std::vector<uint8_t> key(Row(record), Row(record) + s.keylen);
  const std::vector<uint8_t> scope(key.begin(), key.begin() + std::min(s.prefix, s.keylen));
  // A row outside the prefix of a prefix scan ends that stream.
  // In the exact mode a row of another key is not the row asked for: the
  // kernel's exact positioning answers the next row of the key's leaf when
  // the key is absent.
  const std::vector<uint8_t> asked = key;
  auto in_scope = [&](const uint8_t* row) {
    if (exact) return std::memcmp(row, asked.data(), asked.size()) == 0;
    return scope.empty() || std::memcmp(row, scope.data(), scope.size()) == 0;
  };
  std::vector<uint8_t> table_row(static_cast<size_t>(s.reclen));
  for (;;) {
    std::memcpy(Row(record), key.data(), key.size());
    const int32_t ts = TableNext(s, mode);
    if (ts < 0) return End(record, Mapped(ts), s.forward);
    const bool have_table = ts == 0 && in_scope(Row(record));
    if (!merge) {
      if (!have_table) return End(record, DU_NO_ROW, s.forward);
      W(s.base, F(s.work, WRK_STATE)) = MERGE_WS_DONE;
      return Deliver(record, s.forward ? 13 : 14);
    }
    if (have_table) std::memcpy(table_row.data(), Row(record), table_row.size());
    const int32_t ws = WriteSetNext(s, key.data(), mode);
    if (ws < 0) return End(record, Mapped(ws), s.forward);
    const uint8_t* entry =
        reinterpret_cast<const uint8_t*>(&W(s.base, F(s.work, WRK_REQUEST + WRQ_ROW)));
    const bool have_entry = (ws == 0 || ws == 1) && in_scope(entry);
    if (!have_table && !have_entry) {
      W(s.base, F(s.work, WRK_STATE)) = MERGE_FRESH;
      return End(record, DU_NO_ROW, s.forward);
    }
    if (have_table && (!have_entry || Order(table_row.data(), entry, s.keylen, s.forward) < 0)) {
      std::memcpy(Row(record), table_row.data(), table_row.size());
      W(s.base, F(s.work, WRK_STATE)) = have_entry ? MERGE_TABLE_LED : MERGE_WS_DONE;
      return Deliver(record, have_entry ? (s.forward ? 11 : 12) : (s.forward ? 13 : 14));
    }
    if (ws == 1) {
      // A row the transaction deleted: never delivered.
      if (exact) {
        W(s.base, F(s.work, WRK_STATE)) = MERGE_FRESH;
        return End(record, DU_NO_ROW, s.forward);
      }
      key.assign(entry, entry + s.keylen);
      mode = again;
      continue;
    }
    std::memcpy(Row(record), entry, static_cast<size_t>(s.reclen));
    const int32_t order = W(s.base, F(s.work, WRK_REQUEST + WRQ_ORDER));
    record[DUREC_ENTRY_ORDER] = order;
    W(s.base, F(s.work, WRK_STATE)) = have_table ? MERGE_PARKED : MERGE_TABLE_DONE;
    const int32_t code = order != 0 ? (have_table ? 3 : 5) : (have_table ? 7 : 9);
    return Deliver(record, s.forward ? code : code + 1);
  }
}

}  // namespace

int32_t DSGetKernelSetting(int32_t selector) {
  int32_t w = selector;
  DKGetSetting(&w);
  return w;
}

void DUFetchRow(int32_t* base, int32_t* record, int32_t usr, int32_t work) {
  int32_t c = record[DUREC_FETCH_CODE];
  if (c < 0) {
    c = -c;
    record[DUREC_FETCH_CODE] = c;
    W(base, F(work, WRK_SCAN_MODE)) = 2;
  }
  if (c >= 50) {
    c -= 50;
    record[DUREC_FETCH_CODE] = c;
  }
  const int32_t m = record[DUREC_STATUS];
  if (c < 1 || c > 15) {
    record[DUREC_STATUS] = DU_BAD_FETCH_CODE;
    return;
  }
  if (!LengthsSound(record) || work == 0) {
    record[DUREC_STATUS] = DU_BAD_ARGUMENT;
    return;
  }
  SetVisibility(base, record, usr);
  const bool start = c == 1 || c == 2 || c == 15;
  int32_t& scan_mode = W(base, F(work, WRK_SCAN_MODE));
  W(base, F(work, WRK_OBJECT)) = record[DUREC_OBJECT];
  if (start) {
    W(base, F(work, WRK_STATE)) = MERGE_FRESH;
    if (scan_mode == 0) scan_mode = 1;
    int32_t prefix = 0;
    if (c == 15) {
      const int32_t icb = record[DUREC_OBJECT];
      const int32_t tcb = du::BlockInside(base, icb, ICB_WORDS) ? W(base, F(icb, ICB_TCB)) : 0;
      if (tcb == 0 || !du::BlockInside(base, tcb, TCB_WORDS)) {
        record[DUREC_STATUS] = DU_BAD_ARGUMENT;
        return;
      }
      prefix = record[DUREC_KEYLEN] - W(base, F(tcb, TCB_KEYLEN));
      if (prefix < 1) prefix = record[DUREC_KEYLEN];
    }
    W(base, F(work, WRK_PREFIX)) = prefix;
  } else if (scan_mode == 0) {
    scan_mode = 2;
  }
  const Scan s{base,
               record,
               work,
               Tss(base, usr),
               c % 2 == 1,
               record[DUREC_KEYLEN],
               record[DUREC_RECLEN],
               W(base, F(work, WRK_PREFIX))};
  int32_t mode = m != 0 ? m : (start ? 1 : -2);
  if (s.prefix > 0 && (mode == 1 || mode == -2)) mode = mode == 1 ? 4 : -4;
  Merge(s, mode, m == 2);
}

void DUGetRow(int32_t* base, int32_t* record, int32_t usr, int32_t work) {
  DUFetchRow(base, record, usr, work);
}

void DUGetPrevRow(int32_t* base, int32_t* record, int32_t usr, int32_t work) {
  DUFetchRow(base, record, usr, work);
}

void DUReadRowByKey(int32_t* base, int32_t* record, int32_t usr) {
  if (!LengthsSound(record)) {
    record[DUREC_STATUS] = DU_BAD_ARGUMENT;
    return;
  }
  SetVisibility(base, record, usr);
  const size_t keylen = static_cast<size_t>(record[DUREC_KEYLEN]);
  const size_t reclen = static_cast<size_t>(record[DUREC_RECLEN]);
  std::vector<uint8_t> key(Row(record), Row(record) + keylen);
  record[DUREC_STATUS] = 2;
  DUKernel(DK_FET1, record + DUREC_FETCH_REQUEST);
  int32_t ts = record[DUREC_STATUS];
  // A positioning mode that answers the next row when the key is absent
  // must not pass that row off as the one asked for.
  if (ts == 0 && std::memcmp(Row(record), key.data(), keylen) != 0) ts = 4;
  const bool merge = record[DUREC_MERGE] > 0;
  if (ts < 0 || (ts > 0 && !merge)) {
    record[DUREC_FETCH_CODE] = -1;
    record[DUREC_STATUS] = ts < 0 ? Mapped(ts) : DU_NO_ROW;
    return;
  }
  record[DUREC_FETCH_CODE] = 11;
  if (merge) {
    std::vector<uint8_t> table_row(Row(record), Row(record) + reclen);
    std::memcpy(Row(record), key.data(), keylen);
    record[DUREC_TSS] = Tss(base, usr);
    record[DUREC_STATUS] = 2;
    DUKernel(DK_FNT1, record + DUREC_REQUEST);
    const int32_t ws = record[DUREC_STATUS];
    if (ws < 0) {
      record[DUREC_FETCH_CODE] = -1;
      record[DUREC_STATUS] = Mapped(ws);
      return;
    }
    if (ws == 1 || (ws != 0 && ts != 0)) {
      // Deleted by the transaction, or in neither stream.
      record[DUREC_FETCH_CODE] = -1;
      record[DUREC_STATUS] = DU_NO_ROW;
      return;
    }
    if (ws == 0)
      record[DUREC_FETCH_CODE] = record[DUREC_ENTRY_ORDER] > 0 ? 3 : 7;
    else
      std::memcpy(Row(record), table_row.data(), reclen);
  }
  record[DUREC_STATUS] = 0;
}

void DUFetchMany(int32_t* base, int32_t* record) {
  (void)base;
  record[DUREC_STATUS] = -2;
  DUKernel(30, record + DUREC_REQUEST);
  if (record[DUREC_STATUS] < 0) record[DUREC_STATUS] = Mapped(record[DUREC_STATUS]);
}

namespace {

constexpr int32_t kPfuClearedBytes = 116;

// The user's before-image area, laid out as a record block; 0 when none can
// be had.
int32_t PfuRecord(int32_t* base, int32_t usr) {
  int32_t p = W(base, F(usr, USR_PFUREC));
  if (p == 0) {
    DSGetMemRaw(base, &p, du::KernelRecordBytes() + kPfuClearedBytes);
    if (p == 0) return 0;
    std::memset(&W(base, p), 0, kPfuClearedBytes);
    W(base, F(usr, USR_PFUREC)) = p;
  }
  return p;
}

bool PrimaryKeyChangedInThisRequest(int32_t* base, int32_t usr) {
  const int32_t cha = W(base, F(usr, USR_CHA));
  return cha != 0 && du::BlockInside(base, cha, CHA_WORDS) &&
         W(base, F(usr, USR_REQNO_FOR_LAST_PKUPD)) == W(base, F(cha, CHA_REQNO));
}

}  // namespace

void DUPrepareForUpdate(int32_t* base, int32_t* record, int32_t usr) {
  const int32_t entry = record[DUREC_FETCH_CODE];
  int32_t c = entry < 0 ? -entry : entry;
  if (c > 50) c %= 50;
  if (!LengthsSound(record)) {
    record[DUREC_STATUS] = DU_BAD_ARGUMENT;
    return;
  }
  const int32_t p = PfuRecord(base, usr);
  if (p == 0) {
    record[DUREC_STATUS] = DU_NO_STORAGE;
    return;
  }
  int32_t* pfu = &W(base, p);
  const size_t reclen = static_cast<size_t>(record[DUREC_RECLEN]);
  bool found = false;
  const int32_t tss = Tss(base, usr);
  if ((tss != 0 && W(base, F(usr, USR_TRANSACTION_VIEW)) == 3) ||
      PrimaryKeyChangedInThisRequest(base, usr)) {
    for (int32_t k = DUREC_TRANSACTION_NUMBER; k <= DUREC_CURSOR_ORDER; ++k) pfu[k] = record[k];
    pfu[DUREC_TSS] = tss;
    pfu[DUREC_CURSOR_ORDER] = ALL_ENTRIES_VISIBLE;
    pfu[DUREC_STATUS] = 2;
    std::memcpy(Row(pfu), Row(record), static_cast<size_t>(record[DUREC_KEYLEN]));
    DUKernel(DK_FNT1, pfu + DUREC_REQUEST);
    const int32_t ws = pfu[DUREC_STATUS];
    if (ws < 0) {
      record[DUREC_STATUS] = Mapped(ws);
      return;
    }
    const int32_t order = pfu[DUREC_ENTRY_ORDER];
    if (ws == 0 && order != 0) {
      found = true;
      c = (entry % 2 != 0 ? 3 : 4) + (order == W(base, F(usr, USR_CURSOR_ORDER_NUMBER)) ? 100 : 0);
    } else if (ws == 1 && order != 0) {
      found = true;
      c += 200;
    }
  }
  if (!found) std::memcpy(Row(pfu), Row(record), reclen);
  record[DUREC_FETCH_CODE] = entry < 0 ? -(c + 50) : c + 50;
  record[DUREC_STATUS] = 0;
}

void DURefresh(int32_t* base, int32_t* record, int32_t usr) {
  const int32_t entry = record[DUREC_FETCH_CODE];
  int32_t c = entry < 0 ? -entry : entry;
  const int32_t tss = Tss(base, usr);
  if (tss != 0 && (record[DUREC_CURSOR_ORDER] < W(base, F(usr, USR_CURSOR_ORDER_NUMBER)) ||
                   PrimaryKeyChangedInThisRequest(base, usr))) {
    if (!LengthsSound(record)) {
      record[DUREC_STATUS] = DU_BAD_ARGUMENT;
      return;
    }
    record[DUREC_TSS] = tss;
    record[DUREC_CURSOR_ORDER] = ALL_ENTRIES_VISIBLE;
    record[DUREC_STATUS] = 2;
    DUKernel(DK_FNT1, record + DUREC_REQUEST);
    const int32_t ws = record[DUREC_STATUS];
    if (ws < 0) {
      record[DUREC_STATUS] = Mapped(ws);
      return;
    }
    if (ws == 0)
      c = (c % 2 != 0 ? 3 : 4) + (record[DUREC_ENTRY_ORDER] > 0 ? 0 : 4);
    else if (ws != 4)
      c = -16135;
    if (c == -16135) {
      record[DUREC_STATUS] = c;
      return;
    }
  }
  record[DUREC_FETCH_CODE] = entry < 0 ? -c : c;
  record[DUREC_STATUS] = 0;
}
