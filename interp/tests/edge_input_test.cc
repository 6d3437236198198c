// Edge input at the limits of the program and the storage: instructions cut
// short by the program's end, lengths and offsets taken from the program or
// from length fields at run time.
#include "interp/opcode_table.h"
#include "interp/tests/interp_fixture.h"

using namespace interp;

namespace {

// A failing instruction cut short by the program's end names no table: the
// recorder must not read its operands behind the last program word.
TEST_F(InterpTest, CutShortInstructionNamesNoTableAndReadsNothingBehindTheProgram) {
  for (int32_t op : {1, 3, 6, 7, 10, 163, 164, 165}) {
    // The program ends right after the opcode word (its own allocation, so
    // that a read behind it is caught by the address checker).
    std::vector<int32_t> program = {41, op};
    std::vector<int32_t> storage(60, 0);
    storage[kStateLid] = 11;
    int32_t pos = 2;
    DAMAE2(base_, rvec_, program.data(), 2, storage.data(), 60, &pos, name_, usr_);
    EXPECT_EQ(rvec_[kStateReturnCode], kErrBadOpcode) << op;
    EXPECT_EQ(rvec_[kStateOpcode], op) << op;
    EXPECT_EQ(rvec_[kStateBitVector], kBitsNoTable) << op;
    EXPECT_EQ(rvec_[kStateLid], 11) << op;
    EXPECT_EQ(rvec_[kStateAction], kActionError) << op;
  }
  // A one-word program whose only word is a table opcode, not BEG.
  for (int32_t op : {1, 6, 165}) {
    std::vector<int32_t> program = {op};
    std::vector<int32_t> storage(60, 0);
    int32_t pos = 2;
    DAMAE2(base_, rvec_, program.data(), 1, storage.data(), 60, &pos, name_, usr_);
    EXPECT_EQ(rvec_[kStateReturnCode], kErrNoBeg) << op;
    EXPECT_EQ(rvec_[kStateOpcode], op) << op;
    EXPECT_EQ(rvec_[kStateBitVector], kBitsNoTable) << op;
    EXPECT_EQ(pos, 1) << op;
  }
}

}  // namespace

namespace {

// SEE's operand 2 is a storage word index from 0: the assembler gives a
// word field's index, and the return code is that field's value.
TEST_F(InterpTest, SeeTakesItsReturnCodeFromTheNamedWordField) {
  Load("field E word = 5\nfield F word = -777\nfield G word = 9\ncode\n BEG\n SEE 3, F\n END 1\n");
  Run();
  EXPECT_EQ(rvec_[kStateAction], kActionError);
  EXPECT_EQ(rvec_[kStateReturnCode], -777);
  EXPECT_EQ(rvec_[kStateArgument], 3);
}

// PASTE's start and count are whole numbers: fraction digits are dropped,
// the whole part stays.
TEST_F(InterpTest, PasteDropsTheFractionOfItsStart) {
  struct Case {
    const char* start;
    const char* result;
  };
  const Case cases[] = {{"2.5", "aXYcdef"}, {"2.0", "aXYcdef"}, {"0.5", nullptr}};
  for (const Case& c : cases) {
    Load(std::string("field S varchar 20 = 'abcdef'\nfield T varchar 10 = 'XY'\n"
                     "field R varchar 30\nfield P decimal 10\nfield Q decimal 10\n"
                     "field PT char 3 = '") +
         c.start +
         "'\nfield L word = 6\nfield TL word = 2\nfield C word = 1\nfield OUT word\n"
         "code\n BEG\n CIN S.len, 2, L\n CIN T.len, 2, TL\n CCN P, 10, 1, PT, 3\n"
         " CIN Q, 10, C\n PST R, 30, R.len, S, 20, S.len, P, 10, Q, 10, T, 10, T.len\n"
         " END 1\n");
    Run();
    EXPECT_EQ(rvec_[kStateReturnCode], 1) << c.start;
    if (c.result == nullptr) {
      EXPECT_EQ(Bytes("R")[0], 255) << c.start;
      continue;
    }
    EXPECT_EQ(Bytes("R")[0], 0) << c.start;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(Bytes("R")) + 1, 7), c.result) << c.start;
  }
}

}  // namespace

namespace {

// CCN's scale -1 asks for a floating value (a cast to a floating decimal
// type): the assembler and the program check accept it, and the number keeps
// every digit the text gives.
TEST_F(InterpTest, CcnTakesAFloatingScale) {
  Load(
      "field D decimal 12\nfield E decimal 12\nfield PT char 8 = '12.375'\n"
      "field PE char 8 = '12.375'\nfield OUT word\n"
      "code\n BEG\n CCN D, 12, -1, PT, 8\n CCN E, 12, 3, PE, 8\n"
      " CNF 1, D, 12, E, 12, differ\n END 1\ndiffer: END 2\n");
  int32_t bad = 0;
  EXPECT_EQ(DACheckProgram(asm_.words.data() + start_, storage_at_ - start_, &bad), 0);
  Run();
  EXPECT_EQ(rvec_[kStateReturnCode], 1);
}

}  // namespace

