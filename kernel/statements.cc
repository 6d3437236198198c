// Creating, opening and closing the kernel's statements (see statements.h).
#include "kernel/statements.h"

#include <atomic>
#include <cstring>

#include "kernel/control_blocks.h"
#include "kernel/databank_control.h"
#include "kernel/error_report.h"
#include "kernel/shared_programs.h"
#include "kernel/statement_columns.h"
#include "kernel/system_block.h"
#include "kernel/table_use.h"
#include "kernel/upper_services.h"

namespace {

constexpr int32_t kMaxCallDepth = 256;

bool HasTableHandles(int32_t* base, int32_t com) {
  bool any = false;
  ForEachTableHandle(base, com, [&](int32_t) { any = true; });
  return any;
}

// The distinct databanks (held shared or exclusively for a session, access
// mode 2 or 3) of the statement's tables with their flags, then one TRS of
// the session each, its STM_COUNT raised. 0, -11013, -11002.
int32_t BuildLtrs(int32_t* base, int32_t usr, int32_t stm) {
  int32_t dcbs[LTRS_MAX_DATABANKS], flags[LTRS_MAX_DATABANKS];
  int32_t n = 0, rc = 0;
  ForEachCompound(base, stm, [&](int32_t com) {
    ForEachTableHandle(base, com, [&](int32_t handle) {
      if (rc != 0) return;
      int32_t look[OPD_WORDS] = {5, Wd(base, handle, HANDLE_LID)};
      DSOpenDcb(base, look);
      if (look[OPD_KIND] != 0) return;
      const int32_t dcb = look[OPD_DCB];
      const int32_t mode = Wd(base, dcb, DCB_ACCESS_MODE);
      if (mode != 2 && mode != 3) return;
      const int32_t flag = Wd(base, handle, HANDLE_ACCESS) < 4 ? LTRS_WRITTEN : LTRS_READ;
      for (int32_t i = 0; i < n; ++i) {
        if (dcbs[i] == dcb) {
          if (flag == LTRS_WRITTEN) flags[i] = LTRS_WRITTEN;
          return;
        }
      }
      if (n == LTRS_MAX_DATABANKS) {
        rc = STM_TOO_MANY_DATABANKS;
        return;
      }
      dcbs[n] = dcb;
      flags[n++] = flag;
    });
  });
  if (rc != 0 || n == 0) return rc;
  int32_t list = 0;
  DSGetMem(base, &list, 4 * (2 * n + 2));
  if (list == 0) return SQLPOOL_EXHAUSTED_ERROR;
  int32_t made = 0;
  for (; made < n; ++made) {
    const int32_t trs = SessionTrs(base, usr, dcbs[made], true);
    if (trs == 0) break;
    ++Wd(base, trs, TRS_STM_COUNT);
    Wd(base, list, 1 + 2 * made) = trs;
    Wd(base, list, 2 + 2 * made) = flags[made];
  }
  Wd(base, list, 1 + 2 * made) = -1;
  Wd(base, stm, STM_LTRS) = list;
  return made == n ? 0 : SQLPOOL_EXHAUSTED_ERROR;
}

// Unlinks `trs` from the session's chain; false when it is not there.
bool UnlinkTrs(int32_t* base, int32_t usr, int32_t trs) {
  int64_t at = int64_t{usr} + USR_TRS;
  for (int32_t n = 0; sqlpool_word(base, at) != 0 && n < 100000; ++n) {
    const int32_t t = sqlpool_word(base, at);
    if (!InStorage(base, t, TRS_WORDS)) return false;
    if (t == trs) {
      sqlpool_word(base, at) = Wd(base, t, TRS_NEXT);
      return true;
    }
    at = int64_t{t} + TRS_NEXT;
  }
  return false;
}

// Each TRS of the statement's list loses the statement; one that no
// statement uses, with STATUS 0 and no databank release owed, is freed.
int32_t ReleaseLtrs(int32_t* base, int32_t usr, int32_t stm) {
  int32_t list = Wd(base, stm, STM_LTRS);
  if (list == 0) return 0;
  int32_t first = 0;
  for (int32_t i = 0; i < LTRS_MAX_DATABANKS; ++i) {
    const int64_t pair = int64_t{list} + 1 + 2 * i;
    if (!InStorage(base, pair, 1) || sqlpool_word(base, pair) == -1) break;
    const int32_t trs = sqlpool_word(base, pair);
    if (!InStorage(base, trs, TRS_WORDS) ||
        SessionTrs(base, usr, Wd(base, trs, TRS_DCB), false) != trs) {
      const int32_t dcb = InStorage(base, trs, TRS_WORDS) ? Wd(base, trs, TRS_DCB) : 0;
      Wd(base, usr, USR_RVEC_RCODE) = STM_TRS_MISSING;
      Wd(base, usr, USR_RVEC_LID) = InStorage(base, dcb, DCB_WORDS) ? Wd(base, dcb, DCB_LID) : 0;
      if (first == 0) first = STM_TRS_MISSING;
      continue;
    }
    if (--Wd(base, trs, TRS_STM_COUNT) <= 0 && Wd(base, trs, TRS_STATUS) == 0 &&
        Wd(base, trs, TRS_CDB_COUNT) <= 0 && UnlinkTrs(base, usr, trs)) {
      int32_t block = trs;
      DSGetMem(base, &block, 0);
    }
  }
  DSGetMem(base, &list, 0);
  Wd(base, stm, STM_LTRS) = 0;
  return first;
}

// The close waits while the session's transaction is open and another open
// statement of the session was declared on this one.
bool CloseMustWait(int32_t* base, int32_t usr, int32_t stm) {
  const int32_t tp = Wd(base, usr, USR_TP);
  if (!InStorage(base, tp, TP_WORDS) || Wd(base, tp, TP_TRANSACTION_STATE) != 1) return false;
  return AnySessionStatement(base, usr, [&](int32_t s) {
    return s != stm && Wd(base, s, STM_DECLARE_STM) == stm && Wd(base, s, STM_STATUS) == STM_OPEN;
  });
}

bool Released(int32_t status) {
  return status == STM_RELEASED || status == STM_CREATED || status == STM_CLOSE_PENDING_IDLE;
}

void Count(int32_t* base, int32_t sys, int32_t field, int32_t by) {
  std::atomic_ref<int32_t>(Wd(base, sys, field)).fetch_add(by, std::memory_order_relaxed);
}

// Words of the parameter length list at descriptor words `table`, `table`+1
// (pairs ended by a negative value): ((sum - 1) / 4 + 1) words.
int32_t ParameterWords(int32_t* base, int32_t sd, int32_t table) {
  const int32_t off = Wd(base, sd, table), count = Wd(base, sd, table + 1);
  if (off <= 0 || count <= 0 || !InStorage(base, int64_t{sd} + off, 2 * int64_t{count})) return 0;
  int64_t sum = 0;
  for (int32_t i = 0; i < count; ++i) {
    const int32_t len = Wd(base, sd, off + 2 * i + 1);
    if (len < 0) break;
    sum += len;
  }
  return sum < 1 ? 0 : static_cast<int32_t>((sum - 1) / 4 + 1);
}

bool Unlink(int32_t* base, int32_t head, int32_t stm) {
  int32_t at = head;
  for (int32_t n = 0; sqlpool_word(base, at) != 0 && n < 100000; ++n) {
    if (sqlpool_word(base, at) == stm) {
      sqlpool_word(base, at) = Wd(base, stm, STM_NEXT);
      return true;
    }
    if (!InStorage(base, sqlpool_word(base, at), STM_WORDS)) return false;
    at = sqlpool_word(base, at) + STM_NEXT;
  }
  return false;
}

bool LevelOfSession(int32_t* base, int32_t usr, int32_t lvl) {
  int32_t l = Wd(base, usr, USR_LVL);
  for (int32_t steps = 0; l != 0 && steps < 100000; ++steps) {
    if (l == lvl) return true;
    if (!InStorage(base, l, LVL_WORDS)) return false;
    l = Wd(base, l, LVL_NEXT);
  }
  return false;
}

}  // namespace

