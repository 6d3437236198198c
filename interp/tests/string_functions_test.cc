// The string function instructions' own cases: the edges of SUBSTRING,
// REPEAT, REPLACE, RIGHT, TRIM, POSITION, length, case, hexadecimal text and
// SOUNDEX, their null results, their error numbers and the bytes they must
// never write.
#include <array>
#include <tuple>

#include "du/collation.h"
#include "interp/tests/string_functions_fixture.h"
#include "platform/bytes.h"

using namespace interp;

namespace {

struct ByteCase {
  const char* name;
  const char* body;
  std::optional<std::string> s, f, t;
  std::optional<int32_t> a, b;
  int32_t code;
  std::optional<std::string> r;  // R after the run (when code is 1)
};

const ByteCase kByteCases[] = {
    {"SUBSTRING from 0 for 2", "SUS R, 300, R.len, S, 100, S.len, A, 10, B, 10", "abc", "", "", 0,
     2, 1, "a"},
    {"SUBSTRING from 4", "SUS R, 300, R.len, S, 100, S.len, A, 10, -1, 0", "abc", "", "", 4, 0, 1,
     ""},
    {"SUBSTRING from 2 to the end", "SUS R, 300, R.len, S, 100, S.len, A, 10, -1, 0", "abcd", "",
     "", 2, 0, 1, "bcd"},
    {"SUBSTRING for -1", "SUS R, 300, R.len, S, 100, S.len, A, 10, B, 10", "abc", "", "", 1, -1,
     -10313, std::nullopt},
    {"SUBSTRING of null", "SUS R, 300, R.len, S, 100, S.len, A, 10, B, 10", std::nullopt, "", "", 1,
     1, 1, std::nullopt},
    {"SUBSTRING from null", "SUS R, 300, R.len, S, 100, S.len, A, 10, B, 10", "abc", "", "",
     std::nullopt, 1, 1, std::nullopt},
    {"SUBSTRING into a short result", "SUS F, 20, F.len, S, 100, S.len, A, 10, B, 10",
     std::string(30, 'x'), "", "", 1, 30, -10305, std::nullopt},
    {"REPEAT", "REP R, 300, R.len, S, 100, S.len, A, 10", "ab", "", "", 3, 0, 1, "ababab"},
    {"REPEAT zero times", "REP R, 300, R.len, S, 100, S.len, A, 10", "ab", "", "", 0, 0, 1, ""},
    {"REPEAT a negative count", "REP R, 300, R.len, S, 100, S.len, A, 10", "ab", "", "", -1, 0, 1,
     std::nullopt},
    {"REPEAT past the result", "REP F, 20, F.len, S, 100, S.len, A, 10", "abc", "", "", 7, 0,
     -10311, std::nullopt},
    {"REPLACE", "RPL 0, 0, R, 300, R.len, S, 100, S.len, F, 20, F.len, T, 20, T.len", "a-b--c", "-",
     "+=", 0, 0, 1, "a+=b+=+=c"},
    {"REPLACE with an empty search string",
     "RPL 0, 0, R, 300, R.len, S, 100, S.len, F, 20, F.len, T, 20, T.len", "abc", "", "x", 0, 0, 1,
     "abc"},
    {"REPLACE by nothing", "RPL 0, 0, R, 300, R.len, S, 100, S.len, F, 20, F.len, T, 20, T.len",
     "aXbXX", "X", "", 0, 0, 1, "ab"},
    {"REPLACE with a null replacement",
     "RPL 0, 0, R, 300, R.len, S, 100, S.len, F, 20, F.len, T, 20, T.len", "abc", "b", std::nullopt,
     0, 0, 1, std::nullopt},
    {"REPLACE past the result", "RPL 0, 0, F, 20, F.len, S, 100, S.len, F, 20, F.len, T, 20, T.len",
     "aaaaaaaaaaaa", "a", "bb", 0, 0, -10311, std::nullopt},
    {"REPLACE with a collation nobody installed",
     "RPL 77, 0, R, 300, R.len, S, 100, S.len, F, 20, F.len, T, 20, T.len", "abc", "b", "x", 0, 0,
     -19114, std::nullopt},
    {"RIGHT", "TAL R, 300, R.len, S, 100, S.len, A, 10", "abcdef", "", "", 2, 0, 1, "ef"},
    {"RIGHT beyond the length", "TAL R, 300, R.len, S, 100, S.len, A, 10", "abc", "", "", 9, 0, 1,
     "abc"},
    {"RIGHT of a negative count", "TAL R, 300, R.len, S, 100, S.len, A, 10", "abc", "", "", -2, 0,
     1, std::nullopt},
    {"TRIM leading", "TRV 1, 0, 0, F, 20, F.len, S, 100, S.len", "xxabxx", "x", "", 0, 0, 1,
     "abxx"},
    {"TRIM trailing", "TRV 2, 0, 0, F, 20, F.len, S, 100, S.len", "xxabxx", "x", "", 0, 0, 1,
     "xxab"},
    {"TRIM both", "TRV 3, 0, 0, F, 20, F.len, S, 100, S.len", "xxabxx", "x", "", 0, 0, 1, "ab"},
    {"TRIM of trim characters only", "TRV 3, 0, 0, F, 20, F.len, S, 100, S.len", "xxx", "x", "", 0,
     0, 1, ""},
    {"TRIM by two characters", "TRV 3, 0, 0, F, 20, F.len, S, 100, S.len", "xxx", "xy", "", 0, 0,
     -12219, std::nullopt},
    {"TRIM by an empty string", "TRV 3, 0, 0, F, 20, F.len, S, 100, S.len", "xxx", "", "", 0, 0,
     -12219, std::nullopt},
    {"TRIM in mode 4", "TRV 4, 0, 0, F, 20, F.len, S, 100, S.len", "xxx", "x", "", 0, 0, -19020,
     std::nullopt},
    {"TCH", "TCH 0, R, 300, R.len, S, 100, S.len", std::string("\x01\xAB\xff", 3), "", "", 0, 0, 1,
     "01ABFF"},
    {"THC of odd text", "THC 0, R, 300, R.len, S, 100, S.len", "4A4", "", "", 0, 0, -10311,
     std::nullopt},
    {"THC of lower-case text", "THC 0, R, 300, R.len, S, 100, S.len", "4a", "", "", 0, 0, -10311,
     std::nullopt},
    {"THC of a character outside the digits", "THC 0, R, 300, R.len, S, 100, S.len", "4G", "", "",
     0, 0, -10311, std::nullopt},
    {"THC", "THC 0, R, 300, R.len, S, 100, S.len", "41FF", "", "", 0, 0, 1, "A\xff"},
    {"THC past the result", "THC 0, F, 20, F.len, S, 100, S.len", std::string(42, 'A'), "", "", 0,
     0, -10311, std::nullopt},
    {"SOUNDEX", "SNX R, 300, R.len, S, 100, S.len", "Moskowitz", "", "", 0, 0, 1, "645740"},
};

class ByteFunctions : public StringFunctions, public ::testing::WithParamInterface<ByteCase> {};

TEST_P(ByteFunctions, Cases) {
  const ByteCase& c = GetParam();
  LoadBody(c.body);
  PutBytes("S", 100, c.s);
  PutBytes("F", 20, c.f);
  PutBytes("T", 20, c.t);
  PutNumber("A", c.a);
  PutNumber("B", c.b);
  Run();
  ASSERT_EQ(Code(), c.code) << c.name;
  if (c.code != 1) return;
  // TRIM works in place.
  const bool in_place = std::string(c.body).rfind("TR", 0) == 0;
  EXPECT_EQ(in_place ? GetBytes("S", 100) : GetBytes("R", 300), c.r) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Edges, ByteFunctions, ::testing::ValuesIn(kByteCases));

// A result is blank padded to its maximum and nothing behind it changes.
TEST_F(StringFunctions, ResultsStayInsideTheirFields) {
  const std::pair<const char*, int32_t> cases[] = {
      {"SUS F, 20, F.len, S, 100, S.len, A, 10, -1, 0", 20},
      {"REP F, 20, F.len, S, 100, S.len, A, 10", 20},
      {"TAL F, 20, F.len, S, 100, S.len, A, 10", 20},
      {"SNX F, 3, F.len, S, 100, S.len", 3},
      {"TCH 1, F, 20, F.len, S, 100, S.len", 20},
  };
  for (const auto& [body, maximum] : cases) {
    LoadBody(body);
    PutBytes("S", 100, "abcd");
    PutNumber("A", 5);
    const uint8_t* all = reinterpret_cast<uint8_t*>(storage_.data());
    const int32_t after = Off("F.len") + 4;
    const std::vector<uint8_t> behind(all + after, all + after + 8);
    std::memset(Bytes("F") + 1, '#', 20);
    Run();
    ASSERT_EQ(Code(), 1) << body;
    const std::string field(reinterpret_cast<const char*>(Bytes("F")) + 1, 20);
    EXPECT_EQ(field.find('#'), static_cast<size_t>(maximum == 20 ? std::string::npos : maximum))
        << body << ": " << field;
    EXPECT_EQ(std::memcmp(behind.data(), all + after, 8), 0) << body;
  }
}

TEST_F(StringFunctions, RepeatAtTheByteLimit) {
  // 5000 bytes 3 times fits a result of 15000; 3001 bytes 5 times fails when
  // the result holds more than 15005.
  for (const auto& [piece, times, maximum, code] :
       {std::tuple{5000, 3, 15000, 1}, {3001, 5, 15010, -10201}, {3001, 5, 15004, -10311}}) {
    Load("field S varchar 5000\nfield R varchar " + std::to_string(maximum) +
         "\nfield A decimal 10\ncode\n BEG\n REP R, " + std::to_string(maximum) +
         ", R.len, S, 5000, S.len, A, 10\n END 1\n");
    PutBytes("S", 5000, std::string(static_cast<size_t>(piece), 'q'));
    PutNumber("A", times);
    Run();
    EXPECT_EQ(Code(), code) << piece << " x " << times;
    if (code == 1) {
      EXPECT_EQ(GetBytes("R", maximum)->size(), 15000u);
    }
  }
}

TEST_F(StringFunctions, HexTextRoundTrip) {
  LoadBody("TCH 0, R, 300, R.len, S, 100, S.len\n THC 0, T, 20, T.len, R, 300, R.len");
  std::string binary;
  for (int i = 0; i < 20; ++i) binary += static_cast<char>(i * 37 + 5);
  PutBytes("S", 100, binary);
  Run();
  ASSERT_EQ(Code(), 1);
  EXPECT_EQ(GetBytes("T", 20), binary);
}

TEST_F(StringFunctions, FillFlags) {
  LoadBody("TCH 1, F, 20, F.len, S, 100, S.len\n THC 1, T, 20, T.len, R, 300, R.len");
  PutBytes("S", 100, "\x7f");
  PutBytes("R", 300, "FF");
  std::memset(Bytes("T") + 1, 'z', 20);
  Run();
  ASSERT_EQ(Code(), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(Bytes("F")) + 1, 20), "7F" + std::string(18, '0'));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(Bytes("T")) + 1, 20),
            "\xff" + std::string(19, '\0'));
}

