// Table statistics: the statement, the scan, the sample of distinct values
// and the storing of the figures through the dictionary's services.
#include "du/table_statistics.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "du/pool_words.h"
#include "du/record_access_words.h"
#include "du/transactions.h"
#include "kernel/error_report.h"
#include "platform/decimal_text.h"

namespace {

using du::W;

constexpr int32_t kLanes[256 * 4] = {
#include "du/statistics_hash_table.inc"
};

std::atomic<const DUStatisticsServices*> g_services{nullptr};

constexpr int32_t kMaxRecord = 1 << 24;  // bytes of the longest record taken

const DUStatisticsServices* Services() {
  return g_services.load(std::memory_order_acquire);
}

int32_t Absent(const char* name) {
  DSErrRep(name, static_cast<int32_t>(std::strlen(name)), STAT_NO_SYSTEM, SEV_ERROR);
  return STAT_NO_SYSTEM;
}

// Calls one service with `pb`, or answers its absence in pb[0].
template <typename Member, typename... Args>
void Call(int32_t* pb, Member member, const char* name, Args&&... args) {
  const DUStatisticsServices* s = Services();
  if (!s || !(s->*member)) {
    pb[0] = Absent(name);
    return;
  }
  (s->*member)(std::forward<Args>(args)...);
}

uint8_t* Bytes(int32_t* base, int32_t index) {
  return reinterpret_cast<uint8_t*>(&W(base, index));
}

int32_t* Hashes(int32_t* base, int32_t entry) {
  return &W(base, W(base, entry + CS_HASHES));
}

uint32_t LowMask(int32_t depth) {
  return depth >= 32 ? 0xFFFFFFFFu : (uint32_t{1} << depth) - 1;
}

// Makes room in a full sample: one more hash bit must match the selector.
void Reduce(int32_t* base, int32_t entry) {
  int32_t depth = W(base, entry + CS_DEPTH);
  if (depth >= 32) return;
  ++depth;
  uint32_t selector = static_cast<uint32_t>(W(base, entry + CS_SELECTOR));
  const uint32_t bit = uint32_t{1} << (depth - 1);
  if (depth % 2 == 1) selector |= bit;
  W(base, entry + CS_DEPTH) = depth;
  W(base, entry + CS_SELECTOR) = static_cast<int32_t>(selector);
  int32_t* h = Hashes(base, entry);
  const int32_t count = W(base, entry + CS_COUNT);
  int32_t matching = 0;
  for (int32_t i = 0; i < count; ++i)
    if ((static_cast<uint32_t>(h[i]) & bit) == (selector & bit)) ++matching;
  if (matching > 0 && matching < count) {
    int32_t kept = 0;
    for (int32_t i = 0; i < count; ++i)
      if ((static_cast<uint32_t>(h[i]) & bit) == (selector & bit)) h[kept++] = h[i];
    std::fill(h + kept, h + count, 0);
    W(base, entry + CS_COUNT) = kept;
  } else {
    std::fill(h + STAT_SAMPLE / 2, h + count, 0);
    W(base, entry + CS_COUNT) = std::min(count, STAT_SAMPLE / 2);
  }
}

bool Admitted(int32_t* base, int32_t entry, uint32_t hash) {
  const int32_t depth = W(base, entry + CS_DEPTH);
  if (depth <= 0) return true;
  const uint32_t mask = LowMask(depth);
  return (hash & mask) == (static_cast<uint32_t>(W(base, entry + CS_SELECTOR)) & mask);
}

bool Cancelled(int32_t* base, int32_t usr) {
  const int32_t cha = usr > 0 ? W(base, usr + USR_CHA) : 0;
  if (cha <= 0) return false;
  return du::AtomicLoad(base, cha + CHA_REQNO) == du::AtomicLoad(base, cha + CHA_REQNO_CANCEL);
}

// The entries the scan statement's chain counts (see DUCountUsers); the
// chain block's count word keeps its value.
int32_t ChainUsers(int32_t* base, int32_t usr, int32_t all) {
  const DUStatisticsServices* s = Services();
  const int32_t block = s && s->scan_chain ? s->scan_chain(base, usr) : 0;
  if (block <= 0) return 0;
  const int32_t kept = W(base, block + 19);
  DUCountUsers(base, block, all);
  const int32_t count = W(base, block + 19);
  W(base, block + 19) = kept;
  return count;
}

void FreeChain(int32_t* base, int32_t chain) {
  while (chain != 0) {
    const int32_t next = W(base, chain + CS_NEXT);
    du::FreeBlock(base, W(base, chain + CS_HASHES));
    du::FreeBlock(base, chain);
    chain = next;
  }
}

// The column entries of a table in column order; 0 in *chain when it has
// no columns. Status 0 or negative.
int32_t BuildChain(int32_t* base, int32_t usr, int32_t table_id, int32_t* chain) {
  *chain = 0;
  int32_t last = 0;
  int32_t offset = 0;
  int32_t pb[2] = {1, usr};
  for (;;) {
    StatColumn column{};
    pb[1] = usr;
    Call(pb, &DUStatisticsServices::next_column, "DDCurColumns", base, pb, table_id, &column);
    if (pb[0] > 0) return 0;
    if (pb[0] < 0) return pb[0];
    pb[0] = 0;
    // No record is longer than kMaxRecord: the offsets never pass it.
    if (column.stored < 1 || column.stored > kMaxRecord - offset || column.name_length < 0 ||
        column.name_length > CS_NAME_MAX)
      return STAT_BAD_ARGUMENT;
    const int32_t entry = du::NewBlock(base, CS_BYTES);
    if (entry == 0) return STAT_NO_STORAGE;
    if (last == 0) *chain = entry; else W(base, last + CS_NEXT) = entry;
    last = entry;
    W(base, entry + CS_LENGTH) = column.stored;
    W(base, entry + CS_OFFSET) = offset;
    offset += column.stored;
    DUStatColumnKind(base, entry, column);
    W(base, entry + CS_NAME_LENGTH) = column.name_length;
    std::memcpy(Bytes(base, entry + CS_NAME), column.name, column.name_length);
  }
}

// Every column lies inside the record.
bool ChainFits(int32_t* base, int32_t chain, int32_t reclen) {
  for (int32_t e = chain; e != 0; e = W(base, e + CS_NEXT)) {
    const int32_t hashed = W(base, e + CS_KIND) == 1 ? 1 + W(base, e + CS_HASHED)
                                                     : W(base, e + CS_LENGTH);
    if (W(base, e + CS_OFFSET) + std::max(hashed, W(base, e + CS_LENGTH)) > reclen) return false;
  }
  return true;
}

// Writes the figures of one table; status of the storing transaction.
int32_t StoreFigures(int32_t* base, int32_t usr, const StatTable& table, int32_t chain,
                     int32_t row_count, const uint8_t* low, const uint8_t* high) {
  int32_t pb[3] = {1, usr, 0};  // DSEndTrans reads word 2, the statement (none)
  Call(pb, &DUStatisticsServices::begin_transaction, "DSBTR3", base, pb);
  // The statement runs inside dictionary work, whose transaction the
  // scan's statement has read in: an open transaction counts as begun.
  if (pb[0] == DU_TRANSACTION_OPEN) pb[0] = 0;
  if (pb[0] < 0) return pb[0];
  int32_t mode = 1;
  for (int32_t e = chain; e != 0; e = W(base, e + CS_NEXT), mode = 2) {
    int32_t estimate = W(base, e + CS_ESTIMATE);
    const int32_t nonnull = W(base, e + CS_NONNULL);
    char low_text[STAT_TEXT];
    char high_text[STAT_TEXT];
    if (estimate > 0 && !(DUStatValueText(base, e, low, low_text) &&
                          DUStatValueText(base, e, high, high_text)))
      estimate = -1;
    if (estimate <= 0) estimate = -1;
    const bool figures = estimate > 0;
    pb[0] = mode;
    pb[1] = usr;
    Call(pb, &DUStatisticsServices::update_statistics, "DDUpdStatistics", base, pb, table.id, 0,
              reinterpret_cast<const char*>(Bytes(base, e + CS_NAME)), W(base, e + CS_NAME_LENGTH),
              &row_count, &estimate, figures ? &nonnull : nullptr, figures ? low_text : nullptr,
              figures ? high_text : nullptr);
    if (pb[0] < 0) return pb[0];
  }
  pb[0] = 1;
  for (;;) {
    int32_t key = 0;
    pb[1] = usr;
    Call(pb, &DUStatisticsServices::next_key, "DDCurKeys", base, pb, table.id, &key);
    if (pb[0] > 0) break;
    if (pb[0] < 0) return pb[0];
    int32_t kb[2] = {3, usr};
    const int32_t* none = nullptr;
    Call(kb, &DUStatisticsServices::update_statistics, "DDUpdStatistics", base, kb, table.id, key, nullptr, 0,
                &row_count, none, none, nullptr, nullptr);
    if (kb[0] < 0) return kb[0];
    pb[0] = 0;
  }
  pb[0] = END_AUTOMATIC;
  pb[1] = usr;
  Call(pb, &DUStatisticsServices::end_transaction, "DSEndTrans", base, pb);
  return pb[0];
}

// Gathers (or removes) the statistics of one table.
int32_t OneTable(int32_t* base, int32_t usr, bool remove, const StatTable& table,
                 int32_t* key_pass, int32_t* stored) {
  if (table.reclen < 1 || table.reclen > kMaxRecord) return STAT_BAD_ARGUMENT;
  int32_t chain = 0;
  int32_t status = BuildChain(base, usr, table.id, &chain);
  if (status == 0 && !ChainFits(base, chain, table.reclen)) status = STAT_BAD_ARGUMENT;
  // The row buffer and the two images are as long as this table's records.
  const int32_t row = status == 0 ? du::NewBlock(base, table.reclen) : 0;
  const int32_t low = row != 0 ? du::NewBlock(base, table.reclen) : 0;
  const int32_t high = low != 0 ? du::NewBlock(base, table.reclen) : 0;
  if (status == 0 && high == 0) status = STAT_NO_STORAGE;
  int32_t row_count = 0;
  if (status == 0) {
    int32_t pb[2] = {0, usr};
    Call(pb, &DUStatisticsServices::end_open_transaction, "DSEndTransIfOpen", base, pb);
    status = pb[0] < 0 ? pb[0] : 0;
  }
  if (status == 0 && !remove) {
    for (int32_t e = chain; e != 0 && status == 0; e = W(base, e + CS_NEXT)) {
      const int32_t list = du::NewBlock(base, 4 * STAT_SAMPLE);
      if (list == 0) status = STAT_NO_STORAGE;
      W(base, e + CS_HASHES) = list;
    }
    if (status == 0) {
      int32_t pb[2] = {0, usr};
      DSTabStatScan(base, pb, &row_count, table, chain, Bytes(base, row), Bytes(base, low),
                    Bytes(base, high), key_pass);
      status = pb[0];
    }
    for (int32_t e = chain; e != 0; e = W(base, e + CS_NEXT)) {
      W(base, e + CS_ESTIMATE) = DUStatEstimate(base, e, row_count);
      du::FreeBlock(base, W(base, e + CS_HASHES));
      W(base, e + CS_HASHES) = 0;
    }
  } else {
    for (int32_t e = chain; e != 0; e = W(base, e + CS_NEXT)) W(base, e + CS_ESTIMATE) = -1;
  }
  for (int32_t attempt = 0; status == 0; ++attempt) {
    status = StoreFigures(base, usr, table, chain, row_count, Bytes(base, low), Bytes(base, high));
    if (status != -10001 || attempt >= STAT_MAX_RETRIES) break;
    status = 0;
  }
  if (status == 0) ++*stored;
  if (status == 0 && remove) *key_pass = 0;
  FreeChain(base, chain);
  du::FreeBlock(base, high);
  du::FreeBlock(base, low);
  du::FreeBlock(base, row);
  return status;
}

}  // namespace

