// Conditions recorded in the session's diagnostics area: numbering, reuse of
// the highest-numbered record when the area is full, the fields each state
// takes from the session's current objects, the trigger's second record.
#include "interp/diagnostics.h"

#include <cstring>
#include <map>
#include <string>

#include "interp/conditions.h"
#include "interp/tests/interp_fixture.h"
#include "kernel/diagnostics_area.h"
#include "platform/packed_decimal.h"

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

namespace interp {
namespace {

class SiteForGet : public ConditionSite {
 public:
  void SqlState(int32_t rc, char* state) override {
    std::memcpy(state, rc == -10101 ? "23000" : "S1000", 5);
  }
  int32_t RollbackToMark(int32_t) override { return 0; }
  int32_t TransactionState() override { return 1; }
  int32_t TransactionScope() override { return 1; }
  void EndCompound(int32_t, int32_t) override {}
  void Log(int32_t, const char*) override {}
  bool HasDiagnostics() override { return false; }
  void Record(int32_t, int32_t, const char*, int32_t, int32_t) override {}
};

class GetDiagnosticsTest : public DiagnosticsTest {
 protected:
  static constexpr int32_t kNumber = 100, kTarget = 120, kLength = 160;
  int32_t Get(int32_t item, int32_t number, int32_t length, int32_t type = kProgInsertOne) {
    const value_descriptor d{kNumber, 5};
    int_to_decimal(ByteSpan(bytes_, sizeof bytes_), d, number);
    const int32_t ops[6] = {item, kNumber, 5, kTarget, length, kLength};
    run_.storage = reinterpret_cast<int32_t*>(bytes_);
    run_.storage_words = sizeof bytes_ / 4;
    run_.program_words = 0;
    return DSGetDiagnostics(base_, usr_, ByteSpan(bytes_, sizeof bytes_), ops, true, type, site_,
                            run_);
  }
  std::string Target(int32_t length) {
    return std::string(reinterpret_cast<char*>(bytes_) + kTarget + 1, static_cast<size_t>(length));
  }
  alignas(4) uint8_t bytes_[256] = {};
  SiteForGet site_;
  ConditionRun run_;
};

TEST_F(GetDiagnosticsTest, ConditionNumberMustNameARecord) {
  Add(-10101, 1, "23000");
  Add(-1, 1);
  EXPECT_EQ(Get(38, 0, 5), -14651);
  EXPECT_EQ(Get(38, 3, 5), -14651);
  EXPECT_EQ(Get(38, -1, 5), -14651);
  EXPECT_EQ(Get(38, 2, 5), 0);
  EXPECT_EQ(Target(5), "23000");
  EXPECT_EQ(bytes_[kTarget], 0);
}

TEST_F(GetDiagnosticsTest, ItemValuesAndTheirTargets) {
  Add(-10101, 1, "23000");
  EXPECT_EQ(Get(26, 1, 4), -10311);  // "INSERT" into 4 bytes
  EXPECT_EQ(Get(26, 1, 8), 0);
  EXPECT_EQ(Target(8), "INSERT  ");
  EXPECT_EQ(Get(26, 1, 8, kProgSelect), 0);
  EXPECT_EQ(Target(8), "FETCH   ");
  EXPECT_EQ(Get(31, 1, 1), 0);
  EXPECT_EQ(Target(1), "N");
  EXPECT_EQ(Get(99, 1, 8), -16183);
}

// Decimal operands (the condition number, an integer target, the delivered
// length) of a precision no decimal has are refused before any size is
// computed from them; nothing is written.
TEST_F(GetDiagnosticsTest, DecimalOperandsOfImpossiblePrecisionAreRefused) {
  Add(-10101, 1, "23000");
  ASSERT_EQ(Get(26, 1, 8), 0);  // condition number 1 in place, the storage in run_
  struct Case {
    int32_t number_precision, target, length, length_field;
    bool character;
  } cases[] = {
      {INT32_MAX, kTarget, 8, kLength, true}, {0, kTarget, 8, kLength, true},
      {46, kTarget, 8, kLength, true},        {5, kTarget, INT32_MAX, -1, false},
      {5, kTarget, 0, -1, false},             {5, kTarget, -3, -1, false},
  };
  for (const Case& c : cases) {
    std::memset(bytes_ + kTarget, '#', 16);
    const int32_t ops[6] = {c.character ? 26 : 33, kNumber, c.number_precision, c.target,
                            c.length, c.length_field};
    EXPECT_EQ(DSGetDiagnostics(base_, usr_, ByteSpan(bytes_, sizeof bytes_), ops, c.character,
                               kProgInsertOne, site_, run_),
              kErrBadOperand)
        << c.number_precision << " " << c.length;
    EXPECT_EQ(bytes_[kTarget], '#');
  }
}

TEST_F(GetDiagnosticsTest, SqlstateOfRecordOneWithoutRecordsIsTheCurrentCondition) {
  reinterpret_cast<int32_t*>(bytes_)[kStateReturnCode] = -10101;
  EXPECT_EQ(Get(38, 1, 5), 0);
  EXPECT_EQ(Target(5), "23000");
  std::memset(bytes_ + kTarget, 0, 8);
  EXPECT_EQ(Get(38, 0, 5), 0);  // any number below 2
  EXPECT_EQ(Target(5), "23000");
  EXPECT_EQ(Get(38, 2, 5), -14651);
  EXPECT_EQ(Get(33, 1, 5), -14651);
}

}  // namespace
}  // namespace interp
