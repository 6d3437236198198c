// Datetime instructions: each case reads its values from text (TDC), works
// on them and writes the result back as text (TCD) or as a whole number
// (CNI), under a simulated session clock.
#include "interp/tests/interp_fixture.h"

using namespace interp;

namespace {

// Qualifiers: 1 DATE, 2 TIME, 3 TIMESTAMP, 5 MONTH, 6 DAY, 8 MINUTE,
// 13 DAY TO SECOND. D and E hold DATE, TIME or TIMESTAMP(2) values
// (precision 16), I an interval of 12 digits.
constexpr const char* kFields = R"(field A char 30 = '2024-02-28'
field B char 30 = '2024-03-01 00:00:00.00'
field C char 30 = '1'
field X varchar 30 = null
field T char 40
field J char 30 = '2024-01-31'
field F decimal 16
field D decimal 16
field E decimal 16
field I decimal 12
field N decimal 10
field DT char 27
field OUT word = -7
)";

struct DatetimeCase {
  const char* name;
  const char* body;
  int32_t code;      // return code (END 1: 1)
  const char* text;  // T's data afterwards, blank trimmed (nullptr: not read)
  int32_t out;       // OUT afterwards
};

const DatetimeCase kCases[] = {
    {"DATE plus a day into the leap day",
     "TDC 1, D, 8, 0, A, 30, -1\n TDC 6, I, 12, 0, C, 30, -1\n DTA 2, D, 8, I, 12\n"
     " TCD 1, T, 30, -1, 0, D, 8",
     1, "2024-02-29", -7},
    {"DATE minus a month",
     "TDC 1, D, 8, 0, A, 30, -1\n TDC 5, I, 12, 0, C, 30, -1\n DTA 3, D, 8, I, 12\n"
     " TCD 1, T, 30, -1, 0, D, 8",
     1, "2024-01-28", -7},
    {"a month onto the 31st does not exist",
     "TDC 1, D, 8, 0, J, 30, -1\n"
     " TDC 5, I, 12, 0, C, 30, -1\n DTA 1, D, 8, I, 12",
     kDecimalErrorBase - 7, nullptr, -7},
    {"TIMESTAMP difference in seconds",
     "TDC 3, D, 16, 2, B, 30, -1\n TDC 1, E, 8, 0, A, 30, -1\n TDD 3, F, 16, E, 8\n"
     " DTD 5, I, 12, 0, D, 16, F, 16\n CNI OUT, I, 12",
     1, nullptr, 2 * 86400},
    {"DATE difference in months ignores the days",
     "TDC 1, E, 8, 0, A, 30, -1\n TDC 1, D, 8, 0, J, 30, -1\n DTD 1, I, 12, 0, E, 8, D, 8\n"
     " CNI OUT, I, 12",
     1, nullptr, 1},
    {"difference as DAY TO SECOND text",
     "TDC 3, D, 16, 2, B, 30, -1\n TDC 1, E, 8, 0, A, 30, -1\n TDD 3, F, 16, E, 8\n"
     " DTD 5, I, 12, 0, D, 16, F, 16\n TCD 13, T, 30, -1, 0, I, 12",
     1, "2 00:00:00", -7},
    {"day of the week of a Wednesday (Sunday is 1)",
     "TDC 1, D, 8, 0, A, 30, -1\n DTW 3, 1, N, 10, D, 8\n CNI OUT, N, 10", 1, nullptr, 4},
    {"day of the year of a TIMESTAMP",
     "TDC 3, D, 16, 2, B, 30, -1\n DTW 1, 3, N, 10, D, 16\n CNI OUT, N, 10", 1, nullptr, 61},
    {"ISO week", "TDC 1, D, 8, 0, A, 30, -1\n DTW 2, 1, N, 10, D, 8\n CNI OUT, N, 10", 1, nullptr,
     9},
    {"day of a TIME refused", "DTW 3, 2, N, 10, D, 8", kErrBadOperand, nullptr, -7},
    {"EXTRACT month", "TDC 1, D, 8, 0, A, 30, -1\n TND 2, N, 10, 0, 1, D, 8\n CNI OUT, N, 10", 1,
     nullptr, 2},
    {"EXTRACT hour of a DATE refused", "TDC 1, D, 8, 0, A, 30, -1\n TND 4, N, 10, 0, 1, D, 8",
     kDecimalErrorBase - 8, nullptr, -7},
    {"number of minutes to an interval",
     "CIN N, 10, NINETY\n TDN 8, I, 12, 0, N, 10\n"
     " CNI OUT, I, 12",
     1, nullptr, 5400},
    {"number to a two-field interval refused", "CIN N, 10, NINETY\n TDN 13, I, 12, 0, N, 10",
     -10330 - 8, nullptr, -7},
    {"TIMESTAMP to DATE",
     "TDC 3, D, 16, 2, B, 30, -1\n TDD 1, E, 8, D, 16\n"
     " TCD 1, T, 30, -1, 0, E, 8",
     1, "2024-03-01", -7},
    {"TIME to TIMESTAMP takes today",
     "TDC 2, E, 6, 0, TM, 30, -1\n TDD 4, D, 16, E, 6\n"
     " TCD 3, T, 30, -1, 2, D, 16",
     1, "2026-12-10 08:30:00.00", -7},
    {"TIMESTAMP text typed literal", "TDC 3, D, 16, 2, B, 30, -1\n TCD 35, T, 40, -1, 2, D, 16", 1,
     "TIMESTAMP'2024-03-01 00:00:00.00'", -7},
    {"text too short", "TDC 3, D, 16, 2, B, 30, -1\n TCD 3, T, 8, -1, 2, D, 16", -10321, nullptr,
     -7},
    {"text that is no date", "TDC 1, D, 8, 0, C, 30, -1", -10320 - 9, nullptr, -7},
    {"null text gives a null that flows through",
     "TDC 1, D, 8, 0, X, 30, X.len\n DTW 3, 1, N, 10, D, 8\n TVF 1, N, out\n MVB OUT, ONE, 4\n"
     "out: TCD 1, T, 30, -1, 0, D, 8",
     1, nullptr, 1},
    {"interval cast to DAY TO HOUR",
     "TDC 13, I, 12, 0, DS, 30, -1\n DTT I, 12, 8, 0, 11\n CNI OUT, I, 8", 1, nullptr,
     2 * 86400 + 3 * 3600},
    {"CURRENT_TIMESTAMP from the session clock",
     "DTC 3, D, 16, DT, 26\n TCD 3, T, 30, -1, 2, D, 16", 1, "2026-12-10 08:30:59.25", -7},
    {"CURRENT_DATE and CURRENT_TIME share one instant",
     "DTC 1, E, 8, DT, 26\n DTC 2, D, 6, DT, 26\n TCD 2, T, 30, -1, 0, D, 6", 1, "08:30:59", -7},
    {"DTC mode outside 1..3", "DTC 4, D, 16, DT, 26", kErrBadOperand, nullptr, -7},
    {"day number of a DATE", "TDC 1, D, 8, 0, A, 30, -1\n CVI OUT, D", 1, nullptr, 738943},
    {"day number of the first day", "TDC 1, D, 8, 0, FIRST, 30, -1\n CVI OUT, D", 1, nullptr, 0},
    {"day number of a null DATE", "TDC 1, D, 8, 0, X, 30, X.len\n CVI OUT, D", 1, nullptr,
     INT32_MIN},
};

