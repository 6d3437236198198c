// The scroll position in parameter 7 of a statement's section.
#include "kernel/fetch_position.h"
#include "kernel/tests/core_fixture.h"
#include "kernel/tests/statement_fixture.h"

namespace {

class FetchPosTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    usr_ = Alloc(USR_BYTES);
    stm_ = MakeStatement(base_, {8, 8, 8, 8, 8, 8, 7}, {});
  }
  void Put(int32_t value) {
    uint8_t* f = nullptr;
    int32_t len = 0;
    ASSERT_EQ(StatementField(base_, stm_, false, 7, &f, &len), 0);
    value_descriptor d;
    d.precision = 2 * len - 3;
    d.scale = 0;
    ASSERT_EQ(int_to_decimal(ByteSpan(f, len), d, value), 0);
  }
  int32_t usr_ = 0, stm_ = 0;
};

TEST_F(FetchPosTest, StepsMoveThePositionNeverBelowOne) {
  Put(10);
  int32_t pos = 0, words = 4;
  EXPECT_EQ(DSGetFetchPos2(base_, usr_, stm_, &pos), 0);
  EXPECT_EQ(pos, 10);
  struct Case {
    int32_t step, expect;
  } cases[] = {{5, 15}, {-3, 12}, {-100, 1}, {1, 2}, {2147483647, 2147483647}};
  for (const Case& c : cases) {
    EXPECT_EQ(DSGetFetchPos(base_, c.step, usr_, stm_, nullptr, &words, &pos), 0);
    EXPECT_EQ(pos, c.expect) << c.step;
    int32_t read = 0;
    DSGetFetchPos2(base_, usr_, stm_, &read);
    EXPECT_EQ(read, c.expect);
  }
}

TEST_F(FetchPosTest, StepZeroTakesThePositionFromTheRequestsLastWords) {
  // The position 4711 as the field holds it, at the request's end.
  Put(4711);
  uint8_t* f = nullptr;
  int32_t len = 0;
  StatementField(base_, stm_, false, 7, &f, &len);
  int32_t request[6] = {1, 2, 3, 4, 0, 0};
  std::memcpy(request + 4, f, 7);
  Put(1);
  int32_t words = 6, pos = 0;
  EXPECT_EQ(DSGetFetchPos(base_, 0, usr_, stm_, request, &words, &pos), 0);
  EXPECT_EQ(words, 4);
  EXPECT_EQ(pos, 4711);
}

TEST_F(FetchPosTest, ASectionOfSixParametersHasNoPosition) {
  const int32_t six = MakeStatement(base_, {8, 8, 8, 8, 8, 8}, {});
  W(usr_, USR_RVEC_BITVEC) = 9;
  int32_t pos = 0, words = 4;
  EXPECT_EQ(DSGetFetchPos2(base_, usr_, six, &pos), FETCH_NO_POSITION);
  EXPECT_EQ(W(usr_, USR_RVEC_RCODE), FETCH_NO_POSITION);
  EXPECT_EQ(W(usr_, USR_RVEC_BITVEC), 0);
  EXPECT_EQ(DSGetFetchPos(base_, 1, usr_, six, nullptr, &words, &pos), FETCH_NO_POSITION);
  EXPECT_EQ(DSGetFetchPos2(base_, usr_, 0, &pos), FETCH_NO_POSITION);
}

}  // namespace
