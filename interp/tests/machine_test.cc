// The interpreter loop: the entry checks, opcodes without an instruction,
// the warning exit of a cutting move, the length service, and a table of
// branch, move and random-number cases written as small programs.
#include "interp/opcode_table.h"
#include "interp/tests/interp_fixture.h"

using namespace interp;

namespace {

TEST_F(InterpTest, FirstWordOtherThanBegEndsWithNoBeg) {
  std::vector<int32_t> program = {44, 1};
  std::vector<int32_t> storage(20, 0);
  int32_t pos = 2;
  DAMAE2(base_, rvec_, program.data(), 2, storage.data(), 20, &pos, name_, usr_);
  EXPECT_EQ(rvec_[kStateReturnCode], kErrNoBeg);
  EXPECT_EQ(rvec_[kStateAction], kActionError);
  EXPECT_EQ(rvec_[kStateResume], 1);
  EXPECT_EQ(pos, 1);
}

TEST_F(InterpTest, OpcodesWithoutInstructionEndWithBadOpcode) {
  for (int32_t op : {0, 202, 57, 65, 120, -5}) {
    // A whole instruction of its length, so that the program is well formed
    // around it (debug builds check that before they run it).
    std::vector<int32_t> program = {41, op};
    if (IsOpcode(op)) program.resize(program.size() + kOpcodes[op].length - 1, 0);
    program.insert(program.end(), {44, 1});
    std::vector<int32_t> storage(20, 0);
    int32_t pos = 2;
    DAMAE2(base_, rvec_, program.data(), static_cast<int32_t>(program.size()), storage.data(), 20,
           &pos, name_, usr_);
    EXPECT_EQ(rvec_[kStateReturnCode], kErrBadOpcode) << op;
    EXPECT_EQ(rvec_[kStateOpcode], op) << op;
    EXPECT_EQ(rvec_[kStateAction], kActionError) << op;
    EXPECT_EQ(rvec_[kStateResume], 2) << op;  // the failing position
    EXPECT_EQ(pos, 1) << op;                  // the statement goes to BEG
    EXPECT_EQ(rvec_[kStateBitVector], kBitsNoTable) << op;
  }
}

// After an error the statement's position is 1, while state word 6 (the
// program counter of the error report) keeps the failing position; a run
// resumed there ends at BEG. A warning resumes behind its instruction
// instead (TruncatingMcwEndsWithWarningBehindIt).
TEST_F(InterpTest, ErrorLeavesPositionOneAndReportsTheFailingPosition) {
  Load("field A char 2\ncode\n BEG\n MVB A, A, 2\n MVC A, 1, A, 100000\n END 1\n");
  Run();
  EXPECT_EQ(rvec_[kStateReturnCode], kErrBadOperand);
  EXPECT_EQ(rvec_[kStateAction], kActionError);
  EXPECT_EQ(rvec_[kStateResume], 6);
  EXPECT_EQ(pos_, 1);
  Run();
  EXPECT_EQ(rvec_[kStateReturnCode], kErrBadOpcode);
  EXPECT_EQ(rvec_[kStateResume], 1);
  EXPECT_EQ(pos_, 1);
}

// The counts of SNV, MVB and MV2 are words of the program: the assembler
// and the program check refuse a negative one. A program that was not
// checked (release builds check none) copies nothing for it and goes on.
TEST_F(InterpTest, NegativeCountCopiesNothing) {
  for (const int32_t op : {28, 55, 59}) {
    std::vector<int32_t> program = {41, op, 48, 52, -1, 140, 44, 1};  // ... BRK, END 1
    if (op == 28) program.erase(program.begin() + 3);                 // SNV 48, -1
    std::vector<int32_t> storage(20, 0x01010101);
    const std::vector<int32_t> before = storage;
    int32_t pos = 2;
    DAMAE2(base_, rvec_, program.data(), static_cast<int32_t>(program.size()), storage.data(), 20,
           &pos, name_, usr_);
#ifdef NDEBUG
    EXPECT_EQ(rvec_[kStateAction], kActionBreak) << op;
    EXPECT_EQ(pos, op == 28 ? 5 : 6) << op;
#else
    EXPECT_EQ(rvec_[kStateReturnCode], kErrBadOperand) << op;
    EXPECT_EQ(pos, 1) << op;
#endif
    EXPECT_TRUE(
        std::equal(storage.begin() + kStateWords, storage.end(), before.begin() + kStateWords))
        << op;
  }
}

TEST_F(InterpTest, StartAtBegWithNothingSavedIsBadOpcode) {
  Load("code\n BEG\n END 1\n");
  pos_ = 1;
  Run();
  EXPECT_EQ(rvec_[kStateReturnCode], kErrBadOpcode);
  EXPECT_EQ(rvec_[kStateAction], kActionError);
}

TEST_F(InterpTest, InstructionRunningPastProgramEndFails) {
  std::vector<int32_t> program = {41, 16, 1, 48, 48};  // CBF needs 6 words
  std::vector<int32_t> storage(20, 0);
  int32_t pos = 2;
  DAMAE2(base_, rvec_, program.data(), 5, storage.data(), 20, &pos, name_, usr_);
  EXPECT_EQ(rvec_[kStateReturnCode], kErrBadOpcode);
  EXPECT_EQ(rvec_[kStateOpcode], 16);
}

TEST_F(InterpTest, TruncatingMcwEndsWithWarningBehindIt) {
  Load(R"(field T char 3
field S char 6 = 'abcdef'
code
  BEG
  MCW T, 3, S, 6
  END 1
)");
  Run();
  EXPECT_EQ(rvec_[kStateReturnCode], kWarnCut);
  EXPECT_EQ(rvec_[kStateAction], kActionError);
  EXPECT_EQ(rvec_[kStateResume], 2 + 5);
  EXPECT_EQ(pos_, 7);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(Bytes("T")), 4), std::string("\0abc", 4));
  // Resumed behind the warning, the program ends normally.
  Run();
  EXPECT_EQ(rvec_[kStateAction], kActionEnd);
  EXPECT_EQ(rvec_[kStateReturnCode], 1);
}

