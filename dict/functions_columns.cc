// Statement functions of column rows and of the flags of a table's keys.
#include "dict/statement_functions.h"
#include "dict/statement_params.h"
#include "dict/statement_run.h"

void DDUpdConstraintFlag(int32_t* base, int32_t* pb, int32_t table_id, bool flag) {
  const int32_t stm =
      DDSlotStatement(base, pb, SLOT_DDUpdConstraintFlag, IMAGE_DDUpdConstraintFlag);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, table_id).Flag(2, flag);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDUpdViewColumn(int32_t* base, int32_t* pb, int32_t from_table, const char* from_name,
                     int32_t from_length, int32_t to_table, const char* to_name,
                     int32_t to_length) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDUpdViewColumn, IMAGE_DDUpdViewColumn);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, from_table).TextLength(2, from_name, from_length);
  p.Int(4, to_table).TextLength(5, to_name, to_length);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}
