// The figures of a statistics run written into the table, column and
// constraint rows, and read back by the compiler's lookups.
#include <cstring>
#include <string>
#include <vector>

#include "dict/dictionary_cursors.h"
#include "dict/tests/lookup_fixture.h"

namespace {

class StatisticsRowsTest : public LookupTest {};

TEST_F(StatisticsRowsTest, FiguresReachTheColumnTableAndKeyRows) {
  ASSERT_EQ(BegWork(), 0);
  ASSERT_EQ(InsObject(1400, 6, "ADAM", "ST"), 0);
  int32_t pb[2] = {0, usr_};
  DDInsTable(base_, pb, 1400, 1, 5, 7, true, 1);
  ASSERT_EQ(pb[0], 0);
  for (const char* name : {"A", "B"}) {
    DDColumnDef c;
    c.name = name;
    c.name_length = 1;
    c.number = name[0] - 'A' + 1;
    c.type = 7;
    c.length = 11;
    DDInsColumn(base_, pb, 1400, c, nullptr, 0);
    ASSERT_EQ(pb[0], 0);
  }
  DDInsConstraint(base_, pb, 1401, 1, 1400, 7, 1, 7, 0, 0);
  ASSERT_EQ(pb[0], 0);
  DDTableAttr t{};
  ASSERT_EQ(TableAttr("ADAM", "ST", &t), 0);
  EXPECT_EQ(t.statistics, 0);
  DDColumnDesc d{};
  pb[0] = 0;
  pb[1] = usr_;
  DDCmpColumns(base_, pb, 1400, 0, "A", 1, &d, nullptr, 0);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(d.statistics_count, -1) << "none yet";

  const int32_t rows = 500, estimate = 42, nonnull = 480;
  const char* low = "0000000000000001";
  const char* high = "0000000000000999";
  auto update = [&](int32_t mode, int32_t key, const char* name, const int32_t* e) {
    int32_t b[2] = {mode, usr_};
    DDUpdStatistics(base_, b, 1400, key, name, name ? 1 : 0, &rows, e, e ? &nonnull : nullptr,
                    e ? low : nullptr, e ? high : nullptr);
    return b[0];
  };
  const int32_t none = -1;
  EXPECT_EQ(update(1, 0, "A", &estimate), 0);
  EXPECT_EQ(update(2, 0, "B", &none), 0);
  EXPECT_EQ(update(3, 1401, nullptr, nullptr), 0);
  ASSERT_EQ(TableAttr("ADAM", "ST", &t), 0);
  EXPECT_EQ(t.statistics, 1);
  pb[0] = 0;
  pb[1] = usr_;
  DDCmpColumns(base_, pb, 1400, 0, "A", 1, &d, nullptr, 0);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(d.statistics_count, estimate);
  EXPECT_EQ(std::memcmp(d.low, low, 16), 0);
  EXPECT_EQ(std::memcmp(d.high, high, 16), 0);
  pb[0] = 0;
  pb[1] = usr_;
  DDCmpColumns(base_, pb, 1400, 0, "B", 1, &d, nullptr, 0);
  ASSERT_EQ(pb[0], 0);
  EXPECT_EQ(d.statistics_count, -1) << "no values";
  std::vector<uint8_t> row;
  const CatalogValue key[] = {{TABLE_CONSTRAINTS_CONSTRAINT_ID, 0, 1401, nullptr},
                              {TABLE_CONSTRAINTS_CONSTRAINT_TYPE, 1, 0, "PRIMARY KEY"},
                              {TABLE_CONSTRAINTS_TABLE_ID, 0, 1400, nullptr}};
  ASSERT_EQ(ReadRow(18, key, &row), 0);
  std::vector<uint8_t> expected(TABLE_CONSTRAINTS_RECLEN);
  const CatalogValue count[] = {{TABLE_CONSTRAINTS_INT_67, 0, rows, nullptr}};
  ASSERT_EQ(DDRowImage(CatalogRow{18, 0, 1}, count, expected), 0);
  EXPECT_EQ(std::vector<uint8_t>(row.begin() + TABLE_CONSTRAINTS_INT_67,
                                 row.begin() + TABLE_CONSTRAINTS_INT_67 + 7),
            std::vector<uint8_t>(expected.begin() + TABLE_CONSTRAINTS_INT_67,
                                 expected.begin() + TABLE_CONSTRAINTS_INT_67 + 7))
      << "the row count stored";
  EXPECT_EQ(update(2, 0, "C", &estimate), 1);
  EXPECT_EQ(update(3, 1499, nullptr, nullptr), 1);
  EXPECT_EQ(update(4, 0, "A", &estimate), DD_BAD_VALUE);
  ASSERT_EQ(EndWork(1), 0);
}

}  // namespace
