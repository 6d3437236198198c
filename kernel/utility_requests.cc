// DSNewCursor (see utility_requests.h).
#include "kernel/utility_requests.h"

#include "kernel/control_blocks.h"
#include "kernel/system_block.h"

void DSNewCursor(int32_t* base, int32_t* block) {
  if (KernelSys(base) == 0) {
    block[0] = KERNEL_NOT_STARTED;
    return;
  }
  const int32_t status = block[0], usr = block[1];
  if (!InStorage(base, usr, USR_WORDS)) {
    block[0] = KERNEL_BAD_PARAMETER;
    return;
  }
  if (status != NEW_CURSOR_BEFORE && status != NEW_CURSOR_AFTER) {
    block[0] = KERNEL_BAD_PARAMETER;
    Wd(base, usr, USR_RVEC_RCODE) = KERNEL_BAD_PARAMETER;
    return;
  }
  block[0] = 0;
}
