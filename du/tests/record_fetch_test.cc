// Row fetches against the kernel model: scans both ways over stored rows
// with the transaction's own inserts, updates and deletes agree with a
// std::map holding what the transaction should see; exact reads, the codes
// a fetch leaves, bad codes, kernel failures, a commit in the middle of a
// scan, and the classification of the current row for an update.
#include <gtest/gtest.h>

#include <random>

#include "du/record_operations.h"
#include "du/tests/record_access_fixture.h"

namespace {

constexpr int32_t kKey = 4, kLen = 12, kTbl = 7;

class RecordFetchTest : public RecordAccessTest {
 protected:
  RecordFetchTest() : record_(DurecWords(kLen), 0) {
    record_[DUREC_TBL] = kTbl;
    record_[DUREC_KEYLEN] = kKey;
    record_[DUREC_RECLEN] = kLen;
    record_[DUREC_MERGE] = 2;
    DSGetMem(base_, &work_, WRK_BYTES + 32768);
    EXPECT_EQ(Begin(1), 0);
  }

  static std::string Key(int n) {
    std::string k(kKey, '\0');
    k[0] = 'k';
    k[1] = static_cast<char>('a' + n / 26);
    k[2] = static_cast<char>('a' + n % 26);
    k[3] = '.';
    return k;
  }
  static std::string RowOf(const std::string& key, char fill) {
    return key + std::string(kLen - kKey, fill);
  }
  void Stored(const std::string& row) { kernel_.rows[kTbl][row.substr(0, kKey)] = row; }
  void Written(const std::string& row, int32_t status, int32_t order) {
    kernel_.writes[kTbl][row.substr(0, kKey)] = {status, row, order};
  }
  void SetKey(const std::string& key) {
    std::memcpy(record_.data() + DUREC_RECORD, key.data(), key.size());
  }
  std::string RowNow() {
    return std::string(reinterpret_cast<const char*>(record_.data() + DUREC_RECORD), kLen);
  }
  // A whole scan: start code 1 (or 2) from `from`, then each continuation.
  std::vector<std::pair<std::string, int32_t>> Scan(bool forward, const std::string& from) {
    std::vector<std::pair<std::string, int32_t>> out;
    SetKey(from);
    record_[DUREC_FETCH_CODE] = forward ? 1 : 2;
    record_[DUREC_STATUS] = 0;
    for (int n = 0; n < 10000; ++n) {
      DUFetchRow(base_, record_.data(), usr_, work_);
      if (record_[DUREC_STATUS] != 0) {
        EXPECT_EQ(record_[DUREC_STATUS], DU_NO_ROW);
        break;
      }
      out.emplace_back(RowNow(), record_[DUREC_FETCH_CODE]);
      record_[DUREC_STATUS] = 0;
    }
    return out;
  }

