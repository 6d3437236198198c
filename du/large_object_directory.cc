// The large-object directory of a databank: identifiers issued from the
// directory table's key generator, directory rows inserted and read, and
// the reference count of an object raised and lowered. Directory rows are
// read and written with the ordinary record operations on a record block of
// the directory table, with the write-set merge of the table whose column
// holds the object, so they take part in the transaction like its rows.
#include <cstring>

#include "du/kernel_requests.h"
#include "du/large_objects.h"
#include "du/pool_words.h"
#include "du/record_operations.h"
#include "du/row_change_internal.h"
#include "du/row_scan.h"
#include "du/table_internal.h"
#include "du/upper_services.h"
#include "kernel/error_report.h"
#include "platform/bytes.h"
#include "platform/host_services.h"

using du::Block;
using du::F;
using du::W;

namespace {

constexpr int32_t DK_FLO1 = 61;
// DKFLO1: status, run count, spare, then the runs (four words each).
constexpr int32_t kFreeRunsWords = 7;

bool IsTableBlock(int32_t* base, const int32_t* record) {
  return du::BlockInside(base, record[DUREC_OBJECT], TCB_WORDS);
}

// The databank of the table of `record`, 0 when there is none.
int32_t DatabankOf(int32_t* base, const int32_t* record) {
  if (!IsTableBlock(base, record)) return 0;
  const int32_t dcb = W(base, F(record[DUREC_OBJECT], TCB_DCB));
  return du::BlockInside(base, dcb, DCB_WORDS) ? dcb : 0;
}

// The directory table's TCB of a databank, 0 when it has none.
int32_t DirectoryOf(int32_t* base, int32_t dcb) {
  if (dcb == 0) return 0;
  const int32_t tcb = W(base, F(dcb, DCB_LOBDIR_TCB));
  if (!du::BlockInside(base, tcb, TCB_WORDS)) return 0;
  if (W(base, F(tcb, TCB_KEYLEN)) != LDIR_KEY_BYTES || W(base, F(tcb, TCB_RECLEN)) != LDIR_BYTES)
    return 0;
  return tcb;
}

// A record block of the directory table `tcb` whose changes go the way of
// the owning table's (`merge`, its word 6).
Block DirectoryBlock(int32_t* base, int32_t tcb, int32_t merge) {
  Block b;
  b.words.assign(static_cast<size_t>(DurecWords(LDIR_BYTES)), 0);
  b[DUREC_OBJECT] = tcb;
  b[DUREC_ACCESS_MODE] = 3;
  b[DUREC_MERGE] = merge;
  for (int32_t k = 0; k < 6; ++k) b[DUREC_LID + k] = W(base, F(tcb, TCB_LID + k));
  b[DUREC_REQUEST_WORDS] = (LDIR_BYTES - 1) / 4 + 11;
  return b;
}

// The directory key of an identifier held as three words in row order.
void PutKey(uint8_t* row, const uint8_t* identifier) {
  std::memset(row, 0, LDIR_BYTES);
  for (int32_t k = 0; k < LOB_ID_WORDS; ++k) store_be32(row + 4 * k, load_le32(identifier + 4 * k));
}

// A change through the write set needs an open transaction.
int32_t NeedTransaction(int32_t* base, int32_t usr, int32_t merge) {
  if (merge <= 0) return 0;
  const int32_t tp = W(base, F(usr, USR_TP));
  return tp != 0 && W(base, F(tp, TP_TRANSACTION_STATE)) != 0 ? 0 : DU_NO_TRANSACTION;
}

// Calls `visit` with a block holding each directory row of the identifier
// whose key is in `dir`'s buffer, in key order; `visit` answers 0 to go on.
// 0 or the first failure.
template <typename Visit>
int32_t ForEachRow(int32_t* base, int32_t usr, Block& dir, Visit visit) {
  uint8_t identifier[LOB_ID_BYTES];
  std::memcpy(identifier, dir.row(), LOB_ID_BYTES);
  return du::ScanRows(base, usr, 0, dir, [&](Block& row) {
    return std::memcmp(row.row(), identifier, LOB_ID_BYTES) != 0 ? du::kScanStop : visit(row);
  });
}

// Rewrites the directory row in `row` (the current row of a fetch) with its
// count changed by `delta`.
int32_t ChangeCount(int32_t* base, int32_t usr, Block& row, int32_t delta) {
  DUPrepareForUpdate(base, row.data(), usr);
  if (row[DUREC_STATUS] != 0) return row[DUREC_STATUS];
  uint8_t* r = row.row();
  store_le32(r + LDIR_COUNT, load_le32(r + LDIR_COUNT) + static_cast<uint32_t>(delta));
  row[DUREC_STATUS] = 0;
  DURowOp1(base, row.data(), usr);
  return row[DUREC_STATUS];
}

// Frees the object's pages in the kernel (the run of the row's location).
int32_t FreePages(int32_t* base, int32_t dcb, const uint8_t* row) {
  int32_t request[kFreeRunsWords] = {0, 1, 0};
  for (int32_t k = 0; k < LOBD_LOCATION_WORDS; ++k)
    request[3 + k] = static_cast<int32_t>(load_le32(row + LDIR_LOCATION + 4 * k));
  int32_t did = W(base, F(dcb, DCB_DID));
  DUKernel2(DK_FLO1, request, &did);
  return request[0] < 0 ? KernelStatus(request[0]) : 0;
}

void Report(const char* routine, int32_t error) {
  try {
    DSErrRep(routine, static_cast<int32_t>(std::strlen(routine)), error, SEV_INTERNAL);
  } catch (const ServerException&) {
    // Reported; the caller goes on.
  }
}

}  // namespace

