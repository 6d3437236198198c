// The restore time stamps a restart owes the restore directory (DKILT0,
// DKILT1): a missing slot added on the LOG databank and its online copies, a
// slot one or two stamps behind put in state 1, any other refused with -19
// (a warning only with option -1), a shadow's failure passed over.
#include <gtest/gtest.h>

#include <cerrno>

#include "dk/restore_directory.h"
#include "dk/tests/databank_fixture.h"

namespace {

class RestoreStampsTest : public DatabankTest {
 protected:
  void SetUp() override {
    DatabankTest::SetUp();
    log_entry_ = Create("log", 64, 3, 1);
    copy_ = Create("logcopy", 64, 3, 2);
  }
  // The slot of `did` in a databank's directory: {stamp, sequence, state},
  // empty when there is none.
  std::vector<int32_t> SlotIn(const std::string& name, int32_t did) {
    for (int32_t unit = FileWord(name, kHeaderUnit, HDR_RESTORE_DIRECTORY); unit > 0;
         unit = FileWord(name, unit, RDIR_NEXT))
      for (int32_t s = 0; s < RDIR_SLOTS; ++s) {
        int32_t w = RDIR_FIRST_SLOT + RDIR_SLOT_WORDS * s;
        if (FileWord(name, unit, w + RDIR_DID) == did)
          return {FileWord(name, unit, w + RDIR_TIME), FileWord(name, unit, w + RDIR_SEQUENCE),
                  FileWord(name, unit, w + RDIR_STATE)};
      }
    return {};
  }
  // Sets the state word of the slot of `did` in the first directory page.
  void SetState(int32_t entry, int32_t did, int32_t state) {
    int32_t unit = 0;
    int32_t b = Get(entry, kHeaderUnit, kUnitBytes, GET_SHARED);
    unit = PageWord(PageBytes(b), HDR_RESTORE_DIRECTORY);
    DKPUT0(PUT_END_SHARED, b);
    b = Get(entry, unit, kUnitBytes, GET_UPDATE);
    int32_t slot = RestoreSlotOf(PageBytes(b), did);
    ASSERT_GE(slot, 0);
    SetPageWord(PageBytes(b), RDIR_FIRST_SLOT + RDIR_SLOT_WORDS * slot + RDIR_STATE, state);
    ASSERT_EQ(WriteUnitPage(entry, unit, b), 0);
  }

  int32_t log_entry_ = 0, copy_ = 0;
};

TEST_F(RestoreStampsTest, SlotsAreAddedCheckedAndRefused) {
  // No directory yet: the first page is made, on both copies. The slot
  // added is the one the record's stamp fits, one behind it, so that the
  // same record applied again (a replay) and the next backup's stamp (the
  // slot's + 2) both fit it.
  ASSERT_EQ(DKILT1(log_entry_, 77, 10, 0), 0);
  EXPECT_EQ(SlotIn("log", 77), (std::vector<int32_t>{9, -1, 1}));
  EXPECT_EQ(SlotIn("logcopy", 77), (std::vector<int32_t>{9, -1, 1}));
  struct Case {
    int32_t stamp, option, rc;
    int32_t state_after;  // of a slot set to 2 before
  } cases[] = {
      {10, 0, 0, 1},    // one behind: the adding record again
      {11, 0, 0, 1},    // two behind
      {12, 0, -19, 2},  // three behind: the databank must be restored
      {9, 0, -19, 2},   // not behind at all
      {12, -1, 0, 2},   // a warning only, nothing changes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stamp);
    SetState(log_entry_, 77, 2);
    SetState(copy_, 77, 2);
    EXPECT_EQ(DKILT1(log_entry_, 77, c.stamp, c.option), c.rc);
    EXPECT_EQ(SlotIn("log", 77), (std::vector<int32_t>{9, -1, c.state_after}));
  }
  EXPECT_EQ(DKILT1(0, 77, 11, 0), -45);
}

TEST_F(RestoreStampsTest, OfflineCopiesAreLeftAndAShadowsFailureIsPassedOver) {
  area_[copy_ + DBE_OFFLINE] = 1;
  ASSERT_EQ(DKILT1(log_entry_, 78, 5, 0), 0);
  EXPECT_EQ(SlotIn("log", 78).size(), 3u);
  EXPECT_TRUE(SlotIn("logcopy", 78).empty());
  area_[copy_ + DBE_OFFLINE] = 0;
  // The copy, a shadow, cannot write: the loop goes on past it. The
  // databank's own failure ends it.
  area_[copy_ + DBE_KIND] = DBT_SHADOW;
  fault_.FailNthWrite(2, EIO);  // the first is the databank's slot page
  EXPECT_EQ(DKILT1(log_entry_, 79, 5, 0), 0);
  EXPECT_EQ(SlotIn("log", 79).size(), 3u);
  EXPECT_TRUE(SlotIn("logcopy", 79).empty());
  fault_.FailNthWrite(1, EIO);
  EXPECT_EQ(DKILT1(log_entry_, 80, 5, 0), -61);
}

}  // namespace
