// Victims of the bufferpool's groups: which buffer a miss may take next, the
// claim of a changed victim for its swap-out and the swap-out itself, and
// the waits of a miss that finds a victim being written or none at all.
#include <sched.h>
#include <time.h>

#include "dk/bufferpool.h"
#include "dk/bufferpool_internal.h"
#include "dk/databank_file.h"
#include "platform/enqdeq.h"

namespace bufferpool_internal {

// A buffer that may be the victim: no users, no pages it waits for and no
// kept failed changes.
bool Replaceable(int32_t bcb) {
  return LoadWord(bcb + BCB_USERS) == 0 && LoadWord(bcb + BCB_WAITS_FOR) == 0 &&
         LoadWord(bcb + BCB_UNWRITTEN) == 0;
}

// A changed victim is claimed for its swap-out: counted as a user and held
// exclusive (it had no users, so its X is free), so that nobody takes or
// replaces it while it is written. The caller holds the partition lock and
// writes it once the lock is given back (SwapOut); the victim word keeps
// naming it meanwhile.
int32_t ClaimForSwapOut(int32_t victim) {
  AddWord(victim + BCB_USERS, 1);
  enqdeq_take(Sem(victim + BCB_X));
  return victim;
}

// Chooses the partition's next victim under its lock, walking the ring
// backwards from `from` to the first replaceable buffer, and stores it;
// returns it when it is changed and so claimed for a swap-out, else 0.
int32_t ChooseVictim(int32_t part, int32_t from, bool include_from) {
  int32_t victim = include_from && Replaceable(from) ? from : 0;
  for (int32_t at = LoadWord(from + BCB_RING_PREV); victim == 0 && at != from;
       at = LoadWord(at + BCB_RING_PREV)) {
    if (Replaceable(at)) victim = at;
  }
  StoreWord(part + GROUP_VICTIM, victim);
  if (victim == 0) return 0;
  if (LoadWord(victim + BCB_IO_STATUS) < 0) {
    StoreWord(victim + BCB_IO_STATUS, IOS_CLEAN);
    return 0;
  }
  return IsChanged(victim) ? ClaimForSwapOut(victim) : 0;
}

// A victim with users is being swapped out: only then does the victim word
// name a buffer that somebody counts (a miss that takes the victim chooses
// the next one before it gives the lock back).
bool SwapOutRunning(int32_t part, int32_t bcb) {
  return LoadWord(part + GROUP_VICTIM) == bcb && LoadWord(bcb + BCB_USERS) > 0;
}

// Waits, with the partition lock given back, until a swap-out running on
// `bcb` has ended: counted as a user, nobody replaces it meanwhile.
void WaitForSwapOut(int32_t* lock, int32_t bcb) {
  AddWord(bcb + BCB_USERS, 1);
  enqdeq_give(lock);
  enqdeq_take(Sem(bcb + BCB_X));
  enqdeq_give(Sem(bcb + BCB_X));
  DropUser(bcb);
}

// Writes a claimed victim with no partition lock held: the write may report
// an error (the log lock) and takes the victim's release chain to the
// databank (its release lock), and no I/O runs under a partition lock. A
// victim that could not be written keeps its changes and is skipped from now
// on; the next one is chosen (and, when changed, written) in its place.
void SwapOut(int32_t pool, int32_t part, int32_t victim) {
  while (victim != 0) {
    int32_t rc = WriteHeld(nullptr, victim, WriteKind::kSwapOut);
    if (rc == 0) {
      int32_t databank = LoadWord(victim + BCB_DATABANK);
      CountWord(pool + PART_STAT_SWAPPED);
      if (databank > 0) CountWord(databank + DBE_PAGES_SWAPPED);
      int32_t chain = LoadWord(victim + BCB_RELEASES);
      StoreWord(victim + BCB_RELEASES, 0);
      enqdeq_give(Sem(victim + BCB_X));
      DropUser(victim);
      HandChainToDatabank(chain, databank);
      return;
    }
    int32_t* lock = Sem(part + GROUP_LOCK);
    enqdeq_take(lock);
    enqdeq_give(Sem(victim + BCB_X));
    DropUser(victim);
    int32_t next = LoadWord(part + GROUP_VICTIM) == victim ? ChooseVictim(part, victim) : 0;
    enqdeq_give(lock);
    victim = next;
  }
}

void WaitForBuffer(int attempt) {
  if (attempt < 64) {
    sched_yield();
  } else {
    timespec ts{0, 200000};
    nanosleep(&ts, nullptr);
  }
}

}  // namespace bufferpool_internal