void DUGetLobdir1(int32_t* base, int32_t* status, int32_t* identifier, const int32_t* record) {
  const int32_t dir = DirectoryOf(base, DatabankOf(base, record));
  if (dir == 0) {
    *status = LOB_NO_DIRECTORY;
    return;
  }
  Block b = DirectoryBlock(base, dir, 0);
  b[DUREC_STATUS] = 0;
  DUKernel(DK_GGK1, b.data() + DUREC_FETCH_REQUEST);
  if (b[DUREC_STATUS] < 0) {
    *status = KernelStatus(b[DUREC_STATUS]);
    return;
  }
  identifier[0] = b[DUREC_RECORD];
  identifier[1] = b[DUREC_RECORD + 1];
  identifier[2] = W(base, F(record[DUREC_OBJECT], TCB_TNAME));
  *status = 0;
}

void DUInsLobdir1(int32_t* base, int32_t* status, const int32_t* record, int32_t usr,
                  const int32_t* descriptor) {
  const int32_t dcb = DatabankOf(base, record);
  const int32_t dir = DirectoryOf(base, dcb);
  if (dir == 0) {
    *status = LOB_NO_DIRECTORY;
    return;
  }
  const int32_t merge = record[DUREC_MERGE];
  if (int32_t rc = NeedTransaction(base, usr, merge); rc != 0) {
    *status = rc;
    return;
  }
  Block b = DirectoryBlock(base, dir, merge);
  uint8_t* row = b.row();
  PutKey(row, reinterpret_cast<const uint8_t*>(descriptor + LOBD_ID));
  store_be32(row + LDIR_SEQNO, static_cast<uint32_t>(W(base, F(dcb, DCB_MASTER_SEQNO))));
  store_be32(row + LDIR_PART, static_cast<uint32_t>(descriptor[LOBD_PART]));
  for (int32_t k = 0; k < LOBD_LOCATION_WORDS; ++k)
    store_le32(row + LDIR_LOCATION + 4 * k, static_cast<uint32_t>(descriptor[LOBD_LOCATION + k]));
  DUInsertRow(base, b.data(), usr);
  *status = b[DUREC_STATUS];
  if (*status > 0) Report("DUInsLobdir1", DU_BAD_ARGUMENT);
  if (*status == 0 && merge > 0) W(base, F(W(base, F(usr, USR_TP)), TP_FLUSH_LOB_FLAG)) = 1;
}

namespace {

// The open table the identifier's table word names (a request that names
// no table): its TCB, 0 when it is not open, -19040 without table list.
int32_t OwningTable(int32_t* base, int32_t tname) {
  const int32_t hash = du::TcbHash(base);
  if (hash == 0) return DU_NOT_INITIALISED;
  const int64_t bucket = du::Bucket(base, hash, tname, 0);
  du::BucketGuard guard(base, bucket);
  return du::FindInBucket(base, bucket, tname);
}

}  // namespace

void DUGetLob1(int32_t* base, int32_t* status, const int32_t* record, int32_t usr,
               int32_t* descriptor) {
  int32_t dcb = descriptor[LOBD_DCB];
  int32_t merge = record[DUREC_MERGE];
  if (dcb == 0 && record[DUREC_TNAME] == -1) {
    const int32_t tcb = OwningTable(base, descriptor[LOBD_ID + 2]);
    if (tcb < 0) {
      *status = tcb;
      return;
    }
    if (tcb != 0) {
      dcb = W(base, F(tcb, TCB_DCB));
      merge = W(base, F(tcb, TCB_TRANS_MODE)) >= 2 ? 1 : 0;
    }
  } else if (dcb == 0) {
    dcb = DatabankOf(base, record);
  }
  if (dcb != 0 && !du::BlockInside(base, dcb, DCB_WORDS)) dcb = 0;
  const int32_t dir = DirectoryOf(base, dcb);
  if (dir == 0) {
    *status = LOB_NOT_FOUND;
    return;
  }
  Block b = DirectoryBlock(base, dir, merge);
  uint8_t* row = b.row();
  PutKey(row, reinterpret_cast<const uint8_t*>(descriptor + LOBD_ID));
  store_be32(row + LDIR_SEQNO, static_cast<uint32_t>(W(base, F(dcb, DCB_MASTER_SEQNO))));
  store_be32(row + LDIR_PART, static_cast<uint32_t>(descriptor[LOBD_PART]));
  DUReadRowByKey(base, b.data(), usr);
  *status = b[DUREC_STATUS];
  if (*status != 0) return;
  for (int32_t k = 0; k < LOBD_LOCATION_WORDS; ++k)
    descriptor[LOBD_LOCATION + k] = static_cast<int32_t>(load_le32(row + LDIR_LOCATION + 4 * k));
}