const DUStatisticsServices* DUInstallStatisticsServices(const DUStatisticsServices* services) {
  return g_services.exchange(services, std::memory_order_acq_rel);
}

int32_t DUStatHashLane(int32_t i, int32_t k) {
  return kLanes[4 * (i & 255) + (k & 3)];
}

uint32_t DUStatHash(const uint8_t* bytes, int32_t length) {
  uint32_t h0 = 0, h1 = 0, h2 = 0, h3 = 0;
  for (int32_t i = 0; i < length; ++i) {
    const uint32_t c = bytes[i];
    h0 = static_cast<uint32_t>(kLanes[4 * (c ^ h0) + 0]);
    h1 = static_cast<uint32_t>(kLanes[4 * (c ^ h1) + 1]);
    h2 = static_cast<uint32_t>(kLanes[4 * (c ^ h2) + 2]);
    h3 = static_cast<uint32_t>(kLanes[4 * (c ^ h3) + 3]);
  }
  return h0 | h1 << 8 | h2 << 16 | h3 << 24;
}

void DSTabStatHash(int32_t* base, int32_t entry, const uint8_t* row) {
  const int32_t offset = W(base, entry + CS_OFFSET);
  const uint32_t hash = W(base, entry + CS_KIND) == 1
                            ? DUStatHash(row + offset + 1, W(base, entry + CS_HASHED))
                            : DUStatHash(row + offset, W(base, entry + CS_LENGTH));
  if (!Admitted(base, entry, hash)) return;
  int32_t* h = Hashes(base, entry);
  int32_t count = W(base, entry + CS_COUNT);
  if (std::find(h, h + count, static_cast<int32_t>(hash)) != h + count) return;
  // Only a hash that would be the 101st reduces the sample.
  while (count >= STAT_SAMPLE && W(base, entry + CS_DEPTH) < 32) {
    Reduce(base, entry);
    count = W(base, entry + CS_COUNT);
    if (!Admitted(base, entry, hash)) return;
  }
  if (count >= STAT_SAMPLE) return;
  h[count] = static_cast<int32_t>(hash);
  W(base, entry + CS_COUNT) = count + 1;
}

