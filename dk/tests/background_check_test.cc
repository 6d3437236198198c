// The databank checks of a background thread with nothing to apply: the
// databanks waiting in check state 16 are handed to the installed check in
// state 17, further passes only for refused requests, none beyond the limit
// of checking threads, and without a check the databank keeps waiting.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "dk/databank_file.h"
#include "dk/tests/transaction_fixture.h"

namespace {

std::vector<std::pair<int32_t, int32_t>> checked;  // databank, state seen
std::atomic<int> checks{0};

int32_t FakeCheck(int32_t databank) {
  checked.emplace_back(databank, Bufferpool()[databank + DBE_STATE]);
  Bufferpool()[databank + DBE_STATE] = CHK_COMPLETE;
  checks.fetch_add(1);
  return 0;
}

class BackgroundCheckTest : public TransactionTest {
 protected:
  void SetUp() override {
    TransactionTest::SetUp();
    checked.clear();
    DKInstallBackgroundCheck(FakeCheck);
    area_[BP_HALF_BACKGROUND] = 1;
  }
  void TearDown() override {
    DKInstallBackgroundCheck(nullptr);
    TransactionTest::TearDown();
  }
};

TEST_F(BackgroundCheckTest, WaitingDatabanksAreCheckedWithinTheLimits) {
  struct Case {
    const char* what;
    int32_t checking, refused;
    std::vector<int32_t> order;  // 0: db_, 1: trans_
    int32_t refused_after;
  } cases[] = {
      {"one pass", 0, 0, {0}, 0},
      {"a pass more for a refused request", 0, 1, {0, 1}, 0},
      {"every checking place taken", 1, 0, {}, 1},
  };
  for (const Case& c : cases) {
    checked.clear();
    area_[db_ + DBE_STATE] = area_[trans_ + DBE_STATE] = CHK_WAIT_BACKGROUND;
    area_[169] = c.checking;
    area_[171] = c.refused;
    DKCheckWaitingDatabanks();
    std::vector<std::pair<int32_t, int32_t>> expected;
    for (int32_t i : c.order) expected.emplace_back(i == 0 ? db_ : trans_, CHK_BACKGROUND);
    EXPECT_EQ(checked, expected) << c.what;
    EXPECT_EQ(area_[169], c.checking) << c.what;
    EXPECT_EQ(area_[171], c.refused_after) << c.what;
  }
}

TEST_F(BackgroundCheckTest, WithoutACheckTheDatabankKeepsWaiting) {
  DKInstallBackgroundCheck(nullptr);
  area_[db_ + DBE_STATE] = CHK_WAIT_BACKGROUND;
  DKCheckWaitingDatabanks();
  EXPECT_EQ(area_[db_ + DBE_STATE], CHK_WAIT_BACKGROUND);
  EXPECT_EQ(area_[169], 0);
}

// A master woken for deferred work with nothing to apply runs the checks.
TEST_F(BackgroundCheckTest, AnIdleMasterChecks) {
  area_[db_ + DBE_STATE] = CHK_WAIT_BACKGROUND;
  checks = 0;
  StartBackground(1);
  DKBTW0(25);
  while (checks.load() == 0) std::this_thread::yield();
  StopBackground();
  ASSERT_EQ(checked.size(), 1u);
  EXPECT_EQ(checked[0].first, db_);
  EXPECT_EQ(area_[db_ + DBE_STATE], CHK_COMPLETE);
}

}  // namespace
