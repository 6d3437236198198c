// The default record service table: record access's routines (its LIKE
// matchers among them) and the read-set walk of the action exits.
#include "interp/record_services.h"

#include <atomic>
#include <string>
#include <vector>

#include "dk/request.h"
#include "du/large_objects.h"
#include "du/pattern_programs.h"
#include "du/record_operations.h"
#include "du/table_load.h"
#include "interp/machine.h"
#include "interp/program_layout.h"
#include "kernel/error_report.h"
#include "kernel/system_block.h"

namespace interp {
namespace {

// The pattern program in kernel storage block `block` with its backtracking
// stack behind it: the program's first word, or nullptr when the block does
// not hold its program and stack inside the word storage.
int32_t* PatternBlock(int32_t* base, int32_t block) {
  if (!InStorage(base, block, PAT_CODE)) return nullptr;
  int32_t* program = &Wd(base, block, 0);
  const int64_t size = program[PAT_SIZE], stack = program[PAT_STORAGE];
  if (size < PAT_CODE || stack < 0 || !InStorage(base, block, size + stack)) return nullptr;
  return program;
}
int32_t MatchPattern(int32_t* base, int32_t block, ConstByteSpan storage, int32_t offset,
                     int32_t length) {
  int32_t* program = PatternBlock(base, block);
  if (program == nullptr) return PAT_BAD_PROGRAM;
  // Literal base 1: the literals lie in the statement's storage; any other
  // names the word of the program where a compiled copy of the text begins.
  if (program[PAT_LITERAL_BASE] != 1)
    return DUMatchPattern4(program, program + program[PAT_SIZE], storage, offset, length);
  return DUMatchPattern2(program, program + program[PAT_SIZE], storage, offset, length);
}
int32_t MatchPatternWide(int32_t* base, int32_t block, ConstByteSpan storage, int32_t offset,
                         int32_t length) {
  const int32_t* program = PatternBlock(base, block);
  if (program == nullptr) return PAT_BAD_PROGRAM;
  if (program[PAT_LITERAL_BASE] != 1) return DUMatchPattern1Self(program, storage, offset, length);
  return DUMatchPattern1(program, storage, offset, length);
}
// A self-contained program of `words` words; its stack is the run's own.
int32_t MatchPatternSelf(const int32_t* program, int32_t words, ConstByteSpan storage,
                         int32_t offset, int32_t length) {
  constexpr int32_t kMaxStack = PAT_CAPACITY * PAT_STACK_ENTRY;
  if (words < PAT_CODE || program[PAT_SIZE] < PAT_CODE || program[PAT_SIZE] > words ||
      program[PAT_STORAGE] < 0 || program[PAT_STORAGE] > kMaxStack)
    return PAT_BAD_PROGRAM;
  std::vector<int32_t> stack(static_cast<size_t>(program[PAT_STORAGE]) + 1);
  return DUMatchPattern4(program, stack.data(), storage, offset, length);
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
void LoadRows(int32_t* b, int32_t* r, int32_t, int32_t) {
  DULoadRows(b, r);
}
void SortRows(int32_t* b, int32_t* r, int32_t, int32_t) {
  DUSortRows(b, r);
}
void MergeRows(int32_t* b, int32_t* r, int32_t, int32_t) {
  DUMergeRows(b, r);
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
    GetRow,        GetPrevRow,   GetRowIndex,      GetUnique,        LockRow,  PrepareUpdate,
    InsertRow,     UpdateRow,    DeleteRow,        LoadRows,         SortRows, DropRows,
    DeleteAll,     InsertIndex,  MergeRows,        FetchMany,        Refresh,  WriteFlush,
    DAReadSetWalk, MatchPattern, MatchPatternWide, MatchPatternSelf, DKEXE2,   DUInsLobdir1,
    DUGetLobdir1,
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
