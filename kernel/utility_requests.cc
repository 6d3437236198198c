// DSNewCursor, DSAttach and DSChkTableKind (see utility_requests.h).
#include "kernel/utility_requests.h"

#include <cstdlib>

#include "kernel/control_blocks.h"
#include "kernel/databank_control.h"
#include "kernel/system_block.h"

namespace {

// The session of a block, or 0 after answering for a kernel not started or
// a session outside the storage.
int32_t Session(int32_t* base, int32_t* block) {
  if (KernelSys(base) == 0) {
    block[0] = KERNEL_NOT_STARTED;
    return 0;
  }
  if (!InStorage(base, block[1], USR_WORDS)) {
    block[0] = KERNEL_BAD_PARAMETER;
    return 0;
  }
  return block[1];
}

// 0 when databank `id` is open, else -19046 (also in the session's result
// vector).
int32_t MustBeOpen(int32_t* base, int32_t usr, int32_t id) {
  int32_t look[OPD_WORDS] = {5, id};
  DSOpenDcb(base, look);
  if (look[OPD_KIND] == 0 && look[OPD_DCB] != 0) return 0;
  const int32_t status = look[OPD_KIND] < 0 ? look[OPD_KIND] : DCB_NO_ROW;
  DSDatabankFailure(base, usr, status, id, -1);
  return status;
}

}  // namespace

void DSNewCursor(int32_t* base, int32_t* block) {
  const int32_t usr = Session(base, block);
  if (usr == 0) return;
  const int32_t status = block[0];
  if (status != NEW_CURSOR_BEFORE && status != NEW_CURSOR_AFTER) {
    block[0] = KERNEL_BAD_PARAMETER;
    Wd(base, usr, USR_RVEC_RCODE) = KERNEL_BAD_PARAMETER;
    return;
  }
  block[0] = 0;
}

void DSAttach(int32_t* base, int32_t* block) {
  const int32_t usr = Session(base, block);
  if (usr == 0) return;
  const int32_t status = block[0];
  const int64_t count = std::llabs(static_cast<int64_t>(block[ATTACH_COUNT]));
  if (status < 1 || status > 3 || count > ATTACH_MAX) {
    block[0] = KERNEL_BAD_PARAMETER;
    Wd(base, usr, USR_RVEC_RCODE) = KERNEL_BAD_PARAMETER;
    return;
  }
  if (count == 0) {
    block[0] = MustBeOpen(base, usr, block[2]);
    return;
  }
  for (int64_t k = 0; k < count; ++k) {
    if (const int32_t r = MustBeOpen(base, usr, block[ATTACH_IDS + k]); r != 0) {
      block[0] = r;
      return;
    }
  }
  block[0] = 0;
}

void DSChkTableKind(int32_t* base, int32_t* block) {
  const int32_t usr = Session(base, block);
  if (usr == 0) return;
  block[0] = MustBeOpen(base, usr, block[2]);
}
