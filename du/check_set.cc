// The transaction's read set and check set on the SQL side: mark records in
// the write and read sets (DUWriteMark, the user's stacked marks), the queue
// append every read-set and check-set record goes through (DKKeyCall), the
// check set created on first use (DUAddCheckEntry), and the deferred
// constraint checks run before a commit (DUCheckDeferred).
//
// A check-set record is the appending record block from its word 19 on: the
// kind (-10 to -13), the identity words, the key, then four words: the
// table number, the constraint id, the key-part prefix length and the index
// number. The kernel's re-check reads the record's last word as the length
// to compare, so the index number is replaced by the prefix length first.
#include <cstring>
#include <vector>

#include "du/kernel_requests.h"
#include "du/record_access_words.h"
#include "du/row_change_internal.h"
#include "du/table_internal.h"
#include "du/tables.h"
#include "du/transactions.h"
#include "du/upper_services.h"

using du::W;

namespace {

int64_t F(int32_t block, int32_t field) {
  return int64_t{block} + field;
}

// Appends a mark record {22, transaction number, mark} to the queue of
// `field`; the kernel code. In the write set it is padded with zero words to
// six: the kernel's commit takes no write-set record shorter than a table's
// change (-66), and passes marks over. In the read set it stays at three
// words, which the validation passes over as no row read.
constexpr int32_t kWriteSetMarkWords = 6;

int32_t AppendMark(int32_t* base, int32_t tp, int32_t field, int32_t mark) {
  du::SetRequest b;
  b[0] = 3;
  du::QueueToRequest(base, tp, field, b.data());
  b[8] = field == TP_WS_QBLKSIZ ? kWriteSetMarkWords : 3;
  for (int32_t k = 0; k < kWriteSetMarkWords; ++k) b[15 + k] = 0;
  b[15] = RECORD_KIND_MARK;
  b[16] = W(base, F(tp, TP_TRANSACTION_NUMBER));
  b[17] = mark;
  DUKernel(DK_APS1, b.data());
  if (b[0] < 0) return b[0];
  W(base, F(tp, field + QD_PAGE)) = b[6];
  W(base, F(tp, field + QD_POS)) = b[7];
  return 0;
}

int32_t CreateCheckSet(int32_t* base, int32_t tp) {
  du::SetRequest b;
  b[0] = 0;
  b[2] = W(base, F(tp, TP_RS_QLID));
  b[3] = QUEUE_TYPE;
  b[5] = -1;
  b[12] = 2;
  DUKernel(DK_CRT1, b.data());
  if (b[0] < 0) return KernelStatus(b[0]);
  b[1] = b[11];
  du::QueueFromRequest(base, tp, TP_CS_QBLKSIZ, b.data());
  return 0;
}

// The mode a table is opened in for a check at the end: shared reading.
constexpr int32_t kCheckAccessMode = 5;

int32_t ViolationOf(int32_t kind) {
  switch (kind) {
    case -10:
      return -10110;
    case -11:
      return -10105;
    case -12:
      return -10106;
    default:
      return -10101;
  }
}

// The end state of a put-off check on the open table `tcb`: 1 violated, 0
// not, or a failure.
int32_t ViolatedIn(int32_t* base, int32_t usr, int32_t tcb, const int32_t* read, int32_t tail,
                   int32_t kind) {
  const int32_t prefix = read[15 + tail + 2], index = read[15 + tail + 3];
  int32_t icb = W(base, F(tcb, TCB_ICB));
  for (int32_t n = 0; icb != 0 && n < 1000 && W(base, F(icb, ICB_TNAME)) != index; ++n)
    icb = W(base, icb);
  du::Block b;
  if (icb == 0 || !du::IndexBlock(base, icb, nullptr, nullptr, &b) || prefix < 1 ||
      prefix > b[DUREC_KEYLEN] || prefix > W(base, F(icb, ICB_KEYLEN)))
    return DU_BAD_ARGUMENT;
  const auto* key = reinterpret_cast<const uint8_t*>(read + 25);
  std::memcpy(b.row(), key, static_cast<size_t>(prefix));
  if (kind == -10) {
    const int32_t rows = du::PrefixEntries(base, usr, b, prefix, nullptr, 2);
    return rows < 0 ? rows : rows >= 2 ? 1 : 0;
  }
  const int32_t referenced = du::PrefixFound(base, usr, b, prefix, nullptr);
  if (referenced != 1) return referenced;
  const int32_t parent = du::ParentFound(base, usr, icb, key, prefix);
  return parent < 0 ? parent : 1 - parent;
}

// Whether a put-off check of kind -10, -11 or -12 still fails as the
// transaction sees its rows at the end: a unique key prefix held by two
// rows (-10); a foreign-key value still referenced by a row of the table
// while its parent key is not there (-11, -12). A table no longer open (its
// statements are closed by now) is opened for the check with its
// references and closed again. 1, 0, or a failure.
int32_t StillViolated(int32_t* base, int32_t usr, const int32_t* read, int32_t tail, int32_t kind) {
  const int32_t table = read[15 + tail];
  const int32_t hash = du::TcbHash(base);
  if (hash == 0) return DU_NOT_INITIALISED;
  int32_t tcb = 0;
  {
    du::BucketGuard guard(base, du::Bucket(base, hash, table, 0));
    tcb = du::FindInBucket(base, du::Bucket(base, hash, table, 0), table);
    // A use of its own keeps the table while it is read.
    if (tcb != 0 && W(base, F(tcb, TCB_USECOUNT)) >= 1)
      du::LockedAdd(base, F(tcb, TCB_USECOUNT), 1);
    else
      tcb = 0;
  }
  if (tcb != 0) {
    const int32_t violated = ViolatedIn(base, usr, tcb, read, tail, kind);
    if (du::DropUse(base, tcb, false)) {
      int32_t lid = 0;
      du::FinalClose(base, tcb, 0, &lid);
      if (lid != 0) DUCloseDatabank(base, usr, 0, lid, -1);
    }
    return violated;
  }
  std::vector<int32_t> record(static_cast<size_t>(DurecWords(du::KernelRecordBytes())), 0);
  record[DUREC_ACCESS_MODE] = kCheckAccessMode;
  record[DUREC_TNAME] = table;
  record[DUREC_TYPE] = 1;  // a table
  int32_t pb[2] = {0, usr};
  int32_t open[OPB_WORDS] = {OPEN_BASE};
  DSOpenTableDcb(base, pb, record.data(), open);
  const int32_t violated =
      pb[0] != 0 ? pb[0] : ViolatedIn(base, usr, record[DUREC_OBJECT], read, tail, kind);
  int32_t close_pb[2] = {0, usr};
  int32_t close[CLB_WORDS] = {CLOSE_TABLE};
  if (pb[0] == 0) DSCloseTableRefs(base, close_pb, record.data(), close);
  return violated;
}

// Re-checks one check-set record (read into `read` from word 15 on); 0, the
// violation's code, or a negative failure.
int32_t Recheck(int32_t* base, int32_t usr, int32_t tp, const int32_t* read, int32_t* table,
                int32_t* constraint) {
  const int32_t length = read[8];
  const int32_t kind = read[15];
  if (kind < -13 || kind > -10) return -16226;
  const int32_t keylen = read[15 + 6];
  const int32_t tail = 10 + (keylen + 3) / 4;
  if (keylen < 1 || length != tail + 4) return DU_BAD_ARGUMENT;
  if (kind == -13) {
    du::SetRequest c;
    std::memcpy(c.data(), read, static_cast<size_t>(15 + length) * 4);
    c[0] = 0;
    c[14] = W(base, F(tp, TP_TSS));
    DUKernel(DK_CCS1, c.data());
    if (c[0] < 0) return KernelStatus(c[0]);
    if (c[0] == 0) return 0;
  } else {
    const int32_t still = StillViolated(base, usr, read, tail, kind);
    if (still <= 0) return still;
  }
  *table = read[15 + tail];
  *constraint = read[15 + tail + 1];
  W(base, F(usr, USR_CURRENT_TABLE_SYSID)) = *table;
  W(base, F(usr, USR_CURRENT_CONSTRAINT_SYSID)) = *constraint;
  return ViolationOf(kind);
}

}  // namespace

