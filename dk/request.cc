// Dispatch of databank kernel requests by function code. Each code has one
// slot: its routine name index, its dispatcher, its return word and its entry
// routine; a slot whose routine is not part of the kernel yet answers as an
// invalid code does.
#include "dk/request.h"

#include <atomic>

#include "dk/control_area.h"
#include "dk/bulk_load.h"
#include "dk/databank_copies.h"
#include "dk/databank_file.h"
#include "dk/databank_operations.h"
#include "dk/error_log.h"
#include "dk/in_doubt_transactions.h"
#include "dk/index_create.h"
#include "dk/large_object.h"
#include "dk/record_routines.h"
#include "dk/routine_names.h"
#include "dk/set_requests.h"
#include "dk/shadow_copy.h"
#include "dk/table_alter.h"
#include "dk/table_cursor.h"
#include "dk/table_open.h"
#include "dk/table_reshape.h"
#include "dk/table_entries.h"
#include "dk/transaction_cache.h"
#include "dk/kernel_table.h"
#include "dk/transactions.h"

namespace {

void DKEND1(int32_t* block, void*) {
  block[0] = 0;
}
void DKPIN1(int32_t* block, void*) {
  block[0] = 0;
}
void BeginEntry(int32_t* block, void*) {
  DKBEG1(block);
}
void StatisticsEntry(int32_t* block, void*) {
  DKGBS1(block);
}
void CreateDatabankEntry(int32_t* block, void*) {
  DKCRD1(block);
}
void RootPageEntry(int32_t* block, void*) {
  DKROO1(block);
}
// Tables and records.
template <void (*Routine)(int32_t*)>
void TableEntry(int32_t* block, void*) {
  Routine(block);
}

// Databank operations.
template <int32_t (*Routine)(int32_t*)>
void DatabankEntry(int32_t* block, void*) {
  Routine(block);
}

struct Slot {
  int8_t dispatcher;   // 1 DKEXE1, 2 DKEXE2
  int8_t return_word;  // 0, 5 or 6
  DKEntryRoutine routine;
};

// Indexed by function code; code 0 is no code.
constexpr Slot kSlots[DKF_MAX_CODE + 1] = {
    {0, 0, nullptr},          // 0
    {1, 0, BeginEntry},       // 1 DKBEG1
    {1, 0, DKEND1},           // 2 DKEND1
    {1, 0, TableEntry<DKACT1>},  // 3 DKACT1
    {1, 0, TableEntry<DKALR1>},  // 4 DKALR1
    {1, 0, DKAFC1Entry},  // 5 DKAFC1
    {1, 0, DKAPS1Entry},  // 6 DKAPS1
    {1, 6, TableEntry<DKBIN1>},  // 7 DKBIN1
    {1, 0, DKBTR1Entry},      // 8 DKBTR1
    {1, 6, DKCCS1Entry},  // 9 DKCCS1
    {1, 5, TableEntry<DKCHK1>},  // 10 DKCHK1
    {1, 6, DKCHT1Entry},  // 11 DKCHT1
    {1, 0, DatabankEntry<DKCLD1>},  // 12 DKCLD1
    {1, 5, TableEntry<DKCLT1>},  // 13 DKCLT1
    {1, 0, DatabankEntry<DKCOP1>},  // 14 DKCOP1
    {1, 0, CreateDatabankEntry},  // 15 DKCRD1
    {1, 5, TableEntry<DKCRT1>},  // 16 DKCRT1
    {1, 0, TableEntry<DKCRX1>},  // 17 DKCRX1
    {1, 0, TableEntry<DKDCT1>},  // 18 DKDCT1
    {1, 0, DKDDS1Entry},  // 19 DKDDS1
    {1, 5, TableEntry<DKDEL1>},  // 20 DKDEL1
    {1, 6, DKDET1Entry},  // 21 DKDET1
    {1, 0, TableEntry<DKDRP1>},  // 22 DKDRP1
    {1, 0, DKDRS1Entry},  // 23 DKDRS1
    {1, 0, TableEntry<DKDRT1>},  // 24 DKDRT1
    {1, 0, DKETR1Entry},      // 25 DKETR1
    {1, 5, TableEntry<DKFEP1>},  // 26 DKFEP1
    {1, 5, TableEntry<DKFET1>},  // 27 DKFET1
    {1, 6, DKFNT1Entry},  // 28 DKFNT1
    {1, 6, DKFPT1Entry},  // 29 DKFPT1
    {1, 6, TableEntry<DKFMS1>},  // 30 DKFMS1
    {1, 0, StatisticsEntry},  // 31 DKGBS1
    {1, 0, DatabankEntry<DKGDS1>},  // 32 DKGDS1
    {1, 5, TableEntry<DKGGK1>},  // 33 DKGGK1
    {1, 0, DKGNS1Entry},  // 34 DKGNS1
    {1, 0, DKGPS1Entry},  // 35 DKGPS1
    {1, 0, TableEntry<DKGTS1>},  // 36 DKGTS1
    {1, 0, TableEntry<DKIND1>},  // 37 DKIND1
    {1, 0, TableEntry<DKINS1>},  // 38 DKINS1
    {1, 6, DKINT1Entry},  // 39 DKINT1
    {1, 6, TableEntry<DKLOA1>},  // 40 DKLOA1
    {1, 0, TableEntry<DKMOT1>},  // 41 DKMOT1
    {1, 6, TableEntry<DKMRG1>},  // 42 DKMRG1
    {1, 0, DatabankEntry<DKOCD1>},  // 43 DKOCD1
    {1, 0, DatabankEntry<DKOPD1>},  // 44 DKOPD1
    {1, 0, TableEntry<DKOPT1>},  // 45 DKOPT1
    {1, 0, TableEntry<DKPFU1>},  // 46 DKPFU1
    {1, 0, DKPIN1},           // 47 DKPIN1
    {1, 0, DKRCM1Entry},  // 48 DKRCM1
    {1, 0, DatabankEntry<DKRED1>},  // 49 DKRED1
    {1, 0, DKROL1Entry},  // 50 DKROL1
    {1, 0, RootPageEntry},    // 51 DKROO1
    {1, 0, DatabankEntry<DKSIZ1>},  // 52 DKSIZ1
    {1, 0, DatabankEntry<DKSUD1>},  // 53 DKSUD1
    {1, 0, DatabankEntry<DKTDB1>},  // 54 DKTDB1
    {1, 0, TableEntry<DKUPD1>},  // 55 DKUPD1
    {1, 0, TableEntry<DKRCX1>},  // 56 DKRCX1
    {2, 0, DKEPT1},           // 57 DKEPT1
    {2, 0, DKALO1},  // 58 DKALO1
    {2, 0, DKPLO1},  // 59 DKPLO1
    {2, 0, DKGLO1},  // 60 DKGLO1
    {2, 0, DKFLO1},  // 61 DKFLO1
    {2, 0, DKFLX1},  // 62 DKFLX1
    {1, 0, DKMHT1Entry},      // 63 DKMHT1
    {1, 6, DKULD1Entry},  // 64 DKULD1
    {2, 0, DKCPL1},  // 65 DKCPL1
    {2, 5, DKCLO1},  // 66 DKCLO1
};

std::atomic<const DKChannelAccess*> channel_access{nullptr};

bool Serves(int32_t code, int32_t dispatcher) {
  return code >= 1 && code <= DKF_MAX_CODE && kSlots[code].dispatcher == dispatcher;
}

// The cancel test of a request about to be dispatched.
bool Cancelled() {
  const DKChannelAccess* access = channel_access.load(std::memory_order_acquire);
  if (!access || !access->current_channel) return false;
  int32_t channel = access->current_channel();
  if (channel == 0) return false;
  int32_t mode = access->interrupt_mode(channel);
  if (mode == 1) access->count_kernel_request(channel);
  return (mode == 1 || mode == 2) && access->cancel_matches(channel);
}

// An invalid code (or one whose routine is missing): two log records under
// the dispatcher's name and -43 in the return word.
void Refuse(int32_t routine_index, int32_t code, int32_t* block, int32_t word) {
  int32_t value = code;
  DKReportError(routine_index, DK_RC_INCONSISTENT, DK_SEV_ERROR, &value, 0);
  DKReportError(routine_index, DK_RC_BAD_PARAMETER, DK_SEV_ERROR, &value, code);
  if (block) block[word] = DK_RC_BAD_PARAMETER;
}

// Requests inside the kernel: the shutdown releases the control area only
// once none is (a request parked on a databank's wait pair runs on after the
// shutdown has woken it). A request counts from its outermost dispatch; the
// count and the closed flag are both sequentially consistent, so either a
// request sees the gate closed or the shutdown sees the request inside.
std::atomic<int32_t> requests_inside{0};
std::atomic<bool> requests_closed{false};
thread_local int32_t dispatch_depth = 0;

class InsideKernel {
 public:
  InsideKernel() {
    if (dispatch_depth++ > 0) return;
    requests_inside.fetch_add(1);
    if (requests_closed.load()) {
      Leave();
      admitted_ = false;
    }
  }
  ~InsideKernel() {
    if (--dispatch_depth == 0 && admitted_) Leave();
  }
  bool admitted() const { return admitted_; }

