// DSGetObjectName and DSGetColumnName (see catalog_queries.h).
#include "kernel/catalog_queries.h"

#include <algorithm>
#include <cstring>

#include "kernel/control_blocks.h"
#include "kernel/databank_control.h"
#include "kernel/statement_columns.h"
#include "kernel/statements.h"
#include "kernel/system_block.h"
#include "kernel/upper_services.h"

namespace {

// Runs `stm` under the thread's session `usr`, its transaction detached;
// `row` is called for each row and answers true to stop. The run's status
// (negative an error; the result vector in *rvec).
template <typename F>
int32_t RunQuery(int32_t* base, int32_t usr, int32_t stm, int32_t* rvec, F row) {
  const int32_t tp = Wd(base, usr, USR_TP);
  Wd(base, usr, USR_TP) = 0;
  Wd(base, stm, STM_PC) = 2;
  int32_t status = 0;
  for (int32_t n = 0; n < (1 << 24); ++n) {
    int32_t result[1 + RVEC_WORDS] = {};
    UpDAMAE2(base, result, stm, usr);
    std::copy(result + 1, result + 1 + RVEC_WORDS, rvec);
    if (result[0] != 0 || Wd(base, stm, STM_PC) == 0) {
      status = result[0];
      break;
    }
    if (row()) break;
  }
  Wd(base, usr, USR_TP) = tp;
  return status;
}

// The thread's statement in `slot`, made from `image` on first use. 0 or
// the failure (the thread's result vector then goes to `caller`).
int32_t SlotStatement(int32_t* base, int32_t thr, int32_t slot, int32_t image, int32_t caller) {
  int32_t& stm = Wd(base, thr, slot);
  if (stm != 0) return 0;
  const int32_t usr = thr + THR_USR_START;
  int32_t made = 0;
  int32_t rc = DSCreateStmFromImage(base, usr, image, &made);
  if (rc == 0) {
    rc = DSOpenStm(base, -1, usr, made);
    if (rc != 0) DSCloseStm(base, usr, &made);
  }
  if (rc != 0) {
    if (InStorage(base, caller, USR_WORDS))
      CopyResultVector(base, caller + USR_RVEC_RCODE, usr + USR_RVEC_RCODE);
    return rc;
  }
  stm = made;
  return 0;
}

// Column n's value (without its indicator) into `out`, blank padded to
// `room` bytes; a null or missing column leaves blanks.
void ColumnInto(int32_t* base, int32_t stm, int32_t n, uint8_t* out, int32_t room) {
  std::memset(out, ' ', room);
  uint8_t* f = nullptr;
  int32_t len = 0;
  if (StatementField(base, stm, true, n, &f, &len) != 0 || len < 1 || f[0] == 255) return;
  std::memcpy(out, f + 1, std::min(len - 1, room));
}

int32_t ColumnLength(int32_t* base, int32_t stm, int32_t n) {
  uint8_t* f = nullptr;
  int32_t len = 0;
  return StatementField(base, stm, true, n, &f, &len) == 0 && len > 0 ? len - 1 : 0;
}

}  // namespace

int32_t DSGetObjectName(int32_t* base, int32_t kind, int32_t id, uint8_t* names,
                        int32_t names_bytes) {
  if (KernelSys(base) == 0) return KERNEL_NOT_STARTED;
  const int32_t thr = CurrentThread();
  if (!InStorage(base, thr, THR_WORDS)) return DCB_NO_THREAD;
  if (names == nullptr || names_bytes < OBJECT_NAME_BYTES) return KERNEL_BAD_PARAMETER;
  const bool databank = kind >= -1;
  int32_t slot = databank ? THR_STM_MOS_DATABANK : THR_STM_MOS_TABLE;
  if (kind < OBJECT_KIND_TABLE) {
    slot = THR_STM_MOS_DOMAIN;
    if (SlotStatement(base, thr, slot, DOMAIN_IMAGE, 0) != 0) return NAME_NOT_FOUND;
  }
  const int32_t stm = Wd(base, thr, slot);
  if (!InStorage(base, stm, STM_WORDS)) return NAME_NOT_FOUND;
  int32_t st = 0;
  DSSetParInt(base, &st, stm, 1, id);
  if (st == 0 && databank) DSSetParNull(base, &st, stm, 2);
  if (st != 0) return st;
  bool found = false;
  int32_t rvec[RVEC_WORDS] = {};
  const int32_t status = RunQuery(base, thr + THR_USR_START, stm, rvec, [&] {
    int32_t row_kind = 0;
    int32_t s = 0;
    DSGetColInt(base, &s, stm, OBJECT_KIND_COLUMN, &row_kind);
    if (!(databank && kind == -1) && (s != 0 || row_kind != kind)) return false;
    std::memset(names, ' ', names_bytes);
    ColumnInto(base, stm, 1, names + OBJECT_NAME_FIRST, OBJECT_NAME_SECOND - OBJECT_NAME_FIRST);
    ColumnInto(base, stm, 3, names + OBJECT_NAME_SECOND,
               std::min(ColumnLength(base, stm, 3), names_bytes - OBJECT_NAME_SECOND));
    ColumnInto(base, stm, 7, names + OBJECT_NAME_THIRD,
               std::min(ColumnLength(base, stm, 7), names_bytes - OBJECT_NAME_THIRD));
    found = true;
    return true;
  });
  if (status < 0) return status;
  return found ? 0 : NAME_NOT_FOUND;
}

void DSGetColumnName(int32_t* base, int32_t* request, uint8_t* name) {
  const int32_t usr = request[COLREQ_USR];
  if (KernelSys(base) == 0) {
    request[COLREQ_STATUS] = KERNEL_NOT_STARTED;
    return;
  }
  const int32_t thr = CurrentThread();
  if (!InStorage(base, thr, THR_WORDS)) {
    request[COLREQ_STATUS] = DCB_NO_THREAD;
    return;
  }
  std::memset(name, ' ', COLUMN_NAME_BYTES);
  int32_t rc = SlotStatement(base, thr, THR_STM_MOS_COLUMN, COLUMN_IMAGE, usr);
  const int32_t stm = Wd(base, thr, THR_STM_MOS_COLUMN);
  if (rc == 0) DSSetParInt(base, &rc, stm, 1, request[COLREQ_TABLE]);
  if (rc == 0) DSSetParInt(base, &rc, stm, 2, request[COLREQ_COLUMN]);
  if (rc != 0) {
    request[COLREQ_STATUS] = rc;
    return;
  }
  int32_t rvec[RVEC_WORDS] = {};
  rc = RunQuery(base, thr + THR_USR_START, stm, rvec, [&] {
    ColumnInto(base, stm, 1, name, COLUMN_NAME_BYTES);
    return true;
  });
  if (rc < 0 && InStorage(base, usr, USR_WORDS))
    std::copy(rvec, rvec + RVEC_WORDS, &Wd(base, usr, USR_RVEC_RCODE));
  request[COLREQ_STATUS] = rc;
}
