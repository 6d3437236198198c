// The rebuild behind a table's change of record format (DKALR1, DKACT1,
// DKDCT1): every record of the source read in key order, its new form
// loaded into the target, the runs merged and the new tree installed.
#pragma once

#include <cstdint>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/bulk_load.h"
#include "dk/table_cursor.h"
#include "dk/table_entries.h"

namespace dkrebuild {

// The tables and formats of one rebuild.
struct Shape {
  int32_t routine = 0;   // the routine index a load table is opened for
  int32_t source = 0;    // table entry read
  int32_t target = 0;    // table entry loaded
  int32_t databank = 0;  // where the target's chain goes back to
  int32_t old_key = 0, old_length = 0;
  int32_t new_key = 0, new_length = 0;
  int32_t data_size = 0, index_size = 0;
};

// Rebuilds the target from the source; convert(old, out, number) writes the
// new form of the number-th record (from 1) and answers 0 or the code that
// abandons the load.
template <typename Convert>
int32_t Rebuild(const Shape& r, Convert convert) {
  int32_t* a = Bufferpool();
  std::vector<int32_t> cursor(static_cast<size_t>(CursorBlockWords(r.old_length)), 0);
  cursor[CUR_STATUS] = FET_FROM_KEY;
  cursor[CUR_SCAN] = 1;
  cursor[CUR_TABLE] = r.source;
  cursor[CUR_TBL] = a[r.source + TBE_TBL];
  cursor[CUR_KEY_LENGTH] = r.old_key;
  cursor[CUR_RECORD_LENGTH] = r.old_length;
  std::vector<int32_t> load(static_cast<size_t>(LoadBlockWords(r.new_length)), 0);
  load[LOA_TABLE] = r.target;
  load[LOA_TBL] = a[r.target + TBE_TBL];
  load[LOA_KEY_LENGTH] = r.new_key;
  load[LOA_RECORD_LENGTH] = r.new_length;
  load[LOA_PAGE_SIZE] = r.data_size;
  const auto* old = reinterpret_cast<const uint8_t*>(cursor.data() + CUR_RECORD);
  auto* out = reinterpret_cast<uint8_t*>(load.data() + LOA_RECORD);
  auto abandon = [&](int32_t rc) {
    LoadTable t;
    if (load[LOA_CONTROL] != 0 && OpenLoadTable(load.data(), r.routine, &t) == 0)
      AbandonLoad(load.data(), t);
    return rc;
  };
  for (int64_t number = 1;; ++number) {
    DKFET1(cursor.data());
    const int32_t status = cursor[CUR_STATUS];
    cursor[CUR_STATUS] = FET_NEXT;
    if (status == kStatusEnd) break;
    if (status != 0) return abandon(status);
    if (int32_t rc = convert(old, out, number)) return abandon(rc);
    load[LOA_STATUS] = 0;
    DKLOA1(load.data());
    if (load[LOA_STATUS] != 0) return load[LOA_STATUS];
  }
  load[LOA_STATUS] = kLoadEndOfInput;
  DKLOA1(load.data());
  if (load[LOA_STATUS] != 0) return load[LOA_STATUS];
  DKMRG1(load.data());
  if (load[LOA_STATUS] != 0) return load[LOA_STATUS];
  if (load[LOA_DUPLICATES] > 0) {
    // Records whose new keys are equal: the tree would keep one of each.
    FreeChain(r.databank, load[LOA_CHAIN], r.data_size);
    return -55;
  }
  load[LOA_STATUS] = kBuildReplace;
  load[LOA_RECORD] = r.index_size;
  DKBIN1(load.data());
  return load[LOA_STATUS];
}

// The rebuild with the target's table entry naming the new kind and method
// while it loads; the entry gets its old ones back when the rebuild fails.
template <typename Convert>
int32_t RebuildAs(const Shape& r, int32_t kind, int32_t method, Convert convert) {
  int32_t* a = Bufferpool();
  const int32_t saved_kind = a[r.target + TBE_KIND], saved_method = a[r.target + TBE_METHOD];
  a[r.target + TBE_KIND] = kind;
  a[r.target + TBE_METHOD] = method;
  const int32_t rc = Rebuild(r, convert);
  if (rc != 0) {
    a[r.target + TBE_KIND] = saved_kind;
    a[r.target + TBE_METHOD] = saved_method;
  }
  return rc;
}

}  // namespace dkrebuild