int32_t DSDecodeImage(int32_t* base, const int16_t* header, int32_t header_length,
                      const int32_t* body, int32_t body_length, int32_t* sd) {
  constexpr int64_t kMaxWords = int64_t{1} << 28;
  if (header_length < SD_MIN_WORDS || header_length > kMaxWords || body_length < 0)
    return KERNEL_BAD_PARAMETER;
  int64_t words = 0;
  for (int32_t i = 0; i < body_length;) {
    const int64_t c = body[i];
    if (c < 0) {
      if (i + 1 >= body_length) return KERNEL_BAD_PARAMETER;
      words -= c;
      i += 2;
    } else {
      if (c > body_length - i - 1) return KERNEL_BAD_PARAMETER;
      words += c;
      i += 1 + static_cast<int32_t>(c);
    }
    if (header_length + words > kMaxWords) return KERNEL_BAD_PARAMETER;
  }
  int32_t block = 0;
  DSGetMemRaw(base, &block, static_cast<int32_t>(4 * (header_length + words)));
  if (block == 0) return SQLPOOL_EXHAUSTED_ERROR;
  for (int32_t i = 0; i < header_length; ++i) Wd(base, block, i) = header[i];
  int32_t* out = &Wd(base, block, header_length);
  for (int32_t i = 0; i < body_length;) {
    const int32_t c = body[i];
    if (c < 0) {
      for (int32_t k = 0; k < -int64_t{c}; ++k) *out++ = body[i + 1];
      i += 2;
    } else {
      std::memcpy(out, body + i + 1, 4 * size_t(c));
      out += c;
      i += 1 + c;
    }
  }
  Wd(base, block, SD_HEADER_LENGTH) = header_length;
  Wd(base, block, SD_STORAGE_WORDS) = static_cast<int32_t>(words);
  Wd(base, block, SD_BODY_LENGTH) = static_cast<int32_t>(words);
  *sd = block;
  return 0;
}

