// Raising conditions over hand-built handler tables: SQLSTATE packing, the
// handler search along the compound-statement stack, and the rollbacks of
// the compounds a handler or an unhandled exception leaves.
#include "interp/conditions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "interp/program_layout.h"
#include "platform/numeric_services.h"

namespace interp {
namespace {

TEST(SqlStatePackTest, DigitsLettersAndCase) {
  int32_t p = 0;
  ASSERT_EQ(PackSqlState("02000", &p), 0);
  EXPECT_EQ(static_cast<uint32_t>(p), 0x80000000u | (2u << 6));
  int32_t upper = 0, lower = 0;
  ASSERT_EQ(PackSqlState("0A00z", &upper), 0);
  ASSERT_EQ(PackSqlState("0a00Z", &lower), 0);
  EXPECT_EQ(upper, lower);
  EXPECT_TRUE(IsPackedState(upper));
  char s[6] = {};
  ASSERT_EQ(UnpackSqlState(lower, s), 0);
  EXPECT_STREQ(s, "0A00Z");
  EXPECT_FALSE(IsPackedState(-14044));
  EXPECT_FALSE(IsPackedState(kPackedStateLimit));
  EXPECT_NE(UnpackSqlState(-14044, s), 0);
  EXPECT_NE(PackSqlState("02-00", &p), 0);
}

int32_t Packed(const char* s) {
  int32_t p = 0;
  PackSqlState(s, &p);
  return p;
}

class FakeSite : public ConditionSite {
 public:
  void SqlState(int32_t rc, char* state) override {
    const char* s = rc == 100 ? "02000" : rc == 54 ? "01004" : rc == 91 ? "00000"
                  : rc == -10101 ? "23000" : "S1000";
    std::memcpy(state, s, 5);
  }
  int32_t RollbackToMark(int32_t mark) override {
    rollbacks.push_back(mark);
    return trv;
  }
  int32_t TransactionState() override { return 1; }
  int32_t TransactionScope() override { return 1; }
  void EndCompound(int32_t id, int32_t) override { ended.push_back(id); }
  void Log(int32_t, const char* text) override { logs.push_back(text); }
  bool HasDiagnostics() override { return false; }
  void Record(int32_t result, int32_t, const char* state, int32_t, int32_t mode) override {
    records.push_back(std::to_string(result) + " " + std::string(state, 5) + " " +
                      std::to_string(mode));
  }
  std::vector<int32_t> rollbacks, ended;
  std::vector<std::string> logs, records;
  int32_t trv = 0;
};

// A program of descriptor words, CSH rows and EHD chains, and a storage with
// the compound stack at word index kStack.
class ConditionTest : public ::testing::Test {
 protected:
  static constexpr int32_t kStack = 20;
  void SetUp() override {
    program_.assign(kDescriptorWords, 0);
    program_[kDescCompoundStack] = kStack;
    program_[kDescCompoundHierarchy] = -1;
    storage_.assign(100, 0);
    run_.storage = storage_.data();
    run_.storage_words = static_cast<int32_t>(storage_.size());
    run_.pc = 77;
  }
  // Rows are given outermost first; `surrounding` indexes into the rows given.
  struct Row {
    int32_t id, type, surrounding, savepoint;
    std::vector<std::vector<int32_t>> handlers;  // class, type, address, (kind, value)...
  };
  void Build(const std::vector<Row>& rows) {
    const int32_t first = static_cast<int32_t>(program_.size());
    program_[kDescCompoundHierarchy] = first;
    program_.resize(first + rows.size() * kCshWords + 1, 0);
    program_.back() = -1;
    for (size_t i = 0; i < rows.size(); ++i) {
      int32_t* r = &program_[first + i * kCshWords];
      r[kCshId] = rows[i].id;
      r[kCshType] = rows[i].type;
      r[kCshSurrounding] = rows[i].surrounding < 0 ? -1 : first + rows[i].surrounding * kCshWords;
      r[kCshSavepoint] = rows[i].savepoint;
      r[kCshFirstHandler] = -1;
    }
    for (size_t i = 0; i < rows.size(); ++i) {
      int32_t previous = -1;
      for (const auto& h : rows[i].handlers) {
        const int32_t at = static_cast<int32_t>(program_.size());
        program_.insert(program_.end(), {-1, h[0], h[1], h[2], static_cast<int32_t>(h.size() - 3) / 2});
        program_.insert(program_.end(), h.begin() + 3, h.end());
        if (previous < 0)
          program_[first + i * kCshWords + kCshFirstHandler] = at;
        else
          program_[previous] = at;
        previous = at;
      }
    }
  }
  void Push(int32_t id, int32_t atomic = 0) {
    const int32_t item[5] = {id, 0, 0, atomic, 0};
    int32_t status = 0;
    stack5_push(&status, std::span<int32_t>(storage_), kStack, item);
  }
  int32_t Depth() const { return storage_[kStack]; }
  int32_t Raise(int32_t value, int32_t kind = kRaiseFailure) {
    run_.program = program_.data();
    run_.program_words = static_cast<int32_t>(program_.size());
    word_ = value;
    return DSRaiseCondition(site_, run_, &word_, kind);
  }
  std::vector<int32_t> program_, storage_;
  ConditionRun run_;
  FakeSite site_;
  int32_t word_ = 0;
};

constexpr int32_t kAny = kEhdClassAnyException;
constexpr int32_t kList = kEhdClassEntries;

TEST_F(ConditionTest, WithoutCompoundsWarningAndNoDataResumeAndAnExceptionEndsTheRun) {
  program_[kDescCompoundStack] = -1;
  run_.mark_id = 9;
  EXPECT_EQ(Raise(100), 0);
  EXPECT_EQ(word_, 0);
  EXPECT_EQ(run_.pc, 77);
  EXPECT_EQ(Raise(54), 0);
  EXPECT_TRUE(site_.rollbacks.empty());
  EXPECT_TRUE(site_.records.empty());
  EXPECT_EQ(Raise(-10101), 1);
  EXPECT_EQ(word_, -10101);
  EXPECT_EQ(run_.rvec_rcode, -10101);
  EXPECT_EQ(run_.pc, 0);
  EXPECT_EQ(site_.rollbacks, std::vector<int32_t>{9});
  EXPECT_EQ(run_.mark_id, 0);
  EXPECT_EQ(site_.records, std::vector<std::string>{"-10101 23000 0"});
}

TEST_F(ConditionTest, NestedCallKeepsItsMarkAndAFailedRollbackBecomesTheResult) {
  program_[kDescCompoundStack] = -1;
  run_.mark_id = 9;
  run_.recursive_depth = 1;
  EXPECT_EQ(Raise(-10101), 1);
  EXPECT_TRUE(site_.rollbacks.empty());
  run_.recursive_depth = 0;
  site_.trv = -16150;
  EXPECT_EQ(Raise(-10101), 1);
  EXPECT_EQ(word_, -16150);
  EXPECT_EQ(run_.rvec_rcode, -16150);
}

TEST_F(ConditionTest, ZeroStateIsLoggedAndEndsTheRun) {
  EXPECT_EQ(Raise(91), 1);
  ASSERT_EQ(site_.logs.size(), 1u);
  EXPECT_EQ(site_.logs[0],
            "The SQLSTATE 00000 was sent to the exception handler. This is not expected.");
}

TEST_F(ConditionTest, LaterSpecificHandlerBeatsEarlierSqlexception) {
  Build({{1, 1, -1, 0, {{kAny, 2, 300}, {kList, 2, 400, kEhdEntrySqlstate, Packed("23000")}}}});
  Push(1);
  EXPECT_EQ(Raise(-10101), 0);
  EXPECT_EQ(run_.pc, 400);
  EXPECT_EQ(run_.handler, 400);
  EXPECT_EQ(Depth(), 2);  // the handler's item on top
  EXPECT_EQ(storage_[kStack + 6], -1);
  EXPECT_EQ(storage_[kStack + 8], Packed("23000"));
  // Another state falls to the general handler.
  storage_[kStack] = 1;
  EXPECT_EQ(Raise(-12345), 0);
  EXPECT_EQ(run_.pc, 300);
}

TEST_F(ConditionTest, NoDataWithoutHandlerResumesAndAnExceptionLeavesEveryCompound) {
  Build({{1, 1, -1, 0, {}}, {2, 1, 0, 0, {}}});
  Push(1);
  Push(2);
  EXPECT_EQ(Raise(100), 0);
  EXPECT_EQ(run_.pc, 77);
  EXPECT_EQ(Depth(), 2);
  EXPECT_EQ(Raise(-10101), 1);
  EXPECT_EQ(Depth(), 0);
  EXPECT_EQ(site_.ended, (std::vector<int32_t>{2, 1}));
  EXPECT_EQ(run_.rvec_rcode, -10101);
}

TEST_F(ConditionTest, ConditionInAHandlerBodySkipsTheDeclaringCompound) {
  // 1 declares a handler at 500; 2 declares one at 600 whose body is 3.
  Build({{1, 1, -1, 0, {{kAny, 3, 500}}}, {2, 1, 0, 0, {{kAny, 3, 600}}}, {3, 2, 1, 0, {}}});
  Push(1);
  Push(2);
  Push(3);
  EXPECT_EQ(Raise(-10101), 0);
  EXPECT_EQ(run_.pc, 500);
  EXPECT_EQ(Depth(), 2);  // 1 and the new handler's item
}

TEST_F(ConditionTest, UndoHandlerRollsBackTheAtomicCompoundsItLeavesExitHandlerDoesNot) {
  for (int32_t type : {kHandlerUndo, kHandlerExit}) {
    SCOPED_TRACE(type);
    SetUp();
    site_ = FakeSite();
    Build({{1, 1, -1, 0, {{kAny, type, 700}}}, {2, 1, 0, 40, {}}});
    storage_[40] = 33;
    Push(1);
    Push(2, 1);
    EXPECT_EQ(Raise(-10101), 0);
    EXPECT_EQ(run_.pc, 700);
    EXPECT_EQ(Depth(), 2);
    if (type == kHandlerUndo) {
      EXPECT_EQ(site_.rollbacks, std::vector<int32_t>{33});
      EXPECT_EQ(storage_[40], 0);
    } else {
      EXPECT_TRUE(site_.rollbacks.empty());
      EXPECT_EQ(storage_[40], 33);
    }
  }
}

TEST_F(ConditionTest, CancelIsNeverHandled) {
  Build({{1, 1, -1, 0, {{kAny, 2, 300}}}});
  Push(1);
  EXPECT_EQ(Raise(kErrCancelled), 1);
  EXPECT_EQ(word_, kErrCancelled);
  EXPECT_EQ(Depth(), 0);
}

TEST_F(ConditionTest, UserConditionMatchesByNameAndReportsUserState) {
  Build({{1, 1, -1, 0, {{kList, 2, 800, kEhdEntryCondition, 4242}}}});
  Push(1);
  EXPECT_EQ(Raise(4242, kRaiseConditionName), 0);
  EXPECT_EQ(run_.pc, 800);
  EXPECT_EQ(site_.records, std::vector<std::string>{"-14044 45000 0"});
  // The handled condition as the handler body sees it.
  int32_t value = 0, kind = 0;
  char state[6] = {};
  run_.program = program_.data();
  EXPECT_EQ(DSCurCondition(site_, run_, 1, false, &value, state, &kind), -1);  // not begun
}

TEST_F(ConditionTest, HandlerBodySeesItsConditionAndRaisesItAgainOutward) {
  // 1 declares a handler at 800 whose body is compound 3.
  Build({{1, 1, -1, 0, {{kAny, 2, 800}}}, {3, 2, 0, 0, {}}});
  Push(1);
  EXPECT_EQ(Raise(-10101), 0);
  // The body's begin takes the handler's item over.
  storage_[kStack + 6] = 3;
  int32_t value = 0, kind = -1;
  char state[6] = {};
  ASSERT_EQ(DSCurCondition(site_, run_, 1, false, &value, state, &kind), 0);
  EXPECT_EQ(value, Packed("23000"));
  EXPECT_EQ(kind, kRaiseFailure);
  EXPECT_STREQ(state, "23000");
  // RESIGNAL: not caught by the declaring compound's handlers.
  EXPECT_EQ(Raise(0, kRaiseHandled), 1);
  EXPECT_EQ(word_, Packed("23000"));
  EXPECT_EQ(Depth(), 0);
}

// Surrounding indexes that run in a circle (a row naming itself, two rows
// naming each other) end the search as a corrupt hierarchy, and the
// condition a handler body looks for is not found.
TEST_F(ConditionTest, CircularHierarchyEndsTheRunInsteadOfLooping) {
  for (const std::vector<Row>& rows :
       {std::vector<Row>{{1, 1, 0, 0, {}}}, std::vector<Row>{{1, 1, 1, 0, {}}, {2, 1, 0, 0, {}}}}) {
    SetUp();
    Build(rows);
    Push(1);
    site_.logs.clear();
    EXPECT_EQ(Raise(-10101), 1);
    ASSERT_EQ(site_.logs.size(), 1u);
    EXPECT_EQ(site_.logs[0],
              "Did not find the compound statement hierarchy entry. It is probably corrupt.");
    int32_t value = 0, kind = 0;
    EXPECT_EQ(DSCurCondition(site_, run_, 1, false, &value, nullptr, &kind), -1);
  }
}

TEST_F(ConditionTest, MissingHierarchyRowIsLogged) {
  Build({{1, 1, -1, 0, {}}});
  Push(5);
  EXPECT_EQ(Raise(-10101), 1);
  ASSERT_EQ(site_.logs.size(), 1u);
  EXPECT_EQ(site_.logs[0],
            "Did not find the compound statement hierarchy entry. It is probably corrupt.");
}

}  // namespace
}  // namespace interp
