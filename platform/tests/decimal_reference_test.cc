// Packed decimals against an outside reference: every case of
// data/decimal_cases.txt (text reading with cutting and rounding, the four
// operations, rounding by mode, comparison), whose expected results were
// computed with Python's decimal module by data/decimal_cases_gen.py.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/decimal_arith.h"
#include "platform/decimal_text.h"
#include "platform/packed_decimal.h"
#include "platform/tests/decimal_test_util.h"

namespace {

using decimal_test::Dec;
using decimal_test::hex;
using decimal_test::parse;

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, '|')) fields.push_back(field);
  if (!line.empty() && line.back() == '|') fields.emplace_back();
  return fields;
}

std::string stored(const Dec& d) {
  return d.bytes[0] == 255 ? "null" : hex(d);
}

// Runs one case; returns "" when it holds, else what was found.
std::string check(const std::vector<std::string>& f) {
  const std::string& kind = f.at(0);
  std::ostringstream got;
  if (kind == "T" || kind == "R") {
    Dec d = parse(f.at(3), std::stoi(f.at(1)), std::stoi(f.at(2)), kind == "R");
    if (std::to_string(d.rc) == f.at(4) && stored(d) == f.at(5)) return "";
    got << d.rc << " " << stored(d);
  } else if (kind == "A") {
    Dec a = parse(f.at(4), std::stoi(f.at(3)));
    Dec b = parse(f.at(6), std::stoi(f.at(5)));
    if (a.rc != 0 || b.rc != 0) return "operand text not read";
    const int32_t rc =
        decimal_arith(a.bytes, a.desc, b.bytes, b.desc, std::stoi(f.at(1)), std::stoi(f.at(2)));
    if (std::to_string(rc) == f.at(7) && stored(a) == f.at(8)) return "";
    got << rc << " " << stored(a);
  } else if (kind == "U") {
    Dec a = parse(f.at(5), std::stoi(f.at(3)));
    if (a.rc != 0) return "operand text not read";
    a.desc.scale = std::stoi(f.at(4));
    const int32_t rc = decimal_truncate(a.bytes, a.desc, std::stoi(f.at(1)), std::stoi(f.at(2)));
    if (std::to_string(rc) == f.at(6) && stored(a) == f.at(7)) return "";
    got << rc << " " << stored(a);
  } else if (kind == "C") {
    Dec a = parse(f.at(2), std::stoi(f.at(1)));
    Dec b = parse(f.at(4), std::stoi(f.at(3)));
    const int32_t truth = decimal_compare(a.bytes, a.desc, b.bytes, b.desc);
    if (std::to_string(truth) == f.at(5)) return "";
    got << truth;
  } else {
    return "unknown case kind";
  }
  return got.str();
}

TEST(DecimalReference, EveryCaseOfThePythonTable) {
  std::ifstream in(std::string(HARBOUND_TEST_DATA) + "/decimal_cases.txt");
  ASSERT_TRUE(in.is_open()) << "missing " << HARBOUND_TEST_DATA << "/decimal_cases.txt";
  std::string line;
  int cases = 0, failures = 0;
  for (int number = 1; std::getline(in, line); ++number) {
    if (line.empty()) continue;
    ++cases;
    const std::string found = check(split(line));
    if (!found.empty() && ++failures <= 25)
      ADD_FAILURE() << "line " << number << ": " << line << "\n  got " << found;
  }
  EXPECT_EQ(failures, 0);
  EXPECT_GE(cases, 5000);
}

}  // namespace
