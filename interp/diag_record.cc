// DSGetDiagRecord (see diagnostics.h).
#include <algorithm>
#include <cstring>

#include "interp/conditions.h"
#include "interp/diagnostics.h"
#include "interp/message_statements.h"
#include "interp/program_layout.h"
#include "kernel/control_blocks.h"
#include "kernel/diagnostics_area.h"
#include "kernel/log_record_text.h"
#include "kernel/system_block.h"

namespace interp {
namespace {

constexpr int32_t kNotInitialised = -14002;

// The substitution text without its item letters: the part before the
// first tab is dropped, each later part that ends at a tab loses the tab
// and the letter before it, the rest after the last tab is kept whole.
int32_t WithoutLetters(const char* in, int32_t n, char* out) {
  const char* tab = static_cast<const char*>(std::memchr(in, '\t', static_cast<size_t>(n)));
  if (tab == nullptr) {
    std::memcpy(out, in, static_cast<size_t>(n));
    return n;
  }
  int32_t length = 0;
  int32_t from = static_cast<int32_t>(tab - in) + 1;
  for (;;) {
    const char* next =
        static_cast<const char*>(std::memchr(in + from, '\t', static_cast<size_t>(n - from)));
    if (next == nullptr) {
      std::memcpy(out + length, in + from, static_cast<size_t>(n - from));
      return length + n - from;
    }
    const int32_t part = static_cast<int32_t>(next - in) - from;
    const int32_t keep = std::max(part - 1, 0);
    std::memcpy(out + length, in + from, static_cast<size_t>(keep));
    length += keep;
    from += part + 1;
  }
}

// The kernel's text that names the log record of a return vector.
void LogRecordText(int32_t* base, const int32_t* rvec, char* text, int32_t* length) {
  ::DSLogRecText(base, reinterpret_cast<uint8_t*>(text), kDiagTextMax, length, rvec);
}

void FromVector(int32_t* base, const int32_t* rvec, int32_t* block, int32_t* position,
                int32_t* length, char* text) {
  block[2] = rvec[0];
  *position = -1;
  *length = 0;
  LogRecordText(base, rvec, text, length);
}

}  // namespace

void DSGetDiagRecord(int32_t* base, int32_t* block, int32_t* position, int32_t* length,
                     char* text) {
  const int32_t n = block[0];
  const int32_t usr = block[1];
  *position = -1;
  *length = 0;
  const int32_t sys = KernelSys(base);
  if (sys == 0) {
    block[0] = 0;
    block[2] = kNotInitialised;
    return;
  }
  if (usr == 0 || !InStorage(base, usr, USR_WORDS)) {
    block[0] = 0;
    FromVector(base, &Wd(base, sys, SYS_RVEC), block, position, length, text);
    return;
  }
  const int32_t count = Wd(base, usr, USR_TOTAL_ERROR_COUNT);
  if (count == 0) {
    block[0] = 0;
    FromVector(base, &Wd(base, usr, USR_RVEC_RCODE), block, position, length, text);
    return;
  }
  const int32_t record = n >= 1 && n <= count ? DSFindDiagRecord(base, usr, n) : 0;
  if (record == 0) {
    block[0] = 0;
    return;
  }
  const int32_t native = Wd(base, record, DIAREC_NATIVE);
  *position = Wd(base, record, DIAREC_POSITION);
  block[2] = native;
  if (IsPackedState(native)) {
    block[2] = kPackedNative;
  } else {
    // The text lies behind the record's fixed words; the record in the
    // session block has none.
    int32_t& stored = Wd(base, record, DIAREC_TEXT_LENGTH);
    if (stored > kDiagTextMax) stored = kDiagTextMax;
    const int32_t bytes = record == usr + USR_DIA_NEXT ? 0 : std::max(stored, 0);
    if (bytes > 0 && InStorage(base, int64_t{record} + DIAREC_TEXT, (bytes + 3) / 4)) {
      *length = WithoutLetters(reinterpret_cast<const char*>(&Wd(base, record, DIAREC_TEXT)),
                               bytes, text);
    } else if (n == 1) {
      LogRecordText(base, &Wd(base, usr, USR_RVEC_RCODE), text, length);
    }
  }
  block[0] = n < count ? n + 1 : 0;
}

}  // namespace interp