namespace {

bool HoldsObject(const uint8_t* column) {
  if (column[LOB_ID_BYTES] == kNullIndicator) return false;
  for (int32_t k = 0; k < LOB_ID_BYTES; ++k)
    if (column[k] != 0) return true;
  return false;
}

int32_t AddReference(int32_t* base, int32_t usr, const int32_t* record, const uint8_t* column) {
  const int32_t dir = DirectoryOf(base, DatabankOf(base, record));
  if (dir == 0) return LOB_NOT_FOUND;
  const int32_t merge = record[DUREC_MERGE];
  if (int32_t rc = NeedTransaction(base, usr, merge); rc != 0) return rc;
  if (!HoldsObject(column)) return 0;
  Block b = DirectoryBlock(base, dir, merge);
  PutKey(b.row(), column);
  return ForEachRow(base, usr, b, [&](Block& row) { return ChangeCount(base, usr, row, 1); });
}

int32_t ReleaseReference(int32_t* base, int32_t usr, const int32_t* record,
                         const uint8_t* identifier) {
  const int32_t dcb = DatabankOf(base, record);
  const int32_t dir = DirectoryOf(base, dcb);
  if (dir == 0) return LOB_NO_DIRECTORY;
  const int32_t merge = record[DUREC_MERGE];
  if (int32_t rc = NeedTransaction(base, usr, merge); rc != 0) return rc;
  Block b = DirectoryBlock(base, dir, merge);
  PutKey(b.row(), identifier);
  return ForEachRow(base, usr, b, [&](Block& row) -> int32_t {
    if (static_cast<int32_t>(load_le32(row.row() + LDIR_COUNT)) >= 2)
      return ChangeCount(base, usr, row, -1);
    std::vector<uint8_t> kept(row.row(), row.row() + LDIR_BYTES);
    DUDEL1(base, row.data(), usr);
    if (row[DUREC_STATUS] != 0) return row[DUREC_STATUS];
    // Through the write set the pages go when the transaction's delete is
    // applied; directly they go now.
    return merge > 0 ? 0 : FreePages(base, dcb, kept.data());
  });
}

}  // namespace

void DULobAddRef(int32_t* base, int32_t* status, const int32_t* record, int32_t usr,
                 int32_t column_offset) {
  const int32_t reclen = record[DUREC_RECLEN];
  if (column_offset < 0 || column_offset > reclen - LOB_COLUMN_BYTES) {
    *status = DU_BAD_ARGUMENT;
    return;
  }
  const uint8_t* row = reinterpret_cast<const uint8_t*>(record + DUREC_RECORD);
  *status = AddReference(base, usr, record, row + column_offset);
}

void DULobRelease(int32_t* base, int32_t* status, const int32_t* record, int32_t usr,
                  const uint8_t* identifier) {
  *status = ReleaseReference(base, usr, record, identifier);
}

void DULobDropTable(int32_t* base, int32_t* status, int32_t tcb, int32_t usr) {
  if (!du::BlockInside(base, tcb, TCB_WORDS)) {
    *status = DU_BAD_ARGUMENT;
    return;
  }
  const int32_t dcb = W(base, F(tcb, TCB_DCB));
  const int32_t dir = du::BlockInside(base, dcb, DCB_WORDS) ? DirectoryOf(base, dcb) : 0;
  if (dir == 0) {
    *status = 1;
    return;
  }
  const int32_t merge = W(base, F(tcb, TCB_TRANS_MODE)) >= 2 ? 1 : 0;
  if (int32_t rc = NeedTransaction(base, usr, merge); rc != 0) {
    *status = rc;
    return;
  }
  const uint32_t table = static_cast<uint32_t>(W(base, F(tcb, TCB_TNAME)));
  const Block scan = DirectoryBlock(base, dir, merge);
  *status = du::ScanRows(base, usr, 0, scan, [&](Block& row) -> int32_t {
    const uint8_t* r = row.row();
    if (load_be32(r + LDIR_ID + 8) != table || load_le32(r + LDIR_SPARE) != 0) return 0;
    DUDEL1(base, row.data(), usr);
    return row[DUREC_STATUS];
  });
}

