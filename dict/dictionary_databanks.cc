// Removing a databank's rows.
#include "dict/column_reader.h"
#include "dict/dictionary_services.h"
#include "dict/statement_params.h"
#include "dict/statement_prepare.h"
#include "dict/statement_run.h"

void DDDelDatabank(int32_t* base, int32_t* pb, int32_t id, int32_t sequence, const char* name,
                   int32_t name_length) {
  if (id <= 0 && (name_length < 1 || name_length > DD_NAME_LENGTH)) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDDelDatabank, IMAGE_DDDelDatabank);
  if (stm == 0) return;
  DDParams p(base, stm);
  if (id > 0)
    p.Int(1, id).Null(3).Null(4);
  else
    p.Null(1).TextLength(3, name, name_length);
  if (sequence > 0)
    p.Int(2, sequence);
  else
    p.Null(2);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}
