// Key-range compares and the skip instruction: the outcome codes they
// record, the competition of hints, the search key SKP builds, RP2's key
// items, and an index scan over record access (the databank kernel model)
// whose rows for random ranges are SQLite's.
#include <sqlite3.h>

#include <random>
#include <set>

#include "interp/tests/interp_fixture.h"
#include "platform/bytes.h"
#include "platform/packed_decimal.h"

using namespace interp;

namespace {

// A one-byte key K and bound B (CHAR(1)), a second column K2 behind K in
// the record block T, and the hint descriptor H0..H9.
constexpr const char* kFields = R"(
field T table 7 key 4 reclen 8
field K alias T 116 2
field K2 alias T 118 2
field B char 1
field B2 char 1
field H0 word
field H1 word
field H2 word
field H3 word
field H4 word
field H5 word
field H6 word
field H7 word
field H8 word
field H9 word
)";

class KeyRanges : public InterpTest {
 protected:
  // Runs `code` over key `key` and bound `bound` (one character each, '-'
  // for null; the key as stored, complemented for a negative operator); true when the instruction
  // branched (to `yes`).
  bool Compare(const std::string& code, char key, char bound) {
    Load(std::string(kFields) + "code\n BEG\n " + code + "\n END 1\nyes: END 2\n");
    Put("K", key);
    // A descending key is stored complemented, its indicator byte too.
    if (code.find(" -") != std::string::npos && key != '-') Bytes("K")[0] = 255;
    Put("B", bound);
    Run();
    EXPECT_TRUE(rvec_[0] == 1 || rvec_[0] == 2) << code << ": " << rvec_[0];
    return rvec_[0] == 2;
  }
  void Put(const std::string& field, char c) {
    Bytes(field)[0] = c == '-' ? 255 : 0;
    Bytes(field)[1] = c == '-' ? 255 : static_cast<uint8_t>(c);
  }
  int32_t H(int k) { return storage_[Off("H0") / 4 + k]; }
};

TEST_F(KeyRanges, OutcomeCodesOfTheTables) {
  const struct {
    const char* code;
    char key, bound;
    bool branched;
    int32_t hint;
  } cases[] = {
      // Equality with bound 5: key 3 repositions to 5, key 7 and a null key stop.
      {"SCF 1, K, 1, B, 1, yes, H0", '3', '5', true, 6},
      {"SCF 1, K, 1, B, 1, yes, H0", '7', '5', true, 12},
      {"SCF 1, K, 1, B, 1, yes, H0", '-', '5', true, 12},
      {"SCF 1, K, 1, B, 1, yes, H0", '5', '5', false, 0},
      {"SCT 1, K, 1, B, 1, yes, H0", '5', '5', true, 0},
      {"SCT 1, K, 1, B, 1, yes, H0", '3', '5', false, 6},
      // Greater than 5 with key 5 skips the row; key 3 repositions past 5.
      {"SCF 4, K, 1, B, 1, yes, H0", '5', '5', true, 1},
      {"SCF 4, K, 1, B, 1, yes, H0", '3', '5', true, 16},
      {"SCF 5, K, 1, B, 1, yes, H0", '7', '5', true, 2},
      {"SCF 2, K, 1, B, 1, yes, H0", '-', '5', true, 1},
      // A null bound.
      {"SCF 1, K, 1, B, 1, yes, H0", '3', '-', true, 11},
      {"SCF 4, K, 1, B, 1, yes, H0", '-', '-', true, 11},
      // Descending keys (stored complemented): key 3 of equality stops.
      {"SCF -1, K, 1, B, 1, yes, H0", static_cast<char>(~'3'), '5', true, 12},
      {"SCF -1, K, 1, B, 1, yes, H0", static_cast<char>(~'7'), '5', true, 6},
      {"SCF -5, K, 1, B, 1, yes, H0", static_cast<char>(~'5'), '5', true, 16},
      // The byte form has no null case and compares indicator and data.
      {"SBF 1, K, B, 2, yes, H0", '3', '5', true, 6},
      {"SBT 2, K, B, 2, yes, H0", '7', '5', true, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Compare(c.code, c.key, c.bound), c.branched) << c.code << " " << c.key;
    EXPECT_EQ(H(0), c.hint) << c.code << " " << c.key << " " << c.bound;
  }
  // The key is complemented back after a descending compare.
  Compare("SCF -1, K, 1, B, 1, yes, H0", static_cast<char>(~'3'), '5');
  EXPECT_EQ(Bytes("K")[1], static_cast<uint8_t>(~'3'));
}

