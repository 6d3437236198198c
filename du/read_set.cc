// The read-set records of a statement run: the key of a row the program
// locks (LSR) and the key prefix of a scan it flushes (WFR), appended to the
// transaction's read set, where the commit validation finds them.
#include <cstring>
#include <vector>

#include "du/kernel_requests.h"
#include "du/pool_words.h"
#include "du/record_access_words.h"
#include "du/record_operations.h"
#include "du/transactions.h"
#include "du/upper_services.h"

using du::W;

namespace {

int64_t F(int32_t block, int32_t field) {
  return int64_t{block} + field;
}

// The open transaction of a table with write-set merge, or 0.
int32_t OpenTp(int32_t* base, const int32_t* record, int32_t usr) {
  const int32_t tp = W(base, F(usr, USR_TP));
  if (tp == 0 || W(base, F(tp, TP_TRANSACTION_STATE)) != 1 || record[DUREC_MERGE] <= 0) return 0;
  return tp;
}

// Appends the block's key record (word 19 on) to the read set; the words
// the request borrows are given back.
int32_t AppendKey(int32_t* base, int32_t* record, int32_t tp, int32_t kind, int32_t extra_words) {
  const int32_t kept_merge = record[DUREC_MERGE], kept_length = record[DUREC_REQUEST_WORDS];
  const int32_t kept_status = record[DUREC_STATUS];
  record[DUREC_STATUS] = kind;
  record[DUREC_TRANSACTION_NUMBER] = W(base, F(tp, TP_TRANSACTION_NUMBER));
  record[DUREC_REQUEST_WORDS] = QueueRecordWords(record[DUREC_KEYLEN]) + extra_words;
  record[DUREC_APPEND_STATUS] = 0;
  const int32_t rc = DKKeyCall(base, record + DUREC_APPEND_STATUS, tp + TP_RS_QBLKSIZ);
  record[DUREC_MERGE] = kept_merge;
  record[DUREC_REQUEST_WORDS] = kept_length;
  record[DUREC_STATUS] = kept_status;
  if (rc < 0) return KernelStatus(rc);
  ++W(base, F(tp, TP_TRANSACTION_READ_COUNT));
  return 0;
}

}  // namespace

void DULockRow(int32_t* base, int32_t* record, int32_t usr, int32_t work) {
  const int32_t tp = OpenTp(base, record, usr);
  if (tp == 0) {
    record[DUREC_STATUS] = DU_NO_TRANSACTION;
    return;
  }
  int32_t code = record[DUREC_FETCH_CODE];
  if (code < 0) code = -code;
  // The commit validates a row read by its key, wherever the fetch found
  // it: a row of the transaction's own write set is a row read too.
  const int32_t rc = AppendKey(base, record, tp, 0, 0);
  if (rc != 0) {
    record[DUREC_STATUS] = rc;
    return;
  }
  record[DUREC_TRANSACTION_NUMBER] = W(base, F(tp, TP_TRANSACTION_NUMBER));
  record[DUREC_FETCH_CODE] = -code;
  if (work != 0) W(base, F(work, WRK_SCAN_MODE)) = 2;
  record[DUREC_STATUS] = 0;
}

void DUWriteFlush(int32_t* base, int32_t* record, int32_t usr) {
  const int32_t tp = OpenTp(base, record, usr);
  if (tp == 0 || W(base, F(tp, TP_READ_WRITE_MODE)) == READ_ONLY_MODE) {
    record[DUREC_STATUS] = DU_NO_TRANSACTION;
    return;
  }
  // The prefix: the key parts from the first on, up to a later part of kind
  // 1 or 2; a table's own key is all of it.
  const int32_t object = record[DUREC_OBJECT];
  const int32_t keylen = record[DUREC_KEYLEN];
  int32_t prefix = keylen;
  const int32_t type = record[DUREC_TYPE];
  if ((type == DU_TYPE_INDEX || type == DU_TYPE_INDEX_REF) &&
      du::BlockInside(base, object, ICB_WORDS)) {
    const int32_t words = W(base, F(object, ICB_XD));
    prefix = 0;
    for (int32_t k = 1; k + 2 < words; k += 3) {
      const int32_t length = W(base, F(object, ICB_XD + k + 1));
      const int32_t kind = W(base, F(object, ICB_XD + k + 2));
      if (k > 1 && (kind == 1 || kind == 2)) break;
      if (W(base, F(object, ICB_XD + k)) < 0 || length < 1 || prefix > keylen - length) break;
      prefix += length;
    }
  }
  if (keylen < 1 || keylen > record[DUREC_RECLEN]) {
    record[DUREC_STATUS] = DU_BAD_ARGUMENT;
    return;
  }
  // The prefix length is the record's word after the key words; the row's
  // bytes there are put back after the append.
  int32_t& after_key = record[DUREC_RECORD + (keylen + 3) / 4];
  const int32_t kept = after_key;
  after_key = prefix;
  const int32_t rc = AppendKey(base, record, tp, -3, 1);
  after_key = kept;
  record[DUREC_STATUS] = rc;
}

