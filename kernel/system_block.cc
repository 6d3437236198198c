// DSInitSys and the small accessors every kernel routine uses to reach SYS,
// the calling thread's THR and its current session.
#include "kernel/system_block.h"

#include <atomic>
#include <cstring>

#include "kernel/block_data.h"
#include "kernel/control_blocks.h"
#include "kernel/error_report.h"
#include "kernel/hash_lists.h"
#include "kernel/upper_services.h"
#include "platform/enqdeq.h"
#include "platform/numeric_services.h"
#include "platform/thread_slots.h"

bool InStorage(const int32_t* base, int64_t index, int64_t count) {
  const int64_t words =
      std::atomic_ref<const int32_t>(base[sqlpool::WORDS]).load(std::memory_order_relaxed);
  const int64_t low = base[sqlpool::LOWIX];
  return index > low && count >= 0 && index + count <= words + 1;
}

int32_t KernelSys(const int32_t* base) {
  if (base == nullptr) return 0;
  const int32_t sys =
      std::atomic_ref<const int32_t>(base[sqlpool::RESERV]).load(std::memory_order_acquire);
  return InStorage(base, sys, SYS_WORDS) ? sys : 0;
}

int32_t CurrentChannel() {
  StatusPair st;
  int32_t value = 0;
  mdr_tls_get(&st, &value, TLS_SLOT_CHA);
  return st.rc == 0 ? value : 0;
}

int32_t CurrentThread() {
  StatusPair st;
  int32_t value = 0;
  mdr_tls_get(&st, &value, TLS_SLOT_THR);
  return st.rc == 0 ? value : 0;
}

int32_t CurrentSession(int32_t* base) {
  const int32_t cha = CurrentChannel();
  if (!InStorage(base, cha, CHA_WORDS)) return 0;
  return Wd(base, cha, CHA_USR);
}

void CopyResultVector(int32_t* base, int64_t to, int64_t from) {
  std::memmove(&sqlpool_word(base, to), &sqlpool_word(base, from), RVEC_WORDS * sizeof(int32_t));
}

namespace {

struct ListSpec {
  int32_t field;
  int32_t buckets;
  int32_t head_stride;
  int32_t sem_stride;
};

// In the order they are created.
constexpr ListSpec kLists[] = {
    {SYS_DCB_LIST, DCB_LIST_BUCKETS, 1, 0},
    {SYS_SHP_SQL_LIST, SHP_SQL_BUCKETS, SHP_SQL_STRIDE, SHP_SQL_STRIDE},
    {SYS_SHP_PSM_LIST, SHP_PSM_BUCKETS, 1, 0},
    {SYS_CHA_LIST, CHA_LIST_BUCKETS, 1, 0},
    {SYS_LVL2_OTCB, LVL2_OTCB_BUCKETS, 1, 0},
    {SYS_GSEQ_LIST, GSEQ_LIST_BUCKETS, 1, 0},
};

// A new SYS with its information area; 0 when the storage is exhausted.
int32_t NewSys(int32_t* base, int32_t mode, int32_t* status) {
  const int32_t sys = NewSysBlock(base, mode);
  if (sys == 0) {
    *status = SQLPOOL_EXHAUSTED_ERROR;
    return 0;
  }
  if (UpInfoBuild(base, &Wd(base, sys, SYS_SIIA)) != 0) *status = SQLPOOL_EXHAUSTED_ERROR;
  return sys;
}

int32_t InitSysSteps(int32_t* base, int32_t sys) {
  if (const int32_t rc = CreateSysLists(base, sys)) return rc;
  if (UpInfoErrorTable(base, &Wd(base, sys, SYS_ERROR_TRANSLATION_TABLE)) != 0)
    return SQLPOOL_EXHAUSTED_ERROR;
  int32_t numeric = 0;
  if (UpRegEscCallbacks(base) != 0) return KERNEL_NUMERIC_INIT_FAILED;
  numeric_limits_init(&numeric);
  if (numeric != 0) return KERNEL_NUMERIC_INIT_FAILED;
  // The slots are set up once per process; a later start finds them ready.
  StatusPair probe;
  int32_t value = 0;
  mdr_tls_get(&probe, &value, TLS_SLOT_THR);
  if (probe.rc == -2) {
    StatusPair st;
    st.rc = Wd(base, sys, SYS_MODE) == 0 ? TLS_MODE_MULTI : TLS_MODE_SINGLE;
    mdr_tls_init(&st);
    if (st.rc != 0) return KERNEL_THREAD_INIT_FAILED;
  }
  return 0;
}

}  // namespace

int32_t NewSysBlock(int32_t* base, int32_t mode) {
  int32_t sys = 0;
  DSGetMem(base, &sys, SYS_BYTES);
  if (sys == 0) return 0;
  for (int32_t sem : {SYS_S, SYS_SHPLST_REUSE_S, SYS_SHSLST_REUSE_S, SYS_XAENT_S, SYS_POOLED_TP_S})
    enqdeq_init_semaphore(&Wd(base, sys, sem), 1);
  Wd(base, sys, SYS_ID) = SYS_ID_MARKER;
  Wd(base, sys, SYS_MODE) = mode;
  Wd(base, sys, SYS_SYSTEM_STATUS) = 1;
  // TIMESTAMP 0 marks an abandoned SQL program, so the stamp is never 0.
  Wd(base, sys, SYS_SHP_TIMESTAMP) = 1;
  const int32_t usr = sys + SYS_USR_START;
  const int32_t lvl = sys + SYS_LVL_START;
  Wd(base, usr, USR_USR) = usr;
  Wd(base, usr, USR_LVL) = lvl;
  Wd(base, lvl, LVL_USR) = usr;
  std::atomic_ref<int32_t>(base[sqlpool::RESERV]).store(sys, std::memory_order_release);
  return sys;
}

int32_t CreateSysLists(int32_t* base, int32_t sys) {
  for (const ListSpec& l : kLists) {
    if (Wd(base, sys, l.field) != 0) continue;
    const int32_t list = HashListCreate(base, l.buckets, l.head_stride, l.sem_stride);
    if (list == 0) return SQLPOOL_EXHAUSTED_ERROR;
    Wd(base, sys, l.field) = list;
  }
  return 0;
}

void DSInitSys(int32_t* base, int32_t* status) {
  const int32_t mode = *status;
  int32_t rc = 0;
  int32_t sys = KernelSys(base);
  if (sys != 0 && Wd(base, sys, SYS_ID) != SYS_ID_MARKER) sys = 0;
  if (DSBlkData() == nullptr) rc = BLOCKDATA_NOT_BUILT;
  if (sys == 0 && rc == 0) sys = NewSys(base, mode, &rc);
  if (sys != 0 && rc == 0) rc = InitSysSteps(base, sys);
  *status = rc;
  if (rc == 0) return;
  if (sys != 0) Wd(base, sys, SYS_RVEC) = rc;
  const bool fatal = sys == 0 || Wd(base, sys, SYS_MODE) != 0;
  DSErrReport("", 0, rc, fatal ? SEV_FATAL : SEV_ERROR, nullptr, 0, 0);
}
