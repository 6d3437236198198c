// Creating, opening and closing the kernel's statements (see statements.h).
#include "kernel/statements.h"

#include <atomic>
#include <cstring>

#include "kernel/control_blocks.h"
#include "kernel/shared_programs.h"
#include "kernel/statement_columns.h"
#include "kernel/system_block.h"
#include "kernel/upper_services.h"

namespace {

void Count(int32_t* base, int32_t sys, int32_t field, int32_t by) {
  std::atomic_ref<int32_t>(Wd(base, sys, field)).fetch_add(by, std::memory_order_relaxed);
}

// Words of the parameter length list at descriptor words `table`, `table`+1
// (pairs ended by a negative value): ((sum - 1) / 4 + 1) words.
int32_t ParameterWords(int32_t* base, int32_t sd, int32_t table) {
  const int32_t off = Wd(base, sd, table), count = Wd(base, sd, table + 1);
  if (off <= 0 || count <= 0 || !InStorage(base, sd + off, 2 * int64_t{count})) return 0;
  int64_t sum = 0;
  for (int32_t i = 0; i < count; ++i) {
    const int32_t len = Wd(base, sd, off + 2 * i + 1);
    if (len < 0) break;
    sum += len;
  }
  return sum < 1 ? 0 : static_cast<int32_t>((sum - 1) / 4 + 1);
}

void Unlink(int32_t* base, int32_t head, int32_t stm) {
  for (int32_t at = head; sqlpool_word(base, at) != 0; at = sqlpool_word(base, at) + STM_NEXT) {
    if (sqlpool_word(base, at) == stm) {
      sqlpool_word(base, at) = Wd(base, stm, STM_NEXT);
      return;
    }
  }
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
  if (header_length < SD_MIN_WORDS || body_length < 0) return KERNEL_BAD_PARAMETER;
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
    if (words > (int64_t{1} << 28)) return KERNEL_BAD_PARAMETER;
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
        int32_t s = 0;
        int32_t stg = Wd(base, com, COM_STG);
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
  if (!InStorage(base, stm, STM_WORDS)) return DSBadHandle(base, usr);
  for (int32_t com = stm + STM_NEXT_COM, steps = 0; com != 0 && steps < 4096; ++steps) {
    if (!InStorage(base, com, COM_DBGINF + 1)) return KERNEL_BAD_PARAMETER;
    const int32_t sd = Wd(base, com, COM_SD);
    if (!InStorage(base, sd, SD_MIN_WORDS)) return KERNEL_BAD_PARAMETER;
    if (Wd(base, com, COM_SHP) == 0) {
      const int32_t rc = UpOpenComTables(base, usr, com);
      if (rc < 0) return rc;
    }
    Wd(base, com, COM_IPARSZ_W) = ParameterWords(base, sd, SD_INPUT_TABLE);
    Wd(base, com, COM_OPARSZ_W) = ParameterWords(base, sd, SD_OUTPUT_TABLE);
    com = Wd(base, com, COM_NEXT);
  }
  Wd(base, stm, STM_ACTIVE_COM) = stm + STM_NEXT_COM;
  Wd(base, stm, STM_STATUS) = STM_OPEN;
  return 0;
}

int32_t DSCloseStm(int32_t* base, int32_t usr, int32_t* stm_ref) {
  const int32_t sys = KernelSys(base);
  const int32_t stm = *stm_ref;
  if (sys == 0 || !InStorage(base, stm, STM_WORDS) || !InStorage(base, usr, USR_WORDS) ||
      !LevelOfSession(base, usr, Wd(base, stm, STM_LVL)))
    return DSBadHandle(base, usr);
  int32_t first = 0;
  for (int32_t com = stm + STM_NEXT_COM, steps = 0; com != 0 && steps < 4096; ++steps) {
    if (!InStorage(base, com, COM_DBGINF + 1)) break;
    const int32_t next = Wd(base, com, COM_NEXT);
    int32_t shp = Wd(base, com, COM_SHP);
    if (shp != 0) {
      int32_t stg = Wd(base, com, COM_STG);
      const int32_t rc = DSRSH3(base, usr, &shp, &stg);
      if (first == 0 && rc < 0) first = rc;
    } else {
      for (int32_t field : {COM_SND, COM_SD}) {
        int32_t block = Wd(base, com, field);
        if (block != 0) DSGetMem(base, &block, 0);
      }
    }
    for (int32_t w = COM_SD; w <= COM_DBGINF; ++w) Wd(base, com, w) = 0;
    if (com != stm + STM_NEXT_COM) {
      int32_t block = com;
      DSGetMem(base, &block, 0);
    }
    com = next;
  }
  const int32_t lvl = Wd(base, stm, STM_LVL);
  Unlink(base, lvl + LVL_STM, stm);
  int32_t block = stm;
  DSGetMem(base, &block, 0);
  Count(base, sys, SYS_ST_STATEMENTS, -1);
  *stm_ref = 0;
  return first;
}

int32_t DSBadHandle(int32_t* base, int32_t usr) {
  if (KernelSys(base) == 0) return KERNEL_NOT_STARTED;
  if (InStorage(base, usr, USR_WORDS)) Wd(base, usr, USR_RVEC_RCODE) = KERNEL_BAD_HANDLE;
  return KERNEL_BAD_HANDLE;
}