namespace {

// The compound-statement stack: IPR empties it (action 10), BCS pushes an
// item, SCA points the top item's continuation at its branch target and JCA
// goes there; SCA and JCA on an empty stack fail with -19017.
TEST_F(InterpTest, CompoundStackContinuationIsTheBranchTarget) {
  Load(
      "field STK bytes 64\ncode\n BEG\n IPR STK, 0, 0\n BCS STK, 7, 1\n SCA STK, there\n"
      " JCA STK\n END 1\nthere: END 2\n");
  Run();
  EXPECT_EQ(rvec_[kStateAction], kActionInitCompound);
  EXPECT_EQ(pos_, 6);
  Run();
  EXPECT_EQ(rvec_[kStateAction], kActionEnd);
  EXPECT_EQ(rvec_[kStateReturnCode], 2);
  const int32_t* stack = &WordAt("STK");
  EXPECT_EQ(stack[0], 1);   // one item
  EXPECT_EQ(stack[1], 7);   // its statement identifier
  EXPECT_EQ(stack[2], 17);  // its continuation: the position of `there`
  EXPECT_EQ(stack[4], 1);   // the atomic flag

  for (const char* body : {" SCA STK, there\n", " JCA STK\n"}) {
    Load(std::string("field STK bytes 64\ncode\n BEG\n IPR STK, 0, 0\n") + body +
         " END 1\nthere: END 2\n");
    Run();
    Run();
    EXPECT_EQ(rvec_[kStateReturnCode], kErrNoBeg) << body;
    EXPECT_EQ(rvec_[kStateAction], kActionError) << body;
  }
}

}  // namespace

namespace {

// A storage area too small for the machine state: the run cannot record its
// error there, so the caller's vector gets it; nothing of an earlier run's
// result (an END here) is left to be read as this run's.
TEST_F(InterpTest, StorageWithoutMachineStateFailsInTheReturnVector) {
  std::vector<int32_t> program = {41, 44, 1};
  std::vector<int32_t> storage(4, 0);
  for (int k = 0; k < kStateWords; ++k) rvec_[k] = 0;
  rvec_[kStateAction] = kActionEnd;
  rvec_[kStateReturnCode] = 1;
  int32_t pos = 2;
  DAMAE2(base_, rvec_, program.data(), 3, storage.data(), 4, &pos, name_, usr_);
  EXPECT_EQ(rvec_[kStateReturnCode], kErrBadOperand);
  EXPECT_EQ(rvec_[kStateAction], kActionError);
  EXPECT_EQ(rvec_[kStateResume], 1);
  EXPECT_EQ(pos, 1);
  EXPECT_EQ(storage, std::vector<int32_t>(4, 0));
}

}  // namespace

namespace {

// A varying field's length field starts as the length of its first value
// (0 without one), so that a program can read it before writing it.
TEST_F(InterpTest, VaryingFieldStartsWithTheLengthOfItsValue) {
  struct Case {
    const char* field;
    int32_t length;
  };
  const Case cases[] = {{"varchar 20 = 'abc'", 3},
                        {"varchar 20", 0},
                        {"varchar 9 = 'abcdefghi'", 9},
                        {"varchar 32000 = 'abcdefghijkl'", 12},
                        {"varchar 100 = ''", 0}};
  for (const Case& c : cases) {
    Load(std::string("field V ") + c.field +
         "\nfield D decimal 5\nfield OUT word = -7\ncode\n BEG\n CHL D, 5, V, " +
         std::string(c.field).substr(8, std::string(c.field).find_first_of(" ", 8) - 8) +
         ", V.len\n CNI OUT, D, 5\n END 1\n");
    Run();
    EXPECT_EQ(rvec_[kStateReturnCode], 1) << c.field;
    EXPECT_EQ(WordAt("OUT"), c.length) << c.field;
  }
}

}  // namespace

namespace {

// A null length field makes the value null: ASC gives null for it, and never
// reads a data byte that its maximum does not give the value.
TEST_F(InterpTest, AscOfAValueWithANullLengthFieldIsNull) {
  for (const char* field : {"varchar 5 = 'abc'", "varchar 0"}) {
    const std::string f = field;
    const std::string max =
        f.substr(8, f.find(' ', 8) == std::string::npos ? std::string::npos : f.find(' ', 8) - 8);
    Load("field D decimal 5\nfield V " + f + "\ncode\n BEG\n SNV V.len, 3\n ASC D, 5, V, " + max +
         ", V.len\n END 1\n");
    Run();
    EXPECT_EQ(rvec_[kStateReturnCode], 1) << field;
    EXPECT_EQ(Bytes("D")[0], 255) << field;
  }
}

}  // namespace

namespace {

// PASTE of empty strings is the empty string (present, length 0), for
// single-byte and wide values alike.
TEST_F(InterpTest, PasteOfEmptyStringsIsEmpty) {
  for (const char* op : {"PST", "PSU"}) {
    Load(std::string("field S varchar 30\nfield T varchar 30\nfield R varchar 30 = 'zz'\n"
                     "field P decimal 10\nfield ONE word = 1\nfield OUT word = -7\ncode\n BEG\n"
                     " CIN P, 10, ONE\n ") +
         op + " R, 10, R.len, S, 10, S.len, P, 10, P, 10, T, 10, T.len\n CNI OUT, R.len, 2\n"
              " END 1\n");
    Run();
    EXPECT_EQ(rvec_[kStateReturnCode], 1) << op;
    EXPECT_EQ(Bytes("R")[0], 0) << op;
    EXPECT_EQ(WordAt("OUT"), 0) << op;
  }
}

}  // namespace
