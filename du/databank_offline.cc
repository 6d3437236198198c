// Databanks and the whole database offline and online: which databanks go on
// the chain of utility entries, the privilege and state checks, and the
// database's own offline field.
#include "du/databank_offline.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "du/pool_words.h"
#include "du/transactions.h"
#include "kernel/error_report.h"
#include "platform/datetime.h"

namespace {

using du::W;

std::atomic<const DUOfflineServices*> g_services{nullptr};

int32_t Absent(const char* name) {
  DSErrRep(name, static_cast<int32_t>(std::strlen(name)), OFF_NO_SYSTEM, SEV_ERROR);
  return OFF_NO_SYSTEM;
}

// The installed entry `member`, or null after logging `name` as absent.
template <typename T>
T Service(T DUOfflineServices::*member, const char* name) {
  const DUOfflineServices* s = g_services.load(std::memory_order_acquire);
  if (s && s->*member) return s->*member;
  Absent(name);
  return nullptr;
}

// Calls a dictionary entry with a fresh parameter block in mode `mode`; its
// status.
template <typename Member, typename... Args>
int32_t Dictionary(int32_t* base, int32_t usr, int32_t mode, Member member, const char* name,
                   Args... args) {
  auto f = Service(member, name);
  if (!f) return OFF_NO_SYSTEM;
  int32_t pb[2] = {mode, usr};
  f(base, pb, args...);
  return pb[0];
}

// Sends one request block through entry `member`; its status.
template <typename Member, typename... Args>
int32_t Request(int32_t* base, Member member, const char* name, int32_t* block, Args... args) {
  auto f = Service(member, name);
  if (!f) return block[0] = OFF_NO_SYSTEM;
  block[0] = f(base, block, args...);
  return block[0];
}

int32_t OpenRequest(int32_t* base, int32_t kind, int32_t usr, int32_t id, int32_t number) {
  int32_t block[8] = {kind, usr, id, number, -1, 0, 0, 0};
  return Request(base, &DUOfflineServices::open_databank, "DSOpenDbReq", block);
}

int32_t CloseRequest(int32_t* base, int32_t mode, int32_t usr, int32_t id) {
  int32_t block[8] = {mode, usr, id, -1, 0, 0, 0, 0};
  return Request(base, &DUOfflineServices::close_databank, "DSCloseDbReq", block);
}

int32_t Begin(int32_t* base, int32_t usr) {
  int32_t pb[2] = {1, usr};
  DSBTR3(base, pb);
  return pb[0] == OFF_TRANSACTION_OPEN ? 0 : pb[0];
}

// Ends the user's transaction: commit, or roll back when `rollback`.
int32_t End(int32_t* base, int32_t usr, bool rollback) {
  int32_t block[8] = {rollback ? 1 : 0, usr, 0, 0, 0, 0, 0, 0};
  return Request(base, &DUOfflineServices::end_transaction, "DSTransEndReq", block);
}

void CurrentTimestamp(int32_t* base, int32_t usr, char out[16]) {
  char in[16];
  std::memset(in, ' ', sizeof in);
  if (W(base, usr + USR_SIMULATION_MODE) != 0) {
    std::memcpy(in, &W(base, usr + USR_SIMULATION_TIME), sizeof in);
    std::memcpy(out, in, sizeof in);
    return;
  }
  DSTimestampAdd(out, 0, in);
}

// Copies at most 128 bytes of `text` blank padded into `out`; the length kept.
int32_t PadName(char out[DBU_NAME_MAX], const char* text, int32_t length) {
  const int32_t n = std::clamp(length, 0, DBU_NAME_MAX);
  std::memset(out, ' ', DBU_NAME_MAX);
  if (n > 0) std::memcpy(out, text, n);
  return n;
}

char* Bytes(int32_t* base, int64_t index) {
  return reinterpret_cast<char*>(&W(base, index));
}

// The SYS offline field under the SYS semaphore.
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

// The three kind 8 requests after an online refusal: the first negative
// result replaces `status`.
int32_t SystemDatabanksNoted(int32_t* base, int32_t usr, int32_t status) {
  for (int32_t id = 1; id <= 3; ++id) {
    const int32_t r = OpenRequest(base, 8, usr, id, 0);
    if (r < 0 && status >= 0) status = r;
  }
  return status;
}

bool SystemDatabank(int32_t id) {
  return id == 2 || id == 3 || id == 4;
}

// Whether the user may work on a databank of `creator`: the creator
// himself, or a holder of BACKUP. 0 allowed, 2 refused, negative an error.
int32_t CreatorCheck(int32_t* base, int32_t usr, const DUDatabankRow& row) {
  auto user = Service(&DUOfflineServices::work_user, "DDUCOM user");
  if (!user) return OFF_NO_SYSTEM;
  char name[DBU_NAME_MAX];
  const int32_t length = std::clamp(user(base, usr, name), 0, DBU_NAME_MAX);
  char creator[DBU_NAME_MAX];
  PadName(creator, row.creator, row.creator_length);
  if (std::memcmp(name, creator, DBU_NAME_MAX) == 0) return 0;
  const int32_t r = Dictionary(base, usr, 0, &DUOfflineServices::check_privilege,
                               "DDChkPrivilege", OFF_PRIVILEGE_BACKUP, 0,
                               static_cast<const char*>(name), length);
  return r < 1 ? 2 : 0;
}

// A new DBUENT at the head of the chain on DDUCOM word 6; 0 when the
// storage is exhausted.
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

// The user's DDUCOM, or 0.
int32_t WorkBlock(int32_t* base, int32_t usr) {
  return usr > 0 ? W(base, usr + USR_DDUCOM) : 0;
}

// Databank 3's number and second name, remembered during a walk.
struct LogDatabank {
  bool found = false;
  int32_t number = 0;
  char second_name[DBU_NAME_MAX];
  int32_t second_name_length = 0;
};

void Remember(LogDatabank* log, const DUDatabankRow& row) {
  log->found = true;
  log->number = row.number;
  log->second_name_length = PadName(log->second_name, row.second_name, row.second_name_length);
}

// Marks databank 3's row with mode 3 ("YES") or 4 ("NO ").
int32_t MarkLogDatabank(int32_t* base, int32_t usr, int32_t mode, const LogDatabank& log) {
  if (!log.found) return 0;
  return Dictionary(base, usr, mode, &DUOfflineServices::upd_databank_file, "DDUpdDatabankFile",
                    3, log.number, static_cast<const char*>(log.second_name),
                    log.second_name_length);
}

// The end of a way back online after status `r`: the LOG databank marked and
// the transaction committed, then the database online (pb[0] = 0); on any
// failure the transaction rolled back and the failure in pb[0].
void FinishOnline(int32_t* base, int32_t usr, int32_t sys, int32_t r, const LogDatabank& log,
                  int32_t* pb) {
  if (r >= 0) r = MarkLogDatabank(base, usr, 3, log);
  if (r >= 0) r = End(base, usr, false);
  if (r < 0) {
    End(base, usr, true);
    pb[0] = r;
    return;
  }
  SysWrite(base, sys, SYS_DATABASE_OFFLINE, 0);
  pb[0] = 0;
}

// Steps 4 to 6 of taking the database offline; 0 or the error.
int32_t TakeDatabaseOffline(int32_t* base, int32_t usr) {
  int32_t r = Begin(base, usr);
  if (r < 0) return r;
  char now[16];
  CurrentTimestamp(base, usr, now);
  int32_t block[8] = {3, usr, 1, 0, -1, 0, 0, 0};
  r = Request(base, &DUOfflineServices::disconnect, "DSDisconnect", block,
              static_cast<const char*>(now));
  if (r < 0) return r;
  if ((r = End(base, usr, false)) < 0 || (r = Begin(base, usr)) < 0) return r;
  LogDatabank log;
  DUDatabankRow row;
  for (int32_t mode = 3;; mode = 0) {
    r = Dictionary(base, usr, mode, &DUOfflineServices::cur_databank, "DDCurDatabank", 0,
                   static_cast<const char*>(nullptr), 0, &row);
    if (r < 0) return r;
    if (r > 0) break;
    if (row.id == 3) {
      Remember(&log, row);
    } else if (!row.flag && row.id != 1 && row.id != 2 && row.id != 4) {
      if (OpenRequest(base, 1, usr, row.id, row.number) == 0) {
        r = CloseRequest(base, 1, usr, row.id);
        if (r < 0) return r;
      }
    }
  }
  if ((r = End(base, usr, false)) < 0 || (r = Begin(base, usr)) < 0) return r;
  if ((r = MarkLogDatabank(base, usr, 4, log)) < 0) return r;
  return End(base, usr, false);
}

// The walk of the reattach: every databank other than 2, 3 and 4 whose flag
// is not set opened again, its root numbers read and, under the user's
// GBS_ACTION, a "DL" row written. 0 or the error.
int32_t ReattachDatabanks(int32_t* base, int32_t usr, const char now[16], LogDatabank* log) {
  DUDatabankRow row;
  for (int32_t mode = 3;; mode = 0) {
    int32_t r = Dictionary(base, usr, mode, &DUOfflineServices::cur_databank, "DDCurDatabank", 0,
                           static_cast<const char*>(nullptr), 0, &row);
    if (r < 0) return r;
    if (r > 0) return 0;
    if (row.id == 3) {
      Remember(log, row);
      continue;
    }
    if (row.flag || row.id == 2 || row.id == 4) continue;
    if (OpenRequest(base, 3, usr, row.id, row.number) != 0) continue;
    char name[DBU_NAME_MAX];
    const int32_t name_length = PadName(name, row.name, row.name_length);
    int32_t roots[8] = {0, usr, 0, 0, 0, 0, 0, 0};
    r = Request(base, &DUOfflineServices::root_numbers, "DSGetDbRootNums", roots,
                static_cast<const char*>(name));
    if (r < 0) {
      CloseRequest(base, row.id == 1 ? 0 : 1, usr, row.id);
      return r;
    }
    if ((r = CloseRequest(base, 0, usr, row.id)) < 0) return r;
    if (W(base, usr + USR_GBS_ACTION) != 0) {
      r = Dictionary(base, usr, 0, &DUOfflineServices::insert_dbfile, "DDInsDbfile",
                     static_cast<const char*>(name), name_length, now, "DL",
                     static_cast<const char*>(""), 0, roots[3] - 1);
      if (r < 0) return r;
    }
  }
}

}  // namespace

