// SQL type codes: storage lengths, the numbering maps, literal scanning, the
// estimate value of literals and the clamped division.
#include "sql/front/sql_types.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "platform/packed_decimal.h"
#include "sql/front/compile_diag.h"
#include "sql/front/compile_services.h"
#include "sql/front/tests/compile_test_support.h"

namespace {

TEST(SqlTypes, StorageLengths) {
  struct Case {
    int32_t code, n, second, bytes;
  };
  const Case cases[] = {
      {4, 10, 0, 11},    {34, 10, 0, 31}, {3, 15, 0, 9}, {1, 10, 0, 7},  {8, 0, 0, 1},
      {30, 5, 0, 6},     {35, 2, 0, 7},   {10, 8, 0, 6}, {31, 9, 0, 14},  // 1 digit: 2 + 12
      {32, 1000, 0, 16}, {31, 0, 1, 23},  // a high word counts as 19 digits
  };
  for (const Case& c : cases) {
    EXPECT_EQ(qctyplen(c.code, c.n, c.second), c.bytes) << c.code << " " << c.n;
  }
  EXPECT_EQ(qcnchlen(INT32_MAX), INT32_MAX);  // clamped, not wrapped
}

TEST(SqlTypes, DigitsAndMaps) {
  EXPECT_EQ(qcdigits(9), 1);
  EXPECT_EQ(qcdigits(10), 2);
  EXPECT_EQ(qcdigits(-123), 1);
  EXPECT_EQ(qcdigits(INT32_MAX), 10);
  EXPECT_EQ(qcdecdig(1234), 4);
  EXPECT_EQ(qctyptab(40), 0);
  EXPECT_EQ(qctyptab(-1), 0);
  EXPECT_EQ(qctyptab(1), 4);
  EXPECT_EQ(qctyptab(15), 13);
  EXPECT_EQ(qctyptab(28), 1);
  EXPECT_EQ(qctypmap16(10), 1);
  EXPECT_EQ(qctypmap16(25), 16);
  EXPECT_EQ(qctypmap16(26), 0);
  EXPECT_EQ(HostKindTypeCode(37), 31);
  EXPECT_EQ(HostKindTypeCode(5), 0);
  EXPECT_STREQ(SqlTypeText(35), "NCHAR VARYING(%d)");
  EXPECT_STREQ(SqlTypeText(99), "");
}

TEST(SqlTypes, ClientCodes) {
  const int32_t int_type[4] = {1, 10, 0, 0};
  EXPECT_EQ(ClientTypeCode(int_type, 0, 0), 3);
  EXPECT_EQ(ClientTypeCode(int_type, 0, 1), 28);
  EXPECT_EQ(ClientTypeCode(int_type, 1, 0), -3);
  const int32_t variant[4] = {2, 0, 0, 208};
  EXPECT_EQ(ClientTypeCode(variant, 1, 1), -33);
  const int32_t nchar[4] = {34, 5, 0, 0};
  EXPECT_EQ(ClientTypeCode(nchar, 0, 0), 39);
  const int32_t bad[4] = {99, 0, 0, 0};
  EXPECT_EQ(ClientTypeCode(bad, 1, 0), 0);
}

TEST(SqlTypes, LiteralScan) {
  struct Case {
    const char* text;
    int32_t status, digits, scale;
  };
  const Case cases[] = {
      {"123", 0, 3, 0},      {"12.50", 0, 4, 2}, {".5", 0, 1, 1}, {"7.", 0, 1, 0},
      {"-1.5E+3", 0, 2, -1}, {" 42 ", 0, 2, 0},  {"1E", 1, 0, 0}, {"abc", 1, 0, 0},
      {"1.2.3", 1, 0, 0},    {".", 1, 0, 0},     {"+", 1, 0, 0},
  };
  for (const Case& c : cases) {
    int32_t status = 9, digits = 9, scale = 9;
    qclitscan(&status, &digits, &scale, c.text, static_cast<int32_t>(std::strlen(c.text)));
    EXPECT_EQ(status, c.status) << c.text;
    EXPECT_EQ(digits, c.digits) << c.text;
    EXPECT_EQ(scale, c.scale) << c.text;
  }
  int32_t status = 0, digits = 5, scale = 5;
  qclitscan(&status, &digits, &scale, "1", 0);
  EXPECT_EQ(status, -8);
  qclitscan(&status, &digits, &scale, "1", -3);
  EXPECT_EQ(status, -8);
  EXPECT_EQ(digits, 0);
}

TEST(SqlTypes, ClampedDivision) {
  EXPECT_DOUBLE_EQ(qcfdiv(1e30, 1e-10), 1.7e37);
  EXPECT_DOUBLE_EQ(qcfdiv(-5, 0), -1.7e37);
  EXPECT_DOUBLE_EQ(qcfdiv(0.5, 1e-300), 5e299);
  EXPECT_DOUBLE_EQ(qcfdiv(6, -3), -2);
  EXPECT_DOUBLE_EQ(qcfdiv(-6, -3), 2);
}

TEST(SqlTypes, EstimateValues) {
  FakeKernel k;
  TestContext t;
  const uint8_t ab[2] = {'A', 'B'};
  double expected = 65 * std::pow(256.0, 7) + 66 * std::pow(256.0, 6);
  for (int i = 0; i < 6; ++i) expected += 32 * std::pow(256.0, i);
  EXPECT_DOUBLE_EQ(qcnstd(&t.ctx, ab, 2, 4), expected);
  uint8_t packed[kDecimalMaxBytes] = {};
  int32_t status = 1;
  qcnumcv2(packed, &status, 10, 0, -1234);
  EXPECT_EQ(status, 0);
  EXPECT_DOUBLE_EQ(qcnstd(&t.ctx, packed, decimal_bytes(10), 1), -1234);
  // A numeric value whose length names no precision is a defect of the caller.
  EXPECT_THROW(qcnstd(&t.ctx, packed, 1, 3), CompileJump);
  EXPECT_EQ(FakeKernel::conditions.back().code, -19231);
  EXPECT_EQ(FakeKernel::conditions.back().text, "N\tQCO: qcnstd");
  // Lengths whose digit count passes the 32-bit range name no precision
  // either.
  for (int32_t length : {INT32_MAX / 2 + 10, INT32_MAX}) {
    EXPECT_THROW(qcnstd(&t.ctx, packed, length, 3), CompileJump) << length;
    EXPECT_EQ(FakeKernel::conditions.back().code, -19231) << length;
  }
}

TEST(SqlTypes, IntegerTextAndCompare) {
  FakeKernel k;
  TestContext t;
  char buffer[12];
  qqcois(&t.ctx, buffer, -42);
  EXPECT_STREQ(buffer, "        -42");
  EXPECT_THROW(qqcois(&t.ctx, buffer, INT32_MIN), CompileJump);
  EXPECT_EQ(FakeKernel::conditions.back().code, -19205);
  int32_t status = 5, value = 5;
  qctxtint(&status, &value, "12.9", 4);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(value, 12);
  qctxtint(&status, &value, "x", 1);
  EXPECT_EQ(status, -1);
  EXPECT_EQ(value, -1);
  qctxtint(&status, &value, "1", -1);
  EXPECT_EQ(status, -1);
  EXPECT_EQ(qcstrcmp("ab", "ab"), 0);
  EXPECT_LT(qcstrcmp("ab", "ac"), 0);
  EXPECT_GT(qcstrcmp("abc", "ab"), 0);
}

}  // namespace

