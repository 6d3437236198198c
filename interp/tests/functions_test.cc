// The small functions the loop runs itself: NFC on packed decimals, ASC and
// CHR between characters and codes, and the decimal assignment and
// operations, each computed from a word and read back as a word.
#include "interp/tests/interp_fixture.h"

using namespace interp;

namespace {

struct FunctionCase {
  const char* name;
  int32_t in;
  const char* body;  // computes from D (decimal 9, set from IN) into OUT
  int32_t code;
  int32_t out;
};

const FunctionCase kCases[] = {
    {"ABS", -42, "NFC 23, D, 9\n CNI OUT, D, 9", 1, 42},
    {"SIGN negative", -42, "NFC 24, D, 9\n CNI OUT, D, 9", 1, -1},
    {"SIGN zero", 0, "NFC 24, D, 9\n CNI OUT, D, 9", 1, 0},
    {"SIGN positive", 7, "NFC 24, D, 9\n CNI OUT, D, 9", 1, 1},
    {"CEILING of an integer", 7, "NFC 21, D, 9\n CNI OUT, D, 9", 1, 7},
    {"unknown NFC code", 7, "NFC 25, D, 9", kErrBadOperand, -7},
    {"ADD", 40, "ADD 1, D, 9, D, 9\n CNI OUT, D, 9", 1, 80},
    {"SUB", 40, "CIN E, 9, TWO\n SUB 1, D, 9, E, 9\n CNI OUT, D, 9", 1, 38},
    {"MUL", 40, "CIN E, 9, TWO\n MUL 1, D, 9, E, 9\n CNI OUT, D, 9", 1, 80},
    {"DIV by zero", 40, "DIV 1, D, 9, Z, 9", kDecimalErrorBase - 4, -7},
    {"MVN to a wider decimal", 123, "MVN E, 9, D, 9\n CNI OUT, E, 9", 1, 123},
    {"MOD", 17, "CIN E, 9, FIVE\n MOD D, 9, E, 9\n CNI OUT, D, 9", 1, 2},
    {"MOD of a negative", -17, "CIN E, 9, FIVE\n MOD D, 9, E, 9\n CNI OUT, D, 9", 1, -2},
    {"MOD exact", 15, "CIN E, 9, FIVE\n MOD D, 9, E, 9\n CNI OUT, D, 9", 1, 0},
    {"MOD by zero", 17, "MOD D, 9, Z, 9", kDecimalErrorBase - 4, -7},
    {"CHR then ASC", 65, "CHR C, 3, C.len, D, 9\n ASC E, 9, C, 3, C.len\n CNI OUT, E, 9", 1, 65},
    {"CHR out of range is null", 300,
     "CHR C, 3, C.len, D, 9\n CHL E, 9, C, 3, C.len\n"
     " TVT 1, E, null\n END 2\nnull: CNI OUT, D, 9",
     1, 300},
};

class Functions : public InterpTest, public ::testing::WithParamInterface<FunctionCase> {};

TEST_P(Functions, ComputeFromAWord) {
  const FunctionCase& c = GetParam();
  Load(std::string(R"(field D decimal 9
field E decimal 9
field Z decimal 9
field C varchar 3
field IN word
field TWO word = 2
field FIVE word = 5
field ZERO word = 0
field OUT word = -7
code
  BEG
  CIN D, 9, IN
  CIN Z, 9, ZERO
  )") + c.body +
       "\n END 1\n");
  WordAt("IN") = c.in;
  Run();
  EXPECT_EQ(rvec_[kStateReturnCode], c.code) << c.name;
  EXPECT_EQ(WordAt("OUT"), c.out) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, Functions, ::testing::ValuesIn(kCases));

// Wide characters: 3 bytes each, most significant first.
TEST_F(InterpTest, WideMovesCutInvalidAndNull) {
  struct Case {
    const char* body;
    int32_t code;
  };
  const Case cases[] = {
      {"MUS T, 2, S, 2", 1},              // fits
      {"MUS T, 2, S, 3", kErrCharsLost},  // a non-blank third character
      {"MUW T, 2, S, 3", kWarnCut},
      {"MUC T, 2, S, 3", 1},
      {"MUS T, 2, BAD, 1", kErrInvalidWide},
      {"MUS T, 2, N, 1", 1},
  };
  for (const Case& c : cases) {
    Load(std::string("field T bytes 7\nfield S bytes 10\nfield BAD bytes 4\n"
                     "field N char 3 = null\ncode\n BEG\n ") +
         c.body + "\n END 1\n");
    const uint8_t s[10] = {0, 0, 0, 'a', 0, 0, 'b', 0, 0, 'c'};
    std::memcpy(Bytes("S"), s, sizeof s);
    const uint8_t bad[4] = {0, 0x11, 0x00, 0x00};  // above U+10FFFF
    std::memcpy(Bytes("BAD"), bad, sizeof bad);
    Run();
    EXPECT_EQ(rvec_[kStateReturnCode], c.code) << c.body;
  }
  Load("field T bytes 7\nfield N char 3 = null\ncode\n BEG\n MUS T, 2, N, 1\n END 1\n");
  Run();
  for (int i = 0; i < 7; ++i) EXPECT_EQ(Bytes("T")[i], 255) << i;
}

// Single-byte text to wide characters and back, with length fields.
TEST_F(InterpTest, WideConversionsRoundTrip) {
  Load(R"(field A char 4 = 'abc'
field W bytes 13
field WL bytes 4
field B char 4
field BL bytes 4
field C char 2
field THREE word = 3
field OUT word = -7
code
  BEG
  CCU W, 4, WL, A, 4, -1
  CUC B, 4, BL, W, 4, WL
  CNI OUT, BL, 1
  CUW C, 2, -1, W, 4, WL
  END 1
)");
  Run();
  EXPECT_EQ(rvec_[kStateReturnCode], kWarnCut);  // CUW: "abc " into 2 characters
  EXPECT_EQ(WordAt("OUT"), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(Bytes("B")), 5), std::string("\0abc ", 5));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(Bytes("C")), 3), std::string("\0ab", 3));
  const uint8_t wide[7] = {0, 0, 0, 'a', 0, 0, 'b'};
  EXPECT_EQ(std::memcmp(Bytes("W"), wide, sizeof wide), 0);
}

