// A walk over the rows of a table as the transaction sees them, in key
// order from a starting key, for the record access routines that visit
// every row (large-object directory walks, ALTER TABLE passes).
#pragma once

#include <cstdint>

#include "du/kernel_requests.h"
#include "du/pool_words.h"
#include "du/record_operations.h"
#include "du/row_change_internal.h"

namespace du {

// The answer of a visit that ends the walk without a failure.
inline constexpr int32_t kScanStop = 1;

// Fetches the rows of the table of `start` (a record block whose buffer
// holds the starting key) forward from that key, with `work` as the work
// entry (0: one is taken for the walk), and hands each to `visit` as a copy
// of the block holding it. `visit` answers 0 to go on, kScanStop to end, or
// a failure. 0, or the first failure of the fetch or of `visit`.
template <typename Visit>
int32_t ScanRows(int32_t* base, int32_t usr, int32_t work, const Block& start, Visit visit) {
  int32_t own = 0;
  if (work == 0) {
    DSGetMem(base, &own, WRK_BYTES + KernelRecordBytes());
    if (own == 0) return DU_NO_STORAGE;
    work = own;
  }
  Block scan = start;
  scan[DUREC_FETCH_CODE] = 1;
  scan[DUREC_STATUS] = 1;
  int32_t rc = 0;
  for (;;) {
    DUFetchRow(base, scan.data(), usr, work);
    if (scan[DUREC_STATUS] != 0) {
      rc = scan[DUREC_STATUS] == DU_NO_ROW ? 0 : scan[DUREC_STATUS];
      break;
    }
    Block row = scan;
    rc = visit(row);
    if (rc != 0) break;
    scan[DUREC_STATUS] = 0;
  }
  if (own != 0) FreeBlock(base, own);
  return rc == kScanStop ? 0 : rc;
}

}  // namespace du
