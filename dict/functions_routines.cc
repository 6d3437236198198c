// Statement functions of modules and routines.
#include <string_view>

#include "dict/column_reader.h"
#include "dict/kind_words.h"
#include "dict/new_ids.h"
#include "dict/statement_functions.h"
#include "dict/statement_params.h"
#include "dict/statement_run.h"
#include "dict/type_encoding.h"
#include "dict/type_words.h"

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

namespace {

constexpr int32_t kRoutineChars = 400;

// The parameters a procedure and a function share: P1-P7, P9, the text as
// P11 and P12. 0, or the refusal.
int32_t RoutineCommon(const DDRoutineDef& r, std::string_view kind, DDParams& p) {
  std::string_view access;
  if (DDWordOf(kDDDataAccessWords, r.access, &access) != 0) return DD_KIND_OUTSIDE;
  if (r.length < 0 || r.length > kRoutineChars) return DD_BAD_PARAMETER;
  p.Int(1, r.id).Int(2, r.module_id).Text(3, kind).Text(4, access);
  p.Int(5, r.ints[0]).Int(6, r.ints[1]).Int(7, r.ints[2]).Int(9, r.ints[3]);
  p.Chars(11, r.text3, r.length).Flag(13, r.flags[0]).Flag(14, r.flags[1]);
  return 0;
}

}  // namespace

void DDInsProcedure(int32_t* base, int32_t* pb, const DDRoutineDef& r) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsProcedure, IMAGE_DDInsProcedure);
  if (stm == 0) return;
  DDParams p(base, stm);
  if ((pb[0] = RoutineCommon(r, DD_ROUTINE_PROCEDURE, p)) != 0) return;
  p.Int(8, 0).Null(10).Flag(15, r.flags[2]).Text(16, DD_LANGUAGE_SQL);
  p.TextLength(17, r.specific, r.specific_length).Null(19).Null(20).Null(21).Int(22, 0);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDInsFunction(int32_t* base, int32_t* pb, const DDRoutineDef& r) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsFunction, IMAGE_DDInsFunction);
  if (stm == 0) return;
  DDParams p(base, stm);
  if ((pb[0] = RoutineCommon(r, DD_ROUTINE_FUNCTION, p)) != 0) return;
  p.Int(8, 1).Int(10, 0).Text(15, DD_LANGUAGE_SQL);
  p.TextLength(16, r.specific, r.specific_length).Null(18).Null(19).Int(20, 0);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDInsParameter(int32_t* base, int32_t* pb, const DDParameterDef& d) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsParameter, IMAGE_DDInsParameter);
  if (stm == 0) return;
  DDTypeParams t;
  if (d.type == nullptr || DDEncodeType(*d.type, &t) != 0) {
    pb[0] = DD_KIND_OUTSIDE;
    return;
  }
  const std::string_view mode = d.mode == 1 ? DD_MODE_IN : d.mode == 2 ? DD_MODE_INOUT : DD_MODE_OUT;
  DDParams p(base, stm);
  p.Int(1, d.routine_id).Int(2, d.position).Flag(3, d.result).Text(4, mode);
  p.TextLength(5, d.name, d.name_length).Int(7, 0).Int(8, d.second);
  p.Text(9, DDTypeWord(t.type_entry));
  if (t.qualifier_entry != 0)
    p.Text(10, DDQualifierWord(t.qualifier_entry));
  else
    p.Null(10);
  p.MaybeWide(11, t.p[5]).MaybeWide(12, t.p[6]);
  for (int32_t n = 7; n <= 11; ++n) p.Maybe(n + 6, t.p[n]);
  p.Int(18, d.last);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDDelModule(int32_t* base, int32_t* pb, int32_t id, const char* name, int32_t name_length,
                 int32_t* id_out) {
  const int32_t mode = pb[0];
  if (mode != 0 && mode != 2 && mode != 3) {
    pb[0] = DD_BAD_PARAMETER;
    return;
  }
  DDDropCursor(base, pb, SLOT_DDDelModule, IMAGE_DDDelModule, mode != 0, mode == 3, id, name,
               name_length, id_out);
}

void DDDelRoutineSrc(int32_t* base, int32_t* pb, int32_t module_id, int32_t module14,
                     int32_t module21, int32_t routine84, int32_t routine91) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDDelRoutineSrc, IMAGE_DDDelRoutineSrc);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, module_id).Int(2, module14).Int(3, module21).Int(4, routine84).Int(5, routine91);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

namespace {

void DelRoutine(int32_t* base, int32_t* pb, int32_t slot, int32_t image, int32_t routine_id,
                int32_t module_id, const char* name, int32_t name_length, int32_t* columns) {
  const int32_t mode = pb[0];
  const int32_t stm = DDSlotStatement(base, pb, slot, image);
  if (stm == 0) return;
  if (mode != 0) {
    DDParams p(base, stm);
    if (mode == 2)
      p.Null(1).Int(2, module_id).Null(3).Null(4);
    else if (mode == 3)
      p.Null(1).Null(2).TextLength(3, name, name_length);
    else if (mode == 4)
      p.Int(1, routine_id).Null(2).Null(3).Null(4);
    else
      pb[0] = DD_BAD_PARAMETER;
    if (pb[0] != 0 || (pb[0] = p.status()) != 0) return;
  }
  if (DDSelectRun(base, pb, stm, mode != 0) != 0) return;
  DDColumnReader c(base, stm);
  for (int32_t n = 0; n < 6; ++n) columns[n] = c.Int(n + 1, 0);
  pb[0] = c.status() != 0 ? c.status() : columns[1] != 0 ? 2 : 0;
}

}  // namespace

void DDDelRoutine1(int32_t* base, int32_t* pb, int32_t routine_id, int32_t module_id,
                   const char* name, int32_t name_length, int32_t* columns) {
  DelRoutine(base, pb, SLOT_DDDelRoutine1, IMAGE_DDDelRoutine1, routine_id, module_id, name,
             name_length, columns);
}

void DDDelRoutine2(int32_t* base, int32_t* pb, int32_t routine_id, int32_t module_id,
                   const char* name, int32_t name_length, int32_t* columns) {
  DelRoutine(base, pb, SLOT_DDDelRoutine2, IMAGE_DDDelRoutine2, routine_id, module_id, name,
             name_length, columns);
}
