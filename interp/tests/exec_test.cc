// The statement execution runtime over assembled programs: procedure calls
// with their parameter copies, recursion, cursors, requeue in a nested call,
// the cancel, the transaction statement and the error end.
#include "interp/exec_stm.h"

#include "interp/tests/exec_fixture.h"
#include "kernel/diagnostics_area.h"
#include "kernel/statements.h"

namespace interp {
namespace {

// A caller that passes A into a procedure and receives B back.
constexpr char kCallerBody[] = R"(field A word = 41
field B word = 0
field DONE word = 0
field ONE word = 1
rin: words -1 76 4
rout: words -1 80 4
callp: csd 3 12 rin rout -1 -1 0 0 0
end
code
 BEG
 CAL callp
 MVB DONE ONE 4
 END 0
)";
// The procedure: Y := X.
constexpr char kCopyProcedure[] = R"(type 77
field X word
field Y word
input X
output Y
code
 BEG
 MVB Y X 4
 END 0
)";

class CallTest : public ExecTest {
 protected:
  void SetUp() override {
    ExecTest::SetUp();
    caller_ = Make(std::string(kCallerWords) + kCallerBody);
    ASSERT_EQ(asm_of_[caller_].fields.at("A"), 76);
    ASSERT_EQ(asm_of_[caller_].fields.at("B"), 80);
  }
  int32_t caller_ = 0;
};

TEST_F(CallTest, AProcedureGetsItsInputsAndGivesItsOutputsBack) {
  const int32_t proc = Make(kCopyProcedure);
  Field(caller_, "C1") = proc;
  EXPECT_EQ(Exec(caller_), 0);
  EXPECT_EQ(Field(caller_, "B"), 41);
  EXPECT_EQ(Field(caller_, "DONE"), 1);
  EXPECT_EQ(Field(caller_, "C0"), proc);  // the CSDSTG keeps the linked statement
  EXPECT_EQ(Wd(base_, proc, STM_CALLING_STM), caller_);
  EXPECT_EQ(Wd(base_, caller_, STM_STATUS), 5);
  EXPECT_EQ(g_exec.work_ends, 1);
  // A second run calls the same statement again.
  Field(caller_, "A") = 7;
  EXPECT_EQ(Exec(caller_), 0);
  EXPECT_EQ(Field(caller_, "B"), 7);
}

TEST_F(CallTest, NoStatementBehindTheCallIsLoggedAndRaisedInTheCaller) {
  EXPECT_EQ(Exec(caller_), kErrNoCalled);
  EXPECT_TRUE(log_.Contains("There was no STM structure for the calling program specified."));
  EXPECT_EQ(Field(caller_, "DONE"), 0);
  EXPECT_EQ(Wd(base_, usr_, USR_TOTAL_ERROR_COUNT), 1);
  EXPECT_EQ(Wd(base_, usr_, USR_DIA_NEXT + DIAREC_NATIVE), kErrNoCalled);
}

TEST_F(CallTest, AFailureInTheProcedureWithoutAHandlerEndsEveryLevel) {
  const int32_t proc = Make(R"(type 77
field ERR word = -10101
code
 BEG
 SEE 0 ERR
 END 0
)");
  Field(caller_, "C1") = proc;
  // Without a handler the failure ends the whole run.
  EXPECT_EQ(Exec(caller_), -10101);
  EXPECT_EQ(Field(caller_, "DONE"), 0);
  EXPECT_EQ(Wd(base_, usr_, USR_RVEC_RCODE), -10101);
}

// A caller whose call (CSD recursive flag `recursive`) lies in a compound
// with a handler for any exception (type `type`) that sets HANDLED and ends
// with `end`.
std::string GuardedCaller(int32_t recursive, int32_t type, int32_t end) {
  return std::string(kCallerWords) + R"(field STK bytes 64
field HANDLED word = 0
field ONE word = 1
callp: csd 3 12 -1 -1 -1 -1 0 0 )" +
         std::to_string(recursive) + R"(
end
h1: csh 1 1 -1 e1 0 0
end
e1: ehd -1 4 )" + std::to_string(type) +
         R"( handler 0
code
 BEG
 IPR STK 0 0
 BCS STK 1 0
 CAL callp
 END 0
handler: MVB HANDLED ONE 4
 END )" + std::to_string(end) + "\n";
}
const std::string kGuardedCaller = GuardedCaller(0, 2, 5);

