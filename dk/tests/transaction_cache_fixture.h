// The transaction cache tests' table: 8-byte keys and 24-byte rows holding
// a value, the row requests sent through the dispatcher, and readers of the
// cache table's records and of the base table's rows.
#pragma once

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "dk/tests/transaction_fixture.h"
#include "dk/transaction_cache.h"

class TransactionCacheTest : public TransactionTest {
 protected:
  static constexpr int32_t kKey = 8, kLength = 24;

  void SetUp() override {
    TransactionTest::SetUp();
    t_ = CreateTable(60, kKey, kLength);
  }

  static std::string Row(int32_t key, int32_t value) {
    std::string r(kLength, '\0');
    for (int i = 0; i < 4; ++i) r[4 + i] = static_cast<char>(key >> (24 - 8 * i));
    std::memcpy(r.data() + kKey, &value, 4);
    return r;
  }
  static int32_t ValueOf(const std::string& r) {
    int32_t v = 0;
    std::memcpy(&v, r.data() + kKey, 4);
    return v;
  }

  // A row request (DKINT1, DKDET1, DKCHT1, DKFNT1) for `row`.
  std::vector<int32_t> Request(int32_t tss, int32_t mode, int32_t sequence, const std::string& row,
                               const Table* t = nullptr) {
    const Table& table = t ? *t : t_;
    std::vector<int32_t> b(static_cast<size_t>(TcRequestWords(kLength) + 2), 0);
    b[TC_TSS] = tss;
    b[TC_MODE] = mode;
    b[TC_TABLE] = table.entry;
    b[TC_TBL] = table.tbl;
    b[TC_KEY_LENGTH] = table.key;
    b[TC_RECORD_LENGTH] = table.length;
    b[TC_SEQUENCE] = sequence;
    std::memcpy(b.data() + TC_ROW, row.data(), row.size());
    return b;
  }
  int32_t Send(int32_t code, std::vector<int32_t> b) {
    DKEXE1(code, b.data());
    last_ = b;
    return b[TC_MODE];
  }
  int32_t Cache(int32_t tss, int32_t kind, int32_t sequence, const std::string& row) {
    return Send(39, Request(tss, kind, sequence, row));
  }
  int32_t CheckRow(int32_t tss, int32_t sequence, const std::string& row) {
    return Send(11, Request(tss, -1, sequence, row));
  }
  // DKFNT1 mode 2: the row of that key as the transaction sees it through
  // the cache; the delivered row in *out.
  int32_t FetchRow(int32_t tss, int32_t sequence, const std::string& row, std::string* out) {
    int32_t rc = Send(28, Request(tss, 2, sequence, row));
    out->assign(reinterpret_cast<const char*>(last_.data() + TC_ROW), kLength);
    return rc;
  }
  int32_t CacheState(int32_t tss, int32_t mode, int32_t sequence, const std::string& row,
                     int32_t count = 0) {
    std::vector<int32_t> b(CCS_ROW + kLength / 4 + 2, 0);
    b[CCS_TSS] = tss;
    b[CCS_MODE] = mode;
    b[CCS_COUNT] = count;
    b[CCS_TABLE] = t_.entry;
    b[CCS_TBL] = t_.tbl;
    b[CCS_KEY_LENGTH] = kKey;
    b[CCS_SEQUENCE] = sequence;
    std::memcpy(b.data() + CCS_ROW, row.data(), kKey);
    DKEXE1(9, b.data());
    return b[CCS_ANSWER];
  }

  // The cache table's records in key order: their suffixes.
  std::vector<CacheSuffix> CacheRecords() {
    std::vector<CacheSuffix> out;
    const int32_t cache = area_[t_.entry + TBE_SECOND];
    if (cache == 0) return out;
    Table c{cache, -1, kKey + kSuffixKeyBytes, kLength + kSuffixBytes};
    for (const std::string& r : Rows(c))
      out.push_back(DKReadCacheSuffix(reinterpret_cast<const uint8_t*>(r.data()) + kKey));
    return out;
  }

  // The base table's row of a key, if any.
  std::optional<std::string> BaseRow(const std::string& row) {
    std::vector<int32_t> b(CursorBlockWords(kLength) + 1, 0);
    b[CUR_TABLE] = t_.entry;
    b[CUR_TBL] = t_.tbl;
    b[CUR_KEY_LENGTH] = kKey;
    b[CUR_RECORD_LENGTH] = kLength;
    b[CUR_STATUS] = FET_FROM_KEY;
    std::memcpy(b.data() + CUR_RECORD, row.data(), kKey);
    DKEXE1(27, b.data());
    std::string found(reinterpret_cast<const char*>(b.data() + CUR_RECORD), kLength);
    if (b[CUR_STATUS] != 0 || found.substr(0, kKey) != row.substr(0, kKey)) return std::nullopt;
    return found;
  }

  Table t_;
  std::vector<int32_t> last_;
};
