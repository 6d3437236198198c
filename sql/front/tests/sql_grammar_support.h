// Test support of the SQL grammar: a statement parsed with the grammar and
// its actions in a fresh context, with fake look-ups (no stored routine of
// any name, collations by a small table), and what the parse left behind.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "sql/front/sql_actions.h"
#include "sql/front/tests/compile_test_support.h"

struct ParsedStatement {
  int32_t kind = -1;
  int32_t root = -1;
  int32_t end = -1;
  int32_t early_result = 0;
  std::string printed;
  std::vector<RecordedCondition> conditions;
  std::vector<int32_t> rules;     // the action trace
  std::string workspace;          // the bytes of the tree's block in use
  std::vector<int32_t> poisoned;  // rules whose new nodes hold poison
};

struct ParseOptions {
  int32_t mode = 0;
  int32_t first_option = 0;
  int32_t second_option = 0;
  bool poison = false;  // fill the entries above the stack before every action
  // The routine look-up's answer for the name `stored_routine` (0: a stored
  // routine, negative: a failed look-up); every other name is no routine.
  const char* stored_routine = nullptr;
  int32_t stored_routine_status = 0;
  // Runs on the finished tree before the context goes away.
  std::function<void(SqlCompileCtx*, int32_t root)> inspect;
};

ParsedStatement ParseSql(const std::string& text, const ParseOptions& options = {});

// The image of the block a statement is parsed into, as a stored tree
// keeps it: its root word the statement or, with `condition`, the WHERE
// condition of its SELECT block; what the root prints as in *printed.
std::string ParsedTreeImage(const std::string& text, bool condition, std::string* printed);

// Random conditions over the nullable columns a, b and c (NOT, AND, OR,
// BETWEEN, IN, IS NULL, arithmetic, CASE, NULLIF, COALESCE), nested to the
// depth given.
class SqlConditionGenerator {
 public:
  explicit SqlConditionGenerator(uint32_t seed) : rng_(seed) {}

  std::string Condition(int depth) {
    int pick = depth <= 0 ? Pick(5) : Pick(9);
    switch (pick) {
      case 0:
        return Value(depth - 1) + " " + Comparison() + " " + Value(depth - 1);
      case 1:
        return Value(depth - 1) + " IS " + (Pick(2) ? "NOT " : "") + "NULL";
      case 2:
        return Value(depth - 1) + (Pick(2) ? " NOT" : "") + " BETWEEN " + Value(depth - 1) +
               " AND " + Value(depth - 1);
      case 3: {
        std::string list = Value(depth - 1);
        for (int n = Pick(3); n >= 0; --n) list += ", " + Value(depth - 1);
        return Value(depth - 1) + (Pick(2) ? " NOT" : "") + " IN (" + list + ")";
      }
      case 4:
        return Column() + " = " + Small();
      case 5:
        return "NOT " + Condition(depth - 1);
      case 6:
        return Condition(depth - 1) + " AND " + Condition(depth - 1);
      case 7:
        return Condition(depth - 1) + " OR " + Condition(depth - 1);
      default:
        return "(" + Condition(depth - 1) + ")";
    }
  }

  std::string Value(int depth) {
    int pick = depth <= 0 ? Pick(3) : Pick(11);
    switch (pick) {
      case 0:
        return Column();
      case 1:
        return Small();
      case 2:
        return "- " + Small();
      case 3:
        return Value(depth - 1) + (Pick(2) ? " + " : " - ") + Value(depth - 1);
      case 4:
        return Value(depth - 1) + " * " + Value(depth - 1);
      case 5:
        return "- " + Value(depth - 1);
      case 6:
        return "CASE WHEN " + Condition(depth - 1) + " THEN " +
               (Pick(4) == 0 ? std::string("NULL") : Value(depth - 1)) +
               (Pick(2) ? " ELSE " + Value(depth - 1) : std::string()) + " END";
      case 7:
        return "CASE " + Value(depth - 1) + " WHEN " + Value(depth - 1) + " THEN " +
               Value(depth - 1) + " ELSE " + Value(depth - 1) + " END";
      case 8:
        return "NULLIF(" + Value(depth - 1) + ", " + Value(depth - 1) + ")";
      case 9:
        return "COALESCE(" + Value(depth - 1) + ", " + Value(depth - 1) +
               (Pick(2) ? ", " + Value(depth - 1) : std::string()) + ")";
      default:
        return "(" + Value(depth - 1) + ")";
    }
  }

 private:
  int Pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }
  std::string Column() { return std::string(1, static_cast<char>('a' + Pick(3))); }
  // No NULL literal as an operand: the tree of "x = NULL" is that of
  // "x IS NULL" (a comparison with the null node), so NULL stands only as a
  // CASE result.
  std::string Small() { return std::to_string(Pick(4)); }
  std::string Comparison() {
    static const char* const kOps[] = {"=", "<>", "<", ">", "<=", ">="};
    return kOps[Pick(6)];
  }
  std::mt19937 rng_;
};
