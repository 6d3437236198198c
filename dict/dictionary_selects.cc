// The dictionary's object selection by schema, name and kind.
#include <string_view>

#include "dict/column_reader.h"
#include "dict/dictionary_services.h"
#include "dict/kind_words.h"
#include "dict/statement_params.h"
#include "dict/statement_prepare.h"
#include "dict/statement_run.h"

void DDSelObject(int32_t* base, int32_t* pb, const char* schema, int32_t schema_length,
                 const char* name, int32_t name_length, int32_t kind, int32_t* id) {
  // A column is no object of its own to select; a generated object is
  // reached through the object it belongs to.
  std::string_view word;
  if (kind == 8 || kind == 20 || DDWordOf(kDDObjectWords, kind, &word) != 0) {
    pb[0] = DD_KIND_OUTSIDE;
    return;
  }
  if (schema_length < 0 || schema_length > DD_NAME_LENGTH || name_length < 1 ||
      name_length > DD_NAME_LENGTH) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDSelObject, IMAGE_DDSelObject);
  if (stm == 0) return;
  DDParams p(base, stm);
  if (schema_length == 0)
    p.Null(1).Null(2);
  else
    p.TextLength(1, schema, schema_length);
  p.TextLength(3, name, name_length).Text(5, word).Int(6, kind);
  if ((pb[0] = p.status()) != 0) return;
  if (DDSelectRun(base, pb, stm, true) != 0) return;
  DDColumnReader c(base, stm);
  const int32_t found = c.Int(1, 0);
  if ((pb[0] = c.status()) == 0) *id = found;
}

void DDGetKeyId(int32_t* base, int32_t* pb, int32_t table_id, const char* schema,
                int32_t schema_length, const char* column, int32_t column_length,
                int32_t* key_id) {
  if (schema_length < 1 || schema_length > DD_NAME_LENGTH || column_length < 0 ||
      column_length > DD_NAME_LENGTH) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDGetKeyId, IMAGE_DDGetKeyId);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, table_id).TextLength(2, schema, schema_length);
  if (column_length == 0)
    p.Null(4).Null(5);
  else
    p.TextLength(4, column, column_length);
  if ((pb[0] = p.status()) != 0) return;
  if (DDSelectRun(base, pb, stm, true) != 0) return;
  DDColumnReader c(base, stm);
  const int32_t found = c.Int(1, 0);
  if ((pb[0] = c.status()) == 0) *key_id = found;
}

void DDChkColumnUse(int32_t* base, int32_t* pb, int32_t table_id, const char* column,
                    int32_t column_length, int32_t number) {
  if (number <= 0 && (column_length < 1 || column_length > DD_NAME_LENGTH)) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDChkColumnUse, IMAGE_DDChkColumnUse);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, table_id);
  if (number > 0)
    p.Null(2).Null(3).Int(4, number);
  else
    p.TextLength(2, column, column_length).Null(4);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDChkView(int32_t* base, int32_t* pb, const char* schema, int32_t schema_length,
               const char* name, int32_t name_length, DDViewCheck* out) {
  if (schema_length < 1 || schema_length > DD_NAME_LENGTH || name_length < 1 ||
      name_length > DD_NAME_LENGTH) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDChkView, IMAGE_DDChkView);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Text(1, std::string_view(schema, static_cast<size_t>(schema_length)));
  p.TextLength(2, name, name_length);
  if ((pb[0] = p.status()) != 0) return;
  if (DDSelectRun(base, pb, stm, true) != 0) return;
  DDColumnReader c(base, stm);
  DDViewCheck r{};
  r.id = c.Int(1, 0);
  r.kind = DDIs(c.Text(2), "VIEW") ? 3 : 1;
  DDCopyName(c.Text(3), r.schema, &r.schema_length);
  DDCopyName(c.Text(4), r.name, &r.name_length);
  r.synonym_id = c.Int(6, 0);
  DDCopyName(c.Text(7), r.synonym, &r.synonym_length);
  if (r.synonym_id != 0) ++r.kind;
  if ((pb[0] = c.status()) == 0) *out = r;
}

void DDGetObjectIds(int32_t* base, int32_t* pb, int32_t kind, const char* schema,
                    int32_t schema_length, const char* name, int32_t name_length,
                    int32_t* values) {
  std::string_view word;
  if ((kind != 4 && kind != 6 && kind != 7 && kind != 16) ||
      DDWordOf(kDDObjectWords, kind, &word) != 0) {
    pb[0] = DD_KIND_OUTSIDE;
    return;
  }
  if (schema_length < 1 || schema_length > DD_NAME_LENGTH || name_length < 1 ||
      name_length > DD_NAME_LENGTH) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDGetObjectIds, IMAGE_DDGetObjectIds);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Text(1, word).Text(2, std::string_view(schema, static_cast<size_t>(schema_length)));
  p.Text(3, std::string_view(name, static_cast<size_t>(name_length)));
  if ((pb[0] = p.status()) != 0) return;
  if (DDSelectRun(base, pb, stm, true) != 0) return;
  DDColumnReader c(base, stm);
  int32_t r[7];
  for (int32_t k = 0; k < 7; ++k) r[k] = c.Int(k + 1, -1);
  if ((pb[0] = c.status()) != 0) return;
  for (int32_t k = 0; k < 7; ++k) values[k] = r[k];
}

void DDDelSynonyms(int32_t* base, int32_t* pb, int32_t id, const char* schema,
                   int32_t schema_length, const char* name, int32_t name_length) {
  if (id <= 0 && (schema_length < 1 || schema_length > DD_NAME_LENGTH || name_length < 1 ||
                  name_length > DD_NAME_LENGTH)) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDDelSynonyms, IMAGE_DDDelSynonyms);
  if (stm == 0) return;
  DDParams p(base, stm);
  if (id > 0)
    p.Int(1, id).Null(2).Null(3).Null(4);
  else
    p.Null(1)
        .Text(2, std::string_view(schema, static_cast<size_t>(schema_length)))
        .TextLength(3, name, name_length);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}
