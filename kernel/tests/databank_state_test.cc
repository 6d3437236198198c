// DSGetDbState over databank files the databank kernel made: the first
// copy's entry and sequence number, a named copy, an unknown one.
#include "kernel/databank_state.h"

#include "kernel/tests/databank_fixture.h"

namespace {

class DbStateTest : public DatabankTest {
 protected:
  void SetUp() override {
    DatabankTest::SetUp();
    MakeFile("user4.dbf", 4, 1, 7);
    g_rows[4] = {DatabankRow{"USERDB", "user4.dbf", "N", "N", "N", 7}};
    usr_ = Alloc(USR_BYTES);
  }
  int32_t usr_ = 0;
};

TEST_F(DbStateTest, FirstCopyGivesItsEntryAndSequence) {
  auto open = Open(3, 4);
  ASSERT_EQ(open[OPD_KIND], 0);
  int32_t rq[DBSTATE_WORDS] = {55, usr_, 4, 0, -1};
  DSGetDbState(base_, rq);
  EXPECT_EQ(rq[DBSTATE_STATUS], 55);  // not written on success
  EXPECT_EQ(rq[DBSTATE_ENTRY], KernelEntry(4));
  EXPECT_EQ(rq[DBSTATE_SEQNO], 7);
  // A named copy is asked for as it is and keeps the word.
  int32_t named[DBSTATE_WORDS] = {55, usr_, 4, 0, 7};
  DSGetDbState(base_, named);
  EXPECT_EQ(named[DBSTATE_STATUS], 55);
  EXPECT_EQ(named[DBSTATE_SEQNO], 7);
  int32_t other[DBSTATE_WORDS] = {55, usr_, 4, 0, 5};
  DSGetDbState(base_, other);
  EXPECT_LT(other[DBSTATE_STATUS], 0);
  EXPECT_EQ(other[DBSTATE_SEQNO], 5);
  EXPECT_EQ(W(usr_, USR_RVEC_RCODE), other[DBSTATE_STATUS]);
  EXPECT_EQ(W(usr_, USR_RVEC_LID), 4);
  EXPECT_EQ(W(usr_, USR_RVEC_SEQNO), 5);
  EXPECT_EQ(W(usr_, USR_RVEC_BITVEC), RVEC_MASK_DATABANK);
  EXPECT_EQ(Close(0, 4), 0);
}

}  // namespace