 private:
  static void Leave() {
    if (requests_inside.fetch_sub(1) == 1) requests_inside.notify_all();
  }
  bool admitted_ = true;
};

void Dispatch(int32_t dispatcher, int32_t code, int32_t* block, void* argument) {
  const int32_t routine_index = dispatcher == 1 ? DKR_DKEXE1 : DKR_DKEXE2;
  const int32_t word = DKReturnWord(code, dispatcher);
  InsideKernel inside;
  // A request before the start (or after the stop freed the control area)
  // finds no bufferpool: it is turned away as while the kernel is down.
  if (!inside.admitted() || !Bufferpool()) {
    if (block) block[word] = DK_RC_DOWN;
    return;
  }
  if (Cancelled()) {
    if (block) block[word] = DK_RC_CANCELLED;
    if (Bufferpool()) PoolWord(BP_CANCELLED_REQUESTS).fetch_add(1, std::memory_order_relaxed);
    return;
  }
  if (!Serves(code, dispatcher) || !block || !kSlots[code].routine)
    return Refuse(routine_index, code, block, word);
  kSlots[code].routine(block, argument);
}

}  // namespace

int32_t DKDispatcherOf(int32_t code) {
  return code >= 1 && code <= DKF_MAX_CODE ? kSlots[code].dispatcher : 0;
}

