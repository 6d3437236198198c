// The level-2 catalog reads over the per-thread shared statements.
#include "dict/level2.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "dict/column_reader.h"
#include "dict/compiler_lookups.h"
#include "dict/dictionary_services.h"
#include "dict/kind_words.h"
#include "dict/statement_params.h"
#include "dict/statement_run.h"
#include "dict/upper_services.h"
#include "kernel/control_blocks.h"
#include "platform/char_format.h"
#include "sql/front/default_text.h"

namespace {

// A level-2 name's length without its trailing blanks.
int32_t Lv2Length(const char* name18) {
  return static_cast<int32_t>(DDTrimmed(std::string_view(name18, DD_LV2_NAME)).size());
}

// The flag of a run's status: 1 a row, 0 none, -1 an error mapped into
// the reply.
void Finish(int32_t status, int32_t* flag, int32_t* reply) {
  if (status < 0) {
    *flag = -1;
    DDMapErrorCode(reply, status);
  } else {
    *flag = status == 0 ? 1 : 0;
  }
}

void CopyText(std::string_view value, char* out, size_t width) {
  std::memset(out, ' ', width);
  std::memcpy(out, value.data(), std::min(value.size(), width));
}

// The next row of a cursor over the rows of `id` (a flag of 0 opens it,
// setting the id; another goes on): its statement, or 0 with the flag and
// reply set for no row or an error.
int32_t CursorRow(int32_t* base, int32_t* pb, int32_t field, int32_t image, int32_t id,
                  int32_t* flag, int32_t* reply) {
  const bool open = *flag == 0;
  const int32_t stm = DDCmpPrepare(base, pb, field, image);
  if (stm != 0 && open) {
    DDParams p(base, stm);
    p.Int(1, id);
    pb[0] = p.status();
  }
  if (stm == 0 || pb[0] != 0 || DDSelectRun(base, pb, stm, open) != 0) {
    Finish(pb[0], flag, reply);
    return 0;
  }
  return stm;
}

}  // namespace

void DDLv2Tab(int32_t* base, int32_t* pb, const char* schema18, const char* table18,
              DDLv2Table* out, int32_t* flag, int32_t* reply) {
  const int32_t stm = DDCmpPrepare(base, pb, THR_STM_LV2_TABDL2, IMAGE_DDLv2Tab);
  if (stm == 0) return Finish(pb[0], flag, reply);
  DDParams p(base, stm);
  p.TextLength(1, schema18, Lv2Length(schema18)).TextLength(3, table18, Lv2Length(table18));
  if ((pb[0] = p.status()) != 0 || DDSelectRun(base, pb, stm, true) != 0)
    return Finish(pb[0], flag, reply);
  DDColumnReader c(base, stm);
  DDLv2Table t{};
  CopyText(c.Text(1), t.kind, sizeof t.kind);
  t.id = c.Int(2, 0);
  CopyText(c.Text(3), t.schema, sizeof t.schema);
  CopyText(c.Text(4), t.name, sizeof t.name);
  if ((pb[0] = c.status()) == 0) *out = t;
  Finish(pb[0], flag, reply);
}

void DDLv2Acc(int32_t* base, int32_t* pb, int32_t table_id, const char* user18, char* flags6,
              int32_t* flag, int32_t* reply) {
  std::memset(flags6, 'N', 6);
  const int32_t stm = DDCmpPrepare(base, pb, THR_STM_LV2_ACCDL2, IMAGE_DDLv2Acc);
  if (stm == 0) return Finish(pb[0], flag, reply);
  DDParams p(base, stm);
  p.Int(1, table_id).TextLength(2, user18, Lv2Length(user18));
  if ((pb[0] = p.status()) != 0 || DDSelectRun(base, pb, stm, true) != 0)
    return Finish(pb[0], flag, reply);
  DDColumnReader c(base, stm);
  for (int32_t k = 0; k < 6; ++k) flags6[k] = DDIs(c.Text(k + 1), "Y") ? 'Y' : 'N';
  pb[0] = c.status();
  if (pb[0] != 0) std::memset(flags6, 'N', 6);
  Finish(pb[0], flag, reply);
}

void DDLv2Col(int32_t* base, int32_t* pb, int32_t table_id, DDLv2Column* out, int32_t* flag,
              int32_t* reply) {
  const int32_t stm =
      CursorRow(base, pb, THR_STM_LV2_COLDL2, IMAGE_DDLv2Col, table_id, flag, reply);
  if (stm == 0) return;
  DDColumnReader c(base, stm);
  DDLv2Column col{};
  CopyText(c.Text(1), col.name, sizeof col.name);
  DDStoredType(c, {2, 3, 4, 5, 6, 7, 8}, &col.type, &col.length, &col.scale);
  col.nullable = DDIs(c.Text(9), "NO") ? 0 : 1;
  col.offset = c.Int(10, 0);
  if ((pb[0] = c.status()) == 0) *out = col;
  Finish(pb[0], flag, reply);
}

