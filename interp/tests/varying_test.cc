// Varying values: the moves with their cut rules (errors, warnings, blanks),
// null sources, concatenation, length and position, each read back through
// the length field.
#include "interp/tests/interp_fixture.h"

using namespace interp;

namespace {

// S holds 'ab' + blanks or 'abcdef' as its current length L; the program
// sets S's length field from word L, runs the body, then stores T's length
// into word OUT.
constexpr const char* kFields = R"(field S varchar 20 = 'abcdef'
field T varchar 4
field U varchar 30
field D decimal 5
field L word = 6
field OUT word = -7
field F char 2 = 'cd'
)";

struct MoveCase {
  const char* name;
  const char* source;  // initial text of S
  int32_t length;      // its current length
  const char* body;
  int32_t code;  // return code (0 and END 1 give 1)
  int32_t out;   // T's length afterwards (-7: not written)
};

const MoveCase kMoves[] = {
    {"MTV fits", "ab", 2, "MTV T, 4, T.len, S, 20, S.len", 1, 2},
    {"MTV cuts blanks", "ab", 6, "MTV T, 4, T.len, S, 20, S.len", 1, 4},
    {"MTV loses letters", "abcdef", 6, "MTV T, 4, T.len, S, 20, S.len", kErrCharsLost, -7},
    {"MVW loses letters", "abcdef", 6, "MVW T, 4, T.len, S, 20, S.len", kWarnCut, 4},
    {"MPV longer", "ab", 6, "MPV T, 4, T.len, S, 20, S.len", kErrCharsLost, -7},
    {"MPW longer", "ab", 6, "MPW T, 4, T.len, S, 20, S.len", kWarnCut, 4},
    {"ACV appends", "abcdef", 6,
     "MTV U, 30, U.len, S, 20, S.len\n ACV U, 30, U.len, S, 20, S.len\n CNI OUT, U.len, 2", 1, 12},
    {"ACV beyond target", "abcdef", 3,
     "MTV T, 4, T.len, S, 20, S.len\n ACV T, 4, T.len, S, 20, S.len", kErrTooLong, -7},
    {"CHL", "abcdef", 5, "CHL D, 5, S, 20, S.len\n CNI OUT, D, 5", 1, 5},
    {"POS itself", "abcdef", 6, "POS D, 5, S, 20, S.len, S, 20, S.len\n CNI OUT, D, 5", 1, 1},
    {"POS fixed", "abcdef", 6, "POS D, 5, F, 2, -1, S, 20, S.len\n CNI OUT, D, 5", 1, 3},
    {"POS absent", "abcdef", 2, "POS D, 5, F, 2, -1, S, 20, S.len\n CNI OUT, D, 5", 1, 0},
};

class VaryingMoves : public InterpTest, public ::testing::WithParamInterface<MoveCase> {};

TEST_P(VaryingMoves, CutRulesAndLengths) {
  const MoveCase& c = GetParam();
  std::string fields = kFields;
  fields.replace(fields.find("abcdef"), 6, c.source);
  Load(fields + "code\n BEG\n CIN S.len, 2, L\n " + c.body + "\n CNI OUT, T.len, 1\n END 1\n");
  WordAt("L") = c.length;
  const std::string name = c.name;
  if (name == "ACV appends" || name == "CHL" || name.rfind("POS", 0) == 0) {
    // These leave their own result in OUT: drop the closing length read.
    Load(fields + "code\n BEG\n CIN S.len, 2, L\n " + c.body + "\n END 1\n");
    WordAt("L") = c.length;
  }
  Run();
  EXPECT_EQ(rvec_[kStateReturnCode], c.code) << c.name;
  if (c.code == kWarnCut) Run();  // resumed behind the warning: the length is read
  EXPECT_EQ(WordAt("OUT"), c.out) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, VaryingMoves, ::testing::ValuesIn(kMoves));

TEST_F(InterpTest, NullSourceMakesTargetAndLengthNull) {
  Load(std::string(kFields) +
       "field N varchar 20 = null\ncode\n BEG\n"
       " MTV T, 4, T.len, N, 20, N.len\n END 1\n");
  Run();
  EXPECT_EQ(rvec_[kStateReturnCode], 1);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Bytes("T")[i], 255) << i;
  EXPECT_EQ(Bytes("T.len")[0], 255);
}

TEST_F(InterpTest, LengthFieldAboveItsMaximumIsRefused) {
  Load(std::string(kFields) +
       "code\n BEG\n CIN S.len, 2, L\n"
       " MTV U, 30, U.len, S, 20, S.len\n END 1\n");
  WordAt("L") = 50;  // longer than S's 20 bytes: must not be copied
  Run();
  EXPECT_EQ(rvec_[kStateReturnCode], kLengthFieldErrorBase - 5);
}

}  // namespace
