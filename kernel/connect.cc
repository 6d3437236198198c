// Connect: a new session on the channel, logged in through the thread's
// login statement (STM_MOS_IDENT) and admitted under the SYS semaphore by
// the system's state. The SYS semaphore is held only around the admission
// and the counters, never across a statement run or an allocation.
#include <algorithm>
#include <cstring>
#include <string>

#include "kernel/control_blocks.h"
#include "kernel/sessions.h"
#include "kernel/statement_columns.h"
#include "kernel/system_block.h"
#include "kernel/table_use.h"
#include "kernel/upper_services.h"
#include "platform/enqdeq.h"
#include "platform/host_services.h"
#include "platform/password_scramble.h"

namespace {

constexpr char kNotConnected[] = "..not connected..";
constexpr char kAdministrator[] = "_SYSTEM_ADM";

void PutPadded(char* field, const char* text, size_t length, size_t bytes) {
  std::memset(field, ' ', bytes);
  std::memcpy(field, text, std::min(length, bytes));
}

int32_t TrimmedLength(const char* text, int32_t length) {
  while (length > 0 && text[length - 1] == ' ') --length;
  return length;
}

void AddCounter(int32_t* base, int32_t sys, int32_t field) {
  EnqdeqGuard guard(&Wd(base, sys, SYS_S));
  ++Wd(base, sys, field);
}

bool ValidBlock(const int32_t* connect, int32_t words, int32_t cha_given) {
  if (connect == nullptr || words <= CNB_TEXT) return false;
  const int64_t size = connect[CNB_SIZE];
  const int64_t l1 = connect[CNB_IDENT_LENGTH], l2 = connect[CNB_PASSWORD_LENGTH],
                l3 = connect[CNB_TIME_LENGTH];
  const int32_t sim = connect[CNB_SIMULATION], mode = connect[CNB_MODE];
  return size > CNB_TEXT && size <= words && l1 >= 0 && l2 >= 0 && l3 >= 0 &&
         l1 <= CNB_MAX_IDENT && l3 <= CNB_MAX_TIME && l1 + l2 + l3 <= 4 * size - 36 &&
         (sim == 0 || sim == SIMULATION_MAGIC_1 || sim == SIMULATION_MAGIC_2) && mode >= 1 &&
         mode <= 3 && cha_given != 0;
}

struct Login {
  int32_t* base;
  int32_t sys, usr, thr, stm;
};

// Runs the login statement for `name` (parameter 4 `admin_of` or null);
// 0 with a row, LOGIN_REJECTED without, or LOGIN_STATEMENT_FAILED.
int32_t RunLogin(const Login& l, const std::string& name, const uint8_t* scrambled,
                 const std::string* admin_of, const CommChannelInfo& info) {
  int32_t st = 0;
  // Names and the node are blank padded, as the catalog keys them.
  DSSetParChar(l.base, &st, l.stm, 1, reinterpret_cast<const uint8_t*>(name.data()), 0,
               static_cast<int32_t>(name.size()));
  if (st == 0)
    DSSetParPad(l.base, &st, l.stm, 3, scrambled, 0, scrambled != nullptr ? kPasswordBytes : 0);
  if (st == 0 && admin_of != nullptr)
    DSSetParChar(l.base, &st, l.stm, 4, reinterpret_cast<const uint8_t*>(admin_of->data()), 0,
                 static_cast<int32_t>(admin_of->size()));
  else if (st == 0)
    DSSetParNull(l.base, &st, l.stm, 4);
  if (st == 0 && info.node_length >= 1 && info.node_length <= 128)
    DSSetParChar(l.base, &st, l.stm, 6, reinterpret_cast<const uint8_t*>(info.node), 0,
                 info.node_length);
  else if (st == 0)
    DSSetParNull(l.base, &st, l.stm, 6);
  if (st != 0) return LOGIN_STATEMENT_FAILED;
  Wd(l.base, l.stm, STM_PC) = 2;
  int32_t result[1 + RVEC_WORDS] = {};
  UpDAMAE2(l.base, result, l.stm, l.thr + THR_USR_START);
  if (result[0] < 0) return LOGIN_STATEMENT_FAILED;
  if (result[0] > 0 || Wd(l.base, l.stm, STM_PC) == 0) return LOGIN_REJECTED;
  return 0;
}

// Step 11: the admission under the SYS semaphore; 0 or the refusal.
int32_t Admit(int32_t* base, int32_t sys, int32_t usr, bool admin, const CommChannelInfo& info) {
  EnqdeqGuard guard(&Wd(base, sys, SYS_S));
  const int32_t n = Wd(base, sys, SYS_USECOUNT) + 1;
  if (Wd(base, sys, SYS_LOGIN_MODE) != 0) return LOGINS_DISABLED;
  const int32_t state = Wd(base, sys, SYS_SYSTEM_STATUS);
  if (state == -1 && admin && n >= 2) return LOGIN_EXCLUSIVE;
  if (state != 0 && !(state == -1 && admin)) {
    CopyResultVector(base, usr + USR_RVEC_RCODE, sys + SYS_RVEC);
    // A system that is not running never admits a session, whatever its
    // error vector holds.
    const int32_t e = Wd(base, sys, SYS_RVEC);
    return e < 0 ? e : LOGIN_NOT_RUNNING;
  }
  if (Wd(base, sys, SYS_SYSTEM_EXCLUSIVE) != 0) return LOGIN_EXCLUSIVE;
  const bool alone_admin = admin && n < 2;
  if (Wd(base, sys, SYS_DATABASE_OFFLINE) != 0 && !alone_admin)
    return admin ? LOGIN_OFFLINE_NOT_ALONE : LOGIN_OFFLINE;
  if (Wd(base, sys, SYS_SYSDB_OFFLINE) != 0 && !alone_admin)
    return admin ? LOGIN_SYSDB_OFFLINE_NOT_ALONE : LOGIN_SYSDB_OFFLINE;
  Wd(base, sys, SYS_USECOUNT) = n;
  Wd(base, usr, USR_LOCAL) = info.local ? 1 : 0;
  return 0;
}

// Steps 4-11 for a session made and linked; 0 when admitted.
int32_t LogIn(int32_t* base, int32_t sys, int32_t cha, int32_t usr, const int32_t* connect,
              int32_t* params) {
  if (Wd(base, sys, SYS_LOGIN_MODE) != 0) return LOGINS_DISABLED;
  const int32_t thr = CurrentThread();
  const int32_t stm = InStorage(base, thr, THR_WORDS) ? Wd(base, thr, THR_STM_MOS_IDENT) : 0;
  if (!InStorage(base, stm, STM_WORDS)) return LOGIN_NO_STATEMENT;
  const char* text = reinterpret_cast<const char*>(connect + CNB_TEXT);
  const int32_t l1 = connect[CNB_IDENT_LENGTH], l2 = connect[CNB_PASSWORD_LENGTH];
  const std::string name(text, l1);
  const int32_t pw_length = TrimmedLength(text + l1, l2);
  auto reject = [&] {
    params[SES_PRM_LVL] = 0;
    AddCounter(base, sys, SYS_ST_REJECTED_LOGINS);
    return LOGIN_REJECTED;
  };
  if (pw_length > CNB_MAX_PASSWORD) return reject();
  uint8_t password[kPasswordBytes], ident[kPasswordBytes], scrambled[kPasswordBytes];
  PutPadded(reinterpret_cast<char*>(password), text + l1, pw_length, kPasswordBytes);
  PutPadded(reinterpret_cast<char*>(ident), name.data(), name.size(), kPasswordBytes);
  mdr_password_scramble_ident(scrambled, password, ident);
  const CommChannelInfo info = comm_channel_info(Wd(base, cha, CHA_CHANNELNO));
  const Login l{base, sys, usr, thr, stm};
  const int32_t tp = Wd(base, thr + THR_USR_START, USR_TP);
  Wd(base, thr + THR_USR_START, USR_TP) = 0;
  int32_t rc = RunLogin(l, name, scrambled, nullptr, info);
  int32_t id = 0;
  std::string ident_name;
  if (rc == 0) {
    int32_t st = 0;
    DSGetColInt(base, &st, stm, 1, &id);
    uint8_t* f = nullptr;
    int32_t len = 0;
    if (st == 0) st = StatementField(base, stm, true, 2, &f, &len);
    if (st != 0 || len < 1 || f[0] == 255)
      rc = LOGIN_STATEMENT_FAILED;
    else
      ident_name.assign(reinterpret_cast<char*>(f + 1), std::min(len - 1, CNB_MAX_IDENT));
  }
  bool admin = false;
  if (rc == 0) {
    PutPadded(reinterpret_cast<char*>(&Wd(base, usr, USR_NAME)), ident_name.data(),
              ident_name.size(), 128);
    Wd(base, usr, USR_ID) = id;
    std::string padded(reinterpret_cast<char*>(&Wd(base, usr, USR_NAME)), 128);
    admin = RunLogin(l, kAdministrator, nullptr, &padded, info) == 0;
  }
  Wd(base, thr + THR_USR_START, USR_TP) = tp;
  if (rc == LOGIN_REJECTED) return reject();
  if (rc != 0) return rc;
  return Admit(base, sys, usr, admin, info);
}

void Fail(int32_t* base, int32_t* params, int32_t status) {
  params[SES_PRM_STATUS] = status;
  const int32_t sys = KernelSys(base);
  if (sys != 0 && Wd(base, sys, SYS_SYSTEM_STATUS) == 0)
    Wd(base, sys + SYS_USR_START, USR_RVEC_RCODE) = status;
}

}  // namespace

