// The generic table-driven LALR(1) parser: a grammar descriptor in constant
// data; the caller feeds token codes and runs the semantic action of each
// reported reduction; after a syntax error GprParse repairs the rest of the
// input without actions and returns the list of repairs.
#pragma once

#include <cstdint>

#include "sql/front/compile_arena.h"
#include "sql/front/glx_scanner.h"

struct GprGrammar {
  const int32_t* counts;        // terminal count T, hint table size H
  const int32_t* goto_base;     // per nonterminal
  const int16_t* goto_default;  // per nonterminal
  const int32_t* action_base;   // per state
  const int16_t* action;        // per state, then the rules of the lookahead lists
  const int16_t* access;        // per state, then the terminals of the lookahead lists
  const int16_t* target;        // packed transition targets
  const int16_t* lhs;           // per rule
  const int16_t* length;        // per rule
  const int16_t* semantic;      // per rule: action number, 0 = none
  const int16_t* hint;          // per state below H
};

struct GprConfig {
  GprConfig* next;
  int32_t state;
  int32_t hint;
  int32_t top;
  int32_t* stack;  // entries 0 .. top - 1
};

struct GprRepair {
  GprRepair* next;
  CompileArena* arena;
  int32_t line;
  int32_t start;
  int32_t length;
  int32_t kind;  // GprRepairKind
  char* source;
  char* replacement;
  char* expected;
  int32_t* expected_codes;  // count, then the codes
  int32_t source_length;
  int32_t replacement_length;
  int32_t expected_length;
};

enum GprRepairKind : int32_t {
  kGprReplacedBefore = 1,  // the token before the error token was replaced
  kGprInserted = 2,        // a token was inserted before the error token
  kGprReplaced = 3,        // the error token was replaced
  kGprDeleted = 4,         // the error token was deleted
  kGprPanic = 5,           // tokens deleted and hint terminals inserted
};

struct GprParser {
  CompileArena* arena;
  int32_t state;
  bool trial;
  int32_t error_state;
  int32_t rule_length;
  int32_t hint;
  int32_t top;
  int32_t value_base;
  int32_t capacity;
  int32_t* stack;
  int32_t* values;
  GprConfig* checkpoint;  // the latest of a ring of two
  GprConfig* saved;       // stack of configurations saved by GprParse
  GprRepair* repairs;
  const int32_t* goto_base;
  const int16_t* goto_default;
  const int32_t* action_base;
  const int16_t* action;
  const int16_t* access;
  const int16_t* target;
  const int16_t* lhs;
  const int16_t* length;
  const int16_t* semantic;
  const int16_t* hint_table;
  int32_t terminal_count;
  int32_t hint_size;
};

constexpr int32_t kGprSyntaxError = -1;

GprParser* GprCreate(CompileArena* arena, const GprGrammar* grammar);
// 0: shifted, accepted or ignored; n > 0: a rule with action n was reduced and
// the token is to be fed again; -1: syntax error, back after the last shift.
int32_t GprFeed(GprParser* p, int32_t token);
void GprFeedRef(GprParser*& p, int32_t& token, int32_t& result);
GprRepair* GprParse(GprParser* p, GlxScanner* s);
void GprParseRef(GprParser*& p, GlxScanner*& s, GprRepair*& list);
void GprFree(GprParser* p);
void GprFreeRef(GprParser*& p);

int32_t GprTakeValue(GprParser*& p, int32_t k);
void GprSetValue(GprParser*& p, int32_t k, int32_t value);
int32_t GprValueTop(GprParser*& p);
int32_t* GprValues(GprParser*& p);
int32_t GprValueBase(GprParser*& p);

GprRepair* GprResNext(GprRepair* r);
int32_t GprResStart(GprRepair* r);
int32_t GprResLength(GprRepair* r);
const char* GprResSource(GprRepair* r);
const char* GprResReplacement(GprRepair* r);
void GprResNextRef(GprRepair*& r, GprRepair*& next);
void GprResPosRef(GprRepair*& r, int32_t& start, int32_t& length);
// Copy at most 80 bytes, unterminated; the result is the count copied.
int32_t GprResText1Ref(GprRepair*& r, char* out);
int32_t GprResText2Ref(GprRepair*& r, char* out);

// Whether text a (any case) is a near miss of the upper-case terminal name b.
bool GprNearKeyword(const char* a, int32_t m, const char* b, int32_t n);
