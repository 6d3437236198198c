// DSLobChkPut and DSLobChkGet (see lob_checks.h).
#include "kernel/lob_checks.h"

#include <cstring>

#include "kernel/control_blocks.h"
#include "kernel/statement_columns.h"
#include "kernel/statements.h"
#include "kernel/system_block.h"
#include "kernel/table_use.h"

namespace {

template <typename F>
int32_t FirstHandle(int32_t* base, int32_t stm, F matches) {
  if (KernelSys(base) == 0 || !InStorage(base, stm, STM_WORDS)) return KERNEL_BAD_PARAMETER;
  const int32_t com = Wd(base, stm, STM_ACTIVE_COM);
  if (!InStorage(base, com, COM_DBGINF + 1)) return KERNEL_BAD_PARAMETER;
  int32_t found = 0;
  ForEachTableHandle(base, com, [&](int32_t handle) {
    if (found == 0 && matches(handle)) found = handle;
  });
  return found != 0 ? found : KERNEL_BAD_PARAMETER;
}

}  // namespace

int32_t DSLobChkPut(int32_t* base, int32_t stm) {
  return FirstHandle(base, stm, [&](int32_t h) { return Wd(base, h, HANDLE_ACCESS) < 4; });
}

int32_t DSLobChkGet(int32_t* base, int32_t stm, int32_t table) {
  return FirstHandle(base, stm, [&](int32_t h) { return Wd(base, h, HANDLE_TNAME) == table; });
}

int32_t DSSetLevelPath(int32_t* base, int32_t usr, const uint8_t* path) {
  const int32_t lvl = InStorage(base, usr, USR_WORDS) ? Wd(base, usr, USR_LVL) : 0;
  if (!InStorage(base, lvl, LVL_WORDS) || path == nullptr) return KERNEL_BAD_PARAMETER;
  std::memcpy(&Wd(base, lvl, LVL_PATH), path, LVL_PATH_BYTES - 1);
  return 0;
}
