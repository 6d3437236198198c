// Fills the entries of record access's service table that the kernel core
// serves (see record_access_services.h).
#include "kernel/record_access_services.h"

#include "kernel/databank_control.h"
#include "kernel/statements.h"
#include "kernel/table_use.h"

namespace {

int32_t ReleaseDatabank(int32_t* base, int32_t mode, int32_t lid, int32_t sequence) {
  int32_t request[CLS_WORDS] = {mode, lid, sequence};
  DSCloseDcb(base, request);
  return request[CLS_MODE];
}

int32_t TableUsedByUser(int32_t* base, int32_t usr, int32_t table) {
  return DSTableInUse(base, usr, 1, table);
}

int32_t CloseStatement(int32_t* base, int32_t usr, int32_t stm) {
  return DSCloseStm(base, usr, &stm);
}

const DUUpperServices kServices = {
    nullptr,          // open_databank: the request interface's DSOpenDbReq
    nullptr,          // close_databank: the request interface's DSCloseDbReq
    ReleaseDatabank,  // DSCloseDcb
    nullptr,          // constr_text: the dictionary's table description
    DSOpenTableExcl,  // open_table_excl
    TableUsedByUser,  // DSTableInUse kind 1
    CloseStatement,   // DSCloseStm
    nullptr,          // statement_work_end: the request interface's DSStmWorkEnd
};

}  // namespace

const DUUpperServices* KernelRecordAccessServices() {
  return &kServices;
}