namespace {

constexpr std::string_view kConnectives = "ANDOR ";
constexpr std::string_view kOperators = "EQNELTLEGEGTL4N4L5N5NUNN";
constexpr std::string_view kUserValue = "-USER-";

// The stored words of a condition; 0, or the refusal.
int32_t ConditionWords(int32_t position, int32_t connective, int32_t op, int32_t length,
                       std::string_view* connective_word, std::string_view* op_word) {
  if (connective < 1 || connective > 2 || op < 1 || op > 12) return DD_KIND_OUTSIDE;
  if (position < 0 || position > 999 || length < DD_LV2_USER_VALUE || length == -1 ||
      length > DD_LV2_VALUE)
    return DD_BAD_VALUE;
  *connective_word = kConnectives.substr(3 * static_cast<size_t>(connective - 1), 3);
  *op_word = kOperators.substr(2 * static_cast<size_t>(op - 1), 2);
  return 0;
}

// The value as stored: "-USER-" for the user's name, 64 blanks for none.
std::string_view StoredValue(const char* value, int32_t length) {
  if (length == DD_LV2_USER_VALUE) return kUserValue;
  if (length == 0) return "";
  return {value, static_cast<size_t>(length)};
}

// A condition row read back: connective, operator and value columns.
void ReadCondition(DDColumnReader& c, int32_t connective, int32_t first, int32_t op,
                   int32_t length, int32_t value, DDLv2Condition* out) {
  DDLv2Condition d{};
  const std::string_view cw = c.Text(connective), ow = c.Text(op);
  d.connective = cw == "AND" ? 1 : cw == "OR " ? 2 : 0;
  d.first = first > 0 ? c.Int(first, 0) : 0;
  const size_t at = ow.size() == 2 ? kOperators.find(ow) : std::string_view::npos;
  d.op = at != std::string_view::npos && at % 2 == 0 ? static_cast<int32_t>(at / 2) + 1 : 0;
  d.length = c.Int(length, 0);
  CopyText(c.Text(value), d.value, sizeof d.value);
  if (c.status() == 0) *out = d;
}

}  // namespace

void DDInsLv2Cond(int32_t* base, int32_t* pb, int32_t id, int32_t position, int32_t connective,
                  int32_t op, const char* value, int32_t length) {
  std::string_view cw, ow;
  if ((pb[0] = ConditionWords(position, connective, op, length, &cw, &ow)) != 0) return;
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsLv2Cond, IMAGE_DDInsLv2Cond);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, id).Int(2, position).Text(3, cw).Text(4, ow).Int(5, length);
  p.Text(6, StoredValue(value, length));
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDInsLv2Cond2(int32_t* base, int32_t* pb, int32_t id, int32_t position,
                   int32_t connective, int32_t first, int32_t second, int32_t op,
                   const char* value, int32_t length) {
  std::string_view cw, ow;
  if ((pb[0] = ConditionWords(position, connective, op, length, &cw, &ow)) != 0) return;
  if (second < 0 || second > 999) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsLv2Cond2, IMAGE_DDInsLv2Cond2);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, id).Int(2, position).Text(3, cw).Int(4, first).Int(5, second).Text(6, ow);
  p.Int(7, length).Text(8, StoredValue(value, length));
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDLv2Dre(int32_t* base, int32_t* pb, int32_t id, DDLv2Condition* out, int32_t* flag,
              int32_t* reply) {
  const int32_t stm = CursorRow(base, pb, THR_STM_LV2_DREDL2, IMAGE_DDLv2Dre, id, flag, reply);
  if (stm == 0) return;
  DDColumnReader c(base, stm);
  ReadCondition(c, 1, 0, 2, 3, 4, out);
  Finish(pb[0] = c.status(), flag, reply);
}

void DDLv2Vre(int32_t* base, int32_t* pb, int32_t id, DDLv2Condition* out, int32_t* flag,
              int32_t* reply) {
  const int32_t stm = CursorRow(base, pb, THR_STM_LV2_VREDL2, IMAGE_DDLv2Vre, id, flag, reply);
  if (stm == 0) return;
  DDColumnReader c(base, stm);
  ReadCondition(c, 1, 2, 3, 4, 5, out);
  Finish(pb[0] = c.status(), flag, reply);
}

void DDLv2Dtb(int32_t* base, int32_t* pb, const char* name18, int32_t* id, int32_t* flag,
              int32_t* reply) {
  const int32_t stm = DDCmpPrepare(base, pb, THR_STM_LV2_DTBDL2, IMAGE_DDLv2Dtb);
  if (stm == 0) return Finish(pb[0], flag, reply);
  DDParams p(base, stm);
  p.TextLength(1, name18, Lv2Length(name18));
  if ((pb[0] = p.status()) != 0 || DDSelectRun(base, pb, stm, true) != 0)
    return Finish(pb[0], flag, reply);
  DDColumnReader c(base, stm);
  const int32_t found = c.Int(1, 0);
  if ((pb[0] = c.status()) == 0) *id = found;
  Finish(pb[0], flag, reply);
}