  std::vector<int32_t> record_;
  int32_t work_ = 0;
};

// What the transaction should see: stored rows with its entries laid over.
std::map<std::string, std::string> Visible(const KernelModel& k) {
  std::map<std::string, std::string> v =
      k.rows.count(kTbl) ? k.rows.at(kTbl) : std::map<std::string, std::string>{};
  if (k.writes.count(kTbl))
    for (const auto& [key, e] : k.writes.at(kTbl)) {
      if (e.status == 1)
        v.erase(key);
      else
        v[key] = e.row;
    }
  return v;
}

TEST_F(RecordFetchTest, ScansBothWaysAgreeWithTheModel) {
  for (uint32_t seed = 1; seed <= 25; ++seed) {
    SCOPED_TRACE(seed);
    kernel_.rows.clear();
    kernel_.writes.clear();
    std::mt19937 rng(seed);
    for (int n = 0; n < 60; ++n) {
      const std::string key = Key(static_cast<int>(rng() % 200));
      if (rng() % 2) Stored(RowOf(key, 's'));
      if (rng() % 3 == 0)
        Written(RowOf(key, 'w'), rng() % 3 == 0 ? 1 : 0, static_cast<int32_t>(rng() % 3));
    }
    const auto visible = Visible(kernel_);
    std::vector<std::string> expect;
    for (const auto& [key, row] : visible) expect.push_back(row);

    auto forward = Scan(true, std::string(kKey, '\0'));
    ASSERT_EQ(forward.size(), expect.size());
    for (size_t i = 0; i < expect.size(); ++i) {
      EXPECT_EQ(forward[i].first, expect[i]) << i;
      const std::string key = expect[i].substr(0, kKey);
      const bool from_writes = kernel_.writes[kTbl].count(key) != 0;
      const int32_t code = forward[i].second;
      if (from_writes) {
        EXPECT_TRUE(code >= 3 && code <= 10 && code % 2 == 1) << code;
        EXPECT_EQ(code == 3 || code == 5, kernel_.writes[kTbl][key].order != 0) << code;
      } else {
        EXPECT_TRUE(code == 11 || code == 13) << code;
      }
    }
    auto backward = Scan(false, std::string(kKey, '\xff'));
    ASSERT_EQ(backward.size(), expect.size());
    for (size_t i = 0; i < expect.size(); ++i)
      EXPECT_EQ(backward[i].first, expect[expect.size() - 1 - i]);

    // Exact reads: the transaction's version, nothing for a deleted row.
    for (int n = 0; n < 200; n += 7) {
      const std::string key = Key(n);
      SetKey(key);
      DUReadRowByKey(base_, record_.data(), usr_);
      if (visible.count(key)) {
        ASSERT_EQ(record_[DUREC_STATUS], 0) << n;
        EXPECT_EQ(RowNow(), visible.at(key));
      } else {
        EXPECT_EQ(record_[DUREC_STATUS], DU_NO_ROW) << n;
        EXPECT_EQ(record_[DUREC_FETCH_CODE], -1);
      }
    }
  }
}

TEST_F(RecordFetchTest, ExactKeyFetchNeverDeliversADeletedRow) {
  Stored(RowOf(Key(1), 's'));
  Stored(RowOf(Key(2), 's'));
  Written(RowOf(Key(1), 'w'), 1, 1);
  SetKey(Key(1));
  record_[DUREC_FETCH_CODE] = 1;
  record_[DUREC_STATUS] = 2;
  DUFetchRow(base_, record_.data(), usr_, work_);
  EXPECT_EQ(record_[DUREC_STATUS], DU_NO_ROW);
  // Without the exact mode the scan steps over it.
  SetKey(Key(1));
  record_[DUREC_FETCH_CODE] = 1;
  record_[DUREC_STATUS] = 1;
  DUFetchRow(base_, record_.data(), usr_, work_);
  ASSERT_EQ(record_[DUREC_STATUS], 0);
  EXPECT_EQ(RowNow(), RowOf(Key(2), 's'));
  EXPECT_EQ(record_[DUREC_FETCH_CODE], 13);
}

TEST_F(RecordFetchTest, ExactReadDoesNotTakeTheNextRowForTheKey) {
  kernel_.exact_reads_next = true;
  Stored(RowOf(Key(2), 's'));
  for (int32_t merge : {0, 2}) {
    record_[DUREC_MERGE] = merge;
    SetKey(Key(1));
    DUReadRowByKey(base_, record_.data(), usr_);
    EXPECT_EQ(record_[DUREC_STATUS], DU_NO_ROW) << merge;
    SetKey(Key(2));
    DUReadRowByKey(base_, record_.data(), usr_);
    EXPECT_EQ(record_[DUREC_STATUS], 0) << merge;
    // A fetch in the exact mode (2) neither.
    for (int32_t code : {1, 2}) {
      SetKey(Key(1));
      record_[DUREC_FETCH_CODE] = code;
      record_[DUREC_STATUS] = 2;
      DUFetchRow(base_, record_.data(), usr_, work_);
      EXPECT_EQ(record_[DUREC_STATUS], DU_NO_ROW) << merge << " " << code;
      SetKey(Key(2));
      record_[DUREC_FETCH_CODE] = code;
      record_[DUREC_STATUS] = 2;
      DUFetchRow(base_, record_.data(), usr_, work_);
      EXPECT_EQ(record_[DUREC_STATUS], 0) << merge << " " << code;
      EXPECT_EQ(RowNow(), RowOf(Key(2), 's'));
    }
  }
}

TEST_F(RecordFetchTest, WithoutWriteSetMergeTheKernelsRowsComeDirectly) {
  record_[DUREC_MERGE] = 0;
  Stored(RowOf(Key(1), 's'));
  Stored(RowOf(Key(2), 's'));
  Written(RowOf(Key(3), 'w'), 0, 0);
  auto rows = Scan(true, std::string(kKey, '\0'));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].second, 13);
  rows = Scan(false, std::string(kKey, '\xff'));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].second, 14);
  EXPECT_EQ(kernel_.Sent(DK_FNT1) + kernel_.Sent(DK_FPT1), 0);
}

TEST_F(RecordFetchTest, FetchCodesAndKernelFailures) {
  for (int32_t code : {0, 16, -16, 66}) {
    record_[DUREC_FETCH_CODE] = code;
    record_[DUREC_STATUS] = 0;
    DUFetchRow(base_, record_.data(), usr_, work_);
    EXPECT_EQ(record_[DUREC_STATUS], DU_BAD_FETCH_CODE) << code;
  }
  Stored(RowOf(Key(1), 's'));
  kernel_.fail[DK_FET1] = -46;
  SetKey(std::string(kKey, '\0'));
  record_[DUREC_FETCH_CODE] = 1;
  record_[DUREC_STATUS] = 0;
  DUFetchRow(base_, record_.data(), usr_, work_);
  EXPECT_EQ(record_[DUREC_STATUS], -16186);
  EXPECT_EQ(record_[DUREC_FETCH_CODE], -1);
  // Lengths the buffers cannot hold are refused before any request.
  const int32_t sent = kernel_.Sent(DK_FET1);
  record_[DUREC_KEYLEN] = kLen + 1;
  record_[DUREC_FETCH_CODE] = 1;
  DUFetchRow(base_, record_.data(), usr_, work_);
  EXPECT_EQ(record_[DUREC_STATUS], DU_BAD_ARGUMENT);
  DUReadRowByKey(base_, record_.data(), usr_);
  EXPECT_EQ(record_[DUREC_STATUS], DU_BAD_ARGUMENT);
  EXPECT_EQ(kernel_.Sent(DK_FET1), sent);
}