int32_t DSCreateStm(int32_t* base, int32_t usr, int32_t number, const int16_t* header,
                    int32_t header_length, const int32_t* body, int32_t body_length,
                    int32_t* stm_out) {
  const int32_t sys = KernelSys(base);
  if (sys == 0) return KERNEL_NOT_STARTED;
  // The statement goes on the session's current level, which must exist
  // (a session not logged in has none; its word 0 would name the storage
  // header).
  if (!InStorage(base, usr, USR_WORDS) || !InStorage(base, Wd(base, usr, USR_LVL), LVL_WORDS))
    return DSBadHandle(base, usr);
  int32_t stm = 0;
  DSGetMem(base, &stm, STM_BYTES);
  int32_t rc = stm == 0 ? SQLPOOL_EXHAUSTED_ERROR : 0;
  if (rc == 0) {
    Count(base, sys, SYS_ST_STATEMENTS, 1);
    const int32_t com = stm + STM_NEXT_COM;
    Wd(base, stm, STM_ACTIVE_COM) = com;
    const bool share = Wd(base, sys, SYS_MODE) != -242;
    ShpHandle h;
    int32_t found = share ? DSFindShpPsm(base, usr, number, 0, &h) : SHP_COMPILE;
    if (found == 0) {
      Wd(base, com, COM_SD) = h.sd;
      Wd(base, com, COM_PGM) = h.sd + Wd(base, h.sd, SD_PROGRAM);
      Wd(base, com, COM_STG) = h.stg;
      Wd(base, com, COM_SHP) = h.shp;
    } else if (found == SHP_COMPILE) {
      int32_t sd = 0;
      rc = DSDecodeImage(base, header, header_length, body, body_length, &sd);
      if (rc == 0) {
        Wd(base, com, COM_SD) = sd;
        Wd(base, com, COM_PGM) = sd + Wd(base, sd, SD_PROGRAM);
        Wd(base, com, COM_STG) = sd + header_length;
        Wd(base, com, COM_SHP) = share ? h.shp : 0;
        if (share) rc = DSPublishShp(base, usr, com);
      }
      if (rc != 0 && share) {
        // The storage lies inside the descriptor, freed here.
        int32_t s = 0, stg = 0;
        DSCSL2(base, usr, &h.shp, &s, &stg, &s, &s);
        if (sd != 0) DSGetMem(base, &sd, 0);
      } else if (rc != 0 && sd != 0) {
        DSGetMem(base, &sd, 0);
      }
    } else {
      rc = found;
    }
    if (rc != 0) {
      DSGetMem(base, &stm, 0);
      Count(base, sys, SYS_ST_STATEMENTS, -1);
    }
  }
  if (rc != 0) {
    if (InStorage(base, usr, USR_WORDS)) Wd(base, usr, USR_RVEC_RCODE) = rc;
    return rc;
  }
  const int32_t lvl = Wd(base, usr, USR_LVL);
  Wd(base, stm, STM_NEXT) = Wd(base, lvl, LVL_STM);
  Wd(base, lvl, LVL_STM) = stm;
  Wd(base, stm, STM_LVL) = lvl;
  Wd(base, stm, STM_STATUS) = STM_CREATED;
  *stm_out = stm;
  return 0;
}

