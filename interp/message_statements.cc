// DSMosSeverity and DSMosMessage over the thread's message statements (see
// message_statements.h).
#include "interp/message_statements.h"

#include <algorithm>
#include <cstring>

#include "interp/conditions.h"
#include "interp/exec_runtime.h"
#include "interp/machine.h"
#include "interp/program_layout.h"
#include "kernel/control_blocks.h"
#include "kernel/error_report.h"
#include "kernel/kernel_begin.h"
#include "kernel/statement_columns.h"
#include "kernel/system_block.h"

namespace interp {
namespace {

constexpr int32_t kNotInitialised = -14002;
constexpr int32_t kNoThread = -18515;
constexpr int32_t kSeverityFailed = -19024;
constexpr int32_t kVersionMismatch = -18009;
constexpr int32_t kLineBytes = 80;
constexpr int32_t kMaxLines = 100;
constexpr int32_t kNameBytes = 128;

// The thread's statement `field`: 0 and *stm, or the status.
int32_t ThreadStatement(int32_t* base, int32_t field, int32_t* thr, int32_t* stm) {
  *stm = 0;
  if (KernelSys(base) == 0) return kNotInitialised;
  *thr = CurrentThread();
  if (*thr == 0 || !InStorage(base, *thr, THR_WORDS)) return kNoThread;
  *stm = Wd(base, *thr, field);
  if (!IsStatement(base, *stm)) *stm = 0;
  return 0;
}

// Sets the parameters (1 from `params[0]` on) and runs the statement's
// program from its start: the run's result.
int32_t RunWith(int32_t* base, int32_t thr, int32_t stm, const int32_t* params, int32_t count) {
  StmProgram p;
  if (!LoadProgram(base, stm, &p)) return KERNEL_BAD_PARAMETER;
  for (int32_t k = 0; k < count; ++k) {
    int32_t status = 0;
    DSSetParInt(base, &status, stm, k + 1, params[k]);
    if (status != 0) return status;
  }
  Wd(base, stm, STM_STATUS) = kStmCalled;
  const int32_t usr = thr + THR_USR_START;
  char name[kNameBytes];
  std::memcpy(name, &Wd(base, usr, USR_NAME), kNameBytes);
  int32_t rvec[kStateWords] = {};
  int32_t position = 2;
  DAMAE2(base, rvec, &Wd(base, p.pgm, 0), p.program_words, &Wd(base, p.stg, 0), p.storage_words,
         &position, name, usr);
  Wd(base, stm, STM_PC) = position;
  Wd(base, stm, STM_STATUS) = position == 0 ? kStmEnded : kStmRunning;
  return rvec[kStateReturnCode];
}

// Output column n: its data bytes (nullptr for a null or absent column).
const uint8_t* Column(int32_t* base, int32_t stm, int32_t n, int32_t* length) {
  uint8_t* field = nullptr;
  int32_t bytes = 0;
  if (StatementField(base, stm, true, n, &field, &bytes) != 0 || bytes < 1 || field[0] == 255)
    return nullptr;
  *length = bytes - 1;
  return field + 1;
}

void Put(char* out, int32_t room, const uint8_t* value, int32_t length) {
  std::memset(out, ' ', static_cast<size_t>(room));
  if (value != nullptr) std::memcpy(out, value, static_cast<size_t>(std::min(room, length)));
}

int32_t CodeOf(int32_t code) {
  return IsPackedState(code) ? kPackedNative : code;
}

}  // namespace

void DSMosSeverity(int32_t* base, int32_t* block, char* banner, char* text, int32_t* severity) {
  int32_t thr = 0, stm = 0;
  block[0] = ThreadStatement(base, THR_STM_MOS_SEVERITY, &thr, &stm);
  if (block[0] != 0) return;
  if (stm == 0) {
    std::memset(banner, ' ', 26);
    DSBanner(block, banner, text, severity);
    return;
  }
  const int32_t params[3] = {block[1], CodeOf(block[2]), block[3]};
  if (RunWith(base, thr, stm, params, 3) < 0) {
    block[0] = kSeverityFailed;
    return;
  }
  std::memset(banner, ' ', 26);
  std::memcpy(banner, "ZAVOR/?? ", 9);
  int32_t length = 0;
  if (const uint8_t* c = Column(base, stm, 1, &length); c != nullptr)
    std::memcpy(banner, c, static_cast<size_t>(std::min(length, 6)));
  int32_t value = 0, status = 0;
  DSGetColInt(base, &status, stm, 2, &value);
  *severity = status == 0 ? value : 0;
  Put(text, 40, Column(base, stm, 4, &length), length);
  block[0] = 0;
}

void DSMosMessage(int32_t* base, int32_t* block, char* line) {
  int32_t thr = 0, stm = 0;
  const int32_t number = block[0];
  block[0] = ThreadStatement(base, THR_STM_MOS_MESSAGE, &thr, &stm);
  if (block[0] != 0) return;
  if (stm == 0 || block[2] == kVersionMismatch) {
    int32_t request[4] = {number, block[1], block[2], block[3]};
    int32_t length = 0;
    DSErrText(request, line, 0, &length);
    block[0] = request[0];
    return;
  }
  const int32_t params[4] = {block[1], CodeOf(block[2]), block[3], number};
  int32_t length = 0;
  const uint8_t* c = nullptr;
  if (RunWith(base, thr, stm, params, 4) >= 0) c = Column(base, stm, 1, &length);
  if (c == nullptr) {
    block[0] = kNoMessageLine;
    return;
  }
  Put(line, kLineBytes, c, length);
  block[0] = 0;
}

void MessageText(int32_t* base, int32_t code, char* out, int32_t capacity, int32_t* length) {
  *length = 0;
  if (code == 0) return;
  for (int32_t n = 1; n <= kMaxLines; ++n) {
    char line[kLineBytes];
    int32_t block[4] = {n, 1, CodeOf(code), 1};
    DSMosMessage(base, block, line);
    if (block[0] != 0) return;
    int32_t used = kLineBytes;
    while (used > 0 && line[used - 1] == ' ') --used;
    if (n > 1 && used > 0 && line[0] != ' ' && *length < capacity) out[(*length)++] = ' ';
    const int32_t take = std::min(used, capacity - *length);
    std::memcpy(out + *length, line, static_cast<size_t>(take));
    *length += take;
  }
}

}  // namespace interp