void DUStatColumnKind(int32_t* base, int32_t entry, const StatColumn& c) {
  int32_t kind = 1;
  int32_t hashed = c.length;
  switch (c.type_code) {
    case 1: case 5: case 29: case 30: break;
    case 34: case 35: hashed = c.length * 3; break;
    case 31: case 32: case 33: hashed = 12; break;
    default:
      kind = 2;
      hashed = c.length - (c.scale > 0 ? 1 : 0);
      if (c.type_code >= 12 && c.type_code <= 15) hashed = 2 * c.stored - 3;
  }
  // Never hash past the stored column.
  if (kind == 1) hashed = std::clamp(hashed, 0, c.stored - 1);
  W(base, entry + CS_KIND) = kind;
  W(base, entry + CS_HASHED) = hashed;
}

int32_t DUStatEstimate(int32_t* base, int32_t entry, int32_t row_count) {
  if (row_count <= 0) return 0;
  const int32_t depth = W(base, entry + CS_DEPTH);
  const int64_t estimate = int64_t{W(base, entry + CS_COUNT)} << std::min(depth, 32);
  return static_cast<int32_t>(std::min<int64_t>(estimate, W(base, entry + CS_NONNULL)));
}

bool DUStatValueText(int32_t* base, int32_t entry, const uint8_t* image, char out[STAT_TEXT]) {
  const int32_t offset = W(base, entry + CS_OFFSET);
  const int32_t length = W(base, entry + CS_LENGTH);
  if (W(base, entry + CS_KIND) == 1) {
    const int32_t n = std::min(W(base, entry + CS_HASHED), STAT_TEXT);
    std::memset(out, ' ', STAT_TEXT);
    std::memcpy(out, image + offset + 1, n);
    return true;
  }
  // A packed decimal as text, its own fraction digits kept while they fit.
  const int32_t precision = std::min(2 * length - 3, kDecimalMaxPrecision);
  if (precision < 1) return false;
  const value_descriptor value{offset, precision, -1, 0};
  const ConstByteSpan area(image, static_cast<size_t>(offset + length));
  const ByteSpan text(reinterpret_cast<uint8_t*>(out), STAT_TEXT);
  int32_t digits = 0, fraction = 0;
  if (decimal_digits_info(area, value, &digits, &fraction) != 0) return false;
  const int32_t format = fraction == 0 ? kDecimalTextInteger
                       : fraction < 0    ? kDecimalTextExponent
                                         : std::min(fraction, 12);
  int32_t status = decimal_to_fitted_text(text, 0, STAT_TEXT, format, area, value);
  if (status < -1) status = decimal_to_fitted_text(text, 0, STAT_TEXT, kDecimalTextExponent, area, value);
  return status == 0 || status == -1;
}