// TRM with a one-byte trim character and with a case-blind collation, and
// REPLACE through the collation.
TEST_F(StringFunctions, TrimAndReplaceThroughACollation) {
  std::array<uint8_t, 256> table;
  for (int i = 0; i < 256; ++i)
    table[static_cast<size_t>(i)] = kUpperCaseTable[static_cast<size_t>(i)];
  int32_t status = 0;
  XLInstallTable(base_, &status, XL_INSTALL, 900, ConstByteSpan(table.data(), table.size()));
  ASSERT_EQ(status, 0);
  Load(std::string(kStringFields) +
       "field C char 1 = 'x'\ncode\n BEG\n TRM 3, 900, 0, C, S, 100, S.len\n"
       " RPL 900, 0, R, 300, R.len, S, 100, S.len, F, 20, F.len, T, 20, T.len\n END 1\n");
  PutBytes("S", 100, "XxaBcbxX");
  PutBytes("F", 20, "b");
  PutBytes("T", 20, "-");
  Run();
  ASSERT_EQ(Code(), 1);
  EXPECT_EQ(GetBytes("S", 100), "aBcb");
  EXPECT_EQ(GetBytes("R", 300), "a-c-");
  XLInstallTable(base_, &status, XL_REMOVE, 900, ConstByteSpan());
}