int32_t DSCreateStmFromImage(int32_t* base, int32_t usr, int32_t number, int32_t* stm) {
  const int16_t* header = nullptr;
  const int32_t* body = nullptr;
  int32_t header_length = 0, body_length = 0;
  const int32_t rc = UpStmtImage(number, &header, &header_length, &body, &body_length);
  if (rc != 0) {
    if (InStorage(base, usr, USR_WORDS)) Wd(base, usr, USR_RVEC_RCODE) = rc;
    return rc;
  }
  return DSCreateStm(base, usr, number, header, header_length, body, body_length, stm);
}

int32_t DSOpenStm(int32_t* base, int32_t mode, int32_t usr, int32_t stm) {
  (void)mode;
  if (KernelSys(base) == 0) return KERNEL_NOT_STARTED;
  if (!InStorage(base, stm, STM_WORDS) || !InStorage(base, usr, USR_WORDS))
    return DSBadHandle(base, usr);
  int32_t rc = 0, opened = 0;
  ForEachCompound(base, stm, [&](int32_t com) {
    if (rc != 0) return;
    const int32_t sd = Wd(base, com, COM_SD);
    if (!InStorage(base, sd, SD_MIN_WORDS)) {
      rc = KERNEL_BAD_PARAMETER;
      return;
    }
    if (Wd(base, com, COM_SHP) == 0) {
      const int32_t r = UpOpenComTables(base, usr, com);
      if (r < 0) rc = r;
    }
    if (rc == 0) ++opened;
    Wd(base, com, COM_IPARSZ_W) = ParameterWords(base, sd, SD_INPUT_TABLE);
    Wd(base, com, COM_OPARSZ_W) = ParameterWords(base, sd, SD_OUTPUT_TABLE);
  });
  if (rc == 0 && Wd(base, stm, STM_LTRS) == 0) {
    rc = BuildLtrs(base, usr, stm);
    if (rc != 0) ReleaseLtrs(base, usr, stm);
  }
  if (rc != 0) {
    // The tables this open took are given back: a statement that did not
    // open keeps its STATUS, and its close closes no tables.
    ForEachCompound(base, stm, [&](int32_t com) {
      if (opened-- > 0 && Wd(base, com, COM_SHP) == 0 && HasTableHandles(base, com))
        UpCloseSecTables(base, usr, Wd(base, com, COM_SD), Wd(base, com, COM_STG));
    });
    Wd(base, usr, USR_RVEC_RCODE) = rc;
    return rc;
  }
  Wd(base, stm, STM_ACTIVE_COM) = stm + STM_NEXT_COM;
  Wd(base, stm, STM_STATUS) = STM_OPEN;
  return 0;
}