void DUCountUsers(int32_t* base, int32_t block, int32_t all) {
  int32_t count = 0;
  if (W(base, block + 6) > 0) {
    for (int32_t e = W(base, block + 2), steps = 0; e > 0 && steps < 1 << 20;
         e = W(base, e), ++steps)
      if (all >= 1 || W(base, e + 7) != 0) ++count;
  }
  W(base, block + 19) = count;
}

void DSTabStatScan(int32_t* base, int32_t* pb, int32_t* row_count, const StatTable& table,
                   int32_t chain, uint8_t* row, uint8_t* low, uint8_t* high, int32_t* key_pass) {
  const int32_t usr = pb[1];
  const int32_t sys = du::SystemBlock(base);
  if (sys == 0) {
    pb[0] = STAT_NO_SYSTEM;
    return;
  }
  const int32_t reclen = table.reclen;
  std::memset(low, 255, reclen);
  std::memset(high, 0, reclen);
  *row_count = 0;
  int32_t sb[2] = {1, usr};
  for (bool first = true;; first = false) {
    Call(sb, &DUStatisticsServices::scan_rows, "DDScanTableRows", base, sb, table, row);
    if (sb[0] > 0) break;
    if (sb[0] < 0) {
      pb[0] = sb[0];
      return;
    }
    sb[0] = 0;
    if (first && *key_pass != 3 && ChainUsers(base, usr, *key_pass == 2 ? 0 : 1) == 0)
      *key_pass = 0;
    if (Cancelled(base, usr)) {
      du::LockedAdd(base, sys + SYS_ST_CANCEL_COUNT, 1);
      pb[0] = STAT_CANCELLED;
      return;
    }
    ++*row_count;
    for (int32_t e = chain; e != 0; e = W(base, e + CS_NEXT)) {
      const int32_t offset = W(base, e + CS_OFFSET);
      const int32_t length = W(base, e + CS_LENGTH);
      const uint8_t* value = row + offset;
      if (value[0] == 255) continue;
      ++W(base, e + CS_NONNULL);
      if (std::memcmp(value, high + offset, length) > 0) std::memcpy(high + offset, value, length);
      if (std::memcmp(value, low + offset, length) < 0) std::memcpy(low + offset, value, length);
      DSTabStatHash(base, e, row);
    }
  }
  pb[0] = 0;
}

