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

}  // namespace
