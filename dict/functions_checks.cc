// Statement functions of check constraints and collations.
#include "dict/kind_words.h"
#include "dict/new_ids.h"
#include "dict/source_pieces.h"
#include "dict/statement_functions.h"
#include "dict/statement_params.h"
#include "dict/statement_run.h"

namespace {

constexpr int32_t kCheckChars = 400;
constexpr int32_t kDefinitionBytes = 256;

// A check constraint's row and text: statement `stm` of the function,
// parameters 1-4 the ids and flags, 5 and 6 the text and its length.
void InsertCheck(int32_t* base, int32_t* pb, int32_t stm, int32_t id, int32_t owner,
                 bool deferrable, bool deferred, const uint8_t* text3, int32_t length) {
  if (length < 0 || length > kCheckChars) {
    pb[0] = DD_BAD_PARAMETER;
    return;
  }
  DDParams p(base, stm);
  p.Int(1, id).Int(2, owner).Text(3, deferrable ? DD_YES : DD_NO).Text(4, deferred ? DD_YES : DD_NO);
  int32_t status = p.status();
  if (status == 0) DSSetParNVar(base, &status, stm, 5, text3, 0, length);
  if ((pb[0] = status) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

}  // namespace

void DDInsCheck(int32_t* base, int32_t* pb, int32_t id, int32_t table_id, bool deferrable,
                bool deferred, const uint8_t* text3, int32_t length) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsCheck, IMAGE_DDInsCheck);
  if (stm != 0) InsertCheck(base, pb, stm, id, table_id, deferrable, deferred, text3, length);
}

void DDInsDomainCheck(int32_t* base, int32_t* pb, int32_t id, int32_t domain_id,
                      bool deferrable, bool deferred, const uint8_t* text3, int32_t length) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsDomainCheck, IMAGE_DDInsDomainCheck);
  if (stm != 0) InsertCheck(base, pb, stm, id, domain_id, deferrable, deferred, text3, length);
}

void DDInsCollation(int32_t* base, int32_t* pb, int32_t id, const uint8_t* definition,
                    int32_t length) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsCollation, IMAGE_DDInsCollation);
  if (stm == 0) return;
  if (length < 0 || length > kDefinitionBytes) {
    pb[0] = DD_BAD_PARAMETER;
    return;
  }
  DDParams p(base, stm);
  p.Int(1, id).Raw(2, definition, length).Int(3, length);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDDelCollation(int32_t* base, int32_t* pb, int32_t id) {
  DDRunWithId(base, pb, SLOT_DDDelCollation, IMAGE_DDDelCollation, id);
}

void DDCurCheckCols(int32_t* base, int32_t* pb, int32_t domain_id, int32_t* constraint,
                    int32_t* total, uint8_t* text3, int32_t capacity, int32_t* length) {
  const int32_t mode = pb[0];
  *length = 0;
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDCurCheckCols, IMAGE_DDCurCheckCols);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, mode).Int(2, domain_id);
  if (*constraint > 0)
    p.Int(3, *constraint);
  else
    p.Null(3);
  if ((pb[0] = p.status()) != 0) return;
  if (DDSelectRun(base, pb, stm, true) != 0) return;
  int32_t status = 0;
  DSGetColInt(base, &status, stm, 1, constraint);
  if (status == 0) DSGetColInt(base, &status, stm, 2, total);
  if ((pb[0] = status) != 0 || mode == 0) return;
  // The pieces, run by run, never past the caller's buffer.
  for (bool more = true;;) {
    if ((pb[0] = DDAppendPiece(base, stm, 3, *total, text3, capacity, length, &more)) != 0 ||
        !more)
      return;
    if (DDSelectRun(base, pb, stm, false) != 0) {
      if (pb[0] > 0) pb[0] = 0;  // no further piece
      return;
    }
  }
}

void DDDelCheckRows(int32_t* base, int32_t* pb, int32_t id) {
  DDRunWithId(base, pb, SLOT_DDDelCheckRows, IMAGE_DDDelCheckRows, id);
}