void DSTabStatKeys(int32_t* base, int32_t* pb, const char* schema, int32_t schema_length,
                   const char* table_name, int32_t table_length, int32_t flag) {
  const int32_t usr = pb[1];
  StatTable table;
  pb[0] = 0;
  Call(pb, &DUStatisticsServices::get_table, "DDGetObjectIds", base, pb, schema,
       std::clamp(schema_length, 0, CS_NAME_MAX), table_name,
       std::clamp(table_length, 0, CS_NAME_MAX), &table);
  if (pb[0] != 0) return;
  if (table.reclen < 1 || table.reclen > kMaxRecord) {
    pb[0] = STAT_BAD_ARGUMENT;
    return;
  }
  const int32_t row = du::NewBlock(base, table.reclen);
  if (row == 0) {
    pb[0] = STAT_NO_STORAGE;
    return;
  }
  pb[0] = 1;
  Call(pb, &DUStatisticsServices::scan_rows, "DDScanTableRows", base, pb, table, Bytes(base, row));
  du::FreeBlock(base, row);
  if (pb[0] < 0) return;
  const int32_t count = ChainUsers(base, usr, flag == 2 || flag == 3 ? 0 : 1);
  pb[0] = 0;
  if (count == 0) return;
  Call(pb, &DUStatisticsServices::end_open_transaction, "DSEndTransIfOpen", base, pb);
  if (pb[0] < 0) return;
  pb[0] = 0;
  pb[1] = usr;
  Call(pb, &DUStatisticsServices::key_batches, "DSTabStatKeys batches", base, pb, table, flag);
}