TEST_F(CallTest, ACancelUnwindsEveryLevelWithoutAHandlerSearch) {
  const int32_t caller = Make(kGuardedCaller);
  Stack(caller, "STK");
  const int32_t failing = Make(R"(type 77
field ERR word = -10101
code
 BEG
 SEE 0 ERR
 END 0
)");
  Field(caller, "C1") = failing;
  EXPECT_EQ(Exec(caller), 5);  // an ordinary failure: the caller's handler takes it
  EXPECT_EQ(Field(caller, "HANDLED"), 1);

  const int32_t looping = Make("type 77\ncode\n BEG\nloop: JMC loop\n");
  const int32_t caller2 = Make(kGuardedCaller);
  Stack(caller2, "STK");
  Field(caller2, "C1") = looping;
  Wd(base_, cha_, CHA_REQNO_CANCEL) = Wd(base_, cha_, CHA_REQNO);
  EXPECT_EQ(Exec(caller2), kErrCancelled);
  EXPECT_EQ(Field(caller2, "HANDLED"), 0);
  EXPECT_EQ(Wd(base_, caller2, STM_STATUS), 5);
}

TEST_F(CallTest, ARequestRequeuedInANestedCallResumesInTheNestedStatement) {
  const int32_t proc = Make(R"(type 77
field X word
field Y word
input X
output Y
code
 BEG
 JMC next
next: MVB Y X 4
 END 0
)");
  Field(caller_, "C1") = proc;
  Wd(base_, cha_, CHA_INTERRUPT_REQNO) = Wd(base_, cha_, CHA_REQNO);
  EXPECT_EQ(Exec(caller_), kErrRequeue);
  EXPECT_EQ(Wd(base_, cha_, CHA_LV_DSEXE3_STM), proc);
  EXPECT_EQ(Wd(base_, proc, STM_CHA_WHEN_REQUEUED), cha_);
  EXPECT_EQ(Wd(base_, caller_, STM_CHA_WHEN_REQUEUED), cha_);
  EXPECT_EQ(Field(caller_, "B"), 0);
  // The request runs again, naming the outermost statement.
  Wd(base_, cha_, CHA_INTERRUPT_REQNO) = 0;
  EXPECT_EQ(Exec(caller_), 0);
  EXPECT_EQ(Field(caller_, "B"), 41);
  EXPECT_EQ(Field(caller_, "DONE"), 1);
  EXPECT_EQ(Wd(base_, proc, STM_CHA_WHEN_REQUEUED), 0);
  EXPECT_EQ(Wd(base_, caller_, STM_CHA_WHEN_REQUEUED), 0);
}

TEST_F(ExecTest, AProcedureCallingItself47LevelsDeepFailsTheNextCall) {
  const int32_t proc = Make(std::string(kCallerWords) + R"(field LEVEL word = 0
rec: csd 3 12 -1 -1 -1 -1 0 0 1
end
code
 BEG
 CAL rec
 END 0
)");
  Field(proc, "C1") = proc;
  const int32_t before = LevelStatements();
  // Each copy counts the calls it made in its own storage: only the
  // deepest copy fails, which the diagnostics record names.
  EXPECT_EQ(Exec(proc), kErrTooDeep);
  EXPECT_EQ(g_exec.binds, kMaxRecursion);
  EXPECT_EQ(g_exec.unlinks, kMaxRecursion);
  EXPECT_EQ(Depth(proc), 0);
  EXPECT_EQ(LevelStatements(), before);
  EXPECT_EQ(Wd(base_, usr_, USR_DIA_NEXT + DIAREC_NATIVE), kErrTooDeep);
  // Every copy is gone, so the statement runs again the same way.
  EXPECT_EQ(Exec(proc), kErrTooDeep);
  EXPECT_EQ(Depth(proc), 0);
}

TEST_F(ExecTest, RecursionDeeperThanTheLimitIsCaughtByTheCallingCopy) {
  // A copy that catches the failure of its own call ends normally, and so
  // does every level above it.
  const int32_t proc = Make(GuardedCaller(1, 3, 0));
  Stack(proc, "STK");
  Field(proc, "C1") = proc;
  EXPECT_EQ(Exec(proc), 0);
  EXPECT_EQ(Field(proc, "HANDLED"), 0);  // the outermost program did not fail
  EXPECT_EQ(Depth(proc), 0);
  EXPECT_EQ(Wd(base_, usr_, USR_DIA_NEXT + DIAREC_NATIVE), kErrTooDeep);
}

