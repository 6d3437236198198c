// Two sessions walking the same dictionary cursor at once: each session's
// work keeps its own place, and what one commits the other then finds.
#include <string>
#include <utility>
#include <vector>

#include "dict/tests/objects_fixture.h"

namespace {

class CursorSessionsTest : public ObjectsTest {
 protected:
  void SetUp() override {
    SetUpCatalog({11, 12, 14, 15, 16, 17, 18, 19, 20, 21, 22, 24, 25, 26, 27, 28, 29, 30, 32, 33,
                  36, 38, 39, 40, 41, 44, 151});
  }
  // The next row of session `usr`'s dependents cursor over object 500
  // (open: from the start); the status.
  int32_t Next(int32_t usr, bool open, std::pair<int32_t, int32_t>* row) {
    int32_t pb[2] = {open ? 1 : 0, usr};
    DDCurDependents(base_, pb, 500, "DOM", 3, &row->first, &row->second);
    return pb[0];
  }
  int32_t BegOther(int32_t other) {
    W(other + USR_CHA) = cha_;
    int32_t pb[2] = {0, other};
    DDBegWork(base_, pb);
    if (pb[0] == 0) W(W(other + USR_TRS) + TRS_STATUS) = 3;
    return pb[0];
  }
  int32_t EndOther(int32_t other) {
    int32_t pb[2] = {0, other};
    DDEndWork(base_, pb);
    return pb[0];
  }
};

TEST_F(CursorSessionsTest, EachSessionKeepsItsOwnPlace) {
  Protocol(21);
  ASSERT_EQ(BegWork(), 0);
  ASSERT_EQ(InsObject(500, 2, "S", "DOM"), 0);
  for (int32_t user : {600, 601, 602}) {
    int32_t pb[2] = {0, usr_};
    DDInsObjUsage(base_, pb, user, 6, 500, 2);
    ASSERT_EQ(pb[0], 0) << user;
  }
  ASSERT_EQ(EndWork(0), 0);
  WaitSecured();
  const std::vector<std::pair<int32_t, int32_t>> want = {{600, 6}, {601, 6}, {602, 6}, {500, 2}};
  const int32_t other = users_[1];
  ASSERT_EQ(BegWork(), 0);
  ASSERT_EQ(BegOther(other), 0);
  std::vector<std::pair<int32_t, int32_t>> mine, theirs;
  std::pair<int32_t, int32_t> row;
  // Interleaved: one row of each in turn, the other session two ahead.
  ASSERT_EQ(Next(other, true, &row), 0);
  theirs.push_back(row);
  ASSERT_EQ(Next(other, false, &row), 0);
  theirs.push_back(row);
  ASSERT_EQ(Next(usr_, true, &row), 0);
  mine.push_back(row);
  int32_t my_status = 0, their_status = 0;
  for (int32_t k = 0; k < 6; ++k) {
    if (my_status == 0 && (my_status = Next(usr_, false, &row)) == 0) mine.push_back(row);
    if (their_status == 0 && (their_status = Next(other, false, &row)) == 0)
      theirs.push_back(row);
  }
  EXPECT_EQ(my_status, 1);
  EXPECT_EQ(their_status, 1);
  EXPECT_EQ(mine, want);
  EXPECT_EQ(theirs, want);
  EXPECT_EQ(EndWork(0), 0);
  // A user the other session records and commits is found by the next walk.
  int32_t pb[2] = {0, other};
  DDInsObjUsage(base_, pb, 603, 7, 500, 2);
  ASSERT_EQ(pb[0], 0);
  ASSERT_EQ(EndOther(other), 0);
  WaitSecured();
  ASSERT_EQ(BegWork(), 0);
  mine.clear();
  for (bool open = true; Next(usr_, open, &row) == 0; open = false) mine.push_back(row);
  EXPECT_EQ(mine, (std::vector<std::pair<int32_t, int32_t>>{
                      {600, 6}, {601, 6}, {602, 6}, {603, 7}, {500, 2}}));
  EXPECT_EQ(EndWork(0), 0);
}

}  // namespace