namespace {

int32_t g_conversion = 0;
int32_t g_class = 0;
char g_now[17] = {};
void Converter(uint8_t*, const uint8_t*, int32_t* status, int32_t conversion, int32_t value_class,
               void (*now)(char text[16])) {
  g_conversion = conversion;
  g_class = value_class;
  now(g_now);
  *status = 0;
}
bool SimulatedUser(int32_t* increment, char stored[16]) {
  *increment = 150;  // 1.5 seconds
  std::memcpy(stored, "2024022923595900", 16);
  return true;
}

TEST(SqlTypes, DatetimeConversionsGoThroughTheConverterWithTheSessionsTime) {
  struct Case {
    int32_t type;
    bool reverse;
    int32_t code, value_class;
  };
  const Case cases[] = {{10, false, 33, 1}, {12, true, -35, 3}, {13, false, 36, 4},
                        {19, false, 42, 4}, {25, true, -48, 5}, {4, false, 0, 0}};
  SqlKernelServices k;
  k.call_guarded = Converter;
  k.user_time = SimulatedUser;
  SqlKernelServices old = SqlInstallKernelServices(&k);
  for (const Case& c : cases) {
    uint8_t out[24];
    const uint8_t value[24] = {};
    int32_t status = 9;
    qcnumcvt(out, value, &status, c.type, c.reverse);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(g_conversion, c.code) << c.type;
    EXPECT_EQ(g_class, c.value_class) << c.type;
  }
  EXPECT_EQ(std::string(g_now, 16), "2024030100000050");
  SqlInstallKernelServices(&old);
  int32_t status = 0;
  qcnumcvt(nullptr, nullptr, &status, 10, false);  // no converter installed
  EXPECT_EQ(status, kSqlServiceMissing);
}

}  // namespace
