// The databank kernel's request interface: the two dispatchers by function
// code, the return-word position of each code, the cancel test, and the
// small entry routines served here (begin-of-request check, no-operations,
// statistics).
#pragma once

#include <cstdint>

// Function codes of the entry routines served by this layer.
constexpr int32_t DKF_BEG1 = 1;
constexpr int32_t DKF_END1 = 2;
constexpr int32_t DKF_CCS1 = 9;
constexpr int32_t DKF_CLD1 = 12;
constexpr int32_t DKF_GBS1 = 31;
constexpr int32_t DKF_OPD1 = 44;
constexpr int32_t DKF_PIN1 = 47;
constexpr int32_t DKF_MAX_CODE = 66;

// Results stored by the dispatchers.
constexpr int32_t DK_RC_BAD_PARAMETER = -43;
constexpr int32_t DK_RC_INCONSISTENT = -55;
constexpr int32_t DK_RC_NO_BLOCKDATA = -74;
constexpr int32_t DK_RC_CANCELLED = -89;
// A request that arrives once the shutdown has begun runs nothing and gets
// the answer DKBEG1 gives while the kernel is not up.
constexpr int32_t DK_RC_DOWN = -1;

// An entry routine takes the request block and, through DKEXE2, a second
// argument (a data area or a second block).
using DKEntryRoutine = void (*)(int32_t* block, void* argument);

void DKEXE1(int32_t code, int32_t* block);
void DKEXE2(int32_t code, int32_t* block, void* argument);
void DKBEG1(int32_t* block);
void DKGBS1(int32_t* block);

// Which dispatcher serves a code: 1, 2, or 0 when neither.
int32_t DKDispatcherOf(int32_t code);
// The return word of `code` sent to `dispatcher` (1 or 2): 0, 5 or 6; word 0
// for a code the dispatcher does not serve.
int32_t DKReturnWord(int32_t code, int32_t dispatcher);

// Runs the entry routine of a code for the kernel's own callers (no cancel
// test). A code whose routine is not there answers as an invalid code.
void DKCallEntry(int32_t code, int32_t* block, void* argument);

// The gate of the dispatchers. DKCloseRequests turns new requests away and
// waits until no request is inside the kernel any more; DKOpenRequests (at
// start) lets them in again. Kernel callers of DKCallEntry pass no gate.
void DKCloseRequests();
void DKOpenRequests();

// The cancel test reads the calling thread's channel through these, which
// the kernel core installs at start; without them no request is cancelled.
struct DKChannelAccess {
  // The calling thread's channel (CHA), 0 when it has none.
  int32_t (*current_channel)();
  int32_t (*interrupt_mode)(int32_t channel);
  // True when the channel's running request number is the one to cancel.
  bool (*cancel_matches)(int32_t channel);
  // Adds one to the channel's count of kernel requests.
  void (*count_kernel_request)(int32_t channel);
};
void DKInstallChannelAccess(const DKChannelAccess* access);