namespace du {

namespace {

// The column offsets of the table's TCB LOBCOLS list, each checked against
// the row.
std::vector<int32_t> LobColumns(int32_t* base, const int32_t* record) {
  std::vector<int32_t> columns;
  if (!IsTableBlock(base, record)) return columns;
  const int32_t list = W(base, F(record[DUREC_OBJECT], TCB_LOBCOLS));
  if (list == 0 || !BlockInside(base, list, 1)) return columns;
  const int32_t n = W(base, list);
  if (n < 0 || !BlockInside(base, list, int64_t{n} + 1)) return columns;
  for (int32_t k = 1; k <= n; ++k) columns.push_back(W(base, F(list, k)));
  return columns;
}

bool ColumnFits(const int32_t* record, int32_t offset) {
  return offset >= 0 && offset <= record[DUREC_RECLEN] - LOB_COLUMN_BYTES;
}

}  // namespace

int32_t LobColumnsInserted(int32_t* base, int32_t usr, const int32_t* record, const uint8_t* row) {
  for (int32_t offset : LobColumns(base, record)) {
    if (!ColumnFits(record, offset)) return DU_BAD_ARGUMENT;
    if (!HoldsObject(row + offset)) continue;
    if (int32_t rc = AddReference(base, usr, record, row + offset); rc != 0) return rc;
  }
  return 0;
}

void LobColumnsDeleted(int32_t* base, int32_t usr, const int32_t* record, const uint8_t* row) {
  for (int32_t offset : LobColumns(base, record)) {
    int32_t rc = DU_BAD_ARGUMENT;
    if (ColumnFits(record, offset)) {
      if (!HoldsObject(row + offset)) continue;
      rc = ReleaseReference(base, usr, record, row + offset);
    }
    if (rc != 0) Report("DUDEL1", rc);
  }
}

int32_t LobColumnsUpdated(int32_t* base, int32_t usr, const int32_t* record, const uint8_t* now,
                          const uint8_t* before) {
  for (int32_t offset : LobColumns(base, record)) {
    if (!ColumnFits(record, offset)) return DU_BAD_ARGUMENT;
    const uint8_t* n = now + offset;
    const uint8_t* b = before + offset;
    const bool new_held = HoldsObject(n), old_held = HoldsObject(b);
    const bool same = new_held && old_held && std::memcmp(n, b, LOB_ID_BYTES) == 0;
    if (same) continue;
    if (new_held)
      if (int32_t rc = AddReference(base, usr, record, n); rc != 0) return rc;
    if (old_held)
      if (int32_t rc = ReleaseReference(base, usr, record, b); rc != 0) return rc;
  }
  return 0;
}

std::vector<int32_t> LobColumnOffsets(int32_t* base, const int32_t* record) {
  return LobColumns(base, record);
}

}  // namespace du

void DULobClearColumn(int32_t* base, int32_t* status, int32_t* record, int32_t usr,
                      int32_t column_offset) {
  if (!IsTableBlock(base, record) || column_offset < 0 ||
      column_offset > record[DUREC_RECLEN] - LOB_COLUMN_BYTES) {
    *status = DU_BAD_ARGUMENT;
    return;
  }
  // The updates release the objects through the table's LOBCOLS list; a
  // table without one gets a list of this column for the pass.
  const int64_t lobcols = F(record[DUREC_OBJECT], TCB_LOBCOLS);
  int32_t temporary = 0;
  if (W(base, lobcols) == 0) {
    temporary = du::NewBlock(base, 8);
    if (temporary == 0) {
      *status = DU_NO_STORAGE;
      return;
    }
    W(base, temporary) = 1;
    W(base, F(temporary, 1)) = column_offset;
    W(base, lobcols) = temporary;
  }
  Block start;
  start.words.assign(record, record + DurecWords(record[DUREC_RECLEN]));
  std::memset(start.row(), 0, static_cast<size_t>(record[DUREC_KEYLEN]));
  *status = du::ScanRows(base, usr, 0, start, [&](Block& row) -> int32_t {
    if (!HoldsObject(row.row() + column_offset)) return 0;
    DUPrepareForUpdate(base, row.data(), usr);
    if (row[DUREC_STATUS] != 0) return row[DUREC_STATUS];
    std::memset(row.row() + column_offset, kNullIndicator, LOB_COLUMN_BYTES);
    row[DUREC_STATUS] = 0;
    DURowOp1(base, row.data(), usr);
    return row[DUREC_STATUS];
  });
  if (temporary != 0) {
    W(base, lobcols) = 0;
    du::FreeBlock(base, temporary);
  }
}
