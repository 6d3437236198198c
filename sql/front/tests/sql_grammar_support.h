// Test support of the SQL grammar: a statement parsed with the grammar and
// its actions in a fresh context, with fake look-ups (no stored routine of
// any name, collations by a small table), and what the parse left behind.
#pragma once

#include <cstdint>
#include <functional>
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
