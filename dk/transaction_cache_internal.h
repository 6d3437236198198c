// What the transaction cache's files share: reports under a routine index,
// the transaction check of the entry routines, and a cursor over a cache
// table with the row key and suffix of the record it holds.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "dk/table_cursor.h"
#include "dk/transaction_cache.h"

namespace dktc {

constexpr int32_t kIndexDKCHT1 = 11, kIndexDKDET1 = 21, kIndexDKFNT1 = 28, kIndexDKFPT1 = 29,
                  kIndexDKINT1 = 39, kIndexDKCCS1 = 9;
constexpr int32_t kRcBadParameter = -43, kRcTable = -46, kRcCorrupt = -66, kRcTss = -85,
                  kRcMode = -86;
constexpr int32_t kNoCache = 4;

int32_t Report(int32_t routine, int32_t rc, int32_t value);

// Area words the transactions change under the TSS lock (236), read under
// it: the low start limit (131) and the commits secured on disk (189).
int32_t TssLockedWord(int32_t word);

// 0 when `tss` is a TSS entry building up or in doubt, else -85 reported.
int32_t CheckTss(int32_t tss, int32_t routine);

// A DKFET1 block over a cache table, as DKDPT0 fills it.
class CacheCursor {
 public:
  std::vector<int32_t>* block() { return &block_; }
  int32_t key_length() const { return block_[CUR_KEY_LENGTH]; }
  int32_t record_length() const { return block_[CUR_RECORD_LENGTH]; }
  int32_t row_key_length() const { return key_length() - kSuffixKeyBytes; }
  uint8_t* record() { return reinterpret_cast<uint8_t*>(block_.data() + CUR_RECORD); }
  CacheSuffix suffix() { return DKReadCacheSuffix(record() + row_key_length()); }

  // Fetches with `mode` from the key in `key` (cache key length bytes).
  int32_t Fetch(int32_t mode, const uint8_t* key) {
    std::memcpy(record(), key, static_cast<size_t>(key_length()));
    return Next(mode);
  }
  int32_t Next(int32_t mode = FET_NEXT) {
    block_[CUR_STATUS] = mode;
    DKFET1(block_.data());
    return block_[CUR_STATUS];
  }
  // The same backwards (DKFEP1): modes as for DKFET1, towards smaller keys.
  int32_t FetchBack(int32_t mode, const uint8_t* key) {
    std::memcpy(record(), key, static_cast<size_t>(key_length()));
    return Previous(mode);
  }
  int32_t Previous(int32_t mode = FET_NEXT) {
    block_[CUR_STATUS] = mode;
    DKFEP1(block_.data());
    return block_[CUR_STATUS];
  }
  // The search key made of `row` (the row key length) and `fill` bytes.
  std::vector<uint8_t> KeyOf(const uint8_t* row, uint8_t fill) const {
    std::vector<uint8_t> key(static_cast<size_t>(key_length()), fill);
    std::memcpy(key.data(), row, static_cast<size_t>(row_key_length()));
    return key;
  }
  // The current record's key with its suffix part set to `fill` bytes.
  std::vector<uint8_t> RowKeyWith(uint8_t fill) { return KeyOf(record(), fill); }
  // Removes the current record (stale, or of a writer gone) and positions
  // so that the next fetch with FET_AFTER_KEY goes on behind it.
  int32_t RemoveAndStep() {
    std::vector<uint8_t> key(record(), record() + key_length());
    if (int32_t rc = DKDLT0(&block_); rc < 0) return rc;
    return Fetch(FET_AFTER_KEY, key.data());
  }

 private:
  std::vector<int32_t> block_;
};

// Sets the cursor to the cache table's own record length; the table must
// have the cursor's key length (else -67 under `routine`).
int32_t UseCacheLengths(CacheCursor* cur, int32_t routine);

// The kind seen from a transaction that began before the change: an insert
// reads as deleted, a delete as the row there; 0 for an update (passed over)
// and -1 for a kind that is none.
int32_t ReversedKind(int32_t kind);

}  // namespace dktc
