// Adapters from the record-access service tables of the databank utilities
// and the table statistics to the routines that serve them.
#include "request/record_access_services.h"

#include <algorithm>
#include <cstring>

#include "dict/compiler_lookups.h"
#include "dict/dictionary_cursors.h"
#include "dict/dictionary_services.h"
#include "dict/statement_functions.h"
#include "dict/work_block.h"
#include "du/databank_utility.h"
#include "du/table_statistics.h"
#include "du/transactions.h"
#include "kernel/databank_control.h"
#include "kernel/backup_log.h"
#include "kernel/databank_figures.h"
#include "kernel/databank_state.h"
#include "kernel/roll_forward.h"
#include "kernel/table_use.h"
#include "kernel/utility_requests.h"
#include "request/databank_file_request.h"
#include "request/databank_requests.h"
#include "request/transaction_requests.h"

namespace {

// The length of `text` (at most `size` bytes) without trailing blanks or
// zero bytes.
int32_t Trimmed(const char* text, int32_t size) {
  while (size > 0 && (text[size - 1] == ' ' || text[size - 1] == '\0')) --size;
  return size;
}

// Copies `length` bytes of `text` into a blank-padded field of `size`; the
// length kept.
int32_t Field(char* out, int32_t size, const char* text, int32_t length) {
  length = std::clamp(length, 0, size);
  std::memset(out, ' ', size);
  std::memcpy(out, text, length);
  return length;
}

// The dictionary's option word (LOG 1, TRANS 2, NULL 3) as the kernel's
// transaction mode (LOG 3, TRANS 2, NULL 1).
int32_t OptionCode(int32_t option) {
  return option == 1 ? 3 : option == 3 ? 1 : option;
}

void CurDatabank(int32_t* base, int32_t* pb, int32_t id, const char* name, int32_t name_length,
                 DUDatabankRow* row) {
  DDDatabankRow d{};
  DDCurDatabank(base, pb, id, name, name_length, &d);
  if (pb[0] != 0) return;
  row->id = d.id;
  row->number = d.number;
  row->name_length = Field(row->name, DBU_NAME_MAX, d.name, d.name_length);
  row->second_name_length =
      Field(row->second_name, DBU_NAME_MAX, d.second_name, d.second_name_length);
  // The flag the offline operations test is the databank's offline letter,
  // the one the kernel core refuses an open for use by.
  row->flag = d.offline == 1;
  row->creator_length = Field(row->creator, DBU_NAME_MAX, d.creator, d.creator_length);
  row->file_name_length = Trimmed(d.file, DBU_FILE_MAX);
  Field(row->file_name, DBU_FILE_MAX, d.file, row->file_name_length);
  row->trans_option = OptionCode(d.option);
}

void CurDatabankFile(int32_t* base, int32_t* pb, const char* name, int32_t name_length,
                     DUDatabankFileRow* row) {
  DDDatabankFileRow f{};
  DDCurDatabankFile(base, pb, name, name_length, &f);
  if (pb[0] != 0) return;
  row->id = f.id;
  row->number = f.number;
  row->first_flag = f.first_flag;
  row->second_flag = f.second_flag;
  row->name_length = Field(row->name, DBU_NAME_MAX, f.name, f.name_length);
  row->second_name_length =
      Field(row->second_name, DBU_NAME_MAX, f.second_name, f.second_name_length);
  row->file_name_length = Field(row->file_name, DBU_FILE_MAX, f.file, f.file_length);
  // The row's words 9 to 12 are not read by the cursor: DSChkTableKind,
  // their only reader, is not built either.
  std::fill(row->kind_words, row->kind_words + 4, 0);
}

void UpdDatabank(int32_t* base, int32_t* pb, int32_t id, bool offline) {
  DDUpdDatabank(base, pb, id, 0, -1, 0, offline ? 1 : 0);
}

void UpdDatabankFile(int32_t* base, int32_t* pb, int32_t id, int32_t number, const char* second,
                     int32_t second_length) {
  DDUpdDatabankFile(base, pb, id, number, second, second_length, nullptr);
}

int32_t WorkUser(int32_t* base, int32_t usr, char name[DBU_NAME_MAX]) {
  uint8_t buffer[DD_NAME_LENGTH];
  int32_t length = 0;
  int32_t pb[2] = {0, usr};
  DDGetUserName(base, pb, buffer, &length);
  length = pb[0] == 0 ? std::clamp(length, 0, DBU_NAME_MAX) : 0;
  Field(name, DBU_NAME_MAX, reinterpret_cast<const char*>(buffer), length);
  return length;
}

void InsertDbfile(int32_t* base, int32_t* pb, const char* name, int32_t name_length,
                  const char timestamp[16], const char code[2], const char* text,
                  int32_t text_length, int32_t sequence) {
  char user[DBU_NAME_MAX];
  const int32_t user_length = WorkUser(base, pb[1], user);
  DDDbfileRow row;
  row.name = name;
  row.name_length = name_length;
  row.date = timestamp;
  row.time = timestamp + 8;
  row.code = code;
  row.user = user;
  row.user_length = user_length;
  row.text = text;
  row.text_length = text_length;
  row.sequence = sequence;
  DDInsDbfile(base, pb, row);
}

int32_t EndTransaction(int32_t* base, int32_t* block) {
  int32_t request[8] = {0, 0, 0, block[0], block[1], 0, 0, 0};
  return DSTransEndReq(base, request);
}

int32_t RootNumbers(int32_t* base, int32_t* block, const char name[DBU_NAME_MAX]) {
  int32_t status = 0;
  DSFindDcbByName(base, &status, &block[2], &block[3], reinterpret_cast<const uint8_t*>(name));
  return status;
}

// A kernel-core request that answers in its word 0.
template <void (*Routine)(int32_t*, int32_t*)>
int32_t Kernel(int32_t* base, int32_t* block) {
  Routine(base, block);
  return block[0];
}

int32_t DatabaseInfo(int32_t* base, int32_t* block, int32_t* first, int32_t* second) {
  DSGetDbInfo(base, block, first, second);
  return block[0];
}

// DSChkTabUtil with the current time stamp in words 8-11 (the utility's
// definition record carries it).
int32_t CheckUtility(int32_t* base, int32_t* block, const char timestamp[16]) {
  std::memcpy(block + UTL_STAMP, timestamp, 16);
  DSChkTabUtil(base, block);
  return block[0];
}

// DSSetDbOpt: the kernel core's state of a databank copy (DSGetDbState),
// which leaves word 0 as it was on success.
// DSDisconnect with 0 in word 7 and the time stamp in words 8-11.
int32_t Disconnect(int32_t* base, int32_t* block, const char timestamp[16]) {
  block[7] = 0;
  std::memcpy(block + UTL_STAMP, timestamp, 16);
  DSDisconnect(base, block);
  return block[0];
}

int32_t SetOptions(int32_t* base, int32_t* block) {
  block[DBSTATE_STATUS] = 0;
  DSGetDbState(base, block);
  return block[DBSTATE_STATUS];
}

DUUtilityServices UtilityTable() {
  DUUtilityServices t{};
  t.cur_databank = CurDatabank;
  t.cur_databank_file = CurDatabankFile;
  t.upd_databank_file = UpdDatabankFile;
  t.upd_databank = UpdDatabank;
  t.check_privilege = DDChkPrivilege;
  t.work_user = WorkUser;
  t.insert_dbfile = InsertDbfile;
  t.end_transaction = EndTransaction;
  t.root_numbers = RootNumbers;
  DUUtilityOwnEntries(&t);
  t.create_work_block = DDCreUcom;
  t.delete_work_block = DDDelUcom;
  t.begin_work = DDBegWork;
  t.end_work = DDEndWork;
  t.open_file = Kernel<DSOpenDbFile>;
  t.database_info = DatabaseInfo;
  t.set_roots = Kernel<DSChkDbList>;
  t.scan_full = Kernel<DSTabScan1>;
  t.scan_range = Kernel<DSTabScan2>;
  t.open_databank = Kernel<DSOpenDbReq>;
  t.close_databank = Kernel<DSCloseDbReq>;
  t.kernel_result = Kernel<DSDkResult>;
  t.copy_databank = Kernel<DSCopyDbReq>;
  t.end_record = Kernel<DSOpenBkpTable>;
  t.set_options = SetOptions;
  t.disconnect = Disconnect;
  t.attach = [](int32_t* base, int32_t* block, const char*) {
    DSAttach(base, block);
    return block[0];
  };
  t.check_table_kind = Kernel<DSChkTableKind>;
  t.check_utility = CheckUtility;
  t.new_cursor = Kernel<DSNewCursor>;
  t.update_by_table = DDUpdByTable;
  t.exec_routine = Kernel<DSExecRoutine>;
  return t;
}

// ---- Statistics ----

void GetTable(int32_t* base, int32_t* pb, const char* schema, int32_t schema_length,
              const char* name, int32_t name_length, StatTable* table) {
  DDTableName n;
  n.schema = schema;
  n.schema_length = Trimmed(schema, schema_length);
  n.name = name;
  n.name_length = Trimmed(name, name_length);
  DDTableAttr a{};
  DDCmpTableAttr(base, pb, n, false, &a);
  if (pb[0] != 0) return;
  table->id = a.id;
  table->lid = a.logical_id;
  table->tname = a.id;
  table->type = a.trans_option;
  table->keylen = a.key_length;
  table->reclen = a.record_length;
  table->kind = a.kind == 1 ? 1 : 3;  // a view has no statistics
}

thread_local int32_t t_next_column = 1;

void NextColumn(int32_t* base, int32_t* pb, int32_t table_id, StatColumn* column) {
  if (pb[0] != 0) t_next_column = 1;
  DDColumnDesc d{};
  pb[0] = 0;
  DDCmpColumns(base, pb, table_id, t_next_column, nullptr, 0, &d, nullptr, 0);
  if (pb[0] != 0) return;
  ++t_next_column;
  column->name_length = std::clamp(d.name_length, 0, CS_NAME_MAX);
  std::memcpy(column->name, d.name, column->name_length);
  column->type_code = d.type;
  column->length = d.length;
  column->scale = d.scale;
  column->stored = d.byte_length;
}

void NextKey(int32_t* base, int32_t* pb, int32_t table_id, int32_t* key_id) {
  int32_t values[7] = {};
  DDCurKeys(base, pb, table_id, values);
  if (pb[0] == 0) *key_id = values[1];
}


// A transaction end over the statistics' parameter block of two words:
// the end reads a third, the statement (none here).
template <void (*End)(int32_t*, int32_t*)>
void WithoutStatement(int32_t* base, int32_t* pb) {
  int32_t end[3] = {pb[0], pb[1], 0};
  End(base, end);
  pb[0] = end[0];
}

void ScanRows(int32_t* base, int32_t* pb, const StatTable& table, uint8_t* row) {
  const DDScanTable scan{table.lid, table.tname, table.type, table.keylen, table.reclen};
  int32_t length = 0;
  DDScanTableRows(base, pb, scan, row, table.reclen, &length);
}

DUStatisticsServices StatisticsTable() {
  DUStatisticsServices t{};
  t.check_privilege = DDChkPrivilege;
  t.get_table = GetTable;
  t.next_column = NextColumn;
  t.next_key = NextKey;
  t.scan_rows = ScanRows;
  t.scan_chain = DDScanChain;
  t.update_statistics = DDUpdStatistics;
  t.begin_transaction = DSBTR3;
  t.end_transaction = WithoutStatement<DSEndTrans>;
  t.end_open_transaction = WithoutStatement<DSEndTransIfOpen>;
  // The dictionary's update of a built key's constraint row is not given
  // its column: the batches answer -19040 naming DDUpdConstraint after the
  // first key they complete.
  t.key_batches = [](int32_t* base, int32_t* pb, const StatTable& table, int32_t) {
    int32_t inserted = 0;
    DUStatKeyBatches(base, pb, table, nullptr, &inserted);
  };
  // Not built in the dictionary: the schema lookup and the cursor over the
  // tables, DDListDeps.
  return t;
}

}  // namespace

void RequestInstallRecordAccessServices() {
  static const DUUtilityServices utility = UtilityTable();
  static const DUStatisticsServices statistics = StatisticsTable();
  DUInstallUtilityServices(&utility);
  DUInstallStatisticsServices(&statistics);
}