// Code 65 acts as 15: a forward scan over the key prefix of an index entry
// (the index key less the table key).
TEST_F(RecordFetchTest, PrefixScanThroughAnIndex) {
  int32_t tcb = 0, icb = 0;
  DSGetMem(base_, &tcb, TCB_BYTES);
  DSGetMem(base_, &icb, ICB_BYTES);
  W(icb + ICB_TCB) = tcb;
  W(tcb + TCB_KEYLEN) = 2;  // so the prefix is 2 of the 4 key bytes
  record_[DUREC_OBJECT] = icb;
  for (int n = 0; n < 60; ++n) Stored(RowOf(Key(n), 's'));
  Written(RowOf(Key(30), 'w'), 0, 0);
  SetKey(Key(27));  // "kb" prefix: keys 26..51
  record_[DUREC_FETCH_CODE] = 65;
  record_[DUREC_STATUS] = 1;
  int rows = 0;
  for (; rows < 100; ++rows) {
    DUFetchRow(base_, record_.data(), usr_, work_);
    if (record_[DUREC_STATUS] != 0) break;
    EXPECT_EQ(RowNow().substr(0, 2), "kb");
    record_[DUREC_STATUS] = 0;
  }
  EXPECT_EQ(record_[DUREC_STATUS], DU_NO_ROW);
  EXPECT_EQ(rows, 51 - 27 + 1);
}

// A commit that moves the transaction's entries into the table between two
// fetches changes where the kernel's rows are; every row still comes once.
TEST_F(RecordFetchTest, ACommitInTheMiddleOfAScan) {
  for (int n = 0; n < 40; n += 2) Stored(RowOf(Key(n), 's'));
  for (int n = 1; n < 40; n += 4) Written(RowOf(Key(n), 'w'), 0, 0);
  const auto expect = Visible(kernel_);
  SetKey(std::string(kKey, '\0'));
  record_[DUREC_FETCH_CODE] = 1;
  record_[DUREC_STATUS] = 0;
  std::vector<std::string> seen;
  for (int n = 0; n < 100; ++n) {
    DUFetchRow(base_, record_.data(), usr_, work_);
    if (record_[DUREC_STATUS] != 0) break;
    seen.push_back(RowNow());
    if (n == 5) {
      for (const auto& [key, e] : kernel_.writes[kTbl]) kernel_.rows[kTbl][key] = e.row;
      kernel_.writes[kTbl].clear();
    }
    record_[DUREC_STATUS] = 0;
  }
  ASSERT_EQ(seen.size(), expect.size());
  size_t i = 0;
  for (const auto& [key, row] : expect) EXPECT_EQ(seen[i++], row);
}

TEST_F(RecordFetchTest, PrepareForUpdateClassifiesTheCurrentRow) {
  W(usr_ + USR_CURSOR_ORDER_NUMBER) = 5;
  struct Case {
    const char* name;
    int32_t status, order, entry_code, expect;
  };
  for (Case c : {Case{"stored row", -1, 0, 13, 63}, Case{"own change", 0, 5, 3, 153},
                 Case{"other cursor", 0, 2, 3, 53}, Case{"backward", 0, 2, 4, 54},
                 Case{"deleted", 1, 2, 13, 263}, Case{"re-entered", -1, 0, -11, -61}}) {
    SCOPED_TRACE(c.name);
    kernel_.writes.clear();
    const std::string row = RowOf(Key(3), 'w');
    if (c.status >= 0) Written(row, c.status, c.order);
    SetKey(Key(3));
    std::memset(record_.data() + DUREC_RECORD + 1, 'c', kLen - 1);
    record_[DUREC_FETCH_CODE] = c.entry_code;
    DUPrepareForUpdate(base_, record_.data(), usr_);
    ASSERT_EQ(record_[DUREC_STATUS], 0);
    EXPECT_EQ(record_[DUREC_FETCH_CODE], c.expect);
    const int32_t p = W(usr_ + USR_PFUREC);
    ASSERT_NE(p, 0);
    const std::string before(reinterpret_cast<const char*>(&W(p + DUREC_RECORD)), kLen);
    EXPECT_EQ(before, c.status >= 0 ? row : RowNow());
  }
  // Refresh: an entry of this transaction written under an earlier cursor.
  Written(RowOf(Key(3), 'w'), 0, 0);
  record_[DUREC_CURSOR_ORDER] = 1;
  record_[DUREC_FETCH_CODE] = 11;
  DURefresh(base_, record_.data(), usr_);
  EXPECT_EQ(record_[DUREC_STATUS], 0);
  EXPECT_EQ(record_[DUREC_FETCH_CODE], 7);
}

}  // namespace