class Datetime : public InterpTest, public ::testing::WithParamInterface<DatetimeCase> {};

TEST_P(Datetime, ComputesFromText) {
  const DatetimeCase& c = GetParam();
  Load(std::string(kFields) +
       "field TM char 30 = '08:30:00'\nfield DS char 30 = '2 03:04:05'\n"
       "field NINETY word = 90\nfield ONE word = 1\nfield FIRST char 30 = '0001-01-01'\n"
       "code\n BEG\n" +
       c.body + "\n END 1\n");
  Wd(base_, usr_, USR_SIMULATION_MODE) = 1;
  std::memcpy(&Wd(base_, usr_, USR_SIMULATION_TIME), "2026121008305925", 16);
  Run();
  EXPECT_EQ(rvec_[kStateReturnCode], c.code) << c.name;
  EXPECT_EQ(WordAt("OUT"), c.out) << c.name;
  if (c.text != nullptr) {
    std::string text(reinterpret_cast<char*>(Bytes("T")) + 1, 40);
    text.erase(text.find_last_not_of(' ') + 1);
    EXPECT_EQ(text, c.text) << c.name;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Datetime, ::testing::ValuesIn(kCases));

// The statement's shared date-time value is taken once: a later DTC of the
// same run reads the same instant even when the clock has moved.
TEST_F(InterpTest, CurrentDatetimeKeepsTheStatementInstant) {
  Load(R"(field DT char 27
field D decimal 16
field E decimal 16
code
 BEG
 SDT DT, 26
 DTC 3, D, 16, DT, 26
 BRK
 DTC 3, E, 16, DT, 26
 CBF 1, D, E, 10, bad
 END 1
bad: END 2
)");
  Wd(base_, usr_, USR_SIMULATION_MODE) = 1;
  std::memcpy(&Wd(base_, usr_, USR_SIMULATION_TIME), "2026121008305925", 16);
  Run();
  ASSERT_EQ(rvec_[kStateAction], kActionBreak);
  std::memcpy(&Wd(base_, usr_, USR_SIMULATION_TIME), "2027010100000000", 16);
  ++pos_;  // past the BRK
  Run();
  EXPECT_EQ(rvec_[kStateReturnCode], 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(Bytes("DT")) + 1, 16), "2026121008305925");
}

}  // namespace
