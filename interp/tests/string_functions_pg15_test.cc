// The string functions where SQLite differs or has none, against the
// results PostgreSQL 15 gave for random cases (data/string_functions_pg15.txt,
// written by scripts/string_functions_pg15.sh): SUBSTRING from starts below
// 1, RIGHT, REPEAT, and UPPER and LOWER of letters beyond ASCII. Each case
// runs in the wide form, and in the byte form too when its characters are
// all single bytes (case mapping excepted: the byte tables are ISO 8859-1's).
#include <algorithm>
#include <fstream>
#include <sstream>

#include "interp/tests/string_functions_fixture.h"

using namespace interp;

namespace {

std::string FromHex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

struct Pg15Case {
  std::string function;
  std::u32string s;
  int32_t x = 0, y = 0;
  std::optional<std::u32string> result;
};

std::vector<Pg15Case> ReadCases() {
  std::vector<Pg15Case> cases;
  std::ifstream in(HARBOUND_TEST_DATA "/string_functions_pg15.txt");
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::stringstream fields(line);
    for (std::string v; std::getline(fields, v, '\t');) f.push_back(v);
    if (f.size() == 4) f.emplace_back();  // an empty result ends the line
    if (f.size() != 5) continue;
    Pg15Case c{f[0], FromUtf8(FromHex(f[1])), std::stoi(f[2]), std::stoi(f[3]), std::nullopt};
    if (f[4] != "NULL") c.result = FromUtf8(FromHex(f[4]));
    cases.push_back(c);
  }
  return cases;
}

// The instructions of a case, wide form first, and whether the byte form runs.
std::string Body(const Pg15Case& c, bool bytes) {
  const std::string to_end = c.y == -1 ? "-1, 0" : "B, 10";
  if (c.function == "SUBSTRING")
    return "USU WR, 300, WRL, WS, 100, WSL, A, 10, " + to_end +
           (bytes ? "\n SUS R, 300, R.len, S, 100, S.len, A, 10, " + to_end : "");
  if (c.function == "RIGHT")
    return "TAU WR, 300, WRL, WS, 100, WSL, A, 10" +
           std::string(bytes ? "\n TAL R, 300, R.len, S, 100, S.len, A, 10" : "");
  if (c.function == "REPEAT")
    return "REU WR, 300, WRL, WS, 100, WSL, A, 10" +
           std::string(bytes ? "\n REP R, 300, R.len, S, 100, S.len, A, 10" : "");
  return std::string("TLU ") + (c.function == "UPPER" ? "4" : "5") + ", WS, 100, WSL";
}

class Pg15Strings : public StringFunctions {};

TEST_F(Pg15Strings, AgreeWithPostgreSql) {
  const std::vector<Pg15Case> cases = ReadCases();
  ASSERT_GE(cases.size(), 200u) << "string_functions_pg15.txt missing or short";
  int byte_cases = 0;
  for (const Pg15Case& c : cases) {
    SCOPED_TRACE(c.function + " " + Utf8(c.s) + " " + std::to_string(c.x) + " " +
                 std::to_string(c.y));
    const bool in_place = c.function == "UPPER" || c.function == "LOWER";
    const bool bytes =
        !in_place && std::all_of(c.s.begin(), c.s.end(), [](char32_t ch) { return ch < 256; });
    LoadBody(Body(c, bytes));
    PutWide("WS", "WSL", 100, c.s);
    std::string narrow;
    for (const char32_t ch : c.s) narrow.push_back(static_cast<char>(ch));
    PutBytes("S", 100, narrow);
    PutNumber("A", c.x);
    PutNumber("B", c.y);
    Run();
    ASSERT_EQ(Code(), 1);
    EXPECT_EQ(in_place ? GetWide("WS", "WSL", 100) : GetWide("WR", "WRL", 300), c.result);
    if (!bytes) continue;
    ++byte_cases;
    const std::optional<std::string> r = GetBytes("R", 300);
    ASSERT_TRUE(r.has_value());
    std::u32string wide;
    for (const char ch : *r) wide.push_back(static_cast<uint8_t>(ch));
    EXPECT_EQ(wide, c.result);
  }
  EXPECT_GT(byte_cases, 10);
}

}  // namespace