TEST_F(InterpTest, OpLengthService) {
  int32_t length = 0, branch = 0;
  EXPECT_EQ(DAOpLength(56, &length, &branch), kErrNotSteppable);
  EXPECT_EQ(length, 9);
  EXPECT_EQ(branch, -1);
  EXPECT_EQ(DAOpLength(0, &length, &branch), kErrOutOfRange);
  EXPECT_EQ(DAOpLength(202, &length, &branch), kErrOutOfRange);
  EXPECT_EQ(DAOpLength(3, &length, &branch), 0);
  EXPECT_EQ(length, 3);
  EXPECT_EQ(branch, 2);
}

// Each program ends with END 7 when its test instruction branched to `yes`
// and END 3 when it went on; `setup` runs before it.
struct BranchCase {
  const char* name;
  const char* fields;
  const char* body;
  bool branches;
};

const BranchCase kBranchCases[] = {
    {"CCF null, operator 6", "field A char 2 = null\nfield B char 2 = 'xy'\n",
     "CCF 6, A, 2, B, 2, yes", true},
    {"CCT null, operator 6", "field A char 2 = null\nfield B char 2 = 'xy'\n",
     "CCT 6, A, 2, B, 2, yes", false},
    {"CCT blank-extended equal", "field A char 2 = 'x'\nfield B char 3 = 'x'\n",
     "CCT 1, A, 2, B, 3, yes", true},
    {"CBT operator 2, equal bytes", "field A char 2 = 'ab'\nfield B char 2 = 'ab'\n",
     "CBT 2, A, B, 3, yes", true},
    {"CBF operator 2, equal bytes", "field A char 2 = 'ab'\nfield B char 2 = 'ab'\n",
     "CBF 2, A, B, 3, yes", false},
    {"CBT operator 5, greater", "field A char 2 = 'b'\nfield B char 2 = 'a'\n",
     "CBT 5, A, B, 3, yes", false},
    {"TVT test 1, indicator 255", "field A char 1 = null\n", "TVT 1, A, yes", true},
    {"TVT test 1, indicator 0", "field A bytes 1\n", "TVT 1, A, yes", false},
    {"TVT test 1, indicator 1", "field A bytes 1\nfield ONE word = 1\n",
     "MVB A, ONE, 1\n TVT 1, A, yes", false},
    {"TVF test 2, indicator 255", "field A char 1 = null\n", "TVF 2, A, yes", true},
    {"TFN state word 1 = 128", "field V word = 128\n", "MVB 4, V, 4\n TFN yes", true},
    {"TFN state word 1 = 0", "", "TFN yes", false},
    {"TFN state word 1 = bit vector 18", "field V word = 18\n", "MVB 4, V, 4\n TFN yes", false},
    {"TFN state word 1 = 129", "field V word = 129\n", "MVB 4, V, 4\n TFN yes", false},
    {"JMP", "", "JMP yes", true},
    {"CPT equal", "field A char 3 = 'abc'\nfield B char 3 = 'abc'\n",
     "CPT 1, A, 3, -1, B, 3, -1, yes", true},
    {"CPT shorter is less", "field A char 2 = 'ab'\nfield B char 3 = 'abc'\n",
     "CPT 5, A, 2, -1, B, 3, -1, yes", true},
    {"CPT first byte decides", "field A char 2 = 'b'\nfield B char 3 = 'abc'\n",
     "CPT 4, A, 2, -1, B, 3, -1, yes", true},
    {"CPF null", "field A char 2 = null\nfield B char 3 = 'abc'\n",
     "CPF 6, A, 2, -1, B, 3, -1, yes", true},
    {"CNT equal decimals", "field A decimal 9\nfield B decimal 9\nfield I word = 42\n",
     "CIN A, 9, I\n CIN B, 9, I\n CNT 1, A, 9, B, 9, yes", true},
    {"CNF null decimal", "field A decimal 9 = null\nfield B decimal 9\n", "CNF 4, A, 9, B, 9, yes",
     true},
};

