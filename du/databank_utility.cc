// The service table of the databank utilities and the steps they share (see
// databank_utility_internal.h).
#include "du/databank_utility_internal.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "du/databank_backup.h"
#include "du/transactions.h"
#include "kernel/error_report.h"
#include "platform/datetime.h"

namespace du::dbu {

namespace {
std::atomic<const DUUtilityServices*> g_services{nullptr};
}  // namespace

const DUUtilityServices* Services() {
  return g_services.load(std::memory_order_acquire);
}

int32_t Absent(const char* name) {
  DSErrRep(name, static_cast<int32_t>(std::strlen(name)), OFF_NO_SYSTEM, SEV_ERROR);
  return OFF_NO_SYSTEM;
}

Block NewRequest(int32_t word0, int32_t usr, int32_t id) {
  Block b{};
  b[0] = word0;
  b[1] = usr;
  b[2] = id;
  return b;
}

int32_t OpenRequest(int32_t* base, int32_t kind, int32_t usr, int32_t id, int32_t number,
                    int32_t* dcb) {
  Block b = NewRequest(kind, usr, id);
  b[UTL_NUMBER] = number;
  b[UTL_FURTHER] = -1;
  const int32_t r = Request(base, &DUUtilityServices::open_databank, "DSOpenDbReq", b.data());
  if (dcb) *dcb = b[UTL_DCB];
  return r;
}

int32_t CloseRequest(int32_t* base, int32_t mode, int32_t usr, int32_t id, int32_t last) {
  Block b = NewRequest(mode, usr, id);
  b[UTL_CLOSE_WORD] = last;
  return Request(base, &DUUtilityServices::close_databank, "DSCloseDbReq", b.data());
}

int32_t Begin(int32_t* base, int32_t usr, bool tolerate_open) {
  int32_t pb[2] = {1, usr};
  DSBTR3(base, pb);
  return tolerate_open && pb[0] == OFF_TRANSACTION_OPEN ? 0 : pb[0];
}

int32_t End(int32_t* base, int32_t usr, bool rollback) {
  Block b = NewRequest(rollback ? 1 : 0, usr, 0);
  return Request(base, &DUUtilityServices::end_transaction, "DSTransEndReq", b.data());
}

int32_t SystemLookup(int32_t* base, int32_t usr) {
  Block b = NewRequest(5, usr, 3);
  return Request(base, &DUUtilityServices::open_databank, "DSOpenDbReq", b.data());
}

int32_t OpenFile(int32_t* base, int32_t usr, int32_t kind, int32_t id, int32_t seqno,
                 int32_t type, int32_t size, const char* logical, int32_t logical_length,
                 const char* second, int32_t second_length, const char* file,
                 int32_t file_length, int32_t* handle) {
  Block b = NewRequest(kind, usr, id);
  b[UTL_SEQNO] = seqno;
  b[UTL_TYPE] = type;
  b[UTL_SIZE] = size;
  PadText(BlockBytes(b, UTL_LOGICAL_NAME), DBU_NAME_MAX, logical, logical_length);
  PadText(BlockBytes(b, UTL_SECOND_NAME), DBU_NAME_MAX, second, second_length);
  PadText(BlockBytes(b, UTL_FILE_NAME), DBU_FILE_MAX, file, file_length);
  const int32_t r = Request(base, &DUUtilityServices::open_file, "DSOpenDbFile", b.data());
  *handle = b[UTL_HANDLE];
  return r;
}

int32_t SystemAndWork(int32_t* base, int32_t usr, int32_t* sys, int32_t* ducom) {
  *sys = du::SystemBlock(base);
  if (*sys == 0) return OFF_NO_SYSTEM;
  *ducom = WorkBlock(base, usr);
  return *ducom == 0 ? OFF_NO_DICTIONARY : 0;
}

int32_t NewCursor(int32_t* base, int32_t usr, int32_t status) {
  Block b = NewRequest(status, usr, 0);
  return Request(base, &DUUtilityServices::new_cursor, "DSNewCursor", b.data());
}

void CurrentTimestamp(int32_t* base, int32_t usr, char out[16]) {
  if (W(base, usr + USR_SIMULATION_MODE) != 0) {
    std::memcpy(out, &W(base, usr + USR_SIMULATION_TIME), 16);
    return;
  }
  char in[16];
  std::memset(in, ' ', sizeof in);
  DSTimestampAdd(out, 0, in);
}

int32_t PadText(char* out, int32_t size, const char* text, int32_t length) {
  const int32_t n = text ? std::clamp(length, 0, size) : 0;
  std::memset(out, ' ', size);
  if (n > 0) std::memcpy(out, text, n);
  return n;
}

bool SameName(const char* a, int32_t a_length, const char* b, int32_t b_length, int32_t size) {
  char pa[DBU_FILE_MAX], pb[DBU_FILE_MAX];
  size = std::clamp(size, 0, DBU_FILE_MAX);
  PadText(pa, size, a, a_length);
  PadText(pb, size, b, b_length);
  return std::memcmp(pa, pb, size) == 0;
}

int32_t SysRead(int32_t* base, int32_t sys, int32_t field) {
  du::Take(base, sys + SYS_S);
  const int32_t v = W(base, sys + field);
  du::Give(base, sys + SYS_S);
  return v;
}

void SysWrite(int32_t* base, int32_t sys, int32_t field, int32_t value) {
  du::Take(base, sys + SYS_S);
  W(base, sys + field) = value;
  du::Give(base, sys + SYS_S);
}

int32_t CreatorCheck(int32_t* base, int32_t usr, const DUDatabankRow& row) {
  auto user = Service(&DUUtilityServices::work_user, "DDUCOM user");
  if (!user) return OFF_NO_SYSTEM;
  char name[DBU_NAME_MAX];
  const int32_t length = std::clamp(user(base, usr, name), 0, DBU_NAME_MAX);
  char creator[DBU_NAME_MAX];
  PadName(creator, row.creator, row.creator_length);
  if (std::memcmp(name, creator, DBU_NAME_MAX) == 0) return 0;
  const int32_t r = Dictionary(base, usr, 0, &DUUtilityServices::check_privilege,
                               "DDChkPrivilege", OFF_PRIVILEGE_BACKUP, 0,
                               static_cast<const char*>(name), length);
  return r < 1 ? 2 : 0;
}

int32_t AddEntry(int32_t* base, int32_t ducom, int32_t id, int32_t number, const char* second,
                 int32_t second_length, const char* name, int32_t name_length) {
  const int32_t e = du::NewBlock(base, DBU_BYTES);
  if (e == 0) return 0;
  W(base, e + DBU_ID) = id;
  W(base, e + DBU_NUMBER) = number;
  W(base, e + DBU_SECOND_LENGTH) = PadName(Bytes(base, e + DBU_SECOND_NAME), second, second_length);
  W(base, e + DBU_NAME_LENGTH) = PadName(Bytes(base, e + DBU_NAME), name, name_length);
  W(base, e + DBU_NEXT) = W(base, ducom + DDUCOM_DBU_CHAIN);
  W(base, ducom + DDUCOM_DBU_CHAIN) = e;
  return e;
}

void FreeChain(int32_t* base, int32_t ducom) {
  for (int32_t e = W(base, ducom + DDUCOM_DBU_CHAIN); e != 0;) {
    const int32_t next = W(base, e + DBU_NEXT);
    du::FreeBlock(base, e);
    e = next;
  }
  W(base, ducom + DDUCOM_DBU_CHAIN) = 0;
}

int32_t WorkBlock(int32_t* base, int32_t usr) {
  return usr > 0 ? W(base, usr + USR_DDUCOM) : 0;
}

int32_t MarkOffline(int32_t* base, int32_t usr, int32_t id, bool offline) {
  return Dictionary(base, usr, 0, &DUUtilityServices::upd_databank, "DDUpdDatabank", id, offline);
}

}  // namespace du::dbu

const DUUtilityServices* DUInstallUtilityServices(const DUUtilityServices* services) {
  return du::dbu::g_services.exchange(services, std::memory_order_acq_rel);
}

void DUUtilityOwnEntries(DUUtilityServices* services) {
  services->apply_mode = DSBkpApplyMode;
  services->refresh_files = DSBkpRefreshFiles;
  services->record_files = [](int32_t* base, int32_t* pb, const char timestamp[16]) {
    DSBkpRecordFiles(base, pb, timestamp, nullptr, -1, nullptr, -1);
  };
}
