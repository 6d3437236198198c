// DSTranslateStmText, DSEscErrorHook and DSOpenSubStmTables (see
// statement_text.h).
#include "interp/statement_text.h"

#include <algorithm>
#include <cstring>

#include "interp/exec_runtime.h"
#include "interp/exec_stm.h"
#include "interp/program_layout.h"
#include "interp/request_services.h"
#include "kernel/control_blocks.h"
#include "kernel/diagnostics_area.h"
#include "kernel/error_report.h"
#include "kernel/system_block.h"
#include "kernel/word_storage.h"

namespace interp {
namespace {

constexpr int32_t kSeverity = 3;
constexpr int32_t kHookTextBytes = 200;
constexpr int32_t kMaxDepth = 1000;

int32_t Translate(int32_t* base, int32_t* pb, uint8_t* text, int32_t start, int32_t capacity,
                  int32_t count, int32_t* length, int32_t width, const uint8_t* work) {
  const auto f = RequestServices().escape_translate;
  if (f == nullptr) {
    DSErrRep("EscTranslate", 12, kErrServiceAbsent, SEV_ERROR);
    return kErrServiceAbsent;
  }
  return f(base, pb, text, start, capacity / width, length, work, count, 128 * (width - 1) + 127);
}

int32_t OpenTree(int32_t* base, int32_t usr, int32_t stm, int32_t mode, bool first,
                 int32_t depth) {
  StmProgram p;
  if (depth > kMaxDepth || !LoadProgram(base, stm, &p)) return 0;
  if (Wd(base, stm, STM_STATUS) == kStmLinked) {
    const int32_t rc = first ? OpenStatementTables(base, usr, stm, mode)
                             : BindStatement(base, usr, stm);
    if (rc < 0) return rc;
  }
  int64_t row = SdWord(base, p, kDescCallStatus);
  for (; row >= kDescriptorWords && row + kCsdWords <= p.sd_words; row += kCsdWords) {
    if (SdWord(base, p, row + kCsdType) < 0) break;
    if (SdWord(base, p, row + kCsdRecursive) != 0) continue;
    const int32_t cs = StorageWords(p, SdWord(base, p, row + kCsdStorage), 1);
    const int32_t called = cs != 0 ? Wd(base, cs, 0) : 0;
    // Only a statement linked to this one: a word naming any other is not
    // followed, so a damaged chain cannot lead the walk in a circle.
    if (!IsStatement(base, called) || Wd(base, called, STM_CALLING_STM) != stm) continue;
    const int32_t rc = OpenTree(base, usr, called, mode, false, depth + 1);
    if (rc < 0) return rc;
  }
  return 0;
}

}  // namespace

int32_t DSTranslateStmText(int32_t* base, int32_t* pb, uint8_t* text, int32_t start,
                           int32_t capacity, int32_t count, int32_t* length, int32_t width) {
  const int64_t bytes = int64_t{count} * width;
  if ((width != 1 && width != 3) || count < 0 || start < 0 || start + bytes > capacity)
    return KERNEL_BAD_PARAMETER;
  // The call's own area: never shared between threads.
  uint8_t area[kTranslateAreaBytes];
  uint8_t* work = area;
  int32_t block = 0;
  if (bytes > kTranslateAreaBytes) {
    DSGetMemRaw(base, &block, static_cast<int32_t>(bytes));
    if (block == 0) return SQLPOOL_EXHAUSTED_ERROR;
    work = reinterpret_cast<uint8_t*>(&Wd(base, block, 0));
  }
  std::memcpy(work, text + start, static_cast<size_t>(bytes));
  const int32_t rc = Translate(base, pb, text, start, capacity, count, length, width, work);
  if (block != 0) DSGetMem(base, &block, 0);
  if (rc != 0) DSAddDiag(base, pb[kExecUsr], -1, rc, kSeverity, nullptr, 0);
  return rc;
}

void DSEscErrorHook(int32_t* base, int32_t usr, int32_t value, int32_t rc, const char* first,
                    int32_t first_length, const char* second, int32_t second_length) {
  char text[kHookTextBytes];
  int32_t n = std::clamp(first_length, 0, kHookTextBytes);
  if (n > 0) std::memcpy(text, first, static_cast<size_t>(n));
  if (n < kHookTextBytes) {
    text[n++] = static_cast<char>(255);
    const int32_t more = std::clamp(second_length, 0, kHookTextBytes - n);
    if (more > 0) std::memcpy(text + n, second, static_cast<size_t>(more));
    n += more;
  }
  DSAddDiag(base, usr, value, rc, kSeverity, reinterpret_cast<const uint8_t*>(text), n);
}

int32_t DSOpenSubStmTables(int32_t* base, int32_t* pb, int32_t mode) {
  const int32_t first = pb[kExecStm];
  const int32_t rc = OpenTree(base, pb[kExecUsr], first, mode, true, 0);
  pb[kExecStm] = first;
  return rc;
}

}  // namespace interp
