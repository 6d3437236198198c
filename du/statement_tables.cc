// The tables of a statement: every record block of its permanent and
// temporary table lists opened with its databank before the statement runs
// and closed after it, each level's databank reference given back; a failed
// list is closed again.
#include "du/table_internal.h"
#include "du/tables.h"
#include "du/upper_services.h"
#include "kernel/error_report.h"
#include "kernel/statement_columns.h"
#include "kernel/system_block.h"

using du::F;
using du::W;

namespace {

int32_t OwnRecord(int32_t stm) {
  return stm + STM_NEXT_COM;
}

// A statement's work table is its own: closed with the statement, it is
// dropped as well.
int32_t CloseCode(const int32_t* record, int32_t code) {
  return record[DUREC_TNAME] == DU_WORK_TABLE ? CLOSE_DROP_WORK : code;
}

void Report(int32_t* base, int32_t usr, int32_t status, const int32_t* record) {
  W(base, F(usr, USR_RVEC_RCODE)) = status;
  W(base, F(usr, USR_RVEC_TNAME)) = record[DUREC_TNAME];
  W(base, F(usr, USR_RVEC_LID)) = record[DUREC_LID];
  W(base, F(usr, USR_RVEC_BITVEC)) = 0;
}

// Closes the first `count` record blocks of a list with `code`.
void CloseFirst(int32_t* base, int32_t usr, int32_t record, int32_t lists, int32_t count,
                int32_t code) {
  int32_t n = 0;
  ForEachListedRecordBlock(
      base, record,
      [&](int32_t* rec) {
        if (n++ >= count) return;
        int32_t pb[2] = {0, usr};
        int32_t close[CLB_WORDS] = {CloseCode(rec, code)};
        rec[DUREC_STATUS] = 0;
        DSCloseTableRefs(base, pb, rec, close);
      },
      lists);
}

// Opens every record block of the lists; at the first failure the ones
// opened are closed again. 0 or the failure.
int32_t OpenList(int32_t* base, int32_t usr, int32_t record, int32_t lists) {
  int32_t opened = 0, status = 0;
  ForEachListedRecordBlock(
      base, record,
      [&](int32_t* rec) {
        if (status != 0) return;
        int32_t pb[2] = {0, usr};
        int32_t open[OPB_WORDS] = {OPEN_BASE};
        DSOpenTableDcb(base, pb, rec, open);
        if ((status = pb[0]) == 0) ++opened;
      },
      lists);
  if (status != 0) {
    int32_t kept[RVEC_WORDS] = {0};
    DSErrParm(0, base, usr, kept);
    CloseFirst(base, usr, record, lists, opened, CLOSE_HELD);
    DSErrParm(1, base, usr, kept);
  }
  return status;
}

}  // namespace

void DSOpenTableDcb(int32_t* base, int32_t* pb, int32_t* record, int32_t* open) {
  const int32_t usr = pb[1];
  if (record[DUREC_ACCESS_MODE] == 1) {
    const int32_t rc = DUOpenTableExclusive(base, usr, record, open);
    if (rc != 0 && record[DUREC_STATUS] == 0) record[DUREC_STATUS] = rc;
  } else {
    DUOpenTableChain(base, usr, record, open);
  }
  int32_t status = record[DUREC_STATUS];
  if (status < 0) {
    if (status == DU_TABLE_IN_USE && DUTableUsedByUser(base, usr, record[DUREC_TNAME]) == 1)
      status = DU_TABLE_HELD;  // another user holds the table
    Report(base, usr, status, record);
    if (record[DUREC_OBJECT] != 0) {
      int32_t close_pb[2] = {0, usr};
      int32_t close[CLB_WORDS] = {CloseCode(record, CLOSE_HELD)};
      DSCloseTableRefs(base, close_pb, record, close);
      Report(base, usr, status, record);
    }
    record[DUREC_STATUS] = status;
  }
  pb[0] = status;
}

