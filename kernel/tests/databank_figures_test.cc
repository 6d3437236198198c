// A databank's sizes and a table's figures from the databank kernel of a
// started database; the row estimates against figures worked by hand.
#include "kernel/databank_figures.h"

#include "dk/table_entries.h"
#include "dk/tests/table_fixture.h"
#include "kernel/tests/start_fixture.h"

namespace {

TEST(RowEstimates, FollowTheTreeShape) {
  struct Case {
    int32_t levels, top, inner, key, leaf, entry, attribute, figure;
    RowEstimates want;
  };
  // Inner 2048, key 8: a = (2048-15+24)/24 = 85, b = 2032/12 = 169, c = 127.
  // Leaf 4096, entry 100: a' = (4096-15+200)/200 = 21, b' = 4080/100 = 40.
  const Case cases[] = {
      {0, 0, 2048, 8, 4096, 100, 1, 0, {0, 0, 0}},
      {1, 17, 2048, 8, 4096, 100, 1, 0, {17, 17, 17}},
      {2, 10, 2048, 8, 4096, 100, 1, 0, {210, 400, 300}},
      {3, 10, 2048, 8, 4096, 100, 1, 0, {10 * 85 * 21, 10 * 169 * 40, 10 * 127 * 30}},
      {4, 10, 2048, 8, 4096, 100, 1, 0,
       {10 * 85 * 85 * 21, 10 * 169 * 169 * 40, 10 * 127 * 127 * 30}},
      // Compressed: the highest 20 b' times, the middle the kernel's figure.
      {2, 10, 2048, 8, 4096, 100, 11, 7, {210, 10 * 20 * 40, 70}},
      // Past the word: the largest value; a zero entry length divides by nothing.
      {12, 1000, 2048, 8, 4096, 100, 1, 0, {2147483647, 2147483647, 2147483647}},
      {2, 10, 2048, 8, 4096, 0, 1, 0, {10, 10, 10}},
  };
  for (const Case& c : cases) {
    const RowEstimates e =
        EstimateRows(c.levels, c.top, c.inner, c.key, c.leaf, c.entry, c.attribute, c.figure);
    EXPECT_EQ(e.lowest, c.want.lowest) << c.levels << " " << c.attribute;
    EXPECT_EQ(e.highest, c.want.highest) << c.levels << " " << c.attribute;
    EXPECT_EQ(e.middle, c.want.middle) << c.levels << " " << c.attribute;
  }
}

class FiguresTest : public DbStartTest {
 protected:
  void SetUp() override {
    DbStartTest::SetUp();
    ASSERT_EQ(Start(1), 0);
    usr_ = Alloc(USR_BYTES);
  }
  int32_t usr_ = 0;
};

TEST_F(FiguresTest, DatabankSizes) {
  int32_t block[4] = {-1, usr_, 2, -1}, in_use = -1, units = -1;
  DSGetDbInfo(base_, block, &in_use, &units);
  ASSERT_EQ(block[DBINFO_STATUS], 0);
  EXPECT_GT(in_use, 1);
  EXPECT_GE(units, in_use);
  int32_t unknown[4] = {0, usr_, 99, -1};
  DSGetDbInfo(base_, unknown, &in_use, &units);
  EXPECT_EQ(unknown[DBINFO_STATUS], -45 - 16140);
  EXPECT_EQ(W(usr_, USR_RVEC_RCODE), -45 - 16140);
}

TEST_F(FiguresTest, TableFigures) {
  int32_t crt[CRT_WORDS] = {};
  crt[RQ_DID] = 1;
  crt[RQ_TYPE] = 10;
  crt[RQ_TBL] = 400;
  crt[RQ_KEY_LENGTH] = 4;
  crt[RQ_RECORD_LENGTH] = 16;
  DKEXE1(16, crt);
  ASSERT_EQ(crt[RQ_STATUS], 0);
  for (int i = 0; i < 5; ++i) {
    const std::string key = "k00" + std::to_string(i);
    std::vector<int32_t> b(RQ_RECORD + 6, 0);
    b[RQ_TABLE] = crt[RQ_TABLE];
    b[RQ_TBL] = 400;
    b[RQ_RECORD_LENGTH] = 16;
    const std::string record = MakeRecord(key, 4, 16);
    std::memcpy(b.data() + RQ_RECORD, record.data(), 16);
    DKEXE1(38, b.data());
    ASSERT_EQ(b[RQ_STATUS], 0);
  }
  int32_t pb[2] = {-1, usr_}, out[TABSTATS_WORDS + 1];
  out[TABSTATS_WORDS] = -7;
  const int32_t rq[3] = {400, 1, 1};
  DSGetTabStats(base_, pb, rq, out);
  ASSERT_EQ(pb[0], 0);
  EXPECT_GT(out[0], 0);
  EXPECT_GT(out[1], 0);
  EXPECT_EQ(out[2], 1);   // one level
  EXPECT_EQ(out[3], 4);   // key length
  EXPECT_EQ(out[4], 16);  // entry length
  EXPECT_EQ(out[5], 5);   // one level: the top page's entries
  EXPECT_EQ(out[6], 5);
  EXPECT_EQ(out[7], 5);
  EXPECT_EQ(out[TABSTATS_WORDS], -7);
  // Unknown table: the kernel's -50; a kind other than 1 or 2.
  const int32_t missing[3] = {401, 1, 1};
  DSGetTabStats(base_, pb, missing, out);
  EXPECT_EQ(pb[0], -50 - 16140);
  EXPECT_EQ(W(usr_, USR_RVEC_RCODE), -50 - 16140);
  const int32_t bad[3] = {400, 1, 3};
  DSGetTabStats(base_, pb, bad, out);
  EXPECT_EQ(pb[0], KERNEL_BAD_PARAMETER);
}

}  // namespace
