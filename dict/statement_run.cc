// The run protocol over the work block's slots, the request interface's
// selection and the interpreter.
#include "dict/statement_run.h"

#include <cstring>

#include "dict/statement_params.h"
#include "dict/statement_prepare.h"
#include "dict/upper_services.h"
#include "dict/work_block.h"
#include "du/transactions.h"
#include "interp/exec_stm.h"
#include "kernel/control_blocks.h"
#include "kernel/statement_columns.h"
#include "kernel/system_block.h"
#include "kernel/table_use.h"

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

int32_t DDReopenSlot(int32_t* base, int32_t* pb, int32_t number) {
  int32_t* slot = DDWorkSlot(base, pb[1], number, &pb[0]);
  if (slot == nullptr) return pb[0];
  if (slot[SLOT_STM] != 0) {
    DDClose(base, slot);
    pb[0] = slot[SLOT_STATUS];
  }
  return pb[0];
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

int32_t DDVariantStatement(int32_t* base, int32_t* pb, int32_t number, int32_t image) {
  const int32_t mode = pb[0];
  int32_t* slot = DDWorkSlot(base, pb[1], number, &pb[0]);
  if (slot == nullptr) return 0;
  if (mode != 0 && mode != PREPARE_NO_BIND) {
    pb[0] = KERNEL_BAD_PARAMETER;
    return 0;
  }
  // A statement prepared under the other mode is prepared again.
  if (slot[SLOT_STM] != 0 && slot[SLOT_STATUS] != mode) {
    DDClose(base, slot);
    if (slot[SLOT_STATUS] != 0) {
      pb[0] = slot[SLOT_STATUS];
      return 0;
    }
  }
  if (slot[SLOT_STM] == 0) {
    slot[SLOT_STATUS] = mode;
    slot[SLOT_OWNER] = pb[1];
    DDPrepareImage(base, slot, kStmtImages[image]);
    if (slot[SLOT_STM] == 0) {
      pb[0] = slot[SLOT_STATUS];
      return 0;
    }
    slot[SLOT_STATUS] = mode;
  }
  pb[0] = 0;
  // Prepared without binding, the statement cannot run yet.
  return mode == PREPARE_NO_BIND ? 0 : slot[SLOT_STM];
}

namespace {

constexpr int32_t kPathElement = 129;  // an indicator and 128 characters

// Parameter n of `stm`, a 387-byte schema path (see DDRunByPath).
int32_t SetPath(int32_t* base, int32_t usr, int32_t stm, int32_t n, const char* schema,
                int32_t length) {
  uint8_t path[LVL_PATH_BYTES - 1];
  std::memset(path, 255, sizeof path);
  const int32_t ucom = Wd(base, usr, USR_DDUCOM);
  const char* one = nullptr;
  if (length > 0) {
    one = schema;
  } else if (ucom != 0 && Wd(base, ucom, DDUCOM_PATH_FLAG) > 0) {
    one = reinterpret_cast<const char*>(&Wd(base, ucom, DDUCOM_SCHEMA));
    length = Wd(base, ucom, DDUCOM_SCHEMA_LENGTH);
  }
  int32_t status = 0;
  if (one == nullptr) {
    DSSetParPath(base, &status, stm, n, Wd(base, usr, USR_LVL));
    return status;
  }
  // A name longer than the field is refused: cut, it could name another
  // schema.
  if (length > kPathElement - 1) return DDParams::kTextTooLong;
  std::memset(path, ' ', kPathElement - 1);
  std::memcpy(path, one, static_cast<std::size_t>(length));
  DSSetParBin(base, &status, stm, n, path, 0);
  return status;
}

}  // namespace

int32_t DDRunByPath(int32_t* base, int32_t* pb, int32_t stm, const char* schema,
                    int32_t schema_length, const char* name, int32_t name_length,
                    std::string_view kind) {
  if ((pb[0] = SetPath(base, pb[1], stm, 1, schema, schema_length)) != 0) return pb[0];
  DDParams p(base, stm);
  p.TextLength(2, name, name_length);
  if (!kind.empty()) p.Text(4, kind);
  if ((pb[0] = p.status()) != 0) return pb[0];
  return DDSelectRun(base, pb, stm, true);
}

int32_t DDCursorByName(int32_t* base, int32_t* pb, int32_t number, int32_t image,
                       const char* name, int32_t length) {
  const bool open = pb[0] != 0;
  const int32_t stm = DDSlotStatement(base, pb, number, image);
  if (stm == 0) return 0;
  if (open) {
    DDParams p(base, stm);
    p.TextLength(1, name, length);
    if ((pb[0] = p.status()) != 0) return 0;
  }
  return DDSelectRun(base, pb, stm, open) == 0 ? stm : 0;
}

void DDDropCursor(int32_t* base, int32_t* pb, int32_t number, int32_t image, bool open,
                  bool by_name, int32_t id, const char* name, int32_t name_length,
                  int32_t* id_out) {
  const int32_t stm = DDSlotStatement(base, pb, number, image);
  if (stm == 0) return;
  if (open) {
    DDParams p(base, stm);
    if (by_name)
      p.Null(1).TextLength(2, name, name_length);
    else
      p.Int(1, id).Null(2).Null(3);
    if ((pb[0] = p.status()) != 0) return;
  }
  if (DDSelectRun(base, pb, stm, open) != 0) return;
  DSGetColInt(base, &pb[0], stm, 1, id_out);
}

void DDLevelSchemaDefault(int32_t* base, int32_t usr, const char** schema, int32_t* length) {
  if (*length != 0) return;
  const int32_t ucom = Wd(base, usr, USR_DDUCOM);
  *schema = reinterpret_cast<const char*>(&Wd(base, ucom, DDUCOM_LEVEL_NAME));
  *length = Wd(base, ucom, DDUCOM_LEVEL_LENGTH);
}

void DDRunWithId(int32_t* base, int32_t* pb, int32_t number, int32_t image, int32_t id) {
  const int32_t stm = DDSlotStatement(base, pb, number, image);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, id);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

namespace {
constexpr int32_t kStatementSelected = 2;  // STATUS: selected, not yet run
constexpr int32_t kStatementRunning = 3;
}  // namespace

int32_t DDExecStm(int32_t* base, int32_t usr, int32_t stm) {
  // Position 0 of a statement left running starts it over: the runtime
  // starts a statement that is not running from its first instruction.
  if (Wd(base, stm, STM_PC) == 0 && Wd(base, stm, STM_STATUS) == kStatementRunning)
    Wd(base, stm, STM_STATUS) = kStatementSelected;
  int32_t pb[interp::kExecWords] = {0, usr, stm, 0, 0, 0};
  interp::DSExecStm(base, pb);
  return pb[interp::kExecResult];
}
