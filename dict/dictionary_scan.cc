// The rows of a table its caller names, through a statement whose record
// block stands for that table.
#include <algorithm>
#include <cstring>

#include "dict/dictionary_cursors.h"
#include "dict/statement_prepare.h"
#include "dict/statement_run.h"
#include "dict/work_block.h"
#include "du/record_access_words.h"
#include "kernel/control_blocks.h"
#include "kernel/statement_columns.h"
#include "kernel/statements.h"
#include "kernel/system_block.h"

namespace {

// The scan statement's record block, or 0.
int32_t RecordBlock(int32_t* base, int32_t stm) {
  const int32_t com = Wd(base, stm, STM_ACTIVE_COM);
  const int32_t sd = Wd(base, com, COM_SD), stg = Wd(base, com, COM_STG);
  if (Wd(base, sd, SD_TABLE_HANDLES + 1) != 1) return 0;
  const int64_t rec = int64_t{stg} + Wd(base, sd, Wd(base, sd, SD_TABLE_HANDLES));
  return InStorage(base, rec, DUREC_RECORD) ? static_cast<int32_t>(rec) : 0;
}

// Names `table` in the statement's one record block and gives result
// column 1 the table's record length: 0, or -19078 for a statement
// without that block or column.
int32_t NameTable(int32_t* base, int32_t stm, const DDScanTable& table, int32_t access) {
  const int32_t sd = Wd(base, Wd(base, stm, STM_ACTIVE_COM), COM_SD);
  const int32_t outputs = Wd(base, sd, SD_OUTPUT_TABLE);
  const int32_t rec = RecordBlock(base, stm);
  if (rec == 0 || Wd(base, sd, SD_OUTPUT_TABLE + 1) != 1 ||
      !InStorage(base, int64_t{sd} + outputs, 2))
    return DD_BAD_IMAGE;
  Wd(base, rec, DUREC_LID) = table.lid;
  Wd(base, rec, DUREC_TNAME) = table.table;
  Wd(base, rec, DUREC_TYPE) = table.type;
  Wd(base, rec, DUREC_KEYLEN) = table.key_length;
  Wd(base, rec, DUREC_RECLEN) = table.record_length;
  Wd(base, rec, DUREC_ACCESS_MODE) = access;
  Wd(base, sd, outputs + 1) = table.record_length;
  return 0;
}

}  // namespace

int32_t DDScanChain(int32_t* base, int32_t usr) {
  int32_t status = 0;
  const int32_t* slot = DDWorkSlot(base, usr, SLOT_DDScanTableRows, &status);
  if (slot == nullptr || slot[SLOT_STM] == 0) return 0;
  const int32_t rec = RecordBlock(base, slot[SLOT_STM]);
  const int32_t tcb = rec != 0 ? Wd(base, rec, DUREC_OBJECT) : 0;
  if (tcb <= 0 || !InStorage(base, tcb, TCB_ICB + 1)) return 0;
  int32_t block = 0;
  DSGetMem(base, &block, 4 * DD_SCAN_CHAIN_WORDS);
  if (block == 0) return 0;
  const int32_t ucom = Wd(base, usr, USR_DDUCOM);
  Wd(base, block, 0) = Wd(base, ucom, DDUCOM_CHAIN);
  Wd(base, ucom, DDUCOM_CHAIN) = block;
  Wd(base, block, 2) = Wd(base, tcb, TCB_ICB);
  Wd(base, block, 6) = 1;
  return block;
}

void DDScanTableRows(int32_t* base, int32_t* pb, const DDScanTable& table, uint8_t* row,
                     int32_t capacity, int32_t* length) {
  const int32_t mode = pb[0], usr = pb[1];
  *length = 0;
  if (mode < 0 || capacity < 0 ||
      (mode > 0 && (table.record_length < 1 || table.record_length > DD_SCAN_RECORD_MAX ||
                    table.key_length < 1 || table.key_length > table.record_length))) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  int32_t* slot = DDWorkSlot(base, usr, SLOT_DDScanTableRows, &pb[0]);
  if (slot == nullptr) return;
  if (mode == 0 && slot[SLOT_STM] == 0) {
    pb[0] = 1;  // no table named
    return;
  }
  if (mode > 0) {
    if (slot[SLOT_STM] == 0) {
      slot[SLOT_STATUS] = PREPARE_NO_BIND;
      slot[SLOT_OWNER] = usr;
      DDPrepareImage(base, slot, kStmtImages[IMAGE_DDScanTableRows]);
      if ((pb[0] = slot[SLOT_STATUS]) != 0) return;
    } else if ((pb[0] = DSReleaseStm(base, 0, usr, slot[SLOT_STM])) != 0) {
      return;
    }
    int32_t rc = NameTable(base, slot[SLOT_STM], table, mode == 3 ? 3 : 4);
    if (rc == 0) rc = DSOpenStm(base, mode == 1 ? -1 : 0, usr, slot[SLOT_STM]);
    if (rc != 0) {
      // A statement that cannot be bound is given up whole.
      DDClose(base, slot);
      pb[0] = rc;
      return;
    }
  }
  const int32_t stm = slot[SLOT_STM];
  if (DDSelectRun(base, pb, stm, mode > 0) != 0) return;
  uint8_t* field = nullptr;
  int32_t bytes = 0;
  if ((pb[0] = StatementField(base, stm, true, 1, &field, &bytes)) != 0) return;
  *length = std::min(bytes, capacity);
  std::memcpy(row, field, static_cast<size_t>(*length));
}
