// Generated key values of a table (DKGGK1): a base found once from the
// table's highest key and a counter raised by one on every call, so that
// the key base x 10^10 + counter is new however many threads ask at once.
#include <cstring>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/error_log.h"
#include "dk/table_cursor.h"
#include "dk/table_entries.h"
#include "dk/table_open.h"
#include "platform/enqdeq.h"
#include "platform/packed_decimal.h"

namespace {

constexpr int32_t kIndexDKGGK1 = 33;
constexpr int32_t kEmptyBase = 2;
constexpr int32_t kKeyDigits = 20;
constexpr int64_t kCounterScale = 10000000000;  // ten digits of counter

int32_t Report(int32_t rc, int32_t value) {
  ReportPageError(kIndexDKGGK1, rc, 2, value);
  return rc;
}

// The highest record of a table: fetch backwards from a key of bytes 255.
// Returns 0 with the record in *highest, kStatusEnd for an empty table, or
// a negative code.
int32_t HighestRecord(int32_t table, std::vector<uint8_t>* highest) {
  int32_t* a = Bufferpool();
  int32_t record = 0;
  int32_t b = GetRootEntry(table, GET_SHARED, kIndexDKGGK1, &record);
  if (b < 0) return b;
  const int32_t k = a[record + RE_KEY_LENGTH], length = a[record + RE_RECORD_LENGTH];
  DKPUT0(PUT_END_SHARED, b);
  if (k < 1 || length < k || length > LoadWord(BP_MAX_RECORD_LENGTH)) return Report(-67, length);
  std::vector<int32_t> cursor(static_cast<size_t>(CursorBlockWords(length)), 0);
  cursor[CUR_STATUS] = FET_FROM_KEY;
  cursor[CUR_TABLE] = table;
  cursor[CUR_TBL] = a[table + TBE_TBL];
  cursor[CUR_KEY_LENGTH] = k;
  cursor[CUR_RECORD_LENGTH] = length;
  std::memset(cursor.data() + CUR_RECORD, 0xFF, static_cast<size_t>(k));
  DKFEP1(cursor.data());
  if (cursor[CUR_STATUS] != 0) return cursor[CUR_STATUS];
  const auto* r = reinterpret_cast<const uint8_t*>(cursor.data() + CUR_RECORD);
  highest->assign(r, r + length);
  return 0;
}

uint32_t BigEndian32(const std::vector<uint8_t>& key) {
  if (key.size() < 4) return 0;
  return (uint32_t{key[0]} << 24) | (uint32_t{key[1]} << 16) | (uint32_t{key[2]} << 8) | key[3];
}

// The base of a table whose key is a DECIMAL(20,0): the first ten of the
// highest key's twenty digits plus 1, or 2 for an empty table.
int32_t DecimalBase(int32_t table, int32_t* base) {
  std::vector<uint8_t> highest;
  int32_t rc = HighestRecord(table, &highest);
  if (rc == kStatusEnd) {
    *base = kEmptyBase;
    return 0;
  }
  if (rc != 0) return rc;
  value_descriptor v{0, kKeyDigits, 0, 0};
  int32_t high = 0, low = 0;
  ConstByteSpan area(highest.data(), highest.size());
  if (static_cast<int32_t>(highest.size()) < decimal_bytes(kKeyDigits) ||
      decimal_to_int64_checked(&high, &low, area, v) != kDecimalOk)
    return Report(-77, 0);
  const int64_t value = (int64_t{high} << 32) | static_cast<uint32_t>(low);
  const int64_t first = value / kCounterScale;
  if (value < 0 || first >= INT32_MAX) return Report(-77, 0);
  *base = static_cast<int32_t>(first) + 1;
  return 0;
}

// The base of a table whose records refer to large objects: above every
// object number of the table and of its companion table of references.
int32_t LobBase(int32_t table, int32_t* base, int32_t* counter) {
  int32_t companion = 0;
  {
    EnqdeqGuard lock(Bufferpool() + BP_LOCK_TABLE_HASH);
    companion = DKHMI0(LoadWord(BP_TABLE_HASH), kLobReferenceTbl);
  }
  if (int32_t rc = CheckTableEntry(companion, kLobReferenceTbl, kIndexDKGGK1)) return rc;
  std::vector<uint8_t> own, refs;
  int32_t rc_own = HighestRecord(table, &own);
  if (rc_own < 0) return rc_own;
  int32_t rc_refs = HighestRecord(companion, &refs);
  if (rc_refs < 0) return rc_refs;
  *counter = 0;
  *base = kEmptyBase;
  const bool has_own = rc_own == 0, has_refs = rc_refs == 0;
  // The object number leads both keys; the higher of the two gives the base.
  const bool from_refs =
      has_refs &&
      (!has_own || std::memcmp(refs.data(), own.data(),
                               std::min<size_t>(8, std::min(refs.size(), own.size()))) > 0);
  if (from_refs) {
    *base = static_cast<int32_t>(BigEndian32(refs) + 1);
    *counter = 1;
  } else if (has_own) {
    *base = static_cast<int32_t>(BigEndian32(own) + 1);
  }
  return 0;
}

int32_t GenerateKey(int32_t* block) {
  const int32_t table = block[GGK_TABLE];
  if (int32_t rc = CheckTableEntry(table, block[GGK_TBL], kIndexDKGGK1)) return rc;
  int32_t* a = Bufferpool();
  if (LoadWord(table + TBE_KEY_BASE) == 0) {
    int32_t base = 0, counter = 0;
    int32_t rc = block[GGK_KIND] == kKindLobRefs ? LobBase(table, &base, &counter)
                                                 : DecimalBase(table, &base);
    if (rc != 0) return rc;
    EnqdeqGuard lock(a + BP_LOCK_TABLE_HASH);
    if (LoadWord(table + TBE_KEY_BASE) == 0) {
      StoreWord(table + TBE_KEY_COUNTER, counter);
      StoreWord(table + TBE_KEY_BASE, base);
    }
  }
  block[GGK_BASE] = LoadWord(table + TBE_KEY_BASE);
  block[GGK_COUNTER] = PoolWord(table + TBE_KEY_COUNTER).fetch_add(1, std::memory_order_acq_rel);
  return 0;
}

}  // namespace

void DKGGK1(int32_t* block) {
  block[GGK_STATUS] = GenerateKey(block);
}
