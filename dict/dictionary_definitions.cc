// The stored forms of a definition: its text and its compiled tree, in
// pieces of tables 42 and 43.
#include <algorithm>

#include "dict/compiler_lookups.h"
#include "dict/dictionary_services.h"
#include "dict/statement_params.h"
#include "dict/statement_prepare.h"
#include "dict/statement_run.h"
#include "dict/work_block.h"
#include "kernel/control_blocks.h"

void DDInsCheckParts(int32_t* base, int32_t* pb, int32_t id, int32_t second_id, int32_t number,
                     int32_t piece, int32_t total, const uint8_t* bytes, int32_t length) {
  if (number < 0 || piece < 1 || length < 0 || length > DD_SOURCE_PIECE_BYTES ||
      (piece == 1 && total < 0) || (bytes == nullptr && length > 0)) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsCheckParts, IMAGE_DDInsCheckParts);
  if (stm == 0) return;
  static constexpr uint8_t kNone[1] = {0};
  DDParams p(base, stm);
  p.Int(1, id).Int(2, second_id).Int(3, number).Int(4, piece);
  if (piece == 1)
    p.Int(5, total);
  else
    p.Null(5);
  p.Raw(6, length > 0 ? bytes : kNone, length).Int(7, length);
  if ((pb[0] = p.status()) == 0) DDSelectRun(base, pb, stm, true);
  // The statement is closed after every call, whatever its status.
  int32_t ignored = 0;
  if (int32_t* slot = DDWorkSlot(base, pb[1], SLOT_DDInsCheckParts, &ignored)) DDClose(base, slot);
}

void DDStoreDefinition(int32_t* base, int32_t* pb, int32_t id, int32_t second_id, int32_t number,
                       const uint8_t* bytes, int32_t length) {
  if (length < 0) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  for (int32_t piece = 1, at = 0; at < length || piece == 1; ++piece, at += DD_SOURCE_PIECE_BYTES) {
    const int32_t n = std::min(DD_SOURCE_PIECE_BYTES, length - at);
    DDInsCheckParts(base, pb, id, second_id, number, piece, piece == 1 ? length : -1,
                    bytes == nullptr ? nullptr : bytes + at, n);
    if (pb[0] != 0) return;
  }
}
