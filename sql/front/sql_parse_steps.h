// The steps the SQL parser driver and its error recovery share: reading a
// token, shifting and reducing on the real stacks, and the same moves
// simulated on a copy of the state stack.
#pragma once

#include <cstdint>

#include "sql/front/sql_parser.h"

// One parse: the context, its tables and actions, the area, the current state.
struct SqlParseRun {
  SqlCompileCtx* ctx;
  const SqlGrammarTables* g;
  SqlGrammarAction action;
  const bool* skip;  // rules whose action is none (not called), or null
  SqlParseArea* a;
  int32_t current;
};

// Thrown when the stack would pass 255 states; SqlParse catches it.
struct SqlParseAbort {};

// The terminal of a token record's code.
int32_t SqlTerminalOf(const SqlParseRun& r, const SqlTokenRecord& t);
// The next token into the lookahead: from the queue while it holds unread
// tokens, else from the lexer; unknown tokens are reported and skipped.
void SqlReadToken(SqlParseRun& r);
// Pushes the lookahead with the state (no read).
void SqlShift(SqlParseRun& r, int32_t state);
// Reduces by the rule and its chain of unit reductions, running the actions.
void SqlReduce(SqlParseRun& r, int32_t rule);
// Feeds the lookahead until it is shifted; false when it meets an error or
// the accept action instead.
bool SqlFeedLookahead(SqlParseRun& r);

// A state stack copy for simulations.
struct SqlSimStack {
  int32_t depth;
  int32_t state[kSqlParseDepth];
};

enum SqlSimResult : int32_t {
  kSqlSimError = 0,
  kSqlSimShifted = 1,
  kSqlSimAccepted = 2,
  kSqlSimReduced = 3,  // the terminal is still to be fed
};

void SqlSimCopy(const SqlParseRun& r, SqlSimStack* s);
// Takes the one action of the terminal in the copy's top state: a shift (with
// the reduction of a shift-and-reduce), or a reduction with its chain.
int32_t SqlSimStep(SqlParseRun& r, SqlSimStack* s, int32_t terminal);
// Feeds one terminal on the copy, with its reductions.
int32_t SqlSimFeed(SqlParseRun& r, SqlSimStack* s, int32_t terminal);

// Appends a token's name to a name list (three names, then "... ").
void SqlAppendName(char* text, int32_t* length, int32_t* count, const char* name);

// Error recovery for the lookahead that has no action in the current state.
void SqlRecover(SqlParseRun& r);