class BranchTable : public InterpTest, public ::testing::WithParamInterface<BranchCase> {};

TEST_P(BranchTable, BranchesExactlyWhenTheTestSays) {
  const BranchCase& c = GetParam();
  Load(std::string(c.fields) + "code\n BEG\n " + c.body + "\n END 3\nyes: END 7\n");
  Run();
  EXPECT_EQ(rvec_[kStateAction], kActionEnd) << c.name << " code " << rvec_[0];
  EXPECT_EQ(rvec_[kStateReturnCode], c.branches ? 7 : 3) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, BranchTable, ::testing::ValuesIn(kBranchCases));

TEST_F(InterpTest, SpecialRegistersAndSimulatedTimestamp) {
  Load(
      "field U char 5\nfield N char 3\nfield S char 18\ncode\n BEG\n UOP 1, U, 5, -1\n"
      " UOP 3, N, 3, -1\n SDT S, 18\n END 1\n");
  Wd(base_, usr_, USR_CURRENT_USER_LENGTH) = 3;
  std::memcpy(&Wd(base_, usr_, USR_CURRENT_USER), "BOB", 3);
  Wd(base_, usr_, USR_SIMULATION_MODE) = 1;
  std::memcpy(&Wd(base_, usr_, USR_SIMULATION_TIME), "2026121012000000", 16);
  Run();
  EXPECT_EQ(rvec_[kStateReturnCode], 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(Bytes("U")), 6), std::string("\0BOB  ", 6));
  EXPECT_EQ(Bytes("N")[0], 255);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(Bytes("S")) + 1, 18), "2026121012000000  ");
}

TEST_F(InterpTest, MvbOfLengthZeroMovesOnByFour) {
  Load("field A char 2 = 'ab'\nfield B char 2 = 'xy'\ncode\n BEG\n MVB A, B, 0\n BRK\n");
  Run();
  EXPECT_EQ(rvec_[kStateAction], kActionBreak);
  EXPECT_EQ(pos_, 6);  // BRK resumes at itself, right behind the 4 words
  EXPECT_EQ(Bytes("A")[1], 'a');
  Run();  // and stops there again
  EXPECT_EQ(pos_, 6);
}

