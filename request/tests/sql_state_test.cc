// SQLSTATEs of native result codes and the origin names of SQLSTATEs.
#include "request/sql_state.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string State(int32_t rc, int32_t warning = 0, int32_t kind = 0) {
  char out[6] = "?????";
  DSSqlState(rc, warning, kind, out);
  return out;
}

TEST(SqlStateTest, CodesByWarningRangeTableKindAndDefault) {
  struct Case {
    int32_t rc, warning, kind;
    const char* state;
  } cases[] = {
      {0, 0, 0, "00000"},     {0, 1, 0, "01004"},      {0, 2, 0, "01003"},
      {0, 3, 0, "01000"},     {0, 4, 0, "01005"},      {0, 5, 0, "01007"},
      {0, 7, 0, "01002"},     {100, 0, 0, "02000"},    {250, 0, 0, "02000"},
      {-12500, 0, 0, "42000"}, {-12000, 0, 0, "42000"}, {-12999, 0, 0, "42000"},
      {-13000, 0, 0, "S1000"}, {-11002, 0, 0, "S1001"}, {-10101, 0, 0, "23000"},
      {-10202, 0, 0, "22012"}, {-14024, 0, 0, "0W000"}, {-14601, 0, 0, "24000"},
      {-14651, 0, 0, "35000"}, {-14044, 0, 0, "45000"}, {-10311, 0, 0, "22001"},
      {-12511, 0, 0, "42000"}, {90, 0, 0, "28000"},    {91, 0, 0, "00000"},
      {54, 0, 0, "01004"},    {-10316, 0, 0, "01004"},  {-10001, 0, 0, "40001"},
      // Codes the map does not hold: the failure kind, else the default.
      {-1, 0, 7, "S1000"},    {-1, 0, 1, "08001"},     {-1, 0, 2, "01002"},
      {-1, 0, 3, "40003"},    {-1, 0, 6, "40003"},     {-1, 0, 4, "08006"},
      {-1, 0, 5, "08006"},    {7, 0, 0, "00000"},      {7, 0, 1, "08001"},
      // A code the map holds wins over the kind.
      {-10101, 0, 1, "23000"},
      // The communication errors come from the platform's table.
      {-21002, 0, 0, "08001"}, {-21001, 0, 1, "S1000"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(State(c.rc, c.warning, c.kind), c.state) << c.rc << " " << c.warning << " " << c.kind;
  }
}

TEST(SqlStateTest, UnknownWarningLeavesTheOutputAlone) {
  EXPECT_EQ(State(0, 6), "?????");
  EXPECT_EQ(State(0, -1), "?????");
}

TEST(SqlStateTest, OriginOfClassAndSubclass) {
  struct Case {
    const char* state;
    int32_t mode;
    const char* text;  // blank-padded to 10
    int32_t length;
  } cases[] = {
      {"S1001", 2, "ZAVOR     ", 5}, {"S1000", 1, "ZAVOR     ", 5}, {"S1000", 2, "ISO 9075  ", 8},
      {"23000", 1, "ISO 9075  ", 8}, {"23000", 2, "ISO 9075  ", 8}, {"XX123", 1, "ISO 9075  ", 8},
  };
  for (const Case& c : cases) {
    char buffer[13] = "@@@@@@@@@@@!";
    int32_t length = 10;
    DSStdName(buffer, 1, &length, c.state, c.mode);
    EXPECT_EQ(std::string(buffer + 1, 10), c.text) << c.state << " " << c.mode;
    EXPECT_EQ(buffer[0], '@');
    EXPECT_EQ(buffer[11], '!');
    EXPECT_EQ(length, c.length);
  }
}

TEST(SqlStateTest, OriginCutToTheRoomAndOtherModesWriteNothing) {
  char buffer[8] = "@@@@@@@";
  int32_t length = 3;
  DSStdName(buffer, 0, &length, "S1001", 2);
  EXPECT_EQ(std::string(buffer), "ZAV@@@@");
  EXPECT_EQ(length, 5);
  length = 3;
  DSStdName(buffer, 0, &length, "S1001", 3);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(std::string(buffer), "ZAV@@@@");
}

}  // namespace

namespace {

// The SQLSTATEs PostgreSQL 15 gives for the same faults, as
// scripts/sqlstate_pg15.sh prints them: our class must be theirs.
TEST(SqlStateTest, ClassesAgreeWithPostgres15) {
  struct Case {
    const char* fault;
    int32_t native;
    const char* postgres;
  } cases[] = {
      {"negative_substring_length", -10313, "22011"},
      {"division_by_zero", -10202, "22012"},
      {"truncation", -10311, "22001"},
      {"overflow", -10200, "22003"},
      {"duplicate_key", -10101, "23505"},
      {"bad_like_escape", -10314, "22025"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(State(c.native).substr(0, 2), std::string(c.postgres, 2)) << c.fault;
  }
}

}  // namespace
