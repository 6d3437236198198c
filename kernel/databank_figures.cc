// DSGetDbInfo and DSGetTabStats (see databank_figures.h).
#include "kernel/databank_figures.h"

#include <algorithm>

#include "dk/databank_operations.h"
#include "dk/request.h"
#include "dk/table_entries.h"
#include "dk/table_open.h"
#include "kernel/control_blocks.h"
#include "kernel/databank_control.h"
#include "kernel/system_block.h"

namespace {

constexpr int32_t kSizeCode = 52, kDescribeCode = 36;
constexpr int64_t kMost = 2147483647;

int32_t Fail(int32_t* base, int32_t usr, int32_t status) {
  if (InStorage(base, usr, USR_WORDS)) Wd(base, usr, USR_RVEC_RCODE) = status;
  return status;
}

// An integer quotient of at least 1, so that a degenerate page shape never
// divides by zero or turns an estimate negative.
int64_t Factor(int64_t numerator, int64_t denominator) {
  return denominator > 0 ? std::max<int64_t>(numerator / denominator, 1) : 1;
}

int32_t Clamp(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, 0, kMost));
}

}  // namespace

RowEstimates EstimateRows(int32_t levels, int32_t top, int32_t inner, int32_t key, int32_t leaf,
                          int32_t entry, int32_t attribute, int32_t figure) {
  const int64_t r = std::max(top, 0);
  if (levels <= 1) return {Clamp(r), Clamp(r), Clamp(r)};
  int64_t lo = r, hi = r, mid = r;
  if (levels >= 3) {
    const int64_t k = 4 + int64_t{key};
    const int64_t a = Factor(inner - 15 + 2 * k, 2 * k);
    const int64_t b = Factor(inner - 16, k);
    const int64_t c = std::max<int64_t>((a + b) / 2, 1);
    lo = r * a, hi = r * b, mid = r * c;
    for (int32_t n = 0; n < levels - 3; ++n) {
      lo = std::min(lo * a, kMost), hi = std::min(hi * b, kMost), mid = std::min(mid * c, kMost);
    }
  }
  const int64_t a2 = Factor(leaf - 15 + 2 * int64_t{entry}, 2 * int64_t{entry});
  const int64_t b2 = Factor(leaf - 16, entry);
  lo = std::min(lo, kMost) * a2;
  hi = std::min(hi, kMost);
  mid = std::min(mid, kMost);
  if (attribute < 11) {
    hi *= b2;
    mid *= std::max<int64_t>((a2 + b2) / 2, 1);
  } else {
    hi *= 20 * b2;
    mid *= std::max(figure, 1);
  }
  return {Clamp(lo), Clamp(hi), Clamp(mid)};
}

void DSGetDbInfo(int32_t* base, int32_t* block, int32_t* in_use, int32_t* units) {
  const int32_t usr = block[DBINFO_USR];
  if (KernelSys(base) == 0) {
    block[DBINFO_STATUS] = KERNEL_NOT_STARTED;
    return;
  }
  int32_t rq[SIZ_WORDS] = {};
  rq[SIZ_DID] = block[DBINFO_DID];
  rq[SIZ_SEQNO] = block[DBINFO_SEQNO];
  DKEXE1(kSizeCode, rq);
  if (rq[0] < 0) {
    block[DBINFO_STATUS] = Fail(base, usr, rq[0] - DK_ERROR_BIAS);
    return;
  }
  *in_use = rq[SIZ_IN_USE];
  *units = rq[SIZ_UNITS];
  block[DBINFO_STATUS] = 0;
}

void DSGetTabStats(int32_t* base, int32_t* pb, const int32_t* request, int32_t* out) {
  const int32_t usr = pb[1];
  if (KernelSys(base) == 0) {
    pb[0] = KERNEL_NOT_STARTED;
    return;
  }
  if (request[2] != 1 && request[2] != 2) {
    pb[0] = Fail(base, usr, KERNEL_BAD_PARAMETER);
    return;
  }
  // The description writes up to its count of top entries.
  int32_t b[GTS_TOP_ENTRIES + 1] = {};
  b[RQ_DID] = request[1];
  b[RQ_TYPE] = -1;
  b[RQ_TBL] = request[0];
  DKEXE1(kDescribeCode, b);
  if (b[RQ_STATUS] < 0) {
    pb[0] = Fail(base, usr, b[RQ_STATUS] - DK_ERROR_BIAS);
    return;
  }
  const int32_t inner = b[RQ_INDEX_PAGE_SIZE], leaf = b[RQ_DATA_PAGE_SIZE];
  const int32_t levels = b[GTS_LEVELS], key = b[RQ_KEY_LENGTH], entry = b[RQ_RECORD_LENGTH];
  // The kind, ten more for a compressed table.
  const int32_t attribute = (b[RQ_TYPE] / 10) % 100;
  const RowEstimates e =
      EstimateRows(levels, b[GTS_TOP_ENTRIES], inner, key, leaf, entry, attribute,
                   b[GTS_TOP_ENTRIES]);
  const int32_t figures[TABSTATS_WORDS] = {inner,    leaf,      levels,  key,
                                           entry,    e.lowest,  e.highest, e.middle};
  std::copy(figures, figures + TABSTATS_WORDS, out);
  pb[0] = 0;
}
