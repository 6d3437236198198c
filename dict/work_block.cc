// DDBegWork, DDEndWork and the work block, over record access's
// transactions (begin, end, scope, the DDL transaction record).
#include "dict/work_block.h"

#include <cstring>

#include "dict/statement_prepare.h"
#include "du/ddl_transaction.h"
#include "du/transactions.h"
#include "kernel/control_blocks.h"
#include "kernel/system_block.h"
#include "kernel/upper_services.h"
#include "kernel/word_storage.h"
#include "platform/thread_slots.h"

namespace {

// The calling thread's THR, 0 when it has none.
int32_t Thread() {
  StatusPair st{};
  int32_t thr = 0;
  mdr_tls_get(&st, &thr, TLS_SLOT_THR);
  return st.rc == 0 ? thr : 0;
}

uint8_t* Bytes(int32_t* base, int32_t block, int32_t word) {
  return reinterpret_cast<uint8_t*>(&Wd(base, block, word));
}

int32_t Trimmed(const uint8_t* name, int32_t n) {
  while (n > 0 && name[n - 1] == ' ') --n;
  return n;
}

bool BuildMode(int32_t* base) {
  const int32_t sys = KernelSys(base);
  const int32_t mode = sys == 0 ? 0 : Wd(base, sys, SYS_MODE);
  return mode == -242 || mode == 242;
}

int32_t Protocol(int32_t* base, int32_t usr) {
  const int32_t cha = Wd(base, usr, USR_CHA);
  return InStorage(base, cha, CHA_WORDS) ? Wd(base, cha, CHA_PROTOCOL_VERSION) : 0;
}

// DDBegWork's steps behind the remembered start.
int32_t Begin(int32_t* base, int32_t usr, int32_t mode) {
  bool open = false;
  if (!BuildMode(base)) {
    const int32_t scope = DSGetTransScope(base, usr);
    if (scope == 1 || scope == 4) return DD_SCOPE_REFUSED;
    if (Wd(base, usr, USR_XAENT) != 0) return DD_XA_ACTIVE;
    if (scope == DD_SCOPE_USER) {
      const int32_t rc = UpTransEndReq(base, usr);
      if (rc != 0) return rc;
    }
    const int32_t w = DSChkTransWritable(base, nullptr, usr);
    if (w < 0) return w;
    open = w == 1;
  }
  if (!open) {
    int32_t begin[2] = {mode == 0 ? 1 : mode, usr};
    DSBTR3(base, begin);
    if (begin[0] != 0) return begin[0];
  }
  int32_t pb[2] = {0, usr};
  DDCreUcom(base, pb);
  if (pb[0] != 0) return pb[0];
  int32_t status = 0;
  DSSetTransScope(base, &status, usr, DD_SCOPE_DICTIONARY);
  return status;
}

}  // namespace

void DDBegWork(int32_t* base, int32_t* pb) {
  const int32_t usr = pb[1];
  const int32_t start = Wd(base, usr, USR_TRANSACTION_START);
  const bool old_client = Protocol(base, usr) < DD_PROTOCOL_OWN_TRANSACTION && start == 2;
  if (old_client) Wd(base, usr, USR_TRANSACTION_START) = 1;
  pb[0] = Begin(base, usr, pb[0]);
  if (old_client) Wd(base, usr, USR_TRANSACTION_START) = 2;
}

void DDEndWork(int32_t* base, int32_t* pb) {
  const int32_t usr = pb[1], outcome = pb[0];
  if (Wd(base, usr, USR_DDUCOM) == 0) {
    pb[0] = DD_NO_WORK_BLOCK;
    return;
  }
  int32_t kept = 0;
  auto keep_negative = [&](int32_t rc) {
    if (kept == 0 && rc < 0) kept = rc;
  };
  auto keep_any = [&](int32_t rc) {
    if (kept == 0 && rc != 0) kept = rc;
  };
  if (!BuildMode(base) && Wd(base, usr, USR_TRANSACTION_AUTOCOMMIT) == NO_AUTOMATIC_END &&
      Protocol(base, usr) >= DD_PROTOCOL_OWN_TRANSACTION) {
    int32_t status = 0;
    if (outcome == 0) {
      DSSetTransScope(base, &status, usr, DD_SCOPE_USER);
      keep_negative(status);
    } else {
      int32_t back[2] = {0, usr};
      DSDdlTransRollback(base, back);
      keep_negative(back[0]);
      int32_t finish[2] = {0, usr};
      DSDdlTransFinish(base, finish, back[0]);
      keep_any(finish[0]);
      DSSetTransScope(base, &status, usr, DD_SCOPE_DICTIONARY);
      keep_any(status);
    }
  } else {
    int32_t end[3] = {outcome == 0 ? END_AUTOMATIC : END_ROLLBACK, usr, 0};
    DSEndTrans(base, end);
    keep_negative(end[0]);
  }
  int32_t del[2] = {0, usr};
  DDDelUcom(base, del);
  keep_any(del[0]);
  pb[0] = kept;
}

