// The SQL parser's token table: for every token code 0 .. 296 the costs of
// inserting and deleting it during error repair, the name messages show, and
// the text an inserted token carries. Built from the lexer's token names.
#pragma once

#include <cstdint>

struct SqlTokenInfo {
  int32_t code;
  int32_t insertion_cost;  // 5 for the reserved words, else 1
  int32_t deletion_cost;   // 1
  const char* display;     // "IDENTIFIER", "'SELECT'", "')'"
  const char* insertion;   // "'ID'", "'SELECT'": the text between the quotes is used
};

// The entry of a code; codes outside 0 .. 296 give the entry of 0.
const SqlTokenInfo& SqlTokenEntry(int32_t code);