void DSCloseTableRefs(int32_t* base, int32_t* pb, int32_t* record, int32_t* close) {
  const int32_t usr = pb[1];
  int32_t first[RVEC_WORDS] = {0};
  const int32_t tname = record[DUREC_TNAME];
  do {
    DUCloseTables(base, record, close);
    if (record[DUREC_STATUS] < 0) {
      W(base, F(usr, USR_RVEC_RCODE)) = record[DUREC_STATUS];
      W(base, F(usr, USR_RVEC_TNAME)) = tname;
      DSErrParm(0, base, usr, first);
    }
    if (close[CLB_CLOSED_LID] != 0) {
      const int32_t rc = DUCloseDatabank(base, usr, 0, close[CLB_CLOSED_LID], -1);
      if (rc < 0) {
        W(base, F(usr, USR_RVEC_RCODE)) = rc;
        W(base, F(usr, USR_RVEC_LID)) = close[CLB_CLOSED_LID];
        W(base, F(usr, USR_RVEC_TNAME)) = tname;
        DSErrParm(0, base, usr, first);
      }
      close[CLB_CLOSED_LID] = 0;
    }
  } while (record[DUREC_STATUS] > 0);
  DSErrParm(1, base, usr, first);
  pb[0] = first[0];
}

void DSOpenStmPermTables(int32_t* base, int32_t* pb, int32_t stm) {
  const int32_t usr = pb[1];
  pb[0] = du::BlockInside(base, stm, STM_WORDS)
              ? OpenList(base, usr, OwnRecord(stm), LIST_PERMANENT)
              : DU_BAD_ARGUMENT;
}

void DSCloseStmPermTables(int32_t* base, int32_t* pb, int32_t stm) {
  const int32_t usr = pb[1];
  if (!du::BlockInside(base, stm, STM_WORDS)) {
    pb[0] = DU_BAD_ARGUMENT;
    return;
  }
  int32_t first[RVEC_WORDS] = {0};
  ForEachListedRecordBlock(
      base, OwnRecord(stm),
      [&](int32_t* rec) {
        int32_t close_pb[2] = {0, usr};
        int32_t close[CLB_WORDS] = {CloseCode(rec, CLOSE_TABLE)};
        rec[DUREC_STATUS] = 0;
        DSCloseTableRefs(base, close_pb, rec, close);
        if (close_pb[0] != 0) DSErrParm(0, base, usr, first);
      },
      LIST_PERMANENT);
  DSErrParm(1, base, usr, first);
  pb[0] = first[0];
}

void DSOpenStmTempTables(int32_t* base, int32_t* pb, int32_t stm) {
  const int32_t usr = pb[1];
  if (!du::BlockInside(base, stm, STM_WORDS)) {
    pb[0] = DU_BAD_ARGUMENT;
    return;
  }
  int32_t status = 0;
  ForEachListedRecordBlock(
      base, OwnRecord(stm),
      [&](int32_t* rec) {
        if (status != 0) return;
        const int32_t type = rec[DUREC_TYPE];
        const int32_t tcb = rec[DUREC_OBJECT];
        if (type != DU_TYPE_INDEX && type != DU_TYPE_INDEX_REF &&
            du::BlockInside(base, tcb, TCB_WORDS)) {
          const int32_t locking = du::AtomicLoad(base, F(tcb, TCB_LOCKING_USR));
          if (locking != 0 && locking != usr) {
            status = DU_TABLE_HELD;
            Report(base, usr, status, rec);
            return;
          }
        }
        rec[DUREC_REQUEST_WORDS] = QueueRecordWords(rec[DUREC_RECLEN]);
      },
      LIST_PERMANENT);
  if (status == 0) status = OpenList(base, usr, OwnRecord(stm), LIST_TEMPORARY);
  pb[0] = status;
}

int32_t DSOpenComTables(int32_t* base, int32_t usr, int32_t com) {
  int32_t pb[2] = {0, usr};
  DSOpenStmPermTables(base, pb, com - STM_NEXT_COM);
  return pb[0];
}

int32_t DSCloseSecTables(int32_t* base, int32_t usr, int32_t sd, int32_t stg) {
  int32_t first = 0;
  const int32_t list = Wd(base, sd, SD_TABLE_HANDLES), count = Wd(base, sd, SD_TABLE_HANDLES + 1);
  for (int32_t k = 0; k < count; ++k) {
    int32_t pb[2] = {0, usr};
    int32_t* rec = &Wd(base, stg, Wd(base, sd, list + k));
    int32_t close[CLB_WORDS] = {CloseCode(rec, CLOSE_TABLE)};
    rec[DUREC_STATUS] = 0;
    DSCloseTableRefs(base, pb, rec, close);
    if (first == 0) first = pb[0];
  }
  return first;
}
