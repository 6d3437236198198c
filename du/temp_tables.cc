// The kernel tables a load of an open table fills: a table of the table's
// lengths and page settings under a new table number, and one per index.
#include <vector>

#include "du/pool_words.h"
#include "du/record_access_words.h"
#include "du/table_internal.h"
#include "du/tables.h"
#include "du/upper_services.h"

using du::F;
using du::W;

namespace {

// Kernel request words of a table's creation (DKCRT1) and description
// (DKGTS1): status, DID, type, table entry, TBL, key and record length,
// index and data page sizes, compression method.
constexpr int32_t RQ_STATUS = 0, RQ_DID = 2, RQ_TYPE = 3, RQ_ENTRY = 4, RQ_TBL = 5,
                  RQ_KEYLEN = 6, RQ_RECLEN = 7, RQ_INDEX_PAGE = 10, RQ_DATA_PAGE = 11,
                  RQ_METHOD = 12, RQ_WORDS = 16;
constexpr int32_t DK_DRT1 = 24, DK_GTS1 = 36;
// The type of a load's table: the original's type with the last digit 4.
constexpr int32_t kLoadTypeDigit = 4;

constexpr int32_t kNoSuchTable = -50;

// A new kernel table numbered `number` like the one whose identity words
// (LID, TYPE, TBL, TNAME, KEYLEN, RECLEN) begin at `id` of a TCB or ICB;
// its entry in *entry. 0, the kernel's (negative) status, or 1 when the
// number names a table already.
int32_t CreateLike(int32_t* base, int32_t block, int32_t id, int32_t number, int32_t* entry) {
  int32_t there[RQ_WORDS] = {};
  there[RQ_DID] = W(base, F(block, id));
  there[RQ_TYPE] = W(base, F(block, id + 1)) % 10;
  there[RQ_TBL] = number;
  DUKernel(DK_GTS1, there);
  if (there[RQ_STATUS] != kNoSuchTable) return there[RQ_STATUS] < 0 ? there[RQ_STATUS] : 1;
  int32_t g[RQ_WORDS] = {};
  g[RQ_DID] = W(base, F(block, id));
  g[RQ_ENTRY] = W(base, F(block, id + 2));
  g[RQ_TBL] = W(base, F(block, id + 3));
  DUKernel(DK_GTS1, g);
  if (g[RQ_STATUS] < 0) return g[RQ_STATUS];
  int32_t c[RQ_WORDS] = {};
  c[RQ_DID] = W(base, F(block, id));
  c[RQ_TYPE] = W(base, F(block, id + 1)) * 10 + kLoadTypeDigit;
  c[RQ_TBL] = number;
  c[RQ_KEYLEN] = W(base, F(block, id + 4));
  c[RQ_RECLEN] = W(base, F(block, id + 5));
  c[RQ_INDEX_PAGE] = g[RQ_INDEX_PAGE];
  c[RQ_DATA_PAGE] = g[RQ_DATA_PAGE];
  c[RQ_METHOD] = g[RQ_METHOD];
  DUKernel(DK_CRT1, c);
  if (c[RQ_STATUS] != 0) return c[RQ_STATUS] < 0 ? c[RQ_STATUS] : 1;
  *entry = c[RQ_ENTRY];
  return 0;
}

// Drops and closes a table made here.
void Drop(int32_t lid, int32_t entry, int32_t number) {
  int32_t b[RQ_WORDS] = {};
  b[RQ_DID] = lid;
  b[RQ_ENTRY] = entry;
  b[RQ_TBL] = number;
  DUKernel(DK_DRT1, b);
  b[RQ_STATUS] = -22;
  DUKernel(DK_CLT1, b);
}

}  // namespace

int32_t DUCrtTempTable(int32_t* base, int32_t tcb, int32_t number, int32_t* tables,
                       int32_t count) {
  if (du::SystemBlock(base) == 0) return DU_NOT_INITIALISED;
  if (!du::BlockInside(base, tcb, TCB_WORDS) || W(base, F(tcb, TCB_TBL)) == 0 || count < 1 ||
      number < 1)
    return DU_BAD_ARGUMENT;
  std::vector<int32_t> icbs;
  for (int32_t icb = W(base, F(tcb, TCB_ICB)); icb != 0; icb = W(base, icb)) {
    if (!du::BlockInside(base, icb, ICB_WORDS) || static_cast<int32_t>(icbs.size()) + 1 >= count ||
        number > INT32_MAX - 2 - static_cast<int32_t>(icbs.size()))
      return DU_BAD_ARGUMENT;
    icbs.push_back(icb);
  }
  const int32_t lid = W(base, F(tcb, TCB_LID));
  int32_t made = 0, rc = CreateLike(base, tcb, TCB_LID, number, &tables[0]);
  if (rc == 0) made = 1;
  for (size_t k = 0; rc == 0 && k < icbs.size(); ++k) {
    rc = CreateLike(base, icbs[k], ICB_LID, number + 2 + static_cast<int32_t>(k), &tables[k + 1]);
    if (rc == 0) ++made;
  }
  if (rc == 0) return 0;
  for (int32_t k = 0; k < made; ++k) Drop(lid, tables[k], k == 0 ? number : number + 1 + k);
  return rc > 0 ? DU_TABLE_IN_USE : KernelStatus(rc);
}
