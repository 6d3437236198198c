// Dispatch by function code: return words, invalid codes, cancelled requests,
// the begin-of-request check, the routine name table and statistics.
#include "dk/request.h"

#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <vector>

#include "dk/control_area.h"
#include "dk/routine_names.h"
#include "dk/tests/kernel_fixture.h"

namespace {

using RequestTest = KernelTest;

TEST_F(RequestTest, EveryCodeHasItsDispatcherAndReturnWord) {
  const std::set<int32_t> word5 = {10, 13, 16, 20, 26, 27, 33};
  const std::set<int32_t> word6 = {7, 9, 11, 21, 28, 29, 30, 39, 40, 42, 64};
  const std::set<int32_t> second = {57, 58, 59, 60, 61, 62, 65, 66};
  for (int32_t code = -2; code <= 68; ++code) {
    SCOPED_TRACE(code);
    const bool valid = code >= 1 && code <= 66;
    const int32_t expected_dispatcher = !valid ? 0 : second.count(code) ? 2 : 1;
    EXPECT_EQ(DKDispatcherOf(code), expected_dispatcher);
    int32_t expected1 = 0, expected2 = 0;
    if (expected_dispatcher == 1) expected1 = word5.count(code) ? 5 : word6.count(code) ? 6 : 0;
    if (expected_dispatcher == 2) expected2 = code == 66 ? 5 : 0;
    EXPECT_EQ(DKReturnWord(code, 1), expected1);
    EXPECT_EQ(DKReturnWord(code, 2), expected2);
  }
}

TEST_F(RequestTest, InvalidCodesGiveMinus43AndTwoRecordsNamingTheDispatcher) {
  struct Case {
    int dispatcher;
    int32_t code;
    int word;  // where -43 lands
  } cases[] = {
      {1, 0, 0},  {1, 65, 0}, {1, 66, 0}, {1, -1, 0}, {1, 67, 0},   {1, INT_MIN, 0},
      {1, 57, 0}, {2, 1, 0},  {2, 44, 0}, {2, 0, 0},  {2, 1000, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    log_.records.clear();
    std::vector<int32_t> block(8, 7);
    if (c.dispatcher == 1) {
      DKEXE1(c.code, block.data());
    } else {
      DKEXE2(c.code, block.data(), nullptr);
    }
    for (int i = 0; i < 8; ++i) EXPECT_EQ(block[i], i == c.word ? -43 : 7) << i;
    const std::string name = c.dispatcher == 1 ? "DKEXE1" : "DKEXE2";
    ASSERT_EQ(log_.records.size(), 2u);
    EXPECT_EQ(log_.records[0].lines.at(1), "ZAVOR/DB kernel error -16195 in function " + name);
    EXPECT_EQ(log_.records[0].lines.at(2), "Internal inconsistency detected");
    EXPECT_EQ(log_.records[1].lines.at(1), "ZAVOR/DB kernel error -16183 in function " + name);
    EXPECT_EQ(log_.records[1].lines.at(2), "Bad parameter, value = " + std::to_string(c.code));
  }
  DKEXE1(0, nullptr);  // no block: nothing to store, still no crash
}

struct FakeChannel {
  int32_t mode = 0;
  bool matches = false;
  int32_t kernel_requests = 0;
};
FakeChannel fake;

const DKChannelAccess kFakeAccess = {
    [] { return int32_t{17}; },
    [](int32_t) { return fake.mode; },
    [](int32_t) { return fake.matches; },
    [](int32_t) { ++fake.kernel_requests; },
};

TEST_F(RequestTest, CancelledRequestsGetMinus89InTheirReturnWord) {
  DKInstallChannelAccess(&kFakeAccess);
  struct Case {
    int32_t mode;
    bool matches;
    bool cancelled;
    int32_t counted;
  } cases[] = {
      {1, true, true, 1},  {2, true, true, 0},  {1, false, false, 1},
      {0, true, false, 0}, {3, true, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    fake = {c.mode, c.matches, 0};
    log_.records.clear();
    const int32_t cancels = Bufferpool()[BP_CANCELLED_REQUESTS];
    // Room for the request of code 9 (DKCCS1), which runs when not cancelled.
    std::vector<int32_t> block(64, 7);
    DKEXE1(9, block.data());
    EXPECT_EQ(fake.kernel_requests, c.counted);
    if (c.cancelled) {
      EXPECT_EQ(block[6], -89);
      EXPECT_EQ(block[0], 7);
      EXPECT_TRUE(log_.records.empty());
      EXPECT_EQ(Bufferpool()[BP_CANCELLED_REQUESTS], cancels + 1);
    } else {
      EXPECT_NE(block[6], -89);
      EXPECT_EQ(Bufferpool()[BP_CANCELLED_REQUESTS], cancels);
    }
  }
  fake = {1, true, 0};
  std::vector<int32_t> block(8, 7);
  DKEXE2(66, block.data(), nullptr);
  EXPECT_EQ(block[5], -89);
  DKInstallChannelAccess(nullptr);
}

TEST_F(RequestTest, BeginEndAndNoOperation) {
  int32_t block[8] = {5, 5, 5, 5, 5, 5, 5, 5};
  DKEXE1(1, block);
  EXPECT_EQ(block[0], 0);
  Bufferpool()[BP_STATUS] = BP_STATUS_DOWN;
  DKBEG1(block);
  EXPECT_EQ(block[0], -1);
  Bufferpool()[BP_STATUS] = BP_STATUS_UP;
  for (int32_t code : {2, 47}) {
    block[0] = 9;
    DKEXE1(code, block);
    EXPECT_EQ(block[0], 0);
  }
  EXPECT_TRUE(log_.records.empty());
}

TEST(RoutineNames, TableIsIndexedFromMinus146To66) {
  struct Case {
    int32_t index;
    const char* name;
  } cases[] = {
      {-146, "DKRLC0"}, {-132, "DKEXE2"}, {-109, "DKSTA9"}, {-84, "DKOSY9"},
      {-59, "DKHMA0"},  {-44, "DKEXE1"},  {-5, "DKBLK1"},   {-1, "DKADC0"},
      {0, "zero  "},    {1, "DKBEG1"},    {31, "DKGBS1"},   {44, "DKOPD1"},
      {66, "DKCLO1"},   {-147, ""},       {67, ""},         {INT_MIN, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(DKRoutineName(c.index), c.name) << c.index;
}

TEST_F(RequestTest, StatisticsAnswerEachCode) {
  int32_t* w = Bufferpool();
  w[BP_PAGES_WRITTEN] = 11;
  w[BP_CANCELLED_REQUESTS] = 4;
  w[BP_TSS_OVERFLOWED] = 9;
  w[BP_TSS_DELETED] = 2;
  const int32_t p2k = w[BP_FIRST_PARTITION];
  const int32_t p16k = w[p2k + ENTRY_LINK];
  w[p2k + PART_STAT_REQUESTS] = 100;
  w[p16k + PART_STAT_REQUESTS] = 20;
  AddDatabank(3, "A");
  struct Case {
    std::vector<int32_t> codes;
    std::vector<int32_t> answers;  // words from word 3 on
  } cases[] = {
      {{1, 23}, {1, 0, -2}},
      {{2, 29, 55}, {1, 11, 1, 4, 1, 7}},
      {{4, 5, 6, 7}, {1, 120, 1, 100, 1, 20, 1, 0}},  // no 65536-byte partition
      {{25, 26, 27, 24}, {1, 3, 1, 1, 1, 0, 1, 0}},
      {{0, -2, 56, 30, 54}, {-2, -2, -2, 1, 0, 1, 0}},
  };
  for (const Case& c : cases) {
    std::vector<int32_t> block(3 + 2 * c.codes.size(), -7);
    block[0] = static_cast<int32_t>(3 + c.codes.size());
    std::copy(c.codes.begin(), c.codes.end(), block.begin() + 3);
    DKEXE1(31, block.data());
    EXPECT_EQ(block[0], static_cast<int32_t>(4 + c.answers.size()));
    EXPECT_EQ(std::vector<int32_t>(block.begin() + 3, block.begin() + 3 + c.answers.size()),
              c.answers);
  }
  for (int32_t n : {3, 0, -5, 260, INT_MAX}) {
    std::vector<int32_t> block(4, 1);
    block[0] = n;
    DKGBS1(block.data());
    EXPECT_EQ(block[0], -43) << n;
    EXPECT_EQ(block[3], 1);
  }
}

TEST(Statistics, WithoutAControlAreaEveryCodeIsUnavailable) {
  int32_t block[8] = {6, 0, 0, 2, 23, 29, 0, 0};
  DKGBS1(block);
  EXPECT_EQ(block[0], 7);
  EXPECT_EQ(block[3], -1);
  EXPECT_EQ(block[4], -2);
  EXPECT_EQ(block[5], -1);
}

// Without a started kernel there is no control area to work in: every valid
// code is turned away in its return word, none reaches its routine.
TEST(RequestsBeforeStart, EveryCodeIsTurnedAwayAsDown) {
  for (int32_t code = 1; code <= 66; ++code) {
    SCOPED_TRACE(code);
    const int32_t dispatcher = DKDispatcherOf(code);
    std::vector<int32_t> block(256, 0);
    if (dispatcher == 1)
      DKEXE1(code, block.data());
    else
      DKEXE2(code, block.data(), nullptr);
    EXPECT_EQ(block[DKReturnWord(code, dispatcher)], DK_RC_DOWN);
  }
}

}  // namespace