void SessionDefaults(int32_t* base, int32_t usr) {
  Wd(base, usr, USR_TRAN_DIAG_SIZE) = SESSION_DIAG_SIZE;
  Wd(base, usr, USR_SESS_DIAG_SIZE) = SESSION_DIAG_SIZE;
  Wd(base, usr, USR_NEXT_DIAG_SIZE) = 0;
  Wd(base, usr, USR_LVL2_DIGITS_IN_EXP) = 0;
  Wd(base, usr, USR_ALTERNATE_USER) = 0;
  Wd(base, usr, USR_SESSION_ISOLATION_LEVEL) = SESSION_ISOLATION;
  Wd(base, usr, USR_NEXT_ISOLATION_LEVEL) = SESSION_ISOLATION;
  Wd(base, usr, USR_SESSION_READ_WRITE_MODE) = 0;
  Wd(base, usr, USR_NEXT_READ_WRITE_MODE) = 0;
  Wd(base, usr, USR_TRANSACTION_TIMEOUT) = 0;
  const int32_t lvl = Wd(base, usr, USR_LVL);
  if (InStorage(base, lvl, LVL_WORDS)) {
    // The path is the level's name alone: its first element (a not-null
    // indicator and the name), the other two absent.
    uint8_t* path = reinterpret_cast<uint8_t*>(&Wd(base, lvl, LVL_PATH));
    std::memset(path, 255, LVL_PATH_BYTES);
    path[0] = 0;
    std::memcpy(path + 1, &Wd(base, lvl, LVL_NAME), 128);
  }
}

