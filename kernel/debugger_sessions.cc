// DSDBG2: the pool of routine-debugger sessions (see debugger_sessions.h).
#include "kernel/debugger_sessions.h"

#include <set>
#include <vector>

#include "kernel/control_blocks.h"
#include "kernel/error_report.h"
#include "kernel/system_block.h"
#include "platform/enqdeq.h"

namespace {

int32_t Report(int32_t* base, int32_t usr, int32_t code) {
  DSErrRep("DSDBG2", 6, code, SEV_ERROR);
  if (InStorage(base, usr, USR_WORDS)) Wd(base, usr, USR_RVEC_RCODE) = code;
  return code;
}

// The session's channel, 0 when it has none in the storage.
int32_t ChannelOf(int32_t* base, int32_t usr) {
  if (!InStorage(base, usr, USR_WORDS)) return 0;
  const int32_t cha = Wd(base, usr, USR_CHA);
  return InStorage(base, cha, CHA_WORDS) ? cha : 0;
}

bool InList(int32_t* base, int32_t sys, int32_t dbs) {
  for (int32_t d = Wd(base, sys, SYS_DBS); d != 0; d = Wd(base, d, DBS_NEXT))
    if (d == dbs) return true;
  return false;
}

// Frees a tree of blocks linked through their first two words.
void FreeTree(int32_t* base, int32_t root) {
  std::vector<int32_t> todo{root};
  std::set<int32_t> seen;  // a block met twice (a damaged tree) is freed once
  while (!todo.empty()) {
    int32_t b = todo.back();
    todo.pop_back();
    if (!InStorage(base, b, 2) || !seen.insert(b).second) continue;
    todo.push_back(Wd(base, b, 0));
    todo.push_back(Wd(base, b, 1));
    DSGetMem(base, &b, 0);
  }
}

int32_t OpenDebuggee(int32_t* base, int32_t sys, int32_t usr, int32_t cha, int32_t* arg) {
  if (cha == 0) return Report(base, usr, KERNEL_BAD_PARAMETER);
  if (Wd(base, cha, CHA_DBS) != 0) return Report(base, usr, DBG_ALREADY_ATTACHED);
  int32_t dbs = 0;
  {
    // The block is set up before the semaphore goes: a debugger attaching
    // at once finds it whole.
    EnqdeqGuard guard(&Wd(base, sys, SYS_S));
    if (Wd(base, sys, SYS_SYSTEM_STATUS) != 0) dbs = -1;
    for (int32_t d = dbs == 0 ? Wd(base, sys, SYS_DBS) : 0; d != 0; d = Wd(base, d, DBS_NEXT)) {
      if (Wd(base, d, DBS_USECOUNT) != 0) continue;
      Wd(base, d, DBS_USECOUNT) = 1;
      Wd(base, d, DBS_USR_DEBUGGEE) = usr;
      Wd(base, d, DBS_STATUS) = 1;
      Wd(base, d, DBS_TERMINATE_FLAG) = 0;
      enqdeq_init_semaphore(&Wd(base, d, DBS_E_S), 0);
      enqdeq_init_semaphore(&Wd(base, d, DBS_IC_S), 0);
      dbs = d;
      break;
    }
  }
  if (dbs == -1) return Report(base, usr, DBG_NOT_RUNNING);
  if (dbs == 0) return DBG_NO_FREE_BLOCK;
  Wd(base, cha, CHA_DBS) = dbs;
  *arg = dbs;
  return 0;
}

int32_t AttachDebugger(int32_t* base, int32_t sys, int32_t usr, int32_t cha, int32_t dbs) {
  if (cha == 0) return Report(base, usr, KERNEL_BAD_PARAMETER);
  if (Wd(base, cha, CHA_DBS) != 0) return Report(base, usr, DBG_ALREADY_ATTACHED);
  int32_t rc = 0;
  {
    EnqdeqGuard guard(&Wd(base, sys, SYS_S));
    if (!InList(base, sys, dbs)) {
      rc = DBG_NOT_IN_LIST;
    } else if (Wd(base, sys, SYS_SYSTEM_STATUS) != 0) {
      rc = DBG_NOT_RUNNING;
    } else if (Wd(base, dbs, DBS_USECOUNT) == 1 && Wd(base, dbs, DBS_USR_DEBUGGER) == 0) {
      Wd(base, dbs, DBS_USECOUNT) = 2;
      Wd(base, dbs, DBS_USR_DEBUGGER) = usr;
      Wd(base, cha, CHA_DBS) = dbs;
    } else {
      rc = KERNEL_BAD_PARAMETER;
    }
  }
  return rc == 0 ? 0 : Report(base, usr, rc);
}

int32_t Detach(int32_t* base, int32_t sys, int32_t usr, int32_t cha, int32_t* arg) {
  const int32_t dbs = cha != 0 ? Wd(base, cha, CHA_DBS) : 0;
  if (!InStorage(base, dbs, DBS_WORDS)) return Report(base, usr, KERNEL_BAD_PARAMETER);
  int32_t left = 0, bis = 0;
  {
    // Everything the parties share changes under the SYS semaphore: a block
    // whose count reaches 0 is free for the next debuggee the moment the
    // semaphore goes, so its party words and BIS are cleared before that.
    EnqdeqGuard guard(&Wd(base, sys, SYS_S));
    const int32_t debuggee = Wd(base, dbs, DBS_USR_DEBUGGEE);
    const int32_t debugger = Wd(base, dbs, DBS_USR_DEBUGGER);
    if (Wd(base, dbs, DBS_USECOUNT) < 1 || (usr != debuggee && usr != debugger)) {
      left = -1;
    } else {
      *arg = usr == debuggee ? debugger : debuggee;
      Wd(base, dbs, DBS_TERMINATE_FLAG) = 1;
      enqdeq_give(&Wd(base, dbs, DBS_IC_S));
      enqdeq_give(&Wd(base, dbs, DBS_E_S));
      left = --Wd(base, dbs, DBS_USECOUNT);
      if (usr == debugger) Wd(base, dbs, DBS_USR_DEBUGGER) = 0;
      if (left == 0) {
        bis = Wd(base, dbs, DBS_BIS);
        Wd(base, dbs, DBS_USR_DEBUGGEE) = 0;
        Wd(base, dbs, DBS_USR_DEBUGGER) = 0;
        Wd(base, dbs, DBS_BIS) = 0;
      }
    }
  }
  if (left < 0) return Report(base, usr, KERNEL_BAD_PARAMETER);
  Wd(base, cha, CHA_DBS) = 0;
  if (left > 0) {
    *arg = 0;
    return 1;
  }
  FreeTree(base, bis);
  return 0;
}

}  // namespace

