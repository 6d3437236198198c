// The statement function that makes a column a column of its table's
// primary key.
#include <string_view>

#include "dict/column_reader.h"
#include "dict/kind_words.h"
#include "dict/new_ids.h"
#include "dict/statement_functions.h"
#include "dict/statement_params.h"
#include "dict/statement_run.h"

void DDUpdKeyCols(int32_t* base, int32_t* pb, int32_t table_id, const char* column,
                  int32_t column_length, int32_t* key_offset, int32_t* removed,
                  int32_t* length) {
  // A key part starts at the record's first byte: no column lies before it.
  if (*key_offset < 0) {
    pb[0] = DD_BAD_PARAMETER;
    return;
  }
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDUpdKeyCols, IMAGE_DDUpdKeyCols);
  if (stm == 0) return;
  // The internal key column is not a column a key can be made of.
  if (column_length >= 0 && DDIs(std::string_view(column, static_cast<std::size_t>(column_length)),
                                 "ZAVOR_ROWID")) {
    pb[0] = 1;
    return;
  }
  DDParams p(base, stm);
  p.Int(1, table_id).TextLength(2, column, column_length).Int(4, *key_offset);
  if ((pb[0] = p.status()) != 0) return;
  if (DDSelectRun(base, pb, stm, true) != 0) return;
  DDColumnReader c(base, stm);
  const int32_t r = c.Int(1, 0), n = c.Int(2, 0), next = c.Int(3, 0);
  if ((pb[0] = c.status()) != 0) return;
  *removed = r;
  *length = n;
  *key_offset = next;
}