TEST_F(StringFunctions, ComplementAndCaseOfAField) {
  LoadBody("TRL 2, S, 7\n TRL 1, F, 3\n TRL 9, F, 3");
  PutBytes("S", 100, "ab\xe9z");
  PutBytes("F", 20, "abc");
  Run();
  EXPECT_EQ(Code(), -19020);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(Bytes("S")), 7), std::string("\0AB\xc9Z  ", 7));
  // The indicator byte is part of the field TRL names.
  EXPECT_EQ(std::string(reinterpret_cast<char*>(Bytes("F")), 3), "\xff\x9e\x9d");
}

struct WideCase {
  const char* name;
  const char* body;
  std::optional<std::u32string> s, f;
  std::optional<int32_t> a;
  int32_t code;
  std::optional<std::u32string> r;  // WR, or WS for the in-place ones
  bool in_place;
};

const WideCase kWideCases[] = {
    {"USU", "USU WR, 300, WRL, WS, 100, WSL, A, 10, B, 10", U"aΣ中😀b", U"", 2, 1, U"Σ中", false},
    {"USU of an invalid character", "USU WR, 300, WRL, WS, 100, WSL, A, 10, B, 10",
     std::u32string{U'a', char32_t(0x110000)}, U"", 1, -10210, std::nullopt, false},
    {"REU", "REU WR, 300, WRL, WS, 100, WSL, A, 10", U"Σb", U"", 3, 1, U"ΣbΣbΣb", false},
    {"REU past the result", "REU WF, 20, WFL, WS, 100, WSL, A, 10", U"Σb", U"", 11, -10311,
     std::nullopt, false},
    {"RPU", "RPU 0, 0, WR, 300, WRL, WS, 100, WSL, WF, 20, WFL, WT, 20, WTL", U"Σ中Σ", U"Σ", 0, 1,
     U"x中x", false},
    {"RPU with a collation", "RPU 3, 0, WR, 300, WRL, WS, 100, WSL, WF, 20, WFL, WT, 20, WTL",
     U"abc", U"b", 0, -19114, std::nullopt, false},
    {"TAU", "TAU WR, 300, WRL, WS, 100, WSL, A, 10", U"ab中😀", U"", 2, 1, U"中😀", false},
    {"TVU both", "TVU 3, 0, 0, WF, 20, WFL, WS, 100, WSL", U"ΣΣaΣbΣ", U"Σ", 0, 1, U"aΣb", true},
    {"TVU leading", "TVU 1, 0, 0, WF, 20, WFL, WS, 100, WSL", U"ΣΣab", U"Σ", 0, 1, U"ab", true},
    {"TVU with a collation", "TVU 1, 5, 0, WF, 20, WFL, WS, 100, WSL", U"ΣΣab", U"Σ", 0, -19114,
     std::nullopt, true},
    {"TLU upper", "TLU 4, WS, 100, WSL", U"straße σ", U"", 0, 1, U"STRASSE Σ", true},
    {"TLU lower", "TLU 5, WS, 100, WSL", U"ÀΣД", U"", 0, 1, U"àσд", true},
    {"TLU mode 3", "TLU 3, WS, 100, WSL", U"a", U"", 0, -19020, std::nullopt, true},
    // Upper case longer than the field: characters of the value would be
    // lost, only a trailing blank may go.
    {"TLU past the field", "TLU 4, WS, 100, WSL", U"ß" + std::u32string(98, U'a') + U"ß", U"", 0,
     -10305, std::nullopt, true},
    {"TLU up to the field", "TLU 4, WS, 100, WSL", U"ß" + std::u32string(98, U'a') + U" ", U"", 0,
     1, U"SS" + std::u32string(98, U'A'), true},
};

