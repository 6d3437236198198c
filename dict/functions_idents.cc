// Statement functions of idents, schemas and triggers.
#include <string_view>

#include "dict/kind_words.h"
#include "dict/statement_functions.h"
#include "dict/statement_params.h"
#include "dict/statement_run.h"


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
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDChkTrigger, IMAGE_DDChkTrigger);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, id);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDGetIdByName(int32_t* base, int32_t* pb, const char* name, int32_t name_length,
                   int32_t* id) {
  const bool open = pb[0] != 0;
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDGetIdByName, IMAGE_DDGetIdByName);
  if (stm == 0) return;
  if (open) {
    DDParams p(base, stm);
    p.TextLength(1, name, name_length);
    if ((pb[0] = p.status()) != 0) return;
  }
  if (DDSelectRun(base, pb, stm, open) != 0) return;
  int32_t status = 0;
  DSGetColInt(base, &status, stm, 1, id);
  pb[0] = status;
}
