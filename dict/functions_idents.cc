// Statement functions of idents, schemas and triggers.
#include <string_view>

#include "dict/column_reader.h"
#include "dict/kind_words.h"
#include "dict/new_ids.h"
#include "dict/statement_functions.h"
#include "dict/statement_params.h"
#include "dict/statement_run.h"

namespace {

constexpr int32_t kTriggerChars = 400;  // a condition or an action

}  // namespace

void DDInsIdent(int32_t* base, int32_t* pb, const char* name, int32_t name_length, int32_t id,
                int32_t kind, const uint8_t* bytes, int32_t bytes_length) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsIdent, IMAGE_DDInsIdent);
  if (stm == 0) return;
  std::string_view word;
  if (DDWordOf(kDDGranteeWords, kind, &word) != 0) {
    pb[0] = DD_KIND_OUTSIDE;
    return;
  }
  DDParams p(base, stm);
  p.TextLength(1, name, name_length).Int(3, id).Text(4, word).Int(6, 0);
  if (bytes != nullptr)
    p.Raw(5, bytes, bytes_length);
  else
    p.Null(5);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDInsSchema(int32_t* base, int32_t* pb, int32_t id) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsSchema, IMAGE_DDInsSchema);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, id).Int(2, 135).Null(3);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDChkTrigger(int32_t* base, int32_t* pb, int32_t id) {
  DDRunWithId(base, pb, SLOT_DDChkTrigger, IMAGE_DDChkTrigger, id);
}

void DDGetIdByName(int32_t* base, int32_t* pb, const char* name, int32_t name_length,
                   int32_t* id) {
  const int32_t stm = DDCursorByName(base, pb, SLOT_DDGetIdByName, IMAGE_DDGetIdByName, name, name_length);
  if (stm == 0) return;
  int32_t status = 0;
  DSGetColInt(base, &status, stm, 1, id);
  pb[0] = status;
}

void DDInsObject(int32_t* base, int32_t* pb, int32_t id, int32_t kind, const char* schema,
                 int32_t schema_length, const char* name, int32_t name_length) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsObject, IMAGE_DDInsObject);
  if (stm == 0) return;
  std::string_view word;
  if (DDWordOf(kDDObjectWords, kind, &word) != 0) {
    pb[0] = DD_KIND_OUTSIDE;
    return;
  }
  DDParams p(base, stm);
  p.Int(1, id).Text(2, word);
  if (schema_length < 1)
    p.Null(3).Null(4);
  else
    p.TextLength(3, schema, schema_length);
  p.TextLength(5, name, name_length);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDDelIdent(int32_t* base, int32_t* pb, const char* name, int32_t name_length, int32_t* id,
                int32_t* kind, char* name_out) {
  const int32_t mode = pb[0];
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDDelIdent, IMAGE_DDDelIdent);
  if (stm == 0) return;
  if (mode != 0) {
    DDParams p(base, stm);
    if (mode == 1)
      p.TextLength(1, name, name_length).Null(3).Null(4);
    else
      p.Null(1).Null(2).TextLength(3, name, name_length);
    if ((pb[0] = p.status()) != 0) return;
  }
  if (DDSelectRun(base, pb, stm, mode != 0) != 0) return;
  int32_t status = 0;
  DSGetColInt(base, &status, stm, 1, id);
  uint8_t word[21] = {};
  if (status == 0) DSGetColChar(base, &status, stm, 2, word, 0);
  *kind = status == 0 ? DDNumberOf(kDDGranteeWords,
                                   std::string_view(reinterpret_cast<char*>(word), 20))
                      : 0;
  if (status == 0 && mode != 1 && name_out != nullptr)
    DSGetColChar(base, &status, stm, 3, reinterpret_cast<uint8_t*>(name_out), 0);
  pb[0] = status;
}