class WideFunctions : public StringFunctions, public ::testing::WithParamInterface<WideCase> {};

TEST_P(WideFunctions, Cases) {
  const WideCase& c = GetParam();
  LoadBody(c.body);
  PutWide("WS", "WSL", 100, c.s);
  PutWide("WF", "WFL", 20, c.f);
  PutWide("WT", "WTL", 20, U"x");
  PutNumber("A", c.a);
  PutNumber("B", 2);
  Run();
  ASSERT_EQ(Code(), c.code) << c.name;
  if (c.code != 1) return;
  EXPECT_EQ(c.in_place ? GetWide("WS", "WSL", 100) : GetWide("WR", "WRL", 300), c.r) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Edges, WideFunctions, ::testing::ValuesIn(kWideCases));

// A fixed field trimmed of leading blanks is blank padded behind what it
// keeps, not left with the moved characters a second time.
TEST_F(StringFunctions, WideTrimOfAFixedFieldPadsWithBlanks) {
  LoadBody("TVU 1, 0, 0, WF, 20, WFL, WS, 4, -1");
  PutWide("WS", "WSL", 4, U"  ab");
  PutWide("WF", "WFL", 20, U" ");
  Run();
  ASSERT_EQ(Code(), 1);
  const uint8_t want[13] = {0, 0, 0, 'a', 0, 0, 'b', 0, 0, ' ', 0, 0, ' '};
  EXPECT_EQ(std::memcmp(Bytes("WS"), want, sizeof want), 0);
}