void DDLv2Dde(int32_t* base, int32_t* pb, int32_t domain_id, char* text, int32_t* length,
              int32_t* flag, int32_t* reply) {
  *length = 0;
  const int32_t stm = DDCmpPrepare(base, pb, THR_STM_LV2_DDEDL2, IMAGE_DDLv2Dde);
  if (stm == 0) return Finish(pb[0], flag, reply);
  DDParams p(base, stm);
  p.Int(1, domain_id);
  if ((pb[0] = p.status()) != 0 || DDSelectRun(base, pb, stm, true) != 0)
    return Finish(pb[0], flag, reply);
  DDColumnReader c(base, stm);
  uint8_t text3[3 * DD_LV2_DEFAULT];
  const int32_t characters = std::min(DDDefaultText(c, 1, text3, DD_LV2_DEFAULT), DD_LV2_DEFAULT);
  if ((pb[0] = c.status()) != 0) return Finish(pb[0], flag, reply);
  char single[DD_LV2_DEFAULT];
  for (int32_t i = 0; i < characters; ++i) {
    const uint8_t* u = text3 + 3 * i;
    single[i] = u[0] != 0 || u[1] != 0 ? static_cast<char>(kLatin1Replacement)
                                       : static_cast<char>(u[2]);
  }
  int32_t n = characters;
  if (n > 0) DefaultTextCheck(single, &n);
  if (n == -2 || n == kDefaultCurrentTimestamp || n == kDefaultCurrentUser) {
    *length = -2;
  } else if (n < 0) {
    return Finish(1, flag, reply);  // NULL, another special register, or no default
  } else {
    std::memcpy(text, single, static_cast<size_t>(n));
    *length = n;
  }
  Finish(0, flag, reply);
}

void DDLv2Tbx(int32_t* base, int32_t* pb, int32_t table_id, int32_t* values3, int32_t* flag,
              int32_t* reply) {
  const int32_t stm = DDCmpPrepare(base, pb, THR_STM_LV2_TBXDL2, IMAGE_DDLv2Tbx);
  if (stm == 0) return Finish(pb[0], flag, reply);
  DDParams p(base, stm);
  p.Int(1, table_id);
  if ((pb[0] = p.status()) != 0 || DDSelectRun(base, pb, stm, true) != 0)
    return Finish(pb[0], flag, reply);
  DDColumnReader c(base, stm);
  const int32_t v[3] = {c.Int(1, 0), c.Int(2, 0), c.Int(3, -1)};
  if ((pb[0] = c.status()) == 0) std::copy(v, v + 3, values3);
  Finish(pb[0], flag, reply);
}

void DDLv2Upd(int32_t* base, int32_t* pb, int32_t table_id, int32_t column_number,
              const char* user18, int32_t* flag, int32_t* reply) {
  const int32_t stm = DDCmpPrepare(base, pb, THR_STM_LV2_UPDDL2, IMAGE_DDLv2Upd);
  if (stm == 0) return Finish(pb[0], flag, reply);
  DDParams p(base, stm);
  p.Int(1, table_id).Int(2, column_number).TextLength(3, user18, Lv2Length(user18));
  if ((pb[0] = p.status()) == 0) DDSelectRun(base, pb, stm, true);
  Finish(pb[0], flag, reply);
}

void DDLv2Idx(int32_t* base, int32_t* pb, int32_t key_id, DDLv2KeyColumn* out, int32_t* flag,
              int32_t* reply) {
  const int32_t stm = CursorRow(base, pb, THR_STM_LV2_IDXDL2, IMAGE_DDLv2Idx, key_id, flag, reply);
  if (stm == 0) return;
  DDColumnReader c(base, stm);
  DDLv2KeyColumn k{};
  k.ascending = DDIs(c.Text(1), "NO") ? 0 : 1;
  k.position = c.Int(2, 0);
  k.number = c.Int(3, 0);
  k.offset = c.Int(4, 0);
  k.length = c.Int(5, 0);
  if ((pb[0] = c.status()) == 0) *out = k;
  Finish(pb[0], flag, reply);
}

void DDLv2Vcl(int32_t* base, int32_t* pb, int32_t view_id, int32_t* values3, int32_t* flag,
              int32_t* reply) {
  const int32_t stm = CursorRow(base, pb, THR_STM_LV2_VCLDL2, IMAGE_DDLv2Vcl, view_id, flag, reply);
  if (stm == 0) return;
  DDColumnReader c(base, stm);
  const int32_t v[3] = {c.Int(1, 0), c.Int(2, 0), c.Int(3, 0)};
  if ((pb[0] = c.status()) == 0) std::copy(v, v + 3, values3);
  Finish(pb[0], flag, reply);
}