// A program that names itself through a call that is not a recursive
// invocation is refused rather than started again in place.
TEST_F(ExecTest, ARoutineAlreadyRunningUpTheChainIsNotCalledAgain) {
  const int32_t proc = Make(std::string(kCallerWords) + R"(field DONE word = 0
field ONE word = 1
rec: csd 3 12 -1 -1 -1 -1 0 0 0
end
code
 BEG
 CAL rec
 MVB DONE ONE 4
 END 0
)");
  Field(proc, "C1") = proc;
  EXPECT_EQ(Exec(proc), kErrWrongState);
  EXPECT_EQ(Field(proc, "DONE"), 0);
  EXPECT_EQ(Wd(base_, proc, STM_CALLING_STM), 0);
}

// The statement a request names ends the run when it returns, whatever a
// damaged CALLING_STM chain says; so does a cancel unwinding it.
TEST_F(ExecTest, ADamagedCallerChainDoesNotRunOtherPrograms) {
  for (const bool cancel : {false, true}) {
    const int32_t a = Make("type 77\nfield N word = 0\nfield ONE word = 1\ncode\n BEG\n"
                           " MVB N ONE 4\n JMC next\nnext: END 0\n");
    const int32_t b = Make("type 77\nfield N word = 0\nfield ONE word = 1\ncode\n BEG\n"
                           " MVB N ONE 4\n END 0\n");
    Wd(base_, cha_, CHA_REQNO_CANCEL) = cancel ? Wd(base_, cha_, CHA_REQNO) : 0;
    for (const int32_t caller : {a, b}) {
      Wd(base_, a, STM_CALLING_STM) = caller;  // itself, then a cycle with b
      Wd(base_, b, STM_CALLING_STM) = a;
      Wd(base_, b, STM_STATUS) = 3;
      EXPECT_EQ(Exec(a), cancel ? kErrCancelled : 0) << cancel;
      EXPECT_EQ(Field(b, "N"), 0) << cancel;
      EXPECT_EQ(Wd(base_, a, STM_STATUS), 5) << cancel;
    }
  }
}

// Output items into caller rows: a shorter row takes the next bytes of the
// item, an equal one ends it, a longer one receives nothing; rows that lie
// outside the caller's storage and inputs longer than the callee's item
// write nothing outside either area.
TEST_F(ExecTest, ParameterCopiesFollowTheRowsAndStayInsideBothAreas) {
  const int32_t proc = Make(R"(type 77
field IN bytes 4
field GUARD bytes 4 = 'gggg'
field Y1 bytes 8 = 'ABCDEFGH'
field Y2 bytes 4 = 'WXYZ'
field Y3 bytes 4 = 'QRST'
input IN
output Y1 Y2 Y3
code
 BEG
 END 0
)");
  // Rows: three outputs (4 of Y1, the 4 left of Y1, 6 against Y2's 4),
  // one far outside the storage, and an 8-byte input into a 4-byte item.
  const int32_t caller = Make(std::string(kCallerWords) + R"(words 24 76 4
words 27 80 4
words 30 84 6
words -1 400000 4
words -1 92 8
field R1 bytes 4 = '....'
field R2 bytes 4 = '....'
field R3 bytes 8 = '......'
field SRC bytes 8 = '12345678'
callp: csd 3 12 33 21 -1 -1 0 0 0
end
code
 BEG
 CAL callp
 END 0
)");
  ASSERT_EQ(asm_of_[caller].fields.at("SRC"), 92);
  Field(caller, "C1") = proc;
  EXPECT_EQ(Exec(caller), 0);
  EXPECT_EQ(Text(caller, "R1", 4), "ABCD");
  EXPECT_EQ(Text(caller, "R2", 4), "EFGH");
  EXPECT_EQ(Text(caller, "R3", 6), "......");
  EXPECT_EQ(Text(proc, "IN", 4), "1234");
  EXPECT_EQ(Text(proc, "GUARD", 4), "gggg");
}

// Cursors: OPN, FETCH (a CAL of type 1) and CLO.
constexpr char kCursorCaller[] = R"(field V word = 0
field ONE word = 1
field GOT word = 0
rout: words -1 76 4
fetch: csd 1 12 -1 rout -1 -1 0 0 0
end
code
 BEG
 OPN 12
 CAL fetch
 CAL fetch
 MVB C3 ONE 4
 CAL fetch
 MVB GOT ONE 4
 CAL fetch
 END 0
)";

