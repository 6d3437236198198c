// Databanks and the whole database offline and online: which databanks go on
// the chain of utility entries, the privilege and state checks, and the
// database's own offline field.
#include "du/databank_offline.h"

#include <algorithm>
#include <cstring>

#include "du/databank_utility_internal.h"

namespace {

using du::W;
using namespace du::dbu;

// The three kind 8 requests after an online refusal: the first negative
// result replaces `status`.
int32_t SystemDatabanksNoted(int32_t* base, int32_t usr, int32_t status) {
  for (int32_t id = 1; id <= 3; ++id) {
    const int32_t r = OpenRequest(base, 8, usr, id, 0);
    if (r < 0 && status >= 0) status = r;
  }
  return status;
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
  return Dictionary(base, usr, mode, &DUUtilityServices::upd_databank_file, "DDUpdDatabankFile",
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
  Block block = NewRequest(3, usr, 1);
  block[UTL_FURTHER] = -1;
  r = Request(base, &DUUtilityServices::disconnect, "DSDisconnect", block.data(),
              static_cast<const char*>(now));
  if (r < 0) return r;
  if ((r = End(base, usr, false)) < 0 || (r = Begin(base, usr)) < 0) return r;
  LogDatabank log;
  DUDatabankRow row;
  for (int32_t mode = 3;; mode = 0) {
    r = Dictionary(base, usr, mode, &DUUtilityServices::cur_databank, "DDCurDatabank", 0,
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
    int32_t r = Dictionary(base, usr, mode, &DUUtilityServices::cur_databank, "DDCurDatabank", 0,
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
    Block roots = NewRequest(0, usr, 0);
    r = Request(base, &DUUtilityServices::root_numbers, "DSGetDbRootNums", roots.data(),
                static_cast<const char*>(name));
    if (r < 0) {
      CloseRequest(base, row.id == 1 ? 0 : 1, usr, row.id);
      return r;
    }
    if ((r = CloseRequest(base, 0, usr, row.id)) < 0) return r;
    if (W(base, usr + USR_GBS_ACTION) != 0) {
      r = Dictionary(base, usr, 0, &DUUtilityServices::insert_dbfile, "DDInsDbfile",
                     static_cast<const char*>(name), name_length, now, "DL",
                     static_cast<const char*>(""), 0, roots[3] - 1);
      if (r < 0) return r;
    }
  }
}

// The system block while the database is offline. Otherwise the answer is
// in pb[0] already (no system, or the system databanks noted for `mode`)
// and 0 comes back.
int32_t OfflineDatabase(int32_t* base, int32_t usr, int32_t mode, int32_t* pb) {
  const int32_t sys = du::SystemBlock(base);
  if (sys == 0) {
    pb[0] = OFF_NO_SYSTEM;
    return 0;
  }
  if (SysRead(base, sys, SYS_DATABASE_OFFLINE) == 0) {
    pb[0] = SystemDatabanksNoted(base, usr, mode);
    return 0;
  }
  return sys;
}

// Begins a transaction and marks databank `id` online in it, for the step
// after to commit; a failure rolls it back. 0 or the error.
int32_t MarkOnline(int32_t* base, int32_t usr, int32_t id) {
  int32_t r = Begin(base, usr);
  if (r >= 0) r = MarkOffline(base, usr, id, false);
  if (r < 0) {
    End(base, usr, true);
    return r;
  }
  return 0;
}

}  // namespace

void DSBkpSetOnline(int32_t* base, int32_t* pb) {
  const int32_t usr = pb[1];
  const int32_t sys = OfflineDatabase(base, usr, 4, pb);
  if (sys == 0) return;
  int32_t r = Begin(base, usr);
  DUDatabankRow row;
  LogDatabank log;
  if (r >= 0) {
    r = Dictionary(base, usr, 2, &DUUtilityServices::cur_databank, "DDCurDatabank", 3,
                   static_cast<const char*>(nullptr), 0, &row);
    if (r == 0) Remember(&log, row);
  }
  FinishOnline(base, usr, sys, r, log, pb);
}

void DSBkpReattach(int32_t* base, int32_t* pb) {
  const int32_t usr = pb[1];
  const int32_t sys = OfflineDatabase(base, usr, 5, pb);
  if (sys == 0) return;
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
  Block block = NewRequest(3, usr, 1);
  block[UTL_FURTHER] = -1;
  r = Request(base, &DUUtilityServices::disconnect, "DSDisconnect", block.data(),
              static_cast<const char*>(now));
  if (r >= 0) {
    block[0] = 3;
    r = Request(base, &DUUtilityServices::attach, "DSAttach", block.data(),
                static_cast<const char*>(now));
  }
  if (r >= 0) {
    block[0] = 1;
    r = Request(base, &DUUtilityServices::end_record, "DSBkpEndRecord", block.data());
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
  auto user = Service(&DUUtilityServices::work_user, "DDUCOM user");
  if (!user) {
    pb[0] = OFF_NO_SYSTEM;
    return;
  }
  char name[DBU_NAME_MAX];
  const int32_t length = std::clamp(user(base, usr, name), 0, DBU_NAME_MAX);
  const int32_t held = Dictionary(base, usr, 0, &DUUtilityServices::check_privilege,
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
  int32_t r = Dictionary(base, usr, 1, &DUUtilityServices::cur_databank, "DDCurDatabank", 0, name,
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
      const int32_t r = Dictionary(base, usr, 3, &DUUtilityServices::apply_mode,
                                   "DSBkpApplyMode", static_cast<const char*>(now));
      status = r == OFF_SYSDB_OFFLINE ? 3 : r == OFF_LOCKED ? 6 : r;
    }
  } else if (mode == 1) {
    if (row.flag) {
      // The mark goes in the refresh's first transaction, which joins the
      // one begun here: both commit, or both roll back.
      status = MarkOnline(base, usr, row.id);
      if (status >= 0)
        status = Dictionary(base, usr, 0, &DUUtilityServices::refresh_files, "DSBkpRefreshFiles");
    } else {
      status = 4;
    }
  } else if (mode == 2) {
    if (row.flag) {
      status = Dictionary(base, usr, 1, &DUUtilityServices::apply_mode, "DSBkpApplyMode",
                          static_cast<const char*>(now));
      // The mark goes in the transaction of the backup rows.
      if (status >= 0) status = MarkOnline(base, usr, row.id);
      if (status >= 0) {
        status = Dictionary(base, usr, 0, &DUUtilityServices::record_files, "DSBkpRecordFiles",
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
  auto user = Service(&DUUtilityServices::work_user, "DDUCOM user");
  if (!user) return OFF_NO_SYSTEM;
  char grantee[DBU_NAME_MAX];
  const int32_t grantee_length = std::clamp(user(base, usr, grantee), 0, DBU_NAME_MAX);
  const int32_t backup = Dictionary(base, usr, 0, &DUUtilityServices::check_privilege,
                                    "DDChkPrivilege", OFF_PRIVILEGE_BACKUP, 0,
                                    static_cast<const char*>(grantee), grantee_length);
  if (backup < 0) return 2;
  if (backup == 0 && mode != 2) {
    const int32_t shadow = Dictionary(base, usr, 0, &DUUtilityServices::check_privilege,
                                      "DDChkPrivilege", OFF_PRIVILEGE_SHADOW, 0,
                                      static_cast<const char*>(grantee), grantee_length);
    if (shadow < 1) return 2;
  }
  DUDatabankFileRow file;
  int32_t r = Dictionary(base, usr, 1, &DUUtilityServices::cur_databank_file,
                         "DDCurDatabankFile", name, name_length, &file);
  if (r < 0) return r;
  if (r > 0 || file.first_flag != 0) return 1;
  DUDatabankRow row;
  r = Dictionary(base, usr, 1, &DUUtilityServices::cur_databank, "DDCurDatabank", 0,
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
                      &DUUtilityServices::apply_mode, "DSBkpApplyMode",
                      static_cast<const char*>(now));
  }
  if (mode == 1) {
    return Dictionary(base, usr, 0, &DUUtilityServices::refresh_files, "DSBkpRefreshFiles");
  }
  if (mode != 2) return 0;
  // Every listed file is offline here (a file online answered 5), and the
  // backup rows read each databank's restore directory, which an offline
  // copy cannot give: the copies come back online first.
  const int32_t refreshed =
      Dictionary(base, usr, 0, &DUUtilityServices::refresh_files, "DSBkpRefreshFiles");
  if (refreshed < 0) return refreshed;
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
  return Dictionary(base, usr, 1, &DUUtilityServices::record_files, "DSBkpRecordFiles",
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