void DDCurGrantee(int32_t* base, int32_t* pb, int32_t id, const char* name, int32_t name_length,
                  int32_t* id_out, char* name_out, int32_t* kind) {
  const int32_t mode = pb[0];
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDCurGrantee, IMAGE_DDCurGrantee);
  if (stm == 0) return;
  DDParams p(base, stm);
  if (mode == 1)
    p.Null(1).TextLength(2, name, name_length);
  else
    p.Int(1, id).Null(2).Null(3);
  if ((pb[0] = p.status()) != 0) return;
  if (DDSelectRun(base, pb, stm, true) != 0) return;
  int32_t status = 0;
  if (mode == 1)
    DSGetColInt(base, &status, stm, 1, id_out);
  else if (name_out != nullptr)
    DSGetColChar(base, &status, stm, 2, reinterpret_cast<uint8_t*>(name_out), 0);
  uint8_t word[21] = {};
  if (status == 0) DSGetColChar(base, &status, stm, 4, word, 0);
  const int32_t k = DDNumberOf(kDDGranteeWords, std::string_view(reinterpret_cast<char*>(word), 20));
  *kind = k == 0 ? 5 : k;
  pb[0] = status;
}

void DDUpdObjIdent(int32_t* base, int32_t* pb, const char* name, int32_t name_length,
                   int32_t kind, const uint8_t* password) {
  const int32_t mode = pb[0];
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDUpdObjIdent, IMAGE_DDUpdObjIdent);
  if (stm == 0) return;
  if ((mode != 1 && mode != 2) || (mode == 1 && password == nullptr)) {
    pb[0] = DD_BAD_PARAMETER;
    return;
  }
  std::string_view word;
  if (mode == 2 && ((kind != 3 && kind != 4) || DDWordOf(kDDGranteeWords, kind, &word) != 0)) {
    pb[0] = DD_KIND_OUTSIDE;
    return;
  }
  DDParams p(base, stm);
  p.Int(1, mode).TextLength(2, name, name_length);
  if (mode == 2)
    p.TextLength(4, word.data(), static_cast<int32_t>(word.size())).Null(6);
  else
    p.Null(4).Null(5).Raw(6, password, DD_PASSWORD_BYTES);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDGetNameById(int32_t* base, int32_t* pb, int32_t id, const char* schema,
                   int32_t schema_length, char* name) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDGetNameById, IMAGE_DDGetNameById);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, id).TextLength(2, schema, schema_length);
  if ((pb[0] = p.status()) != 0) return;
  if (DDSelectRun(base, pb, stm, true) != 0) return;
  DSGetColChar(base, &pb[0], stm, 1, reinterpret_cast<uint8_t*>(name), 0);
}

void DDGetIdentByName(int32_t* base, int32_t* pb, const char* name, int32_t name_length,
                      int32_t* id, int32_t* flag, char* name_out) {
  const int32_t stm = DDCursorByName(base, pb, SLOT_DDGetIdentByName, IMAGE_DDGetIdentByName, name, name_length);
  if (stm == 0) return;
  DDColumnReader c(base, stm);
  *id = c.Int(1, 0);
  *flag = c.Text(2).substr(0, 1) == "N" ? 0 : 1;
  if (name_out != nullptr) DDCopyName(c.Text(3), name_out, nullptr);
  pb[0] = c.status();
}

void DDDelSchema(int32_t* base, int32_t* pb, const char* name, int32_t name_length,
                 char* name_out) {
  const int32_t mode = pb[0];
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDDelSchema, IMAGE_DDDelSchema);
  if (stm == 0) return;
  if (mode != 0) {
    DDParams p(base, stm);
    if (mode == 1)
      p.TextLength(1, name, name_length);
    else
      p.Null(1).Null(2);
    p.TextLength(3, name, name_length);
    if ((pb[0] = p.status()) != 0) return;
  }
  if (DDSelectRun(base, pb, stm, mode != 0) != 0 || mode == 1) return;
  if (name_out != nullptr)
    DSGetColChar(base, &pb[0], stm, 1, reinterpret_cast<uint8_t*>(name_out), 0);
}