TEST_F(KeyRanges, HintCompetition) {
  // Each line runs in one program, one hint descriptor: the code left.
  const struct {
    const char* body;
    int32_t code;
  } cases[] = {
      // A skip hint replaces a reposition hint on the same column...
      {"SCF 2, K, 1, B, 1, a, H0\na: SCF 4, K, 1, B2, 1, b, H0\nb: END 1", 1},
      // ...and a reposition hint does not replace a skip hint.
      {"SCF 4, K, 1, B2, 1, a, H0\na: SCF 2, K, 1, B, 1, b, H0\nb: END 1", 1},
      // Two reposition hints on one column (direction 0) keep the smaller bound.
      {"SCF 2, K, 1, B, 1, a, H0\na: SCF 2, K, 1, B2, 1, b, H0\nb: END 1", 6},
      // A null bound is replaced by a later hint on another column.
      {"SCF 1, K, 1, NUL, 1, a, H0\na: SCF 2, K2, 1, B, 1, b, H0\nb: END 1", 6},
      // A later column's null bound does not replace a recorded hint.
      {"SCF 2, K, 1, B, 1, a, H0\na: SCF 1, K2, 1, NUL, 1, b, H0\nb: END 1", 6},
  };
  for (const auto& c : cases) {
    Load(std::string(kFields) + "field NUL char 1 = null\ncode\n BEG\n " + c.body + "\n");
    Put("K", '1');
    Put("K2", '1');
    Put("B", '3');   // key 1 below bound 3: reposition
    Put("B2", '1');  // key 1 not above 1: skip for GT
    Run();
    EXPECT_EQ(rvec_[0], 1) << c.body;
    EXPECT_EQ(H(0), c.code) << c.body;
  }
  // The smaller of two bounds wins whichever comes first.
  Load(std::string(kFields) +
       "code\n BEG\n SCF 2, K, 1, B2, 1, a, H0\na: SCF 2, K, 1, B, 1, b, H0\nb: END 1\n");
  Put("K", '0');
  Put("B", '3');
  Put("B2", '2');
  Run();
  EXPECT_EQ(H(0), 6);
  EXPECT_EQ(H(5), Off("B2"));
}

TEST_F(KeyRanges, SkipBuildsTheSearchKey) {
  const struct {
    const char* compare;
    char key, bound;
    uint8_t pad;
    int32_t mode;
  } cases[] = {
      {"SCF 4, K, 1, B, 1, s, H0", '3', '5', 255, -2},  // 16: past the bound
      {"SCF 2, K, 1, B, 1, s, H0", '3', '5', 0, 1},     // 6: at the bound
  };
  for (const auto& c : cases) {
    Load(std::string(kFields) + "code\n BEG\n " + c.compare + "\n END 1\ns: SKP T, H0\n END 2\n");
    Put("K", c.key);
    Put("K2", 'z');
    Put("B", c.bound);
    Run();
    EXPECT_EQ(rvec_[0], 2);
    EXPECT_EQ(Bytes("K")[1], static_cast<uint8_t>(c.bound)) << c.compare;
    for (int k = 0; k < 6; ++k) EXPECT_EQ(Bytes("K2")[k], c.pad) << c.compare << " byte " << k;
    EXPECT_EQ(storage_[Off("T") / 4 + kRecStatus], c.mode) << c.compare;
    EXPECT_EQ(H(0), 0);
  }
  // A stop hint pads from the column on; nothing is written outside the row.
  Load(std::string(kFields) +
       "code\n BEG\n SCF 3, K, 1, B, 1, s, H0\n END 1\ns: SKP T, H0\n END 2\n");
  Put("K", '7');
  Put("B", '5');
  Run();
  EXPECT_EQ(Bytes("K")[0], 255);
  EXPECT_EQ(storage_[Off("T") / 4 + kRecStatus], -2);
  EXPECT_NE(Bytes("B")[0], 255);
}