class CursorTest : public ExecTest {
 protected:
  void SetUp() override {
    ExecTest::SetUp();
    cursor_ = Make(R"(type 1
field ROW word = 99
output ROW
code
 BEG
 SIC
 EXI 2
 END 0
)");
  }
  int32_t cursor_ = 0;
};

TEST_F(CursorTest, AFetchAfterTheEndGives100OnceAndThenTheCursorIsInTheWrongState) {
  const int32_t caller = Make(std::string(kCallerWords) + kCursorCaller);
  Field(caller, "C1") = cursor_;
  // The first fetch delivers a row, the second ends the cursor's program
  // and the caller marks the end: the next fetch gives 100 ("02000", no
  // handler: the program resumes), the one after it finds the cursor ended.
  EXPECT_EQ(Exec(caller), kErrWrongState);
  EXPECT_EQ(Field(caller, "V"), 99);
  EXPECT_EQ(Field(caller, "GOT"), 1);
  EXPECT_EQ(Field(caller, "C3"), 2);
}

TEST_F(CursorTest, OpenRefusesARunningCursorAndClosesAPendingOneFirst) {
  const int32_t caller = Make(std::string(kCallerWords) + kCursorCaller);
  Field(caller, "C1") = cursor_;
  Field(caller, "C0") = cursor_;
  Wd(base_, cursor_, STM_CALLING_STM) = caller;
  int32_t pb[kExecWords] = {0, usr_, caller, 0, 0, 0};
  for (int32_t status : {2, 3, 4}) {
    Wd(base_, cursor_, STM_STATUS) = status;
    EXPECT_EQ(DSOpenCursor(base_, pb, kCsAt), kErrWrongState) << status;
    EXPECT_EQ(g_exec.work_ends, 0);
  }
  Wd(base_, cursor_, STM_STATUS) = 7;
  Field(caller, "C3") = 1;
  EXPECT_EQ(DSOpenCursor(base_, pb, kCsAt), 0);
  EXPECT_EQ(g_exec.work_ends, 1);  // closed first
  EXPECT_EQ(Wd(base_, cursor_, STM_STATUS), 3);
  EXPECT_EQ(Wd(base_, cursor_, STM_PC), 2);
  EXPECT_EQ(Field(caller, "C3"), 0);
  // Open again while it runs: refused; closed, it may open again.
  EXPECT_EQ(DSOpenCursor(base_, pb, kCsAt), kErrWrongState);
  EXPECT_EQ(DSCloseCursor(base_, pb, Wd(base_, caller, STM_STG) + kCsAt), 0);
  EXPECT_EQ(DSCloseCursor(base_, pb, Wd(base_, caller, STM_STG) + kCsAt), kErrWrongState);
  EXPECT_EQ(DSOpenCursor(base_, pb, kCsAt), 0);
}

// Closing a cursor that is a recursive copy releases every statement it
// reached once, even when two of its words name the same statement or a
// damaged chain leads back to the cursor.
TEST_F(CursorTest, ClosingACopiedCursorReleasesEachStatementItReachedOnce) {
  const auto own_storage = [&](int32_t stm) {
    const int32_t words = Wd(base_, Sd(stm), kDescStorageSize);
    const int32_t stg = Block(words * 4);
    std::memcpy(&Wd(base_, stg, 0), &Wd(base_, Wd(base_, stm, STM_STG), 0),
                static_cast<size_t>(words) * 4);
    Wd(base_, stm, STM_STG) = stg;
  };
  const int32_t caller = Make(kCallerWords + std::string("code\n BEG\n END 0\n"));
  const int32_t copy = Make(std::string(kCallerWords) + R"(field D0 word
field D1 word
field D2 word
field D3 word
field D4 word
field D5 word
field D6 word
a: csd 3 12 -1 -1 -1 -1 0 0 0
b: csd 3 19 -1 -1 -1 -1 0 0 0
end
code
 BEG
 END 0
)");
  const int32_t called = Make(std::string(kCallerWords) + R"(a: csd 3 12 -1 -1 -1 -1 0 0 0
end
code
 BEG
 END 0
)");
  own_storage(copy);
  own_storage(called);
  Field(caller, "C0") = copy;
  Field(copy, "C0") = called;
  Field(copy, "D0") = called;
  Field(called, "C0") = copy;
  Wd(base_, copy, STM_NEXT_COM + kComRecursiveStm) = called;
  Wd(base_, called, STM_NEXT_COM + kComRecursiveStm) = copy;
  Wd(base_, copy, STM_STATUS) = 3;
  Wd(base_, called, STM_STATUS) = 3;
  int32_t pb[kExecWords] = {0, usr_, caller, 0, 0, 0};
  EXPECT_EQ(DSCloseCursor(base_, pb, Wd(base_, caller, STM_STG) + kCsAt), 0);
  EXPECT_EQ(g_exec.unlinks, 2);
  EXPECT_EQ(g_exec.work_ends, 2);
  EXPECT_EQ(Field(caller, "C0"), 0);
}

