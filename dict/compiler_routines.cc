// The compiler's lookups of routines, parameters, triggers, stored texts
// and long defaults.
#include "dict/compiler_routines.h"

#include <cstring>
#include <string_view>

#include "dict/column_reader.h"
#include "dict/kind_words.h"
#include "dict/source_pieces.h"
#include "dict/statement_params.h"
#include "dict/statement_run.h"
#include "kernel/control_blocks.h"
#include "kernel/system_block.h"

namespace {

void Routine(int32_t* base, int32_t* pb, const DDTableName& name, bool function,
             bool test_privilege, DDRoutineAttr* out, bool mark) {
  const int32_t stm =
      DDNamedLookup(base, pb, THR_STM_DDL_PR, IMAGE_DDCmpRoutine, name, test_privilege);
  if (stm == 0) return;
  std::string_view kind, privilege;
  DDWordOf(kDDObjectWords, function ? 12 : 11, &kind);
  DDWordOf(kDDPrivKindWords, function ? 8 : 7, &privilege);
  DDParams p(base, stm);
  p.Text(9, kind).Text(10, privilege);
  if ((pb[0] = p.status()) != 0 || DDSelectRun(base, pb, stm, true) != 0) return;
  DDColumnReader c(base, stm);
  DDRoutineAttr a = *out;
  a.id = c.Int(1, 0);
  DDCopyName(c.Text(2), a.schema, &a.schema_length);
  DDCopyName(c.Text(3), a.name, &a.name_length);
  a.module_id = c.Int(4, 0);
  const int32_t access = DDNumberOf(kDDDataAccessWords, c.Text(5));
  a.data_access = access >= 1 && access <= 3 ? access : 4;
  for (int32_t k = 0; k < 6; ++k) a.ints[k] = c.Int(6 + k, 0);
  for (int32_t k = 0; k < 2; ++k) a.flags[k] = DDIs(c.Text(12 + k), "YES") ? 1 : 0;
  a.privileged = DDIs(c.Text(14), "Y") ? 1 : 0;
  if (mark) a.found = 1;
  if ((pb[0] = c.status()) == 0) *out = a;
}

// A parameter row's columns from column 1: name, [mode,] the type columns.
void Param(int32_t* base, int32_t* pb, int32_t field, int32_t image, int32_t routine,
           int32_t position, bool with_mode, DDParamDesc* out) {
  const int32_t stm = DDCmpPrepare(base, pb, field, image);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, routine).Int(2, position);
  if ((pb[0] = p.status()) != 0 || DDSelectRun(base, pb, stm, true) != 0) return;
  DDColumnReader c(base, stm);
  DDParamDesc d{};
  DDCopyName(c.Text(1), d.name, &d.name_length);
  const int32_t t = with_mode ? 3 : 2;  // the type word's column
  if (with_mode) {
    static constexpr std::string_view kModes[] = {"IN", "INOUT", "OUT"};
    for (int32_t m = 0; m < 3; ++m)
      if (DDIs(c.Text(2), kModes[m])) d.mode = m + 1;
    d.further = c.Int(11, 0);
  }
  DDStoredType(c, {t, t + 1, t + 2, t + 4, t + 5, t + 6, t + 7}, &d.type, &d.length, &d.scale);
  if ((pb[0] = c.status()) == 0) *out = d;
}

}  // namespace

void DDCmpRoutine1(int32_t* base, int32_t* pb, const DDTableName& name, bool function,
                   bool test_privilege, DDRoutineAttr* out) {
  Routine(base, pb, name, function, test_privilege, out, true);
}

void DDCmpRoutine2(int32_t* base, int32_t* pb, const DDTableName& name, bool function,
                   bool test_privilege, DDRoutineAttr* out) {
  Routine(base, pb, name, function, test_privilege, out, false);
}

void DDCmpParams(int32_t* base, int32_t* pb, int32_t routine, int32_t position, DDParamDesc* out) {
  Param(base, pb, THR_STM_DDL_PP, IMAGE_DDCmpParams, routine, position, true, out);
}

void DDCmpParamCols(int32_t* base, int32_t* pb, int32_t routine, int32_t position,
                    DDParamDesc* out) {
  Param(base, pb, THR_STM_DDL_PC, IMAGE_DDCmpParamCols, routine, position, false, out);
}

