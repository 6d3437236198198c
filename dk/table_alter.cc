// DKALR1: every record of a table fetched in key order, rewritten along the
// request's field list (copied, converted, defaulted, or given a generated
// key) and fed to the bulk load, whose tree replaces the old one; the old
// tree is released only once the root entry names the new one.
#include "dk/table_alter.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/bulk_load.h"
#include "dk/control_area.h"
#include "dk/error_log.h"
#include "dk/page_tree.h"
#include "dk/table_cursor.h"
#include "dk/table_entries.h"
#include "dk/table_open.h"
#include "dk/table_rebuild.h"
#include "platform/packed_decimal.h"
#include "platform/record_conversion.h"

namespace {

constexpr int32_t kIndexDKALR1 = 4;
constexpr int32_t kKindLobRefs = 6;

int32_t Report(int32_t rc, int32_t value, int32_t databank = 0) {
  ReportPageError(kIndexDKALR1, rc, rc == -43 || rc == -67 || rc == -76 ? 2 : 3, value, databank);
  return rc;
}

struct Alter {
  int32_t source = 0, target = 0, databank = 0;
  int32_t old_key = 0, old_length = 0, new_key = 0, new_length = 0;
  int32_t data_size = 0, index_size = 0;
  int32_t kind = 0, method = 0;
  int32_t target_entry[kRootEntryWords] = {};  // the target's root entry as it was
  RowLayout layout;
};

// The root entry of a table, copied.
int32_t ReadRoot(int32_t table, int32_t* entry) {
  int32_t record = 0;
  int32_t b = GetRootEntry(table, GET_SHARED, kIndexDKALR1, &record);
  if (b < 0) return b;
  std::memcpy(entry, Bufferpool() + record - 1, sizeof(int32_t) * kRootEntryWords);
  DKPUT0(PUT_END_SHARED, b);
  return 0;
}

// The field list and the new record's image inside the block: the list from
// the header's end up to the image (or the block's end), 14-word steps.
int32_t FindLayout(int32_t* block, Alter& r) {
  const int32_t total = block[ALR_TOTAL_WORDS], header = block[ALR_HEADER_WORDS];
  const int32_t image = block[ALR_IMAGE];
  if (total < ALR_HEADER || total > kAlterMaxWords || header < ALR_HEADER || header > total ||
      block[ALR_STEP_WORDS] != LAY_ENTRY_WORDS)
    return Report(-43, total, r.databank);
  if (image != 0 && (image < header || image > total)) return Report(-43, image, r.databank);
  const int32_t list_end = image != 0 ? image : total;
  r.layout.words = std::span<int32_t>(block + header, static_cast<size_t>(list_end - header));
  if (image != 0)
    r.layout.data = ConstByteSpan(reinterpret_cast<const uint8_t*>(block + image),
                                  static_cast<size_t>(total - image) * 4);
  r.layout.record_length = r.new_length;
  return 0;
}

// The generated key: DECIMAL(20,0) of the base's ten digits followed by the
// counter's ten digits, in front of the new record.
int32_t GeneratedKey(const Alter& r, uint8_t* out) {
  std::vector<int32_t> g(GGK_WORDS, 0);
  g[GGK_KIND] = r.kind;
  g[GGK_TABLE] = r.target;
  g[GGK_TBL] = Bufferpool()[r.target + TBE_TBL];
  g[GGK_KEY_LENGTH] = r.new_key;
  DKGGK1(g.data());
  const int32_t bytes = decimal_bytes(kGeneratedKeyDigits);
  if (g[GGK_STATUS] != 0 || g[GGK_BASE] < 0 || g[GGK_COUNTER] < 0 || r.new_key < bytes)
    return Report(-55, g[GGK_STATUS], r.databank);
  char digits[24];
  std::snprintf(digits, sizeof digits, "%010d%010d", g[GGK_BASE], g[GGK_COUNTER]);
  // Packed digits behind a leading zero nibble, the sign nibble last.
  uint8_t bcd[(kGeneratedKeyDigits + 2) / 2] = {};
  int nibbles[kGeneratedKeyDigits + 2] = {0};
  for (int i = 0; i < kGeneratedKeyDigits; ++i) nibbles[i + 1] = digits[i] - '0';
  nibbles[kGeneratedKeyDigits + 1] = 12;
  for (size_t i = 0; i < sizeof bcd; ++i)
    bcd[i] = static_cast<uint8_t>(nibbles[2 * i] << 4 | nibbles[2 * i + 1]);
  const value_descriptor v{0, kGeneratedKeyDigits, 0, 0};
  if (bcd_to_decimal(ByteSpan(out, static_cast<size_t>(bytes)), v, ConstByteSpan(bcd, sizeof bcd),
                     0, kGeneratedKeyDigits, 0) != kDecimalOk)
    return Report(-55, 0, r.databank);
  return 0;
}

// The new form of one old record.
int32_t Convert(const int32_t* block, const Alter& r, const uint8_t* old, uint8_t* out) {
  ByteSpan target(out, static_cast<size_t>(r.new_length));
  ConstByteSpan source(old, static_cast<size_t>(r.old_length));
  const int32_t conversion = block[ALR_CONVERSION];
  if (conversion == kAlterCopyNone) {
    std::memset(out, 0, target.size());
    std::memcpy(out, old, static_cast<size_t>(std::min(r.old_length, r.new_length)));
    return 0;
  }
  int32_t rc = 0;
  if (conversion == kAlterCopyImage) {
    row_layout_copy(&rc, r.layout, target);
    if (rc != 0) return Report(rc, 0, r.databank);
  } else {
    // The whole record, not the key area alone: bytes a step passes over
    // must not carry the previous record's values.
    std::memset(out, 0, target.size());
  }
  row_layout_convert(&rc, r.layout, target, source);
  if (rc == 1) return GeneratedKey(r, out);
  return rc < 0 ? Report(rc, 0, r.databank) : 0;
}

// Reads every record of the source, loads its new form into the target,
// merges and installs the tree.
int32_t Rebuild(const int32_t* block, const Alter& r) {
  dkrebuild::Shape shape;
  shape.routine = kIndexDKALR1;
  shape.source = r.source;
  shape.target = r.target;
  shape.databank = Bufferpool()[r.target + TBE_DATABANK];
  shape.old_key = r.old_key;
  shape.old_length = r.old_length;
  shape.new_key = r.new_key;
  shape.new_length = r.new_length;
  shape.data_size = r.data_size;
  shape.index_size = r.index_size;
  return dkrebuild::RebuildAs(
      shape, r.kind, r.method,
      [&](const uint8_t* old, uint8_t* out, int64_t) { return Convert(block, r, old, out); });
}

int32_t Run(int32_t* block) {
  int32_t* a = Bufferpool();
  Alter r;
  const int32_t mode = block[RQ_STATUS];
  r.source = block[RQ_TABLE];
  if (int32_t rc = CheckTableEntry(r.source, block[RQ_TBL], kIndexDKALR1)) return rc;
  r.databank = a[r.source + TBE_DATABANK];
  const int32_t databank_kind = a[r.databank + DBE_KIND];
  const bool in_place =
      mode == -1 || (mode == -2 && (databank_kind == DBE_KIND_SHADOW || databank_kind == 6));
  r.target = in_place ? r.source : block[ALR_TARGET];
  if (!in_place) {
    if (int32_t rc = CheckTableEntry(r.target, block[ALR_TARGET_TBL], kIndexDKALR1)) return rc;
    if (r.target == r.source) return Report(-46, block[ALR_TARGET_TBL], r.databank);
  }
  r.old_key = block[RQ_KEY_LENGTH];
  r.old_length = block[RQ_RECORD_LENGTH];
  r.new_key = block[ALR_NEW_KEY];
  r.new_length = block[ALR_NEW_LENGTH];
  for (int w : {ALR_DATA_PAGE_SIZE, ALR_INDEX_PAGE_SIZE})
    if (block[w] != 0 && FindPool(block[w]) == 0) return Report(-76, block[w], r.databank);
  if (r.new_key < 1 || r.new_key > r.new_length || r.new_length > LoadWord(BP_MAX_RECORD_LENGTH))
    return Report(-67, r.new_length, r.databank);
  r.data_size = block[ALR_DATA_PAGE_SIZE] != 0 ? block[ALR_DATA_PAGE_SIZE] : DKBSC0(r.new_length);
  r.index_size = block[ALR_INDEX_PAGE_SIZE] != 0 ? block[ALR_INDEX_PAGE_SIZE] : DKBSC0(r.new_key);
  if (r.data_size < 0 || r.index_size < 0) return Report(-76, r.new_length, r.databank);
  int32_t source_entry[kRootEntryWords];
  if (int32_t rc = ReadRoot(r.source, source_entry)) return rc;
  const int32_t* e = source_entry + 1;
  if (e[RE_RECORD_LENGTH] != r.old_length || e[RE_KEY_LENGTH] != r.old_key) {
    if (mode == -1 || e[RE_RECORD_LENGTH] == r.new_length) return 0;
    return Report(-67, r.old_length, r.databank);
  }
  if (int32_t rc = FindLayout(block, r)) return rc;
  const int32_t code = block[ALR_TYPE] == -1 ? -1 : block[ALR_TYPE] % 100;
  if (int32_t rc = ReadRoot(r.target, r.target_entry)) return rc;
  const int32_t* te = r.target_entry + 1;
  r.kind = code == -1 ? te[RE_KIND] % 10 : (code >= 11 ? code - 10 : code);
  r.method = code == -1 ? te[RE_METHOD] : (code >= 11 ? 1 : 0);
  if (r.kind < 0 || r.kind > 9) return Report(-43, block[ALR_TYPE], r.databank);
  // The table's own second entry may be the target: it is kept.
  if (a[r.source + TBE_SECOND] != r.target) DKFreeSecondEntry(r.source);
  if (!in_place) DKFreeSecondEntry(r.target);
  if (int32_t rc = Rebuild(block, r)) return rc < 0 ? Report(rc, block[RQ_TBL], r.databank) : rc;
  // The tree the target had (the old records, rewritten in place) goes once
  // the new one is installed.
  if (te[RE_LEVELS] > 0)
    DKDRP0(a[r.target + TBE_DATABANK], te[RE_TOP], te[RE_LEVELS], te[RE_INDEX_PAGE_SIZE],
           te[RE_DATA_PAGE_SIZE], te[RE_KEY_LENGTH], te[RE_KIND]);
  return 0;
}

}  // namespace

void DKALR1(int32_t* block) {
  block[RQ_STATUS] = Run(block);
}