TEST_F(InterpTest, VaryingWideMovesAndConcatenation) {
  struct Case {
    const char* body;
    int32_t code, out;
  };
  const Case cases[] = {
      {"MTU V, 9, VL, W, 4, WL\n AUV V, 9, VL, W, 4, WL\n CNI OUT, VL, 1", 1, 8},
      {"MTU V, 9, VL, W, 4, WL\n AUV V, 9, VL, V, 9, VL\n AUV V, 9, VL, W, 4, WL", kErrTooLong, -7},
      {"MTU S, 2, SL, W, 4, WL", kErrCharsLost, -7},
      {"MUV S, 2, SL, W, 4, WL", kWarnCut, -7},
  };
  for (const Case& c : cases) {
    Load(std::string(R"(field A char 4 = 'abcd'
field W bytes 13
field WL bytes 4
field V bytes 28
field VL bytes 4
field S bytes 7
field SL bytes 4
field OUT word = -7
code
  BEG
  CCU W, 4, WL, A, 4, -1
  )") + c.body +
         "\n END 1\n");
    Run();
    EXPECT_EQ(rvec_[kStateReturnCode], c.code) << c.body;
    EXPECT_EQ(WordAt("OUT"), c.out) << c.body;
  }
}

}  // namespace

namespace {

TEST_F(InterpTest, CollationTranslationAndMissingCollation) {
  for (int32_t code : {3, 77}) {
    Load("field A char 3 = 'abc'\nfield T char 3\ncode\n BEG\n COC " + std::to_string(code) +
         ", 0, T, 3, A, 3, miss\n JMP ok\nmiss: END -19114\nok: END 1\n");
    const std::vector<int32_t> program = asm_.words;
    Run();
    if (code == 3) {
      EXPECT_EQ(rvec_[kStateReturnCode], 1);
      EXPECT_EQ(std::string(reinterpret_cast<char*>(Bytes("T")), 4), std::string("\0ABC", 4));
    } else {
      EXPECT_EQ(rvec_[kStateReturnCode], -19114);
    }
    EXPECT_EQ(asm_.words, program);  // the cache operand is never written
  }
}

}  // namespace

namespace {

TEST_F(InterpTest, LargeObjectLengthCopy) {
  // Two large-object values: indicator, then their length decimal at byte 12
  // (precision 10 for a maximum of 2^32, 7 bytes).
  Load(R"(field S bytes 24
field T bytes 24
field N word = 123456
field OUT word = -7
code
  BEG
  CIN 60, 10, N
  MLO T, 0, 1, S, 0, 1
  CNI OUT, 84, 10
  END 1
)");
  ASSERT_EQ(Off("S"), 48);
  ASSERT_EQ(Off("T"), 72);
  Run();
  EXPECT_EQ(rvec_[kStateReturnCode], 1);
  EXPECT_EQ(WordAt("OUT"), 123456);
}

}  // namespace