void DDCmpPS(int32_t* base, int32_t* pb, int32_t id, int32_t kind, int32_t* object_kind,
             char* schema, int32_t* schema_length, uint8_t* text3, int32_t capacity, int32_t* total,
             int32_t* length) {
  *length = 0;
  std::string_view word;
  if (DDWordOf(kDDSourceWords, kind, &word) != 0) {
    pb[0] = DD_KIND_OUTSIDE;
    return;
  }
  const int32_t stm = DDCmpPrepare(base, pb, THR_STM_DDL_PS, IMAGE_DDCmpPS);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, id).Text(2, word);
  if ((pb[0] = p.status()) != 0) return;
  for (bool restart = true;; restart = false) {
    const int32_t rc = DDSelectRun(base, pb, stm, restart);
    if (rc > 0 && !restart) break;  // the last piece was read
    if (rc != 0) return;
    DDColumnReader c(base, stm);
    if (restart) {
      *total = c.Int(5, 0);
      *object_kind = DDNumberOf(kDDObjectWords, c.Text(2));
      DDCopyName(c.Text(1), schema, schema_length);
    }
    bool more = false;
    if ((pb[0] = c.status()) != 0 ||
        (pb[0] = DDAppendPiece(base, stm, 6, *total, text3, capacity, length, &more)) != 0)
      return;
    if (!more) break;
  }
  pb[0] = 0;
}

void DDCmpTrigger(int32_t* base, int32_t* pb, int32_t table_id, int32_t event, DDTriggerAttr* out) {
  const bool open = pb[0] == 0;
  static constexpr std::string_view kEvents[] = {"INSERT", "UPDATE", "DELETE"};
  if (open && (event < 1 || event > 3)) {
    pb[0] = DD_KIND_OUTSIDE;
    return;
  }
  const int32_t thr = CurrentThread();
  const bool walking = thr != 0 && Wd(base, thr, THR_STM_DDL_TR) != 0;
  const int32_t stm = DDCmpPrepare(base, pb, THR_STM_DDL_TR, IMAGE_DDCmpTrigger);
  if (stm == 0) return;
  if (!open && !walking) {
    pb[0] = 1;  // no walk was opened
    return;
  }
  if (open) {
    DDParams p(base, stm);
    p.Int(1, table_id).Text(2, kEvents[event - 1]);
    if ((pb[0] = p.status()) != 0) return;
  }
  if (DDSelectRun(base, pb, stm, open) != 0) return;
  DDColumnReader c(base, stm);
  DDTriggerAttr t{};
  t.id = c.Int(1, 0);
  t.table_id = c.Int(2, 0);
  static constexpr std::string_view kTimings[] = {"BEFORE", "INSTEAD OF", "AFTER"};
  for (int32_t k = 0; k < 3; ++k)
    if (DDIs(c.Text(3), kTimings[k])) t.timing = k + 1;
  t.row = DDIs(c.Text(4), "ROW") ? 1 : 0;
  t.flags[0] = DDIs(c.Text(5), "YES") ? 1 : 0;
  t.flags[1] = DDIs(c.Text(6), "YES") ? 1 : 0;
  t.flags[2] = DDIs(c.Text(7), "Y") ? 1 : 0;
  t.order = c.Int(8, 0);
  t.value = c.Int(9, 0);
  t.old_rows = DDIs(c.Text(10), "Y") ? 1 : 0;
  t.new_rows = DDIs(c.Text(11), "Y") ? 1 : 0;
  if ((pb[0] = c.status()) == 0) *out = t;
}

void DDCmpDefault(int32_t* base, int32_t* pb, int32_t id, const char* name, int32_t name_length,
                  uint8_t* text3, int32_t capacity, int32_t* length) {
  *length = 0;
  if (name_length < 1 || name_length > DD_NAME_BYTES) {
    pb[0] = DD_NAME_TOO_LONG;
    return;
  }
  const int32_t stm = DDCmpPrepare(base, pb, THR_STM_DDL_DF, IMAGE_DDCmpDefault);
  if (stm == 0) return;
  std::string_view word;
  DDWordOf(kDDSourceWords, 4, &word);  // DEFAULT
  int32_t total = 0;
  for (int32_t piece = 1;; ++piece) {
    DDParams p(base, stm);
    p.Int(1, id).Text(2, word).TextLength(3, name, name_length).Int(5, piece);
    if ((pb[0] = p.status()) != 0) return;
    const int32_t rc = DDSelectRun(base, pb, stm, true);
    if (rc > 0 && piece > 1) break;
    if (rc != 0) return;
    DDColumnReader c(base, stm);
    if (piece == 1) total = c.Int(2, 0);
    bool more = false;
    if ((pb[0] = c.status()) != 0 ||
        (pb[0] = DDAppendPiece(base, stm, 3, total, text3, capacity, length, &more)) != 0)
      return;
    if (!more) break;
  }
  pb[0] = 0;
}
