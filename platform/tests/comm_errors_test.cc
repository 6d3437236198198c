// The communication error table: filled texts, SQLSTATEs, the walk over the
// whole table, and areas that are too small.
#include "platform/comm_errors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

namespace {

struct Filled {
  std::string text;
  std::string sqlstate;
  int32_t length;
};

Filled fill(int32_t code, std::initializer_list<const char*> texts) {
  CommErrorValue values[4];
  int i = 0;
  for (const char* t : texts) {
    values[i].text = t;
    values[i].length = t ? static_cast<int32_t>(strlen(t)) : 0;
    ++i;
  }
  char area[COMM_ERROR_TEXT_ROOM];
  char state[5] = {'?', '?', '?', '?', '?'};
  int32_t length = -7;
  comm_error_text(area, 0, sizeof area, &length, code, state, values);
  return {std::string(area, std::max(length, 0)), std::string(state, 5), length};
}

TEST(CommErrors, ValuesFillTheMarks) {
  struct Case {
    int32_t code;
    std::initializer_list<const char*> values;
    const char* text;
    const char* sqlstate;
  } cases[] = {
      {-21008,
       {"DB1", "node1", "TCP", "1360"},
       "Error when connecting to database DB1 on node1 using TCP to service 1360",
       "08001"},
      {-21008,
       {"", "node1", "TCP", "1360"},
       "Error when connecting to database on node1 using TCP to service 1360",
       "08001"},
      {-21008,
       {"DB1", "   ", nullptr, "1360"},
       "Error when connecting to database DB1 on using to service 1360",
       "08001"},
      {-21001, {"DB1", "node1", "TCP", ""}, "Already listening on service", "S1000"},
      {-21001, {"x", "y", "z", "1360  "}, "Already listening on service 1360", "S1000"},
      {-21018,
       {"DB1", "ignored", "ignored", "/tmp/db1"},
       "Error when doing local listen for database DB1 on path /tmp/db1",
       "S1000"},
      {-21055,
       {"ignored", "hosta", "ignored", "DB1"},
       "The ZAVOR network service on hosta for DB1 does not currently accept new connections. "
       "Try again later",
       "08001"},
      {-21006, {nullptr, nullptr, "SPX", nullptr}, "Illegal protocol specified: SPX", "08001"},
      {-21026,
       {"100%", nullptr, nullptr, nullptr},
       "Database server for database 100% not running",
       "08004"},
      {-21008,
       {"A%B", "%", "TCP", "1360"},
       "Error when connecting to database A%B on % using TCP to service 1360",
       "08001"},
      {-21499, {"DB1"}, "Unspecified error", "S1000"},
      {-21180, {}, "Error opening SQLHOSTS file", "08001"},
  };
  for (const auto& c : cases) {
    Filled f = fill(c.code, c.values);
    EXPECT_EQ(f.text, c.text) << c.code;
    EXPECT_EQ(f.sqlstate, c.sqlstate) << c.code;
  }
}

TEST(CommErrors, CodesWithoutEntryGiveNoText) {
  for (int32_t code : {-20999, -21000, -21059, -21500, -21999, -22000, 0, 21001}) {
    Filled f = fill(code, {"DB1", "node1", "TCP", "1360"});
    EXPECT_EQ(f.length, 0) << code;
    EXPECT_EQ(f.sqlstate, "?????") << code;
  }
  char area[8];
  int32_t length = 0, flags = -3;
  char state[5];
  comm_error_lookup(area, 0, sizeof area, &length, state, &flags, -21500);
  EXPECT_EQ(length, -1);
  EXPECT_EQ(flags, -3);
}

TEST(CommErrors, ValuesAreCutAt160Characters) {
  std::string big(200, 'x');
  big[159] = 'y';
  Filled f = fill(-21026, {big.c_str()});
  EXPECT_EQ(f.text, "Database server for database " + std::string(159, 'x') + "y not running");
  CommErrorValue negative[4] = {{"DB1", -4}, {}, {}, {}};
  char area[100];
  int32_t length = 0;
  comm_error_text(area, 0, sizeof area, &length, -21026, nullptr, negative);
  EXPECT_EQ(std::string(area, length), "Database server for database not running");
}

TEST(CommErrors, SmallAreasAreNeverOverrun) {
  char area[24];
  memset(area, '#', sizeof area);
  int32_t length = 0, flags = 0;
  char state[5];
  comm_error_lookup(area, 4, 10, &length, state, &flags, -21043);
  EXPECT_EQ(length, 10);
  EXPECT_EQ(flags, 15);
  EXPECT_EQ(std::string(state, 5), "08004");
  EXPECT_EQ(std::string(area, 16), "####Server rej##");

  CommErrorValue values[4] = {{"DB1", 3}, {"n", 1}, {"TCP", 3}, {"1", 1}};
  memset(area, '#', sizeof area);
  comm_error_text(area, 2, 5, &length, -21008, state, values);
  EXPECT_EQ(length, 5);
  EXPECT_EQ(std::string(area, 8), "##Error#");
  comm_error_text(area, -1, 5, &length, -21008, state, values);
  EXPECT_EQ(length, 0);
  comm_error_text(area, 0, 0, &length, -21008, state, values);
  EXPECT_EQ(length, 0);
  comm_error_lookup({}, 0, 10, &length, state, &flags, -21008);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(area[23], '#');

  // A limit past the area's end is cut there.
  memset(area, '#', sizeof area);
  comm_error_text(std::span<char>(area, 8), 3, 100, &length, -21008, state, values);
  EXPECT_EQ(length, 5);
  EXPECT_EQ(std::string(area, 10), "###Error##");
  comm_error_lookup(std::span<char>(area, 8), 8, 100, &length, state, &flags, -21008);
  EXPECT_EQ(length, 0);
  int32_t code = 0, cursor = 0;
  EXPECT_EQ(comm_error_next(&code, std::span<char>(area, 8), 4, &cursor), 0);
  EXPECT_EQ(code, -21001);
  EXPECT_EQ(std::string(area, 10), "###Error##");  // no room for the SQLSTATE
}

// The walk meets every entry once, in descending code order, and each text
// holds exactly as many marks as its flags name values.
TEST(CommErrors, WalkCoversTheWholeTable) {
  int32_t cursor = 0, code = 0, entries = 0, previous = -21000;
  char states[8];
  while (comm_error_next(&code, states, 3, &cursor) == 0) {
    ++entries;
    EXPECT_LT(code, previous);
    previous = code;
    std::string state(states + 3, 5);
    EXPECT_TRUE(state == "S1000" || state == "08001" || state == "08S01" || state == "08004")
        << code << " " << state;
    char area[COMM_ERROR_TEXT_ROOM];
    int32_t length = 0, flags = 0;
    comm_error_lookup(area, 0, sizeof area, &length, nullptr, &flags, code);
    ASSERT_GT(length, 0);
    EXPECT_EQ(std::count(area, area + length, '%'), std::popcount(static_cast<uint32_t>(flags)))
        << code;
  }
  EXPECT_EQ(entries, 124);
  EXPECT_EQ(cursor, 124);
  EXPECT_EQ(previous, -21499);
  EXPECT_EQ(comm_error_next(&code, states, 3, &cursor), 1);
  int32_t bad = -1;
  EXPECT_EQ(comm_error_next(&code, states, 3, &bad), 1);
}

}  // namespace
