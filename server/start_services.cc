// ServerInstallServices: every layer's service table filled from the layers
// above it.
#include "server/start_services.h"

#include <algorithm>
#include <cstring>

#include "dict/catalog_descriptions.h"
#include "dict/compiler_services.h"
#include "dict/statement_prepare.h"
#include "dict/statement_run.h"
#include "dict/upper_services.h"
#include "du/databank_backup.h"
#include "du/databank_services.h"
#include "du/definition_records.h"
#include "du/databank_utility.h"
#include "du/record_access_words.h"
#include "du/table_statistics.h"
#include "du/tables.h"
#include "du/transactions.h"
#include "du/upper_services.h"
#include "interp/instruction_trace.h"
#include "interp/request_services.h"
#include "kernel/control_blocks.h"
#include "kernel/databank_control.h"
#include "kernel/error_report.h"
#include "kernel/record_access_services.h"
#include "kernel/statement_columns.h"
#include "kernel/statements.h"
#include "kernel/system_block.h"
#include "kernel/upper_services.h"
#include "platform/datetime.h"
#include "request/escape_callbacks.h"
#include "request/record_access_services.h"
#include "request/sequence_values.h"
#include "request/server_information.h"
#include "request/statement_api.h"
#include "request/transaction_requests.h"
#include "sql/front/compile_services.h"
#include "sql/front/sem_walk.h"
#include "sql/front/sql_actions.h"

