// Statement functions of modules and routines.
#include <string_view>

#include "dict/kind_words.h"
#include "dict/new_ids.h"
#include "dict/statement_functions.h"
#include "dict/statement_params.h"
#include "dict/statement_run.h"

namespace {

constexpr int32_t kModuleChars = 400;
constexpr int32_t kModuleKind = 139;

}  // namespace

void DDInsModule(int32_t* base, int32_t* pb, int32_t id, int32_t first, int32_t second,
                 const uint8_t* text3, int32_t length) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsModule, IMAGE_DDInsModule);
  if (stm == 0) return;
  if (length < 0 || length > kModuleChars) {
    pb[0] = DD_BAD_PARAMETER;
    return;
  }
  DDParams p(base, stm);
  p.Int(1, id).Int(2, kModuleKind).Int(3, first).Int(4, second);
  int32_t status = p.status();
  if (status == 0) DSSetParNVar(base, &status, stm, 5, text3, 0, length);
  if ((pb[0] = status) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDInsRoutineName(int32_t* base, int32_t* pb, int32_t id, const char* name,
                      int32_t name_length, const char* specific, int32_t specific_length) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsRoutineName, IMAGE_DDInsRoutineName);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, id).TextLength(2, name, name_length).TextLength(4, specific, specific_length);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDCurFunctions(int32_t* base, int32_t* pb, int32_t module_id, int32_t* routine_id,
                    bool* function) {
  const bool open = pb[0] != 0;
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDCurFunctions, IMAGE_DDCurFunctions);
  if (stm == 0) return;
  if (open) {
    DDParams p(base, stm);
    p.Int(1, module_id);
    if ((pb[0] = p.status()) != 0) return;
  }
  if (DDSelectRun(base, pb, stm, open) != 0) return;
  int32_t status = 0;
  DSGetColInt(base, &status, stm, 1, routine_id);
  uint8_t word[21] = {};
  if (status == 0) DSGetColChar(base, &status, stm, 2, word, 0);
  std::string_view stored(reinterpret_cast<char*>(word), 20);
  while (!stored.empty() && stored.back() == ' ') stored.remove_suffix(1);
  *function = stored == DD_ROUTINE_FUNCTION;
  pb[0] = status;
}

void DDUpdChangeTime(int32_t* base, int32_t* pb, int32_t id) {
  DDRunWithId(base, pb, SLOT_DDUpdChangeTime, IMAGE_DDUpdChangeTime, id);
}
