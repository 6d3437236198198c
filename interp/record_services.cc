// The default record service table: record access's routines that exist, and
// for each one that does not yet an entry that names itself in the log and
// answers -19040, so that no record instruction ever reports a made-up row.
#include "interp/record_services.h"

#include <atomic>
#include <string>

#include "du/record_operations.h"
#include "interp/program_layout.h"
#include "kernel/error_report.h"

namespace interp {
namespace {

// Logs that the routine `name` is not there; -19040.
int32_t LogAbsent(const char* name) {
  StatusPair status{};
  const std::string text = std::string(name) + ": record access routine not installed";
  DSLogMsgShort(&status, 3, text.c_str(), nullptr, static_cast<int32_t>(text.size()));
  return kErrServiceAbsent;
}

void Absent(const char* name, int32_t* record) {
  record[kRecStatus] = LogAbsent(name);
}

#define HB_ABSENT_RECORD(fn)                             \
  void fn(int32_t*, int32_t* record, int32_t, int32_t) { \
    Absent(#fn, record);                                 \
  }
#define HB_ABSENT_INDEX(fn)                                     \
  void fn(int32_t*, int32_t* key, int32_t*, int32_t, int32_t) { \
    Absent(#fn, key);                                           \
  }

HB_ABSENT_RECORD(DULoadRows)
HB_ABSENT_RECORD(DUSortRows)
HB_ABSENT_RECORD(DUMergeRows)

int32_t ReadSetWalkAbsent(int32_t*, int32_t, int32_t) {
  StatusPair status{};
  const char text[] = "DSExitReadSetCheck: read-set walk not installed";
  DSLogMsgShort(&status, 3, text, nullptr, sizeof text - 1);
  return kErrServiceAbsent;
}

int32_t DUMatchPattern2(int32_t*, int32_t, ConstByteSpan, int32_t, int32_t) {
  return LogAbsent("DUMatchPattern2");
}
int32_t DUMatchPattern1(int32_t*, int32_t, ConstByteSpan, int32_t, int32_t) {
  return LogAbsent("DUMatchPattern1");
}
int32_t DUMatchPattern4(const int32_t*, int32_t, ConstByteSpan, int32_t, int32_t) {
  return LogAbsent("DUMatchPattern4");
}

void GetRow(int32_t* b, int32_t* r, int32_t u, int32_t w) {
  DUGetRow(b, r, u, w);
}
void GetPrevRow(int32_t* b, int32_t* r, int32_t u, int32_t w) {
  DUGetPrevRow(b, r, u, w);
}
void PrepareUpdate(int32_t* b, int32_t* r, int32_t u, int32_t) {
  DUPrepareForUpdate(b, r, u);
}
void InsertRow(int32_t* b, int32_t* r, int32_t u, int32_t) {
  DUInsertRow(b, r, u);
}
void UpdateRow(int32_t* b, int32_t* r, int32_t u, int32_t) {
  DURowOp1(b, r, u);
}
void DeleteRow(int32_t* b, int32_t* r, int32_t u, int32_t) {
  DUDEL1(b, r, u);
}
void DropRows(int32_t* b, int32_t* r, int32_t u, int32_t w) {
  DUDropRows(b, r, u, w);
}
void DeleteAll(int32_t* b, int32_t* r, int32_t u, int32_t w) {
  DUDeleteAll(b, r, u, w);
}
void FetchMany(int32_t* b, int32_t* r, int32_t, int32_t) {
  DUFetchMany(b, r);
}
// Record access takes the table block first, the index block second.
void GetRowIndex(int32_t* b, int32_t* key, int32_t* table, int32_t u, int32_t w) {
  DUGetRowIx(b, table, key, u, w);
}
void GetUnique(int32_t* b, int32_t* key, int32_t* table, int32_t u, int32_t w) {
  DUGetUnique(b, table, key, u, w);
}
void LockRow(int32_t* b, int32_t* r, int32_t u, int32_t w) {
  DULockRow(b, r, u, w);
}
void InsertIndex(int32_t* b, int32_t* r, int32_t u, int32_t) {
  DUInsertIndex(b, r, u);
}
void WriteFlush(int32_t* b, int32_t* r, int32_t u, int32_t) {
  DUWriteFlush(b, r, u);
}
void Refresh(int32_t* b, int32_t* r, int32_t u, int32_t) {
  DURefresh(b, r, u);
}

const RecordServiceTable kDefault = {
    GetRow,      GetPrevRow, GetRowIndex, GetUnique,  LockRow,           PrepareUpdate, InsertRow,
    UpdateRow,   DeleteRow,  DULoadRows,  DUSortRows, DropRows,          DeleteAll,     InsertIndex,
    DUMergeRows, FetchMany,  Refresh,     WriteFlush, ReadSetWalkAbsent, DUMatchPattern2,
    DUMatchPattern1, DUMatchPattern4,
};

std::atomic<const RecordServiceTable*> current{&kDefault};

}  // namespace

const RecordServiceTable& RecordServices() {
  return *current.load(std::memory_order_acquire);
}

const RecordServiceTable& DefaultRecordServices() {
  return kDefault;
}

const RecordServiceTable* DAInstallRecordServices(const RecordServiceTable* table) {
  return current.exchange(table != nullptr ? table : &kDefault, std::memory_order_acq_rel);
}

}  // namespace interp