void DSDBG2(int32_t* base, int32_t* request, int32_t operation, int32_t* argument) {
  const int32_t sys = KernelSys(base);
  const int32_t usr = request[1];
  if (sys == 0) {
    request[0] = KERNEL_NOT_STARTED;
    return;
  }
  const int32_t cha = ChannelOf(base, usr);
  int32_t rc = 0;
  switch (operation) {
    case DBG_OPEN_DEBUGGEE:
      rc = OpenDebuggee(base, sys, usr, cha, argument);
      break;
    case DBG_ATTACH_DEBUGGER:
      rc = AttachDebugger(base, sys, usr, cha, *argument);
      break;
    case DBG_DETACH:
      rc = Detach(base, sys, usr, cha, argument);
      break;
    case DBG_CREATE: {
      int32_t dbs = 0;
      DSGetMem(base, &dbs, DBS_BYTES);
      if (dbs == 0) {
        rc = Report(base, usr, SQLPOOL_EXHAUSTED_ERROR);
        break;
      }
      EnqdeqGuard guard(&Wd(base, sys, SYS_S));
      Wd(base, dbs, DBS_NEXT) = Wd(base, sys, SYS_DBS);
      Wd(base, sys, SYS_DBS) = dbs;
      break;
    }
    case DBG_REMOVE_ONE: {
      int32_t found = 0;
      {
        EnqdeqGuard guard(&Wd(base, sys, SYS_S));
        for (int32_t at = sys + SYS_DBS; sqlpool_word(base, at) != 0;
             at = sqlpool_word(base, at) + DBS_NEXT) {
          const int32_t d = sqlpool_word(base, at);
          if (Wd(base, d, DBS_USECOUNT) != 0) continue;
          sqlpool_word(base, at) = Wd(base, d, DBS_NEXT);
          found = d;
          break;
        }
      }
      if (found != 0) DSGetMem(base, &found, 0);
      break;
    }
    case DBG_WAKE_ALL:
      for (int32_t d = Wd(base, sys, SYS_DBS); d != 0; d = Wd(base, d, DBS_NEXT)) {
        enqdeq_give(&Wd(base, d, DBS_IC_S));
        enqdeq_give(&Wd(base, d, DBS_E_S));
      }
      break;
    case DBG_FREE_INFO:
      FreeTree(base, *argument);
      *argument = 0;
      break;
    case DBG_FREE_ALL: {
      int32_t d;
      {
        EnqdeqGuard guard(&Wd(base, sys, SYS_S));
        d = Wd(base, sys, SYS_DBS);
        Wd(base, sys, SYS_DBS) = 0;
      }
      while (d != 0) {
        int32_t next = Wd(base, d, DBS_NEXT);
        FreeTree(base, Wd(base, d, DBS_BIS));
        DSGetMem(base, &d, 0);
        d = next;
      }
      break;
    }
    default:
      rc = Report(base, usr, KERNEL_BAD_PARAMETER);
  }
  request[0] = rc;
}
