// DSFreeCtlTables (see control_tables.h).
#include "kernel/control_tables.h"

#include "dk/request.h"
#include "kernel/control_blocks.h"
#include "kernel/databank_control.h"
#include "kernel/debugger_sessions.h"
#include "kernel/hash_lists.h"
#include "kernel/shared_programs.h"
#include "kernel/statements.h"
#include "kernel/system_block.h"
#include "kernel/upper_services.h"

namespace {

void Free(int32_t* base, int32_t block) {
  if (block != 0) DSGetMem(base, &block, 0);
}

// Frees a chain linked through word 0, at most as many blocks as the
// storage can hold.
void FreeChain(int32_t* base, int32_t first) {
  const int64_t limit = base[0] / 8 + 1;
  for (int64_t steps = 0; first != 0 && steps < limit; ++steps) {
    if (!InStorage(base, first, 1)) return;
    const int32_t next = sqlpool_word(base, first);
    Free(base, first);
    first = next;
  }
}

void FreeChannels(int32_t* base, int32_t sys, int32_t keep) {
  const int32_t list = Wd(base, sys, SYS_CHA_LIST);
  if (list == 0) return;
  for (int32_t b = Wd(base, list, HL_BUCKETS) - 1; b >= 0; --b) {
    const int32_t head = HashListHead(base, list, b);
    for (int32_t cha = sqlpool_word(base, head); cha != 0;) {
      const int32_t next = Wd(base, cha, CHA_NEXT);
      for (int32_t usr = Wd(base, cha, CHA_USR); usr != 0;) {
        const int32_t after = Wd(base, usr, USR_NEXT);
        FreeChain(base, Wd(base, usr, USR_LVL));
        Free(base, usr);
        usr = after;
      }
      // A kept channel must not name the sessions just freed.
      Wd(base, cha, CHA_USR) = 0;
      if (keep == 0) Free(base, cha);
      cha = next;
    }
    if (keep == 0) sqlpool_word(base, head) = 0;
  }
  FreeChain(base, Wd(base, sys, SYS_FREE_CHA));
  Wd(base, sys, SYS_FREE_CHA) = 0;
}

void FreeThreadStatements(int32_t* base, int32_t sys, int32_t keep) {
  const int32_t own = CurrentThread();
  int32_t at = sys + SYS_THR;
  while (sqlpool_word(base, at) != 0) {
    const int32_t thr = sqlpool_word(base, at);
    const int32_t usr = thr + THR_USR_START, lvl = thr + THR_LVL_START;
    while (Wd(base, lvl, LVL_STM) != 0) {
      const int32_t stm = Wd(base, lvl, LVL_STM);
      int32_t ref = stm;
      DSCloseStm(base, usr, &ref);
      // A statement the close left on the chain (refused, or put off) is
      // passed over, so the walk always moves on.
      if (Wd(base, lvl, LVL_STM) == stm) Wd(base, lvl, LVL_STM) = Wd(base, stm, STM_NEXT);
    }
    for (int32_t slot = THR_STM_MOS_DATABANK; slot <= THR_STM_LV2_DTBDL2; ++slot)
      Wd(base, thr, slot) = 0;
    --Wd(base, sys, SYS_THR_COUNT);
    if (keep == 0 && thr != own) {
      sqlpool_word(base, at) = Wd(base, thr, THR_NEXT);
      Free(base, Wd(base, thr, THR_CDITCB));
      Free(base, thr);
    } else {
      at = thr + THR_NEXT;
    }
  }
}

void FreePrograms(int32_t* base, int32_t sys, int32_t field) {
  const int32_t list = Wd(base, sys, field);
  if (list == 0) return;
  for (int32_t b = Wd(base, list, HL_BUCKETS) - 1; b >= 0; --b) {
    const int32_t head = HashListHead(base, list, b);
    for (int32_t shp = sqlpool_word(base, head); shp != 0;) {
      const int32_t next = Wd(base, shp, SHP_NEXT);
      const int32_t sd = Wd(base, shp, SHP_SD), stg = Wd(base, shp, SHP_STG);
      const bool inside = sd != 0 && stg >= sd && stg < sd - Wd(base, sd, -3);
      if (stg != 0 && !inside) Free(base, stg);
      Free(base, sd);
      Free(base, Wd(base, shp, SHP_SND));
      Free(base, Wd(base, shp, SHP_STG_IMAGE));
      if (Wd(base, shp, SHP_DBGINF) != 0) {
        int32_t rq[2] = {0, sys + SYS_USR_START};
        DSDBG2(base, rq, DBG_FREE_INFO, &Wd(base, shp, SHP_DBGINF));
      }
      Free(base, shp);
      shp = next;
    }
    sqlpool_word(base, head) = 0;
  }
}

}  // namespace

void DSFreeCtlTables(int32_t* base, int32_t* status, int32_t keep) {
  const int32_t sys = KernelSys(base);
  *status = 0;
  if (sys == 0) return;
  FreeChannels(base, sys, keep);
  if (Wd(base, sys, SYS_TCB_LIST) != 0) UpFreeTcbEntries(base);
  if (Wd(base, sys, SYS_DCB_LIST) != 0) {
    int32_t cls[CLS_WORDS] = {2, 0, -1};
    DSCloseDcb(base, cls);
  }
  FreeChain(base, Wd(base, sys, SYS_COLLCB));
  Wd(base, sys, SYS_COLLCB) = 0;
  int32_t end[4] = {0, 0, 0, 0};
  DKEXE1(DKF_END1, end);
  FreeThreadStatements(base, sys, keep);
  int32_t rq[2] = {0, sys + SYS_USR_START}, arg = 0;
  DSDBG2(base, rq, DBG_FREE_ALL, &arg);
  FreePrograms(base, sys, SYS_SHP_PSM_LIST);
  FreePrograms(base, sys, SYS_SHP_SQL_LIST);
  if (const int32_t gseq = Wd(base, sys, SYS_GSEQ_LIST); gseq != 0) {
    for (int32_t b = Wd(base, gseq, HL_BUCKETS) - 1; b >= 0; --b) {
      const int32_t head = HashListHead(base, gseq, b);
      FreeChain(base, sqlpool_word(base, head));
      sqlpool_word(base, head) = 0;
    }
  }
  if (keep != 0) return;
  for (int32_t field : {SYS_DCB_LIST, SYS_LVL2_OTCB, SYS_CHA_LIST, SYS_SHP_PSM_LIST,
                        SYS_SHP_SQL_LIST, SYS_GSEQ_LIST}) {
    Free(base, Wd(base, sys, field));
    Wd(base, sys, field) = 0;
  }
}