int32_t DSReleaseStm(int32_t* base, int32_t mode, int32_t usr, int32_t stm) {
  (void)mode;
  if (KernelSys(base) == 0) return KERNEL_NOT_STARTED;
  if (!InStorage(base, stm, STM_WORDS) || !InStorage(base, usr, USR_WORDS))
    return DSBadHandle(base, usr);
  // A transaction the statement owned stays with the session.
  const int32_t tp = Wd(base, stm, STM_TP);
  if (InStorage(base, tp, TP_WORDS) && Wd(base, tp, TP_OWNER_STM) == stm)
    Wd(base, tp, TP_OWNER_STM) = 0;
  Wd(base, stm, STM_TP) = 0;
  int32_t first = ReleaseLtrs(base, usr, stm);
  ForEachCompound(base, stm, [&](int32_t com) {
    if (Wd(base, com, COM_SHP) != 0 || !HasTableHandles(base, com)) return;
    const int32_t rc = UpCloseSecTables(base, usr, Wd(base, com, COM_SD), Wd(base, com, COM_STG));
    if (rc < 0 && first == 0) first = rc;
  });
  Wd(base, stm, STM_STATUS) = STM_RELEASED;
  return first;
}

namespace {

// Gives back what a statement holds of its programs (with `owned` the
// program uses through DSRSH3, else only the storage) and frees the block:
// off its level's statement chain, or else the cursor chain.
int32_t FreeStatement(int32_t* base, int32_t sys, int32_t usr, int32_t stm, bool owned) {
  int32_t first = 0;
  ForEachCompound(base, stm, [&](int32_t com) {
    int32_t shp = Wd(base, com, COM_SHP);
    if (shp != 0 && owned) {
      int32_t stg = Wd(base, com, COM_STG);
      const int32_t rc = DSRSH3(base, usr, &shp, &stg);
      if (first == 0 && rc < 0) first = rc;
    } else if (shp != 0) {
      DSUnlinkShpStm(base, com);
    } else if (owned) {
      FreeStorageBlock(base, Wd(base, com, COM_SD), Wd(base, com, COM_STG));
      for (int32_t field : {COM_SND, COM_SD}) {
        int32_t block = Wd(base, com, field);
        if (block != 0) DSGetMem(base, &block, 0);
      }
      FreeDebuggerInformation(base, usr, &Wd(base, com, COM_DBGINF));
    }
    for (int32_t w = COM_SD; w <= COM_DBGINF; ++w) Wd(base, com, w) = 0;
    if (com != stm + STM_NEXT_COM) {
      int32_t block = com;
      DSGetMem(base, &block, 0);
    }
  });
  if (Wd(base, stm, STM_LTRS) != 0) {
    const int32_t rc = ReleaseLtrs(base, usr, stm);
    if (first == 0) first = rc;
  }
  const int32_t lvl = Wd(base, stm, STM_LVL);
  if (InStorage(base, lvl, LVL_WORDS) && !Unlink(base, lvl + LVL_STM, stm))
    Unlink(base, lvl + LVL_CUCB, stm);
  int32_t block = stm;
  DSGetMem(base, &block, 0);
  Count(base, sys, SYS_ST_STATEMENTS, -1);
  return first;
}

void Inconsistent() {
  static constexpr char kText[] = "Inconsistent internal areas encountered in DSRSS3";
  StatusPair st{};
  const int32_t items[1] = {static_cast<int32_t>(sizeof kText - 1)};
  DSLogMsg(&st, SEV_ERROR, kText, nullptr, items, 1);
}

// The statements `stm` called, depth-first: each must name `stm` as its
// caller; its own callees go first, then its resources, its programs (when
// the call owns them) and its block; the callee's slot words are cleared.
void ReleaseCalled(int32_t* base, int32_t sys, int32_t usr, int32_t stm, int32_t depth,
                   int32_t* first) {
  auto keep = [&](int32_t rc) {
    if (*first == 0 && rc < 0) *first = rc;
  };
  ForEachCompound(base, stm, [&](int32_t com) {
    const int32_t sd = Wd(base, com, COM_SD), stg = Wd(base, com, COM_STG);
    if (!InStorage(base, sd, SD_MIN_WORDS) || stg == 0) return;
    const int64_t words = Wd(base, sd, SD_STORAGE_WORDS);
    if (!InStorage(base, stg, words)) return;
    ForEachCall(base, sd, [&](int32_t e) {
      const int32_t slot = sqlpool_word(base, e + CALL_SLOT);
      if (slot < 0 || slot + int64_t{2} > words) return;
      const int32_t called = Wd(base, stg, slot);
      if (called == 0) return;
      if (!InStorage(base, called, STM_WORDS) || Wd(base, called, STM_CALLING_STM) != stm) {
        DSErrRep("DSRSS3", 6, KERNEL_BAD_PARAMETER, SEV_ERROR);
        return keep(KERNEL_BAD_PARAMETER);
      }
      if (Wd(base, called, STM_SD) == 0 || Wd(base, called, STM_STG) == 0) {
        Inconsistent();
        return keep(KERNEL_BAD_PARAMETER);
      }
      if (depth < kMaxCallDepth) ReleaseCalled(base, sys, usr, called, depth + 1, first);
      if (!Released(Wd(base, called, STM_STATUS))) keep(DSReleaseStm(base, 0, usr, called));
      keep(FreeStatement(base, sys, usr, called, sqlpool_word(base, e + CALL_NOT_OWNED) == 0));
      Wd(base, stg, slot) = 0;
      Wd(base, stg, slot + 1) = 0;
    });
  });
}

}  // namespace

