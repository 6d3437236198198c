// The run protocol over the work block's slots, the request interface's
// selection and the interpreter.
#include "dict/statement_run.h"

#include <cstring>

#include "dict/statement_prepare.h"
#include "dict/upper_services.h"
#include "dict/work_block.h"
#include "du/transactions.h"
#include "interp/machine.h"
#include "kernel/control_blocks.h"
#include "kernel/statement_columns.h"
#include "kernel/system_block.h"

int32_t DDSlotStatement(int32_t* base, int32_t* pb, int32_t number, int32_t image) {
  const int32_t usr = pb[1];
  int32_t* slot = DDWorkSlot(base, usr, number, &pb[0]);
  if (slot == nullptr) return 0;
  if (slot[SLOT_STM] == 0) {
    slot[SLOT_STATUS] = 0;
    slot[SLOT_OWNER] = usr;
    DDPrepareImage(base, slot, kStmtImages[image]);
    if (slot[SLOT_STATUS] != 0) {
      pb[0] = slot[SLOT_STATUS];
      return 0;
    }
  }
  pb[0] = 0;
  return slot[SLOT_STM];
}

int32_t DDSelectRun(int32_t* base, int32_t* pb, int32_t stm, bool restart) {
  if (restart) {
    int32_t sel[3] = {0, pb[1], stm};
    DDSelStm(base, sel);
    if (sel[0] != 0) return pb[0] = sel[0];
    Wd(base, stm, STM_PC) = 0;
  }
  return pb[0] = DDExecStm(base, pb[1], stm);
}

int32_t DDExecStm(int32_t* base, int32_t usr, int32_t stm) {
  const int32_t com = Wd(base, stm, STM_ACTIVE_COM);
  const int32_t sd = Wd(base, com, COM_SD), pgm = Wd(base, com, COM_PGM);
  const int32_t stg = Wd(base, com, COM_STG);
  if (!InStorage(base, sd, SD_MIN_WORDS) || pgm <= sd || stg <= pgm)
    return KERNEL_BAD_PARAMETER;
  const int32_t words = Wd(base, sd, SD_STORAGE_WORDS);
  if (!InStorage(base, stg, words)) return KERNEL_BAD_PARAMETER;
  char name[128];
  std::memset(name, ' ', sizeof name);
  const int32_t lvl = Wd(base, usr, USR_LVL);
  if (InStorage(base, lvl, LVL_WORDS)) std::memcpy(name, &Wd(base, lvl, LVL_NAME), sizeof name);
  DSSetCursorOrder(base, usr, Wd(base, stm, STM_CURSOR_ORDER_NUMBER));
  // A run starts behind BEG (which the interpreter enters only to report
  // an error or resume a requeue).
  int32_t position = Wd(base, stm, STM_PC) == 0 ? 2 : Wd(base, stm, STM_PC);
  int32_t rvec[RVEC_WORDS] = {};
  interp::DAMAE2(base, rvec, &Wd(base, pgm, 0), stg - pgm, &Wd(base, stg, 0), words, &position,
                 name, usr);
  Wd(base, stm, STM_PC) = rvec[0] < 0 ? 0 : position;
  return rvec[0];
}
