// PASTE on single-byte (PST) and wide (PSU) varying values, decimal to text
// (CNC) and the wide-character compares CUF/CUT, each read back as text and
// length.
#include "interp/tests/interp_fixture.h"

using namespace interp;

namespace {

std::string Text(const uint8_t* data, int32_t n) {
  return std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(n));
}

// S 'abcdef' (length L), T 'XY' (length 2) into R; START and COUNT are the
// numbers; OUT gets R's length.
constexpr const char* kPasteFields = R"(field S varchar 20 = 'abcdef'
field T varchar 10 = 'XY'
field N varchar 10 = null
field R varchar 30
field R5 varchar 5
field P decimal 10
field Q decimal 10
field L word = 6
field TL word = 2
field START word
field COUNT word
field OUT word = -7
code
 BEG
 CIN S.len, 2, L
 CIN T.len, 2, TL
 CIN P, 10, START
 CIN Q, 10, COUNT
)";

struct PasteCase {
  const char* name;
  int32_t start, count;
  const char* body;
  int32_t code;
  const char* result;  // R's text up to its length; "null" for a null R
};

const PasteCase kPastes[] = {
    {"replace two in the middle", 3, 2,
     "PST R, 30, R.len, S, 20, S.len, P, 10, Q, 10, T, 10, T.len", 1, "abXYef"},
    {"insert without removing", 1, 0, "PST R, 30, R.len, S, 20, S.len, P, 10, Q, 10, T, 10, T.len",
     1, "XYabcdef"},
    {"start behind the end appends", 9, 1,
     "PST R, 30, R.len, S, 20, S.len, P, 10, Q, 10, T, 10, T.len", 1, "abcdefXY"},
    {"count beyond the end replaces the rest", 5, 100,
     "PST R, 30, R.len, S, 20, S.len, P, 10, Q, 10, T, 10, T.len", 1, "abcdXY"},
    {"start 0 gives null", 0, 1, "PST R, 30, R.len, S, 20, S.len, P, 10, Q, 10, T, 10, T.len", 1,
     "null"},
    {"negative count gives null", 1, -1,
     "PST R, 30, R.len, S, 20, S.len, P, 10, Q, 10, T, 10, T.len", 1, "null"},
    {"null string gives null", 1, 1, "PST R, 30, R.len, S, 20, S.len, P, 10, Q, 10, N, 10, N.len",
     1, "null"},
    {"result longer than its field", 1, 0,
     "PST R5, 5, R5.len, S, 20, S.len, P, 10, Q, 10, T, 10, T.len", kErrTooLong, ""},
    {"into one of its own operands", 2, 4,
     "MTV R, 30, R.len, S, 20, S.len\n PST R, 30, R.len, R, 30, R.len, P, 10, Q, 10, T, 10, T.len",
     1, "aXYf"},
};

class Paste : public InterpTest, public ::testing::WithParamInterface<PasteCase> {};

TEST_P(Paste, SingleByte) {
  const PasteCase& c = GetParam();
  Load(std::string(kPasteFields) + " " + c.body + "\n CNI OUT, R.len, 2\n END 1\n");
  WordAt("START") = c.start;
  WordAt("COUNT") = c.count;
  Run();
  ASSERT_EQ(rvec_[kStateReturnCode], c.code) << c.name;
  if (c.code != 1) return;
  if (std::string(c.result) == "null") {
    EXPECT_EQ(Bytes("R")[0], 255) << c.name;
    EXPECT_EQ(WordAt("OUT"), INT32_MIN) << c.name;  // the integer of a null length
    return;
  }
  EXPECT_EQ(WordAt("OUT"), static_cast<int32_t>(std::strlen(c.result))) << c.name;
  EXPECT_EQ(Text(Bytes("R") + 1, WordAt("OUT")), c.result) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, Paste, ::testing::ValuesIn(kPastes));