// A recursive copy starts with no statement behind its call words, though
// the statement it was copied from has its cursor open; what a copy leaves
// open goes with it when it returns.
TEST_F(CursorTest, ARecursiveCopyOpensItsOwnCursorAndReleasesItOnReturn) {
  const int32_t proc = Make(std::string(kCallerWords) + R"(field D0 word
field D1 word
field D2 word
field D3 word
field D4 word
field D5 word
field D6 word
rec: csd 3 12 -1 -1 -1 -1 0 0 1
cur: csd 1 19 -1 -1 -1 -1 0 0 0
end
code
 BEG
 OPN 19
 CAL rec
 CLO 19
 END 0
)");
  Field(proc, "C1") = proc;
  Field(proc, "D1") = cursor_;
  const int32_t before = LevelStatements();
  EXPECT_EQ(Exec(proc), kErrTooDeep);  // not -14601 from the first copy's OPN
  EXPECT_EQ(Depth(proc), 0);
  EXPECT_EQ(Depth(cursor_), 0);
  EXPECT_EQ(LevelStatements(), before);
  EXPECT_EQ(g_exec.binds, g_exec.unlinks);
}

TEST_F(CursorTest, TheEndOfItsCompoundClosesAnOpenCursor) {
  const int32_t caller = Make(std::string(kCallerWords) + R"(field STK bytes 64
fetch: csd 1 12 -1 -1 1 -1 0 0 0
end
code
 BEG
 IPR STK 0 0
 BCS STK 1 0
 OPN 12
 CAL fetch
 ECS 1
 END 0
)");
  Stack(caller, "STK");
  Field(caller, "C1") = cursor_;
  Wd(base_, usr_, USR_ATOMIC) = -1;
  EXPECT_EQ(Exec(caller), 0);
  EXPECT_EQ(g_exec.work_ends, 1);
  EXPECT_EQ(Wd(base_, cursor_, STM_STATUS), 5);
  EXPECT_EQ(Wd(base_, usr_, USR_ATOMIC), 0);  // the stack is empty again
}

TEST_F(CursorTest, ACursorWithoutStatementOpensAndClosesWithinItsTransaction) {
  const int32_t caller = Make(std::string(kCallerWords) + kCursorCaller);
  int32_t pb[kExecWords] = {0, usr_, caller, 0, 0, 0};
  EXPECT_EQ(DSOpenCursor(base_, pb, kCsAt), 0);
  EXPECT_EQ(Field(caller, "C0"), -1);
  const int32_t cs = Wd(base_, caller, STM_STG) + kCsAt;
  Wd(base_, usr_, USR_TRANSACTION_ENDED) = 1;
  EXPECT_EQ(DSCloseCursor(base_, pb, cs), kErrWrongState);
  Wd(base_, usr_, USR_TRANSACTION_ENDED) = 0;
  EXPECT_EQ(DSCloseCursor(base_, pb, cs), 0);
  EXPECT_EQ(Field(caller, "C0"), 0);
  EXPECT_EQ(DSCloseCursor(base_, pb, cs), kErrWrongState);
}

TEST_F(ExecTest, TheTransactionStatementPassesItsSettingUnlessARoutineContextForbidsIt) {
  const int32_t stm = Make("type 77\ncode\n BEG\n STM 5 0\n STM 17 9\n END 0\n");
  EXPECT_EQ(Exec(stm), 0);
  EXPECT_EQ(g_exec.settings, (std::vector<std::vector<int32_t>>{{9, 31}, {13, 9}}));
  // In a routine context (VISIBILITY 2 or 3): -14024, raised in the program.
  g_exec.settings.clear();
  Wd(base_, stm, STM_VISIBILITY) = 3;
  EXPECT_EQ(Exec(stm), -14024);
  EXPECT_TRUE(g_exec.settings.empty());
  EXPECT_EQ(Wd(base_, usr_, USR_DIA_NEXT + DIAREC_NATIVE), -14024);
}

