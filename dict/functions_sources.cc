// Statement functions of source texts.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "dict/column_reader.h"
#include "dict/kind_words.h"
#include "dict/new_ids.h"
#include "dict/source_pieces.h"
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

void DDGetSourceInfo(int32_t* base, int32_t* pb, int32_t id, const char* name,
                     int32_t name_length, int32_t kind, uint8_t* text3, int32_t capacity,
                     int32_t* total, int32_t* length) {
  *length = 0;
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDGetSourceInfo, IMAGE_DDGetSourceInfo);
  if (stm == 0) return;
  std::string_view word;
  if (DDWordOf(kDDSourceWords, kind, &word) != 0) {
    pb[0] = DD_KIND_OUTSIDE;
    return;
  }
  if (name_length < 1) name = " ", name_length = 1;
  *total = 0;
  for (int32_t piece = 1; *length < *total || piece == 1; ++piece) {
    DDParams p(base, stm);
    p.Int(1, id).TextLength(2, name, name_length).Int(4, piece).Text(5, word);
    if ((pb[0] = p.status()) != 0) return;
    if (DDSelectRun(base, pb, stm, true) != 0) {
      if (piece > 1 && pb[0] > 0) pb[0] = 0;  // no further piece
      return;
    }
    if (piece == 1) {
      DSGetColInt(base, &pb[0], stm, 1, total);
      if (pb[0] != 0) return;
    }
    bool more = false;
    if ((pb[0] = DDAppendPiece(base, stm, 2, *total, text3, capacity, length, &more)) != 0 ||
        !more)
      return;
  }
}

int32_t DDAppendPiece(int32_t* base, int32_t stm, int32_t column, int32_t total, uint8_t* text3,
                      int32_t capacity, int32_t* length, bool* more) {
  *more = false;
  uint8_t* field = nullptr;
  int32_t bytes = 0;
  if (const int32_t rc = StatementField(base, stm, true, column, &field, &bytes)) return rc;
  // The piece's characters, never past the caller's buffer.
  int32_t n = total - *length;
  if (n > DD_SOURCE_PIECE) n = DD_SOURCE_PIECE;
  if (n > (bytes - 1) / 3) n = (bytes - 1) / 3;
  if (n > capacity - *length) n = capacity - *length;
  if (n <= 0) return 0;
  std::memcpy(text3 + 3 * int64_t{*length}, field + 1, 3 * static_cast<size_t>(n));
  *length += n;
  *more = *length < total && *length < capacity;
  return 0;
}

void DDInsGenRoutine(int32_t* base, int32_t* pb, int32_t mode, int32_t kind, int32_t id,
                     int32_t piece, int32_t total, const uint8_t* text3, int32_t length) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsGenRoutine, IMAGE_DDInsGenRoutine);
  if (stm == 0) return;
  std::string_view word;
  if (kind != 1 || DDWordOf(kDDSourceWords, kind, &word) != 0) {
    pb[0] = DD_KIND_OUTSIDE;
    return;
  }
  if (length < 0 || length > DD_SOURCE_PIECE) {
    pb[0] = DD_BAD_PARAMETER;
    return;
  }
  DDParams p(base, stm);
  p.Int(1, mode).Int(2, id).TextLength(3, " ", 1).Int(5, mode == 2 ? 1 : piece).Text(6, word);
  if (mode == 1)
    p.Null(7);
  else
    p.Int(7, total);
  p.Chars(8, text3, length);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDGetSourceText(int32_t* base, int32_t* pb, int32_t id, int32_t piece, uint8_t* text3,
                     int32_t* total) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDGetSourceText, IMAGE_DDGetSourceText);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, id).Int(2, piece);
  if ((pb[0] = p.status()) != 0) return;
  if (DDSelectRun(base, pb, stm, true) != 0) return;
  DDColumnReader c(base, stm);
  const std::string_view bytes = c.Text(1);
  std::memcpy(text3, bytes.data(), std::min<size_t>(bytes.size(), 3 * DD_SOURCE_PIECE));
  *total = c.Int(2, -1);
  pb[0] = c.status();
}

void DDUpdSourceText(int32_t* base, int32_t* pb, int32_t id, int32_t piece,
                     const uint8_t* text3, int32_t length) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDUpdSourceText, IMAGE_DDUpdSourceText);
  if (stm == 0) return;
  if (length < 0 || length > DD_SOURCE_PIECE) {
    pb[0] = DD_BAD_PARAMETER;
    return;
  }
  DDParams p(base, stm);
  p.Int(1, id).Int(2, piece).Chars(3, text3, length);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}