void DSConnect(int32_t* base, int32_t* params, int32_t* connect, int32_t connect_words) {
  const int32_t sys = KernelSys(base);
  if (sys == 0) {
    params[SES_PRM_STATUS] = KERNEL_NOT_STARTED;
    return;
  }
  const int32_t cha = params[SES_PRM_CHA];
  params[SES_PRM_LVL] = 0;
  if (connect != nullptr && connect_words > 2) connect[1] = connect[2] = 0;
  const bool channel = InStorage(base, cha, CHA_WORDS);
  if (!ValidBlock(connect, connect_words, channel ? cha : 0)) return Fail(base, params, KERNEL_BAD_PARAMETER);
  int32_t usr = 0;
  DSGetMem(base, &usr, USR_BYTES);
  if (usr == 0) return Fail(base, params, SQLPOOL_EXHAUSTED_ERROR);
  Wd(base, usr, USR_MARK_ID) = 1000;
  Wd(base, usr, USR_ID) = -1;
  Wd(base, usr, USR_USR) = usr;
  Wd(base, usr, USR_TRANSACTION_START) = connect[CNB_MODE];
  Wd(base, usr, USR_TRANSACTION_AUTOCOMMIT) = 88;
  Wd(base, usr, USR_TRANSACTION_VIEW) = 2;
  Wd(base, usr, USR_TRANSACTION_ENDED) = -1;
  Wd(base, usr, USR_SEED) = 987654321;
  PutPadded(reinterpret_cast<char*>(&Wd(base, usr, USR_NAME)), kNotConnected,
            sizeof kNotConnected - 1, 128);
  Wd(base, usr, USR_NEXT) = Wd(base, cha, CHA_USR);
  Wd(base, cha, CHA_USR) = usr;
  Wd(base, usr, USR_CHA) = cha;
  params[SES_PRM_USR] = usr;
  const int32_t rc = LogIn(base, sys, cha, usr, connect, params);
  if (rc != 0) {
    Wd(base, usr, USR_ID) = -1;
    Wd(base, usr, USR_RVEC_RCODE) = rc;
    params[SES_PRM_STATUS] = rc;
    return;
  }
  int32_t lvl = 0;
  DSGetMem(base, &lvl, LVL_BYTES);
  if (lvl == 0) {
    {
      EnqdeqGuard guard(&Wd(base, sys, SYS_S));
      --Wd(base, sys, SYS_USECOUNT);
    }
    Wd(base, cha, CHA_USR) = Wd(base, usr, USR_NEXT);
    DSGetMem(base, &usr, 0);
    params[SES_PRM_USR] = 0;
    return Fail(base, params, SQLPOOL_EXHAUSTED_ERROR);
  }
  const int32_t id = Wd(base, usr, USR_ID);
  Wd(base, usr, USR_LVL) = lvl;
  Wd(base, usr, USR_TRANSDB_DID) = Wd(base, sys, SYS_TRANSDB_DID);
  Wd(base, usr, USR_LOGDB_DID) = Wd(base, sys, SYS_LOGDB_DID);
  Wd(base, usr, USR_SQLDB_DID) = Wd(base, sys, SYS_SQLDB_DID);
  Wd(base, usr, USR_USERID) = id;
  const int32_t sim = connect[CNB_SIMULATION];
  Wd(base, usr, USR_SIMULATION_MODE) =
      sim == SIMULATION_MAGIC_1 ? 1 : sim == SIMULATION_MAGIC_2 ? 100 : 0;
  if (sim != 0) {
    const char* text = reinterpret_cast<const char*>(connect + CNB_TEXT);
    PutPadded(reinterpret_cast<char*>(&Wd(base, usr, USR_SIMULATION_TIME)),
              text + connect[CNB_IDENT_LENGTH] + connect[CNB_PASSWORD_LENGTH],
              connect[CNB_TIME_LENGTH], CNB_MAX_TIME);
  }
  Wd(base, lvl, LVL_USR) = usr;
  Wd(base, lvl, LVL_ID) = id;
  char* name = reinterpret_cast<char*>(&Wd(base, usr, USR_NAME));
  std::memcpy(&Wd(base, lvl, LVL_NAME), name, 128);
  const int32_t length = TrimmedLength(name, 128);
  std::memcpy(&Wd(base, usr, USR_CURRENT_USER), name, 128);
  std::memcpy(&Wd(base, usr, USR_CURRENT_CONNECTED_IDENT), name, 128);
  Wd(base, usr, USR_CURRENT_USER_LENGTH) = length;
  Wd(base, usr, USR_CURRENT_CONNECTED_IDENT_LENGTH) = length;
  SessionDefaults(base, usr);
  {
    EnqdeqGuard guard(&Wd(base, sys, SYS_S));
    if (Wd(base, sys, SYS_SYSTEM_STATUS) != 0)
      CopyResultVector(base, usr + USR_RVEC_RCODE, sys + SYS_RVEC);
    ++Wd(base, sys, SYS_ST_LOGINS);
  }
  params[SES_PRM_STATUS] = Wd(base, usr, USR_RVEC_RCODE);
  params[SES_PRM_LVL] = lvl;
}

void DSConnectReq(int32_t* base, int32_t* params, int32_t* connect, int32_t connect_words) {
  if (connect != nullptr && connect_words > CNB_MODE && connect[CNB_MODE] == 2)
    connect[CNB_MODE] = 3;
  DSConnect(base, params, connect, connect_words);
}

void DSConnectReq2(int32_t* base, int32_t* params, const char* ident, const char* password) {
  int32_t connect[18] = {};
  connect[CNB_SIZE] = 18;
  connect[CNB_MODE] = 3;
  connect[CNB_IDENT_LENGTH] = 18;
  connect[CNB_PASSWORD_LENGTH] = 18;
  char* text = reinterpret_cast<char*>(connect + CNB_TEXT);
  std::memcpy(text, ident, 18);
  std::memcpy(text + 18, password, 18);
  DSConnect(base, params, connect, 18);
}