const DUOfflineServices* DUInstallOfflineServices(const DUOfflineServices* services) {
  return g_services.exchange(services, std::memory_order_acq_rel);
}

void DSBkpSetOnline(int32_t* base, int32_t* pb) {
  const int32_t usr = pb[1];
  const int32_t sys = du::SystemBlock(base);
  if (sys == 0) {
    pb[0] = OFF_NO_SYSTEM;
    return;
  }
  if (SysRead(base, sys, SYS_DATABASE_OFFLINE) == 0) {
    pb[0] = SystemDatabanksNoted(base, usr, 4);
    return;
  }
  int32_t r = Begin(base, usr);
  DUDatabankRow row;
  LogDatabank log;
  if (r >= 0) {
    r = Dictionary(base, usr, 2, &DUOfflineServices::cur_databank, "DDCurDatabank", 3,
                   static_cast<const char*>(nullptr), 0, &row);
    if (r == 0) Remember(&log, row);
  }
  FinishOnline(base, usr, sys, r, log, pb);
}

void DSBkpReattach(int32_t* base, int32_t* pb) {
  const int32_t usr = pb[1];
  const int32_t sys = du::SystemBlock(base);
  if (sys == 0) {
    pb[0] = OFF_NO_SYSTEM;
    return;
  }
  if (SysRead(base, sys, SYS_DATABASE_OFFLINE) == 0) {
    pb[0] = SystemDatabanksNoted(base, usr, 5);
    return;
  }
  if (WorkBlock(base, usr) == 0) {
    pb[0] = OFF_NO_DICTIONARY;
    return;
  }
  int32_t r = Begin(base, usr);
  if (r < 0) {
    pb[0] = r;
    return;
  }
  char now[16];
  CurrentTimestamp(base, usr, now);
  int32_t block[8] = {3, usr, 1, 0, -1, 0, 0, 0};
  r = Request(base, &DUOfflineServices::disconnect, "DSDisconnect", block,
              static_cast<const char*>(now));
  if (r >= 0) {
    block[0] = 3;
    r = Request(base, &DUOfflineServices::attach, "DSAttach", block,
                static_cast<const char*>(now));
  }
  if (r >= 0) {
    block[0] = 1;
    r = Request(base, &DUOfflineServices::end_record, "DSBkpEndRecord", block);
  }
  if (r >= 0 && (r = End(base, usr, false)) >= 0) r = Begin(base, usr);
  LogDatabank log;
  if (r >= 0) r = ReattachDatabanks(base, usr, now, &log);
  FinishOnline(base, usr, sys, r, log, pb);
}

