// The service table of the layers above record access and the dispatcher
// seam: each call goes to the installed entry, or logs the service's name
// and answers -19040 (record access's "not initialised") when there is none.
#include "du/upper_services.h"

#include <atomic>
#include <cstring>

#include "dk/request.h"
#include "du/record_access_words.h"
#include "kernel/error_report.h"

namespace {

std::atomic<const DUUpperServices*> g_services{nullptr};
std::atomic<DUKernelDispatcher> g_dispatcher{nullptr};
std::atomic<DUKernelDispatcher2> g_dispatcher2{nullptr};

const DUUpperServices* Services() {
  return g_services.load(std::memory_order_acquire);
}

int32_t Absent(const char* name) {
  DSErrRep(name, static_cast<int32_t>(std::strlen(name)), DU_NOT_INITIALISED, SEV_ERROR);
  return DU_NOT_INITIALISED;
}

}  // namespace

const DUUpperServices* DUInstallUpperServices(const DUUpperServices* services) {
  return g_services.exchange(services, std::memory_order_acq_rel);
}

int32_t DUOpenDatabank(int32_t* base, int32_t usr, int32_t lid, int32_t* dcb) {
  const DUUpperServices* s = Services();
  if (!s || !s->open_databank) return Absent("DSOpenDbReq");
  return s->open_databank(base, usr, lid, dcb);
}

int32_t DUCloseDatabank(int32_t* base, int32_t usr, int32_t mode, int32_t lid, int32_t last) {
  const DUUpperServices* s = Services();
  if (!s || !s->close_databank) return Absent("DSCloseDbReq");
  return s->close_databank(base, usr, mode, lid, last);
}

int32_t DUReleaseDatabank(int32_t* base, int32_t mode, int32_t lid, int32_t sequence) {
  const DUUpperServices* s = Services();
  if (!s || !s->release_databank) return Absent("DSCloseDcb");
  return s->release_databank(base, mode, lid, sequence);
}

int32_t DUConstrText(int32_t* base, int32_t usr, int32_t* open_block) {
  const DUUpperServices* s = Services();
  if (!s || !s->constr_text) return Absent("DSConstrText");
  return s->constr_text(base, usr, open_block);
}

int32_t DUOpenTableExclusive(int32_t* base, int32_t usr, int32_t* record, int32_t* open_block) {
  const DUUpperServices* s = Services();
  if (!s || !s->open_table_excl) return Absent("DSOpenTableExcl");
  return s->open_table_excl(base, usr, record, open_block);
}

int32_t DUTableUsedByUser(int32_t* base, int32_t usr, int32_t tname) {
  const DUUpperServices* s = Services();
  if (!s || !s->table_used_by_user) return Absent("DSChkTableUse");
  return s->table_used_by_user(base, usr, tname);
}

int32_t DUCloseStatement(int32_t* base, int32_t usr, int32_t stm) {
  const DUUpperServices* s = Services();
  if (!s || !s->close_statement) return Absent("DSCloseStm");
  return s->close_statement(base, usr, stm);
}

int32_t DUStatementWorkEnd(int32_t* base, int32_t usr, int32_t stm) {
  const DUUpperServices* s = Services();
  if (!s || !s->statement_work_end) return Absent("DSStmWorkEnd");
  return s->statement_work_end(base, usr, stm);
}

DUKernelDispatcher DUInstallKernelDispatcher(DUKernelDispatcher dispatcher) {
  return g_dispatcher.exchange(dispatcher, std::memory_order_acq_rel);
}

void DUKernel(int32_t code, int32_t* block) {
  DUKernelDispatcher d = g_dispatcher.load(std::memory_order_acquire);
  if (d)
    d(code, block);
  else
    DKEXE1(code, block);
}

DUKernelDispatcher2 DUInstallKernelDispatcher2(DUKernelDispatcher2 dispatcher) {
  return g_dispatcher2.exchange(dispatcher, std::memory_order_acq_rel);
}

void DUKernel2(int32_t code, int32_t* block, void* argument) {
  DUKernelDispatcher2 d = g_dispatcher2.load(std::memory_order_acquire);
  if (d)
    d(code, block, argument);
  else
    DKEXE2(code, block, argument);
}