void DSTabStat(int32_t* base, int32_t* pb, const char* schema, int32_t schema_length,
               const char* table_name, int32_t table_length, int32_t* key_pass) {
  const bool remove = pb[0] != 0;
  const int32_t usr = pb[1];
  const int32_t sys = du::SystemBlock(base);
  if (sys == 0) {
    pb[0] = STAT_NO_SYSTEM;
    return;
  }
  if (usr <= 0 || W(base, usr + USR_DDUCOM) == 0) {
    pb[0] = STAT_NO_DICTIONARY;
    return;
  }
  schema_length = std::clamp(schema_length, 0, CS_NAME_MAX);
  table_length = std::clamp(table_length, 0, CS_NAME_MAX);
  const int32_t mode = table_length >= 1 ? 1 : schema_length >= 1 ? 2 : 3;
  const int32_t user_length = std::clamp(W(base, usr + USR_CURRENT_USER_LENGTH), 0, CS_NAME_MAX);
  pb[0] = 0;
  Call(pb, &DUStatisticsServices::check_privilege, "DDChkPrivilege", base, pb, STAT_PRIVILEGE, 0,
            reinterpret_cast<const char*>(Bytes(base, usr + USR_CURRENT_USER)), user_length);
  if (pb[0] < 0) return;
  if (pb[0] == 0) {
    pb[0] = 2;
    return;
  }
  int32_t status = 0;
  int32_t stored = 0;  // tables whose figures were stored
  if (mode == 1) {
    StatTable table;
    pb[0] = 0;
    Call(pb, &DUStatisticsServices::get_table, "DDGetObjectIds", base, pb, schema, schema_length, table_name,
              table_length, &table);
    if (pb[0] > 0) status = STAT_NOT_FOUND;
    else if (pb[0] < 0) status = pb[0];
    else if (table.kind == 3 || table.kind == 4) status = 3;
    else status = OneTable(base, usr, remove, table, key_pass, &stored);
    if (status == 0 && !remove && *key_pass != 0) {
      int32_t kb[2] = {0, usr};
      DSTabStatKeys(base, kb, schema, schema_length, table_name, table_length, *key_pass);
      status = kb[0];
    }
    if (status == 0) {
      pb[0] = 0;
      Call(pb, &DUStatisticsServices::list_dependencies, "DDListDeps", base, pb, table.id);
      if (pb[0] < 0) status = pb[0];
    }
  } else {
    if (mode == 2) {
      pb[0] = 0;
      Call(pb, &DUStatisticsServices::find_schema, "DDCurSchema", base, pb, schema, schema_length);
      if (pb[0] != 0) {
        if (pb[0] > 0) pb[0] = 1;
        return;
      }
    }
    char schema_out[CS_NAME_MAX];
    char name_out[CS_NAME_MAX];
    for (pb[0] = 1; status == 0;) {
      pb[1] = usr;
      Call(pb, &DUStatisticsServices::next_table, "DDCurTables", base, pb, schema, mode == 2 ? schema_length : 0,
                schema_out, name_out);
      if (pb[0] > 0) break;
      if (pb[0] < 0) {
        status = pb[0];
        break;
      }
      StatTable table;
      int32_t tb[2] = {0, usr};
      Call(tb, &DUStatisticsServices::get_table, "DDGetObjectIds", base, tb, schema_out, CS_NAME_MAX, name_out,
                  CS_NAME_MAX, &table);
      int32_t one = tb[0] > 0 ? STAT_NOT_FOUND : tb[0];
      int32_t pass = *key_pass;
      if (one == 0 && table.kind != 3 && table.kind != 4)
        one = OneTable(base, usr, remove, table, &pass, &stored);
      if (one == 0 && !remove && pass != 0) {
        int32_t kb[2] = {0, usr};
        DSTabStatKeys(base, kb, schema_out, CS_NAME_MAX, name_out, CS_NAME_MAX, pass);
        one = kb[0];
      }
      if (one == 0 && mode == 2) {
        tb[0] = 0;
        Call(tb, &DUStatisticsServices::list_dependencies, "DDListDeps", base, tb, table.id);
        one = tb[0] < 0 ? tb[0] : 0;
      }
      if (one != 0 && one != -16142 && one != -16143 && one != -16144) status = one;
      pb[0] = 0;
    }
    if (status == 0 && mode == 3) {
      pb[0] = 2;
      pb[1] = usr;
      Call(pb, &DUStatisticsServices::list_dependencies, "DDListDeps", base, pb, 0);
      if (pb[0] < 0) status = pb[0];
    }
  }
  // Compiled statements are compiled again once any figures changed.
  if (stored > 0) du::LockedAdd(base, sys + SYS_SHP_TIMESTAMP, 1);
  pb[0] = status;
  pb[1] = usr;
}
