// Statement functions of source texts.
#include <string_view>

#include "dict/kind_words.h"
#include "dict/new_ids.h"
#include "dict/statement_functions.h"
#include "dict/statement_params.h"
#include "dict/statement_run.h"

void DDInsSource(int32_t* base, int32_t* pb, int32_t id, const char* name, int32_t name_length,
                 int32_t kind, const uint8_t* text3, int32_t length) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsSource, IMAGE_DDInsSource);
  if (stm == 0) return;
  std::string_view word;
  if (DDWordOf(kDDSourceWords, kind, &word) != 0) {
    pb[0] = DD_KIND_OUTSIDE;
    return;
  }
  if (length < 0) {
    pb[0] = DD_BAD_PARAMETER;
    return;
  }
  if (name_length < 1) name = " ", name_length = 1;
  for (int32_t piece = 1, at = 0; at < length || piece == 1; ++piece, at += DD_SOURCE_PIECE) {
    DDParams p(base, stm);
    p.Int(1, id).TextLength(2, name, name_length).Int(4, piece).Text(5, word);
    if (piece == 1)
      p.Int(6, length);
    else
      p.Null(6);
    const int32_t n = length - at < DD_SOURCE_PIECE ? length - at : DD_SOURCE_PIECE;
    if (p.status() == 0) DSSetParNVar(base, &pb[0], stm, 7, text3, at, n);
    if (p.status() != 0) pb[0] = p.status();
    if (pb[0] != 0 || DDSelectRun(base, pb, stm, true) != 0) return;
  }
}
