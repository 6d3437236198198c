// Compiler diagnostics: conditions in order with the highest severity, the
// parameter texts of internal and capacity errors, and the single roll-back of
// an open dictionary transaction.
#include "sql/front/compile_diag.h"

#include <gtest/gtest.h>

#include "sql/front/tests/compile_test_support.h"

namespace {

TEST(Diagnostics, ConditionsKeepTheirOrderAndTheHighestSeverity) {
  FakeKernel k;
  TestContext t;
  t.ctx.session = 77;
  int32_t at[2] = {1, 12};
  qcerrec(&t.ctx, at, "QSA", -12101, 3, "N\t')' ");
  qcerrec(&t.ctx, nullptr, "QSA", -12107, 1, nullptr);
  at[1] = 30;
  qcerrec(&t.ctx, at, "QME", -12200, 3, "");
  EXPECT_EQ(t.ctx.highest_severity, 3);
  ASSERT_EQ(FakeKernel::conditions.size(), 3u);
  const RecordedCondition& a = FakeKernel::conditions[0];
  EXPECT_EQ(a.session, 77);
  EXPECT_EQ(a.position, 12);
  EXPECT_EQ(a.code, -12101);
  EXPECT_EQ(a.text, "N\t')' ");
  EXPECT_EQ(FakeKernel::conditions[1].position, 0);
  EXPECT_EQ(FakeKernel::conditions[1].severity, 1);
  EXPECT_EQ(FakeKernel::conditions[2].position, 30);
}

TEST(Diagnostics, ExitsReportTheirTextsAndJump) {
  struct Case {
    const char* name;
    int32_t code;
    int32_t severity;
    std::string text;
    int32_t error_code;
  };
  const Case cases[] = {
      {"internal", -19202, 5, "N\tQST: qqwsal", -1},
      {"internal, no routine", -19202, 5, "", -1},
      {"capacity", -11107, 4, "N\tdepth", -1},
      {"capacity, empty text", -11107, 4, "", -1},
      {"fatal", -16140, 5, "", -16140},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeKernel k;
    TestContext t;
    t.ctx.position[1] = 44;
    const char* arg = c.text.size() > 2 ? c.text.c_str() + 2 : "";
    try {
      if (c.severity == 4) qclimerr(&t.ctx, c.code, arg);
      if (c.code == -16140) qcfatal(&t.ctx, c.code);
      qcinterr(&t.ctx, arg, c.code);
    } catch (const CompileJump&) {
    }
    ASSERT_EQ(FakeKernel::conditions.size(), 1u);
    EXPECT_EQ(FakeKernel::conditions[0].code, c.code);
    EXPECT_EQ(FakeKernel::conditions[0].severity, c.severity);
    EXPECT_EQ(FakeKernel::conditions[0].text, c.text);
    EXPECT_EQ(FakeKernel::conditions[0].position, c.code == -16140 ? 0 : 44);
    EXPECT_EQ(t.ctx.highest_severity, c.severity);
    EXPECT_EQ(t.ctx.error_code, c.error_code);
  }
}

TEST(Diagnostics, AnInternalErrorRollsAnOpenDictionaryTransactionBackOnce) {
  FakeKernel k;
  TestContext t;
  t.ctx.dictionary_transaction = 1;
  EXPECT_THROW(qcinterr(&t.ctx, "QST: qqwsal", -19202), CompileJump);
  EXPECT_EQ(FakeKernel::rollbacks, 1);
  EXPECT_EQ(t.ctx.dictionary_transaction, 0);
  EXPECT_THROW(qcinterr(&t.ctx, "QST: qqwsal", -19202), CompileJump);
  EXPECT_EQ(FakeKernel::rollbacks, 1);
  // A restart without the end-dictionary request leaves the transaction open.
  t.ctx.dictionary_transaction = 1;
  EXPECT_THROW(qcrestart(&t.ctx, 0, -5), CompileJump);
  EXPECT_EQ(FakeKernel::rollbacks, 1);
  EXPECT_EQ(t.ctx.error_code, -5);
}

TEST(Diagnostics, ConditionsOfAnAbandonedAttemptAreNotAddedAgain) {
  FakeKernel k;
  TestContext t;
  t.ctx.conditions_to_skip = 1;
  qcerrec(&t.ctx, nullptr, "QSA", -12107, 1, nullptr);
  qcerrec(&t.ctx, nullptr, "QSA", -12101, 3, nullptr);
  ASSERT_EQ(FakeKernel::conditions.size(), 1u);
  EXPECT_EQ(FakeKernel::conditions[0].code, -12101);
  EXPECT_EQ(t.ctx.conditions_this_attempt, 2);
  EXPECT_EQ(t.ctx.highest_severity, 3);
}

TEST(Diagnostics, AMissingDiagnosticsAreaIsLoggedNotFaked) {
  SqlKernelServices none;
  SqlKernelServices old = SqlInstallKernelServices(&none);
  TestContext t;
  qcerrec(&t.ctx, nullptr, "QSA", -12101, 3, nullptr);
  EXPECT_EQ(t.ctx.highest_severity, 3);
  int32_t shp = 0, second = 0;
  EXPECT_EQ(sqlsvc::DSCursorCreate(0, &shp, &second, nullptr, 0, nullptr, 0), kSqlServiceMissing);
  SqlInstallKernelServices(&old);
}

}  // namespace
