// Conditions recorded in the session's diagnostics area: numbering, reuse of
// the highest-numbered record when the area is full, the fields each state
// takes from the session's current objects, the trigger's second record.
#include "interp/diagnostics.h"

#include <map>

#include "interp/conditions.h"
#include "interp/tests/interp_fixture.h"
#include "kernel/diagnostics_area.h"

namespace interp {
namespace {

class DiagnosticsTest : public InterpTest {
 protected:
  void SetUp() override {
    InterpTest::SetUp();
    Wd(base_, usr_, USR_TRAN_DIAG_SIZE) = 3;
  }
  void Add(int32_t value, int32_t mode, const char* state = "S1000", int32_t kind = kRaiseFailure,
           int32_t trigger = 0) {
    DSAddCondition(base_, usr_, value, kind, mode, state, trigger);
  }
  // number -> record
  std::map<int32_t, int32_t> ByNumber() {
    std::map<int32_t, int32_t> out;
    for (int32_t r = usr_ + USR_DIA_NEXT; r != 0; r = Wd(base_, r, DIAREC_NEXT))
      out[Wd(base_, r, DIAREC_NUMBER)] = r;
    return out;
  }
  int32_t Native(int32_t number) { return Wd(base_, ByNumber().at(number), DIAREC_NATIVE); }
  int32_t Field(int32_t number, int32_t usr_field) {
    return Wd(base_, ByNumber().at(number), usr_field - USR_DIA_NEXT);
  }
};

TEST_F(DiagnosticsTest, NewestIsNumberOneAndAFullAreaReusesTheHighestNumbered) {
  Add(-1, 1);
  Add(-2, 1);
  Add(-3, 1);
  EXPECT_EQ(Wd(base_, usr_, USR_TOTAL_ERROR_COUNT), 3);
  EXPECT_EQ(Native(1), -3);
  EXPECT_EQ(Native(3), -1);
  // The record about to be reused holds a text of its condition.
  Wd(base_, ByNumber().at(3), DIAREC_TEXT_LENGTH) = 40;
  const int32_t reused = ByNumber().at(3);
  Add(-4, 1);
  EXPECT_EQ(Wd(base_, usr_, USR_TOTAL_ERROR_COUNT), 4);
  const auto records = ByNumber();
  EXPECT_EQ(records.size(), 3u);
  EXPECT_EQ(records.at(1), reused);
  EXPECT_EQ(Native(1), -4);
  EXPECT_EQ(Native(2), -3);
  EXPECT_EQ(Native(3), -2);
  EXPECT_EQ(Wd(base_, reused, DIAREC_TEXT_LENGTH), 0);
  EXPECT_EQ(Wd(base_, reused, DIAREC_POSITION), -1);
}

TEST_F(DiagnosticsTest, RaisedAgainAsRecordOneAddsNothingAndModeZeroReplaces) {
  Add(-1, 1);
  Add(-2, 1);
  Add(-2, 1);
  EXPECT_EQ(Wd(base_, usr_, USR_TOTAL_ERROR_COUNT), 2);
  Add(-7, 0);
  EXPECT_EQ(Wd(base_, usr_, USR_TOTAL_ERROR_COUNT), 1);
  EXPECT_EQ(ByNumber().size(), 1u);
  EXPECT_EQ(Native(1), -7);
  // A user condition is recorded as -14044.
  Add(4242, 0, "45000", kRaiseConditionName);
  EXPECT_EQ(Native(1), kErrUserCondition);
}

TEST_F(DiagnosticsTest, StateChoosesTheCurrentObjectsTaken) {
  Wd(base_, usr_, USR_CURRENT_TABLE_SYSID) = 11;
  Wd(base_, usr_, USR_CURRENT_CONSTRAINT_SYSID) = 12;
  Wd(base_, usr_, USR_CURRENT_ROUTINE_SYSID) = 13;
  Wd(base_, usr_, USR_CURRENT_COLUMN_NUMBER) = 15;
  Wd(base_, usr_, USR_CURRENT_PARAMETER_NUMBER) = 16;
  Wd(base_, usr_, USR_CURRENT_CURSOR_NAME_LENGTH) = 3;
  struct Case {
    int32_t native;
    const char* state;
    int32_t table, constraint, column, cursor;
  } cases[] = {
      {-10101, "23000", 11, 12, 0, 0}, {-10105, "23000", 0, 12, 0, 0},
      {-12200, "42000", 11, 0, 15, 0}, {-10104, "44000", 11, 0, 0, 0},
      {-14601, "24000", 0, 0, 0, 3},   {-10202, "22012", 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    Add(c.native, 0, c.state);
    EXPECT_EQ(Field(1, USR_DIA_TABLE_SYSID), c.table);
    EXPECT_EQ(Field(1, USR_DIA_CONSTRAINT_SYSID), c.constraint);
    EXPECT_EQ(Field(1, USR_DIA_COLUMN_NUMBER), c.column);
    EXPECT_EQ(Field(1, USR_DIA_CURSOR_NAME_LENGTH), c.cursor);
    EXPECT_EQ(Field(1, USR_DIA_ROUTINE_SYSID), 13);
    EXPECT_EQ(Field(1, USR_DIA_PARAMETER_NUMBER), 16);
  }
}

TEST_F(DiagnosticsTest, TriggerAddsASecondRecordNamingIt) {
  Wd(base_, usr_, USR_CURRENT_TRIGGER_SYSID) = 21;
  Wd(base_, usr_, USR_CURRENT_TABLE_SYSID) = 11;
  Add(-1, 1);
  Add(-10101, 1, "23000", kRaiseFailure, 5);
  EXPECT_EQ(Wd(base_, usr_, USR_TOTAL_ERROR_COUNT), 3);
  EXPECT_EQ(Native(1), -10101);
  EXPECT_EQ(Native(2), -14703);
  EXPECT_EQ(Native(3), -1);
  EXPECT_EQ(Field(2, USR_DIA_TRIGGER_SYSID), 21);
  EXPECT_EQ(Field(2, USR_DIA_TABLE_SYSID), 11);
}

}  // namespace
}  // namespace interp
