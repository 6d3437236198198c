// Layout of the SQL parser's generated grammar tables: action values encode a
// kind and a target as kind * 4096 + target, an action entry counts only when
// its terminal's bit is set in the state's row class, gotos chain unit
// reductions, and per-state continuation terminals drive the error repair.
#pragma once

#include <cstdint>

constexpr int32_t kSqlActionDivisor = 4096;
constexpr int32_t kSqlRowWords = 11;  // 176 bits per row class
constexpr int32_t kSqlStartState = 1;

enum SqlActionKind : int32_t {
  kSqlError = 0,
  kSqlShift = 1,        // shift and go to state target
  kSqlShiftReduce = 2,  // shift, then reduce by rule target
  kSqlReduce = 3,       // reduce by rule target
  kSqlAccept = 4,
};

struct SqlGrammarTables {
  int32_t state_count;  // states 1 .. state_count - 1; 0 is never entered
  int32_t rule_count;   // rule numbers 0 .. rule_count - 1
  int32_t terminal_count;
  int32_t nonterminal_count;  // left-hand-side columns
  int32_t row_class_count;
  const int32_t* action;         // indexed by action_base[state] + terminal
  const int32_t* action_base;    // per state
  const int16_t* term_bit;       // per terminal: its bit in the row bitmaps
  const int16_t* row_class;      // per state
  const uint16_t* row_bits;      // kSqlRowWords words per row class
  const int32_t* goto_table;     // indexed by goto_base[state] + lhs column
  const int32_t* goto_base;      // per state
  const int16_t* lhs_column;     // per rule
  const int16_t* rule_length;    // per rule
  const int16_t* continuation;   // per state
  const int16_t* alternative;    // per state
  const uint16_t* never_search;  // terminal bit set: never starts a continuation search
  const uint16_t* sync;          // terminal bit set: synchronising token
};

// Action values are never negative: the kind and target come out of the
// unsigned division, a shift and a mask.
inline int32_t SqlActionKindOf(int32_t value) {
  return static_cast<int32_t>(static_cast<uint32_t>(value) / kSqlActionDivisor);
}
inline int32_t SqlActionTargetOf(int32_t value) {
  return static_cast<int32_t>(static_cast<uint32_t>(value) % kSqlActionDivisor);
}

// The action value of a state for a terminal: two table reads and a bit test.
inline int32_t SqlLookupAction(const SqlGrammarTables& g, int32_t state, int32_t terminal) {
  int32_t bit = g.term_bit[terminal];
  const uint16_t* row = g.row_bits + g.row_class[state] * kSqlRowWords;
  if (((row[bit / 16] >> (bit % 16)) & 1) == 0) return 0;
  return g.action[g.action_base[state] + terminal];
}

inline int32_t SqlLookupGoto(const SqlGrammarTables& g, int32_t state, int32_t rule) {
  return g.goto_table[g.goto_base[state] + g.lhs_column[rule]];
}

inline bool SqlTerminalIn(const uint16_t* set, int32_t terminal) {
  return ((set[terminal / 16] >> (terminal % 16)) & 1) != 0;
}