int32_t DSRSS3(int32_t* base, int32_t usr, int32_t stm) {
  const int32_t sys = KernelSys(base);
  if (sys == 0) return KERNEL_NOT_STARTED;
  if (!InStorage(base, stm, STM_WORDS) || !InStorage(base, usr, USR_WORDS))
    return DSBadHandle(base, usr);
  int32_t first = 0;
  ReleaseCalled(base, sys, usr, stm, 0, &first);
  if (!Released(Wd(base, stm, STM_STATUS))) {
    const int32_t rc = DSReleaseStm(base, 0, usr, stm);
    if (first == 0) first = rc;
  }
  return first;
}

int32_t DSCloseStm(int32_t* base, int32_t usr, int32_t* stm_ref) {
  const int32_t sys = KernelSys(base);
  const int32_t stm = *stm_ref;
  if (sys == 0 || !InStorage(base, stm, STM_WORDS) || !InStorage(base, usr, USR_WORDS) ||
      !LevelOfSession(base, usr, Wd(base, stm, STM_LVL)))
    return DSBadHandle(base, usr);
  const int32_t status = Wd(base, stm, STM_STATUS);
  if (status != STM_CLOSE_PENDING && status != STM_CLOSE_PENDING_IDLE &&
      CloseMustWait(base, usr, stm)) {
    Wd(base, stm, STM_STATUS) = Released(status) ? STM_CLOSE_PENDING_IDLE : STM_CLOSE_PENDING;
    Wd(base, usr, USR_STM_PENDING_CLOSE) = 1;
    *stm_ref = 0;
    return 0;
  }
  int32_t first = DSRSS3(base, usr, stm);
  const int32_t rc = FreeStatement(base, sys, usr, stm, true);
  if (first == 0) first = rc;
  *stm_ref = 0;
  return first;
}

int32_t DSBadHandle(int32_t* base, int32_t usr) {
  if (KernelSys(base) == 0) return KERNEL_NOT_STARTED;
  if (InStorage(base, usr, USR_WORDS)) Wd(base, usr, USR_RVEC_RCODE) = KERNEL_BAD_HANDLE;
  return KERNEL_BAD_HANDLE;
}
