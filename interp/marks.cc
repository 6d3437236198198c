// DSSetMark and DSRollbackMark (see marks.h).
#include "interp/marks.h"

#include "du/transactions.h"
#include "interp/program_layout.h"
#include "kernel/control_blocks.h"
#include "kernel/system_block.h"
#include "kernel/word_storage.h"

namespace interp {
namespace {

bool InTransaction(int32_t* base, int32_t usr) {
  return DSGetTransState(base, usr) == 1;
}

}  // namespace

int32_t DSSetMark(int32_t* base, int32_t usr, int32_t* mark_word) {
  if (!InStorage(base, usr, USR_WORDS)) return KERNEL_BAD_PARAMETER;
  const int32_t mark = ++Wd(base, usr, USR_MARK_ID);
  *mark_word = mark;
  if (InTransaction(base, usr)) {
    DUWriteMark(base, usr, mark);
    return Wd(base, usr, USR_TRV_COND);
  }
  int32_t node = 0;
  DSGetMem(base, &node, 8);
  if (node == 0) return kErrNoStorage;
  Wd(base, node, 0) = 0;
  Wd(base, node, 1) = mark;
  int32_t* link = &Wd(base, usr, USR_STACKED_MARK);
  for (int32_t steps = 0; *link != 0 && steps < (1 << 16); ++steps) {
    if (!InStorage(base, *link, 2)) break;
    link = &Wd(base, *link, 0);
  }
  *link = node;
  return 0;
}

int32_t DSRollbackMark(int32_t* base, int32_t usr, int32_t* mark_word) {
  if (!InStorage(base, usr, USR_WORDS)) return KERNEL_BAD_PARAMETER;
  if (!InTransaction(base, usr) || *mark_word == 0) return 0;
  DSTransRollbackDk(base, usr, *mark_word);
  *mark_word = 0;
  const int32_t trv = Wd(base, usr, USR_TRV_COND);
  return trv < 0 ? trv : 0;
}

}  // namespace interp
