// Lookups over a table's index control blocks for the request interface's
// key-position request (code 33) and the catalog code: where a column lies
// in the keys of the table's indexes, the indexes one by one, and the drop
// of a list of tables in the kernel.
#include "du/table_internal.h"
#include "du/tables.h"
#include "du/upper_services.h"

using du::F;
using du::W;

namespace {

constexpr int32_t kMaxParts = 64;

// Calls f(column, length, kind) for each key part of an ICB, ended by a
// negative column; stops when f answers false.
template <typename Fn>
void ForEachPart(int32_t* base, int32_t icb, Fn f) {
  const int32_t words = W(base, F(icb, ICB_XD));
  for (int32_t k = 1, n = 0; k + 2 < words && n < kMaxParts; k += 3, ++n) {
    const int32_t column = W(base, F(icb, ICB_XD + k));
    if (column < 0) return;
    if (!f(column, W(base, F(icb, ICB_XD + k + 1)), W(base, F(icb, ICB_XD + k + 2)))) return;
  }
}

}  // namespace

void DUIndexLimits(int32_t* base, int32_t tcb, int32_t column, int32_t* offset, int32_t* index) {
  *offset = 2147483647;
  *index = 0;
  for (int32_t icb = W(base, F(tcb, TCB_ICB)); icb != 0; icb = W(base, icb)) {
    int32_t at = 0;
    ForEachPart(base, icb, [&](int32_t c, int32_t length, int32_t kind) {
      if (kind == 1 || kind == 2 || kind > 2 || kind < -2) return false;
      if (c == column && at < *offset) {
        *offset = at;
        *index = W(base, F(icb, ICB_TNAME));
      }
      at += length;
      return true;
    });
  }
}

int32_t DUFindIndexKind(int32_t* base, int32_t tcb, int32_t number, int32_t column, int32_t* offset,
                        int32_t* length) {
  int32_t icb = W(base, F(tcb, TCB_ICB));
  while (icb != 0 && W(base, F(icb, ICB_TNAME)) != number) icb = W(base, icb);
  if (icb == 0) return DU_BAD_ARGUMENT;
  int32_t at = 0;
  bool found = false;
  ForEachPart(base, icb, [&](int32_t c, int32_t l, int32_t) {
    if (c == column) {
      *offset = at;
      *length = l;
      found = true;
      return false;
    }
    at += l;
    return true;
  });
  if (!found) {
    *offset = at + column;
    *length = 0;
  }
  return 0;
}

int32_t DUNextTableInfo(int32_t* base, int32_t tcb, int32_t* cursor, int32_t* out) {
  const int32_t icb = *cursor == 0 ? W(base, F(tcb, TCB_ICB)) : W(base, *cursor);
  if (icb == 0) return DU_BAD_ARGUMENT;
  *cursor = icb;
  out[0] = W(base, F(tcb, TCB_DCB));
  out[1] = W(base, F(icb, ICB_LID));
  out[2] = W(base, F(icb, ICB_TYPE));
  out[3] = W(base, F(icb, ICB_TBL));
  out[4] = W(base, F(icb, ICB_TNAME));
  out[5] = W(base, F(icb, ICB_CONSTRAINT_SYSID));
  return 0;
}

int32_t DUDropTableList(int32_t* base, int32_t* const* records, int32_t count) {
  (void)base;
  int32_t status = 0;
  for (int32_t k = 0; k < count; ++k) {
    int32_t* record = records[k];
    record[DUREC_STATUS] = 0;
    DUKernel(DK_DRP1, record + DUREC_STATUS);
    if (record[DUREC_STATUS] < 0) status = KernelStatus(record[DUREC_STATUS]);
  }
  return status;
}
