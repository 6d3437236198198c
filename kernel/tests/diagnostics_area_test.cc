// The diagnostics area: conditions numbered by position, the capacity of
// the transaction's area, the clearing by the next add, and texts.
#include <algorithm>
#include <random>

#include "kernel/diagnostics_area.h"
#include "kernel/sql_compile_services.h"
#include "kernel/tests/core_fixture.h"

namespace {

class DiagTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    usr_ = Alloc(USR_BYTES);
    W(usr_, USR_TRAN_DIAG_SIZE) = 50;
  }
  // (position, number) of every condition in chain order.
  std::vector<std::pair<int32_t, int32_t>> Conditions() {
    std::vector<std::pair<int32_t, int32_t>> out;
    for (int32_t r = usr_ + USR_DIA_NEXT; r != 0; r = W(r, DIAREC_NEXT))
      if (W(r, DIAREC_NUMBER) > 0) out.push_back({W(r, DIAREC_POSITION), W(r, DIAREC_NUMBER)});
    return out;
  }
  int32_t usr_ = 0;
};

TEST_F(DiagTest, NumbersFollowThePositions) {
  std::mt19937 rng(123);
  std::vector<int32_t> positions;  // in the order added
  for (int i = 0; i < 40; ++i) {
    const int32_t p = static_cast<int32_t>(rng() % 15);
    positions.push_back(p);
    ASSERT_EQ(DSAddDiag(base_, usr_, p, -1000 - i, 3, nullptr, 0), 0);
    // Numbered in position order, a later one after the earlier ones of
    // its position: numbers 1..n sorted by position.
    auto c = Conditions();
    ASSERT_EQ(c.size(), positions.size());
    std::sort(c.begin(), c.end(), [](auto a, auto b) { return a.second < b.second; });
    for (size_t k = 0; k < c.size(); ++k) {
      EXPECT_EQ(c[k].second, static_cast<int32_t>(k + 1));
      if (k > 0) {
        EXPECT_LE(c[k - 1].first, c[k].first);
      }
    }
  }
  EXPECT_EQ(W(usr_, USR_TOTAL_ERROR_COUNT), 40);
  EXPECT_EQ(W(usr_, USR_RVEC_RCODE), -1000);
}

TEST_F(DiagTest, ANewConditionBeforeOthersTakesTheLowestOfTheirNumbers) {
  // Chain order is newest first: 6 (number 2) comes before 4 (number 1).
  ASSERT_EQ(DSAddDiag(base_, usr_, 4, -1, 3, nullptr, 0), 0);
  ASSERT_EQ(DSAddDiag(base_, usr_, 6, -2, 3, nullptr, 0), 0);
  ASSERT_EQ(DSAddDiag(base_, usr_, 0, -3, 3, nullptr, 0), 0);
  auto c = Conditions();
  std::sort(c.begin(), c.end());
  EXPECT_EQ(c, (std::vector<std::pair<int32_t, int32_t>>{{0, 1}, {4, 2}, {6, 3}}));
}

TEST_F(DiagTest, TheFiftyFirstIsDroppedAndTheNextAddClears) {
  const int64_t live = Live();
  for (int i = 0; i < 51; ++i) ASSERT_EQ(DSAddDiag(base_, usr_, 100 - i, i, 2, nullptr, 0), 0);
  EXPECT_EQ(W(usr_, USR_TOTAL_ERROR_COUNT), 50);
  EXPECT_EQ(Conditions().size(), 50u);
  EXPECT_EQ(Live(), live + 49) << "the first lives in USR";
  // A smaller position than all present gets number 1.
  W(usr_, USR_TRAN_DIAG_SIZE) = 60;
  ASSERT_EQ(DSAddDiag(base_, usr_, 1, 77, 2, nullptr, 0), 0);
  const int32_t newest = W(usr_, USR_DIA_NEXT);
  EXPECT_EQ(W(newest, DIAREC_NUMBER), 1);
  EXPECT_EQ(W(newest, DIAREC_NATIVE), 77);
  // Flag 1 (a statement ended): the next add starts the area again.
  W(usr_, USR_DIA_ADDED_FLAG) = 1;
  const uint8_t text[] = "duplicate key";
  ASSERT_EQ(DSAddDiag(base_, usr_, 5, -14, 3, text, 13), 0);
  EXPECT_EQ(W(usr_, USR_DIA_ADDED_FLAG), 2);
  EXPECT_EQ(W(usr_, USR_TOTAL_ERROR_COUNT), 1);
  EXPECT_EQ(W(usr_, USR_RVEC_RCODE), -14);
  EXPECT_EQ(Live(), live + 1);
  const int32_t r = W(usr_, USR_DIA_NEXT);
  EXPECT_EQ(W(r, DIAREC_NUMBER), 1);
  EXPECT_EQ(W(r, DIAREC_TEXT_LENGTH), 13);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&W(r, DIAREC_TEXT)), 13), "duplicate key");
  EXPECT_EQ(W(usr_ + USR_DIA_NEXT, DIAREC_NUMBER), 0);
}

TEST_F(DiagTest, TheCompilersEntryAddsToTheArea) {
  SqlKernelServices table;
  KernelFillSqlServices(base_, &table);
  ASSERT_NE(table.add_diag, nullptr);
  table.add_diag(usr_, 12, -10512, 3, "syntax", 6);
  EXPECT_EQ(W(usr_, USR_TOTAL_ERROR_COUNT), 1);
  const int32_t r = W(usr_, USR_DIA_NEXT);
  EXPECT_EQ(W(r, DIAREC_POSITION), 12);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&W(r, DIAREC_TEXT)), 6), "syntax");
}

TEST_F(DiagTest, BadSessionsAndTextsAreRefused) {
  const uint8_t t[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(DSAddDiag(base_, 0, 1, 1, 1, nullptr, 0), KERNEL_BAD_PARAMETER);
  EXPECT_EQ(DSAddDiag(base_, usr_, 1, 1, 1, t, -1), KERNEL_BAD_PARAMETER);
  EXPECT_EQ(DSAddDiag(base_, usr_, 1, 1, 1, nullptr, 4), KERNEL_BAD_PARAMETER);
  EXPECT_EQ(DSAddDiag(base_, usr_, 1, 1, 1, t, DIAG_MAX_TEXT + 1), KERNEL_BAD_PARAMETER);
  EXPECT_EQ(W(usr_, USR_TOTAL_ERROR_COUNT), 0);
}

}  // namespace
