// DSSysStmCtl (see catalog_lists.h). Mode 3 runs the collation-list
// statement for the system session and keeps one 264-byte entry per row:
// NEXT, the number from column 1, the 256 bytes of column 2.
#include "kernel/catalog_lists.h"

#include "kernel/control_blocks.h"
#include "kernel/statement_columns.h"
#include "kernel/statements.h"
#include "kernel/system_block.h"
#include "kernel/upper_services.h"

namespace {

void FreeChain(int32_t* base, int32_t sys) {
  int32_t entry = Wd(base, sys, SYS_COLLCB);
  Wd(base, sys, SYS_COLLCB) = 0;
  while (entry != 0 && InStorage(base, entry, COLLCB_BYTES / 4)) {
    const int32_t next = Wd(base, entry, 0);
    DSGetMem(base, &entry, 0);
    entry = next;
  }
}

// Reads the rows of the open statement into the chain; 0 or an error.
int32_t LoadRows(int32_t* base, int32_t sys, int32_t stm, int32_t usr) {
  Wd(base, stm, STM_PC) = 2;
  for (;;) {
    int32_t result[1 + RVEC_WORDS] = {};
    UpDAMAE2(base, result, stm, usr);
    if (result[0] < 0) return result[0];
    if (result[0] > 0 || Wd(base, stm, STM_PC) == 0) return 0;
    int32_t entry = 0;
    DSGetMem(base, &entry, COLLCB_BYTES);
    if (entry == 0) return SQLPOOL_EXHAUSTED_ERROR;
    Wd(base, entry, 0) = Wd(base, sys, SYS_COLLCB);
    Wd(base, sys, SYS_COLLCB) = entry;
    int32_t status = 0;
    DSGetColInt(base, &status, stm, 1, &Wd(base, entry, 1));
    if (status != 0) return status < 0 ? status : KERNEL_BAD_PARAMETER;
    // Column 2 must be the 256-byte table (a field of 257 bytes).
    uint8_t* field = nullptr;
    int32_t length = 0;
    status = StatementField(base, stm, true, 2, &field, &length);
    if (status == 0 && length != 257) status = KERNEL_BAD_PARAMETER;
    if (status == 0)
      DSGetColBytes(base, &status, stm, 2, reinterpret_cast<uint8_t*>(&Wd(base, entry, 2)), 0);
    if (status != 0) return status;
  }
}

}  // namespace

void DSSysStmCtl(int32_t* base, int32_t* request, int32_t mode, int32_t argument,
                 const uint8_t* area) {
  const int32_t sys = KernelSys(base);
  if (sys == 0) {
    request[0] = KERNEL_NOT_STARTED;
    return;
  }
  if (mode == 1 || mode == 2) {
    const int32_t rc = UpXLInstallTable(base, mode, argument, area);
    request[0] = rc;
    if (rc < 0 && InStorage(base, request[1], USR_WORDS)) Wd(base, request[1], USR_RVEC_RCODE) = rc;
    return;
  }
  if (mode != 3) {
    request[0] = 0;
    return;
  }
  FreeChain(base, sys);
  const int32_t usr = sys + SYS_USR_START;
  int32_t stm = 0;
  int32_t rc = DSCreateStmFromImage(base, usr, COLLATION_LIST_IMAGE, &stm);
  if (rc == 0) rc = DSOpenStm(base, 0, usr, stm);
  if (rc == 0) rc = LoadRows(base, sys, stm, usr);
  if (stm != 0) DSCloseStm(base, usr, &stm);
  if (rc != 0) Wd(base, sys, SYS_RVEC) = rc;
  request[0] = rc;
}