void DUWriteMark(int32_t* base, int32_t usr, int32_t value) {
  const int32_t tp = W(base, F(usr, USR_TP));
  W(base, F(usr, USR_TRV_COND)) = 0;
  if (tp == 0) return;
  int32_t rc = AppendMark(base, tp, TP_WS_QBLKSIZ, value);
  if (rc == 0) rc = AppendMark(base, tp, TP_RS_QBLKSIZ, value);
  if (rc < 0) {
    W(base, F(usr, USR_TRV_COND)) = KernelStatus(rc);
    W(base, F(tp, TP_TRANSACTION_STATE)) = 2;
  }
}

int32_t DUSetStackedMarks(int32_t* base, int32_t usr) {
  int32_t status = 0;
  int32_t block = W(base, F(usr, USR_STACKED_MARK));
  W(base, F(usr, USR_STACKED_MARK)) = 0;
  while (block != 0) {
    const int32_t next = W(base, block);
    if (status == 0) {
      DUWriteMark(base, usr, W(base, F(block, 1)));
      status = W(base, F(usr, USR_TRV_COND));
    }
    du::FreeBlock(base, block);
    block = next;
  }
  return status;
}

void DUFreeStackedMarks(int32_t* base, int32_t usr) {
  int32_t block = W(base, F(usr, USR_STACKED_MARK));
  W(base, F(usr, USR_STACKED_MARK)) = 0;
  while (block != 0) {
    const int32_t next = W(base, block);
    du::FreeBlock(base, block);
    block = next;
  }
}

