// The kernel's table description statement (-254) run by the kernel's own
// loader (DSLoadTableDesc) over the catalog's self-description rows as a
// created database holds them: every system table's generated description
// list word for word.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dict/statement_run.h"
#include "dict/tests/lookup_fixture.h"
#include "dict/tests/table_load.h"
#include "kernel/thread_blocks.h"

namespace {

class TablexStatementTest : public LookupTest {
 protected:
  void SetUp() override {
    LookupTest::SetUp();
    if (HasFatalFailure()) return;
    kernel_services_.damae2 = [](int32_t* base, int32_t* result, int32_t stm, int32_t usr) {
      result[0] = DDExecStm(base, usr, stm);
    };
    int32_t area = 0;
    DSGetMem(base_, &area, CDITCB_BYTES);
    ASSERT_NE(area, 0);
    W(thr_ + THR_CDITCB) = area;
    Prepare();
  }
  // A dictionary work with the statement prepared in it.
  void Prepare() {
    ASSERT_EQ(BegWork(), 0);
    int32_t pb[2] = {0, usr_};
    stm_ = DDSlotStatement(base_, pb, 131, IMAGE_STM_MOS_TABLEX);
    ASSERT_NE(stm_, 0);
    W(thr_ + THR_STM_MOS_TABLEX) = stm_;
  }
  void TearDown() override {
    W(thr_ + THR_STM_MOS_TABLEX) = 0;
    if (stm_ != 0) {
      EXPECT_EQ(EndWork(0), 0);
    }
    LookupTest::TearDown();
  }
  int32_t stm_ = 0;
};

TEST_F(TablexStatementTest, EverySystemTablesListFromTheCatalogRows) {
  for (int32_t i = 0; i < kCatalogTableCount; ++i) {
    const int32_t number = kCatalogTables[i].number;
    SCOPED_TRACE("table " + std::to_string(number));
    const TableLoad load = LoadTableDescription(base_, number);
    ASSERT_EQ(load.status, 0);
    int32_t words = 0;
    const int32_t* list = CatalogDescription(number, &words);
    std::vector<int32_t> got;
    for (int32_t w = 0; w < words; ++w) got.push_back(W(W(thr_ + THR_CDITCB) + w));
    got[7] = list[7];  // header word 7 is not written
    EXPECT_EQ(got, std::vector<int32_t>(list, list + words));
    EXPECT_EQ(load.key_length, kCatalogTables[i].key_length);
    EXPECT_EQ(load.record_length, kCatalogTables[i].record_length);
    EXPECT_EQ(load.lid, 1);
  }
}

// A table number the catalog does not hold ends the load with the
// statement's 1; the next load is whole again.
TEST_F(TablexStatementTest, AnUnknownTableEndsTheLoad) {
  EXPECT_EQ(LoadTableDescription(base_, 9999).status, 1);
  const TableLoad load = LoadTableDescription(base_, CAT_INDEXCOL);
  ASSERT_EQ(load.status, 0);
  EXPECT_EQ(load.key_length, INDEXCOL_KEYLEN);
}

// Foreign keys of a user table: the referred table, and the referred key's
// number or, for a primary key, the table's own; NO ACTION as its kind.
// The referred table's references: the foreign key, the referring table
// and the key referred to (for its primary key, its own number).
TEST_F(TablexStatementTest, ForeignKeysAndReferences) {
  auto table = [&](int32_t id) {
    const CatalogValue row[] = {{TABLES_TABLE_ID, 0, id, nullptr},
                                {TABLES_TABLE_TYPE, 1, 0, "BASE TABLE"},
                                {TABLES_KEY_LENGTH, 0, 7, nullptr},
                                {TABLES_RECORD_LENGTH, 0, 21, nullptr},
                                {TABLES_DATABANK_ID, 0, 1, nullptr}};
    return InsertValues(CAT_TABLES, row);
  };
  auto key = [&](int32_t id, const char* kind, int32_t table_id, int32_t columns) {
    const CatalogValue row[] = {{TABLE_CONSTRAINTS_CONSTRAINT_ID, 0, id, nullptr},
                                {TABLE_CONSTRAINTS_CONSTRAINT_TYPE, 1, 0, kind},
                                {TABLE_CONSTRAINTS_TABLE_ID, 0, table_id, nullptr},
                                {TABLE_CONSTRAINTS_KEY_LENGTH, 0, 8, nullptr},
                                {TABLE_CONSTRAINTS_KEY_COLUMN_COUNT, 0, columns, nullptr},
                                {TABLE_CONSTRAINTS_ENTRY_LENGTH, 0, 15, nullptr}};
    return InsertValues(CAT_TABLE_CONSTRAINTS, row);
  };
  auto refers = [&](int32_t id, int32_t table_id, int32_t to, int32_t to_table, const char* rule) {
    const CatalogValue row[] = {{REFERENTIAL_CONSTRAINTS_CONSTRAINT_ID, 0, id, nullptr},
                                {REFERENTIAL_CONSTRAINTS_TABLE_ID, 0, table_id, nullptr},
                                {REFERENTIAL_CONSTRAINTS_UNIQUE_CONSTRAINT_ID, 0, to, nullptr},
                                {REFERENTIAL_CONSTRAINTS_REFERENCED_TABLE_ID, 0, to_table, nullptr},
                                {REFERENTIAL_CONSTRAINTS_DELETE_RULE, 1, 0, rule}};
    return InsertValues(CAT_REFERENTIAL_CONSTRAINTS, row);
  };
  auto column = [&](int32_t key_id, int32_t table_id, const char* name, int32_t offset) {
    const CatalogValue k[] = {{INDEXCOL_CONSTRAINT_ID, 0, key_id, nullptr},
                              {INDEXCOL_TABLE_ID, 0, table_id, nullptr},
                              {INDEXCOL_ORDINAL_POSITION, 0, 1, nullptr},
                              {INDEXCOL_COLUMN_NAME, 1, 0, name},
                              {INDEXCOL_IS_ASCENDING, 1, 0, "YES"}};
    const CatalogValue c[] = {{COLUMNS_TABLE_ID, 0, table_id, nullptr},
                              {COLUMNS_COLUMN_NAME, 1, 0, name},
                              {COLUMNS_BYTE_OFFSET, 0, offset, nullptr},
                              {COLUMNS_BYTE_LENGTH, 0, 7, nullptr}};
    const int32_t rc = InsertValues(CAT_INDEXCOL, k);
    return rc != 0 ? rc : InsertValues(CAT_COLUMNS, c);
  };
  ASSERT_EQ(table(900), 0);
  ASSERT_EQ(table(901), 0);
  ASSERT_EQ(key(910, "PRIMARY KEY", 900, 1), 0);
  ASSERT_EQ(key(911, "PRIMARY KEY", 901, 1), 0);
  ASSERT_EQ(key(921, "UNIQUE", 900, 1), 0);
  ASSERT_EQ(column(921, 900, "X", 7), 0);
  ASSERT_EQ(key(920, "FOREIGN KEY", 901, 1), 0);
  ASSERT_EQ(refers(920, 901, 910, 900, "NO ACTION"), 0);
  ASSERT_EQ(column(920, 901, "B", 7), 0);
  ASSERT_EQ(key(922, "FOREIGN KEY", 901, 1), 0);
  ASSERT_EQ(refers(922, 901, 921, 900, "CASCADE"), 0);
  ASSERT_EQ(column(922, 901, "C", 14), 0);
  ASSERT_EQ(EndWork(0), 0);
  Prepare();
  TableLoad load = LoadTableDescription(base_, 901);
  ASSERT_EQ(load.status, 0);
  EXPECT_EQ(TableDescriptionEntries(base_, W(thr_ + THR_CDITCB)),
            (std::vector<TableLoadEntry>{{4, 920, 900, 900}, {8, 922, 900, 921}}));
  load = LoadTableDescription(base_, 900);
  ASSERT_EQ(load.status, 0);
  EXPECT_EQ(TableDescriptionEntries(base_, W(thr_ + THR_CDITCB)),
            (std::vector<TableLoadEntry>{{5, 921, 0, 0}, {7, 920, 901, 900}, {7, 922, 901, 921}}));
  // A foreign key without its referential row: -19007.
  ASSERT_EQ(BegWork(), 0);
  ASSERT_EQ(key(930, "FOREIGN KEY", 900, 1), 0);
  ASSERT_EQ(column(930, 900, "Y", 14), 0);
  ASSERT_EQ(EndWork(0), 0);
  Prepare();
  EXPECT_EQ(LoadTableDescription(base_, 900).status, -19007);
}

// Large-object columns: a pair (type code, byte offset) each, in the order
// of the column names, behind the table's entries; other columns none.
TEST_F(TablexStatementTest, LargeObjectColumns) {
  auto column = [&](int32_t table_id, const char* name, const char* type, int32_t offset) {
    const CatalogValue c[] = {{COLUMNS_TABLE_ID, 0, table_id, nullptr},
                              {COLUMNS_COLUMN_NAME, 1, 0, name},
                              {COLUMNS_DATA_TYPE, 1, 0, type},
                              {COLUMNS_BYTE_OFFSET, 0, offset, nullptr},
                              {COLUMNS_BYTE_LENGTH, 0, 20, nullptr}};
    return InsertValues(CAT_COLUMNS, c);
  };
  const CatalogValue t[] = {{TABLES_TABLE_ID, 0, 950, nullptr},
                            {TABLES_TABLE_TYPE, 1, 0, "BASE TABLE"},
                            {TABLES_KEY_LENGTH, 0, 7, nullptr},
                            {TABLES_RECORD_LENGTH, 0, 100, nullptr},
                            {TABLES_DATABANK_ID, 0, 1, nullptr}};
  ASSERT_EQ(InsertValues(CAT_TABLES, t), 0);
  ASSERT_EQ(column(950, "A", "INTEGER", 0), 0);
  ASSERT_EQ(column(950, "D", "CHARACTER LARGE OBJECT", 7), 0);
  ASSERT_EQ(column(950, "B", "BINARY LARGE OBJECT", 28), 0);
  ASSERT_EQ(column(950, "C", "NATIONAL CHAR LARGE OBJECT", 49), 0);
  ASSERT_EQ(column(950, "E", "BINARY", 70), 0);
  ASSERT_EQ(column(951, "F", "BINARY LARGE OBJECT", 7), 0);
  ASSERT_EQ(EndWork(0), 0);
  Prepare();
  ASSERT_EQ(LoadTableDescription(base_, 950).status, 0);
  EXPECT_EQ(TableDescriptionLobs(base_, W(thr_ + THR_CDITCB)),
            (std::vector<int32_t>{9, 3, 3, 31, 28, 33, 49, 32, 7}));
  // The system tables have none.
  ASSERT_EQ(LoadTableDescription(base_, CAT_COLUMNS).status, 0);
  EXPECT_TRUE(TableDescriptionLobs(base_, W(thr_ + THR_CDITCB)).empty());
}

// Column 4 is the logical id of the table's databank, from the databank's
// rows (its files); a databank the catalog holds no row of stands by its
// id.
TEST_F(TablexStatementTest, TheLogicalIdOfTheTablesDatabank) {
  for (auto [file, seqno] : {std::pair{"B7A", 1}, std::pair{"B7B", 2}}) {
    const CatalogValue bank[] = {{DATABANKS_DATABANK_ID, 0, 7, nullptr},
                                 {DATABANKS_SEQUENCE_NO, 0, seqno, nullptr},
                                 {DATABANKS_LOGICAL_ID, 0, 3, nullptr},
                                 {DATABANKS_DATABANK_NAME, 1, 0, file}};
    ASSERT_EQ(InsertValues(CAT_DATABANKS, bank), 0);
  }
  for (auto [id, bank] : {std::pair{900, 7}, std::pair{901, 8}}) {
    const CatalogValue row[] = {{TABLES_TABLE_ID, 0, id, nullptr},
                                {TABLES_TABLE_TYPE, 1, 0, "BASE TABLE"},
                                {TABLES_KEY_LENGTH, 0, 7, nullptr},
                                {TABLES_RECORD_LENGTH, 0, 21, nullptr},
                                {TABLES_DATABANK_ID, 0, bank, nullptr}};
    ASSERT_EQ(InsertValues(CAT_TABLES, row), 0);
  }
  ASSERT_EQ(EndWork(0), 0);
  Prepare();
  TableLoad load = LoadTableDescription(base_, 900);
  ASSERT_EQ(load.status, 0);
  EXPECT_EQ(load.lid, 3);
  EXPECT_EQ(W(W(thr_ + THR_CDITCB) + DESC_LID), 3);
  load = LoadTableDescription(base_, 901);
  ASSERT_EQ(load.status, 0);
  EXPECT_EQ(load.lid, 8);
}

}  // namespace