// PSU on wide characters made from text and back.
TEST_F(InterpTest, PasteWide) {
  Load(R"(field A char 6 = 'abcdef'
field B char 2 = 'XY'
field WA bytes 19
field WAL bytes 4
field WB bytes 7
field WBL bytes 4
field WR bytes 31
field WRL bytes 4
field R char 10
field RL bytes 4
field P decimal 10
field Q decimal 10
field THREE word = 3
field TWO word = 2
field OUT word = -7
code
 BEG
 CCU WA, 6, WAL, A, 6, -1
 CCU WB, 2, WBL, B, 2, -1
 CIN P, 10, THREE
 CIN Q, 10, TWO
 PSU WR, 10, WRL, WA, 6, WAL, P, 10, Q, 10, WB, 2, WBL
 CUC R, 10, RL, WR, 10, WRL
 CNI OUT, WRL, 2
 END 1
)");
  Run();
  ASSERT_EQ(rvec_[kStateReturnCode], 1);
  EXPECT_EQ(WordAt("OUT"), 6);
  EXPECT_EQ(Text(Bytes("R") + 1, 6), "abXYef");
}

TEST_F(InterpTest, DecimalToText) {
  struct Case {
    const char* text;  // read by CCN into D (scale 2)
    int32_t scale;     // CNC's source scale
    int32_t length;    // CNC's result length
    int32_t code;
    const char* result;
  };
  const Case cases[] = {
      {"123", 0, 10, 1, "123"},
      {"-45", 0, 10, 1, "-45"},
      {"12.5", 2, 10, 1, "12.50"},
      {"0.25", 2, 10, 1, "0.25"},
      {"123456", 0, 3, kErrCharsLost, nullptr},
      {"123", 0, 3, 1, "123"},
  };
  for (const Case& c : cases) {
    Load(std::string("field TXT char 12 = '") + c.text + R"('
field D decimal 12
field R varchar 10
field OUT word = -7
code
 BEG
 CCN D, 12, 2, TXT, 12
 CNC R, )" +
         std::to_string(c.length) + ", R.len, " + std::to_string(c.scale) +
         ", D, 12\n CNI OUT, R.len, 2\n END 1\n");
    Run();
    ASSERT_EQ(rvec_[kStateReturnCode], c.code) << c.text;
    if (c.result == nullptr) continue;
    EXPECT_EQ(WordAt("OUT"), static_cast<int32_t>(std::strlen(c.result))) << c.text;
    EXPECT_EQ(Text(Bytes("R") + 1, c.length),
              c.result + std::string(c.length - std::strlen(c.result), ' '))
        << c.text;
  }
  // A null decimal makes the text and its length null.
  Load(R"(field D decimal 12 = null
field R varchar 10
code
 BEG
 CNC R, 10, R.len, 0, D, 12
 END 1
)");
  Run();
  EXPECT_EQ(rvec_[kStateReturnCode], 1);
  EXPECT_EQ(Bytes("R")[0], 255);
  EXPECT_EQ(Bytes("R.len")[0], 255);
}

// CUF/CUT over wide values made from text: blank padded, null never true.
TEST_F(InterpTest, WideCompares) {
  struct Case {
    const char* a;
    const char* b;
    int32_t op;
    bool holds;
  };
  const Case cases[] = {
      {"abc", "abc", 1, true},   {"abc", "abd", 5, true}, {"abd", "abc", 4, true},
      {"ab ", "ab", 1, true},    {"abc", "ab", 6, true},  {"abc", "abc", 6, false},
      {"null", "abc", 6, false},
  };
  for (const Case& c : cases) {
    for (bool t_form : {false, true}) {
      const std::string a = std::string(c.a) == "null" ? "= null" : std::string("= '") + c.a + "'";
      Load(std::string("field A varchar 3 ") + a + "\nfield B char 3 = '" + c.b + R"('
field WA bytes 10
field WAL bytes 4
field WB bytes 10
field WBL bytes 4
field LA word = 3
field LB word
code
 BEG
 CIN A.len, 1, LA
 CCU WA, 3, WAL, A, 3, A.len
 CCU WB, 3, WBL, B, 3, -1
 CIN WBL, 1, LB
 )" + (t_form ? "CUT " : "CUF ") +
           std::to_string(c.op) + ", WA, 3, WAL, WB, 3, WBL, jumped\n END 1\njumped: END 2\n");
      WordAt("LB") = static_cast<int32_t>(std::strlen(c.b));
      Run();
      const bool jumped = rvec_[kStateReturnCode] == 2;
      EXPECT_EQ(jumped, t_form ? c.holds : !c.holds) << c.a << " " << c.op << " " << c.b;
    }
  }
}

}  // namespace
