// Statement functions of objects, object usage and sequences.
#include <cstring>
#include <string_view>

#include "dict/kind_words.h"
#include "dict/statement_functions.h"
#include "dict/statement_params.h"
#include "dict/statement_prepare.h"
#include "dict/statement_run.h"
#include "dict/work_block.h"
#include "kernel/control_blocks.h"
#include "kernel/system_block.h"
#include "kernel/table_use.h"

namespace {

// The object kinds an object lookup takes: every object kind but COLUMN,
// SHADOW and GENERATED.
bool LookupKind(int32_t kind, std::string_view* word) {
  return kind != 8 && kind != 9 && kind != 20 && DDWordOf(kDDObjectWords, kind, word) == 0;
}

bool InList(int32_t kind, std::initializer_list<int32_t> kinds) {
  for (int32_t k : kinds)
    if (k == kind) return true;
  return false;
}

}  // namespace

void DDGetObjectId(int32_t* base, int32_t* pb, const char* schema, int32_t schema_length,
                   const char* name, int32_t name_length, int32_t kind, int32_t* id) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDGetObjectId, IMAGE_DDGetObjectId);
  if (stm == 0) return;
  std::string_view word;
  if (!LookupKind(kind, &word)) {
    pb[0] = DD_KIND_OUTSIDE;
    return;
  }
  if (DDRunByPath(base, pb, stm, schema, schema_length, name, name_length, word) != 0) return;
  int32_t status = 0;
  DSGetColInt(base, &status, stm, 1, id);
  pb[0] = status;
}

void DDGetName(int32_t* base, int32_t* pb, int32_t id, char* name, char* schema) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDGetName, IMAGE_DDGetName);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, id);
  if ((pb[0] = p.status()) != 0) return;
  if (DDSelectRun(base, pb, stm, true) != 0) return;
  int32_t status = 0;
  DSGetColChar(base, &status, stm, 1, reinterpret_cast<uint8_t*>(name), 0);
  if (status == 0 && schema != nullptr)
    DSGetColChar(base, &status, stm, 2, reinterpret_cast<uint8_t*>(schema), 0);
  pb[0] = status;
}

void DDInsObjUsage(int32_t* base, int32_t* pb, int32_t user_id, int32_t user_kind,
                   int32_t used_id, int32_t used_kind) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsObjUsage, IMAGE_DDInsObjUsage);
  if (stm == 0) return;
  std::string_view user, used;
  if (!InList(user_kind, {2, 4, 6, 7, 10, 11, 12, 13, 16, 22}) ||
      !InList(used_kind, {2, 6, 7, 10, 11, 12, 13, 14, 18}) ||
      DDWordOf(kDDUsageWords, user_kind, &user) != 0 ||
      DDWordOf(kDDUsageWords, used_kind, &used) != 0) {
    pb[0] = DD_KIND_OUTSIDE;
    return;
  }
  DDParams p(base, stm);
  p.Int(1, user_id).Text(2, user).Int(3, used_id).Text(4, used);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDChkUsed(int32_t* base, int32_t* pb, int32_t id) {
  DDRunWithId(base, pb, SLOT_DDChkUsed, IMAGE_DDChkUsed, id);
}

void DDGetSequenceObj(int32_t* base, int32_t* pb, const char* schema, int32_t schema_length,
                      const char* name, int32_t name_length, int32_t* id) {
  const int32_t stm = DDVariantStatement(base, pb, SLOT_DDGetSequenceObj, IMAGE_DDGetSequenceObj);
  if (stm == 0) return;
  if (DDRunByPath(base, pb, stm, schema, schema_length, name, name_length) != 0) return;
  int32_t status = 0;
  DSGetColInt(base, &status, stm, 1, id);
  pb[0] = status;
}

void DDInsSequence(int32_t* base, int32_t* pb, int32_t id, const uint8_t* bytes,
                   int32_t increment, int32_t minimum, int32_t maximum) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsSequence, IMAGE_DDInsSequence);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, id);
  if (bytes != nullptr)
    p.Raw(2, bytes, 3);
  else
    p.Null(2);
  p.Int(3, increment).Null(4).Int(5, minimum).Int(6, maximum).Text(7, DD_NO).Int(8, 0);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDDelSequence(int32_t* base, int32_t* pb, int32_t id, const char* name, int32_t name_length,
                   int32_t* id_out) {
  const int32_t mode = pb[0];
  DDDropCursor(base, pb, SLOT_DDDelSequence, IMAGE_DDDelSequence, mode != 0, mode == 2, id, name,
               name_length, id_out);
}

void DDGetObjectId2(int32_t* base, int32_t* pb, const char* schema, int32_t schema_length,
                    const char* name, int32_t name_length, int32_t* id) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDGetObjectId2, IMAGE_DDGetObjectId2);
  if (stm == 0) return;
  DDLevelSchemaDefault(base, pb[1], &schema, &schema_length);
  DDParams p(base, stm);
  p.TextLength(1, schema, schema_length).TextLength(3, name, name_length);
  if ((pb[0] = p.status()) != 0) return;
  if (DDSelectRun(base, pb, stm, true) != 0) return;
  int32_t status = 0;
  DSGetColInt(base, &status, stm, 1, id);
  pb[0] = status;
}

void DDGetIdentSchema(int32_t* base, int32_t* pb, const char* name, int32_t name_length,
                      char* object_name, int32_t* id, int32_t* kind) {
  const int32_t stm = DDCursorByName(base, pb, SLOT_DDGetIdentSchema, IMAGE_DDGetIdentSchema, name, name_length);
  if (stm == 0) return;
  int32_t status = 0;
  DSGetColChar(base, &status, stm, 1, reinterpret_cast<uint8_t*>(object_name), 0);
  if (status == 0) DSGetColInt(base, &status, stm, 2, id);
  uint8_t word[21] = {};
  if (status == 0) DSGetColChar(base, &status, stm, 3, word, 0);
  *kind = DDNumberOf(kDDObjectWords, std::string_view(reinterpret_cast<char*>(word), 20));
  pb[0] = status;
}

void DDInsTypeUse(int32_t* base, int32_t* pb, int32_t kind, int32_t id, int32_t table_id,
                  const char* name, int32_t name_length) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsTypeUse, IMAGE_DDInsTypeUse);
  if (stm == 0) return;
  std::string_view word;
  if (!InList(kind, {2, 14, 18}) || DDWordOf(kDDObjectWords, kind, &word) != 0) {
    pb[0] = DD_KIND_OUTSIDE;
    return;
  }
  DDParams p(base, stm);
  p.Text(1, word).Int(2, id).Int(3, table_id).TextLength(4, name, name_length);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}