TEST_F(InterpTest, RandomSeedAndParkMillerSequence) {
  Load(R"(field D decimal 10
field Z word = 0
field OUT word
code
  BEG
  CIN D, 10, Z
  RAS D, 10
  END 1
)");
  Run();
  EXPECT_EQ(Wd(base_, usr_, USR_SEED), 2147483645);

  Load(R"(field D decimal 10
field OUT word
code
  BEG
  RAN D, 10
  CNI OUT, D, 10
  END 1
)");
  Wd(base_, usr_, USR_SEED) = 1;
  Run();
  EXPECT_EQ(WordAt("OUT"), 16807);
  for (int call = 2; call <= 10000; ++call) {
    pos_ = 2;
    Run();
  }
  EXPECT_EQ(Wd(base_, usr_, USR_SEED), 1043618065);
  EXPECT_EQ(WordAt("OUT"), 1043618065);
}

TEST_F(InterpTest, RasKeepsSeedOnNullAndMapsTheTopValue) {
  Load(R"(field D decimal 10
field MAX word = 2147483647
code
  BEG
  CIN D, 10, MAX
  RAS D, 10
  END 1
)");
  Run();
  EXPECT_EQ(Wd(base_, usr_, USR_SEED), 2147483646);
  Load("field D decimal 10 = null\ncode\n BEG\n RAS D, 10\n END 1\n");
  Wd(base_, usr_, USR_SEED) = 99;
  Run();
  EXPECT_EQ(Wd(base_, usr_, USR_SEED), 99);
}

// NN2 keeps its entry in storage word op8; the shared program is not written.
TEST_F(InterpTest, Nn2KeepsItsEntryInStorageNotInTheProgram) {
  Load(R"(field A char 1 = null
field KEEP word = 5
code
  BEG
  NN2 1, A, 0, 0, 0, zero, other, KEEP
zero: END 3
other: END 7
)");
  const std::vector<int32_t> before = asm_.words;
  Run();
  EXPECT_EQ(asm_.words, before);
  EXPECT_EQ(WordAt("KEEP"), -1);  // row 1, unknown
  EXPECT_EQ(rvec_[kStateReturnCode], 7);
}

TEST_F(InterpTest, OperandOutsideStorageFailsWithoutTouchingIt) {
  Load("field A char 2 = 'ab'\ncode\n BEG\n MVB 100000, A, 2\n END 1\n");
  Run();
  EXPECT_EQ(rvec_[kStateReturnCode], kErrBadOperand);
  EXPECT_EQ(rvec_[kStateOpcode], 55);
}

TEST_F(InterpTest, DisplacementsOffTheProgramFailWithoutOverflow) {
  for (int32_t d : {2147483647, -2147483647 - 1, 100, -2}) {
    std::vector<int32_t> program = {41, 42, d, 44, 1};
    std::vector<int32_t> storage(12, 0);
    int32_t pos = 2;
    DAMAE2(base_, rvec_, program.data(), 5, storage.data(), 12, &pos, name_, usr_);
    EXPECT_EQ(rvec_[kStateReturnCode], kErrBadOpcode) << d;
    EXPECT_EQ(rvec_[kStateAction], kActionError) << d;
  }
  // MV2 in a storage area without state word 12.
  std::vector<int32_t> program = {41, 59, 0, 4, 4, 44, 1};
  std::vector<int32_t> storage(12, 0);
  int32_t pos = 2;
  DAMAE2(base_, rvec_, program.data(), 7, storage.data(), 12, &pos, name_, usr_);
  EXPECT_EQ(rvec_[kStateReturnCode], kErrBadOperand);
}