void DSBkpOp7(int32_t* base, int32_t* pb) {
  const int32_t mode = pb[0];
  const int32_t usr = pb[1];
  const int32_t sys = du::SystemBlock(base);
  if (sys == 0) {
    pb[0] = OFF_NO_SYSTEM;
    return;
  }
  if (WorkBlock(base, usr) == 0) {
    pb[0] = OFF_NO_DICTIONARY;
    return;
  }
  auto user = Service(&DUOfflineServices::work_user, "DDUCOM user");
  if (!user) {
    pb[0] = OFF_NO_SYSTEM;
    return;
  }
  char name[DBU_NAME_MAX];
  const int32_t length = std::clamp(user(base, usr, name), 0, DBU_NAME_MAX);
  const int32_t held = Dictionary(base, usr, 0, &DUOfflineServices::check_privilege,
                                  "DDChkPrivilege", OFF_PRIVILEGE_BACKUP, 0,
                                  static_cast<const char*>(name), length);
  const int32_t ended = End(base, usr, false);
  if (held < 0 || ended < 0) {
    pb[0] = held < 0 ? held : ended;
    return;
  }
  if (held < 1) {
    pb[0] = 2;
    return;
  }
  if (mode == 1) {
    DSBkpSetOnline(base, pb);
    return;
  }
  if (mode == 2) {
    DSBkpReattach(base, pb);
    return;
  }
  if (mode != 3) {
    pb[0] = 0;
    return;
  }
  du::Take(base, sys + SYS_S);
  int32_t refusal = 0;
  if (W(base, sys + SYS_USECOUNT) >= 2) {
    refusal = 6;
  } else if (W(base, sys + SYS_DATABASE_OFFLINE) != 0) {
    refusal = 3;
  } else {
    W(base, sys + SYS_DATABASE_OFFLINE) = 1;
  }
  du::Give(base, sys + SYS_S);
  if (refusal != 0) {
    pb[0] = refusal;
    return;
  }
  const int32_t r = TakeDatabaseOffline(base, usr);
  if (r < 0) {
    SysWrite(base, sys, SYS_DATABASE_OFFLINE, 0);
    End(base, usr, true);
  }
  pb[0] = r < 0 ? r : 0;
}

