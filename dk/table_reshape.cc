// Reshaping a table into a new record format (DKACT1 inserts bytes into
// every record, DKDCT1 removes up to two byte ranges and may put a running
// number in front as the new key): every record read in key order, rebuilt
// and fed to the bulk load, whose tree replaces the old one; the old tree
// is released once the root entry names the new one.
#include "dk/table_reshape.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/bulk_load.h"
#include "dk/control_area.h"
#include "dk/error_log.h"
#include "dk/page_tree.h"
#include "dk/table_cursor.h"
#include "dk/table_entries.h"
#include "dk/table_rebuild.h"
#include "platform/packed_decimal.h"

namespace {

constexpr int32_t kIndexDKACT1 = 3, kIndexDKDCT1 = 18;
constexpr int32_t kNumberDigits = 20;

int32_t Report(int32_t routine, int32_t rc, int32_t value, int32_t databank = 0) {
  ReportPageError(routine, rc, rc == -43 || rc == -67 || rc == -76 ? 2 : 3, value, databank);
  return rc;
}

struct Reshape {
  int32_t routine = 0;
  int32_t table = 0, databank = 0;
  int32_t old_key = 0, old_length = 0, new_key = 0, new_length = 0;
  int32_t data_size = 0, index_size = 0;
  int32_t kind = 0, method = 0;
  int32_t old_entry[kRootEntryWords] = {};  // the root entry as it was
};

// The new record of DKACT1: the bytes from the offset on move up, the
// block's bytes fill the gap.
void Insert(const int32_t* block, const Reshape& r, const uint8_t* old, uint8_t* out) {
  const int32_t at = std::clamp(block[RS_OFFSET], 0, r.old_length),
                gap = r.new_length - r.old_length;
  std::memcpy(out, old, static_cast<size_t>(at));
  std::memcpy(out + at, reinterpret_cast<const uint8_t*>(block + RS_BYTES),
              static_cast<size_t>(gap));
  std::memcpy(out + at + gap, old + at, static_cast<size_t>(r.old_length - at));
}

// The new record of DKDCT1: the two ranges gone, a running number in front
// when asked for.
int32_t Remove(const int32_t* block, const Reshape& r, const uint8_t* old, int64_t number,
               uint8_t* out) {
  int32_t at = 0;
  if (block[RS_NUMBER] > 0) {
    value_descriptor v{0, kNumberDigits, 0, 0};
    ByteSpan area(out, static_cast<size_t>(decimal_bytes(kNumberDigits)));
    if (int64_to_decimal(area, v, static_cast<int32_t>(number >> 32),
                         static_cast<int32_t>(number)) != 0)
      return Report(r.routine, -55, 0, r.databank);
    at = decimal_bytes(kNumberDigits);
  }
  const int32_t a = block[RS_FIRST_OFFSET], al = block[RS_FIRST_LENGTH];
  const int32_t b = block[RS_SECOND_OFFSET], bl = block[RS_SECOND_LENGTH];
  for (int32_t i = 0; i < r.old_length; ++i) {
    if (al > 0 && i >= a && i < a + al) continue;
    if (bl > 0 && i >= b && i < b + bl) continue;
    out[at++] = old[i];
  }
  return 0;
}

// The lengths of the new format must be what the change makes of the old.
int32_t CheckShape(int32_t* block, Reshape& r) {
  const bool act = r.routine == kIndexDKACT1;
  if (r.new_key < 1 || r.new_key > r.new_length || r.new_length > LoadWord(BP_MAX_RECORD_LENGTH))
    return Report(r.routine, -67, r.new_length, r.databank);
  if (act) {
    block[RS_OFFSET] = std::clamp(block[RS_OFFSET], 0, r.old_length);
    if (r.new_length < r.old_length) return Report(r.routine, -43, r.new_length, r.databank);
    return 0;
  }
  block[RS_SECOND_OFFSET] = std::clamp(block[RS_SECOND_OFFSET], 0, r.old_length);
  int64_t removed = 0;
  for (auto [o, l] :
       {std::pair{RS_FIRST_OFFSET, RS_FIRST_LENGTH}, {RS_SECOND_OFFSET, RS_SECOND_LENGTH}}) {
    if (block[l] == 0) continue;
    if (block[l] < 0 || block[o] < 0 || int64_t{block[o]} + block[l] > r.old_length)
      return Report(r.routine, -43, block[o], r.databank);
    removed += block[l];
  }
  const int32_t a = block[RS_FIRST_OFFSET], al = block[RS_FIRST_LENGTH];
  const int32_t b = block[RS_SECOND_OFFSET], bl = block[RS_SECOND_LENGTH];
  if (al > 0 && bl > 0 && a < b + bl && b < a + al) return Report(r.routine, -43, b, r.databank);
  const int64_t expected =
      r.old_length - removed + (block[RS_NUMBER] > 0 ? decimal_bytes(kNumberDigits) : 0);
  if (expected != r.new_length) return Report(r.routine, -43, r.new_length, r.databank);
  return 0;
}

// Reads every record, loads its new form, merges and installs the tree.
int32_t Rebuild(int32_t* block, Reshape& r) {
  dkrebuild::Shape shape;
  shape.routine = r.routine;
  shape.source = r.table;
  shape.target = r.table;
  shape.databank = r.databank;
  shape.old_key = r.old_key;
  shape.old_length = r.old_length;
  shape.new_key = r.new_key;
  shape.new_length = r.new_length;
  shape.data_size = r.data_size;
  shape.index_size = r.index_size;
  return dkrebuild::RebuildAs(shape, r.kind, r.method,
                              [&](const uint8_t* old, uint8_t* out, int64_t number) {
                                if (r.routine == kIndexDKACT1) {
                                  Insert(block, r, old, out);
                                  return int32_t{0};
                                }
                                return Remove(block, r, old, number, out);
                              });
}

// An empty table takes the new format in its root entry alone.
int32_t ReshapeEmpty(Reshape& r, bool set_kind) {
  int32_t* a = Bufferpool();
  int32_t record = 0;
  int32_t b = GetRootEntry(r.table, GET_UPDATE, r.routine, &record);
  if (b < 0) return b;
  int32_t* e = a + record;
  e[RE_KEY_LENGTH] = r.new_key;
  e[RE_RECORD_LENGTH] = r.new_length;
  e[RE_DATA_PAGE_SIZE] = r.data_size;
  e[RE_INDEX_PAGE_SIZE] = r.index_size;
  e[RE_METHOD] = r.method;
  if (set_kind) e[RE_KIND] = r.kind;
  const int32_t page = a[r.table + TBE_ROOT_PAGE];
  if (WriteUnitPage(r.databank, page, b) != 0) return Report(r.routine, -61, page, r.databank);
  return 0;
}

int32_t Run(int32_t* block, int32_t routine) {
  int32_t* a = Bufferpool();
  Reshape r;
  r.routine = routine;
  r.table = block[RQ_TABLE];
  const int32_t mode = block[RQ_STATUS];
  if (int32_t rc = CheckTableEntry(r.table, block[RQ_TBL], routine)) return rc;
  DKFreeSecondEntry(r.table);
  r.databank = a[r.table + TBE_DATABANK];
  r.old_key = block[RS_OLD_KEY];
  r.old_length = block[RQ_RECORD_LENGTH];
  r.new_key = block[RS_NEW_KEY];
  r.new_length = block[RS_NEW_LENGTH];
  for (int w : {RS_DATA_PAGE_SIZE, RS_INDEX_PAGE_SIZE})
    if (block[w] != 0 && FindPool(block[w]) == 0) return Report(routine, -76, block[w], r.databank);
  r.data_size = block[RS_DATA_PAGE_SIZE] != 0 ? block[RS_DATA_PAGE_SIZE] : DKBSC0(r.new_length);
  r.index_size = block[RS_INDEX_PAGE_SIZE] != 0 ? block[RS_INDEX_PAGE_SIZE] : DKBSC0(r.new_key);
  if (r.data_size < 0 || r.index_size < 0) return Report(routine, -76, r.new_length, r.databank);
  int32_t record = 0;
  int32_t b = GetRootEntry(r.table, GET_SHARED, routine, &record);
  if (b < 0) return b;
  std::memcpy(r.old_entry, a + record - 1, sizeof r.old_entry);
  DKPUT0(PUT_END_SHARED, b);
  const int32_t* e = r.old_entry + 1;
  if (e[RE_RECORD_LENGTH] != r.old_length || e[RE_KEY_LENGTH] != r.old_key) {
    if (mode == -1) return 0;
    if (mode == 0 && e[RE_RECORD_LENGTH] == r.new_length) return 0;
    return Report(routine, -67, r.old_length, r.databank);
  }
  if (int32_t rc = CheckShape(block, r)) return rc;
  const int32_t code = block[RQ_TYPE] % 100;
  const bool keep_kind = routine == kIndexDKDCT1 && block[RQ_TYPE] == 0;
  r.kind = keep_kind ? e[RE_KIND] % 10 : (code >= 11 ? code - 10 : code);
  r.method = keep_kind ? e[RE_METHOD] : (code >= 11 ? 1 : 0);
  if (r.kind < 0 || r.kind > 9) return Report(routine, -43, block[RQ_TYPE], r.databank);
  if (e[RE_LEVELS] == 0) return ReshapeEmpty(r, routine == kIndexDKDCT1);
  if (int32_t rc = Rebuild(block, r))
    return rc < 0 ? Report(routine, rc, block[RQ_TBL], r.databank) : rc;
  DKDRP0(r.databank, e[RE_TOP], e[RE_LEVELS], e[RE_INDEX_PAGE_SIZE], e[RE_DATA_PAGE_SIZE],
         e[RE_KEY_LENGTH], e[RE_KIND]);
  return 0;
}

}  // namespace

void DKACT1(int32_t* block) {
  block[RQ_STATUS] = Run(block, kIndexDKACT1);
}

void DKDCT1(int32_t* block) {
  block[RQ_STATUS] = Run(block, kIndexDKDCT1);
}