void DDInsTrigger(int32_t* base, int32_t* pb, const DDTriggerDef& t) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsTrigger, IMAGE_DDInsTrigger);
  if (stm == 0) return;
  if (t.event < 1 || t.event > 3 || t.timing < 1 || t.timing > 3) {
    pb[0] = DD_KIND_OUTSIDE;
    return;
  }
  if (t.condition_length < 0 || t.condition_length > kTriggerChars || t.action_length < 0 ||
      t.action_length > kTriggerChars) {
    pb[0] = DD_BAD_PARAMETER;
    return;
  }
  DDParams p(base, stm);
  p.Int(1, t.id).Int(2, t.table_id).Text(3, DD_TRIGGER_EVENTS[t.event - 1]).Int(4, 0);
  if (t.condition_length == 0)
    p.Null(5).Null(6);
  else
    p.Chars(5, t.condition3, t.condition_length);
  p.Chars(7, t.action3, t.action_length);
  p.Text(9, t.row ? DD_ORIENTATION_ROW : DD_ORIENTATION_STATEMENT);
  p.Text(10, DD_TRIGGER_TIMINGS[t.timing - 1]);
  p.TextLength(11, t.old_name, t.old_length).TextLength(13, t.new_name, t.new_length);
  p.Null(15).Null(16);
  if (t.columns_mode == 2)
    p.Text(17, std::string_view(t.columns, 3));
  else
    p.Null(17);
  p.Int(18, t.value);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDGetTriggerNames(int32_t* base, int32_t* pb, int32_t id, char* table_name,
                       int32_t* table_id, char* schema) {
  const int32_t stm = DDVariantStatement(base, pb, SLOT_DDGetTriggerNames, IMAGE_DDGetTriggerNames);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, id);
  if ((pb[0] = p.status()) != 0) return;
  if (DDSelectRun(base, pb, stm, true) != 0) return;
  DDColumnReader c(base, stm);
  if (table_name != nullptr) DDCopyName(c.Text(1), table_name, nullptr);
  *table_id = c.Int(2, 0);
  if (schema != nullptr) DDCopyName(c.Text(3), schema, nullptr);
  pb[0] = c.status();
}

namespace {

// The number (from 1) of the read-back word a stored trigger word begins
// with, among `count` from `first`; 0 when none does.
int32_t TriggerWord(std::string_view stored, int32_t first, int32_t count) {
  for (int32_t k = 0; k < count; ++k) {
    const std::string_view w = DD_TRIGGER_READ_BACK[first + k];
    if (stored.substr(0, w.size()) == w) return k + 1;
  }
  return 0;
}

}  // namespace

void DDDelTriggers(int32_t* base, int32_t* pb, int32_t table_id, int32_t trigger_id,
                   const char* name, int32_t name_length, int32_t* id, int32_t* table,
                   int32_t* event, int32_t* timing) {
  const int32_t mode = pb[0];
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDDelTriggers, IMAGE_DDDelTriggers);
  if (stm == 0) return;
  if (mode != 0) {
    DDParams p(base, stm);
    if (mode == 2)
      p.Int(1, table_id).Null(2).Null(3).Null(4);
    else if (mode == 3)
      p.Null(1).Null(2).TextLength(3, name, name_length);
    else if (mode == 4)
      p.Null(1).Int(2, trigger_id).Null(3).Null(4);
    else
      pb[0] = DD_BAD_PARAMETER;
    if (pb[0] != 0 || (pb[0] = p.status()) != 0) return;
  }
  if (DDSelectRun(base, pb, stm, mode != 0) != 0) return;
  DDColumnReader c(base, stm);
  *id = c.Int(1, 0);
  *table = c.Int(2, 0);
  *event = TriggerWord(c.Text(3), 0, 3);
  *timing = TriggerWord(c.Text(4), 3, 3);
  pb[0] = c.status();
}