void DSBkpOp8(int32_t* base, int32_t* pb, const char* name, int32_t name_length) {
  const int32_t mode = pb[0];
  const int32_t usr = pb[1];
  const int32_t ducom = WorkBlock(base, usr);
  if (ducom == 0) {
    pb[0] = OFF_NO_DICTIONARY;
    return;
  }
  name_length = std::clamp(name_length, 0, DBU_NAME_MAX);
  DUDatabankRow row;
  int32_t r = Dictionary(base, usr, 1, &DUOfflineServices::cur_databank, "DDCurDatabank", 0, name,
                         name_length, &row);
  if (r != 0) {
    pb[0] = r > 0 ? 1 : r;
    return;
  }
  if (SystemDatabank(row.id)) {
    pb[0] = 2;
    return;
  }
  if ((r = CreatorCheck(base, usr, row)) != 0) {
    pb[0] = r;
    return;
  }
  if (AddEntry(base, ducom, row.id, row.number, row.second_name, row.second_name_length, name,
               name_length) == 0) {
    pb[0] = OFF_NO_STORAGE;
    return;
  }
  char now[16];
  CurrentTimestamp(base, usr, now);
  int32_t status = 0;
  if (mode == 3) {
    if (row.flag) {
      status = 3;
    } else {
      const int32_t r = Dictionary(base, usr, 3, &DUOfflineServices::apply_mode,
                                   "DSBkpApplyMode", static_cast<const char*>(now));
      status = r == OFF_SYSDB_OFFLINE ? 3 : r == OFF_LOCKED ? 6 : r;
    }
  } else if (mode == 1) {
    if (row.flag) {
      status = Dictionary(base, usr, 0, &DUOfflineServices::refresh_files, "DSBkpRefreshFiles");
    } else {
      status = 4;
    }
  } else if (mode == 2) {
    if (row.flag) {
      status = Dictionary(base, usr, 1, &DUOfflineServices::apply_mode, "DSBkpApplyMode",
                          static_cast<const char*>(now));
      if (status >= 0) {
        status = Dictionary(base, usr, 0, &DUOfflineServices::record_files, "DSBkpRecordFiles",
                            static_cast<const char*>(now));
      }
    } else {
      status = 5;
    }
  }
  if (status == 4 || status == 5) {
    const int32_t k = OpenRequest(base, 8, usr, row.id, 0);
    if (k < 0) status = k;
  }
  FreeChain(base, ducom);
  pb[0] = status;
}

