// DSAddDiag (see diagnostics_area.h).
#include "kernel/diagnostics_area.h"

#include <cstring>

#include "kernel/control_blocks.h"
#include "kernel/system_block.h"

static_assert(USR_DIA_NATIVE_ERROR - USR_DIA_NEXT == DIAREC_NATIVE);
static_assert(USR_DIA_ERROR_NUMBER - USR_DIA_NEXT == DIAREC_NUMBER);
static_assert(USR_DIA_TABLE_SYSID - USR_DIA_NEXT == DIAREC_CURRENT);
static_assert(USR_DIA_SEVERITY - USR_DIA_NEXT == DIAREC_SEVERITY);
static_assert(USR_DIA_SUBSTITUTION - USR_DIA_NEXT == DIAREC_TEXT);
static_assert(USR_REQNO_FOR_LAST_PKUPD - USR_CURRENT_TABLE_SYSID == DIAREC_CURRENT_WORDS);

namespace {

constexpr int32_t kChainLimit = 1 << 16;

// Frees the allocated records after the embedded one.
void FreeRecords(int32_t* base, int32_t usr) {
  int32_t r = Wd(base, usr, USR_DIA_NEXT);
  Wd(base, usr, USR_DIA_NEXT) = 0;
  for (int32_t steps = 0; r != 0 && steps < kChainLimit; ++steps) {
    if (!InStorage(base, r, DIAREC_TEXT)) break;
    int32_t block = r;
    r = Wd(base, r, DIAREC_NEXT);
    DSGetMem(base, &block, 0);
  }
}

}  // namespace

void DSClearDiag(int32_t* base, int32_t usr) {
  if (!InStorage(base, usr, USR_WORDS)) return;
  FreeRecords(base, usr);
  Wd(base, usr, USR_TOTAL_ERROR_COUNT) = 0;
  Wd(base, usr, USR_DIA_ERROR_NUMBER) = 0;
  Wd(base, usr, USR_DIA_NATIVE_ERROR) = 0;
}

int32_t DSAddDiag(int32_t* base, int32_t usr, int32_t position, int32_t native, int32_t severity,
                  const uint8_t* text, int32_t length) {
  if (KernelSys(base) == 0) return KERNEL_NOT_STARTED;
  if (!InStorage(base, usr, USR_WORDS) || length < 0 || length > DIAG_MAX_TEXT ||
      (length > 0 && text == nullptr))
    return KERNEL_BAD_PARAMETER;
  const int32_t embedded = usr + USR_DIA_NEXT;
  if (Wd(base, usr, USR_DIA_ADDED_FLAG) == 1) {
    FreeRecords(base, usr);
    Wd(base, embedded, DIAREC_NUMBER) = 0;
    Wd(base, usr, USR_TOTAL_ERROR_COUNT) = 0;
    Wd(base, usr, USR_DIA_ADDED_FLAG) = 2;
  }
  const int32_t count = Wd(base, usr, USR_TOTAL_ERROR_COUNT);
  if (count >= Wd(base, usr, USR_TRAN_DIAG_SIZE)) return 0;
  if (count == 0) Wd(base, usr, USR_RVEC_RCODE) = native;
  int32_t record = embedded;
  if (count != 0 || length > 0) {
    record = 0;
    DSGetMem(base, &record, DIAREC_BYTES + length);
    if (record == 0) {
      Wd(base, usr, USR_RVEC_RCODE) = SQLPOOL_EXHAUSTED_ERROR;
      return SQLPOOL_EXHAUSTED_ERROR;
    }
    Wd(base, record, DIAREC_NEXT) = Wd(base, embedded, DIAREC_NEXT);
    Wd(base, embedded, DIAREC_NEXT) = record;
  }
  // The lowest-numbered condition placed after the new one gives up its
  // number; it and every later one move up. (The first such record in chain
  // order, newest first, need not be the lowest: taking it would number the
  // conditions out of their positions' order.)
  int32_t number = 0;
  for (int32_t r = embedded, steps = 0; r != 0 && steps < kChainLimit;
       r = Wd(base, r, DIAREC_NEXT), ++steps) {
    if (r == record || !InStorage(base, r, DIAREC_TEXT)) continue;
    const int32_t n = Wd(base, r, DIAREC_NUMBER);
    if (n > 0 && Wd(base, r, DIAREC_POSITION) > position && (number == 0 || n < number))
      number = n;
  }
  if (number == 0) {
    number = count + 1;
  } else {
    for (int32_t r = embedded, steps = 0; r != 0 && steps < kChainLimit;
         r = Wd(base, r, DIAREC_NEXT), ++steps)
      if (r != record && InStorage(base, r, DIAREC_TEXT) && Wd(base, r, DIAREC_NUMBER) >= number)
        ++Wd(base, r, DIAREC_NUMBER);
  }
  Wd(base, record, DIAREC_NATIVE) = native;
  Wd(base, record, DIAREC_NUMBER) = number;
  std::memcpy(&Wd(base, record, DIAREC_CURRENT), &Wd(base, usr, USR_CURRENT_TABLE_SYSID),
              DIAREC_CURRENT_WORDS * sizeof(int32_t));
  Wd(base, record, DIAREC_SEVERITY) = severity;
  Wd(base, record, DIAREC_POSITION) = position;
  Wd(base, record, DIAREC_TEXT_LENGTH) = length;
  if (length > 0) std::memcpy(&Wd(base, record, DIAREC_TEXT), text, static_cast<size_t>(length));
  Wd(base, usr, USR_TOTAL_ERROR_COUNT) = count + 1;
  return 0;
}
