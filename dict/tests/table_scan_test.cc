// The rows of a table its caller names, as raw records: every row of a
// catalog table in key order, a second scan of another table over the
// same statement, and never a byte past the caller's buffer.
#include <set>
#include <string>
#include <vector>

#include "dict/dictionary_cursors.h"
#include "dict/statement_prepare.h"
#include "dict/tests/lookup_fixture.h"
#include "dict/work_block.h"
#include "du/table_statistics.h"
#include "kernel/control_blocks.h"

namespace {

class TableScanTest : public LookupTest {
 protected:
  static DDScanTable Of(int32_t number) {
    const CatalogTable* t = CatalogFindTable(number);
    return {kLid, number, 1, t->key_length, t->record_length};
  }
  // The records a scan delivers, each cut to `capacity` bytes.
  std::vector<std::string> Scan(int32_t mode, const DDScanTable& table, int32_t capacity) {
    std::vector<std::string> rows;
    std::vector<uint8_t> buffer(static_cast<size_t>(capacity) + 16, 0xEE);
    int32_t pb[2] = {mode, usr_};
    for (int32_t length = 0;; pb[0] = 0) {
      DDScanTableRows(base_, pb, table, buffer.data(), capacity, &length);
      if (pb[0] != 0) break;
      EXPECT_EQ(length, std::min(capacity, table.record_length));
      EXPECT_EQ(buffer[capacity], 0xEE) << "a byte past the buffer";
      rows.emplace_back(reinterpret_cast<const char*>(buffer.data()), length);
    }
    EXPECT_EQ(pb[0], 1);
    return rows;
  }
};

TEST_F(TableScanTest, EveryRowOfTheNamedTableAsItsRecord) {
  ASSERT_EQ(BegWork(), 0);
  // Table 16 holds a row per system table: its id in the first 7 bytes.
  const std::vector<std::string> tables = Scan(1, Of(16), TABLES_RECLEN);
  ASSERT_EQ(static_cast<int32_t>(tables.size()), kCatalogTableCount);
  for (size_t k = 0; k < tables.size(); ++k) {
    std::vector<uint8_t> row;
    std::vector<uint8_t> record(tables[k].begin(), tables[k].end());
    ASSERT_EQ(ReadRecord(16, record, &row), 0) << k;
    EXPECT_EQ(std::string(row.begin(), row.end()), tables[k]) << "the stored row, byte for byte";
    if (k > 0) {
      EXPECT_LT(tables[k - 1].substr(0, 7), tables[k].substr(0, 7)) << "key order";
    }
  }
  // The same statement names another table; a short buffer takes only
  // what it holds.
  const std::vector<std::string> keys = Scan(3, Of(18), 10);
  EXPECT_GT(keys.size(), tables.size());
  EXPECT_EQ(Scan(2, Of(16), 7).size(), tables.size());
  // Lengths outside the statement's row, before anything runs.
  DDScanTable wrong = Of(16);
  wrong.record_length = 16001;
  int32_t pb[2] = {1, usr_}, length = 0;
  uint8_t buffer[8];
  DDScanTableRows(base_, pb, wrong, buffer, 8, &length);
  EXPECT_EQ(pb[0], DD_BAD_VALUE);
  wrong = Of(16);
  wrong.key_length = wrong.record_length + 1;
  pb[0] = 1;
  DDScanTableRows(base_, pb, wrong, buffer, 8, &length);
  EXPECT_EQ(pb[0], DD_BAD_VALUE);
  ASSERT_EQ(EndWork(1), 0);
}

// Mode 0 without a table named; a table that cannot be opened gives up the
// statement, and the next naming prepares it again.
TEST_F(TableScanTest, ABindingFailureEmptiesTheSlot) {
  ASSERT_EQ(BegWork(), 0);
  int32_t pb[2] = {0, usr_}, length = 0;
  uint8_t buffer[8];
  DDScanTableRows(base_, pb, Of(16), buffer, 8, &length);
  EXPECT_EQ(pb[0], 1);
  DDScanTable missing = Of(16);
  missing.table = 9999;
  pb[0] = 1;
  DDScanTableRows(base_, pb, missing, buffer, 8, &length);
  EXPECT_LT(pb[0], 0);
  int32_t status = 0;
  EXPECT_EQ(DDWorkSlot(base_, usr_, SLOT_DDScanTableRows, &status)[SLOT_STM], 0);
  EXPECT_EQ(Scan(1, Of(16), 8).size(), static_cast<size_t>(kCatalogTableCount));
  ASSERT_EQ(EndWork(1), 0);
}

// The scan statement's chain: the indexes of the table it reads, all of
// them or those marked dirty counted by the statistics' count; none before
// a table is named.
TEST_F(TableScanTest, TheChainIsTheIndexesOfTheTableRead) {
  ASSERT_EQ(BegWork(), 0);
  EXPECT_EQ(DDScanChain(base_, usr_), 0) << "no table named";
  for (int32_t number : {16, 15, 11}) {
    SCOPED_TRACE(number);
    std::vector<uint8_t> buffer(16000);
    int32_t pb[2] = {1, usr_}, length = 0;
    DDScanTableRows(base_, pb, Of(number), buffer.data(), 16000, &length);
    ASSERT_GE(pb[0], 0);
    const int32_t block = DDScanChain(base_, usr_);
    ASSERT_NE(block, 0);
    DUCountUsers(base_, block, 1);
    EXPECT_EQ(W(block + 19), CatalogFindTable(number)->index_count);
    DUCountUsers(base_, block, 0);
    EXPECT_EQ(W(block + 19), 0) << "no index marked dirty";
    if (int32_t icb = W(block + 2); icb != 0) {
      W(icb + ICB_DIRTY) = 1;
      DUCountUsers(base_, block, 0);
      EXPECT_EQ(W(block + 19), 1);
      W(icb + ICB_DIRTY) = 0;
    }
  }
  ASSERT_EQ(EndWork(1), 0);
}

}  // namespace
