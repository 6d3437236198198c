// The numeric function instructions: the rounding, float and counter steps'
// edge cases, and random cases of ROUND, TRUNC, CEILING, FLOOR, ABS, SIGN, MOD
// and the float functions against the results Python's decimal and math
// modules give (data/numeric_reference.txt, written by
// scripts/numeric_reference.py).
#include <cmath>
#include <fstream>
#include <sstream>

#include "interp/tests/interp_fixture.h"
#include "platform/decimal_text.h"
#include "platform/packed_decimal.h"

using namespace interp;

namespace {

class NumericFunctions : public InterpTest {
 protected:
  // Writes the number text into the decimal field of that precision.
  void Put(const std::string& field, int32_t precision, const std::string& text) {
    ByteSpan area(reinterpret_cast<uint8_t*>(storage_.data()), storage_.size() * 4);
    const value_descriptor d{Off(field), precision};
    ASSERT_GE(
        text_to_decimal(area, d,
                        ConstByteSpan(reinterpret_cast<const uint8_t*>(text.data()), text.size()),
                        0, static_cast<int32_t>(text.size())),
        -1)
        << text;
  }
  // "null", or the value as exponent text.
  std::string Get(const std::string& field, int32_t precision) {
    ConstByteSpan area(reinterpret_cast<const uint8_t*>(storage_.data()), storage_.size() * 4);
    const value_descriptor d{Off(field), precision};
    if (decimal_sign(area, d) == kTruthUnknown) return "null";
    uint8_t text[64];
    decimal_to_text(ByteSpan(text, sizeof text), 0, precision + 8, kDecimalTextExponent, area, d);
    std::string s(reinterpret_cast<char*>(text), static_cast<size_t>(precision + 8));
    return s.substr(s.find_first_not_of(' '));
  }
  // True when the field holds the value of the text.
  bool Holds(const std::string& field, int32_t precision, const std::string& text) {
    uint8_t want[kDecimalMaxBytes];
    const value_descriptor w{0, kDecimalMaxPrecision};
    text_to_decimal(ByteSpan(want, sizeof want), w,
                    ConstByteSpan(reinterpret_cast<const uint8_t*>(text.data()), text.size()), 0,
                    static_cast<int32_t>(text.size()));
    ConstByteSpan area(reinterpret_cast<const uint8_t*>(storage_.data()), storage_.size() * 4);
    return decimal_compare(area, value_descriptor{Off(field), precision},
                           ConstByteSpan(want, sizeof want), w) == kTruthEqual;
  }
  double Double(const std::string& field, int32_t precision) {
    double x = 0;
    ConstByteSpan area(reinterpret_cast<const uint8_t*>(storage_.data()), storage_.size() * 4);
    decimal_to_double(&x, area, value_descriptor{Off(field), precision});
    return x;
  }
};

struct EdgeCase {
  const char* name;
  const char* a;  // A decimal 20 ("null" for a null)
  const char* b;  // B decimal 20
  const char* body;
  int32_t code;
  const char* field;  // the field read back
  const char* want;   // its value, "null", or "" when not read
};

const EdgeCase kEdges[] = {
    {"TRN losing digits succeeds", "12345.678", "0", "TRN A, 20, 5, 0", 1, "A", "12345"},
    {"TRN to fraction digits", "-3.14159", "0", "TRN A, 20, 6, 2", 1, "A", "-3.14"},
    {"TRN beyond the integer digits", "12345.678", "0", "TRN A, 20, 4, 0", -10312, "A", ""},
    {"TRN target precision out of range", "1", "0", "TRN A, 20, 46, 0", -10312, "A", "1"},
    {"TRN fraction above the precision", "1", "0", "TRN A, 20, 5, 6", -10312, "A", "1"},
    {"TRU rounds to fraction digits", "2.345", "2", "TRU 3, A, 20, 0, B, 20", 1, "A", "2.35"},
    {"TRU truncates to fraction digits", "-2.345", "2", "TRU 4, A, 20, 0, B, 20", 1, "A", "-2.34"},
    {"TRU rounds to significant digits", "98765", "2", "TRU 1, A, 20, 0, B, 20", 1, "A", "99000"},
    {"TRU to tens", "1234", "-1", "TRU 4, A, 20, 0, B, 20", 1, "A", "1230"},
    {"TRU with null places gives null", "2.345", "null", "TRU 3, A, 20, 0, B, 20", 1, "A", "null"},
    {"TRU with places beyond 32 bits", "2.345", "1E12", "TRU 3, A, 20, 0, B, 20", -10302, "A", ""},
    {"TRU unknown mode", "2.345", "1", "TRU 5, A, 20, 0, B, 20", -10305, "A", ""},
    {"TRG square root", "2.25", "0", "TRG 11, R, 15, A, 20", 1, "R", "1.5"},
    {"TRG square root of a negative", "-1", "0", "TRG 11, R, 15, A, 20", -10306, "R", ""},
    {"TRG cotangent of a zero tangent", "0", "0", "TRG 5, R, 15, A, 20", -10306, "R", ""},
    {"TRG of null is null", "null", "0", "TRG 10, R, 15, A, 20", 1, "R", "null"},
    {"TRG unknown code", "1", "0", "TRG 33, R, 15, A, 20", -10305, "R", ""},
    {"TRG overflow", "1000", "0", "TRG 13, R, 15, A, 20", -10302, "R", ""},
    {"TRT power", "2", "10", "TRT 32, R, 15, A, 20, B, 20", 1, "R", "1024"},
    {"TRT with a null second argument", "2", "null", "TRT 32, R, 15, A, 20, B, 20", 1, "R", "null"},
    {"SIV", "41", "0", "SIV A, 20", 1, "A", "42"},
    {"SDV", "0", "0", "SDV A, 20", 1, "A", "-1"},
    {"SIV keeps null", "null", "0", "SIV A, 20", 1, "A", "null"},
    {"SIV reports a cut digit", "0.5", "0", "SIV S, 1", -10301, "", ""},
    {"SZV", "17", "0", "SZV A, 20", 1, "A", "0"},
    {"SRS", "17.5", "0", "SRS A, 20", 1, "A", "-17.5"},
    {"SRS of a negative", "-0.25", "0", "SRS A, 20", 1, "A", "0.25"},
    {"SRS of null", "null", "0", "SRS A, 20", 1, "A", "null"},
    // The subtraction's status counts: a precision no value has fails.
    {"SRS of a bad precision", "1", "0", "SRS A, 46", -10305, "", ""},
    {"SRS outside the storage", "1", "0", "SRS 100000, 20", -10305, "", ""},
};

TEST_F(NumericFunctions, EdgeCases) {
  for (const EdgeCase& c : kEdges) {
    SCOPED_TRACE(c.name);
    Load(std::string("field A decimal 20\nfield B decimal 20\nfield R decimal 15\n"
                     "field S decimal 1\ncode\n BEG\n ") +
         c.body + "\n END 1\n");
    Put("A", 20, c.a);
    Put("B", 20, c.b);
    Put("S", 1, "0.5");
    Run();
    ASSERT_EQ(rvec_[kStateReturnCode], c.code);
    if (*c.want == 0) continue;
    const int32_t precision = std::string(c.field) == "R" ? 15 : 20;
    if (std::string(c.want) == "null")
      EXPECT_EQ(Get(c.field, precision), "null");
    else
      EXPECT_TRUE(Holds(c.field, precision, c.want)) << Get(c.field, precision);
  }
}

// The program of one reference case: the operand A (and B) set, the result
// in A (decimal functions) or R (float functions).
std::string ReferenceProgram(const std::string& op, int32_t p) {
  const std::string ps = std::to_string(p);
  std::string body;
  if (op.rfind("TRU", 0) == 0)
    body = "TRU " + op.substr(3) + ", A, " + ps + ", 0, B, 9";
  else if (op == "CEIL" || op == "FLOOR" || op == "ABS" || op == "SIGN")
    body = std::string("NFC ") +
           (op == "CEIL"    ? "21"
            : op == "FLOOR" ? "22"
            : op == "ABS"   ? "23"
                            : "24") +
           ", A, " + ps;
  else if (op == "MOD")
    body = "MOD A, " + ps + ", B, " + ps;
  else if (op.rfind("TRG", 0) == 0)
    body = "TRG " + op.substr(3) + ", R, 15, A, 20";
  else
    body = "TRT " + op.substr(3) + ", R, 15, A, 20, B, 20";
  return "field A decimal 45\nfield B decimal 45\nfield R decimal 15\ncode\n BEG\n " + body +
         "\n END 1\n";
}

TEST_F(NumericFunctions, AgreeWithPythonDecimalAndMath) {
  std::ifstream in(HARBOUND_TEST_DATA "/numeric_reference.txt");
  ASSERT_TRUE(in) << "numeric_reference.txt missing";
  std::string line;
  int cases = 0;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string op, a, b, want;
    int32_t p = 0;
    fields >> op >> p >> a >> b >> want;
    SCOPED_TRACE(line);
    Load(ReferenceProgram(op, p));
    const bool floating = op[0] == 'T' && op[1] == 'R' && (op[2] == 'G' || op[2] == 'T');
    Put("A", floating ? 20 : p, a);
    if (b != "-") Put("B", floating ? 20 : op == "MOD" ? p : 9, b);
    Run();
    ++cases;
    if (want[0] == 'E') {
      EXPECT_EQ(rvec_[kStateReturnCode], std::stoi(want.substr(1)));
      continue;
    }
    ASSERT_EQ(rvec_[kStateReturnCode], 1);
    if (!floating) {
      EXPECT_TRUE(Holds("A", p, want)) << Get("A", p);
      continue;
    }
    // Fifteen significant digits: the result decimal's precision.
    const double expected = std::stod(want), got = Double("R", 15);
    EXPECT_LE(std::fabs(got - expected), 6e-15 * std::fabs(expected)) << Get("R", 15);
  }
  EXPECT_GT(cases, 600);
}

}  // namespace
