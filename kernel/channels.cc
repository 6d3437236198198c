// DSNewCha and DSFreeChaUsers: channel blocks in SYS CHA_LIST, reused
// through FREE_CHA. CHA_LIST's one semaphore guards the buckets, FREE_CHA
// and CHA_COUNT.
#include <cstring>

#include "kernel/control_blocks.h"
#include "kernel/hash_lists.h"
#include "kernel/sessions.h"
#include "kernel/system_block.h"
#include "platform/enqdeq.h"
#include "platform/thread_slots.h"

void DSNewCha(int32_t* base, int32_t* status, int32_t channel, int32_t protocol, int32_t* cha) {
  *cha = 0;
  const int32_t sys = KernelSys(base);
  const int32_t list = sys != 0 ? Wd(base, sys, SYS_CHA_LIST) : 0;
  if (list == 0) {
    *status = KERNEL_NOT_STARTED;
    return;
  }
  int32_t c = 0;
  {
    EnqdeqGuard guard(HashListSemaphore(base, list, 0));
    c = Wd(base, sys, SYS_FREE_CHA);
    if (c != 0) Wd(base, sys, SYS_FREE_CHA) = Wd(base, c, CHA_NEXT);
  }
  if (c != 0) {
    std::memset(&Wd(base, c, 0), 0, CHA_WORDS * sizeof(int32_t));
  } else {
    DSGetMem(base, &c, CHA_BYTES);
    if (c == 0) {
      *status = Wd(base, sys, SYS_RVEC) = SQLPOOL_EXHAUSTED_ERROR;
      return;
    }
  }
  Wd(base, c, CHA_CHANNELNO) = channel;
  Wd(base, c, CHA_REQNO) = 1;
  Wd(base, c, CHA_PROTOCOL_VERSION) = protocol;
  {
    EnqdeqGuard guard(HashListSemaphore(base, list, 0));
    const int32_t head = HashListHead(base, list, HashListBucket(base, list, channel));
    Wd(base, c, CHA_NEXT) = sqlpool_word(base, head);
    sqlpool_word(base, head) = c;
    ++Wd(base, sys, SYS_CHA_COUNT);
  }
  *status = 0;
  *cha = c;
}

void DSFreeChaUsers(int32_t* base, int32_t cha) {
  const int32_t sys = KernelSys(base);
  const int32_t list = sys != 0 ? Wd(base, sys, SYS_CHA_LIST) : 0;
  if (cha == 0 || list == 0 || !InStorage(base, cha, CHA_WORDS)) return;
  for (int32_t b = Wd(base, cha, CHA_MEMDUMP_TBUF), steps = 0; b != 0 && steps < (1 << 20);
       ++steps) {
    if (!InStorage(base, b, 1)) break;
    int32_t block = b;
    b = sqlpool_word(base, b);
    DSGetMem(base, &block, 0);
  }
  Wd(base, cha, CHA_MEMDUMP_TBUF) = 0;
  bool counted = false;
  while (Wd(base, cha, CHA_USR) != 0) {
    if (!counted) {
      EnqdeqGuard guard(&Wd(base, sys, SYS_S));
      ++Wd(base, sys, SYS_ST_CLEANUPS);
      counted = true;
    }
    StatusPair st;
    mdr_tls_set(&st, 0, TLS_SLOT_CHA);
    const int32_t usr = Wd(base, cha, CHA_USR);
    int32_t params[SES_PRM_WORDS] = {0, cha, usr, 0};
    DSLogout(base, params);
    // A failure, or a session its debugger keeps, ends the walk.
    if (params[SES_PRM_STATUS] != 0 || Wd(base, cha, CHA_USR) == usr) break;
  }
  EnqdeqGuard guard(HashListSemaphore(base, list, 0));
  const int32_t head = HashListHead(base, list, HashListBucket(base, list, Wd(base, cha, CHA_CHANNELNO)));
  for (int32_t at = head; sqlpool_word(base, at) != 0; at = sqlpool_word(base, at) + CHA_NEXT) {
    if (sqlpool_word(base, at) != cha) continue;
    sqlpool_word(base, at) = Wd(base, cha, CHA_NEXT);
    Wd(base, cha, CHA_NEXT) = Wd(base, sys, SYS_FREE_CHA);
    Wd(base, sys, SYS_FREE_CHA) = cha;
    --Wd(base, sys, SYS_CHA_COUNT);
    return;
  }
}
