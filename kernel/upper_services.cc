// The kernel's calls of the upper layers' services through the one table
// installed at start. A missing entry is logged by name and answered with
// KERNEL_SERVICE_ABSENT; nothing is made up in its place.
#include "kernel/upper_services.h"

#include <atomic>
#include <cstring>
#include <string>

#include "kernel/error_report.h"

namespace {

std::atomic<const KernelUpperServices*> g_services{nullptr};

int32_t Absent(const char* name) {
  std::string line = std::string(name) + ": kernel upper service not installed";
  StatusPair status{};
  const int32_t items[1] = {static_cast<int32_t>(line.size())};
  DSLogMsg(&status, SEV_ERROR, line.data(), nullptr, items, 1);
  return KERNEL_SERVICE_ABSENT;
}

const KernelUpperServices* Table() {
  return g_services.load(std::memory_order_acquire);
}

}  // namespace

// Looks the member up; when absent, logs the name and answers absent.
#define UP_CALL(member, name, ...)                               \
  const KernelUpperServices* t = Table();                        \
  if (t == nullptr || t->member == nullptr) return Absent(name); \
  return t->member(__VA_ARGS__)

const KernelUpperServices* KernelInstallUpperServices(const KernelUpperServices* services) {
  return g_services.exchange(services, std::memory_order_acq_rel);
}

int32_t UpCrtTcbHash(int32_t* base) {
  UP_CALL(du_crt_tcb_hash, "DUCrtTcbHash", base);
}
int32_t UpOpenSysTable(int32_t* base, const int32_t* description, int32_t words, int32_t dcb) {
  UP_CALL(du_open_sys_table, "DUOpenSysTable", base, description, words, dcb);
}
int32_t UpTcbUseCount(int32_t* base, int32_t table) {
  UP_CALL(du_tcb_use_count, "DUTcbUseCount", base, table);
}
void UpOpenRecordChain(int32_t* base, int32_t usr, int32_t* record, int32_t* open) {
  const KernelUpperServices* t = Table();
  if (t == nullptr || t->du_open_record_chain == nullptr) {
    record[19] = Absent("DUOpenTableChain");
    return;
  }
  t->du_open_record_chain(base, usr, record, open);
}
int32_t UpOpenTableChain(int32_t* base, int32_t usr, const int32_t* request, int32_t* tcb) {
  UP_CALL(du_open_table_chain, "DUOpenTableChain", base, usr, request, tcb);
}
int32_t UpCloseTables(int32_t* base, int32_t tcb, int32_t kind) {
  UP_CALL(du_close_tables, "DUCloseTables", base, tcb, kind);
}
int32_t UpFreeTcbEntries(int32_t* base) {
  UP_CALL(du_free_tcb_entries, "DUFreeTcbEntry", base);
}
int32_t UpCloseSecTables(int32_t* base, int32_t usr, int32_t sd, int32_t stg) {
  UP_CALL(close_sec_tables, "DSCloseSecTables", base, usr, sd, stg);
}
int32_t UpOpenComTables(int32_t* base, int32_t usr, int32_t com) {
  UP_CALL(open_com_tables, "DSOpenComTables", base, usr, com);
}
int32_t UpGetTransScope(int32_t* base, int32_t usr) {
  UP_CALL(get_trans_scope, "DSGetTransScope", base, usr);
}
int32_t UpXLInstallTable(int32_t* base, int32_t mode, int32_t id, const uint8_t* table) {
  UP_CALL(xl_install_table, "XLInstallTable", base, mode, id, table);
}
int32_t UpTransCleanup(int32_t* base, int32_t usr, int32_t tp) {
  UP_CALL(trans_cleanup, "DSTransCleanup", base, usr, tp);
}

void UpDAMAE2(int32_t* base, int32_t* result, int32_t stm, int32_t usr) {
  const KernelUpperServices* t = Table();
  if (t == nullptr || t->damae2 == nullptr) {
    std::memset(result, 0, 13 * sizeof(int32_t));
    result[0] = Absent("DAMAE2");
    result[1] = result[0];
    return;
  }
  t->damae2(base, result, stm, usr);
}

int32_t UpDAOpName(int32_t opcode, char* name) {
  UP_CALL(da_op_name, "DAOpName", opcode, name);
}
int32_t UpStmtImage(int32_t number, const int16_t** header, int32_t* header_length,
                    const int32_t** body, int32_t* body_length) {
  UP_CALL(dd_stmt_image, "DDStmtImage", number, header, header_length, body, body_length);
}
int32_t UpInfoBuild(int32_t* base, int32_t* siia) {
  UP_CALL(info_build, "DSInfoBuild", base, siia);
}
int32_t UpInfoErrorTable(int32_t* base, int32_t* table) {
  UP_CALL(info_error_table, "DSInfoGet", base, table);
}
int32_t UpInfoFree(int32_t* base, int32_t* area) {
  UP_CALL(info_free, "DSInfoFree", base, area);
}
int32_t UpInfoClear(int32_t* base, int32_t siia) {
  UP_CALL(info_clear, "DSInfoClear", base, siia);
}
int32_t UpRegEscCallbacks(int32_t* base) {
  UP_CALL(reg_esc_callbacks, "DSRegEscCallbacks", base);
}
int32_t UpRelStm(int32_t* base, int32_t usr, int32_t stm, int32_t kind) {
  UP_CALL(rel_stm, "DSRelStm", base, usr, stm, kind);
}
int32_t UpTransEndReq(int32_t* base, int32_t usr) {
  UP_CALL(trans_end_req, "DSTransEndReq", base, usr);
}
int32_t UpLockTablesEndLoad(int32_t* base, int32_t usr) {
  UP_CALL(lock_tables_end_load, "DSLockTables", base, usr);
}
int32_t UpSeqRelease(int32_t* base, int32_t usr) {
  UP_CALL(seq_release, "DSSeqRelease", base, usr);
}
int32_t UpBackupRelease(int32_t* base, int32_t usr) {
  UP_CALL(backup_release, "DUGiveUpBackupSet", base, usr);
}

int32_t UpBeginTrans(int32_t* base, int32_t usr) {
  UP_CALL(begin_trans, "DSBTR3", base, usr);
}
int32_t UpGetTransState(int32_t* base, int32_t usr) {
  UP_CALL(get_trans_state, "DSGetTransState", base, usr);
}
int32_t UpEndTransWork(int32_t* base, int32_t usr, int32_t code, const uint8_t* xid,
                       int32_t length) {
  UP_CALL(end_trans_work, "DSEndTransWork", base, usr, code, xid, length);
}
int32_t UpFreeTP(int32_t* base, int32_t tp) {
  UP_CALL(free_tp, "DSFreeTP", base, tp);
}
int32_t UpOpenTable(int32_t* base, int32_t usr, int32_t trv_cond, int32_t* table_request,
                    const int32_t* descriptor) {
  UP_CALL(open_table, "DUOpenTable", base, usr, trv_cond, table_request, descriptor);
}