// SBF writes the operator word too, so SKP complements the bound it moves
// into a descending key by this hint's operator, not by what an earlier
// hint left there.
TEST_F(KeyRanges, ByteFormWritesTheOperatorSkipComplementsBy) {
  Load(std::string(kFields) +
       "code\n BEG\n SBF -3, K, B, 2, s, H0\n END 1\ns: SKP T, H0\n END 2\n");
  Put("K", static_cast<char>(~'7'));
  Bytes("K")[0] = 255;  // the complemented indicator of a present value
  Put("B", '5');
  storage_[Off("H0") / 4 + 9] = 1;  // a former ascending hint's operator
  Run();
  ASSERT_EQ(rvec_[0], 2);
  EXPECT_EQ(H(9), -3);
  // Descending LE 5 with key 7: reposition to 5, stored complemented.
  EXPECT_EQ(Bytes("K")[0], 255);
  EXPECT_EQ(Bytes("K")[1], static_cast<uint8_t>(~'5'));
  EXPECT_EQ(storage_[Off("T") / 4 + kRecStatus], 1);
}

TEST_F(KeyRanges, PatternBranchWithANullValueNeverBranches) {
  Load(std::string(kFields) +
       "field V char 3 = null\nfield PW word = -1\ncode\n BEG\n SMT 1, V, 3, PW, yes, 0\n END "
       "1\nyes: "
       "END 2\n");
  Run();
  EXPECT_EQ(rvec_[0], 1);
  Load(std::string(kFields) +
       "field V char 3 = null\nfield PW word = -1\ncode\n BEG\n SMF 1, V, 3, PW, yes, 0\n END "
       "1\nyes: "
       "END 2\n");
  Run();
  EXPECT_EQ(rvec_[0], 2);
  Load(std::string(kFields) +
       "field V char 3 = 'abc'\nfield PW word = 0\ncode\n BEG\n SMT 1, V, 3, PW, yes, 0\n END "
       "1\nyes: "
       "END 2\n");
  Run();
  EXPECT_EQ(rvec_[0], kErrNoPattern);
}

// RP2 with two key items: a character item 'b' and a decimal item whose
// value lies at the base word of storage word 13.
TEST_F(KeyRanges, KeyItemsBuildTheKeyAndStayInsideTheInstruction) {
  const std::string fields = std::string(kFields) + "field V char 1 = 'b'\n";
  // Item at word 8: type 60, kind 1, key K, value V (relative to base 1), limits, length 1,
  // next 0 (the list's end: 8 + -8 = 0), flag -1.
  Load(fields + "code\n BEG\n RP2 8, T, 0, 0, 4, 0, 17, 60, 1, K, V, 0, 0, 1, -8, -1\n END 1\n");
  storage_[kStateLevel2Index] = 1;
  Run();
  EXPECT_EQ(rvec_[0], 1);
  EXPECT_EQ(Bytes("K")[1], 'b');
  EXPECT_EQ(Bytes("K2")[0], 0);  // the rest of the key area: kind 1 pads 0
  EXPECT_EQ(storage_[Off("T") / 4 + kRecStatus], 1);
  // A next-offset leading out of the instruction's words is refused.
  Load(fields + "code\n BEG\n RP2 8, T, 0, 0, 4, 0, 17, 60, 1, K, V, 0, 0, 1, 5, -1\n END 1\n");
  storage_[kStateLevel2Index] = 1;
  Run();
  EXPECT_EQ(rvec_[0], kErrBadOperand);
  // A key area outside the record block's storage.
  Load(fields + "code\n BEG\n RP2 8, T, 0, 0, 4000, 0, 17, 60, 1, K, V, 0, 0, 1, -8, -1\n END 1\n");
  storage_[kStateLevel2Index] = 1;
  Run();
  EXPECT_EQ(rvec_[0], kErrBadOperand);
}

