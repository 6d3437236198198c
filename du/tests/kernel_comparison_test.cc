// Record access against SQLite (du/tests/sqlite_comparison.h) over the
// databank kernel itself: the parent and child tables and their indexes
// are kernel tables, every commit is applied before the next transaction.
#include "du/tests/kernel_fixture.h"
#include "du/tests/sqlite_comparison.h"

#include <functional>

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

namespace {

// Checks put off under SET_MARK_FLAG, decided at the commit by the kernel's
// own view of the transaction's changes: each refuses the commit while the
// violation stands and lets it through once the transaction resolved it.
TEST_F(KernelChanges, PutOffChecksAreDecidedAtTheCommit) {
  OpenTables(true);
  ASSERT_EQ(Begin(1), 0);
  ASSERT_EQ(Insert(parent_, {1, 10, 100}), 0);
  ASSERT_EQ(Insert(child_, {7, 1, 0}), 0);
  ASSERT_EQ(End(END_AFTER_SUCCESS), 0);
  W(usr_ + USR_SET_MARK_FLAG) = 1;
  RunPutOffCases({
      {"duplicate", [&] { return Insert(parent_, {2, 10, 0}); },
       [&] { return Update(parent_, 1, {1, 11, 100}); },
       [&] { return Delete(parent_, 2) != 0 ? 1 : Update(parent_, 1, {1, 10, 100}); }, -10110},
      {"missing parent", [&] { return Insert(child_, {8, 9, 0}); },
       [&] { return Insert(parent_, {9, std::nullopt, 0}); },
       [&] { return Delete(child_, 8) != 0 ? 1 : Delete(parent_, 9); }, -10105},
      {"referencing rows", [&] { return Delete(parent_, 1); },
       [&] { return Delete(child_, 7); },
       [&] { return Insert(parent_, {1, 10, 100}) != 0 ? 1 : Insert(child_, {7, 1, 0}); },
       -10106},
      {"parent put back", [&] { return Delete(parent_, 1); },
       [&] { return Insert(parent_, {1, 10, 100}); }, [] { return 0; }, -10106},
  });
  EXPECT_EQ(Scan(parent_, true), (std::vector<RowValue>{{1, 10, 100}}));
  EXPECT_EQ(Scan(child_, true), (std::vector<RowValue>{{7, 1, 0}}));
}

// A check put off on tables that are closed by the end (their statements
// are): the end opens them for the check with their references and closes
// them again.
TEST_F(KernelChanges, PutOffCheckOnTablesClosedByTheEnd) {
  OpenTables(true);
  W(usr_ + USR_SET_MARK_FLAG) = 1;
  for (bool resolved : {false, true}) {
    SCOPED_TRACE(resolved);
    if (resolved) {
      ASSERT_EQ(Open(parent_), 0);
      ASSERT_EQ(Open(child_), 0);
    }
    ASSERT_EQ(Begin(1), 0);
    EXPECT_EQ(Insert(child_, {1, 9, 0}), 0);
    if (resolved) {
      EXPECT_EQ(Insert(parent_, {9, std::nullopt, 0}), 0);
    }
    EXPECT_EQ(Close(child_), 0);
    EXPECT_EQ(Close(parent_), 0);
    ASSERT_EQ(CountTcbs(base_), 0);
    EXPECT_EQ(End(END_AFTER_SUCCESS), resolved ? 0 : -10105);
    EXPECT_EQ(CountTcbs(base_), 0);
    EXPECT_EQ(upper_.databank_refs[kLid], 0);
  }
  ASSERT_EQ(Open(parent_), 0);
  ASSERT_EQ(Open(child_), 0);
  EXPECT_EQ(Scan(child_, true), (std::vector<RowValue>{{1, 9, 0}}));
}

// Scans through the parent's unique index over the kernel's index table,
// merged with the transaction's changes of the column.
TEST_F(KernelChanges, ScansThroughTheIndexSeeTheTransactionsChanges) { RunIndexScans(); }

}  // namespace

namespace {

// A row changed more than once in one transaction: the kernel folds each
// change into the row's earlier one (an insert updated stays an insert, an
// insert deleted leaves nothing), and the rows stay so once the commit is
// applied and its cache is gone (two more transactions later).
TEST_F(KernelChanges, RowsChangedTwiceInATransactionAreCommittedAsTheyEnded) {
  OpenTables(true);
  struct Case {
    const char* name;
    bool stored;  // row 12 is there before the transaction
    std::function<void()> changes;
    std::vector<RowValue> after;
  };
  const std::vector<Case> cases = {
      {"insert, update", false,
       [&] {
         ASSERT_EQ(Insert(parent_, {12, std::nullopt, 1}), 0);
         ASSERT_EQ(Update(parent_, 12, {12, std::nullopt, 2}), 0);
       },
       {{12, std::nullopt, 2}}},
      {"insert, update of the unique column, update", false,
       [&] {
         ASSERT_EQ(Insert(parent_, {12, 5, 1}), 0);
         ASSERT_EQ(Update(parent_, 12, {12, 6, 2}), 0);
         ASSERT_EQ(Update(parent_, 12, {12, 6, 3}), 0);
       },
       {{12, 6, 3}}},
      {"insert, delete", false,
       [&] {
         ASSERT_EQ(Insert(parent_, {12, std::nullopt, 1}), 0);
         ASSERT_EQ(Delete(parent_, 12), 0);
       },
       {}},
      {"insert, key change", false,
       [&] {
         ASSERT_EQ(Insert(parent_, {9, 9, 1}), 0);
         ASSERT_EQ(Update(parent_, 9, {12, std::nullopt, 2}), 0);
       },
       {{12, std::nullopt, 2}}},
      {"insert, key change, key change refused", false,
       [&] {
         ASSERT_EQ(Insert(parent_, {9, 9, 1}), 0);
         ASSERT_EQ(Update(parent_, 9, {12, std::nullopt, 2}), 0);
         ASSERT_EQ(Update(parent_, 12, {12, std::nullopt, 3}), 0);
       },
       {{12, std::nullopt, 3}}},
      {"update, update", true,
       [&] {
         ASSERT_EQ(Update(parent_, 12, {12, std::nullopt, 2}), 0);
         ASSERT_EQ(Update(parent_, 12, {12, std::nullopt, 3}), 0);
       },
       {{12, std::nullopt, 3}}},
      {"update, delete", true,
       [&] {
         ASSERT_EQ(Update(parent_, 12, {12, std::nullopt, 2}), 0);
         ASSERT_EQ(Delete(parent_, 12), 0);
       },
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.stored) {
      ASSERT_EQ(Begin(1), 0);
      ASSERT_EQ(Insert(parent_, {12, std::nullopt, 1}), 0);
      ASSERT_EQ(End(END_AFTER_SUCCESS), 0);
    }
    ASSERT_EQ(Begin(1), 0);
    c.changes();
    EXPECT_EQ(Scan(parent_, true), c.after);
    ASSERT_EQ(End(END_AFTER_SUCCESS), 0);
    for (int n = 0; n < 2; ++n) {
      ASSERT_EQ(Begin(1), 0);
      ASSERT_EQ(End(END_AFTER_SUCCESS), 0);
    }
    ASSERT_EQ(Begin(1), 0);
    EXPECT_EQ(Scan(parent_, true), c.after);
    EXPECT_EQ(Scan(parent_, false), c.after);
    for (const RowValue& row : c.after) EXPECT_EQ(Delete(parent_, row.id), 0);
    ASSERT_EQ(End(END_AFTER_SUCCESS), 0);
  }
}

}  // namespace
