// Record access against SQLite (du/tests/sqlite_comparison.h) over the
// model of the databank kernel.
#include "du/tests/sqlite_comparison.h"

#include "du/tests/change_fixture.h"

namespace {

class SqliteComparisonTest : public SqliteComparison<ChangeTest>,
                             public ::testing::WithParamInterface<bool> {};

TEST_P(SqliteComparisonTest, RandomChangesInShortTransactions) { RunRandomChanges(GetParam()); }

INSTANTIATE_TEST_SUITE_P(WriteSetAndDirect, SqliteComparisonTest, ::testing::Values(true, false));

}  // namespace