TEST_F(ExecTest, AnErrorEndLeavesPositionOneAndTheFailingPositionInTheVector) {
  const int32_t stm = Make("type 77\nfield A word\ncode\n BEG\n SIC\n MVB A 400000 4\n END 0\n");
  EXPECT_EQ(Exec(stm), kErrBadOperand);
  EXPECT_EQ(pb_[kExecPc], 1);
  EXPECT_EQ(Wd(base_, usr_, USR_RVEC_PC), 3);
  EXPECT_EQ(Wd(base_, stm, STM_STATUS), 5);
  EXPECT_EQ(Wd(base_, usr_, USR_DIA_NEXT + DIAREC_NATIVE), kErrBadOperand);
}

TEST_F(ExecTest, ABadStatementOrSessionGetsTheInvalidHandleReport) {
  EXPECT_EQ(Exec(0), KERNEL_BAD_HANDLE);
  EXPECT_EQ(Exec(-5), KERNEL_BAD_HANDLE);
  EXPECT_EQ(Exec(1 << 30), KERNEL_BAD_HANDLE);
  pb_[0] = 0;
  pb_[1] = 1 << 30;
  pb_[2] = Make("type 77\ncode\n BEG\n END 0\n");
  DSExecStm(base_, pb_);
  EXPECT_EQ(pb_[0], KERNEL_BAD_HANDLE);
}

// A positioned call (CSD word 5 names the cursor's CSDSTG at D0) and a
// statement declared for a cursor are checked against the cursor: the
// cursor must stand on a row, then the kernel's own pairing check decides.
TEST_F(ExecTest, PositionedAndDeclaredStatementsAreCheckedAgainstTheirCursor) {
  services_.check_statement_pair = nullptr;
  const int32_t caller = Make(std::string(kCallerWords) + R"(field D0 word
field D1 word
field D2 word
field D3 word
field D4 word
field D5 word
field D6 word
field DONE word = 0
field ONE word = 1
upd: csd 3 12 -1 -1 -1 19 0 0 0
end
code
 BEG
 CAL upd
 MVB DONE ONE 4
 END 0
)");
  ASSERT_EQ(asm_of_[caller].fields.at("D0"), 19 * 4);
  const int32_t cursor = Make("type 1\ncode\n BEG\n END 0\n");
  const int32_t update = Make("type 5\ncode\n BEG\n END 0\n");
  Field(caller, "C1") = update;
  Field(caller, "D0") = cursor;
  Wd(base_, cursor, STM_STATUS) = 3;
  // Not on a row, or not open: the call is in the wrong state.
  EXPECT_EQ(Exec(caller), kErrWrongState);
  Field(caller, "D4") = 1;
  Wd(base_, cursor, STM_STATUS) = 5;
  Field(caller, "C0") = 0;
  EXPECT_EQ(Exec(caller), kErrWrongState);
  // On a row: a read-only cursor refuses the update (the kernel's check).
  Wd(base_, cursor, STM_STATUS) = 3;
  Field(caller, "C0") = 0;
  EXPECT_EQ(Exec(caller), -14404);
  EXPECT_EQ(Field(caller, "DONE"), 0);
  EXPECT_EQ(Wd(base_, usr_, USR_DIA_NEXT + DIAREC_NATIVE), -14404);
  // A statement declared for the cursor: the same check before it starts.
  Wd(base_, update, STM_DECLARE_STM) = cursor;
  EXPECT_EQ(Exec(update), -14404);
  EXPECT_EQ(Wd(base_, usr_, USR_RVEC_RCODE), -14404);
}

TEST_F(ExecTest, AStatementWithoutProgramFailsWith14201) {
  const int32_t stm = Make("type 77\ncode\n BEG\n END 0\n");
  Wd(base_, stm, STM_PGM) = 0;
  EXPECT_EQ(Exec(stm), kErrNoProgram);
  EXPECT_EQ(Wd(base_, usr_, USR_RVEC_RCODE), kErrNoProgram);
}

}  // namespace
}  // namespace interp