void DSReadSetCheck(int32_t* base, int32_t* record, int32_t usr, const int32_t* position) {
  const int32_t tp = W(base, F(usr, USR_TP));
  if (tp == 0 || W(base, F(tp, TP_TRANSACTION_STATE)) == 0 || W(base, F(tp, TP_TSS)) == 0 ||
      record[DUREC_MERGE] <= 0) {
    record[DUREC_STATUS] = DU_NO_TRANSACTION;
    return;
  }
  const int32_t keylen = record[DUREC_KEYLEN], reclen = record[DUREC_RECLEN];
  du::SetRequest b;
  if (keylen < 1 || keylen > reclen || 25 + (reclen + 3) / 4 + 1 > b.size()) {
    record[DUREC_STATUS] = DU_BAD_ARGUMENT;
    return;
  }
  b[0] = 0;
  du::QueueToRequest(base, tp, TP_RS_QBLKSIZ, b.data());
  b[6] = position[0];
  b[7] = position[1];
  DUKernel(DK_GPS1, b.data());
  if (b[0] != 0) {
    record[DUREC_STATUS] = b[0] > 0 ? DU_NO_ROW : KernelStatus(b[0]);
    return;
  }
  // The entry read back from word 15 is a DKFNT1 request from word 9: its
  // identity at 17 to 22, its key from 25.
  bool same = b[8] == QueueRecordWords(keylen);
  for (int32_t k = 0; k < 6 && same; ++k) same = b[17 + k] == record[DUREC_LID + k];
  if (!same) {
    record[DUREC_STATUS] = DU_READ_SET_MISMATCH;
    return;
  }
  std::vector<uint8_t> key(reinterpret_cast<uint8_t*>(b.data() + 25),
                           reinterpret_cast<uint8_t*>(b.data() + 25) + keylen);
  int32_t* fnt = b.data() + 9;
  fnt[4] = 0;
  fnt[5] = W(base, F(tp, TP_TSS));
  fnt[15] = ALL_ENTRIES_VISIBLE;
  fnt[6] = 2;
  DUKernel(DK_FNT1, fnt);
  int32_t status = fnt[6];
  bool from_table = false;
  if (status == 1) {
    record[DUREC_STATUS] = DU_ROW_GONE;  // deleted by the transaction
    return;
  }
  if (status > 0) {
    int32_t* fet = b.data() + 10;  // its status word is the same word
    fet[5] = 2;
    DUKernel(DK_FET1, fet);
    status = fet[5];
    from_table = true;
    if (status == 0 && std::memcmp(b.data() + 25, key.data(), key.size()) != 0) status = 4;
    if (status > 0) {
      record[DUREC_STATUS] = DU_ROW_GONE;
      return;
    }
  }
  if (status < 0) {
    record[DUREC_STATUS] = KernelStatus(status);
    return;
  }
  std::memcpy(record + DUREC_RECORD, b.data() + 25, static_cast<size_t>(reclen));
  record[DUREC_CURSOR_ORDER] = fnt[15];
  record[DUREC_FETCH_CODE] = from_table ? -11 : fnt[3] == 0 ? -7 : -3;
  record[DUREC_STATUS] = 0;
}
