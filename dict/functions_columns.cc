// Statement functions of column rows and of the flags of a table's keys.
#include <string_view>

#include "dict/kind_words.h"
#include "dict/new_ids.h"
#include "dict/statement_functions.h"
#include "dict/statement_params.h"
#include "dict/statement_run.h"
#include "dict/type_encoding.h"
#include "dict/type_words.h"
#include "dict/work_block.h"
#include "kernel/control_blocks.h"

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

void DDUpdColumn(int32_t* base, int32_t* pb, int32_t table_id, int32_t domain_id,
                 const DDTypeInput& type) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDUpdColumn, IMAGE_DDUpdColumn);
  if (stm == 0) return;
  DDTypeParams t;
  if (DDEncodeType(type, &t) != 0) {
    pb[0] = DD_KIND_OUTSIDE;
    return;
  }
  DDParams p(base, stm);
  p.Int(1, table_id).Int(2, domain_id).Text(3, DDTypeWord(t.type_entry));
  if (t.qualifier_entry != 0)
    p.Text(4, DDQualifierWord(t.qualifier_entry));
  else
    p.Null(4);
  p.MaybeWide(5, t.p[5]).Maybe(6, t.p[7]).Maybe(7, t.p[8]).Maybe(8, t.p[9]).Maybe(9, t.p[10]);
  p.Maybe(10, t.p[2]).Maybe(11, t.p[17]).Maybe(12, t.p[11]).MaybeWide(13, t.p[6]);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDUpdObject(int32_t* base, int32_t* pb, const char* schema, int32_t schema_length,
                 const char* name, int32_t name_length, const char* column,
                 int32_t column_length, int32_t kind, const uint8_t* text, int32_t text_length) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDUpdObject, IMAGE_DDUpdObject);
  if (stm == 0) return;
  std::string_view word;
  if (kind < 1 || (kind > 15 && kind != 18) || DDWordOf(kDDObjectWords, kind, &word) != 0) {
    pb[0] = DD_KIND_OUTSIDE;
    return;
  }
  if (text_length < 0 || text_length > DD_REMARKS_BYTES) {
    pb[0] = DD_BAD_PARAMETER;
    return;
  }
  DDLevelSchemaDefault(base, pb[1], &schema, &schema_length);
  DDParams p(base, stm);
  p.TextLength(1, schema, schema_length).TextLength(3, name, name_length);
  if (kind == 8)
    p.TextLength(5, column, column_length);
  else
    p.Null(5).Null(6);
  p.Text(7, word).Raw(8, text, text_length);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDAdjCounts(int32_t* base, int32_t* pb, int32_t table_id, int32_t from, int32_t delta) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDAdjCounts, IMAGE_DDAdjCounts);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, table_id).Int(2, from).Int(3, delta);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}