namespace {

// Adds the databank of the file row named `name` to the list; the status.
int32_t AddToList(int32_t* base, int32_t usr, int32_t ducom, const char* name,
                  int32_t name_length) {
  const int32_t mode = W(base, ducom + DDUCOM_DBU_MODE);
  auto user = Service(&DUOfflineServices::work_user, "DDUCOM user");
  if (!user) return OFF_NO_SYSTEM;
  char grantee[DBU_NAME_MAX];
  const int32_t grantee_length = std::clamp(user(base, usr, grantee), 0, DBU_NAME_MAX);
  const int32_t backup = Dictionary(base, usr, 0, &DUOfflineServices::check_privilege,
                                    "DDChkPrivilege", OFF_PRIVILEGE_BACKUP, 0,
                                    static_cast<const char*>(grantee), grantee_length);
  if (backup < 0) return 2;
  if (backup == 0 && mode != 2) {
    const int32_t shadow = Dictionary(base, usr, 0, &DUOfflineServices::check_privilege,
                                      "DDChkPrivilege", OFF_PRIVILEGE_SHADOW, 0,
                                      static_cast<const char*>(grantee), grantee_length);
    if (shadow < 1) return 2;
  }
  DUDatabankFileRow file;
  int32_t r = Dictionary(base, usr, 1, &DUOfflineServices::cur_databank_file,
                         "DDCurDatabankFile", name, name_length, &file);
  if (r < 0) return r;
  if (r > 0 || file.first_flag != 0) return 1;
  DUDatabankRow row;
  r = Dictionary(base, usr, 1, &DUOfflineServices::cur_databank, "DDCurDatabank", 0,
                 static_cast<const char*>(file.name), std::clamp(file.name_length, 0, DBU_NAME_MAX),
                 &row);
  if (r < 0) return r;
  if (r > 0) return 1;
  char creator[DBU_NAME_MAX];
  PadName(creator, row.creator, row.creator_length);
  if (std::memcmp(creator, grantee, DBU_NAME_MAX) != 0 && backup < 1) return 2;
  for (int32_t e = W(base, ducom + DDUCOM_DBU_CHAIN); e != 0; e = W(base, e + DBU_NEXT)) {
    if (W(base, e + DBU_ID) == row.id) return W(base, e + DBU_NUMBER) == file.number ? 6 : 7;
  }
  if (AddEntry(base, ducom, row.id, file.number, name, name_length, file.name,
               file.name_length) == 0) {
    return OFF_NO_STORAGE;
  }
  if (row.flag) {
    W(base, usr + USR_RVEC_RCODE) = OFF_DATABANK_OFFLINE;
    W(base, usr + USR_RVEC_LID) = row.id;
    W(base, usr + USR_RVEC_SEQNO) = -1;
    W(base, usr + USR_RVEC_BITVEC) |= 4;
    return OFF_DATABANK_OFFLINE;
  }
  if (mode == 3) return file.second_flag != 0 ? 3 : 0;
  if (mode != 1 && mode != 2) return 0;
  if (file.second_flag != 0) return 0;
  const int32_t k = OpenRequest(base, 8, usr, row.id, file.number);
  return k < 0 ? k : (mode == 1 ? 4 : 5);
}

// Applies the collected mode to the chain; 0 or the error.
int32_t ApplyList(int32_t* base, int32_t usr, int32_t ducom) {
  const int32_t mode = W(base, ducom + DDUCOM_DBU_MODE);
  char now[16];
  CurrentTimestamp(base, usr, now);
  if (mode == 3) {
    const int32_t sys = du::SystemBlock(base);
    const int32_t action = sys != 0 ? W(base, sys + SYS_GBS_ACTION) : 0;
    return Dictionary(base, usr, action == 0 || action == 1 ? 4 : 5,
                      &DUOfflineServices::apply_mode, "DSBkpApplyMode",
                      static_cast<const char*>(now));
  }
  if (mode == 1) {
    return Dictionary(base, usr, 0, &DUOfflineServices::refresh_files, "DSBkpRefreshFiles");
  }
  if (mode != 2) return 0;
  for (int32_t e = W(base, ducom + DDUCOM_DBU_CHAIN); e != 0; e = W(base, e + DBU_NEXT)) {
    const int32_t id = W(base, e + DBU_ID);
    if (SystemDatabank(id)) continue;
    const int32_t r = OpenRequest(base, 3, usr, id, W(base, e + DBU_NUMBER));
    if (r < 0) {
      for (int32_t o = W(base, ducom + DDUCOM_DBU_CHAIN); o != e; o = W(base, o + DBU_NEXT)) {
        if (!SystemDatabank(W(base, o + DBU_ID))) CloseRequest(base, 0, usr, W(base, o + DBU_ID));
      }
      return r;
    }
  }
  return Dictionary(base, usr, 1, &DUOfflineServices::record_files, "DSBkpRecordFiles",
                    static_cast<const char*>(now));
}

}  // namespace

void DSBkpOp9(int32_t* base, int32_t* pb, const char* name, int32_t name_length) {
  const int32_t step = pb[0];
  const int32_t usr = pb[1];
  const int32_t ducom = WorkBlock(base, usr);
  if (ducom == 0) {
    pb[0] = OFF_NO_DICTIONARY;
    return;
  }
  name_length = std::clamp(name_length, 0, DBU_NAME_MAX);
  if (step >= 1 && step <= 3) {
    W(base, ducom + DDUCOM_DBU_MODE) = step;
    pb[0] = 0;
  } else if (step == 4) {
    pb[0] = AddToList(base, usr, ducom, name, name_length);
    // A failed name fails the statement: nothing will apply the list.
    if (pb[0] < 0) FreeChain(base, ducom);
  } else if (step == 5) {
    pb[0] = ApplyList(base, usr, ducom);
    FreeChain(base, ducom);
  } else {
    pb[0] = 0;
  }
}