int32_t DKKeyCall(int32_t* base, int32_t* request, int32_t descriptor) {
  for (int32_t k = 0; k < QUEUE_WORDS; ++k) request[1 + k] = W(base, F(descriptor, k));
  DUKernel(DK_APS1, request);
  if (request[0] >= 0) {
    W(base, F(descriptor, QD_PAGE)) = request[6];
    W(base, F(descriptor, QD_POS)) = request[7];
  }
  return request[0];
}

void DUAddCheckEntry(int32_t* base, int32_t* record, int32_t usr) {
  const int32_t tp = W(base, F(usr, USR_TP));
  int32_t rc = tp == 0 ? DU_NO_TRANSACTION : 0;
  if (rc == 0 && W(base, F(tp, TP_CS_QTBL)) == 0) rc = CreateCheckSet(base, tp);
  if (rc == 0) {
    record[DUREC_APPEND_STATUS] = 0;
    rc = DKKeyCall(base, record + DUREC_APPEND_STATUS, tp + TP_CS_QBLKSIZ);
    if (rc < 0) rc = KernelStatus(rc);
  }
  if (rc == 0) ++W(base, F(tp, TP_TRANSACTION_CHECK_COUNT));
  record[DUREC_APPEND_STATUS] = rc;
}

int32_t DUCheckDeferred(int32_t* base, int32_t usr, int32_t mode, int32_t* table_id,
                        int32_t* constraint_id) {
  const int32_t tp = W(base, F(usr, USR_TP));
  if (tp == 0 || W(base, F(tp, TP_TRANSACTION_CHECK_COUNT)) < 1) return 0;
  int32_t first = 0;
  du::SetRequest b;
  if (mode >= 0) {
    du::QueueToRequest(base, tp, TP_CS_QBLKSIZ, b.data());
    b[5] = -1;
    // Read at the position, page 0 being the start of the set: the
    // descriptor's own position is that of the last append.
    b[6] = b[7] = 0;
    for (b[0] = 2;; b[0] = 0) {
      DUKernel(DK_GNS1, b.data());
      if (b[0] != 0) break;
      if (b[8] < 1 || 15 + b[8] > b.size()) {
        first = first == 0 ? DU_BAD_ARGUMENT : first;
        break;
      }
      const int32_t rc = Recheck(base, usr, tp, b.data(), table_id, constraint_id);
      if (rc != 0 && first == 0) first = rc;
    }
    if (b[0] < 0 && first == 0) first = KernelStatus(b[0]);
  }
  du::QueueToRequest(base, tp, TP_CS_QBLKSIZ, b.data());
  b[0] = 1;
  b[5] = -1;
  DUKernel(DK_DRS1, b.data());
  if (b[0] < 0) {
    if (first == 0) first = KernelStatus(b[0]);
  } else {
    W(base, F(tp, TP_CS_QPAGE)) = b[6];
    W(base, F(tp, TP_CS_QPOS)) = b[7];
  }
  W(base, F(tp, TP_TRANSACTION_CHECK_COUNT)) = 0;
  return first;
}