void DDCreUcom(int32_t* base, int32_t* pb) {
  const int32_t usr = pb[1];
  const int32_t thr = Thread();
  if (thr == 0) {
    pb[0] = DD_NO_THREAD;
    return;
  }
  Wd(base, thr + THR_USR_START, USR_TP) = Wd(base, usr, USR_TP);
  if (Wd(base, usr, USR_DDUCOM) != 0) {
    pb[0] = 0;
    return;
  }
  int32_t ucom = 0;
  DSGetMem(base, &ucom, DDUCOM_BYTES);
  if (ucom == 0) {
    pb[0] = SQLPOOL_EXHAUSTED_ERROR;
    return;
  }
  Wd(base, usr, USR_DDUCOM) = ucom;
  uint8_t* name = Bytes(base, ucom, DDUCOM_LEVEL_NAME);
  std::memset(name, ' ', 128);
  const int32_t lvl = Wd(base, usr, USR_LVL);
  if (InStorage(base, lvl, LVL_WORDS)) std::memcpy(name, Bytes(base, lvl, LVL_NAME), 128);
  Wd(base, ucom, DDUCOM_LEVEL_LENGTH) = Trimmed(name, 128);
  std::memcpy(Bytes(base, ucom, DDUCOM_SCHEMA), name, 128);
  Wd(base, ucom, DDUCOM_SCHEMA_LENGTH) = Wd(base, ucom, DDUCOM_LEVEL_LENGTH);
  int32_t slots = 0;
  DSGetMemRaw(base, &slots, DD_SLOT_TABLE_BYTES);
  if (slots == 0) {
    pb[0] = SQLPOOL_EXHAUSTED_ERROR;  // the block stays, without slot table
    return;
  }
  for (int32_t k = 0; k < DD_SLOT_COUNT; ++k) Wd(base, slots, k * SLOT_WORDS + SLOT_STM) = 0;
  Wd(base, ucom, DDUCOM_SLOTS) = slots;
  pb[0] = 0;
}

void DDDelUcom(int32_t* base, int32_t* pb) {
  const int32_t usr = pb[1];
  int32_t ucom = Wd(base, usr, USR_DDUCOM);
  if (ucom == 0) {
    pb[0] = DD_NO_WORK_BLOCK;
    return;
  }
  const int32_t thr = Thread();
  if (thr != 0) Wd(base, thr + THR_USR_START, USR_TP) = 0;
  int32_t area = Wd(base, ucom, DDUCOM_WORK_AREA);
  if (area != 0) DSGetMem(base, &area, 0);
  int32_t slots = Wd(base, ucom, DDUCOM_SLOTS);
  if (slots != 0) {  // a block without slot table has no statement to close
    for (int32_t k = 0; k < DD_SLOT_COUNT; ++k)
      DDClose(base, &Wd(base, slots, k * SLOT_WORDS));
    DSGetMem(base, &slots, 0);
  }
  for (const int32_t field : {DDUCOM_UTILITY_CHAIN, DDUCOM_CHAIN}) {
    for (int32_t block = Wd(base, ucom, field), n = 0; block != 0 && n < 1000000; ++n) {
      const int32_t next = Wd(base, block, 0);
      DSGetMem(base, &block, 0);
      block = next;
    }
    Wd(base, ucom, field) = 0;
  }
  DSGetMem(base, &ucom, 0);
  Wd(base, usr, USR_DDUCOM) = 0;
  pb[0] = 0;
}

int32_t DDGetUserName(int32_t* base, int32_t* pb, uint8_t* buffer, int32_t* length) {
  const int32_t lvl = Wd(base, pb[1], USR_LVL);
  std::memset(buffer, ' ', 128);
  if (InStorage(base, lvl, LVL_WORDS)) std::memcpy(buffer, Bytes(base, lvl, LVL_NAME), 128);
  *length = Trimmed(buffer, 128);
  pb[0] = 0;
  return *length;
}

int32_t* DDWorkSlot(int32_t* base, int32_t usr, int32_t number, int32_t* status) {
  const int32_t ucom = Wd(base, usr, USR_DDUCOM);
  if (ucom == 0) {
    *status = DD_NO_WORK_BLOCK;
    return nullptr;
  }
  const int32_t slots = Wd(base, ucom, DDUCOM_SLOTS);
  if (slots == 0 || number < 0 || number >= DD_SLOT_COUNT) {
    *status = SQLPOOL_EXHAUSTED_ERROR;
    return nullptr;
  }
  *status = 0;
  return &Wd(base, slots, number * SLOT_WORDS);
}