namespace {

// --- The kernel core's upper services ---

// DAMAE2 through the statement runtime: the run's status, then the
// session's result vector. The kernel runs only its own catalog statements
// here (databank rows, table descriptions, the version check, collations,
// logins and the administrator check, object names), which read: on a
// session outside a transaction they run outside one, as on a thread's own
// session, rather than leave the session inside an automatic transaction
// that no request of its own began (a later DDBegWork would be refused).
void RunStatement(int32_t* base, int32_t* result, int32_t stm, int32_t usr) {
  int32_t& start = Wd(base, usr, USR_TRANSACTION_START);
  const int32_t kept = start;
  if (DSGetTransState(base, usr) == 0) start = 0;
  const int32_t rc = DDExecStm(base, usr, stm);
  start = kept;
  result[0] = rc;
  for (int32_t k = 0; k < RVEC_WORDS; ++k) result[1 + k] = Wd(base, usr, USR_RVEC_RCODE + k);
  if (rc < 0 && result[1] == 0) result[1] = rc;
}

int32_t OpName(int32_t opcode, char* name) {
  return interp::DAOpName(name, 0, opcode);
}

int32_t TransCleanup(int32_t* base, int32_t usr, int32_t) {
  int32_t pb[2] = {0, usr};
  DSTransCleanup(base, pb);
  return pb[0];
}

// DSBTR3 mode 1: a transaction that stays open until its end.
int32_t BeginTrans(int32_t* base, int32_t usr) {
  int32_t pb[2] = {1, usr};
  DSBTR3(base, pb);
  return pb[0];
}

int32_t EndTransWork(int32_t* base, int32_t usr, int32_t code, const uint8_t* xid,
                     int32_t length) {
  int32_t pb[3] = {code, usr, 0};
  DSEndTransWork(base, pb, 0, xid, length);
  return pb[0];
}

// DSFreeTP of a transaction block that no session names any more: record
// access frees a session's block, so a session block of its own carries
// it (clean-up mode 3: its queue tables closed, the block freed).
int32_t FreeTp(int32_t* base, int32_t tp) {
  int32_t carrier = 0;
  DSGetMem(base, &carrier, USR_BYTES);
  if (carrier == 0) return SQLPOOL_EXHAUSTED_ERROR;
  Wd(base, carrier, USR_TP) = tp;
  Wd(base, carrier, USR_TRV_COND) = 3;
  DSFreeTP(base, carrier);
  const int32_t status = Wd(base, carrier, USR_TRV_COND);
  DSGetMem(base, &carrier, 0);
  return status;
}

int32_t TransEndReq(int32_t* base, int32_t usr) {
  const int32_t request[5] = {0, 0, 0, 0, usr};
  return DSTransEndReq(base, request);
}

int32_t InfoBuild(int32_t* base, int32_t* siia) {
  return DSInfoBuild(base, siia, SIIA_SERVER_LEVEL);
}

KernelUpperServices KernelServices() {
  KernelUpperServices k{};
  k.du_crt_tcb_hash = DUCrtTcbHash;
  k.du_open_sys_table = DDOpenSysTable;
  k.du_tcb_use_count = DUTcbUseCount;
  k.du_open_table_chain = DUOpenKernelTable;
  k.du_open_record_chain = DUOpenTableChain;
  k.du_close_tables = DUCloseKernelTable;
  k.du_free_tcb_entries = DUFreeTcbHash;
  k.close_sec_tables = DSCloseSecTables;
  k.open_com_tables = DSOpenComTables;
  k.get_trans_scope = DSGetTransScope;
  k.trans_cleanup = TransCleanup;
  k.damae2 = RunStatement;
  k.da_op_name = OpName;
  k.dd_stmt_image = DDStmtImageOf;
  k.info_build = InfoBuild;
  k.info_error_table = DSInfoErrorTable;
  k.info_free = DSInfoFree;
  k.info_clear = DSInfoClear;
  k.reg_esc_callbacks = DSRegEscCallbacks;
  k.trans_end_req = TransEndReq;
  k.begin_trans = BeginTrans;
  k.get_trans_state = DSGetTransState;
  k.end_trans_work = EndTransWork;
  k.free_tp = FreeTp;
  k.seq_release = DSSeqRelease;
  k.backup_release = DUGiveUpBackupSet;
  k.open_table = DUKernelDefinitionRecord;
  // Not built yet, so absent: DSRelStm, the load end's DSLockTables,
  // XLInstallTable through the kernel; the table open serves the definition
  // records of description words only (an XA branch's tables answer -19040).
  return k;
}
const KernelUpperServices kKernelServices = KernelServices();

// --- Record access's upper services ---

// DSOpenDbReq kind 3 in its smallest form: the databank of `lid` found
// open through the kernel's look-up, without a claim; the kernel holds the
// databanks a session's tables lie in from its start to its stop. (The
// look-up never waits: the kernel opens a databank's large-object
// directory table while it still holds the databank's own lock.)
int32_t OpenDatabank(int32_t* base, int32_t, int32_t lid, int32_t* dcb) {
  int32_t rq[OPD_WORDS] = {5, lid};
  DSOpenDcb(base, rq);
  // Not found, the kind word is left as it was.
  if (rq[OPD_KIND] != 0 || rq[OPD_DCB] == 0) return rq[OPD_KIND] < 0 ? rq[OPD_KIND] : DCB_NOT_FOUND;
  *dcb = rq[OPD_DCB];
  return 0;
}

// DSCloseDbReq: the open took no reference, so none is given back; a
// databank that is not open is refused.
int32_t CloseDatabank(int32_t* base, int32_t, int32_t, int32_t lid, int32_t) {
  int32_t dcb = 0;
  return OpenDatabank(base, 0, lid, &dcb);
}

// DSConstrText: the catalog's own tables from their generated lists; the
// description of any other table is not built yet.
int32_t ConstrText(int32_t* base, int32_t, int32_t* open) {
  const int32_t rc = DDCatalogDescription(base, open);
  if (rc != 1) return rc;
  DSErrRep("DSConstrText", 12, KERNEL_SERVICE_ABSENT, SEV_ERROR);
  return KERNEL_SERVICE_ABSENT;
}

DUUpperServices RecordAccessServices() {
  DUUpperServices s = *KernelRecordAccessServices();
  s.open_databank = OpenDatabank;
  s.close_databank = CloseDatabank;
  s.constr_text = ConstrText;
  return s;
}
const DUUpperServices kRecordAccessServices = RecordAccessServices();

// --- The SQL compiler's services ---

// DSCallGuarded for the compiler: the datetime or interval literal text of a
// record (a length word, then the characters) checked by converting it with
// the qualifier of conversion code 33 to 48 (code - 32) into `out` (at least
// 24 bytes), at the widest precision the qualifier takes (9 leading and 9
// fraction digits), so that only the text's own faults are reported: -9 bad
// text, -7 a day or time that does not exist, -3 / -2 / -1 a field out of
// range, 2 fraction digits cut. The compiler converts nothing the other way;
// a negative or unknown code answers -6.
void ConvertLiteral(uint8_t* out, const uint8_t* value, int32_t* status, int32_t conversion,
                    int32_t, void (*current_time)(char text[16])) {
  const int32_t qualifier = conversion - kQualLiteralForm;
  const int32_t type = interval_qualifier_info(qualifier);
  if (conversion <= kQualLiteralForm || type < 1 || out == nullptr || value == nullptr) {
    *status = kDateTimeBadOperation;
    return;
  }
  int32_t length = 0;
  std::memcpy(&length, value, sizeof length);
  int32_t fraction = 9, leading = 9, precision = -1, scale = -1;
  interval_precision(qualifier, &fraction, &leading, &precision, &scale);
  const value_descriptor target{0, precision, scale, type};
  *status = datetime_from_text(ByteSpan(out, kDecimalMaxBytes), target,
                               ConstByteSpan(value + 4, std::max(length, 0)), 0,
                               std::max(length, 0), conversion, current_time);
}

SqlKernelServices CompilerKernelServices(const SqlKernelServices& installed) {
  SqlKernelServices k = installed;
  k.call_guarded = ConvertLiteral;
  return k;
}

}  // namespace

void ServerInstallServices(int32_t* base) {
  KernelInstallUpperServices(&kKernelServices);
  DUInstallUpperServices(&kRecordAccessServices);
  DUInstallKernelDispatcher(nullptr);
  DUInstallDatabankServices(base);
  RequestInstallDictionaryServices();
  RequestInstallRuntimeServices();
  RequestInstallRecordAccessServices();
  DDInstallCompilerServices(base);
  const SqlKernelServices compiler = CompilerKernelServices(SqlKernel());
  SqlInstallKernelServices(&compiler);
  SqlInstallParsePhase();
  SqlInstallSemanticPhase();
}

void ServerRemoveServices() {
  SqlInstallPhaseServices(nullptr);
  SqlKernelServices compiler = SqlKernel();
  compiler.call_guarded = nullptr;
  SqlInstallKernelServices(&compiler);
  DDRemoveCompilerServices();
  DUInstallStatisticsServices(nullptr);
  DUInstallUtilityServices(nullptr);
  interp::DAInstallRequestServices(nullptr);
  DDInstallUpperServices(nullptr);
  DUInstallDatabankServices(nullptr);
  DUInstallUpperServices(nullptr);
  KernelInstallUpperServices(nullptr);
}
