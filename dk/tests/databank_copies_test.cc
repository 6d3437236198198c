// The copies of one databank: their state by SEQNO and over the chain, and
// a copy taken offline with its close mark written, once only.
#include "dk/databank_copies.h"

#include <gtest/gtest.h>

#include "dk/tests/databank_fixture.h"

namespace {

class DatabankCopiesTest : public DatabankTest {
 protected:
  // The databank (SEQNO 3) and a copy (SEQNO 4) of DID 5, both open.
  void SetUp() override {
    DatabankTest::SetUp();
    first_ = Create("first", 64, 5, 3);
    copy_ = Create("copy", 64, 5, 4);
  }

  std::vector<int32_t> Call(int32_t code, int32_t mode, int32_t did, int32_t seqno) {
    int32_t rq[CPY_WORDS] = {mode, 0, did, seqno};
    DKCallEntry(code, rq, nullptr);
    return {rq[CPY_MODE], rq[CPY_ENTRY], rq[CPY_SEQNO]};
  }
  std::vector<int32_t> State(int32_t mode, int32_t did, int32_t seqno) {
    return Call(32, mode, did, seqno);
  }
  int32_t Offline(int32_t seqno) { return Call(53, 1, 5, seqno)[0]; }

  int32_t first_ = 0, copy_ = 0;
};

TEST_F(DatabankCopiesTest, StateByCopyAndOverTheChain) {
  EXPECT_EQ(State(0, 5, -1)[1], first_);
  EXPECT_EQ(State(0, 5, 4), (std::vector<int32_t>{0, copy_, 4}));
  EXPECT_EQ(State(1, 5, 4)[0], 0);
  EXPECT_EQ(State(-1, 5, -1)[0], 0);  // the copy is online
  EXPECT_EQ(State(0, 5, 9)[0], -47);
  EXPECT_EQ(State(0, 8, -1)[0], 3);
  EXPECT_EQ(State(-1, 8, -1)[0], 3);
}

TEST_F(DatabankCopiesTest, CopyGoesOfflineOnceWithItsCloseMark) {
  EXPECT_EQ(Offline(4), 0);
  EXPECT_EQ(area_[copy_ + DBE_OFFLINE], 1);
  EXPECT_EQ(FileWord("copy", kHeaderUnit, HDR_CLOSE_MARK), 1);
  EXPECT_EQ(State(1, 5, 4)[0], 1);
  EXPECT_EQ(State(-1, 5, -1)[0], 1);  // no copy online but the first
  // Offline already, itself or a later copy of the chain.
  EXPECT_EQ(Offline(4), -57);
  EXPECT_EQ(Offline(3), -57);
  EXPECT_EQ(area_[first_ + DBE_OFFLINE], 0);
  EXPECT_EQ(Offline(9), -45);
  EXPECT_EQ(Call(53, -1, 5, 4), (std::vector<int32_t>{0, 0, 4}));
  EXPECT_EQ(Call(53, -1, 5, 9)[0], 1);
}

}  // namespace