TEST_F(StringFunctions, PositionAndLength) {
  struct Case {
    const char* body;
    std::optional<std::u32string> s, f;
    std::optional<int32_t> p;
  };
  const Case cases[] = {
      {"POU P, 10, WF, 20, WFL, WS, 100, WSL", U"ab中😀中", U"中", 3},
      {"POU P, 10, WF, 20, WFL, WS, 100, WSL", U"ab中", U"", 1},
      {"POU P, 10, WF, 20, WFL, WS, 100, WSL", U"ab中", U"x", 0},
      {"POU P, 10, WF, 20, WFL, WS, 100, WSL", U"ab中", std::nullopt, std::nullopt},
      {"UNL P, 10, WS, 100, WSL", U"ab中", U"", 3},
      {"UNL P, 10, WS, 100, -1", U"ab中", U"", 100},
      {"UNL P, 10, WS, 100, WSL", std::nullopt, U"", std::nullopt},
  };
  for (const Case& c : cases) {
    LoadBody(c.body);
    PutWide("WS", "WSL", 100, c.s);
    PutWide("WF", "WFL", 20, c.f);
    Run();
    ASSERT_EQ(Code(), 1) << c.body;
    EXPECT_EQ(GetNumber("P"), c.p) << c.body;
  }
}

// Length fields that lie about their value, and operands outside the storage.
TEST_F(StringFunctions, BadLengthsAndOperands) {
  struct Case {
    const char* body;
    int32_t s_length;
    int32_t code;
  };
  const Case cases[] = {
      {"REP R, 300, R.len, S, 100, S.len, A, 10", -3, -10312},
      {"RPL 0, 0, R, 300, R.len, S, 100, S.len, F, 20, F.len, T, 20, T.len", -3, -10312},
      {"REP R, 300, R.len, S, 100, S.len, A, 10", 101, -19065},
      {"SUS R, 300, R.len, S, 100, S.len, A, 10, -1, 0", 101, -19065},
      {"TAL R, 300, R.len, S, 100, S.len, A, 10", 101, -19065},
      {"TCH 0, R, 300, R.len, S, 100, S.len", 101, -19065},
      {"SUS R, 300, R.len, S, 100000, S.len, A, 10, -1, 0", 1, kErrBadOperand},
      {"RPL 0, 0, R, 300000, R.len, S, 100, S.len, F, 20, F.len, T, 20, T.len", 1, kErrBadOperand},
      {"TRM 1, 0, 0, 1000000, S, 100, S.len", 1, kErrBadOperand},
  };
  for (const Case& c : cases) {
    LoadBody(c.body);
    PutBytes("S", 100, "abc");
    PutBytes("F", 20, "b");
    PutBytes("T", 20, "c");
    PutNumber("A", 2);
    PutLength("S.len", 100, c.s_length);
    Run();
    EXPECT_EQ(Code(), c.code) << c.body;
  }
}

}  // namespace

namespace {

// Length fields written from the table of stored forms hold what the packed
// decimal encoder writes, at each precision's edges and past the table.
TEST_F(StringFunctions, LengthFormsMatchTheEncoder) {
  LoadBody("JMP 2");
  interp::Run run;
  run.storage = storage_.data();
  run.storage_words = static_cast<int32_t>(storage_.size());
  const int32_t field = Off("WSL");
  for (const int32_t maximum : {9, 99, 999, 9999, 99999, 999999})
    for (const int32_t length : {0, 1, 7, 9, 10, 99, 100, 999, 1000, 32767, 32768, 99999}) {
      if (length > maximum) continue;
      ASSERT_EQ(WriteLength(run, field, maximum, length), 0);
      uint8_t want[8] = {};
      const int32_t p = LengthPrecision(maximum);
      int_to_decimal(ByteSpan(want, sizeof want), value_descriptor{0, p}, length);
      EXPECT_EQ(std::memcmp(Bytes("WSL"), want, static_cast<size_t>(decimal_bytes(p))), 0)
          << maximum << " " << length;
      int32_t back = -1;
      EXPECT_EQ(ReadLength(run, field, maximum, &back), 0);
      EXPECT_EQ(back, length);
    }
}

}  // namespace
