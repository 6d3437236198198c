// The level-2 catalog reads over the per-thread shared statements.
#include "dict/level2.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "dict/column_reader.h"
#include "dict/compiler_lookups.h"
#include "dict/statement_params.h"
#include "dict/statement_run.h"
#include "dict/upper_services.h"
#include "kernel/control_blocks.h"

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
  const bool open = *flag == 0;
  const int32_t stm = DDCmpPrepare(base, pb, THR_STM_LV2_COLDL2, IMAGE_DDLv2Col);
  if (stm == 0) return Finish(pb[0], flag, reply);
  if (open) {
    DDParams p(base, stm);
    p.Int(1, table_id);
    if ((pb[0] = p.status()) != 0) return Finish(pb[0], flag, reply);
  }
  if (DDSelectRun(base, pb, stm, open) != 0) return Finish(pb[0], flag, reply);
  DDColumnReader c(base, stm);
  DDLv2Column col{};
  CopyText(c.Text(1), col.name, sizeof col.name);
  DDStoredType(c, {2, 3, 4, 5, 6, 7, 8}, &col.type, &col.length, &col.scale);
  col.nullable = DDIs(c.Text(9), "NO") ? 0 : 1;
  col.offset = c.Int(10, 0);
  if ((pb[0] = c.status()) == 0) *out = col;
  Finish(pb[0], flag, reply);
}