// The decimal, 3-byte character and varying forms shift a reposition hint by
// their key part's kind, record the column's stored bytes, and SKP builds
// the key of each kind.
TEST_F(KeyRanges, KeyPartKindsAndTheirSearchKeys) {
  // Decimal: key D (DECIMAL(5), 4 bytes) 3 below bound 5 for GE: code 8.
  Load(R"(
field T table 7 key 12 reclen 12
field D alias T 116 4
field Z alias T 120 2
field BD decimal 5
field H0 word
field H1 word
field H2 word
field H3 word
field H4 word
field H5 word
field H6 word
field H7 word
field H8 word
field H9 word
code
 BEG
 SNF 2, D, 5, BD, 5, s, H0
 END 1
s: SKP T, H0
 END 2
)");
  const ByteSpan area(reinterpret_cast<uint8_t*>(storage_.data()), storage_.size() * 4);
  int_to_decimal(area, value_descriptor{Off("D"), 5}, 3);
  int_to_decimal(area, value_descriptor{Off("BD"), 5}, 5);
  Bytes("Z")[0] = 'q';
  Run();
  ASSERT_EQ(rvec_[0], 2);
  int32_t d = 0;
  EXPECT_EQ(decimal_to_int(&d, area, value_descriptor{Off("D"), 5}), 0);
  EXPECT_EQ(d, 5);
  EXPECT_EQ(Bytes("Z")[0], 0) << "padded from the end of the decimal's 4 bytes";
  EXPECT_EQ(storage_[Off("T") / 4 + kRecStatus], 1);
  EXPECT_EQ(H(8), 4);

  // Varying: key V (VARCHAR(4), length field behind it) "ab" below bound "b"
  // for GE: code 9; SKP moves the bound in, zero padded, with its length.
  Load(R"(
field T table 7 key 12 reclen 12
field V alias T 116 5
field VL alias T 121 2
field Z alias T 123 2
field B varchar 4 = 'b'
field H0 word
field H1 word
field H2 word
field H3 word
field H4 word
field H5 word
field H6 word
field H7 word
field H8 word
field H9 word
code
 BEG
 SPF 2, V, 4, VL, B, 4, B.len, s, H0
 END 1
s: SKP T, H0
 END 2
)");
  std::memcpy(Bytes("V"), "\0ab  ", 5);
  const ByteSpan varea(reinterpret_cast<uint8_t*>(storage_.data()), storage_.size() * 4);
  int_to_decimal(varea, value_descriptor{Off("VL"), 1}, 2);
  Bytes("Z")[0] = 'q';
  Run();
  ASSERT_EQ(rvec_[0], 2);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(Bytes("V")) + 1, 4), std::string("b\0\0\0", 4));
  int32_t length = 0;
  EXPECT_EQ(decimal_to_int(&length, varea, value_descriptor{Off("VL"), 1}), 0);
  EXPECT_EQ(length, 1);
  EXPECT_EQ(Bytes("Z")[0], 0) << "padded behind the length field";
  EXPECT_EQ(storage_[Off("T") / 4 + kRecStatus], 1);
}

TEST_F(KeyRanges, WideKeyPartRecordsItsKindAndStoredBytes) {
  // Key U (one 3-byte character) 'a' below bound 'b' for GE: code 6 + 1.
  Load(std::string(kFields) +
       "field U alias T 116 4\nfield BU bytes 4\ncode\n BEG\n SUF 2, U, 1, BU, 1, s, H0\n END 1\n"
       "s: SKP T, H0\n END 2\n");
  const uint8_t key[4] = {0, 0, 0, 'a'}, bound[4] = {0, 0, 0, 'b'};
  std::memcpy(Bytes("U"), key, 4);
  std::memcpy(Bytes("BU"), bound, 4);
  Bytes("K2")[2] = 'q';
  Run();
  ASSERT_EQ(rvec_[0], 2);
  EXPECT_EQ(std::memcmp(Bytes("U"), bound, 4), 0);
  EXPECT_EQ(Bytes("K2")[2], 0) << "padded from behind the 4 stored bytes";
  EXPECT_EQ(storage_[Off("T") / 4 + kRecStatus], 1);
}

TEST_F(KeyRanges, BadOperandsFail) {
  for (const char* code : {"SCF 7, K, 1, B, 1, yes, H0", "SCF 1, K, 1, B, 100000, yes, H0",
                           "SCF 1, K, 1, B, 1, yes, 100000", "SKP T, 100000", "SKP 100000, H0",
                           "SNF 1, K, 46, B, 1, yes, H0"}) {
    Load(std::string(kFields) + "code\n BEG\n " + code + "\n END 1\nyes: END 2\n");
    Put("K", '1');
    Put("B", '2');
    Run();
    EXPECT_TRUE(rvec_[0] == kErrBadOperand || rvec_[0] == kErrConvert) << code << " " << rvec_[0];
  }
}

}  // namespace
