// The system tables made in a databank by the creation helper: each table
// and index opens in the databank kernel with the kind and lengths record
// access opens it with, and refuses other lengths.
#include "tools/hbcreate/catalog_tables.h"

#include <gtest/gtest.h>

#include "dk/table_open.h"
#include "dk/tests/table_fixture.h"

namespace {

class CatalogTablesTest : public TableTest {
 protected:
  // DKOPT1 in mode 3 as record access sends it; the status. Closed again.
  int32_t Open(int32_t kind, int32_t number, int32_t key, int32_t record) {
    int32_t b[CRT_WORDS] = {};
    b[RQ_STATUS] = 3;
    b[RQ_DID] = 5;
    b[OPT_KIND] = kind;
    b[RQ_TBL] = number;
    b[RQ_KEY_LENGTH] = key;
    b[RQ_RECORD_LENGTH] = record;
    DKOPT1(b);
    const int32_t status = b[RQ_STATUS];
    if (status == 0) {
      b[RQ_STATUS] = 0;
      DKCLT1(b);
    }
    return status;
  }
};

TEST_F(CatalogTablesTest, EveryTableAndIndexOpensWithItsLengths) {
  int32_t failed = 0;
  ASSERT_EQ(CreateCatalogTables(5, &failed), 0) << "table " << failed;
  for (int32_t i = 0; i < kCatalogTableCount; ++i) {
    const CatalogTable& t = kCatalogTables[i];
    SCOPED_TRACE("table " + std::to_string(t.number));
    EXPECT_EQ(Open(kCreateTableKind, t.number, t.key_length, t.record_length), 0);
    EXPECT_NE(Open(kCreateTableKind, t.number, t.key_length, t.record_length + 1), 0);
    for (int32_t k = 0; k < t.index_count; ++k) {
      const CatalogIndex& ix = kCatalogIndexes[t.first_index + k];
      SCOPED_TRACE("index " + std::to_string(ix.number));
      EXPECT_EQ(Open(kCreateIndexKind, ix.number, ix.key_length, ix.entry_length), 0);
      EXPECT_NE(Open(kCreateIndexKind, ix.number, ix.key_length - 1, ix.entry_length), 0);
    }
  }
  // Index 70 of table 16: the key column (7 bytes) and the table key, 14 in
  // all, is the kernel's key.
  const CatalogTable* t16 = CatalogFindTable(16);
  EXPECT_EQ(IndexKernelKeyLength(*t16, kCatalogIndexes[t16->first_index]), 14);
}

}  // namespace
