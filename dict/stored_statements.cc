// Stored statements: pieces written one select-and-run each, read back by
// the per-thread lookups.
#include "dict/stored_statements.h"

#include <algorithm>
#include <cstring>

#include "dict/column_reader.h"
#include "dict/compiler_lookups.h"
#include "dict/statement_params.h"
#include "dict/statement_run.h"
#include "dict/work_block.h"
#include "kernel/control_blocks.h"
#include "kernel/statement_columns.h"
#include "kernel/system_block.h"

namespace {

// The bytes of kernel storage block `block` from its word 1, when `length`
// of them lie in the storage (none needed for an empty value).
const uint8_t* BlockBytes(int32_t* base, int32_t block, int32_t length) {
  static constexpr uint8_t kEmpty[1] = {0};
  if (length == 0) return kEmpty;
  if (block <= 0 || !InStorage(base, int64_t{block} + 1, (int64_t{length} + 3) / 4)) return nullptr;
  return reinterpret_cast<const uint8_t*>(&Wd(base, block, 1));
}

// The piece of a string of `length` bytes at `offset`: its bytes as
// parameter n and their count as n + 1.
void SetPiece(DDParams& p, int32_t n, const uint8_t* bytes, int32_t length, int32_t offset) {
  const int32_t count = std::clamp(length - offset, 0, DD_STATEMENT_PIECE);
  p.Raw(n, count > 0 ? bytes + offset : bytes, count).Int(n + 1, count);
}

bool NameFits(int32_t length) {
  return length >= 0 && length <= DD_NAME_BYTES;
}

void OptionalInt(DDParams& p, int32_t n, std::optional<int32_t> v) {
  if (v)
    p.Int(n, *v);
  else
    p.Null(n);
}

}  // namespace

void DDInsStatement(int32_t* base, int32_t* pb, int32_t id, int32_t number, const uint8_t* first,
                    int32_t first_length, int32_t second_block, int32_t second_length,
                    const uint8_t* decimal3, int32_t decimal_length) {
  const uint8_t* second =
      second_length >= 0 ? BlockBytes(base, second_block, second_length) : nullptr;
  if (first_length < 0 || (first == nullptr && first_length > 0) || second == nullptr ||
      decimal_length < 0) {
    pb[0] = DD_NAME_TOO_LONG;
    return;
  }
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsStatement, IMAGE_DDInsStatement);
  if (stm == 0) return;
  const int32_t ucom = Wd(base, pb[1], USR_DDUCOM);
  DDParams fixed(base, stm);
  fixed.Int(1, id).Int(2, Wd(base, ucom, DDUCOM_IDENT)).Int(5, number);
  if (decimal_length < 1 || decimal_length > DD_STATEMENT_DECIMAL) fixed.Null(3).Null(4);
  if ((pb[0] = fixed.status()) != 0) return;
  if (decimal_length >= 1 && decimal_length <= DD_STATEMENT_DECIMAL) {
    DSSetParNVar(base, &pb[0], stm, 3, decimal3, 0, decimal_length);
    if (pb[0] != 0) return;
  }
  static constexpr uint8_t kNone[1] = {0};
  int32_t remaining1 = first_length, remaining2 = second_length;
  for (int32_t piece = 1, offset = 0;; ++piece, offset += DD_STATEMENT_PIECE) {
    DDParams p(base, stm);
    p.Int(6, remaining1).Int(7, remaining2).Int(8, piece);
    SetPiece(p, 9, first != nullptr ? first : kNone, first_length, offset);
    SetPiece(p, 11, second, second_length, offset);
    if ((pb[0] = p.status()) != 0) return;
    if (DDSelectRun(base, pb, stm, true) != 0) return;
    remaining1 -= DD_STATEMENT_PIECE;
    remaining2 -= DD_STATEMENT_PIECE;
    if (remaining1 < 1 && remaining2 < 1) break;
  }
  pb[0] = 0;
}

void DDInsStatementItem(int32_t* base, int32_t* pb, int32_t id, int32_t number, int32_t item,
                        int32_t number2, int32_t number3, int32_t block, int32_t length) {
  const uint8_t* value = length >= 0 ? BlockBytes(base, block, length) : nullptr;
  if (value == nullptr || item < 0) {
    pb[0] = DD_NAME_TOO_LONG;
    return;
  }
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsStatementItem, IMAGE_DDInsStatementItem);
  if (stm == 0) return;
  int32_t remaining = length;
  for (int32_t piece = 1, offset = 0;; ++piece, offset += DD_STATEMENT_PIECE) {
    const int32_t count = std::clamp(length - offset, 0, DD_STATEMENT_PIECE);
    DDParams p(base, stm);
    p.Int(1, id).Int(2, item).Int(3, number2).Int(4, number3).Int(5, number).Int(6, 1);
    p.Int(7, piece).Int(8, remaining).Raw(9, value + (count > 0 ? offset : 0), count);
    if ((pb[0] = p.status()) != 0) return;
    const int32_t rc = DDSelectRun(base, pb, stm, true);
    if (rc == 2) break;  // the item is there
    if (rc != 0) return;
    remaining -= DD_STATEMENT_PIECE;
    if (remaining < 1) break;
  }
  pb[0] = 0;
}