int32_t DKReturnWord(int32_t code, int32_t dispatcher) {
  return Serves(code, dispatcher) ? kSlots[code].return_word : 0;
}

void DKEXE1(int32_t code, int32_t* block) {
  Dispatch(1, code, block, nullptr);
}

void DKEXE2(int32_t code, int32_t* block, void* argument) {
  Dispatch(2, code, block, argument);
}

void DKCallEntry(int32_t code, int32_t* block, void* argument) {
  int32_t dispatcher = DKDispatcherOf(code);
  if (dispatcher == 0 || !block || !kSlots[code].routine)
    return Refuse(dispatcher == 2 ? DKR_DKEXE2 : DKR_DKEXE1, code, block,
                  DKReturnWord(code, dispatcher));
  kSlots[code].routine(block, argument);
}

void DKCloseRequests() {
  requests_closed.store(true);
  for (int32_t n = requests_inside.load(); n != 0; n = requests_inside.load())
    requests_inside.wait(n);
}

void DKOpenRequests() {
  requests_closed.store(false);
}

void DKInstallChannelAccess(const DKChannelAccess* access) {
  channel_access.store(access, std::memory_order_release);
}

void DKBEG1(int32_t* block) {
  if (!block) return;
  if (DKBLK1[0] != DKBLK1_SENTINEL) {
    block[0] = DK_RC_NO_BLOCKDATA;
    DKReportError(DKF_BEG1, DK_RC_NO_BLOCKDATA, DK_SEV_ERROR, nullptr, 0);
    return;
  }
  block[0] = Bufferpool() && PoolWord(BP_STATUS).load() == BP_STATUS_UP ? 0 : -1;
}
