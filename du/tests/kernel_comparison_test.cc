// Record access against SQLite (du/tests/sqlite_comparison.h) over the
// databank kernel itself: the parent and child tables and their indexes
// are kernel tables, every commit is applied before the next transaction.
#include "du/tests/kernel_fixture.h"
#include "du/tests/sqlite_comparison.h"

namespace {

class KernelChanges : public ChangeTestOn<KernelRecordAccessTest> {
 protected:
  void SetUp() override {
    ChangeTestOn<KernelRecordAccessTest>::SetUp();
    if (HasFatalFailure()) return;
    CreateDescribedTable(ParentChild::kParent, ParentChild::Parent(kLid));
    CreateDescribedTable(ParentChild::kChild, ParentChild::Child(kLid));
  }
  void NextStatement() override { NextCursorOrder(usr_); }
};

class KernelComparisonTest : public SqliteComparison<KernelChanges>,
                             public ::testing::WithParamInterface<bool> {};

TEST_P(KernelComparisonTest, RandomChangesInShortTransactions) { RunRandomChanges(GetParam()); }

INSTANTIATE_TEST_SUITE_P(WriteSetAndDirect, KernelComparisonTest, ::testing::Values(true, false));

}  // namespace
