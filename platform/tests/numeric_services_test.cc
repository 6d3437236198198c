// Digit counts, the five-word stack, five-character codes, sequence steps,
// type sizes and identifier unquoting.
#include "platform/numeric_services.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

TEST(NumericServices, DigitCounts) {
  const std::pair<int32_t, int32_t> digits[] = {
      {0, 1},         {9, 1},           {10, 2},       {99, 2}, {100, 3},
      {999999999, 9}, {1000000000, 10}, {INT_MAX, 10}, {-1, 0}, {INT_MIN, 0}};
  for (auto [x, d] : digits) {
    EXPECT_EQ(digits_of_int(x), d) << x;
    EXPECT_EQ(decimal_bytes_of_int(x), (d + 4) / 2) << x;
  }
  EXPECT_EQ(decimal_bytes_of_int(99), 3);
  EXPECT_EQ(digits_of_int64(1, 0), 19);
  EXPECT_EQ(digits_of_int64(0, -5), 10);
  EXPECT_EQ(digits_of_int64(0, 12345), 5);
  EXPECT_EQ(decimal_bytes_of_int64(1, 0), 11);
  EXPECT_EQ(is_below_min(-1073741824), 0);
  EXPECT_EQ(is_below_min(-1073741825), 1);
}

TEST(NumericServices, StackOfFiveWordItems) {
  std::vector<int32_t> words(1 + stack5_size(2), 77);
  WordSpan area(words);
  int32_t st = 99, a = 0, b = 0;
  stack5_clear(&st, area, 1);
  EXPECT_EQ(st, 0);
  stack5_find(&st, area, 1, 4, &a, &b);
  EXPECT_EQ(st, -1);
  int32_t out = 0;
  stack5_top_first(&st, area, 1, &out);
  EXPECT_EQ(st, -1);

  const int32_t first[5] = {4, 40, 400, 4000, 40000};
  const int32_t second[5] = {5, 50, 500, 5000, 50000};
  stack5_push(&st, area, 1, first);
  stack5_push(&st, area, 1, second);
  EXPECT_EQ(st, 0);
  stack5_push(&st, area, 1, first);  // a third item does not fit the area
  EXPECT_EQ(st, -3);
  EXPECT_EQ(words[1], 2);

  stack5_find(&st, area, 1, 4, &a, &b);
  EXPECT_EQ(st, 0);
  EXPECT_EQ(a, 400);
  EXPECT_EQ(b, 40000);
  stack5_find(&st, area, 1, 6, &a, &b);
  EXPECT_EQ(st, -2);
  stack5_set_second(&st, area, 1, -50);
  stack5_top_second(&st, area, 1, &out);
  EXPECT_EQ(out, -50);
  stack5_top_fourth(&st, area, 1, &out);
  EXPECT_EQ(out, 5000);
  int32_t item[5];
  stack5_pop(&st, area, 1, item);
  EXPECT_EQ(item[0], 5);
  stack5_top_first(&st, area, 1, &out);
  EXPECT_EQ(out, 4);
  stack5_pop(&st, area, 1, item);
  stack5_pop(&st, area, 1, item);
  EXPECT_EQ(st, -1);
  EXPECT_EQ(words[0], 77);  // nothing outside the stack was touched

  words[1] = 1000;  // a count that reaches past the area
  stack5_pop(&st, area, 1, item);
  EXPECT_EQ(st, -3);
  stack5_clear(&st, area, static_cast<int32_t>(words.size()));
  EXPECT_EQ(st, -3);
}

TEST(NumericServices, FiveCharacterCodes) {
  const uint8_t text[] = {'A', '0', 'z', '9', 'B'};
  int32_t st = 9, word = 0;
  code5_pack(&st, &word, text, 0);
  ASSERT_EQ(st, 0);
  EXPECT_EQ(static_cast<uint32_t>(word),
            (2u << 30) | (11u << 24) | (9u << 18) | (35u << 12) | (0u << 6) | 10u);
  uint8_t back[7] = {'.', '.', '.', '.', '.', '.', '.'};
  code5_unpack(&st, back, 1, word);
  EXPECT_EQ(st, 0);
  EXPECT_EQ(std::string(back, back + 7), ".A0Z9B.");

  const uint8_t bad[] = {'A', '0', '-', '9', 'B'};
  code5_pack(&st, &word, bad, 0);
  EXPECT_EQ(st, -1);
  code5_pack(&st, &word, text, 1);  // only four characters in the area
  EXPECT_EQ(st, -1);
  code5_unpack(&st, back, 0, static_cast<int32_t>(1u << 30));  // marker 1
  EXPECT_EQ(st, -1);
  code5_unpack(&st, back, 0, static_cast<int32_t>((2u << 30) | 36u));  // field above 35
  EXPECT_EQ(st, -1);
  code5_unpack(&st, back, 3, word);  // no room for five characters
  EXPECT_EQ(st, -1);
  EXPECT_EQ(std::string(back, back + 7), ".A0Z9B.");
}