TEST_F(InterpTest, ActionsLeaveArgumentAndResume) {
  Load("code\n BEG\n CAL 5\n OPN 9\n SEE 3, 0\n EXI 2\n END 1\n END 4\n");
  Run();
  EXPECT_EQ(rvec_[kStateAction], kActionCall);
  EXPECT_EQ(rvec_[kStateArgument], 5);
  EXPECT_EQ(pos_, 4);
  Run();
  EXPECT_EQ(rvec_[kStateAction], kActionOpen);
  EXPECT_EQ(rvec_[kStateArgument], 9);
  EXPECT_EQ(pos_, 6);
  Run();  // SEE: return code from storage word op2 + 1 (state word 0: 0)
  EXPECT_EQ(rvec_[kStateAction], kActionError);
  EXPECT_EQ(rvec_[kStateArgument], 3);
  EXPECT_EQ(pos_, 9);
  Run();
  EXPECT_EQ(rvec_[kStateAction], kActionExit);
  EXPECT_EQ(rvec_[kStateEndKind], 3);
  EXPECT_EQ(pos_, 11);
  Run();
  EXPECT_EQ(rvec_[kStateAction], kActionEnd);
  EXPECT_EQ(rvec_[kStateReturnCode], 1);
  EXPECT_EQ(rvec_[kStateEndKind], 2);  // END 1
}

TEST_F(InterpTest, JmcCancelRecordsCancelled) {
  Load("code\n BEG\nloop: JMC loop\n");
  Wd(base_, cha_, CHA_REQNO_CANCEL) = 7;
  Wd(base_, cha_, CHA_INTERRUPT_MODE) = 2;
  Run();
  EXPECT_EQ(rvec_[kStateReturnCode], kErrCancelled);
  EXPECT_EQ(rvec_[kStateAction], kActionError);
  EXPECT_EQ(rvec_[kStateOpcode], 134);
}

TEST_F(InterpTest, JmcGivesWayInModeOne) {
  Load("code\n BEG\nloop: JMC loop\n");
  Wd(base_, cha_, CHA_INTERRUPT_MODE) = 1;
  Wd(base_, cha_, CHA_INTERRUPT_REQNO) = 7;
  const int32_t sys = KernelSys(base_);
  const int32_t before = Wd(base_, sys, SYS_REQUEUE_COUNT);
  Run();
  EXPECT_EQ(rvec_[0], kErrRequeue);
  EXPECT_EQ(pos_, 2);
  EXPECT_EQ(Wd(base_, sys, SYS_REQUEUE_COUNT), before + 1);
  EXPECT_EQ(Wd(base_, cha_, CHA_JMC_COUNT), 1);
}

}  // namespace

namespace {

TEST(ProgramCheck, FindsTheFirstBrokenInstruction) {
  struct Case {
    std::vector<int32_t> code;
    int32_t rc, position;
  };
  const Case cases[] = {
      {{41, 42, 2, 44, 1, 44, 2}, 0, 0},                         // JMP to the second END
      {{41, 42, 3, 44, 1}, -19018, 2},                           // JMP into nothing
      {{41, 42, 1, 44, 1}, -19018, 2},                           // JMP into an operand
      {{41, 16, 1, 20, 20, 4}, -19018, 2},                       // CBF cut short
      {{41, 0}, -19018, 2},                                      // no opcode 0
      {{44, 1}, -19017, 0},                                      // no BEG
      {{41, 56, 1, 48, 0, 0, 0, 9, 1, 0}, -19018, 2},            // NN2's op6 past the end
      {{41, 55, 48, 52, -1, 44, 1}, -19077, 2},                  // MVB of length -1
      {{41, 44, 1, 3, 0, -2}, -19077, 4},                        // GNR of record block 0
      {{41, 131, 48, 2, -2, 60, 2, -1, 44, 1}, -19077, 2},       // MTV length field -2
      {{41, 58, 8, 1, 0, 0, 4, 0, 10, 9, 9, 44, 1}, 0, 0},       // RP2 of 10 words
      {{41, 58, 8, 1, 0, 0, 4, 0, 7, 44, 1}, -19018, 2},         // RP2 shorter than 8
      {{41, 58, 8, 1, 0, 0, 4, 0, 13, 9, 9, 44, 1}, -19018, 2},  // RP2 past the end
  };
  for (const Case& c : cases) {
    int32_t bad = -1;
    EXPECT_EQ(DACheckProgram(c.code.data(), static_cast<int32_t>(c.code.size()), &bad), c.rc);
    EXPECT_EQ(bad, c.position);
  }
}

}  // namespace