void DDDelStatement(int32_t* base, int32_t* pb, int32_t id, const char* name, int32_t name_length,
                    std::optional<int32_t> owner) {
  if (!NameFits(name_length)) {
    pb[0] = DD_NAME_TOO_LONG;
    return;
  }
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDDelStatement, IMAGE_DDDelStatement);
  if (stm == 0) return;
  DDParams p(base, stm);
  if (name_length >= 1)
    p.Null(1).TextLength(2, name, name_length);
  else
    p.Int(1, id).Null(2).Null(3);
  OptionalInt(p, 4, owner);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

namespace {

// The GQST statement with the by-name parameters NULL: its STM, or 0.
int32_t PrepareGQST(int32_t* base, int32_t* pb, int32_t* requester) {
  *requester = pb[1];
  return DDCmpPrepare(base, pb, THR_STM_DDL_GQST, IMAGE_DDCmpGQST);
}

// `column`'s bytes (at most a piece) into `to`: their count.
int32_t CopyPiece(DDColumnReader& c, int32_t column, int32_t remaining, uint8_t* to) {
  const std::string_view v = c.Text(column);
  const int32_t count = std::clamp(
      remaining, 0, std::min<int32_t>(DD_STATEMENT_PIECE, static_cast<int32_t>(v.size())));
  std::memcpy(to, v.data(), static_cast<size_t>(count));
  return count;
}

}  // namespace

void DDCmpGQST(int32_t* base, int32_t* pb, const char* schema, int32_t schema_length,
               const char* name, int32_t name_length, std::optional<int32_t> owner,
               DDStoredStatement* out) {
  if (!NameFits(schema_length) || name_length < 1 || name_length > DD_NAME_BYTES) {
    pb[0] = DD_NAME_TOO_LONG;
    return;
  }
  int32_t requester = 0;
  const int32_t stm = PrepareGQST(base, pb, &requester);
  if (stm == 0) return;
  char level[DD_NAME_BYTES];
  std::memset(level, ' ', sizeof level);
  const int32_t lvl = Wd(base, requester, USR_LVL);
  if (InStorage(base, lvl, LVL_WORDS)) std::memcpy(level, &Wd(base, lvl, LVL_NAME), DD_NAME_BYTES);
  DDParams p(base, stm);
  p.TextLength(1, level, DDNameLength(level));
  if (schema_length >= 1)
    p.TextLength(3, schema, schema_length);
  else
    p.Null(3).Null(4);
  p.TextLength(5, name, name_length);
  OptionalInt(p, 7, owner);
  p.Null(8).Null(9).Null(10);
  if ((pb[0] = p.status()) != 0 || DDSelectRun(base, pb, stm, true) != 0) return;
  DDColumnReader c(base, stm);
  DDStoredStatement s{};
  s.id = c.Int(1, 0);
  s.ident = c.Int(2, 0);
  s.number = c.Int(3, 0);
  s.first_length = c.Int(4, -1);
  if ((pb[0] = c.status()) == 0) *out = s;
}

void DDCmpGQSTPiece(int32_t* base, int32_t* pb, int32_t id, int32_t piece,
                    std::optional<int32_t> owner, DDStatementPiece* out) {
  int32_t requester = 0;
  const int32_t stm = PrepareGQST(base, pb, &requester);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Null(1).Null(2).Null(3).Null(4).Null(5).Null(6).Null(7).Int(8, id).Int(9, piece);
  OptionalInt(p, 10, owner);
  if ((pb[0] = p.status()) != 0 || DDSelectRun(base, pb, stm, true) != 0) return;
  DDColumnReader c(base, stm);
  out->id = c.Int(1, 0);
  out->ident = c.Int(2, 0);
  for (int32_t k = 0; k < 2; ++k) {
    out->remaining[k] = c.Int(3 + k, -1);
    out->length[k] = CopyPiece(c, 5 + k, out->remaining[k], out->bytes[k]);
  }
  pb[0] = c.status();
}

void DDCmpGQSD(int32_t* base, int32_t* pb, int32_t id, int32_t item, std::optional<int32_t> number2,
               std::optional<int32_t> number3, DDStatementItem* out) {
  const int32_t stm = DDCmpPrepare(base, pb, THR_STM_DDL_GQSD, IMAGE_DDCmpGQSD);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, id).Int(2, item);
  OptionalInt(p, 3, number2);
  OptionalInt(p, 4, number3);
  p.Null(5);
  if ((pb[0] = p.status()) != 0 || DDSelectRun(base, pb, stm, true) != 0) return;
  DDColumnReader c(base, stm);
  DDStatementItem i{c.Int(1, 0), c.Int(2, 0), c.Int(3, 0)};
  if ((pb[0] = c.status()) == 0) *out = i;
}

void DDCmpGQSDPiece(int32_t* base, int32_t* pb, int32_t id, int32_t item, int32_t piece,
                    DDItemPiece* out) {
  const int32_t stm = DDCmpPrepare(base, pb, THR_STM_DDL_GQSD, IMAGE_DDCmpGQSD);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, id).Int(2, item).Null(3).Null(4).Int(5, piece);
  if ((pb[0] = p.status()) != 0 || DDSelectRun(base, pb, stm, true) != 0) return;
  DDColumnReader c(base, stm);
  out->remaining = c.Int(1, 0);
  out->number = c.Int(2, 0);
  out->piece = c.Int(3, 0);
  out->length = CopyPiece(c, 4, out->remaining, out->bytes);
  pb[0] = c.status();
}