TEST(NumericServices, SequenceSteps) {
  struct Case {
    int32_t value, unique, state, start, increment, limit, cycles, steps;
    int32_t want_value, want_state, want_cycles;
  };
  const Case cases[] = {
      {0, 0, -1, 1, 1, 10, 0, 1, 1, 0, 0},  // first step gives the start
      {0, 0, -1, 1, 1, 10, 0, 3, 3, 0, 0},  // then two more
      {5, 0, 0, 1, 1, 10, 0, 3, 8, 0, 0},   // room for all steps
      {9, 0, 0, 1, 1, 10, 0, 3, 2, 0, 1},   // 10, wrap to 1, 2
      {9, 1, 0, 1, 1, 10, 0, 3, 10, 1, 1},  // unique: exhausted at the wrap
      {2, 0, 0, 10, -3, 1, 0, 1, 9, 0, 1},  // descending wrap keeps the remainder
      {9, 1, 0, 0, 3, 9, 0, 1, 2, 0, 1},    // range 10, step 3: goes on
      {9, 1, 0, 0, 2, 9, 0, 1, 9, 1, 1},    // range 10, step 2: exhausted
      {4, 0, 1, 0, 1, 9, 0, 5, 4, 1, 0},    // exhausted does not move
      {INT_MAX - 1, 0, 0, 0, 1000, INT_MAX, 0, 1, 999 - 1, 0, 1},  // no overflow
      {3, 0, 0, 3, 0, 9, 0, 2, 3, 0, 0},                           // increment 0 stays
      {3, 1, 0, 3, 0, 9, 0, 1, 3, 1, 0},   // unique: it has no value but its first
      {0, 1, -1, 3, 0, 9, 0, 2, 3, 1, 0},  // the same from the start
  };
  for (const Case& c : cases) {
    int32_t value = c.value, state = c.state, cycles = c.cycles;
    sequence_next_value(&value, c.unique, &state, c.start, c.increment, c.limit, &cycles, c.steps);
    EXPECT_EQ(value, c.want_value) << c.value << " +" << c.increment << " x" << c.steps;
    EXPECT_EQ(state, c.want_state) << c.value;
    EXPECT_EQ(cycles, c.want_cycles) << c.value;
  }
}

TEST(NumericServices, NumericTypeSizes) {
  struct Case {
    char letter;
    int32_t n, status, figure;
  };
  const Case cases[] = {{'I', 1, 0, 3},  {'I', 4, 0, 10}, {'I', 5, -8, 0}, {'I', 0, -8, 0},
                        {'F', 2, 0, 3},  {'F', 8, 0, 17}, {'F', 4, 0, 8},  {'F', 1, -8, 0},
                        {'F', 9, -8, 0}, {'X', 2, -9, 0}};
  for (const Case& c : cases) {
    int32_t st = 1, figure = 0;
    mdr_numeric_type_size(&st, &figure, c.letter, c.n);
    EXPECT_EQ(st, c.status) << c.letter << c.n;
    if (st == 0) {
      EXPECT_EQ(figure, c.figure) << c.letter << c.n;
    }
  }
}

TEST(NumericServices, UnquoteNames) {
  struct Case {
    std::string in;
    int32_t delimiter, keep_case;
    std::string out;
  };
  const Case cases[] = {
      {"\"AB\"\"C\"", kUnquoteDoubleQuote, 0, "AB\"C"},
      {"\"a b\"", kUnquoteDoubleQuote, 0, "a b"},
      {"name\xe9", kUnquoteDoubleQuote, 0, "NAME\xc9"},
      {"name", kUnquoteDoubleQuote, 1, "name"},
      {"'it''s'", kUnquoteApostrophe, 0, "it's"},
      {"\"open", kUnquoteDoubleQuote, 0, "ope"},  // no closing quote
      {"", kUnquoteDoubleQuote, 0, ""},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> target(c.in.size() + 2, '#');
    int32_t n = -1;
    mdr_unquote_name(ConstByteSpan(reinterpret_cast<const uint8_t*>(c.in.data()), c.in.size()), 0,
                     static_cast<int32_t>(c.in.size()), target, 1, &n, c.delimiter, c.keep_case);
    EXPECT_EQ(std::string(target.begin() + 1, target.begin() + 1 + n), c.out) << c.in;
    EXPECT_EQ(target[0], '#');
  }
  // A target area too small for the name takes what fits.
  const uint8_t name[] = {'a', 'b', 'c', 'd'};
  uint8_t small[3] = {};
  int32_t n = -1;
  mdr_unquote_name(name, 0, 4, small, 1, &n, kUnquoteDoubleQuote, 0);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(small[1], 'A');
  EXPECT_EQ(small[2], 'B');
}

}  // namespace
