// DSChkStmOp (see cursor_row_check.h).
#include "kernel/cursor_row_check.h"

#include <initializer_list>

#include "kernel/control_blocks.h"
#include "kernel/statements.h"
#include "kernel/system_block.h"

namespace {

constexpr int32_t kReadOnlyMode = 31;

bool In(int32_t v, std::initializer_list<int32_t> set) {
  for (int32_t s : set)
    if (v == s) return true;
  return false;
}

// The active section's descriptor, 0 when the statement has none.
int32_t Descriptor(int32_t* base, int32_t stm) {
  const int32_t com = Wd(base, stm, STM_ACTIVE_COM);
  if (!InStorage(base, com, COM_DBGINF + 1)) return 0;
  const int32_t sd = Wd(base, com, COM_SD);
  return InStorage(base, sd, SD_MIN_WORDS) ? sd : 0;
}

// The table the first table handle of the statement's section names, 0
// when it has none.
int32_t FirstTable(int32_t* base, int32_t stm) {
  int32_t table = 0;
  bool first = true;
  ForEachTableHandle(base, Wd(base, stm, STM_ACTIVE_COM), [&](int32_t handle) {
    if (first) table = Wd(base, handle, HANDLE_TNAME);
    first = false;
  });
  return table;
}

int32_t Check(int32_t* base, int32_t usr, int32_t row, int32_t cursor, int32_t stm) {
  const int32_t sd1 = Descriptor(base, cursor), sd2 = Descriptor(base, stm);
  if (sd1 == 0 || sd2 == 0) return KERNEL_BAD_PARAMETER;
  const int32_t k = Wd(base, sd1, SD_STATEMENT_KIND), j = Wd(base, sd2, SD_STATEMENT_KIND);
  if (In(k, {1, 16, 57, 59}) && j == KIND_UPDATE_ONE) return ROWCHK_NOT_UPDATABLE;
  if (In(k, {1, 57}) && j == KIND_DELETE_ONE) return ROWCHK_NOT_DELETABLE;
  if (!In(k, {2, 16, 58, 59}) || !In(j, {KIND_UPDATE_ONE, KIND_DELETE_ONE}))
    return ROWCHK_BAD_PAIR;
  const int32_t table = FirstTable(base, cursor);
  if (table == 0 || table != FirstTable(base, stm)) return ROWCHK_OTHER_TABLE;
  const int32_t tp = Wd(base, usr, USR_TP);
  if (InStorage(base, tp, TP_WORDS) && Wd(base, tp, TP_READ_WRITE_MODE) == kReadOnlyMode)
    return ROWCHK_READ_ONLY;
  const int32_t lrid = Wd(base, cursor, STM_LRID);
  if (lrid == 0) return row == 1 ? 0 : ROWCHK_BAD_ROW;
  // The list holds LRIDSZ words, two a row.
  const int32_t rows = Wd(base, cursor, STM_LRIDSZ) / 2;
  if (row < 1 || row > rows) return ROWCHK_BAD_ROW;
  const int64_t pair = int64_t{lrid} + 2 * (int64_t{row} - 1);
  if (!InStorage(base, pair, 2)) return ROWCHK_BAD_ROW;
  const int32_t id0 = Wd(base, pair, 0), id1 = Wd(base, pair, 1);
  if (id0 == 0 && id1 == 0) return ROWCHK_NO_ROW;
  // The positioned statement is put on the row: its identifier where the
  // statement's program keeps the current row's. The cursor stays where
  // it stands.
  const int32_t offset = Wd(base, sd2, SD_ROW_ID_OFFSET);
  const int32_t stg = Wd(base, Wd(base, stm, STM_ACTIVE_COM), COM_STG);
  const int64_t words = Wd(base, sd2, SD_STORAGE_WORDS);
  if (offset > 0 && offset % 4 == 0 && offset / 4 + 2 <= words && InStorage(base, stg, words)) {
    Wd(base, stg, offset / 4) = id0;
    Wd(base, stg, offset / 4 + 1) = id1;
  }
  return 0;
}

}  // namespace

int32_t DSChkStmOp(int32_t* base, int32_t* request, int32_t cursor, int32_t stm) {
  const int32_t usr = request[ROWCHK_USR];
  int32_t status = KERNEL_NOT_STARTED;
  if (KernelSys(base) != 0) {
    status = InStorage(base, usr, USR_WORDS) && InStorage(base, cursor, STM_WORDS) &&
                     InStorage(base, stm, STM_WORDS)
                 ? Check(base, usr, request[ROWCHK_ROW], cursor, stm)
                 : KERNEL_BAD_PARAMETER;
    if (status != 0 && InStorage(base, usr, USR_WORDS)) Wd(base, usr, USR_RVEC_RCODE) = status;
  }
  request[ROWCHK_STATUS] = status;
  return status;
}
