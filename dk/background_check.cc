// The databank checks a background thread runs when it has nothing to
// apply: databanks whose open left the check of their data pages to the
// background (check state 16) are taken one at a time, within the limit of
// threads on deferred work.
#include <atomic>

#include "dk/background_threads.h"
#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/error_log.h"
#include "dk/set_pages.h"
#include "platform/enqdeq.h"

namespace {

constexpr int32_t kCheckingThreads = 169, kDeferredRefused = 171;

std::atomic<DKBackgroundCheck> installed{nullptr};

// The first databank waiting for its background check, now in state 17.
int32_t TakeWaiting() {
  int32_t* a = Bufferpool();
  EnqdeqGuard guard(a + BP_LOCK_DATABANK_HASH);
  for (int32_t d = a[BP_DATABANK_FIRST]; d > 0 && d <= a[BP_DATABANK_LAST]; d += DBE_WORDS) {
    if (a[d + DBE_STATE] == CHK_WAIT_BACKGROUND) {
      StoreWord(d + DBE_STATE, CHK_BACKGROUND);
      return d;
    }
  }
  return 0;
}

void Check(int32_t databank) {
  int32_t* a = Bufferpool();
  if (DKBackgroundCheck check = installed.load(std::memory_order_acquire)) {
    check(databank);
    return;
  }
  // The check of data pages belongs to the databank verification, which
  // installs it; until then the databank keeps waiting, still owed.
  int32_t value = databank;
  DKReportError(dkset::RoutineIndex("DKVDB0"), -86, DK_SEV_ERROR, &value, databank);
  EnqdeqGuard guard(a + BP_LOCK_DATABANK_HASH);
  a[databank + DBE_STATE] = CHK_WAIT_BACKGROUND;
}

}  // namespace

void DKInstallBackgroundCheck(DKBackgroundCheck check) {
  installed.store(check, std::memory_order_release);
}

void DKCheckWaitingDatabanks() {
  int32_t* a = Bufferpool();
  {
    EnqdeqGuard guard(a + BP_LOCK_BACKGROUND_QUEUE);
    if (a[kCheckingThreads] >= a[BP_HALF_BACKGROUND]) {
      ++a[kDeferredRefused];
      return;
    }
    ++a[kCheckingThreads];
  }
  for (;;) {
    const int32_t databank = TakeWaiting();
    if (databank != 0) Check(databank);
    // Another pass only for a request that found every checking place taken.
    EnqdeqGuard guard(a + BP_LOCK_BACKGROUND_QUEUE);
    const bool again = databank != 0 && a[kDeferredRefused] >= 1;
    if (again) --a[kDeferredRefused];
    if (!again) {
      --a[kCheckingThreads];
      return;
    }
  }
}
